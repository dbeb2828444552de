#include "reader/links/disk_link.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "links/disk_fixture.h"
#include "reader/protocol/result_codes.h"

namespace vantrel::links {
namespace {

namespace pc = vantrel::protocol;

std::array<uint8_t, 16> Block(std::initializer_list<uint8_t> head) {
  std::array<uint8_t, 16> b{};
  size_t i = 0;
  for (uint8_t x : head) b[i++] = x;
  std::memcpy(b.data() + 5, "ORVANTA771", 10);
  b[15] = 0xFF;
  return b;
}

TEST_F(DiskLinkTest, ResetSendsAndFetchesWithTheVendorBlocks) {
  ASSERT_EQ(ops().Reset(), pc::kOk);
  const auto blocks = disk_.VendorBlocks();
  ASSERT_EQ(blocks.size(), 2u);
  EXPECT_EQ(blocks[0], Block({0xFF, 0x02, 0x00, 0x09, 0x00}));
  EXPECT_EQ(blocks[1], Block({0xFF, 0x00, 0x00, 0x07, 0x80}));
  EXPECT_EQ(reader_.Snapshot().resets, 1);
  EXPECT_EQ(reader_.Snapshot().last_request,
            (std::vector<uint8_t>{0x02, 0x00, 0x04, 0x02, 0x00, 0x00, 0x00, 0x06, 0x03}));
}

TEST_F(DiskLinkTest, VersionAndDetect) {
  reader_.SetVersion("MTR-771A FW 2.31");
  uint8_t buffer[256] = {};
  int length = -1;
  ASSERT_EQ(ops().GetVersion(buffer, &length), pc::kOk);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), length), "MTR-771A FW 2.31");
  EXPECT_EQ(ops().Detect(), pc::kOk);
  reader_.SetPresent(false);
  EXPECT_EQ(ops().Detect(), pc::kNoDevice);
}

TEST_F(DiskLinkTest, SecurityLevelIsKeptByTheReader) {
  ASSERT_EQ(ops().SetSecurityLevel(7), pc::kOk);
  int level = -1;
  ASSERT_EQ(ops().GetSecurityLevel(&level), pc::kOk);
  EXPECT_EQ(level, 7);
  // The stand-in refuses a level it does not know: status 1 is -8.
  EXPECT_EQ(ops().SetSecurityLevel(12), pc::kBadStatus);
  ASSERT_EQ(ops().GetSecurityLevel(&level), pc::kOk);
  EXPECT_EQ(level, 7);
}

TEST_F(DiskLinkTest, TemplateLibraryRoundTrip) {
  ASSERT_EQ(ops().ClearLibrary(), pc::kOk);
  const uint8_t name[2] = {'j', 'o'};
  const std::string text(512, '7');
  ASSERT_EQ(ops().InsertTemplate(3, name, 2, text.c_str(), 512), pc::kOk);
  ASSERT_EQ(ops().InsertTemplate(9, name, 0, text.c_str(), 511), pc::kOk);
  int count = -1;
  ASSERT_EQ(ops().CountTemplates(&count), pc::kOk);
  EXPECT_EQ(count, 2);
  ASSERT_EQ(ops().StoreLibrary(), pc::kOk);
  const sim::ReaderState s = reader_.Snapshot();
  ASSERT_EQ(s.stored.size(), 2u);
  EXPECT_EQ(s.stored[0].id, 3);
  EXPECT_EQ(s.stored[0].name, (std::vector<uint8_t>{'j', 'o'}));
  EXPECT_EQ(s.stored[0].record, std::vector<uint8_t>(256, 0x77));
  EXPECT_EQ(s.stored[1].record.size(), 255u);  // the odd last character is dropped

  uint8_t found[160];
  std::memset(found, 0xEE, sizeof(found));
  int length = -1;
  ASSERT_EQ(ops().Search(1, 20, found, &length), pc::kOk);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(found)), "3,9");
  EXPECT_EQ(length, 3);
  ASSERT_EQ(ops().Search(4, 20, found, &length), pc::kOk);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(found)), "9");

  ASSERT_EQ(ops().ClearLibrary(), pc::kOk);
  ASSERT_EQ(ops().CountTemplates(&count), pc::kOk);
  EXPECT_EQ(count, 0);
}

TEST_F(DiskLinkTest, InsertBeyondTheLayoutLimitsTouchesNoDevice) {
  const std::string text(1026, '1');
  EXPECT_EQ(ops().InsertTemplate(1, nullptr, 0, text.c_str(), 1026), pc::kBadArguments);
  EXPECT_EQ(disk_.OpensSoFar(), 0);
}

TEST_F(DiskLinkTest, ImagesComeFromTheQueue) {
  std::vector<uint8_t> first(152 * 200);
  for (size_t i = 0; i < first.size(); ++i) first[i] = static_cast<uint8_t>(i * 31);
  std::vector<uint8_t> second(152 * 200, 0x40);
  reader_.QueueImage(first.data(), 152, 200);
  reader_.QueueImage(second.data(), 152, 200);

  int width = 0;
  int height = 0;
  ASSERT_EQ(ops().GetImageSize(&width, &height), pc::kOk);
  EXPECT_EQ(width, 152);
  EXPECT_EQ(height, 200);
  std::vector<uint8_t> image(152 * 200, 0);
  ASSERT_EQ(ops().ReadImage(width, height, image.data(), 0, nullptr, nullptr), pc::kOk);
  EXPECT_EQ(image, first);

  std::fill(image.begin(), image.end(), 0);
  ASSERT_EQ(ops().CaptureImageAtOnce(&width, &height, image.data()), pc::kOk);
  EXPECT_EQ(image, second);
  // Queue empty: a blank sensor.
  ASSERT_EQ(ops().CaptureImageAtOnce(&width, &height, image.data()), pc::kOk);
  EXPECT_EQ(image, std::vector<uint8_t>(152 * 200, 0xFF));
}

TEST_F(DiskLinkTest, ReadImageOfAnotherSizeIsALengthMismatch) {
  std::vector<uint8_t> small(10 * 10, 1);
  reader_.QueueImage(small.data(), 10, 10);
  int width = 0;
  int height = 0;
  ASSERT_EQ(ops().GetImageSize(&width, &height), pc::kOk);
  std::vector<uint8_t> image(152 * 200, 0x55);
  EXPECT_EQ(ops().ReadImage(152, 200, image.data(), 0, nullptr, nullptr),
            pc::kReplyLengthMismatch);
  EXPECT_EQ(image[0], 0x55);  // nothing copied out
  EXPECT_EQ(ops().ReadImage(10, 10, image.data(), 0, nullptr, nullptr), pc::kOk);
  EXPECT_EQ(image[0], 1);
}

TEST_F(DiskLinkTest, ImageReplyLongerThanItsBufferIsRefused) {
  std::vector<uint8_t> image(200 * 200);
  EXPECT_EQ(ops().ReadImage(200, 200, image.data(), 0, nullptr, nullptr), pc::kReplyTooLong);
  EXPECT_EQ(disk_.OpensSoFar(), 0);
  EXPECT_EQ(ops().ReadImage(-1, 200, image.data(), 0, nullptr, nullptr), pc::kBadArguments);
}

TEST_F(DiskLinkTest, CaptureAtOnceSetsTheSizeEvenWhenItFails) {
  reader_.SetPresent(false);
  int width = 0;
  int height = 0;
  std::vector<uint8_t> image(152 * 200);
  EXPECT_EQ(ops().CaptureImageAtOnce(&width, &height, image.data()), pc::kNoDevice);
  EXPECT_EQ(width, 152);
  EXPECT_EQ(height, 200);
}

TEST_F(DiskLinkTest, FingerStateFollowsTheSensor) {
  EXPECT_EQ(ops().FingerState(), 1);
  reader_.SetFinger(true);
  EXPECT_EQ(ops().FingerState(), 0);
  reader_.SetFinger(false);
  EXPECT_EQ(ops().FingerState(), 1);
  EXPECT_EQ(reader_.Snapshot().last_request,
            (std::vector<uint8_t>{0x02, 0x00, 0x04, 0x43, 0x00, 0x00, 0x00, 0x47, 0x03}));
}

TEST_F(DiskLinkTest, ReaderRecordsAsNibbleText) {
  std::vector<uint8_t> templ = {0x67, 0x00, 0xAB, 0x10};
  std::vector<uint8_t> feature(256, 0x5C);
  reader_.SetReaderRecords(templ, feature);
  char text[513] = {};
  int length = 0;
  ASSERT_EQ(ops().ReaderTemplate(text, &length), pc::kOk);
  EXPECT_EQ(length, 8);
  EXPECT_EQ(std::string(text, 8), "6700:;10");  // nibbles 10..15 are : ; < = > ?
  ASSERT_EQ(ops().ReaderFeature(text, &length), pc::kOk);
  EXPECT_EQ(length, 512);
  std::string expected;
  for (int i = 0; i < 256; ++i) expected += "5<";
  EXPECT_EQ(std::string(text, 512), expected);
}

TEST_F(DiskLinkTest, NoReaderGivesMinusTenAndOpensNothing) {
  reader_.SetPresent(false);
  EXPECT_EQ(ops().Reset(), pc::kNoDevice);
  int level = -1;
  EXPECT_EQ(ops().GetSecurityLevel(&level), pc::kNoDevice);
  EXPECT_EQ(level, -1);
  EXPECT_EQ(disk_.OpensSoFar(), 0);
  disk_.FailListing(true);
  reader_.SetPresent(true);
  EXPECT_EQ(ops().Reset(), pc::kNoDevice);
}

TEST_F(DiskLinkTest, ReaderVanishingMidCommandLeavesNothingOpen) {
  reader_.VanishAfter(1);  // answers the send, then is unplugged before the fetch
  int count = -1;
  EXPECT_EQ(ops().CountTemplates(&count), pc::kReceiveFailed);
  EXPECT_EQ(count, -1);
  EXPECT_EQ(disk_.OpenHandles(), 0);
  EXPECT_EQ(ops().CountTemplates(&count), pc::kNoDevice);
}

TEST_F(DiskLinkTest, ReaderVanishingBetweenCommands) {
  ASSERT_EQ(ops().Reset(), pc::kOk);
  reader_.SetPresent(false);
  EXPECT_EQ(ops().Reset(), pc::kNoDevice);
  reader_.SetPresent(true);
  EXPECT_EQ(ops().Reset(), pc::kOk);
}

struct FaultCase {
  sim::Fault fault;
  int code;
};

class DiskFaultTest : public DiskLinkTest,
                      public ::testing::WithParamInterface<FaultCase> {};

TEST_P(DiskFaultTest, ReplyFaultsGiveTheirCodeAndCloseTheDevice) {
  reader_.InjectFault(GetParam().fault);
  int level = -1;
  EXPECT_EQ(ops().GetSecurityLevel(&level), GetParam().code);
  EXPECT_EQ(level, -1);  // outputs untouched on failure
  EXPECT_EQ(disk_.OpenHandles(), 0);
  // The fault is used up: the next command succeeds.
  EXPECT_EQ(ops().GetSecurityLevel(&level), pc::kOk);
  EXPECT_EQ(level, 5);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, DiskFaultTest,
    ::testing::Values(FaultCase{sim::Fault::kSilent, pc::kReceiveFailed},
                      FaultCase{sim::Fault::kWrongLength, pc::kReplyLengthMismatch},
                      FaultCase{sim::Fault::kShortReply, pc::kReplyLengthMismatch},
                      FaultCase{sim::Fault::kBadChecksum, pc::kBadChecksum},
                      FaultCase{sim::Fault::kBadStartMarker, pc::kBadStartMarker},
                      FaultCase{sim::Fault::kBadEndMarker, pc::kBadEndMarker},
                      FaultCase{sim::Fault::kStatusBusy, pc::kReaderBusy},
                      FaultCase{sim::Fault::kStatusError, pc::kBadStatus}));

TEST_F(DiskLinkTest, NullOutputsAreRefusedBeforeAnyDevice) {
  int length = 0;
  EXPECT_EQ(ops().GetVersion(nullptr, &length), pc::kBadArguments);
  EXPECT_EQ(ops().GetSecurityLevel(nullptr), pc::kBadArguments);
  EXPECT_EQ(ops().CountTemplates(nullptr), pc::kBadArguments);
  EXPECT_EQ(ops().Search(1, 2, nullptr, &length), pc::kBadArguments);
  EXPECT_EQ(ops().GetImageSize(nullptr, &length), pc::kBadArguments);
  EXPECT_EQ(ops().ReadImage(10, 10, nullptr, 0, nullptr, nullptr), pc::kBadArguments);
  EXPECT_EQ(ops().ReaderTemplate(nullptr, &length), pc::kBadArguments);
  EXPECT_EQ(ops().CaptureImageAtOnce(&length, nullptr, nullptr), pc::kBadArguments);
  EXPECT_EQ(disk_.OpensSoFar(), 0);
}

TEST_F(DiskLinkTest, ExchangeArgumentsMissing) {
  BinaryTransport& t = DiskTransport();
  DeviceSlot empty;
  uint8_t request[9] = {0x02, 0x00, 0x04, 0x02, 0, 0, 0, 0x06, 0x03};
  uint8_t reply[16];
  int received = 0;
  EXPECT_EQ(t.Exchange(empty, request, 9, reply, 16, 7, 3000, &received),
            pc::kExchangeArgumentsMissing);
  DeviceSlot slot;
  ASSERT_TRUE(t.Open(slot));
  EXPECT_FALSE(t.Open(slot));  // a filled slot is left alone
  EXPECT_EQ(t.Exchange(slot, nullptr, 9, reply, 16, 7, 3000, &received),
            pc::kExchangeArgumentsMissing);
  EXPECT_EQ(t.Exchange(slot, request, 0, reply, 16, 7, 3000, &received),
            pc::kExchangeArgumentsMissing);
  EXPECT_EQ(t.Exchange(slot, request, 9, nullptr, 16, 7, 3000, &received),
            pc::kExchangeArgumentsMissing);
  EXPECT_EQ(t.Exchange(slot, request, 9, reply, 6, 7, 3000, &received), pc::kReplyTooLong);
  EXPECT_EQ(t.Exchange(slot, request, 9, reply, 16, 7, 3000, &received), pc::kOk);
  EXPECT_EQ(received, 7);
  EXPECT_TRUE(t.Close(slot));
  EXPECT_TRUE(slot.Empty());
}

}  // namespace
}  // namespace vantrel::links

namespace vantrel::links {
namespace {

TEST(DiskLinkOpsTable, ServesTheBinaryCommandsAndNoSerialOnes) {
  const LinkOps& o = DiskLinkOps();
  EXPECT_EQ(o.Free, nullptr);
  EXPECT_EQ(o.SetWorkMode, nullptr);
  EXPECT_EQ(o.GetStatus, nullptr);
  EXPECT_EQ(o.SetKey, nullptr);
  EXPECT_EQ(o.Calibrate, nullptr);
  EXPECT_EQ(o.SetBaudRate, nullptr);
  EXPECT_EQ(o.Update, nullptr);
  EXPECT_EQ(o.CaptureTemplate, nullptr);
  EXPECT_EQ(o.ReadPackedImage, nullptr);
  const void* served[] = {
      reinterpret_cast<const void*>(o.Reset), reinterpret_cast<const void*>(o.GetVersion),
      reinterpret_cast<const void*>(o.SetSecurityLevel),
      reinterpret_cast<const void*>(o.GetSecurityLevel),
      reinterpret_cast<const void*>(o.ClearLibrary),
      reinterpret_cast<const void*>(o.InsertTemplate),
      reinterpret_cast<const void*>(o.StoreLibrary),
      reinterpret_cast<const void*>(o.CountTemplates), reinterpret_cast<const void*>(o.Search),
      reinterpret_cast<const void*>(o.UpdateSendFileSize),
      reinterpret_cast<const void*>(o.UpdateSendPacket),
      reinterpret_cast<const void*>(o.UpdateWrite),
      reinterpret_cast<const void*>(o.ReaderTemplate),
      reinterpret_cast<const void*>(o.ReaderFeature),
      reinterpret_cast<const void*>(o.GetImageSize), reinterpret_cast<const void*>(o.ReadImage),
      reinterpret_cast<const void*>(o.CaptureImageAtOnce),
      reinterpret_cast<const void*>(o.FingerState), reinterpret_cast<const void*>(o.Detect)};
  for (const void* op : served) EXPECT_NE(op, nullptr);
}

}  // namespace
}  // namespace vantrel::links
