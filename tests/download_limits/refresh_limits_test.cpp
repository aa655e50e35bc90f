// Refreshes in this process against answers without end: an address that
// drips its feed a few bytes at a time for ever (with the whole-transfer
// bound made short) fails its channel with the error item, keeps what it
// stored and leaves nothing of the drip, and the run goes on with the next
// channel; pictures without end, or just past their bound, leave no file.
#include <gtest/gtest.h>

#include <filesystem>

#include "common/url_download.h"
#include "endless_server.h"
#include "refresh/refresh_fixture.h"
#include "support/settings_registry.h"

namespace {

class RefreshLimitsTest : public rtest::RefreshTest {
 protected:
  void SetUp() override {
    rtest::RefreshTest::SetUp();
    ASSERT_TRUE(qtest::SetSettingDword(u"DownloadImage", 0));
    ASSERT_TRUE(qtest::SetSettingDword(u"DownloadFulltext", 0));
    ASSERT_TRUE(endless_.Start());
  }
  void TearDown() override {
    // The server lets go of a transfer that still drips before the
    // refresh's worker is waited for.
    endless_.Stop();
    rtest::RefreshTest::TearDown();
  }
  static int CountLink(const std::vector<CItemRecord>& records, const char16_t* link) {
    int n = 0;
    for (const CItemRecord& r : records) n += r.link == CString(link);
    return n;
  }

  ltest::EndlessServer endless_;
};

TEST_F(RefreshLimitsTest, ADrippingFeedFailsItsChannelAtTheWholeBoundAndTheRunGoesOn) {
  endless_.SetFeed(ltest::RssFeed("one", 2));
  Serve("/two.xml", ltest::RssFeed("two", 2));
  LoadChannels({{1, "News", "One", endless_.Url("/feed/one.xml")}, {2, "News", "Two", Url("/two.xml")}});
  ASSERT_TRUE(RefreshAndWait());
  ASSERT_EQ(Records(1).size(), 2u);
  ASSERT_EQ(Records(2).size(), 2u);
  const std::string storedFeed = DataFile("Ch001.xml");
  ASSERT_FALSE(storedFeed.empty());

  // Each read is answered within its own wait and the drip stays above the
  // pace floor: only the whole bound ends the transfer.
  SetUrlDownloadWaits(10000, 5000, 2000);
  endless_.SetFeedMode(ltest::EndlessServer::FeedMode::kDrip);
  Serve("/two.xml", ltest::RssFeed("two", 3));
  const int ended = endless_.Ended();
  ASSERT_TRUE(RefreshAndWait(60000));

  std::vector<CItemRecord> one = Records(1);
  EXPECT_EQ(one.size(), 3u);
  EXPECT_EQ(CountLink(one, u"http://127.0.0.1/one/1.html"), 1);
  EXPECT_EQ(CountLink(one, u"http://127.0.0.1/one/2.html"), 1);
  ASSERT_EQ(CountLink(one, ERROR_ITEM_LINK), 1);
  for (const CItemRecord& r : one)
    if (r.link == CString(ERROR_ITEM_LINK)) {
      EXPECT_EQ(r.type, DWORD(ITEM_TYPE_ERROR));
      EXPECT_NE(U(r.content).find("timed out"), std::string::npos) << U(r.content);
    }
  EXPECT_EQ(DataFile("Ch001.xml"), storedFeed);
  EXPECT_FALSE(DataFileExists("Ch001~.xml"));
  std::vector<CItemRecord> two = Records(2);
  EXPECT_EQ(two.size(), 3u);
  EXPECT_EQ(CountLink(two, u"http://127.0.0.1/two/3.html"), 1);
  EXPECT_TRUE(endless_.WaitForEnded(ended + 1, 30000));
}

TEST_F(RefreshLimitsTest, PicturesPastTheirBoundLeaveNoFileAndTheirItemsAreStored) {
  ASSERT_TRUE(qtest::SetSettingDword(u"DownloadImage", 1));
  const std::string atBound = endless_.Url("/sized/" + std::to_string(URL_DOWNLOAD_MAX_PICTURE_BYTES) + ".png");
  const std::string overBound = endless_.Url("/sized/" + std::to_string(URL_DOWNLOAD_MAX_PICTURE_BYTES + 1) + ".png");
  auto item = [](int n, const std::string& picture) {
    return "<item><title>Story " + std::to_string(n) + "</title><link>http://127.0.0.1/pics/" + std::to_string(n) +
           ".html</link><description>&lt;p&gt;Text&lt;img src=\"" + picture + "\"&gt;&lt;/p&gt;</description></item>\n";
  };
  Serve("/pics.xml", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<rss version=\"2.0\"><channel><title>Pictures"
                     "</title><link>http://127.0.0.1/</link><description>d</description><image><url>" +
                         overBound + "</url></image>\n" + item(1, endless_.Url("/endless/pic.png")) +
                         item(2, overBound) + item(3, atBound) + "</channel></rss>\n");
  LoadChannels({{1, "News", "Pictures", Url("/pics.xml")}});
  ASSERT_TRUE(RefreshAndWait());

  std::vector<CItemRecord> items = Records(1);
  EXPECT_EQ(items.size(), 3u);
  EXPECT_EQ(CountLink(items, ERROR_ITEM_LINK), 0);
  // Of the pictures only the one at the bound was kept; the logo, past it,
  // was not.
  int atBoundFiles = 0;
  for (const auto& entry : std::filesystem::directory_iterator(Host(DataPath("").GetString()))) {
    const auto size = entry.file_size();
    EXPECT_LE(size, uintmax_t(URL_DOWNLOAD_MAX_PICTURE_BYTES)) << entry.path();
    atBoundFiles += size == URL_DOWNLOAD_MAX_PICTURE_BYTES;
  }
  EXPECT_EQ(atBoundFiles, 1);
  EXPECT_FALSE(DataFileExists("Ch001-Logo.img"));
}

}  // namespace
