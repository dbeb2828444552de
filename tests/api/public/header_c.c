/* The public header compiles as C11 with every warning an error. */
#include <vantrel/vantrel.h>

#include <stddef.h>

typedef int(FPI_CALL* PortCall)(int);

/* Taking the addresses checks the declarations without calling anything. */
const PortCall kPortCalls[] = {FPIReset, FPIFree, FPICalibrate, FPIClearMBLib, FPIWriteMBLib,
                               FPICheckFinger};
int(FPI_CALL* const kDetect)(void) = FPIDevDetect;
int(FPI_CALL* const kCancel)(void) = FPICancle;
int(FPI_CALL* const kInsert)(int, int, const unsigned char*, int, const char*, int) = FPIInsertMBLib;
int(FPI_CALL* const kImage)(int, int*, int*, unsigned char*) = FPIGetImageData;
const size_t kTextBytes = FPI_TEXT_BUFFER_BYTES;
