// Blank check, segmentation, pre-filter and acceptance.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "reader/extract/extract_context.h"
#include "reader/extract/segment.h"

namespace vantrel::extract {
namespace {

using Canvas = std::vector<uint8_t>;

Canvas Flat(uint8_t v) { return Canvas(kCanvasBytes, v); }

// Pixel-level checkerboard (0 / 255) over block rows r0..r1 and columns c0..c1: the
// variance of every such block is far above any threshold.
void Texture(Canvas& canvas, int r0, int r1, int c0, int c1) {
  for (int y = 8 * r0; y < 8 * (r1 + 1); ++y) {
    for (int x = 8 * c0; x < 8 * (c1 + 1); ++x) canvas[y * kCanvasWidth + x] = ((x + y) & 1) ? 255 : 0;
  }
}

int ForegroundBlocks(const ExtractionContext& ctx) {
  int n = 0;
  for (const auto& row : ctx.block_mask) {
    for (uint8_t b : row) n += b == 0;
  }
  return n;
}

TEST(BlockStats, MeanAndVarianceAreShiftedSums) {
  Canvas canvas = Flat(0);
  // Half the square 16, half 0: mean 8, every deviation 8, variance 64.
  for (int y = 0; y < 8; ++y) {
    for (int x = 0; x < 4; ++x) canvas[(10 + y) * kCanvasWidth + 20 + x] = 16;
  }
  int mean = -1, variance = -1;
  BlockStats(&canvas[10 * kCanvasWidth + 20], &mean, &variance);
  EXPECT_EQ(mean, 8);
  EXPECT_EQ(variance, 64);
  // The mean truncates: 63 pixels of 0 and one of 127 give mean 1, and the variance
  // counts deviations from that truncated mean: (63 x 1 + 126 x 126) >> 6 = 249.
  canvas = Flat(0);
  canvas[0] = 127;
  BlockStats(canvas.data(), &mean, &variance);
  EXPECT_EQ(mean, 1);
  EXPECT_EQ(variance, 249);
}

TEST(BlankCheck, EmptySensorIsBlank) {
  // The canvas border of 10 around a bright, flat image: the corner squares start at
  // (1, 1) and see a little of the border, the centre squares none of it.
  Canvas canvas = Flat(10);
  for (int y = 6; y <= 280; ++y) {
    for (int x = 23; x <= 231; ++x) canvas[y * kCanvasWidth + x] = 230;
  }
  EXPECT_TRUE(IsBlankImage(canvas.data()));
  ExtractionContext ctx{};
  Canvas out = Flat(0);
  EXPECT_EQ(PrepareImage(canvas.data(), out.data(), ctx), 0);
  // Rejected before anything is written.
  EXPECT_EQ(ForegroundBlocks(ctx), kBlocks);
  EXPECT_EQ(out, Flat(0));
}

TEST(BlankCheck, MeanMustExceed180AndTheCentreBeFlat) {
  EXPECT_TRUE(IsBlankImage(Flat(181).data()));
  EXPECT_FALSE(IsBlankImage(Flat(180).data()));
  // A textured centre on a bright sensor is a finger, not a blank.
  Canvas canvas = Flat(240);
  Texture(canvas, 12, 13, 10, 11);
  EXPECT_FALSE(IsBlankImage(canvas.data()));
}

TEST(BlankCheck, CentreTextureNotAboveCornerTextureIsBlank) {
  // Mild texture of variance 64 everywhere: Vc = 64 < 200 and Vc - 8 Vk = -448 <= 40.
  Canvas canvas = Flat(0);
  for (int y = 0; y < kCanvasHeight; ++y) {
    for (int x = 0; x < kCanvasWidth; ++x) canvas[y * kCanvasWidth + x] = (x & 1) ? 200 : 184;
  }
  EXPECT_TRUE(IsBlankImage(canvas.data()));
  // The same texture in the centre only: Vk = 0 and Vc - 0 = 64 > 40, not blank.
  Canvas centre = Flat(192);
  for (int y = 90; y < 220; ++y) {
    for (int x = 80; x < 190; ++x) centre[y * kCanvasWidth + x] = (x & 1) ? 200 : 184;
  }
  EXPECT_FALSE(IsBlankImage(centre.data()));
}

TEST(SegmentForeground, UniformCanvasHasNoForegroundAndIsRejected) {
  const Canvas canvas = Flat(180);
  ExtractionContext ctx{};
  Canvas out = Flat(0);
  EXPECT_EQ(PrepareImage(canvas.data(), out.data(), ctx), 0);
  EXPECT_EQ(ForegroundBlocks(ctx), 0);
  EXPECT_EQ(ctx.foreground_percent, 0);
  EXPECT_EQ(ctx.foreground_centre_x, 0);
  EXPECT_EQ(ctx.foreground_centre_y, 0);
  // The pre-filter still ran: a flat canvas stays flat.
  EXPECT_EQ(out, canvas);
}

TEST(SegmentForeground, RowFillFallsBackToColumn15) {
  // Foreground only in block rows 5..20, columns 3..13. Closing removes the rectangle's
  // four corners; the right-hand scan of every row finds nothing in 14..31 and fills up
  // to column 15.
  Canvas canvas = Flat(128);
  Texture(canvas, 5, 20, 3, 13);
  ExtractionContext ctx{};
  SegmentForeground(canvas.data(), ctx);
  for (int r = 6; r <= 19; ++r) {
    for (int c = 3; c <= 15; ++c) EXPECT_EQ(ctx.block_mask[r][c], 0) << r << "," << c;
    EXPECT_EQ(ctx.block_mask[r][16], 1) << r;
    EXPECT_EQ(ctx.block_mask[r][2], 1) << r;
  }
  // Corner rows start one block in, since (5, 3) and (20, 3) were closed away.
  EXPECT_EQ(ctx.block_mask[5][3], 1);
  EXPECT_EQ(ctx.block_mask[5][4], 0);
  EXPECT_EQ(ctx.block_mask[5][15], 0);
  EXPECT_EQ(ctx.block_mask[20][3], 1);
  EXPECT_EQ(ctx.block_mask[4][8], 1);
  EXPECT_EQ(ctx.block_mask[21][8], 1);
  // 14 rows of 13 and 2 rows of 12 blocks.
  const int n = 14 * 13 + 2 * 12;
  EXPECT_EQ(ForegroundBlocks(ctx), n);
  EXPECT_EQ(ctx.foreground_percent, n * 100 / 1020);
}

TEST(SegmentForeground, CentreIsTheMeanBlockTimes8Plus4) {
  Canvas canvas = Flat(128);
  Texture(canvas, 10, 25, 8, 23);
  ExtractionContext ctx{};
  SegmentForeground(canvas.data(), ctx);
  // Symmetric rectangle (minus four corners): mean row 17.5 -> 17, column 15.5 -> 15.
  EXPECT_EQ(ctx.foreground_centre_x, 15 * 8 + 4);
  EXPECT_EQ(ctx.foreground_centre_y, 17 * 8 + 4);
}

TEST(SegmentForeground, ColumnFillClosesGapsBetweenOutermostRows) {
  // Two bands, rows 3..10 and 20..30, both columns 3..28: the rows between are filled
  // column by column.
  Canvas canvas = Flat(128);
  Texture(canvas, 3, 10, 3, 28);
  Texture(canvas, 20, 30, 3, 28);
  ExtractionContext ctx{};
  SegmentForeground(canvas.data(), ctx);
  for (int r = 11; r <= 19; ++r) {
    for (int c = 3; c <= 28; ++c) EXPECT_EQ(ctx.block_mask[r][c], 0) << r << "," << c;
  }
}

TEST(PrepareImage, FortyPercentRule) {
  // A rectangle of 26 block columns and h rows loses its four corners to the closing:
  // 26 h - 4 foreground blocks. h = 16 gives 412 (40 %), h = 15 gives 386 (37 %).
  for (int h : {15, 16}) {
    Canvas canvas = Flat(128);
    Texture(canvas, 1, h, 3, 28);
    ExtractionContext ctx{};
    Canvas out(kCanvasBytes, 0);
    const int accepted = PrepareImage(canvas.data(), out.data(), ctx);
    EXPECT_EQ(ForegroundBlocks(ctx), 26 * h - 4) << h;
    EXPECT_EQ(ctx.foreground_percent, (26 * h - 4) * 100 / 1020) << h;
    EXPECT_EQ(accepted, h == 16 ? 1 : 0) << h;
  }
}

TEST(SegmentForeground, OnlyColumns3To28OfTheInnerRowsCanStartForeground) {
  // Texture everywhere: blocks start foreground only in rows 1..34, columns 3..28; the
  // closing takes the four corners and nothing grows into columns 0..2 or 29..31.
  Canvas canvas = Flat(0);
  Texture(canvas, 0, 35, 0, 31);
  ExtractionContext ctx{};
  SegmentForeground(canvas.data(), ctx);
  for (int r = 0; r < kBlockRows; ++r) {
    for (int c = 0; c < kBlockColumns; ++c) {
      const bool corner = (r == 1 || r == 34) && (c == 3 || c == 28);
      const bool inner = r >= 1 && r <= 34 && c >= 3 && c <= 28 && !corner;
      ASSERT_EQ(ctx.block_mask[r][c], inner ? 0 : 1) << r << "," << c;
    }
  }
  // The percentage is relative to 1020 inner blocks: 880 x 100 / 1020.
  EXPECT_EQ(ctx.foreground_percent, 86);
}

TEST(PreFilter, BordersAreCopiedAndFlatAreasKept) {
  std::mt19937 rng(7);
  Canvas src(kCanvasBytes);
  for (auto& p : src) p = static_cast<uint8_t>(rng());
  Canvas dst(kCanvasBytes, 0);
  PreFilter(src.data(), dst.data());
  for (int x = 0; x < kCanvasWidth; ++x) {
    for (int y : {0, 1, 286, 287}) ASSERT_EQ(dst[y * kCanvasWidth + x], src[y * kCanvasWidth + x]);
  }
  for (int y = 0; y < kCanvasHeight; ++y) {
    for (int x : {0, 1, 254, 255}) ASSERT_EQ(dst[y * kCanvasWidth + x], src[y * kCanvasWidth + x]);
  }
  const Canvas flat = Flat(201);
  PreFilter(flat.data(), dst.data());
  EXPECT_EQ(dst, flat);
}

TEST(PreFilter, ImpulseSpreadsWithWeights1_2_4_2_1) {
  Canvas src = Flat(0);
  src[100 * kCanvasWidth + 100] = 250;
  Canvas dst(kCanvasBytes, 0xFF);
  PreFilter(src.data(), dst.data());
  auto at = [&](int x, int y) { return int(dst[y * kCanvasWidth + x]); };
  EXPECT_EQ(at(100, 100), 250 * 16 / 100);  // 40
  EXPECT_EQ(at(101, 100), 250 * 8 / 100);   // 20
  EXPECT_EQ(at(100, 98), 250 * 4 / 100);    // 10
  EXPECT_EQ(at(101, 101), 250 * 4 / 100);
  EXPECT_EQ(at(102, 102), 250 / 100);       // 2, truncated
  EXPECT_EQ(at(103, 100), 0);
  EXPECT_EQ(at(100, 103), 0);
}

}  // namespace
}  // namespace vantrel::extract
