// Nibble and base64 texts: the conversion entry, and every export that takes a record text.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/rules.h"
#include "reader/record/record_text.h"
#include "vantrel/vantrel.h"

using vantrel::fuzz::Require;

namespace {

// A text of exactly length characters (plus a terminator), cycling through the input.
std::string TextOf(const uint8_t* data, size_t size, size_t from, size_t length) {
  std::string text(length, '0');
  for (size_t i = 0; i < length && size > 0; ++i) {
    text[i] = static_cast<char>(data[(from + i) % size]);
  }
  return text;
}

bool KnownMatchResult(int rc) { return rc >= -3 || rc == -8 || rc == -99; }

void ConversionEntry(const uint8_t* data, size_t size) {
  std::vector<char> input(data, data + size);
  const std::vector<char> before = input;
  const int length = static_cast<int>(size);
  for (int direction : {0, 1}) {
    // The longest result: 4 characters per 3 bytes when encoding, 3 per 4 decoding.
    const int longest = direction ? 4 * (length / 3 + 1) : 3 * (length / 4 + 1);
    for (int capacity : {0, 3, longest}) {
      std::vector<uint8_t> output(static_cast<size_t>(capacity) + 1);
      int out_length = -7;
      const int rc = vantrel::text::Base64Convert(direction, input.empty() ? nullptr : input.data(),
                                                  length, output.data() + 1, capacity, &out_length);
      Require(input == before, "the conversion leaves its input as it was");
      if (length == 0) {
        Require(rc == -1, "an empty input is refused first");
        continue;
      }
      Require(rc == 0, "a non-empty input converts");
      Require(out_length >= 0 && out_length <= longest, "result length within the rule");
      if (direction) Require(out_length == 4 * ((length + 2) / 3), "encoded length 4 per 3");
      (void)output;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ConversionEntry(data, size);
  if (size == 0) return 0;
  const int level = data[0] % 12 - 1;  // -1 and 10 lie outside 0..9
  const std::string a = TextOf(data, size, 1, 513);
  const std::string b = TextOf(data, size, 257, 513);
  const std::string c = TextOf(data, size, 7, 513);
  const std::string a64 = TextOf(data, size, 1, 344);
  const std::string b64 = TextOf(data, size, 100, 344);
  std::string copies[5] = {a, b, c, a64, b64};

  Require(KnownMatchResult(FPIFpMatch(a.c_str(), b.c_str(), level)), "FPIFpMatch result");
  Require(KnownMatchResult(FPIMatch(a.c_str(), a.c_str(), level)), "FPIMatch result");
  Require(KnownMatchResult(FPIVerifyAsc(b.c_str(), a.c_str(), level)), "FPIVerifyAsc result");
  Require(KnownMatchResult(FPIFpMatchB64(a64.c_str(), b64.c_str(), level)), "FPIFpMatchB64 result");

  std::vector<char> out(FPI_TEXT_BUFFER_BYTES + 16, '\x5A');
  int length = -7;
  const int rc = FPIGetTemplateByFeature(a.c_str(), b.c_str(), c.c_str(), out.data(), &length);
  Require(KnownMatchResult(rc), "FPIGetTemplateByFeature result");
  if (rc == 0) Require(length == 512 && out[512] == 0, "a template is 512 characters and a zero");
  for (size_t i = FPI_TEXT_BUFFER_BYTES; i < out.size(); ++i) {
    Require(out[i] == '\x5A', "FPIGetTemplateByFeature writes inside its buffer");
  }
  const std::string* given[5] = {&a, &b, &c, &a64, &b64};
  for (int i = 0; i < 5; ++i) Require(copies[i] == *given[i], "input texts unchanged");
  return 0;
}
