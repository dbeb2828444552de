/* A C program that loads libVantrel.so as an application would and calls two exports
 * that need no reader. Exit status 0 when both give the results they must. */
#include <stdio.h>
#include <vantrel/vantrel.h>

int main(void) {
  int failures = 0;
  if (FPISetParam(5, 57600) != 0) {
    fprintf(stderr, "FPISetParam(5, 57600) did not answer 0\n");
    ++failures;
  }
  if (FPIFingerMatch(1, 2, 3, 4) != 0) {
    fprintf(stderr, "FPIFingerMatch did not answer 0\n");
    ++failures;
  }
  if (FPICheckFinger(3) != -1) {
    fprintf(stderr, "FPICheckFinger(3) did not answer -1\n");
    ++failures;
  }
  if (FPIFeature(10, NULL, NULL) != -3) {
    fprintf(stderr, "FPIFeature(10) did not answer -3\n");
    ++failures;
  }
  printf("%s\n", failures == 0 ? "ok" : "failed");
  return failures == 0 ? 0 : 1;
}
