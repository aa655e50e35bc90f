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

class PageImagesTest : public RefreshTest {
 protected:
  // Stores one unread page item of the channel whose page file
  // "ChNNN-1-1.htm" holds page and whose link is served at link, then runs
  // its full-text job to its end; the job's time in seconds.
  double RunPageJob(int channel, const std::string& page, const std::string& link) {
    char name[32];
    std::snprintf(name, sizeof name, "Ch%03d", channel);
    const std::string ch = name;
    WriteDeviceFile(DataPath(ch + "-1-1.htm"), page);
    {
      CItemStore store(0);
      store.Open(DataPath(ch + ".bin"), 0, 0);
      store.AddPendingItem(u"t", W(link), u"", u"2026-12-08 10:00:00", ITEM_READ_UNREAD, 0, u"<p>x</p>",
                           W(ch + "-1-1.htm"));
      EXPECT_TRUE(store.Commit());
    }
    CDownloadManager& manager = app_->DownloadManager();
    manager.AddJob(W(link), DataPath(ch + "-1-1.htm"), DataPath(ch + ".tpl"), 0, channel, IsDownloadStopped, nullptr);
    auto start = std::chrono::steady_clock::now();
    manager.Start();
    EXPECT_TRUE(PumpUntil([&] { return !manager.IsWorkerRunning(); }, 60000));
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }
};

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

  EXPECT_LT(RunPageJob(7, page, Url("/news/story.html")), 15.0);
  ASSERT_FALSE(HasFailure());

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

// A gallery of 20,000 touching images, a blank only after every second
// one: each value ends at its own closing quote, so every image is pointed
// at its local copy, and the first twelve, each once, are asked of the
// server (its log says which). A tag without a source leaves the prose
// after it alone, and a quoted '>' inside a tag does not end the tag.
TEST_F(PageImagesTest, TouchingImagesOfAGalleryAreEachLocalisedAndAskedForOnce) {
  std::string page =
      "<p>The gallery, with a picture without a source first.</p><img alt=\"none\"><p>Its src=prose.png stays.</p>"
      "<img alt=\"a > b\" src=\"g0.png\"><img src=g00.png>\n";
  std::string expected =
      "<p>The gallery, with a picture without a source first.</p><img alt=\"none\"><p>Its src=prose.png stays.</p>"
      "<img alt=\"a > b\" src=Ch009-1-1-01.png><img src=Ch009-1-1-02.png>\n";
  for (int n = 1; n <= 20000; ++n) {
    char local[32];
    std::snprintf(local, sizeof local, "Ch009-1-1-%02d.png", n + 2);
    const std::string gap = n % 2 == 0 ? " " : "";
    page += "<img src=\"g" + std::to_string(n) + ".png\">" + gap;
    expected += std::string("<img src=") + local + ">" + gap;
  }
  page += "\n<p>The end of the gallery.</p>\n";
  expected += "\n<p>The end of the gallery.</p>\n";
  Serve("/gallery/g0.png", Png(9, 9, 40));
  Serve("/gallery/g00.png", Png(9, 9, 41));
  for (int n = 1; n <= 12; ++n) Serve("/gallery/g" + std::to_string(n) + ".png", Png(8, 8, unsigned(n)));

  EXPECT_LT(RunPageJob(9, page, Url("/gallery/story.html")), 15.0);
  ASSERT_FALSE(HasFailure());

  std::string written = DataFile("Ch009-1-1.htm");
  EXPECT_EQ(written.substr(0, 400), expected.substr(0, 400));
  EXPECT_TRUE(written == expected);
  EXPECT_EQ(DataFile("Ch009-1-1-01.png"), Png(9, 9, 40));
  EXPECT_EQ(DataFile("Ch009-1-1-02.png"), Png(9, 9, 41));
  EXPECT_EQ(DataFile("Ch009-1-1-04.png"), Png(8, 8, 2));
  EXPECT_EQ(DataFile("Ch009-1-1-12.png"), Png(8, 8, 10));
  EXPECT_FALSE(DataFileExists("Ch009-1-1-13.png"));
  // The server was asked for exactly the first twelve images, once each.
  ASSERT_NE(nginx_.WaitForLogLine("/gallery/g10.png"), "");
  const std::string log = nginx_.AccessLog();
  auto asked = [&](const std::string& path) {
    int count = 0;
    for (size_t at = log.find(path + "\n"); at != std::string::npos; at = log.find(path + "\n", at + 1))
      count += log[at - 1] == ' ';
    return count;
  };
  EXPECT_EQ(asked("/gallery/g0.png"), 1) << log;
  EXPECT_EQ(asked("/gallery/g00.png"), 1) << log;
  for (int n = 1; n <= 10; ++n) EXPECT_EQ(asked("/gallery/g" + std::to_string(n) + ".png"), 1) << n << "\n" << log;
  EXPECT_EQ(asked("/gallery/g11.png"), 0) << log;
  EXPECT_EQ(log.find("prose.png"), std::string::npos) << log;
}

// Images as pages write them: a lazy-loading "data-src" before the source
// (the picture shown is the src one), and tags spread over several lines
// with unquoted values. Each src value is localised and fetched; the other
// attributes and what follows each value on its next line stay as written.
TEST_F(PageImagesTest, TheSourceIsItsOwnAttributeAndAnUnquotedOneEndsWithItsLine) {
  const std::string page =
      "<p>Lazy:</p><img data-src=\"lazy/big.png\" class=lazy src=\"shown.png\">\n"
      "<img\n  src=first.png\n  alt=first><img\r\n src=second.png\r\n alt=second>\n";
  const std::string expected =
      "<p>Lazy:</p><img data-src=\"lazy/big.png\" class=lazy src=Ch008-1-1-01.png>\n"
      "<img\n  src=Ch008-1-1-02.png\n  alt=first><img\r\n src=Ch008-1-1-03.png\r\n alt=second>\n";
  Serve("/lazy/shown.png", Png(10, 10, 1));
  Serve("/lazy/first.png", Png(11, 10, 2));
  Serve("/lazy/second.png", Png(12, 10, 3));
  RunPageJob(8, page, Url("/lazy/story.html"));
  ASSERT_FALSE(HasFailure());
  EXPECT_EQ(DataFile("Ch008-1-1.htm"), expected);
  EXPECT_EQ(DataFile("Ch008-1-1-01.png"), Png(10, 10, 1));
  EXPECT_EQ(DataFile("Ch008-1-1-02.png"), Png(11, 10, 2));
  EXPECT_EQ(DataFile("Ch008-1-1-03.png"), Png(12, 10, 3));
  const std::string log = nginx_.AccessLog();
  EXPECT_EQ(log.find("big.png"), std::string::npos) << log;
}

}  // namespace
}  // namespace rtest
