// The virtual clock of the tests; the system clock is in linux/ and windows/.
#include "reader/platform/clock.h"

#include <mutex>

namespace vantrel::platform {

namespace {

std::mutex& VirtualClockLock() {
  static std::mutex lock;
  return lock;
}

}  // namespace

uint32_t VirtualClock::TickMs() {
  std::lock_guard<std::mutex> guard(VirtualClockLock());
  return now_;
}

void VirtualClock::SleepMs(uint32_t ms) { Advance(ms); }

void VirtualClock::Advance(uint32_t ms) {
  std::lock_guard<std::mutex> guard(VirtualClockLock());
  now_ += ms;
}

}  // namespace vantrel::platform
