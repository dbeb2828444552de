// Cost of the packet layer and of a whole disk-link command through the stand-in
// reader (no real device): frame building and checking, and an image fetch.
#include <benchmark/benchmark.h>

#include <vector>

#include "reader/links/link_ops.h"
#include "reader/platform/clock.h"
#include "reader/platform/platform.h"
#include "reader/platform/virtual/virtual_disk.h"
#include "reader/protocol/frames.h"
#include "sim/reader_model.h"

namespace {

using namespace vantrel;

void BM_CheckImageReply(benchmark::State& state) {
  std::vector<uint8_t> reply(30407, 0x80);
  reply[0] = 0x02;
  reply[1] = static_cast<uint8_t>(30402 >> 8);
  reply[2] = static_cast<uint8_t>(30402 & 0xFF);
  reply[3] = 0;
  reply[30405] = protocol::Checksum(reply.data() + 1, 30404);
  reply[30406] = 0x03;
  for (auto _ : state) {
    benchmark::DoNotOptimize(protocol::CheckBinaryReply(reply.data(), 30407, 30407));
  }
  state.SetBytesProcessed(state.iterations() * 30407);
}
BENCHMARK(BM_CheckImageReply);

struct StandIn {
  StandIn() {
    disk.AddReader(reader);
    platform::Providers p;
    p.disk = &disk;
    p.clock = &clock;
    platform::Install(p);
  }
  sim::ReaderModel reader;
  platform::VirtualDisk disk;
  platform::VirtualClock clock;
};

void BM_DiskFingerState(benchmark::State& state) {
  StandIn s;
  for (auto _ : state) benchmark::DoNotOptimize(links::DiskLinkOps().FingerState());
}
BENCHMARK(BM_DiskFingerState);

void BM_DiskImageFetch(benchmark::State& state) {
  StandIn s;
  std::vector<uint8_t> image(152 * 200);
  int width = 0;
  int height = 0;
  links::DiskLinkOps().GetImageSize(&width, &height);
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        links::DiskLinkOps().ReadImage(152, 200, image.data(), 0, nullptr, nullptr));
  }
}
BENCHMARK(BM_DiskImageFetch);

}  // namespace

BENCHMARK_MAIN();
