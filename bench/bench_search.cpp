// One-to-many search: one probe against a gallery of 10 000 templates, made from every
// same-finger triple of impressions of the two real image sets and repeated to 10 000.
// Probes are the feature records of the same images. Wall-clock time per probe, on every
// core (/0) and on one (/1).
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "reader/extract/extract_feature.h"
#include "reader/match/search.h"
#include "reader/match/synthesis.h"
#include "tools/fingerprint_pgm.h"

namespace {

using Record = std::vector<uint8_t>;
constexpr int kGallerySize = 10000;

struct Sets {
  std::vector<Record> features;   // sealed, every image that extracts
  std::vector<Record> templates;  // sealed, every same-finger triple that synthesises
};

const Sets& RealSets() {
  static const Sets sets = [] {
    Sets out;
    for (const char* folder : {"FVC2002_DB1_B", "FVC2002_DB2_B"})
      for (int finger = 101; finger <= 110; ++finger) {
        std::vector<Record> own;
        for (int impression = 1; impression <= 8; ++impression) {
          const std::string path = std::string(VANTREL_FINGERPRINTS_DIR) + "/" + folder + "/" +
                                   std::to_string(finger) + "_" + std::to_string(impression) +
                                   ".pgm";
          const std::vector<uint8_t> image = vantrel::tools::ReadFingerprintPgm(path);
          Record r(256);
          uint16_t length = 0;
          if (!image.empty() && vantrel::extract::ExtractFeature(image.data(), r.data(), &length) == 0)
            own.push_back(r);
        }
        for (size_t i = 0; i < own.size(); ++i)
          for (size_t j = i + 1; j < own.size(); ++j)
            for (size_t k = j + 1; k < own.size(); ++k) {
              Record t(256);
              uint16_t length = 0;
              if (vantrel::match::SynthesiseTemplate(own[i].data(), own[j].data(), own[k].data(),
                                                     t.data(), &length) == 0)
                out.templates.push_back(t);
            }
        out.features.insert(out.features.end(), own.begin(), own.end());
      }
    return out;
  }();
  return sets;
}

const vantrel::match::Gallery& TenThousand() {
  static const vantrel::match::Gallery gallery = [] {
    vantrel::match::Gallery g;
    const std::vector<Record>& templates = RealSets().templates;
    for (int i = 0; !templates.empty() && i < kGallerySize; ++i)
      g.Add(templates[i % templates.size()].data());
    return g;
  }();
  return gallery;
}

void BM_SearchOneProbe(benchmark::State& state) {
  const std::vector<Record>& probes = RealSets().features;
  const vantrel::match::Gallery& gallery = TenThousand();
  if (probes.empty() || gallery.Size() != kGallerySize) {
    state.SkipWithError("no real templates (images or extraction missing)");
    return;
  }
  const int threads = static_cast<int>(state.range(0));
  std::vector<vantrel::match::SearchHit> hits;
  size_t k = 0;
  for (auto _ : state) {
    const int n = gallery.Search(probes[k].data(), 5, 10, vantrel::match::ProbeSide::kFirst,
                                 hits, threads);
    benchmark::DoNotOptimize(n);
    if (++k == probes.size()) k = 0;
  }
  state.counters["comparisons_per_second"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * gallery.Size(), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_SearchOneProbe)->Arg(0)->Arg(1)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
