// The HID-device seam: list HID devices with their ids, open one, move single reports.
//
// Report form, in both directions and for every backend: byte 0 is the report id, the
// payload follows; report lengths count that byte. A device without numbered reports
// uses report id 0 (the reader does): the backend then passes id 0 in front of every
// input report it reads, and drops byte 0 of an output report the way the system wants
// it for such devices (hidraw takes the 0 and strips it itself).
//
// Contract for every backend (Linux hidraw, Windows HidD/HidP, the in-process stand-in):
// - One thread at a time per open device; the HID link is synchronous.
// - Time-outs are in milliseconds of the Clock of reader/platform/clock.h.
#pragma once

#include <cstdint>
#include <memory>

namespace vantrel::platform {

struct HidDeviceInfo {
  char path[260] = {};           // the backend's name for the device (up to MAX_PATH)
  uint16_t vendor_id = 0;
  uint16_t product_id = 0;
  int input_report_length = 0;   // with the report-id byte, as the device declares it
  int output_report_length = 0;  // likewise
};

enum class HidIo {
  kDone,     // the report went out / one report was stored
  kTimeout,  // nothing within the time-out; the transfer is abandoned
  kGone,     // the device went away or failed; the handle is useless now
};

class HidDevice {
 public:
  virtual ~HidDevice() = default;
  virtual int InputReportLength() const = 0;
  virtual int OutputReportLength() const = 0;
  // Sends one output report of OutputReportLength() bytes, waiting at most timeout_ms
  // for the device to take it.
  virtual HidIo WriteReport(const uint8_t* report, int length, uint32_t timeout_ms) = 0;
  // Reads one input report into report (capacity bytes; a longer report is cut), waiting
  // at most timeout_ms. *length receives the bytes stored, report-id byte included.
  virtual HidIo ReadReport(uint8_t* report, int capacity, int* length,
                           uint32_t timeout_ms) = 0;
  // Gives up a transfer left pending by a time-out. Backends whose transfers never
  // outlive the call (hidraw, the stand-in) have nothing to do.
  virtual void AbandonPending() = 0;
  // Destroying the object closes the device.
};

class HidDevices {
 public:
  virtual ~HidDevices() = default;
  // Fills up to capacity entries with the present HID devices; returns how many.
  virtual int List(HidDeviceInfo* devices, int capacity) = 0;
  // Opens a listed device for reading and writing; nullptr when it cannot be opened.
  virtual std::unique_ptr<HidDevice> Open(const HidDeviceInfo& device) = 0;
  // Registers recipient (a window handle, may be empty) for the system's notices of HID
  // devices arriving and leaving; returns the registration, or nullptr when there is
  // none (no such notices on this system, or the system refused).
  virtual void* RegisterChangeNotices(void* /*recipient*/) { return nullptr; }
  // Releases a registration from RegisterChangeNotices; nullptr is ignored.
  virtual void UnregisterChangeNotices(void* /*registration*/) {}
};

// A provider that lists no device (reader/platform/null_backends.cpp).
HidDevices& NoHidDevices();

// The hidraw backend (reader/platform/linux/hidraw.cpp).
HidDevices& HidrawDevices();

// Report lengths (report-id byte included) declared by a HID report descriptor: the
// largest input and output report (reader/platform/hid_descriptor.cpp).
struct ReportLengths {
  int input = 0;
  int output = 0;
  bool numbered = false;  // the descriptor uses report ids
};
ReportLengths ReportLengthsOf(const uint8_t* descriptor, int size);

}  // namespace vantrel::platform
