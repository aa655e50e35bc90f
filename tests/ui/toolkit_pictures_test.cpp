// Pictures of the toolkit's lists, controls and dialogs to look at, on the
// touch screen (480 x 800 at 192 dpi) and on the key device (240 x 320 at
// 96 dpi):
//
//   ctest --test-dir <build> -R ToolkitPictures
//
// writes toolkit_*.png to $QUILLET_PICTURES_DIR, else to the folder
// "pictures" of the build.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "channel_list_support.h"
#include "common/settings.h"
#include "controls/commctrl.h"
#include "framework/dialog.h"
#include "kernel/resource.h"
#include "quillet/res/resources.h"
#include "quillet/ui/cell_list.h"
#include "quillet/ui/html_host_dialog.h"
#include "quillet/ui/image_button_bar.h"
#include "quillet/ui/news_list_view.h"
#include "quillet/ui/small_controls.h"
#include "quillet/ui/touch_file_dialog.h"
#include "quillet/ui/touch_list.h"
#include "shell/aygshell.h"
#include "support/device_fixture.h"
#include "toolkit_support.h"

namespace {

constexpr UINT WM_STEP = WM_APP + 21;
constexpr WORD kIconBase = 9500;  // menu and button images
constexpr UINT kUpBitmap = 9550;

uint32_t Glyph(int kind, int x, int y, int size, uint32_t colour) {
  const double u = (x + 0.5) / size, v = (y + 0.5) / size;
  const double d = std::hypot(u - 0.5, v - 0.5);
  switch (kind % 5) {
    case 0: return d < 0.42 ? colour : 0;                                    // disc
    case 1: return std::abs(u - 0.5) + std::abs(v - 0.5) < 0.45 ? colour : 0;  // diamond
    case 2: return d < 0.42 && d > 0.26 ? colour : 0;                        // ring
    case 3: return (u > 0.15 && u < 0.85 && v > 0.2 && v < 0.8) ? colour : 0;  // tile
    default: return (std::abs(u - v) < 0.12 || std::abs(u + v - 1) < 0.12) && d < 0.45 ? colour : 0;  // cross
  }
}

void RegisterPictureResources() {
  static bool done = false;
  if (done) return;
  done = true;
  const uint32_t colours[] = {0xFFF2A33Au, 0xFF4FB3E8u, 0xFF6CCB5Fu, 0xFFE8645Au, 0xFFB58AE6u, 0xFFFFFFFFu};
  for (int i = 0; i < 6; ++i) {
    uitest::RegisterTargaResource(static_cast<WORD>(kIconBase + i), uitest::MakeTga(24, 24, [&](int x, int y) {
                                    return Glyph(i, x, y, 24, colours[i]);
                                  }));
    uitest::RegisterTargaResource(static_cast<WORD>(kIconBase + 10 + i), uitest::MakeTga(48, 48, [&](int x, int y) {
                                    return Glyph(i, x, y, 48, colours[i]);
                                  }));
    uitest::RegisterTargaResource(static_cast<WORD>(kIconBase + 20 + i), uitest::MakeTga(32, 32, [&](int x, int y) {
                                    return Glyph(i, x, y, 32, 0xFFFFFFFFu);
                                  }));
    uitest::RegisterTargaResource(static_cast<WORD>(kIconBase + 30 + i), uitest::MakeTga(16, 16, [&](int x, int y) {
                                    return Glyph(i, x, y, 16, 0xFFFFFFFFu);
                                  }));
  }
  // A check mark.
  auto check = [](int size) {
    return uitest::MakeTga(size, size, [size](int x, int y) {
      double u = (x + 0.5) / size, v = (y + 0.5) / size;
      bool stroke = (std::abs(v - (0.55 + (u - 0.2))) < 0.1 && u > 0.15 && u < 0.42) ||
                    (std::abs(v - (0.75 - (u - 0.42) * 1.3)) < 0.1 && u >= 0.4 && u < 0.88);
      return stroke ? 0xFFFFFFFFu : 0u;
    });
  };
  uitest::RegisterTargaResource(kIconBase + 40, check(20));
  uitest::RegisterTargaResource(kIconBase + 41, check(40));
  // The up-folder bitmap, 40 x 40, green transparent.
  static std::vector<BYTE> up(40 + 40 * 40 * 3, 0);
  BITMAPINFOHEADER h = {};
  h.biSize = 40;
  h.biWidth = 40;
  h.biHeight = 40;
  h.biPlanes = 1;
  h.biBitCount = 24;
  std::memcpy(up.data(), &h, 40);
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 40; ++x) {
      BYTE* p = up.data() + 40 + (39 - y) * 120 + x * 3;
      bool arrow = (y >= 6 && y < 20 && std::abs(x - 20) <= y - 6) || (y >= 20 && y < 34 && x >= 15 && x < 25);
      p[0] = arrow ? 40 : 0;
      p[1] = arrow ? 40 : 255;
      p[2] = arrow ? 40 : 0;
    }
  static qk::ResourceEntry entry = {nullptr, 2, static_cast<WORD>(kUpBitmap), nullptr, up.data(), up.size()};
  qk::RegisterResources(nullptr, &entry, 1);
}

class ToolkitPictures : public qtest::DeviceTest {
 protected:
  void Use(const qk::gdi::ScreenConfig& cfg, BOOL touch) {
    qk::gdi::SetScreenConfig(cfg);
    qk::SetScreenSize(cfg.width, cfg.height);
    qk::display::ConnectScreen();
    ResetScreenDpi();
    InitScreenDpi(0);
    SetTouchFlag(touch);
    InitImagingFactory();
    InitCommonControls();
    RegisterQuilletResources();
    RegisterPictureResources();
    qk::FreezeClock(1796726400000LL, 1000);  // 2026-12-08 11:20 UTC
    cfg_ = cfg;
    hi_ = cfg.dpi == 192;
  }
  void TearDown() override {
    qk::shell::ResetShell();
    qk::PumpMessages();
    ReleaseImagingFactory();
    qk::UseRealClock();
    SetTouchFlag(TRUE);
    qk::gdi::SetScreenConfig(qk::gdi::DefaultScreenConfig());
    qk::SetScreenSize(480, 800);
    ResetScreenDpi();
    DeviceTest::TearDown();
  }
  std::string Name(const char* what) const {
    return std::string("toolkit_") + what + "_" + std::to_string(cfg_.width) + "x" + std::to_string(cfg_.height) +
           ".png";
  }
  void Shoot(const char* what) {
    qk::PumpMessages();
    ASSERT_TRUE(uitest::WriteScreenPicture(Name(what)));
  }
  int S(int v) const { return v * cfg_.dpi / 96; }

  // A headline list with rows of every kind, in a window.
  void HeadlineList(CNewsListView& view, HWND* window) {
    *window = uitest::CreateHandlerWindow(cfg_.width, cfg_.height, [&view](HWND w, UINT m, WPARAM wp, LPARAM lp, LRESULT*) {
      if (m == WM_PAINT) {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(w, &ps);
        view.Paint(dc);
        EndPaint(w, &ps);
        return true;
      }
      if (m == WM_TIMER) return view.OnTimer(w, wp);
      (void)lp;
      return false;
    });
    view.Create(nullptr, *window, 0, 0, cfg_.width, cfg_.height, 0, nullptr);
    WCHAR root[MAX_PATH];
    GetDataRoot(root);
    CString folder = CString(root) + u"\\ChannelData";
    CreateDirectoryW(folder, nullptr);
    // Thumbnails: 32 density pixels square, a sky over a hill.
    for (int i = 0; i < 3; ++i) {
      const int size = S(32);
      BITMAPINFO info = {};
      info.bmiHeader.biSize = 40;
      info.bmiHeader.biWidth = size;
      info.bmiHeader.biHeight = size;
      info.bmiHeader.biPlanes = 1;
      info.bmiHeader.biBitCount = 24;
      const int stride = ((size * 3 + 3) / 4) * 4;
      std::vector<BYTE> px(static_cast<size_t>(stride) * size);
      for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
          BYTE* p = &px[static_cast<size_t>(size - 1 - y) * stride + x * 3];
          const double hill = 0.65 + 0.15 * std::sin((x + i * 7) * 6.28 / size);
          bool ground = y > hill * size;
          p[0] = static_cast<BYTE>(ground ? 40 : 200 - y * 2);
          p[1] = static_cast<BYTE>(ground ? 140 + i * 30 : 150 + i * 20);
          p[2] = static_cast<BYTE>(ground ? 60 : 90 + i * 50);
        }
      CDib dib;
      dib.CreateFromInfo(&info, px.data());
      CString path;
      path.Format(u"%s\\Ch001-%d.bmp", static_cast<LPCWSTR>(folder), i);
      dib.Save(path);
    }
    struct Row {
      const char16_t* title;
      const char16_t* date;
      int picture;  // -1 none
      const char16_t* page;
      BOOL read, pending;
    };
    const Row rows[] = {
        {u"Update failed: the server answered 503", u"2026-12-08 11:02:00", -1, u"", TRUE, FALSE},
        {u"Council approves the new harbour quay after a long night", u"2026-12-08 10:40:00", 0, u"Ch001-1.htm", FALSE, FALSE},
        {u"Storm warning for the coast", u"2026-12-08 09:15:00", -1, u"", FALSE, TRUE},
        {u"Rail timetable changes from Sunday", u"2026-12-08 07:55:00", 1, u"Ch001-3.htm", FALSE, FALSE},
        {u"Library opens late on Thursdays", u"2026-12-07 18:30:00", -1, u"", FALSE, FALSE},
        {u"Interview: the last lighthouse keeper", u"2026-12-07 12:00:00", 2, u"Ch001-5.htm", TRUE, FALSE},
        {u"Market report", u"2026-12-06 16:45:00", -1, u"", TRUE, FALSE},
        {u"Letters to the editor on the bridge tolls and the ferry", u"2026-12-05 08:10:00", -1, u"Ch001-7.htm", TRUE, FALSE},
        {u"Weekend events: concerts, walks and a fish market", u"2026-12-04 14:00:00", -1, u"", TRUE, TRUE},
        {u"Obituaries", u"2026-12-03 09:00:00", -1, u"", TRUE, FALSE},
        {u"\u65B0\u3057\u3044\u6E2F \u00B7 Hafen \u00B7 \u05E0\u05DE\u05DC", u"2026-12-02 09:00:00", -1, u"", TRUE, FALSE},
    };
    for (const Row& r : rows) {
      CString picture;
      if (r.picture >= 0) picture.Format(u"%s\\Ch001-%d.bmp", static_cast<LPCWSTR>(folder), r.picture);
      view.AddItem(r.title, r.date, &r == &rows[0] ? NEWS_ERROR_LINK : u"http://news.example/a", picture, r.page,
                   r.read, r.pending);
    }
    view.FocusNext();
    view.FocusNext();
    view.Redraw(TRUE);
  }

  qk::gdi::ScreenConfig cfg_{};
  bool hi_ = false;
};

// Steps run in a dialog's modal loop, posted to a helper window.
struct Steps {
  std::vector<std::function<void()>> list;
  size_t next = 0;
};
Steps* g_steps = nullptr;

HWND StepWindow() {
  static HWND w = nullptr;
  if (!w || !IsWindow(w)) {
    WNDCLASSW wc{};
    wc.lpfnWndProc = [](HWND hwnd, UINT m, WPARAM wp, LPARAM lp) -> LRESULT {
      if (m == WM_STEP && g_steps) {
        qk::PumpMessages();
        if (g_steps && g_steps->next < g_steps->list.size()) {
          g_steps->list[g_steps->next++]();
          if (g_steps && g_steps->next < g_steps->list.size()) PostMessageW(hwnd, WM_STEP, 0, 0);
        }
        return 0;
      }
      return DefWindowProcW(hwnd, m, wp, lp);
    };
    wc.lpszClassName = u"PictureSteps";
    RegisterClassW(&wc);
    w = CreateWindowExW(0, u"PictureSteps", u"", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
  }
  return w;
}

void StartSteps(Steps& s) {
  g_steps = &s;
  PostMessageW(StepWindow(), WM_STEP, 0, 0);
}

}  // namespace

class ToolkitPicturesBoth : public ToolkitPictures, public ::testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    if (GetParam()) Use(qk::gdi::DefaultScreenConfig(), TRUE);
    else Use(qk::gdi::KeyDeviceScreenConfig(), FALSE);
  }
};

TEST_P(ToolkitPicturesBoth, HeadlinesAndPopup) {
  CNewsListView view;
  HWND window = nullptr;
  HeadlineList(view, &window);
  // The reader runs full screen.
  SHFullScreen(window, SHFS_HIDETASKBAR);
  Shoot("headlines");
  // The tap-and-hold menu of a headline over it.
  CTouchPopupList popup;
  const WORD icons = hi_ ? kIconBase + 10 : kIconBase;
  popup.AddItem(u"Open", nullptr, icons + 0, -1, 1);
  popup.AddItem(u"Mark as unread", nullptr, icons + 1, -1, 2);
  popup.AddItem(u"Get full text", nullptr, icons + 2, -1, 3);
  popup.AddItem(u"Send by e-mail", nullptr, icons + 3, -1, 4);
  popup.AddItem(u"Delete this article and every one older than it", nullptr, icons + 4, -1, 5);
  popup.AddLevel(u"More", nullptr, icons + 5)->AddItem(u"Copy link", nullptr, icons + 0, -1, 6);
  Steps s;
  s.list.push_back([&] {
    UpdateWindow(popup.GetWindow());
    Shoot("popup");
    qk::InjectPointer(WM_LBUTTONDOWN, 2, cfg_.height / 2);
    qk::InjectPointer(WM_LBUTTONUP, 2, cfg_.height / 2);
  });
  StartSteps(s);
  EXPECT_EQ(popup.DoModal(nullptr, 0, window), -1);
  g_steps = nullptr;
  Shoot("headlines_after_popup");
  DestroyWindow(window);
  uitest::CurrentHandler() = nullptr;
  // The empty list.
  CNewsListView empty;
  HWND w2 = uitest::CreateHandlerWindow(cfg_.width, cfg_.height, [&empty](HWND w, UINT m, WPARAM, LPARAM, LRESULT*) {
    if (m != WM_PAINT) return false;
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(w, &ps);
    empty.Paint(dc);
    EndPaint(w, &ps);
    return true;
  });
  empty.Create(nullptr, w2, 0, 0, cfg_.width, cfg_.height, 0, nullptr);
  empty.SetShowEmptyText(TRUE);
  empty.Redraw(TRUE);
  Shoot("headlines_empty");
  DestroyWindow(w2);
  uitest::CurrentHandler() = nullptr;
}

TEST_P(ToolkitPicturesBoth, MenuPageWithCaptionAndButtonBar) {
  const int captionHeight = S(26), barHeight = cfg_.dpi * 40 / 96;
  CTouchMenuList list(FALSE, TRUE);
  CImageButtonBar bar;
  CCaptionStatic caption;
  HWND window = uitest::CreateHandlerWindow(cfg_.width, cfg_.height, [&](HWND w, UINT m, WPARAM, LPARAM, LRESULT*) {
    if (m != WM_PAINT) return false;
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(w, &ps);
    list.Paint(dc);
    bar.Draw(dc, 0, cfg_.height - barHeight, cfg_.width, barHeight);
    EndPaint(w, &ps);
    return true;
  });
  HWND captionWindow = CreateWindowExW(0, u"STATIC", u"Settings", WS_CHILD | WS_VISIBLE, 0, 0, cfg_.width,
                                       captionHeight, window, nullptr, nullptr, nullptr);
  caption.SetGradient(TRUE);
  ASSERT_TRUE(caption.SubclassControl(captionWindow));
  list.Create(0, window, 0, captionHeight, cfg_.width, cfg_.height - captionHeight - barHeight, nullptr);
  list.SetCheckMode(GetTouchFlag() ? 0 : 1);
  const WORD icons = hi_ ? kIconBase + 10 : kIconBase;
  const int check = hi_ ? kIconBase + 41 : kIconBase + 40;
  const char16_t* labels[] = {u"Download", u"Network", u"Storage", u"Auto update", u"Show images in articles",
                              u"Language", u"About Quillet and the people who made it"};
  for (int i = 0; i < 7; ++i) list.AddItem(labels[i], nullptr, icons + i % 6, check, 100 + i);
  list.RefreshItems(TRUE);
  list.SetItemCheck(104, 1);
  list.SelectItemById(102, TRUE);
  const WORD buttons = hi_ ? kIconBase + 20 : kIconBase + 30;
  for (int slot = 0; slot < 5; ++slot) bar.SetButton(slot, nullptr, slot == 2 ? -1 : buttons + slot, 200 + slot);
  bar.LoadPressedImage(nullptr, hi_ ? IDR_PNG_BUTTON_PRESSED_192 : IDR_PNG_BUTTON_PRESSED);
  InvalidateRect(window, nullptr, FALSE);
  UpdateWindow(window);
  InvalidateRect(captionWindow, nullptr, TRUE);
  UpdateWindow(captionWindow);
  bar.HitTestDown(cfg_.width / 10 * 3, cfg_.height - barHeight / 2);
  HDC dc = GetDC(window);
  bar.Draw(dc, 0, cfg_.height - barHeight, cfg_.width, barHeight);
  ReleaseDC(window, dc);
  Shoot("menu_page");
  caption.DestroyWindow();
  DestroyWindow(window);
  uitest::CurrentHandler() = nullptr;
}

namespace {

class CPictureDlg : public CDialog {
 public:
  CPictureDlg(LPCDLGTEMPLATE t, std::function<void(CPictureDlg&)> init) : init_(std::move(init)) {
    InitModalIndirect(t);
  }
  BOOL OnInitDialog() override {
    CDialog::OnInitDialog();
    init_(*this);
    return TRUE;
  }
  CCaptionStatic plainCaption, gradientCaption;
  CColorEdit colour;
  CSipEdit sip;
  CCategoryListCtrl categories;
  int S(int v) const { return v * GetScreenDpiY() / 96; }
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
    if (message == WM_ERASEBKGND) {
      RECT r;
      ::GetClientRect(m_hWnd, &r);
      FillRect(reinterpret_cast<HDC>(wParam), &r, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
      return 1;
    }
    return CDialog::WindowProc(message, wParam, lParam);
  }

 private:
  std::function<void(CPictureDlg&)> init_;
};

}  // namespace

TEST_P(ToolkitPicturesBoth, ControlsAndCategoryList) {
  const short w = static_cast<short>(cfg_.width * 4 / LOWORD(GetDialogBaseUnits()));
  const short h = static_cast<short>(cfg_.height * 8 / HIWORD(GetDialogBaseUnits()));
  auto bytes = qk::DialogTemplateBuilder(WS_POPUP | WS_VISIBLE, 0, 0, 0, w, h)
                   .Control(u"STATIC", u"Channel properties", 201, WS_CHILD | WS_VISIBLE, 0, 0, w, 14)
                   .Control(u"STATIC", u"Categories of the channel list, renamed by a double tap", 202,
                            WS_CHILD | WS_VISIBLE, 0, 16, w, 22)
                   .Control(u"EDIT", u"http://feeds.example/harbour/rss", 203, WS_CHILD | WS_VISIBLE | WS_BORDER, 4, 42,
                            w - 8, 12)
                   .Control(u"EDIT", u"Type a name", 204, WS_CHILD | WS_VISIBLE | WS_BORDER, 4, 58, w - 8, 12)
                   .Control(WC_LISTVIEW, u"", 205, WS_CHILD | WS_VISIBLE | WS_BORDER | LVS_REPORT, 4, 74, w - 8, h - 80)
                   .Build();
  // Favicons for two categories.
  auto ico = uitest::MakeIco(16, 24, [](int x, int y) -> uint32_t {
    int dx = 2 * x - 15, dy = 2 * y - 15;
    return dx * dx + dy * dy <= 200 ? 0xFFE0462Cu : 0;
  });
  WriteDeviceFile(u"\\ChannelData\\Ch001-Fav.ico", ico);
  Steps s;
  CPictureDlg* dialog = nullptr;
  s.list.push_back([&] {
    UpdateWindow(dialog->m_hWnd);
    for (HWND c = GetWindow(dialog->m_hWnd, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
      InvalidateRect(c, nullptr, TRUE);
      UpdateWindow(c);
    }
    Shoot("controls");
    dialog->categories.SetFocus();
    UpdateWindow(dialog->categories.m_hWnd);
    Shoot("category_list");
    dialog->categories.EditItem(1);
  });
  s.list.push_back([&] {
    UpdateWindow(dialog->categories.Editor().m_hWnd);
    Shoot("category_edit");
    dialog->EndDialog(IDOK);
  });
  CPictureDlg dlg(reinterpret_cast<LPCDLGTEMPLATE>(bytes.data()), [&](CPictureDlg& d) {
    dialog = &d;
    d.plainCaption.SubclassControl(::GetDlgItem(d.m_hWnd, 201));
    d.gradientCaption.SetGradient(TRUE);
    d.gradientCaption.SetOption(0);
    d.gradientCaption.SetOption(2);
    d.gradientCaption.SubclassControl(::GetDlgItem(d.m_hWnd, 202));
    d.colour.SubclassControl(::GetDlgItem(d.m_hWnd, 203));
    d.colour.SetTextColor(RGB(255, 255, 255));
    d.colour.SetBkColor(RGB(40, 90, 160));
    d.sip.SubclassControl(::GetDlgItem(d.m_hWnd, 204));
    // The list's own icons: as the category dialog gives them.
    HIMAGELIST images = ImageList_Create(d.S(16), d.S(16), ILC_COLOR32 | ILC_MASK, 1, 1);
    ::SendMessageW(::GetDlgItem(d.m_hWnd, 205), LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(images));
    d.categories.SetLargeRows(TRUE);
    d.categories.SubclassControl(::GetDlgItem(d.m_hWnd, 205));
    const char16_t* names[] = {u"News", u"Science and technology", u"Sport", u"Google Reader"};
    for (int i = 0; i < 4; ++i) {
      LVITEMW item = {};
      item.mask = LVIF_TEXT;
      item.iItem = i;
      item.pszText = const_cast<LPWSTR>(names[i]);
      ::SendMessageW(d.categories.m_hWnd, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
    }
    // Sub-item 4 names the favicon file.
    for (int c = 1; c <= 4; ++c) {
      LVCOLUMNW column = {LVCF_WIDTH, 0, 0, nullptr, 0, c};
      ::SendMessageW(d.categories.m_hWnd, LVM_INSERTCOLUMNW, static_cast<WPARAM>(c), reinterpret_cast<LPARAM>(&column));
    }
    d.categories.SetItemText(0, 4, u"\\ChannelData\\Ch001-Fav.ico");
    d.categories.SetItemText(2, 4, u"\\ChannelData\\Ch001-Fav.ico");
    d.categories.SetItemState(3, LVIS_SELECTED, LVIS_SELECTED);
    StartSteps(s);
  });
  EXPECT_EQ(dlg.DoModal(), IDOK);
  g_steps = nullptr;
}

TEST_P(ToolkitPicturesBoth, HtmlViewAndFileDialogs) {
  CWnd parent;
  ASSERT_TRUE(parent.CreateEx(0, nullptr, u"Reading", WS_POPUP | WS_VISIBLE, 0, 0, cfg_.width, cfg_.height, nullptr,
                              nullptr));
  SHFullScreen(parent.m_hWnd, SHFS_HIDETASKBAR);
  struct CDlg : CHtmlViewDlg {
    using CHtmlViewDlg::CHtmlViewDlg;
    std::function<void(CDlg&)> init;
    BOOL OnInitDialog() override {
      BOOL r = CHtmlViewDlg::OnInitDialog();
      init(*this);
      return r;
    }
  } html(&parent);
  auto solid = [](int w, int h, COLORREF a, COLORREF b) {
    BITMAPINFO bi{};
    bi.bmiHeader.biSize = 40;
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = -h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP bm = CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
    auto* px = static_cast<uint32_t*>(bits);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        COLORREF c = BlendColors(a, b, (x + y) * 255 / (w + h));
        px[y * w + x] = (GetRValue(c) << 16) | (GetGValue(c) << 8) | GetBValue(c);
      }
    return bm;
  };
  Steps s;
  html.init = [&](CDlg& d) {
    d.AddBitmap(solid(S(200), S(110), RGB(30, 110, 200), RGB(240, 200, 80)), u"harbour");
    d.AddBitmap(solid(S(60), S(60), RGB(200, 60, 40), RGB(250, 240, 230)), u"portrait");
    d.SetHtml(
        u"<html><body><h1>Council weighs new quay for the fishing fleet</h1>"
        u"<p><i>By our harbour correspondent</i> &middot; <a href=\"http://example.org/harbour\">harbour news</a></p>"
        u"<p><img src=\"harbour\"></p>"
        u"<p>The harbour authority met on Tuesday to weigh the plans for the new quay, which would double the "
        u"berths available to the fishing fleet.</p>"
        u"<p><img src=\"portrait\" align=\"left\"> Residents who spoke at the meeting asked for the work to stop "
        u"during the summer months, when the old town fills with visitors.</p>"
        u"<ul><li>Public hearing in March</li><li>Decision before the summer</li></ul></body></html>");
    d.LayoutHtmlView(TRUE, TRUE);
    StartSteps(s);
  };
  s.list.push_back([&] {
    Shoot("html_view");
    html.EndDialog(IDOK);
  });
  EXPECT_EQ(html.DoModal(), IDOK);
  g_steps = nullptr;
  parent.DestroyWindow();
  qk::shell::ResetShell();

  for (const char* f : {"\\My Documents\\Feeds\\News\\World.opml", "\\My Documents\\Feeds\\Exported channels.opml",
                        "\\My Documents\\Feeds\\notes.txt", "\\My Documents\\Feeds\\Blogs\\tech.opml"}) {
    std::string p(f);
    WriteDeviceFile(std::u16string(p.begin(), p.end()).c_str(), "<opml/>");
  }
  HWND owner = StepWindow();
  CTouchFileDialog save(owner, TOUCH_FILE_SAVE, nullptr, u"\\My Documents\\Feeds", kUpBitmap);
  save.SetFileType(u"opml", u"Channel list", u"Channels");
  Steps s2;
  s2.list.push_back([&] {
    UpdateWindow(save.GetWindow());
    Shoot("file_dialog_save");
    qk::shell::PressSoftKey(2);
  });
  StartSteps(s2);
  WCHAR buffer[MAX_PATH];
  EXPECT_FALSE(save.DoModal(buffer));
  g_steps = nullptr;
  CTouchFileDialog load(owner, TOUCH_FILE_LOAD, nullptr, u"\\My Documents\\Feeds", kUpBitmap);
  Steps s3;
  s3.list.push_back([&] {
    UpdateWindow(load.GetWindow());
    Shoot("file_dialog_load");
    qk::shell::PressSoftKey(2);
  });
  StartSteps(s3);
  EXPECT_FALSE(load.DoModal(buffer));
  g_steps = nullptr;
}

INSTANTIATE_TEST_SUITE_P(Screens, ToolkitPicturesBoth, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? std::string("TouchScreen480x800") : std::string("KeyDevice240x320");
                         });
