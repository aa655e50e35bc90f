// The images of a full-text page: each reference the job finds is pointed
// at its local copy where it stands, and nowhere else. The page is left in
// place before the job runs (the fetch program, given no script file,
// writes nothing over it), so the job works on exactly the text written.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "quillet/refresh/download_manager.h"
#include "quillet/refresh/refresh_state.h"
#include "refresh_fixture.h"

namespace rtest {
namespace {

using PageImagesTest = RefreshTest;

// A short src value is also a letter of the prose or the end of a longer
// file name: only the attribute where it was found is rewritten, and each
// image, also one named like an earlier one, gets its own local copy. Then
// 20,000 more images: all rewritten in one pass, only twelve in all
// fetched. (The rewriting takes milliseconds; the time bound only catches
// work that grows with images times page length, which took minutes.)
TEST_F(PageImagesTest, EachReferenceIsRewrittenWhereItStandsInOnePass) {
  std::string page =
      "<p>Here every e stays an e: the release, the tree, the eel.</p>\n"
      "<img src=e alt=one>\n"
      "<p>Compare 1.png with a1.png and \"1.png\" here.</p>\n"
      "<img src=1.png alt=two><img src=a1.png alt=three>\n"
      "<IMG SRC=\"e\" alt=four><img src=\"\" alt=none><img\tsrc='1.png'>\n";
  std::string expected =
      "<p>Here every e stays an e: the release, the tree, the eel.</p>\n"
      "<img src=Ch007-1-1-01.img alt=one>\n"
      "<p>Compare 1.png with a1.png and \"1.png\" here.</p>\n"
      "<img src=Ch007-1-1-02.png alt=two><img src=Ch007-1-1-03.png alt=three>\n"
      "<IMG SRC=Ch007-1-1-04.img alt=four><img src=\"\" alt=none><img\tsrc=Ch007-1-1-05.png>\n";
  const size_t tricky = expected.size();
  for (int n = 6; n < 20006; ++n) {
    std::string text = "<p>Photo " + std::to_string(n) + " of the gallery, shown below.</p>";
    char local[32];
    std::snprintf(local, sizeof local, "Ch007-1-1-%02d.jpg", n);
    page += text + "<img src=\"/img/photo-" + std::to_string(n) + ".jpg\" alt=\"\">\n";
    expected += text + "<img src=" + local + " alt=\"\">\n";
  }
  Serve("/news/e", Png(12, 12, 1));
  Serve("/news/1.png", Png(13, 12, 2));
  Serve("/news/a1.png", Png(14, 12, 3));
  for (int n = 6; n <= 13; ++n) Serve("/img/photo-" + std::to_string(n) + ".jpg", Png(8, 8, unsigned(n)));

  WriteDeviceFile(DataPath("Ch007-1-1.htm"), page);
  std::string link = Url("/news/story.html");
  {
    CItemStore store(0);
    store.Open(DataPath("Ch007.bin"), 0, 0);
    store.AddPendingItem(u"t", W(link), u"", u"2026-12-08 10:00:00", ITEM_READ_UNREAD, 0, u"<p>x</p>",
                         u"Ch007-1-1.htm");
    ASSERT_TRUE(store.Commit());
  }
  CDownloadManager& manager = app_->DownloadManager();
  manager.AddJob(W(link), DataPath("Ch007-1-1.htm"), DataPath("Ch007.tpl"), 0, 7, IsDownloadStopped, nullptr);
  auto start = std::chrono::steady_clock::now();
  manager.Start();
  ASSERT_TRUE(PumpUntil([&] { return !manager.IsWorkerRunning(); }, 60000));
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(15));

  std::string written = DataFile("Ch007-1-1.htm");
  EXPECT_EQ(written.substr(0, tricky), expected.substr(0, tricky));
  EXPECT_TRUE(written == expected);
  // Each local copy holds the image its own reference named.
  EXPECT_EQ(DataFile("Ch007-1-1-01.img"), Png(12, 12, 1));
  EXPECT_EQ(DataFile("Ch007-1-1-02.png"), Png(13, 12, 2));
  EXPECT_EQ(DataFile("Ch007-1-1-03.png"), Png(14, 12, 3));
  EXPECT_EQ(DataFile("Ch007-1-1-04.img"), Png(12, 12, 1));
  EXPECT_EQ(DataFile("Ch007-1-1-05.png"), Png(13, 12, 2));
  EXPECT_EQ(DataFile("Ch007-1-1-12.jpg"), Png(8, 8, 12));
  EXPECT_FALSE(DataFileExists("Ch007-1-1-13.jpg"));
  std::vector<CItemRecord> records = Records(7);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].type, ITEM_TYPE_PAGE);
  EXPECT_EQ(records[0].readFlag, DWORD(ITEM_READ_UNREAD_FETCHED));
}

}  // namespace
}  // namespace rtest
