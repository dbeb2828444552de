// The SSE2 form of turning canvas bytes into row mask bits: sixteen bytes a step, their
// test's answers gathered by one byte mask move. Each gives the same bits as its plain
// form in neighbour_planes.h (namespace plain), which builds where SSE2 does not; the
// tests hold the two to each other and to the golden records.
#pragma once

#include <cstdint>

#include "reader/cpu/vector_forms.h"

#if defined(VANTREL_SSE2)
#include <emmintrin.h>

namespace vantrel::extract::sse2 {

// Bit i of the result is bit 7 of byte i of test(the 64 bytes from p).
template <typename Test>
inline uint64_t BitsOf64(const uint8_t* p, Test test) {
  uint64_t bits = 0;
  for (int k = 0; k < 4; ++k) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * k));
    bits |= static_cast<uint64_t>(static_cast<uint16_t>(_mm_movemask_epi8(test(v)))) << (16 * k);
  }
  return bits;
}

// Bit i: byte i has bit 0 set (moved up to bit 7 of its byte).
inline uint64_t LowBitsOf64(const uint8_t* p) {
  return BitsOf64(p, [](__m128i v) { return _mm_slli_epi64(v, 7); });
}

// Bit i: byte i is not 0.
inline uint64_t NonZeroOf64(const uint8_t* p) {
  return ~BitsOf64(p, [](__m128i v) { return _mm_cmpeq_epi8(v, _mm_setzero_si128()); });
}

// Bit i: byte i is 1.
inline uint64_t OnesOf64(const uint8_t* p) {
  return BitsOf64(p, [](__m128i v) { return _mm_cmpeq_epi8(v, _mm_set1_epi8(1)); });
}

}  // namespace vantrel::extract::sse2
#endif
