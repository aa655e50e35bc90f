// Screen density, off-screen DCs, the transparent stretch and the list font.
#include "quillet/ui/density.h"

#include <atomic>
#include <cstdlib>

#include "kernel/time.h"

namespace {

struct DensityRecord {
  bool doubleScale = false;
  int dpiY = 0;
  int dpiX = 0;
  bool initialised = false;
};
DensityRecord g_density;
std::atomic<bool> g_touch{true};

int Scale(int length, int dpi, BOOL keep) {
  if (g_density.doubleScale) return length * 2;
  if (keep && dpi < 136) return length;
  int magnitude = std::abs(length);
  int scaled = (magnitude * dpi + 48) / 96;
  return length < 0 ? -scaled : scaled;
}

}  // namespace

BOOL GetTouchFlag() { return g_touch.load() ? TRUE : FALSE; }
void SetTouchFlag(BOOL touch) { g_touch.store(touch != FALSE); }

void InitScreenDpi(BOOL doubleScale) {
  if (g_density.initialised) return;
  g_density.doubleScale = doubleScale != FALSE;
  HDC screen = GetDC(nullptr);
  g_density.dpiX = GetDeviceCaps(screen, LOGPIXELSX);
  g_density.dpiY = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  g_density.initialised = true;
}

void ResetScreenDpi() { g_density = DensityRecord(); }
int GetScreenDpiX() { return g_density.dpiX; }
int GetScreenDpiY() { return g_density.dpiY; }

int ScaleX(int length, BOOL keepOnLowDensity) { return Scale(length, g_density.dpiX, keepOnLowDensity); }
int ScaleY(int length, BOOL keepOnLowDensity) { return Scale(length, g_density.dpiY, keepOnLowDensity); }

COffscreenDC::COffscreenDC(HDC hdc, int width, int height) {
  m_hDC = CreateCompatibleDC(hdc);
  m_hBitmap = CreateCompatibleBitmap(hdc, width, height);
  if (m_hDC && m_hBitmap) m_hOldBitmap = SelectObject(m_hDC, m_hBitmap);
  m_hOldFont = GetCurrentObject(hdc, OBJ_FONT);
  if (m_hDC && m_hOldFont) SelectObject(m_hDC, m_hOldFont);
}

COffscreenDC::~COffscreenDC() { Release(); }

void COffscreenDC::Release() {
  if (!m_hDC) return;
  if (m_hOldFont) SelectObject(m_hDC, m_hOldFont);
  if (m_hOldBitmap) SelectObject(m_hDC, m_hOldBitmap);
  if (m_hBitmap) DeleteObject(m_hBitmap);
  DeleteDC(m_hDC);
  m_hDC = nullptr;
  m_hBitmap = nullptr;
  m_hOldBitmap = nullptr;
  m_hOldFont = nullptr;
}

int StretchBltTransparent(HDC dst, int x, int y, int width, int height, HDC src, int xSrc, int ySrc,
                          int srcWidth, int srcHeight, COLORREF transparent) {
  if (width < 1 || height < 1 || srcWidth < 1 || srcHeight < 1) return 0;
  HDC screen = GetDC(nullptr);
  int bpp = GetDeviceCaps(screen, BITSPIXEL);
  ReleaseDC(nullptr, screen);
  HDC copyDC = CreateCompatibleDC(nullptr);
  HDC maskDC = CreateCompatibleDC(nullptr);
  HDC stretchMaskDC = CreateCompatibleDC(nullptr);
  HDC stretchCopyDC = CreateCompatibleDC(nullptr);
  HBITMAP copy = CreateBitmap(srcWidth, srcHeight, 1, static_cast<UINT>(bpp), nullptr);
  HBITMAP mask = CreateBitmap(srcWidth, srcHeight, 1, 1, nullptr);
  HBITMAP stretchMask = CreateBitmap(width, height, 1, static_cast<UINT>(bpp), nullptr);
  HBITMAP stretchCopy = CreateBitmap(width, height, 1, static_cast<UINT>(bpp), nullptr);
  int result = 0;
  if (copyDC && maskDC && stretchMaskDC && stretchCopyDC && copy && mask && stretchMask && stretchCopy) {
    HGDIOBJ oldCopy = SelectObject(copyDC, copy);
    HGDIOBJ oldMask = SelectObject(maskDC, mask);
    HGDIOBJ oldStretchMask = SelectObject(stretchMaskDC, stretchMask);
    HGDIOBJ oldStretchCopy = SelectObject(stretchCopyDC, stretchCopy);
    // 1. A colour copy of the source rectangle.
    BitBlt(copyDC, 0, 0, srcWidth, srcHeight, src, xSrc, ySrc, SRCCOPY);
    // 2. The mask: 1 where the copy has the transparent colour.
    BitBlt(maskDC, 0, 0, srcWidth, srcHeight, nullptr, 0, 0, BLACKNESS);
    SetBkColor(maskDC, RGB(0, 0, 0));
    SetTextColor(maskDC, RGB(255, 255, 255));
    COLORREF oldCopyBk = SetBkColor(copyDC, transparent);
    BitBlt(maskDC, 0, 0, srcWidth, srcHeight, copyDC, 0, 0, SRCINVERT);
    // 3. Transparent pixels of the copy become black.
    SetBkColor(copyDC, RGB(0, 0, 0));
    COLORREF oldCopyText = SetTextColor(copyDC, RGB(255, 255, 255));
    BitBlt(copyDC, 0, 0, srcWidth, srcHeight, maskDC, 0, 0, SRCAND);
    SetBkColor(copyDC, oldCopyBk);
    SetTextColor(copyDC, oldCopyText);
    // 4. Both stretched to the destination size; the stretched mask is white
    //    where the background shows through and black elsewhere.
    SetStretchBltMode(stretchMaskDC, COLORONCOLOR);
    SetStretchBltMode(stretchCopyDC, COLORONCOLOR);
    StretchBlt(stretchMaskDC, 0, 0, width, height, maskDC, 0, 0, srcWidth, srcHeight, SRCCOPY);
    StretchBlt(stretchCopyDC, 0, 0, width, height, copyDC, 0, 0, srcWidth, srcHeight, SRCCOPY);
    // 5. Punch the opaque pixels out of the destination, then paint them.
    BitBlt(dst, x, y, width, height, stretchMaskDC, 0, 0, SRCAND);
    BitBlt(dst, x, y, width, height, stretchCopyDC, 0, 0, SRCPAINT);
    SelectObject(copyDC, oldCopy);
    SelectObject(maskDC, oldMask);
    SelectObject(stretchMaskDC, oldStretchMask);
    SelectObject(stretchCopyDC, oldStretchCopy);
    result = 1;
  }
  if (copy) DeleteObject(copy);
  if (mask) DeleteObject(mask);
  if (stretchMask) DeleteObject(stretchMask);
  if (stretchCopy) DeleteObject(stretchCopy);
  if (copyDC) DeleteDC(copyDC);
  if (maskDC) DeleteDC(maskDC);
  if (stretchMaskDC) DeleteDC(stretchMaskDC);
  if (stretchCopyDC) DeleteDC(stretchCopyDC);
  return result;
}

HFONT CreateListFont(BOOL bold) {
  HDC screen = GetDC(nullptr);
  int dpiY = GetDeviceCaps(screen, LOGPIXELSY);
  ReleaseDC(nullptr, screen);
  int k = 13;
  WORD lang = PRIMARYLANGID(GetSystemDefaultLangID());
  if (GetTouchFlag() && (lang == LANG_CHINESE || lang == LANG_JAPANESE || lang == LANG_KOREAN)) k = 14;
  LOGFONTW lf = {};
  lf.lfHeight = dpiY * k / 96;
  lf.lfWeight = bold ? FW_BOLD : FW_NORMAL;
  const char16_t face[] = u"Tahoma";
  for (int i = 0; face[i]; ++i) lf.lfFaceName[i] = face[i];
  return CreateFontIndirectW(&lf);
}
