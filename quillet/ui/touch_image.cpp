// Toolkit images and pixel effects.
#include "quillet/ui/touch_image.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "kernel/resource.h"
#include "quillet/ui/density.h"
#include "quillet/ui/dib.h"

IImagingFactory* g_pImagingFactory = nullptr;

void InitImagingFactory() {
  // A second call (the popup list makes one) replaces the factory without
  // leaking the first.
  if (g_pImagingFactory) g_pImagingFactory->Release();
  g_pImagingFactory = nullptr;
  IImagingFactory* factory = nullptr;
  if (SUCCEEDED(qk::gdi::CreateImagingFactory(&factory))) g_pImagingFactory = factory;
}

void ReleaseImagingFactory() {
  if (g_pImagingFactory) g_pImagingFactory->Release();
  g_pImagingFactory = nullptr;
}

namespace {

inline BYTE Mix(unsigned c, unsigned p, unsigned a) {
  unsigned v = c * a + p * (255 - a) + 128;
  return static_cast<BYTE>((v + (v >> 8)) >> 8);
}

inline void BlendPixel(BYTE* p, COLORREF c, int a) {
  if (a <= 0) return;
  p[0] = Mix(GetBValue(c), p[0], static_cast<unsigned>(a));
  p[1] = Mix(GetGValue(c), p[1], static_cast<unsigned>(a));
  p[2] = Mix(GetRValue(c), p[2], static_cast<unsigned>(a));
}

inline void SetPixelColour(BYTE* p, COLORREF c) {
  p[0] = GetBValue(c);
  p[1] = GetGValue(c);
  p[2] = GetRValue(c);
}

}  // namespace

// ---------------------------------------------------------------- CTouchImage

void CTouchImage::Free() {
  delete[] m_pRed;
  delete[] m_pGreen;
  delete[] m_pBlue;
  delete[] m_pAlpha;
  m_pRed = m_pGreen = m_pBlue = m_pAlpha = nullptr;
  m_nHeight = m_nWidth = 0;
}

bool CTouchImage::Allocate(int width, int height) {
  Free();
  if (width <= 0 || height <= 0 || static_cast<int64_t>(width) * height > (1 << 26)) return false;
  size_t n = static_cast<size_t>(width) * height;
  m_pRed = new (std::nothrow) BYTE[n]();
  m_pGreen = new (std::nothrow) BYTE[n]();
  m_pBlue = new (std::nothrow) BYTE[n]();
  m_pAlpha = new (std::nothrow) BYTE[n]();
  if (!m_pRed || !m_pGreen || !m_pBlue || !m_pAlpha) {
    Free();
    return false;
  }
  m_nWidth = width;
  m_nHeight = height;
  return true;
}

HRESULT CTouchImage::LoadFromResource(HMODULE module, UINT id) {
  Free();
  if (g_pImagingFactory) {
    HRSRC res = FindResourceW(module, MAKEINTRESOURCEW(id), u"PNG");
    if (res) {
      HGLOBAL loaded = LoadResource(module, res);
      const void* data = loaded ? LockResource(loaded) : nullptr;
      if (data) return DecodePng(data, SizeofResource(module, res));
    }
  }
  HRSRC tga = FindResourceW(module, MAKEINTRESOURCEW(id), u"TARGA");
  if (!tga) return E_FAIL;
  HGLOBAL loaded = LoadResource(module, tga);
  const void* data = loaded ? LockResource(loaded) : nullptr;
  if (!data) return E_FAIL;
  return DecodeTarga(data, SizeofResource(module, tga));
}

HRESULT CTouchImage::DecodePng(const void* data, UINT size) {
  if (!data || !g_pImagingFactory) return E_FAIL;
  IImage* image = nullptr;
  HRESULT hr = g_pImagingFactory->CreateImageFromBuffer(data, size, BufferDisposalFlagNone, &image);
  if (SUCCEEDED(hr) && image) hr = CopyFromImage(image);
  else hr = E_FAIL;
  if (image) image->Release();
  return hr;
}

HRESULT CTouchImage::CopyFromImage(IImage* image) {
  if (!image || !g_pImagingFactory) return E_FAIL;
  ImageInfo info;
  if (FAILED(image->GetImageInfo(&info))) return E_FAIL;
  IBitmapImage* bitmap = nullptr;
  if (FAILED(g_pImagingFactory->CreateBitmapFromImage(image, 0, 0, PixelFormat32bppARGB, InterpolationHintDefault,
                                                       &bitmap)) ||
      !bitmap)
    return E_FAIL;
  RECT all = {0, 0, static_cast<LONG>(info.Width), static_cast<LONG>(info.Height)};
  BitmapData data;
  if (FAILED(bitmap->LockBits(&all, ImageLockModeRead, PixelFormat32bppARGB, &data))) {
    bitmap->Release();
    return E_FAIL;
  }
  if (!Allocate(static_cast<int>(info.Width), static_cast<int>(info.Height))) {
    bitmap->UnlockBits(&data);
    bitmap->Release();
    return E_FAIL;
  }
  for (int y = 0; y < m_nHeight; ++y) {
    const BYTE* row = static_cast<const BYTE*>(data.Scan0) + static_cast<ptrdiff_t>(y) * data.Stride;
    for (int x = 0; x < m_nWidth; ++x) {
      size_t i = static_cast<size_t>(y) * m_nWidth + x;
      m_pBlue[i] = row[x * 4];
      m_pGreen[i] = row[x * 4 + 1];
      m_pRed[i] = row[x * 4 + 2];
      m_pAlpha[i] = row[x * 4 + 3];
    }
  }
  bitmap->UnlockBits(&data);
  bitmap->Release();
  return S_OK;
}

HRESULT CTouchImage::DecodeTarga(const void* data, UINT size) {
  Free();
  if (!data || size < 18) return E_FAIL;
  const BYTE* p = static_cast<const BYTE*>(data);
  int idLength = p[0], mapType = p[1], type = p[2];
  int width = p[12] | (p[13] << 8);
  int height = p[14] | (p[15] << 8);
  int bpp = p[16];
  int descriptor = p[17];
  if (mapType != 0 || (type != 2 && type != 10)) return E_FAIL;
  if (width == 0 || height == 0) return S_OK;  // an empty picture
  if (!Allocate(width, height)) return E_FAIL;
  const int pixelBytes = bpp == 32 ? 4 : 3;
  size_t pos = 18 + static_cast<size_t>(idLength);
  const bool topFirst = (descriptor & 0x20) != 0;
  auto put = [&](int row, int col, const BYTE* px) {
    int y = topFirst ? row : height - 1 - row;
    size_t i = static_cast<size_t>(y) * width + col;
    m_pBlue[i] = px[0];
    m_pGreen[i] = px[1];
    m_pRed[i] = px[2];
    m_pAlpha[i] = pixelBytes == 4 ? px[3] : 255;
  };
  for (int row = 0; row < height; ++row) {
    int col = 0;
    while (col < width) {
      if (type == 2) {
        if (pos + pixelBytes > size) return S_OK;  // the data ends here
        put(row, col, p + pos);
        pos += pixelBytes;
        ++col;
        continue;
      }
      if (pos >= size) return S_OK;
      int count = p[pos++];
      int n = (count & 127) + 1;
      if (count >= 128) {
        if (pos + pixelBytes > size) return S_OK;
        const BYTE* px = p + pos;
        pos += pixelBytes;
        // A packet never runs past the end of its row.
        for (int k = 0; k < n && col < width; ++k) put(row, col++, px);
      } else {
        for (int k = 0; k < n; ++k) {
          if (pos + pixelBytes > size) return S_OK;
          if (col < width) put(row, col++, p + pos);
          pos += pixelBytes;
        }
      }
    }
  }
  return S_OK;
}

int CTouchImage::DrawPixels(HDC hdc, int x, int y, int width, int height) {
  CDibBuffer buffer;
  RECT r = {x, y, x + width, y + height};
  if (!buffer.Capture(hdc, r)) return 0;
  const bool natural = width == m_nWidth && height == m_nHeight;
  for (int row = 0; row < height; ++row) {
    const int sy = natural ? row : row % m_nHeight;
    const size_t base = static_cast<size_t>(sy) * m_nWidth;
    const BYTE* __restrict red = m_pRed + base;
    const BYTE* __restrict green = m_pGreen + base;
    const BYTE* __restrict blue = m_pBlue + base;
    const BYTE* __restrict alpha = m_pAlpha + base;
    BYTE* __restrict d = buffer.Pixel(0, row);
    for (int col = 0, sx = 0; col < width; ++col, d += 3) {
      const unsigned a = alpha[sx];
      if (a == 255) {
        d[0] = blue[sx];
        d[1] = green[sx];
        d[2] = red[sx];
      } else if (a != 0) {
        d[0] = Mix(blue[sx], d[0], a);
        d[1] = Mix(green[sx], d[1], a);
        d[2] = Mix(red[sx], d[2], a);
      }
      if (++sx == m_nWidth) sx = 0;  // tiles repeat the image
    }
  }
  buffer.BlitTo(hdc, x, y);
  return 1;
}

int CTouchImage::Draw(HDC hdc, int x, int y, int width, int height) {
  if (!m_pAlpha) return 0;
  if (width == -1) width = m_nWidth;
  if (height == -1) height = m_nHeight;
  if (width != m_nWidth || height != m_nHeight) return DrawTiled(hdc, x, y, width, height);
  DrawPixels(hdc, x, y, width, height);
  return 1;
}

int CTouchImage::DrawTiled(HDC hdc, int x, int y, int width, int height) {
  if (!m_pAlpha) return 0;
  if (width <= 0 || height <= 0) return 1;
  DrawPixels(hdc, x, y, width, height);
  return 1;
}

// ---------------------------------------------------------------- CDibBuffer

bool CDibBuffer::Create(int width, int height) {
  Destroy();
  if (width <= 0 || height <= 0) return false;
  int rowPixels = (width + 3) & ~3;
  // A DIB section does not depend on the DC it is made on.
  m_hBitmap = CreateTopDownSection(nullptr, rowPixels, height, 24, &m_pBits);
  if (!m_hBitmap) return false;
  m_nRowPixels = rowPixels;
  m_nHeight = height;
  m_nWidth = width;
  return true;
}

HDC CDibBuffer::MemoryDC(HDC compatible) {
  if (m_hDC || !m_hBitmap) return m_hDC;
  m_hDC = CreateCompatibleDC(compatible);
  if (m_hDC) m_hOldBitmap = SelectObject(m_hDC, m_hBitmap);
  return m_hDC;
}

bool CDibBuffer::Capture(HDC hdc, const RECT& rect) {
  if (!Create(rect.right - rect.left, rect.bottom - rect.top)) return false;
  HDC mem = MemoryDC(hdc);
  if (!mem) {
    Destroy();
    return false;
  }
  BitBlt(mem, 0, 0, m_nWidth, m_nHeight, hdc, rect.left, rect.top, SRCCOPY);
  return true;
}

BOOL CDibBuffer::BlitTo(HDC hdc, int x, int y) {
  HDC mem = MemoryDC(hdc);
  if (!mem) return 0;
  return BitBlt(hdc, x, y, m_nWidth, m_nHeight, mem, 0, 0, SRCCOPY);
}

void CDibBuffer::Destroy() {
  if (m_hDC) {
    if (m_hOldBitmap) SelectObject(m_hDC, m_hOldBitmap);
    DeleteDC(m_hDC);
  }
  m_hDC = nullptr;
  m_hOldBitmap = nullptr;
  if (m_hBitmap) DeleteObject(m_hBitmap);
  m_hBitmap = nullptr;
  m_pBits = nullptr;
  m_nRowPixels = m_nHeight = m_nWidth = 0;
}

// ---------------------------------------------------------------- effects

COLORREF BlendColors(COLORREF colour1, COLORREF colour2, int a) {
  unsigned ua = static_cast<unsigned>(std::clamp(a, 0, 255));
  return RGB(Mix(GetRValue(colour1), GetRValue(colour2), ua), Mix(GetGValue(colour1), GetGValue(colour2), ua),
             Mix(GetBValue(colour1), GetBValue(colour2), ua));
}

void SetTriVertex(TRIVERTEX* vertex, int x, int y, COLORREF colour) {
  vertex->x = x;
  vertex->y = y;
  vertex->Red = static_cast<COLOR16>(GetRValue(colour) << 8);
  vertex->Green = static_cast<COLOR16>(GetGValue(colour) << 8);
  vertex->Blue = static_cast<COLOR16>(GetBValue(colour) << 8);
  vertex->Alpha = 0;
}

void FillAlpha(HDC hdc, int x, int y, int width, int height, COLORREF colour, int a) {
  if (width <= 0 || height <= 0) return;
  CDibBuffer buffer;
  RECT r = {x, y, x + width, y + height};
  if (!buffer.Capture(hdc, r)) return;
  unsigned ua = static_cast<unsigned>(std::clamp(a, 0, 255));
  const unsigned cb = GetBValue(colour), cg = GetGValue(colour), cr = GetRValue(colour);
  for (int row = 0; row < height; ++row) {
    BYTE* p = buffer.Pixel(0, row);
    for (int col = 0; col < width; ++col, p += 3) {
      p[0] = Mix(cb, p[0], ua);
      p[1] = Mix(cg, p[1], ua);
      p[2] = Mix(cr, p[2], ua);
    }
  }
  buffer.BlitTo(hdc, x, y);
}

int ShadowDepth(int level) {
  switch (level) {
    case 0: return 15;
    case 1: return 40;
    case 2: return 80;
    case 3:
    case 4: return 180;
  }
  return 0;
}

int DrawShadowLine(CDibBuffer& buffer, int start, int level, COLORREF outline, COLORREF shade) {
  const int k = ShadowDepth(level);
  const int s = (level + 1) * k;
  int ramp[6] = {0};
  // s x i x 0.03, in integers so that no rounding of 0.03 creeps in.
  for (int i = 1; i <= 5; ++i) ramp[i] = s * i * 3 / 100;
  const int w = buffer.m_nWidth;
  BYTE* line = buffer.m_pBits + static_cast<ptrdiff_t>(start) * 3;
  for (int i = 1; i <= 5 && i < w - 1; ++i) BlendPixel(line + i * 3, shade, ramp[i]);
  for (int i = 6; i <= w - 7; ++i) {
    if (level == 4) SetPixelColour(line + i * 3, outline);
    else BlendPixel(line + i * 3, shade, k);
  }
  for (int j = 1; j <= 5; ++j) {
    int i = w - 1 - j;  // the five pixels before the last: a5 .. a1 from the left
    if (i > 5 && i >= 1) BlendPixel(line + i * 3, shade, ramp[j]);
  }
  return start + buffer.m_nRowPixels;
}

void DrawSoftBox(HDC hdc, const RECT& rect, COLORREF outline, COLORREF body, BOOL bottomBand) {
  CDibBuffer buffer;
  if (!buffer.Capture(hdc, rect)) return;
  const int w = buffer.m_nWidth, h = buffer.m_nHeight;
  const COLORREF lightBody = BlendColors(RGB(255, 255, 255), body, 30);
  const COLORREF lightOutline = BlendColors(RGB(255, 255, 255), outline, 50);
  const COLORREF corner = BlendColors(outline, RGB(0, 0, 0), 140);
  // The band takes the rows below bottom - ScaleY(8) - 7, the bottom being
  // the rectangle's (exclusive) bottom edge: row index h is that edge.
  const int bandStart = h - ScaleY(8) - 7;
  int index = 0;
  // Top edge, faint to solid.
  for (int level = 0; level <= 4 && level < h; ++level) index = DrawShadowLine(buffer, index, level, outline, body);
  // Middle rows.
  const int firstMiddle = 5, lastMiddle = h - 6;
  static const int glow[4] = {15, 40, 80, 180};
  static const int glowEnd[5] = {7, 32, 72, 95, 180};
  for (int row = firstMiddle; row <= lastMiddle; ++row) {
    const bool band = bottomBand && row > bandStart;
    const COLORREF b = band ? lightBody : body;
    const COLORREF o = band ? lightOutline : outline;
    const bool endRow = row == firstMiddle || row == lastMiddle;
    const bool roundRow = row <= firstMiddle + 1 || row >= lastMiddle - 1;
    BYTE* line = buffer.Pixel(0, row);
    int n = endRow ? 5 : 4;
    const int* ramp = endRow ? glowEnd : glow;
    if (w < 2 * (n + 1)) continue;
    for (int i = 0; i < n; ++i) {
      BlendPixel(line + i * 3, b, ramp[i]);
      BlendPixel(line + (w - 1 - i) * 3, b, ramp[i]);
    }
    SetPixelColour(line + n * 3, o);
    SetPixelColour(line + (w - 1 - n) * 3, o);
    for (int i = n + 1; i < w - 1 - n; ++i) SetPixelColour(line + i * 3, b);
    if (roundRow && w - 2 - n > n + 1) {
      SetPixelColour(line + (n + 1) * 3, corner);
      SetPixelColour(line + (w - 2 - n) * 3, corner);
    }
  }
  // Bottom edge, solid to faint.
  if (h >= 10) {
    index = (h - 5) * buffer.m_nRowPixels;
    for (int level = 4; level >= 0; --level)
      index = DrawShadowLine(buffer, index, level, (level == 4 && bottomBand) ? lightOutline : outline, body);
  }
  buffer.BlitTo(hdc, rect.left, rect.top);
}

void DrawDiamondGlow(HDC hdc, const RECT& rect, int centreX, int centreY, COLORREF colour) {
  CDibBuffer buffer;
  if (!buffer.Capture(hdc, rect)) return;
  // Before the density is known ScaleY(1) is 0; the glow then uses a step
  // of one pixel instead of dividing by zero.
  int unit = ScaleY(1);
  if (unit <= 0) unit = 1;
  for (int row = 0; row < buffer.m_nHeight; ++row) {
    BYTE* p = buffer.Pixel(0, row);
    int y = rect.top + row;
    for (int col = 0; col < buffer.m_nWidth; ++col, p += 3) {
      int x = rect.left + col;
      int d = (std::abs(x - centreX) + std::abs(y - centreY)) / unit;
      int a = std::abs(80 - (d % 255)) * 2 / 3;
      BlendPixel(p, colour, a);
    }
  }
  buffer.BlitTo(hdc, rect.left, rect.top);
}
