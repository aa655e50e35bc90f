// Ambrel in script mode over a 500 KB page served by nginx on loopback, with
// a typical extraction script (walk to an element by attribute, take its
// inner HTML, write the article):
//   - the whole program, started by RunFetchProgram, from start to exit;
//   - the script run alone in this process (engine, page download, node
//     tree, extraction, article file).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "ambrel/fetch_program.h"
#include "bench/bench_line.h"
#include "ambrel/script_host.h"
#include "common/url_download.h"
#include "kernel/kernel.h"
#include "kernel/process.h"
#include "support/http_server.h"

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

namespace {

const char kScript[] =
    "var doc = new Document(article.url, \"utf-8\");\n"
    "var found = doc.getElementsByAttr(\"div\", \"class\", \"article-body\");\n"
    "if (found.length > 0)\n"
    "  article.body = Outer2InnerHTML(found[0].GetOuterHTML());\n";

std::string MakePage(size_t size) {
  std::string page =
      "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Bench</title>"
      "<script>var t = '<div>'; if (1 < 2) {}</script><link rel=stylesheet href=s.css></head>\n<body>\n"
      "<div id=\"nav\"><ul><li><a href=\"/a\">A</a><li><a href=\"/b\">B</a></ul></div>\n";
  int n = 0;
  while (page.size() < size - 4000) {
    page += "<div class=\"teaser\" id=\"t" + std::to_string(n) + "\"><h3><a href=\"/story/" + std::to_string(n) +
            "\">Story number " + std::to_string(n) + "</a></h3><p>Some text about the story, with <b>bold</b> "
            "and <i>italic</i> words and an image <img src=\"i" + std::to_string(n) + ".png\"/>.</p></div>\n";
    if (n % 50 == 0) page += "<!-- block " + std::to_string(n) + " -->\n";
    ++n;
  }
  page += "<div class=\"article-body\"><h1>The article</h1>";
  while (page.size() < size - 100) page += "<p>Paragraph of the article text.</p>";
  page += "</div>\n</body></html>\n";
  return page;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  AmbrelTuneMemory();  // as the program does before its script runs
  fs::path dir = qnet::MakeTempFolder("ambrelbench");
  if (dir.empty()) return 1;
  fs::create_directories(dir / "www");
  fs::create_directories(dir / "device" / "ChannelData");
  std::string page = MakePage(500 * 1024);
  {
    FILE* f = std::fopen((dir / "www" / "page.html").c_str(), "wb");
    std::fwrite(page.data(), 1, page.size(), f);
    std::fclose(f);
    f = std::fopen((dir / "device" / "script.tpl").c_str(), "wb");
    std::fwrite(kScript, 1, sizeof kScript - 1, f);
    std::fclose(f);
  }
  qtest::NginxServer nginx;
  if (!nginx.Start((dir / "www").string())) {
    std::printf("nginx did not start\n");
    return 1;
  }
  qk::SetDeviceRoot((dir / "device").string());
  qk::SetProgramHost(u"Ambrel.exe", AMBREL_PATH);
  std::u16string url = qk::FromUtf8(nginx.Url("/page.html"));

  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 30;
  std::vector<double> whole, script;
  size_t article = 0;
  for (int i = 0; i < rounds; ++i) {
    DWORD code = 0;
    CString text;
    auto t0 = Clock::now();
    DWORD r = RunFetchProgram(url.c_str(), u"\\ChannelData\\a.sft", u"\\script.tpl", &code, text, FALSE, nullptr);
    whole.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
    if (r != 0) {
      std::printf("Ambrel failed: 0x%08x\n", static_cast<unsigned>(r));
      return 1;
    }
    article = fs::file_size(dir / "device" / "ChannelData" / "a.htm");
    fs::remove(dir / "device" / "ChannelData" / "a.htm");

    t0 = Clock::now();
    {
      CScriptHost host;
      host.CreateEngine();
      host.GetCodeObject()->SetOutputPath(u"\\ChannelData\\b.sft");
      host.GetCodeObject()->SetArticleUrl(CString(url));
      host.ParseScript(ComposeScript(CString(kScript)));
      host.RunScriptEntry();
      host.Close();
    }
    script.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
  }
  // Where the script run's time goes.
  std::vector<double> download, tree;
  size_t elements = 0;
  for (int i = 0; i < rounds; ++i) {
    CCodeObject code;
    auto t0 = Clock::now();
    code.URLDownload(CString(url), u"utf-8");
    download.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
    t0 = Clock::now();
    code.GetNodeTree(u"HTML", static_cast<int>(page.find("<html>")));
    tree.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
    elements = code.Tree().Nodes().size();
  }
  std::printf("of which page download and decoding: median %.1f ms; node tree of %zu elements: median %.1f ms\n",
              Median(download), elements, Median(tree));
  size_t inProcess = fs::file_size(dir / "device" / "ChannelData" / "b.htm");
  std::printf("page %zu bytes, article %zu bytes (in process %zu)\n", page.size(), article, inProcess);
  std::printf("whole program, start to exit: median %.1f ms, best %.1f ms\n", Median(whole),
              *std::min_element(whole.begin(), whole.end()));
  std::printf("script run (download, tree, extraction, article): median %.1f ms, best %.1f ms\n",
              Median(script), *std::min_element(script.begin(), script.end()));
  qbench::FigureLine("Ambrel's whole run over a 500 KB page, start to exit", Median(whole), "ms", 40);
  qbench::FigureLine("Ambrel's script run over a 500 KB page, in process", Median(script), "ms", 20);
  nginx.Stop();
  std::error_code ec;
  fs::remove_all(dir, ec);
  return 0;
}
