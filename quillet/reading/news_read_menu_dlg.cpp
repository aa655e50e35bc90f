#include "quillet/reading/news_read_menu_dlg.h"

#include "common/localize.h"
#include "quillet/reading/news_read_dlg.h"
#include "quillet/screens/screen_messages.h"
#include "quillet/screens/screen_util.h"
#include "quillet/ui/density.h"
#include "shell/aygshell.h"

namespace {

constexpr int kBarHeight96 = 40;
constexpr UINT kCloseCode = 1;

// The entries, smallest first (the index is the size), with their codes and
// the view's commands.
struct Entry {
  const char16_t* text;
  UINT code;
  UINT command;
};
constexpr Entry kEntries[] = {{u"Smallest Font", 6, ID_FONT_SMALLEST},
                              {u"Smaller Font", 5, ID_FONT_SMALLER},
                              {u"Medium Font", 4, ID_FONT_MEDIUM},
                              {u"Larger Font", 3, ID_FONT_LARGER},
                              {u"Largest Font", 2, ID_FONT_LARGEST}};

LPCWSTR Caption() { return GetTouchFlag() ? u"Quillet Reach" : u"Quillet"; }

int CheckImage() {
  if (!GetTouchFlag()) return IDR_PNG_FONT_SELECTED_KEY;
  return static_cast<int>(ImageIdAt192(IDR_PNG_OK, IDR_PNG_OK_192));
}

}  // namespace

BEGIN_MESSAGE_MAP(CNewsReadMenuDlg, CHtmlHostDialog)
ON_WM_SIZE()
ON_WM_ERASEBKGND()
ON_WM_PAINT()
ON_WM_ACTIVATE()
ON_WM_DESTROY()
END_MESSAGE_MAP()

CNewsReadMenuDlg::CNewsReadMenuDlg(CWnd* parent) : CHtmlHostDialog(IDD_NEWS_READ_MENU, parent, TRUE) {
  m_highlight = ::GetSysColor(COLOR_HIGHLIGHT);
}

CNewsReadMenuDlg::~CNewsReadMenuDlg() {
  if (m_hWnd && ::IsWindow(m_hWnd)) DestroyWindow();
  delete m_pList;
  delete m_pBar;
}

int CNewsReadMenuDlg::BarHeight() const { return ScaleY(kBarHeight96); }

BOOL CNewsReadMenuDlg::OnInitDialog() {
  CHtmlHostDialog::OnInitDialog();
  SetWindowText(Caption());
  InitScreenDpi(0);
  SHFullScreen(m_hWnd, SHFS_HIDESIPBUTTON);
  if (HWND bar = SHFindMenuBar(m_hWnd)) ::ShowWindow(bar, SW_HIDE);
  RECT r{};
  ::GetWindowRect(m_hWnd, &r);
  ::MoveWindow(m_hWnd, r.left, r.top, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN) - r.top, TRUE);
  BuildEntries();
  m_pBar = new CImageButtonBar();
  m_pBar->LoadPressedImage(nullptr, ImageIdAt192(IDR_PNG_BAR_PRESSED, IDR_PNG_BAR_PRESSED_192));
  m_pBar->SetButton(4, nullptr, ImageIdAt192(IDR_PNG_CANCEL, IDR_PNG_CANCEL_192), kCloseCode);
  return TRUE;
}

void CNewsReadMenuDlg::BuildEntries() {
  InitScreenDpi(0);
  delete m_pList;
  m_pList = new CTouchMenuList(FALSE, TRUE);
  RECT client{};
  ::GetClientRect(m_hWnd, &client);
  m_pList->Create(0, m_hWnd, 0, 0, client.right, client.bottom - BarHeight(), OnEntryClicked);
  const int current = CNewsReadDlg::LoadFontSizeSetting();
  for (int i = 0; i < 5; ++i) {
    const bool marked = i == current;
    CTouchListItem* item = m_pList->AddItem(Localized(kEntries[i].text), nullptr, -1, marked ? CheckImage() : -1,
                                            kEntries[i].code);
    if (item && marked) item->m_nCheckValue = 1;
  }
  m_pList->RefreshItems(FALSE);
}

void CNewsReadMenuDlg::OnEntryClicked(HWND window, DWORD_PTR, UINT code, CTouchListItem*) {
  if (auto* self = dynamic_cast<CNewsReadMenuDlg*>(CWnd::FromHandlePermanent(window))) self->OnEntry(code);
}

void CNewsReadMenuDlg::OnEntry(UINT code) {
  if (code == kCloseCode) {
    SendMessage(WM_CLOSE);
    return;
  }
  for (const Entry& e : kEntries)
    if (e.code == code) {
      // The menu goes first; the view then applies the size.
      HWND view = ::GetParent(m_hWnd);
      SendMessage(WM_CLOSE);
      if (view) ::SendMessageW(view, WM_COMMAND, e.command, 0);
      return;
    }
}

LRESULT CNewsReadMenuDlg::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  if (m_pList && m_pBar) {
    if (message == WM_TIMER) {
      m_pList->OnTimer(m_hWnd, wParam);
      return 0;
    }
    if (message == WM_LBUTTONDOWN || message == WM_MOUSEMOVE || message == WM_LBUTTONUP) {
      const int x = short(LOWORD(lParam)), y = short(HIWORD(lParam));
      RECT client{};
      ::GetClientRect(m_hWnd, &client);
      const bool onBar = y >= client.bottom - BarHeight();
      auto redrawBar = [&] {
        HDC hdc = ::GetDC(m_hWnd);
        DrawBar(hdc);
        ::ReleaseDC(m_hWnd, hdc);
      };
      // The list has the pointer unless the press was on the bar (a drag of
      // the list that runs over the bar stays the list's).
      if (!m_barPress.IsPressed() && !(onBar && message == WM_LBUTTONDOWN)) {
        if (message == WM_LBUTTONDOWN) m_pList->OnPointerDown(m_hWnd, wParam, lParam);
        else if (message == WM_MOUSEMOVE) m_pList->OnPointerMove(m_hWnd, wParam, lParam);
        else m_pList->OnPointerUp(m_hWnd, wParam, lParam);
        return 0;
      }
      if (message == WM_LBUTTONDOWN) {
        m_barPress.Down(*m_pBar, x, y);
        redrawBar();
      } else if (message == WM_MOUSEMOVE) {
        if (m_barPress.Move(*m_pBar, x, y, onBar)) redrawBar();
      } else {
        const int code = m_barPress.Up(*m_pBar, x, y);
        redrawBar();
        if (code == static_cast<int>(kCloseCode)) EndDialog(IDOK);
      }
      return 0;
    }
  }
  return CHtmlHostDialog::WindowProc(message, wParam, lParam);
}

void CNewsReadMenuDlg::OnSize(UINT, int, int) {
  Default();
  SetWindowText(Caption());
  if (!m_pList) return;
  RECT client{};
  ::GetClientRect(m_hWnd, &client);
  m_pList->Resize(client.right, client.bottom - BarHeight());
}

void CNewsReadMenuDlg::DrawBar(HDC hdc) {
  if (m_pBar && hdc) m_pBar->DrawAtScreenBottom(m_hWnd, hdc, BarHeight());
}

BOOL CNewsReadMenuDlg::OnEraseBkgnd(CDC* dc) {
  if (!dc) return TRUE;
  HDC hdc = dc->GetSafeHdc();
  RECT client{};
  ::GetClientRect(m_hWnd, &client);
  if (client.right <= 0 || client.bottom <= 0) return TRUE;
  HDC mem = ::CreateCompatibleDC(hdc);
  HBITMAP bitmap = ::CreateCompatibleBitmap(hdc, client.right, client.bottom);
  HGDIOBJ old = ::SelectObject(mem, bitmap);
  FillSolid(mem, 0, 0, client.right, client.bottom, BlendColors(RGB(0, 0, 0), ::GetSysColor(COLOR_HIGHLIGHT), 160));
  DrawBar(mem);
  ::BitBlt(hdc, 0, 0, client.right, client.bottom, mem, 0, 0, SRCCOPY);
  ::SelectObject(mem, old);
  ::DeleteObject(bitmap);
  ::DeleteDC(mem);
  return TRUE;
}

void CNewsReadMenuDlg::OnPaint() {
  const COLORREF highlight = ::GetSysColor(COLOR_HIGHLIGHT);
  if (highlight != m_highlight) {
    if (m_pList) {
      RECT client{};
      ::GetClientRect(m_hWnd, &client);
      m_pList->Resize(client.right, client.bottom - BarHeight());
      m_pList->RefreshItems(FALSE);
    }
    if (m_pBar) m_pBar->InvalidateBackground(1);
    m_highlight = highlight;
  }
  PAINTSTRUCT ps;
  HDC hdc = ::BeginPaint(m_hWnd, &ps);
  if (m_pList) m_pList->Paint(hdc);
  DrawBar(hdc);
  ::EndPaint(m_hWnd, &ps);
}

void CNewsReadMenuDlg::OnActivate(UINT state, CWnd* other, BOOL minimized) {
  CHtmlHostDialog::OnActivate(state, other, minimized);
  OnActivateFullScreen(m_hWnd);
}

void CNewsReadMenuDlg::OnDestroy() {
  Default();
  delete m_pBar;
  m_pBar = nullptr;
}
