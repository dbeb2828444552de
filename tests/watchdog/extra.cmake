# The program-level tests run the test build of Tarnwick beside a stand-in server.
if(TARGET test_watchdog)
  add_executable(tarnwick_stand_in_server
    "${CMAKE_CURRENT_SOURCE_DIR}/watchdog/stand_in/stand_in_server.cpp")
  add_dependencies(test_watchdog tarnwick_test_build tarnwick_stand_in_server)
  target_compile_definitions(test_watchdog PRIVATE
    TARNWICK_TEST_PROGRAM="$<TARGET_FILE:tarnwick_test_build>"
    TARNWICK_STAND_IN_SERVER="$<TARGET_FILE:tarnwick_stand_in_server>")
endif()
