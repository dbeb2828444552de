// The binary-link command operations (disk and HID), written once over a small
// transport. Each operation follows the same order:
//
//   1. build the request from the command table row,
//   2. open a device into an empty local slot (none found: -10),
//   3. exchange (a link error is returned as it is),
//   4. check the reply against the row's expected total,
//   5. copy the reply data out to the caller,
//   6. close the device, on success and on every failure after step 2.
//
// Output arguments are written only on success (except the width and height of the
// immediate capture, which are set before the exchange). Every operation returns 0 or
// a code of reader/protocol/result_codes.h; FingerState returns the state (>= 0).
#pragma once

#include <cstdint>

#include "reader/links/link_ops.h"
#include "reader/protocol/command_table.h"

namespace vantrel::links {

// A device handle held by a link: -1 when empty. The meaning of the number is the
// transport's.
struct DeviceSlot {
  int handle = -1;
  bool Empty() const { return handle < 0; }
};

// What a link supplies. One instance per link, process-wide; called on the caller's
// thread (and from the finger-wait threads for FingerState), one call at a time.
class BinaryTransport {
 public:
  virtual ~BinaryTransport() = default;

  // Which column of the command table applies (time-outs, reply rules, copy rules).
  virtual protocol::BinaryLink Link() const = 0;

  // Finds a reader and stores its handle in slot. False when none is found, or when the
  // slot already holds a handle (which is then left alone).
  virtual bool Open(DeviceSlot& slot) = 0;

  // Closes the handle in slot, if any, and empties it. False when closing failed (the
  // slot then keeps the handle).
  virtual bool Close(DeviceSlot& slot) = 0;

  // Sends request[0..request_length) and receives one reply into reply[0..capacity).
  // expected_total is the length the command table expects for this exchange (for the
  // two-part image transfer: the length of this part), or 0 where any length is
  // accepted. *received is set to the reply's length (never more than capacity) on
  // success: the length the link asked for or the reply announced, with any bytes that
  // did not arrive stored as zero for the reply check to find. A reply that would not
  // fit capacity is refused with
  // kReplyTooLong before it is stored. Returns 0 or the link's own exchange code
  // (-1, -2, -3 and so on); an empty slot is the link's "missing handle" code.
  virtual int Exchange(DeviceSlot& slot, const uint8_t* request, int request_length,
                       uint8_t* reply, int capacity, int expected_total,
                       uint32_t timeout_ms, int* received) = 0;

  // The handle kept between the firmware-update steps (process-wide, empty at load).
  virtual DeviceSlot& FirmwareSlot() = 0;

  // Largest reply one exchange carries; image replies with a larger expected total
  // are fetched in two parts (parameter 1 = 0 for the first kPartSize bytes, then
  // parameter 1 = 1 for the rest). 0: never split.
  virtual int PartSize() const = 0;
};

// The operations. The names follow the LinkOps members they serve.
int BinaryReset(BinaryTransport& t);
int BinaryGetVersion(BinaryTransport& t, uint8_t* buffer, int* length);
int BinarySetSecurityLevel(BinaryTransport& t, int level);
int BinaryGetSecurityLevel(BinaryTransport& t, int* level);
int BinaryClearLibrary(BinaryTransport& t);
int BinaryInsertTemplate(BinaryTransport& t, int id, const uint8_t* name, int name_length,
                         const char* text, int text_length);
int BinaryStoreLibrary(BinaryTransport& t);
int BinaryCountTemplates(BinaryTransport& t, int* count);
// buffer receives at most kMaxSearchText bytes and a zero behind them: the 159-byte
// search reply less its framing and its 16-bit text length.
inline constexpr int kMaxSearchText = 159 - 7 - 2;
int BinarySearch(BinaryTransport& t, int first, int second, uint8_t* buffer, int* length);
int BinaryGetImageSize(BinaryTransport& t, int* width, int* height);
// image receives width x height bytes.
int BinaryReadImage(BinaryTransport& t, int width, int height, uint8_t* image);
// image receives the link's immediate size (disk 152 x 200, HID 256 x 360).
int BinaryCaptureImageAtOnce(BinaryTransport& t, int* width, int* height, uint8_t* image);
// The finger state (0 = finger present) or a negative code.
int BinaryFingerState(BinaryTransport& t);
// Detection probe: a version query whose text is not kept.
int BinaryDetect(BinaryTransport& t);
// text receives 2 x (record length) characters, no terminator (at most 512).
int BinaryReaderTemplate(BinaryTransport& t, char* text, int* length);
int BinaryReaderFeature(BinaryTransport& t, char* text, int* length);

// Firmware update, over t.FirmwareSlot():
// announce: local open, exchange, check, close; then open into the firmware slot
//   (-10 when none is found or the slot is still held by an unfinished update);
// packet: exchange on the firmware slot (an empty slot gives the link's missing-handle
//   code); success waits 50 ms on the platform clock and keeps the slot; failure closes
//   it;
// finish: closes the firmware slot, then a local open, exchange, check, close.
int BinaryUpdateSendFileSize(BinaryTransport& t, int size);
int BinaryUpdateSendPacket(BinaryTransport& t, int number, const uint8_t* data, int length);
int BinaryUpdateWrite(BinaryTransport& t, int value);

// Version text bytes copied at most (the one-byte length of the reply).
inline constexpr int kMaxVersionText = 255;

// The LinkOps table of a binary link: every operation above bound to the transport that
// Get() returns. The disk and HID links differ only in their transport.
template <BinaryTransport& (*Get)()>
const LinkOps& BinaryLinkOps() {
  static const LinkOps ops = [] {
    LinkOps o{};
    o.Reset = [] { return BinaryReset(Get()); };
    o.GetVersion = [](uint8_t* buffer, int* length) {
      return BinaryGetVersion(Get(), buffer, length);
    };
    o.SetSecurityLevel = [](int level) { return BinarySetSecurityLevel(Get(), level); };
    o.GetSecurityLevel = [](int* level) { return BinaryGetSecurityLevel(Get(), level); };
    o.ClearLibrary = [] { return BinaryClearLibrary(Get()); };
    o.InsertTemplate = [](int id, const uint8_t* name, int name_length, const char* text,
                          int text_length) {
      return BinaryInsertTemplate(Get(), id, name, name_length, text, text_length);
    };
    o.StoreLibrary = [] { return BinaryStoreLibrary(Get()); };
    o.CountTemplates = [](int* count) { return BinaryCountTemplates(Get(), count); };
    o.Search = [](int first, int second, uint8_t* buffer, int* length) {
      return BinarySearch(Get(), first, second, buffer, length);
    };
    o.UpdateSendFileSize = [](int size) { return BinaryUpdateSendFileSize(Get(), size); };
    o.UpdateSendPacket = [](int number, const uint8_t* data, int length) {
      return BinaryUpdateSendPacket(Get(), number, data, length);
    };
    o.UpdateWrite = [](int value) { return BinaryUpdateWrite(Get(), value); };
    o.ReaderTemplate = [](char* text, int* length) {
      return BinaryReaderTemplate(Get(), text, length);
    };
    o.ReaderFeature = [](char* text, int* length) {
      return BinaryReaderFeature(Get(), text, length);
    };
    o.GetImageSize = [](int* width, int* height) {
      return BinaryGetImageSize(Get(), width, height);
    };
    // The binary links report no size with the image itself: out_width and out_height
    // are left as they are, and upload mode changes nothing.
    o.ReadImage = [](int width, int height, uint8_t* image, int /*upload_mode*/,
                     int* /*out_width*/, int* /*out_height*/) {
      return BinaryReadImage(Get(), width, height, image);
    };
    o.CaptureImageAtOnce = [](int* width, int* height, uint8_t* image) {
      return BinaryCaptureImageAtOnce(Get(), width, height, image);
    };
    o.FingerState = [] { return BinaryFingerState(Get()); };
    o.Detect = [] { return BinaryDetect(Get()); };
    return o;
  }();
  return ops;
}

}  // namespace vantrel::links
