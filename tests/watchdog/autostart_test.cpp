// The autostart entry: where it goes, how the path is quoted, and that each start
// replaces it.

#include <gtest/gtest.h>

#include <QString>

#include "watchdog/desktop_entry.h"
#include "watchdog/platform.h"
#include "watchdog/process_util.h"

namespace {

using tarnwick_test::ScopedEnv;
using tarnwick_test::ScratchDir;
using namespace vantrel::watchdog;

TEST(AutostartDirectory, PrefersAnAbsoluteXdgConfigHome) {
  EXPECT_EQ(AutostartDirectory("/x/cfg", "/home/u"), "/x/cfg/autostart");
  EXPECT_EQ(AutostartDirectory("", "/home/u"), "/home/u/.config/autostart");
  // A relative XDG_CONFIG_HOME is to be ignored, not resolved against the cwd.
  EXPECT_EQ(AutostartDirectory("cfg", "/home/u"), "/home/u/.config/autostart");
  EXPECT_EQ(AutostartDirectory("", ""), "");
  EXPECT_EQ(AutostartDirectory("", "home"), "");
}

TEST(QuoteExecArgument, EscapesWhatTheExecKeyReserves) {
  EXPECT_EQ(QuoteExecArgument("/opt/tw/Tarnwick"), "\"/opt/tw/Tarnwick\"");
  EXPECT_EQ(QuoteExecArgument("/opt/my tw/Tarnwick"), "\"/opt/my tw/Tarnwick\"");
  EXPECT_EQ(QuoteExecArgument("/a\"b`c$d/T"), "\"/a\\\\\"b\\\\`c\\\\$d/T\"");
  // One backslash: escaped inside the quotes, then once more as a string value.
  EXPECT_EQ(QuoteExecArgument("/a\\b"), "\"/a\\\\\\\\b\"");
  EXPECT_EQ(QuoteExecArgument("/100%/T"), "\"/100%%/T\"");
}

TEST(DesktopEntryText, RefusesWhatCannotBeWrittenFaithfully) {
  const QString text = DesktopEntryText("Tarnwick", "/opt/tw/Tarnwick");
  EXPECT_TRUE(text.startsWith("[Desktop Entry]\n"));
  EXPECT_TRUE(text.contains("\nType=Application\n"));
  EXPECT_TRUE(text.contains("\nName=Tarnwick\n"));
  EXPECT_TRUE(text.contains("\nExec=\"/opt/tw/Tarnwick\"\n"));
  EXPECT_TRUE(DesktopEntryText("Tarnwick", "/opt/t\nw/Tarnwick").isEmpty());
  EXPECT_TRUE(DesktopEntryText("Tarn\rwick", "/opt/tw/Tarnwick").isEmpty());
  EXPECT_TRUE(DesktopEntryText("Tarnwick", "").isEmpty());
  EXPECT_TRUE(DesktopEntryText("", "/opt/tw/Tarnwick").isEmpty());
}

TEST(WriteAutostartEntry, WritesAndReplacesTheEntry) {
  ScratchDir dir;
  const std::string config = (dir.path() / "config").string();
  ScopedEnv xdg("XDG_CONFIG_HOME", config);
  const QString location = AutostartEntryLocation("Tarnwick");
  EXPECT_EQ(location, QString::fromStdString(config) + "/autostart/Tarnwick.desktop");

  ASSERT_TRUE(WriteAutostartEntry("Tarnwick", "/opt/old/Tarnwick"));
  ASSERT_TRUE(WriteAutostartEntry("Tarnwick", "/opt/new place/Tarnwick"));
  const std::string text = tarnwick_test::ReadText(location.toStdString());
  EXPECT_NE(text.find("\nExec=\"/opt/new place/Tarnwick\"\n"), std::string::npos);
  EXPECT_EQ(text.find("/opt/old"), std::string::npos);
}

TEST(WriteAutostartEntry, FallsBackToHomeAndFailsCleanly) {
  ScratchDir dir;
  ScopedEnv xdg("XDG_CONFIG_HOME", std::nullopt);
  ScopedEnv home("HOME", dir.path().string());
  EXPECT_EQ(AutostartEntryLocation("Tarnwick"),
            QString::fromStdString(dir.path().string()) + "/.config/autostart/Tarnwick.desktop");
  ASSERT_TRUE(WriteAutostartEntry("Tarnwick", "/opt/tw/Tarnwick"));
  EXPECT_TRUE(tarnwick_test::fs::exists(dir.path() / ".config/autostart/Tarnwick.desktop"));

  // A file where the folder should be: nothing can be written, and it says so.
  tarnwick_test::WriteText(dir.path() / "blocked", "x");
  ScopedEnv blocked("XDG_CONFIG_HOME", (dir.path() / "blocked").string());
  EXPECT_FALSE(WriteAutostartEntry("Tarnwick", "/opt/tw/Tarnwick"));
  EXPECT_FALSE(WriteAutostartEntry("Tarnwick", "/opt/t\nw/Tarnwick"));
  EXPECT_FALSE(WriteAutostartEntry("a/b", "/opt/tw/Tarnwick"));
}

}  // namespace
