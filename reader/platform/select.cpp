// Which backend serves each seam. The real backends of this system by default;
// VANTREL_SIMULATOR (a comma list of link names) attaches the stand-in reader on the
// links it names.
#include <cstddef>
#include <cstdlib>
#include <iterator>
#include <cstring>
#include <mutex>

#include "reader/platform/clock.h"
#include "reader/platform/dialog_host.h"
#include "reader/platform/disk_device.h"
#include "reader/platform/platform.h"
#include "reader/platform/select_names.h"
#include "reader/platform/hid_device.h"
#include "reader/platform/serial_port.h"
#include "reader/platform/system_backends.h"
#include "reader/platform/virtual/virtual_disk.h"
#include "reader/platform/virtual/virtual_hid.h"
#include "reader/platform/virtual/virtual_serial.h"
#include "sim/finger_settings.h"
#include "sim/reader_model.h"

namespace vantrel::platform {

namespace {

std::mutex& SelectionLock() {
  static std::mutex lock;
  return lock;
}

Providers& Table() {
  static Providers providers;
  return providers;
}

// The stand-in disk that VANTREL_SIMULATOR=disk plugs in, carrying the shared reader.
VirtualDisk& SimulatedDisk() {
  static VirtualDisk disk;
  static std::once_flag attached;
  std::call_once(attached, [] { disk.AddReader(sim::SharedReader()); });
  return disk;
}

void AttachDisk(Providers& p) { p.disk = &SimulatedDisk(); }

// The stand-in HID device carrying the shared reader.
void AttachHid(Providers& p) {
  static std::once_flag attached;
  std::call_once(attached, [] { SimulatedHid().AddReader(sim::SharedReader()); });
  p.hid = &SimulatedHid();
}

// com<N>: the shared reader on the stand-in serial port COM N; several may be named.
template <int N>
void AttachCom(Providers& p) {
  static std::once_flag attached;
  std::call_once(attached, [] { SimulatedSerial().AddReader(N, sim::SharedReader()); });
  p.serial = &SimulatedSerial();
}

// Names accepted in VANTREL_SIMULATOR. A name that ends in '*' matches any text that
// begins with the part before it (com1, com2, ...). Further links add a row here.
const SimulatorName kSimulatorNames[] = {
    {"disk", AttachDisk},
    {"hid", AttachHid},
    {"com1", AttachCom<1>}, {"com2", AttachCom<2>}, {"com3", AttachCom<3>},
    {"com4", AttachCom<4>}, {"com5", AttachCom<5>}, {"com6", AttachCom<6>},
    {"com7", AttachCom<7>}, {"com8", AttachCom<8>}, {"com9", AttachCom<9>},
};

// The defaults before any selection: the real backends of this system.
void DefaultProviders(Providers& p) {
  p.disk = &SystemDiskDevices();
  p.hid = &SystemHidDevices();
  p.serial = &SystemSerialPorts();
  p.clock = &SystemClock();
  p.dialog = &SystemDialogHost();
}

bool SameName(const char* a, const char* b, size_t length) {
  for (size_t i = 0; i < length; ++i) {
    char x = a[i];
    char y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

}  // namespace

int ParseSimulatorList(const char* text, const SimulatorName* names, int name_count,
                       const SimulatorName** matched, int capacity) {
  if (text == nullptr) return 0;
  int count = 0;
  const char* p = text;
  while (*p != '\0') {
    const char* end = std::strchr(p, ',');
    const size_t length = end != nullptr ? static_cast<size_t>(end - p) : std::strlen(p);
    // Trim blanks around each name.
    size_t begin = 0;
    size_t stop = length;
    while (begin < stop && (p[begin] == ' ' || p[begin] == '\t')) ++begin;
    while (stop > begin && (p[stop - 1] == ' ' || p[stop - 1] == '\t')) --stop;
    for (int i = 0; i < name_count && stop > begin; ++i) {
      const char* want = names[i].name;
      const size_t want_length = std::strlen(want);
      const bool prefix = want_length > 0 && want[want_length - 1] == '*';
      bool hit = false;
      if (prefix) {
        hit = stop - begin >= want_length - 1 &&
              SameName(p + begin, want, want_length - 1);
      } else {
        hit = stop - begin == want_length && SameName(p + begin, want, want_length);
      }
      if (hit) {
        if (count < capacity) matched[count] = &names[i];
        ++count;
        break;
      }
    }
    if (end == nullptr) break;
    p = end + 1;
  }
  return count < capacity ? count : capacity;
}

Providers& Current() {
  static std::once_flag defaults;
  std::call_once(defaults, [] {
    std::lock_guard<std::mutex> guard(SelectionLock());
    DefaultProviders(Table());
  });
  return Table();
}

Providers Install(const Providers& providers) {
  Providers& current = Current();
  std::lock_guard<std::mutex> guard(SelectionLock());
  const Providers previous = current;
  if (providers.disk != nullptr) current.disk = providers.disk;
  if (providers.hid != nullptr) current.hid = providers.hid;
  if (providers.serial != nullptr) current.serial = providers.serial;
  if (providers.clock != nullptr) current.clock = providers.clock;
  if (providers.dialog != nullptr) current.dialog = providers.dialog;
  return previous;
}

void SelectBackendsAtLoad() {
  Providers chosen;
  DefaultProviders(chosen);
  const SimulatorName* matched[16];
  const int count = ParseSimulatorList(std::getenv("VANTREL_SIMULATOR"), kSimulatorNames,
                                       static_cast<int>(std::size(kSimulatorNames)), matched,
                                       16);
  for (int i = 0; i < count; ++i) matched[i]->attach(chosen);
  // The stand-in's finger: VANTREL_SIMULATOR_IMAGES, VANTREL_SIMULATOR_FINGER or the
  // default synthetic finger.
  if (count > 0) {
    sim::PlaceChosenFinger(sim::SharedReader(), std::getenv("VANTREL_SIMULATOR_FINGER"),
                           std::getenv("VANTREL_SIMULATOR_IMAGES"));
  }
  Install(chosen);
}

}  // namespace vantrel::platform
