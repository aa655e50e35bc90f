// The feed parser: RSS 0.91, 0.92, 1.0 (RDF), 2.0 and Atom 1.0 feeds in
// several encodings become exact store records, with images rewritten to
// local names, read states, trimming, the error item, and broken feeds
// that leave the store as it was.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <csignal>
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
class RssTest : public ftest::FeedParseTest {};

const char kRss20[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<rss version=\"2.0\" xmlns:content=\"http://purl.org/rss/1.0/modules/content/\" "
    "xmlns:dc=\"http://purl.org/dc/elements/1.1/\">\n"
    "<channel><title>Example &amp; Co</title><link>http://example.com/</link>"
    "<description>News</description><image><url>http://example.com/logo.png</url></image>"
    "<lastBuildDate>Wed, 01 Jun 2005 12:00:00 GMT</lastBuildDate>\n"
    "<item><title>First &amp;amp; &lt;b&gt;bold&lt;/b&gt; &#233;</title>"
    "<link>http://example.com/1</link>"
    "<description>short</description>"
    "<content:encoded><![CDATA[<p>Full &amp; <img src=\"/img/a.jpg\" alt=\"x\"> and <img src='http://cdn.example.com/b.png?w=1'>"
    " again <img src=\"/img/a.jpg\"></p>]]></content:encoded>"
    "<pubDate>Wed, 01 Jun 2005 10:00:00 GMT</pubDate></item>\n"
    "<item><title>Second</title><guid>urn:second</guid><dc:date>2005-05-31T08:00:00+02:00</dc:date>"
    "<description>&lt;img src=http://ads.doubleclick.net/x.gif&gt;plain &amp;nbsp;text</description></item>\n"
    "<item><title>No date</title><link>http://example.com/3</link>"
    "<category label=\"read\">x</category></item>\n"
    "<item><title>Dup</title><link>http://example.com/1</link></item>\n"
    "</channel></rss>\n";

TEST_F(RssTest, Rss20ItemsBecomeRecords) {
  CRssXML doc(nullptr, nullptr, nullptr, 1);
  ASSERT_EQ(Parse(doc, kRss20), 1);
  EXPECT_EQ(doc.GetVersion(), RSS_VERSION_OTHER);  // Load does not walk
  std::vector<CItemRecord> r = Records();
  ASSERT_EQ(r.size(), 3u);
  EXPECT_EQ(r[0].title, CString(u"First & <b>bold</b> \u00e9"));
  EXPECT_EQ(r[0].link, CString(u"http://example.com/1"));
  EXPECT_EQ(r[0].date, CString(u"2005-06-01 10:00:00"));
  EXPECT_EQ(r[0].pageName, CString(u"Ch007-1117584000-001.htm"));
  // Content is HTML as the XML holds it: it is not decoded a second time.
  EXPECT_EQ(r[0].content, CString(u"<p>Full &amp; <img src=\"Ch007-1117584000-002.jpg\" alt=\"x\"> and "
                                  u"<img src='Ch007-1117584000-003.png'> again <img src=\"Ch007-1117584000-002.jpg\"></p>"));
  EXPECT_EQ(r[0].readFlag, 0u);
  EXPECT_EQ(r[0].type, 0u);
  EXPECT_EQ(r[1].link, CString(u"urn:second"));
  EXPECT_EQ(r[1].pageName, CString(u"Ch007-1117584000-004.htm"));
  EXPECT_EQ(r[1].date, CString(u"2005-05-31 06:00:00"));
  EXPECT_EQ(r[1].content, CString(u"<img src=Ch007-1117584000-005.gif>plain &nbsp;text"));
  EXPECT_EQ(r[2].date, CString(u"2005-06-01 00:00:00"));  // no date: the time of the parse
  EXPECT_EQ(r[2].readFlag, 2u);
  // Images: the ad server's is rewritten but not fetched; the repeated one once.
  EXPECT_EQ(ToList(doc.m_imageJobs),
            (std::vector<std::string>{
                "http://example.com/1|Ch007-1117584000-001.htm|/img/a.jpg|Ch007-1117584000-002.jpg",
                "http://example.com/1|Ch007-1117584000-001.htm|http://cdn.example.com/b.png?w=1|Ch007-1117584000-003.png",
            }));
  EXPECT_EQ(ToList(doc.m_readIds), std::vector<std::string>{""});
  CString text;
  EXPECT_EQ(doc.GetTitle(text), 1);
  EXPECT_EQ(text, CString(u"Example & Co"));
  EXPECT_EQ(doc.GetLink(text), 1);
  EXPECT_EQ(text, CString(u"http://example.com/"));
  EXPECT_EQ(doc.GetImageUrl(text), 1);
  EXPECT_EQ(text, CString(u"http://example.com/logo.png"));
  int items = 0, read = 0;
  doc.CountItems(items, read);
  EXPECT_EQ(items, 3);
  EXPECT_EQ(read, 1);
  doc.GetChannelInfoHtml(text);
  // Plain-text values are escaped on the page.
  EXPECT_EQ(text, CString(u"<HTML><BODY><B>RSS Version: </B>2.0<BR><B>Title: </B>Example &amp; Co<BR>\n"
                          u"<B>Link: </B>http://example.com/<BR>\n<B>Description: </B>News<BR>\n"
                          u"<B>Last Build Date: </B>Wed, 01 Jun 2005 12:00:00 GMT<BR>\n</BODY></HTML>"));

  // A second refresh stores nothing again, also where a stored link comes
  // back under a changed title: the item is the same, and no image of it is
  // fetched again.
  SetItemNameCounter(100);
  std::string changed = kRss20;
  changed.replace(changed.find("Second"), 6, "Second!");
  changed.replace(changed.find("<title>No date</title>"), 22,
                  "<title>Renamed</title><description>&lt;img src=\"p.gif\"&gt;</description>");
  CRssXML again(nullptr, nullptr, nullptr, 1);
  ASSERT_EQ(Parse(again, changed), 1);
  r = Records();
  ASSERT_EQ(r.size(), 3u);
  EXPECT_EQ(r[1].title, CString(u"Second"));
  EXPECT_EQ(r[2].title, CString(u"No date"));
  EXPECT_TRUE(again.m_imageJobs.IsEmpty());
}

TEST_F(RssTest, OlderRssAndRdf) {
  const char rss091[] =
      "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><rss version=\"0.91\"><channel><title>Old</title>"
      "<item><title>Caf\xE9</title><link>http://old/1</link><description>d\xE9j\xE0</description></item>"
      "</channel></rss>";
  CRssXML a(nullptr, nullptr, nullptr, 1);
  ASSERT_EQ(Parse(a, rss091), 1);
  std::vector<CItemRecord> r = Records();
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].title, CString(u"Caf\u00e9"));
  EXPECT_EQ(r[0].content, CString(u"d\u00e9j\u00e0"));

  std::filesystem::remove(Host(kStore));
  const char rss092[] =
      "<?xml version=\"1.0\" encoding=\"windows-1251\"?><rss version=\"0.92\"><channel><title>t</title>"
      "<item><title>\xCD\xEE\xE2\xEE\xF1\xF2\xE8</title><description>x</description>"
      "<enclosure url=\"http://e/a.mp3\" length=\"1\" type=\"audio/mpeg\"/></item></channel></rss>";
  CRssXML b(nullptr, nullptr, nullptr, 1);
  ASSERT_EQ(Parse(b, rss092), 1);
  r = Records();
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].title, CString(u"\u041d\u043e\u0432\u043e\u0441\u0442\u0438"));
  EXPECT_EQ(r[0].link, CString());  // neither link nor guid

  std::filesystem::remove(Host(kStore));
  const char rdf[] =
      "<?xml version=\"1.0\"?><rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\" "
      "xmlns=\"http://purl.org/rss/1.0/\" xmlns:dc=\"http://purl.org/dc/elements/1.1/\">"
      "<channel rdf:about=\"http://rdf/\"><title>RDF</title><link>http://rdf/</link></channel>"
      "<item rdf:about=\"http://rdf/1\"><title>One</title><link>http://rdf/1</link>"
      "<dc:date>2005-06-01T12:34:56.5+02:00</dc:date></item>"
      "<item rdf:about=\"http://rdf/2\"><title>Two</title><link>http://rdf/2</link></item></rdf:RDF>";
  CRssXML c(nullptr, nullptr, nullptr, 1);
  ASSERT_EQ(Parse(c, rdf), 1);
  r = Records();
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(r[0].date, CString(u"2005-06-01 10:34:56"));
  EXPECT_EQ(r[1].link, CString(u"http://rdf/2"));
  CString title;
  EXPECT_EQ(c.GetTitle(title), 1);
  EXPECT_EQ(title, CString(u"RDF"));
}

TEST_F(RssTest, AtomEntries) {
  const char atom[] =
      "<?xml version=\"1.0\" encoding=\"utf-8\"?><feed xmlns=\"http://www.w3.org/2005/Atom\">"
      "<title>Atom</title><link rel=\"self\" href=\"http://a/feed\"/><link href=\"http://a/\"/>"
      "<entry><title type=\"html\">&lt;i&gt;One&lt;/i&gt;</title><link rel=\"related\" href=\"http://a/rel\"/>"
      "<link rel=\"alternate\" href=\"http://a/1\"/><id>tag:a,1</id>"
      "<updated>2005-06-02T00:00:00Z</updated><published>2005-06-01T00:00:00Z</published>"
      "<content type=\"html\">&lt;p&gt;body&lt;/p&gt;</content><summary>sum</summary></entry>"
      "<entry><title>Two</title><link href=\"http://a/2\"/><id>tag:a,2</id>"
      "<published>2005-06-01T01:00:00Z</published><updated>2005-06-03T00:00:00Z</updated>"
      "<summary>only summary</summary></entry>"
      "<entry><title>Three</title><link href=\"http://a/3\"/><id>tag:a,3</id></entry>"
      "<entry><title>Four</title><link rel=\"enclosure\" href=\"http://a/4.mp3\"/><id>tag:a,4</id>"
      "<category term=\"x\" label=\"Read\"/></entry>"
      "</feed>";
  CRssXML doc(nullptr, nullptr, nullptr, 1);
  ASSERT_EQ(Parse(doc, atom), 1);
  std::vector<CItemRecord> r = Records();
  ASSERT_EQ(r.size(), 4u);
  // An HTML title is stored as the text it shows.
  EXPECT_EQ(r[0].title, CString(u"One"));
  EXPECT_EQ(r[0].link, CString(u"http://a/1"));
  EXPECT_EQ(r[0].id, CString(u"tag:a,1"));
  EXPECT_EQ(r[0].date, CString(u"2005-06-01 00:00:00"));
  EXPECT_EQ(r[0].content, CString(u"<p>body</p>"));
  // A link without rel is the alternate link, so every such entry is stored.
  EXPECT_EQ(r[1].link, CString(u"http://a/2"));
  EXPECT_EQ(r[1].date, CString(u"2005-06-01 01:00:00"));
  EXPECT_EQ(r[1].content, CString(u"only summary"));
  EXPECT_EQ(r[2].link, CString(u"http://a/3"));
  EXPECT_EQ(r[3].link, CString());
  EXPECT_EQ(r[3].readFlag, 2u);
  EXPECT_EQ(ToList(doc.m_readIds), std::vector<std::string>{"tag:a,4"});
  CString text;
  EXPECT_EQ(doc.GetTitle(text), 1);
  EXPECT_EQ(text, CString(u"Atom"));
  EXPECT_EQ(doc.GetLink(text), 1);
  EXPECT_EQ(text, CString(u"http://a/"));
  EXPECT_EQ(doc.GetImageUrl(text), 0);

  // The channel's title whole, whatever pieces it is written in, and its
  // link as an address that opens.
  for (const char* feed :
       {"<rss version=\"2.0\"><channel><title>News <!-- x -->of <![CDATA[the]]> day</title>"
        "<link>\n /home \n</link></channel></rss>",
        "<feed xmlns=\"http://www.w3.org/2005/Atom\" xml:base=\"http://b/x/\"><title>News of<![CDATA[ the ]]>day</title>"
        "<link rel=\"self\" href=\"feed\"/><link href=\"../home\"/></feed>"}) {
    CRssXML channel(nullptr, nullptr, nullptr, 1);
    channel.SetFeedUrl(u"http://b/x/feed");
    WriteDeviceFile(kFeed, feed);
    ASSERT_EQ(channel.Load(kFeed), 1);
    EXPECT_EQ(channel.GetTitle(text), 1);
    EXPECT_EQ(text.Left(7), CString(u"News of")) << feed;
    EXPECT_EQ(text.Right(7), CString(u"the day")) << feed;
    EXPECT_EQ(channel.GetLink(text), 1);
    EXPECT_EQ(text, CString(u"http://b/home")) << feed;
  }
}

// A channel's title is its text, decoded once by the XML: a reference
// escaped once is its character, one escaped twice stays a reference, a
// character data section is taken literally, and an Atom title is read as
// its type says (markup reduced to its text, which may itself look like
// markup). An item title of the same feed decodes its references once more.
TEST_F(RssTest, ChannelTitleIsItsText) {
  const std::pair<const char*, const char16_t*> cases[] = {
      {"<rss version=\"2.0\"><channel><title>Quotes &amp; Co</title></channel></rss>", u"Quotes & Co"},
      {"<rss version=\"2.0\"><channel><title>Quotes &amp;amp; Co</title></channel></rss>", u"Quotes &amp; Co"},
      {"<rss version=\"2.0\"><channel><title><![CDATA[&lt;p&gt;Title&lt;/p&gt;]]></title>"
       "<item><title><![CDATA[&lt;p&gt;Item&lt;/p&gt;]]></title><link>http://a/1</link></item></channel></rss>",
       u"&lt;p&gt;Title&lt;/p&gt;"},
      {"<rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\" xmlns=\"http://purl.org/rss/1.0/\">"
       "<channel><title><![CDATA[&lt;p&gt;Title&lt;/p&gt;]]></title></channel></rdf:RDF>",
       u"&lt;p&gt;Title&lt;/p&gt;"},
      {"<rss version=\"0.91\"><channel><title>\n  Line\n  by line &lt;3 </title></channel></rss>",
       u"Line by line <3"},
      {"<feed xmlns=\"http://www.w3.org/2005/Atom\"><title type=\"xhtml\"><div xmlns=\"http://www.w3.org/1999/xhtml\">"
       "&lt;p&gt;Title&lt;/p&gt;</div></title></feed>",
       u"<p>Title</p>"},
      {"<feed xmlns=\"http://www.w3.org/2005/Atom\"><title type=\"xhtml\"><div xmlns=\"http://www.w3.org/1999/xhtml\">"
       "<b>Bold</b> &amp;amp; more</div></title></feed>",
       u"Bold &amp; more"},
      {"<feed xmlns=\"http://www.w3.org/2005/Atom\"><title type=\"html\">"
       "&lt;b&gt;Bold&lt;/b&gt; &amp;amp; Co</title></feed>",
       u"Bold & Co"},
      {"<feed xmlns=\"http://www.w3.org/2005/Atom\"><title type=\"text\">&amp;lt;p&amp;gt; Co</title></feed>",
       u"&lt;p&gt; Co"},
      {"<feed xmlns=\"http://www.w3.org/2005/Atom\"><title><![CDATA[&lt;p&gt;Title]]></title></feed>",
       u"&lt;p&gt;Title"},
  };
  for (const auto& [feed, title] : cases) {
    CRssXML channel(nullptr, nullptr, nullptr, 1);
    WriteDeviceFile(kFeed, feed);
    ASSERT_EQ(channel.Load(kFeed), 1) << feed;
    CString text;
    EXPECT_EQ(channel.GetTitle(text), 1);
    EXPECT_EQ(text, CString(title)) << feed;
  }
  // The item's title of the same kind decodes its references once.
  CRssXML doc(nullptr, nullptr, nullptr, 1);
  ASSERT_EQ(Parse(doc, cases[2].first), 1);
  std::vector<CItemRecord> r = Records();
  ASSERT_EQ(r.size(), 1u);
  EXPECT_EQ(r[0].title, CString(u"<p>Item</p>"));
}

// The service marks items read through their category; an entry that has no
// key of its own is stored read, and the channel's other items keep their
// state (an empty key would otherwise name every record of the store).
TEST_F(RssTest, ReadMarksReachOnlyTheItemsOwnRecords) {
  const char first[] =
      "<feed xmlns=\"http://www.w3.org/2005/Atom\"><title>A</title>"
      "<entry><title>One</title><link href=\"http://a/1\"/><id>tag:1</id></entry>"
      "<entry><title>Two</title><link href=\"http://a/2\"/><id>tag:2</id></entry></feed>";
  CRssXML doc(nullptr, nullptr, nullptr, 1);
  ASSERT_EQ(Parse(doc, first), 1);
  const char second[] =
      "<feed xmlns=\"http://www.w3.org/2005/Atom\"><title>A</title>"
      "<entry><title>One</title><link href=\"http://a/1\"/><id>tag:1</id>"
      "<category term=\"s\" label=\"read\"/></entry>"
      "<entry><title>Keyless</title><link rel=\"enclosure\" href=\"http://a/x.mp3\"/><id>tag:3</id>"
      "<category term=\"s\" label=\"read\"/></entry></feed>";
  CRssXML again(nullptr, nullptr, nullptr, 1);
  ASSERT_EQ(Parse(again, second), 1);
  std::vector<CItemRecord> r = Records();
  ASSERT_EQ(r.size(), 3u);
  EXPECT_EQ(r[0].link, CString(u"http://a/1"));
  EXPECT_EQ(r[0].readFlag, 2u);  // a known item marked read on the service
  EXPECT_EQ(r[1].link, CString(u"http://a/2"));
  EXPECT_EQ(r[1].readFlag, 0u);  // untouched
  EXPECT_EQ(r[2].link, CString());
  EXPECT_EQ(r[2].readFlag, 2u);
  EXPECT_EQ(ToList(again.m_readIds), (std::vector<std::string>{"tag:1", "tag:3"}));
}

TEST_F(RssTest, Utf16FeedAndImageRules) {
  std::u16string text =
      u"<?xml version=\"1.0\" encoding=\"UTF-16\"?><rss version=\"2.0\"><channel><title>\u65e5\u672c</title>"
      u"<item><title>\u3042 \U0001F600</title><link>http://u/1</link>"
      u"<description>&lt;img src=\"http://u/big.jpeg\"&gt; &lt;img src=\"http://u/after.png\"&gt;</description></item>"
      u"<item><title>q</title><link>http://u/2</link>"
      u"<description>&lt;img src=\"http://u/p.jpg?x=1&amp;amp;y=2\"&gt;a&lt;img src=a&gt; &lt;img src=\"\"&gt;</description>"
      u"</item></channel></rss>";
  std::string bytes = "\xFF\xFE";
  for (char16_t c : text) {
    bytes += char(c & 0xFF);
    bytes += char(c >> 8);
  }
  CRssXML doc(nullptr, nullptr, nullptr, 1);
  ASSERT_EQ(Parse(doc, bytes), 1);
  std::vector<CItemRecord> r = Records();
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(r[0].title, CString(u"\u3042 \U0001F600"));
  // A five-character extension ends the image rewriting of the item.
  EXPECT_EQ(r[0].content, CString(u"<img src=\"http://u/big.jpeg\"> <img src=\"http://u/after.png\">"));
  // ".jpg?x=1" gives ".jpg"; a one-letter reference rewrites only the src
  // value, not every "a" of the text; an empty reference is skipped.
  EXPECT_EQ(r[1].content, CString(u"<img src=\"Ch007-1117584000-003.jpg\">a<img src=Ch007-1117584000-004.img> "
                                  u"<img src=\"\">"));
  EXPECT_EQ(ToList(doc.m_imageJobs).size(), 2u);
  qtest::SetSettingDword(u"DownloadImage", 0);
  std::filesystem::remove(Host(kStore));
  CRssXML off(nullptr, nullptr, nullptr, 1);
  ASSERT_EQ(Parse(off, bytes), 1);
  EXPECT_TRUE(off.m_imageJobs.IsEmpty());
  EXPECT_EQ(Records()[1].content, CString(u"<img src=\"http://u/p.jpg?x=1&amp;y=2\">a<img src=a> <img src=\"\">"));
}

TEST_F(RssTest, ItemLimitTrimmingAndCancel) {
  qtest::SetSettingDword(u"ArticlesNumber", 50);
  std::string feed = "<rss version=\"2.0\"><channel><title>t</title>";
  for (int i = 0; i < 80; ++i) {
    char item[200];
    snprintf(item, sizeof item, "<item><title>i%d</title><link>http://l/%d</link><pubDate>%02d Jun 2005 %02d:00:00 GMT</pubDate></item>",
             i, i, 1 + i / 24, i % 24);
    feed += item;
  }
  feed += "</channel></rss>";
  CRssXML doc(nullptr, nullptr, nullptr, 1);
  ASSERT_EQ(Parse(doc, feed), 1);
  std::vector<CItemRecord> r = Records();
  ASSERT_EQ(r.size(), 50u);
  EXPECT_EQ(r.back().link, CString(u"http://l/49"));
  // Fewer kept: the oldest go.
  qtest::SetSettingDword(u"ArticlesNumber", 10);
  CRssXML again(nullptr, nullptr, nullptr, 1);
  ASSERT_EQ(Parse(again, feed), 1);
  r = Records();
  ASSERT_EQ(r.size(), 10u);
  EXPECT_EQ(r.front().link, CString(u"http://l/40"));
  // A cancel stops before the next item; what was gathered is stored.
  std::filesystem::remove(Host(kStore));
  static int calls;
  calls = 0;
  CRssXML cancelled(nullptr, [](void*) { return ++calls > 12 ? 1 : 0; }, nullptr, 1);
  ASSERT_EQ(Parse(cancelled, feed), 1);
  r = Records();
  EXPECT_GE(r.size(), 1u);
  EXPECT_LT(r.size(), 10u);
}

TEST_F(RssTest, ErrorItemAndBrokenFeeds) {
  CRssXML doc(nullptr, nullptr, nullptr, 1);
  ASSERT_EQ(Parse(doc, kRss20), 1);
  std::string good = ReadDeviceFile(kStore);
  // A failed download writes the error item.
  CRssXML error(nullptr, nullptr, nullptr, 1);
  error.SetPath(u"\\ChannelData\\Ch007.xml", 0);
  ASSERT_EQ(error.AddErrorItem(u"HTTP 404"), 1);
  std::vector<CItemRecord> r = Records();
  ASSERT_EQ(r.size(), 4u);
  EXPECT_EQ(r[3].link, CString(ERROR_ITEM_LINK));
  EXPECT_EQ(r[3].type, ITEM_TYPE_ERROR);
  EXPECT_EQ(r[3].title, CString(u"Error occured on last update"));
  EXPECT_EQ(r[3].content, CString(u"An error occured while attempting to download the channel data:HTTP 404."));
  EXPECT_EQ(r[3].date, CString(u"2005-06-01 00:00:00"));
  int items = 0, read = 0;
  error.CountItems(items, read);
  EXPECT_EQ(items, 3);
  // A second error replaces the first.
  ASSERT_EQ(error.AddErrorItem(u"again"), 1);
  EXPECT_EQ(Records().size(), 4u);
  std::string withError = ReadDeviceFile(kStore);

  // Broken or unknown feeds store nothing and leave every record in place.
  const std::string broken[] = {
      "", "not xml", "<rss version=\"2.0\"><channel><item><title>cut", "<html><body>a page</body></html>",
      "<rss version=\"2.0\"></rss>", "<?xml version=\"1.0\"?>",
  };
  for (const std::string& bytes : broken) {
    CRssXML bad(nullptr, nullptr, nullptr, 1);
    int result = Parse(bad, bytes);
    EXPECT_NE(result, 1) << bytes;
    EXPECT_EQ(ReadDeviceFile(kStore), withError) << bytes;
  }
  // A parse whose items cannot be written (a full disk) is no success: it
  // reports failure, and the error item and every record stay.
  {
    CRssXML full(nullptr, nullptr, nullptr, 1);
    WriteDeviceFile(kFeed, "<rss version=\"2.0\"><channel><title>t</title><item><title>New</title>"
                           "<link>http://example.com/new</link><description>&lt;img src=\"http://e/i.png\"&gt;" +
                           std::string(100000, 'x') +
                           "</description></item></channel></rss>");
    ASSERT_EQ(full.Load(kFeed), 1);
    struct rlimit old;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit low = old;
    low.rlim_cur = withError.size() + 1000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &low), 0);
    int result = full.SaveItems();
    setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(full.m_imageJobs.IsEmpty());
    EXPECT_EQ(ReadDeviceFile(kStore), withError);
  }
  // The next good parse removes the error item.
  CRssXML fixed(nullptr, nullptr, nullptr, 1);
  ASSERT_EQ(Parse(fixed, kRss20), 1);
  r = Records();
  ASSERT_EQ(r.size(), 3u);
  EXPECT_EQ(r[2].link, CString(u"http://example.com/3"));
}

TEST_F(RssTest, WalkReportsChannelAndItemElements) {
  struct Seen {
    std::vector<std::string> lines;
  } seen;
  CRssXML doc(
      [](void* ctx, LPCWSTR kind, LPCWSTR name, LPCWSTR value) {
        static_cast<Seen*>(ctx)->lines.push_back(CStringA(kind).str() + "/" + CStringA(name).str() + "=" +
                                                 CStringA(value).str());
      },
      nullptr, &seen, 0);
  WriteDeviceFile(kFeed,
                  "<rss version=\"2.0\"><channel><title>T</title><pubDate>Wed, 01 Jun 2005 12:00:00 GMT</pubDate>"
                  "<foo>x</foo><item status=\"new\"><title>I</title><pubDate>Wed, 01 Jun 2005 13:00:00 GMT</pubDate>"
                  "<bar>y</bar></item></channel></rss>");
  ASSERT_EQ(doc.LoadAndWalk(kFeed), 1);
  EXPECT_EQ(doc.GetVersion(), RSS_VERSION_20);
  EXPECT_EQ(seen.lines, (std::vector<std::string>{"channel/title=T", "channel/pubDate=2005-06-01 12:00:00",
                                                  "item/#status=new", "item/title=I",
                                                  "item/pubDate=2005-06-01 13:00:00"}));
  CString bin;
  EXPECT_EQ(doc.GetBinPath(bin), CString(u"\\ChannelData\\Ch007.bin"));
  doc.SetPath(u"\\ChannelData\\Ch012.xml", 0);
  EXPECT_EQ(doc.GetBinPath(bin), CString(u"\\ChannelData\\Ch012.bin"));
}

}  // namespace
