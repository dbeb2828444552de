#include "reader/extract/extract_feature.h"

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

}  // namespace

int ExtractFeature(const uint8_t* image, uint8_t* record, uint16_t* out_length) {
  return ExtractFeature(image, record, out_length, nullptr);
}

int ExtractFeature(const uint8_t* image, uint8_t* record, uint16_t* out_length,
                   const InspectionSink* sink) {
  if (image == nullptr || record == nullptr || out_length == nullptr) return kExtractFailed;

  std::unique_ptr<uint8_t[]> a(new (std::nothrow) uint8_t[kCanvasBytes]);
  if (!a) return kExtractNoMemory;
  std::unique_ptr<uint8_t[]> b(new (std::nothrow) uint8_t[kCanvasBytes]);
  if (!b) return kExtractNoMemory;

  ExtractionContext context{};

  if (NormaliseToCanvas(image, a.get()) != kExtractOk) return kExtractNoMemory;
  Report(sink, "NormaliseToCanvas", a.get(), context);

  const int accepted = PrepareImage(a.get(), b.get(), context);
  Report(sink, "PrepareImage", nullptr, context);
  if (accepted != 1) return kExtractFailed;
  Report(sink, "PreFilter", b.get(), context);

  // Main pipeline: B is the image, A the scratch canvas. Stages that only read the
  // context take it by const reference, which is as good as a private copy.
  NormaliseContrast(b.get(), context);
  Report(sink, "NormaliseContrast", b.get(), context);
  BlockDirections(b.get(), context);
  Report(sink, "BlockDirections", nullptr, context);

  SmoothAlongRidges(b.get(), a.get(), context);
  Report(sink, "SmoothAlongRidges", a.get(), context);
  BlockDirections(a.get(), context);
  Report(sink, "BlockDirections", nullptr, context);

  MeasureRidgePeriod(a.get(), context);
  Report(sink, "MeasureRidgePeriod", nullptr, context);
  EnhanceRidges(a.get(), b.get(), context);
  Report(sink, "EnhanceRidges", b.get(), context);

  FindSingularPoints(context);
  Report(sink, "FindSingularPoints", nullptr, context);

  Binarise(b.get(), a.get(), context);
  Report(sink, "Binarise", a.get(), context);
  FillHoles(a.get());
  Report(sink, "FillHoles", a.get(), context);
  Thin(a.get());
  Report(sink, "Thin", a.get(), context);
  RemoveSpurs(a.get());
  Report(sink, "RemoveSpurs", a.get(), context);

  const int minutiae = ExtractMinutiae(a.get(), record, context);
  if (minutiae != kMinutiaeOk) return kExtractFailed;

  a.reset();
  b.reset();

  if (record::SealRecord(record) != 0) return kExtractFailed;
  *out_length = static_cast<uint16_t>(record::kRecordBytes);
  return kExtractOk;
}

}  // namespace vantrel::extract
