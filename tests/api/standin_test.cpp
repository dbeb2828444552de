// The served exports on port 0 against the stand-in reader on the disk link. Every test
// ends with no device handle left open, failures included.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "reader/api/dispatch.h"
#include "reader/record/record_text.h"
#include "reader/platform/clock.h"
#include "reader/platform/platform.h"
#include "reader/platform/virtual/virtual_disk.h"
#include "reader/platform/virtual/virtual_hid.h"
#include "reader/platform/virtual/virtual_serial.h"
#include "sim/reader_model.h"
#include "vantrel/vantrel.h"

namespace vantrel::api {
namespace {

class StandInTest : public ::testing::Test {
 protected:
  void SetUp() override {
    disk_.AddReader(reader_);
    previous_ = platform::Install(platform::Providers{&disk_, &hid_, &serial_, &clock_});
    tables_ = InstallLinkTables(LinkTables{});
    state_ = links::State();
    links::State() = links::LinkState{};
  }
  void TearDown() override {
    EXPECT_EQ(disk_.OpenHandles(), 0);
    EXPECT_EQ(serial_.OpenPorts(), 0);
    links::State() = state_;
    InstallLinkTables(tables_);
    platform::Install(previous_);
  }

  static std::vector<uint8_t> Pattern(int bytes, int seed) {
    std::vector<uint8_t> v(static_cast<size_t>(bytes));
    for (int i = 0; i < bytes; ++i) v[static_cast<size_t>(i)] = static_cast<uint8_t>(i * 7 + seed);
    return v;
  }

  sim::ReaderModel reader_;
  platform::VirtualDisk disk_;
  platform::VirtualHid hid_;         // no reader on it
  platform::VirtualSerial serial_;   // no reader on any port
  platform::VirtualClock clock_{5000};
  platform::Providers previous_;
  LinkTables tables_;
  links::LinkState state_;
};

TEST_F(StandInTest, DetectFindsTheDiskReader) {
  EXPECT_EQ(FPIDevDetect(), 0);
  EXPECT_EQ(clock_.TickMs(), 5300u);
}

TEST_F(StandInTest, DetectWithoutAnyReaderAnswersMinusOne) {
  reader_.SetPresent(false);
  EXPECT_EQ(FPIDevDetect(), -1);
  EXPECT_EQ(links::State().serial.port, 8);
}

TEST_F(StandInTest, DetectFindsASerialReaderOnCom3) {
  reader_.SetPresent(false);
  sim::ReaderModel serial_reader;
  serial_.AddReader(3, serial_reader);
  EXPECT_EQ(FPIDevDetect(), 3);
  EXPECT_EQ(links::State().serial.port, 3);
  EXPECT_EQ(links::State().serial.baud, 9600);
  EXPECT_EQ(serial_.LastCom(), 3);
  serial_.RemoveReader(3);
}

TEST_F(StandInTest, DetectPrefersTheDiskOverASerialReader) {
  sim::ReaderModel serial_reader;
  serial_.AddReader(3, serial_reader);
  EXPECT_EQ(FPIDevDetect(), 0);
  EXPECT_EQ(serial_.Opens(), 0);
  serial_.RemoveReader(3);
}

TEST_F(StandInTest, NoReaderGivesMinusTenAndLeavesNothingOpen) {
  reader_.SetPresent(false);
  int value = 0;
  EXPECT_EQ(FPIReset(0), -10);
  EXPECT_EQ(FPIGetSecurityLevel(0, &value), -10);
  EXPECT_EQ(FPIGetMBLibCount(0, &value), -10);
  EXPECT_EQ(FPICheckFinger(0), -1);
}

TEST_F(StandInTest, ResetAndVersion) {
  EXPECT_EQ(FPIReset(0), 0);
  EXPECT_EQ(reader_.Snapshot().resets, 1);
  reader_.SetVersion("MTR-771A V2.05");
  unsigned char version[FPI_VERSION_BUFFER_BYTES];
  int length = 0;
  EXPECT_EQ(FPIGetVersion(0, version, &length), 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(version), static_cast<size_t>(length)),
            "MTR-771A V2.05");
}

TEST_F(StandInTest, SecurityLevelIsKeptByTheReader) {
  int level = -1;
  EXPECT_EQ(FPISetSecurityLevel(0, 7), 0);
  EXPECT_EQ(FPIGetSecurityLevel(0, &level), 0);
  EXPECT_EQ(level, 7);
  EXPECT_EQ(reader_.Snapshot().security_level, 7);
}

TEST_F(StandInTest, LinkFaultsPassThroughUnchanged) {
  reader_.InjectFault(sim::Fault::kBadChecksum);
  EXPECT_EQ(FPIReset(0), -6);
  reader_.InjectFault(sim::Fault::kStatusBusy);
  EXPECT_EQ(FPIReset(0), -11);
  reader_.InjectFault(sim::Fault::kStatusError);
  int level = 99;
  EXPECT_EQ(FPIGetSecurityLevel(0, &level), -8);
  EXPECT_EQ(level, 99);
  EXPECT_EQ(FPIReset(0), 0);
}

TEST_F(StandInTest, TemplateLibraryClearInsertCountStore) {
  EXPECT_EQ(FPIClearMBLib(0), 0);
  const std::string text(512, '6');  // 256 bytes of 0x66
  const unsigned char name[4] = {'a', 'b', 'c', 'd'};
  EXPECT_EQ(FPIInsertMBLib(0, 3, name, 4, text.c_str(), 512), 0);
  EXPECT_EQ(FPIInsertMBLib(0, 7, name, 2, text.c_str(), 512), 0);
  int count = -1;
  EXPECT_EQ(FPIGetMBLibCount(0, &count), 0);
  EXPECT_EQ(count, 2);
  const sim::ReaderState before = reader_.Snapshot();
  ASSERT_EQ(before.library.size(), 2u);
  EXPECT_EQ(before.library[0].id, 3);
  EXPECT_EQ(before.library[0].record, std::vector<uint8_t>(256, 0x66));
  EXPECT_TRUE(before.stored.empty());
  EXPECT_EQ(FPIWriteMBLib(0), 0);
  EXPECT_EQ(reader_.Snapshot().stored.size(), 2u);

  unsigned char found[FPI_SEARCH_BUFFER_BYTES];
  int length = 0;
  EXPECT_EQ(FPISearch(0, 1, 100, found, &length), 0);
  EXPECT_GT(length, 0);
  EXPECT_EQ(found[length], 0);
  EXPECT_NE(std::string(reinterpret_cast<char*>(found)).find('3'), std::string::npos);

  EXPECT_EQ(FPIClearMBLib(0), 0);
  EXPECT_EQ(FPIGetMBLibCount(0, &count), 0);
  EXPECT_EQ(count, 0);
}

TEST_F(StandInTest, CheckFingerFollowsTheSensor) {
  reader_.SetFinger(false);
  EXPECT_EQ(FPICheckFinger(0), 1);
  reader_.SetFinger(true);
  EXPECT_EQ(FPICheckFinger(0), 0);
}

TEST_F(StandInTest, ImageCaptureUploadAndDisplayForm) {
  const std::vector<uint8_t> first = Pattern(30400, 1);
  const std::vector<uint8_t> second = Pattern(30400, 2);
  reader_.QueueImage(first.data(), 152, 200);
  reader_.QueueImage(second.data(), 152, 200);

  int w = 0, h = 0;
  EXPECT_EQ(FPIGetImage(0, &w, &h), 0);
  EXPECT_EQ(w, 152);
  EXPECT_EQ(h, 200);
  std::vector<unsigned char> image(30400);
  EXPECT_EQ(FPIUploadImage(0, 152, 200, image.data()), 0);
  EXPECT_EQ(std::vector<uint8_t>(image.begin(), image.end()), first);

  EXPECT_EQ(FPIGetImageData(0, &w, &h, image.data()), 0);
  for (int r : {0, 1, 100, 199}) {
    for (int x : {0, 75, 151}) {
      EXPECT_EQ(image[static_cast<size_t>(r * 152 + x)],
                255 - second[static_cast<size_t>((199 - r) * 152 + x)]);
    }
  }
}

TEST_F(StandInTest, ReaderMadeRecordsComeAsTerminatedNibbleText) {
  std::vector<uint8_t> templ(256), feature(256);
  for (int i = 0; i < 256; ++i) {
    templ[static_cast<size_t>(i)] = static_cast<uint8_t>(i);
    feature[static_cast<size_t>(i)] = static_cast<uint8_t>(255 - i);
  }
  reader_.SetReaderRecords(templ, feature);
  char text[FPI_TEXT_BUFFER_BYTES];
  std::memset(text, 'x', sizeof text);
  int length = 0;
  EXPECT_EQ(FPITemplate_RED_IZ(0, text, &length), 0);
  EXPECT_EQ(length, 512);
  EXPECT_EQ(text[512], '\0');
  // Nibble text: byte 0xFD is the characters 0x3F 0x3D.
  char expected[513];
  text::WriteNibbleText(templ.data(), 256, expected);
  EXPECT_EQ(std::string(text, 512), std::string(expected, 512));
  EXPECT_EQ(FPIFeature_RED_IZ(0, text, &length), 0);
  EXPECT_EQ(length, 512);
  text::WriteNibbleText(feature.data(), 256, expected);
  EXPECT_EQ(std::string(text, 512), std::string(expected, 512));
}

TEST_F(StandInTest, StepwiseFirmwareUpdate) {
  const std::vector<uint8_t> firmware = Pattern(3000, 9);
  EXPECT_EQ(FPIUpdate_SendFileSize(0, 3000), 0);
  EXPECT_EQ(FPIUpdate_SendPacket(0, 0, firmware.data(), 2000), 0);
  EXPECT_EQ(FPIUpdate_SendPacket(0, 1, firmware.data() + 2000, 1000), 0);
  EXPECT_EQ(FPIUpdate_Write(0, 1), 0);
  const sim::ReaderState state = reader_.Snapshot();
  EXPECT_EQ(state.firmware_updates, 1);
  EXPECT_EQ(state.firmware_received, 3000u);
  EXPECT_EQ(state.firmware_last_value, 1);
}

TEST_F(StandInTest, SecondAnnounceIsRefusedAndTheHandleStillCloses) {
  EXPECT_EQ(FPIUpdate_SendFileSize(0, 100), 0);
  EXPECT_EQ(FPIUpdate_SendFileSize(0, 100), -10);
  const uint8_t packet[100] = {};
  EXPECT_EQ(FPIUpdate_SendPacket(0, 0, packet, 100), 0);
  EXPECT_EQ(FPIUpdate_Write(0, 0), 0);
}

TEST_F(StandInTest, SerialOnlyExportsNeverOpenTheDisk) {
  int mode = 0;
  unsigned char word[2];
  EXPECT_EQ(FPIFree(0), -1);
  EXPECT_EQ(FPIGetWorkMode(0, &mode), -1);
  EXPECT_EQ(FPIGetStatus(0, word), -1);
  EXPECT_EQ(FPICalibrate(0), -1);
  EXPECT_EQ(FPISetBuadRate(0, 115200), -1);
  EXPECT_EQ(disk_.OpensSoFar(), 0);
  EXPECT_EQ(reader_.Snapshot().commands, 0);
}

}  // namespace
}  // namespace vantrel::api
