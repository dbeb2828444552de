// vantrel-sim: the stand-in reader as a program of its own.
//
//   vantrel-sim --serial [--version TEXT] [--image FILE.pgm] [--channel N]
//                [--finger N | --images DIR]
//
// opens a pseudo-terminal, prints the path of its terminal side on the first line of
// standard output and serves the serial protocol there until SIGTERM or SIGINT. Point
// the library at it with VANTREL_COM<n>=<path>. The line rate the client sets on the
// terminal is the rate the stand-in hears it at, so baud switching behaves as on a wire.
// With --channel N (1 to 4) the stand-in answers only while channel N is selected.
// Its finger is synthetic finger N (or VANTREL_SIMULATOR_FINGER, or finger 1), or the
// images of DIR (or VANTREL_SIMULATOR_IMAGES); the reader's feature and template
// commands extract and merge from its captures with the library's own algorithms.
//
//   vantrel-sim --write-set DIR [--fingers N] [--impressions K] [--first ID]
//
// writes K impressions of each of N synthetic fingers (ids ID, ID + 1, ...; defaults
// 10, 8 and 1) as DIR/<finger>_<impression>.pgm, impressions numbered from 1, with a
// manifest.csv, in the layout of the real image sets.
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
#include <filesystem>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "reader/extract/extract_feature.h"
#include "reader/match/synthesis.h"
#include "sim/finger_settings.h"
#include "sim/reader_model.h"
#include "sim/serial_device_sim.h"
#include "sim/synthetic_finger.h"
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

// The reader's own records from its captures: one extracted feature, or three features
// (from at most five captures) merged into a template. Empty when that fails.
std::vector<uint8_t> RecordFromCaptures(vantrel::sim::ReaderModel& model, bool templ) {
  using vantrel::sim::ReaderImage;
  constexpr int kRecord = 256;
  std::vector<uint8_t> features[3];
  int got = 0;
  for (int attempt = 0; attempt < 5 && got < (templ ? 3 : 1); ++attempt) {
    const ReaderImage image = model.TakeImage();
    if (image.width != 152 || image.height != 200) continue;
    std::vector<uint8_t> record(kRecord);
    uint16_t length = 0;
    if (vantrel::extract::ExtractFeature(image.pixels.data(), record.data(), &length) != 0) {
      continue;
    }
    features[got++] = std::move(record);
  }
  if (!templ) return got == 1 ? features[0] : std::vector<uint8_t>{};
  if (got < 3) return {};
  std::vector<uint8_t> merged(kRecord);
  uint16_t length = 0;
  if (vantrel::match::SynthesiseTemplate(features[0].data(), features[1].data(),
                                         features[2].data(), merged.data(), &length) != 0) {
    return {};
  }
  return merged;
}

bool WritePgm(const std::string& path, const std::vector<uint8_t>& pixels) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return false;
  bool ok = std::fwrite(vantrel::tools::kFingerprintPgmHeader, 1,
                        vantrel::tools::kFingerprintPgmHeaderBytes,
                        file) == static_cast<size_t>(vantrel::tools::kFingerprintPgmHeaderBytes);
  ok = ok && std::fwrite(pixels.data(), 1, pixels.size(), file) == pixels.size();
  return std::fclose(file) == 0 && ok;
}

int WriteSet(const std::string& folder, uint32_t fingers, uint32_t impressions, uint32_t first) {
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  FILE* manifest = std::fopen((folder + "/manifest.csv").c_str(), "w");
  if (manifest == nullptr) {
    std::fprintf(stderr, "vantrel-sim: cannot write in %s\n", folder.c_str());
    return 1;
  }
  std::fputs("file,finger,impression,source_set,source_dpi,source_width,source_height\n",
             manifest);
  for (uint32_t f = 0; f < fingers; ++f) {
    for (uint32_t i = 0; i < impressions; ++i) {
      const uint32_t finger = first + f;
      const std::string name = std::to_string(finger) + "_" + std::to_string(i + 1) + ".pgm";
      if (!WritePgm(folder + "/" + name, vantrel::sim::DrawImpression(finger, i))) {
        std::fprintf(stderr, "vantrel-sim: cannot write %s/%s\n", folder.c_str(), name.c_str());
        std::fclose(manifest);
        return 1;
      }
      std::fprintf(manifest, "%s,%u,%u,synthetic,364,152,200\n", name.c_str(), finger, i + 1);
    }
  }
  return std::fclose(manifest) == 0 ? 0 : 1;
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

constexpr char kUsage[] =
    "usage: vantrel-sim --serial [--version TEXT] [--image FILE.pgm] [--channel N]\n"
    "                         [--finger N | --images DIR]\n"
    "       vantrel-sim --write-set DIR [--fingers N] [--impressions K] [--first ID]\n";

int Usage() {
  std::fputs(kUsage, stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  bool serial = false;
  int channel = 0;
  const char* set_folder = nullptr;
  const char* finger = std::getenv("VANTREL_SIMULATOR_FINGER");
  const char* images = std::getenv("VANTREL_SIMULATOR_IMAGES");
  uint32_t fingers = 10, impressions = 8, first = 1;
  vantrel::sim::ReaderModel model;
  // The count options take a finger number's form; --first may be 0, the others not.
  auto count = [&](int& i, uint32_t& out, bool zero_allowed) {
    if (i + 1 >= argc) return false;
    const std::optional<uint32_t> n = vantrel::sim::ParseFingerNumber(argv[++i]);
    if (!n || (*n == 0 && !zero_allowed)) return false;
    out = *n;
    return true;
  };
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
    } else if (arg == "--finger" && i + 1 < argc) {
      finger = argv[++i];
      images = nullptr;
    } else if (arg == "--images" && i + 1 < argc) {
      images = argv[++i];
    } else if (arg == "--write-set" && i + 1 < argc) {
      set_folder = argv[++i];
    } else if (arg == "--fingers") {
      if (!count(i, fingers, false)) return Usage();
    } else if (arg == "--impressions") {
      if (!count(i, impressions, false)) return Usage();
    } else if (arg == "--first") {
      if (!count(i, first, true)) return Usage();
    } else {
      return Usage();
    }
  }
  if (set_folder != nullptr && !serial) {
    if (static_cast<uint64_t>(first) + fingers - 1 > UINT32_MAX) return Usage();
    return WriteSet(set_folder, fingers, impressions, first);
  }
  if (!serial || set_folder != nullptr) return Usage();
  if (!vantrel::sim::PlaceChosenFinger(model, finger, images)) {
    std::fprintf(stderr, "vantrel-sim: no usable finger in %s; synthetic finger taken\n",
                 images != nullptr && *images != '\0' ? images : finger);
  }
  model.SetRecordMaker(RecordFromCaptures);
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  ::sigaction(SIGTERM, &action, nullptr);
  ::sigaction(SIGINT, &action, nullptr);
  return ServeSerial(model, channel);
}
