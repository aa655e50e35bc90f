// Screen density and off-screen drawing: lengths written for 96 dots per
// inch are scaled by the screen's density; COffscreenDC is the back buffer of
// the finger-scrolled lists and of cached row renderings.
#pragma once

#include "gdi/gdi.h"

// The process-wide touch flag: set on a touch-screen platform, clear on a
// key-only one. Set by the program's start-up; set by default.
BOOL GetTouchFlag();
void SetTouchFlag(BOOL touch);

// Reads LOGPIXELSX/Y of the screen on the first call; later calls do
// nothing. Every caller passes doubleScale 0.
void InitScreenDpi(BOOL doubleScale);
// Forgets the density so that the next InitScreenDpi reads it again (tests
// that change the screen's density).
void ResetScreenDpi();
int GetScreenDpiX();
int GetScreenDpiY();

// sign(length) x ((|length| x dpi + 48) / 96): rounded to nearest, halves
// away from zero. keepOnLowDensity leaves the length unchanged below 136 dpi.
int ScaleX(int length, BOOL keepOnLowDensity = FALSE);
int ScaleY(int length, BOOL keepOnLowDensity = FALSE);

class COffscreenDC {
 public:
  COffscreenDC(HDC hdc, int width, int height);
  ~COffscreenDC();
  COffscreenDC(const COffscreenDC&) = delete;
  COffscreenDC& operator=(const COffscreenDC&) = delete;

  HDC GetDC() const { return m_hDC; }
  // Selects the remembered font and bitmap back, deletes the bitmap and the
  // DC. Called by the owner before deleting the object (the destructor calls
  // it too).
  void Release();

 private:
  HDC m_hDC = nullptr;
  HBITMAP m_hBitmap = nullptr;
  HGDIOBJ m_hOldBitmap = nullptr;
  HGDIOBJ m_hOldFont = nullptr;
};

// Stretches a source rectangle onto the destination, leaving the pixels of
// the transparent colour out. 1 on success, 0 when a size is not positive
// or a bitmap cannot be made.
int StretchBltTransparent(HDC dst, int x, int y, int width, int height, HDC src, int xSrc, int ySrc,
                          int srcWidth, int srcHeight, COLORREF transparent);

// The list font: "Tahoma", LOGPIXELSY x k / 96 high (k = 13, or 14 with the
// touch flag on a Chinese, Japanese or Korean system), bold when asked.
HFONT CreateListFont(BOOL bold);
