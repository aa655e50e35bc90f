// The General and Network option pages in the real "Quillet.exe" (its own
// device root, its clock frozen), opened from the channel list's menu by
// taps on the touch screen and by keys on the key device. What a page
// stores is read back by the code that uses it: the next refresh against
// nginx keeps as many articles as the General page says and goes through
// the proxy (tinyproxy) the Network page names, writing its run log when
// the page says so.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "gdi/image_codec.h"
#include "kernel/kernel.h"
#include "kernel/process.h"
#include "kernel/wstring.h"
#include "quillet/feeds/item_store.h"
#include "support/device_fixture.h"
#include "support/host_window.h"
#include "support/http_server.h"
#include "support/net_servers.h"
#include "support/pictures.h"
#include "support/reader_fixture.h"
#include "support/remote_program.h"
#include "support/settings_registry.h"
#include "support/screen_checks.h"
#include "user/user.h"

namespace {

constexpr const char16_t* kStore = u"\\Program Files\\Quillet\\ChannelData\\Ch100.bin";
constexpr const char16_t* kRunLogFile = u"\\Program Files\\Quillet\\Quillet_RunLog.txt";


using qtest::Text;

// A setting as the registry holds it now (-1000 when missing).
int SettingInt(const char16_t* name) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Marrowby\\Quillet Reach\\Settings", 0, KEY_READ, &key) !=
      ERROR_SUCCESS)
    return -1000;
  DWORD type = 0, value = 0, size = sizeof value;
  LONG r = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
  RegCloseKey(key);
  return r == ERROR_SUCCESS && type == REG_DWORD ? static_cast<int>(value) : -1000;
}
std::string SettingText(const char16_t* name) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Marrowby\\Quillet Reach\\Settings", 0, KEY_READ, &key) !=
      ERROR_SUCCESS)
    return "(missing)";
  WCHAR buf[300] = {0};
  DWORD type = 0, size = sizeof buf - sizeof(WCHAR);
  LONG r = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size);
  RegCloseKey(key);
  return r == ERROR_SUCCESS && type == REG_SZ ? qk::ToUtf8(buf) : "(missing)";
}

using qtest::Light;
// Dark pixels (every channel below 80): text on a light page.
int Dark(const qk::gdi::DecodedImage& p, int left, int top, int right, int bottom) {
  int n = 0;
  for (int y = std::max(top, 0); y < std::min(bottom, p.height); ++y)
    for (int x = std::max(left, 0); x < std::min(right, p.width); ++x) {
      const uint8_t* px = &p.bgra[(static_cast<size_t>(y) * p.width + x) * 4];
      if (px[0] < 80 && px[1] < 80 && px[2] < 80) ++n;
    }
  return n;
}

// Twelve stories, an hour apart.
std::string Feed(const std::string& site) {
  std::string s = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<rss version=\"2.0\"><channel><title>Loopback News"
                  "</title><link>" + site + "/</link><description>d</description>\n";
  for (int i = 0; i < 12; ++i) {
    char date[64];
    snprintf(date, sizeof date, "Tue, 08 Dec 2026 %02d:00:00 GMT", 11 - i);
    s += "<item><title>Story " + std::to_string(i) + "</title><link>" + site + "/story/" + std::to_string(i) +
         "</link><pubDate>" + date + "</pubDate><description>Text</description></item>\n";
  }
  return s + "</channel></rss>\n";
}

// Where things are on the 480 x 800 touch screen.
constexpr int kBar = 760, kBarLeft = 48, kBarRight = 432;  // the channel list's and menu's bars
constexpr int kPage0 = 93, kPagePitch = 82;                // a menu page's rows
// The General page: the two numbers' edits (their right ends) and their
// up-downs' up arrows, the check boxes.
constexpr int kNumberEnd = 135, kArrow = 163;
constexpr int kArticles = 193, kArticlesUp = 182, kSyncCount = 284, kSyncCountUp = 273;
constexpr int kCheck = 27, kImages = 344, kFullScreen = 461;
// The Network page.
constexpr int kUseProxy = 130, kProxy = 177, kRunLog = 282, kAccount = 380;
// The band where the input panel shows.
constexpr int kPanelTop = 590, kPanelBottom = 700;

class OptionsTest : public qtest::ReaderProgramTest {
 protected:
  OptionsTest() : ReaderProgramTest("quillet-options") {}
  void SetUp() override {
    ReaderProgramTest::SetUp();
    Serve("feed.xml", Feed(site_));
    WriteDeviceFile(u"\\Program Files\\Quillet\\ChannelData\\Channels.opml",
                    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<opml version=\"1.0\"><head><title>t</title></head>"
                    "<body nextID=\"101\"><outline text=\"Others\" type=\"rss\" uniqueID=\"90\">"
                    "<outline text=\"Loopback News\" type=\"rss\" uniqueID=\"100\" xmlUrl=\"" + site_ +
                    "/feed.xml\"/></outline></body></opml>\n");
  }
  void Start(const char* profile) {
    ASSERT_TRUE(qtest::StartReader(profile, &process_, &q_));
    ASSERT_TRUE(q_.Advance(200));
    ASSERT_TRUE(q_.Advance(10));
    list_ = q_.ActiveWindow();
  }
  // Takes the picture and reads it back.
  qk::gdi::DecodedImage Seen(const std::string& name) {
    std::string path = qtest::PicturesDir() + "/options-" + name + ".png";
    qk::gdi::DecodedImage image;
    EXPECT_TRUE(q_.Shot(path));
    std::string bytes = qtest::ReadHostFile(path);
    EXPECT_TRUE(qk::gdi::DecodePng(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &image)) << path;
    return image;
  }
  // Opens an option page from the channel list: on the touch screen the
  // menu's options page (row 0 General, 3 Network; an option page that
  // closes leaves that menu page showing), on the key device the Options
  // entry of the Menu soft key (0 General, 1 Network).
  void OpenPage(bool touch, int entry, bool menuShows = false) {
    if (touch && menuShows) {
      ASSERT_TRUE(q_.Tap(240, kPage0 + entry * kPagePitch));
    } else if (touch) {
      ASSERT_TRUE(q_.Tap(kBarRight, kBar));
      ASSERT_TRUE(q_.Advance(10));
      ASSERT_TRUE(q_.Tap(kBarLeft, kBar));
      ASSERT_TRUE(q_.Advance(10));
      ASSERT_TRUE(q_.Tap(240, kPage0 + entry * kPagePitch));
    } else {
      ASSERT_TRUE(q_.SoftKey(2));
      for (int i = 0; i < 6; ++i) ASSERT_TRUE(q_.Key(VK_UP));
      ASSERT_TRUE(q_.Key(VK_RIGHT));  // the submenu opens without a highlight
      for (int i = 0; i <= entry; ++i) ASSERT_TRUE(q_.Key(VK_DOWN));
      ASSERT_TRUE(q_.Key(VK_RETURN));
    }
    ASSERT_TRUE(q_.Advance(10));
    ASSERT_TRUE(q_.WaitFor([&] { return q_.ActiveWindow() != list_ && q_.ActiveWindow() != nullptr; }));
    page_ = q_.ActiveWindow();
  }
  // Refreshes from the channel list and waits for the run's end.
  bool Refresh(bool touch, int runs) {
    if (!(touch ? q_.Tap(240, kBar) : q_.SoftKey(1))) return false;
    return WaitForRunEnd(runs);
  }
  // The records of the channel's item store.
  int StoredArticles() const {
    CItemStore store(0);
    store.Open(kStore, 0, 0);
    int n = 0;
    while (store.MoveNext()) ++n;
    return n;
  }

  HWND list_ = nullptr, page_ = nullptr;
};

}  // namespace


// The General page by taps and typing: a stored count beyond the limit is
// shown at the limit, typing beyond it corrects the text and selects it,
// an emptied field turns into 1, each up arrow raises its number by one
// from what it shows, the hidden limit switch keeps its stored value, and
// OK stores what the page shows: the next refresh keeps that many
// articles. Cancel stores nothing.
TEST_F(OptionsTest, GeneralByTouchStoresWhatItShowsAndTheRefreshKeepsThatMany) {
  ASSERT_TRUE(qtest::SetSettingDword(u"ArticlesNumber", 900));
  ASSERT_TRUE(qtest::SetSettingDword(u"VentrelNumber", 15));
  ASSERT_TRUE(qtest::SetSettingDword(u"ArticlesNumberSet", 0));
  ASSERT_TRUE(qtest::SetSettingDword(u"DownloadFulltext", 0));
  Start("");
  OpenPage(true, 0);
  const auto page = Seen("general-480x800");
  EXPECT_GT(Dark(page, 0, 100, 480, 480), 2000) << "the page shows no texts";
  const HWND articles = q_.FocusWindow();
  EXPECT_EQ(Text(articles), "500");
  // "5000" is more than a channel keeps: "500", all of it selected, so
  // that what is typed next replaces it.
  ASSERT_TRUE(q_.Tap(kNumberEnd, kArticles));
  ASSERT_TRUE(q_.Type(u"0"));
  EXPECT_EQ(Text(articles), "500");
  ASSERT_TRUE(q_.Type(u"7"));
  EXPECT_EQ(Text(articles), "7");
  // The up arrow shows the value it steps to.
  ASSERT_TRUE(q_.Tap(kArrow, kArticlesUp));
  EXPECT_EQ(Text(articles), "8");
  ASSERT_TRUE(q_.Tap(kArrow, kArticlesUp));
  EXPECT_EQ(Text(articles), "9");
  // The sync count emptied: 1; its up arrow: 2.
  ASSERT_TRUE(q_.Tap(kNumberEnd, kSyncCount));
  const HWND syncCount = q_.FocusWindow();
  EXPECT_EQ(Text(syncCount), "15");
  ASSERT_TRUE(q_.Key(VK_BACK));
  ASSERT_TRUE(q_.Key(VK_BACK));
  EXPECT_EQ(Text(syncCount), "1");
  ASSERT_TRUE(q_.Tap(kArrow, kSyncCountUp));
  EXPECT_EQ(Text(syncCount), "2");
  Seen("general-changed-480x800");
  ASSERT_TRUE(q_.Tap(kCheck, kImages));
  ASSERT_TRUE(q_.Tap(kCheck, kFullScreen));
  ASSERT_TRUE(q_.SoftKey(1));  // OK
  ASSERT_TRUE(q_.WaitFor([&] { return q_.ActiveWindow() != page_; }));
  EXPECT_EQ(SettingInt(u"ArticlesNumber"), 9);
  EXPECT_EQ(SettingInt(u"VentrelNumber"), 2);
  EXPECT_EQ(SettingInt(u"DownloadImage"), 0);
  EXPECT_EQ(SettingInt(u"DownloadFulltext"), 0);
  EXPECT_EQ(SettingInt(u"FullScreenReading"), 0);
  EXPECT_EQ(SettingInt(u"ArticlesNumberSet"), 0) << "the hidden switch changed";
  // The menu's options page shows again, without the input panel.
  const auto back = Seen("general-closed-480x800");
  EXPECT_GT(Light(back, 90, kPage0 - 20, 480, kPage0 + 20), 100) << "the menu page did not come back";
  EXPECT_EQ(Light(back, 0, kPanelTop, 480, kPanelBottom), 0) << "the input panel was left up";

  ASSERT_TRUE(q_.Tap(kBarRight, kBar));  // the menu closes
  ASSERT_TRUE(q_.Advance(10));
  ASSERT_TRUE(Refresh(true, 1));
  EXPECT_EQ(StoredArticles(), 9);
  EXPECT_NE(ReadDeviceFile(u"\\Program Files\\Quillet\\ChannelData\\Channels.opml").find("itemCount=\"9\""),
            std::string::npos);

  // Again: the stored values show; a change left with Cancel is not kept.
  OpenPage(true, 0);
  EXPECT_EQ(Text(q_.FocusWindow()), "9");
  ASSERT_TRUE(q_.Tap(kArrow, kArticlesUp));
  EXPECT_EQ(Text(q_.FocusWindow()), "10");
  ASSERT_TRUE(q_.Tap(kCheck, kImages));
  ASSERT_TRUE(q_.SoftKey(2));  // Cancel
  ASSERT_TRUE(q_.WaitFor([&] { return q_.ActiveWindow() != page_; }));
  EXPECT_EQ(SettingInt(u"ArticlesNumber"), 9);
  EXPECT_EQ(SettingInt(u"DownloadImage"), 0);
}

// The Network page by taps and typing: the proxy typed with blanks round
// it is stored without them and carries the next refresh through
// tinyproxy, which then writes its run log; the stored account matches a
// store without regard to case and another one is chosen from the list.
// Unticked again, the proxy's text is kept but the refresh goes direct
// and writes no log.
TEST_F(OptionsTest, NetworkByTouchProxyRunLogAndAccountReachTheRefresh) {
  qnet::TinyProxy proxy;
  QNET_REQUIRE_PEER(proxy.Start(), "tinyproxy");
  const std::string address = "127.0.0.1:" + std::to_string(proxy.port());
  WriteDeviceFile(u"\\Windows\\Messaging\\Accounts.txt", "Work Mail\nActiveSync\n  Home, Family  \n\n");
  ASSERT_TRUE(qtest::SetSettingString(u"EmailAccount", u"activesync"));
  Start("");
  OpenPage(true, 3);
  ASSERT_TRUE(q_.Tap(kCheck, kUseProxy));
  ASSERT_TRUE(q_.Tap(240, kProxy));
  const HWND field = q_.FocusWindow();
  ASSERT_TRUE(q_.Type(qk::FromUtf8("  " + address + " ")));
  EXPECT_EQ(Text(field), "  " + address + " ");
  ASSERT_TRUE(q_.Tap(kCheck, kRunLog));
  // The list: the three stores sorted, the stored one chosen, so that the
  // next one down is "Home, Family" (from no choice it would be the first).
  ASSERT_TRUE(q_.Tap(240, kAccount));
  const auto open = Seen("network-accounts-480x800");
  EXPECT_GT(Light(open, 12, 405, 468, 445), 100) << "the chosen first row";
  for (int row = 1; row < 3; ++row)
    EXPECT_GT(Dark(open, 12, 405 + row * 44, 468, 445 + row * 44), 100) << "no account in row " << row;
  EXPECT_EQ(Dark(open, 12, 545, 468, 580), 0) << "a fourth account";
  ASSERT_TRUE(q_.Key(VK_DOWN));
  ASSERT_TRUE(q_.Key(VK_RETURN));
  Seen("network-changed-480x800");
  ASSERT_TRUE(q_.SoftKey(1));  // OK
  ASSERT_TRUE(q_.WaitFor([&] { return q_.ActiveWindow() != page_; }));
  EXPECT_EQ(SettingInt(u"UseNetAgency"), 1);
  EXPECT_EQ(SettingText(u"NetAgencyIP"), address);
  EXPECT_EQ(SettingInt(u"VentrelLog"), 1);
  EXPECT_EQ(SettingInt(u"UseFreeConnections"), 1);
  EXPECT_EQ(SettingText(u"EmailAccount"), "Home, Family");
  EXPECT_EQ(Light(Seen("network-closed-480x800"), 0, kPanelTop, 480, kPanelBottom), 0)
      << "the input panel was left up";

  ASSERT_TRUE(q_.Tap(kBarRight, kBar));
  ASSERT_TRUE(q_.Advance(10));
  ASSERT_TRUE(Refresh(true, 1));
  EXPECT_NE(nginx_.WaitForLogLine("/feed.xml").find("tinyproxy"), std::string::npos) << nginx_.AccessLog();
  EXPECT_EQ(StoredArticles(), 12);
  const std::string log = ReadDeviceFile(kRunLogFile);
  EXPECT_FALSE(log.empty()) << "no run log";

  // The proxy and the log switched off: the text stays, the next refresh
  // goes direct and adds nothing to the log.
  OpenPage(true, 3);
  ASSERT_TRUE(q_.Tap(kCheck, kUseProxy));
  ASSERT_TRUE(q_.Tap(kCheck, kRunLog));
  const auto off = Seen("network-off-480x800");
  EXPECT_EQ(Dark(off, 14, 160, 466, 195), 0) << "the proxy field is not disabled";
  EXPECT_GT(Dark(off, 14, 210, 466, 260), 100) << "the page's texts went";
  ASSERT_TRUE(q_.SoftKey(1));
  ASSERT_TRUE(q_.WaitFor([&] { return q_.ActiveWindow() != page_; }));
  EXPECT_EQ(SettingInt(u"UseNetAgency"), 0);
  EXPECT_EQ(SettingText(u"NetAgencyIP"), address);
  EXPECT_EQ(SettingInt(u"VentrelLog"), 0);
  ASSERT_TRUE(q_.Tap(kBarRight, kBar));
  ASSERT_TRUE(q_.Advance(10));
  ASSERT_TRUE(Refresh(true, 2));
  ASSERT_TRUE(q_.WaitFor([&] {
    const std::string all = nginx_.AccessLog();
    size_t n = 0;
    for (size_t at = all.find("/feed.xml"); at != std::string::npos; at = all.find("/feed.xml", at + 1)) ++n;
    return n >= 2;
  }));
  const std::string all = nginx_.AccessLog();
  const size_t lineStart = all.rfind('\n', all.rfind("/feed.xml"));
  EXPECT_EQ(all.substr(lineStart == std::string::npos ? 0 : lineStart).find("tinyproxy"), std::string::npos) << all;
  EXPECT_EQ(ReadDeviceFile(kRunLogFile), log) << "the log went on";
}

// Both pages on the key device, by keys alone: the full-screen switch and
// the up-downs are hidden but the values are read and written; Cancel
// stores nothing; without the device's messaging the account list is
// empty and OK keeps the stored account. The channel list shows again
// after each page.
TEST_F(OptionsTest, BothPagesByKeysOnTheKeyDevice) {
  ASSERT_TRUE(qtest::SetSettingDword(u"ArticlesNumber", 10));
  ASSERT_TRUE(qtest::SetSettingDword(u"VentrelNumber", 15));
  ASSERT_TRUE(qtest::SetSettingString(u"EmailAccount", u"Outbox"));
  Start("keydevice");
  const auto list = Seen("k-channels-240x320");
  OpenPage(false, 0);
  const auto general = Seen("k-general-240x320");
  EXPECT_GT(Dark(general, 0, 30, 240, 280), 500) << "the page shows no texts";
  // Laid out for the 96 dpi screen: nothing beside the article count's
  // narrow field on its row.
  EXPECT_EQ(Dark(general, 80, 86, 240, 106), 0) << "the page is laid out for another density";
  const HWND articles = q_.FocusWindow();
  EXPECT_EQ(Text(articles), "10");
  // Emptied: 1, selected; "25" replaces it. Then the sync count, shown as
  // the article limit (10), takes no more than the new limit.
  ASSERT_TRUE(q_.Key(VK_END));
  ASSERT_TRUE(q_.Key(VK_BACK));
  ASSERT_TRUE(q_.Key(VK_BACK));
  EXPECT_EQ(Text(articles), "1");
  ASSERT_TRUE(q_.Type(u"25"));
  EXPECT_EQ(Text(articles), "25");
  ASSERT_TRUE(q_.Key(VK_TAB));
  const HWND syncCount = q_.FocusWindow();
  ASSERT_NE(syncCount, articles);
  EXPECT_EQ(Text(syncCount), "10");
  ASSERT_TRUE(q_.Key(VK_END));
  ASSERT_TRUE(q_.Type(u"0"));
  EXPECT_EQ(Text(syncCount), "25");
  ASSERT_TRUE(q_.Key(VK_TAB));  // the images switch
  ASSERT_TRUE(q_.Key(VK_SPACE));
  Seen("k-general-changed-240x320");
  ASSERT_TRUE(q_.SoftKey(2));  // Cancel
  ASSERT_TRUE(q_.WaitFor([&] { return q_.ActiveWindow() == list_; }));
  EXPECT_EQ(SettingInt(u"ArticlesNumber"), 10);
  EXPECT_EQ(SettingInt(u"DownloadImage"), -1000);
  const auto again = Seen("k-channels-after-general-240x320");
  EXPECT_EQ(Light(again, 0, 30, 240, 290), Light(list, 0, 30, 240, 290)) << "the channel list did not come back";

  OpenPage(false, 0);
  ASSERT_TRUE(q_.Key(VK_END));
  ASSERT_TRUE(q_.Type(u"0"));  // "100"
  ASSERT_TRUE(q_.Key(VK_TAB));
  ASSERT_TRUE(q_.Key(VK_TAB));
  ASSERT_TRUE(q_.Key(VK_SPACE));
  ASSERT_TRUE(q_.SoftKey(1));  // OK
  ASSERT_TRUE(q_.WaitFor([&] { return q_.ActiveWindow() == list_; }));
  EXPECT_EQ(SettingInt(u"ArticlesNumber"), 100);
  EXPECT_EQ(SettingInt(u"VentrelNumber"), 10);
  EXPECT_EQ(SettingInt(u"DownloadImage"), 0);
  EXPECT_EQ(SettingInt(u"DownloadFulltext"), 1);
  EXPECT_EQ(SettingInt(u"FullScreenReading"), 0) << "the key device's default";
  EXPECT_EQ(SettingInt(u"ArticlesNumberSet"), 1);

  // The Network page: the proxy switch has the focus first.
  OpenPage(false, 1);
  const auto network = Seen("k-network-240x320");
  EXPECT_GT(Dark(network, 0, 30, 240, 200), 300) << "the page shows no texts";
  ASSERT_TRUE(q_.Key(VK_SPACE));
  ASSERT_TRUE(q_.Key(VK_TAB));
  ASSERT_TRUE(q_.Type(u" Proxy.Example-Net:8080\t"));
  Seen("k-network-changed-240x320");
  ASSERT_TRUE(q_.SoftKey(1));
  ASSERT_TRUE(q_.WaitFor([&] { return q_.ActiveWindow() == list_; }));
  EXPECT_EQ(SettingInt(u"UseNetAgency"), 1);
  EXPECT_EQ(SettingText(u"NetAgencyIP"), "Proxy.Example-Net:8080");
  EXPECT_EQ(SettingText(u"EmailAccount"), "Outbox");
  EXPECT_EQ(Light(Seen("k-channels-after-network-240x320"), 0, 30, 240, 290), Light(list, 0, 30, 240, 290));
}
