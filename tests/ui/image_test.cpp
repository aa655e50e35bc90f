// Toolkit images (PNG and TGA resources, per-pixel alpha, tiling) and the
// pixel effects, checked pixel by pixel on small surfaces.
#include <gtest/gtest.h>

#include <vector>

#include "gdi/surface.h"
#include "kernel/resource.h"
#include "quillet/res/resources.h"
#include "quillet/ui/density.h"
#include "quillet/ui/touch_image.h"

namespace {

struct Canvas {
  COffscreenDC off;
  int w, h;
  Canvas(int width, int height, COLORREF fill = RGB(0, 0, 0)) : off(nullptr, width, height), w(width), h(height) {
    HBRUSH b = CreateSolidBrush(fill);
    RECT r = {0, 0, w, h};
    FillRect(off.GetDC(), &r, b);
    DeleteObject(b);
  }
  HDC dc() const { return off.GetDC(); }
  COLORREF At(int x, int y) const { return GetPixel(off.GetDC(), x, y); }
};

// A TGA: header, optional id, pixels.
std::vector<BYTE> Tga(int type, int w, int h, int bpp, int descriptor, const std::vector<BYTE>& pixels,
                      int idLength = 0) {
  std::vector<BYTE> t(18 + static_cast<size_t>(idLength) + pixels.size(), 0);
  t[0] = static_cast<BYTE>(idLength);
  t[2] = static_cast<BYTE>(type);
  t[12] = static_cast<BYTE>(w);
  t[14] = static_cast<BYTE>(h);
  t[16] = static_cast<BYTE>(bpp);
  t[17] = static_cast<BYTE>(descriptor);
  for (int i = 0; i < idLength; ++i) t[18 + i] = 0x55;
  for (size_t i = 0; i < pixels.size(); ++i) t[18 + idLength + i] = pixels[i];
  return t;
}

class Images : public ::testing::Test {
 protected:
  void SetUp() override {
    qk::gdi::SetScreenConfig(qk::gdi::DefaultScreenConfig());
    ResetScreenDpi();
    InitScreenDpi(0);
    InitImagingFactory();
  }
  void TearDown() override { ReleaseImagingFactory(); }
};

}  // namespace

TEST(BlendColors, RoundsAsTheToolkitDoes) {
  EXPECT_EQ(BlendColors(RGB(255, 255, 255), RGB(0, 0, 0), 255), RGB(255, 255, 255));
  EXPECT_EQ(BlendColors(RGB(255, 255, 255), RGB(0, 0, 0), 0), RGB(0, 0, 0));
  // 200 x 128 + 100 x 127 + 128 = 38428; (38428 + 150) >> 8 = 150.
  EXPECT_EQ(BlendColors(RGB(200, 0, 0), RGB(100, 0, 0), 128), RGB(150, 0, 0));
  // Darkening the highlight: dark(160) of (49, 106, 197).
  COLORREF d = BlendColors(RGB(0, 0, 0), RGB(49, 106, 197), 160);
  EXPECT_EQ(GetRValue(d), (49 * 95 + 128 + ((49 * 95 + 128) >> 8)) >> 8);
  EXPECT_EQ(GetBValue(d), (197 * 95 + 128 + ((197 * 95 + 128) >> 8)) >> 8);
  TRIVERTEX v;
  SetTriVertex(&v, 3, 4, RGB(1, 2, 255));
  EXPECT_EQ(v.x, 3);
  EXPECT_EQ(v.Red, 0x100);
  EXPECT_EQ(v.Blue, 0xFF00);
  EXPECT_EQ(v.Alpha, 0);
}

TEST_F(Images, FillAlphaBlendsEveryPixelOfTheRectangleOnly) {
  Canvas c(6, 4, RGB(100, 50, 0));
  FillAlpha(c.dc(), 1, 1, 3, 2, RGB(200, 250, 100), 128);
  EXPECT_EQ(c.At(1, 1), BlendColors(RGB(200, 250, 100), RGB(100, 50, 0), 128));
  EXPECT_EQ(c.At(3, 2), BlendColors(RGB(200, 250, 100), RGB(100, 50, 0), 128));
  EXPECT_EQ(c.At(0, 0), RGB(100, 50, 0));
  EXPECT_EQ(c.At(4, 1), RGB(100, 50, 0));
  EXPECT_EQ(c.At(1, 3), RGB(100, 50, 0));
}

TEST_F(Images, TargaRowOrderDepthAndAlpha) {
  // 2 x 2, 24 bits: file rows bottom-up unless bit 0x20.
  std::vector<BYTE> px = {0, 0, 255, 0, 255, 0,   // first stored row: red, green
                          255, 0, 0, 255, 255, 255};  // second: blue, white
  CTouchImage img;
  auto t = Tga(2, 2, 2, 24, 0, px, 3);
  ASSERT_EQ(img.DecodeTarga(t.data(), static_cast<UINT>(t.size())), S_OK);
  Canvas c(2, 2);
  ASSERT_EQ(img.Draw(c.dc(), 0, 0), 1);
  EXPECT_EQ(c.At(0, 1), RGB(255, 0, 0)) << "the first stored row is the bottom row";
  EXPECT_EQ(c.At(0, 0), RGB(0, 0, 255));
  t = Tga(2, 2, 2, 24, 0x20 | 0x10, px);
  ASSERT_EQ(img.DecodeTarga(t.data(), static_cast<UINT>(t.size())), S_OK);
  img.Draw(c.dc(), 0, 0);
  EXPECT_EQ(c.At(0, 0), RGB(255, 0, 0)) << "top-left origin keeps stored order; 0x10 changes nothing";
  EXPECT_EQ(c.At(1, 1), RGB(255, 255, 255));
  // 32 bits with alpha 128: 200 over 100 gives 150.
  Canvas grey(1, 1, RGB(100, 100, 100));
  std::vector<BYTE> one = {200, 200, 200, 128};
  t = Tga(2, 1, 1, 32, 0, one);
  ASSERT_EQ(img.DecodeTarga(t.data(), static_cast<UINT>(t.size())), S_OK);
  img.Draw(grey.dc(), 0, 0);
  EXPECT_EQ(grey.At(0, 0), RGB(150, 150, 150));
}

TEST_F(Images, TargaRunLengthPacketsAreClippedAndShortDataStops) {
  // 3 x 2, RLE: a run of 5 red pixels (crossing the row end: clipped to the
  // row), then a literal packet of 3 for the second row.
  std::vector<BYTE> rle = {0x84, 0, 0, 255, 0x02, 0, 255, 0, 255, 0, 0, 255, 255, 255};
  CTouchImage img;
  auto t = Tga(10, 3, 2, 24, 0x20, rle);
  ASSERT_EQ(img.DecodeTarga(t.data(), static_cast<UINT>(t.size())), S_OK);
  Canvas c(3, 2);
  img.Draw(c.dc(), 0, 0);
  EXPECT_EQ(c.At(2, 0), RGB(255, 0, 0));
  EXPECT_EQ(c.At(0, 1), RGB(0, 255, 0));
  EXPECT_EQ(c.At(1, 1), RGB(0, 0, 255));
  EXPECT_EQ(c.At(2, 1), RGB(255, 255, 255));
  // Data that ends early: what is there is decoded, the rest transparent.
  auto cut = Tga(2, 3, 2, 24, 0x20, {0, 0, 255, 0, 0, 255, 0, 0});
  ASSERT_EQ(img.DecodeTarga(cut.data(), static_cast<UINT>(cut.size())), S_OK);
  Canvas d(3, 2, RGB(9, 9, 9));
  img.Draw(d.dc(), 0, 0);
  EXPECT_EQ(d.At(1, 0), RGB(255, 0, 0));
  EXPECT_EQ(d.At(2, 0), RGB(9, 9, 9));
  EXPECT_EQ(d.At(2, 1), RGB(9, 9, 9));
  // Unsupported kinds fail and leave no planes.
  auto mapped = Tga(1, 1, 1, 8, 0, {0});
  EXPECT_EQ(img.DecodeTarga(mapped.data(), static_cast<UINT>(mapped.size())), E_FAIL);
  EXPECT_FALSE(img.HasImageHandle());
  EXPECT_EQ(img.DecodeTarga(t.data(), 10), E_FAIL);
  EXPECT_EQ(img.Draw(d.dc(), 0, 0), 0);
  // A zero height is an empty picture.
  auto empty = Tga(2, 4, 0, 24, 0, {});
  EXPECT_EQ(img.DecodeTarga(empty.data(), static_cast<UINT>(empty.size())), S_OK);
  EXPECT_FALSE(img.HasImageHandle());
}

TEST_F(Images, DrawAtNaturalSizeAndTiled) {
  std::vector<BYTE> px = {0, 0, 255, 255, 0, 255, 0, 0};  // red opaque, green transparent
  auto t = Tga(2, 2, 1, 32, 0x20, px);
  CTouchImage img;
  ASSERT_EQ(img.DecodeTarga(t.data(), static_cast<UINT>(t.size())), S_OK);
  Canvas a(4, 2, RGB(5, 5, 5)), b(4, 2, RGB(5, 5, 5));
  img.Draw(a.dc(), 1, 0, -1, -1);
  img.Draw(b.dc(), 1, 0, 2, 1);
  for (int x = 0; x < 4; ++x) EXPECT_EQ(a.At(x, 0), b.At(x, 0));
  EXPECT_EQ(a.At(1, 0), RGB(255, 0, 0));
  EXPECT_EQ(a.At(2, 0), RGB(5, 5, 5));
  Canvas tiled(4, 2, RGB(5, 5, 5));
  ASSERT_EQ(img.Draw(tiled.dc(), 0, 0, 4, 2), 1);
  EXPECT_EQ(tiled.At(0, 0), RGB(255, 0, 0));
  EXPECT_EQ(tiled.At(2, 0), RGB(255, 0, 0));
  EXPECT_EQ(tiled.At(2, 1), RGB(255, 0, 0));
  EXPECT_EQ(tiled.At(3, 1), RGB(5, 5, 5));
}

TEST_F(Images, ResourcesLoadAsPngOrTarga) {
  RegisterQuilletResources();
  CTouchImage img;
  ASSERT_EQ(img.LoadFromResource(nullptr, IDR_PNG_CHANNEL_DEFAULT_192), S_OK);
  EXPECT_EQ(img.GetWidth(), 32);
  EXPECT_EQ(img.GetHeight(), 32);
  EXPECT_EQ(img.Alpha()[0], 0) << "rounded corner is transparent";
  EXPECT_EQ(img.Alpha()[16 * 32 + 16], 255);
  ASSERT_EQ(img.LoadFromResource(nullptr, IDR_PNG_REFRESH_PENDING), S_OK);
  EXPECT_EQ(img.GetWidth(), 12);
  // An id that exists only as TARGA loads through the TGA decoder.
  static const std::vector<BYTE> tga = Tga(2, 1, 1, 24, 0, {1, 2, 3});
  const qk::ResourceEntry entry[] = {{u"TARGA", 0, 4711, nullptr, tga.data(), tga.size()}};
  qk::RegisterResources(nullptr, entry, 1);
  ASSERT_EQ(img.LoadFromResource(nullptr, 4711), S_OK);
  EXPECT_EQ(img.Red()[0], 3);
  EXPECT_EQ(img.LoadFromResource(nullptr, 4712), E_FAIL);
  // Without the imaging factory a PNG resource does not load.
  ReleaseImagingFactory();
  EXPECT_EQ(img.LoadFromResource(nullptr, IDR_PNG_CHANNEL_DEFAULT), E_FAIL);
  EXPECT_FALSE(img.HasImageHandle());
}

TEST_F(Images, ShadowLineRampsAndInnerAlphas) {
  auto line = [](int level) {
    Canvas c(20, 1);
    CDibBuffer buf;
    RECT r = {0, 0, 20, 1};
    EXPECT_TRUE(buf.Capture(c.dc(), r));
    EXPECT_EQ(DrawShadowLine(buf, 0, level, RGB(1, 2, 3), RGB(255, 255, 255)), buf.m_nRowPixels);
    buf.BlitTo(c.dc(), 0, 0);
    std::vector<int> v;
    for (int x = 0; x < 20; ++x) v.push_back(GetRValue(c.At(x, 0)));
    return v;
  };
  // White over black with alpha a gives a.
  auto l0 = line(0);
  EXPECT_EQ(std::vector<int>(l0.begin(), l0.begin() + 6), (std::vector<int>{0, 0, 0, 1, 1, 2}));
  EXPECT_EQ(l0[6], 15);
  EXPECT_EQ(l0[13], 15);
  EXPECT_EQ(std::vector<int>(l0.begin() + 14, l0.end()), (std::vector<int>{2, 1, 1, 0, 0, 0}));
  auto l3 = line(3);
  EXPECT_EQ(std::vector<int>(l3.begin(), l3.begin() + 7), (std::vector<int>{0, 21, 43, 64, 86, 108, 180}));
  EXPECT_EQ(l3[19], 0);
  auto l4 = line(4);
  EXPECT_EQ(l4[10], 1) << "level 4 inner pixels take the outline colour";
  EXPECT_EQ(ShadowDepth(2), 80);
  EXPECT_EQ(ShadowDepth(5), 0);
}

TEST_F(Images, SoftBoxCornersOutlineBodyAndBand) {
  const COLORREF outline = RGB(200, 0, 0), body = RGB(0, 0, 200);
  Canvas c(30, 40);
  RECT r = {0, 0, 30, 40};
  DrawSoftBox(c.dc(), r, outline, body, FALSE);
  EXPECT_EQ(c.At(0, 0), RGB(0, 0, 0)) << "first pixel of the top line is left alone";
  EXPECT_EQ(c.At(10, 4), outline) << "row 5 of the box is the outline row";
  // First middle row: five glow pixels, the outline, then a darkened corner.
  EXPECT_EQ(c.At(0, 5), BlendColors(body, RGB(0, 0, 0), 7));
  EXPECT_EQ(c.At(4, 5), BlendColors(body, RGB(0, 0, 0), 180));
  EXPECT_EQ(c.At(5, 5), outline);
  EXPECT_EQ(c.At(6, 5), BlendColors(outline, RGB(0, 0, 0), 140));
  EXPECT_EQ(c.At(24, 5), outline);
  // A plain middle row: four glow pixels, outline, body.
  EXPECT_EQ(c.At(3, 20), BlendColors(body, RGB(0, 0, 0), 180));
  EXPECT_EQ(c.At(4, 20), outline);
  EXPECT_EQ(c.At(5, 20), body);
  EXPECT_EQ(c.At(25, 20), outline);
  EXPECT_EQ(c.At(29, 20), BlendColors(body, RGB(0, 0, 0), 15));
  EXPECT_EQ(c.At(10, 35), outline) << "level-4 line of the bottom edge";
  // With the bottom band, the lower rows are lighter.
  Canvas band(30, 60);
  RECT rb = {0, 0, 30, 60};
  DrawSoftBox(band.dc(), rb, outline, body, TRUE);
  EXPECT_EQ(band.At(10, 20), body);
  EXPECT_EQ(band.At(10, 50), BlendColors(RGB(255, 255, 255), body, 30));
  EXPECT_EQ(band.At(4, 50), BlendColors(RGB(255, 255, 255), outline, 50));
  EXPECT_EQ(band.At(10, 55), BlendColors(RGB(255, 255, 255), outline, 50));
  // The band's first row is the first below bottom - ScaleY(8) - 7 (at 192
  // dpi, 60 - 16 - 7 = 37): row 37 keeps the body colour, row 38 is light.
  // The same holds for a box that does not start at the top of the DC.
  for (int top : {0, 13}) {
    Canvas at(30, 80);
    RECT box = {0, top, 30, top + 60};
    DrawSoftBox(at.dc(), box, outline, body, TRUE);
    EXPECT_EQ(at.At(10, top + 37), body) << top;
    EXPECT_EQ(at.At(4, top + 37), outline) << top;
    EXPECT_EQ(at.At(10, top + 38), BlendColors(RGB(255, 255, 255), body, 30)) << top;
    EXPECT_EQ(at.At(4, top + 38), BlendColors(RGB(255, 255, 255), outline, 50)) << top;
  }
}

TEST_F(Images, DiamondGlowNeverDividesByZero) {
  Canvas c(9, 9);
  RECT r = {0, 0, 9, 9};
  ResetScreenDpi();  // ScaleY(1) is 0 before the density is read
  DrawDiamondGlow(c.dc(), r, 4, 4, RGB(255, 255, 255));
  EXPECT_EQ(GetRValue(c.At(4, 4)), 80 * 2 / 3);
  EXPECT_EQ(GetRValue(c.At(5, 4)), 79 * 2 / 3);
  InitScreenDpi(0);  // 192 dpi: ScaleY(1) is 2
  Canvas d(9, 9);
  DrawDiamondGlow(d.dc(), r, 4, 4, RGB(255, 255, 255));
  EXPECT_EQ(GetRValue(d.At(5, 4)), 80 * 2 / 3);
  EXPECT_EQ(GetRValue(d.At(6, 4)), 79 * 2 / 3);
}
