// Opening a channel of 2,000 items (a store the feed parser wrote, every
// third item with a picture, every fourth with a stored page) from the
// channel list, as the user taps its row, to the headline list's first full
// paint at 480 x 800: the time from the channel list's open callback (what a
// tap on the row calls) until the screen has loaded its rows and painted
// them (its load waits for a 5 ms timer after the screen is made, as every
// list reload does; that wait is part of the figure). A tap on the row is
// timed too: the channel list first shows the pressed row for 50 ms.
//
// The channel keeps as many articles as it holds (the articles-per-channel
// setting, which also limits the headline list's rows, is set to the count).
//
//   headlines_bench [rounds] [items]     (default 30 rounds of 2,000 items)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/bench_line.h"
#include "bench/bench_support.h"
#include "common/settings.h"
#include "gdi/image_codec.h"
#include "quillet/feeds/item_store.h"
#include "quillet/res/resources.h"
#include "quillet/channel_list/channel_list_dlg.h"
#include "quillet/frame/main_frame.h"
#include "quillet/headlines/news_list_dlg.h"
#include "quillet/frame/reader_app.h"
#include "quillet/ui/density.h"
#include "quillet/ui/touch_image.h"
#include "support/settings_registry.h"
#include "user/idle.h"
#include "user/input.h"
#include "user/user.h"

namespace {

int kItems = 2000;
const char16_t kData[] = u"\\Program Files\\Quillet\\ChannelData";

void WriteFile(const CString& devicePath, const std::string& bytes) {
  std::string host = qk::HostPath(devicePath.GetString());
  std::filesystem::create_directories(std::filesystem::path(host).parent_path());
  FILE* f = fopen(host.c_str(), "wb");
  if (!f) return;
  fwrite(bytes.data(), 1, bytes.size(), f);
  fclose(f);
}

// The channel's store, written as the feed parser writes it: the newest
// item last, every third with a picture, every fourth with a stored page,
// every second read. (The parser itself keeps no more items than the
// articles-per-channel setting allows, so the store is written directly.)
void MakeChannel() {
  qtest::SetSettingDword(u"ArticlesNumber", DWORD(kItems));
  std::vector<uint32_t> pixels(128 * 128);
  for (int y = 0; y < 128; ++y)
    for (int x = 0; x < 128; ++x) pixels[size_t(y * 128 + x)] = ((x / 32 + y / 32) % 2) ? 0x2C8FE0u : 0xE0A040u;
  std::vector<uint8_t> png;
  qk::gdi::EncodePng(128, 128, pixels, &png);
  CString image = CString(kData) + u"\\Ch100-image.png";
  WriteFile(image, std::string(png.begin(), png.end()));
  CItemStore store(0);
  store.Open(CString(kData) + u"\\Ch100.bin", 0, 0);
  for (int i = 0; i < kItems; ++i) {
    CString title, link, date, content, page;
    title.Format(u"Headline number %d of the benchmark channel, long enough to be cut", i);
    link.Format(u"http://127.0.0.1/item/%d", i);
    date.Format(u"2026-11-%02d %02d:%02d:00", 1 + i % 28, i % 24, i % 60);
    content.Format(u"<p>Body of item %d with <b>some</b> markup.</p>", i);
    page.Format(u"Ch100-%04d.htm", i);
    DWORD type = 0;
    if (i % 3 == 0) {
      CString bmp(page);
      bmp.Replace(u".htm", u".bmp");
      if (CChannelListDlg::MakeChannelIcon(CString(kData) + u"\\" + bmp, image)) type |= ITEM_TYPE_THUMBNAIL;
    }
    if (i % 4 == 0) {
      WriteFile(CString(kData) + u"\\" + page, "<p>full</p>");
      type |= ITEM_TYPE_PAGE;
    }
    store.AddPendingItem(title, link, u"", date, (i % 2) ? ITEM_READ_READ : ITEM_READ_UNREAD, type, content, page);
  }
  store.Commit();
  WriteFile(CString(kData) + u"\\Channels.opml",
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<opml version=\"1.0\"><head><title>t</title></head>"
            "<body nextID=\"101\"><outline text=\"News\" type=\"rss\" uniqueID=\"99\"><outline text=\"Bench\" "
            "type=\"rss\" uniqueID=\"100\" xmlUrl=\"http://127.0.0.1/bench\"/></outline></body></opml>\n");
}

// The round in progress: the idle hook stops the clock at the first idle
// moment after the screen showed its rows, then closes the screen.
struct Round {
  std::chrono::steady_clock::time_point start;
  double ms = -1;
} g_round;

DWORD Idle() {
  HWND active = GetActiveWindow();
  auto* screen = dynamic_cast<CNewsListDlg*>(CWnd::FromHandlePermanent(active));
  if (screen && g_round.ms < 0 && screen->HasCounts() &&
      screen->GetList()->GetItemCount() == std::min(kItems, NEWS_LIST_MAX_ROWS)) {
    g_round.ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - g_round.start).count();
    PostMessageW(active, WM_CLOSE, 0, 0);
    return 0;
  }
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 30;
  if (argc > 2) kItems = std::max(1, atoi(argv[2]));
  std::string root = qbench::StartDevice("quillet-headlines-bench");
  RegisterQuilletResources();
  InitImagingFactory();
  SetTouchFlag(TRUE);
  InitScreenDpi(0);
  MakeChannel();
  std::vector<double> tapped, opened;
  {
    CReaderApp app;
    CMainFrame frame;
    if (!frame.Create(480, 800)) return 1;
    CChannelListDlg& channels = frame.ChannelListWnd().Dialog();
    if (!channels.LoadChannelList(CString(kData) + u"\\Channels.opml")) return 1;
    qk::PumpMessages();
    RECT dialog{};
    GetWindowRect(channels.GetSafeHwnd(), &dialog);
    const int x = dialog.left + 60, y = dialog.top + channels.GetHeaderHeight() + 10;
    qk::SetIdleHook(Idle);
    for (int r = 0; r < 2 * rounds; ++r) {
      // Even rounds: a tap on the row, which the channel list answers by
      // showing the pressed row for 50 ms before it opens the channel. Odd
      // rounds: the list's open callback itself, as the tap calls it.
      const bool direct = r % 2;
      g_round = Round();
      g_round.start = std::chrono::steady_clock::now();
      if (direct) {
        CChannelListDlg::OpenChannel(channels.GetSafeHwnd(), reinterpret_cast<DWORD_PTR>(&channels), u"Bench",
                                     u"http://127.0.0.1/bench", 100, 60);
      } else {
        qk::InjectPointer(WM_LBUTTONDOWN, x, y);
        qk::InjectPointer(WM_LBUTTONUP, x, y);
      }
      qk::PumpMessages();
      if (g_round.ms < 0) {
        fprintf(stderr, "round %d: the headline list did not show its rows\n", r);
        return 1;
      }
      (direct ? opened : tapped).push_back(g_round.ms);
    }
    qk::SetIdleHook(nullptr);
  }
  ReleaseImagingFactory();
  qbench::Figures f = qbench::Summarise(opened);
  printf("Headline list of a channel of %d items (%d rows shown) at 480 x 800, %d rounds each:\n", kItems,
         std::min(kItems, NEWS_LIST_MAX_ROWS), rounds);
  printf("  channel opened (the list's open callback) to first full paint: mean %.2f ms, median %.2f ms, p99 %.2f ms, worst %.2f ms "
         "(target < %s)\n",
         f.mean, f.median, f.p99, f.worst, kItems == 2000 ? "40 ms" : "50 ms");
  f = qbench::Summarise(tapped);
  printf("  quick tap to first full paint (with the channel list's 50 ms press highlight): mean %.2f ms, median "
         "%.2f ms, p99 %.2f ms, worst %.2f ms\n",
         f.mean, f.median, f.p99, f.worst);
  if (kItems == 2000)
    qbench::FigureLine("open a channel of 2,000 items to the headline list's first full paint",
                       qbench::Summarise(opened).median, "ms", 40);
  std::filesystem::remove_all(root);
  return 0;
}
