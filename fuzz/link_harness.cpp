#include "fuzz/link_harness.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "fuzz/export_calls.h"
#include "fuzz/script_devices.h"
#include "reader/api/dispatch.h"
#include "reader/links/serial_link.h"
#include "reader/platform/platform.h"

namespace vantrel::fuzz {

namespace {

constexpr int kCallsPerInput = 4;
constexpr int kSerialPort = 3;

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "broken rule: %s\n", what.c_str());
  std::abort();
}

// The exports that run on the link. Captures on the binary links wait for a finger
// and extract: their receive path is that of the image exports, and they are left out
// for speed.
std::vector<const ExportCall*> ListCallsOn(FuzzLink link) {
  const uint8_t mask = link == FuzzLink::kDisk ? kOnDisk : link == FuzzLink::kHid ? kOnHid : kOnSerial;
  int count = 0;
  const ExportCall* calls = ExportCalls(&count);
  std::vector<const ExportCall*> out;
  for (int i = 0; i < count; ++i) {
    if ((calls[i].links & mask) && !(calls[i].slow && link != FuzzLink::kSerial)) {
      out.push_back(&calls[i]);
    }
  }
  return out;
}

}  // namespace

const std::vector<const ExportCall*>& CallsOn(FuzzLink link) {
  static const std::vector<const ExportCall*> lists[3] = {
      ListCallsOn(FuzzLink::kDisk), ListCallsOn(FuzzLink::kHid), ListCallsOn(FuzzLink::kSerial)};
  return lists[static_cast<int>(link)];
}

void RunLinkInput(FuzzLink link, const uint8_t* data, size_t size) {
  const std::vector<const ExportCall*>& calls = CallsOn(link);
  static platform::VirtualClock clock(1000);
  ByteScript script(data, size);
  ScriptDisk disk(script);
  ScriptHid hid(script);
  ScriptSerial serial(script, clock);
  const platform::Providers previous =
      platform::Install(platform::Providers{&disk, &hid, &serial, &clock, nullptr});
  links::serial::ResetForTests();
  links::State() = links::LinkState{};
  const int port = link == FuzzLink::kDisk ? 0 : link == FuzzLink::kHid ? 9 : kSerialPort;

  for (int n = 0; n < kCallsPerInput && !script.Done(); ++n) {
    const ExportCall& call = *calls[script.Byte() % calls.size()];
    Findings findings;
    const int rc = call.run(port, findings);
    if (!findings.first.empty()) Fail(findings.first);
    if (!KnownResult(rc)) Fail(std::string(call.name) + ": result " + std::to_string(rc));
    const int left = disk.OpenHandles() + hid.OpenDevices() + serial.OpenPorts();
    if (left != 0) Fail(std::string(call.name) + ": a device stays open");
  }
  links::serial::ResetForTests();
  platform::Install(previous);
}

}  // namespace vantrel::fuzz
