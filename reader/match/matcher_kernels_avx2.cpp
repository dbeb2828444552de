// The AVX2 form of the matcher's kernels: the same source as the baseline form, each
// function built for AVX2. Without AVX2 forms in the build the baseline ones stand in.
#include "reader/cpu/vector_forms.h"
#include "reader/match/matcher_internal.h"

#if defined(VANTREL_SSE2)
#include <emmintrin.h>
#endif
#if defined(VANTREL_AVX2_FORMS)
#include <immintrin.h>
#endif

namespace vantrel::match::detail {

#if defined(VANTREL_AVX2_FORMS)
namespace avx2 {
#define VANTREL_KERNEL VANTREL_AVX2_TARGET
#define VANTREL_KERNEL_AVX2 1
#include "reader/match/matcher_kernels.inc"
#undef VANTREL_KERNEL_AVX2
#undef VANTREL_KERNEL
}  // namespace avx2

const Kernels& WideKernels() { return avx2::kKernels; }
#else
const Kernels& WideKernels() { return BaselineKernels(); }
#endif

}  // namespace vantrel::match::detail
