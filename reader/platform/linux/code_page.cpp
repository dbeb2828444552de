// The code page on Linux follows the locale.
#include "reader/platform/code_page.h"

#include <cstdlib>
#include <cstring>
#include <initializer_list>

namespace vantrel::platform {

int AnsiCodePage() {
  int forced = 0;
  if (CodePageOverride(&forced)) return forced;
  // POSIX precedence for message texts: the first variable that is set and not empty.
  for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(name);
    if (value != nullptr && *value != '\0') return CodePageFromLocale(value);
  }
  return kCodePageWestern;
}

}  // namespace vantrel::platform
