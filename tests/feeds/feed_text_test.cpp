// Feed text as real-world and hostile feeds write it: every encoding with
// character references, HTML entity names and bare ampersands, escaped and
// child-element markup, items without links, relative links, repeated
// links, image references that must be rewritten exactly, and a store that
// stays within its kept count refresh after refresh.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "feed_parse_fixture.h"
#include "feeds_test_util.h"
#include "quillet/feeds/rss_xml.h"
#include "support/device_fixture.h"
#include "support/settings_registry.h"

namespace {

using ftest::kFeed;
using ftest::kStore;
using ftest::ToList;

class FeedTextTest : public ftest::FeedParseTest {
 protected:
  using FeedParseTest::Parse;
  // Parses a feed (read from `feedUrl` when given) into `into` or a fresh document.
  int Parse(const std::string& bytes, const char16_t* feedUrl = nullptr, CRssXML* into = nullptr) {
    CRssXML local(nullptr, nullptr, nullptr, 1);
    CRssXML& doc = into ? *into : local;
    if (feedUrl) doc.SetFeedUrl(feedUrl);
    return Parse(doc, bytes);
  }
  // A fresh store parsed from one feed; its records.
  std::vector<CItemRecord> ParseFresh(const std::string& bytes, const char16_t* feedUrl = nullptr) {
    std::filesystem::remove(Host(kStore));
    EXPECT_EQ(Parse(bytes, feedUrl), 1);
    return Records();
  }
};

std::string Rss(const std::string& declaration, const std::string& items) {
  return declaration + "<rss version=\"2.0\"><channel><title>t</title>" + items + "</channel></rss>";
}

// Character references become the right character in every encoding; the
// 8-bit text itself reads whole.
TEST_F(FeedTextTest, ReferencesAndEightBitTextInEveryEncoding) {
  const std::string item =
      "<item><title>Don&#8217;t caf\xE9 &#x20AC;&#146;</title><link>http://e/1</link>"
      "<description>a&#160;b \x93q\x94 end</description></item>";
  // Declared windows-1252, declared ISO-8859-1 or US-ASCII (read as the
  // Windows superset, as browsers do), and no declaration at all.
  for (const std::string& decl : {std::string("<?xml version=\"1.0\" encoding=\"windows-1252\"?>"),
                                  std::string("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>"),
                                  std::string("<?xml version=\"1.0\" encoding=\"US-ASCII\"?>"),
                                  std::string("<?xml version=\"1.0\"?>"), std::string()}) {
    std::vector<CItemRecord> r = ParseFresh(Rss(decl, item));
    ASSERT_EQ(r.size(), 1u) << decl;
    EXPECT_EQ(r[0].title, CString(u"Don\u2019t caf\u00e9 \u20ac\u2019")) << decl;
    EXPECT_EQ(r[0].content, CString(u"a\u00a0b \u201cq\u201d end")) << decl;
  }
  // UTF-8, declared and not, with references beyond the Basic Plane and
  // to the XML's own markup characters.
  const std::string utf8 =
      "<item><title>Don&#8217;t caf\xC3\xA9&#160;&#x1F600; &#60;b&#X3E;</title><link>http://e/1</link>"
      "<description>x&#160;y &#38;lt;i&#38;gt;</description></item>";
  for (const std::string& decl : {std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>"), std::string()}) {
    std::vector<CItemRecord> r = ParseFresh(Rss(decl, utf8));
    ASSERT_EQ(r.size(), 1u) << decl;
    EXPECT_EQ(r[0].title, CString(u"Don\u2019t caf\u00e9\u00a0\U0001F600 <b>")) << decl;
    EXPECT_EQ(r[0].content, CString(u"x\u00a0y &lt;i&gt;")) << decl;
  }
  // Named HTML entities the XML never declared, bare ampersands, unknown
  // names and broken references read as a browser reads them; none of them
  // fails the feed or loses the text around it.
  std::vector<CItemRecord> r = ParseFresh(Rss(
      "",
      "<item><title>A&nbsp;&eacute;&copy; AT&T &amp; Tom & Jerry &foo; &#xZZ; &#0; &#8217</title>"
      "<link>http://e/q?a=1&b=2</link>"
      "<description>x&nbsp;y R&D <a href=\"http://e/?a=1&b=2&amp;c=3\">l</a> &bogus;</description></item>"));
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].title, CString(u"A\u00a0\u00e9\u00a9 AT&T & Tom & Jerry &foo; &#xZZ; &#0; &#8217"));
  EXPECT_EQ(r[0].link, CString(u"http://e/q?a=1&b=2"));
  // Markup written as child elements comes back as HTML, its text escaped.
  EXPECT_EQ(r[0].content, CString(u"x\u00a0y R&amp;D <a href=\"http://e/?a=1&amp;b=2&amp;c=3\">l</a> &amp;bogus;"));

  // Feeds as servers send them: blank lines before the declaration, a
  // document type with an internal subset, a declaration that says UTF-8
  // over 8-bit bytes (with and without a byte-order mark), and a charset in
  // single quotes before a double-quoted attribute. Each is read whole.
  const std::string plain = "<item><title>Caf\xC3\xA9 &nbsp;x</title><link>http://e/1</link>"
                            "<description>d&#233; tail</description></item>";
  for (const std::string& head :
       {std::string("\n\n  <?xml version=\"1.0\" encoding=\"utf-8\"?>"), std::string("\xEF\xBB\xBF\r\n"),
        std::string("<?xml version=\"1.0\"?>\n<!DOCTYPE rss [\n<!ENTITY nbsp \"&#160;\"> <!-- ']' -->\n]>\n")}) {
    r = ParseFresh(Rss(head, plain));
    ASSERT_EQ(r.size(), 1u) << head;
    EXPECT_EQ(r[0].title, CString(u"Caf\u00e9 \u00a0x")) << head;
    EXPECT_EQ(r[0].content, CString(u"d\u00e9 tail")) << head;
  }
  const std::string latin = "<item><title>Caf\xE9 au lait\xC0\xAF</title><link>http://e/1</link>"
                            "<description>cr\xE8me br\xFBl\xE9" "e &amp; more</description></item>";
  for (const std::string& head : {std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>"),
                                  std::string("\xEF\xBB\xBF<?xml version=\"1.0\"?>")}) {
    r = ParseFresh(Rss(head, latin));
    ASSERT_EQ(r.size(), 1u) << head;
    EXPECT_EQ(r[0].title, CString(u"Caf\ufffd au lait\ufffd")) << head;
    EXPECT_EQ(r[0].content, CString(u"cr\ufffdme br\ufffdl\ufffde & more")) << head;
  }
  // Undeclared UTF-8 with one stray 8-bit byte stays UTF-8: that byte is
  // read by the Western page, and no other character of the feed changes.
  r = ParseFresh(Rss("", "<item><title>Caf\xC3\xA9 \xD0\x9C\xD0\xB8\xD1\x80</title><link>http://e/1</link>"
                         "<description>na\xEFve \xE2\x80\x94 x</description></item>"));
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].title, CString(u"Caf\u00e9 \u041c\u0438\u0440"));
  EXPECT_EQ(r[0].content, CString(u"na\u00efve \u2014 x"));
  r = ParseFresh(Rss("<?xml version='1.0' encoding='windows-1251' standalone=\"yes\"?>",
                     "<item><title>\xCF\xF0\xE8\xE2\xE5\xF2</title><link>http://e/1</link></item>"));
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].title, CString(u"\u041f\u0440\u0438\u0432\u0435\u0442"));
}

// Content is HTML after the XML parse and is not decoded again; markup
// written as child elements stays markup; titles are plain text decoded
// once and escaped where a page shows them.
TEST_F(FeedTextTest, EscapedMarkupAndXhtmlContent) {
  std::vector<CItemRecord> r = ParseFresh(Rss(
      "",
      "<item><title>Tom &amp;amp; Jerry &amp;amp;amp; &lt;script&gt;</title><link>http://e/1</link>"
      "<description>&amp;lt;script&amp;gt;alert(1)&amp;lt;/script&amp;gt; "
      "&lt;a title=\"&amp;quot;x&amp;quot;\" href=\"/y\"&gt;q&lt;/a&gt;</description></item>"
      "<item><title>Unescaped</title><link>http://e/2</link>"
      "<description><p class=\"c\">Hello <b>world</b> &amp; more<br/>x &lt; y</p></description></item>"
      "<item><title>Pieces</title><link>http://e/3</link>"
      "<description><![CDATA[<p>a &amp; b</p>]]><![CDATA[<p>c</p>]]></description></item>"));
  ASSERT_EQ(r.size(), 3u);
  EXPECT_EQ(r[0].title, CString(u"Tom & Jerry &amp; <script>"));
  EXPECT_EQ(r[0].content,
            CString(u"&lt;script&gt;alert(1)&lt;/script&gt; <a title=\"&quot;x&quot;\" href=\"/y\">q</a>"));
  EXPECT_EQ(r[1].content, CString(u"<p class=\"c\">Hello <b>world</b> &amp; more<br />x &lt; y</p>"));
  EXPECT_EQ(r[2].content, CString(u"<p>a &amp; b</p><p>c</p>"));

  r = ParseFresh(
      "<feed xmlns=\"http://www.w3.org/2005/Atom\"><title>A</title>"
      "<entry><title type=\"xhtml\"><div xmlns=\"http://www.w3.org/1999/xhtml\">One <b>bold</b></div></title>"
      "<link href=\"http://a/1\"/><id>tag:1</id>"
      "<content type=\"xhtml\"><div xmlns=\"http://www.w3.org/1999/xhtml\"><p>One <em>two</em></p>"
      "<img src=\"http://a/p.png\"/></div></content></entry>"
      "<entry><title>Two</title><link href=\"http://a/2\"/><id>tag:2</id>"
      "<summary type=\"xhtml\"><div xmlns=\"http://www.w3.org/1999/xhtml\">S <i>i</i></div></summary></entry>"
      "<entry><title>Three</title><link href=\"http://a/3\"/><id>tag:3</id>"
      "<content type=\"html\">&lt;p&gt;&amp;lt;b&amp;gt; stays text&lt;/p&gt;</content></entry>"
      "<entry><title>Four</title><link href=\"http://a/4\"/><id>tag:4</id>"
      "<summary type=\"text\">if a &lt; b &amp;&amp; &lt;script&gt;x&lt;/script&gt;</summary></entry></feed>");
  ASSERT_EQ(r.size(), 4u);
  // Plain text stays text when shown as HTML.
  EXPECT_EQ(r[3].content, CString(u"if a &lt; b &amp;&amp; &lt;script&gt;x&lt;/script&gt;"));
  EXPECT_EQ(r[0].title, CString(u"One bold"));
  EXPECT_EQ(r[0].content, CString(u"<p>One <em>two</em></p><img src=\"Ch007-1117584000-005.png\" />"));
  EXPECT_EQ(r[1].content, CString(u"S <i>i</i>"));
  EXPECT_EQ(r[2].content, CString(u"<p>&lt;b&gt; stays text</p>"));

  // Line breaks and indents of escaped or child-element markup survive (a
  // code listing keeps its lines); titles are one line.
  r = ParseFresh(Rss("", "<item><title>\n  Two\n\tlines  </title><link>http://e/pre</link><description>"
                         "&lt;pre&gt;int main() {\r\n    return 0;\n}&lt;/pre&gt;\n  x</description></item>"
                         "<item><title>Child</title><link>http://e/pre2</link><description><p>y</p>\n"
                         "<pre>a\n  b</pre>  x\n</description></item>"));
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(r[0].title, CString(u"Two lines"));
  EXPECT_EQ(r[0].content, CString(u"<pre>int main() {\n    return 0;\n}</pre>\n  x"));
  EXPECT_EQ(r[1].content, CString(u"<p>y</p><pre>a\n  b</pre>  x"));

  // An empty full-content element (an excerpt-only feed; Atom content given
  // by address) leaves the description or summary as the item's content.
  r = ParseFresh(Rss("", "<item><title>Ex</title><link>http://e/x</link><description>&lt;p&gt;Excerpt&lt;/p&gt;"
                         "</description><content:encoded><![CDATA[ ]]></content:encoded></item>"));
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].content, CString(u"<p>Excerpt</p>"));
  r = ParseFresh("<feed xmlns=\"http://www.w3.org/2005/Atom\"><title>A</title><entry><title>S</title>"
                 "<link href=\"http://a/s\"/><id>tag:s</id><summary type=\"html\">&lt;i&gt;Sum&lt;/i&gt;</summary>"
                 "<content type=\"text/html\" src=\"http://a/s.html\"/></entry></feed>");
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].content, CString(u"<i>Sum</i>"));

  // The channel's plain-text values are escaped on its information page.
  CRssXML doc(nullptr, nullptr, nullptr, 1);
  WriteDeviceFile(kFeed, "<rss version=\"2.0\"><channel><title>&lt;script&gt;x&lt;/script&gt; &amp; co</title>"
                         "<link>http://e/?a=1&amp;b=\"2\"</link><description>&lt;b&gt;News&lt;/b&gt;</description>"
                         "</channel></rss>");
  ASSERT_EQ(doc.Load(kFeed), 1);
  CString page;
  doc.GetChannelInfoHtml(page);
  EXPECT_EQ(page, CString(u"<HTML><BODY><B>RSS Version: </B>2.0<BR>"
                          u"<B>Title: </B>&lt;script&gt;x&lt;/script&gt; &amp; co<BR>\n"
                          u"<B>Link: </B>http://e/?a=1&amp;b=&quot;2&quot;<BR>\n"
                          u"<B>Description: </B><b>News</b><BR>\n</BODY></HTML>"));
}

// A title, summary or content says how it carries its text (Atom 1.0
// "type", Atom 0.3 "mode" and media type): plain text stays the text it is,
// HTML and XHTML markup is markup, base64 is decoded. Titles are stored as
// the plain text they show, contents as HTML.
TEST_F(FeedTextTest, TextConstructsKeepTextApartFromMarkup) {
  std::vector<CItemRecord> r = ParseFresh(
      "<feed version=\"0.3\" xmlns=\"http://purl.org/atom/ns#\"><title mode=\"base64\">Q2Fmw6kgbmV3cw==</title>"
      "<entry><title mode=\"escaped\" type=\"text/html\">&lt;b&gt;Bold&lt;/b&gt; A &amp;amp; B</title><id>1</id>"
      "<content mode=\"escaped\" type=\"text/html\">&lt;b&gt;x&lt;/b&gt; &amp;amp;</content></entry>"
      "<entry><title mode=\"xml\">&lt;b&gt;Bold&lt;/b&gt; A &amp;amp; B</title><id>2</id>"
      "<content mode=\"xml\">&lt;b&gt;x&lt;/b&gt; &amp;amp;</content></entry>"
      "<entry><title mode=\"escaped\">&lt;i&gt;It&lt;/i&gt;</title><id>3</id>"
      "<summary type=\"text/plain\" mode=\"escaped\">1 &lt; 2</summary></entry>"
      "<entry><title mode=\"xml\" type=\"application/xhtml+xml\">One <b>two</b></title><id>4</id>"
      "<content type=\"application/xhtml+xml\" mode=\"xml\"><p>One <b>two</b> &amp;lt;</p></content></entry>"
      // "<p>Caf\u00e9 <b>x</b></p>" and "1 < 2 <b>" in base64, the first
      // wrapped over two lines.
      "<entry><title mode=\"base64\" type=\"text/html\">PHA+Q2Fmw6kgPGI+eDwvYj48L3A+</title><id>5</id>"
      "<content mode=\"base64\" type=\"text/html\">PHA+Q2Fmw6kg\nPGI+eDwvYj48L3A+</content></entry>"
      "<entry><title mode=\"base64\">MSA8IDIgPGI+</title><id>6</id><content mode=\"base64\">MSA8IDIgPGI+</content></entry>"
      "<entry><title>Seven</title><id>7</id><summary mode=\"escaped\" type=\"text/html\">&lt;i&gt;s&lt;/i&gt;</summary>"
      "<content mode=\"base64\" type=\"image/png\">iVBORw0KGgo=</content></entry></feed>");
  ASSERT_EQ(r.size(), 7u);
  EXPECT_EQ(r[0].title, CString(u"Bold A & B"));
  EXPECT_EQ(r[0].content, CString(u"<b>x</b> &amp;"));
  EXPECT_EQ(r[1].title, CString(u"<b>Bold</b> A &amp; B"));
  EXPECT_EQ(r[1].content, CString(u"&lt;b&gt;x&lt;/b&gt; &amp;amp;"));
  EXPECT_EQ(r[2].title, CString(u"It"));
  EXPECT_EQ(r[2].content, CString(u"1 &lt; 2"));
  EXPECT_EQ(r[3].title, CString(u"One two"));
  EXPECT_EQ(r[3].content, CString(u"<p>One <b>two</b> &amp;lt;</p>"));
  EXPECT_EQ(r[4].title, CString(u"Caf\u00e9 x"));
  EXPECT_EQ(r[4].content, CString(u"<p>Caf\u00e9 <b>x</b></p>"));
  EXPECT_EQ(r[5].title, CString(u"1 < 2 <b>"));
  EXPECT_EQ(r[5].content, CString(u"1 &lt; 2 &lt;b&gt;"));
  // Content that is no text leaves the summary.
  EXPECT_EQ(r[6].content, CString(u"<i>s</i>"));
  CRssXML channel(nullptr, nullptr, nullptr, 1);
  ASSERT_EQ(channel.Load(kFeed), 1);
  CString title;
  ASSERT_EQ(channel.GetTitle(title), 1);
  EXPECT_EQ(title, CString(u"Caf\u00e9 news"));

  // The same in Atom 1.0, where a title of no type keeps being decoded once.
  r = ParseFresh(
      "<feed xmlns=\"http://www.w3.org/2005/Atom\"><title type=\"html\">&lt;b&gt;Feed&lt;/b&gt;</title>"
      "<entry><title type=\"text\">&lt;b&gt; &amp;amp; &amp;eacute;</title><id>1</id></entry>"
      "<entry><title type=\"html\">&lt;b&gt;B&lt;/b&gt;&lt;br&gt;x &amp;amp; &amp;eacute; &lt;!-- c --&gt;1 &lt; 2</title>"
      "<id>2</id></entry>"
      "<entry><title>&lt;b&gt; &amp;amp; &amp;eacute;</title><id>3</id></entry></feed>");
  ASSERT_EQ(r.size(), 3u);
  EXPECT_EQ(r[0].title, CString(u"<b> &amp; &eacute;"));
  EXPECT_EQ(r[1].title, CString(u"B x & \u00e9 1 < 2"));
  EXPECT_EQ(r[2].title, CString(u"<b> & \u00e9"));
  ASSERT_EQ(channel.Load(kFeed), 1);
  ASSERT_EQ(channel.GetTitle(title), 1);
  EXPECT_EQ(title, CString(u"Feed"));
}

// Markup kept from the feed carries the namespace declarations that its
// prefixed names need, wherever outside it they were declared; a prefix it
// declares itself is not declared again.
TEST_F(FeedTextTest, KeptMarkupKeepsItsNamespaces) {
  std::vector<CItemRecord> r = ParseFresh(
      "<feed xmlns=\"http://www.w3.org/2005/Atom\" xmlns:svg=\"http://www.w3.org/2000/svg\">"
      "<title>A</title><entry xmlns:xl=\"http://www.w3.org/1999/xlink\"><title>S</title><id>1</id>"
      "<content type=\"xhtml\"><div xmlns=\"http://www.w3.org/1999/xhtml\" xmlns:svg=\"urn:near\">"
      "<p>pic</p><svg:svg width=\"8\"><svg:use xl:href=\"#c\"/></svg:svg>"
      "<m:math xmlns:m=\"urn:m\"><m:mi>x</m:mi></m:math><p xml:lang=\"en\">t</p></div></content></entry>"
      "<entry><title>D</title><id>2</id><summary type=\"xhtml\"><div xmlns=\"http://www.w3.org/1999/xhtml\">"
      "<svg:svg><svg:circle r=\"4\"/></svg:svg></div></summary></entry></feed>");
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(r[0].content, CString(u"<p>pic</p><svg:svg width=\"8\" xmlns:svg=\"urn:near\" "
                                  u"xmlns:xl=\"http://www.w3.org/1999/xlink\"><svg:use xl:href=\"#c\"></svg:use>"
                                  u"</svg:svg><m:math xmlns:m=\"urn:m\"><m:mi>x</m:mi></m:math><p xml:lang=\"en\">t</p>"));
  EXPECT_EQ(r[1].content, CString(u"<svg:svg xmlns:svg=\"http://www.w3.org/2000/svg\"><svg:circle r=\"4\">"
                                  u"</svg:circle></svg:svg>"));
  r = ParseFresh("<rss version=\"2.0\" xmlns:svg=\"http://www.w3.org/2000/svg\"><channel><title>t</title>"
                 "<item><title>1</title><link>http://e/1</link><description>a <svg:svg/></description></item>"
                 "</channel></rss>");
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].content, CString(u"a <svg:svg xmlns:svg=\"http://www.w3.org/2000/svg\"></svg:svg>"));
}

// Entities that the feed's own document type declares with a plain-text
// value become that value, in text and in attribute values, and through
// one another; external entities are never read, and expansion is bounded
// however the references nest or repeat.
TEST_F(FeedTextTest, DeclaredEntitiesExpandWithinABound) {
  const std::string subset =
      "<?xml version=\"1.0\"?>\n<!DOCTYPE feed [\n<!ENTITY site \"http://a.example\">\n"
      "<!ENTITY blog '&site;/blog'>\n<!ENTITY q 'say \"hi\" &amp; &#233;'>\n"
      "<!ENTITY secret SYSTEM \"file:///etc/hostname\">\n<!ENTITY % pe \"p\">\n<!ENTITY pe \"general\">\n"
      "<!ENTITY loop \"a&loop;\">\n<!ENTITY one \"&two;\">\n<!ENTITY two \"&one;\">\n"
      "<!ENTITY mark \"<b>x</b>\">\n<!ENTITY site \"http://second.example\">\n]>\n";
  std::vector<CItemRecord> r = ParseFresh(
      subset + "<feed xmlns=\"http://www.w3.org/2005/Atom\"><title>&site;</title>"
               "<entry><title>&site;/a/1 &q; &pe;</title><link href=\"&blog;/1\" title=\"&q;\"/><id>1</id></entry>"
               "<entry><title>&secret;|&loop;|&one;|&mark;|&nope;</title><link href=\"&site;/2\"/><id>2</id>"
               "<content type=\"html\">&lt;a title=\"&q;\"&gt;&amp;site;&lt;/a&gt;</content></entry></feed>");
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(r[0].title, CString(u"http://a.example/a/1 say \"hi\" & \u00e9 general"));
  EXPECT_EQ(r[0].link, CString(u"http://a.example/blog/1"));
  EXPECT_EQ(r[1].title, CString(u"&secret;|&loop;|&one;|&mark;|&nope;"));
  EXPECT_EQ(r[1].link, CString(u"http://a.example/2"));
  EXPECT_EQ(r[1].content, CString(u"<a title=\"say \"hi\" & \u00e9\">&site;</a>"));

  // Ten levels of ten references each, and one large value used many
  // times: what fits within the bound expands, the rest stays literal, and
  // the items are stored.
  std::string laughs = "<?xml version=\"1.0\"?>\n<!DOCTYPE rss [\n<!ENTITY l0 \"lol\">\n";
  for (int level = 1; level <= 10; ++level) {
    laughs += "<!ENTITY l" + std::to_string(level) + " \"";
    for (int k = 0; k < 10; ++k) laughs += "&l" + std::to_string(level - 1) + ";";
    laughs += "\">\n";
  }
  laughs += "<!ENTITY big \"" + std::string(100000, 'b') + "\">\n]>\n";
  std::string items = "<item><title>&l10;&l3;</title><link>http://e/0</link></item>";
  for (int i = 1; i <= 40; ++i)
    items += "<item><title>" + std::to_string(i) + "</title><link>http://e/" + std::to_string(i) +
             "</link><description>&big;&l2;</description></item>";
  r = ParseFresh(Rss(laughs, items));
  ASSERT_EQ(r.size(), 41u);
  std::u16string lols;
  for (int k = 0; k < 1000; ++k) lols += u"lol";
  EXPECT_EQ(r[0].title, CString(u"&l10;" + lols));
  const CString whole(std::u16string(100000, u'b') + lols.substr(0, 300));
  size_t total = 0;
  int expanded = 0, literal = 0;
  for (size_t i = 1; i < r.size(); ++i) {
    total += size_t(r[i].content.GetLength());
    if (r[i].content == whole) ++expanded;
    else if (r[i].content.Left(5) == CString(u"&big;")) ++literal;
  }
  EXPECT_GT(expanded, 0);
  EXPECT_GT(literal, 0);
  EXPECT_EQ(expanded + literal, 40);
  EXPECT_LE(total, size_t(2) << 20);
}

// Items without any link are stored each, told apart by id or title; the
// store deletes and retypes one of them, never all.
TEST_F(FeedTextTest, KeylessItemsAreEachStored) {
  const std::string feed = Rss("",
                               "<item><title>First</title><description>1</description></item>"
                               "<item><title>Second</title><description>2</description></item>"
                               "<item><title>First</title><description>again</description></item>"
                               "<item><title>Third</title><description>3</description></item>");
  std::vector<CItemRecord> r = ParseFresh(feed);
  ASSERT_EQ(r.size(), 3u);
  EXPECT_EQ(r[0].title, CString(u"First"));
  EXPECT_EQ(r[1].title, CString(u"Second"));
  EXPECT_EQ(r[2].title, CString(u"Third"));
  for (const CItemRecord& rec : r) EXPECT_EQ(rec.link, CString());
  // A second refresh adds nothing; a new title is a new item.
  ASSERT_EQ(Parse(feed), 1);
  EXPECT_EQ(Records().size(), 3u);
  std::string more = feed;
  more.insert(more.find("</channel>"), "<item><title>Fourth</title></item>");
  ASSERT_EQ(Parse(more), 1);
  ASSERT_EQ(Records().size(), 4u);

  // Deleting and retyping without a link reach the first such record only;
  // marking read without a link still reaches every record.
  {
    CItemStore s(0);
    s.Open(kStore, 0, 1);
    EXPECT_EQ(SetItemType(&s, u"", ITEM_TYPE_PAGE), 1);
    EXPECT_EQ(s.DeleteItem(u""), 1);
  }
  r = Records();
  ASSERT_EQ(r.size(), 3u);
  EXPECT_EQ(r[0].title, CString(u"Second"));
  EXPECT_EQ(r[0].type, 0u);
  EXPECT_EQ(r[2].title, CString(u"Fourth"));
  {
    CItemStore s(0);
    s.Open(kStore, 0, 1);
    EXPECT_EQ(SetItemReadState(&s, u"", ITEM_READ_READ), 1);
  }
  for (const CItemRecord& rec : Records()) EXPECT_EQ(rec.readFlag, 2u);

  // Atom entries without a link, told apart by id under one title.
  r = ParseFresh("<feed xmlns=\"http://www.w3.org/2005/Atom\"><title>A</title>"
                 "<entry><title>Same</title><id>tag:1</id></entry>"
                 "<entry><title>Same</title><id>tag:2</id></entry>"
                 "<entry><title>Same</title><id>tag:1</id></entry></feed>");
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(r[0].id, CString(u"tag:1"));
  EXPECT_EQ(r[1].id, CString(u"tag:2"));

  // Items of a description alone, as older feeds write them, are told apart
  // by their content, also where their images get new local names at every
  // refresh.
  const std::string notes = Rss("",
                                "<item><description>Note one</description></item>"
                                "<item><description>Note &lt;img src=\"p.png\"&gt; two</description></item>"
                                "<item><description>Note one</description></item>");
  r = ParseFresh(notes);
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(r[0].content, CString(u"Note one"));
  EXPECT_NE(r[1].content.Find(u"Ch007-"), -1);
  std::string newer = notes;
  newer.insert(newer.find("<item>"), "<item><description>Note three</description></item>");
  for (int refresh = 0; refresh < 3; ++refresh) ASSERT_EQ(Parse(newer), 1);
  r = Records();
  ASSERT_EQ(r.size(), 3u);
  EXPECT_EQ(r[2].content, CString(u"Note three"));
}

// Relative links resolve against xml:base and then the feed's address, so
// the browser and the full-text job get an address that opens.
TEST_F(FeedTextTest, RelativeLinksResolve) {
  const char16_t kUrl[] = u"http://example.com/news/feed.xml?f=rss";
  std::vector<CItemRecord> r = ParseFresh(
      Rss("",
          "<item><title>1</title><link>story/1.html</link></item>"
          "<item><title>2</title><link>/abs/2</link></item>"
          "<item><title>3</title><link>../up/./3?x=1#f</link></item>"
          "<item><title>4</title><link>//cdn.example.net/4</link></item>"
          "<item><title>5</title><link>https://other.example/5</link></item>"
          "<item><title>6</title><link>?page=6</link></item>"
          "<item><title>7</title><guid>urn:uuid:7</guid></item>"),
      kUrl);
  ASSERT_EQ(r.size(), 7u);
  EXPECT_EQ(r[0].link, CString(u"http://example.com/news/story/1.html"));
  EXPECT_EQ(r[1].link, CString(u"http://example.com/abs/2"));
  EXPECT_EQ(r[2].link, CString(u"http://example.com/up/3?x=1#f"));
  EXPECT_EQ(r[3].link, CString(u"http://cdn.example.net/4"));
  EXPECT_EQ(r[4].link, CString(u"https://other.example/5"));
  EXPECT_EQ(r[5].link, CString(u"http://example.com/news/feed.xml?page=6"));
  EXPECT_EQ(r[6].link, CString(u"urn:uuid:7"));  // a guid is no address

  // xml:base on the feed, the entry and the link itself, absolute and
  // relative, applied from the outside in.
  r = ParseFresh(
      "<feed xmlns=\"http://www.w3.org/2005/Atom\" xml:base=\"/blog/\"><title>A</title>"
      "<entry xml:base=\"posts/\"><title>a</title><link href=\"a.html\"/><id>1</id></entry>"
      "<entry xml:base=\"http://base.example/x/\"><title>b</title><link href=\"../b.html\"/><id>2</id></entry>"
      "<entry><title>c</title><link xml:base=\"2005/\" rel=\"alternate\" href=\"c.html\"/><id>3</id></entry>"
      "</feed>",
      kUrl);
  ASSERT_EQ(r.size(), 3u);
  EXPECT_EQ(r[0].link, CString(u"http://example.com/blog/posts/a.html"));
  EXPECT_EQ(r[1].link, CString(u"http://base.example/b.html"));
  EXPECT_EQ(r[2].link, CString(u"http://example.com/blog/2005/c.html"));

  // Without any address to resolve against the link stays as written.
  r = ParseFresh(Rss("", "<item><title>1</title><link>story/1.html</link></item>"));
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].link, CString(u"story/1.html"));
}

// A link repeated under new titles is one item, within a feed and across
// refreshes; a new id under a stored link is an item of its own.
TEST_F(FeedTextTest, RepeatedLinkIsStoredOnce) {
  std::string items;
  for (int i = 0; i < 300; ++i) items += "<item><title>Edition " + std::to_string(i) + "</title><link>http://e/front</link></item>";
  qtest::SetSettingDword(u"ArticlesNumber", 500);
  std::vector<CItemRecord> r = ParseFresh(Rss("", items));
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].title, CString(u"Edition 0"));
  for (int refresh = 0; refresh < 5; ++refresh) {
    std::string renamed = Rss("", "<item><title>Today " + std::to_string(refresh) +
                                      "</title><link>http://e/front</link></item>" + items);
    ASSERT_EQ(Parse(renamed), 1);
  }
  r = Records();
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].link, CString(u"http://e/front"));

  const std::string atom =
      "<feed xmlns=\"http://www.w3.org/2005/Atom\"><title>A</title>"
      "<entry><title>One</title><link href=\"http://a/x\"/><id>tag:1</id></entry></feed>";
  ParseFresh(atom);
  std::string second = atom;
  second.replace(second.find("tag:1"), 5, "tag:2");
  second.replace(second.find("One"), 3, "Two");
  ASSERT_EQ(Parse(second), 1);
  ASSERT_EQ(Parse(second), 1);
  r = Records();
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(r[1].link, CString(u"http://a/x-5000"));
  EXPECT_EQ(r[1].id, CString(u"tag:2"));

  // Keys as feeds write them: a link in character data with its line
  // breaks, an empty link element after the real one, and a link and an id
  // longer than a record holds. Each is one item, refresh after refresh.
  const std::string longLink = "http://e/" + std::string(40000, 'a');
  const std::string odd = Rss(
      "", "<item><title>C</title><link><![CDATA[\n  /c?x=1\n]]></link></item>"
          "<item><title>E</title><link>http://e/e</link><link rel=\"self\" href=\"http://e/self\"/></item>"
          "<item><title>L</title><link>" + longLink + "</link></item>"
          "<item><title>I</title><link>http://e/i</link><id>" + std::string(40000, 'i') + "</id></item>");
  ParseFresh(odd, u"http://e/feed");
  for (int refresh = 0; refresh < 3; ++refresh) ASSERT_EQ(Parse(odd, u"http://e/feed"), 1);
  r = Records();
  ASSERT_EQ(r.size(), 4u);
  EXPECT_EQ(r[0].link, CString(u"http://e/c?x=1"));
  EXPECT_EQ(r[1].link, CString(u"http://e/e"));
  EXPECT_EQ(r[2].link.GetLength(), ITEM_MAX_KEY_CHARS);
  EXPECT_EQ(r[3].link, CString(u"http://e/i"));
  EXPECT_EQ(r[3].id.GetLength(), ITEM_MAX_KEY_CHARS);

  // One entry listed twice under two addresses is stored once.
  r = ParseFresh("<feed xmlns=\"http://www.w3.org/2005/Atom\"><title>A</title>"
                 "<entry><title>E</title><link href=\"http://a/e?utm=1\"/><id>tag:e</id></entry>"
                 "<entry><title>E</title><link href=\"http://a/e?utm=2\"/><id>tag:e</id></entry></feed>");
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].link, CString(u"http://a/e?utm=1"));
}

// After every refresh the store holds at most the kept number of items
// plus the error item, whatever the kept count and whatever the dates.
TEST_F(FeedTextTest, TrimmingBoundsTheStoreOverTenRefreshes) {
  struct Case {
    int kept;
    int dates;  // 0 convertible, 1 none convertible, 2 mixed
  };
  for (Case c : {Case{50, 0}, Case{300, 0}, Case{500, 0}, Case{50, 1}, Case{300, 1}, Case{500, 2}}) {
    qtest::SetSettingDword(u"ArticlesNumber", DWORD(c.kept));
    std::filesystem::remove(Host(kStore));
    int next = 0;
    for (int refresh = 0; refresh < 10; ++refresh) {
      if (refresh == 4) {
        CRssXML error(nullptr, nullptr, nullptr, 1);
        error.SetPath(u"\\ChannelData\\Ch007.xml", 0);
        ASSERT_EQ(error.AddErrorItem(u"timeout"), 1);
      }
      // Each refresh: the kept number of items, a hundred of them new.
      std::string items;
      int first = next + 100 - c.kept;
      for (int i = first + c.kept - 1; i >= first; --i) {
        std::string date;
        bool convertible = c.dates == 0 || (c.dates == 2 && i % 3 != 0);
        char text[96];
        if (convertible) {
          snprintf(text, sizeof text, "%02d %s 2005 %02d:%02d:00 GMT", 1 + (i / 1440) % 28,
                   (i / 40320) % 2 ? "Jul" : "Jun", (i / 60) % 24, i % 60);
        } else {
          snprintf(text, sizeof text, "sometime in the long afternoon of edition number %d", i);
        }
        items += "<item><title>i" + std::to_string(i) + "</title><link>http://e/" + std::to_string(i) +
                 "</link><pubDate>" + text + "</pubDate></item>";
      }
      next += 100;
      CRssXML doc(nullptr, nullptr, nullptr, 1);
      ASSERT_EQ(Parse(Rss("", items), nullptr, &doc), 1);
      // The channel download compacts right after the parse.
      CItemStore compact(0);
      compact.Open(kStore, 0, 1);
      compact.Rewrite();
      int live = 0, errors = 0;
      for (const CItemRecord& rec : Records()) (rec.type < ITEM_TYPE_ERROR ? live : errors)++;
      EXPECT_LE(live, c.kept) << c.kept << "/" << c.dates << " refresh " << refresh;
      EXPECT_EQ(errors, 0);
      if (refresh == 9) {
        // The newest items are the ones kept.
        std::vector<CItemRecord> r = Records();
        const std::string newest = "http://e/" + std::to_string(next - 1);
        bool newestKept = false;
        for (const CItemRecord& rec : r) newestKept |= CStringA(rec.link).str() == newest;
        EXPECT_TRUE(newestKept) << c.kept << "/" << c.dates;
        EXPECT_EQ(live, c.kept) << c.kept << "/" << c.dates;
      }
    }
  }
}

// Image references: a value is rewritten only where it stands whole, local
// names take only a plain extension, and no reference or key can shift the
// fields of an image job.
TEST_F(FeedTextTest, ImageReferencesAreRewrittenExactly) {
  CRssXML doc(nullptr, nullptr, nullptr, 1);
  ASSERT_EQ(Parse(Rss("",
                      "<item><title>1</title><link>http://e/a|b</link><description>"
                      "&lt;img src=\"a.jpg\"&gt;&lt;img src=\"a.jpg?w=200\"&gt;&lt;img src=a.jpg&gt;"
                      "&lt;img src=\"x.j/g\"&gt;&lt;img src=\"y.|a\"&gt;&lt;img src=\"q.%2e\"&gt;"
                      "&lt;img src=\"http://e/p|q.png\"&gt;&lt;img src=\"z.gif\" alt=\"a.jpg\"&gt;"
                      "</description></item>"),
                  nullptr, &doc),
            1);
  std::vector<CItemRecord> r = Records();
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].link, CString(u"http://e/a%7Cb"));
  EXPECT_EQ(r[0].content, CString(u"<img src=\"Ch007-1117584000-002.jpg\"><img src=\"Ch007-1117584000-003.jpg\">"
                                  u"<img src=Ch007-1117584000-002.jpg><img src=\"Ch007-1117584000-004.img\">"
                                  u"<img src=\"Ch007-1117584000-005.img\"><img src=\"Ch007-1117584000-006.img\">"
                                  u"<img src=\"Ch007-1117584000-007.png\"><img src=\"Ch007-1117584000-008.gif\" "
                                  u"alt=\"a.jpg\">"));
  std::vector<std::string> jobs = ToList(doc.m_imageJobs);
  EXPECT_EQ(jobs, (std::vector<std::string>{
                      "http://e/a%7Cb|Ch007-1117584000-001.htm|a.jpg|Ch007-1117584000-002.jpg",
                      "http://e/a%7Cb|Ch007-1117584000-001.htm|a.jpg?w=200|Ch007-1117584000-003.jpg",
                      "http://e/a%7Cb|Ch007-1117584000-001.htm|x.j/g|Ch007-1117584000-004.img",
                      "http://e/a%7Cb|Ch007-1117584000-001.htm|y.%7Ca|Ch007-1117584000-005.img",
                      "http://e/a%7Cb|Ch007-1117584000-001.htm|q.%2e|Ch007-1117584000-006.img",
                      "http://e/a%7Cb|Ch007-1117584000-001.htm|http://e/p%7Cq.png|Ch007-1117584000-007.png",
                      "http://e/a%7Cb|Ch007-1117584000-001.htm|z.gif|Ch007-1117584000-008.gif",
                  }));
  for (const std::string& job : jobs) EXPECT_EQ(std::count(job.begin(), job.end(), '|'), 3) << job;

  // An image address holds "&" as the HTML wrote it "&amp;"; the job names
  // the address itself. A reference kept by a known item is not reused.
  SetItemNameCounter(20);
  CRssXML second(nullptr, nullptr, nullptr, 1);
  ASSERT_EQ(Parse(Rss("",
                      "<item><title>1</title><link>http://e/a|b</link><description>"
                      "&lt;img src=\"shared.png\"&gt;</description></item>"
                      "<item><title>2</title><link>http://e/2</link><description>"
                      "&lt;img src=\"shared.png\"&gt;&lt;img src=\"i.png?a=1&amp;amp;b=2\"&gt;</description></item>"),
                  nullptr, &second),
            1);
  EXPECT_EQ(ToList(second.m_imageJobs),
            (std::vector<std::string>{"http://e/2|Ch007-1117584000-023.htm|shared.png|Ch007-1117584000-024.png",
                                      "http://e/2|Ch007-1117584000-023.htm|i.png?a=1&b=2|Ch007-1117584000-025.png"}));

  // Relative addresses are fetched from where the content stands (its
  // xml:base, else the feed's address); an image written into the content
  // as data stays as it is and is fetched from nowhere.
  SetItemNameCounter(40);
  std::filesystem::remove(Host(kStore));
  CRssXML third(nullptr, nullptr, nullptr, 1);
  ASSERT_EQ(Parse("<feed xmlns=\"http://www.w3.org/2005/Atom\"><title>A</title><entry><title>R</title>"
                  "<link href=\"/r\"/><id>tag:r</id><content type=\"html\">&lt;img src=\"/img/a.jpg\"&gt;"
                  "&lt;img src=\"data:image/gif;base64,R0lGODlhAQABAAAAACw=\"&gt;&lt;img src=\"../b.png\"&gt;"
                  "</content></entry><entry xml:base=\"http://cdn.e/x/\"><title>S</title><link href=\"s\"/><id>tag:s</id>"
                  "<summary type=\"html\">&lt;img src='c.gif'&gt;</summary></entry></feed>",
                  u"http://blog.e/feeds/atom.xml", &third),
            1);
  r = Records();
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(r[0].link, CString(u"http://blog.e/r"));
  EXPECT_EQ(r[0].content, CString(u"<img src=\"Ch007-1117584000-042.jpg\">"
                                  u"<img src=\"data:image/gif;base64,R0lGODlhAQABAAAAACw=\">"
                                  u"<img src=\"Ch007-1117584000-043.png\">"));
  EXPECT_EQ(ToList(third.m_imageJobs),
            (std::vector<std::string>{
                "http://blog.e/r|Ch007-1117584000-041.htm|http://blog.e/img/a.jpg|Ch007-1117584000-042.jpg",
                "http://blog.e/r|Ch007-1117584000-041.htm|http://blog.e/b.png|Ch007-1117584000-043.png",
                "http://cdn.e/x/s|Ch007-1117584000-044.htm|http://cdn.e/x/c.gif|Ch007-1117584000-045.gif"}));
}

}  // namespace
