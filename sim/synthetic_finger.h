// Synthetic fingers for the stand-in reader: a master fingerprint per finger id and any
// number of impressions of it, as 152 x 200 images in reader form (an empty sensor
// bright, ridges dark, about 364 dpi, so a ridge period of about 6 pixels).
//
// A master holds the finger's shape and a ridge pattern grown by iterated oriented
// (Gabor) filtering of seeded noise along an orientation field made from the singular
// points of its pattern class, at a ridge period that varies over the finger. An
// impression places the master on the sensor with a displacement, a small rotation, an
// elastic distortion outside the contact centre, a pressure (ridge width, contrast and
// contact size), a contact area that may leave part of the sensor uncovered, noise,
// and now and then a scratch or a dry patch.
//
// Everything follows from (finger id, impression number) through hash-based noise: the
// same ids give the same bytes, and no state outside the master cache is kept.
// Thread-safe.
#pragma once

#include <cstdint>
#include <vector>

namespace vantrel::sim {

inline constexpr int kSyntheticWidth = 152;
inline constexpr int kSyntheticHeight = 200;
inline constexpr int kSyntheticPixels = kSyntheticWidth * kSyntheticHeight;

enum class PatternClass : uint8_t { kArch, kTentedArch, kLeftLoop, kRightLoop, kWhorl };

// The pattern class of a finger id, drawn with about the shares real fingers have
// (loops two thirds, whorls a quarter, arches and tented arches the rest).
PatternClass PatternOf(uint32_t finger);

// Writes impression number impression of finger into pixels (kSyntheticPixels bytes,
// 152 per row, top row first). The first call for a finger grows its master (tens of
// milliseconds); later ones reuse it while it stays among the recently used masters.
void DrawImpression(uint32_t finger, uint32_t impression, uint8_t* pixels);
std::vector<uint8_t> DrawImpression(uint32_t finger, uint32_t impression);

}  // namespace vantrel::sim
