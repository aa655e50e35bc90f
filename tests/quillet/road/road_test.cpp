// The main road through the real "Quillet.exe", started as a process on the
// test's own device root with its clock frozen, driven by taps, keys and
// soft keys as the user would, against nginx and the scripted server on
// loopback. Each step leaves a picture of the screen in the pictures folder.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <cstdio>
#include <string>

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
#include "support/screen_checks.h"
#include "user/user.h"

namespace {

class RoadTest : public qtest::ReaderProgramTest {
 protected:
  RoadTest() : ReaderProgramTest("quillet-road") {}
  void TearDown() override {
    unsetenv("QUILLET_URL_OPENER");
    ReaderProgramTest::TearDown();
  }
  // Starts the reader with its clock frozen on 2026-12-08 12:00 UTC.
  void Start(const char* profile) {
    ASSERT_TRUE(qtest::StartReader(profile, &process_, &q_));
  }
  void Shot(const std::string& name) { EXPECT_TRUE(q_.Shot(qtest::PicturesDir() + "/road-" + name + ".png")); }
  qk::gdi::DecodedImage Seen(const std::string& name) { return ShotAndRead("road-" + name); }
  std::string ChannelList() const { return ReadDeviceFile(u"\\Program Files\\Quillet\\ChannelData\\Channels.opml"); }
  // The first start's welcome page: the Back key goes on to the wizard.
  void PassWelcomePage() { ASSERT_TRUE(q_.LeaveWelcomePage()); }
};

using qtest::Text;
using qtest::Light;

// Whether two pictures agree in the rows top..bottom.
bool Same(const qk::gdi::DecodedImage& a, const qk::gdi::DecodedImage& b, int top, int bottom) {
  if (a.width != b.width || a.height != b.height || a.bgra.empty()) return false;
  size_t row = static_cast<size_t>(a.width) * 4;
  return std::equal(a.bgra.begin() + top * row, a.bgra.begin() + bottom * row, b.bgra.begin() + top * row);
}

std::string Picture(const char* name) {
  return qtest::ReadHostFile(std::string(QUILLET_SOURCE_DIR) + "/quillet/res/images/" + name);
}

// Twelve stories, an hour apart, the newest first in the file; the newest
// has a long title, two pictures and a link of its own.
std::string Feed(const std::string& site) {
  std::string s = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<rss version=\"2.0\"><channel><title>Loopback News"
                  "</title><link>" + site + "/</link><description>d</description><image><url>" + site +
                  "/logo.png</url><title>Loopback News</title><link>" + site + "/</link></image>\n";
  for (int i = 0; i < 12; ++i) {
    std::string n = std::to_string(i);
    std::string title = i == 0 ? "Harbour council approves the new ferry terminal, the winter market and a longer "
                                 "quay for the fishing fleet"
                               : "Story " + n;
    std::string body = i == 0 ? "&lt;p&gt;Pictures: &lt;img src=\"" + site + "/pic1.png\"&gt; &lt;img src=\"" + site +
                                    "/pic2.png\"&gt;&lt;/p&gt;&lt;p&gt;The council met late. &lt;a href=\"" + site +
                                    "/more\"&gt;The plans&lt;/a&gt;.&lt;/p&gt;"
                              : "Text of story " + n;
    char date[64];
    snprintf(date, sizeof date, "Tue, 08 Dec 2026 %02d:00:00 GMT", 11 - i);
    s += "<item><title>" + title + "</title><link>" + site + "/story/" + n + "</link><pubDate>" + date +
         "</pubDate><description>" + body + "</description></item>\n";
  }
  return s + "</channel></rss>\n";
}

// Where things are on the 480 x 800 touch screen.
constexpr int kRow1 = 196, kRow2 = 278, kRow3 = 360, kRow4 = 442;  // wizard and URL page rows
constexpr int kBoxButton = 428;                                   // the download box's button
constexpr int kBar = 760;                                         // the image-button bar
constexpr int kHeadline0 = 175, kPitch = 84;                     // the first headline, the row pitch
constexpr int kReadMore = 415;
constexpr int kMenuEntry0 = 231, kMenuPitch = 86;                 // the tap-and-hold menu's entries
constexpr DWORD kHoldMs = 600;
constexpr int kKeyRow1 = 71, kKeyPitch = 34;                     // the key device's wizard rows                                    // "Read More Online" on the newest story

TEST_F(RoadTest, ByTouchAChannelIsAddedByItsUrlRefreshedAndRead) {
  std::string site = "http://127.0.0.1:" + std::to_string(nginx_.port());
  Serve("feed.xml", Feed(site));
  Serve("page.html", "<html><head><title>Not a feed</title></head><body><p>Hello</p></body></html>");
  Serve("logo.png", Picture("294_choice_online_192.png"));
  Serve("pic1.png", Picture("290_choice_url_192.png"));
  Serve("pic2.png", Picture("293_choice_templates_192.png"));
  std::string opened = Host(u"\\") + "/opened.txt";
  std::string opener = Host(u"\\") + "/opener.sh";
  // The note is written whole or not at all: the test waits for the file.
  qtest::WriteHostFile(opener,
                       "#!/bin/sh\nprintf '%s' \"$1\" > \"" + opened + ".part\" && mv \"" + opened + ".part\" \"" + opened + "\"\n");
  chmod(opener.c_str(), 0755);
  setenv("QUILLET_URL_OPENER", opener.c_str(), 1);
  qtest::ScriptedHttpServer slow;
  ASSERT_TRUE(slow.Start());

  // A page shows its rows (and only them) each time it comes back: the
  // rows' bands hold their texts, the page below the last row is bare (no
  // input panel or box left over) and the band at the top is the wizard's.
  auto pageShows = [&](const qk::gdi::DecodedImage& p, int rows, const char* where) {
    for (int i = 0; i < rows; ++i) {
      int middle = kRow1 + i * (kRow2 - kRow1);
      EXPECT_GT(Light(p, 90, middle - 20, 480, middle + 20), 200) << where << ": no row " << i + 1;
    }
    EXPECT_EQ(Light(p, 0, kRow1 + rows * (kRow2 - kRow1) - 30, 480, kBar - 45), 0)
        << where << ": something below the rows";
  };
  Start("");
  ASSERT_TRUE(q_.Advance(200));  // the start-up load finds no list: the welcome page
  PassWelcomePage();             // then the wizard
  const auto choice = Seen("choice-480x800");
  pageShows(choice, 7, "the choice page");
  ASSERT_TRUE(q_.Tap(240, kRow3));  // "Add specific RSS URL"
  ASSERT_TRUE(q_.Advance(10));
  auto url = Seen("url-empty-480x800");
  pageShows(url, 2, "the empty URL page");
  EXPECT_TRUE(Same(choice, url, 55, 105)) << "the wizard's title is covered";
  // Back to the choice page and in again.
  ASSERT_TRUE(q_.Key(VK_ESCAPE));
  ASSERT_TRUE(q_.Advance(10));
  pageShows(Seen("choice-back-480x800"), 7, "the choice page after Back");
  ASSERT_TRUE(q_.Tap(240, kRow3));
  ASSERT_TRUE(q_.Advance(10));
  pageShows(Seen("url-again-480x800"), 2, "the URL page again");
  const std::string empty = ChannelList();

  // The URL row opens the one-field editor, which starts from "http://".
  auto editUrl = [&](const std::string& url) {
    ASSERT_TRUE(q_.Tap(240, kRow1));
    ASSERT_TRUE(q_.Advance(10));
    ASSERT_EQ(Text(q_.ActiveWindow()), "Quillet Reach");
    ASSERT_TRUE(q_.Type(std::u16string(80, u'\b') + qk::FromUtf8(url)));
    ASSERT_EQ(Text(q_.FocusWindow()), url);
    ASSERT_TRUE(q_.SoftKey(2));  // "Save"
    ASSERT_TRUE(q_.Advance(10));
    pageShows(Seen("url-edited-480x800"), 3, "the URL page after the editor");
  };
  auto fetchTitle = [&] {
    ASSERT_TRUE(q_.Tap(240, kRow3));  // "Download Channel Title"
    ASSERT_TRUE(q_.Advance(10));
  };
  auto nothingAdded = [&] {
    EXPECT_EQ(ChannelList(), empty);
    // The failed fetch's temporary file goes once its worker has ended,
    // which on a loaded machine can be after the page shows the failure.
    EXPECT_TRUE(q_.WaitFor(
        [&] {
          (void)q_.Advance(10);
          return !DeviceFileExists(u"\\Program Files\\Quillet\\ChannelData\\Validate~.xml");
        },
        30000));
  };
  HWND wizard = q_.ActiveWindow();

  // A feed URL that fails: the box says why and offers OK; nothing is added.
  editUrl(site + "/missing.xml");
  fetchTitle();
  ASSERT_TRUE(q_.WaitFor([&] { return Text(q_.FocusWindow()) == "OK"; }));
  Shot("url-failed-480x800");
  ASSERT_TRUE(q_.Tap(240, kBoxButton));
  EXPECT_EQ(q_.ActiveWindow(), wizard);
  pageShows(Seen("url-after-box-480x800"), 3, "the URL page after the box");
  nothingAdded();

  // A page that is not a feed gives no title, so "Save" does not appear.
  editUrl(site + "/page.html");
  fetchTitle();
  ASSERT_TRUE(q_.WaitFor([&] { return q_.ActiveWindow() == wizard; }));
  ASSERT_TRUE(q_.Tap(240, kRow4));
  ASSERT_TRUE(q_.Advance(10));
  nothingAdded();

  // Cancel while the server keeps the answer back.
  editUrl(slow.Url("/silent"));
  fetchTitle();
  ASSERT_TRUE(slow.WaitForRequest("/silent"));
  ASSERT_TRUE(q_.Tap(240, kBoxButton));
  ASSERT_TRUE(q_.WaitFor([&] { return q_.ActiveWindow() == wizard; }));
  nothingAdded();

  // The feed: its title is fetched and the channel saved.
  editUrl(site + "/feed.xml");
  fetchTitle();
  ASSERT_TRUE(q_.WaitFor([&] { return q_.ActiveWindow() == wizard; }));
  pageShows(Seen("url-fetched-480x800"), 4, "the URL page with the title");
  ASSERT_TRUE(q_.Tap(240, kRow4));  // "Save"
  ASSERT_TRUE(q_.Advance(10));
  ASSERT_TRUE(q_.WaitFor([&] { return ChannelList().find("Loopback News") != std::string::npos; }));
  EXPECT_NE(ChannelList().find("xmlUrl=\"" + site + "/feed.xml\""), std::string::npos);
  ASSERT_TRUE(q_.Advance(10));
  Shot("channels-480x800");

  // Refresh from the bar.
  ASSERT_TRUE(q_.Tap(240, kBar));
  ASSERT_TRUE(WaitForRunEnd(1));
  EXPECT_NE(ChannelList().find("itemCount=\"12\" newItemCount=\"12\""), std::string::npos);
  Shot("refreshed-480x800");

  // The channel's headlines, unread, newest first.
  ASSERT_TRUE(q_.Tap(240, 175));
  ASSERT_TRUE(q_.Advance(10));
  const auto headlines = Seen("headlines-480x800");
  // The newest story as a page with its logo and pictures.
  ASSERT_TRUE(q_.Tap(240, kHeadline0));
  ASSERT_TRUE(q_.Advance(150));
  Shot("article-480x800");
  // Next, then Previous twice: back to the first and round to the last.
  ASSERT_TRUE(q_.Key(VK_RIGHT));
  ASSERT_TRUE(q_.Advance(150));
  ASSERT_TRUE(q_.Key(VK_LEFT));
  ASSERT_TRUE(q_.Advance(150));
  ASSERT_TRUE(q_.Key(VK_LEFT));
  ASSERT_TRUE(q_.Advance(150));
  Shot("article-last-480x800");
  ASSERT_TRUE(q_.Key(VK_RIGHT));  // round again to the first
  ASSERT_TRUE(q_.Advance(150));
  // "Read More Online" goes to the browser and the view closes.
  ASSERT_TRUE(q_.Tap(60, kReadMore));
  ASSERT_TRUE(q_.WaitFor([&] { return std::filesystem::exists(opened); }));
  EXPECT_EQ(qtest::ReadHostFile(opened), site + "/story/0");
  // The list is whole again: the task bar above it, no strip of the view.
  EXPECT_TRUE(Same(headlines, Seen("headlines-read-480x800"), 0, 52)) << "the view's top is left over";
  // Tap and hold on a headline opens its menu: the second one (read) is
  // marked unread again.
  auto itemMenu = [&](int row, int entry) {
    HWND screen = q_.ActiveWindow();
    ASSERT_TRUE(q_.Press(240, kHeadline0 + row * kPitch));
    ASSERT_TRUE(q_.Advance(kHoldMs));
    // The press shows under the finger for a moment (host time) before the
    // menu opens.
    ASSERT_TRUE(q_.WaitFor([&] { return q_.ActiveWindow() != screen; })) << "no menu on row " << row;
    if (row == 1) Shot("item-menu-480x800");
    ASSERT_TRUE(q_.Tap(240, kMenuEntry0 + entry * kMenuPitch));
    ASSERT_TRUE(q_.Advance(10));
    ASSERT_TRUE(q_.WaitFor([&] { return q_.ActiveWindow() == screen; }));
  };
  itemMenu(1, 2);  // "Mark as Unread"
  // The fourth headline (Story 3, unread) is deleted after a Yes.
  std::string boxes = Host(u"\\") + "/boxes.txt";
  ASSERT_TRUE(q_.LogMessageBoxes(boxes));
  ASSERT_TRUE(q_.AnswerMessageBoxes({IDNO, IDYES}));
  itemMenu(3, 3);  // "Delete this Article", No
  itemMenu(3, 3);  // and Yes
  EXPECT_EQ(qtest::ReadHostFile(boxes),
            "Confirm Delete\tAre you sure you want to delete this item?\t7\n"
            "Confirm Delete\tAre you sure you want to delete this item?\t6\n");
  Shot("headlines-after-480x800");
  // Back to the channels: the counts went with the channel.
  ASSERT_TRUE(q_.Tap(48, kBar));
  ASSERT_TRUE(q_.Advance(10));
  EXPECT_NE(ChannelList().find("itemCount=\"11\" newItemCount=\"9\""), std::string::npos) << ChannelList();
  Shot("channels-after-480x800");

  // The store holds what the screens showed: the newest and the oldest
  // story read, Story 1 unread again, Story 3 gone.
  std::map<std::string, DWORD> states;
  for (const auto& entry : std::filesystem::directory_iterator(Host(u"\\Program Files\\Quillet\\ChannelData"))) {
    std::string name = entry.path().filename().string();
    if (name.size() != 9 || name.rfind("Ch", 0) != 0 || name.substr(5) != ".bin") continue;
    CItemStore store(0);
    store.Open(qk::FromUtf8("\\Program Files\\Quillet\\ChannelData\\" + name).c_str(), 0, 1);
    store.ResetRecord();
    while (store.MoveNext()) states[qk::ToUtf8(store.Current().link.str())] = store.Current().readFlag;
  }
  ASSERT_EQ(states.size(), 11u);
  EXPECT_EQ(states.count(site + "/story/3"), 0u);
  for (const auto& [link, flag] : states) {
    bool read = link == site + "/story/0" || link == site + "/story/11";
    EXPECT_EQ(flag >= 2, read) << link;
  }
}
// The key device (240 x 320, 96 dpi, no touch screen): soft keys, arrows
// and Enter through a channel that is already in the list.
TEST_F(RoadTest, ByKeysAChannelIsRefreshedReadAndMarked) {
  std::string site = "http://127.0.0.1:" + std::to_string(nginx_.port());
  Serve("feed.xml", Feed(site));
  Serve("logo.png", Picture("294_choice_online_192.png"));
  Serve("pic1.png", Picture("290_choice_url_192.png"));
  Serve("pic2.png", Picture("293_choice_templates_192.png"));
  WriteDeviceFile(u"\\Program Files\\Quillet\\ChannelData\\Channels.opml",
                  "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<opml version=\"1.0\"><head><title>t</title></head>"
                  "<body nextID=\"101\"><outline text=\"Others\" type=\"rss\" uniqueID=\"100\">"
                  "<outline text=\"Loopback News\" type=\"rss\" uniqueID=\"100\" xmlUrl=\"" + site +
                  "/feed.xml\"/></outline></body></opml>\n");
  Start("keydevice");
  ASSERT_TRUE(q_.Advance(200));
  ASSERT_TRUE(q_.Advance(10));
  ASSERT_TRUE(q_.SoftKey(1));  // "Refresh"
  ASSERT_TRUE(WaitForRunEnd(1));
  ASSERT_NE(ChannelList().find("itemCount=\"12\" newItemCount=\"12\""), std::string::npos) << ChannelList();
  Shot("k-refreshed-240x320");
  ASSERT_TRUE(q_.Key(VK_DOWN));
  ASSERT_TRUE(q_.Key(VK_RETURN));
  ASSERT_TRUE(q_.Advance(10));
  Shot("k-headlines-240x320");
  ASSERT_TRUE(q_.Key(VK_DOWN));
  ASSERT_TRUE(q_.Key(VK_RETURN));
  ASSERT_TRUE(q_.Advance(150));
  Shot("k-article-240x320");
  ASSERT_TRUE(q_.Key(VK_RIGHT));  // Story 2
  ASSERT_TRUE(q_.Advance(150));
  ASSERT_TRUE(q_.Key(VK_LEFT));  // Story 1 again
  ASSERT_TRUE(q_.Advance(150));
  // "Delete" from the article's menu, confirmed: the view closes and the
  // headline goes.
  ASSERT_TRUE(q_.AnswerMessageBoxes({IDYES}));
  ASSERT_TRUE(q_.SoftKey(2));
  ASSERT_TRUE(q_.Tap(150, 114));
  ASSERT_TRUE(q_.Advance(10));
  EXPECT_NE(ChannelList().find("itemCount=\"11\" newItemCount=\"10\""), std::string::npos) << ChannelList();
  // The headline menu closes with Back: the keys do not reach the list
  // beneath and nothing of the menu stays.
  HWND list = q_.ActiveWindow();
  const auto before = Seen("k-headlines-before-menu-240x320");
  ASSERT_TRUE(q_.SoftKey(2));
  const auto menu = Seen("k-headline-menu-240x320");
  EXPECT_GT(Light(menu, 120, 10, 235, 280), 5000) << "no menu";
  ASSERT_TRUE(q_.Key(VK_DOWN));
  ASSERT_TRUE(q_.Key(VK_ESCAPE));
  ASSERT_TRUE(q_.Advance(10));
  EXPECT_EQ(q_.ActiveWindow(), list);
  EXPECT_TRUE(Same(before, Seen("k-menu-closed-240x320"), 0, 320)) << "the menu is left over";
  // "Mark All As Read", the fourth entry, with Down and Enter, then back to
  // the channels.
  ASSERT_TRUE(q_.SoftKey(2));
  for (int i = 0; i < 4; ++i) ASSERT_TRUE(q_.Key(VK_DOWN));
  ASSERT_TRUE(q_.Key(VK_RETURN));
  ASSERT_TRUE(q_.Advance(10));
  EXPECT_EQ(q_.ActiveWindow(), list) << "a key went through the menu";
  EXPECT_LT(Light(Seen("k-headlines-marked-240x320"), 120, 10, 235, 280), 2000) << "the menu is left over";
  ASSERT_TRUE(q_.SoftKey(1));  // "Channels"
  ASSERT_TRUE(q_.Advance(10));
  EXPECT_LT(Light(Seen("k-channels-after-240x320"), 120, 10, 235, 280), 2000) << "the menu is left over";
  EXPECT_NE(ChannelList().find("itemCount=\"11\" newItemCount=\"0\""), std::string::npos) << ChannelList();
}

// The key device's wizard: the choice page, the URL page, Cancel back to the
// choice page and in again, the download box and back; each page shows its
// rows after each return.
TEST_F(RoadTest, ByKeysAChannelIsAddedByItsUrl) {
  std::string site = "http://127.0.0.1:" + std::to_string(nginx_.port());
  Serve("feed.xml", Feed(site));
  Start("keydevice");
  ASSERT_TRUE(q_.Advance(200));
  PassWelcomePage();
  // Rows of 240 x 320 pages: each band holds its text; below the last the
  // page is bare.
  auto pageShows = [&](const qk::gdi::DecodedImage& p, int rows, const char* where) {
    for (int i = 0; i < rows; ++i) {
      int middle = kKeyRow1 + i * kKeyPitch;
      EXPECT_GT(Light(p, 36, middle - 8, 240, middle + 8), 30) << where << ": no row " << i + 1;
    }
    EXPECT_EQ(Light(p, 0, kKeyRow1 + rows * kKeyPitch - 12, 240, 320 - 30), 0) << where << ": something below the rows";
  };
  const auto choice = Seen("k-choice-240x320");
  pageShows(choice, 7, "the choice page");
  ASSERT_TRUE(q_.Key(VK_DOWN));
  ASSERT_TRUE(q_.Key(VK_DOWN));
  ASSERT_TRUE(q_.Key(VK_RETURN));  // "Add specific RSS URL"
  ASSERT_TRUE(q_.Advance(200));
  pageShows(Seen("k-url-empty-240x320"), 2, "the empty URL page");
  ASSERT_TRUE(q_.SoftKey(2));  // "Cancel": back to the choice page
  ASSERT_TRUE(q_.Advance(10));
  pageShows(Seen("k-choice-back-240x320"), 7, "the choice page after Cancel");
  ASSERT_TRUE(q_.Key(VK_RETURN));  // the URL row stays selected
  ASSERT_TRUE(q_.Advance(200));
  pageShows(Seen("k-url-again-240x320"), 2, "the URL page again");
  ASSERT_TRUE(q_.Type(qk::FromUtf8(site.substr(7) + "/feed.xml")));
  ASSERT_TRUE(q_.Key(VK_DOWN));
  ASSERT_TRUE(q_.Key(VK_DOWN));
  ASSERT_TRUE(q_.Key(VK_RETURN));  // "Download Channel Title": the box comes and goes
  // The box's progress runs on the program's frozen clock; it ends on its
  // OK button, which Enter presses.
  ASSERT_TRUE(q_.WaitFor([&] {
    (void)q_.Advance(100);
    return Text(q_.FocusWindow()) == "OK" || Text(q_.FocusWindow()) == "Loopback News";
  }));
  Shot("k-url-box-240x320");
  if (Text(q_.FocusWindow()) == "OK") {
    ASSERT_TRUE(q_.Key(VK_RETURN));
  }
  ASSERT_TRUE(q_.Advance(10));
  pageShows(Seen("k-url-after-box-240x320"), 3, "the URL page after the box");
}

}  // namespace
