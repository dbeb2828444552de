#include "reader/api/module_state.h"

#include "reader/platform/code_page.h"

namespace vantrel::api {

ModuleState& Module() {
  static ModuleState state;
  return state;
}

int LanguageOffsetFor(int code_page) {
  switch (code_page) {
    case platform::kCodePageSimplifiedChinese: return kLanguageSimplifiedChinese;
    case platform::kCodePageWestern: return kLanguageEnglish;
    case platform::kCodePageTraditionalChinese: return kLanguageTraditionalChinese;
    default: return code_page;
  }
}

}  // namespace vantrel::api
