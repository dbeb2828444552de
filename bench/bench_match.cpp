// Speed of the matcher core and of template synthesis on real records (synthetic ones
// when the image folder or extraction is not available).
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "reader/extract/extract_feature.h"
#include "reader/record/record.h"
#include "reader/match/matcher.h"
#include "reader/match/matcher_internal.h"
#include "reader/match/synthesis.h"
#include "tools/fingerprint_pgm.h"

namespace {

using Record = std::vector<uint8_t>;

bool ReadPgm(const std::string& path, std::vector<uint8_t>& pixels) {
  pixels = vantrel::tools::ReadFingerprintPgm(path);
  return !pixels.empty();
}

// Finger number of each record of RealRecords(), same order.
std::vector<int>& RealFingers() {
  static std::vector<int> fingers;
  return fingers;
}

// Sealed records of impressions 1..8 of the first fingers of DB1, in finger order.
const std::vector<Record>& RealRecords() {
  static const std::vector<Record> records = [] {
    std::vector<Record> out;
    RealFingers().clear();
    std::vector<uint8_t> image;
    for (int finger = 101; finger <= 110; ++finger)
      for (int impression = 1; impression <= 8; ++impression) {
        const std::string path = std::string(VANTREL_FINGERPRINTS_DIR) + "/FVC2002_DB1_B/" +
                                 std::to_string(finger) + "_" + std::to_string(impression) + ".pgm";
        if (!ReadPgm(path, image)) continue;
        Record r(256);
        uint16_t length = 0;
        if (vantrel::extract::ExtractFeature(image.data(), r.data(), &length) == 0) {
          out.push_back(r);
          RealFingers().push_back(finger);
        }
      }
    return out;
  }();
  return records;
}

std::vector<Record> Unsealed(const std::vector<Record>& sealed) {
  std::vector<Record> out;
  for (const Record& s : sealed) {
    Record r(256);
    if (vantrel::record::UnsealCopy(s.data(), r.data()) == 0) out.push_back(r);
  }
  return out;
}

void BM_MatchCore(benchmark::State& state) {
  const std::vector<Record> records = Unsealed(RealRecords());
  if (records.size() < 2) {
    state.SkipWithError("no real records (images or extraction missing)");
    return;
  }
  size_t i = 0, j = 1;
  int64_t total = 0;
  for (auto _ : state) {
    vantrel::match::Alignment alignment;
    total += vantrel::match::MatchCore(records[i].data(), records[j].data(), alignment);
    benchmark::DoNotOptimize(total);
    if (++j == records.size()) {
      j = 0;
      if (++i == records.size()) i = 0;
    }
  }
  state.counters["comparisons_per_second"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_MatchCore);

// Every ordered pair of different impressions of one finger, by index into records (the
// unsealed RealRecords()); none when a record did not unseal.
std::vector<std::pair<size_t, size_t>> GenuinePairs(const std::vector<Record>& records) {
  const std::vector<int>& fingers = RealFingers();
  std::vector<std::pair<size_t, size_t>> pairs;
  if (records.size() == fingers.size())
    for (size_t i = 0; i < records.size(); ++i)
      for (size_t j = 0; j < records.size(); ++j)
        if (i != j && fingers[i] == fingers[j]) pairs.emplace_back(i, j);
  return pairs;
}

// Same-finger pairs in turn through the core with the kernels given.
void TimeGenuinePairs(benchmark::State& state, const vantrel::match::detail::Kernels& kernels) {
  const std::vector<Record> records = Unsealed(RealRecords());
  const std::vector<std::pair<size_t, size_t>> pairs = GenuinePairs(records);
  if (pairs.empty()) {
    state.SkipWithError("no real genuine pairs (images or extraction missing)");
    return;
  }
  size_t k = 0;
  int64_t total = 0;
  for (auto _ : state) {
    vantrel::match::Alignment alignment;
    total += vantrel::match::detail::MatchCoreWith(kernels, records[pairs[k].first].data(),
                                                   records[pairs[k].second].data(), alignment,
                                                   nullptr);
    benchmark::DoNotOptimize(total);
    if (++k == pairs.size()) k = 0;
  }
  state.counters["comparisons_per_second"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

// Same-finger pairs only (each impression against every other impression of its finger):
// the aligned comparisons that dominate a verification mix and cost the most. The kernels
// are those MatchCore chooses.
void BM_MatchCoreGenuine(benchmark::State& state) {
  TimeGenuinePairs(state, vantrel::match::detail::ChosenKernels());
}
BENCHMARK(BM_MatchCoreGenuine);

// Every same-finger pair once per iteration: a fixed amount of work, so that instruction
// counts of one iteration (callgrind with --benchmark_min_time=0) compare across builds.
void BM_MatchCoreGenuineEachOnce(benchmark::State& state) {
  const std::vector<Record> records = Unsealed(RealRecords());
  const std::vector<std::pair<size_t, size_t>> pairs = GenuinePairs(records);
  if (pairs.empty()) {
    state.SkipWithError("no real genuine pairs (images or extraction missing)");
    return;
  }
  int64_t total = 0;
  for (auto _ : state) {
    for (const auto& [a, b] : pairs) {
      vantrel::match::Alignment alignment;
      total += vantrel::match::MatchCore(records[a].data(), records[b].data(), alignment);
    }
    benchmark::DoNotOptimize(total);
  }
  state.counters["comparisons_per_second"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * static_cast<double>(pairs.size()),
      benchmark::Counter::kIsRate);
}
BENCHMARK(BM_MatchCoreGenuineEachOnce)->Unit(benchmark::kMillisecond);

// The genuine pairs through the baseline kernels, the form a processor without AVX2 runs
// (the plain forms in a portable build).
void BM_MatchCoreGenuineBaseline(benchmark::State& state) {
  TimeGenuinePairs(state, vantrel::match::detail::BaselineKernels());
}
BENCHMARK(BM_MatchCoreGenuineBaseline);

void BM_SynthesiseTemplate(benchmark::State& state) {
  const std::vector<Record>& records = RealRecords();
  if (records.size() < 8) {
    state.SkipWithError("no real records (images or extraction missing)");
    return;
  }
  // Impressions 1-3 of the first finger that synthesises.
  size_t start = 0;
  uint8_t out[256];
  uint16_t length = 0;
  for (; start + 2 < records.size(); start += 8)
    if (vantrel::match::SynthesiseTemplate(records[start].data(), records[start + 1].data(),
                                           records[start + 2].data(), out, &length) == 0)
      break;
  if (start + 2 >= records.size()) {
    state.SkipWithError("no finger synthesises");
    return;
  }
  for (auto _ : state) {
    const int rc = vantrel::match::SynthesiseTemplate(
        records[start].data(), records[start + 1].data(), records[start + 2].data(), out, &length);
    benchmark::DoNotOptimize(rc);
  }
}
BENCHMARK(BM_SynthesiseTemplate)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
