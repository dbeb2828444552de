#include "watchdog/process_match.h"

namespace vantrel::watchdog {

namespace {

// readlink of /proc/<pid>/exe marks a file removed or replaced since it was started.
constexpr std::string_view kDeletedSuffix = " (deleted)";

// Interpreter, optional #! argument, script: the script path is at most argv[2].
constexpr std::size_t kArgvChecked = 3;

}  // namespace

std::string_view BaseName(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

bool ProcessRunsImage(const ProcessFacts& facts, std::string_view imageName) {
  if (imageName.empty()) return false;
  if (facts.exe_known) {
    std::string_view exe = facts.exe;
    // A server whose file was replaced by an update still runs and still counts.
    if (exe.size() > kDeletedSuffix.size() && exe.ends_with(kDeletedSuffix)) {
      exe.remove_suffix(kDeletedSuffix.size());
    }
    if (BaseName(exe) == imageName) return true;
  }
  const std::string_view wanted_comm = imageName.substr(0, kCommLength);
  if (facts.comm != wanted_comm) return false;
  const std::size_t n = facts.argv.size() < kArgvChecked ? facts.argv.size() : kArgvChecked;
  for (std::size_t i = 0; i < n; ++i) {
    if (BaseName(facts.argv[i]) == imageName) return true;
  }
  return false;
}

std::vector<std::string> SplitCommandLine(std::string_view raw) {
  std::vector<std::string> out;
  std::size_t start = 0;
  while (start < raw.size()) {
    std::size_t end = raw.find('\0', start);
    if (end == std::string_view::npos) end = raw.size();
    out.emplace_back(raw.substr(start, end - start));
    start = end + 1;
  }
  return out;
}

}  // namespace vantrel::watchdog
