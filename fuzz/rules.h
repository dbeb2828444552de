// What a fuzz target does when a rule it checks is broken: say which, and stop, so the
// fuzzer keeps the input.
#pragma once

#include <cstdio>
#include <cstdlib>

namespace vantrel::fuzz {

inline void Require(bool holds, const char* rule) {
  if (holds) return;
  std::fprintf(stderr, "broken rule: %s\n", rule);
  std::abort();
}

}  // namespace vantrel::fuzz
