// Shared pieces of the channel list tests: icon files of every kind, a
// "Channels.opml" loader that fills the view as the channel-list screen
// does, and a window that hosts the view.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "gdi/image_codec.h"
#include "gdi/surface.h"
#include "quillet/feeds/opml_xml.h"
#include "quillet/ui/channel_list_view.h"
#include "support/host_window.h"
#include "user/user.h"

namespace uitest {

using PixelFn = std::function<uint32_t(int x, int y)>;  // 0xAARRGGBB

inline void Put16(std::string& s, size_t at, uint16_t v) {
  s[at] = static_cast<char>(v & 0xFF);
  s[at + 1] = static_cast<char>(v >> 8);
}
inline void Put32(std::string& s, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) s[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

// The header and one directory entry of a ".ico" whose image of imageBytes
// follows at offset 22.
inline std::string IcoDirectory(int size, uint16_t planes, uint16_t bits, size_t imageBytes) {
  std::string file(6 + 16, '\0');
  Put16(file, 2, 1);
  Put16(file, 4, 1);
  file[6] = static_cast<char>(size);
  file[7] = static_cast<char>(size);
  Put16(file, 6 + 4, planes);
  Put16(file, 6 + 6, bits);
  Put32(file, 6 + 8, static_cast<uint32_t>(imageBytes));
  Put32(file, 6 + 12, 22);
  return file;
}

// A one-image ".ico" of size x size at the given depth (1, 4, 8, 16 as
// 5-5-5, 24, 32);
// pixels with alpha below 128 are transparent in the mask. Palettes are
// built from the picture's colours. directoryBits is written to the
// directory entry (-1: the real depth).
inline std::string MakeIco(int size, int bits, const PixelFn& px, int directoryBits = -1) {
  std::vector<uint32_t> palette;
  auto indexOf = [&](uint32_t c) {
    c &= 0xFFFFFF;
    for (size_t i = 0; i < palette.size(); ++i)
      if (palette[i] == c) return static_cast<int>(i);
    if (palette.size() < (1u << bits)) {
      palette.push_back(c);
      return static_cast<int>(palette.size() - 1);
    }
    return 0;
  };
  const size_t colourStride = ((static_cast<size_t>(bits) * size + 31) / 32) * 4;
  const size_t maskStride = ((static_cast<size_t>(size) + 31) / 32) * 4;
  std::string colour(colourStride * size, '\0'), mask(maskStride * size, '\0');
  for (int row = 0; row < size; ++row) {
    int y = size - 1 - row;  // stored bottom-up
    for (int x = 0; x < size; ++x) {
      uint32_t c = px(x, y);
      bool transparent = (c >> 24) < 128;
      if (transparent) mask[maskStride * row + x / 8] |= static_cast<char>(0x80 >> (x % 8));
      char* p = &colour[colourStride * row];
      if (bits <= 8) {
        int i = indexOf(transparent ? 0 : c);
        if (bits == 8) p[x] = static_cast<char>(i);
        else if (bits == 4) p[x / 2] |= static_cast<char>((x & 1) ? i : i << 4);
        else if (i) p[x / 8] |= static_cast<char>(0x80 >> (x % 8));
      } else if (bits == 16) {
        uint16_t v = static_cast<uint16_t>((((c >> 19) & 31) << 10) | (((c >> 11) & 31) << 5) | ((c >> 3) & 31));
        p[x * 2] = static_cast<char>(v & 0xFF);
        p[x * 2 + 1] = static_cast<char>(v >> 8);
      } else {
        int n = bits / 8;
        p[x * n] = static_cast<char>(c & 0xFF);
        p[x * n + 1] = static_cast<char>((c >> 8) & 0xFF);
        p[x * n + 2] = static_cast<char>((c >> 16) & 0xFF);
        if (n == 4) p[x * n + 3] = static_cast<char>(c >> 24);
      }
    }
  }
  size_t paletteEntries = bits <= 8 ? (1u << bits) : 0;
  std::string header(40, '\0');
  Put32(header, 0, 40);
  Put32(header, 4, static_cast<uint32_t>(size));
  Put32(header, 8, static_cast<uint32_t>(size * 2));
  Put16(header, 12, 1);
  Put16(header, 14, static_cast<uint16_t>(bits));
  std::string pal(4 * paletteEntries, '\0');
  for (size_t i = 0; i < palette.size(); ++i) {
    pal[4 * i] = static_cast<char>(palette[i] & 0xFF);
    pal[4 * i + 1] = static_cast<char>((palette[i] >> 8) & 0xFF);
    pal[4 * i + 2] = static_cast<char>((palette[i] >> 16) & 0xFF);
  }
  std::string image = header + pal + colour + mask;
  return IcoDirectory(size, 1, static_cast<uint16_t>(directoryBits < 0 ? bits : directoryBits), image.size()) + image;
}

// A ".ico" whose one entry is a PNG picture.
inline std::string MakePngIco(int size, const PixelFn& px) {
  std::vector<uint32_t> rgb(static_cast<size_t>(size) * size);
  for (int y = 0; y < size; ++y)
    for (int x = 0; x < size; ++x) rgb[static_cast<size_t>(y) * size + x] = px(x, y) & 0xFFFFFF;
  std::vector<uint8_t> png;
  qk::gdi::EncodePng(size, size, rgb, &png);
  return IcoDirectory(size, 0, 32, png.size()) + std::string(png.begin(), png.end());
}

// The screen of a test: size and dpi, and the touch edition or the key device.
inline void UseScreen(const qk::gdi::ScreenConfig& cfg, BOOL touch) {
  qk::gdi::SetScreenConfig(cfg);
  ResetScreenDpi();
  SetTouchFlag(touch);
}

// Back to the default touch screen for the tests that follow.
inline void RestoreDefaultScreen() {
  SetTouchFlag(TRUE);
  qk::gdi::SetScreenConfig(qk::gdi::DefaultScreenConfig());
  ResetScreenDpi();
}

// The view the host window paints over the whole screen and passes its
// timers to; null when it hosts none.
inline CChannelListView*& HostedView() {
  static CChannelListView* view = nullptr;
  return view;
}

inline LRESULT ViewHostProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  CChannelListView* view = HostedView();
  if (msg == WM_TIMER && view && view->OnTimer(hwnd, wParam)) return 0;
  if (msg == WM_PAINT) {
    auto cfg = qk::gdi::GetScreenConfig();
    HDC dc = qk::gdi::CreateScreenAreaDC(RECT{0, 0, cfg.width, cfg.height}, hwnd);
    if (view) view->Paint(dc);
    DeleteDC(dc);
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

// A window of the screen's size whose painting is HostedView()'s.
inline HWND CreateViewHost(const qk::gdi::ScreenConfig& cfg) {
  return qtest::CreateHostWindow(u"ChannelHost", ViewHostProc, cfg.width, cfg.height);
}

// Fills the view from a channel list file as the channel-list screen does:
// one row per outline that has a feed URL.
struct OpmlFiller {
  CChannelListView* view;
  std::vector<std::pair<CString, CString>> attrs;
  CString category;
  static void Callback(void* context, LPCWSTR parentText, LPCWSTR name, LPCWSTR value) {
    auto* self = static_cast<OpmlFiller*>(context);
    if (name && *name) {
      self->attrs.push_back({CString(name), CString(value)});
      self->category = parentText;
      return;
    }
    CString id, text, url, updated(u"n/a"), items, fresh;
    for (auto& [n, v] : self->attrs) {
      if (n.Compare(u"uniqueID") == 0) id = v;
      else if (n.Compare(u"text") == 0) text = v;
      else if (n.Compare(u"xmlUrl") == 0) url = v;
      else if (n.Compare(u"lastUpdateTime") == 0) updated = v;
      else if (n.Compare(u"itemCount") == 0) items = v;
      else if (n.Compare(u"newItemCount") == 0) fresh = v;
    }
    if (!url.IsEmpty())
      self->view->AddItem(_wtoi(id), text, updated, url, self->category, _wtoi(items), _wtoi(fresh));
    self->attrs.clear();
  }
  static int Fill(CChannelListView& view, LPCWSTR path) {
    OpmlFiller filler{&view, {}, {}};
    view.RemoveAllItems();
    COpmlXML doc(&OpmlFiller::Callback, &filler, 1);
    return doc.LoadAndWalk(path);
  }
};

}  // namespace uitest
