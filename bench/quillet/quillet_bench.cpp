// The reader as a program, started as a process on a fresh device root.
//
// Start to first full paint: "Channels.opml" holds 100 channels; the
// reader starts headless with its screen written to a PNG whenever it
// changed and went idle, and the time is taken when a picture first shows
// the rows (the channel icons down the list). The picture's own writing is
// part of the figure; the time to encode it is shown beside it. The program
// waits 100 ms after its window is made before it loads the channel list,
// and one more picture (of the screen before the rows) is written while it
// waits for the reload.
//
// The refresh of the same 100 channels ("quillet /update" beside newsboat)
// is bench/refresh.
//
//   quillet_bench [rounds]
#include <sys/stat.h>
#include <sys/wait.h>
#include <fcntl.h>
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
#include <string>
#include <vector>

#include "gdi/image_codec.h"
#include "kernel/kernel.h"
#include "bench/bench_feeds.h"
#include "support/http_server.h"
#include "support/net_servers.h"
#include "support/settings_registry.h"

namespace fs = std::filesystem;

namespace {

constexpr int kChannels = 100;
constexpr int kItems = 50;

using qbench::Seconds;


// A device root with the channel list of 100 channels at base.
std::string MakeDevice(const std::string& base) {
  std::string root = qnet::MakeTempFolder("quillet-bench-device");
  std::string opml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<opml version=\"1.0\"><head><title>c</title></head>"
                     "<body nextID=\"1101\"><outline text=\"News\" type=\"rss\" uniqueID=\"1100\">";
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

pid_t Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
  pid_t pid = fork();
  if (pid == 0) {
    for (const std::string& e : env) putenv(const_cast<char*>(e.c_str()));
    unsetenv("QUILLET_COMMAND_LINE");
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    int devnull = open("/dev/null", O_WRONLY);
    if (devnull >= 0) dup2(devnull, 1);
    execvp(args[0], args.data());
    _exit(127);
  }
  return pid;
}

// Whether the picture shows the channel rows: orange channel icons in the
// lower half of the icon column. The picture is kept in image.
bool ShowsRows(const std::string& path, qk::gdi::DecodedImage& image) {
  std::ifstream in(path, std::ios::binary);
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
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

// How long the program takes to encode this picture (the best of three):
// the part of the figure that is the picture's own writing.
double EncodeSeconds(const qk::gdi::DecodedImage& image) {
  std::vector<uint32_t> rgb(size_t(image.width) * size_t(image.height));
  for (size_t i = 0; i < rgb.size(); ++i)
    rgb[i] = (uint32_t(image.bgra[i * 4 + 2]) << 16) | (uint32_t(image.bgra[i * 4 + 1]) << 8) | image.bgra[i * 4];
  double best = 1e9;
  for (int i = 0; i < 3; ++i) {
    std::vector<uint8_t> png;
    auto start = std::chrono::steady_clock::now();
    qk::gdi::EncodePng(image.width, image.height, rgb, &png);
    best = std::min(best, Seconds(start));
  }
  return best;
}

struct Paint {
  double seconds = -1;  // start to the picture that shows the rows
  double picture = 0;   // of which the encoding of that picture
};

Paint FirstFullPaint(const std::string& base) {
  std::string root = MakeDevice(base);
  std::string shot = root + "/screen.png";
  auto start = std::chrono::steady_clock::now();
  pid_t pid = Spawn({QUILLET_EXE}, {"QUILLET_DEVICE_ROOT=" + root, "QUILLET_HEADLESS=1", "QUILLET_SCREENSHOT=" + shot});
  Paint painted;
  struct timespec seen{};
  while (Seconds(start) < 20) {
    struct stat st{};
    if (stat(shot.c_str(), &st) == 0 && (st.st_mtim.tv_sec != seen.tv_sec || st.st_mtim.tv_nsec != seen.tv_nsec)) {
      double at = Seconds(start);
      seen = st.st_mtim;
      qk::gdi::DecodedImage image;
      if (ShowsRows(shot, image)) {
        painted.seconds = at;
        painted.picture = EncodeSeconds(image);
        break;
      }
    }
    usleep(500);
  }
  kill(pid, SIGTERM);
  waitpid(pid, nullptr, 0);
  qnet::RemoveTree(root);
  return painted;
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = argc > 1 ? std::atoi(argv[1]) : 3;
  std::string docroot = qnet::MakeTempFolder("quillet-bench-docroot");
  qtest::NginxServer nginx;
  if (!nginx.Start(docroot)) {
    std::fprintf(stderr, "nginx did not start\n");
    return 1;
  }
  std::string base = "http://127.0.0.1:" + std::to_string(nginx.port());
  size_t bytes = 0;
  qbench::WriteBenchmarkFeeds(docroot, base, kChannels, kItems, bytes);
  std::printf("%d channels x %d items, %.1f MB of RSS 2.0 from nginx on loopback\n", kChannels, kItems,
              double(bytes) / (1024.0 * 1024.0));

  for (int round = 1; round <= rounds; ++round) {
    Paint paint = FirstFullPaint(base);
    std::printf("round %d  start to first full paint of %d channels: %.0f ms (the picture's own encoding %.0f ms)\n",
                round, kChannels, paint.seconds * 1000.0, paint.picture * 1000.0);
  }

  nginx.Stop();
  qnet::RemoveTree(docroot);
  return 0;
}
