#include "reader/platform/clock.h"

#include <chrono>
#include <mutex>
#include <thread>

namespace vantrel::platform {

namespace {

class SteadyClock final : public Clock {
 public:
  uint32_t TickMs() override {
    using namespace std::chrono;
    return static_cast<uint32_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
  }
  void SleepMs(uint32_t ms) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
  }
};

std::mutex& VirtualClockLock() {
  static std::mutex lock;
  return lock;
}

}  // namespace

Clock& SystemClock() {
  static SteadyClock clock;
  return clock;
}

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
