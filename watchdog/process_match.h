#pragma once
// Deciding from what the process table says whether one process is a given program.
// Pure: the Linux backend reads /proc into a ProcessFacts and asks here, so the rule
// is tested without starting anything.

#include <string>
#include <string_view>
#include <vector>

namespace vantrel::watchdog {

struct ProcessFacts {
  bool exe_known = false;          // /proc/<pid>/exe could be read
  std::string exe;                 // its target, possibly ending in " (deleted)"
  std::string comm;                // /proc/<pid>/comm without the newline
  std::vector<std::string> argv;   // /proc/<pid>/cmdline split at NUL bytes
};

// The kernel cuts a process name (comm) to this many bytes.
inline constexpr std::size_t kCommLength = 15;

// Last path component; the whole text when it has no '/'.
std::string_view BaseName(std::string_view path);

// True when the process runs the executable file named imageName:
// - the executable's own file (exe) has that name, or
// - the kernel's process name (comm, set from the file it executed) is that name and
//   the argument list confirms it: argv[0] for a program, or the script path that the
//   kernel puts after the interpreter (and its one optional argument) for a #! script,
//   whose exe is the interpreter. This also covers processes whose exe we may not
//   read (another user's) and leaves out zombies, which have no arguments.
// A process that merely has the name in its arguments has neither exe nor comm of
// that name and does not count.
bool ProcessRunsImage(const ProcessFacts& facts, std::string_view imageName);

// Splits the raw bytes of /proc/<pid>/cmdline.
std::vector<std::string> SplitCommandLine(std::string_view raw);

}  // namespace vantrel::watchdog
