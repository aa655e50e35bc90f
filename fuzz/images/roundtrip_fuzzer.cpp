// Pictures written here from the fuzz input, each decoded and compared with
// what was written: PNG through the project's encoder and GIF through the
// library's encoder (a first frame anywhere on the screen, interlaced or
// not, and a second frame or none) to the pixel, JPEG (lossy) of one colour to within a
// small difference, and BMP in every layout the reader takes to the pixel,
// with every shorter cut of the file refused.
#include <gif_lib.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

// jpeglib.h wants FILE and size_t first.
#include <jpeglib.h>

#include "../../tests/gdi/bmp_writer.h"
#include "../../tests/gdi/jpeg_writer.h"
#include "gdi/image_codec.h"

using qk::gdi::DecodedImage;

namespace {

// Stops the run, naming the property that failed.
void Fail(int line) {
  fprintf(stderr, "property of line %d does not hold\n", line);
  abort();
}
#define Require(ok) ((ok) ? (void)0 : Fail(__LINE__))

// The fuzz input read as numbers; zeros once it is used up.
struct Input {
  const uint8_t* data;
  size_t size;
  size_t pos = 0;
  uint32_t Byte() { return pos < size ? data[pos++] : 0; }
  uint32_t Word() { return Byte() | (Byte() << 8) | (Byte() << 16) | (Byte() << 24); }
  uint32_t Below(uint32_t n) { return n ? Word() % n : 0; }
};

bool Same(const DecodedImage& a, const DecodedImage& b) {
  return a.width == b.width && a.height == b.height && a.bgra == b.bgra;
}

void Png(Input& in) {
  const int w = 1 + static_cast<int>(in.Below(48)), h = 1 + static_cast<int>(in.Below(48));
  std::vector<uint32_t> rgb(size_t(w) * h);
  for (auto& p : rgb) p = in.Word() & 0xFFFFFF;
  std::vector<uint8_t> file;
  Require(qk::gdi::EncodePng(w, h, rgb, &file));
  DecodedImage img;
  Require(qk::gdi::DecodePng(file.data(), file.size(), &img));
  Require(img.width == w && img.height == h);
  for (size_t i = 0; i < rgb.size(); ++i) {
    const uint8_t* p = &img.bgra[i * 4];
    Require(p[0] == (rgb[i] & 0xFF) && p[1] == ((rgb[i] >> 8) & 0xFF) && p[2] == (rgb[i] >> 16) && p[3] == 255);
  }
  // Cut short, it is refused.
  Require(!qk::gdi::DecodePng(file.data(), file.size() - 1 - in.Below(uint32_t(file.size() - 1)), &img));
}

int GifWrite(GifFileType* gif, const GifByteType* data, int n) {
  auto* v = static_cast<std::vector<uint8_t>*>(gif->UserData);
  v->insert(v->end(), data, data + n);
  return n;
}

void Gif(Input& in) {
  const int w = 1 + static_cast<int>(in.Below(40)), h = 1 + static_cast<int>(in.Below(40));
  const int bits = 1 + static_cast<int>(in.Below(8));
  const int colours = 1 << bits;
  std::vector<GifColorType> palette(static_cast<size_t>(colours));
  for (auto& c : palette) c = {GifByteType(in.Byte()), GifByteType(in.Byte()), GifByteType(in.Byte())};
  const int transparent = in.Byte() & 1 ? static_cast<int>(in.Below(uint32_t(colours))) : -1;
  // The first frame: a part of the screen, rows sometimes interlaced; a
  // second frame follows it sometimes (only the first is shown).
  const int left = static_cast<int>(in.Below(uint32_t(w))), top = static_cast<int>(in.Below(uint32_t(h)));
  const int fw = 1 + static_cast<int>(in.Below(uint32_t(w - left))), fh = 1 + static_cast<int>(in.Below(uint32_t(h - top)));
  const bool interlaced = in.Byte() & 1, second = in.Byte() & 1;
  std::vector<GifPixelType> index(size_t(fw) * fh);
  for (auto& i : index) i = GifPixelType(in.Below(uint32_t(colours)));
  std::vector<uint8_t> file;
  int error = 0;
  GifFileType* gif = EGifOpen(&file, GifWrite, &error);
  Require(gif != nullptr);
  ColorMapObject* map = GifMakeMapObject(colours, palette.data());
  EGifSetGifVersion(gif, true);
  Require(EGifPutScreenDesc(gif, w, h, bits, 0, map) == GIF_OK);
  if (transparent >= 0) {
    GraphicsControlBlock gcb = {};
    gcb.TransparentColor = transparent;
    GifByteType ext[4];
    size_t len = EGifGCBToExtension(&gcb, ext);
    Require(EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, static_cast<int>(len), ext) == GIF_OK);
  }
  Require(EGifPutImageDesc(gif, left, top, fw, fh, interlaced, nullptr) == GIF_OK);
  // An interlaced frame's rows go in four passes: every eighth from the
  // first, every eighth from the fifth, every fourth from the third, every
  // second from the second.
  const int starts[4] = {0, 4, 2, 1}, steps[4] = {8, 8, 4, 2};
  for (int pass = 0; pass < (interlaced ? 4 : 1); ++pass)
    for (int y = interlaced ? starts[pass] : 0; y < fh; y += interlaced ? steps[pass] : 1)
      Require(EGifPutLine(gif, &index[size_t(y) * fw], fw) == GIF_OK);
  if (second) {
    Require(EGifPutImageDesc(gif, 0, 0, w, h, false, nullptr) == GIF_OK);
    std::vector<GifPixelType> other(size_t(w), GifPixelType(colours - 1));
    for (int y = 0; y < h; ++y) Require(EGifPutLine(gif, other.data(), w) == GIF_OK);
  }
  Require(EGifCloseFile(gif, &error) == GIF_OK);
  GifFreeMapObject(map);
  DecodedImage img;
  Require(qk::gdi::DecodeGif(file.data(), file.size(), &img));
  Require(img.width == w && img.height == h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const uint8_t* p = &img.bgra[(size_t(y) * w + x) * 4];
      const bool inside = x >= left && x < left + fw && y >= top && y < top + fh;
      const int i = inside ? index[size_t(y - top) * fw + size_t(x - left)] : -1;
      if (!inside || i == transparent) {
        Require(p[0] == 0 && p[1] == 0 && p[2] == 0 && p[3] == 0);
      } else {
        const GifColorType& c = palette[size_t(i)];
        Require(p[0] == c.Blue && p[1] == c.Green && p[2] == c.Red && p[3] == 255);
      }
    }
}

void Jpeg(Input& in) {
  const int w = 1 + static_cast<int>(in.Below(48)), h = 1 + static_cast<int>(in.Below(48));
  const bool grey = in.Byte() & 1;
  const uint8_t colour[3] = {uint8_t(in.Byte()), uint8_t(in.Byte()), uint8_t(in.Byte())};
  const std::vector<uint8_t> file = jpegtest::SolidJpeg(w, h, colour, grey, 95 + static_cast<int>(in.Below(6)));
  DecodedImage img;
  Require(qk::gdi::DecodeJpeg(file.data(), file.size(), &img));
  Require(img.width == w && img.height == h);
  for (size_t i = 0; i < size_t(w) * h; ++i) {
    const uint8_t* p = &img.bgra[i * 4];
    Require(p[3] == 255);
    for (int k = 0; k < 3; ++k) {
      const int want = grey ? colour[0] : colour[2 - k];
      Require(std::abs(p[k] - want) <= 8);
    }
  }
}

// A contiguous mask within the pixel's bits.
uint32_t Mask(Input& in, int bpp) {
  const uint32_t low = in.Below(uint32_t(bpp));
  const uint32_t width = 1 + in.Below(uint32_t(bpp) - low);
  return uint32_t(((uint64_t(1) << width) - 1) << low);
}

void Bmp(Input& in) {
  static const uint32_t kHeaders[] = {40, 52, 56, 64, 108, 124};
  static const int kBpp[] = {1, 4, 8, 16, 24, 32};
  bmptest::BmpLayout l;
  l.width = 1 + static_cast<int>(in.Below(40));
  l.height = 1 + static_cast<int>(in.Below(40));
  l.headerSize = kHeaders[in.Below(6)];
  l.bpp = kBpp[in.Below(6)];
  l.topDown = in.Byte() & 1;
  l.gap = in.Below(8);
  if (l.bpp <= 8) l.coloursUsed = in.Below((1u << l.bpp) + 1);
  if ((l.bpp == 16 || l.bpp == 32) && l.headerSize != 64 && (in.Byte() & 1)) {
    l.bitfields = true;
    for (auto& m : l.masks) m = Mask(in, l.bpp);
  }
  const uint32_t salt = in.Word();
  std::vector<uint32_t> palette(256);
  for (auto& p : palette) p = in.Word() & 0xFFFFFF;
  DecodedImage expected;
  auto file = bmptest::WriteBmp(
      l,
      [&](int x, int y) {
        uint32_t v = (uint32_t(x) * 0x9E3779B1u) ^ (uint32_t(y) * 0x85EBCA77u) ^ salt;
        return v ^ (v >> 15);
      },
      [&](int i) { return palette[size_t(i)]; }, &expected);
  DecodedImage img;
  Require(qk::gdi::DecodeBmp(file.data(), file.size(), &img));
  Require(Same(img, expected));
  // Any shorter cut of the file lacks pixels and is refused, read within
  // the cut (the copy is exactly as long as the cut).
  for (size_t cut : {file.size() - 1, size_t(in.Below(uint32_t(file.size()))), size_t(54), size_t(14) + l.headerSize}) {
    if (cut >= file.size()) continue;
    std::vector<uint8_t> part(file.begin(), file.begin() + static_cast<ptrdiff_t>(cut));
    Require(!qk::gdi::DecodeBmp(part.data(), part.size(), &img));
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input in{data, size};
  switch (in.Byte() % 4) {
    case 0: Png(in); break;
    case 1: Gif(in); break;
    case 2: Jpeg(in); break;
    default: Bmp(in); break;
  }
  return 0;
}
