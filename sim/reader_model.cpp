#include "sim/reader_model.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "sim/synthetic_finger.h"
#include "tools/fingerprint_pgm.h"

namespace vantrel::sim {

namespace {

constexpr uint8_t kStx = 0x02;
constexpr uint8_t kEtx = 0x03;
constexpr uint8_t kGood = 0x00;
constexpr uint8_t kBusy = 0x3A;
constexpr uint8_t kRefused = 0x01;
constexpr int kVersionArea = 64;     // data bytes of a version reply
constexpr int kSearchArea = 150;     // text bytes of a search reply
constexpr int kRecordArea = 256;     // record bytes of an on-reader record reply
constexpr int kHidPart = 65536;
constexpr int kLongFrom = 92161;     // replies this long use the 32-bit length field
constexpr uint8_t kBlank = 0xFF;     // an empty sensor reads bright

struct ImmediateSize {
  int width;
  int height;
};
ImmediateSize ImmediateOf(SimLink link) {
  return link == SimLink::kHid ? ImmediateSize{256, 360} : ImmediateSize{152, 200};
}

ReaderImage BlankImage(int width, int height) {
  ReaderImage image;
  image.width = width;
  image.height = height;
  image.pixels.assign(static_cast<size_t>(width) * height, kBlank);
  return image;
}

// Builds a reply frame: short form with a 16-bit length, long form with a 32-bit one.
std::vector<uint8_t> Frame(uint8_t status, const std::vector<uint8_t>& data, Fault fault) {
  std::vector<uint8_t> body = data;
  if (fault == Fault::kWrongLength) body.push_back(0);
  if (fault == Fault::kShortReply && !body.empty()) body.pop_back();
  const uint64_t c = body.size() + 2;
  const bool long_form = c + 5 >= static_cast<uint64_t>(kLongFrom);
  std::vector<uint8_t> frame;
  frame.reserve(body.size() + 9);
  frame.push_back(kStx);
  if (long_form) {
    frame.push_back(static_cast<uint8_t>(c >> 24));
    frame.push_back(static_cast<uint8_t>(c >> 16));
  }
  frame.push_back(static_cast<uint8_t>(c >> 8));
  frame.push_back(static_cast<uint8_t>(c));
  if (fault == Fault::kStatusBusy) status = kBusy;
  if (fault == Fault::kStatusError) status = kRefused;
  frame.push_back(status);
  frame.push_back(0x00);
  frame.insert(frame.end(), body.begin(), body.end());
  uint8_t sum = 0;
  for (size_t i = 1; i < frame.size(); ++i) sum ^= frame[i];
  if (fault == Fault::kBadChecksum) sum ^= 0x5A;
  frame.push_back(sum);
  frame.push_back(kEtx);
  if (fault == Fault::kBadStartMarker) frame.front() = 0x00;
  if (fault == Fault::kBadEndMarker) frame.back() = 0x00;
  return frame;
}

void PutWord(std::vector<uint8_t>& out, int value) {
  out.push_back(static_cast<uint8_t>((value >> 8) & 0xFF));
  out.push_back(static_cast<uint8_t>(value & 0xFF));
}

int WordAt(const uint8_t* p) { return (p[0] << 8) | p[1]; }

std::vector<uint8_t> DefaultRecord(uint8_t seed) {
  std::vector<uint8_t> record(kRecordArea);
  for (int i = 0; i < kRecordArea; ++i) record[i] = static_cast<uint8_t>(seed + i * 7);
  record[0] = 0x67;  // reader records come sealed
  return record;
}

void PadTo(std::string text, size_t width, uint8_t* out) {
  text.resize(width, ' ');
  std::memcpy(out, text.data(), width);
}

}  // namespace

ReaderModel::ReaderModel() {
  state_.held = BlankImage(152, 200);
  state_.reader_template = DefaultRecord(0x11);
  state_.reader_feature = DefaultRecord(0x22);
}

void ReaderModel::QueueImage(const uint8_t* pixels, int width, int height) {
  // Larger than any reply the links can carry: not a reader image.
  constexpr int64_t kMaxPixels = 1 << 20;
  const int64_t size = static_cast<int64_t>(width) * height;
  if (width < 0 || height < 0 || size > kMaxPixels || (pixels == nullptr && size > 0)) return;
  std::lock_guard<std::recursive_mutex> guard(lock_);
  ReaderImage image;
  image.width = width;
  image.height = height;
  image.pixels.assign(pixels, pixels + static_cast<size_t>(width) * height);
  state_.queue.push_back(std::move(image));
}

void ReaderModel::SetFinger(bool on) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  state_.finger_on = on;
}

void ReaderModel::InjectFault(Fault fault, int count, int only_code) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  fault_ = fault;
  fault_count_ = count;
  fault_code_ = only_code;
}

void ReaderModel::SetFingerFollowsImages(bool on) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  state_.finger_follows_images = on;
  state_.finger_lifting = false;
}

void ReaderModel::SetIdentity(const std::string& vendor, const std::string& product,
                              const std::string& revision) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  state_.inquiry_vendor = vendor;
  state_.inquiry_product = product;
  state_.inquiry_revision = revision;
}

void ReaderModel::SetInquiryPending(bool pending) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  state_.inquiry_pending = pending;
}

void ReaderModel::SetVersion(const std::string& text) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  state_.version = text.substr(0, kVersionArea - 1);
}

void ReaderModel::SetReaderRecords(const std::vector<uint8_t>& templ,
                                   const std::vector<uint8_t>& feature) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  state_.reader_template.assign(templ.begin(),
                                templ.begin() + std::min<size_t>(templ.size(), kRecordArea));
  state_.reader_feature.assign(
      feature.begin(), feature.begin() + std::min<size_t>(feature.size(), kRecordArea));
}

void ReaderModel::SetPresent(bool present) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  state_.present = present;
  if (present) state_.vanish_after = -1;
}

void ReaderModel::VanishAfter(int n) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  state_.vanish_after = n;
  if (n == 0) state_.present = false;
}

ReaderState ReaderModel::Snapshot() const {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  return state_;
}

bool ReaderModel::Present() const {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  return state_.present;
}

bool ReaderModel::Inquiry(uint8_t* data192) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  if (!state_.present || state_.inquiry_pending) return false;
  std::memset(data192, 0, 192);
  data192[0] = 0x00;   // direct-access block device
  data192[1] = 0x80;   // removable
  data192[2] = 0x02;
  data192[3] = 0x02;
  data192[4] = 192 - 5;
  PadTo(state_.inquiry_vendor, 8, data192 + 8);
  PadTo(state_.inquiry_product, 16, data192 + 16);
  PadTo(state_.inquiry_revision, 4, data192 + 32);
  return true;
}

void ReaderModel::ClearLibrary() {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  state_.library.clear();
}

bool ReaderModel::InsertTemplate(int id, const uint8_t* name, int name_length,
                                 const uint8_t* record, int record_length) {
  if (name_length < 0 || record_length <= 0 || record_length > kRecordArea) return false;
  if ((name_length > 0 && name == nullptr) || record == nullptr) return false;
  std::lock_guard<std::recursive_mutex> guard(lock_);
  LibraryEntry entry;
  entry.id = id;
  entry.name.assign(name, name + name_length);
  entry.record.assign(record, record + record_length);
  for (LibraryEntry& e : state_.library) {
    if (e.id == id) {
      e = std::move(entry);
      return true;
    }
  }
  state_.library.push_back(std::move(entry));
  return true;
}

void ReaderModel::StoreLibrary() {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  state_.stored = state_.library;
  ++state_.store_count;
}

int ReaderModel::CountTemplates() const {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  return static_cast<int>(state_.library.size());
}

int ReaderModel::Search(int first, int second, char* text, int capacity) const {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  std::string out;
  for (const LibraryEntry& e : state_.library) {
    if (e.id < first || e.id > second) continue;
    std::string item = std::to_string(e.id);
    if (!out.empty()) item.insert(item.begin(), ',');
    if (static_cast<int>(out.size() + item.size()) > capacity) break;
    out += item;
  }
  std::memcpy(text, out.data(), out.size());
  return static_cast<int>(out.size());
}

// One rule for every finger: the sensor reads a finger while one is on it (SetFinger(true),
// or a finger source, which puts its finger on until SetFinger(false) takes it away), or
// while an image waits for a finger that follows the images.
// A coming finger (from a source, or one that follows the images) lifts once a capture
// has taken its image: the first finger-state query after that finds the sensor empty,
// and the next one finds the finger placed again if there is still a finger to come.
int ReaderModel::FingerState() {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  if (state_.finger_lifting) {
    state_.finger_lifting = false;
    return 1;
  }
  const bool present =
      state_.finger_on || (state_.finger_follows_images && !state_.queue.empty());
  return present ? 0 : 1;
}

void ReaderModel::Capture() {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  if (state_.queue.empty()) {
    state_.held = NextFromSource();
  } else {
    state_.held = std::move(state_.queue.front());
    state_.queue.pop_front();
  }
  if (state_.finger_follows_images || state_.finger_source != FingerSource::kNone) {
    state_.finger_lifting = true;
  }
}

ReaderImage ReaderModel::NextFromSource() {
  switch (state_.finger_source) {
    case FingerSource::kSynthetic: {
      ReaderImage image = BlankImage(kSyntheticWidth, kSyntheticHeight);
      DrawImpression(state_.synthetic_finger, state_.impressions++, image.pixels.data());
      return image;
    }
    case FingerSource::kImageFolder: {
      // A file that went missing or changed form since is passed over.
      const size_t count = state_.image_files.size();
      for (size_t tried = 0; tried < count; ++tried) {
        const std::string& path = state_.image_files[state_.impressions++ % count];
        std::vector<uint8_t> pixels = tools::ReadFingerprintPgm(path);
        if (pixels.empty()) continue;
        ReaderImage image;
        image.width = 152;
        image.height = 200;
        image.pixels = std::move(pixels);
        return image;
      }
      return BlankImage(152, 200);
    }
    case FingerSource::kNone:
      break;
  }
  return BlankImage(152, 200);
}

void ReaderModel::UseSyntheticFinger(uint32_t finger) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  state_.finger_source = FingerSource::kSynthetic;
  state_.synthetic_finger = finger;
  state_.image_files.clear();
  state_.impressions = 0;
  state_.finger_on = true;
  state_.finger_lifting = false;
}

bool ReaderModel::UseImageFolder(const std::string& folder) {
  std::vector<std::string> files;
  std::error_code error;
  for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
       it.increment(error)) {
    const std::filesystem::path& path = it->path();
    if (path.extension() == ".pgm" && it->is_regular_file(error)) files.push_back(path.string());
  }
  if (files.empty()) return false;
  std::sort(files.begin(), files.end());
  std::lock_guard<std::recursive_mutex> guard(lock_);
  state_.finger_source = FingerSource::kImageFolder;
  state_.image_files = std::move(files);
  state_.impressions = 0;
  state_.finger_on = true;
  state_.finger_lifting = false;
  return true;
}

void ReaderModel::SetRecordMaker(RecordMaker maker) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  record_maker_ = std::move(maker);
}

std::vector<uint8_t> ReaderModel::ReaderRecord(bool templ) {
  std::unique_lock<std::recursive_mutex> guard(lock_);
  if (!record_maker_) return templ ? state_.reader_template : state_.reader_feature;
  const RecordMaker maker = record_maker_;
  guard.unlock();
  std::vector<uint8_t> record = maker(*this, templ);
  if (record.size() > kRecordArea) record.resize(kRecordArea);
  return record;
}

ReaderImage ReaderModel::TakeImage() {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  Capture();
  return state_.held;
}

Fault ReaderModel::TakeFault() {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  if (fault_count_ <= 0) return Fault::kNone;
  const Fault fault = fault_;
  if (--fault_count_ == 0) fault_ = Fault::kNone;
  return fault;
}

void ReaderModel::CountCommand() {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  ++state_.commands;
  if (state_.vanish_after > 0 && --state_.vanish_after == 0) state_.present = false;
}

int ReaderModel::AnswerBinary(SimLink link, const uint8_t* request, int length,
                              uint8_t* reply, int capacity) {
  std::lock_guard<std::recursive_mutex> guard(lock_);
  if (!state_.present || request == nullptr || length < 0) return 0;
  state_.last_request.assign(request, request + length);
  const int written = Reply(link, request, length, reply, capacity);
  CountCommand();
  return written;
}

int ReaderModel::Reply(SimLink link, const uint8_t* request, int length, uint8_t* reply,
                       int capacity) {
  const int code_seen = length >= 4 ? request[3] : -1;
  const Fault fault =
      fault_code_ < 0 || fault_code_ == code_seen ? TakeFault() : Fault::kNone;
  if (fault == Fault::kSilent) return 0;

  std::vector<uint8_t> data;
  uint8_t status = kGood;
  bool well_formed = length >= 9 && request[0] == kStx && request[length - 1] == kEtx &&
                     WordAt(request + 1) + 5 == length;
  if (well_formed) {
    uint8_t sum = 0;
    for (int i = 1; i < length - 2; ++i) sum ^= request[i];
    well_formed = sum == request[length - 2];
  }
  const uint8_t code = well_formed ? request[3] : 0;
  const uint8_t p1 = well_formed ? request[4] : 0;
  const uint8_t* in = request + 7;
  const int n = well_formed ? length - 9 : 0;
  bool two_part = false;

  if (!well_formed) {
    status = kRefused;
  } else {
    switch (code) {
      case 0x01: {  // version
        data.assign(kVersionArea, 0);
        const int k = static_cast<int>(std::min<size_t>(state_.version.size(), kVersionArea - 1));
        data[0] = static_cast<uint8_t>(k);
        std::memcpy(data.data() + 1, state_.version.data(), static_cast<size_t>(k));
        break;
      }
      case 0x02:  // reset
        ++state_.resets;
        break;
      case 0x04:  // set security level
        if (n == 1 && in[0] <= 9) state_.security_level = in[0];
        else status = kRefused;
        break;
      case 0x05:
        data.push_back(static_cast<uint8_t>(state_.security_level));
        break;
      case 0x1E: {  // capture at once, the link's own size
        const ImmediateSize size = ImmediateOf(link);
        Capture();
        if (state_.held.width != size.width || state_.held.height != size.height) {
          state_.held = BlankImage(size.width, size.height);
        }
        data = state_.held.pixels;
        two_part = link == SimLink::kHid;
        break;
      }
      case 0x20:
        state_.library.clear();
        break;
      case 0x21: {  // insert: id, m, name, t, record
        bool ok = n >= 6;
        int m = 0;
        int t = 0;
        if (ok) {
          m = WordAt(in + 2);
          ok = 4 + m + 2 <= n;
        }
        if (ok) {
          t = WordAt(in + 4 + m);
          ok = 6 + m + t == n;
        }
        if (ok) ok = InsertTemplate(WordAt(in), in + 4, m, in + 6 + m, t);
        if (!ok) status = kRefused;
        break;
      }
      case 0x22:
        StoreLibrary();
        break;
      case 0x23:
        PutWord(data, static_cast<int>(state_.library.size()));
        break;
      case 0x31: {
        if (n != 4) {
          status = kRefused;
          break;
        }
        char text[kSearchArea];
        const int k = Search(WordAt(in), WordAt(in + 2), text, kSearchArea);
        PutWord(data, k);
        data.insert(data.end(), text, text + k);
        data.resize(2 + kSearchArea, 0);
        break;
      }
      case 0x40:  // get image size: the reader captures and reports the size
        Capture();
        PutWord(data, state_.held.width);
        PutWord(data, state_.held.height);
        break;
      case 0x41:
        data = state_.held.pixels;
        two_part = link == SimLink::kHid;
        break;
      case 0x43:
        PutWord(data, FingerState());
        break;
      case 0x50:
        if (p1 == 1 && n == 4) {
          state_.firmware_step = 1;
          state_.firmware_size = (static_cast<uint32_t>(in[0]) << 24) | (in[1] << 16) |
                                 (in[2] << 8) | in[3];
          state_.firmware_received = 0;
          state_.firmware_packets = 0;
        } else if (p1 == 2 && n >= 2 && state_.firmware_step >= 1) {
          state_.firmware_step = 2;
          state_.firmware_received += static_cast<uint32_t>(n - 2);
          ++state_.firmware_packets;
        } else if (p1 == 3 && n == 1 && state_.firmware_step >= 1) {
          state_.firmware_step = 0;
          state_.firmware_last_value = in[0];
          ++state_.firmware_updates;
        } else {
          status = kRefused;
        }
        break;
      case 0xA0:
      case 0xA2: {
        const std::vector<uint8_t> record = ReaderRecord(code == 0xA0);
        if (record.empty()) {
          status = kRefused;
          break;
        }
        PutWord(data, static_cast<int>(record.size()));
        data.insert(data.end(), record.begin(), record.end());
        data.resize(2 + kRecordArea, 0);
        break;
      }
      default:
        status = kRefused;
        break;
    }
  }
  if (status != kGood) data.clear();

  const std::vector<uint8_t> frame = Frame(status, data, fault);
  size_t begin = 0;
  size_t end = frame.size();
  // The HID link fetches long image replies in two parts, the second asked for with
  // parameter 1 = 1.
  if (two_part && status == kGood && frame.size() > kHidPart - 1) {
    if (p1 == 0) end = kHidPart;
    else begin = kHidPart;
  }
  const size_t count = std::min<size_t>(end - begin, static_cast<size_t>(std::max(capacity, 0)));
  if (count > 0 && reply != nullptr) std::memcpy(reply, frame.data() + begin, count);
  return reply != nullptr ? static_cast<int>(count) : 0;
}

ReaderModel& SharedReader() {
  static ReaderModel model;
  return model;
}

}  // namespace vantrel::sim
