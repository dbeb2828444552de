// Speed of synthetic fingers: one impression of a finger whose master is cached (what
// the stand-in reader draws per capture; the aim is well under 20 ms on one core), and
// the growth of a master (the first capture of a finger).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "sim/synthetic_finger.h"

namespace {

void Impression(benchmark::State& state) {
  std::vector<uint8_t> pixels(vantrel::sim::kSyntheticPixels);
  constexpr uint32_t kFinger = 1;
  vantrel::sim::DrawImpression(kFinger, 0, pixels.data());  // grows and caches the master
  uint32_t impression = 0;
  for (auto _ : state) {
    vantrel::sim::DrawImpression(kFinger, ++impression, pixels.data());
    benchmark::DoNotOptimize(pixels.data());
  }
}
BENCHMARK(Impression)->Unit(benchmark::kMillisecond);

void MasterAndImpression(benchmark::State& state) {
  std::vector<uint8_t> pixels(vantrel::sim::kSyntheticPixels);
  // Finger ids never seen before, so that every round grows a master.
  uint32_t finger = 1000000;
  for (auto _ : state) {
    vantrel::sim::DrawImpression(++finger, 0, pixels.data());
    benchmark::DoNotOptimize(pixels.data());
  }
}
BENCHMARK(MasterAndImpression)->Unit(benchmark::kMillisecond)->Iterations(10);

}  // namespace

BENCHMARK_MAIN();
