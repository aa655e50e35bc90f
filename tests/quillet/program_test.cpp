// The reader as a program: each case starts the real "Quillet.exe" as a
// process on the test's own device root, with nginx on loopback serving the
// feeds, the scripted sync service serving the synchronised channels and
// Ambrel as the fetch program. The test drives it as Monitor and
// the user would: over the device's message bus (commands posted to its
// main window, a second instance started beside it), and watches the
// broadcasts of the refresh from a window of its own. Every run leaves
// pictures of the screen in build/<preset>/pictures. The tests wait for
// events only: broadcasts, files, requests that reach the servers, the
// program's exit, and the program itself asked over the bus (its pictures,
// its settling, its frozen clock moved on).
#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "kernel/kernel.h"
#include "kernel/process.h"
#include "quillet/feeds/item_store.h"
#include "quillet/refresh/refresh_state.h"
#include "quillet/screens/screen_messages.h"
#include "refresh/feed_texts.h"
#include "support/device_fixture.h"
#include "support/host_window.h"
#include "support/http_server.h"
#include "support/net_servers.h"
#include "support/remote_program.h"
#include "support/settings_registry.h"
#include "user/user.h"

namespace fs = std::filesystem;

namespace {

std::vector<std::string>* g_seen = nullptr;
// The refresh's registered messages by their numbers, which each device
// root (each case) gives out anew.
std::vector<std::pair<UINT, std::string>> g_registered;

void RegisterRecordedMessages() {
  g_registered = {{RegisterWindowMessageW(MSG_DOWNLOAD_START), "start"},
                  {RegisterWindowMessageW(MSG_DOWNLOAD_FINISHED), "finished"},
                  {RegisterWindowMessageW(MSG_DOWNLOAD_HEADLINES_FINISHED), "headlines"},
                  {RegisterWindowMessageW(MSG_DOWNLOAD_REFRESH), "refresh"},
                  {RegisterWindowMessageW(MSG_DOWNLOAD_ITEM_FULLTEXT), "fulltext"}};
}

LRESULT CALLBACK RecorderProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (g_seen) {
    if (message == WM_CHANNELS_DOWNLOAD_PROGRESS) g_seen->push_back("progress");
    else if (message == WM_ACTIVATE_INSTANCE) g_seen->push_back("activate");
    for (const auto& [number, name] : g_registered)
      if (message == number) g_seen->push_back(name);
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

// The feed addresses of a channel list, in order.
std::vector<std::string> FeedAddresses(const std::string& list) {
  std::vector<std::string> out;
  for (size_t at = list.find("xmlUrl=\""); at != std::string::npos; at = list.find("xmlUrl=\"", at + 1)) {
    size_t start = at + 8, end = list.find('"', start);
    if (end == std::string::npos) break;
    out.push_back(list.substr(start, end - start));
  }
  return out;
}

std::string WindowText(HWND window) {
  WCHAR text[256] = {0};
  GetWindowTextW(window, text, 256);
  return qk::ToUtf8(text);
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
    unsetenv("QUILLET_SCREENSHOT");
    profile_ = GetParam();
    if (*profile_.name) setenv("QUILLET_SCREEN_PROFILE", profile_.name, 1);
    else unsetenv("QUILLET_SCREEN_PROFILE");
    docroot_ = qnet::MakeTempFolder("quillet-feeds");
    started_ = nginx_.Start(docroot_);
    gateStarted_ = gate_.Start();
    seen_.clear();
    RegisterRecordedMessages();
    g_seen = &seen_;
    recorder_ = qtest::CreateHostWindow(u"ProgramTestRecorder", RecorderProc, 1, 1);
  }
  void TearDown() override {
    for (HANDLE process : processes_) qtest::EndProcess(process);
    if (recorder_) DestroyWindow(recorder_);
    g_seen = nullptr;
    unsetenv("QUILLET_SCREEN_PROFILE");
    unsetenv("QUILLET_FROZEN_CLOCK");
    unsetenv("SSL_CERT_FILE");
    nginx_.Stop();
    qnet::RemoveTree(docroot_);
    DeviceTest::TearDown();
  }

  std::string Shot(const std::string& what) const {
    return PictureDir() + "/main-" + what + "-" + profile_.picture + ".png";
  }

  // Starts the reader with this command line.
  // stderrFile, when given, receives what the program writes on stderr.
  HANDLE Start(const std::u16string& line, const std::string& stderrFile = "") {
    std::u16string command = line;
    PROCESS_INFORMATION pi{};
    // The child inherits the test's stderr: pointed at the file meanwhile.
    const int savedStderr = stderrFile.empty() ? -1 : dup(2);
    if (savedStderr >= 0) {
      const int file = open(stderrFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
      if (file >= 0) {
        dup2(file, 2);
        close(file);
      }
    }
    const BOOL started = CreateProcessW(u"\\Program Files\\Quillet\\Quillet.exe", command.data(), nullptr, nullptr,
                                        FALSE, 0, nullptr, nullptr, nullptr, &pi);
    if (savedStderr >= 0) {
      dup2(savedStderr, 2);
      close(savedStderr);
    }
    if (!started) {
      ADD_FAILURE() << "the reader did not start";
      return nullptr;
    }
    CloseHandle(pi.hThread);
    processes_.push_back(pi.hProcess);
    pids_[pi.hProcess] = pi.dwProcessId;
    lastPid_ = pi.dwProcessId;
    return pi.hProcess;
  }
  // The shared libraries the running reader has mapped (its /proc maps),
  // one file name a line.
  std::string MappedLibraries(HANDLE process) {
    std::string maps = qtest::ReadHostFile("/proc/" + std::to_string(pids_[process]) + "/maps");
    std::string names;
    for (size_t at = maps.find(".so"); at != std::string::npos; at = maps.find(".so", at + 3)) {
      size_t from = maps.rfind('/', at), end = maps.find('\n', at);
      if (from != std::string::npos) names += maps.substr(from + 1, end - from - 1) + "\n";
    }
    return names;
  }
  // Starts the reader on a clock frozen at the present moment: its timers
  // fire only when the test moves its clock on.
  HANDLE StartFrozen(const std::u16string& line) {
    long long now = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::system_clock::now().time_since_epoch()).count();
    setenv("QUILLET_FROZEN_CLOCK", std::to_string(now).c_str(), 1);
    HANDLE process = Start(line);
    unsetenv("QUILLET_FROZEN_CLOCK");
    return process;
  }
  static bool Running(HANDLE process) {
    DWORD code = 0;
    return process && GetExitCodeProcess(process, &code) && code == STILL_ACTIVE;
  }
  static HWND MainWindow() { return FindWindowW(QUILLET_MAIN_WINDOW_FIND_CLASS, nullptr); }
  bool WaitForMainWindow(HANDLE process) {
    return qk::PumpMessagesUntil([&] { return MainWindow() != nullptr || !Running(process); }, 30000) &&
           MainWindow() != nullptr;
  }
  // The program, driven over the bus.
  testing::AssertionResult Attach(qtest::RemoteProgram& program) {
    program.SetTimeout(30000);
    return program.Attach(u"WCE_QuilletMainWnd", 30000);
  }
  bool WaitFor(const std::string& what, int count = 1, DWORD timeoutMs = 120000) {
    return qk::PumpMessagesUntil([&] { return Count(what) >= count; }, timeoutMs);
  }
  // The broadcasts seen, in order.
  std::string SeenText() const {
    std::string all;
    for (const auto& s : seen_) all += s + " ";
    return all;
  }
  int Count(const std::string& what) const {
    int n = 0;
    for (const auto& s : seen_) n += s == what;
    return n;
  }
  // Moves a frozen program's clock on, a timer period at a time, until pred
  // holds (the broadcasts it sends are taken in between).
  testing::AssertionResult AdvanceUntil(qtest::RemoteProgram& program, const std::function<bool()>& pred,
                                        DWORD timeoutMs = 120000) {
    return program.WaitFor(
        [&] {
          qk::PumpMessages();
          if (pred()) return true;
          (void)program.Advance(600);
          qk::PumpMessages();
          return pred();
        },
        timeoutMs);
  }
  void Post(UINT message, WPARAM wParam = 0) {
    HWND main = MainWindow();
    ASSERT_NE(main, nullptr);
    PostMessageW(main, message, wParam, 0);
  }
  void Exit(HANDLE process) {
    Post(WM_COMMAND, ID_APP_EXIT_COMMAND);
    EXPECT_EQ(qtest::WaitForExitCode(process, 30000), 0u);
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
  void ServeFile(const std::string& path, const std::string& bytes) {
    fs::path host = fs::path(docroot_) / path.substr(1);
    fs::create_directories(host.parent_path());
    std::ofstream(host, std::ios::binary) << bytes;
  }

  // Plain channels 100.. of three items, each item with a picture, and the
  // channel 150 "Stories" with an extraction script, whose items' stories
  // go on over pages of the gate that come only when the test opens them
  // ("/gated/<gate><i>"). With a mute channel, the first channel's feed
  // address answers nothing at all.
  void ServeStories(int plain, int stories, const std::string& gate, bool mute = false) {
    std::vector<std::pair<std::string, std::string>> channels;
    for (int c = 0; c < plain; ++c) {
      std::vector<rtest::Item> items;
      for (int i = 0; i < 3; ++i) {
        std::string picture = "/pictures/p" + std::to_string(c) + "-" + std::to_string(i) + ".png";
        ServeFile(picture, rtest::Png(80, 80, unsigned(c * 3 + i)));
        items.push_back({"Story " + std::to_string(c) + "-" + std::to_string(i),
                         nginx_.Url("/site" + std::to_string(c) + "/" + std::to_string(i)),
                         "<p>see <img src=\"" + nginx_.Url(picture) + "\"></p>", ""});
      }
      std::string path = "plain/c" + std::to_string(c) + ".xml";
      ServeFile("/" + path, rtest::Rss2("Channel " + std::to_string(c), nginx_.Url("/site/"), "", items));
      channels.push_back({"News", path});
    }
    std::vector<rtest::Item> items;
    for (int i = 0; i < stories; ++i) {
      std::string n = std::to_string(i);
      ServeFile("/stories/s" + n + ".html",
                rtest::ArticlePage("<p>story " + n + "</p><img src=\"pic" + n + ".png\">", gate_.Url("/gated/" + gate + n)));
      ServeFile("/stories/pic" + n + ".png", rtest::Png(90, 90, unsigned(60 + i)));
      items.push_back({"Story " + n, nginx_.Url("/stories/s" + n + ".html"), "<p>" + n + "</p>", ""});
    }
    ServeFile("/stories.xml", rtest::Rss2("Stories", nginx_.Url("/stories/"), "", items));
    WriteDeviceFile(u"\\Program Files\\Quillet\\ChannelData\\Ch150.tpl", rtest::kExtractionScript);
    std::string more = "<outline text=\"Stories\" type=\"rss\" uniqueID=\"891\"><outline text=\"Stories\" "
                       "type=\"rss\" uniqueID=\"150\" xmlUrl=\"" + nginx_.Url("/stories.xml") + "\"/></outline>";
    if (mute)
      more += "<outline text=\"Silent\" type=\"rss\" uniqueID=\"892\"><outline text=\"A silent channel\" "
              "type=\"rss\" uniqueID=\"160\" xmlUrl=\"" + gate_.Url("/mute") + "\"/></outline>";
    WriteChannels(channels, more);
  }
  // How often the gate has been asked for this path.
  int Asked(const std::string& path) const {
    int n = 0;
    for (const std::string& r : gate_.Requests()) n += r.rfind("GET " + path + " ", 0) == 0;
    return n;
  }
  // The items of the channel "Stories" as its store has them, with their
  // page files.
  struct Story {
    int number = -1;
    std::string link, page, text;
    DWORD type = 0, readFlag = 0;
    bool hasPage = false;
  };
  std::vector<Story> Stories() {
    std::vector<Story> out;
    CItemStore store(0);
    store.Open(u"\\Program Files\\Quillet\\ChannelData\\Ch150.bin", 0, 1);
    for (int n = 0; store.ReadRecord(n); ++n) {
      const CItemRecord& r = store.Current();
      if (r.type & ITEM_TYPE_ERROR) continue;
      Story s;
      s.link = qk::ToUtf8(r.link.str());
      s.page = qk::ToUtf8(r.pageName.str());
      s.type = r.type;
      s.readFlag = r.readFlag;
      size_t at = s.link.rfind("/s");
      if (at != std::string::npos) s.number = atoi(s.link.c_str() + at + 2);
      std::u16string path = u"\\Program Files\\Quillet\\ChannelData\\" + r.pageName.str();
      s.hasPage = DeviceFileExists(path.c_str());
      s.text = ReadDeviceFile(path.c_str());
      out.push_back(s);
    }
    return out;
  }
  // The whole story as its job leaves it: the rest of the story fetched,
  // the picture fetched and the page pointed at it.
  static std::string WholeStory(const Story& s) {
    std::string base = s.page.substr(0, s.page.rfind('.'));
    return "<p>story " + std::to_string(s.number) + "</p><img src=\"" + base + "-01.png\"><p>Continued.</p>";
  }
  // Every story is either recorded with its whole page or has no page at
  // all: nothing half-fetched is left to be taken for the article.
  void ExpectEveryStoryWholeOrAbsent() {
    for (const Story& s : Stories()) {
      if (s.type & ITEM_TYPE_PAGE) {
        EXPECT_EQ(s.text, WholeStory(s)) << s.link;
      } else {
        EXPECT_FALSE(s.hasPage) << s.link << " holds " << s.text;
      }
    }
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
  // refuseLogin: the service answers every login as a wrong password.
  std::string StartSyncService(int items, bool refuseLogin = false) {
    const std::string feed = "http://sync.example/feed/one";
    const std::string subscriptions =
        "<object><list name=\"subscriptions\"><object><string name=\"id\">feed/" + feed +
        "</string><string name=\"title\">Synced One</string><list name=\"categories\"><object><string "
        "name=\"id\">user/1/label/News</string><string name=\"label\">News</string></object></list></object>"
        "</list></object>";
    std::string rules = "{\"rules\": [" +
                        Answer("/accounts/ClientLogin", refuseLogin ? "Error=BadAuthentication\n" : "SID=sid\n") + ", " +
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

  // Signals the program and checks that it ran its Exit steps (they remove
  // the downloader's temporary file, put there now) and ended within two
  // seconds with exit code 0, leaving its settings and channel list as they
  // were. A second signal follows the first at once.
  void ExpectEndBySignal(HANDLE process, DWORD pid, int signal) {
    const std::string list = ChannelList();
    WriteDeviceFile(u"\\QuilletDownloader.tmp", "partial");
    ASSERT_EQ(::kill(static_cast<pid_t>(pid), signal), 0);
    ::kill(static_cast<pid_t>(pid), signal);
    EXPECT_EQ(WaitForSingleObject(process, 2000), WAIT_OBJECT_0) << "the program did not end within 2 s";
    EXPECT_EQ(qtest::WaitForExitCode(process, 30000), 0u);
    EXPECT_FALSE(DeviceFileExists(u"\\QuilletDownloader.tmp"));
    // The list may have been saved with new counts, but whole: the same
    // channels, the document ended.
    EXPECT_EQ(FeedAddresses(ChannelList()), FeedAddresses(list));
    EXPECT_NE(ChannelList().find("</opml>"), std::string::npos) << ChannelList();
    EXPECT_NE(ReadDeviceFile(u"\\Registry\\HKCU.reg").find("Program Files\\\\Quillet"), std::string::npos);
  }

  Profile profile_{};
  DWORD lastPid_ = 0;
  bool started_ = false;
  bool gateStarted_ = false;
  qtest::NginxServer nginx_;
  qtest::ScriptedHttpServer gate_;
  qnet::ScriptedServer sync_;
  std::string docroot_;
  std::vector<std::string> seen_;
  std::vector<HANDLE> processes_;
  std::map<HANDLE, DWORD> pids_;  // host process ids
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
  HANDLE reader = Start(u"");
  ASSERT_TRUE(WaitForMainWindow(reader));
  {
    // The welcome page comes first; the channel list is made when it ends.
    qtest::RemoteProgram welcome(reader);
    ASSERT_TRUE(Attach(welcome));
    ASSERT_TRUE(welcome.WaitFor([&] { return welcome.ActiveWindow() && welcome.ActiveWindow() != welcome.Window(); },
                                30000));
    EXPECT_TRUE(ChannelList().empty());
    ASSERT_TRUE(welcome.Key(VK_ESCAPE));
  }
  ASSERT_TRUE(qk::PumpMessagesUntil([&] { return !ChannelList().empty(); }, 30000));
  EXPECT_NE(ChannelList().find("<body"), std::string::npos);
  EXPECT_EQ(ChannelList().find("xmlUrl"), std::string::npos);
  EXPECT_NE(ReadDeviceFile(u"\\Program Files\\Quillet\\SampleChannels.opml").find("xmlUrl"), std::string::npos);
  EXPECT_EQ(ReadDeviceFile(u"\\Program Files\\Quillet\\Localization\\ENU\\Default.txt"), mine);
  EXPECT_NE(ReadDeviceFile(u"\\Registry\\HKCU.reg").find("Program Files"), std::string::npos);
  qtest::RemoteProgram program(reader);
  ASSERT_TRUE(Attach(program));
  EXPECT_TRUE(program.Shot(Shot("empty")));
  Exit(reader);
  EXPECT_EQ(MainWindow(), nullptr);
  // The instance mutex went with it: the program starts again.
  HANDLE again = Start(u"");
  ASSERT_TRUE(WaitForMainWindow(again));
  Exit(again);
}

TEST_P(ProgramTest, AnUpdateTaskWithoutAChannelListEndsAtOnceAndOnlyAPersonsStartIsWelcomed) {
  // Monitor's start on a fresh device: nothing to refresh, no one to greet.
  HANDLE task = Start(u"/update");
  ASSERT_TRUE(qk::PumpMessagesUntil([&] { return !Running(task); }, 30000)) << "the update task did not end";
  EXPECT_EQ(qtest::WaitForExitCode(task, 30000), 0u);
  EXPECT_TRUE(ChannelList().empty());
  EXPECT_EQ(MainWindow(), nullptr);
  // A person's start on the same device still opens the welcome page.
  HANDLE reader = Start(u"");
  ASSERT_TRUE(WaitForMainWindow(reader));
  {
    qtest::RemoteProgram welcome(reader);
    ASSERT_TRUE(Attach(welcome));
    ASSERT_TRUE(welcome.WaitFor([&] { return welcome.ActiveWindow() && welcome.ActiveWindow() != welcome.Window(); },
                                30000));
    ASSERT_TRUE(welcome.Key(VK_ESCAPE));
  }
  ASSERT_TRUE(qk::PumpMessagesUntil([&] { return !ChannelList().empty(); }, 30000));
  Exit(reader);
  // With synchronisation on, an update task on a device without a list
  // refreshes: the account's channel comes into the list, and it ends.
  ASSERT_TRUE(::DeleteFileW(u"\\Program Files\\Quillet\\ChannelData\\Channels.opml"));
  ASSERT_TRUE(ChannelList().empty());
  std::string synced = StartSyncService(2);
  QNET_REQUIRE_PEER(!synced.empty(), "the scripted sync service");
  HANDLE syncTask = Start(u"/update");
  EXPECT_EQ(qtest::WaitForExitCode(syncTask, 120000), 0u);
  EXPECT_NE(ChannelList().find("Synced One"), std::string::npos) << ChannelList();
}

// Monitor's update task on a device whose sync account refuses the login
// and has no synchronised channel yet: the failure is said where no one has
// to answer it, and the task still ends by itself, asking nothing more of
// the service.
TEST_P(ProgramTest, AnUpdateTaskWhoseSyncLoginIsRefusedEndsByItself) {
  std::string synced = StartSyncService(1, true);
  QNET_REQUIRE_PEER(!synced.empty(), "the scripted sync service");
  const std::string errors = Host(u"\\") + "/update-stderr.txt";
  HANDLE task = Start(u"/update", errors);
  ASSERT_TRUE(qk::PumpMessagesUntil([&] { return !Running(task); }, 60000)) << "the update task did not end";
  EXPECT_EQ(qtest::WaitForExitCode(task, 30000), 0u);
  EXPECT_NE(qtest::ReadHostFile(errors).find("Error occured while downloading - Google Reader login failed"),
            std::string::npos)
      << qtest::ReadHostFile(errors);
  for (const std::string& r : sync_.Requests()) EXPECT_EQ(r.find("GET /reader/api/0/subscription/list"), std::string::npos);
}

TEST_P(ProgramTest, RefreshFromTheCommandShowsProgressAndStoresTheCountsOfThirtyChannels) {
  QNET_REQUIRE_PEER(started_, "nginx");
  // Beside the thirty feeds, one channel synchronised through the service.
  std::string synced = StartSyncService(3);
  QNET_REQUIRE_PEER(!synced.empty(), "the scripted sync service");
  ServeFeeds(30, 12, "", "", synced);
  // On a frozen clock the list is loaded when the test moves the clock on
  // past the start-up timers, and its picture is asked of the program.
  HANDLE reader = StartFrozen(u"");
  qtest::RemoteProgram program(reader);
  ASSERT_TRUE(Attach(program));
  // The start-up timer, then the reload it sets.
  ASSERT_TRUE(program.Advance(200));
  ASSERT_TRUE(program.Advance(200));
  ASSERT_TRUE(program.Shot(Shot("30-channels")));
  // Headless and before any download, the reader has mapped neither the
  // display's library nor the download library, and before any page is
  // shown not the HTML viewer nor its layout library.
  std::string mapped = MappedLibraries(reader);
  ASSERT_NE(mapped.find("libc.so"), std::string::npos) << mapped;
  EXPECT_EQ(mapped.find("libSDL2"), std::string::npos) << mapped;
  EXPECT_EQ(mapped.find("libcurl"), std::string::npos) << mapped;
  EXPECT_EQ(mapped.find("libqk_htmlview"), std::string::npos) << mapped;
  EXPECT_EQ(mapped.find("liblitehtml"), std::string::npos) << mapped;
  Post(WM_COMMAND, ID_REFRESH_CHANNELS);
  ASSERT_TRUE(AdvanceUntil(program, [&] { return Count("finished") >= 1; }));
  EXPECT_EQ(Count("start"), 1);
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
  EXPECT_TRUE(program.Shot(Shot("after-refresh")));
  // The downloads loaded their library; the window's is still not needed.
  mapped = MappedLibraries(reader);
  EXPECT_NE(mapped.find("libcurl"), std::string::npos) << mapped;
  EXPECT_EQ(mapped.find("libSDL2"), std::string::npos) << mapped;
  Exit(reader);
}

TEST_P(ProgramTest, ARefreshOrAnUpdateStartBeforeTheChannelListIsReadWaitsForItAndRunsOnce) {
  QNET_REQUIRE_PEER(started_, "nginx");
  ServeFeeds(8, 5);
  // The clock stands still: the start-up load has not run when the Refresh
  // command and a second start with "/update" (Monitor's way) arrive.
  HANDLE reader = StartFrozen(u"");
  qtest::RemoteProgram program(reader);
  ASSERT_TRUE(Attach(program));
  Post(WM_COMMAND, ID_REFRESH_CHANNELS);
  HANDLE update = Start(u"/update");
  EXPECT_EQ(qtest::WaitForExitCode(update, 30000), 0u);
  ASSERT_TRUE(program.Settle());
  // Both wait for the list: one refresh runs over every channel once it is
  // read.
  ASSERT_TRUE(AdvanceUntil(program, [&] { return Count("finished") >= 1; }));
  EXPECT_EQ(CountedChannels(), 8);
  EXPECT_EQ(Count("start"), 1);
  // A Cancel stops the next refresh and starts none beside it. The clock
  // stands still, so the refresh is still under way (its end is seen only
  // by a timer) when the Cancel comes.
  Post(WM_COMMAND, ID_REFRESH_CHANNELS);
  ASSERT_TRUE(program.WaitFor([&] {
    qk::PumpMessages();
    return Count("start") >= 2;
  }));
  Post(WM_COMMAND, ID_REFRESH_CHANNELS);
  ASSERT_TRUE(AdvanceUntil(program, [&] { return Count("finished") >= 2; }));
  ASSERT_TRUE(program.Advance(1200));
  ASSERT_TRUE(program.Settle());
  qk::PumpMessages();
  EXPECT_EQ(Count("start"), 2);
  EXPECT_EQ(Count("finished"), 2);
  EXPECT_TRUE(Running(reader));
  Exit(reader);
}

TEST_P(ProgramTest, CancelMidRunStopsTheRefreshEarly) {
  QNET_REQUIRE_PEER(started_, "nginx");
  // Feeds of about 40 KB from the slow path: a second and more each.
  ServeFeeds(12, 40, "slow/", std::string(900, 'x'));
  fs::create_directories(docroot_ + "/slow");
  for (int i = 0; i < 12; ++i)
    fs::copy_file(docroot_ + "/feed" + std::to_string(i) + ".xml",
                  docroot_ + "/slow/feed" + std::to_string(i) + ".xml");
  HANDLE reader = Start(u"");
  qtest::RemoteProgram program(reader);
  ASSERT_TRUE(Attach(program));
  Post(WM_COMMAND, ID_REFRESH_CHANNELS);
  ASSERT_TRUE(WaitFor("start"));
  ASSERT_TRUE(WaitFor("progress", 2));
  // The picture of the running refresh (progress band, Cancel key).
  EXPECT_TRUE(program.Shot(Shot("during-refresh")));
  const int countedAtCancel = CountedChannels();
  Post(WM_COMMAND, ID_REFRESH_CHANNELS);
  ASSERT_TRUE(WaitFor("finished", 1));
  // Only a channel that was being stored as the Cancel came may have been
  // added; the slow download under way was cut short.
  EXPECT_LE(CountedChannels(), countedAtCancel + 1);
  EXPECT_LT(CountedChannels(), 12);
  EXPECT_TRUE(Running(reader));
  // A refresh after the cancelled one runs whole.
  seen_.clear();
  Post(WM_COMMAND, ID_REFRESH_CHANNELS);
  ASSERT_TRUE(WaitFor("finished", 1, 300000));
  EXPECT_EQ(CountedChannels(), 12);
  Exit(reader);
}

TEST_P(ProgramTest, AnUpdateTaskRefreshesAndEndsByItself) {
  QNET_REQUIRE_PEER(started_, "nginx");
  ServeFeeds(6, 8);
  HANDLE task = Start(u"/UPDATE now");
  EXPECT_EQ(qtest::WaitForExitCode(task, 120000), 0u);
  EXPECT_EQ(CountedChannels(), 6);
  EXPECT_EQ(MainWindow(), nullptr);
  // "/update" as a second word is a plain start: it stays, also after a
  // refresh has finished.
  HANDLE plain = Start(u"now /update");
  qtest::RemoteProgram program(plain);
  ASSERT_TRUE(Attach(program));
  seen_.clear();
  Post(WM_COMMAND, ID_REFRESH_CHANNELS);
  ASSERT_TRUE(WaitFor("finished"));
  ASSERT_TRUE(program.Settle());
  EXPECT_TRUE(Running(plain));
  Exit(plain);
}

TEST_P(ProgramTest, AnUpdateTaskEndsOnlyWhenItsLastFullTextJobHasRun) {
  QNET_REQUIRE_PEER(started_, "nginx");
  ASSERT_TRUE(gateStarted_);
  ServeStories(1, 1, "u");
  HANDLE task = StartFrozen(u"/update");
  qtest::RemoteProgram program(task);
  ASSERT_TRUE(Attach(program));
  // The refresh runs, and its job waits for the rest of the story.
  ASSERT_TRUE(AdvanceUntil(program, [&] { return Asked("/gated/u0") >= 1; }));
  // However long the job takes, the task does not end under it: the
  // end-of-refresh poll comes round and finds the refresh not over.
  for (int i = 0; i < 4; ++i) ASSERT_TRUE(program.Advance(600)) << i;
  ASSERT_TRUE(program.Settle());
  qk::PumpMessages();
  EXPECT_EQ(Count("finished"), 0);
  EXPECT_TRUE(Running(task));
  // The task runs minimised: through its whole refresh it drew nothing on
  // its windows.
  long long drawn = -1;
  ASSERT_TRUE(program.Drawings(&drawn));
  EXPECT_EQ(drawn, 0);
  ASSERT_TRUE(gate_.Open("u0"));
  // Then the task ends by itself (its download manager asks for the Exit
  // once the job has run), with the story stored whole.
  EXPECT_EQ(qtest::WaitForExitCode(task, 120000), 0u);
  std::vector<Story> stories = Stories();
  ASSERT_EQ(stories.size(), 1u);
  EXPECT_EQ(stories[0].type & ITEM_TYPE_PAGE, DWORD(ITEM_TYPE_PAGE));
  EXPECT_EQ(stories[0].text, WholeStory(stories[0]));
  EXPECT_EQ(stories[0].readFlag, DWORD(ITEM_READ_UNREAD_FETCHED));
}

TEST_P(ProgramTest, ExitAtAnyMomentOfARefreshEndsTheProgramAtOnceAndLeavesNoHalfArticle) {
  QNET_REQUIRE_PEER(started_, "nginx");
  ASSERT_TRUE(gateStarted_);
  // The moment of the Exit: after the k-th broadcast of the refresh, at the
  // end of the feeds, while a fetch program waits for the rest of a story,
  // and while a feed's address answers nothing.
  enum { kHeadlines = -1, kStoryWaits = -2, kSilentFeed = -3 };
  for (int moment : {1, 3, 6, 10, 16, int(kHeadlines), int(kStoryWaits), int(kSilentFeed)}) {
    SCOPED_TRACE("Exit at moment " + std::to_string(moment));
    std::error_code ec;
    fs::remove_all(Host(u"\\Program Files\\Quillet\\ChannelData"), ec);
    ServeStories(3, 2, "x", moment == kSilentFeed);
    seen_.clear();
    const int storyAsks = Asked("/gated/x0"), silentAsks = Asked("/mute");
    HANDLE reader = Start(u"");
    ASSERT_TRUE(WaitForMainWindow(reader));
    Post(WM_COMMAND, ID_REFRESH_CHANNELS);
    ASSERT_TRUE(qk::PumpMessagesUntil(
        [&] {
          if (!Running(reader)) return true;
          if (moment == kSilentFeed) return Asked("/mute") > silentAsks;
          if (Asked("/gated/x0") > storyAsks) return true;
          if (moment == kHeadlines) return Count("headlines") >= 1;
          return moment > 0 && int(seen_.size()) >= moment;
        },
        120000));
    ASSERT_TRUE(Running(reader));
    Post(WM_COMMAND, ID_APP_EXIT_COMMAND);
    // The transfers are stopped, not waited for, and the program ends
    // cleanly (a sanitizer's report would end it with another code).
    EXPECT_EQ(qtest::WaitForExitCode(reader, 20000), 0u);
    ExpectEveryStoryWholeOrAbsent();
  }
}

TEST_P(ProgramTest, CancelAtManyMomentsRunsOneRefreshAtATimeAndLeavesEveryArticleWholeOrAbsent) {
  QNET_REQUIRE_PEER(started_, "nginx");
  ASSERT_TRUE(gateStarted_);
  ServeStories(3, 2, "c");
  HANDLE reader = Start(u"");
  ASSERT_TRUE(WaitForMainWindow(reader));
  enum { kHeadlines = -1, kStoryWaits = -2 };
  int runs = 0;
  for (int moment : {1, 4, 9, int(kStoryWaits), int(kHeadlines), 2, int(kStoryWaits)}) {
    SCOPED_TRACE("Cancel at moment " + std::to_string(moment));
    const size_t before = seen_.size();
    const int headlines = Count("headlines"), finished = Count("finished"), storyAsks = Asked("/gated/c0");
    Post(WM_COMMAND, ID_REFRESH_CHANNELS);
    ++runs;
    ASSERT_TRUE(qk::PumpMessagesUntil(
        [&] {
          if (Asked("/gated/c0") > storyAsks) return true;
          if (moment == kHeadlines) return Count("headlines") > headlines;
          return moment > 0 && seen_.size() >= before + size_t(moment) && Count("start") >= runs;
        },
        120000));
    ASSERT_TRUE(Running(reader));
    Post(WM_COMMAND, ID_REFRESH_CHANNELS);
    ASSERT_TRUE(WaitFor("finished", finished + 1));
    ExpectEveryStoryWholeOrAbsent();
  }
  // With the rest of the stories there, the next refresh completes every
  // story that a cancelled one left.
  ASSERT_TRUE(gate_.Open("c0"));
  ASSERT_TRUE(gate_.Open("c1"));
  Post(WM_COMMAND, ID_REFRESH_CHANNELS);
  ++runs;
  ASSERT_TRUE(WaitFor("finished", runs));
  std::vector<Story> stories = Stories();
  ASSERT_EQ(stories.size(), 2u);
  for (const Story& s : stories) {
    EXPECT_EQ(s.type & ITEM_TYPE_PAGE, DWORD(ITEM_TYPE_PAGE)) << s.link;
    EXPECT_EQ(s.text, WholeStory(s)) << s.link;
    std::u16string picture = u"\\Program Files\\Quillet\\ChannelData\\" +
                             qk::FromUtf8(s.page.substr(0, s.page.rfind('.')) + "-01.png");
    EXPECT_EQ(ReadDeviceFile(picture.c_str()), rtest::Png(90, 90, unsigned(60 + s.number))) << s.link;
  }
  // One refresh at a time: each Refresh started one run, each run ended.
  EXPECT_EQ(Count("start"), runs);
  EXPECT_EQ(Count("finished"), runs);
  Exit(reader);
}

TEST_P(ProgramTest, AFullTextJobKilledWithTheProgramIsCompletedByTheNextRefresh) {
  QNET_REQUIRE_PEER(started_, "nginx");
  ASSERT_TRUE(gateStarted_);
  ServeStories(1, 1, "k");
  HANDLE first = Start(u"");
  ASSERT_TRUE(WaitForMainWindow(first));
  Post(WM_COMMAND, ID_REFRESH_CHANNELS);
  // The job's program has written the story as far as it came and waits
  // for the rest: the program is killed.
  ASSERT_TRUE(qk::PumpMessagesUntil([&] { return Asked("/gated/k0") >= 1; }, 120000));
  TerminateProcess(first, 9);
  qtest::WaitForExitCode(first, 30000);
  // The fetch program it left goes on by itself and writes the story
  // without its pictures.
  ASSERT_TRUE(gate_.Open("k0"));
  ASSERT_TRUE(qk::PumpMessagesUntil(
      [&] {
        std::vector<Story> s = Stories();
        return s.size() == 1 && s[0].text.find("Continued.") != std::string::npos;
      },
      120000));
  std::vector<Story> left = Stories();
  EXPECT_EQ(left[0].type & ITEM_TYPE_PAGE, 0u);
  // The next refresh takes the store's word, not the page file's: the job
  // runs again and the story is recorded with its picture.
  HANDLE second = Start(u"");
  ASSERT_TRUE(WaitForMainWindow(second));
  seen_.clear();
  Post(WM_COMMAND, ID_REFRESH_CHANNELS);
  ASSERT_TRUE(WaitFor("finished"));
  std::vector<Story> stories = Stories();
  ASSERT_EQ(stories.size(), 1u);
  EXPECT_EQ(stories[0].type & ITEM_TYPE_PAGE, DWORD(ITEM_TYPE_PAGE));
  EXPECT_EQ(stories[0].text, WholeStory(stories[0]));
  EXPECT_EQ(stories[0].readFlag, DWORD(ITEM_READ_UNREAD_FETCHED));
  EXPECT_EQ(Count("fulltext"), 1) << SeenText();
  Exit(second);
}

TEST_P(ProgramTest, AnUpdateTaskKilledMidRefreshLeavesItsStoresReadableAndItsChannelListWhole) {
  QNET_REQUIRE_PEER(started_, "nginx");
  ASSERT_TRUE(gateStarted_);
  // Eight channels of twelve items, then one whose feed is held back at the
  // gate: the task is killed while it waits for that one.
  const std::string held = "<outline text=\"Held\" type=\"rss\" uniqueID=\"893\"><outline text=\"Held back\" "
                           "type=\"rss\" uniqueID=\"170\" xmlUrl=\"" + gate_.Url("/gated/kill") + "\"/></outline>";
  ServeFeeds(8, 12, "", "", held);
  const std::string written = ChannelList();
  HANDLE task = Start(u"/update");
  ASSERT_TRUE(qk::PumpMessagesUntil([&] { return Asked("/gated/kill") >= 1 || !Running(task); }, 120000));
  ASSERT_TRUE(Running(task));
  TerminateProcess(task, 9);
  qtest::WaitForExitCode(task, 30000);

  // The channel list holds every channel and category it held, whatever
  // counts and update times the task had saved by then.
  auto outlines = [](std::string list) {
    std::vector<std::string> kept;
    for (size_t at = list.find("<outline"); at != std::string::npos; at = list.find("<outline", at + 1)) {
      std::string o = list.substr(at, list.find('>', at) - at);
      for (const char* a : {" itemCount=\"", " newItemCount=\"", " lastUpdateTime=\""}) {
        size_t from = o.find(a);
        if (from != std::string::npos) o.erase(from, o.find('"', from + strlen(a)) + 1 - from);
      }
      while (!o.empty() && (o.back() == '/' || o.back() == ' ')) o.pop_back();
      kept.push_back(o);
    }
    return kept;
  };
  EXPECT_EQ(outlines(ChannelList()), outlines(written));
  // Every channel stored before the kill is readable whole.
  for (int n = 100; n < 108; ++n) {
    CItemStore store(0);
    store.Open((u"\\Program Files\\Quillet\\ChannelData\\Ch" + qk::FromUtf8(std::to_string(n)) + u".bin").c_str(),
               0, 1);
    int items = 0, read = 0;
    store.CountItems(items, read);
    EXPECT_EQ(items, 12) << n;
  }

  // The next update task stores what was missing and ends by itself.
  ASSERT_TRUE(gate_.Open("kill"));
  HANDLE next = Start(u"/update");
  EXPECT_EQ(qtest::WaitForExitCode(next, 120000), 0u);
  EXPECT_EQ(CountedChannels(), 8);
  std::string list = ChannelList();
  for (int n = 100; n < 108; ++n) {
    size_t at = list.find("uniqueID=\"" + std::to_string(n) + "\"");
    ASSERT_NE(at, std::string::npos) << n;
    std::string outline = list.substr(at, list.find("/>", at) - at);
    EXPECT_NE(outline.find(" itemCount=\"12\""), std::string::npos) << outline;
    EXPECT_NE(outline.find(" lastUpdateTime=\""), std::string::npos) << outline;
  }
  EXPECT_EQ(outlines(ChannelList()), outlines(written));
}

TEST_P(ProgramTest, ASecondPlainStartWakesTheFirstAndASecondUpdateStartMakesItRefresh) {
  QNET_REQUIRE_PEER(started_, "nginx");
  ServeFeeds(5, 6);
  // The first instance keeps its run log from its first refresh on.
  ASSERT_TRUE(qtest::SetSettingDword(u"VentrelLog", 1));
  const char16_t* log = u"\\Program Files\\Quillet\\Quillet_RunLog.txt";
  HANDLE first = Start(u"");
  qtest::RemoteProgram program(first);
  ASSERT_TRUE(Attach(program));
  seen_.clear();

  // However early it comes, the update start's refresh runs over the list.
  HANDLE update = Start(u"/update");
  EXPECT_EQ(qtest::WaitForExitCode(update, 30000), 0u);
  ASSERT_TRUE(WaitFor("finished", 1));
  EXPECT_EQ(Count("start"), 1);
  // The update start neither woke the first one as a user's start would.
  EXPECT_EQ(Count("activate"), 0);
  EXPECT_EQ(CountedChannels(), 5);
  EXPECT_TRUE(Running(first));
  EXPECT_NE(ReadDeviceFile(log).find("Download thread"), std::string::npos);
  EXPECT_EQ(ReadDeviceFile(log).find("UPDATE TASK DOES NOT EXIT."), std::string::npos);

  seen_.clear();
  HANDLE second = Start(u"");
  EXPECT_EQ(qtest::WaitForExitCode(second, 30000), 0u);
  ASSERT_TRUE(WaitFor("activate", 1, 30000));
  // The first instance's frame took the wake-up and brought itself to the
  // front (its own log says so); it refreshes nothing and stays.
  EXPECT_TRUE(qk::PumpMessagesUntil(
      [&] { return ReadDeviceFile(log).find("UPDATE TASK DOES NOT EXIT.") != std::string::npos; }, 30000));
  ASSERT_TRUE(program.Settle());
  qk::PumpMessages();
  EXPECT_EQ(Count("start"), 0);
  EXPECT_TRUE(Running(first));
  Exit(first);
}

// SIGTERM while the new-channel wizard fetches a channel's title from a
// server that answers nothing (two dialog boxes open, a transfer waiting),
// and SIGINT while a refresh waits for such a server: each time the
// program leaves its modal loops, runs its Exit steps and ends at once.
TEST_P(ProgramTest, SignalsEndTheProgramThroughItsExitFromADialogAndDuringARefresh) {
  ASSERT_TRUE(gateStarted_);
  const std::string silent = gate_.Url("/mute");
  const int asked = Asked("/mute");
  HANDLE reader = StartFrozen(u"");
  const DWORD pid = lastPid_;
  qtest::RemoteProgram program(reader);
  ASSERT_TRUE(Attach(program));
  ASSERT_TRUE(program.Advance(200));  // no channel list: the welcome page, then the wizard
  ASSERT_TRUE(AdvanceUntil(program, [&] { return program.ActiveWindow() != program.Window(); }));
  const HWND welcome = program.ActiveWindow();
  ASSERT_TRUE(program.Key(VK_ESCAPE));
  ASSERT_TRUE(AdvanceUntil(program, [&] {
    return program.ActiveWindow() != welcome && program.ActiveWindow() != program.Window();
  }));
  const HWND wizard = program.ActiveWindow();
  const std::u16string typed = qk::FromUtf8(silent.substr(std::string("http://").size()));
  if (*profile_.name) {
    // "Add specific RSS URL", the address typed into the URL row's edit,
    // then "Download Channel Title".
    for (BYTE key : {VK_DOWN, VK_DOWN, VK_RETURN}) ASSERT_TRUE(program.Key(key));
    ASSERT_TRUE(AdvanceUntil(program, [&] { return WindowText(program.FocusWindow()) == "http://"; }));
    ASSERT_TRUE(program.Type(typed));
    for (BYTE key : {VK_DOWN, VK_DOWN, VK_RETURN}) ASSERT_TRUE(program.Key(key));
  } else {
    ASSERT_TRUE(program.Tap(240, 360));
    ASSERT_TRUE(program.Advance(10));
    ASSERT_TRUE(program.Tap(240, 196));  // the URL row opens the one-field editor
    ASSERT_TRUE(AdvanceUntil(program, [&] { return WindowText(program.FocusWindow()) == "http://"; }));
    ASSERT_TRUE(program.Type(typed));
    ASSERT_TRUE(program.SoftKey(2));  // "Save"
    ASSERT_TRUE(AdvanceUntil(program, [&] { return program.ActiveWindow() == wizard; }));
    ASSERT_TRUE(program.Tap(240, 360));
  }
  ASSERT_TRUE(AdvanceUntil(program, [&] { return Asked("/mute") > asked; }));
  EXPECT_NE(program.ActiveWindow(), wizard);  // the download box
  ExpectEndBySignal(reader, pid, SIGTERM);

  const std::string list =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<opml version=\"1.0\"><head><title>t</title></head>"
      "<body nextID=\"900\"><outline text=\"News\" type=\"rss\" uniqueID=\"800\"><outline text=\"Silent\" "
      "type=\"rss\" uniqueID=\"100\" xmlUrl=\"" + silent + "\"/></outline></body></opml>\n";
  WriteDeviceFile(u"\\Program Files\\Quillet\\ChannelData\\Channels.opml", list);
  const int askedAgain = Asked("/mute");
  reader = Start(u"");
  ASSERT_TRUE(WaitForMainWindow(reader));
  Post(WM_COMMAND, ID_REFRESH_CHANNELS);
  ASSERT_TRUE(qk::PumpMessagesUntil([&] { return Asked("/mute") > askedAgain || !Running(reader); }, 60000));
  ASSERT_TRUE(Running(reader));
  ExpectEndBySignal(reader, lastPid_, SIGINT);
}

INSTANTIATE_TEST_SUITE_P(Profiles, ProgramTest,
                         ::testing::Values(Profile{"", "480x800"}, Profile{"keydevice", "240x320"}),
                         [](const auto& info) { return std::string(*info.param.name ? "KeyDevice" : "Touch"); });

}  // namespace
