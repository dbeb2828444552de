// The serial link's command operations against the stand-in reader.
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>

#include "reader/protocol/result_codes.h"
#include "tests/links/serial_fixture.h"

namespace vantrel::testing {
namespace {

namespace s = links::serial;
namespace p = protocol;

TEST_F(SerialTest, SettingsRoundTrip) {
  int value = -1;
  EXPECT_EQ(Ops().SetWorkMode(0x105), 0);  // the low byte goes out
  EXPECT_EQ(Ops().GetWorkMode(&value), 0);
  EXPECT_EQ(value, 5);
  EXPECT_EQ(Ops().SetSecurityLevel(3), 0);
  EXPECT_EQ(Ops().GetSecurityLevel(&value), 0);
  EXPECT_EQ(value, 3);
  EXPECT_EQ(model_.Snapshot().security_level, 3);  // the reader's one setting

  uint8_t word[2] = {};
  EXPECT_EQ(Ops().GetStatus(word), 0);
  EXPECT_EQ(word[0], device_->Serial().status[0]);
  EXPECT_EQ(word[1], device_->Serial().status[1]);
  EXPECT_EQ(Ops().GetErrorCode(word), 0);
  EXPECT_EQ(word[0], 0);

  EXPECT_EQ(Ops().Calibrate(), 0);
  EXPECT_EQ(Ops().Free(), 0);
  EXPECT_EQ(device_->Serial().calibrations, 1);
  EXPECT_EQ(device_->Serial().frees, 1);
  EXPECT_TRUE(NothingOpen());
}

TEST_F(SerialTest, SequenceAndKeyShareCodeThirteen) {
  char sequence[33] = "0123456789abcdefghijklmnopqrstuv";
  char key[40] = "KEY-KEY-KEY-KEY-and-beyond";
  EXPECT_EQ(Ops().SetSequence(sequence), 0);
  EXPECT_EQ(Ops().SetKey(key), 0);
  const sim::SerialReaderState state = device_->Serial();
  EXPECT_EQ(std::memcmp(state.sequence, sequence, 32), 0);
  EXPECT_EQ(std::memcmp(state.key, key, 16), 0);
  uint8_t buffer[32] = {};
  EXPECT_EQ(Ops().GetSequence(buffer), 0);
  EXPECT_EQ(std::memcmp(buffer, sequence, 32), 0);
}

TEST_F(SerialTest, GetSequenceSendsTheBufferOnlyUpToItsZero) {
  UseScript();
  script_.replies.push_back(TextReply(Ramp(32)));
  uint8_t buffer[32];
  std::memset(buffer, 'z', sizeof buffer);  // no zero at all: 32 bytes, no more
  ASSERT_EQ(Ops().GetSequence(buffer), 0);
  EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + 32), Ramp(32));
  // ESC % A, then 02 + (7 + 32) pairs + 03.
  EXPECT_EQ(script_.written.size(), 3u + 2u * 39u + 2u + 3u);
  // A reply with fewer data bytes than the field is refused, buffer untouched.
  script_.replies.push_back(TextReply(Ramp(4)));
  std::memset(buffer, 0, sizeof buffer);
  EXPECT_EQ(Ops().GetSequence(buffer), p::kReplyLengthMismatch);
  EXPECT_EQ(buffer[0], 0);
}

TEST_F(SerialTest, ReplyChecksGiveTheirCodes) {
  model_.InjectFault(sim::Fault::kBadChecksum);
  EXPECT_EQ(Ops().Free(), p::kBadChecksum);
  model_.InjectFault(sim::Fault::kStatusBusy);  // no special status on this link
  EXPECT_EQ(Ops().Free(), p::kBadStatus);
  model_.InjectFault(sim::Fault::kBadEndMarker);  // the body never ends
  EXPECT_EQ(Ops().Free(), p::kReceiveFailed);
  model_.InjectFault(sim::Fault::kSilent);
  EXPECT_EQ(Ops().Free(), p::kDeadlinePassed);
  EXPECT_TRUE(NothingOpen());
}

TEST_F(SerialTest, TemplateLibrary) {
  EXPECT_EQ(Ops().ClearLibrary(), 0);
  const std::string record = Nibbles(Ramp(256, 3));
  const uint8_t name[3] = {'a', 'b', 'c'};
  EXPECT_EQ(Ops().InsertTemplate(7, name, 3, record.c_str(), 512), 0);
  EXPECT_EQ(Ops().InsertTemplate(9, name, 3, record.c_str(), 513), 0);  // odd: last dropped
  EXPECT_EQ(Ops().StoreLibrary(), 0);
  int count = 0;
  EXPECT_EQ(Ops().CountTemplates(&count), 0);
  EXPECT_EQ(count, 2);
  const sim::ReaderState state = model_.Snapshot();
  ASSERT_EQ(state.library.size(), 2u);
  EXPECT_EQ(state.library[0].id, 7);
  EXPECT_EQ(state.library[0].record, Ramp(256, 3));
  EXPECT_EQ(state.stored.size(), 2u);

  uint8_t found[links::kMaxSearchBytes + 1] = {};
  int length = 0;
  EXPECT_EQ(Ops().Search(0, 100, found, &length), 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(found), static_cast<size_t>(length)), "7,9");
}

TEST_F(SerialTest, RecordsComeAsNibbleText) {
  const std::vector<uint8_t> templ = Ramp(256, 5);
  const std::vector<uint8_t> feature = Ramp(200, 7);
  model_.SetReaderRecords(templ, feature);
  char text[513];
  int length = 0;
  ASSERT_EQ(Ops().CaptureTemplate(text, &length), 0);
  EXPECT_EQ(std::string(text, static_cast<size_t>(length)), Nibbles(templ));
  ASSERT_EQ(Ops().ReaderFeature(text, &length), 0);
  EXPECT_EQ(std::string(text, static_cast<size_t>(length)), Nibbles(feature));
  ASSERT_EQ(Ops().CaptureFeature(text, &length), 0);
  EXPECT_EQ(length, 400);
  ASSERT_EQ(Ops().ReaderTemplate(text, &length), 0);
  EXPECT_EQ(length, 512);
}

// A reply is bounded only by the 2112-byte frame receiver: record texts, the version
// text and the search answer are handed out whole while their frame fits it, and a
// longer frame is refused (-12) before anything reaches the caller.
TEST_F(SerialTest, RepliesAreBoundedOnlyByTheFrameBuffer) {
  UseScript();
  enum What { kFeature, kTemplate, kReaderFeature, kReaderTemplate, kSearch, kVersion };
  struct Row {
    What what;
    int n;  // data bytes of a framed reply, characters of the version text
  };
  const Row rows[] = {
      {kFeature, 257},  {kFeature, 300},   {kFeature, 1050},       {kFeature, 1051},
      {kTemplate, 300}, {kReaderFeature, 300}, {kReaderTemplate, 1050},
      {kSearch, 100},   {kSearch, 250},    {kSearch, 1050},        {kSearch, 1051},
      {kVersion, 255},  {kVersion, 300},   {kVersion, 2110},       {kVersion, 2111}};
  for (const Row& row : rows) {
    SCOPED_TRACE(::testing::Message() << "kind " << row.what << ", n " << row.n);
    const std::vector<uint8_t> data = Ramp(row.n, 7);
    std::vector<uint8_t> reply;
    std::string expected;
    if (row.what == kVersion) {
      expected.assign(static_cast<size_t>(row.n), 'v');
      reply.push_back(0x02);
      reply.insert(reply.end(), expected.begin(), expected.end());
      reply.push_back(0x03);
    } else {
      reply = TextReply(data);
      expected = row.what == kSearch ? std::string(data.begin(), data.end()) : Nibbles(data);
    }
    const bool fits = static_cast<int>(reply.size()) <= s::kFrameBufferSize;
    script_.replies = {reply};
    std::vector<char> out(4096, 'x');
    auto* bytes = reinterpret_cast<uint8_t*>(out.data());
    int length = -1;
    int result = 0;
    switch (row.what) {
      case kFeature: result = Ops().CaptureFeature(out.data(), &length); break;
      case kTemplate: result = Ops().CaptureTemplate(out.data(), &length); break;
      case kReaderFeature: result = Ops().ReaderFeature(out.data(), &length); break;
      case kReaderTemplate: result = Ops().ReaderTemplate(out.data(), &length); break;
      case kSearch: result = Ops().Search(1, 2, bytes, &length); break;
      case kVersion: result = Ops().GetVersion(bytes, &length); break;
    }
    if (fits) {
      ASSERT_EQ(result, 0);
      ASSERT_EQ(length, static_cast<int>(expected.size()));
      EXPECT_EQ(std::string(out.data(), expected.size()), expected);
    } else {
      EXPECT_EQ(result, p::kReplyTooLong);
      EXPECT_EQ(length, -1);
      EXPECT_EQ(out[0], 'x');
    }
    EXPECT_FALSE(script_.open);
  }
}

TEST_F(SerialTest, SetBaudRateSwitchesReaderAndLibrary) {
  EXPECT_EQ(Ops().SetBaudRate(115200), 0);
  EXPECT_EQ(links::State().configured_baud, 115200);
  EXPECT_EQ(device_->Rate(), 115200);
  // The selection still says 9600 until the export frame sets it again: lost frames.
  EXPECT_EQ(Ops().Free(), p::kDeadlinePassed);
  links::State().serial.baud = links::State().configured_baud;
  EXPECT_EQ(Ops().SetBaudRate(38400), 0);  // any other rate counts as 9600
  EXPECT_EQ(links::State().configured_baud, 9600);
  EXPECT_EQ(device_->Rate(), 9600);
}

TEST_F(SerialTest, FailedSetBaudRateKeepsTheConfiguredRate) {
  links::State().configured_baud = 57600;
  model_.InjectFault(sim::Fault::kStatusError);
  EXPECT_EQ(Ops().SetBaudRate(115200), p::kBadStatus);
  EXPECT_EQ(links::State().configured_baud, 57600);
}

TEST_F(SerialTest, FramedFirmwareUpdate) {
  const std::vector<uint8_t> image = Ramp(300);
  EXPECT_EQ(Ops().Update(image.data(), 300, 0x101, 57600), 0);
  EXPECT_EQ(device_->Serial().firmware_kind, 1);
  EXPECT_EQ(device_->Serial().firmware, image);
  EXPECT_EQ(links::State().configured_baud, 57600);
  EXPECT_EQ(device_->Rate(), 57600);
  // Kind 2 sends no baud code: the reader keeps its rate, the library still records it.
  links::State().serial.baud = 57600;
  EXPECT_EQ(Ops().Update(image.data(), 10, 2, 115200), 0);
  EXPECT_EQ(device_->Rate(), 57600);
  EXPECT_EQ(links::State().configured_baud, 115200);
  // More data than a text request holds is refused before anything is sent.
  std::vector<uint8_t> big(1049);
  EXPECT_EQ(Ops().Update(big.data(), 1049, 1, 9600), p::kBadArguments);
  EXPECT_EQ(Ops().Update(big.data(), std::numeric_limits<int>::max(), 1, 9600),
            p::kBadArguments);
  EXPECT_EQ(ports_.Opens(), 2);
}

TEST_F(SerialTest, ImageSizeNeedsNoExchange) {
  int width = 0;
  int height = 0;
  EXPECT_EQ(Ops().GetImageSize(&width, &height), 0);
  EXPECT_EQ(width, 152);
  EXPECT_EQ(height, 200);
  EXPECT_EQ(ports_.Opens(), 0);
}

TEST_F(SerialTest, RawImageTransferInBothModes) {
  const std::vector<uint8_t> pixels = Ramp(152 * 200, 11);
  model_.QueueImage(pixels.data(), 152, 200);
  std::vector<uint8_t> image(152 * 200);
  int width = 0;
  int height = 0;
  ASSERT_EQ(Ops().ReadImage(152, 200, image.data(), 0, &width, &height), 0);
  EXPECT_EQ(image, pixels);
  EXPECT_EQ(width, 152);
  EXPECT_EQ(height, 200);
  EXPECT_EQ(ports_.LastBaud(), 115200);
  EXPECT_EQ(device_->LineRate(), 9600);  // back at its own rate after the transfer
  EXPECT_TRUE(NothingOpen());

  // Upload mode fetches the same way; the held image was taken by the preparation.
  const std::vector<uint8_t> small = Ramp(5, 40);
  model_.QueueImage(small.data(), 5, 1);
  uint8_t five[5] = {};
  width = height = -1;
  ASSERT_EQ(Ops().ReadImage(5, 1, five, 1, &width, &height), 0);
  EXPECT_EQ(std::vector<uint8_t>(five, five + 5), small);
  EXPECT_EQ(width, -1);  // upload mode reports no size
}

TEST_F(SerialTest, RawImageHeaderAndTrailerChecks) {
  UseScript();
  const std::vector<uint8_t> ack{0x02, 'T', 0x03};
  // 02 54 00 05, five bytes, 03
  script_.replies = {ack, {0x02, 0x54, 0x00, 0x05, 9, 8, 7, 6, 5, 0x03}};
  uint8_t image[152 * 200] = {};
  ASSERT_EQ(Ops().ReadImage(0, 0, image, 0, nullptr, nullptr), 0);
  EXPECT_EQ(image[0], 9);
  EXPECT_EQ(image[4], 5);
  EXPECT_EQ(image[5], 0);
  EXPECT_EQ(script_.last_baud, 115200);

  script_.replies = {ack, {0x02, 0x54, 0x00, 0x05, 9, 8, 7, 6, 5, 0x04}};
  EXPECT_EQ(Ops().ReadImage(0, 0, image, 0, nullptr, nullptr), p::kBadStartMarker);
  script_.replies = {ack, {0x02, 0x54, 0x00, 0x05, 9, 8, 7}};  // short: zeros left
  EXPECT_EQ(Ops().ReadImage(152, 200, image, 1, nullptr, nullptr), p::kBadStartMarker);
  script_.replies = {ack, {0x05, 0x54, 0x00, 0x05}};
  EXPECT_EQ(Ops().ReadImage(0, 0, image, 0, nullptr, nullptr), p::kNoReply);
  script_.replies = {ack, {0x02, 0x55, 0x00, 0x05}};
  EXPECT_EQ(Ops().ReadImage(0, 0, image, 0, nullptr, nullptr), p::kBadChecksum);
  script_.replies = {ack, {0x02, 0x54}};
  EXPECT_EQ(Ops().ReadImage(0, 0, image, 0, nullptr, nullptr), p::kReceiveFailed);
  // The preparation's answer: 02 'T' 03 or its codes.
  script_.replies = {{0x02, 'X', 0x03}};
  EXPECT_EQ(Ops().ReadImage(0, 0, image, 0, nullptr, nullptr), p::kBadChecksum);
  script_.replies = {{0x02, 'T', 'T', 0x03}};
  EXPECT_EQ(Ops().ReadImage(0, 0, image, 0, nullptr, nullptr), p::kBadStartMarker);
  EXPECT_FALSE(script_.open);
}

TEST_F(SerialTest, RawImageLongerThanTheCallerBufferIsRefused) {
  UseScript();
  const std::vector<uint8_t> ack{0x02, 'T', 0x03};
  script_.replies = {ack, {0x02, 0x54, 0x76, 0xC1}};  // 30401 bytes announced
  std::vector<uint8_t> image(152 * 200, 0xEE);
  EXPECT_EQ(Ops().ReadImage(152, 200, image.data(), 0, nullptr, nullptr), p::kReplyTooLong);
  script_.replies = {ack, {0x02, 0x54, 0x00, 0x0A}};  // 10 bytes into a 3 x 3 upload
  EXPECT_EQ(Ops().ReadImage(3, 3, image.data(), 1, nullptr, nullptr), p::kReplyTooLong);
  EXPECT_EQ(image[0], 0xEE);
  EXPECT_FALSE(script_.open);
}

TEST_F(SerialTest, RawImageAtAnotherReaderRateIsLost) {
  device_->SetRate(57600);
  links::State().serial.baud = 57600;
  uint8_t image[152 * 200];
  EXPECT_EQ(Ops().ReadImage(152, 200, image, 0, nullptr, nullptr), p::kDeadlinePassed);
  EXPECT_TRUE(NothingOpen());
}

TEST_F(SerialTest, PackedImageUnpacksToFullImage) {
  std::vector<uint8_t> pixels = Ramp(152 * 200, 13);
  model_.QueueImage(pixels.data(), 152, 200);
  std::vector<uint8_t> image(152 * 200, 1);
  int width = 0;
  int height = 0;
  ASSERT_EQ(Ops().ReadPackedImage(0x1234, &width, &height, image.data()), 0);
  EXPECT_EQ(width, 152);
  EXPECT_EQ(height, 200);
  for (size_t i = 0; i < pixels.size(); ++i) {
    ASSERT_EQ(image[i], pixels[i] & 0xF0) << i;
  }
}

TEST_F(SerialTest, PackedImageOfTheWrongSizeFails) {
  UseScript();
  // "YWJj" decodes to 3 bytes, not 15200.
  std::vector<uint8_t> reply = TextReply({});
  reply.insert(reply.begin() + 9, {'Y', 'W', 'J', 'j'});
  script_.replies.push_back(reply);
  uint8_t image[152 * 200];
  int width = 0;
  int height = 0;
  EXPECT_EQ(Ops().ReadPackedImage(1, &width, &height, image), p::kReceiveFailed);
  EXPECT_EQ(width, 0);
}

TEST_F(SerialTest, ResetGoesOutWithoutChannelSelection) {
  ASSERT_EQ(Ops().Reset(), 0);
  const std::vector<uint8_t> heard = device_->Heard();
  ASSERT_FALSE(heard.empty());
  EXPECT_EQ(heard[0], 0x02);
  EXPECT_EQ(heard.size(), 16u);
  EXPECT_EQ(device_->Serial().resets, 1);
}

TEST_F(SerialTest, StepwiseFirmwareKeepsThePortOpenBetweenSteps) {
  const std::vector<uint8_t> packet = Ramp(100);
  ASSERT_EQ(Ops().UpdateSendFileSize(200), 0);
  EXPECT_TRUE(ports_.IsOpen(3));
  EXPECT_EQ(ports_.LastBaud(), 115200);
  EXPECT_EQ(device_->Serial().raw_firmware_size, 200u);
  ASSERT_EQ(Ops().UpdateSendPacket(1, packet.data(), 100), 0);
  ASSERT_EQ(Ops().UpdateSendPacket(2, packet.data(), 100), 0);
  EXPECT_TRUE(ports_.IsOpen(3));
  ASSERT_EQ(Ops().UpdateWrite(0x42), 0);
  EXPECT_TRUE(NothingOpen());
  const sim::SerialReaderState state = device_->Serial();
  EXPECT_EQ(state.raw_firmware_packets, 2);
  EXPECT_EQ(state.raw_firmware_finished, 1);
  EXPECT_EQ(state.raw_firmware_value, 0x42);
  EXPECT_EQ(state.firmware.size(), 200u);
  EXPECT_EQ(device_->LineRate(), 9600);
}

TEST_F(SerialTest, FailedFirmwarePacketClosesThePort) {
  ASSERT_EQ(Ops().UpdateSendFileSize(10), 0);
  ASSERT_TRUE(ports_.IsOpen(3));
  device_->InjectSerialFault(sim::SerialFault::kGarbage);
  const uint8_t packet[4] = {1, 2, 3, 4};
  EXPECT_EQ(Ops().UpdateSendPacket(1, packet, 4), p::kReceiveFailed);
  EXPECT_TRUE(NothingOpen());
  // Without step 1 there is no open port to send on.
  EXPECT_EQ(Ops().UpdateSendPacket(2, packet, 4), p::kReceiveFailed);
  EXPECT_EQ(Ops().UpdateWrite(1), p::kReceiveFailed);
  // The reader still waits at 115200 for the rest of the update; power it up anew.
  device_->SetRate(9600);
  // A packet larger than one raw command carries is refused and closes too.
  ASSERT_EQ(Ops().UpdateSendFileSize(10), 0);
  std::vector<uint8_t> big(s::kMaxFirmwarePacket + 1);
  EXPECT_EQ(Ops().UpdateSendPacket(1, big.data(), static_cast<int>(big.size())),
            p::kReceiveFailed);
  EXPECT_TRUE(NothingOpen());
}

// An update abandoned after its announcement, or after a failed packet, leaves the
// reader talking at 115200. The next command that is not a firmware step ends it first
// and is answered as if no update had been begun; the firmware is not written.
TEST_F(SerialTest, AbandonedFirmwareUpdateIsEndedByTheNextCommand) {
  enum Next { kLevel, kVersion, kBaud, kDetect };
  struct Row {
    bool failed_packet;
    Next next;
  };
  const Row rows[] = {{false, kLevel}, {true, kVersion}, {false, kBaud}, {true, kDetect}};
  const std::vector<uint8_t> big(s::kMaxFirmwarePacket + 1);
  for (const Row& row : rows) {
    SCOPED_TRACE(::testing::Message() << "next " << row.next);
    // The size announcement goes out at 9600, where the reader must be listening.
    device_->SetRate(9600);
    links::State().configured_baud = 9600;
    links::State().serial.baud = 9600;
    ASSERT_EQ(Ops().UpdateSendFileSize(100), 0);
    ASSERT_EQ(device_->LineRate(), 115200);
    if (row.failed_packet) {
      ASSERT_EQ(Ops().UpdateSendPacket(1, big.data(), static_cast<int>(big.size())),
                p::kReceiveFailed);
    }
    int value = 0;
    uint8_t version[links::kMaxVersionBytes];
    switch (row.next) {
      case kLevel: EXPECT_EQ(Ops().GetSecurityLevel(&value), 0); break;
      case kVersion: EXPECT_EQ(Ops().GetVersion(version, &value), 0); break;
      case kBaud: EXPECT_EQ(Ops().SetBaudRate(57600), 0); break;
      case kDetect: EXPECT_EQ(Ops().Detect(), 0); break;
    }
    EXPECT_EQ(links::State().configured_baud, row.next == kBaud ? 57600 : 9600);
    EXPECT_EQ(device_->LineRate(), links::State().configured_baud);
    EXPECT_TRUE(NothingOpen());
    // Once ended, the update leaves nothing behind for the command after.
    links::State().serial.baud = links::State().configured_baud;
    EXPECT_EQ(Ops().Free(), 0);
  }
  EXPECT_EQ(device_->Serial().raw_firmware_finished, 0);
  // A whole update still runs afterwards.
  device_->SetRate(9600);
  links::State().configured_baud = links::State().serial.baud = 9600;
  const uint8_t packet[4] = {1, 2, 3, 4};
  ASSERT_EQ(Ops().UpdateSendFileSize(4), 0);
  ASSERT_EQ(Ops().UpdateSendPacket(1, packet, 4), 0);
  ASSERT_EQ(Ops().UpdateWrite(7), 0);
  EXPECT_EQ(device_->Serial().raw_firmware_finished, 1);
  EXPECT_EQ(device_->LineRate(), links::State().configured_baud);
}

TEST_F(SerialTest, FirmwareAnnounceFailureClosesAndNoPortMeansNotFound) {
  device_->SetAnswerChannel(4);  // the announcement goes unanswered
  EXPECT_EQ(Ops().UpdateSendFileSize(10), p::kReceiveFailed);
  EXPECT_TRUE(NothingOpen());
  links::State().serial.port = 7;
  EXPECT_EQ(Ops().UpdateSendFileSize(10), p::kNoDevice);
}

}  // namespace
}  // namespace vantrel::testing

namespace vantrel::testing {
namespace {

TEST_F(SerialTest, RealFingerprintOverRawAndPackedTransfers) {
  const std::string path = std::string(VANTREL_FINGERPRINTS_DIR) + "/FVC2002_DB2_B/105_3.pgm";
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) GTEST_SKIP() << "no fingerprint images at " << path;
  std::vector<uint8_t> pixels(152 * 200);
  char header[15];
  const bool read = std::fread(header, 1, 15, file) == 15 &&
                    std::fread(pixels.data(), 1, pixels.size(), file) == pixels.size();
  std::fclose(file);
  ASSERT_TRUE(read);
  model_.QueueImage(pixels.data(), 152, 200);
  model_.QueueImage(pixels.data(), 152, 200);
  std::vector<uint8_t> image(152 * 200);
  ASSERT_EQ(Ops().ReadImage(152, 200, image.data(), 0, nullptr, nullptr), 0);
  EXPECT_EQ(image, pixels);
  int width = 0;
  int height = 0;
  ASSERT_EQ(Ops().ReadPackedImage(0, &width, &height, image.data()), 0);
  int differing = 0;
  for (size_t i = 0; i < pixels.size(); ++i) differing += image[i] != (pixels[i] & 0xF0);
  EXPECT_EQ(differing, 0);
}

}  // namespace
}  // namespace vantrel::testing

namespace vantrel::testing {
namespace {

TEST_F(SerialTest, MissingCallerBuffersAreRefusedBeforeThePortOpens) {
  int value = 0;
  EXPECT_EQ(Ops().GetWorkMode(nullptr), protocol::kBadArguments);
  EXPECT_EQ(Ops().GetStatus(nullptr), protocol::kBadArguments);
  EXPECT_EQ(Ops().GetVersion(nullptr, &value), protocol::kBadArguments);
  EXPECT_EQ(Ops().SetSequence(nullptr), protocol::kBadArguments);
  EXPECT_EQ(Ops().SetKey(nullptr), protocol::kBadArguments);
  EXPECT_EQ(Ops().Search(0, 1, nullptr, &value), protocol::kBadArguments);
  EXPECT_EQ(Ops().CaptureTemplate(nullptr, &value), protocol::kBadArguments);
  EXPECT_EQ(Ops().ReadImage(152, 200, nullptr, 0, nullptr, nullptr), protocol::kBadArguments);
  EXPECT_EQ(Ops().ReadPackedImage(0, &value, &value, nullptr), protocol::kBadArguments);
  EXPECT_EQ(ports_.Opens(), 0);
}

}  // namespace
}  // namespace vantrel::testing
