// The reader in its real SDL window on a virtual X server (Xvfb), driven by
// real X input through xdotool (the XTest extension): what a person types
// and clicks goes the way it goes for a person, through the desktop's
// keyboard layout and text input. The program runs on the test's own device
// root with its clock frozen; its state is read over the message bus.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "kernel/kernel.h"
#include "kernel/process.h"
#include "gdi/image_codec.h"
#include "kernel/wstring.h"
#include "support/device_fixture.h"
#include "support/http_server.h"
#include "support/net_servers.h"
#include "support/pictures.h"
#include "support/remote_program.h"
#include "support/screen_checks.h"
#include "user/user.h"
#include "xwindow_fixture.h"

namespace {

using qtest::Text;

// The feed addresses of a channel list, in order.
std::vector<std::string> FeedAddresses(const std::string& list) {
  std::vector<std::string> out;
  for (size_t at = list.find("xmlUrl=\""); at != std::string::npos; at = list.find("xmlUrl=\"", at + 1)) {
    size_t start = at + 8, end = list.find('"', start);
    if (end == std::string::npos) break;
    out.push_back(list.substr(start, end - start));
  }
  return out;
}

class RealWindowTest : public qtest::XWindowTest {
 protected:
  void SetUp() override {
    XWindowTest::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    if (!qnet::PeerInstalled("xclip")) GTEST_SKIP() << "xclip is not installed";
    qk::SetProgramHost(u"Ambrel.exe", AMBREL_EXE);
    docroot_ = qnet::MakeTempFolder("quillet-realwindow");
    ASSERT_TRUE(nginx_.Start(docroot_));
  }
  void TearDown() override {
    XWindowTest::TearDown();
    nginx_.Stop();
    if (!docroot_.empty()) qnet::RemoveTree(docroot_);
  }

  // Puts text on the X server's clipboard: xclip owns it from then on
  // (it serves every paste until the server ends).
  void Copy(const std::string& text) {
    std::string file = Host(u"\\") + "/clipboard.txt";
    qtest::WriteHostFile(file, text);
    qnet::ChildProcess xclip;
    ASSERT_TRUE(xclip.Start({"env", "DISPLAY=" + display_, "xclip", "-selection", "clipboard", "-i", file}, false, ""));
    ASSERT_EQ(xclip.Wait(), 0);
    EXPECT_EQ(ClipboardText(), text);
  }
  // The X server's clipboard as its owner gives it (its first line).
  std::string ClipboardText() {
    qnet::ChildProcess out;
    if (!out.Start({"env", "DISPLAY=" + display_, "timeout", "60", "xclip", "-selection", "clipboard", "-o"}, true,
                   ""))
      return "failed";
    std::string line = out.ReadLine();
    out.Wait();
    return line;
  }
  void Shot(const std::string& name) {
    EXPECT_TRUE(q_.Shot(qtest::PicturesDir() + "/realwindow-" + name + ".png"));
  }
  // A picture of the program's screen, decoded (empty when it failed).
  qk::gdi::DecodedImage Picture(const std::string& name) {
    qk::gdi::DecodedImage image;
    const std::string path = qtest::PicturesDir() + "/realwindow-" + name + ".png";
    if (!q_.Shot(path)) return image;
    const std::string bytes = qtest::ReadHostFile(path);
    qk::gdi::DecodePng(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &image);
    return image;
  }
  // Closes the window as a desktop does (its close button): the program
  // runs its Exit steps (they remove the downloader's temporary file, put
  // there now) from the screen it shows and ends within two seconds with
  // exit code 0, its settings and channel list as they were.
  void CloseWindowAndExpectCleanEnd() {
    const std::string list = ChannelList();
    WriteDeviceFile(u"\\QuilletDownloader.tmp", "partial");
    qnet::ChildProcess close;
    ASSERT_TRUE(close.Start({"env", "DISPLAY=" + display_, CLOSE_WINDOW_EXE, window_}, false, ""));
    ASSERT_EQ(close.Wait(), 0) << "the window does not take the close request";
    EXPECT_EQ(WaitForSingleObject(process_, 2000), WAIT_OBJECT_0) << "the program did not end within 2 s";
    EXPECT_EQ(qtest::WaitForExitCode(process_, 30000), 0u);
    EXPECT_FALSE(DeviceFileExists(u"\\QuilletDownloader.tmp"));
    // The list may have been saved with new counts, but whole: the same
    // channels, the document ended.
    EXPECT_EQ(FeedAddresses(ChannelList()), FeedAddresses(list));
    EXPECT_NE(ChannelList().find("</opml>"), std::string::npos) << ChannelList();
    EXPECT_NE(ReadDeviceFile(u"\\Registry\\HKCU.reg").find("Program Files\\\\Quillet"), std::string::npos);
  }
  std::string ChannelList() const { return ReadDeviceFile(u"\\Program Files\\Quillet\\ChannelData\\Channels.opml"); }
  // The first start's welcome page, left with the desktop's Escape key (the
  // phone's Back key), which goes on to the wizard.
  void PassWelcomePage(const char* title) {
    ASSERT_TRUE(Until([&] { return Text(q_.ActiveWindow()) == title && q_.ActiveWindow() != q_.Window(); }));
    const HWND welcome = q_.ActiveWindow();
    Key("Escape");
    ASSERT_TRUE(Until([&] { return q_.ActiveWindow() != welcome && Text(q_.ActiveWindow()) == title; }));
  }

  std::string docroot_;
  qtest::NginxServer nginx_;
  // The times each of the reader's threads went to sleep (voluntary
  // context switches), by thread: each is a wake-up after it.
  std::map<std::string, long> Sleeps() const {
    std::map<std::string, long> sleeps;
    for (const auto& task : std::filesystem::directory_iterator("/proc/" + std::to_string(pid_) + "/task")) {
      std::ifstream status(task.path() / "status");
      std::string line, name;
      while (std::getline(status, line)) {
        if (line.rfind("Name:", 0) == 0) name = line.substr(5);
        if (line.rfind("voluntary_ctxt_switches:", 0) == 0)
          sleeps[task.path().filename().string() + name] = std::atol(line.c_str() + 24);
      }
    }
    return sleeps;
  }
  // How many times the reader woke in two seconds of being left alone;
  // which threads woke, in why. The quieter of two such spans: the first
  // may still hold the last of the input's work (the screen shown in the
  // window after the reader answered the test, and the window system's
  // answers to that), which is no waking to look.
  long WakesWhileLeftAlone(std::string* why) {
    long least = -1;
    for (int span = 0; span < 2 && least != 0; ++span) {
      auto before = Sleeps();
      std::this_thread::sleep_for(std::chrono::seconds(2));  // the span the rate is taken over
      long total = 0;
      std::string threads;
      for (const auto& [thread, count] : Sleeps()) {
        long woke = count - before[thread];
        total += woke;
        if (woke) threads += " thread " + thread + ": " + std::to_string(woke);
      }
      if (least < 0 || total < least) {
        least = total;
        *why = threads;
      }
    }
    return least;
  }

};

std::string Feed(const std::string& site) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<rss version=\"2.0\"><channel><title>Typed Channel</title>"
         "<link>" + site + "/</link><description>d</description>"
         "<item><title>One</title><link>" + site + "/one</link><description>x</description></item>"
         "</channel></rss>\n";
}

// Where things are on the 480 x 800 touch screen: the wizard's and the URL
// page's rows.
constexpr int kRow1 = 196, kRow3 = 360, kRow4 = 442;

// The first start's wizard, a feed's address typed on the desktop's
// keyboard with its punctuation and a Backspace mid-word, its title
// fetched from the server and the channel saved.
TEST_F(RealWindowTest, ByTouchAndKeyboardAChannelIsAddedByItsTypedUrl) {
  const std::string hostPort = "127.0.0.1:" + std::to_string(nginx_.port());
  const std::string url = "http://" + hostPort + "/feed000.xml";
  qtest::WriteHostFile(docroot_ + "/feed000.xml", Feed("http://" + hostPort));
  // The desktop's browser: a script that notes the address it is given,
  // whole or not at all (it runs beside the reader).
  const std::string opener = Host(u"\\") + "/opener.sh";
  const std::string opened = Host(u"\\") + "/opened.txt";
  qtest::WriteHostFile(opener, "#!/bin/sh\nprintf '%s' \"$1\" > \"" + opened + ".part\" && mv \"" + opened + ".part\" \"" +
                                   opened + "\"\n");
  chmod(opener.c_str(), 0755);
  setenv("QUILLET_URL_OPENER", opener.c_str(), 1);
  Start("");
  unsetenv("QUILLET_URL_OPENER");
  ASSERT_TRUE(q_.Advance(200));  // the start-up load finds no list: the welcome page
  PassWelcomePage("Quillet Reach");  // then the wizard
  const HWND wizard = q_.ActiveWindow();
  const HWND choice = q_.FocusWindow();
  Shot("choice-480x800");
  Click(240, kRow3);  // "Add specific RSS URL"
  ASSERT_TRUE(Until([&] { return q_.FocusWindow() != choice; }));
  EXPECT_EQ(q_.ActiveWindow(), wizard);

  // The URL row opens the one-field editor, which starts from "http://".
  Click(240, kRow1);
  ASSERT_TRUE(Until([&] { return q_.ActiveWindow() != wizard && Text(q_.FocusWindow()) == "http://"; }));
  const HWND editor = q_.ActiveWindow();
  const HWND field = q_.FocusWindow();
  Type(hostPort + "/feex");
  ASSERT_TRUE(Until([&] { return Text(field) == "http://" + hostPort + "/feex"; })) << Text(field);
  // Backspace deletes a character of the text; the editor stays.
  Key("BackSpace");
  ASSERT_TRUE(Until([&] { return Text(field) == "http://" + hostPort + "/fee"; })) << Text(field);
  EXPECT_EQ(q_.ActiveWindow(), editor);
  Type("d000.xml");
  ASSERT_TRUE(Until([&] { return Text(field) == url; })) << Text(field);
  // The edit's keys with Control: all of it copied to the desktop's
  // clipboard and cut, the cut undone, then cut again and pasted back, the
  // paste undone as one change and that undone in turn.
  Key("ctrl+a");
  Key("ctrl+c");
  ASSERT_TRUE(Until([&] { return ClipboardText() == url; })) << ClipboardText();
  Key("ctrl+x");
  ASSERT_TRUE(Until([&] { return Text(field).empty(); })) << Text(field);
  Key("ctrl+z");
  ASSERT_TRUE(Until([&] { return Text(field) == url; })) << Text(field);
  Key("ctrl+a");
  Key("ctrl+x");
  ASSERT_TRUE(Until([&] { return Text(field).empty(); })) << Text(field);
  Key("ctrl+v");
  ASSERT_TRUE(Until([&] { return Text(field) == url; })) << Text(field);
  Key("ctrl+z");
  ASSERT_TRUE(Until([&] { return Text(field).empty(); })) << Text(field);
  Key("ctrl+z");
  ASSERT_TRUE(Until([&] { return Text(field) == url; })) << Text(field);
  Shot("url-typed-480x800");
  Key("F2");  // "Save"
  ASSERT_TRUE(Until([&] { return q_.ActiveWindow() == wizard; }));

  // "Download Channel Title" fetches the feed; its box closes when done.
  Click(240, kRow3);
  ASSERT_TRUE(Until([&] { return nginx_.AccessLog().find("/feed000.xml") != std::string::npos; }))
      << nginx_.AccessLog();
  ASSERT_TRUE(Until([&] {
    return q_.ActiveWindow() == wizard && !DeviceFileExists(u"\\Program Files\\Quillet\\ChannelData\\Validate~.xml");
  }));
  Shot("url-fetched-480x800");
  Click(240, kRow4);  // "Save"
  ASSERT_TRUE(Until([&] { return ChannelList().find("Typed Channel") != std::string::npos; })) << ChannelList();
  EXPECT_NE(ChannelList().find("xmlUrl=\"" + url + "\""), std::string::npos) << ChannelList();
  ASSERT_TRUE(q_.Advance(200));  // the list loads again after the wizard
  Shot("channels-480x800");

  // Refresh from the bar brings the channel's story; the channel opens on
  // its headlines, the story is read and left for the headlines again.
  const HWND channels = q_.ActiveWindow();
  Click(240, 760);
  ASSERT_TRUE(Until([&] { return ChannelList().find("itemCount=\"1\"") != std::string::npos; })) << ChannelList();
  Shot("refreshed-480x800");
  Click(240, 175);
  ASSERT_TRUE(Until([&] { return q_.ActiveWindow() != channels; }));
  const HWND headlines = q_.ActiveWindow();
  Shot("headlines-480x800");
  Click(240, 175);
  ASSERT_TRUE(Until([&] { return q_.ActiveWindow() != headlines; }));
  ASSERT_TRUE(q_.Advance(150));  // the page is built on a timer
  Shot("article-480x800");
  // The reader opened its HTML viewer for the first page it showed.
  EXPECT_NE(qtest::ReadHostFile("/proc/" + std::to_string(pid_) + "/maps").find("/libqk_htmlview.so"),
            std::string::npos);
  // The article shows full screen: "Read More Online..." hands its link to
  // the desktop's browser and goes back to the headlines.
  Click(60, 155);
  ASSERT_TRUE(Until([&] { return q_.ActiveWindow() == headlines; }));
  // The browser is a process of its own: its note comes when it comes.
  ASSERT_TRUE(Until([&] { return std::filesystem::exists(opened); }));
  EXPECT_EQ(qtest::ReadHostFile(opened), "http://" + hostPort + "/one");
  Shot("headlines-back-480x800");
  // The story again, and the window closed over the two screens.
  Click(240, 175);
  ASSERT_TRUE(Until([&] { return q_.ActiveWindow() != headlines; }));
  CloseWindowAndExpectCleanEnd();
}

// A reader left alone in its window sleeps until input or a message
// comes: it does not wake to look at the window. Input still arrives
// after such a sleep, and the reader sleeps again after handling it.
TEST_F(RealWindowTest, AnIdleReaderInItsWindowSleepsUntilInputComes) {
  Start("");
  ASSERT_TRUE(q_.Advance(200));  // the start-up load finds no list: the welcome page
  PassWelcomePage("Quillet Reach");  // then the wizard
  const HWND choice = q_.FocusWindow();
  ASSERT_TRUE(q_.Settle());
  std::string why;
  EXPECT_LT(WakesWhileLeftAlone(&why), 10) << why;
  Click(240, kRow3);  // "Add specific RSS URL"
  ASSERT_TRUE(Until([&] { return q_.FocusWindow() != choice; }));
  ASSERT_TRUE(q_.Settle());
  why.clear();
  EXPECT_LT(WakesWhileLeftAlone(&why), 10) << why;
}

// The key device's face (240 x 320): the same address typed into the URL
// row's own edit, where Backspace deletes too, its end pasted from the
// desktop's clipboard; arrows and Enter fetch the title and the left soft
// key adds the channel.
TEST_F(RealWindowTest, ByKeysAChannelIsAddedByItsTypedUrl) {
  const std::string hostPort = "127.0.0.1:" + std::to_string(nginx_.port());
  const std::string url = "http://" + hostPort + "/feed000.xml";
  qtest::WriteHostFile(docroot_ + "/feed000.xml", Feed("http://" + hostPort));
  Start("keydevice");
  ASSERT_TRUE(q_.Advance(200));
  PassWelcomePage("Quillet");
  const HWND wizard = q_.ActiveWindow();
  Key("Down");
  Key("Down");
  Key("Return");  // "Add specific RSS URL"
  ASSERT_TRUE(Until([&] { return Text(q_.FocusWindow()) == "http://"; }));
  const HWND first = q_.FocusWindow();
  Key("F2");  // "Cancel": back to the choice page
  ASSERT_TRUE(Until([&] { return q_.FocusWindow() != first; }));
  const HWND choice = q_.FocusWindow();
  // In again: what is typed at once goes into the URL row's edit, before
  // any timer of the page has run.
  Key("Return");
  ASSERT_TRUE(Until([&] { return q_.FocusWindow() != choice; }));
  ASSERT_EQ(Text(q_.FocusWindow()), "http://");
  const HWND field = q_.FocusWindow();
  Type(hostPort + "/feex");
  ASSERT_TRUE(Until([&] { return Text(field) == "http://" + hostPort + "/feex"; })) << Text(field);
  Key("BackSpace");
  ASSERT_TRUE(Until([&] { return Text(field) == "http://" + hostPort + "/fee"; })) << Text(field);
  EXPECT_EQ(q_.ActiveWindow(), wizard);
  // The rest comes from the desktop's clipboard.
  Copy("d000.xml");
  Key("shift+Insert");
  ASSERT_TRUE(Until([&] { return Text(field) == url; })) << Text(field);
  Shot("k-url-typed-240x320");
  Key("Down");  // the address is kept; "Download Channel Title" shows
  Key("Down");
  Key("Return");
  ASSERT_TRUE(Until([&] { return nginx_.AccessLog().find("/feed000.xml") != std::string::npos; }))
      << nginx_.AccessLog();
  // The fetched title is put in the title row's edit.
  ASSERT_TRUE(Until([&] { return Text(q_.FocusWindow()) == "Typed Channel"; })) << Text(q_.FocusWindow());
  Key("F1");  // "Add Channel"
  ASSERT_TRUE(Until([&] { return ChannelList().find("Typed Channel") != std::string::npos; })) << ChannelList();
  EXPECT_NE(ChannelList().find("xmlUrl=\"" + url + "\""), std::string::npos) << ChannelList();
  ASSERT_TRUE(q_.Settle());
  Shot("k-channels-240x320");

  // The left soft key refreshes; the channel opens on its headlines and
  // its story is read, each with Enter, and left with the left soft key.
  const HWND channels = q_.ActiveWindow();
  Key("F1");  // "Refresh"
  ASSERT_TRUE(Until([&] { return ChannelList().find("itemCount=\"1\"") != std::string::npos; })) << ChannelList();
  Shot("k-refreshed-240x320");
  Key("Down");
  Key("Return");
  ASSERT_TRUE(Until([&] { return q_.ActiveWindow() != channels; }));
  const HWND headlines = q_.ActiveWindow();
  Shot("k-headlines-240x320");
  Key("Return");
  ASSERT_TRUE(Until([&] { return q_.ActiveWindow() != headlines; }));
  ASSERT_TRUE(q_.Advance(150));
  Shot("k-article-240x320");
  Key("F1");  // "Headlines"
  ASSERT_TRUE(Until([&] { return q_.ActiveWindow() == headlines; }));
  Shot("k-headlines-back-240x320");
  // The headline menu by keys: Back closes it and leaves nothing of it;
  // Down four times and Enter choose "Mark All As Read".
  // (The menu leaves the headlines active; it is a window of its own.)
  auto menuOpen = [] { return FindWindowW(u"ShellPopupMenu", nullptr) != nullptr; };
  Key("F2");  // "Menu"
  ASSERT_TRUE(Until(menuOpen));
  Shot("k-menu-240x320");
  Key("Down");
  Key("Escape");
  ASSERT_TRUE(Until([&] { return !menuOpen(); }));
  EXPECT_EQ(q_.ActiveWindow(), headlines);
  Shot("k-menu-closed-240x320");
  Key("F2");
  ASSERT_TRUE(Until(menuOpen));
  for (int i = 0; i < 4; ++i) Key("Down");
  Key("Return");
  ASSERT_TRUE(Until([&] { return ChannelList().find("newItemCount=\"0\"") != std::string::npos; }))
      << ChannelList();
  EXPECT_FALSE(menuOpen());
  EXPECT_EQ(q_.ActiveWindow(), headlines);
  Shot("k-headlines-marked-240x320");
  // The window closed while the menu is open.
  Key("F2");
  ASSERT_TRUE(Until(menuOpen));
  CloseWindowAndExpectCleanEnd();
}

// A value of the sync account as the reader wrote it ("(none)" when absent).
std::string AccountValue(const char16_t* name) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Marrowby\\Quillet Reach\\Ventrel", 0, KEY_READ, &key) !=
      ERROR_SUCCESS)
    return "(none)";
  BYTE data[1024] = {0};
  DWORD type = 0, size = sizeof data - 2;
  LONG r = RegQueryValueExW(key, name, nullptr, &type, data, &size);
  RegCloseKey(key);
  return r == ERROR_SUCCESS && type == REG_SZ ? qk::ToUtf8(reinterpret_cast<const char16_t*>(data)) : "(none)";
}

// The sync account's name and password and then the search's keywords,
// typed on the desktop's keyboard with capitals, punctuation and letters
// beyond ASCII: each arrives whole where it is stored or sent.
TEST_F(RealWindowTest, ByTouchTheAccountAndTheSearchWordsAreTypedWhole) {
  const std::string hostPort = "127.0.0.1:" + std::to_string(nginx_.port());
  std::filesystem::create_directories(docroot_ + "/ajax/services/feed");
  qtest::WriteHostFile(docroot_ + "/ajax/services/feed/find",
                       "{\"responseData\": {\"entries\": ["
                       "{\"url\":\"http://" + hostPort + "/a.xml\",\"title\":\"The \\\"Quay\\\" Post\",\"link\":\"\"},"
                       "{\"url\":\"http://" + hostPort + "/b.xml\",\"title\":\"Caf\\u00e9 Radio\",\"link\":\"\"}"
                       "]}, \"responseStatus\": 200}");
  HKEY settings = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, u"Software\\Marrowby\\Quillet Reach\\Settings", 0, nullptr, 0,
                            KEY_ALL_ACCESS, nullptr, &settings, nullptr),
            ERROR_SUCCESS);
  const std::u16string host = qk::FromUtf8(hostPort);
  RegSetValueExW(settings, u"FeedSearchHost", 0, REG_SZ, reinterpret_cast<const BYTE*>(host.c_str()),
                 DWORD((host.size() + 1) * sizeof(char16_t)));
  RegCloseKey(settings);
  // A desktop keyboard whose letters beyond ASCII sit on its AltGr level,
  // so that xdotool types them with keys of the keyboard and binds no key
  // for the moment (a reader that looks the key up after it was unbound
  // would see nothing). (Capitals beyond ASCII typed by xdotool came
  // through as small letters and are left out.)
  qnet::ChildProcess layout;
  ASSERT_TRUE(layout.Start({"env", "DISPLAY=" + display_, "setxkbmap", "-layout", "us", "-variant", "altgr-intl"},
                           false, ""));
  ASSERT_EQ(layout.Wait(), 0);
  const std::string user = "Maja.O'Brien+nyhetsläsare";
  const std::string password = "Pä#!-wörd \"1\"";
  const std::string keywords = "Harbour Sjöbod \"news\"";
  Start("");
  ASSERT_TRUE(q_.Advance(200));
  PassWelcomePage("Quillet Reach");
  const HWND wizard = q_.ActiveWindow();
  const HWND choice = q_.FocusWindow();
  // A field's editor: the text typed, then "Save".
  auto typeInto = [&](int row, const std::string& text, const char* picture) {
    Click(240, row);
    ASSERT_TRUE(Until([&] { return q_.ActiveWindow() != wizard; }));
    const HWND field = q_.FocusWindow();
    TypeWhole(field, text);
    ASSERT_EQ(Text(field), text);
    Shot(picture);
    Key("F2");  // "Save"
    ASSERT_TRUE(Until([&] { return q_.ActiveWindow() == wizard; }));
  };
  Click(240, kRow1);  // "Configure Google Reader syncing"
  ASSERT_TRUE(Until([&] { return q_.FocusWindow() != choice; }));
  typeInto(kRow1, user, "account-user-typed-480x800");
  EXPECT_EQ(AccountValue(u"Username"), user);
  typeInto(278, password, "account-password-typed-480x800");
  EXPECT_EQ(AccountValue(u"Password"), password);
  Shot("account-480x800");
  Click(48, 760);  // OK
  ASSERT_TRUE(Until([&] { return !IsWindow(wizard); }));

  // The search, from the New command.
  PostMessageW(q_.Window(), WM_COMMAND, 32795, 0);
  ASSERT_TRUE(Until([&] { return Text(q_.ActiveWindow()) == "Quillet Reach"; }));
  const HWND search = q_.ActiveWindow();
  const HWND choices = q_.FocusWindow();
  Click(240, 524);  // "Search online for channels"
  ASSERT_TRUE(Until([&] { return q_.FocusWindow() != choices; }));
  Click(240, kRow1);
  ASSERT_TRUE(Until([&] { return q_.ActiveWindow() != search; }));
  const HWND field = q_.FocusWindow();
  TypeWhole(field, keywords);
  ASSERT_EQ(Text(field), keywords);
  Shot("keywords-typed-480x800");
  Key("F2");
  ASSERT_TRUE(Until([&] { return q_.ActiveWindow() == search; }));
  Click(240, 278);  // "Search online"
  ASSERT_TRUE(Until([&] {
    return nginx_.AccessLog().find("q=Harbour+Sj%C3%B6bod+%22news%22") != std::string::npos &&
           q_.ActiveWindow() == search && !DeviceFileExists(u"\\Program Files\\Quillet\\ChannelData\\Validate~.xml");
  })) << nginx_.AccessLog();
  Shot("results-480x800");
  // Each tap's row acts 5 ms later, on the program's frozen clock.
  Click(240, 278);
  ASSERT_TRUE(q_.Advance(10));
  Click(240, 360);
  ASSERT_TRUE(q_.Advance(10));
  Shot("results-checked-480x800");
  Click(48, 760);  // OK: both results are added to the keywords' category
  ASSERT_TRUE(Until([&] { return ChannelList().find("Caf\xC3\xA9 Radio") != std::string::npos; })) << ChannelList();
  EXPECT_NE(ChannelList().find("text='Harbour Sjöbod &quot;news&quot;'"), std::string::npos) << ChannelList();
  EXPECT_NE(ChannelList().find("text='The &quot;Quay&quot; Post'"), std::string::npos) << ChannelList();
  EXPECT_EQ(FeedAddresses(ChannelList()),
            (std::vector<std::string>{"http://" + hostPort + "/a.xml", "http://" + hostPort + "/b.xml"}));
  CloseWindowAndExpectCleanEnd();
}

// Pixels of b that differ from a (both pictures of the same screen), and
// the rectangle that holds them.
struct Difference {
  int count = 0;
  int left = 1 << 30, top = 1 << 30, right = -1, bottom = -1;
};
Difference Compare(const qk::gdi::DecodedImage& a, const qk::gdi::DecodedImage& b, const RECT* within = nullptr) {
  Difference d;
  if (a.width != b.width || a.height != b.height) return d;
  for (int y = within ? within->top : 0; y < (within ? within->bottom : a.height); ++y)
    for (int x = within ? within->left : 0; x < (within ? within->right : a.width); ++x) {
      size_t i = (static_cast<size_t>(y) * a.width + x) * 4;
      if (std::memcmp(&a.bgra[i], &b.bgra[i], 3) == 0) continue;
      ++d.count;
      d.left = std::min(d.left, x);
      d.top = std::min(d.top, y);
      d.right = std::max(d.right, x + 1);
      d.bottom = std::max(d.bottom, y + 1);
    }
  return d;
}

// A message box of the reader as a person meets it: the wizard's address
// saved without "http://" is refused in a box drawn over the page, which
// closes by a tap on its button and leaves the page whole and in charge.
TEST_F(RealWindowTest, ByTouchAMessageBoxShowsAndIsAnswered) {
  Start("");
  ASSERT_TRUE(q_.Advance(200));
  PassWelcomePage("Quillet Reach");
  const HWND wizard = q_.ActiveWindow();
  const HWND choice = q_.FocusWindow();
  Click(240, kRow3);  // "Add specific RSS URL"
  ASSERT_TRUE(Until([&] { return q_.FocusWindow() != choice; }));
  Click(240, kRow1);  // the address, typed over the editor's "http://"
  ASSERT_TRUE(Until([&] { return q_.ActiveWindow() != wizard && Text(q_.FocusWindow()) == "http://"; }));
  Key("ctrl+a");
  Type("ftp://example.org/feed.xml");
  ASSERT_TRUE(Until([&] { return Text(q_.FocusWindow()) == "ftp://example.org/feed.xml"; }));
  Key("F2");
  ASSERT_TRUE(Until([&] { return q_.ActiveWindow() == wizard; }));
  Click(240, (kRow1 + kRow3) / 2);  // the title
  ASSERT_TRUE(Until([&] { return q_.ActiveWindow() != wizard; }));
  Type("Mine");
  ASSERT_TRUE(Until([&] { return Text(q_.FocusWindow()) == "Mine"; }));
  Key("F2");
  ASSERT_TRUE(Until([&] { return q_.ActiveWindow() == wizard; }));
  ASSERT_TRUE(q_.Settle());
  const auto page = Picture("box-page-480x800");
  Click(240, kRow4);  // "Save"
  ASSERT_TRUE(Until([&] { return q_.ActiveWindow() != wizard; })) << "no message box came";
  const HWND box = q_.ActiveWindow();
  EXPECT_EQ(Text(box), "Error");
  ASSERT_TRUE(q_.Settle());
  const auto shown = Picture("box-shown-480x800");
  // The box stands over the middle of the page, within the screen's
  // margins, and is no sliver.
  // (The tapped row, "Save", is selected under it.)
  const RECT above{0, 0, 480, kRow4 - 45}, below{0, kRow4 + 45, 480, 800};
  Difference drawn = Compare(page, shown, &above);
  const Difference lower = Compare(page, shown, &below);
  drawn.count += lower.count;
  drawn.left = std::min(drawn.left, lower.left);
  drawn.right = std::max(drawn.right, lower.right);
  drawn.bottom = std::max(drawn.bottom, lower.bottom);
  EXPECT_GT(drawn.count, 20000);
  EXPECT_GE(drawn.left, 8);
  EXPECT_LE(drawn.right, 472);
  EXPECT_GT(drawn.bottom - drawn.top, 120);
  EXPECT_LT(drawn.top, 400);
  EXPECT_GT(drawn.bottom, 400);
  // The page under it takes no taps meanwhile: a tap on "Save" beside
  // the box does nothing.
  Click(240, 120);
  ASSERT_TRUE(q_.Settle());
  EXPECT_EQ(q_.ActiveWindow(), box);
  // Its OK button is in its lowest part, in the middle.
  Click(240, drawn.bottom - 30);
  ASSERT_TRUE(Until([&] { return q_.ActiveWindow() == wizard; }));
  EXPECT_FALSE(IsWindow(box));
  EXPECT_EQ(ChannelList().find("Mine"), std::string::npos) << ChannelList();
  ASSERT_TRUE(q_.Settle());
  const auto after = Picture("box-closed-480x800");
  // The page is as it was but for the row tapped ("Save", now selected).
  const Difference left = Compare(page, after);
  EXPECT_GE(left.top, kRow4 - 45) << "the page is not whole where the box was";
  EXPECT_LE(left.bottom, kRow4 + 45) << "the page is not whole where the box was";
  CloseWindowAndExpectCleanEnd();
}

// The same box on the key device's face (240 x 320), answered by keys;
// the page then takes keys again, and the window closes while a second
// box shows: the box ends with the program.
TEST_F(RealWindowTest, ByKeysAMessageBoxShowsAndIsAnswered) {
  Start("keydevice");
  ASSERT_TRUE(q_.Advance(200));
  PassWelcomePage("Quillet");
  const HWND wizard = q_.ActiveWindow();
  const HWND choice = q_.FocusWindow();
  Key("Down");
  Key("Down");
  Key("Return");  // "Add specific RSS URL"
  ASSERT_TRUE(Until([&] { return q_.FocusWindow() != choice && Text(q_.FocusWindow()) == "http://"; }));
  Key("ctrl+a");
  Type("ftp://example.org/feed.xml");
  ASSERT_TRUE(Until([&] { return Text(q_.FocusWindow()) == "ftp://example.org/feed.xml"; }));
  Key("Down");
  Type("Mine");
  ASSERT_TRUE(Until([&] { return Text(q_.FocusWindow()) == "Mine"; }));
  Key("Up");  // the title is kept: the left soft key adds
  ASSERT_TRUE(Until([&] { return Text(q_.FocusWindow()) == "ftp://example.org/feed.xml"; }));
  ASSERT_TRUE(q_.Settle());
  const auto page = Picture("k-box-page-240x320");
  Key("F1");  // "Add Channel"
  ASSERT_TRUE(Until([&] { return q_.ActiveWindow() != wizard; })) << "no message box came";
  const HWND box = q_.ActiveWindow();
  EXPECT_EQ(Text(box), "Error");
  ASSERT_TRUE(q_.Settle());
  const auto shown = Picture("k-box-shown-240x320");
  const Difference drawn = Compare(page, shown);
  EXPECT_GT(drawn.count, 5000);
  EXPECT_GE(drawn.left, 4);
  EXPECT_GT(drawn.bottom - drawn.top, 60);
  // The soft key of the page under the box and typed text do nothing.
  Key("F1");
  Type("x");
  ASSERT_TRUE(q_.Settle());
  EXPECT_EQ(q_.ActiveWindow(), box);
  EXPECT_EQ(ChannelList().find("Mine"), std::string::npos) << ChannelList();
  Key("Tab");
  Key("Return");
  ASSERT_TRUE(Until([&] { return q_.ActiveWindow() == wizard; }));
  EXPECT_FALSE(IsWindow(box));
  ASSERT_TRUE(q_.Settle());
  const auto after = Picture("k-box-closed-240x320");
  // (The address row's edit closed when the soft key was pressed: the
  // rows from the title down are compared.)
  RECT where{drawn.left, std::max(drawn.top, 90), drawn.right, drawn.bottom};
  EXPECT_EQ(Compare(page, after, &where).count, 0) << "the page is not whole where the box was";
  // The title's edit has the keys again; the box comes back at the next
  // try, and the window is closed under it.
  Key("Down");
  Type("s");
  ASSERT_TRUE(Until([&] { return Text(q_.FocusWindow()) == "Mines"; })) << Text(q_.FocusWindow());
  Key("Up");
  Key("F1");
  ASSERT_TRUE(Until([&] { return q_.ActiveWindow() != wizard; })) << "no message box came";
  CloseWindowAndExpectCleanEnd();
}

}  // namespace

namespace {

// Text and its channel-list form (XML attributes escape "&").
std::string Escaped(std::string text) {
  for (size_t at = text.find('&'); at != std::string::npos; at = text.find('&', at + 1)) text.replace(at, 1, "&amp;");
  return text;
}

}  // namespace

// The key device's face: a channel's address typed on the desktop's
// keyboard with capitals, punctuation and letters beyond ASCII, and then
// its title typed in the channel properties and renamed: both are stored
// as typed.
TEST_F(RealWindowTest, ByKeysAChannelsAddressAndTitleAreTypedWithAnyLetters) {
  const std::string hostPort = "127.0.0.1:" + std::to_string(nginx_.port());
  // (xdotool types a letter beyond ASCII through a key it binds for the
  // moment, without Shift: such letters come in lower case.)
  const std::string path = "/Nachrichten/ärger_über-Straße.xml?Q=ç&r=1";
  const std::string url = "http://" + hostPort + path;
  const std::string title = "Zürich: élan & ça va? (Nr. 1)!";
  {
    // The letters beyond ASCII sit on the keyboard's AltGr level (see the
    // account test).
    qnet::ChildProcess layout;
    ASSERT_TRUE(layout.Start({"env", "DISPLAY=" + display_, "setxkbmap", "-layout", "us", "-variant", "altgr-intl"},
                             false, ""));
    ASSERT_EQ(layout.Wait(), 0);
  }
  Start("keydevice");
  ASSERT_TRUE(q_.Advance(200));
  PassWelcomePage("Quillet");
  Key("Down");
  Key("Down");
  Key("Return");  // "Add specific RSS URL"
  ASSERT_TRUE(Until([&] { return Text(q_.FocusWindow()) == "http://"; }));
  const HWND field = q_.FocusWindow();
  TypeWhole(field, hostPort + path);
  Key("Down");
  Type("First");
  ASSERT_TRUE(Until([&] { return Text(q_.FocusWindow()) == "First"; })) << Text(q_.FocusWindow());
  Key("Up");  // the title is kept: the left soft key adds
  ASSERT_TRUE(Until([&] { return Text(q_.FocusWindow()) == url; })) << Text(q_.FocusWindow());
  Key("F1");  // "Add Channel"
  ASSERT_TRUE(Until([&] { return ChannelList().find("First") != std::string::npos; })) << ChannelList();
  EXPECT_NE(ChannelList().find("xmlUrl=\"" + Escaped(url) + "\""), std::string::npos) << ChannelList();
  ASSERT_TRUE(q_.Settle());
  const HWND channels = q_.ActiveWindow();
  // Menu, "Properties" of the channel.
  Key("F2");
  for (int i = 0; i < 3; ++i) Key("Down");
  Key("Return");
  ASSERT_TRUE(Until([&] { return q_.ActiveWindow() != channels && Text(q_.FocusWindow()) == "First"; }))
      << Text(q_.FocusWindow());
  const HWND dialog = q_.ActiveWindow();
  const HWND titleEdit = q_.FocusWindow();
  Shot("k-properties-240x320");
  // The title typed over the old one, then Menu, "Rename"; the box that
  // says it was renamed is answered with Enter.
  Key("ctrl+a");
  Key("BackSpace");
  ASSERT_TRUE(Until([&] { return Text(titleEdit).empty(); })) << Text(titleEdit);
  TypeWhole(titleEdit, title);
  Shot("k-properties-typed-240x320");
  Key("F1");
  Key("Down");
  Key("Down");
  Key("Return");
  ASSERT_TRUE(Until([&] { return q_.ActiveWindow() != dialog; })) << "no box came";
  EXPECT_EQ(Text(q_.ActiveWindow()), "Information");
  Key("Return");
  ASSERT_TRUE(Until([&] { return q_.ActiveWindow() == dialog; }));
  EXPECT_NE(ChannelList().find("text=\"" + Escaped(title) + "\""), std::string::npos) << ChannelList();
  EXPECT_NE(ChannelList().find("xmlUrl=\"" + Escaped(url) + "\""), std::string::npos) << ChannelList();
  // Cancel: the channel list again, with the new name.
  Key("F2");
  ASSERT_TRUE(Until([&] { return q_.ActiveWindow() == channels; }));
  Shot("k-properties-renamed-240x320");
  CloseWindowAndExpectCleanEnd();
}
