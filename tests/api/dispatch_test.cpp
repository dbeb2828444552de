// Port dispatch of the exports, run against link tables that record every call.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "reader/api/module_state.h"
#include "reader/platform/clock.h"
#include "reader/platform/platform.h"
#include "tests/api/fake_links.h"
#include "vantrel/vantrel.h"

namespace vantrel::api::testing {
namespace {

class DispatchTest : public ::testing::Test {
 protected:
  FakeLinks fakes_;
};

struct NamedCall {
  const char* name;
  std::function<int(int port)> call;
};

std::vector<NamedCall> SerialOnlyExports() {
  static unsigned char bytes[64];
  static int value;
  static char text[64] = "abc";
  return {
      {"FPIFree", [](int p) { return FPIFree(p); }},
      {"FPISetWorkMode", [](int p) { return FPISetWorkMode(p, 1); }},
      {"FPIGetWorkMode", [](int p) { return FPIGetWorkMode(p, &value); }},
      {"FPIGetStatus", [](int p) { return FPIGetStatus(p, bytes); }},
      {"FPIGetErrorCode", [](int p) { return FPIGetErrorCode(p, bytes); }},
      {"FPISetSequence", [](int p) { return FPISetSequence(p, text); }},
      {"FPIGetSequence", [](int p) { return FPIGetSequence(p, bytes); }},
      {"FPISetKey", [](int p) { return FPISetKey(p, text); }},
      {"FPICalibrate", [](int p) { return FPICalibrate(p); }},
      {"FPISetBuadRate", [](int p) { return FPISetBuadRate(p, 57600); }},
      {"FPIUpdate", [](int p) { return FPIUpdate(p, bytes, 4, 1, 9600); }},
      {"FPIGetImageData_RED_IZ",
       [](int p) {
         static unsigned char image[30400];
         int w = 0, h = 0, request = 1;
         return FPIGetImageData_RED_IZ(p, &w, &h, image, &request);
       }},
  };
}

TEST_F(DispatchTest, SerialOnlyExportsRefuseDiskAndHidPortsWithoutAnyCall) {
  links::State().serial = {4, 57600};
  for (const NamedCall& e : SerialOnlyExports()) {
    for (int port : {0, 9}) {
      EXPECT_EQ(e.call(port), -1) << e.name << " port " << port;
    }
  }
  EXPECT_TRUE(Log().calls.empty());
  EXPECT_EQ(links::State().serial.port, 4);
  EXPECT_EQ(links::State().serial.baud, 57600);
  EXPECT_EQ(links::State().configured_baud, 9600);
}

TEST_F(DispatchTest, SerialOnlyExportsReachTheSerialLinkOnOtherPorts) {
  for (const NamedCall& e : SerialOnlyExports()) {
    Log().calls.clear();
    e.call(3);
    ASSERT_EQ(Log().calls.size(), 1u) << e.name;
    EXPECT_EQ(Log().calls[0].link, kSerial) << e.name;
    EXPECT_EQ(Log().calls[0].selection.port, 3) << e.name;
  }
}

TEST_F(DispatchTest, PortNumberChoosesTheLinkAndResultsPassThrough) {
  Log().result[kDisk] = -7;
  Log().result[kHid] = -4;
  Log().result[kSerial] = -11;
  EXPECT_EQ(FPIReset(0), -7);
  EXPECT_EQ(FPIReset(9), -4);
  EXPECT_EQ(FPIReset(10), -11);
  EXPECT_EQ(FPIReset(-5), -11);
  ASSERT_EQ(Log().calls.size(), 4u);
  EXPECT_EQ(Log().calls[0].link, kDisk);
  EXPECT_EQ(Log().calls[1].link, kHid);
  EXPECT_EQ(Log().calls[2].link, kSerial);
  EXPECT_EQ(Log().calls[3].selection.port, -5);
}

TEST_F(DispatchTest, SerialCallSeesPortAndConfiguredBaudSelected) {
  FPISetParam(0, 115200);
  EXPECT_EQ(FPIReset(10), 0);
  ASSERT_EQ(Log().calls.size(), 1u);
  EXPECT_EQ(Log().calls[0].operation, "Reset");
  EXPECT_EQ(Log().calls[0].selection.port, 10);
  EXPECT_EQ(Log().calls[0].selection.baud, 115200);

  FPISetParam(0, 9600);
  int count = -1;
  Log().value = 17;
  EXPECT_EQ(FPIGetMBLibCount(3, &count), 0);
  EXPECT_EQ(count, 17);
  EXPECT_EQ(Log().calls.back().selection.port, 3);
  EXPECT_EQ(Log().calls.back().selection.baud, 9600);
  // Disk and HID calls leave the serial selection alone.
  FPIReset(0);
  FPIReset(9);
  EXPECT_EQ(links::State().serial.port, 3);
}

TEST_F(DispatchTest, MissingLinkOperationAnswersMinusOne) {
  links::LinkOps partial = FakeOps(kDisk);
  partial.Reset = nullptr;
  partial.CountTemplates = nullptr;
  const LinkTables outer = InstallLinkTables(LinkTables{&partial, &FakeOps(kHid), &FakeOps(kSerial)});
  int count = 5;
  EXPECT_EQ(FPIReset(0), -1);
  EXPECT_EQ(FPIGetMBLibCount(0, &count), -1);
  EXPECT_EQ(count, 5);
  EXPECT_EQ(FPIReset(9), 0);
  InstallLinkTables(outer);
}

TEST_F(DispatchTest, CheckFingerServesPortZeroOnly) {
  Log().finger_state = 0;
  EXPECT_EQ(FPICheckFinger(0), 0);
  Log().finger_state = 5;
  EXPECT_EQ(FPICheckFinger(0), 1);
  Log().result[kDisk] = -10;
  EXPECT_EQ(FPICheckFinger(0), -1);
  const size_t disk_calls = Log().calls.size();
  EXPECT_EQ(disk_calls, 3u);
  for (int port : {9, 1, 3, 10, -1}) EXPECT_EQ(FPICheckFinger(port), -1) << port;
  EXPECT_EQ(Log().calls.size(), disk_calls);
}

TEST_F(DispatchTest, ImmediateImageServesPortsZeroAndNineOnly) {
  std::vector<unsigned char> image(30400);
  int w = 0, h = 0;
  for (int port : {1, 5, 8, 10}) {
    EXPECT_EQ(FPIGetImageImmediately(port, &w, &h, image.data()), -1) << port;
  }
  EXPECT_TRUE(Log().calls.empty());
  EXPECT_EQ(FPIGetImageImmediately(0, &w, &h, image.data()), 0);
  EXPECT_EQ(FPIGetImageImmediately(9, &w, &h, image.data()), 0);
  ASSERT_EQ(Log().calls.size(), 2u);
  EXPECT_EQ(Log().calls[0].link, kDisk);
  EXPECT_EQ(Log().calls[1].link, kHid);
}

TEST_F(DispatchTest, CaptureExportsRefusePortsOutsideZeroToNine) {
  char text[600];
  int length = 77;
  for (int port : {10, -1, 100}) {
    EXPECT_EQ(FPIFeature(port, text, &length), -3);
    EXPECT_EQ(FPITemplate(port, text, &length), -3);
    EXPECT_EQ(FPIFeatureB64(port, text, &length), -3);
    EXPECT_EQ(FPITemplateB64(port, text, &length), -3);
    // The range answer comes before any argument check.
    EXPECT_EQ(FPIFeature(port, nullptr, nullptr), -3);
  }
  EXPECT_EQ(length, 77);
  EXPECT_TRUE(Log().calls.empty());
}

TEST_F(DispatchTest, SetParamTurnsDialogOnAndAcceptsOnly115200) {
  EXPECT_EQ(FPISetParam(5, 57600), 0);
  EXPECT_EQ(Module().dialog_mode, 1);
  EXPECT_EQ(links::State().configured_baud, 9600);
  EXPECT_EQ(FPISetParam(0, 115200), 0);
  EXPECT_EQ(Module().dialog_mode, 0);
  EXPECT_EQ(links::State().configured_baud, 115200);
  EXPECT_EQ(FPISetParam(-1, 38400), 0);
  EXPECT_EQ(Module().dialog_mode, 1);
  EXPECT_EQ(links::State().configured_baud, 9600);
  EXPECT_TRUE(Log().calls.empty());
}

TEST_F(DispatchTest, SetBaudRateMapsTheRateAndSwitchesOnlyOnSuccess) {
  EXPECT_EQ(FPISetBuadRate(2, 115200), 0);
  EXPECT_EQ(Log().calls.back().a, 115200);
  EXPECT_EQ(Log().calls.back().selection.baud, 9600);  // sent at the old rate
  EXPECT_EQ(links::State().configured_baud, 115200);

  EXPECT_EQ(FPISetBuadRate(2, 38400), 0);
  EXPECT_EQ(Log().calls.back().a, 9600);
  EXPECT_EQ(links::State().configured_baud, 9600);

  Log().result[kSerial] = -11;
  EXPECT_EQ(FPISetBuadRate(2, 57600), -11);
  EXPECT_EQ(links::State().configured_baud, 9600);
}

TEST_F(DispatchTest, UpdateSendsMappedBaudAndKeepsRateOnFailure) {
  const unsigned char data[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_EQ(FPIUpdate(4, data, 8, 2, 57600), 0);
  EXPECT_EQ(Log().calls.back().a, 8 * 1000 + 2);
  EXPECT_EQ(Log().calls.back().b, 57600);
  EXPECT_EQ(links::State().configured_baud, 57600);
  Log().result[kSerial] = -2;
  EXPECT_EQ(FPIUpdate(4, data, 8, 1, 115200), -2);
  EXPECT_EQ(links::State().configured_baud, 57600);
  EXPECT_EQ(FPIUpdate(4, nullptr, 8, 1, 9600), -1);
  EXPECT_EQ(FPIUpdate(4, data, -1, 1, 9600), -1);
}

TEST_F(DispatchTest, FixedFieldsAreSentAtFullSizeAndPaddedAfterTheText) {
  EXPECT_EQ(FPISetSequence(1, "short"), 0);
  uint8_t expected[32] = {'s', 'h', 'o', 'r', 't'};
  EXPECT_EQ(std::memcmp(Log().field, expected, 32), 0);

  const std::string long_key(40, 'k');
  EXPECT_EQ(FPISetKey(1, long_key.c_str()), 0);
  EXPECT_EQ(std::memcmp(Log().field, long_key.data(), 16), 0);
  EXPECT_EQ(FPISetKey(1, nullptr), -1);
}

TEST_F(DispatchTest, GetSequenceSendsTheBufferUpToItsFirstZeroAndFillsIt) {
  unsigned char sequence[32];
  std::memset(sequence, 'x', sizeof sequence);  // no terminator anywhere in the buffer
  EXPECT_EQ(FPIGetSequence(1, sequence), 0);
  EXPECT_EQ(Log().calls.back().a, 32);
  for (int i = 0; i < 32; ++i) EXPECT_EQ(sequence[i], 0xA0 + i);
}

TEST_F(DispatchTest, StatusWordsAndLevelsAreCopiedOutOnlyOnSuccess) {
  unsigned char word[2] = {0, 0};
  EXPECT_EQ(FPIGetStatus(1, word), 0);
  EXPECT_EQ(word[0], 0x12);
  EXPECT_EQ(word[1], 0x34);
  EXPECT_EQ(FPIGetErrorCode(1, word), 0);
  EXPECT_EQ(word[0], 0x56);

  int level = -1;
  Log().value = 6;
  EXPECT_EQ(FPIGetSecurityLevel(0, &level), 0);
  EXPECT_EQ(level, 6);
  Log().result[kDisk] = -8;
  level = -1;
  EXPECT_EQ(FPIGetSecurityLevel(0, &level), -8);
  EXPECT_EQ(level, -1);

  EXPECT_EQ(FPISetSecurityLevel(9, 4), 0);
  EXPECT_EQ(Log().calls.back().link, kHid);
  EXPECT_EQ(Log().calls.back().a, 4);
}

TEST_F(DispatchTest, VersionAndSearchCopyTheReportedBytes) {
  Log().text = "MTR-771A 2.1";
  unsigned char version[64];
  std::memset(version, 0xEE, sizeof version);
  int length = 0;
  EXPECT_EQ(FPIGetVersion(0, version, &length), 0);
  EXPECT_EQ(length, 12);
  EXPECT_EQ(std::memcmp(version, "MTR-771A 2.1", 12), 0);
  EXPECT_EQ(version[12], 0xEE);  // nothing written past the count

  Log().text = "hit";
  unsigned char found[16];
  std::memset(found, 0xEE, sizeof found);
  EXPECT_EQ(FPISearch(9, 258, 7, found, &length), 0);
  EXPECT_EQ(Log().calls.back().a, 258);
  EXPECT_EQ(Log().calls.back().b, 7);
  EXPECT_EQ(length, 3);
  EXPECT_EQ(std::memcmp(found, "hit", 4), 0);  // with the zero behind
  EXPECT_EQ(found[4], 0xEE);
}

TEST_F(DispatchTest, InsertTemplateRefusesRequestsLargerThanTheFrame) {
  std::vector<unsigned char> data(1100, 1);
  const std::string text(1024, '5');
  EXPECT_EQ(FPIInsertMBLib(0, 7, data.data(), 4, text.c_str(), 512), 0);
  EXPECT_EQ(Log().calls.back().a, 7);
  EXPECT_EQ(Log().calls.back().b, 4);
  // 6 header bytes + 497 name bytes + 512 template bytes is the largest request.
  EXPECT_EQ(FPIInsertMBLib(0, 7, data.data(), 497, text.c_str(), 1024), 0);
  const size_t calls = Log().calls.size();
  EXPECT_EQ(FPIInsertMBLib(0, 7, data.data(), 498, text.c_str(), 1024), -1);
  EXPECT_EQ(FPIInsertMBLib(0, 7, data.data(), 4, text.c_str(), 1026), -1);
  EXPECT_EQ(FPIInsertMBLib(0, 7, nullptr, 4, text.c_str(), 512), -1);
  EXPECT_EQ(FPIInsertMBLib(0, 7, data.data(), 4, nullptr, 512), -1);
  EXPECT_EQ(FPIInsertMBLib(0, 7, data.data(), -1, text.c_str(), 512), -1);
  EXPECT_EQ(Log().calls.size(), calls);
  EXPECT_EQ(FPIInsertMBLib(0, 7, nullptr, 0, nullptr, 0), 0);
}

// Every size check on caller numbers, held to a plain statement of its rule in 64-bit
// arithmetic, with numbers up to the int range where a 32-bit sum would overflow.
TEST_F(DispatchTest, SizeChecksOnCallerNumbersCannotOverflow) {
  constexpr int kMax = std::numeric_limits<int>::max();
  const std::vector<int> numbers = {-1, 0, 1, 497, 498, 512, 513, 1024, 1026, 1048, 1049,
                                    93184, 93185, 2147483386, kMax - 6, kMax};
  static std::vector<unsigned char> data(2048, 1);
  static const std::string text(2048, '5');
  for (int a : numbers) {
    for (int b : numbers) {
      SCOPED_TRACE(::testing::Message() << a << ", " << b);
      const int64_t m = a, t = b / 2;
      // Identifier, name length and template length take two bytes each beside the
      // name and the template bytes; the template part is at most 512 bytes.
      const bool insert = a >= 0 && b >= 0 && t <= 512 && 6 + m + t <= 1015;
      size_t calls = Log().calls.size();
      FPIInsertMBLib(0, 7, data.data(), a, text.c_str(), b);
      EXPECT_EQ(Log().calls.size() > calls, insert) << "FPIInsertMBLib";
      // An uploaded image must fit the largest image area (256 x 360 and its frame).
      const bool upload = a > 0 && b > 0 && int64_t{a} * b <= 93184;
      calls = Log().calls.size();
      static std::vector<unsigned char> image(93184);
      FPIUploadImage(0, a, b, image.data());
      EXPECT_EQ(Log().calls.size() > calls, upload) << "FPIUploadImage";
    }
    // A one-shot update travels in one text request of at most 2112 characters.
    size_t calls = Log().calls.size();
    FPIUpdate(3, data.data(), a, 1, 9600);
    EXPECT_EQ(Log().calls.size() > calls, a >= 0 && a <= 1048) << "FPIUpdate " << a;
  }
}

TEST_F(DispatchTest, FirmwareStepsGoToThePortsLink) {
  const unsigned char packet[4] = {9, 8, 7, 6};
  EXPECT_EQ(FPIUpdate_SendFileSize(0, 65536), 0);
  EXPECT_EQ(FPIUpdate_SendPacket(9, 3, packet, 4), 0);
  EXPECT_EQ(FPIUpdate_Write(5, 1), 0);
  ASSERT_EQ(Log().calls.size(), 3u);
  EXPECT_EQ(Log().calls[0].link, kDisk);
  EXPECT_EQ(Log().calls[0].a, 65536);
  EXPECT_EQ(Log().calls[1].link, kHid);
  EXPECT_EQ(Log().calls[1].a, 3);
  EXPECT_EQ(Log().calls[2].link, kSerial);
  EXPECT_EQ(Log().calls[2].selection.port, 5);
  EXPECT_EQ(FPIUpdate_SendPacket(0, 1, nullptr, 4), -1);
  EXPECT_EQ(Log().calls.size(), 3u);
}

class DetectTest : public DispatchTest {
 protected:
  void SetUp() override { previous_ = platform::Install(platform::Providers{nullptr, nullptr, nullptr, &clock_}); }
  void TearDown() override { platform::Install(previous_); }
  platform::VirtualClock clock_{1000};
  platform::Providers previous_;
};

TEST_F(DetectTest, DiskIsProbedFirstAndAnsweredAfterThePause) {
  Log().text = "v";
  EXPECT_EQ(FPIDevDetect(), 0);
  ASSERT_EQ(Log().calls.size(), 1u);
  EXPECT_EQ(Log().calls[0].operation, "Detect");
  EXPECT_EQ(clock_.TickMs(), 1300u);
}

TEST_F(DetectTest, ALinkWithoutProbeIsAskedForItsVersion) {
  links::LinkOps disk = FakeOps(kDisk);
  disk.Detect = nullptr;
  const LinkTables outer = InstallLinkTables(LinkTables{&disk, &FakeOps(kHid), &FakeOps(kSerial)});
  EXPECT_EQ(FPIDevDetect(), 0);
  ASSERT_EQ(Log().calls.size(), 1u);
  EXPECT_EQ(Log().calls[0].operation, "GetVersion");
  InstallLinkTables(outer);
}

TEST_F(DetectTest, HidFollowsWhenTheDiskFindsNothing) {
  Log().result[kDisk] = -10;
  EXPECT_EQ(FPIDevDetect(), 9);
  ASSERT_EQ(Log().calls.size(), 2u);
  EXPECT_EQ(Log().calls[1].link, kHid);
}

TEST_F(DetectTest, SerialPortsAreTriedInOrderAndTheFoundOneStaysSelected) {
  Log().result[kDisk] = -10;
  Log().result[kHid] = -10;
  // Only COM3 answers: the fake's serial result changes once port 3 is selected.
  Log().result[kSerial] = -1;
  links::LinkOps serial = FakeOps(kSerial);
  serial.Detect = [] { return links::State().serial.port == 3 ? 0 : -1; };
  const LinkTables outer = InstallLinkTables(LinkTables{&FakeOps(kDisk), &FakeOps(kHid), &serial});
  EXPECT_EQ(FPIDevDetect(), 3);
  EXPECT_EQ(links::State().serial.port, 3);
  EXPECT_EQ(clock_.TickMs(), 1300u);
  InstallLinkTables(outer);
}

TEST_F(DetectTest, NothingFoundAnswersMinusOneWithoutPauseAndLeavesPortEight) {
  Log().result[kDisk] = -10;
  Log().result[kHid] = -3;
  Log().result[kSerial] = -1;
  FPISetParam(0, 115200);
  EXPECT_EQ(FPIDevDetect(), -1);
  EXPECT_EQ(links::State().serial.port, 8);
  EXPECT_EQ(links::State().serial.baud, 115200);
  EXPECT_EQ(clock_.TickMs(), 1000u);
  int serial_probes = 0;
  for (const Call& c : Log().calls) serial_probes += c.link == kSerial ? 1 : 0;
  EXPECT_EQ(serial_probes, 8);
}

}  // namespace
}  // namespace vantrel::api::testing
