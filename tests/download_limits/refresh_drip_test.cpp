// A refresh over a channel list in which one address drips its feed a few
// bytes at a time for ever: with the whole-transfer bound made short, that
// channel fails with its error item and keeps what it stored, nothing of
// the drip is left, and the run goes on with the next channel.
#include <gtest/gtest.h>

#include "common/url_download.h"
#include "endless_server.h"
#include "refresh/refresh_fixture.h"
#include "support/settings_registry.h"

namespace {

class RefreshDripTest : public rtest::RefreshTest {
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

TEST_F(RefreshDripTest, ADrippingFeedFailsItsChannelAtTheWholeBoundAndTheRunGoesOn) {
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

}  // namespace
