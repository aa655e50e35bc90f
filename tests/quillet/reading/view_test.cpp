// The reading view run modally in-process over a stand-in for the headline
// list, with the controlled clock, synthetic taps and keys, scripted
// message boxes and real picture files in the channel data folder; on the
// touch face (480 x 800 at 192 dpi) and the key face (240 x 320 at 96 dpi).
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/settings.h"
#include "display/display.h"
#include "gdi/image_codec.h"
#include "gdi/surface.h"
#include "kernel/resource.h"
#include "quillet/feeds/item_store.h"
#include "quillet/refresh/refresh_state.h"
#include "quillet/res/resources.h"
#include "htmlview/htmlview.h"
#include "quillet/reading/news_read_dlg.h"
#include "quillet/reading/news_read_menu_dlg.h"
#include "quillet/screens/send_mail.h"
#include "quillet/frame/reader_app.h"
#include "quillet/screens/screen_messages.h"
#include "quillet/ui/density.h"
#include "quillet/ui/html_host_dialog.h"
#include "quillet/ui/image_button_bar.h"
#include "shell/aygshell.h"
#include "shell/shellexec.h"
#include "support/device_fixture.h"
#include "support/pictures.h"
#include "user/idle.h"
#include "user/input.h"
#include "user/user.h"

namespace {

constexpr UINT WM_STEP = WM_APP + 7;
constexpr COLORREF kLogo = RGB(250, 130, 10), kRead = RGB(10, 200, 40), kUnread = RGB(20, 40, 230),
                   kError = RGB(230, 0, 120), kLink = RGB(0x1a, 0x5f, 0xb4);
const COLORREF kPictures[] = {RGB(200, 30, 30), RGB(30, 160, 160), RGB(150, 60, 200)};

std::string Png(int w, int h, COLORREF c) {
  std::vector<uint32_t> px(size_t(w * h), (uint32_t(GetRValue(c)) << 16) | (uint32_t(GetGValue(c)) << 8) | GetBValue(c));
  std::vector<uint8_t> out;
  qk::gdi::EncodePng(w, h, px, &out);
  return std::string(out.begin(), out.end());
}

// Registers a resource of the program; its bytes live for the process.
void Register(const char16_t* type, WORD typeId, WORD id, std::string bytes) {
  static std::deque<std::string> keep;
  keep.push_back(std::move(bytes));
  qk::ResourceEntry e{type, typeId, id, nullptr, keep.back().data(), keep.back().size()};
  qk::RegisterResources(nullptr, &e, 1);
}

// A 24-bit bitmap resource of one colour.
std::string Bitmap(int size, COLORREF c) {
  const int stride = (size * 3 + 3) & ~3;
  std::string data(40 + size_t(stride * size), '\0');
  BITMAPINFOHEADER h{};
  h.biSize = 40, h.biWidth = size, h.biHeight = size, h.biPlanes = 1, h.biBitCount = 24;
  std::memcpy(data.data(), &h, 40);
  for (int y = 0; y < size; ++y)
    for (int x = 0; x < size; ++x) {
      char* p = data.data() + 40 + y * stride + x * 3;
      p[0] = char(GetBValue(c)), p[1] = char(GetGValue(c)), p[2] = char(GetRValue(c));
    }
  return data;
}

struct Found {
  int count = 0;
  RECT box = {100000, 100000, -1, -1};
};
Found FindColour(COLORREF colour, int tolerance = 0) {
  Found f;
  HDC screen = GetDC(nullptr);
  for (int y = 0; y < GetSystemMetrics(SM_CYSCREEN); ++y)
    for (int x = 0; x < GetSystemMetrics(SM_CXSCREEN); ++x) {
      COLORREF c = GetPixel(screen, x, y);
      if (std::abs(GetRValue(c) - GetRValue(colour)) > tolerance || std::abs(GetGValue(c) - GetGValue(colour)) >
          tolerance || std::abs(GetBValue(c) - GetBValue(colour)) > tolerance)
        continue;
      ++f.count;
      f.box = {std::min<LONG>(f.box.left, x), std::min<LONG>(f.box.top, y), std::max<LONG>(f.box.right, x + 1),
               std::max<LONG>(f.box.bottom, y + 1)};
    }
  ReleaseDC(nullptr, screen);
  return f;
}

// The headline list's side of Previous and Next over a few records.
class CFakeSource : public CArticleSource {
 public:
  std::vector<ArticleInfo> rows;
  std::vector<std::string> calls;
  BOOL MoveArticle(ArticleInfo& info, int step, const CString& link, const CString& title) override {
    calls.push_back(qk::ToUtf8(link.str()) + (step > 0 ? " +" : " -") + (title == link ? " (link as title)" : ""));
    if (rows.empty()) return FALSE;
    int at = -1;
    for (int i = 0; i < int(rows.size()); ++i)
      if (rows[i].strLink == link || (!title.IsEmpty() && rows[i].strTitle == title)) at = i;
    at += step;
    if (at < 0) at = int(rows.size()) - 1;
    if (at >= int(rows.size())) at = 0;
    info = rows[size_t(at)];
    return TRUE;
  }
};

// The view with steps run one by one inside its modal loop.
class CScriptedRead : public CNewsReadDlg {
 public:
  using CNewsReadDlg::CNewsReadDlg;
  std::vector<std::function<void(CScriptedRead&)>> steps;
  size_t next = 0;
  BOOL OnInitDialog() override {
    BOOL result = CNewsReadDlg::OnInitDialog();
    PostMessage(WM_STEP);
    return result;
  }
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
    if (message == WM_STEP) {
      if (next < steps.size()) {
        steps[next++](*this);
        if (::IsWindow(m_hWnd)) PostMessage(WM_STEP);
      } else {
        EndDialog(IDABORT);
      }
      return 0;
    }
    return CNewsReadDlg::WindowProc(message, wParam, lParam);
  }
  HBITMAP Image(const char16_t* name) const { return GetHtmlHost()->GetImage(name); }
};

class ReadingView : public qtest::DeviceTest {
 protected:
  void Use(int width, int height, int dpi, BOOL touch) {
    qk::gdi::ScreenConfig cfg = qk::gdi::DefaultScreenConfig();
    cfg.width = width;
    cfg.height = height;
    cfg.dpi = dpi;
    qk::gdi::SetScreenConfig(cfg);
    qk::SetScreenSize(width, height);
    qk::display::ConnectScreen();
    ResetScreenDpi();
    InitScreenDpi(0);
    SetTouchFlag(touch);
    ResetCachedPaths();
    InitImagingFactory();
    RegisterQuilletResources();
    // The marks and the filler, in colours of their own.
    Register(nullptr, 2, IDB_NEWS_READ, Bitmap(16, kRead));
    Register(nullptr, 2, IDB_NEWS_UNREAD, Bitmap(16, kUnread));
    Register(nullptr, 2, IDB_NEWS_ERROR, Bitmap(16, kError));
    Register(nullptr, 2, IDB_NEWS_FILLER, Bitmap(1, RGB(255, 255, 255)));
    qk::FreezeClock(1796726400000LL, 1000);
    qk::shell::ClearExecutedCommands();
    folder_ = ChannelDataFolder();
    ASSERT_TRUE(parent_.CreateEx(0, nullptr, u"Headlines", WS_POPUP | WS_VISIBLE, 0, 0, width, height, nullptr,
                                 nullptr));
  }
  void TearDown() override {
    if (parent_.m_hWnd) parent_.DestroyWindow();
    qk::shell::ResetShell();
    qk::shell::SetSoftKeyPopupHandler(nullptr);
    qk::SetMessageBoxHook(nullptr);
    qk::PumpMessages();
    qk::ClearQuit();
    ReleaseImagingFactory();
    qk::UseRealClock();
    SetTouchFlag(TRUE);
    qk::gdi::SetScreenConfig(qk::gdi::DefaultScreenConfig());
    qk::SetScreenSize(480, 800);
    ResetScreenDpi();
    DeviceTest::TearDown();
  }
  void WriteData(const std::u16string& name, const std::string& bytes) {
    WriteDeviceFile((folder_.str() + u"\\" + name).c_str(), bytes);
  }
  // Two articles of channel 7, the first with a logo, pictures and a long
  // title.
  void MakeArticles() {
    WriteData(u"Ch007-Logo.img", Png(120, 30, kLogo));
    for (int i = 0; i < 3; ++i) WriteData(u"Ch007-p" + std::u16string(1, u'1' + i) + u".png", Png(48, 36, kPictures[i]));
    ArticleInfo a;
    a.nChannel = 7;
    a.strChannelTitle = u"Seven News";
    a.strDate = u"2026-12-08 09:15:00";
    a.strTitle = u"A long title about the council's plans for the harbour front, the new ferry and the winter market";
    a.strLink = u"http://news.example/2";
    a.strBody =
        u"<p>Pictures: <img src=\"Ch007-p1.png\"> <img src='Ch007-p2.png'> <img src=Ch007-p3.png "
        u"onerror=\"x()\"></p><p style=\"font-size:40px\"><a href=\"http://example.org/story\">Story</a></p>"
        u"<script>document.write('gone')</script><p>The rest of the story, told at some length so that the page "
        u"has a paragraph that wraps over several lines.</p>";
    source_.rows.push_back(a);
    a.strTitle = u"Third";
    a.strLink = u"http://news.example/3";
    a.strBody = u"<p>No pictures</p>";
    a.bWasRead = TRUE;
    source_.rows.push_back(a);
  }
  static void Advance(int ms) {
    qk::AdvanceClock(ms);
    qk::PumpMessages();
  }
  static void Settle(CScriptedRead& d) {
    if (HWND v = d.GetHtmlHost()->GetHtmlView()) ::UpdateWindow(v);
    qk::PumpMessages();
  }
  static void Key(BYTE vk) {
    keybd_event(vk, 0, 0, 0);
    keybd_event(vk, 0, KEYEVENTF_KEYUP, 0);
    qk::PumpMessages();
  }
  void Picture(const std::string& name) {
    ASSERT_TRUE(qk::display::WriteScreenPng(qtest::PicturesDir() + "/reading-" + name + ".png"));
  }

  CWnd parent_;
  CFakeSource source_;
  CString folder_;
};

}  // namespace

TEST_F(ReadingView, TouchFaceShowsThePageAndStepsThroughTheListWithBarAndKeysUntilALinkIsTapped) {
  Use(480, 800, 192, TRUE);
  MakeArticles();
  // Before the first row: the channel's error item, with 13 pictures and a
  // link in its content.
  ArticleInfo error = source_.rows[0];
  error.strTitle = u"Error 404 while downloading: Tap for details.";
  error.strLink = ERROR_ITEM_LINK;
  error.strBody = u"<p style=\"font-size:40px\"><a href=\"http://example.org/help\">Help</a></p>";
  for (int i = 1; i <= 13; ++i) {
    CString name;
    name.Format(u"Ch007-e%02d.png", i);
    WriteData(name.str(), Png(4, 4, RGB(10 * i, 100, 100)));
    error.strBody += u"<img src=\"" + name + u"\">";
  }
  source_.rows.insert(source_.rows.begin(), error);
  CScriptedRead dlg(source_.rows[1], &parent_, &source_);
  Found logo, pictures[3], unread, read, errorMarks;
  HBITMAP logoBitmap = nullptr, readMark = nullptr;
  dlg.steps.push_back([&](CScriptedRead& d) {
    EXPECT_TRUE(d.IsFullScreen()) << "full-screen reading by default on a touch screen";
    EXPECT_FALSE(d.IsPageShown()) << "the page waits for its timer";
    Advance(100);
    ASSERT_TRUE(d.IsPageShown());
    Settle(d);
    logo = FindColour(kLogo);
    for (int i = 0; i < 3; ++i) pictures[i] = FindColour(kPictures[i]);
    unread = FindColour(kUnread);
    EXPECT_EQ(d.GetContentImageCount(), 3);
    logoBitmap = d.Image(u"logo");
    readMark = d.Image(u"news-read");
    EXPECT_EQ(d.GetPageText().Find(u"onerror"), -1);
    EXPECT_EQ(d.GetPageText().Find(u"gone"), -1);
    Picture("480x800-fullscreen");
  });
  // Out of full screen for a while: the bar shows and its Next button moves
  // on; the logo and the marks stay, the pictures are the new page's.
  dlg.steps.push_back([&](CScriptedRead& d) {
    d.SendMessage(WM_HTMLHOST_NAVKEY, VK_HOME, 0);
    EXPECT_FALSE(d.IsFullScreen());
    Settle(d);
    Picture("480x800");
    RECT bar = d.GetButtonBar()->GetBarRect();
    POINT next{(bar.left + bar.right) * 7 / 10, (bar.top + bar.bottom) / 2};
    ::ClientToScreen(d.m_hWnd, &next);
    qk::InjectPointer(WM_LBUTTONDOWN, next.x, next.y);
    qk::InjectPointer(WM_LBUTTONUP, next.x, next.y);
    qk::PumpMessages();
    EXPECT_EQ(d.GetArticle().strTitle, CString(u"Third"));
    Advance(100);
    Settle(d);
    read = FindColour(kRead);
    EXPECT_EQ(d.GetContentImageCount(), 0);
    EXPECT_EQ(d.Image(u"newscontent01"), nullptr) << "the pictures of the page before are freed";
    EXPECT_EQ(d.Image(u"logo"), logoBitmap) << "the logo is not loaded again";
    EXPECT_EQ(d.Image(u"news-read"), readMark);
    Advance(6000);
    EXPECT_TRUE(d.IsFullScreen()) << "six seconds later full screen is back";
  });
  // Next wraps round to the error item: red title, its own marks, 12
  // pictures and the filler; the Left and Right keys step back and forth.
  dlg.steps.push_back([&](CScriptedRead& d) {
    d.SendMessage(WM_HTMLHOST_NAVKEY, VK_RIGHT, 0);
    Advance(100);
    Settle(d);
    errorMarks = FindColour(kError);
    EXPECT_EQ(d.GetContentImageCount(), 12);
    EXPECT_EQ(d.Image(u"newscontent13"), nullptr);
    EXPECT_NE(d.GetPageText().Find(u"<img src=\"newscontent12\"><img src=\"newsfiller\">"), -1);
    EXPECT_NE(d.GetPageText().Find(u"<font color=\"#FF0000\">Error 404 while downloading</font>"), -1);
    Key(VK_LEFT);
    Advance(100);
    EXPECT_EQ(d.GetArticle().strTitle, CString(u"Third"));
    Key(VK_RIGHT);
    Advance(100);
    Settle(d);
    EXPECT_EQ(d.GetArticle().strLink, CString(ERROR_ITEM_LINK));
    // The list emptied under the view: it stays on its article.
    source_.rows.clear();
    d.MoveArticle(1);
    EXPECT_EQ(d.GetArticle().strLink, CString(ERROR_ITEM_LINK));
    // A tap on the content's link hands the joined address to the browser
    // and closes the view.
    Found link = FindColour(kLink, 8);
    ASSERT_GT(link.count, 50);
    setenv("QUILLET_URL_OPENER", "true", 1);
    qk::InjectPointer(WM_LBUTTONDOWN, link.box.left + 10, (link.box.top + link.box.bottom) / 2);
    qk::InjectPointer(WM_LBUTTONUP, link.box.left + 10, (link.box.top + link.box.bottom) / 2);
    qk::PumpMessages();
  });
  EXPECT_EQ(dlg.DoModal(), IDCANCEL);
  EXPECT_EQ(logo.box.right - logo.box.left, 120);
  EXPECT_EQ(logo.count, 120 * 30);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(pictures[i].count, 48 * 36) << "picture " << i;
  EXPECT_EQ(unread.count, 16 * 16);
  EXPECT_EQ(read.count, 16 * 16);
  EXPECT_EQ(errorMarks.count, 16 * 16);
  EXPECT_EQ(source_.calls.front(), "http://news.example/2 + (link as title)");
  auto executed = qk::shell::ExecutedCommands();
  ASSERT_EQ(executed.size(), 1u);
  EXPECT_EQ(executed[0].file, u"http://example.org/help");
  EXPECT_TRUE(executed[0].started);
  unsetenv("QUILLET_URL_OPENER");
  EXPECT_FALSE(dlg.IsDeleteRequested());
}

TEST_F(ReadingView, KeyFaceSoftKeysMenuFontSizesAndDelete) {
  Use(240, 320, 96, FALSE);
  auto app = std::make_unique<CReaderApp>();
  MakeArticles();
  {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, QUILLET_SETTINGS_KEY, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                              nullptr),
              ERROR_SUCCESS);
    DWORD three = 3;
    RegSetValueExW(key, u"HtmlFontSize", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&three), sizeof three);
    RegCloseKey(key);
  }
  std::vector<std::u16string> boxes;
  int answer = IDNO;
  qk::SetMessageBoxHook([&](HWND, const std::u16string& text, const std::u16string& caption, UINT) {
    boxes.push_back(caption + u": " + text);
    return answer;
  });
  UINT choose = 0;
  std::vector<UINT> checked;
  qk::shell::SetSoftKeyPopupHandler([&](HWND, HMENU popup, const RECT&) {
    checked.clear();
    for (UINT id : {32854u, 32855u, 32856u, 32857u, 32859u})
      if (GetMenuState(popup, id, MF_BYCOMMAND) & MF_CHECKED) checked.push_back(id);
    return choose;
  });
  CScriptedRead dlg(source_.rows[0], &parent_, &source_);
  Found pictures;
  dlg.steps.push_back([&](CScriptedRead& d) {
    EXPECT_FALSE(d.IsFullScreen());
    EXPECT_EQ(d.GetButtonBar(), nullptr);
    ASSERT_NE(d.GetMenuBar(), nullptr);
    EXPECT_EQ(app->m_nReadingFontSize, 3) << "the stored size is the application's";
    Advance(100);
    Settle(d);
    pictures = FindColour(kPictures[0]);
    Picture("240x320");
    // Menu: the stored size is marked; "Next Article" moves on.
    choose = ID_NEXT_ARTICLE;
    ASSERT_TRUE(qk::shell::PressSoftKey(2));
    qk::PumpMessages();
    EXPECT_EQ(checked, (std::vector<UINT>{32855u}));
    EXPECT_EQ(d.GetArticle().strTitle, CString(u"Third"));
    Advance(100);
    Key(VK_LEFT);
    Advance(100);
    EXPECT_EQ(d.GetArticle().strLink, CString(u"http://news.example/2"));
    Key(VK_RETURN);  // does nothing
    // "Smallest Font": applied, marked and stored.
    choose = 32859;
    ASSERT_TRUE(qk::shell::PressSoftKey(2));
    qk::PumpMessages();
    EXPECT_EQ(app->m_nReadingFontSize, 0);
    EXPECT_EQ(ReadSettingInt(u"Settings", u"HtmlFontSize", -1), 0);
    choose = 0;
    ASSERT_TRUE(qk::shell::PressSoftKey(2));
    EXPECT_EQ(checked, (std::vector<UINT>{32859u}));
    // Delete declined: nothing; confirmed: the view closes asking for it.
    d.SendMessage(WM_COMMAND, ID_DELETE_ITEM);
    EXPECT_FALSE(d.IsDeleteRequested());
    answer = IDYES;
    d.SendMessage(WM_COMMAND, ID_DELETE_ITEM);
    qk::PumpMessages();
  });
  EXPECT_EQ(dlg.DoModal(), IDCANCEL);
  EXPECT_TRUE(dlg.IsDeleteRequested());
  EXPECT_EQ(dlg.GetArticle().strLink, CString(u"http://news.example/2")) << "the article shown last";
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0], u"Confirm Delete: Are you sure you want to delete this item?");
  EXPECT_EQ(pictures.count, 48 * 36);

  // The "Headlines" soft key leaves the view with Cancel, not asking to
  // delete anything.
  CScriptedRead again(source_.rows[1], &parent_, &source_);
  again.steps.push_back([&](CScriptedRead&) {
    ASSERT_TRUE(qk::shell::PressSoftKey(1));
    qk::PumpMessages();
  });
  EXPECT_EQ(again.DoModal(), IDCANCEL);
  EXPECT_FALSE(again.IsDeleteRequested());
  app.reset();
}

namespace {

// The finger on the screen: strokes of points with the controlled clock
// moving on between them.
struct Finger {
  static void Press(int x, int y) {
    qk::InjectPointer(WM_LBUTTONDOWN, x, y);
    qk::PumpMessages();
  }
  static void MoveTo(int x, int y, int ms) {
    qk::AdvanceClock(ms);
    qk::InjectPointer(WM_MOUSEMOVE, x, y);
    qk::PumpMessages();
  }
  static void Release(int x, int y) {
    qk::InjectPointer(WM_LBUTTONUP, x, y);
    qk::PumpMessages();
  }
  // From (x0, y0) to (x1, y1) in n equal moves, ms apart.
  static void Stroke(int x0, int y0, int x1, int y1, int n, int ms) {
    Press(x0, y0);
    for (int i = 1; i <= n; ++i) MoveTo(x0 + (x1 - x0) * i / n, y0 + (y1 - y0) * i / n, ms);
    Release(x1, y1);
  }
  static void Tap(int x, int y) {
    Press(x, y);
    Release(x, y);
  }
};

// The page's rectangle in its host.
RECT PageRect(CNewsReadDlg& d) {
  HWND view = d.GetHtmlHost()->GetHtmlView();
  RECT r{};
  ::GetWindowRect(view, &r);
  POINT tl{r.left, r.top}, br{r.right, r.bottom};
  ::ScreenToClient(d.GetHtmlHost()->m_hWnd, &tl);
  ::ScreenToClient(d.GetHtmlHost()->m_hWnd, &br);
  return {tl.x, tl.y, br.x, br.y};
}

int LayoutHeight(CNewsReadDlg& d) {
  return int(::SendMessageW(d.GetHtmlHost()->GetHtmlView(), DTM_LAYOUTHEIGHT, 0, 0));
}

void StoreFontSize(DWORD size) {
  HKEY key = nullptr;
  RegCreateKeyExW(HKEY_CURRENT_USER, QUILLET_SETTINGS_KEY, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
  RegSetValueExW(key, u"HtmlFontSize", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&size), sizeof size);
  RegCloseKey(key);
}

}  // namespace

TEST_F(ReadingView, TouchFingerScrollsWithMomentumTurnsBySwipesOnlyAndPagesWithTheKeys) {
  Use(480, 800, 192, TRUE);
  MakeArticles();
  // A long article first (several screens), the short one after it.
  for (int i = 0; i < 60; ++i)
    source_.rows[0].strBody += u"<p>Paragraph " + CString(std::to_string(i).c_str()) + u" of the long story.</p>";
  const int line = 800 + 4;  // where the end of the page rests
  CScriptedRead dlg(source_.rows[0], &parent_, &source_);
  auto title = [&] { return qk::ToUtf8(dlg.GetArticle().strTitle.str()).substr(0, 5); };
  dlg.steps.push_back([&](CScriptedRead& d) {
    Advance(100);
    Settle(d);
    const RECT start = PageRect(d);
    ASSERT_GT(start.bottom - start.top, 3 * 800) << "the page is as tall as its text";
    // Taps anywhere, also after a stroke that ended far away, never turn
    // the page nor move it.
    for (POINT p : {POINT{240, 400}, POINT{5, 5}, POINT{20, 790}, POINT{470, 100}, POINT{2, 400}}) {
      Finger::Tap(p.x, p.y);
      Advance(100);
      EXPECT_EQ(title(), "A lon") << "tap at " << p.x << "," << p.y;
    }
    EXPECT_EQ(PageRect(d).top, start.top);
    Finger::Stroke(470, 300, 470, 600, 10, 30);  // a slow drag down at the right edge
    for (int i = 0; i < 20; ++i) Advance(50);
    Finger::Tap(2, 600);
    Advance(100);
    EXPECT_EQ(title(), "A lon") << "a tap far from where the last stroke ended";
    // Swipes of several lengths and speeds: leftward the next article,
    // rightward the previous one; a diagonal does neither.
    Finger::Press(400, 500);
    for (int x = 370; x >= 250; x -= 30) Finger::MoveTo(x, 500, 20);
    Picture("480x800-mid-swipe");
    Finger::Release(250, 500);
    Advance(100);
    EXPECT_EQ(title(), "Third");
    d.SendMessage(WM_HTMLHOST_NAVKEY, VK_LEFT, 0);
    Advance(100);
    struct Swipe { int x0, x1, dy, n, ms; const char* after; };
    for (const Swipe& s : {Swipe{400, 300, 0, 3, 10, "Third"}, Swipe{60, 440, 30, 12, 40, "A lon"},
                           Swipe{450, 30, -40, 20, 5, "Third"}, Swipe{200, 280, 10, 2, 200, "A lon"}}) {
      Finger::Stroke(s.x0, 400, s.x1, 400 + s.dy, s.n, s.ms);
      Advance(100);
      EXPECT_EQ(title(), s.after) << s.x0 << " to " << s.x1;
    }
    Finger::Stroke(100, 200, 300, 400, 10, 20);
    Advance(100);
    EXPECT_EQ(title(), "A lon") << "a diagonal stroke turns nothing";
    Settle(d);
  });
  // A slow drag follows the finger; Δtick 0 gives no momentum; a flick goes
  // on and slows down; past the end it bounces back.
  dlg.steps.push_back([&](CScriptedRead& d) {
    const int top0 = PageRect(d).top;
    Finger::Press(240, 600);
    for (int y = 570; y >= 300; y -= 30) Finger::MoveTo(240, y, 0);
    Picture("480x800-mid-drag");
    Finger::Release(240, 300);
    EXPECT_EQ(PageRect(d).top, top0 - 300);
    for (int i = 0; i < 10; ++i) Advance(70);
    EXPECT_EQ(PageRect(d).top, top0 - 300) << "moves within one tick leave no momentum";
    Finger::Stroke(240, 600, 240, 450, 5, 10);
    const int released = PageRect(d).top;
    EXPECT_EQ(released, top0 - 450);
    Advance(70);
    const int step1 = released - PageRect(d).top;
    Advance(70);
    const int step2 = PageRect(d).top - (released - step1);
    EXPECT_GT(step1, 100) << "a flick goes on";
    EXPECT_LT(-step2, step1) << "and slows down";
    for (int i = 0; i < 100; ++i) Advance(70);
    const int rest = PageRect(d).top;
    Advance(700);
    EXPECT_EQ(PageRect(d).top, rest) << "the momentum stops";
    EXPECT_GE(PageRect(d).bottom, line) << "the momentum stopped within the page";
    // Hard flicks down past the top: a gap opens, then four bounce steps
    // close it.
    for (int k = 0; k < 4; ++k) Finger::Stroke(240, 100, 240, 700, 6, 5);
    for (int i = 0; i < 30 && PageRect(d).top < 1; ++i) Advance(70);
    ASSERT_GE(PageRect(d).top, 1) << "the flick ran past the start";
    Picture("480x800-bounce");
    for (int i = 0; i < 40; ++i) Advance(10);
    EXPECT_LE(PageRect(d).top, 0);
    EXPECT_GE(PageRect(d).top, -2);
    // And up past the end: it comes back to rest on the bottom line.
    for (int k = 0; k < 8; ++k) Finger::Stroke(240, 700, 240, 100, 6, 5);
    for (int i = 0; i < 200; ++i) Advance(50);
    EXPECT_EQ(PageRect(d).bottom, line);
  });
  // The keys page by a screenful, never past either end; the corner tab
  // shows the bar without turning the page.
  dlg.steps.push_back([&](CScriptedRead& d) {
    const int page = 800 + 4 - GetSystemMetrics(SM_CYHSCROLL);
    for (int i = 0; i < 30; ++i) Key(VK_UP);
    EXPECT_EQ(PageRect(d).top, 0);
    Key(VK_DOWN);
    EXPECT_EQ(PageRect(d).top, -page);
    for (int i = 0; i < 30; ++i) Key(VK_DOWN);
    EXPECT_EQ(PageRect(d).bottom, line);
    Finger::Tap(476, 796);
    EXPECT_FALSE(d.IsFullScreen()) << "the corner tab shows the bar";
    EXPECT_EQ(title(), "A lon");
    // The short article, laid out above the bar (shorter than the screen):
    // paging keeps it at its first line.
    d.SendMessage(WM_HTMLHOST_NAVKEY, VK_RIGHT, 0);
    Advance(100);
    for (WPARAM k : {VK_DOWN, VK_DOWN, VK_UP, VK_DOWN}) {
      Key(BYTE(k));
      EXPECT_LE(PageRect(d).top, 0) << "no gap above the first line";
    }
    d.EndDialog(IDOK);
  });
  dlg.DoModal();
}

// The page's layout height when the screen was first shown (the display's
// idle hook) while a view is watched.
int g_shownHeight = -1;
CNewsReadDlg* g_watched = nullptr;
qk::IdleHook g_otherHook = nullptr;
DWORD WatchShown() {
  if (g_watched && g_shownHeight < 0) g_shownHeight = LayoutHeight(*g_watched);
  return g_otherHook ? g_otherHook() : INFINITE;
}

// A long article shows its first screen before the rest is laid out; then
// the page is as tall as the whole article, and the keys page through all
// of it, also after turning to another article and back.
TEST_F(ReadingView, ALongArticleShowsItsFirstScreenFirstAndThenTakesTheHeightOfItsWholeText) {
  Use(480, 800, 192, TRUE);
  MakeArticles();
  for (int i = 0; i < 200; ++i)
    source_.rows[0].strBody += u"<p>Paragraph " + CString(std::to_string(i).c_str()) +
                               u" of the long story, with <b>bold</b> and <i>italic</i> words and enough text to "
                               u"wrap over a few lines.</p>";
  const int line = 800 + 4;  // where the end of the page rests
  CScriptedRead dlg(source_.rows[0], &parent_, &source_);
  auto whole = [&](CScriptedRead& d, const char* when) {
    const int height = LayoutHeight(d);
    EXPECT_GT(height, 20 * 800) << when;
    const RECT r = PageRect(d);
    EXPECT_EQ(r.bottom - r.top, GetSystemMetrics(SM_CYHSCROLL) + height + 40 * 192 / 96) << when;
    for (int i = 0; i < 200 && PageRect(d).bottom > line; ++i) Key(VK_DOWN);
    EXPECT_EQ(PageRect(d).bottom, line) << when;
    EXPECT_LT(PageRect(d).top, -20 * 800) << when;
  };
  dlg.steps.push_back([&](CScriptedRead& d) {
    g_shownHeight = -1;
    g_watched = &d;
    g_otherHook = qk::SetIdleHook(WatchShown);
    Advance(100);
    qk::SetIdleHook(g_otherHook);
    g_watched = nullptr;
    EXPECT_GT(g_shownHeight, 800) << "the first screen was shown";
    EXPECT_LT(g_shownHeight, LayoutHeight(d) / 2) << "before the whole article was laid out";
    Settle(d);
    whole(d, "opened");
    d.SendMessage(WM_HTMLHOST_NAVKEY, VK_RIGHT, 0);
    Advance(100);
    EXPECT_LT(LayoutHeight(d), 800) << "the short article";
    d.SendMessage(WM_HTMLHOST_NAVKEY, VK_LEFT, 0);
    Advance(100);
    Settle(d);
    whole(d, "back to it");
    d.EndDialog(IDOK);
  });
  dlg.DoModal();
}

TEST_F(ReadingView, FontSizesFromTheMenuChangeTheLayoutAndAreKeptAcrossStarts) {
  for (bool touch : {true, false}) {
    SCOPED_TRACE(touch ? "touch" : "key device");
    if (touch) Use(480, 800, 192, TRUE);
    else Use(240, 320, 96, FALSE);
    const std::string face = touch ? "480x800" : "240x320";
    auto app = std::make_unique<CReaderApp>();
    source_.rows.clear();
    MakeArticles();
    int heights[5] = {};
    CScriptedRead dlg(source_.rows[0], &parent_, &source_);
    dlg.steps.push_back([&](CScriptedRead& d) {
      EXPECT_EQ(CNewsReadDlg::GetReadingFontSize(), 2) << "nothing stored: medium";
      Advance(100);
      const UINT commands[] = {ID_FONT_SMALLEST, ID_FONT_SMALLER, ID_FONT_MEDIUM, ID_FONT_LARGER, ID_FONT_LARGEST};
      for (int size = 0; size < 5; ++size) {
        d.SendMessage(WM_COMMAND, commands[size]);
        Settle(d);
        heights[size] = LayoutHeight(d);
        if (touch) {
          EXPECT_GE(PageRect(d).bottom - PageRect(d).top, heights[size]) << "the whole page can be scrolled to";
        }
        if (size % 2 == 0) Picture(face + "-font" + std::to_string(size));
      }
      EXPECT_EQ(ReadSettingInt(u"Settings", u"HtmlFontSize", -1), 4);
      if (!touch) return;
      // The bar's menu button opens the menu over the view.
      d.SendMessage(WM_HTMLHOST_NAVKEY, VK_HOME, 0);
      Settle(d);
      RECT bar = d.GetButtonBar()->GetBarRect();
      POINT menu{bar.right - 20, (bar.top + bar.bottom) / 2};
      ::ClientToScreen(d.m_hWnd, &menu);
      Finger::Tap(menu.x, menu.y);
      // The menu runs from here until a size is chosen: the next step runs
      // inside it, once its timer is due.
      ::SetTimer(d.m_hWnd, 77, 10, [](HWND view, UINT, UINT_PTR id, DWORD) {
        ::KillTimer(view, id);
        ::PostMessageW(view, WM_STEP, 0, 0);
      });
      Advance(10);
    });
    // Inside the menu: the size in use is marked; "Smaller Font" closes the
    // menu, then the view applies and stores it.
    dlg.steps.push_back([&](CScriptedRead& d) {
      if (!touch) return;
      CNewsReadMenuDlg* menu = d.GetReadingMenu();
      ASSERT_NE(menu, nullptr);
      CTouchMenuList* list = menu->GetList();
      ASSERT_EQ(list->GetItemCount(), 5);
      for (int i = 0; i < 5; ++i) EXPECT_EQ(list->GetItem(i)->m_nCheckValue != 0, i == 4) << i;
      EXPECT_EQ(list->GetItem(1)->m_strText, CString(u"Smaller Font"));
      qk::PumpMessages();
      ::UpdateWindow(menu->m_hWnd);
      Picture("480x800-menu");
      const int pitch = list->GetRowPitch();
      POINT smaller{240, pitch + pitch / 2};
      ::ClientToScreen(menu->m_hWnd, &smaller);
      Finger::Tap(smaller.x, smaller.y);
      EXPECT_EQ(CNewsReadDlg::GetReadingFontSize(), 1);
      EXPECT_EQ(ReadSettingInt(u"Settings", u"HtmlFontSize", -1), 1);
      Settle(d);
      EXPECT_EQ(LayoutHeight(d), heights[1]);
      Picture("480x800-after-menu");
    });
    dlg.DoModal();
    for (int size = 1; size < 5; ++size) EXPECT_GT(heights[size], heights[size - 1]) << size;
    // A later start reads the stored size; one out of range is taken as the
    // nearest end, and so stored and marked.
    for (DWORD stored : {3u, 9u, DWORD(-3)}) {
      app = std::make_unique<CReaderApp>();
      StoreFontSize(stored);
      const int expect = stored == 3u ? 3 : stored == 9u ? 4 : 0;
      CScriptedRead again(source_.rows[0], &parent_, &source_);
      again.steps.push_back([&](CScriptedRead& d) {
        Advance(100);
        EXPECT_EQ(CNewsReadDlg::GetReadingFontSize(), expect);
        EXPECT_EQ(LayoutHeight(d), heights[expect]);
        EXPECT_EQ(ReadSettingInt(u"Settings", u"HtmlFontSize", -1), expect);
        CNewsReadMenuDlg menu(&d);
        menu.Create(IDD_NEWS_READ_MENU, &d);
        for (int i = 0; i < 5; ++i) EXPECT_EQ(menu.GetList()->GetItem(i)->m_nCheckValue != 0, i == expect);
        menu.DestroyWindow();
      });
      again.DoModal();
    }
    app.reset();
    TearDown();
    SetUp();
  }
}

TEST_F(ReadingView, EmailHandsLinkAndTitleToTheComposerAsSingleArguments) {
  Use(240, 320, 96, FALSE);
  // The desktop's mail opener records its arguments, one per NUL.
  const std::string record = Host(u"\\") + "/mail.txt", opener = Host(u"\\") + "/mail.sh";
  qtest::WriteHostFile(opener, "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\0' \"$a\"; done > \"" + record +
                                   ".tmp\" && mv \"" + record + ".tmp\" \"" + record + "\"\n");
  chmod(opener.c_str(), 0755);
  setenv("QUILLET_MAIL_OPENER", opener.c_str(), 1);
  auto recorded = [&] {
    std::string got;
    for (int i = 0; i < 1000 && (got = qtest::ReadHostFile(record)).empty(); ++i) usleep(10000);
    unlink(record.c_str());
    std::vector<std::string> args;
    for (size_t at = 0, end; (end = got.find('\0', at)) != std::string::npos; at = end + 1)
      args.push_back(got.substr(at, end - at));
    return args;
  };
  const std::string body =
      "Here is a link to an article I thought you will find interesting:\n\nhttp://x.example/a%20b?q=%22hi%22&s=\\\n\n"
      "--------------------\nThis article was found using Marrowby Quillet for Windows Mobile. "
      "http://www.marrowby.com/quillet\n";
  ArticleInfo a;
  a.nChannel = 7;
  a.strTitle = u"He said \"no\" \\";
  a.strLink = u"http://x.example/a%20b?q=\"hi\"&s=\\";
  a.strBody = u"<p>x</p>";
  CScriptedRead dlg(a, &parent_, &source_);
  dlg.steps.push_back([&](CScriptedRead& d) {
    d.SendMessage(WM_COMMAND, ID_EMAIL_ARTICLE);
    d.EndDialog(IDOK);
  });
  dlg.DoModal();
  EXPECT_EQ(recorded(), (std::vector<std::string>{"--utf8", "--subject", "He said no \\", "--body", body}));
  auto executed = qk::shell::ExecutedCommands();
  ASSERT_EQ(executed.size(), 1u);
  EXPECT_EQ(executed[0].file, u"\\windows\\tmail.exe");
  EXPECT_EQ(qk::ToUtf8(executed[0].parameters),
            "-service \"ActiveSync\" -to \"\" -body \"" + body + "\" -subject \"He said no \\\\\"");
  // With the SMS account the subject carries the link.
  HKEY key = nullptr;
  RegCreateKeyExW(HKEY_CURRENT_USER, QUILLET_SETTINGS_KEY, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr);
  const std::u16string sms = u"sms";
  RegSetValueExW(key, u"EmailAccount", 0, REG_SZ, reinterpret_cast<const BYTE*>(sms.c_str()),
                 DWORD((sms.size() + 1) * 2));
  RegCloseKey(key);
  SendArticleByMail(u"http://x.example/1", u"T");
  auto args = recorded();
  ASSERT_EQ(args.size(), 5u);
  EXPECT_EQ(args[2], "T http://x.example/1");
  unsetenv("QUILLET_MAIL_OPENER");
}

namespace {

// What the screen showed when it was first shown (the display's idle hook)
// while a view is watched: the page's layout height and how many pixels of
// the screen's lower part were not white.
struct FirstShow {
  int height = -1;
  int inked = -1;
};
FirstShow g_firstShow;
CNewsReadDlg* g_shown = nullptr;
qk::IdleHook g_hookBefore = nullptr;

int InkedBelow(int top) {
  HDC screen = GetDC(nullptr);
  int inked = 0;
  for (int y = top; y < GetSystemMetrics(SM_CYSCREEN) - 20; y += 2)
    for (int x = 0; x < GetSystemMetrics(SM_CXSCREEN) - 40; x += 2)
      if ((GetPixel(screen, x, y) & 0xFFFFFF) != 0xFFFFFF) ++inked;
  ReleaseDC(nullptr, screen);
  return inked;
}

// How often the viewer told its host that a page shown from its first
// screen had been laid out whole (the host window subclassed).
int g_laterCompletions = 0;
WNDPROC g_hostProc = nullptr;
LRESULT CALLBACK CountCompletions(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NOTIFY && lParam && reinterpret_cast<const NMHDR*>(lParam)->code == NM_LAYOUTCOMPLETE)
    ++g_laterCompletions;
  return ::CallWindowProcW(g_hostProc, window, message, wParam, lParam);
}

DWORD WatchFirstShow() {
  if (g_shown && g_shown->IsPageShown() && g_firstShow.height < 0) {
    g_firstShow.height = LayoutHeight(*g_shown);
    g_firstShow.inked = InkedBelow(400);
  }
  return g_hookBefore ? g_hookBefore() : INFINITE;
}

}  // namespace

// A long article whose first part (enough text to be cut there) lays out
// shorter than the screen: the page is laid out whole before it is first
// shown, so the first screen never shows the start with blank below it.
TEST_F(ReadingView, AnArticleWhoseFirstPartIsShorterThanTheScreenIsLaidOutWholeBeforeItsFirstShow) {
  Use(480, 800, 192, TRUE);
  MakeArticles();
  // The first part: more visible text than the first screen takes (the
  // blanks do not count), in letters so small that it lays out in a few
  // lines; then a long rest in the usual size.
  CString body = u"<p style=\"font-size:1px\">";
  for (int i = 0; i < 650; ++i) body += u"tiny wor ";
  body += u"</p>";
  for (int i = 0; i < 120; ++i)
    body += u"<p>Paragraph " + CString(std::to_string(i).c_str()) +
            u" of the rest of the story, with enough words to wrap over a couple of lines.</p>";
  source_.rows[0].strBody = body;
  source_.rows[0].strTitle = u"Short start";
  CScriptedRead dlg(source_.rows[0], &parent_, &source_);
  dlg.steps.push_back([&](CScriptedRead& d) {
    g_firstShow = FirstShow();
    g_shown = &d;
    g_laterCompletions = 0;
    HWND host = d.GetHtmlHost()->m_hWnd;
    g_hostProc = reinterpret_cast<WNDPROC>(::GetWindowLongW(host, GWL_WNDPROC));
    ::SetWindowLongW(host, GWL_WNDPROC, reinterpret_cast<LONG_PTR>(&CountCompletions));
    g_hookBefore = qk::SetIdleHook(WatchFirstShow);
    Advance(100);
    // The screen shows when the thread next goes idle, unless the page
    // showed itself sooner.
    qk::RunIdleHook();
    qk::SetIdleHook(g_hookBefore);
    g_shown = nullptr;
    Settle(d);
    ::SetWindowLongW(host, GWL_WNDPROC, reinterpret_cast<LONG_PTR>(g_hostProc));
    EXPECT_EQ(g_laterCompletions, 0) << "the page was laid out from its start first, the rest later";
    const int whole = LayoutHeight(d);
    EXPECT_GT(whole, 4 * 800) << "the whole article is long";
    EXPECT_EQ(g_firstShow.height, whole) << "the page was first shown before it was laid out whole";
    const int inked = InkedBelow(400);
    EXPECT_GT(inked, 1000) << "the rest of the story shows below its start";
    EXPECT_EQ(g_firstShow.inked, inked) << "the first screen showed otherwise than the whole page does";
    d.EndDialog(IDOK);
  });
  dlg.DoModal();
}
