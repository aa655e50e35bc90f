// The General and Network option pages in the reader's real SDL window on a
// virtual X server (Xvfb), their fields typed with real X key events
// through xdotool: the proxy's host and port with capitals, dots, a dash,
// a colon and blanks round them, the e-mail account chosen by its typed
// first letter, and the article count. What the pages store is read back
// from the device's registry.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "kernel/kernel.h"
#include "kernel/process.h"
#include "kernel/wstring.h"
#include "support/device_fixture.h"
#include "support/net_servers.h"
#include "support/remote_program.h"
#include "support/settings_registry.h"
#include "support/screen_checks.h"
#include "user/user.h"
#include "xwindow_fixture.h"

namespace {

using qtest::Text;

std::string SettingText(const char16_t* name) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Marrowby\\Quillet Reach\\Settings", 0, KEY_READ, &key) !=
      ERROR_SUCCESS)
    return "(missing)";
  WCHAR buf[300] = {0};
  DWORD type = 0, size = sizeof buf - sizeof(WCHAR);
  LONG r = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(buf), &size);
  DWORD number = 0;
  if (r == ERROR_SUCCESS && type == REG_DWORD) std::memcpy(&number, buf, sizeof number);
  RegCloseKey(key);
  if (r != ERROR_SUCCESS) return "(missing)";
  return type == REG_DWORD ? std::to_string(number) : qk::ToUtf8(buf);
}

// Where things are on the 480 x 800 touch screen: the channel list's bar,
// the menu's rows, the Network page's proxy switch, proxy field and
// account list.
constexpr int kBar = 760, kBarLeft = 48, kBarRight = 432, kPage0 = 93, kPagePitch = 82;
constexpr int kUseProxy = 130, kProxy = 177, kAccount = 380;

class OptionsTypedTest : public qtest::XWindowTest {};

}  // namespace

TEST_F(OptionsTypedTest, ProxyAccountAndArticleCountTypedOnTheDesktopKeyboard) {
  WriteDeviceFile(u"\\Program Files\\Quillet\\ChannelData\\Channels.opml",
                  "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<opml version=\"1.0\"><head><title>t</title></head>"
                  "<body nextID=\"101\"><outline text=\"Others\" type=\"rss\" uniqueID=\"90\">"
                  "<outline text=\"Typed News\" type=\"rss\" uniqueID=\"100\" xmlUrl=\"http://127.0.0.1:9/feed\"/>"
                  "</outline></body></opml>\n");
  WriteDeviceFile(u"\\Windows\\Messaging\\Accounts.txt", "ActiveSync\nWork Mail\nHome, Family\n");
  Start("");
  ASSERT_TRUE(q_.Advance(200));
  const HWND list = q_.ActiveWindow();
  Click(kBarRight, kBar);  // the menu
  ASSERT_TRUE(Until([&] { return q_.ActiveWindow() != list; }));
  const HWND menu = q_.ActiveWindow();
  Click(kBarLeft, kBar);  // its options page
  ASSERT_TRUE(q_.Advance(10));
  Click(240, kPage0 + 3 * kPagePitch);  // Network
  ASSERT_TRUE(Until([&] { return q_.ActiveWindow() != menu && q_.ActiveWindow() != nullptr; }));
  const HWND network = q_.ActiveWindow();
  Click(27, kUseProxy);
  Click(240, kProxy);
  ASSERT_TRUE(Until([&] { return q_.FocusWindow() != nullptr && Text(q_.FocusWindow()).empty(); }));
  const HWND proxy = q_.FocusWindow();
  Type("  Proxy.Example-Net:8080 ");
  ASSERT_TRUE(Until([&] { return Text(proxy) == "  Proxy.Example-Net:8080 "; })) << Text(proxy);
  // The account list (a tap opens it, another closes it and leaves it the
  // focus): its typed first letter chooses "Work Mail".
  Click(240, kAccount);
  ASSERT_TRUE(q_.Advance(10));
  Click(240, kAccount);
  ASSERT_TRUE(Until([&] { return q_.FocusWindow() != proxy; }));
  Type("W");
  ASSERT_TRUE(q_.Settle());
  Key("F1");  // OK
  ASSERT_TRUE(Until([&] { return q_.ActiveWindow() != network; }));
  EXPECT_EQ(SettingText(u"UseNetAgency"), "1");
  EXPECT_EQ(SettingText(u"NetAgencyIP"), "Proxy.Example-Net:8080");
  EXPECT_EQ(SettingText(u"EmailAccount"), "Work Mail");

  // The General page: the article count emptied turns into 1, selected,
  // and the typed "25" replaces it.
  Click(240, kPage0);
  ASSERT_TRUE(Until([&] { return q_.ActiveWindow() != menu && q_.ActiveWindow() != nullptr; }));
  const HWND general = q_.ActiveWindow();
  const HWND articles = q_.FocusWindow();
  ASSERT_EQ(Text(articles), "50");
  Key("End");
  Key("BackSpace");
  Key("BackSpace");
  ASSERT_TRUE(Until([&] { return Text(articles) == "1"; })) << Text(articles);
  Type("25");
  ASSERT_TRUE(Until([&] { return Text(articles) == "25"; })) << Text(articles);
  Key("F1");
  ASSERT_TRUE(Until([&] { return q_.ActiveWindow() != general; }));
  EXPECT_EQ(SettingText(u"ArticlesNumber"), "25");
}
