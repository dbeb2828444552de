#pragma once
// The three things the watchdog asks of the operating system, plus the instance lock
// that keeps a crashed copy from blocking the next one. One backend per system:
// platform_linux.cpp (process table in /proc, freedesktop autostart entry, flock) and
// platform_windows.cpp (tasklist, the Run key). Everything above this header is one
// code path for both.

#include <QString>
#include <QStringList>

namespace vantrel::watchdog {

// File name of the supervised socket server: "quorv_socket" here, "quorv_socket.exe"
// on Windows.
QString ServerFileName();

// File name of the watchdog's own executable: "Tarnwick" / "Tarnwick.exe".
QString ProgramFileName();

// True when a process whose executable file is named imageName exists. A process that
// only carries the name in its arguments (an editor, a grep) does not count. Never
// blocks for long: Linux reads /proc, Windows waits at most 30 s for tasklist.
bool IsProcessRunning(const QString& imageName);

// Registers programPath (already in native separators) to start at log-on under
// entryName, replacing what an earlier start wrote. Returns false when nothing could
// be written; the watchdog does not report that, tests do look at it.
bool WriteAutostartEntry(const QString& entryName, const QString& programPath);

// Where WriteAutostartEntry writes, for the README and for tests. Empty when no
// location can be worked out.
QString AutostartEntryLocation(const QString& entryName);

// Starts path detached with no arguments; extraEnvironment holds NAME=value pairs
// added to the inherited environment (used to mark a self-restart). True when the
// program was started.
bool StartDetached(const QString& path, const QStringList& extraEnvironment = {});

// Called before the application object exists. The widget is never shown, so where no
// display can be reached (a log-on without one, a service) the program must still run:
// Linux then falls back to the offscreen platform. Windows needs nothing.
void PrepareWindowSystem();

// Called once the application object exists. Where the system ends programs by
// signal (log-out, shutdown, kill), those signals end the event loop instead, so the
// key is given up as on any other exit. Windows needs nothing.
void QuitOnTerminationSignals();

// Per-user lock that the kernel drops when its holder dies, however it dies.
enum class InstanceLockResult { kLocked, kBusy, kUnavailable };

struct InstanceLock {
  int fd = -1;  // the open lock file on Linux; unused on Windows
};

// Tries once, never waits. kBusy: a live copy holds it. kUnavailable: no lock can be
// had on this system or in this environment; the caller goes on without it.
InstanceLockResult TryLockInstance(const QString& name, InstanceLock* lock);
void UnlockInstance(InstanceLock* lock);

}  // namespace vantrel::watchdog
