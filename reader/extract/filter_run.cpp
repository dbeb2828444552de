// The oriented filters' inner loop: the band it reads, its plain form, and the choice of
// the form.
#include "reader/extract/filter_run.h"

#include "reader/cpu/vector_forms.h"

namespace vantrel::extract {

void WidenBand(const uint8_t* canvas, int block_row, int reach, int16_t* band) {
  constexpr int w = kCanvasWidth;
  const int base = block_row * kBlockSize * w - BandOrigin(reach);
  const int size = (kBlockSize + 2 * reach) * w + 2 * (reach + 1);
  const int first = base < 0 ? -base : 0;
  const int end = base + size > kCanvasBytes ? kCanvasBytes - base : size;
  int k = 0;
  for (; k < first; ++k) band[k] = 0;
  for (; k < end; ++k) band[k] = canvas[base + k];
  for (; k < kBandPixels; ++k) band[k] = 0;
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

void FilterBlockRowBaseline(const uint8_t* src, uint8_t* dst, int block_row, int reach,
                            const BlockRun* runs, int count) {
  int16_t band[kBandPixels];
  WidenBand(src, block_row, reach, band);
  const int row0 = block_row * kBlockSize * kCanvasWidth;
  for (int n = 0; n < count; ++n) {
    const BlockRun& run = runs[n];
    FilterRunBaseline(band + BandOrigin(reach) + run.x0, dst + row0 + run.x0, run.length,
                      kBlockSize, *run.taps);
  }
}

void FilterBlockRow(const uint8_t* src, uint8_t* dst, int block_row, int reach,
                    const BlockRun* runs, int count) {
  static const auto form = cpu::Choose(&FilterBlockRowWide, &FilterBlockRowBaseline);
  form(src, dst, block_row, reach, runs, count);
}

bool WideFiltersAvailable() { return cpu::RunsAvx2(); }

}  // namespace vantrel::extract
