# The matcher once more with only its baseline kernels (VANTREL_PORTABLE), as a
# processor without AVX2 runs it, held to the same golden scores.
vantrel_variant_tests(match_portable LIBRARY vantrel_match PREFIX portable LABEL match
  OPTIONS -DVANTREL_PORTABLE
  DEPS vantrel_extract vantrel_record
  SOURCES match/golden_scores_test.cpp match/golden_templates_test.cpp match/fuzz_test.cpp)
