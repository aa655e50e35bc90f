// The subscription list and the channel templates, read from files.
#include <gtest/gtest.h>

#include <string>
#include <vector>

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

}  // namespace
