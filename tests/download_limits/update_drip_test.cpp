// The real "Quillet.exe /update" over a channel list in which one address
// drips its feed a few bytes at a time for ever, fast enough for every wait
// on a read: the program's own five-minute bound on a whole transfer ends
// that download, the channel gets its error item and keeps what an earlier
// run stored, the next channel is stored, and the update task ends. This
// takes the bound's five minutes, so it is a program of its own with a
// longer time-out.
#include <gtest/gtest.h>

#include <chrono>

#include "update_task_fixture.h"

namespace {

using ltest::UpdateLimitsTest;

TEST_F(UpdateLimitsTest, ADrippingFeedEndsAtTheWholeBoundAndTheUpdateTaskGoesOnAndEnds) {
  endless_.SetFeed(ltest::RssFeed("one", 2));
  Serve("two.xml", ltest::RssFeed("two", 2));
  WriteChannelList({endless_.Url("/feed/one.xml"), nginx_.Url("/two.xml")});
  ASSERT_EQ(RunUpdateTask(120000), 0u);
  ASSERT_EQ(Records("Ch001.bin").size(), 2u);
  const std::string storedFeed = ReadDeviceFile(DataPath("Ch001.xml").c_str());
  ASSERT_FALSE(storedFeed.empty());

  endless_.SetFeedMode(ltest::EndlessServer::FeedMode::kDrip);
  Serve("two.xml", ltest::RssFeed("two", 3));
  const int ended = endless_.Ended();
  const auto start = std::chrono::steady_clock::now();
  // Far beyond the bound, so that a task that never ends fails here.
  ASSERT_EQ(RunUpdateTask(URL_DOWNLOAD_MAX_MS + 240000), 0u) << "the update task did not end";
  const auto seconds =
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start).count();
  // The drip was ended by the whole bound, not by a wait on a read.
  EXPECT_GE(seconds, long(URL_DOWNLOAD_MAX_MS / 1000) - 5);

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

}  // namespace
