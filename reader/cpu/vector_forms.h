// The vector forms of the hot stages and how one is chosen.
//
// - VANTREL_SSE2: the SSE2 forms, chosen when the code is built (every x86-64 processor
//   has SSE2).
// - VANTREL_AVX2_FORMS: the AVX2 forms, built beside the baseline ones with
//   VANTREL_AVX2_TARGET on each function and chosen at run time through RunsAvx2(),
//   asked once. No loader support (ifunc) is needed, so the same code builds for Windows.
// - Building with VANTREL_PORTABLE defined (the CMake option of that name) turns every
//   vector form off: each stage then runs its plain form, which the tests hold to the
//   same results.
#pragma once

#if defined(__SSE2__) && !defined(VANTREL_PORTABLE)
#define VANTREL_SSE2 1
#endif

#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__) && !defined(VANTREL_PORTABLE)
#define VANTREL_AVX2_FORMS 1
// The AVX2 forms may also use POPCNT, BMI1 and BMI2 (bit counts, variable shifts and bit
// extracts on general registers), which the processors with AVX2 have beside it; the
// run-time check asks for all four, so a machine that hides one takes the baseline. FMA is left out on purpose: a fused multiply-add rounds once where
// the plain forms round twice.
#define VANTREL_AVX2_TARGET __attribute__((target("avx2,popcnt,bmi,bmi2")))
#endif

namespace vantrel::cpu {

// Whether this processor runs the AVX2 forms; false when none are built.
inline bool RunsAvx2() {
#if defined(VANTREL_AVX2_FORMS)
  static const bool runs = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("popcnt") &&
           __builtin_cpu_supports("bmi") && __builtin_cpu_supports("bmi2");
  }();
  return runs;
#else
  return false;
#endif
}

// One of two forms (a function pointer or a table of them): the wide one where the
// processor runs it.
template <typename Form>
Form Choose(Form wide, Form baseline) {
  return RunsAvx2() ? wide : baseline;
}

}  // namespace vantrel::cpu
