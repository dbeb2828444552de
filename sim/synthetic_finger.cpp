#include "sim/synthetic_finger.h"

#include <algorithm>
#include <cmath>
#include <list>
#include <memory>
#include <mutex>
#include <numbers>
#include <utility>

namespace vantrel::sim {

namespace {

constexpr double kPi = std::numbers::pi;

// ---- Seeded noise ------------------------------------------------------------------

uint64_t Mix(uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

double Unit(uint64_t key) { return static_cast<double>(Mix(key) >> 11) * 0x1.0p-53; }

// What a seed is used for, so that no two purposes share a sequence.
enum Purpose : uint64_t {
  kMasterShape = 1,
  kMasterSeeds,
  kPeriodNoise,
  kImpressionPose,
  kContactEdge,
  kDryness,
  kPores,
  kPixelNoise,
};

uint64_t SeedOf(uint32_t finger, uint32_t impression, Purpose purpose) {
  return Mix(Mix(finger * 0xD6E8FEB86659FD93ull + purpose) ^ (impression * 0xA24BAED4963EE407ull));
}

uint64_t LatticeKey(uint64_t seed, int x, int y) {
  return seed ^ (static_cast<uint64_t>(static_cast<uint32_t>(x)) * 0x9E3779B97F4A7C15ull) ^
         (static_cast<uint64_t>(static_cast<uint32_t>(y)) * 0xC2B2AE3D27D4EB4Full);
}

// A sequence of uniform numbers from one seed.
class Draws {
 public:
  explicit Draws(uint64_t seed) : seed_(seed) {}
  double Next() { return Unit(seed_ + 0x632BE59BD9B4E019ull * ++count_); }
  double Range(double low, double high) { return low + (high - low) * Next(); }

 private:
  uint64_t seed_;
  uint64_t count_ = 0;
};

double Smoothstep(double edge0, double edge1, double x) {
  const double t = std::clamp((x - edge0) / (edge1 - edge0), 0.0, 1.0);
  return t * t * (3.0 - 2.0 * t);
}

// Value noise in 0..1 on a unit lattice, smoothly interpolated.
double ValueNoise(uint64_t seed, double x, double y) {
  const double fx = std::floor(x);
  const double fy = std::floor(y);
  const int ix = static_cast<int>(fx);
  const int iy = static_cast<int>(fy);
  const double tx = Smoothstep(0.0, 1.0, x - fx);
  const double ty = Smoothstep(0.0, 1.0, y - fy);
  const double a = Unit(LatticeKey(seed, ix, iy));
  const double b = Unit(LatticeKey(seed, ix + 1, iy));
  const double c = Unit(LatticeKey(seed, ix, iy + 1));
  const double d = Unit(LatticeKey(seed, ix + 1, iy + 1));
  return (a + (b - a) * tx) * (1.0 - ty) + (c + (d - c) * tx) * ty;
}

// ---- Master fingerprints -----------------------------------------------------------

// The master is larger than the sensor so that displaced and rotated impressions stay
// on the finger. The sensor's centre sits on the master's centre before displacement.
constexpr int kMasterWidth = 232;
constexpr int kMasterHeight = 280;
constexpr double kMasterCentreX = kMasterWidth / 2.0;
constexpr double kMasterCentreY = kMasterHeight / 2.0;

struct Point {
  double x = 0.0;
  double y = 0.0;
};

// The finger's outline: an ellipse with a rounder top than bottom, centre and half axes.
struct Outline {
  double cx = 0.0, cy = 0.0, half_width = 0.0, half_top = 0.0, half_bottom = 0.0;

  // 1 well inside, 0 outside, soft over about edge pixels.
  double Weight(double x, double y, double edge) const {
    const double dx = (x - cx) / half_width;
    const double dy = (y - cy) / (y < cy ? half_top : half_bottom);
    const double r = std::sqrt(dx * dx + dy * dy);
    const double scale = std::min(half_width, y < cy ? half_top : half_bottom);
    return Smoothstep(0.0, edge, (1.0 - r) * scale);
  }
};

struct Master {
  PatternClass pattern = PatternClass::kArch;
  Outline outline;
  std::vector<float> ridge;  // kMasterWidth x kMasterHeight, -1 valley .. 1 ridge centre
};

// Cores and deltas of a pattern class, placed with the finger's own draws.
struct SingularPoints {
  std::vector<Point> cores;
  std::vector<Point> deltas;
  double turn = 0.0;         // whole-field rotation, radians
  double arch_height = 0.0;  // arches: the bump of the ridges, pixels
  double arch_width = 0.0;
  Point arch_centre;
};

SingularPoints PlaceSingularPoints(PatternClass pattern, Draws& draws) {
  SingularPoints s;
  const Point core{kMasterCentreX + draws.Range(-12, 12), kMasterCentreY + draws.Range(-32, -4)};
  s.turn = draws.Range(-0.12, 0.12);
  switch (pattern) {
    case PatternClass::kArch:
      s.arch_centre = {core.x, core.y + 20};
      s.arch_height = draws.Range(36, 50);
      s.arch_width = draws.Range(38, 48);
      break;
    case PatternClass::kTentedArch:
      s.cores.push_back(core);
      s.deltas.push_back({core.x + draws.Range(-4, 4), core.y + draws.Range(34, 44)});
      break;
    case PatternClass::kLeftLoop:
    case PatternClass::kRightLoop: {
      // A left loop's ridges enter and leave on the left; its delta lies to the right.
      const double side = pattern == PatternClass::kLeftLoop ? 1.0 : -1.0;
      s.cores.push_back(core);
      s.deltas.push_back({core.x + side * draws.Range(42, 62), core.y + draws.Range(52, 78)});
      break;
    }
    case PatternClass::kWhorl: {
      const double half = draws.Range(13, 18);
      const double lean = draws.Range(-0.5, 0.5);
      s.cores.push_back({core.x - half * std::sin(lean), core.y + 8 - half * std::cos(lean)});
      s.cores.push_back({core.x + half * std::sin(lean), core.y + 8 + half * std::cos(lean)});
      s.deltas.push_back({core.x - draws.Range(52, 66), core.y + draws.Range(62, 82)});
      s.deltas.push_back({core.x + draws.Range(52, 66), core.y + draws.Range(62, 82)});
      break;
    }
  }
  return s;
}

// Ridge direction at (x, y), radians modulo pi: half the sum of the angles seen from
// the cores minus half the sum seen from the deltas, or for an arch the slope of ridges
// bent up over the arch centre.
double Orientation(const SingularPoints& s, double x, double y) {
  if (s.cores.empty() && s.deltas.empty()) {
    const double dx = x - s.arch_centre.x;
    const double w2 = s.arch_width * s.arch_width;
    // The bump grows from nothing at the top of the finger to its full height below.
    const double height = s.arch_height * Smoothstep(-110, 30, y - s.arch_centre.y);
    const double slope = height * dx / w2 * std::exp(-dx * dx / (2 * w2));
    return s.turn + std::atan(slope);
  }
  double angle = s.turn;
  for (const Point& c : s.cores) angle += 0.5 * std::atan2(y - c.y, x - c.x);
  for (const Point& d : s.deltas) angle -= 0.5 * std::atan2(y - d.y, x - d.x);
  return angle;
}

// Oriented filters, one per direction and ridge period class: a Gaussian envelope times
// a cosine across the ridges, without a mean, answering 1 to a matching ridge wave.
constexpr int kDirections = 36;
constexpr int kPeriods = 9;
constexpr double kFirstPeriod = 5.0;
constexpr double kPeriodStep = 0.3;
constexpr int kRadius = 6;
constexpr int kSide = 2 * kRadius + 1;
constexpr int kTaps = kSide * kSide;

struct FilterBank {
  std::vector<float> taps;  // [direction][period][kTaps]
  FilterBank() : taps(static_cast<size_t>(kDirections) * kPeriods * kTaps) {
    for (int o = 0; o < kDirections; ++o) {
      const double theta = o * kPi / kDirections;
      const double c = std::cos(theta);
      const double s = std::sin(theta);
      for (int k = 0; k < kPeriods; ++k) {
        const double period = kFirstPeriod + kPeriodStep * k;
        const double sigma_across = 0.45 * period;
        const double sigma_along = 0.75 * period;
        double envelope[kTaps];
        double wave[kTaps];
        double sum_g = 0.0;
        double sum_gw = 0.0;
        for (int v = -kRadius; v <= kRadius; ++v) {
          for (int u = -kRadius; u <= kRadius; ++u) {
            const double across = -u * s + v * c;
            const double along = u * c + v * s;
            const int i = (v + kRadius) * kSide + (u + kRadius);
            envelope[i] = std::exp(-across * across / (2 * sigma_across * sigma_across) -
                                   along * along / (2 * sigma_along * sigma_along));
            wave[i] = std::cos(2 * kPi * across / period);
            sum_g += envelope[i];
            sum_gw += envelope[i] * wave[i];
          }
        }
        const double mean = sum_gw / sum_g;
        double response = 0.0;
        for (int i = 0; i < kTaps; ++i) response += envelope[i] * (wave[i] - mean) * wave[i];
        float* out = &taps[(static_cast<size_t>(o) * kPeriods + k) * kTaps];
        for (int i = 0; i < kTaps; ++i) {
          out[i] = static_cast<float>(envelope[i] * (wave[i] - mean) / response);
        }
      }
    }
  }
  const float* Filter(int index) const { return &taps[static_cast<size_t>(index) * kTaps]; }
};

const FilterBank& Filters() {
  static const FilterBank bank;
  return bank;
}

constexpr int kGrowthRounds = 14;

// Grows the ridge pattern: seeded spikes, then rounds of oriented filtering each pushed
// back into -1..1, and a last unclipped round that leaves ridges with soft flanks.
std::vector<float> GrowRidges(uint32_t finger, const SingularPoints& points,
                              const Outline& outline) {
  const int w = kMasterWidth;
  const int h = kMasterHeight;
  const int pw = w + 2 * kRadius;
  const size_t cells = static_cast<size_t>(w) * h;
  std::vector<uint16_t> filter_of(cells);
  std::vector<uint8_t> on_finger(cells);
  Draws periods(SeedOf(finger, 0, kPeriodNoise));
  const double base_period = periods.Range(5.5, 6.2);
  const uint64_t period_seed = SeedOf(finger, 1, kPeriodNoise);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const size_t i = static_cast<size_t>(y) * w + x;
      double theta = std::fmod(Orientation(points, x, y), kPi);
      if (theta < 0) theta += kPi;
      const int direction = static_cast<int>(std::lround(theta / kPi * kDirections)) % kDirections;
      // Ridges run a little wider apart towards the bottom and the sides of the finger.
      const double period = base_period +
                            0.9 * (ValueNoise(period_seed, x / 60.0, y / 60.0) - 0.5) +
                            0.5 * (y - outline.cy) / outline.half_bottom +
                            0.4 * std::abs(x - outline.cx) / outline.half_width;
      const int k = std::clamp(static_cast<int>(std::lround((period - kFirstPeriod) / kPeriodStep)),
                               0, kPeriods - 1);
      filter_of[i] = static_cast<uint16_t>(direction * kPeriods + k);
      on_finger[i] = outline.Weight(x, y, 1.0) > 0.0 || outline.Weight(x, y - kRadius, 1.0) > 0.0;
    }
  }

  std::vector<float> padded(static_cast<size_t>(pw) * (h + 2 * kRadius), 0.0f);
  auto at = [&](int x, int y) -> float& {
    return padded[static_cast<size_t>(y + kRadius) * pw + (x + kRadius)];
  };
  // Seeds: a sparse scatter of positive and negative spikes.
  const uint64_t seed = SeedOf(finger, 0, kMasterSeeds);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      const double u = Unit(LatticeKey(seed, x, y));
      if (u < 0.02) at(x, y) = u < 0.01 ? 1.0f : -1.0f;
    }
  }

  const FilterBank& bank = Filters();
  std::vector<float> next(padded.size(), 0.0f);
  for (int round = 0; round <= kGrowthRounds; ++round) {
    const bool last = round == kGrowthRounds;
    const float gain = round < 4 ? 6.0f : 1.8f;
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        const size_t i = static_cast<size_t>(y) * w + x;
        float value = 0.0f;
        if (on_finger[i]) {
          const float* f = bank.Filter(filter_of[i]);
          const float* row = &padded[static_cast<size_t>(y) * pw + x];
          for (int v = 0; v < kSide; ++v, row += pw, f += kSide) {
            for (int u = 0; u < kSide; ++u) value += f[u] * row[u];
          }
          value = last ? value : std::clamp(value * gain, -1.0f, 1.0f);
        }
        next[static_cast<size_t>(y + kRadius) * pw + (x + kRadius)] = value;
      }
    }
    padded.swap(next);
  }

  std::vector<float> ridge(cells);
  for (int y = 0; y < h; ++y) {
    for (int x = 0; x < w; ++x) {
      ridge[static_cast<size_t>(y) * w + x] = std::clamp(at(x, y), -1.0f, 1.0f);
    }
  }
  return ridge;
}

std::shared_ptr<const Master> MakeMaster(uint32_t finger) {
  auto master = std::make_shared<Master>();
  master->pattern = PatternOf(finger);
  Draws draws(SeedOf(finger, 0, kMasterShape));
  Outline& o = master->outline;
  o.cx = kMasterCentreX + draws.Range(-4, 4);
  o.cy = kMasterCentreY + draws.Range(4, 16);
  o.half_width = draws.Range(96, 110);
  o.half_top = draws.Range(130, 150);
  o.half_bottom = 190;
  const SingularPoints points = PlaceSingularPoints(master->pattern, draws);
  master->ridge = GrowRidges(finger, points, o);
  return master;
}

// The recently used masters, newest first.
constexpr size_t kCachedMasters = 24;

std::shared_ptr<const Master> MasterOf(uint32_t finger) {
  static std::mutex lock;
  static std::list<std::pair<uint32_t, std::shared_ptr<const Master>>> cache;
  // The cached master of finger, moved to the front; null when there is none.
  auto cached = [&]() -> std::shared_ptr<const Master> {
    for (auto it = cache.begin(); it != cache.end(); ++it) {
      if (it->first == finger) {
        cache.splice(cache.begin(), cache, it);
        return cache.front().second;
      }
    }
    return nullptr;
  };
  {
    std::lock_guard<std::mutex> guard(lock);
    if (std::shared_ptr<const Master> master = cached()) return master;
  }
  // Grown outside the lock; a master another thread grew meanwhile is the same one.
  std::shared_ptr<const Master> made = MakeMaster(finger);
  std::lock_guard<std::mutex> guard(lock);
  if (std::shared_ptr<const Master> master = cached()) return master;
  cache.emplace_front(finger, made);
  if (cache.size() > kCachedMasters) cache.pop_back();
  return made;
}

// ---- Impressions -------------------------------------------------------------------

struct Scratch {
  Point a, b;
  double width = 0.0;
};

// How one impression puts the finger on the sensor.
struct Pose {
  double cos_a = 1.0, sin_a = 0.0;  // rotation of the finger on the sensor
  Point shift;                      // displacement of the sensor over the master
  Outline contact;                  // the pressed area, in master pixels
  Point distortion_shift;           // elastic drag of the skin outside the contact centre
  double distortion_turn = 0.0;
  double rigid_radius = 0.0, free_radius = 0.0;
  double pressure = 0.0;  // 0 light .. 1 heavy
  double dryness = 0.0;   // 0 moist .. 1 dry
  double background = 255.0, valley = 240.0, dark = 20.0, noise = 5.0;
  std::vector<Scratch> scratches;
};

Pose PoseOf(const Master& master, uint32_t finger, uint32_t impression) {
  Draws d(SeedOf(finger, impression, kImpressionPose));
  Pose p;
  const double angle = d.Range(-7, 7) * kPi / 180;
  p.cos_a = std::cos(angle);
  p.sin_a = std::sin(angle);
  p.shift = {d.Range(-14, 14), d.Range(-16, 16)};
  p.pressure = d.Next();
  p.dryness = d.Next();
  const double size = 0.8 + 0.25 * p.pressure;
  p.contact = master.outline;
  p.contact.half_width *= size;
  p.contact.half_top *= size;
  p.contact.half_bottom *= size;
  p.contact.cx += d.Range(-10, 10);
  p.contact.cy += d.Range(-10, 10);
  // Now and then the finger rests off to one side and leaves part of the sensor bare.
  if (d.Next() < 0.2) {
    const double towards = d.Range(0, 2 * kPi);
    p.contact.cx += 34 * std::cos(towards);
    p.contact.cy += 34 * std::sin(towards);
  }
  p.distortion_shift = {d.Range(-3.5, 3.5), d.Range(-3.5, 3.5)};
  p.distortion_turn = d.Range(-2.5, 2.5) * kPi / 180;
  p.rigid_radius = d.Range(25, 45);
  p.free_radius = p.rigid_radius + d.Range(60, 90);
  p.background = d.Range(236, 255);
  p.valley = p.background - d.Range(8, 40);
  p.dark = d.Range(0, 30) + 50 * (1 - p.pressure);
  p.noise = d.Range(3, 11);
  const double u = d.Next();
  const int scratches = u < 0.6 ? 0 : (u < 0.9 ? 1 : 2);
  for (int i = 0; i < scratches; ++i) {
    Scratch s;
    s.a = {d.Range(-10, kSyntheticWidth + 10), d.Range(-10, kSyntheticHeight + 10)};
    const double heading = d.Range(0, 2 * kPi);
    const double length = d.Range(40, 170);
    s.b = {s.a.x + length * std::cos(heading), s.a.y + length * std::sin(heading)};
    s.width = d.Range(0.8, 2.2);
    p.scratches.push_back(s);
  }
  return p;
}

float SampleRidge(const std::vector<float>& ridge, double x, double y) {
  if (!(x >= 0 && y >= 0 && x < kMasterWidth - 1 && y < kMasterHeight - 1)) return -1.0f;
  const int ix = static_cast<int>(x);
  const int iy = static_cast<int>(y);
  const float fx = static_cast<float>(x - ix);
  const float fy = static_cast<float>(y - iy);
  const float* p = &ridge[static_cast<size_t>(iy) * kMasterWidth + ix];
  const float top = p[0] + (p[1] - p[0]) * fx;
  const float bottom = p[kMasterWidth] + (p[kMasterWidth + 1] - p[kMasterWidth]) * fx;
  return top + (bottom - top) * fy;
}

double DistanceToSegment(const Scratch& s, double x, double y) {
  const double vx = s.b.x - s.a.x;
  const double vy = s.b.y - s.a.y;
  const double t =
      std::clamp(((x - s.a.x) * vx + (y - s.a.y) * vy) / (vx * vx + vy * vy), 0.0, 1.0);
  const double dx = x - (s.a.x + t * vx);
  const double dy = y - (s.a.y + t * vy);
  return std::sqrt(dx * dx + dy * dy);
}

void Render(const Master& master, const Pose& pose, uint32_t finger, uint32_t impression,
            uint8_t* pixels) {
  const uint64_t edge_seed = SeedOf(finger, impression, kContactEdge);
  const uint64_t dry_seed = SeedOf(finger, impression, kDryness);
  const uint64_t pore_seed = SeedOf(finger, 0, kPores);  // pores belong to the skin
  const uint64_t noise_seed = SeedOf(finger, impression, kPixelNoise);
  const double threshold = 0.3 - 0.6 * pose.pressure;
  const double dry_from = 0.92 - 0.25 * pose.dryness;
  const Outline& contact = pose.contact;
  const double dc = std::cos(pose.distortion_turn) - 1.0;
  const double ds = std::sin(pose.distortion_turn);
  for (int y = 0; y < kSyntheticHeight; ++y) {
    for (int x = 0; x < kSyntheticWidth; ++x) {
      const double sx = x - (kSyntheticWidth - 1) / 2.0;
      const double sy = y - (kSyntheticHeight - 1) / 2.0;
      double mx = pose.cos_a * sx - pose.sin_a * sy + kMasterCentreX + pose.shift.x;
      double my = pose.sin_a * sx + pose.cos_a * sy + kMasterCentreY + pose.shift.y;
      // Skin away from the contact centre is dragged and turned a little against it.
      const double rx = mx - contact.cx;
      const double ry = my - contact.cy;
      const double drag =
          Smoothstep(pose.rigid_radius, pose.free_radius, std::sqrt(rx * rx + ry * ry));
      mx += drag * (pose.distortion_shift.x + dc * rx - ds * ry);
      my += drag * (pose.distortion_shift.y + ds * rx + dc * ry);

      const double ragged = 10.0 * (ValueNoise(edge_seed, mx / 9.0, my / 9.0) - 0.5);
      const double touch =
          master.outline.Weight(mx, my, 4.0) *
          Smoothstep(0.0, 10.0, contact.Weight(mx, my, 20.0) * 20.0 + ragged - 4.0);
      // Where the finger pressed harder the ridges spread; pores and dry skin leave gaps.
      double local =
          threshold + 0.35 * (ValueNoise(edge_seed ^ 0x3333, mx / 30.0, my / 30.0) - 0.5);
      local += 1.2 * Smoothstep(0.88, 0.98, ValueNoise(pore_seed, mx / 1.7, my / 1.7));
      const double patch =
          Smoothstep(dry_from, dry_from + 0.12, ValueNoise(dry_seed, mx / 22.0, my / 22.0));
      if (patch > 0.0) {
        local +=
            patch *
            (0.25 + 1.2 * Smoothstep(0.45, 0.6, ValueNoise(dry_seed ^ 0x5555, mx / 3.5, my / 3.5)));
      }
      const double ink = Smoothstep(local - 0.4, local + 0.4, SampleRidge(master.ridge, mx, my));
      // Ink is laid down unevenly: some stretches of ridge print darker than others.
      const double dark =
          pose.dark + 50.0 * (ValueNoise(edge_seed ^ 0x7777, mx / 14.0, my / 14.0) - 0.3);
      double grey =
          pose.background - touch * ((pose.background - pose.valley) + (pose.valley - dark) * ink);
      const uint64_t key = LatticeKey(noise_seed, x, y);
      grey += pose.noise * (Unit(key) + Unit(key ^ 0xABCDEF) - 1.0);
      for (const Scratch& s : pose.scratches) {
        const double d = DistanceToSegment(s, x, y);
        if (d < s.width + 1.0) {
          const double bright = 1.0 - Smoothstep(s.width, s.width + 1.0, d);
          grey += (pose.background - 6.0 - grey) * bright;
        }
      }
      pixels[static_cast<size_t>(y) * kSyntheticWidth + x] =
          static_cast<uint8_t>(std::clamp(std::lround(grey), 0l, 255l));
    }
  }
}

}  // namespace

PatternClass PatternOf(uint32_t finger) {
  const double u = Unit(SeedOf(finger, 0, kMasterShape) ^ 0x7F4A7C15ull);
  if (u < 0.33) return PatternClass::kLeftLoop;
  if (u < 0.65) return PatternClass::kRightLoop;
  if (u < 0.91) return PatternClass::kWhorl;
  if (u < 0.96) return PatternClass::kArch;
  return PatternClass::kTentedArch;
}

void DrawImpression(uint32_t finger, uint32_t impression, uint8_t* pixels) {
  const std::shared_ptr<const Master> master = MasterOf(finger);
  Render(*master, PoseOf(*master, finger, impression), finger, impression, pixels);
}

std::vector<uint8_t> DrawImpression(uint32_t finger, uint32_t impression) {
  std::vector<uint8_t> pixels(kSyntheticPixels);
  DrawImpression(finger, impression, pixels.data());
  return pixels;
}

}  // namespace vantrel::sim
