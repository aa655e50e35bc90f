// Image decoders over libpng, libjpeg and giflib, and a bounded BMP reader.
#include "gdi/image_codec.h"

#include <gif_lib.h>
#include <png.h>
#include <setjmp.h>

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <system_error>
#include <thread>
#include <fstream>
#include <initializer_list>
#include <iterator>

// jpeglib.h needs size_t and FILE declared first.
#include <jpeglib.h>

#include "gdi/surface.h"
#include "kernel/fs.h"
#include "kernel/module.h"

namespace qk::gdi {

namespace {

bool SizeOk(int64_t w, int64_t h) {
  return w > 0 && h > 0 && w <= kMaxDecodedSide && h <= kMaxDecodedSide && w * h <= kMaxDecodedPixels;
}

// ---------------------------------------------------------------- PNG

struct PngReader {
  const uint8_t* data;
  size_t size;
  size_t pos;
};

void PngRead(png_structp png, png_bytep out, png_size_t n) {
  auto* r = static_cast<PngReader*>(png_get_io_ptr(png));
  if (r->size - r->pos < n) png_error(png, "truncated");
  std::memcpy(out, r->data + r->pos, n);
  r->pos += n;
}

// libpng's own handlers print each fault on the standard error; a fault here
// only makes the decode fail (the jump set in DecodePng).
void PngFail(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void PngWarning(png_structp, png_const_charp) {}

// ---------------------------------------------------------------- libraries

// libjpeg and giflib are opened the first time a picture of their kind is
// decoded rather than at start: most screens show none, and each library a
// program maps costs every start of it. Without a library (or one of its
// calls) a picture of that kind does not decode.
#define QK_JPEG_CALLS(X)                                                                                       \
  X(jpeg_std_error) X(jpeg_CreateDecompress) X(jpeg_mem_src) X(jpeg_read_header) X(jpeg_start_decompress) \
  X(jpeg_read_scanlines) X(jpeg_finish_decompress) X(jpeg_destroy_decompress)
#define QK_GIF_CALLS(X)                                                                                    \
  X(DGifOpen) X(DGifGetRecordType) X(DGifGetExtension) X(DGifGetExtensionNext) X(DGifExtensionToGCB) \
  X(DGifGetImageDesc) X(DGifGetLine) X(DGifCloseFile)
#define QK_CODEC_MEMBER(name) decltype(&::name) name = nullptr;
#define QK_CODEC_RESOLVE(name) all = qk::ResolveCall(lib, #name, &name) && all;

struct JpegCalls {
  QK_JPEG_CALLS(QK_CODEC_MEMBER)
  bool Resolve(void* lib) { bool all = true; QK_JPEG_CALLS(QK_CODEC_RESOLVE) return all; }
};
struct GifCalls {
  QK_GIF_CALLS(QK_CODEC_MEMBER)
  bool Resolve(void* lib) { bool all = true; QK_GIF_CALLS(QK_CODEC_RESOLVE) return all; }
};

// The calls of the first library of the names that loads; null without one
// or when it lacks a call.
template <typename Calls>
const Calls* LoadCalls(std::initializer_list<const char*> names) {
  static Calls calls;
  void* lib = qk::OpenSystemLibrary(names);
  return lib && calls.Resolve(lib) ? &calls : nullptr;
}

const JpegCalls* Jpeg() {
  static const JpegCalls* loaded = LoadCalls<JpegCalls>({"libjpeg.so.62", "libjpeg.so"});
  return loaded;
}

const GifCalls* Gif() {
  static const GifCalls* loaded = LoadCalls<GifCalls>({"libgif.so.7", "libgif.so"});
  return loaded;
}

// ---------------------------------------------------------------- JPEG

struct JpegError {
  jpeg_error_mgr mgr;
  jmp_buf jump;
};

void JpegFail(j_common_ptr cinfo) { longjmp(reinterpret_cast<JpegError*>(cinfo->err)->jump, 1); }
void JpegSilence(j_common_ptr) {}

// ---------------------------------------------------------------- GIF

struct GifReader {
  const uint8_t* data;
  size_t size;
  size_t pos;
};

int GifRead(GifFileType* gif, GifByteType* out, int n) {
  auto* r = static_cast<GifReader*>(gif->UserData);
  size_t want = n < 0 ? 0 : static_cast<size_t>(n);
  size_t left = r->size - r->pos;
  if (want > left) want = left;
  std::memcpy(out, r->data + r->pos, want);
  r->pos += want;
  return static_cast<int>(want);
}

uint32_t Le32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24); }
uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

}  // namespace

bool DecodePng(const uint8_t* data, size_t size, DecodedImage* out) {
  if (!out) return false;
  *out = DecodedImage();
  if (!data || size < 8 || png_sig_cmp(data, 0, 8)) return false;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, PngFail, PngWarning);
  if (!png) return false;
  png_infop info = png_create_info_struct(png);
  if (!info) {
    png_destroy_read_struct(&png, nullptr, nullptr);
    return false;
  }
  PngReader reader{data, size, 0};
  DecodedImage img;
  std::vector<png_bytep> rows;
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    return false;
  }
  png_set_read_fn(png, &reader, PngRead);
  png_read_info(png, info);
  png_uint_32 w = png_get_image_width(png, info), h = png_get_image_height(png, info);
  if (!SizeOk(w, h)) png_error(png, "too large");
  int colourType = png_get_color_type(png, info);
  int depth = png_get_bit_depth(png, info);
  if (depth == 16) png_set_strip_16(png);
  if (colourType == PNG_COLOR_TYPE_PALETTE) png_set_palette_to_rgb(png);
  if (colourType == PNG_COLOR_TYPE_GRAY && depth < 8) png_set_expand_gray_1_2_4_to_8(png);
  if (png_get_valid(png, info, PNG_INFO_tRNS)) png_set_tRNS_to_alpha(png);
  if (colourType == PNG_COLOR_TYPE_GRAY || colourType == PNG_COLOR_TYPE_GRAY_ALPHA) png_set_gray_to_rgb(png);
  png_set_bgr(png);
  png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  if (png_get_rowbytes(png, info) != static_cast<size_t>(w) * 4) png_error(png, "unexpected layout");
  img.width = static_cast<int>(w);
  img.height = static_cast<int>(h);
  img.bgra.resize(static_cast<size_t>(w) * h * 4);
  rows.resize(h);
  for (png_uint_32 y = 0; y < h; ++y) rows[y] = &img.bgra[static_cast<size_t>(y) * w * 4];
  png_read_image(png, rows.data());
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  *out = std::move(img);
  return true;
}

bool DecodeJpeg(const uint8_t* data, size_t size, DecodedImage* out) {
  if (!out) return false;
  *out = DecodedImage();
  if (!data || size < 4 || data[0] != 0xFF || data[1] != 0xD8) return false;
  const JpegCalls* jpeg = Jpeg();
  if (!jpeg) return false;
  jpeg_decompress_struct cinfo;
  JpegError err;
  cinfo.err = jpeg->jpeg_std_error(&err.mgr);
  err.mgr.error_exit = JpegFail;
  err.mgr.output_message = JpegSilence;
  DecodedImage* img = new DecodedImage();  // survives the longjmp
  std::vector<uint8_t>* line = new std::vector<uint8_t>();
  if (setjmp(err.jump)) {
    jpeg->jpeg_destroy_decompress(&cinfo);
    delete img;
    delete line;
    return false;
  }
  jpeg->jpeg_CreateDecompress(&cinfo, JPEG_LIB_VERSION, sizeof cinfo);
  jpeg->jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
  jpeg->jpeg_read_header(&cinfo, TRUE);
  cinfo.out_color_space = JCS_RGB;
  if (!SizeOk(cinfo.image_width, cinfo.image_height)) {
    jpeg->jpeg_destroy_decompress(&cinfo);
    delete img;
    delete line;
    return false;
  }
  jpeg->jpeg_start_decompress(&cinfo);
  img->width = static_cast<int>(cinfo.output_width);
  img->height = static_cast<int>(cinfo.output_height);
  img->bgra.resize(static_cast<size_t>(img->width) * img->height * 4);
  line->resize(static_cast<size_t>(cinfo.output_width) * cinfo.output_components);
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row = line->data();
    int y = static_cast<int>(cinfo.output_scanline);
    if (jpeg->jpeg_read_scanlines(&cinfo, &row, 1) != 1) break;
    uint8_t* d = &img->bgra[static_cast<size_t>(y) * img->width * 4];
    for (int x = 0; x < img->width; ++x) {
      const uint8_t* s = &(*line)[static_cast<size_t>(x) * cinfo.output_components];
      if (cinfo.output_components >= 3) {
        d[x * 4] = s[2];
        d[x * 4 + 1] = s[1];
        d[x * 4 + 2] = s[0];
      } else {
        d[x * 4] = d[x * 4 + 1] = d[x * 4 + 2] = s[0];
      }
      d[x * 4 + 3] = 255;
    }
  }
  jpeg->jpeg_finish_decompress(&cinfo);
  jpeg->jpeg_destroy_decompress(&cinfo);
  *out = std::move(*img);
  delete img;
  delete line;
  return true;
}

namespace {

// Reads records up to the first frame and composes that frame over a clear
// screen. Each size is checked before pixels are made for it, and a frame is
// read a row at a time into the screen; the frames after the first are not
// read.
bool ReadFirstGifFrame(const GifCalls& lib, GifFileType* gif, DecodedImage* out) {
  int transparent = -1;
  bool sawControl = false;
  for (;;) {
    GifRecordType type = UNDEFINED_RECORD_TYPE;
    if (lib.DGifGetRecordType(gif, &type) != GIF_OK) return false;
    if (type == EXTENSION_RECORD_TYPE) {
      int code = 0;
      GifByteType* block = nullptr;
      if (lib.DGifGetExtension(gif, &code, &block) != GIF_OK) return false;
      // The first graphic control block before the frame names its
      // transparent colour (when it is of the right length).
      if (code == GRAPHICS_EXT_FUNC_CODE && block && !sawControl) {
        sawControl = true;
        GraphicsControlBlock gcb;
        if (lib.DGifExtensionToGCB(block[0], block + 1, &gcb) == GIF_OK) transparent = gcb.TransparentColor;
      }
      while (block)
        if (lib.DGifGetExtensionNext(gif, &block) != GIF_OK) return false;
      continue;
    }
    // The trailer before any frame, or a record of no known kind.
    if (type != IMAGE_DESC_RECORD_TYPE) return false;
    if (lib.DGifGetImageDesc(gif) != GIF_OK) return false;
    const GifImageDesc& d = gif->Image;
    // The frame's rows are decoded even where they fall outside the screen.
    if (!SizeOk(d.Width, d.Height)) return false;
    const ColorMapObject* map = d.ColorMap ? d.ColorMap : gif->SColorMap;
    if (!map) return false;
    DecodedImage img;
    img.width = gif->SWidth;
    img.height = gif->SHeight;
    img.bgra.assign(static_cast<size_t>(img.width) * img.height * 4, 0);
    std::vector<GifPixelType> line(static_cast<size_t>(d.Width));
    auto putRow = [&](int y) {
      int ty = d.Top + y;
      if (ty < 0 || ty >= img.height) return;
      for (int x = 0; x < d.Width; ++x) {
        int tx = d.Left + x;
        if (tx < 0 || tx >= img.width) continue;
        int index = line[static_cast<size_t>(x)];
        if (index == transparent || index >= map->ColorCount) continue;
        uint8_t* p = &img.bgra[(static_cast<size_t>(ty) * img.width + tx) * 4];
        p[0] = map->Colors[index].Blue;
        p[1] = map->Colors[index].Green;
        p[2] = map->Colors[index].Red;
        p[3] = 255;
      }
    };
    // An interlaced frame holds every eighth row from the first, every
    // eighth from the fifth, every fourth from the third, then every second
    // from the second.
    static const int kStart[4] = {0, 4, 2, 1}, kStep[4] = {8, 8, 4, 2};
    const int passes = d.Interlace ? 4 : 1;
    for (int pass = 0; pass < passes; ++pass) {
      const int from = d.Interlace ? kStart[pass] : 0, step = d.Interlace ? kStep[pass] : 1;
      for (int y = from; y < d.Height; y += step) {
        if (lib.DGifGetLine(gif, line.data(), d.Width) != GIF_OK) return false;
        putRow(y);
      }
    }
    *out = std::move(img);
    return true;
  }
}

}  // namespace

bool DecodeGif(const uint8_t* data, size_t size, DecodedImage* out) {
  if (!out) return false;
  *out = DecodedImage();
  if (!data || size < 6 || std::memcmp(data, "GIF", 3) != 0) return false;
  const GifCalls* gifLib = Gif();
  if (!gifLib) return false;
  GifReader reader{data, size, 0};
  int error = 0;
  // Opening reads the screen's descriptor, and nothing of its size is
  // allocated until it is checked.
  GifFileType* gif = gifLib->DGifOpen(&reader, GifRead, &error);
  if (!gif) return false;
  const bool ok = SizeOk(gif->SWidth, gif->SHeight) && ReadFirstGifFrame(*gifLib, gif, out);
  gifLib->DGifCloseFile(gif, &error);
  return ok;
}

bool DecodeBmp(const uint8_t* data, size_t size, DecodedImage* out) {
  if (!out) return false;
  *out = DecodedImage();
  // The file header (14 bytes) and the size of the info header after it.
  if (!data || size < 18 || data[0] != 'B' || data[1] != 'M') return false;
  uint32_t pixelOffset = Le32(data + 10);
  uint32_t headerSize = Le32(data + 14);
  // The info headers whose first 40 bytes share one layout: 40, then with
  // the red, green and blue masks (52), with an alpha mask too (56), with
  // colour space (108) and with colour profile (124); and the 64-byte one of
  // the other lineage, whose first 40 bytes are the same but whose code 3
  // means a compression rather than masks (so only its uncompressed
  // pictures are read). The 12-byte header (16-bit sizes, 3-byte palette)
  // and any other size are refused.
  if (headerSize != 40 && headerSize != 52 && headerSize != 56 && headerSize != 64 && headerSize != 108 &&
      headerSize != 124)
    return false;
  if (14 + static_cast<uint64_t>(headerSize) > size) return false;
  int32_t w = static_cast<int32_t>(Le32(data + 18));
  int32_t h = static_cast<int32_t>(Le32(data + 22));
  int bpp = Le16(data + 28);
  uint32_t compression = Le32(data + 30);
  uint32_t used = Le32(data + 46);
  bool topDown = h < 0;
  int64_t height = topDown ? -static_cast<int64_t>(h) : h;
  if (!SizeOk(w, height)) return false;
  if (compression != BI_RGB && !(compression == BI_BITFIELDS && (bpp == 16 || bpp == 32) && headerSize != 64))
    return false;
  if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) return false;
  uint32_t masks[3] = {0x7C00, 0x03E0, 0x001F};
  if (bpp == 32) {
    masks[0] = 0xFF0000;
    masks[1] = 0xFF00;
    masks[2] = 0xFF;
  }
  size_t tablePos = 14 + static_cast<size_t>(headerSize);
  if (compression == BI_BITFIELDS) {
    // After a 40-byte header the three masks follow it; the longer headers
    // hold them at the same place, inside themselves (checked above).
    if (headerSize == 40) {
      if (tablePos + 12 > size) return false;
      tablePos += 12;
    }
    for (int i = 0; i < 3; ++i) masks[i] = Le32(data + 54 + 4 * i);
  }
  int colours = bpp <= 8 ? (used && used <= (1u << bpp) ? static_cast<int>(used) : 1 << bpp) : 0;
  if (tablePos + 4 * static_cast<size_t>(colours) > size) return false;
  uint64_t stride = ((static_cast<uint64_t>(w) * bpp + 31) / 32) * 4;
  if (pixelOffset > size || stride * height > size - pixelOffset) return false;
  auto maskValue = [](uint32_t v, uint32_t mask) -> uint8_t {
    if (!mask) return 0;
    int shift = 0;
    while (!((mask >> shift) & 1)) ++shift;
    uint64_t bits = mask >> shift;
    uint64_t val = (v & mask) >> shift;
    return static_cast<uint8_t>(val * 255 / bits);
  };
  DecodedImage img;
  img.width = w;
  img.height = static_cast<int>(height);
  img.bgra.resize(static_cast<size_t>(w) * height * 4);
  for (int y = 0; y < img.height; ++y) {
    const uint8_t* row = data + pixelOffset + stride * (topDown ? y : height - 1 - y);
    uint8_t* d = &img.bgra[static_cast<size_t>(y) * w * 4];
    for (int x = 0; x < w; ++x, d += 4) {
      d[3] = 255;
      if (bpp <= 8) {
        int index;
        if (bpp == 8) index = row[x];
        else if (bpp == 4) index = (row[x / 2] >> ((x & 1) ? 0 : 4)) & 15;
        else index = (row[x / 8] >> (7 - (x & 7))) & 1;
        if (index >= colours) index = 0;
        const uint8_t* q = data + tablePos + 4 * index;
        d[0] = q[0];
        d[1] = q[1];
        d[2] = q[2];
      } else if (bpp == 24) {
        d[0] = row[x * 3];
        d[1] = row[x * 3 + 1];
        d[2] = row[x * 3 + 2];
      } else {
        uint32_t v = bpp == 16 ? Le16(row + x * 2) : Le32(row + x * 4);
        d[2] = maskValue(v, masks[0]);
        d[1] = maskValue(v, masks[1]);
        d[0] = maskValue(v, masks[2]);
      }
    }
  }
  *out = std::move(img);
  return true;
}

bool DecodeImage(const uint8_t* data, size_t size, DecodedImage* out) {
  if (!out) return false;
  *out = DecodedImage();
  if (!data || size < 4) return false;
  if (size >= 8 && png_sig_cmp(data, 0, 8) == 0) return DecodePng(data, size, out);
  if (data[0] == 0xFF && data[1] == 0xD8) return DecodeJpeg(data, size, out);
  if (std::memcmp(data, "GIF", 3) == 0) return DecodeGif(data, size, out);
  if (data[0] == 'B' && data[1] == 'M') return DecodeBmp(data, size, out);
  return false;
}

bool DecodeImageFile(LPCWSTR devicePath, DecodedImage* out) {
  if (!out || !devicePath) return false;
  std::ifstream in(qk::HostPath(devicePath), std::ios::binary);
  if (!in) return false;
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return DecodeImage(bytes.data(), bytes.size(), out);
}

HBITMAP CreateBitmapFromImage(const DecodedImage& image, COLORREF background) {
  if (image.width <= 0 || image.height <= 0) return nullptr;
  BITMAPINFO bi = {};
  bi.bmiHeader.biSize = 40;
  bi.bmiHeader.biWidth = image.width;
  bi.bmiHeader.biHeight = -image.height;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HBITMAP bmp = CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (!bmp) return nullptr;
  uint8_t* d = static_cast<uint8_t*>(bits);
  const uint8_t bg[3] = {GetBValue(background), GetGValue(background), GetRValue(background)};
  for (size_t i = 0; i < image.bgra.size(); i += 4) {
    uint32_t a = image.bgra[i + 3];
    // Opaque and clear pixels (most of a picture) need no blending.
    if (a == 255) {
      d[i] = image.bgra[i];
      d[i + 1] = image.bgra[i + 1];
      d[i + 2] = image.bgra[i + 2];
    } else if (a == 0) {
      d[i] = bg[0];
      d[i + 1] = bg[1];
      d[i + 2] = bg[2];
    } else {
      for (int k = 0; k < 3; ++k) d[i + k] = static_cast<uint8_t>((image.bgra[i + k] * a + bg[k] * (255 - a) + 127) / 255);
    }
    d[i + 3] = 0;
  }
  return bmp;
}


bool EncodePng(int width, int height, const std::vector<uint32_t>& rgb, std::vector<uint8_t>* out) {
  if (width <= 0 || height <= 0 || rgb.size() < static_cast<size_t>(width) * height) return false;
  return EncodePngRows(width, height, [&](int y) { return rgb.data() + static_cast<size_t>(y) * width; }, out);
}

namespace {

void PutBe32(std::vector<uint8_t>& out, uint32_t v) {
  const uint8_t b[4] = {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
  out.insert(out.end(), b, b + 4);
}

void PutChunk(std::vector<uint8_t>& out, const char* type, const uint8_t* data, size_t size) {
  PutBe32(out, static_cast<uint32_t>(size));
  const size_t start = out.size();
  out.insert(out.end(), type, type + 4);
  if (size) out.insert(out.end(), data, data + size);
  PutBe32(out, static_cast<uint32_t>(crc32(0, out.data() + start, static_cast<uInt>(size + 4))));
}

// Runs the compressor over what it was given, growing the output as needed;
// with Z_FINISH until the stream's end.
bool Pump(z_stream& z, std::vector<uint8_t>& buffer, int flush) {
  for (;;) {
    if (z.avail_out == 0) {
      const size_t used = z.total_out;
      buffer.resize(buffer.size() * 2 + 4096);
      z.next_out = buffer.data() + used;
      z.avail_out = static_cast<uInt>(buffer.size() - used);
    }
    int result = deflate(&z, flush);
    if (result == Z_STREAM_ERROR) return false;
    if (flush == Z_FINISH) {
      if (result == Z_STREAM_END) return true;
      continue;
    }
    if (z.avail_in == 0 && z.avail_out != 0) return true;
  }
}

// A run of rows compressed on its own: each row is its filter byte (none)
// and its red, green and blue bytes. A band ends on a byte boundary (a sync
// flush) so that the bands joined make one stream; the last ends it.
struct Band {
  int from = 0, to = 0;
  bool last = false;
  std::vector<uint8_t> deflated;
  uLong adler = 0;
  size_t raw = 0;
  bool ok = false;
};

void DeflateBand(int width, const std::function<const uint32_t*(int y)>& pixels, Band* band) {
  z_stream z{};
  // The fastest level: screen pictures are flat colours, and are written
  // while the program runs.
  if (deflateInit2(&z, 1, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) return;
  const size_t rowBytes = 1 + static_cast<size_t>(width) * 3;
  std::vector<uint8_t> row(rowBytes, 0);
  band->adler = adler32(0, nullptr, 0);
  band->deflated.resize(rowBytes * static_cast<size_t>(band->to - band->from) / 8 + 4096);
  z.next_out = band->deflated.data();
  z.avail_out = static_cast<uInt>(band->deflated.size());
  bool ok = true;
  for (int y = band->from; ok && y < band->to; ++y) {
    const uint32_t* line = pixels(y);
    for (int x = 0; x < width; ++x) {
      uint32_t p = line[x];
      row[1 + size_t(x) * 3] = static_cast<uint8_t>(p >> 16);
      row[2 + size_t(x) * 3] = static_cast<uint8_t>(p >> 8);
      row[3 + size_t(x) * 3] = static_cast<uint8_t>(p);
    }
    band->adler = adler32(band->adler, row.data(), static_cast<uInt>(rowBytes));
    z.next_in = row.data();
    z.avail_in = static_cast<uInt>(rowBytes);
    const bool end = y + 1 == band->to;
    ok = Pump(z, band->deflated, end ? (band->last ? Z_FINISH : Z_SYNC_FLUSH) : Z_NO_FLUSH);
  }
  band->raw = rowBytes * static_cast<size_t>(band->to - band->from);
  band->deflated.resize(z.total_out);
  deflateEnd(&z);
  band->ok = ok;
}

}  // namespace

bool EncodePngRows(int width, int height, const std::function<const uint32_t*(int y)>& pixels,
                   std::vector<uint8_t>* out) {
  if (!out) return false;
  out->clear();
  if (width <= 0 || height <= 0 || int64_t(width) * height > kMaxImagePixels) return false;
  // A screen's rows are compressed in bands on several threads at once
  // (a fifth of the time of one thread for a full screen); a small picture
  // is one band.
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  const int bands = static_cast<int>(std::min<int64_t>({4, cores, std::max<int64_t>(1, int64_t(width) * height / 65536)}));
  std::vector<Band> parts(static_cast<size_t>(bands));
  for (int i = 0; i < bands; ++i) {
    parts[size_t(i)].from = static_cast<int>(int64_t(height) * i / bands);
    parts[size_t(i)].to = static_cast<int>(int64_t(height) * (i + 1) / bands);
    parts[size_t(i)].last = i + 1 == bands;
  }
  std::vector<std::thread> helpers;
  for (int i = 1; i < bands; ++i) {
    try {
      helpers.emplace_back(DeflateBand, width, std::cref(pixels), &parts[size_t(i)]);
    } catch (const std::system_error&) {
      DeflateBand(width, pixels, &parts[size_t(i)]);
    }
  }
  DeflateBand(width, pixels, &parts[0]);
  for (auto& t : helpers) t.join();

  // The zlib stream: its header, the bands, the checksum of all the rows.
  std::vector<uint8_t> data = {0x78, 0x01};
  uLong adler = parts[0].adler;
  for (size_t i = 0; i < parts.size(); ++i) {
    if (!parts[i].ok) return false;
    data.insert(data.end(), parts[i].deflated.begin(), parts[i].deflated.end());
    if (i) adler = adler32_combine(adler, parts[i].adler, static_cast<z_off_t>(parts[i].raw));
  }
  PutBe32(data, static_cast<uint32_t>(adler));

  static const uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  out->reserve(data.size() + 64);
  out->insert(out->end(), kSignature, kSignature + 8);
  std::vector<uint8_t> header;
  PutBe32(header, static_cast<uint32_t>(width));
  PutBe32(header, static_cast<uint32_t>(height));
  // 8 bits a sample, RGB, deflate, adaptive filtering (each row says none),
  // not interlaced.
  const uint8_t rest[5] = {8, 2, 0, 0, 0};
  header.insert(header.end(), rest, rest + 5);
  PutChunk(*out, "IHDR", header.data(), header.size());
  PutChunk(*out, "IDAT", data.data(), data.size());
  PutChunk(*out, "IEND", nullptr, 0);
  return true;
}

}  // namespace qk::gdi
