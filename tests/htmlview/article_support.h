// Pieces shared by the HTML viewer's tests, pictures, fuzz targets and
// benchmark: an article of a chosen size with pictures, the pictures
// themselves, the screen read back, and a host window that answers the
// viewer's image requests and records its notifications.
#pragma once

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "gdi/gdi.h"
#include "gdi/surface.h"
#include "htmlview/htmlview.h"
#include "user/user.h"

namespace htmltest {

// A 32-bit top-down DIB section of w x h; *pixels gets its pixels
// (0x00RRGGBB, row after row), null when it could not be made.
inline HBITMAP MakeDib(int w, int h, uint32_t** pixels) {
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  bi.bmiHeader.biWidth = w;
  bi.bmiHeader.biHeight = -h;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  void* bits = nullptr;
  HBITMAP bm = CreateDIBSection(nullptr, &bi, DIB_RGB_COLORS, &bits, nullptr, 0);
  *pixels = static_cast<uint32_t*>(bits);
  return bm;
}

// A 32-bit DIB section of w x h whose every pixel is the value (0x00RRGGBB).
inline HBITMAP MakeFilled(int w, int h, uint32_t pixel) {
  uint32_t* px = nullptr;
  HBITMAP bm = MakeDib(w, h, &px);
  if (px) std::fill(px, px + static_cast<size_t>(w) * h, pixel);
  return bm;
}

// The screen as it is now, copied into a new bitmap that ReadPixels can
// read (the caller deletes it).
inline HBITMAP CopyScreen() {
  qk::gdi::ScreenConfig cfg = qk::gdi::GetScreenConfig();
  HDC screen = GetDC(nullptr);
  HDC mem = CreateCompatibleDC(screen);
  HBITMAP copy = CreateCompatibleBitmap(screen, cfg.width, cfg.height);
  HGDIOBJ old = SelectObject(mem, copy);
  BitBlt(mem, 0, 0, cfg.width, cfg.height, screen, 0, 0, SRCCOPY);
  SelectObject(mem, old);
  DeleteDC(mem);
  ReleaseDC(nullptr, screen);
  return copy;
}

// The screen's pixels as they are now.
inline std::vector<uint32_t> ScreenPixels() {
  HBITMAP copy = CopyScreen();
  int w = 0, h = 0;
  std::vector<uint32_t> px;
  qk::gdi::ReadPixels(copy, &w, &h, &px);
  DeleteObject(copy);
  return px;
}

// A 32-bit top-down DIB section of w x h: a diagonal two-colour gradient
// with a darker frame, so that a picture is easy to recognise.
inline HBITMAP MakePicture(int w, int h, COLORREF from, COLORREF to, bool frame = true) {
  uint32_t* px = nullptr;
  HBITMAP bm = MakeDib(w, h, &px);
  if (!px) return bm;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      int t = (x + y) * 255 / std::max(1, w + h - 2);
      auto mix = [&](int a, int b) { return (a * (255 - t) + b * t) / 255; };
      int r = mix(GetRValue(from), GetRValue(to)), g = mix(GetGValue(from), GetGValue(to)),
          b = mix(GetBValue(from), GetBValue(to));
      if (frame && (x < 3 || y < 3 || x >= w - 3 || y >= h - 3)) r /= 2, g /= 2, b /= 2;
      px[y * w + x] = (static_cast<uint32_t>(r) << 16) | (static_cast<uint32_t>(g) << 8) | static_cast<uint32_t>(b);
    }
  return bm;
}

// A 32-bit DIB section of one colour.
inline HBITMAP MakeSolid(int w, int h, COLORREF c) { return MakePicture(w, h, c, c, false); }

// The name the article uses for its picture number n (1-based).
inline std::u16string PictureName(int n) {
  std::string s = "pic" + std::to_string(n);
  return std::u16string(s.begin(), s.end());
}

// An article of at least `bytes` bytes of HTML with `pictures` inline
// images named by PictureName (the host gives their sizes), links,
// lists and quotes between paragraphs.
inline std::u16string MakeArticle(size_t bytes, int pictures) {
  static const char16_t* const kSentences[] = {
      u"The harbour authority met on Tuesday to weigh the plans for the new quay, which would double the berths "
      u"available to the fishing fleet. ",
      u"Residents who spoke at the meeting asked for the work to stop during the summer months, when the old town "
      u"fills with visitors. ",
      u"An engineer explained that the foundations would be driven from barges, keeping the road along the "
      u"waterfront open throughout. ",
      u"The cost, estimated at four million, would be shared between the port and the regional fund. ",
      u"Several members wondered whether the timetable, already twice delayed, could now be trusted. "};
  std::u16string html = u"<html><head><title>Harbour plans</title></head><body>";
  html += u"<h1>Council weighs new quay for the fishing fleet</h1>";
  html += u"<p><i>By our harbour correspondent</i> &middot; <a href=\"http://example.org/harbour\">harbour "
          u"news</a></p>";
  size_t para = 0;
  int pic = 0;
  while (html.size() * 2 < bytes || pic < pictures) {
    ++para;
    if (pic < pictures && para % 2 == 1) {
      ++pic;
      html += u"<p><img src=\"" + PictureName(pic) + u"\"></p>";
    }
    if (para % 7 == 3) html += u"<h2>What happens next</h2>";
    if (para % 9 == 4)
      html += u"<ul><li>Public hearing in March</li><li>Decision before the summer</li><li>Work from "
              u"autumn</li></ul>";
    if (para % 11 == 5)
      html += u"<blockquote>&ldquo;We cannot let the fleet wait another decade,&rdquo; said the harbour "
              u"master.</blockquote>";
    html += u"<p>";
    for (int s = 0; s < 4; ++s) html += kSentences[(para + s) % 5];
    if (para % 3 == 0) html += u"Read the <a href=\"http://example.org/minutes\">minutes of the meeting</a>. ";
    html += u"</p>";
  }
  html += u"</body></html>";
  return html;
}

// What the host saw and what it answers.
struct HostState {
  std::map<std::u16string, HBITMAP> pictures;  // by image source
  std::vector<std::u16string> imageRequests;
  std::vector<DWORD> cookies;
  std::vector<std::u16string> links;
  bool answer = true;
  int laidOutWhole = 0;  // NM_LAYOUTCOMPLETE notifications
};

inline HostState& Hosted() {
  static HostState state;
  return state;
}

inline LRESULT HostProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_NOTIFY) {
    auto* nm = reinterpret_cast<NM_HTMLVIEW*>(lParam);
    HostState& host = Hosted();
    if (nm->hdr.code == NM_INLINE_IMAGE) {
      host.imageRequests.push_back(nm->szTarget);
      host.cookies.push_back(nm->dwCookie);
      auto it = host.pictures.find(nm->szTarget);
      if (host.answer && it != host.pictures.end()) {
        BITMAP bm{};
        GetObjectW(it->second, sizeof bm, &bm);
        INLINEIMAGEINFO info{nm->dwCookie, static_cast<int>(bm.bmHeight), static_cast<int>(bm.bmWidth), it->second,
                             FALSE};
        SendMessageW(nm->hdr.hwndFrom, DTM_SETIMAGE, 0, reinterpret_cast<LPARAM>(&info));
        return TRUE;
      }
      return FALSE;
    }
    if (nm->hdr.code == NM_HOTSPOT) {
      host.links.push_back(nm->szTarget);
      return TRUE;
    }
    if (nm->hdr.code == NM_LAYOUTCOMPLETE) {
      ++host.laidOutWhole;
      return TRUE;
    }
  }
  return DefWindowProcW(window, msg, wParam, lParam);
}

}  // namespace htmltest
