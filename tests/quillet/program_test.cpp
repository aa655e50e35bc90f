// The reader as a program: each case starts the real "Quillet.exe" as a
// process on the test's own device root, with nginx on loopback serving the
// feeds, the scripted sync service serving the synchronised channels and
// Ambrel as the fetch program. The test drives it as Monitor and
// the user would: over the device's message bus (commands posted to its
// main window, a second instance started beside it), and watches the
// broadcasts of the refresh from a window of its own. Every run leaves
// pictures of the screen in build/<preset>/pictures.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "kernel/kernel.h"
#include "kernel/process.h"
#include "quillet/feeds/item_store.h"
#include "quillet/refresh/refresh_state.h"
#include "quillet/screens/screen_messages.h"
#include "support/device_fixture.h"
#include "support/host_window.h"
#include "support/http_server.h"
#include "support/net_servers.h"
#include "support/settings_registry.h"
#include "user/user.h"

namespace fs = std::filesystem;

namespace {

std::vector<std::string>* g_seen = nullptr;

LRESULT CALLBACK RecorderProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  static const UINT start = RegisterWindowMessageW(MSG_DOWNLOAD_START);
  static const UINT finished = RegisterWindowMessageW(MSG_DOWNLOAD_FINISHED);
  static const UINT headlines = RegisterWindowMessageW(MSG_DOWNLOAD_HEADLINES_FINISHED);
  if (g_seen) {
    if (message == start) g_seen->push_back("start");
    else if (message == finished) g_seen->push_back("finished");
    else if (message == headlines) g_seen->push_back("headlines");
    else if (message == WM_CHANNELS_DOWNLOAD_PROGRESS) g_seen->push_back("progress");
    else if (message == WM_ACTIVATE_INSTANCE) g_seen->push_back("activate");
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

std::string Feed(int channel, int items, const std::string& site, const std::string& padding = "") {
  std::string s = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<rss version=\"2.0\"><channel><title>Channel " +
                  std::to_string(channel) + "</title><link>" + site + "/site" + std::to_string(channel) +
                  "/</link><description>d</description>\n";
  for (int i = 0; i < items; ++i) {
    std::string id = std::to_string(channel) + "-" + std::to_string(i);
    s += "<item><title>Story " + id + "</title><link>http://127.0.0.1/story/" + id +
         ".html</link><pubDate>Tue, 08 Dec 2026 10:0" + std::to_string(i % 10) +
         ":00 GMT</pubDate><description>Text of story " + id + padding + "</description></item>\n";
  }
  return s + "</channel></rss>\n";
}

// A 16 x 16 icon file of 32-bit pixels: a green disc on a dark square.
std::string Icon() {
  auto le16 = [](std::string& s, int v) { s += char(v & 0xFF); s += char((v >> 8) & 0xFF); };
  auto le32 = [&](std::string& s, int v) { le16(s, v & 0xFFFF); le16(s, (v >> 16) & 0xFFFF); };
  std::string image;
  le32(image, 40); le32(image, 16); le32(image, 32); le16(image, 1); le16(image, 32);
  for (int i = 0; i < 6; ++i) le32(image, 0);
  for (int y = 15; y >= 0; --y)
    for (int x = 0; x < 16; ++x) {
      bool disc = (x - 7.5) * (x - 7.5) + (y - 7.5) * (y - 7.5) < 36;
      image += char(disc ? 0x40 : 0x30);
      image += char(disc ? 0xC0 : 0x30);
      image += char(disc ? 0x40 : 0x30);
      image += char(0xFF);
    }
  image += std::string(64, '\0');
  std::string file;
  le16(file, 0); le16(file, 1); le16(file, 1);
  file += char(16); file += char(16); file += char(0); file += char(0);
  le16(file, 1); le16(file, 32); le32(file, int(image.size())); le32(file, 22);
  return file + image;
}

// The sync service's script: rules of the scripted server, each answering
// as often as asked.
std::string Json(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') out += '\\', out += char(c);
    else if (c == '\n') out += "\\n";
    else if (c == '\r') out += "\\r";
    else out += char(c);
  }
  return out + "\"";
}
std::string Answer(const std::string& path, const std::string& body) {
  std::string response = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
                         "\r\nConnection: close\r\n\r\n" + body;
  return "{\"path\": " + Json(path) + ", \"response\": " + Json(response) + ", \"times\": 0}";
}

// The service's copy of a synchronised feed: Atom entries with the
// service's item ids, the first marked read there.
std::string SyncFeed(const std::string& feed, int items) {
  std::string s = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<feed xmlns=\"http://www.w3.org/2005/Atom\">"
                  "<title>Synced</title><link href=\"http://sync.example/\"/>";
  for (int i = 0; i < items; ++i) {
    std::string n = std::to_string(i);
    s += "<entry><title>Synced story " + n + "</title><link href=\"" + feed + "/story/" + n +
         "\"/><id>tag:google.com,2005:reader/item/000" + n + "</id><updated>2026-12-08T10:0" + n + ":00Z</updated>";
    if (i == 0)
      s += "<category term=\"user/1/state/com.google/read\" scheme=\"http://www.google.com/reader/\" label=\"read\"/>";
    s += "<content type=\"html\">&lt;p&gt;synced " + n + "&lt;/p&gt;</content></entry>";
  }
  return s + "</feed>\n";
}

std::string PictureDir() {
  std::string dir = std::string(QUILLET_BINARY_DIR) + "/pictures";
  fs::create_directories(dir);
  return dir;
}

struct Profile {
  const char* name;     // QUILLET_SCREEN_PROFILE, or "" for the touch screen
  const char* picture;  // size tag of the pictures
};

class ProgramTest : public qtest::DeviceTest, public ::testing::WithParamInterface<Profile> {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    qk::SetProgramHost(u"Quillet.exe", QUILLET_EXE);
    qk::SetProgramHost(u"Ambrel.exe", AMBREL_EXE);
    setenv("QUILLET_HEADLESS", "1", 1);
    profile_ = GetParam();
    if (*profile_.name) setenv("QUILLET_SCREEN_PROFILE", profile_.name, 1);
    else unsetenv("QUILLET_SCREEN_PROFILE");
    docroot_ = qnet::MakeTempFolder("quillet-feeds");
    started_ = nginx_.Start(docroot_);
    seen_.clear();
    g_seen = &seen_;
    recorder_ = qtest::CreateHostWindow(u"ProgramTestRecorder", RecorderProc, 1, 1);
  }
  void TearDown() override {
    for (HANDLE process : processes_) {
      DWORD code = 0;
      if (GetExitCodeProcess(process, &code) && code == STILL_ACTIVE) TerminateProcess(process, 9);
      CloseHandle(process);
    }
    if (recorder_) DestroyWindow(recorder_);
    g_seen = nullptr;
    unsetenv("QUILLET_SCREENSHOT");
    unsetenv("QUILLET_SCREEN_PROFILE");
    unsetenv("SSL_CERT_FILE");
    nginx_.Stop();
    qnet::RemoveTree(docroot_);
    DeviceTest::TearDown();
  }

  std::string Shot(const std::string& what) const {
    return PictureDir() + "/main-" + what + "-" + profile_.picture + ".png";
  }

  // Starts the reader with this command line; its screen goes to the
  // picture file when one is named.
  HANDLE Start(const std::u16string& line, const std::string& picture = "") {
    if (picture.empty()) unsetenv("QUILLET_SCREENSHOT");
    else setenv("QUILLET_SCREENSHOT", picture.c_str(), 1);
    std::u16string command = line;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(u"\\Program Files\\Quillet\\Quillet.exe", command.data(), nullptr, nullptr, FALSE, 0,
                        nullptr, nullptr, nullptr, &pi)) {
      ADD_FAILURE() << "the reader did not start";
      return nullptr;
    }
    CloseHandle(pi.hThread);
    processes_.push_back(pi.hProcess);
    return pi.hProcess;
  }
  static bool Running(HANDLE process) {
    DWORD code = 0;
    return process && GetExitCodeProcess(process, &code) && code == STILL_ACTIVE;
  }
  static HWND MainWindow() { return FindWindowW(QUILLET_MAIN_WINDOW_FIND_CLASS, nullptr); }
  bool WaitForMainWindow(HANDLE process) {
    return qk::PumpMessagesUntil([&] { return MainWindow() != nullptr || !Running(process); }, 20000) &&
           MainWindow() != nullptr;
  }
  bool WaitFor(const std::string& what, int count = 1, DWORD timeoutMs = 60000) {
    return qk::PumpMessagesUntil([&] { return Count(what) >= count; }, timeoutMs);
  }
  int Count(const std::string& what) const {
    int n = 0;
    for (const auto& s : seen_) n += s == what;
    return n;
  }
  // Lets the program settle and write its picture.
  void Settle(DWORD ms) {
    auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    qk::PumpMessagesUntil([&] { return std::chrono::steady_clock::now() >= until; }, ms + 1000);
  }
  void Exit(HANDLE process) {
    HWND main = MainWindow();
    ASSERT_NE(main, nullptr);
    PostMessageW(main, WM_COMMAND, ID_APP_EXIT_COMMAND, 0);
    EXPECT_EQ(qtest::WaitForExitCode(process, 20000), 0u);
  }

  // Writes the channel list: channels 100.. in the categories given, each
  // at the feed path given.
  void WriteChannels(const std::vector<std::pair<std::string, std::string>>& channels,
                     const std::string& moreOutlines = "") {
    std::string s = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<opml version=\"1.0\"><head><title>t</title></head>"
                    "<body nextID=\"900\">";
    std::string category;
    int number = 100;
    for (const auto& [cat, path] : channels) {
      if (cat != category) {
        if (!category.empty()) s += "</outline>";
        s += "<outline text=\"" + cat + "\" type=\"rss\" uniqueID=\"" + std::to_string(800 + number) + "\">";
        category = cat;
      }
      s += "<outline text=\"Channel " + std::to_string(number) + "\" type=\"rss\" uniqueID=\"" +
           std::to_string(number) + "\" xmlUrl=\"" + nginx_.Url("/" + path) + "\"/>";
      ++number;
    }
    if (!category.empty()) s += "</outline>";
    s += moreOutlines + "</body></opml>\n";
    WriteDeviceFile(u"\\Program Files\\Quillet\\ChannelData\\Channels.opml", s);
  }
  void ServeFeeds(int count, int items, const std::string& folder = "", const std::string& padding = "",
                  const std::string& moreOutlines = "") {
    std::vector<std::pair<std::string, std::string>> channels;
    for (int i = 0; i < count; ++i) {
      std::string name = "feed" + std::to_string(i) + ".xml";
      std::ofstream(docroot_ + "/" + name) << Feed(100 + i, items, nginx_.Url(""), padding);
      channels.push_back({i % 3 == 0 ? "News" : i % 3 == 1 ? "Tech" : "Sport", folder + name});
    }
    std::ofstream(docroot_ + "/favicon.ico", std::ios::binary) << Icon();
    std::sort(channels.begin(), channels.end());
    WriteChannels(channels, moreOutlines);
  }
  void SetVentrel(const char16_t* name, const std::u16string& text, DWORD number = 0) {
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, u"Software\\Marrowby\\Quillet Reach\\Ventrel", 0, nullptr, 0,
                              KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    if (text.empty())
      RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number);
    else
      RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                     DWORD((text.size() + 1) * sizeof(char16_t)));
    RegCloseKey(key);
  }
  // Starts the sync service with one synchronised feed of the given items
  // and turns synchronisation on for the program, which trusts the
  // service's certificate. Returns the outline of its channel, number 190.
  std::string StartSyncService(int items) {
    const std::string feed = "http://sync.example/feed/one";
    const std::string subscriptions =
        "<object><list name=\"subscriptions\"><object><string name=\"id\">feed/" + feed +
        "</string><string name=\"title\">Synced One</string><list name=\"categories\"><object><string "
        "name=\"id\">user/1/label/News</string><string name=\"label\">News</string></object></list></object>"
        "</list></object>";
    std::string rules = "{\"rules\": [" + Answer("/accounts/ClientLogin", "SID=sid\n") + ", " +
                        Answer("/reader/api/0/subscription/list", subscriptions) + ", " +
                        Answer("/reader/atom/feed/" + feed, SyncFeed(feed, items)) + ", " +
                        Answer("/reader/api/0/token", "tok") + ", " + Answer("/reader/api/0/edit-tag", "OK") + "]}";
    const auto& certs = qnet::TestCertificates::Get();
    if (!certs.ok || !sync_.Start(rules, certs.serverCert, certs.serverKey)) return "";
    setenv("SSL_CERT_FILE", certs.caFile.c_str(), 1);
    SetVentrel(u"Sync", u"", 1);
    SetVentrel(u"Label", u"News");
    SetVentrel(u"Username", u"me@example.com");
    SetVentrel(u"Password", u"secret");
    SetVentrel(u"ServiceHost", qk::FromUtf8("localhost:" + std::to_string(sync_.port())));
    return "<outline text=\"Google Reader\" type=\"rss\" uniqueID=\"890\"><outline text=\"Synced One\" "
           "type=\"rss\" uniqueID=\"190\" xmlUrl=\"" + feed + "\" label=\"News\"/></outline>";
  }
  std::string ChannelList() const {
    return ReadDeviceFile(u"\\Program Files\\Quillet\\ChannelData\\Channels.opml");
  }
  int CountedChannels() const {
    std::string list = ChannelList();
    int n = 0;
    for (size_t at = list.find("itemCount=\""); at != std::string::npos; at = list.find("itemCount=\"", at + 1))
      if (at > 0 && list[at - 1] == ' ') ++n;
    return n;
  }

  Profile profile_{};
  bool started_ = false;
  qtest::NginxServer nginx_;
  qnet::ScriptedServer sync_;
  std::string docroot_;
  std::vector<std::string> seen_;
  std::vector<HANDLE> processes_;
  HWND recorder_ = nullptr;
};

std::string Utf16File(const std::u16string& text) {
  std::string bytes = "\xFF\xFE";
  for (char16_t c : text) {
    bytes += char(c & 0xFF);
    bytes += char(c >> 8);
  }
  return bytes;
}

TEST_P(ProgramTest, TheFirstStartInstallsTheProgramFilesKeepsTheUsersAndMakesAnEmptyChannelList) {
  const std::string mine = Utf16File(u"Refresh = Reload\r\n");
  WriteDeviceFile(u"\\Program Files\\Quillet\\Localization\\ENU\\Default.txt", mine);
  HANDLE reader = Start(u"", Shot("empty"));
  ASSERT_TRUE(WaitForMainWindow(reader));
  ASSERT_TRUE(qk::PumpMessagesUntil([&] { return !ChannelList().empty(); }, 10000));
  EXPECT_NE(ChannelList().find("<body"), std::string::npos);
  EXPECT_EQ(ChannelList().find("xmlUrl"), std::string::npos);
  EXPECT_NE(ReadDeviceFile(u"\\Program Files\\Quillet\\SampleChannels.opml").find("xmlUrl"), std::string::npos);
  EXPECT_EQ(ReadDeviceFile(u"\\Program Files\\Quillet\\Localization\\ENU\\Default.txt"), mine);
  EXPECT_NE(ReadDeviceFile(u"\\Registry\\HKCU.reg").find("Program Files"), std::string::npos);
  Settle(400);
  Exit(reader);
  EXPECT_EQ(MainWindow(), nullptr);
  // The instance mutex went with it: the program starts again.
  HANDLE again = Start(u"");
  ASSERT_TRUE(WaitForMainWindow(again));
  Exit(again);
}

TEST_P(ProgramTest, RefreshFromTheCommandShowsProgressAndStoresTheCountsOfThirtyChannels) {
  QNET_REQUIRE_PEER(started_, "nginx");
  // Beside the thirty feeds, one channel synchronised through the service.
  std::string synced = StartSyncService(3);
  QNET_REQUIRE_PEER(!synced.empty(), "the scripted sync service");
  ServeFeeds(30, 12, "", "", synced);
  HANDLE reader = Start(u"", Shot("30-channels"));
  ASSERT_TRUE(WaitForMainWindow(reader));
  Settle(500);
  fs::copy_file(Shot("30-channels"), Shot("30-channels-before"), fs::copy_options::overwrite_existing);
  PostMessageW(MainWindow(), WM_COMMAND, ID_REFRESH_CHANNELS, 0);
  ASSERT_TRUE(WaitFor("start"));
  ASSERT_TRUE(WaitFor("finished", 1, 90000));
  EXPECT_GE(Count("progress"), 30);
  EXPECT_EQ(Count("headlines"), 1);
  EXPECT_EQ(CountedChannels(), 31);
  EXPECT_NE(ChannelList().find("itemCount=\"12\""), std::string::npos);
  // The synchronised channel's items came from the service: three stored,
  // the one read there stored read, so two new.
  std::string list = ChannelList();
  size_t syncedAt = list.find("uniqueID=\"190\"");
  ASSERT_NE(syncedAt, std::string::npos);
  std::string outline = list.substr(syncedAt, list.find("/>", syncedAt) - syncedAt);
  EXPECT_NE(outline.find(" itemCount=\"3\""), std::string::npos) << outline;
  EXPECT_NE(outline.find("newItemCount=\"2\""), std::string::npos) << outline;
  std::vector<std::pair<std::string, DWORD>> stored;
  {
    CItemStore store(0);
    store.Open(u"\\Program Files\\Quillet\\ChannelData\\Ch190.bin", 0, 1);
    for (int n = 0; store.ReadRecord(n); ++n)
      stored.push_back({qk::ToUtf8(store.Current().link.str()), store.Current().readFlag});
  }
  std::sort(stored.begin(), stored.end());
  ASSERT_EQ(stored.size(), 3u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(stored[i].first, "http://sync.example/feed/one/story/" + std::to_string(i));
    EXPECT_EQ(stored[i].second >= ITEM_READ_READ, i == 0) << i;
  }
  int feedRequests = 0;
  for (const std::string& r : sync_.Requests()) feedRequests += r.find("GET /reader/atom/feed/") != std::string::npos;
  EXPECT_GE(feedRequests, 1);
  EXPECT_NE(ChannelList().find("newItemCount=\"12\""), std::string::npos);
  for (int n = 100; n < 130; ++n) {
    std::u16string store = u"\\Program Files\\Quillet\\ChannelData\\Ch" + qk::FromUtf8(std::to_string(n)) + u".bin";
    EXPECT_TRUE(DeviceFileExists(store.c_str())) << n;
  }
  // The site's icon became the channels' icon.
  EXPECT_EQ(ReadDeviceFile(u"\\Program Files\\Quillet\\ChannelData\\Ch117-Fav.ico"), Icon());
  Settle(600);
  EXPECT_TRUE(Running(reader));
  Exit(reader);
  fs::copy_file(Shot("30-channels"), Shot("after-refresh"), fs::copy_options::overwrite_existing);
  fs::copy_file(Shot("30-channels-before"), Shot("30-channels"), fs::copy_options::overwrite_existing);
  fs::remove(Shot("30-channels-before"));
}

TEST_P(ProgramTest, CancelMidRunStopsTheRefreshEarly) {
  QNET_REQUIRE_PEER(started_, "nginx");
  // Feeds of about 40 KB from the slow path: a second and more each.
  ServeFeeds(12, 40, "slow/", std::string(900, 'x'));
  fs::create_directories(docroot_ + "/slow");
  for (int i = 0; i < 12; ++i)
    fs::copy_file(docroot_ + "/feed" + std::to_string(i) + ".xml",
                  docroot_ + "/slow/feed" + std::to_string(i) + ".xml");
  HANDLE reader = Start(u"", Shot("refreshing"));
  ASSERT_TRUE(WaitForMainWindow(reader));
  Settle(300);
  PostMessageW(MainWindow(), WM_COMMAND, ID_REFRESH_CHANNELS, 0);
  ASSERT_TRUE(WaitFor("start"));
  ASSERT_TRUE(WaitFor("progress", 2, 60000));
  // Keep the picture of the running refresh (progress band, Cancel key).
  Settle(300);
  fs::copy_file(Shot("refreshing"), Shot("during-refresh"), fs::copy_options::overwrite_existing);
  auto cancelled = std::chrono::steady_clock::now();
  PostMessageW(MainWindow(), WM_COMMAND, ID_REFRESH_CHANNELS, 0);
  ASSERT_TRUE(WaitFor("finished", 1, 30000));
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - cancelled).count();
  EXPECT_LT(seconds, 8.0);
  EXPECT_LT(CountedChannels(), 12);
  EXPECT_TRUE(Running(reader));
  // A refresh after the cancelled one runs whole.
  seen_.clear();
  PostMessageW(MainWindow(), WM_COMMAND, ID_REFRESH_CHANNELS, 0);
  ASSERT_TRUE(WaitFor("finished", 1, 90000));
  EXPECT_EQ(CountedChannels(), 12);
  Exit(reader);
}

TEST_P(ProgramTest, AnUpdateTaskRefreshesAndEndsByItself) {
  QNET_REQUIRE_PEER(started_, "nginx");
  ServeFeeds(6, 8);
  HANDLE task = Start(u"/UPDATE now");
  EXPECT_EQ(qtest::WaitForExitCode(task, 90000), 0u);
  EXPECT_EQ(CountedChannels(), 6);
  EXPECT_EQ(MainWindow(), nullptr);
  // "/update" as a second word is a plain start: it stays.
  HANDLE plain = Start(u"now /update");
  ASSERT_TRUE(WaitForMainWindow(plain));
  Settle(300);
  EXPECT_TRUE(Running(plain));
  Exit(plain);
}

TEST_P(ProgramTest, ASecondPlainStartWakesTheFirstAndASecondUpdateStartMakesItRefresh) {
  QNET_REQUIRE_PEER(started_, "nginx");
  ServeFeeds(5, 6);
  // The first instance keeps its run log from its first refresh on.
  ASSERT_TRUE(qtest::SetSettingDword(u"VentrelLog", 1));
  const char16_t* log = u"\\Program Files\\Quillet\\Quillet_RunLog.txt";
  HANDLE first = Start(u"");
  ASSERT_TRUE(WaitForMainWindow(first));
  Settle(300);
  seen_.clear();

  HANDLE update = Start(u"/update");
  EXPECT_EQ(qtest::WaitForExitCode(update, 20000), 0u);
  ASSERT_TRUE(WaitFor("finished", 1, 60000));
  EXPECT_EQ(Count("start"), 1);
  // The update start neither woke the first one as a user's start would.
  EXPECT_EQ(Count("activate"), 0);
  EXPECT_EQ(CountedChannels(), 5);
  EXPECT_TRUE(Running(first));
  EXPECT_NE(ReadDeviceFile(log).find("Download thread"), std::string::npos);
  EXPECT_EQ(ReadDeviceFile(log).find("UPDATE TASK DOES NOT EXIT."), std::string::npos);

  seen_.clear();
  HANDLE second = Start(u"");
  EXPECT_EQ(qtest::WaitForExitCode(second, 20000), 0u);
  ASSERT_TRUE(WaitFor("activate", 1, 5000));
  // The first instance's frame took the wake-up and brought itself to the
  // front (its own log says so); it refreshes nothing and stays.
  EXPECT_TRUE(qk::PumpMessagesUntil(
      [&] { return ReadDeviceFile(log).find("UPDATE TASK DOES NOT EXIT.") != std::string::npos; }, 10000));
  Settle(200);
  EXPECT_EQ(Count("start"), 0);
  EXPECT_TRUE(Running(first));
  Exit(first);
}

INSTANTIATE_TEST_SUITE_P(Profiles, ProgramTest,
                         ::testing::Values(Profile{"", "480x800"}, Profile{"keydevice", "240x320"}),
                         [](const auto& info) { return std::string(*info.param.name ? "KeyDevice" : "Touch"); });

}  // namespace
