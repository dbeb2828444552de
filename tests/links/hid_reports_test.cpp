// The HID link's report writer and reader, and the device search.
#include <algorithm>
#include <random>

#include "reader/protocol/frames.h"
#include "reader/protocol/result_codes.h"
#include "tests/links/hid_fixture.h"

namespace vantrel::testing {
namespace {

namespace h = links::hid;
namespace p = protocol;

std::vector<uint8_t> Bytes(int n, uint8_t first) {
  std::vector<uint8_t> v(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) v[static_cast<size_t>(i)] = static_cast<uint8_t>(first + i);
  return v;
}

TEST_F(HidTest, NineByteRequestIsOneReport) {
  sim::HidDeviceSim& reader = AddReader();
  ASSERT_EQ(Ops().Reset(), 0);
  const auto reports = reader.WrittenReports();
  ASSERT_EQ(reports.size(), 1u);
  std::vector<uint8_t> expected(65, 0);
  const uint8_t reset[9] = {0x02, 0x00, 0x04, 0x02, 0x00, 0x00, 0x00, 0x06, 0x03};
  std::copy(reset, reset + 9, expected.begin() + 1);
  EXPECT_EQ(reports[0], expected);
  EXPECT_EQ(hid_.OpenHandles(), 0);
}

TEST_F(HidTest, RequestsAreCutIntoSixtyFourByteBlocks) {
  ScriptedHid device;
  const std::vector<uint8_t> exact = Bytes(64, 1);
  ASSERT_TRUE(h::WriteReports(&device, exact.data(), 64));
  ASSERT_EQ(device.written.size(), 1u);
  EXPECT_EQ(std::vector<uint8_t>(device.written[0].begin() + 1, device.written[0].end()), exact);

  device.written.clear();
  const std::vector<uint8_t> longer = Bytes(65, 1);
  ASSERT_TRUE(h::WriteReports(&device, longer.data(), 65));
  ASSERT_EQ(device.written.size(), 2u);
  std::vector<uint8_t> second(65, 0);
  second[1] = longer[64];
  EXPECT_EQ(device.written[1], second);

  // A longer declared report is filled with zeros past the block.
  device.written.clear();
  device.output_length = 129;
  ASSERT_TRUE(h::WriteReports(&device, exact.data(), 9));
  ASSERT_EQ(device.written.size(), 1u);
  EXPECT_EQ(device.written[0].size(), 129u);
  EXPECT_EQ(device.written[0][65], 0);
  // A report too short for a block sends nothing (the exchange then finds no reply).
  device.written.clear();
  device.output_length = 33;
  ASSERT_TRUE(h::WriteReports(&device, exact.data(), 9));
  EXPECT_TRUE(device.written.empty());
  EXPECT_FALSE(h::WriteReports(nullptr, exact.data(), 9));
}

TEST_F(HidTest, ReplyLengthComesFromItsOwnLengthField) {
  ScriptedHid device;
  uint8_t reply[1024];
  int received = 0;
  device.reports = Payloads(BinaryReply({}));
  ASSERT_EQ(h::ReadReports(&device, reply, sizeof reply, 0, false, 3000, &received), 0);
  EXPECT_EQ(received, 7);

  const std::vector<uint8_t> hundred = BinaryReply(Bytes(93, 7));  // length field 95
  ASSERT_EQ(hundred.size(), 100u);
  device.reports = Payloads(hundred);
  device.reads = 0;
  ASSERT_EQ(h::ReadReports(&device, reply, sizeof reply, 0, false, 3000, &received), 0);
  EXPECT_EQ(received, 100);
  EXPECT_EQ(device.reads, 2);
  EXPECT_EQ(std::vector<uint8_t>(reply, reply + 100), hundred);
}

TEST_F(HidTest, FirstReportMustStartTheReply) {
  ScriptedHid device;
  uint8_t reply[1024];
  int received = 0;
  const std::vector<uint8_t> zero(64, 0);
  device.reports = {zero, zero};
  for (auto& r : Payloads(BinaryReply({5}))) device.reports.push_back(r);
  EXPECT_EQ(h::ReadReports(&device, reply, sizeof reply, 0, false, 3000, &received), 0);
  EXPECT_EQ(received, 8);

  device.reports = {zero, zero, zero};
  for (auto& r : Payloads(BinaryReply({5}))) device.reports.push_back(r);
  EXPECT_EQ(h::ReadReports(&device, reply, sizeof reply, 0, false, 3000, &received),
            p::kNoReply);

  // A time-out ends the attempts at once.
  device.reports.clear();
  device.reads = 0;
  EXPECT_EQ(h::ReadReports(&device, reply, sizeof reply, 0, false, 3000, &received),
            p::kNoReply);
  EXPECT_EQ(device.reads, 1);
  // A failing device is tried three times.
  device.gone = true;
  device.reads = 0;
  EXPECT_EQ(h::ReadReports(&device, reply, sizeof reply, 0, false, 3000, &received),
            p::kNoReply);
  EXPECT_EQ(device.reads, 3);
}

TEST_F(HidTest, ReplyThatWouldNotFitIsRefused) {
  ScriptedHid device;
  std::vector<uint8_t> reply(64 * 3, 0xEE);
  int received = -1;
  device.reports = Payloads(BinaryReply(Bytes(200, 0)));  // 207 bytes
  EXPECT_EQ(h::ReadReports(&device, reply.data(), 150, 0, false, 3000, &received),
            p::kReplyTooLong);
  EXPECT_EQ(received, -1);
  EXPECT_EQ(reply[0], 0xEE);
  // A capacity that is not a multiple of 64 is never overrun.
  device.reports = Payloads(BinaryReply(Bytes(93, 0)));
  EXPECT_EQ(h::ReadReports(&device, reply.data(), 100, 0, false, 3000, &received), 0);
  EXPECT_EQ(received, 100);
  EXPECT_EQ(reply[100], 0xEE);
}

TEST_F(HidTest, ReplyThatStopsShortHasItsAnnouncedLengthAndZerosForTheRest) {
  ScriptedHid device;
  uint8_t reply[1024];
  std::memset(reply, 0xEE, sizeof reply);  // what an earlier reply left there
  int received = 0;
  const std::vector<uint8_t> full = BinaryReply(Bytes(150, 0));  // 157 bytes, 3 reports
  auto payloads = Payloads(full);
  payloads.pop_back();
  device.reports = payloads;
  ASSERT_EQ(h::ReadReports(&device, reply, sizeof reply, 0, false, 3000, &received), 0);
  EXPECT_EQ(received, 157);
  EXPECT_TRUE(std::equal(full.begin(), full.begin() + 128, reply));
  EXPECT_EQ(std::count(reply + 128, reply + 157, 0), 157 - 128);
  EXPECT_EQ(reply[157], 0xEE);
  // The length field is intact, so the reply check passes it and fails the checksum.
  EXPECT_EQ(p::CheckBinaryReply(reply, received, 157), p::kBadChecksum);
}

TEST_F(HidTest, ImagePartsAreToldTheirLength) {
  ScriptedHid device;
  std::vector<uint8_t> reply(200, 0);
  int received = 0;
  // A continuation part starts anywhere in the image, not with 02.
  device.reports = Payloads(Bytes(150, 9));
  ASSERT_EQ(h::ReadReports(&device, reply.data(), 200, 150, true, 3000, &received), 0);
  EXPECT_EQ(received, 150);
  EXPECT_EQ(reply[0], 9);
}

TEST_F(HidTest, AcceptedIds) {
  EXPECT_TRUE(h::IsAccepted(0x4B21, 0xFFFF));
  EXPECT_TRUE(h::IsAccepted(0x4B21, 0x0771));
  EXPECT_TRUE(h::IsAccepted(0x5A3C, 0x1E47));
  EXPECT_FALSE(h::IsAccepted(0x5A3C, 0x0771));
  EXPECT_FALSE(h::IsAccepted(0x4B21, 0x1E47));
}

TEST_F(HidTest, SearchSkipsRefusedDevicesAndRegistersOnce) {
  EXPECT_FALSE(h::Object().notification_registered);
  EXPECT_EQ(Ops().Reset(), p::kNoDevice);  // nothing present
  EXPECT_TRUE(h::Object().notification_registered);

  sim::HidDeviceSim& refused = AddReader(0x5A3C, 0x0771);
  EXPECT_EQ(Ops().Reset(), p::kNoDevice);
  EXPECT_TRUE(refused.WrittenReports().empty());
  sim::HidDeviceSim& accepted = AddReader(0x4B21, 0xFFFF);
  EXPECT_EQ(Ops().Reset(), 0);
  EXPECT_TRUE(refused.WrittenReports().empty());
  EXPECT_EQ(accepted.WrittenReports().size(), 1u);
  EXPECT_EQ(hid_.OpenHandles(), 0);

  h::TeardownHidLink();
  EXPECT_FALSE(h::Object().notification_registered);
}

TEST_F(HidTest, BadFirstReportsFromTheReader) {
  sim::HidDeviceSim& reader = AddReader();
  reader.SendBadFirstReports(2);
  EXPECT_EQ(Ops().Reset(), 0);
  reader.SendBadFirstReports(3);
  EXPECT_EQ(Ops().Reset(), p::kNoReply);
  EXPECT_EQ(hid_.OpenHandles(), 0);
}

TEST_F(HidTest, StalledWritesAndUnpluggedReader) {
  sim::HidDeviceSim& reader = AddReader();
  reader.SetStallWrites(true);
  const uint32_t before = clock_.TickMs();
  EXPECT_EQ(Ops().Reset(), p::kNoReply);
  EXPECT_GE(clock_.TickMs() - before, h::kWriteWaitMs);
  reader.SetStallWrites(false);
  model_.SetPresent(false);
  EXPECT_EQ(Ops().Reset(), p::kNoDevice);
  model_.SetPresent(true);
  model_.VanishAfter(1);
  EXPECT_EQ(Ops().Reset(), 0);
  EXPECT_EQ(Ops().Reset(), p::kNoDevice);
  EXPECT_EQ(hid_.OpenHandles(), 0);
}

}  // namespace
}  // namespace vantrel::testing

namespace vantrel::testing {
namespace {

TEST_F(HidTest, RandomReportsNeverOverrunTheReply) {
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> byte(0, 255);
  std::uniform_int_distribution<int> count(0, 6);
  for (int round = 0; round < 500; ++round) {
    ScriptedHid device;
    const int reports = count(rng);
    for (int r = 0; r < reports; ++r) {
      std::vector<uint8_t> payload(64);
      for (uint8_t& b : payload) b = static_cast<uint8_t>(byte(rng));
      if (r == 0 && (round & 1)) payload[0] = 0x02;
      device.reports.push_back(payload);
    }
    const int capacity = 1 + byte(rng);
    std::vector<uint8_t> reply(static_cast<size_t>(capacity));
    int received = -1;
    const int result = links::hid::ReadReports(&device, reply.data(), capacity, 0, false, 100,
                                               &received);
    if (result == 0) {
      EXPECT_GE(received, 1);
      EXPECT_LE(received, capacity);
    } else {
      EXPECT_TRUE(result == protocol::kNoReply || result == protocol::kReplyTooLong) << result;
    }
  }
}

}  // namespace
}  // namespace vantrel::testing
