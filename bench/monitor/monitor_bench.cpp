// Monitor at rest. Starts "Monitor.exe" on a device root of its own, once
// armed (a refresh every 20 minutes) and once switched off, and watches it
// for a while in which nothing is due: the voluntary context switches of
// all its threads (each one a wake-up), the processor time it used and its
// private resident memory (the whole resident size, shared libraries
// included, is printed beside it). Prints one line per figure:
//   <figure>: <value> <unit> (target < <value> <unit>) OK|MISSED
// and ends with 1 when a figure missed its target.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>

#include "kernel/kernel.h"
#include "kernel/process.h"
#include "shell/notify.h"
#include "user/user.h"

namespace {

constexpr double kWatchSeconds = 10.0;

struct Sample {
  long long switches = 0;  // voluntary, all threads
  long long cpuTicks = 0;  // user + system
  long long rssKb = 0;      // resident, shared library pages included
  long long privateKb = 0;  // resident pages of its own
};

Sample Read(DWORD pid) {
  Sample s;
  std::string base = "/proc/" + std::to_string(pid);
  std::error_code ec;
  for (const auto& task : std::filesystem::directory_iterator(base + "/task", ec)) {
    std::ifstream in(task.path() / "status");
    std::string line;
    while (std::getline(in, line))
      if (line.rfind("voluntary_ctxt_switches:", 0) == 0) s.switches += std::atoll(line.c_str() + 24);
  }
  std::ifstream stat(base + "/stat");
  std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  std::istringstream fields(text.substr(text.rfind(')') + 2));
  std::string field;
  for (int i = 3; i <= 15 && fields >> field; ++i) {
    if (i == 14 || i == 15) s.cpuTicks += std::atoll(field.c_str());
  }
  std::ifstream rollup(base + "/smaps_rollup");
  std::string line;
  while (std::getline(rollup, line)) {
    if (line.rfind("Rss:", 0) == 0) s.rssKb = std::atoll(line.c_str() + 4);
    if (line.rfind("Private_Clean:", 0) == 0) s.privateKb += std::atoll(line.c_str() + 14);
    if (line.rfind("Private_Dirty:", 0) == 0) s.privateKb += std::atoll(line.c_str() + 14);
  }
  return s;
}

bool WaitUntil(const std::function<bool()>& pred, int seconds) {
  auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (!pred()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

void SetDword(const char16_t* name, DWORD value) {
  HKEY key = nullptr;
  RegCreateKeyExW(HKEY_CURRENT_USER, u"Software\\Marrowby\\Quillet Reach\\Settings", 0, nullptr, 0, KEY_ALL_ACCESS,
                  nullptr, &key, nullptr);
  RegSetValueExW(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof value);
  RegCloseKey(key);
}

bool Line(const char* figure, double value, const char* unit, double target) {
  bool ok = value < target;
  std::printf("%s: %.3g %s (target < %g %s) %s\n", figure, value, unit, target, unit, ok ? "OK" : "MISSED");
  return ok;
}

// Watches a Monitor at rest; false when a figure missed.
bool Watch(const char* what, DWORD mode) {
  std::string root = (std::filesystem::temp_directory_path() / ("quillet-monitor-bench-" + std::string(what))).string();
  std::filesystem::remove_all(root);
  qk::SetDeviceRoot(root);
  SetDword(u"AutoUpdateMode", mode);
  qk::SetProgramHost(u"Monitor.exe", MONITOR_EXE);
  std::u16string none;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessW(u"\\Program Files\\Quillet\\Monitor.exe", none.data(), nullptr, nullptr, FALSE, 0, nullptr,
                      nullptr, nullptr, &pi)) {
    std::printf("%s: Monitor did not start\n", what);
    return false;
  }
  // Settled: armed (or, switched off, its threads asleep a moment).
  bool settled = mode == 0 || WaitUntil([] { return !qk::ArmedNotifications().empty(); }, 30);
  std::this_thread::sleep_for(std::chrono::milliseconds(mode == 0 ? 1500 : 500));
  Sample before = Read(pi.dwProcessId);
  std::this_thread::sleep_for(std::chrono::duration<double>(kWatchSeconds));
  Sample after = Read(pi.dwProcessId);

  double ticksPerSecond = double(sysconf(_SC_CLK_TCK));
  double cpuPercent = double(after.cpuTicks - before.cpuTicks) / ticksPerSecond / kWatchSeconds * 100.0;
  std::string prefix = std::string("monitor ") + what;
  bool ok = settled;
  ok = Line((prefix + " wake-ups in 10 s").c_str(), double(after.switches - before.switches), "wake-ups", 1) && ok;
  ok = Line((prefix + " processor").c_str(), cpuPercent, "% of a core", 0.1) && ok;
  // Its own memory: the pages of the shared libraries (the C++ and C
  // runtimes) that every program maps are counted where they are shared.
  ok = Line((prefix + " private memory").c_str(), double(after.privateKb) / 1024.0, "MB", 5) && ok;
  std::printf("%s resident memory, shared libraries included: %.3g MB\n", prefix.c_str(), double(after.rssKb) / 1024.0);

  PostMessageW(HWND_BROADCAST, RegisterWindowMessageW(u"Quillet.Uninstall"), 0, 0);
  if (WaitForSingleObject(pi.hProcess, 10000) != WAIT_OBJECT_0) TerminateProcess(pi.hProcess, 9);
  CloseHandle(pi.hProcess);
  CloseHandle(pi.hThread);
  std::filesystem::remove_all(root);
  return ok;
}

}  // namespace

int main() {
  bool ok = Watch("armed", 2);
  ok = Watch("off", 0) && ok;
  return ok ? 0 : 1;
}
