// Screen density, off-screen DCs, the transparent stretch and the list font.
#include <gtest/gtest.h>

#include "gdi/surface.h"
#include "quillet/ui/density.h"
#include "support/device_fixture.h"

namespace {

void UseDpi(int dpi) {
  qk::gdi::ScreenConfig c = qk::gdi::DefaultScreenConfig();
  c.dpi = dpi;
  qk::gdi::SetScreenConfig(c);
  ResetScreenDpi();
  InitScreenDpi(0);
}

class Density : public qtest::DeviceTest {
 protected:
  void TearDown() override {
    UseDpi(192);
    SetTouchFlag(TRUE);
    DeviceTest::TearDown();
  }
};

}  // namespace

TEST_F(Density, ScalesAt96_128_131And192Dpi) {
  UseDpi(96);
  for (int v : {0, 1, 5, 12, 41, -7}) {
    EXPECT_EQ(ScaleX(v), v);
    EXPECT_EQ(ScaleY(v), v);
  }
  UseDpi(192);
  EXPECT_EQ(ScaleX(12), 24);
  EXPECT_EQ(ScaleY(-5), -10);
  EXPECT_EQ(ScaleY(41), 82);
  UseDpi(128);
  EXPECT_EQ(ScaleX(12), 16);
  EXPECT_EQ(ScaleY(3), 4);    // 384 + 48 = 432 / 96 = 4.5 -> 4
  EXPECT_EQ(ScaleY(-3), -4);  // halves away from zero: the sign is applied after
  UseDpi(131);
  EXPECT_EQ(ScaleX(40), 55);
  EXPECT_EQ(ScaleY(12), 16);
}

TEST_F(Density, KeepOnLowDensityAndFirstCallWins) {
  UseDpi(130);
  EXPECT_EQ(ScaleY(10, TRUE), 10);
  EXPECT_EQ(ScaleY(10, FALSE), 14);
  UseDpi(136);
  EXPECT_EQ(ScaleY(10, TRUE), 14);
  // A second InitScreenDpi keeps the first reading.
  qk::gdi::ScreenConfig c = qk::gdi::DefaultScreenConfig();
  c.dpi = 96;
  qk::gdi::SetScreenConfig(c);
  InitScreenDpi(0);
  EXPECT_EQ(GetScreenDpiY(), 136);
  // Before initialisation lengths scale to 0.
  ResetScreenDpi();
  EXPECT_EQ(ScaleX(10), 0);
  EXPECT_EQ(ScaleX(10, TRUE), 10);
}

TEST_F(Density, ListFontHeightFollowsLanguageAndTouchFlag) {
  UseDpi(192);
  qk::Locale japanese;
  japanese.langId = 0x0411;
  qk::SetLocale(japanese);
  auto height = [](HFONT f) {
    LOGFONTW lf = {};
    GetObjectW(f, sizeof lf, &lf);
    DeleteObject(f);
    return lf.lfHeight;
  };
  SetTouchFlag(TRUE);
  EXPECT_EQ(height(CreateListFont(FALSE)), 192 * 14 / 96);
  SetTouchFlag(FALSE);
  EXPECT_EQ(height(CreateListFont(FALSE)), 192 * 13 / 96);
  qk::SetLocale(qk::Locale());
  SetTouchFlag(TRUE);
  EXPECT_EQ(height(CreateListFont(FALSE)), 192 * 13 / 96);
  HFONT bold = CreateListFont(TRUE);
  LOGFONTW lf = {};
  GetObjectW(bold, sizeof lf, &lf);
  EXPECT_EQ(lf.lfWeight, FW_BOLD);
  EXPECT_EQ(std::u16string(lf.lfFaceName), u"Tahoma");
  DeleteObject(bold);
}

TEST_F(Density, OffscreenDcKeepsTheFontAndReleasesEverything) {
  HDC screen = GetDC(nullptr);
  LOGFONTW lf = {};
  lf.lfHeight = 20;
  HFONT font = CreateFontIndirectW(&lf);
  HGDIOBJ oldFont = SelectObject(screen, font);
  {
    COffscreenDC off(screen, 30, 20);
    ASSERT_NE(off.GetDC(), nullptr);
    EXPECT_EQ(GetCurrentObject(off.GetDC(), OBJ_FONT), reinterpret_cast<HGDIOBJ>(font));
    HGDIOBJ bmp = GetCurrentObject(off.GetDC(), OBJ_BITMAP);
    BITMAP bm;
    ASSERT_EQ(GetObjectW(bmp, sizeof bm, &bm), static_cast<int>(sizeof bm));
    EXPECT_EQ(bm.bmWidth, 30);
    EXPECT_EQ(bm.bmHeight, 20);
    EXPECT_EQ(bm.bmBitsPixel, 32);
    off.Release();
    EXPECT_EQ(off.GetDC(), nullptr);
    EXPECT_EQ(GetObjectType(bmp), 0u) << "the bitmap was deleted";
  }
  SelectObject(screen, oldFont);
  DeleteObject(font);
  ReleaseDC(nullptr, screen);
}

TEST_F(Density, TransparentStretchKeepsTheBackgroundUnderTheKeyColour) {
  COffscreenDC src(nullptr, 2, 2), dst(nullptr, 4, 4);
  HBRUSH back = CreateSolidBrush(RGB(10, 20, 30));
  RECT all = {0, 0, 4, 4};
  FillRect(dst.GetDC(), &all, back);
  DeleteObject(back);
  SetPixel(src.GetDC(), 0, 0, RGB(255, 0, 255));
  SetPixel(src.GetDC(), 1, 0, RGB(200, 0, 0));
  SetPixel(src.GetDC(), 0, 1, RGB(0, 200, 0));
  SetPixel(src.GetDC(), 1, 1, RGB(255, 0, 255));
  ASSERT_EQ(StretchBltTransparent(dst.GetDC(), 0, 0, 4, 4, src.GetDC(), 0, 0, 2, 2, RGB(255, 0, 255)), 1);
  EXPECT_EQ(GetPixel(dst.GetDC(), 0, 0), RGB(10, 20, 30));
  EXPECT_EQ(GetPixel(dst.GetDC(), 1, 1), RGB(10, 20, 30));
  EXPECT_EQ(GetPixel(dst.GetDC(), 2, 0), RGB(200, 0, 0));
  EXPECT_EQ(GetPixel(dst.GetDC(), 3, 1), RGB(200, 0, 0));
  EXPECT_EQ(GetPixel(dst.GetDC(), 0, 3), RGB(0, 200, 0));
  EXPECT_EQ(GetPixel(dst.GetDC(), 3, 3), RGB(10, 20, 30));
  // A source that is all key colour leaves the destination untouched.
  HBRUSH key = CreateSolidBrush(RGB(255, 0, 255));
  RECT s = {0, 0, 2, 2};
  FillRect(src.GetDC(), &s, key);
  DeleteObject(key);
  ASSERT_EQ(StretchBltTransparent(dst.GetDC(), 0, 0, 4, 4, src.GetDC(), 0, 0, 2, 2, RGB(255, 0, 255)), 1);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x)
      if (!(x >= 2 && y < 2) && !(x < 2 && y >= 2)) {
        EXPECT_EQ(GetPixel(dst.GetDC(), x, y), RGB(10, 20, 30));
      }
  EXPECT_EQ(GetPixel(dst.GetDC(), 2, 0), RGB(200, 0, 0));
  // Sizes below 1 draw nothing.
  EXPECT_EQ(StretchBltTransparent(dst.GetDC(), 0, 0, 0, 4, src.GetDC(), 0, 0, 2, 2, 0), 0);
  EXPECT_EQ(StretchBltTransparent(dst.GetDC(), 0, 0, 4, 4, src.GetDC(), 0, 0, 2, -1, 0), 0);
}
