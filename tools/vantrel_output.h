// What the vantrel program prints: lines for people, or one JSON object for scripts,
// and the meaning of every result code the library returns.
#pragma once

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace vantrel::tools {

// The meaning of a result code of the library, in words.
const char* MeaningOf(int code);
// Every code with its meaning, in order (0 first, then -1, -2, ...).
const std::vector<std::pair<int, const char*>>& ResultCodes();

std::string JsonString(const std::string& text);

class Output {
 public:
  explicit Output(bool json) : json_(json) {}
  bool json() const { return json_; }
  // A line for people; not printed in JSON mode.
  void Say(const std::string& line) const;
  // Fields of the JSON object (values given as JSON text for Raw).
  void Str(const std::string& key, const std::string& value);
  void Int(const std::string& key, long value);
  void Bool(const std::string& key, bool value);
  void Raw(const std::string& key, const std::string& json);
  // A library call's result: the code and its meaning as fields.
  void Result(int code);
  // Prints the JSON object (JSON mode only).
  void Finish() const;

 private:
  bool json_;
  std::vector<std::pair<std::string, std::string>> fields_;
};

}  // namespace vantrel::tools
