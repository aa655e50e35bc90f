// The images of a full-text page: each reference the job finds is pointed
// at its local copy where it stands, and nowhere else. The page is left in
// place before the job runs (the fetch program, given no script file,
// writes nothing over it), so the job works on exactly the text written.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

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
      "<IMG SRC=\"Ch007-1-1-04.img\" alt=four><img src=\"\" alt=none><img\tsrc='Ch007-1-1-05.png'>\n";
  const size_t tricky = expected.size();
  for (int n = 6; n < 20006; ++n) {
    std::string text = "<p>Photo " + std::to_string(n) + " of the gallery, shown below.</p>";
    char local[32];
    std::snprintf(local, sizeof local, "Ch007-1-1-%02d.jpg", n);
    page += text + "<img src=\"/img/photo-" + std::to_string(n) + ".jpg\" alt=\"\">\n";
    expected += text + "<img src=\"" + local + "\" alt=\"\">\n";
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
      "<img alt=\"a > b\" src=\"Ch009-1-1-01.png\"><img src=Ch009-1-1-02.png>\n";
  for (int n = 1; n <= 20000; ++n) {
    char local[32];
    std::snprintf(local, sizeof local, "Ch009-1-1-%02d.png", n + 2);
    const std::string gap = n % 2 == 0 ? " " : "";
    page += "<img src=\"g" + std::to_string(n) + ".png\">" + gap;
    expected += std::string("<img src=\"") + local + "\">" + gap;
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
      "<p>Lazy:</p><img data-src=\"lazy/big.png\" class=lazy src=\"Ch008-1-1-01.png\">\n"
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

// Markup as pages write it, read as an HTML parser reads tags: a quoted
// "src=" inside another attribute's value, blanks around "=", a character
// reference in the address, a form feed after an unquoted value, sources
// that are not web addresses, names that only look like a source or an
// image tag, and pictures inside a comment, a script and a textarea. Only
// the real sources are fetched and rewritten (in their own quotes); the
// stored page equals the page outside those values, byte for byte, so no
// paragraph after a picture is lost.
TEST_F(PageImagesTest, OnlyTheSourcesAnHtmlParserSeesAreFetchedAndTheRestStaysAsWritten) {
  const std::string host = "127.0.0.1:" + std::to_string(nginx_.port());
  const std::string inlinePng = "data:image/png;base64,iVBORw0KGgoAAAANSUhEUgAAAAEAAAABCAYAAAAfFcSJAAAADUlEQVR42mNk";
  auto page = [&](const std::vector<std::string>& v) {
    return "<p>Before.</p><img alt = 'src=x.png' src=" + v[0] + "><p>After one.</p>\n"
           "<p>Two.</p><img src=" + v[1] + " alt=inline><p>After two.</p>\n"
           "<img src=" + v[2] + "><img src = " + v[3] + " alt=spaced>\n"
           "<p>Mail x@src=prose.png and <imgur src=imgur.png> stay; so does src=\"text.png\".</p>\n"
           "<img src=" + v[4] + "\fwidth=3><img src=" + v[5] + "><img src=" + v[6] + ">\n"
           "<!-- <img src=\"comment.png\"> --><script>var s = '<img src=\"script.png\">';</script>"
           "<textarea><img src=\"area.png\"></textarea><p>The end.</p>\n";
  };
  const std::string input = page({"\"real.png\"", "\"" + inlinePng + "\"", "\"pic.png?w=1&amp;h=2\"",
                                  "\"spaced.png\"", "ff.png", "'HTTP://" + host + "/abs/abs.png'",
                                  "\"mailto:x@example.org\""});
  const std::string expected = page({"\"Ch010-1-1-01.png\"", "\"" + inlinePng + "\"", "\"Ch010-1-1-02.png\"",
                                     "\"Ch010-1-1-03.png\"", "Ch010-1-1-04.png", "'Ch010-1-1-05.png'",
                                     "\"mailto:x@example.org\""});
  Serve("/art/real.png", Png(10, 10, 1));
  Serve("/art/pic.png", Png(11, 10, 2));
  Serve("/art/spaced.png", Png(12, 10, 3));
  Serve("/art/ff.png", Png(13, 10, 4));
  Serve("/abs/abs.png", Png(14, 10, 5));
  for (const char* decoy : {"x.png", "prose.png", "imgur.png", "text.png", "comment.png", "script.png", "area.png"})
    Serve(std::string("/art/") + decoy, Png(9, 9, 9));

  RunPageJob(10, input, Url("/art/story.html"));
  ASSERT_FALSE(HasFailure());
  EXPECT_EQ(DataFile("Ch010-1-1.htm"), expected);
  EXPECT_EQ(DataFile("Ch010-1-1-01.png"), Png(10, 10, 1));
  EXPECT_EQ(DataFile("Ch010-1-1-02.png"), Png(11, 10, 2));
  EXPECT_EQ(DataFile("Ch010-1-1-03.png"), Png(12, 10, 3));
  EXPECT_EQ(DataFile("Ch010-1-1-04.png"), Png(13, 10, 4));
  EXPECT_EQ(DataFile("Ch010-1-1-05.png"), Png(14, 10, 5));
  EXPECT_FALSE(DataFileExists("Ch010-1-1-06.png"));
  EXPECT_FALSE(DataFileExists("Ch010-1-1-06.img"));

  // The server was asked for the five pictures, the reference decoded, and
  // for nothing else the page holds.
  ASSERT_NE(nginx_.WaitForLogLine("/abs/abs.png"), "");
  for (const std::string path : {"/art/real.png", "/art/pic.png?w=1&h=2", "/art/spaced.png", "/art/ff.png"}) {
    const std::string line = nginx_.WaitForLogLine(" " + path);
    EXPECT_EQ(line.substr(line.rfind(' ') + 1), path) << line;
  }
  const std::string log = nginx_.AccessLog();
  for (const char* never : {"x.png", "prose.png", "imgur.png", "text.png", "comment.png", "script.png", "area.png",
                            "data:", "&amp;", "mailto", "width"})
    EXPECT_EQ(log.find(never), std::string::npos) << never << "\n" << log;
}

}  // namespace
}  // namespace rtest
