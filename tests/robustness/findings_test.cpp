// Faults the fuzz targets found, each held by a plain statement of the rule it broke.
// The inputs themselves are replayed from fuzz/regressions/ (fuzz.*.kept_inputs).
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "reader/platform/hid_device.h"

namespace vantrel::testing {
namespace {

// A descriptor of thousands of one-byte input items, each declaring the largest report
// a descriptor may: the sum of their bits once overflowed. It saturates at 2^20 bits.
TEST(Findings, ReportLengthSumsSaturate) {
  for (int items : {1, 2048, 4000}) {
    std::vector<uint8_t> d = {0x77, 0x00, 0x00, 0x10, 0x00, 0x95, 0x01};  // size 2^20, count 1
    d.insert(d.end(), static_cast<size_t>(items), 0x80);                 // Input, no data
    const platform::ReportLengths lengths = platform::ReportLengthsOf(d.data(), static_cast<int>(d.size()));
    EXPECT_EQ(lengths.input, (1 << 20) / 8 + 1) << items << " items";
    EXPECT_EQ(lengths.output, 0);
  }
}

}  // namespace
}  // namespace vantrel::testing
