// The HTML view host dialog run modally over a parent window: an article
// with inline images from the image map, the navigation keys sent to the
// parent, link taps in the viewer (only web addresses reach the browser, as
// one argument, and close the screen), .
#include <gtest/gtest.h>

#include <cstdlib>

#include <functional>

#include "display/display.h"
#include "htmlview/htmlview.h"
#include "framework/afx.h"
#include "framework/wnd.h"
#include "quillet/ui/density.h"
#include "quillet/ui/html_host_dialog.h"
#include "shell/aygshell.h"
#include "shell/shellexec.h"
#include "support/device_fixture.h"
#include "toolkit_support.h"

namespace {

constexpr UINT WM_STEP = WM_APP + 5;

HBITMAP Solid(int w, int h, COLORREF c) {
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  bi.bmiHeader.biWidth = w;
  bi.bmiHeader.biHeight = -h;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HBITMAP bm = CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  auto* px = static_cast<uint32_t*>(bits);
  for (int i = 0; i < w * h; ++i)
    px[i] = (static_cast<uint32_t>(GetRValue(c)) << 16) | (static_cast<uint32_t>(GetGValue(c)) << 8) | GetBValue(c);
  return bm;
}

// The screen's pixels of one colour: their count and bounding box.
struct Found {
  int count = 0;
  RECT box = {10000, 10000, -1, -1};
};
Found FindColour(COLORREF colour, int tolerance = 0) {
  Found f;
  HDC screen = GetDC(nullptr);
  const int w = GetSystemMetrics(SM_CXSCREEN), h = GetSystemMetrics(SM_CYSCREEN);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      COLORREF c = GetPixel(screen, x, y);
      if (std::abs(GetRValue(c) - GetRValue(colour)) <= tolerance &&
          std::abs(GetGValue(c) - GetGValue(colour)) <= tolerance &&
          std::abs(GetBValue(c) - GetBValue(colour)) <= tolerance) {
        ++f.count;
        f.box.left = std::min<LONG>(f.box.left, x);
        f.box.top = std::min<LONG>(f.box.top, y);
        f.box.right = std::max<LONG>(f.box.right, x + 1);
        f.box.bottom = std::max<LONG>(f.box.bottom, y + 1);
      }
    }
  ReleaseDC(nullptr, screen);
  return f;
}

// The screen's owner: records what the dialog sends it.
class CReadingScreen : public CWnd {
 public:
  std::vector<WPARAM> navKeys;
  int closes = 0;
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
    if (message == WM_HTMLHOST_NAVKEY) {
      navKeys.push_back(wParam);
      return 0;
    }
    if (message == WM_CLOSE) {
      ++closes;
      return 0;
    }
    return CWnd::WindowProc(message, wParam, lParam);
  }
};

// The plain view dialog, with steps run inside its modal loop.
class CScriptedHtmlDlg : public CHtmlViewDlg {
 public:
  using CHtmlViewDlg::CHtmlViewDlg;
  std::vector<std::function<void(CScriptedHtmlDlg&)>> steps;
  size_t next = 0;
  std::vector<std::u16string> linkClicks;
  BOOL OnInitDialog() override {
    BOOL result = CHtmlViewDlg::OnInitDialog();
    PostMessage(WM_STEP);
    return result;
  }
  void OnLinkClick(LPCWSTR target) override {
    linkClicks.push_back(target ? target : u"");
    CHtmlViewDlg::OnLinkClick(target);
  }
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
    if (message == WM_STEP) {
      if (next < steps.size()) {
        steps[next++](*this);
        PostMessage(WM_STEP);
      } else {
        EndDialog(IDOK);
      }
      return 0;
    }
    return CHtmlViewDlg::WindowProc(message, wParam, lParam);
  }
};

class HtmlHost : public qtest::DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    qk::gdi::SetScreenConfig(qk::gdi::DefaultScreenConfig());
    qk::SetScreenSize(480, 800);
    qk::display::ConnectScreen();
    ResetScreenDpi();
    InitScreenDpi(0);
    SetTouchFlag(TRUE);
    qk::shell::ClearExecutedCommands();
    ASSERT_TRUE(parent_.CreateEx(0, nullptr, u"Reading", WS_POPUP | WS_VISIBLE, 0, 0, 480, 800, nullptr, nullptr));
    // The reader runs full screen, as its main window makes it.
    SHFullScreen(parent_.m_hWnd, SHFS_HIDETASKBAR);
  }
  void TearDown() override {
    parent_.DestroyWindow();
    qk::shell::ResetShell();
    qk::SetMessageBoxHook(nullptr);
    qk::PumpMessages();
    qk::ClearQuit();
    DeviceTest::TearDown();
  }
  // Taps a box of the screen near its left edge, half-way down.
  static void TapBox(const RECT& r) {
    const int x = r.left + 20, y = (r.top + r.bottom) / 2;
    qk::InjectPointer(WM_LBUTTONDOWN, x, y);
    qk::InjectPointer(WM_LBUTTONUP, x, y);
  }
  CReadingScreen parent_;
};

}  // namespace

TEST_F(HtmlHost, ArticleWithImagesNavigationKeysAndLinkTaps) {
  CScriptedHtmlDlg dlg(&parent_);
  HBITMAP first = Solid(30, 30, RGB(0, 200, 0));
  HBITMAP picture = Solid(120, 80, RGB(220, 30, 30));
  HBITMAP wide = Solid(200, 40, RGB(30, 30, 220));
  Found shownPicture, shownWide, scriptLink, webLink;
  dlg.steps.push_back([&](CScriptedHtmlDlg& d) {
    ASSERT_NE(d.GetHtmlView(0), nullptr);
    ASSERT_NE(d.GetHtmlView(1), nullptr);
    EXPECT_EQ(GetDlgCtrlID(d.GetHtmlView()), HTML_VIEW_CONTROL_ID);
    EXPECT_EQ(::GetParent(d.m_hWnd), parent_.m_hWnd);
    // A second image under a name replaces the first, which is freed.
    EXPECT_TRUE(d.AddBitmap(first, u"pic1"));
    EXPECT_TRUE(d.AddBitmap(picture, u"pic1"));
    BITMAP info;
    EXPECT_EQ(GetObjectW(first, sizeof info, &info), 0) << "the replaced bitmap was deleted";
    EXPECT_TRUE(d.AddBitmap(wide, u"banner"));
    EXPECT_EQ(d.GetImageCount(), 2);
    EXPECT_FALSE(d.AddResourceBitmap(4242, u"none")) << "no such resource";
    d.SetHtml(
        u"<html><body><p style=\"font-size:40px\"><a href=\"file:///etc/passwd\">File link</a></p>"
        u"<p><img src=\"pic1\"> <img src=\"not-there\"></p><p><img src=\"banner\"></p>"
        u"<p style=\"font-size:40px\"><a href=\"h t t p://example.org/story?id=7&amp;x=1\">Web link</a></p>"
        u"</body></html>");
    EXPECT_TRUE(d.LayoutHtmlView(TRUE, TRUE)) << "the page is as wide as the screen";
  });
  dlg.steps.push_back([&](CScriptedHtmlDlg& d) {
    ::UpdateWindow(d.GetHtmlView());
    qk::PumpMessages();
    shownPicture = FindColour(RGB(220, 30, 30));
    shownWide = FindColour(RGB(30, 30, 220));
    // The keys: Right and 3 mean next, Left and 1 previous; Up and Down
    // scroll the view and reach nobody else.
    for (BYTE vk : {BYTE(VK_RIGHT), BYTE('1'), BYTE(VK_DOWN), BYTE('3'), BYTE(VK_LEFT), BYTE(VK_UP)}) {
      keybd_event(vk, 0, 0, 0);
      keybd_event(vk, 0, KEYEVENTF_KEYUP, 0);
    }
  });
  dlg.steps.push_back([&](CScriptedHtmlDlg&) {
    // Links are drawn in the link colour; the first is the script link.
    Found links = FindColour(RGB(0x1a, 0x5f, 0xb4), 8);
    ASSERT_GT(links.count, 50);
    RECT top = links.box;
    top.bottom = top.top + 30;
    scriptLink.box = top;
    TapBox(top);
  });
  dlg.steps.push_back([&](CScriptedHtmlDlg& d) {
    EXPECT_EQ(d.linkClicks.size(), 1u);
    EXPECT_EQ(parent_.closes, 0) << "a link that is no web address does nothing";
    EXPECT_TRUE(qk::shell::ExecutedCommands().empty());
    Found links = FindColour(RGB(0x1a, 0x5f, 0xb4), 8);
    RECT bottom = links.box;
    bottom.top = bottom.bottom - 30;
    TapBox(bottom);
  });
  EXPECT_EQ(dlg.DoModal(), IDOK);
  // The picture at its own size; the image without a bitmap left out.
  EXPECT_EQ(shownPicture.count, 120 * 80);
  EXPECT_EQ(shownPicture.box.right - shownPicture.box.left, 120);
  EXPECT_EQ(shownPicture.box.bottom - shownPicture.box.top, 80);
  EXPECT_EQ(shownWide.count, 200 * 40);
  EXPECT_EQ(parent_.navKeys, (std::vector<WPARAM>{39, 37, 39, 37}));
  ASSERT_EQ(dlg.linkClicks.size(), 2u);
  auto executed = qk::shell::ExecutedCommands();
  ASSERT_EQ(executed.size(), 1u);
  EXPECT_EQ(executed[0].file, u"http://example.org/story?id=7&x=1") << "one argument, spaced scheme joined";
  EXPECT_EQ(executed[0].parameters, u"");
  EXPECT_EQ(executed[0].verb, u"Open");
  EXPECT_EQ(parent_.closes, 1) << "the screen is closed after the browser opened";
  // The dialog's images are its own and go with it; the views too.
  BITMAP info;
  EXPECT_NE(GetObjectW(picture, sizeof info, &info), 0) << "kept until the dialog object goes";
}

TEST_F(HtmlHost, OnlyWebAddressesReachTheBrowser) {
  struct CProbe : CHtmlHostDialog {
    CProbe() : CHtmlHostDialog(IDD_HTML_VIEW, nullptr, FALSE) {}
  } probe;
  std::vector<std::u16string> boxes;
  qk::SetMessageBoxHook([&](HWND, const std::u16string& text, const std::u16string& caption, UINT) {
    boxes.push_back(caption + u": " + text);
    return IDOK;
  });
  for (const char16_t* target :
       {u"javascript:alert(1)", u"file:///etc/passwd", u"mailto:a@b.example", u"ftp://files.example/x",
        u"http://", u"http:///path", u"http://a.example/\"; rm -rf ~", u"http://a.example/x y",
        u"http://a.example/\nsecond", u"", u"see http://inside.example later"})
    probe.OnLinkClick(target);
  EXPECT_TRUE(qk::shell::ExecutedCommands().empty());
  setenv("QUILLET_URL_OPENER", "true", 1);
  probe.OnLinkClick(u"HTTPS://Secure.Example/Path?q=1");
  probe.OnLinkClick(u"h t t p://spaced.example/");
  auto executed = qk::shell::ExecutedCommands();
  ASSERT_EQ(executed.size(), 2u);
  EXPECT_EQ(executed[0].file, u"HTTPS://Secure.Example/Path?q=1");
  EXPECT_EQ(executed[1].file, u"http://spaced.example/");
  EXPECT_TRUE(boxes.empty());
  // Without a browser to hand it to, the user is told.
  setenv("QUILLET_URL_OPENER", "no-such-url-opener", 1);
  probe.OnLinkClick(u"http://a.example/");
  unsetenv("QUILLET_URL_OPENER");
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].rfind(u"Error: ", 0), 0u);
  boxes.clear();
  // Without a view nothing is shown and nothing fails.
  probe.SetHtml(u"<p>x</p>");
  EXPECT_FALSE(probe.LayoutHtmlView(TRUE, TRUE));
  EXPECT_FALSE(probe.ResizeHtmlView());
  // Images it was given are its own: deleted with it.
  HBITMAP a = Solid(4, 4, RGB(1, 2, 3));
  EXPECT_TRUE(probe.AddBitmap(a, u"a"));
  EXPECT_TRUE(probe.AddBitmap(a, u"a")) << "the same bitmap again is kept";
  BITMAP info;
  EXPECT_NE(GetObjectW(a, sizeof info, &info), 0);
  probe.RemoveAllImages();
  EXPECT_EQ(GetObjectW(a, sizeof info, &info), 0);
  EXPECT_EQ(probe.GetImageCount(), 0);
}
