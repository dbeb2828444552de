// BMP files into FPIBmp2Feature and FPIBmp2Template, through the file the library opens.
// The file lives in memory (memfd) and is opened by its /proc path.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

#include "fuzz/rules.h"
#include "vantrel/vantrel.h"

using vantrel::fuzz::Require;

namespace {

// The BMP exports hand out the 512 characters without a terminator.
constexpr size_t kTextChars = 512;

void CheckText(const std::vector<char>& text, int rc, int length) {
  for (size_t i = kTextChars; i < text.size(); ++i) {
    Require(text[i] == '\x5A', "a BMP export writes inside its 512 characters");
  }
  Require(rc == 0 || rc == -1 || rc == -99, "BMP export result");
  if (rc == 0) Require(length == 512, "512 characters");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const int fd = memfd_create("bmp", MFD_CLOEXEC);
  Require(fd >= 0, "memfd");
  Require(ftruncate(fd, 0) == 0, "truncate");
  Require(pwrite(fd, data, size, 0) == static_cast<ssize_t>(size), "write");
  char path[64];
  std::snprintf(path, sizeof path, "/proc/self/fd/%d", fd);

  std::vector<char> text(kTextChars + 16, '\x5A');
  int length = -7;
  int rc = FPIBmp2Feature(0, path, text.data(), &length);
  CheckText(text, rc, length);
  // The template from the same file three times: only worth the time when one feature came.
  if (rc == 0) {
    std::vector<char> templ(kTextChars + 16, '\x5A');
    rc = FPIBmp2Template(0, path, path, path, templ.data(), &length);
    CheckText(templ, rc, length);
  }
  return 0;
}
