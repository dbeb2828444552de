// Accuracy and speed evaluation on a folder of 152 x 200 PGM images named
// <finger>_<impression>.pgm, with the FVC protocol:
//   genuine:  each impression against every later impression of the same finger;
//   impostor: the first impression of each finger against the first impression of
//             every later finger.
// Then an enrolment check: a template from impressions 1-3 of each finger against
// impressions 4-8 of that finger and impression 4 of every other finger.
//
//   fvc_eval [folder] [--json] [--scores FILE]
//
// A comparison whose image failed to extract (or whose template failed) scores 0: it
// stays in the counts, as a rejection for genuine pairs.
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "reader/extract/extract_context.h"
#include "reader/extract/extract_feature.h"
#include "reader/record/record.h"
#include "reader/match/matcher.h"
#include "reader/match/synthesis.h"

namespace {

// Times are the calling thread's CPU time: on a shared machine wall time mostly measures
// the neighbours.
double CpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + ts.tv_nsec * 1e-9;
}
using Record = std::vector<uint8_t>;

struct Image {
  int finger = 0, impression = 0;
  std::string path;
  bool extracted = false;
  Record sealed, unsealed;
};

// Reads a binary PGM of exactly 152 x 200 with maxval 255; comments are skipped.
bool ReadPgm(const std::string& path, std::vector<uint8_t>& pixels, std::string& why) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) {
    why = "cannot open";
    return false;
  }
  std::vector<uint8_t> data;
  uint8_t buffer[65536];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof(buffer), f)) > 0 && data.size() < (1u << 22))
    data.insert(data.end(), buffer, buffer + got);
  std::fclose(f);
  size_t pos = 0;
  const auto skip_space = [&] {
    while (pos < data.size()) {
      if (data[pos] == '#') {
        while (pos < data.size() && data[pos] != '\n') ++pos;
      } else if (data[pos] == ' ' || data[pos] == '\t' || data[pos] == '\n' || data[pos] == '\r') {
        ++pos;
      } else {
        break;
      }
    }
  };
  const auto number = [&](int& out) {
    skip_space();
    if (pos >= data.size() || data[pos] < '0' || data[pos] > '9') return false;
    long v = 0;
    while (pos < data.size() && data[pos] >= '0' && data[pos] <= '9' && v < 100000)
      v = v * 10 + (data[pos++] - '0');
    out = static_cast<int>(v);
    return true;
  };
  int w = 0, h = 0, maxval = 0;
  if (data.size() < 2 || data[0] != 'P' || data[1] != '5') {
    why = "not a binary PGM";
    return false;
  }
  pos = 2;
  if (!number(w) || !number(h) || !number(maxval)) {
    why = "bad PGM header";
    return false;
  }
  ++pos;  // the single white space after maxval
  if (w != vantrel::extract::kImageWidth || h != vantrel::extract::kImageHeight || maxval != 255) {
    why = "not 152 x 200 with maxval 255";
    return false;
  }
  if (data.size() < pos + vantrel::extract::kImageBytes) {
    why = "short pixel data";
    return false;
  }
  pixels.assign(data.begin() + static_cast<long>(pos),
                data.begin() + static_cast<long>(pos) + vantrel::extract::kImageBytes);
  return true;
}

struct Rates {
  size_t genuine = 0, impostor = 0;
  double eer = 0, fmr100 = 0, fmr1000 = 0, zerofmr = 0;
  struct Level {
    int level, threshold;
    double fmr, fnmr;
  };
  std::vector<Level> levels;
};

double Fmr(const std::vector<int>& impostor, int t) {
  if (impostor.empty()) return 0;
  size_t n = 0;
  for (int s : impostor) n += s >= t;
  return static_cast<double>(n) / impostor.size();
}
double Fnmr(const std::vector<int>& genuine, int t) {
  if (genuine.empty()) return 0;
  size_t n = 0;
  for (int s : genuine) n += s < t;
  return static_cast<double>(n) / genuine.size();
}

// A comparison is accepted when score >= threshold, as in the record match entry.
// EER: the mean of FMR and FNMR at the integer threshold where they are closest.
// FMR100 / FMR1000 / ZeroFMR: the lowest FNMR over thresholds with FMR <= 1 %, 0.1 %, 0.
Rates ComputeRates(const std::vector<int>& genuine, const std::vector<int>& impostor) {
  Rates r;
  r.genuine = genuine.size();
  r.impostor = impostor.size();
  int top = 1;
  for (int s : genuine) top = std::max(top, s + 1);
  for (int s : impostor) top = std::max(top, s + 1);
  double best_gap = 2;
  r.fmr100 = r.fmr1000 = r.zerofmr = 1;
  for (int t = 0; t <= top; ++t) {
    const double fmr = Fmr(impostor, t), fnmr = Fnmr(genuine, t);
    const double gap = std::abs(fmr - fnmr);
    if (gap < best_gap) {
      best_gap = gap;
      r.eer = (fmr + fnmr) / 2;
    }
    if (fmr <= 0.01) r.fmr100 = std::min(r.fmr100, fnmr);
    if (fmr <= 0.001) r.fmr1000 = std::min(r.fmr1000, fnmr);
    if (fmr == 0) r.zerofmr = std::min(r.zerofmr, fnmr);
  }
  for (int level = 0; level <= 9; ++level) {
    const int t = vantrel::match::ThresholdOfLevel(level);
    r.levels.push_back({level, t, Fmr(impostor, t), Fnmr(genuine, t)});
  }
  return r;
}

int Core(const Record& a, const Record& b) {
  vantrel::match::Alignment alignment;
  const int s = vantrel::match::MatchCore(a.data(), b.data(), alignment);
  return s < 0 ? 0 : s;
}

void PrintRatesText(const char* title, const Rates& r) {
  std::printf("%s: %zu genuine, %zu impostor comparisons\n", title, r.genuine, r.impostor);
  std::printf("  EER %.2f %%  FMR100 %.2f %%  FMR1000 %.2f %%  ZeroFMR %.2f %%\n", 100 * r.eer,
              100 * r.fmr100, 100 * r.fmr1000, 100 * r.zerofmr);
  std::printf("  level threshold    FMR %%   FNMR %%\n");
  for (const auto& l : r.levels)
    std::printf("  %5d %9d %8.2f %8.2f\n", l.level, l.threshold, 100 * l.fmr, 100 * l.fnmr);
}

void PrintRatesJson(const Rates& r) {
  std::printf("\"genuine\": %zu, \"impostor\": %zu, \"eer\": %.6f, \"fmr100\": %.6f, "
              "\"fmr1000\": %.6f, \"zerofmr\": %.6f, \"levels\": [",
              r.genuine, r.impostor, r.eer, r.fmr100, r.fmr1000, r.zerofmr);
  for (size_t i = 0; i < r.levels.size(); ++i)
    std::printf("%s{\"level\": %d, \"threshold\": %d, \"fmr\": %.6f, \"fnmr\": %.6f}",
                i ? ", " : "", r.levels[i].level, r.levels[i].threshold, r.levels[i].fmr,
                r.levels[i].fnmr);
  std::printf("]");
}

}  // namespace

int main(int argc, char** argv) {
  std::string folder, scores_path;
  bool json = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--json") == 0) {
      json = true;
    } else if (std::strcmp(argv[i], "--scores") == 0 && i + 1 < argc) {
      scores_path = argv[++i];  // every score, one a line: proves a change kept them all
    } else if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::printf("usage: fvc_eval [folder of <finger>_<impression>.pgm] [--json] [--scores FILE]\n");
      return 0;
    } else {
      folder = argv[i];
    }
  }
  if (folder.empty()) folder = std::string(VANTREL_FINGERPRINTS_DIR) + "/FVC2002_DB1_B";
  FILE* notes = json ? stderr : stdout;

  std::vector<Image> images;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
    if (!entry.is_regular_file()) continue;
    const std::string name = entry.path().filename().string();
    int finger = 0, impression = 0, used = 0;
    if (std::sscanf(name.c_str(), "%d_%d.pgm%n", &finger, &impression, &used) != 2 ||
        used != static_cast<int>(name.size()))
      continue;
    Image im;
    im.finger = finger;
    im.impression = impression;
    im.path = entry.path().string();
    images.push_back(im);
  }
  if (ec || images.empty()) {
    std::fprintf(stderr, "fvc_eval: no <finger>_<impression>.pgm images in %s\n", folder.c_str());
    return 1;
  }
  std::sort(images.begin(), images.end(), [](const Image& a, const Image& b) {
    return a.finger != b.finger ? a.finger < b.finger : a.impression < b.impression;
  });

  // Extraction, timed per image.
  std::vector<double> extract_ms;
  int failures = 0;
  std::vector<uint8_t> pixels;
  for (Image& im : images) {
    std::string why;
    if (!ReadPgm(im.path, pixels, why)) {
      ++failures;
      std::fprintf(notes, "extraction failure: %s (%s)\n", im.path.c_str(), why.c_str());
      continue;
    }
    im.sealed.assign(256, 0);
    uint16_t length = 0;
    const double start = CpuSeconds();
    const int rc = vantrel::extract::ExtractFeature(pixels.data(), im.sealed.data(), &length);
    extract_ms.push_back(1000.0 * (CpuSeconds() - start));
    im.unsealed.assign(256, 0);
    if (rc != 0 || vantrel::record::UnsealCopy(im.sealed.data(), im.unsealed.data()) != 0) {
      ++failures;
      std::fprintf(notes, "extraction failure: %s (code %d)\n", im.path.c_str(), rc);
      continue;
    }
    im.extracted = true;
  }
  std::sort(extract_ms.begin(), extract_ms.end());
  const double median_ms = extract_ms.empty() ? 0 : extract_ms[extract_ms.size() / 2];

  // Fingers with their impressions in order.
  std::map<int, std::vector<const Image*>> fingers;
  for (const Image& im : images) fingers[im.finger].push_back(&im);

  std::vector<int> genuine, impostor;
  std::vector<std::pair<const Image*, const Image*>> pairs;
  for (const auto& [finger, list] : fingers)
    for (size_t i = 0; i < list.size(); ++i)
      for (size_t j = i + 1; j < list.size(); ++j) {
        genuine.push_back(list[i]->extracted && list[j]->extracted
                              ? Core(list[i]->unsealed, list[j]->unsealed) : 0);
        if (list[i]->extracted && list[j]->extracted) pairs.emplace_back(list[i], list[j]);
      }
  for (auto a = fingers.begin(); a != fingers.end(); ++a)
    for (auto b = std::next(a); b != fingers.end(); ++b) {
      const Image* x = a->second.front();
      const Image* y = b->second.front();
      impostor.push_back(x->extracted && y->extracted ? Core(x->unsealed, y->unsealed) : 0);
      if (x->extracted && y->extracted) pairs.emplace_back(x, y);
    }
  const Rates rates = ComputeRates(genuine, impostor);

  // Speed of the core on one thread, over the protocol's own pairs.
  double per_second = 0;
  if (!pairs.empty()) {
    size_t done = 0;
    long sink = 0;
    const double start = CpuSeconds();
    double seconds = 0;
    do {
      for (const auto& [x, y] : pairs) sink += Core(x->unsealed, y->unsealed);
      done += pairs.size();
      seconds = CpuSeconds() - start;
    } while (seconds < 1.0);
    per_second = done / seconds;
    if (sink == -1) std::fprintf(stderr, " ");
  }

  // Enrolment check.
  std::vector<int> enrol_genuine, enrol_impostor;
  int template_failures = 0;
  std::map<int, Record> templates;
  for (const auto& [finger, list] : fingers) {
    const Image* first[3] = {nullptr, nullptr, nullptr};
    for (const Image* im : list)
      if (im->impression >= 1 && im->impression <= 3) first[im->impression - 1] = im;
    Record t(256, 0);
    bool ok = first[0] && first[1] && first[2] && first[0]->extracted && first[1]->extracted &&
              first[2]->extracted;
    if (ok) {
      uint8_t sealed[256];
      uint16_t length = 0;
      ok = vantrel::match::SynthesiseTemplate(first[0]->sealed.data(), first[1]->sealed.data(),
                                              first[2]->sealed.data(), sealed, &length) == 0 &&
           vantrel::record::UnsealCopy(sealed, t.data()) == 0;
    }
    if (!ok) {
      ++template_failures;
      std::fprintf(notes, "template failure: finger %d\n", finger);
    } else {
      templates[finger] = t;
    }
  }
  for (const auto& [finger, list] : fingers) {
    const auto t = templates.find(finger);
    for (const Image* im : list)
      if (im->impression >= 4 && im->impression <= 8)
        enrol_genuine.push_back(t != templates.end() && im->extracted ? Core(t->second, im->unsealed) : 0);
    for (const auto& [other, other_list] : fingers) {
      if (other == finger) continue;
      for (const Image* im : other_list)
        if (im->impression == 4)
          enrol_impostor.push_back(t != templates.end() && im->extracted ? Core(t->second, im->unsealed) : 0);
    }
  }
  const Rates enrol = ComputeRates(enrol_genuine, enrol_impostor);
  if (!scores_path.empty()) {
    if (FILE* f = std::fopen(scores_path.c_str(), "w")) {
      for (const std::vector<int>* list : {&genuine, &impostor, &enrol_genuine, &enrol_impostor})
        for (int s : *list) std::fprintf(f, "%d\n", s);
      std::fclose(f);
    }
  }

  if (json) {
    std::printf("{\"images\": %zu, \"extraction_failures\": %d, ", images.size(), failures);
    PrintRatesJson(rates);
    std::printf(", \"extract_ms_median\": %.3f, \"comparisons_per_second\": %.0f, \"enrol\": {",
                median_ms, per_second);
    std::printf("\"template_failures\": %d, ", template_failures);
    PrintRatesJson(enrol);
    std::printf("}}\n");
  } else {
    std::printf("%s: %zu images, %d extraction failures\n", folder.c_str(), images.size(), failures);
    PrintRatesText("FVC protocol", rates);
    std::printf("extraction: median %.3f ms per image\n", median_ms);
    std::printf("matching: %.0f comparisons per second on one thread\n", per_second);
    std::printf("enrolment: %d template failures\n", template_failures);
    PrintRatesText("enrolment check", enrol);
  }
  return 0;
}
