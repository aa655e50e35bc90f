// Every file of the public feed-validator corpus (RSS, Atom, RDF and OPML,
// well-formed and broken) goes through the feed parser and the channel-list
// reader: nothing crashes, and a feed that parses stores its items.
#include <gtest/gtest.h>
#include <tinyxml.h>

#include <filesystem>
#include <string>
#include <vector>

#include "quillet/feeds/opml_xml.h"
#include "quillet/feeds/rss_xml.h"
#include "support/device_fixture.h"

namespace fs = std::filesystem;

namespace {

class CorpusTest : public qtest::DeviceTest {
 protected:
  std::vector<fs::path> Files() {
    std::vector<fs::path> out;
    std::string corpora = qtest::CorporaDir();
    if (corpora.empty()) return out;
    fs::path dir = fs::path(corpora) / "feedvalidator" / "testcases";
    if (!fs::is_directory(dir)) return out;
    for (auto& e : fs::recursive_directory_iterator(dir)) {
      std::string ext = e.path().extension().string();
      if (e.is_regular_file() && (ext == ".xml" || ext == ".opml")) out.push_back(e.path());
    }
    std::sort(out.begin(), out.end());
    return out;
  }
};

void IgnoreOutline(void*, LPCWSTR, LPCWSTR, LPCWSTR) {}

TEST_F(CorpusTest, FeedValidatorFilesThroughParserAndListReader) {
  std::vector<fs::path> files = Files();
  if (files.empty()) GTEST_SKIP() << "feedvalidator corpus not present";
  WriteDeviceFile(u"\\ChannelData\\placeholder", "");
  int parsed = 0, withItems = 0, lists = 0;
  for (size_t n = 0; n < files.size(); ++n) {
    std::string bytes = qtest::ReadHostFile(files[n].string());
    CString feedPath, storePath;
    feedPath.Format(u"\\ChannelData\\Ch%04d~.xml", int(n));
    storePath.Format(u"\\ChannelData\\Ch%04d.bin", int(n));
    WriteDeviceFile(feedPath, bytes);

    CRssXML feed(nullptr, nullptr, nullptr, 1);
    if (feed.Load(feedPath)) {
      CString text;
      feed.GetTitle(text);
      feed.GetLink(text);
      feed.GetImageUrl(text);
      feed.GetChannelInfoHtml(text);
      if (feed.SaveItems()) {
        ++parsed;
        // The candidates the parser looks at.
        TiXmlDocument* doc = feed.GetDocument();
        TiXmlElement* container = nullptr;
        const char* itemName = "item";
        if (TiXmlElement* rss = doc->FirstChildElement("rss")) container = rss->FirstChildElement("channel");
        if (TiXmlElement* rdf = doc->FirstChildElement("rdf:RDF")) container = rdf;
        if (!doc->FirstChildElement("rss") && !doc->FirstChildElement("rdf:RDF")) {
          container = doc->FirstChildElement("feed");
          itemName = "entry";
        }
        int candidates = 0;
        for (TiXmlElement* e = container ? container->FirstChildElement(itemName) : nullptr; e;
             e = e->NextSiblingElement(itemName))
          ++candidates;
        int items = 0, read = 0;
        feed.CountItems(items, read);
        if (candidates > 0) {
          ++withItems;
          EXPECT_GE(items, 1) << files[n];
        }
        EXPECT_LE(items, candidates) << files[n];
      }
    }
    COpmlXML list(&IgnoreOutline, nullptr, 1);
    if (list.LoadAndWalk(feedPath)) {
      ++lists;
      list.HasChannel(u"http://example.com/");
    }
    // Nothing the parser does changes the feed file itself.
    EXPECT_EQ(ReadDeviceFile(feedPath), bytes) << files[n];
    std::remove(Host(feedPath).c_str());
    std::remove(Host(storePath).c_str());
  }
  EXPECT_GT(parsed, 500);
  EXPECT_GT(withItems, 200);
  EXPECT_GT(lists, 5);
  printf("%zu files: %d feeds parsed (%d with items), %d channel lists\n", files.size(), parsed, withItems, lists);
}

}  // namespace
