#pragma once
// Process and file helpers for the watchdog tests. The test process makes itself the
// reaper of everything it starts, however detached, so it can reap and kill by pid.

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tarnwick_test {

namespace fs = std::filesystem;

class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

std::string ReadText(const fs::path& file);
void WriteText(const fs::path& file, const std::string& text, bool executable = false);
void CopyExecutable(const fs::path& from, const fs::path& to);

// Sets or, with an empty optional, removes a variable for the test's life.
class ScopedEnv {
 public:
  ScopedEnv(const std::string& name, const std::optional<std::string>& value);
  ~ScopedEnv();

 private:
  std::string name_;
  std::optional<std::string> old_;
};

// Starts argv[0] with the given environment; stdin from stdin_fd (or /dev/null),
// output appended to log (or /dev/null).
pid_t Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env,
            const fs::path& log = {}, int stdin_fd = -1);

// This process's environment without the named variables, plus extra NAME=value pairs.
std::vector<std::string> EnvironmentWith(const std::vector<std::string>& drop,
                                         const std::vector<std::string>& extra);

// Reaps every finished child (the test is their subreaper) and keeps their status.
class Reaper {
 public:
  Reaper();
  void Reap();
  std::optional<int> Status(pid_t pid);  // raw wait status, once reaped
  bool WaitExit(pid_t pid, std::chrono::milliseconds limit);
  // Until no child at all is left: a detached start's helper may still be ending.
  bool WaitNoChildren(std::chrono::milliseconds limit);

 private:
  std::map<pid_t, int> statuses_;
};

// Polls until done() or the limit passes; true when done.
bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit);

// Live (not zombie) processes whose executable file is exactly exe.
std::vector<pid_t> PidsWithExe(const fs::path& exe);

bool IsAlive(pid_t pid);

// Removes the System V segments and semaphores that Qt keyed on files in dir and
// that copies killed by a test left behind (a segment only once nobody is attached).
void RemoveStaleIpc(const fs::path& dir);

}  // namespace tarnwick_test
