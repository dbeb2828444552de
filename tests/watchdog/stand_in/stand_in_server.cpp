// Stands in for the socket server in the watchdog's tests: notes its pid in
// "server_starts" beside its own file, then idles until it is killed. It ends by
// itself after a minute, so a test that dies cannot leave it behind for long. With
// TARNWICK_STAND_IN_EXIT set it ends at once instead.

#include <fcntl.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

int main() {
  char self[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return 1;
  self[n] = '\0';
  char* slash = std::strrchr(self, '/');
  if (slash == nullptr) return 1;
  *slash = '\0';
  char log[PATH_MAX + 32];
  std::snprintf(log, sizeof log, "%s/server_starts", self);
  const int fd = ::open(log, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return 1;
  char line[32];
  const int len = std::snprintf(line, sizeof line, "%d\n", static_cast<int>(::getpid()));
  const bool written = ::write(fd, line, static_cast<std::size_t>(len)) == len;
  ::close(fd);
  if (!written) return 1;
  // A server that crashes at once, for the watchdog's crash-loop test.
  if (std::getenv("TARNWICK_STAND_IN_EXIT") != nullptr) return 3;
  for (int i = 0; i < 600; ++i) ::usleep(100 * 1000);
  return 0;
}
