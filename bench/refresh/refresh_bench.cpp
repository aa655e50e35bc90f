// Refreshes 100 channels of 50 items each (about 9 MB of RSS 2.0) served by
// nginx on loopback into an empty channel folder, images and full text off,
// and reloads the same feeds with newsboat ("newsboat -x reload") in the
// same run. Each side runs in a child process of its own, so the peak
// memory reported is that process's alone; the wall time of the reader is
// measured from the Refresh command to the end of the feeds and to the end
// of the refresh (which the channel-list window's 500 ms timer reports).
//
//   refresh_bench [rounds]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "common/settings.h"
#include "kernel/kernel.h"
#include "kernel/process.h"
#include "net/connmgr.h"
#include "quillet/refresh/refresh_state.h"
#include "quillet/screens/main_frame.h"
#include "quillet/screens/reader_app.h"
#include "bench/bench_feeds.h"
#include "support/http_server.h"
#include "support/settings_registry.h"
#include "user/user.h"

namespace fs = std::filesystem;

namespace {

constexpr int kChannels = 100;
constexpr int kItems = 50;

using qbench::Seconds;


// The reader's side, in its own process: prints "<feeds seconds> <end seconds>".
int RunReader(const std::string& root, int port) {
  qk::SetDeviceRoot(root);
  setenv("QUILLET_DEVICE_ROOT", root.c_str(), 1);
  qk::SetProgramName(u"Quillet.exe");
  qk::connmgr::ScriptStatus(CONNMGR_STATUS_CONNECTED);
  qtest::SetSettingDword(u"DownloadImage", 0);
  qtest::SetSettingDword(u"DownloadFulltext", 0);
  std::string base = "http://127.0.0.1:" + std::to_string(port);
  std::string opml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<opml version=\"1.0\"><head><title>c</title></head>"
                     "<body nextID=\"101\"><outline text=\"News\">";
  for (int n = 1; n <= kChannels; ++n)
    opml += "<outline type=\"rss\" text=\"Channel " + std::to_string(1000 + n) + "\" uniqueID=\"" + std::to_string(n) +
            "\" xmlUrl=\"" + base + "/feeds/c" + std::to_string(n) + ".xml\"/>";
  opml += "</outline></body></opml>\n";
  fs::create_directories(root + "/Program Files/Quillet/ChannelData");
  FILE* f = std::fopen((root + "/Program Files/Quillet/Channels.opml").c_str(), "wb");
  std::fwrite(opml.data(), 1, opml.size(), f);
  std::fclose(f);

  CReaderApp app;
  CMainFrame frame;
  if (!frame.Create(480, 800)) return 2;
  CChannelListDlg& dialog = frame.ChannelListWnd().Dialog();
  if (!dialog.LoadChannelList(u"\\Program Files\\Quillet\\Channels.opml")) return 3;

  static bool headlines = false, finished = false;
  static UINT headlinesMessage = RegisterWindowMessageW(MSG_DOWNLOAD_HEADLINES_FINISHED);
  static UINT finishedMessage = RegisterWindowMessageW(MSG_DOWNLOAD_FINISHED);
  WNDCLASSW wc{};
  wc.lpszClassName = u"RefreshBenchListener";
  wc.lpfnWndProc = [](HWND h, UINT m, WPARAM w, LPARAM l) -> LRESULT {
    if (m == headlinesMessage) headlines = true;
    if (m == finishedMessage) finished = true;
    return DefWindowProcW(h, m, w, l);
  };
  RegisterClassW(&wc);
  HWND listener = CreateWindowExW(0, wc.lpszClassName, u"", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);

  auto start = std::chrono::steady_clock::now();
  SendMessageW(frame.GetSafeHwnd(), WM_COMMAND, ID_REFRESH_CHANNELS, 0);
  double feeds = -1;
  qk::PumpMessagesUntil([&] {
    if (headlines && feeds < 0) feeds = Seconds(start);
    return finished;
  }, 120000);
  double end = Seconds(start);
  DestroyWindow(listener);
  // Every channel must have been stored whole.
  for (int n = 1; n <= kChannels; ++n) {
    char name[64];
    snprintf(name, sizeof name, "/Program Files/Quillet/ChannelData/Ch%03d.xml", n);
    if (!fs::exists(root + name)) {
      std::fprintf(stderr, "channel %d was not stored\n", n);
      return 4;
    }
  }
  std::printf("%.3f %.3f\n", feeds, end);
  return finished ? 0 : 5;
}

struct ChildResult {
  int status = -1;
  double wall = 0;
  long peakKb = 0;
  double cpu = 0;  // user and system time of the process
  std::string out;
};

ChildResult RunChild(const std::vector<std::string>& argv, const std::string& home) {
  ChildResult r;
  int pipeFds[2];
  if (pipe(pipeFds) != 0) return r;
  auto start = std::chrono::steady_clock::now();
  pid_t pid = fork();
  if (pid == 0) {
    dup2(pipeFds[1], 1);
    close(pipeFds[0]);
    if (!home.empty()) setenv("HOME", home.c_str(), 1);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  close(pipeFds[1]);
  char buf[512];
  ssize_t n;
  while ((n = read(pipeFds[0], buf, sizeof buf)) > 0) r.out.append(buf, size_t(n));
  close(pipeFds[0]);
  int status = 0;
  struct rusage usage{};
  wait4(pid, &status, 0, &usage);
  r.wall = Seconds(start);
  r.peakKb = usage.ru_maxrss;
  r.cpu = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
          double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--reader") == 0) return RunReader(argv[2], std::atoi(argv[3]));
  int rounds = argc > 1 ? std::atoi(argv[1]) : 3;

  std::string docroot = qnet::MakeTempFolder("refresh-bench-docroot");
  qtest::NginxServer nginx;
  if (!nginx.Start(docroot)) {
    std::fprintf(stderr, "nginx did not start\n");
    return 1;
  }
  std::string base = "http://127.0.0.1:" + std::to_string(nginx.port());
  size_t bytes = 0;
  std::string urls = qbench::WriteBenchmarkFeeds(docroot, base, kChannels, kItems, bytes);
  FILE* f = std::fopen((docroot + "/favicon.ico").c_str(), "wb");
  std::fputs("icon", f);
  std::fclose(f);
  std::printf("%d channels x %d items, %.1f MB of RSS 2.0 from nginx on loopback\n", kChannels, kItems,
              double(bytes) / (1024.0 * 1024.0));

  std::string self = fs::canonical("/proc/self/exe").string();
  bool haveNewsboat = fs::exists("/usr/bin/newsboat");
  for (int round = 1; round <= rounds; ++round) {
    // Other work on the machine slows both sides: its load goes with the figures.
    double load[1] = {-1};
    getloadavg(load, 1);
    std::printf("round %d  load average %.2f\n", round, load[0]);
    std::string root = qnet::MakeTempFolder("refresh-bench-device");
    std::vector<std::string> command;
    // A profiler or other wrapper for the reader's process, words split at blanks.
    if (const char* wrap = std::getenv("REFRESH_BENCH_WRAP")) {
      std::string words(wrap);
      for (size_t at = 0; at < words.size();) {
        size_t end = words.find(' ', at);
        if (end == std::string::npos) end = words.size();
        if (end > at) command.push_back(words.substr(at, end - at));
        at = end + 1;
      }
    }
    for (const std::string& a : {self, std::string("--reader"), root, std::to_string(nginx.port())}) command.push_back(a);
    ChildResult reader = RunChild(command, "");
    double feeds = -1, end = -1;
    std::sscanf(reader.out.c_str(), "%lf %lf", &feeds, &end);
    // The processor time counts what the machine's other load does not.
    std::printf("round %d  quillet:  feeds stored %.3f s, refresh ended %.3f s, process %.3f s (cpu %.3f s), peak %.1f MB%s\n",
                round, feeds, end, reader.wall, reader.cpu, reader.peakKb / 1024.0, reader.status == 0 ? "" : "  (FAILED)");
    qnet::RemoveTree(root);
    if (!haveNewsboat) continue;
    std::string home = qnet::MakeTempFolder("refresh-bench-newsboat");
    FILE* u = std::fopen((home + "/urls").c_str(), "wb");
    std::fwrite(urls.data(), 1, urls.size(), u);
    std::fclose(u);
    FILE* c = std::fopen((home + "/config").c_str(), "wb");
    std::fclose(c);
    ChildResult news = RunChild({"newsboat", "-x", "reload", "-u", home + "/urls", "-c", home + "/cache.db", "-C",
                                 home + "/config"},
                                home);
    std::printf("round %d  newsboat: reload %.3f s (cpu %.3f s), peak %.1f MB%s\n", round, news.wall, news.cpu,
                news.peakKb / 1024.0, news.status == 0 ? "" : "  (FAILED)");
    if (feeds > 0) std::printf("round %d  ratio quillet/newsboat: time %.2f (feeds) %.2f (refresh end), memory %.2f\n",
                               round, feeds / news.wall, end / news.wall, double(reader.peakKb) / double(news.peakKb));
    qnet::RemoveTree(home);
  }
  nginx.Stop();
  qnet::RemoveTree(docroot);
  return 0;
}
