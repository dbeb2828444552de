# The public header, compiled as C11 and as C++ with warnings as errors, with the calling
# convention of the target (__stdcall on 32-bit Windows). Included by the Linux and the
# Windows test builds.
set(vantrel_header_public "${CMAKE_CURRENT_LIST_DIR}")
add_library(vantrel_header_c OBJECT "${vantrel_header_public}/header_c.c")
add_library(vantrel_header_cxx OBJECT "${vantrel_header_public}/header_cxx.cpp")
foreach(t vantrel_header_c vantrel_header_cxx)
  target_include_directories(${t} PRIVATE "${CMAKE_SOURCE_DIR}/include")
  target_compile_options(${t} PRIVATE -Wall -Wextra -Werror -pedantic)
endforeach()
set_target_properties(vantrel_header_c PROPERTIES C_STANDARD 11 C_STANDARD_REQUIRED ON
                      C_EXTENSIONS OFF)
