// Loading the library: code page, language offset and the state it starts from.
#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>

#include "reader/api/module_state.h"
#include "reader/links/link_ops.h"
#include "reader/platform/code_page.h"
#include "vantrel/vantrel.h"

namespace vantrel::api {
namespace {

// Sets the locale variables for one test and restores them afterwards.
class LoadTest : public ::testing::Test {
 protected:
  static constexpr const char* kNames[] = {"VANTREL_CODEPAGE", "LC_ALL", "LC_MESSAGES", "LANG"};
  void SetUp() override {
    for (int i = 0; i < 4; ++i) {
      const char* v = std::getenv(kNames[i]);
      saved_[i] = v ? std::optional<std::string>(v) : std::nullopt;
      unsetenv(kNames[i]);
    }
  }
  void TearDown() override {
    for (int i = 0; i < 4; ++i) {
      if (saved_[i]) {
        setenv(kNames[i], saved_[i]->c_str(), 1);
      } else {
        unsetenv(kNames[i]);
      }
    }
    OnLoad();
  }
  std::optional<std::string> saved_[4];
};

TEST(LanguageOffset, KnownCodePagesMapToTheirTexts) {
  EXPECT_EQ(LanguageOffsetFor(936), 0);
  EXPECT_EQ(LanguageOffsetFor(1252), 100);
  EXPECT_EQ(LanguageOffsetFor(950), 200);
  EXPECT_EQ(LanguageOffsetFor(1251), 1251);
  EXPECT_EQ(LanguageOffsetFor(0), 0);
}

TEST(CodePageFromLocale, ChineseTerritoriesAndEverythingElse) {
  using platform::CodePageFromLocale;
  EXPECT_EQ(CodePageFromLocale("zh_CN.UTF-8"), 936);
  EXPECT_EQ(CodePageFromLocale("zh_SG"), 936);
  EXPECT_EQ(CodePageFromLocale("zh_TW.Big5"), 950);
  EXPECT_EQ(CodePageFromLocale("zh_HK@stroke"), 950);
  EXPECT_EQ(CodePageFromLocale("zh_CNX"), 1252);
  EXPECT_EQ(CodePageFromLocale("zh"), 1252);
  EXPECT_EQ(CodePageFromLocale("ru_RU.CP1251"), 1252);
  EXPECT_EQ(CodePageFromLocale("C"), 1252);
  EXPECT_EQ(CodePageFromLocale(""), 1252);
  EXPECT_EQ(CodePageFromLocale(nullptr), 1252);
}

TEST_F(LoadTest, LocaleVariablesAreReadInPrecedenceOrder) {
  EXPECT_EQ(platform::AnsiCodePage(), 1252);
  setenv("LANG", "zh_TW.UTF-8", 1);
  EXPECT_EQ(platform::AnsiCodePage(), 950);
  setenv("LC_MESSAGES", "zh_CN.GB2312", 1);
  EXPECT_EQ(platform::AnsiCodePage(), 936);
  setenv("LC_ALL", "en_GB.UTF-8", 1);
  EXPECT_EQ(platform::AnsiCodePage(), 1252);
  setenv("LC_ALL", "", 1);  // empty counts as unset
  EXPECT_EQ(platform::AnsiCodePage(), 936);
}

TEST_F(LoadTest, CodePageVariableOverridesTheLocale) {
  setenv("LC_ALL", "zh_CN.UTF-8", 1);
  setenv("VANTREL_CODEPAGE", "1251", 1);
  EXPECT_EQ(platform::AnsiCodePage(), 1251);
  setenv("VANTREL_CODEPAGE", "950", 1);
  EXPECT_EQ(platform::AnsiCodePage(), 950);
  for (const char* bad : {"", "abc", "12x", "99999999999999"}) {
    setenv("VANTREL_CODEPAGE", bad, 1);
    EXPECT_EQ(platform::AnsiCodePage(), 936) << '"' << bad << '"';
  }
}

TEST_F(LoadTest, LoadChoosesTheLanguageAndResetsTheState) {
  FPISetParam(1, 115200);
  links::State().serial = {6, 115200};
  Module().finger_wait_active = 1;
  Module().finger_wait_done = 1;

  setenv("VANTREL_CODEPAGE", "1251", 1);
  OnLoad();
  EXPECT_EQ(Module().language_offset, 1251);
  EXPECT_NE(Module().instance, nullptr);
  EXPECT_EQ(Module().dialog_mode, 0);
  EXPECT_EQ(Module().finger_wait_active.load(), 0);
  EXPECT_EQ(Module().finger_wait_done.load(), 0);
  EXPECT_EQ(links::State().configured_baud, 9600);
  EXPECT_EQ(links::State().serial.port, 1);
  EXPECT_EQ(links::State().serial.baud, 9600);

  setenv("VANTREL_CODEPAGE", "950", 1);
  OnLoad();
  EXPECT_EQ(Module().language_offset, 200);
  unsetenv("VANTREL_CODEPAGE");
  setenv("LANG", "zh_CN.UTF-8", 1);
  OnLoad();
  EXPECT_EQ(Module().language_offset, 0);
  setenv("LANG", "de_DE.UTF-8", 1);
  OnLoad();
  EXPECT_EQ(Module().language_offset, 100);
}

TEST_F(LoadTest, UnloadClearsTheInstanceAndTheDialogWindow) {
  OnLoad();
  int marker = 0;
  Module().dialog.window = &marker;
  OnUnload();
  EXPECT_EQ(Module().instance, nullptr);
  EXPECT_EQ(Module().dialog.window, nullptr);
}

}  // namespace
}  // namespace vantrel::api
