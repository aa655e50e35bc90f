// The wizard's title band and soft keys (see wizard_chrome.h).
#include "quillet/new_channel/wizard_chrome.h"

#include "quillet/screens/screen_messages.h"
#include "quillet/screens/screen_util.h"
#include "quillet/ui/density.h"
#include "quillet/ui/painted_list.h"
#include "quillet/ui/touch_image.h"
#include "shell/aygshell.h"

void DrawWizardBand(HWND window, HDC hdc, HFONT normalFont, HFONT boldFont, LPCWSTR title, LPCWSTR subtitle) {
  if (!window || !hdc) return;
  RECT client{}, frame{};
  ::GetClientRect(window, &client);
  ::GetWindowRect(window, &frame);
  const BOOL touch = GetTouchFlag();
  const int screenWidth = ::GetSystemMetrics(SM_CXSCREEN), screenHeight = ::GetSystemMetrics(SM_CYSCREEN);
  const int width = screenWidth > client.right ? screenWidth : client.right;
  const int height = client.bottom;
  if (width <= 0 || height <= 0) return;
  const int band = touch ? Dy(51) : 28;
  const int line = touch ? Dy(52) : 29;
  // The content ends above the button bar; on a key device the window's
  // bottom edge on the screen is taken as it is.
  const int contentBottom = touch ? screenHeight - Dy(40) - frame.top : frame.bottom;
  const COLORREF highlight = ::GetSysColor(COLOR_HIGHLIGHT);
  const COLORREF dark = BlendColors(RGB(0, 0, 0), highlight, 160);
  const COLORREF light = BlendColors(RGB(0, 0, 0), highlight, 70);

  HDC mem = ::CreateCompatibleDC(hdc);
  HBITMAP bitmap = ::CreateCompatibleBitmap(hdc, width, height);
  HGDIOBJ oldBitmap = ::SelectObject(mem, bitmap);
  FillSolid(mem, 0, 0, width, band, dark);
  if (contentBottom > line) {
    TRIVERTEX v[2];
    SetTriVertex(&v[0], -1, line, dark);
    SetTriVertex(&v[1], screenWidth + 1, contentBottom, light);
    GRADIENT_RECT rect{0, 1};
    ::GradientFill(mem, v, 2, &rect, 1, GRADIENT_FILL_RECT_V);
  }
  if (contentBottom < height) FillSolid(mem, 0, contentBottom, width, height, light);
  ::SetBkMode(mem, TRANSPARENT);
  const UINT format = DT_SINGLELINE | DT_VCENTER | DT_LEFT;
  HGDIOBJ oldFont = ::SelectObject(mem, boldFont);
  ::SetTextColor(mem, RGB(255, 255, 255));
  if (touch) {
    RECT titleBox{Dx(8), 0, client.right - Dx(8), Dy(32)};
    DrawTextEllipsis(mem, CString(title ? title : u""), titleBox, format, 0);
    if (subtitle && *subtitle) {
      ::SelectObject(mem, normalFont);
      ::SetTextColor(mem, BlendColors(RGB(255, 255, 255), highlight, 225));
      RECT subtitleBox{Dx(8), Dy(22), client.right - Dx(8), Dy(51)};
      DrawTextEllipsis(mem, CString(subtitle), subtitleBox, format, 0);
    }
  } else {
    RECT titleBox{Dx(4), 0, client.right, 28};
    DrawTextEllipsis(mem, CString(title ? title : u""), titleBox, format, 0);
  }
  ::SelectObject(mem, oldFont);
  // A thin white line between the band and the gradient.
  FillSolid(mem, 0, band, width, line, RGB(255, 255, 255));
  ::BitBlt(hdc, 0, 0, client.right, height, mem, 0, 0, SRCCOPY);
  ::SelectObject(mem, oldBitmap);
  ::DeleteObject(bitmap);
  ::DeleteDC(mem);
}

HWND CreateWizardMenuBar(HWND wizard) {
  if (!wizard || !::IsWindow(wizard)) return nullptr;
  // The bar of the page that showed before goes: a window has one bar.
  if (HWND old = SHFindMenuBar(wizard)) ::DestroyWindow(old);
  HWND bar = CreateMenuBar(wizard, IDR_WIZARD_MENU);
  if (!bar) return nullptr;
  SetSoftKeyText(bar, IDOK, u"OK");
  ::SendMessageW(bar, TB_HIDEBUTTON, IDOK, TRUE);
  SetSoftKeyText(bar, IDCANCEL, u"Cancel");
  ::DrawMenuBar(bar);
  return bar;
}

CString WizardRowText(const CString& text, int width) {
  // The list's row text: from the right of the row's image to the row's
  // right edge, in the list's normal font; it stays one density pixel off
  // the edge.
  const int left = GetTouchFlag() ? Dx(52) : Dx(8) + 24;
  const int room = width - left - Dx(1);
  if (room <= 0 || text.IsEmpty()) return text;
  HDC dc = ::GetDC(nullptr);
  HFONT font = CreateListFont(FALSE);
  HGDIOBJ oldFont = ::SelectObject(dc, font);
  auto widthOf = [&](const CString& t) {
    SIZE size{};
    ::GetTextExtentPoint32W(dc, t, t.GetLength(), &size);
    return static_cast<int>(size.cx);
  };
  CString fitted = text;
  if (widthOf(text) > room) {
    int kept = text.GetLength();
    while (kept > 0 && widthOf(text.Left(kept) + u"...") > room) --kept;
    // Never a surrogate pair cut in two.
    if (kept > 0 && kept < text.GetLength() && text[kept] >= 0xDC00 && text[kept] < 0xE000) --kept;
    fitted = text.Left(kept) + u"...";
  }
  ::SelectObject(dc, oldFont);
  ::DeleteObject(font);
  ::ReleaseDC(nullptr, dc);
  return fitted;
}
