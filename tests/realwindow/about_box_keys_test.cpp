// The About box in the reader's real SDL window on a virtual X server
// (Xvfb), closed with the desktop's Back keys typed through xdotool:
// Backspace and Escape, as they leave every other screen.
#include <gtest/gtest.h>

#include "kernel/kernel.h"
#include "support/device_fixture.h"
#include "support/remote_program.h"
#include "user/user.h"
#include "xwindow_fixture.h"

namespace {

class AboutBoxKeysTest : public qtest::XWindowTest {};

}  // namespace

TEST_F(AboutBoxKeysTest, BackspaceAndEscapeCloseTheAboutBox) {
  WriteDeviceFile(u"\\Program Files\\Quillet\\ChannelData\\Channels.opml",
                  "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<opml version=\"1.0\"><head><title>t</title></head>"
                  "<body nextID=\"101\"><outline text=\"Others\" type=\"rss\" uniqueID=\"90\">"
                  "<outline text=\"One\" type=\"rss\" uniqueID=\"100\" xmlUrl=\"http://127.0.0.1:9/feed\"/>"
                  "</outline></body></opml>\n");
  Start("");
  const HWND main = q_.Window();
  ASSERT_TRUE(Until([&] { return q_.ActiveWindow() == main; })) << "the channel list does not show";
  for (const char* key : {"BackSpace", "Escape"}) {
    PostMessageW(main, WM_COMMAND, 57664, 0);  // About, as the menus send it
    ASSERT_TRUE(Until([&] { return q_.ActiveWindow() != main && q_.ActiveWindow() != nullptr; })) << key;
    const HWND about = q_.ActiveWindow();
    Key(key);
    EXPECT_TRUE(Until([&] { return !IsWindow(about); })) << key << " leaves the About box open";
    EXPECT_EQ(q_.ActiveWindow(), main) << key;
  }
}
