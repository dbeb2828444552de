// Byte-exact regression of the whole extraction on the real fingerprints: the record of
// every image, and every intermediate canvas and context of a few images, must hash to
// the values in golden_records.inc.
//
// The table is generated from the code as it stands by running this test program with
// VANTREL_WRITE_GOLDEN set to an output file, from the source folder:
//   VANTREL_WRITE_GOLDEN=tests/extract/golden_records.inc
//   build/<dir>/tests/test_extract --gtest_filter='GoldenRecords.*'
// (the two lines as one command).
// Regenerate it only when the extraction algorithm itself is deliberately changed: a
// speed-up, a tidy-up or a new compiler must leave every hash as it is.
#include <gtest/gtest.h>

#include <algorithm>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "reader/extract/extract_feature.h"
#include "reader/record/record.h"
#include "tools/fingerprint_pgm.h"

namespace vantrel::extract {
namespace {

struct GoldenRecord {
  const char* file;  // <set>/<finger>_<impression>.pgm
  int result;
  uint64_t record_hash;  // of the 256-byte output buffer, pre-filled with 0xEE
};

// One report of the inspection sink: the canvas (0 when the stage reports none) and the
// context after the stage. `order` is the report's position within the extraction.
struct GoldenStage {
  const char* file;
  int order;
  const char* stage;
  uint64_t canvas_hash;
  uint64_t context_hash;
};

#include "golden_records.inc"

// The images whose every stage is checked: two of each set, one of them a poor one.
constexpr const char* kStagedImages[] = {
    "FVC2002_DB1_B/101_1.pgm", "FVC2002_DB1_B/107_4.pgm",
    "FVC2002_DB2_B/102_2.pgm", "FVC2002_DB2_B/110_8.pgm"};

constexpr uint64_t kFnvOffset = 0xcbf29ce484222325ull;
constexpr uint64_t kFnvPrime = 0x100000001b3ull;

uint64_t Fnv1a(const void* data, size_t length, uint64_t h = kFnvOffset) {
  const auto* p = static_cast<const uint8_t*>(data);
  for (size_t i = 0; i < length; ++i) {
    h ^= p[i];
    h *= kFnvPrime;
  }
  return h;
}

// The context is hashed field by field, so that padding bytes never enter the hash.
uint64_t ContextHash(const ExtractionContext& c) {
  uint64_t h = Fnv1a(c.block_mask, sizeof c.block_mask);
  h = Fnv1a(c.block_direction, sizeof c.block_direction, h);
  h = Fnv1a(c.ridge_period, sizeof c.ridge_period, h);
  const int32_t scalars[] = {c.foreground_centre_x, c.foreground_centre_y,
                             c.foreground_percent,  c.core1_x,
                             c.core1_y,             c.core2_x,
                             c.core2_y,             c.delta_x,
                             c.delta_y};
  for (int32_t v : scalars) {
    const uint8_t bytes[4] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8),
                              static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 24)};
    h = Fnv1a(bytes, sizeof bytes, h);
  }
  return h;
}

using Image = std::vector<uint8_t>;

bool ReadPgm(const std::filesystem::path& path, Image& out) {
  out = vantrel::tools::ReadFingerprintPgm(path.string());
  return !out.empty();
}

const std::filesystem::path kRoot(VANTREL_FINGERPRINTS_DIR);
constexpr const char* kSets[] = {"FVC2002_DB1_B", "FVC2002_DB2_B"};

// Every image of the two sets, as "<set>/<file>", sorted.
std::vector<std::string> ImageNames() {
  std::vector<std::string> names;
  std::error_code ec;
  for (const char* set : kSets) {
    for (const auto& f : std::filesystem::directory_iterator(kRoot / set, ec)) {
      if (f.path().extension() == ".pgm") {
        names.push_back(std::string(set) + "/" + f.path().filename().string());
      }
    }
  }
  std::sort(names.begin(), names.end());
  return names;
}

bool HaveImages() {
  std::error_code ec;
  for (const char* set : kSets) {
    if (!std::filesystem::is_directory(kRoot / set, ec)) return false;
  }
  return true;
}

struct Observed {
  int result = 0;
  uint64_t record_hash = 0;
  std::vector<GoldenStage> stages;  // file left null
  std::vector<std::string> stage_names;
};

void OnCanvas(void* user, const char*, const uint8_t* canvas) {
  // The canvas of a stage arrives just before its context; keep it for the pairing.
  auto* o = static_cast<Observed*>(user);
  o->stages.push_back({nullptr, -1, nullptr, Fnv1a(canvas, kCanvasBytes), 0});
}

void OnContext(void* user, const char* stage, const ExtractionContext& context) {
  auto* o = static_cast<Observed*>(user);
  if (o->stages.empty() || o->stages.back().order != -1) {
    o->stages.push_back({nullptr, -1, nullptr, 0, 0});
  }
  GoldenStage& s = o->stages.back();
  s.order = static_cast<int>(o->stages.size()) - 1;
  s.context_hash = ContextHash(context);
  o->stage_names.emplace_back(stage);
}

Observed Extract(const Image& image, bool inspect) {
  Observed o;
  uint8_t record[record::kRecordBytes];
  std::memset(record, 0xEE, sizeof record);
  uint16_t length = 0;
  InspectionSink sink;
  sink.user = &o;
  sink.canvas = OnCanvas;
  sink.context = OnContext;
  o.result = ExtractFeature(image.data(), record, &length, inspect ? &sink : nullptr);
  o.record_hash = Fnv1a(record, sizeof record);
  return o;
}

// Writes the table for the images found, in the form golden_records.inc holds.
void WriteGolden(const char* path) {
  FILE* f = std::fopen(path, "w");
  ASSERT_NE(f, nullptr) << path;
  std::fprintf(f,
               "// Expected hashes of golden_records_test.cpp; generated by that test with\n"
               "// VANTREL_WRITE_GOLDEN set (see there). Never edit by hand.\n"
               "constexpr GoldenRecord kGoldenRecords[] = {\n");
  for (const std::string& name : ImageNames()) {
    Image image;
    ASSERT_TRUE(ReadPgm(kRoot / name, image)) << name;
    const Observed o = Extract(image, false);
    std::fprintf(f, "    {\"%s\", %d, 0x%016" PRIx64 "ull},\n", name.c_str(), o.result,
                 o.record_hash);
  }
  std::fprintf(f, "};\n\nconstexpr GoldenStage kGoldenStages[] = {\n");
  for (const char* name : kStagedImages) {
    Image image;
    ASSERT_TRUE(ReadPgm(kRoot / name, image)) << name;
    const Observed o = Extract(image, true);
    for (size_t i = 0; i < o.stages.size(); ++i) {
      const GoldenStage& s = o.stages[i];
      std::fprintf(f, "    {\"%s\", %d, \"%s\", 0x%016" PRIx64 "ull, 0x%016" PRIx64 "ull},\n",
                   name, s.order, o.stage_names[i].c_str(), s.canvas_hash, s.context_hash);
    }
  }
  std::fprintf(f, "};\n");
  ASSERT_EQ(std::fclose(f), 0);
}

TEST(GoldenRecords, EveryRecordIsUnchanged) {
  if (const char* out = std::getenv("VANTREL_WRITE_GOLDEN")) {
    WriteGolden(out);
    GTEST_SKIP() << "golden table written to " << out;
  }
  if (!HaveImages()) GTEST_SKIP() << "no fingerprint sets in " << VANTREL_FINGERPRINTS_DIR;

  std::map<std::string, const GoldenRecord*> expected;
  for (const GoldenRecord& g : kGoldenRecords) expected[g.file] = &g;
  const std::vector<std::string> names = ImageNames();
  // The table covers exactly the images present: a lost or a new image is a change too.
  ASSERT_EQ(names.size(), expected.size());

  int accepted = 0;
  for (const std::string& name : names) {
    const auto it = expected.find(name);
    ASSERT_NE(it, expected.end()) << name << " is not in the golden table";
    Image image;
    ASSERT_TRUE(ReadPgm(kRoot / name, image)) << name;
    const Observed o = Extract(image, false);
    EXPECT_EQ(o.result, it->second->result) << name;
    EXPECT_EQ(o.record_hash, it->second->record_hash) << name;
    accepted += o.result == kExtractOk;
  }
  // A table of failures alone would prove little.
  EXPECT_GT(accepted, static_cast<int>(names.size()) / 2);
}

TEST(GoldenRecords, EveryStageOfSomeImagesIsUnchanged) {
  if (std::getenv("VANTREL_WRITE_GOLDEN") != nullptr) GTEST_SKIP() << "writing the table";
  if (!HaveImages()) GTEST_SKIP() << "no fingerprint sets in " << VANTREL_FINGERPRINTS_DIR;

  for (const char* name : kStagedImages) {
    std::vector<const GoldenStage*> expected;
    for (const GoldenStage& g : kGoldenStages) {
      if (std::strcmp(g.file, name) == 0) expected.push_back(&g);
    }
    Image image;
    ASSERT_TRUE(ReadPgm(kRoot / name, image)) << name;
    const Observed o = Extract(image, true);
    ASSERT_EQ(o.stages.size(), expected.size()) << name;
    // The sink must not change the outcome.
    const Observed plain = Extract(image, false);
    EXPECT_EQ(o.result, plain.result) << name;
    EXPECT_EQ(o.record_hash, plain.record_hash) << name;
    for (size_t i = 0; i < expected.size(); ++i) {
      const GoldenStage& g = *expected[i];
      const GoldenStage& s = o.stages[i];
      EXPECT_EQ(s.order, g.order) << name;
      EXPECT_EQ(o.stage_names[i], g.stage) << name << " report " << i;
      EXPECT_EQ(s.canvas_hash, g.canvas_hash) << name << " after " << g.stage << " (report " << i << ")";
      EXPECT_EQ(s.context_hash, g.context_hash) << name << " after " << g.stage << " (report " << i << ")";
    }
  }
}

// The hash itself: the published FNV-1a 64 values, so that the table means what it says.
TEST(GoldenRecords, HashIsFnv1a64) {
  EXPECT_EQ(Fnv1a("", 0), 0xcbf29ce484222325ull);
  EXPECT_EQ(Fnv1a("a", 1), 0xaf63dc4c8601ec8cull);
  EXPECT_EQ(Fnv1a("foobar", 6), 0x85944171f73967e8ull);
}

}  // namespace
}  // namespace vantrel::extract
