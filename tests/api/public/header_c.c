/* The public header compiles as C11 with every warning an error. */
#include <vantrel/vantrel.h>

#include <stddef.h>

typedef int (*PortCall)(int);

/* Taking the addresses checks the declarations without calling anything. */
const PortCall kPortCalls[] = {FPIReset, FPIFree, FPICalibrate, FPIClearMBLib, FPIWriteMBLib,
                               FPICheckFinger};
int (*const kDetect)(void) = FPIDevDetect;
int (*const kCancel)(void) = FPICancle;
int (*const kInsert)(int, int, const unsigned char*, int, const char*, int) = FPIInsertMBLib;
int (*const kImage)(int, int*, int*, unsigned char*) = FPIGetImageData;
const size_t kTextBytes = FPI_TEXT_BUFFER_BYTES;
