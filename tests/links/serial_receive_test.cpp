// The serial link's own steps: port numbers, the frame receiver, channels, detection.
#include <algorithm>

#include "reader/protocol/result_codes.h"
#include "tests/links/serial_fixture.h"

namespace vantrel::testing {
namespace {

namespace s = links::serial;
namespace p = protocol;

const std::vector<uint8_t> kEsc[4] = {
    {0x1B, '%', 'A'}, {0x1B, '%', 'B'}, {0x1B, '%', 'C'}, {0x1B, '%', 'K'}};

// Position of needle in hay at or after from, or -1.
int Find(const std::vector<uint8_t>& hay, const std::vector<uint8_t>& needle, size_t from = 0) {
  auto it = std::search(hay.begin() + static_cast<long>(std::min(from, hay.size())), hay.end(),
                        needle.begin(), needle.end());
  return it == hay.end() ? -1 : static_cast<int>(it - hay.begin());
}

TEST_F(SerialTest, PortNumbersOutsideZeroToNineOpenComOne) {
  ports_.AddReader(1, model_);
  EXPECT_EQ(s::OpenPort(12, 9600), 0);
  EXPECT_EQ(ports_.LastCom(), 1);
  EXPECT_TRUE(ports_.IsOpen(1));
  EXPECT_EQ(s::ClosePort(), 0);
  EXPECT_EQ(s::OpenPort(3, 57600), 0);
  EXPECT_EQ(ports_.LastCom(), 3);
  EXPECT_EQ(ports_.LastBaud(), 57600);
  EXPECT_EQ(s::ClosePort(), 0);
  EXPECT_TRUE(NothingOpen());
  EXPECT_EQ(s::OpenPort(5, 9600), p::kNoDevice);  // nothing on COM5
}

TEST_F(SerialTest, OpeningAgainClosesThePortFirstWithRelease) {
  ASSERT_EQ(s::OpenPort(3, 9600), 0);
  ASSERT_EQ(s::SelectChannel(3, 2, false), 0);
  device_->ClearHeard();
  ASSERT_EQ(s::OpenPort(3, 9600), 0);  // exclusive port: only works if the first closed
  EXPECT_EQ(device_->Heard(), kEsc[0]);
  EXPECT_FALSE(s::State().channel_selected);
  EXPECT_EQ(s::ClosePort(), 0);
}

TEST_F(SerialTest, CloseFailureKeepsTheHandleAndReportsMinusOne) {
  ASSERT_EQ(s::OpenPort(3, 9600), 0);
  ports_.FailNextClose();
  EXPECT_EQ(s::ClosePort(), p::kReceiveFailed);
  EXPECT_TRUE(ports_.IsOpen(3));
  EXPECT_EQ(s::ClosePort(), 0);
  EXPECT_FALSE(ports_.IsOpen(3));
}

TEST_F(SerialTest, NoiseBeforeTheStartMarkerIsSkippedUpToNinetyNineBytes) {
  for (int noise : {3, 99}) {
    device_->SetNoise(noise);
    EXPECT_EQ(Ops().Free(), 0) << noise << " noise bytes";
  }
  // 100 bytes use up the tries: the body is read with positions 0 and 1 empty and
  // the frame fails its start-marker check.
  device_->SetNoise(100);
  EXPECT_EQ(Ops().Free(), p::kBadStartMarker);
  EXPECT_TRUE(NothingOpen());
}

TEST_F(SerialTest, RepeatedStartMarkerIsSkipped) {
  device_->SetRepeatedStart(true);
  int level = -1;
  EXPECT_EQ(Ops().SetSecurityLevel(7), 0);
  EXPECT_EQ(Ops().GetSecurityLevel(&level), 0);
  EXPECT_EQ(level, 7);
}

TEST_F(SerialTest, FalseStartIsHuntedAgainWithoutCountingATry) {
  UseScript();
  // 02 followed by a control byte is not a frame; the real one follows.
  const std::vector<uint8_t> frame = TextReply({});
  std::vector<uint8_t> reply(frame.size() + 2, 0x02);
  reply[1] = 0x01;
  std::copy(frame.begin(), frame.end(), reply.begin() + 2);
  script_.replies.push_back(reply);
  ASSERT_EQ(s::OpenPort(3, 9600), 0);
  const uint8_t request[2] = {0x1A, 'V'};
  ASSERT_EQ(s::Send(request, 2), 0);
  uint8_t buffer[64];
  int length = 0;
  ASSERT_EQ(s::ReceiveFrame(buffer, sizeof buffer, &length, 2000), 0);
  EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + length), frame);
  s::ClosePort();
}

TEST_F(SerialTest, SilentReaderFailsAtTheDeadlineAfterOneHuntRead) {
  device_->SetAnswerChannel(2);  // the reader listens on another channel
  const uint32_t before = clock_.TickMs();
  EXPECT_EQ(Ops().Free(), p::kDeadlinePassed);
  EXPECT_GE(clock_.TickMs() - before, 2000u);  // deadline of free: 2 s
  EXPECT_TRUE(NothingOpen());
  // Reset's own exchange has a 100 ms deadline: one 600 ms hunt read ends it.
  const uint32_t start = clock_.TickMs();
  EXPECT_EQ(Ops().Reset(), p::kDeadlinePassed);
  EXPECT_EQ(clock_.TickMs() - start, 600u);
  EXPECT_TRUE(NothingOpen());
}

TEST_F(SerialTest, BodyWithoutEndMarkerFailsAfterOnePerReadTimeOut) {
  device_->InjectSerialFault(sim::SerialFault::kTruncated);
  EXPECT_EQ(Ops().Calibrate(), p::kReceiveFailed);
  EXPECT_TRUE(NothingOpen());
}

TEST_F(SerialTest, FrameFillingTheBufferWithoutEndMarkerIsRefused) {
  device_->InjectSerialFault(sim::SerialFault::kOversized);
  EXPECT_EQ(Ops().Free(), p::kReplyTooLong);
  EXPECT_TRUE(NothingOpen());
  // The raw version reply is read into the same buffer.
  device_->InjectSerialFault(sim::SerialFault::kOversized);
  uint8_t version[links::kMaxVersionBytes] = {};
  int length = -1;
  EXPECT_EQ(Ops().GetVersion(version, &length), p::kReplyTooLong);
  EXPECT_EQ(length, -1);
  EXPECT_TRUE(NothingOpen());
}

TEST_F(SerialTest, ReceiveFrameHonoursASmallCallerBuffer) {
  UseScript();
  script_.replies.push_back(TextReply({1, 2, 3, 4}));  // 20 characters
  ASSERT_EQ(s::OpenPort(3, 9600), 0);
  const uint8_t ping[1] = {0};
  ASSERT_EQ(s::Send(ping, 1), 0);
  uint8_t buffer[24];
  int length = 0;
  EXPECT_EQ(s::ReceiveFrame(buffer, 19, &length, 1000), p::kReplyTooLong);
  EXPECT_EQ(s::ClosePort(), 0);
}

TEST_F(SerialTest, GarbageOtherBaudAndUnpluggedGiveTheirCodes) {
  device_->InjectSerialFault(sim::SerialFault::kGarbage);
  EXPECT_EQ(Ops().Free(), p::kDeadlinePassed);
  EXPECT_TRUE(NothingOpen());

  device_->SetRate(57600);  // the library still talks at 9600: the request is lost
  EXPECT_EQ(Ops().Free(), p::kDeadlinePassed);
  EXPECT_TRUE(NothingOpen());
  links::State().serial.baud = 57600;
  EXPECT_EQ(Ops().Free(), 0);

  model_.VanishAfter(1);  // answers one more command, then is unplugged
  EXPECT_EQ(Ops().Free(), 0);
  EXPECT_EQ(Ops().Free(), p::kNoDevice);
  EXPECT_TRUE(NothingOpen());
}

TEST_F(SerialTest, SelectChannelRules) {
  ASSERT_EQ(s::OpenPort(3, 9600), 0);
  EXPECT_EQ(s::SelectChannel(10, 2, false), p::kReceiveFailed);
  EXPECT_FALSE(s::State().channel_selected);
  EXPECT_EQ(s::SelectChannel(3, 5, false), 0);  // no such channel: nothing sent
  EXPECT_FALSE(s::State().channel_selected);
  EXPECT_EQ(s::State().saved_channel, 1);
  device_->ClearHeard();
  EXPECT_EQ(s::SelectChannel(3, 4, false), 0);
  EXPECT_EQ(s::State().saved_channel, 4);
  EXPECT_EQ(s::SelectChannel(3, 2, true), 0);  // the saved channel wins
  EXPECT_EQ(s::State().saved_channel, 4);
  std::vector<uint8_t> expected = kEsc[3];
  expected.insert(expected.end(), kEsc[3].begin(), kEsc[3].end());
  EXPECT_EQ(device_->Heard(), expected);
  EXPECT_EQ(s::ClosePort(), 0);
}

TEST_F(SerialTest, DetectionFindsTheReaderOnChannelThree) {
  device_->SetAnswerChannel(3);
  EXPECT_EQ(Ops().Detect(), 0);
  EXPECT_EQ(s::State().saved_channel, 3);
  EXPECT_TRUE(NothingOpen());
  const std::vector<uint8_t> heard = device_->Heard();
  const std::vector<uint8_t> version{0x1A, 'V'};
  int at = 0;
  for (int channel = 0; channel < 3; ++channel) {
    at = Find(heard, kEsc[channel], static_cast<size_t>(at));
    ASSERT_GE(at, 0) << "channel " << channel + 1;
    EXPECT_EQ(Find(heard, version, static_cast<size_t>(at)), at + 3);
  }
  // The release sequence closes the detection.
  EXPECT_EQ(std::vector<uint8_t>(heard.end() - 3, heard.end()), kEsc[0]);

  // Later framed exchanges select channel 3 first.
  device_->ClearHeard();
  int count = -1;
  EXPECT_EQ(Ops().CountTemplates(&count), 0);
  EXPECT_EQ(count, 0);
  const std::vector<uint8_t> later = device_->Heard();
  ASSERT_GE(later.size(), 3u);
  EXPECT_EQ(std::vector<uint8_t>(later.begin(), later.begin() + 3), kEsc[2]);
}

TEST_F(SerialTest, DetectionWithoutAReaderLeavesChannelFour) {
  device_->SetAnswerChannel(9);  // never answers
  EXPECT_EQ(Ops().Detect(), p::kReceiveFailed);
  EXPECT_EQ(s::State().saved_channel, 4);
  EXPECT_FALSE(s::State().channel_selected);
  EXPECT_TRUE(NothingOpen());
  links::State().serial.port = 6;  // no port there at all
  EXPECT_EQ(Ops().Detect(), p::kNoDevice);
}

TEST_F(SerialTest, DetectionCloseFailureForgetsTheChannel) {
  device_->SetAnswerChannel(2);
  ports_.FailNextClose();
  EXPECT_EQ(Ops().Detect(), p::kReceiveFailed);
  EXPECT_EQ(s::State().saved_channel, 1);
  EXPECT_FALSE(s::State().channel_selected);
}

TEST_F(SerialTest, VersionReplyOfFourCharacters) {
  model_.SetVersion("V1.2");
  uint8_t version[links::kMaxVersionBytes] = {};
  int length = 0;
  ASSERT_EQ(Ops().GetVersion(version, &length), 0);
  EXPECT_EQ(length, 4);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(version), 4), "V1.2");
  EXPECT_TRUE(NothingOpen());
}

TEST_F(SerialTest, VersionReplyWithoutMarkersIsMalformed) {
  UseScript();
  script_.replies.push_back({0x02, 'A', 'B', 0x04, 0x03});  // ends in 03: well formed
  uint8_t version[links::kMaxVersionBytes];
  int length = 0;
  ASSERT_EQ(Ops().GetVersion(version, &length), 0);
  EXPECT_EQ(length, 3);
  // After 100 noise bytes the frame keeps zeros where its start marker should be.
  script_.replies.push_back(std::vector<uint8_t>(100, 'x'));
  script_.replies.back().insert(script_.replies.back().end(), {0x02, 'A', 0x03});
  EXPECT_EQ(Ops().GetVersion(version, &length), p::kBadStatus);
  EXPECT_FALSE(script_.open);
}

}  // namespace
}  // namespace vantrel::testing
