// The channel list's commands, its menu pages, the headline-list menu, the
// category chooser and the category editor, worked in the real
// "Quillet.exe" (its own device root, its clock frozen) by taps on the
// touch screen and by keys on the key device. A list of 30 channels in 4
// categories with item stores written by the feed parser; after each
// command "Channels.opml" and the files under ChannelData are read back.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "gdi/image_codec.h"
#include "kernel/kernel.h"
#include "kernel/process.h"
#include "kernel/wstring.h"
#include "quillet/feeds/item_store.h"
#include "quillet/feeds/opml_xml.h"
#include "quillet/feeds/rss_xml.h"
#include "support/device_fixture.h"
#include "support/host_window.h"
#include "support/net_servers.h"
#include "support/pictures.h"
#include "support/remote_program.h"
#include "support/screen_checks.h"
#include "user/user.h"

namespace {

constexpr const char16_t* kData = u"\\Program Files\\Quillet\\ChannelData\\";
constexpr const char16_t* kList = u"\\Program Files\\Quillet\\ChannelData\\Channels.opml";

CString W(const std::string& s) { return CString(qk::FromUtf8(s).c_str()); }

// A channel as "Channels.opml" holds it.
struct Saved {
  std::string category, title, url, items, fresh;
};
struct Walk {
  std::map<int, Saved> channels;
  std::vector<std::string> categories;
  Saved current;
  int id = -1;
};
void OnOutline(void* context, LPCWSTR parent, LPCWSTR name, LPCWSTR value) {
  auto* w = static_cast<Walk*>(context);
  std::string n = qk::ToUtf8(name ? name : u""), v = qk::ToUtf8(value ? value : u"");
  std::string p = qk::ToUtf8(parent ? parent : u"");
  if (n.empty() && v.empty()) {
    if (w->id >= 0) w->channels[w->id] = w->current;
    w->current = Saved();
    w->id = -1;
    return;
  }
  if (p.empty()) {
    if (n == "text") w->categories.push_back(v);
    return;
  }
  w->current.category = p;
  if (n == "text") w->current.title = v;
  if (n == "xmlUrl") w->current.url = v;
  if (n == "uniqueID") w->id = atoi(v.c_str());
  if (n == "itemCount") w->current.items = v;
  if (n == "newItemCount") w->current.fresh = v;
}
Walk ReadList(const char16_t* path) {
  Walk w;
  COpmlXML list(OnOutline, &w, 1);
  list.LoadAndWalk(path);
  return w;
}

using qtest::Light;

const char* const kCategories[] = {"News", "Sports", "Tech", "Others"};

class MenusTest : public qtest::DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    qk::SetProgramHost(u"Quillet.exe", QUILLET_EXE);
    setenv("QUILLET_HEADLESS", "1", 1);
  }
  void TearDown() override {
    if (process_) qtest::EndProcess(process_);
    unsetenv("QUILLET_SCREEN_PROFILE");
    DeviceTest::TearDown();
  }
  static CString Data(const std::string& name) { return CString(kData) + W(name); }

  // 30 channels, 100 to 128 and 1000 (whose file names begin with channel
  // 100's), in News, Sports, Tech and Others by their number; their titles
  // sort them in number order, 1000 last. Channels 100, 101 and 1000 have
  // item stores of three stories, the first of them read.
  void MakeChannels(const std::string& more = "") {
    std::string body;
    for (int c = 0; c < 4; ++c) {
      body += std::string("<outline text=\"") + kCategories[c] + "\" type=\"rss\" uniqueID=\"" +
              std::to_string(90 + c) + "\">";
      for (int i = 0; i < 30; ++i) {
        const int id = i < 29 ? 100 + i : 1000;
        if (i % 4 != c) continue;
        char title[32];
        snprintf(title, sizeof title, "Channel %02d", i);
        body += std::string("<outline text=\"") + title + "\" type=\"rss\" uniqueID=\"" + std::to_string(id) +
                "\" xmlUrl=\"http://127.0.0.1/feed/" + std::to_string(id) +
                "\" itemCount=\"3\" newItemCount=\"2\"/>";
      }
      body += "</outline>";
    }
    body += more;
    WriteDeviceFile(kList, "<?xml version=\"1.0\"?>\n<opml version=\"1.0\"><head/><body nextID=\"1001\">" + body +
                               "</body></opml>\n");
    for (int id : {100, 101, 1000}) {
      std::string x = "<?xml version=\"1.0\"?>\n<rss version=\"2.0\"><channel><title>T</title>";
      for (int i = 0; i < 3; ++i)
        x += "<item><title>Story " + std::to_string(i) + "</title><link>http://127.0.0.1/s/" + std::to_string(id) +
             "/" + std::to_string(i) + "</link><pubDate>Tue, 08 Dec 2026 0" + std::to_string(i) +
             ":00:00 GMT</pubDate><description>Body</description></item>";
      WriteDeviceFile(Data("Ch" + std::to_string(id) + "~.xml").GetString(), x + "</channel></rss>\n");
      CRssXML feed(nullptr, nullptr, nullptr, 1);
      ASSERT_TRUE(feed.LoadEx(Data("Ch" + std::to_string(id) + "~.xml").GetString(), 0, 1));
      ASSERT_TRUE(feed.SaveItems());
      CItemStore store(0);
      store.Open(Data("Ch" + std::to_string(id) + ".bin"), 0, 0);
      SetItemReadState(&store, u"http://127.0.0.1/s/" + W(std::to_string(id)) + u"/0", ITEM_READ_READ);
    }
    for (const char* name : {"Ch100-1.htm", "Ch100-1.bmp", "Ch100-Fav.ico", "Ch100.tpl", "Ch1000-Logo.img",
                             "Ch1000.tpl", "Ch101.xml", "Backup.OPML", "notes.txt"})
      WriteDeviceFile(Data(name).GetString(), "x");
  }
  // The files in ChannelData.
  std::set<std::string> Files() const {
    std::set<std::string> out;
    for (const auto& e : std::filesystem::directory_iterator(Host(u"\\Program Files\\Quillet\\ChannelData")))
      out.insert(e.path().filename().string());
    return out;
  }
  std::set<std::string> FilesOf(const std::string& prefix) const {
    std::set<std::string> out;
    for (const std::string& f : Files())
      if (f.rfind(prefix, 0) == 0 && (f.size() == prefix.size() || !isdigit(static_cast<unsigned char>(f[prefix.size()]))))
        out.insert(f);
    return out;
  }
  // The read states of a channel's items ("RRU": read, read, unread).
  std::string States(int id) const {
    CItemStore store(0);
    store.Open(Data("Ch" + std::to_string(id) + ".bin"), 0, 0);
    std::string s;
    while (store.MoveNext()) s += store.Current().readFlag >= ITEM_READ_READ ? 'R' : 'U';
    return s;
  }

  void Start(const char* profile) {
    ASSERT_TRUE(qtest::StartReader(profile, &process_, &q_));
    ASSERT_TRUE(q_.Advance(200));
    ASSERT_TRUE(q_.Advance(10));
  }
  // Takes the picture and reads it back.
  qk::gdi::DecodedImage Seen(const std::string& name) {
    std::string path = qtest::PicturesDir() + "/menus-" + name + ".png";
    qk::gdi::DecodedImage image;
    EXPECT_TRUE(q_.Shot(path));
    std::string bytes = qtest::ReadHostFile(path);
    EXPECT_TRUE(qk::gdi::DecodePng(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &image)) << path;
    return image;
  }

  HANDLE process_ = nullptr;
  qtest::RemoteProgram q_;
};

// Two synchronised channels with the labels Alpha and Beta, and Beta.
const char* const kSyncCategory =
    "<outline text=\"Google Reader\" type=\"rss\" uniqueID=\"95\">"
    "<outline text=\"Channel 30\" type=\"rss\" uniqueID=\"130\" xmlUrl=\"http://127.0.0.1/feed/130\" "
    "label=\"Alpha;Beta\" itemCount=\"3\" newItemCount=\"2\"/>"
    "<outline text=\"Channel 31\" type=\"rss\" uniqueID=\"131\" xmlUrl=\"http://127.0.0.1/feed/131\" "
    "label=\"Beta\" itemCount=\"3\" newItemCount=\"2\"/></outline>";

// Where things are on the 480 x 800 touch screen.
constexpr int kRow0 = 176, kRowPitch = 84;         // the channel rows
constexpr int kMenuEntry0 = 231, kMenuPitch = 86;  // the tap-and-hold menu's entries
constexpr int kBar = 760;                          // the button bar
constexpr DWORD kHoldMs = 600;
constexpr int kPage0 = 93, kPagePitch = 82;        // a menu page's rows
constexpr int kBarLeft = 48, kBarRight = 432;      // the bars' outer buttons
// The category editor at 480 x 800: its first row, the row pitch, OK.
constexpr int kEditorRow0 = 168, kEditorPitch = 39, kEditorOk = 140, kEditorButtons = 768;

}  // namespace

class ChannelCommands : public MenusTest {
 protected:
  // Holds the stylus on a channel row and taps an entry of its menu (0
  // Cancel, 1 Mark All As Read, 2 Mark All As Unread, 3 Delete this
  // Channel, 4 Change Category).
  void ContextMenu(int row, int entry, const char* picture = nullptr) {
    HWND screen = q_.ActiveWindow();
    ASSERT_TRUE(q_.Press(240, kRow0 + row * kRowPitch));
    ASSERT_TRUE(q_.Advance(kHoldMs));
    ASSERT_TRUE(q_.WaitFor([&] { return q_.ActiveWindow() != screen; })) << "no menu on row " << row;
    if (picture) Seen(picture);
    ASSERT_TRUE(q_.Tap(240, kMenuEntry0 + entry * kMenuPitch));
    ASSERT_TRUE(q_.Advance(10));
    if (entry != 4) {
      ASSERT_TRUE(q_.WaitFor([&] { return q_.ActiveWindow() == screen; }));
    }
  }
  // The key device's Menu soft key: the entry reached by that many Down
  // (or, negative, Up) keys.
  void KeyMenu(int steps) {
    ASSERT_TRUE(q_.SoftKey(2));
    for (int i = 0; i < std::abs(steps); ++i) ASSERT_TRUE(q_.Key(steps > 0 ? VK_DOWN : VK_UP));
    ASSERT_TRUE(q_.Key(VK_RETURN));
    ASSERT_TRUE(q_.Advance(10));
  }
  static int Read(const std::string& states) { return static_cast<int>(std::count(states.begin(), states.end(), 'R')); }
};

TEST_F(ChannelCommands, ContextMenuMarksMovesAndDeletesByTouch) {
  MakeChannels();
  Start("");
  const std::string boxes = Host(u"\\") + "/boxes.txt";
  ASSERT_TRUE(q_.LogMessageBoxes(boxes));
  const auto before = Files();
  // Row 0 is channel 100 ("Channel 00", News).
  ContextMenu(0, 1, "context-menu-480x800");
  EXPECT_EQ(ReadList(kList).channels[100].fresh, "0");
  EXPECT_EQ(States(100), "RRR");
  EXPECT_EQ(Read(States(1000)), 1) << "another channel's store changed";
  // A second menu acts on the row held, not on the first one's.
  ContextMenu(2, 1);
  EXPECT_EQ(ReadList(kList).channels[102].fresh, "0");
  ContextMenu(0, 2);
  EXPECT_EQ(ReadList(kList).channels[100].fresh, "3");
  EXPECT_EQ(States(100), "UUU");
  EXPECT_EQ(ReadList(kList).channels[101].fresh, "2");

  // Change Category: the editor offers the four categories; Tech (its
  // third row) and OK move the channel.
  ContextMenu(0, 4);
  auto editor = Seen("editor-change-480x800");
  EXPECT_GT(Light(editor, 0, 120, 480, 600), 2000) << "no categories";
  ASSERT_TRUE(q_.Tap(200, kEditorRow0 + 2 * kEditorPitch));
  ASSERT_TRUE(q_.Tap(kEditorOk, kEditorButtons));
  ASSERT_TRUE(q_.Advance(600));
  ASSERT_TRUE(q_.Advance(10));  // the reload after the move
  Walk moved = ReadList(kList);
  EXPECT_EQ(moved.channels[100].category, "Tech");
  EXPECT_EQ(moved.channels.size(), 30u);
  auto back = Seen("after-editor-480x800");
  EXPECT_GT(Light(back, 0, kRow0 - 30, 480, kRow0 + 30), 200) << "the list did not come back";

  // Delete: No keeps everything; Yes removes the outline and channel 100's
  // files, never channel 1000's.
  ASSERT_TRUE(q_.AnswerMessageBoxes({IDNO}));
  ContextMenu(0, 3);
  EXPECT_EQ(ReadList(kList).channels.count(100), 1u);
  ASSERT_TRUE(q_.AnswerMessageBoxes({IDYES}));
  ContextMenu(0, 3, "context-delete-480x800");
  Walk deleted = ReadList(kList);
  EXPECT_EQ(qtest::ReadHostFile(boxes), "Confirm Delete\tAre you sure you want to delete this item?\t7\n"
                                        "Confirm Delete\tAre you sure you want to delete this item?\t6\n");
  EXPECT_EQ(deleted.channels.count(100), 0u);
  EXPECT_EQ(deleted.channels.size(), 29u);
  EXPECT_TRUE(FilesOf("Ch100").empty());
  std::set<std::string> kept = FilesOf("Ch1000");
  EXPECT_EQ(kept, (std::set<std::string>{"Ch1000.bin", "Ch1000~.xml", "Ch1000-Logo.img", "Ch1000.tpl"}));
  EXPECT_EQ(Files().size() + 6, before.size()) << "Ch100.bin, ~.xml, -1.htm, -1.bmp, -Fav.ico, .tpl";
  // The rows moved up: row 0 is now channel 101.
  ContextMenu(0, 1);
  EXPECT_EQ(ReadList(kList).channels[101].fresh, "0");
  EXPECT_EQ(States(101), "RRR");
}

TEST_F(ChannelCommands, EveryMenuCommandByKeysExportAndDeleteAllData) {
  MakeChannels();
  Start("keydevice");
  // Read (the fourth entry) on the first row, channel 100.
  KeyMenu(4);
  EXPECT_EQ(ReadList(kList).channels[100].fresh, "0");
  EXPECT_EQ(States(100), "RRR");
  // Unread on channel 101.
  ASSERT_TRUE(q_.Key(VK_DOWN));
  KeyMenu(5);
  EXPECT_EQ(ReadList(kList).channels[101].fresh, "3");
  EXPECT_EQ(States(101), "UUU");
  // All Channels As Read, then As Unread.
  KeyMenu(6);
  for (auto& [id, c] : ReadList(kList).channels) EXPECT_EQ(c.fresh, "0") << id;
  EXPECT_EQ(States(1000), "RRR");
  KeyMenu(7);
  for (auto& [id, c] : ReadList(kList).channels) EXPECT_EQ(c.fresh, "3") << id;
  EXPECT_EQ(States(1000), "UUU");

  // Delete the last row (channel 1000, two rows up from row 1): the focus
  // stays on the new last row, which Read then marks.
  ASSERT_TRUE(q_.Key(VK_UP));
  ASSERT_TRUE(q_.Key(VK_UP));
  ASSERT_TRUE(q_.AnswerMessageBoxes({IDYES}));
  KeyMenu(8);
  EXPECT_EQ(ReadList(kList).channels.count(1000), 0u);
  EXPECT_TRUE(FilesOf("Ch1000").empty());
  EXPECT_EQ(FilesOf("Ch100").size(), 6u) << "channel 100's files went with channel 1000's";
  KeyMenu(4);
  EXPECT_EQ(ReadList(kList).channels[128].fresh, "0") << "the focus did not stay on the last row";

  // Change Category of channel 128 (Others): Down to Sports, OK.
  KeyMenu(9);
  Seen("editor-change-240x320");
  ASSERT_TRUE(q_.Key(VK_DOWN));
  ASSERT_TRUE(q_.SoftKey(1));
  ASSERT_TRUE(q_.Advance(600));
  EXPECT_EQ(ReadList(kList).channels[128].category, "Sports");
  Seen("after-editor-240x320");

  // Export (fourth from the end) to a typed name; the file, read back as an
  // OPML list, holds the same channels. A second export replaces it.
  KeyMenu(-4);
  ASSERT_TRUE(q_.Type(u"\\Exported"));
  ASSERT_TRUE(q_.SoftKey(1));
  Walk exported = ReadList(u"\\Exported.opml");
  Walk list = ReadList(kList);
  ASSERT_EQ(exported.channels.size(), 29u);
  for (auto& [id, c] : list.channels) {
    EXPECT_EQ(exported.channels[id].url, c.url);
    EXPECT_EQ(exported.channels[id].category, c.category);
  }
  WriteDeviceFile(u"\\Exported.opml", "old");
  KeyMenu(-4);
  ASSERT_TRUE(q_.Type(u"\\Exported.opml"));
  ASSERT_TRUE(q_.SoftKey(1));
  EXPECT_EQ(ReadList(u"\\Exported.opml").channels.size(), 29u);

  // Delete All Data (third from the end): only the OPML files and the
  // extraction templates stay; every count is 0; channels and categories
  // remain.
  ASSERT_TRUE(q_.AnswerMessageBoxes({IDNO}));
  KeyMenu(-3);
  EXPECT_EQ(FilesOf("Ch101").size(), 3u);
  ASSERT_TRUE(q_.AnswerMessageBoxes({IDYES}));
  KeyMenu(-3);
  EXPECT_EQ(Files(), (std::set<std::string>{"Channels.opml", "Backup.OPML", "Ch100.tpl"}));
  Walk cleared = ReadList(kList);
  EXPECT_EQ(cleared.channels.size(), 29u);
  EXPECT_EQ(cleared.categories, (std::vector<std::string>{"News", "Sports", "Tech", "Others"}));
  for (auto& [id, c] : cleared.channels) EXPECT_TRUE(c.items == "0" && c.fresh == "0") << id;
  Seen("after-delete-all-240x320");
}

TEST_F(ChannelCommands, ChooserFiltersTheRowsAndTheHeadlineMenuActsOnItsPages) {
  MakeChannels(kSyncCategory);
  const std::string boxes = Host(u"\\") + "/boxes.txt";
  Start("");
  ASSERT_TRUE(q_.LogMessageBoxes(boxes));
  // The chooser: All Categories, News, Sports, Tech, Google Reader with its
  // labels Alpha and Beta indented under it, and Others last.
  ASSERT_TRUE(q_.Tap(kBarLeft, kBar));
  ASSERT_TRUE(q_.Advance(10));
  auto chooser = Seen("chooser-480x800");
  for (int row = 0; row < 8; ++row)
    EXPECT_GT(Light(chooser, 90, kPage0 + row * kPagePitch - 20, 480, kPage0 + row * kPagePitch + 20), 100) << row;
  EXPECT_EQ(Light(chooser, 0, kPage0 + 8 * kPagePitch - 20, 480, kBar - 60), 0) << "a row too many";
  ASSERT_TRUE(q_.Tap(240, kPage0 + 2 * kPagePitch));  // Sports
  ASSERT_TRUE(q_.Advance(10));
  auto sports = Seen("chooser-sports-480x800");
  EXPECT_GT(Light(sports, 0, kRow0 + 6 * kRowPitch - 30, 480, kRow0 + 6 * kRowPitch + 30), 100) << "no 7th row";
  // Row 0 is now channel 101, the first of Sports.
  ContextMenu(0, 1);
  EXPECT_EQ(ReadList(kList).channels[101].fresh, "0");
  EXPECT_EQ(ReadList(kList).channels[100].fresh, "2");
  // The label Beta shows the two synchronised channels that carry it.
  ASSERT_TRUE(q_.Tap(kBarLeft, kBar));
  ASSERT_TRUE(q_.Advance(10));
  ASSERT_TRUE(q_.Tap(240, kPage0 + 6 * kPagePitch));  // "-  Beta"
  ASSERT_TRUE(q_.Advance(10));
  auto beta = Seen("chooser-beta-480x800");
  EXPECT_GT(Light(beta, 0, kRow0 + kRowPitch - 30, 480, kRow0 + kRowPitch + 30), 100) << "no second row";
  EXPECT_EQ(Light(beta, 0, kRow0 + 2 * kRowPitch - 30, 480, kRow0 + 2 * kRowPitch + 30), 0) << "a third row";
  ContextMenu(1, 1);
  EXPECT_EQ(ReadList(kList).channels[131].fresh, "0") << ReadList(kList).channels[130].fresh;
  Seen("beta-marked-480x800");
  ASSERT_TRUE(q_.Tap(kBarLeft, kBar));
  ASSERT_TRUE(q_.Advance(10));
  ASSERT_TRUE(q_.Tap(240, kPage0));  // All Categories
  ASSERT_TRUE(q_.Advance(10));

  // The headline list of channel 100 and its menu.
  ASSERT_TRUE(q_.Tap(240, kRow0));
  ASSERT_TRUE(q_.Advance(10));
  HWND headlines = q_.ActiveWindow();
  ASSERT_TRUE(q_.Tap(kBarRight, kBar));
  ASSERT_TRUE(q_.Advance(10));
  auto menu = Seen("headline-menu-480x800");
  for (int row = 0; row < 7; ++row)
    EXPECT_GT(Light(menu, 90, kPage0 + row * kPagePitch - 20, 480, kPage0 + row * kPagePitch + 20), 100) << row;
  ASSERT_TRUE(q_.Tap(240, kPage0));  // Mark All As Read
  ASSERT_TRUE(q_.Advance(10));
  EXPECT_EQ(q_.ActiveWindow(), headlines);
  EXPECT_EQ(States(100), "RRR");
  Seen("headlines-after-menu-480x800");
  // The settings page: General opens its page, whose Cancel comes back to
  // the menu on that page; the keys work the page shown (Down, Enter: Auto
  // Update, whose option page opens; Cancel comes back to the menu).
  ASSERT_TRUE(q_.Tap(kBarRight, kBar));
  ASSERT_TRUE(q_.Advance(10));
  ASSERT_TRUE(q_.Tap(kBarLeft, kBar));
  ASSERT_TRUE(q_.Advance(10));
  Seen("headline-menu-settings-480x800");
  const HWND settingsMenu = q_.ActiveWindow();
  ASSERT_TRUE(q_.Tap(240, kPage0));
  ASSERT_TRUE(q_.Advance(10));
  EXPECT_NE(q_.ActiveWindow(), settingsMenu) << "General did not open its page";
  ASSERT_TRUE(q_.SoftKey(2));  // its Cancel
  ASSERT_TRUE(q_.WaitFor([&] { return q_.ActiveWindow() == settingsMenu; }));
  ASSERT_TRUE(q_.Key(VK_DOWN));
  ASSERT_TRUE(q_.Key(VK_RETURN));
  ASSERT_TRUE(q_.Advance(10));
  EXPECT_NE(q_.ActiveWindow(), settingsMenu) << "no Auto Update page";
  Seen("headline-menu-auto-update-480x800");
  ASSERT_TRUE(q_.SoftKey(2));
  ASSERT_TRUE(q_.WaitFor([&] { return q_.ActiveWindow() == settingsMenu; }));
  auto settings = Seen("headline-menu-settings-after-480x800");
  EXPECT_GT(Light(settings, 90, kPage0 + 4 * kPagePitch - 20, 480, kPage0 + 4 * kPagePitch + 20), 100) << "About";
  std::string log = qtest::ReadHostFile(boxes);
  EXPECT_EQ(log.find("General"), std::string::npos) << log;
  EXPECT_EQ(log.find("Auto Update"), std::string::npos) << log;
  EXPECT_EQ(log.find("Mark All As Unread"), std::string::npos) << "a key acted on the hidden page";
  EXPECT_EQ(States(100), "RRR");
  ASSERT_TRUE(q_.Tap(kBarRight, kBar));  // close
  ASSERT_TRUE(q_.Advance(10));
  EXPECT_EQ(q_.ActiveWindow(), headlines);
  // Change Category from the menu: Sports.
  ASSERT_TRUE(q_.Tap(kBarRight, kBar));
  ASSERT_TRUE(q_.Advance(10));
  ASSERT_TRUE(q_.Tap(240, kPage0 + 4 * kPagePitch));
  ASSERT_TRUE(q_.Advance(10));
  ASSERT_TRUE(q_.Tap(200, kEditorRow0 + kEditorPitch));
  ASSERT_TRUE(q_.Tap(kEditorOk, kEditorButtons));
  ASSERT_TRUE(q_.Advance(600));
  ASSERT_TRUE(q_.Advance(10));  // the reload after the move
  EXPECT_EQ(ReadList(kList).channels[100].category, "Sports");
  EXPECT_EQ(q_.ActiveWindow(), headlines);
  // Delete this Channel: the headline list closes, the channel and its
  // files go.
  ASSERT_TRUE(q_.AnswerMessageBoxes({IDYES}));
  ASSERT_TRUE(q_.Tap(kBarRight, kBar));
  ASSERT_TRUE(q_.Advance(10));
  ASSERT_TRUE(q_.Tap(240, kPage0 + 3 * kPagePitch));
  ASSERT_TRUE(q_.Advance(10));
  EXPECT_NE(q_.ActiveWindow(), headlines);
  EXPECT_EQ(ReadList(kList).channels.count(100), 0u);
  EXPECT_TRUE(FilesOf("Ch100").empty());
  auto back = Seen("channels-after-headline-menu-480x800");
  EXPECT_GT(Light(back, 0, kRow0 - 30, 480, kRow0 + 30), 100) << "the channel list did not come back";
}

// A language table: UTF-16LE with its byte-order mark.
std::string Utf16Table(const std::u16string& text, bool mark = true) {
  std::string bytes = mark ? std::string("\xFF\xFE", 2) : std::string();
  for (char16_t c : text) {
    bytes += static_cast<char>(c & 0xFF);
    bytes += static_cast<char>(c >> 8);
  }
  return bytes;
}

class MenuPages : public ChannelCommands {
 protected:
  // German ("DEU"), French in a folder not in upper case, a table without
  // the byte-order mark and one whose "#Language:" line has no line end.
  void InstallLanguages() {
    const char16_t* root = u"\\Program Files\\Quillet\\Localization\\";
    WriteDeviceFile((std::u16string(root) + u"DEU\\Default.txt").c_str(),
                    Utf16Table(u"; German\r\n#Language: Deutsch \r\nAll Categories = Alle Kategorien\r\n"
                               u"Confirm Delete = L\u00f6schen best\u00e4tigen\r\nMenu = Men\u00fc\r\n"
                               u"Refresh = Aktualisieren\r\nNew Channel = Neuer Kanal\r\nLanguage = Sprache\r\n"
                               u"English = Englisch\r\nExport = Exportieren\r\n"));
    WriteDeviceFile((std::u16string(root) + u"fra\\Default.txt").c_str(),
                    Utf16Table(u"#Language: Fran\u00e7ais\r\n"));
    WriteDeviceFile((std::u16string(root) + u"BAD\\Default.txt").c_str(),
                    Utf16Table(u"#Language: Bad\r\n", false));
    WriteDeviceFile((std::u16string(root) + u"LST\\Default.txt").c_str(), Utf16Table(u"#Language: Last"));
  }
  int Rows(const qk::gdi::DecodedImage& page) {
    int rows = 0;
    while (rows < 8 && Light(page, 90, kPage0 + rows * kPagePitch - 20, 480, kPage0 + rows * kPagePitch + 20) > 100)
      ++rows;
    return rows;
  }
  void OpenMenu() {
    ASSERT_TRUE(q_.Tap(kBarRight, kBar));
    ASSERT_TRUE(q_.Advance(10));
  }
};

TEST_F(MenuPages, MainOptionsAndLanguagePagesByTouch) {
  MakeChannels();
  InstallLanguages();
  const std::string boxes = Host(u"\\") + "/boxes.txt";
  Start("");
  ASSERT_TRUE(q_.LogMessageBoxes(boxes));
  auto listBefore = Seen("channels-english-480x800");
  OpenMenu();
  auto english = Seen("main-page-480x800");
  EXPECT_EQ(Rows(english), 5);
  ASSERT_TRUE(q_.Tap(240, kPage0 + 3 * kPagePitch));  // Language
  ASSERT_TRUE(q_.Advance(10));
  auto languages = Seen("language-page-480x800");
  EXPECT_EQ(Rows(languages), 3) << "English, Deutsch and Francais";
  ASSERT_TRUE(q_.Tap(240, kPage0 + kPagePitch));  // Deutsch
  ASSERT_TRUE(q_.Advance(10));
  auto listAfter = Seen("channels-german-480x800");
  EXPECT_GT(Light(listAfter, 0, kRow0 - 30, 480, kRow0 + 30), 100) << "the list did not come back";
  EXPECT_NE(Light(listBefore, 70, 60, 400, 120), Light(listAfter, 70, 60, 400, 120)) << "the header kept its text";
  OpenMenu();
  auto german = Seen("main-page-german-480x800");
  EXPECT_EQ(Rows(german), 5);
  EXPECT_NE(Light(english, 90, kPage0 - 20, 480, kPage0 + 20), Light(german, 90, kPage0 - 20, 480, kPage0 + 20));
  // The options page; About opens the About box over it, whose left soft
  // key comes back to the page.
  ASSERT_TRUE(q_.Tap(kBarLeft, kBar));
  ASSERT_TRUE(q_.Advance(10));
  const HWND options = q_.ActiveWindow();
  ASSERT_TRUE(q_.Tap(240, kPage0 + 4 * kPagePitch));
  ASSERT_TRUE(q_.Advance(10));
  const HWND about = q_.ActiveWindow();
  EXPECT_NE(about, options) << "no About box";
  Seen("about-from-options-480x800");
  ASSERT_TRUE(q_.SoftKey(1));
  ASSERT_TRUE(q_.Advance(10));
  EXPECT_FALSE(IsWindow(about));
  EXPECT_EQ(q_.ActiveWindow(), options);
  EXPECT_EQ(Rows(Seen("options-page-480x800")), 5);
  ASSERT_TRUE(q_.Tap(kBarRight, kBar));
  ASSERT_TRUE(q_.Advance(10));
  // Delete All Data asks in German.
  ASSERT_TRUE(q_.AnswerMessageBoxes({IDNO}));
  OpenMenu();
  ASSERT_TRUE(q_.Tap(240, kPage0 + kPagePitch));
  ASSERT_TRUE(q_.Advance(10));
  EXPECT_NE(qtest::ReadHostFile(boxes).find("L\xc3\xb6schen best\xc3\xa4tigen\t"), std::string::npos)
      << qtest::ReadHostFile(boxes);
  EXPECT_EQ(FilesOf("Ch100").size(), 6u);
  // New Channel opens the wizard; its Cancel comes back to the list.
  HWND main = q_.ActiveWindow();
  OpenMenu();
  ASSERT_TRUE(q_.Tap(240, kPage0));
  ASSERT_TRUE(q_.Advance(10));
  EXPECT_NE(q_.ActiveWindow(), main);
  Seen("wizard-from-menu-480x800");
  ASSERT_TRUE(q_.Tap(kBarRight, kBar));
  ASSERT_TRUE(q_.Advance(10));
  ASSERT_TRUE(q_.Advance(10));
  EXPECT_EQ(q_.ActiveWindow(), main);
  EXPECT_GT(Light(Seen("channels-after-wizard-480x800"), 0, kRow0 - 30, 480, kRow0 + 30), 100);
  // Export through the menu.
  OpenMenu();
  ASSERT_TRUE(q_.Tap(240, kPage0 + 2 * kPagePitch));
  ASSERT_TRUE(q_.Advance(10));
  ASSERT_TRUE(q_.Type(u"\\ByTouch"));
  ASSERT_TRUE(q_.SoftKey(1));
  EXPECT_EQ(ReadList(u"\\ByTouch.opml").channels.size(), 30u);
  // Exit Quillet ends the program.
  OpenMenu();
  // The program ends while the tap settles.
  (void)q_.Tap(240, kPage0 + 4 * kPagePitch);
  EXPECT_EQ(qtest::WaitForExitCode(process_), 0u);
}

TEST_F(MenuPages, LanguageByKeysRelabelsTheSoftKeys) {
  MakeChannels();
  InstallLanguages();
  const std::string boxes = Host(u"\\") + "/boxes.txt";
  Start("keydevice");
  ASSERT_TRUE(q_.LogMessageBoxes(boxes));
  auto before = Seen("k-channels-english-240x320");
  KeyMenu(-5);  // Language
  Seen("k-language-page-240x320");
  ASSERT_TRUE(q_.Key(VK_DOWN));
  ASSERT_TRUE(q_.Key(VK_RETURN));
  ASSERT_TRUE(q_.Advance(10));
  auto after = Seen("k-channels-german-240x320");
  EXPECT_NE(Light(before, 0, 294, 240, 320), Light(after, 0, 294, 240, 320)) << "the soft keys kept their texts";
  EXPECT_GT(Light(after, 0, 60, 240, 90), 50) << "the list did not come back";
  ASSERT_TRUE(q_.AnswerMessageBoxes({IDNO}));
  KeyMenu(-3);
  EXPECT_NE(qtest::ReadHostFile(boxes).find("L\xc3\xb6schen best\xc3\xa4tigen\t"), std::string::npos);
  // Back to English, the first entry.
  KeyMenu(-5);
  ASSERT_TRUE(q_.Key(VK_RETURN));
  ASSERT_TRUE(q_.Advance(10));
  ASSERT_TRUE(q_.AnswerMessageBoxes({IDNO}));
  KeyMenu(-3);
  EXPECT_NE(qtest::ReadHostFile(boxes).find("\nConfirm Delete\t"), std::string::npos) << qtest::ReadHostFile(boxes);
  EXPECT_EQ(Light(before, 0, 294, 240, 320), Light(Seen("k-channels-english-again-240x320"), 0, 294, 240, 320));
}

// The category editor at 480 x 800 in its add/delete mode: its buttons
// and its first row; the task bar's done button is its OK.
constexpr int kEditNew = 82, kEditRename = 239, kEditDelete = 396, kEditButtons = 136;
constexpr int kEditRow0 = 188, kDoneX = 450, kDoneY = 26;

TEST_F(MenuPages, CategoriesAddedRenamedAndDeletedByTouch) {
  MakeChannels();
  Start("");
  ASSERT_TRUE(q_.Tap(kBarLeft, kBar));  // the chooser
  ASSERT_TRUE(q_.Advance(10));
  ASSERT_TRUE(q_.Tap(kBarLeft, kBar));  // its Add/Delete
  ASSERT_TRUE(q_.Advance(10));
  Seen("editor-add-delete-480x800");
  // New, typed with blanks round it, OK while the edit is open: one
  // category "Science".
  ASSERT_TRUE(q_.Tap(kEditNew, kEditButtons));
  ASSERT_TRUE(q_.Type(u"  Science "));
  Seen("editor-cell-edit-480x800");
  ASSERT_TRUE(q_.Tap(kDoneX, kDoneY));
  ASSERT_TRUE(q_.Advance(600));
  EXPECT_EQ(ReadList(kList).categories, (std::vector<std::string>{"News", "Sports", "Tech", "Others", "Science"}));
  Seen("chooser-after-editor-480x800");
  // Again: Sports (row 1) renamed by Enter; News (row 0) deleted with its
  // channels and their files; OK without an open edit adds nothing.
  ASSERT_TRUE(q_.Tap(kBarLeft, kBar));
  ASSERT_TRUE(q_.Advance(10));
  ASSERT_TRUE(q_.Tap(200, kEditRow0 + kEditorPitch));
  ASSERT_TRUE(q_.Tap(kEditRename, kEditButtons));
  ASSERT_TRUE(q_.Type(u"Football  "));
  ASSERT_TRUE(q_.Key(VK_RETURN));
  ASSERT_TRUE(q_.Advance(10));
  ASSERT_TRUE(q_.Tap(200, kEditRow0));
  ASSERT_TRUE(q_.AnswerMessageBoxes({IDYES}));
  ASSERT_TRUE(q_.Tap(kEditDelete, kEditButtons));
  ASSERT_TRUE(q_.Advance(10));
  Seen("editor-after-delete-480x800");
  ASSERT_TRUE(q_.Tap(kDoneX, kDoneY));
  ASSERT_TRUE(q_.Advance(600));
  Walk edited = ReadList(kList);
  EXPECT_EQ(edited.categories, (std::vector<std::string>{"Football", "Tech", "Others", "Science"}));
  EXPECT_EQ(edited.channels.size(), 22u);
  EXPECT_EQ(edited.channels.count(100), 0u);
  EXPECT_EQ(edited.channels[1000].category, "Football");
  EXPECT_TRUE(FilesOf("Ch100").empty());
  EXPECT_EQ(FilesOf("Ch1000").size(), 4u);
  // The chooser lists the categories as they are now; closing it reloads
  // the channel list without News's channels.
  auto chooser = Seen("chooser-edited-480x800");
  EXPECT_EQ(Light(chooser, 0, kPage0 + 5 * kPagePitch - 20, 480, kBar - 60), 0) << "a row too many";
  ASSERT_TRUE(q_.Tap(kBarRight, kBar));
  ASSERT_TRUE(q_.Advance(10));
  ContextMenu(0, 1);
  EXPECT_EQ(ReadList(kList).channels[101].fresh, "0") << "row 0 is not channel 101";
}

TEST_F(MenuPages, CategoriesByKeysDeleteEveryCategoryAndThenNothing) {
  MakeChannels();
  const std::string boxes = Host(u"\\") + "/boxes.txt";
  Start("keydevice");
  ASSERT_TRUE(q_.LogMessageBoxes(boxes));
  KeyMenu(10);  // Categories
  Seen("k-chooser-240x320");
  ASSERT_TRUE(q_.SoftKey(1));  // Add/Delete
  ASSERT_TRUE(q_.Advance(10));
  Seen("k-editor-240x320");
  ASSERT_TRUE(q_.SoftKey(2));  // Menu: New
  ASSERT_TRUE(q_.Key(VK_DOWN));
  ASSERT_TRUE(q_.Key(VK_RETURN));
  ASSERT_TRUE(q_.Type(u"Garden"));
  Seen("k-editor-cell-edit-240x320");
  ASSERT_TRUE(q_.Key(VK_RETURN));
  ASSERT_TRUE(q_.Advance(10));
  EXPECT_EQ(ReadList(kList).categories.back(), "Garden");
  // Delete, five times: every category with every channel and its files.
  ASSERT_TRUE(q_.AnswerMessageBoxes({IDYES, IDYES, IDYES, IDYES, IDYES, IDYES}));
  for (int i = 0; i < 6; ++i) {
    ASSERT_TRUE(q_.SoftKey(2));
    for (int k = 0; k < 3; ++k) ASSERT_TRUE(q_.Key(VK_DOWN));
    ASSERT_TRUE(q_.Key(VK_RETURN));
    ASSERT_TRUE(q_.Advance(10));
  }
  std::string log = qtest::ReadHostFile(boxes);
  size_t asked = 0;
  for (size_t at = log.find("delete this category"); at != std::string::npos; at = log.find("delete this category", at + 1))
    ++asked;
  EXPECT_EQ(asked, 5u) << "a Delete without a row asked";
  ASSERT_TRUE(q_.SoftKey(1));  // the editor's Cancel
  ASSERT_TRUE(q_.Advance(10));
  ASSERT_TRUE(q_.SoftKey(2));  // the chooser's Cancel
  ASSERT_TRUE(q_.Advance(10));
  Walk empty = ReadList(kList);
  EXPECT_TRUE(empty.categories.empty());
  EXPECT_TRUE(empty.channels.empty());
  EXPECT_EQ(Files(), (std::set<std::string>{"Channels.opml", "Backup.OPML", "notes.txt"}));
  auto list = Seen("k-no-channels-240x320");
  EXPECT_LT(Light(list, 200, 0, 240, 26), 20) << "the editor's done button is left on the task bar";
}

// Beside the four categories: Misc, holding a channel titled "Extra"
// (141), and " Extra " (blanks round it) holding channel 140.
const char* const kExtraCategories =
    "<outline text=\"Misc\" type=\"rss\" uniqueID=\"96\"><outline text=\"Extra\" type=\"rss\" uniqueID=\"141\" "
    "xmlUrl=\"http://127.0.0.1/feed/141\"/></outline>"
    "<outline text=\" Extra \" type=\"rss\" uniqueID=\"97\"><outline text=\"Channel 40\" type=\"rss\" "
    "uniqueID=\"140\" xmlUrl=\"http://127.0.0.1/feed/140\"/></outline>";

// The editor's rows: News, Sports, Tech, Misc, " Extra ", Others. Names in
// use (in any letter case) and emptied names are refused with a word and
// change nothing; a delete takes the category the row shows chosen, its
// channels and all their files, never a channel of that title, and then
// chooses the row that took its place.
TEST_F(MenuPages, CategoryNamesAreUniqueAndADeleteTakesTheChosenCategoryOnly) {
  MakeChannels(kExtraCategories);
  for (const char* name : {"Ch140.bin", "Ch140-Fav.ico", "Ch141.bin"}) WriteDeviceFile(Data(name).GetString(), "x");
  const std::string boxes = Host(u"\\") + "/boxes.txt";
  Start("");
  ASSERT_TRUE(q_.LogMessageBoxes(boxes));
  ASSERT_TRUE(q_.Tap(kBarLeft, kBar));
  ASSERT_TRUE(q_.Advance(10));
  ASSERT_TRUE(q_.Tap(kBarLeft, kBar));
  ASSERT_TRUE(q_.Advance(10));
  const std::vector<std::string> categories = {"News", "Sports", "Tech", "Others", "Misc", " Extra "};
  // Sports renamed to "tech", then emptied; a new category named "NEWS".
  ASSERT_TRUE(q_.Tap(200, kEditRow0 + kEditorPitch));
  auto opened = Seen("editor-sports-chosen-480x800");
  ASSERT_TRUE(q_.Tap(kEditRename, kEditButtons));
  ASSERT_TRUE(q_.Type(u"tech "));
  ASSERT_TRUE(q_.Key(VK_RETURN));
  ASSERT_TRUE(q_.Advance(10));
  ASSERT_TRUE(q_.Tap(kEditRename, kEditButtons));
  ASSERT_TRUE(q_.Key(VK_BACK));
  ASSERT_TRUE(q_.Key(VK_RETURN));
  ASSERT_TRUE(q_.Advance(10));
  ASSERT_TRUE(q_.Tap(kEditNew, kEditButtons));
  ASSERT_TRUE(q_.Type(u"NEWS"));
  ASSERT_TRUE(q_.Key(VK_RETURN));
  ASSERT_TRUE(q_.Advance(10));
  // A name refused on Return stays in the edit to correct (a tap elsewhere
  // gave the two before up); Escape gives this one up.
  ASSERT_TRUE(q_.Key(VK_ESCAPE));
  ASSERT_TRUE(q_.Advance(10));
  EXPECT_EQ(qtest::ReadHostFile(boxes), "Quillet Reach\tA category of this name already exists.\t1\n"
                                        "Quillet Reach\tPlease enter a name for the category.\t1\n"
                                        "Quillet Reach\tA category of this name already exists.\t1\n");
  EXPECT_EQ(ReadList(kList).categories, categories);
  // The rows are as they were (Sports back in its row and chosen again, no
  // new row).
  auto refused = Seen("editor-refused-480x800");
  EXPECT_EQ(Light(refused, 0, kEditRow0 - 20, 480, 800), Light(opened, 0, kEditRow0 - 20, 480, 800));

  // " Extra " (row 4) chosen: the question keeps it shown chosen; No.
  ASSERT_TRUE(q_.Tap(200, kEditRow0 + 4 * kEditorPitch));
  auto chosen = Seen("editor-row-chosen-480x800");
  ASSERT_TRUE(q_.AnswerMessageBoxes({IDNO}));
  ASSERT_TRUE(q_.Tap(kEditDelete, kEditButtons));
  ASSERT_TRUE(q_.Advance(10));
  auto asked = Seen("editor-after-no-480x800");
  // A row shown chosen is filled with the highlight colour.
  auto chosenRow = [](const qk::gdi::DecodedImage& p) {
    int found = -1;
    for (int row = 0; row < 6; ++row) {
      int filled = 0;
      for (int y = kEditRow0 + row * kEditorPitch - 15; y < kEditRow0 + row * kEditorPitch + 15; ++y)
        for (int x = 300; x < 480; ++x) {
          const uint8_t* px = &p.bgra[(static_cast<size_t>(y) * p.width + x) * 4];
          if (px[0] > 150 && px[2] < 100) ++filled;
        }
      if (filled > 30 * 150) found = row;
    }
    return found;
  };
  EXPECT_EQ(chosenRow(chosen), 4);
  EXPECT_EQ(chosenRow(asked), 4) << "the row asked about is not shown chosen";
  // Yes: the category " Extra " goes with channel 140 and its files; the
  // channel "Extra" of Misc stays with its file.
  ASSERT_TRUE(q_.AnswerMessageBoxes({IDYES}));
  ASSERT_TRUE(q_.Tap(kEditDelete, kEditButtons));
  ASSERT_TRUE(q_.Advance(10));
  Walk once = ReadList(kList);
  EXPECT_EQ(once.categories, (std::vector<std::string>{"News", "Sports", "Tech", "Others", "Misc"}));
  EXPECT_EQ(once.channels.count(140), 0u);
  EXPECT_EQ(once.channels.count(141), 1u);
  EXPECT_TRUE(FilesOf("Ch140").empty());
  EXPECT_EQ(FilesOf("Ch141"), (std::set<std::string>{"Ch141.bin"}));
  // Others took the row's place and is chosen: the next Delete takes it.
  EXPECT_EQ(chosenRow(Seen("editor-after-delete-chosen-480x800")), 4) << "the neighbour is not shown chosen";
  ASSERT_TRUE(q_.AnswerMessageBoxes({IDYES}));
  ASSERT_TRUE(q_.Tap(kEditDelete, kEditButtons));
  ASSERT_TRUE(q_.Advance(10));
  Walk twice = ReadList(kList);
  EXPECT_EQ(twice.categories, (std::vector<std::string>{"News", "Sports", "Tech", "Misc"}));
  EXPECT_EQ(twice.channels.size(), 24u) << "News, Sports, Tech and Misc's channel";

  // The list shows Sports; renamed to Football, it goes on showing its
  // channels under the new name.
  ASSERT_TRUE(q_.Tap(kDoneX, kDoneY));
  ASSERT_TRUE(q_.Advance(600));
  ASSERT_TRUE(q_.Tap(240, kPage0 + 2 * kPagePitch));  // Sports
  ASSERT_TRUE(q_.Advance(10));
  auto sports = Seen("names-sports-480x800");
  ASSERT_TRUE(q_.Tap(kBarLeft, kBar));
  ASSERT_TRUE(q_.Advance(10));
  ASSERT_TRUE(q_.Tap(kBarLeft, kBar));
  ASSERT_TRUE(q_.Advance(10));
  ASSERT_TRUE(q_.Tap(200, kEditRow0 + kEditorPitch));
  ASSERT_TRUE(q_.Tap(kEditRename, kEditButtons));
  ASSERT_TRUE(q_.Type(u"Football"));
  ASSERT_TRUE(q_.Key(VK_RETURN));
  ASSERT_TRUE(q_.Advance(10));
  ASSERT_TRUE(q_.Tap(kDoneX, kDoneY));
  ASSERT_TRUE(q_.Advance(600));
  ASSERT_TRUE(q_.Tap(kBarRight, kBar));
  ASSERT_TRUE(q_.Advance(10));
  auto football = Seen("names-football-480x800");
  EXPECT_NE(Light(sports, 70, 60, 400, 120), Light(football, 70, 60, 400, 120)) << "the header kept the old name";
  EXPECT_EQ(Light(sports, 0, kRow0 - 30, 480, 700), Light(football, 0, kRow0 - 30, 480, 700)) << "other rows";
  ContextMenu(0, 1);
  EXPECT_EQ(ReadList(kList).channels[101].fresh, "0") << "row 0 is not channel 101";
}

// Change Category offers the categories in the list's order (Others before
// Google Reader here, and none of the labels), with the channel's own
// chosen; the list shows the channel under its new category at once.
TEST_F(ChannelCommands, ChangeCategoryOffersTheListsOrderWithTheChannelsOwnChosen) {
  MakeChannels(kSyncCategory);
  Start("");
  const std::string boxes = Host(u"\\") + "/boxes.txt";
  ASSERT_TRUE(q_.LogMessageBoxes(boxes));
  // The list shows Tech: channel 102 ("Channel 02") is its first row.
  ASSERT_TRUE(q_.Tap(kBarLeft, kBar));
  ASSERT_TRUE(q_.Advance(10));
  ASSERT_TRUE(q_.Tap(240, kPage0 + 3 * kPagePitch));
  ASSERT_TRUE(q_.Advance(10));
  auto tech = Seen("change-tech-480x800");
  // OK at once keeps the channel where it is.
  ContextMenu(0, 4);
  auto editor = Seen("change-editor-480x800");
  EXPECT_GT(Light(editor, 0, kEditorRow0 + 4 * kEditorPitch - 15, 480, kEditorRow0 + 4 * kEditorPitch + 15), 100)
      << "no fifth row";
  // No sixth row: no text (dark pixels) below the fifth.
  int text = 0;
  for (int y = kEditorRow0 + 5 * kEditorPitch - 15; y < kEditorRow0 + 7 * kEditorPitch + 15; ++y)
    for (int x = 40; x < 400; ++x) {
      const uint8_t* px = &editor.bgra[(static_cast<size_t>(y) * editor.width + x) * 4];
      if (px[0] < 80 && px[1] < 80 && px[2] < 80) ++text;
    }
  EXPECT_EQ(text, 0) << "a label offered as a category";
  ASSERT_TRUE(q_.Tap(kEditorOk, kEditorButtons));
  ASSERT_TRUE(q_.Advance(600));
  EXPECT_EQ(ReadList(kList).channels[102].category, "Tech");
  // The fourth row is Others.
  ContextMenu(0, 4);
  EXPECT_TRUE(qtest::ReadHostFile(boxes).empty());
  ASSERT_TRUE(q_.Tap(200, kEditorRow0 + 3 * kEditorPitch));
  ASSERT_TRUE(q_.Tap(kEditorOk, kEditorButtons));
  ASSERT_TRUE(q_.Advance(600));
  Walk moved = ReadList(kList);
  EXPECT_EQ(moved.channels[102].category, "Others");
  EXPECT_EQ(moved.channels.size(), 32u);
  // Tech no longer shows it: its first row is channel 106 now, which the
  // read mark reaches.
  auto after = Seen("change-after-480x800");
  EXPECT_EQ(Light(after, 0, kRow0 + 6 * kRowPitch - 30, 480, kRow0 + 6 * kRowPitch + 30), 0) << "a seventh row";
  EXPECT_GT(Light(tech, 0, kRow0 + 6 * kRowPitch - 30, 480, kRow0 + 6 * kRowPitch + 30), 100);
  ContextMenu(0, 1);
  EXPECT_EQ(ReadList(kList).channels[106].fresh, "0");
  EXPECT_EQ(ReadList(kList).channels[102].fresh, "2");
}

// A refresh against a loopback server whose Tech feeds (channels 112 to
// 116) come only when the test lets them; channel 100 (News) comes at once.
class CategoriesDuringARefresh : public MenuPages {
 protected:
  static std::string Feed(const std::string& name) {
    std::string x = "<?xml version='1.0'?><rss version='2.0'><channel><title>" + name + "</title>";
    for (int i = 0; i < 2; ++i)
      x += "<item><title>" + name + " story " + std::to_string(i) + "</title><link>http://127.0.0.1/s/" + name + "/" +
           std::to_string(i) + "</link><description>Body</description></item>";
    return x + "</channel></rss>";
  }
  static std::string Rule(const std::string& path, const std::string& body, bool gated) {
    std::string r = "{\"path\": \"" + path + "\", \"times\": 0, ";
    if (gated) r += "\"until\": \"/open/go\", ";
    return r + "\"response\": \"HTTP/1.1 200 OK\\r\\nContent-Type: application/rss+xml\\r\\nContent-Length: " +
           std::to_string(body.size()) + "\\r\\nConnection: close\\r\\n\\r\\n" + body + "\"}";
  }
  void SetUp() override {
    MenuPages::SetUp();
    std::string rules = "{\"rules\": [" + Rule("/feed/100", Feed("100"), false) + ", ";
    for (int id = 112; id <= 116; ++id) rules += Rule("/gated/" + std::to_string(id), Feed(std::to_string(id)), true) + ", ";
    rules += "{\"path\": \"/open/\", \"times\": 0, \"response\": \"HTTP/1.1 204 No Content\\r\\nContent-Length: 0\\r\\n"
             "Connection: close\\r\\n\\r\\n\"}]}";
    ASSERT_TRUE(server_.Start(rules));
    std::string body = "<outline text=\"News\" type=\"rss\" uniqueID=\"90\"><outline text=\"Channel 00\" type=\"rss\" "
                       "uniqueID=\"100\" xmlUrl=\"" + server_.Url("/feed/100") + "\"/></outline>"
                       "<outline text=\"Tech\" type=\"rss\" uniqueID=\"91\">";
    for (int id = 112; id <= 116; ++id)
      body += "<outline text=\"Channel " + std::to_string(id) + "\" type=\"rss\" uniqueID=\"" + std::to_string(id) +
              "\" xmlUrl=\"" + server_.Url("/gated/" + std::to_string(id)) + "\"/>";
    WriteDeviceFile(kList, "<?xml version=\"1.0\"?>\n<opml version=\"1.0\"><head/><body nextID=\"200\">" + body +
                               "</outline></body></opml>\n");
    finished_ = 0;
    finishMessage_ = RegisterWindowMessageW(u"Quillet.Download.Finished");
    recorder_ = qtest::CreateHostWindow(u"CategoriesRefreshRecorder", Recorder, 1, 1);
  }
  void TearDown() override {
    if (recorder_) DestroyWindow(recorder_);
    MenuPages::TearDown();
  }
  bool Asked(const std::string& path) const {
    for (const std::string& r : server_.Requests())
      if (r.rfind("GET " + path + " ", 0) == 0) return true;
    return false;
  }
  // Moves the program's clock on until the refresh has ended.
  testing::AssertionResult WaitForRunEnd() {
    return q_.WaitFor(
        [&] {
          qk::PumpMessages();
          (void)q_.Advance(600);
          return finished_ > 0;
        },
        60000);
  }
  // The channel numbers whose files are in ChannelData.
  std::set<int> ChannelsWithFiles() const {
    std::set<int> out;
    for (const std::string& f : Files())
      if (f.rfind("Ch", 0) == 0 && f.size() > 2 && isdigit(static_cast<unsigned char>(f[2]))) out.insert(atoi(f.c_str() + 2));
    return out;
  }
  // The category editor from the chooser.
  void OpenEditor() {
    ASSERT_TRUE(q_.Tap(kBarLeft, kBar));
    ASSERT_TRUE(q_.Advance(10));
    ASSERT_TRUE(q_.Tap(kBarLeft, kBar));
    ASSERT_TRUE(q_.Advance(10));
  }
  void CloseEditorAndChooser() {
    ASSERT_TRUE(q_.Tap(kDoneX, kDoneY));
    ASSERT_TRUE(q_.Advance(600));
    ASSERT_TRUE(q_.Tap(kBarRight, kBar));
    ASSERT_TRUE(q_.Advance(10));
  }

  qnet::ScriptedServer server_;
  HWND recorder_ = nullptr;

 private:
  static LRESULT CALLBACK Recorder(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == finishMessage_) ++finished_;
    return DefWindowProcW(window, message, wParam, lParam);
  }
  inline static int finished_ = 0;
  inline static UINT finishMessage_ = 0;
};

TEST_F(CategoriesDuringARefresh, TheEditorWaitsForTheRefreshAndADeleteLeavesNoFilesAndShowsEveryCategory) {
  const std::string boxes = Host(u"\\") + "/boxes.txt";
  Start("");
  ASSERT_TRUE(q_.LogMessageBoxes(boxes));
  auto all = Seen("refresh-all-categories-480x800");
  // The list shows Tech; Refresh, and the first Tech feed is on its way.
  ASSERT_TRUE(q_.Tap(kBarLeft, kBar));
  ASSERT_TRUE(q_.Advance(10));
  ASSERT_TRUE(q_.Tap(240, kPage0 + 2 * kPagePitch));
  ASSERT_TRUE(q_.Advance(10));
  auto tech = Seen("refresh-tech-480x800");
  EXPECT_NE(Light(all, 70, 60, 400, 120), Light(tech, 70, 60, 400, 120)) << "the header did not name Tech";
  ASSERT_TRUE(q_.Tap(240, kBar));
  ASSERT_TRUE(q_.WaitFor([&] { return Asked("/gated/112"); }, 30000));

  // Delete Tech (the editor's second row), New and Rename while the feeds
  // download: each is refused, and nothing changes.
  OpenEditor();
  ASSERT_TRUE(q_.Tap(200, kEditRow0 + kEditorPitch));
  ASSERT_TRUE(q_.Tap(kEditDelete, kEditButtons));
  ASSERT_TRUE(q_.Advance(10));
  ASSERT_TRUE(q_.Tap(kEditNew, kEditButtons));
  ASSERT_TRUE(q_.Advance(10));
  ASSERT_TRUE(q_.Tap(kEditRename, kEditButtons));
  ASSERT_TRUE(q_.Advance(10));
  CloseEditorAndChooser();
  const std::string refusal = "Quillet Reach\tPlease wait until the channels have been refreshed.\t1\n";
  EXPECT_EQ(qtest::ReadHostFile(boxes), refusal + refusal + refusal);
  Walk during = ReadList(kList);
  EXPECT_EQ(during.categories, (std::vector<std::string>{"News", "Tech"}));
  EXPECT_EQ(during.channels.size(), 6u);

  // The feeds come; the refresh stores every channel of the list, and only
  // those.
  ASSERT_EQ(qnet::RawHttpGet(server_.port(), "/open/go").rfind("HTTP/1.1 204", 0), 0u);
  ASSERT_TRUE(WaitForRunEnd());
  Walk after = ReadList(kList);
  for (int id : ChannelsWithFiles()) EXPECT_EQ(after.channels.count(id), 1u) << "files of channel " << id;
  for (int id = 112; id <= 116; ++id) EXPECT_FALSE(FilesOf("Ch" + std::to_string(id)).empty()) << id;

  // Now the delete goes through: Tech's channels and every file of them go,
  // and the list shows every category again, News's channel among them.
  OpenEditor();
  ASSERT_TRUE(q_.Tap(200, kEditRow0 + kEditorPitch));
  ASSERT_TRUE(q_.AnswerMessageBoxes({IDYES}));
  ASSERT_TRUE(q_.Tap(kEditDelete, kEditButtons));
  ASSERT_TRUE(q_.Advance(10));
  CloseEditorAndChooser();
  ASSERT_TRUE(q_.Advance(10));
  Walk deleted = ReadList(kList);
  EXPECT_EQ(deleted.categories, (std::vector<std::string>{"News"}));
  // (The refresh took the channels shown, Tech's.)
  EXPECT_TRUE(ChannelsWithFiles().empty());
  auto shown = Seen("refresh-after-delete-480x800");
  EXPECT_EQ(Light(all, 70, 60, 400, 120), Light(shown, 70, 60, 400, 120)) << "the header still names the deleted category";
  EXPECT_GT(Light(shown, 0, kRow0 - 30, 480, kRow0 + 30), 100) << "News's channel is not shown";
}
