// CDib: one device-independent bitmap (a DIB section with its header, colour
// table and palette) moved between a ".bmp" file, a device bitmap and a blit
// onto a DC.
#pragma once

#include "gdi/gdi.h"

// Number of colour-table entries of a bit depth: 2, 4, 16 or 256 for 1, 2,
// 4 and 8 bits, 0 otherwise.
int NumColorEntries(int bitsPerPixel);
// The fixed 256-colour table used when a bitmap's own colours cannot be read.
const RGBQUAD* StandardColorTable();
// A top-down DIB section of width x height at bitsPerPixel (16, 24 or 32,
// no colour table), uncompressed; its pixels in *pixels. Null on failure.
HBITMAP CreateTopDownSection(HDC hdc, int width, int height, int bitsPerPixel, BYTE** pixels);

class CDib {
 public:
  CDib();
  virtual ~CDib();
  CDib(const CDib&) = delete;
  CDib& operator=(const CDib&) = delete;

  void Destroy();
  bool IsEmpty() const { return m_hBitmap == nullptr; }
  // Reads a ".bmp" file with a 40-byte header. The header is checked
  // against the file: the depth, the size of the colour table and of the
  // pixels, and the pixel offset must all fit, and a short file fails.
  bool Load(LPCWSTR path);
  bool CreateFromInfo(const BITMAPINFO* info, const void* pixels);
  bool CreateFromBitmap(HBITMAP bitmap, HPALETTE palette = nullptr);
  // Writes the bitmap as a ".bmp" file. A picture whose pixels are all the
  // same (compared whole, row padding left out) is not written: false.
  bool Save(LPCWSTR path);
  BOOL Draw(HDC hdc, int x, int y, BOOL paletteInBackground = FALSE);
  HDC GetMemoryDC(HDC hdc, BOOL selectPalette);
  void ReleaseMemoryDC();
  bool SetColorTable(UINT count, const RGBQUAD* colours);
  bool SetPalette(const LOGPALETTE* palette);
  bool SetPaletteFromObject(HPALETTE palette);
  bool CreatePaletteFromBitmap();
  static bool CreateHalftonePalette(HPALETTE* palette, int count);
  int FillColorTable(HDC hdc, HBITMAP bitmap);
  static int ReadColorTable(HDC hdc, UINT first, UINT count, RGBQUAD* out);

  int GetWidth() const { return m_header.biWidth; }
  int GetHeight() const { return m_header.biHeight < 0 ? -m_header.biHeight : m_header.biHeight; }
  int GetBitCount() const { return m_header.biBitCount; }
  HBITMAP GetBitmap() const { return m_hBitmap; }
  BYTE* GetBits() const { return m_pBits; }
  const BITMAPINFOHEADER& GetHeader() const { return m_header; }
  const RGBQUAD* GetColorTable() const { return m_colourTable; }
  int GetColorCount() const { return static_cast<int>(m_nColourCount); }
  HPALETTE GetPalette() const { return m_hPalette; }
  void SetKeepMemoryDC(bool keep) { m_bKeepMemoryDC = keep; }
  // Bytes of pixels: biSizeImage, or height x the padded row size.
  DWORD ImageSize() const;

 private:
  void DeletePalette();

  HBITMAP m_hBitmap = nullptr;
  BITMAPINFOHEADER m_header = {};
  RGBQUAD m_colourTable[256] = {};
  BYTE* m_pBits = nullptr;
  DWORD m_usage = 0;
  DWORD m_nColourCount = 0;
  HDC m_hMemoryDC = nullptr;
  bool m_bKeepMemoryDC = false;
  HPALETTE m_hPalette = nullptr;
  HGDIOBJ m_hPreviousPalette = nullptr;
  HGDIOBJ m_hPreviousBitmap = nullptr;
};
