// vantrel-sim: the stand-in reader as a program of its own.
//
//   vantrel-sim --serial [--version TEXT] [--image FILE.pgm] [--channel N]
//
// opens a pseudo-terminal, prints the path of its terminal side on the first line of
// standard output and serves the serial protocol there until SIGTERM or SIGINT. Point
// the library at it with VANTREL_COM<n>=<path>. The line rate the client sets on the
// terminal is the rate the stand-in hears it at, so baud switching behaves as on a wire.
// With --channel N (1 to 4) the stand-in answers only while channel N is selected.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "sim/reader_model.h"
#include "sim/serial_device_sim.h"
#include "tools/fingerprint_pgm.h"

namespace {

volatile std::sig_atomic_t g_stop = 0;

void OnSignal(int) { g_stop = 1; }

int RateOf(speed_t speed) {
  switch (speed) {
    case B9600: return 9600;
    case B19200: return 19200;
    case B38400: return 38400;
    case B57600: return 57600;
    case B115200: return 115200;
    default: return 0;
  }
}

bool LoadPgm(const char* path, std::vector<uint8_t>& pixels) {
  pixels = vantrel::tools::ReadFingerprintPgm(path);
  return !pixels.empty();
}

int ServeSerial(vantrel::sim::ReaderModel& model, int channel) {
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) {
    std::perror("vantrel-sim: pseudo-terminal");
    return 1;
  }
  const char* name = ::ptsname(master);
  if (name == nullptr) {
    std::perror("vantrel-sim: ptsname");
    return 1;
  }
  const std::string path = name;
  // Holding the terminal side open keeps the line up between the client's opens and
  // lets us read the rate the client set. Raw from the start: no echo of our replies.
  const int terminal = ::open(path.c_str(), O_RDWR | O_NOCTTY);
  if (terminal < 0) {
    std::perror("vantrel-sim: open terminal side");
    return 1;
  }
  termios tio{};
  ::tcgetattr(terminal, &tio);
  ::cfmakeraw(&tio);
  ::cfsetispeed(&tio, B9600);
  ::cfsetospeed(&tio, B9600);
  ::tcsetattr(terminal, TCSANOW, &tio);

  vantrel::sim::SerialDeviceSim device(model);
  device.SetAnswerChannel(channel);
  std::printf("%s\n", path.c_str());
  std::fflush(stdout);

  uint8_t buffer[4096];
  std::vector<uint8_t> out;
  while (!g_stop) {
    pollfd p{master, POLLIN, 0};
    const int r = ::poll(&p, 1, 100);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) break;
    if (r == 0 || !(p.revents & POLLIN)) continue;
    const ssize_t n = ::read(master, buffer, sizeof buffer);
    if (n <= 0) continue;
    termios now{};
    const int rate = ::tcgetattr(terminal, &now) == 0 ? RateOf(::cfgetospeed(&now)) : 0;
    device.Write(buffer, static_cast<int>(n), rate);
    out.clear();
    uint8_t byte = 0;
    while (device.ReadByte(&byte)) out.push_back(byte);
    size_t done = 0;
    while (done < out.size() && !g_stop) {
      const ssize_t w = ::write(master, out.data() + done, out.size() - done);
      if (w < 0 && errno == EINTR) continue;
      if (w < 0 && errno == EAGAIN) {
        pollfd q{master, POLLOUT, 0};
        ::poll(&q, 1, 100);
        continue;
      }
      if (w <= 0) break;
      done += static_cast<size_t>(w);
    }
  }
  ::close(terminal);
  ::close(master);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  bool serial = false;
  int channel = 0;
  vantrel::sim::ReaderModel model;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--serial") {
      serial = true;
    } else if (arg == "--version" && i + 1 < argc) {
      model.SetVersion(argv[++i]);
    } else if (arg == "--image" && i + 1 < argc) {
      std::vector<uint8_t> pixels;
      if (!LoadPgm(argv[++i], pixels)) {
        std::fprintf(stderr, "vantrel-sim: %s is not a 152 x 200 binary PGM\n", argv[i]);
        return 2;
      }
      model.QueueImage(pixels.data(), 152, 200);
    } else if (arg == "--channel" && i + 1 < argc) {
      channel = std::atoi(argv[++i]);
      if (channel < 1 || channel > 4) {
        std::fprintf(stderr, "vantrel-sim: the channel is 1 to 4\n");
        return 2;
      }
    } else {
      std::fprintf(stderr, "usage: vantrel-sim --serial [--version TEXT] [--image FILE.pgm] [--channel N]\n");
      return 2;
    }
  }
  if (!serial) {
    std::fprintf(stderr, "usage: vantrel-sim --serial [--version TEXT] [--image FILE.pgm] [--channel N]\n");
    return 2;
  }
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGTERM, &action, nullptr);
  ::sigaction(SIGINT, &action, nullptr);
  return ServeSerial(model, channel);
}
