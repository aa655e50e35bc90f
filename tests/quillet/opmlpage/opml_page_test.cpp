// The new-channel wizard's OPML import page in the real "Quillet.exe" (its
// own device root, its clock frozen): a file exported by another reader
// picked in the file chooser and imported folder by folder and whole, the
// sample catalog, and broken files; by taps on the touch screen and by keys
// on the key device. After each import "Channels.opml" is read back.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "gdi/image_codec.h"
#include "kernel/kernel.h"
#include "kernel/process.h"
#include "kernel/wstring.h"
#include "quillet/feeds/opml_xml.h"
#include "support/device_fixture.h"
#include "support/pictures.h"
#include "support/remote_program.h"
#include "support/screen_checks.h"
#include "user/user.h"

namespace {

constexpr const char16_t* kList = u"\\Program Files\\Quillet\\ChannelData\\Channels.opml";

// A channel as "Channels.opml" holds it: category, title, address.
struct Channel {
  std::string category, title, url;
  bool operator==(const Channel& o) const { return category == o.category && title == o.title && url == o.url; }
};
std::ostream& operator<<(std::ostream& os, const Channel& c) {
  return os << "{" << c.category << ", " << c.title << ", " << c.url << "}";
}
struct Walk {
  std::vector<Channel> channels;
  Channel current;
};
void OnOutline(void* context, LPCWSTR parent, LPCWSTR name, LPCWSTR value) {
  auto* w = static_cast<Walk*>(context);
  std::string n = qk::ToUtf8(name ? name : u""), v = qk::ToUtf8(value ? value : u"");
  if (n.empty() && v.empty()) {
    if (!w->current.url.empty()) w->channels.push_back(w->current);
    w->current = Channel();
    return;
  }
  w->current.category = qk::ToUtf8(parent ? parent : u"");
  if (n == "text") w->current.title = v;
  if (n == "xmlUrl") w->current.url = v;
}
std::vector<Channel> ReadList() {
  Walk w;
  COpmlXML list(OnOutline, &w, 1);
  list.LoadAndWalk(kList);
  return w.channels;
}

using qtest::Light;

// The list the user has: one channel that the other reader's file holds
// too, and one of its own.
const char kSubscribed[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<opml version=\"1.0\"><head><title>Channels</title></head>"
    "<body nextID=\"102\"><outline text=\"Tech\" type=\"rss\" uniqueID=\"90\">"
    "<outline text=\"Subscribed One\" type=\"rss\" uniqueID=\"100\" xmlUrl=\"http://127.0.0.1/feed/1\" "
    "itemCount=\"3\" newItemCount=\"1\"/></outline>"
    "<outline text=\"Others\" type=\"rss\" uniqueID=\"91\">"
    "<outline text=\"Old Favourite\" type=\"rss\" uniqueID=\"101\" xmlUrl=\"http://127.0.0.1/feed/2\"/></outline>"
    "</body></opml>\n";

// A file exported by another reader: OPML 2.0, folders without a type,
// two folders deep, attributes of its own, a link outline, a feed the
// user has already, and a feed listed twice.
const char kOtherReader[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<opml version=\"2.0\">\n <head><title>Feeds exported by another reader</title>"
    "<dateCreated>Mon, 07 Dec 2026 09:00:00 GMT</dateCreated><ownerName>Kim</ownerName></head>\n <body>\n"
    "  <outline text=\"Tech\" title=\"Tech\" expanded=\"true\">\n"
    "   <outline text=\"Gadgets\" title=\"Gadgets\">\n"
    "    <outline type=\"rss\" text=\"Gadget Weekly\" title=\"Gadget Weekly\" xmlUrl=\"http://127.0.0.1/gadgets.xml\" "
    "htmlUrl=\"http://127.0.0.1/gadgets\" unread=\"4\" favicon=\"http://127.0.0.1/g.ico\"/>\n"
    "    <outline type=\"rss\" text=\"Subscribed One\" xmlUrl=\"http://127.0.0.1/feed/1\"/>\n"
    "   </outline>\n"
    "   <outline type=\"RSS\" text=\"Code Review\" xmlUrl=\"http://127.0.0.1/code.xml\" category=\"/dev,/review\"/>\n"
    "   <outline type=\"link\" text=\"A web page\" url=\"http://127.0.0.1/page.html\"/>\n"
    "  </outline>\n"
    "  <outline text=\"News\">\n"
    "   <outline type=\"rss\" text=\"Harbour Times\" xmlUrl=\"http://127.0.0.1/harbour.xml\" version=\"RSS2\"/>\n"
    "   <outline type=\"rss\" title=\"Harbour Times (again)\" xmlUrl=\"http://127.0.0.1/harbour.xml\"/>\n"
    "  </outline>\n"
    "  <outline type=\"rss\" text=\"Loose Feed\" xmlUrl=\"http://127.0.0.1/loose.xml\"/>\n"
    " </body>\n</opml>\n";

constexpr int kRow0 = 197, kPitch = 82;
constexpr int kBar = 760, kBarLeft = 48, kBarRight = 432;
constexpr int kMenuPage0 = 93, kChooserFile = 182;

class OpmlPageTest : public qtest::DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    qk::SetProgramHost(u"Quillet.exe", QUILLET_EXE);
    setenv("QUILLET_HEADLESS", "1", 1);
    boxes_ = Host(u"\\") + "/boxes.txt";
  }
  void TearDown() override {
    if (process_) qtest::EndProcess(process_);
    unsetenv("QUILLET_SCREEN_PROFILE");
    DeviceTest::TearDown();
  }
  void Start(const char* profile) {
    ASSERT_TRUE(qtest::StartReader(profile, &process_, &q_));
    ASSERT_TRUE(q_.Advance(200));
    ASSERT_TRUE(q_.Advance(10));
    ASSERT_TRUE(q_.LogMessageBoxes(boxes_));
  }
  qk::gdi::DecodedImage Seen(const std::string& name) {
    std::string path = qtest::PicturesDir() + "/opml-" + name + ".png";
    qk::gdi::DecodedImage image;
    EXPECT_TRUE(q_.Shot(path));
    std::string bytes = qtest::ReadHostFile(path);
    EXPECT_TRUE(qk::gdi::DecodePng(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &image)) << path;
    return image;
  }
  std::string Boxes() const { return qtest::ReadHostFile(boxes_); }
  // New from the channel list's menu page: the wizard, on its choice page.
  void OpenWizard(HWND* wizard) {
    ASSERT_TRUE(q_.Tap(kBarRight, kBar));
    ASSERT_TRUE(q_.Advance(10));
    ASSERT_TRUE(q_.Tap(240, kMenuPage0));
    ASSERT_TRUE(q_.Advance(10));
    *wizard = q_.ActiveWindow();
  }
  // "Import OPML file" on the choice page, and the chooser's first file.
  void PickFile() {
    ASSERT_TRUE(q_.Tap(240, kRow0 + 3 * kPitch));
    ASSERT_TRUE(q_.Advance(10));
    ASSERT_TRUE(q_.Tap(200, kChooserFile));
    ASSERT_TRUE(q_.SoftKey(1));  // "Select"
    ASSERT_TRUE(q_.Advance(10));
  }
  // "Add entire OPML channels" on the file's first screen, and the wizard
  // gone.
  void AddWholeFile(HWND wizard) {
    TapRow(1);
    ASSERT_TRUE(q_.WaitFor([&] { return q_.ActiveWindow() != wizard; }));
  }
  // A tap on a touch row of the page, and the page's answer.
  void TapRow(int row) {
    ASSERT_TRUE(q_.Tap(240, kRow0 + row * kPitch));
    ASSERT_TRUE(q_.Advance(10));
    ASSERT_TRUE(q_.Advance(10));
  }

  HANDLE process_ = nullptr;
  qtest::RemoteProgram q_;
  std::string boxes_;
};

// Where things are on the 480 x 800 touch screen: the wizard's rows (its
// pages' lists start under the title band), the button bar and its outer
// buttons, the menu page's first row, the file chooser's first file after
// the folder "Program Files".
// The same on the 240 x 320 key device: its rows, and the shell file
// dialog's first file.
constexpr int kKeyRow0 = 71, kKeyPitch = 34, kKeyDialogFile = 100;

// The rows of a touch page show, and nothing below them.
void TouchRowsShow(const qk::gdi::DecodedImage& p, int rows, const char* where) {
  for (int i = 0; i < rows; ++i) {
    int middle = kRow0 + i * kPitch;
    EXPECT_GT(Light(p, 90, middle - 20, 470, middle + 20), 200) << where << ": no row " << i + 1;
  }
  EXPECT_EQ(Light(p, 0, kRow0 + rows * kPitch - 30, 480, kBar - 45), 0) << where << ": something below the rows";
}
void KeyRowsShow(const qk::gdi::DecodedImage& p, int rows, const char* where) {
  for (int i = 0; i < rows; ++i) {
    int middle = kKeyRow0 + i * kKeyPitch;
    EXPECT_GT(Light(p, 36, middle - 8, 240, middle + 8), 30) << where << ": no row " << i + 1;
  }
  EXPECT_EQ(Light(p, 0, kKeyRow0 + rows * kKeyPitch - 12, 240, 320 - 30), 0) << where << ": something below the rows";
}
// A ticked touch row shows the tick at its right end.
bool TouchTicked(const qk::gdi::DecodedImage& p, int row) {
  int middle = kRow0 + row * kPitch;
  return Light(p, 385, middle - 25, 440, middle + 25) > 100;
}
// The row drawn selected: a bare strip of it (between the icon and the
// text on the touch screen, the right end on the key device) is the
// lightest of the rows.
int SelectedRow(const qk::gdi::DecodedImage& p, int rows, int top, int pitch) {
  const bool touch = p.width >= 480;
  const int left = touch ? 86 : p.width - 6, right = touch ? 98 : p.width - 1;
  int best = -1;
  long long most = -1;
  for (int i = 0; i < rows; ++i) {
    long long sum = 0;
    for (int y = top + i * pitch - pitch / 4; y < top + i * pitch + pitch / 4; ++y)
      for (int x = left; x < right; ++x) {
        const uint8_t* px = &p.bgra[(static_cast<size_t>(y) * p.width + x) * 4];
        sum += px[0] + px[1] + px[2];
      }
    if (sum > most) most = sum, best = i;
  }
  return best;
}

const Channel kOld[] = {{"Tech", "Subscribed One", "http://127.0.0.1/feed/1"},
                        {"Others", "Old Favourite", "http://127.0.0.1/feed/2"}};

TEST_F(OpmlPageTest, ByTouchAnotherReadersFileIsImportedFolderByFolder) {
  WriteDeviceFile(kList, kSubscribed);
  WriteDeviceFile(u"\\Other reader.opml", kOtherReader);
  Start("");
  const std::string before = ReadDeviceFile(kList);
  // New from the menu page: the wizard.
  HWND wizard = nullptr;
  ASSERT_NO_FATAL_FAILURE(OpenWizard(&wizard));
  PickFile();
  // A picked file first offers its two ways; Back from there selects the
  // import row on the choice page, which shows whole.
  TouchRowsShow(Seen("first-480x800"), 2, "the first screen");
  ASSERT_TRUE(q_.Tap(kBarRight, kBar));
  ASSERT_TRUE(q_.Advance(10));
  auto choice = Seen("choice-back-first-480x800");
  TouchRowsShow(choice, 7, "the choice page after the first screen");
  EXPECT_EQ(SelectedRow(choice, 7, kRow0, kPitch), 3);
  PickFile();
  TapRow(0);  // "Choose specific channels from OPML"
  // The top level: two folders and a feed.
  TouchRowsShow(Seen("top-480x800"), 3, "the top level");
  TapRow(0);  // Tech: its folder and its feed (no link, no back to the top yet)
  TouchRowsShow(Seen("tech-480x800"), 3, "Tech");
  TapRow(1);  // Gadgets: the feed the user has already is not offered
  TouchRowsShow(Seen("gadgets-480x800"), 2, "Gadgets");
  TapRow(1);  // Gadget Weekly ticked
  auto ticked = Seen("gadgets-ticked-480x800");
  EXPECT_TRUE(TouchTicked(ticked, 1));
  EXPECT_FALSE(TouchTicked(ticked, 0));
  TapRow(0);  // back to Tech
  TapRow(2);  // Code Review ticked
  TapRow(0);  // back to the top
  TapRow(0);  // Tech again and Gadgets again: the tick is kept
  TapRow(1);
  EXPECT_TRUE(TouchTicked(Seen("gadgets-again-480x800"), 1));
  TapRow(0);
  TapRow(0);
  TapRow(1);  // News: the feed listed twice gives two rows that tick together
  TapRow(1);
  auto news = Seen("news-ticked-480x800");
  TouchRowsShow(news, 3, "News");
  EXPECT_TRUE(TouchTicked(news, 1));
  EXPECT_TRUE(TouchTicked(news, 2));
  EXPECT_EQ(ReadDeviceFile(kList), before) << "nothing is added before OK";
  // OK adds the ticked feeds under their top-level folders and ends the
  // wizard; the channel list shows them.
  ASSERT_TRUE(q_.Tap(kBarLeft, kBar));
  ASSERT_TRUE(q_.Advance(10));
  ASSERT_TRUE(q_.WaitFor([&] { return q_.ActiveWindow() != wizard; }));
  std::vector<Channel> expected(std::begin(kOld), std::end(kOld));
  expected.insert(expected.begin() + 1, {{"Tech", "Gadget Weekly", "http://127.0.0.1/gadgets.xml"},
                                         {"Tech", "Code Review", "http://127.0.0.1/code.xml"}});
  expected.push_back({"News", "Harbour Times (again)", "http://127.0.0.1/harbour.xml"});
  EXPECT_EQ(ReadList(), expected);
  ASSERT_TRUE(q_.Advance(10));
  auto list = Seen("channels-after-480x800");
  EXPECT_GT(Light(list, 0, 150, 480, 620), 3000) << "the channel list did not come back";
  EXPECT_EQ(Boxes(), "");
}

TEST_F(OpmlPageTest, ByKeysTheWholeFileIsImportedAfterALookTwoFoldersDeep) {
  WriteDeviceFile(kList, kSubscribed);
  WriteDeviceFile(u"\\Other reader.opml", kOtherReader);
  Start("keydevice");
  auto key = [&](BYTE vk, int times = 1) {
    for (int i = 0; i < times; ++i) ASSERT_TRUE(q_.Key(vk));
    ASSERT_TRUE(q_.Advance(10));
    ASSERT_TRUE(q_.Advance(10));
  };
  auto pickFile = [&] {
    // The shell's dialog: a second tap on a file chooses it.
    Seen("k-dialog-240x320");
    ASSERT_TRUE(q_.Tap(120, kKeyDialogFile));
    ASSERT_TRUE(q_.Tap(120, kKeyDialogFile));
    ASSERT_TRUE(q_.Advance(10));
  };
  ASSERT_TRUE(q_.SoftKey(2));  // Menu: New
  key(VK_DOWN);
  key(VK_RETURN);
  HWND wizard = q_.ActiveWindow();
  key(VK_DOWN, 3);  // "Import OPML file"
  key(VK_RETURN);
  pickFile();
  auto first = Seen("k-first-240x320");
  KeyRowsShow(first, 2, "the first screen");
  EXPECT_EQ(SelectedRow(first, 2, kKeyRow0, kKeyPitch), 0);
  key(VK_RETURN);  // "Choose specific channels from OPML"
  KeyRowsShow(Seen("k-top-240x320"), 3, "the top level");
  key(VK_RETURN);  // Tech
  key(VK_DOWN);
  key(VK_RETURN);  // Gadgets
  auto deep = Seen("k-gadgets-240x320");
  KeyRowsShow(deep, 2, "Gadgets");
  // Cancel goes back: the page had left its first screen, so the catalog
  // row is selected, and the choice page shows whole.
  ASSERT_TRUE(q_.SoftKey(2));
  ASSERT_TRUE(q_.Advance(10));
  auto choice = Seen("k-choice-back-240x320");
  KeyRowsShow(choice, 7, "the choice page after the outline list");
  EXPECT_EQ(SelectedRow(choice, 7, kKeyRow0, kKeyPitch), 1);
  EXPECT_EQ(q_.ActiveWindow(), wizard);
  key(VK_DOWN, 2);  // "Import OPML file"
  key(VK_RETURN);
  pickFile();
  key(VK_DOWN);
  key(VK_RETURN);  // "Add entire OPML channels"
  ASSERT_TRUE(q_.WaitFor([&] { return q_.ActiveWindow() != wizard; }));
  // Every feed in document order under its top-level folder; the feed the
  // user has and the second Harbour Times add nothing.
  const std::vector<Channel> expected = {kOld[0],
                                         {"Tech", "Gadget Weekly", "http://127.0.0.1/gadgets.xml"},
                                         {"Tech", "Code Review", "http://127.0.0.1/code.xml"},
                                         kOld[1],
                                         {"Others", "Loose Feed", "http://127.0.0.1/loose.xml"},
                                         {"News", "Harbour Times (again)", "http://127.0.0.1/harbour.xml"}};
  EXPECT_EQ(ReadList(), expected);
  EXPECT_GT(Light(Seen("k-channels-after-240x320"), 0, 40, 240, 280), 500) << "the channel list did not come back";
  // The feed the user has is named; the one the file lists twice is not.
  EXPECT_EQ(Boxes(), "New Channel Wizard\tThis channel is already subscribed and was not added again: Subscribed One\t1\n");
}

// The sample catalog of the program's folder (installed at the first
// start): no first screen, its folders at once.
TEST_F(OpmlPageTest, TheCatalogOpensAtOnceAndBackSelectsItsRow) {
  WriteDeviceFile(kList, kSubscribed);
  Start("");
  const std::string before = ReadDeviceFile(kList);
  ASSERT_TRUE(q_.Tap(kBarRight, kBar));
  ASSERT_TRUE(q_.Advance(10));
  ASSERT_TRUE(q_.Tap(240, kMenuPage0));
  ASSERT_TRUE(q_.Advance(10));
  ASSERT_TRUE(q_.Tap(240, kRow0 + kPitch));  // "Browse Quillet channels catalog"
  ASSERT_TRUE(q_.Advance(10));
  ASSERT_TRUE(q_.Advance(10));
  TouchRowsShow(Seen("catalog-480x800"), 2, "the catalog");
  ASSERT_TRUE(q_.Tap(240, kRow0 + kPitch));  // Technology
  ASSERT_TRUE(q_.Advance(10));
  ASSERT_TRUE(q_.Advance(10));
  TouchRowsShow(Seen("catalog-technology-480x800"), 2, "the catalog's Technology");
  ASSERT_TRUE(q_.Tap(kBarRight, kBar));
  ASSERT_TRUE(q_.Advance(10));
  auto choice = Seen("choice-back-catalog-480x800");
  TouchRowsShow(choice, 7, "the choice page after the catalog");
  EXPECT_EQ(SelectedRow(choice, 7, kRow0, kPitch), 1);
  EXPECT_EQ(ReadDeviceFile(kList), before);
}

TEST_F(OpmlPageTest, ByKeysTheCatalogAddsTheTickedFeedWithTheSoftKey) {
  WriteDeviceFile(kList, kSubscribed);
  Start("keydevice");
  auto key = [&](BYTE vk, int times = 1) {
    for (int i = 0; i < times; ++i) ASSERT_TRUE(q_.Key(vk));
    ASSERT_TRUE(q_.Advance(10));
    ASSERT_TRUE(q_.Advance(10));
  };
  ASSERT_TRUE(q_.SoftKey(2));  // Menu: New
  key(VK_DOWN);
  key(VK_RETURN);
  HWND wizard = q_.ActiveWindow();
  key(VK_DOWN);  // "Browse Quillet channels catalog"
  key(VK_RETURN);
  KeyRowsShow(Seen("k-catalog-240x320"), 2, "the catalog");
  key(VK_RETURN);  // News
  key(VK_DOWN);
  key(VK_RETURN);  // its feed ticked
  KeyRowsShow(Seen("k-catalog-news-240x320"), 2, "the catalog's News");
  key(VK_UP);
  key(VK_RETURN);  // Back folder, into Technology and out again
  key(VK_DOWN);
  key(VK_RETURN);
  key(VK_RETURN);
  ASSERT_TRUE(q_.SoftKey(1));  // "Add Selected"
  ASSERT_TRUE(q_.Advance(10));
  ASSERT_TRUE(q_.WaitFor([&] { return q_.ActiveWindow() != wizard; }));
  const std::vector<Channel> expected = {
      kOld[0], kOld[1], {"News", "BBC News - World", "http://feeds.bbci.co.uk/news/world/rss.xml"}};
  EXPECT_EQ(ReadList(), expected);
  EXPECT_EQ(Boxes(), "");
}

// Files that do not read as OPML lists: each is reported, the page goes
// back to its first screen, and nothing is added.
TEST_F(OpmlPageTest, BrokenFilesAreReportedAndAddNothing) {
  WriteDeviceFile(kList, kSubscribed);
  std::vector<std::pair<std::string, std::string>> files = {
      {"truncated", std::string(kOtherReader).substr(0, sizeof kOtherReader / 2)},
      {"a feed", "<?xml version=\"1.0\"?><rss version=\"2.0\"><channel><title>Not a list</title>"
                 "<item><title>x</title><link>http://127.0.0.1/x</link></item></channel></rss>"},
      {"empty", ""},
  };
  const std::string corpus = std::string(QUILLET_CORPORA_DIR) + "/feedvalidator/testcases/opml/errors/";
  // (The corpus's files with a stray "&" or outlines after the body are
  // read leniently, as the channel list is; these two are no OPML lists.)
  for (const char* name : {"missingBody.opml", "missingOpml.opml"}) {
    std::string bytes = qtest::ReadHostFile(corpus + name);
    if (!bytes.empty()) files.push_back({name, bytes});
  }
  Start("");
  const std::string before = ReadDeviceFile(kList);
  HWND wizard = nullptr;
  ASSERT_NO_FATAL_FAILURE(OpenWizard(&wizard));
  size_t reported = 0;
  for (const auto& [what, bytes] : files) {
    WriteDeviceFile(u"\\Import.opml", bytes);
    ASSERT_TRUE(q_.Tap(240, kRow0 + 3 * kPitch));  // "Import OPML file"
    ASSERT_TRUE(q_.Advance(10));
    ASSERT_TRUE(q_.Tap(200, kChooserFile));
    ASSERT_TRUE(q_.SoftKey(1));
    ASSERT_TRUE(q_.Advance(10));
    // Both ways say so and come back to the first screen.
    for (int row : {1, 0}) {
      ASSERT_TRUE(q_.Tap(240, kRow0 + row * kPitch));
      ASSERT_TRUE(q_.Advance(10));
      ASSERT_TRUE(q_.Advance(10));
      ASSERT_EQ(q_.ActiveWindow(), wizard) << what;
      ++reported;
      TouchRowsShow(Seen("broken-first-480x800"), 2, what.c_str());
    }
    EXPECT_EQ(ReadDeviceFile(kList), before) << what;
    ASSERT_TRUE(q_.Tap(kBarRight, kBar));  // back to the choice page
    ASSERT_TRUE(q_.Advance(10));
    auto choice = Seen("choice-back-broken-480x800");
    TouchRowsShow(choice, 7, what.c_str());
    EXPECT_EQ(SelectedRow(choice, 7, kRow0, kPitch), 3) << what;
  }
  const std::string boxes = Boxes();
  size_t said = 0;
  for (size_t at = boxes.find("Error\tThe OPML file cannot be read"); at != std::string::npos;
       at = boxes.find("Error\tThe OPML file cannot be read", at + 1))
    ++said;
  EXPECT_EQ(said, reported) << boxes;
  EXPECT_NE(boxes.find("\\Import.opml\t1\n"), std::string::npos) << boxes;
  EXPECT_EQ(ReadDeviceFile(kList), before);
  EXPECT_FALSE(DeviceFileExists(u"\\Program Files\\Quillet\\ChannelData\\Channels.opml.bad"));
}

// Folders that hold a folder of their own name, and names that lead round
// in a circle: the whole file is still added, each feed under a folder on
// its way up, and the wizard ends. An outline of another type (its address
// before its type) adds nothing and lends nothing to the folder after it;
// a feed without a title is added under its address.
// A whole file that holds feeds the user has, under other titles and in
// other folders: those stay as they are and are named in one box; the
// rest are added, a feed the file lists twice once and without a word.
TEST_F(OpmlPageTest, TheWholeFileLeavesSubscribedFeedsAsTheyAreAndNamesThem) {
  WriteDeviceFile(kList, kSubscribed);
  WriteDeviceFile(u"\\Mine again.opml",
                  "<?xml version=\"1.0\"?>\n<opml version=\"1.1\"><head/><body>"
                  "<outline text=\"News\">"
                  "<outline type=\"rss\" text=\"Favourite elsewhere\" xmlUrl=\"http://127.0.0.1/feed/2\"/>"
                  "<outline type=\"rss\" text=\"Fresh\" xmlUrl=\"http://127.0.0.1/fresh.xml\"/>"
                  "</outline>"
                  "<outline text=\"Tech\"><outline type=\"rss\" text=\"One, renamed\" xmlUrl=\"http://127.0.0.1/feed/1\"/>"
                  "<outline type=\"rss\" text=\"Fresh again\" xmlUrl=\"http://127.0.0.1/fresh.xml\"/></outline>"
                  "</body></opml>\n");
  Start("");
  HWND wizard = nullptr;
  ASSERT_NO_FATAL_FAILURE(OpenWizard(&wizard));
  PickFile();
  ASSERT_NO_FATAL_FAILURE(AddWholeFile(wizard));
  // (A feed listed twice takes the title and folder of its last place.)
  const std::vector<Channel> expected = {kOld[0], {"Tech", "Fresh again", "http://127.0.0.1/fresh.xml"}, kOld[1]};
  EXPECT_EQ(ReadList(), expected);
  EXPECT_EQ(Boxes(),
            "New Channel Wizard\tThese channels are already subscribed and were not added again: Favourite elsewhere "
            "One, renamed\t1\n");
}

TEST_F(OpmlPageTest, FoldersNamedInACircleStillAddTheWholeFile) {
  WriteDeviceFile(kList, kSubscribed);
  WriteDeviceFile(u"\\Circle.opml",
                  "<?xml version=\"1.0\"?>\n<opml version=\"1.1\"><head/><body>"
                  "<outline text=\"Self\"><outline text=\"Self\">"
                  "<outline type=\"rss\" text=\"Inner\" xmlUrl=\"http://127.0.0.1/inner.xml\"/></outline></outline>"
                  "<outline text=\"B\"><outline text=\"C\"><outline text=\"B\">"
                  "<outline type=\"rss\" text=\"Deep\" xmlUrl=\"http://127.0.0.1/deep.xml\"/>"
                  "</outline></outline></outline>"
                  "<outline text=\"Audio\" xmlUrl=\"http://127.0.0.1/audio.mp3\" type=\"audio\"/>"
                  "<outline text=\"Later\"><outline type=\"rss\" text=\"After\" xmlUrl=\"http://127.0.0.1/after.xml\"/>"
                  "</outline><outline type=\"rss\" xmlUrl=\"http://127.0.0.1/untitled.xml\"/></body></opml>\n");
  Start("");
  HWND wizard = nullptr;
  ASSERT_NO_FATAL_FAILURE(OpenWizard(&wizard));
  PickFile();
  ASSERT_NO_FATAL_FAILURE(AddWholeFile(wizard));
  std::vector<Channel> list = ReadList();
  ASSERT_EQ(list.size(), 6u);
  EXPECT_EQ(list[2], (Channel{"Others", "http://127.0.0.1/untitled.xml", "http://127.0.0.1/untitled.xml"}));
  EXPECT_EQ(list[3], (Channel{"Self", "Inner", "http://127.0.0.1/inner.xml"}));
  EXPECT_TRUE(list[4].category == "B" || list[4].category == "C") << list[4];
  EXPECT_EQ(list[4].url, "http://127.0.0.1/deep.xml");
  EXPECT_EQ(list[5], (Channel{"Later", "After", "http://127.0.0.1/after.xml"}));
  EXPECT_EQ(Boxes(), "");
}


// A file whose outlines carry addresses that are no web feeds (a script,
// a local file, data, mail, ftp, a share, a relative path, a port without
// a server) beside http and
// https ones, one with spaces around it: only the web feeds are offered and
// added, by their trimmed addresses, and the page says how many outlines
// it left out, both when choosing and when adding the whole file.
TEST_F(OpmlPageTest, OnlyWebFeedsAreImportedAndTheOthersAreCounted) {
  WriteDeviceFile(kList, kSubscribed);
  WriteDeviceFile(u"\\Mixed.opml",
                  "<?xml version=\"1.0\"?>\n<opml version=\"2.0\"><head/><body>"
                  "<outline type=\"rss\" text=\"Plain\" xmlUrl=\"http://127.0.0.1/plain.xml\"/>"
                  "<outline type=\"rss\" text=\"Script\" xmlUrl=\"javascript:alert(1)\"/>"
                  "<outline type=\"rss\" text=\"Spaced\" xmlUrl=\"  https://127.0.0.1/spaced.xml  \"/>"
                  "<outline type=\"rss\" text=\"Local\" xmlUrl=\"file:///etc/passwd\"/>"
                  "<outline text=\"Elsewhere\">"
                  "<outline type=\"rss\" text=\"Data\" xmlUrl=\"data:text/xml,%3Crss%2F%3E\"/>"
                  "<outline type=\"rss\" text=\"Mail\" xmlUrl=\"mailto:kim@127.0.0.1\"/>"
                  "<outline type=\"rss\" text=\"Ftp\" xmlUrl=\"ftp://127.0.0.1/feed.xml\"/>"
                  "<outline type=\"rss\" text=\"Share\" xmlUrl=\"\\\\server\\share\\feed.xml\"/>"
                  "<outline type=\"rss\" text=\"Relative\" xmlUrl=\"feeds/relative.xml\"/>"
                  "<outline type=\"rss\" text=\"No server\" xmlUrl=\"http://:8080/feed.xml\"/>"
                  "<outline type=\"rss\" text=\"Upper\" xmlUrl=\"HTTPS://127.0.0.1/upper.xml\"/>"
                  "</outline></body></opml>\n");
  Start("");
  HWND wizard = nullptr;
  ASSERT_NO_FATAL_FAILURE(OpenWizard(&wizard));
  const std::string said = "Information\tOutlines left out, as their addresses are no http or https web feeds: 8\t1\n";
  PickFile();
  ASSERT_TRUE(q_.Tap(240, kRow0));  // "Choose specific channels from OPML"
  ASSERT_TRUE(q_.Advance(10));
  ASSERT_TRUE(q_.Advance(10));
  // The top level: the two web feeds and the folder.
  TouchRowsShow(Seen("mixed-top-480x800"), 3, "the top level");
  ASSERT_TRUE(q_.Tap(240, kRow0 + 2 * kPitch));  // Elsewhere: only Upper and the way back
  ASSERT_TRUE(q_.Advance(10));
  ASSERT_TRUE(q_.Advance(10));
  TouchRowsShow(Seen("mixed-elsewhere-480x800"), 2, "Elsewhere");
  EXPECT_EQ(Boxes(), said);
  ASSERT_TRUE(q_.Tap(kBarRight, kBar));  // back to the choice page
  ASSERT_TRUE(q_.Advance(10));
  PickFile();
  ASSERT_NO_FATAL_FAILURE(AddWholeFile(wizard));
  const std::vector<Channel> expected = {kOld[0], kOld[1],
                                         {"Others", "Plain", "http://127.0.0.1/plain.xml"},
                                         {"Others", "Spaced", "https://127.0.0.1/spaced.xml"},
                                         {"Elsewhere", "Upper", "HTTPS://127.0.0.1/upper.xml"}};
  EXPECT_EQ(ReadList(), expected);
  EXPECT_EQ(Boxes(), said + said);
}

// A file cut short after some whole outlines: none of them is offered or
// added, and the page says the file cannot be read; the whole file then
// adds what is ticked.
TEST_F(OpmlPageTest, AFileCutShortOffersNothingOfWhatItHeld) {
  WriteDeviceFile(kList, kSubscribed);
  const std::string whole = kOtherReader;
  const std::string cut = whole.substr(0, whole.find(" </body>"));
  ASSERT_NE(cut.find("Loose Feed"), std::string::npos);
  WriteDeviceFile(u"\\Cut.opml", cut);
  Start("");
  const std::string before = ReadDeviceFile(kList);
  HWND wizard = nullptr;
  ASSERT_NO_FATAL_FAILURE(OpenWizard(&wizard));
  PickFile();
  TapRow(0);  // "Choose specific channels from OPML": said, and the first screen again
  EXPECT_NE(Boxes().find("Error\tThe OPML file cannot be read"), std::string::npos) << Boxes();
  EXPECT_NE(Boxes().find("\\Cut.opml\t1\n"), std::string::npos) << Boxes();
  TouchRowsShow(Seen("cut-first-480x800"), 2, "the first screen after the cut file");
  TapRow(1);  // "Add entire OPML channels": said again, nothing added
  EXPECT_EQ(q_.ActiveWindow(), wizard);
  EXPECT_EQ(ReadDeviceFile(kList), before);
  TouchRowsShow(Seen("cut-first-again-480x800"), 2, "the first screen after adding the cut file");

  // The whole file: Loose Feed ticked and OK adds it.
  WriteDeviceFile(u"\\Cut.opml", whole);
  ASSERT_TRUE(q_.Tap(kBarRight, kBar));  // back to the choice page
  ASSERT_TRUE(q_.Advance(10));
  PickFile();
  TapRow(0);
  TapRow(2);  // Loose Feed
  ASSERT_TRUE(q_.Tap(kBarLeft, kBar));
  ASSERT_TRUE(q_.Advance(10));
  ASSERT_TRUE(q_.WaitFor([&] { return q_.ActiveWindow() != wizard; }));
  const std::vector<Channel> expected = {kOld[0], kOld[1], {"Others", "Loose Feed", "http://127.0.0.1/loose.xml"}};
  EXPECT_EQ(ReadList(), expected);
}

}  // namespace
