// Arbitrary bytes through every picture decoder. Whatever a decoder accepts
// is a whole picture of the size its header states (PNG's IHDR, the first
// JPEG frame header, GIF's screen, BMP's info header), decodes the same way
// twice, is opaque where its format has no transparency, and for PNG and
// BMP does not change when bytes follow the picture. A picture whose header
// claims more than the decoders' bound is refused. The BMP reader gets
// the bytes in a buffer of their exact size, so that a read past them is
// caught by the address sanitizer.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "gdi/image_codec.h"

using qk::gdi::DecodedImage;

namespace {

uint32_t Be32(const uint8_t* p) { return (uint32_t(p[0]) << 24) | (p[1] << 16) | (p[2] << 8) | p[3]; }
uint32_t Be16(const uint8_t* p) { return (uint32_t(p[0]) << 8) | p[1]; }
uint32_t Le16(const uint8_t* p) { return p[0] | (uint32_t(p[1]) << 8); }
uint32_t Le32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t(p[3]) << 24); }

// Stops the run, naming the property that failed.
void Fail(int line) {
  fprintf(stderr, "property of line %d does not hold\n", line);
  abort();
}
#define Require(ok) ((ok) ? (void)0 : Fail(__LINE__))

// A picture as every decoder must leave it.
void CheckShape(const DecodedImage& img) {
  Require(img.width > 0 && img.height > 0);
  Require(int64_t(img.width) * img.height <= qk::gdi::kMaxDecodedPixels);
  Require(img.width <= qk::gdi::kMaxDecodedSide && img.height <= qk::gdi::kMaxDecodedSide);
  Require(img.bgra.size() == size_t(img.width) * img.height * 4);
}

void CheckOpaque(const DecodedImage& img) {
  for (size_t i = 3; i < img.bgra.size(); i += 4) Require(img.bgra[i] == 255);
}

// The size in the first frame header of a JPEG whose segments follow each
// other without stray bytes; false when there is none such.
bool JpegFrameSize(const uint8_t* d, size_t n, uint32_t* w, uint32_t* h) {
  size_t pos = 2;
  while (pos + 4 <= n) {
    if (d[pos] != 0xFF) return false;
    uint8_t m = d[pos + 1];
    if (m == 0xFF) {
      ++pos;
      continue;
    }
    if (m == 0x01 || (m >= 0xD0 && m <= 0xD8)) {
      pos += 2;
      continue;
    }
    if (m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC) {
      if (pos + 9 > n) return false;
      *h = Be16(d + pos + 5);
      *w = Be16(d + pos + 7);
      return true;
    }
    if (m == 0xDA || m == 0xD9) return false;
    pos += 2 + Be16(d + pos + 2);
  }
  return false;
}

using Decoder = bool (*)(const uint8_t*, size_t, DecodedImage*);

// Decodes a copy of exactly the given bytes.
bool DecodeExact(Decoder decode, const uint8_t* data, size_t size, DecodedImage* out) {
  std::vector<uint8_t> copy(data, data + size);
  return decode(copy.data(), copy.size(), out);
}

void CheckStable(Decoder decode, const uint8_t* data, size_t size, const DecodedImage& first) {
  DecodedImage again;
  Require(DecodeExact(decode, data, size, &again));
  Require(again.width == first.width && again.height == first.height && again.bgra == first.bgra);
}

// Bytes after a whole picture are not part of it.
void CheckTrailingBytesIgnored(Decoder decode, const uint8_t* data, size_t size, const DecodedImage& first) {
  std::vector<uint8_t> longer(data, data + size);
  longer.insert(longer.end(), 24, 0xA5);
  DecodedImage img;
  Require(decode(longer.data(), longer.size(), &img));
  Require(img.width == first.width && img.height == first.height && img.bgra == first.bgra);
}


// Pictures whose header claims more pixels than this, up to the decoders'
// bound, are not decoded here: their pixels are made before the data is
// read, and each run would then spend a while filling them. Claims past the
// bound are decoded, and must be refused before anything is made.
constexpr uint64_t kMostPixels = uint64_t(1) << 21;

bool OverBound(uint64_t w, uint64_t h) {
  return w > uint64_t(qk::gdi::kMaxDecodedSide) || h > uint64_t(qk::gdi::kMaxDecodedSide) ||
         w * h > uint64_t(qk::gdi::kMaxDecodedPixels);
}

bool Small(uint64_t w, uint64_t h) { return w * h <= kMostPixels; }

// Whether the GIF's screen and its first frame (whose rows are all decoded)
// are small, and whether either is past the bound; as small when the frame
// is not found.
void GifClaims(const uint8_t* d, size_t n, bool* small, bool* over) {
  *small = true;
  *over = false;
  if (n < 13) return;
  const auto claim = [&](uint64_t w, uint64_t h) {
    *small = *small && Small(w, h);
    *over = *over || OverBound(w, h);
  };
  claim(Le16(d + 6), Le16(d + 8));
  size_t pos = 13 + ((d[10] & 0x80) ? 3u << ((d[10] & 7) + 1) : 0);
  while (pos < n) {
    if (d[pos] == 0x2C) {
      if (pos + 9 <= n) claim(Le16(d + pos + 5), Le16(d + pos + 7));
      return;
    }
    if (d[pos] != 0x21 || pos + 2 > n) return;
    pos += 2;  // the extension's label, then its blocks
    while (pos < n && d[pos]) pos += 1 + d[pos];
    ++pos;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  uint32_t jw = 0, jh = 0;
  const bool overPng = size >= 24 && OverBound(Be32(data + 16), Be32(data + 20));
  const bool tryPng = size < 24 || Small(Be32(data + 16), Be32(data + 20)) || overPng;
  const bool jpegSized = size >= 4 && JpegFrameSize(data, size, &jw, &jh);
  const bool overJpeg = jpegSized && OverBound(jw, jh);
  const bool tryJpeg = size < 4 || (jpegSized && (Small(jw, jh) || overJpeg));
  bool smallGif = true, overGif = false;
  GifClaims(data, size, &smallGif, &overGif);
  const bool tryGif = smallGif || overGif;
  DecodedImage png, jpeg, gif, bmp;
  const bool okPng = tryPng && DecodeExact(qk::gdi::DecodePng, data, size, &png);
  const bool okJpeg = tryJpeg && DecodeExact(qk::gdi::DecodeJpeg, data, size, &jpeg);
  const bool okGif = tryGif && DecodeExact(qk::gdi::DecodeGif, data, size, &gif);
  // A BMP's pixels lie in the file: its size bounds the picture.
  const bool okBmp = DecodeExact(qk::gdi::DecodeBmp, data, size, &bmp);
  const std::pair<bool, const DecodedImage*> results[] = {{okPng, &png}, {okJpeg, &jpeg}, {okGif, &gif}, {okBmp, &bmp}};
  for (const auto& [ok, img] : results)
    if (!ok) Require(img->width == 0 && img->height == 0 && img->bgra.empty());
  Require(!(overPng && okPng) && !(overJpeg && okJpeg) && !(overGif && okGif));
  if (okPng) {
    CheckShape(png);
    Require(size >= 24 && Be32(data + 16) == uint32_t(png.width) && Be32(data + 20) == uint32_t(png.height));
    CheckStable(qk::gdi::DecodePng, data, size, png);
    CheckTrailingBytesIgnored(qk::gdi::DecodePng, data, size, png);
  }
  if (okJpeg) {
    CheckShape(jpeg);
    CheckOpaque(jpeg);
    uint32_t w = 0, h = 0;
    if (JpegFrameSize(data, size, &w, &h)) Require(w == uint32_t(jpeg.width) && h == uint32_t(jpeg.height));
    CheckStable(qk::gdi::DecodeJpeg, data, size, jpeg);
  }
  if (okGif) {
    CheckShape(gif);
    Require(size >= 10 && Le16(data + 6) == uint32_t(gif.width) && Le16(data + 8) == uint32_t(gif.height));
    for (size_t i = 3; i < gif.bgra.size(); i += 4) Require(gif.bgra[i] == 0 || gif.bgra[i] == 255);
    CheckStable(qk::gdi::DecodeGif, data, size, gif);
  }
  if (okBmp) {
    CheckShape(bmp);
    CheckOpaque(bmp);
    const int32_t h = static_cast<int32_t>(Le32(data + 22));
    Require(Le32(data + 18) == uint32_t(bmp.width) && (h < 0 ? -int64_t(h) : int64_t(h)) == bmp.height);
    CheckStable(qk::gdi::DecodeBmp, data, size, bmp);
    CheckTrailingBytesIgnored(qk::gdi::DecodeBmp, data, size, bmp);
  }
  // The chooser by signature gives what the decoder of that signature gives.
  const DecodedImage* expected = nullptr;
  bool okExpected = false, tried = true;
  if (size >= 8 && std::memcmp(data, "\x89PNG\r\n\x1a\n", 8) == 0) expected = &png, okExpected = okPng, tried = tryPng;
  else if (size >= 4 && data[0] == 0xFF && data[1] == 0xD8) expected = &jpeg, okExpected = okJpeg, tried = tryJpeg;
  else if (size >= 4 && std::memcmp(data, "GIF", 3) == 0) expected = &gif, okExpected = okGif, tried = tryGif;
  else if (size >= 4 && data[0] == 'B' && data[1] == 'M') expected = &bmp, okExpected = okBmp;
  if (!tried) return 0;
  DecodedImage chosen;
  const bool okChosen = DecodeExact(qk::gdi::DecodeImage, data, size, &chosen);
  Require(okChosen == okExpected);
  if (okChosen) Require(chosen.width == expected->width && chosen.height == expected->height && chosen.bgra == expected->bgra);
  return 0;
}
