// The subscription list and the channel templates, read from files.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "quillet/feeds/load_text.h"
#include "quillet/feeds/subscriptions_xml.h"
#include "quillet/feeds/template_xml.h"
#include "support/device_fixture.h"

namespace {

struct Calls {
  std::vector<std::string> lines;
  static void Add(void* ctx, LPCWSTR a, LPCWSTR b, LPCWSTR c) {
    static_cast<Calls*>(ctx)->lines.push_back(CStringA(a).str() + "|" + CStringA(b).str() + "|" + CStringA(c).str());
  }
};

class DocumentsTest : public qtest::DeviceTest {};

TEST_F(DocumentsTest, SubscriptionList) {
  WriteDeviceFile(u"\\ChannelData\\VentrelSubscriptions.xml",
                  "<?xml version=\"1.0\"?><object>"
                  "<list name=\"subscriptions\">"
                  "<object><string name=\"id\">feed/http://a.example/rss</string><string name=\"title\">A</string>"
                  "<list name=\"categories\"><object><string name=\"id\">user/1/label/News</string>"
                  "<string name=\"label\">News</string></object><object><string name=\"label\">Tech</string></object>"
                  "</list></object>"
                  "<object><string name=\"id\">FEED/http://b.example/</string><string name=\"title\">B</string></object>"
                  "<object><string name=\"id\">http://c.example/</string><string name=\"title\">C \xC3\xA9</string>"
                  "<string name=\"title\">C2</string></object>"
                  "<object><string name=\"id\">feed/http://d/</string></object>"
                  "<object><string name=\"id\"></string><string name=\"title\">E</string></object>"
                  "</list>"
                  "<OBJECT name=\"other\"><object><string name=\"id\">feed/http://x/</string>"
                  "<string name=\"title\">X</string></object></OBJECT>"
                  "</object>");
  Calls calls;
  CSubscriptionsXML doc(&calls, [](void* ctx, LPCWSTR title, LPCWSTR url, LPCWSTR labels) {
    Calls::Add(ctx, title, url, labels);
  });
  ASSERT_EQ(doc.Load(u"\\ChannelData\\VentrelSubscriptions.xml"), 1);
  EXPECT_EQ(doc.ReadSubscriptions(), 0);
  EXPECT_EQ(calls.lines, (std::vector<std::string>{"A|http://a.example/rss|News;Tech", "B|http://b.example/|",
                                                   "C2|http://c.example/|"}));
  CSubscriptionsXML empty(nullptr, nullptr);
  EXPECT_EQ(empty.ReadSubscriptions(), 0);  // no document: nothing
}

TEST_F(DocumentsTest, TemplateCallbacksInDocumentOrder) {
  WriteDeviceFile(u"\\Templates\\Site.xml",
                  "<?xml version=\"1.0\" encoding=\"UTF-8\"?><template version=\"1.0\" Name=\"Site \xC3\xA9\">"
                  "<channel type=\"rss\"><name>One</name><url>http://s/1</url></channel>"
                  "<parse_channel>unused</parse_channel>"
                  "<channel type=\"rss\"><name>Two</name></channel>"
                  "<Parse_Article><![CDATA[var a = 1 < 2;]]></Parse_Article>"
                  "<group><channel><name>Deep</name><url>http://deep</url></channel></group>"
                  "</template>");
  Calls calls;
  CTemplateXML doc(&Calls::Add, &calls);
  ASSERT_EQ(doc.LoadAndWalk(u"\\Templates\\Site.xml"), 1);
  EXPECT_EQ(calls.lines, (std::vector<std::string>{"template|Name|Site \xC3\xA9", "channel|One|http://s/1",
                                                   "channel|Two|", "parse_article|Parse_Article|var a = 1 < 2;"}));
  WriteDeviceFile(u"\\Templates\\Other.xml",
                  "<other name=\"x\"><channel><name>N</name><url>u</url></channel></other>");
  Calls other;
  CTemplateXML doc2(&Calls::Add, &other);
  ASSERT_EQ(doc2.LoadAndWalk(u"\\Templates\\Other.xml"), 1);
  EXPECT_EQ(other.lines, std::vector<std::string>{"channel|N|u"});
}

TEST_F(DocumentsTest, TemplateChannelFieldsVersionsAndMissingFiles) {
  // A later name or url replaces an earlier one; a version or a channel type
  // of another kind changes nothing; a channel without children is still
  // reported; a script in a legacy-encoded file is read in that encoding.
  WriteDeviceFile(u"\\Templates\\Later.xml",
                  "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>"
                  "<TEMPLATE version=\"9.9\" name=\"Caf\xE9\" NAME=\"Second\">"
                  "<channel type=\"atom\"><url>http://a/1</url><name>First</name><name>Last</name>"
                  "<url>http://a/2</url><extra>x</extra></channel>"
                  "<channel/>"
                  "<parse_article>var s = '\xE9t\xE9';</parse_article><parse_article/>"
                  "</TEMPLATE>");
  Calls calls;
  CTemplateXML doc(&Calls::Add, &calls);
  ASSERT_EQ(doc.LoadAndWalk(u"\\Templates\\Later.xml"), 1);
  EXPECT_EQ(calls.lines,
            (std::vector<std::string>{"template|name|Caf\xC3\xA9", "template|NAME|Second", "channel|Last|http://a/2",
                                      "channel||", "parse_article|parse_article|var s = '\xC3\xA9t\xC3\xA9';",
                                      "parse_article|parse_article|"}));
  // A missing or broken file reports nothing.
  Calls none;
  CTemplateXML missing(&Calls::Add, &none);
  EXPECT_EQ(missing.LoadAndWalk(u"\\Templates\\Nowhere.xml"), 0);
  WriteDeviceFile(u"\\Templates\\Broken.xml", "<template name=\"x\"><channel>");
  EXPECT_EQ(missing.LoadAndWalk(u"\\Templates\\Broken.xml"), 0);
  EXPECT_TRUE(none.lines.empty());
  // Without a callback nothing is reported and nothing fails.
  CTemplateXML silent(nullptr, nullptr);
  EXPECT_EQ(silent.LoadAndWalk(u"\\Templates\\Later.xml"), 1);
}

// A downloaded page read into wide text (the pages that the refresh and the
// article screen read back): UTF-16 by its mark, UTF-8, or the page given.
// The text is well-formed UTF-16 whatever the bytes: a surrogate without
// its partner reads as U+FFFD, and the characters around it stay.
TEST_F(DocumentsTest, PagesReadAsWellFormedText) {
  auto load = [this](const std::string& bytes, UINT codePage) {
    WriteDeviceFile(u"\\page.htm", bytes);
    WCHAR* text = nullptr;
    int length = 0, error = 0;
    EXPECT_EQ(LoadTextFile(u"\\page.htm", &text, &length, codePage, &error), 1) << error;
    std::u16string out = text ? std::u16string(text, size_t(length)) : std::u16string();
    free(text);
    return out;
  };
  EXPECT_EQ(load(std::string("\xFF\xFE" "a\x00\x3D\xD8" "b\x00\x00\xDE" "c\x00\x3D\xD8\x00\xDE\x3D\xD8", 18), CP_ACP),
            u"a\uFFFDb\uFFFDc\U0001F600\uFFFD");
  EXPECT_EQ(load(std::string("\xFE\xFF\xDC\x00\x00" "A", 6), CP_ACP), u"\uFFFDA");
  EXPECT_EQ(load("\xEF\xBB\xBF" "x\xED\xA0\x80y\xF0\x9F\x98\x80", CP_ACP), u"x\uFFFDy\U0001F600");
  EXPECT_EQ(load("caf\xC3\xA9 \xE2\x82", CP_UTF8), u"caf\u00E9 \uFFFD");
  EXPECT_EQ(load("\xE9t\xE9", 1252), u"\u00E9t\u00E9");
}

}  // namespace
