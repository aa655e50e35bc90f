#include "quillet/channel_list/channel_list_dlg.h"

#include <vector>

#include "common/localize.h"
#include "common/settings.h"
#include "gdi/image_codec.h"
#include "quillet/feeds/opml_xml.h"
#include "quillet/res/resources.h"
#include "quillet/channel_list/category_menu_dlg.h"
#include "quillet/channel_list/channel_list_menu_dlg.h"
#include "quillet/screens/screen_frame.h"
#include "quillet/screens/screen_messages.h"
#include "quillet/screens/screen_util.h"
#include "quillet/ui/channel_list_view.h"
#include "quillet/ui/density.h"
#include "quillet/ui/dib.h"
#include "quillet/ui/touch_list.h"
#include "shell/aygshell.h"
#include "user/dialog.h"

BEGIN_MESSAGE_MAP(CChannelListDlg, CDialog)
ON_WM_SIZE()
ON_WM_TIMER()
ON_COMMAND(ID_MARK_READ, OnForwardCommand)
ON_COMMAND(ID_MARK_UNREAD, OnForwardCommand)
ON_COMMAND(ID_DELETE_CHANNEL, OnForwardCommand)
ON_COMMAND(ID_RENAME, OnForwardCommand)
ON_COMMAND(ID_CHANGE_CATEGORY, OnForwardCommand)
ON_COMMAND(ID_CHANNEL_PROPERTIES, OnForwardCommand)
ON_WM_LBUTTONDOWN()
ON_WM_PAINT()
ON_WM_ERASEBKGND()
ON_WM_DESTROY()
ON_WM_ACTIVATE()
END_MESSAGE_MAP()

CChannelListDlg::CChannelListDlg() {
  m_hFont = CreateSystemFont(FW_NORMAL, ScaleY(13));
  m_hBoldFont = CreateSystemFont(FW_BOLD, ScaleY(13));
  m_highlight = ::GetSysColor(COLOR_HIGHLIGHT);
}

CChannelListDlg::~CChannelListDlg() {
  if (m_hWnd && ::IsWindow(m_hWnd)) DestroyWindow();
  m_pChannelList = nullptr;
  delete m_pOpml;
  m_pOpml = nullptr;
  delete m_pBar;
  m_pBar = nullptr;
  if (m_hFont) ::DeleteObject(m_hFont);
  if (m_hBoldFont) ::DeleteObject(m_hBoldFont);
}

BOOL CChannelListDlg::Create(CWnd* parent) {
  m_pOwner = dynamic_cast<CChannelListHost*>(parent);
  m_template = qk::DialogTemplateBuilder(WS_CHILD | WS_VISIBLE | DS_CONTROL, 0, 0, 0, 10, 10).Build();
  if (!CreateIndirect(reinterpret_cast<LPCDLGTEMPLATE>(m_template.data()), parent)) return FALSE;
  return m_bListCreated;
}

int CChannelListDlg::GetHeaderHeight() const { return GetTouchFlag() ? ScaleY(41) : 29; }
int CChannelListDlg::GetBandHeight() const { return GetTouchFlag() ? ScaleY(40) : 28; }

int CChannelListDlg::ListHeight() const {
  CRect client, window;
  ::GetClientRect(m_hWnd, &client);
  ::GetWindowRect(m_hWnd, &window);
  const int y = client.top + GetHeaderHeight();
  int height;
  if (m_pBar) {
    height = ::GetSystemMetrics(SM_CYSCREEN) - ScaleY(40) - window.top - y;
  } else {
    // Without the bar the list ends where the window's visible part ends:
    // above the frame's menu bar when there is one.
    int bottom = ::GetSystemMetrics(SM_CYSCREEN) - window.top;
    CWnd* owner = GetParent();
    CWnd* frame = owner ? owner->GetParent() : nullptr;
    if (HWND bar = frame ? SHFindMenuBar(frame->GetSafeHwnd()) : nullptr) {
      RECT r{};
      ::GetWindowRect(bar, &r);
      bottom -= r.bottom - r.top;
    }
    if (bottom > client.bottom) bottom = client.bottom;
    // The channel-list window ends where the frame ends, above the bar.
    if (owner) {
      CRect area;
      owner->GetClientRect(&area);
      if (area.Height() > 0 && bottom > area.bottom) bottom = area.bottom;
    }
    height = bottom - y;
  }
  return height < 0 ? 0 : height;
}

BOOL CChannelListDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  InitScreenDpi(0);
  RegisterQuilletResources();
  const BOOL high = GetScreenDpiY() >= 192;
  m_headerIcon.LoadFromResource(nullptr, high ? IDR_PNG_HEADER_ICON_192 : IDR_PNG_HEADER_ICON);
  m_downloadImage.LoadFromResource(nullptr, high ? IDR_PNG_DOWNLOAD_192 : IDR_PNG_DOWNLOAD);
  CRect client;
  GetClientRect(&client);
  const int y = client.top + GetHeaderHeight();
  if (GetTouchFlag()) {
    m_pBar = new CImageButtonBar();
    m_pBar->LoadPressedImage(nullptr, ImageIdAtLeast192(IDR_PNG_BAR_PRESSED, IDR_PNG_BAR_PRESSED_192));
    m_pBar->SetButton(0, nullptr, ImageIdAtLeast192(IDR_PNG_BAR_CATEGORIES, IDR_PNG_BAR_CATEGORIES_192), 0);
    m_pBar->SetButton(2, nullptr, ImageIdAtLeast192(IDR_PNG_BAR_REFRESH, IDR_PNG_BAR_REFRESH_192), 2);
    m_pBar->SetButton(4, nullptr, ImageIdAtLeast192(IDR_PNG_BAR_MENU, IDR_PNG_BAR_MENU_192), 1);
  }
  m_pChannelList = &m_view;
  m_bListCreated = m_view.Create(AfxGetInstanceHandle(), m_hWnd, client.left, y, client.Width(), ListHeight(),
                                 reinterpret_cast<DWORD_PTR>(this), OpenChannel);
  return TRUE;
}

void CChannelListDlg::LayoutList() {
  if (!m_pChannelList) return;
  CRect client;
  GetClientRect(&client);
  m_view.OnSize(client.Width(), ListHeight());
}

void CChannelListDlg::OnSize(UINT, int, int) {
  Default();
  if (!m_pChannelList) return;
  LayoutList();
  PaintNow(nullptr);
}

RECT CChannelListDlg::HeaderRect() const {
  RECT client{};
  ::GetClientRect(m_hWnd, &client);
  return RECT{client.left, client.top, client.right, client.top + GetHeaderHeight()};
}

RECT CChannelListDlg::BandRect() {
  RECT client{};
  ::GetClientRect(m_hWnd, &client);
  HDC screen = ::GetDC(nullptr);
  const int left = BandLeft(screen);
  ::ReleaseDC(nullptr, screen);
  return RECT{left, client.top, client.right, client.top + GetBandHeight()};
}

RECT CChannelListDlg::BarRect() const {
  if (!m_pBar) return RECT{0, 0, 0, 0};
  // Where DrawAtScreenBottom puts it.
  RECT client{}, window{};
  ::GetClientRect(m_hWnd, &client);
  ::GetWindowRect(m_hWnd, &window);
  const int top = ::GetSystemMetrics(SM_CYSCREEN) - ScaleY(40) - window.top;
  return RECT{0, top, client.right - client.left, top + ScaleY(40)};
}

void CChannelListDlg::PaintNow(const RECT* area) {
  if (!m_hWnd) return;
  ::InvalidateRect(m_hWnd, area, FALSE);
  ::UpdateWindow(m_hWnd);
}

CString CChannelListDlg::CurrentCategory() const { return m_pOwner ? m_pOwner->GetCurrentCategory() : CString(u"N/A"); }

int CChannelListDlg::BandLeft(HDC hdc) const {
  CRect client;
  ::GetClientRect(m_hWnd, &client);
  CString left(u"000 ");
  left += Localized(u"left");
  SIZE size{};
  HGDIOBJ old = ::SelectObject(hdc, m_hFont);
  ::GetTextExtentPoint32W(hdc, left, left.GetLength(), &size);
  ::SelectObject(hdc, old);
  return client.right - ScaleX(8) - size.cx;
}

void CChannelListDlg::DrawHeader(HDC hdc, BOOL fullBackground) {
  if (!hdc || !m_hWnd) return;
  CRect client;
  GetClientRect(&client);
  const int width = client.Width(), H = GetHeaderHeight(), B = GetBandHeight();
  if (width <= 0) return;
  const COLORREF highlight = ::GetSysColor(COLOR_HIGHLIGHT);
  CString category = CurrentCategory();
  if (category == u"N/A") category = Localized(u"All Categories");
  const int bandLeft = BandLeft(hdc);
  HeaderRendering& kept = m_header[fullBackground ? 1 : 0];
  if (!kept.dc || kept.width != width || kept.height != H || kept.bandLeft != bandLeft ||
      kept.highlight != highlight || kept.category != category) {
    kept.dc = std::make_unique<COffscreenDC>(hdc, width, H);
    kept.width = width;
    kept.height = H;
    kept.bandLeft = bandLeft;
    kept.highlight = highlight;
    kept.category = category;
    HDC mem = kept.dc->GetDC();
    const COLORREF dark = BlendColors(RGB(0, 0, 0), highlight, 160);
    const COLORREF darker = BlendColors(RGB(0, 0, 0), highlight, 175);
    if (fullBackground) FillSolid(mem, 0, 0, width, H, dark);
    else FillSolid(mem, 0, 0, width, B / 2, dark);
    FillSolid(mem, 0, B / 2, width, B + ScaleY(3), darker);
    int textLeft = ScaleX(2);
    if (GetTouchFlag() && m_headerIcon.HasImageHandle()) {
      const int ih = m_headerIcon.GetHeight(), iw = m_headerIcon.GetWidth();
      m_headerIcon.Draw(mem, (H - ih) / 2, (H - ih) / 2 - ScaleY(1));
      textLeft = H + (iw - ih);
    }
    RECT text{textLeft, 0, bandLeft, H - ScaleY(2)};
    HGDIOBJ oldFont = ::SelectObject(mem, m_hBoldFont);
    ::SetBkMode(mem, TRANSPARENT);
    ::SetTextColor(mem, GetTouchFlag() ? BlendColors(RGB(255, 255, 255), highlight, 225) : RGB(255, 255, 255));
    DrawTextEllipsis(mem, category, text, DT_SINGLELINE | DT_LEFT | DT_VCENTER, 0);
    ::SelectObject(mem, oldFont);
    FillSolid(mem, 0, B, width, B + ScaleY(1), GetTouchFlag() ? RGB(0, 0, 0) : RGB(255, 255, 255));
  }
  ::BitBlt(hdc, client.left, client.top, width, H, kept.dc->GetDC(), 0, 0, SRCCOPY);
  DrawBand(hdc);
}

void CChannelListDlg::DrawBand(HDC hdc) {
  CRect client;
  GetClientRect(&client);
  const int x0 = BandLeft(hdc), B = GetBandHeight();
  const int width = client.right - x0;
  if (width <= 0 || B <= 0) return;
  const COLORREF highlight = ::GetSysColor(COLOR_HIGHLIGHT);
  HDC mem = ::CreateCompatibleDC(hdc);
  HBITMAP bitmap = ::CreateCompatibleBitmap(hdc, width, B);
  HGDIOBJ oldBitmap = ::SelectObject(mem, bitmap);
  FillSolid(mem, 0, 0, width, B / 2, BlendColors(RGB(0, 0, 0), highlight, 160));
  FillSolid(mem, 0, B / 2, width, B, BlendColors(RGB(0, 0, 0), highlight, 175));
  if (m_bDownloadMode) {
    const int remaining = m_nProgress;
    CString text;
    if (remaining != 0) text.Format(u"%2d%%", 100 - remaining);
    int imageWidth = 0;
    if (m_downloadImage.HasImageHandle()) {
      imageWidth = m_downloadImage.GetWidth();
      m_downloadImage.Draw(mem, width - ScaleX(4) - imageWidth, B / 2 - m_downloadImage.GetHeight() / 2);
    }
    RECT box{0, 0, width - ScaleX(4) - imageWidth, B};
    HGDIOBJ oldFont = ::SelectObject(mem, m_hFont);
    ::SetBkMode(mem, TRANSPARENT);
    ::SetTextColor(mem, RGB(255, 255, 255));
    ::DrawTextW(mem, text, text.GetLength(), &box, DT_RIGHT | DT_VCENTER | DT_SINGLELINE);
    ::SelectObject(mem, oldFont);
  }
  ::BitBlt(hdc, x0, client.top, width, B, mem, 0, 0, SRCCOPY);
  ::SelectObject(mem, oldBitmap);
  ::DeleteObject(bitmap);
  ::DeleteDC(mem);
}

void CChannelListDlg::DrawProgressBand(int remaining) {
  if (remaining < 0) remaining = 0;
  if (remaining > 100) remaining = 100;
  m_nProgress = remaining;
  if (!m_hWnd) return;
  RECT band = BandRect();
  PaintNow(&band);
}

void CChannelListDlg::Refresh() {
  if (!m_hWnd) return;
  RECT header = HeaderRect();
  PaintNow(&header);
}

void CChannelListDlg::DrawBar(HDC hdc) {
  // Only a touch screen has the bar: a key device neither draws nor sizes
  // one.
  if (!m_pBar) return;
  m_pBar->DrawAtScreenBottom(m_hWnd, hdc, ScaleY(40));
}

void CChannelListDlg::SetDownloadMode(BOOL on) {
  m_bDownloadMode = on;
  if (m_pBar && m_hWnd) {
    m_pBar->SetButton(2, nullptr,
                      on ? ImageIdAtLeast192(IDR_PNG_BAR_CANCEL, IDR_PNG_BAR_CANCEL_192)
                         : ImageIdAtLeast192(IDR_PNG_BAR_REFRESH, IDR_PNG_BAR_REFRESH_192),
                      2);
    RECT bar = BarRect();
    PaintNow(&bar);
  }
  DrawProgressBand(0);
}

void CChannelListDlg::OnPaint() {
  const COLORREF highlight = ::GetSysColor(COLOR_HIGHLIGHT);
  if (highlight != m_highlight && m_pChannelList) {
    // Noted first: the list's redraw paints this window again.
    m_highlight = highlight;
    if (m_pBar) m_pBar->InvalidateBackground(1);
    LayoutList();
    m_view.Redraw(TRUE);
  }
  PAINTSTRUCT ps;
  HDC hdc = ::BeginPaint(m_hWnd, &ps);
  // Only the parts the paint covers: a row's change paints the row.
  RECT part, header = HeaderRect(), bar = BarRect();
  if (::IntersectRect(&part, &ps.rcPaint, &header)) DrawHeader(hdc, FALSE);
  if (m_pChannelList) {
    RECT list = m_view.Scroller().GetRect();
    if (::IntersectRect(&part, &ps.rcPaint, &list)) m_view.Paint(hdc);
  }
  if (::IntersectRect(&part, &ps.rcPaint, &bar)) DrawBar(hdc);
  ::EndPaint(m_hWnd, &ps);
}

BOOL CChannelListDlg::OnEraseBkgnd(CDC* dc) {
  if (dc) DrawHeader(dc->GetSafeHdc(), TRUE);
  return TRUE;
}

void CChannelListDlg::OnDestroy() {
  {
    CSingleLock hold(&m_runLock, TRUE);
    delete m_pOpml;
    m_pOpml = nullptr;
  }
  if (m_pChannelList) {
    m_view.RemoveAllItems();
    m_pChannelList = nullptr;
  }
  delete m_pBar;
  m_pBar = nullptr;
  Default();
}

void CChannelListDlg::OnActivate(UINT state, CWnd* other, BOOL minimized) {
  CDialog::OnActivate(state, other, minimized);
  OnActivateFullScreen(m_hWnd);
}

void CChannelListDlg::OnForwardCommand() {
  const MSG* current = GetCurrentMessage();
  if (CWnd* parent = GetParent()) parent->SendMessage(WM_COMMAND, LOWORD(current->wParam), 0);
}

void CChannelListDlg::OnOK() {
  if (m_pChannelList) m_view.OpenFocusedItem();
}

BOOL CChannelListDlg::PreTranslateMessage(MSG* msg) {
  if (msg && msg->message == WM_KEYDOWN) {
    if (msg->wParam == VK_LEFT) msg->wParam = VK_UP;
    else if (msg->wParam == VK_RIGHT) msg->wParam = VK_DOWN;
  }
  return CDialog::PreTranslateMessage(msg);
}

void CChannelListDlg::OnTimer(UINT_PTR id) {
  switch (id) {
    case CHANNEL_DLG_TIMER_MENU: {
      KillTimer(CHANNEL_DLG_TIMER_MENU);
      {
        CChannelListMenuDlg menu(this, CHANNEL_MENU_PAGE_MAIN);
        menu.DoModal();
      }
      // The channel list takes the keys again (an entry hid the menu before
      // it closed).
      if (CWnd* main = AfxGetMainWnd(); main && ::IsWindow(m_hWnd)) ::SetActiveWindow(main->GetSafeHwnd());
      return;
    }
    case CHANNEL_DLG_TIMER_CHOOSER: {
      KillTimer(CHANNEL_DLG_TIMER_CHOOSER);
      const CString shown = CurrentCategory();
      BOOL edited = FALSE;
      {
        CCategoryMenuDlg chooser(this);
        chooser.DoModal();
        edited = chooser.m_bCategoriesEdited;
      }
      // The program may have ended while the chooser showed.
      if (!::IsWindow(m_hWnd) || !m_pOwner) return;
      if (!GetTouchFlag())
        if (auto* frame = dynamic_cast<CScreenFrame*>(m_pOwner->HostWindow()->GetParent())) frame->CreateMenuBar();
      if (CurrentCategory() != shown || edited) m_pOwner->RefreshList();
      return;
    }
    case CHANNEL_DLG_TIMER_SPARE:
      KillTimer(CHANNEL_DLG_TIMER_SPARE);
      return;
    default:
      if (m_pChannelList) m_view.OnTimer(m_hWnd, id);
      else Default();
      return;
  }
}

void CChannelListDlg::OnLButtonDown(UINT, CPoint point) {
  SHRGINFO info{};
  info.cbSize = sizeof info;
  info.hwndClient = m_hWnd;
  info.ptDown = point;
  info.dwFlags = SHRG_RETURNCMD;
  if (m_pChannelList && SHRecognizeGesture(&info) == GN_CONTEXTMENU) {
    // The press was the menu's: the list never takes it as the start of a
    // drag (its release went to the menu), so the next press lands on the
    // row under it.
    ShowChannelMenu();
    return;
  }
  if (::IsWindow(m_hWnd)) Default();
}

void CChannelListDlg::ShowChannelMenu() {
  if (!m_pChannelList) return;
  m_view.Scroller().Tap(m_nLastX, m_nLastY - GetBandHeight());
  const int focused = m_view.GetFocusedItem();
  if (m_view.GetItemCount() == 0 || focused < 0) return;
  CString url;
  m_view.GetListItemTitle(focused, url);
  if (m_bHeadlinePhase && IsWaitingForRefresh(url)) return;
  CTouchPopupList popup;
  popup.AddItem(Localized(u"Cancel"), nullptr, ImageIdAtLeast192(261, 282), -1, 0);
  popup.AddItem(Localized(u"Mark All As Read"), nullptr, ImageIdAtLeast192(332, 338), -1, 6);
  popup.AddItem(Localized(u"Mark All As Unread"), nullptr, ImageIdAtLeast192(333, 339), -1, 7);
  popup.AddItem(Localized(u"Delete this Channel"), nullptr, ImageIdAtLeast192(331, 337), -1, 3);
  popup.AddItem(Localized(u"Change Category"), nullptr, ImageIdAtLeast192(328, 334), -1, 4);
  int chosen = popup.DoModal(AfxGetInstanceHandle(), 0, m_hWnd);
  if (!::IsWindow(m_hWnd)) return;
  UINT command = chosen == 3 ? ID_DELETE_CHANNEL
                 : chosen == 4 ? ID_CHANGE_CATEGORY
                 : chosen == 6 ? ID_MARK_READ
                 : chosen == 7 ? ID_MARK_UNREAD
                               : 0;
  if (command)
    if (CWnd* parent = GetParent()) parent->SendMessage(WM_COMMAND, command, 0);
}

void CChannelListDlg::OpenChannel(HWND, DWORD_PTR context, const CString& title, const CString& url, int channel,
                                  int) {
  auto* self = reinterpret_cast<CChannelListDlg*>(context);
  if (!self) return;
  if (self->m_bHeadlinePhase && self->IsWaitingForRefresh(url)) return;
  CScreenFrame* frame = ScreenFrame();
  if (!frame) return;
  const HeadlineCounts counts = frame->RunHeadlineList(title, url, channel, self);
  // The headline list may end with the program; one that ended before its
  // first load (or with its channel deleted) has no counts of the channel.
  if (!::IsWindow(self->m_hWnd) || !self->m_pChannelList) return;
  if (!counts.bKnown || counts.bChannelDeleted) return;
  const int items = counts.nItems, fresh = counts.nFresh;
  self->m_view.SetItemCounts(counts.nChannel, items, fresh);
  if (self->m_pOpml) {
    CString text;
    text.Format(u"%d", items);
    self->m_pOpml->SetChannelAttribute(url, u"itemCount", text);
    text.Format(u"%d", fresh);
    self->m_pOpml->SetChannelAttribute(url, u"newItemCount", text);
  }
}

LRESULT CChannelListDlg::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_MAKE_CHANNEL_ICON)
    return MakeChannelIcon(reinterpret_cast<LPCWSTR>(wParam), reinterpret_cast<LPCWSTR>(lParam)) ? 1 : 0;
  if (m_pChannelList) {
    const int x = short(LOWORD(lParam)), y = short(HIWORD(lParam));
    CRect client;
    if (message == WM_LBUTTONDOWN || message == WM_MOUSEMOVE || message == WM_LBUTTONUP) GetClientRect(&client);
    const bool onBar = m_pBar && y > client.bottom - ScaleY(40);
    switch (message) {
      case WM_KEYDOWN:
        if (wParam == VK_RETURN) m_view.OpenFocusedItem();
        else if (wParam == VK_UP) m_view.FocusPrevious();
        else if (wParam == VK_DOWN) m_view.FocusNext();
        break;
      case WM_LBUTTONDOWN:
      case WM_MOUSEMOVE: {
        m_nLastX = x;
        m_nLastY = y;
        if (onBar || (message == WM_MOUSEMOVE && m_barPress.IsPressed())) {
          if (m_barPress.Track(message, *m_pBar, x, y, onBar)) {
            RECT bar = BarRect();
            PaintNow(&bar);
          }
          return -1;
        }
        if (y < GetBandHeight() && message == WM_LBUTTONDOWN) return -1;
        break;
      }
      case WM_LBUTTONUP:
        if (m_barPress.IsPressed() && m_pBar) {
          const int command = m_barPress.Up(*m_pBar, x, y);
          RECT bar = BarRect();
          PaintNow(&bar);
          if (command == 0) {
            m_view.ClearFocus();
            SetTimer(CHANNEL_DLG_TIMER_CHOOSER, 5, nullptr);
          } else if (command == 1) {
            SetTimer(CHANNEL_DLG_TIMER_MENU, 5, nullptr);
          } else if (command == 2) {
            if (CWnd* parent = GetParent()) parent->SendMessage(WM_COMMAND, ID_REFRESH_CHANNELS, 0);
          }
          return 1;
        }
        break;
      default:
        break;
    }
  }
  return CDialog::WindowProc(message, wParam, lParam);
}

LRESULT CChannelListDlg::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_LBUTTONDOWN:
    case WM_MOUSEMOVE:
    case WM_LBUTTONUP: {
      if (!m_pChannelList) break;
      const int x = short(LOWORD(lParam)), y = short(HIWORD(lParam));
      if (message == WM_LBUTTONDOWN) return m_view.OnPointerDown(m_hWnd, x, y) ? 0 : 0;
      if (message == WM_MOUSEMOVE) return m_view.OnPointerMove(m_hWnd, x, y) ? 0 : 0;
      return m_view.OnPointerUp(m_hWnd, x, y) ? 0 : 0;
    }
    case WM_CELL_EDIT_END:
      SipShowIM(SIPF_OFF);
      if (CWnd* parent = GetParent()) parent->SendMessage(WM_CELL_EDIT_END, 0, 0);
      return 0;
    default:
      break;
  }
  return CDialog::DefWindowProc(message, wParam, lParam);
}

BOOL CChannelListDlg::LoadChannelList(LPCWSTR path) {
  if (!m_pOpml) {
    if (m_pOwner) m_pOpml = new COpmlXML(ReportChannelOutlineTo, m_pOwner, 1);
    else return FALSE;
  }
  m_pOpml->SetPath(path, 1);
  ReloadRows();
  return m_bLastLoadOk;
}

void CChannelListDlg::ReloadRows() {
  if (m_pChannelList) m_view.RemoveAllItems();
  m_bLastLoadOk = FALSE;
  if (m_pOpml) {
    {
      CSingleLock hold(&m_runLock, TRUE);
      m_reloadTitles.RemoveAll();
      m_reloadCategories.RemoveAll();
      m_reloadUrls.RemoveAll();
    }
    if (m_pOwner) m_pOwner->ForgetSubscriptions();
    std::lock_guard<std::recursive_mutex> hold(m_pOpml->Lock());
    CString path = m_pOpml->GetPath();
    if (!FileAccess(path)) m_pOpml->CreateEmpty();
    else if (m_pOpml->LoadAndWalk(path)) m_bLastLoadOk = TRUE;
    else m_pOpml->CreateEmpty();
  }
  if (m_pChannelList) {
    m_view.SetShowEmptyText(TRUE);
    for (int i = 0, n = m_view.GetItemCount(); i < n; ++i) m_view.ReleaseItemCache(i);
    if (!GetTouchFlag() && m_view.GetItemCount() > 0 && m_view.GetFocusedItem() < 0) m_view.FocusNext();
    m_view.Redraw(TRUE);
  }
}

BOOL CChannelListDlg::MakeChannelIcon(LPCWSTR thumbnailPath, LPCWSTR imagePath) {
  if (!thumbnailPath || !imagePath) return FALSE;
  qk::gdi::DecodedImage image;
  if (!qk::gdi::DecodeImageFile(imagePath, &image)) return FALSE;
  const int size = GetTouchFlag() ? ScaleX(32) : 32;
  const int side = image.width < image.height ? image.width : image.height;
  if (size <= 0 || side < size) return FALSE;
  const int left = (image.width - side) / 2, top = (image.height - side) / 2;
  const int stride = (size * 3 + 3) & ~3;
  std::vector<BYTE> pixels(size_t(stride) * size_t(size), 0);
  // Each thumbnail pixel is the mean of its block of the square, composed
  // over white.
  for (int y = 0; y < size; ++y) {
    int y0 = top + y * side / size, y1 = top + (y + 1) * side / size;
    for (int x = 0; x < size; ++x) {
      int x0 = left + x * side / size, x1 = left + (x + 1) * side / size;
      unsigned long sum[3] = {0, 0, 0}, count = 0;
      for (int sy = y0; sy < y1; ++sy)
        for (int sx = x0; sx < x1; ++sx) {
          const uint8_t* p = &image.bgra[(size_t(sy) * size_t(image.width) + size_t(sx)) * 4];
          unsigned alpha = p[3];
          for (int c = 0; c < 3; ++c) sum[c] += (p[c] * alpha + 255u * (255u - alpha)) / 255u;
          ++count;
        }
      // Rows bottom first, as a ".bmp" file keeps them.
      BYTE* out = &pixels[size_t(size - 1 - y) * size_t(stride) + size_t(x) * 3];
      for (int c = 0; c < 3; ++c) out[c] = BYTE(count ? sum[c] / count : 255);
    }
  }
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = size;
  info.bmiHeader.biHeight = size;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 24;
  info.bmiHeader.biCompression = BI_RGB;
  info.bmiHeader.biSizeImage = DWORD(pixels.size());
  CDib dib;
  if (!dib.CreateFromInfo(&info, pixels.data())) return FALSE;
  return dib.Save(thumbnailPath) ? TRUE : FALSE;
}
