// Whole-pipeline behaviour: argument checks, hostile images and the real fingerprints.
#include <gtest/gtest.h>

#include <cstdint>
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "reader/extract/extract_feature.h"
#include "reader/extract/normalise.h"
#include "reader/record/record.h"
#include "tools/fingerprint_pgm.h"

namespace vantrel::extract {
namespace {

using Image = std::vector<uint8_t>;

Image Constant(uint8_t v) { return Image(kImageBytes, v); }

// Reads a binary 152 x 200 PGM as written in the fingerprint folders.
bool ReadPgm(const std::filesystem::path& path, Image& out) {
  out = vantrel::tools::ReadFingerprintPgm(path.string());
  return !out.empty();
}

std::vector<std::filesystem::path> RealImages() {
  std::vector<std::filesystem::path> paths;
  const std::filesystem::path root(VANTREL_FINGERPRINTS_DIR);
  std::error_code ec;
  if (!std::filesystem::is_directory(root, ec)) return paths;
  for (const auto& set : std::filesystem::directory_iterator(root, ec)) {
    if (!set.is_directory()) continue;
    for (const auto& f : std::filesystem::directory_iterator(set.path(), ec)) {
      if (f.path().extension() == ".pgm") paths.push_back(f.path());
    }
  }
  std::sort(paths.begin(), paths.end());
  return paths;
}

struct Outcome {
  int result = 0;
  uint16_t length = 0;
  uint8_t record[record::kRecordBytes] = {};
};

Outcome Extract(const Image& image) {
  Outcome o;
  std::memset(o.record, 0xEE, sizeof o.record);
  o.length = 0xBEEF;
  o.result = ExtractFeature(image.data(), o.record, &o.length);
  return o;
}

// A sealed record that extraction returned must unseal into a well-formed feature.
void ExpectWellFormed(const Outcome& o, const std::string& what) {
  ASSERT_EQ(o.length, 256) << what;
  ASSERT_EQ(o.record[0], record::kSealMark) << what;
  uint8_t plain[record::kRecordBytes];
  ASSERT_EQ(record::UnsealCopy(o.record, plain), 0) << what;
  record::DecodedRecord d;
  record::DecodeRecord(plain, d);
  EXPECT_EQ(d.format, 3) << what;
  EXPECT_EQ(d.version, 1) << what;
  EXPECT_GE(d.count, 5) << what;
  EXPECT_LE(d.count, 50) << what;
  for (int i = 0; i < d.usable; ++i) {
    const record::Minutia& m = d.minutiae[i];
    EXPECT_GE(m.x, 8) << what;
    EXPECT_LE(m.x, 247) << what;
    EXPECT_GE(m.y, 8) << what;
    EXPECT_LE(m.y, 279) << what;
    EXPECT_GE(m.direction, 0) << what;
    EXPECT_LE(m.direction, 359) << what;
    if (i > 0) {
      // Stored in order of reliability before the final trace check, which can lower a
      // value r to 3 r / 4: a stored r' came from at most (4 r' + 3) / 3.
      EXPECT_LE(3 * d.minutiae[i].reliability, 4 * d.minutiae[i - 1].reliability + 3)
          << what << " entry " << i;
    }
  }
}

TEST(ExtractFeature, NullArgumentsFailWithoutWriting) {
  const Image image = Constant(128);
  uint8_t record[record::kRecordBytes];
  std::memset(record, 0x5A, sizeof record);
  uint16_t length = 7;
  EXPECT_EQ(ExtractFeature(nullptr, record, &length), kExtractFailed);
  EXPECT_EQ(ExtractFeature(image.data(), nullptr, &length), kExtractFailed);
  EXPECT_EQ(ExtractFeature(image.data(), record, nullptr), kExtractFailed);
  EXPECT_EQ(length, 7);
  for (uint8_t b : record) ASSERT_EQ(b, 0x5A);
}

TEST(ExtractFeature, ImagesWithoutAFingerAreRejectedUntouched) {
  // White is an empty sensor (blank check); black and mid grey have no texture at all,
  // so no block is foreground and the 40 % rule rejects them.
  for (uint8_t v : {uint8_t{255}, uint8_t{0}, uint8_t{128}, uint8_t{181}, uint8_t{180}}) {
    const Outcome o = Extract(Constant(v));
    EXPECT_EQ(o.result, kExtractFailed) << int(v);
    EXPECT_EQ(o.length, 0xBEEF) << int(v);
    for (uint8_t b : o.record) ASSERT_EQ(b, 0xEE) << int(v);
  }
}

TEST(ExtractFeature, NoiseAndCheckerboardGiveFailureOrAWellFormedRecord) {
  std::mt19937 rng(12345);
  std::vector<Image> images;
  for (int i = 0; i < 3; ++i) {
    Image noise(kImageBytes);
    for (auto& p : noise) p = static_cast<uint8_t>(rng());
    images.push_back(noise);
  }
  for (int cell : {1, 2, 3, 7}) {
    Image board(kImageBytes);
    for (int y = 0; y < kImageHeight; ++y) {
      for (int x = 0; x < kImageWidth; ++x) {
        board[y * kImageWidth + x] = ((x / cell + y / cell) % 2) ? 255 : 0;
      }
    }
    images.push_back(board);
  }
  for (size_t i = 0; i < images.size(); ++i) {
    const Outcome o = Extract(images[i]);
    if (o.result == kExtractOk) {
      ExpectWellFormed(o, "image " + std::to_string(i));
    } else {
      EXPECT_EQ(o.result, kExtractFailed) << i;
      EXPECT_EQ(o.length, 0xBEEF) << i;
    }
  }
}

TEST(ExtractFeature, SinkSeesEveryStageInPipelineOrder) {
  // Diagonal ridges of period 6 over the whole image, dark on bright.
  Image image(kImageBytes);
  for (int y = 0; y < kImageHeight; ++y) {
    for (int x = 0; x < kImageWidth; ++x) {
      image[y * kImageWidth + x] = ((x + 2 * y) % 6) < 3 ? 60 : 200;
    }
  }
  struct Seen {
    std::vector<std::string> canvases, contexts;
    std::vector<uint8_t> first;
  } seen;
  InspectionSink sink;
  sink.user = &seen;
  sink.canvas = [](void* user, const char* stage, const uint8_t* canvas) {
    ASSERT_NE(canvas, nullptr);
    auto* s = static_cast<Seen*>(user);
    if (s->canvases.empty()) s->first.assign(canvas, canvas + kCanvasBytes);
    s->canvases.push_back(stage);
  };
  sink.context = [](void* user, const char* stage, const ExtractionContext&) {
    static_cast<Seen*>(user)->contexts.push_back(stage);
  };
  uint8_t record[record::kRecordBytes];
  uint16_t length = 0;
  const int result = ExtractFeature(image.data(), record, &length, &sink);
  EXPECT_TRUE(result == kExtractOk || result == kExtractFailed);

  const std::vector<std::string> canvases = {
      "NormaliseToCanvas", "PreFilter", "NormaliseContrast", "SmoothAlongRidges",
      "EnhanceRidges",     "Binarise",  "FillHoles",         "Thin",
      "RemoveSpurs"};
  const std::vector<std::string> contexts = {
      "NormaliseToCanvas", "PrepareImage",       "PreFilter",         "NormaliseContrast",
      "BlockDirections",   "SmoothAlongRidges",  "BlockDirections",   "MeasureRidgePeriod",
      "EnhanceRidges",     "FindSingularPoints", "Binarise",          "FillHoles",
      "Thin",              "RemoveSpurs"};
  EXPECT_EQ(seen.canvases, canvases);
  EXPECT_EQ(seen.contexts, contexts);
  // The first canvas is the image as placed on the canvas.
  std::vector<uint8_t> placed(kCanvasBytes);
  ASSERT_EQ(NormaliseToCanvas(image.data(), placed.data()), kExtractOk);
  EXPECT_EQ(seen.first, placed);
}

TEST(ExtractFeature, RejectedImageStopsTheSinkAfterSegmentation) {
  std::vector<std::string> stages;
  InspectionSink sink;
  sink.user = &stages;
  sink.context = [](void* user, const char* stage, const ExtractionContext&) {
    static_cast<std::vector<std::string>*>(user)->push_back(stage);
  };
  const Image image = Constant(255);
  uint8_t record[record::kRecordBytes];
  uint16_t length = 0;
  EXPECT_EQ(ExtractFeature(image.data(), record, &length, &sink), kExtractFailed);
  EXPECT_EQ(stages, (std::vector<std::string>{"NormaliseToCanvas", "PrepareImage"}));
}

TEST(ExtractFeatureOnRealImages, EveryRecordIsWellFormed) {
  const auto paths = RealImages();
  if (paths.empty()) GTEST_SKIP() << "no fingerprint images in " << VANTREL_FINGERPRINTS_DIR;
  int accepted = 0;
  for (const auto& path : paths) {
    Image image;
    ASSERT_TRUE(ReadPgm(path, image)) << path;
    const Outcome o = Extract(image);
    if (o.result != kExtractOk) {
      EXPECT_EQ(o.result, kExtractFailed) << path;
      continue;
    }
    ++accepted;
    ExpectWellFormed(o, path.filename().string());
  }
  // Some impressions are deliberately poor, but nearly every real finger must extract.
  EXPECT_GE(accepted * 10, static_cast<int>(paths.size()) * 9)
      << accepted << " of " << paths.size();
}

TEST(ExtractFeatureOnRealImages, SameImageGivesTheSameBytes) {
  const auto paths = RealImages();
  if (paths.empty()) GTEST_SKIP() << "no fingerprint images in " << VANTREL_FINGERPRINTS_DIR;
  // Every eighth image, from both sets, twice over.
  for (size_t i = 0; i < paths.size(); i += 8) {
    Image image;
    ASSERT_TRUE(ReadPgm(paths[i], image)) << paths[i];
    const Image copy = image;
    const Outcome first = Extract(image);
    const Outcome second = Extract(image);
    EXPECT_EQ(image, copy) << "the source image must not change";
    EXPECT_EQ(first.result, second.result) << paths[i];
    EXPECT_EQ(std::memcmp(first.record, second.record, sizeof first.record), 0) << paths[i];
  }
}

}  // namespace
}  // namespace vantrel::extract
