// The single-instance key: one holder, released on request, and never blocked by a
// holder that died.

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QSharedMemory>

#include "watchdog/instance_key.h"
#include "watchdog/process_util.h"

namespace {

using namespace std::chrono_literals;
// Only a limit for waits that end as soon as their condition holds: generous, for
// sanitizer builds on a busy machine.
constexpr auto kPatience = 30s;
using tarnwick_test::Reaper;
using tarnwick_test::ScopedEnv;
using tarnwick_test::ScratchDir;
using vantrel::watchdog::InstanceKey;
using Outcome = vantrel::watchdog::InstanceKey::Outcome;

// Keys live in the scratch folder (Qt's key files under TMPDIR, the lock file under
// XDG_RUNTIME_DIR), so nothing outside the test can meet them.
class InstanceKeyTest : public ::testing::Test {
 protected:
  void TearDown() override { tarnwick_test::RemoveStaleIpc(dir_.path()); }

  ScratchDir dir_;
  ScopedEnv tmp_{"TMPDIR", dir_.path().string()};
  ScopedEnv runtime_{"XDG_RUNTIME_DIR", dir_.path().string()};
  QString name_ = QStringLiteral("TwKey%1").arg(::getpid());
  Reaper reaper_;

  // Forks a holder that reports on ready once it holds the key, then waits for
  // release to be closed (or dies at once when crash is set). With
  // plain_segment it creates the segment only, as a copy without the lock would.
  pid_t StartHolder(int* ready_fd, int* release_fd, bool crash, bool plain_segment = false) {
    int ready[2];
    int release[2];
    if (::pipe2(ready, O_CLOEXEC) != 0 || ::pipe2(release, O_CLOEXEC) != 0) return -1;
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::close(ready[0]);
      ::close(release[1]);
      QSharedMemory plain(name_);
      InstanceKey key(name_);
      const bool held = plain_segment ? plain.create(1) : key.Acquire(0) == Outcome::kAcquired;
      const char flag = held ? '1' : '0';
      if (::write(ready[1], &flag, 1) != 1) ::_exit(2);
      // A crash runs no destructors: the segment stays behind.
      if (crash) ::raise(SIGKILL);
      char c;
      while (::read(release[0], &c, 1) > 0) {
      }
      plain.detach();
      key.Release();
      ::_exit(0);
    }
    ::close(ready[1]);
    ::close(release[0]);
    *ready_fd = ready[0];
    *release_fd = release[1];
    return pid;
  }

  static bool HolderReady(int ready_fd) {
    char flag = 0;
    return ::read(ready_fd, &flag, 1) == 1 && flag == '1';
  }
};

TEST_F(InstanceKeyTest, OneHolderAtATime) {
  InstanceKey first(name_);
  InstanceKey second(name_);
  ASSERT_EQ(first.Acquire(0), Outcome::kAcquired);
  EXPECT_TRUE(first.IsHeld());
  EXPECT_EQ(second.Acquire(0), Outcome::kHeld);
  EXPECT_FALSE(second.IsHeld());
  first.Release();
  EXPECT_FALSE(first.IsHeld());
  EXPECT_EQ(second.Acquire(0), Outcome::kAcquired);
  EXPECT_EQ(first.Acquire(0), Outcome::kHeld);
}

TEST_F(InstanceKeyTest, HeldByAnotherLiveProcess) {
  int ready = -1;
  int release = -1;
  const pid_t pid = StartHolder(&ready, &release, false);
  ASSERT_GT(pid, 0);
  ASSERT_TRUE(HolderReady(ready));
  InstanceKey key(name_);
  EXPECT_EQ(key.Acquire(0), Outcome::kHeld);
  ::close(release);
  ASSERT_TRUE(reaper_.WaitExit(pid, kPatience));
  ::close(ready);
  EXPECT_EQ(key.Acquire(0), Outcome::kAcquired);
}

TEST_F(InstanceKeyTest, ASegmentWithoutOurLockStillCountsAsACopy) {
  int ready = -1;
  int release = -1;
  const pid_t pid = StartHolder(&ready, &release, false, true);
  ASSERT_GT(pid, 0);
  ASSERT_TRUE(HolderReady(ready));
  InstanceKey key(name_);
  EXPECT_EQ(key.Acquire(0), Outcome::kHeld);
  ::close(release);
  ASSERT_TRUE(reaper_.WaitExit(pid, kPatience));
  ::close(ready);
}

TEST_F(InstanceKeyTest, AHolderThatCrashedDoesNotBlock) {
  int ready = -1;
  int release = -1;
  const pid_t pid = StartHolder(&ready, &release, true);
  ASSERT_GT(pid, 0);
  ASSERT_TRUE(HolderReady(ready));
  ASSERT_TRUE(reaper_.WaitExit(pid, kPatience));
  ::close(ready);
  ::close(release);
  {
    // The segment really outlived its owner: a plain create is refused.
    QSharedMemory plain(name_);
    EXPECT_FALSE(plain.create(1));
    EXPECT_EQ(plain.error(), QSharedMemory::AlreadyExists);
  }
  InstanceKey key(name_);
  EXPECT_EQ(key.Acquire(0), Outcome::kAcquired);
  InstanceKey other(name_);
  EXPECT_EQ(other.Acquire(0), Outcome::kHeld);
}

TEST_F(InstanceKeyTest, WaitsForAKeyThatIsLetGo) {
  int ready = -1;
  int release = -1;
  const pid_t pid = StartHolder(&ready, &release, false);
  ASSERT_GT(pid, 0);
  ASSERT_TRUE(HolderReady(ready));
  // A second process keeps a copy of the release end for 300 ms, so the holder lets
  // go while the wait below is under way.
  const pid_t closer = ::fork();
  if (closer == 0) {
    ::usleep(300 * 1000);
    ::_exit(0);
  }
  ::close(release);
  InstanceKey key(name_);
  EXPECT_EQ(key.Acquire(5000), Outcome::kAcquired);
  EXPECT_TRUE(reaper_.WaitExit(pid, kPatience));
  EXPECT_TRUE(reaper_.WaitExit(closer, kPatience));
  ::close(ready);
}

}  // namespace
