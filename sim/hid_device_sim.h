// The stand-in reader as a USB HID device: 64-byte output reports carry the request,
// 64-byte input reports carry the reply, as the reader cuts them.
#pragma once

#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

#include "sim/reader_model.h"

namespace vantrel::sim {

class HidDeviceSim {
 public:
  explicit HidDeviceSim(ReaderModel& model, uint16_t vendor = 0x4B21, uint16_t product = 0x0771);

  // --- Control surface -------------------------------------------------------------
  void SetIds(uint16_t vendor, uint16_t product);
  // Declared report lengths, report-id byte included (the reader: 65 and 65).
  void SetReportLengths(int input, int output);
  // The next reply is preceded by count input reports whose payload does not begin
  // with 0x02.
  void SendBadFirstReports(int count);
  // Output reports are not taken any more (the write stalls).
  void SetStallWrites(bool stall);
  // The next reply stops after its first input report.
  void StopAfterFirstReport();
  ReaderModel& Model() { return model_; }
  uint16_t Vendor() const;
  uint16_t Product() const;
  int InputReportLength() const;
  int OutputReportLength() const;
  // Every output report taken, in order.
  std::vector<std::vector<uint8_t>> WrittenReports() const;
  void ClearWrittenReports();

  // --- The wire ----------------------------------------------------------------------
  bool Present() const { return model_.Present(); }
  // Takes one output report (report-id byte first). False when the write stalls.
  bool TakeOutputReport(const uint8_t* report, int length);
  // A new open of the device starts with no stale input (as a fresh hidraw handle).
  void DropPending();
  // Hands out the next input report; false when none is waiting.
  bool NextInputReport(uint8_t* report, int capacity, int* length);

 private:
  void Answer();
  ReaderModel& model_;
  mutable std::mutex lock_;
  uint16_t vendor_;
  uint16_t product_;
  int input_length_ = 65;
  int output_length_ = 65;
  int bad_first_ = 0;
  bool stall_ = false;
  bool stop_after_first_ = false;
  std::vector<uint8_t> request_;
  std::deque<std::vector<uint8_t>> pending_;
  std::vector<std::vector<uint8_t>> written_;
};

}  // namespace vantrel::sim
