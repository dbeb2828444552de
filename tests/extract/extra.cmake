# The extraction library once more, with the SSE2 macro taken away: the portable forms of
# the stages that have vector forms are built and held to the same golden records and
# plain rules, as a processor without those instructions would run them.
get_target_property(extract_sources vantrel_extract SOURCES)
add_library(vantrel_extract_portable STATIC ${extract_sources})
target_compile_options(vantrel_extract_portable PRIVATE -U__SSE2__)
target_include_directories(vantrel_extract_portable PUBLIC "${CMAKE_SOURCE_DIR}")
target_link_libraries(vantrel_extract_portable PUBLIC vantrel_record)
add_executable(test_extract_portable
  "${CMAKE_CURRENT_SOURCE_DIR}/extract/fast_path_test.cpp"
  "${CMAKE_CURRENT_SOURCE_DIR}/extract/golden_records_test.cpp")
target_link_libraries(test_extract_portable PRIVATE vantrel_extract_portable
  GTest::gtest GTest::gtest_main)
target_include_directories(test_extract_portable PRIVATE "${CMAKE_CURRENT_SOURCE_DIR}")
target_compile_definitions(test_extract_portable PRIVATE
  VANTREL_FINGERPRINTS_DIR="${VANTREL_FINGERPRINTS_DIR}"
  VANTREL_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
  VANTREL_BINARY_DIR="${CMAKE_BINARY_DIR}")
gtest_discover_tests(test_extract_portable DISCOVERY_TIMEOUT 120
  TEST_PREFIX "portable." PROPERTIES LABELS extract)
