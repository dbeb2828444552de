// The Qt capture window under Qt's offscreen platform: the texts it shows, the image in
// its frame, and a real click on Cancel; once through the plugin that libVantrel.so
// loads, once with the host linked in and the stand-in reader driven directly.
#include <gtest/gtest.h>

#include <dlfcn.h>

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>
#include <QImage>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QTimer>

#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "api/synthetic_dialog_runs.h"
#include "dialog-qt/qt_dialog_host.h"
#include "reader/api/dispatch.h"
#include "reader/api/module_state.h"
#include "reader/platform/clock.h"
#include "reader/platform/platform.h"
#include "reader/platform/virtual/virtual_disk.h"
#include "reader/platform/virtual/virtual_hid.h"
#include "sim/reader_model.h"
#include "tools/fingerprint_pgm.h"
#include "vantrel/vantrel.h"

namespace vantrel::dialog_qt {
namespace {

using platform::DialogControl;

template <typename T>
T* Find(const char* name) {
  for (QWidget* top : QApplication::topLevelWidgets()) {
    if (auto* w = top->findChild<T*>(name)) return w;
  }
  return nullptr;
}

// A press and release on the Cancel button, as the mouse gives them.
void ClickCancel() {
  QPushButton* cancel = Find<QPushButton>(kCancelName);
  ASSERT_NE(cancel, nullptr);
  const QPointF at = QRectF(cancel->rect()).center();
  QMouseEvent press(QEvent::MouseButtonPress, at, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
  QMouseEvent release(QEvent::MouseButtonRelease, at, Qt::LeftButton, Qt::NoButton,
                      Qt::NoModifier);
  QApplication::sendEvent(cancel, &press);
  QApplication::sendEvent(cancel, &release);
}

// Clicks Cancel once the worker has shown its first status (the press wait).
void ClickCancelAtThePressWait(QObject* owner, const std::function<void()>& before = {}) {
  auto* poll = new QTimer(owner);
  QObject::connect(poll, &QTimer::timeout, [poll, before] {
    QLabel* status = Find<QLabel>(kStatusName);
    if (status == nullptr || status->text().isEmpty()) return;
    poll->stop();
    if (before) before();
    ClickCancel();
  });
  poll->start(10);
}

// What the window showed after each call of the logic, read back from its widgets.
struct Seen {
  std::vector<std::pair<DialogControl, QString>> texts;
  std::vector<QImage> frames;  // the frame as rendered, inside its border
  // Status texts set while the window was up, and how many of them the screen did not
  // show before the next message was handled (the timed statuses must be seen at once).
  int statuses_on_screen = 0;
  int statuses_not_on_screen = 0;
};

// Whether the screen shows the widget as it renders itself now.
bool OnScreen(QWidget* widget) {
  QWidget* window = widget->window();
  const QPoint at = widget->mapTo(window, QPoint(0, 0));
  const QImage screen = QGuiApplication::primaryScreen()
                            ->grabWindow(window->winId(), at.x(), at.y(), widget->width(),
                                         widget->height())
                            .toImage()
                            .convertToFormat(QImage::Format_RGB32);
  return screen == widget->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

class ObservedWindow final : public platform::DialogWindow {
 public:
  ObservedWindow(platform::DialogWindow& inner, Seen& seen) : inner_(inner), seen_(seen) {}
  void SetText(DialogControl control, const char* text) override {
    inner_.SetText(control, text);
    auto* dialog = dynamic_cast<QWidget*>(&inner_);
    QString shown;
    switch (control) {
      case DialogControl::kCaption: shown = dialog->windowTitle(); break;
      case DialogControl::kStatus: {
        QLabel* status = dialog->findChild<QLabel*>(kStatusName);
        shown = status->text();
        if (dialog->isVisible()) {
          ++(OnScreen(status) ? seen_.statuses_on_screen : seen_.statuses_not_on_screen);
        }
        break;
      }
      case DialogControl::kCancel:
        shown = dialog->findChild<QPushButton*>(kCancelName)->text();
        break;
      default: shown = dialog->findChild<QLabel*>(kInstructionsName)->text(); break;
    }
    seen_.texts.emplace_back(control, shown);
  }
  void PaintImage(const uint8_t* reader_form) override {
    inner_.PaintImage(reader_form);
    QLabel* frame = dynamic_cast<QWidget*>(&inner_)->findChild<QLabel*>(kFrameName);
    seen_.frames.push_back(frame->grab().toImage().copy(1, 1, 152, 200));
  }
  void PumpOne() override { inner_.PumpOne(); }

 private:
  platform::DialogWindow& inner_;
  Seen& seen_;
};

class ObservedClient final : public platform::DialogClient {
 public:
  ObservedClient(platform::DialogClient& inner, Seen& seen) : inner_(inner), seen_(seen) {}
  void OnInit(platform::DialogWindow& w) override {
    window_ = std::make_unique<ObservedWindow>(w, seen_);
    inner_.OnInit(*window_);
  }
  void OnTimer(platform::DialogWindow&) override { inner_.OnTimer(*window_); }
  void OnCancel() override { inner_.OnCancel(); }

 private:
  platform::DialogClient& inner_;
  Seen& seen_;
  std::unique_ptr<ObservedWindow> window_;
};

class ObservingHost final : public platform::DialogHost {
 public:
  bool Run(int code_page, platform::DialogClient& client) override {
    ObservedClient observed(client, seen);
    return QtDialogHost().Run(code_page, observed);
  }
  Seen seen;
};

class QtDialogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    for (const char* name : {"103_1.pgm", "103_2.pgm", "103_3.pgm", "103_5.pgm"}) {
      images_.push_back(tools::ReadFingerprintPgm(std::string(VANTREL_FINGERPRINTS_DIR) +
                                                  "/FVC2002_DB1_B/" + name));
      if (images_.back().size() != 30400) GTEST_SKIP() << "fingerprint images not found";
    }
    reader_.SetFingerFollowsImages(true);
    disk_.AddReader(reader_);
    previous_ = platform::Install(platform::Providers{&disk_, &hid_, nullptr, &clock_, &host_});
    tables_ = api::InstallLinkTables(api::LinkTables{});
    api::Module().instance = &host_;
    api::Module().language_offset = api::kLanguageEnglish;
    FPISetParam(1, 9600);
  }
  void TearDown() override {
    if (images_.size() != 4 || images_.back().size() != 30400) return;
    FPISetParam(0, 9600);
    api::InstallLinkTables(tables_);
    platform::Install(previous_);
  }

  std::vector<std::vector<uint8_t>> images_;
  sim::ReaderModel reader_;
  platform::VirtualDisk disk_;
  platform::VirtualHid hid_;
  platform::VirtualClock clock_;
  ObservingHost host_;
  platform::Providers previous_;
  api::LinkTables tables_;
};

// No application exists: the host makes one. Texts as the window shows them, and each
// painted frame holds the display form of the captured image.
TEST_F(QtDialogTest, TemplateRunShowsItsTextsAndImages) {
  ASSERT_EQ(QCoreApplication::instance(), nullptr);
  for (const std::vector<uint8_t>& image : images_) reader_.QueueImage(image.data(), 152, 200);
  char text[513] = {};
  int length = 0;
  ASSERT_EQ(FPITemplate(0, text, &length), 0);
  EXPECT_EQ(length, 512);
  ASSERT_NE(qobject_cast<QApplication*>(QCoreApplication::instance()), nullptr);

  QStringList statuses;
  for (const auto& [control, shown] : host_.seen.texts) {
    if (control == DialogControl::kCaption) {
      EXPECT_EQ(shown, "Scan fingerprint for template");
    } else if (control == DialogControl::kCancel) {
      EXPECT_EQ(shown, "Cancle");
    } else if (control == DialogControl::kStatus) {
      statuses << shown;
    }
  }
  EXPECT_EQ(statuses.first(), "Scan fingerprint step [1], press finger...");
  EXPECT_EQ(statuses.last(), "Verify Succeed");
  EXPECT_EQ(statuses.size(), 9);
  EXPECT_EQ(host_.seen.statuses_on_screen, 9);
  EXPECT_EQ(host_.seen.statuses_not_on_screen, 0);

  ASSERT_EQ(host_.seen.frames.size(), images_.size());
  for (size_t i = 0; i < images_.size(); ++i) {
    const QImage& frame = host_.seen.frames[i];
    int wrong = 0;
    for (int y = 0; y < 200; ++y) {
      for (int x = 0; x < 152; ++x) {
        const int display = 255 - images_[i][static_cast<size_t>((199 - y) * 152 + x)];
        if (qGray(frame.pixel(x, y)) != display) ++wrong;
      }
    }
    EXPECT_EQ(wrong, 0) << "capture " << i;
  }
}

TEST_F(QtDialogTest, SimplifiedChineseTextsAreDecoded) {
  api::Module().language_offset = api::kLanguageSimplifiedChinese;
  int argc = 1;
  char name[] = "test";
  char* argv[] = {name, nullptr};
  QApplication app(argc, argv);
  ClickCancelAtThePressWait(&app);
  char text[513] = {};
  int length = 0;
  EXPECT_EQ(FPIFeature(0, text, &length), -3);
  ASSERT_GE(host_.seen.texts.size(), 4u);
  EXPECT_EQ(host_.seen.texts[0].second, QString::fromUtf8("指纹特征采集"));
  EXPECT_TRUE(host_.seen.texts[1].second.startsWith(QString::fromUtf8("操作提示：")));
  EXPECT_EQ(host_.seen.texts[2].second, QString::fromUtf8("取消"));
  EXPECT_EQ(host_.seen.texts[3].second, QString::fromUtf8("开始次采集指纹, 请按手指..."));
}

// The plugin as the library loads it, with the stand-in's synthetic finger: every capture
// export on both ports runs its window to a good end, with nothing but the finger.
TEST(QtDialogPlugin, SyntheticFingerRunsEveryExportOnBothPorts) {
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  void* plugin = dlopen(VANTREL_BINARY_DIR "/libvantrel-dialog-qt.so", RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(plugin, nullptr) << dlerror();
  auto entry = reinterpret_cast<platform::DialogPluginEntry>(
      dlsym(plugin, platform::kDialogPluginEntry));
  ASSERT_NE(entry, nullptr);
  platform::DialogHost* host = entry(platform::kDialogHostAbi);
  ASSERT_NE(host, nullptr);
  platform::VirtualClock clock;
  api::testing::ExpectDialogRunsWithASyntheticFinger(*host, clock, 3);
  EXPECT_NE(qobject_cast<QApplication*>(QCoreApplication::instance()), nullptr);
}

// Through libVantrel.so as an application uses it: the library finds the plugin beside
// itself, and a click on Cancel while the synthetic finger is being taken ends the
// capture with -3.
TEST(QtDialogPlugin, CancelClickThroughTheLoadedLibrary) {
  setenv("QT_QPA_PLATFORM", "offscreen", 1);
  setenv("VANTREL_SIMULATOR", "disk", 1);
  setenv("VANTREL_CODEPAGE", "1252", 1);
  int argc = 1;
  char name[] = "test";
  char* argv[] = {name, nullptr};
  QApplication app(argc, argv);
  void* library = dlopen(VANTREL_BINARY_DIR "/libVantrel.so", RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(library, nullptr) << dlerror();
  auto set_param = reinterpret_cast<int (*)(int, int)>(dlsym(library, "FPISetParam"));
  auto templ = reinterpret_cast<int (*)(int, char*, int*)>(dlsym(library, "FPITemplate"));
  ASSERT_NE(set_param, nullptr);
  ASSERT_NE(templ, nullptr);
  EXPECT_EQ(set_param(1, 9600), 0);
  QString caption;
  ClickCancelAtThePressWait(&app, [&] {
    for (QWidget* top : QApplication::topLevelWidgets()) {
      if (top->isVisible()) caption = top->windowTitle();
    }
  });
  char text[513] = {};
  int length = 0;
  EXPECT_EQ(templ(0, text, &length), -3);
  EXPECT_EQ(caption, "Scan fingerprint for template");
}

}  // namespace
}  // namespace vantrel::dialog_qt
