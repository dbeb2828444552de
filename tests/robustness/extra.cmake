# The handle-accounting test shares the export table of the fuzz targets, and catches the
# real backends' system calls in the program itself (tests/robustness/fake_nodes.cpp).
if(TARGET test_robustness)
  target_sources(test_robustness PRIVATE "${CMAKE_SOURCE_DIR}/fuzz/export_calls.cpp")
  target_link_libraries(test_robustness PRIVATE ${CMAKE_DL_LIBS})
  target_include_directories(test_robustness PRIVATE "${CMAKE_SOURCE_DIR}")
endif()
