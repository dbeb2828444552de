// The firmware update keeps one handle open between its steps, and only there.
#include <gtest/gtest.h>

#include <vector>

#include "links/disk_fixture.h"
#include "reader/protocol/result_codes.h"

namespace vantrel::links {
namespace {

namespace pc = vantrel::protocol;

using DiskFirmwareTest = DiskLinkTest;

TEST_F(DiskFirmwareTest, FullUpdate) {
  const std::vector<uint8_t> packet(2037, 0xA5);
  ASSERT_EQ(ops().UpdateSendFileSize(4074), pc::kOk);
  EXPECT_EQ(disk_.OpenHandles(), 1);
  const uint32_t before = clock_.TickMs();
  ASSERT_EQ(ops().UpdateSendPacket(0, packet.data(), 2037), pc::kOk);
  EXPECT_EQ(clock_.TickMs() - before, 50u);  // the reader gets 50 ms after each packet
  ASSERT_EQ(ops().UpdateSendPacket(1, packet.data(), 2037), pc::kOk);
  EXPECT_EQ(disk_.OpenHandles(), 1);
  ASSERT_EQ(ops().UpdateWrite(1), pc::kOk);
  const sim::ReaderState s = reader_.Snapshot();
  EXPECT_EQ(s.firmware_size, 4074u);
  EXPECT_EQ(s.firmware_received, 4074u);
  EXPECT_EQ(s.firmware_packets, 2);
  EXPECT_EQ(s.firmware_updates, 1);
  EXPECT_EQ(s.firmware_last_value, 1);
}

TEST_F(DiskFirmwareTest, SecondAnnounceWithoutFinishGivesMinusTen) {
  ASSERT_EQ(ops().UpdateSendFileSize(100), pc::kOk);
  EXPECT_EQ(ops().UpdateSendFileSize(100), pc::kNoDevice);
  EXPECT_EQ(disk_.OpenHandles(), 1);  // the first update's handle, nothing more
  ASSERT_EQ(ops().UpdateWrite(0), pc::kOk);
}

TEST_F(DiskFirmwareTest, PacketAfterAFailedPacketGivesMinusThree) {
  const uint8_t packet[4] = {1, 2, 3, 4};
  ASSERT_EQ(ops().UpdateSendFileSize(8), pc::kOk);
  reader_.InjectFault(sim::Fault::kBadChecksum);
  EXPECT_EQ(ops().UpdateSendPacket(0, packet, 4), pc::kBadChecksum);
  EXPECT_EQ(disk_.OpenHandles(), 0);
  EXPECT_EQ(ops().UpdateSendPacket(1, packet, 4), pc::kExchangeArgumentsMissing);
  // A fresh update can start again.
  ASSERT_EQ(ops().UpdateSendFileSize(8), pc::kOk);
  ASSERT_EQ(ops().UpdateWrite(0), pc::kOk);
}

TEST_F(DiskFirmwareTest, PacketWithoutAnnounceGivesMinusThree) {
  const uint8_t packet[1] = {0};
  EXPECT_EQ(ops().UpdateSendPacket(0, packet, 1), pc::kExchangeArgumentsMissing);
  EXPECT_EQ(ops().UpdateSendPacket(0, packet, 2038), pc::kBadArguments);
}

TEST_F(DiskFirmwareTest, FailedAnnounceOpensNoHandle) {
  reader_.InjectFault(sim::Fault::kStatusError);
  EXPECT_EQ(ops().UpdateSendFileSize(8), pc::kBadStatus);
  EXPECT_EQ(disk_.OpenHandles(), 0);
  reader_.SetPresent(false);
  EXPECT_EQ(ops().UpdateSendFileSize(8), pc::kNoDevice);
}

TEST_F(DiskFirmwareTest, ReaderVanishingDuringAnUpdateClosesTheHandle) {
  const uint8_t packet[2] = {9, 9};
  ASSERT_EQ(ops().UpdateSendFileSize(2), pc::kOk);
  reader_.SetPresent(false);
  EXPECT_EQ(ops().UpdateSendPacket(0, packet, 2), pc::kSendFailed);
  EXPECT_EQ(disk_.OpenHandles(), 0);
  EXPECT_EQ(ops().UpdateWrite(0), pc::kNoDevice);
}

TEST_F(DiskFirmwareTest, FinishClosesTheHandleEvenWhenTheReaderRefuses) {
  ASSERT_EQ(ops().UpdateSendFileSize(2), pc::kOk);
  reader_.InjectFault(sim::Fault::kStatusBusy);
  EXPECT_EQ(ops().UpdateWrite(0), pc::kReaderBusy);
  EXPECT_EQ(disk_.OpenHandles(), 0);
}

}  // namespace
}  // namespace vantrel::links
