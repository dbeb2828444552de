// Tarnwick: keeps the local socket server running. No options of its own; the command
// line goes to Qt unchanged.

#include <QCoreApplication>
#include <QFile>
#include <QtGlobal>

#include "watchdog/watchdog_app.h"

#if defined(__SANITIZE_ADDRESS__)
// Sanitizer builds: fontconfig keeps its caches until exit on purpose, and Qt's
// offscreen platform (used without a display) never frees its screen; neither is
// ours to report.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\nleak:libqoffscreen.so\n"; }
#endif

namespace {

#ifdef TARNWICK_TEST_BUILD
// Test build only: timings from the environment, so that tests reach the self-restart
// in a second instead of 41 hours, and a trace of each step for them to read.
void ApplyTestSettings(vantrel::watchdog::WatchdogSettings* settings) {
  bool ok = false;
  int value = qEnvironmentVariableIntValue("TARNWICK_TEST_CHECK_INTERVAL_MS", &ok);
  if (ok && value > 0) settings->check_interval_ms = value;
  value = qEnvironmentVariableIntValue("TARNWICK_TEST_RESTART_AFTER", &ok);
  if (ok && value > 0) settings->restart_after_checks = value;
  // Lets a test see one hand-over and then a successor that stays.
  value = qEnvironmentVariableIntValue("TARNWICK_TEST_SUCCESSOR_RESTART_AFTER", &ok);
  if (ok && value > 0 && !qEnvironmentVariableIsEmpty(vantrel::watchdog::kSuccessorVariable)) {
    settings->restart_after_checks = value;
  }
  value = qEnvironmentVariableIntValue("TARNWICK_TEST_HANDOVER_WAIT_MS", &ok);
  if (ok && value >= 0) settings->handover_wait_ms = value;
  settings->server_file_name = qEnvironmentVariable("TARNWICK_TEST_SERVER_NAME");
  const QString trace_file = qEnvironmentVariable("TARNWICK_TEST_TRACE");
  if (!trace_file.isEmpty()) {
    settings->trace = [trace_file](const QString& what) {
      QFile file(trace_file);
      if (!file.open(QIODevice::WriteOnly | QIODevice::Append)) return;
      file.write(QByteArray::number(QCoreApplication::applicationPid()) + ' ' + what.toUtf8() +
                 '\n');
    };
  }
}
#endif

}  // namespace

int main(int argc, char** argv) {
  vantrel::watchdog::WatchdogSettings settings;
#ifdef TARNWICK_TEST_BUILD
  ApplyTestSettings(&settings);
#endif
  return vantrel::watchdog::RunWatchdog(argc, argv, settings);
}
