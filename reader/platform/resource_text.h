// Texts from the library's string resources (the dialog string tables 10001..10016,
// 10101..10116 and 10201..10216).
#pragma once

namespace vantrel::platform {

// Loads string resource id of the library into target (capacity bytes, always
// terminated when capacity > 0), in the process code page. Returns the length loaded,
// or 0 when there is no such string or the system keeps no string resources (Linux),
// so that the caller keeps its built-in text.
int LoadResourceText(int id, char* target, int capacity);

}  // namespace vantrel::platform
