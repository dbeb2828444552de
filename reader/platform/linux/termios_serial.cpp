// Serial ports through termios: exclusive, 8N1, raw, one byte per read with poll().
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

#include "reader/platform/clock.h"
#include "reader/platform/platform.h"
#include "reader/platform/serial_port.h"

namespace vantrel::platform {

namespace {

// The rates the reader speaks; anything else is refused rather than guessed.
speed_t SpeedOf(int baud) {
  switch (baud) {
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    default: return 0;
  }
}

class TermiosPort final : public SerialPort {
 public:
  explicit TermiosPort(int fd) : fd_(fd) {}
  ~TermiosPort() override {
    if (fd_ >= 0) ::close(fd_);
  }
  bool Drain() override {
    for (;;) {
      if (::tcdrain(fd_) == 0) return true;
      if (errno != EINTR) return false;
    }
  }
  void DiscardOutput() override { ::tcflush(fd_, TCOFLUSH); }
  void DiscardInput() override { ::tcflush(fd_, TCIFLUSH); }
  bool Write(const uint8_t* bytes, int count) override {
    int done = 0;
    while (done < count) {
      const ssize_t n = ::write(fd_, bytes + done, static_cast<size_t>(count - done));
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        // The output queue is full: wait for room rather than drop the rest.
        pollfd p{fd_, POLLOUT, 0};
        if (::poll(&p, 1, 1000) <= 0 || (p.revents & (POLLERR | POLLHUP | POLLNVAL))) {
          return false;
        }
        continue;
      }
      if (n <= 0) return false;
      done += static_cast<int>(n);
    }
    return true;
  }
  SerialRead ReadByte(uint8_t* byte, uint32_t timeout_ms) override {
    // The wait is measured on the wall clock so that EINTR does not restart it.
    Clock& clock = SystemClock();
    const Deadline deadline{clock.TickMs(), timeout_ms};
    for (;;) {
      const uint32_t left = deadline.RemainingMs(clock);
      pollfd p{fd_, POLLIN, 0};
      const int r = ::poll(&p, 1, static_cast<int>(left > 0x7FFFFFFF ? 0x7FFFFFFF : left));
      if (r < 0) {
        if (errno == EINTR) continue;
        return SerialRead::kError;
      }
      if (r == 0) return SerialRead::kNoByte;
      if (p.revents & POLLIN) {
        const ssize_t n = ::read(fd_, byte, 1);
        if (n == 1) return SerialRead::kByte;
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        return SerialRead::kError;
      }
      if (p.revents & (POLLERR | POLLHUP | POLLNVAL)) return SerialRead::kError;
    }
  }
  void ClearError() override { ::tcflush(fd_, TCIOFLUSH); }
  bool Close() override {
    if (fd_ < 0) return true;
    Drain();  // the release sequence written last goes out before the line is let go
    ::ioctl(fd_, TIOCNXCL);
    if (::close(fd_) != 0 && errno != EINTR) return false;
    fd_ = -1;
    return true;
  }

 private:
  int fd_;
};

class TermiosPorts final : public SerialPorts {
 public:
  std::unique_ptr<SerialPort> Open(int com_number, int baud) override {
    const speed_t speed = SpeedOf(baud);
    if (speed == 0 || com_number < 1) return nullptr;
    char name[32];
    std::snprintf(name, sizeof name, "VANTREL_COM%d", com_number);
    char path[64];
    const char* chosen = std::getenv(name);
    if (chosen != nullptr && chosen[0] != '\0') {
      std::snprintf(path, sizeof path, "%s", chosen);
    } else {
      std::snprintf(path, sizeof path, "/dev/ttyS%d", com_number - 1);
    }
    const int fd = ::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return nullptr;
    auto port = std::make_unique<TermiosPort>(fd);
    // Exclusive like a COM port: a second opener gets EBUSY.
    if (::ioctl(fd, TIOCEXCL) != 0) return nullptr;
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0) return nullptr;
    ::cfmakeraw(&tio);
    tio.c_cflag &= ~(PARENB | CSTOPB | CSIZE | CRTSCTS);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    tio.c_iflag &= ~(IXON | IXOFF | IXANY);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    if (::cfsetispeed(&tio, speed) != 0 || ::cfsetospeed(&tio, speed) != 0) return nullptr;
    if (::tcsetattr(fd, TCSANOW, &tio) != 0) return nullptr;
    // Stale input only: purging output would throw away, on a pseudo-terminal, the
    // release sequence of the last close that the other side has not read yet.
    ::tcflush(fd, TCIFLUSH);
    return port;
  }
};

}  // namespace

SerialPorts& TermiosSerialPorts() {
  static TermiosPorts ports;
  return ports;
}

}  // namespace vantrel::platform
