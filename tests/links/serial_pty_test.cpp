// End to end over a real terminal: the termios backend against vantrel-sim --serial on a
// pseudo-terminal. Real time, but only exchanges that are answered at once.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "reader/links/link_ops.h"
#include "reader/links/serial_link.h"
#include "reader/platform/clock.h"
#include "reader/platform/platform.h"
#include "reader/platform/serial_port.h"
#include "reader/protocol/result_codes.h"
#include "sim/finger_settings.h"
#include "sim/synthetic_finger.h"
#include "gtest/gtest.h"

namespace vantrel::testing {
namespace {

class SerialPtyTest : public ::testing::Test {
 protected:
  // Arguments of vantrel-sim beyond --serial and the version.
  virtual std::vector<std::string> SimArguments() const { return {}; }

  void SetUp() override {
    const std::string program = std::string(VANTREL_BINARY_DIR) + "/tools/vantrel-sim";
    if (::access(program.c_str(), X_OK) != 0) GTEST_SKIP() << "vantrel-sim not built";
    int out[2];
    ASSERT_EQ(::pipe(out), 0);
    std::vector<std::string> args = {"vantrel-sim", "--serial", "--version", "PTY-1.0"};
    for (const std::string& arg : SimArguments()) args.push_back(arg);
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    pid_ = ::fork();
    ASSERT_GE(pid_, 0);
    if (pid_ == 0) {
      ::unsetenv("VANTREL_SIMULATOR_FINGER");  // the stand-in's default finger
      ::unsetenv("VANTREL_SIMULATOR_IMAGES");
      ::dup2(out[1], 1);
      ::close(out[0]);
      ::close(out[1]);
      ::execv(program.c_str(), argv.data());
      ::_exit(127);
    }
    ::close(out[1]);
    std::string path;
    char c = 0;
    while (::read(out[0], &c, 1) == 1 && c != '\n') path += c;
    ::close(out[0]);
    ASSERT_FALSE(path.empty()) << "vantrel-sim printed no path";
    ::setenv("VANTREL_COM3", path.c_str(), 1);
    previous_ = platform::Install({nullptr, nullptr, &platform::TermiosSerialPorts(),
                                   &platform::SystemClock()});
    links::serial::ResetForTests();
    links::State() = links::LinkState{};
    links::State().serial = {3, 9600};
  }
  void TearDown() override {
    links::serial::ResetForTests();
    if (pid_ > 0) {
      platform::Install(previous_);
      ::kill(pid_, SIGTERM);
      int status = 0;
      ::waitpid(pid_, &status, 0);
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
      ::unsetenv("VANTREL_COM3");
    }
    links::State() = links::LinkState{};
  }
  const links::LinkOps& Ops() { return links::SerialLinkOps(); }

  pid_t pid_ = -1;
  platform::Providers previous_;
};

TEST_F(SerialPtyTest, FramedAndRawCommandsOverTheTerminal) {
  uint8_t version[links::kMaxVersionBytes] = {};
  int length = 0;
  ASSERT_EQ(Ops().GetVersion(version, &length), 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(version), static_cast<size_t>(length)),
            "PTY-1.0");
  EXPECT_EQ(Ops().Detect(), 0);
  EXPECT_EQ(links::serial::State().saved_channel, 1);
  EXPECT_EQ(Ops().SetSecurityLevel(6), 0);
  int level = 0;
  EXPECT_EQ(Ops().GetSecurityLevel(&level), 0);
  EXPECT_EQ(level, 6);
  EXPECT_FALSE(links::serial::State().open);
}

TEST_F(SerialPtyTest, ImageTransferSwitchesTheTerminalRate) {
  std::vector<uint8_t> image(152 * 200, 0x11);
  int width = 0;
  int height = 0;
  ASSERT_EQ(Ops().ReadImage(152, 200, image.data(), 0, &width, &height), 0);
  EXPECT_EQ(width, 152);
  // Nothing queued in the stand-in: the first impression of its default finger.
  EXPECT_EQ(image, sim::DrawImpression(sim::kDefaultFinger, 0));
  EXPECT_FALSE(links::serial::State().open);
}

TEST_F(SerialPtyTest, TermiosPortReadsOneByteAtATime) {
  auto port = platform::TermiosSerialPorts().Open(3, 9600);
  ASSERT_NE(port, nullptr);
  uint8_t byte = 0;
  EXPECT_EQ(port->ReadByte(&byte, 20), platform::SerialRead::kNoByte);
  const uint8_t version[2] = {0x1A, 'V'};
  ASSERT_TRUE(port->Write(version, 2));
  std::string reply;
  while (port->ReadByte(&byte, 1000) == platform::SerialRead::kByte) {
    reply += static_cast<char>(byte);
    if (byte == 0x03) break;
  }
  EXPECT_EQ(reply, "\x02PTY-1.0\x03");
  if (::geteuid() != 0) {  // the superuser may open an exclusive terminal anyway
    EXPECT_EQ(platform::TermiosSerialPorts().Open(3, 9600), nullptr);
  }
  EXPECT_TRUE(port->Close());
  EXPECT_EQ(platform::TermiosSerialPorts().Open(3, 12345), nullptr);  // no such rate
}

TEST_F(SerialPtyTest, MissingTerminalIsNotFound) {
  ::setenv("VANTREL_COM4", "/dev/vantrel-no-such-terminal", 1);
  links::State().serial.port = 4;
  EXPECT_EQ(Ops().Free(), protocol::kNoDevice);
  ::unsetenv("VANTREL_COM4");
}

// A reader that answers only on channel 2 hears a framed exchange only when the channel
// selection written in front of the request reached the line. A terminal hands written
// bytes to the other side at once, but throws away those not yet read there when the
// transmit queue is discarded; so the link must never discard what it wrote itself.
class SerialPtyChannelTest : public SerialPtyTest {
 protected:
  std::vector<std::string> SimArguments() const override { return {"--channel", "2"}; }
};

TEST_F(SerialPtyChannelTest, EveryExchangeIsHeardOnTheReadersChannel) {
  // Each round detects the reader again (channel 1 times out, 2 answers), so each
  // selection and each release must arrive; a lost byte shows within a few rounds.
  for (int round = 0; round < 4; ++round) {
    ASSERT_EQ(Ops().Detect(), 0) << "round " << round;
    ASSERT_EQ(links::serial::State().saved_channel, 2);
    for (int i = 0; i < 10; ++i) {
      ASSERT_EQ(Ops().SetSecurityLevel(i), 0) << "round " << round << ", exchange " << i;
    }
    int level = 0;
    ASSERT_EQ(Ops().GetSecurityLevel(&level), 0);
    EXPECT_EQ(level, 9);
  }
}

}  // namespace
}  // namespace vantrel::testing
