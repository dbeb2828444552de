// The body of the three link targets: the fuzz input is a script of exports to call
// (one selector byte each) and of everything the device answers; the exports run
// against a scripted device on one link. What must hold after each export: no write
// past a caller buffer, a result code of the library's set, every device handle closed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace vantrel::fuzz {

enum class FuzzLink { kDisk, kHid, kSerial };

struct ExportCall;

// The exports a link input chooses from: selector byte b picks entry b % size.
const std::vector<const ExportCall*>& CallsOn(FuzzLink link);

// Runs one input; aborts with a message on the first broken rule.
void RunLinkInput(FuzzLink link, const uint8_t* data, size_t size);

}  // namespace vantrel::fuzz
