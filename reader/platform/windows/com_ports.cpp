// Serial ports on Windows: \\.\COMn opened exclusively, 8N1 through the DCB, one byte
// per synchronous ReadFile with the read time-out set for each wait.
#include <windows.h>

#include <cstdio>
#include <memory>

#include "reader/platform/serial_port.h"

namespace vantrel::platform {

namespace {

constexpr DWORD kQueueBytes = 1024;
constexpr DWORD kOpenReadTimeoutMs = 100;  // multiplier and constant at open

class ComPort final : public SerialPort {
 public:
  explicit ComPort(HANDLE handle) : handle_(handle) {}
  ~ComPort() override {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  }
  void DiscardOutput() override { PurgeComm(handle_, PURGE_TXABORT | PURGE_TXCLEAR); }
  void DiscardInput() override { PurgeComm(handle_, PURGE_RXABORT | PURGE_RXCLEAR); }
  // Waits until every byte written so far has left the port.
  bool Drain() override { return FlushFileBuffers(handle_) != 0; }

  bool Write(const uint8_t* bytes, int count) override {
    if (count < 0 || (count > 0 && bytes == nullptr)) return false;
    DWORD written = 0;
    if (!WriteFile(handle_, bytes, static_cast<DWORD>(count), &written, nullptr)) return false;
    return written == static_cast<DWORD>(count);
  }

  SerialRead ReadByte(uint8_t* byte, uint32_t timeout_ms) override {
    if (!SetReadTimeout(timeout_ms)) return SerialRead::kError;
    DWORD got = 0;
    if (!ReadFile(handle_, byte, 1, &got, nullptr)) {
      ClearError();
      return SerialRead::kError;
    }
    return got == 1 ? SerialRead::kByte : SerialRead::kNoByte;
  }

  void ClearError() override {
    DWORD errors = 0;
    COMSTAT status;
    ClearCommError(handle_, &errors, &status);
  }

  bool Close() override {
    if (handle_ == INVALID_HANDLE_VALUE) return true;
    if (!CloseHandle(handle_)) return false;
    handle_ = INVALID_HANDLE_VALUE;
    return true;
  }

 private:
  // Every wait replaces all time-outs by its own constant. A constant of 0 with every
  // other field 0 would mean "wait for ever": a zero wait takes what is there instead.
  bool SetReadTimeout(uint32_t timeout_ms) {
    if (timeout_ms == current_timeout_ms_) return true;
    COMMTIMEOUTS timeouts = {};
    if (timeout_ms == 0) {
      timeouts.ReadIntervalTimeout = MAXDWORD;
    } else {
      timeouts.ReadTotalTimeoutConstant = timeout_ms;
    }
    if (!SetCommTimeouts(handle_, &timeouts)) return false;
    current_timeout_ms_ = timeout_ms;
    return true;
  }

  HANDLE handle_;
  uint32_t current_timeout_ms_ = 0xFFFFFFFFu;  // the time-outs set at open
};

class Ports final : public SerialPorts {
 public:
  std::unique_ptr<SerialPort> Open(int com_number, int baud) override {
    if (com_number < 1 || baud <= 0) return nullptr;
    // The device-namespace form reaches COM10 and above as well.
    char name[32];
    std::snprintf(name, sizeof name, "\\\\.\\COM%d", com_number);
    HANDLE handle = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    auto port = std::make_unique<ComPort>(handle);
    if (!SetupComm(handle, kQueueBytes, kQueueBytes)) return nullptr;
    DCB dcb = {};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(handle, &dcb)) return nullptr;
    dcb.BaudRate = static_cast<DWORD>(baud);
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fParity = FALSE;
    // Raw bytes: no flow control and no character that the driver would act on.
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fNull = FALSE;
    dcb.fAbortOnError = FALSE;
    if (!SetCommState(handle, &dcb)) return nullptr;
    COMMTIMEOUTS timeouts = {};
    if (!GetCommTimeouts(handle, &timeouts)) return nullptr;
    timeouts.ReadTotalTimeoutMultiplier = kOpenReadTimeoutMs;
    timeouts.ReadTotalTimeoutConstant = kOpenReadTimeoutMs;
    if (!SetCommTimeouts(handle, &timeouts)) return nullptr;
    PurgeComm(handle, PURGE_TXABORT | PURGE_TXCLEAR | PURGE_RXABORT | PURGE_RXCLEAR);
    return port;
  }
};

}  // namespace

SerialPorts& ComPorts() {
  static Ports ports;
  return ports;
}

}  // namespace vantrel::platform
