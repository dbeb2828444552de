// Linux backend of the watchdog's seam: the process table from /proc, the freedesktop
// autostart entry, flock for the instance lock. Detached starts are in platform_qt.cpp.

#include "watchdog/platform.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string_view>

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSocketNotifier>

#include "watchdog/desktop_entry.h"
#include "watchdog/process_match.h"

namespace vantrel::watchdog {

namespace {

// Only the first three arguments matter, and a process name is 15 bytes; bigger reads
// are cut, never overrun.
constexpr std::size_t kCmdlineBytes = 4096;
constexpr std::size_t kCommBytes = 64;
constexpr std::size_t kExeBytes = 4096 + 32;

// Reads up to size bytes of a small /proc file; -1 when it cannot be opened.
ssize_t ReadProcFile(const char* path, char* buffer, std::size_t size) {
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  std::size_t total = 0;
  while (total < size) {
    const ssize_t n = ::read(fd, buffer + total, size - total);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    total += static_cast<std::size_t>(n);
  }
  ::close(fd);
  return static_cast<ssize_t>(total);
}

bool AllDigits(const char* name) {
  if (*name == '\0') return false;
  for (; *name != '\0'; ++name) {
    if (*name < '0' || *name > '9') return false;
  }
  return true;
}

// What /proc says about one process; false when it vanished meanwhile.
bool ReadProcessFacts(const char* pid, ProcessFacts* facts) {
  char path[64];
  char buffer[kCmdlineBytes];

  std::snprintf(path, sizeof path, "/proc/%s/exe", pid);
  char exe[kExeBytes];
  const ssize_t exe_len = ::readlink(path, exe, sizeof exe);
  // A target that fills the buffer may be cut: better unknown than a wrong name.
  facts->exe_known = exe_len > 0 && static_cast<std::size_t>(exe_len) < sizeof exe;
  facts->exe = facts->exe_known ? std::string(exe, static_cast<std::size_t>(exe_len))
                                : std::string();

  std::snprintf(path, sizeof path, "/proc/%s/comm", pid);
  char comm[kCommBytes];
  ssize_t n = ReadProcFile(path, comm, sizeof comm);
  if (n < 0) return false;
  std::string_view comm_text(comm, static_cast<std::size_t>(n));
  if (comm_text.ends_with('\n')) comm_text.remove_suffix(1);
  facts->comm.assign(comm_text);

  std::snprintf(path, sizeof path, "/proc/%s/cmdline", pid);
  n = ReadProcFile(path, buffer, sizeof buffer);
  facts->argv = n > 0 ? SplitCommandLine(std::string_view(buffer, static_cast<std::size_t>(n)))
                      : std::vector<std::string>();
  return true;
}

// Written to by the signal handler, read on the GUI thread: the only safe way out of
// a handler.
int g_signal_fds[2] = {-1, -1};

void OnTerminationSignal(int) {
  const int saved = errno;
  const char byte = 1;
  [[maybe_unused]] const ssize_t n = ::write(g_signal_fds[0], &byte, 1);
  errno = saved;
}

QString LockDirectory() {
  const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
  if (!runtime.isEmpty() && QDir::isAbsolutePath(runtime) && QFileInfo(runtime).isDir()) {
    return runtime;
  }
  return QDir::tempPath();
}

}  // namespace

QString ServerFileName() { return QStringLiteral("quorv_socket"); }

QString ProgramFileName() { return QStringLiteral("Tarnwick"); }

bool IsProcessRunning(const QString& imageName) {
  const QByteArray wanted = QFile::encodeName(imageName);
  DIR* proc = ::opendir("/proc");
  if (proc == nullptr) return false;
  bool found = false;
  ProcessFacts facts;
  while (!found) {
    const dirent* entry = ::readdir(proc);
    if (entry == nullptr) break;
    if (!AllDigits(entry->d_name)) continue;
    if (!ReadProcessFacts(entry->d_name, &facts)) continue;
    found = ProcessRunsImage(facts, std::string_view(wanted.constData(),
                                                      static_cast<std::size_t>(wanted.size())));
  }
  ::closedir(proc);
  return found;
}

QString AutostartEntryLocation(const QString& entryName) {
  const QString dir = AutostartDirectory(qEnvironmentVariable("XDG_CONFIG_HOME"),
                                         qEnvironmentVariable("HOME"));
  if (dir.isEmpty() || entryName.isEmpty() || entryName.contains(QLatin1Char('/'))) {
    return {};
  }
  return dir + QLatin1Char('/') + entryName + QStringLiteral(".desktop");
}

bool WriteAutostartEntry(const QString& entryName, const QString& programPath) {
  const QString location = AutostartEntryLocation(entryName);
  const QString text = DesktopEntryText(entryName, programPath);
  if (location.isEmpty() || text.isEmpty()) return false;
  if (!QDir().mkpath(QFileInfo(location).absolutePath())) return false;
  // Written aside and renamed, so a session manager never reads half an entry.
  QSaveFile file(location);
  if (!file.open(QIODevice::WriteOnly)) return false;
  const QByteArray bytes = text.toUtf8();
  if (file.write(bytes) != bytes.size()) {
    file.cancelWriting();
    return false;
  }
  return file.commit();
}

void PrepareWindowSystem() {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
      qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
}

void QuitOnTerminationSignals() {
  if (g_signal_fds[0] >= 0 || QCoreApplication::instance() == nullptr) return;
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, g_signal_fds) != 0) {
    g_signal_fds[0] = g_signal_fds[1] = -1;
    return;
  }
  auto* notifier = new QSocketNotifier(g_signal_fds[1], QSocketNotifier::Read,
                                       QCoreApplication::instance());
  QObject::connect(notifier, &QSocketNotifier::activated, [] {
    char drain[16];
    while (::read(g_signal_fds[1], drain, sizeof drain) > 0) {
    }
    QCoreApplication::quit();
  });
  struct sigaction action {};
  action.sa_handler = OnTerminationSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (const int sig : {SIGTERM, SIGINT, SIGHUP}) ::sigaction(sig, &action, nullptr);
}

InstanceLockResult TryLockInstance(const QString& name, InstanceLock* lock) {
  if (lock == nullptr || name.isEmpty() || name.contains(QLatin1Char('/'))) {
    return InstanceLockResult::kUnavailable;
  }
  if (lock->fd >= 0) return InstanceLockResult::kLocked;
  // The uid in the name keeps users apart where the directory is shared (/tmp).
  const QString path = LockDirectory() + QLatin1Char('/') + name + QLatin1Char('-') +
                       QString::number(::geteuid()) + QStringLiteral(".lock");
  const QByteArray native = QFile::encodeName(path);
  const int fd = ::open(native.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd < 0) return InstanceLockResult::kUnavailable;
  struct stat st {};
  // A file someone else planted could be held by them to keep us from ever starting.
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid()) {
    ::close(fd);
    return InstanceLockResult::kUnavailable;
  }
  int rc;
  do {
    rc = ::flock(fd, LOCK_EX | LOCK_NB);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    const bool busy = errno == EWOULDBLOCK;
    ::close(fd);
    return busy ? InstanceLockResult::kBusy : InstanceLockResult::kUnavailable;
  }
  lock->fd = fd;
  return InstanceLockResult::kLocked;
}

void UnlockInstance(InstanceLock* lock) {
  if (lock == nullptr || lock->fd < 0) return;
  // Closing drops the lock; the file stays, removing it would race with a new holder.
  ::close(lock->fd);
  lock->fd = -1;
}

}  // namespace vantrel::watchdog
