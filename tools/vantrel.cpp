// vantrel: one program for every task of the fingerprint reader, through the public
// interface of libVantrel.so as any application uses it (`inspect` also runs the
// extraction library itself to show its stages). `vantrel help` lists the commands.
//
// Exit status: 0 success, 1 a verification or identification found no match, 2 a usage
// error or a failed call. Results go to standard output (one JSON object with --json);
// prompts, progress and errors go to standard error.
#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "tools/vantrel_files.h"
#include "tools/vantrel_inspect.h"
#include "tools/vantrel_output.h"
#include "reader/match/search.h"
#include "vantrel/vantrel.h"

namespace {

using namespace vantrel::tools;

constexpr int kExitOk = 0;
constexpr int kExitNoMatch = 1;
constexpr int kExitError = 2;
constexpr int kLevels = 10;
constexpr int kEnrolCaptures = 3;
constexpr int kDefaultPacketBytes = 1024;
constexpr int kLargestPacketBytes = 2037;

std::atomic<bool> g_interrupted{false};

// Ctrl-C ends a finger wait through the library's own cancel, which only clears a flag.
void OnInterrupt(int) {
  g_interrupted = true;
  FPICancle();
}

struct Args {
  std::vector<std::string> positional;
  std::map<std::string, std::string> options;  // "--level" -> "5"; flags map to ""
  bool Has(const std::string& name) const { return options.count(name) != 0; }
};

struct Context {
  int port = 0;
  Output out{false};
};

struct Command {
  const char* name;
  const char* usage;    // arguments after the name
  const char* summary;  // one line
  const char* details;  // more lines, may be empty
  int min_args;
  int max_args;
  std::vector<std::string> flags;   // options without a value
  std::vector<std::string> valued;  // options with a value
  std::function<int(Context&, const Args&)> run;
};

const std::vector<Command>& Commands();

// ---- Messages ---------------------------------------------------------------------

int UsageError(const std::string& command, const std::string& message) {
  std::fprintf(stderr, "vantrel%s%s: %s\n", command.empty() ? "" : " ", command.c_str(),
               message.c_str());
  std::fprintf(stderr, "try 'vantrel help%s%s'\n", command.empty() ? "" : " ", command.c_str());
  return kExitError;
}

// A failed file or argument check after parsing: no library call was made.
int Problem(Context& c, const std::string& message) {
  std::fprintf(stderr, "vantrel: %s\n", message.c_str());
  c.out.Str("error", message);
  c.out.Finish();
  return kExitError;
}

// A library call that answered a failure code.
int CallFailed(Context& c, const std::string& call, int code) {
  std::fprintf(stderr, "vantrel: %s answered %d: %s\n", call.c_str(), code, MeaningOf(code));
  if (g_interrupted) std::fprintf(stderr, "vantrel: cancelled\n");
  c.out.Str("call", call);
  c.out.Result(code);
  c.out.Bool("cancelled", g_interrupted);
  c.out.Finish();
  return kExitError;
}

void Progress(const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); }

std::string Call(const char* name, int port) {
  return std::string(name) + "(" + std::to_string(port) + ")";
}

const char* LinkOf(int port) {
  if (port == 0) return "USB disk link";
  if (port == 9) return "USB HID link";
  return "serial link";
}

bool ParseInt(const std::string& text, long low, long high, int* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(text.c_str(), &end, 0);
  if (errno != 0 || *end != '\0' || v < low || v > high) return false;
  *value = static_cast<int>(v);
  return true;
}

std::string Printable(const unsigned char* bytes, int length) {
  std::string out;
  for (int i = 0; i < length; ++i) {
    if (bytes[i] >= 0x20 && bytes[i] < 0x7F) {
      out += static_cast<char>(bytes[i]);
    } else if (bytes[i] != 0 || i + 1 < length) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", bytes[i]);
      out += hex;
    }
  }
  return out;
}

// ---- Records and images -----------------------------------------------------------

// A record as the NUL-terminated nibble text the match exports take.
struct Text {
  char chars[FPI_TEXT_BUFFER_BYTES] = {};
  explicit Text(const Record& record) {
    const std::string t = NibbleText(record);
    std::memcpy(chars, t.data(), t.size());
  }
};

bool RecordOption(Context& c, const Args& a, RecordForm* form) {
  *form = RecordForm::kNibble;
  if (a.Has("--form") && !ParseRecordForm(a.options.at("--form"), form)) {
    Problem(c, "--form '" + a.options.at("--form") + "': use nibble, base64 or raw");
    return false;
  }
  return true;
}

bool LoadRecord(Context& c, const std::string& path, Record& record) {
  std::string error;
  if (ReadRecord(path, record, error)) return true;
  Problem(c, error);
  return false;
}

// Writes the record to path, or prints its nibble text when path is empty.
int PutRecord(Context& c, const Record& record, const std::string& path, RecordForm form,
              const std::string& what) {
  if (path.empty()) {
    c.out.Str("record", NibbleText(record));
    c.out.Say(NibbleText(record));
  } else {
    std::string error;
    if (!WriteRecord(path, record, form, error)) return Problem(c, error);
    c.out.Str("file", path);
    c.out.Say(what + " written to " + path);
  }
  const int quality = FPIGetFeatureQuality(record.data());
  c.out.Int("quality", quality);
  if (!path.empty()) c.out.Say("quality " + std::to_string(quality));
  c.out.Finish();
  return kExitOk;
}

// An image file in display form (or reader form with --reader-form on the command line).
bool LoadImage(Context& c, const Args& a, const std::string& path, Image& image,
               bool want_reader_form) {
  std::string error;
  if (!ReadImage(path, image, error)) {
    Problem(c, error);
    return false;
  }
  if (a.Has("--reader-form") != want_reader_form) FlipForm(image);
  return true;
}

// ---- Captures ---------------------------------------------------------------------

void SetDialog(const Args& a) {
  if (a.Has("--dialog")) FPISetParam(1, 9600);
}

// Port 0 tells whether a finger lies on the sensor; elsewhere the reader waits itself.
// Waits up to 100 s for the wanted state (Ctrl-C ends it). False when it did not come.
bool WaitFinger(int port, bool on, int limit_ms) {
  if (port != 0) return true;
  for (int waited = 0; waited <= limit_ms && !g_interrupted; waited += 50) {
    const int state = FPICheckFinger(0);
    if (state < 0) return true;  // the reader cannot say; let the capture answer
    if ((state == 0) == on) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

// One feature from the reader: the library's capture (finger wait, extraction on ports
// 0 and 9, the reader's own record on serial ports), or with --host-extract an image
// extracted on the host. Prompts "press" before and "lift" after. 0 or a result code,
// with `call` naming the call that failed.
int CaptureFeature(Context& c, const Args& a, int index, int total, Record& feature,
                   std::string& call) {
  const bool prompt = !a.Has("--dialog");  // the dialog prompts by itself
  if (prompt) {
    Progress("press: put a finger on the reader (capture " + std::to_string(index) + " of " +
             std::to_string(total) + ")");
  }
  char text[FPI_TEXT_BUFFER_BYTES] = {};
  int length = 0;
  int rc = 0;
  if (a.Has("--host-extract")) {
    if (!WaitFinger(c.port, true, 100000)) {
      call = "FPICheckFinger(0)";
      return -1;
    }
    std::vector<unsigned char> image(FPI_IMAGE_BYTES);
    int width = 0, height = 0;
    rc = FPIGetImageData(c.port, &width, &height, image.data());
    call = Call("FPIGetImageData", c.port);
    if (rc == 0 && width * height != FPI_IMAGE_BYTES) rc = -1;
    if (rc == 0) {
      rc = FPIExtract(image.data(), text, &length);
      call = "FPIExtract";
    }
  } else {
    rc = FPIFeature(c.port, text, &length);
    call = Call("FPIFeature", c.port);
  }
  if (rc != 0) return rc;
  if (length != kNibbleChars || !NibbleToRecord(text, feature)) {
    call += " (a record of " + std::to_string(length) + " characters)";
    return -1;
  }
  Progress("capture " + std::to_string(index) + " of " + std::to_string(total) +
           ": done, quality " + std::to_string(FPIGetFeatureQuality(feature.data())));
  if (index < total && prompt) {
    Progress("lift: take the finger away");
    WaitFinger(c.port, false, 1000);
  }
  return 0;
}

// The level that decides a match: --level, else the reader's, else 5.
int DecisionLevel(Context& c, const Args& a, bool ask_reader) {
  int level = 5;
  if (a.Has("--level")) {
    ParseInt(a.options.at("--level"), 0, 9, &level);
  } else if (ask_reader) {
    int reader_level = 0;
    if (FPIGetSecurityLevel(c.port, &reader_level) == 0 && reader_level >= 0 &&
        reader_level <= 9) {
      level = reader_level;
    }
  }
  return level;
}

// Score of probe against a template: the matcher at level 0, whose threshold is 0, hands
// back the score itself. Negative: the records do not unseal or are the same text.
int Score(const Record& templ, const Record& probe) {
  const Text a(templ), b(probe);
  return FPIVerifyAsc(a.chars, b.chars, 0);
}

bool Matches(const Record& templ, const Record& probe, int level) {
  const Text a(templ), b(probe);
  return FPIFpMatch(a.chars, b.chars, level) == 0;
}

// ---- Commands: the reader ---------------------------------------------------------

int CmdDetect(Context& c, const Args&) {
  const int port = FPIDevDetect();
  if (port < 0) return CallFailed(c, "FPIDevDetect()", port);
  c.out.Int("port", port);
  c.out.Str("link", LinkOf(port));
  c.out.Say("reader on port " + std::to_string(port) + " (" + LinkOf(port) + ")");
  c.out.Finish();
  return kExitOk;
}

int CmdVersion(Context& c, const Args&) {
  unsigned char version[FPI_VERSION_BUFFER_BYTES] = {};
  int length = 0;
  const int rc = FPIGetVersion(c.port, version, &length);
  if (rc != 0) return CallFailed(c, Call("FPIGetVersion", c.port), rc);
  if (length < 0 || length > FPI_VERSION_BUFFER_BYTES) length = 0;
  const std::string text = Printable(version, length);
  c.out.Str("version", text);
  c.out.Int("bytes", length);
  c.out.Say(text);
  c.out.Finish();
  return kExitOk;
}

int CmdReset(Context& c, const Args&) {
  const int rc = FPIReset(c.port);
  if (rc != 0) return CallFailed(c, Call("FPIReset", c.port), rc);
  c.out.Say("reader on port " + std::to_string(c.port) + " reset");
  c.out.Finish();
  return kExitOk;
}

int CmdLevel(Context& c, const Args& a) {
  if (!a.positional.empty()) {
    int level = 0;
    if (!ParseInt(a.positional[0], 0, 9, &level)) {
      return UsageError("level", "'" + a.positional[0] + "' is not a level 0..9");
    }
    const int rc = FPISetSecurityLevel(c.port, level);
    if (rc != 0) return CallFailed(c, Call("FPISetSecurityLevel", c.port), rc);
  }
  int level = -1;
  const int rc = FPIGetSecurityLevel(c.port, &level);
  if (rc != 0) return CallFailed(c, Call("FPIGetSecurityLevel", c.port), rc);
  c.out.Int("level", level);
  c.out.Say("security level " + std::to_string(level));
  c.out.Finish();
  return kExitOk;
}

int CmdFinger(Context& c, const Args&) {
  const int rc = FPICheckFinger(c.port);
  if (rc < 0) return CallFailed(c, Call("FPICheckFinger", c.port), rc);
  c.out.Bool("finger", rc == 0);
  c.out.Say(rc == 0 ? "a finger lies on the sensor" : "no finger on the sensor");
  c.out.Finish();
  return kExitOk;
}

int CmdCapture(Context& c, const Args& a) {
  SetDialog(a);
  if (!a.Has("--now") && !WaitFinger(c.port, true, 100000)) {
    return CallFailed(c, "FPICheckFinger(0)", -1);
  }
  Image image(kPixels);
  int width = 0, height = 0;
  const int rc = FPIGetImageData(c.port, &width, &height, image.data());
  if (rc != 0) return CallFailed(c, Call("FPIGetImageData", c.port), rc);
  if (width != kWidth || height != kHeight) {
    return Problem(c, "the reader sent a " + std::to_string(width) + " x " +
                          std::to_string(height) + " image; 152 x 200 is the only size");
  }
  if (a.Has("--reader-form")) FlipForm(image);
  std::string error;
  if (!WriteImage(a.positional[0], image, error)) return Problem(c, error);
  c.out.Str("file", a.positional[0]);
  c.out.Str("form", a.Has("--reader-form") ? "reader" : "display");
  c.out.Say("image written to " + a.positional[0]);
  c.out.Finish();
  return kExitOk;
}

int CmdEnrol(Context& c, const Args& a) {
  RecordForm form;
  if (!RecordOption(c, a, &form)) return kExitError;
  SetDialog(a);
  char text[FPI_TEXT_BUFFER_BYTES] = {};
  int length = 0;
  Record templ{};
  if (a.Has("--dialog")) {
    // The dialog leads the user through its three captures itself.
    const int rc = FPITemplate(c.port, text, &length);
    if (rc != 0) return CallFailed(c, Call("FPITemplate", c.port), rc);
    if (length != kNibbleChars || !NibbleToRecord(text, templ)) {
      return Problem(c, "the template is not a record");
    }
  } else {
    Record features[kEnrolCaptures];
    for (int i = 0; i < kEnrolCaptures; ++i) {
      std::string call;
      const int rc = CaptureFeature(c, a, i + 1, kEnrolCaptures, features[i], call);
      if (rc != 0) return CallFailed(c, call, rc);
    }
    const Text f1(features[0]), f2(features[1]), f3(features[2]);
    const int rc = FPIGetTemplateByFeature(f1.chars, f2.chars, f3.chars, text, &length);
    if (rc != 0) return CallFailed(c, "FPIGetTemplateByFeature", rc);
    NibbleToRecord(text, templ);
  }
  return PutRecord(c, templ, a.positional[0], form, "template");
}

int CmdVerify(Context& c, const Args& a) {
  Record templ{}, probe{};
  if (!LoadRecord(c, a.positional[0], templ)) return kExitError;
  const int level = DecisionLevel(c, a, true);
  SetDialog(a);
  std::string call;
  const int rc = CaptureFeature(c, a, 1, 1, probe, call);
  if (rc != 0) return CallFailed(c, call, rc);
  const int score = Score(templ, probe);
  if (score < 0) return CallFailed(c, "FPIVerifyAsc", score);
  const bool match = Matches(templ, probe, level);
  c.out.Int("score", score);
  c.out.Int("level", level);
  c.out.Bool("match", match);
  c.out.Say("score " + std::to_string(score) + " at level " + std::to_string(level) + ": " +
            (match ? "match" : "no match"));
  c.out.Finish();
  return match ? kExitOk : kExitNoMatch;
}

struct GalleryEntry {
  std::string name;
  Record record{};
  int score = -1;
  bool match = false;
};

// The one-to-many search: every template of the gallery against the probe.
// Scores the probe against every template as FPIVerifyAsc(template, probe, 0) would, and
// decides each at the level as FPIFpMatch would, through the one-to-many search: every
// template is prepared once and the probe meets them all on every core.
void ScoreGallery(std::vector<GalleryEntry>& gallery, const Record& probe, int level) {
  using vantrel::match::ProbeSide;
  using vantrel::match::SearchHit;
  vantrel::match::Gallery prepared;
  std::vector<int> slot(gallery.size(), -1);
  for (size_t i = 0; i < gallery.size(); ++i) slot[i] = prepared.Add(gallery[i].record.data());
  std::vector<SearchHit> scored, accepted;
  const int size = prepared.Size();
  if (prepared.Search(probe.data(), 0, size, ProbeSide::kSecond, scored) < 0 ||
      prepared.Search(probe.data(), level, size, ProbeSide::kSecond, accepted) < 0) {
    // The probe does not unseal: the exports say so with their own code.
    for (auto& entry : gallery) {
      entry.score = Score(entry.record, probe);
      entry.match = false;
    }
    return;
  }
  std::vector<int> score(static_cast<size_t>(size), -1);  // under level 0's threshold
  std::vector<bool> match(static_cast<size_t>(size), false);
  for (const SearchHit& hit : scored) score[static_cast<size_t>(hit.index)] = hit.score;
  for (const SearchHit& hit : accepted) match[static_cast<size_t>(hit.index)] = true;
  for (size_t i = 0; i < gallery.size(); ++i) {
    GalleryEntry& entry = gallery[i];
    if (slot[i] < 0 || entry.record == probe) {
      // Not unsealed, or the very same record (which the match exports refuse).
      entry.score = Score(entry.record, probe);
      entry.match = false;
      continue;
    }
    entry.score = score[static_cast<size_t>(slot[i])];
    entry.match = match[static_cast<size_t>(slot[i])];
  }
}

int CmdIdentify(Context& c, const Args& a) {
  std::vector<GalleryEntry> gallery;
  std::error_code ec;
  std::vector<std::filesystem::path> files;
  for (const auto& item : std::filesystem::directory_iterator(a.positional[0], ec)) {
    if (item.is_regular_file()) files.push_back(item.path());
  }
  if (ec) return Problem(c, "cannot read the folder " + a.positional[0] + ": " + ec.message());
  std::sort(files.begin(), files.end());
  for (const auto& file : files) {
    GalleryEntry entry;
    std::string content, why;
    if (ReadFile(file.string(), content, why) && ParseRecord(content, entry.record, nullptr, why)) {
      entry.name = file.filename().string();
      gallery.push_back(entry);
    }
  }
  if (gallery.empty()) return Problem(c, a.positional[0] + " holds no template files");
  int top = 3;
  if (a.Has("--top") && !ParseInt(a.options.at("--top"), 1, 100000, &top)) {
    return UsageError("identify", "--top '" + a.options.at("--top") + "' is not a count");
  }
  const int level = DecisionLevel(c, a, true);
  SetDialog(a);
  Record probe{};
  std::string call;
  const int rc = CaptureFeature(c, a, 1, 1, probe, call);
  if (rc != 0) return CallFailed(c, call, rc);
  ScoreGallery(gallery, probe, level);
  std::stable_sort(gallery.begin(), gallery.end(),
                   [](const GalleryEntry& x, const GalleryEntry& y) { return x.score > y.score; });
  const bool found = gallery.front().match;
  std::string list = "[";
  c.out.Say(std::to_string(gallery.size()) + " templates, level " + std::to_string(level) + ":");
  for (size_t i = 0; i < gallery.size() && i < static_cast<size_t>(top); ++i) {
    const auto& e = gallery[i];
    if (i > 0) list += ", ";
    list += "{\"name\": " + JsonString(e.name) + ", \"score\": " + std::to_string(e.score) +
            ", \"match\": " + (e.match ? "true" : "false") + "}";
    c.out.Say("  " + e.name + "  " +
              (e.score >= 0 ? "score " + std::to_string(e.score) + (e.match ? "  match" : "")
                            : "not compared: " + std::to_string(e.score) + " " + MeaningOf(e.score)));
  }
  c.out.Raw("best", list + "]");
  c.out.Int("level", level);
  c.out.Int("templates", static_cast<long>(gallery.size()));
  c.out.Bool("match", found);
  if (found) c.out.Str("identified", gallery.front().name);
  c.out.Say(found ? "identified as " + gallery.front().name : "no template matches");
  c.out.Finish();
  return found ? kExitOk : kExitNoMatch;
}

// ---- Commands: records and images -------------------------------------------------

int CmdExtract(Context& c, const Args& a) {
  RecordForm form;
  if (!RecordOption(c, a, &form)) return kExitError;
  Image image;
  if (!LoadImage(c, a, a.positional[0], image, false)) return kExitError;
  char text[FPI_TEXT_BUFFER_BYTES] = {};
  int length = 0;
  const int rc = FPIExtract(image.data(), text, &length);
  if (rc != 0) return CallFailed(c, "FPIExtract", rc);
  Record record{};
  NibbleToRecord(text, record);
  return PutRecord(c, record, a.positional.size() > 1 ? a.positional[1] : "", form, "feature");
}

int CmdMerge(Context& c, const Args& a) {
  RecordForm form;
  if (!RecordOption(c, a, &form)) return kExitError;
  Record r[3];
  for (int i = 0; i < 3; ++i) {
    if (!LoadRecord(c, a.positional[i], r[i])) return kExitError;
  }
  const Text t1(r[0]), t2(r[1]), t3(r[2]);
  char text[FPI_TEXT_BUFFER_BYTES] = {};
  int length = 0;
  const int rc = FPIGetTemplateByFeature(t1.chars, t2.chars, t3.chars, text, &length);
  if (rc != 0) return CallFailed(c, "FPIGetTemplateByFeature", rc);
  Record templ{};
  NibbleToRecord(text, templ);
  return PutRecord(c, templ, a.positional[3], form, "template");
}

int CmdMatch(Context& c, const Args& a) {
  Record x{}, y{};
  if (!LoadRecord(c, a.positional[0], x) || !LoadRecord(c, a.positional[1], y)) {
    return kExitError;
  }
  const int score = Score(x, y);
  if (score < 0) return CallFailed(c, "FPIVerifyAsc", score);
  const int level = DecisionLevel(c, a, false);
  std::string levels = "[", words;
  for (int l = 0; l < kLevels; ++l) {
    const bool match = Matches(x, y, l);
    levels += std::string(l > 0 ? ", " : "") + (match ? "true" : "false");
    words += "  " + std::to_string(l) + (match ? " match" : " -");
  }
  const bool match = Matches(x, y, level);
  c.out.Int("score", score);
  c.out.Raw("match_at_level", levels + "]");
  c.out.Int("level", level);
  c.out.Bool("match", match);
  c.out.Say("score " + std::to_string(score));
  c.out.Say("level:" + words);
  c.out.Finish();
  return match ? kExitOk : kExitNoMatch;
}

int CmdQuality(Context& c, const Args& a) {
  Record record{};
  if (!LoadRecord(c, a.positional[0], record)) return kExitError;
  const int quality = FPIGetFeatureQuality(record.data());
  if (quality < 0) return CallFailed(c, "FPIGetFeatureQuality", quality);
  c.out.Int("quality", quality);
  c.out.Say("quality " + std::to_string(quality));
  c.out.Finish();
  return kExitOk;
}

int CmdInspect(Context& c, const Args& a) {
  Image image;
  if (!LoadImage(c, a, a.positional[0], image, true)) return kExitError;
  std::string report, error;
  const int rc = InspectImage(image, a.positional[1], report, error);
  if (!error.empty()) return Problem(c, error);
  c.out.Int("result", rc);
  c.out.Str("folder", a.positional[1]);
  c.out.Str("report", report);
  if (!c.out.json()) std::printf("%s", report.c_str());
  c.out.Say("stages and minutiae.png written to " + a.positional[1]);
  c.out.Finish();
  return rc == 0 ? kExitOk : kExitError;
}

int CmdBmp(Context& c, const Args& a) {
  const std::string& what = a.positional[0];
  const size_t n = a.positional.size();
  char text[FPI_TEXT_BUFFER_BYTES] = {};
  int length = 0;
  RecordForm form;
  if (!RecordOption(c, a, &form)) return kExitError;
  if (what == "capture" && n == 2) {
    const int rc = FPIImg2Bmp(c.port, a.positional[1].c_str());
    if (rc != 0) return CallFailed(c, Call("FPIImg2Bmp", c.port), rc);
    c.out.Str("file", a.positional[1]);
    c.out.Say("BMP written to " + a.positional[1]);
    c.out.Finish();
    return kExitOk;
  }
  if (what == "convert" && n == 3) {
    Image image;
    std::string error;
    if (!ReadImage(a.positional[1], image, error) || !WriteImage(a.positional[2], image, error)) {
      return Problem(c, error);
    }
    c.out.Str("file", a.positional[2]);
    c.out.Say(a.positional[1] + " written as " + a.positional[2]);
    c.out.Finish();
    return kExitOk;
  }
  if (what == "feature" && (n == 2 || n == 3)) {
    const int rc = FPIBmp2Feature(0, a.positional[1].c_str(), text, &length);
    if (rc != 0) return CallFailed(c, "FPIBmp2Feature", rc);
  } else if (what == "template" && n == 5) {
    const int rc = FPIBmp2Template(0, a.positional[1].c_str(), a.positional[2].c_str(),
                                   a.positional[3].c_str(), text, &length);
    if (rc != 0) return CallFailed(c, "FPIBmp2Template", rc);
  } else {
    return UsageError("bmp", "'" + what + "' with " + std::to_string(n - 1) +
                                 " files: use capture BMP, convert IN OUT, feature BMP "
                                 "[RECORD] or template B1 B2 B3 TEMPLATE");
  }
  Record record{};
  if (!NibbleToRecord(text, record)) return Problem(c, "the library's record is not nibble text");
  const std::string out = what == "template" ? a.positional[4] : n == 3 ? a.positional[2] : "";
  return PutRecord(c, record, out, form, what);
}

// ---- Commands: the reader's template library and firmware ------------------------

int CmdLibrary(Context& c, const Args& a) {
  const std::string& what = a.positional[0];
  const size_t n = a.positional.size();
  const int port = c.port;
  if ((what == "count" && n == 1)) {
    int count = -1;
    const int rc = FPIGetMBLibCount(port, &count);
    if (rc != 0) return CallFailed(c, Call("FPIGetMBLibCount", port), rc);
    c.out.Int("count", count);
    c.out.Say(std::to_string(count) + " templates in the reader");
  } else if ((what == "clear" || what == "store") && n == 1) {
    const int rc = what == "clear" ? FPIClearMBLib(port) : FPIWriteMBLib(port);
    if (rc != 0) {
      return CallFailed(c, Call(what == "clear" ? "FPIClearMBLib" : "FPIWriteMBLib", port), rc);
    }
    c.out.Say(what == "clear" ? "library cleared" : "library stored in the reader");
  } else if (what == "insert" && n == 3) {
    int id = 0;
    if (!ParseInt(a.positional[1], 0, 65535, &id)) {
      return UsageError("library", "insert: '" + a.positional[1] + "' is not an id 0..65535");
    }
    Record templ{};
    if (!LoadRecord(c, a.positional[2], templ)) return kExitError;
    const std::string data = a.Has("--data") ? a.options.at("--data") : "";
    const Text text(templ);
    const int rc = FPIInsertMBLib(port, id, reinterpret_cast<const unsigned char*>(data.data()),
                                  static_cast<int>(data.size()), text.chars, kNibbleChars);
    if (rc != 0) return CallFailed(c, Call("FPIInsertMBLib", port), rc);
    c.out.Int("id", id);
    c.out.Say("template " + a.positional[2] + " inserted as " + std::to_string(id));
  } else if ((what == "list" && n == 1) || (what == "search" && n == 3)) {
    int first = 0, second = 65535;
    if (what == "search" && (!ParseInt(a.positional[1], 0, 65535, &first) ||
                             !ParseInt(a.positional[2], 0, 65535, &second))) {
      return UsageError("library", "search: FIRST and SECOND are numbers 0..65535");
    }
    unsigned char answer[FPI_SEARCH_BUFFER_BYTES] = {};
    int length = 0;
    const int rc = FPISearch(port, first, second, answer, &length);
    if (rc != 0) return CallFailed(c, Call("FPISearch", port), rc);
    if (length < 0 || length > FPI_SEARCH_BUFFER_BYTES) length = 0;
    const std::string text = Printable(answer, length);
    c.out.Str("answer", text);
    c.out.Say(text.empty() ? "(empty answer)" : text);
  } else {
    return UsageError("library", "'" + what + "' with " + std::to_string(n - 1) +
                                     " arguments: use list, count, clear, insert ID "
                                     "TEMPLATE, store or search FIRST SECOND");
  }
  c.out.Finish();
  return kExitOk;
}

void ProgressBar(size_t done, size_t total) {
  const int width = 40;
  const int filled = total == 0 ? width : static_cast<int>(done * width / total);
  std::fprintf(stderr, "\r[%s%s] %3d%% %zu/%zu bytes", std::string(filled, '#').c_str(),
               std::string(width - filled, ' ').c_str(),
               total == 0 ? 100 : static_cast<int>(done * 100 / total), done, total);
  if (done == total) std::fprintf(stderr, "\n");
  std::fflush(stderr);
}

int CmdUpdate(Context& c, const Args& a) {
  std::string firmware, error;
  if (!ReadFile(a.positional[0], firmware, error)) return Problem(c, error);
  if (firmware.empty() || firmware.size() > 0x7FFFFFFF) {
    return Problem(c, a.positional[0] + ": no firmware in it");
  }
  int packet = kDefaultPacketBytes, finish = 1;
  if (a.Has("--packet-size") &&
      !ParseInt(a.options.at("--packet-size"), 1, kLargestPacketBytes, &packet)) {
    return UsageError("update", "--packet-size '" + a.options.at("--packet-size") +
                                    "': use 1.." + std::to_string(kLargestPacketBytes));
  }
  if (a.Has("--finish") && !ParseInt(a.options.at("--finish"), 0, 255, &finish)) {
    return UsageError("update", "--finish '" + a.options.at("--finish") + "': use 0..255");
  }
  const int port = c.port;
  int rc = FPIUpdate_SendFileSize(port, static_cast<int>(firmware.size()));
  if (rc != 0) return CallFailed(c, Call("FPIUpdate_SendFileSize", port), rc);
  size_t sent = 0;
  int number = 0;
  while (sent < firmware.size()) {
    const size_t chunk = std::min(firmware.size() - sent, static_cast<size_t>(packet));
    rc = FPIUpdate_SendPacket(port, number,
                              reinterpret_cast<const unsigned char*>(firmware.data() + sent),
                              static_cast<int>(chunk));
    if (rc != 0) {
      std::fprintf(stderr, "\n");
      return CallFailed(c, "FPIUpdate_SendPacket(" + std::to_string(port) + ", " +
                               std::to_string(number) + ")", rc);
    }
    sent += chunk;
    ++number;
    if (!c.out.json()) ProgressBar(sent, firmware.size());
  }
  rc = FPIUpdate_Write(port, finish);
  if (rc != 0) return CallFailed(c, Call("FPIUpdate_Write", port), rc);
  c.out.Int("bytes", static_cast<long>(firmware.size()));
  c.out.Int("packets", number);
  c.out.Say("firmware of " + std::to_string(firmware.size()) + " bytes sent in " +
            std::to_string(number) + " packets and written");
  c.out.Finish();
  return kExitOk;
}

int CmdCodes(Context& c, const Args&) {
  std::string list = "[";
  for (const auto& [code, meaning] : ResultCodes()) {
    if (list.size() > 1) list += ", ";
    list += "{\"code\": " + std::to_string(code) + ", \"meaning\": " + JsonString(meaning) + "}";
    char line[256];
    std::snprintf(line, sizeof line, "%5d  %s", code, meaning);
    c.out.Say(line);
  }
  c.out.Raw("codes", list + "]");
  c.out.Finish();
  return kExitOk;
}

// ---- Help and the command table ---------------------------------------------------

const char kGlobal[] =
    "options of every command:\n"
    "  --port N   the reader's port: 0 USB disk (default), 9 USB HID, 1..8 serial COM N\n"
    "  --json     print the result as one JSON object\n"
    "  --help     help for the command\n";

void PrintCommandHelp(const Command& cmd) {
  std::printf("usage: vantrel [--port N] [--json] %s %s\n\n%s\n", cmd.name, cmd.usage,
              cmd.summary);
  if (cmd.details[0] != '\0') std::printf("\n%s", cmd.details);
  std::printf("\n%s", kGlobal);
}

int CmdHelp(Context&, const Args& a) {
  if (!a.positional.empty()) {
    for (const auto& cmd : Commands()) {
      if (a.positional[0] == cmd.name) {
        PrintCommandHelp(cmd);
        return kExitOk;
      }
    }
    return UsageError("help", "no command '" + a.positional[0] + "'");
  }
  std::printf("usage: vantrel [--port N] [--json] COMMAND [ARGUMENTS]\n\ncommands:\n");
  for (const auto& cmd : Commands()) {
    std::printf("  %-9s %-28s %s\n", cmd.name, cmd.usage, cmd.summary);
  }
  std::printf(
      "\n%s\nImages are 152 x 200 grey PGM, BMP or PNG files, in display form (as "
      "captured)\nunless --reader-form is given. Records are files of nibble text, base64 "
      "text or\nthe 256 raw bytes, told apart by content. Exit status: 0 success, 1 no match,\n"
      "2 a usage error or a failed call. VANTREL_SIMULATOR=disk runs against the stand-in\n"
      "reader. 'vantrel help COMMAND' tells more.\n",
      kGlobal);
  return kExitOk;
}

#define VANTREL_CAPTURE_OPTIONS                                                       \
  "  --dialog        run the capture through the library's capture dialog\n"          \
  "  --host-extract  take images and extract features on the host (FPIGetImageData,\n" \
  "                  FPIExtract) instead of the reader's own records on serial ports\n"

const std::vector<Command>& Commands() {
  static const std::vector<Command> commands = {
      {"detect", "", "find the reader: the port it answers on", "", 0, 0, {}, {}, CmdDetect},
      {"version", "", "the reader's version text", "", 0, 0, {}, {}, CmdVersion},
      {"reset", "", "reset the reader", "", 0, 0, {}, {}, CmdReset},
      {"level", "[N]", "read, or set and read, the reader's security level 0..9", "", 0, 1,
       {}, {}, CmdLevel},
      {"finger", "", "whether a finger lies on the sensor (port 0)", "", 0, 0, {}, {},
       CmdFinger},
      {"count", "", "number of templates in the reader (as 'library count')", "", 0, 0, {},
       {}, [](Context& c, const Args&) {
         Args a;
         a.positional = {"count"};
         return CmdLibrary(c, a);
       }},
      {"capture", "IMAGE", "capture an image into a PGM, PNG or BMP file",
       "  --reader-form   write the image as the reader delivers it (inverted, rows\n"
       "                  reversed) instead of the display form\n"
       "  --now           take the image at once, without waiting for a finger (port 0)\n"
       "  --dialog        dialog mode on (it rules the feature and template captures)\n",
       1, 1, {"--reader-form", "--dialog", "--now"}, {}, CmdCapture},
      {"enrol", "TEMPLATE", "three captures merged into a template file",
       "Prompts \"press\" and \"lift\" and prints a progress line per capture.\n"
       "  --form F        nibble (default), base64 or raw\n" VANTREL_CAPTURE_OPTIONS,
       1, 1, {"--dialog", "--host-extract"}, {"--form"}, CmdEnrol},
      {"verify", "TEMPLATE", "one capture against a template: score and decision",
       "Exit status 0 on a match, 1 when there is none.\n"
       "  --level N       decide at level N (default: the reader's level)\n"
       VANTREL_CAPTURE_OPTIONS,
       1, 1, {"--dialog", "--host-extract"}, {"--level"}, CmdVerify},
      {"identify", "GALLERY", "one capture against a folder of templates: best matches",
       "Exit status 0 when the best template matches, 1 when none does.\n"
       "  --level N       decide at level N (default: the reader's level)\n"
       "  --top K         list the K best templates (default 3)\n" VANTREL_CAPTURE_OPTIONS,
       1, 1, {"--dialog", "--host-extract"}, {"--level", "--top"}, CmdIdentify},
      {"extract", "IMAGE [RECORD]", "the feature record of an image file",
       "Without RECORD the nibble text is printed.\n"
       "  --reader-form   the file holds the image in reader form\n"
       "  --form F        nibble (default), base64 or raw\n",
       1, 2, {"--reader-form"}, {"--form"}, CmdExtract},
      {"merge", "R1 R2 R3 TEMPLATE", "three feature records merged into a template",
       "  --form F        nibble (default), base64 or raw\n", 4, 4, {}, {"--form"}, CmdMerge},
      {"match", "A B", "score of two records and the decision at every level",
       "Exit status 0 when they match at --level (default 5), 1 when not.\n"
       "  --level N       the level of the exit status\n",
       2, 2, {}, {"--level"}, CmdMatch},
      {"quality", "RECORD", "quality of a feature record", "", 1, 1, {}, {}, CmdQuality},
      {"inspect", "IMAGE OUTDIR", "every extraction stage as a picture, minutiae.png",
       "Writes NN_<stage>.pgm per stage, mask.pgm, directions.pgm, periods.pgm, and\n"
       "minutiae.png: minutiae (red endings, blue bifurcations) and cores (green).\n"
       "  --reader-form   the file holds the image in reader form\n",
       2, 2, {"--reader-form"}, {}, CmdInspect},
      {"bmp", "WHAT FILES...", "the library's BMP files",
       "  bmp capture BMP                    capture into a BMP file (FPIImg2Bmp)\n"
       "  bmp convert IN OUT                 between BMP and PGM or PNG files\n"
       "  bmp feature BMP [RECORD]           feature of a BMP file (FPIBmp2Feature)\n"
       "  bmp template B1 B2 B3 TEMPLATE     template of three (FPIBmp2Template)\n"
       "  --form F                           nibble (default), base64 or raw\n",
       2, 5, {}, {"--form"}, CmdBmp},
      {"library", "WHAT [ARGUMENTS]", "the reader's template library",
       "  library list                       the reader's search answer over all ids\n"
       "  library count                      number of templates\n"
       "  library clear                      empty the library\n"
       "  library insert ID TEMPLATE         add a template (--data TEXT: its data)\n"
       "  library store                      make the changes permanent\n"
       "  library search FIRST SECOND        the reader's search answer\n",
       1, 3, {}, {"--data"}, CmdLibrary},
      {"update", "FIRMWARE", "update the reader's firmware, with a progress bar",
       "  --packet-size N bytes per packet, 1..2037 (default 1024)\n"
       "  --finish V      the value of the finishing step (default 1)\n",
       1, 1, {}, {"--packet-size", "--finish"}, CmdUpdate},
      {"codes", "", "every result code of the library and its meaning", "", 0, 0, {}, {},
       CmdCodes},
      {"help", "[COMMAND]", "this list, or help for one command", "", 0, 1, {}, {}, CmdHelp},
  };
  return commands;
}

bool Contains(const std::vector<std::string>& list, const std::string& item) {
  return std::find(list.begin(), list.end(), item) != list.end();
}

}  // namespace

int main(int argc, char** argv) {
  Context context;
  bool json = false, help = false;
  std::vector<std::string> rest;
  std::string command;
  // Options of every command may stand anywhere; the first other word names the command.
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--port" || arg.rfind("--port=", 0) == 0) {
      std::string value;
      if (arg == "--port") {
        if (i + 1 >= argc) return UsageError("", "--port needs a number");
        value = argv[++i];
      } else {
        value = arg.substr(7);
      }
      if (!ParseInt(value, -2147483647L - 1, 2147483647L, &context.port)) {
        return UsageError("", "--port '" + value + "' is not a number");
      }
    } else if (arg == "--json") {
      json = true;
    } else if (arg == "--help" || arg == "-h") {
      help = true;
    } else if (command.empty() && !arg.empty() && arg[0] != '-') {
      command = arg;
    } else {
      rest.push_back(arg);
    }
  }
  context.out = Output(json);
  if (command.empty()) {
    Args none;
    CmdHelp(context, none);
    return help ? kExitOk : kExitError;
  }
  const Command* cmd = nullptr;
  for (const auto& c : Commands()) {
    if (command == c.name) cmd = &c;
  }
  if (cmd == nullptr) return UsageError("", "no command '" + command + "'");
  if (help) {
    PrintCommandHelp(*cmd);
    return kExitOk;
  }
  Args args;
  for (size_t i = 0; i < rest.size(); ++i) {
    const std::string& arg = rest[i];
    if (arg.size() > 1 && arg[0] == '-' && !std::isdigit(static_cast<unsigned char>(arg[1]))) {
      if (Contains(cmd->flags, arg)) {
        args.options[arg] = "";
      } else if (Contains(cmd->valued, arg)) {
        if (i + 1 >= rest.size()) return UsageError(cmd->name, arg + " needs a value");
        args.options[arg] = rest[++i];
      } else {
        return UsageError(cmd->name, "unknown option '" + arg + "'");
      }
    } else {
      args.positional.push_back(arg);
    }
  }
  const int n = static_cast<int>(args.positional.size());
  if (n < cmd->min_args || n > cmd->max_args) {
    const std::string extra = n > cmd->max_args ? " ('" + args.positional.back() + "' is one too many)" : "";
    return UsageError(cmd->name, std::string("expects ") + (cmd->usage[0] ? cmd->usage : "no arguments") + extra);
  }
  if (args.Has("--level")) {
    int level = 0;
    if (!ParseInt(args.options.at("--level"), 0, 9, &level)) {
      return UsageError(cmd->name, "--level '" + args.options.at("--level") + "' is not a level 0..9");
    }
  }
  std::signal(SIGINT, OnInterrupt);
  return cmd->run(context, args);
}
