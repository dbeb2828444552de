// The capture window: template 101 laid out from its dialog units, centred, on top and
// modal. The logic calls back into it through DialogWindow; it only shows.
#include "dialog-qt/qt_dialog_host.h"

#include <dlfcn.h>

#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QFileInfo>
#include <QFontDatabase>
#include <QImage>
#include <QLabel>
#include <QLibraryInfo>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QTextCodec>
#include <QThread>
#include <QTimer>

#include <cstdlib>

#include "reader/platform/code_page.h"

namespace vantrel::dialog_qt {

namespace {

using platform::DialogClient;
using platform::DialogControl;

// Dialog base units of the template's "System" font: 8 pixels across, 16 down.
constexpr int kBaseX = 8;
constexpr int kBaseY = 16;
constexpr int kFontPixels = 13;
constexpr int kStartDelayMs = 20;  // the first timer message after the window appears

QRect Units(int x, int y, int w, int h) {
  return QRect(x * kBaseX / 4, y * kBaseY / 8, w * kBaseX / 4, h * kBaseY / 8);
}

bool Set(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && value[0] != '\0';
}

// An X server that does not answer would make Qt end the process; ask it first, through
// the X connection library that Qt's own X platform loads anyway.
bool DisplayAnswers() {
  void* xcb = dlopen("libxcb.so.1", RTLD_NOW | RTLD_LOCAL);
  if (xcb == nullptr) return false;
  using Connect = void* (*)(const char*, int*);
  using HasError = int (*)(void*);
  using Disconnect = void (*)(void*);
  auto connect = reinterpret_cast<Connect>(dlsym(xcb, "xcb_connect"));
  auto has_error = reinterpret_cast<HasError>(dlsym(xcb, "xcb_connection_has_error"));
  auto disconnect = reinterpret_cast<Disconnect>(dlsym(xcb, "xcb_disconnect"));
  bool answers = false;
  if (connect != nullptr && has_error != nullptr && disconnect != nullptr) {
    void* connection = connect(nullptr, nullptr);
    answers = connection != nullptr && has_error(connection) == 0;
    if (connection != nullptr) disconnect(connection);
  }
  dlclose(xcb);
  return answers;
}

// Chooses a platform Qt can start on, or none. An explicit QT_QPA_PLATFORM is the
// user's choice and kept.
bool ChoosePlatform() {
  if (Set("QT_QPA_PLATFORM")) return true;
  if (Set("DISPLAY") && DisplayAnswers()) return true;
  if (Set("WAYLAND_DISPLAY")) {
    const QString plugin = QLibraryInfo::location(QLibraryInfo::PluginsPath) +
                           "/platforms/libqwayland-generic.so";
    if (QFileInfo::exists(plugin)) {
      qputenv("QT_QPA_PLATFORM", "wayland");
      return true;
    }
  }
  return false;
}

bool EnsureApplication() {
  if (QCoreApplication::instance() == nullptr) {
    if (!ChoosePlatform()) return false;
    static int argc = 1;
    static char name[] = "vantrel";
    static char* argv[] = {name, nullptr};
    // Lives as long as the process: the plugin is never unloaded.
    new QApplication(argc, argv);
  }
  QCoreApplication* app = QCoreApplication::instance();
  return qobject_cast<QApplication*>(app) != nullptr &&
         QThread::currentThread() == app->thread();
}

QTextCodec* CodecFor(int code_page) {
  const char* name = code_page == platform::kCodePageSimplifiedChinese    ? "GBK"
                     : code_page == platform::kCodePageTraditionalChinese ? "Big5"
                                                                          : "windows-1252";
  QTextCodec* codec = QTextCodec::codecForName(name);
  return codec != nullptr ? codec : QTextCodec::codecForName("ISO-8859-1");
}

// One CJK font for every language, as the window's controls have one GB2312 font: its
// Latin letters are also narrow enough for the English texts to fit their fields.
QFont DialogFont() {
  QFont font = QApplication::font();
  const QStringList families = QFontDatabase().families();
  for (const char* family : {"WenQuanYi Micro Hei", "Noto Sans CJK SC", "Noto Sans CJK TC"}) {
    if (families.contains(family)) {
      font = QFont(family);
      break;
    }
  }
  font.setPixelSize(kFontPixels);
  return font;
}

QLabel* SunkenLabel(QWidget* parent, const char* name, const QRect& place, const QFont& font) {
  auto* label = new QLabel(parent);
  label->setObjectName(name);
  label->setGeometry(place);
  label->setFont(font);
  label->setFrameShape(QFrame::Panel);
  label->setFrameShadow(QFrame::Sunken);
  label->setTextFormat(Qt::PlainText);
  return label;
}

class Window final : public QDialog, public platform::DialogWindow {
 public:
  Window(int code_page, DialogClient& client) : codec_(CodecFor(code_page)), client_(client) {
    // A modal frame: a title and a close button, no resizing.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint | Qt::WindowStaysOnTopHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setModal(true);
    setFixedSize(Units(0, 0, 180, 118).size());
    const QFont font = DialogFont();
    // The frame holds the whole 152 x 200 image inside its one-pixel black border.
    frame_ = new QLabel(this);
    frame_->setObjectName(kFrameName);
    const QRect frame = Units(2, 2, 75, 100);
    frame_->setGeometry(frame.x() - 1, frame.y() - 1, platform::kDialogImageWidth + 2,
                        platform::kDialogImageHeight + 2);
    frame_->setFrameShape(QFrame::Box);
    frame_->setFrameShadow(QFrame::Plain);
    frame_->setLineWidth(1);
    QPalette black = frame_->palette();
    black.setColor(QPalette::WindowText, Qt::black);
    frame_->setPalette(black);
    // The English template note is longer than its field holds: the field scrolls, so
    // that the whole note can be read.
    auto* scroll = new QScrollArea(this);
    scroll->setGeometry(Units(79, 2, 99, 99));
    scroll->setFrameShape(QFrame::Panel);
    scroll->setFrameShadow(QFrame::Sunken);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setWidgetResizable(true);
    instructions_ = new QLabel;
    instructions_->setObjectName(kInstructionsName);
    instructions_->setFont(font);
    instructions_->setTextFormat(Qt::PlainText);
    instructions_->setWordWrap(true);
    instructions_->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    instructions_->setMargin(2);
    scroll->setWidget(instructions_);
    status_ = SunkenLabel(this, kStatusName, Units(2, 104, 142, 13), font);
    status_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    cancel_ = new QPushButton(this);
    cancel_->setObjectName(kCancelName);
    cancel_->setGeometry(Units(150, 104, 28, 12));
    cancel_->setFont(font);
    cancel_->setAutoDefault(false);
    QObject::connect(cancel_, &QPushButton::clicked, this, [this] { client_.OnCancel(); });
  }

  void SetText(DialogControl control, const char* text) override {
    const QString shown = codec_->toUnicode(text != nullptr ? text : "");
    switch (control) {
      case DialogControl::kCaption: setWindowTitle(shown); break;
      case DialogControl::kInstructions: instructions_->setText(shown); break;
      case DialogControl::kStatus:
        // The worker keeps some statuses up for 300 to 1000 ms without handling
        // messages: the line is painted now, so that it is seen for all of that time.
        status_->setText(shown);
        status_->repaint();
        break;
      case DialogControl::kCancel: cancel_->setText(shown); break;
      case DialogControl::kFrame: break;
    }
  }

  // Display form, upright: row r of the picture is reader row 199 - r, every pixel
  // inverted.
  void PaintImage(const uint8_t* reader_form) override {
    QImage image(platform::kDialogImageWidth, platform::kDialogImageHeight,
                 QImage::Format_Grayscale8);
    for (int r = 0; r < platform::kDialogImageHeight; ++r) {
      uchar* line = image.scanLine(r);
      const uint8_t* source =
          reader_form + (platform::kDialogImageHeight - 1 - r) * platform::kDialogImageWidth;
      for (int x = 0; x < platform::kDialogImageWidth; ++x) line[x] = static_cast<uchar>(255 - source[x]);
    }
    frame_->setPixmap(QPixmap::fromImage(image));
  }

  void PumpOne() override { QCoreApplication::processEvents(QEventLoop::AllEvents); }

 protected:
  // The title bar's close and the Escape key are a Cancel; the window ends when the
  // worker returns.
  void closeEvent(QCloseEvent* event) override {
    event->ignore();
    client_.OnCancel();
  }
  void reject() override { client_.OnCancel(); }

 private:
  QTextCodec* codec_;
  DialogClient& client_;
  QLabel* frame_ = nullptr;
  QLabel* instructions_ = nullptr;
  QLabel* status_ = nullptr;
  QPushButton* cancel_ = nullptr;
};

class Host final : public platform::DialogHost {
 public:
  bool Run(int code_page, DialogClient& client) override {
    if (!EnsureApplication()) return false;
    Window window(code_page, client);
    client.OnInit(window);
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (screen != nullptr) {
      const QRect area = screen->geometry();
      window.move(area.x() + area.width() / 2 - window.width() / 2,
                  area.y() + area.height() / 2 - window.height() / 2);
    }
    // The worker runs inside the first timer message; the window ends when it returns.
    QTimer::singleShot(kStartDelayMs, &window, [&] {
      client.OnTimer(window);
      window.done(1);
    });
    window.exec();
    return true;
  }
};

}  // namespace

platform::DialogHost& QtDialogHost() {
  static Host host;
  return host;
}

}  // namespace vantrel::dialog_qt
