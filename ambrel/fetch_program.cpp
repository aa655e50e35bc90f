// The page-fetch program (see ambrel/fetch_program.h).
#include "ambrel/fetch_program.h"

#include <malloc.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

#include "ambrel/script_host.h"
#include "ambrel/text_file.h"
#include "common/connection.h"
#include "common/log.h"
#include "common/settings.h"
#include "common/url_download.h"
#include "controls/commctrl.h"
#include "kernel/localmem.h"
#include "kernel/process.h"
#include "kernel/resource.h"
#include "net/wininet.h"
#include "user/bus.h"
#include "user/dialog.h"
#include "user/user.h"

namespace {

// The connection event: set by the dialog thread, waited for and closed by
// the main thread; the lock keeps a set from meeting a closed handle.
std::mutex g_connectionLock;
HANDLE g_connectionEvent = nullptr;
HANDLE g_dialogReady = nullptr;
// Raised when the stop broadcast arrived: from then on the program ends
// with -1 whatever the main thread was doing (a download that the stop
// ended returns like a finished one).
std::atomic<bool> g_stopping{false};

void SetConnectionEvent() {
  std::lock_guard<std::mutex> g(g_connectionLock);
  if (g_connectionEvent) SetEvent(g_connectionEvent);
}

INT_PTR HiddenDialogProc(HWND, UINT msg, WPARAM wParam, LPARAM) {
  if (HearBroadcast(msg, wParam)) {
    Sleep(250);
    WriteLog(u"Ambrel exits with code = 0xffffffff.");
    ExitProcess(0xFFFFFFFFu);
  }
  return 0;
}

// Whether the caller raised its stop before this program could hear it.
bool StopRaisedBefore() {
  HANDLE stop = OpenEventW(SYNCHRONIZE, FALSE, AMBREL_STOP_EVENT);
  if (!stop) return false;
  bool raised = WaitForSingleObject(stop, 0) == WAIT_OBJECT_0;
  CloseHandle(stop);
  return raised;
}

DWORD DialogThread(LPVOID) {
  HWND dialog = CreateDialogParamW(nullptr, MAKEINTRESOURCEW(IDD_AMBREL_DIALOG), nullptr, HiddenDialogProc, 0);
  if (dialog) ShowWindow(dialog, SW_HIDE);
  SetEvent(g_dialogReady);
  // From now on a stop broadcast is heard; one sent earlier is seen here.
  if (dialog && StopRaisedBefore()) PostMessageW(dialog, WM_URL_DOWNLOAD_END, 0, 0);
  MSG msg;
  while (GetMessageW(&msg, nullptr, 0, 0)) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
  if (dialog) DestroyWindow(dialog);
  return 1;
}

void RegisterAmbrelResources() {
  static std::vector<DWORD> dialog = qk::DialogTemplateBuilder(WS_POPUP | WS_CAPTION, 0, 0, 0, 140, 60, u"Ambrel")
                                         .Font(9, u"Tahoma")
                                         .Control(u"BUTTON", u"OK", IDOK, BS_DEFPUSHBUTTON, 10, 38, 50, 14)
                                         .Control(u"BUTTON", u"Cancel", IDCANCEL, BS_PUSHBUTTON, 80, 38, 50, 14)
                                         .Control(u"STATIC", u"Ambrel Version 1.0", 0xFFFF, 0, 10, 10, 120, 12)
                                         .Build();
  static const qk::ResourceEntry entries[] = {
      {nullptr, 5, IDD_AMBREL_DIALOG, nullptr, dialog.data(), dialog.size() * sizeof(DWORD)},
  };
  qk::RegisterResources(nullptr, entries, 1);
}

// The program cannot run without a usable device folder: the message bus,
// the settings and every file live there.
bool InitializeProgram(int argc, char** argv) {
  qk::SetProgramName(u"Ambrel.exe");
  if (!std::getenv("QUILLET_COMMAND_LINE")) {
    // Started by hand: the arguments become the command line, quoted.
    qk::SetCommandLine(qk::JoinCommandLine(argc, argv));
  }
  std::error_code ec;
  std::string root = qk::DeviceRoot();
  if (!std::filesystem::is_directory(root, ec) || ::access(root.c_str(), W_OK) != 0) return false;
  RegisterAmbrelResources();
  return true;
}

[[noreturn]] void Finish(DWORD code) {
  if (g_stopping) {
    // The dialog thread ends the program with -1 after its quarter second;
    // this thread only stands in for it should that never happen.
    Sleep(5000);
    code = 0xFFFFFFFFu;
  }
  PostQuitMessage(0);
  CString line;
  line.Format(u"Ambrel exits with code = 0x%08x.", code);
  WriteLog(line);
  ExitProcess(code);
}

DWORD RunScriptMode(const CString& url, const CString& output, const CString& script) {
  if (!FileAccess(script)) return 0;
  WCHAR* text = nullptr;
  int length = 0;
  CString body;
  if (LoadTextFile(script, &text, &length, CP_ACP) && text) body = CString(text, length);
  std::free(text);
  CScriptHost host;
  qk::script::Limits limits;
  limits.timeMs = AMBREL_SCRIPT_TIME_MS;
  limits.memoryBytes = AMBREL_SCRIPT_MEMORY_BYTES;
  if (host.CreateEngine(limits)) {
    host.GetCodeObject()->SetOutputPath(output);
    host.GetCodeObject()->SetArticleUrl(url);
    host.ParseScript(ComposeScript(body));
    host.RunScriptEntry();
  }
  host.Close();
  return 0;
}

}  // namespace

void OpenConnectionWait() {
  std::lock_guard<std::mutex> g(g_connectionLock);
  if (!g_connectionEvent) g_connectionEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
}

BOOL WaitForConnection(DWORD ms) {
  HANDLE event;
  {
    std::lock_guard<std::mutex> g(g_connectionLock);
    event = g_connectionEvent;
  }
  // Only this thread closes the event, after its wait.
  return event && WaitForSingleObject(event, ms) == WAIT_OBJECT_0;
}

void CloseConnectionWait() {
  std::lock_guard<std::mutex> g(g_connectionLock);
  if (g_connectionEvent) CloseHandle(g_connectionEvent);
  g_connectionEvent = nullptr;
}

BOOL HearBroadcast(UINT msg, WPARAM wParam) {
  if (msg == WM_CONNECTION_STATUS) {
    if (wParam == CONNECTION_STATUS_ESTABLISHED || wParam == CONNECTION_STATUS_RELEASED) SetConnectionEvent();
    return FALSE;
  }
  if (msg != WM_URL_DOWNLOAD_END) return FALSE;
  // Stop the read loop before its next read, end a running transfer's
  // wait, end a wait for the connection; the program then ends.
  g_stopping = true;
  BOOL transfer = AbortUrlDownload();
  WriteLog(u"Receive WM_URL_DOWNLOAD_END message.");
  if (transfer) WriteLog(u"Set EXIT event and exit.");
  SetConnectionEvent();
  return TRUE;
}

void AmbrelTuneMemory() {
  // One short job: the page passes through a few large buffers, which are
  // kept in the heap and reused rather than mapped and unmapped each time.
  mallopt(M_MMAP_THRESHOLD, 64 * 1024 * 1024);
  mallopt(M_TRIM_THRESHOLD, 128 * 1024 * 1024);
  // Every thread takes from that one heap: the transfer thread's blocks
  // would otherwise come from an arena of its own, fresh pages that the
  // heap prepared for the run never reaches.
  mallopt(M_ARENA_MAX, 1);
}

void AmbrelMain(int argc, char** argv) {
  AmbrelTuneMemory();
  // A script run takes the page, its wide text, the node tree and the
  // engine's heap: about 6 MB for a large page, filled a large page at a
  // time rather than a page fault at a time. The faults are not brought
  // forward on a thread: they would only slow the transfer library's
  // loading, which goes on at the same time and faults as much.
  if (argc >= 4) qk::GrowHeapInLargePages(6 * 1024 * 1024);
  // The hidden dialog's template names standard controls.
  InitCommonControls();
  if (!InitializeProgram(argc, argv)) {
    std::fputs("Fatal Error: MFC initialization failed\n", stdout);
    std::fflush(stdout);
    Finish(1);
  }
  g_dialogReady = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  // The transfer library takes a good part of the run to load, and no
  // thread can start while it loads: the bus's receiving thread and the
  // dialog's thread start first, then the library loads on a thread of its
  // own while the dialog is made.
  qk::JoinMessageBus();
  HANDLE thread = CreateThread(nullptr, 0, DialogThread, nullptr, 0, nullptr);
  if (argc >= 3) std::thread(qk::net::PreloadTransferLibrary).detach();
  // A stop that comes before the dialog exists would be lost.
  if (thread) WaitForSingleObject(g_dialogReady, 5000);
  SetLogEnabled(0);

  std::vector<std::u16string> args = qk::SplitCommandLine(GetCommandLineW());
  args.insert(args.begin(), u"Ambrel.exe");
  size_t count = args.size();
  BOOL useProxy = FALSE;
  if (count >= 3 && _wcsicmp(args[1].c_str(), u"-p") == 0) {
    useProxy = TRUE;
    // The proxy text holds at most 259 characters.
    std::u16string proxy = args[2].substr(0, 259);
    SetUrlDownloadProxy(TRUE, proxy.c_str());
    args.erase(args.begin() + 1, args.begin() + 3);
    count -= 2;
  }

  OpenConnectionWait();
  if (ConnectForUrl(nullptr, useProxy)) WaitForConnection(10000);

  DWORD code = 0;
  if (count == 3) {
    CString url(args[1]), file(args[2]);
    CString resolved;
    if (!ResolveOutputPath(file, &resolved)) {
      code = ERROR_ACCESS_DENIED;
    } else {
      WriteLog(file);
      // The download writes where the path finally leads, past its links.
      if (!resolved.IsEmpty()) file = resolved;
      DWORD error = 0;
      CString errorText;
      if (InternetDownloadFile(url, file, &error, errorText, nullptr, nullptr, nullptr) != 0)
        code = error ? error : static_cast<DWORD>(INET_E_DOWNLOAD_FAILURE);
    }
  } else if (count >= 4) {
    CString url(args[1]), output(args[2]), script(args[3]);
    if (!ResolveOutputPath(output, nullptr)) {
      code = ERROR_ACCESS_DENIED;
    } else {
      WriteLog(output);
      code = RunScriptMode(url, output, script);
    }
  }

  CloseConnectionWait();
  Finish(code);
}
