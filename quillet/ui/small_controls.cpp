// Caption, colour and input-panel edit controls.
#include "quillet/ui/small_controls.h"

#include "controls/commctrl.h"
#include "kernel/kernel.h"
#include "quillet/ui/density.h"
#include "quillet/ui/touch_image.h"
#include "shell/aygshell.h"

// ---------------------------------------------------------------- caption

BEGIN_MESSAGE_MAP(CCaptionStatic, CStatic)
  ON_WM_PAINT()
END_MESSAGE_MAP()

CCaptionStatic::CCaptionStatic() : m_strFace(u"Tahoma") {
  m_crText = GetSysColor(COLOR_ACTIVECAPTION);
  m_crBackground = GetSysColor(COLOR_WINDOW);
  HDC screen = ::GetDC(nullptr);
  const int dpiY = GetDeviceCaps(screen, LOGPIXELSY);
  ::ReleaseDC(nullptr, screen);
  const WORD lang = PRIMARYLANGID(GetSystemDefaultLangID());
  const bool cjk = lang == LANG_CHINESE || lang == LANG_JAPANESE || lang == LANG_KOREAN;
  m_nFontHeight = -static_cast<int>(dpiY * (cjk ? 0.13541666666666666 : 0.125) + 0.5);
}

void CCaptionStatic::SetOption(int n) {
  if (n >= 1 && n <= 5) {
    m_switches[n - 1] = 1;
    return;
  }
  for (BYTE& s : m_switches) s = 0;
  m_bCentred = 0;
  m_bRight = 0;
}

void CCaptionStatic::PreSubclassWindow() { ModifyStyle(0, SS_NOTIFY); }

BOOL CCaptionStatic::SubclassControl(HWND control) {
  if (!control) return FALSE;
  // The style is set on the window before the map takes its messages.
  ::SetWindowLongW(control, GWL_STYLE, ::GetWindowLongW(control, GWL_STYLE) | SS_NOTIFY);
  return SubclassWindow(control);
}

void CCaptionStatic::OnPaint() {
  PAINTSTRUCT ps;
  HDC dc = ::BeginPaint(m_hWnd, &ps);
  if (!dc) return;
  RECT client;
  ::GetClientRect(m_hWnd, &client);
  HBRUSH ground = CreateSolidBrush(m_bCustomBackground ? m_crBackground : GetSysColor(COLOR_BTNFACE));
  FillRect(dc, &client, ground);
  DeleteObject(ground);
  if (m_bGradient) {
    TRIVERTEX v[2];
    SetTriVertex(&v[0], client.left, client.top, GetSysColor(COLOR_WINDOW));
    SetTriVertex(&v[1], client.right, client.bottom, GetSysColor(COLOR_HIGHLIGHT));
    GRADIENT_RECT r = {0, 1};
    GradientFill(dc, v, 2, &r, 1, GRADIENT_FILL_RECT_V);
  }
  ::SetTextColor(dc, m_bGradient ? GetSysColor(COLOR_WINDOWTEXT) : m_crText);
  SetBkMode(dc, TRANSPARENT);
  // One font per paint, deleted when the paint is done.
  LOGFONTW lf = {};
  lf.lfHeight = m_nFontHeight;
  lf.lfWeight = m_switches[0] ? FW_BOLD : FW_NORMAL;
  lf.lfItalic = m_switches[1];
  lf.lfUnderline = m_switches[2];
  lf.lfStrikeOut = m_switches[3];
  lf.lfCharSet = DEFAULT_CHARSET;
  lf.lfQuality = m_switches[4] ? 4 : 0;
  for (int i = 0; i < m_strFace.GetLength() && i < LF_FACESIZE - 1; ++i) lf.lfFaceName[i] = m_strFace[i];
  HFONT font = CreateFontIndirectW(&lf);
  if (font) {
    HGDIOBJ old = SelectObject(dc, font);
    CString text;
    GetWindowText(text);
    RECT box = client;
    box.left += ScaleX(8);
    UINT format = DT_NOPREFIX | DT_WORDBREAK;
    if (m_bCentred) format |= DT_CENTER;
    else if (m_bRight) format |= DT_RIGHT;
    if (!m_bGradient) format |= DT_VCENTER;
    DrawTextW(dc, text, text.GetLength(), &box, format);
    SelectObject(dc, old);
    DeleteObject(font);
  }
  ::EndPaint(m_hWnd, &ps);
}

// ---------------------------------------------------------------- colour edit

BEGIN_MESSAGE_MAP(CColorEdit, CEdit)
  ON_WM_CTLCOLOR_REFLECT()
END_MESSAGE_MAP()

CColorEdit::~CColorEdit() {
  if (m_hBrush) DeleteObject(m_hBrush);
}

void CColorEdit::SetTextColor(COLORREF colour) {
  m_crText = colour;
  if (m_hWnd) ::InvalidateRect(m_hWnd, nullptr, TRUE);
}

void CColorEdit::SetBkColor(COLORREF colour) {
  m_crBackground = colour;
  m_bBackgroundSet = TRUE;
  // The brush it replaces is deleted, so nothing is left behind per change.
  if (m_hBrush) DeleteObject(m_hBrush);
  m_hBrush = CreateSolidBrush(colour);
  if (m_hWnd) ::InvalidateRect(m_hWnd, nullptr, TRUE);
}

HBRUSH CColorEdit::CtlColor(CDC* dc, UINT) {
  ::SetTextColor(dc->m_hDC, m_crText);
  if (m_bBackgroundSet) ::SetBkColor(dc->m_hDC, m_crBackground);
  return m_hBrush;
}

LRESULT CColorEdit::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_SETFOCUS: {
      LRESULT result = CEdit::WindowProc(message, wParam, lParam);
      HideCaret(m_hWnd);
      return result;
    }
    case WM_ERASEBKGND:
    case WM_GETDLGCODE:
      return DefWindowProc(message, wParam, lParam);
  }
  return CEdit::WindowProc(message, wParam, lParam);
}

// ---------------------------------------------------------------- input-panel edit

LRESULT CSipEdit::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_SETFOCUS) {
    LRESULT result = CEdit::WindowProc(message, wParam, lParam);
    SHSipPreference(m_hWnd, SIP_UP);
    return result;
  }
  if (message == WM_KILLFOCUS) {
    LRESULT result = CEdit::WindowProc(message, wParam, lParam);
    SHSipPreference(m_hWnd, SIP_FORCEDOWN);
    return result;
  }
  return CEdit::WindowProc(message, wParam, lParam);
}
