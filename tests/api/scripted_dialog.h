// A dialog host for tests: records every text shown (with its time and control) and
// every image painted, and acts as the user at the moment the test names.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "reader/platform/clock.h"
#include "reader/platform/dialog_host.h"

namespace vantrel::api::testing {

struct ShownText {
  uint32_t at_ms;
  platform::DialogControl control;
  std::string text;
};

enum class UserAction { kNone, kCancel, kClose };

class ScriptedDialogHost final : public platform::DialogHost {
 public:
  explicit ScriptedDialogHost(platform::Clock& clock) : clock_(clock) {}

  // Asked at every pump with what has been shown so far; the first answer other than
  // kNone is carried out (once) before the pump returns.
  std::function<UserAction(const ScriptedDialogHost&)> user;
  // What the user does in the 20 ms before the first timer message.
  UserAction before_timer = UserAction::kNone;

  std::vector<ShownText> texts;
  std::vector<std::vector<uint8_t>> images;  // reader form, as painted
  int runs = 0;
  int code_page = 0;
  uint32_t ended_at_ms = 0;

  bool Run(int code_page, platform::DialogClient& client) override;
  // Forgets what was shown and the user's script, for the next dialog.
  void Reset();

  // The status line's texts in order, and the last text of a control ("" if none).
  std::vector<std::string> Statuses() const;
  std::string Last(platform::DialogControl control) const;
  // Time from the first status text equal to text to the next text or the window's end.
  int64_t ShownForMs(const std::string& text) const;

 private:
  platform::Clock& clock_;
};

}  // namespace vantrel::api::testing
