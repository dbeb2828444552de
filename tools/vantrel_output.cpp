#include "tools/vantrel_output.h"

namespace vantrel::tools {

const std::vector<std::pair<int, const char*>>& ResultCodes() {
  // Several layers share a number; each line names every meaning it carries.
  static const std::vector<std::pair<int, const char*>> codes = {
      {0, "success"},
      {-1, "failed: not served on this port, finger wait cancelled or timed out, dialog "
           "failed, extraction, synthesis or BMP file failure, no match at the level, or "
           "the reply was not received"},
      {-2, "a record does not unseal, or sending to the reader failed"},
      {-3, "port outside 0..9, the two records are the same text, the dialog was "
           "cancelled, or the reader did not reply"},
      {-4, "the reply's length is not the expected one"},
      {-5, "the reply does not start with 0x02"},
      {-6, "the reply's checksum does not match"},
      {-7, "the reply does not end with 0x03"},
      {-8, "template synthesis failed, or the reader answered with an error status"},
      {-9, "feature extraction failed during a capture"},
      {-10, "no reader found, or the port cannot be opened"},
      {-11, "the reader is busy, or it did not answer in time"},
      {-12, "the reply is longer than its buffer and was refused"},
      {-99, "an algorithm failed unexpectedly, or a base64 text was refused"},
  };
  return codes;
}

const char* MeaningOf(int code) {
  if (code > 0) return "success (a value)";
  for (const auto& [value, meaning] : ResultCodes()) {
    if (value == code) return meaning;
  }
  return "an error code of the reader's link";
}

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += ch;
    } else if (c < 0x20 || c >= 0x7F) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\u%04x", c);
      out += hex;
    } else {
      out += ch;
    }
  }
  return out + "\"";
}

void Output::Say(const std::string& line) const {
  if (!json_) std::printf("%s\n", line.c_str());
}

void Output::Str(const std::string& key, const std::string& value) { Raw(key, JsonString(value)); }
void Output::Int(const std::string& key, long value) { Raw(key, std::to_string(value)); }
void Output::Bool(const std::string& key, bool value) { Raw(key, value ? "true" : "false"); }

void Output::Raw(const std::string& key, const std::string& json) {
  for (auto& field : fields_) {
    if (field.first == key) {
      field.second = json;
      return;
    }
  }
  fields_.emplace_back(key, json);
}

void Output::Result(int code) {
  Int("result", code);
  Str("meaning", MeaningOf(code));
}

void Output::Finish() const {
  if (!json_) return;
  std::string line = "{";
  for (size_t i = 0; i < fields_.size(); ++i) {
    if (i > 0) line += ", ";
    line += JsonString(fields_[i].first) + ": " + fields_[i].second;
  }
  std::printf("%s}\n", line.c_str());
}

}  // namespace vantrel::tools
