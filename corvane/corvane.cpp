// The panel plug-in (see corvane.h). One panel object per loaded module: its
// window lives on the Panel Manager's thread; a worker thread per panel
// finds or starts the hosted program once and then only runs a message loop
// until the panel goes away.
//
// Choices made here:
// - The hosted program's window is the first top-level window whose class is
//   "Class" and whose program file is "Process" (both compared exactly). The
//   window looked for after starting the program is matched the same way and
//   becomes the hosted window, so the worker keeps running and the next
//   show (WM_SETFOCUS, 6024 or 6026) embeds it; a window of that class that
//   belongs to another program is never taken.
// - Hiding closes only the hosted window (or, when it is not known, the
//   window of that class and program file), never a window of that class
//   that another program owns.
// - The program the panel starts is kept track of: while it runs the panel
//   starts no second one, and when the panel goes away it is closed as the
//   hosted window is (WM_CLOSE, WM_QUIT, then the end of its process), also
//   when "Path" names a program whose window never matched "Class" and
//   "Process" and so was never hosted.
// - On this platform another program's window style cannot be changed, so
//   the style bit of the embedding stays a request that does nothing there.
#include "corvane/corvane.h"

#include <cstring>
#include <exception>
#include <string>

#include "gdi/gdi.h"
#include "kernel/kernel.h"
#include "kernel/process.h"
#include "kernel/registry.h"
#include "kernel/sync.h"
#include "shell/shellexec.h"
#include "user/dialog.h"

namespace {

constexpr char16_t kPanelClass[] = u"Corvane.PanelWindow";
constexpr char16_t kDummyClass[] = u"Dummy";
constexpr DWORD kStartTimeoutMs = 30000;
constexpr DWORD kFindIntervalMs = 50;
constexpr DWORD kCloseWaitMs = 1700;
constexpr int kCloseWaits = 3;

// An error of the plug-in's own, carrying one HRESULT.
class CTeskException : public std::exception {
 public:
  explicit CTeskException(HRESULT hr) : m_hr(hr) {}
  HRESULT Code() const { return m_hr; }
  const char* what() const noexcept override { return "panel plug-in error"; }

 private:
  HRESULT m_hr;
};

struct HostedProgramInfo {
  std::u16string name;
  std::u16string path;
  std::u16string className;
  std::u16string process;
};

class CPanelWindow;

HMODULE g_module = nullptr;
CPanelWindow* g_panel = nullptr;  // the module's one panel object
HostedProgramInfo g_info;

void RegisterPanelObject(CPanelWindow* panel) {
  if (panel && g_panel) throw CTeskException(static_cast<HRESULT>(0x84000001L));
  g_panel = panel;
}

// A string value of the subkey; a missing or unreadable one is written back
// as an empty string, one of another type reads as empty.
std::u16string ReadPanelValue(HKEY key, LPCWSTR name) {
  DWORD type = 0, size = 0;
  LONG result = RegQueryValueExW(key, name, nullptr, &type, nullptr, &size);
  if (result != ERROR_SUCCESS) {
    const WCHAR empty[1] = {0};
    RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(empty), sizeof empty);
    return std::u16string();
  }
  if (type != REG_SZ && type != REG_EXPAND_SZ) return std::u16string();
  std::u16string text(size / sizeof(WCHAR) + 1, u'\0');
  DWORD bytes = static_cast<DWORD>(text.size() * sizeof(WCHAR));
  if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<LPBYTE>(text.data()), &bytes) != ERROR_SUCCESS) {
    const WCHAR empty[1] = {0};
    RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(empty), sizeof empty);
    return std::u16string();
  }
  text.resize(std::char_traits<char16_t>::length(text.c_str()));
  return text;
}

void LoadHostedProgramInfo(HostedProgramInfo* info, const std::u16string& name) {
  info->name = name;
  HKEY panels = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, PANEL_REGISTRY_KEY, 0, KEY_ALL_ACCESS, &panels) != ERROR_SUCCESS) return;
  for (DWORD index = 0;; ++index) {
    WCHAR subName[256] = {0};
    DWORD length = 256;
    if (RegEnumKeyExW(panels, index, subName, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
    HKEY sub = nullptr;
    if (RegOpenKeyExW(panels, subName, 0, KEY_ALL_ACCESS, &sub) != ERROR_SUCCESS) continue;
    const bool match = ReadPanelValue(sub, u"Name") == name;
    if (match) {
      info->path = ReadPanelValue(sub, u"Path");
      info->className = ReadPanelValue(sub, u"Class");
      info->process = ReadPanelValue(sub, u"Process");
    }
    RegCloseKey(sub);
    if (match) break;
  }
  RegCloseKey(panels);
}

// The hosted program's top-level window: class and program file as the
// registry entry names them.
BOOL CALLBACK FindProgramWindowProc(HWND window, LPARAM lParam) {
  WCHAR className[256] = {0};
  if (!GetClassNameW(window, className, 256) || g_info.className != className) return TRUE;
  if (qk::WindowProgramFile(window) != g_info.process) return TRUE;
  *reinterpret_cast<HWND*>(lParam) = window;
  return FALSE;
}

HWND FindProgramWindow() {
  if (g_info.className.empty()) return nullptr;
  HWND found = nullptr;
  EnumWindows(FindProgramWindowProc, reinterpret_cast<LPARAM>(&found));
  return found;
}

// Closes another program's window: WM_CLOSE, then WM_QUIT, each given about
// five seconds, then the end of its process. A window of this process is
// never closed. TRUE when the window is gone.
BOOL CloseProgramWindow(HWND window, BOOL allowClosing) {
  if (!window || !IsWindow(window)) return TRUE;
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  if (pid == GetCurrentProcessId()) return FALSE;
  if (allowClosing) {
    for (UINT message : {static_cast<UINT>(WM_CLOSE), static_cast<UINT>(WM_QUIT)}) {
      PostMessageW(window, message, 0, 0);
      for (int i = 0; i < kCloseWaits && IsWindow(window); ++i) Sleep(kCloseWaitMs);
      if (!IsWindow(window)) return TRUE;
    }
  }
  if (HANDLE process = OpenProcess(PROCESS_ALL_ACCESS, FALSE, pid)) {
    TerminateProcess(process, 0xFFFFFFFFu);
    WaitForSingleObject(process, 5000);
    CloseHandle(process);
  }
  return IsWindow(window) ? FALSE : TRUE;
}

// A top-level window of the process with this id, if it has one.
struct WindowOfProcess {
  DWORD pid;
  HWND found;
};
BOOL CALLBACK FindWindowOfProcessProc(HWND window, LPARAM lParam) {
  auto* search = reinterpret_cast<WindowOfProcess*>(lParam);
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  if (pid != search->pid) return TRUE;
  search->found = window;
  return FALSE;
}

// Ends a program the panel started: its windows are asked to close as the
// hosted window is (WM_CLOSE, then WM_QUIT), each time given about five
// seconds to end, then its process is ended. Never this process.
void EndStartedProgram(HANDLE process) {
  const DWORD pid = GetProcessId(process);
  if (!pid || pid == GetCurrentProcessId()) return;
  const DWORD grace = kCloseWaitMs * kCloseWaits;
  if (WaitForSingleObject(process, 0) == WAIT_OBJECT_0) return;
  for (UINT message : {static_cast<UINT>(WM_CLOSE), static_cast<UINT>(WM_QUIT)}) {
    WindowOfProcess search{pid, nullptr};
    EnumWindows(FindWindowOfProcessProc, reinterpret_cast<LPARAM>(&search));
    if (search.found) PostMessageW(search.found, message, 0, 0);
    if (WaitForSingleObject(process, grace) == WAIT_OBJECT_0) return;
  }
  TerminateProcess(process, 0xFFFFFFFFu);
  WaitForSingleObject(process, 5000);
}

// Holds the show/hide mutex for a scope.
class PanelMutexLock {
 public:
  PanelMutexLock() : m_mutex(CreateMutexW(nullptr, FALSE, PANEL_MUTEX_NAME)) {
    if (m_mutex) WaitForSingleObject(m_mutex, INFINITE);
  }
  ~PanelMutexLock() {
    if (!m_mutex) return;
    ReleaseMutex(m_mutex);
    CloseHandle(m_mutex);
  }
  PanelMutexLock(const PanelMutexLock&) = delete;
  PanelMutexLock& operator=(const PanelMutexLock&) = delete;

 private:
  HANDLE m_mutex;
};

class CPanelWindow {
 public:
  CPanelWindow() { RegisterPanelObject(this); }
  virtual ~CPanelWindow() {
    if (m_hThread) CloseHandle(m_hThread);
    if (m_hStartEvent) CloseHandle(m_hStartEvent);
    if (m_hStarted) CloseHandle(m_hStarted);
    if (g_panel == this) g_panel = nullptr;
  }
  CPanelWindow(const CPanelWindow&) = delete;
  CPanelWindow& operator=(const CPanelWindow&) = delete;

  HWND Create(HWND parent) {
    if (!RegisterWindowClass()) return nullptr;
    return CreateWindowExW(0, kPanelClass, u"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN,
                           CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, parent, nullptr, g_module,
                           this);
  }
  HWND m_hWnd = nullptr;

 protected:
  // The exception barrier: nothing escapes from message handling; a message
  // whose handler threw counts as handled with the result set so far.
  virtual BOOL ProcessWindowMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result,
                                    DWORD mapId) {
    try {
      return ProcessMessageMap(window, message, wParam, lParam, result, mapId);
    } catch (...) {
      return TRUE;
    }
  }
  // Deletes the object when its window is gone.
  virtual void OnFinalMessage(HWND) { delete this; }

 private:
  static bool RegisterWindowClass() {
    WNDCLASSW wc{};
    wc.style = CS_DBLCLKS | CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = WindowProc;
    wc.hInstance = g_module;
    wc.hbrBackground = GetSysColorBrush(COLOR_WINDOW);
    wc.lpszClassName = kPanelClass;
    return RegisterClassW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
  }

  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<CPanelWindow*>(GetWindowLongW(window, GWL_USERDATA));
    if (message == WM_NCCREATE) {
      auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
      self = create ? static_cast<CPanelWindow*>(create->lpCreateParams) : nullptr;
      if (self) {
        self->m_hWnd = window;
        SetWindowLongW(window, GWL_USERDATA, reinterpret_cast<LONG_PTR>(self));
      }
    }
    if (!self) return DefWindowProcW(window, message, wParam, lParam);
    LRESULT result = 0;
    if (self->ProcessWindowMessage(window, message, wParam, lParam, result, 0)) return result;
    result = DefWindowProcW(window, message, wParam, lParam);
    if (message == WM_NCDESTROY) {
      SetWindowLongW(window, GWL_USERDATA, 0);
      self->m_hWnd = nullptr;
      self->OnFinalMessage(window);
    }
    return result;
  }

  BOOL ProcessMessageMap(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result, DWORD mapId) {
    if (mapId != 0) return FALSE;
    switch (message) {
      case WM_CREATE:
        result = OnCreate();
        return TRUE;
      case WM_DESTROY:
        OnDestroy();
        return FALSE;
      case WM_SIZE:
      case WM_PANEL_NOTHING:
        result = 0;
        return TRUE;
      case WM_PAINT:
        ValidateRect(window, nullptr);
        result = 0;
        return TRUE;
      case WM_ERASEBKGND:
        result = 1;
        return TRUE;
      case WM_PANEL_SHOW_FULL:
      case WM_PANEL_SHOW_AGAIN:
        ResizeFullScreen();
        ShowProgram();
        result = 0;
        return TRUE;
      case WM_SETFOCUS:
        ShowProgram();
        result = 0;
        return TRUE;
      case WM_PANEL_FORWARD_1:
      case WM_PANEL_FORWARD_2:
        ForwardToProgram(message, wParam, lParam);
        result = 0;
        return TRUE;
      default:
        return FALSE;
    }
  }

  LRESULT OnCreate() {
    m_hStartEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    m_hThread = CreateThread(nullptr, 0, WorkerThread, this, 0, &m_dwThreadId);
    HANDLE waits[2] = {m_hStartEvent, m_hThread};
    if (m_hStartEvent && m_hThread) WaitForMultipleObjects(2, waits, FALSE, INFINITE);
    return 0;
  }

  void OnDestroy() {
    if (m_hThread) {
      PostThreadMessageW(m_dwThreadId, WM_QUIT, 0, 0);
      WaitForSingleObject(m_hThread, INFINITE);
      CloseHandle(m_hThread);
      m_hThread = nullptr;
      m_dwThreadId = 0;
    }
    if (m_hStartEvent) {
      CloseHandle(m_hStartEvent);
      m_hStartEvent = nullptr;
    }
    HideProgram();
    m_hwndProgram = nullptr;
  }

  static DWORD WINAPI WorkerThread(LPVOID param) {
    auto* self = static_cast<CPanelWindow*>(param);
    try {
      self->ShowProgram();
      if (!self->m_hwndProgram) return 0;
      SetEvent(self->m_hStartEvent);
      MSG msg;
      while (GetMessageW(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
      }
      self->m_hwndProgram = nullptr;
    } catch (const CTeskException&) {
    }
    return 0;
  }

  void ShowProgram() {
    PanelMutexLock lock;
    if (!m_hwndProgram || !IsWindow(m_hwndProgram)) m_hwndProgram = FindProgramWindow();
    if (m_hwndProgram) {
      EmbedProgramWindow();
      return;
    }
    // The program started earlier still runs (its window has not come, or
    // is not the one looked for): no second one.
    if (m_hStarted && WaitForSingleObject(m_hStarted, 0) != WAIT_OBJECT_0) return;
    ForgetStartedProgram();
    SHELLEXECUTEINFO sei{};
    sei.cbSize = sizeof sei;
    sei.fMask = SEE_MASK_FLAG_NO_UI | SEE_MASK_NOCLOSEPROCESS;
    sei.lpVerb = u"open";
    sei.lpFile = g_info.path.c_str();
    sei.lpParameters = u"";
    sei.lpDirectory = u"";
    sei.nShow = SW_SHOW;
    if (g_info.path.empty() || !ShellExecuteEx(&sei)) return;
    m_hStarted = sei.hProcess;
    const DWORD start = GetTickCount();
    HWND found = nullptr;
    for (;;) {
      found = FindProgramWindow();
      if (found || GetTickCount() - start >= kStartTimeoutMs) break;
      Sleep(kFindIntervalMs);
    }
    if (!found) return;
    SetWindowTextW(found, u"");
    // Embedded by the next show.
    m_hwndProgram = found;
  }

  void EmbedProgramWindow() {
    HWND program = m_hwndProgram;
    if (!program || !IsWindow(program)) return;
    const std::u16string marker = PANEL_MARKER;
    COPYDATASTRUCT data{};
    data.dwData = 0;
    data.cbData = static_cast<DWORD>((marker.size() + 1) * sizeof(WCHAR));
    data.lpData = const_cast<char16_t*>(marker.c_str());
    SendMessageW(program, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data));
    SetWindowTextW(program, u"");
    SetForegroundWindow(reinterpret_cast<HWND>(reinterpret_cast<uintptr_t>(program) | 1));
    const LONG_PTR style = GetWindowLongW(program, GWL_STYLE);
    SetWindowLongW(program, GWL_STYLE, style | 0x00010000);
    WNDCLASSW wc{};
    wc.lpfnWndProc = DefWindowProcW;
    wc.hInstance = g_module;
    wc.lpszClassName = kDummyClass;
    RegisterClassW(&wc);  // a second registration fails; the class is there
    HWND dummy = CreateWindowExW(0, kDummyClass, u"", WS_POPUP | WS_VISIBLE, 0, 0, GetSystemMetrics(SM_CXSCREEN),
                                 GetSystemMetrics(SM_CYSCREEN), program, nullptr, g_module, nullptr);
    if (dummy) DestroyWindow(dummy);
  }

  void ResizeFullScreen() {
    MoveWindow(m_hWnd, 0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN), TRUE);
  }

  void ForwardToProgram(UINT message, WPARAM wParam, LPARAM lParam) {
    if (m_hwndProgram && IsWindow(m_hwndProgram)) SendMessageW(m_hwndProgram, message, wParam, lParam);
  }

  void HideProgram() {
    PanelMutexLock lock;
    HWND program = m_hwndProgram && IsWindow(m_hwndProgram) ? m_hwndProgram : FindProgramWindow();
    if (program) CloseProgramWindow(program, TRUE);
    m_hwndProgram = nullptr;
    // What the panel started goes with it, whether or not it was hosted.
    if (m_hStarted) EndStartedProgram(m_hStarted);
    ForgetStartedProgram();
  }

  void ForgetStartedProgram() {
    if (m_hStarted) CloseHandle(m_hStarted);
    m_hStarted = nullptr;
  }

  HANDLE m_hStartEvent = nullptr;
  HANDLE m_hThread = nullptr;
  DWORD m_dwThreadId = 0;
  HWND m_hwndProgram = nullptr;
  HANDLE m_hStarted = nullptr;  // the program this panel started, while known
};

bool RecordAccepted(const void* panelInfo) {
  if (!panelInfo) return false;
  const BYTE* bytes = static_cast<const BYTE*>(panelInfo);
  DWORD flags = 0;
  WORD version = 0;
  memcpy(&flags, bytes + PANEL_INFO_FLAGS_OFFSET, sizeof flags);
  memcpy(&version, bytes + PANEL_INFO_VERSION_OFFSET, sizeof version);
  return flags != 0 && version == PANEL_INFO_VERSION;
}

std::u16string RecordName(const void* panelInfo) {
  const BYTE* bytes = static_cast<const BYTE*>(panelInfo) + PANEL_INFO_NAME_OFFSET;
  std::u16string name;
  // The name ends at its zero, at the latest where the flags begin.
  for (size_t at = 0; at + sizeof(WCHAR) <= PANEL_INFO_FLAGS_OFFSET; at += sizeof(WCHAR)) {
    WCHAR c;
    memcpy(&c, bytes + at, sizeof c);
    if (!c) break;
    name += c;
  }
  return name;
}

}  // namespace

extern "C" {

// The library entry: keeps the module handle.
BOOL PanelDllMain(HMODULE module, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) g_module = module;
  return TRUE;
}

__attribute__((visibility("default"))) BOOL DllMain(HMODULE module, DWORD reason, LPVOID reserved) {
  return PanelDllMain(module, reason, reserved);
}

__attribute__((visibility("default"))) HWND CreatePanel(const void* panelInfo, HWND parent) {
  if (!RecordAccepted(panelInfo)) return nullptr;
  try {
    if (g_panel && g_panel->m_hWnd) DestroyWindow(g_panel->m_hWnd);
    CPanelWindow* panel = new CPanelWindow();
    LoadHostedProgramInfo(&g_info, RecordName(panelInfo));
    HWND window = panel->Create(parent);
    if (!window) delete panel;
    return window;
  } catch (...) {
    return nullptr;
  }
}

__attribute__((visibility("default"))) INT_PTR PanelDlgProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) return TRUE;
  if (message == WM_COMMAND && LOWORD(wParam) == IDOK) {
    EndDialog(window, IDOK);
    return TRUE;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

__attribute__((visibility("default"))) LONG DestroyPanel(DWORD flag, DWORD) {
  if (flag && g_panel && g_panel->m_hWnd) DestroyWindow(g_panel->m_hWnd);
  return 0;
}

__attribute__((visibility("default"))) LONG QueryPanel() { return E_FAIL; }

__attribute__((visibility("default"))) LONG GetPanelValue(DWORD* value) {
  if (value) *value = 100;
  return S_OK;
}

}  // extern "C"
