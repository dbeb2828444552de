// The pure layers (protocol, record, extract, match, and the vector-form helper they
// share) include only standard headers that touch no file, device or clock, and
// project headers of their own layer or of the layers below it.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace {

struct Layer {
  std::string folder;                 // below the source tree
  std::vector<std::string> may_use;   // project folders it may include, its own among them
};

const std::vector<Layer>& PureLayers() {
  static const std::vector<Layer> layers = {
      {"reader/cpu", {"reader/cpu"}},
      {"reader/protocol", {"reader/protocol"}},
      {"reader/record", {"reader/record", "reader/cpu"}},
      {"reader/extract", {"reader/extract", "reader/record", "reader/cpu"}},
      {"reader/match", {"reader/match", "reader/record", "reader/cpu"}},
  };
  return layers;
}

// Standard headers without files, devices or clocks, and the vector intrinsics.
const std::set<std::string>& AllowedSystemHeaders() {
  static const std::set<std::string> headers = {
      "algorithm", "array",      "bit",          "cassert",          "climits",
      "cmath",     "cstddef",    "cstdint",      "cstdlib",          "cstring",
      "functional", "initializer_list", "iterator", "limits",        "memory",
      "new",       "numeric",    "optional",     "span",             "string_view",
      "tuple",     "type_traits", "utility",     "vector",           "atomic",
      "thread",    "emmintrin.h", "immintrin.h"};
  return headers;
}

// What is wrong with one include line of a file of the layer, or "" when nothing is.
std::string Fault(const Layer& layer, const std::string& line) {
  static const std::regex include(R"(^\s*#\s*include\s*([<"])([^>"]+)[>"])");
  std::smatch m;
  if (!std::regex_search(line, m, include)) return "";
  const std::string name = m[2];
  if (m[1] == "<")
    return AllowedSystemHeaders().count(name) ? "" : "system header <" + name + ">";
  for (const std::string& folder : layer.may_use)
    if (name.rfind(folder + "/", 0) == 0 && name.find('/', folder.size() + 1) == std::string::npos)
      return "";
  return "project header \"" + name + "\" of another layer";
}

TEST(Layers, PureLayersIncludeNothingAboveThem) {
  namespace fs = std::filesystem;
  int files = 0;
  for (const Layer& layer : PureLayers()) {
    const fs::path folder = fs::path(VANTREL_SOURCE_DIR) / layer.folder;
    ASSERT_TRUE(fs::is_directory(folder)) << folder;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
      if (!entry.is_regular_file()) continue;
      std::ifstream in(entry.path());
      std::string line;
      for (int n = 1; std::getline(in, line); ++n) {
        const std::string fault = Fault(layer, line);
        EXPECT_EQ(fault, "") << entry.path().string() << ":" << n;
      }
      ++files;
    }
  }
  EXPECT_GT(files, 30);
}

// The check itself: each kind of line is judged as the rule says.
TEST(Layers, CheckerJudgesEachKindOfInclude) {
  const Layer match = PureLayers()[4];
  ASSERT_EQ(match.folder, "reader/match");
  const struct {
    const char* line;
    bool fault;
  } cases[] = {
      {"#include <cstdint>", false},
      {"#include \"reader/match/matcher.h\"", false},
      {"#include \"reader/record/record.h\"", false},
      {"#include \"reader/match/matcher_kernels.inc\"", false},
      {"#  include <unistd.h>", true},
      {"#include <sys/ioctl.h>", true},
      {"#include <windows.h>", true},
      {"#include <fstream>", true},
      {"#include <chrono>", true},
      {"#include <cstdio>", true},
      {"#include <ctime>", true},
      {"#include \"reader/extract/extract_context.h\"", true},
      {"#include \"reader/platform/clock.h\"", true},
      {"#include \"reader/api/capture.h\"", true},
      {"#include \"reader/match/../links/disk_link.h\"", true},
      {"#include \"tools/fingerprint_pgm.h\"", true},
      {"// #include <unistd.h> in a comment, not at the start", false},
  };
  for (const auto& c : cases) EXPECT_EQ(Fault(match, c.line) != "", c.fault) << c.line;
}

}  // namespace
