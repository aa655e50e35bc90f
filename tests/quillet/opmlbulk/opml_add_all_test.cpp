// "Add entire OPML channels" of the new-channel wizard's import page in the
// reader's own windows, in this process: a file of 4,000 feeds in 40
// folders (some subscribed already, some listed twice) is added with the
// channel list saved once, the saves counted as the file system reports
// them; and a channel list that cannot be saved adds nothing, says so, and
// the next try adds the file. Message boxes are answered by the test.
#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <filesystem>
#include <memory>
#include <string>

#include "common/settings.h"
#include "kernel/kernel.h"
#include "kernel/wstring.h"
#include "quillet/feeds/opml_xml.h"
#include "quillet/frame/main_frame.h"
#include "quillet/frame/reader_app.h"
#include "quillet/new_channel/new_wizard_dlg.h"
#include "quillet/new_channel/opml_display_dlg.h"
#include "quillet/res/resources.h"
#include "quillet/res/screen_ids.h"
#include "shell/aygshell.h"
#include "support/reader_frame_fixture.h"
#include "user/user.h"

namespace fs = std::filesystem;

namespace {

constexpr const char16_t* kList = u"\\Program Files\\Quillet\\ChannelData\\Channels.opml";
const char kChannels[] =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<opml version=\"1.0\"><head/><body nextID=\"102\">"
    "<outline text=\"News\" type=\"rss\" uniqueID=\"90\">"
    "<outline text=\"Alpha\" type=\"rss\" uniqueID=\"100\" xmlUrl=\"http://127.0.0.1/feed/7\"/>"
    "<outline text=\"Beta\" type=\"rss\" uniqueID=\"101\" xmlUrl=\"http://127.0.0.1/feed/3999\"/>"
    "</outline></body></opml>\n";

// Feed i's address.
std::string Url(int i) { return "http://127.0.0.1/feed/" + std::to_string(i); }

// An OPML file of that many feeds, 100 to a folder, the first feed of each
// folder listed a second time at the folder's end.
std::string ManyFeeds(int count) {
  std::string x = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<opml version=\"2.0\"><head><title>Many</title></head><body>\n";
  for (int i = 0; i < count; ++i) {
    if (i % 100 == 0) x += " <outline text=\"Folder " + std::to_string(i / 100) + "\">\n";
    x += "  <outline type=\"rss\" text=\"Feed " + std::to_string(i) + "\" xmlUrl=\"" + Url(i) + "\"/>\n";
    if (i % 100 == 99 || i + 1 == count)
      x += "  <outline type=\"rss\" text=\"Again\" xmlUrl=\"" + Url(i - i % 100) + "\"/>\n </outline>\n";
  }
  return x + "</body></opml>\n";
}

// The channels of the list on disk, by address, with their categories.
std::map<std::string, std::string> Saved() {
  struct Walk {
    std::map<std::string, std::string> channels;
  } walk;
  COpmlXML read(
      [](void* context, LPCWSTR parent, LPCWSTR name, LPCWSTR value) {
        if (name && qk::ToUtf8(name) == "xmlUrl")
          static_cast<Walk*>(context)->channels[qk::ToUtf8(value)] = qk::ToUtf8(parent ? parent : u"");
      },
      &walk, 1);
  read.LoadAndWalk(kList);
  return walk.channels;
}

// Counts the times a file of the folder is put in place by a rename (the
// way every save of a list ends).
class SaveCounter {
 public:
  SaveCounter(const std::string& folder, const std::string& name) : name_(name) {
    fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd_ >= 0) inotify_add_watch(fd_, folder.c_str(), IN_MOVED_TO | IN_CLOSE_WRITE);
  }
  ~SaveCounter() {
    if (fd_ >= 0) close(fd_);
  }
  bool Ok() const { return fd_ >= 0; }
  // The saves seen since the last call.
  int Take() {
    int saves = 0;
    alignas(inotify_event) char buffer[64 * (sizeof(inotify_event) + NAME_MAX + 1)];
    for (;;) {
      const ssize_t n = read(fd_, buffer, sizeof buffer);
      if (n <= 0) break;
      for (ssize_t at = 0; at < n;) {
        const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
        if (event->len && name_ == event->name) ++saves;
        at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      }
    }
    return saves;
  }

 private:
  int fd_ = -1;
  std::string name_;
};

class OpmlAddAllTest : public qtest::ReaderFrameTest {
 protected:
  void SetUp() override {
    ReaderFrameTest::SetUp();
    StartReader(kList, kChannels);
  }
  // "Add entire OPML channels" on the page's first screen, and the page's
  // answer: the wizard told of channels added, or a word to the person.
  void AddEntireFile(COpmlDisplayDlg& page, CNewWizardDlg& wizard) {
    ASSERT_EQ(page.GetMode(), 1);
    const size_t told = boxes_.size();
    COpmlDisplayDlg::OnListClick(page.m_hWnd, 0, OPML_ROW_ADD_ALL, nullptr);
    ASSERT_TRUE(qk::PumpMessagesUntil([&] { return wizard.m_bChannelsAdded || boxes_.size() != told; }, 300000));
  }
};

}  // namespace

// 4,000 feeds: every one not subscribed already is added once, under its
// folder, and the channel list is saved once for them all.
TEST_F(OpmlAddAllTest, AFileOfThousandsOfFeedsIsAddedWithOneSave) {
  WriteDeviceFile(u"\\Many.opml", ManyFeeds(4000));
  CNewWizardDlg wizard(List(), nullptr);
  ASSERT_TRUE(wizard.Create(IDD_NEW_WIZARD, nullptr));
  COpmlDisplayDlg page(u"\\Many.opml", &wizard);
  page.SetChannelDocument(List());
  ASSERT_TRUE(page.Create(IDD_OPML_DISPLAY, &wizard));
  SaveCounter saves(Host(u"\\Program Files\\Quillet\\ChannelData"), "Channels.opml");
  ASSERT_TRUE(saves.Ok());
  const auto start = std::chrono::steady_clock::now();
  AddEntireFile(page, wizard);
  const auto spent = std::chrono::steady_clock::now() - start;
  EXPECT_TRUE(wizard.m_bChannelsAdded);
  EXPECT_EQ(saves.Take(), 1) << "the list is saved once for each channel";
  // A bound for the slowest build (sanitizers, a loaded machine); the saves
  // counted above are what keeps the cost in step with the file.
  EXPECT_LT(std::chrono::duration_cast<std::chrono::seconds>(spent).count(), 60);
  const std::map<std::string, std::string> saved = Saved();
  ASSERT_EQ(saved.size(), 4000u);
  for (int i = 0; i < 4000; ++i) {
    auto at = saved.find(Url(i));
    ASSERT_NE(at, saved.end()) << i;
    const std::string category = i == 7 || i == 3999 ? "News" : "Folder " + std::to_string(i / 100);
    EXPECT_EQ(at->second, category) << i;
  }
  EXPECT_EQ(boxes_,
            "New Channel Wizard: These channels are already subscribed and were not added again:\nFeed 7\nFeed 3999\n");
  // The list in memory is the list on disk: a look-up finds every feed.
  for (int i = 0; i < 4000; i += 333) EXPECT_TRUE(List()->HasChannel(qk::FromUtf8(Url(i)).c_str())) << i;
  page.DestroyWindow();
  wizard.DestroyWindow();
}

// A channel list that cannot be saved: nothing of the file is added (not
// on disk, not in memory), the person is told, the page goes back to its
// first screen and the wizard stays. The next try, the list writable
// again, adds the file.
TEST_F(OpmlAddAllTest, AListThatCannotBeSavedAddsNothingAndTheNextTryAddsTheFile) {
  WriteDeviceFile(u"\\Few.opml", ManyFeeds(250));
  CNewWizardDlg wizard(List(), nullptr);
  ASSERT_TRUE(wizard.Create(IDD_NEW_WIZARD, nullptr));
  COpmlDisplayDlg page(u"\\Few.opml", &wizard);
  page.SetChannelDocument(List());
  ASSERT_TRUE(page.Create(IDD_OPML_DISPLAY, &wizard));
  const std::string before = ReadDeviceFile(kList);
  const std::string blocker = Host(kList) + ".tmp~";
  fs::create_directory(blocker);
  AddEntireFile(page, wizard);
  EXPECT_EQ(boxes_, "Error: Insert Channel failed. Please check whether the channel exists or not.\n");
  EXPECT_FALSE(wizard.m_bChannelsAdded) << "the wizard was told of channels added";
  EXPECT_TRUE(::IsWindow(wizard.m_hWnd));
  EXPECT_EQ(page.GetMode(), 1) << "the page is not back on its first screen";
  EXPECT_EQ(ReadDeviceFile(kList), before);
  EXPECT_FALSE(List()->HasChannel(qk::FromUtf8(Url(0)).c_str())) << "a channel not saved is in the list";
  EXPECT_FALSE(List()->HasChannel(qk::FromUtf8(Url(249)).c_str()));
  EXPECT_TRUE(List()->HasChannel(qk::FromUtf8(Url(7)).c_str()));

  // Writable again: the same command adds the file.
  fs::remove(blocker);
  boxes_.clear();
  AddEntireFile(page, wizard);
  EXPECT_TRUE(wizard.m_bChannelsAdded);
  EXPECT_EQ(boxes_, "New Channel Wizard: This channel is already subscribed and was not added again:\nFeed 7\n");
  const std::map<std::string, std::string> saved = Saved();
  EXPECT_EQ(saved.size(), 251u);
  EXPECT_EQ(saved.at(Url(0)), "Folder 0");
  EXPECT_EQ(saved.at(Url(249)), "Folder 2");
  // The numbers the failed try took are given again: one number for each
  // channel added after number 101.
  EXPECT_NE(ReadDeviceFile(kList).find("<body nextID=\"" + std::to_string(102 + 249) + "\">"), std::string::npos);
  page.DestroyWindow();
  wizard.DestroyWindow();
}
