// vantrel: a short command-line session with the fingerprint reader, through the public
// interface of libVantrel.so as any application uses it.
//
//   vantrel demo                 detect, version, set and read the level, template count
//   vantrel [--port N] detect | version | reset | level [n] | count
//
// --port defaults to 0 (the reader on the USB disk link). VANTREL_SIMULATOR=disk runs
// against the stand-in reader instead of a real one.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "vantrel/vantrel.h"

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: vantrel demo\n"
               "       vantrel [--port N] detect | version | reset | level [n] | count\n");
  return 2;
}

bool ParseInt(const char* text, int* value) {
  char* end = nullptr;
  const long v = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || v < -2147483647L - 1 || v > 2147483647L) return false;
  *value = static_cast<int>(v);
  return true;
}

void Report(const std::string& call, int result, const std::string& detail = "") {
  std::printf("%-28s -> %d%s%s\n", call.c_str(), result, detail.empty() ? "" : "  ",
              detail.c_str());
}

std::string VersionText(const unsigned char* bytes, int length) {
  std::string out = "\"";
  for (int i = 0; i < length; ++i) {
    const unsigned char c = bytes[i];
    if (std::isprint(c)) {
      out += static_cast<char>(c);
    } else {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", c);
      out += hex;
    }
  }
  return out + "\"";
}

int Detect() {
  const int port = FPIDevDetect();
  Report("FPIDevDetect()", port, port >= 0 ? "reader on port " + std::to_string(port)
                                           : "no reader found");
  return port;
}

int Version(int port) {
  unsigned char version[FPI_VERSION_BUFFER_BYTES] = {};
  int length = 0;
  const int rc = FPIGetVersion(port, version, &length);
  Report("FPIGetVersion(" + std::to_string(port) + ")", rc,
         rc == 0 ? VersionText(version, length) + " (" + std::to_string(length) + " bytes)" : "");
  return rc;
}

int SetLevel(int port, int level) {
  const int rc = FPISetSecurityLevel(port, level);
  Report("FPISetSecurityLevel(" + std::to_string(port) + ", " + std::to_string(level) + ")", rc);
  return rc;
}

int GetLevel(int port) {
  int level = -1;
  const int rc = FPIGetSecurityLevel(port, &level);
  Report("FPIGetSecurityLevel(" + std::to_string(port) + ")", rc,
         rc == 0 ? "level " + std::to_string(level) : "");
  return rc;
}

int Count(int port) {
  int count = -1;
  const int rc = FPIGetMBLibCount(port, &count);
  Report("FPIGetMBLibCount(" + std::to_string(port) + ")", rc,
         rc == 0 ? std::to_string(count) + " templates" : "");
  return rc;
}

int Demo() {
  const int port = Detect();
  if (port < 0) return 1;
  int failures = 0;
  failures += Version(port) != 0;
  failures += SetLevel(port, 5) != 0;
  failures += GetLevel(port) != 0;
  failures += Count(port) != 0;
  return failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  int port = 0;
  int i = 1;
  if (i + 1 < argc && std::strcmp(argv[i], "--port") == 0) {
    if (!ParseInt(argv[i + 1], &port)) return Usage();
    i += 2;
  }
  if (i >= argc) return Usage();
  const std::string command = argv[i++];
  const int rest = argc - i;

  if (command == "demo" && rest == 0) return Demo();
  if (command == "detect" && rest == 0) return Detect() >= 0 ? 0 : 1;
  if (command == "version" && rest == 0) return Version(port) == 0 ? 0 : 1;
  if (command == "reset" && rest == 0) {
    const int rc = FPIReset(port);
    Report("FPIReset(" + std::to_string(port) + ")", rc);
    return rc == 0 ? 0 : 1;
  }
  if (command == "level" && rest == 0) return GetLevel(port) == 0 ? 0 : 1;
  if (command == "level" && rest == 1) {
    int level = 0;
    if (!ParseInt(argv[i], &level)) return Usage();
    return SetLevel(port, level) == 0 ? 0 : 1;
  }
  if (command == "count" && rest == 0) return Count(port) == 0 ? 0 : 1;
  return Usage();
}
