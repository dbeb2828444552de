// Capture, image and match exports: what they hand out and what they refuse.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "reader/api/module_state.h"
#include "tests/api/fake_links.h"
#include "vantrel/vantrel.h"

namespace vantrel::api::testing {
namespace {

class ExportsTest : public ::testing::Test {
 protected:
  FakeLinks fakes_;
};

TEST_F(ExportsTest, SerialFeatureIsCappedAt512CharactersWithoutTerminator) {
  Log().text = std::string(600, '7');
  char text[600];
  std::memset(text, 'x', sizeof text);
  int length = 0;
  EXPECT_EQ(FPIFeature(2, text, &length), 0);
  EXPECT_EQ(length, 512);
  EXPECT_EQ(std::string(text, 512), std::string(512, '7'));
  EXPECT_EQ(text[512], 'x');
  EXPECT_EQ(Log().calls.back().operation, "CaptureFeature");
  EXPECT_EQ(Log().calls.back().selection.port, 2);

  Log().text = "0123";
  EXPECT_EQ(FPITemplate(8, text, &length), 0);
  EXPECT_EQ(length, 4);
  EXPECT_EQ(Log().calls.back().operation, "CaptureTemplate");
}

TEST_F(ExportsTest, SerialCaptureErrorsPassThroughAndWriteNothing) {
  Log().result[kSerial] = -11;
  char text[8] = "keep";
  int length = 99;
  EXPECT_EQ(FPIFeature(1, text, &length), -11);
  EXPECT_EQ(FPITemplateB64(1, text, &length), -11);
  EXPECT_STREQ(text, "keep");
  EXPECT_EQ(length, 99);
}

TEST_F(ExportsTest, SerialBase64IsExactly344CharactersAndNoTerminator) {
  // 256 bytes of 0xFF as nibble text ("??" pairs).
  Log().text = std::string(512, '?');
  char text[345];
  text[344] = 'x';
  int length = 0;
  EXPECT_EQ(FPIFeatureB64(3, text, &length), 0);
  EXPECT_EQ(length, 344);
  EXPECT_EQ(std::string(text, 4), "////");
  EXPECT_EQ(std::string(text + 340, 4), "/w==");
  EXPECT_EQ(text[344], 'x');
}

TEST_F(ExportsTest, ReaderMadeRecordsAreTerminatedOnEveryLink) {
  Log().text = std::string(700, '3');
  char text[513];
  std::memset(text, 'x', sizeof text);
  int length = 0;
  EXPECT_EQ(FPITemplate_RED_IZ(0, text, &length), 0);
  EXPECT_EQ(length, 512);
  EXPECT_EQ(text[511], '3');
  EXPECT_EQ(text[512], '\0');

  Log().text = "6789";
  EXPECT_EQ(FPIFeature_RED_IZ(10, text, &length), 0);  // no range check on these
  EXPECT_EQ(length, 4);
  EXPECT_STREQ(text, "6789");
  EXPECT_EQ(Log().calls.back().selection.port, 10);
  EXPECT_EQ(FPIFeature_RED_IZ(9, text, &length), 0);
  EXPECT_EQ(Log().calls.back().link, kHid);
  EXPECT_EQ(FPIFeature_RED_IZ(0, nullptr, &length), -1);
  EXPECT_EQ(FPITemplate_RED_IZ(0, text, nullptr), -1);
}

TEST_F(ExportsTest, CancelClearsTheFingerWaitFlag) {
  Module().finger_wait_active = 1;
  EXPECT_EQ(FPICancle(), 0);
  EXPECT_EQ(Module().finger_wait_active.load(), 0);
}

TEST_F(ExportsTest, FingerMatchIsInert) {
  EXPECT_EQ(FPIFingerMatch(0, 0, 0, 0), 0);
  EXPECT_EQ(FPIFingerMatch(-1, 99, 12345, -7), 0);
  EXPECT_TRUE(Log().calls.empty());
}

TEST_F(ExportsTest, IdenticalMatchTextsAreRefusedWithMinusThree) {
  const std::string a(512, '5');
  const std::string b = a;  // equal content, other storage
  for (int level : {0, 5, 9}) {
    EXPECT_EQ(FPIFpMatch(a.c_str(), a.c_str(), level), -3);
    EXPECT_EQ(FPIMatch(a.c_str(), b.c_str(), level), -3);
    EXPECT_EQ(FPIVerifyAsc(a.c_str(), b.c_str(), level), -3);
  }
  const std::string c(344, 'Q');
  EXPECT_EQ(FPIFpMatchB64(c.c_str(), std::string(c).c_str(), 3), -3);
  EXPECT_NE(FPIFpMatch(a.c_str(), std::string(512, '6').c_str(), 3), -3);
}

TEST_F(ExportsTest, MatchTextsOfFullLengthNeedNoTerminator) {
  // Two unterminated 513-byte buffers whose first 513 bytes agree: equal.
  std::vector<char> a(513, '4'), b(513, '4');
  EXPECT_EQ(FPIFpMatch(a.data(), b.data(), 3), -3);
  std::vector<char> c(345, 'A'), d(345, 'A');
  EXPECT_EQ(FPIFpMatchB64(c.data(), d.data(), 3), -3);
}

TEST_F(ExportsTest, GetImageDataDeliversDisplayForm) {
  Log().pixel_base = 10;
  std::vector<unsigned char> image(30400);
  int w = 0, h = 0;
  EXPECT_EQ(FPIGetImageData(0, &w, &h, image.data()), 0);
  EXPECT_EQ(w, 152);
  EXPECT_EQ(h, 200);
  // Display row 0 is reader row 199, inverted.
  for (int x : {0, 1, 151}) {
    const uint8_t reader = static_cast<uint8_t>(10 + 199 * 152 + x);
    EXPECT_EQ(image[x], 255 - reader) << x;
  }
  EXPECT_EQ(image[199 * 152 + 5], 255 - 15);
  ASSERT_EQ(Log().calls.size(), 2u);
  EXPECT_EQ(Log().calls[0].operation, "GetImageSize");
  EXPECT_EQ(Log().calls[1].operation, "ReadImage");
  EXPECT_EQ(Log().calls[1].a, 30400);
  EXPECT_EQ(Log().calls[1].b, 0);  // get mode

  EXPECT_EQ(FPIGetImageData(4, &w, &h, image.data()), 0);
  EXPECT_EQ(Log().calls.back().link, kSerial);
}

TEST_F(ExportsTest, ImagesOfAnotherSizeAreRefused) {
  std::vector<unsigned char> image(30400, 0xAB);
  int w = -1, h = -1;
  Log().width = 256;
  Log().height = 360;
  EXPECT_EQ(FPIGetImageImmediately(9, &w, &h, image.data()), -1);
  EXPECT_EQ(FPIGetImageData(0, &w, &h, image.data()), -1);
  EXPECT_EQ(w, 0);
  EXPECT_EQ(h, 0);
  EXPECT_EQ(image[0], 0xAB);
  // The disk fetch is not even attempted for a size the caller cannot hold.
  EXPECT_EQ(Log().calls.back().operation, "GetImageSize");
}

TEST_F(ExportsTest, GetImageReportsTheSizeAndZeroOnFailure) {
  int w = 5, h = 5;
  EXPECT_EQ(FPIGetImage(9, &w, &h), 0);
  EXPECT_EQ(w, 152);
  EXPECT_EQ(h, 200);
  Log().result[kDisk] = -6;
  EXPECT_EQ(FPIGetImage(0, &w, &h), -6);
  EXPECT_EQ(w, 0);
  EXPECT_EQ(h, 0);
}

TEST_F(ExportsTest, UploadImageUsesUploadModeAndChecksTheSize) {
  std::vector<unsigned char> image(100);
  EXPECT_EQ(FPIUploadImage(3, 10, 10, image.data()), 0);
  EXPECT_EQ(Log().calls.back().a, 100);
  EXPECT_EQ(Log().calls.back().b, 1);
  EXPECT_EQ(image[99], 99);
  const size_t calls = Log().calls.size();
  EXPECT_EQ(FPIUploadImage(0, 0, 10, image.data()), -1);
  EXPECT_EQ(FPIUploadImage(0, 10, -1, image.data()), -1);
  EXPECT_EQ(FPIUploadImage(0, 100000, 100000, image.data()), -1);
  EXPECT_EQ(FPIUploadImage(0, 10, 10, nullptr), -1);
  EXPECT_EQ(Log().calls.size(), calls);
}

TEST_F(ExportsTest, PackedImagePassesTheRequestValue) {
  std::vector<unsigned char> image(30400);
  int w = 0, h = 0, request = 0x1234;
  EXPECT_EQ(FPIGetImageData_RED_IZ(6, &w, &h, image.data(), &request), 0);
  EXPECT_EQ(Log().calls.back().a, 0x1234);
  EXPECT_EQ(w, 152);
  EXPECT_EQ(h, 200);
  w = 7;
  EXPECT_EQ(FPIGetImageData_RED_IZ(0, &w, &h, image.data(), &request), -1);
  EXPECT_EQ(w, 7);  // outputs untouched on port 0
}

// Every export that writes through a pointer answers a missing one with a code.
TEST_F(ExportsTest, NullOutputPointersGiveMinusOne) {
  unsigned char bytes[64] = {};
  char text[600] = {};
  int value = 0;
  for (int port : {0, 9, 3}) {
    EXPECT_EQ(FPIGetVersion(port, nullptr, &value), -1);
    EXPECT_EQ(FPIGetVersion(port, bytes, nullptr), -1);
    EXPECT_EQ(FPIGetSecurityLevel(port, nullptr), -1);
    EXPECT_EQ(FPIGetMBLibCount(port, nullptr), -1);
    EXPECT_EQ(FPISearch(port, 1, 2, nullptr, &value), -1);
    EXPECT_EQ(FPISearch(port, 1, 2, bytes, nullptr), -1);
    EXPECT_EQ(FPIGetImage(port, nullptr, &value), -1);
    EXPECT_EQ(FPIGetImageData(port, &value, nullptr, bytes), -1);
    EXPECT_EQ(FPIGetImageData(port, &value, &value, nullptr), -1);
    EXPECT_EQ(FPIFeature(port, nullptr, &value), -1);
    EXPECT_EQ(FPITemplate(port, text, nullptr), -1);
    EXPECT_EQ(FPIFeatureB64(port, nullptr, &value), -1);
    EXPECT_EQ(FPITemplateB64(port, text, nullptr), -1);
  }
  EXPECT_EQ(FPIGetWorkMode(3, nullptr), -1);
  EXPECT_EQ(FPIGetStatus(3, nullptr), -1);
  EXPECT_EQ(FPIGetErrorCode(3, nullptr), -1);
  EXPECT_EQ(FPIGetSequence(3, nullptr), -1);
  EXPECT_EQ(FPISetSequence(3, nullptr), -1);
  EXPECT_EQ(FPIGetImageImmediately(0, nullptr, &value, bytes), -1);
  int request = 0;
  EXPECT_EQ(FPIGetImageData_RED_IZ(3, &value, &value, bytes, nullptr), -1);
  EXPECT_EQ(FPIGetImageData_RED_IZ(3, &value, &value, nullptr, &request), -1);
  EXPECT_TRUE(Log().calls.empty());

  EXPECT_EQ(FPIGetTemplateByFeature(nullptr, text, text, text, &value), -1);
  EXPECT_EQ(FPIGetTemplateByFeature(text, text, text, nullptr, &value), -1);
  EXPECT_EQ(FPIFpMatch(nullptr, text, 3), -1);
  EXPECT_EQ(FPIVerifyAsc(text, nullptr, 3), -1);
  EXPECT_EQ(FPIFpMatchB64(nullptr, nullptr, 3), -1);
  EXPECT_EQ(FPIGetFeatureQuality(nullptr), -2);
  EXPECT_EQ(FPIExtract(nullptr, text, &value), -1);
  EXPECT_EQ(FPIEnroll(bytes, bytes, bytes, text, nullptr), -1);
  EXPECT_EQ(FPIImg2Bmp(0, nullptr), -1);
  EXPECT_EQ(FPIBmp2Feature(0, nullptr, text, &value), -1);
  EXPECT_EQ(FPIBmp2Template(0, "a", "b", nullptr, text, &value), -1);
}

}  // namespace
}  // namespace vantrel::api::testing
