// The oriented filters' inner loop: its plain form, the widened band it reads, and the
// choice of the form.
#include "reader/extract/filter_run.h"

#include "reader/cpu/vector_forms.h"

namespace vantrel::extract {

void WidenBand(const uint8_t* canvas, int block_row, int reach, int16_t* band) {
  constexpr int w = kCanvasWidth;
  const int base = (block_row * kBlockSize - reach) * w - reach;
  const int size = (kBlockSize + 2 * reach) * w + 2 * reach;
  const int first = base < 0 ? -base : 0;
  const int end = base + size > kCanvasBytes ? kCanvasBytes - base : size;
  int k = 0;
  for (; k < first; ++k) band[k] = 0;
  for (; k < end; ++k) band[k] = canvas[base + k];
  for (; k < size; ++k) band[k] = 0;
}

#if !defined(VANTREL_SSE2)
// Portable form of the same sums, one tap pair at a time over each row of the run.
void FilterRunBaseline(const int16_t* p, uint8_t* out, int length, int rows,
                       const TapProgram& taps) {
  for (int y = 0; y < rows; ++y, p += kCanvasWidth, out += kCanvasWidth) {
    int acc[kCanvasWidth];
    for (int i = 0; i < length; ++i) acc[i] = taps.middle * p[i];
    for (int t = 0; t < taps.pairs; ++t) {
      const TapPair& pair = taps.pair[t];
      const int c1 = static_cast<int16_t>(pair.coefficients & 0xFFFF);
      const int c2 = static_cast<int16_t>(static_cast<uint32_t>(pair.coefficients) >> 16);
      for (int i = 0; i < length; ++i) {
        acc[i] += c1 * (p[i + pair.first] + p[i - pair.first]) +
                  c2 * (p[i + pair.second] + p[i - pair.second]);
      }
    }
    for (int i = 0; i < length; ++i) out[i] = ClampFiltered(acc[i]);
  }
}
#endif

void FilterRun(const int16_t* p, uint8_t* out, int length, int rows, const TapProgram& taps) {
  static const auto form = cpu::Choose(&FilterRunWide, &FilterRunBaseline);
  form(p, out, length, rows, taps);
}

bool WideFiltersAvailable() { return cpu::RunsAvx2(); }

}  // namespace vantrel::extract
