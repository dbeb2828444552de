// vantrel inspect: runs one extraction and writes what every stage produced, so that a
// person can look at it: NN_<stage>.pgm for every intermediate canvas, mask.pgm,
// directions.pgm and periods.pgm for the block fields (each block drawn 8 x 8), and
// minutiae.png: the source image as placed on the canvas with the minutiae (red
// endings, blue bifurcations, a tick along the direction) and cores (green) over it.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "reader/extract/extract_context.h"
#include "reader/extract/extract_feature.h"
#include "reader/extract/normalise.h"
#include "reader/record/record.h"
#include "tools/vantrel_inspect.h"

namespace {

using vantrel::extract::ExtractionContext;
using vantrel::record::kBlockColumns;
using vantrel::record::kBlockRows;
using vantrel::extract::kCanvasBytes;
using vantrel::extract::kCanvasHeight;
using vantrel::extract::kCanvasWidth;

bool WritePgm(const std::filesystem::path& path, int w, int h, const uint8_t* pixels) {
  std::ofstream out(path, std::ios::binary);
  out << "P5\n" << w << " " << h << "\n255\n";
  out.write(reinterpret_cast<const char*>(pixels), static_cast<std::streamsize>(w) * h);
  return static_cast<bool>(out);
}

bool IsBinaryStage(const std::string& stage) {
  return stage == "Binarise" || stage == "FillHoles" || stage == "Thin" ||
         stage == "RemoveSpurs";
}

struct Collected {
  std::filesystem::path folder;
  int index = 0;
  bool ok = true;
  ExtractionContext last{};
  bool have_context = false;
};

void OnCanvas(void* user, const char* stage, const uint8_t* canvas) {
  auto* c = static_cast<Collected*>(user);
  std::vector<uint8_t> shown(canvas, canvas + kCanvasBytes);
  if (IsBinaryStage(stage)) {
    // Ridge pixels dark on white, like the grey stages.
    for (auto& p : shown) p = p != 0 ? 0 : 255;
  }
  char name[96];
  std::snprintf(name, sizeof name, "%02d_%s.pgm", c->index++, stage);
  c->ok &= WritePgm(c->folder / name, kCanvasWidth, kCanvasHeight, shown.data());
}

void OnContext(void* user, const char*, const ExtractionContext& context) {
  auto* c = static_cast<Collected*>(user);
  c->last = context;
  c->have_context = true;
}

// A block field drawn with every block 8 x 8 pixels, values scaled by `scale`.
bool WriteBlockField(const std::filesystem::path& path,
                     const uint8_t (&field)[kBlockRows][kBlockColumns], int scale, bool invert) {
  std::vector<uint8_t> pixels(kCanvasBytes);
  for (int y = 0; y < kCanvasHeight; ++y) {
    for (int x = 0; x < kCanvasWidth; ++x) {
      int v = field[y / 8][x / 8] * scale;
      if (v > 255) v = 255;
      pixels[y * kCanvasWidth + x] = static_cast<uint8_t>(invert ? 255 - v : v);
    }
  }
  return WritePgm(path, kCanvasWidth, kCanvasHeight, pixels.data());
}

struct Rgb {
  uint8_t r, g, b;
};

void Plot(std::vector<uint8_t>& rgb, int x, int y, Rgb colour) {
  if (x < 0 || y < 0 || x >= kCanvasWidth || y >= kCanvasHeight) return;
  uint8_t* p = &rgb[(static_cast<size_t>(y) * kCanvasWidth + x) * 3];
  p[0] = colour.r;
  p[1] = colour.g;
  p[2] = colour.b;
}

}  // namespace

namespace vantrel::tools {

int InspectImage(const Image& image, const std::string& folder, std::string& report,
                 std::string& error) {
  char line[160];
  Collected collected;
  collected.folder = folder;
  std::error_code ec;
  std::filesystem::create_directories(collected.folder, ec);
  if (ec) {
    error = "cannot create " + folder + ": " + ec.message();
    return -1;
  }

  vantrel::extract::InspectionSink sink;
  sink.user = &collected;
  sink.canvas = OnCanvas;
  sink.context = OnContext;
  uint8_t sealed[vantrel::record::kRecordBytes] = {};
  uint16_t length = 0;
  const int result = vantrel::extract::ExtractFeature(image.data(), sealed, &length, &sink);
  std::snprintf(line, sizeof line, "ExtractFeature: %d\n", result);
  report += line;

  if (collected.have_context) {
    const ExtractionContext& ctx = collected.last;
    collected.ok &= WriteBlockField(collected.folder / "mask.pgm", ctx.block_mask, 255, true);
    collected.ok &= WriteBlockField(collected.folder / "directions.pgm", ctx.block_direction, 31, false);
    collected.ok &= WriteBlockField(collected.folder / "periods.pgm", ctx.ridge_period, 120, false);
    std::snprintf(line, sizeof line,
                  "foreground %d %%, centre (%d, %d), cores (%d, %d) (%d, %d), delta (%d, %d)\n",
                  ctx.foreground_percent, ctx.foreground_centre_x, ctx.foreground_centre_y,
                  ctx.core1_x, ctx.core1_y, ctx.core2_x, ctx.core2_y, ctx.delta_x, ctx.delta_y);
    report += line;
  }

  // The source as it sits on the canvas, in grey, with the record drawn over it.
  std::vector<uint8_t> canvas(kCanvasBytes);
  if (vantrel::extract::NormaliseToCanvas(image.data(), canvas.data()) != 0) {
    error = "the image does not fit the canvas";
    return -1;
  }
  std::vector<uint8_t> rgb(static_cast<size_t>(kCanvasBytes) * 3);
  for (int i = 0; i < kCanvasBytes; ++i) rgb[3 * i] = rgb[3 * i + 1] = rgb[3 * i + 2] = canvas[i];

  if (result == 0) {
    uint8_t plain[vantrel::record::kRecordBytes];
    if (vantrel::record::UnsealCopy(sealed, plain) != 0) {
      error = "the record does not unseal";
      return -1;
    }
    vantrel::record::DecodedRecord decoded;
    vantrel::record::DecodeRecord(plain, decoded);
    std::snprintf(line, sizeof line, "quality %d, %d minutiae\n", decoded.quality, decoded.count);
    report += line;
    for (int i = 0; i < decoded.usable; ++i) {
      const auto& m = decoded.minutiae[i];
      const Rgb colour = m.type == vantrel::record::kRidgeEnding ? Rgb{255, 0, 0} : Rgb{0, 64, 255};
      for (int d = -2; d <= 2; ++d) {
        Plot(rgb, m.x + d, m.y - 2, colour);
        Plot(rgb, m.x + d, m.y + 2, colour);
        Plot(rgb, m.x - 2, m.y + d, colour);
        Plot(rgb, m.x + 2, m.y + d, colour);
      }
      const double a = m.direction * 3.14159265358979323846 / 180.0;
      for (int t = 3; t <= 9; ++t) {
        Plot(rgb, m.x + static_cast<int>(std::lround(t * std::cos(a))),
             m.y + static_cast<int>(std::lround(t * std::sin(a))), colour);
      }
      std::snprintf(line, sizeof line, "  %2d %s x %3d y %3d dir %3d r %2d\n", i,
                    m.type == vantrel::record::kRidgeEnding ? "ending     " : "bifurcation", m.x,
                    m.y, m.direction, m.reliability);
      report += line;
    }
    const int cores[2][2] = {{decoded.core1_x, decoded.core1_y}, {decoded.core2_x, decoded.core2_y}};
    for (const auto& c : cores) {
      if (c[0] == 0 && c[1] <= 2) continue;  // none, or the 0, 1 marker
      for (int d = -5; d <= 5; ++d) {
        Plot(rgb, c[0] + d, c[1], Rgb{0, 200, 0});
        Plot(rgb, c[0], c[1] + d, Rgb{0, 200, 0});
      }
    }
  }
  std::string written;
  collected.ok &= WriteRgb((collected.folder / "minutiae.png").string(), kCanvasWidth,
                           kCanvasHeight, rgb, written);
  if (!collected.ok) {
    error = "could not write every file into " + folder;
    return -1;
  }
  return result;
}

}  // namespace vantrel::tools
