// The public header compiles as C++ with every warning an error, and its names have C
// linkage and the calling convention FPI_CALL names.
#include <vantrel/vantrel.h>

#include <type_traits>

static_assert(std::is_same_v<decltype(&FPIFpMatch), int(FPI_CALL*)(const char*, const char*, int)>);
static_assert(std::is_same_v<decltype(&FPIGetVersion), int(FPI_CALL*)(int, unsigned char*, int*)>);
static_assert(FPI_IMAGE_BYTES == FPI_IMAGE_WIDTH * FPI_IMAGE_HEIGHT);
static_assert(FPI_TEXT_BUFFER_BYTES == 2 * FPI_RECORD_BYTES + 1);

extern "C" int(FPI_CALL* const kCxxMatch)(int, int, int, int);
extern "C" int(FPI_CALL* const kCxxMatch)(int, int, int, int) = FPIFingerMatch;
