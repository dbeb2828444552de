// BMP files: the layout the library writes, the rules it reads by, and the exports.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "reader/api/bmp_file.h"
#include "reader/api/dispatch.h"
#include "reader/api/image_forms.h"
#include "reader/record/record_text.h"
#include "reader/platform/clock.h"
#include "reader/platform/platform.h"
#include "reader/platform/virtual/virtual_disk.h"
#include "reader/platform/virtual/virtual_hid.h"
#include "reader/platform/virtual/virtual_serial.h"
#include "sim/reader_model.h"
#include "vantrel/vantrel.h"

namespace vantrel::api {
namespace {

std::string TempPath(const std::string& name) {
  return ::testing::TempDir() + "vantrel_bmp_" + name;
}

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::vector<uint8_t> bytes;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return bytes;
  int c;
  while ((c = std::fgetc(f)) != EOF) bytes.push_back(static_cast<uint8_t>(c));
  std::fclose(f);
  return bytes;
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
  std::fclose(f);
}

uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

std::vector<uint8_t> Gradient() {
  std::vector<uint8_t> image(30400);
  for (int i = 0; i < 30400; ++i) image[static_cast<size_t>(i)] = static_cast<uint8_t>(i % 251);
  return image;
}

// A file of the library's layout whose top-down image (as read) is every pixel v.
std::vector<uint8_t> UniformFile(int width, int height, uint8_t v) {
  std::vector<uint8_t> file(1078 + static_cast<size_t>(width) * height, v);
  std::memset(file.data(), 0, 1078);
  file[18] = static_cast<uint8_t>(width);
  file[19] = static_cast<uint8_t>(width >> 8);
  file[22] = static_cast<uint8_t>(height);
  file[23] = static_cast<uint8_t>(height >> 8);
  return file;
}

TEST(BmpFile, WrittenLayoutShowsTheDisplayFormUpright) {
  const std::vector<uint8_t> reader = Gradient();
  const std::string path = TempPath("layout.bmp");
  ASSERT_EQ(WriteBmpFile(path.c_str(), reader.data()), 0);
  const std::vector<uint8_t> file = ReadFile(path);
  ASSERT_EQ(file.size(), 31478u);
  EXPECT_EQ(file[0], 0x42);
  EXPECT_EQ(file[1], 0x4D);
  EXPECT_EQ(Le32(file, 2), 0u);
  EXPECT_EQ(Le32(file, 10), 1078u);
  EXPECT_EQ(Le32(file, 14), 40u);
  EXPECT_EQ(Le32(file, 18), 152u);
  EXPECT_EQ(Le32(file, 22), 200u);
  EXPECT_EQ(file[26] | file[27] << 8, 1);
  EXPECT_EQ(file[28] | file[29] << 8, 8);
  for (size_t at : {30u, 34u, 38u, 42u, 46u, 50u}) EXPECT_EQ(Le32(file, at), 0u) << at;
  for (int i : {0, 1, 128, 255}) {
    const size_t e = 54 + 4 * static_cast<size_t>(i);
    EXPECT_EQ(file[e], i);
    EXPECT_EQ(file[e + 1], i);
    EXPECT_EQ(file[e + 2], i);
    EXPECT_EQ(file[e + 3], 0);
  }
  // The row stored k-th from the bottom is display row 199 - k, that is reader row k
  // inverted.
  for (int k : {0, 1, 199}) {
    for (int x : {0, 151}) {
      EXPECT_EQ(file[1078 + 152 * static_cast<size_t>(k) + static_cast<size_t>(x)],
                255 - reader[static_cast<size_t>(k * 152 + x)]);
    }
  }
  std::remove(path.c_str());
}

TEST(BmpFile, DarkCornersAreTakenAsTheyAreBrightOnesAreTurnedBack) {
  const std::string path = TempPath("corners.bmp");
  uint8_t image[30400];
  WriteFile(path, UniformFile(152, 200, 127));
  ASSERT_EQ(ReadBmpFile(path.c_str(), image), 0);
  EXPECT_EQ(image[0], 127);
  EXPECT_EQ(image[30399], 127);
  WriteFile(path, UniformFile(152, 200, 128));
  ASSERT_EQ(ReadBmpFile(path.c_str(), image), 0);
  EXPECT_EQ(image[0], 127);  // inverted back to reader form
  std::remove(path.c_str());
}

TEST(BmpFile, RoundTripOfAnImageWithBrightDisplayCorners) {
  // Reader form dark everywhere: its display form is bright, so reading turns it back.
  std::vector<uint8_t> reader = Gradient();
  for (uint8_t& v : reader) v = static_cast<uint8_t>(v / 4);
  const std::string path = TempPath("round.bmp");
  ASSERT_EQ(WriteBmpFile(path.c_str(), reader.data()), 0);
  uint8_t back[30400];
  ASSERT_EQ(ReadBmpFile(path.c_str(), back), 0);
  EXPECT_EQ(std::memcmp(back, reader.data(), 30400), 0);
  std::remove(path.c_str());
}

TEST(BmpFile, RefusesWhatDoesNotFitOrEndsEarly) {
  const std::string path = TempPath("bad.bmp");
  uint8_t image[30400];
  EXPECT_EQ(ReadBmpFile(TempPath("missing.bmp").c_str(), image), -1);
  WriteFile(path, UniformFile(256, 360, 10));  // larger than the image area
  EXPECT_EQ(ReadBmpFile(path.c_str(), image), -1);
  std::vector<uint8_t> negative = UniformFile(152, 200, 10);
  negative[25] = 0xFF;  // height negative
  WriteFile(path, negative);
  EXPECT_EQ(ReadBmpFile(path.c_str(), image), -1);
  std::vector<uint8_t> truncated = UniformFile(152, 200, 10);
  truncated.resize(20000);
  WriteFile(path, truncated);
  EXPECT_EQ(ReadBmpFile(path.c_str(), image), -1);
  WriteFile(path, std::vector<uint8_t>(10, 0));  // not even a header
  EXPECT_EQ(ReadBmpFile(path.c_str(), image), -1);
  // A small image fits; with no 8 x 8 corner to measure it is taken as it is.
  WriteFile(path, UniformFile(4, 4, 200));
  ASSERT_EQ(ReadBmpFile(path.c_str(), image), 0);
  EXPECT_EQ(image[15], 200);
  EXPECT_EQ(image[16], 0);
  std::remove(path.c_str());
  EXPECT_EQ(WriteBmpFile("/nonexistent-dir/x.bmp", image), -1);
}

std::vector<uint8_t> ReadPgm(const std::string& name) {
  const std::string path = std::string(VANTREL_FINGERPRINTS_DIR) + "/FVC2002_DB1_B/" + name;
  std::vector<uint8_t> pixels;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return pixels;
  std::fseek(f, 15, SEEK_SET);
  pixels.resize(30400);
  if (std::fread(pixels.data(), 1, pixels.size(), f) != pixels.size()) pixels.clear();
  std::fclose(f);
  return pixels;
}

class BmpExportsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    disk_.AddReader(reader_);
    previous_ = platform::Install(platform::Providers{&disk_, &hid_, &serial_, &clock_});
    tables_ = InstallLinkTables(LinkTables{});
  }
  void TearDown() override {
    EXPECT_EQ(disk_.OpenHandles(), 0);
    InstallLinkTables(tables_);
    platform::Install(previous_);
  }
  sim::ReaderModel reader_;
  platform::VirtualDisk disk_;
  platform::VirtualHid hid_;
  platform::VirtualSerial serial_;
  platform::VirtualClock clock_;
  platform::Providers previous_;
  LinkTables tables_;
};

TEST_F(BmpExportsTest, ImageToBmpWritesTheCapturedImage) {
  const std::vector<uint8_t> image = Gradient();
  reader_.QueueImage(image.data(), 152, 200);
  const std::string path = TempPath("capture.bmp");
  ASSERT_EQ(FPIImg2Bmp(0, path.c_str()), 0);
  const std::vector<uint8_t> file = ReadFile(path);
  ASSERT_EQ(file.size(), 31478u);
  EXPECT_EQ(file[1078 + 152 * 5 + 3], 255 - image[5 * 152 + 3]);
  std::remove(path.c_str());

  reader_.SetPresent(false);
  EXPECT_EQ(FPIImg2Bmp(0, path.c_str()), -1);  // every failure is -1
  EXPECT_TRUE(ReadFile(path).empty());
}

TEST_F(BmpExportsTest, FeatureAndTemplateFromBmpFiles) {
  std::vector<std::string> paths;
  std::vector<std::vector<uint8_t>> forms;
  for (const char* name : {"104_1.pgm", "104_2.pgm", "104_3.pgm"}) {
    std::vector<uint8_t> reader = ReadPgm(name);
    if (reader.empty()) GTEST_SKIP() << "fingerprint images not found";
    // Written by the library; read back by the corner rule.
    paths.push_back(TempPath(std::string(name) + ".bmp"));
    ASSERT_EQ(WriteBmpFile(paths.back().c_str(), reader.data()), 0);
    forms.emplace_back(30400);
    ASSERT_EQ(ReadBmpFile(paths.back().c_str(), forms.back().data()), 0);
  }
  char text[512];
  int length = 0;
  uint8_t features[3][1024] = {};
  for (int i = 0; i < 3; ++i) {
    int n = 0;
    ASSERT_EQ(ExtractGuarded(forms[static_cast<size_t>(i)].data(), features[i], &n), 0);
  }
  char expected[513];
  ASSERT_EQ(FPIBmp2Feature(7, paths[0].c_str(), text, &length), 0);  // port not used
  EXPECT_EQ(length, 512);
  text::WriteNibbleText(features[0], 256, expected);
  EXPECT_EQ(std::string(text, 512), std::string(expected, 512));

  uint8_t templ[1024] = {};
  int n = 0;
  ASSERT_EQ(SynthesiseGuarded(features[0], features[1], features[2], templ, &n), 0);
  ASSERT_EQ(FPIBmp2Template(0, paths[0].c_str(), paths[1].c_str(), paths[2].c_str(), text,
                            &length),
            0);
  EXPECT_EQ(length, 512);
  text::WriteNibbleText(templ, 256, expected);
  EXPECT_EQ(std::string(text, 512), std::string(expected, 512));
  EXPECT_EQ(FPIBmp2Feature(0, TempPath("missing.bmp").c_str(), text, &length), -1);
  EXPECT_EQ(FPIBmp2Template(0, paths[0].c_str(), paths[1].c_str(),
                            TempPath("missing.bmp").c_str(), text, &length),
            -1);
  for (const std::string& p : paths) std::remove(p.c_str());
}

}  // namespace
}  // namespace vantrel::api
