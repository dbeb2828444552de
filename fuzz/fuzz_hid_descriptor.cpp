// HID report descriptors, as hidraw hands them over, into the report-length reader.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz/rules.h"
#include "reader/platform/hid_device.h"

using vantrel::fuzz::Require;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Exactly the bytes given: a read past them is caught by the address sanitizer.
  const std::vector<uint8_t> descriptor(data, data + size);
  const vantrel::platform::ReportLengths lengths = vantrel::platform::ReportLengthsOf(
      descriptor.empty() ? nullptr : descriptor.data(), static_cast<int>(descriptor.size()));
  Require(lengths.input >= 0 && lengths.output >= 0, "report lengths are never negative");
  // A report declares at most 2^20 bits: 131072 bytes and the report-id byte.
  constexpr int kLongest = (1 << 20) / 8 + 1;
  Require(lengths.input <= kLongest && lengths.output <= kLongest, "report lengths bounded");
  return 0;
}
