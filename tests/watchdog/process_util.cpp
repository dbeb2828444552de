#include "watchdog/process_util.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/ipc.h>
#include <sys/prctl.h>
#include <sys/sem.h>
#include <sys/shm.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace tarnwick_test {

ScratchDir::ScratchDir() {
  std::string pattern = (fs::temp_directory_path() / "tarnwick-test-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

std::string ReadText(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

void WriteText(const fs::path& file, const std::string& text, bool executable) {
  {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << text;
  }
  if (executable) {
    fs::permissions(file, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec,
                    fs::perm_options::replace);
  }
}

void CopyExecutable(const fs::path& from, const fs::path& to) {
  fs::copy_file(from, to, fs::copy_options::overwrite_existing);
  fs::permissions(to, fs::perms::owner_all, fs::perm_options::replace);
}

ScopedEnv::ScopedEnv(const std::string& name, const std::optional<std::string>& value)
    : name_(name) {
  if (const char* old = std::getenv(name.c_str())) old_ = old;
  if (value) {
    ::setenv(name.c_str(), value->c_str(), 1);
  } else {
    ::unsetenv(name.c_str());
  }
}

ScopedEnv::~ScopedEnv() {
  if (old_) {
    ::setenv(name_.c_str(), old_->c_str(), 1);
  } else {
    ::unsetenv(name_.c_str());
  }
}

std::vector<std::string> EnvironmentWith(const std::vector<std::string>& drop,
                                         const std::vector<std::string>& extra) {
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    bool dropped = false;
    for (const std::string& name : drop) {
      if (entry.compare(0, name.size() + 1, name + "=") == 0) dropped = true;
    }
    if (!dropped) env.push_back(entry);
  }
  env.insert(env.end(), extra.begin(), extra.end());
  return env;
}

pid_t Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env,
            const fs::path& log, int stdin_fd) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  std::vector<char*> envp;
  for (const std::string& e : env) envp.push_back(const_cast<char*>(e.c_str()));
  envp.push_back(nullptr);
  const std::string log_path = log.empty() ? std::string("/dev/null") : log.string();

  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    const int in = stdin_fd >= 0 ? stdin_fd : ::open("/dev/null", O_RDONLY);
    const int out = ::open(log_path.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (in < 0 || out < 0) ::_exit(126);
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(out, 2);
    ::execve(args[0], args.data(), envp.data());
    ::_exit(127);
  }
  return pid;
}

Reaper::Reaper() {
  // Detached grandchildren (servers, successors) come back to us instead of init.
  ::prctl(PR_SET_CHILD_SUBREAPER, 1);
}

void Reaper::Reap() {
  for (;;) {
    int status = 0;
    const pid_t pid = ::waitpid(-1, &status, WNOHANG);
    if (pid <= 0) break;
    statuses_[pid] = status;
  }
}

std::optional<int> Reaper::Status(pid_t pid) {
  Reap();
  const auto it = statuses_.find(pid);
  if (it == statuses_.end()) return std::nullopt;
  return it->second;
}

bool Reaper::WaitExit(pid_t pid, std::chrono::milliseconds limit) {
  return WaitFor([&] { return Status(pid).has_value(); }, limit);
}

bool Reaper::WaitNoChildren(std::chrono::milliseconds limit) {
  return WaitFor([&] {
    Reap();
    return ::waitpid(-1, nullptr, WNOHANG) < 0 && errno == ECHILD;
  }, limit);
}

bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  for (;;) {
    if (done()) return true;
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

std::vector<pid_t> PidsWithExe(const fs::path& exe) {
  const std::string wanted = exe.string();
  const std::string wanted_deleted = wanted + " (deleted)";
  std::vector<pid_t> pids;
  DIR* proc = ::opendir("/proc");
  if (proc == nullptr) return pids;
  while (const dirent* entry = ::readdir(proc)) {
    char* end = nullptr;
    const long pid = std::strtol(entry->d_name, &end, 10);
    if (pid <= 0 || *end != '\0') continue;
    char link[4096];
    const std::string path = std::string("/proc/") + entry->d_name + "/exe";
    const ssize_t n = ::readlink(path.c_str(), link, sizeof link);
    if (n <= 0 || static_cast<std::size_t>(n) >= sizeof link) continue;
    const std::string target(link, static_cast<std::size_t>(n));
    if (target == wanted || target == wanted_deleted) pids.push_back(static_cast<pid_t>(pid));
  }
  ::closedir(proc);
  return pids;
}

bool IsAlive(pid_t pid) {
  const std::string stat = ReadText("/proc/" + std::to_string(pid) + "/stat");
  const std::size_t paren = stat.rfind(')');
  if (paren == std::string::npos || paren + 2 >= stat.size()) return false;
  return stat[paren + 2] != 'Z' && stat[paren + 2] != 'X';
}

void RemoveStaleIpc(const fs::path& dir) {
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(dir, ec)) {
    const std::string name = entry.path().filename().string();
    // Qt keys its System V objects with ftok on these files and the letter 'Q'.
    const key_t key = ::ftok(entry.path().c_str(), 'Q');
    if (key == -1) continue;
    if (name.rfind("qipc_sharedmemory_", 0) == 0) {
      const int id = ::shmget(key, 0, 0);
      shmid_ds info{};
      if (id >= 0 && ::shmctl(id, IPC_STAT, &info) == 0 && info.shm_nattch == 0) {
        ::shmctl(id, IPC_RMID, nullptr);
      }
    } else if (name.rfind("qipc_systemsem_", 0) == 0) {
      const int id = ::semget(key, 1, 0);
      if (id >= 0) ::semctl(id, 0, IPC_RMID);
    }
  }
}

}  // namespace tarnwick_test
