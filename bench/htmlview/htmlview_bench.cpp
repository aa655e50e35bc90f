// The HTML viewer's benchmarks (run from a release build): a 100 KB article
// (100 KB of UTF-16 text as the reading view hands it over; the second size
// is 100 K characters) with 10 pictures given to the viewer as the reading
// view gives it (clear, add, end of source; the host answers the image
// requests), laid out and drawn on the 480 x 800 screen; the layout alone;
// a repaint of the screen; and a change of zoom.
#include <benchmark/benchmark.h>

#include <filesystem>

#include "display/display.h"
#include "gdi/surface.h"
#include "htmlview/article_support.h"  // tests/htmlview
#include "kernel/fs.h"
#include "user/user.h"

namespace {

struct Setup {
  HWND host = nullptr, view = nullptr;
  std::u16string article, article100k;
  Setup() {
    std::string root = (std::filesystem::temp_directory_path() / "quillet-htmlview-bench").string();
    std::filesystem::remove_all(root);
    std::filesystem::create_directories(root);
    qk::SetDeviceRoot(root);
    qk::gdi::SetScreenConfig(qk::gdi::DefaultScreenConfig());
    qk::display::ConnectScreen();
    InitHTMLControl(nullptr);
    for (int i = 1; i <= 10; ++i)
      htmltest::Hosted().pictures[htmltest::PictureName(i)] =
          htmltest::MakePicture(400, 250, RGB(20 * i, 120, 255 - 20 * i), RGB(240, 200 - 10 * i, 40));
    WNDCLASSW wc{};
    wc.lpfnWndProc = htmltest::HostProc;
    wc.lpszClassName = u"BenchHost";
    RegisterClassW(&wc);
    host = CreateWindowExW(0, u"BenchHost", u"", WS_VISIBLE, 0, 0, 480, 800, nullptr, nullptr, nullptr, nullptr);
    view = CreateWindowExW(0, DISPLAYCLASS, u"", WS_CHILD | WS_VISIBLE, 0, 0, 480, 800, host,
                           reinterpret_cast<HMENU>(12321), nullptr, nullptr);
    article = htmltest::MakeArticle(100 * 1024, 10);
    article100k = htmltest::MakeArticle(200 * 1024, 10);
  }
  void Load(bool big = false) {
    SendMessageW(view, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(u""));
    SendMessageW(view, DTM_ADDTEXTW, 0, reinterpret_cast<LPARAM>(big ? article100k.c_str() : article.c_str()));
    SendMessageW(view, DTM_ENDOFSOURCE, 0, 0);
  }
  void Draw() { UpdateWindow(GetWindow(view, GW_CHILD)); }
};

Setup& S() {
  static Setup setup;
  return setup;
}

void BM_ArticleLaidOutAndDrawn(benchmark::State& state) {
  Setup& s = S();
  size_t asked = htmltest::Hosted().imageRequests.size();
  for (auto _ : state) {
    s.Load();
    s.Draw();
  }
  state.counters["images"] = static_cast<double>(htmltest::Hosted().imageRequests.size() - asked) /
                             static_cast<double>(state.iterations());
  state.counters["bytes"] = static_cast<double>(s.article.size() * 2);
  state.counters["height"] = static_cast<double>(SendMessageW(s.view, DTM_LAYOUTHEIGHT, 0, 0));
}
BENCHMARK(BM_ArticleLaidOutAndDrawn)->Unit(benchmark::kMillisecond);

void BM_Article100KCharactersLaidOutAndDrawn(benchmark::State& state) {
  Setup& s = S();
  for (auto _ : state) {
    s.Load(true);
    s.Draw();
  }
  state.counters["chars"] = static_cast<double>(s.article100k.size());
}
BENCHMARK(BM_Article100KCharactersLaidOutAndDrawn)->Unit(benchmark::kMillisecond);

void BM_ArticleLaidOutOnly(benchmark::State& state) {
  Setup& s = S();
  for (auto _ : state) s.Load();
}
BENCHMARK(BM_ArticleLaidOutOnly)->Unit(benchmark::kMillisecond);

void BM_ScreenRedrawn(benchmark::State& state) {
  Setup& s = S();
  s.Load();
  for (auto _ : state) {
    InvalidateRect(GetWindow(s.view, GW_CHILD), nullptr, TRUE);
    s.Draw();
  }
}
BENCHMARK(BM_ScreenRedrawn)->Unit(benchmark::kMillisecond);

void BM_ZoomChanged(benchmark::State& state) {
  Setup& s = S();
  s.Load();
  int zoom = 2;
  for (auto _ : state) {
    zoom = zoom == 2 ? 3 : 2;
    SendMessageW(s.view, DTM_ZOOMLEVEL, 0, zoom);
    s.Draw();
  }
}
BENCHMARK(BM_ZoomChanged)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
