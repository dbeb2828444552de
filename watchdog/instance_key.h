#pragma once
// The single-instance key: a 1-byte shared-memory segment named "Tarnwick", held for
// the life of the running copy.
//
// On Linux such a segment outlives a copy that crashed, and a plain "attach succeeds,
// so another copy runs" test would then turn every later start away. The key is
// therefore guarded by a per-user lock file (flock), which the kernel releases when
// its holder dies, whatever the death. Whoever holds that lock is the only live copy,
// so a segment it finds has no live owner of ours: it is cleared (attach and detach,
// which removes a segment nobody else is attached to) and created afresh. Where no
// lock can be had, the segment alone decides, as before, after the same clearing.

#include <QSharedMemory>
#include <QString>

#include "watchdog/platform.h"

namespace vantrel::watchdog {

inline constexpr char kInstanceKeyName[] = "Tarnwick";

// How long between two tries while waiting for a key that is held.
inline constexpr int kKeyRetryStepMs = 100;

class InstanceKey {
 public:
  explicit InstanceKey(const QString& name = QString::fromLatin1(kInstanceKeyName));
  ~InstanceKey();
  InstanceKey(const InstanceKey&) = delete;
  InstanceKey& operator=(const InstanceKey&) = delete;

  enum class Outcome {
    kAcquired,  // this copy now holds the key
    kHeld,      // a live copy holds it
    kFailed,    // nobody holds it, yet it could not be created
  };

  // Tries once, then again every kKeyRetryStepMs while the key is held and waitMs has
  // not passed. waitMs 0: one try.
  Outcome Acquire(int waitMs);

  // Gives the key up; a no-op when not held.
  void Release();

  bool IsHeld() const { return held_; }

 private:
  Outcome TryOnce();

  QString name_;
  QSharedMemory segment_;
  InstanceLock lock_;
  bool held_ = false;
};

}  // namespace vantrel::watchdog
