// Image decoding (PNG, JPEG, GIF, BMP) with hostile and truncated input, the
// imaging factory, compiled-in resources, the screen's profile and the
// screen pictures.
#include <gif_lib.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

// jpeglib.h wants FILE and size_t first.
#include <jpeglib.h>

#include "bmp_writer.h"
#include "jpeg_writer.h"
#include "display/display.h"
#include "gdi/image_codec.h"
#include "gdi/imaging.h"
#include "gdi/surface.h"
#include "kernel/resource.h"
#include "support/device_fixture.h"

using qk::gdi::DecodedImage;

namespace {

std::vector<uint32_t> Checker(int w, int h) {
  std::vector<uint32_t> rgb(static_cast<size_t>(w) * h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) rgb[static_cast<size_t>(y) * w + x] = ((x + y) & 1) ? 0xFF8000 : 0x0040C0;
  return rgb;
}

uint32_t PixelRgb(const DecodedImage& img, int x, int y) {
  const uint8_t* p = &img.bgra[(static_cast<size_t>(y) * img.width + x) * 4];
  return (p[2] << 16) | (p[1] << 8) | p[0];
}

std::vector<uint8_t> MakeJpeg(int w, int h) {
  const uint8_t red[3] = {200, 40, 40};
  return jpegtest::SolidJpeg(w, h, red, false, 95);
}

int GifWrite(GifFileType* gif, const GifByteType* data, int n) {
  auto* v = static_cast<std::vector<uint8_t>*>(gif->UserData);
  v->insert(v->end(), data, data + n);
  return n;
}

// A 3 x 2 GIF: colour 0 red, 1 green, 2 transparent.
std::vector<uint8_t> MakeGif() {
  std::vector<uint8_t> bytes;
  int error = 0;
  GifFileType* gif = EGifOpen(&bytes, GifWrite, &error);
  GifColorType colours[4] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {0, 0, 0}};
  ColorMapObject* map = GifMakeMapObject(4, colours);
  EGifSetGifVersion(gif, true);
  EGifPutScreenDesc(gif, 3, 2, 2, 0, map);
  GraphicsControlBlock gcb = {};
  gcb.TransparentColor = 2;
  GifByteType ext[4];
  size_t len = EGifGCBToExtension(&gcb, ext);
  EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, static_cast<int>(len), ext);
  EGifPutImageDesc(gif, 0, 0, 3, 2, false, nullptr);
  GifPixelType row0[3] = {0, 1, 2}, row1[3] = {1, 0, 1};
  EGifPutLine(gif, row0, 3);
  EGifPutLine(gif, row1, 3);
  EGifCloseFile(gif, &error);
  GifFreeMapObject(map);
  return bytes;
}

// An 8-bit BMP of 3 x 2 with a 4-entry palette, bottom-up.
std::vector<uint8_t> MakeBmp8() {
  std::vector<uint8_t> b(54 + 16 + 8, 0);
  auto put32 = [&](size_t at, uint32_t v) { std::memcpy(&b[at], &v, 4); };
  auto put16 = [&](size_t at, uint16_t v) { std::memcpy(&b[at], &v, 2); };
  b[0] = 'B';
  b[1] = 'M';
  put32(2, static_cast<uint32_t>(b.size()));
  put32(10, 54 + 16);
  put32(14, 40);
  put32(18, 3);
  put32(22, 2);
  put16(26, 1);
  put16(28, 8);
  put32(46, 4);
  const uint8_t pal[16] = {0, 0, 255, 0, 0, 255, 0, 0, 255, 0, 0, 0, 10, 20, 30, 0};
  std::memcpy(&b[54], pal, 16);
  // Bottom row first: 3, 2, 1; top row: 0, 1, 2 (rows padded to 4 bytes).
  const uint8_t px[8] = {3, 2, 1, 0, 0, 1, 2, 0};
  std::memcpy(&b[70], px, 8);
  return b;
}

}  // namespace

TEST(ImageCodec, PngRoundTripKeepsEveryPixel) {
  auto rgb = Checker(5, 4);
  std::vector<uint8_t> png;
  ASSERT_TRUE(qk::gdi::EncodePng(5, 4, rgb, &png));
  DecodedImage img;
  ASSERT_TRUE(qk::gdi::DecodeImage(png.data(), png.size(), &img));
  ASSERT_EQ(img.width, 5);
  ASSERT_EQ(img.height, 4);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 5; ++x) {
      EXPECT_EQ(PixelRgb(img, x, y), rgb[y * 5 + x]);
      EXPECT_EQ(img.bgra[(y * 5 + x) * 4 + 3], 255);
    }
}

// A screen-sized picture is compressed in bands on several threads; the
// bands must join into one stream that any reader takes whole, with every
// row asked for once. Flat runs, a gradient and noise, as a screen has.
TEST(ImageCodec, LargePicturesEncodedInBandsDecodeToEveryPixel) {
  for (auto [w, h] : {std::pair{480, 800}, std::pair{1000, 333}, std::pair{257, 1}, std::pair{1, 3000}}) {
    std::vector<uint32_t> rgb(size_t(w) * size_t(h));
    uint32_t noise = 12345;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        noise = noise * 1103515245u + 12345u;
        uint32_t p = y % 97 < 40 ? 0x3366CCu : (y % 97 < 70 ? uint32_t(x * 255 / w) << 8 | uint32_t(y & 0xFF) : noise >> 8);
        rgb[size_t(y) * size_t(w) + size_t(x)] = p & 0xFFFFFFu;
      }
    std::vector<std::atomic<int>> asked(static_cast<size_t>(h));
    std::vector<uint8_t> png;
    ASSERT_TRUE(qk::gdi::EncodePngRows(
        w, h,
        [&](int y) {
          asked[size_t(y)]++;
          return rgb.data() + size_t(y) * size_t(w);
        },
        &png))
        << w << "x" << h;
    for (int y = 0; y < h; ++y) ASSERT_EQ(asked[size_t(y)].load(), 1) << "row " << y << " of " << w << "x" << h;
    DecodedImage img;
    ASSERT_TRUE(qk::gdi::DecodePng(png.data(), png.size(), &img)) << w << "x" << h;
    ASSERT_EQ(img.width, w);
    ASSERT_EQ(img.height, h);
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        ASSERT_EQ(PixelRgb(img, x, y), rgb[size_t(y) * size_t(w) + size_t(x)]) << x << "," << y << " of " << w << "x" << h;
      }
    }
    // Flat screens stay small.
    if (w == 480) {
      EXPECT_LT(png.size(), rgb.size() * 3 / 2);
    }
  }
  std::vector<uint8_t> png;
  EXPECT_FALSE(qk::gdi::EncodePngRows(0, 5, [](int) { return static_cast<const uint32_t*>(nullptr); }, &png));
  EXPECT_TRUE(png.empty());
}

TEST(ImageCodec, TruncatedAndForeignDataFailCleanly) {
  auto rgb = Checker(16, 16);
  std::vector<uint8_t> png;
  ASSERT_TRUE(qk::gdi::EncodePng(16, 16, rgb, &png));
  DecodedImage img;
  for (size_t cut : {size_t(8), size_t(20), png.size() / 2, png.size() - 13}) {
    EXPECT_FALSE(qk::gdi::DecodePng(png.data(), cut, &img)) << cut;
    EXPECT_EQ(img.width, 0);
    EXPECT_TRUE(img.bgra.empty());
  }
  auto jpeg = MakeJpeg(8, 8);
  EXPECT_FALSE(qk::gdi::DecodeJpeg(jpeg.data(), 30, &img));
  const uint8_t junk[] = "<html>not a picture</html>";
  EXPECT_FALSE(qk::gdi::DecodeImage(junk, sizeof junk, &img));
  EXPECT_FALSE(qk::gdi::DecodeImage(nullptr, 0, &img));
}

TEST(ImageCodec, JpegGifAndBmpDecode) {
  DecodedImage img;
  auto jpeg = MakeJpeg(8, 6);
  ASSERT_TRUE(qk::gdi::DecodeImage(jpeg.data(), jpeg.size(), &img));
  EXPECT_EQ(img.width, 8);
  EXPECT_EQ(img.height, 6);
  uint32_t p = PixelRgb(img, 4, 3);
  EXPECT_NEAR(static_cast<int>((p >> 16) & 0xFF), 200, 6);
  EXPECT_NEAR(static_cast<int>((p >> 8) & 0xFF), 40, 6);

  auto gif = MakeGif();
  ASSERT_TRUE(qk::gdi::DecodeImage(gif.data(), gif.size(), &img));
  ASSERT_EQ(img.width, 3);
  EXPECT_EQ(PixelRgb(img, 0, 0), 0xFF0000u);
  EXPECT_EQ(PixelRgb(img, 1, 0), 0x00FF00u);
  EXPECT_EQ(img.bgra[(0 * 3 + 2) * 4 + 3], 0) << "the transparent index";
  EXPECT_EQ(PixelRgb(img, 0, 1), 0x00FF00u);

  auto bmp = MakeBmp8();
  ASSERT_TRUE(qk::gdi::DecodeImage(bmp.data(), bmp.size(), &img));
  ASSERT_EQ(img.height, 2);
  EXPECT_EQ(PixelRgb(img, 0, 0), 0xFF0000u);
  EXPECT_EQ(PixelRgb(img, 2, 0), 0x0000FFu);
  EXPECT_EQ(PixelRgb(img, 0, 1), 0x1E140Au) << "palette entry 3 (blue 10, green 20, red 30)";
  // A BMP whose pixels run past the file is refused.
  bmp.resize(bmp.size() - 3);
  EXPECT_FALSE(qk::gdi::DecodeImage(bmp.data(), bmp.size(), &img));
}

TEST(ImageCodec, BitmapFromImageComposesAlphaOverTheBackground) {
  DecodedImage img;
  img.width = 2;
  img.height = 1;
  img.bgra = {0, 0, 255, 255, 0, 0, 255, 0};  // opaque red, transparent red
  HBITMAP bmp = qk::gdi::CreateBitmapFromImage(img, RGB(0, 255, 0));
  ASSERT_NE(bmp, nullptr);
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ old = SelectObject(dc, bmp);
  EXPECT_EQ(GetPixel(dc, 0, 0), RGB(255, 0, 0));
  EXPECT_EQ(GetPixel(dc, 1, 0), RGB(0, 255, 0));
  SelectObject(dc, old);
  DeleteDC(dc);
  DeleteObject(bmp);
}

TEST(ImagingFactory, DecodesAndLocksArgbPixels) {
  IImagingFactory* factory = nullptr;
  ASSERT_EQ(qk::gdi::CreateImagingFactory(&factory), S_OK);
  auto rgb = Checker(3, 2);
  std::vector<uint8_t> png;
  ASSERT_TRUE(qk::gdi::EncodePng(3, 2, rgb, &png));
  IImage* image = nullptr;
  ASSERT_EQ(factory->CreateImageFromBuffer(png.data(), static_cast<UINT>(png.size()), BufferDisposalFlagNone, &image),
            S_OK);
  ImageInfo info;
  ASSERT_EQ(image->GetImageInfo(&info), S_OK);
  EXPECT_EQ(info.Width, 3u);
  IBitmapImage* bitmap = nullptr;
  ASSERT_EQ(factory->CreateBitmapFromImage(image, 0, 0, PixelFormat32bppARGB, InterpolationHintDefault, &bitmap),
            S_OK);
  RECT all = {0, 0, 3, 2};
  BitmapData data;
  ASSERT_EQ(bitmap->LockBits(&all, ImageLockModeRead, PixelFormat32bppARGB, &data), S_OK);
  const uint8_t* px = static_cast<const uint8_t*>(data.Scan0) + data.Stride + 4;  // (1, 1)
  EXPECT_EQ((px[2] << 16) | (px[1] << 8) | px[0], static_cast<int>(rgb[4]));
  EXPECT_EQ(px[3], 255);
  bitmap->UnlockBits(&data);
  bitmap->Release();
  image->Release();
  IImage* none = nullptr;
  EXPECT_EQ(factory->CreateImageFromBuffer("nope", 4, BufferDisposalFlagNone, &none), E_FAIL);
  EXPECT_EQ(none, nullptr);
  factory->Release();
}

TEST(Resources, FoundByTypeAndIdWithProgramFallback) {
  qk::ClearResources();
  static const char kPng[] = "png-bytes";
  static const char kTga[] = "tga";
  static const char kDialog[] = "dialog template";
  const qk::ResourceEntry program[] = {
      {u"PNG", 0, 248, nullptr, kPng, sizeof kPng},
      {u"TARGA", 0, 248, nullptr, kTga, sizeof kTga},
      {nullptr, 5, 100, nullptr, kDialog, sizeof kDialog},
  };
  qk::RegisterResources(nullptr, program, 3);
  HRSRC r = FindResourceW(nullptr, MAKEINTRESOURCEW(248), u"png");
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(SizeofResource(nullptr, r), sizeof kPng);
  EXPECT_STREQ(static_cast<const char*>(LockResource(LoadResource(nullptr, r))), kPng);
  r = FindResourceW(nullptr, MAKEINTRESOURCEW(248), u"TARGA");
  ASSERT_NE(r, nullptr);
  EXPECT_STREQ(static_cast<const char*>(LockResource(LoadResource(nullptr, r))), kTga);
  r = FindResourceW(nullptr, MAKEINTRESOURCEW(100), RT_DIALOG);
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(SizeofResource(nullptr, r), sizeof kDialog);
  EXPECT_EQ(FindResourceW(nullptr, MAKEINTRESOURCEW(100), RT_MENU), nullptr);
  EXPECT_EQ(FindResourceW(nullptr, MAKEINTRESOURCEW(249), u"PNG"), nullptr);
  // A library's own table first, then the program's.
  HMODULE lib = reinterpret_cast<HMODULE>(0x5000);
  static const char kLibPng[] = "library png";
  const qk::ResourceEntry library[] = {{u"PNG", 0, 248, nullptr, kLibPng, sizeof kLibPng}};
  qk::RegisterResources(lib, library, 1);
  r = FindResourceW(lib, MAKEINTRESOURCEW(248), u"PNG");
  EXPECT_STREQ(static_cast<const char*>(LockResource(LoadResource(lib, r))), kLibPng);
  r = FindResourceW(lib, MAKEINTRESOURCEW(100), RT_DIALOG);
  EXPECT_NE(r, nullptr);
  // Handles found earlier stay valid when more tables are registered.
  HRSRC early = FindResourceW(nullptr, MAKEINTRESOURCEW(248), u"PNG");
  std::vector<qk::ResourceEntry> many(100, qk::ResourceEntry{u"X", 0, 1, nullptr, kPng, 1});
  qk::RegisterResources(nullptr, many.data(), many.size());
  EXPECT_STREQ(static_cast<const char*>(LockResource(LoadResource(nullptr, early))), kPng);
  qk::ClearResources();
}

class ScreenProfile : public qtest::DeviceTest {
 protected:
  void TearDown() override {
    for (const char* v : {"QUILLET_SCREEN_PROFILE", "QUILLET_SCREEN_DPI", "QUILLET_HIGHLIGHT", "QUILLET_SCREENSHOT"})
      unsetenv(v);
    qk::gdi::SetScreenConfig(qk::gdi::DefaultScreenConfig());
    DeviceTest::TearDown();
  }
};

TEST_F(ScreenProfile, DefaultsProfileFileAndEnvironment) {
  auto c = qk::gdi::LoadScreenConfig();
  EXPECT_EQ(c.width, 480);
  EXPECT_EQ(c.height, 800);
  EXPECT_EQ(c.dpi, 192);
  EXPECT_EQ(c.platformType, u"pocketpc");
  qtest::WriteHostFile(root_ + "/DeviceProfile.txt", "# key device\nprofile=keydevice\nhighlight=#102030\nbogus\n");
  c = qk::gdi::LoadScreenConfig();
  EXPECT_EQ(c.width, 240);
  EXPECT_EQ(c.height, 320);
  EXPECT_EQ(c.dpi, 96);
  EXPECT_EQ(c.platformType, u"smartphone");
  EXPECT_EQ(c.highlight, RGB(0x10, 0x20, 0x30));
  // The environment comes last; nonsense values are ignored.
  setenv("QUILLET_SCREEN_DPI", "128", 1);
  setenv("QUILLET_HIGHLIGHT", "zzz", 1);
  c = qk::gdi::LoadScreenConfig();
  EXPECT_EQ(c.dpi, 128);
  EXPECT_EQ(c.highlight, RGB(0x10, 0x20, 0x30));
  setenv("QUILLET_SCREEN_DPI", "-4", 1);
  EXPECT_EQ(qk::gdi::LoadScreenConfig().dpi, 96);
}

TEST_F(ScreenProfile, ImageFilesLoadFromTheDeviceIntoBitmaps) {
  auto jpeg = MakeJpeg(6, 4);
  WriteDeviceFile(u"\\Storage Card\\web\\photo.jpg", std::string(jpeg.begin(), jpeg.end()));
  DecodedImage img;
  ASSERT_TRUE(qk::gdi::DecodeImageFile(u"\\storage card\\Web\\PHOTO.JPG", &img)) << "names match without case";
  EXPECT_EQ(img.width, 6);
  HBITMAP bmp = qk::gdi::CreateBitmapFromImage(img);
  ASSERT_NE(bmp, nullptr);
  BITMAP bm;
  ASSERT_EQ(GetObjectW(bmp, sizeof bm, &bm), static_cast<int>(sizeof bm));
  EXPECT_EQ(bm.bmWidth, 6);
  EXPECT_EQ(bm.bmHeight, 4);
  DeleteObject(bmp);
  EXPECT_FALSE(qk::gdi::DecodeImageFile(u"\\Storage Card\\web\\missing.png", &img));
  WriteDeviceFile(u"\\Storage Card\\web\\cut.jpg", std::string(jpeg.begin(), jpeg.begin() + 40));
  EXPECT_FALSE(qk::gdi::DecodeImageFile(u"\\Storage Card\\web\\cut.jpg", &img));
}

TEST_F(ScreenProfile, ScreenPicturesAreReadablePngs) {
  auto c = qk::gdi::KeyDeviceScreenConfig();
  qk::gdi::SetScreenConfig(c);
  HDC screen = GetDC(nullptr);
  HBRUSH b = CreateSolidBrush(RGB(12, 34, 56));
  RECT r = {10, 20, 30, 40};
  FillRect(screen, &r, b);
  DeleteObject(b);
  ReleaseDC(nullptr, screen);
  std::string path = root_ + "/screen.png";
  ASSERT_TRUE(qk::display::WriteScreenPng(path));
  std::string bytes = qtest::ReadHostFile(path);
  DecodedImage img;
  ASSERT_TRUE(qk::gdi::DecodePng(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &img));
  EXPECT_EQ(img.width, 240);
  EXPECT_EQ(img.height, 320);
  EXPECT_EQ(PixelRgb(img, 15, 25), 0x0C2238u);
  EXPECT_EQ(PixelRgb(img, 5, 5), 0u);
  // The environment switch writes the same picture on request.
  std::string requested = root_ + "/requested.png";
  EXPECT_FALSE(qk::display::WriteRequestedScreenshot());
  setenv("QUILLET_SCREENSHOT", requested.c_str(), 1);
  EXPECT_TRUE(qk::display::WriteRequestedScreenshot());
  EXPECT_EQ(qtest::ReadHostFile(requested), bytes);
  // A folder that does not exist cannot take the file.
  EXPECT_FALSE(qk::display::WriteScreenPng(root_ + "/missing/dir/x.png"));
}

// ------------------------------------------------------------------ BMP reader

namespace {

// A copy of some bytes placed so that they end exactly where an unreadable
// page begins: a reader that looks one byte past them stops the program at
// once, in any build.
class GuardedBytes {
 public:
  explicit GuardedBytes(const std::vector<uint8_t>& bytes, size_t size) : size_(size) {
    const size_t page = static_cast<size_t>(sysconf(_SC_PAGESIZE));
    span_ = (size + page - 1) / page * page + page;
    void* m = mmap(nullptr, span_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (m == MAP_FAILED) {
      ADD_FAILURE() << "mmap";
      return;
    }
    map_ = static_cast<uint8_t*>(m);
    mprotect(map_ + span_ - page, page, PROT_NONE);
    data_ = map_ + span_ - page - size;
    if (size) std::memcpy(data_, bytes.data(), size);
  }
  ~GuardedBytes() {
    if (map_) munmap(map_, span_);
  }
  GuardedBytes(const GuardedBytes&) = delete;
  GuardedBytes& operator=(const GuardedBytes&) = delete;
  const uint8_t* data() const { return data_; }
  size_t size() const { return size_; }

 private:
  uint8_t* map_ = nullptr;
  uint8_t* data_ = nullptr;
  size_t span_ = 0;
  size_t size_ = 0;
};

bool DecodeGuarded(const std::vector<uint8_t>& bytes, size_t size, DecodedImage* img) {
  GuardedBytes g(bytes, size);
  return g.data() && qk::gdi::DecodeBmp(g.data(), g.size(), img);
}

uint32_t Mix(int x, int y, uint32_t salt) {
  uint32_t v = static_cast<uint32_t>(x) * 0x9E3779B1u ^ static_cast<uint32_t>(y) * 0x85EBCA77u ^ salt;
  return v ^ (v >> 13) ^ (v << 7);
}

// One picture of each layout the reader takes.
std::vector<bmptest::BmpLayout> Layouts() {
  std::vector<bmptest::BmpLayout> all;
  for (uint32_t header : {40u, 52u, 56u, 64u, 108u, 124u}) {
    for (int bpp : {1, 4, 8, 16, 24, 32}) {
      bmptest::BmpLayout l;
      l.width = 5;
      l.height = 3;
      l.bpp = bpp;
      l.headerSize = header;
      l.topDown = bpp == 8 || bpp == 32;
      if (bpp == 8) l.coloursUsed = 6;
      all.push_back(l);
      if ((bpp == 16 || bpp == 32) && header != 64) {
        l.bitfields = true;
        if (bpp == 16) {
          l.masks[0] = 0xF800, l.masks[1] = 0x07E0, l.masks[2] = 0x001F;
        } else {
          l.masks[0] = 0x3FF00000, l.masks[1] = 0x000FFC00, l.masks[2] = 0x000003FF;
        }
        all.push_back(l);
      }
    }
  }
  return all;
}

std::vector<uint8_t> Write(const bmptest::BmpLayout& l, DecodedImage* expected) {
  return bmptest::WriteBmp(
      l, [&](int x, int y) { return Mix(x, y, l.headerSize * 131u + l.bpp); },
      [](int i) { return Mix(i, 7, 0xC0FFEE) & 0xFFFFFF; }, expected);
}

}  // namespace

// A picture of 55 to 65 bytes whose header claims a size between the real
// ones, with colour masks, is refused without a read past its last byte
// (the masks of a long header lie inside it; such a header has none).
TEST(BmpReader, HeaderSizesBetweenTheRealOnesAreRefusedWithoutReadingPastTheFile) {
  for (size_t total = 55; total <= 65; ++total) {
    for (uint32_t header = 41; header <= 51 && 14 + header <= total; ++header) {
      for (int bpp : {16, 32}) {
        std::vector<uint8_t> b(total, 0);
        b[0] = 'B';
        b[1] = 'M';
        bmptest::Put32(b, 2, static_cast<uint32_t>(total));
        bmptest::Put32(b, 10, static_cast<uint32_t>(total - 4));
        bmptest::Put32(b, 14, header);
        bmptest::Put32(b, 18, 1);
        bmptest::Put32(b, 22, 1);
        bmptest::Put16(b, 26, 1);
        bmptest::Put16(b, 28, static_cast<uint16_t>(bpp));
        bmptest::Put32(b, 30, 3);
        DecodedImage img;
        EXPECT_FALSE(DecodeGuarded(b, b.size(), &img)) << total << " bytes, header " << header << ", " << bpp;
        EXPECT_EQ(img.width, 0);
        // The same bytes through the imaging factory (the article viewer's way).
        GuardedBytes g(b, b.size());
        IImagingFactory* factory = nullptr;
        ASSERT_EQ(qk::gdi::CreateImagingFactory(&factory), S_OK);
        IImage* image = nullptr;
        EXPECT_EQ(factory->CreateImageFromBuffer(g.data(), static_cast<UINT>(g.size()), BufferDisposalFlagNone, &image),
                  E_FAIL);
        EXPECT_EQ(image, nullptr);
        factory->Release();
      }
    }
  }
}

// Every layout decodes to the picture written; the 12-byte header, sizes the
// format does not have and the 64-byte header's compression code 3 are
// refused.
TEST(BmpReader, EveryLayoutDecodesAndOtherHeadersAreRefused) {
  for (const auto& l : Layouts()) {
    DecodedImage expected, img;
    auto b = Write(l, &expected);
    ASSERT_TRUE(DecodeGuarded(b, b.size(), &img))
        << "header " << l.headerSize << ", " << l.bpp << " bits, masks " << l.bitfields;
    EXPECT_EQ(img.width, expected.width);
    EXPECT_EQ(img.height, expected.height);
    EXPECT_EQ(img.bgra, expected.bgra) << "header " << l.headerSize << ", " << l.bpp << " bits, masks " << l.bitfields;
  }
  bmptest::BmpLayout l;
  l.width = 4;
  l.height = 2;
  l.bpp = 24;
  DecodedImage expected, img;
  for (uint32_t header : {12u, 16u, 39u, 41u, 48u, 51u, 53u, 60u, 100u, 125u, 4096u}) {
    auto b = Write(l, &expected);
    bmptest::Put32(b, 14, header);
    EXPECT_FALSE(DecodeGuarded(b, b.size(), &img)) << header;
  }
  l.bpp = 16;
  l.headerSize = 64;
  auto b = Write(l, &expected);
  ASSERT_TRUE(DecodeGuarded(b, b.size(), &img));
  bmptest::Put32(b, 30, 3);
  EXPECT_FALSE(DecodeGuarded(b, b.size(), &img)) << "code 3 of the 64-byte header is a compression";
  // Masks of all 32 bits scale without overflow: the whole word is the value.
  l.bpp = 32;
  l.headerSize = 40;
  l.width = 3;
  l.height = 1;
  l.bitfields = true;
  l.masks[0] = 0xFFFFFFFF, l.masks[1] = 0, l.masks[2] = 0xFFFFFFFF;
  b = bmptest::WriteBmp(
      l, [](int x, int) { return x == 0 ? 0u : x == 1 ? 0xFFFFFFFFu : 0x80000000u; }, [](int) { return 0u; },
      &expected);
  ASSERT_TRUE(DecodeGuarded(b, b.size(), &img));
  EXPECT_EQ(PixelRgb(img, 0, 0), 0x000000u);
  EXPECT_EQ(PixelRgb(img, 1, 0), 0xFF00FFu);
  EXPECT_EQ(PixelRgb(img, 2, 0), 0x7F007Fu);
}

// Every layout cut short at any byte is refused, and no cut makes the
// reader look past the bytes it was given.
TEST(BmpReader, EveryTruncationIsRefusedWithinTheBytesGiven) {
  for (const auto& l : Layouts()) {
    DecodedImage expected, img;
    auto b = Write(l, &expected);
    for (size_t cut = 0; cut < b.size(); ++cut) {
      ASSERT_FALSE(DecodeGuarded(b, cut, &img)) << "header " << l.headerSize << ", " << l.bpp << " bits, cut " << cut;
      ASSERT_TRUE(img.bgra.empty());
    }
    // The masks after a 40-byte header, cut inside them.
    if (l.bitfields && l.headerSize == 40) {
      for (size_t cut = 54; cut < 66; ++cut) EXPECT_FALSE(DecodeGuarded(b, cut, &img)) << cut;
    }
  }
}

// The decode fuzz target starts from pictures of every kind the decoders
// read: each seed decodes (the short BMPs with in-between header sizes are
// refused), so that the target's runs begin inside each decoder.
TEST(ImageSeeds, EverySeedIsThePictureItsNameSays) {
  const std::filesystem::path dir(IMAGE_SEEDS_DIR);
  if (!std::filesystem::is_directory(dir)) GTEST_SKIP() << "no seeds folder";
  int decoded = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    std::ifstream in(entry.path(), std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string name = entry.path().filename().string();
    DecodedImage img;
    if (name.rfind("short-", 0) == 0) {
      EXPECT_FALSE(DecodeGuarded(bytes, bytes.size(), &img)) << name;
      continue;
    }
    EXPECT_TRUE(qk::gdi::DecodeImage(bytes.data(), bytes.size(), &img)) << name;
    EXPECT_GT(img.width, 0) << name;
    ++decoded;
  }
  EXPECT_GE(decoded, 50);
}

// ---------------------------------------------------------------- size limits

// The largest single allocation made through operator new while watching:
// the decoders make their pictures' pixels in vectors.
namespace {
std::atomic<bool> g_watching{false};
std::atomic<size_t> g_largest{0};
}  // namespace

void* operator new(size_t n) {
  if (g_watching.load(std::memory_order_relaxed)) {
    size_t seen = g_largest.load();
    while (n > seen && !g_largest.compare_exchange_weak(seen, n)) {
    }
  }
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
void* operator new[](size_t n) { return ::operator new(n); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }

namespace {

// Decodes with DecodeImage, giving whether it succeeded and the largest
// allocation it made.
bool DecodeWatched(const std::vector<uint8_t>& bytes, DecodedImage* img, size_t* largest) {
  g_largest = 0;
  g_watching = true;
  const bool ok = qk::gdi::DecodeImage(bytes.data(), bytes.size(), img);
  g_watching = false;
  *largest = g_largest;
  return ok;
}

uint32_t Crc32(const uint8_t* p, size_t n) {
  uint32_t c = 0xFFFFFFFFu;
  for (size_t i = 0; i < n; ++i) {
    c ^= p[i];
    for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
  }
  return ~c;
}

void PutBe32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v >> 24), p[1] = uint8_t(v >> 16), p[2] = uint8_t(v >> 8), p[3] = uint8_t(v);
}
void PutBe16(uint8_t* p, uint32_t v) { p[0] = uint8_t(v >> 8), p[1] = uint8_t(v); }
void PutLe16(uint8_t* p, uint32_t v) { p[0] = uint8_t(v), p[1] = uint8_t(v >> 8); }

// A PNG whose header (with its checksum set right) claims the given size,
// followed by the first bytes of a small picture's data.
std::vector<uint8_t> PngClaiming(uint32_t w, uint32_t h) {
  std::vector<uint8_t> png;
  EXPECT_TRUE(qk::gdi::EncodePng(4, 4, Checker(4, 4), &png));
  PutBe32(&png[16], w);
  PutBe32(&png[20], h);
  PutBe32(&png[29], Crc32(&png[12], 17));
  png.resize(png.size() - 20);
  return png;
}

// A flat PNG of the given size, whole.
std::vector<uint8_t> FlatPng(int w, int h) {
  std::vector<uint32_t> row(static_cast<size_t>(w), 0x336699);
  std::vector<uint8_t> png;
  EXPECT_TRUE(qk::gdi::EncodePngRows(w, h, [&](int) { return row.data(); }, &png));
  return png;
}

// A small JPEG whose frame header claims the given size.
std::vector<uint8_t> JpegClaiming(uint32_t w, uint32_t h) {
  auto jpeg = MakeJpeg(8, 8);
  for (size_t i = 2; i + 9 < jpeg.size(); ++i)
    if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xC0) {
      PutBe16(&jpeg[i + 5], h);
      PutBe16(&jpeg[i + 7], w);
      return jpeg;
    }
  ADD_FAILURE() << "no frame header";
  return jpeg;
}

// MakeGif's picture without its trailer, then a frame of the given size
// whose data stops after its first block.
std::vector<uint8_t> GifWithSecondFrame(uint16_t w, uint16_t h) {
  auto gif = MakeGif();
  EXPECT_EQ(gif.back(), 0x3B);
  gif.pop_back();
  const uint8_t frame[] = {0x2C, 0, 0, 0, 0, uint8_t(w), uint8_t(w >> 8), uint8_t(h), uint8_t(h >> 8), 0,
                           2,    3, 0x84, 0x8F, 0xA9};
  gif.insert(gif.end(), std::begin(frame), std::end(frame));
  return gif;
}

}  // namespace

TEST(ImageLimits, HugeClaimsAreRefusedBeforeTheirPixelsAreMade) {
  // What may be allocated for a refused picture: far below any claimed size.
  constexpr size_t kSmall = size_t(4) << 20;
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
  };
  auto gifScreen = MakeGif();
  PutLe16(&gifScreen[6], 8192);
  PutLe16(&gifScreen[8], 8192);
  auto gifWide = MakeGif();
  PutLe16(&gifWide[6], 16385);
  PutLe16(&gifWide[8], 1);
  // A screen of 3 x 2 whose only frame claims 60000 x 60000.
  auto gifFrame = GifWithSecondFrame(60000, 60000);
  gifFrame.erase(gifFrame.begin() + 13 + 12, gifFrame.end() - 15);  // the first frame and its control
  auto bmp = MakeBmp8();
  PutLe16(&bmp[18], 8192);
  PutLe16(&bmp[22], 8192);
  const Case cases[] = {
      {"png 8192 x 8192", PngClaiming(8192, 8192)},
      {"png 4097 x 4096", PngClaiming(4097, 4096)},
      {"png 16385 x 1", PngClaiming(16385, 1)},
      {"png 1 x 2^31-1", PngClaiming(1, 0x7FFFFFFF)},
      {"jpeg 8192 x 8192", JpegClaiming(8192, 8192)},
      {"jpeg 20000 x 8", JpegClaiming(20000, 8)},
      {"gif screen 8192 x 8192", gifScreen},
      {"gif screen 16385 x 1", gifWide},
      {"gif frame 60000 x 60000", gifFrame},
      {"bmp 8192 x 8192", bmp},
  };
  for (const auto& c : cases) {
    DecodedImage img;
    size_t largest = 0;
    EXPECT_FALSE(DecodeWatched(c.bytes, &img, &largest)) << c.name;
    EXPECT_EQ(img.width, 0) << c.name;
    EXPECT_TRUE(img.bgra.empty()) << c.name;
    EXPECT_LT(largest, kSmall) << c.name << ": " << c.bytes.size() << " bytes";
  }
}

TEST(ImageLimits, WholePicturesUpToTheBoundDecodeAndOnePastIsRefused) {
  static_assert(qk::gdi::kMaxDecodedPixels == 4096 * 4096 && qk::gdi::kMaxDecodedSide == 16384);
  DecodedImage img;
  for (auto [w, h] : {std::pair{4096, 4096}, std::pair{16384, 8}, std::pair{1, 16384}}) {
    auto png = FlatPng(w, h);
    ASSERT_TRUE(qk::gdi::DecodeImage(png.data(), png.size(), &img)) << w << "x" << h;
    EXPECT_EQ(img.width, w);
    EXPECT_EQ(img.height, h);
    EXPECT_EQ(PixelRgb(img, w - 1, h - 1), 0x336699u);
  }
  for (auto [w, h] : {std::pair{4097, 4096}, std::pair{16385, 1}, std::pair{1, 16385}}) {
    auto png = FlatPng(w, h);
    EXPECT_FALSE(qk::gdi::DecodeImage(png.data(), png.size(), &img)) << w << "x" << h;
    EXPECT_TRUE(img.bgra.empty());
  }
  auto jpeg = MakeJpeg(4096, 4096);
  ASSERT_TRUE(qk::gdi::DecodeImage(jpeg.data(), jpeg.size(), &img));
  EXPECT_EQ(img.width, 4096);
  EXPECT_NEAR(static_cast<int>(PixelRgb(img, 4095, 4095) >> 16), 200, 6);
  jpeg = MakeJpeg(4097, 4096);
  EXPECT_FALSE(qk::gdi::DecodeImage(jpeg.data(), jpeg.size(), &img));
}

TEST(ImageLimits, GifFirstFrameDecodesWhateverFollowsIt) {
  // A later frame claiming a huge size, cut short, is never read.
  auto gif = GifWithSecondFrame(60000, 60000);
  DecodedImage img;
  size_t largest = 0;
  ASSERT_TRUE(DecodeWatched(gif, &img, &largest));
  ASSERT_EQ(img.width, 3);
  ASSERT_EQ(img.height, 2);
  EXPECT_EQ(PixelRgb(img, 1, 0), 0x00FF00u);
  EXPECT_EQ(img.bgra[(0 * 3 + 2) * 4 + 3], 0) << "the transparent index";
  EXPECT_LT(largest, size_t(1) << 16);
  // The first frame cut short is refused.
  auto first = MakeGif();
  first.resize(first.size() - 4);
  EXPECT_FALSE(qk::gdi::DecodeImage(first.data(), first.size(), &img));
  EXPECT_TRUE(img.bgra.empty());
}

TEST(ImageLimits, InterlacedGifFrameLandsRowByRowInsideTheScreen) {
  // A 7 x 11 screen and a 3 x 10 interlaced frame at (2, 1): row y of the
  // frame is all colour y % 4, written in the order of the four passes.
  std::vector<uint8_t> bytes;
  int error = 0;
  GifFileType* gif = EGifOpen(&bytes, GifWrite, &error);
  ASSERT_NE(gif, nullptr);
  GifColorType colours[4] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {9, 9, 9}};
  ColorMapObject* map = GifMakeMapObject(4, colours);
  EGifPutScreenDesc(gif, 7, 11, 2, 0, map);
  EGifPutImageDesc(gif, 2, 1, 3, 10, true, nullptr);
  for (auto [from, step] : {std::pair{0, 8}, std::pair{4, 8}, std::pair{2, 4}, std::pair{1, 2}})
    for (int y = from; y < 10; y += step) {
      GifPixelType row[3] = {GifPixelType(y % 4), GifPixelType(y % 4), GifPixelType(y % 4)};
      ASSERT_EQ(EGifPutLine(gif, row, 3), GIF_OK);
    }
  EGifCloseFile(gif, &error);
  GifFreeMapObject(map);
  DecodedImage img;
  ASSERT_TRUE(qk::gdi::DecodeGif(bytes.data(), bytes.size(), &img));
  ASSERT_EQ(img.width, 7);
  ASSERT_EQ(img.height, 11);
  const uint32_t rgb[4] = {0xFF0000, 0x00FF00, 0x0000FF, 0x090909};
  for (int y = 0; y < 11; ++y)
    for (int x = 0; x < 7; ++x) {
      const bool inside = x >= 2 && x < 5 && y >= 1;
      EXPECT_EQ(img.bgra[(size_t(y) * 7 + x) * 4 + 3], inside ? 255 : 0) << x << "," << y;
      if (inside) {
        EXPECT_EQ(PixelRgb(img, x, y), rgb[(y - 1) % 4]) << x << "," << y;
      }
    }
}

TEST(ImageLimits, CorruptPngsLeaveTheStandardErrorQuiet) {
  auto bad = PngClaiming(4, 4);  // cut short
  auto badCrc = FlatPng(4, 4);
  badCrc[29] ^= 0x55;  // the header's checksum
  auto tooBig = PngClaiming(8192, 8192);
  std::fflush(stderr);
  char path[] = "/tmp/codec_stderr_XXXXXX";
  const int capture = mkstemp(path);
  ASSERT_GE(capture, 0);
  unlink(path);
  const int saved = dup(2);
  ASSERT_GE(saved, 0);
  dup2(capture, 2);
  DecodedImage img;
  const bool any = qk::gdi::DecodePng(bad.data(), bad.size(), &img) ||
                   qk::gdi::DecodePng(badCrc.data(), badCrc.size(), &img) ||
                   qk::gdi::DecodePng(tooBig.data(), tooBig.size(), &img);
  std::fflush(stderr);
  dup2(saved, 2);
  close(saved);
  const off_t written = lseek(capture, 0, SEEK_END);
  close(capture);
  EXPECT_FALSE(any);
  EXPECT_EQ(written, 0) << "bytes written to the standard error";
}
