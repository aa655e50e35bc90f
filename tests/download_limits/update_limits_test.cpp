// The real "Quillet.exe /update" over a channel list in which one address
// sends its feed without end: the run ends, that channel gets its error
// item and keeps what an earlier run stored, nothing of the endless body is
// left, and the next channel of the list is stored as ever.
#include <gtest/gtest.h>

#include "update_task_fixture.h"

namespace {

using ltest::UpdateLimitsTest;

TEST_F(UpdateLimitsTest, AnEndlessFeedFailsItsChannelAndTheRunGoesOnWithTheNext) {
  endless_.SetFeed(ltest::RssFeed("one", 2));
  Serve("two.xml", ltest::RssFeed("two", 2));
  WriteChannelList({endless_.Url("/feed/one.xml"), nginx_.Url("/two.xml")});
  ASSERT_EQ(RunUpdateTask(120000), 0u);
  ASSERT_EQ(Records("Ch001.bin").size(), 2u);
  ASSERT_EQ(Records("Ch002.bin").size(), 2u);
  const std::string storedFeed = ReadDeviceFile(DataPath("Ch001.xml").c_str());
  ASSERT_FALSE(storedFeed.empty());

  // The first address now sends without end; the second has a new item.
  endless_.SetFeedMode(ltest::EndlessServer::FeedMode::kEndless);
  Serve("two.xml", ltest::RssFeed("two", 3));
  const int ended = endless_.Ended();
  ASSERT_EQ(RunUpdateTask(120000), 0u);

  // The failed channel: its error item beside the items it had, its stored
  // feed as it was, nothing of the endless body.
  std::vector<CItemRecord> one = Records("Ch001.bin");
  EXPECT_EQ(one.size(), 3u);
  EXPECT_EQ(CountLink(one, u"http://127.0.0.1/one/1.html"), 1);
  EXPECT_EQ(CountLink(one, u"http://127.0.0.1/one/2.html"), 1);
  ASSERT_EQ(CountLink(one, ERROR_ITEM_LINK), 1);
  for (const CItemRecord& r : one) {
    if (r.link == CString(ERROR_ITEM_LINK)) {
      EXPECT_EQ(r.type, DWORD(ITEM_TYPE_ERROR));
    }
  }
  EXPECT_EQ(ReadDeviceFile(DataPath("Ch001.xml").c_str()), storedFeed);
  EXPECT_FALSE(DeviceFileExists(DataPath("Ch001~.xml").c_str()));
  // The next channel was stored as ever.
  std::vector<CItemRecord> two = Records("Ch002.bin");
  EXPECT_EQ(two.size(), 3u);
  EXPECT_EQ(CountLink(two, u"http://127.0.0.1/two/3.html"), 1);
  EXPECT_EQ(CountLink(two, ERROR_ITEM_LINK), 0);
  // The program let go of the endless answer.
  EXPECT_TRUE(endless_.WaitForEnded(ended + 1, 30000));
  EXPECT_GE(endless_.BodyBytesSent(), uint64_t(URL_DOWNLOAD_MAX_BYTES));
}

}  // namespace
