#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "match_support.h"
#include "reader/match/matcher.h"
#include "reader/match/quality.h"
#include "reader/match/synthesis.h"

namespace vantrel::match {
namespace {

using testing::Bytes;
using testing::M;
using testing::MakeRecord;

record::DecodedRecord Decode(const Bytes& unsealed) {
  record::DecodedRecord d;
  record::DecodeRecord(unsealed.data(), d);
  return d;
}

// Synthesises sealed copies of three unsealed records; returns the unsealed template.
int Synthesise(const Bytes& a, const Bytes& b, const Bytes& c, Bytes& out,
               SynthesisReport* report = nullptr) {
  const Bytes sa = testing::Sealed(a), sb = testing::Sealed(b), sc = testing::Sealed(c);
  uint8_t sealed[256];
  uint16_t length = 0;
  const int rc = SynthesiseTemplate(sa.data(), sb.data(), sc.data(), sealed, &length, report);
  if (rc == kSynthesisOk) {
    EXPECT_EQ(length, 256);
    EXPECT_EQ(sealed[0], 0x67);
    EXPECT_EQ(record::UnsealCopy(sealed, out.data()), 0);
  }
  return rc;
}

void ExpectWellFormedTemplate(const Bytes& t) {
  EXPECT_EQ(t[0], 3);
  EXPECT_EQ(t[1], 1);
  EXPECT_LE(t[3], 50);
  EXPECT_EQ(t[4], 0);
  EXPECT_EQ(t[5], 0);
  for (int i = 40; i < 56; ++i) EXPECT_EQ(t[i], 0) << i;
  const record::DecodedRecord d = Decode(t);
  for (int i = 0; i < d.usable; ++i) {
    EXPECT_GE(d.minutiae[i].x, 9);
    EXPECT_LE(d.minutiae[i].x, 247);
    EXPECT_GE(d.minutiae[i].y, 9);
    EXPECT_LE(d.minutiae[i].y, 279);
    EXPECT_LT(d.minutiae[i].direction, 360);
  }
  for (int i = 56 + 4 * t[3]; i < 256; ++i) EXPECT_EQ(t[i], 0) << i;
}

TEST(CircularMeans, TwoAndThree) {
  EXPECT_EQ(MeanOfTwo(10, 20), 15);
  EXPECT_EQ(MeanOfTwo(350, 10), 0);
  EXPECT_EQ(MeanOfTwo(359, 0), 0);     // (-1 + 0) div 2 truncates to 0
  EXPECT_EQ(MeanOfTwo(300, 100), 20);  // -60 and 100
  EXPECT_EQ(MeanOfTwo(0, 181), 271);   // (0 - 179) div 2 = -89, plus 360
  EXPECT_EQ(MeanOfTwo(0, 180), 90);
  EXPECT_EQ(MeanOfThree(10, 20, 30), 20);
  EXPECT_EQ(MeanOfThree(350, 0, 10), 0);
  EXPECT_EQ(MeanOfThree(350, 355, 359), 354);
  EXPECT_EQ(MeanOfThree(340, 350, 10), 354);  // (-20 - 10 + 10) div 3 = -6, plus 360
}

TEST(HullMap, SquareIsDrawnAndFilled) {
  const int xs[] = {100, 16, 200, 16, 200, 60}, ys[] = {100, 16, 16, 200, 200, 150};
  uint8_t grid[kHullRows][kHullColumns];
  BuildHullMap(xs, ys, 6, 256, 288, grid);
  for (int r = 0; r < kHullRows; ++r)
    for (int c = 0; c < kHullColumns; ++c) {
      const bool inside = r >= 2 && r <= 25 && c >= 2 && c <= 25;
      EXPECT_EQ(grid[r][c], inside ? 0 : 1) << r << "," << c;
    }
}

TEST(HullMap, RowFillSearchesFromTheMiddle) {
  // A triangle in the right half: each row is filled from column 17 (W/2 + 1, no drawn
  // cell in 0..16) to its last drawn cell.
  const int xs[] = {168, 232, 200}, ys[] = {80, 80, 160};
  uint8_t grid[kHullRows][kHullColumns];
  BuildHullMap(xs, ys, 3, 256, 288, grid);
  EXPECT_EQ(grid[12][17], 0);
  EXPECT_EQ(grid[12][20], 0);
  EXPECT_EQ(grid[12][16], 1);
  EXPECT_EQ(grid[12][31], 1);
  EXPECT_EQ(grid[5][20], 1);
}

TEST(HullMap, DegenerateAndHostilePoints) {
  uint8_t grid[kHullRows][kHullColumns];
  int zeros = 0;
  const auto count = [&] {
    zeros = 0;
    for (auto& row : grid)
      for (uint8_t c : row) zeros += c == 0;
  };
  BuildHullMap(nullptr, nullptr, 0, 256, 288, grid);
  count();
  EXPECT_EQ(zeros, 0);

  const int one_x[] = {100, 100, 100}, one_y[] = {60, 60, 60};  // one point, repeated
  BuildHullMap(one_x, one_y, 3, 256, 288, grid);
  count();
  // Its cell, and the row fill carries it to the last column searched from the middle.
  EXPECT_EQ(zeros, 4);
  for (int c = 12; c <= 15; ++c) EXPECT_EQ(grid[7][c], 0);

  const int line_x[] = {16, 48, 80, 112}, line_y[] = {16, 16, 16, 16};  // a segment
  BuildHullMap(line_x, line_y, 4, 256, 288, grid);
  EXPECT_EQ(grid[2][2], 0);
  EXPECT_EQ(grid[2][14], 0);
  EXPECT_EQ(grid[3][5], 1);

  // Points past the grid and a huge area size never write outside it.
  const int far_x[] = {511, 0, 511, 300}, far_y[] = {511, 511, 0, 400};
  BuildHullMap(far_x, far_y, 4, 2040, 2040, grid);
  BuildHullMap(far_x, far_y, 4, 8, 8, grid);
  count();
  EXPECT_LE(zeros, 1);
}

// Every hull turn strictly convex, every input point inside or on the hull, every vertex
// an input point; checked on random sets, many with repeated and collinear points.
TEST(HullChain, ConvexAndHoldsEveryPoint) {
  std::mt19937 random(12);
  for (int trial = 0; trial < 3000; ++trial) {
    const int n = 3 + static_cast<int>(random() % 48);
    const int span = trial % 3 == 0 ? 6 : (trial % 3 == 1 ? 60 : 256);
    std::vector<HullPoint> pts(n);
    for (HullPoint& p : pts) p = {static_cast<int>(random() % span), static_cast<int>(random() % span)};
    std::stable_sort(pts.begin(), pts.end(), [](const HullPoint& a, const HullPoint& b) {
      return a.y != b.y ? a.y < b.y : a.x < b.x;
    });
    HullPoint chain[kHullChainRoom];
    const int m = HullChain(pts.data(), n, chain);
    const auto cross = [](HullPoint a, HullPoint b, HullPoint c) {
      return (b.x - a.x) * (c.y - a.y) - (c.x - a.x) * (b.y - a.y);
    };
    ASSERT_GE(m, 1);
    ASSERT_EQ(chain[0].x, chain[m - 1].x);
    ASSERT_EQ(chain[0].y, chain[m - 1].y);
    bool collinear = true;
    for (const HullPoint& p : pts) collinear = collinear && cross(pts[0], pts[n - 1], p) == 0;
    if (collinear) continue;  // the segment case has its own test
    ASSERT_GE(m, 4) << "trial " << trial;
    const int vertices = m - 1;
    for (int v = 0; v < vertices; ++v) {
      const HullPoint a = chain[v], b = chain[v + 1], c = chain[(v + 2) % vertices];
      ASSERT_GT(cross(a, b, c), 0) << "trial " << trial << " turn " << v;
      for (const HullPoint& p : pts) ASSERT_GE(cross(a, b, p), 0) << "trial " << trial;
      ASSERT_TRUE(std::any_of(pts.begin(), pts.end(), [&](HullPoint p) {
        return p.x == a.x && p.y == a.y;
      }));
    }
  }
}

// (179, 30) lies inside the hull of the other three: it must neither stay a vertex nor
// change the map.
TEST(HullMap, InnerPointLeavesTheHull) {
  const int xs[] = {141, 179, 202, 58}, ys[] = {25, 30, 32, 56};
  const int hull_x[] = {141, 202, 58}, hull_y[] = {25, 32, 56};
  uint8_t with[kHullRows][kHullColumns], without[kHullRows][kHullColumns];
  BuildHullMap(xs, ys, 4, 256, 288, with);
  BuildHullMap(hull_x, hull_y, 3, 256, 288, without);
  for (int r = 0; r < kHullRows; ++r)
    for (int c = 0; c < kHullColumns; ++c) EXPECT_EQ(with[r][c], without[r][c]) << r << "," << c;
}

TEST(HullMap, GrowingPassesWidenTheInsideByTwoCells) {
  uint8_t grid[kHullRows][kHullColumns];
  std::memset(grid, 1, sizeof(grid));
  grid[10][10] = 0;
  grid[0][0] = 0;
  GrowHullMap(grid);
  for (int r = 0; r < kHullRows; ++r)
    for (int c = 0; c < kHullColumns; ++c) {
      bool inside = r >= 8 && r <= 12 && c >= 8 && c <= 12;
      if (r == 0 && c == 0) inside = true;
      if ((r == 1 || r == 2) && (c == 1 || c == 2)) inside = true;  // grown from the corner
      EXPECT_EQ(grid[r][c], inside ? 0 : 1) << r << "," << c;
    }
}

TEST(Centring, WindowBounds) {
  MergedEntry out[50];
  // x: mean 119, so the entries sit at -119 (kept) and 120 (dropped).
  MergedEntry xs[] = {{0, 100, 5, 7, 1}, {239, 100, 6, 8, 0}};
  ASSERT_EQ(CentreMerged(xs, 2, out), 1);
  EXPECT_EQ(out[0].x, 9);
  EXPECT_EQ(out[0].y, 144);
  EXPECT_EQ(out[0].direction, 5);
  EXPECT_EQ(out[0].reliability, 7);
  EXPECT_EQ(out[0].type, 1);
  // y: mean 135, entries at -135 (kept) and 136 (dropped).
  MergedEntry ys[] = {{50, 0, 0, 0, 0}, {50, 271, 0, 0, 0}};
  ASSERT_EQ(CentreMerged(ys, 2, out), 1);
  EXPECT_EQ(out[0].y, 9);
  // The mirror images: 119 and 135 are kept, -120 and -136 dropped.
  MergedEntry mirror[] = {{0, 100, 0, 0, 0}, {239, 100, 0, 0, 0}, {121, 100, 0, 0, 0}};
  ASSERT_EQ(CentreMerged(mirror, 3, out), 2);  // mean 120: -120 dropped, 119 and 1 kept
  EXPECT_EQ(out[0].x, 247);
  EXPECT_EQ(out[1].x, 129);
  EXPECT_EQ(CentreMerged(nullptr, 0, out), 0);  // nothing to centre, no division
  EXPECT_EQ(CentreMerged(xs, 0, out), 0);
}

TEST(Synthesis, IdenticalCapturesMakeF1TheBaseAndRaiseReliability) {
  std::mt19937 rng(17);
  std::vector<M> finger = testing::RandomFinger(rng, 40, 40, 216, 248, 40);
  for (size_t i = 0; i < finger.size(); ++i) finger[i].reliability = i % 2 ? 15 : 9;
  const Bytes a = MakeRecord(finger, 10), b = MakeRecord(finger, 200), c = MakeRecord(finger, 30);
  Bytes t{};
  SynthesisReport report;
  ASSERT_EQ(Synthesise(a, b, c, t, &report), kSynthesisOk);
  EXPECT_EQ(report.base, 0);
  EXPECT_GT(report.third_pairs, 0);
  EXPECT_EQ(report.triples, static_cast<int>(finger.size()));
  ExpectWellFormedTemplate(t);
  EXPECT_EQ(t[2], 200);  // largest quality of the three
  const record::DecodedRecord d = Decode(t);
  ASSERT_EQ(d.usable, static_cast<int>(finger.size()));
  // The template is the finger moved by one shift (within a pixel of rounding), every
  // minutia a triple: reliability raised by one, 15 stays 15.
  int sum_dx = 0, sum_dy = 0;
  for (int i = 0; i < d.usable; ++i) {
    sum_dx += d.minutiae[i].x - finger[i].x;
    sum_dy += d.minutiae[i].y - finger[i].y;
  }
  const int shift_x = (sum_dx + d.usable / 2) / d.usable, shift_y = (sum_dy + d.usable / 2) / d.usable;
  for (const M& m : finger) {
    bool found = false;
    for (int i = 0; i < d.usable && !found; ++i) {
      const record::Minutia& n = d.minutiae[i];
      if (std::abs(n.x - m.x - shift_x) <= 1 && std::abs(n.y - m.y - shift_y) <= 1) {
        found = true;
        EXPECT_EQ(n.reliability, m.reliability == 15 ? 15 : 10);
        EXPECT_EQ(n.type, m.type);
        EXPECT_LE(CircularDifference(n.direction, m.direction), 1);
      }
    }
    EXPECT_TRUE(found) << m.x << "," << m.y;
  }
}

// The sinks of synthesis and of the core hear every stage in order, and the last report
// they hear is the one the report overloads give.
TEST(Sinks, EveryStageInOrderEndingWithTheFinalReport) {
  std::mt19937 rng(23);
  const Bytes a = MakeRecord(testing::RandomFinger(rng, 40, 40, 216, 248, 30));
  struct Heard {
    std::vector<std::string> stages;
    SynthesisReport last;
    MatchTrace last_trace;
  } heard;
  const SynthesisSink sink{&heard, [](void* user, const char* stage, const SynthesisReport& r) {
                             static_cast<Heard*>(user)->stages.push_back(stage);
                             static_cast<Heard*>(user)->last = r;
                           }};
  uint8_t out[256], again[256];
  ASSERT_EQ(SynthesiseUnsealed(a.data(), a.data(), a.data(), out, &sink), kSynthesisOk);
  const std::vector<std::string> synthesis_stages = {"ChooseBase", "AlignTheOthers", "FindTriples",
      "MergeShared", "AddSingleCaptureMinutiae", "BuildTemplate"};
  EXPECT_EQ(heard.stages, synthesis_stages);
  SynthesisReport report;
  ASSERT_EQ(SynthesiseUnsealed(a.data(), a.data(), a.data(), again, &report), kSynthesisOk);
  EXPECT_EQ(std::memcmp(out, again, sizeof(out)), 0);
  EXPECT_EQ(std::memcmp(&report, &heard.last, sizeof(report)), 0);

  heard.stages.clear();
  const MatchSink match_sink{&heard, [](void* user, const char* stage, const MatchTrace& t) {
                               static_cast<Heard*>(user)->stages.push_back(stage);
                               static_cast<Heard*>(user)->last_trace = t;
                             }};
  Alignment alignment;
  MatchTrace trace;
  const int score = MatchCore(a.data(), a.data(), alignment, &match_sink);
  EXPECT_EQ(MatchCore(a.data(), a.data(), alignment, &trace), score);
  EXPECT_EQ(heard.stages, (std::vector<std::string>{"FillSlots", "ScoreSlots", "CombineSlots"}));
  EXPECT_EQ(std::memcmp(&trace, &heard.last_trace, sizeof(trace)), 0);
}

TEST(Synthesis, SecondCaptureIsTheBaseWhenFirstAndThirdDisagree) {
  std::mt19937 rng(23);
  // F2 sees the whole print, F1 its upper part and F3 its lower part only.
  const std::vector<M> top = testing::RandomFinger(rng, 30, 20, 226, 130);
  const std::vector<M> bottom = testing::RandomFinger(rng, 30, 160, 226, 270);
  std::vector<M> all = top;
  all.insert(all.end(), bottom.begin(), bottom.end());
  const testing::Mask top_mask = testing::ForegroundRows(0, 143);
  const testing::Mask bottom_mask = testing::ForegroundRows(152, 287);
  const Bytes f1 = MakeRecord(top, 50, top_mask.cells);
  const Bytes f2 = MakeRecord(all);
  const Bytes f3 = MakeRecord(bottom, 50, bottom_mask.cells);
  Bytes t{};
  SynthesisReport report;
  ASSERT_EQ(Synthesise(f1, f2, f3, t, &report), kSynthesisOk);
  EXPECT_TRUE(report.scores[0] < kBaseAgreement || report.scores[1] < kBaseAgreement);
  EXPECT_GE(report.scores[2], kBaseAgreement);
  EXPECT_GE(report.scores[3], kBaseAgreement);
  EXPECT_EQ(report.base, 1);
  ExpectWellFormedTemplate(t);
  // No alignment links F1 and F3, so nothing is a triple; every minutia of F2 is merged
  // with one of the others exactly once.
  EXPECT_EQ(report.triples, 0);
  EXPECT_EQ(Decode(t).usable, 50);
}

TEST(Synthesis, DuplicatesFromTwoAlignmentsAreMerged) {
  std::mt19937 rng(31);
  const std::vector<M> top = testing::RandomFinger(rng, 30, 20, 226, 110, 18);
  const std::vector<M> middle = {{60, 140, 30, 12, 0}, {128, 142, 200, 11, 1}, {196, 138, 100, 9, 0}};
  const std::vector<M> bottom = testing::RandomFinger(rng, 30, 180, 226, 270, 18);
  std::vector<M> all = top;
  all.insert(all.end(), middle.begin(), middle.end());
  all.insert(all.end(), bottom.begin(), bottom.end());
  std::vector<M> upper = top, lower = bottom;
  upper.insert(upper.end(), middle.begin(), middle.end());
  lower.insert(lower.end(), middle.begin(), middle.end());
  // The others cover only their own half: the middle minutiae sit in their background,
  // so the two others share no pair, yet each pairs the middle ones with the base.
  const testing::Mask upper_mask = testing::ForegroundRows(0, 119);
  const testing::Mask lower_mask = testing::ForegroundRows(168, 287);
  const Bytes f1 = MakeRecord(all), f2 = MakeRecord(upper, 50, upper_mask.cells),
              f3 = MakeRecord(lower, 50, lower_mask.cells);
  Bytes t{};
  SynthesisReport report;
  ASSERT_EQ(Synthesise(f1, f2, f3, t, &report), kSynthesisOk);
  EXPECT_EQ(report.base, 0);
  EXPECT_EQ(report.third_pairs, 0);
  EXPECT_EQ(report.triples, 0);
  EXPECT_EQ(report.merged, static_cast<int>(all.size()));  // middle ones merged once each
  EXPECT_EQ(report.singles, 0);
  EXPECT_EQ(Decode(t).usable, static_cast<int>(all.size()));
}

TEST(Synthesis, SingleCaptureMinutiaKeptOnlyOutsideTheOtherHulls) {
  std::mt19937 rng(41);
  const std::vector<M> finger = testing::RandomFinger(rng, 30, 30, 180, 200, 30);
  std::vector<M> inside = finger, outside = finger;
  inside.push_back(M{100, 110, 77, 12, 1});   // within the others' hull
  outside.push_back(M{215, 230, 77, 12, 1});  // outside it, inside the centred window
  Bytes t{};
  SynthesisReport report;
  ASSERT_EQ(Synthesise(MakeRecord(inside), MakeRecord(finger), MakeRecord(finger), t, &report),
            kSynthesisOk);
  EXPECT_EQ(report.base, 0);
  EXPECT_EQ(report.singles, 0);
  EXPECT_EQ(Decode(t).usable, static_cast<int>(finger.size()));
  ASSERT_EQ(Synthesise(MakeRecord(outside), MakeRecord(finger), MakeRecord(finger), t, &report),
            kSynthesisOk);
  EXPECT_EQ(report.singles, 1);
  EXPECT_EQ(Decode(t).usable, static_cast<int>(finger.size()) + 1);
}

TEST(Synthesis, NothingInsideTheCentredWindowIsRefused) {
  // Two clusters 390 px apart: every merged minutia lies about 195 px from the mean.
  std::mt19937 rng(53);
  std::vector<M> finger = testing::RandomFinger(rng, 10, 20, 110, 270, 25);
  const std::vector<M> right = testing::RandomFinger(rng, 400, 20, 500, 270, 25);
  finger.insert(finger.end(), right.begin(), right.end());
  const Bytes r = testing::Sealed(MakeRecord(finger));
  uint8_t out[256];
  std::memset(out, 0xCD, sizeof(out));
  uint16_t length = 9;
  SynthesisReport report;
  EXPECT_EQ(SynthesiseTemplate(r.data(), r.data(), r.data(), out, &length, &report),
            kSynthesisNoAgreement);
  EXPECT_EQ(report.base, 0);
  EXPECT_GT(report.listed, 0);
  EXPECT_EQ(report.kept, 0);
  EXPECT_EQ(length, 9);
  EXPECT_EQ(out[0], 0xCD);
}

TEST(Synthesis, FailuresWriteNothing) {
  std::mt19937 rng(43);
  const Bytes a = testing::Sealed(MakeRecord(testing::RandomFinger(rng, 30, 30, 220, 250)));
  const Bytes b = testing::Sealed(MakeRecord(testing::RandomFinger(rng, 30, 30, 220, 250)));
  const Bytes c = testing::Sealed(MakeRecord(testing::RandomFinger(rng, 30, 30, 220, 250)));
  const Bytes unsealed = MakeRecord(testing::RandomFinger(rng, 30, 30, 220, 250));
  uint8_t out[256];
  std::memset(out, 0xAB, sizeof(out));
  uint16_t length = 7;
  EXPECT_EQ(SynthesiseTemplate(a.data(), unsealed.data(), a.data(), out, &length),
            kSynthesisUnsealFailed);
  EXPECT_EQ(SynthesiseTemplate(nullptr, a.data(), a.data(), out, &length), kSynthesisUnsealFailed);
  SynthesisReport report;
  EXPECT_EQ(SynthesiseTemplate(a.data(), b.data(), c.data(), out, &length, &report),
            kSynthesisNoAgreement);  // three different fingers
  EXPECT_EQ(report.base, -1);
  for (uint8_t v : out) ASSERT_EQ(v, 0xAB);
  EXPECT_EQ(length, 7);
  // The inputs are never changed.
  const Bytes a_copy = a;
  SynthesiseTemplate(a.data(), a.data(), a.data(), out, &length);
  EXPECT_EQ(a, a_copy);
}

TEST(Quality, ReadsTheStoredByte) {
  std::mt19937 rng(47);
  const auto finger = testing::RandomFinger(rng, 30, 30, 220, 250);
  const Bytes q200 = testing::Sealed(MakeRecord(finger, 200));
  EXPECT_EQ(FeatureQuality(q200.data()), 200);
  Bytes odd = MakeRecord(finger, 7);
  odd[3] = 99;  // no other check is made
  odd[0] = 3;
  const Bytes sealed_odd = testing::Sealed(odd);
  EXPECT_EQ(FeatureQuality(sealed_odd.data()), 7);
  const Bytes plain = MakeRecord(finger, 200);
  EXPECT_EQ(FeatureQuality(plain.data()), kQualityUnsealFailed);
  const Bytes zeros{};
  EXPECT_EQ(FeatureQuality(zeros.data()), kQualityUnsealFailed);
  EXPECT_EQ(FeatureQuality(nullptr), kQualityUnsealFailed);

  // A template reports the largest quality of its three sources.
  const Bytes a = testing::Sealed(MakeRecord(finger, 20)), b = testing::Sealed(MakeRecord(finger, 180)),
              c = testing::Sealed(MakeRecord(finger, 90));
  uint8_t t[256];
  uint16_t length = 0;
  ASSERT_EQ(SynthesiseTemplate(a.data(), b.data(), c.data(), t, &length), kSynthesisOk);
  EXPECT_EQ(FeatureQuality(t), 180);
}

}  // namespace
}  // namespace vantrel::match
