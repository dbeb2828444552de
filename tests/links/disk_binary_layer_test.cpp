// The command layer shared by the disk and HID links, over a scripted transport: the
// per-link columns of the table (version length, search copy rule, two-part images)
// and the open/close discipline.
#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "reader/links/binary_link.h"
#include "reader/protocol/result_codes.h"

namespace vantrel::links {
namespace {

namespace pc = vantrel::protocol;

std::vector<uint8_t> Frame(uint8_t status, const std::vector<uint8_t>& data, bool long_form) {
  const uint32_t c = static_cast<uint32_t>(data.size() + 2);
  std::vector<uint8_t> r = {0x02};
  if (long_form) {
    r.push_back(static_cast<uint8_t>(c >> 24));
    r.push_back(static_cast<uint8_t>(c >> 16));
  }
  r.push_back(static_cast<uint8_t>(c >> 8));
  r.push_back(static_cast<uint8_t>(c));
  r.push_back(status);
  r.push_back(0);
  r.insert(r.end(), data.begin(), data.end());
  uint8_t sum = 0;
  for (size_t i = 1; i < r.size(); ++i) sum ^= r[i];
  r.push_back(sum);
  r.push_back(0x03);
  return r;
}

class ScriptedTransport final : public BinaryTransport {
 public:
  ScriptedTransport(pc::BinaryLink link, int part) : link_(link), part_(part) {}

  pc::BinaryLink Link() const override { return link_; }
  bool Open(DeviceSlot& slot) override {
    if (!slot.Empty() || !present) return false;
    slot.handle = 7;
    ++opened;
    return true;
  }
  bool Close(DeviceSlot& slot) override {
    if (!slot.Empty()) ++closed;
    slot.handle = -1;
    return true;
  }
  int Exchange(DeviceSlot& slot, const uint8_t* request, int request_length, uint8_t* reply,
               int capacity, int expected_total, uint32_t timeout_ms, int* received) override {
    if (slot.Empty()) return pc::kExchangeArgumentsMissing;
    requests.emplace_back(request, request + request_length);
    expected.push_back(expected_total);
    timeouts.push_back(timeout_ms);
    if (replies.empty()) return pc::kNoReply;
    std::vector<uint8_t> r = replies.front();
    replies.pop_front();
    if (static_cast<int>(r.size()) > capacity) return pc::kReplyTooLong;
    std::memcpy(reply, r.data(), r.size());
    *received = static_cast<int>(r.size());
    return pc::kOk;
  }
  DeviceSlot& FirmwareSlot() override { return firmware_; }
  int PartSize() const override { return part_; }

  bool present = true;
  int opened = 0;
  int closed = 0;
  std::deque<std::vector<uint8_t>> replies;
  std::vector<std::vector<uint8_t>> requests;
  std::vector<int> expected;
  std::vector<uint32_t> timeouts;

 private:
  pc::BinaryLink link_;
  int part_;
  DeviceSlot firmware_;
};

std::vector<uint8_t> SearchData(const std::string& text) {
  std::vector<uint8_t> d = {0, static_cast<uint8_t>(text.size())};
  d.insert(d.end(), text.begin(), text.end());
  d.resize(152, 0);
  return d;
}

TEST(BinaryLayer, HidVersionIsCheckedAgainstWhatArrived) {
  ScriptedTransport hid(pc::BinaryLink::kHid, 65536);
  hid.replies.push_back(Frame(0, {4, 'V', '1', '.', '2'}, false));  // 12 bytes, not 71
  uint8_t buffer[300];
  int length = 0;
  ASSERT_EQ(BinaryGetVersion(hid, buffer, &length), pc::kOk);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), length), "V1.2");
  EXPECT_EQ(hid.expected[0], 0);

  ScriptedTransport disk(pc::BinaryLink::kDisk, 0);
  disk.replies.push_back(Frame(0, {4, 'V', '1', '.', '2'}, false));
  EXPECT_EQ(BinaryGetVersion(disk, buffer, &length), pc::kReplyLengthMismatch);
  EXPECT_EQ(disk.expected[0], 71);
  EXPECT_EQ(disk.closed, 1);
}

TEST(BinaryLayer, VersionLengthPointingPastTheReplyIsRefused) {
  ScriptedTransport hid(pc::BinaryLink::kHid, 65536);
  hid.replies.push_back(Frame(0, {200, 'x'}, false));
  uint8_t buffer[300];
  std::memset(buffer, 0xEE, sizeof(buffer));
  int length = -1;
  EXPECT_EQ(BinaryGetVersion(hid, buffer, &length), pc::kReplyLengthMismatch);
  EXPECT_EQ(length, -1);
  EXPECT_EQ(buffer[0], 0xEE);
}

TEST(BinaryLayer, SearchCopyRulePerLink) {
  const std::string text("12\0" "34", 5);
  uint8_t buffer[160];
  int length = 0;
  ScriptedTransport disk(pc::BinaryLink::kDisk, 0);
  disk.replies.push_back(Frame(0, SearchData(text), false));
  ASSERT_EQ(BinarySearch(disk, 1, 0x0203, buffer, &length), pc::kOk);
  EXPECT_EQ(length, 2);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer)), "12");
  EXPECT_EQ(disk.requests[0], (std::vector<uint8_t>{0x02, 0x00, 0x08, 0x31, 0, 0, 0, 0x00,
                                                    0x01, 0x02, 0x03, 0x39, 0x03}));

  ScriptedTransport hid(pc::BinaryLink::kHid, 65536);
  hid.replies.push_back(Frame(0, SearchData(text), false));
  ASSERT_EQ(BinarySearch(hid, 1, 2, buffer, &length), pc::kOk);
  EXPECT_EQ(length, 5);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 6), std::string("12\0" "34\0", 6));
}

TEST(BinaryLayer, SearchLengthBeyondTheReplyIsRefused) {
  ScriptedTransport disk(pc::BinaryLink::kDisk, 0);
  std::vector<uint8_t> data = SearchData("1");
  data[0] = 0x01;  // 257 bytes claimed in a reply that holds 150
  disk.replies.push_back(Frame(0, data, false));
  uint8_t buffer[160];
  int length = -1;
  EXPECT_EQ(BinarySearch(disk, 1, 2, buffer, &length), pc::kReplyLengthMismatch);
  EXPECT_EQ(length, -1);
}

TEST(BinaryLayer, TwoPartImageOnHid) {
  ScriptedTransport hid(pc::BinaryLink::kHid, 65536);
  std::vector<uint8_t> pixels(256 * 360);
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint8_t>(i / 7);
  const std::vector<uint8_t> whole = Frame(0, pixels, true);
  ASSERT_EQ(whole.size(), 92169u);
  hid.replies.emplace_back(whole.begin(), whole.begin() + 65536);
  hid.replies.emplace_back(whole.begin() + 65536, whole.end());
  std::vector<uint8_t> image(pixels.size());
  int width = 0;
  int height = 0;
  ASSERT_EQ(BinaryCaptureImageAtOnce(hid, &width, &height, image.data()), pc::kOk);
  EXPECT_EQ(width, 256);
  EXPECT_EQ(height, 360);
  EXPECT_EQ(image, pixels);
  ASSERT_EQ(hid.requests.size(), 2u);
  EXPECT_EQ(hid.requests[0][3], 0x1E);
  EXPECT_EQ(hid.requests[0][4], 0);
  EXPECT_EQ(hid.requests[1][4], 1);
  EXPECT_EQ(hid.expected, (std::vector<int>{65536, 92169 - 65536}));
  EXPECT_EQ(hid.timeouts, (std::vector<uint32_t>{200000, 200000}));
  EXPECT_EQ(hid.opened, 1);
  EXPECT_EQ(hid.closed, 1);
}

TEST(BinaryLayer, HidImageInOnePartUsesTheShortTimeOut) {
  ScriptedTransport hid(pc::BinaryLink::kHid, 65536);
  const std::vector<uint8_t> pixels(152 * 200, 9);
  hid.replies.push_back(Frame(0, pixels, false));
  std::vector<uint8_t> image(pixels.size());
  ASSERT_EQ(BinaryReadImage(hid, 152, 200, image.data()), pc::kOk);
  EXPECT_EQ(hid.timeouts, (std::vector<uint32_t>{15000}));
  EXPECT_EQ(hid.expected, (std::vector<int>{30407}));
  EXPECT_EQ(BinaryReadImage(hid, 256, 256, image.data()), pc::kBadArguments);  // between forms
}

TEST(BinaryLayer, SecondPartFailureClosesTheDevice) {
  ScriptedTransport hid(pc::BinaryLink::kHid, 65536);
  hid.replies.push_back(std::vector<uint8_t>(65536, 0x02));
  std::vector<uint8_t> image(256 * 360);
  int width = 0;
  int height = 0;
  EXPECT_EQ(BinaryCaptureImageAtOnce(hid, &width, &height, image.data()), pc::kNoReply);
  EXPECT_EQ(hid.closed, hid.opened);
}

TEST(BinaryLayer, TransportCodesPassThroughAndCloseFollows) {
  ScriptedTransport disk(pc::BinaryLink::kDisk, 0);
  EXPECT_EQ(BinaryReset(disk), pc::kNoReply);
  EXPECT_EQ(disk.opened, 1);
  EXPECT_EQ(disk.closed, 1);
  disk.present = false;
  EXPECT_EQ(BinaryReset(disk), pc::kNoDevice);
  EXPECT_EQ(disk.opened, 1);
}

TEST(BinaryLayer, RecordLengthIsCappedAt256) {
  ScriptedTransport disk(pc::BinaryLink::kDisk, 0);
  std::vector<uint8_t> data = {0x03, 0x00};  // 768 claimed
  data.resize(258, 0xA1);
  disk.replies.push_back(Frame(0, data, false));
  char text[513];
  int length = 0;
  ASSERT_EQ(BinaryReaderTemplate(disk, text, &length), pc::kOk);
  EXPECT_EQ(length, 512);
  EXPECT_EQ(std::string(text, 4), ":1:1");
  EXPECT_EQ(disk.timeouts, (std::vector<uint32_t>{45000}));
}

TEST(BinaryLayer, FingerStateIsTheWord) {
  ScriptedTransport disk(pc::BinaryLink::kDisk, 0);
  disk.replies.push_back(Frame(0, {0x01, 0x02}, false));
  EXPECT_EQ(BinaryFingerState(disk), 0x0102);
  disk.replies.push_back(Frame(0x3A, {0, 0}, false));
  EXPECT_EQ(BinaryFingerState(disk), pc::kReaderBusy);
}

}  // namespace
}  // namespace vantrel::links
