// The DIB bitmap: BMP round trips at every depth it handles, the file
// layout, hostile headers and short files, the blank-picture test, and
// conversion from device bitmaps.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "quillet/ui/dib.h"
#include "support/device_fixture.h"

namespace {

struct Info {
  BITMAPINFOHEADER h;
  RGBQUAD colours[256];
};

Info MakeInfo(int w, int h, int bits) {
  Info info = {};
  info.h.biSize = 40;
  info.h.biWidth = w;
  info.h.biHeight = h;
  info.h.biPlanes = 1;
  info.h.biBitCount = static_cast<WORD>(bits);
  for (int i = 0; i < NumColorEntries(bits); ++i)
    info.colours[i] = RGBQUAD{static_cast<BYTE>(i), static_cast<BYTE>(255 - i), static_cast<BYTE>(i * 7), 0};
  return info;
}

DWORD Stride(int w, int bits) { return static_cast<DWORD>(((w * bits + 31) & ~31) / 8); }

uint32_t Le32(const std::string& s, size_t at) {
  uint32_t v;
  std::memcpy(&v, s.data() + at, 4);
  return v;
}

class Dib : public qtest::DeviceTest {};

}  // namespace

TEST_F(Dib, RoundTripsAtEveryDepth) {
  for (int bits : {1, 4, 8, 16, 24, 32}) {
    const int w = 13, h = 5;
    Info info = MakeInfo(w, h, bits);
    std::vector<BYTE> pixels(Stride(w, bits) * h);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<BYTE>(i * 37 + 11);
    CDib dib;
    ASSERT_TRUE(dib.CreateFromInfo(reinterpret_cast<BITMAPINFO*>(&info), pixels.data())) << bits;
    ASSERT_TRUE(dib.Save(u"\\pic.bmp")) << bits;
    std::string file = ReadDeviceFile(u"\\pic.bmp");
    size_t table = 4 * (NumColorEntries(bits) + 11);
    EXPECT_EQ(Le32(file, 10), 14 + table) << bits;
    EXPECT_EQ(Le32(file, 2), file.size()) << bits;
    CDib back;
    ASSERT_TRUE(back.Load(u"\\pic.bmp")) << bits;
    EXPECT_EQ(back.GetWidth(), w);
    EXPECT_EQ(back.GetHeight(), h);
    EXPECT_EQ(back.GetBitCount(), bits);
    EXPECT_EQ(std::memcmp(back.GetBits(), pixels.data(), pixels.size()), 0) << bits;
    EXPECT_EQ(std::memcmp(back.GetColorTable(), info.colours, 4 * NumColorEntries(bits)), 0) << bits;
    EXPECT_NE(back.GetPalette(), nullptr);
  }
}

TEST_F(Dib, FileLayoutOffsets) {
  Info info = MakeInfo(4, 2, 24);
  std::vector<BYTE> px(Stride(4, 24) * 2);
  px[0] = 9;
  CDib dib;
  ASSERT_TRUE(dib.CreateFromInfo(reinterpret_cast<BITMAPINFO*>(&info), px.data()));
  ASSERT_TRUE(dib.Save(u"\\a.bmp"));
  std::string f = ReadDeviceFile(u"\\a.bmp");
  EXPECT_EQ(f.substr(0, 2), "BM");
  EXPECT_EQ(Le32(f, 10), 58u);
  EXPECT_EQ(Le32(f, 54), 0u) << "the further zero entry";
  EXPECT_EQ(static_cast<BYTE>(f[58]), 9);
  Info info8 = MakeInfo(4, 2, 8);
  std::vector<BYTE> px8(Stride(4, 8) * 2, 1);
  px8[3] = 2;
  CDib dib8;
  ASSERT_TRUE(dib8.CreateFromInfo(reinterpret_cast<BITMAPINFO*>(&info8), px8.data()));
  ASSERT_TRUE(dib8.Save(u"\\b.bmp"));
  f = ReadDeviceFile(u"\\b.bmp");
  EXPECT_EQ(Le32(f, 10), 1082u);
  EXPECT_EQ(f.size(), 1082u + px8.size());
}

TEST_F(Dib, HostileAndShortFilesDoNotLoad) {
  Info info = MakeInfo(8, 8, 24);
  std::vector<BYTE> px(Stride(8, 24) * 8);
  for (size_t i = 0; i < px.size(); ++i) px[i] = static_cast<BYTE>(i);
  CDib dib;
  ASSERT_TRUE(dib.CreateFromInfo(reinterpret_cast<BITMAPINFO*>(&info), px.data()));
  ASSERT_TRUE(dib.Save(u"\\good.bmp"));
  const std::string good = ReadDeviceFile(u"\\good.bmp");
  auto fails = [&](std::string bytes, const char* why) {
    WriteDeviceFile(u"\\bad.bmp", bytes);
    CDib d;
    EXPECT_FALSE(d.Load(u"\\bad.bmp")) << why;
    EXPECT_TRUE(d.IsEmpty()) << why;
  };
  std::string s = good;
  s[0] = 'X';
  fails(s, "no BM");
  s = good;
  s[14] = 12;
  fails(s, "OS/2 header");
  fails(good.substr(0, good.size() - 1), "one byte short");
  fails(good.substr(0, 30), "header cut");
  s = good;
  uint32_t huge = 0x7FFFFFF0;
  std::memcpy(&s[18], &huge, 4);
  fails(s, "width larger than the file");
  s = good;
  uint32_t far = 0xFFFFFF00;
  std::memcpy(&s[10], &far, 4);
  fails(s, "pixel offset past the end");
  s = good;
  uint16_t depth = 7;
  std::memcpy(&s[28], &depth, 2);
  fails(s, "unknown depth");
  // A lying file-size field is ignored: the pixels are sized by the header.
  s = good;
  uint32_t small = 60;
  std::memcpy(&s[2], &small, 4);
  WriteDeviceFile(u"\\liar.bmp", s);
  CDib d;
  EXPECT_TRUE(d.Load(u"\\liar.bmp"));
  EXPECT_EQ(std::memcmp(d.GetBits(), px.data(), px.size()), 0);
  EXPECT_FALSE(d.Load(u"\\missing.bmp"));
}

TEST_F(Dib, BlankPicturesAreRefusedButConstantChannelsAreNot) {
  // One colour everywhere: not written.
  Info info = MakeInfo(5, 3, 24);
  std::vector<BYTE> px(Stride(5, 24) * 3, 0);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x) {
      BYTE* p = &px[y * Stride(5, 24) + x * 3];
      p[0] = 40;
      p[1] = 50;
      p[2] = 60;
    }
  CDib uniform;
  ASSERT_TRUE(uniform.CreateFromInfo(reinterpret_cast<BITMAPINFO*>(&info), px.data()));
  EXPECT_FALSE(uniform.Save(u"\\u.bmp"));
  EXPECT_FALSE(DeviceFileExists(u"\\u.bmp"));
  // The same blue everywhere but varying green: a real picture.
  px[3 * 3 + 1] = 99;
  CDib picture;
  ASSERT_TRUE(picture.CreateFromInfo(reinterpret_cast<BITMAPINFO*>(&info), px.data()));
  EXPECT_TRUE(picture.Save(u"\\p.bmp"));
  // A 1-bit picture with one differing pixel is kept; padding bits do not count.
  Info mono = MakeInfo(3, 2, 1);
  std::vector<BYTE> bits(Stride(3, 1) * 2, 0);
  bits[0] = 0x1F;  // pixels 0..2 are 0; padding bits set
  bits[4] = 0x1F;
  CDib blank;
  ASSERT_TRUE(blank.CreateFromInfo(reinterpret_cast<BITMAPINFO*>(&mono), bits.data()));
  EXPECT_FALSE(blank.Save(u"\\m.bmp"));
  bits[4] = 0x20;  // pixel (2, 1) is 1
  CDib one;
  ASSERT_TRUE(one.CreateFromInfo(reinterpret_cast<BITMAPINFO*>(&mono), bits.data()));
  EXPECT_TRUE(one.Save(u"\\m.bmp"));
  CDib empty;
  EXPECT_FALSE(empty.Save(u"\\e.bmp"));
  EXPECT_FALSE(picture.Save(nullptr));
}

TEST_F(Dib, CreateFromBitmapCopiesADeviceBitmapAndDraws) {
  HDC mem = CreateCompatibleDC(nullptr);
  HBITMAP src = CreateBitmap(6, 4, 1, 32, nullptr);
  HGDIOBJ old = SelectObject(mem, src);
  SetPixel(mem, 0, 0, RGB(10, 20, 30));
  SetPixel(mem, 5, 3, RGB(200, 100, 50));
  SelectObject(mem, old);
  CDib dib;
  ASSERT_TRUE(dib.CreateFromBitmap(src));
  EXPECT_EQ(dib.GetWidth(), 6);
  EXPECT_EQ(dib.GetHeight(), 4);
  EXPECT_EQ(dib.GetBitCount(), 32);
  EXPECT_GT(dib.GetHeader().biHeight, 0) << "bottom-up";
  // Bottom-up: the top row is the last in memory.
  const BYTE* top = dib.GetBits() + 3 * 24;
  EXPECT_EQ(top[0], 30);
  EXPECT_EQ(top[2], 10);
  HBITMAP target = CreateBitmap(8, 8, 1, 32, nullptr);
  old = SelectObject(mem, target);
  ASSERT_TRUE(dib.Draw(mem, 1, 1));
  EXPECT_EQ(GetPixel(mem, 1, 1), RGB(10, 20, 30));
  EXPECT_EQ(GetPixel(mem, 6, 4), RGB(200, 100, 50));
  SelectObject(mem, old);
  DeleteObject(target);
  DeleteObject(src);
  DeleteDC(mem);
  // A palette bitmap reads its colours back through the pixel trick.
  Info info = MakeInfo(2, 2, 8);
  std::vector<BYTE> px(Stride(2, 8) * 2, 0);
  CDib pal;
  ASSERT_TRUE(pal.CreateFromInfo(reinterpret_cast<BITMAPINFO*>(&info), px.data()));
  HDC dc = pal.GetMemoryDC(nullptr, FALSE);
  RGBQUAD read[256];
  ASSERT_EQ(CDib::ReadColorTable(dc, 0, 256, read), 256);
  EXPECT_EQ(read[3].rgbRed, 21);
  EXPECT_EQ(read[200].rgbGreen, 55);
  EXPECT_EQ(pal.GetBits()[0], 0) << "the first pixel is restored";
  pal.ReleaseMemoryDC();
  EXPECT_FALSE(dib.SetColorTable(1, read)) << "a 32-bit bitmap has no colour table";
  EXPECT_TRUE(pal.SetColorTable(2, read));
}
