#include "sim/disk_reader_sim.h"

#include <algorithm>
#include <cstring>

namespace vantrel::sim {

namespace {

constexpr uint8_t kInquiry = 0x12;
constexpr uint8_t kVendor = 0xFF;
constexpr char kTag[] = "ORVANTA771";
constexpr int kLargestReply = 65535;

bool VendorBlockValid(const uint8_t* cdb, bool to_device, int length) {
  if (cdb[0] != kVendor || cdb[15] != kVendor) return false;
  if (std::memcmp(cdb + 5, kTag, 10) != 0) return false;
  if (cdb[4] != (to_device ? 0x00 : 0x80)) return false;
  return ((cdb[2] << 8) | cdb[3]) == length;
}

}  // namespace

DiskAnswer DiskReaderSim::Execute(const uint8_t* cdb, int cdb_length, bool to_device,
                                  uint8_t* data, int length, int* transferred) {
  if (transferred != nullptr) *transferred = 0;
  if (!model_->Present()) return DiskAnswer::kGone;
  if (cdb == nullptr || length < 0 || (length > 0 && data == nullptr)) {
    return DiskAnswer::kCheckCondition;
  }
  if (cdb_length == 6 && cdb[0] == kInquiry) {
    if (to_device || length < 1) return DiskAnswer::kCheckCondition;
    uint8_t inquiry[192];
    if (!model_->Inquiry(inquiry)) {
      return model_->Present() ? DiskAnswer::kPending : DiskAnswer::kGone;
    }
    const int count = std::min({length, static_cast<int>(cdb[4]), 192});
    std::memcpy(data, inquiry, static_cast<size_t>(count));
    if (transferred != nullptr) *transferred = count;
    return DiskAnswer::kGood;
  }
  if (cdb_length != 16 || !VendorBlockValid(cdb, to_device, length)) {
    return DiskAnswer::kCheckCondition;
  }
  if (to_device) {
    // The reader answers at once and keeps the reply for the fetch that follows.
    reply_.assign(kLargestReply, 0);
    const int written = model_->AnswerBinary(SimLink::kDisk, data, length, reply_.data(),
                                             kLargestReply);
    reply_.resize(static_cast<size_t>(written));
    has_reply_ = written > 0;
    if (transferred != nullptr) *transferred = length;
    // Answered, then unplugged: the fetch will find nothing.
    return DiskAnswer::kGood;
  }
  if (!has_reply_) {
    // A silent reader: the fetch runs into its time-out.
    return DiskAnswer::kGone;
  }
  const int count = std::min(length, static_cast<int>(reply_.size()));
  std::memcpy(data, reply_.data(), static_cast<size_t>(count));
  if (transferred != nullptr) *transferred = count;
  has_reply_ = false;
  reply_.clear();
  return DiskAnswer::kGood;
}

}  // namespace vantrel::sim
