// Windows backend of the watchdog's seam: tasklist for the process check, the Run key
// for autostart. Built only on Windows.

#include "watchdog/platform.h"

#include <QProcess>
#include <QSettings>

namespace vantrel::watchdog {

namespace {

constexpr char kRunKey[] = "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr int kTasklistWaitMs = 30000;

}  // namespace

QString ServerFileName() { return QStringLiteral("quorv_socket.exe"); }

QString ProgramFileName() { return QStringLiteral("Tarnwick.exe"); }

bool IsProcessRunning(const QString& imageName) {
  QProcess tasklist;
  tasklist.start(QStringLiteral("tasklist"),
                 {QStringLiteral("/FI"), QStringLiteral("imagename eq ") + imageName},
                 QIODevice::ReadWrite);
  // A failed start or a time-out leaves the output short of the name: the server is
  // then started, which is the safe side.
  tasklist.waitForFinished(kTasklistWaitMs);
  const QString output = QString::fromLocal8Bit(tasklist.readAllStandardOutput());
  tasklist.close();
  return output.contains(imageName, Qt::CaseSensitive);
}

QString AutostartEntryLocation(const QString& entryName) {
  return QString::fromLatin1(kRunKey) + QLatin1Char('\\') + entryName;
}

bool WriteAutostartEntry(const QString& entryName, const QString& programPath) {
  if (entryName.isEmpty() || programPath.isEmpty()) return false;
  QSettings settings(QString::fromLatin1(kRunKey), QSettings::NativeFormat);
  settings.setValue(entryName, programPath);
  settings.sync();
  return settings.status() == QSettings::NoError;
}

void PrepareWindowSystem() {}

void QuitOnTerminationSignals() {}

// Named shared memory on Windows goes with its last holder, so the segment alone is
// enough and there is no lock to take.
InstanceLockResult TryLockInstance(const QString&, InstanceLock*) {
  return InstanceLockResult::kUnavailable;
}

void UnlockInstance(InstanceLock*) {}

}  // namespace vantrel::watchdog
