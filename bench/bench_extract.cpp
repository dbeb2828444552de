// Extraction speed and memory on the real fingerprint images.
//
// BM_ExtractEveryImage runs ExtractFeature over every image of the fingerprint folders
// per iteration and reports the median thread CPU time of one extraction (median_us),
// the mean (mean_us), and, under counting allocation hooks, the heap allocations and the
// peak of heap bytes live at once of the first extraction of the process (allocations,
// peak_bytes: it makes the work canvases, which stay held for the next calls) and of one
// extraction after the timed ones (steady_allocations, steady_peak_bytes).
//
// BM_StageTimes times each stage through the inspection sink: the CPU time from one
// report to the next goes to the stage that reported, as a mean in microseconds per
// image (the two direction passes together); the tail after spur removal is minutiae
// detection and sealing.
//
// BM_DirectionStages runs the second direction pass and the ridge period measurement
// alone, over the smoothed canvas and context each image has at that point, and reports
// each in CPU microseconds per image, of the fastest run over all images: on a shared
// machine the least time is the one least disturbed (BlockDirections_us,
// MeasureRidgePeriod_us).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <ctime>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <fstream>
#include <new>
#include <string>
#include <vector>

#include "reader/extract/extract_context.h"
#include "reader/extract/extract_feature.h"
#include "reader/extract/orientation.h"
#include "reader/extract/ridge_filter.h"
#include "tools/fingerprint_pgm.h"

namespace {

// Allocation accounting, switched on around one extraction only.
std::atomic<bool> g_counting{false};
std::atomic<long> g_allocations{0};
std::atomic<long> g_live{0};
std::atomic<long> g_peak{0};

// Every block carries its size in front, so that delete knows what to subtract.
constexpr size_t kHeader = alignof(std::max_align_t);

// Kept out of line: inlined into the replaced operators, the compiler would pair malloc
// and free across them and warn of a mismatch.
__attribute__((noinline)) void* CountedAlloc(size_t size) {
  auto* raw = static_cast<unsigned char*>(std::malloc(size + kHeader));
  if (raw == nullptr) return nullptr;
  *reinterpret_cast<size_t*>(raw) = size;
  if (g_counting.load(std::memory_order_relaxed)) {
    ++g_allocations;
    const long live = g_live += static_cast<long>(size);
    long peak = g_peak.load();
    while (live > peak && !g_peak.compare_exchange_weak(peak, live)) {
    }
  }
  return raw + kHeader;
}

__attribute__((noinline)) void CountedFree(void* p) {
  if (p == nullptr) return;
  auto* raw = static_cast<unsigned char*>(p) - kHeader;
  if (g_counting.load(std::memory_order_relaxed)) {
    g_live -= static_cast<long>(*reinterpret_cast<size_t*>(raw));
  }
  std::free(raw);
}

using Image = std::vector<uint8_t>;

std::vector<Image> LoadImages() {
  std::vector<std::filesystem::path> paths;
  std::error_code ec;
  for (const auto& set : std::filesystem::directory_iterator(VANTREL_FINGERPRINTS_DIR, ec)) {
    if (!set.is_directory()) continue;
    for (const auto& f : std::filesystem::directory_iterator(set.path(), ec)) {
      if (f.path().extension() == ".pgm") paths.push_back(f.path());
    }
  }
  std::sort(paths.begin(), paths.end());
  std::vector<Image> images;
  for (const auto& p : paths) {
    Image image = vantrel::tools::ReadFingerprintPgm(p.string());
    if (!image.empty()) images.push_back(std::move(image));
  }
  return images;
}

// CPU time of this thread: the machine is shared, and wall time would count the others.
double ThreadMicros() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) * 1e6 + static_cast<double>(ts.tv_nsec) / 1e3;
}

// The images, loaded once; none (and the benchmark skipped) when the folder has none.
const std::vector<Image>* ImagesFor(benchmark::State& state) {
  static const std::vector<Image> images = LoadImages();
  if (!images.empty()) return &images;
  state.SkipWithError("no fingerprint images in " VANTREL_FINGERPRINTS_DIR);
  return nullptr;
}

// Heap allocations and peak live bytes of one extraction.
struct Counted {
  long allocations, peak_bytes;
};
Counted CountedExtraction(const Image& image, uint8_t* record, uint16_t* length) {
  g_allocations = 0;
  g_live = 0;
  g_peak = 0;
  g_counting = true;
  vantrel::extract::ExtractFeature(image.data(), record, length);
  g_counting = false;
  return {g_allocations.load(), g_peak.load()};
}

void BM_ExtractEveryImage(benchmark::State& state) {
  const std::vector<Image>* found = ImagesFor(state);
  if (found == nullptr) return;
  const std::vector<Image>& images = *found;
  uint8_t record[256];
  uint16_t length = 0;
  std::vector<double> micros;
  int accepted = 0;
  static const Counted first = CountedExtraction(images.front(), record, &length);
  for (auto _ : state) {
    accepted = 0;
    for (const Image& image : images) {
      const double t0 = ThreadMicros();
      const int r = vantrel::extract::ExtractFeature(image.data(), record, &length);
      const double t1 = ThreadMicros();
      benchmark::DoNotOptimize(record);
      accepted += r == 0;
      micros.push_back(t1 - t0);
    }
  }
  std::sort(micros.begin(), micros.end());
  double total = 0;
  for (double m : micros) total += m;

  const Counted steady = CountedExtraction(images.front(), record, &length);

  state.counters["images"] = static_cast<double>(images.size());
  state.counters["accepted"] = accepted;
  state.counters["median_us"] = micros[micros.size() / 2];
  state.counters["mean_us"] = total / static_cast<double>(micros.size());
  state.counters["max_us"] = micros.back();
  state.counters["allocations"] = static_cast<double>(first.allocations);
  state.counters["peak_bytes"] = static_cast<double>(first.peak_bytes);
  state.counters["steady_allocations"] = static_cast<double>(steady.allocations);
  state.counters["steady_peak_bytes"] = static_cast<double>(steady.peak_bytes);
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(images.size()));
}
BENCHMARK(BM_ExtractEveryImage)->Unit(benchmark::kMillisecond);

// Stage name -> CPU microseconds, summed over the images of one run.
struct StageClock {
  std::map<std::string, double> totals;
  double last = 0;
};

void OnStage(void* user, const char* stage, const vantrel::extract::ExtractionContext&) {
  auto* clock = static_cast<StageClock*>(user);
  const double now = ThreadMicros();
  clock->totals[stage] += now - clock->last;
  clock->last = ThreadMicros();  // the bookkeeping is not counted
}

void BM_StageTimes(benchmark::State& state) {
  const std::vector<Image>* found = ImagesFor(state);
  if (found == nullptr) return;
  const std::vector<Image>& images = *found;
  uint8_t record[256];
  uint16_t length = 0;
  StageClock clock;
  vantrel::extract::InspectionSink sink;
  sink.user = &clock;
  sink.context = OnStage;
  int64_t runs = 0;
  for (auto _ : state) {
    for (const Image& image : images) {
      clock.last = ThreadMicros();
      const int r = vantrel::extract::ExtractFeature(image.data(), record, &length, &sink);
      if (r == 0) clock.totals["ExtractMinutiae+SealRecord"] += ThreadMicros() - clock.last;
      benchmark::DoNotOptimize(record);
      ++runs;
    }
  }
  for (const auto& [stage, total] : clock.totals) {
    state.counters[stage + "_us"] = total / static_cast<double>(runs);
  }
  state.SetItemsProcessed(runs);
}
BENCHMARK(BM_StageTimes)->Unit(benchmark::kMillisecond);

}  // namespace

void* operator new(size_t size) {
  void* p = CountedAlloc(size);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}
void* operator new[](size_t size) {
  void* p = CountedAlloc(size);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}
void* operator new(size_t size, const std::nothrow_t&) noexcept { return CountedAlloc(size); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return CountedAlloc(size); }
void operator delete(void* p) noexcept { CountedFree(p); }
void operator delete[](void* p) noexcept { CountedFree(p); }
void operator delete(void* p, size_t) noexcept { CountedFree(p); }
void operator delete[](void* p, size_t) noexcept { CountedFree(p); }
void operator delete(void* p, const std::nothrow_t&) noexcept { CountedFree(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { CountedFree(p); }

BENCHMARK_MAIN();

// The smoothed canvas and the context after the second direction pass, per image.
struct DirectionInputs {
  std::vector<std::vector<uint8_t>> canvases;
  std::vector<vantrel::extract::ExtractionContext> contexts;
};

void KeepSmoothed(void* user, const char* stage, const uint8_t* canvas) {
  if (std::string(stage) != "SmoothAlongRidges") return;
  static_cast<DirectionInputs*>(user)->canvases.emplace_back(
      canvas, canvas + vantrel::extract::kCanvasBytes);
}

void KeepDirections(void* user, const char* stage, const vantrel::extract::ExtractionContext& c) {
  auto* inputs = static_cast<DirectionInputs*>(user);
  // The second report of the direction stage follows the smoothed canvas.
  if (std::string(stage) == "BlockDirections" && inputs->canvases.size() > inputs->contexts.size()) {
    inputs->contexts.push_back(c);
  }
}

void BM_DirectionStages(benchmark::State& state) {
  const std::vector<Image>* found = ImagesFor(state);
  if (found == nullptr) return;
  DirectionInputs inputs;
  vantrel::extract::InspectionSink sink;
  sink.user = &inputs;
  sink.canvas = KeepSmoothed;
  sink.context = KeepDirections;
  uint8_t record[256];
  uint16_t length = 0;
  for (const Image& image : *found) {
    vantrel::extract::ExtractFeature(image.data(), record, &length, &sink);
    inputs.canvases.resize(inputs.contexts.size());
  }
  const double n = static_cast<double>(inputs.canvases.size());
  double directions = 1e30, period = 1e30;
  int64_t runs = 0;
  for (auto _ : state) {
    const double t0 = ThreadMicros();
    for (size_t i = 0; i < inputs.canvases.size(); ++i) {
      vantrel::extract::BlockDirections(inputs.canvases[i].data(), inputs.contexts[i]);
    }
    const double t1 = ThreadMicros();
    for (size_t i = 0; i < inputs.canvases.size(); ++i) {
      vantrel::extract::MeasureRidgePeriod(inputs.canvases[i].data(), inputs.contexts[i]);
    }
    const double t2 = ThreadMicros();
    directions = std::min(directions, (t1 - t0) / n);
    period = std::min(period, (t2 - t1) / n);
    runs += static_cast<int64_t>(inputs.canvases.size());
  }
  state.counters["BlockDirections_us"] = directions;
  state.counters["MeasureRidgePeriod_us"] = period;
  state.SetItemsProcessed(runs);
}
BENCHMARK(BM_DirectionStages)->Unit(benchmark::kMillisecond);
