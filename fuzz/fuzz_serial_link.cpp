// The serial link's receive and check path, through every export that uses it.
#include <cstddef>
#include <cstdint>

#include "fuzz/link_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vantrel::fuzz::RunLinkInput(vantrel::fuzz::FuzzLink::kSerial, data, size);
  return 0;
}
