// Link tables that record every call the exports make, for the dispatch tests.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "reader/api/dispatch.h"
#include "reader/links/link_ops.h"

namespace vantrel::api::testing {

enum LinkId { kDisk = 0, kHid = 1, kSerial = 2 };

struct Call {
  int link;
  std::string operation;
  links::SerialSelection selection;  // as it stood when the call arrived
  int a = 0, b = 0;
};

// What the fake links answer, and what they saw.
struct FakeLog {
  std::vector<Call> calls;
  int result[3] = {0, 0, 0};   // per link, returned by every operation
  int finger_state = 0;
  int value = 0;               // level, count, work mode answered
  std::string text;            // reader-made text, version bytes, search bytes
  int width = 152, height = 200;
  uint8_t pixel_base = 0;      // image byte i is pixel_base + i
  uint8_t field[32] = {};      // the fixed-size field a Set... call received
};
FakeLog& Log();

// Tables whose every member records into Log(). Detect answers result[link].
const links::LinkOps& FakeOps(int link);

// Installs the fake tables for the life of the object and resets the log and the module
// state the dispatch touches.
class FakeLinks {
 public:
  FakeLinks();
  ~FakeLinks();
  FakeLinks(const FakeLinks&) = delete;
  FakeLinks& operator=(const FakeLinks&) = delete;

 private:
  LinkTables previous_;
  links::LinkState state_;
};

}  // namespace vantrel::api::testing
