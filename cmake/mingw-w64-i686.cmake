# Cross build for 32-bit Windows with the MinGW-w64 compilers from Debian (posix threads).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(VANTREL_MINGW_TRIPLE i686-w64-mingw32)
# Internal vector helpers of the matcher return SSE values; nothing crosses the DLL
# boundary in them, so the ABI note is noise here.
set(CMAKE_CXX_FLAGS_INIT "-Wno-psabi")
include("${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake")
