// The HTML viewer's first screen against the whole page: fuzzed markup
// (UTF-8) is split in two at its first byte 1 and set around enough
// paragraphs of text for the page to be cut, the page is laid out whole and drawn on the touch screen
// (480 x 800), then shown again from its first screen. Whenever only the
// start is laid out, the screen drawn from it must equal the whole page's,
// pixel for pixel; once the rest is laid out the page must be the whole
// page again (its height, its screen).
//
// Pictures the page names are answered at once with small solid pictures,
// so both layouts see the same pictures.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "display/display.h"
#include "gdi/surface.h"
#include "htmlview/htmlview.h"
#include "kernel/kernel.h"
#include "user/user.h"
#include "../../tests/htmlview/article_support.h"
#include "../pages/viewer_process.h"

namespace {

HBITMAP g_pictures[2];
HWND g_host = nullptr;
HWND g_view = nullptr;

LRESULT CALLBACK HostProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_NOTIFY) {
    auto* nm = reinterpret_cast<NM_HTMLVIEW*>(lParam);
    if (nm->hdr.code == NM_INLINE_IMAGE) {
      unsigned h = 0;
      for (const char16_t* s = nm->szTarget; s && *s; ++s) h = h * 31 + *s;
      INLINEIMAGEINFO info{nm->dwCookie, 0, 0, g_pictures[h % 2], FALSE};
      SendMessageW(nm->hdr.hwndFrom, DTM_SETIMAGE, 0, reinterpret_cast<LPARAM>(&info));
      return TRUE;
    }
    if (nm->hdr.code == NM_HOTSPOT) return TRUE;
  }
  return DefWindowProcW(window, msg, wParam, lParam);
}

void Send(const std::u16string& page) {
  SendMessageW(g_view, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(u""));
  SendMessageW(g_view, DTM_ADDTEXTW, 0, reinterpret_cast<LPARAM>(page.c_str()));
  SendMessageW(g_view, DTM_ENDOFSOURCE, 0, 0);
}

int Height() { return static_cast<int>(SendMessageW(g_view, DTM_LAYOUTHEIGHT, 0, 0)); }

std::string Paragraphs(int n) {
  std::string out;
  for (int i = 0; i < n; ++i)
    out += "<p>Paragraph " + std::to_string(i) +
           ": the harbour authority met again to weigh the plans for the new quay and its berths.</p>\n";
  return out;
}

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "first screen check failed: %s\n", what);
  __builtin_trap();
}

}  // namespace

// fontconfig keeps a block of its own unreachable once it has matched a
// face: not the viewer's.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzview::StartViewerProcess("first-screen", HostProc, u"FirstScreenFuzzHost");
  const qk::gdi::ScreenConfig cfg = qk::gdi::DefaultScreenConfig();
  qk::gdi::SetScreenConfig(cfg);
  qk::display::ConnectScreen();
  g_host = CreateWindowExW(0, u"FirstScreenFuzzHost", u"", WS_VISIBLE, 0, 0, cfg.width, cfg.height, nullptr, nullptr,
                           nullptr, nullptr);
  g_view = CreateWindowExW(0, DISPLAYCLASS, u"", WS_CHILD | WS_VISIBLE, 0, 0, cfg.width, cfg.height, g_host,
                           reinterpret_cast<HMENU>(12321), nullptr, nullptr);
  if (!g_host || !g_view) __builtin_trap();
  g_pictures[0] = htmltest::MakeFilled(40, 30, 0xC01010);
  g_pictures[1] = htmltest::MakeFilled(300, 200, 0x10A040);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 8192) return 0;
  // The markup up to the first byte 1 goes before the paragraphs that make
  // the page long enough to cut, the rest after them.
  const std::string markup(reinterpret_cast<const char*>(data), size);
  const size_t split = std::min(markup.find('\x01'), markup.size());
  const std::string after = split < markup.size() ? markup.substr(split + 1) : std::string();
  const std::string page = "<html><body>" + markup.substr(0, split) + Paragraphs(45) + after + Paragraphs(150);
  const std::u16string html = qk::FromUtf8(page.data(), page.size());
  HWND inner = GetWindow(g_view, GW_CHILD);

  SendMessageW(g_view, DTM_FIRSTSCREENFIRST, 0, FALSE);
  Send(html);
  qk::PumpMessages();
  const int whole = Height();
  UpdateWindow(inner);
  const std::vector<uint32_t> wholeScreen = htmltest::ScreenPixels();

  SendMessageW(g_view, DTM_FIRSTSCREENFIRST, 0, TRUE);
  Send(html);
  if (Height() != whole) {
    // Only the start is laid out: drawn now, before the rest is.
    UpdateWindow(inner);
    if (htmltest::ScreenPixels() != wholeScreen) Fail("the first screen is unlike the whole page's");
  }
  qk::PumpMessages();
  if (Height() != whole) Fail("the page laid out whole has another height");
  UpdateWindow(inner);
  if (htmltest::ScreenPixels() != wholeScreen) Fail("the page laid out whole looks otherwise");
  return 0;
}
