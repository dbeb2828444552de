// The library's module instance handle on Windows: where its resources live.
#pragma once

#include <windows.h>

namespace vantrel::platform {

// The handle DllMain received on process attach; the program's own module when the
// platform code is linked into a program instead of the DLL (tests), so that resources
// linked into that program are found the same way.
HINSTANCE ModuleInstance();

}  // namespace vantrel::platform
