#include "reader/match/quality.h"

#include "reader/record/record.h"

namespace vantrel::match {

int FeatureQuality(const uint8_t* sealed) {
  if (sealed == nullptr) return kQualityUnsealFailed;
  uint8_t copy[record::kRecordBytes];
  if (record::UnsealCopy(sealed, copy) != 0) return kQualityUnsealFailed;
  return static_cast<int>(copy[2]);  // unsigned: 200 stays 200
}

}  // namespace vantrel::match
