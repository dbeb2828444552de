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

const Kernels& BaselineKernels() {
#if defined(VANTREL_PORTABLE)
  return PlainKernels();
#else
  return baseline::kKernels;
#endif
}

const Kernels& ChosenKernels() {
  static const Kernels* const chosen = cpu::Choose(&WideKernels(), &BaselineKernels());
  return *chosen;
}

}  // namespace vantrel::match::detail
