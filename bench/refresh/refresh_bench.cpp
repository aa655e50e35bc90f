// A whole refresh as a user runs it: "quillet /update" over 100, 500 and
// 1,000 channels of 50 items each (about 9 MB of RSS 2.0 a hundred
// channels, served by nginx on loopback, images and full text off, an empty
// device root), against newsboat reloading the same feeds from the same
// server in the same run, and against the floor: a program that does
// nothing but fetch each feed's bytes through the reader's own downloader
// on the same platform layer, one after the other, and write them out as a
// store of two bytes a character (the reader's stores hold UTF-16),
// started as a program too. A second floor does the same over plain
// sockets and the host's files, for what the platform layer costs.
//
// newsboat is started as a person starts it: "newsboat -x reload" with a
// fresh home folder that holds nothing but its list of addresses
// ("~/.newsboat/urls"), so it makes its own configuration defaults and its
// cache ("~/.newsboat/cache.db") in that home. The XDG variables are taken
// out of its environment, so nothing of the machine's own user is read.
// Both sides write to the same file system, a memory file system
// (/dev/shm) when the machine has one (REFRESH_BENCH_DIR names another
// folder): what a disk costs depends on its state more than on the
// program. On an ext4 without a journal, for instance, every new file
// skips the inodes deleted in the last minutes; newsboat creates and
// deletes a journal file of its cache for each item it stores (5,120 per
// reload), so after a round of deletions (a previous run's files, other
// programs') the same reload took from 2 to over 10 s there.
//
// The reader and its peer run in pairs, the side that goes first
// alternating from round to round, so that one slow round of either side
// (the machine is shared) does not decide a figure: each figure is given
// as the minimum, median and maximum over the rounds, and so is the ratio
// of each pair. Each round reports both sides' wall time, processor time
// (user and system) and peak memory (the process's maximum resident set),
// with the machine's load average; the end gives the medians beside their
// targets.
//
//   refresh_bench [rounds] [channel counts...]   (5; 100 500 1000 by default)
//
// The targets are those of 100 channels (at most 0.3 of newsboat's wall
// time and 2.5 times the floor's) and of 1,000 (every channel stored, in at
// most 8 times the wall time of 100, under 48 MiB of peak memory, and the
// processor time per channel no more than a fifth above that of 100).
//
// REFRESH_BENCH_WRAP puts a profiler or another wrapper before the reader's
// command (words split at blanks), e.g. "valgrind --tool=callgrind";
// REFRESH_BENCH_QUILLET names another build of the reader to measure (an
// older one, for a before-and-after on the same machine); with
// REFRESH_BENCH_KEEP set, the device roots are kept for a look afterwards;
// REFRESH_BENCH_NO_PEER leaves newsboat out.
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "bench/bench_process.h"
#include "bench/bench_feeds.h"
#include "common/url_download.h"
#include "kernel/kernel.h"
#include "support/http_server.h"
#include "support/settings_registry.h"

namespace fs = std::filesystem;

namespace {

constexpr int kItems = 50;

// The targets of 100 channels: at most 0.3 of newsboat's wall time, at
// most 2.5 times the floor's, on at most 0.6 s of processor time, in no
// more memory than newsboat. Of 1,000: at most 8 times the wall time of
// 100, under 48 MiB, and the processor time per channel at most a fifth
// above that of 100.
constexpr double kRatioTarget = 0.30;
constexpr double kFloorTarget = 2.5;
constexpr double kCpuTarget = 0.60;
constexpr double kScaleTarget = 8.0;
constexpr double kPeakTarget = 48.0;
constexpr double kCpuPerChannelTarget = 1.2;

struct Run {
  int status = -1;
  double wall = 0;
  double cpu = 0;
  double peakMb = 0;
};

// A device root whose channel list ("ChannelData\Channels.opml") holds the
// benchmark's first `channels` channels at base, with image and full-text
// downloads off.
std::string MakeDevice(const std::string& base, int channels) {
  std::string root = qnet::MakeTempFolder("refresh-bench-device");
  std::string opml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<opml version=\"1.0\"><head><title>c</title></head>"
                     "<body nextID=\"" + std::to_string(channels + 1) + "\"><outline text=\"News\">";
  for (int n = 1; n <= channels; ++n)
    opml += "<outline type=\"rss\" text=\"Channel " + std::to_string(1000 + n) + "\" uniqueID=\"" + std::to_string(n) +
            "\" xmlUrl=\"" + base + "/feeds/c" + std::to_string(n) + ".xml\"/>";
  opml += "</outline></body></opml>\n";
  fs::create_directories(root + "/Program Files/Quillet/ChannelData");
  std::ofstream(root + "/Program Files/Quillet/ChannelData/Channels.opml", std::ios::binary) << opml;
  qk::SetDeviceRoot(root);
  qtest::SetSettingDword(u"DownloadImage", 0);
  qtest::SetSettingDword(u"DownloadFulltext", 0);
  return root;
}

// Runs argv to its end with the environment changed by env ("NAME=value"
// sets, "NAME" unsets); its output goes to /dev/null.
Run RunProcess(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
  Run r;
  auto start = std::chrono::steady_clock::now();
  pid_t pid = qbench::SpawnQuiet(argv, env);
  if (pid < 0) return r;
  int status = 0;
  struct rusage usage{};
  wait4(pid, &status, 0, &usage);
  r.wall = qbench::Seconds(start);
  r.peakMb = double(usage.ru_maxrss) / 1024.0;
  r.cpu = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
          double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

std::vector<std::string> WrapWords() {
  std::vector<std::string> words;
  if (const char* wrap = std::getenv("REFRESH_BENCH_WRAP")) {
    std::string all(wrap);
    for (size_t at = 0; at < all.size();) {
      size_t end = all.find(' ', at);
      if (end == std::string::npos) end = all.size();
      if (end > at) words.push_back(all.substr(at, end - at));
      at = end + 1;
    }
  }
  return words;
}

void Remove(const std::string& folder) {
  if (!std::getenv("REFRESH_BENCH_KEEP")) qnet::RemoveTree(folder);
  else std::printf("kept %s\n", folder.c_str());
}

// "quillet /update" on a fresh device; a run that did not end well or did
// not store every channel is reported with status -1.
Run RunReader(const std::string& base, int channels) {
  std::string root = MakeDevice(base, channels);
  std::vector<std::string> command = WrapWords();
  const char* other = std::getenv("REFRESH_BENCH_QUILLET");
  command.push_back(other && *other ? other : QUILLET_EXE);
  command.push_back("/update");
  Run r = RunProcess(command, {"QUILLET_DEVICE_ROOT=" + root, "QUILLET_HEADLESS=1", "QUILLET_COMMAND_LINE"});
  int stored = 0;
  for (int n = 1; n <= channels; ++n) {
    char name[96];
    std::snprintf(name, sizeof name, "/Program Files/Quillet/ChannelData/Ch%03d.bin", n);
    stored += fs::exists(root + name) || fs::exists(root + std::string(name, std::strlen(name) - 3) + "Bin");
  }
  if (stored != channels) {
    std::fprintf(stderr, "quillet stored %d of %d channels\n", stored, channels);
    r.status = -1;
  }
  Remove(root);
  return r;
}

Run RunNewsboat(const std::string& urls) {
  std::string home = qnet::MakeTempFolder("refresh-bench-home");
  fs::create_directories(home + "/.newsboat");
  std::ofstream(home + "/.newsboat/urls", std::ios::binary) << urls;
  Run r = RunProcess({"newsboat", "-x", "reload"},
                     {"HOME=" + home, "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"});
  if (!fs::exists(home + "/.newsboat/cache.db")) r.status = -1;
  Remove(home);
  return r;
}

// ------------------------------------------------------------ the floor

// One GET over a fresh connection to 127.0.0.1:port, as the reader makes
// one per feed; the body, or empty when the answer is not a 200.
std::string Fetch(int port, const std::string& path) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return "";
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(uint16_t(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string answer;
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
    std::string request = "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
    if (send(fd, request.data(), request.size(), 0) == ssize_t(request.size())) {
      char buffer[65536];
      for (ssize_t n; (n = recv(fd, buffer, sizeof buffer, 0)) > 0;) answer.append(buffer, size_t(n));
    }
  }
  close(fd);
  size_t body = answer.find("\r\n\r\n");
  if (answer.compare(0, 12, "HTTP/1.1 200") != 0 || body == std::string::npos) return "";
  return answer.substr(body + 4);
}

// The floor over plain sockets, a process of its own: fetches feeds
// 1..channels and writes each as a store of two bytes a character into
// folder. 0 when every feed came.
int FloorMain(int port, int channels, const std::string& folder) {
  int stored = 0;
  std::string wide;
  for (int n = 1; n <= channels; ++n) {
    std::string feed = Fetch(port, "/feeds/c" + std::to_string(n) + ".xml");
    if (feed.empty()) continue;
    wide.assign(feed.size() * 2, '\0');
    for (size_t i = 0; i < feed.size(); ++i) wide[i * 2] = feed[i];
    char name[32];
    std::snprintf(name, sizeof name, "/Ch%03d.bin", n);
    if (FILE* f = std::fopen((folder + name).c_str(), "wb")) {
      stored += std::fwrite(wide.data(), 1, wide.size(), f) == wide.size();
      std::fclose(f);
    }
  }
  return stored == channels ? 0 : 1;
}

// The same through the platform the reader runs on: each feed comes
// through the reader's one-URL downloader into "Ch%03d~.xml" of a device
// folder, and its store is written through the device's files.
int DeviceFloorMain(int port, int channels, const std::string& folder) {
  qk::SetDeviceRoot(folder);
  CreateDirectoryW(u"\\ChannelData", nullptr);
  int stored = 0;
  for (int n = 1; n <= channels; ++n) {
    CString url, feedPath, storePath, error;
    url.Format(u"http://127.0.0.1:%d/feeds/c%d.xml", port, n);
    feedPath.Format(u"\\ChannelData\\Ch%03d~.xml", n);
    storePath.Format(u"\\ChannelData\\Ch%03d.bin", n);
    DWORD code = 0;
    if (InternetDownloadFile(url, feedPath, &code, error, nullptr, nullptr, nullptr) != 0) continue;
    std::ifstream in(qk::HostPath(feedPath), std::ios::binary);
    std::string feed((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::string wide(feed.size() * 2, '\0');
    for (size_t i = 0; i < feed.size(); ++i) wide[i * 2] = feed[i];
    HANDLE f = CreateFileW(storePath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (f == INVALID_HANDLE_VALUE) continue;
    DWORD written = 0;
    stored += WriteFile(f, wide.data(), DWORD(wide.size()), &written, nullptr) && written == wide.size();
    CloseHandle(f);
  }
  return stored == channels ? 0 : 1;
}

Run RunFloor(const char* self, const char* mode, int port, int channels) {
  std::string folder = qnet::MakeTempFolder("refresh-bench-floor");
  Run r = RunProcess({self, mode, std::to_string(port), std::to_string(channels), folder}, {});
  Remove(folder);
  return r;
}

// ------------------------------------------------------------ figures

struct Spread {
  double min = 0, median = 0, max = 0;
};

Spread Of(std::vector<double> v) {
  Spread s;
  if (v.empty()) return s;
  std::sort(v.begin(), v.end());
  s.min = v.front();
  s.max = v.back();
  s.median = v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
  return s;
}

void Line(const char* what, const std::vector<double>& v, const char* unit) {
  Spread s = Of(v);
  std::printf("  %-34s min %8.3f  median %8.3f  max %8.3f %s\n", what, s.min, s.median, s.max, unit);
}

void Report(const std::string& figure, double value, const char* unit, double target) {
  std::printf("%s: %.3f%s%s (target < %.3f%s%s) %s\n", figure.c_str(), value, *unit ? " " : "", unit, target,
              *unit ? " " : "", unit, value < target ? "OK" : "MISSED");
}

// What the rounds of one channel count gave.
struct Series {
  std::vector<double> wall, cpu, peak, cpuPerChannel, newsWall, newsCpu, newsPeak, ratio, floorWall, floorRatio,
      rawFloorWall;
  bool failed = false;
};

Series Measure(const char* self, const std::string& base, int port, const std::string& urls, int channels,
               int rounds, bool haveNewsboat) {
  Series s;
  for (int round = 1; round <= rounds; ++round) {
    // Other work on the machine slows both sides: its load goes with the figures.
    double load[1] = {-1};
    getloadavg(load, 1);
    Run reader, news;
    bool readerFirst = round % 2 == 1 || !haveNewsboat;
    if (readerFirst) reader = RunReader(base, channels);
    if (haveNewsboat) news = RunNewsboat(urls);
    if (!readerFirst) reader = RunReader(base, channels);
    Run floor = RunFloor(self, "--floor", port, channels);
    Run raw = RunFloor(self, "--raw-floor", port, channels);
    s.failed = s.failed || reader.status != 0 || floor.status != 0 || raw.status != 0 ||
               (haveNewsboat && news.status != 0);
    std::printf("%d channels, round %d (load %.2f)  quillet /update %.3f s, cpu %.3f s, peak %.1f MB%s", channels,
                round, load[0], reader.wall, reader.cpu, reader.peakMb, reader.status == 0 ? "" : " (FAILED)");
    s.wall.push_back(reader.wall);
    s.cpu.push_back(reader.cpu);
    s.peak.push_back(reader.peakMb);
    s.cpuPerChannel.push_back(reader.cpu * 1000.0 / channels);
    if (haveNewsboat) {
      std::printf("  |  newsboat -x reload %.3f s, cpu %.3f s, peak %.1f MB%s  |  ratio %.2f", news.wall, news.cpu,
                  news.peakMb, news.status == 0 ? "" : " (FAILED)", reader.wall / news.wall);
      s.newsWall.push_back(news.wall);
      s.newsCpu.push_back(news.cpu);
      s.newsPeak.push_back(news.peakMb);
      s.ratio.push_back(reader.wall / news.wall);
    }
    std::printf("  |  floor %.3f s%s (raw sockets %.3f s%s)\n", floor.wall, floor.status == 0 ? "" : " (FAILED)",
                raw.wall, raw.status == 0 ? "" : " (FAILED)");
    s.floorWall.push_back(floor.wall);
    s.rawFloorWall.push_back(raw.wall);
    s.floorRatio.push_back(reader.wall / floor.wall);
    std::fflush(stdout);
  }
  std::printf("%d channels over %d rounds:\n", channels, rounds);
  Line("quillet /update wall", s.wall, "s");
  Line("quillet /update cpu", s.cpu, "s");
  Line("quillet /update cpu per channel", s.cpuPerChannel, "ms");
  Line("quillet /update peak memory", s.peak, "MB");
  if (haveNewsboat) {
    Line("newsboat -x reload wall", s.newsWall, "s");
    Line("newsboat -x reload cpu", s.newsCpu, "s");
    Line("newsboat -x reload peak memory", s.newsPeak, "MB");
    Line("ratio quillet / newsboat (pairs)", s.ratio, "");
  }
  Line("floor wall", s.floorWall, "s");
  Line("floor over raw sockets wall", s.rawFloorWall, "s");
  Line("ratio quillet / floor (pairs)", s.floorRatio, "");
  std::fflush(stdout);
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 5 && std::strcmp(argv[1], "--raw-floor") == 0)
    return FloorMain(std::atoi(argv[2]), std::atoi(argv[3]), argv[4]);
  if (argc == 5 && std::strcmp(argv[1], "--floor") == 0)
    return DeviceFloorMain(std::atoi(argv[2]), std::atoi(argv[3]), argv[4]);
  int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  std::vector<int> counts;
  for (int i = 2; i < argc; ++i)
    if (std::atoi(argv[i]) > 0) counts.push_back(std::atoi(argv[i]));
  if (counts.empty()) counts = {100, 500, 1000};
  // The folder both sides work in (the temporary folders are made there).
  std::string place = std::getenv("REFRESH_BENCH_DIR") ? std::getenv("REFRESH_BENCH_DIR") : "";
  if (place.empty() && access("/dev/shm", W_OK) == 0) place = "/dev/shm";
  if (!place.empty()) setenv("TMPDIR", place.c_str(), 1);
  // REFRESH_BENCH_NO_PEER leaves newsboat out (for a profile of the reader).
  bool haveNewsboat = !std::getenv("REFRESH_BENCH_NO_PEER") && qnet::PeerInstalled("newsboat");
  std::string docroot = qnet::MakeTempFolder("refresh-bench-docroot");
  qtest::NginxServer nginx;
  if (!nginx.Start(docroot)) {
    std::fprintf(stderr, "nginx did not start\n");
    return 1;
  }
  std::string base = "http://127.0.0.1:" + std::to_string(nginx.port());
  const int most = *std::max_element(counts.begin(), counts.end());
  size_t bytes = 0;
  qbench::WriteBenchmarkFeeds(docroot, base, most, kItems, bytes);
  std::printf("refresh: up to %d channels x %d items, %.1f MB of RSS 2.0 from nginx on loopback; %d rounds; files in "
              "%s\n",
              most, kItems, double(bytes) / (1024.0 * 1024.0), rounds, place.empty() ? "/tmp" : place.c_str());
  if (!haveNewsboat) std::printf("newsboat is not installed: the reader's figures alone\n");

  std::map<int, Series> series;
  bool failed = false;
  for (int channels : counts) {
    std::string urls;
    for (int n = 1; n <= channels; ++n) urls += base + "/feeds/c" + std::to_string(n) + ".xml\n";
    series[channels] = Measure(argv[0], base, nginx.port(), urls, channels, rounds, haveNewsboat);
    failed = failed || series[channels].failed;
  }
  nginx.Stop();
  qnet::RemoveTree(docroot);

  if (series.count(100)) {
    const Series& s = series[100];
    if (haveNewsboat) Report("refresh 100 wall time / newsboat's (median of pairs)", Of(s.ratio).median, "", kRatioTarget);
    Report("refresh 100 wall time / the floor's (median of pairs)", Of(s.floorRatio).median, "", kFloorTarget);
    Report("refresh 100 cpu time (median)", Of(s.cpu).median, "s", kCpuTarget);
    if (haveNewsboat) Report("refresh 100 peak memory (median)", Of(s.peak).median, "MB", Of(s.newsPeak).median);
  }
  if (series.count(1000)) {
    const Series& s = series[1000];
    Report("refresh 1000 peak memory (median)", Of(s.peak).median, "MB", kPeakTarget);
    if (series.count(100)) {
      const Series& small = series[100];
      Report("refresh 1000 wall time / that of 100 (medians)", Of(s.wall).median / Of(small.wall).median, "",
             kScaleTarget);
      Report("refresh cpu per channel at 1000 / at 100 (medians)",
             Of(s.cpuPerChannel).median / Of(small.cpuPerChannel).median, "", kCpuPerChannelTarget);
    }
  }
  if (failed) std::printf("some runs FAILED (a channel not stored, or a side that did not end well): their figures are not a refresh's\n");
  return failed ? 2 : 0;
}
