#include <gtest/gtest.h>

#include <cstring>

#include "reader/platform/disk_device.h"
#include "reader/platform/virtual/virtual_disk.h"
#include "sim/reader_model.h"

namespace vantrel::platform {
namespace {

// On this machine there may be no disks at all, or disks that are not readers; the
// listing and an INQUIRY of each must work either way.
TEST(SgDisk, ListingAndInquiryDoNotFail) {
  DiskDevices& disks = LinuxDiskDevices();
  DiskPath paths[kMaxDisks];
  const int count = disks.List(paths, kMaxDisks);
  ASSERT_GE(count, 0);
  for (int i = 0; i < count; ++i) {
    EXPECT_EQ(std::strncmp(paths[i].text, "/dev/", 5), 0) << paths[i].text;
    const int handle = disks.Open(paths[i].text);
    if (handle < 0) continue;  // no permission: skipped, as the probe does
    const uint8_t cdb[6] = {0x12, 0, 0, 0, 192, 0};
    uint8_t data[192] = {};
    ScsiCommand command;
    command.cdb = cdb;
    command.cdb_length = 6;
    command.direction = DataDirection::kFromDevice;
    command.data = data;
    command.data_length = 192;
    command.timeout_s = 3;
    const ScsiResult result = disks.Execute(handle, command);
    EXPECT_NE(result.outcome, ScsiOutcome::kPending);  // SG_IO never leaves one pending
    EXPECT_TRUE(disks.Close(handle));
  }
  EXPECT_EQ(disks.List(nullptr, 4), 0);
  EXPECT_EQ(disks.Open("/nonexistent/sg0"), -1);
}

TEST(SgDisk, RefusesBadCommands) {
  ScsiCommand command;
  EXPECT_EQ(LinuxDiskDevices().Execute(-1, command).outcome, ScsiOutcome::kFailed);
  const uint8_t cdb[6] = {0x12, 0, 0, 0, 192, 0};
  command.cdb = cdb;
  command.cdb_length = 6;
  command.data_length = 100;  // no buffer
  EXPECT_EQ(LinuxDiskDevices().Execute(0, command).outcome, ScsiOutcome::kFailed);
}

TEST(VirtualDisk, CountsHandlesAndListsPresentReaders) {
  sim::ReaderModel a;
  sim::ReaderModel b;
  VirtualDisk disk;
  disk.AddReader(a);
  disk.AddReader(b);
  DiskPath paths[4];
  ASSERT_EQ(disk.List(paths, 4), 2);
  const int h1 = disk.Open(paths[0].text);
  const int h2 = disk.Open(paths[1].text);
  ASSERT_GE(h1, 0);
  ASSERT_GE(h2, 0);
  EXPECT_NE(h1, h2);
  EXPECT_EQ(disk.OpenHandles(), 2);
  EXPECT_TRUE(disk.Close(h1));
  EXPECT_FALSE(disk.Close(h1));  // twice is an error, not a second decrement
  EXPECT_EQ(disk.OpenHandles(), 1);
  a.SetPresent(false);
  ASSERT_EQ(disk.List(paths, 4), 1);
  EXPECT_STREQ(paths[0].text, "/dev/vantrel-sim1");
  EXPECT_EQ(disk.Open("/dev/vantrel-sim0"), -1);
  EXPECT_EQ(disk.Open("/dev/vantrel-sim9"), -1);
  EXPECT_EQ(disk.Open("/dev/vantrel-simx"), -1);
  EXPECT_TRUE(disk.Close(h2));
  EXPECT_EQ(disk.OpenHandles(), 0);
  EXPECT_EQ(disk.OpensSoFar(), 2);
  disk.FailListing(true);
  EXPECT_EQ(disk.List(paths, 4), -1);
}

TEST(VirtualDisk, ClosedHandleCannotExecute) {
  sim::ReaderModel a;
  VirtualDisk disk;
  disk.AddReader(a);
  const int h = disk.Open("/dev/vantrel-sim0");
  ASSERT_TRUE(disk.Close(h));
  const uint8_t cdb[6] = {0x12, 0, 0, 0, 192, 0};
  uint8_t data[192];
  ScsiCommand command;
  command.cdb = cdb;
  command.cdb_length = 6;
  command.direction = DataDirection::kFromDevice;
  command.data = data;
  command.data_length = 192;
  EXPECT_EQ(disk.Execute(h, command).outcome, ScsiOutcome::kFailed);
}

}  // namespace
}  // namespace vantrel::platform
