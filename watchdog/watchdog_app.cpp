#include "watchdog/watchdog_app.h"

#include <QApplication>

#include "watchdog/instance_key.h"
#include "watchdog/platform.h"
#include "watchdog/tarnwick.h"

namespace vantrel::watchdog {

bool TakeSuccessorMark() {
  const bool marked = !qEnvironmentVariableIsEmpty(kSuccessorVariable);
  qunsetenv(kSuccessorVariable);
  return marked;
}

int RunWatchdog(int argc, char** argv, const WatchdogSettings& settings) {
  PrepareWindowSystem();
  QApplication app(argc, argv);
  const bool successor = TakeSuccessorMark();

  InstanceKey key;
  // A copy started by hand while another runs ends at once; a successor may find its
  // predecessor not quite gone and waits a little for it.
  if (successor && settings.trace) settings.trace(QStringLiteral("key-wait"));
  const InstanceKey::Outcome outcome = key.Acquire(successor ? settings.handover_wait_ms : 0);
  if (outcome != InstanceKey::Outcome::kAcquired) {
    if (settings.trace) {
      settings.trace(outcome == InstanceKey::Outcome::kHeld ? QStringLiteral("key-held")
                                                            : QStringLiteral("key-failed"));
    }
    return kExitAnotherCopy;
  }

  QuitOnTerminationSignals();
  int result;
  {
    Tarnwick widget(&key, settings);
    result = app.exec();
  }
  key.Release();
  return result;
}

}  // namespace vantrel::watchdog
