// The program itself (its test build, with short timings), run in a scratch folder
// beside a stand-in server, with its own configuration and key folders.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <sstream>
#include <thread>

#include "watchdog/process_util.h"

namespace {

using namespace std::chrono_literals;
// Only a limit for waits that end as soon as their condition holds: generous, for
// sanitizer builds on a busy machine.
constexpr auto kPatience = 30s;
namespace fs = tarnwick_test::fs;
using tarnwick_test::Reaper;
using tarnwick_test::ScratchDir;
using tarnwick_test::WaitFor;

struct TraceLine {
  pid_t pid;
  std::string what;
};

class TarnwickProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(bin_);
    fs::create_directories(dir_.path() / "tmp");
    fs::create_directories(dir_.path() / "run");
    fs::permissions(dir_.path() / "run", fs::perms::owner_all, fs::perm_options::replace);
    tarnwick_test::CopyExecutable(TARNWICK_TEST_PROGRAM, bin_ / "Tarnwick");
    tarnwick_test::CopyExecutable(TARNWICK_STAND_IN_SERVER, server_);
  }

  // Kills, by pid, every copy and server this test brought about, until none is left
  // (a copy may start a successor just before it dies).
  void TearDown() override {
    int quiet_rounds = 0;
    for (int round = 0; round < 100 && quiet_rounds < 3; ++round) {
      std::vector<pid_t> pids = tarnwick_test::PidsWithExe(bin_ / "Tarnwick");
      for (pid_t p : tarnwick_test::PidsWithExe(server_)) pids.push_back(p);
      for (pid_t p : started_) {
        if (tarnwick_test::IsAlive(p)) pids.push_back(p);
      }
      quiet_rounds = pids.empty() ? quiet_rounds + 1 : 0;
      for (pid_t p : pids) ::kill(p, SIGKILL);
      std::this_thread::sleep_for(20ms);
      reaper_.Reap();
    }
    tarnwick_test::RemoveStaleIpc(dir_.path() / "tmp");
  }

  pid_t StartCopy(const std::vector<std::string>& extra = {}) {
    std::vector<std::string> env = {
        "QT_QPA_PLATFORM=offscreen",
        "XDG_CONFIG_HOME=" + (dir_.path() / "config").string(),
        "TMPDIR=" + (dir_.path() / "tmp").string(),
        "XDG_RUNTIME_DIR=" + (dir_.path() / "run").string(),
        "TARNWICK_TEST_TRACE=" + trace_.string(),
        "TARNWICK_TEST_CHECK_INTERVAL_MS=50",
        "TARNWICK_TEST_SERVER_NAME=" + server_name_,
    };
    bool restart_given = false;
    for (const std::string& e : extra) {
      if (e.rfind("TARNWICK_TEST_RESTART_AFTER=", 0) == 0) restart_given = true;
    }
    if (!restart_given) env.push_back("TARNWICK_TEST_RESTART_AFTER=1000000");
    // In front, so that a setting given here wins over the default above.
    env.insert(env.begin(), extra.begin(), extra.end());
    const pid_t pid = tarnwick_test::Spawn(
        {(bin_ / "Tarnwick").string()},
        tarnwick_test::EnvironmentWith({"QT_QPA_PLATFORM", "XDG_CONFIG_HOME", "TMPDIR",
                                        "XDG_RUNTIME_DIR", "TARNWICK_SUCCESSOR_OF"}, env),
        dir_.path() / "program.log");
    started_.push_back(pid);
    return pid;
  }

  std::vector<TraceLine> Trace() const {
    std::vector<TraceLine> lines;
    std::istringstream in(tarnwick_test::ReadText(trace_));
    std::string line;
    while (std::getline(in, line)) {
      const std::size_t space = line.find(' ');
      if (space == std::string::npos) continue;
      lines.push_back({static_cast<pid_t>(std::stol(line.substr(0, space))),
                       line.substr(space + 1)});
    }
    return lines;
  }

  bool Traced(pid_t pid, const std::string& what) const {
    for (const TraceLine& l : Trace()) {
      if (l.pid == pid && l.what == what) return true;
    }
    return false;
  }

  int CountTraced(pid_t pid, const std::string& what) const {
    int n = 0;
    for (const TraceLine& l : Trace()) n += l.pid == pid && l.what == what;
    return n;
  }

  std::vector<pid_t> ServerStarts() const {
    std::vector<pid_t> pids;
    std::istringstream in(tarnwick_test::ReadText(bin_ / "server_starts"));
    long pid;
    while (in >> pid) pids.push_back(static_cast<pid_t>(pid));
    return pids;
  }

  bool ExitedWithZero(pid_t pid) {
    const std::optional<int> status = reaper_.Status(pid);
    return status && WIFEXITED(*status) && WEXITSTATUS(*status) == 0;
  }

  std::string Log() const { return tarnwick_test::ReadText(dir_.path() / "program.log"); }

  Reaper reaper_;
  ScratchDir dir_;
  fs::path bin_ = dir_.path() / "bin";
  fs::path trace_ = dir_.path() / "trace";
  // The check looks at the whole machine: each test supervises a server of its own
  // name, so that tests running side by side do not see each other's.
  std::string server_name_ = "quorv_socket_" + std::to_string(::getpid());
  fs::path server_ = bin_ / server_name_;
  fs::path autostart_ = dir_.path() / "config/autostart/Tarnwick.desktop";
  std::vector<pid_t> started_;
};

TEST_F(TarnwickProgram, FirstCopyStartsTheAbsentServerAndRegistersItself) {
  const pid_t copy = StartCopy();
  ASSERT_TRUE(WaitFor([&] { return Traced(copy, "check 1") && !ServerStarts().empty(); }, kPatience))
      << Log();
  // The server start belongs to the first check, the one made at construction.
  const std::vector<TraceLine> trace = Trace();
  ASSERT_GE(trace.size(), 2u);
  EXPECT_EQ(trace[0].what, "server-start");
  EXPECT_EQ(trace[1].what, "check 1");
  EXPECT_EQ(tarnwick_test::PidsWithExe(server_), ServerStarts());

  const std::string entry = tarnwick_test::ReadText(autostart_);
  EXPECT_NE(entry.find("\nExec=\"" + (bin_ / "Tarnwick").string() + "\"\n"), std::string::npos)
      << entry;
  EXPECT_NE(entry.find("\nType=Application\n"), std::string::npos);
}

TEST_F(TarnwickProgram, ARunningServerIsNotStartedAgain) {
  const pid_t copy = StartCopy();
  ASSERT_TRUE(WaitFor([&] { return Traced(copy, "check 8") && !ServerStarts().empty(); },
                      kPatience)) << Log();
  EXPECT_EQ(ServerStarts().size(), 1u);
  EXPECT_EQ(CountTraced(copy, "server-start"), 1);
}

TEST_F(TarnwickProgram, AServerStartedElsewhereIsLeftAlone) {
  const pid_t server = tarnwick_test::Spawn({server_.string()},
                                            tarnwick_test::EnvironmentWith({}, {}));
  started_.push_back(server);
  ASSERT_TRUE(WaitFor([&] { return ServerStarts().size() == 1; }, kPatience));
  const pid_t copy = StartCopy();
  ASSERT_TRUE(WaitFor([&] { return Traced(copy, "check 5"); }, kPatience)) << Log();
  EXPECT_EQ(ServerStarts(), std::vector<pid_t>{server});
  EXPECT_EQ(CountTraced(copy, "server-start"), 0);
  // Once it is gone, the next check brings it back.
  ::kill(server, SIGKILL);
  EXPECT_TRUE(WaitFor([&] { return ServerStarts().size() == 2; }, kPatience));
}

TEST_F(TarnwickProgram, ASecondCopyEndsAtOnceAndTouchesNothing) {
  const pid_t first = StartCopy();
  ASSERT_TRUE(WaitFor([&] { return Traced(first, "check 2") && ServerStarts().size() == 1; },
                      kPatience)) << Log();
  fs::remove(autostart_);
  const pid_t second = StartCopy();
  ASSERT_TRUE(reaper_.WaitExit(second, kPatience));
  EXPECT_TRUE(ExitedWithZero(second)) << Log();
  EXPECT_FALSE(fs::exists(autostart_));
  EXPECT_EQ(ServerStarts().size(), 1u);
  EXPECT_TRUE(Traced(second, "key-held"));
  for (const TraceLine& l : Trace()) {
    if (l.pid == second) {
      EXPECT_EQ(l.what, "key-held");
    }
  }
  EXPECT_TRUE(tarnwick_test::IsAlive(first));
}

TEST_F(TarnwickProgram, ACopyKilledOutrightDoesNotBlockTheNext) {
  const pid_t first = StartCopy();
  ASSERT_TRUE(WaitFor([&] { return Traced(first, "check 1") && ServerStarts().size() == 1; },
                      kPatience)) << Log();
  ::kill(first, SIGKILL);
  ASSERT_TRUE(reaper_.WaitExit(first, kPatience));
  // What the dead copy left behind: its segment's key file, never removed.
  bool stale_key = false;
  for (const auto& e : fs::directory_iterator(dir_.path() / "tmp")) {
    stale_key |= e.path().filename().string().rfind("qipc_sharedmemory_Tarnwick", 0) == 0;
  }
  EXPECT_TRUE(stale_key);
  for (pid_t p : ServerStarts()) ::kill(p, SIGKILL);
  ASSERT_TRUE(WaitFor([&] { return tarnwick_test::PidsWithExe(server_).empty(); }, kPatience));

  const pid_t next = StartCopy();
  ASSERT_TRUE(WaitFor([&] { return Traced(next, "check 3"); }, kPatience)) << Log();
  EXPECT_EQ(ServerStarts().size(), 2u);
  // And it holds the key as firmly as the first did.
  const pid_t third = StartCopy();
  ASSERT_TRUE(reaper_.WaitExit(third, kPatience));
  EXPECT_TRUE(ExitedWithZero(third)) << Log();
  EXPECT_TRUE(Traced(third, "key-held"));
}

TEST_F(TarnwickProgram, ATerminationSignalEndsTheCopyCleanly) {
  const pid_t copy = StartCopy();
  ASSERT_TRUE(WaitFor([&] { return Traced(copy, "check 1") && ServerStarts().size() == 1; },
                      kPatience)) << Log();
  ::kill(copy, SIGTERM);
  ASSERT_TRUE(reaper_.WaitExit(copy, kPatience));
  EXPECT_TRUE(ExitedWithZero(copy)) << Log();
  // The key went with it: Qt removes its key file with the last holder's segment.
  for (const auto& e : fs::directory_iterator(dir_.path() / "tmp")) {
    EXPECT_NE(e.path().filename().string().rfind("qipc_sharedmemory_", 0), 0u) << e.path();
  }
  // The server is not the watchdog's to end.
  EXPECT_EQ(tarnwick_test::PidsWithExe(server_), ServerStarts());
}

TEST_F(TarnwickProgram, SelfRestartLeavesExactlyOneCopy) {
  // The first copy restarts after 3 checks; its successor would only after many.
  const pid_t first = StartCopy({"TARNWICK_TEST_RESTART_AFTER=3",
                                 "TARNWICK_TEST_SUCCESSOR_RESTART_AFTER=1000000"});
  pid_t successor = 0;
  ASSERT_TRUE(WaitFor([&] {
    for (const TraceLine& l : Trace()) {
      if (l.pid != first && l.what == "check 3") successor = l.pid;
    }
    return successor != 0 && !ServerStarts().empty();
  }, kPatience)) << Log();
  ASSERT_TRUE(reaper_.WaitExit(first, kPatience));
  EXPECT_TRUE(ExitedWithZero(first)) << Log();
  EXPECT_EQ(tarnwick_test::PidsWithExe(bin_ / "Tarnwick"), std::vector<pid_t>{successor});

  // The old copy checked four times and stopped before its successor's first check.
  const std::vector<TraceLine> trace = Trace();
  std::size_t first_successor_line = trace.size();
  std::size_t last_first_line = 0;
  for (std::size_t i = 0; i < trace.size(); ++i) {
    if (trace[i].pid == first) last_first_line = i;
    if (trace[i].pid == successor && first_successor_line == trace.size()) first_successor_line = i;
  }
  EXPECT_LT(last_first_line, first_successor_line);
  EXPECT_EQ(trace[last_first_line].what, "restart");
  EXPECT_TRUE(Traced(first, "check 4"));
  EXPECT_FALSE(Traced(first, "check 5"));
  EXPECT_TRUE(Traced(successor, "key-wait"));
  // The server outlives the hand-over and is not started twice.
  EXPECT_EQ(ServerStarts().size(), 1u);

  const pid_t extra = StartCopy();
  ASSERT_TRUE(reaper_.WaitExit(extra, kPatience));
  EXPECT_TRUE(ExitedWithZero(extra)) << Log();
}

TEST_F(TarnwickProgram, ASuccessorWaitsForItsPredecessor) {
  const pid_t first = StartCopy();
  ASSERT_TRUE(WaitFor([&] { return Traced(first, "check 1") && ServerStarts().size() == 1; },
                      kPatience)) << Log();
  const pid_t successor = StartCopy({"TARNWICK_SUCCESSOR_OF=" + std::to_string(first)});
  ASSERT_TRUE(WaitFor([&] { return Traced(successor, "key-wait"); }, kPatience)) << Log();
  // Give it time to find the key held; a copy that did not wait would be gone by then.
  std::this_thread::sleep_for(300ms);
  EXPECT_FALSE(reaper_.Status(successor).has_value());
  ::kill(first, SIGKILL);
  ASSERT_TRUE(WaitFor([&] { return Traced(successor, "check 2"); }, kPatience)) << Log();
  EXPECT_EQ(ServerStarts().size(), 1u);
}

TEST_F(TarnwickProgram, ARestartWithoutAProgramFileKeepsTheCopyRunning) {
  const pid_t copy = StartCopy({"TARNWICK_TEST_RESTART_AFTER=3"});
  ASSERT_TRUE(WaitFor([&] { return Traced(copy, "check 1"); }, kPatience)) << Log();
  // The running file may go; the copy can then not start a successor.
  fs::remove(bin_ / "Tarnwick");
  ASSERT_TRUE(WaitFor([&] { return Traced(copy, "restart-failed"); }, kPatience)) << Log();
  // Counting starts again, and it goes on checking.
  ASSERT_TRUE(WaitFor([&] { return CountTraced(copy, "check 2") >= 2; }, kPatience)) << Log();
  EXPECT_TRUE(tarnwick_test::IsAlive(copy));
  EXPECT_FALSE(Traced(copy, "restart"));
  kill(copy, SIGKILL);
}

}  // namespace

// --- Under faults ---------------------------------------------------------------------

// Zombie children of pid, and its open descriptors.
int Zombies(pid_t pid) {
  int n = 0;
  for (const auto& e : fs::directory_iterator("/proc")) {
    const std::string stat = tarnwick_test::ReadText(e.path() / "stat");
    const std::size_t close = stat.rfind(')');
    if (close == std::string::npos) continue;
    char state = 0;
    long parent = 0;
    if (std::sscanf(stat.c_str() + close + 1, " %c %ld", &state, &parent) == 2) {
      n += state == 'Z' && parent == pid;
    }
  }
  return n;
}

int Descriptors(pid_t pid) {
  std::error_code ec;
  int n = 0;
  for (auto it = fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec);
       !ec && it != fs::directory_iterator(); it.increment(ec)) {
    ++n;
  }
  return n;
}

TEST_F(TarnwickProgram, AServerThatExitsAtOnceIsRestartedAtEachCheckWithoutLeaks) {
  const pid_t copy = StartCopy({"TARNWICK_TEST_CHECK_INTERVAL_MS=20", "TARNWICK_STAND_IN_EXIT=1"});
  // A start holds a pipe for a moment: the fewest descriptors over a few looks count.
  auto fewest_descriptors = [&] {
    int fewest = Descriptors(copy);
    for (int i = 0; i < 200; ++i) {
      std::this_thread::sleep_for(1ms);
      fewest = std::min(fewest, Descriptors(copy));
    }
    return fewest;
  };
  ASSERT_TRUE(WaitFor([&] { return Traced(copy, "check 20"); }, kPatience)) << Log();
  const int descriptors = fewest_descriptors();
  ASSERT_TRUE(WaitFor([&] { return Traced(copy, "check 300"); }, 2 * kPatience)) << Log();
  reaper_.Reap();
  EXPECT_LE(fewest_descriptors(), descriptors);
  EXPECT_LE(Zombies(copy), 1) << "a detached start may be ending just now, no more";
  // The start at launch, then one start per check that found no server, never more. A
  // server that has not ended yet when the next check comes spares that check's start
  // (sanitizer builds start and end slowly), so only a floor well below one per check is
  // sure. Both counts come from one reading of the trace, which the copy still extends.
  int checks = 0, starts = 0;
  for (const TraceLine& l : Trace()) {
    if (l.pid != copy) continue;
    checks += l.what.rfind("check ", 0) == 0;
    starts += l.what == "server-start";
  }
  EXPECT_LE(starts, checks + 1);
  EXPECT_GE(starts, checks / 10);
  EXPECT_GE(static_cast<int>(ServerStarts().size()), starts - 2);
  EXPECT_EQ(CountTraced(copy, "server-start-failed"), 0);
}

TEST_F(TarnwickProgram, AServerThatCannotStartIsLoggedOncePerChange) {
  fs::remove(server_);
  const pid_t copy = StartCopy({"TARNWICK_TEST_CHECK_INTERVAL_MS=10"});
  ASSERT_TRUE(WaitFor([&] { return CountTraced(copy, "server-start-failed") >= 10; }, kPatience))
      << Log();
  // Not executable is the same state as missing: no new line.
  tarnwick_test::WriteText(server_, "#!/bin/sh\n", false);
  const int failed = CountTraced(copy, "server-start-failed");
  ASSERT_TRUE(WaitFor([&] { return CountTraced(copy, "server-start-failed") >= failed + 10; },
                      kPatience)) << Log();
  fs::remove(server_);
  tarnwick_test::CopyExecutable(TARNWICK_STAND_IN_SERVER, server_);
  ASSERT_TRUE(WaitFor([&] { return !ServerStarts().empty(); }, kPatience)) << Log();
  ASSERT_TRUE(WaitFor([&] { return Log().find("Tarnwick: started") != std::string::npos; }, kPatience));
  const std::string log = Log();
  auto count = [&](const std::string& what) {
    int n = 0;
    for (std::size_t at = log.find(what); at != std::string::npos; at = log.find(what, at + 1)) ++n;
    return n;
  };
  EXPECT_EQ(count("cannot start"), 1) << log;
  EXPECT_EQ(count("Tarnwick: started"), 1) << log;
}

TEST_F(TarnwickProgram, AnUnwritableAutostartFolderLeavesSupervisionOn) {
  // The configuration folder is a file: no autostart folder can be made under it.
  tarnwick_test::WriteText(dir_.path() / "config", "not a folder\n");
  const pid_t copy = StartCopy();
  ASSERT_TRUE(WaitFor([&] { return Traced(copy, "check 3") && !ServerStarts().empty(); },
                      kPatience)) << Log();
  EXPECT_TRUE(Traced(copy, "autostart-failed"));
  EXPECT_FALSE(fs::exists(autostart_));
  EXPECT_NE(Log().find("cannot write the autostart entry"), std::string::npos) << Log();
  EXPECT_EQ(ServerStarts().size(), 1u);
}
