// The public header compiles as C++ with every warning an error, and its names have C
// linkage.
#include <vantrel/vantrel.h>

#include <type_traits>

static_assert(std::is_same_v<decltype(&FPIFpMatch), int (*)(const char*, const char*, int)>);
static_assert(std::is_same_v<decltype(&FPIGetVersion), int (*)(int, unsigned char*, int*)>);
static_assert(FPI_IMAGE_BYTES == FPI_IMAGE_WIDTH * FPI_IMAGE_HEIGHT);
static_assert(FPI_TEXT_BUFFER_BYTES == 2 * FPI_RECORD_BYTES + 1);

extern "C" int (*const kCxxMatch)(int, int, int, int);
extern "C" int (*const kCxxMatch)(int, int, int, int) = FPIFingerMatch;
