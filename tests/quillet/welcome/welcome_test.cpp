// The first start greets the user with the welcome page before the
// new-channel wizard, and the About box shows the program's name, version
// and build date: the real "Quillet.exe" on its own device root with its
// clock frozen, driven by taps, keys and soft keys, on the touch screen
// (480 x 800) and the key device (240 x 320). Each screen leaves a picture
// (welcome-*, about-*) in the pictures folder.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "gdi/image_codec.h"
#include "kernel/kernel.h"
#include "kernel/process.h"
#include "kernel/wstring.h"
#include "quillet/options/about_box.h"
#include "support/device_fixture.h"
#include "support/pictures.h"
#include "support/remote_program.h"
#include "support/screen_checks.h"
#include "user/user.h"

namespace {

const char16_t* kList = u"\\Program Files\\Quillet\\ChannelData\\Channels.opml";

using qtest::Text;

struct Counts {
  int light = 0;   // every channel above 200
  int bright = 0;  // every channel above 150
  int dark = 0;   // every channel below 60
  int grey = 0;   // the footer's grey (160, 160, 160)
  int red = 0;    // pure red: the logo's transparent colour, never drawn
  int amber = 0;  // the logo's tile
};

Counts Count(const qk::gdi::DecodedImage& p, int left, int top, int right, int bottom) {
  Counts c;
  for (int y = std::max(top, 0); y < std::min(bottom, p.height); ++y)
    for (int x = std::max(left, 0); x < std::min(right, p.width); ++x) {
      const uint8_t* px = &p.bgra[(static_cast<size_t>(y) * p.width + x) * 4];
      const int b = px[0], g = px[1], r = px[2];
      if (r > 200 && g > 200 && b > 200) ++c.light;
      if (r > 150 && g > 150 && b > 150) ++c.bright;
      if (r < 60 && g < 60 && b < 60) ++c.dark;
      if (r == 160 && g == 160 && b == 160) ++c.grey;
      if (r == 255 && g == 0 && b == 0) ++c.red;
      if (r > 200 && g > 80 && g < 190 && b < 80) ++c.amber;
    }
  return c;
}

class WelcomeTest : public qtest::DeviceTest, public ::testing::WithParamInterface<const char*> {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    qk::SetProgramHost(u"Quillet.exe", QUILLET_EXE);
    setenv("QUILLET_HEADLESS", "1", 1);
    key_ = std::string(GetParam()) == "keydevice";
    if (key_) setenv("QUILLET_SCREEN_PROFILE", "keydevice", 1);
    else unsetenv("QUILLET_SCREEN_PROFILE");
    width_ = key_ ? 240 : 480;
    height_ = key_ ? 320 : 800;
    size_ = key_ ? "240x320" : "480x800";
  }
  void TearDown() override {
    if (process_) qtest::EndProcess(process_);
    unsetenv("QUILLET_SCREEN_PROFILE");
    DeviceTest::TearDown();
  }
  void Start() { ASSERT_TRUE(qtest::StartReader(nullptr, &process_, &q_)); }
  qk::gdi::DecodedImage Seen(const std::string& name) {
    std::string path = qtest::PicturesDir() + "/" + name + "-" + size_ + ".png";
    qk::gdi::DecodedImage image;
    EXPECT_TRUE(q_.Shot(path));
    std::string bytes = qtest::ReadHostFile(path);
    EXPECT_TRUE(qk::gdi::DecodePng(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &image)) << path;
    return image;
  }

  bool key_ = false;
  int width_ = 480, height_ = 800;
  std::string size_;
  HANDLE process_ = nullptr;
  qtest::RemoteProgram q_;
};

// The first start: the welcome page greets the user, with no channel list
// written yet; Continue (the Next button on the touch screen, the Back key
// on the key device, which also continues) writes the empty list and
// opens the wizard. Cancelling the wizard leaves the empty channel list.
TEST_P(WelcomeTest, TheFirstStartGreetsTheUserThenOpensTheWizard) {
  Start();
  ASSERT_TRUE(q_.Advance(200));  // the start-up load finds no list
  const HWND main = q_.Window();
  const HWND welcome = q_.ActiveWindow();
  ASSERT_NE(welcome, nullptr);
  ASSERT_NE(welcome, main);
  EXPECT_EQ(Text(welcome), key_ ? "Quillet" : "Quillet Reach");
  EXPECT_FALSE(DeviceFileExists(kList)) << "the list is made only after the welcome page";

  const auto page = Seen("welcome");
  ASSERT_EQ(page.width, width_);
  // The title band: white text on the dark shade.
  const int band = key_ ? 28 : 64;
  EXPECT_GT(Count(page, 0, 0, width_, band).light, 50) << "no title";
  if (key_) {
    // The body stands in the text band below the title.
    EXPECT_GT(Count(page, 8, 40, width_ - 8, 200).light, 200) << "no text in the band";
  } else {
    // The guide line and the body over the gradient, the Next button in
    // the bar at the bottom.
    EXPECT_GT(Count(page, 16, 130, width_ - 16, 400).light, 500) << "no body text";
    EXPECT_GT(Count(page, width_ * 4 / 5, height_ - 80, width_, height_).light, 50) << "no Next button";
    EXPECT_LT(Count(page, 0, 420, width_, height_ - 100).light, 10) << "something below the text";
  }

  if (key_)
    ASSERT_TRUE(q_.Key(VK_ESCAPE));
  else
    ASSERT_TRUE(q_.Tap(width_ * 9 / 10, height_ - 40));
  ASSERT_TRUE(q_.Advance(20));
  const HWND wizard = q_.ActiveWindow();
  EXPECT_NE(wizard, welcome);
  EXPECT_FALSE(IsWindow(welcome));
  EXPECT_NE(wizard, main) << "the wizard did not open";
  EXPECT_NE(ReadDeviceFile(kList).find("<opml"), std::string::npos) << "no empty channel list";
  const auto choices = Seen("welcome-then-wizard");
  // The wizard's rows show (light row texts under its title band).
  EXPECT_GT(Count(choices, 0, key_ ? 40 : 150, width_, key_ ? 200 : 600).light, 300);

  // The wizard's Cancel comes back to the (empty) channel list.
  if (key_) ASSERT_TRUE(q_.SoftKey(2));
  else ASSERT_TRUE(q_.Tap(width_ * 9 / 10, height_ - 40));
  ASSERT_TRUE(q_.Advance(20));
  EXPECT_FALSE(IsWindow(wizard));
  const auto list = Seen("welcome-list-after-wizard");
  // The list's header and its "No channels available." line show.
  EXPECT_GT(Count(list, 0, height_ * 2 / 5, width_, height_ * 3 / 5).bright, 30) << "a blank list after the wizard";
  EXPECT_GT(Count(list, 0, key_ ? 26 : 52, width_, key_ ? 54 : 132).light, 50) << "no list header";
}

// The About box from the About command: its caption, the logo at the top,
// the product line, build line and support line in black and the grey
// footer at the bottom; its left soft key closes it and the channel list
// shows again.
TEST_P(WelcomeTest, TheAboutBoxShowsNameVersionAndBuildDate) {
  WriteDeviceFile(kList,
                  "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<opml version=\"1.0\"><head><title>t</title></head>"
                  "<body nextID=\"200\"><outline text=\"News\" type=\"rss\" uniqueID=\"900\"><outline text=\"One\" "
                  "type=\"rss\" uniqueID=\"100\" xmlUrl=\"http://127.0.0.1:9/feed.xml\"/></outline></body></opml>\n");
  Start();
  ASSERT_TRUE(q_.Advance(200));
  ASSERT_TRUE(q_.Advance(10));  // the list loads
  const HWND main = q_.Window();
  EXPECT_EQ(q_.ActiveWindow(), main) << "no welcome page when a channel list exists";
  const auto before = Seen("about-list-before");
  EXPECT_GT(Count(before, 0, key_ ? 60 : 140, width_, key_ ? 100 : 220).light, 50) << "the channel's row";

  PostMessageW(main, WM_COMMAND, 57664, 0);  // About, as the menus send it
  ASSERT_TRUE(q_.WaitFor([&] { return q_.ActiveWindow() != main && q_.ActiveWindow() != nullptr; }));
  const HWND about = q_.ActiveWindow();
  EXPECT_EQ(Text(about), "About");
  const auto box = Seen("about");
  const int logo = key_ ? 48 : 96;
  const int logoTop = key_ ? 26 + 8 : 52 + 16;  // below the task bar
  const Counts atLogo = Count(box, width_ / 2 - logo / 2, logoTop - 4, width_ / 2 + logo / 2, logoTop + logo + 4);
  EXPECT_GT(atLogo.amber, logo * logo / 4) << "no logo";
  EXPECT_EQ(Count(box, 0, 0, width_, height_).red, 0) << "the logo's transparent red shows";
  // Three black lines below the logo: product, build, support.
  const int textTop = logoTop + logo;
  int lines = 0;
  bool inLine = false;
  for (int y = textTop; y < textTop + (key_ ? 100 : 200); ++y) {
    const bool ink = Count(box, 0, y, width_, y + 1).dark > 2;
    if (ink && !inLine) ++lines;
    inLine = ink;
  }
  EXPECT_EQ(lines, 3) << "product, build and support lines";
  EXPECT_GT(Count(box, 0, height_ / 2, width_, height_).grey, 20) << "no footer";
  // The box is drawn on its own light background, nothing of the list
  // beneath shows through.
  const int area = width_ * (height_ / 2 - (textTop + 60));
  EXPECT_GT(Count(box, 0, textTop + 60, width_, height_ / 2).light, area * 9 / 10) << "the box has no background";

  ASSERT_TRUE(q_.SoftKey(1));  // the left soft key: OK
  ASSERT_TRUE(q_.WaitFor([&] { return !IsWindow(about); }));
  EXPECT_EQ(q_.ActiveWindow(), main);
  const auto after = Seen("about-list-after");
  ASSERT_EQ(after.bgra.size(), before.bgra.size());
  EXPECT_TRUE(after.bgra == before.bgra) << "the channel list does not show as before the About box";

  // The Back key (Escape) closes it as well.
  PostMessageW(main, WM_COMMAND, 57664, 0);
  ASSERT_TRUE(q_.WaitFor([&] { return q_.ActiveWindow() != main && q_.ActiveWindow() != nullptr; }));
  const HWND again = q_.ActiveWindow();
  ASSERT_TRUE(q_.Key(VK_ESCAPE));
  ASSERT_TRUE(q_.WaitFor([&] { return !IsWindow(again); })) << "Back leaves the About box open";
  EXPECT_EQ(q_.ActiveWindow(), main);
}

INSTANTIATE_TEST_SUITE_P(Faces, WelcomeTest, ::testing::Values("touch", "keydevice"));

// The build line: the date, ", " and "WM5/WM6 Build" for a mobile build,
// the mobile mark alone without a date, nothing at all without either.
TEST(AboutBuildLine, JoinsTheBuildTextAndTheMobileMark) {
  EXPECT_EQ(qk::ToUtf8(BuildLineText(u"1/8/2010", 0).GetString()), "1/8/2010");
  EXPECT_EQ(qk::ToUtf8(BuildLineText(u"1/8/2010", 1).GetString()), "1/8/2010, WM5/WM6 Build");
  EXPECT_EQ(qk::ToUtf8(BuildLineText(u"", 1).GetString()), "WM5/WM6 Build");
  EXPECT_EQ(qk::ToUtf8(BuildLineText(nullptr, 0).GetString()), "");
}

}  // namespace
