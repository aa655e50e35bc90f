// Every file of the public feed-validator corpus (RSS, Atom, RDF and OPML,
// well-formed and broken) goes through the feed parser and the channel-list
// reader: nothing crashes, and a feed that parses stores its items.
#include <gtest/gtest.h>
#include <tinyxml.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "quillet/feeds/opml_xml.h"
#include "quillet/feeds/rss_xml.h"
#include "support/device_fixture.h"
#include "kernel/wstring.h"

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

// The title of an RSS or RDF channel written as one text or character data
// piece, else null.
const TiXmlText* SingleTextTitle(TiXmlDocument* doc) {
  TiXmlElement* top = doc ? doc->RootElement() : nullptr;
  if (!top || (strcmp(top->Value(), "rss") != 0 && strcmp(top->Value(), "rdf:RDF") != 0)) return nullptr;
  TiXmlElement* channel = top->FirstChildElement("channel");
  TiXmlElement* title = channel ? channel->FirstChildElement("title") : nullptr;
  TiXmlNode* only = title ? title->FirstChild() : nullptr;
  if (!only || only->NextSibling() || !only->ToText()) return nullptr;
  // Text beyond ASCII depends on the document's encoding: left out.
  for (const char* c = only->Value(); *c; ++c)
    if (static_cast<unsigned char>(*c) >= 0x80) return nullptr;
  return only->ToText();
}

// Runs of blanks, tabs and line breaks as one blank, none at the ends.
std::string FoldBlanks(const std::string& text) {
  std::string out;
  bool blank = false;
  for (char c : text) {
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
      blank = true;
      continue;
    }
    if (blank && !out.empty()) out += ' ';
    blank = false;
    out += c;
  }
  return out;
}

TEST_F(CorpusTest, FeedValidatorFilesThroughParserAndListReader) {
  std::vector<fs::path> files = Files();
  if (files.empty()) GTEST_SKIP() << "feedvalidator corpus not present";
  WriteDeviceFile(u"\\ChannelData\\placeholder", "");
  int parsed = 0, withItems = 0, lists = 0, titles = 0, titleMismatches = 0;
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
      // An RSS or RDF channel title of one piece of text is that text as
      // the XML gives it, white space folded: the title agrees with the
      // corpus's own reading of it, references and character data included.
      if (const TiXmlText* piece = SingleTextTitle(feed.GetDocument())) {
        ++titles;
        std::string expected = FoldBlanks(piece->Value());
        std::string got = qk::ToUtf8(text.str());
        if (got != expected) {
          ++titleMismatches;
          ADD_FAILURE() << files[n] << ": channel title \"" << got << "\", its text \"" << expected << "\"";
        }
      }
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
  EXPECT_GT(titles, 300);
  EXPECT_EQ(titleMismatches, 0);
  printf("%zu files: %d feeds parsed (%d with items), %d channel lists, %d of %d channel titles differ\n",
         files.size(), parsed, withItems, lists, titleMismatches, titles);
}

}  // namespace
