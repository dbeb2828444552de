// The oriented filters' inner loop: its plain form, and the choice of the form.
#include "reader/extract/filter_run.h"

#include "reader/cpu/vector_forms.h"

namespace vantrel::extract {

#if !defined(VANTREL_SSE2)
// Portable form of the same sums, one tap pair at a time over the run.
void FilterRunBaseline(const uint8_t* p, uint8_t* out, int length, const TapProgram& taps) {
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
#endif

void FilterRun(const uint8_t* p, uint8_t* out, int length, const TapProgram& taps) {
  static const auto form = cpu::Choose(&FilterRunWide, &FilterRunBaseline);
  form(p, out, length, taps);
}

bool WideFiltersAvailable() { return cpu::RunsAvx2(); }

}  // namespace vantrel::extract
