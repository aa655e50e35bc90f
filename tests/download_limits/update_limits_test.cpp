// The real "Quillet.exe /update" over a channel list in which one address
// sends its feed without end: the run ends, that channel gets its error
// item and keeps what an earlier run stored, nothing of the endless body is
// left, and the next channel of the list is stored as ever.
#include <gtest/gtest.h>

#include "update_task_fixture.h"

namespace {

using ltest::UpdateLimitsTest;

TEST_F(UpdateLimitsTest, AnEndlessFeedFailsItsChannelAndTheRunGoesOnWithTheNext) {
  std::string storedFeed;
  FirstRunStoresTheFeeds(&storedFeed);
  if (HasFatalFailure()) return;
  ASSERT_EQ(Records("Ch002.bin").size(), 2u);

  // The first address now sends without end; the second has a new item.
  endless_.SetFeedMode(ltest::EndlessServer::FeedMode::kEndless);
  Serve("two.xml", ltest::RssFeed("two", 3));
  const int ended = endless_.Ended();
  ASSERT_EQ(RunUpdateTask(120000), 0u);

  ExpectTheFirstFailedAndTheNextStored(storedFeed, ended);
  if (HasFatalFailure()) return;
  // The error item is of the error type.
  for (const CItemRecord& r : Records("Ch001.bin")) {
    if (r.link == CString(ERROR_ITEM_LINK)) {
      EXPECT_EQ(r.type, DWORD(ITEM_TYPE_ERROR));
    }
  }
  EXPECT_GE(endless_.BodyBytesSent(), uint64_t(URL_DOWNLOAD_MAX_BYTES));
}

}  // namespace
