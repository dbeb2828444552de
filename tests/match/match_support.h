// Builders of small records for the matcher and synthesis tests.
#pragma once

#include <array>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "reader/record/record.h"

namespace vantrel::match::testing {

using Bytes = std::array<uint8_t, record::kRecordBytes>;

struct M {
  int x, y, direction, reliability, type;
};

// Unsealed record of the minutiae; every block foreground unless a mask is given.
inline Bytes MakeRecord(const std::vector<M>& minutiae, uint8_t quality = 50,
                        const uint8_t (*mask)[record::kBlockColumns] = nullptr) {
  record::RecordContent content;
  content.quality = quality;
  content.count = static_cast<int>(minutiae.size());
  for (size_t i = 0; i < minutiae.size() && i < 50; ++i) {
    content.minutiae[i].x = minutiae[i].x;
    content.minutiae[i].y = minutiae[i].y;
    content.minutiae[i].direction = minutiae[i].direction;
    content.minutiae[i].reliability = minutiae[i].reliability;
    content.minutiae[i].type = minutiae[i].type;
  }
  if (mask)
    for (int r = 0; r < record::kBlockRows; ++r)
      for (int c = 0; c < record::kBlockColumns; ++c) content.block_mask[r][c] = mask[r][c];
  Bytes out{};
  record::BuildRecord(content, out.data());
  return out;
}

inline Bytes Sealed(Bytes unsealed) {
  record::SealRecord(unsealed.data());
  return unsealed;
}

// A mask that is background everywhere except the 16 x 16 map cells holding the points.
struct Mask {
  uint8_t cells[record::kBlockRows][record::kBlockColumns];
};
inline Mask ForegroundOnlyAround(const std::vector<M>& points) {
  Mask m;
  for (auto& row : m.cells)
    for (auto& c : row) c = 1;
  for (const M& p : points) {
    const int j = (p.x / 8 - 1) / 2, i = (p.y / 8 - 1) / 2;
    for (int r = 1 + 2 * i; r <= 2 + 2 * i; ++r)
      for (int c = 1 + 2 * j; c <= 2 + 2 * j; ++c)
        if (r >= 0 && r < record::kBlockRows && c >= 0 && c < record::kBlockColumns)
          m.cells[r][c] = 0;
  }
  return m;
}
inline Mask ForegroundRows(int first_pixel_row, int last_pixel_row) {
  Mask m;
  for (int r = 0; r < record::kBlockRows; ++r)
    for (int c = 0; c < record::kBlockColumns; ++c)
      m.cells[r][c] = (r * 8 >= first_pixel_row && r * 8 + 7 <= last_pixel_row) ? 0 : 1;
  return m;
}

// A plausible finger: minutiae on a jittered grid (spacing about 30 px, never closer than
// 21 px), random directions and types, inside the given pixel box.
inline std::vector<M> RandomFinger(std::mt19937& rng, int x0, int y0, int x1, int y1,
                                   int max_count = 50) {
  std::vector<M> out;
  std::uniform_int_distribution<int> jitter(-4, 4), dir(0, 359), rel(6, 15), type(0, 1);
  for (int y = y0; y <= y1; y += 30)
    for (int x = x0 + ((y / 30) % 2) * 15; x <= x1; x += 30) {
      if (static_cast<int>(out.size()) >= max_count) return out;
      out.push_back(M{x + jitter(rng), y + jitter(rng), dir(rng), rel(rng), type(rng)});
    }
  return out;
}

// The finger moved by a rigid rotation (degrees) about (cx, cy) and a shift.
inline std::vector<M> Moved(const std::vector<M>& in, double degrees, int cx, int cy, int sx,
                            int sy) {
  const double a = degrees * std::acos(-1.0) / 180.0;
  std::vector<M> out;
  for (const M& m : in) {
    const double dx = m.x - cx, dy = m.y - cy;
    M n = m;
    n.x = static_cast<int>(std::lround(cx + dx * std::cos(a) - dy * std::sin(a))) + sx;
    n.y = static_cast<int>(std::lround(cy + dx * std::sin(a) + dy * std::cos(a))) + sy;
    n.direction = ((m.direction + static_cast<int>(std::lround(degrees))) % 360 + 360) % 360;
    out.push_back(n);
  }
  return out;
}

}  // namespace vantrel::match::testing
