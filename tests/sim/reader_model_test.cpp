// The stand-in reader as seen from the wire: hand-made request frames in, reply frames
// out, state kept across commands.
#include "sim/reader_model.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "sim/disk_reader_sim.h"
#include "sim/finger_settings.h"
#include "sim/synthetic_finger.h"

namespace vantrel::sim {
namespace {

std::vector<uint8_t> Req(uint8_t code, const std::vector<uint8_t>& data = {}, uint8_t p1 = 0) {
  const int length = static_cast<int>(data.size()) + 4;
  std::vector<uint8_t> r = {0x02, static_cast<uint8_t>(length >> 8),
                            static_cast<uint8_t>(length), code, p1, 0, 0};
  r.insert(r.end(), data.begin(), data.end());
  uint8_t sum = 0;
  for (size_t i = 1; i < r.size(); ++i) sum ^= r[i];
  r.push_back(sum);
  r.push_back(0x03);
  return r;
}

class ModelTest : public ::testing::Test {
 protected:
  std::vector<uint8_t> Ask(const std::vector<uint8_t>& request, SimLink link = SimLink::kDisk) {
    std::vector<uint8_t> reply(100000);
    const int n = model_.AnswerBinary(link, request.data(), static_cast<int>(request.size()),
                                      reply.data(), static_cast<int>(reply.size()));
    reply.resize(static_cast<size_t>(n));
    return reply;
  }
  static int Status(const std::vector<uint8_t>& reply) { return reply.size() > 3 ? reply[3] : -1; }
  ReaderModel model_;
};

TEST_F(ModelTest, ResetReplyIsSevenExactBytes) {
  EXPECT_EQ(Ask(Req(0x02)), (std::vector<uint8_t>{0x02, 0x00, 0x02, 0x00, 0x00, 0x02, 0x03}));
  EXPECT_EQ(model_.Snapshot().resets, 1);
}

TEST_F(ModelTest, ReplyLengthsOfEveryCommand) {
  struct Row {
    std::vector<uint8_t> request;
    size_t total;
  };
  const std::vector<Row> rows = {
      {Req(0x01), 71},           {Req(0x02), 7},     {Req(0x04, {3}), 7},
      {Req(0x05), 8},            {Req(0x1E, {0, 0}), 30407},
      {Req(0x20), 7},            {Req(0x21, {0, 1, 0, 0, 0, 1, 0xAA}), 7},
      {Req(0x22), 7},            {Req(0x23), 9},     {Req(0x31, {0, 0, 0, 9}), 159},
      {Req(0x40), 11},           {Req(0x41, {0, 0}), 30407},
      {Req(0x43), 9},            {Req(0x50, {0, 0, 0, 4}, 1), 7},
      {Req(0x50, {0, 0, 1, 2, 3, 4}, 2), 7}, {Req(0x50, {1}, 3), 7},
      {Req(0xA0), 265},          {Req(0xA2), 265},
  };
  for (const Row& row : rows) {
    const std::vector<uint8_t> reply = Ask(row.request);
    EXPECT_EQ(reply.size(), row.total) << "command " << int(row.request[3]);
    EXPECT_EQ(Status(reply), 0) << "command " << int(row.request[3]);
  }
  EXPECT_EQ(model_.Snapshot().commands, static_cast<int>(rows.size()));
}

TEST_F(ModelTest, RefusesWhatItCannotRead) {
  std::vector<uint8_t> bad = Req(0x02);
  bad[7] ^= 1;  // checksum
  EXPECT_EQ(Status(Ask(bad)), 0x01);
  EXPECT_EQ(Status(Ask(Req(0x77))), 0x01);
  // An insert whose template length disagrees with the request.
  EXPECT_EQ(Status(Ask(Req(0x21, {0, 1, 0, 0, 0, 5, 0xAA}))), 0x01);
  EXPECT_EQ(model_.CountTemplates(), 0);
  EXPECT_EQ(Status(Ask(Req(0x04, {10}))), 0x01);
}

TEST_F(ModelTest, LibraryStateAcrossCommands) {
  ASSERT_EQ(Status(Ask(Req(0x21, {0, 5, 0, 1, 'n', 0, 2, 0xAB, 0xCD}))), 0);
  ASSERT_EQ(Status(Ask(Req(0x21, {0, 8, 0, 0, 0, 1, 0x11}))), 0);
  ASSERT_EQ(Status(Ask(Req(0x21, {0, 5, 0, 0, 0, 1, 0x22}))), 0);  // same id replaces
  std::vector<uint8_t> count = Ask(Req(0x23));
  EXPECT_EQ(count[5] * 256 + count[6], 2);
  EXPECT_TRUE(model_.Snapshot().stored.empty());
  Ask(Req(0x22));
  EXPECT_EQ(model_.Snapshot().stored.size(), 2u);
  EXPECT_EQ(model_.Snapshot().stored[0].record, std::vector<uint8_t>{0x22});
  const std::vector<uint8_t> found = Ask(Req(0x31, {0, 0, 0, 100}));
  const int k = found[5] * 256 + found[6];
  EXPECT_EQ(std::string(found.begin() + 7, found.begin() + 7 + k), "5,8");
  Ask(Req(0x20));
  EXPECT_EQ(model_.CountTemplates(), 0);
  EXPECT_EQ(model_.Snapshot().stored.size(), 2u);  // storage keeps the last store
}

TEST_F(ModelTest, SecurityLevelPersists) {
  Ask(Req(0x04, {2}));
  Ask(Req(0x02));
  EXPECT_EQ(Ask(Req(0x05))[5], 2);
}

TEST_F(ModelTest, ImagesAreCapturedFromTheQueueInOrder) {
  const std::vector<uint8_t> a(6, 0x10);
  const std::vector<uint8_t> b(12, 0x20);
  model_.QueueImage(a.data(), 3, 2);
  model_.QueueImage(b.data(), 4, 3);
  std::vector<uint8_t> size = Ask(Req(0x40));
  EXPECT_EQ(std::vector<uint8_t>(size.begin() + 5, size.begin() + 9),
            (std::vector<uint8_t>{0, 3, 0, 2}));
  std::vector<uint8_t> image = Ask(Req(0x41, {0, 0}));
  ASSERT_EQ(image.size(), 6u + 7u);
  EXPECT_EQ(std::vector<uint8_t>(image.begin() + 5, image.begin() + 11), a);
  // Reading again gives the same held image; the next capture takes the next one.
  EXPECT_EQ(Ask(Req(0x41, {0, 0})), image);
  size = Ask(Req(0x40));
  EXPECT_EQ(size[6], 4);
  EXPECT_EQ(model_.Snapshot().queue.size(), 0u);
}

TEST_F(ModelTest, HidImmediateImageComesInTwoParts) {
  const std::vector<uint8_t> first = Ask(Req(0x1E, {0, 0}, 0), SimLink::kHid);
  const std::vector<uint8_t> second = Ask(Req(0x1E, {0, 0}, 1), SimLink::kHid);
  ASSERT_EQ(first.size(), 65536u);
  ASSERT_EQ(second.size(), 92169u - 65536u);
  // Long form: 32-bit length 92162.
  EXPECT_EQ(std::vector<uint8_t>(first.begin(), first.begin() + 5),
            (std::vector<uint8_t>{0x02, 0x00, 0x01, 0x68, 0x02}));
  EXPECT_EQ(second.back(), 0x03);
}

TEST_F(ModelTest, FingerState) {
  EXPECT_EQ(Ask(Req(0x43))[6], 1);
  model_.SetFinger(true);
  EXPECT_EQ(Ask(Req(0x43))[6], 0);
}

TEST_F(ModelTest, FirmwareStepsMustComeInOrder) {
  EXPECT_EQ(Status(Ask(Req(0x50, {0, 0, 1}, 2))), 0x01);  // packet before announce
  EXPECT_EQ(Status(Ask(Req(0x50, {0}, 3))), 0x01);        // finish before announce
  ASSERT_EQ(Status(Ask(Req(0x50, {0, 0, 0, 3}, 1))), 0);
  ASSERT_EQ(Status(Ask(Req(0x50, {0, 0, 7, 7, 7}, 2))), 0);
  ASSERT_EQ(Status(Ask(Req(0x50, {9}, 3))), 0);
  const ReaderState s = model_.Snapshot();
  EXPECT_EQ(s.firmware_received, 3u);
  EXPECT_EQ(s.firmware_updates, 1);
  EXPECT_EQ(s.firmware_last_value, 9);
  EXPECT_EQ(s.firmware_step, 0);
}

TEST_F(ModelTest, FaultsAreUsedUpInOrder) {
  model_.InjectFault(Fault::kStatusBusy, 2);
  EXPECT_EQ(Status(Ask(Req(0x02))), 0x3A);
  EXPECT_EQ(Status(Ask(Req(0x02))), 0x3A);
  EXPECT_EQ(Status(Ask(Req(0x02))), 0x00);
  model_.InjectFault(Fault::kSilent);
  EXPECT_TRUE(Ask(Req(0x02)).empty());
  model_.InjectFault(Fault::kWrongLength);
  const std::vector<uint8_t> longer = Ask(Req(0x02));
  EXPECT_EQ(longer.size(), 8u);
  EXPECT_EQ(longer[2], 3);
  model_.InjectFault(Fault::kBadEndMarker);
  EXPECT_EQ(Ask(Req(0x02)).back(), 0x00);
  model_.InjectFault(Fault::kBadStartMarker);
  EXPECT_EQ(Ask(Req(0x02)).front(), 0x00);
  model_.InjectFault(Fault::kBadChecksum);
  EXPECT_NE(Ask(Req(0x02))[5], 0x02);
}

TEST_F(ModelTest, VanishesAfterTheGivenCommands) {
  model_.VanishAfter(2);
  EXPECT_FALSE(Ask(Req(0x02)).empty());
  EXPECT_TRUE(model_.Present());
  EXPECT_FALSE(Ask(Req(0x02)).empty());
  EXPECT_FALSE(model_.Present());
  EXPECT_TRUE(Ask(Req(0x02)).empty());
  model_.SetPresent(true);
  EXPECT_FALSE(Ask(Req(0x02)).empty());
}

TEST_F(ModelTest, InquiryIdentity) {
  uint8_t data[192];
  ASSERT_TRUE(model_.Inquiry(data));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(data + 8), 24), "Orvanta MTR-771A        ");
  EXPECT_EQ(std::string(reinterpret_cast<char*>(data + 32), 4), "1.00");
  model_.SetIdentity("Orvanta", "MTR-771A", "2.0");
  ASSERT_TRUE(model_.Inquiry(data));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(data + 32), 4), "2.0 ");
  model_.SetInquiryPending(true);
  EXPECT_FALSE(model_.Inquiry(data));
}

// The disk side: vendor blocks carry the frames.
std::vector<uint8_t> Block(uint8_t code, int length, uint8_t direction) {
  std::vector<uint8_t> b = {0xFF, code, static_cast<uint8_t>(length >> 8),
                            static_cast<uint8_t>(length), direction};
  const char* tag = "ORVANTA771";
  b.insert(b.end(), tag, tag + 10);
  b.push_back(0xFF);
  return b;
}

TEST(DiskReaderSim, SendThenFetch) {
  ReaderModel model;
  DiskReaderSim disk(model);
  std::vector<uint8_t> request = Req(0x05);
  int moved = 0;
  EXPECT_EQ(disk.Execute(Block(0x05, 9, 0x00).data(), 16, true, request.data(), 9, &moved),
            DiskAnswer::kGood);
  uint8_t reply[8] = {};
  EXPECT_EQ(disk.Execute(Block(0, 8, 0x80).data(), 16, false, reply, 8, &moved),
            DiskAnswer::kGood);
  EXPECT_EQ(moved, 8);
  EXPECT_EQ(reply[5], 5);
  // A second fetch has nothing to give.
  EXPECT_EQ(disk.Execute(Block(0, 8, 0x80).data(), 16, false, reply, 8, &moved),
            DiskAnswer::kGone);
}

TEST(DiskReaderSim, RefusesForeignBlocks) {
  ReaderModel model;
  DiskReaderSim disk(model);
  std::vector<uint8_t> request = Req(0x02);
  std::vector<uint8_t> block = Block(0x02, 9, 0x00);
  block[7] = 'X';
  int moved = 0;
  EXPECT_EQ(disk.Execute(block.data(), 16, true, request.data(), 9, &moved),
            DiskAnswer::kCheckCondition);
  block = Block(0x02, 10, 0x00);  // transfer length disagrees with the data
  EXPECT_EQ(disk.Execute(block.data(), 16, true, request.data(), 9, &moved),
            DiskAnswer::kCheckCondition);
  EXPECT_EQ(model.Snapshot().commands, 0);
}

TEST(DiskReaderSim, InquiryPendingAndGone) {
  ReaderModel model;
  DiskReaderSim disk(model);
  const uint8_t cdb[6] = {0x12, 0, 0, 0, 192, 0};
  uint8_t data[192];
  int moved = 0;
  EXPECT_EQ(disk.Execute(cdb, 6, false, data, 192, &moved), DiskAnswer::kGood);
  EXPECT_EQ(moved, 192);
  model.SetInquiryPending(true);
  EXPECT_EQ(disk.Execute(cdb, 6, false, data, 192, &moved), DiskAnswer::kPending);
  model.SetPresent(false);
  EXPECT_EQ(disk.Execute(cdb, 6, false, data, 192, &moved), DiskAnswer::kGone);
}

}  // namespace
}  // namespace vantrel::sim

namespace vantrel::sim {
namespace {

// A finger from a source lies on the sensor for a capture, lifts after it and comes back,
// whether or not the finger also follows queued images (as the dialog tests set it).
TEST_F(ModelTest, SyntheticFingerLiftsAfterEachCaptureAndComesBack) {
  const std::vector<uint8_t> queued(152 * 200, 0x40);
  for (const bool follows : {false, true}) {
    model_.SetFingerFollowsImages(follows);
    model_.UseSyntheticFinger(9);
    for (uint32_t i = 0; i < 2; ++i) {
      EXPECT_EQ(Ask(Req(0x43))[6], 0) << follows;
      EXPECT_EQ(model_.TakeImage().pixels, DrawImpression(9, i));
      EXPECT_EQ(Ask(Req(0x43))[6], 1) << follows;
    }
    // A queued image comes first; the finger's next impression after it.
    model_.QueueImage(queued.data(), 152, 200);
    EXPECT_EQ(Ask(Req(0x43))[6], 0) << follows;
    EXPECT_EQ(model_.TakeImage().pixels, queued);
    EXPECT_EQ(Ask(Req(0x43))[6], 1) << follows;
    EXPECT_EQ(model_.TakeImage().pixels, DrawImpression(9, 2));
    // Taken away, the finger stays away until it is put back.
    model_.SetFinger(false);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(Ask(Req(0x43))[6], 1) << follows;
    model_.SetFinger(true);
    EXPECT_EQ(Ask(Req(0x43))[6], 0) << follows;
  }
}

TEST_F(ModelTest, ImageFolderIsTakenInNameOrderAndAgainFromTheStart) {
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("vantrel-images-" + std::to_string(::getpid()));
  std::filesystem::create_directories(folder);
  EXPECT_FALSE(model_.UseImageFolder(folder.string()));  // nothing in it yet
  EXPECT_FALSE(model_.UseImageFolder((folder / "missing").string()));
  auto write = [&](const char* name, uint8_t value, const char* header) {
    std::ofstream out(folder / name, std::ios::binary);
    out << header << std::string(152 * 200, static_cast<char>(value));
  };
  write("b.pgm", 2, "P5\n152 200\n255\n");
  write("a.pgm", 1, "P5\n152 200\n255\n");
  write("c.pgm", 3, "P5\n100 100\n255\n");  // another size: passed over
  write("d.txt", 4, "P5\n152 200\n255\n");
  ASSERT_TRUE(model_.UseImageFolder(folder.string()));
  for (uint8_t want : {1, 2, 1, 2}) {
    const ReaderImage image = model_.TakeImage();
    ASSERT_EQ(image.pixels.size(), 152u * 200u);
    EXPECT_EQ(image.pixels[0], want);
  }
  std::filesystem::remove_all(folder);
}

TEST(FingerSettings, NumbersAndTheChoiceBetweenFolderFingerAndDefault) {
  const struct {
    const char* text;
    std::optional<uint32_t> want;
  } rows[] = {
      {"7", 7u}, {" 12\t", 12u}, {"0", 0u}, {"4294967295", 4294967295u},
      {"4294967296", std::nullopt}, {"-1", std::nullopt}, {"", std::nullopt},
      {"1x", std::nullopt}, {"1 2", std::nullopt}, {nullptr, std::nullopt},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(ParseFingerNumber(row.text), row.want) << (row.text ? row.text : "null");
  }
  ReaderModel model;
  EXPECT_TRUE(PlaceChosenFinger(model, "5", nullptr));
  EXPECT_EQ(model.Snapshot().synthetic_finger, 5u);
  EXPECT_FALSE(PlaceChosenFinger(model, "five", ""));
  EXPECT_EQ(model.Snapshot().synthetic_finger, kDefaultFinger);
  EXPECT_FALSE(PlaceChosenFinger(model, "6", "/nonexistent/folder"));
  EXPECT_EQ(model.Snapshot().finger_source, FingerSource::kSynthetic);
  EXPECT_EQ(model.Snapshot().synthetic_finger, 6u);
  EXPECT_EQ(model.Snapshot().finger_on, true);
}

// The reader's own records come from the maker when one is set; empty means refused.
TEST_F(ModelTest, RecordMakerServesTheOnReaderRecords) {
  EXPECT_EQ(Ask(Req(0xA0)).size(), 265u);
  model_.SetRecordMaker([](ReaderModel&, bool templ) {
    return templ ? std::vector<uint8_t>{} : std::vector<uint8_t>(300, 0x67);
  });
  EXPECT_EQ(Status(Ask(Req(0xA0))), 0x01);
  const std::vector<uint8_t> reply = Ask(Req(0xA2));
  ASSERT_EQ(reply.size(), 265u);
  EXPECT_EQ(reply[5], 1);  // length 256 (the maker's 300 bytes are capped)
  EXPECT_EQ(reply[6], 0x00);
  EXPECT_EQ(reply[7], 0x67);
}

}  // namespace
}  // namespace vantrel::sim
