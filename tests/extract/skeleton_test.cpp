#include "reader/extract/skeleton.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <random>
#include <vector>

#include "reader/cpu/vector_forms.h"
#include "reader/extract/minutiae.h"
#include "reader/extract/neighbour_planes.h"
#include "reader/extract/skeleton_sse2.h"
#include "reader/extract/skeleton_rows.h"

namespace vantrel::extract {
namespace {

using Canvas = std::vector<uint8_t>;

Canvas Blank(uint8_t value = 0) { return Canvas(kCanvasBytes, value); }

uint8_t& At(Canvas& c, int x, int y) { return c[y * kCanvasWidth + x]; }

void Line(Canvas& c, int x0, int y0, int x1, int y1) {
  const int steps = std::max(std::abs(x1 - x0), std::abs(y1 - y0));
  for (int i = 0; i <= steps; ++i) {
    At(c, x0 + (steps ? (x1 - x0) * i / steps : 0), y0 + (steps ? (y1 - y0) * i / steps : 0)) = 1;
  }
}

int CountSet(const Canvas& c) {
  int n = 0;
  for (uint8_t v : c) n += v != 0;
  return n;
}

ExtractionContext ContextWithCode(uint8_t code) {
  ExtractionContext context{};
  for (auto& row : context.block_direction) {
    for (auto& v : row) v = code;
  }
  return context;
}

TEST(Binarise, ThresholdsAndBackgroundWin) {
  Canvas enhanced = Blank(128);
  Canvas binary = Blank(7);
  ExtractionContext context = ContextWithCode(1);
  context.block_direction[5][5] = 0;  // background block
  At(enhanced, 44, 44) = 3;             // dark, but in the background block
  At(enhanced, 100, 100) = 251;         // brighter than 250 whatever the neighbours
  At(enhanced, 100, 98) = 255;
  At(enhanced, 100, 102) = 255;
  At(enhanced, 120, 120) = 9;           // darker than 10 whatever the neighbours
  At(enhanced, 120, 118) = 0;
  At(enhanced, 120, 122) = 0;
  Binarise(enhanced.data(), binary.data(), context);
  EXPECT_EQ(At(binary, 44, 44), 0);
  EXPECT_EQ(At(binary, 40, 40), 0);
  EXPECT_EQ(At(binary, 100, 100), 0);
  EXPECT_EQ(At(binary, 120, 120), 1);
  // A flat area is "not brighter than its neighbours": ridge.
  EXPECT_EQ(At(binary, 200, 200), 1);
}

TEST(Binarise, ComparesAcrossTheRidgeOfTheBlockCode) {
  Canvas enhanced = Blank(100);
  // Code 1 samples two rows up and down, code 5 two columns left and right.
  At(enhanced, 60, 60) = 110;
  At(enhanced, 60, 58) = 130;
  At(enhanced, 60, 62) = 90;   // mean 110: not brighter -> ridge
  At(enhanced, 70, 60) = 111;
  At(enhanced, 70, 58) = 130;
  At(enhanced, 70, 62) = 90;   // one brighter than the mean -> valley
  Canvas horizontal = Blank();
  Binarise(enhanced.data(), horizontal.data(), ContextWithCode(1));
  EXPECT_EQ(At(horizontal, 60, 60), 1);
  EXPECT_EQ(At(horizontal, 70, 60), 0);

  Canvas enhanced5 = Blank(100);
  At(enhanced5, 60, 60) = 120;
  At(enhanced5, 58, 60) = 130;
  At(enhanced5, 62, 60) = 130;  // darker than both column neighbours -> ridge
  At(enhanced5, 60, 58) = 50;   // rows do not matter for code 5
  Canvas vertical = Blank();
  Binarise(enhanced5.data(), vertical.data(), ContextWithCode(5));
  EXPECT_EQ(At(vertical, 60, 60), 1);
  At(enhanced5, 62, 60) = 90;
  At(enhanced5, 58, 60) = 90;
  Binarise(enhanced5.data(), vertical.data(), ContextWithCode(5));
  EXPECT_EQ(At(vertical, 60, 60), 0);
}

// The SSE2 run against the plain one for every centre and first sample, with second
// samples around the first, its mirror and both ends, over runs of 16 and 8 pixels.
TEST(Binarise, BothRunFormsAgreeOnEveryValue) {
#if !defined(VANTREL_SSE2)
  GTEST_SKIP() << "built without the SSE2 forms";
#else
  uint8_t v[24], a[24], b[24], plain_out[24], sse2_out[24];
  for (int centre = 0; centre < 256; ++centre) {
    for (int first = 0; first < 256; ++first) {
      for (int i = 0; i < 24; ++i) {
        const int seconds[6] = {first - 1, first, first + 1, 255 - first, 0, 255};
        v[i] = static_cast<uint8_t>(centre);
        a[i] = static_cast<uint8_t>(first);
        b[i] = static_cast<uint8_t>(std::clamp(seconds[i % 6] + i / 6 % 2, 0, 255));
      }
      plain::BinariseRun(v, a, b, plain_out, 24);
      sse2::BinariseRun(v, a, b, sse2_out, 24);
      ASSERT_TRUE(std::equal(plain_out, plain_out + 24, sse2_out)) << centre << " " << first;
    }
  }
#endif
}

TEST(Binarise, SamplesBeyondTheCanvasReadZero) {
  Canvas enhanced = Blank(100);
  Canvas binary = Blank();
  // Row 0 with code 1: the upper sample lies before the canvas and reads 0, so a
  // pixel of 100 with 100 below compares 0 + 100 - 200 < 0: valley.
  Binarise(enhanced.data(), binary.data(), ContextWithCode(1));
  EXPECT_EQ(At(binary, 10, 0), 0);
  EXPECT_EQ(At(binary, 10, 287), 0);
  EXPECT_EQ(At(binary, 10, 2), 1);
}

TEST(FillHoles, ClosesARingAroundOnePixel) {
  Canvas c = Blank();
  for (int y = 49; y <= 51; ++y) {
    for (int x = 99; x <= 101; ++x) At(c, x, y) = 1;
  }
  At(c, 100, 50) = 0;
  FillHoles(c.data());
  EXPECT_EQ(At(c, 100, 50), 1);
  EXPECT_EQ(CountSet(c), 9);
}

TEST(FillHoles, ClosesASmallHoleInsideAThickRidge) {
  Canvas c = Blank();
  for (int y = 40; y <= 50; ++y) {
    for (int x = 40; x <= 50; ++x) At(c, x, y) = 1;
  }
  for (int y = 44; y <= 46; ++y) {
    for (int x = 44; x <= 46; ++x) At(c, x, y) = 0;
  }
  FillHoles(c.data());
  EXPECT_EQ(CountSet(c), 121);
}

TEST(FillHoles, LeavesLargeHolesAndOpenNotchesAlone) {
  Canvas c = Blank();
  // A 14 x 14 hole needs a contour of far more than 40 pixels.
  for (int y = 100; y <= 119; ++y) {
    for (int x = 100; x <= 119; ++x) At(c, x, y) = 1;
  }
  for (int y = 103; y <= 116; ++y) {
    for (int x = 103; x <= 116; ++x) At(c, x, y) = 0;
  }
  // A notch open at the bottom is a valley, not a hole.
  for (int y = 30; y <= 36; ++y) {
    for (int x = 30; x <= 36; ++x) At(c, x, y) = 1;
  }
  for (int y = 33; y <= 36; ++y) At(c, 33, y) = 0;
  const Canvas before = c;
  FillHoles(c.data());
  EXPECT_EQ(c, before);
}

TEST(Thin, TwoPixelRidgeBecomesOnePixelLine) {
  for (bool vertical : {false, true}) {
    Canvas c = Blank();
    for (int i = 40; i <= 120; ++i) {
      for (int t = 100; t <= 101; ++t) {
        if (vertical) At(c, t, i) = 1; else At(c, i, t) = 1;
      }
    }
    Thin(c.data());
    for (uint8_t v : c) ASSERT_LE(v, 1);
    for (int i = 44; i <= 116; ++i) {
      int across = 0;
      for (int t = 98; t <= 103; ++t) across += vertical ? At(c, t, i) : At(c, i, t);
      EXPECT_EQ(across, 1) << "at " << i << (vertical ? " vertical" : " horizontal");
    }
    // Nothing grows outside the ridge.
    int outside = 0;
    for (int y = 0; y < kCanvasHeight; ++y) {
      for (int x = 0; x < kCanvasWidth; ++x) {
        const int along = vertical ? y : x, across = vertical ? x : y;
        if (At(c, x, y) && (along < 40 || along > 120 || across < 100 || across > 101)) ++outside;
      }
    }
    EXPECT_EQ(outside, 0);
  }
}

TEST(Thin, ThickBlobKeepsItsLengthAndLosesItsWidth) {
  Canvas c = Blank();
  for (int y = 60; y <= 64; ++y) {
    for (int x = 50; x <= 150; ++x) At(c, x, y) = 1;
  }
  Thin(c.data());
  for (int x = 60; x <= 140; ++x) {
    int across = 0;
    for (int y = 55; y <= 70; ++y) across += At(c, x, y);
    EXPECT_EQ(across, 1) << "column " << x;
  }
}

TEST(Thin, OnePixelLinesStayAsTheyAre) {
  Canvas c = Blank();
  Line(c, 30, 30, 90, 30);
  Line(c, 30, 60, 80, 110);
  Line(c, 150, 20, 150, 90);
  const Canvas before = c;
  Thin(c.data());
  EXPECT_EQ(c, before);
}

TEST(Thin, ClearsColumnZeroUsedForMarkers) {
  Canvas c = Blank();
  for (int y = 0; y < kCanvasHeight; ++y) At(c, 0, y) = 1;
  Thin(c.data());
  EXPECT_EQ(CountSet(c), 0);
}

// The logic forms of the per-pixel rules, fed all 256 neighbour patterns at once
// (pattern 64 w + j in bit j of word w), against the rules pattern by pattern: the
// thinning deletion sets, the neighbour count and the ring-neighbour pairs of ThinPairs.
TEST(NeighbourPlanes, LogicMatchesThePerPixelRulesForEveryPattern) {
  int deleted[2] = {};
  for (int w = 0; w < 4; ++w) {
    uint64_t plane[8] = {};
    for (int j = 0; j < 64; ++j) {
      for (int k = 0; k < 8; ++k) plane[k] |= static_cast<uint64_t>((64 * w + j) >> k & 1) << j;
    }
    const NeighbourPlanes p{plane[0], plane[1], plane[2], plane[3],
                            plane[4], plane[5], plane[6], plane[7]};
    const uint64_t thin[2] = {ThinDeletesAll(0, p), ThinDeletesAll(1, p)};
    const uint64_t at_most_one = AtMostOneNeighbour(p), pairs = AdjacentNeighbours(p);
    const CountPlanes count = NeighbourCounts(p);
    for (int j = 0; j < 64; ++j) {
      const int pattern = 64 * w + j;
      auto bit = [j](uint64_t v) { return static_cast<int>(v >> j & 1); };
      for (int pass = 0; pass < 2; ++pass) {
        ASSERT_EQ(bit(thin[pass]) != 0, ThinDeletes(pass, pattern)) << pass << " " << pattern;
        deleted[pass] += ThinDeletes(pass, pattern);
      }
      const int n = std::popcount(static_cast<unsigned>(pattern));
      ASSERT_EQ(bit(count.ones) + 2 * bit(count.twos) + 4 * bit(count.fours) + 8 * bit(count.eights), n)
          << pattern;
      ASSERT_EQ(bit(at_most_one) != 0, n <= 1) << pattern;
      ASSERT_EQ(bit(pairs) != 0, ThinPairs(static_cast<uint8_t>(pattern)).found) << pattern;
    }
  }
  EXPECT_EQ(deleted[0], 70);
  EXPECT_EQ(deleted[1], 70);
}

// Both forms of turning bytes into row bits (the chosen one and the plain one), against
// the test of each byte, on bytes with and without their low bit and high bit.
TEST(NeighbourPlanes, RowBitsFollowTheBytes) {
  constexpr uint8_t kValues[] = {0, 1, 2, 3, 127, 128, 129, 254, 255};
  uint8_t bytes[64 * 9];
  for (int i = 0; i < 64 * 9; ++i) bytes[i] = kValues[(i * 7 + i / 9) % 9];
  using BitsOf = uint64_t (*)(const uint8_t*);
  struct Form {
    BitsOf chosen, plain;
    bool (*rule)(uint8_t);
  };
  const Form forms[] = {
      {LowBitsOf64, plain::LowBitsOf64, [](uint8_t v) { return (v & 1) != 0; }},
      {NonZeroOf64, plain::NonZeroOf64, [](uint8_t v) { return v != 0; }},
      {OnesOf64, plain::OnesOf64, [](uint8_t v) { return v == 1; }},
  };
  for (const Form& form : forms) {
    for (int start = 0; start <= 64 * 8; start += 64) {
      uint64_t expected = 0;
      for (int j = 0; j < 64; ++j) expected |= static_cast<uint64_t>(form.rule(bytes[start + j])) << j;
      ASSERT_EQ(form.chosen(bytes + start), expected) << start;
      ASSERT_EQ(form.plain(bytes + start), expected) << start;
    }
  }
}

// The vector forms of a thinning pass's row answers against the plain one, on random
// rows (dense and sparse, deleted pixels among the set ones) and both passes.
TEST(Thin, RowAnswersOfEveryFormAgree) {
  using Form = bool (*)(const ThinRow&, const ThinRow&, const ThinRow&, ThinAnswers&);
  struct Named {
    const char* name;
    Form pass[2];
  };
  std::vector<Named> forms;
#if defined(VANTREL_SSE2)
  forms.push_back({"sse2", {sse2::ThinAnswersOf<0>, sse2::ThinAnswersOf<1>}});
#endif
  if (cpu::RunsAvx2()) forms.push_back({"avx2", {avx2::ThinAnswersOf0, avx2::ThinAnswersOf1}});
  if (forms.empty()) GTEST_SKIP() << "no vector forms built or run here";
  const Form plain_form[2] = {plain::ThinAnswersOf<0>, plain::ThinAnswersOf<1>};
  std::mt19937_64 rng(41);
  int compared = 0;
  for (int round = 0; round < 400; ++round) {
    ThinRow rows[3];
    for (ThinRow& r : rows) {
      for (int i = 0; i < kRowWords; ++i) {
        const uint64_t a = rng(), b = rng();
        r.set[i] = round % 2 ? a | b : a & b;
        r.ridge[i] = r.set[i] & (round % 3 ? rng() | rng() : ~0ULL);
      }
    }
    for (int pass = 0; pass < 2; ++pass) {
      ThinAnswers expected{};
      const bool p = plain_form[pass](rows[0], rows[1], rows[2], expected);
      for (const Named& form : forms) {
        ThinAnswers got{};
        ASSERT_EQ(p, form.pass[pass](rows[0], rows[1], rows[2], got)) << form.name << " " << round;
        if (!p) continue;
        ++compared;
        for (int i = 0; i < kRowWords; ++i) {
          ASSERT_EQ(expected.deleted[i], got.deleted[i]) << form.name << " " << round << " " << i;
          ASSERT_EQ(expected.chained[i], got.chained[i]) << form.name << " " << round << " " << i;
          // Only read for chained pixels.
          ASSERT_EQ(expected.without_left[i] & got.chained[i], got.without_left[i] & got.chained[i])
              << form.name << " " << round << " " << i;
        }
      }
    }
  }
  EXPECT_GT(compared, 600);
}

// A straight ridge with a step at (80, 100) and a diagonal branch of the given length
// leaving the step pixel up and to the right.
Canvas RidgeWithBranch(int branch) {
  Canvas c = Blank();
  Line(c, 40, 100, 80, 100);
  Line(c, 81, 101, 140, 101);
  for (int i = 1; i <= branch; ++i) At(c, 80 + i, 100 - i) = 1;
  return c;
}

TEST(RemoveSpurs, ShortBranchGoesLongBranchStays) {
  Canvas five = RidgeWithBranch(5);
  const int ridge = CountSet(RidgeWithBranch(0));
  RemoveSpurs(five.data());
  EXPECT_EQ(CountSet(five), ridge);
  EXPECT_EQ(five, RidgeWithBranch(0));

  Canvas eight = RidgeWithBranch(8);
  RemoveSpurs(eight.data());
  EXPECT_EQ(eight, RidgeWithBranch(0));

  Canvas nine = RidgeWithBranch(9);
  const Canvas before = nine;
  RemoveSpurs(nine.data());
  EXPECT_EQ(nine, before);
}

TEST(RemoveSpurs, IsolatedSegmentsUpToEightPixelsVanish) {
  Canvas c = Blank();
  Line(c, 20, 20, 27, 20);    // 8 pixels
  Line(c, 20, 40, 28, 40);    // 9 pixels
  Line(c, 60, 60, 64, 64);    // 5 pixels, diagonal
  At(c, 100, 100) = 1;        // a single dot
  Line(c, 0, 120, 5, 120);    // at the left edge
  RemoveSpurs(c.data());
  EXPECT_EQ(CountSet(c), 9);
  EXPECT_EQ(At(c, 20, 40), 1);
  EXPECT_EQ(At(c, 28, 40), 1);
}

TEST(RemoveSpurs, JunctionCornerIsTakenWithTheSpur) {
  // A branch straight up from a horizontal ridge: its last pixel touches three ridge
  // pixels, and the corner it makes goes with it; the ridge stays whole.
  Canvas c = Blank();
  Line(c, 40, 100, 140, 100);
  Line(c, 90, 95, 90, 99);
  RemoveSpurs(c.data());
  Canvas ridge = Blank();
  Line(ridge, 40, 100, 140, 100);
  EXPECT_EQ(c, ridge);
}

}  // namespace
}  // namespace vantrel::extract
