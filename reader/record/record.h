// The 256-byte feature record: unsealed layout, building and decoding, and the seal.
#pragma once

#include <cstdint>

namespace vantrel::record {

inline constexpr int kRecordBytes = 256;
inline constexpr int kMaxMinutiae = 50;
inline constexpr uint8_t kFormat = 3;
inline constexpr uint8_t kVersion = 1;
inline constexpr uint8_t kSealMark = 0x67;  // 'g'

// The block grid of the background map: 8 x 8 pixel blocks of the 256 x 288 canvas.
inline constexpr int kBlockColumns = 32;
inline constexpr int kBlockRows = 36;

enum MinutiaType : uint8_t { kRidgeEnding = 0, kBifurcation = 1 };

// One minutia as the record stores it (canvas pixels, whole degrees).
struct Minutia {
  int32_t x = 0;            // 8..247 (9 bits)
  int32_t y = 0;            // 8..279 (9 bits)
  int32_t direction = 0;    // 0..359 (9 bits)
  int32_t reliability = 0;  // 0..15 (4 bits)
  int32_t type = kRidgeEnding;
};

// What extraction (and template synthesis) puts into a record.
struct RecordContent {
  uint8_t quality = 0;
  int count = 0;                          // 0..50
  Minutia minutiae[kMaxMinutiae];         // in stored order
  // Block mask, 1 background / 0 foreground, [row][column]; compressed to the 17-word map.
  uint8_t block_mask[kBlockRows][kBlockColumns] = {};
  int32_t core1_x = 0, core1_y = 0;       // canvas pixels, 0, 0 = none
  int32_t core2_x = 0, core2_y = 0;
  bool core2_marker = false;              // store the 0, 1 marker instead of core 2
  uint8_t area_height = 0, area_width = 0;  // 0 stands for 288 / 256
};

// A record decoded for the matcher, template synthesis and the quality query.
struct DecodedRecord {
  uint8_t format = 0, version = 0, quality = 0;
  int count = 0;      // as stored; a count above 50 is invalid and reads as no minutiae
  int usable = 0;     // minutiae actually decoded: count if 0..50, else 0
  Minutia minutiae[kMaxMinutiae];
  // Expanded block mask: rows 1..34, columns 1..30 from the map, outer ring background.
  uint8_t block_mask[kBlockRows][kBlockColumns] = {};
  int32_t core1_x = 0, core1_y = 0, core2_x = 0, core2_y = 0;  // stored bytes x 2
  uint8_t area_height = 0, area_width = 0;
  uint16_t map[17] = {};
};

// Writes the unsealed form (header 3, 1) of content into record[0..255].
void BuildRecord(const RecordContent& content, uint8_t* record);

// Reads an unsealed record. Never reads outside the 256 bytes, whatever they hold.
void DecodeRecord(const uint8_t* record, DecodedRecord& out);

// Packs / unpacks one 32-bit minutia word (bits: x 31..23, y 22..14, direction 13..5,
// reliability 4..1, type 0). Packing masks each field to its width.
uint32_t PackMinutia(const Minutia& m);
inline Minutia UnpackMinutia(uint32_t word) {
  Minutia m;
  m.x = static_cast<int32_t>((word >> 23) & 0x1FF);
  m.y = static_cast<int32_t>((word >> 14) & 0x1FF);
  m.direction = static_cast<int32_t>((word >> 5) & 0x1FF);
  m.reliability = static_cast<int32_t>((word >> 1) & 0xF);
  m.type = static_cast<int32_t>(word & 0x1);
  return m;
}

// Seal: -1 and the buffer unchanged unless bytes 0, 1 are 3, 1; else 0x67, 0x81 and
// bytes 1..255 scrambled, 0.
int SealRecord(uint8_t* record);
// Unseal: -1 unless byte 0 is 0x67, or when byte 1 does not unscramble to 0x8?; else
// header 3, 1 and 0.
int UnsealRecord(uint8_t* record);
// Copies 256 sealed bytes to out and unseals the copy; the source is never changed.
// Returns UnsealRecord's result.
int UnsealCopy(const uint8_t* sealed, uint8_t* out);

// The reversible scrambler over length bytes. Both return 0.
int ScrambleBytes(uint8_t* bytes, uint16_t length);
int UnscrambleBytes(uint8_t* bytes, uint16_t length);

}  // namespace vantrel::record
