// Match, extract and enrol exports on real fingerprint images.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "reader/record/record_text.h"
#include "reader/extract/extract_feature.h"
#include "reader/match/matcher.h"
#include "vantrel/vantrel.h"
#include "tools/fingerprint_pgm.h"

namespace {

// A 152 x 200 binary PGM in reader form, or empty when it cannot be read.
std::vector<uint8_t> ReadPgm(const std::string& name) {
  return vantrel::tools::ReadFingerprintPgm(std::string(VANTREL_FINGERPRINTS_DIR) +
                                            "/FVC2002_DB1_B/" + name);
}

// Reader form to the display form callers hold.
std::vector<uint8_t> ToDisplay(const std::vector<uint8_t>& reader) {
  std::vector<uint8_t> display(30400);
  for (int r = 0; r < 200; ++r) {
    for (int x = 0; x < 152; ++x) {
      display[static_cast<size_t>(r * 152 + x)] =
          static_cast<uint8_t>(255 - reader[static_cast<size_t>((199 - r) * 152 + x)]);
    }
  }
  return display;
}

class MatchExportsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"101_1.pgm", "101_2.pgm", "101_3.pgm", "102_1.pgm"}) {
      std::vector<uint8_t> image = ReadPgm(name);
      if (image.empty()) GTEST_SKIP() << "fingerprint images not found";
      reader_.push_back(image);
      display_.push_back(ToDisplay(image));
    }
  }
  // The feature text of image i, or "" when extraction fails.
  std::string Feature(int i) {
    char text[513];
    int length = 0;
    if (FPIExtract(display_[static_cast<size_t>(i)].data(), text, &length) != 0) return "";
    EXPECT_EQ(length, 512);
    EXPECT_EQ(text[512], '\0');
    return std::string(text, 512);
  }
  std::vector<std::vector<uint8_t>> reader_, display_;
};

TEST_F(MatchExportsTest, ExtractOnDisplayFormEqualsExtractionOnReaderForm) {
  uint8_t record[256];
  uint16_t n = 0;
  ASSERT_EQ(vantrel::extract::ExtractFeature(reader_[0].data(), record, &n), 0);
  char expected[513];
  vantrel::text::WriteNibbleText(record, 256, expected);
  const std::string text = Feature(0);
  ASSERT_EQ(text.size(), 512u);
  EXPECT_EQ(text, std::string(expected, 512));
  EXPECT_EQ(text.substr(0, 2), "67");  // sealed
}

TEST_F(MatchExportsTest, MatchResultsAgreeWithTheScore) {
  const std::string a = Feature(0), b = Feature(1), other = Feature(3);
  ASSERT_FALSE(a.empty());
  ASSERT_FALSE(b.empty());
  ASSERT_FALSE(other.empty());
  for (int level : {1, 5, 9}) {
    for (const std::string* second : {&b, &other}) {
      const int score = FPIVerifyAsc(a.c_str(), second->c_str(), level);
      const int match = FPIFpMatch(a.c_str(), second->c_str(), level);
      EXPECT_EQ(FPIMatch(a.c_str(), second->c_str(), level), match);
      if (score >= 0) {
        EXPECT_GE(score, vantrel::match::ThresholdOfLevel(level));
        EXPECT_EQ(match, 0);
      } else {
        EXPECT_EQ(match, score);
      }
    }
  }
  // Two impressions of one finger match; another finger does not.
  EXPECT_GE(FPIVerifyAsc(a.c_str(), b.c_str(), 5), vantrel::match::ThresholdOfLevel(5));
  EXPECT_EQ(FPIFpMatch(a.c_str(), b.c_str(), 5), 0);
  EXPECT_EQ(FPIFpMatch(a.c_str(), other.c_str(), 5), -1);
}

TEST_F(MatchExportsTest, Base64MatchEqualsNibbleMatch) {
  const std::string a = Feature(0), b = Feature(1);
  ASSERT_FALSE(a.empty());
  ASSERT_FALSE(b.empty());
  auto base64 = [](const std::string& nibbles) {
    char bytes[256 + 3] = {};
    vantrel::text::ReadNibbleText(nibbles.c_str(), 256, reinterpret_cast<uint8_t*>(bytes));
    uint8_t out[345] = {};
    int n = 0;
    EXPECT_EQ(vantrel::text::Base64Convert(1, bytes, 256, out, 345, &n), 0);
    EXPECT_EQ(n, 344);
    return std::string(reinterpret_cast<char*>(out), 344);
  };
  const std::string a64 = base64(a), b64 = base64(b);
  EXPECT_EQ(FPIFpMatchB64(a64.c_str(), b64.c_str(), 5), FPIFpMatch(a.c_str(), b.c_str(), 5));
  // A record that does not unseal: 344 characters decoding to zeros.
  const std::string zeros(344, 'A');
  EXPECT_EQ(FPIFpMatchB64(zeros.c_str(), b64.c_str(), 5), -2);
}

TEST_F(MatchExportsTest, EnrolAndTemplateByFeatureGiveSealedTemplates) {
  char text[513];
  int length = 0;
  const int rc = FPIEnroll(display_[0].data(), display_[1].data(), display_[2].data(), text,
                           &length);
  ASSERT_EQ(rc, 0);
  EXPECT_EQ(length, 512);
  EXPECT_EQ(std::string(text, 2), "67");
  EXPECT_EQ(text[512], '\0');
  const std::string f1 = Feature(0), f2 = Feature(1), f3 = Feature(2);
  ASSERT_FALSE(f1.empty() || f2.empty() || f3.empty());
  char merged[513];
  const int by_feature = FPIGetTemplateByFeature(f1.c_str(), f2.c_str(), f3.c_str(), merged,
                                                 &length);
  ASSERT_EQ(by_feature, 0);
  // Both roads run the same synthesis on the same features.
  EXPECT_EQ(length, 512);
  EXPECT_EQ(std::string(merged, 512), std::string(text, 512));
}

TEST(MatchExportsEdge, UnreadableInputs) {
  const std::string junk(512, '0');
  char text[513];
  int length = 0;
  EXPECT_EQ(FPIGetTemplateByFeature(junk.c_str(), junk.c_str(), junk.c_str(), text, &length),
            -8);
  EXPECT_EQ(FPIGetTemplateByFeature("", "", "", text, &length), -8);
  const unsigned char zeros[256] = {};
  EXPECT_EQ(FPIGetFeatureQuality(zeros), -2);
  EXPECT_EQ(FPIFpMatch(junk.c_str(), std::string(512, '1').c_str(), 5), -2);
  // A blank image has no finger to extract.
  std::vector<unsigned char> blank(30400, 0);
  EXPECT_EQ(FPIExtract(blank.data(), text, &length), -1);
  EXPECT_EQ(FPIEnroll(blank.data(), blank.data(), blank.data(), text, &length), -1);
}

}  // namespace
