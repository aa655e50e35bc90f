// The Data Storage and Auto Update option pages, worked in the real
// "Quillet.exe" (its own device root, its clock frozen) by keys and taps:
// the channel data moved to a storage card and back, a move cut short by
// kill -9 (the next start still finds every file), and the auto update page
// re-arming a running "Monitor.exe". Pictures of both pages at both screen
// profiles go to the pictures folder. The Data Storage page also runs in
// this process on a channel list of its own: a card linked back to the
// device, cards whose names differ only in case, a card too full, and an
// edit held by a save batch.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "common/settings.h"
#include "gdi/image_codec.h"
#include "kernel/kernel.h"
#include "kernel/process.h"
#include "kernel/wstring.h"
#include "quillet/feeds/item_store.h"
#include "quillet/feeds/opml_xml.h"
#include "quillet/feeds/rss_xml.h"
#include "quillet/res/resources.h"
#include "quillet/options/option_storage_dlg.h"
#include "quillet/screens/channel_files.h"
#include "quillet/screens/screen_messages.h"
#include "quillet/ui/density.h"
#include "shell/notify.h"
#include "shell/aygshell.h"
#include "support/device_fixture.h"
#include "support/pictures.h"
#include "support/remote_program.h"
#include "support/settings_registry.h"
#include "support/screen_checks.h"
#include "user/user.h"

namespace fs = std::filesystem;

namespace {

constexpr const char16_t* kDeviceData = u"\\Program Files\\Quillet\\ChannelData";
constexpr const char16_t* kCardData = u"\\Storage Card\\Program Files\\Quillet\\ChannelData";
constexpr const char16_t* kSecondData = u"\\Second Card\\Program Files\\Quillet\\ChannelData";
constexpr int kChannels = 200;
// Each channel's files beside its item store, each some kilobytes, so that
// a move takes long enough to be cut short.
const char* const kFileKinds[] = {"~.xml", "-1.htm", "-1.bmp", ".tpl"};
constexpr int kStores[] = {100, 150, 299};  // channels with an item store

std::string Filler(const std::string& name) {
  std::string text;
  while (text.size() < 24000) text += name + " ";
  return text;
}

// The channels of "Channels.opml" by number, with their new-item counts.
struct Walk {
  std::map<int, std::string> fresh;
  int id = -1;
  std::string current;
};
void OnOutline(void* context, LPCWSTR parent, LPCWSTR name, LPCWSTR value) {
  auto* w = static_cast<Walk*>(context);
  std::string n = qk::ToUtf8(name ? name : u""), v = qk::ToUtf8(value ? value : u"");
  if (n.empty() && v.empty()) {
    if (w->id >= 0 && parent && *parent) w->fresh[w->id] = w->current;
    w->id = -1;
    w->current.clear();
    return;
  }
  if (n == "uniqueID") w->id = atoi(v.c_str());
  if (n == "newItemCount") w->current = v;
}

using qtest::Light;
// Pixels that are not the background colour of the picture's corner.
int Drawn(const qk::gdi::DecodedImage& p, int left, int top, int right, int bottom) {
  const uint8_t* corner = &p.bgra[(static_cast<size_t>(top) * p.width + right - 1) * 4];
  int n = 0;
  for (int y = std::max(top, 0); y < std::min(bottom, p.height); ++y)
    for (int x = std::max(left, 0); x < std::min(right, p.width); ++x) {
      const uint8_t* px = &p.bgra[(static_cast<size_t>(y) * p.width + x) * 4];
      if (px[0] != corner[0] || px[1] != corner[1] || px[2] != corner[2]) ++n;
    }
  return n;
}

DWORD SettingDword(const char16_t* name, DWORD missing) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Marrowby\\Quillet Reach\\Settings", 0, KEY_READ, &key) !=
      ERROR_SUCCESS)
    return missing;
  DWORD type = 0, value = 0, size = sizeof value;
  LONG r = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<LPBYTE>(&value), &size);
  RegCloseKey(key);
  return r == ERROR_SUCCESS && type == REG_DWORD ? value : missing;
}
std::string SettingText(const char16_t* name) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Marrowby\\Quillet Reach\\Settings", 0, KEY_READ, &key) !=
      ERROR_SUCCESS)
    return "";
  WCHAR value[260] = {0};
  DWORD type = 0, size = sizeof value - sizeof(WCHAR);
  LONG r = RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<LPBYTE>(value), &size);
  RegCloseKey(key);
  return r == ERROR_SUCCESS && type == REG_SZ ? qk::ToUtf8(value) : "";
}

class OptionsTest : public qtest::DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    qk::SetProgramHost(u"Quillet.exe", QUILLET_EXE);
    qk::SetProgramHost(u"Monitor.exe", MONITOR_EXE);
    setenv("QUILLET_HEADLESS", "1", 1);
    unsetenv("QUILLET_SCREENSHOT");
    // Local time is UTC for the test and the programs it starts.
    setenv("TZ", "UTC", 1);
    tzset();
  }
  void TearDown() override {
    for (HANDLE process : processes_) qtest::EndProcess(process);
    unsetenv("QUILLET_SCREEN_PROFILE");
    DeviceTest::TearDown();
  }

  // The reader with its clock frozen, on the touch screen ("") or the key
  // device ("keydevice").
  void Start(const char* profile) {
    profile_ = profile;
    ASSERT_TRUE(qtest::StartReader(profile, &process_, &q_, &pid_));
    processes_.push_back(process_);
    // The soft key that starts a move returns when the move is done: 800
    // files copied on the program's UI thread, which a loaded machine under
    // the sanitizers may take well past the usual ten seconds.
    q_.SetTimeout(60000);
    ASSERT_TRUE(q_.Advance(200));
    ASSERT_TRUE(q_.Advance(10));
    main_ = q_.ActiveWindow();
  }
  std::string Size() const { return *profile_ ? "240x320" : "480x800"; }
  // Takes the picture and reads it back.
  qk::gdi::DecodedImage Seen(const std::string& name) {
    std::string path = qtest::PicturesDir() + "/options-" + name + "-" + Size() + ".png";
    qk::gdi::DecodedImage image;
    EXPECT_TRUE(q_.Shot(path));
    std::string bytes = qtest::ReadHostFile(path);
    EXPECT_TRUE(qk::gdi::DecodePng(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &image)) << path;
    return image;
  }
  // Opens an option page as its menu entry does; returns once it is in
  // front.
  void OpenPage(UINT command) {
    HWND before = q_.ActiveWindow();
    ASSERT_TRUE(PostMessageW(q_.Window(), WM_COMMAND, command, 0));
    ASSERT_TRUE(q_.WaitFor([&] { return q_.ActiveWindow() != before && q_.ActiveWindow() != nullptr; }));
  }
  // OK (soft key 1) or Cancel (soft key 2); returns once the list is back.
  void LeavePage(int softKey) {
    ASSERT_TRUE(q_.SoftKey(softKey));
    ASSERT_TRUE(q_.WaitFor([&] { return q_.ActiveWindow() == main_; }, 60000));
  }

  // The storage cards: "Storage Card" (1 GB), "Tiny Card" (60 MB, too
  // small to be offered) and "Second Card" (64 MB).
  void MakeCards() {
    WriteDeviceFile(u"\\DeviceProfile.txt",
                    "card=Storage Card,1024\ncard=Tiny Card,60\ncard=Second Card,64\ncard=Missing Card,512\n");
    for (const char16_t* card : {u"\\Storage Card", u"\\Tiny Card", u"\\Second Card"})
      fs::create_directories(Host(card));
  }
  // 200 channels (100 to 299) in two categories; each with four files of
  // its own, three with item stores of three stories, one read.
  void MakeChannels() {
    std::string body = "<outline text=\"News\" type=\"rss\" uniqueID=\"90\">";
    for (int id = 100; id < 100 + kChannels; ++id) {
      if (id == 200) body += "</outline><outline text=\"Tech\" type=\"rss\" uniqueID=\"91\">";
      body += "<outline text=\"Channel " + std::to_string(id) + "\" type=\"rss\" uniqueID=\"" + std::to_string(id) +
              "\" xmlUrl=\"http://127.0.0.1/feed/" + std::to_string(id) + "\" itemCount=\"3\" newItemCount=\"2\"/>";
      for (const char* kind : kFileKinds) {
        std::string name = "Ch" + std::to_string(id) + kind;
        WriteDeviceFile(Path(kDeviceData, name).c_str(), Filler(name));
      }
    }
    WriteDeviceFile(Path(kDeviceData, "Channels.opml").c_str(),
                    "<?xml version=\"1.0\"?>\n<opml version=\"1.0\"><head/><body nextID=\"300\">" + body +
                        "</outline></body></opml>\n");
    for (int id : kStores) {
      std::string x = "<?xml version=\"1.0\"?>\n<rss version=\"2.0\"><channel><title>T</title>";
      for (int i = 0; i < 3; ++i)
        x += "<item><title>Story " + std::to_string(i) + "</title><link>http://127.0.0.1/s/" + std::to_string(id) +
             "/" + std::to_string(i) + "</link><pubDate>Tue, 08 Dec 2026 0" + std::to_string(i) +
             ":00:00 GMT</pubDate><description>Body</description></item>";
      const std::u16string feed = Path(kDeviceData, "Ch" + std::to_string(id) + "~.xml");
      WriteDeviceFile(feed.c_str(), x + "</channel></rss>\n");
      CRssXML parsed(nullptr, nullptr, nullptr, 1);
      ASSERT_TRUE(parsed.LoadEx(feed.c_str(), 0, 1));
      ASSERT_TRUE(parsed.SaveItems());
    }
    expected_.clear();
    for (const auto& e : fs::directory_iterator(Host(kDeviceData)))
      expected_[e.path().filename().string()] = qtest::ReadHostFile(e.path().string());
  }
  static std::u16string Path(const char16_t* folder, const std::string& name) {
    return std::u16string(folder) + u"\\" + qk::FromUtf8(name);
  }
  // The files of a device folder (none when it is missing).
  std::map<std::string, std::string> FilesIn(const char16_t* folder) const {
    std::map<std::string, std::string> out;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(Host(folder), ec))
      out[e.path().filename().string()] = qtest::ReadHostFile(e.path().string());
    return out;
  }
  // Every file made is in the folder with its bytes, and the folder holds
  // nothing else of the data. The item stores may have been written since.
  void ExpectWhole(const char16_t* folder, bool storesChanged = false) {
    auto files = FilesIn(folder);
    EXPECT_EQ(files.size(), expected_.size()) << qk::ToUtf8(folder);
    for (const auto& [name, bytes] : expected_) {
      auto it = files.find(name);
      if (it == files.end()) {
        ADD_FAILURE() << name << " is missing from " << qk::ToUtf8(folder);
        continue;
      }
      if (name == "Channels.opml" || (storesChanged && name.size() > 4 && name.substr(name.size() - 4) == ".bin"))
        continue;
      EXPECT_TRUE(it->second == bytes) << name << " changed in " << qk::ToUtf8(folder);
    }
    EXPECT_EQ(ReadList(Path(folder, "Channels.opml")).fresh.size(), static_cast<size_t>(kChannels));
  }
  // No channel file and no channel list left in the folder.
  void ExpectEmpty(const char16_t* folder) {
    auto files = FilesIn(folder);
    EXPECT_TRUE(files.empty()) << files.size() << " files stayed in " << qk::ToUtf8(folder) << ", the first "
                               << (files.empty() ? "" : files.begin()->first);
  }
  static Walk ReadList(const std::u16string& path) {
    Walk w;
    COpmlXML list(OnOutline, &w, 1);
    list.LoadAndWalk(path.c_str());
    return w;
  }
  // The storage root the settings give now.
  static std::string Root() { return SettingDword(u"UseStorageCard", 0) ? SettingText(u"StorageCardName") : ""; }

  // Quits the program as its user does (Exit) and waits for its end.
  void Quit() {
    ASSERT_TRUE(PostMessageW(q_.Window(), WM_CLOSE, 0, 0));
    EXPECT_EQ(WaitForSingleObject(process_, 30000), WAIT_OBJECT_0);
  }

  // Watches a host folder from a thread of its own and kills the program
  // (kill -9) at the first event of the mask there: the move is cut short
  // in the middle, wherever it is.
  void KillAtFirst(const std::string& folder, uint32_t mask) {
    inotify_ = inotify_init1(IN_CLOEXEC);
    ASSERT_GE(inotify_, 0);
    ASSERT_GE(inotify_add_watch(inotify_, folder.c_str(), mask), 0);
    ASSERT_EQ(pipe(stop_), 0);
    killed_ = false;
    const pid_t pid = static_cast<pid_t>(pid_);
    watcher_ = std::thread([this, pid] {
      pollfd wait[2] = {{inotify_, POLLIN, 0}, {stop_[0], POLLIN, 0}};
      if (poll(wait, 2, -1) > 0 && (wait[0].revents & POLLIN)) {
        ::kill(pid, SIGKILL);
        killed_ = true;
      }
    });
  }
  // Waits for the program that KillAtFirst watches to be gone (a program
  // that the watch missed is ended too, and the case fails).
  void ExpectKilled() {
    const DWORD ended = WaitForSingleObject(process_, 60000);
    EXPECT_EQ(ended, WAIT_OBJECT_0) << "the program was not killed";
    if (ended != WAIT_OBJECT_0) TerminateProcess(process_, 1);
    EXPECT_EQ(write(stop_[1], "x", 1), 1);
    if (watcher_.joinable()) watcher_.join();
    for (int fd : {inotify_, stop_[0], stop_[1]}) close(fd);
    inotify_ = stop_[0] = stop_[1] = -1;
    EXPECT_TRUE(killed_);
  }

  const char* profile_ = "";
  int inotify_ = -1;
  int stop_[2] = {-1, -1};
  std::thread watcher_;
  std::atomic<bool> killed_{false};
  HANDLE process_ = nullptr;
  DWORD pid_ = 0;
  HWND main_ = nullptr;
  qtest::RemoteProgram q_;
  std::vector<HANDLE> processes_;
  std::map<std::string, std::string> expected_;
};

}  // namespace


class StorageTest : public OptionsTest {};

// Touch screen: device to card with the program killed while it copies,
// again with the program killed while it deletes the old copies, then back
// to the device whole. After each step the next start finds every file and
// the list where the settings point, and the running program saves its list
// in the new place.
TEST_F(StorageTest, MovesTwoHundredChannelsToACardAndBackAndAKilledMoveLosesNothing) {
  MakeCards();
  MakeChannels();
  fs::create_directories(Host(kCardData));
  Start("");
  OpenPage(ID_OPTIONS_STORAGE);
  auto page = Seen("storage");
  EXPECT_GT(Drawn(page, 300, 150, 470, 340), 100) << "no sizes of the card";
  EXPECT_EQ(Light(page, 0, 400, 480, 700), 480 * 300) << "the list shows through the page";

  // Tick "Store all data on card" (the first control) and OK: killed at the
  // first file written on the card.
  ASSERT_TRUE(q_.Key(VK_SPACE));
  KillAtFirst(Host(kCardData), IN_CREATE | IN_MODIFY | IN_MOVED_TO);
  (void)q_.SoftKey(1);  // the program dies while it answers
  ExpectKilled();
  EXPECT_LT(FilesIn(kCardData).size(), expected_.size()) << "the kill came after the copies";
  EXPECT_EQ(Root(), "") << "the settings point at a card that holds part of the data";
  ExpectWhole(kDeviceData);

  // The next start finds the list on the device; the move again, killed at
  // the first old copy deleted.
  Start("");
  auto list = Seen("list-after-kill-in-copy");
  EXPECT_GT(Light(list, 0, 140, 480, 220), 200) << "no channel rows";
  OpenPage(ID_OPTIONS_STORAGE);
  ASSERT_TRUE(q_.Key(VK_SPACE));
  KillAtFirst(Host(kDeviceData), IN_DELETE | IN_MOVED_FROM);
  (void)q_.SoftKey(1);
  ExpectKilled();
  EXPECT_EQ(Root(), "Storage Card");
  EXPECT_EQ(SettingDword(u"StorageCardNo", 7), 0u);
  EXPECT_EQ(SettingText(u"Storage"), "\\Storage Card\\Program Files\\Quillet");
  EXPECT_GT(FilesIn(kDeviceData).size(), 0u) << "the kill came after the deletes";
  ExpectWhole(kCardData);

  // The next start reads the card's list: its edits go there, not to what
  // stayed behind on the device.
  Start("");
  Seen("list-after-kill-in-delete");
  ASSERT_TRUE(PostMessageW(q_.Window(), WM_COMMAND, ID_ALL_READ, 0));
  ASSERT_TRUE(q_.WaitFor([&] { return ReadList(Path(kCardData, "Channels.opml")).fresh[150] == "0"; }));
  for (const auto& [id, fresh] : ReadList(Path(kCardData, "Channels.opml")).fresh) EXPECT_EQ(fresh, "0") << id;
  if (DeviceFileExists(Path(kDeviceData, "Channels.opml").c_str())) {
    EXPECT_EQ(ReadList(Path(kDeviceData, "Channels.opml")).fresh[150], "2") << "the edit went to the old copy";
  }

  // Back to the device, whole: the card keeps nothing, and the open list
  // now saves on the device.
  OpenPage(ID_OPTIONS_STORAGE);
  Seen("storage-on-card");
  ASSERT_TRUE(q_.Key(VK_SPACE));
  LeavePage(1);
  EXPECT_EQ(Root(), "");
  EXPECT_EQ(SettingText(u"Storage"), "\\Program Files\\Quillet");
  ExpectWhole(kDeviceData, true);
  ExpectEmpty(kCardData);
  Seen("list-back-on-device");
  ASSERT_TRUE(PostMessageW(q_.Window(), WM_COMMAND, ID_ALL_UNREAD, 0));
  ASSERT_TRUE(q_.WaitFor([&] { return ReadList(Path(kDeviceData, "Channels.opml")).fresh[150] == "3"; }));
  EXPECT_FALSE(DeviceFileExists(Path(kCardData, "Channels.opml").c_str())) << "the list was saved on the card";
  ExpectEmpty(kCardData);
  Quit();

  // And the next start finds it there.
  Start("");
  auto back = Seen("list-after-restart-on-device");
  EXPECT_GT(Light(back, 0, 140, 480, 220), 200) << "no channel rows";
  EXPECT_EQ(ReadList(Path(kDeviceData, "Channels.opml")).fresh.size(), static_cast<size_t>(kChannels));
}

// Key device: the stored card number picks the second card offered (the
// 60 MB card and the missing one are not offered); a copy that fails leaves
// the data where it was and in use, and says so; then card to card, and
// choosing the same place again moves nothing.
TEST_F(StorageTest, KeysChooseTheCardAFailedCopyKeepsTheDataAndCardToCardMovesIt) {
  MakeCards();
  MakeChannels();
  qtest::SetSettingDword(u"StorageCardNo", 1);
  // A folder where the second card wants a channel file: that copy fails.
  fs::create_directories(Host(kSecondData) + "/Ch150.tpl");
  Start("keydevice");
  const std::string boxes = Host(u"\\") + "/boxes.txt";
  ASSERT_TRUE(q_.LogMessageBoxes(boxes));
  OpenPage(ID_OPTIONS_STORAGE);
  HWND page = q_.ActiveWindow();
  auto second = Seen("storage-second-card");
  EXPECT_GT(Drawn(second, 150, 70, 240, 160), 20) << "no sizes of the second card";
  ASSERT_TRUE(q_.Key(VK_SPACE));
  ASSERT_TRUE(q_.SoftKey(1));
  ASSERT_TRUE(q_.WaitFor([&] { return !qtest::ReadHostFile(boxes).empty(); }));
  EXPECT_EQ(qtest::ReadHostFile(boxes), "Quillet\tThe data could not be moved. It stays where it was.\t1\n");
  EXPECT_EQ(q_.ActiveWindow(), page) << "the page should stay for another choice";
  EXPECT_EQ(SettingDword(u"UseStorageCard", 9), 9u) << "a setting was written";
  ExpectWhole(kDeviceData);
  EXPECT_EQ(FilesIn(kSecondData).size(), 1u) << "copies stayed on the card";
  Seen("storage-after-failed-move");

  // Without the obstacle the same OK moves everything to the second card.
  fs::remove(Host(kSecondData) + "/Ch150.tpl");
  LeavePage(1);
  EXPECT_EQ(Root(), "Second Card");
  EXPECT_EQ(SettingDword(u"StorageCardNo", 7), 1u);
  ExpectWhole(kSecondData);
  ExpectEmpty(kDeviceData);

  // Up: the first card. The data moves from card to card.
  OpenPage(ID_OPTIONS_STORAGE);
  ASSERT_TRUE(q_.Key(VK_TAB));
  ASSERT_TRUE(q_.Key(VK_UP));
  Seen("storage-first-card");
  LeavePage(1);
  EXPECT_EQ(Root(), "Storage Card");
  EXPECT_EQ(SettingDword(u"StorageCardNo", 7), 0u);
  ExpectWhole(kCardData);
  ExpectEmpty(kSecondData);
  // The same place again: nothing moves, nothing is lost.
  OpenPage(ID_OPTIONS_STORAGE);
  LeavePage(1);
  ExpectWhole(kCardData);
  auto list = Seen("list-after-card-to-card");
  EXPECT_GT(Light(list, 0, 40, 240, 120), 50) << "no channel rows";
  // The open list follows the data.
  ASSERT_TRUE(PostMessageW(q_.Window(), WM_COMMAND, ID_ALL_READ, 0));
  ASSERT_TRUE(q_.WaitFor([&] { return ReadList(Path(kCardData, "Channels.opml")).fresh[299] == "0"; }));
  ExpectEmpty(kSecondData);
  ExpectEmpty(kDeviceData);
}

// The Data Storage page in this process, on the channel list it is given,
// with real folders, links and cards: the page opened, the box ticked or
// not, a card chosen by its name, OK; message boxes are answered with OK
// and noted.
class DataMoveTest : public qtest::DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    ResetCachedPaths();
    RegisterQuilletResources();
    SetTouchFlag(FALSE);
    qk::SetMessageBoxHook([this](HWND, const std::u16string& text, const std::u16string& caption, UINT) {
      boxes_ += qk::ToUtf8(caption) + ": " + qk::ToUtf8(text) + "\n";
      return IDOK;
    });
  }
  void TearDown() override {
    qk::SetMessageBoxHook(nullptr);
    list_.reset();
    qk::shell::ResetShell();
    SetTouchFlag(TRUE);
    ResetCachedPaths();
    DeviceTest::TearDown();
  }

  // Two channels with their files, and the list, in a data folder; the
  // files are noted as expected_ (name to digest). Each file is some
  // 200 KB, the list a few hundred bytes.
  void MakeData(const std::u16string& folder) {
    expected_.clear();
    for (const char* name : {"Ch100.bin", "Ch100~.xml", "Ch101.bin", "Ch101-1.htm"}) {
      std::string bytes(200 * 1024, name[4]);
      WriteDeviceFile((folder + u"\\" + qk::FromUtf8(name)).c_str(), bytes);
      expected_[name] = Digest(bytes);
    }
    const std::string list =
        "<?xml version=\"1.0\"?>\n<opml version=\"1.0\"><head/><body nextID=\"102\">"
        "<outline text=\"News\" type=\"rss\" uniqueID=\"90\">"
        "<outline text=\"One\" type=\"rss\" uniqueID=\"100\" xmlUrl=\"http://127.0.0.1/1\" newItemCount=\"2\"/>"
        "<outline text=\"Two\" type=\"rss\" uniqueID=\"101\" xmlUrl=\"http://127.0.0.1/2\" newItemCount=\"5\"/>"
        "</outline></body></opml>\n";
    WriteDeviceFile((folder + u"\\Channels.opml").c_str(), list);
    expected_["Channels.opml"] = Digest(list);
  }
  // The channel list open on a file, as the program holds it.
  void OpenList(const std::u16string& path) {
    list_ = std::make_unique<COpmlXML>(nullptr, nullptr, 1);
    ASSERT_TRUE(list_->LoadAndWalk(path.c_str()));
  }
  // Opens the page, ticks "Store all data on card" or not, chooses the
  // card of that name (exactly), and OK. TRUE when the page ended.
  bool Choose(bool onCard, const std::u16string& card) {
    COptionStorageDlg page(nullptr, list_.get());
    EXPECT_TRUE(page.Create(IDD_OPTION_STORAGE, nullptr));
    HWND cards = ::GetDlgItem(page.m_hWnd, IDC_STORAGE_CARD_LIST);
    bool found = card.empty();
    for (int i = 0, n = int(::SendMessageW(cards, CB_GETCOUNT, 0, 0)); i < n; ++i) {
      WCHAR name[MAX_PATH] = {0};
      ::SendMessageW(cards, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(name));
      if (std::u16string(name) != card) continue;
      ::SendMessageW(cards, CB_SETCURSEL, i, 0);
      ::SendMessageW(page.m_hWnd, WM_COMMAND, MAKEWPARAM(IDC_STORAGE_CARD_LIST, CBN_SELCHANGE),
                     reinterpret_cast<LPARAM>(cards));
      found = true;
    }
    EXPECT_TRUE(found) << qk::ToUtf8(card) << " is not offered";
    ::CheckDlgButton(page.m_hWnd, IDC_STORAGE_USE_CARD, onCard ? BST_CHECKED : BST_UNCHECKED);
    ::SendMessageW(page.m_hWnd, WM_COMMAND, IDOK, 0);
    const bool ended = !::IsWindowVisible(page.m_hWnd);
    page.DestroyWindow();
    return ended;
  }
  // What a file holds, short enough to be shown: its size and a digest.
  static std::string Digest(const std::string& bytes) {
    return std::to_string(bytes.size()) + ":" + std::to_string(std::hash<std::string>()(bytes));
  }
  // The files of a device folder, by name, with the digests of their bytes.
  std::map<std::string, std::string> FilesIn(const std::u16string& folder) const {
    std::map<std::string, std::string> out;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(Host(folder.c_str()), ec))
      out[e.path().filename().string()] = Digest(qtest::ReadHostFile(e.path().string()));
    return out;
  }
  // Everything under a host folder (folders end in "/"), with file sizes.
  static std::map<std::string, uintmax_t> TreeOf(const std::string& folder) {
    std::map<std::string, uintmax_t> out;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
      const std::string name = fs::relative(it->path(), folder).string();
      if (it->is_directory()) out[name + "/"] = 0;
      else out[name] = it->file_size();
    }
    return out;
  }
  // The newItemCount of channel "One" in a list file.
  std::string FreshOfOne(const std::u16string& path) {
    COpmlXML read(nullptr, nullptr, 1);
    CString value;
    if (!read.LoadAndWalk(path.c_str()) || !read.GetChannelAttribute(u"http://127.0.0.1/1", u"newItemCount", value))
      return "(none)";
    return qk::ToUtf8(static_cast<LPCWSTR>(value));
  }

  static std::string Root() { return SettingDword(u"UseStorageCard", 0) ? SettingText(u"StorageCardName") : ""; }

  std::unique_ptr<COpmlXML> list_;
  std::map<std::string, std::string> expected_;
  std::string boxes_;
};

// A card whose folder is a link back into the device root holds the same
// "ChannelData" as the device: OK switches to it and moves nothing, every
// file and the list stay whole and the open list saves there. Back to the
// device the same way.
TEST_F(DataMoveTest, ACardLinkedBackToTheDeviceMovesNothingAndLosesNothing) {
  WriteDeviceFile(u"\\DeviceProfile.txt", "card=Storage Card,1024\n");
  fs::create_directory_symlink(".", Host(u"\\") + "/Storage Card");
  MakeData(kDeviceData);
  OpenList(std::u16string(kDeviceData) + u"\\Channels.opml");
  EXPECT_TRUE(Choose(true, u"Storage Card")) << boxes_;
  EXPECT_EQ(boxes_, "");
  EXPECT_EQ(Root(), "Storage Card");
  EXPECT_EQ(FilesIn(kDeviceData), expected_);
  // The open list now saves under the card's name, into the one file.
  ASSERT_TRUE(list_->SetChannelAttribute(u"http://127.0.0.1/1", u"newItemCount", u"0"));
  EXPECT_EQ(FreshOfOne(std::u16string(kCardData) + u"\\Channels.opml"), "0");
  EXPECT_EQ(FreshOfOne(std::u16string(kDeviceData) + u"\\Channels.opml"), "0");
  expected_["Channels.opml"] = FilesIn(kDeviceData)["Channels.opml"];

  EXPECT_TRUE(Choose(false, u"Storage Card")) << boxes_;
  EXPECT_EQ(boxes_, "");
  EXPECT_EQ(Root(), "");
  EXPECT_EQ(FilesIn(kDeviceData), expected_);
}

// Two cards whose names differ only in letter case are two folders of the
// host: moving from one to the other moves every file and the list, and
// the first keeps nothing.
TEST_F(DataMoveTest, TwoCardsWhoseNamesDifferOnlyInCaseAreTwoPlaces) {
  WriteDeviceFile(u"\\DeviceProfile.txt", "card=Card A,1024\ncard=card a,1024\n");
  fs::create_directories(Host(u"\\Card A"));
  fs::create_directories(Host(u"\\") + "/card a");
  const std::u16string upper = u"\\Card A\\Program Files\\Quillet\\ChannelData";
  const std::u16string lower = u"\\card a\\Program Files\\Quillet\\ChannelData";
  MakeData(upper);
  qtest::SetSettingDword(u"UseStorageCard", 1);
  qtest::SetSettingString(u"StorageCardName", u"Card A");
  ResetCachedPaths();
  OpenList(upper + u"\\Channels.opml");
  ASSERT_NE(Host(upper.c_str()), Host(lower.c_str()));

  EXPECT_TRUE(Choose(true, u"card a")) << boxes_;
  EXPECT_EQ(boxes_, "");
  EXPECT_EQ(Root(), "card a");
  EXPECT_EQ(FilesIn(lower), expected_);
  EXPECT_EQ(FilesIn(upper).size(), 0u) << "files stayed on the first card";
  ASSERT_TRUE(list_->SetChannelAttribute(u"http://127.0.0.1/1", u"newItemCount", u"0"));
  EXPECT_EQ(FreshOfOne(lower + u"\\Channels.opml"), "0") << "the open list does not save on the second card";

  // And back: the other way round the same.
  expected_["Channels.opml"] = FilesIn(lower)["Channels.opml"];
  EXPECT_TRUE(Choose(true, u"Card A")) << boxes_;
  EXPECT_EQ(Root(), "Card A");
  EXPECT_EQ(FilesIn(upper), expected_);
  EXPECT_EQ(FilesIn(lower).size(), 0u);
}

// A card with room for only part of the data: the move is refused and
// says so, the data stays on the device and in use, and the card holds
// what it held before: no copies, no file cut short, no new folders.
TEST_F(DataMoveTest, ACardTooFullRefusesTheMoveAndKeepsNothingOfIt) {
  // 64 MB, of which a picture takes all but 512 KB; the data is 800 KB.
  WriteDeviceFile(u"\\DeviceProfile.txt", "card=Small Card,64\n");
  fs::create_directories(Host(u"\\Small Card"));
  {
    std::ofstream photo(Host(u"\\Small Card") + "/Photo.raw", std::ios::binary);
  }
  fs::resize_file(Host(u"\\Small Card") + "/Photo.raw", 64ull * 1024 * 1024 - 512 * 1024);
  const auto card = TreeOf(Host(u"\\Small Card"));
  MakeData(kDeviceData);
  OpenList(std::u16string(kDeviceData) + u"\\Channels.opml");

  EXPECT_FALSE(Choose(true, u"Small Card"));
  EXPECT_EQ(boxes_, "Quillet: The data could not be moved. It stays where it was.\n");
  EXPECT_EQ(SettingDword(u"UseStorageCard", 9), 9u) << "a setting was written";
  EXPECT_EQ(FilesIn(kDeviceData), expected_);
  EXPECT_EQ(TreeOf(Host(u"\\Small Card")), card) << "the card was left changed";
  // The list still saves on the device.
  ASSERT_TRUE(list_->SetChannelAttribute(u"http://127.0.0.1/1", u"newItemCount", u"0"));
  EXPECT_EQ(FreshOfOne(std::u16string(kDeviceData) + u"\\Channels.opml"), "0");
}

// A file where a folder of the data on the card should be (its "Program
// Files", or its "ChannelData"): the move cannot be made. It is refused and
// says so, the data stays on the device and in use, the setting is not
// written, and the file in the way is left as it was.
TEST_F(DataMoveTest, AFileWhereTheCardsFolderShouldBeRefusesTheMoveAndLosesNothing) {
  for (const std::u16string& blocked : {std::u16string(u"\\Storage Card\\Program Files"), std::u16string(kCardData)}) {
    SCOPED_TRACE(qk::ToUtf8(blocked));
    fs::remove_all(Host(u"\\Storage Card"));
    boxes_.clear();
    WriteDeviceFile(u"\\DeviceProfile.txt", "card=Storage Card,1024\n");
    fs::create_directories(Host(u"\\") + "/Storage Card");
    if (blocked == kCardData) fs::create_directories(Host(u"\\Storage Card\\Program Files\\Quillet"));
    WriteDeviceFile(blocked.c_str(), "not a folder");
    const auto card = TreeOf(Host(u"\\") + "/Storage Card");
    MakeData(kDeviceData);
    OpenList(std::u16string(kDeviceData) + u"\\Channels.opml");
    EXPECT_FALSE(Choose(true, u"Storage Card"));
    EXPECT_EQ(boxes_, "Quillet: The data could not be moved. It stays where it was.\n");
    EXPECT_EQ(SettingDword(u"UseStorageCard", 9), 9u) << "a setting was written";
    EXPECT_EQ(FilesIn(kDeviceData), expected_);
    EXPECT_EQ(ReadDeviceFile(blocked.c_str()), "not a folder");
    EXPECT_EQ(TreeOf(Host(u"\\") + "/Storage Card"), card) << "the card was left changed";
    ASSERT_TRUE(list_->SetChannelAttribute(u"http://127.0.0.1/1", u"newItemCount", u"0"));
    EXPECT_EQ(FreshOfOne(std::u16string(kDeviceData) + u"\\Channels.opml"), "0");
  }
}

// An edit that a save batch holds back when the move starts is in the
// list that arrives on the card.
TEST_F(DataMoveTest, AnEditHeldInASaveBatchIsInTheMovedList) {
  WriteDeviceFile(u"\\DeviceProfile.txt", "card=Storage Card,1024\n");
  fs::create_directories(Host(u"\\Storage Card"));
  MakeData(kDeviceData);
  OpenList(std::u16string(kDeviceData) + u"\\Channels.opml");
  {
    COpmlXML::CSaveBatch batch(list_.get(), 3600000);
    ASSERT_TRUE(list_->SetChannelAttribute(u"http://127.0.0.1/1", u"newItemCount", u"0"));
  }
  ASSERT_TRUE(list_->HasPendingSave());
  EXPECT_TRUE(Choose(true, u"Storage Card")) << boxes_;
  EXPECT_EQ(Root(), "Storage Card");
  EXPECT_EQ(FreshOfOne(std::u16string(kCardData) + u"\\Channels.opml"), "0") << "the edit was not in the copy";
  EXPECT_FALSE(DeviceFileExists((std::u16string(kDeviceData) + u"\\Channels.opml").c_str()));
  EXPECT_EQ(FilesIn(kCardData).size(), expected_.size());
}

// Two cards whose names differ only in letter case, one big and one small:
// each move is held to the size of the card it goes to. The same data is
// refused by the small card, which is left as it was, and moves onto the
// big one. Both ways round: the small card listed first and last.
TEST_F(DataMoveTest, CardsWhoseNamesDifferOnlyInCaseEachHoldTheirOwnSize) {
  for (const bool smallFirst : {true, false}) {
    SCOPED_TRACE(smallFirst ? "the small card listed first" : "the big card listed first");
    const std::string small = smallFirst ? "Card A" : "card a", big = smallFirst ? "card a" : "Card A";
    fs::remove_all(root_ + "/Card A");
    fs::remove_all(root_ + "/card a");
    fs::remove_all(Host(kDeviceData));
    list_.reset();
    boxes_.clear();
    qtest::SetSettingDword(u"UseStorageCard", 0);
    ResetCachedPaths();
    WriteDeviceFile(u"\\DeviceProfile.txt",
                    smallFirst ? "card=Card A,64\ncard=card a,1024\n" : "card=Card A,1024\ncard=card a,64\n");
    fs::create_directories(root_ + "/" + small);
    fs::create_directories(root_ + "/" + big);
    // 64 MB, of which a picture takes all but 512 KB; the data is 800 KB.
    {
      std::ofstream photo(root_ + "/" + small + "/Photo.raw", std::ios::binary);
    }
    fs::resize_file(root_ + "/" + small + "/Photo.raw", 64ull * 1024 * 1024 - 512 * 1024);
    const auto smallCard = TreeOf(root_ + "/" + small);
    const auto bigCard = TreeOf(root_ + "/" + big);
    MakeData(kDeviceData);
    OpenList(std::u16string(kDeviceData) + u"\\Channels.opml");

    EXPECT_FALSE(Choose(true, qk::FromUtf8(small)));
    EXPECT_EQ(boxes_, "Quillet: The data could not be moved. It stays where it was.\n");
    EXPECT_EQ(Root(), "");
    EXPECT_EQ(FilesIn(kDeviceData), expected_);
    EXPECT_EQ(TreeOf(root_ + "/" + small), smallCard) << "the small card was left changed";
    EXPECT_EQ(TreeOf(root_ + "/" + big), bigCard) << "the big card was changed by a move to the small one";

    boxes_.clear();
    EXPECT_TRUE(Choose(true, qk::FromUtf8(big))) << boxes_;
    EXPECT_EQ(boxes_, "");
    EXPECT_EQ(Root(), big);
    EXPECT_EQ(FilesIn(qk::FromUtf8("\\" + big) + u"\\Program Files\\Quillet\\ChannelData"), expected_);
    EXPECT_EQ(TreeOf(root_ + "/" + small), smallCard) << "the small card was changed by a move to the big one";
  }
}

// The card's folder is a link to the card, and a card without a channel
// list is swapped for one holding a list of three channels by pointing the
// link at it. The reader's next reload finds that list where the data
// lives and loads it, and a channel added then is saved beside the three.
TEST_F(DataMoveTest, ACardSwappedByRePointingItsLinkKeepsItsChannelList) {
  WriteDeviceFile(u"\\DeviceProfile.txt", "card=Storage Card,1024\n");
  const std::string data = "/Program Files/Quillet/ChannelData";
  fs::create_directories(root_ + "/First" + data);
  qtest::WriteHostFile(root_ + "/First" + data + "/Ch001.bin", "first card");
  fs::create_directories(root_ + "/Second" + data);
  qtest::WriteHostFile(root_ + "/Second" + data + "/Channels.opml",
                       "<?xml version=\"1.0\"?>\n<opml version=\"1.0\"><head/><body nextID=\"4\">"
                       "<outline text=\"News\" type=\"rss\" uniqueID=\"90\">"
                       "<outline text=\"One\" type=\"rss\" uniqueID=\"1\" xmlUrl=\"http://127.0.0.1/1\"/>"
                       "<outline text=\"Two\" type=\"rss\" uniqueID=\"2\" xmlUrl=\"http://127.0.0.1/2\"/>"
                       "<outline text=\"Three\" type=\"rss\" uniqueID=\"3\" xmlUrl=\"http://127.0.0.1/3\"/>"
                       "</outline></body></opml>\n");
  const std::string card = root_ + "/Storage Card";
  ASSERT_EQ(symlink("First", card.c_str()), 0);
  qtest::SetSettingDword(u"UseStorageCard", 1);
  qtest::SetSettingString(u"StorageCardName", u"Storage Card");
  ResetCachedPaths();
  const std::u16string onCard = std::u16string(kCardData) + u"\\Channels.opml";
  EXPECT_FALSE(FileAccess(onCard.c_str())) << "the first card holds no list";

  // The card is swapped: a new link renamed over the old one.
  ASSERT_EQ(symlink("Second", (card + ".next").c_str()), 0);
  ASSERT_EQ(std::rename((card + ".next").c_str(), card.c_str()), 0);
  EXPECT_EQ(qk::ToUtf8(static_cast<LPCWSTR>(ChannelListFile())), qk::ToUtf8(onCard));
  // The reload, as the program makes it.
  COpmlXML list(nullptr, nullptr, 1);
  list.SetPath(onCard.c_str(), 1);
  if (!FileAccess(onCard.c_str()) || !list.LoadAndWalk(onCard.c_str())) list.CreateEmpty();
  EXPECT_GT(list.AddChannel(u"News", u"Four", u"http://127.0.0.1/4"), 0);
  // The second card's own file, read on the host.
  const std::string saved = qtest::ReadHostFile(root_ + "/Second" + data + "/Channels.opml");
  int kept = 0;
  for (const char* url : {"\"http://127.0.0.1/1\"", "\"http://127.0.0.1/2\"", "\"http://127.0.0.1/3\""})
    kept += saved.find(url) != std::string::npos ? 1 : 0;
  EXPECT_EQ(kept, 3) << "channels of the card's list kept:\n" << saved;
  EXPECT_NE(saved.find("\"http://127.0.0.1/4\""), std::string::npos) << saved;
}

class AutoUpdateTest : public OptionsTest {
 protected:
  void TearDown() override {
    // Monitor first: it must not start the reader while the test ends.
    if (monitor_) PostMessageW(HWND_BROADCAST, RegisterWindowMessageW(u"Quillet.Uninstall"), 0, 0);
    OptionsTest::TearDown();
  }
  void StartMonitor() {
    std::u16string line;
    PROCESS_INFORMATION pi{};
    ASSERT_TRUE(CreateProcessW(u"\\Program Files\\Quillet\\Monitor.exe", line.data(), nullptr, nullptr, FALSE, 0,
                               nullptr, nullptr, nullptr, &pi));
    CloseHandle(pi.hThread);
    monitor_ = pi.hProcess;
    processes_.push_back(monitor_);
  }
  // The wake-up Monitor has armed (seconds of the device's clock), if any.
  static std::optional<int64_t> Armed() {
    std::optional<int64_t> due;
    for (const auto& n : qk::ArmedNotifications())
      if (n.eventName == u"QuilletEvent") due = n.dueUtcMs / 1000;
    return due;
  }
  // Waits for Monitor to arm a wake-up other than the one given.
  int64_t WaitForArm(std::optional<int64_t> other = std::nullopt) {
    std::optional<int64_t> due;
    EXPECT_TRUE(qk::PumpMessagesUntil(
        [&] {
          due = Armed();
          return due && due != other;
        },
        60000))
        << "Monitor armed no new wake-up";
    return due.value_or(0);
  }
  static int64_t Now() { return qk::WallClockMs() / 1000; }
  // The wake-up armed after OK on the page: within the interval of the
  // moments before and after.
  void ExpectArmedIn(int64_t seconds, std::optional<int64_t> previous, int64_t before) {
    const int64_t due = WaitForArm(previous);
    EXPECT_GE(due, before + seconds);
    EXPECT_LE(due, Now() + seconds);
    armed_ = due;
  }

  HANDLE monitor_ = nullptr;
  std::optional<int64_t> armed_;
};

// Key device: every 5 minutes, changed on the page to every 5 hours, then
// stored values that no entry shows come back as "20" "Minutes"; each OK
// re-arms the running Monitor at once.
TEST_F(AutoUpdateTest, OkReArmsARunningMonitorAndAListWithoutChoiceStoresTheDefaults) {
  MakeChannels();
  qtest::SetSettingDword(u"AutoUpdateMode", 2);
  qtest::SetSettingDword(u"AutoUpdateTimeNum", 4);
  qtest::SetSettingDword(u"AutoUpdateTimeUnit", 0);
  qtest::SetSettingString(u"LastUpdateTime", u"2026-12-08 10:15:00");
  int64_t before = Now();
  StartMonitor();
  ExpectArmedIn(5 * 60, std::nullopt, before);

  Start("keydevice");
  OpenPage(ID_OPTIONS_AUTO_UPDATE);
  auto page = Seen("autoupdate-interval");
  EXPECT_GT(Drawn(page, 0, 176, 240, 192), 50) << "no last update time";
  // Tab to the count, Tab to the unit, Down: "Hours".
  ASSERT_TRUE(q_.Key(VK_TAB));
  ASSERT_TRUE(q_.Key(VK_TAB));
  ASSERT_TRUE(q_.Key(VK_DOWN));
  Seen("autoupdate-hours");
  before = Now();
  LeavePage(1);
  EXPECT_EQ(SettingDword(u"AutoUpdateMode", 9), 2u);
  EXPECT_EQ(SettingDword(u"AutoUpdateTimeNum", 9), 4u);
  EXPECT_EQ(SettingDword(u"AutoUpdateTimeUnit", 9), 1u);
  ExpectArmedIn(5 * 3600, armed_, before);

  // Values that no entry shows: both lists show no choice; OK stores "20"
  // "Minutes", never a value Monitor would read as some other interval.
  qtest::SetSettingDword(u"AutoUpdateTimeNum", 25);
  qtest::SetSettingDword(u"AutoUpdateTimeUnit", 0xFFFFFFFF);
  OpenPage(ID_OPTIONS_AUTO_UPDATE);
  Seen("autoupdate-no-choice");
  before = Now();
  LeavePage(1);
  EXPECT_EQ(SettingDword(u"AutoUpdateTimeNum", 9), 19u);
  EXPECT_EQ(SettingDword(u"AutoUpdateTimeUnit", 9), 0u);
  ExpectArmedIn(20 * 60, armed_, before);
  Seen("list-after-autoupdate");
}

// Touch screen: a stored mode of 7 shows the daily schedule with its time
// picker; the schedule at 06:30:15 arms Monitor for that time; switching
// to an interval mode brings the interval row back; Cancel writes nothing.
TEST_F(AutoUpdateTest, TheScheduleShowsTheTimeAndArmsMonitorForIt) {
  MakeChannels();
  qtest::SetSettingDword(u"AutoUpdateMode", 7);
  qtest::SetSettingDword(u"AutoUpdateScheduleHour", 6);
  qtest::SetSettingDword(u"AutoUpdateScheduleMinute", 30);
  qtest::SetSettingDword(u"AutoUpdateScheduleSecond", 15);
  // Monitor takes a mode it does not know for an interval ("20"
  // "Minutes"); the page shows it as the schedule and OK stores that.
  int64_t before = Now();
  StartMonitor();
  ExpectArmedIn(20 * 60, std::nullopt, before);

  Start("");
  OpenPage(ID_OPTIONS_AUTO_UPDATE);
  auto schedule = Seen("autoupdate-schedule");
  // The interval row is hidden: its place shows the time picker alone.
  EXPECT_GT(Drawn(schedule, 0, 200, 480, 260), 200) << "no time picker";
  // Down once in the mode list: the last entry stays; Up: an interval mode.
  ASSERT_TRUE(q_.Key(VK_DOWN));
  LeavePage(1);
  EXPECT_EQ(SettingDword(u"AutoUpdateMode", 9), 3u);
  EXPECT_EQ(SettingDword(u"AutoUpdateScheduleHour", 99), 6u);
  EXPECT_EQ(SettingDword(u"AutoUpdateScheduleMinute", 99), 30u);
  EXPECT_EQ(SettingDword(u"AutoUpdateScheduleSecond", 99), 15u);
  const int64_t first = WaitForArm(armed_);
  EXPECT_EQ(first % 86400, 6 * 3600 + 30 * 60 + 15);
  EXPECT_GT(first, Now());
  EXPECT_LE(first, Now() + 86400);
  // Unchanged values still re-arm Monitor (the same time of day).
  qtest::SetSettingDword(u"AutoUpdateScheduleHour", 7);
  OpenPage(ID_OPTIONS_AUTO_UPDATE);
  LeavePage(1);
  EXPECT_EQ(SettingDword(u"AutoUpdateScheduleHour", 99), 7u);
  const int64_t seven = WaitForArm(first);
  EXPECT_EQ(seven % 86400, 7 * 3600 + 30 * 60 + 15);

  OpenPage(ID_OPTIONS_AUTO_UPDATE);
  ASSERT_TRUE(q_.Key(VK_UP));
  auto interval = Seen("autoupdate-back-to-interval");
  EXPECT_NE(Drawn(interval, 0, 200, 480, 260), Drawn(schedule, 0, 200, 480, 260)) << "the row did not change";
  LeavePage(2);
  EXPECT_EQ(SettingDword(u"AutoUpdateMode", 9), 3u) << "Cancel wrote the mode";
  Seen("list-after-cancel");
}
