// A 100 MB download into a file through InternetDownloadFile, against the
// curl command line fetching the same file from the same nginx on loopback.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "common/url_download.h"
#include "kernel/kernel.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

int FreePort() {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  close(fd);
  return ntohs(a.sin_port);
}

bool Accepts(int port) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bool ok = connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  close(fd);
  return ok;
}

pid_t Spawn(std::vector<std::string> args) {
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return 0;
  return pid;
}

}  // namespace

int main() {
  namespace fs = std::filesystem;
  fs::path dir = fs::temp_directory_path() / ("quillet-dlbench-" + std::to_string(getpid()));
  fs::create_directories(dir / "www");
  fs::create_directories(dir / "device");
  {
    std::ofstream out(dir / "www" / "big.bin", std::ios::binary);
    std::vector<char> block(1 << 20);
    for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i * 31);
    for (int i = 0; i < 100; ++i) out.write(block.data(), static_cast<std::streamsize>(block.size()));
  }
  int port = FreePort();
  {
    std::ofstream conf(dir / "nginx.conf");
    conf << "worker_processes 1;\ndaemon off;\nerror_log " << (dir / "error.log").string() << ";\npid "
         << (dir / "nginx.pid").string() << ";\n"
         << (geteuid() == 0 ? "user root;\n" : "") << "events { worker_connections 16; }\n"
         << "http { access_log off; client_body_temp_path " << (dir / "tmp").string() << ";\n"
         << "  server { listen 127.0.0.1:" << port << "; root " << (dir / "www").string() << "; } }\n";
  }
  pid_t nginx = Spawn({"/usr/sbin/nginx", "-e", (dir / "error.log").string(), "-p", dir.string(), "-c",
                       (dir / "nginx.conf").string()});
  for (int i = 0; i < 1000 && !Accepts(port); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  std::string url = "http://127.0.0.1:" + std::to_string(port) + "/big.bin";

  qk::SetDeviceRoot((dir / "device").string());
  std::u16string url16 = qk::FromUtf8(url);
  double best = 1e9, bestCurl = 1e9;
  for (int round = 0; round < 3; ++round) {
    auto t0 = Clock::now();
    pid_t curl = Spawn({"curl", "-s", "-o", (dir / "curl.bin").string(), url});
    int status = 0;
    waitpid(curl, &status, 0);
    bestCurl = std::min(bestCurl, std::chrono::duration<double>(Clock::now() - t0).count());

    DWORD code = 0, size = 0;
    CString text;
    t0 = Clock::now();
    HRESULT hr = InternetDownloadFile(url16.c_str(), u"\\big.bin", &code, text, nullptr, nullptr, &size);
    double s = std::chrono::duration<double>(Clock::now() - t0).count();
    if (hr != 0 || size != 100u << 20) {
      std::printf("download failed: 0x%08x, %u bytes\n", static_cast<unsigned>(hr), size);
      break;
    }
    best = std::min(best, s);
  }
  std::printf("100 MB to a file: InternetDownloadFile %.3f s (%.0f MB/s), curl %.3f s (%.0f MB/s), ratio %.2f\n", best,
              100 / best, bestCurl, 100 / bestCurl, best / bestCurl);
  kill(nginx, SIGTERM);
  waitpid(nginx, nullptr, 0);
  std::error_code ec;
  fs::remove_all(dir, ec);
  return 0;
}
