# The matcher once more with only its plain form, as a processor without AVX2 runs it,
# held to the same golden scores.
vantrel_variant_tests(match_plain LIBRARY vantrel_match PREFIX plain LABEL match
  OPTIONS -DVANTREL_PLAIN_MATCHER
  DEPS vantrel_extract vantrel_record
  SOURCES match/golden_scores_test.cpp match/fuzz_test.cpp)
