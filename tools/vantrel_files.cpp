#include "tools/vantrel_files.h"

#if VANTREL_HAVE_PNG
#include <png.h>
#endif

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

namespace vantrel::tools {

namespace {

constexpr char kBase64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

uint32_t Le32(const std::string& b, size_t at) {
  return uint32_t{static_cast<uint8_t>(b[at])} | uint32_t{static_cast<uint8_t>(b[at + 1])} << 8 |
         uint32_t{static_cast<uint8_t>(b[at + 2])} << 16 |
         uint32_t{static_cast<uint8_t>(b[at + 3])} << 24;
}

uint16_t Le16(const std::string& b, size_t at) {
  return static_cast<uint16_t>(static_cast<uint8_t>(b[at]) | static_cast<uint8_t>(b[at + 1]) << 8);
}

void PutLe32(std::string& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

std::string SizeText(long w, long h) { return std::to_string(w) + " x " + std::to_string(h); }

// PGM header number: white space and # comments before it, at most six digits.
bool PgmNumber(const std::string& b, size_t& at, int& value) {
  for (;;) {
    while (at < b.size() && std::isspace(static_cast<unsigned char>(b[at]))) ++at;
    if (at < b.size() && b[at] == '#') {
      while (at < b.size() && b[at] != '\n') ++at;
      continue;
    }
    break;
  }
  value = 0;
  int digits = 0;
  while (at < b.size() && std::isdigit(static_cast<unsigned char>(b[at])) && digits < 7) {
    value = value * 10 + (b[at++] - '0');
    ++digits;
  }
  return digits > 0 && digits < 7;
}

bool ReadPgm(const std::string& path, const std::string& b, Image& image, std::string& error) {
  size_t at = 2;
  int w = 0, h = 0, maxval = 0;
  if (b.size() < 2 || b[0] != 'P' || b[1] != '5' || !PgmNumber(b, at, w) ||
      !PgmNumber(b, at, h) || !PgmNumber(b, at, maxval) || at >= b.size()) {
    error = path + ": not a binary (P5) PGM file";
    return false;
  }
  if (w != kWidth || h != kHeight || maxval != 255) {
    error = path + ": need 152 x 200 pixels of 8-bit grey, found " + SizeText(w, h) +
            " with maximum " + std::to_string(maxval);
    return false;
  }
  ++at;  // the one white-space byte before the pixels
  if (b.size() - at < static_cast<size_t>(kPixels)) {
    error = path + ": the pixels end early";
    return false;
  }
  image.assign(b.begin() + static_cast<long>(at), b.begin() + static_cast<long>(at) + kPixels);
  return true;
}

bool ReadBmp(const std::string& path, const std::string& b, Image& image, std::string& error) {
  if (b.size() < 54 || b[0] != 'B' || b[1] != 'M') {
    error = path + ": not a BMP file";
    return false;
  }
  const uint32_t offset = Le32(b, 10);
  const uint32_t info = Le32(b, 14);
  const int32_t w = static_cast<int32_t>(Le32(b, 18));
  const int32_t h_signed = static_cast<int32_t>(Le32(b, 22));
  const int bits = Le16(b, 28);
  const uint32_t compression = Le32(b, 30);
  const bool top_down = h_signed < 0;
  const long h = top_down ? -static_cast<long>(h_signed) : h_signed;
  if (w != kWidth || h != kHeight) {
    error = path + ": need 152 x 200 pixels, found " + SizeText(w, h);
    return false;
  }
  if ((bits != 8 && bits != 24) || compression != 0 || info < 40) {
    error = path + ": need an uncompressed 8-bit or 24-bit BMP, found " + std::to_string(bits) +
            " bits, compression " + std::to_string(compression);
    return false;
  }
  const size_t stride = (static_cast<size_t>(kWidth) * (bits / 8) + 3) / 4 * 4;
  if (offset > b.size() || b.size() - offset < stride * kHeight) {
    error = path + ": the pixels end early";
    return false;
  }
  // 8-bit pixels go through the palette (grey as the mean of its colours).
  uint8_t grey[256];
  for (int i = 0; i < 256; ++i) grey[i] = static_cast<uint8_t>(i);
  if (bits == 8) {
    const size_t palette = 14 + static_cast<size_t>(info);
    for (int i = 0; i < 256 && palette + 4 * i + 3 <= offset && palette + 4 * i + 3 < b.size();
         ++i) {
      const auto* p = reinterpret_cast<const uint8_t*>(b.data() + palette + 4 * i);
      grey[i] = static_cast<uint8_t>((p[0] + p[1] + p[2]) / 3);
    }
  }
  image.assign(kPixels, 0);
  for (int row = 0; row < kHeight; ++row) {
    const size_t stored = top_down ? row : kHeight - 1 - row;
    const auto* p = reinterpret_cast<const uint8_t*>(b.data() + offset + stored * stride);
    for (int x = 0; x < kWidth; ++x) {
      image[row * kWidth + x] =
          bits == 8 ? grey[p[x]] : static_cast<uint8_t>((p[3 * x] + p[3 * x + 1] + p[3 * x + 2]) / 3);
    }
  }
  return true;
}

bool WriteBytes(const std::string& path, const std::string& bytes, std::string& error) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) {
    error = "cannot write " + path;
    return false;
  }
  return true;
}

#if VANTREL_HAVE_PNG
bool ReadPng(const std::string& path, Image& image, std::string& error) {
  png_image png{};
  png.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&png, path.c_str())) {
    error = path + ": not a PNG file (" + png.message + ")";
    return false;
  }
  if (png.width != kWidth || png.height != kHeight) {
    error = path + ": need 152 x 200 pixels, found " + SizeText(png.width, png.height);
    png_image_free(&png);
    return false;
  }
  png.format = PNG_FORMAT_GRAY;
  image.assign(kPixels, 0);
  if (!png_image_finish_read(&png, nullptr, image.data(), 0, nullptr)) {
    error = path + ": " + png.message;
    png_image_free(&png);
    return false;
  }
  return true;
}

bool WritePng(const std::string& path, int width, int height, const uint8_t* pixels,
              bool colour, std::string& error) {
  png_image png{};
  png.version = PNG_IMAGE_VERSION;
  png.width = static_cast<png_uint_32>(width);
  png.height = static_cast<png_uint_32>(height);
  png.format = colour ? PNG_FORMAT_RGB : PNG_FORMAT_GRAY;
  if (!png_image_write_to_file(&png, path.c_str(), 0, pixels, 0, nullptr)) {
    error = "cannot write " + path + " (" + png.message + ")";
    return false;
  }
  return true;
}
#else
bool ReadPng(const std::string& path, Image&, std::string& error) {
  error = path + ": this build of vantrel reads no PNG files (libpng was absent)";
  return false;
}

bool WritePng(const std::string& path, int, int, const uint8_t*, bool, std::string& error) {
  error = path + ": this build of vantrel writes no PNG files (libpng was absent)";
  return false;
}
#endif

bool AllIn(const std::string& text, bool (*accept)(char)) {
  return std::all_of(text.begin(), text.end(), accept);
}

bool IsNibbleChar(char c) { return c >= 0x30 && c <= 0x3F; }
bool IsBase64Char(char c) {
  return c == '=' || (c != '\0' && std::strchr(kBase64Alphabet, c) != nullptr);
}

}  // namespace

ImageFormat ImageFormatOf(const std::string& path) {
  const size_t dot = path.find_last_of('.');
  const std::string ext = dot == std::string::npos ? "" : Lower(path.substr(dot + 1));
  if (ext == "pgm") return ImageFormat::kPgm;
  if (ext == "bmp") return ImageFormat::kBmp;
  if (ext == "png") return ImageFormat::kPng;
  return ImageFormat::kUnknown;
}

void FlipForm(Image& image) {
  for (auto& p : image) p = static_cast<uint8_t>(255 - p);
  for (int r = 0; r < kHeight / 2; ++r) {
    std::swap_ranges(image.begin() + r * kWidth, image.begin() + (r + 1) * kWidth,
                     image.begin() + (kHeight - 1 - r) * kWidth);
  }
}

bool ReadFile(const std::string& path, std::string& content, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot open " + path;
    return false;
  }
  std::ostringstream all;
  all << in.rdbuf();
  content = all.str();
  return true;
}

bool ReadImage(const std::string& path, Image& image, std::string& error) {
  const ImageFormat format = ImageFormatOf(path);
  if (format == ImageFormat::kUnknown) {
    error = path + ": name the image .pgm, .bmp or .png";
    return false;
  }
  if (format == ImageFormat::kPng) return ReadPng(path, image, error);
  std::string bytes;
  if (!ReadFile(path, bytes, error)) return false;
  return format == ImageFormat::kPgm ? ReadPgm(path, bytes, image, error)
                                     : ReadBmp(path, bytes, image, error);
}

bool WriteImage(const std::string& path, const Image& image, std::string& error) {
  if (image.size() != static_cast<size_t>(kPixels)) {
    error = "no image to write";
    return false;
  }
  switch (ImageFormatOf(path)) {
    case ImageFormat::kPgm:
      return WriteBytes(path, "P5\n152 200\n255\n" + std::string(image.begin(), image.end()), error);
    case ImageFormat::kPng:
      return WritePng(path, kWidth, kHeight, image.data(), false, error);
    case ImageFormat::kBmp: {
      // The reader's own layout: 1078-byte header with a grey palette, rows bottom-up.
      std::string b = "BM";
      PutLe32(b, 1078 + kPixels);
      PutLe32(b, 0);
      PutLe32(b, 1078);
      PutLe32(b, 40);
      PutLe32(b, kWidth);
      PutLe32(b, kHeight);
      PutLe32(b, 1 | (8 << 16));  // planes, bits per pixel
      PutLe32(b, 0);
      PutLe32(b, kPixels);
      for (int i = 0; i < 4; ++i) PutLe32(b, 0);
      for (int i = 0; i < 256; ++i) PutLe32(b, static_cast<uint32_t>(i * 0x010101));
      for (int row = kHeight - 1; row >= 0; --row) {
        b.append(reinterpret_cast<const char*>(image.data()) + row * kWidth, kWidth);
      }
      return WriteBytes(path, b, error);
    }
    case ImageFormat::kUnknown:
      break;
  }
  error = path + ": name the image .pgm, .bmp or .png";
  return false;
}

bool WriteRgb(const std::string& path, int width, int height, const std::vector<uint8_t>& rgb,
              std::string& error) {
  if (ImageFormatOf(path) == ImageFormat::kPng) {
    return WritePng(path, width, height, rgb.data(), true, error);
  }
  std::string b = "P6\n" + std::to_string(width) + " " + std::to_string(height) + "\n255\n";
  b.append(rgb.begin(), rgb.end());
  return WriteBytes(path, b, error);
}

std::string NibbleText(const Record& record) {
  std::string text;
  for (uint8_t b : record) {
    text.push_back(static_cast<char>(0x30 + (b >> 4)));
    text.push_back(static_cast<char>(0x30 + (b & 0x0F)));
  }
  return text;
}

bool NibbleToRecord(const char* text, Record& record) {
  for (int i = 0; i < kNibbleChars; ++i) {
    if (!IsNibbleChar(text[i])) return false;
  }
  for (int i = 0; i < kRecordBytes; ++i) {
    record[i] = static_cast<uint8_t>((text[2 * i] & 0x0F) << 4 | (text[2 * i + 1] & 0x0F));
  }
  return true;
}

std::string Base64Text(const Record& record) {
  std::string out;
  for (int i = 0; i < kRecordBytes; i += 3) {
    const uint32_t v = uint32_t{record[i]} << 16 |
                       (i + 1 < kRecordBytes ? uint32_t{record[i + 1]} << 8 : 0) |
                       (i + 2 < kRecordBytes ? uint32_t{record[i + 2]} : 0);
    out.push_back(kBase64Alphabet[(v >> 18) & 63]);
    out.push_back(kBase64Alphabet[(v >> 12) & 63]);
    out.push_back(i + 1 < kRecordBytes ? kBase64Alphabet[(v >> 6) & 63] : '=');
    out.push_back(i + 2 < kRecordBytes ? kBase64Alphabet[v & 63] : '=');
  }
  return out;
}

bool Base64ToRecord(const std::string& text, Record& record) {
  // 256 bytes are 85 full groups and one of a single byte: exactly "xx==" at the end.
  if (text.size() != static_cast<size_t>(kBase64Chars) || text.compare(342, 2, "==") != 0) {
    return false;
  }
  int out = 0;
  uint32_t bits = 0;
  int held = 0;
  for (int i = 0; i < 342; ++i) {
    const char* p = text[i] == '\0' ? nullptr : std::strchr(kBase64Alphabet, text[i]);
    if (p == nullptr) return false;
    bits = bits << 6 | static_cast<uint32_t>(p - kBase64Alphabet);
    held += 6;
    if (held >= 8) {
      held -= 8;
      if (out < kRecordBytes) record[out++] = static_cast<uint8_t>((bits >> held) & 0xFF);
    }
  }
  return out == kRecordBytes;
}

bool ParseRecord(const std::string& content, Record& record, RecordForm* form,
                 std::string& why) {
  if (content.size() == static_cast<size_t>(kRecordBytes)) {
    std::copy(content.begin(), content.end(), record.begin());
    if (form != nullptr) *form = RecordForm::kRaw;
    return true;
  }
  std::string text = content;
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.pop_back();
  if (text.size() == static_cast<size_t>(kNibbleChars) && AllIn(text, IsNibbleChar)) {
    NibbleToRecord(text.c_str(), record);
    if (form != nullptr) *form = RecordForm::kNibble;
    return true;
  }
  if (text.size() == static_cast<size_t>(kBase64Chars) && AllIn(text, IsBase64Char) &&
      Base64ToRecord(text, record)) {
    if (form != nullptr) *form = RecordForm::kBase64;
    return true;
  }
  why = "not a record: need 256 raw bytes, 512 characters of nibble text or 344 of base64 "
        "text (found " + std::to_string(content.size()) + " bytes)";
  return false;
}

bool ReadRecord(const std::string& path, Record& record, std::string& error) {
  std::string content;
  if (!ReadFile(path, content, error)) return false;
  std::string why;
  if (ParseRecord(content, record, nullptr, why)) return true;
  error = path + ": " + why;
  return false;
}

bool WriteRecord(const std::string& path, const Record& record, RecordForm form,
                 std::string& error) {
  switch (form) {
    case RecordForm::kNibble: return WriteBytes(path, NibbleText(record) + "\n", error);
    case RecordForm::kBase64: return WriteBytes(path, Base64Text(record) + "\n", error);
    case RecordForm::kRaw:
      return WriteBytes(path, std::string(record.begin(), record.end()), error);
  }
  return false;
}

bool ParseRecordForm(const std::string& name, RecordForm* form) {
  if (name == "nibble") *form = RecordForm::kNibble;
  else if (name == "base64") *form = RecordForm::kBase64;
  else if (name == "raw") *form = RecordForm::kRaw;
  else return false;
  return true;
}

}  // namespace vantrel::tools
