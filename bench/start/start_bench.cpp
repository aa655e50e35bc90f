// The reader's start, as a process on a device whose "Channels.opml" holds
// 100 channels, headless, with its screen written to a PNG file whenever it
// changed and went idle. Each round makes a new device, starts the reader
// once on it (the first start, which installs the program files and writes
// the first settings, is reported apart) and measures the start after it:
//  - start to first paint: from the spawn of the process to the moment the
//    first picture of the screen is in place, the main frame with its
//    channel list painted (the list still empty: the window loads the
//    channel list only after its start-up timers of 100 ms and then 5 ms);
//    the target "first paint" is this figure;
//  - start to first full paint: from the spawn of the process to the
//    moment the picture that shows the channel rows is in place (the
//    program's own timers, 100 ms before it loads the list and 5 ms before
//    the reload, are part of it, and so is the writing of the picture);
//  - the shared libraries the process has mapped at that moment, and
//    whether the display's library (SDL2), the download library (libcurl)
//    or the HTML layout library (litehtml) is among them (none is needed
//    headless before a download and before a page is shown);
//  - the voluntary context switches of its user-interface thread while it
//    then waits idle for a second: an idle program sleeps until something
//    is due, it does not wake to look.
//
//   start_bench [rounds]        (default 15; medians are reported)
#include <sys/inotify.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "bench/bench_line.h"
#include "bench/bench_process.h"
#include "gdi/image_codec.h"
#include "support/net_servers.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kChannels = 100;

std::string ChannelList() {
  std::string opml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<opml version=\"1.0\"><head><title>c</title></head>"
                     "<body nextID=\"1101\"><outline text=\"News\" type=\"rss\" uniqueID=\"1100\">";
  for (int n = 1; n <= kChannels; ++n)
    opml += "<outline type=\"rss\" text=\"Channel " + std::to_string(1000 + n) + "\" uniqueID=\"" + std::to_string(n) +
            "\" xmlUrl=\"http://127.0.0.1:9/feeds/c" + std::to_string(n) + ".xml\"/>";
  return opml + "</outline></body></opml>\n";
}

// Whether the picture shows the channel rows: orange channel icons in the
// lower half of the icon column.
bool ShowsRows(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  qk::gdi::DecodedImage image;
  if (bytes.empty() || !qk::gdi::DecodePng(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), &image))
    return false;
  int orange = 0;
  for (int y = image.height / 2; y < image.height * 7 / 8; ++y)
    for (int x = 0; x < image.width / 6; ++x) {
      const uint8_t* p = &image.bgra[(size_t(y) * size_t(image.width) + size_t(x)) * 4];
      if (p[2] > 200 && p[1] > 80 && p[1] < 190 && p[0] < 90) ++orange;
    }
  return orange > 20;
}

struct Mapped {
  int libraries = 0;
  bool sdl = false;
  bool curl = false;
  bool layout = false;
};

Mapped MappedLibraries(pid_t pid) {
  std::ifstream maps("/proc/" + std::to_string(pid) + "/maps");
  std::set<std::string> files;
  std::string line;
  while (std::getline(maps, line)) {
    size_t slash = line.find('/');
    if (slash == std::string::npos) continue;
    std::string file = line.substr(slash);
    if (file.find(".so") != std::string::npos) files.insert(file);
  }
  Mapped m;
  m.libraries = int(files.size());
  for (const std::string& f : files) {
    m.sdl = m.sdl || f.find("libSDL2") != std::string::npos;
    m.curl = m.curl || f.find("libcurl") != std::string::npos;
    m.layout = m.layout || f.find("liblitehtml") != std::string::npos;
  }
  return m;
}

long VoluntarySwitches(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("voluntary_ctxt_switches:", 0) == 0) return std::atol(line.c_str() + 24);
  return -1;
}

// Nanoseconds a thread has run and has waited for a processor
// (/proc/.../schedstat); the second shows how busy the machine was.
std::pair<double, double> Scheduled(const std::string& task) {
  std::ifstream in(task + "/schedstat");
  double run = 0, wait = 0;
  in >> run >> wait;
  return {run / 1e6, wait / 1e6};
}

struct Round {
  double ms = -1;
  double firstMs = -1;  // the first picture of any kind
  double mainCpuMs = 0, allCpuMs = 0, mainWaitMs = 0;
  Mapped mapped;
  long idleWakes = -1;
};

// A new device whose channel list holds the channels.
std::string MakeDevice(const std::string& opml) {
  std::string root = qnet::MakeTempFolder("quillet-start-bench");
  fs::create_directories(root + "/Program Files/Quillet/ChannelData");
  std::ofstream(root + "/Program Files/Quillet/ChannelData/Channels.opml", std::ios::binary) << opml;
  return root;
}

// One start of the reader on the device, ended once measured.
Round StartOnce(const std::string& root) {
  Round r;
  const std::string shot = root + "/screen.png";
  std::error_code gone;
  fs::remove(shot, gone);
  int watch = inotify_init1(IN_CLOEXEC);
  inotify_add_watch(watch, root.c_str(), IN_MOVED_TO | IN_CLOSE_WRITE);

  const Clock::time_point start = Clock::now();
  pid_t pid = qbench::SpawnQuiet({QUILLET_EXE}, {"QUILLET_DEVICE_ROOT=" + root, "QUILLET_HEADLESS=1",
                                                 "QUILLET_SCREENSHOT=" + shot, "QUILLET_COMMAND_LINE"});
  if (pid < 0) {
    close(watch);
    return r;
  }
  // Each new picture is renamed into place: look at it when it arrives.
  while (std::chrono::duration<double>(Clock::now() - start).count() < 20) {
    pollfd p{watch, POLLIN, 0};
    if (poll(&p, 1, 1000) <= 0) continue;
    alignas(inotify_event) char buf[4096];
    ssize_t n = read(watch, buf, sizeof buf);
    bool arrived = false;
    for (ssize_t at = 0; at < n;) {
      auto* e = reinterpret_cast<inotify_event*>(buf + at);
      if (e->len && std::strcmp(e->name, "screen.png") == 0) arrived = true;
      at += ssize_t(sizeof(inotify_event) + e->len);
    }
    if (!arrived) continue;
    const double at = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    if (r.firstMs < 0) r.firstMs = at;
    if (ShowsRows(shot)) {
      r.ms = at;
      break;
    }
  }
  if (r.ms >= 0) {
    r.mapped = MappedLibraries(pid);
    const std::string proc = "/proc/" + std::to_string(pid);
    auto main = Scheduled(proc + "/task/" + std::to_string(pid));
    r.mainCpuMs = main.first;
    r.mainWaitMs = main.second;
    std::error_code ec;
    for (const auto& task : fs::directory_iterator(proc + "/task", ec)) r.allCpuMs += Scheduled(task.path()).first;
    // Idle from here: the list is shown and nothing is due.
    usleep(200 * 1000);
    long before = VoluntarySwitches(pid);
    usleep(1000 * 1000);
    long after = VoluntarySwitches(pid);
    if (before >= 0 && after >= 0) r.idleWakes = after - before;
  }
  kill(pid, SIGTERM);
  waitpid(pid, nullptr, 0);
  close(watch);
  return r;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? -1 : v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 15;
  const std::string opml = ChannelList();
  std::vector<double> firstPaint, paint, first, libraries, wakes, mainCpu, allCpu, mainWait;
  int sdl = 0, curl = 0, layout = 0, failed = 0;
  for (int i = 0; i < rounds; ++i) {
    // The first start on a new device also installs the program files and
    // writes the first settings; the starts after it are the reader's
    // everyday start, which the target is for.
    const std::string root = MakeDevice(opml);
    Round setup = StartOnce(root);
    Round r = setup.ms < 0 ? setup : StartOnce(root);
    qnet::RemoveTree(root);
    if (r.ms < 0) {
      ++failed;
      continue;
    }
    first.push_back(setup.ms);
    paint.push_back(r.ms);
    firstPaint.push_back(r.firstMs);
    mainCpu.push_back(r.mainCpuMs);
    allCpu.push_back(r.allCpuMs);
    mainWait.push_back(r.mainWaitMs);
    libraries.push_back(r.mapped.libraries);
    wakes.push_back(double(r.idleWakes));
    sdl += r.mapped.sdl;
    curl += r.mapped.curl;
    layout += r.mapped.layout;
  }
  std::printf("%d rounds (a first start on a new device, then a later start), %d without a full paint within 20 s; "
              "medians:\n",
              rounds, failed);
  if (paint.empty()) return 1;
  std::vector<double> sorted = paint;
  std::sort(sorted.begin(), sorted.end());
  std::printf("first start on a new device to its first full paint: %.1f ms\n", Median(first));
  std::printf("later start to first full paint: best %.1f ms, worst %.1f ms\n", sorted.front(), sorted.back());
  std::printf("until then: main thread on a processor %.1f ms, waiting for one %.1f ms; all threads %.1f ms\n",
              Median(mainCpu), Median(mainWait), Median(allCpu));
  qbench::FigureLine("start to first paint (main frame and empty channel list)", Median(firstPaint), "ms", 100);
  qbench::FigureLine("start to first full paint of 100 channels", Median(paint), "ms", 130);
  qbench::FigureLine("shared libraries mapped at the first full paint", Median(libraries), "libraries", 45, 0);
  qbench::FigureLine("runs with SDL2 mapped headless", sdl, "runs", 1, 0);
  qbench::FigureLine("runs with libcurl mapped before any download", curl, "runs", 1, 0);
  qbench::FigureLine("runs with the HTML layout library mapped before any page is shown", layout, "runs", 1, 0);
  qbench::FigureLine("idle user-interface thread wake-ups in 1 s", Median(wakes), "wake-ups", 5, 0);
  return failed ? 1 : 0;
}
