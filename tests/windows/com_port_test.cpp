// The COM port backend against the stand-in reader behind a Wine COM port (run by
// serial_through_wine.sh with the port number as the argument): the \\.\COMn form for
// numbers above 9, the per-read time-outs (a zero one included), an exchange and closing.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

#include "reader/platform/serial_port.h"

namespace vantrel::platform {
namespace {

int g_com = 0;

TEST(ComPorts, TimedReadsAnExchangeAndClosing) {
  ASSERT_GT(g_com, 0) << "give the COM number that leads to the stand-in";
  // A read that waited for ever would hang the test: end the process instead.
  std::thread([] {
    Sleep(20000);
    std::fprintf(stderr, "a read did not return\n");
    std::_Exit(1);
  }).detach();

  auto port = ComPorts().Open(g_com, 9600);
  ASSERT_NE(port, nullptr);
  // (A second opener is refused on Windows; Wine does not hold serial devices exclusive.)
  EXPECT_EQ(ComPorts().Open(g_com + 1, 9600), nullptr) << "no such port";

  uint8_t byte = 0xAA;
  // The stand-in is silent until asked: zero and short waits come back empty.
  for (uint32_t wait_ms : {0u, 0u, 150u}) {
    EXPECT_EQ(port->ReadByte(&byte, wait_ms), SerialRead::kNoByte) << wait_ms;
  }
  // The raw version request: the answer begins with the start marker.
  const uint8_t request[] = {0x1A, 'V'};
  port->DiscardInput();
  ASSERT_TRUE(port->Write(request, sizeof request));
  ASSERT_EQ(port->ReadByte(&byte, 2000), SerialRead::kByte);
  EXPECT_EQ(byte, 0x02);
  int rest = 0;
  while (port->ReadByte(&byte, 300) == SerialRead::kByte && byte != 0x03) ++rest;
  EXPECT_EQ(byte, 0x03);
  EXPECT_GT(rest, 0);
  EXPECT_TRUE(port->Close());
  EXPECT_TRUE(port->Close()) << "closing twice is harmless";
  // Released: it opens again.
  EXPECT_NE(ComPorts().Open(g_com, 9600), nullptr);
}

}  // namespace
}  // namespace vantrel::platform

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  if (argc > 1) vantrel::platform::g_com = std::atoi(argv[1]);
  return RUN_ALL_TESTS();
}
