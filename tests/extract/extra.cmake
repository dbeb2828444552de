# The extraction library once more with only its portable forms (VANTREL_PORTABLE), held
# to the same golden records and plain rules, as a processor without vector
# instructions would run it.
vantrel_variant_tests(extract_portable LIBRARY vantrel_extract PREFIX portable LABEL extract
  OPTIONS -DVANTREL_PORTABLE
  DEPS vantrel_record
  SOURCES extract/fast_path_test.cpp extract/golden_records_test.cpp)
