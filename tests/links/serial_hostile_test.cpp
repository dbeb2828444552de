// Hostile replies: random bytes, random frames. Every command must come back with a
// result code, leave the port closed and never touch memory past a buffer (the
// sanitizer build proves the last).
#include <random>
#include <set>

#include "reader/protocol/result_codes.h"
#include "tests/links/serial_fixture.h"

namespace vantrel::testing {
namespace {

namespace p = protocol;

std::vector<uint8_t> RandomReply(std::mt19937& rng) {
  std::uniform_int_distribution<int> length(0, 400);
  std::uniform_int_distribution<int> byte(0, 255);
  std::uniform_int_distribution<int> nibble(0x30, 0x3F);
  std::vector<uint8_t> reply(static_cast<size_t>(length(rng)));
  const int shape = byte(rng) % 3;
  for (uint8_t& b : reply) b = static_cast<uint8_t>(shape == 0 ? byte(rng) : nibble(rng));
  if (shape != 0 && !reply.empty()) {
    reply.front() = 0x02;
    reply.back() = 0x03;
  }
  return reply;
}

TEST_F(SerialTest, RandomRepliesGiveCodesAndCloseThePort) {
  UseScript();
  std::vector<uint8_t> image(152 * 200);
  const std::set<int> codes = {0, p::kReceiveFailed, p::kSendFailed, p::kNoReply,
                               p::kReplyLengthMismatch, p::kBadStartMarker, p::kBadChecksum,
                               p::kBadEndMarker, p::kBadStatus, p::kDeadlinePassed,
                               p::kReplyTooLong};
  std::mt19937 rng(20261208);
  for (int round = 0; round < 300; ++round) {
    for (int i = 0; i < 3; ++i) script_.replies.push_back(RandomReply(rng));
    uint8_t buffer[links::kMaxVersionBytes] = {};
    char text[513];
    int a = 0;
    int b = 0;
    int result = 0;
    switch (round % 9) {
      case 0: result = Ops().GetStatus(buffer); break;
      case 1: result = Ops().GetSequence(buffer); break;
      case 2: result = Ops().Search(1, 2, buffer, &a); break;
      case 3: result = Ops().CaptureFeature(text, &a); break;
      case 4: result = Ops().GetVersion(buffer, &a); break;
      case 5: result = Ops().ReadImage(152, 200, image.data(), round & 1, &a, &b); break;
      case 6: result = Ops().ReadPackedImage(1, &a, &b, image.data()); break;
      case 7: result = Ops().Reset(); break;
      default: result = Ops().CountTemplates(&a); break;
    }
    EXPECT_TRUE(codes.count(result)) << "round " << round << " gave " << result;
    EXPECT_FALSE(script_.open) << "round " << round;
    script_.replies.clear();
  }
}

}  // namespace
}  // namespace vantrel::testing
