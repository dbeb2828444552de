// The main widget in this process: its form, the check counter and the self-restart.

#include <unistd.h>

#include <gtest/gtest.h>

#include <QApplication>
#include <QMetaMethod>
#include <QTimer>

#include "watchdog/instance_key.h"
#include "watchdog/platform.h"
#include "watchdog/process_util.h"
#include "watchdog/tarnwick.h"

namespace {

using namespace std::chrono_literals;
// Only a limit for waits that end as soon as their condition holds: generous, for
// sanitizer builds on a busy machine.
constexpr auto kPatience = 30s;
using tarnwick_test::Reaper;
using tarnwick_test::ScopedEnv;
using tarnwick_test::ScratchDir;
using vantrel::watchdog::InstanceKey;
using vantrel::watchdog::WatchdogSettings;
using Outcome = vantrel::watchdog::InstanceKey::Outcome;

QApplication* App() {
  static QApplication* app = [] {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int argc = 1;
    static char name[] = "test_watchdog";
    static char* argv[] = {name, nullptr};
    return new QApplication(argc, argv);  // kept for the process's life
  }();
  return app;
}

// A scratch program folder and configuration, and a key of the test's own. The
// folder holds no server: checks try to start it and fail, which they do not report.
class TarnwickWidget : public ::testing::Test {
 protected:
  void SetUp() override {
    App();
    tarnwick_test::fs::create_directories(bin_);
    settings_.program_dir = QString::fromStdString(bin_.string());
    settings_.application_name = QStringLiteral("TarnwickUnderTest");
  }
  // A failed detached start's helper, still attached to the key while it ends, can
  // keep the segment from going with the key: let it end, then sweep.
  void TearDown() override {
    EXPECT_TRUE(reaper_.WaitNoChildren(kPatience));
    tarnwick_test::RemoveStaleIpc(dir_.path());
  }

  Reaper reaper_;
  ScratchDir dir_;
  tarnwick_test::fs::path bin_ = dir_.path() / "bin";
  ScopedEnv config_{"XDG_CONFIG_HOME", (dir_.path() / "config").string()};
  ScopedEnv tmp_{"TMPDIR", dir_.path().string()};
  ScopedEnv runtime_{"XDG_RUNTIME_DIR", dir_.path().string()};
  QString key_name_ = QStringLiteral("TwWidget%1").arg(::getpid());
  WatchdogSettings settings_;
};

TEST_F(TarnwickWidget, FormAsRegistered) {
  Tarnwick w(nullptr, settings_);
  EXPECT_STREQ(w.metaObject()->className(), "Tarnwick");
  EXPECT_EQ(w.objectName(), "TarnwickClass");
  EXPECT_EQ(w.size(), QSize(600, 400));
  EXPECT_EQ(w.windowTitle(), "Tarnwick");
  EXPECT_FALSE(w.isVisible());
  // Exactly one slot of its own.
  const QMetaObject* mo = w.metaObject();
  int own_slots = 0;
  for (int i = mo->methodOffset(); i < mo->methodCount(); ++i) {
    if (mo->method(i).methodType() == QMetaMethod::Slot) {
      ++own_slots;
      EXPECT_EQ(mo->method(i).methodSignature(), "testTimerTimeout()");
    }
  }
  EXPECT_EQ(own_slots, 1);
}

TEST_F(TarnwickWidget, ChecksOnceAtOnceThenEveryFifteenSeconds) {
  Tarnwick w(nullptr, settings_);
  EXPECT_EQ(w.checkCount(), 1);
  ASSERT_NE(w.checkTimer(), nullptr);
  EXPECT_TRUE(w.checkTimer()->isActive());
  EXPECT_EQ(w.checkTimer()->interval(), 15000);
  EXPECT_TRUE(QMetaObject::invokeMethod(&w, "testTimerTimeout"));
  EXPECT_TRUE(QMetaObject::invokeMethod(&w, "testTimerTimeout"));
  EXPECT_EQ(w.checkCount(), 3);
  EXPECT_EQ(w.serverPath(), settings_.program_dir + "/quorv_socket");
  EXPECT_EQ(w.restartPath(), settings_.program_dir + "/Tarnwick");
}

TEST_F(TarnwickWidget, WritesTheAutostartEntryOnConstruction) {
  Tarnwick w(nullptr, settings_);
  const std::string text = tarnwick_test::ReadText(
      dir_.path() / "config/autostart/TarnwickUnderTest.desktop");
  const std::string exec =
      "\nExec=\"" + QCoreApplication::applicationFilePath().toStdString() + "\"\n";
  EXPECT_NE(text.find(exec), std::string::npos) << text;
}

TEST_F(TarnwickWidget, RestartHandsTheKeyToTheSuccessorAndQuits) {
  // The successor stands in for the program: it notes whose successor it is.
  tarnwick_test::WriteText(bin_ / "Tarnwick",
                           "#!/bin/sh\necho \"$TARNWICK_SUCCESSOR_OF $$\" > \"$(dirname \"$0\")/successor\"\n",
                           true);
  InstanceKey key(key_name_);
  ASSERT_EQ(key.Acquire(0), Outcome::kAcquired);
  settings_.restart_after_checks = 2;
  Tarnwick w(&key, settings_);
  w.testTimerTimeout();  // 2: not yet
  EXPECT_TRUE(key.IsHeld());
  QTimer::singleShot(0, &w, &Tarnwick::testTimerTimeout);  // 3: passes the limit
  QTimer::singleShot(30000, [] { QCoreApplication::exit(99); });  // only if quit never comes
  EXPECT_EQ(QCoreApplication::exec(), 0);
  EXPECT_FALSE(key.IsHeld());
  EXPECT_FALSE(w.checkTimer()->isActive());
  // Free for the successor.
  InstanceKey successor(key_name_);
  EXPECT_EQ(successor.Acquire(0), Outcome::kAcquired);
  std::string note;
  ASSERT_TRUE(tarnwick_test::WaitFor(
      [&] {
        note = tarnwick_test::ReadText(bin_ / "successor");
        return !note.empty() && note.back() == '\n';
      },
      kPatience));
  const std::string mark = std::to_string(::getpid()) + " ";
  ASSERT_EQ(note.compare(0, mark.size(), mark), 0) << note;
  // Reaped here, so that it does not outlive the test unreaped.
  EXPECT_TRUE(reaper_.WaitExit(std::stoi(note.substr(mark.size())), kPatience));
}

TEST_F(TarnwickWidget, ARestartThatCannotStartTheSuccessorKeepsWatching) {
  InstanceKey key(key_name_);
  ASSERT_EQ(key.Acquire(0), Outcome::kAcquired);
  settings_.restart_after_checks = 1;
  Tarnwick w(&key, settings_);
  w.testTimerTimeout();  // 2 > 1: restart, but there is no program file to start
  EXPECT_EQ(w.checkCount(), 0);
  EXPECT_TRUE(key.IsHeld());
  EXPECT_TRUE(w.checkTimer()->isActive());
  InstanceKey other(key_name_);
  EXPECT_EQ(other.Acquire(0), Outcome::kHeld);
  w.testTimerTimeout();
  EXPECT_EQ(w.checkCount(), 1);
}

}  // namespace
