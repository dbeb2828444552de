# Checks of the shared library as an application sees it. Included from
# tests/CMakeLists.txt, where CMAKE_CURRENT_SOURCE_DIR is tests/.
set(api_public "${CMAKE_CURRENT_SOURCE_DIR}/api/public")

include("${api_public}/header_checks.cmake")

# A C program linked against libVantrel.so.
add_executable(vantrel_c_caller "${api_public}/call_library.c")
target_link_libraries(vantrel_c_caller PRIVATE Vantrel)
target_compile_options(vantrel_c_caller PRIVATE -Wall -Wextra -Werror)
set_target_properties(vantrel_c_caller PROPERTIES C_STANDARD 11 C_EXTENSIONS OFF)
add_test(NAME api.c_program_calls_library COMMAND vantrel_c_caller)
set_tests_properties(api.c_program_calls_library PROPERTIES LABELS api
                     PASS_REGULAR_EXPRESSION "^ok")

# Only the FPI names leave the shared library.
add_test(NAME api.exports_only_fpi
         COMMAND "${CMAKE_COMMAND}" "-DLIBRARY=$<TARGET_FILE:Vantrel>"
                 "-DHEADER=${CMAKE_SOURCE_DIR}/include/vantrel/vantrel.h" "-DNM=${CMAKE_NM}"
                 -P "${api_public}/check_exports.cmake")
set_tests_properties(api.exports_only_fpi PROPERTIES LABELS api)

# test_api also loads libVantrel.so by path, as an application would.
add_dependencies(test_api Vantrel)
target_link_libraries(test_api PRIVATE ${CMAKE_DL_LIBS})
