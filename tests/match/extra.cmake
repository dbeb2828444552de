# The matcher once more with only its plain form, as a processor without AVX2 runs it,
# held to the same golden scores.
get_target_property(match_sources vantrel_match SOURCES)
add_library(vantrel_match_plain STATIC ${match_sources})
target_compile_definitions(vantrel_match_plain PRIVATE VANTREL_PLAIN_MATCHER)
target_include_directories(vantrel_match_plain PUBLIC "${CMAKE_SOURCE_DIR}")
target_link_libraries(vantrel_match_plain PUBLIC vantrel_extract vantrel_record)
add_executable(test_match_plain "${CMAKE_CURRENT_SOURCE_DIR}/match/golden_scores_test.cpp"
  "${CMAKE_CURRENT_SOURCE_DIR}/match/fuzz_test.cpp")
target_link_libraries(test_match_plain PRIVATE vantrel_match_plain GTest::gtest GTest::gtest_main)
target_include_directories(test_match_plain PRIVATE "${CMAKE_CURRENT_SOURCE_DIR}")
target_compile_definitions(test_match_plain PRIVATE
  VANTREL_FINGERPRINTS_DIR="${VANTREL_FINGERPRINTS_DIR}"
  VANTREL_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
  VANTREL_BINARY_DIR="${CMAKE_BINARY_DIR}")
gtest_discover_tests(test_match_plain DISCOVERY_TIMEOUT 120
  TEST_PREFIX "plain." PROPERTIES LABELS match)
