// Every export that talks to a reader, each called with guarded caller buffers of the
// sizes the public header names. A call records what went wrong in a Findings: a write
// past a buffer, a length outside it, a result code outside the library's set, an input
// changed. The fuzz targets of the links and the handle-accounting test share the table.
#pragma once

#include <cstdint>
#include <string>

namespace vantrel::fuzz {

enum LinkMask : uint8_t { kOnDisk = 1, kOnHid = 2, kOnSerial = 4, kOnAll = 7 };

struct Findings {
  std::string first;  // empty while nothing is wrong
  void Note(const char* call, const std::string& what) {
    if (first.empty()) first = std::string(call) + ": " + what;
  }
};

struct ExportCall {
  const char* name;
  uint8_t links;   // the links the export uses (LinkMask)
  bool slow;       // waits for a finger or extracts: left out where speed matters
  int (*run)(int port, Findings& findings);
};

// The table, and its length.
const ExportCall* ExportCalls(int* count);

// True when rc is 0, a non-negative count, or one of the library's negative codes.
bool KnownResult(int rc);

}  // namespace vantrel::fuzz
