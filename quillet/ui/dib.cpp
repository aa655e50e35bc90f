// The DIB bitmap: load, save, convert and draw.
#include "quillet/ui/dib.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "framework/afx.h"

namespace {

RGBQUAD Quad(int r, int g, int b) {
  return RGBQUAD{static_cast<BYTE>(b), static_cast<BYTE>(g), static_cast<BYTE>(r), 0};
}

struct StandardTable {
  RGBQUAD entries[256];
  StandardTable() {
    int n = 0;
    const int low[10][3] = {{0, 0, 0},       {128, 0, 0},     {0, 128, 0},     {128, 128, 0},   {0, 0, 128},
                            {128, 0, 128},   {0, 128, 128},   {192, 192, 192}, {192, 220, 192}, {166, 202, 240}};
    for (auto& c : low) entries[n++] = Quad(c[0], c[1], c[2]);
    const int levels[6] = {0, 44, 86, 135, 192, 255};
    for (int r = 0; r < 6; ++r)
      for (int g = 0; g < 6; ++g)
        for (int b = 0; b < 6; ++b) {
          if (r == 0 && g == 0 && b == 0) continue;
          entries[n++] = Quad(levels[r], levels[g], levels[b]);
        }
    // A grey ramp fills the entries between the cube and the high colours.
    int greys = 256 - 10 - n;
    for (int i = 1; i <= greys; ++i) {
      int v = i * 255 / (greys + 1);
      entries[n++] = Quad(v, v, v);
    }
    const int high[10][3] = {{255, 251, 240}, {160, 160, 164}, {128, 128, 128}, {255, 0, 0},   {0, 255, 0},
                             {255, 255, 0},   {0, 0, 255},     {255, 0, 255},   {0, 255, 255}, {255, 255, 255}};
    for (auto& c : high) entries[n++] = Quad(c[0], c[1], c[2]);
  }
};

DWORD RowBytes(int width, int bits) { return static_cast<DWORD>(((width * bits + 31) & ~31) / 8); }

uint32_t Le32(const BYTE* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24); }

}  // namespace

HBITMAP CreateTopDownSection(HDC hdc, int width, int height, int bitsPerPixel, BYTE** pixels) {
  BITMAPINFO bi = {};
  bi.bmiHeader.biSize = 40;
  bi.bmiHeader.biWidth = width;
  bi.bmiHeader.biHeight = -height;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = static_cast<WORD>(bitsPerPixel);
  bi.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP section = CreateDIBSection(hdc, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  *pixels = section ? static_cast<BYTE*>(bits) : nullptr;
  return section;
}

int NumColorEntries(int bitsPerPixel) {
  switch (bitsPerPixel) {
    case 1: return 2;
    case 2: return 4;
    case 4: return 16;
    case 8: return 256;
  }
  return 0;
}

const RGBQUAD* StandardColorTable() {
  static const StandardTable table;
  return table.entries;
}

CDib::CDib() = default;

CDib::~CDib() {
  Destroy();
  ReleaseMemoryDC();
  if (m_hMemoryDC) DeleteDC(m_hMemoryDC);
  m_hMemoryDC = nullptr;
}

DWORD CDib::ImageSize() const {
  if (m_header.biSizeImage) return m_header.biSizeImage;
  return static_cast<DWORD>(GetHeight()) * RowBytes(m_header.biWidth, m_header.biBitCount);
}

void CDib::DeletePalette() {
  if (m_hPalette) DeleteObject(m_hPalette);
  m_hPalette = nullptr;
}

void CDib::ReleaseMemoryDC() {
  if (!m_hMemoryDC) return;
  if (m_hPreviousPalette) SelectObject(m_hMemoryDC, m_hPreviousPalette);
  if (m_hPreviousBitmap) SelectObject(m_hMemoryDC, m_hPreviousBitmap);
  DeleteDC(m_hMemoryDC);
  m_hMemoryDC = nullptr;
  m_hPreviousPalette = nullptr;
  m_hPreviousBitmap = nullptr;
}

void CDib::Destroy() {
  ReleaseMemoryDC();
  if (m_hBitmap) DeleteObject(m_hBitmap);
  m_hBitmap = nullptr;
  std::memset(&m_header, 0, sizeof m_header);
  std::memset(m_colourTable, 0, sizeof m_colourTable);
  m_pBits = nullptr;
  m_usage = 0;
  m_nColourCount = 0;
  DeletePalette();
}

bool CDib::Load(LPCWSTR path) {
  if (!path) return false;
  CFile file;
  if (!file.Open(path, CFile::modeRead | CFile::shareDenyNone)) return false;
  bool ok = false;
  std::vector<BYTE> pixels;
  try {
    ULONGLONG start = file.GetPosition();
    ULONGLONG length = file.GetLength();
    BYTE fileHeader[14];
    BITMAPINFOHEADER header;
    struct {
      BITMAPINFOHEADER h;
      RGBQUAD colours[256];
    } info;
    if (file.Read(fileHeader, 14) != 14 || fileHeader[0] != 'B' || fileHeader[1] != 'M') throw 0;
    if (file.Read(&header, 40) != 40 || header.biSize != 40) throw 0;
    // The header must describe a bitmap that the section can hold.
    int bits = header.biBitCount;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) throw 0;
    if (header.biCompression != BI_RGB || header.biPlanes != 1) throw 0;
    if (header.biWidth <= 0 || header.biHeight == 0 || header.biHeight == INT32_MIN) throw 0;
    int64_t height = header.biHeight < 0 ? -static_cast<int64_t>(header.biHeight) : header.biHeight;
    if (static_cast<int64_t>(header.biWidth) * height > (1 << 26)) throw 0;
    int colours = NumColorEntries(bits);
    if (colours && file.Read(info.colours, 4 * colours) != static_cast<UINT>(4 * colours)) throw 0;
    uint32_t offset = Le32(fileHeader + 10);
    uint64_t need = static_cast<uint64_t>(height) * RowBytes(header.biWidth, bits);
    // The pixels must lie after the headers and wholly inside the file.
    if (offset < 54 + 4u * colours || offset > length - start || need > length - start - offset) throw 0;
    pixels.resize(static_cast<size_t>(need));
    file.Seek(static_cast<LONGLONG>(start + offset), CFile::begin);
    if (file.Read(pixels.data(), static_cast<UINT>(need)) != need) throw 0;
    header.biSizeImage = static_cast<DWORD>(need);
    info.h = header;
    ok = CreateFromInfo(reinterpret_cast<const BITMAPINFO*>(&info), pixels.data());
  } catch (CException* e) {
    e->Delete();
    ok = false;
  } catch (int) {
    ok = false;
  }
  file.Abort();
  if (!ok) Destroy();
  return ok;
}

bool CDib::CreateFromInfo(const BITMAPINFO* info, const void* pixels) {
  Destroy();
  if (!info || info->bmiHeader.biSize < 40) return false;
  m_nColourCount = static_cast<DWORD>(NumColorEntries(info->bmiHeader.biBitCount));
  m_header = info->bmiHeader;
  m_header.biSize = 40;
  std::memcpy(m_colourTable, info->bmiColors, sizeof(RGBQUAD) * m_nColourCount);
  HDC screen = GetDC(nullptr);
  void* bits = nullptr;
  m_usage = DIB_RGB_COLORS;
  m_hBitmap = CreateDIBSection(screen, info, DIB_RGB_COLORS, &bits, nullptr, 0);
  ReleaseDC(nullptr, screen);
  if (!m_hBitmap) {
    Destroy();
    return false;
  }
  m_pBits = static_cast<BYTE*>(bits);
  // Copy no more than the section holds.
  DWORD sectionSize = static_cast<DWORD>(GetHeight()) * RowBytes(m_header.biWidth, m_header.biBitCount);
  DWORD size = ImageSize();
  if (size > sectionSize || size == 0) size = sectionSize;
  if (pixels) std::memcpy(m_pBits, pixels, size);
  CreatePaletteFromBitmap();
  return true;
}

bool CDib::CreateFromBitmap(HBITMAP bitmap, HPALETTE palette) {
  Destroy();
  BITMAP bm;
  if (!bitmap || GetObjectW(bitmap, sizeof bm, &bm) == 0) return false;
  int width = bm.bmWidth, height = bm.bmHeight < 0 ? -bm.bmHeight : bm.bmHeight;
  int bits = bm.bmBitsPixel;
  if (width <= 0 || height <= 0) return false;
  m_header.biSize = 40;
  m_header.biWidth = width;
  m_header.biHeight = height;
  m_header.biPlanes = 1;
  m_header.biBitCount = static_cast<WORD>(bits);
  m_header.biCompression = BI_RGB;
  m_header.biSizeImage = static_cast<DWORD>(height) * RowBytes(width, bits);
  m_nColourCount = static_cast<DWORD>(NumColorEntries(bits));
  HDC screen = GetDC(nullptr);
  HDC source = CreateCompatibleDC(screen);
  HGDIOBJ oldSource = SelectObject(source, bitmap);
  FillColorTable(source, bitmap);
  if (palette) SetPaletteFromObject(palette);
  struct {
    BITMAPINFOHEADER h;
    RGBQUAD colours[256];
  } info;
  info.h = m_header;
  std::memcpy(info.colours, m_colourTable, sizeof m_colourTable);
  void* pixels = nullptr;
  m_usage = DIB_RGB_COLORS;
  m_hBitmap = CreateDIBSection(screen, reinterpret_cast<const BITMAPINFO*>(&info), DIB_RGB_COLORS, &pixels,
                               nullptr, 0);
  bool ok = m_hBitmap != nullptr;
  if (ok) {
    m_pBits = static_cast<BYTE*>(pixels);
    if (!palette) CreatePaletteFromBitmap();
    HDC target = CreateCompatibleDC(screen);
    HGDIOBJ oldTarget = SelectObject(target, m_hBitmap);
    ok = BitBlt(target, 0, 0, width, height, source, 0, 0, SRCCOPY) != FALSE;
    SelectObject(target, oldTarget);
    DeleteDC(target);
  }
  if (oldSource) SelectObject(source, oldSource);
  DeleteDC(source);
  ReleaseDC(nullptr, screen);
  if (!ok) Destroy();
  return ok;
}

bool CDib::Save(LPCWSTR path) {
  if (!m_hBitmap || !path || !*path) return false;
  // A picture of one colour is not worth keeping: compare every pixel, as a
  // whole and without the row padding, with the first one.
  const int width = m_header.biWidth, height = GetHeight(), bits = m_header.biBitCount;
  const DWORD stride = RowBytes(width, bits);
  bool uniform = true;
  if (bits >= 8) {
    const int bytes = bits / 8;
    for (int y = 0; y < height && uniform; ++y) {
      const BYTE* row = m_pBits + static_cast<size_t>(y) * stride;
      for (int x = 0; x < width; ++x)
        if (std::memcmp(row + x * bytes, m_pBits, static_cast<size_t>(bytes)) != 0) {
          uniform = false;
          break;
        }
    }
  } else {
    auto value = [&](int x, int y) {
      const BYTE* row = m_pBits + static_cast<size_t>(y) * stride;
      int bitPos = x * bits;
      return (row[bitPos / 8] >> (8 - bits - bitPos % 8)) & ((1 << bits) - 1);
    };
    int first = value(0, 0);
    for (int y = 0; y < height && uniform; ++y)
      for (int x = 0; x < width; ++x)
        if (value(x, y) != first) {
          uniform = false;
          break;
        }
  }
  if (uniform) return false;
  DWORD image = ImageSize();
  DWORD tableBytes = 4 * (m_nColourCount + 11);
  BYTE fileHeader[14] = {'B', 'M'};
  DWORD fileSize = image + 14 + tableBytes;
  DWORD offset = 14 + tableBytes;
  std::memcpy(fileHeader + 2, &fileSize, 4);
  std::memcpy(fileHeader + 10, &offset, 4);
  std::vector<BYTE> headerAndTable(tableBytes, 0);
  std::memcpy(headerAndTable.data(), &m_header, 40);
  std::memcpy(headerAndTable.data() + 40, m_colourTable, 4 * m_nColourCount);
  CFile file;
  if (!file.Open(path, CFile::modeCreate | CFile::modeWrite)) return false;
  try {
    file.Write(fileHeader, 14);
    file.Write(headerAndTable.data(), tableBytes);
    file.Write(m_pBits, image);
    file.Close();
  } catch (CException* e) {
    e->Delete();
    file.Abort();
    return false;
  }
  return true;
}

HDC CDib::GetMemoryDC(HDC hdc, BOOL selectPalette) {
  if (m_bKeepMemoryDC && m_hMemoryDC) return m_hMemoryDC;
  ReleaseMemoryDC();
  if (!m_hBitmap) return nullptr;
  m_hMemoryDC = CreateCompatibleDC(hdc);
  if (!m_hMemoryDC) return nullptr;
  m_hPreviousBitmap = SelectObject(m_hMemoryDC, m_hBitmap);
  if (!m_hPreviousBitmap) {
    DeleteDC(m_hMemoryDC);
    m_hMemoryDC = nullptr;
    return nullptr;
  }
  if (selectPalette && (GetDeviceCaps(m_hMemoryDC, RASTERCAPS) & RC_PALETTE)) {
    if (!m_hPalette) CreatePaletteFromBitmap();
    if (m_hPalette) {
      m_hPreviousPalette = SelectPalette(m_hMemoryDC, m_hPalette, FALSE);
      RealizePalette(m_hMemoryDC);
    }
  }
  return m_hMemoryDC;
}

BOOL CDib::Draw(HDC hdc, int x, int y, BOOL paletteInBackground) {
  if (!m_hBitmap) return FALSE;
  HDC mem = GetMemoryDC(hdc, FALSE);
  if (!mem) return FALSE;
  HPALETTE oldPalette = nullptr;
  bool palette = (GetDeviceCaps(hdc, RASTERCAPS) & RC_PALETTE) && m_hPalette;
  if (palette) {
    oldPalette = SelectPalette(hdc, m_hPalette, paletteInBackground);
    RealizePalette(hdc);
  }
  BOOL ok = BitBlt(hdc, x, y, GetWidth(), GetHeight(), mem, 0, 0, SRCCOPY);
  if (palette && oldPalette) SelectPalette(hdc, oldPalette, TRUE);
  if (!m_bKeepMemoryDC) ReleaseMemoryDC();
  return ok;
}

bool CDib::SetColorTable(UINT count, const RGBQUAD* colours) {
  if (!colours || count == 0 || count > 256 || m_nColourCount == 0) return false;
  UINT n = std::min<UINT>(count, m_nColourCount);
  for (UINT i = 0; i < n; ++i) {
    m_colourTable[i] = colours[i];
    m_colourTable[i].rgbReserved = 0;
  }
  // Keep the section's own table in step.
  if (m_hBitmap) {
    HDC mem = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(mem, m_hBitmap);
    if (old) {
      SetDIBColorTable(mem, 0, n, m_colourTable);
      SelectObject(mem, old);
    }
    DeleteDC(mem);
  }
  return true;
}

bool CDib::SetPalette(const LOGPALETTE* palette) {
  if (!palette || palette->palNumEntries < 1 || palette->palNumEntries > 256) {
    CreatePaletteFromBitmap();
    return false;
  }
  DeletePalette();
  m_hPalette = CreatePalette(palette);
  if (!m_hPalette) {
    CreatePaletteFromBitmap();
    return false;
  }
  if (m_nColourCount) {
    RGBQUAD table[256];
    for (int i = 0; i < palette->palNumEntries; ++i)
      table[i] = RGBQUAD{palette->palPalEntry[i].peBlue, palette->palPalEntry[i].peGreen,
                         palette->palPalEntry[i].peRed, 0};
    SetColorTable(palette->palNumEntries, table);
  }
  return true;
}

bool CDib::SetPaletteFromObject(HPALETTE palette) {
  if (!palette) return false;
  UINT n = GetPaletteEntries(palette, 0, 0, nullptr);
  if (n < 1 || n > 256) return false;
  std::vector<BYTE> buffer(sizeof(LOGPALETTE) + n * sizeof(PALETTEENTRY));
  LOGPALETTE* lp = reinterpret_cast<LOGPALETTE*>(buffer.data());
  lp->palVersion = 0x300;
  lp->palNumEntries = static_cast<WORD>(n);
  GetPaletteEntries(palette, 0, n, lp->palPalEntry);
  return SetPalette(lp);
}

bool CDib::CreateHalftonePalette(HPALETTE* palette, int count) {
  if (!palette) return false;
  if (count < 1 || count > 256) count = 256;
  std::vector<BYTE> buffer(sizeof(LOGPALETTE) + count * sizeof(PALETTEENTRY));
  LOGPALETTE* lp = reinterpret_cast<LOGPALETTE*>(buffer.data());
  lp->palVersion = 0x300;
  lp->palNumEntries = static_cast<WORD>(count);
  const RGBQUAD* table = StandardColorTable();
  for (int i = 0; i < count; ++i)
    lp->palPalEntry[i] = PALETTEENTRY{table[i].rgbRed, table[i].rgbGreen, table[i].rgbBlue, 0};
  *palette = CreatePalette(lp);
  return *palette != nullptr;
}

bool CDib::CreatePaletteFromBitmap() {
  DeletePalette();
  if (!m_hBitmap) return false;
  if (m_nColourCount == 0) return CreateHalftonePalette(&m_hPalette, 256);
  RGBQUAD table[256] = {};
  HDC mem = CreateCompatibleDC(nullptr);
  HGDIOBJ old = SelectObject(mem, m_hBitmap);
  int read = old ? ReadColorTable(mem, 0, m_nColourCount, table) : 0;
  if (old) SelectObject(mem, old);
  DeleteDC(mem);
  if (read == 0) return CreateHalftonePalette(&m_hPalette, static_cast<int>(m_nColourCount));
  std::vector<BYTE> buffer(sizeof(LOGPALETTE) + m_nColourCount * sizeof(PALETTEENTRY));
  LOGPALETTE* lp = reinterpret_cast<LOGPALETTE*>(buffer.data());
  lp->palVersion = 0x300;
  lp->palNumEntries = static_cast<WORD>(m_nColourCount);
  for (DWORD i = 0; i < m_nColourCount; ++i)
    lp->palPalEntry[i] = PALETTEENTRY{table[i].rgbRed, table[i].rgbGreen, table[i].rgbBlue, 0};
  m_hPalette = CreatePalette(lp);
  return m_hPalette != nullptr;
}

int CDib::FillColorTable(HDC hdc, HBITMAP) {
  if (m_nColourCount == 0) return 0;
  int n = ReadColorTable(hdc, 0, m_nColourCount, m_colourTable);
  if (n == 0) {
    std::memcpy(m_colourTable, StandardColorTable(), sizeof(RGBQUAD) * m_nColourCount);
    n = static_cast<int>(m_nColourCount);
  }
  return n;
}

int CDib::ReadColorTable(HDC hdc, UINT first, UINT count, RGBQUAD* out) {
  if (!out) return 0;
  HGDIOBJ bitmap = GetCurrentObject(hdc, OBJ_BITMAP);
  DIBSECTION ds;
  if (!bitmap || GetObjectW(bitmap, sizeof ds, &ds) != static_cast<int>(sizeof ds)) return 0;
  int depth = ds.dsBmih.biBitCount;
  if (depth > 8 || !ds.dsBm.bmBits) return 0;
  UINT colours = ds.dsBmih.biClrUsed ? ds.dsBmih.biClrUsed : (1u << depth);
  BYTE* firstByte = static_cast<BYTE*>(ds.dsBm.bmBits);
  BYTE saved = *firstByte;
  bool bottomUp = ds.dsBmih.biHeight > 0;
  int row = bottomUp ? ds.dsBm.bmHeight - 1 : 0;
  int n = 0;
  for (UINT i = first; i < std::min(colours, count); ++i) {
    // The index goes into the high bits of the first byte: the first pixel.
    *firstByte = static_cast<BYTE>((saved & ((1 << (8 - depth)) - 1)) | (i << (8 - depth)));
    COLORREF c = GetPixel(hdc, 0, row);
    out[n++] = RGBQUAD{GetBValue(c), GetGValue(c), GetRValue(c), 0};
  }
  *firstByte = saved;
  return n;
}
