// The reader's side of the disk link: SCSI commands as the reader receives them. An
// INQUIRY is answered with the identity; a vendor command that sends a request frame
// is answered by the model, and the next vendor command that fetches gets the reply.
#pragma once

#include <cstdint>
#include <vector>

#include "sim/reader_model.h"

namespace vantrel::sim {

enum class DiskAnswer : uint8_t {
  kGood,            // done, status good
  kCheckCondition,  // done, status 0x02 (a command the reader does not know)
  kPending,         // did not complete at once
  kGone,            // the reader is unplugged: the transport fails
};

class DiskReaderSim {
 public:
  explicit DiskReaderSim(ReaderModel& model) : model_(&model) {}

  // One command. to_device: data[0..length) goes to the reader; else up to length
  // bytes are written to data and *transferred tells how many.
  DiskAnswer Execute(const uint8_t* cdb, int cdb_length, bool to_device, uint8_t* data,
                     int length, int* transferred);

  ReaderModel& model() { return *model_; }

 private:
  ReaderModel* model_;
  std::vector<uint8_t> reply_;  // the reply waiting for its fetch
  bool has_reply_ = false;
};

}  // namespace vantrel::sim
