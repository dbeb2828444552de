// The HID link's command operations against the stand-in reader: the binary commands
// through the shared command layer, the two-part images and the firmware-update handle.
#include <string>

#include "reader/protocol/result_codes.h"
#include "tests/links/hid_fixture.h"

namespace vantrel::testing {
namespace {

namespace h = links::hid;
namespace p = protocol;

std::vector<uint8_t> Pattern(int n, int step) {
  std::vector<uint8_t> v(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) v[static_cast<size_t>(i)] = static_cast<uint8_t>(i * step + i / 256);
  return v;
}

// Requests the reader got, read back from its output reports: (code, parameter 1).
std::vector<std::pair<int, int>> Commands(const sim::HidDeviceSim& reader) {
  std::vector<std::pair<int, int>> out;
  for (const auto& report : reader.WrittenReports()) {
    if (report.size() > 5 && report[1] == 0x02) out.emplace_back(report[4], report[5]);
  }
  return out;
}

TEST_F(HidTest, SettingsAndVersion) {
  AddReader();
  model_.SetVersion("MTR-771A V2.31");
  uint8_t version[h::kMaxReportLength] = {};
  int length = 0;
  ASSERT_EQ(Ops().GetVersion(version, &length), 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(version), static_cast<size_t>(length)),
            "MTR-771A V2.31");
  EXPECT_EQ(Ops().Detect(), 0);
  EXPECT_EQ(Ops().SetSecurityLevel(8), 0);
  int level = 0;
  EXPECT_EQ(Ops().GetSecurityLevel(&level), 0);
  EXPECT_EQ(level, 8);
  model_.SetFinger(true);
  EXPECT_EQ(Ops().FingerState(), 0);
  model_.SetFinger(false);
  EXPECT_GT(Ops().FingerState(), 0);
  EXPECT_EQ(hid_.OpenHandles(), 0);
}

TEST_F(HidTest, ReplyFaultsGiveTheCheckCodes) {
  AddReader();
  model_.InjectFault(sim::Fault::kStatusBusy);
  EXPECT_EQ(Ops().Reset(), p::kReaderBusy);
  model_.InjectFault(sim::Fault::kBadChecksum);
  EXPECT_EQ(Ops().Reset(), p::kBadChecksum);
  model_.InjectFault(sim::Fault::kWrongLength);
  EXPECT_EQ(Ops().Reset(), p::kReplyLengthMismatch);
  model_.InjectFault(sim::Fault::kSilent);
  EXPECT_EQ(Ops().Reset(), p::kNoReply);
  EXPECT_EQ(hid_.OpenHandles(), 0);
}

TEST_F(HidTest, ReplyThatStopsAfterItsFirstReportFailsItsChecksum) {
  sim::HidDeviceSim& reader = AddReader();
  uint8_t buffer[1024];
  int length = 0;
  struct Row {
    const char* name;
    int (*call)(uint8_t* buffer, int* length);
    int expected;
  };
  const Row rows[] = {
      {"reset, one report", [](uint8_t*, int*) { return links::HidLinkOps().Reset(); }, 0},
      {"version, two reports", [](uint8_t* b, int* n) { return links::HidLinkOps().GetVersion(b, n); },
       p::kBadChecksum},
      {"search, three reports",
       [](uint8_t* b, int* n) { return links::HidLinkOps().Search(0, 9, b, n); }, p::kBadChecksum},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    reader.StopAfterFirstReport();
    EXPECT_EQ(row.call(buffer, &length), row.expected);
  }
  EXPECT_EQ(hid_.OpenHandles(), 0);
}

TEST_F(HidTest, TemplateLibraryAndReaderRecords) {
  AddReader();
  std::string text;
  for (uint8_t b : Pattern(256, 3)) {
    text += static_cast<char>(0x30 + (b >> 4));
    text += static_cast<char>(0x30 + (b & 0x0F));
  }
  const uint8_t name[2] = {'x', 'y'};
  EXPECT_EQ(Ops().ClearLibrary(), 0);
  EXPECT_EQ(Ops().InsertTemplate(3, name, 2, text.c_str(), 512), 0);
  EXPECT_EQ(Ops().InsertTemplate(4, name, 2, text.c_str(), 512), 0);
  EXPECT_EQ(Ops().StoreLibrary(), 0);
  int count = 0;
  EXPECT_EQ(Ops().CountTemplates(&count), 0);
  EXPECT_EQ(count, 2);
  uint8_t found[links::kMaxSearchText + 1] = {};
  int length = 0;
  EXPECT_EQ(Ops().Search(0, 9, found, &length), 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(found), static_cast<size_t>(length)), "3,4");
}

// Nibble text is 0x30 + nibble for both halves of a byte (0x3A..0x3F for 10..15).
TEST_F(HidTest, ReaderRecordsAreNibbleText) {
  AddReader();
  std::string text;
  for (uint8_t b : Pattern(256, 3)) {
    text += static_cast<char>(0x30 + (b >> 4));
    text += static_cast<char>(0x30 + (b & 0x0F));
  }
  model_.SetReaderRecords(Pattern(256, 3), Pattern(100, 5));
  int length = 0;
  char record[513];
  ASSERT_EQ(Ops().ReaderTemplate(record, &length), 0);
  EXPECT_EQ(std::string(record, static_cast<size_t>(length)), text);
  ASSERT_EQ(Ops().ReaderFeature(record, &length), 0);
  EXPECT_EQ(length, 200);
}

TEST_F(HidTest, SmallImageComesInOnePart) {
  sim::HidDeviceSim& reader = AddReader();
  const std::vector<uint8_t> pixels = Pattern(152 * 200, 7);
  model_.QueueImage(pixels.data(), 152, 200);  // taken by the get-image-size capture
  int width = 0;
  int height = 0;
  ASSERT_EQ(Ops().GetImageSize(&width, &height), 0);
  EXPECT_EQ(width, 152);
  EXPECT_EQ(height, 200);
  reader.ClearWrittenReports();
  std::vector<uint8_t> image(152 * 200);
  ASSERT_EQ(Ops().ReadImage(width, height, image.data(), 0, nullptr, nullptr), 0);
  EXPECT_EQ(image, pixels);
  EXPECT_EQ(Commands(reader), (std::vector<std::pair<int, int>>{{0x41, 0}}));
}

TEST_F(HidTest, LargeImageComesInTwoPartsWithTheLongFormCheck) {
  sim::HidDeviceSim& reader = AddReader();
  const std::vector<uint8_t> pixels = Pattern(256 * 360, 5);
  model_.QueueImage(pixels.data(), 256, 360);
  model_.Capture();
  std::vector<uint8_t> image(256 * 360);
  ASSERT_EQ(Ops().ReadImage(256, 360, image.data(), 0, nullptr, nullptr), 0);
  EXPECT_EQ(image, pixels);
  EXPECT_EQ(Commands(reader), (std::vector<std::pair<int, int>>{{0x41, 0}, {0x41, 1}}));
  EXPECT_EQ(hid_.OpenHandles(), 0);
}

TEST_F(HidTest, ImmediateCaptureIsAlwaysTwoParts) {
  sim::HidDeviceSim& reader = AddReader();
  const std::vector<uint8_t> pixels = Pattern(256 * 360, 3);
  model_.QueueImage(pixels.data(), 256, 360);
  std::vector<uint8_t> image(256 * 360);
  int width = 0;
  int height = 0;
  ASSERT_EQ(Ops().CaptureImageAtOnce(&width, &height, image.data()), 0);
  EXPECT_EQ(width, 256);
  EXPECT_EQ(height, 360);
  EXPECT_EQ(image, pixels);
  EXPECT_EQ(Commands(reader), (std::vector<std::pair<int, int>>{{0x1E, 0}, {0x1E, 1}}));

  // A lost second part fails the joined check; the size is set all the same.
  model_.InjectFault(sim::Fault::kNone);
  model_.VanishAfter(1);
  width = height = 0;
  EXPECT_NE(Ops().CaptureImageAtOnce(&width, &height, image.data()), 0);
  EXPECT_EQ(width, 256);
  EXPECT_EQ(hid_.OpenHandles(), 0);
}

TEST_F(HidTest, RealFingerprintTravelsUnchanged) {
  const std::string path = std::string(VANTREL_FINGERPRINTS_DIR) + "/FVC2002_DB1_B/101_1.pgm";
  const std::vector<uint8_t> pixels = LoadPgm(path);
  if (pixels.empty()) GTEST_SKIP() << "no fingerprint images at " << path;
  AddReader();
  model_.QueueImage(pixels.data(), 152, 200);
  model_.Capture();
  std::vector<uint8_t> image(152 * 200);
  ASSERT_EQ(Ops().ReadImage(152, 200, image.data(), 0, nullptr, nullptr), 0);
  EXPECT_EQ(image, pixels);
}

TEST_F(HidTest, FirmwareHandleLivesFromAnnounceToFinish) {
  AddReader();
  const std::vector<uint8_t> packet = Pattern(512, 1);
  ASSERT_EQ(Ops().UpdateSendFileSize(1024), 0);
  EXPECT_FALSE(h::Object().firmware_slot.Empty());
  EXPECT_EQ(hid_.OpenHandles(), 1);
  const uint32_t before = clock_.TickMs();
  ASSERT_EQ(Ops().UpdateSendPacket(0, packet.data(), 512), 0);
  EXPECT_GE(clock_.TickMs() - before, 50u);  // the pause after each packet
  ASSERT_EQ(Ops().UpdateSendPacket(1, packet.data(), 512), 0);
  ASSERT_EQ(Ops().UpdateWrite(1), 0);
  EXPECT_TRUE(h::Object().firmware_slot.Empty());
  EXPECT_EQ(hid_.OpenHandles(), 0);
  const sim::ReaderState state = model_.Snapshot();
  EXPECT_EQ(state.firmware_packets, 2);
  EXPECT_EQ(state.firmware_updates, 1);
}

TEST_F(HidTest, FailedPacketClosesTheFirmwareHandle) {
  AddReader();
  const uint8_t packet[8] = {};
  ASSERT_EQ(Ops().UpdateSendFileSize(8), 0);
  model_.InjectFault(sim::Fault::kStatusError);
  EXPECT_EQ(Ops().UpdateSendPacket(0, packet, 8), p::kBadStatus);
  EXPECT_TRUE(h::Object().firmware_slot.Empty());
  EXPECT_EQ(hid_.OpenHandles(), 0);
  EXPECT_EQ(Ops().UpdateSendPacket(1, packet, 8), p::kBadArguments);  // no handle now
}

TEST_F(HidTest, TeardownClosesAnUnfinishedUpdate) {
  AddReader();
  ASSERT_EQ(Ops().UpdateSendFileSize(8), 0);
  ASSERT_EQ(hid_.OpenHandles(), 1);
  h::TeardownHidLink();
  EXPECT_EQ(hid_.OpenHandles(), 0);
  EXPECT_TRUE(h::Object().firmware_slot.Empty());
  h::TeardownHidLink();  // twice is harmless
}

}  // namespace
}  // namespace vantrel::testing
