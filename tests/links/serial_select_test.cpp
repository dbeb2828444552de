// VANTREL_SIMULATOR names the stand-in links: hid and com<N>, combinable with disk.
#include <gtest/gtest.h>

#include <cstdlib>

#include "reader/platform/platform.h"
#include "reader/platform/system_backends.h"
#include "reader/platform/virtual/virtual_hid.h"
#include "reader/platform/virtual/virtual_serial.h"

namespace vantrel::testing {
namespace {

TEST(SimulatorSelection, ComAndHidNamesAttachTheStandIn) {
  const platform::Providers previous = platform::Current();
  ::setenv("VANTREL_SIMULATOR", "disk, COM3,hid,com5", 1);
  platform::SelectBackendsAtLoad();
  EXPECT_EQ(platform::Current().serial, &platform::SimulatedSerial());
  EXPECT_EQ(platform::Current().hid, &platform::SimulatedHid());
  auto com3 = platform::SimulatedSerial().Open(3, 9600);
  EXPECT_NE(com3, nullptr);
  auto com5 = platform::SimulatedSerial().Open(5, 9600);
  EXPECT_NE(com5, nullptr);
  EXPECT_EQ(platform::SimulatedSerial().Open(4, 9600), nullptr);  // not named
  platform::HidDeviceInfo info[4];
  EXPECT_EQ(platform::SimulatedHid().List(info, 4), 1);
  com3.reset();
  com5.reset();

  // Without the variable the real backends come back.
  ::unsetenv("VANTREL_SIMULATOR");
  platform::SelectBackendsAtLoad();
  EXPECT_EQ(platform::Current().serial, &platform::SystemSerialPorts());
  EXPECT_EQ(platform::Current().hid, &platform::SystemHidDevices());
  platform::Install(previous);
}

}  // namespace
}  // namespace vantrel::testing
