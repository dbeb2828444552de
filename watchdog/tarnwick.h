#pragma once
// The watchdog's main widget. It lives in the global namespace because the
// meta-object system registers it by its plain class name, "Tarnwick".

#include <QString>
#include <QWidget>

#include "watchdog/settings.h"

class QTimer;

namespace vantrel::watchdog {
class InstanceKey;
}

class Tarnwick : public QWidget {
  Q_OBJECT

 public:
  // key: the single-instance key this copy holds; it is handed over on self-restart.
  // May be null (then nothing is handed over).
  explicit Tarnwick(vantrel::watchdog::InstanceKey* key = nullptr,
                    const vantrel::watchdog::WatchdogSettings& settings = {},
                    QWidget* parent = nullptr);
  ~Tarnwick() override;

  int checkCount() const { return checkCount_; }
  QTimer* checkTimer() const { return testTimer_; }

  // Full native paths of the supervised server and of the program's successor.
  QString serverPath() const;
  QString restartPath() const;

 public slots:
  // One check: start the server when it is absent, count, restart when due.
  void testTimerTimeout();

 private:
  void setupUi();
  void writeAutostart();
  void restartSelf();
  void trace(const QString& what) const;
  // Logs a change between "the server starts" and "the server cannot be started", once
  // per change: a missing server file would otherwise fill the log at every check.
  void noteServerStart(bool started);

  vantrel::watchdog::InstanceKey* key_;
  vantrel::watchdog::WatchdogSettings settings_;
  QString programDir_;
  QTimer* testTimer_ = nullptr;
  qint32 checkCount_ = 0;
  bool restarting_ = false;
  bool serverStarts_ = true;  // the last start attempt succeeded (or none was made)
};
