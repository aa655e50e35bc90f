#include "quillet/screens/menu_screen.h"

#include "quillet/screens/screen_frame.h"
#include "quillet/screens/screen_messages.h"
#include "quillet/screens/screen_util.h"
#include "quillet/ui/density.h"
#include "quillet/ui/touch_image.h"
#include "shell/aygshell.h"

BEGIN_MESSAGE_MAP(CMenuScreen, CDialog)
ON_WM_PAINT()
ON_WM_ERASEBKGND()
ON_WM_SIZE()
ON_WM_ACTIVATE()
END_MESSAGE_MAP()

void SendCommandToChannelList(UINT id) {
  if (CChannelListHost* window = ChannelListHost()) window->HostWindow()->SendMessage(WM_COMMAND, id, 0);
}

CMenuScreen::CMenuScreen(UINT templateId, CWnd* parent) : CDialog(templateId, parent) {
  m_highlight = ::GetSysColor(COLOR_HIGHLIGHT);
}

CMenuScreen::~CMenuScreen() {
  if (m_hWnd && ::IsWindow(m_hWnd)) DestroyWindow();
  for (Page& page : m_pages) {
    delete page.list;
    delete page.bar;
  }
}

CTouchMenuList* CMenuScreen::CurrentList() const {
  return m_nPage < static_cast<int>(m_pages.size()) ? m_pages[m_nPage].list : nullptr;
}

CImageButtonBar* CMenuScreen::CurrentBar() const {
  return m_nPage < static_cast<int>(m_pages.size()) ? m_pages[m_nPage].bar : nullptr;
}

int CMenuScreen::GetListHeight() const {
  CRect client, window;
  ::GetClientRect(m_hWnd, &client);
  ::GetWindowRect(m_hWnd, &window);
  int height = GetTouchFlag() ? ::GetSystemMetrics(SM_CYSCREEN) - Dy(40) - window.top - client.top : client.Height();
  return height < 0 ? 0 : height;
}

void CMenuScreen::PlaceOnScreen(BOOL keyMenuBar) {
  InitScreenDpi(0);
  SHINITDLGINFO init = {SHIDIM_FLAGS, m_hWnd,
                        static_cast<DWORD>(keyMenuBar ? SHIDIF_SIZEDLGFULLSCREEN : SHIDIF_FULLSCREENNOMENUBAR)};
  SHInitDialog(&init);
  if (!keyMenuBar) {
    SHFullScreen(m_hWnd, SHFS_HIDESIPBUTTON);
    if (HWND bar = SHFindMenuBar(m_hWnd)) ::ShowWindow(bar, SW_HIDE);
  }
}

CTouchMenuList* CMenuScreen::AddPage(TouchMenuClickCallback callback, BOOL withBar) {
  Page page;
  m_pages.push_back(page);
  CTouchMenuList* list = RebuildList(static_cast<int>(m_pages.size()) - 1, callback);
  if (withBar && GetTouchFlag()) {
    m_pages.back().bar = new CImageButtonBar();
    m_pages.back().bar->LoadPressedImage(nullptr, ImageIdAt192(IDR_PNG_BAR_PRESSED, IDR_PNG_BAR_PRESSED_192));
  }
  return list;
}

CTouchMenuList* CMenuScreen::RebuildList(int page, TouchMenuClickCallback callback) {
  delete m_pages[page].list;
  CRect client;
  GetClientRect(&client);
  auto* list = new CTouchMenuList(TRUE, TRUE);
  list->Create(reinterpret_cast<DWORD_PTR>(this), m_hWnd, 0, 0, client.Width(), GetListHeight(), callback);
  m_pages[page].list = list;
  return list;
}

void CMenuScreen::SetBarButton(int page, int slot, UINT low, UINT high, UINT command) {
  if (CImageButtonBar* bar = m_pages[page].bar) bar->SetButton(slot, nullptr, ImageIdAt192(low, high), command);
}

void CMenuScreen::ShowPage(int page) {
  m_nPage = page;
  m_barPress.Clear();
  if (CTouchMenuList* list = CurrentList()) {
    CRect client;
    GetClientRect(&client);
    list->Resize(client.Width(), GetListHeight());
  }
  HDC hdc = ::GetDC(m_hWnd);
  Draw(hdc);
  ::ReleaseDC(m_hWnd, hdc);
}

void CMenuScreen::Draw(HDC hdc) {
  CRect client;
  GetClientRect(&client);
  // Through a memory bitmap: the page colour, the bar, then the rows.
  HDC mem = ::CreateCompatibleDC(hdc);
  HBITMAP bitmap = ::CreateCompatibleBitmap(hdc, client.Width(), client.Height() + Dy(1));
  HGDIOBJ old = ::SelectObject(mem, bitmap);
  FillSolid(mem, 0, 0, client.Width(), client.Height() + Dy(1),
            BlendColors(RGB(0, 0, 0), ::GetSysColor(COLOR_HIGHLIGHT), 160));
  if (CImageButtonBar* bar = CurrentBar()) bar->DrawAtScreenBottom(m_hWnd, mem, Dy(40));
  if (CTouchMenuList* list = CurrentList()) list->Paint(mem);
  ::BitBlt(hdc, 0, 0, client.Width(), client.Height(), mem, 0, 0, SRCCOPY);
  ::SelectObject(mem, old);
  ::DeleteObject(bitmap);
  ::DeleteDC(mem);
}

void CMenuScreen::ResizeLists() {
  CRect client;
  GetClientRect(&client);
  for (Page& page : m_pages)
    if (page.list) page.list->Resize(client.Width(), GetListHeight());
}

void CMenuScreen::OnPaint() {
  const COLORREF highlight = ::GetSysColor(COLOR_HIGHLIGHT);
  if (highlight != m_highlight) {
    ResizeLists();
    for (Page& page : m_pages) {
      if (page.list) page.list->RefreshItems(FALSE);
      if (page.bar) page.bar->InvalidateBackground(1);
    }
    m_highlight = highlight;
  }
  PAINTSTRUCT ps;
  HDC hdc = ::BeginPaint(m_hWnd, &ps);
  Draw(hdc);
  ::EndPaint(m_hWnd, &ps);
}

BOOL CMenuScreen::OnEraseBkgnd(CDC* dc) {
  if (dc) Draw(dc->GetSafeHdc());
  return TRUE;
}

void CMenuScreen::OnSize(UINT, int, int) {
  Default();
  SetWindowText(GetTouchFlag() ? u"Quillet Reach" : u"Quillet");
  if (CTouchMenuList* list = CurrentList()) {
    CRect client;
    GetClientRect(&client);
    list->Resize(client.Width(), GetListHeight());
  }
}

void CMenuScreen::OnActivate(UINT state, CWnd* other, BOOL minimized) {
  CDialog::OnActivate(state, other, minimized);
  if (GetTouchFlag() || !SHFindMenuBar(m_hWnd)) OnActivateFullScreen(m_hWnd);
}

void CMenuScreen::RedrawBar() {
  CImageButtonBar* bar = CurrentBar();
  if (!bar) return;
  HDC hdc = ::GetDC(m_hWnd);
  bar->DrawAtScreenBottom(m_hWnd, hdc, Dy(40));
  ::ReleaseDC(m_hWnd, hdc);
}

BOOL CMenuScreen::PreTranslateMessage(MSG* msg) {
  CTouchMenuList* list = CurrentList();
  if (msg && msg->message == WM_KEYDOWN && list && IsWithin(m_hWnd, msg->hwnd)) {
    switch (msg->wParam) {
      case VK_RETURN:
        list->ClickSelected();
        return TRUE;
      case VK_LEFT:
      case VK_RIGHT:
        if (!m_bSideKeysMove) break;
        [[fallthrough]];
      case VK_UP:
      case VK_DOWN:
        if (msg->wParam == VK_UP || msg->wParam == VK_LEFT) list->SelectPrevious();
        else list->SelectNext();
        return TRUE;
      default:
        break;
    }
  }
  return CDialog::PreTranslateMessage(msg);
}

LRESULT CMenuScreen::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  CTouchMenuList* list = CurrentList();
  if (!list) return CDialog::WindowProc(message, wParam, lParam);
  CImageButtonBar* bar = CurrentBar();
  const int x = short(LOWORD(lParam)), y = short(HIWORD(lParam));
  switch (message) {
    case WM_TIMER:
      list->OnTimer(m_hWnd, wParam);
      return 0;
    case WM_LBUTTONDOWN: {
      CRect client;
      GetClientRect(&client);
      if (bar && y > client.bottom - Dy(40)) {
        m_barPress.Down(*bar, x, y);
        RedrawBar();
        return -1;
      }
      list->OnPointerDown(m_hWnd, wParam, lParam);
      return 0;
    }
    case WM_MOUSEMOVE: {
      if (bar && m_barPress.IsPressed()) {
        CRect client;
        GetClientRect(&client);
        if (m_barPress.Move(*bar, x, y, y > client.bottom - Dy(40))) RedrawBar();
        return -1;
      }
      list->OnPointerMove(m_hWnd, wParam, lParam);
      return 0;
    }
    case WM_LBUTTONUP: {
      if (!bar || !m_barPress.IsPressed()) {
        list->OnPointerUp(m_hWnd, wParam, lParam);
        return 0;
      }
      const int command = m_barPress.Up(*bar, x, y);
      RedrawBar();
      if (command >= 0) OnBarCommand(command);
      return 1;
    }
    default:
      return CDialog::WindowProc(message, wParam, lParam);
  }
}

BOOL SendOptionEntry(UINT id, UINT aboutId) {
  UINT command = 0;
  switch (id) {
    case 101: command = ID_OPTIONS_GENERAL; break;
    case 102: command = ID_OPTIONS_AUTO_UPDATE; break;
    case 103: command = ID_OPTIONS_STORAGE; break;
    case 104: command = ID_OPTIONS_NETWORK; break;
    default:
      if (id != aboutId) return FALSE;
      command = ID_APP_ABOUT_COMMAND;
  }
  SendCommandToChannelList(command);
  return TRUE;
}
