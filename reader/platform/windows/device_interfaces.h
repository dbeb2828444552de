// The present device interfaces of one interface class, through SetupDi: the one
// enumeration that the disk and HID backends share.
#pragma once

#include <windows.h>

namespace vantrel::platform {

// Calls visit(path, context) with the device path of each present interface of the
// class, in the system's order, until visit returns false or the interfaces end. An
// interface whose detail cannot be fetched, or whose path does not fit path_capacity
// bytes, is skipped; a failed size query for any reason but a short buffer ends the walk.
// Returns false when the set of devices cannot be had at all.
bool ForEachInterfacePath(const GUID& interface_class, int path_capacity,
                          bool (*visit)(const char* path, void* context), void* context);

// Opens a device path the way both links do: read and write, shared, overlapped.
HANDLE OpenDevicePath(const char* path);

}  // namespace vantrel::platform
