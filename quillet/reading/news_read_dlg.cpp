#include "quillet/reading/news_read_dlg.h"

#include <algorithm>

#include "common/connection.h"
#include "common/display_date.h"
#include "common/localize.h"
#include "common/settings.h"
#include "htmlview/htmlview.h"
#include "quillet/refresh/refresh_state.h"
#include "quillet/res/resources.h"
#include "quillet/reading/article_page.h"
#include "quillet/reading/full_screen_reading.h"
#include "quillet/reading/news_read_menu_dlg.h"
#include "quillet/screens/screen_app.h"
#include "quillet/screens/screen_messages.h"
#include "quillet/screens/send_mail.h"
#include "quillet/screens/screen_util.h"
#include "quillet/ui/density.h"
#include "quillet/ui/html_host_dialog.h"
#include "quillet/ui/image_button_bar.h"
#include "shell/aygshell.h"

namespace {

constexpr int kHiddenStatic = 1051;
constexpr int kBarHeight96 = 40;

// The reading font size when no application object holds it.
int g_fontSize = 2;

// The font-size commands and the sizes they stand for.
struct FontCommand {
  UINT id;
  int size;
};
// "Largest Font" to "Smallest Font" (32858 between them is no size).
constexpr FontCommand kFontCommands[] = {
    {ID_FONT_LARGEST, 4}, {ID_FONT_LARGER, 3}, {ID_FONT_MEDIUM, 2}, {ID_FONT_SMALLER, 1}, {ID_FONT_SMALLEST, 0}};

LPCWSTR Caption() { return GetTouchFlag() ? u"Quillet Reach" : u"Quillet"; }

void WriteSettingDword(LPCWSTR entry, DWORD value) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, QUILLET_SETTINGS_KEY, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                      nullptr) != ERROR_SUCCESS)
    return;
  RegSetValueExW(key, entry, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
  RegCloseKey(key);
}

BOOL FullScreenSetting() { return ReadSettingInt(u"Settings", u"FullScreenReading", GetTouchFlag() ? 1 : 0) != 0; }

// What the layout measured last, kept across views: a later view compares
// against the values an earlier one left.
struct LayoutMemory {
  int cx = -1, cy = -1;
  int screenWidth = -1, screenHeight = -1;
  RECT rect = {0, 0, 0, 0};
  int usableHeight = 0;
};
LayoutMemory& Memory() {
  static LayoutMemory memory;
  return memory;
}

// Sent by the host to the view when its page, shown from its first screen,
// has been laid out whole: the page takes its height.
constexpr UINT WM_READING_PAGE_COMPLETE = WM_APP + 0x2A7;

// The HTML host of the view. The soft-key menu bar belongs to it, so its
// commands and menu set-up go on to the view; Enter does nothing.
class CReadingHost : public CHtmlViewDlg {
 public:
  explicit CReadingHost(CWnd* view) : CHtmlViewDlg(view) {}
  BOOL PreTranslateMessage(MSG* msg) override {
    if (msg->message == WM_KEYDOWN && msg->wParam == VK_RETURN) return TRUE;
    return CHtmlViewDlg::PreTranslateMessage(msg);
  }
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override {
    if ((message == WM_COMMAND || message == WM_INITMENUPOPUP) && m_hWnd)
      if (HWND view = ::GetParent(m_hWnd)) return ::SendMessageW(view, message, wParam, lParam);
    if (message == WM_NOTIFY && lParam && m_hWnd) {
      const auto* header = reinterpret_cast<const NMHDR*>(lParam);
      if (header->code == NM_LAYOUTCOMPLETE && header->hwndFrom == GetHtmlView())
        if (HWND view = ::GetParent(m_hWnd)) ::SendMessageW(view, WM_READING_PAGE_COMPLETE, 0, 0);
    }
    return CHtmlViewDlg::WindowProc(message, wParam, lParam);
  }
};

}  // namespace

// Loads the page's pictures from files and registers them with the host,
// which owns them from then on.
class CNewsReadDlg::CImages : public CArticleImageLoader {
 public:
  explicit CImages(CHtmlHostDialog* host) : m_host(host) {}
  BOOL LoadContentImage(const CString& path, const CString& name) override {
    HBITMAP bitmap = SHLoadImageFile(path);
    if (!bitmap) return FALSE;
    if (!m_host->AddBitmap(bitmap, name)) {
      ::DeleteObject(bitmap);
      return FALSE;
    }
    return TRUE;
  }

 private:
  CHtmlHostDialog* m_host;
};

BEGIN_MESSAGE_MAP(CNewsReadDlg, CDialog)
ON_WM_TIMER()
ON_WM_SIZE()
ON_WM_ERASEBKGND()
ON_WM_PAINT()
ON_WM_DESTROY()
ON_WM_CLOSE()
ON_WM_ACTIVATE()
ON_WM_INITMENUPOPUP()
ON_COMMAND(ID_HEADLINES, OnHeadlines)
ON_COMMAND(ID_PREVIOUS_ARTICLE, OnPreviousArticle)
ON_COMMAND(ID_NEXT_ARTICLE, OnNextArticle)
ON_COMMAND(ID_DELETE_ITEM, OnDeleteItem)
ON_COMMAND(ID_EMAIL_ARTICLE, OnEmailArticle)
ON_COMMAND_RANGE(ID_FONT_LARGEST, ID_FONT_SMALLEST, OnFontSize)
END_MESSAGE_MAP()

CNewsReadDlg::CNewsReadDlg(const ArticleInfo& info, CWnd* parent, CArticleSource* source)
    : CDialog(IDD_NEWS_READ, parent), m_info(info), m_pSource(source) {
  RegisterQuilletResources();
  m_highlight = ::GetSysColor(COLOR_HIGHLIGHT);
}

CNewsReadDlg::~CNewsReadDlg() {
  if (m_pHost && m_pHost->m_hWnd && ::IsWindow(m_pHost->m_hWnd)) m_pHost->DestroyWindow();
  delete m_pHost;
  delete m_pBar;
}

int CNewsReadDlg::GetReadingFontSize() {
  CScreenApp* app = GetScreenApp();
  return std::clamp(app ? app->m_nReadingFontSize : g_fontSize, 0, 4);
}

int CNewsReadDlg::LoadFontSizeSetting() { return std::clamp(ReadSettingInt(u"Settings", u"HtmlFontSize", 2), 0, 4); }

void CNewsReadDlg::SetReadingFontSize(int size) {
  if (CScreenApp* app = GetScreenApp()) app->m_nReadingFontSize = size;
  else g_fontSize = size;
}

void CNewsReadDlg::DoDataExchange(CDataExchange* dx) {
  CDialog::DoDataExchange(dx);
  DDX_Control(dx, kHiddenStatic, m_hidden);
}

int CNewsReadDlg::BarHeight() const { return ScaleY(kBarHeight96); }

RECT CNewsReadDlg::MainWindowRect() const {
  RECT r{0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
  CWnd* main = AfxGetMainWnd();
  if (main && main != this && main->GetSafeHwnd()) {
    ::GetWindowRect(main->GetSafeHwnd(), &r);
  } else if (qk::shell::TaskBarVisible()) {
    // Without a main window the screens start below the task bar.
    r.top = ScaleY(qk::shell::kBarHeight);
  }
  return r;
}

BOOL CNewsReadDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  SetWindowText(Caption());
  InitScreenDpi(0);
  const BOOL touch = GetTouchFlag();
  m_bFullScreen = FullScreenSetting();

  m_pHost = new CReadingHost(this);
  if (!m_pHost->Create(IDD_HTML_VIEW, this)) {
    delete m_pHost;
    m_pHost = nullptr;
  } else {
    // The host is the window in front: the task bar shows its title.
    m_pHost->SetWindowText(Caption());
  }

  if (!touch) {
    HWND bar = CreateMenuBar(m_pHost ? m_pHost->m_hWnd : m_hWnd, IDR_NEWS_READ_MENU);
    if (!bar) {
      // Without its soft keys the view could not be left: it closes.
      EndDialog(IDCANCEL);
      return -1;
    }
    m_hMenuBar = bar;
    SetSoftKeyText(m_hMenuBar, ID_HEADLINES, u"Headlines");
    SetSoftKeyText(m_hMenuBar, ID_MENU_KEY, u"Menu");
    ::DrawMenuBar(m_hMenuBar);
  } else if (HWND bar = SHFindMenuBar(m_hWnd)) {
    ::ShowWindow(bar, SW_HIDE);
  }

  PlaceView(m_bFullScreen);

  if (m_pHost) m_pHost->ShowWindow(SW_SHOW);
  SetTimer(NEWS_READ_TIMER_BUILD, 100, nullptr);

  SetReadingFontSize(LoadFontSizeSetting());
  SetFontSize();

  if (touch) {
    m_pBar = new CImageButtonBar();
    m_pBar->LoadPressedImage(nullptr, ImageIdAt192(IDR_PNG_BAR_PRESSED, IDR_PNG_BAR_PRESSED_192));
    m_pBar->SetButton(0, nullptr, ImageIdAt192(IDR_PNG_BAR_BACK, IDR_PNG_BAR_BACK_192), 1);
    m_pBar->SetButton(1, nullptr, ImageIdAt192(IDR_PNG_BAR_PREVIOUS, IDR_PNG_BAR_PREVIOUS_192), 3);
    m_pBar->SetButton(2, nullptr, ImageIdAt192(IDR_PNG_BAR_EMAIL, IDR_PNG_BAR_EMAIL_192), 5);
    m_pBar->SetButton(3, nullptr, ImageIdAt192(IDR_PNG_BAR_NEXT, IDR_PNG_BAR_NEXT_192), 4);
    m_pBar->SetButton(4, nullptr, ImageIdAt192(IDR_PNG_BAR_MENU, IDR_PNG_BAR_MENU_192), 2);
  }
  return TRUE;
}

void CNewsReadDlg::PlaceView(BOOL fullScreen) {
  const RECT main = MainWindowRect();
  const int width = ::GetSystemMetrics(SM_CXSCREEN), height = ::GetSystemMetrics(SM_CYSCREEN);
  if (!fullScreen) {
    SHFullScreen(m_hWnd, SHFS_SHOWTASKBAR | SHFS_HIDESIPBUTTON);
    ::SetWindowPos(m_hWnd, nullptr, main.left, main.top, width, height - main.top, SWP_NOZORDER | SWP_SHOWWINDOW);
  } else {
    ::SetWindowPos(m_hWnd, nullptr, main.left, 0, width, height, SWP_NOZORDER | SWP_SHOWWINDOW);
    SHFullScreen(m_hWnd, SHFS_HIDETASKBAR | SHFS_HIDESIPBUTTON);
  }
}

void CNewsReadDlg::OnSize(UINT, int cx, int cy) {
  Default();
  SetWindowText(Caption());
  if (!m_pHost || !m_pHost->m_hWnd) return;
  const BOOL touch = GetTouchFlag();
  const int width = ::GetSystemMetrics(SM_CXSCREEN), height = ::GetSystemMetrics(SM_CYSCREEN);
  LayoutMemory& memory = Memory();
  if (cx != memory.cx || cy != memory.cy) {
    memory.cx = cx;
    memory.cy = cy;
    if (touch) {
      memory.rect = MainWindowRect();
    } else {
      ::GetWindowRect(m_hWnd, &memory.rect);
      int barHeight = 0;
      if (HWND bar = m_hMenuBar ? m_hMenuBar : SHFindMenuBar(m_hWnd)) {
        RECT r{};
        ::GetWindowRect(bar, &r);
        barHeight = r.bottom - r.top;
      }
      memory.usableHeight = height - barHeight;
    }
    const int taskBar = memory.rect.top;
    if (m_bFullScreen && touch && taskBar != 0) {
      SHFullScreen(m_hWnd, SHFS_HIDETASKBAR | SHFS_HIDESIPBUTTON);
      ::SetWindowPos(m_hWnd, nullptr, 0, 0, width, height, SWP_NOZORDER);
    } else if (!m_bFullScreen && touch) {
      SHFullScreen(m_hWnd, SHFS_SHOWTASKBAR | SHFS_HIDESIPBUTTON);
      ::SetWindowPos(m_hWnd, nullptr, 0, taskBar, width, height - taskBar, SWP_NOZORDER);
    }
  }
  PlaceHost();
  // A rotation lays the page out again for the new width.
  if (width != memory.screenWidth && height != memory.screenHeight && m_bPageShown) {
    if (!m_pHost->LayoutHtmlView(TRUE, m_bFullScreen)) m_pHost->LayoutHtmlView(TRUE, m_bFullScreen);
  }
  memory.screenWidth = width;
  memory.screenHeight = height;
}

void CNewsReadDlg::PlaceHost() {
  if (!m_pHost || !m_pHost->m_hWnd) return;
  const BOOL touch = GetTouchFlag();
  const LayoutMemory& memory = Memory();
  const int width = ::GetSystemMetrics(SM_CXSCREEN), height = ::GetSystemMetrics(SM_CYSCREEN);
  const int taskBar = memory.rect.top;
  int hostHeight;
  if (m_bFullScreen && touch) hostHeight = height + Dy(2);
  else if (m_bFullScreen) hostHeight = memory.usableHeight + Dy(2);
  else if (touch) hostHeight = height - taskBar - Dy(kBarHeight96) + Dy(2);
  else hostHeight = memory.usableHeight - taskBar + Dy(2);
  RECT view{};
  ::GetWindowRect(m_hWnd, &view);
  const int s = Dx(1), t = Dy(1);
  RECT before{};
  ::GetWindowRect(m_pHost->m_hWnd, &before);
  ::SetWindowPos(m_pHost->m_hWnd, nullptr, view.left - s, view.top - t, width + Dx(2), hostHeight,
                 SWP_NOZORDER | SWP_NOACTIVATE);
  RECT after{};
  ::GetWindowRect(m_pHost->m_hWnd, &after);
  FitPageToHost();
  // The page moved with its host: it is drawn again where it now stands.
  if (!::EqualRect(&before, &after))
    if (HWND page = m_pHost->GetHtmlView()) {
      ::InvalidateRect(page, nullptr, TRUE);
      if (HWND inner = ::GetWindow(page, GW_CHILD)) ::InvalidateRect(inner, nullptr, TRUE);
    }
}

void CNewsReadDlg::FitPageToHost() {
  // Full screen, the page is as tall as its text and the whole screen shows
  // it. Otherwise it ends where its host ends, above the button bar (the
  // window layer does not cut a child at its parent's edge).
  if (!GetTouchFlag() || m_bFullScreen || !m_pHost || !m_pHost->m_hWnd) return;
  HWND page = m_pHost->GetHtmlView();
  if (!page) return;
  RECT host{}, r{};
  ::GetClientRect(m_pHost->m_hWnd, &host);
  ::GetWindowRect(page, &r);
  POINT at{r.left, r.top};
  ::ScreenToClient(m_pHost->m_hWnd, &at);
  const int height = host.bottom - at.y;
  if (height > 0 && r.bottom - r.top > height) ::MoveWindow(page, at.x, at.y, r.right - r.left, height, TRUE);
}

void CNewsReadDlg::SetFontSize() {
  const int size = GetReadingFontSize();
  if (m_pHost)
    if (HWND view = m_pHost->GetHtmlView()) {
      ::SendMessageW(view, DTM_ZOOMLEVEL, 0, size);
      // The page's height changed with its text.
      if (m_bPageShown) {
        m_pHost->ResizeHtmlView();
        FitPageToHost();
      }
    }
  HWND bar = m_hMenuBar ? m_hMenuBar : SHFindMenuBar(m_hWnd);
  if (bar)
    if (HMENU popup = reinterpret_cast<HMENU>(::SendMessageW(bar, SHCMBM_GETSUBMENU, 0, ID_MENU_KEY)))
      for (const FontCommand& c : kFontCommands)
        ::CheckMenuItem(popup, c.id, MF_BYCOMMAND | (c.size == size ? MF_CHECKED : MF_UNCHECKED));
  WriteSettingDword(u"HtmlFontSize", static_cast<DWORD>(size));
}

void CNewsReadDlg::OnFontSize(UINT id) {
  for (const FontCommand& c : kFontCommands)
    if (c.id == id) {
      SetReadingFontSize(c.size);
      SetFontSize();
      return;
    }
}

void CNewsReadDlg::MoveArticle(int direction) {
  if (!m_pSource) return;
  ArticleInfo next;
  // The current link serves as the title to look for too.
  if (!m_pSource->MoveArticle(next, direction, m_info.strLink, m_info.strLink)) return;
  m_info = next;
  m_bDeleteRequested = FALSE;
  // The content pictures of the page shown go when the next page replaces
  // it: the page on the screen still draws them until then.
  SetTimer(NEWS_READ_TIMER_BUILD, 100, nullptr);
}

void CNewsReadDlg::RunReadingMenu() {
  CNewsReadMenuDlg menu(this);
  m_pMenu = &menu;
  menu.DoModal();
  m_pMenu = nullptr;
  // The view may have been closed while the menu showed.
  if (!::IsWindow(m_hWnd)) return;
  // The page shows again over the place the menu took.
  ::InvalidateRect(m_hWnd, nullptr, TRUE);
  if (m_pHost)
    if (HWND view = m_pHost->GetHtmlView()) {
      ::InvalidateRect(view, nullptr, TRUE);
      if (HWND inner = ::GetWindow(view, GW_CHILD)) ::InvalidateRect(inner, nullptr, TRUE);
    }
}

void CNewsReadDlg::OnPreviousArticle() { MoveArticle(-1); }
void CNewsReadDlg::OnNextArticle() { MoveArticle(1); }
void CNewsReadDlg::OnHeadlines() { EndDialog(IDCANCEL); }

void CNewsReadDlg::OnEmailArticle() { SendArticleByMail(m_info.strLink, m_info.strTitle); }

void CNewsReadDlg::OnDeleteItem() {
  CString text = Localized(u"Are you sure you want to delete this item?");
  CString caption = Localized(u"Confirm Delete");
  if (::MessageBoxW(m_hWnd, text, caption, MB_YESNO | MB_ICONQUESTION) != IDYES) return;
  m_bDeleteRequested = TRUE;
  SendMessage(WM_CLOSE);
}

void CNewsReadDlg::BuildPage() {
  KillTimer(NEWS_READ_TIMER_BUILD);
  if (!m_pHost || !m_pHost->m_hWnd) return;
  // The wait cursor shows while the page is built (its pictures loaded, its
  // text laid out); the normal cursor comes back once it is shown.
  ::SetCursor(::LoadCursor(nullptr, IDC_WAIT));
  // The finger drives the page of the new view, not the old one.
  const BOOL touch = GetTouchFlag();
  if (touch)
    if (HWND view = m_pHost->GetHtmlView()) LeaveFullScreenReading(::GetWindow(view, GW_CHILD));
  m_pHost->RecreateHtmlView(m_bFullScreen);
  if (HWND view = m_pHost->GetHtmlView()) {
    // A long article shows its first screen as soon as that is laid out;
    // the rest follows after the paint (WM_READING_PAGE_COMPLETE).
    ::SendMessageW(view, DTM_FIRSTSCREENFIRST, 0, TRUE);
    if (touch) EnterFullScreenReading(::GetWindow(view, GW_CHILD));
    ::SendMessageW(view, DTM_ZOOMLEVEL, 0, GetReadingFontSize());
  }
  m_pHost->LayoutHtmlView(FALSE, m_bFullScreen);

  // The marks: registered with the first page, again when the page turns
  // from an ordinary item to the error item or back.
  const BOOL error = IsErrorArticle(m_info);
  if (m_nMarks < 0) m_pHost->AddResourceBitmap(IDB_NEWS_FILLER, u"newsfiller");
  if (m_nMarks != (error ? 1 : 0)) {
    m_pHost->AddResourceBitmap(error ? IDB_NEWS_ERROR : IDB_NEWS_READ, u"news-read");
    m_pHost->AddResourceBitmap(error ? IDB_NEWS_ERROR : IDB_NEWS_UNREAD, u"news-unread");
    m_nMarks = error ? 1 : 0;
  }

  const BOOL remote = ReadSettingInt(u"Settings", u"DownloadImage", 1) == 0 &&
                      CanConnectQuickly(ReadSettingInt(u"Settings", u"UseNetAgency", 0) != 0);

  ArticlePageOptions options;
  options.dataFolder = ChannelDataFolder();
  // The logo is loaded once per view: every article of the list is of the
  // same channel.
  if (!m_bLogoTried) {
    m_bLogoTried = TRUE;
    CString path;
    path.Format(u"%s\\Ch%03d-Logo.img", options.dataFolder.GetString(), m_info.nChannel);
    if (HBITMAP logo = SHLoadImageFile(path)) {
      if (m_pHost->AddBitmap(logo, u"logo")) m_hLogo = logo;
      else ::DeleteObject(logo);
    }
  }
  options.hasLogo = m_hLogo != nullptr;
  options.remoteImages = remote;
  options.readMoreText = Localized(u"Read More Online");
  options.publishedText = Localized(u"Published");
  FormatDisplayDate(options.displayDate, m_info.strDate);

  CImages images(m_pHost);
  int loaded = 0;
  m_strPage = BuildArticlePage(m_info, options, &images, &loaded);
  // The pictures of the page before that this one does not reuse.
  for (int k = loaded + 1; k <= m_nContentImages; ++k) {
    CString name;
    name.Format(u"newscontent%02d", k);
    m_pHost->RemoveImage(name);
  }
  m_nContentImages = loaded;

  m_pHost->SetHtml(m_strPage);
  m_pHost->LayoutHtmlView(TRUE, m_bFullScreen);
  FitPageToHost();
  ::SetCursor(::LoadCursor(nullptr, IDC_ARROW));
  if (remote) SetTimer(NEWS_READ_TIMER_REFIT, 250, nullptr);
  m_bPageShown = TRUE;
  // The keys reach the page (and through the host, Previous and Next).
  if (HWND view = m_pHost->GetHtmlView()) {
    HWND focus = ::GetFocus();
    if (focus != view && !::IsChild(view, focus)) ::SetFocus(view);
  }
}

void CNewsReadDlg::OnTimer(UINT_PTR id) {
  switch (id) {
    case NEWS_READ_TIMER_BUILD:
      BuildPage();
      return;
    case NEWS_READ_TIMER_MENU:
      KillTimer(NEWS_READ_TIMER_MENU);
      RunReadingMenu();
      return;
    case NEWS_READ_TIMER_REFIT:
      if (m_pHost) m_pHost->ResizeHtmlView();
      FitPageToHost();
      return;
    case NEWS_READ_TIMER_FULLSCREEN:
      KillTimer(NEWS_READ_TIMER_FULLSCREEN);
      if (FullScreenSetting()) {
        m_bFullScreen = TRUE;
        SHFullScreen(m_hWnd, SHFS_HIDETASKBAR | SHFS_HIDESIPBUTTON);
        RECT r{};
        ::GetWindowRect(m_hWnd, &r);
        ::SetWindowPos(m_hWnd, nullptr, r.left, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN),
                       SWP_NOZORDER);
        PlaceHost();
        // The page is as tall as its text again.
        if (m_pHost && m_bPageShown) m_pHost->LayoutHtmlView(TRUE, TRUE);
      }
      return;
    default:
      Default();
      return;
  }
}

void CNewsReadDlg::DrawBar(HDC hdc) {
  if (!m_pBar || !hdc) return;
  m_pBar->DrawAtScreenBottom(m_hWnd, hdc, BarHeight());
}

BOOL CNewsReadDlg::OnEraseBkgnd(CDC* dc) {
  if (!dc) return TRUE;
  HDC hdc = dc->GetSafeHdc();
  RECT client{};
  ::GetClientRect(m_hWnd, &client);
  const int width = client.right, height = client.bottom + Dy(1);
  if (width <= 0 || height <= 0) return TRUE;
  HDC mem = ::CreateCompatibleDC(hdc);
  HBITMAP bitmap = ::CreateCompatibleBitmap(hdc, width, height);
  HGDIOBJ old = ::SelectObject(mem, bitmap);
  HBRUSH brush = ::CreateSolidBrush(BlendColors(RGB(0, 0, 0), ::GetSysColor(COLOR_HIGHLIGHT), 160));
  RECT all{0, 0, width, height};
  ::FillRect(mem, &all, brush);
  ::DeleteObject(brush);
  DrawBar(mem);
  ::BitBlt(hdc, 0, 0, width, height, mem, 0, 0, SRCCOPY);
  ::SelectObject(mem, old);
  ::DeleteObject(bitmap);
  ::DeleteDC(mem);
  return TRUE;
}

void CNewsReadDlg::OnPaint() {
  const COLORREF highlight = ::GetSysColor(COLOR_HIGHLIGHT);
  if (highlight != m_highlight) {
    if (m_pBar) m_pBar->InvalidateBackground(1);
    m_highlight = highlight;
  }
  PAINTSTRUCT ps;
  HDC hdc = ::BeginPaint(m_hWnd, &ps);
  if (!m_bFullScreen) DrawBar(hdc);
  ::EndPaint(m_hWnd, &ps);
}

void CNewsReadDlg::OnActivate(UINT state, CWnd* other, BOOL minimized) {
  CDialog::OnActivate(state, other, minimized);
  // The page takes the keys, and its host window the soft keys.
  if (state != WA_INACTIVE && m_pHost)
    if (HWND view = m_pHost->GetHtmlView()) ::SetFocus(view);
  if (m_bFullScreen) SHFullScreen(m_hWnd, SHFS_HIDETASKBAR | SHFS_HIDESIPBUTTON);
  else if (GetTouchFlag()) SHFullScreen(m_hWnd, SHFS_SHOWTASKBAR | SHFS_HIDESIPBUTTON);
}

void CNewsReadDlg::OnInitMenuPopup(CMenu* popup, UINT index, BOOL sysMenu) {
  CDialog::OnInitMenuPopup(popup, index, sysMenu);
  if (popup) LocalizeMenu(popup->GetSafeHmenu());
}

void CNewsReadDlg::OnClose() {
  if (GetTouchFlag()) {
    const RECT main = MainWindowRect();
    SHFullScreen(m_hWnd, SHFS_SHOWTASKBAR | SHFS_HIDESIPBUTTON);
    ::SetWindowPos(m_hWnd, nullptr, 0, main.top, ::GetSystemMetrics(SM_CXSCREEN),
                   ::GetSystemMetrics(SM_CYSCREEN) - main.top, SWP_NOZORDER);
  }
  Default();
}

void CNewsReadDlg::OnDestroy() {
  KillTimer(NEWS_READ_TIMER_REFIT);
  KillTimer(NEWS_READ_TIMER_FULLSCREEN);
  if (GetTouchFlag() && m_pHost)
    if (HWND view = m_pHost->GetHtmlView()) LeaveFullScreenReading(::GetWindow(view, GW_CHILD));
  if (m_pHost && m_pHost->m_hWnd && ::IsWindow(m_pHost->m_hWnd)) m_pHost->DestroyWindow();
  // The headline list beneath shows the task bar: a view that closes while
  // full screen gives it back, however it closes.
  if (GetTouchFlag()) SHFullScreen(m_hWnd, SHFS_SHOWTASKBAR);
  Default();
  // The host's pictures go with the host object.
  m_hLogo = nullptr;
  delete m_pBar;
  m_pBar = nullptr;
}

void CNewsReadDlg::OnBarRelease(int code) {
  if (code >= 1 && code <= 5) SetTimer(NEWS_READ_TIMER_FULLSCREEN, 6000, nullptr);
  switch (code) {
    case 1:
      EndDialog(IDOK);
      break;
    case 2:
      KillTimer(NEWS_READ_TIMER_FULLSCREEN);
      SetTimer(NEWS_READ_TIMER_MENU, 5, nullptr);
      break;
    case 3:
      MoveArticle(-1);
      break;
    case 4:
      MoveArticle(1);
      break;
    case 5:
      KillTimer(NEWS_READ_TIMER_FULLSCREEN);
      OnEmailArticle();
      break;
    default:
      break;
  }
}

BOOL CNewsReadDlg::PreTranslateMessage(MSG* msg) {
  if (msg->message == WM_KEYDOWN) {
    if (msg->wParam == VK_RETURN) return TRUE;
    if (msg->wParam >= VK_LEFT && msg->wParam <= VK_DOWN && m_pHost) {
      if (HWND view = m_pHost->GetHtmlView())
        if (HWND inner = ::GetWindow(view, GW_CHILD)) ::SendMessageW(inner, WM_KEYDOWN, msg->wParam, msg->lParam);
      return TRUE;
    }
  }
  return CDialog::PreTranslateMessage(msg);
}

LRESULT CNewsReadDlg::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  if (m_pBar && (message == WM_LBUTTONDOWN || message == WM_MOUSEMOVE || message == WM_LBUTTONUP)) {
    const int x = short(LOWORD(lParam)), y = short(HIWORD(lParam));
    RECT client{};
    ::GetClientRect(m_hWnd, &client);
    const bool below = y > client.bottom - BarHeight();
    if (message == WM_LBUTTONUP) {
      if (m_barPress.IsPressed()) {
        const int code = m_barPress.Up(*m_pBar, x, y);
        HDC hdc = ::GetDC(m_hWnd);
        DrawBar(hdc);
        ::ReleaseDC(m_hWnd, hdc);
        OnBarRelease(code);
        return 0;
      }
    } else if (below) {
      if (m_barPress.Track(message, *m_pBar, x, y, true)) {
        HDC hdc = ::GetDC(m_hWnd);
        DrawBar(hdc);
        ::ReleaseDC(m_hWnd, hdc);
      }
      return -1;
    }
  }
  return CDialog::WindowProc(message, wParam, lParam);
}

LRESULT CNewsReadDlg::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_CHANNEL_HANDOVER) {
    EndDialog(IDOK);
  } else if (message == WM_READING_PAGE_COMPLETE) {
    // The whole page is laid out: it takes its height, as when pictures
    // arrive.
    if (m_pHost) m_pHost->ResizeHtmlView();
    FitPageToHost();
    return 0;
  } else if (message == WM_HTMLHOST_NAVKEY) {
    if (wParam == VK_LEFT) {
      MoveArticle(-1);
    } else if (wParam == VK_RIGHT) {
      MoveArticle(1);
    } else if (wParam == VK_HOME) {
      // Out of full screen for a while: the task bar and the button bar show
      // until the timer puts full screen back.
      m_bFullScreen = FALSE;
      if (GetTouchFlag()) SHFullScreen(m_hWnd, SHFS_SHOWTASKBAR | SHFS_HIDESIPBUTTON);
      const RECT main = MainWindowRect();
      ::SetWindowPos(m_hWnd, nullptr, main.left, main.top, ::GetSystemMetrics(SM_CXSCREEN),
                     ::GetSystemMetrics(SM_CYSCREEN) - main.top, SWP_NOZORDER);
      PlaceHost();
      ::InvalidateRect(m_hWnd, nullptr, TRUE);
      SetTimer(NEWS_READ_TIMER_FULLSCREEN, 6000, nullptr);
    }
  }
  return CDialog::DefWindowProc(message, wParam, lParam);
}
