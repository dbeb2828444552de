// Millisecond clock and sleep, the one time base of every link and wait in the library.
#pragma once

#include <cstdint>

namespace vantrel::platform {

// Contract for every backend:
// - TickMs() is a monotonic millisecond counter that wraps at 2^32 (the reader's
//   time-outs are computed with unsigned differences, so wrapping is harmless).
// - SleepMs(ms) returns after at least ms milliseconds of this clock's time have passed.
//   A virtual clock advances its own time instead of waiting.
// Both may be called from any thread.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual uint32_t TickMs() = 0;
  virtual void SleepMs(uint32_t ms) = 0;
};

// The wall clock of the machine (steady, not affected by setting the date).
Clock& SystemClock();

// A clock whose time moves only when someone sleeps on it or advances it; for tests of
// long time-outs. Thread-safe.
class VirtualClock final : public Clock {
 public:
  explicit VirtualClock(uint32_t start_ms = 0) : now_(start_ms) {}
  uint32_t TickMs() override;
  void SleepMs(uint32_t ms) override;
  void Advance(uint32_t ms);

 private:
  uint32_t now_;  // guarded by an internal lock in the implementation
};

// One deadline helper for every blocking wait: remaining milliseconds until the
// deadline, 0 when it has passed.
struct Deadline {
  uint32_t start_ms;
  uint32_t limit_ms;
  uint32_t RemainingMs(Clock& clock) const {
    const uint32_t elapsed = clock.TickMs() - start_ms;
    return elapsed >= limit_ms ? 0 : limit_ms - elapsed;
  }
  bool Passed(Clock& clock) const { return RemainingMs(clock) == 0; }
};

}  // namespace vantrel::platform
