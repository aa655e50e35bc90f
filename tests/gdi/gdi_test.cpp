// The software drawing layer: blits and raster operations, monochrome
// conversions, alpha blending, gradients, transparent blits, brushes, lines,
// polygons, fonts and text, device capabilities and system colours.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "gdi/gdi.h"
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
