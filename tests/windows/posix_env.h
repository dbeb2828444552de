// setenv and unsetenv for the shared test sources, which set variables the library reads
// (VANTREL_SIMULATOR, VANTREL_CODEPAGE); the C runtime of Windows spells them _putenv_s.
#pragma once

#include <stdlib.h>

inline int setenv(const char* name, const char* value, int overwrite) {
  if (!overwrite && getenv(name) != nullptr) return 0;
  return _putenv_s(name, value) == 0 ? 0 : -1;
}

inline int unsetenv(const char* name) { return _putenv_s(name, "") == 0 ? 0 : -1; }
