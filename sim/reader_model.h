// The stand-in reader: a device model that keeps its state across commands and answers
// each binary request the way the reader does, with the exact reply length and status.
// It is written from what the reader must answer, not from the library's frame code.
//
// Links plug it in through their own adapters (sim/disk_reader_sim.h for the disk
// link; the HID and serial adapters reuse the state below). Tests drive it through the
// control surface: images to deliver, finger on or off, faults to inject.
//
// Thread-safe: every public member takes the model's lock. Adapters that answer their
// own commands (serial) call the state operations, which take the lock themselves.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace vantrel::sim {

enum class SimLink : uint8_t { kDisk, kHid, kSerial };

// Faults a test can ask for. Each applies to the next reply (or INQUIRY) and is used up,
// unless given a count.
enum class Fault : uint8_t {
  kNone,
  kSilent,          // no reply at all
  kWrongLength,     // length field one more than it should be, one byte more sent
  kShortReply,      // length field one less, one byte fewer sent
  kBadChecksum,
  kBadStartMarker,
  kBadEndMarker,
  kStatusBusy,      // status 0x3A
  kStatusError,     // status 0x01
};

// Where a capture's image comes from when none is queued.
enum class FingerSource : uint8_t {
  kNone,          // a blank sensor; the finger only as SetFinger puts it
  kSynthetic,     // the next impression of a synthetic finger
  kImageFolder,   // the next image file of a folder, from the start again after the last
};

struct ReaderImage {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> pixels;  // width x height, reader form
};

struct LibraryEntry {
  int id = 0;
  std::vector<uint8_t> name;
  std::vector<uint8_t> record;
};

// Everything the reader remembers. Read it through Snapshot(); change it through the
// control surface or by commands.
struct ReaderState {
  int security_level = 5;
  // The finger rule (see ReaderModel::FingerState): a finger is on the sensor while
  // finger_on is set, or, with finger_follows_images, while an image is queued. A coming
  // finger (a finger source's, or one that follows the images) lifts once a capture has
  // taken its image: finger_lifting makes the next finger-state query read an empty
  // sensor, after which the finger is there again if one is still to come.
  bool finger_on = false;
  bool finger_follows_images = false;
  bool finger_lifting = false;
  std::vector<LibraryEntry> library;   // working library (insert, clear)
  std::vector<LibraryEntry> stored;    // what the last store committed
  int store_count = 0;
  std::deque<ReaderImage> queue;       // images still to deliver
  ReaderImage held;                    // the image the last capture took
  std::vector<uint8_t> reader_template;  // on-reader records (at most 256 bytes)
  std::vector<uint8_t> reader_feature;
  std::string version = "MTR-771A V1.00";
  // Firmware steps: 0 idle, 1 announced, 2 receiving packets; finished updates counted.
  int firmware_step = 0;
  uint32_t firmware_size = 0;
  uint32_t firmware_received = 0;
  int firmware_packets = 0;
  int firmware_updates = 0;
  int firmware_last_value = -1;
  // INQUIRY identity: vendor (8), product (16), revision (4), space padded.
  std::string inquiry_vendor = "Orvanta";
  std::string inquiry_product = "MTR-771A";
  std::string inquiry_revision = "1.00";
  bool inquiry_pending = false;        // INQUIRY never completes at once
  bool present = true;                 // false: unplugged
  int vanish_after = -1;               // commands still answered before unplugging
  int commands = 0;                    // requests answered since construction
  int resets = 0;
  std::vector<uint8_t> last_request;   // the last binary request as received
  // The finger on the sensor when no image is queued (see UseSyntheticFinger).
  FingerSource finger_source = FingerSource::kNone;
  uint32_t synthetic_finger = 0;
  std::vector<std::string> image_files;  // kImageFolder: the files, in name order
  uint32_t impressions = 0;              // impressions taken from the source so far
};

class ReaderModel {
 public:
  ReaderModel();

  // --- Control surface -------------------------------------------------------------
  void QueueImage(const uint8_t* pixels, int width, int height);
  void SetFinger(bool on);
  // The next count replies carry the fault; with only_code >= 0, the next count replies
  // to that binary command code (other replies stay sound).
  void InjectFault(Fault fault, int count = 1, int only_code = -1);
  void SetFingerFollowsImages(bool on);
  void SetIdentity(const std::string& vendor, const std::string& product,
                   const std::string& revision);
  void SetInquiryPending(bool pending);
  void SetVersion(const std::string& text);
  void SetReaderRecords(const std::vector<uint8_t>& templ, const std::vector<uint8_t>& feature);
  void SetPresent(bool present);
  // Answers n more commands, then is gone (as if unplugged). On the disk link the
  // reply of the last one is lost with it: the reader vanishes mid-command. n = 0:
  // gone at once.
  void VanishAfter(int n);
  ReaderState Snapshot() const;
  // A finger for captures that find no image queued: impressions 0, 1, 2, ... of a
  // synthetic finger, or the 152 x 200 PGM files of a folder in name order, cycling.
  // Choosing a source puts its finger on the sensor (finger_on); it lifts after each
  // capture, the first finger-state query after the lift sees the sensor empty, the next
  // finds the finger placed again. SetFinger(false) takes it away. UseImageFolder is
  // false (and changes nothing) when the folder holds no .pgm file.
  void UseSyntheticFinger(uint32_t finger);
  bool UseImageFolder(const std::string& folder);
  // The reader's own feature and template records (serial feature and template
  // commands, on-reader commands). By default the fixed records of SetReaderRecords; a
  // maker builds them instead, for example from captured images. An empty record from
  // the maker is a refused command.
  using RecordMaker = std::function<std::vector<uint8_t>(ReaderModel& model, bool templ)>;
  void SetRecordMaker(RecordMaker maker);
  std::vector<uint8_t> ReaderRecord(bool templ);
  // Captures as the get-image-size command does and returns the image taken.
  ReaderImage TakeImage();

  // --- The wire ----------------------------------------------------------------------
  bool Present() const;
  // The 192 INQUIRY bytes. False when the INQUIRY stays pending or the reader is gone.
  bool Inquiry(uint8_t* data192);
  // Answers one binary request (start marker to end marker). Returns the reply length
  // written to reply (at most capacity; the rest of a longer reply is lost, as on a
  // short transfer), 0 when the reader stays silent. For the HID link's two-part image
  // replies, parameter 1 = 0 returns the first 65536 bytes, 1 the rest.
  int AnswerBinary(SimLink link, const uint8_t* request, int length, uint8_t* reply,
                   int capacity);

  // --- State operations shared by every link's adapter ------------------------------
  void ClearLibrary();
  // False when the entry is malformed.
  bool InsertTemplate(int id, const uint8_t* name, int name_length, const uint8_t* record,
                      int record_length);
  void StoreLibrary();
  int CountTemplates() const;
  // Ids of the working library from first to second, as "id,id,..." text (at most
  // capacity bytes). Returns the text length.
  int Search(int first, int second, char* text, int capacity) const;
  int FingerState();  // 0 finger present, 1 none
  // Takes the next queued image as the held image (a blank sensor when none is queued).
  void Capture();
  // Takes the next fault, if any, and counts it used.
  Fault TakeFault();
  // Counts one command; the reader vanishes once vanish_after runs out.
  void CountCommand();

 private:
  int Reply(SimLink link, const uint8_t* request, int length, uint8_t* reply, int capacity);
  ReaderImage NextFromSource();
  mutable std::recursive_mutex lock_;
  ReaderState state_;
  Fault fault_ = Fault::kNone;
  int fault_count_ = 0;
  RecordMaker record_maker_;
  int fault_code_ = -1;
};

// The process-wide stand-in reader that VANTREL_SIMULATOR attaches.
ReaderModel& SharedReader();

}  // namespace vantrel::sim
