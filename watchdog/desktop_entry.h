#pragma once
// The freedesktop autostart entry that starts the watchdog at log-on. Pure text work;
// platform_linux.cpp decides where the file goes and writes it.

#include <QString>

namespace vantrel::watchdog {

// $XDG_CONFIG_HOME/autostart, or $HOME/.config/autostart when XDG_CONFIG_HOME is unset,
// empty or relative (a relative value is to be ignored). Empty when neither is usable.
QString AutostartDirectory(const QString& xdgConfigHome, const QString& home);

// Quotes one argument for an Exec key and escapes the result as a desktop-entry
// string: always in double quotes, '"', '`', '$' and '\' escaped inside them, '%'
// doubled so it is not read as a field code, then every '\' doubled once more for the
// string level.
QString QuoteExecArgument(const QString& argument);

// The whole entry. Empty when name or programPath holds a control character or
// programPath is empty: such an entry could not be written so that it reads back as
// the same path, and a wrong path must not be registered.
QString DesktopEntryText(const QString& name, const QString& programPath);

}  // namespace vantrel::watchdog
