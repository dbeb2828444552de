# What `cmake --install` puts where, in the GNU layout:
#   lib/libVantrel.so*, include/vantrel/vantrel.h, lib/pkgconfig/vantrel.pc,
#   lib/cmake/Vantrel/ (find_package(Vantrel) -> Vantrel::Vantrel), bin/vantrel,
#   bin/vantrel-sim, lib/udev/rules.d/60-vantrel.rules, share/doc/vantrel/examples/.
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# udev reads its packaged rules from <prefix>/lib/udev/rules.d, never a multiarch folder.
set(VANTREL_UDEV_RULES_DIR "lib/udev/rules.d" CACHE STRING
    "Where the udev rule goes, relative to the install prefix (or absolute)")
set(VANTREL_CMAKE_DIR "${CMAKE_INSTALL_LIBDIR}/cmake/Vantrel")

install(TARGETS Vantrel EXPORT VantrelTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES "${CMAKE_SOURCE_DIR}/include/vantrel/vantrel.h"
        DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}/vantrel)
install(EXPORT VantrelTargets NAMESPACE Vantrel:: DESTINATION ${VANTREL_CMAKE_DIR})

configure_package_config_file("${CMAKE_CURRENT_LIST_DIR}/VantrelConfig.cmake.in"
  "${CMAKE_BINARY_DIR}/packaging/VantrelConfig.cmake" INSTALL_DESTINATION ${VANTREL_CMAKE_DIR})
write_basic_package_version_file("${CMAKE_BINARY_DIR}/packaging/VantrelConfigVersion.cmake"
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES "${CMAKE_BINARY_DIR}/packaging/VantrelConfig.cmake"
              "${CMAKE_BINARY_DIR}/packaging/VantrelConfigVersion.cmake"
        DESTINATION ${VANTREL_CMAKE_DIR})

# pkg-config: paths relative to the file itself, so that `cmake --install --prefix DIR`
# and a moved prefix still give the right ones.
file(RELATIVE_PATH VANTREL_PC_PREFIX "/root/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/root")
string(REGEX REPLACE "/$" "" VANTREL_PC_PREFIX "${VANTREL_PC_PREFIX}")
configure_file("${CMAKE_CURRENT_LIST_DIR}/vantrel.pc.in" "${CMAKE_BINARY_DIR}/packaging/vantrel.pc"
               @ONLY)
install(FILES "${CMAKE_BINARY_DIR}/packaging/vantrel.pc"
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

foreach(tool vantrel vantrel-sim)
  if(TARGET ${tool})
    install(TARGETS ${tool} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()
install(FILES "${CMAKE_CURRENT_LIST_DIR}/60-vantrel.rules" DESTINATION ${VANTREL_UDEV_RULES_DIR})
install(FILES "${CMAKE_SOURCE_DIR}/examples/detect.c" "${CMAKE_SOURCE_DIR}/examples/CMakeLists.txt"
        DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
