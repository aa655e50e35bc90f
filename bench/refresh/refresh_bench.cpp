// A whole refresh as a user runs it: "quillet /update" over 100 channels of
// 50 items each (about 9 MB of RSS 2.0 served by nginx on loopback, images
// and full text off, an empty device root), against newsboat reloading the
// same feeds from the same server in the same run.
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
// programs') the same reload took from 2 to over 10 s there. The side that
// goes first alternates from round to round.
//
// Each round reports both sides' wall time, processor time (user and
// system) and peak memory (the process's maximum resident set); the end
// gives the medians beside their targets.
//
//   refresh_bench [rounds]          (5 by default)
//
// REFRESH_BENCH_WRAP puts a profiler or another wrapper before the reader's
// command (words split at blanks), e.g. "valgrind --tool=callgrind";
// REFRESH_BENCH_QUILLET names another build of the reader to measure (an
// older one, for a before-and-after on the same machine); with
// REFRESH_BENCH_KEEP set, the device roots are kept for a look afterwards.
#include <sys/resource.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/bench_process.h"
#include "bench/bench_feeds.h"
#include "kernel/kernel.h"
#include "support/http_server.h"
#include "support/settings_registry.h"

namespace fs = std::filesystem;

namespace {

constexpr int kChannels = 100;
constexpr int kItems = 50;

// The targets: a refresh in at most 0.3 of newsboat's time, on at most
// 0.6 s of processor time, in no more memory than newsboat.
constexpr double kRatioTarget = 0.30;
constexpr double kCpuTarget = 0.60;

struct Run {
  int status = -1;
  double wall = 0;
  double cpu = 0;
  double peakMb = 0;
};

// A device root whose channel list ("ChannelData\Channels.opml") holds the
// benchmark's channels at base, with image and full-text downloads off.
std::string MakeDevice(const std::string& base) {
  std::string root = qnet::MakeTempFolder("refresh-bench-device");
  std::string opml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<opml version=\"1.0\"><head><title>c</title></head>"
                     "<body nextID=\"" + std::to_string(kChannels + 1) + "\"><outline text=\"News\">";
  for (int n = 1; n <= kChannels; ++n)
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
Run RunReader(const std::string& base) {
  std::string root = MakeDevice(base);
  std::vector<std::string> command = WrapWords();
  const char* other = std::getenv("REFRESH_BENCH_QUILLET");
  command.push_back(other && *other ? other : QUILLET_EXE);
  command.push_back("/update");
  Run r = RunProcess(command, {"QUILLET_DEVICE_ROOT=" + root, "QUILLET_HEADLESS=1", "QUILLET_COMMAND_LINE"});
  int stored = 0;
  for (int n = 1; n <= kChannels; ++n) {
    char name[96];
    std::snprintf(name, sizeof name, "/Program Files/Quillet/ChannelData/Ch%03d.bin", n);
    stored += fs::exists(root + name) || fs::exists(root + std::string(name, std::strlen(name) - 3) + "Bin");
  }
  if (stored != kChannels) {
    std::fprintf(stderr, "quillet stored %d of %d channels\n", stored, kChannels);
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

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

void Report(const char* figure, double value, const char* unit, double target) {
  std::printf("%s: %.2f%s%s (target < %.2f%s%s) %s\n", figure, value, *unit ? " " : "", unit, target, *unit ? " " : "",
              unit, value < target ? "OK" : "MISSED");
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  // The folder both sides work in (the temporary folders are made there).
  std::string place = std::getenv("REFRESH_BENCH_DIR") ? std::getenv("REFRESH_BENCH_DIR") : "";
  if (place.empty() && access("/dev/shm", W_OK) == 0) place = "/dev/shm";
  if (!place.empty()) setenv("TMPDIR", place.c_str(), 1);
  bool haveNewsboat = qnet::PeerInstalled("newsboat");
  std::string docroot = qnet::MakeTempFolder("refresh-bench-docroot");
  qtest::NginxServer nginx;
  if (!nginx.Start(docroot)) {
    std::fprintf(stderr, "nginx did not start\n");
    return 1;
  }
  std::string base = "http://127.0.0.1:" + std::to_string(nginx.port());
  size_t bytes = 0;
  std::string urls = qbench::WriteBenchmarkFeeds(docroot, base, kChannels, kItems, bytes);
  std::printf("refresh: %d channels x %d items, %.1f MB of RSS 2.0 from nginx on loopback; %d rounds; files in %s\n",
              kChannels, kItems, double(bytes) / (1024.0 * 1024.0), rounds, place.empty() ? "/tmp" : place.c_str());
  if (!haveNewsboat) std::printf("newsboat is not installed: the reader's figures alone\n");

  std::vector<double> ratios, cpus, peaks, newsPeaks;
  bool failed = false;
  for (int round = 1; round <= rounds; ++round) {
    // Other work on the machine slows both sides: its load goes with the figures.
    double load[1] = {-1};
    getloadavg(load, 1);
    Run reader, news;
    bool readerFirst = round % 2 == 1 || !haveNewsboat;
    if (readerFirst) reader = RunReader(base);
    if (haveNewsboat) news = RunNewsboat(urls);
    if (!readerFirst) reader = RunReader(base);
    failed = failed || reader.status != 0 || (haveNewsboat && news.status != 0);
    std::printf("round %d (load %.2f)  quillet /update %.3f s, cpu %.3f s, peak %.1f MB%s", round, load[0],
                reader.wall, reader.cpu, reader.peakMb, reader.status == 0 ? "" : " (FAILED)");
    cpus.push_back(reader.cpu);
    peaks.push_back(reader.peakMb);
    if (haveNewsboat) {
      std::printf("  |  newsboat -x reload %.3f s, cpu %.3f s, peak %.1f MB%s  |  ratio %.2f", news.wall, news.cpu,
                  news.peakMb, news.status == 0 ? "" : " (FAILED)", reader.wall / news.wall);
      ratios.push_back(reader.wall / news.wall);
      newsPeaks.push_back(news.peakMb);
    }
    std::printf("\n");
    std::fflush(stdout);
  }
  nginx.Stop();
  qnet::RemoveTree(docroot);

  if (haveNewsboat) Report("refresh wall time / newsboat's (median)", Median(ratios), "", kRatioTarget);
  Report("refresh cpu time (median)", Median(cpus), "s", kCpuTarget);
  if (haveNewsboat) Report("refresh peak memory (median)", Median(peaks), "MB", Median(newsPeaks));
  if (failed) std::printf("some runs FAILED: their figures are not a refresh's\n");
  return failed ? 2 : 0;
}
