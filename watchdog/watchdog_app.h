#pragma once
// Start-up and shut-down of the watchdog program; main() only chooses the settings.

#include "watchdog/settings.h"

namespace vantrel::watchdog {

// Exit codes: 0 when another copy holds the key or the key cannot be created,
// otherwise the event loop's result.
inline constexpr int kExitAnotherCopy = 0;

// Takes the successor mark out of the environment, so that the server started later
// does not inherit it. True when this copy was started by a copy restarting itself.
bool TakeSuccessorMark();

int RunWatchdog(int argc, char** argv, const WatchdogSettings& settings);

}  // namespace vantrel::watchdog
