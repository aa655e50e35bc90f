// Blits, raster operations, filling, lines, polygons, alpha blending,
// gradients and transparent blits.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "gdi/surface.h"

using namespace qk::gdi;

namespace {

inline COLORREF BrushColourAt(const DCState& s, const Brush* b, int x, int y) {
  if (!b || b->style == BS_NULL) return 0;
  if (b->sysIndex >= 0) return GetSysColor(b->sysIndex);
  if (b->style == BS_SOLID || b->pattern.empty()) return b->colour;
  int px = ((x - s.brushOrg.x) % b->patWidth + b->patWidth) % b->patWidth;
  int py = ((y - s.brushOrg.y) % b->patHeight + b->patHeight) % b->patHeight;
  COLORREF c = b->pattern[static_cast<size_t>(py) * b->patWidth + px];
  if (b->patMono) return c ? s.bkColour : s.textColour;
  return c;
}

// Source colour as the destination sees it (monochrome conversions).
inline COLORREF SourceColour(const DC& src, const DC& dst, int x, int y) {
  const Bitmap& sb = *src.s.bitmap;
  const Bitmap& db = *dst.s.bitmap;
  COLORREF c = sb.Get(x, y);
  if (sb.Mono() && !db.Mono()) return c ? dst.s.bkColour : dst.s.textColour;
  if (!sb.Mono() && db.Mono()) return c == src.s.bkColour ? RGB(255, 255, 255) : RGB(0, 0, 0);
  return c;
}

inline void StoreColour(Bitmap& b, int x, int y, uint32_t c) {
  if (b.Mono()) c = (c & 0xFFFFFF) ? 0xFFFFFF : 0;
  b.Set(x, y, c);
}

inline bool UsesSource(DWORD rop) {
  uint32_t code = (rop >> 16) & 0xFF;
  return ((code >> 2) & 0x33) != (code & 0x33);
}
inline bool UsesPattern(DWORD rop) {
  uint32_t code = (rop >> 16) & 0xFF;
  return ((code >> 4) & 0x0F) != (code & 0x0F);
}

// Intersection of a destination rectangle (surface coordinates) with the
// DC's clip; false when nothing remains.
bool ClipTo(const DC& dc, RECT& r) {
  RECT c = dc.Clip();
  RECT out;
  if (!IntersectRect(&out, &r, &c)) return false;
  r = out;
  return true;
}

void Touched(const DC& dc) {
  if (dc.screen) NoteScreenChanged();
}

// Fills a surface rectangle (already clipped) with a raster operation of the
// DC's brush and the destination.
void PatFill(DC& dc, const RECT& r, DWORD rop, const Brush* brush) {
  Bitmap& b = *dc.s.bitmap;
  bool solid = brush && brush->style == BS_SOLID;
  COLORREF solidColour = solid ? (brush->sysIndex >= 0 ? GetSysColor(brush->sysIndex) : brush->colour) : 0;
  if (!brush || brush->style == BS_NULL) {
    if (UsesPattern(rop)) return;
  }
  if (solid && rop == PATCOPY && b.bpp == 32) {
    uint32_t px = GetBValue(solidColour) | (GetGValue(solidColour) << 8) | (GetRValue(solidColour) << 16);
    for (int y = r.top; y < r.bottom; ++y) {
      uint32_t* row = reinterpret_cast<uint32_t*>(b.Row(y)) + r.left;
      std::fill(row, row + (r.right - r.left), px);
    }
    return;
  }
  for (int y = r.top; y < r.bottom; ++y)
    for (int x = r.left; x < r.right; ++x) {
      COLORREF p = solid ? solidColour : BrushColourAt(dc.s, brush, x, y);
      if (b.Mono()) p = p ? 0xFFFFFF : 0;
      COLORREF d = b.Get(x, y);
      StoreColour(b, x, y, Rop3(rop, p, 0, d));
    }
}

// A negative extent mirrors: the span starts at its other end and the
// flip toggles.
void Unmirror(int& start, int& extent, bool& flip) {
  if (extent >= 0) return;
  start += extent;
  extent = -extent;
  flip = !flip;
}

}  // namespace

// ---------------------------------------------------------------- blits

BOOL StretchBlt(HDC hdst, int x, int y, int width, int height, HDC hsrc, int xSrc, int ySrc, int srcWidth,
                int srcHeight, DWORD rop) {
  auto dst = LookupDC(hdst);
  if (!dst || !dst->s.bitmap) return FALSE;
  bool needSource = UsesSource(rop);
  std::shared_ptr<DC> src;
  if (needSource) {
    src = LookupDC(hsrc);
    if (!src || !src->s.bitmap) return FALSE;
  }
  if (width == 0 || height == 0) return TRUE;
  if (needSource && (srcWidth == 0 || srcHeight == 0)) return TRUE;
  // Mirroring by negative sizes.
  bool flipX = false, flipY = false;
  Unmirror(x, width, flipX);
  Unmirror(y, height, flipY);
  if (needSource) {
    Unmirror(xSrc, srcWidth, flipX);
    Unmirror(ySrc, srcHeight, flipY);
  }
  int dx0 = x + dst->s.viewport.x, dy0 = y + dst->s.viewport.y;
  RECT r = {dx0, dy0, dx0 + width, dy0 + height};
  if (!ClipTo(*dst, r)) return TRUE;
  Bitmap& db = *dst->s.bitmap;
  const Brush* brush = dst->s.brush.get();
  if (!needSource) {
    PatFill(*dst, r, rop, brush);
    Touched(*dst);
    return TRUE;
  }
  int sx0 = xSrc + src->s.viewport.x, sy0 = ySrc + src->s.viewport.y;
  RECT sc = src->Clip();
  Bitmap& sb = *src->s.bitmap;
  bool same = srcWidth == width && srcHeight == height && !flipX && !flipY;
  // Straight copies between true-colour surfaces.
  if (same && rop == SRCCOPY && (db.bpp == 32 || db.bpp == 24) && (sb.bpp == 32 || sb.bpp == 24) &&
      !(db.Mono() || sb.Mono())) {
    int ox = sx0 - dx0, oy = sy0 - dy0;
    RECT s2 = {r.left + ox, r.top + oy, r.right + ox, r.bottom + oy};
    RECT si;
    if (!IntersectRect(&si, &s2, &sc)) return TRUE;
    r = {si.left - ox, si.top - oy, si.right - ox, si.bottom - oy};
    int w = r.right - r.left;
    bool overlap = &db == &sb;
    for (int i = 0; i < r.bottom - r.top; ++i) {
      int yy = (overlap && oy < 0) ? r.bottom - 1 - i : r.top + i;
      uint8_t* d = db.Row(yy);
      const uint8_t* s = sb.Row(yy + oy);
      if (db.bpp == 32 && sb.bpp == 32) {
        std::memmove(d + r.left * 4, s + (r.left + ox) * 4, static_cast<size_t>(w) * 4);
      } else if (db.bpp == 24 && sb.bpp == 24) {
        std::memmove(d + r.left * 3, s + (r.left + ox) * 3, static_cast<size_t>(w) * 3);
      } else if (db.bpp == 24) {
        const uint8_t* __restrict sp = s + (r.left + ox) * 4;
        uint8_t* __restrict dp = d + r.left * 3;
        for (int k = 0; k < w; ++k, sp += 4, dp += 3) {
          dp[0] = sp[0];
          dp[1] = sp[1];
          dp[2] = sp[2];
        }
      } else {
        const uint8_t* __restrict sp = s + (r.left + ox) * 3;
        uint32_t* __restrict dp = reinterpret_cast<uint32_t*>(d) + r.left;
        for (int k = 0; k < w; ++k, sp += 3) dp[k] = sp[0] | (sp[1] << 8) | (static_cast<uint32_t>(sp[2]) << 16);
      }
    }
    Touched(*dst);
    return TRUE;
  }
  // When source and destination are one surface, read from a copy so that
  // no pixel is read after it was written.
  std::shared_ptr<Bitmap> snapshot;
  if (&sb == &db) {
    snapshot = std::make_shared<Bitmap>();
    snapshot->width = sb.width;
    snapshot->height = sb.height;
    snapshot->bpp = sb.bpp;
    snapshot->topDown = sb.topDown;
    snapshot->dibSection = sb.dibSection;
    snapshot->stride = sb.stride;
    snapshot->storage.Assign(sb.bits, static_cast<size_t>(sb.stride) * sb.height);
    snapshot->bits = snapshot->storage.data();
    std::memcpy(snapshot->colours, sb.colours, sizeof sb.colours);
    snapshot->colourCount = sb.colourCount;
  }
  DC srcView;
  if (snapshot) {
    srcView.s = src->s;
    srcView.s.bitmap = snapshot;
  }
  const DC& reader = snapshot ? srcView : *src;
  for (int yy = r.top; yy < r.bottom; ++yy) {
    int j = yy - dy0;
    int sy = static_cast<int>((static_cast<int64_t>(j) * 2 + 1) * srcHeight / (2 * static_cast<int64_t>(height)));
    if (flipY) sy = srcHeight - 1 - sy;
    sy += sy0;
    if (sy < sc.top || sy >= sc.bottom) continue;
    for (int xx = r.left; xx < r.right; ++xx) {
      int i = xx - dx0;
      int sx = static_cast<int>((static_cast<int64_t>(i) * 2 + 1) * srcWidth / (2 * static_cast<int64_t>(width)));
      if (flipX) sx = srcWidth - 1 - sx;
      sx += sx0;
      if (sx < sc.left || sx >= sc.right) continue;
      COLORREF s = SourceColour(reader, *dst, sx, sy);
      COLORREF d = db.Get(xx, yy);
      COLORREF p = UsesPattern(rop) ? BrushColourAt(dst->s, brush, xx, yy) : 0;
      if (db.Mono()) p = p ? 0xFFFFFF : 0;
      StoreColour(db, xx, yy, Rop3(rop, p, s, d));
    }
  }
  Touched(*dst);
  return TRUE;
}

BOOL BitBlt(HDC dst, int x, int y, int width, int height, HDC src, int xSrc, int ySrc, DWORD rop) {
  return StretchBlt(dst, x, y, width, height, src, xSrc, ySrc, width, height, rop);
}

BOOL PatBlt(HDC hdc, int x, int y, int width, int height, DWORD rop) {
  if (UsesSource(rop)) return FALSE;
  return StretchBlt(hdc, x, y, width, height, nullptr, 0, 0, 0, 0, rop);
}

int FillRect(HDC hdc, const RECT* rect, HBRUSH hbrush) {
  auto dc = LookupDC(hdc);
  auto brush = LookupAs<Brush>(hbrush);
  if (!dc || !rect || !brush || !dc->s.bitmap) return 0;
  RECT r = *rect;
  OffsetRect(&r, dc->s.viewport.x, dc->s.viewport.y);
  if (r.right <= r.left || r.bottom <= r.top) return 1;
  if (!ClipTo(*dc, r)) return 1;
  PatFill(*dc, r, PATCOPY, brush.get());
  Touched(*dc);
  return 1;
}

// ---------------------------------------------------------------- DIB bits to a DC

int StretchDIBits(HDC hdc, int x, int y, int width, int height, int xSrc, int ySrc, int srcWidth,
                  int srcHeight, const void* bits, const BITMAPINFO* info, UINT usage, DWORD rop) {
  if (!bits || !info) return 0;
  void* sectionBits = nullptr;
  HBITMAP section = CreateDIBSection(hdc, info, usage, &sectionBits, nullptr, 0);
  if (!section) return 0;
  auto b = LookupBitmap(section);
  std::memcpy(sectionBits, bits, static_cast<size_t>(b->stride) * b->height);
  HDC mem = CreateCompatibleDC(hdc);
  HGDIOBJ old = SelectObject(mem, section);
  // DIB coordinates count from the bottom row for bottom-up bitmaps.
  int sy = b->topDown ? ySrc : b->height - ySrc - srcHeight;
  BOOL ok = StretchBlt(hdc, x, y, width, height, mem, xSrc, sy, srcWidth, srcHeight, rop);
  SelectObject(mem, old);
  DeleteDC(mem);
  DeleteObject(section);
  return ok ? std::abs(srcHeight) : 0;
}

int SetDIBitsToDevice(HDC hdc, int x, int y, DWORD width, DWORD height, int xSrc, int ySrc, UINT, UINT lines,
                      const void* bits, const BITMAPINFO* info, UINT usage) {
  int n = StretchDIBits(hdc, x, y, static_cast<int>(width), static_cast<int>(height), xSrc, ySrc,
                        static_cast<int>(width), static_cast<int>(height), bits, info, usage, SRCCOPY);
  return n ? static_cast<int>(lines) : 0;
}

// ---------------------------------------------------------------- alpha blending

BOOL AlphaBlend(HDC hdst, int x, int y, int width, int height, HDC hsrc, int xSrc, int ySrc, int srcWidth,
                int srcHeight, BLENDFUNCTION blend) {
  auto dst = LookupDC(hdst);
  auto src = LookupDC(hsrc);
  if (!dst || !src || !dst->s.bitmap || !src->s.bitmap) return FALSE;
  if (width < 0 || height < 0 || srcWidth < 0 || srcHeight < 0 || blend.BlendOp != AC_SRC_OVER) return FALSE;
  if (width == 0 || height == 0 || srcWidth == 0 || srcHeight == 0) return TRUE;
  int sx0 = xSrc + src->s.viewport.x, sy0 = ySrc + src->s.viewport.y;
  RECT sc = src->Clip();
  // The source rectangle must lie inside the source surface.
  if (sx0 < sc.left || sy0 < sc.top || sx0 + srcWidth > sc.right || sy0 + srcHeight > sc.bottom) return FALSE;
  int dx0 = x + dst->s.viewport.x, dy0 = y + dst->s.viewport.y;
  RECT r = {dx0, dy0, dx0 + width, dy0 + height};
  if (!ClipTo(*dst, r)) return TRUE;
  Bitmap& db = *dst->s.bitmap;
  Bitmap& sb = *src->s.bitmap;
  const uint32_t sca = blend.SourceConstantAlpha;
  const bool perPixel = (blend.AlphaFormat & AC_SRC_ALPHA) && sb.bpp == 32;
  for (int yy = r.top; yy < r.bottom; ++yy) {
    int sy = sy0 + static_cast<int>((static_cast<int64_t>(yy - dy0) * 2 + 1) * srcHeight / (2 * static_cast<int64_t>(height)));
    for (int xx = r.left; xx < r.right; ++xx) {
      int sx = sx0 + static_cast<int>((static_cast<int64_t>(xx - dx0) * 2 + 1) * srcWidth / (2 * static_cast<int64_t>(width)));
      COLORREF s = sb.Get(sx, sy);
      COLORREF d = db.Get(xx, yy);
      uint32_t sr = GetRValue(s), sg = GetGValue(s), sbl = GetBValue(s);
      uint32_t out[3];
      if (perPixel) {
        // Premultiplied source: d = s * sca + d * (1 - a * sca).
        uint32_t a = sb.Row(sy)[sx * 4 + 3];
        uint32_t ea = (a * sca + 127) / 255;
        uint32_t comps[3] = {sr, sg, sbl};
        uint32_t dcomp[3] = {GetRValue(d), GetGValue(d), GetBValue(d)};
        for (int k = 0; k < 3; ++k) {
          uint32_t v = (comps[k] * sca + 127) / 255 + (dcomp[k] * (255 - ea) + 127) / 255;
          out[k] = v > 255 ? 255 : v;
        }
      } else {
        uint32_t comps[3] = {sr, sg, sbl};
        uint32_t dcomp[3] = {GetRValue(d), GetGValue(d), GetBValue(d)};
        for (int k = 0; k < 3; ++k) out[k] = (comps[k] * sca + dcomp[k] * (255 - sca) + 127) / 255;
      }
      db.Set(xx, yy, RGB(out[0], out[1], out[2]));
    }
  }
  Touched(*dst);
  return TRUE;
}

// ---------------------------------------------------------------- gradients

BOOL GradientFill(HDC hdc, PTRIVERTEX vertices, ULONG vertexCount, void* meshes, ULONG meshCount, ULONG mode) {
  auto dc = LookupDC(hdc);
  if (!dc || !dc->s.bitmap || !vertices || !meshes) return FALSE;
  if (mode != GRADIENT_FILL_RECT_H && mode != GRADIENT_FILL_RECT_V) return FALSE;
  const GRADIENT_RECT* rects = static_cast<const GRADIENT_RECT*>(meshes);
  Bitmap& b = *dc->s.bitmap;
  for (ULONG m = 0; m < meshCount; ++m) {
    if (rects[m].UpperLeft >= vertexCount || rects[m].LowerRight >= vertexCount) return FALSE;
    TRIVERTEX v0 = vertices[rects[m].UpperLeft];
    TRIVERTEX v1 = vertices[rects[m].LowerRight];
    // The vertices may be given in either order: the colours stay with
    // their corner.
    if (v0.x > v1.x && mode == GRADIENT_FILL_RECT_H) std::swap(v0, v1);
    if (v0.y > v1.y && mode == GRADIENT_FILL_RECT_V) std::swap(v0, v1);
    int left = std::min(v0.x, v1.x), right = std::max(v0.x, v1.x);
    int top = std::min(v0.y, v1.y), bottom = std::max(v0.y, v1.y);
    RECT full = {left + dc->s.viewport.x, top + dc->s.viewport.y, right + dc->s.viewport.x,
                 bottom + dc->s.viewport.y};
    RECT r = full;
    if (!ClipTo(*dc, r)) continue;
    // The first line takes the first colour and the last line the second;
    // the lines between are interpolated linearly.
    bool horizontal = mode == GRADIENT_FILL_RECT_H;
    int span = horizontal ? full.right - full.left : full.bottom - full.top;
    auto colourAt = [&](int i) {
      int64_t den = span > 1 ? span - 1 : 1;
      auto lerp = [&](int a, int c) { return static_cast<int>((a * (den - i) + c * static_cast<int64_t>(i)) / den); };
      int rr = lerp(v0.Red, v1.Red) >> 8, gg = lerp(v0.Green, v1.Green) >> 8, bb = lerp(v0.Blue, v1.Blue) >> 8;
      return RGB(rr, gg, bb);
    };
    if (horizontal) {
      for (int xx = r.left; xx < r.right; ++xx) {
        COLORREF c = colourAt(xx - full.left);
        for (int yy = r.top; yy < r.bottom; ++yy) b.Set(xx, yy, c);
      }
    } else {
      for (int yy = r.top; yy < r.bottom; ++yy) {
        COLORREF c = colourAt(yy - full.top);
        if (b.bpp == 32) {
          uint32_t px = GetBValue(c) | (GetGValue(c) << 8) | (GetRValue(c) << 16);
          uint32_t* row = reinterpret_cast<uint32_t*>(b.Row(yy)) + r.left;
          std::fill(row, row + (r.right - r.left), px);
        } else {
          for (int xx = r.left; xx < r.right; ++xx) b.Set(xx, yy, c);
        }
      }
    }
  }
  Touched(*dc);
  return TRUE;
}

// ---------------------------------------------------------------- transparent blits

BOOL TransparentBlt(HDC hdst, int x, int y, int width, int height, HDC hsrc, int xSrc, int ySrc, int srcWidth,
                    int srcHeight, UINT transparent) {
  auto dst = LookupDC(hdst);
  auto src = LookupDC(hsrc);
  if (!dst || !src || !dst->s.bitmap || !src->s.bitmap) return FALSE;
  if (width <= 0 || height <= 0 || srcWidth <= 0 || srcHeight <= 0) return FALSE;
  int sx0 = xSrc + src->s.viewport.x, sy0 = ySrc + src->s.viewport.y;
  RECT sc = src->Clip();
  int dx0 = x + dst->s.viewport.x, dy0 = y + dst->s.viewport.y;
  RECT r = {dx0, dy0, dx0 + width, dy0 + height};
  if (!ClipTo(*dst, r)) return TRUE;
  Bitmap& db = *dst->s.bitmap;
  Bitmap& sb = *src->s.bitmap;
  COLORREF key = transparent & 0xFFFFFF;
  for (int yy = r.top; yy < r.bottom; ++yy) {
    int sy = sy0 + static_cast<int>((static_cast<int64_t>(yy - dy0) * 2 + 1) * srcHeight / (2 * static_cast<int64_t>(height)));
    if (sy < sc.top || sy >= sc.bottom) continue;
    for (int xx = r.left; xx < r.right; ++xx) {
      int sx = sx0 + static_cast<int>((static_cast<int64_t>(xx - dx0) * 2 + 1) * srcWidth / (2 * static_cast<int64_t>(width)));
      if (sx < sc.left || sx >= sc.right) continue;
      COLORREF s = sb.Get(sx, sy);
      if (s == key) continue;
      StoreColour(db, xx, yy, SourceColour(*src, *dst, sx, sy));
    }
  }
  Touched(*dst);
  return TRUE;
}

BOOL TransparentImage(HDC dst, int x, int y, int width, int height, HANDLE src, int xSrc, int ySrc,
                      int srcWidth, int srcHeight, COLORREF transparent) {
  auto obj = Lookup(src);
  if (!obj) return FALSE;
  if (obj->type == OBJ_BITMAP) {
    HDC mem = CreateCompatibleDC(dst);
    HGDIOBJ old = SelectObject(mem, src);
    BOOL ok = old ? TransparentBlt(dst, x, y, width, height, mem, xSrc, ySrc, srcWidth, srcHeight, transparent)
                  : FALSE;
    SelectObject(mem, old);
    DeleteDC(mem);
    return ok;
  }
  return TransparentBlt(dst, x, y, width, height, reinterpret_cast<HDC>(src), xSrc, ySrc, srcWidth, srcHeight,
                        transparent);
}

// ---------------------------------------------------------------- lines and shapes

namespace {

void PlotPen(DC& dc, const RECT& clip, int x, int y, COLORREF c, int w) {
  Bitmap& b = *dc.s.bitmap;
  int h0 = -(w - 1) / 2, h1 = w / 2;
  for (int yy = y + h0; yy <= y + h1; ++yy)
    for (int xx = x + h0; xx <= x + h1; ++xx)
      if (xx >= clip.left && xx < clip.right && yy >= clip.top && yy < clip.bottom) StoreColour(b, xx, yy, c);
}

// Line from (x0, y0) to (x1, y1) in surface coordinates, without the last
// point.
void DrawLine(DC& dc, int x0, int y0, int x1, int y1) {
  const Pen* pen = dc.s.pen.get();
  if (!pen || pen->style == PS_NULL) return;
  RECT clip = dc.Clip();
  int dx = std::abs(x1 - x0), sx = x0 < x1 ? 1 : -1;
  int dy = -std::abs(y1 - y0), sy = y0 < y1 ? 1 : -1;
  int err = dx + dy;
  int step = 0;
  while (!(x0 == x1 && y0 == y1)) {
    bool on = pen->style != PS_DASH || (step / 6) % 2 == 0;
    if (on) PlotPen(dc, clip, x0, y0, pen->colour, pen->width);
    ++step;
    int e2 = 2 * err;
    if (e2 >= dy) {
      err += dy;
      x0 += sx;
    }
    if (e2 <= dx) {
      err += dx;
      y0 += sy;
    }
  }
}

}  // namespace

BOOL MoveToEx(HDC hdc, int x, int y, LPPOINT old) {
  auto dc = LookupDC(hdc);
  if (!dc) return FALSE;
  if (old) *old = dc->s.position;
  dc->s.position = {x, y};
  return TRUE;
}

BOOL LineTo(HDC hdc, int x, int y) {
  auto dc = LookupDC(hdc);
  if (!dc || !dc->s.bitmap) return FALSE;
  POINT p = dc->s.position;
  DrawLine(*dc, p.x + dc->s.viewport.x, p.y + dc->s.viewport.y, x + dc->s.viewport.x, y + dc->s.viewport.y);
  dc->s.position = {x, y};
  Touched(*dc);
  return TRUE;
}

BOOL Polyline(HDC hdc, const POINT* points, int count) {
  auto dc = LookupDC(hdc);
  if (!dc || !dc->s.bitmap || !points || count < 2) return FALSE;
  POINT v = dc->s.viewport;
  for (int i = 1; i < count; ++i)
    DrawLine(*dc, points[i - 1].x + v.x, points[i - 1].y + v.y, points[i].x + v.x, points[i].y + v.y);
  Touched(*dc);
  return TRUE;
}

BOOL Polygon(HDC hdc, const POINT* points, int count) {
  auto dc = LookupDC(hdc);
  if (!dc || !dc->s.bitmap || !points || count < 2) return FALSE;
  POINT v = dc->s.viewport;
  RECT clip = dc->Clip();
  const Brush* brush = dc->s.brush.get();
  if (brush && brush->style != BS_NULL) {
    // Even-odd scan-line fill sampling pixel centres.
    int minY = points[0].y, maxY = points[0].y;
    for (int i = 1; i < count; ++i) {
      minY = std::min<int>(minY, points[i].y);
      maxY = std::max<int>(maxY, points[i].y);
    }
    std::vector<double> xs;
    for (int y = minY; y < maxY; ++y) {
      int sy = y + v.y;
      if (sy < clip.top || sy >= clip.bottom) continue;
      double cy = y + 0.5;
      xs.clear();
      for (int i = 0; i < count; ++i) {
        POINT a = points[i], b = points[(i + 1) % count];
        if ((a.y <= cy && b.y > cy) || (b.y <= cy && a.y > cy))
          xs.push_back(a.x + (cy - a.y) * (b.x - a.x) / static_cast<double>(b.y - a.y));
      }
      std::sort(xs.begin(), xs.end());
      for (size_t k = 0; k + 1 < xs.size(); k += 2) {
        int x0 = static_cast<int>(std::ceil(xs[k] - 0.5)), x1 = static_cast<int>(std::ceil(xs[k + 1] - 0.5));
        RECT r = {x0 + v.x, sy, x1 + v.x, sy + 1};
        if (ClipTo(*dc, r)) PatFill(*dc, r, PATCOPY, brush);
      }
    }
  }
  for (int i = 0; i < count; ++i) {
    POINT a = points[i], b = points[(i + 1) % count];
    DrawLine(*dc, a.x + v.x, a.y + v.y, b.x + v.x, b.y + v.y);
  }
  Touched(*dc);
  return TRUE;
}

BOOL Rectangle(HDC hdc, int left, int top, int right, int bottom) {
  auto dc = LookupDC(hdc);
  if (!dc || !dc->s.bitmap) return FALSE;
  POINT v = dc->s.viewport;
  const Brush* brush = dc->s.brush.get();
  bool outline = dc->s.pen && dc->s.pen->style != PS_NULL;
  int inset = outline ? 1 : 0;
  RECT r = {left + v.x + inset, top + v.y + inset, right + v.x - inset, bottom + v.y - inset};
  if (brush && brush->style != BS_NULL && ClipTo(*dc, r)) PatFill(*dc, r, PATCOPY, brush);
  if (outline) {
    int l = left + v.x, t = top + v.y, rr = right + v.x - 1, b = bottom + v.y - 1;
    DrawLine(*dc, l, t, rr, t);
    DrawLine(*dc, rr, t, rr, b);
    DrawLine(*dc, rr, b, l, b);
    DrawLine(*dc, l, b, l, t);
  }
  Touched(*dc);
  return TRUE;
}
