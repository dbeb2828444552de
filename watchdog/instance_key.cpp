#include "watchdog/instance_key.h"

#include <QDeadlineTimer>
#include <QThread>

namespace vantrel::watchdog {

InstanceKey::InstanceKey(const QString& name) : name_(name), segment_(name) {}

InstanceKey::~InstanceKey() { Release(); }

InstanceKey::Outcome InstanceKey::Acquire(int waitMs) {
  if (held_) return Outcome::kAcquired;
  QDeadlineTimer deadline(waitMs > 0 ? waitMs : 0);
  for (;;) {
    const Outcome outcome = TryOnce();
    if (outcome != Outcome::kHeld || deadline.hasExpired()) return outcome;
    QThread::msleep(kKeyRetryStepMs);
  }
}

InstanceKey::Outcome InstanceKey::TryOnce() {
  const InstanceLockResult lock = TryLockInstance(name_, &lock_);
  if (lock == InstanceLockResult::kBusy) return Outcome::kHeld;

  // Twice: a probe can only reach a segment through Qt's key file, and a stale
  // segment may sit under a key file that is gone (a cleaned temp folder) until the
  // first create makes the file anew.
  for (int attempt = 0; attempt < 2; ++attempt) {
    {
      // A segment nobody else is attached to goes away when this probe detaches.
      QSharedMemory probe(name_);
      if (probe.attach()) probe.detach();
    }
    if (segment_.create(1, QSharedMemory::ReadWrite)) {
      held_ = true;
      return Outcome::kAcquired;
    }
  }
  // Still there: a live process is attached, one that does not take our lock (an
  // older build, say). Treat it as a running copy.
  const bool live = segment_.attach(QSharedMemory::ReadWrite);
  if (live) segment_.detach();
  UnlockInstance(&lock_);
  return live ? Outcome::kHeld : Outcome::kFailed;
}

void InstanceKey::Release() {
  if (segment_.isAttached()) segment_.detach();
  UnlockInstance(&lock_);
  held_ = false;
}

}  // namespace vantrel::watchdog
