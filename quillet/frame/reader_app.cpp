#include "quillet/frame/reader_app.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "common/log.h"
#include "common/settings.h"
#include "gdi/surface.h"
#include "kernel/fs.h"
#include "kernel/process.h"
#include "net/winsock.h"
#include "quillet/res/resources.h"
#include "quillet/frame/main_frame.h"
#include "quillet/screens/channel_files.h"
#include "quillet/screens/screen_messages.h"
#include "quillet/ui/density.h"
#include "quillet/ui/touch_image.h"
#include "shell/aygshell.h"
#include "user/input.h"

#ifndef QUILLET_RESOURCE_DIR
#define QUILLET_RESOURCE_DIR ""
#endif

namespace {

CReaderApp* g_readerApp = nullptr;

CString FirstWord(LPCWSTR commandLine) {
  CString line(commandLine ? commandLine : u"");
  line.Trim();
  int blank = line.FindOneOf(u" \t");
  CString word = blank < 0 ? line : line.Left(blank);
  word.Trim();
  return word;
}

}  // namespace

CReaderApp* GetReaderApp() { return g_readerApp; }

BOOL CReaderApp::IsUpdateCommand(LPCWSTR commandLine) {
  return FirstWord(commandLine).CompareNoCase(u"/update") == 0;
}

CReaderApp::CReaderApp() : CWinApp(QUILLET_REGISTRY_APP) {
  g_readerApp = this;
  // An update task started while the program runs only makes the running
  // one refresh (InitInstance); it neither brings it to the front nor
  // tells it that the user started the program.
  if (IsUpdateCommand(GetCommandLineW())) return;
  HWND running = ::FindWindowW(QUILLET_MAIN_WINDOW_FIND_CLASS, nullptr);
  if (running) {
    ::SetForegroundWindow(reinterpret_cast<HWND>(reinterpret_cast<UINT_PTR>(running) | 1));
    ::PostMessageW(HWND_BROADCAST, WM_ACTIVATE_INSTANCE, 0, 0);
    WriteLog(u"Activate Quillet App.");
    m_bAlreadyRunning = TRUE;
  }
}

CReaderApp::~CReaderApp() {
  delete m_pFrame;
  m_pFrame = nullptr;
  if (g_readerApp == this) g_readerApp = nullptr;
}

int CReaderApp::InstallProgramFiles() {
  namespace fs = std::filesystem;
  const char* env = std::getenv("QUILLET_RESOURCE_DIR");
  fs::path source = env && *env ? fs::path(env) : fs::path(QUILLET_RESOURCE_DIR);
  std::error_code ec;
  if (source.empty() || !fs::is_directory(source, ec)) return 0;
  WCHAR folder[MAX_PATH] = {0};
  GetProgramFolder(folder);
  fs::path target = qk::HostPath(folder);
  int copied = 0;
  // Runs at every start: the walk's paths are made from the source's own
  // (no look-up of each), and a file already installed costs one look.
  for (fs::recursive_directory_iterator it(source, ec), end; !ec && it != end; it.increment(ec)) {
    fs::path relative = it->path().lexically_relative(source);
    if (relative.empty()) break;
    fs::path to = target / relative;
    std::error_code look;
    const fs::file_status there = fs::status(to, look);
    if (it->is_directory(ec)) {
      if (!fs::is_directory(there)) fs::create_directories(to, ec);
      continue;
    }
    // The user's files (an edited text table, a changed sample list) stay.
    if (fs::exists(there)) continue;
    fs::create_directories(to.parent_path(), ec);
    if (fs::copy_file(it->path(), to, fs::copy_options::skip_existing, ec)) ++copied;
  }
  return copied;
}

BOOL CReaderApp::InitInstance() {
  if (m_bAlreadyRunning) return FALSE;

  CString line(GetCommandLineW());
  line.Trim();
  if (!line.IsEmpty() && IsUpdateCommand(line)) {
    if (HWND running = ::FindWindowW(QUILLET_MAIN_WINDOW_FIND_CLASS, nullptr)) {
      ::SendMessageW(running, WM_CHANNELS_DOWNLOAD_START, 0, 0);
      return FALSE;
    }
    m_bUpdateTask = TRUE;
    m_dwUpdateStartTick = ::GetTickCount();
    WriteLog(u"Update task should exit when finished.");
  }

  // The program's dialogs are made under a class of their own, a copy of
  // the system's dialog class.
  WNDCLASSW dialogClass{};
  if (::GetClassInfoW(nullptr, u"Dialog", &dialogClass)) {
    dialogClass.hInstance = AfxGetInstanceHandle();
    dialogClass.lpszClassName = QUILLET_DIALOG_CLASS;
    ::RegisterClassW(&dialogClass);
  }

  WSADATA sockets{};
  if (WSAStartup(0x0202, &sockets) != 0) return FALSE;
  SHInitExtraControls();

  m_hInstanceMutex = ::CreateMutexW(nullptr, TRUE, QUILLET_INSTANCE_MUTEX);
  if (!m_hInstanceMutex) return FALSE;
  if (::GetLastError() == ERROR_ALREADY_EXISTS) return FALSE;

  SetRegistryKey(QUILLET_REGISTRY_COMPANY);
  InstallProgramFiles();
  WCHAR folder[MAX_PATH] = {0};
  GetProgramFolder(folder);
  WriteProfileString(u"Settings", u"Root", folder);

  // An update task never waits for a person: on a device without a channel
  // list it has nothing to refresh (unless synchronisation brings the
  // channels), so it ends at once with status 0 instead of opening the
  // welcome page that no one would see.
  if (m_bUpdateTask && !ReadSettingInt(u"Ventrel", u"Sync", 0) && !FileAccess(ChannelListFile())) {
    WriteLog(u"Update task: no channel list, nothing to refresh.");
    return FALSE;
  }

  WCHAR platform[127] = {0};
  if (::SystemParametersInfoW(SPI_GETPLATFORMTYPE, 127, platform, 0) &&
      CString(platform).CompareNoCase(u"pocketpc") != 0)
    SetTouchFlag(FALSE);

  RegisterQuilletResources();
  InitImagingFactory();

  auto* frame = new (std::nothrow) CMainFrame();
  if (!frame) return FALSE;
  m_pFrame = frame;
  m_pMainWnd = frame;
  if (!frame->LoadFrame(IDR_MAINFRAME, WS_OVERLAPPEDWINDOW | FWS_ADDTOTITLE | WS_MINIMIZE, nullptr, nullptr)) {
    m_pMainWnd = nullptr;
    m_pFrame = nullptr;
    delete frame;
    return FALSE;
  }
  // The first paint needs the font files and the faces of the fonts the
  // windows made: looked for now, beside the first screen, rather than
  // while the windows are made (the libraries' loading slows that down). An
  // update task draws no text.
  if (!m_bUpdateTask) qk::gdi::PrepareFonts();
  if (m_bUpdateTask) {
    frame->ShowWindow(SW_MINIMIZE);
  } else {
    frame->ShowWindow(SW_SHOW);
    frame->UpdateWindow();
  }
  return TRUE;
}

void CReaderApp::OnProgramEnd() {
  if (m_pFrame && m_pFrame->GetSafeHwnd()) m_pFrame->OnExit();
  else CWinApp::OnProgramEnd();
}

int CReaderApp::ExitInstance() {
  if (m_hInstanceMutex) {
    ::ReleaseMutex(m_hInstanceMutex);
    ::CloseHandle(m_hInstanceMutex);
    m_hInstanceMutex = nullptr;
  }
  ReleaseImagingFactory();
  if (m_pFrame) {
    if (m_pMainWnd == m_pFrame) m_pMainWnd = nullptr;
    delete m_pFrame;
    m_pFrame = nullptr;
  }
  return CWinApp::ExitInstance();
}
