// Caption, colour and input-panel edits in a window: the caption's font
// and painting, the colour edit's colours and brushes, and the input panel
// following the focus through taps on the edits.
#include <gtest/gtest.h>

#include "controls/commctrl.h"
#include "framework/wnd.h"
#include "quillet/ui/density.h"
#include "quillet/ui/small_controls.h"
#include "shell/aygshell.h"
#include "support/device_fixture.h"
#include "toolkit_support.h"

namespace {

class CHost : public CWnd {};

class SmallControls : public qtest::DeviceTest {
 protected:
  void Start(const qk::gdi::ScreenConfig& cfg) {
    qk::gdi::SetScreenConfig(cfg);
    qk::SetScreenSize(cfg.width, cfg.height);
    qk::display::ConnectScreen();
    ResetScreenDpi();
    InitScreenDpi(0);
    InitCommonControls();
    ASSERT_TRUE(host_.CreateEx(0, nullptr, u"Host", WS_POPUP | WS_VISIBLE, 0, 0, cfg.width, cfg.height, nullptr,
                               nullptr));
  }
  void TearDown() override {
    if (host_.m_hWnd) host_.DestroyWindow();
    qk::shell::ResetShell();
    qk::PumpMessages();
    qk::gdi::SetScreenConfig(qk::gdi::DefaultScreenConfig());
    qk::SetScreenSize(480, 800);
    ResetScreenDpi();
    DeviceTest::TearDown();
  }
  HWND Child(LPCWSTR cls, LPCWSTR text, DWORD style, int x, int y, int w, int h) {
    return CreateWindowExW(0, cls, text, WS_CHILD | WS_VISIBLE | style, x, y, w, h, host_.m_hWnd, nullptr, nullptr,
                           nullptr);
  }
  static COLORREF ScreenAt(int x, int y) {
    HDC s = GetDC(nullptr);
    COLORREF c = GetPixel(s, x, y);
    ReleaseDC(nullptr, s);
    return c;
  }
  CHost host_;
};

}  // namespace

TEST_F(SmallControls, CaptionFontOptionsAndPainting) {
  Start(qk::gdi::DefaultScreenConfig());
  CCaptionStatic caption;
  EXPECT_EQ(caption.GetFontHeight(), -24) << "192 dpi";
  EXPECT_EQ(caption.GetSwitch(1), 1) << "bold by default";
  caption.SetOption(2);
  EXPECT_EQ(caption.GetSwitch(2), 1);
  caption.SetCentred(TRUE);
  caption.SetOption(0);
  EXPECT_EQ(caption.GetSwitch(1), 0);
  EXPECT_EQ(caption.GetSwitch(2), 0);
  EXPECT_EQ(caption.IsCentred(), 0);
  caption.SetOption(1);
  HWND w = Child(u"STATIC", u"Title", 0, 0, 0, 480, 60);
  ASSERT_TRUE(caption.SubclassControl(w));
  EXPECT_TRUE(GetWindowLongW(w, GWL_STYLE) & SS_NOTIFY);
  caption.SetColors(RGB(200, 20, 20), RGB(10, 60, 10));
  // Painted many times: the same picture every time (nothing is used up).
  for (int i = 0; i < 40; ++i) {
    InvalidateRect(w, nullptr, TRUE);
    UpdateWindow(w);
  }
  EXPECT_EQ(ScreenAt(470, 5), RGB(10, 60, 10)) << "the custom background";
  int red = 0;
  for (int y = 0; y < 60; ++y)
    for (int x = 0; x < 200; ++x) red += ScreenAt(x, y) == RGB(200, 20, 20);
  EXPECT_GT(red, 30) << "the title in the text colour";
  // Text starts 8 density pixels in.
  int left = 480;
  for (int y = 0; y < 60; ++y)
    for (int x = 0; x < 100; ++x)
      if (ScreenAt(x, y) == RGB(200, 20, 20)) left = std::min(left, x);
  EXPECT_GE(left, 16);
  EXPECT_LT(left, 24);
  // With the gradient the text is in the window-text colour, at the top.
  caption.SetGradient(TRUE);
  InvalidateRect(w, nullptr, TRUE);
  UpdateWindow(w);
  EXPECT_EQ(ScreenAt(470, 0), GetSysColor(COLOR_WINDOW));
  EXPECT_NE(ScreenAt(470, 58), GetSysColor(COLOR_WINDOW));
  caption.DestroyWindow();
}

TEST_F(SmallControls, KeyDeviceCaptionHeight) {
  Start(qk::gdi::KeyDeviceScreenConfig());
  CCaptionStatic caption;
  EXPECT_EQ(caption.GetFontHeight(), -12) << "96 dpi";
}

TEST_F(SmallControls, ColourEditAndInputPanelEditsFollowTheFocus) {
  Start(qk::gdi::DefaultScreenConfig());
  CColorEdit colour;
  CSipEdit first, second;
  HWND plainWindow = Child(u"EDIT", u"plain", WS_BORDER, 10, 300, 300, 50);
  ASSERT_TRUE(colour.SubclassControl(Child(u"EDIT", u"coloured", WS_BORDER, 10, 10, 300, 50)));
  ASSERT_TRUE(first.SubclassControl(Child(u"EDIT", u"one", WS_BORDER, 10, 100, 300, 50)));
  ASSERT_TRUE(second.SubclassControl(Child(u"EDIT", u"two", WS_BORDER, 10, 200, 300, 50)));
  // Never set, the background is the parent's; the text colour is its own.
  EXPECT_EQ(colour.GetBrush(), nullptr);
  colour.SetTextColor(RGB(0, 0, 200));
  UpdateWindow(colour.m_hWnd);
  const COLORREF parentGround = ScreenAt(295, 30);
  colour.SetBkColor(RGB(30, 90, 160));
  HBRUSH firstBrush = colour.GetBrush();
  UpdateWindow(colour.m_hWnd);
  EXPECT_EQ(ScreenAt(295, 30), RGB(30, 90, 160));
  EXPECT_NE(parentGround, RGB(30, 90, 160));
  colour.SetBkColor(RGB(160, 30, 30));
  LOGBRUSH info;
  EXPECT_EQ(GetObjectW(firstBrush, sizeof info, &info), 0) << "the brush it replaced is deleted";
  UpdateWindow(colour.m_hWnd);
  EXPECT_EQ(ScreenAt(295, 30), RGB(160, 30, 30));
  // Taps move the focus; the panel is up while an input-panel edit has it.
  uitest::TapAt(100, 125);
  EXPECT_EQ(GetFocus(), first.m_hWnd);
  EXPECT_TRUE(qk::shell::SipUp());
  uitest::TapAt(100, 225);
  EXPECT_EQ(GetFocus(), second.m_hWnd);
  EXPECT_TRUE(qk::shell::SipUp()) << "lowered by the first, raised again by the second";
  uitest::TapAt(100, 325);
  EXPECT_EQ(GetFocus(), plainWindow);
  EXPECT_FALSE(qk::shell::SipUp());
  // The colour edit hides its caret when it takes the focus.
  uitest::TapAt(100, 35);
  EXPECT_EQ(GetFocus(), colour.m_hWnd);
  EXPECT_FALSE(qk::shell::SipUp());
}
