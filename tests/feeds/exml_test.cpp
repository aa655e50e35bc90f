// The XML document base: encoding sniffing, UTF-8 conversion with
// characters beyond U+FFFF, legacy and UTF-16 files, the walk, and broken
// or hostile files.
#include <gtest/gtest.h>
#include <tinyxml.h>

#include <filesystem>
#include <functional>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "common/log.h"
#include "feeds_test_util.h"
#include "quillet/feeds/exml.h"
#include "support/device_fixture.h"

namespace {

// A document that records the elements the walk reaches.
class CRecordingXML : public CEXML {
 public:
  void VisitElement(TiXmlElement* parent, TiXmlElement* element) override {
    CString name, text;
    GetElementText(element, name, text);
    visits.push_back((parent ? CStringA(NodeText(parent->Value())).str() : std::string("-")) + ">" +
                     CStringA(name).str());
  }
  std::vector<std::string> visits;
};

class ExmlTest : public qtest::DeviceTest {
 protected:
  int LoadText(CRecordingXML& doc, const std::string& bytes, int walk = 0) {
    WriteDeviceFile(u"\\doc.xml", bytes);
    return doc.LoadEx(u"\\doc.xml", walk, 1);
  }
  CString RootText(CRecordingXML& doc) {
    CString name, text;
    doc.GetElementText(doc.GetRoot(), name, text);
    return text;
  }
};

TEST_F(ExmlTest, EncodingSniff) {
  CRecordingXML doc;
  EXPECT_EQ(doc.GetEncodingMode(), EXML_MODE_UTF8);
  ASSERT_TRUE(LoadText(doc, "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a>x</a>"));
  EXPECT_EQ(doc.GetEncodingMode(), EXML_MODE_ANSI);
  ASSERT_TRUE(LoadText(doc, "<?xml version='1.0' encoding='UTF-8'?><a>x</a>"));
  EXPECT_EQ(doc.GetEncodingMode(), EXML_MODE_UTF8);
  ASSERT_TRUE(LoadText(doc, "<?xml version=\"1.0\" encoding=\"windows-1251\"?><a>x</a>"));
  EXPECT_EQ(doc.GetEncodingMode(), EXML_MODE_ANSI);
  ASSERT_TRUE(LoadText(doc, "<?xml version=\"1.0\" encoding=\"\"?><a>x</a>"));
  EXPECT_EQ(doc.GetEncodingMode(), EXML_MODE_UTF8);

  // Unrecognised spellings and a declaration beyond the first 127 bytes
  // leave the mode of the previous load.
  ASSERT_TRUE(LoadText(doc, "<?xml version=\"1.0\" encoding=\"iso-8859-1\"?><a>x</a>"));
  ASSERT_TRUE(LoadText(doc, "<?xml version=\"1.0\" Encoding=\"UTF-8\"?><a>x</a>"));
  EXPECT_EQ(doc.GetEncodingMode(), EXML_MODE_ANSI);
  ASSERT_TRUE(LoadText(doc, "<?xml version=\"1.0\" encoding =\"UTF-8\"?><a>x</a>"));
  EXPECT_EQ(doc.GetEncodingMode(), EXML_MODE_ANSI);
  ASSERT_TRUE(LoadText(doc, "<!--" + std::string(130, '-') + "--><a>x</a>"));
  EXPECT_EQ(doc.GetEncodingMode(), EXML_MODE_ANSI);
  ASSERT_TRUE(LoadText(doc, "<a>x</a>"));
  EXPECT_EQ(doc.GetEncodingMode(), EXML_MODE_ANSI);

  // Only the first 127 bytes are sniffed: "encoding=" cut by the limit is not
  // seen; a value cut by it runs to the end of what was read.
  const std::string decl = "<?xml version=\"1.0\"";
  CRecordingXML fresh;
  ASSERT_TRUE(LoadText(fresh, decl + std::string(120 - decl.size(), ' ') + "encoding=\"ISO-8859-1\"?><a>x</a>"));
  EXPECT_EQ(fresh.GetEncodingMode(), EXML_MODE_UTF8);
  ASSERT_TRUE(LoadText(fresh, decl + std::string(110 - decl.size(), ' ') + "encoding=\"ISO-8859-1\"?><a>x</a>"));
  EXPECT_EQ(fresh.GetEncodingMode(), EXML_MODE_ANSI);
  ASSERT_TRUE(LoadText(fresh, decl + std::string(105 - decl.size(), ' ') + "encoding=\"UTF-8\"?><a>x</a>"));
  EXPECT_EQ(fresh.GetEncodingMode(), EXML_MODE_UTF8);
}

// A file that does not load leaves two run-log lines, its path and the
// failure; a well-formed file without any element fails silently.
TEST_F(ExmlTest, FailedLoadsWriteTwoLogLines) {
  const char16_t kLog[] = u"\\Program Files\\Quillet\\Quillet_RunLog.txt";
  SetLogEnabled(1);
  CRecordingXML doc;
  EXPECT_FALSE(LoadText(doc, "<?xml version=\"1.0\"?><!-- only a comment -->"));
  EXPECT_FALSE(DeviceFileExists(kLog));
  EXPECT_FALSE(LoadText(doc, "<a><b></a>"));
  EXPECT_FALSE(doc.Load(u"\\missing.xml"));
  SetLogEnabled(0);
  std::string text = ReadDeviceFile(kLog);
  std::regex lines(R"(\[\d\d:\d\d:\d\d \d{8,}\([0-9a-f]+\)\] \\doc\.xml
\[[^\]]+\] CEXML: Cannot load XML\.

\[[^\]]+\] \\missing\.xml
\[[^\]]+\] CEXML: Cannot load XML\.

)");
  EXPECT_TRUE(std::regex_match(text, lines)) << text;
}

TEST_F(ExmlTest, LegacyCodePagesReadAsDeclared) {
  CRecordingXML doc;
  // "café" in ISO-8859-1 and "Привет" in windows-1251.
  ASSERT_TRUE(LoadText(doc, "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a>caf\xE9 &#233;</a>"));
  EXPECT_EQ(RootText(doc), CString(u"café é"));
  // A UTF-8 byte-order mark is kept when the file is written back.
  ASSERT_TRUE(LoadText(doc, "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?><a>\xC3\xA9</a>"));
  EXPECT_EQ(RootText(doc), CString(u"é"));
  ASSERT_TRUE(doc.SaveDocument());
  EXPECT_EQ(ReadDeviceFile(u"\\doc.xml").substr(0, 3), "\xEF\xBB\xBF");
  ASSERT_TRUE(LoadText(doc, "<?xml version=\"1.0\" encoding=\"windows-1251\"?><a>\xCF\xF0\xE8\xE2\xE5\xF2</a>"));
  EXPECT_EQ(RootText(doc), CString(u"Привет"));
  // The tree holds UTF-8; the file is written back in its own code page,
  // with characters the page lacks as character references.
  EXPECT_EQ(doc.ToDocumentText(u"Мир"), std::string("\xD0\x9C\xD0\xB8\xD1\x80"));
  doc.GetRoot()->SetAttribute("t", doc.ToDocumentText(u"Мир \u20ac").c_str());
  ASSERT_TRUE(doc.SaveDocument());
  std::string saved = ReadDeviceFile(u"\\doc.xml");
  EXPECT_NE(saved.find("encoding=\"windows-1251\""), std::string::npos) << saved;
  EXPECT_NE(saved.find("t=\"\xCC\xE8\xF0 \x88\""), std::string::npos) << saved;
  EXPECT_NE(saved.find(">\xCF\xF0\xE8\xE2\xE5\xF2<"), std::string::npos) << saved;
  ASSERT_TRUE(doc.Load(u"\\doc.xml"));
  EXPECT_EQ(doc.NodeText(doc.GetRoot()->Attribute("t")), CString(u"Мир \u20ac"));
  // A character that ISO-8859-1 lacks is saved as a reference and read back.
  ASSERT_TRUE(LoadText(doc, "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><a>caf\xE9</a>"));
  doc.GetRoot()->SetAttribute("t", doc.ToDocumentText(u"\u0436\u00e9").c_str());
  ASSERT_TRUE(doc.SaveDocument());
  saved = ReadDeviceFile(u"\\doc.xml");
  EXPECT_NE(saved.find("t=\"&#1078;\xE9\""), std::string::npos) << saved;
  ASSERT_TRUE(doc.Load(u"\\doc.xml"));
  EXPECT_EQ(doc.NodeText(doc.GetRoot()->Attribute("t")), CString(u"\u0436\u00e9"));
  EXPECT_EQ(RootText(doc), CString(u"caf\u00e9"));
}

// Undeclared text that is UTF-8 with bytes of the Western page pasted in
// keeps every UTF-8 character, however few, and reads the pasted bytes by
// that page; it is saved back as UTF-8 and reads back the same. Text of
// that page alone, where two neighbouring characters happen to form a UTF-8
// sequence, keeps every other character.
TEST_F(ExmlTest, UndeclaredMixedTextKeepsEveryCharacter) {
  CRecordingXML doc;
  ASSERT_TRUE(LoadText(doc, "<?xml version=\"1.0\"?><a t=\"\x93" "Caf\xC3\xA9\x94\">"
                            "It\x92s \xD0\x9C\xD0\xB8\xD1\x80 \x96 na\xEFve \xE2\x80\x94 d\xE9j\xE0 \x85</a>"));
  const CString text(u"It\u2019s \u041c\u0438\u0440 \u2013 na\u00efve \u2014 d\u00e9j\u00e0 \u2026");
  const CString attribute(u"\u201cCaf\u00e9\u201d");
  EXPECT_EQ(RootText(doc), text);
  EXPECT_EQ(doc.NodeText(doc.GetRoot()->Attribute("t")), attribute);
  ASSERT_TRUE(doc.SaveDocument());
  std::string saved = ReadDeviceFile(u"\\doc.xml");
  EXPECT_NE(saved.find("It\xE2\x80\x99s \xD0\x9C\xD0\xB8\xD1\x80"), std::string::npos) << saved;
  ASSERT_TRUE(doc.Load(u"\\doc.xml"));
  EXPECT_EQ(RootText(doc), text);
  EXPECT_EQ(doc.NodeText(doc.GetRoot()->Attribute("t")), attribute);

  ASSERT_TRUE(LoadText(doc, "<a>\x84Gr\xFC\xDF\x93 \xC4rger \xF6" "de</a>"));
  EXPECT_EQ(RootText(doc).Right(10), CString(u" \u00c4rger \u00f6de"));
  EXPECT_EQ(RootText(doc).Left(4), CString(u"\u201eGr\u00fc"));
}

TEST_F(ExmlTest, Utf16FilesReadThroughUtf8) {
  std::u16string text = u"<?xml version=\"1.0\" encoding=\"UTF-16\"?><a t=\"\u00e9\">\u65e5\u672c \U0001F600</a>";
  for (bool little : {true, false}) {
    std::string bytes = little ? "\xFF\xFE" : "\xFE\xFF";
    for (char16_t c : text) {
      char lo = char(c & 0xFF), hi = char(c >> 8);
      bytes += little ? std::string{lo, hi} : std::string{hi, lo};
    }
    CRecordingXML doc;
    ASSERT_TRUE(LoadText(doc, bytes)) << little;
    EXPECT_EQ(doc.GetEncodingMode(), EXML_MODE_UTF8);
    EXPECT_EQ(RootText(doc), CString(u"\u65e5\u672c \U0001F600"));
    EXPECT_EQ(doc.NodeText(doc.GetRoot()->Attribute("t")), CString(u"\u00e9"));
    // Written back, the file is UTF-8 and says so.
    ASSERT_TRUE(doc.SaveDocument());
    std::string saved = ReadDeviceFile(u"\\doc.xml");
    EXPECT_NE(saved.find("encoding=\"UTF-8\""), std::string::npos) << saved;
    EXPECT_NE(saved.find("\xF0\x9F\x98\x80"), std::string::npos);
  }
  // A file that claims UTF-16 but holds 8-bit text reads as UTF-8.
  CRecordingXML mislabelled;
  ASSERT_TRUE(LoadText(mislabelled, "<?xml version=\"1.0\" encoding=\"utf-16\"?><a>\xC3\xA9&#1078;</a>"));
  EXPECT_EQ(mislabelled.GetEncodingMode(), EXML_MODE_UTF8);
  EXPECT_EQ(RootText(mislabelled), CString(u"\u00e9\u0436"));
  // Without a mark, blank lines before the first "<" in either byte order.
  for (bool little : {true, false}) {
    std::string bytes;
    for (char c : std::string("\r\n  <a>x\xE9</a>")) {
      char u = c == '\xE9' ? char(0xE9) : c;
      bytes += little ? std::string{u, '\0'} : std::string{'\0', u};
    }
    CRecordingXML doc;
    ASSERT_TRUE(LoadText(doc, bytes)) << little;
    EXPECT_EQ(RootText(doc), CString(u"x\u00e9"));
  }
}

TEST_F(ExmlTest, CharactersBeyondBmpSurviveLoadAndSave) {
  CRecordingXML doc;
  ASSERT_TRUE(LoadText(doc, "<?xml version=\"1.0\" encoding=\"UTF-8\"?><a>x\xF0\x9F\x98\x80y</a>"));
  CString text = RootText(doc);
  EXPECT_EQ(text, CString(u"x\U0001F600y"));
  EXPECT_EQ(text.GetLength(), 4);
  // Written back as one 4-byte sequence.
  std::string encoded = doc.ToDocumentText(text);
  EXPECT_EQ(encoded, std::string("x\xF0\x9F\x98\x80y"));
  doc.GetRoot()->SetAttribute("v", encoded.c_str());
  ASSERT_TRUE(doc.SaveDocument());
  CRecordingXML again;
  ASSERT_TRUE(again.Load(u"\\doc.xml"));
  EXPECT_EQ(again.NodeText(again.GetRoot()->Attribute("v")), CString(u"x\U0001F600y"));
  // Older files hold each half of a pair as its own 3-byte sequence; they read
  // back as the same pair.
  ASSERT_TRUE(LoadText(doc, "<a>\xED\xA0\xBD\xED\xB8\x80</a>"));
  EXPECT_EQ(RootText(doc), CString(u"\U0001F600"));
  // A lone surrogate is still written on its own.
  WCHAR lone[] = {0xD83D, u'z', 0};
  EXPECT_EQ(doc.ToDocumentText(lone), std::string("\xED\xA0\xBDz"));
}

TEST_F(ExmlTest, Utf8DecodingEdges) {
  WCHAR out[2];
  int units = 0;
  EXPECT_EQ(CEXML::DecodeUtf8("A", 0, 1, out, &units), 1);
  EXPECT_EQ(out[0], u'A');
  EXPECT_EQ(CEXML::DecodeUtf8("\xC3\xA9", 0, 2, out, &units), 2);
  EXPECT_EQ(out[0], u'\u00e9');
  EXPECT_EQ(CEXML::DecodeUtf8("\xC3\xA9", 0, 1, out, &units), 0);  // truncated
  EXPECT_EQ(CEXML::DecodeUtf8("\x80", 0, 1, out, &units), 0);      // stray continuation
  EXPECT_EQ(CEXML::DecodeUtf8("\xFF", 0, 1, out, &units), 0);
  EXPECT_EQ(CEXML::DecodeUtf8("\xE2(", 0, 2, out, &units), 0);  // not a continuation byte
  EXPECT_EQ(CEXML::DecodeUtf8("ab", 2, 2, out, &units), 0);
  EXPECT_EQ(CEXML::DecodeUtf8("\xF0\x9F\x98\x80", 0, 4, out, &units), 4);
  EXPECT_EQ(units, 2);
  EXPECT_EQ(out[0], 0xD83D);
  EXPECT_EQ(out[1], 0xDE00);
  CRecordingXML doc;
  // Text ends before its first bad sequence.
  EXPECT_EQ(doc.NodeText("ok\xC3"), CString(u"ok"));
  EXPECT_EQ(doc.NodeText(nullptr), CString());
}

TEST_F(ExmlTest, AttributeListsAndSplitting) {
  CRecordingXML doc;
  ASSERT_TRUE(LoadText(doc, "<a x:y=\"1\" b=\"p|q\" c=\"\"/>"));
  CString list;
  doc.GetAttributes(doc.GetRoot(), list);
  EXPECT_EQ(list, CString(u"x:y:1|b:p|q|c:|"));
  CString first = CEXML::SplitNameTail(list);
  EXPECT_EQ(first, CString(u"x:y:1"));
  CString key, value;
  CEXML::SplitName(first, key, value);
  EXPECT_EQ(key, CString(u"x"));
  EXPECT_EQ(value, CString(u"y:1"));
  CEXML::SplitName(CString(u"novalue"), key, value);
  EXPECT_EQ(key, CString());
  EXPECT_EQ(value, CString(u"novalue"));
  CString rest(u"tail");
  EXPECT_EQ(CEXML::SplitNameTail(rest), CString());
  EXPECT_EQ(rest, CString(u"tail"));
  LPCWSTR text = u"abc;def";
  EXPECT_EQ(CEXML::FindFirstOf(text, u";,"), text + 3);
  EXPECT_EQ(CEXML::FindFirstOf(text, u""), nullptr);
  EXPECT_EQ(CEXML::FindFirstOf(text, nullptr), nullptr);
}

TEST_F(ExmlTest, WalkVisitsElementsInPreOrder) {
  CRecordingXML doc;
  ASSERT_TRUE(LoadText(doc, "<?xml version=\"1.0\"?><!-- c --><r><a><b/>text<c/></a><d/></r>", 1));
  EXPECT_EQ(doc.visits, (std::vector<std::string>{"->r", "r>a", "a>b", "a>c", "r>d"}));
}

TEST_F(ExmlTest, BrokenFilesFailAndAreKept) {
  CRecordingXML doc;
  EXPECT_FALSE(doc.Load(u"\\missing.xml"));
  EXPECT_FALSE(LoadText(doc, "<?xml version=\"1.0\"?><!-- only a comment -->"));
  EXPECT_FALSE(LoadText(doc, "this is not XML at all"));
  EXPECT_FALSE(LoadText(doc, "<a><b></a>"));
  EXPECT_FALSE(LoadText(doc, ""));
  // Nesting deep enough to exhaust a recursive parser is refused.
  std::string deep;
  for (int i = 0; i < 100000; ++i) deep += "<x>";
  EXPECT_FALSE(LoadText(doc, deep));
  std::string fine;
  for (int i = 0; i < 200; ++i) fine += "<x>";
  for (int i = 0; i < 200; ++i) fine += "</x>";
  EXPECT_TRUE(LoadText(doc, "<!-- <<<<<<<< --><![CDATA[<a><a><a>]]>" + fine));

  // A file that did not load is kept aside before anything is saved over it.
  EXPECT_FALSE(LoadText(doc, "garbage <<"));
  doc.LoadEx("<?xml version=\"1.0\"?><fresh/>", 0, 0);
  ASSERT_TRUE(doc.GetRoot());
  ASSERT_TRUE(doc.SaveDocument());
  EXPECT_NE(ReadDeviceFile(u"\\doc.xml").find("<fresh />"), std::string::npos);
  EXPECT_EQ(ReadDeviceFile(u"\\doc.xml.bad"), "garbage <<");
}

// A document that keeps the white space bordering on markup inside text,
// as the feed document does.
class CInlineSpaceXML : public CRecordingXML {
 public:
  CInlineSpaceXML() { m_bKeepInlineSpace = true; }
};

// Every node of a tree with its kind, its exact bytes, the attributes of an
// element and the character-data flag of a text.
void Dump(const TiXmlNode* node, std::string& out) {
  for (const TiXmlNode* c = node->FirstChild(); c; c = c->NextSibling()) {
    out += "[" + std::to_string(c->Type()) + ":" + c->ValueStr();
    if (const TiXmlText* t = c->ToText()) out += t->CDATA() ? "|cdata" : "|text";
    if (const TiXmlElement* e = c->ToElement()) {
      for (const TiXmlAttribute* a = e->FirstAttribute(); a; a = a->Next())
        out += " " + std::string(a->Name()) + "=" + a->ValueStr();
      Dump(c, out);
    }
    out += "]";
  }
}

// Loads the text (or, with a path, that file) with the long texts decoded
// ahead of the parser and with the parser reading them itself; the two
// trees (and the two outcomes) must be the same.
testing::AssertionResult SameTreeBothWays(CRecordingXML& doc, const std::string& text, LPCWSTR path = nullptr) {
  std::string trees[2];
  int loaded[2];
  for (int decode : {0, 1}) {
    CEXML::SetLongTextDecoding(decode != 0);
    loaded[decode] = path ? doc.LoadEx(path, 0, 1) : doc.LoadEx(text.c_str(), 0, 0);
    if (loaded[decode] && doc.GetDocument()) Dump(doc.GetDocument(), trees[decode]);
  }
  CEXML::SetLongTextDecoding(true);
  if (loaded[0] != loaded[1]) return testing::AssertionFailure() << "loads differ for " << text;
  if (trees[0] != trees[1])
    return testing::AssertionFailure() << "trees differ for " << text << "\nparser: " << trees[0]
                                       << "\ndecoded: " << trees[1];
  return testing::AssertionSuccess();
}

TEST_F(ExmlTest, LongTextsDecodedAheadMakeTheTreeTheParserMakes) {
  // Documents built at random from the pieces that the decoding must read
  // as the parser does, or leave to it: white space of every kind (also
  // around markup and references), references named, decimal, hexadecimal,
  // unknown and broken, characters of two to four bytes, byte-order marks
  // inside text, malformed bytes, and the markup that holds text without
  // being an element's text (comments, character data, instructions,
  // declarations, attribute values with markup characters, text outside
  // the root).
  const std::vector<std::string> text = {
      "alpha", "beta gamma", " ", "  ", "\t", "\n", "\r\n", " \n\t ", "&amp;", "&lt;", "&gt;", "&quot;",
      "&apos;", "&#60;", "&#38;", "&#13;", "&#32;", "&#9;", "&#10;", "&#65;", "&#x41;", "&#X41;", "&#0;", "&#1;",
      "&#200;", "&#8364;", "&unknown;", "&", "&#;", "&nbsp;", "&copy;", "\xC3\xA9t\xC3\xA9", "\xE4\xB8\xAD\xE6\x96\x87",
      "\xF0\x9F\x98\x80", "\xEF\xBB\xBF", "\xEF\xBF\xBE", "\xEF\xBF\xBF", ">", "]]>", "\"", "'", "\xC3(", "\xFF",
      "\x01", "\x0B", "\x0C", "x", "The quick brown fox jumps over the lazy dog. "};
  const std::vector<std::string> markup = {
      "<!-- a <comment> & more -->", "<![CDATA[ <b>raw</b> & \n ]]>", "<?pi some > data?>", "<!unknown thing>",
      "<e a=\"x>y\" b='<z'/>", "<f/>", "<g></g>", "<br>"};
  std::mt19937 rng(20261209);
  auto pick = [&](const std::vector<std::string>& from) { return from[rng() % from.size()]; };
  std::function<std::string(int)> content = [&](int depth) {
    std::string s;
    int parts = int(rng() % 8);
    for (int i = 0; i < parts; ++i) {
      int kind = int(rng() % 10);
      if (kind < 5) {
        // A text: long ones most of the time, so the decoding has its say.
        int pieces = int(rng() % 24);
        for (int k = 0; k < pieces; ++k) s += pick(text);
      } else if (kind < 7 && depth < 4) {
        std::string name = std::string(1, char('a' + rng() % 4));
        s += "<" + name + (rng() % 3 == 0 ? " x=\"" + pick(text) + "\"" : std::string()) + ">" + content(depth + 1) +
             "</" + name + ">";
      } else {
        s += pick(markup);
      }
    }
    return s;
  };
  CRecordingXML plain;
  CInlineSpaceXML inlineSpace;
  // Texts that the parser drops for being blank, though references stand
  // in them; texts that start with byte-order marks; references the parser
  // fails the document on.
  for (const std::string& doc :
       {std::string("<r><a/>  &#13;  &#13;  &#13;  &#13;  &#13;  &#13;  <b/></r>"),
        std::string("<r>\n\t&#13;&#13;&#13;&#13;&#13;&#13;&#13;&#13;&#13;&#13;&#13;&#13;\n</r>"),
        std::string("<r>\xEF\xBB\xBF\xEF\xBF\xBE  \xEF\xBF\xBF a text that begins with marks, long enough</r>"),
        std::string("<r>a text long enough to be decoded ahead &#X41; of the parser</r>"),
        std::string("<r>a text long enough to be decoded ahead &#x41; of the parser</r>")}) {
    ASSERT_TRUE(SameTreeBothWays(plain, doc));
    ASSERT_TRUE(SameTreeBothWays(inlineSpace, doc));
  }
  int loaded = 0;
  for (int n = 0; n < 1500; ++n) {
    std::string doc = rng() % 4 ? "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" : "";
    doc += "<root>" + content(0) + "</root>";
    if (rng() % 5 == 0) doc += " trailing text after the root, long enough to be taken " + pick(text);
    if (rng() % 10 == 0) doc.insert(doc.size() / 2, "</broken>");
    ASSERT_TRUE(SameTreeBothWays(plain, doc));
    ASSERT_TRUE(SameTreeBothWays(inlineSpace, doc));
    loaded += plain.GetRoot() != nullptr;
  }
  EXPECT_GT(loaded, 1000);

  // The feeds of the public corpus, read both ways.
  std::string corpora = qtest::CorporaDir();
  if (corpora.empty()) return;
  std::filesystem::path dir = std::filesystem::path(corpora) / "feedvalidator" / "testcases";
  if (!std::filesystem::is_directory(dir)) return;
  int files = 0;
  for (auto& e : std::filesystem::recursive_directory_iterator(dir)) {
    if (!e.is_regular_file() || e.path().extension() != ".xml") continue;
    std::string bytes = qtest::ReadHostFile(e.path().string());
    WriteDeviceFile(u"\\doc.xml", bytes);
    ASSERT_TRUE(SameTreeBothWays(inlineSpace, bytes, u"\\doc.xml")) << e.path();
    ++files;
  }
  EXPECT_GT(files, 1000);
}

}  // namespace
