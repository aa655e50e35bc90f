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
  std::string storedFeed;
  FirstRunStoresTheFeeds(&storedFeed);
  if (HasFatalFailure()) return;

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
  ExpectTheFirstFailedAndTheNextStored(storedFeed, ended);
}

}  // namespace
