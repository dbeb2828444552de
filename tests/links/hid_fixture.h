// Shared set-up of the HID link tests: stand-in devices on a fresh virtual HID seam, a
// virtual clock, and a scripted device for report-exact replies.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "reader/links/hid_link.h"
#include "reader/links/link_ops.h"
#include "reader/platform/clock.h"
#include "reader/platform/platform.h"
#include "reader/platform/virtual/virtual_hid.h"
#include "sim/reader_model.h"
#include "tools/fingerprint_pgm.h"

namespace vantrel::testing {

// A device whose input reports are given one by one; an empty queue is a time-out.
class ScriptedHid final : public platform::HidDevice {
 public:
  std::deque<std::vector<uint8_t>> reports;  // payloads; the id byte 0 is put in front
  std::vector<std::vector<uint8_t>> written;
  int reads = 0;
  bool gone = false;
  int input_length = 65;
  int output_length = 65;

  int InputReportLength() const override { return input_length; }
  int OutputReportLength() const override { return output_length; }
  platform::HidIo WriteReport(const uint8_t* report, int length, uint32_t) override {
    written.emplace_back(report, report + length);
    return platform::HidIo::kDone;
  }
  platform::HidIo ReadReport(uint8_t* report, int capacity, int* length, uint32_t) override {
    ++reads;
    if (gone) return platform::HidIo::kGone;
    if (reports.empty()) return platform::HidIo::kTimeout;
    std::vector<uint8_t> next(1, 0);
    next.insert(next.end(), reports.front().begin(), reports.front().end());
    next.resize(static_cast<size_t>(input_length), 0);
    reports.pop_front();
    *length = std::min(capacity, static_cast<int>(next.size()));
    std::memcpy(report, next.data(), static_cast<size_t>(*length));
    return platform::HidIo::kDone;
  }
  void AbandonPending() override {}
};

// A short-form reply: 02, length, status, spare, data, checksum, 03.
inline std::vector<uint8_t> BinaryReply(const std::vector<uint8_t>& data, uint8_t status = 0) {
  std::vector<uint8_t> reply(data.size() + 7, 0);
  const size_t c = data.size() + 2;
  reply[0] = 0x02;
  reply[1] = static_cast<uint8_t>(c >> 8);
  reply[2] = static_cast<uint8_t>(c);
  reply[3] = status;
  std::copy(data.begin(), data.end(), reply.begin() + 5);
  uint8_t sum = 0;
  for (size_t i = 1; i < c + 3; ++i) sum ^= reply[i];
  reply[c + 3] = sum;
  reply[c + 4] = 0x03;
  return reply;
}

// Cuts bytes into 64-byte payloads.
inline std::deque<std::vector<uint8_t>> Payloads(const std::vector<uint8_t>& bytes) {
  std::deque<std::vector<uint8_t>> out;
  for (size_t at = 0; at < bytes.size(); at += 64) {
    const size_t end = std::min(bytes.size(), at + 64);
    out.emplace_back(bytes.begin() + static_cast<long>(at), bytes.begin() + static_cast<long>(end));
  }
  return out;
}

// Loads a 152 x 200 binary PGM; empty when it is missing.
inline std::vector<uint8_t> LoadPgm(const std::string& path) {
  return vantrel::tools::ReadFingerprintPgm(path);
}

class HidTest : public ::testing::Test {
 protected:
  void SetUp() override {
    links::hid::TeardownHidLink();
    previous_ = platform::Install({nullptr, &hid_, nullptr, &clock_});
  }
  void TearDown() override {
    links::hid::TeardownHidLink();
    platform::Install(previous_);
  }
  const links::LinkOps& Ops() { return links::HidLinkOps(); }
  sim::HidDeviceSim& AddReader(uint16_t vendor = 0x4B21, uint16_t product = 0x0771) {
    return hid_.AddReader(model_, vendor, product);
  }

  sim::ReaderModel model_;
  platform::VirtualHid hid_;
  platform::VirtualClock clock_{5000};
  platform::Providers previous_;
};

}  // namespace vantrel::testing
