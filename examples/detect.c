/* The smallest program with the Vantrel library: find the reader, print its version
 * and its template count.
 *
 *   cc detect.c $(pkg-config --cflags --libs vantrel) -o detect
 *   VANTREL_SIMULATOR=disk ./detect        (against the stand-in reader)
 *
 * Exit status 0 when a reader answered, 1 when none was found or a call failed. */
#include <stdio.h>

#include <vantrel/vantrel.h>

int main(void) {
  unsigned char version[FPI_VERSION_BUFFER_BYTES];
  int length = 0;
  int count = 0;
  const int port = FPIDevDetect();
  if (port < 0) {
    printf("no reader found (%d)\n", port);
    return 1;
  }
  if (FPIGetVersion(port, version, &length) != 0 || FPIGetMBLibCount(port, &count) != 0) {
    printf("reader on port %d does not answer\n", port);
    return 1;
  }
  printf("reader on port %d: %.*s, %d templates\n", port, length, (const char*)version, count);
  return 0;
}
