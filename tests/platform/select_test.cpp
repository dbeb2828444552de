#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "reader/platform/clock.h"
#include "reader/platform/disk_device.h"
#include "reader/platform/platform.h"
#include "reader/platform/select_names.h"
#include "reader/platform/system_backends.h"

namespace vantrel::platform {
namespace {

void Nothing(Providers&) {}

const SimulatorName kNames[] = {{"disk", Nothing}, {"hid", Nothing}, {"com*", Nothing}};

std::string Parse(const char* text, int capacity = 8) {
  const SimulatorName* matched[8] = {};
  const int n = ParseSimulatorList(text, kNames, 3, matched, capacity);
  std::string out;
  for (int i = 0; i < n; ++i) out += std::string(matched[i]->name) + ";";
  return out;
}

TEST(SimulatorList, Parsing) {
  EXPECT_EQ(Parse(nullptr), "");
  EXPECT_EQ(Parse(""), "");
  EXPECT_EQ(Parse("disk"), "disk;");
  EXPECT_EQ(Parse(" Disk , hid"), "disk;hid;");
  EXPECT_EQ(Parse("com3,disk"), "com*;disk;");
  EXPECT_EQ(Parse("disks,dis,,hidx,"), "");  // no partial names
  EXPECT_EQ(Parse("com"), "com*;");
  EXPECT_EQ(Parse("disk,hid,com1", 2), "disk;hid;");
}

class SelectTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* old = std::getenv("VANTREL_SIMULATOR");
    had_ = old != nullptr;
    if (had_) old_ = old;
    saved_ = Current();
  }
  void TearDown() override {
    if (had_) setenv("VANTREL_SIMULATOR", old_.c_str(), 1);
    else unsetenv("VANTREL_SIMULATOR");
    Install(saved_);
  }
  bool had_ = false;
  std::string old_;
  Providers saved_;
};

TEST_F(SelectTest, DiskSimulatorIsAttachedByName) {
  setenv("VANTREL_SIMULATOR", "disk", 1);
  SelectBackendsAtLoad();
  ASSERT_NE(Current().disk, nullptr);
  EXPECT_NE(Current().disk, &SystemDiskDevices());
  DiskPath paths[4];
  ASSERT_EQ(Current().disk->List(paths, 4), 1);
  EXPECT_STREQ(paths[0].text, "/dev/vantrel-sim0");
  EXPECT_EQ(Current().clock, &SystemClock());

  unsetenv("VANTREL_SIMULATOR");
  SelectBackendsAtLoad();
  EXPECT_EQ(Current().disk, &SystemDiskDevices());
}

TEST_F(SelectTest, InstallKeepsWhatItIsNotGiven) {
  VirtualClock clock;
  Providers p;
  p.clock = &clock;
  const Providers before = Install(p);
  EXPECT_EQ(Current().clock, &clock);
  EXPECT_EQ(Current().disk, before.disk);
  Install(before);
  EXPECT_EQ(Current().clock, before.clock);
}

TEST(NoDiskDevices, FindsNothing) {
  DiskPath paths[2];
  EXPECT_EQ(NoDiskDevices().List(paths, 2), 0);
  EXPECT_EQ(NoDiskDevices().Open("/dev/sda"), -1);
}

TEST(VirtualClock, MovesOnlyWhenAsked) {
  VirtualClock clock(0xFFFFFF00u);
  const Deadline deadline{clock.TickMs(), 1000};
  clock.SleepMs(600);  // wraps past 2^32
  EXPECT_EQ(deadline.RemainingMs(clock), 400u);
  clock.Advance(400);
  EXPECT_TRUE(deadline.Passed(clock));
}

}  // namespace
}  // namespace vantrel::platform
