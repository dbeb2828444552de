// The capture dialogs through the exports, on the scripted host, against the stand-in
// reader on the disk and HID links. Time is virtual: the display times cost nothing.
#include <gtest/gtest.h>
#include <iconv.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "reader/api/dialog.h"
#include "reader/api/dispatch.h"
#include "reader/api/module_state.h"
#include "reader/extract/extract_feature.h"
#include "reader/record/record_text.h"
#include "reader/match/matcher.h"
#include "reader/match/synthesis.h"
#include "reader/platform/platform.h"
#include "reader/platform/virtual/virtual_disk.h"
#include "reader/platform/virtual/virtual_hid.h"
#include "reader/platform/virtual/virtual_serial.h"
#include "scripted_dialog.h"
#include "synthetic_dialog_runs.h"
#include "sim/reader_model.h"
#include "tools/fingerprint_pgm.h"
#include "vantrel/vantrel.h"

namespace vantrel::api {
namespace {

using platform::DialogControl;
using testing::ScriptedDialogHost;
using testing::UserAction;

// The bytes of a code page as UTF-8, so that expectations read as the user reads them.
std::string Utf8(const std::string& bytes, const char* code_page) {
  iconv_t cd = iconv_open("UTF-8", code_page);
  if (cd == reinterpret_cast<iconv_t>(-1)) return "<no converter>";
  std::string in = bytes;
  std::string out(in.size() * 4 + 4, '\0');
  char* ip = in.data();
  char* op = out.data();
  size_t il = in.size(), ol = out.size();
  const size_t rc = iconv(cd, &ip, &il, &op, &ol);
  iconv_close(cd);
  if (rc == static_cast<size_t>(-1)) return "<not " + std::string(code_page) + ">";
  out.resize(out.size() - ol);
  return out;
}

std::vector<uint8_t> Image(const std::string& name) {
  return tools::ReadFingerprintPgm(std::string(VANTREL_FINGERPRINTS_DIR) + "/FVC2002_DB1_B/" +
                                   name);
}

const std::vector<uint8_t> kBlank(30400, 0xFF);  // an empty sensor: extraction fails

class DialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"103_1.pgm", "103_2.pgm", "103_3.pgm", "103_5.pgm", "105_1.pgm"}) {
      images_.push_back(Image(name));
      if (images_.back().size() != 30400) GTEST_SKIP() << "fingerprint images not found";
    }
    reader_.SetFingerFollowsImages(true);
    disk_.AddReader(reader_);
    hid_.AddReader(reader_);
    previous_ = platform::Install(platform::Providers{&disk_, &hid_, &serial_, &clock_, &host_});
    tables_ = InstallLinkTables(LinkTables{});
    module_instance_ = Module().instance;
    language_ = Module().language_offset;
    Module().instance = &host_;
    Module().language_offset = kLanguageEnglish;
    FPISetParam(1, 9600);
  }
  void TearDown() override {
    if (images_.empty() || images_.back().size() != 30400) return;
    FPISetParam(0, 9600);
    Module().instance = module_instance_;
    Module().language_offset = language_;
    InstallLinkTables(tables_);
    platform::Install(previous_);
    EXPECT_EQ(disk_.OpenHandles(), 0);
    EXPECT_EQ(hid_.OpenHandles(), 0);
  }

  void Queue(const std::vector<uint8_t>& image) { reader_.QueueImage(image.data(), 152, 200); }
  void QueueGood(int count) {
    for (int i = 0; i < count; ++i) Queue(images_[static_cast<size_t>(i)]);
  }

  // The English status texts as the user reads them.
  static std::string Step(int n) { return "Scan fingerprint step [" + std::to_string(n) + "], press finger..."; }
  static std::string Retry(int n) { return "Scan fingerprint step [" + std::to_string(n) + "] error,retry"; }

  static std::string Feature(const std::vector<uint8_t>& image) {
    uint8_t record[1024] = {};
    uint16_t n = 0;
    EXPECT_EQ(extract::ExtractFeature(image.data(), record, &n), 0);
    char text[513] = {};
    vantrel::text::WriteNibbleText(record, 256, text);
    return text;
  }

  std::vector<std::vector<uint8_t>> images_;
  sim::ReaderModel reader_;
  platform::VirtualDisk disk_;
  platform::VirtualHid hid_;
  platform::VirtualSerial serial_;
  platform::VirtualClock clock_{1000};
  ScriptedDialogHost host_{clock_};
  platform::Providers previous_;
  LinkTables tables_;
  const void* module_instance_ = nullptr;
  int language_ = 0;
};

// Cancel or close at three moments: every cancelled stage wait sends the disk link's
// reset, also for port 9; a Cancel before the first timer message is honoured and no
// stage runs.
TEST_F(DialogTest, CancelGivesMinusThreeAndResetsTheDiskAfterAStageWait) {
  enum class When { kBeforeTimer, kFirstPressWait, kSecondPressWait };
  const struct {
    When when;
    int port;
    int images;
    int resets;
    size_t painted;
  } cases[] = {{When::kBeforeTimer, 0, 0, 0, 0},
               {When::kFirstPressWait, 0, 0, 1, 0},
               {When::kFirstPressWait, 9, 0, 1, 0},
               {When::kSecondPressWait, 9, 1, 1, 1}};
  for (const auto& c : cases) {
    host_.Reset();
    int pumps = 0;
    if (c.when == When::kBeforeTimer) host_.before_timer = UserAction::kCancel;
    host_.user = [&](const ScriptedDialogHost& h) {
      if (c.when == When::kSecondPressWait) {
        return h.Last(DialogControl::kStatus) == Step(2) ? UserAction::kClose : UserAction::kNone;
      }
      return ++pumps == 5 ? UserAction::kCancel : UserAction::kNone;
    };
    QueueGood(c.images);
    const int resets = reader_.Snapshot().resets;
    char text[513] = {};
    int length = -1;
    EXPECT_EQ(FPITemplate(c.port, text, &length), -3) << c.port;
    EXPECT_EQ(length, -1);
    EXPECT_EQ(reader_.Snapshot().resets, resets + c.resets) << c.port;
    EXPECT_EQ(host_.images.size(), c.painted);
    EXPECT_EQ(host_.Statuses().empty(), c.when == When::kBeforeTimer);
  }
}

TEST_F(DialogTest, FailedExtractionsAreRetriedTwiceThenEndTheDialog) {
  // One failure: 10010 with the capture number for 800 ms, the same number prompted again.
  Queue(images_[0]);
  Queue(kBlank);
  for (int i = 1; i < 4; ++i) Queue(images_[static_cast<size_t>(i)]);
  char text[513] = {};
  int length = 0;
  ASSERT_EQ(FPITemplate(0, text, &length), 0);
  const std::vector<std::string> expected = {
      Step(1), "put up your finger...", Step(2), "put up your finger...", Retry(2),
      Step(2), "put up your finger...", Step(3), "put up your finger...",
      "Scan fingerprint, press your finger...", "put up your finger...", "Verify Succeed"};
  EXPECT_EQ(host_.Statuses(), expected);
  EXPECT_EQ(host_.ShownForMs(Retry(2)), 800);
  EXPECT_EQ(host_.ShownForMs("Verify Succeed"), 500);

  // A third failure ends the dialog with 10011 shown for 1000 ms.
  host_.Reset();
  for (int i = 0; i < 3; ++i) Queue(kBlank);
  EXPECT_EQ(FPITemplate(0, text, &length), -1);
  EXPECT_EQ(host_.Statuses().back(), "Feature Error");
  EXPECT_EQ(host_.ShownForMs("Feature Error"), 1000);
  EXPECT_EQ(host_.images.size(), 3u);
}

TEST_F(DialogTest, AFailedImageCaptureIsRetriedWithoutAMessage) {
  reader_.InjectFault(sim::Fault::kStatusError, 1, 0x40);
  Queue(kBlank);  // taken by the failed capture
  QueueGood(4);
  char text[513] = {};
  int length = 0;
  EXPECT_EQ(FPITemplate(0, text, &length), 0);
  EXPECT_EQ(host_.Statuses()[1], Step(1));  // prompted again, nothing in between

  // In the feature dialog it ends the dialog: 10007 for 1000 ms, result -1.
  host_.Reset();
  reader_.InjectFault(sim::Fault::kSilent, 1, 0x40);
  QueueGood(1);
  EXPECT_EQ(FPIFeature(9, text, &length), -1);
  EXPECT_EQ(host_.Statuses().back(), "Operate time out");
  EXPECT_EQ(host_.ShownForMs("Operate time out"), 1000);
}

TEST_F(DialogTest, AFourthCaptureOfAnotherFingerIsNotVerified) {
  QueueGood(3);
  Queue(images_[4]);
  char text[513] = {};
  int length = 0;
  EXPECT_EQ(FPITemplate(0, text, &length), -1);
  EXPECT_EQ(host_.Statuses().back(), "Verify Failed");
  EXPECT_EQ(host_.ShownForMs("Verify Failed"), 1000);
}

// Every capture export on both ports: the text is the record of the captured images,
// made the plain way, and each captured image was painted as it came.
TEST_F(DialogTest, GoodRunsOfEveryExportOnBothPorts) {
  uint8_t features[3][1024] = {};
  for (int i = 0; i < 3; ++i) {
    uint16_t n = 0;
    ASSERT_EQ(extract::ExtractFeature(images_[static_cast<size_t>(i)].data(), features[i], &n), 0);
  }
  uint8_t templ[256] = {};
  uint16_t n = 0;
  ASSERT_EQ(match::SynthesiseTemplate(features[0], features[1], features[2], templ, &n), 0);
  char template_text[513] = {};
  vantrel::text::WriteNibbleText(templ, 256, template_text);
  const std::string feature_text = Feature(images_[0]);

  using Export = int (*)(int, char*, int*);
  struct Case {
    Export call;
    bool templ;
    bool base64;
  } cases[] = {{FPITemplate, true, false}, {FPITemplateB64, true, true},
               {FPIFeature, false, false}, {FPIFeatureB64, false, true}};
  for (const Case& c : cases) {
    for (const int port : {0, 9}) {
      host_.Reset();
      QueueGood(c.templ ? 4 : 1);
      char out[600];
      std::memset(out, 'x', sizeof out);
      int length = 0;
      ASSERT_EQ(c.call(port, out, &length), 0) << port << c.templ << c.base64;
      EXPECT_EQ(out[length], 'x') << "no terminator";
      ASSERT_EQ(length, c.base64 ? 344 : 512);
      const std::string record = testing::AsNibbleText(out, length);
      ASSERT_EQ(record.size(), 512u);
      EXPECT_EQ(record, c.templ ? std::string(template_text) : feature_text);
      if (c.templ) {
        EXPECT_GE(match::MatchNibbleTexts(record.c_str(), Feature(images_[3]).c_str(), 3), 0);
        EXPECT_EQ(host_.ShownForMs("Verify Succeed"), 500);
      } else {
        EXPECT_EQ(host_.ShownForMs("Feature Succeed"), 300);
      }
      ASSERT_EQ(host_.images.size(), c.templ ? 4u : 1u);
      EXPECT_EQ(host_.images[0], images_[0]);
      // The closing version query was the last command.
      EXPECT_EQ(reader_.Snapshot().last_request.at(3), 0x01);
    }
  }
}

TEST_F(DialogTest, TextsFollowTheLanguage) {
  struct Case {
    int offset;
    const char* encoding;
    const char* caption;
    const char* cancel;
    const char* first_status;
    bool instructions;
  } cases[] = {
      {kLanguageEnglish, "CP1252", "Scan fingerprint for template", "Cancle",
       "Scan fingerprint step [1], press finger...", true},
      {kLanguageSimplifiedChinese, "GBK", "指纹模板采集", "取消", "开始第[1]次采集指纹, 请按手指...",
       true},
      {kLanguageTraditionalChinese, "BIG5", "指紋範本採集", "取消",
       "開始第[1]次採集指紋, 請按手指...", true},
      // Any other code page: the built-in GB2312 defaults, no instructions.
      {1251, "GB2312", "指纹模板采集", "取消", "开始第 1 次采集指纹，请按手指...", false},
  };
  for (const Case& c : cases) {
    host_.Reset();
    Module().language_offset = c.offset;
    host_.user = [](const ScriptedDialogHost&) { return UserAction::kCancel; };
    char text[513] = {};
    int length = 0;
    EXPECT_EQ(FPITemplate(0, text, &length), -3);
    EXPECT_EQ(Utf8(host_.Last(DialogControl::kCaption), c.encoding), c.caption) << c.offset;
    EXPECT_EQ(Utf8(host_.Last(DialogControl::kCancel), c.encoding), c.cancel) << c.offset;
    ASSERT_FALSE(host_.Statuses().empty());
    EXPECT_EQ(Utf8(host_.Statuses()[0], c.encoding), c.first_status) << c.offset;
    EXPECT_EQ(host_.Last(DialogControl::kInstructions).empty(), !c.instructions) << c.offset;
    EXPECT_EQ(host_.code_page, c.offset == kLanguageEnglish ? 1252
                               : c.offset == kLanguageTraditionalChinese ? 950 : 936);
  }
}

// Every table text decodes in its code page, and no string outgrows the loader's buffer.
TEST(DialogTexts, EveryTextIsValidInItsCodePage) {
  const struct {
    int offset;
    const char* encoding;
  } tables[] = {{0, "GBK"}, {100, "CP1252"}, {200, "BIG5"}};
  for (const auto& t : tables) {
    for (int id = kTextFeatureCaption; id <= kTextFeatureDone; ++id) {
      const char* text = StringResource(id + t.offset);
      ASSERT_NE(text, nullptr) << id + t.offset;
      EXPECT_LT(std::strlen(text), static_cast<size_t>(kStringLoadBytes)) << id + t.offset;
      EXPECT_EQ(Utf8(text, t.encoding).find('<'), std::string::npos) << id + t.offset;
    }
  }
  for (const DialogKind kind : {DialogKind::kFeature, DialogKind::kTemplate}) {
    for (int id = kTextFeatureCaption; id <= kTextFeatureDone; ++id) {
      EXPECT_EQ(Utf8(DefaultText(kind, id), "GB2312").find('<'), std::string::npos) << id;
    }
  }
  EXPECT_EQ(StringResource(10017), nullptr);
  EXPECT_EQ(StringResource(10001 + 1251), nullptr);
}

// The status formatter against the C library's, including texts cut at 127 bytes.
TEST(DialogTexts, StatusFormattingMatchesPrintfWithinItsBuffer) {
  const std::string long_text(200, 'a');
  const std::string formats[] = {"step [%d] error", "%d", long_text + "%d",
                                 std::string(120, 'b') + "[%d]..."};
  for (const std::string& format : formats) {
    for (const int number : {0, 3, -7, 123456789}) {
      char ours[kStatusTextBytes];
      char theirs[kStatusTextBytes];
      FormatStatus(format.c_str(), number, ours);
      std::snprintf(theirs, sizeof theirs, format.c_str(), number);
      EXPECT_STREQ(ours, theirs) << format << " " << number;
    }
  }
}

TEST_F(DialogTest, WithoutAWindowTheCaptureAnswersMinusOneAtOnce) {
  platform::Install(platform::Providers{nullptr, nullptr, nullptr, nullptr,
                                        &platform::NoDialogHost()});
  QueueGood(1);
  char text[513] = {};
  int length = 0;
  EXPECT_EQ(FPIFeature(0, text, &length), -1);
  EXPECT_EQ(FPITemplateB64(9, text, &length), -1);
  EXPECT_EQ(reader_.Snapshot().commands, 0);
}

// Needs no image set: the stand-in draws its finger.
TEST(SyntheticFingerDialog, EveryExportOnBothPortsOnTheScriptedHost) {
  platform::VirtualClock clock(1000);
  ScriptedDialogHost host(clock);
  testing::ExpectDialogRunsWithASyntheticFinger(host, clock, 3);
  EXPECT_EQ(host.runs, 8);
  EXPECT_EQ(host.images.size(), 20u);  // every capture painted
}

}  // namespace
}  // namespace vantrel::api
