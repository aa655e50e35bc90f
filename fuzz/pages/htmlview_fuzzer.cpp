// The HTML viewer over a fuzzed page, as the reading view drives it: the
// page laid out and drawn on the key device's screen (240 x 320 at 96 dpi)
// and on the touch screen (480 x 800 at 192 dpi), scrolled to its end and
// tapped, with a host that answers every picture request: small pictures
// at their own sizes, small pictures declared huge, pictures the viewer
// owns, pictures answered after the layout, and refusals.
//
// Input: one byte of settings (zoom level, shrinking, the page given in
// two pieces, the page's bytes read as UTF-16 units), then the page (UTF-8
// unless the settings say otherwise).
//
// Budget of each screen's load, layout and drawing: kPageSeconds of this
// thread's processor time and kPageBytes of heap held at most beyond what
// was held before. The viewer keeps any page's layout within about a
// second in an optimised build (htmlview.h) and its own hostile-page tests
// allow two seconds and 256 MB; this build runs the viewer's code with the
// address and undefined-behaviour sanitizers and coverage, about three
// times slower, so the time is three times theirs. The heap is counted as
// live allocations (the sanitizer's quarantine of freed memory is not), so
// the memory bound is theirs as it stands.
#include <sanitizer/allocator_interface.h>
#include <time.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "display/display.h"
#include "gdi/surface.h"
#include "htmlview/htmlview.h"
#include "kernel/kernel.h"
#include "user/input.h"
#include "user/user.h"
#include "../../tests/htmlview/article_support.h"
#include "viewer_process.h"

namespace {

constexpr double kPageSeconds = 2.0 * 3;
constexpr size_t kPageBytes = 256u << 20;

// Live heap bytes and their peak, kept by the sanitizer's allocation hooks.
std::atomic<int64_t> g_live{0};
std::atomic<int64_t> g_peak{0};

void OnMalloc(const volatile void*, size_t size) {
  int64_t now = g_live.fetch_add(static_cast<int64_t>(size), std::memory_order_relaxed) + static_cast<int64_t>(size);
  int64_t peak = g_peak.load(std::memory_order_relaxed);
  while (now > peak && !g_peak.compare_exchange_weak(peak, now, std::memory_order_relaxed)) {
  }
}
void OnFree(const volatile void* p) {
  g_live.fetch_sub(static_cast<int64_t>(__sanitizer_get_allocated_size(const_cast<const void*>(p))),
                   std::memory_order_relaxed);
}

double ThreadCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// Pictures the host keeps (it never hands these over).
HBITMAP g_small[3];

struct Later {
  DWORD cookie;
  bool fail;
};
std::vector<Later> g_later;
size_t g_requests = 0;

unsigned Hash(const char16_t* s) {
  unsigned h = 2166136261u;
  for (; s && *s; ++s) h = (h ^ *s) * 16777619u;
  return h;
}

LRESULT CALLBACK HostProc(HWND window, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == WM_NOTIFY) {
    auto* nm = reinterpret_cast<NM_HTMLVIEW*>(lParam);
    if (nm->hdr.code == NM_INLINE_IMAGE) {
      ++g_requests;
      unsigned h = Hash(nm->szTarget);
      INLINEIMAGEINFO info{nm->dwCookie, 0, 0, g_small[h % 3], FALSE};
      switch ((h >> 4) % 8) {
        case 0:
        case 1:
          break;  // its own size
        case 2:
          info.iOrigWidth = 100000, info.iOrigHeight = 3;
          break;
        case 3:
          info.iOrigWidth = 30000, info.iOrigHeight = 30000;
          break;
        case 4:
          info.iOrigWidth = 7, info.iOrigHeight = 2000000000;
          break;
        case 5:
          info.hbm = htmltest::MakeFilled(16, 16, 0x3060C0);
          info.bOwnBitmap = TRUE;
          break;
        case 6:
          g_later.push_back({nm->dwCookie, false});
          return FALSE;
        default:
          g_later.push_back({nm->dwCookie, true});
          return FALSE;
      }
      SendMessageW(nm->hdr.hwndFrom, DTM_SETIMAGE, 0, reinterpret_cast<LPARAM>(&info));
      return TRUE;
    }
    if (nm->hdr.code == NM_HOTSPOT) {
      if (!nm->szTarget) __builtin_trap();
      return TRUE;
    }
  }
  return DefWindowProcW(window, msg, wParam, lParam);
}

void CheckBudget(double seconds, int64_t grown, int width) {
  if (seconds <= kPageSeconds && grown <= static_cast<int64_t>(kPageBytes)) return;
  std::fprintf(stderr, "htmlview fuzzer: the page took %.1f s and %.0f MB on the %d-pixel screen\n", seconds,
               static_cast<double>(grown) / (1 << 20), width);
  __builtin_trap();
}

// One host and viewer per screen, kept from page to page as the reading
// view keeps its viewer (with the fonts it made).
struct Screen {
  qk::gdi::ScreenConfig cfg;
  HWND host = nullptr;
  HWND view = nullptr;
};
Screen g_screens[2];
int g_shown = -1;

void Select(int which) {
  Screen& s = g_screens[which];
  if (g_shown == which) return;
  if (g_shown >= 0) ShowWindow(g_screens[g_shown].host, SW_HIDE);
  qk::gdi::SetScreenConfig(s.cfg);
  qk::display::ConnectScreen();
  if (!s.host) {
    s.host = CreateWindowExW(0, u"PagesFuzzHost", u"", WS_VISIBLE, 0, 0, s.cfg.width, s.cfg.height, nullptr, nullptr,
                             nullptr, nullptr);
    s.view = CreateWindowExW(0, DISPLAYCLASS, u"", WS_CHILD | WS_VISIBLE, 0, 0, s.cfg.width, s.cfg.height, s.host,
                             reinterpret_cast<HMENU>(12321), nullptr, nullptr);
    if (!s.host || !s.view) __builtin_trap();
  }
  ShowWindow(s.host, SW_SHOW);
  g_shown = which;
}

void Show(int which, uint8_t settings, const std::u16string& page) {
  Select(which);
  const Screen& s = g_screens[which];
  HWND view = s.view;
  g_later.clear();
  g_requests = 0;
  const int64_t before = g_live.load();
  g_peak.store(before);
  const double start = ThreadCpuSeconds();

  SendMessageW(view, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(u""));
  SendMessageW(view, DTM_ZOOMLEVEL, 0, settings % 5);
  SendMessageW(view, DTM_ENABLESHRINK, 0, (settings & 0x08) ? FALSE : TRUE);
  if (settings & 0x10) {
    std::u16string first = page.substr(0, page.size() / 2), second = page.substr(page.size() / 2);
    SendMessageW(view, DTM_ADDTEXTW, 0, reinterpret_cast<LPARAM>(first.c_str()));
    SendMessageW(view, DTM_ADDTEXTW, 0, reinterpret_cast<LPARAM>(second.c_str()));
  } else {
    SendMessageW(view, DTM_ADDTEXTW, 0, reinterpret_cast<LPARAM>(page.c_str()));
  }
  SendMessageW(view, DTM_ENDOFSOURCE, 0, 0);
  if (g_requests > qk::htmlview::kMaxImages) __builtin_trap();
  // Pictures answered after the layout, one relayout each: a few of them
  // (the reading view answers at once; each late answer lays the page out
  // again, so the time grows with their number).
  for (size_t k = 0; k < g_later.size(); ++k) {
    const Later& l = g_later[k];
    if (l.fail || k >= 4) {
      SendMessageW(view, DTM_IMAGEFAIL, 0, static_cast<LPARAM>(l.cookie));
    } else {
      INLINEIMAGEINFO info{l.cookie, 40, 60, htmltest::MakeFilled(3, 5, 0xC03020), TRUE};
      SendMessageW(view, DTM_SETIMAGE, 0, reinterpret_cast<LPARAM>(&info));
    }
  }
  qk::PumpMessages();
  HWND inner = GetWindow(view, GW_CHILD);
  if (SendMessageW(view, DTM_LAYOUTHEIGHT, 0, 0) < 0 || SendMessageW(view, DTM_LAYOUTWIDTH, 0, 0) < 0)
    __builtin_trap();
  UpdateWindow(inner);
  // A tap near the top, then the end of the page and a screen back.
  qk::InjectPointer(WM_LBUTTONDOWN, s.cfg.width / 3, s.cfg.height / 8);
  qk::InjectPointer(WM_LBUTTONUP, s.cfg.width / 3, s.cfg.height / 8);
  qk::PumpMessages();
  SendMessageW(inner, WM_KEYDOWN, 0x23 /* end */, 0);
  UpdateWindow(inner);
  SendMessageW(inner, WM_KEYDOWN, 0x21 /* page up */, 0);
  UpdateWindow(inner);
  // The page goes; what it asked for with it.
  SendMessageW(view, DTM_CLEAR, 0, 0);
  qk::PumpMessages();

  const double seconds = ThreadCpuSeconds() - start;
  const int64_t grown = g_peak.load() - before;
  CheckBudget(seconds, grown, s.cfg.width);
}

}  // namespace

// fontconfig keeps a block of its own unreachable once it has matched a
// face: not the viewer's.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzzview::StartViewerProcess("htmlview", HostProc, u"PagesFuzzHost");
  g_screens[0].cfg = qk::gdi::KeyDeviceScreenConfig();
  g_screens[1].cfg = qk::gdi::DefaultScreenConfig();
  g_small[0] = htmltest::MakeFilled(1, 1, 0x102030);
  g_small[1] = htmltest::MakeFilled(8, 8, 0xC01010);
  g_small[2] = htmltest::MakeFilled(64, 48, 0x10A040);
  __sanitizer_install_malloc_and_free_hooks(OnMalloc, OnFree);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t settings = data[0];
  std::u16string page;
  if (settings & 0x20) {
    for (size_t i = 1; i + 1 < size; i += 2) page += static_cast<char16_t>(data[i] | (data[i + 1] << 8));
  } else {
    page = qk::FromUtf8(reinterpret_cast<const char*>(data + 1), size - 1);
  }
  // Both screens, the one shown last first (one change of screen per page).
  const int first = g_shown < 0 ? 0 : g_shown;
  Show(first, settings, page);
  Show(1 - first, settings >> 2, page);
  return 0;
}
