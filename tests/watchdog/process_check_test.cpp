// The process check: only a process whose executable file carries the name counts.

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QString>

#include "watchdog/platform.h"
#include "watchdog/process_match.h"
#include "watchdog/process_util.h"

namespace {

using namespace std::chrono_literals;
// Only a limit for waits that end as soon as their condition holds: generous, for
// sanitizer builds on a busy machine.
constexpr auto kPatience = 30s;
using tarnwick_test::Reaper;
using tarnwick_test::ScratchDir;
using vantrel::watchdog::ProcessFacts;
using vantrel::watchdog::ProcessRunsImage;

ProcessFacts Facts(const char* exe, const char* comm, std::vector<std::string> argv) {
  ProcessFacts f;
  f.exe_known = exe != nullptr;
  if (exe != nullptr) f.exe = exe;
  f.comm = comm;
  f.argv = std::move(argv);
  return f;
}

TEST(ProcessRunsImage, ExecutableFileNameDecides) {
  EXPECT_TRUE(ProcessRunsImage(Facts("/opt/q/quorv_socket", "quorv_socket", {"quorv_socket"}),
                               "quorv_socket"));
  // A server whose file was replaced while it ran is still the server.
  EXPECT_TRUE(ProcessRunsImage(Facts("/opt/q/quorv_socket (deleted)", "quorv_socket", {}),
                               "quorv_socket"));
  // Names that merely start or end like it are other programs.
  EXPECT_FALSE(ProcessRunsImage(Facts("/opt/q/quorv_socket_old", "quorv_socket_ol",
                                      {"/opt/q/quorv_socket_old"}), "quorv_socket"));
  EXPECT_FALSE(ProcessRunsImage(Facts("/opt/q/xquorv_socket", "xquorv_socket",
                                      {"/opt/q/xquorv_socket"}), "quorv_socket"));
  EXPECT_FALSE(ProcessRunsImage(Facts("/opt/q/quorv_socket", "quorv_socket", {}), ""));
}

TEST(ProcessRunsImage, NameInArgumentsDoesNotCount) {
  EXPECT_FALSE(ProcessRunsImage(Facts("/usr/bin/vim", "vim", {"vim", "quorv_socket"}),
                                "quorv_socket"));
  EXPECT_FALSE(ProcessRunsImage(Facts("/usr/bin/grep", "grep", {"grep", "-r", "quorv_socket"}),
                                "quorv_socket"));
  // An interpreter given the file by hand keeps its own process name.
  EXPECT_FALSE(ProcessRunsImage(Facts("/usr/bin/dash", "sh", {"sh", "/opt/q/quorv_socket"}),
                                "quorv_socket"));
  // A process name alone, without arguments to confirm it, is not enough (zombies).
  EXPECT_FALSE(ProcessRunsImage(Facts(nullptr, "quorv_socket", {}), "quorv_socket"));
  EXPECT_FALSE(ProcessRunsImage(Facts(nullptr, "quorv_socket", {"bash", "-c", "x", "y"}),
                                "quorv_socket"));
}

TEST(ProcessRunsImage, ScriptsAndUnreadableExecutablesGoByProcessName) {
  // A #! script: exe is the interpreter, the kernel names the process after the script.
  EXPECT_TRUE(ProcessRunsImage(Facts("/usr/bin/dash", "quorv_socket",
                                     {"/bin/sh", "/opt/q/quorv_socket"}), "quorv_socket"));
  EXPECT_TRUE(ProcessRunsImage(Facts("/usr/bin/dash", "quorv_socket",
                                     {"/bin/sh", "-e", "/opt/q/quorv_socket"}), "quorv_socket"));
  // Another user's process: exe unreadable.
  EXPECT_TRUE(ProcessRunsImage(Facts(nullptr, "quorv_socket", {"./quorv_socket"}),
                               "quorv_socket"));
  // The kernel cuts process names to 15 bytes.
  EXPECT_TRUE(ProcessRunsImage(Facts(nullptr, "a_rather_long_s", {"/x/a_rather_long_server"}),
                               "a_rather_long_server"));
  EXPECT_FALSE(ProcessRunsImage(Facts(nullptr, "a_rather_long_server", {"/x/a_rather_long_server"}),
                                "a_rather_long_server"));
}

TEST(SplitCommandLine, SplitsAtNulBytes) {
  using vantrel::watchdog::SplitCommandLine;
  EXPECT_EQ(SplitCommandLine(std::string_view("/bin/sh\0-e\0x\0", 13)),
            (std::vector<std::string>{"/bin/sh", "-e", "x"}));
  // Cut short by the read limit: the last piece has no NUL.
  EXPECT_EQ(SplitCommandLine(std::string_view("a\0\0bc", 5)),
            (std::vector<std::string>{"a", "", "bc"}));
  EXPECT_TRUE(SplitCommandLine({}).empty());
}

// Each live test uses a name of its own, so tests running side by side cannot meet.
std::string UniqueName(const char* what) {
  return std::string("tw_") + what + "_" + std::to_string(::getpid());
}

TEST(IsProcessRunning, SeesAProgramOnlyWhileItRuns) {
  Reaper reaper;
  ScratchDir dir;
  const std::string name = UniqueName("bin");
  tarnwick_test::CopyExecutable(TARNWICK_STAND_IN_SERVER, dir.path() / name);
  const QString qname = QString::fromStdString(name);
  EXPECT_FALSE(vantrel::watchdog::IsProcessRunning(qname));

  const pid_t pid = tarnwick_test::Spawn({(dir.path() / name).string()},
                                         tarnwick_test::EnvironmentWith({}, {}));
  EXPECT_TRUE(tarnwick_test::WaitFor([&] { return vantrel::watchdog::IsProcessRunning(qname); },
                                     kPatience));
  ::kill(pid, SIGKILL);
  ASSERT_TRUE(reaper.WaitExit(pid, kPatience));
  EXPECT_FALSE(vantrel::watchdog::IsProcessRunning(qname));
}

TEST(IsProcessRunning, IgnoresTheNameInAnotherProgramsArguments) {
  Reaper reaper;
  ScratchDir dir;
  const std::string name = UniqueName("arg");
  tarnwick_test::CopyExecutable(TARNWICK_STAND_IN_SERVER, dir.path() / "editor");
  const pid_t pid = tarnwick_test::Spawn({(dir.path() / "editor").string(), name,
                                          (dir.path() / name).string()},
                                         tarnwick_test::EnvironmentWith({}, {}));
  // Once it has noted its start it is surely past exec.
  ASSERT_TRUE(tarnwick_test::WaitFor(
      [&] { return tarnwick_test::ReadText(dir.path() / "server_starts").find('\n') !=
                   std::string::npos; }, kPatience));
  EXPECT_TRUE(vantrel::watchdog::IsProcessRunning(QStringLiteral("editor")));
  EXPECT_FALSE(vantrel::watchdog::IsProcessRunning(QString::fromStdString(name)));
  ::kill(pid, SIGKILL);
  EXPECT_TRUE(reaper.WaitExit(pid, kPatience));
}

TEST(IsProcessRunning, SeesAScriptByItsOwnName) {
  Reaper reaper;
  ScratchDir dir;
  const std::string name = UniqueName("script");
  // read is built into the shell, so the script's process is the only one.
  tarnwick_test::WriteText(dir.path() / name, "#!/bin/sh\nread line\n", true);
  int pipe_fds[2];
  ASSERT_EQ(::pipe2(pipe_fds, O_CLOEXEC), 0);
  const pid_t pid = tarnwick_test::Spawn({(dir.path() / name).string()},
                                         tarnwick_test::EnvironmentWith({}, {}), {}, pipe_fds[0]);
  ::close(pipe_fds[0]);
  const QString qname = QString::fromStdString(name);
  EXPECT_TRUE(tarnwick_test::WaitFor([&] { return vantrel::watchdog::IsProcessRunning(qname); },
                                     kPatience));
  ::close(pipe_fds[1]);  // end of input: the script ends
  ASSERT_TRUE(reaper.WaitExit(pid, kPatience));
  EXPECT_FALSE(vantrel::watchdog::IsProcessRunning(qname));
}

}  // namespace
