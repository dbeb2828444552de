#include "reader/extract/extract_feature.h"

#include <atomic>
#include <memory>
#include <new>

#include "reader/extract/minutiae.h"
#include "reader/extract/normalise.h"
#include "reader/extract/orientation.h"
#include "reader/record/record.h"
#include "reader/extract/ridge_filter.h"
#include "reader/extract/segment.h"
#include "reader/extract/singular.h"
#include "reader/extract/skeleton.h"

namespace vantrel::extract {

namespace {

// Hands a stage's results to the sink, when there is one.
void Report(const InspectionSink* sink, const char* stage, const uint8_t* canvas,
            const ExtractionContext& context) {
  if (sink == nullptr) return;
  if (sink->canvas != nullptr && canvas != nullptr) sink->canvas(sink->user, stage, canvas);
  if (sink->context != nullptr) sink->context(sink->user, stage, context);
}

// The two work canvases of one extraction.
struct WorkCanvases {
  uint8_t a[kCanvasBytes];
  uint8_t b[kCanvasBytes];
};

// Canvases are kept from one extraction to the next: handing their 147 456 bytes back to
// the system after every call and faulting them in again on the next costs about a sixth
// of an extraction. Up to kKeptCanvases sets stay held (590 KB at most, and only as many
// as ever ran at once); an extraction takes a kept set or makes one, and gives it back
// to a free place or frees it. Lock-free, so threads and a sink that extracts again from
// inside a report each work on a set of their own.
constexpr int kKeptCanvases = 4;
struct KeptCanvases {
  std::atomic<WorkCanvases*> place[kKeptCanvases] = {};
  ~KeptCanvases() {
    for (auto& p : place) {
      const std::unique_ptr<WorkCanvases> held(p.exchange(nullptr));
    }
  }
};
KeptCanvases g_kept;

std::unique_ptr<WorkCanvases> TakeCanvases() {
  for (auto& p : g_kept.place) {
    if (p.load(std::memory_order_relaxed) == nullptr) continue;
    if (WorkCanvases* kept = p.exchange(nullptr, std::memory_order_acquire)) {
      return std::unique_ptr<WorkCanvases>(kept);
    }
  }
  return std::unique_ptr<WorkCanvases>(new (std::nothrow) WorkCanvases);
}

void GiveBack(std::unique_ptr<WorkCanvases> canvases) {
  for (auto& p : g_kept.place) {
    WorkCanvases* empty = nullptr;
    if (p.compare_exchange_strong(empty, canvases.get(), std::memory_order_release,
                                  std::memory_order_relaxed)) {
      canvases.release();
      return;
    }
  }
}

// The stages, on the two work canvases a and b.
int ExtractOnCanvases(const uint8_t* image, uint8_t* record, uint16_t* out_length,
                      const InspectionSink* sink, uint8_t* a, uint8_t* b) {
  ExtractionContext context{};

  if (NormaliseToCanvas(image, a) != kExtractOk) return kExtractNoMemory;
  Report(sink, "NormaliseToCanvas", a, context);

  const int accepted = PrepareImage(a, b, context);
  Report(sink, "PrepareImage", nullptr, context);
  if (accepted != 1) return kExtractFailed;
  Report(sink, "PreFilter", b, context);

  // Main pipeline: B is the image, A the scratch canvas. Stages that only read the
  // context take it by const reference, which is as good as a private copy.
  NormaliseContrast(b, context);
  Report(sink, "NormaliseContrast", b, context);
  BlockDirections(b, context);
  Report(sink, "BlockDirections", nullptr, context);

  SmoothAlongRidges(b, a, context);
  Report(sink, "SmoothAlongRidges", a, context);
  BlockDirections(a, context);
  Report(sink, "BlockDirections", nullptr, context);

  MeasureRidgePeriod(a, context);
  Report(sink, "MeasureRidgePeriod", nullptr, context);
  EnhanceRidges(a, b, context);
  Report(sink, "EnhanceRidges", b, context);

  FindSingularPoints(context);
  Report(sink, "FindSingularPoints", nullptr, context);

  Binarise(b, a, context);
  Report(sink, "Binarise", a, context);
  FillHoles(a);
  Report(sink, "FillHoles", a, context);
  Thin(a);
  Report(sink, "Thin", a, context);
  RemoveSpurs(a);
  Report(sink, "RemoveSpurs", a, context);

  const int minutiae = ExtractMinutiae(a, record, context);
  if (minutiae != kMinutiaeOk) return kExtractFailed;

  if (record::SealRecord(record) != 0) return kExtractFailed;
  *out_length = static_cast<uint16_t>(record::kRecordBytes);
  return kExtractOk;
}

}  // namespace

int ExtractFeature(const uint8_t* image, uint8_t* record, uint16_t* out_length) {
  return ExtractFeature(image, record, out_length, nullptr);
}

int ExtractFeature(const uint8_t* image, uint8_t* record, uint16_t* out_length,
                   const InspectionSink* sink) {
  if (image == nullptr || record == nullptr || out_length == nullptr) return kExtractFailed;

  std::unique_ptr<WorkCanvases> canvases = TakeCanvases();
  if (!canvases) return kExtractNoMemory;
  const int result = ExtractOnCanvases(image, record, out_length, sink, canvases->a,
                                       canvases->b);
  GiveBack(std::move(canvases));
  return result;
}

}  // namespace vantrel::extract
