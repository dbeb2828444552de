#include "sim/hid_device_sim.h"

#include <algorithm>
#include <cstring>

namespace vantrel::sim {

namespace {
constexpr int kPayload = 64;
// Largest reply the reader sends in one go: the first part of a two-part image.
constexpr int kMaxReply = 65536 + 64;
}  // namespace

HidDeviceSim::HidDeviceSim(ReaderModel& model, uint16_t vendor, uint16_t product)
    : model_(model), vendor_(vendor), product_(product) {}

void HidDeviceSim::SetIds(uint16_t vendor, uint16_t product) {
  std::lock_guard<std::mutex> guard(lock_);
  vendor_ = vendor;
  product_ = product;
}
void HidDeviceSim::SetReportLengths(int input, int output) {
  std::lock_guard<std::mutex> guard(lock_);
  input_length_ = input;
  output_length_ = output;
}
void HidDeviceSim::SendBadFirstReports(int count) {
  std::lock_guard<std::mutex> guard(lock_);
  bad_first_ = count;
}
void HidDeviceSim::SetStallWrites(bool stall) {
  std::lock_guard<std::mutex> guard(lock_);
  stall_ = stall;
}
void HidDeviceSim::StopAfterFirstReport() {
  std::lock_guard<std::mutex> guard(lock_);
  stop_after_first_ = true;
}
uint16_t HidDeviceSim::Vendor() const {
  std::lock_guard<std::mutex> guard(lock_);
  return vendor_;
}
uint16_t HidDeviceSim::Product() const {
  std::lock_guard<std::mutex> guard(lock_);
  return product_;
}
int HidDeviceSim::InputReportLength() const {
  std::lock_guard<std::mutex> guard(lock_);
  return input_length_;
}
int HidDeviceSim::OutputReportLength() const {
  std::lock_guard<std::mutex> guard(lock_);
  return output_length_;
}
std::vector<std::vector<uint8_t>> HidDeviceSim::WrittenReports() const {
  std::lock_guard<std::mutex> guard(lock_);
  return written_;
}
void HidDeviceSim::ClearWrittenReports() {
  std::lock_guard<std::mutex> guard(lock_);
  written_.clear();
}

bool HidDeviceSim::TakeOutputReport(const uint8_t* report, int length) {
  std::lock_guard<std::mutex> guard(lock_);
  if (stall_) return false;
  written_.emplace_back(report, report + length);
  // The payload follows the report-id byte; a request starts with 02 and its own length
  // tells where it ends (the padding of the last report is not part of it).
  const int payload = std::min(length - 1, kPayload);
  if (payload <= 0) return true;
  if (request_.empty() && report[1] != 0x02) return true;  // not the start of a request
  request_.insert(request_.end(), report + 1, report + 1 + payload);
  if (request_.size() >= 3) {
    const size_t total = static_cast<size_t>(request_[1] * 256 + request_[2] + 5);
    if (request_.size() >= total) {
      request_.resize(total);
      Answer();
      request_.clear();
    }
  }
  return true;
}

void HidDeviceSim::Answer() {
  // The second part of an immediate capture is the rest of the image the first part
  // took, not a new capture: ask the model for it as the rest of a read-image reply
  // (same frame: the reply does not carry the command code).
  if (request_.size() >= 9 && request_[3] == 0x1E && request_[4] == 1) {
    request_[3] = 0x41;
    request_[request_.size() - 2] ^= 0x1E ^ 0x41;
  }
  static uint8_t reply[kMaxReply];
  const int length = model_.AnswerBinary(SimLink::kHid, request_.data(),
                                         static_cast<int>(request_.size()), reply, kMaxReply);
  if (length <= 0) return;
  const int report_length = std::max(input_length_, 1 + kPayload);
  for (int i = 0; i < bad_first_; ++i) {
    pending_.emplace_back(static_cast<size_t>(report_length), uint8_t{0});
  }
  bad_first_ = 0;
  for (int offset = 0; offset < length; offset += kPayload) {
    std::vector<uint8_t> report(static_cast<size_t>(report_length), 0);
    const int take = std::min(kPayload, length - offset);
    std::memcpy(report.data() + 1, reply + offset, static_cast<size_t>(take));
    pending_.push_back(std::move(report));
    if (stop_after_first_) break;
  }
  stop_after_first_ = false;
}

void HidDeviceSim::DropPending() {
  std::lock_guard<std::mutex> guard(lock_);
  pending_.clear();
  request_.clear();
}

bool HidDeviceSim::NextInputReport(uint8_t* report, int capacity, int* length) {
  std::lock_guard<std::mutex> guard(lock_);
  if (pending_.empty()) return false;
  const std::vector<uint8_t>& next = pending_.front();
  const int take = std::min(capacity, static_cast<int>(next.size()));
  std::memcpy(report, next.data(), static_cast<size_t>(take));
  *length = take;
  pending_.pop_front();
  return true;
}

}  // namespace vantrel::sim
