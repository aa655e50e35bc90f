// Drawing benchmarks of the touch toolkit (run from a release build):
// a full paint of the channel list with 100 channels at 480 x 800, one frame
// of a flick (scroll and repaint to the screen), a 64 x 64 image drawn with
// per-pixel alpha; the headline list of 500 items (full paint and one flick
// frame at 480 x 800) and a popup list opened and drawn.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "common/settings.h"
#include "gdi/surface.h"
#include "kernel/fs.h"
#include "quillet/ui/channel_list_view.h"
#include "quillet/ui/news_list_view.h"
#include "quillet/ui/touch_list.h"
#include "quillet/res/resources.h"
#include "user/user.h"

namespace {

// A 16 x 16 24-bit icon file of one colour.
std::string SolidIcon(uint32_t rgb) {
  const int size = 16;
  std::string image(40 + size * size * 3 + size * 4, '\0');
  auto put32 = [&](std::string& s, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) s[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
  };
  put32(image, 0, 40);
  put32(image, 4, size);
  put32(image, 8, size * 2);
  image[12] = 1;
  image[14] = 24;
  for (int i = 0; i < size * size; ++i) {
    image[40 + i * 3] = static_cast<char>(rgb & 0xFF);
    image[41 + i * 3] = static_cast<char>((rgb >> 8) & 0xFF);
    image[42 + i * 3] = static_cast<char>((rgb >> 16) & 0xFF);
  }
  std::string file(22, '\0');
  file[2] = 1;
  file[4] = 1;
  file[6] = size;
  file[7] = size;
  file[10] = 1;
  file[12] = 24;
  put32(file, 14, static_cast<uint32_t>(image.size()));
  put32(file, 18, 22);
  return file + image;
}

// An empty device root of this name for a list benchmark, on the default
// touch screen with the imaging object made; returns its host path.
std::string PrepareListDevice(const char* name) {
  std::string root = (std::filesystem::temp_directory_path() / name).string();
  std::filesystem::remove_all(root);
  std::filesystem::create_directories(root);
  qk::SetDeviceRoot(root);
  qk::gdi::SetScreenConfig(qk::gdi::DefaultScreenConfig());
  ResetScreenDpi();
  SetTouchFlag(TRUE);
  InitImagingFactory();
  return root;
}

struct ListSetup {
  std::string root;
  std::unique_ptr<CChannelListView> view;
  ListSetup() {
    root = PrepareListDevice("quillet-ui-bench");
    WCHAR data[MAX_PATH];
    GetDataRoot(data);
    for (int i = 1; i <= 100; ++i) {
      CString path;
      path.Format(u"%s\\ChannelData\\Ch%03d-Fav.ico", data, i);
      std::string host = qk::HostPath(path);
      std::filesystem::create_directories(std::filesystem::path(host).parent_path());
      std::ofstream(host, std::ios::binary) << SolidIcon(0x204080u + i * 0x010203u);
    }
    view = std::make_unique<CChannelListView>();
    view->Create(nullptr, nullptr, 0, 0, 480, 800, 0, nullptr);
    for (int i = 1; i <= 100; ++i) {
      CString title, url;
      title.Format(u"Channel number %d with a title long enough to need the ellipsis at the end", i);
      url.Format(u"http://feeds.example/%d", i);
      view->AddItem(i, title, u"2026-12-08 09:00:00", url, u"", 50 + i, i % 7);
    }
    view->Redraw(FALSE);
  }
  ~ListSetup() {
    view.reset();
    ReleaseImagingFactory();
    std::filesystem::remove_all(root);
  }
};

// A full paint of a painted list: every rendering dropped first.
template <class Setup>
void FullPaint(benchmark::State& state) {
  Setup setup;
  for (auto _ : state) {
    setup.view->OnSize(480, 800);  // drops every rendering: the next paint is a full one
    setup.view->Redraw(FALSE);
  }
}

// The frames of a flick over a list of `rows` rows, `step` pixels a frame,
// back and forth between its ends, each copied to the screen.
template <class Setup>
void FlickFrames(benchmark::State& state, int rows, int step) {
  Setup setup;
  HDC screen = GetDC(nullptr);
  CTouchScroller& scroller = setup.view->Scroller();
  const int lowest = 800 - setup.view->GetRowPitch() * rows;
  int offset = 0;
  for (auto _ : state) {
    offset += step;
    if (offset < lowest || offset > 0) {
      step = -step;
      offset += 2 * step;
    }
    scroller.SetOffset(offset, FALSE);
    setup.view->Redraw(FALSE);
    setup.view->Paint(screen);
  }
  ReleaseDC(nullptr, screen);
}

void BM_ChannelListFullPaint(benchmark::State& state) { FullPaint<ListSetup>(state); }
BENCHMARK(BM_ChannelListFullPaint)->Unit(benchmark::kMillisecond);

void BM_FlickFrame(benchmark::State& state) { FlickFrames<ListSetup>(state, 100, -37); }
BENCHMARK(BM_FlickFrame)->Unit(benchmark::kMillisecond);

void BM_DrawImage64Alpha(benchmark::State& state) {
  qk::gdi::SetScreenConfig(qk::gdi::DefaultScreenConfig());
  // A 64 x 64 32-bit TGA with every alpha value.
  std::vector<BYTE> tga(18 + 64 * 64 * 4, 0);
  tga[2] = 2;
  tga[12] = 64;
  tga[14] = 64;
  tga[16] = 32;
  tga[17] = 0x20;
  for (int i = 0; i < 64 * 64; ++i) {
    BYTE* p = &tga[18 + i * 4];
    p[0] = static_cast<BYTE>(i);
    p[1] = static_cast<BYTE>(i >> 4);
    p[2] = 200;
    p[3] = static_cast<BYTE>(i % 256);
  }
  CTouchImage image;
  image.DecodeTarga(tga.data(), static_cast<UINT>(tga.size()));
  COffscreenDC target(nullptr, 480, 100);
  for (auto _ : state) image.Draw(target.GetDC(), 100, 10);
}
BENCHMARK(BM_DrawImage64Alpha)->Unit(benchmark::kMicrosecond);

struct HeadlineSetup {
  std::string root;
  std::unique_ptr<CNewsListView> view;
  HeadlineSetup() {
    root = PrepareListDevice("quillet-ui-bench-news");
    view = std::make_unique<CNewsListView>();
    view->Create(nullptr, nullptr, 0, 0, 480, 800, 0, nullptr);
    for (int i = 0; i < 500; ++i) {
      CString title, date;
      title.Format(u"Headline number %d, long enough to be cut with an ellipsis at the end of the row", i);
      date.Format(u"2026-%02d-%02d %02d:%02d:00", 1 + i % 12, 1 + i % 28, i % 24, i % 60);
      view->AddItem(title, date, u"http://news.example/a", u"", i % 3 ? u"Ch001-1.htm" : u"", i % 4 == 0, i % 9 == 0);
    }
    view->Redraw(FALSE);
  }
  ~HeadlineSetup() {
    view.reset();
    ReleaseImagingFactory();
    std::filesystem::remove_all(root);
  }
};

void BM_HeadlineListFullPaint500(benchmark::State& state) { FullPaint<HeadlineSetup>(state); }
BENCHMARK(BM_HeadlineListFullPaint500)->Unit(benchmark::kMillisecond);

void BM_HeadlineFlickFrame500(benchmark::State& state) { FlickFrames<HeadlineSetup>(state, 500, -61); }
BENCHMARK(BM_HeadlineFlickFrame500)->Unit(benchmark::kMillisecond);

// A popup list of eight rows opened over the screen: its backgrounds (the
// saved and the dimmed screen with the box), all rows rendered once, and
// the first frame composed onto the screen; closed at once.
void BM_PopupOpenAndDraw(benchmark::State& state) {
  qk::gdi::SetScreenConfig(qk::gdi::DefaultScreenConfig());
  qk::SetScreenSize(480, 800);
  ResetScreenDpi();
  SetTouchFlag(TRUE);
  RegisterQuilletResources();
  static const UINT WM_CLOSE_POPUP = WM_APP + 1;
  WNDCLASSW wc{};
  wc.lpszClassName = u"PopupBenchOwner";
  wc.lpfnWndProc = [](HWND hwnd, UINT m, WPARAM wp, LPARAM lp) -> LRESULT {
    if (m == WM_CLOSE_POPUP) {
      auto* popup = reinterpret_cast<CTouchPopupList*>(lp);
      UpdateWindow(popup->GetWindow());
      EndDialog(popup->GetWindow(), 7);
      return 0;
    }
    return DefWindowProcW(hwnd, m, wp, lp);
  };
  RegisterClassW(&wc);
  HWND owner = CreateWindowExW(0, u"PopupBenchOwner", u"", WS_VISIBLE, 0, 0, 480, 800, nullptr, nullptr, nullptr,
                               nullptr);
  for (auto _ : state) {
    CTouchPopupList popup;
    for (int i = 0; i < 8; ++i) {
      CString text;
      text.Format(u"Action number %d", i);
      popup.AddItem(text, nullptr, IDR_PNG_NEWS_UNREAD_192, -1, static_cast<UINT>(i));
    }
    PostMessageW(owner, WM_CLOSE_POPUP, 0, reinterpret_cast<LPARAM>(&popup));
    benchmark::DoNotOptimize(popup.DoModal(nullptr, 0, owner));
  }
  DestroyWindow(owner);
}
BENCHMARK(BM_PopupOpenAndDraw)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
