// The disk link: the reader as a USB disk, binary frames inside vendor SCSI commands.
// Its command operations are DiskLinkOps() (reader/links/link_ops.h); this header
// exposes the pieces underneath for the tests and for the HID link's sibling code.
#pragma once

#include <cstdint>

#include "reader/links/binary_link.h"

namespace vantrel::links {

// The 16-byte vendor command block: FF, code, transfer length (16-bit), direction
// (00 to the reader, 80 from it), "ORVANTA771", FF.
inline constexpr int kVendorBlockSize = 16;
inline constexpr uint8_t kVendorToReader = 0x00;
inline constexpr uint8_t kVendorFromReader = 0x80;
void BuildVendorBlock(uint8_t code, int transfer_length, uint8_t direction,
                      uint8_t block[kVendorBlockSize]);

// The identity INQUIRY: 6-byte command, 192 data bytes, 3 s.
inline constexpr int kInquiryLength = 192;
// True when the INQUIRY data carry the reader's identity. Compared in order: vendor
// "Orvanta" (bytes 8..14), vendor and product "Orvanta MTR-771" (8..22), revision
// "1.00" (32..35).
bool IsReaderIdentity(const uint8_t data[kInquiryLength]);

// The disk link's transport over platform::Current().disk. Exchange returns -3 for a
// missing handle, request, reply buffer or request length, -2 when sending fails, -1
// when fetching fails, kReplyTooLong when the expected reply exceeds the buffer or the
// 16-bit transfer length.
BinaryTransport& DiskTransport();

}  // namespace vantrel::links
