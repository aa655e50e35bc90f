// Handle table, device contexts, bitmaps, palettes, brushes and pens.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <unordered_map>
#include <utility>

#include "gdi/surface.h"

namespace qk::gdi {

namespace {

#ifndef MADV_POPULATE_WRITE
#define MADV_POPULATE_WRITE 23
#endif

// Stores from this size on are populated in one call.
constexpr size_t kPopulateFrom = 64 * 1024;

// Brings in the whole pages of [p, p + size) writable. Pages already there
// are left as they are; a system without the call leaves it to the faults.
void Populate(void* p, size_t size) {
  static const uintptr_t page = static_cast<uintptr_t>(sysconf(_SC_PAGESIZE));
  uintptr_t from = (reinterpret_cast<uintptr_t>(p) + page - 1) & ~(page - 1);
  uintptr_t to = (reinterpret_cast<uintptr_t>(p) + size) & ~(page - 1);
  if (to > from) madvise(reinterpret_cast<void*>(from), to - from, MADV_POPULATE_WRITE);
}

uint8_t* StoreBytes(size_t size) {
  if (size < kPopulateFrom) return static_cast<uint8_t*>(std::malloc(size ? size : 1));
  void* p = std::malloc(size);
  if (p) Populate(p, size);
  return static_cast<uint8_t*>(p);
}

}  // namespace

void PixelStore::Free::operator()(uint8_t* p) const {
  if (mapped)
    munmap(p, mapped);
  else
    std::free(p);
}

void PixelStore::Keep(uint8_t* p, size_t size, size_t mapped) {
  bytes_ = std::unique_ptr<uint8_t, Free>(p, Free{mapped});
  size_ = size;
}

bool PixelStore::Assign(size_t size) {
  if (size < kPopulateFrom) {
    void* p = std::calloc(size ? size : 1, 1);
    if (!p) return false;
    Keep(static_cast<uint8_t*>(p), size, 0);
  } else {
    uint8_t* p = StoreBytes(size);
    if (!p) return false;
    std::memset(p, 0, size);
    Keep(p, size, 0);
  }
  return true;
}

bool PixelStore::Assign(const uint8_t* from, size_t size) {
  uint8_t* p = StoreBytes(size);
  if (!p) return false;
  if (size) std::memcpy(p, from, size);
  Keep(p, size, 0);
  return true;
}

bool PixelStore::AssignUntouched(size_t size) {
  const size_t length = size ? size : 1;
  void* p = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) return false;
  Keep(static_cast<uint8_t*>(p), size, length);
  return true;
}

namespace {

std::mutex g_tableLock;
std::unordered_map<uintptr_t, std::shared_ptr<GdiObject>>& Table() {
  static auto* table = new std::unordered_map<uintptr_t, std::shared_ptr<GdiObject>>();
  return *table;
}
uintptr_t g_nextHandle = 0x1000;

}  // namespace

HGDIOBJ Register(std::shared_ptr<GdiObject> object) {
  std::lock_guard<std::mutex> lock(g_tableLock);
  g_nextHandle += 4;
  object->handle = g_nextHandle;
  Table()[g_nextHandle] = std::move(object);
  return reinterpret_cast<HGDIOBJ>(g_nextHandle);
}

std::shared_ptr<GdiObject> Lookup(HGDIOBJ handle) {
  if (!handle) return nullptr;
  std::lock_guard<std::mutex> lock(g_tableLock);
  auto it = Table().find(reinterpret_cast<uintptr_t>(handle));
  return it == Table().end() ? nullptr : it->second;
}

static bool Unregister(HGDIOBJ handle) {
  std::shared_ptr<GdiObject> keep;  // destroyed outside the lock
  std::lock_guard<std::mutex> lock(g_tableLock);
  auto it = Table().find(reinterpret_cast<uintptr_t>(handle));
  if (it == Table().end()) return false;
  keep = std::move(it->second);
  Table().erase(it);
  return true;
}

static HGDIOBJ HandleOf(const std::shared_ptr<GdiObject>& object) {
  return object ? reinterpret_cast<HGDIOBJ>(object->handle) : nullptr;
}

std::shared_ptr<DC> LookupDC(HDC dc) { return LookupAs<DC>(dc); }
std::shared_ptr<Bitmap> LookupBitmap(HBITMAP bitmap) { return LookupAs<Bitmap>(bitmap); }

// ---------------------------------------------------------------- pixels

COLORREF Bitmap::Get(int x, int y) const {
  const uint8_t* row = Row(y);
  switch (bpp) {
    case 32: {
      const uint8_t* p = row + x * 4;
      return RGB(p[2], p[1], p[0]);
    }
    case 24: {
      const uint8_t* p = row + x * 3;
      return RGB(p[2], p[1], p[0]);
    }
    case 16: {
      uint16_t v = static_cast<uint16_t>(row[x * 2] | (row[x * 2 + 1] << 8));
      int r = (v >> 10) & 31, g = (v >> 5) & 31, b = v & 31;
      return RGB((r << 3) | (r >> 2), (g << 3) | (g >> 2), (b << 3) | (b >> 2));
    }
    case 8: {
      const RGBQUAD& q = colours[row[x]];
      return RGB(q.rgbRed, q.rgbGreen, q.rgbBlue);
    }
    case 4: {
      int i = (row[x / 2] >> ((x & 1) ? 0 : 4)) & 15;
      const RGBQUAD& q = colours[i];
      return RGB(q.rgbRed, q.rgbGreen, q.rgbBlue);
    }
    case 1: {
      int i = (row[x / 8] >> (7 - (x & 7))) & 1;
      if (Mono()) return i ? RGB(255, 255, 255) : RGB(0, 0, 0);
      const RGBQUAD& q = colours[i];
      return RGB(q.rgbRed, q.rgbGreen, q.rgbBlue);
    }
  }
  return 0;
}

uint32_t Bitmap::NearestIndex(COLORREF c) const {
  int n = colourCount > 0 ? colourCount : (1 << bpp);
  if (Mono()) return c == RGB(0, 0, 0) ? 0 : 1;
  uint32_t best = 0;
  long bestDist = -1;
  for (int i = 0; i < n && i < 256; ++i) {
    long dr = static_cast<long>(colours[i].rgbRed) - GetRValue(c);
    long dg = static_cast<long>(colours[i].rgbGreen) - GetGValue(c);
    long db = static_cast<long>(colours[i].rgbBlue) - GetBValue(c);
    long d = dr * dr + dg * dg + db * db;
    if (bestDist < 0 || d < bestDist) {
      bestDist = d;
      best = static_cast<uint32_t>(i);
      if (d == 0) break;
    }
  }
  return best;
}

void Bitmap::Set(int x, int y, COLORREF c) {
  uint8_t* row = Row(y);
  switch (bpp) {
    case 32: {
      uint8_t* p = row + x * 4;
      p[0] = GetBValue(c);
      p[1] = GetGValue(c);
      p[2] = GetRValue(c);
      p[3] = 0;
      return;
    }
    case 24: {
      uint8_t* p = row + x * 3;
      p[0] = GetBValue(c);
      p[1] = GetGValue(c);
      p[2] = GetRValue(c);
      return;
    }
    case 16: {
      uint16_t v = static_cast<uint16_t>(((GetRValue(c) >> 3) << 10) | ((GetGValue(c) >> 3) << 5) | (GetBValue(c) >> 3));
      row[x * 2] = static_cast<uint8_t>(v & 0xFF);
      row[x * 2 + 1] = static_cast<uint8_t>(v >> 8);
      return;
    }
    case 8:
      row[x] = static_cast<uint8_t>(NearestIndex(c));
      return;
    case 4: {
      uint8_t i = static_cast<uint8_t>(NearestIndex(c));
      uint8_t& b = row[x / 2];
      b = (x & 1) ? static_cast<uint8_t>((b & 0xF0) | i) : static_cast<uint8_t>((b & 0x0F) | (i << 4));
      return;
    }
    case 1: {
      uint8_t bit = static_cast<uint8_t>(0x80 >> (x & 7));
      if (NearestIndex(c)) row[x / 8] |= bit;
      else row[x / 8] &= static_cast<uint8_t>(~bit);
      return;
    }
  }
}

uint32_t Rop3(uint32_t rop, uint32_t p, uint32_t s, uint32_t d) {
  uint32_t code = (rop >> 16) & 0xFF;
  switch (code) {
    case 0xCC: return s;
    case 0x88: return s & d;
    case 0xEE: return s | d;
    case 0x66: return s ^ d;
    case 0xF0: return p;
    case 0x00: return 0;
    case 0xFF: return 0xFFFFFF;
    case 0x55: return ~d & 0xFFFFFF;
    case 0x33: return ~s & 0xFFFFFF;
    case 0x5A: return p ^ d;
    default: break;
  }
  uint32_t r = 0;
  for (int i = 0; i < 8; ++i) {
    if (!((code >> i) & 1)) continue;
    uint32_t m = ((i & 4) ? p : ~p) & ((i & 2) ? s : ~s) & ((i & 1) ? d : ~d);
    r |= m;
  }
  return r & 0xFFFFFF;
}

// ---------------------------------------------------------------- DC helpers

RECT DC::Clip() const {
  RECT r = s.clip;
  if (s.bitmap) {
    r.left = std::max<LONG>(r.left, 0);
    r.top = std::max<LONG>(r.top, 0);
    r.right = std::min<LONG>(r.right, s.bitmap->width);
    r.bottom = std::min<LONG>(r.bottom, s.bitmap->height);
  } else {
    r = {0, 0, 0, 0};
  }
  if (r.right < r.left) r.right = r.left;
  if (r.bottom < r.top) r.bottom = r.top;
  return r;
}

static std::shared_ptr<Bitmap> MakeBitmap(int width, int height, int bpp) {
  auto b = std::make_shared<Bitmap>();
  b->width = std::max(width, 0);
  b->height = std::max(height, 0);
  b->bpp = bpp;
  b->stride = ((b->width * bpp + 31) / 32) * 4;
  // Out of memory: no bitmap, as for a size beyond the limit.
  if (!b->storage.Assign(static_cast<size_t>(b->stride) * b->height + 4)) return nullptr;
  b->bits = b->storage.data();
  return b;
}

// The one-pixel monochrome bitmap that a new memory DC holds.
static std::shared_ptr<Bitmap> DefaultMonoBitmap() {
  static std::shared_ptr<Bitmap> stock = [] {
    auto b = MakeBitmap(1, 1, 1);
    b->stock = true;
    Register(b);
    return b;
  }();
  return stock;
}

}  // namespace qk::gdi

using namespace qk::gdi;

// ---------------------------------------------------------------- DCs

HDC CreateCompatibleDC(HDC) {
  auto dc = std::make_shared<DC>();
  dc->type = OBJ_MEMDC;
  dc->memory = true;
  dc->s.bitmap = DefaultMonoBitmap();
  dc->s.clip = {0, 0, 1, 1};
  dc->baseClip = {-(1 << 28), -(1 << 28), 1 << 28, 1 << 28};
  dc->s.brush = LookupAs<Brush>(GetStockObject(WHITE_BRUSH));
  dc->s.pen = LookupAs<Pen>(GetStockObject(BLACK_PEN));
  dc->s.font = LookupAs<Font>(GetStockObject(SYSTEM_FONT));
  return reinterpret_cast<HDC>(Register(dc));
}

namespace qk::gdi {
HDC CreateScreenAreaDC(const RECT& area, HWND window) {
  auto dc = std::make_shared<DC>();
  dc->screen = true;
  dc->window = window;
  dc->s.bitmap = ScreenSurface();
  dc->baseClip = area;
  dc->s.clip = area;
  dc->s.viewport = {area.left, area.top};
  dc->s.brush = LookupAs<Brush>(GetStockObject(WHITE_BRUSH));
  dc->s.pen = LookupAs<Pen>(GetStockObject(BLACK_PEN));
  dc->s.font = LookupAs<Font>(GetStockObject(SYSTEM_FONT));
  return reinterpret_cast<HDC>(Register(dc));
}
}  // namespace qk::gdi

BOOL DeleteDC(HDC hdc) {
  auto dc = LookupDC(hdc);
  if (!dc) return FALSE;
  if (dc->coveredScreen) PutBackCovered(*dc);
  if (dc->s.bitmap && !dc->s.bitmap->stock) dc->s.bitmap->selectedCount--;
  dc->s.bitmap.reset();
  // Saved states hold their bitmaps too.
  for (auto& saved : dc->saved)
    if (saved.bitmap && !saved.bitmap->stock) saved.bitmap->selectedCount--;
  dc->saved.clear();
  return Unregister(hdc) ? TRUE : FALSE;
}

int SaveDC(HDC hdc) {
  auto dc = LookupDC(hdc);
  if (!dc) return 0;
  dc->saved.push_back(dc->s);
  if (dc->s.bitmap && !dc->s.bitmap->stock) dc->s.bitmap->selectedCount++;
  return static_cast<int>(dc->saved.size());
}

BOOL RestoreDC(HDC hdc, int saved) {
  auto dc = LookupDC(hdc);
  if (!dc || dc->saved.empty()) return FALSE;
  int n = static_cast<int>(dc->saved.size());
  int index = saved < 0 ? n + saved : saved - 1;
  if (index < 0 || index >= n) return FALSE;
  if (dc->s.bitmap && !dc->s.bitmap->stock) dc->s.bitmap->selectedCount--;
  dc->s = dc->saved[index];
  for (int i = index + 1; i < n; ++i)
    if (dc->saved[i].bitmap && !dc->saved[i].bitmap->stock) dc->saved[i].bitmap->selectedCount--;
  dc->saved.resize(index);
  return TRUE;
}

// Puts obj in a DC's slot of its kind; the handle of the object it held.
template <class T>
static HGDIOBJ Reselect(std::shared_ptr<T>& slot, const std::shared_ptr<GdiObject>& obj) {
  return HandleOf(std::exchange(slot, std::static_pointer_cast<T>(obj)));
}

HGDIOBJ SelectObject(HDC hdc, HGDIOBJ object) {
  auto dc = LookupDC(hdc);
  auto obj = Lookup(object);
  if (!dc || !obj) return nullptr;
  switch (obj->type) {
    case OBJ_BITMAP: {
      if (!dc->memory) return nullptr;
      auto bmp = std::static_pointer_cast<Bitmap>(obj);
      auto old = dc->s.bitmap;
      if (bmp == old) return object;
      // A bitmap can be selected into one memory DC at a time.
      if (!bmp->stock && bmp->selectedCount.load() > 0) return nullptr;
      if (!bmp->stock) bmp->selectedCount++;
      if (old && !old->stock) old->selectedCount--;
      dc->s.bitmap = bmp;
      dc->s.clip = {0, 0, bmp->width, bmp->height};
      return HandleOf(old);
    }
    case OBJ_BRUSH:
      return Reselect(dc->s.brush, obj);
    case OBJ_PEN:
      return Reselect(dc->s.pen, obj);
    case OBJ_FONT:
      return Reselect(dc->s.font, obj);
    case OBJ_PAL:
      return Reselect(dc->s.palette, obj);
  }
  return nullptr;
}

HGDIOBJ GetCurrentObject(HDC hdc, UINT type) {
  auto dc = LookupDC(hdc);
  if (!dc) return nullptr;
  switch (type) {
    case OBJ_BITMAP: return HandleOf(dc->s.bitmap);
    case OBJ_BRUSH: return HandleOf(dc->s.brush);
    case OBJ_PEN: return HandleOf(dc->s.pen);
    case OBJ_FONT: return HandleOf(dc->s.font);
    case OBJ_PAL: return HandleOf(dc->s.palette);
  }
  return nullptr;
}

BOOL DeleteObject(HGDIOBJ object) {
  auto obj = Lookup(object);
  if (!obj) return FALSE;
  if (obj->stock) return TRUE;
  if (obj->type == OBJ_DC || obj->type == OBJ_MEMDC) return FALSE;
  if (obj->type == OBJ_BITMAP && std::static_pointer_cast<Bitmap>(obj)->selectedCount.load() > 0) return FALSE;
  return Unregister(object) ? TRUE : FALSE;
}

DWORD GetObjectType(HGDIOBJ object) {
  auto obj = Lookup(object);
  return obj ? static_cast<DWORD>(obj->type) : 0;
}

int GetObjectW(HGDIOBJ object, int size, LPVOID out) {
  auto obj = Lookup(object);
  if (!obj) return 0;
  switch (obj->type) {
    case OBJ_BITMAP: {
      auto b = std::static_pointer_cast<Bitmap>(obj);
      DIBSECTION ds = {};
      ds.dsBm.bmType = 0;
      ds.dsBm.bmWidth = b->width;
      ds.dsBm.bmHeight = b->height;
      ds.dsBm.bmWidthBytes = b->dibSection ? b->stride : ((b->width * b->bpp + 15) / 16) * 2;
      ds.dsBm.bmPlanes = 1;
      ds.dsBm.bmBitsPixel = static_cast<WORD>(b->bpp);
      ds.dsBm.bmBits = b->dibSection ? b->bits : nullptr;
      if (!out) return b->dibSection ? static_cast<int>(sizeof(DIBSECTION)) : static_cast<int>(sizeof(BITMAP));
      if (b->dibSection && size >= static_cast<int>(sizeof(DIBSECTION))) {
        ds.dsBmih = b->header;
        std::memcpy(out, &ds, sizeof(DIBSECTION));
        return sizeof(DIBSECTION);
      }
      if (size < static_cast<int>(sizeof(BITMAP))) return 0;
      std::memcpy(out, &ds.dsBm, sizeof(BITMAP));
      return sizeof(BITMAP);
    }
    case OBJ_FONT: {
      auto f = std::static_pointer_cast<Font>(obj);
      if (!out) return sizeof(LOGFONTW);
      int n = std::min<int>(size, sizeof(LOGFONTW));
      std::memcpy(out, &f->log, n);
      return n;
    }
    case OBJ_BRUSH: {
      auto b = std::static_pointer_cast<Brush>(obj);
      if (!out) return sizeof(LOGBRUSH);
      if (size < static_cast<int>(sizeof(LOGBRUSH))) return 0;
      LOGBRUSH lb = {b->style, b->sysIndex >= 0 ? GetSysColor(b->sysIndex) : b->colour, 0};
      std::memcpy(out, &lb, sizeof lb);
      return sizeof lb;
    }
    case OBJ_PEN: {
      auto p = std::static_pointer_cast<Pen>(obj);
      if (!out) return sizeof(LOGPEN);
      if (size < static_cast<int>(sizeof(LOGPEN))) return 0;
      LOGPEN lp = {static_cast<UINT>(p->style), {p->width, 0}, p->colour};
      std::memcpy(out, &lp, sizeof lp);
      return sizeof lp;
    }
    case OBJ_PAL: {
      auto p = std::static_pointer_cast<Palette>(obj);
      if (!out || size < 2) return 2;
      WORD n = static_cast<WORD>(p->entries.size());
      std::memcpy(out, &n, 2);
      return 2;
    }
  }
  return 0;
}

namespace {

// One setting of a DC's state: the setter answers the previous value, both
// answer failed for a handle that is no DC.
template <class T>
T ExchangeSetting(HDC hdc, T DCState::*field, T value, T failed) {
  auto dc = LookupDC(hdc);
  return dc ? std::exchange(dc->s.*field, value) : failed;
}
template <class T>
T ReadSetting(HDC hdc, T DCState::*field, T failed) {
  auto dc = LookupDC(hdc);
  return dc ? dc->s.*field : failed;
}

}  // namespace

COLORREF SetTextColor(HDC hdc, COLORREF c) {
  return ExchangeSetting(hdc, &DCState::textColour, c & 0xFFFFFF, COLORREF(CLR_INVALID));
}
COLORREF GetTextColor(HDC hdc) { return ReadSetting(hdc, &DCState::textColour, COLORREF(CLR_INVALID)); }
COLORREF SetBkColor(HDC hdc, COLORREF c) {
  return ExchangeSetting(hdc, &DCState::bkColour, c & 0xFFFFFF, COLORREF(CLR_INVALID));
}
COLORREF GetBkColor(HDC hdc) { return ReadSetting(hdc, &DCState::bkColour, COLORREF(CLR_INVALID)); }
int SetBkMode(HDC hdc, int mode) {
  if (mode != TRANSPARENT && mode != OPAQUE) return 0;
  return ExchangeSetting(hdc, &DCState::bkMode, mode, 0);
}
int GetBkMode(HDC hdc) { return ReadSetting(hdc, &DCState::bkMode, 0); }
int SetStretchBltMode(HDC hdc, int mode) { return ExchangeSetting(hdc, &DCState::stretchMode, mode, 0); }
int GetStretchBltMode(HDC hdc) { return ReadSetting(hdc, &DCState::stretchMode, 0); }
UINT SetTextAlign(HDC hdc, UINT align) { return ExchangeSetting(hdc, &DCState::textAlign, align, UINT(GDI_ERROR)); }
BOOL SetViewportOrgEx(HDC hdc, int x, int y, LPPOINT old) {
  auto dc = LookupDC(hdc);
  if (!dc) return FALSE;
  POINT base = {dc->screen ? dc->baseClip.left : 0, dc->screen ? dc->baseClip.top : 0};
  if (old) *old = {dc->s.viewport.x - base.x, dc->s.viewport.y - base.y};
  dc->s.viewport = {base.x + x, base.y + y};
  return TRUE;
}
BOOL GetViewportOrgEx(HDC hdc, LPPOINT out) {
  auto dc = LookupDC(hdc);
  if (!dc || !out) return FALSE;
  POINT base = {dc->screen ? dc->baseClip.left : 0, dc->screen ? dc->baseClip.top : 0};
  *out = {dc->s.viewport.x - base.x, dc->s.viewport.y - base.y};
  return TRUE;
}
BOOL SetBrushOrgEx(HDC hdc, int x, int y, LPPOINT old) {
  auto dc = LookupDC(hdc);
  if (!dc) return FALSE;
  if (old) *old = dc->s.brushOrg;
  dc->s.brushOrg = {x, y};
  return TRUE;
}
int IntersectClipRect(HDC hdc, int left, int top, int right, int bottom) {
  auto dc = LookupDC(hdc);
  if (!dc) return ERROR_REGION;
  RECT r = {left + dc->s.viewport.x, top + dc->s.viewport.y, right + dc->s.viewport.x, bottom + dc->s.viewport.y};
  RECT out;
  if (!IntersectRect(&out, &dc->s.clip, &r)) out = {0, 0, 0, 0};
  dc->s.clip = out;
  return IsRectEmpty(&out) ? NULLREGION : SIMPLEREGION;
}
int GetClipBox(HDC hdc, LPRECT rect) {
  auto dc = LookupDC(hdc);
  if (!dc || !rect) return ERROR_REGION;
  RECT c = dc->Clip();
  *rect = {c.left - dc->s.viewport.x, c.top - dc->s.viewport.y, c.right - dc->s.viewport.x,
           c.bottom - dc->s.viewport.y};
  return IsRectEmpty(rect) ? NULLREGION : SIMPLEREGION;
}

// ---------------------------------------------------------------- bitmaps

HBITMAP CreateCompatibleBitmap(HDC hdc, int width, int height) {
  if (width < 0 || height < 0) return nullptr;
  if (static_cast<int64_t>(width) * height > (1 << 26)) return nullptr;
  auto dc = LookupDC(hdc);
  int bpp = 32;
  if (dc && dc->memory && dc->s.bitmap && dc->s.bitmap->Mono()) bpp = 1;
  auto b = MakeBitmap(width, height, bpp);
  if (!b) return nullptr;
  return reinterpret_cast<HBITMAP>(Register(b));
}

HBITMAP CreateBitmap(int width, int height, UINT planes, UINT bitsPerPixel, const void* bits) {
  if (width < 0 || height < 0 || planes != 1) return nullptr;
  if (static_cast<int64_t>(width) * height > (1 << 26)) return nullptr;
  int bpp = bitsPerPixel == 1 ? 1 : 32;
  auto b = MakeBitmap(width, height, bpp);
  if (!b) return nullptr;
  if (bits) {
    // Device-dependent bits: rows padded to 16 bits.
    int srcStride = ((width * static_cast<int>(bitsPerPixel) + 15) / 16) * 2;
    const uint8_t* src = static_cast<const uint8_t*>(bits);
    for (int y = 0; y < height; ++y) {
      const uint8_t* row = src + static_cast<size_t>(srcStride) * y;
      if (bpp == 1) {
        std::memcpy(b->Row(y), row, static_cast<size_t>((width + 7) / 8));
      } else if (bitsPerPixel == 32) {
        std::memcpy(b->Row(y), row, static_cast<size_t>(width) * 4);
      } else if (bitsPerPixel == 24) {
        for (int x = 0; x < width; ++x) b->Set(x, y, RGB(row[x * 3 + 2], row[x * 3 + 1], row[x * 3]));
      }
    }
  }
  return reinterpret_cast<HBITMAP>(Register(b));
}

HBITMAP CreateDIBSection(HDC, const BITMAPINFO* info, UINT usage, void** bits, HANDLE, DWORD) {
  if (bits) *bits = nullptr;
  if (!info || info->bmiHeader.biSize < 40) return nullptr;
  const BITMAPINFOHEADER& h = info->bmiHeader;
  int bpp = h.biBitCount;
  if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) return nullptr;
  if (h.biCompression != BI_RGB && !(h.biCompression == BI_BITFIELDS && (bpp == 16 || bpp == 32))) return nullptr;
  if (h.biWidth <= 0 || h.biHeight == 0 || h.biPlanes != 1) return nullptr;
  int64_t height = h.biHeight < 0 ? -static_cast<int64_t>(h.biHeight) : h.biHeight;
  if (static_cast<int64_t>(h.biWidth) * height > (1 << 26)) return nullptr;
  auto b = MakeBitmap(h.biWidth, static_cast<int>(height), bpp);
  if (!b) return nullptr;
  b->dibSection = true;
  b->topDown = h.biHeight < 0;
  b->header = h;
  b->header.biSize = 40;
  if (b->header.biSizeImage == 0) b->header.biSizeImage = static_cast<DWORD>(b->stride * b->height);
  if (bpp <= 8) {
    int n = h.biClrUsed ? std::min<int>(static_cast<int>(h.biClrUsed), 1 << bpp) : (1 << bpp);
    b->colourCount = n;
    if (usage == DIB_RGB_COLORS)
      for (int i = 0; i < n; ++i) b->colours[i] = info->bmiColors[i];
  }
  if (bits) *bits = b->bits;
  return reinterpret_cast<HBITMAP>(Register(b));
}

UINT GetDIBColorTable(HDC hdc, UINT start, UINT count, RGBQUAD* colours) {
  auto dc = LookupDC(hdc);
  if (!dc || !dc->s.bitmap || !dc->s.bitmap->dibSection || dc->s.bitmap->bpp > 8) return 0;
  auto& b = *dc->s.bitmap;
  UINT n = 0;
  for (UINT i = start; i < static_cast<UINT>(b.colourCount) && n < count; ++i, ++n) colours[n] = b.colours[i];
  return n;
}

UINT SetDIBColorTable(HDC hdc, UINT start, UINT count, const RGBQUAD* colours) {
  auto dc = LookupDC(hdc);
  if (!dc || !dc->s.bitmap || !dc->s.bitmap->dibSection || dc->s.bitmap->bpp > 8) return 0;
  auto& b = *dc->s.bitmap;
  UINT n = 0;
  for (UINT i = start; i < static_cast<UINT>(b.colourCount) && n < count; ++i, ++n) b.colours[i] = colours[n];
  return n;
}

COLORREF GetPixel(HDC hdc, int x, int y) {
  auto dc = LookupDC(hdc);
  if (!dc || !dc->s.bitmap) return CLR_INVALID;
  int sx = x + dc->s.viewport.x, sy = y + dc->s.viewport.y;
  RECT c = dc->Clip();
  if (sx < c.left || sy < c.top || sx >= c.right || sy >= c.bottom) return CLR_INVALID;
  return dc->s.bitmap->Get(sx, sy);
}

COLORREF SetPixel(HDC hdc, int x, int y, COLORREF colour) {
  auto dc = LookupDC(hdc);
  if (!dc || !dc->s.bitmap) return CLR_INVALID;
  int sx = x + dc->s.viewport.x, sy = y + dc->s.viewport.y;
  RECT c = dc->Clip();
  if (sx < c.left || sy < c.top || sx >= c.right || sy >= c.bottom) return CLR_INVALID;
  dc->s.bitmap->Set(sx, sy, colour);
  if (dc->screen) NoteScreenChanged();
  return dc->s.bitmap->Get(sx, sy);
}

// ---------------------------------------------------------------- palettes

HPALETTE CreatePalette(const LOGPALETTE* lp) {
  if (!lp || lp->palNumEntries == 0 || lp->palNumEntries > 256) return nullptr;
  auto p = std::make_shared<Palette>();
  p->entries.assign(lp->palPalEntry, lp->palPalEntry + lp->palNumEntries);
  return reinterpret_cast<HPALETTE>(Register(p));
}

HPALETTE SelectPalette(HDC hdc, HPALETTE palette, BOOL) {
  return reinterpret_cast<HPALETTE>(SelectObject(hdc, palette));
}

UINT RealizePalette(HDC hdc) { return LookupDC(hdc) ? 0 : GDI_ERROR; }

UINT GetPaletteEntries(HPALETTE palette, UINT start, UINT count, PALETTEENTRY* entries) {
  auto p = LookupAs<Palette>(palette);
  if (!p) return 0;
  if (!entries) return static_cast<UINT>(p->entries.size());
  UINT n = 0;
  for (UINT i = start; i < p->entries.size() && n < count; ++i, ++n) entries[n] = p->entries[i];
  return n;
}

// ---------------------------------------------------------------- brushes and pens

HBRUSH CreateSolidBrush(COLORREF colour) {
  auto b = std::make_shared<Brush>();
  b->colour = colour & 0xFFFFFF;
  return reinterpret_cast<HBRUSH>(Register(b));
}

HBRUSH CreatePatternBrush(HBITMAP bitmap) {
  auto src = LookupBitmap(bitmap);
  if (!src || src->width == 0 || src->height == 0) return nullptr;
  auto b = std::make_shared<Brush>();
  b->style = BS_PATTERN;
  b->patWidth = src->width;
  b->patHeight = src->height;
  b->patMono = src->Mono();
  b->pattern.resize(static_cast<size_t>(src->width) * src->height);
  for (int y = 0; y < src->height; ++y)
    for (int x = 0; x < src->width; ++x) {
      COLORREF c = src->Get(x, y);
      b->pattern[static_cast<size_t>(y) * src->width + x] = b->patMono ? (c ? 1u : 0u) : c;
    }
  return reinterpret_cast<HBRUSH>(Register(b));
}

HBRUSH CreateDIBPatternBrushPt(const void* packed, UINT usage) {
  if (!packed) return nullptr;
  const BITMAPINFO* info = static_cast<const BITMAPINFO*>(packed);
  const BITMAPINFOHEADER& h = info->bmiHeader;
  if (h.biSize < 40) return nullptr;
  int colours = h.biBitCount <= 8 ? (h.biClrUsed ? static_cast<int>(h.biClrUsed) : (1 << h.biBitCount)) : 0;
  void* bits = nullptr;
  HBITMAP bmp = CreateDIBSection(nullptr, info, usage, &bits, nullptr, 0);
  if (!bmp) return nullptr;
  auto b = LookupBitmap(bmp);
  const uint8_t* src = reinterpret_cast<const uint8_t*>(packed) + h.biSize + 4 * colours;
  std::memcpy(bits, src, static_cast<size_t>(b->stride) * b->height);
  HBRUSH brush = CreatePatternBrush(bmp);
  DeleteObject(bmp);
  return brush;
}

HPEN CreatePen(int style, int width, COLORREF colour) {
  auto p = std::make_shared<Pen>();
  p->style = style;
  p->width = width < 1 ? 1 : width;
  p->colour = colour & 0xFFFFFF;
  return reinterpret_cast<HPEN>(Register(p));
}

HPEN CreatePenIndirect(const LOGPEN* lp) {
  if (!lp) return nullptr;
  return CreatePen(static_cast<int>(lp->lopnStyle), lp->lopnWidth.x, lp->lopnColor);
}

HGDIOBJ GetStockObject(int index) {
  static std::mutex lock;
  static HGDIOBJ objects[32] = {};
  if (index < 0 || index >= 32) return nullptr;
  std::lock_guard<std::mutex> guard(lock);
  if (objects[index]) {
    if (index == SYSTEM_FONT || index == DEFAULT_GUI_FONT) {
      // The stock fonts are sized for the screen's density, which tests
      // (and the device profile) may change.
      auto f = LookupAs<Font>(objects[index]);
      LONG height = -((8 * ScreenDpi() + 36) / 72);
      std::lock_guard<std::mutex> faceGuard(f->faceLock);
      if (f->log.lfHeight != height) {
        f->log.lfHeight = height;
        f->face.reset();
      }
    }
    return objects[index];
  }
  std::shared_ptr<GdiObject> obj;
  auto brush = [](COLORREF c, UINT style) {
    auto b = std::make_shared<Brush>();
    b->colour = c;
    b->style = style;
    return b;
  };
  auto pen = [](COLORREF c, int style) {
    auto p = std::make_shared<Pen>();
    p->colour = c;
    p->style = style;
    return p;
  };
  switch (index) {
    case WHITE_BRUSH: obj = brush(RGB(255, 255, 255), BS_SOLID); break;
    case LTGRAY_BRUSH: obj = brush(RGB(192, 192, 192), BS_SOLID); break;
    case GRAY_BRUSH: obj = brush(RGB(128, 128, 128), BS_SOLID); break;
    case DKGRAY_BRUSH: obj = brush(RGB(64, 64, 64), BS_SOLID); break;
    case BLACK_BRUSH: obj = brush(RGB(0, 0, 0), BS_SOLID); break;
    case NULL_BRUSH: obj = brush(0, BS_NULL); break;
    case WHITE_PEN: obj = pen(RGB(255, 255, 255), PS_SOLID); break;
    case BLACK_PEN: obj = pen(RGB(0, 0, 0), PS_SOLID); break;
    case NULL_PEN: obj = pen(0, PS_NULL); break;
    case SYSTEM_FONT:
    case DEFAULT_GUI_FONT: {
      auto f = std::make_shared<Font>();
      // The system font: Tahoma, 8 points of the screen's density, bold for
      // the system font as on the device.
      int dpi = ScreenDpi();
      f->log.lfHeight = -((8 * dpi + 36) / 72);
      f->log.lfWeight = index == SYSTEM_FONT ? FW_BOLD : FW_NORMAL;
      const char16_t* face = u"Tahoma";
      for (int i = 0; face[i]; ++i) f->log.lfFaceName[i] = face[i];
      obj = f;
      break;
    }
    case DEFAULT_PALETTE: {
      auto p = std::make_shared<Palette>();
      p->entries.push_back({0, 0, 0, 0});
      p->entries.push_back({255, 255, 255, 0});
      obj = p;
      break;
    }
    default: return nullptr;
  }
  obj->stock = true;
  objects[index] = Register(obj);
  return objects[index];
}

HBRUSH GetSysColorBrush(int index) {
  static std::mutex lock;
  static HBRUSH brushes[32] = {};
  int i = index & 0xFF;
  if (i < 0 || i >= 32) return nullptr;
  std::lock_guard<std::mutex> guard(lock);
  if (!brushes[i]) {
    auto b = std::make_shared<Brush>();
    b->sysIndex = i;
    b->stock = true;
    brushes[i] = reinterpret_cast<HBRUSH>(Register(b));
  }
  return brushes[i];
}

// ---------------------------------------------------------------- rectangles

BOOL SetRect(LPRECT r, int left, int top, int right, int bottom) {
  if (!r) return FALSE;
  *r = {left, top, right, bottom};
  return TRUE;
}
BOOL SetRectEmpty(LPRECT r) { return SetRect(r, 0, 0, 0, 0); }
BOOL IsRectEmpty(const RECT* r) { return !r || r->right <= r->left || r->bottom <= r->top; }
BOOL InflateRect(LPRECT r, int dx, int dy) {
  if (!r) return FALSE;
  r->left -= dx;
  r->right += dx;
  r->top -= dy;
  r->bottom += dy;
  return TRUE;
}
BOOL OffsetRect(LPRECT r, int dx, int dy) {
  if (!r) return FALSE;
  r->left += dx;
  r->right += dx;
  r->top += dy;
  r->bottom += dy;
  return TRUE;
}
BOOL IntersectRect(LPRECT out, const RECT* a, const RECT* b) {
  if (!out || !a || !b) return FALSE;
  RECT r = {std::max(a->left, b->left), std::max(a->top, b->top), std::min(a->right, b->right),
            std::min(a->bottom, b->bottom)};
  if (r.right <= r.left || r.bottom <= r.top) {
    *out = {0, 0, 0, 0};
    return FALSE;
  }
  *out = r;
  return TRUE;
}
BOOL UnionRect(LPRECT out, const RECT* a, const RECT* b) {
  if (!out || !a || !b) return FALSE;
  if (IsRectEmpty(a)) {
    *out = *b;
  } else if (IsRectEmpty(b)) {
    *out = *a;
  } else {
    *out = {std::min(a->left, b->left), std::min(a->top, b->top), std::max(a->right, b->right),
            std::max(a->bottom, b->bottom)};
  }
  return !IsRectEmpty(out);
}
BOOL PtInRect(const RECT* r, POINT p) {
  return r && p.x >= r->left && p.x < r->right && p.y >= r->top && p.y < r->bottom;
}
BOOL CopyRect(LPRECT out, const RECT* in) {
  if (!out || !in) return FALSE;
  *out = *in;
  return TRUE;
}
BOOL EqualRect(const RECT* a, const RECT* b) {
  return a && b && a->left == b->left && a->top == b->top && a->right == b->right && a->bottom == b->bottom;
}
