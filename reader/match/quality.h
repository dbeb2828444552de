// The quality query: the record quality that extraction stored, read without matching.
#pragma once

#include <cstdint>

namespace vantrel::match {

inline constexpr int kQualityUnsealFailed = -2;

// One sealed 256-byte record in (never changed); its quality byte 0..255 out, or -2
// when the record does not unseal (a null record included). Nothing else is checked.
int FeatureQuality(const uint8_t* sealed);

}  // namespace vantrel::match
