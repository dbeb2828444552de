// The part of the watchdog's seam that Qt gives alike on every system: detached starts.

#include <QProcess>
#include <QProcessEnvironment>

#include "watchdog/platform.h"

namespace vantrel::watchdog {

bool StartDetached(const QString& path, const QStringList& extraEnvironment) {
  QProcess process;
  process.setProgram(path);
  process.setArguments({});
  if (!extraEnvironment.isEmpty()) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString& pair : extraEnvironment) {
      const int eq = pair.indexOf(QLatin1Char('='));
      if (eq > 0) env.insert(pair.left(eq), pair.mid(eq + 1));
    }
    process.setProcessEnvironment(env);
  }
  return process.startDetached();
}

}  // namespace vantrel::watchdog
