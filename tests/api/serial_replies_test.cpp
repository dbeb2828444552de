// The capture exports over the serial link, against a port that answers byte for byte:
// record texts longer than a record reach the caller as each export cuts them.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "reader/api/dispatch.h"
#include "tests/links/serial_fixture.h"
#include "vantrel/vantrel.h"

namespace vantrel::api {
namespace {

using vantrel::testing::ScriptedPorts;
using vantrel::testing::Nibbles;
using vantrel::testing::Ramp;
using vantrel::testing::TextReply;

class SerialRepliesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = platform::Install(platform::Providers{nullptr, nullptr, &ports_, &clock_});
    tables_ = InstallLinkTables(LinkTables{});
    state_ = links::State();
    links::State() = links::LinkState{};
    links::serial::ResetForTests();
  }
  void TearDown() override {
    EXPECT_FALSE(ports_.open);
    links::serial::ResetForTests();
    links::State() = state_;
    InstallLinkTables(tables_);
    platform::Install(previous_);
  }

  ScriptedPorts ports_;
  platform::VirtualClock clock_{5000};
  platform::Providers previous_;
  LinkTables tables_;
  links::LinkState state_;
};

TEST_F(SerialRepliesTest, RecordTextsLongerThan512CharactersGiveTheFirst512) {
  const std::vector<uint8_t> data = Ramp(300, 13);  // 600 data characters
  const std::string first = Nibbles(data).substr(0, 512);
  struct Row {
    const char* name;
    std::function<int(char*, int*)> call;
    bool terminated;
  };
  const Row rows[] = {
      {"FPIFeature", [](char* t, int* n) { return FPIFeature(3, t, n); }, false},
      {"FPITemplate", [](char* t, int* n) { return FPITemplate(3, t, n); }, false},
      {"FPIFeature_RED_IZ", [](char* t, int* n) { return FPIFeature_RED_IZ(3, t, n); }, true},
      {"FPITemplate_RED_IZ", [](char* t, int* n) { return FPITemplate_RED_IZ(3, t, n); }, true},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ports_.replies = {TextReply(data)};
    char text[600];
    std::memset(text, 'x', sizeof text);
    int length = 0;
    ASSERT_EQ(row.call(text, &length), 0);
    EXPECT_EQ(length, 512);
    EXPECT_EQ(std::string(text, 512), first);
    EXPECT_EQ(text[512], row.terminated ? '\0' : 'x');
  }
}

TEST_F(SerialRepliesTest, Base64CapturesTakeTheFirst512CharactersOfAnyLongerReply) {
  const std::vector<uint8_t> record = Ramp(256, 13);
  std::vector<uint8_t> longer = record;
  longer.resize(300, 0x77);
  for (auto* call : {&FPIFeatureB64, &FPITemplateB64}) {
    char exact[344];
    char cut[344];
    int length = 0;
    ports_.replies = {TextReply(record)};
    ASSERT_EQ(call(3, exact, &length), 0);
    ports_.replies = {TextReply(longer)};
    ASSERT_EQ(call(3, cut, &length), 0);
    EXPECT_EQ(length, 344);
    EXPECT_EQ(std::string(cut, 344), std::string(exact, 344));
  }
}

}  // namespace
}  // namespace vantrel::api
