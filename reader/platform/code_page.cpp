// The pure parts of the code page seam: the locale mapping and the override variable.
#include "reader/platform/code_page.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace vantrel::platform {

namespace {

bool HasLanguage(const char* locale, const char* language) {
  const size_t n = std::strlen(language);
  if (std::strncmp(locale, language, n) != 0) return false;
  const char next = locale[n];
  return next == '\0' || next == '.' || next == '@';
}

// A whole decimal number in int range, surrounding blanks allowed; false otherwise, so
// that a mistyped override falls back to the locale instead of picking a random page.
bool ParseCodePage(const char* text, int* value) {
  if (text == nullptr || *text == '\0') return false;
  errno = 0;
  char* end = nullptr;
  const long parsed = std::strtol(text, &end, 10);
  if (end == text || errno == ERANGE || parsed < INT_MIN || parsed > INT_MAX) return false;
  while (*end == ' ' || *end == '\t') ++end;
  if (*end != '\0') return false;
  *value = static_cast<int>(parsed);
  return true;
}

}  // namespace

bool CodePageOverride(int* code_page) {
  return ParseCodePage(std::getenv("VANTREL_CODEPAGE"), code_page);
}

int CodePageFromLocale(const char* locale) {
  if (locale == nullptr) return kCodePageWestern;
  if (HasLanguage(locale, "zh_CN") || HasLanguage(locale, "zh_SG")) {
    return kCodePageSimplifiedChinese;
  }
  if (HasLanguage(locale, "zh_TW") || HasLanguage(locale, "zh_HK")) {
    return kCodePageTraditionalChinese;
  }
  return kCodePageWestern;
}

}  // namespace vantrel::platform
