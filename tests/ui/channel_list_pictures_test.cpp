// Pictures of the channel list to look at: 30 channels in mixed states (new
// items, refresh pending, favicons of every kind, long titles) on the touch
// screen (480 x 800 at 192 dpi) and on the key device (240 x 320 at 96 dpi).
//
//   ctest --test-dir <build> -R ChannelListPictures
//
// writes channel_list_480x800.png and channel_list_240x320.png to
// $QUILLET_PICTURES_DIR, else to the folder "pictures" of the build.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>

#include "channel_list_support.h"
#include "common/settings.h"
#include "display/display.h"
#include "gdi/surface.h"
#include "support/device_fixture.h"
#include "user/user.h"

namespace {

std::string PicturesDir() {
  const char* env = std::getenv("QUILLET_PICTURES_DIR");
  std::string dir = env && *env ? env : std::string(QUILLET_BINARY_DIR) + "/pictures";
  std::filesystem::create_directories(dir);
  return dir;
}

// Favicon designs, one per kind of icon file.
uint32_t Disc(int x, int y, uint32_t colour) {
  int dx = 2 * x - 15, dy = 2 * y - 15;
  return dx * dx + dy * dy <= 225 ? colour : 0;
}
uint32_t Diamond(int x, int y, uint32_t colour) { return std::abs(2 * x - 15) + std::abs(2 * y - 15) <= 15 ? colour : 0; }
uint32_t Ring(int x, int y, uint32_t colour) {
  int d = (2 * x - 15) * (2 * x - 15) + (2 * y - 15) * (2 * y - 15);
  return (d <= 225 && d >= 81) ? colour : (d < 81 ? 0xFFFFFFFFu : 0);
}
uint32_t Stripes(int, int y, uint32_t colour) { return (y / 3) % 2 ? colour : 0xFFFFFFFFu; }
uint32_t Letter(int x, int y, uint32_t colour) {
  bool tile = x >= 1 && x <= 14 && y >= 1 && y <= 14;
  bool n = (x >= 4 && x <= 5 && y >= 4 && y <= 11) || (x >= 10 && x <= 11 && y >= 4 && y <= 11) ||
           (std::abs((x - 4) - (y - 4)) <= 1 && x >= 4 && x <= 11);
  if (!tile) return 0;
  return n ? 0xFFFFFFFFu : colour;
}

struct Channel {
  const char16_t* title;
  int items, fresh, state;
  const char* favicon;  // "1", "4", "8", "16", "24", "32", "png", "broken", "" (none)
  const char16_t* updated;
};

const Channel kChannels[] = {
    {u"Ars Lumen", 42, 5, 0, "32", u"2026-12-08 09:12:00"},
    {u"Borealis Science Weekly: discoveries, expeditions and the people behind them", 18, 0, 0, "24",
     u"2026-12-07 22:40:00"},
    {u"City Council Minutes", 7, 7, 2, "8", u"2026-12-01 18:05:00"},
    {u"Daily Kettle", 120, 14, 0, "4", u"2026-12-08 07:55:00"},
    {u"Evening Post - Culture", 33, 0, 0, "1", u"2026-12-05 16:30:00"},
    {u"Fieldnotes", 0, 0, 0, "", u"n/a"},
    {u"Gazette of the Northern Provinces and the Outlying Islands (all editions)", 64, 2, 2, "png",
     u"2026-12-08 10:01:00"},
    {u"Harbour Radio", 12, 0, 0, "broken", u"2026-11-28 12:00:00"},
    {u"Independent Makers", 9, 1, 0, "32", u"2026-12-06 08:45:00"},
    {u"Journal of Quiet Things", 100, 100, 0, "24", u"2026-12-08 06:00:00"},
    {u"Kestrel Travel", 21, 0, 2, "8", u"2026-12-03 19:20:00"},
    {u"Lighthouse Podcast", 5, 0, 0, "", u"2026-10-11 09:00:00"},
    {u"Morning Briefing", 58, 12, 0, "4", u"2026-12-08 05:30:00"},
    {u"Night Owl Astronomy", 16, 0, 0, "1", u"2026-12-04 23:59:00"},
    {u"Open Source Digest", 77, 3, 2, "png", u"2026-12-08 10:30:00"},
    {u"Pocket Recipes", 40, 0, 0, "32", u"2026-11-30 11:11:00"},
    {u"Quarterly Review of Extremely Long Titles That Never Seem To End At All", 3, 1, 0, "24",
     u"2026-09-01 00:00:00"},
    {u"Riverside Local", 11, 0, 0, "broken", u"2026-12-02 14:15:00"},
    {u"Signal & Noise", 29, 4, 0, "8", u"2026-12-08 08:20:00"},
    {u"Tidewater Tech", 8, 0, 2, "4", u"2026-12-07 17:45:00"},
    {u"Underground Music", 66, 0, 0, "", u"2026-12-06 21:00:00"},
    {u"Valley Weather", 2, 2, 0, "1", u"2026-12-08 10:35:00"},
    {u"Wandering Linguist", 14, 0, 0, "png", u"2026-11-25 10:00:00"},
    {u"Xylograph Print Studio", 1, 0, 0, "32", u"2026-08-15 15:00:00"},
    {u"Yarrow Garden Club", 25, 6, 2, "24", u"2026-12-08 09:50:00"},
    {u"Zephyr Cycling", 31, 0, 0, "8", u"2026-12-07 06:30:00"},
    {u"alpine notes", 4, 0, 0, "4", u"2026-12-05 13:00:00"},
    {u"Book Club Picks of the Month, With Reading Guides and Author Interviews", 10, 10, 0, "1",
     u"2026-12-01 09:00:00"},
    {u"Crossword Daily", 365, 1, 0, "", u"2026-12-08 00:01:00"},
    {u"Deep Sea Bulletin", 19, 0, 2, "png", u"2026-12-06 12:12:00"},
    // Titles come in every script.
    {u"Aleph: \u05D7\u05D3\u05E9\u05D5\u05EA \u05D4\u05E2\u05E8\u05D1", 6, 2, 0, "16", u"2026-12-08 08:00:00"},
    {u"Arabic desk: \u0623\u062E\u0628\u0627\u0631 \u0627\u0644\u064A\u0648\u0645", 13, 0, 0, "16",
     u"2026-12-07 20:10:00"},
    {u"Asia Daily \u4E2D\u6587\u65B0\u95FB \u00B7 \u65E5\u672C\u8A9E \u00B7 \uD55C\uAD6D\uC5B4", 27, 3, 2, "16",
     u"2026-12-08 10:20:00"},
};

class ChannelListPictures : public qtest::DeviceTest {
 protected:
  void Picture(const qk::gdi::ScreenConfig& cfg, BOOL touch, const std::string& name) {
    uitest::UseScreen(cfg, touch);
    InitImagingFactory();
    qk::FreezeClock(1796726400000LL, 1000);  // 2026-12-08 11:20 UTC
    WCHAR root[MAX_PATH];
    GetDataRoot(root);
    const uint32_t colours[] = {0xFFE0462Cu, 0xFF2C8FE0u, 0xFF3FB950u, 0xFFD29922u, 0xFF8E5BD9u, 0xFF1ABC9Cu};
    int i = 0;
    for (const Channel& c : kChannels) {
      ++i;
      std::string kind = c.favicon;
      uint32_t colour = colours[i % 6];
      std::string bytes;
      auto design = [&](int x, int y) {
        switch (i % 5) {
          case 0: return Disc(x, y, colour);
          case 1: return Diamond(x, y, colour);
          case 2: return Ring(x, y, colour);
          case 3: return Stripes(x, y, colour);
          default: return Letter(x, y, colour);
        }
      };
      if (kind == "png") {
        // A PNG entry has no mask: the tile sits on white.
        bytes = uitest::MakePngIco(16, [&](int x, int y) {
          uint32_t c = Letter(x, y, colour);
          return c ? c : 0xFFFFFFFFu;
        });
      }
      else if (kind == "broken") bytes = std::string("\0\0\1\0\1\0garbage", 13);
      else if (!kind.empty()) bytes = uitest::MakeIco(16, std::stoi(kind), design);
      if (!bytes.empty()) {
        CString path;
        path.Format(u"%s\\ChannelData\\Ch%03d-Fav.ico", root, i);
        WriteDeviceFile(path, bytes);
      }
    }
    HWND window = uitest::CreateViewHost(cfg);
    ShowWindow(window, SW_SHOWNOACTIVATE);  // a hidden window puts nothing on the screen
    {
      CChannelListView view;
      uitest::HostedView() = &view;
      view.Create(nullptr, window, 0, 0, cfg.width, cfg.height, 0, nullptr);
      i = 0;
      for (const Channel& c : kChannels) {
        ++i;
        CString url;
        url.Format(u"http://feeds.example/%d", i);
        view.AddItem(i, c.title, c.updated, url, u"", c.items, c.fresh);
      }
      for (int row = 0; row < view.GetItemCount(); ++row) {
        CChannelListItem item;
        view.GetItem(row, item);
        view.SetItemState(row, kChannels[item.m_nChannel - 1].state);
      }
      view.FocusNext();
      view.FocusNext();  // the second row is selected
      view.Redraw(TRUE);
      qk::PumpMessages();
      std::string path = PicturesDir() + "/" + name;
      ASSERT_TRUE(qk::display::WriteScreenPng(path));
      std::string png = qtest::ReadHostFile(path);
      qk::gdi::DecodedImage img;
      ASSERT_TRUE(qk::gdi::DecodePng(reinterpret_cast<const uint8_t*>(png.data()), png.size(), &img));
      EXPECT_EQ(img.width, cfg.width);
      EXPECT_EQ(img.height, cfg.height);
      // The list fills the screen: no pixel is left black.
      int black = 0;
      for (size_t p = 0; p < img.bgra.size(); p += 4)
        black += img.bgra[p] == 0 && img.bgra[p + 1] == 0 && img.bgra[p + 2] == 0;
      EXPECT_EQ(black, 0);
      uitest::HostedView() = nullptr;
    }
    DestroyWindow(window);
    ReleaseImagingFactory();
    qk::UseRealClock();
  }
  void TearDown() override {
    uitest::RestoreDefaultScreen();
    DeviceTest::TearDown();
  }
};

}  // namespace

TEST_F(ChannelListPictures, TouchScreen480x800) {
  Picture(qk::gdi::DefaultScreenConfig(), TRUE, "channel_list_480x800.png");
}

TEST_F(ChannelListPictures, KeyDevice240x320) {
  Picture(qk::gdi::KeyDeviceScreenConfig(), FALSE, "channel_list_240x320.png");
}
