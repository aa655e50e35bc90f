// Image lists: equal-sized images with their masks, drawn transparently,
// blended with the highlight colour for selected and focused items, with
// overlay images on top.
#include <algorithm>
#include <mutex>
#include <set>

#include "controls/control.h"
#include "gdi/surface.h"

struct ImageListObject {
  int cx = 0, cy = 0;
  UINT flags = 0;
  COLORREF background = CLR_NONE;
  int overlays[5] = {-1, -1, -1, -1, -1};
  // Premultiplied 0xAARRGGBB pixels, top row first, one vector per image.
  std::vector<std::vector<uint32_t>> images;
};

namespace {

std::mutex g_lock;
std::set<HIMAGELIST> g_lists;

bool Valid(HIMAGELIST list) {
  std::lock_guard<std::mutex> lock(g_lock);
  return list && g_lists.count(list);
}

// The alpha bytes of a 32-bit bitmap that carries them (a picture with
// transparency, such as a shell icon: premultiplied pixels), one per pixel
// top row first; empty for any other bitmap, and for a 32-bit one whose
// fourth bytes are all zero (drawn on by GDI, which leaves them so).
std::vector<uint8_t> AlphaOf(HBITMAP image) {
  std::vector<uint8_t> alpha;
  auto b = qk::gdi::LookupBitmap(image);
  if (!b || b->bpp != 32 || !b->bits) return alpha;
  alpha.resize(static_cast<size_t>(b->width) * b->height);
  bool any = false;
  for (int y = 0; y < b->height; ++y) {
    const uint8_t* row = b->Row(y);
    for (int x = 0; x < b->width; ++x) {
      uint8_t a = row[x * 4 + 3];
      alpha[static_cast<size_t>(y) * b->width + x] = a;
      any = any || a;
    }
  }
  if (!any) alpha.clear();
  return alpha;
}

// Cuts a bitmap into images; mask pixels that are white (or equal to
// maskColour when that is given) become transparent. A 32-bit list keeps
// the alpha of a 32-bit bitmap that has one, so that an icon is drawn with
// its transparency and soft edges whether or not a mask comes with it.
bool Split(HIMAGELIST list, HBITMAP image, HBITMAP mask, COLORREF maskColour, bool useColour,
           std::vector<std::vector<uint32_t>>* out) {
  int w = 0, h = 0;
  std::vector<uint32_t> rgb;
  if (!qk::gdi::ReadPixels(image, &w, &h, &rgb) || w <= 0 || h <= 0) return false;
  std::vector<uint8_t> alpha;
  if (!useColour && (list->flags & ILC_COLORDDB) == ILC_COLOR32) alpha = AlphaOf(image);
  if (alpha.size() != rgb.size()) alpha.clear();
  int mw = 0, mh = 0;
  std::vector<uint32_t> m;
  bool haveMask = mask && qk::gdi::ReadPixels(mask, &mw, &mh, &m) && mw >= w && mh >= h;
  uint32_t key = ((maskColour & 0xFF) << 16) | (maskColour & 0xFF00) | ((maskColour >> 16) & 0xFF);
  int count = std::max(1, w / list->cx);
  for (int n = 0; n < count; ++n) {
    std::vector<uint32_t> px(static_cast<size_t>(list->cx) * list->cy, 0);
    for (int y = 0; y < list->cy && y < h; ++y)
      for (int x = 0; x < list->cx && n * list->cx + x < w; ++x) {
        int sx = n * list->cx + x;
        uint32_t c = rgb[static_cast<size_t>(y) * w + sx] & 0xFFFFFF;
        bool clear = useColour ? c == key : haveMask && (m[static_cast<size_t>(y) * mw + sx] & 0xFFFFFF) != 0;
        uint32_t p = clear ? 0 : (0xFF000000u | c);
        if (!clear && !alpha.empty()) {
          // Premultiplied: no colour byte exceeds the alpha.
          uint32_t a = alpha[static_cast<size_t>(y) * w + sx];
          uint32_t r = std::min((c >> 16) & 0xFF, a), g = std::min((c >> 8) & 0xFF, a), b = std::min(c & 0xFF, a);
          p = a ? (a << 24) | (r << 16) | (g << 8) | b : 0;
        }
        px[static_cast<size_t>(y) * list->cx + x] = p;
      }
    out->push_back(std::move(px));
  }
  return true;
}

uint32_t Mix(uint32_t px, COLORREF with, int weight) {
  uint32_t a = px >> 24;
  if (!a) return px;
  uint32_t r = (px >> 16) & 0xFF, g = (px >> 8) & 0xFF, b = px & 0xFF;
  uint32_t wr = (with & 0xFF) * a / 255, wg = ((with >> 8) & 0xFF) * a / 255, wb = ((with >> 16) & 0xFF) * a / 255;
  r = (r * (255 - weight) + wr * weight) / 255;
  g = (g * (255 - weight) + wg * weight) / 255;
  b = (b * (255 - weight) + wb * weight) / 255;
  return (a << 24) | (r << 16) | (g << 8) | b;
}

void Blit(HDC dc, int x, int y, int w, int h, const std::vector<uint32_t>& px, int sw, int sh) {
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  bi.bmiHeader.biWidth = sw;
  bi.bmiHeader.biHeight = -sh;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HBITMAP dib = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (!dib) return;
  std::copy(px.begin(), px.end(), static_cast<uint32_t*>(bits));
  HDC mem = CreateCompatibleDC(dc);
  HGDIOBJ old = SelectObject(mem, dib);
  BLENDFUNCTION bf{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
  AlphaBlend(dc, x, y, w, h, mem, 0, 0, sw, sh, bf);
  SelectObject(mem, old);
  DeleteDC(mem);
  DeleteObject(dib);
}

}  // namespace

HIMAGELIST ImageList_Create(int cx, int cy, UINT flags, int, int) {
  if (cx <= 0 || cy <= 0) return nullptr;
  auto* list = new ImageListObject;
  list->cx = cx;
  list->cy = cy;
  list->flags = flags;
  std::lock_guard<std::mutex> lock(g_lock);
  g_lists.insert(list);
  return list;
}

BOOL ImageList_Destroy(HIMAGELIST list) {
  {
    std::lock_guard<std::mutex> lock(g_lock);
    if (!list || !g_lists.erase(list)) return FALSE;
  }
  delete list;
  return TRUE;
}

int ImageList_GetImageCount(HIMAGELIST list) { return Valid(list) ? static_cast<int>(list->images.size()) : 0; }

BOOL ImageList_SetImageCount(HIMAGELIST list, UINT count) {
  if (!Valid(list)) return FALSE;
  list->images.resize(count, std::vector<uint32_t>(static_cast<size_t>(list->cx) * list->cy, 0));
  return TRUE;
}

int ImageList_Add(HIMAGELIST list, HBITMAP image, HBITMAP mask) {
  if (!Valid(list)) return -1;
  std::vector<std::vector<uint32_t>> added;
  if (!Split(list, image, (list->flags & ILC_MASK) ? mask : nullptr, 0, false, &added)) return -1;
  int first = static_cast<int>(list->images.size());
  for (auto& px : added) list->images.push_back(std::move(px));
  return first;
}

int ImageList_AddMasked(HIMAGELIST list, HBITMAP image, COLORREF maskColour) {
  if (!Valid(list)) return -1;
  std::vector<std::vector<uint32_t>> added;
  if (!Split(list, image, nullptr, maskColour, true, &added)) return -1;
  int first = static_cast<int>(list->images.size());
  for (auto& px : added) list->images.push_back(std::move(px));
  return first;
}

BOOL ImageList_Replace(HIMAGELIST list, int index, HBITMAP image, HBITMAP mask) {
  if (!Valid(list) || index < 0 || index >= static_cast<int>(list->images.size())) return FALSE;
  std::vector<std::vector<uint32_t>> added;
  if (!Split(list, image, (list->flags & ILC_MASK) ? mask : nullptr, 0, false, &added) || added.empty()) return FALSE;
  list->images[static_cast<size_t>(index)] = std::move(added.front());
  return TRUE;
}

BOOL ImageList_Remove(HIMAGELIST list, int index) {
  if (!Valid(list)) return FALSE;
  if (index == -1) {
    list->images.clear();
    return TRUE;
  }
  if (index < 0 || index >= static_cast<int>(list->images.size())) return FALSE;
  list->images.erase(list->images.begin() + index);
  return TRUE;
}

BOOL ImageList_RemoveAll(HIMAGELIST list) { return ImageList_Remove(list, -1); }

BOOL ImageList_DrawEx(HIMAGELIST list, int index, HDC dc, int x, int y, int dx, int dy, COLORREF background,
                      COLORREF foreground, UINT style) {
  if (!Valid(list) || index < 0 || index >= static_cast<int>(list->images.size())) return FALSE;
  int w = dx > 0 ? dx : list->cx, h = dy > 0 ? dy : list->cy;
  std::vector<uint32_t> px = list->images[static_cast<size_t>(index)];
  if (background == CLR_DEFAULT) background = list->background;
  if (!(style & ILD_TRANSPARENT) && background != CLR_NONE) {
    // The image over the background colour: transparent pixels take it,
    // the soft edges blend into it.
    const uint32_t fill[3] = {background & 0xFF, (background >> 8) & 0xFF, (background >> 16) & 0xFF};
    for (auto& p : px) {
      uint32_t a = p >> 24;
      if (a == 255) continue;
      uint32_t c[3] = {(p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF};
      for (int k = 0; k < 3; ++k) c[k] = std::min<uint32_t>(255, c[k] + (fill[k] * (255 - a) + 127) / 255);
      p = 0xFF000000u | (c[0] << 16) | (c[1] << 8) | c[2];
    }
  }
  if (style & (ILD_BLEND25 | ILD_BLEND50)) {
    COLORREF with = foreground == CLR_DEFAULT || foreground == CLR_NONE ? GetSysColor(COLOR_HIGHLIGHT) : foreground;
    int weight = (style & ILD_BLEND50) ? 128 : 64;
    for (auto& p : px) p = Mix(p, with, weight);
  }
  if (style & ILD_MASK) {
    for (auto& p : px) p = (p >> 24) ? 0xFF000000u : 0xFFFFFFFFu;
  }
  Blit(dc, x, y, w, h, px, list->cx, list->cy);
  int overlay = static_cast<int>((style & ILD_OVERLAYMASK) >> 8);
  if (overlay >= 1 && overlay <= 4) {
    int image = list->overlays[overlay];
    if (image >= 0 && image < static_cast<int>(list->images.size()))
      Blit(dc, x, y, w, h, list->images[static_cast<size_t>(image)], list->cx, list->cy);
  }
  return TRUE;
}

BOOL ImageList_Draw(HIMAGELIST list, int index, HDC dc, int x, int y, UINT style) {
  return ImageList_DrawEx(list, index, dc, x, y, 0, 0, CLR_DEFAULT, CLR_DEFAULT, style);
}

BOOL ImageList_GetIconSize(HIMAGELIST list, int* cx, int* cy) {
  if (!Valid(list)) return FALSE;
  if (cx) *cx = list->cx;
  if (cy) *cy = list->cy;
  return TRUE;
}

COLORREF ImageList_SetBkColor(HIMAGELIST list, COLORREF colour) {
  if (!Valid(list)) return CLR_NONE;
  COLORREF old = list->background;
  list->background = colour;
  return old;
}

COLORREF ImageList_GetBkColor(HIMAGELIST list) { return Valid(list) ? list->background : CLR_NONE; }

BOOL ImageList_SetOverlayImage(HIMAGELIST list, int image, int overlay) {
  if (!Valid(list) || overlay < 1 || overlay > 4) return FALSE;
  list->overlays[overlay] = image;
  return TRUE;
}
