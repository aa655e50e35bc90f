// Benchmarks of the channel list, the item store and the feed parser.
// Run from a release build: build/<dir>/bench/feeds/feeds_bench
#include <benchmark/benchmark.h>
#include <tinyxml.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "kernel/kernel.h"
#include "quillet/feeds/item_store.h"
#include "quillet/feeds/opml_xml.h"
#include "quillet/feeds/rss_xml.h"
#include "support/settings_registry.h"

#include <sys/resource.h>

namespace {

std::string g_root;

void EnsureRoot() {
  if (!g_root.empty()) return;
  char tmpl[] = "/tmp/quillet-bench-XXXXXX";
  g_root = mkdtemp(tmpl);
  qk::SetDeviceRoot(g_root);
  std::filesystem::create_directories(g_root + "/ChannelData");
}

const char16_t kList[] = u"\\ChannelData\\Channels.opml";

// A list of 1,000 channels in 100 categories.
void WriteBigList() {
  std::string text = "<?xml version=\"1.0\" ?>\n<opml version=\"1.0\"><head><title>Channels</title></head><body nextID=\"2000\">";
  int id = 100;
  for (int c = 0; c < 100; ++c) {
    text += "<outline type=\"rss\" text=\"Category " + std::to_string(c) + "\" uniqueID=\"" + std::to_string(id++) + "\">";
    for (int i = 0; i < 10; ++i, ++id) {
      text += "<outline type=\"rss\" text=\"Channel " + std::to_string(id) + "\" uniqueID=\"" + std::to_string(id) +
              "\" xmlUrl=\"http://feeds.example.com/channel/" + std::to_string(id) +
              "/rss.xml\" itemCount=\"50\" newItemCount=\"7\" lastUpdateTime=\"2026-12-08 12:00:00\"/>";
    }
    text += "</outline>";
  }
  text += "</body></opml>";
  std::ofstream(qk::HostPath(kList), std::ios::binary) << text;
}

void CountOutline(void* context, LPCWSTR, LPCWSTR, LPCWSTR) { ++*static_cast<int*>(context); }

void BM_OpmlLoadAndWalk(benchmark::State& state) {
  EnsureRoot();
  WriteBigList();
  for (auto _ : state) {
    int count = 0;
    COpmlXML list(&CountOutline, &count, 1);
    list.SetPath(kList, 1);
    if (!list.LoadAndWalk(kList)) state.SkipWithError("load failed");
    benchmark::DoNotOptimize(count);
  }
}
BENCHMARK(BM_OpmlLoadAndWalk)->Unit(benchmark::kMillisecond);

void BM_OpmlAttributeEditAndSave(benchmark::State& state) {
  EnsureRoot();
  WriteBigList();
  COpmlXML list(nullptr, nullptr, 1);
  list.SetPath(kList, 1);
  if (!list.LoadAndWalk(kList)) state.SkipWithError("load failed");
  int n = 0;
  for (auto _ : state) {
    CString url, value;
    url.Format(u"http://feeds.example.com/channel/%d/rss.xml", 101 + (n % 10) + 11 * (n % 90));
    value.Format(u"%d", n++);
    if (!list.SetChannelAttribute(url, u"itemCount", value)) state.SkipWithError("edit failed");
  }
}
BENCHMARK(BM_OpmlAttributeEditAndSave)->Unit(benchmark::kMillisecond);

// An RSS 2.0 feed of count items, each about itemBytes long, with an image
// per item and a few entities.
std::string MakeFeed(int count, size_t itemBytes) {
  std::string text = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<rss version=\"2.0\"><channel><title>Bench</title>"
                     "<link>http://bench.example/</link>\n";
  for (int i = 0; i < count; ++i) {
    std::string body = "&lt;p&gt;Item " + std::to_string(i) + " &amp;amp; more &lt;img src=\"http://img.example/" +
                       std::to_string(i) + ".jpg\"&gt;";
    while (body.size() < itemBytes) body += " Lorem ipsum dolor sit amet, consectetur adipiscing elit.";
    char date[64];
    snprintf(date, sizeof date, "%02d %s 2026 %02d:%02d:00 GMT", 1 + (i / 1440) % 28, "Nov", (i / 60) % 24, i % 60);
    text += "<item><title>Title " + std::to_string(i) + "</title><link>http://bench.example/item/" + std::to_string(i) +
            "</link><guid>http://bench.example/item/" + std::to_string(i) + "</guid><pubDate>" + date +
            "</pubDate><description>" + body + "&lt;/p&gt;</description></item>\n";
  }
  return text + "</channel></rss>\n";
}

const char16_t kFeed[] = u"\\ChannelData\\Ch007~.xml";
const char16_t kStore[] = u"\\ChannelData\\Ch007.bin";

long MaxRssKb() {
  struct rusage u;
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

void ParseInto(benchmark::State& state, const std::string& feed) {
  std::ofstream(qk::HostPath(kFeed), std::ios::binary) << feed;
  for (auto _ : state) {
    state.PauseTiming();
    std::remove(qk::HostPath(kStore).c_str());
    state.ResumeTiming();
    CRssXML doc(nullptr, nullptr, nullptr, 1);
    if (!doc.Load(kFeed) || !doc.SaveItems()) state.SkipWithError("parse failed");
  }
  state.counters["feed_MB"] = double(feed.size()) / 1e6;
  state.counters["maxrss_MB"] = double(MaxRssKb()) / 1024.0;
}

// 100 KB, 50 new items into an empty store: load, parse, commit, trim.
void BM_FeedSmall(benchmark::State& state) {
  EnsureRoot();
  qtest::SetSettingDword(u"ArticlesNumber", 50);
  std::string feed = MakeFeed(50, 1900);
  ParseInto(state, feed);
}
BENCHMARK(BM_FeedSmall)->Unit(benchmark::kMillisecond);

// 5 MB, 5,000 items, 500 kept.
void BM_FeedLarge(benchmark::State& state) {
  EnsureRoot();
  qtest::SetSettingDword(u"ArticlesNumber", 500);
  std::string feed = MakeFeed(5000, 950);
  ParseInto(state, feed);
  qtest::SetSettingDword(u"ArticlesNumber", 50);
}
BENCHMARK(BM_FeedLarge)->Unit(benchmark::kMillisecond);

// One item whose content references 16,000 images, in a feed of about
// 645 KB: every reference gets its local name and its job.
void BM_FeedSixteenThousandImages(benchmark::State& state) {
  EnsureRoot();
  qtest::SetSettingDword(u"ArticlesNumber", 50);
  std::string body;
  for (int i = 0; i < 16000; ++i) body += "<img src=\"http://i.example/p/" + std::to_string(10000 + i) + ".jpg\">";
  std::string feed = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<rss version=\"2.0\"><channel><title>Images</title>"
                     "<link>http://i.example/</link><item><title>Gallery</title><link>http://i.example/g</link>"
                     "<pubDate>Wed, 01 Jun 2005 10:00:00 GMT</pubDate><description><![CDATA[<p>" +
                     body + "</p><p>" + std::string(4600, 'x') + "</p>]]></description></item></channel></rss>\n";
  std::ofstream(qk::HostPath(kFeed), std::ios::binary) << feed;
  size_t jobs = 0;
  for (auto _ : state) {
    state.PauseTiming();
    std::remove(qk::HostPath(kStore).c_str());
    state.ResumeTiming();
    CRssXML doc(nullptr, nullptr, nullptr, 1);
    if (!doc.Load(kFeed) || !doc.SaveItems()) state.SkipWithError("parse failed");
    jobs = size_t(doc.m_imageJobs.GetCount());
  }
  if (jobs != 16000) state.SkipWithError("not every image was localised");
  state.counters["feed_KB"] = double(feed.size()) / 1000.0;
}
BENCHMARK(BM_FeedSixteenThousandImages)->Unit(benchmark::kMillisecond);

// The headline list's reading of a store of 500 items.
void BM_StoreRead500(benchmark::State& state) {
  EnsureRoot();
  std::remove(qk::HostPath(kStore).c_str());
  {
    CItemStore s(0);
    s.Open(kStore, 0, 0);
    for (int i = 0; i < 500; ++i) {
      CString link, title;
      link.Format(u"http://bench.example/item/%d", i);
      title.Format(u"Title %d", i);
      std::u16string content(900, u'x');
      s.AddPendingItem(title, link, u"", u"2026-11-01 12:00:00", 0, 0, content.c_str(), u"Ch007-1700000000-001.htm");
    }
    s.Commit();
  }
  for (auto _ : state) {
    CItemStore s(0);
    s.Open(kStore, 0, 1);
    int n = 0;
    while (s.MoveNext()) ++n;
    if (n != 500) state.SkipWithError("wrong count");
  }
}
BENCHMARK(BM_StoreRead500)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
