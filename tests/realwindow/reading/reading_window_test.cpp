// The reading view in the reader's real window on a virtual X server,
// driven with real X input (xdotool over the XTest extension) as a person
// drives it: the taps on the button bar that the corner tab shows, and the
// wait cursor as the X server shows it over the window (read back through
// XFIXES) while an article page is built, and on a first start.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "gdi/image_codec.h"
#include "kernel/kernel.h"
#include "kernel/wstring.h"
#include "support/device_fixture.h"
#include "support/http_server.h"
#include "support/net_servers.h"
#include "support/pictures.h"
#include "support/remote_program.h"
#include "support/screen_checks.h"
#include "user/user.h"
#include "cursor_probe.h"
#include "cursor_session_fixture.h"

namespace {

using qtest::CursorImage;
using qtest::Text;

constexpr UINT kRefresh = 32793;  // "Refresh"

// Where things are on the 480 x 800 touch screen: the first row of the
// channel list and of the headline list, the corner tab of full-screen
// reading, and the reading view's bar (five equal columns, 40 x 2 pixels
// high at the bottom): the e-mail button in the middle, the menu button at
// the right, where the reading menu's own bar has its close button.
constexpr int kFirstRowX = 240, kFirstRowY = 175;
constexpr int kCornerX = 476, kCornerY = 796;
constexpr int kBarY = 762, kMailX = 240, kMenuX = 432;

class ReadingWindowTest : public qtest::CursorSessionTest {
 protected:
  ReadingWindowTest() : CursorSessionTest("quillet-reading-window") {}

  static constexpr const char16_t* kLogo = u"\\Program Files\\Quillet\\ChannelData\\Ch100-Logo.img";
  std::string ChannelList() const { return ReadDeviceFile(kList); }

  // Channel 100, whose feed holds the stories (title, text).
  void ServeChannel(const std::vector<std::pair<std::string, std::string>>& stories) {
    std::string feed = "<?xml version=\"1.0\"?>\n<rss version=\"2.0\"><channel><title>Reading</title><link>" +
                       nginx_.Url("/") + "</link><description>d</description>";
    for (size_t i = 0; i < stories.size(); ++i)
      feed += "<item><title>" + stories[i].first + "</title><link>" + nginx_.Url("/story/") + std::to_string(i) +
              "</link><description><![CDATA[" + stories[i].second + "]]></description></item>";
    feed += "</channel></rss>\n";
    qtest::WriteHostFile(docroot_ + "/feed.xml", feed);
    WriteDeviceFile(kList,
                    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<opml version=\"1.0\"><head><title>t</title>"
                    "</head><body nextID=\"900\"><outline text=\"News\" type=\"rss\" uniqueID=\"800\">"
                    "<outline text=\"Reading\" type=\"rss\" uniqueID=\"100\" xmlUrl=\"" +
                        nginx_.Url("/feed.xml") + "\"/></outline></body></opml>\n");
  }

  // Starts the reader, refreshes its channel and opens it on its headlines.
  void OpenHeadlines(size_t stories) {
    Start("");
    ASSERT_TRUE(q_.Advance(200));
    channels_ = q_.ActiveWindow();
    PostMessageW(q_.Window(), WM_COMMAND, kRefresh, 0);
    const std::string count = "itemCount=\"" + std::to_string(stories) + "\"";
    ASSERT_TRUE(Until([&] { return ChannelList().find(count) != std::string::npos; })) << ChannelList();
    ASSERT_TRUE(q_.Advance(200));
    Click(kFirstRowX, kFirstRowY);
    ASSERT_TRUE(Until([&] { return q_.ActiveWindow() != channels_; }));
    headlines_ = q_.ActiveWindow();
  }

  // Opens the first story and lets its page be built; returns the reading
  // view's active window.
  HWND OpenStory() {
    Click(kFirstRowX, kFirstRowY);
    EXPECT_TRUE(Until([&] { return q_.ActiveWindow() != headlines_; }));
    EXPECT_TRUE(q_.Advance(150));  // the page is built on a timer
    return q_.ActiveWindow();
  }

  // The bottom strip of the screen left of the corner: the page's white
  // while full screen, the bar's dark ground with its five buttons once
  // the corner tab has shown it.
  bool BarShown(const std::string& name) {
    qk::gdi::DecodedImage image;
    const std::string path = qtest::PicturesDir() + "/reading-window-" + name + ".png";
    if (!q_.Shot(path)) return false;
    const std::string bytes = qtest::ReadHostFile(path);
    if (!qk::gdi::DecodePng(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &image)) return false;
    const int area = 380 * 60;
    return qtest::Light(image, 0, 730, 380, 790) < area / 4;
  }
  // A tap on the corner tab, and the wait until the bar shows.
  void ShowBar(const std::string& name) {
    Click(kCornerX, kCornerY);
    ASSERT_TRUE(Until([&] { return BarShown(name); })) << "the corner tab did not show the bar";
  }

  // Waits, moving the frozen clock on, until the cursor the X server shows
  // over the window has (or has not) the look of the wait cursor.
  testing::AssertionResult CursorBecomes(const CursorImage& watch, bool wait) {
    return Until([&] { return probe_.Shown().SameLook(watch) == wait; });
  }

  // Opens the first story with its page build held: the channel's logo is
  // a pipe that gives its picture only when the test writes it, so the
  // build (in a clock advance of its own, on a thread) waits on it with
  // the wait cursor showing over the window, where the click on the story
  // left the pointer. Meanwhile input() runs; then the logo is
  // given and the build ends. Returns the reading view's active window,
  // and the serial of the wait cursor seen (0 when none showed).
  // watch: the desktop's wait cursor, taken before the first click (its
  // window takes the pointer away from where the clicks left it).
  HWND OpenStoryHeld(const CursorImage& watch, const std::function<void()>& input,
                     unsigned long* waitSerial = nullptr) {
    const std::string logo = qk::HostPath(kLogo);
    std::filesystem::remove(logo);
    EXPECT_EQ(mkfifo(logo.c_str(), 0644), 0) << errno;
    // The story opens; its page waits for its timer.
    Click(kFirstRowX, kFirstRowY);
    EXPECT_TRUE(q_.WaitFor(
        [&] {
          if (q_.ActiveWindow() != headlines_) return true;
          (void)q_.Advance(10);
          return false;
        },
        30000));
    const HWND reading = q_.ActiveWindow();
    qtest::RemoteProgram builder(process_);
    builder.Attach(q_.Window());
    builder.SetTimeout(60000);
    std::thread build([&] { EXPECT_TRUE(builder.Advance(150)); });
    bool shown = false;
    for (auto end = std::chrono::steady_clock::now() + std::chrono::seconds(30);
         !shown && std::chrono::steady_clock::now() < end;) {
      const CursorImage now = probe_.Shown();
      shown = now.SameLook(watch);
      if (shown && waitSerial) *waitSerial = now.serial;
      if (!shown) (void)probe_.Changes([](const std::vector<unsigned long>& s) { return !s.empty(); }, 1000);
    }
    EXPECT_TRUE(shown) << "no wait cursor while the page is built";
    input();
    {
      std::ofstream pipe(logo, std::ios::binary);  // opens once the build reads it
      std::vector<uint32_t> pixels(40 * 10, 0x2060A0);
      std::vector<uint8_t> bytes;
      EXPECT_TRUE(qk::gdi::EncodePng(40, 10, pixels, &bytes));
      pipe.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    build.join();
    std::filesystem::remove(logo);
    return reading;
  }

  HWND channels_ = nullptr, headlines_ = nullptr;
};

// A long story, more than a screenful.
std::string LongStory() {
  std::string text;
  for (int i = 0; i < 40; ++i)
    text += "<p>Paragraph " + std::to_string(i) + " of the story, long enough to wrap over a line or two.</p>";
  return text;
}

// Twenty times over: the story opened, the corner tab tapped, the bar's
// menu button tapped once; the tap opens the reading menu every time, and
// the menu's own close button (where the menu button was) closes it again.
TEST_F(ReadingWindowTest, EveryTapOnTheMenuButtonOfTheShownBarOpensTheReadingMenu) {
  ServeChannel({{"First", LongStory()}, {"Second", "<p>Short.</p>"}});
  OpenHeadlines(2);
  std::vector<int> lost;
  for (int trial = 0; trial < 20; ++trial) {
    SCOPED_TRACE("trial " + std::to_string(trial));
    const HWND reading = OpenStory();
    ASSERT_NE(reading, headlines_);
    ASSERT_NO_FATAL_FAILURE(ShowBar("bar"));
    Click(kMenuX, kBarY);
    const bool opened = static_cast<bool>(
        Until([&] { return q_.ActiveWindow() != reading && Text(q_.ActiveWindow()) == "Quillet Reach"; }));
    if (!opened) {
      lost.push_back(trial);
      EXPECT_TRUE(q_.Shot(qtest::PicturesDir() + "/reading-window-menu-lost.png"));
      // The bar goes by itself after six seconds; then back to the list.
      ASSERT_TRUE(Until([&] { return !BarShown("bar-gone"); }));
    } else {
      const HWND menu = q_.ActiveWindow();
      Click(kMenuX, kBarY);  // the menu's close button
      ASSERT_TRUE(Until([&] { return q_.ActiveWindow() != menu; })) << "the menu's close button did nothing";
      ASSERT_TRUE(Until([&] { return BarShown("bar-after-menu"); }));
    }
    Key("Escape");  // back to the headlines
    ASSERT_TRUE(Until([&] { return q_.ActiveWindow() == headlines_; }));
  }
  EXPECT_TRUE(lost.empty()) << lost.size() << " of 20 taps on the menu button were lost, the first in trial "
                            << (lost.empty() ? -1 : lost.front());
}

// The e-mail button's first tap after the corner tab showed the bar hands
// the story to the desktop's mail opener, every time.
TEST_F(ReadingWindowTest, TheFirstTapOnTheMailButtonOfTheShownBarSendsTheStory) {
  const std::string opener = Host(u"\\") + "/mail.sh";
  const std::string mailed = Host(u"\\") + "/mailed.txt";
  // The desktop's mail opener: a line per message, whole.
  qtest::WriteHostFile(opener, "#!/bin/sh\nprintf '%s\\n' \"$3\" >> \"" + mailed + "\"\n");
  chmod(opener.c_str(), 0755);
  ServeChannel({{"First", LongStory()}});
  setenv("QUILLET_MAIL_OPENER", opener.c_str(), 1);
  OpenHeadlines(1);
  unsetenv("QUILLET_MAIL_OPENER");
  auto lines = [&] {
    std::ifstream in(mailed);
    int n = 0;
    for (std::string line; std::getline(in, line);) n += line == "First";
    return n;
  };
  for (int trial = 0; trial < 5; ++trial) {
    SCOPED_TRACE("trial " + std::to_string(trial));
    OpenStory();
    ASSERT_NO_FATAL_FAILURE(ShowBar("mail-bar"));
    Click(kMailX, kBarY);
    // The opener is a process of its own: its line comes when it comes.
    ASSERT_TRUE(Until([&] { return lines() == trial + 1; })) << "the first tap on the mail button was lost";
    Key("Escape");
    ASSERT_TRUE(Until([&] { return q_.ActiveWindow() == headlines_; }));
  }
}

// The page build holds the wait cursor: shown over the window while the
// build waits on the channel's logo, gone once the page shows; and it
// comes and goes again when the story is opened again.
TEST_F(ReadingWindowTest, TheWaitCursorShowsWhileTheArticlePageIsBuiltAndGoesAfter) {
  const CursorImage watch = probe_.Watch();
  ASSERT_GT(watch.width, 0);
  ServeChannel({{"First", LongStory()}});
  OpenHeadlines(1);
  ASSERT_TRUE(CursorBecomes(watch, false)) << "the wait cursor shows before the story is opened";
  unsigned long waitSerial = 0;
  const HWND reading = OpenStoryHeld(watch, [] {}, &waitSerial);
  ASSERT_TRUE(CursorBecomes(watch, false)) << "the wait cursor stayed after the page was built";
  EXPECT_EQ(q_.ActiveWindow(), reading);
  // The story opened again, its build not held: the wait cursor comes and
  // goes.
  Key("Escape");
  ASSERT_TRUE(Until([&] { return q_.ActiveWindow() == headlines_; }));
  (void)probe_.Changes([](const std::vector<unsigned long>&) { return true; }, 0);
  Click(kFirstRowX, kFirstRowY);
  ASSERT_TRUE(Until([&] { return q_.ActiveWindow() != headlines_; }));
  ASSERT_TRUE(q_.Advance(150));
  auto cameAndWent = [&](const std::vector<unsigned long>& serials) {
    for (size_t i = 0; i + 1 < serials.size(); ++i)
      if (serials[i] == waitSerial && serials.back() != waitSerial) return true;
    return false;
  };
  const std::vector<unsigned long> changes = probe_.Changes(cameAndWent, 10000);
  EXPECT_TRUE(cameAndWent(changes)) << changes.size() << " changes of the cursor";
  EXPECT_FALSE(probe_.Shown().SameLook(watch));
}

// Taps made while the reader is busy (its page build held) wait in the X
// connection and come in one go: each goes where it lands once the taps
// before it have been handled. The corner tab's tap shows the bar, and the
// tap on the bar's menu button then opens the menu (not the page under
// where the bar now is); likewise the mail button's tap sends the story.
TEST_F(ReadingWindowTest, ATapOnTheBarMadeWhileTheReaderWasBusyAfterTheCornerTabsTapArrives) {
  const std::string opener = Host(u"\\") + "/mail.sh";
  const std::string mailed = Host(u"\\") + "/mailed.txt";
  qtest::WriteHostFile(opener, "#!/bin/sh\nprintf '%s\\n' \"$3\" >> \"" + mailed + "\"\n");
  chmod(opener.c_str(), 0755);
  const CursorImage watch = probe_.Watch();
  ServeChannel({{"First", LongStory()}});
  setenv("QUILLET_MAIL_OPENER", opener.c_str(), 1);
  OpenHeadlines(1);
  unsetenv("QUILLET_MAIL_OPENER");
  for (int trial = 0; trial < 3; ++trial) {
    SCOPED_TRACE("trial " + std::to_string(trial));
    const HWND reading = OpenStoryHeld(watch, [&] {
      Click(kCornerX, kCornerY);
      Click(kMenuX, kBarY);
    });
    ASSERT_TRUE(Until([&] { return q_.ActiveWindow() != reading && Text(q_.ActiveWindow()) == "Quillet Reach"; }))
        << "the tap on the menu button was lost";
    const HWND menu = q_.ActiveWindow();
    Click(kMenuX, kBarY);  // the menu's close button
    ASSERT_TRUE(Until([&] { return q_.ActiveWindow() != menu; }));
    Key("Escape");
    ASSERT_TRUE(Until([&] { return q_.ActiveWindow() == headlines_; }));
  }
  auto lines = [&] {
    std::ifstream in(mailed);
    int n = 0;
    for (std::string line; std::getline(in, line);) n += line == "First";
    return n;
  };
  OpenStoryHeld(watch, [&] {
    Click(kCornerX, kCornerY);
    Click(kMailX, kBarY);
  });
  ASSERT_TRUE(Until([&] { return lines() == 1; })) << "the tap on the mail button was lost";
}

// A first start (no channel list): the start-up load shows the wait
// cursor; once it has found no list and the welcome page shows, the wait
// cursor has gone.
TEST_F(ReadingWindowTest, OnAFirstStartTheWaitCursorGoesOnceTheWelcomePageShows) {
  const CursorImage watch = probe_.Watch();
  ASSERT_GT(watch.width, 0);
  Start("");
  probe_.PointInto(window_, 240, 400);
  ASSERT_TRUE(q_.Settle());
  EXPECT_TRUE(probe_.Shown().SameLook(watch)) << "no wait cursor while the start-up load runs";
  ASSERT_TRUE(Until([&] { return Text(q_.ActiveWindow()) == "Quillet Reach" && q_.ActiveWindow() != q_.Window(); }));
  const HWND welcome = q_.ActiveWindow();
  ASSERT_TRUE(CursorBecomes(watch, false)) << "the wait cursor stayed over the welcome page";
  EXPECT_EQ(q_.ActiveWindow(), welcome);
}

}  // namespace


