// A small program that other tests start as a real second process. It joins
// the message bus with one top-level window, answers and echoes messages, or
// exercises kernel objects across processes, as its first argument says:
//   exit <hex code>           ends at once with that 32-bit exit code
//   wait                      waits until terminated
//   mutex <name>              takes the named mutex, sets the named event
//                             "peer-ready", waits for "peer-release", releases
//   window <class> <title>    runs a window (see PeerProc) until WM_CLOSE
//                             (its text is read and set by the default)
#include <cstdlib>
#include <string>

#include "kernel/kernel.h"
#include "kernel/process.h"
#include "user/bus.h"
#include "support/host_window.h"
#include "user/user.h"

namespace {

HWND Controller() { return FindWindowW(u"PeerController", nullptr); }

LRESULT PeerProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  static UINT ping = RegisterWindowMessageW(u"Quillet.Test.Ping");
  static UINT pong = RegisterWindowMessageW(u"Quillet.Test.Pong");
  if (msg == ping) {
    // Answers with this program's number for the probe name, so the test
    // sees that both programs agree.
    PostMessageW(Controller(), pong, GetCurrentProcessId(), RegisterWindowMessageW(u"Quillet.Test.Shared"));
    return 0;
  }
  switch (msg) {
    case WM_USER + 1:  // sent: a computed answer
      return static_cast<LRESULT>(wParam * 2 + lParam);
    case WM_USER + 2:  // posted: echoed back to the controller
      PostMessageW(Controller(), WM_USER + 3, wParam, lParam);
      return 0;
    case WM_USER + 9: {  // sent: a peer that hangs for a while (and says so first)
      HANDLE busy = CreateEventW(nullptr, TRUE, FALSE, u"peer-busy");
      SetEvent(busy);
      Sleep(static_cast<DWORD>(wParam));
      CloseHandle(busy);
      return 1;
    }
    case WM_COPYDATA: {
      auto* cds = reinterpret_cast<COPYDATASTRUCT*>(lParam);
      std::string echo = "echo:" + std::string(static_cast<const char*>(cds->lpData), cds->cbData);
      COPYDATASTRUCT back{cds->dwData + 1, static_cast<DWORD>(echo.size()), echo.data()};
      SendMessageW(Controller(), WM_COPYDATA, reinterpret_cast<WPARAM>(hwnd), reinterpret_cast<LPARAM>(&back));
      return static_cast<LRESULT>(cds->cbData);
    }
    case WM_SETTINGCHANGE: {  // the section name comes back as copied data
      std::string name = lParam ? qk::ToUtf8(reinterpret_cast<LPCWSTR>(lParam)) : "(none)";
      std::string echo = "setting:" + name;
      COPYDATASTRUCT back{static_cast<ULONG_PTR>(wParam), static_cast<DWORD>(echo.size()), echo.data()};
      SendMessageW(Controller(), WM_COPYDATA, reinterpret_cast<WPARAM>(hwnd), reinterpret_cast<LPARAM>(&back));
      return 0;
    }
    case WM_NOTIFY:  // must never arrive from another program: its pointer is not ours
    case WM_CTLCOLORSTATIC:
      PostMessageW(Controller(), WM_USER + 3, 0xBAD, static_cast<LPARAM>(msg));
      return 0;
    case WM_CLOSE:
      DestroyWindow(hwnd);
      PostQuitMessage(5);
      return 0;
    default:
      return DefWindowProcW(hwnd, msg, wParam, lParam);
  }
}

int RunWindow(const std::u16string& cls, const std::u16string& title) {
  HWND hwnd = qtest::CreateHostWindow(cls.c_str(), PeerProc, 10, 10, title.c_str());
  if (!hwnd) return 2;
  PostMessageW(Controller(), WM_USER + 4, GetCurrentProcessId(), 0);
  MSG m;
  while (GetMessageW(&m, nullptr, 0, 0)) DispatchMessageW(&m);
  return static_cast<int>(m.wParam);
}

}  // namespace

int main() {
  auto args = qk::SplitCommandLine(GetCommandLineW());
  if (args.empty()) return 1;
  if (args[0] == u"exit" && args.size() > 1) ExitProcess(static_cast<UINT>(std::strtoul(qk::ToUtf8(args[1]).c_str(), nullptr, 16)));
  if (args[0] == u"wait") {
    HANDLE never = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    WaitForSingleObject(never, INFINITE);
  }
  if (args[0] == u"mutex" && args.size() > 1) {
    HANDLE mutex = CreateMutexW(nullptr, TRUE, args[1].c_str());
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, u"peer-ready");
    HANDLE release = CreateEventW(nullptr, TRUE, FALSE, u"peer-release");
    SetEvent(ready);
    WaitForSingleObject(release, 20000);
    ReleaseMutex(mutex);
    ExitProcess(7);
  }
  if (args[0] == u"window" && args.size() > 2) ExitProcess(static_cast<UINT>(RunWindow(args[1], args[2])));
  return 1;
}
