// Drawing benchmarks of the touch toolkit (run from a release build):
// a full paint of the channel list with 100 channels at 480 x 800, one frame
// of a flick (scroll and repaint to the screen), and a 64 x 64 image drawn
// with per-pixel alpha.
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

struct ListSetup {
  std::string root;
  std::unique_ptr<CChannelListView> view;
  ListSetup() {
    root = (std::filesystem::temp_directory_path() / "quillet-ui-bench").string();
    std::filesystem::remove_all(root);
    std::filesystem::create_directories(root);
    qk::SetDeviceRoot(root);
    qk::gdi::SetScreenConfig(qk::gdi::DefaultScreenConfig());
    ResetScreenDpi();
    SetTouchFlag(TRUE);
    InitImagingFactory();
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

void BM_ChannelListFullPaint(benchmark::State& state) {
  ListSetup setup;
  for (auto _ : state) {
    setup.view->OnSize(480, 800);  // drops every rendering: the next paint is a full one
    setup.view->Redraw(FALSE);
  }
}
BENCHMARK(BM_ChannelListFullPaint)->Unit(benchmark::kMillisecond);

void BM_FlickFrame(benchmark::State& state) {
  ListSetup setup;
  HDC screen = GetDC(nullptr);
  CTouchScroller& scroller = setup.view->Scroller();
  const int lowest = 800 - setup.view->GetRowPitch() * 100;
  int offset = 0, step = -37;
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

}  // namespace

BENCHMARK_MAIN();
