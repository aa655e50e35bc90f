// The application object: decides whether this start may go on (a second
// start only wakes the first one, or makes it refresh when started with
// "/update"), prepares the process and creates the main frame. It owns the
// one download manager (its pool of five threads starts with the object)
// and the update-task state: the flag set when the program was started with
// "/update" to refresh and exit, and the tick at which that task began.
#pragma once

#include <atomic>

#include "framework/afx.h"
#include "framework/wnd.h"
#include "quillet/refresh/refresh_state.h"
#include "quillet/screens/screen_app.h"

class CMainFrame;

class CReaderApp : public CWinApp, public CRefreshApp, public CScreenApp {
 public:
  // Looks for a running instance: unless this start is an update task
  // ("/update" as the first word of GetCommandLineW), a running main
  // window is brought to the front and told by a broadcast of
  // WM_ACTIVATE_INSTANCE, and this instance will end in InitInstance.
  CReaderApp();
  ~CReaderApp() override;

  BOOL InitInstance() override;
  int ExitInstance() override;
  // Asked to end from outside (a signal, the window's close button): the
  // frame's Exit command.
  void OnProgramEnd() override;

  // The main frame once it exists.
  HWND GetMainWindowHandle() const override { return m_pMainWnd ? m_pMainWnd->GetSafeHwnd() : nullptr; }

  // TRUE when the first word of the command line is "/update" (any case).
  static BOOL IsUpdateCommand(LPCWSTR commandLine);
  // Copies what the program folder needs from the build's resource folder
  // (the English text table, the sample channel list) into the program
  // folder; files that exist already are kept. The resource folder is
  // $QUILLET_RESOURCE_DIR, else the one the build names. The number of
  // files copied.
  static int InstallProgramFiles();

  BOOL m_bAlreadyRunning = FALSE;
  std::atomic<int> m_nPendingChannel{-1};
  CString m_strPendingChannelText;
  // When the update task began (the tick count); 0 outside that mode.
  std::atomic<DWORD> m_dwUpdateStartTick{0};
  HANDLE m_hInstanceMutex = nullptr;
  // The frame this object made; freed at exit.
  CMainFrame* m_pFrame = nullptr;
};

// The program's application object, or null.
CReaderApp* GetReaderApp();
