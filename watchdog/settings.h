#pragma once
// What the watchdog's timing and paths are. The shipped program uses the defaults;
// the test build of the program shortens the timings, and in-process tests point the
// paths at a scratch directory.

#include <functional>

#include <QString>

namespace vantrel::watchdog {

inline constexpr int kCheckIntervalMs = 15000;
inline constexpr int kRestartAfterChecks = 10000;
// A successor whose predecessor still holds the key waits this long before giving up.
inline constexpr int kHandoverWaitMs = 5000;

// Set in the successor's environment by a copy that restarts itself.
inline constexpr char kSuccessorVariable[] = "TARNWICK_SUCCESSOR_OF";

struct WatchdogSettings {
  int check_interval_ms = kCheckIntervalMs;
  // The copy quits and starts a new one when its check counter passes this.
  int restart_after_checks = kRestartAfterChecks;
  int handover_wait_ms = kHandoverWaitMs;
  // Empty: the program's directory and application name, from QCoreApplication.
  QString program_dir;
  QString application_name;
  // Empty: ServerFileName(). Tests running side by side each supervise a server of
  // their own name, since the check looks at every process on the machine.
  QString server_file_name;
  // Test builds only: told of each step ("check 3", "key-wait", ...).
  std::function<void(const QString&)> trace;
};

}  // namespace vantrel::watchdog
