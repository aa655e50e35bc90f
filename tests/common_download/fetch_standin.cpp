// Stands in for the page-fetch program in tests: writes the command line it
// was given to "\standin-cmdline.txt" in the device root, then does what
// $QUILLET_STANDIN says:
//   exit:<hex>   ends with that 32-bit exit code
//   hang         runs a window until WM_URL_DOWNLOAD_END (2226) arrives,
//                then writes "\standin-stopped.txt" and ends with -1
//   late         as hang, but sets the named event "standin-started" and
//                waits (at most 30 s) for "standin-listen" before it opens
//                its window: a program that cannot hear the stop yet
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "kernel/kernel.h"
#include "kernel/process.h"
#include "support/host_window.h"
#include "user/user.h"

namespace {
LRESULT StandinProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == 2226) {
    if (FILE* f = qk::DeviceFopen("standin-stopped.txt", "wb")) std::fclose(f);
    ExitProcess(0xFFFFFFFFu);
  }
  return DefWindowProcW(hwnd, msg, wParam, lParam);
}
}  // namespace

int main() {
  std::string line = qk::ToUtf8(std::u16string(GetCommandLineW()));
  if (FILE* f = qk::DeviceFopen("standin-cmdline.txt", "wb")) {
    std::fwrite(line.data(), 1, line.size(), f);
    std::fclose(f);
  }
  const char* mode = std::getenv("QUILLET_STANDIN");
  if (mode && std::strncmp(mode, "exit:", 5) == 0) ExitProcess(static_cast<UINT>(std::strtoul(mode + 5, nullptr, 16)));
  if (mode && std::strcmp(mode, "late") == 0) {
    SetEvent(CreateEventW(nullptr, TRUE, FALSE, u"standin-started"));
    WaitForSingleObject(CreateEventW(nullptr, TRUE, FALSE, u"standin-listen"), 30000);
  }
  if (mode && (std::strcmp(mode, "hang") == 0 || std::strcmp(mode, "late") == 0)) {
    qtest::CreateHostWindow(u"StandinFetch", StandinProc, 1, 1);
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, u"standin-ready");
    SetEvent(ready);
    MSG m;
    while (GetMessageW(&m, nullptr, 0, 0)) DispatchMessageW(&m);
  }
  ExitProcess(0);
}
