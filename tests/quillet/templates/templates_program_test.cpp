// The online templates through the real "Quillet.exe", started as a process
// on the test's own device root with its clock frozen and driven as the
// user does: the wizard's "Download Quillet online channels" fetches the
// template list and the templates from loopback (a name that would leave
// "\Templates" and a template the server does not have among them), the
// download is cancelled and its box closed while a template stalls, the
// templates page adds two channels with their extraction scripts, and a
// refresh has the fetch program cut out their articles' full texts. Each
// screen is pictured at both profiles.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "gdi/image_codec.h"
#include "kernel/kernel.h"
#include "kernel/process.h"
#include "kernel/wstring.h"
#include "quillet/feeds/item_store.h"
#include "support/device_fixture.h"
#include "support/host_window.h"
#include "support/http_server.h"
#include "support/pictures.h"
#include "support/reader_fixture.h"
#include "support/remote_program.h"
#include "support/settings_registry.h"
#include "support/screen_checks.h"
#include "user/user.h"

namespace {

namespace fs = std::filesystem;

// The extraction script of a template (kept whole, line breaks and all, in
// a CDATA section): the article is the inner markup of the page's div of
// class "story".
std::string Script(const std::string& mark) {
  return "// " + mark + "\nvar doc = new Document(article.url, \"utf-8\");\n"
         "var story = doc.getElementsByAttr(\"div\", \"class\", \"story\");\n"
         "article.body = story.length > 0 ? Outer2InnerHTML(story[0].GetOuterHTML()) : \"\";\n";
}

// Where things are on the 480 x 800 touch screen.
constexpr int kRow1 = 196, kPitch = 82;  // the wizard's and its pages' rows
constexpr int kBoxButton = 428;         // the download box's button
constexpr int kBar = 760;               // the image-button bar
constexpr int kKeyRow1 = 71, kKeyPitch = 34;  // the key device's rows

using qtest::Text;
using qtest::Light;

class TemplatesProgramTest : public qtest::ReaderProgramTest {
 protected:
  TemplatesProgramTest() : ReaderProgramTest("quillet-templates") {}
  void SetUp() override {
    ReaderProgramTest::SetUp();
    ServeSite();
  }
  // A feed of two stories whose pages hold the story in a div "story".
  std::string Feed(const std::string& name) {
    std::string s = "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>" + name + "</title><link>" + site_ +
                    "/</link><description>d</description>";
    for (int i = 0; i < 2; ++i) {
      std::string page = "/stories/" + name + std::to_string(i) + ".html";
      Serve(page.substr(1), "<html><head><title>t</title></head><body><div class=\"menu\">Home</div>"
                            "<div class=\"story\"><p>" + name + " story " + std::to_string(i) +
                            "</p></div><div>footer</div></body></html>\n");
      s += "<item><title>" + name + " " + std::to_string(i) + "</title><link>" + site_ + page +
           "</link><description>short</description><pubDate>Tue, 08 Dec 2026 1" + std::to_string(i) +
           ":00:00 GMT</pubDate></item>";
    }
    return s + "</channel></rss>\n";
  }
  // The online content: the sample list, two templates and their feeds,
  // and a file where a name that climbs out of the folder would lead.
  void ServeSite() {
    Serve("SampleChannels.xml", "<?xml version=\"1.0\"?><opml version=\"1.0\"><head/><body/></opml>\n");
    Serve("news.xml", "<?xml version=\"1.0\"?>\n<template version=\"1.0\" name=\"News\">"
                      "<channel type=\"rss\"><name>World</name><url>" + site_ + "/world.xml</url></channel>"
                      "<channel type=\"rss\"><name>Local</name><url>" + site_ + "/local.xml</url></channel>"
                      "<parse_article><![CDATA[" + Script("news") + "]]></parse_article></template>\n");
    Serve("sports.xml", "<?xml version=\"1.0\"?>\n<template version=\"1.0\" name=\"Sports\">"
                        "<channel type=\"rss\"><name>Scores</name><url>" + site_ + "/scores.xml</url></channel>"
                        "<parse_article><![CDATA[" + Script("sports") + "]]></parse_article>"
                        "<channel type=\"rss\"><name>Extra</name><url>" + site_ + "/extra.xml</url></channel>"
                        "</template>\n");
    Serve("evil.xml", "<template name=\"Evil\"/>\n");
    Serve("world.xml", Feed("world"));
    Serve("scores.xml", Feed("scores"));
    ServeList(true);
  }
  // The template list, with a template the server does not have or not.
  void ServeList(bool withMissing) {
    Serve("OnlineTemplates.txt",
          std::string("news.xml\r\n\r\n../evil.xml\n..\\evil.xml\nsports.xml\r\n") + (withMissing ? "missing.xml\n" : ""));
  }
  void Start(const char* profile) {
    ASSERT_TRUE(qtest::SetSettingString(u"SupportWebsite", qk::FromUtf8(site_).c_str()));
    ASSERT_TRUE(qtest::StartReader(profile, &process_, &q_));
    ASSERT_TRUE(q_.Advance(200));  // the start-up load finds no list: the welcome page
    ASSERT_TRUE(q_.LeaveWelcomePage());  // then the wizard
  }
  qk::gdi::DecodedImage Seen(const std::string& name) {
    std::string path = qtest::PicturesDir() + "/templates-" + name + ".png";
    qk::gdi::DecodedImage image;
    EXPECT_TRUE(q_.Shot(path));
    std::string bytes = qtest::ReadHostFile(path);
    EXPECT_TRUE(qk::gdi::DecodePng(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &image)) << path;
    return image;
  }
  // A page shows its rows, each band with its text, and nothing below the
  // last (no box or list left over).
  void PageShows(const qk::gdi::DecodedImage& p, int rows, const char* where) {
    const bool touch = p.width == 480;
    const int first = touch ? kRow1 : kKeyRow1, pitch = touch ? kPitch : kKeyPitch;
    const int half = touch ? 20 : 8, left = touch ? 90 : 36, need = touch ? 200 : 30;
    for (int i = 0; i < rows; ++i) {
      int middle = first + i * pitch;
      EXPECT_GT(Light(p, left, middle - half, p.width, middle + half), need) << where << ": no row " << i + 1;
    }
    const int bottom = touch ? kBar - 45 : p.height - 30;
    EXPECT_EQ(Light(p, 0, first + rows * pitch - pitch * 3 / 8, p.width, bottom), 0)
        << where << ": something below the rows";
  }
  std::string ChannelList() const { return ReadDeviceFile(u"\\Program Files\\Quillet\\ChannelData\\Channels.opml"); }
  // The number of the channel with this title in the list, or 0.
  int ChannelNumber(const std::string& title) const {
    std::smatch m;
    std::string list = ChannelList();
    if (!std::regex_search(list, m, std::regex("text=\"" + title + "\"[^>]*uniqueID=\"([0-9]+)\"")))
      return 0;
    return std::stoi(m[1]);
  }
  std::string Tpl(int channel) const {
    char name[64];
    snprintf(name, sizeof name, "\\Program Files\\Quillet\\ChannelData\\Ch%03d.tpl", channel);
    return ReadDeviceFile(qk::FromUtf8(name).c_str());
  }
  bool TplExists(int channel) const {
    char name[64];
    snprintf(name, sizeof name, "\\Program Files\\Quillet\\ChannelData\\Ch%03d.tpl", channel);
    return DeviceFileExists(qk::FromUtf8(name).c_str());
  }
  // The page texts of a channel's stories, as its store records them.
  std::vector<std::string> Pages(int channel) {
    std::vector<std::string> pages;
    char name[64];
    snprintf(name, sizeof name, "\\Program Files\\Quillet\\ChannelData\\Ch%03d.bin", channel);
    CItemStore store(0);
    if (!DeviceFileExists(qk::FromUtf8(name).c_str())) return pages;
    store.Open(qk::FromUtf8(name).c_str(), 0, 1);
    for (int n = 0; store.ReadRecord(n); ++n) {
      const CItemRecord& r = store.Current();
      if (!(r.type & ITEM_TYPE_PAGE)) continue;
      std::u16string path = u"\\Program Files\\Quillet\\ChannelData\\" + r.pageName.str();
      pages.push_back(ReadDeviceFile(path.c_str()));
    }
    std::sort(pages.begin(), pages.end());
    return pages;
  }
  std::vector<std::string> Templates() const {
    std::vector<std::string> names;
    std::string folder = Host(u"\\Program Files\\Quillet\\Templates");
    if (!fs::exists(folder)) return names;
    for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  }
  // Nothing was written where the climbing names lead.
  void NothingOutsideTheFolder() {
    for (const char16_t* path : {u"\\Program Files\\Quillet\\evil.xml", u"\\Program Files\\evil.xml", u"\\evil.xml"})
      EXPECT_FALSE(DeviceFileExists(path)) << qk::ToUtf8(path);
    EXPECT_EQ(nginx_.AccessLog().find("evil"), std::string::npos) << "an unsafe name was asked for";
  }
};

}  // namespace

TEST_F(TemplatesProgramTest, ByTouchOnlineTemplatesAreFetchedAddedWithTheirScriptsAndRefreshedInFull) {
  qnet::ScriptedServer stall;
  QNET_REQUIRE_PEER(stall.Start(R"({"rules": [
    {"path": "/SampleChannels.xml", "times": 0,
     "response": "HTTP/1.1 200 OK\r\nContent-Length: 8\r\nConnection: close\r\n\r\n<opml/>\n"},
    {"path": "/OnlineTemplates.txt", "times": 0,
     "response": "HTTP/1.1 200 OK\r\nContent-Length: 9\r\nConnection: close\r\n\r\nslow.xml\n"},
    {"path": "/slow.xml", "times": 0, "hold": true,
     "response": "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\nbegun"}
  ]})"),
                    "python3");
  Start("");
  HWND wizard = q_.ActiveWindow();
  const int online = kRow1 + 6 * kPitch;  // "Download Quillet online channels"

  // The list names a template the server does not have: the box shows the
  // error with OK; OK goes back to the choices. What came before stays.
  ASSERT_TRUE(q_.Tap(240, online));
  ASSERT_TRUE(q_.Advance(10));
  ASSERT_TRUE(q_.WaitFor([&] { return Text(q_.FocusWindow()) == "OK"; }));
  Seen("box-failed-480x800");
  ASSERT_TRUE(q_.Tap(240, kBoxButton));
  ASSERT_TRUE(q_.Advance(10));
  EXPECT_EQ(q_.ActiveWindow(), wizard);
  PageShows(Seen("choice-after-failure-480x800"), 7, "the choices after the failed download");
  EXPECT_EQ(Templates(), (std::vector<std::string>{"news.xml", "sports.xml"}));
  NothingOutsideTheFolder();

  // A template that stalls: Cancel, and then the box closed from outside,
  // each bring the choices back at once.
  ASSERT_TRUE(qtest::SetSettingString(u"SupportWebsite", qk::FromUtf8(stall.Url("")).c_str()));
  auto stalled = [&] {
    int n = 0;
    for (const std::string& r : stall.Requests()) n += r.rfind("GET /slow.xml ", 0) == 0;
    return n;
  };
  for (int round = 0; round < 2; ++round) {
    ASSERT_TRUE(q_.Tap(240, online));
    ASSERT_TRUE(q_.Advance(10));
    ASSERT_TRUE(q_.WaitFor([&] { return stalled() > round; }, 30000));
    HWND box = q_.ActiveWindow();
    ASSERT_NE(box, wizard);
    if (round == 0) {
      Seen("box-stalled-480x800");
      ASSERT_TRUE(q_.Tap(240, kBoxButton));
    } else {
      ASSERT_TRUE(PostMessageW(box, WM_CLOSE, 0, 0));
    }
    ASSERT_TRUE(q_.WaitFor([&] { return q_.ActiveWindow() == wizard; }));
    ASSERT_TRUE(q_.Advance(10));
    PageShows(Seen("choice-after-cancel-480x800"), 7, "the choices after the cancelled download");
  }
  EXPECT_EQ(Templates(), (std::vector<std::string>{"news.xml", "sports.xml"}));

  // The whole list: the templates page lists the two groups.
  ServeList(false);
  ASSERT_TRUE(qtest::SetSettingString(u"SupportWebsite", qk::FromUtf8(site_).c_str()));
  ASSERT_TRUE(q_.Tap(240, online));
  ASSERT_TRUE(q_.Advance(10));
  ASSERT_TRUE(q_.WaitFor([&] {
    (void)q_.Advance(200);
    return q_.ActiveWindow() == wizard;
  }));
  ASSERT_TRUE(q_.Advance(200));
  PageShows(Seen("groups-480x800"), 2, "the templates page");
  NothingOutsideTheFolder();
  EXPECT_FALSE(DeviceFileExists(u"\\Program Files\\Quillet\\OnlineTemplates.txt"));
  EXPECT_TRUE(DeviceFileExists(u"\\Program Files\\Quillet\\SampleChannels.opml"));

  // Into each group: "Back folder" and its channels; the first channel of
  // each is ticked, and the ticks stay when the group is left.
  for (int group = 0; group < 2; ++group) {
    ASSERT_TRUE(q_.Tap(240, kRow1 + group * kPitch));
    ASSERT_TRUE(q_.Advance(10));
    PageShows(Seen("group-" + std::to_string(group) + "-480x800"), 3, "a group");
    ASSERT_TRUE(q_.Tap(240, kRow1 + kPitch));
    ASSERT_TRUE(q_.Advance(10));
    const auto ticked = Seen("group-ticked-" + std::to_string(group) + "-480x800");
    PageShows(ticked, 3, "a group with a tick");
    ASSERT_TRUE(q_.Tap(240, kRow1));  // "Back folder"
    ASSERT_TRUE(q_.Advance(10));
    PageShows(Seen("groups-again-480x800"), 2, "the groups again");
  }
  ASSERT_TRUE(q_.Tap(48, kBar));  // Add
  ASSERT_TRUE(q_.Advance(10));
  ASSERT_TRUE(q_.WaitFor([&] { return q_.ActiveWindow() != wizard; }));
  Seen("channels-480x800");

  // The two channels in "Others", each with the script of its template.
  const int world = ChannelNumber("News - World"), scores = ChannelNumber("Sports - Scores");
  ASSERT_NE(world, 0) << ChannelList();
  ASSERT_NE(scores, 0) << ChannelList();
  EXPECT_EQ(ChannelNumber("News - Local"), 0);
  EXPECT_NE(ChannelList().find("text=\"Others\""), std::string::npos) << ChannelList();
  EXPECT_EQ(Tpl(world), Script("news"));
  EXPECT_EQ(Tpl(scores), Script("sports"));

  // A refresh: the fetch program cuts each story's text out of its page.
  ASSERT_TRUE(q_.Tap(240, kBar));
  ASSERT_TRUE(WaitForRunEnd(1));
  ASSERT_TRUE(q_.WaitFor(
      [&] {
        (void)q_.Advance(600);
        return Pages(world).size() == 2 && Pages(scores).size() == 2;
      },
      60000));
  EXPECT_EQ(Pages(world), (std::vector<std::string>{"<p>world story 0</p>", "<p>world story 1</p>"}));
  EXPECT_EQ(Pages(scores), (std::vector<std::string>{"<p>scores story 0</p>", "<p>scores story 1</p>"}));
  Seen("refreshed-480x800");
}

// The key device: the failed download's box, OK with Enter, then the whole
// download, the templates page by keys, "Add Selected" with the soft key.
TEST_F(TemplatesProgramTest, ByKeysTheTemplatesPageAddsTheChosenChannel) {
  Start("keydevice");
  HWND wizard = q_.ActiveWindow();
  for (int i = 0; i < 6; ++i) ASSERT_TRUE(q_.Key(VK_DOWN));
  ASSERT_TRUE(q_.Key(VK_RETURN));  // "Download Quillet online channels"
  ASSERT_TRUE(q_.WaitFor([&] {
    (void)q_.Advance(100);
    return Text(q_.FocusWindow()) == "OK";
  }));
  Seen("k-box-failed-240x320");
  ASSERT_TRUE(q_.Key(VK_RETURN));
  ASSERT_TRUE(q_.Advance(10));
  EXPECT_EQ(q_.ActiveWindow(), wizard);
  PageShows(Seen("k-choice-after-failure-240x320"), 7, "the choices after the failed download");

  ServeList(false);
  ASSERT_TRUE(q_.Key(VK_RETURN));  // the row stays selected
  ASSERT_TRUE(q_.WaitFor([&] {
    (void)q_.Advance(200);
    return q_.ActiveWindow() == wizard;
  }));
  ASSERT_TRUE(q_.Advance(200));
  PageShows(Seen("k-groups-240x320"), 2, "the templates page");
  ASSERT_TRUE(q_.Key(VK_RETURN));  // the first group, selected at the start
  ASSERT_TRUE(q_.Advance(10));
  PageShows(Seen("k-group-240x320"), 3, "a group");
  ASSERT_TRUE(q_.Key(VK_DOWN));
  ASSERT_TRUE(q_.Key(VK_RETURN));  // ticks its first channel
  ASSERT_TRUE(q_.Advance(10));
  PageShows(Seen("k-group-ticked-240x320"), 3, "a group with a tick");
  ASSERT_TRUE(q_.SoftKey(1));  // "Add Selected"
  ASSERT_TRUE(q_.Advance(10));
  ASSERT_TRUE(q_.WaitFor([&] { return q_.ActiveWindow() != wizard; }));
  Seen("k-channels-240x320");
  const int world = ChannelNumber("News - World"), scores = ChannelNumber("Sports - Scores");
  ASSERT_TRUE(world || scores) << ChannelList();
  EXPECT_FALSE(world && scores);
  EXPECT_EQ(Tpl(world ? world : scores), Script(world ? "news" : "sports"));
  NothingOutsideTheFolder();

  // Again through the menu's New, now from the installed templates: the
  // group no longer lists the channel added, and its other channel is
  // added with the script of its template, or an empty one when its
  // template gave it none (Extra follows the last script of "Sports").
  ASSERT_TRUE(q_.SoftKey(2));  // "Menu"
  ASSERT_TRUE(q_.Key(VK_DOWN));
  Seen("k-menu-240x320");
  ASSERT_TRUE(q_.Key(VK_RETURN));  // "New"
  ASSERT_TRUE(q_.Advance(200));
  wizard = q_.ActiveWindow();
  for (int i = 0; i < 5; ++i) ASSERT_TRUE(q_.Key(VK_DOWN));
  ASSERT_TRUE(q_.Key(VK_RETURN));  // "Choose from installed templates"
  ASSERT_TRUE(q_.Advance(10));    // the page comes...
  ASSERT_TRUE(q_.Advance(200));   // ...and loads the templates
  PageShows(Seen("k-installed-240x320"), 2, "the installed templates");
  ASSERT_TRUE(q_.Key(VK_RETURN));  // the same group
  ASSERT_TRUE(q_.Advance(10));
  PageShows(Seen("k-group-again-240x320"), 2, "the group without its added channel");
  ASSERT_TRUE(q_.Key(VK_DOWN));
  ASSERT_TRUE(q_.Key(VK_RETURN));
  ASSERT_TRUE(q_.SoftKey(1));  // "Add Selected"
  ASSERT_TRUE(q_.Advance(10));
  ASSERT_TRUE(q_.WaitFor([&] { return q_.ActiveWindow() != wizard; }));
  Seen("k-channels-again-240x320");
  const int second = ChannelNumber(world ? "News - Local" : "Sports - Extra");
  ASSERT_NE(second, 0) << ChannelList();
  EXPECT_TRUE(TplExists(second));
  EXPECT_EQ(Tpl(second), world ? Script("news") : "");
}
