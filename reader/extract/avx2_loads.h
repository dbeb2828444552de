// The AVX2 intrinsics and the loads the AVX2 forms of the extraction share. Include only
// where VANTREL_AVX2_FORMS is defined.
#pragma once

#include <immintrin.h>

#include <cstdint>

#include "reader/cpu/vector_forms.h"

namespace vantrel::extract::avx2 {

// 32 bytes from anywhere, no alignment needed.
VANTREL_AVX2_TARGET inline __m256i Load(const void* q) {
  return _mm256_loadu_si256(static_cast<const __m256i*>(q));
}

// 16 pixels widened to 16-bit lanes.
VANTREL_AVX2_TARGET inline __m256i Widen16(const uint8_t* q) {
  return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(q)));
}

}  // namespace vantrel::extract::avx2
