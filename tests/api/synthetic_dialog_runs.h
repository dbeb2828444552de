// Every dialog export on ports 0 and 9 against a stand-in reader with a synthetic finger,
// on whatever dialog host the caller gives (the scripted host, or the Qt window).
//
// Each run must succeed with the record the plain pipeline makes of the impressions the
// reader drew, and the finger-state answers the dialog's waits received must show the
// finger's life: each press wait finds the finger at its first look, the capture lifts
// it, the lift wait finds the sensor empty at its first look, and the next press wait
// finds the finger placed again.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "reader/api/dispatch.h"
#include "reader/api/module_state.h"
#include "reader/extract/extract_feature.h"
#include "reader/record/record_text.h"
#include "reader/links/link_ops.h"
#include "reader/match/synthesis.h"
#include "reader/platform/clock.h"
#include "reader/platform/dialog_host.h"
#include "reader/platform/platform.h"
#include "reader/platform/virtual/virtual_disk.h"
#include "reader/platform/virtual/virtual_hid.h"
#include "sim/reader_model.h"
#include "sim/synthetic_finger.h"
#include "vantrel/vantrel.h"

namespace vantrel::api::testing {

// The finger-state answers of both links, in order: '0' finger, '1' none, 'e' an error.
struct FingerLog {
  static inline std::string answers;
  static inline int (*disk)() = nullptr;
  static inline int (*hid)() = nullptr;
  static int Note(int answer) {
    answers += answer == 0 ? '0' : answer == 1 ? '1' : 'e';
    return answer;
  }
  static int Disk() { return Note(disk()); }
  static int Hid() { return Note(hid()); }
};

// The 512-character nibble text of the feature of impression n of finger, or of the
// template of impressions n, n + 1 and n + 2, made without any dialog.
inline std::string PlainRecordText(uint32_t finger, uint32_t n, bool templ) {
  uint8_t features[3][1024] = {};
  for (uint32_t i = 0; i < (templ ? 3u : 1u); ++i) {
    uint16_t count = 0;
    const std::vector<uint8_t> image = sim::DrawImpression(finger, n + i);
    if (extract::ExtractFeature(image.data(), features[i], &count) != 0) return "no feature";
  }
  uint8_t record[1024] = {};
  uint16_t count = 0;
  if (!templ) {
    std::memcpy(record, features[0], 256);
  } else if (match::SynthesiseTemplate(features[0], features[1], features[2], record, &count) < 0) {
    return "no template";
  }
  char text[513] = {};
  text::WriteNibbleText(record, 256, text);
  return text;
}

// A record text as an export gave it (344 base64 or 512 nibble characters) as nibble
// text; "not base64" when the base64 does not decode.
inline std::string AsNibbleText(const char* out, int length) {
  if (length != 344) return std::string(out, static_cast<size_t>(length));
  std::vector<char> copy(out, out + length);
  copy.resize(copy.size() + 4, '\0');
  uint8_t bytes[260] = {};
  int decoded = 0;
  if (text::Base64Convert(0, copy.data(), 344, bytes, sizeof bytes, &decoded) != 0) {
    return "not base64";
  }
  char nibbles[513] = {};
  text::WriteNibbleText(bytes, 256, nibbles);
  return nibbles;
}

inline void ExpectDialogRunsWithASyntheticFinger(platform::DialogHost& host,
                                                 platform::Clock& clock, uint32_t finger) {
  sim::ReaderModel reader;
  reader.UseSyntheticFinger(finger);
  platform::VirtualDisk disk;
  platform::VirtualHid hid;
  disk.AddReader(reader);
  hid.AddReader(reader);
  const platform::Providers previous =
      platform::Install(platform::Providers{&disk, &hid, nullptr, &clock, &host});
  static links::LinkOps disk_ops, hid_ops;
  disk_ops = DiskOps();
  hid_ops = HidOps();
  FingerLog::disk = disk_ops.FingerState;
  FingerLog::hid = hid_ops.FingerState;
  disk_ops.FingerState = FingerLog::Disk;
  hid_ops.FingerState = FingerLog::Hid;
  const LinkTables tables = InstallLinkTables(LinkTables{&disk_ops, &hid_ops, nullptr});
  const void* instance = Module().instance;
  const int language = Module().language_offset;
  Module().instance = &host;
  Module().language_offset = kLanguageEnglish;
  FPISetParam(1, 9600);

  using Export = int (*)(int, char*, int*);
  const struct {
    Export call;
    bool templ;
    bool base64;
  } cases[] = {{FPIFeature, false, false}, {FPIFeatureB64, false, true},
               {FPITemplate, true, false}, {FPITemplateB64, true, true}};
  uint32_t drawn = 0;  // impressions the reader has drawn so far
  // A failed run ends the lambda; what was installed is put back either way.
  [&] {
  for (const auto& c : cases) {
    for (const int port : {0, 9}) {
      const std::string where =
          std::string(c.templ ? "template" : "feature") + (c.base64 ? " base64" : "") +
          " on port " + std::to_string(port);
      FingerLog::answers.clear();
      char out[600];
      std::memset(out, 'x', sizeof out);
      int length = 0;
      ASSERT_EQ(c.call(port, out, &length), 0) << where;
      ASSERT_EQ(length, c.base64 ? 344 : 512) << where;
      EXPECT_EQ(AsNibbleText(out, length), PlainRecordText(finger, drawn, c.templ)) << where;
      const uint32_t captures = c.templ ? 4 : 1;
      std::string lifecycle;
      for (uint32_t i = 0; i < captures; ++i) lifecycle += "01";
      EXPECT_EQ(FingerLog::answers, lifecycle) << where;
      drawn += captures;
      EXPECT_EQ(reader.Snapshot().impressions, drawn) << where;
    }
  }
  }();

  FPISetParam(0, 9600);
  Module().instance = instance;
  Module().language_offset = language;
  InstallLinkTables(tables);
  platform::Install(previous);
  EXPECT_EQ(disk.OpenHandles(), 0);
  EXPECT_EQ(hid.OpenHandles(), 0);
}

}  // namespace vantrel::api::testing
