// The toolkit's pictures and pixel effects: CTouchImage (separate red, green,
// blue and alpha planes, loaded from the program's "PNG" or "TARGA"
// resources and drawn with per-pixel alpha), CDibBuffer (a 24-bit snapshot of
// a target rectangle: capture, blend in memory, blit back), colour blending,
// translucent fills, the soft shadowed box of selected rows and the diamond
// glow behind the button bar.
#pragma once

#include "gdi/gdi.h"
#include "gdi/imaging.h"

// The process-wide imaging factory (null until InitImagingFactory).
extern IImagingFactory* g_pImagingFactory;
void InitImagingFactory();
void ReleaseImagingFactory();

class CTouchImage {
 public:
  CTouchImage() = default;
  ~CTouchImage() { Free(); }
  CTouchImage(const CTouchImage&) = delete;
  CTouchImage& operator=(const CTouchImage&) = delete;

  // Frees the planes, then decodes resource id of type "PNG" (when the
  // imaging factory exists) or else of type "TARGA". E_FAIL when neither
  // exists or decoding fails.
  HRESULT LoadFromResource(HMODULE module, UINT id);
  HRESULT DecodePng(const void* data, UINT size);
  HRESULT CopyFromImage(IImage* image);
  // Uncompressed (type 2) and run-length (type 10) true-colour TGA of 24 or
  // 32 bits. Reading stops at the end of the data: pixels the data does not
  // hold stay transparent.
  HRESULT DecodeTarga(const void* data, UINT size);
  void Free();
  BOOL HasImageHandle() const { return m_pAlpha != nullptr; }

  // Draws with per-pixel alpha over what the target holds; -1 for width or
  // height means the natural size, and any other size tiles the image.
  // 1 when drawn, 0 for an empty image.
  int Draw(HDC hdc, int x, int y, int width = -1, int height = -1);
  int DrawTiled(HDC hdc, int x, int y, int width, int height);

  int GetWidth() const { return m_nWidth; }
  int GetHeight() const { return m_nHeight; }
  const BYTE* Red() const { return m_pRed; }
  const BYTE* Green() const { return m_pGreen; }
  const BYTE* Blue() const { return m_pBlue; }
  const BYTE* Alpha() const { return m_pAlpha; }

 private:
  bool Allocate(int width, int height);
  int DrawPixels(HDC hdc, int x, int y, int width, int height);

  BYTE* m_pRed = nullptr;
  BYTE* m_pGreen = nullptr;
  BYTE* m_pBlue = nullptr;
  BYTE* m_pAlpha = nullptr;
  int m_nHeight = 0;
  int m_nWidth = 0;
};

class CDibBuffer {
 public:
  CDibBuffer() = default;
  ~CDibBuffer() { Destroy(); }
  CDibBuffer(const CDibBuffer&) = delete;
  CDibBuffer& operator=(const CDibBuffer&) = delete;

  // A top-down 24-bit DIB section of width x height (rows of rowPixels,
  // the width rounded up to a multiple of 4). false when it cannot be made.
  bool Create(int width, int height);
  // Creates the buffer in the rectangle's size and copies the rectangle.
  bool Capture(HDC hdc, const RECT& rect);
  // Copies the buffer back to (x, y); the BitBlt result, 0 without a DC.
  BOOL BlitTo(HDC hdc, int x, int y);
  void Destroy();

  BYTE* Pixel(int x, int y) { return m_pBits + (static_cast<ptrdiff_t>(y) * m_nRowPixels + x) * 3; }

  BYTE* m_pBits = nullptr;
  HBITMAP m_hBitmap = nullptr;
  int m_nRowPixels = 0;
  int m_nHeight = 0;
  int m_nWidth = 0;

 private:
  // One memory DC holding the section serves the capture and the blit back.
  HDC MemoryDC(HDC compatible);
  HDC m_hDC = nullptr;
  HGDIOBJ m_hOldBitmap = nullptr;
};

// Each channel (c1 x a + c2 x (255 - a) + 128), divided by 255 as
// (v + (v >> 8)) >> 8.
COLORREF BlendColors(COLORREF colour1, COLORREF colour2, int a);
void SetTriVertex(TRIVERTEX* vertex, int x, int y, COLORREF colour);
// Every pixel of the rectangle becomes BlendColors(colour, pixel, a).
void FillAlpha(HDC hdc, int x, int y, int width, int height, COLORREF colour, int a);
// Shadow depth of a soft-box edge level: 15, 40, 80, 180, 180, else 0.
int ShadowDepth(int level);
// One horizontal line of a soft box starting at pixel index start of the
// buffer (index = row x rowPixels + column); returns the next row's index.
int DrawShadowLine(CDibBuffer& buffer, int start, int level, COLORREF outline, COLORREF shade);
// The shadowed rounded box of selected rows and popups.
void DrawSoftBox(HDC hdc, const RECT& rect, COLORREF outline, COLORREF body, BOOL bottomBand);
// The patterned glow behind the button bar.
void DrawDiamondGlow(HDC hdc, const RECT& rect, int centreX, int centreY, COLORREF colour);
