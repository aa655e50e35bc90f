// Whole refresh runs: nginx serves the feeds, pages, images, logos and
// icons (and fails on demand), the scripted sync service serves the
// synchronised channels, the fetch program Ambrel cuts the articles out of
// their pages with the channel's extraction script.
#include <gtest/gtest.h>

#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "common/settings.h"
#include "common/url_download.h"
#include "kernel/kernel.h"
#include "quillet/refresh/download_manager.h"
#include "quillet/refresh/refresh_state.h"
#include "quillet/screens/screen_messages.h"
#include "quillet/ui/channel_list_view.h"
#include "refresh_fixture.h"
#include "support/net_servers.h"
#include "support/settings_registry.h"
#include "sync_rules.h"
#include "ventrel/ventrel.h"
#include "common/connection.h"
#include "net/connmgr.h"
#include "user/input.h"

namespace rtest {
namespace {

std::string Subscription(const std::string& url, const std::string& title, const std::vector<std::string>& labels) {
  std::string s = "<object><string name=\"id\">feed/" + url + "</string><string name=\"title\">" + title + "</string>";
  s += "<list name=\"categories\">";
  for (const std::string& label : labels)
    s += "<object><string name=\"id\">user/1/label/" + label + "</string><string name=\"label\">" + label +
         "</string></object>";
  return s + "</list></object>";
}

std::string Name(const char* format, int channel) {
  char buf[64];
  snprintf(buf, sizeof buf, format, channel);
  return buf;
}

class RunTest : public RefreshTest {
 protected:
  void SetUp() override {
    RefreshTest::SetUp();
    favicon_ = std::string("\0\0\1\0", 4) + "icon bytes";
    logo_ = Png(120, 60, 99);
    Serve("/favicon.ico", favicon_);
    Serve("/logo.png", logo_);
  }
  // An RSS 2.0 channel of three items, the first with an image.
  void ServeRss(int n) {
    std::string img = "/img/c" + std::to_string(n) + ".png";
    Serve(img, Png(100, 80, unsigned(n)));
    std::vector<Item> items;
    for (int i = 1; i <= 3; ++i) {
      std::string body = i == 1 ? "<p>see <img src=\"" + Url(img) + "\"></p>" : "<p>text " + std::to_string(i) + "</p>";
      items.push_back({"Item " + std::to_string(i), Url("/site" + std::to_string(n) + "/" + std::to_string(i)), body, ""});
    }
    Serve("/feeds/c" + std::to_string(n) + ".xml",
          Rss2("Channel " + std::to_string(n), Url("/site" + std::to_string(n) + "/index.html"), n == 1 ? Url("/logo.png") : "", items));
  }
  void ServeOther(int n, bool atom) {
    std::vector<Item> items;
    for (int i = 1; i <= 3; ++i)
      items.push_back({"Entry " + std::to_string(i), Url("/other" + std::to_string(n) + "/" + std::to_string(i)), "<p>b</p>", ""});
    std::string link = Url("/other" + std::to_string(n) + "/");
    Serve("/feeds/c" + std::to_string(n) + ".xml", atom ? Atom("A", link, items) : Rdf("R", link, items));
  }
  std::string favicon_, logo_;
};

TEST_F(RunTest, AWholeRunOverTwentyChannelsOfEveryKindTwice) {
  // The sync service: login over TLS, the subscription list, two feeds and
  // the read marks, each as often as asked.
  std::string one = "http://sync.example/feed/one", two = "http://sync.example/feed/two";
  std::string subscriptions = "<object><list name=\"subscriptions\">" + Subscription(one, "Sync One renamed", {"News"}) +
                              Subscription(two, "Sync Two", {"Sports", "Tech"}) +
                              Subscription("http://sync.example/feed/three", "Sync Three", {"Sports"}) +
                              Subscription("http://sync.example/feed/four", "Sync Four", {}) + "</list></object>";
  std::vector<Item> syncItems = {{"S1", "http://sync.example/a/1", "<p>s1</p>", "tag:google.com,2005:reader/item/0001", true},
                                 {"S2", "http://sync.example/a/2", "<p>s2</p>", "tag:google.com,2005:reader/item/0002", false}};
  std::vector<Item> syncItems2 = {{"T1", "http://sync.example/b/1", "<p>t1</p>", "tag:google.com,2005:reader/item/0101", false}};
  std::string rules = "{\"rules\": [" + Rule("/accounts/ClientLogin", Ok("SID=sid\n"), ", \"times\": 0") + ", " +
                      Rule("/reader/api/0/subscription/list", Ok(subscriptions), ", \"times\": 0") + ", " +
                      Rule("/reader/atom/feed/" + one, Ok(Atom("One", "http://sync.example/", syncItems)), ", \"times\": 0") + ", " +
                      Rule("/reader/atom/feed/" + two, Ok(Atom("Two", "http://sync.example/", syncItems2)), ", \"times\": 0") + ", " +
                      Rule("/reader/api/0/token", Ok("tok"), ", \"times\": 0") + ", " +
                      Rule("/reader/api/0/edit-tag", Ok("OK"), ", \"times\": 0") + "]}";
  const auto& certs = qnet::TestCertificates::Get();
  qnet::ScriptedServer sync;
  ASSERT_TRUE(sync.Start(rules, certs.serverCert, certs.serverKey));
  qtest::ScriptedHttpServer stall;
  ASSERT_TRUE(stall.Start());
  SetVentrel(u"Sync", 1);
  SetVentrelText(u"Label", u"News,Tech");
  SetSyncAccount(sync.port(), u"secret");

  std::vector<Channel> channels;
  for (int n = 1; n <= 10; ++n) {
    ServeRss(n);
    channels.push_back({n, "News", "Channel " + std::to_string(n), Url("/feeds/c" + std::to_string(n) + ".xml")});
  }
  for (int n = 11; n <= 16; ++n) {
    ServeOther(n, n <= 13);
    channels.push_back({n, "Tech", "Other " + std::to_string(n), Url("/feeds/c" + std::to_string(n) + ".xml")});
  }
  channels.push_back({17, "Tech", "Broken", Url("/reset/c17.xml")});
  channels.push_back({18, "Tech", "Stalled", stall.Url("/silent")});
  channels.push_back({19, "Google Reader", "Sync One", one});
  // The template channel: its items' pages are fetched by the program.
  std::vector<Item> articles;
  for (int i = 1; i <= 2; ++i) {
    std::string page = "/articles/a" + std::to_string(i) + ".html";
    Serve(page, ArticlePage("<p>Article " + std::to_string(i) + " — café</p><img src=\"p" + std::to_string(i) + ".png\">"));
    Serve("/articles/p" + std::to_string(i) + ".png", Png(90, 90, unsigned(40 + i)));
    Serve("/img/t" + std::to_string(i) + ".png", Png(100, 100, unsigned(50 + i)));
    articles.push_back({"Article " + std::to_string(i), Url(page), "<img src=\"" + Url("/img/t" + std::to_string(i) + ".png") + "\">", ""});
  }
  Serve("/feeds/c20.xml", Rss2("Articles", Url("/articles/"), "", articles));
  WriteDeviceFile(DataPath("Ch020.tpl"), kExtractionScript);
  channels.push_back({20, "News", "Articles", Url("/feeds/c20.xml")});
  // What the broken channel had, and what a cancelled run left behind.
  {
    CItemStore store(0);
    store.Open(DataPath("Ch017.bin"), 0, 0);
    store.AddPendingItem(u"Old", u"http://old.example/1", u"", u"2026-12-01 10:00:00", 0, 0, u"<p>old</p>", u"Ch017-1-1.htm");
    ASSERT_TRUE(store.Commit());
  }
  WriteDeviceFile(DataPath("Ch017~.xml"), Rss2("Stale", "http://stale.example/", "", {{"Stale item", "http://stale.example/1", "x", ""}}));
  LoadChannels(channels);
  dialog_->EnsureAgency()->SetCaFile(CString(qk::FromUtf8(certs.caFile)));

  ASSERT_TRUE(RefreshAndWait(120000));
  // The refresh ends only once its last full-text job has run.
  EXPECT_FALSE(app_->DownloadManager().IsWorkerRunning());

  // The screens saw the run start, one refresh per stored feed, the end of
  // the feeds, the full-text jobs and the end of the refresh, in order.
  std::vector<std::string> seen = Messages();
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.front(), "Quillet.Download.Start");
  EXPECT_EQ(seen.back(), "Quillet.Download.Finished");
  EXPECT_EQ(CountMessages("Quillet.Download.Refresh"), 19);
  EXPECT_EQ(CountMessages("Quillet.Download.Item.Get.Fulltext"), 2);
  size_t headlines = std::find(seen.begin(), seen.end(), "Quillet.Download.Headlines.Finished") - seen.begin();
  ASSERT_LT(headlines, seen.size());
  for (size_t i = headlines; i < seen.size(); ++i) EXPECT_NE(seen[i], "Quillet.Download.Refresh");
  for (size_t i = 0; i < headlines; ++i) EXPECT_NE(seen[i], "Quillet.Download.Item.Get.Fulltext");
  EXPECT_GE(CountMessages("progress"), 21);
  // The template channel's image pass ended after its first image; the
  // images it skipped count as handled, so the band reaches its end.
  EXPECT_EQ(RefreshState().processedImages.load(), RefreshState().imageTotal.load());
  EXPECT_GT(RefreshState().imageTotal.load(), 10);
  EXPECT_GE(dialog_->m_nProgress.load(), 0);
  EXPECT_LT(dialog_->m_nProgress.load(), 10);

  // The merge added the second subscription under the synchronised
  // category, renamed and labelled the first, and ignored the others.
  CChannelListView& view = dialog_->m_view;
  ASSERT_EQ(view.GetItemCount(), 21);
  for (int i = 0; i < view.GetItemCount(); ++i) {
    CChannelListItem row;
    ASSERT_TRUE(view.GetItem(i, row));
    EXPECT_EQ(row.m_nState, 0) << i;
  }
  EXPECT_EQ(RefreshState().processedChannels.load(), 21);
  EXPECT_EQ(RefreshState().queuedChannels.load(), 21);
  EXPECT_EQ(SavedAttribute(one, "text"), "Sync One renamed");
  EXPECT_EQ(SavedAttribute(one, "label"), "News");
  EXPECT_EQ(SavedAttribute(two, "label"), "Sports;Tech");
  EXPECT_EQ(SavedAttribute("http://sync.example/feed/three", "text"), "<none>");
  EXPECT_EQ(SavedAttribute("http://sync.example/feed/four", "text"), "<none>");
  EXPECT_FALSE(DeviceFileExists(u"\\Program Files\\Quillet\\ChannelData\\VentrelSubscriptions.xml"));
  int twoNumber = 0;
  for (int i = 0; i < view.GetItemCount(); ++i) {
    CChannelListItem row;
    view.GetItem(i, row);
    if (U(row.m_strUrl) == two) {
      twoNumber = row.m_nChannel;
      EXPECT_EQ(U(row.m_strCategory), "Google Reader");
    }
  }
  ASSERT_EQ(twoNumber, 21);

  // Files of the plain channels: the feed moved into place, logo, icon,
  // the first item's image and its thumbnail.
  for (int n = 1; n <= 16; ++n) {
    EXPECT_TRUE(DataFileExists(Name("Ch%03d.xml", n))) << n;
    EXPECT_FALSE(DataFileExists(Name("Ch%03d~.xml", n))) << n;
    EXPECT_EQ(DataFile(Name("Ch%03d-Fav.ico", n)), favicon_) << n;
    std::vector<CItemRecord> records = Records(n);
    EXPECT_EQ(records.size(), 3u) << n;
    EXPECT_EQ(SavedAttribute(U(W(channels[size_t(n - 1)].url)), "itemCount"), "3") << n;
    EXPECT_EQ(SavedAttribute(channels[size_t(n - 1)].url, "newItemCount"), "3") << n;
    EXPECT_NE(SavedAttribute(channels[size_t(n - 1)].url, "lastUpdateTime"), "<none>") << n;
  }
  EXPECT_EQ(DataFile("Ch001-Logo.img"), logo_);
  EXPECT_FALSE(DataFileExists("Ch002-Logo.img"));
  std::vector<CItemRecord> first = Records(1);
  ASSERT_EQ(first.size(), 3u);
  int thumbnails = 0;
  for (const CItemRecord& r : first) {
    if (r.type & ITEM_TYPE_THUMBNAIL) {
      ++thumbnails;
      std::string page = U(r.pageName);
      EXPECT_TRUE(DataFileExists(page.substr(0, page.rfind('.')) + ".bmp")) << page;
    }
  }
  EXPECT_EQ(thumbnails, 1);

  // The broken and the stalled channel: the error item, the old items kept,
  // nothing of the stale file, the last update time written all the same.
  std::vector<CItemRecord> broken = Records(17);
  EXPECT_EQ(CountLink(broken, "http://old.example/1"), 1);
  EXPECT_EQ(CountLink(broken, "http://127.0.0.1/lasterror"), 1);
  EXPECT_EQ(CountLink(broken, "http://stale.example/1"), 0);
  EXPECT_EQ(broken.size(), 2u);
  EXPECT_FALSE(DataFileExists("Ch017.xml"));
  EXPECT_NE(SavedAttribute(Url("/reset/c17.xml"), "lastUpdateTime"), "<none>");
  EXPECT_EQ(SavedAttribute(Url("/reset/c17.xml"), "itemCount"), "");
  std::vector<CItemRecord> stalled = Records(18);
  ASSERT_EQ(stalled.size(), 1u);
  EXPECT_EQ(stalled[0].type, ITEM_TYPE_ERROR);

  // The synchronised channels came through the service.
  std::vector<CItemRecord> synced = Records(19);
  EXPECT_EQ(synced.size(), 2u);
  EXPECT_EQ(Records(21).size(), 1u);
  EXPECT_EQ(SavedAttribute(one, "newItemCount"), "1");  // the first entry was read on the service

  // The template channel: a page per item, the article the script cut out
  // of the item's web page, its images fetched and the page pointed at
  // them, the thumbnails kept.
  std::vector<CItemRecord> pages = Records(20);
  ASSERT_EQ(pages.size(), 2u);
  for (const CItemRecord& r : pages) {
    std::string page = U(r.pageName);
    std::string base = page.substr(0, page.rfind('.'));
    std::string link = U(r.link);
    std::string number = link.substr(link.size() - 6, 1);  // ".../a<n>.html"
    EXPECT_EQ(DataFile(page), "<p>Article " + number + " — café</p><img src=\"" + base + "-01.png\">") << link;
    EXPECT_EQ(DataFile(base + "-01.png").substr(0, 4), "\x89PNG");
    EXPECT_TRUE(DataFileExists(base + ".bmp"));
    EXPECT_EQ(r.type, ITEM_TYPE_PAGE | ITEM_TYPE_THUMBNAIL) << page;
    EXPECT_EQ(r.readFlag, DWORD(ITEM_READ_UNREAD_FETCHED));
  }
  EXPECT_FALSE(IsDownloadStopped());
  EXPECT_FALSE(frame_->ChannelListWnd().IsRunActive());
  CString lastUpdate;
  GetRegistryString(lastUpdate, u"LastUpdateTime", u"");
  EXPECT_EQ(lastUpdate.GetLength(), 19);

  // Read on the device: one plain item and one synchronised item the
  // service has as unread.
  {
    CItemStore store(0);
    store.Open(DataPath("Ch001.bin"), 0, 0);
    SetItemReadState(&store, first[1].link, ITEM_READ_READ);
    CItemStore s19(0);
    s19.Open(DataPath("Ch019.bin"), 0, 0);
    SetItemReadState(&s19, u"http://sync.example/a/2", ITEM_READ_READ);
  }
  size_t requestsBefore = sync.Requests().size();

  // The same feeds again store nothing twice.
  ClearMessages();
  ASSERT_TRUE(RefreshAndWait(120000));
  EXPECT_EQ(CountMessages("Quillet.Download.Refresh"), 19);
  EXPECT_EQ(CountMessages("Quillet.Download.Item.Get.Fulltext"), 0);
  for (int n : {1, 2, 11, 14, 16}) EXPECT_EQ(Records(n).size(), 3u) << n;
  EXPECT_EQ(Records(19).size(), 2u);
  EXPECT_EQ(Records(20).size(), 2u);
  EXPECT_EQ(Records(21).size(), 1u);
  EXPECT_EQ(Records(17).size(), 2u);
  EXPECT_EQ(Records(1)[1].readFlag, DWORD(ITEM_READ_READ));
  EXPECT_EQ(SavedAttribute(channels[0].url, "newItemCount"), "2");
  // The item read on the device was marked read on the service.
  std::vector<std::string> requests = sync.Requests();
  int marks = 0;
  for (size_t i = requestsBefore; i < requests.size(); ++i)
    if (requests[i].find("POST /reader/api/0/edit-tag") == 0) {
      ++marks;
      EXPECT_NE(requests[i].find("i=tag:google.com,2005:reader/item/0002"), std::string::npos) << requests[i];
    }
  EXPECT_EQ(marks, 1);
}

TEST(RefreshProgressTest, TheBandNeverDividesByZeroAndStaysWithinItsEnds) {
  CRefreshState& state = RefreshState();
  state.queuedChannels = 0;
  state.processedChannels = 0;
  state.imageTotal = 0;
  state.processedImages = 0;
  EXPECT_EQ(RefreshProgressPercent(0, 0), 100);
  state.queuedChannels = 4;
  state.processedChannels = 1;
  EXPECT_EQ(RefreshProgressPercent(0, 0), 75);  // (4 - 1) x 3 of 4 x 3
  state.imageTotal = 6;
  state.processedImages = 2;
  EXPECT_EQ(RefreshProgressPercent(2, 2), 100 * (15 + 4) / (18 + 6));
  state.processedChannels = 9;  // more than were queued
  EXPECT_EQ(RefreshProgressPercent(0, 0), 0);
  state.queuedChannels = 0;
  state.processedChannels = 0;
  state.imageTotal = 0;
  state.processedImages = 0;
  EXPECT_EQ(RefreshProgressPercent(WPARAM(5), LPARAM(-5)), 100);
}

TEST_F(RunTest, ACancelMidRunKeepsNothingHalfWrittenAndTheRefreshStillEnds) {
  // The slow feed trickles in; however slowly it comes on a busy machine,
  // it is the cancel that ends it, not a time-out.
  SetUrlDownloadWaits(60000, 60000);
  std::vector<Channel> channels;
  for (int n = 1; n <= 6; ++n) {
    if (n == 3) continue;
    ServeRss(n);
    channels.push_back({n, "News", "Channel " + std::to_string(n), Url("/feeds/c" + std::to_string(n) + ".xml")});
  }
  // The third feed comes slowly (16 KB/s after its first 16 KB).
  std::vector<Item> many;
  for (int i = 0; i < 60; ++i)
    many.push_back({"Long " + std::to_string(i), Url("/long/" + std::to_string(i)), std::string(1500, 'x'), ""});
  Serve("/slow/c3.xml", Rss2("Slow", Url("/long/"), "", many));
  channels.insert(channels.begin() + 2, {3, "News", "Channel 3", Url("/slow/c3.xml")});
  std::string oldFeed = Rss2("Old", "http://old.example/", "", {{"Old", "http://old.example/1", "o", ""}});
  WriteDeviceFile(DataPath("Ch003.xml"), oldFeed);
  {
    CItemStore store(0);
    store.Open(DataPath("Ch003.bin"), 0, 0);
    store.AddPendingItem(u"Old", u"http://old.example/1", u"", u"2026-12-01 10:00:00", 0, 0, u"o", u"Ch003-1-1.htm");
    ASSERT_TRUE(store.Commit());
  }
  LoadChannels(channels);

  SendMessageW(frame_->GetSafeHwnd(), WM_COMMAND, ID_REFRESH_CHANNELS, 0);
  // The third channel's download has begun once its update time is set.
  ASSERT_TRUE(PumpUntil([&] { return !ListAttribute(Url("/slow/c3.xml"), "lastUpdateTime").empty(); }));
  EXPECT_TRUE(frame_->ChannelListWnd().IsRunActive());
  // The Refresh command of a running refresh cancels it.
  SendMessageW(frame_->GetSafeHwnd(), WM_COMMAND, ID_REFRESH_CHANNELS, 0);
  ASSERT_TRUE(PumpUntil([&] { return CountMessages("Quillet.Download.Finished") == 1; }));

  EXPECT_EQ(CountMessages("Quillet.Download.Refresh"), 2);
  EXPECT_EQ(CountMessages("Quillet.Download.Headlines.Finished"), 1);
  EXPECT_EQ(RefreshState().processedChannels.load(), 6);
  EXPECT_EQ(RefreshState().queuedChannels.load(), 6);
  for (int i = 0; i < dialog_->m_view.GetItemCount(); ++i) {
    CChannelListItem row;
    dialog_->m_view.GetItem(i, row);
    EXPECT_EQ(row.m_nState, 0);
  }
  // The interrupted feed replaced nothing; the channels after it were not
  // touched.
  EXPECT_EQ(DataFile("Ch003.xml"), oldFeed);
  std::vector<CItemRecord> kept = Records(3);
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_EQ(U(kept[0].link), "http://old.example/1");
  for (int n = 4; n <= 6; ++n) {
    EXPECT_FALSE(DataFileExists(Name("Ch%03d.bin", n))) << n;
    EXPECT_FALSE(DataFileExists(Name("Ch%03d.xml", n))) << n;
    EXPECT_EQ(SavedAttribute(channels[size_t(n - 1)].url, "lastUpdateTime"), "") << n;
  }
  // The refresh is over: the stop flag is down again and the window idle.
  EXPECT_FALSE(IsDownloadStopped());
  EXPECT_FALSE(frame_->ChannelListWnd().IsRunActive());
  EXPECT_TRUE(dialog_->m_toFetch.IsEmpty());
  EXPECT_FALSE(dialog_->m_bHeadlinePhase.load());

  // A half-fetched feed is never parsed later: the next run fetches anew.
  WriteDeviceFile(DataPath("Ch003~.xml"), Rss2("Half", "http://half.example/", "", {{"Half", "http://half.example/1", "h", ""}}));
  ASSERT_TRUE(RefreshAndWait(60000));
  std::vector<CItemRecord> fresh = Records(3);
  EXPECT_EQ(CountLink(fresh, "http://half.example/1"), 0);
  EXPECT_EQ(CountLink(fresh, Url("/long/0")), 1);
  for (int n = 4; n <= 6; ++n) EXPECT_EQ(Records(n).size(), 3u) << n;
}

TEST_F(RunTest, ACancelWhileTheFetchProgramWaitsStopsItAndTheJobsAfterIt) {
  EnableRunLog();
  // The first item's page comes only when the test says; the program
  // waits for it far longer than the cancel takes.
  SetFetchProgramWait(60000, 5000);
  std::string first = scripted_.Url("/gated/first"), second = Url("/articles/second.html");
  Serve("/articles/second.html", ArticlePage("<p>Second story</p>"));
  Serve("/feeds/t.xml", Rss2("T", Url("/articles/"), "", {{"First", first, "<p>1</p>", ""}, {"Second", second, "<p>2</p>", ""}}));
  WriteDeviceFile(DataPath("Ch001.tpl"), kExtractionScript);
  LoadChannels({{1, "News", "Template", Url("/feeds/t.xml")}});

  SendMessageW(frame_->GetSafeHwnd(), WM_COMMAND, ID_REFRESH_CHANNELS, 0);
  ASSERT_TRUE(PumpUntil([&] { return scripted_.WaitForRequest("/gated/first", 0); }));
  // The second job still waits, so the refresh is still running: the
  // Refresh command cancels it, which stops the waiting program at once.
  EXPECT_TRUE(frame_->ChannelListWnd().IsRunActive());
  EXPECT_EQ(CountMessages("Quillet.Download.Finished"), 0);
  SendMessageW(frame_->GetSafeHwnd(), WM_COMMAND, ID_REFRESH_CHANNELS, 0);
  ASSERT_TRUE(PumpUntil([&] { return CountMessages("Quillet.Download.Finished") == 1; }, 60000));
  CDownloadManager& manager = app_->DownloadManager();
  ASSERT_TRUE(PumpUntil([&] { return !manager.IsWorkerRunning(); }));
  std::vector<std::string> stopped = {first, "exit 0xffffffff"};
  EXPECT_EQ(ProgramRuns({first, second}), stopped);
  // The job after it started no program; neither item got a page.
  EXPECT_EQ(nginx_.AccessLog().find("/articles/second.html"), std::string::npos);
  std::vector<CItemRecord> records = Records(1);
  ASSERT_EQ(records.size(), 2u);
  for (const CItemRecord& r : records) {
    EXPECT_FALSE(DataFileExists(U(r.pageName))) << U(r.pageName);
    EXPECT_EQ(r.type & ITEM_TYPE_PAGE, 0u) << U(r.link);
    EXPECT_EQ(r.readFlag, DWORD(ITEM_READ_UNREAD)) << U(r.link);
  }
  EXPECT_FALSE(IsDownloadStopped());
  EXPECT_FALSE(frame_->ChannelListWnd().IsRunActive());
  EXPECT_TRUE(manager.IsIdle());

  // The next refresh fetches both articles anew, whole.
  ASSERT_TRUE(scripted_.Open("first"));
  ClearRunLog();
  ClearMessages();
  ASSERT_TRUE(RefreshAndWait(60000));
  ASSERT_TRUE(PumpUntil([&] { return !manager.IsWorkerRunning(); }));
  std::vector<std::string> both = {first, "exit 0x00000000", second, "exit 0x00000000"};
  EXPECT_EQ(ProgramRuns({first, second}), both);
  records = Records(1);
  ASSERT_EQ(records.size(), 2u);
  for (const CItemRecord& r : records) {
    EXPECT_EQ(DataFile(U(r.pageName)), U(r.link) == first ? "<p>Continued.</p>" : "<p>Second story</p>") << U(r.link);
    EXPECT_EQ(r.type, DWORD(ITEM_TYPE_PAGE)) << U(r.link);
    EXPECT_EQ(r.readFlag, DWORD(ITEM_READ_UNREAD_FETCHED)) << U(r.link);
  }
}

TEST_F(RunTest, TheRefreshLastsUntilItsLastJobHasRunAndTheEndOfAnUpdateTask) {
  EnableRunLog();
  // The story of a goes on over a page that comes when the test says.
  Serve("/articles/a.html", ArticlePage("<p>a</p>", scripted_.Url("/gated/a")));
  Serve("/articles/b.html", ArticlePage("<p>b</p>"));
  std::string a = Url("/articles/a.html"), b = Url("/articles/b.html");
  Serve("/feeds/t.xml", Rss2("T", Url("/articles/"), "", {{"A", a, "<p>a</p>", ""}}));
  ServeRss(2);
  WriteDeviceFile(DataPath("Ch001.tpl"), kExtractionScript);
  LoadChannels({{1, "News", "Template", Url("/feeds/t.xml")}, {2, "Google Reader", "Synced", Url("/feeds/c2.xml")}});

  // While the refresh's last job runs the refresh is not over: the manager
  // is not idle, the window still runs the refresh, and a start asked for
  // meanwhile (Monitor's) starts no second run.
  SendMessageW(frame_->GetSafeHwnd(), WM_COMMAND, ID_REFRESH_CHANNELS, 0);
  ASSERT_TRUE(PumpUntil([&] { return scripted_.WaitForRequest("/gated/a", 0); }));
  CDownloadManager& manager = app_->DownloadManager();
  EXPECT_FALSE(manager.IsIdle());
  EXPECT_TRUE(manager.HasJob(W(a)));
  EXPECT_TRUE(frame_->ChannelListWnd().IsRunActive());
  EXPECT_FALSE(frame_->ChannelListWnd().IsRunThreadAlive());
  SendMessageW(frame_->GetSafeHwnd(), WM_CHANNELS_DOWNLOAD_START, 0, 0);
  EXPECT_FALSE(frame_->ChannelListWnd().IsRunThreadAlive());
  EXPECT_EQ(CountMessages("Quillet.Download.Finished"), 0);
  // With synchronisation off the synchronised channel was not fetched.
  EXPECT_FALSE(DataFileExists("Ch002.bin"));
  ASSERT_TRUE(scripted_.Open("a"));
  ASSERT_TRUE(PumpUntil([&] { return CountMessages("Quillet.Download.Finished") == 1; }, 60000));
  // By the end of the refresh the job had recorded its whole page.
  std::vector<CItemRecord> records = Records(1);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].type, DWORD(ITEM_TYPE_PAGE));
  EXPECT_EQ(DataFile(U(records[0].pageName)), "<p>a</p><p>Continued.</p>");
  EXPECT_TRUE(manager.IsIdle());
  EXPECT_FALSE(manager.IsWorkerRunning());
  EXPECT_EQ(CountMessages("Quillet.Download.Start"), 1);

  // The next refresh fetches only the new item: the stored one is known
  // from its record.
  Serve("/feeds/t.xml", Rss2("T", Url("/articles/"), "", {{"A", a, "<p>a</p>", ""}, {"B", b, "<p>b</p>", ""}}));
  ClearRunLog();
  ClearMessages();
  ASSERT_TRUE(RefreshAndWait(60000));
  std::vector<std::string> runs = ProgramRuns({a, b});
  std::vector<std::string> expectedRuns = {b, "exit 0x00000000"};
  EXPECT_EQ(runs, expectedRuns);
  records = Records(1);
  ASSERT_EQ(records.size(), 2u);
  for (const CItemRecord& r : records) {
    ASSERT_TRUE(DataFileExists(U(r.pageName))) << U(r.pageName);
    EXPECT_EQ(DataFile(U(r.pageName)), U(r.link) == a ? "<p>a</p><p>Continued.</p>" : "<p>b</p>") << U(r.link);
  }

  // A one-channel refresh of the synchronised channel with synchronisation
  // off marks it and fetches nothing.
  ClearMessages();
  dialog_->m_nSingleChannel = dialog_->m_view.FindItemById(2);
  ASSERT_TRUE(RefreshAndWait(60000));
  EXPECT_EQ(CountMessages("Quillet.Download.Refresh"), 0);
  EXPECT_EQ(RefreshState().queuedChannels.load(), 1);
  EXPECT_FALSE(DataFileExists("Ch002.bin"));
  EXPECT_EQ(dialog_->m_nSingleChannel.load(), -1);

  // An update task with a channel index past the list: the run still ends
  // through its end, and the manager closes the program. The manager that
  // the run before started has ended first, so that only this run's manager
  // can see the update task.
  ASSERT_TRUE(PumpUntil([&] { return !manager.IsWorkerRunning(); }));
  app_->m_bUpdateTask = TRUE;
  ClearMessages();
  dialog_->m_nSingleChannel = 7;
  SendMessageW(frame_->GetSafeHwnd(), WM_COMMAND, ID_REFRESH_CHANNELS, 0);
  EXPECT_TRUE(PumpUntil([] { return qk::QuitPosted(); }));
  EXPECT_EQ(CountMessages("Quillet.Download.Headlines.Finished"), 1);
  EXPECT_EQ(dialog_->m_nSingleChannel.load(), -1);
  qk::ClearQuit();
  app_->m_bUpdateTask = FALSE;
}

TEST_F(RunTest, AFeedAddressThatAnswersWithAPageGetsTheErrorItemAndKeepsItsOldFeed) {
  ServeRss(1);
  // A sign-in page where the feed was, once as HTML and once as XHTML (well
  // formed XML, but no feed); and a feed without items, which is no error.
  Serve("/login/c2.xml", "<!DOCTYPE html><html><head><meta charset=utf-8><title>Sign in</title></head><body>"
                         "<form action=/login><input type=password name=p><br></form></body></html>\n");
  Serve("/login/c3.xml", "<?xml version=\"1.0\"?>\n<html xmlns=\"http://www.w3.org/1999/xhtml\"><head><title>Sign in"
                         "</title></head><body><form action=\"/login\"><input type=\"password\" name=\"p\"/></form>"
                         "</body></html>\n");
  Serve("/feeds/c4.xml", Rss2("Empty", Url("/site4/"), "", {}));
  std::string oldFeed = Rss2("Old", "http://old.example/", "", {{"Old", "http://old.example/1", "o", ""}});
  WriteDeviceFile(DataPath("Ch002.xml"), oldFeed);
  {
    CItemStore store(0);
    store.Open(DataPath("Ch002.bin"), 0, 0);
    store.AddPendingItem(u"Old", u"http://old.example/1", u"", u"2026-12-01 10:00:00", 0, 0, u"o", u"Ch002-1-1.htm");
    ASSERT_TRUE(store.Commit());
  }
  LoadChannels({{1, "News", "Channel 1", Url("/feeds/c1.xml")},
                {2, "News", "Channel 2", Url("/login/c2.xml")},
                {3, "News", "Channel 3", Url("/login/c3.xml")},
                {4, "News", "Channel 4", Url("/feeds/c4.xml")}});
  ASSERT_TRUE(RefreshAndWait(60000));

  // Only the two feeds were stored and reported.
  EXPECT_EQ(CountMessages("Quillet.Download.Refresh"), 2);
  EXPECT_EQ(Records(1).size(), 3u);
  EXPECT_TRUE(DataFileExists("Ch004.xml"));
  EXPECT_EQ(Records(4).size(), 0u);
  EXPECT_EQ(SavedAttribute(Url("/feeds/c4.xml"), "itemCount"), "0");
  // Each page is a failed refresh of its channel: the error item, the old
  // items and the old feed kept, no counts reported.
  for (int n : {2, 3}) {
    std::vector<CItemRecord> records = Records(n);
    EXPECT_EQ(CountLink(records, "http://127.0.0.1/lasterror"), 1) << n;
    for (const CItemRecord& r : records) {
      if (U(r.link) == "http://127.0.0.1/lasterror") {
        EXPECT_EQ(r.type, DWORD(ITEM_TYPE_ERROR)) << n;
      }
    }
    EXPECT_EQ(SavedAttribute(Url(Name("/login/c%d.xml", n)), "itemCount"), "") << n;
  }
  EXPECT_EQ(CountLink(Records(2), "http://old.example/1"), 1);
  EXPECT_EQ(Records(2).size(), 2u);
  EXPECT_EQ(DataFile("Ch002.xml"), oldFeed);
  EXPECT_FALSE(DataFileExists("Ch003.xml"));

  // Once the address serves the feed again, the error item goes.
  Serve("/login/c2.xml", Rss2("Back", Url("/site2/"), "", {{"Back", Url("/site2/1"), "b", ""}}));
  ASSERT_TRUE(RefreshAndWait(60000));
  std::vector<CItemRecord> back = Records(2);
  EXPECT_EQ(CountLink(back, "http://127.0.0.1/lasterror"), 0);
  EXPECT_EQ(CountLink(back, Url("/site2/1")), 1);
  EXPECT_NE(DataFile("Ch002.xml"), oldFeed);
}

TEST_F(RunTest, SynchronisedChannelsWaitForSyncAndAStaleTemporaryFeedIsNeverTakenForTheirs) {
  std::string a = "http://sync.example/feed/a", b = "http://sync.example/feed/b";
  std::string subscriptions = "<object><list name=\"subscriptions\">" + Subscription(a, "Sync A", {}) +
                              Subscription(b, "Sync B", {}) + "</list></object>";
  std::vector<Item> items = {{"S1", "http://sync.example/a/1", "<p>s1</p>", "tag:google.com,2005:reader/item/0001"}};
  // The service serves feed a; feed b it does not know.
  std::string rules = "{\"rules\": [" + Rule("/accounts/ClientLogin", Ok("SID=sid\n"), ", \"times\": 0") + ", " +
                      Rule("/reader/api/0/subscription/list", Ok(subscriptions), ", \"times\": 0") + ", " +
                      Rule("/reader/atom/feed/" + a, Ok(Atom("A", "http://sync.example/", items)), ", \"times\": 0") +
                      "]}";
  const auto& certs = qnet::TestCertificates::Get();
  qnet::ScriptedServer sync;
  ASSERT_TRUE(sync.Start(rules, certs.serverCert, certs.serverKey));
  SetSyncAccount(sync.port(), u"secret");
  ServeRss(1);
  LoadChannels({{1, "News", "Channel 1", Url("/feeds/c1.xml")}, {2, "Google Reader", "Sync A", a},
                {3, "Google Reader", "Sync B", b}});
  // What a run that ended early left of feed b.
  std::string stale = Atom("Stale", "http://stale.example/", {{"Stale", "http://stale.example/1", "x", "stale-1"}});
  WriteDeviceFile(DataPath("Ch003~.xml"), stale);

  // Synchronisation off: the synchronised channels are not taken into the
  // run at all; the service hears nothing.
  SetVentrel(u"Sync", 0);
  ASSERT_TRUE(RefreshAndWait(60000));
  EXPECT_EQ(RefreshState().queuedChannels.load(), 1);
  EXPECT_EQ(Records(1).size(), 3u);
  EXPECT_TRUE(sync.Requests().empty());
  for (const std::string& url : {a, b}) EXPECT_EQ(SavedAttribute(url, "lastUpdateTime"), "") << url;
  EXPECT_FALSE(DataFileExists("Ch002.bin"));
  EXPECT_FALSE(DataFileExists("Ch003.bin"));

  // Synchronisation on: both are fetched through the service; b's stale
  // file is not parsed in place of the feed the service did not give.
  SetVentrel(u"Sync", 1);
  dialog_->EnsureAgency()->SetCaFile(CString(qk::FromUtf8(certs.caFile)));
  ASSERT_TRUE(RefreshAndWait(60000));
  EXPECT_EQ(RefreshState().queuedChannels.load(), 3);
  EXPECT_EQ(CountLink(Records(2), "http://sync.example/a/1"), 1);
  EXPECT_EQ(CountLink(Records(3), "http://stale.example/1"), 0);
  EXPECT_FALSE(DataFileExists("Ch003~.xml"));
  EXPECT_FALSE(DataFileExists("Ch003.xml"));
  int feedRequests = 0;
  for (const std::string& r : sync.Requests()) feedRequests += r.find("GET /reader/atom/feed/") == 0;
  EXPECT_GE(feedRequests, 2);
}

// The sync service refuses the login: the sync step ends there, the list
// is never asked for without a session, and the person sees why: as the
// error item of the synchronised channel, or in the run's error box while
// the list holds none. The other channels are refreshed all the same.
TEST_F(RunTest, ARefusedSyncLoginEndsTheSyncStepAndSaysSo) {
  const std::string a = "http://sync.example/feed/a", b = "http://sync.example/feed/b";
  std::string subscriptions = "<object><list name=\"subscriptions\">" + Subscription(b, "Sync B", {}) +
                              "</list></object>";
  std::string rules = "{\"rules\": [" + Rule("/accounts/ClientLogin", Ok("Error=BadAuthentication\n"), ", \"times\": 0") +
                      ", " + Rule("/reader/api/0/subscription/list", Ok(subscriptions), ", \"times\": 0") + "]}";
  const auto& certs = qnet::TestCertificates::Get();
  qnet::ScriptedServer sync;
  ASSERT_TRUE(sync.Start(rules, certs.serverCert, certs.serverKey));
  SetSyncAccount(sync.port(), u"wrong");
  SetVentrel(u"Sync", 1);
  EnableRunLog();
  ServeRss(1);
  LoadChannels({{1, "News", "Channel 1", Url("/feeds/c1.xml")}, {2, "Google Reader", "Sync A", a}});
  dialog_->EnsureAgency()->SetCaFile(CString(qk::FromUtf8(certs.caFile)));
  std::mutex lock;
  std::vector<std::u16string> boxes;
  qk::SetMessageBoxHook([&](HWND, const std::u16string& text, const std::u16string&, UINT) {
    std::lock_guard<std::mutex> hold(lock);
    boxes.push_back(text);
    return IDOK;
  });
  auto listRequests = [&] {
    int n = 0;
    for (const std::string& r : sync.Requests()) n += r.find("GET /reader/api/0/subscription/list") == 0;
    return n;
  };
  ASSERT_TRUE(RefreshAndWait(60000));
  EXPECT_EQ(listRequests(), 0);
  EXPECT_EQ(SavedAttribute(b, "text"), "<none>");
  int errors = 0;
  for (const CItemRecord& r : Records(2)) {
    if (r.type != DWORD(ITEM_TYPE_ERROR)) continue;
    ++errors;
    EXPECT_NE(U(r.content).find("Google Reader login failed"), std::string::npos) << U(r.content);
  }
  EXPECT_EQ(errors, 1);
  EXPECT_EQ(Records(1).size(), 3u);
  {
    std::lock_guard<std::mutex> hold(lock);
    EXPECT_TRUE(boxes.empty());
  }
  const std::string log = ReadDeviceFile(u"\\Program Files\\Quillet\\Quillet_RunLog.txt");
  EXPECT_NE(log.find("Google Reader login failed"), std::string::npos) << log;

  // Without a synchronised channel the run's error box says it, once.
  LoadChannels({{1, "News", "Channel 1", Url("/feeds/c1.xml")}});
  ASSERT_TRUE(RefreshAndWait(60000));
  qk::SetMessageBoxHook(nullptr);
  EXPECT_EQ(listRequests(), 0);
  EXPECT_EQ(SavedAttribute(b, "text"), "<none>");
  std::lock_guard<std::mutex> hold(lock);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0], u"Error occured while downloading - Google Reader login failed");
}

TEST_F(RunTest, AStopWhileTheFeedsImagesComeLeavesTheOldFeedInPlace) {
  // The item's image comes only when the test says; its download waits for
  // the stop rather than for a short time-out.
  SetUrlDownloadWaits(60000, 60000);
  std::string oldFeed = Rss2("Old", "http://old.example/", "", {{"Old", "http://old.example/1", "o", ""}});
  WriteDeviceFile(DataPath("Ch001.xml"), oldFeed);
  Serve("/feeds/c1.xml", Rss2("New", Url("/site1/"), "",
                              {{"New", Url("/site1/1"), "<p><img src=\"" + scripted_.Url("/gated/pic.png") + "\"></p>", ""}}));
  LoadChannels({{1, "News", "Channel 1", Url("/feeds/c1.xml")}});
  SendMessageW(frame_->GetSafeHwnd(), WM_COMMAND, ID_REFRESH_CHANNELS, 0);
  ASSERT_TRUE(PumpUntil([&] { return scripted_.WaitForRequest("/gated/pic.png", 0); }));
  SendMessageW(frame_->GetSafeHwnd(), WM_COMMAND, ID_REFRESH_CHANNELS, 0);
  ASSERT_TRUE(PumpUntil([&] { return CountMessages("Quillet.Download.Finished") == 1; }));
  // The feed came whole, but the refresh of the channel did not end: the
  // feed file it had stays, and no refresh of the channel is reported.
  EXPECT_EQ(DataFile("Ch001.xml"), oldFeed);
  EXPECT_EQ(CountMessages("Quillet.Download.Refresh"), 0);
  EXPECT_EQ(SavedAttribute(Url("/feeds/c1.xml"), "itemCount"), "");
}

TEST_F(RunTest, ARefreshWaitsForTheDataConnectionAndStopsWhenItIsLost) {
  // The slow feed is ended by the lost connection, never by a time-out.
  SetUrlDownloadWaits(60000, 60000);
  ServeRss(1);
  std::vector<Item> many;
  for (int i = 0; i < 60; ++i)
    many.push_back({"Long " + std::to_string(i), Url("/long/" + std::to_string(i)), std::string(1500, 'x'), ""});
  Serve("/slow/c2.xml", Rss2("Slow", Url("/long/"), "", many));
  ServeRss(3);
  LoadChannels({{1, "News", "Channel 1", Url("/feeds/c1.xml")},
                {2, "News", "Channel 2", Url("/slow/c2.xml")},
                {3, "News", "Channel 3", Url("/feeds/c3.xml")}});
  // No connection at once: the user is asked, a connection is opened, and
  // the refresh starts when it is established.
  qk::connmgr::ScriptStatus(CONNMGR_STATUS_NOPATHTODESTINATION);
  qk::connmgr::ScriptSyncResult(S_OK, CONNMGR_STATUS_CONNECTED);
  int asked = 0;
  qk::SetMessageBoxHook([&](HWND, const std::u16string&, const std::u16string&, UINT) {
    ++asked;
    return IDYES;
  });
  qk::ClearKeyEvents();
  SendMessageW(frame_->GetSafeHwnd(), WM_COMMAND, ID_REFRESH_CHANNELS, 0);
  EXPECT_EQ(asked, 1);
  ASSERT_TRUE(PumpUntil([&] { return CountMessages("Quillet.Download.Start") == 1; }));
  EXPECT_FALSE(frame_->ChannelListWnd().IsStartPending());
  EXPECT_TRUE(frame_->ChannelListWnd().IsRunActive());
  // The connection goes while the slow channel downloads: the refresh stops.
  ASSERT_TRUE(PumpUntil([&] { return !ListAttribute(Url("/slow/c2.xml"), "lastUpdateTime").empty(); }));
  qk::connmgr::ChangeStatus(CONNMGR_STATUS_DISCONNECTED);
  ASSERT_TRUE(PumpUntil([&] { return CountMessages("Quillet.Download.Finished") == 1; }));
  qk::SetMessageBoxHook(nullptr);
  theConnection.StopThread();
  qk::connmgr::ScriptStatus(CONNMGR_STATUS_CONNECTED);
  EXPECT_EQ(Records(1).size(), 3u);
  EXPECT_EQ(Records(2).size(), 0u);
  EXPECT_FALSE(DataFileExists("Ch003.bin"));
  EXPECT_FALSE(frame_->ChannelListWnd().IsRunActive());
  // Before the login and every channel the device was kept awake: a silent
  // key-up of key 0x7F with the hardware keyboard off.
  std::vector<qk::KeyEvent> keys = qk::KeyEvents();
  int awake = 0;
  for (const qk::KeyEvent& k : keys)
    if (k.vk == 0x7F && k.flags == (KEYEVENTF_KEYUP | KEYEVENTF_SILENT) && !k.keyboardEnabled) ++awake;
  EXPECT_GE(awake, 3);
}

}  // namespace
}  // namespace rtest
