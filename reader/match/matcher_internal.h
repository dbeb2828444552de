// What the matcher's stages share: the decoded sides of a comparison, their
// descriptors, the fixed integer tables, and the hot kernels, which come in a baseline
// and (on x86) an AVX2 form of the same source.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "reader/record/angle.h"
#include "reader/record/record.h"
#include "reader/match/matcher.h"

namespace vantrel::match::detail {

constexpr int kMaxMinutiae = record::kMaxMinutiae;
constexpr int kMaxNeighbours = 8;
constexpr int kAngleBuckets = (359 >> 4) + 1;  // 23 buckets of 16 degrees
constexpr int kPaddedMinutiae = (kMaxMinutiae + 7) / 8 * 8;  // whole groups of eight
constexpr int kCandidatesPerMinutia = 3;
constexpr int kReferenceSlots = 6;
constexpr int kRotations = 3;
constexpr int kReferenceSimilarity = 80;  // a candidate must reach this to anchor a slot
constexpr int kSecondSlotTries = 5;
constexpr int kRootTableSize = 65536;

// ---- Fixed tables ----

// Squares and floor roots are built by the compiler: the hot paths read them without the
// guard of a function-local static.
struct IntegerTables {
  int square[257];
  uint8_t floor_root[kRootTableSize];
};

constexpr IntegerTables BuildIntegerTables() {
  IntegerTables t{};
  for (int v = 0; v <= 256; ++v) t.square[v] = v * v;
  int r = 0;
  for (int d = 0; d < kRootTableSize; ++d) {
    while ((r + 1) * (r + 1) <= d) ++r;
    t.floor_root[d] = static_cast<uint8_t>(r);
  }
  return t;
}

inline constexpr IntegerTables kIntegerTables = BuildIntegerTables();

// Nearest integer to sqrt(d): the body of NearestRoot, inlined into the hot loops.
inline int RootOf(int64_t d) {
  if (d < 0) return 0;
  if (d >= kRootTableSize) return 256;
  const int r = kIntegerTables.floor_root[d];
  // sqrt(d) lies above r + 0.5 exactly when d > r^2 + r (d is an integer).
  return d > int64_t{r} * r + r ? r + 1 : r;
}

inline int FloorRootOf(int64_t d) {
  if (d < 0) return 0;
  if (d >= kRootTableSize) return 255;
  return kIntegerTables.floor_root[d];
}

// Groups of lanes in the compiler's generic vectors: 256-bit operations where the
// processor has them (the functions built twice, for AVX2 and for any x86-64), pairs of
// 128-bit ones elsewhere.
using Doubles4 = double __attribute__((vector_size(32)));
using Ints4 = int __attribute__((vector_size(16)));
using Longs4 = long long __attribute__((vector_size(32)));
using Unsigned4 = unsigned long long __attribute__((vector_size(32)));
using Ints8 = int __attribute__((vector_size(32)));
using Floats8 = float __attribute__((vector_size(32)));
using Shorts8 = short __attribute__((vector_size(16)));
using Shorts4 = short __attribute__((vector_size(8)));
using Shorts16 = short __attribute__((vector_size(32)));
using UnsignedShorts16 = unsigned short __attribute__((vector_size(32)));

// ---- Decoded records and descriptors ----

// Neighbours are kept side by side per field, sorted by relative direction. Only the
// first count entries are ever read as neighbours; every lane of each field is written
// when the descriptor is built (lanes past the count with values of the same ranges), so
// that the fields can be read as whole vectors.
struct Descriptor {
  int count;
  // False when a direction field above 359 left a relative direction below 0: then the
  // zeros that end a scan need not come first, and the similarity takes the plain scan.
  bool plain;
  // Every relative direction and relative angle within 0..359.
  bool normal;
  int16_t relative_direction[kMaxNeighbours];  // -151..359
  int16_t distance[kMaxNeighbours];            // 0..256
  int16_t relative_angle[kMaxNeighbours];      // -151..511
  int16_t type[kMaxNeighbours];                // 0 or 1
};

// What the core reads of one record, decoded here rather than through DecodeRecord,
// which clears and fills every field of a DecodedRecord the matcher never looks at.
// The minutiae are kept field by field, so that the transforms of a whole record run
// as straight loops.
struct Side {
  int n = 0;  // minutiae taken: 0 for a format other than 3 or a count above 50
  int x[kPaddedMinutiae], y[kPaddedMinutiae];  // zero past n
  int direction[kPaddedMinutiae];  // read in groups of eight
  int reliability[kPaddedMinutiae];  // zero past n
  uint32_t word[kPaddedMinutiae];  // each minutia's packed word as the record holds it
  int type[kPaddedMinutiae];  // zero past n
  // Weight of a minutia left unpaired: r, and (r - 10)^2 more above 10.
  int unpaired_weight[kPaddedMinutiae];  // zero past n
  // Bit c of background_rows[r]: block (r, c) of the expanded block mask is background.
  uint32_t background_rows[record::kBlockRows];
  // Bit c of inside_rows[r]: a point of block (r, c) lands inside this record's print,
  // that is in a foreground block and below the area width and height. Area sizes are
  // whole blocks, and the outer ring of blocks is background, so for a point (x, y) with
  // 0 <= x < 256 and 0 <= y < 288 the bit says the same as the tests
  // 0 < x < width, 0 < y < height and a foreground block at (x, y).
  uint32_t inside_rows[record::kBlockRows];
  int32_t core1_x, core1_y, core2_x, core2_y;  // stored bytes x 2
  bool core1 = false;
  int core2_packed = 0;
  bool fallback_marker = false;
  Descriptor descriptors[kMaxMinutiae];
};

// The reach index of the B side of a comparison, built from its descriptors.
constexpr int kDirectionBucketShift = 3;                          // 8 degrees a bucket
constexpr int kDirectionBuckets = (359 >> kDirectionBucketShift) + 1;  // 45
constexpr int kReachRow = kDirectionBuckets + 3;  // room for the writes just past the last
constexpr int kEmptyReachCell = kAngleBuckets * kReachRow;  // just past the rows
struct ReachIndex {
  // Bit b of reached_by[ReachCell(r, g)]: descriptor b has a neighbour that a neighbour at
  // some relative direction of r's 8-degree bucket and some relative angle of g's
  // 16-degree bucket could meet (every bucket for a descriptor that is not normal). A
  // superset, only used to pass over hopeless pairs. Filled for B. A row of 45 direction
  // buckets per angle bucket. The word after the rows, kEmptyReachCell, stays 0: the cell
  // that a lane past a descriptor's count reads.
  uint64_t reached_by[kEmptyReachCell + 1];
  uint64_t of_type[2];  // bit b: minutia b is of type 0 / 1
};

// The cell of the reach index of relative direction r and relative angle g (0..359 both),
// of one or of each lane.
template <typename Lanes>
constexpr Lanes ReachCell(const Lanes& r, const Lanes& g) {
  return (g >> 4) * kReachRow + (r >> kDirectionBucketShift);
}

// Where BuildReachIndex writes a neighbour, worked out by the compiler for every direction
// and angle. Direction buckets (8 degrees): those of rel(v) - 10 .. rel(v) + 12 within
// 0..359, from first_direction, direction_span more after it (at most 3: the span is 22
// degrees), the four words from first_direction masked by span_mask[direction_span]; a
// neighbour at 0 writes none (its span_mask, number 4, is empty). Angle buckets (16 degrees):
// those of ang(v) - 10 to ang(v) + 10, both taken round the circle, consecutive modulo 23,
// two or three of them (21 degrees over buckets of 16, the last one 8 wide); angle_row
// holds the first cell of the row of three in every case, the second one again where there
// are two (a second write of the same bits adds nothing).
struct ReachCells {
  uint8_t first_direction[360], direction_span[360];
  uint16_t angle_row[360][3];
  uint64_t span_mask[5][4];
};

constexpr ReachCells BuildReachCells() {
  ReachCells t{};
  for (int v = 0; v < 360; ++v) {
    const int lo = v - 10 < 0 ? 0 : v - 10, hi = v + 12 > 359 ? 359 : v + 12;
    t.first_direction[v] = static_cast<uint8_t>(lo >> kDirectionBucketShift);
    t.direction_span[v] = static_cast<uint8_t>(
        v == 0 ? 4 : (hi >> kDirectionBucketShift) - (lo >> kDirectionBucketShift));
    const int a = v;
    const int first_angle = (a - 10 < 0 ? a - 10 + 360 : a - 10) >> 4;
    const int last_angle = (a + 10 > 359 ? a + 10 - 360 : a + 10) >> 4;
    const int buckets = last_angle - first_angle + (last_angle < first_angle ? kAngleBuckets : 0) + 1;
    for (int g = 0; g < 3; ++g) {
      const int step = g < buckets ? g : buckets - 1;
      const int bucket = first_angle + step - (first_angle + step >= kAngleBuckets ? kAngleBuckets : 0);
      t.angle_row[a][g] = static_cast<uint16_t>(bucket * kReachRow);
    }
  }
  for (int span = 0; span < 4; ++span)
    for (int w = 0; w < 4; ++w) t.span_mask[span][w] = w <= span ? ~uint64_t{0} : 0;
  // span_mask[4] stays empty.
  return t;
}

inline constexpr ReachCells kReachCells = BuildReachCells();

// For each count of db's neighbours: the greatest u - v + 10 that the scan of a neighbour u
// takes at neighbour k of db (the similarity's kernel), -1 past the count (no u - v + 10
// below 0 is taken). The scan of u starts at the first v no more than 10 below u, or at the
// last v when none is: v ascend, so these are the v from u - 10 on, and the last one; it
// ends at the first v more than 10 above u, after which every v is. So u - v lies within
// -10..10, and for the last v from -10 up, which the relative direction test cuts at 12.
struct ScanLimits {
  int16_t of[kMaxNeighbours + 1][kMaxNeighbours];
};

constexpr ScanLimits BuildScanLimits() {
  ScanLimits t{};
  for (int nb = 0; nb <= kMaxNeighbours; ++nb)
    for (int k = 0; k < kMaxNeighbours; ++k) t.of[nb][k] = k < nb - 1 ? 20 : k == nb - 1 ? 22 : -1;
  return t;
}

inline constexpr ScanLimits kScanLimits = BuildScanLimits();

// The pairing of one rotation: the entries of A (p) in order and those of B (q) in
// buckets of 8 degrees of polar direction, with the fields each test reads. The B fields
// are in sorted order; after the nb sorted entries come copies of those of buckets 0..2
// (directions 0..23), standing for buckets 45..47 (360..383), so that a window that wraps
// round 0 is one run of positions; then 8 entries that fail every test (zero, with a
// distance of kPaddingDistance), so that groups of eight can be read from any position of
// a window.
constexpr int kBucketShift = 3, kBuckets = 360 >> kBucketShift;  // 45
constexpr int kWrappedBuckets = 3;
constexpr int kPairingLanes = 8;
constexpr int kPairingSlots = 2 * kMaxMinutiae + kPairingLanes;
constexpr int kPaddingDistance = 4096;  // distances are at most 256: never within 10

// For each polar direction 0..359 of p: the first bucket and one past the last bucket
// that PairUp's window reads, first[from_bucket] .. first[to_bucket]. A window that would
// start below 0 is taken 360 higher, where it ends in the copies of buckets 0..2 (p_dir +
// 12 + 360 is at most 383); one that passes 359 ends there by itself.
struct PairingWindows {
  uint8_t from_bucket[360], to_bucket[360];
};

constexpr PairingWindows BuildPairingWindows() {
  PairingWindows t{};
  for (int p_dir = 0; p_dir < 360; ++p_dir) {
    const int shift = p_dir < 12 ? 360 : 0;
    t.from_bucket[p_dir] = static_cast<uint8_t>((p_dir - 12 + shift) >> kBucketShift);
    t.to_bucket[p_dir] = static_cast<uint8_t>(((p_dir + 12 + shift) >> kBucketShift) + 1);
  }
  return t;
}

inline constexpr PairingWindows kPairingWindows = BuildPairingWindows();

// The B fields fit 16 bits: polar directions lie within 0..359, distances within 0..256
// (4096 for the padding), turned directions within 0..359 (a direction field of 0..511
// less a rotation of -179..180 is brought into 0..359 by one step of 360 either way).
// Entry k's type and position go into one key: q (below 64) plus 64 times the cost of its
// type against an A entry of type 0 (5 for type 1). Against an A entry of type 1 that
// share flips, which is the key with the bits of kTypeKey flipped (they lie clear of q's).
constexpr int kTypeCost = 5;
constexpr int kTypeKey = 64 * kTypeCost;  // 0b101000000
struct PairingLists {
  int na, nb;
  // Two fields of 16 bits in each int: polar direction | distance << 16, and direction
  // field | flip << 16, the flip kTypeKey for an entry of type 1 and 0 for one of type 0.
  // Written in whole groups of eight; entries na .. na + 3 are zero.
  int pa_dir_dist[kPaddedMinutiae], pa_odir_type[kPaddedMinutiae];
  int16_t s_dir[kPairingSlots], s_dist[kPairingSlots], s_tdir[kPairingSlots];
  int16_t s_key[kPairingSlots];
  // First position of bucket k or later, k = 0..47, and 48: the end of the copies.
  uint8_t first[kBuckets + kWrappedBuckets + 1];
};

// ---- The hot kernels ----

// The fields of minutiae that an overlap keeps, one array each, side by side.
constexpr int kKeptFields = 4;

// Entry i of every field of from, for each bit i of kept in ascending order, to the next
// place of the same field of to, and i itself to index; returns the number of bits. kept
// has no bit at n or above. The pack_kept kernel reads and writes every array (index too)
// in whole groups of eight (kPaddedMinutiae entries); what it writes past the count is
// left undefined.
int PackKeptPlain(uint64_t kept, int n, const int* const (&from)[kKeptFields],
                  int* const (&to)[kKeptFields], int* index);

// For each byte b of kept bits: the positions of its set bits in ascending order, three
// bits each from the lowest up, then zeros.
struct KeptOrders {
  uint32_t of[256];
};

constexpr KeptOrders BuildKeptOrders() {
  KeptOrders t{};
  for (int b = 0; b < 256; ++b) {
    int k = 0;
    for (int i = 0; i < 8; ++i)
      if ((b >> i) & 1) t.of[b] |= static_cast<uint32_t>(i) << (3 * k++);
  }
  return t;
}

inline constexpr KeptOrders kKeptOrders = BuildKeptOrders();

// The minutiae of one record that a transform carries into the other's print, in record
// order: their indices and their transformed positions and directions.
struct OverlapSet {
  uint64_t kept;  // bit i: minutia i is in the set
  int count;
  int index[kPaddedMinutiae];  // written in groups of eight, as direction
  // Read in groups of eight; room for eight zeros written after any count.
  int x[kPaddedMinutiae + 8], y[kPaddedMinutiae + 8];
  int direction[kPaddedMinutiae];
  int weight[kPaddedMinutiae + 8];  // the minutia's unpaired weight
};

// More fields of the minutiae of an overlap, packed with it: from[f][i] to to[f][k] for the
// k-th minutia i kept, f below fields.
struct MoreKeptFields {
  int fields;
  const int* from[kKeptFields];
  int* to[kKeptFields];
};

// Every kernel in one form; the table of the form this processor runs is chosen once.
struct Kernels {
  // Descriptors of every minutia of a side: neighbours within the radius.
  void (*build_descriptors)(Side& side, int64_t radius_squared);
  // The reach index of a side's descriptors.
  void (*build_reach_index)(const Side& side, ReachIndex& reach);
  // ApplyTransform's positions of n minutiae, in whole groups of four.
  void (*transform_positions)(const int* xs, const int* ys, int n, int cx, int cy, int bx,
                              int by, double c, double s, int* px, int* py);
  // The pairing of one rotation: sets bit i of paired_a (paired_b) for each paired entry i
  // of A (B); returns the number of pairs. pair_p and pair_q have room for na entries;
  // those past the pairs may be written.
  int (*pair_up)(const PairingLists& lists, uint64_t& paired_a, uint64_t& paired_b, int* pair_p,
                 int* pair_q);
  // LandingPlain's mask and turned directions, in whole groups of eight.
  uint64_t (*landing)(const int* px, const int* py, int n, const uint32_t* inside_rows,
                      const int* directions, int angle, int* turned);
  // UnpairedSumsPlain's sums, reading in whole groups of eight.
  void (*unpaired_sums)(const int* xs, const int* ys, const int* weights, uint64_t paired,
                        int n, int ox, int oy, int (&sums)[2]);
  // PolarAroundPlain's directions and distances, in whole groups of eight.
  void (*polar_around)(const int* xs, const int* ys, int n, int ox, int oy, int* direction,
                       int* distance);
  // PackKeptPlain's entries, reading and writing in whole groups of eight.
  int (*pack_kept)(uint64_t kept, int n, const int* const (&from)[kKeptFields],
                   int* const (&to)[kKeptFields], int* index);
  // LocalSimilarityPlain's similarity of two descriptors where it reaches need; some
  // value under need where it does not.
  int (*local_similarity)(const Descriptor& da, const Descriptor& db, int need);
  // FindOverlapPlain's set, reading and writing in whole groups of eight (the more
  // fields too).
  void (*find_overlap)(const Side& from, int skip, const Transform& t,
                       const uint32_t* inside_rows, const MoreKeptFields* more, OverlapSet& out);
  // PairedSumsPlain's sums.
  void (*paired_sums)(const Side& A, const Side& B, const OverlapSet& oa, const OverlapSet& ob,
                      const int* pair_p, const int* pair_q, int pairs, int ox, int oy,
                      int64_t (&sums)[2]);
  // SingleProductsHoldPlain's answer (the baseline form takes no value without SSE2).
  bool (*single_products_hold)(double v);
  // ReadMinutiaePlain's fields, in whole groups of eight.
  void (*read_minutiae)(const uint8_t* bytes, Side& side);
};
// The plain form of every kernel, what the others are held to: one minutia, one entry at a
// time, every B descriptor a possible partner and every q of a pairing tested.
const Kernels& PlainKernels();
const Kernels& BaselineKernels();  // the plain ones in the portable build
const Kernels& WideKernels();   // the baseline ones where no wide form is built
const Kernels& ChosenKernels();  // the wide ones where the processor runs them

// Where minutiae 0..n-1 of one record land in another's print: bit i of the result is set
// when (px[i], py[i]) lies inside it (0 <= x < 256, 0 <= y < 288 and bit x / 8 of
// inside_rows[y / 8]), and turned[i] is directions[i] - angle brought into 0..359 by one
// step of 360 either way. The landing kernel reads px, py and directions and writes turned
// in whole groups of eight (arrays of kPaddedMinutiae entries).
uint64_t LandingPlain(const int* px, const int* py, int n, const uint32_t* inside_rows,
                      const int* directions, int angle, int* turned);

// Whether R() of every product of v (0 or more) with a whole offset within
// -kMaxCoreOffset - 1..kMaxCoreOffset is the same in single precision, with the nearest
// float to v, as in double. Then it holds for -v as well over -kMaxCoreOffset..
// kMaxCoreOffset: rounding to nearest is symmetric, so the products of -v and r, in
// either precision, are those of v and -r. (Scalar float code may round at a higher
// precision on a processor without SSE; no form takes the single path there.)
bool SingleProductsHoldPlain(double v);

// The minutiae of from other than skip that t carries inside the print of inside_rows
// (LandingPlain of TransformPositionsPlain), packed by PackKeptPlain: x, y, turned direction
// and unpaired weight. Fills kept, count and the first count entries of each field, and
// of the more fields when more is not null.
void FindOverlapPlain(const Side& from, int skip, const Transform& t, const uint32_t* inside_rows,
                      const MoreKeptFields* more, OverlapSet& out);

// T (sums[0]) and N (sums[1]) of pairs 0..pairs-1, entry pair_p[k] of oa (A carried into
// B's print) with entry pair_q[k] of ob (B carried into A's): each pair's weight (twice
// the lower reliability, 5, and 10 more for equal types) less its error (the distances
// of x and y and the circular difference of the directions, A's as they are and B's
// turned), and in N only the pairs of which either point lies within 90 of (ox, oy), A's
// reference point, after rounding the squared distance down to a multiple of 4.
void PairedSumsPlain(const Side& A, const Side& B, const OverlapSet& oa, const OverlapSet& ob,
                     const int* pair_p, const int* pair_q, int pairs, int ox, int oy,
                     int64_t (&sums)[2]);

// The weights of the minutiae 0..n-1 not paired (no bit in paired; sums[0]), and of those among them within
// 90 of (ox, oy) (sums[1]). Positions lie within -2048..2047, so squares fit an int. The
// unpaired_sums kernel reads every array in whole groups of eight (kPaddedMinutiae).
void UnpairedSumsPlain(const int* xs, const int* ys, const int* weights, uint64_t paired, int n,
                       int ox, int oy, int (&sums)[2]);

// ApplyTransform's positions of minutiae 0..n-1 (anchor cx, cy; anchor plus offset bx, by).
void TransformPositionsPlain(const int* xs, const int* ys, int n, int cx, int cy, int bx, int by,
                             double c, double s, int* px, int* py);
// A reach index that passes over no pair: every descriptor counts as reachable.
void BuildReachIndexPlain(const Side& side, ReachIndex& reach);
// Each p in order takes its best q of all nb entries: the lowest cost, and the lowest PB
// index among equal costs, of those that pass every test; when that q is taken already, p
// stays unpaired.
int PairUpPlain(const PairingLists& lists, uint64_t& paired_a, uint64_t& paired_b, int* pair_p,
                int* pair_q);

// Polar direction (AngleOf) and distance (nearest root of the squared length) of points
// 0..n-1 of xs, ys around (ox, oy): the plain form of the polar_around kernel, which reads
// xs and ys and writes direction and distance in whole groups of eight (arrays of
// kPaddedMinutiae entries), whatever lies past n.
void PolarAroundPlain(const int* xs, const int* ys, int n, int ox, int oy, int* direction,
                      int* distance);

// The descriptors of every minutia of a side in their plain form: the first eight others
// in record order more than 20 and at most the radius away, sorted by relative direction
// (equal ones in record order), zero past the count; the build_descriptors kernel of
// every form gives the same fields within the count.
void BuildDescriptorsPlain(Side& side, int64_t radius_squared);

// The similarity of two descriptors: for each neighbour u of da in order, a scan of db's
// neighbours from the first one no more than 10 below u (the last one when none is),
// ending at a relative direction of 0 or one more than 10 above u; u adds 30 for the last
// v of the scan that it meets (distances, relative directions and relative angles close
// enough) when their types agree, 20 when they differ, nothing when it meets none.
// need is not read: this form gives the whole similarity.
int LocalSimilarityPlain(const Descriptor& da, const Descriptor& db, int need);

// The minutiae of a record, the first side.n of them (n at most 50), into the side's x, y,
// direction, reliability, type and unpaired_weight, every entry past n up to
// kPaddedMinutiae zero. Minutia i is the big-endian word at byte kMinutiaeStart + 4i.
constexpr int kMinutiaeStart = 56;
static_assert(kMinutiaeStart + 4 * kMaxMinutiae == record::kRecordBytes);
void ReadMinutiaePlain(const uint8_t* bytes, Side& side);

// ---- Stages of the core, shared with the one-to-many search ----

// The largest offset of a position from an anchor in the core: positions and anchors are
// 9-bit fields.
constexpr int kMaxCoreOffset = 511;
// MakeTransform for the overlaps of the core, angle within -359..359: single is set where
// the single-precision products of the angle's sine and cosine with every whole offset
// within -kMaxCoreOffset..kMaxCoreOffset give the same R() as the double ones, so a
// kernel may take either for points whose offsets from the anchor lie in that range.
Transform CoreTransform(int cx, int cy, int tx, int ty, int angle);

// Decodes a record's side (no descriptors yet), the minutiae with the kernels given or
// the chosen ones.
void ReadSide(const uint8_t* bytes, Side& side, const Kernels& kernels);
void ReadSide(const uint8_t* bytes, Side& side);
// The radius of an alignment record as the core uses it, squared.
int64_t RadiusSquared(const Alignment& alignment);
// A core comparison of two prepared sides (decoded by ReadSide, so that positions are
// 9-bit fields as CoreTransform requires; descriptors built with the same radius, the
// reach index that of B). Writes the winning alignment; returns the score.
int CompareSides(const Side& A, const Side& B, const ReachIndex& reach_b, Alignment& alignment,
                 const MatchSink* sink);
// MatchCore with the kernels given (MatchCore passes ChosenKernels()).
int MatchCoreWith(const Kernels& kernels, const uint8_t* record_a, const uint8_t* record_b,
                  Alignment& alignment, const MatchSink* sink);
// Whether a record has no usable minutiae for the core: format other than 3, count 0
// or above 50.
inline bool EmptyForCore(const uint8_t* r) {
  return r[0] != record::kFormat || r[3] == 0 || r[3] > kMaxMinutiae;
}

}  // namespace vantrel::match::detail
