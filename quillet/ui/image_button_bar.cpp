// The image button bar.
#include "quillet/ui/image_button_bar.h"

#include "quillet/ui/touch_list.h"

#include "user/user.h"

namespace {

void Gradient(HDC hdc, int left, int top, int right, int bottom, COLORREF from, COLORREF to, ULONG mode) {
  if (right <= left || bottom <= top) return;
  TRIVERTEX v[2];
  SetTriVertex(&v[0], left, top, from);
  SetTriVertex(&v[1], right, bottom, to);
  GRADIENT_RECT r = {0, 1};
  GradientFill(hdc, v, 2, &r, 1, mode);
}

}  // namespace

CImageButtonBar::CImageButtonBar() { InitScreenDpi(0); }

CImageButtonBar::~CImageButtonBar() { FreeBackground(); }

void CImageButtonBar::FreeBackground() {
  if (m_hBackgroundDC) {
    SelectObject(m_hBackgroundDC, m_hOldBackground);
    DeleteDC(m_hBackgroundDC);
  }
  if (m_hBackground) DeleteObject(m_hBackground);
  m_hBackgroundDC = nullptr;
  m_hBackground = nullptr;
  m_hOldBackground = nullptr;
}

void CImageButtonBar::SetButton(int slot, HMODULE module, int imageId, UINT commandId) {
  if (slot < 0 || slot >= IMAGE_BUTTON_BAR_SLOTS) return;
  Button& b = m_buttons[slot];
  b.commandId = commandId;
  if (imageId == -1) {
    b.image.Free();
    b.hitRect = RECT{0, 0, 0, 0};
  } else {
    b.image.LoadFromResource(module, static_cast<UINT>(imageId));
  }
}

void CImageButtonBar::LoadPressedImage(HMODULE module, int imageId) {
  if (!m_pressedImage.HasImageHandle()) m_pressedImage.LoadFromResource(module, static_cast<UINT>(imageId));
}

int CImageButtonBar::HitTestDown(int x, int y) {
  POINT p = {x - m_nX, y - m_nY};
  int result = -1;
  for (Button& b : m_buttons) {
    if (PtInRect(&b.hitRect, p)) {
      b.pressed = TRUE;
      result = b.image.HasImageHandle() ? static_cast<int>(b.commandId) : -1;
    } else {
      b.pressed = FALSE;
    }
  }
  return result;
}

int CImageButtonBar::HitTestUp(int x, int y) {
  POINT p = {x - m_nX, y - m_nY};
  int result = -1;
  for (Button& b : m_buttons) {
    if (PtInRect(&b.hitRect, p) && b.image.HasImageHandle()) result = static_cast<int>(b.commandId);
    b.pressed = FALSE;
  }
  return result;
}

void CImageButtonBar::Draw(HDC hdc, int x, int y, int width, int height) {
  if (width <= 0 || height <= 0) return;
  COffscreenDC memory(hdc, width, height);
  HDC dc = memory.GetDC();
  // The background is drawn anew only when the bar's size changes.
  DrawBackground(dc, width, height);
  const int column = width / IMAGE_BUTTON_BAR_SLOTS;
  const int cy = ScaleY(2) + (height - ScaleY(2)) / 2;
  int cx = column / 2;
  for (Button& b : m_buttons) {
    if (b.pressed && m_pressedImage.HasImageHandle())
      m_pressedImage.Draw(dc, cx - m_pressedImage.GetWidth() / 2, cy - m_pressedImage.GetHeight() / 2);
    if (b.image.HasImageHandle()) {
      const int left = cx - b.image.GetWidth() / 2, top = cy - b.image.GetHeight() / 2;
      b.hitRect = RECT{left, top, left + b.image.GetWidth(), top + b.image.GetHeight()};
      b.image.Draw(dc, left, top);
    }
    cx += column;
  }
  BitBlt(hdc, x, y, width, height, dc, 0, 0, SRCCOPY);
  m_nX = x;
  m_nY = y;
  m_nWidth = width;
  m_nHeight = height;
  memory.Release();
}

void CImageButtonBar::DrawBackground(HDC hdc, int width, int height) {
  if (!m_hBackgroundDC || width != m_nBackgroundWidth || height != m_nBackgroundHeight) {
    FreeBackground();
    BuildBackground(hdc, width, height);
  }
  if (m_hBackgroundDC) BitBlt(hdc, 0, 0, width, height, m_hBackgroundDC, 0, 0, SRCCOPY);
}

void CImageButtonBar::InvalidateBackground(BOOL flag) {
  if (flag) FreeBackground();
}

void CImageButtonBar::BuildBackground(HDC hdc, int width, int height) {
  const COLORREF H = GetSysColor(COLOR_HIGHLIGHT);
  const COLORREF D = BlendColors(H, RGB(0, 0, 0), 100);
  HDC dc = CreateCompatibleDC(hdc);
  HBITMAP bitmap = CreateCompatibleBitmap(hdc, width, height);
  if (!dc || !bitmap) {
    if (bitmap) DeleteObject(bitmap);
    if (dc) DeleteDC(dc);
    return;
  }
  HGDIOBJ oldBitmap = SelectObject(dc, bitmap);
  Gradient(dc, 0, 0, width, height / 3, H, D, GRADIENT_FILL_RECT_V);
  Gradient(dc, 0, height / 3, width, height + height / 3, D, H, GRADIENT_FILL_RECT_V);
  RECT all = {0, 0, width, height};
  DrawDiamondGlow(dc, all, width / 2, ScaleY(11), RGB(255, 255, 255));
  // The gloss line.
  const COLORREF L = BlendColors(H, RGB(255, 255, 255), 192);
  TRIVERTEX v[4];
  SetTriVertex(&v[0], 0, ScaleY(1), L);
  SetTriVertex(&v[1], width / 2, 2 * ScaleY(1), H);
  SetTriVertex(&v[2], width / 2, ScaleY(1), H);
  SetTriVertex(&v[3], width, 2 * ScaleY(1), L);
  GRADIENT_RECT rects[2] = {{0, 1}, {2, 3}};
  GradientFill(dc, v, 4, rects, 2, GRADIENT_FILL_RECT_H);
  HBRUSH top = CreateSolidBrush(BlendColors(RGB(0, 0, 0), H, 164));
  RECT line = {0, 0, width, ScaleY(1)};
  FillRect(dc, &line, top);
  DeleteObject(top);
  // Kept selected: each draw copies it.
  m_hBackgroundDC = dc;
  m_hBackground = bitmap;
  m_hOldBackground = oldBitmap;
  m_nBackgroundWidth = width;
  m_nBackgroundHeight = height;
}

void CImageButtonBar::DrawAtScreenBottom(HWND hwnd, HDC hdc, int height, BOOL screenWide) {
  RECT client{}, window{};
  ::GetClientRect(hwnd, &client);
  ::GetWindowRect(hwnd, &window);
  const int width = screenWide ? ::GetSystemMetrics(SM_CXSCREEN) : client.right - client.left;
  Draw(hdc, 0, ::GetSystemMetrics(SM_CYSCREEN) - height - window.top, width, height);
}

void CBarPress::Down(CImageButtonBar& bar, int x, int y) {
  m_bPressed = TRUE;
  m_nCommand = bar.HitTestDown(x, y);
}

BOOL CBarPress::Move(CImageButtonBar& bar, int x, int y, bool onBar) {
  bar.HitTestUp(-1, -1);
  const int command = onBar ? bar.HitTestDown(x, y) : -1;
  if (command == m_nCommand) return FALSE;
  m_nCommand = command;
  return TRUE;
}

int CBarPress::Up(CImageButtonBar& bar, int x, int y) {
  const int command = bar.HitTestUp(x, y);
  Clear();
  return command;
}

int CBarPress::Route(HWND page, UINT message, WPARAM wParam, LPARAM lParam, CTouchListBase& list,
                     CImageButtonBar& bar, int barTop, const std::function<void()>& redraw) {
  const int x = static_cast<short>(LOWORD(lParam)), y = static_cast<short>(HIWORD(lParam));
  const bool onBar = y >= barTop;
  if (message == WM_LBUTTONDOWN) {
    if (!onBar) {
      list.OnPointerDown(page, wParam, lParam);
      return -1;
    }
    Down(bar, x, y);
    redraw();
    return -1;
  }
  if (message == WM_MOUSEMOVE) {
    if (!m_bPressed) {
      if (!onBar) list.OnPointerMove(page, wParam, lParam);
    } else if (Move(bar, x, y, onBar)) {
      redraw();
    }
    return -1;
  }
  if (!m_bPressed) {
    list.OnPointerUp(page, wParam, lParam);
    return -1;
  }
  // The press on the bar ends here whatever the release hit.
  const int command = Up(bar, x, y);
  redraw();
  return command;
}

BOOL CBarPress::Track(UINT message, CImageButtonBar& bar, int x, int y, bool onBar) {
  if (message == WM_LBUTTONDOWN) {
    Down(bar, x, y);
    return TRUE;
  }
  return message == WM_MOUSEMOVE && m_bPressed && Move(bar, x, y, onBar);
}
