// What the programs cost while they wait, each watched as a whole process
// for a while (60 s by default):
//   - the reader, started headless on a device whose channel list holds 100
//     channels, once its screen has settled;
//   - Ambrel fetching a page whose server sent the headers and then sends
//     a little of it every 20 s (its transfer stays open, as with a server
//     that answers slowly: the program waits on its connection). The pieces
//     are just large enough to keep the least pace a transfer must keep, so
//     the download is not given up as stalled while it is watched.
// For each: the processor time of all its threads as a share of one core
// (from /proc/PID/task/*/schedstat), and its wake-ups per second (the
// voluntary context switches of all its threads, from
// /proc/PID/task/*/status).
//
//   idle_bench [seconds]     (IDLE_BENCH_VERBOSE=1 shows the raw counts)
#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_process.h"
#include "bench/bench_feeds.h"
#include "support/net_servers.h"

namespace fs = std::filesystem;

namespace {

constexpr int kChannels = 100;
constexpr double kCpuTarget = 0.1;     // % of one core
constexpr double kWakeTarget = 5.0;    // per second

struct Usage {
  double cpuSeconds = 0;
  long long switches = 0;
};

// The processor time and voluntary switches of every thread the process has now.
Usage Take(pid_t pid) {
  Usage u;
  std::string tasks = "/proc/" + std::to_string(pid) + "/task";
  DIR* d = opendir(tasks.c_str());
  if (!d) return u;
  while (dirent* e = readdir(d)) {
    if (e->d_name[0] == '.') continue;
    std::string base = tasks + "/" + e->d_name;
    std::ifstream sched(base + "/schedstat");
    unsigned long long ns = 0;
    if (sched >> ns) u.cpuSeconds += double(ns) / 1e9;
    std::ifstream status(base + "/status");
    std::string line;
    while (std::getline(status, line)) {
      if (line.rfind("voluntary_ctxt_switches:", 0) == 0) u.switches += std::atoll(line.c_str() + 24);
    }
  }
  closedir(d);
  return u;
}

void End(pid_t pid) {
  if (pid <= 0) return;
  kill(pid, SIGTERM);
  for (int i = 0; i < 200; ++i) {
    if (waitpid(pid, nullptr, WNOHANG) == pid) return;
    usleep(10000);
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
}

bool Alive(pid_t pid) { return waitpid(pid, nullptr, WNOHANG) == 0; }

void Report(const char* figure, double value, const char* unit, double target) {
  std::printf("%s: %.3f %s (target < %.2f %s) %s\n", figure, value, unit, target, unit,
              value < target ? "OK" : "MISSED");
}

// Watches the process for seconds; false when it ended meanwhile.
bool Watch(const char* name, pid_t pid, double seconds) {
  Usage a = Take(pid);
  auto start = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  Usage b = Take(pid);
  double wall = qbench::Seconds(start);
  if (std::getenv("IDLE_BENCH_VERBOSE"))
    std::printf("%s: %.6f s cpu and %lld switches before, %.6f s and %lld after\n", name, a.cpuSeconds, a.switches,
                b.cpuSeconds, b.switches);
  if (!Alive(pid)) {
    std::printf("%s ended while it was watched (FAILED)\n", name);
    return false;
  }
  std::string figure = std::string(name) + " cpu";
  Report(figure.c_str(), 100.0 * (b.cpuSeconds - a.cpuSeconds) / wall, "%", kCpuTarget);
  figure = std::string(name) + " wake-ups";
  Report(figure.c_str(), double(b.switches - a.switches) / wall, "/s", kWakeTarget);
  return true;
}

// The reader on a device with 100 channels, watched once its screen has
// not changed for a second (at most 30 s after its start).
bool ReaderIdle(double seconds) {
  std::string root = qnet::MakeTempFolder("idle-bench-device");
  std::string opml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<opml version=\"1.0\"><head><title>c</title></head>"
                     "<body nextID=\"" + std::to_string(kChannels + 1) + "\"><outline text=\"News\">";
  for (int n = 1; n <= kChannels; ++n)
    opml += "<outline type=\"rss\" text=\"Channel " + std::to_string(1000 + n) + "\" uniqueID=\"" + std::to_string(n) +
            "\" xmlUrl=\"http://127.0.0.1:9/feeds/c" + std::to_string(n) + ".xml\" itemCount=\"50\" newItemCount=\"" +
            std::to_string(n % 7) + "\" lastUpdateTime=\"2026-12-08 10:00:00\"/>";
  opml += "</outline></body></opml>\n";
  fs::create_directories(root + "/Program Files/Quillet/ChannelData");
  std::ofstream(root + "/Program Files/Quillet/ChannelData/Channels.opml", std::ios::binary) << opml;
  std::string shot = root + "/screen.png";
  pid_t pid = qbench::SpawnQuiet({QUILLET_EXE},
                    {"QUILLET_DEVICE_ROOT=" + root, "QUILLET_HEADLESS=1", "QUILLET_SCREENSHOT=" + shot,
                     "QUILLET_COMMAND_LINE"});
  auto start = std::chrono::steady_clock::now();
  struct timespec seen{};
  auto changed = std::chrono::steady_clock::now();
  bool settled = false;
  while (!settled && qbench::Seconds(start) < 30 && Alive(pid)) {
    struct stat st{};
    if (stat(shot.c_str(), &st) == 0) {
      if (st.st_mtim.tv_sec != seen.tv_sec || st.st_mtim.tv_nsec != seen.tv_nsec) {
        seen = st.st_mtim;
        changed = std::chrono::steady_clock::now();
      } else if (qbench::Seconds(changed) >= 1.0) {
        settled = true;
      }
    }
    usleep(20000);
  }
  bool ok = settled;
  if (!settled) std::printf("the reader's screen did not settle (FAILED)\n");
  else ok = Watch("reader idle with 100 channels", pid, seconds);
  End(pid);
  qnet::RemoveTree(root);
  return ok;
}

// A server on loopback that answers one request with headers for a long
// page and then sends 300 bytes of it every 20 s, until it is stopped.
class TricklingServer {
 public:
  bool Start() {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (fd_ < 0 || bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd_, 4) != 0 ||
        getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) != 0)
      return false;
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this] { Serve(); });
    return true;
  }
  void Stop() {
    {
      std::lock_guard<std::mutex> hold(lock_);
      stop_ = true;
    }
    wake_.notify_all();
    shutdown(fd_, SHUT_RDWR);
    if (thread_.joinable()) thread_.join();
    close(fd_);
  }
  int port() const { return port_; }
  bool answered() const { return answered_; }

 private:
  void Serve() {
    int c = accept(fd_, nullptr, nullptr);
    if (c < 0) return;
    char buf[4096];
    std::string request;
    while (request.find("\r\n\r\n") == std::string::npos) {
      ssize_t n = recv(c, buf, sizeof buf, 0);
      if (n <= 0) break;
      request.append(buf, size_t(n));
    }
    std::string head = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: 100000\r\n\r\n<";
    send(c, head.data(), head.size(), MSG_NOSIGNAL);
    answered_ = true;
    std::unique_lock<std::mutex> hold(lock_);
    const std::string chunk(300, 'p');
    while (!wake_.wait_for(hold, std::chrono::seconds(20), [this] { return stop_; }))
      send(c, chunk.data(), chunk.size(), MSG_NOSIGNAL);
    close(c);
  }
  int fd_ = -1;
  int port_ = 0;
  std::thread thread_;
  std::mutex lock_;
  std::condition_variable wake_;
  bool stop_ = false;
  std::atomic<bool> answered_{false};
};

bool AmbrelWaiting(double seconds) {
  TricklingServer server;
  if (!server.Start()) {
    std::printf("the trickling server did not start (FAILED)\n");
    return false;
  }
  std::string root = qnet::MakeTempFolder("idle-bench-ambrel");
  fs::create_directories(root + "/ChannelData");
  std::string url = "http://127.0.0.1:" + std::to_string(server.port()) + "/page.html";
  pid_t pid = qbench::SpawnQuiet({AMBREL_EXE, url, "\\ChannelData\\page.htm"}, {"QUILLET_DEVICE_ROOT=" + root});
  auto start = std::chrono::steady_clock::now();
  while (!server.answered() && qbench::Seconds(start) < 30 && Alive(pid)) usleep(20000);
  bool ok = server.answered() && Alive(pid);
  if (!ok) std::printf("Ambrel did not reach the page (FAILED)\n");
  // Past its start: the wait itself is watched.
  if (ok) {
    usleep(500000);
    ok = Watch("Ambrel waiting on its connection", pid, seconds);
  }
  End(pid);
  server.Stop();
  qnet::RemoveTree(root);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  double seconds = argc > 1 ? std::atof(argv[1]) : 60;
  if (seconds <= 0) seconds = 60;
  std::printf("idle: each program watched for %.0f s\n", seconds);
  std::fflush(stdout);
  bool ok = ReaderIdle(seconds);
  std::fflush(stdout);
  ok = AmbrelWaiting(seconds) && ok;
  return ok ? 0 : 2;
}
