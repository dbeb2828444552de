# The extraction library once more, with the SSE2 macro taken away: the portable forms of
# the stages that have vector forms are built and held to the same golden records and
# plain rules, as a processor without those instructions would run them.
vantrel_variant_tests(extract_portable LIBRARY vantrel_extract PREFIX portable LABEL extract
  OPTIONS -U__SSE2__
  DEPS vantrel_record
  SOURCES extract/fast_path_test.cpp extract/golden_records_test.cpp)
