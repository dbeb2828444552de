// The capture exports' host road on port 0: finger wait, images from the stand-in
// reader, extraction and synthesis on the host.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "reader/api/dispatch.h"
#include "reader/api/module_state.h"
#include "reader/record/record_text.h"
#include "reader/links/link_ops.h"
#include "reader/platform/clock.h"
#include "reader/platform/platform.h"
#include "reader/platform/virtual/virtual_disk.h"
#include "reader/platform/virtual/virtual_hid.h"
#include "reader/platform/virtual/virtual_serial.h"
#include "sim/reader_model.h"
#include "sim/synthetic_finger.h"
#include "vantrel/vantrel.h"

namespace vantrel::api {
namespace {

// Time moves only when someone sleeps, but each sleep also gives the other thread a
// moment of real time, so the wait and its thread take turns as they would.
class SteppingClock final : public platform::Clock {
 public:
  uint32_t TickMs() override { return now_.load(); }
  void SleepMs(uint32_t ms) override {
    now_ += ms;
    std::this_thread::sleep_for(std::chrono::microseconds(50));
  }

 private:
  std::atomic<uint32_t> now_{0};
};

// The synthetic finger the captures take: its impressions 0, 1, 2 are images 0, 1, 2.
constexpr uint32_t kFinger = 3;

class CaptureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (uint32_t i = 0; i < 3; ++i) images_.push_back(sim::DrawImpression(kFinger, i));
    disk_.AddReader(reader_);
    previous_ = platform::Install(platform::Providers{&disk_, &hid_, &serial_, &clock_});
    tables_ = InstallLinkTables(LinkTables{});
    FPISetParam(0, 9600);
  }
  void TearDown() override {
    EXPECT_EQ(disk_.OpenHandles(), 0);
    InstallLinkTables(tables_);
    platform::Install(previous_);
  }
  void Queue(int i) { reader_.QueueImage(images_[static_cast<size_t>(i)].data(), 152, 200); }
  // What FPIExtract makes of image i (it takes display form).
  std::string ExtractText(int i) {
    std::vector<uint8_t> display(30400);
    for (int r = 0; r < 200; ++r) {
      for (int x = 0; x < 152; ++x) {
        display[static_cast<size_t>(r * 152 + x)] = static_cast<uint8_t>(
            255 - images_[static_cast<size_t>(i)][static_cast<size_t>((199 - r) * 152 + x)]);
      }
    }
    char text[513];
    int length = 0;
    EXPECT_EQ(FPIExtract(display.data(), text, &length), 0);
    return std::string(text, 512);
  }

  std::vector<std::vector<uint8_t>> images_;
  sim::ReaderModel reader_;
  platform::VirtualDisk disk_;
  platform::VirtualHid hid_;
  platform::VirtualSerial serial_;
  SteppingClock clock_;
  platform::Providers previous_;
  LinkTables tables_;
};

TEST_F(CaptureTest, FeatureWithAFingerGivesTheExtractedRecordAndATerminator) {
  reader_.UseSyntheticFinger(kFinger);
  hid_.AddReader(reader_);
  // Port 0, then port 9: the finger lifts after the first capture and is placed again
  // for the second, which takes the next impression.
  for (int port : {0, 9}) {
    char text[513];
    std::memset(text, 'x', sizeof text);
    int length = 0;
    ASSERT_EQ(FPIFeature(port, text, &length), 0) << "port " << port;
    EXPECT_EQ(length, 512);
    EXPECT_EQ(text[512], '\0');
    EXPECT_EQ(std::string(text, 512), ExtractText(port == 0 ? 0 : 1)) << "port " << port;
  }
  EXPECT_EQ(hid_.OpenHandles(), 0);
}

TEST_F(CaptureTest, TemplateMergesThreeCapturesAndPausesAfterEach) {
  reader_.UseSyntheticFinger(kFinger);
  char text[513];
  int length = 0;
  ASSERT_EQ(FPITemplate(0, text, &length), 0);
  EXPECT_EQ(length, 512);
  EXPECT_EQ(std::string(text, 2), "67");
  EXPECT_GE(clock_.TickMs(), 900u);
  // The same three features merged directly give the same template.
  const std::string f0 = ExtractText(0), f1 = ExtractText(1), f2 = ExtractText(2);
  char merged[513];
  ASSERT_EQ(FPIGetTemplateByFeature(f0.c_str(), f1.c_str(), f2.c_str(), merged, &length), 0);
  EXPECT_EQ(std::string(merged, 512), std::string(text, 512));
  // A fourth impression of the finger matches the template; another finger does not.
  ASSERT_EQ(FPIFeature(0, merged, &length), 0);
  EXPECT_EQ(FPIFpMatch(text, merged, 5), 0);
  reader_.UseSyntheticFinger(kFinger + 1);
  ASSERT_EQ(FPIFeature(0, merged, &length), 0);
  EXPECT_EQ(FPIFpMatch(text, merged, 5), -1);
}

TEST_F(CaptureTest, TemplateSurvivesTwoFailedCapturesAndGivesUpAfterThree) {
  reader_.SetFinger(true);
  // A blank sensor image fails extraction (-9).
  const std::vector<uint8_t> blank(30400, 0xFF);
  auto queue = [&](const std::vector<uint8_t>& image) {
    reader_.QueueImage(image.data(), 152, 200);
  };
  queue(images_[0]);
  queue(blank);
  queue(images_[1]);
  queue(blank);
  queue(images_[2]);
  char text[513];
  int length = 0;
  EXPECT_EQ(FPITemplate(0, text, &length), 0);
  EXPECT_EQ(length, 512);

  // Three failures, then two good captures: the answer is the last failure, not the
  // success that happened to come last.
  for (int i = 0; i < 3; ++i) queue(blank);
  queue(images_[0]);
  queue(images_[1]);
  length = 77;
  EXPECT_EQ(FPITemplate(0, text, &length), -9);
  EXPECT_EQ(length, 77);
  EXPECT_TRUE(reader_.Snapshot().queue.empty());
}

TEST_F(CaptureTest, LinkErrorsOfTheCapturePassThrough) {
  // A disk link whose reader shows a finger, then fails the image size or the image.
  links::LinkOps link = links::DiskLinkOps();
  link.FingerState = [] { return 0; };
  link.GetImageSize = [](int*, int*) { return -6; };
  InstallLinkTables(LinkTables{&link, nullptr, nullptr});
  char text[513];
  int length = 0;
  EXPECT_EQ(FPIFeature(0, text, &length), -6);
  EXPECT_EQ(FPITemplate(0, text, &length), -6);
  link.GetImageSize = [](int* w, int* h) {
    *w = 152;
    *h = 200;
    return 0;
  };
  link.ReadImage = [](int, int, uint8_t*, int, int*, int*) { return -4; };
  EXPECT_EQ(FPIFeature(0, text, &length), -4);
  EXPECT_EQ(FPIFeatureB64(0, text, &length), -4);
  InstallLinkTables(LinkTables{});
}

TEST_F(CaptureTest, Base64CaptureTakesNoFingerWaitAndGives344Characters) {
  reader_.SetFinger(false);
  Queue(0);
  char text[345];
  text[344] = 'x';
  int length = 0;
  ASSERT_EQ(FPIFeatureB64(0, text, &length), 0);
  EXPECT_EQ(length, 344);
  EXPECT_EQ(text[344], 'x');
  EXPECT_EQ(std::string(text + 342, 2), "==");
  // Decoding gives back the record FPIExtract makes of the same image.
  char input[348] = {};
  std::memcpy(input, text, 344);
  uint8_t bytes[344] = {};
  int n = 0;
  ASSERT_EQ(text::Base64Convert(0, input, 344, bytes, sizeof bytes, &n), 0);
  ASSERT_EQ(n, 256);
  char nibbles[513];
  text::WriteNibbleText(bytes, 256, nibbles);
  EXPECT_EQ(std::string(nibbles, 512), ExtractText(0));
}

TEST_F(CaptureTest, NoFingerWithin100SecondsGivesMinusOne) {
  reader_.SetFinger(false);
  char text[513] = "keep";
  int length = 5;
  EXPECT_EQ(FPIFeature(0, text, &length), -1);
  EXPECT_GT(clock_.TickMs(), 100000u);
  EXPECT_LT(clock_.TickMs(), 110000u);
  EXPECT_STREQ(text, "keep");
  EXPECT_EQ(length, 5);
  EXPECT_EQ(Module().finger_wait_active.load(), 0);
  EXPECT_EQ(Module().finger_wait_done.load(), 1);
}

TEST_F(CaptureTest, CancelEndsAWaitingCapture) {
  reader_.SetFinger(false);
  std::atomic<int> result{1};
  std::thread capture([&] {
    char text[513];
    int length = 0;
    result = FPIFeature(0, text, &length);
  });
  // Cancel once the wait is under way.
  while (Module().finger_wait_active.load() == 0 && result == 1) std::this_thread::yield();
  const uint32_t cancelled_at = clock_.TickMs();
  EXPECT_EQ(FPICancle(), 0);
  capture.join();
  EXPECT_EQ(result.load(), -1);
  EXPECT_LT(clock_.TickMs() - cancelled_at, 100000u);
}

TEST_F(CaptureTest, DialogModeOnPortsZeroAndNineAnswersTheDialogFailure) {
  FPISetParam(1, 9600);
  char text[513];
  int length = 0;
  EXPECT_EQ(FPIFeature(0, text, &length), -1);
  EXPECT_EQ(FPITemplateB64(9, text, &length), -1);
  EXPECT_EQ(Module().dialog.result, -1);
  EXPECT_EQ(disk_.OpensSoFar(), 0);
  FPISetParam(0, 9600);
}

}  // namespace
}  // namespace vantrel::api
