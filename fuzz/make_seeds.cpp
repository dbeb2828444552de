// Writes seed inputs for the fuzz targets.
//   make_seeds traffic <folder>       the stand-in reader's replies to every export, one
//                                     file per export and link (kept in fuzz/corpus/)
//   make_seeds images <sets> <folder> images, BMP files and records made from the real
//                                     fingerprints (made at run time, never kept)
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "fuzz/export_calls.h"
#include "fuzz/link_harness.h"
#include "fuzz/script_devices.h"
#include "reader/api/bmp_file.h"
#include "reader/api/dispatch.h"
#include "reader/api/image_forms.h"
#include "reader/extract/extract_feature.h"
#include "reader/record/record.h"
#include "reader/links/serial_link.h"
#include "reader/platform/platform.h"
#include "reader/platform/virtual/virtual_disk.h"
#include "reader/platform/virtual/virtual_hid.h"
#include "reader/platform/virtual/virtual_serial.h"
#include "sim/reader_model.h"
#include "tools/fingerprint_pgm.h"

namespace fs = std::filesystem;
using namespace vantrel;
using Script = std::vector<uint8_t>;

namespace {

// Seeds stay small: one image transfer per link, everything else a few hundred bytes.
constexpr size_t kLargestSeed = 4096;
constexpr size_t kLargestImageSeed = 32768;

bool KeepSeed(const char* call, size_t size) {
  const bool image = std::strcmp(call, "FPIGetImageData") == 0 ||
                     std::strcmp(call, "FPIGetImageData_RED_IZ") == 0;
  return size <= (image ? kLargestImageSeed : kLargestSeed);
}

void PutReply(Script& script, uint8_t flags, const uint8_t* bytes, size_t n) {
  script.push_back(flags);
  script.push_back(static_cast<uint8_t>(n >> 8));
  script.push_back(static_cast<uint8_t>(n));
  script.insert(script.end(), bytes, bytes + n);
}

// The disk replies as a ScriptDisk replays them.
class RecordingDisk final : public platform::DiskDevices {
 public:
  RecordingDisk(platform::DiskDevices& inner, Script& script) : inner_(inner), script_(script) {}
  int List(platform::DiskPath* paths, int capacity) override { return inner_.List(paths, capacity); }
  int Open(const char* path) override { return inner_.Open(path); }
  bool Close(int handle) override { return inner_.Close(handle); }
  platform::ScsiResult Execute(int handle, const platform::ScsiCommand& command) override {
    const platform::ScsiResult result = inner_.Execute(handle, command);
    if (command.cdb_length == 16 && command.direction == platform::DataDirection::kFromDevice) {
      if (result.outcome == platform::ScsiOutcome::kDone && result.status == 0) {
        PutReply(script_, 0, command.data, static_cast<size_t>(command.data_length - result.residual));
      } else {
        PutReply(script_, fuzz::kNoReply, nullptr, 0);
      }
    }
    return result;
  }

 private:
  platform::DiskDevices& inner_;
  Script& script_;
};

class RecordingHidDevice final : public platform::HidDevice {
 public:
  RecordingHidDevice(std::unique_ptr<platform::HidDevice> inner, Script& script)
      : inner_(std::move(inner)), script_(script) {}
  ~RecordingHidDevice() override { Flush(); }
  int InputReportLength() const override { return inner_->InputReportLength(); }
  int OutputReportLength() const override { return inner_->OutputReportLength(); }
  platform::HidIo WriteReport(const uint8_t* report, int length, uint32_t timeout_ms) override {
    Flush();
    return inner_->WriteReport(report, length, timeout_ms);
  }
  platform::HidIo ReadReport(uint8_t* report, int capacity, int* length, uint32_t timeout_ms) override {
    const platform::HidIo io = inner_->ReadReport(report, capacity, length, timeout_ms);
    if (io == platform::HidIo::kDone && *length > 1) {
      reply_.insert(reply_.end(), report + 1, report + *length);
    }
    read_ = true;
    return io;
  }
  void AbandonPending() override { inner_->AbandonPending(); }

 private:
  void Flush() {
    if (!read_) return;
    PutReply(script_, reply_.empty() ? fuzz::kNoReply : 0, reply_.data(), reply_.size());
    reply_.clear();
    read_ = false;
  }
  std::unique_ptr<platform::HidDevice> inner_;
  Script& script_;
  std::vector<uint8_t> reply_;
  bool read_ = false;
};

class RecordingHid final : public platform::HidDevices {
 public:
  RecordingHid(platform::HidDevices& inner, Script& script) : inner_(inner), script_(script) {}
  int List(platform::HidDeviceInfo* devices, int capacity) override {
    return inner_.List(devices, capacity);
  }
  std::unique_ptr<platform::HidDevice> Open(const platform::HidDeviceInfo& device) override {
    auto inner = inner_.Open(device);
    if (inner == nullptr) return nullptr;
    return std::make_unique<RecordingHidDevice>(std::move(inner), script_);
  }

 private:
  platform::HidDevices& inner_;
  Script& script_;
};

class RecordingPort final : public platform::SerialPort {
 public:
  RecordingPort(std::unique_ptr<platform::SerialPort> inner, Script& script)
      : inner_(std::move(inner)), script_(script) {}
  bool Drain() override { return inner_->Drain(); }
  void DiscardOutput() override { inner_->DiscardOutput(); }
  void DiscardInput() override { inner_->DiscardInput(); }
  bool Write(const uint8_t* bytes, int count) override { return inner_->Write(bytes, count); }
  platform::SerialRead ReadByte(uint8_t* byte, uint32_t timeout_ms) override {
    const platform::SerialRead r = inner_->ReadByte(byte, timeout_ms);
    if (r == platform::SerialRead::kByte) {
      if (*byte == fuzz::kSerialEscape) {
        script_.push_back(fuzz::kSerialEscape);
        script_.push_back(fuzz::kSerialLiteral);
      } else {
        script_.push_back(*byte);
      }
    } else {
      script_.push_back(fuzz::kSerialEscape);
      script_.push_back(r == platform::SerialRead::kNoByte ? fuzz::kSerialTimeout : fuzz::kSerialFails);
    }
    return r;
  }
  void ClearError() override { inner_->ClearError(); }
  bool Close() override { return inner_->Close(); }

 private:
  std::unique_ptr<platform::SerialPort> inner_;
  Script& script_;
};

class RecordingSerial final : public platform::SerialPorts {
 public:
  RecordingSerial(platform::SerialPorts& inner, Script& script) : inner_(inner), script_(script) {}
  std::unique_ptr<platform::SerialPort> Open(int com_number, int baud) override {
    auto inner = inner_.Open(com_number, baud);
    if (inner == nullptr) return nullptr;
    return std::make_unique<RecordingPort>(std::move(inner), script_);
  }

 private:
  platform::SerialPorts& inner_;
  Script& script_;
};

bool WriteFile(const fs::path& path, const void* bytes, size_t n) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  const bool ok = std::fwrite(bytes, 1, n, f) == n;
  return std::fclose(f) == 0 && ok;
}

std::string FileName(const char* call) {
  std::string name = call;
  for (char& c : name) {
    if (c == ' ') c = '_';
  }
  return name;
}

int Traffic(const fs::path& folder) {
  const struct {
    fuzz::FuzzLink link;
    const char* target;
    int port;
  } links[] = {{fuzz::FuzzLink::kDisk, "fuzz_disk_link", 0},
               {fuzz::FuzzLink::kHid, "fuzz_hid_link", 9},
               {fuzz::FuzzLink::kSerial, "fuzz_serial_link", 3}};
  for (const auto& l : links) {
    const auto& calls = fuzz::CallsOn(l.link);
    fs::create_directories(folder / l.target);
    for (size_t i = 0; i < calls.size(); ++i) {
      sim::ReaderModel reader;
      reader.SetFinger(true);
      std::vector<uint8_t> templ(256, 0x11), feature(256, 0x22);
      templ[0] = feature[0] = 0x67;
      reader.SetReaderRecords(templ, feature);
      platform::VirtualDisk disk;
      platform::VirtualHid hid;
      platform::VirtualSerial serial;
      platform::VirtualClock clock(1000);
      if (l.link == fuzz::FuzzLink::kDisk) disk.AddReader(reader);
      if (l.link == fuzz::FuzzLink::kHid) hid.AddReader(reader);
      if (l.link == fuzz::FuzzLink::kSerial) serial.AddReader(l.port, reader);
      Script script{static_cast<uint8_t>(i)};
      RecordingDisk rdisk(disk, script);
      RecordingHid rhid(hid, script);
      RecordingSerial rserial(serial, script);
      const platform::Providers previous =
          platform::Install(platform::Providers{&rdisk, &rhid, &rserial, &clock, nullptr});
      links::serial::ResetForTests();
      links::State() = links::LinkState{};
      fuzz::Findings findings;
      const int rc = calls[i]->run(l.port, findings);
      links::serial::ResetForTests();
      platform::Install(previous);
      std::printf("%s %-24s rc %4d, %zu bytes%s\n", l.target, calls[i]->name, rc, script.size(),
                  KeepSeed(calls[i]->name, script.size()) ? "" : " (not kept)");
      if (!KeepSeed(calls[i]->name, script.size())) continue;
      if (!WriteFile(folder / l.target / FileName(calls[i]->name), script.data(), script.size())) {
        return 1;
      }
    }
  }
  return 0;
}

int Images(const fs::path& sets, const fs::path& folder) {
  // Three impressions of two fingers: enough to start from, few enough to be quick.
  const char* names[] = {"FVC2002_DB1_B/101_1.pgm", "FVC2002_DB1_B/101_2.pgm",
                         "FVC2002_DB1_B/101_3.pgm", "FVC2002_DB2_B/104_1.pgm",
                         "FVC2002_DB2_B/104_2.pgm", "FVC2002_DB2_B/104_3.pgm"};
  for (const char* t : {"fuzz_extract", "fuzz_bmp", "fuzz_records"}) fs::create_directories(folder / t);
  std::vector<uint8_t> unsealed[6];
  int made = 0;
  for (int i = 0; i < 6; ++i) {
    std::vector<uint8_t> image = tools::ReadFingerprintPgm((sets / names[i]).string());
    if (image.size() != 30400) continue;
    const std::string stem = "image" + std::to_string(i);
    std::vector<uint8_t> display(30400);
    api::FlipImageForm(image.data(), display.data());
    if (!WriteFile(folder / "fuzz_extract" / stem, display.data(), display.size())) return 1;
    if (api::WriteBmpFile((folder / "fuzz_bmp" / (stem + ".bmp")).c_str(), image.data()) != 0) return 1;
    uint8_t sealed[1024] = {};
    uint16_t n = 0;
    if (extract::ExtractFeature(image.data(), sealed, &n) == 0) {
      unsealed[i].resize(256);
      record::UnsealCopy(sealed, unsealed[i].data());
    }
    ++made;
  }
  // Record triples: flags 0 (seal all three), level 5, then the unsealed records.
  for (int finger = 0; finger < 2; ++finger) {
    Script seed{0, 5};
    for (int k = 0; k < 3; ++k) {
      const auto& r = unsealed[finger * 3 + k];
      if (r.empty()) break;
      seed.insert(seed.end(), r.begin(), r.end());
    }
    if (seed.size() == 2 + 3 * 256 &&
        !WriteFile(folder / "fuzz_records" / ("finger" + std::to_string(finger)), seed.data(),
                   seed.size())) {
      return 1;
    }
  }
  std::printf("%d real images made into seeds\n", made);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "traffic") == 0) return Traffic(argv[2]);
  if (argc == 4 && std::strcmp(argv[1], "images") == 0) return Images(argv[2], argv[3]);
  std::fprintf(stderr, "usage: make_seeds traffic <folder> | images <sets> <folder>\n");
  return 2;
}
