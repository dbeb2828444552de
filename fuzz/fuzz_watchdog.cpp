// The watchdog's outside inputs: raw /proc command lines and process facts into the
// process match, and program paths and names into the autostart entry. The entry is read
// back by the desktop-entry rules written out plainly here, and must give the path again.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include <QString>
#include <QStringList>

#include "fuzz/rules.h"
#include "watchdog/desktop_entry.h"
#include "watchdog/process_match.h"

using vantrel::fuzz::Require;
namespace wd = vantrel::watchdog;

namespace {

// The string level of a desktop-entry value: \s \n \t \r \\ .
QString ReadStringValue(const QString& value) {
  QString out;
  for (int i = 0; i < value.size(); ++i) {
    if (value[i] != QLatin1Char('\\') || i + 1 == value.size()) {
      out += value[i];
      continue;
    }
    const QChar c = value[++i];
    if (c == QLatin1Char('s')) out += QLatin1Char(' ');
    else if (c == QLatin1Char('n')) out += QLatin1Char('\n');
    else if (c == QLatin1Char('t')) out += QLatin1Char('\t');
    else if (c == QLatin1Char('r')) out += QLatin1Char('\r');
    else if (c == QLatin1Char('\\')) out += QLatin1Char('\\');
    else out += QLatin1Char('\\'), out += c;
  }
  return out;
}

// The Exec level: one argument in double quotes, \" \` \$ \\ inside, %% for %.
// Empty QStringList when the value is not exactly one such argument.
QStringList ReadExecArguments(const QString& exec) {
  QStringList args;
  QString current;
  bool quoted = false, any = false;
  for (int i = 0; i < exec.size(); ++i) {
    const QChar c = exec[i];
    if (quoted) {
      if (c == QLatin1Char('"')) { quoted = false; continue; }
      if (c == QLatin1Char('\\') && i + 1 < exec.size()) { current += exec[++i]; continue; }
      if (c == QLatin1Char('%') && i + 1 < exec.size() && exec[i + 1] == QLatin1Char('%')) {
        current += exec[++i];
        continue;
      }
      if (c == QLatin1Char('%')) return {};  // a field code inside a path
      current += c;
    } else if (c == QLatin1Char('"')) {
      quoted = true;
      any = true;
    } else if (c == QLatin1Char(' ')) {
      if (any) args << current;
      current.clear();
      any = false;
    } else {
      return {};  // the path is always written quoted
    }
  }
  if (quoted) return {};
  if (any) args << current;
  return args;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view raw(reinterpret_cast<const char*>(data), size);

  // The command line splits at NUL bytes and nothing is lost.
  const std::vector<std::string> argv = wd::SplitCommandLine(raw);
  std::string joined;
  for (size_t i = 0; i < argv.size(); ++i) joined += (i ? std::string(1, '\0') : "") + argv[i];
  if (!raw.empty() && raw.back() == '\0') joined += '\0';
  Require(joined == raw, "the command line splits into its parts");

  // Process facts from the same bytes: exe is the first part, comm the second.
  wd::ProcessFacts facts;
  facts.exe_known = !argv.empty();
  facts.exe = argv.empty() ? std::string() : argv[0];
  facts.comm = argv.size() > 1 ? argv[1].substr(0, wd::kCommLength) : std::string();
  facts.argv.assign(argv.size() > 2 ? argv.begin() + 2 : argv.end(), argv.end());
  const std::string image = "quorv_socket";
  const bool runs = wd::ProcessRunsImage(facts, image);
  if (facts.exe_known && wd::BaseName(facts.exe) == image) Require(runs, "its own exe counts");
  if (facts.comm != image && !(facts.exe_known && facts.exe.find(image) != std::string::npos)) {
    Require(!runs, "a process of another name and exe does not count");
  }
  Require(!wd::ProcessRunsImage(facts, ""), "an empty image name matches nothing");

  // The autostart entry from a path and a name out of the input.
  const QString path = QString::fromUtf8(raw.data(), static_cast<int>(raw.size()));
  const QString name = path.left(12);
  const QString entry = wd::DesktopEntryText(name, path);
  if (entry.isEmpty()) return 0;
  const QStringList lines = entry.split(QLatin1Char('\n'));
  Require(lines.size() == 9 && lines.last().isEmpty(), "the entry has exactly its eight lines");
  QString exec;
  for (const QString& line : lines) {
    if (line.startsWith(QLatin1String("Exec="))) exec = line.mid(5);
  }
  const QStringList args = ReadExecArguments(ReadStringValue(exec));
  Require(args.size() == 1 && args[0] == path, "the Exec key reads back as the program path");
  return 0;
}
