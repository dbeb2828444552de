// The serial-port seam: what the serial link needs of a COM port, nothing more.
//
// Contract for every backend (Linux termios, Windows COM ports, the in-process stand-in):
// - Calls on one SerialPort come from one thread at a time (the link is synchronous).
// - Time is the Clock of reader/platform/clock.h: a backend that waits for a byte waits
//   on that clock, so a virtual clock makes long time-outs cost no real time.
#pragma once

#include <cstdint>
#include <memory>

namespace vantrel::platform {

enum class SerialRead {
  kByte,    // one byte was stored
  kNoByte,  // the per-read time-out passed without a byte
  kError,   // the port failed (device gone, I/O error); no byte stored
};

class SerialPort {
 public:
  virtual ~SerialPort() = default;
  // Waits until every byte written has left the port (on a pseudo-terminal: has been
  // handed to the other side). false when the port failed and the bytes may still lie
  // in its transmit queue.
  virtual bool Drain() = 0;
  // Discards bytes written but not yet sent. On a pseudo-terminal this also throws away
  // bytes the other side has not read yet, so the link drains instead where it wrote.
  virtual void DiscardOutput() = 0;
  // Discards bytes received but not yet read.
  virtual void DiscardInput() = 0;
  // Writes all count bytes; false when the port refuses them or takes only part.
  virtual bool Write(const uint8_t* bytes, int count) = 0;
  // Reads ONE byte, waiting at most timeout_ms for it (0: only a byte already there).
  virtual SerialRead ReadByte(uint8_t* byte, uint32_t timeout_ms) = 0;
  // Clears a sticky error state after a failed write, so the port can be used again.
  virtual void ClearError() = 0;
  // Releases the device. false when the system refuses; the object is then still the
  // owner of the device and Close may be tried again. Destroying an open port closes it.
  virtual bool Close() = 0;
};

class SerialPorts {
 public:
  virtual ~SerialPorts() = default;
  // Opens COM com_number (1-based) exclusively at baud, 8 data bits, no parity, one stop
  // bit, raw bytes, stale input purged (nothing the link wrote before is thrown away). nullptr when the port is missing, busy or refuses
  // the settings.
  virtual std::unique_ptr<SerialPort> Open(int com_number, int baud) = 0;
};

// A provider with no ports at all: every Open fails (reader/platform/null_backends.cpp).
SerialPorts& NoSerialPorts();

// The termios backend (reader/platform/linux/termios_serial.cpp). COM n is /dev/ttyS(n-1)
// unless the environment variable VANTREL_COM<n> names another device.
SerialPorts& TermiosSerialPorts();

// The Windows backend (reader/platform/windows/com_ports.cpp): COM n is \\.\COMn.
SerialPorts& ComPorts();

}  // namespace vantrel::platform
