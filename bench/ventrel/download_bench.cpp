// Downloads a 100 MB body from a loopback server into a file, directly and
// through tinyproxy (CONNECT), dante SOCKS4 and SOCKS5, with the HTTP client
// and with curl for the same file in the same run; prints the times, their
// ratio and how much the peak memory of the process grew during the client's
// downloads.
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "kernel/kernel.h"
#include "net/winsock.h"
#include "support/net_servers.h"
#include "ventrel/downloader.h"

namespace {

constexpr long long kSize = 100LL * 1024 * 1024;

long PeakRssKb() {
  std::ifstream f("/proc/self/status");
  std::string line;
  while (std::getline(f, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
  }
  return 0;
}

double Seconds(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

long long FileSize(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? st.st_size : -1;
}

double RunCurl(const std::vector<std::string>& extra, const std::string& url, const std::string& out) {
  std::vector<std::string> argv = {"curl", "-s", "-o", out};
  argv.insert(argv.end(), extra.begin(), extra.end());
  argv.push_back(url);
  auto start = std::chrono::steady_clock::now();
  qnet::ChildProcess p;
  if (!p.Start(argv, false, "")) return -1;
  if (p.Wait() != 0) return -1;
  double s = Seconds(start);
  return FileSize(out) == kSize ? s : -1;
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = argc > 1 ? std::atoi(argv[1]) : 3;
  std::string root = qnet::MakeTempFolder("bench");
  setenv("QUILLET_DEVICE_ROOT", root.c_str(), 1);
  qk::SetDeviceRoot(root);
  WSADATA data;
  WSAStartup(0x0101, &data);

  qnet::ScriptedServer server;
  if (!server.Start("{\"rules\": [{\"times\": 0, \"response\": \"HTTP/1.1 200 OK\\r\\nContent-Length: " +
                    std::to_string(kSize) + "\\r\\nConnection: close\\r\\n\\r\\n\", \"body_size\": " +
                    std::to_string(kSize) + "}]}")) {
    std::fprintf(stderr, "server did not start\n");
    return 1;
  }
  qnet::TinyProxy tiny;
  qnet::DanteServer dante;
  bool tinyOk = tiny.Start();
  bool danteOk = dante.Start();
  std::string url = server.Url("/big");

  struct Way {
    const char* name;
    bool ok;
    CProxySettings proxy;
    bool useProxy;
    std::vector<std::string> curlArgs;
  };
  auto proxy = [](int kind, int port) {
    CProxySettings p;
    p.m_nKind = kind;
    p.m_strHost = u"127.0.0.1";
    p.m_nPort = port;
    return p;
  };
  std::string tinyAddr = "127.0.0.1:" + std::to_string(tiny.port());
  std::string danteAddr = "127.0.0.1:" + std::to_string(dante.port());
  std::vector<Way> ways = {
      {"direct", true, CProxySettings(), false, {}},
      {"http proxy (CONNECT)", tinyOk, proxy(PROXY_HTTP, tiny.port()), true, {"-p", "-x", "http://" + tinyAddr}},
      {"socks4", danteOk, proxy(PROXY_SOCKS4, dante.port()), true, {"--socks4", danteAddr}},
      {"socks5", danteOk, proxy(PROXY_SOCKS5, dante.port()), true, {"--socks5", danteAddr}},
  };
  std::string hostOut = root + "/curl.bin";
  std::printf("%-22s %10s %10s %7s %14s\n", "path", "client s", "curl s", "ratio", "peak RSS +KB");
  for (Way& w : ways) {
    if (!w.ok) {
      std::printf("%-22s skipped (proxy did not start)\n", w.name);
      continue;
    }
    double best = 1e9, bestCurl = 1e9;
    long growth = 0;
    for (int r = 0; r < rounds; ++r) {
      CDownloader dl;
      if (w.useProxy) dl.SetProxySettings(&w.proxy);
      long before = PeakRssKb();
      auto start = std::chrono::steady_clock::now();
      CString target = CString(qk::FromUtf8(url));
      bool ok = dl.SaveHttpObject(target, u"client.bin", 0);
      double s = Seconds(start);
      growth = std::max(growth, PeakRssKb() - before);
      if (!ok || FileSize(root + "/client.bin") != kSize) {
        std::printf("%-22s client download failed (code %d)\n", w.name, dl.GetLastErrorCode());
        break;
      }
      best = std::min(best, s);
      double c = RunCurl(w.curlArgs, url, hostOut);
      if (c > 0) bestCurl = std::min(bestCurl, c);
    }
    std::printf("%-22s %10.3f %10.3f %7.2f %14ld\n", w.name, best, bestCurl, best / bestCurl, growth);
  }
  WSACleanup();
  qnet::RemoveTree(root);
  return 0;
}
