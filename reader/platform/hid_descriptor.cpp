// The report lengths that a HID report descriptor declares: pure, for every backend that
// gets the descriptor bytes rather than the lengths from the system.
#include <cstdint>

#include "reader/platform/hid_device.h"

namespace vantrel::platform {

ReportLengths ReportLengthsOf(const uint8_t* descriptor, int size) {
  // Bits per report id and direction; id 0 stands for "no id".
  static constexpr int kIds = 256;
  int input_bits[kIds] = {};
  int output_bits[kIds] = {};
  struct Globals {
    uint32_t report_size = 0;
    uint32_t report_count = 0;
    int report_id = 0;
  };
  Globals globals;
  Globals stack[8];
  int depth = 0;
  ReportLengths lengths;
  int i = 0;
  while (descriptor != nullptr && i < size) {
    const uint8_t prefix = descriptor[i];
    if (prefix == 0xFE) {  // long item: size byte, tag byte, data
      if (i + 1 >= size) break;
      i += 3 + descriptor[i + 1];
      continue;
    }
    int data_size = prefix & 0x03;
    if (data_size == 3) data_size = 4;
    if (i + 1 + data_size > size) break;
    uint32_t value = 0;
    for (int b = 0; b < data_size; ++b) value |= uint32_t{descriptor[i + 1 + b]} << (8 * b);
    const int type = (prefix >> 2) & 0x03;
    const int tag = (prefix >> 4) & 0x0F;
    // Very large counts cannot be real; clamp so the sums stay in range.
    // Very large counts cannot be real; clamp each item and each sum (a descriptor of
    // thousands of one-byte items would otherwise overflow it).
    constexpr int kMaxReportBits = 1 << 20;
    const uint64_t bits = uint64_t{globals.report_size} * globals.report_count;
    const int add = bits > kMaxReportBits ? kMaxReportBits : static_cast<int>(bits);
    auto grow = [add](int& sum) { sum = sum > kMaxReportBits - add ? kMaxReportBits : sum + add; };
    if (type == 0 && tag == 0x8) grow(input_bits[globals.report_id]);
    if (type == 0 && tag == 0x9) grow(output_bits[globals.report_id]);
    if (type == 1) {
      if (tag == 0x7) globals.report_size = value;
      if (tag == 0x9) globals.report_count = value;
      if (tag == 0x8) {
        globals.report_id = static_cast<int>(value & 0xFF);
        lengths.numbered = true;
      }
      if (tag == 0xA && depth < 8) stack[depth++] = globals;
      if (tag == 0xB && depth > 0) globals = stack[--depth];
    }
    i += 1 + data_size;
  }
  for (int id = 0; id < kIds; ++id) {
    // The report-id byte is counted whether or not the device numbers its reports.
    const int in = input_bits[id] > 0 ? (input_bits[id] + 7) / 8 + 1 : 0;
    const int out = output_bits[id] > 0 ? (output_bits[id] + 7) / 8 + 1 : 0;
    if (in > lengths.input) lengths.input = in;
    if (out > lengths.output) lengths.output = out;
  }
  return lengths;
}

}  // namespace vantrel::platform
