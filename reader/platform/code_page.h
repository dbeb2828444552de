// The ANSI code page seam: which single-byte code page the user's environment uses.
#pragma once

namespace vantrel::platform {

inline constexpr int kCodePageSimplifiedChinese = 936;
inline constexpr int kCodePageTraditionalChinese = 950;
inline constexpr int kCodePageWestern = 1252;

// The code page of this process. VANTREL_CODEPAGE=<decimal number> overrides it; otherwise
// it is the system's ANSI code page (GetACP) on Windows, and on Linux it follows the
// locale (first non-empty of LC_ALL, LC_MESSAGES, LANG). Any thread.
int AnsiCodePage();

// The value of VANTREL_CODEPAGE when it is a whole decimal number in int range (blanks
// around it allowed); false otherwise, so that a mistyped override is ignored.
bool CodePageOverride(int* code_page);

// The locale mapping alone: zh_CN / zh_SG -> 936, zh_TW / zh_HK -> 950, anything else
// (including null or empty) -> 1252. The territory must be followed by the end, a '.'
// (codeset) or a '@' (modifier), so "zh_CNX" is not Chinese.
int CodePageFromLocale(const char* locale);

}  // namespace vantrel::platform
