// The software drawing layer: blits and raster operations, monochrome
// conversions, alpha blending, gradients, transparent blits, brushes, lines,
// polygons, fonts and text (in every script: faces found for characters the
// chosen one lacks, right-to-left runs in visual order, Arabic joining),
// device capabilities and system colours.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "gdi/gdi.h"
#include "gdi/image_codec.h"
#include "gdi/surface.h"

namespace {

// A memory DC holding a DIB section of the given depth and orientation.
struct Surface {
  HDC dc = nullptr;
  HBITMAP bmp = nullptr;
  HGDIOBJ old = nullptr;
  BYTE* bits = nullptr;
  int width = 0, height = 0, bpp = 0;
  Surface(int w, int h, int depth = 32, bool topDown = true) : width(w), height(h), bpp(depth) {
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = 40;
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = topDown ? -h : h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = static_cast<WORD>(depth);
    void* p = nullptr;
    bmp = CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &p, nullptr, 0);
    bits = static_cast<BYTE*>(p);
    dc = CreateCompatibleDC(nullptr);
    old = SelectObject(dc, bmp);
  }
  ~Surface() {
    SelectObject(dc, old);
    DeleteDC(dc);
    DeleteObject(bmp);
  }
  COLORREF At(int x, int y) const { return GetPixel(dc, x, y); }
  void Fill(COLORREF c) {
    HBRUSH b = CreateSolidBrush(c);
    RECT r = {0, 0, width, height};
    FillRect(dc, &r, b);
    DeleteObject(b);
  }
};

}  // namespace

TEST(GdiObjects, SelectReturnsPreviousAndDeleteRefusesSelectedBitmap) {
  Surface s(4, 4);
  HBITMAP other = CreateCompatibleBitmap(s.dc, 2, 2);
  ASSERT_NE(other, nullptr);
  HGDIOBJ prev = SelectObject(s.dc, other);
  EXPECT_EQ(prev, reinterpret_cast<HGDIOBJ>(s.bmp));
  EXPECT_FALSE(DeleteObject(other)) << "a selected bitmap must not be deleted";
  // The same bitmap cannot be selected into a second DC at once.
  HDC second = CreateCompatibleDC(nullptr);
  EXPECT_EQ(SelectObject(second, other), nullptr);
  DeleteDC(second);
  SelectObject(s.dc, prev);
  EXPECT_TRUE(DeleteObject(other));
  EXPECT_EQ(GetObjectType(other), 0u);
  EXPECT_FALSE(DeleteObject(other)) << "a stale handle is refused";
  // A DC deleted with saved states lets go of their bitmaps too.
  HBITMAP kept = CreateCompatibleBitmap(nullptr, 2, 2);
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ orig = SelectObject(dc, kept);
  SaveDC(dc);
  SaveDC(dc);
  SelectObject(dc, orig);
  DeleteDC(dc);
  EXPECT_TRUE(DeleteObject(kept));
}

TEST(GdiObjects, GetObjectDescribesDibSectionsAndFonts) {
  Surface s(5, 3, 24, false);
  DIBSECTION ds;
  ASSERT_EQ(GetObjectW(s.bmp, sizeof ds, &ds), static_cast<int>(sizeof ds));
  EXPECT_EQ(ds.dsBm.bmWidth, 5);
  EXPECT_EQ(ds.dsBm.bmHeight, 3);
  EXPECT_EQ(ds.dsBm.bmBitsPixel, 24);
  EXPECT_EQ(ds.dsBm.bmWidthBytes, 16);  // 15 bytes padded to 16
  EXPECT_EQ(ds.dsBmih.biHeight, 3);
  EXPECT_EQ(ds.dsBm.bmBits, s.bits);

  LOGFONTW lf = {};
  lf.lfHeight = 20;
  lf.lfWeight = FW_BOLD;
  lf.lfItalic = 1;
  std::memcpy(lf.lfFaceName, u"Tahoma", 7 * sizeof(char16_t));
  HFONT f = CreateFontIndirectW(&lf);
  LOGFONTW back = {};
  ASSERT_EQ(GetObjectW(f, sizeof back, &back), static_cast<int>(sizeof back));
  EXPECT_EQ(back.lfHeight, 20);
  EXPECT_EQ(back.lfWeight, FW_BOLD);
  EXPECT_EQ(back.lfItalic, 1);
  EXPECT_EQ(std::u16string(back.lfFaceName), u"Tahoma");
  DeleteObject(f);
}

TEST(GdiBlit, CopiesBetweenDepthsAndOrientationsPixelExact) {
  for (int srcDepth : {24, 32})
    for (int dstDepth : {24, 32})
      for (bool srcTop : {true, false})
        for (bool dstTop : {true, false}) {
          Surface src(7, 5, srcDepth, srcTop), dst(7, 5, dstDepth, dstTop);
          for (int y = 0; y < 5; ++y)
            for (int x = 0; x < 7; ++x) SetPixel(src.dc, x, y, RGB(x * 30, y * 50, 7));
          ASSERT_TRUE(BitBlt(dst.dc, 1, 1, 5, 3, src.dc, 2, 1, SRCCOPY));
          EXPECT_EQ(dst.At(0, 0), RGB(0, 0, 0));
          EXPECT_EQ(dst.At(1, 1), RGB(60, 50, 7)) << srcDepth << "->" << dstDepth;
          EXPECT_EQ(dst.At(5, 3), RGB(180, 150, 7));
          EXPECT_EQ(dst.At(6, 3), RGB(0, 0, 0));
        }
}

TEST(GdiBlit, BottomUpSectionsStoreTheTopRowLast) {
  Surface s(2, 3, 24, false);
  SetPixel(s.dc, 0, 0, RGB(1, 2, 3));
  // Row 0 of a bottom-up section is the last row in memory.
  const BYTE* last = s.bits + 2 * 8;
  EXPECT_EQ(last[0], 3);
  EXPECT_EQ(last[1], 2);
  EXPECT_EQ(last[2], 1);
}

TEST(GdiBlit, RasterOperationsCombineBitwise) {
  Surface a(1, 1), b(1, 1);
  SetPixel(a.dc, 0, 0, RGB(0xF0, 0x0F, 0xAA));
  auto run = [&](DWORD rop, COLORREF dst) {
    SetPixel(b.dc, 0, 0, dst);
    BitBlt(b.dc, 0, 0, 1, 1, a.dc, 0, 0, rop);
    return b.At(0, 0);
  };
  EXPECT_EQ(run(SRCAND, RGB(0xFF, 0xFF, 0x0F)), RGB(0xF0, 0x0F, 0x0A));
  EXPECT_EQ(run(SRCPAINT, RGB(0x0F, 0xF0, 0x05)), RGB(0xFF, 0xFF, 0xAF));
  EXPECT_EQ(run(SRCINVERT, RGB(0xFF, 0xFF, 0xFF)), RGB(0x0F, 0xF0, 0x55));
  EXPECT_EQ(run(NOTSRCCOPY, RGB(1, 2, 3)), RGB(0x0F, 0xF0, 0x55));
  EXPECT_EQ(run(DSTINVERT, RGB(0, 0xFF, 0x10)), RGB(0xFF, 0, 0xEF));
  EXPECT_EQ(run(BLACKNESS, RGB(9, 9, 9)), RGB(0, 0, 0));
  EXPECT_EQ(run(WHITENESS, RGB(9, 9, 9)), RGB(255, 255, 255));
  // A ternary operation without a fast path: source erase, S & ~D.
  EXPECT_EQ(run(SRCERASE, RGB(0xF0, 0x00, 0x0F)), RGB(0xF0, 0x0F, 0xAA) & ~RGB(0xF0, 0x00, 0x0F) & 0xFFFFFF);
}

TEST(GdiBlit, MonochromeConversionsFollowTheDcColours) {
  Surface colour(3, 1);
  SetPixel(colour.dc, 0, 0, RGB(255, 0, 255));
  SetPixel(colour.dc, 1, 0, RGB(10, 20, 30));
  SetPixel(colour.dc, 2, 0, RGB(255, 0, 255));
  HBITMAP mono = CreateBitmap(3, 1, 1, 1, nullptr);
  HDC monoDC = CreateCompatibleDC(nullptr);
  HGDIOBJ old = SelectObject(monoDC, mono);
  // Colour to monochrome: the source's background colour becomes 1.
  SetBkColor(colour.dc, RGB(255, 0, 255));
  BitBlt(monoDC, 0, 0, 3, 1, colour.dc, 0, 0, SRCCOPY);
  EXPECT_EQ(GetPixel(monoDC, 0, 0), RGB(255, 255, 255));
  EXPECT_EQ(GetPixel(monoDC, 1, 0), RGB(0, 0, 0));
  // Monochrome to colour: 0 takes the text colour, 1 the background colour.
  Surface out(3, 1);
  SetTextColor(out.dc, RGB(1, 2, 3));
  SetBkColor(out.dc, RGB(200, 100, 50));
  BitBlt(out.dc, 0, 0, 3, 1, monoDC, 0, 0, SRCCOPY);
  EXPECT_EQ(out.At(0, 0), RGB(200, 100, 50));
  EXPECT_EQ(out.At(1, 0), RGB(1, 2, 3));
  SelectObject(monoDC, old);
  DeleteDC(monoDC);
  DeleteObject(mono);
}

TEST(GdiBlit, StretchAndMirror) {
  Surface src(2, 2), dst(4, 4);
  SetPixel(src.dc, 0, 0, RGB(255, 0, 0));
  SetPixel(src.dc, 1, 0, RGB(0, 255, 0));
  SetPixel(src.dc, 0, 1, RGB(0, 0, 255));
  SetPixel(src.dc, 1, 1, RGB(255, 255, 255));
  ASSERT_TRUE(StretchBlt(dst.dc, 0, 0, 4, 4, src.dc, 0, 0, 2, 2, SRCCOPY));
  EXPECT_EQ(dst.At(1, 1), RGB(255, 0, 0));
  EXPECT_EQ(dst.At(2, 1), RGB(0, 255, 0));
  EXPECT_EQ(dst.At(1, 2), RGB(0, 0, 255));
  EXPECT_EQ(dst.At(3, 3), RGB(255, 255, 255));
  // A negative destination width mirrors.
  ASSERT_TRUE(StretchBlt(dst.dc, 4, 0, -4, 4, src.dc, 0, 0, 2, 2, SRCCOPY));
  EXPECT_EQ(dst.At(0, 0), RGB(0, 255, 0));
  EXPECT_EQ(dst.At(3, 0), RGB(255, 0, 0));
}

TEST(GdiBlit, StretchWithinOneSurfaceReadsTheOriginalPixels) {
  Surface s(8, 1);
  for (int x = 0; x < 4; ++x) SetPixel(s.dc, x, 0, RGB(x * 10, 0, 0));
  // Doubling the first four pixels over the whole row in place.
  ASSERT_TRUE(StretchBlt(s.dc, 0, 0, 8, 1, s.dc, 0, 0, 4, 1, SRCCOPY));
  for (int x = 0; x < 8; ++x) EXPECT_EQ(s.At(x, 0), RGB((x / 2) * 10, 0, 0)) << x;
}

TEST(GdiBlit, ClippingKeepsDrawingInsideTheSurface) {
  Surface src(8, 8), dst(4, 4);
  src.Fill(RGB(9, 9, 9));
  EXPECT_TRUE(BitBlt(dst.dc, -2, -2, 8, 8, src.dc, 0, 0, SRCCOPY));
  EXPECT_EQ(dst.At(3, 3), RGB(9, 9, 9));
  EXPECT_EQ(GetPixel(dst.dc, 4, 0), CLR_INVALID);
  IntersectClipRect(dst.dc, 0, 0, 2, 2);
  SetPixel(src.dc, 0, 0, RGB(1, 1, 1));
  BitBlt(dst.dc, 0, 0, 4, 4, src.dc, 0, 0, SRCCOPY);
  EXPECT_EQ(dst.At(0, 0), RGB(1, 1, 1));
}

TEST(GdiAlpha, ConstantAlphaMatchesHandComputedValues) {
  Surface src(2, 1), dst(2, 1);
  SetPixel(src.dc, 0, 0, RGB(200, 100, 0));
  SetPixel(src.dc, 1, 0, RGB(255, 255, 255));
  SetPixel(dst.dc, 0, 0, RGB(100, 200, 50));
  SetPixel(dst.dc, 1, 0, RGB(0, 0, 0));
  BLENDFUNCTION bf = {AC_SRC_OVER, 0, 128, 0};
  ASSERT_TRUE(AlphaBlend(dst.dc, 0, 0, 2, 1, src.dc, 0, 0, 2, 1, bf));
  // (s * 128 + d * 127 + 127) / 255 per channel.
  EXPECT_EQ(dst.At(0, 0), RGB((200 * 128 + 100 * 127 + 127) / 255, (100 * 128 + 200 * 127 + 127) / 255,
                              (0 * 128 + 50 * 127 + 127) / 255));
  EXPECT_EQ(dst.At(1, 0), RGB(128, 128, 128));
}

TEST(GdiAlpha, PerPixelAlphaUsesPremultipliedSource) {
  Surface src(3, 1), dst(3, 1);
  dst.Fill(RGB(100, 100, 100));
  uint32_t* px = reinterpret_cast<uint32_t*>(src.bits);
  px[0] = 0x00000000;  // fully transparent
  px[1] = 0xFFFF0000;  // opaque red
  px[2] = 0x80400000;  // alpha 128, red 64 premultiplied
  BLENDFUNCTION bf = {AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
  ASSERT_TRUE(AlphaBlend(dst.dc, 0, 0, 3, 1, src.dc, 0, 0, 3, 1, bf));
  EXPECT_EQ(dst.At(0, 0), RGB(100, 100, 100));
  EXPECT_EQ(dst.At(1, 0), RGB(255, 0, 0));
  int keep = (100 * 127 + 127) / 255;  // 50
  EXPECT_EQ(dst.At(2, 0), RGB(64 + keep, keep, keep));
  // A source rectangle outside the source is refused.
  EXPECT_FALSE(AlphaBlend(dst.dc, 0, 0, 3, 1, src.dc, 1, 0, 3, 1, bf));
}

TEST(GdiGradient, BothDirectionsReachTheirEndColours) {
  Surface s(10, 6);
  TRIVERTEX v[2] = {{0, 0, 0xFF00, 0, 0, 0}, {10, 6, 0, 0, 0xFF00, 0}};
  GRADIENT_RECT r = {0, 1};
  ASSERT_TRUE(GradientFill(s.dc, v, 2, &r, 1, GRADIENT_FILL_RECT_V));
  EXPECT_EQ(s.At(0, 0), RGB(255, 0, 0));
  EXPECT_EQ(s.At(9, 0), RGB(255, 0, 0));
  EXPECT_EQ(s.At(0, 5), RGB(0, 0, 255));
  EXPECT_EQ(s.At(4, 3), s.At(7, 3));
  COLORREF mid = s.At(0, 3);
  EXPECT_GT(GetRValue(mid), 0);
  EXPECT_GT(GetBValue(mid), 0);
  ASSERT_TRUE(GradientFill(s.dc, v, 2, &r, 1, GRADIENT_FILL_RECT_H));
  EXPECT_EQ(s.At(0, 5), RGB(255, 0, 0));
  EXPECT_EQ(s.At(9, 0), RGB(0, 0, 255));
  EXPECT_EQ(s.At(5, 0), s.At(5, 5));
  // Triangles are not offered.
  EXPECT_FALSE(GradientFill(s.dc, v, 2, &r, 1, GRADIENT_FILL_TRIANGLE));
}

TEST(GdiTransparent, ColourKeyIsLeftOutAndStretchWorks) {
  Surface src(2, 1), dst(4, 2);
  dst.Fill(RGB(1, 2, 3));
  SetPixel(src.dc, 0, 0, RGB(255, 0, 255));
  SetPixel(src.dc, 1, 0, RGB(40, 50, 60));
  ASSERT_TRUE(TransparentBlt(dst.dc, 0, 0, 4, 2, src.dc, 0, 0, 2, 1, RGB(255, 0, 255)));
  EXPECT_EQ(dst.At(0, 0), RGB(1, 2, 3));
  EXPECT_EQ(dst.At(1, 1), RGB(1, 2, 3));
  EXPECT_EQ(dst.At(2, 0), RGB(40, 50, 60));
  EXPECT_EQ(dst.At(3, 1), RGB(40, 50, 60));
  // TransparentImage takes a bitmap as its source.
  Surface dst2(2, 1);
  dst2.Fill(RGB(7, 7, 7));
  HBITMAP free = CreateCompatibleBitmap(dst2.dc, 2, 1);
  HDC tmp = CreateCompatibleDC(nullptr);
  HGDIOBJ o = SelectObject(tmp, free);
  BitBlt(tmp, 0, 0, 2, 1, src.dc, 0, 0, SRCCOPY);
  SelectObject(tmp, o);
  DeleteDC(tmp);
  ASSERT_TRUE(TransparentImage(dst2.dc, 0, 0, 2, 1, free, 0, 0, 2, 1, RGB(255, 0, 255)));
  EXPECT_EQ(dst2.At(0, 0), RGB(7, 7, 7));
  EXPECT_EQ(dst2.At(1, 0), RGB(40, 50, 60));
  DeleteObject(free);
}

TEST(GdiBrushes, SolidAndPatternBrushesFill) {
  Surface s(6, 4);
  HBRUSH solid = CreateSolidBrush(RGB(10, 20, 30));
  RECT r = {1, 1, 3, 3};
  FillRect(s.dc, &r, solid);
  EXPECT_EQ(s.At(1, 1), RGB(10, 20, 30));
  EXPECT_EQ(s.At(3, 3), RGB(0, 0, 0));
  DeleteObject(solid);
  // A 2 x 1 pattern tiles from the surface origin.
  Surface pat(2, 1);
  SetPixel(pat.dc, 0, 0, RGB(255, 0, 0));
  SetPixel(pat.dc, 1, 0, RGB(0, 0, 255));
  HBRUSH pattern = CreatePatternBrush(pat.bmp);
  ASSERT_NE(pattern, nullptr);
  RECT all = {0, 0, 6, 4};
  FillRect(s.dc, &all, pattern);
  EXPECT_EQ(s.At(0, 0), RGB(255, 0, 0));
  EXPECT_EQ(s.At(1, 2), RGB(0, 0, 255));
  EXPECT_EQ(s.At(4, 3), RGB(255, 0, 0));
  DeleteObject(pattern);
  // System colour brushes follow the system colour.
  int idx = COLOR_BTNFACE;
  COLORREF c = RGB(1, 2, 3);
  SetSysColors(1, &idx, &c);
  FillRect(s.dc, &all, GetSysColorBrush(COLOR_BTNFACE));
  EXPECT_EQ(s.At(5, 3), RGB(1, 2, 3));
}

TEST(GdiLines, LineToLeavesTheLastPointAndPolygonFills) {
  Surface s(10, 10);
  HPEN pen = CreatePen(PS_SOLID, 1, RGB(255, 255, 255));
  HGDIOBJ oldPen = SelectObject(s.dc, pen);
  MoveToEx(s.dc, 1, 1, nullptr);
  LineTo(s.dc, 6, 1);
  EXPECT_EQ(s.At(1, 1), RGB(255, 255, 255));
  EXPECT_EQ(s.At(5, 1), RGB(255, 255, 255));
  EXPECT_EQ(s.At(6, 1), RGB(0, 0, 0));
  s.Fill(RGB(0, 0, 0));
  HBRUSH brush = CreateSolidBrush(RGB(0, 200, 0));
  HGDIOBJ oldBrush = SelectObject(s.dc, brush);
  SelectObject(s.dc, GetStockObject(NULL_PEN));
  POINT tri[3] = {{0, 0}, {8, 0}, {0, 8}};
  ASSERT_TRUE(Polygon(s.dc, tri, 3));
  EXPECT_EQ(s.At(1, 1), RGB(0, 200, 0));
  EXPECT_EQ(s.At(7, 7), RGB(0, 0, 0));
  SelectObject(s.dc, oldBrush);
  SelectObject(s.dc, oldPen);
  DeleteObject(brush);
  DeleteObject(pen);
}

class GdiText : public ::testing::Test {
 protected:
  HFONT Font(int height, int weight = FW_NORMAL, const char16_t* face = u"Tahoma") {
    LOGFONTW lf = {};
    lf.lfHeight = height;
    lf.lfWeight = weight;
    for (int i = 0; face[i]; ++i) lf.lfFaceName[i] = face[i];
    HFONT f = CreateFontIndirectW(&lf);
    fonts_.push_back(f);
    return f;
  }
  void TearDown() override {
    for (HFONT f : fonts_) DeleteObject(f);
  }
  std::vector<HFONT> fonts_;
};

TEST_F(GdiText, PositiveHeightIsTheCellHeight) {
  Surface s(10, 10);
  for (int h : {12, 26, 28}) {
    SelectObject(s.dc, Font(h));
    TEXTMETRICW tm;
    ASSERT_TRUE(GetTextMetricsW(s.dc, &tm));
    EXPECT_EQ(tm.tmHeight, h);
    EXPECT_EQ(tm.tmAscent + tm.tmDescent, h);
    SIZE sz;
    ASSERT_TRUE(GetTextExtentPoint32W(s.dc, u"Hello", 5, &sz));
    EXPECT_EQ(sz.cy, h);
    EXPECT_GT(sz.cx, 0);
  }
  // A negative height is the character height: the cell is taller.
  SelectObject(s.dc, Font(-20));
  TEXTMETRICW tm;
  GetTextMetricsW(s.dc, &tm);
  EXPECT_GT(tm.tmHeight, 20);
  EXPECT_GT(tm.tmInternalLeading, 0);
}

TEST_F(GdiText, BoldIsWiderAndExtentsAreCumulative) {
  Surface s(10, 10);
  SIZE normal, bold;
  SelectObject(s.dc, Font(26));
  GetTextExtentPoint32W(s.dc, u"Channels and feeds", 18, &normal);
  SelectObject(s.dc, Font(26, FW_BOLD));
  GetTextExtentPoint32W(s.dc, u"Channels and feeds", 18, &bold);
  EXPECT_GT(bold.cx, normal.cx);
  int dx[5];
  int fit = -1;
  SIZE sz;
  ASSERT_TRUE(GetTextExtentExPointW(s.dc, u"abcde", 5, 1 << 20, &fit, dx, &sz));
  EXPECT_EQ(fit, 5);
  for (int i = 1; i < 5; ++i) EXPECT_GT(dx[i], dx[i - 1]);
  EXPECT_EQ(dx[4], sz.cx);
  ASSERT_TRUE(GetTextExtentExPointW(s.dc, u"abcde", 5, dx[2], &fit, nullptr, &sz));
  EXPECT_EQ(fit, 3);
}

TEST_F(GdiText, DrawTextPlacesAndClipsText) {
  Surface s(200, 40);
  s.Fill(RGB(0, 0, 0));
  SelectObject(s.dc, Font(16));
  SetTextColor(s.dc, RGB(255, 255, 255));
  SetBkMode(s.dc, TRANSPARENT);
  RECT box = {10, 0, 200, 40};
  int h = DrawTextW(s.dc, u"Right", -1, &box, DT_RIGHT | DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
  EXPECT_GT(h, 16);
  // Ink lies in the right part, vertically centred, nothing left of the box.
  int minX = 200, maxX = -1, minY = 40, maxY = -1;
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 200; ++x)
      if (s.At(x, y) != RGB(0, 0, 0)) {
        minX = std::min(minX, x);
        maxX = std::max(maxX, x);
        minY = std::min(minY, y);
        maxY = std::max(maxY, y);
      }
  ASSERT_GE(maxX, 0) << "no text was drawn";
  EXPECT_GT(minX, 120);
  EXPECT_LE(maxX, 199);
  EXPECT_GT(minY, 8);
  EXPECT_LT(maxY, 32);
  // Clipped to the box.
  s.Fill(RGB(0, 0, 0));
  RECT narrow = {0, 0, 20, 40};
  DrawTextW(s.dc, u"A long text that does not fit", -1, &narrow, DT_SINGLELINE | DT_NOPREFIX);
  for (int y = 0; y < 40; ++y)
    for (int x = 20; x < 200; ++x) ASSERT_EQ(s.At(x, y), RGB(0, 0, 0));
}

TEST_F(GdiText, CalcRectWordBreakAndEllipsis) {
  Surface s(10, 10);
  SelectObject(s.dc, Font(20));
  RECT r = {0, 0, 0, 0};
  int h = DrawTextW(s.dc, u"One line", -1, &r, DT_CALCRECT | DT_SINGLELINE);
  EXPECT_EQ(h, 20);
  SIZE sz;
  GetTextExtentPoint32W(s.dc, u"One line", 8, &sz);
  EXPECT_EQ(r.right, sz.cx);
  EXPECT_EQ(r.bottom, 20);
  RECT wrap = {0, 0, sz.cx, 0};
  h = DrawTextW(s.dc, u"One line One line One line", -1, &wrap, DT_CALCRECT | DT_WORDBREAK);
  EXPECT_EQ(h, 60);
  EXPECT_LE(wrap.right, sz.cx);
  // "&&" shows one ampersand, a single one is a prefix.
  RECT a = {0, 0, 0, 0}, b = {0, 0, 0, 0};
  DrawTextW(s.dc, u"A&&B", -1, &a, DT_CALCRECT | DT_SINGLELINE);
  DrawTextW(s.dc, u"A&B", -1, &b, DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
  EXPECT_EQ(a.right, b.right);
  // An end ellipsis fits the text into the box.
  Surface wide(300, 30);
  SelectObject(wide.dc, Font(20));
  SetTextColor(wide.dc, RGB(255, 255, 255));
  SetBkMode(wide.dc, TRANSPARENT);
  RECT box = {0, 0, 80, 30};
  DrawTextW(wide.dc, u"A title far too long for its box", -1, &box, DT_SINGLELINE | DT_END_ELLIPSIS | DT_NOCLIP);
  bool ink = false;
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 300; ++x) {
      if (wide.At(x, y) != RGB(0, 0, 0)) ink = true;
      if (x >= 81) {
        ASSERT_EQ(wide.At(x, y), RGB(0, 0, 0)) << x;
      }
    }
  EXPECT_TRUE(ink);
}

TEST_F(GdiText, OpaqueBackgroundFillsTheTextCell) {
  Surface s(100, 30);
  SelectObject(s.dc, Font(20));
  SetBkMode(s.dc, OPAQUE);
  SetBkColor(s.dc, RGB(0, 0, 255));
  SetTextColor(s.dc, RGB(255, 255, 255));
  TextOutW(s.dc, 0, 0, u"ab", 2);
  EXPECT_EQ(s.At(0, 19), RGB(0, 0, 255));
  EXPECT_EQ(s.At(0, 20), RGB(0, 0, 0));
}

TEST(GdiScreen, DeviceCapsAndHighlightFollowTheScreenConfiguration) {
  qk::gdi::ScreenConfig c = qk::gdi::KeyDeviceScreenConfig();
  c.highlight = RGB(10, 20, 30);
  qk::gdi::SetScreenConfig(c);
  HDC screen = GetDC(nullptr);
  EXPECT_EQ(GetDeviceCaps(screen, LOGPIXELSX), 96);
  EXPECT_EQ(GetDeviceCaps(screen, LOGPIXELSY), 96);
  EXPECT_EQ(GetDeviceCaps(screen, HORZRES), 240);
  EXPECT_EQ(GetDeviceCaps(screen, VERTRES), 320);
  EXPECT_EQ(GetDeviceCaps(screen, BITSPIXEL), 32);
  EXPECT_FALSE(GetDeviceCaps(screen, RASTERCAPS) & RC_PALETTE);
  EXPECT_EQ(GetSysColor(COLOR_HIGHLIGHT), RGB(10, 20, 30));
  // Drawing on the screen DC reaches the screen surface.
  uint64_t before = qk::gdi::ScreenGeneration();
  SetPixel(screen, 239, 319, RGB(1, 2, 3));
  EXPECT_EQ(qk::gdi::ScreenSurface()->Get(239, 319), RGB(1, 2, 3));
  EXPECT_GT(qk::gdi::ScreenGeneration(), before);
  ReleaseDC(nullptr, screen);
  LOGFONTW small = {};
  GetObjectW(GetStockObject(SYSTEM_FONT), sizeof small, &small);
  qk::gdi::SetScreenConfig(qk::gdi::DefaultScreenConfig());
  screen = GetDC(nullptr);
  EXPECT_EQ(GetDeviceCaps(screen, LOGPIXELSY), 192);
  EXPECT_EQ(GetDeviceCaps(screen, HORZRES), 480);
  // The system font follows the density: 8 points.
  LOGFONTW large = {};
  GetObjectW(GetStockObject(SYSTEM_FONT), sizeof large, &large);
  EXPECT_EQ(small.lfHeight, -11);
  EXPECT_EQ(large.lfHeight, -21);
  TEXTMETRICW tm;
  ASSERT_TRUE(GetTextMetricsW(screen, &tm));
  EXPECT_GT(tm.tmHeight, 21);
  ReleaseDC(nullptr, screen);
}

TEST(GdiScreen, WindowDcsComeFromTheWindowLayer) {
  qk::gdi::SetScreenConfig(qk::gdi::DefaultScreenConfig());
  HWND fake = reinterpret_cast<HWND>(0x1234);
  EXPECT_EQ(GetDC(fake), nullptr) << "no provider: no window DC";
  qk::gdi::SetWindowDCProvider([&](HWND w, RECT* area) {
    if (w != fake) return false;
    *area = {100, 200, 150, 220};
    return true;
  });
  HDC dc = GetDC(fake);
  ASSERT_NE(dc, nullptr);
  SetPixel(dc, 0, 0, RGB(9, 8, 7));
  EXPECT_EQ(qk::gdi::ScreenSurface()->Get(100, 200), RGB(9, 8, 7));
  EXPECT_EQ(SetPixel(dc, 50, 0, RGB(1, 1, 1)), CLR_INVALID) << "outside the window";
  RECT clip;
  GetClipBox(dc, &clip);
  EXPECT_EQ(clip.right, 50);
  EXPECT_EQ(clip.bottom, 20);
  ReleaseDC(fake, dc);
  qk::gdi::SetWindowDCProvider(nullptr);
}

TEST_F(GdiText, UnderlineAndItalicChangeTheInk) {
  auto ink = [&](HFONT f, std::vector<int>* rows) {
    Surface s(120, 40);
    SelectObject(s.dc, f);
    SetTextColor(s.dc, RGB(255, 255, 255));
    SetBkMode(s.dc, TRANSPARENT);
    TextOutW(s.dc, 2, 2, u"lllll", 5);
    rows->assign(40, 0);
    for (int y = 0; y < 40; ++y)
      for (int x = 0; x < 120; ++x) (*rows)[y] += s.At(x, y) != RGB(0, 0, 0);
  };
  LOGFONTW lf = {};
  lf.lfHeight = 30;
  HFONT plain = CreateFontIndirectW(&lf);
  lf.lfUnderline = 1;
  HFONT underlined = CreateFontIndirectW(&lf);
  lf.lfUnderline = 0;
  lf.lfItalic = 1;
  HFONT italic = CreateFontIndirectW(&lf);
  std::vector<int> a, b, c;
  ink(plain, &a);
  ink(underlined, &b);
  ink(italic, &c);
  // The underline is one full row of ink below the letters.
  int extraRows = 0;
  for (int y = 0; y < 40; ++y)
    if (a[y] == 0 && b[y] > 20) ++extraRows;
  EXPECT_GE(extraRows, 1);
  EXPECT_NE(a, c) << "the slanted face puts the ink elsewhere";
  TEXTMETRICW tm;
  Surface s(1, 1);
  SelectObject(s.dc, italic);
  GetTextMetricsW(s.dc, &tm);
  EXPECT_EQ(tm.tmItalic, 1);
  for (HFONT f : {plain, underlined, italic}) DeleteObject(f);
}

namespace {

// True when both surfaces hold the same pixels.
bool SamePixels(const Surface& a, const Surface& b) {
  for (int y = 0; y < a.height; ++y)
    for (int x = 0; x < a.width; ++x)
      if (a.At(x, y) != b.At(x, y)) return false;
  return true;
}

// The box of the pixels that are not black; right/bottom exclusive.
RECT InkBox(const Surface& s) {
  RECT r = {s.width, s.height, -1, -1};
  for (int y = 0; y < s.height; ++y)
    for (int x = 0; x < s.width; ++x)
      if (s.At(x, y) != RGB(0, 0, 0)) {
        r.left = std::min<LONG>(r.left, x);
        r.top = std::min<LONG>(r.top, y);
        r.right = std::max<LONG>(r.right, x + 1);
        r.bottom = std::max<LONG>(r.bottom, y + 1);
      }
  return r;
}

// Draws single characters one after the other from the left, each at the
// advance the DC measures for it: what a run must look like in visual order.
void DrawInOrder(HDC dc, int x, int y, const std::vector<std::u16string>& chars) {
  for (const auto& c : chars) {
    TextOutW(dc, x, y, c.data(), static_cast<int>(c.size()));
    SIZE sz;
    GetTextExtentPoint32W(dc, c.data(), static_cast<int>(c.size()), &sz);
    x += sz.cx;
  }
}

void PrepareText(Surface& s, HFONT font) {
  s.Fill(RGB(0, 0, 0));
  SelectObject(s.dc, font);
  SetTextColor(s.dc, RGB(255, 255, 255));
  SetBkMode(s.dc, TRANSPARENT);
}

int Advance(HDC dc, const std::u16string& text) {
  SIZE sz;
  GetTextExtentPoint32W(dc, text.data(), static_cast<int>(text.size()), &sz);
  return sz.cx;
}

}  // namespace

TEST_F(GdiText, DrawTextVerticalCentringIsExactToThePixel) {
  // A single line centred in its box starts (box height - cell) / 2 below the
  // top, rounded down, for even and odd boxes alike.
  for (int boxHeight : {40, 41, 17}) {
    Surface drawn(120, 50), expected(120, 50);
    HFONT font = Font(16);
    PrepareText(drawn, font);
    PrepareText(expected, font);
    RECT box = {4, 3, 120, 3 + boxHeight};
    DrawTextW(drawn.dc, u"Centred", -1, &box, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_NOCLIP);
    TextOutW(expected.dc, 4, 3 + (boxHeight - 16) / 2, u"Centred", 7);
    EXPECT_TRUE(SamePixels(drawn, expected)) << "box height " << boxHeight;
    // And at the bottom with DT_BOTTOM.
    PrepareText(drawn, font);
    PrepareText(expected, font);
    DrawTextW(drawn.dc, u"Centred", -1, &box, DT_SINGLELINE | DT_BOTTOM | DT_NOPREFIX | DT_NOCLIP);
    TextOutW(expected.dc, 4, 3 + boxHeight - 16, u"Centred", 7);
    EXPECT_TRUE(SamePixels(drawn, expected)) << "box height " << boxHeight;
  }
}

TEST_F(GdiText, CharactersTheFaceLacksComeFromAFaceThatHasThem) {
  Surface s(200, 40);
  HFONT font = Font(-24);
  PrepareText(s, font);
  TEXTMETRICW before;
  GetTextMetricsW(s.dc, &before);
  // Chinese and Japanese are full-width in the face that has them: one em
  // each, where the chosen face would show its missing box (0.6 em); Korean
  // syllables are a little narrower.
  for (const char16_t* c : {u"\u4E2D", u"\u6587", u"\u3042", u"\u30CB"})
    EXPECT_EQ(Advance(s.dc, c), 24) << std::hex << static_cast<int>(c[0]);
  EXPECT_GE(Advance(s.dc, u"\uD55C"), 21);
  EXPECT_LE(Advance(s.dc, u"\uD55C"), 24);
  EXPECT_LT(Advance(s.dc, u"\uE000"), 20);
  Surface a(40, 40), b(40, 40), box(40, 40);
  for (Surface* t : {&a, &b, &box}) PrepareText(*t, font);
  TextOutW(a.dc, 4, 4, u"\u4E2D", 1);
  TextOutW(b.dc, 4, 4, u"\u6587", 1);
  TextOutW(box.dc, 4, 4, u"\uE000", 1);  // a private-use character no face has
  RECT ink = InkBox(a);
  ASSERT_GT(ink.right, ink.left) << "the character was drawn";
  EXPECT_FALSE(SamePixels(a, b)) << "two different characters, not two missing boxes";
  EXPECT_FALSE(SamePixels(a, box));
  // On the line's baseline, inside the cell.
  EXPECT_GE(ink.top, 4);
  EXPECT_LE(ink.bottom, 4 + before.tmHeight);
  EXPECT_GE(ink.bottom, 4 + before.tmAscent - 2);
  // The font's metrics stay those of the face chosen.
  TEXTMETRICW after;
  GetTextMetricsW(s.dc, &after);
  EXPECT_EQ(after.tmHeight, before.tmHeight);
  EXPECT_EQ(after.tmAveCharWidth, before.tmAveCharWidth);
  // Arabic in a face without Arabic comes from a face that has it, at the
  // same size as in one that has it itself.
  SelectObject(s.dc, Font(-24, FW_NORMAL, u"Times New Roman"));
  int serif = Advance(s.dc, u"\u0628");
  SelectObject(s.dc, font);
  EXPECT_EQ(serif, Advance(s.dc, u"\u0628"));
  EXPECT_GT(serif, 4);
  // Latin mixed with Chinese measures as the sum of its parts.
  EXPECT_EQ(Advance(s.dc, u"ab\u4E2D"), Advance(s.dc, u"ab") + 24);
}

TEST_F(GdiText, RightToLeftRunsAreShownInVisualOrder) {
  HFONT font = Font(-20);
  Surface drawn(320, 40), expected(320, 40);
  auto check = [&](const std::u16string& text, const std::vector<std::u16string>& visual) {
    PrepareText(drawn, font);
    PrepareText(expected, font);
    TextOutW(drawn.dc, 5, 5, text.data(), static_cast<int>(text.size()));
    DrawInOrder(expected.dc, 5, 5, visual);
    RECT ink = InkBox(drawn);
    ASSERT_GT(ink.right, ink.left);
    EXPECT_TRUE(SamePixels(drawn, expected)) << static_cast<int>(text[0]) << " +" << text.size();
  };
  // Hebrew alone reads from the right: its first letter is drawn rightmost.
  check(u"\u05D0\u05D1\u05D2", {u"\u05D2", u"\u05D1", u"\u05D0"});
  // In a Latin line a Hebrew run is turned round in place.
  check(u"abc \u05D0\u05D1\u05D2 def",
        {u"a", u"b", u"c", u" ", u"\u05D2", u"\u05D1", u"\u05D0", u" ", u"d", u"e", u"f"});
  // A line that starts in Hebrew is a right-to-left line: the Latin word
  // that follows stands to its left, still read from the left.
  check(u"\u05E9\u05DC\u05D5\u05DD abc", {u"a", u"b", u"c", u" ", u"\u05DD", u"\u05D5", u"\u05DC", u"\u05E9"});
  // Numbers keep their order inside right-to-left text.
  check(u"\u05D0 12", {u"1", u"2", u" ", u"\u05D0"});
  // The width of a run is the same in either order.
  SelectObject(drawn.dc, font);
  EXPECT_EQ(Advance(drawn.dc, u"\u05D0\u05D1\u05D2"),
            Advance(drawn.dc, u"\u05D0") + Advance(drawn.dc, u"\u05D1") + Advance(drawn.dc, u"\u05D2"));
}

TEST_F(GdiText, ArabicLettersAreJoinedAndShownFromTheRight) {
  HFONT font = Font(-24);
  Surface drawn(320, 48), expected(320, 48);
  PrepareText(drawn, font);
  PrepareText(expected, font);
  // "salam": seen begins the word joined to lam, lam and alef become one
  // ligature, meem stands alone after alef (which joins on one side only).
  std::u16string salam = u"\u0633\u0644\u0627\u0645";
  TextOutW(drawn.dc, 5, 5, salam.data(), 4);
  DrawInOrder(expected.dc, 5, 5, {u"\uFEE1", u"\uFEFC", u"\uFEB3"});
  EXPECT_TRUE(SamePixels(drawn, expected));
  // Measured in the joined forms: the ligature counts at its second letter,
  // the first takes no room of its own.
  int dx[4];
  SIZE sz;
  ASSERT_TRUE(GetTextExtentExPointW(drawn.dc, salam.data(), 4, 1 << 20, nullptr, dx, &sz));
  int seen = Advance(drawn.dc, u"\uFEB3"), lamAlef = Advance(drawn.dc, u"\uFEFC"), meem = Advance(drawn.dc, u"\uFEE1");
  EXPECT_EQ(dx[0], seen);
  EXPECT_EQ(dx[1], seen);
  EXPECT_EQ(dx[2], seen + lamAlef);
  EXPECT_EQ(sz.cx, seen + lamAlef + meem);
  EXPECT_NE(Advance(drawn.dc, u"\u0633"), seen) << "the isolated form differs from the initial one";
  // Beh between two behs takes its middle form; the word reads from the right.
  PrepareText(drawn, font);
  PrepareText(expected, font);
  TextOutW(drawn.dc, 5, 5, u"\u0628\u0628\u0628", 3);
  DrawInOrder(expected.dc, 5, 5, {u"\uFE90", u"\uFE92", u"\uFE91"});
  EXPECT_TRUE(SamePixels(drawn, expected));
}

TEST_F(GdiText, DrawTextShowsRightToLeftWordsFromTheRight) {
  HFONT font = Font(-20);
  Surface drawn(360, 80), expected(360, 80);
  const std::u16string shalom = u"\u05E9\u05DC\u05D5\u05DD", olam = u"\u05E2\u05D5\u05DC\u05DD";
  const std::u16string akhbar = u"\u0623\u062E\u0628\u0627\u0631", yawm = u"\u0627\u0644\u064A\u0648\u0645";
  // Words are drawn alone (each read from the right, joined as it is in the
  // sentence): a sentence must show them as they stand from the right.
  auto check = [&](const std::u16string& text, const std::vector<std::u16string>& visual, UINT format) {
    PrepareText(drawn, font);
    PrepareText(expected, font);
    RECT box = {5, 5, 355, 75};
    // Not clipped: marks above Arabic letters may reach above the cell.
    DrawTextW(drawn.dc, text.data(), static_cast<int>(text.size()), &box, format | DT_NOCLIP);
    DrawInOrder(expected.dc, 5, 5, visual);
    RECT ink = InkBox(drawn);
    ASSERT_GT(ink.right, ink.left);
    EXPECT_TRUE(SamePixels(drawn, expected)) << static_cast<int>(text[0]) << " +" << text.size();
  };
  for (UINT format : {UINT(DT_SINGLELINE | DT_NOPREFIX), UINT(DT_WORDBREAK | DT_NOPREFIX), UINT(0)}) {
    check(shalom + u" " + olam, {olam, u" ", shalom}, format);
    check(akhbar + u" " + yawm, {yawm, u" ", akhbar}, format);
    // In a Latin title the right-to-left words keep their place, turned
    // round among themselves; a number inside stays read from the left.
    check(u"News: " + shalom + u" " + olam + u" today", {u"News: ", olam, u" ", shalom, u" today"}, format);
    check(u"Desk " + akhbar + u" 24 " + yawm + u" end", {u"Desk ", yawm, u" ", u"24", u" ", akhbar, u" end"}, format);
  }

  // A right-to-left paragraph broken over two lines: each line reads in the
  // paragraph's direction, also one that starts with a Latin word (its
  // full stop stands at its left end).
  SelectObject(drawn.dc, font);
  const std::u16string first = shalom + u" " + olam + u" " + shalom;
  TEXTMETRICW tm;
  GetTextMetricsW(drawn.dc, &tm);
  const int lineHeight = tm.tmHeight;
  ASSERT_GT(Advance(drawn.dc, first), Advance(drawn.dc, u"abc def."));
  RECT box = {5, 5, 5 + Advance(drawn.dc, first) + 2, 75};
  const std::u16string para = first + u" abc def.";
  PrepareText(drawn, font);
  PrepareText(expected, font);
  DrawTextW(drawn.dc, para.data(), static_cast<int>(para.size()), &box, DT_WORDBREAK | DT_NOPREFIX);
  DrawInOrder(expected.dc, 5, 5, {shalom, u" ", olam, u" ", shalom});
  DrawInOrder(expected.dc, 5, 5 + lineHeight, {u".", u"abc def"});
  EXPECT_TRUE(SamePixels(drawn, expected));

  // Cut with an ellipsis, a right-to-left title keeps its first letters at
  // the right and the dots at the left.
  PrepareText(drawn, font);
  const std::u16string longTitle = shalom + u" " + olam + u" " + shalom + u" " + olam;
  RECT narrow = {5, 5, 5 + Advance(drawn.dc, shalom + u" " + olam + u"..."), 40};
  DrawTextW(drawn.dc, longTitle.data(), static_cast<int>(longTitle.size()), &narrow,
            DT_SINGLELINE | DT_END_ELLIPSIS | DT_NOPREFIX);
  PrepareText(expected, font);
  DrawInOrder(expected.dc, 5, 5, {u"...", olam, u" ", shalom});
  EXPECT_TRUE(SamePixels(drawn, expected));
}

TEST_F(GdiText, PrefixesUnderlineTheNextCharacterAndNoPrefixShowsTextAsItIs) {
  HFONT font = Font(-20);
  Surface drawn(300, 64), expected(300, 64);
  auto draw = [&](Surface& s, const char16_t* text, UINT format) {
    PrepareText(s, font);
    RECT box = {5, 5, 295, 35};
    DrawTextW(s.dc, text, -1, &box, DT_SINGLELINE | format);
  };
  auto plain = [&](Surface& s, const char16_t* text) {
    PrepareText(s, font);
    TextOutW(s.dc, 5, 5, text, static_cast<int>(std::u16string(text).size()));
  };
  // Data is drawn as it stands.
  draw(drawn, u"Quotes & Co", DT_NOPREFIX);
  plain(expected, u"Quotes & Co");
  EXPECT_TRUE(SamePixels(drawn, expected));
  draw(drawn, u"Quotes &amp; Co &&", DT_NOPREFIX);
  plain(expected, u"Quotes &amp; Co &&");
  EXPECT_TRUE(SamePixels(drawn, expected));
  // "&&" is one "&".
  draw(drawn, u"Quotes && Co", 0);
  plain(expected, u"Quotes & Co");
  EXPECT_TRUE(SamePixels(drawn, expected));
  // "&F" shows F with a line under it, and only under it.
  draw(drawn, u"&File", 0);
  plain(expected, u"File");
  const int baseline = 5 + 19, fWidth = Advance(expected.dc, u"F");
  std::vector<int> underRows;
  for (int y = 0; y < drawn.height; ++y)
    for (int x = 0; x < drawn.width; ++x)
      if (drawn.At(x, y) != expected.At(x, y)) {
        EXPECT_GE(x, 5) << y;
        EXPECT_LT(x, 5 + fWidth) << y;
        EXPECT_GT(y, baseline - 3) << x;
        underRows.push_back(y);
      }
  EXPECT_FALSE(underRows.empty()) << "the F is underlined";
  // Which units are underlined follows word breaking onto the next line.
  PrepareText(drawn, font);
  PrepareText(expected, font);
  RECT box = {5, 5, 5 + Advance(drawn.dc, u"Open") + 4, 60};
  DrawTextW(drawn.dc, u"Open Fi&le", -1, &box, DT_WORDBREAK);
  DrawTextW(expected.dc, u"Open File", -1, &box, DT_WORDBREAK | DT_NOPREFIX);
  const int iLeft = 5 + Advance(drawn.dc, u"Fi"), iRight = 5 + Advance(drawn.dc, u"Fil");
  bool under = false;
  for (int y = 0; y < drawn.height; ++y)
    for (int x = 0; x < drawn.width; ++x)
      if (drawn.At(x, y) != expected.At(x, y)) {
        under = true;
        EXPECT_TRUE(x >= iLeft && x < iRight && y > 5 + 19) << x << "," << y;  // below the first line's baseline
      }
  EXPECT_TRUE(under);
}

// A picture of text in several scripts, to look at.
TEST_F(GdiText, PictureOfTextInEveryScript) {
  Surface s(480, 240);
  s.Fill(RGB(255, 255, 255));
  SelectObject(s.dc, Font(-22));
  SetTextColor(s.dc, RGB(0, 0, 0));
  SetBkMode(s.dc, TRANSPARENT);
  const char16_t* lines[] = {
      u"Quillet \u2014 news in every script",
      u"\u4E2D\u6587\u65B0\u95FB \u00B7 \u65E5\u672C\u8A9E\u306E\u30CB\u30E5\u30FC\u30B9 \u00B7 "
      u"\uD55C\uAD6D\uC5B4 \uB274\uC2A4",
      u"\u05D7\u05D3\u05E9\u05D5\u05EA \u05D1\u05E2\u05D1\u05E8\u05D9\u05EA: Quillet 2.0",
      u"\u0623\u062E\u0628\u0627\u0631 \u0639\u0631\u0628\u064A\u0629: \u0645\u0631\u062D\u0628\u0627 "
      u"\u0628\u0627\u0644\u0639\u0627\u0644\u0645",
      u"Mixed: abc \u05E2\u05D1\u05E8\u05D9\u05EA 123 \u0627\u0644\u0639\u0631\u0628\u064A\u0629 xyz",
  };
  int y = 8;
  for (const char16_t* line : lines) {
    RECT r = {8, y, 472, y + 40};
    DrawTextW(s.dc, line, -1, &r, DT_SINGLELINE | DT_NOPREFIX);
    y += 44;
  }
  RECT ink = InkBox(s);  // black on white: InkBox finds the white
  EXPECT_GT(ink.right, ink.left);
  std::vector<uint32_t> rgb;
  for (int yy = 0; yy < s.height; ++yy)
    for (int x = 0; x < s.width; ++x) {
      COLORREF c = s.At(x, yy);
      rgb.push_back((GetRValue(c) << 16) | (GetGValue(c) << 8) | GetBValue(c));
    }
  std::vector<uint8_t> png;
  ASSERT_TRUE(qk::gdi::EncodePng(s.width, s.height, rgb, &png));
  const char* env = std::getenv("QUILLET_PICTURES_DIR");
  std::string dir = env && *env ? env : std::string(QUILLET_BINARY_DIR) + "/pictures";
  std::filesystem::create_directories(dir);
  std::ofstream(dir + "/text_scripts.png", std::ios::binary)
      .write(reinterpret_cast<const char*>(png.data()), static_cast<std::streamsize>(png.size()));
  EXPECT_TRUE(std::filesystem::exists(dir + "/text_scripts.png"));
}

namespace {

// Whether the process has mapped a library whose file name starts so.
bool Mapped(const std::string& name) {
  std::ifstream maps("/proc/self/maps");
  std::string line;
  while (std::getline(maps, line))
    if (line.find("/" + name) != std::string::npos) return true;
  return false;
}

// What a font gives: its metrics, a line's extent and the line drawn.
struct TextLook {
  TEXTMETRICW metrics{};
  SIZE extent{};
  std::vector<COLORREF> pixels;
};

TextLook LookOf(HFONT font) {
  static const std::u16string kLine = u"Channel 1001 \u00E9t\u00E9";
  Surface s(200, 48);
  PrepareText(s, font);
  TextLook look;
  GetTextMetricsW(s.dc, &look.metrics);
  GetTextExtentPoint32W(s.dc, kLine.data(), static_cast<int>(kLine.size()), &look.extent);
  TextOutW(s.dc, 2, 2, kLine.data(), static_cast<int>(kLine.size()));
  for (int y = 0; y < s.height; ++y)
    for (int x = 0; x < s.width; ++x) look.pixels.push_back(s.At(x, y));
  return look;
}

}  // namespace

TEST_F(GdiText, FontLibrariesOpenWithTheFirstFontAndFacesAreMadeAheadOfTheirText) {
  // Making fonts maps nothing; their first text opens the libraries.
  LOGFONTW kinds[4] = {};
  const int heights[4] = {12, 26, -20, 31};
  for (int i = 0; i < 4; ++i) {
    kinds[i].lfHeight = heights[i];
    kinds[i].lfWeight = i == 1 ? FW_BOLD : FW_NORMAL;
    kinds[i].lfItalic = i == 2;
    std::memcpy(kinds[i].lfFaceName, u"Tahoma", sizeof u"Tahoma");
  }
  std::vector<HFONT> onDemand;
  for (const LOGFONTW& lf : kinds) onDemand.push_back(CreateFontIndirectW(&lf));
  // First in its process (as the test runner starts each test), nothing has
  // drawn text before; run after other tests, the libraries may be open.
  const auto* run = ::testing::UnitTest::GetInstance();
  if (run->successful_test_count() + run->failed_test_count() == 0) {
    EXPECT_FALSE(Mapped("libfreetype"));
    EXPECT_FALSE(Mapped("libfontconfig"));
  }
  EXPECT_FALSE(qk::gdi::FontFaceMade(onDemand[0]));
  std::vector<TextLook> expected;
  for (HFONT f : onDemand) expected.push_back(LookOf(f));
  EXPECT_TRUE(Mapped("libfreetype"));
  EXPECT_TRUE(Mapped("libfontconfig"));
  EXPECT_GT(expected[0].extent.cx, 0);
  // Gone with their fonts: what follows makes every face anew.
  for (HFONT f : onDemand) DeleteObject(f);

  // Fonts made before the preparation starts and after it, none used for
  // text; one of each deleted at once, before the preparation reaches it.
  std::vector<HFONT> ahead;
  for (const LOGFONTW& lf : kinds) ahead.push_back(CreateFontIndirectW(&lf));
  DeleteObject(CreateFontIndirectW(&kinds[3]));
  qk::gdi::PrepareFonts();
  for (const LOGFONTW& lf : kinds) ahead.push_back(CreateFontIndirectW(&lf));
  DeleteObject(CreateFontIndirectW(&kinds[0]));
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  auto allMade = [&] {
    for (HFONT f : ahead)
      if (!qk::gdi::FontFaceMade(f)) return false;
    return true;
  };
  while (!allMade() && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ASSERT_TRUE(allMade()) << "the preparation made no face for some font";

  // A face made ahead measures and draws as one made on demand.
  for (size_t i = 0; i < ahead.size(); ++i) {
    TextLook look = LookOf(ahead[i]);
    const TextLook& want = expected[i % 4];
    EXPECT_EQ(look.metrics.tmHeight, want.metrics.tmHeight) << i;
    EXPECT_EQ(look.metrics.tmAveCharWidth, want.metrics.tmAveCharWidth) << i;
    EXPECT_EQ(look.extent.cx, want.extent.cx) << i;
    EXPECT_TRUE(look.pixels == want.pixels) << i;
    DeleteObject(ahead[i]);
  }
}
