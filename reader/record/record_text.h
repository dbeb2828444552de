// The text forms of a record: nibble text and base64 text.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vantrel::text {

// Writes 2n nibble characters for n bytes (no terminator).
void WriteNibbleText(const uint8_t* bytes, int n, char* text);

// Reads n bytes from the first 2n characters of text. A text that ends earlier (a NUL
// among its first 2n characters) is not read past its terminator: the missing
// characters count as '0'.
void ReadNibbleText(const char* text, int n, uint8_t* bytes);

// The base64 conversion entry. direction: low byte non-zero encodes, zero decodes.
// Returns -1 when input_length is 0 (checked first), -2 when input or output is null,
// else 0 with *output_length set (when output_length is not null). A text whose length
// is not a multiple of four decodes as if padded with '='; the pad is supplied without
// writing into input, so input needs no spare room and is left as it was. Characters
// outside the alphabet, bytes 0x80..0xFF included, count as 0. output_capacity bounds
// every write to output (a longer result is cut at the capacity; *output_length still
// tells the full length). A negative input_length gives an empty result.
int Base64Convert(int direction, char* input, int input_length, uint8_t* output,
                  int output_capacity, int* output_length);

}  // namespace vantrel::text
