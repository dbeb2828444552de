// Port dispatch of the exports: which link serves a port number, the port classes that
// narrow it, and the serial selection set before every serial call.
#pragma once

#include <utility>

#include "reader/api/result_codes.h"
#include "reader/links/link_ops.h"

namespace vantrel::api {

inline constexpr int kDiskPort = 0;
inline constexpr int kHidPort = 9;

enum class PortClass {
  kAny,         // 0 disk, 9 HID, anything else serial
  kSerialOnly,  // 0 and 9 answer -1
  kDiskOnly,    // only 0; everything else answers -1
  kDiskOrHid,   // only 0 and 9
};

// The three link tables the exports call. Members left null mean the real link
// (DiskLinkOps() and so on). Install() replaces the set and returns the previous one, so
// a test can run the exports against a table of its own and put things back.
struct LinkTables {
  const links::LinkOps* disk = nullptr;
  const links::LinkOps* hid = nullptr;
  const links::LinkOps* serial = nullptr;
};
LinkTables InstallLinkTables(const LinkTables& tables);

const links::LinkOps& DiskOps();
const links::LinkOps& HidOps();
const links::LinkOps& SerialOps();

// Sets the serial selection to (port, configured baud rate), as every serial call needs.
void SelectSerialPort(int port);

// The link table serving port under the class, or null when the class excludes the port.
// Choosing the serial link sets the serial selection; a refused port changes nothing.
const links::LinkOps* SelectLink(int port, PortClass port_class);

// Calls one operation of the link serving port, with the arguments as they came.
// -1 when the class excludes the port or the link does not serve the operation.
template <typename... Params, typename... Args>
int Dispatch(int port, PortClass port_class, int (*links::LinkOps::*operation)(Params...),
             Args&&... args) {
  const links::LinkOps* ops = SelectLink(port, port_class);
  if (ops == nullptr) return kFailure;
  int (*call)(Params...) = ops->*operation;
  if (call == nullptr) return kFailure;
  return call(std::forward<Args>(args)...);
}

// Runs body and turns any exception into the given code, so that none leaves an export.
template <typename Body>
int Guarded(int on_exception, Body&& body) noexcept {
  try {
    return body();
  } catch (...) {
    return on_exception;
  }
}

// Baud rates the reader knows: 9600, 57600 and 115200; any other value counts as 9600.
int MapReaderBaud(int baud);

// Sleeps on the clock of the installed providers (the wall clock until they exist).
void SleepMs(unsigned ms);

}  // namespace vantrel::api
