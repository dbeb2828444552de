#include "watchdog/desktop_entry.h"

#include <QDir>

namespace vantrel::watchdog {

namespace {

bool HasControlCharacter(const QString& text) {
  for (const QChar c : text) {
    if (c.unicode() < 0x20 || c.unicode() == 0x7f) return true;
  }
  return false;
}

}  // namespace

QString AutostartDirectory(const QString& xdgConfigHome, const QString& home) {
  if (!xdgConfigHome.isEmpty() && QDir::isAbsolutePath(xdgConfigHome)) {
    return xdgConfigHome + QStringLiteral("/autostart");
  }
  if (!home.isEmpty() && QDir::isAbsolutePath(home)) {
    return home + QStringLiteral("/.config/autostart");
  }
  return {};
}

QString QuoteExecArgument(const QString& argument) {
  QString quoted;
  quoted.reserve(argument.size() + 8);
  quoted += QLatin1Char('"');
  for (const QChar c : argument) {
    if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') ||
        c == QLatin1Char('\\')) {
      quoted += QLatin1Char('\\');
      quoted += c;
    } else if (c == QLatin1Char('%')) {
      quoted += QStringLiteral("%%");
    } else {
      quoted += c;
    }
  }
  quoted += QLatin1Char('"');
  // The Exec value is itself a string value, whose reader turns "\\" back into "\".
  quoted.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
  return quoted;
}

QString DesktopEntryText(const QString& name, const QString& programPath) {
  if (name.isEmpty() || programPath.isEmpty() || HasControlCharacter(name) ||
      HasControlCharacter(programPath)) {
    return {};
  }
  QString name_value = name;
  name_value.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
  return QStringLiteral("[Desktop Entry]\n"
                        "Type=Application\n"
                        "Name=") + name_value + QStringLiteral("\n"
                        "Comment=Keeps the local socket server running\n"
                        "Exec=") + QuoteExecArgument(programPath) + QStringLiteral("\n"
                        "Terminal=false\n"
                        "NoDisplay=true\n"
                        "X-GNOME-Autostart-enabled=true\n");
}

}  // namespace vantrel::watchdog
