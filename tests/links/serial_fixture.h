// Shared set-up of the serial link tests: the stand-in reader on COM3 of a fresh set of
// virtual ports, a virtual clock, and a scripted port for byte-exact replies.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "reader/links/link_ops.h"
#include "reader/links/serial_link.h"
#include "reader/platform/clock.h"
#include "reader/platform/platform.h"
#include "reader/platform/serial_port.h"
#include "reader/platform/virtual/virtual_serial.h"
#include "sim/reader_model.h"
#include "sim/serial_device_sim.h"

namespace vantrel::testing {

// A port whose replies are given byte for byte: each write that is not a channel
// selection releases the next scripted reply into the input.
class ScriptedPorts final : public platform::SerialPorts {
 public:
  std::deque<std::vector<uint8_t>> replies;
  std::vector<uint8_t> written;
  bool open = false;
  int opens = 0;
  int last_baud = 0;
  int last_com = 0;

  std::unique_ptr<platform::SerialPort> Open(int com, int baud) override;
};

class ScriptedPort final : public platform::SerialPort {
 public:
  explicit ScriptedPort(ScriptedPorts& owner) : owner_(owner) {}
  ~ScriptedPort() override { owner_.open = false; }
  bool Drain() override { return true; }
  void DiscardOutput() override {}
  void DiscardInput() override { input_.clear(); }
  bool Write(const uint8_t* bytes, int count) override {
    owner_.written.insert(owner_.written.end(), bytes, bytes + count);
    const bool selection = count == 3 && bytes[0] == 0x1B;
    if (!selection && !owner_.replies.empty()) {
      input_.insert(input_.end(), owner_.replies.front().begin(), owner_.replies.front().end());
      owner_.replies.pop_front();
    }
    return true;
  }
  platform::SerialRead ReadByte(uint8_t* byte, uint32_t timeout_ms) override {
    if (input_.empty()) {
      platform::Current().clock->SleepMs(timeout_ms);
      return platform::SerialRead::kNoByte;
    }
    *byte = input_.front();
    input_.pop_front();
    return platform::SerialRead::kByte;
  }
  void ClearError() override {}
  bool Close() override {
    owner_.open = false;
    return true;
  }

 private:
  ScriptedPorts& owner_;
  std::deque<uint8_t> input_;
};

inline std::unique_ptr<platform::SerialPort> ScriptedPorts::Open(int com, int baud) {
  last_com = com;
  if (open) return nullptr;
  open = true;
  ++opens;
  last_baud = baud;
  return std::make_unique<ScriptedPort>(*this);
}

// Bytes 0, step, 2 step, ... (mod 256).
inline std::vector<uint8_t> Ramp(int n, int step = 1) {
  std::vector<uint8_t> v(static_cast<size_t>(n));
  for (int i = 0; i < n; ++i) v[static_cast<size_t>(i)] = static_cast<uint8_t>(i * step);
  return v;
}

// The nibble characters of bytes, as a text reply carries its data.
inline std::string Nibbles(const std::vector<uint8_t>& bytes) {
  std::string text;
  for (uint8_t b : bytes) {
    text += static_cast<char>(0x30 + (b >> 4));
    text += static_cast<char>(0x30 + (b & 0x0F));
  }
  return text;
}

// A text reply frame carrying data, as the reader writes it.
inline std::vector<uint8_t> TextReply(const std::vector<uint8_t>& data, uint8_t status = 0) {
  std::vector<uint8_t> bytes;
  const int c = static_cast<int>(data.size()) + 2;
  bytes.push_back(static_cast<uint8_t>(c >> 8));
  bytes.push_back(static_cast<uint8_t>(c));
  bytes.push_back(status);
  bytes.push_back(0);
  bytes.insert(bytes.end(), data.begin(), data.end());
  uint8_t sum = 0;
  for (uint8_t b : bytes) sum ^= b;
  bytes.push_back(sum);
  std::vector<uint8_t> frame{0x02};
  for (uint8_t b : bytes) {
    frame.push_back(static_cast<uint8_t>(0x30 + (b >> 4)));
    frame.push_back(static_cast<uint8_t>(0x30 + (b & 0x0F)));
  }
  frame.push_back(0x03);
  return frame;
}

class SerialTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = platform::Install({nullptr, nullptr, &ports_, &clock_});
    links::serial::ResetForTests();
    links::State() = links::LinkState{};
    links::State().serial = {3, 9600};
    device_ = &ports_.AddReader(3, model_);
  }
  void TearDown() override {
    links::serial::ResetForTests();
    platform::Install(previous_);
    links::State() = links::LinkState{};
  }
  void UseScript() { platform::Install({nullptr, nullptr, &script_, nullptr}); }
  const links::LinkOps& Ops() { return links::SerialLinkOps(); }
  bool NothingOpen() const { return ports_.OpenPorts() == 0 && !links::serial::State().open; }

  sim::ReaderModel model_;
  platform::VirtualSerial ports_;
  platform::VirtualClock clock_{1000};
  ScriptedPorts script_;
  sim::SerialDeviceSim* device_ = nullptr;
  platform::Providers previous_;
};

}  // namespace vantrel::testing
