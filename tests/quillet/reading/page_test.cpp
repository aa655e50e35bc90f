// The article page builder on its own: which pictures of a content are
// loaded and how they are renamed, what a hostile content loses, and the
// page around the content (marks, title, link, date).
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "kernel/kernel.h"
#include "quillet/feeds/item_store.h"
#include "quillet/reading/article_page.h"

namespace {

// Loads every file whose name it was told exists, and records each request.
class CFakeLoader : public CArticleImageLoader {
 public:
  std::set<std::u16string> files;
  std::vector<std::u16string> asked;
  BOOL LoadContentImage(const CString& path, const CString& name) override {
    asked.push_back(path.str() + u" as " + name.str());
    return files.count(path.str()) ? TRUE : FALSE;
  }
};

std::string U8(const CString& s) { return qk::ToUtf8(s.str()); }

ArticlePageOptions Options(BOOL remote = FALSE) {
  ArticlePageOptions o;
  o.dataFolder = u"\\Data\\ChannelData";
  o.remoteImages = remote;
  o.displayDate = u"8 Dec 2026";
  return o;
}

}  // namespace

TEST(ArticlePage, LocalPicturesAreLoadedRenamedOrReplacedByTheFiller) {
  CFakeLoader loader;
  for (const char16_t* f : {u"\\Data\\ChannelData\\a.png", u"\\Data\\ChannelData\\b b.png",
                            u"\\Data\\ChannelData\\c.png", u"\\Data\\ChannelData\\sub\\d.png"})
    loader.files.insert(f);
  // Double, single and no quotes; a quoted value with a blank; an empty and
  // an unterminated value; upper-case markers after a replacement that
  // changed the length (the lower-case copy must follow); the same picture
  // twice, and as a link, which stays; a word that equals a value stays.
  // Each rewritten value keeps its own quotes.
  CString content(
      u"<p>a.png <img src=\"a.png\" alt=\"x\"><IMG SRC='b b.png'> <img src=c.png><img src=\"\">"
      u"<img src=missing.png><a href=\"a.png\">big</a><img src=\"a.png\"><img\tsrc=sub\\d.png>"
      u"<IMG SRC=\"http://remote.example/r.png\" WIDTH=\"300\" style=\"width:300px\"></p><img src=\"open.png");
  int loaded = -1;
  CString out = PrepareArticleContent(content, Options(), &loader, &loaded);
  EXPECT_EQ(loaded, 4);
  EXPECT_EQ(U8(out),
            "<p>a.png <img src=\"newscontent01\" alt=\"x\"><IMG SRC='newscontent02'> <img src=newscontent03>"
            "<img src=\"\"><img src=newsfiller><a href=\"a.png\">big</a><img src=\"newscontent01\">"
            "<img\tsrc=newscontent04><IMG SRC=\"newsfiller\" width&eq;\"300\" style=\"width&#58;300px\"></p>"
            "<img src=\"open.png");
  // Each picture is asked for once, by its path without quotes; the remote
  // one never reaches the loader.
  EXPECT_EQ(loader.asked, (std::vector<std::u16string>{
                              u"\\Data\\ChannelData\\a.png as newscontent01",
                              u"\\Data\\ChannelData\\b b.png as newscontent02",
                              u"\\Data\\ChannelData\\c.png as newscontent03",
                              u"\\Data\\ChannelData\\missing.png as newscontent04",
                              u"\\Data\\ChannelData\\sub\\d.png as newscontent04"}));

  // Thirteen pictures: twelve load, the thirteenth is the filler without
  // being asked for; with remote pictures allowed it keeps its address.
  CString thirteen;
  CFakeLoader many;
  for (int i = 1; i <= 13; ++i) {
    CString name;
    name.Format(u"p%02d.jpg", i);
    many.files.insert(u"\\Data\\ChannelData\\" + name.str());
    thirteen += u"<img src=\"" + name + u"\">";
  }
  out = PrepareArticleContent(thirteen, Options(), &many, &loaded);
  EXPECT_EQ(loaded, 12);
  EXPECT_EQ(many.asked.size(), 12u);
  EXPECT_NE(out.Find(u"<img src=\"newscontent12\"><img src=\"newsfiller\">"), -1) << U8(out);
  many.asked.clear();
  out = PrepareArticleContent(thirteen + u"<a href=\"http://x.example/\">x</a>", Options(TRUE), &many, &loaded);
  EXPECT_EQ(loaded, 12);
  EXPECT_NE(out.Find(u"<img src=\"newscontent12\"><img src=\"p13.jpg\"><a href=\"http://x.example/\">"), -1)
      << "remote pictures allowed: the value and the link stay live";
}

TEST(ArticlePage, HostileContentRunsNothingAndReadsNothingOutsideTheDataFolder) {
  CFakeLoader loader;
  CString content(
      u"<img src=\"../Registry/HKCU.reg\"><img src=..\\secret.png><img src=\"\\Windows\\x.png\">"
      u"<img src='/etc/passwd'><img src=\"C:x.png\"><img src=\"file:///etc/passwd\"><img src=\"sub/../../x.png\">"
      u"<script>alert(1)</script><SCRIPT type=x>document.write('<p>x</p>')</SCRIPT>Kept"
      u"<style>p{color:red}</style><textarea>t</textarea><iframe src=\"http://evil.example/\"></iframe>"
      u"<p onclick=\"steal()\" class=\"c\" ONMOUSEOVER='x()'>text</p>"
      u"<a href=\"javascript:alert(1)\">a</a><a href=\" &#106;ava&#x73;cript&colon;alert(1)\">b</a>"
      u"<a href=vbscript:msgbox>c</a><a href=\"https://ok.example/\" title=\"on\">d</a>"
      u"<iframe src=x>never closed");
  int loaded = -1;
  CString out = PrepareArticleContent(content, Options(), &loader, &loaded);
  EXPECT_EQ(loaded, 0);
  EXPECT_TRUE(loader.asked.empty()) << "no path leaving the folder reaches the loader";
  EXPECT_EQ(U8(out),
            "<img src=\"newsfiller\"><img src=newsfiller><img src=\"newsfiller\"><img src='newsfiller'>"
            "<img src=\"newsfiller\"><img src=\"newsfiller\"><img src=\"newsfiller\">Kept"
            "<p class=\"c\">text</p><a>a</a><a>b</a><a>c</a><a href=\"https://ok.example/\" title=\"on\">d</a>");
  for (const char16_t* bad : {u"..", u"a\\..\\b", u"C:\\x", u"\\x", u"/x", u"file:x", u"a\nb", u""})
    EXPECT_FALSE(IsLocalImageReference(bad)) << qk::ToUtf8(bad);
  for (const char16_t* good : {u"Ch001-00000001-001.jpg", u"a..b.png", u"sub\\x.png", u".hidden"})
    EXPECT_TRUE(IsLocalImageReference(good)) << qk::ToUtf8(good);
}

TEST(ArticlePage, TheFrameAroundTheContent) {
  ArticleInfo info;
  info.nChannel = 3;
  info.strChannelTitle = u"Tom & Jerry <News>";
  info.strTitle = u"A <script> in a title";
  info.strBody = u"<p>Body http://x.example/</p>";
  info.strLink = u"http://example.org/a?x=1&y=\"2\"";
  info.bWasRead = TRUE;
  CFakeLoader loader;
  ArticlePageOptions o = Options();
  CString page = BuildArticlePage(info, o, &loader, nullptr);
  EXPECT_EQ(U8(page),
            "<HTML><BODY style=\"word-break:break-all\" scroll=\"no\"><b><font color=\"#000080\">"
            "<P>Tom &amp; Jerry &lt;News&gt;</P></font></b><img src=\"news-read\">&nbsp;<B>A &lt;script&gt; in a "
            "title</B><P><p>Body h t t p://x.example/</p></P><P><a href=\"http://example.org/a?x=1&amp;y=&quot;2"
            "&quot;\">Read More Online...</a></P><P align=\"left\"><font color=\"#C0C0C0\">Published: 8 Dec 2026"
            "</font></P><BR><BR><BR></BODY></HTML>");

  // With a logo, unread, the body of a stored page: the logo in place of
  // the channel title and only the date under the body.
  info.bWasRead = FALSE;
  info.bHasPage = TRUE;
  o.hasLogo = TRUE;
  page = BuildArticlePage(info, o, &loader, nullptr);
  EXPECT_NE(page.Find(u"<P><img src=\"logo\"></P><b><font color=\"#000080\"></font></b><img src=\"news-unread\">"), -1);
  EXPECT_EQ(page.Find(u"Tom"), -1);
  EXPECT_EQ(page.Find(u"Read More Online"), -1);
  EXPECT_NE(page.Find(u"</p></P><P align=\"left\"><font color=\"#C0C0C0\">Published: "), -1);

  // The error item: red title without the tap hint, no link.
  info.strLink = ERROR_ITEM_LINK;
  info.strTitle = u"Last download failed: Tap for details.";
  info.bHasPage = FALSE;
  EXPECT_TRUE(IsErrorArticle(info));
  page = BuildArticlePage(info, o, &loader, nullptr);
  EXPECT_NE(page.Find(u"<B><font color=\"#FF0000\">Last download failed</font></B>"), -1) << U8(page);
  EXPECT_EQ(page.Find(u"Tap for details"), -1);
  EXPECT_EQ(page.Find(u"<a href"), -1);
}

// The content read as an HTML parser reads tags, as the full-text job reads
// it: the picture the job stored behind a lazy-loading "data-src", a quoted
// "src=" inside another value, blanks around "=", a character reference,
// a form feed after an unquoted value; prose after a tag without a source,
// names that only look like a source or an image tag, and pictures in a
// comment, a script or a textarea are no sources. Only the sources are
// loaded and rewritten; the rest stays as written.
TEST(ArticlePage, OnlyTheSourcesAnHtmlParserSeesAreLoadedAndTheRestStaysAsWritten) {
  CFakeLoader loader;
  for (const char16_t* f : {u"Ch001-0001-01.png", u"real.png", u"a&b.png", u"spaced.png", u"ff.png", u"big.png",
                            u"x.png", u"prose.png", u"mail.png", u"imgur.png", u"comment.png", u"script.png",
                            u"area.png"})
    loader.files.insert(u"\\Data\\ChannelData\\" + std::u16string(f));
  auto content = [](const std::u16string& a, const std::u16string& b, const std::u16string& c,
                    const std::u16string& d, const std::u16string& e) {
    return u"<p>Lazy:</p><img data-src=\"big.png\" src=" + a + u"><img alt=\"none\"><p>Its src=prose.png stays.</p>"
           u"<img alt = 'src=x.png' src=" + b + u"><p>After one.</p><img src=" + c + u"><img src = " + d +
           u" alt=spaced><p>x@src=mail.png <imgur src=imgur.png></p><img src=" + e + u"\fheight=3>"
           u"<!-- <img src=\"comment.png\"> --><p>The end.</p>";
  };
  const std::u16string tail = u"<script>var s = '<img src=\"script.png\">';</script>"
                              u"<textarea><img src=\"area.png\"></textarea>";
  int loaded = -1;
  CString out = PrepareArticleContent(
      CString(content(u"Ch001-0001-01.png", u"\"real.png\"", u"'a&amp;b.png'", u"\"spaced.png\"", u"ff.png") + tail),
      Options(TRUE), &loader, &loaded);
  EXPECT_EQ(loaded, 5);
  EXPECT_EQ(out.str(), content(u"newscontent01", u"\"newscontent02\"", u"'newscontent03'", u"\"newscontent04\"",
                               u"newscontent05"))
      << U8(out);
  EXPECT_EQ(loader.asked, (std::vector<std::u16string>{u"\\Data\\ChannelData\\Ch001-0001-01.png as newscontent01",
                                                       u"\\Data\\ChannelData\\real.png as newscontent02",
                                                       u"\\Data\\ChannelData\\a&b.png as newscontent03",
                                                       u"\\Data\\ChannelData\\spaced.png as newscontent04",
                                                       u"\\Data\\ChannelData\\ff.png as newscontent05"}));

  // The job's own output read again: the stored names load, the inline
  // picture and the remote one become the filler when remote pictures are
  // off, and the comment's picture still stays as written.
  CFakeLoader stored;
  stored.files.insert(u"\\Data\\ChannelData\\Ch010-1-1-01.png");
  out = PrepareArticleContent(CString(u"<img alt = 'src=x.png' src=\"Ch010-1-1-01.png\"><p>After.</p>"
                                      u"<img src=\"data:image/png;base64,iVBORw0KGgo=\">"
                                      u"<img src='https://h.example/p.png'><!-- <img src=\"Ch010-1-1-01.png\"> -->"),
                              Options(), &stored, &loaded);
  EXPECT_EQ(loaded, 1);
  EXPECT_EQ(U8(out),
            "<img alt = 'src=x.png' src=\"newscontent01\"><p>After.</p><img src=\"newsfiller\">"
            "<img src='newsfiller'><!-- <img src=\"Ch010-1-1-01.png\"> -->");
}
