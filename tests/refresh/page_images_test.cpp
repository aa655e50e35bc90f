// The images of a full-text page: each reference the job finds is pointed
// at its local copy where it stands, and nowhere else. The page is left
// in place before the job runs (the fetch program, given no script file,
// writes nothing over it), so the job works on exactly the text the test
// wrote.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "common/url_download.h"
#include "quillet/refresh/download_manager.h"
#include "quillet/refresh/refresh_state.h"
#include "refresh_fixture.h"

namespace rtest {
namespace {

class PageImagesTest : public RefreshTest {
 protected:
  // Runs one full-text job for the page "Ch007-1-1.htm" of an item whose
  // link is the served "/news/story.html", and waits for it.
  void RunJob(const std::string& page) {
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
    manager.Start();
    ASSERT_TRUE(PumpUntil([&] { return !manager.IsWorkerRunning(); }, 60000));
  }
};

// A short src value is also a letter of the prose, or the end of a longer
// file name; only the attribute where it was found is rewritten, and each
// image, also one named like an earlier one, gets its own local copy.
TEST_F(PageImagesTest, OnlyTheReferenceWhereItWasFoundIsRewritten) {
  Serve("/news/e", Png(12, 12, 1));
  Serve("/news/1.png", Png(13, 12, 2));
  Serve("/news/a1.png", Png(14, 12, 3));
  RunJob(
      "<p>Here every e stays an e: the release, the tree, the eel.</p>\n"
      "<img src=e alt=one>\n"
      "<p>Compare 1.png with a1.png and \"1.png\" here.</p>\n"
      "<img src=1.png alt=two><img src=a1.png alt=three>\n"
      "<IMG SRC=\"e\" alt=four><img src=\"\" alt=none><img\tsrc='1.png'>\n"
      "<p>The end.</p>\n");
  EXPECT_EQ(DataFile("Ch007-1-1.htm"),
            "<p>Here every e stays an e: the release, the tree, the eel.</p>\n"
            "<img src=Ch007-1-1-01.img alt=one>\n"
            "<p>Compare 1.png with a1.png and \"1.png\" here.</p>\n"
            "<img src=Ch007-1-1-02.png alt=two><img src=Ch007-1-1-03.png alt=three>\n"
            "<IMG SRC=Ch007-1-1-04.img alt=four><img src=\"\" alt=none><img\tsrc=Ch007-1-1-05.png>\n"
            "<p>The end.</p>\n");
  // Each local copy holds the image its own reference named.
  EXPECT_EQ(DataFile("Ch007-1-1-01.img"), Png(12, 12, 1));
  EXPECT_EQ(DataFile("Ch007-1-1-02.png"), Png(13, 12, 2));
  EXPECT_EQ(DataFile("Ch007-1-1-03.png"), Png(14, 12, 3));
  EXPECT_EQ(DataFile("Ch007-1-1-04.img"), Png(12, 12, 1));
  EXPECT_EQ(DataFile("Ch007-1-1-05.png"), Png(13, 12, 2));
  std::vector<CItemRecord> records = Records(7);
  ASSERT_EQ(records.size(), 1u);
  EXPECT_EQ(records[0].type, ITEM_TYPE_PAGE);
  EXPECT_EQ(records[0].readFlag, DWORD(ITEM_READ_UNREAD_FETCHED));
}

// A page with 20,000 images: every reference gets its local name in one
// pass over the page, and only the first twelve images are fetched. (The
// rewriting itself takes milliseconds; the bound below only catches work
// that grows with images times page length, which took tens of seconds.)
TEST_F(PageImagesTest, TwentyThousandImagesAreRewrittenInOnePass) {
  const int kImages = 20000;
  std::string page = "<html><body>\n", expected = page;
  for (int i = 1; i <= kImages; ++i) {
    std::string text = "<p>Photo " + std::to_string(i) + " of the gallery, shown below.</p>";
    page += text + "<img src=\"/img/photo-" + std::to_string(i) + ".jpg\" alt=\"\">\n";
    char local[32];
    std::snprintf(local, sizeof local, "Ch007-1-1-%02d.jpg", i);
    expected += text + "<img src=" + local + " alt=\"\">\n";
  }
  page += "</body></html>\n";
  expected += "</body></html>\n";
  for (int i = 1; i <= 13; ++i) Serve("/img/photo-" + std::to_string(i) + ".jpg", Png(8, 8, unsigned(i)));
  auto start = std::chrono::steady_clock::now();
  RunJob(page);
  auto took = std::chrono::steady_clock::now() - start;
  std::string written = DataFile("Ch007-1-1.htm");
  EXPECT_EQ(written.size(), expected.size());
  EXPECT_TRUE(written == expected);
  EXPECT_EQ(DataFile("Ch007-1-1-12.jpg"), Png(8, 8, 12));
  EXPECT_FALSE(DataFileExists("Ch007-1-1-13.jpg"));
  EXPECT_EQ(nginx_.AccessLog().find("/img/photo-13.jpg"), std::string::npos);
  EXPECT_LT(took, std::chrono::seconds(15));
}

}  // namespace
}  // namespace rtest
