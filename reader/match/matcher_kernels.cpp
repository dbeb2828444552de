// The baseline form of the matcher's kernels, which every processor runs, and the choice
// of the form.
#include "reader/cpu/vector_forms.h"
#include "reader/match/matcher_internal.h"

#if defined(VANTREL_SSE2)
#include <emmintrin.h>
#endif

namespace vantrel::match::detail {

namespace baseline {
#define VANTREL_KERNEL
#include "reader/match/matcher_kernels.inc"
#undef VANTREL_KERNEL
}  // namespace baseline

const Kernels& PlainKernels() {
  static constexpr Kernels kPlain = {BuildDescriptorsPlain, BuildReachIndexPlain,
                                     TransformPositionsPlain, PairUpPlain, LandingPlain,
                                     UnpairedSumsPlain, PolarAroundPlain, PackKeptPlain,
                                     LocalSimilarityPlain, FindOverlapPlain, PairedSumsPlain,
                                     SingleProductsHoldPlain, ReadMinutiaePlain};
  return kPlain;
}

// The baseline table takes the plain form of three kernels: without AVX2, the compiler
// builds their lane code from 128-bit halves and lane-by-lane permutations, which costs
// more than the plain loops (descriptors about 108 k instructions a genuine comparison
// against 82 k, overlaps 90 k against 62 k, polar lists 48 k against 43 k).
const Kernels& BaselineKernels() {
#if defined(VANTREL_PORTABLE)
  return PlainKernels();
#else
  static constexpr Kernels kBaseline = [] {
    Kernels k = baseline::kKernels;
    k.build_descriptors = BuildDescriptorsPlain;
    k.find_overlap = FindOverlapPlain;
    k.polar_around = PolarAroundPlain;
    return k;
  }();
  return kBaseline;
#endif
}

const Kernels& ChosenKernels() {
  static const Kernels* const chosen = cpu::Choose(&WideKernels(), &BaselineKernels());
  return *chosen;
}

}  // namespace vantrel::match::detail
