// The automation object, each method called from a one-line extraction
// script run by the script host against pages that nginx serves on
// loopback; the article file the script writes is compared whole.
#include <gtest/gtest.h>
#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#if defined(__SANITIZE_ADDRESS__)
// The address sanitizer's own count of the heap (its runtime provides it).
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

#include "ambrel/script_host.h"
#include "common/log.h"
#include "kernel/kernel.h"
#include "served_pages.h"
#include "support/device_fixture.h"

namespace {

const char kPage[] =
    "<html><head><title>T</title></head><body><div class=\"story\"><p>Hello</p></div></body></html>";

// A long page of small elements (120 000 of them, about 2 MB).
std::string BigPage() {
  std::string page = "<html><body>";
  for (int i = 0; i < 40000; ++i) page += "<div class=\"c\"><p>para <b>x</b></p></div>\n";
  return page + "</body></html>";
}

// UTF-16 with its mark: "a", a lone high surrogate, "b", a lone low one,
// "c", a pair (U+1F600), "d" and a high surrogate at the very end.
std::string LoneSurrogatePage() {
  const char16_t units[] = {u'a', 0xD800, u'b', 0xDC00, u'c', 0xD83D, 0xDE00, u'd', 0xDBFF};
  std::string bytes = "\xFF\xFE";
  for (char16_t u : units) {
    bytes += static_cast<char>(u & 0xFF);
    bytes += static_cast<char>(u >> 8);
  }
  return bytes;
}

// The bytes the heap holds now.
size_t HeapInUse() {
#if defined(__SANITIZE_ADDRESS__)
  return __sanitizer_get_current_allocated_bytes();
#else
  struct mallinfo2 info = mallinfo2();
  return info.uordblks + info.hblkhd;
#endif
}

// Watches the heap from a thread of its own while it lives; Peak() is the
// most it grew over what it held at the start.
class HeapWatch {
 public:
  HeapWatch() : base_(HeapInUse()), thread_([this] {
    while (!done_) {
      size_t now = HeapInUse();
      if (now > peak_) peak_ = now;
      std::this_thread::yield();
    }
  }) {}
  ~HeapWatch() { Stop(); }
  size_t Peak() {
    Stop();
    return peak_ > base_ ? peak_ - base_ : 0;
  }

 private:
  void Stop() {
    done_ = true;
    if (thread_.joinable()) thread_.join();
  }
  size_t base_;
  std::atomic<size_t> peak_{0};
  std::atomic<bool> done_{false};
  std::thread thread_;
};

class CodeObjectTest : public atest::ServedPagesTest {
 protected:
  static void SetUpTestSuite() {
    ServePages("ambrel-methods", {{"page.html", kPage},
                                  {"latin.html", "caf\xE9 \x80 \x81"},
                                  {"bom.html", "\xEF\xBB\xBF" "caf\xC3\xA9"},
                                  {"hz.html", "~{Dc:C~}!"},
                                  {"arabic.html", "ab\xC7\xE4"},
                                  {"surrogates.html", LoneSurrogatePage()},
                                  {"big.html", BigPage()}});
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
  // article written at "\ChannelData\a.htm". Errors of the script fail the
  // test unless they are asked for.
  std::string RunScript(const std::string& line, const std::string& url, LPCWSTR output = u"\\ChannelData\\a.sft",
                        const qk::script::Limits& limits = qk::script::Limits(), std::string* errors = nullptr) {
    CScriptHost host;
    EXPECT_TRUE(host.CreateEngine(limits));
    host.GetCodeObject()->SetOutputPath(output);
    host.GetCodeObject()->SetArticleUrl(CString(url.c_str()));
    EXPECT_TRUE(host.ParseScript(ComposeScript(CString(line.c_str()))));
    host.RunScriptEntry();
    for (const auto& e : host.Errors()) {
      if (errors)
        *errors += qk::ToUtf8(e.str()) + "\n";
      else
        ADD_FAILURE() << line << ": " << qk::ToUtf8(e.str());
    }
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
  // A surrogate without its partner cannot be written as UTF-8: the article
  // gets U+FFFD in its place, whether it came from the page or the script.
  EXPECT_EQ(RunScript("article.body = URLDownload(article.url + 'surrogates.html', '');", Base()),
            "a\xEF\xBF\xBD" "b\xEF\xBF\xBD" "c\xF0\x9F\x98\x80" "d\xEF\xBF\xBD");
  EXPECT_EQ(RunScript("article.body = String.fromCharCode(0xDC00, 0x41, 0xD800);", Base()),
            "\xEF\xBF\xBD" "A\xEF\xBF\xBD");
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
  // An article never lands outside the device root: not through a folder
  // link, nor through a link in the article's own place, also one whose
  // target does not exist yet. A link that stays inside leads the article
  // to its target.
  std::string outside = qnet::MakeTempFolder("ambrel-outside");
  std::string data = Host(u"\\ChannelData");
  std::filesystem::create_directory_symlink(outside, data + "/link");
  RunScript("article.body = 'escaped';", Page(), u"\\ChannelData\\link\\a.sft");
  std::filesystem::create_symlink(outside + "/b.htm", data + "/b.htm");
  RunScript("article.body = 'escaped';", Page(), u"\\ChannelData\\b.sft");
  std::filesystem::create_symlink(std::filesystem::relative(outside, data) / "c.htm", data + "/c.htm");
  RunScript("article.body = 'escaped';", Page(), u"\\ChannelData\\c.sft");
  EXPECT_TRUE(std::filesystem::is_empty(outside));
  std::filesystem::create_directory(data + "/Saved");
  std::filesystem::create_symlink("Saved/d.htm", data + "/d.htm");
  RunScript("article.body = 'kept inside';", Page(), u"\\ChannelData\\d.sft");
  EXPECT_EQ(ReadDeviceFile(u"\\ChannelData\\Saved\\d.htm"), "kept inside");
  EXPECT_TRUE(std::filesystem::is_symlink(data + "/d.htm"));
  qnet::RemoveTree(outside);
}

TEST_F(CodeObjectTest, TheScriptsTimeAndMemoryBoundNativeCallsToo) {
  std::string big = Base() + "big.html";
  // Calls that each take a while, in a loop that would run far past the
  // time limit: the first call after the limit fails, and nothing more runs
  // (the article is not written either).
  qk::script::Limits limits;
  limits.timeMs = 1000;
  std::string errors;
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(RunScript("URLDownload(article.url, 'utf-8');\n"
                      "for (var n = 0; n < 300; n++) { try { GetNodeTree('HTML', 0); } catch (e) {} }\n"
                      "article.body = 'ran to the end';",
                      big, u"\\ChannelData\\a.sft", limits, &errors),
            "");
  auto seconds = std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start).count();
  EXPECT_LT(seconds, 20);
  EXPECT_NE(errors.find("RangeError"), std::string::npos) << errors;

  // What a call builds counts against the memory limit: the tree of the
  // page does not fit in 20 MB, and a page copied sixty times over does not
  // either; each call fails inside the script, which goes on, and the heap
  // never grows far past the limit.
  limits.timeMs = 60000;
  limits.memoryBytes = 20u * 1024 * 1024;
  std::string token;
  for (int i = 0; i < 60; ++i) token += "{outerHTML,0,-1}";
  HeapWatch watch;
  std::string article =
      RunScript("URLDownload(article.url, 'utf-8'); var out = [];\n"
                "try { GetNodeTree('HTML', 0); out.push('built'); } catch (e) { out.push(e.message); }\n"
                "try { out.push(GetHTML('" + token + "').length); } catch (e) { out.push(e.message); }\n"
                "out.push(GetNodeName(0), GetNodeOuterHTML(0, 11));\n"
                "article.body = out.join('|');",
                big, u"\\ChannelData\\a.sft", limits);
  size_t peak = watch.Peak();
  EXPECT_EQ(article, "out of memory in GetNodeTree|out of memory in GetHTML|HTML|<html><body>");
  EXPECT_LT(peak, 3 * limits.memoryBytes) << peak;
}


}  // namespace
