// Message throughput: SendMessage round trips between two threads, posts
// from one program to another, and a broadcast to ten programs. The
// benchmark starts itself again as the other programs ("peer" argument).
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "kernel/kernel.h"
#include "kernel/process.h"
#include "user/bus.h"
#include "user/user.h"

namespace {

using Clock = std::chrono::steady_clock;
double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

UINT g_ping, g_pong;
long g_count = 0;
long g_target = 0;
int g_pongs = 0;

LRESULT PeerProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == g_ping) {
    PostMessageW(FindWindowW(u"BenchController", nullptr), g_pong, 0, 0);
    return 0;
  }
  if (msg == WM_USER + 2) {
    if (++g_count == static_cast<long>(wParam)) PostMessageW(FindWindowW(u"BenchController", nullptr), WM_USER + 3, 0, 0);
    return 0;
  }
  if (msg == WM_CLOSE) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

LRESULT ControllerProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == g_pong) {
    ++g_pongs;
    return 0;
  }
  if (msg == WM_USER + 3) {
    g_target = 1;
    return 0;
  }
  if (msg == WM_USER + 4) {
    ++g_pongs;  // a peer is ready
    return 0;
  }
  if (msg == WM_USER + 1) return static_cast<LRESULT>(wParam + 1);
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}

void Register(const char16_t* name, WNDPROC proc) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = proc;
  wc.lpszClassName = name;
  RegisterClassW(&wc);
}

int RunPeer() {
  Register(u"BenchPeer", PeerProc);
  CreateWindowExW(0, u"BenchPeer", u"", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
  PostMessageW(FindWindowW(u"BenchController", nullptr), WM_USER + 4, 0, 0);
  MSG m;
  while (GetMessageW(&m, nullptr, 0, 0)) DispatchMessageW(&m);
  return 0;
}

void CrossThreadSends() {
  std::atomic<HWND> target{nullptr};
  std::atomic<bool> stop{false};
  std::thread owner([&] {
    target = CreateWindowExW(0, u"BenchController", u"", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    while (!stop) qk::PumpMessagesUntil([&] { return stop.load(); }, 100);
    DestroyWindow(target);
  });
  while (!target) std::this_thread::yield();
  const int n = 200000;
  auto start = Clock::now();
  LRESULT sum = 0;
  for (int i = 0; i < n; ++i) sum += SendMessageW(target, WM_USER + 1, static_cast<WPARAM>(i), 0);
  double s = Seconds(Clock::now() - start);
  stop = true;
  PostMessageW(target, WM_NULL, 0, 0);
  owner.join();
  std::printf("cross-thread SendMessage: %d round trips in %.3f s = %.0f per second (check %ld)\n", n, s, n / s,
              static_cast<long>(sum));
}

}  // namespace

int main(int argc, char** argv) {
  g_ping = RegisterWindowMessageW(u"Bench.Ping");
  g_pong = RegisterWindowMessageW(u"Bench.Pong");
  if (argc > 1 && std::string(argv[1]) == "peer") return RunPeer();

  std::string root = (std::filesystem::temp_directory_path() / ("quillet-bench-" + std::to_string(getpid()))).string();
  std::filesystem::create_directories(root);
  qk::SetDeviceRoot(root);
  g_ping = RegisterWindowMessageW(u"Bench.Ping");
  g_pong = RegisterWindowMessageW(u"Bench.Pong");
  qk::SetProgramHost(u"BenchPeer.exe", std::filesystem::read_symlink("/proc/self/exe").string());
  Register(u"BenchController", ControllerProc);

  CrossThreadSends();

  HWND controller = CreateWindowExW(0, u"BenchController", u"", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
  (void)controller;
  std::vector<PROCESS_INFORMATION> peers;
  for (int i = 0; i < 10; ++i) {
    std::u16string line = u"peer";
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(u"\\Program Files\\Quillet\\BenchPeer.exe", line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, nullptr, &pi)) {
      std::printf("cannot start a peer\n");
      return 1;
    }
    peers.push_back(pi);
  }
  qk::PumpMessagesUntil([] { return g_pongs == 10; }, 20000);

  // Posts from this program to one other program.
  HWND peer = FindWindowW(u"BenchPeer", nullptr);
  const long posts = 200000;
  auto start = Clock::now();
  for (long i = 0; i < posts; ++i) PostMessageW(peer, WM_USER + 2, static_cast<WPARAM>(posts), 0);
  qk::PumpMessagesUntil([] { return g_target == 1; }, 60000);
  double s = Seconds(Clock::now() - start);
  std::printf("cross-process PostMessage: %ld posts delivered in %.3f s = %.0f per second\n", posts, s, posts / s);

  // A broadcast to the ten programs, until each has answered.
  const int rounds = 200;
  double total = 0, worst = 0, postOnly = 0;
  for (int r = 0; r < rounds; ++r) {
    g_pongs = 0;
    auto t0 = Clock::now();
    PostMessageW(HWND_BROADCAST, g_ping, 0, 0);
    auto t1 = Clock::now();
    qk::PumpMessagesUntil([] { return g_pongs == 10; }, 5000);
    double d = Seconds(Clock::now() - t0);
    total += d;
    worst = std::max(worst, d);
    postOnly += Seconds(t1 - t0);
  }
  std::printf("broadcast to 10 programs: posting %.3f ms, until all 10 answered %.3f ms on average, %.3f ms worst\n",
              postOnly / rounds * 1000, total / rounds * 1000, worst * 1000);

  for (auto& pi : peers) {
    TerminateProcess(pi.hProcess, 0);
    WaitForSingleObject(pi.hProcess, 5000);
    CloseHandle(pi.hProcess);
    CloseHandle(pi.hThread);
  }
  std::error_code ec;
  std::filesystem::remove_all(root, ec);
  return 0;
}
