#include "scripted_dialog.h"

namespace vantrel::api::testing {

namespace {

using platform::DialogControl;

class RecordingWindow final : public platform::DialogWindow {
 public:
  RecordingWindow(ScriptedDialogHost& host, platform::DialogClient& client,
                  platform::Clock& clock)
      : host_(host), client_(client), clock_(clock) {}

  void SetText(DialogControl control, const char* text) override {
    host_.texts.push_back({clock_.TickMs(), control, text});
  }
  void PaintImage(const uint8_t* reader_form) override {
    host_.images.emplace_back(reader_form, reader_form + platform::kDialogImageBytes);
  }
  void PumpOne() override {
    if (acted_ || !host_.user) return;
    if (host_.user(host_) != UserAction::kNone) {
      acted_ = true;
      client_.OnCancel();
    }
  }

 private:
  ScriptedDialogHost& host_;
  platform::DialogClient& client_;
  platform::Clock& clock_;
  bool acted_ = false;
};

}  // namespace

bool ScriptedDialogHost::Run(int page, platform::DialogClient& client) {
  ++runs;
  code_page = page;
  RecordingWindow window(*this, client, clock_);
  client.OnInit(window);
  if (before_timer != UserAction::kNone) client.OnCancel();
  clock_.SleepMs(20);
  client.OnTimer(window);
  ended_at_ms = clock_.TickMs();
  return true;
}

void ScriptedDialogHost::Reset() {
  user = nullptr;
  before_timer = UserAction::kNone;
  texts.clear();
  images.clear();
  runs = 0;
  code_page = 0;
  ended_at_ms = 0;
}

std::vector<std::string> ScriptedDialogHost::Statuses() const {
  std::vector<std::string> out;
  for (const ShownText& t : texts) {
    if (t.control == DialogControl::kStatus) out.push_back(t.text);
  }
  return out;
}

std::string ScriptedDialogHost::Last(DialogControl control) const {
  for (auto it = texts.rbegin(); it != texts.rend(); ++it) {
    if (it->control == control) return it->text;
  }
  return "";
}

int64_t ScriptedDialogHost::ShownForMs(const std::string& text) const {
  for (size_t i = 0; i < texts.size(); ++i) {
    if (texts[i].control != DialogControl::kStatus || texts[i].text != text) continue;
    const uint32_t end = i + 1 < texts.size() ? texts[i + 1].at_ms : ended_at_ms;
    return static_cast<int64_t>(end - texts[i].at_ms);
  }
  return -1;
}

}  // namespace vantrel::api::testing
