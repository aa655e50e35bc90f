// The real "Quillet.exe /update" over a channel list written by the test,
// with a loopback server whose answers need not end beside the test's nginx.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/url_download.h"
#include "endless_server.h"
#include "kernel/kernel.h"
#include "quillet/feeds/item_store.h"
#include "support/reader_fixture.h"
#include "support/settings_registry.h"

namespace ltest {

class UpdateLimitsTest : public qtest::ReaderProgramTest {
 protected:
  UpdateLimitsTest() : ReaderProgramTest("quillet-update-limits") {}
  void SetUp() override {
    ReaderProgramTest::SetUp();
    qtest::SetSettingDword(u"DownloadImage", 0);
    qtest::SetSettingDword(u"DownloadFulltext", 0);
    ASSERT_TRUE(endless_.Start());
  }
  void TearDown() override {
    endless_.Stop();
    ReaderProgramTest::TearDown();
  }

  void WriteChannelList(const std::vector<std::string>& urls) {
    std::string s = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<opml version=\"1.0\"><head><title>Channels"
                    "</title></head><body nextID=\"" + std::to_string(urls.size() + 1) + "\"><outline text=\"News\">";
    for (size_t i = 0; i < urls.size(); ++i)
      s += "<outline type=\"rss\" text=\"Channel " + std::to_string(i + 1) + "\" uniqueID=\"" + std::to_string(i + 1) +
           "\" xmlUrl=\"" + urls[i] + "\"/>";
    s += "</outline></body></opml>\n";
    WriteDeviceFile(u"\\Program Files\\Quillet\\ChannelData\\Channels.opml", s);
  }

  static std::u16string DataPath(const char* name) {
    return u"\\Program Files\\Quillet\\ChannelData\\" + qk::FromUtf8(name);
  }
  std::vector<CItemRecord> Records(const char* store) {
    CItemStore items(0);
    items.Open(DataPath(store).c_str(), 0, 1);
    std::vector<CItemRecord> out;
    for (int n = 0; items.ReadRecord(n); ++n) out.push_back(items.Current());
    return out;
  }
  static int CountLink(const std::vector<CItemRecord>& records, const char16_t* link) {
    int n = 0;
    for (const CItemRecord& r : records) n += r.link == CString(link);
    return n;
  }

  // A first run over two channels, the endless server's feed "one" and
  // nginx's "two" (two items each): the first channel stores its two items;
  // *storedFeed gets the feed file it keeps.
  void FirstRunStoresTheFeeds(std::string* storedFeed) {
    endless_.SetFeed(RssFeed("one", 2));
    Serve("two.xml", RssFeed("two", 2));
    WriteChannelList({endless_.Url("/feed/one.xml"), nginx_.Url("/two.xml")});
    ASSERT_EQ(RunUpdateTask(120000), 0u);
    ASSERT_EQ(Records("Ch001.bin").size(), 2u);
    *storedFeed = ReadDeviceFile(DataPath("Ch001.xml").c_str());
    ASSERT_FALSE(storedFeed->empty());
  }
  // After a run in which the first channel's download failed and "two" had
  // a third item: the first channel has its error item beside the items it
  // had and its stored feed as it was, nothing of the failed body; the next
  // channel was stored as ever; the server saw the answer let go (ended
  // counts the answers ended before the run).
  void ExpectTheFirstFailedAndTheNextStored(const std::string& storedFeed, int ended) {
    std::vector<CItemRecord> one = Records("Ch001.bin");
    EXPECT_EQ(one.size(), 3u);
    EXPECT_EQ(CountLink(one, u"http://127.0.0.1/one/1.html"), 1);
    EXPECT_EQ(CountLink(one, u"http://127.0.0.1/one/2.html"), 1);
    ASSERT_EQ(CountLink(one, ERROR_ITEM_LINK), 1);
    EXPECT_EQ(ReadDeviceFile(DataPath("Ch001.xml").c_str()), storedFeed);
    EXPECT_FALSE(DeviceFileExists(DataPath("Ch001~.xml").c_str()));
    std::vector<CItemRecord> two = Records("Ch002.bin");
    EXPECT_EQ(two.size(), 3u);
    EXPECT_EQ(CountLink(two, u"http://127.0.0.1/two/3.html"), 1);
    EXPECT_EQ(CountLink(two, ERROR_ITEM_LINK), 0);
    EXPECT_TRUE(endless_.WaitForEnded(ended + 1, 30000));
  }

  ltest::EndlessServer endless_;
};

}  // namespace ltest
