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
  // Bits per report are capped at 2^20 per item and sum over the items: the longest
  // report a descriptor can declare is bounded by its size.
  const long long bound = (static_cast<long long>(size) << 17) + 1;
  Require(lengths.input <= bound && lengths.output <= bound, "report lengths bounded by the items");
  Require(lengths.input != 0 || lengths.output != 0 || !lengths.numbered || size > 0,
          "report ids only from items");
  return 0;
}
