// The automation object, each method called from a one-line extraction
// script run by the script host against pages that nginx serves on
// loopback; the article file the script writes is compared whole.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "ambrel/script_host.h"
#include "common/log.h"
#include "kernel/kernel.h"
#include "served_pages.h"
#include "support/device_fixture.h"

namespace {

const char kPage[] =
    "<html><head><title>T</title></head><body><div class=\"story\"><p>Hello</p></div></body></html>";

class CodeObjectTest : public atest::ServedPagesTest {
 protected:
  static void SetUpTestSuite() {
    ServePages("ambrel-methods", {{"page.html", kPage},
                                  {"latin.html", "caf\xE9 \x80 \x81"},
                                  {"bom.html", "\xEF\xBB\xBF" "caf\xC3\xA9"},
                                  {"hz.html", "~{Dc:C~}!"},
                                  {"arabic.html", "ab\xC7\xE4"}});
  }
  void SetUp() override {
    qtest::DeviceTest::SetUp();
    qk::SetProgramName(u"Ambrel.exe");
    std::filesystem::create_directories(Host(u"\\ChannelData"));
  }
  void TearDown() override {
    SetLogEnabled(0);
    qtest::DeviceTest::TearDown();
  }

  // Runs one script over a fresh host with the page URL given; returns the
  // article written at "\ChannelData\a.htm".
  std::string RunScript(const std::string& line, const std::string& url, LPCWSTR output = u"\\ChannelData\\a.sft") {
    CScriptHost host;
    EXPECT_TRUE(host.CreateEngine());
    host.GetCodeObject()->SetOutputPath(output);
    host.GetCodeObject()->SetArticleUrl(CString(url.c_str()));
    EXPECT_TRUE(host.ParseScript(ComposeScript(CString(line.c_str()))));
    host.RunScriptEntry();
    for (const auto& e : host.Errors()) ADD_FAILURE() << line << ": " << qk::ToUtf8(e.str());
    host.Close();
    return ReadDeviceFile(u"\\ChannelData\\a.htm");
  }
  std::string Page() { return nginx_->Url("/page.html"); }
  std::string Base() { return nginx_->Url("/"); }
};

TEST_F(CodeObjectTest, EveryMethodFromAOneLineScript) {
  SetLogEnabled(1);
  struct Case {
    const char* line;
    std::string article;
  };
  const std::string tree = "1,-1,HTML,0,91|4,1,BODY,35,84|5,4,DIV,41,77|6,5,P,60,71|2,1,HEAD,6,34|3,2,TITLE,12,27";
  const Case cases[] = {
      {"article.body = GetNodeName(0) + '|' + GetNodeStartPos(0);", "<END>|-1"},
      {"URLDownload(article.url, 'utf-8'); article.body = GetNodeName(1) + '|' + GetNodeName('13') + '|' + "
       "GetNodeName(100000);",
       "HEAD|BODY|<END>"},
      {"URLDownload(article.url, ''); article.body = GetNodeStartPos(1) + ',' + GetNodeStartPos('41') + ',' + "
       "GetNodeStartPos(92);",
       "6,41,-1"},
      {"URLDownload(article.url); article.body = GetNodeTree('HTML', 0) + '#' + GetNodeTree('BODY', 0);", tree + "#"},
      {"URLDownload(article.url, 'utf-8'); article.body = GetNodeOuterHTML(60, 71) + '#' + GetNodeOuterHTML(41, 5000) "
       "+ '#' + GetNodeOuterHTML(60, 10);",
       "<p>Hello</p>#<div class=\"story\"><p>Hello</p></div></body></html>#"},
      {"URLDownload(article.url, 'utf-8'); article.body = GetNodeAttr(41, 100000) + '#' + GetNodeAttr(41, 45);",
       "div class=\"story\"#div "},
      {"article.body = Outer2InnerHTML('<div><p>x</p></div>') + '#' + Outer2InnerHTML('<br>') + '#';", "<p>x</p>##"},
      {"LogPrint('a logged line'); LogPrint(42); article.body = 'logged';", "logged"},
      {"article.body = GetArticleUrl('ignored') + '#' + GetArticleUrl();", Page() + "#" + Page()},
      {"URLDownload(article.url, 'utf-8'); article.body = GetHTML('{outerHTML,60,71}{x,0,5}') + '#' + "
       "GetHTML('none');",
       "<p>Hello</p><html>#"},
      {"URLDownload(article.url, 'utf-8'); GetNodeTree('HTML', 0); article.body = "
       "GetNodeElementsByAttr('div', 'class', 'STORY') + '#' + GetNodeElementsByAttr('p', 'class', 'story');",
       "5,4,DIV,41,77#"},
      {"URLDownload(article.url, 'utf-8'); GetNodeTree('HTML', 0); article.body = GetNodeElement(1, 1) + '#' + "
       "GetNodeElement('5', 0) + '#' + GetNodeElement(2, 3) + '#' + GetNodeElement(4, 3);",
       "2,1,HEAD,6,34#5,4,DIV,41,77##2,1,HEAD,6,34"},
      // The objects of the prefix, as extraction scripts use them.
      {"var d = new Document(article.url, 'utf-8'); var n = d.getElementsByAttr('div', 'class', 'story')[0]; "
       "article.body = n.nodeName + n.id + n.GetParentNode().nodeName + n.GetFirstChild().GetOuterHTML() + "
       "Outer2InnerHTML(n.GetOuterHTML()) + d.GetOuterHTML().length + typeof n.GetNextSibling();",
       "DIV5BODY<p>Hello</p><p>Hello</p>92undefined"},
      // A failed download keeps the page that was loaded.
      {"URLDownload(article.url, 'utf-8'); var r = URLDownload('http://127.0.0.1:1/', 'utf-8'); "
       "article.body = '[' + r + ']' + GetNodeName(0);",
       "[]HTML"},
      {"SetArticleBody('direct'); article.body = 42;", "42"},
  };
  for (const Case& c : cases) EXPECT_EQ(RunScript(c.line, Page()), c.article) << c.line;
  std::string log = ReadDeviceFile(u"\\Program Files\\Quillet\\Quillet_RunLog.txt");
  EXPECT_NE(log.find("] a logged line\n"), std::string::npos) << log;
  EXPECT_NE(log.find("] 42\n"), std::string::npos) << log;
  EXPECT_NE(log.find("GetNodeTree() BEGIN..."), std::string::npos);
}

TEST_F(CodeObjectTest, PagesDecodeByMarkEncodingNameOrNumberAndLeniently) {
  struct Case {
    const char* file;
    const char* encoding;
    std::string article;
  };
  const Case cases[] = {
      {"latin.html", "ISO-8859-1", "caf\xC3\xA9 \xE2\x82\xAC \xC2\x81"},  // undefined 0x81 kept
      {"latin.html", "Windows-1252", "caf\xC3\xA9 \xE2\x82\xAC \xC2\x81"},  // not in the table, known all the same
      {"latin.html", "1252", "caf\xC3\xA9 \xE2\x82\xAC \xC2\x81"},
      {"latin.html", "1251", "caf\xD0\xB9 \xD0\x82 \xD0\x83"},
      {"latin.html", "unknown", "caf\xEF\xBF\xBD \xEF\xBF\xBD \xEF\xBF\xBD"},  // the system's UTF-8
      {"bom.html", "1251", "caf\xC3\xA9"},                                   // the mark wins
      {"hz.html", "hz-gb-2312", "\xE4\xBD\xA0\xE5\xA5\xBD!"},
  };
  for (const Case& c : cases) {
    std::string line = std::string("article.body = URLDownload(article.url + '") + c.file + "', '" + c.encoding + "');";
    EXPECT_EQ(RunScript(line, Base()), c.article) << c.file << " " << c.encoding;
  }
  // DOS-720 has no table of its own here: the nearest Arabic page decodes it.
  std::string arabic = RunScript("article.body = URLDownload(article.url + 'arabic.html', 'DOS-720');", Base());
  EXPECT_EQ(arabic.substr(0, 2), "ab");
  EXPECT_GT(arabic.size(), 2u);
  EXPECT_EQ(arabic.find("\xEF\xBF\xBD"), std::string::npos) << arabic;
}

TEST_F(CodeObjectTest, ArticleFileNamesAndAnEmptyBody) {
  // ".sft" becomes ".htm"; any other name is written as it stands.
  EXPECT_EQ(RunScript("article.body = 'x';", Page()), "x");
  RunScript("article.body = 'plain';", Page(), u"\\ChannelData\\plain.txt");
  EXPECT_EQ(ReadDeviceFile(u"\\ChannelData\\plain.txt"), "plain");
  // An empty body deletes the file at the output path and writes none.
  WriteDeviceFile(u"\\ChannelData\\old.txt", "earlier");
  RunScript("article.body = '';", Page(), u"\\ChannelData\\old.txt");
  EXPECT_FALSE(DeviceFileExists(u"\\ChannelData\\old.txt"));
  // An article never lands outside the device root.
  std::string outside = qnet::MakeTempFolder("ambrel-outside");
  std::filesystem::create_directory_symlink(outside, Host(u"\\ChannelData") + "/link");
  RunScript("article.body = 'escaped';", Page(), u"\\ChannelData\\link\\a.sft");
  EXPECT_FALSE(std::filesystem::exists(outside + "/a.htm"));
  qnet::RemoveTree(outside);
}

}  // namespace
