#include "watchdog/tarnwick.h"

#include <QCoreApplication>
#include <QDir>
#include <QMetaObject>
#include <QTimer>

#include "watchdog/instance_key.h"
#include "watchdog/platform.h"

using vantrel::watchdog::InstanceKey;
using vantrel::watchdog::WatchdogSettings;

Tarnwick::Tarnwick(InstanceKey* key, const WatchdogSettings& settings, QWidget* parent)
    : QWidget(parent), key_(key), settings_(settings) {
  // A counter limit below 1 would restart from inside the constructor, before the event
  // loop runs, where the quit is lost and two copies would stay.
  if (settings_.restart_after_checks < 1) settings_.restart_after_checks = 1;
  if (settings_.check_interval_ms < 1) settings_.check_interval_ms = 1;
  if (settings_.server_file_name.isEmpty()) {
    settings_.server_file_name = vantrel::watchdog::ServerFileName();
  }
  programDir_ = settings_.program_dir.isEmpty() ? QCoreApplication::applicationDirPath()
                                                : settings_.program_dir;
  setupUi();
  checkCount_ = 0;
  testTimer_ = nullptr;
  writeAutostart();
  testTimerTimeout();
  if (testTimer_ == nullptr) {
    testTimer_ = new QTimer(this);
    connect(testTimer_, &QTimer::timeout, this, &Tarnwick::testTimerTimeout);
    testTimer_->start(settings_.check_interval_ms);
  }
}

Tarnwick::~Tarnwick() {
  if (testTimer_ != nullptr) {
    testTimer_->stop();
    testTimer_ = nullptr;
  }
}

void Tarnwick::setupUi() {
  if (objectName().isEmpty()) setObjectName(QStringLiteral("TarnwickClass"));
  resize(600, 400);
  setWindowTitle(QCoreApplication::translate("TarnwickClass", "Tarnwick"));
  QMetaObject::connectSlotsByName(this);
}

QString Tarnwick::serverPath() const {
  return QDir::toNativeSeparators(programDir_ + QLatin1Char('/') + settings_.server_file_name);
}

QString Tarnwick::restartPath() const {
  return QDir::toNativeSeparators(programDir_ + QLatin1Char('/') +
                                  vantrel::watchdog::ProgramFileName());
}

void Tarnwick::writeAutostart() {
  const QString name = settings_.application_name.isEmpty()
                           ? QCoreApplication::applicationName()
                           : settings_.application_name;
  // Supervision goes on without the entry; the next start retries. Logged once, as it is
  // written once per start.
  if (!vantrel::watchdog::WriteAutostartEntry(
          name, QDir::toNativeSeparators(QCoreApplication::applicationFilePath()))) {
    qWarning("Tarnwick: cannot write the autostart entry %s",
             qUtf8Printable(vantrel::watchdog::AutostartEntryLocation(name)));
    trace(QStringLiteral("autostart-failed"));
  }
}

void Tarnwick::trace(const QString& what) const {
  if (settings_.trace) settings_.trace(what);
}

void Tarnwick::testTimerTimeout() {
  if (restarting_) return;
  if (!vantrel::watchdog::IsProcessRunning(settings_.server_file_name)) {
    // A failed start is not retried until the next check.
    const bool started = vantrel::watchdog::StartDetached(serverPath());
    trace(started ? QStringLiteral("server-start") : QStringLiteral("server-start-failed"));
    noteServerStart(started);
  }
  ++checkCount_;
  trace(QStringLiteral("check %1").arg(checkCount_));
  if (checkCount_ > settings_.restart_after_checks) restartSelf();
}

void Tarnwick::noteServerStart(bool started) {
  if (started == serverStarts_) return;
  serverStarts_ = started;
  if (started) {
    qInfo("Tarnwick: started %s again", qUtf8Printable(serverPath()));
  } else {
    qWarning("Tarnwick: cannot start %s; trying again at every check", qUtf8Printable(serverPath()));
  }
}

void Tarnwick::restartSelf() {
  restarting_ = true;
  // Nothing may run between giving up the key and the end of the event loop.
  if (testTimer_ != nullptr) testTimer_->stop();
  // Released before the successor starts, so that it finds the key free.
  if (key_ != nullptr) key_->Release();
  const QStringList mark{QString::fromLatin1(vantrel::watchdog::kSuccessorVariable) +
                         QLatin1Char('=') +
                         QString::number(QCoreApplication::applicationPid())};
  if (vantrel::watchdog::StartDetached(restartPath(), mark)) {
    trace(QStringLiteral("restart"));
    QCoreApplication::quit();
    return;
  }
  // No successor: quitting would leave the server unwatched, so this copy stays on,
  // unless another copy took the key meanwhile and watches in its place.
  if (key_ != nullptr &&
      key_->Acquire(0) != vantrel::watchdog::InstanceKey::Outcome::kAcquired) {
    trace(QStringLiteral("restart-key-lost"));
    QCoreApplication::quit();
    return;
  }
  trace(QStringLiteral("restart-failed"));
  restarting_ = false;
  checkCount_ = 0;
  if (testTimer_ != nullptr) testTimer_->start(settings_.check_interval_ms);
}
