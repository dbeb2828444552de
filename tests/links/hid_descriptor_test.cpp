// Report lengths read from HID report descriptors (the hidraw backend's source for them).
#include <gtest/gtest.h>

#include <vector>

#include "reader/platform/hid_device.h"

namespace vantrel::testing {
namespace {

using platform::ReportLengthsOf;

// Vendor page, one collection, 64-byte input and output reports without ids.
const std::vector<uint8_t> kReader = {
    0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08,
    0x95, 0x40, 0x09, 0x01, 0x81, 0x02, 0x95, 0x40, 0x09, 0x01, 0x91, 0x02, 0xC0};

TEST(HidDescriptor, UnnumberedReportsCountTheIdByte) {
  const platform::ReportLengths lengths =
      ReportLengthsOf(kReader.data(), static_cast<int>(kReader.size()));
  EXPECT_EQ(lengths.input, 65);
  EXPECT_EQ(lengths.output, 65);
  EXPECT_FALSE(lengths.numbered);
}

TEST(HidDescriptor, NumberedReportsTakeTheLargest) {
  const std::vector<uint8_t> numbered = {
      0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x75, 0x08,
      0x85, 0x01, 0x95, 0x20, 0x09, 0x01, 0x81, 0x02,   // id 1: 32 bytes in
      0x85, 0x02, 0x95, 0x3F, 0x09, 0x01, 0x81, 0x02,   // id 2: 63 bytes in
      0x85, 0x02, 0x95, 0x08, 0x09, 0x01, 0x91, 0x02,   // id 2: 8 bytes out
      0xC0};
  const platform::ReportLengths lengths =
      ReportLengthsOf(numbered.data(), static_cast<int>(numbered.size()));
  EXPECT_TRUE(lengths.numbered);
  EXPECT_EQ(lengths.input, 64);
  EXPECT_EQ(lengths.output, 9);
}

TEST(HidDescriptor, PushPopAndBitFieldsAreFollowed) {
  const std::vector<uint8_t> items = {
      0x75, 0x01, 0x95, 0x05, 0x81, 0x02,   // 5 bits in
      0xA4,                                 // push size 1, count 5
      0x75, 0x08, 0x95, 0x02, 0x91, 0x02,   // 2 bytes out
      0xB4,                                 // pop
      0x81, 0x02,                           // 5 more bits in: 10 bits = 2 bytes
      0xFE, 0x02, 0x10, 0x81, 0x02};        // a long item is skipped whole
  const platform::ReportLengths lengths =
      ReportLengthsOf(items.data(), static_cast<int>(items.size()));
  EXPECT_EQ(lengths.input, 3);
  EXPECT_EQ(lengths.output, 3);
}

TEST(HidDescriptor, CutDescriptorsAreReadOnlyAsFarAsTheyGo) {
  // Every prefix of the reader's descriptor: never a read past its end.
  for (size_t size = 0; size <= kReader.size(); ++size) {
    std::vector<uint8_t> cut(kReader.begin(), kReader.begin() + static_cast<long>(size));
    const platform::ReportLengths lengths =
        ReportLengthsOf(cut.data(), static_cast<int>(cut.size()));
    EXPECT_LE(lengths.input, 65);
    EXPECT_LE(lengths.output, 65);
  }
  const uint8_t item_past_end[2] = {0x27, 0xFF};  // announces 4 data bytes, has 1
  EXPECT_EQ(ReportLengthsOf(item_past_end, 2).input, 0);
  EXPECT_EQ(ReportLengthsOf(nullptr, 10).input, 0);
}

}  // namespace
}  // namespace vantrel::testing
