// The framework's threads: CWinThread runs a thread's message loop with
// idle processing; CWinApp (framework/app.h) is the main thread's.
//
// Run() loops until WM_QUIT: while the queue is empty it calls
// OnIdle(0), OnIdle(1)... until OnIdle returns FALSE, then waits for the
// next message. Each message goes through PreTranslateMessage (the
// window's PreTranslateMessage and its parents', up to the main window;
// dialogs run the dialog manager there) before it is translated and
// dispatched. OnIdle(0) updates the main window's command user interface
// (WM_IDLEUPDATECMDUI to it and its descendants); OnIdle(1) deletes the
// thread's temporary CWnd and CDC objects. ExitInstance returns the quit
// code. When the loop ended because the program was asked to end
// (qk::RequestProgramEnd: a signal, the display window's close button),
// OnProgramEnd runs once before ExitInstance.
#pragma once

#include "user/user.h"

#include "framework/wnd.h"

typedef UINT (*AFX_THREADPROC)(LPVOID param);

class CWinThread : public CCmdTarget {
 public:
  CWinThread();
  // A worker thread that runs proc(param) and ends.
  CWinThread(AFX_THREADPROC proc, LPVOID param);
  ~CWinThread() override;

  CWnd* m_pMainWnd = nullptr;
  CWnd* m_pActiveWnd = nullptr;
  BOOL m_bAutoDelete = TRUE;  // the object deletes itself when its thread ends
  HANDLE m_hThread = nullptr;
  DWORD m_nThreadID = 0;
  MSG m_msgCur{};

  // Starts the thread: InitInstance, then Run when it returned TRUE, else
  // ExitInstance (a worker runs its procedure instead).
  BOOL CreateThread(DWORD flags = 0, UINT stackSize = 0);
  DWORD ResumeThread();
  BOOL PostThreadMessage(UINT message, WPARAM wParam, LPARAM lParam);

  virtual CWnd* GetMainWnd();
  virtual BOOL InitInstance();
  virtual int ExitInstance();
  virtual int Run();
  virtual BOOL PreTranslateMessage(MSG* msg);
  virtual BOOL PumpMessage();
  virtual BOOL OnIdle(LONG count);
  virtual BOOL IsIdleMessage(MSG* msg);
  // The program's own end, run by the main loop when the program was asked
  // to end from outside; every modal loop has ended by then. By default
  // the main window is closed (WM_CLOSE).
  virtual void OnProgramEnd();

 protected:
  AFX_THREADPROC m_pfnThreadProc = nullptr;
  LPVOID m_pThreadParams = nullptr;

 private:
  static DWORD Start(LPVOID self);
  POINT lastMouse_{-1, -1};
};

// Starts a worker thread; the object deletes itself at the thread's end
// unless m_bAutoDelete is cleared (start suspended to clear it).
CWinThread* AfxBeginThread(AFX_THREADPROC proc, LPVOID param, int priority = 0, UINT stackSize = 0,
                           DWORD flags = 0);
// The calling thread's CWinThread (the application object on the main
// thread), or null.
CWinThread* AfxGetThread();
// The main window of the calling thread, else of the application.
CWnd* AfxGetMainWnd();
HINSTANCE AfxGetInstanceHandle();
HINSTANCE AfxGetResourceHandle();
void AfxSetResourceHandle(HINSTANCE instance);
// Called when a window's object lets go of it: a thread's main window that
// goes ends the thread's message loop.
void AfxMainWindowGone(CWnd* wnd);
