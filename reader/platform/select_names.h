// The names of VANTREL_SIMULATOR and their parsing, apart so that tests can check the
// parsing without touching the process's backends.
#pragma once

namespace vantrel::platform {

struct Providers;

struct SimulatorName {
  const char* name;                // "disk"; a trailing '*' matches by prefix ("com*")
  void (*attach)(Providers& providers);
};

// Splits text at commas, trims blanks, and matches each item (case-insensitively) to
// the first name that fits; unknown items are ignored. Writes at most capacity
// matches in order and returns their count. A null text gives 0.
int ParseSimulatorList(const char* text, const SimulatorName* names, int name_count,
                       const SimulatorName** matched, int capacity);

}  // namespace vantrel::platform
