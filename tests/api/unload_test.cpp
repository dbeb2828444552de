// The shared library as an application loads it: exports found by name, unload clean.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <string>

namespace {

const std::string kLibrary = std::string(VANTREL_BINARY_DIR) + "/libVantrel.so";

TEST(SharedLibrary, LoadsAnswersAndUnloadsCleanly) {
  for (int round = 0; round < 2; ++round) {
    void* library = dlopen(kLibrary.c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    using SetParam = int (*)(int, int);
    using CheckFinger = int (*)(int);
    auto set_param = reinterpret_cast<SetParam>(dlsym(library, "FPISetParam"));
    auto check_finger = reinterpret_cast<CheckFinger>(dlsym(library, "FPICheckFinger"));
    ASSERT_NE(set_param, nullptr);
    ASSERT_NE(check_finger, nullptr);
    EXPECT_EQ(set_param(5, 57600), 0);
    EXPECT_EQ(check_finger(4), -1);
    // Internal names stay inside the library.
    EXPECT_EQ(dlsym(library, "_ZN7vantrel3api6OnLoadEv"), nullptr);
    // Unloading runs the HID teardown; it must not fault (the sanitizer build checks).
    EXPECT_EQ(dlclose(library), 0);
  }
}

}  // namespace
