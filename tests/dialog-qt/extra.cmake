# The Qt window needs no display: Qt's offscreen platform serves it in CI.
if(TARGET test_dialog-qt)
  add_dependencies(test_dialog-qt Vantrel vantrel-dialog-qt)
  target_link_libraries(test_dialog-qt PRIVATE ${CMAKE_DL_LIBS})
endif()
