#include "sim/finger_settings.h"

#include <string>

namespace vantrel::sim {

std::optional<uint32_t> ParseFingerNumber(const char* text) {
  if (text == nullptr) return std::nullopt;
  const char* p = text;
  while (*p == ' ' || *p == '\t') ++p;
  uint64_t value = 0;
  int digits = 0;
  for (; *p >= '0' && *p <= '9'; ++p, ++digits) {
    value = value * 10 + static_cast<uint64_t>(*p - '0');
    if (value > UINT32_MAX) return std::nullopt;
  }
  while (*p == ' ' || *p == '\t') ++p;
  if (digits == 0 || *p != '\0') return std::nullopt;
  return static_cast<uint32_t>(value);
}

bool PlaceChosenFinger(ReaderModel& model, const char* finger, const char* images) {
  if (images != nullptr && *images != '\0' && model.UseImageFolder(images)) return true;
  const bool folder_failed = images != nullptr && *images != '\0';
  const std::optional<uint32_t> number = ParseFingerNumber(finger);
  model.UseSyntheticFinger(number.value_or(kDefaultFinger));
  const bool number_failed = finger != nullptr && *finger != '\0' && !number;
  return !folder_failed && !number_failed;
}

}  // namespace vantrel::sim
