#include "quillet/new_channel/welcome_dlg.h"

#include "common/localize.h"
#include "quillet/new_channel/wizard_chrome.h"
#include "quillet/screens/screen_messages.h"
#include "quillet/screens/screen_util.h"
#include "quillet/ui/density.h"
#include "quillet/ui/painted_list.h"
#include "quillet/ui/touch_image.h"
#include "shell/aygshell.h"

namespace {

constexpr UINT kWizardMenuBar = 347;
constexpr int kBarCommandNext = 1;

struct Shades {
  COLORREF dark, mid, light;
};

Shades ShadesOf(COLORREF highlight) {
  return {BlendColors(RGB(0, 0, 0), highlight, 160), BlendColors(RGB(0, 0, 0), highlight, 70),
          BlendColors(RGB(255, 255, 255), highlight, 225)};
}

}  // namespace

BEGIN_MESSAGE_MAP(CWelcomeDlg, CDialog)
ON_COMMAND(IDOK, CallOnOK)
ON_COMMAND(IDCANCEL, CallOnOK)
ON_WM_SIZE()
ON_WM_ERASEBKGND()
ON_WM_PAINT()
ON_WM_ACTIVATE()
END_MESSAGE_MAP()

CWelcomeDlg::CWelcomeDlg(CWnd* parent) : CDialog(IDD_WELCOME, parent) {
  m_hFont = CreateWizardFont(FALSE);
  m_hBoldFont = CreateWizardFont(TRUE);
  m_highlight = ::GetSysColor(COLOR_HIGHLIGHT);
}

CWelcomeDlg::~CWelcomeDlg() {
  if (m_hWnd && ::IsWindow(m_hWnd)) DestroyWindow();
  if (m_hFont) ::DeleteObject(m_hFont);
  if (m_hBoldFont) ::DeleteObject(m_hBoldFont);
  delete m_pBar;
  m_pBar = nullptr;
}

void CWelcomeDlg::DoDataExchange(CDataExchange* dx) {
  CDialog::DoDataExchange(dx);
  DDX_Control(dx, IDC_WELCOME_TITLE, m_title);
  DDX_Control(dx, IDC_WELCOME_BAND, m_band);
}

CString CWelcomeDlg::BodyText() {
  CString text = Localized(u"Quillet helps you manage and download all news headlines from the Internet.");
  text += GetTouchFlag() ? u"\n\n" : u"\r\n\r\n";
  text += Localized(u"To add some news channels, tap the Next button below to start the New Channel Wizard.");
  return text;
}

void CWelcomeDlg::SetTitleText() { SetWindowText(GetTouchFlag() ? u"Quillet Reach" : u"Quillet"); }

BOOL CWelcomeDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  SetTitleText();
  InitScreenDpi(0);
  const BOOL touch = GetTouchFlag();
  // Below the task bar, above the soft keys; the touch edition then takes
  // the screen down to its bottom.
  SHINITDLGINFO init{SHIDIM_FLAGS, m_hWnd, SHIDIF_SIZEDLGFULLSCREEN};
  SHInitDialog(&init);
  if (touch) {
    SHFullScreen(m_hWnd, SHFS_HIDESIPBUTTON);
    if (HWND bar = SHFindMenuBar(m_hWnd)) ::ShowWindow(bar, SW_HIDE);
    CRect frame;
    GetWindowRect(&frame);
    ::SetWindowPos(m_hWnd, nullptr, frame.left, frame.top, ::GetSystemMetrics(SM_CXSCREEN),
                   ::GetSystemMetrics(SM_CYSCREEN) - frame.top, SWP_NOZORDER | SWP_SHOWWINDOW);
  } else {
    HWND bar = CreateMenuBar(m_hWnd, kWizardMenuBar);
    if (!bar) return TRUE;
    SetSoftKeyText(bar, IDOK, u"OK");
    ::SendMessageW(bar, TB_HIDEBUTTON, IDOK, TRUE);
    SetSoftKeyText(bar, IDCANCEL, u"Continue");
    ::DrawMenuBar(bar);
  }
  m_title.SetFontHeight(ScaleY(20));
  m_title.SetOption(1);
  m_title.SetWindowText(Localized(u"Welcome to Quillet!"));
  if (CWnd* body = GetDlgItem(IDC_WELCOME_BODY)) body->SetWindowText(BodyText());
  if (CWnd* button = GetDlgItem(IDOK)) button->SetWindowText(Localized(u"Continue >>"));
  if (touch) {
    m_pBar = new CImageButtonBar();
    m_pBar->LoadPressedImage(nullptr, ImageIdAt192(IDR_PNG_BAR_PRESSED, IDR_PNG_BAR_PRESSED_192));
    m_pBar->SetButton(4, nullptr, ImageIdAt192(IDR_PNG_BAR_NEXT, IDR_PNG_BAR_NEXT_192), kBarCommandNext);
    m_band.ShowWindow(SW_HIDE);
  } else {
    const Shades shades = ShadesOf(::GetSysColor(COLOR_HIGHLIGHT));
    m_band.SetTextColor(RGB(255, 255, 255));
    m_band.SetBkColor(shades.dark);
    m_band.SetWindowText(BodyText());
    m_band.ShowWindow(SW_SHOW);
  }
  CRect client;
  GetClientRect(&client);
  OnSize(0, client.Width(), client.Height());
  return TRUE;
}

void CWelcomeDlg::OnSize(UINT, int cx, int cy) {
  Default();
  SetTitleText();
  InitScreenDpi(0);
  CWnd* button = GetDlgItem(IDOK);
  CRect buttonRect(0, 0, 0, 0);
  if (button) {
    button->GetWindowRect(&buttonRect);
    const int w = buttonRect.Width(), h = buttonRect.Height();
    button->MoveWindow(cx - 4 - w, cy - 4 - h, w, h, TRUE);
    buttonRect = CRect(cx - 4 - w, cy - 4 - h, cx - 4, cy - 4);
  }
  if (m_title.m_hWnd) m_title.MoveWindow(4, -2, cx - 8, ScaleY(56), TRUE);
  const int bodyTop = -2 + ScaleY(56);
  if (CWnd* body = GetDlgItem(IDC_WELCOME_BODY)) {
    const int bottom = buttonRect.top > bodyTop ? buttonRect.top : cy;
    body->MoveWindow(8, bodyTop, cx - 16, bottom - bodyTop, TRUE);
  }
  if (m_band.m_hWnd && (m_band.GetStyle() & WS_VISIBLE)) {
    // Below the title band, to the page's bottom edge.
    const int top = 29 + 8;
    m_band.MoveWindow(8, top, cx - 16, cy - 8 - top > 0 ? cy - 8 - top : 0, TRUE);
    ::SetWindowPos(m_band.m_hWnd, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  }
  Invalidate(FALSE);
}

void CWelcomeDlg::DrawBar(HDC hdc) {
  if (m_pBar && hdc) m_pBar->DrawAtScreenBottom(m_hWnd, hdc, ScaleY(40), TRUE);
}

void CWelcomeDlg::DrawPage(HDC hdc) {
  if (!hdc) return;
  InitScreenDpi(0);
  const BOOL touch = GetTouchFlag();
  CRect client, frame;
  GetClientRect(&client);
  GetWindowRect(&frame);
  const int width = ::GetSystemMetrics(SM_CXSCREEN);
  const int height = ::GetSystemMetrics(SM_CYSCREEN) - frame.top;
  if (width <= 0 || height <= 0) return;
  const Shades shades = ShadesOf(::GetSysColor(COLOR_HIGHLIGHT));

  HDC mem = ::CreateCompatibleDC(hdc);
  HBITMAP bitmap = ::CreateCompatibleBitmap(hdc, width, height);
  HGDIOBJ oldBitmap = ::SelectObject(mem, bitmap);
  FillSolid(mem, 0, 0, width, height, shades.dark);
  if (touch) {
    const int top = ScaleY(52), bottom = height - ScaleY(40);
    if (bottom > top) {
      TRIVERTEX v[2];
      SetTriVertex(&v[0], 0, top, shades.dark);
      SetTriVertex(&v[1], width, bottom, shades.mid);
      GRADIENT_RECT rect{0, 1};
      ::GradientFill(mem, v, 2, &rect, 1, GRADIENT_FILL_RECT_V);
    }
  }
  ::SetBkMode(mem, TRANSPARENT);
  HGDIOBJ oldFont = ::SelectObject(mem, m_hBoldFont);
  ::SetTextColor(mem, RGB(255, 255, 255));
  const UINT line = DT_SINGLELINE | DT_VCENTER | DT_LEFT | DT_NOPREFIX;
  CString title = Localized(u"Welcome to Quillet!");
  RECT titleBox = touch ? RECT{ScaleX(8), 0, client.right - ScaleX(8), ScaleY(32)} : RECT{ScaleX(4), 0, client.right, 28};
  DrawTextEllipsis(mem, title, titleBox, line, 0);
  if (touch) {
    ::SelectObject(mem, m_hFont);
    ::SetTextColor(mem, shades.light);
    RECT guide{ScaleX(8), ScaleY(22), client.right - ScaleX(8), ScaleY(51)};
    DrawTextEllipsis(mem, Localized(u"Getting started with Quillet Guide"), guide, line, 0);
    ::SetTextColor(mem, RGB(255, 255, 255));
    RECT body{ScaleX(8), ScaleY(51) + ScaleY(12), client.right - ScaleX(8), height - ScaleY(40)};
    CString text = BodyText();
    ::DrawTextW(mem, text, -1, &body, DT_WORDBREAK | DT_LEFT | DT_NOPREFIX);
    DrawBar(mem);
  }
  ::SelectObject(mem, oldFont);
  ::BitBlt(hdc, 0, 0, width, height, mem, 0, 0, SRCCOPY);
  ::SelectObject(mem, oldBitmap);
  ::DeleteObject(bitmap);
  ::DeleteDC(mem);
}

BOOL CWelcomeDlg::OnEraseBkgnd(CDC* dc) {
  if (dc) DrawPage(dc->GetSafeHdc());
  return TRUE;
}

void CWelcomeDlg::OnPaint() {
  const COLORREF highlight = ::GetSysColor(COLOR_HIGHLIGHT);
  if (highlight != m_highlight) {
    m_highlight = highlight;
    if (m_pBar) m_pBar->InvalidateBackground(1);
    if (m_band.m_hWnd) m_band.SetBkColor(ShadesOf(highlight).dark);
  }
  PAINTSTRUCT ps;
  HDC hdc = ::BeginPaint(m_hWnd, &ps);
  DrawPage(hdc);
  ::EndPaint(m_hWnd, &ps);
}

void CWelcomeDlg::OnActivate(UINT state, CWnd* other, BOOL minimized) {
  CDialog::OnActivate(state, other, minimized);
  OnActivateFullScreen(m_hWnd);
}

LRESULT CWelcomeDlg::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  if (m_pBar && (message == WM_LBUTTONDOWN || message == WM_MOUSEMOVE || message == WM_LBUTTONUP)) {
    const int x = short(LOWORD(lParam)), y = short(HIWORD(lParam));
    CRect client;
    GetClientRect(&client);
    const bool onBar = y > client.bottom - ScaleY(40);
    auto redrawBar = [&] {
      HDC hdc = ::GetDC(m_hWnd);
      DrawBar(hdc);
      ::ReleaseDC(m_hWnd, hdc);
    };
    if (message == WM_LBUTTONDOWN) {
      if (!onBar) return 0;
      m_barPress.Down(*m_pBar, x, y);
      redrawBar();
      return 0;
    }
    if (message == WM_MOUSEMOVE) {
      if (onBar && m_barPress.IsPressed() && m_barPress.Move(*m_pBar, x, y, onBar)) redrawBar();
      return 0;
    }
    if (!m_barPress.IsPressed()) return 0;
    const int command = m_barPress.Up(*m_pBar, x, y);
    redrawBar();
    if (command == kBarCommandNext) OnOK();
    return 0;
  }
  return CDialog::WindowProc(message, wParam, lParam);
}

BOOL RunWelcomePage(CWnd* parent) {
  CWelcomeDlg page(parent);
  return page.DoModal() == IDOK;
}
