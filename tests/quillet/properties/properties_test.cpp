// The channel properties. In the real "Quillet.exe" (its own device root,
// its clock frozen) against nginx and the scripted server on loopback: the
// key device's dialog form from the channel list (the title fetched, typed
// and renamed, Back deleting a character, Cancel during a fetch that
// stalls and a large feed fetched after it), and the touch screen's sheet
// from the headline list (its Title and Details tabs, the sheet closed
// during a fetch) and the program ended during a fetch. In one process: the
// rename against the channel list of a main frame.
#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>

#include "common/settings.h"
#include "gdi/image_codec.h"
#include "kernel/kernel.h"
#include "kernel/process.h"
#include "kernel/wstring.h"
#include "quillet/feeds/opml_xml.h"
#include "quillet/refresh/refresh_state.h"
#include "quillet/res/resources.h"
#include "quillet/channel_properties/channel_properties.h"
#include "quillet/frame/main_frame.h"
#include "quillet/frame/reader_app.h"
#include "quillet/ui/density.h"
#include "shell/aygshell.h"
#include "support/device_fixture.h"
#include "support/http_server.h"
#include "support/pictures.h"
#include "support/reader_frame_fixture.h"
#include "support/remote_program.h"
#include "support/screen_checks.h"
#include "user/user.h"

namespace {

constexpr const char16_t* kList = u"\\Program Files\\Quillet\\ChannelData\\Channels.opml";
constexpr const char16_t* kData = u"\\Program Files\\Quillet\\ChannelData\\";

using qtest::Text;

// Light pixels (every channel above 200) and dark ones (every channel
// below 80) in a part of a picture.
int Count(const qk::gdi::DecodedImage& p, int left, int top, int right, int bottom, bool light) {
  int n = 0;
  for (int y = std::max(top, 0); y < std::min(bottom, p.height); ++y)
    for (int x = std::max(left, 0); x < std::min(right, p.width); ++x) {
      const uint8_t* px = &p.bgra[(static_cast<size_t>(y) * p.width + x) * 4];
      if (light ? (px[0] > 200 && px[1] > 200 && px[2] > 200) : (px[0] < 80 && px[1] < 80 && px[2] < 80)) ++n;
    }
  return n;
}

std::string Feed(const std::string& title, size_t padding = 0) {
  std::string feed = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<rss version=\"2.0\"><channel><title>" + title +
                     "</title><link>http://127.0.0.1/site</link><description>About the channel</description>"
                     "<language>en-gb</language>";
  // A large feed: items enough to pass the downloader's 128 KB block.
  for (size_t i = 0; feed.size() < padding; ++i)
    feed += "<item><title>Story " + std::to_string(i) + "</title><link>http://127.0.0.1/s/" + std::to_string(i) +
            "</link><description>" + std::string(400, 'x') + "</description></item>";
  return feed + "</channel></rss>\n";
}

class PropertiesTest : public qtest::DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    qk::SetProgramHost(u"Quillet.exe", QUILLET_EXE);
    setenv("QUILLET_HEADLESS", "1", 1);
    docroot_ = qnet::MakeTempFolder("quillet-properties");
    ASSERT_TRUE(nginx_.Start(docroot_));
    ASSERT_TRUE(slow_.Start());
    qtest::WriteHostFile(docroot_ + "/feed.xml", Feed("Fetched Feed Title"));
    qtest::WriteHostFile(docroot_ + "/big.xml", Feed("Big Feed", 300000));
  }
  void TearDown() override {
    if (process_) qtest::EndProcess(process_);
    unsetenv("QUILLET_SCREEN_PROFILE");
    nginx_.Stop();
    qnet::RemoveTree(docroot_);
    DeviceTest::TearDown();
  }
  // Three channels, in this order on the screen: "Alpha News" (the feed),
  // "Beta Stalls" (an address that stalls, given by the test) and "Gamma
  // Big" (a feed of 300 KB). Channel 100 keeps a feed file for its
  // details.
  void MakeChannels(const std::string& stallPath) {
    const std::string channels[3][3] = {{"100", "Alpha News", nginx_.Url("/feed.xml")},
                                        {"101", "Beta Stalls", slow_.Url(stallPath)},
                                        {"102", "Gamma Big", nginx_.Url("/big.xml")}};
    std::string body = "<outline text=\"News\" type=\"rss\" uniqueID=\"90\">";
    for (const auto& c : channels)
      body += "<outline text=\"" + c[1] + "\" type=\"rss\" uniqueID=\"" + c[0] + "\" xmlUrl=\"" + c[2] +
              "\" itemCount=\"0\" newItemCount=\"0\"/>";
    WriteDeviceFile(kList, "<?xml version=\"1.0\"?>\n<opml version=\"1.0\"><head/><body nextID=\"103\">" + body +
                               "</outline></body></opml>\n");
    WriteDeviceFile((std::u16string(kData) + u"Ch100.xml").c_str(), Feed("Alpha &amp; Friends"));
  }
  void Start(const char* profile) {
    ASSERT_TRUE(qtest::StartReader(profile, &process_, &q_, &pid_));
    ASSERT_TRUE(q_.Advance(200));
    ASSERT_TRUE(q_.Advance(10));
    ASSERT_TRUE(q_.LogMessageBoxes(Boxes()));
  }
  std::string Boxes() const { return Host(u"\\") + "/boxes.txt"; }
  qk::gdi::DecodedImage Seen(const std::string& name) {
    std::string path = qtest::PicturesDir() + "/properties-" + name + ".png";
    qk::gdi::DecodedImage image;
    EXPECT_TRUE(q_.Shot(path));
    std::string bytes = qtest::ReadHostFile(path);
    EXPECT_TRUE(qk::gdi::DecodePng(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &image)) << path;
    return image;
  }
  // The temporary files of title fetches left in ChannelData.
  int FetchFiles() const {
    int n = 0;
    for (const auto& e : std::filesystem::directory_iterator(Host(u"\\Program Files\\Quillet\\ChannelData")))
      if (e.path().filename().string().rfind("Validate", 0) == 0) ++n;
    return n;
  }
  // Requests for a path the scripted server has had.
  int RequestsFor(const std::string& path) const {
    int n = 0;
    for (const std::string& r : slow_.Requests())
      if (r.rfind("GET " + path + " ", 0) == 0) ++n;
    return n;
  }
  // The key device's menu soft key: the entry reached by that many Down keys.
  void KeyMenu(int key, int steps) {
    ASSERT_TRUE(q_.SoftKey(key));
    for (int i = 0; i < steps; ++i) ASSERT_TRUE(q_.Key(VK_DOWN));
    ASSERT_TRUE(q_.Key(VK_RETURN));
    ASSERT_TRUE(q_.Advance(10));
  }
  std::string ChannelList() const { return ReadDeviceFile(kList); }

  std::string docroot_;
  qtest::NginxServer nginx_;
  qtest::ScriptedHttpServer slow_;
  HANDLE process_ = nullptr;
  DWORD pid_ = 0;
  qtest::RemoteProgram q_;
};

// Where things are on the 480 x 800 touch screen.
constexpr int kRow0 = 176;                    // the first channel row
constexpr int kBar = 760, kBarLeft = 48, kBarRight = 432;  // the headline list's back and menu buttons
constexpr int kPage0 = 93, kPagePitch = 82;   // the headline menu's rows
constexpr int kDoneX = 450, kDoneY = 26;      // the task bar's "ok"
constexpr int kTabY = 775, kTitleTabX = 40, kDetailsTabX = 120;
constexpr int kGetTitleX = 150, kRenameX = 400, kButtonsY = 355;

}  // namespace

// The key device: Properties from the channel list's menu opens the dialog
// form on the focused channel. Back deletes a character of the title, the
// menu fetches the title from the feed, the typed title renames the
// channel. A fetch that stalls is cancelled with the right soft key at
// once, and the next fetch (of a feed larger than one block of the
// downloader) is not cut short by that stop. The program ended while a
// fetch waits ends cleanly.
TEST_F(PropertiesTest, ByKeysTheDialogFormFetchesRenamesAndCancelsAFetchThatStalls) {
  MakeChannels("/silent");
  Start("keydevice");
  const HWND channels = q_.ActiveWindow();
  Seen("k-channels-240x320");
  KeyMenu(2, 3);  // "Properties" of row 0
  const HWND dialog = q_.ActiveWindow();
  ASSERT_NE(dialog, channels);
  EXPECT_EQ(Text(dialog), "Quillet");
  EXPECT_EQ(Text(q_.FocusWindow()), "Alpha News");
  auto shown = Seen("k-dialog-240x320");
  EXPECT_GT(Count(shown, 0, 30, 240, 250, true), 5000) << "no edits";
  EXPECT_GT(Count(shown, 0, 30, 240, 250, false), 200) << "no texts";
  // Back deletes the character before the caret; the form stays.
  ASSERT_TRUE(q_.Key(VK_ESCAPE));
  EXPECT_EQ(Text(q_.FocusWindow()), "Alpha New");
  EXPECT_EQ(q_.ActiveWindow(), dialog);
  // Menu, "Get Channel's Title".
  KeyMenu(1, 1);
  ASSERT_TRUE(q_.WaitFor([&] { return Text(q_.FocusWindow()) == "Fetched Feed Title"; })) << Text(q_.FocusWindow());
  EXPECT_NE(nginx_.AccessLog().find("/feed.xml"), std::string::npos);
  EXPECT_EQ(FetchFiles(), 0);
  Seen("k-dialog-fetched-240x320");
  // A title typed after it, and Menu, "Rename".
  ASSERT_TRUE(q_.Type(u" & Co."));
  KeyMenu(1, 2);
  EXPECT_NE(ChannelList().find("text=\"Fetched Feed Title &amp; Co.\""), std::string::npos) << ChannelList();
  EXPECT_EQ(qtest::ReadHostFile(Boxes()),
            "Information\tThis channel's name has been modified successfully.\t1\n");
  EXPECT_EQ(q_.ActiveWindow(), dialog);
  // Cancel: back on the channel list, which shows the new name.
  ASSERT_TRUE(q_.SoftKey(2));
  ASSERT_TRUE(q_.Advance(10));
  EXPECT_EQ(q_.ActiveWindow(), channels);
  EXPECT_FALSE(IsWindow(dialog));
  auto back = Seen("k-channels-renamed-240x320");
  EXPECT_GT(Count(back, 0, 30, 240, 280, false), 200) << "the list did not come back";

  // "Beta Stalls", now the first row, stalls after its headers: Cancel
  // during the fetch closes the form at once and leaves no file.
  KeyMenu(2, 3);
  ASSERT_EQ(Text(q_.FocusWindow()), "Beta Stalls");
  KeyMenu(1, 1);
  ASSERT_TRUE(slow_.WaitForRequest("/silent"));
  Seen("k-dialog-fetching-240x320");
  ASSERT_TRUE(q_.SoftKey(2));
  ASSERT_TRUE(q_.Advance(10));
  EXPECT_EQ(q_.ActiveWindow(), channels);
  EXPECT_EQ(FetchFiles(), 0);
  Seen("k-channels-after-cancel-240x320");
  // The last row's feed is 300 KB: all of it comes, and its title.
  ASSERT_TRUE(q_.Key(VK_DOWN));
  ASSERT_TRUE(q_.Key(VK_DOWN));
  KeyMenu(2, 3);
  ASSERT_EQ(Text(q_.FocusWindow()), "Gamma Big");
  KeyMenu(1, 1);
  ASSERT_TRUE(q_.WaitFor([&] { return Text(q_.FocusWindow()) == "Big Feed"; }, 30000)) << Text(q_.FocusWindow());
  EXPECT_EQ(qtest::ReadHostFile(Boxes()).find("Download failed"), std::string::npos) << qtest::ReadHostFile(Boxes());
  ASSERT_TRUE(q_.SoftKey(2));
  ASSERT_TRUE(q_.Advance(10));
  EXPECT_EQ(q_.ActiveWindow(), channels);
  EXPECT_EQ(ChannelList().find("Big Feed"), std::string::npos) << "closing wrote the title";

  // "Beta Stalls" again, and the program is ended while its fetch waits.
  ASSERT_TRUE(q_.Key(VK_UP));
  ASSERT_TRUE(q_.Key(VK_UP));
  KeyMenu(2, 3);
  ASSERT_EQ(Text(q_.FocusWindow()), "Beta Stalls");
  KeyMenu(1, 1);
  ASSERT_TRUE(q_.WaitFor([&] { return RequestsFor("/silent") == 2; }));
  ASSERT_EQ(kill(static_cast<pid_t>(pid_), SIGTERM), 0);
  EXPECT_EQ(qtest::WaitForExitCode(process_, 30000), 0u);
  EXPECT_EQ(FetchFiles(), 0);
  EXPECT_NE(ChannelList().find("text=\"Fetched Feed Title &amp; Co.\""), std::string::npos) << ChannelList();
}

// The touch screen: the headline list's menu opens the property sheet with
// the tabs "Title" and "Details"; the Details tab shows what the channel's
// feed file says; the title page fetches and renames with its buttons, and
// the headline list shows the new name. The sheet closed while a fetch
// waits for an answer closes at once and nothing of the fetch comes
// after.
TEST_F(PropertiesTest, ByTouchTheSheetShowsItsTabsAndIsClosedDuringAFetch) {
  MakeChannels("/gated/one");
  Start("");
  const HWND channels = q_.ActiveWindow();
  ASSERT_TRUE(q_.Tap(240, kRow0));
  ASSERT_TRUE(q_.Advance(10));
  const HWND headlines = q_.ActiveWindow();
  ASSERT_NE(headlines, channels);
  Seen("headlines-480x800");
  auto openSheet = [&] {
    ASSERT_TRUE(q_.Tap(kBarRight, kBar));
    ASSERT_TRUE(q_.Advance(10));
    ASSERT_TRUE(q_.Tap(240, kPage0 + 5 * kPagePitch));  // "Properties"
    ASSERT_TRUE(q_.Advance(10));
  };
  openSheet();
  const HWND sheet = q_.ActiveWindow();
  ASSERT_NE(sheet, headlines);
  EXPECT_EQ(Text(sheet), "Quillet Reach");
  const HWND titleEdit = q_.FocusWindow();
  EXPECT_EQ(Text(titleEdit), "Alpha News");
  auto title = Seen("sheet-title-480x800");
  EXPECT_GT(Count(title, 0, 60, 480, 700, true), 20000) << "no page";
  EXPECT_GT(Count(title, 0, 60, 480, 700, false), 500) << "no texts";
  // The Details tab: the channel's feed file, as HTML.
  ASSERT_TRUE(q_.Tap(kDetailsTabX, kTabY));
  auto details = Seen("sheet-details-480x800");
  EXPECT_GT(Count(details, 0, 120, 480, 400, false), 300) << "no details";
  ASSERT_TRUE(q_.Tap(kTitleTabX, kTabY));
  Seen("sheet-title-again-480x800");
  // "Get Channel's Title", then "Rename".
  ASSERT_TRUE(q_.Tap(kGetTitleX, kButtonsY));
  ASSERT_TRUE(q_.WaitFor([&] { return Text(titleEdit) == "Fetched Feed Title"; })) << Text(titleEdit);
  Seen("sheet-fetched-480x800");
  ASSERT_TRUE(q_.Tap(kRenameX, kButtonsY));
  EXPECT_NE(ChannelList().find("text=\"Fetched Feed Title\""), std::string::npos) << ChannelList();
  // The task bar's "ok" closes the sheet; the headline list shows the
  // new name in its title band.
  ASSERT_TRUE(q_.Tap(kDoneX, kDoneY));
  ASSERT_TRUE(q_.Advance(10));
  EXPECT_EQ(q_.ActiveWindow(), headlines);
  auto back = Seen("headlines-after-sheet-480x800");
  EXPECT_GT(Count(back, 0, 0, 480, 100, true), 300) << "no title band";

  // "Beta Stalls" (now the first row) has its feed held back: the sheet
  // is closed while its fetch waits.
  ASSERT_TRUE(q_.Tap(kBarLeft, kBar));  // back to the channels
  ASSERT_TRUE(q_.Advance(10));
  ASSERT_EQ(q_.ActiveWindow(), channels);
  ASSERT_TRUE(q_.Tap(240, kRow0));
  ASSERT_TRUE(q_.Advance(10));
  openSheet();
  ASSERT_EQ(Text(q_.FocusWindow()), "Beta Stalls");
  ASSERT_TRUE(q_.Tap(kGetTitleX, kButtonsY));
  ASSERT_TRUE(slow_.WaitForRequest("/gated/one"));
  ASSERT_TRUE(q_.Tap(kDoneX, kDoneY));
  ASSERT_TRUE(q_.Advance(10));
  EXPECT_NE(q_.ActiveWindow(), sheet);
  EXPECT_EQ(FetchFiles(), 0);
  // The answer comes now: nobody takes it, no box shows.
  ASSERT_TRUE(slow_.Open("one"));
  ASSERT_TRUE(q_.Settle());
  EXPECT_EQ(qtest::ReadHostFile(Boxes()).find("Download failed"), std::string::npos) << qtest::ReadHostFile(Boxes());
  Seen("headlines-after-closed-fetch-480x800");

}

namespace {

class RenameTest : public qtest::ReaderFrameTest {
 protected:
  void SetUp() override {
    ReaderFrameTest::SetUp();
    StartReader(kList,
                "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<opml version=\"1.0\"><head/><body nextID=\"200\">"
                "<outline text=\"News\" type=\"rss\" uniqueID=\"150\">"
                "<outline text=\"Alpha\" type=\"rss\" uniqueID=\"101\" xmlUrl=\"http://127.0.0.1/a\"/>"
                "<outline text=\"Beta\" type=\"rss\" uniqueID=\"102\" xmlUrl=\"http://127.0.0.1/b\"/>"
                "</outline></body></opml>\n",
                false);
  }
};

}  // namespace

// Rename writes the title typed to the channel with the URL shown and says
// so; a channel that is no longer in the channel list is not renamed and
// the user is told so, never that it was renamed.
TEST_F(RenameTest, TheSuccessBoxComesOnlyWhenTheChannelWasRenamed) {
  COptionChannelInfoMainDialog form;
  form.SetField(u"UniqueID", u"101");
  form.SetField(u"url", u"http://127.0.0.1/a");
  form.SetField(u"TITLE", u"Alpha");
  ASSERT_TRUE(form.Create(IDD_CHANNEL_INFO_DIALOG, nullptr));
  CString shown;
  form.Form().TitleEdit().GetWindowText(shown);
  EXPECT_TRUE(shown == u"Alpha");
  form.Form().TitleEdit().SetWindowText(u"  Alpha & Omega  ");
  form.Form().OnRename();
  EXPECT_EQ(boxes_, "Information: This channel's name has been modified successfully.\n");
  EXPECT_NE(ReadDeviceFile(kList).find("text=\"Alpha &amp; Omega\""), std::string::npos) << ReadDeviceFile(kList);
  // The channel goes from the list while its properties show.
  boxes_.clear();
  frame_->ChannelListWnd().Dialog().m_pOpml->RemoveChannel(u"http://127.0.0.1/a");
  const std::string list = ReadDeviceFile(kList);
  form.Form().TitleEdit().SetWindowText(u"Gone");
  form.Form().OnRename();
  EXPECT_EQ(boxes_.find("successfully"), std::string::npos) << boxes_;
  EXPECT_NE(boxes_.find("Error: "), std::string::npos) << boxes_;
  EXPECT_EQ(ReadDeviceFile(kList), list);
  form.DestroyWindow();
}
