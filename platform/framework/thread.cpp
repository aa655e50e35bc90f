// CWinThread: message loops with idle processing (see framework/thread.h).
#include "framework/thread.h"

#include <unistd.h>

#include "framework/app.h"
#include "framework/controls.h"
#include "kernel/kernel.h"

namespace {
thread_local CWinThread* t_thread = nullptr;
HINSTANCE g_resources = nullptr;

bool OnMainThread() { return ::gettid() == ::getpid(); }
}  // namespace

CWinThread::CWinThread() = default;

CWinThread::CWinThread(AFX_THREADPROC proc, LPVOID param) : m_pfnThreadProc(proc), m_pThreadParams(param) {}

CWinThread::~CWinThread() {
  if (m_hThread) CloseHandle(m_hThread);
  if (t_thread == this) t_thread = nullptr;
}

DWORD CWinThread::Start(LPVOID self) {
  auto* thread = static_cast<CWinThread*>(self);
  t_thread = thread;
  DWORD result;
  if (thread->m_pfnThreadProc) {
    result = thread->m_pfnThreadProc(thread->m_pThreadParams);
  } else if (thread->InitInstance()) {
    result = static_cast<DWORD>(thread->Run());
  } else {
    result = static_cast<DWORD>(thread->ExitInstance());
  }
  // The thread's windows go while its framework objects still exist.
  if (thread->m_pMainWnd && thread->m_pMainWnd->m_hWnd) thread->m_pMainWnd->DestroyWindow();
  t_thread = nullptr;
  if (thread->m_bAutoDelete) delete thread;
  return result;
}

BOOL CWinThread::CreateThread(DWORD flags, UINT stackSize) {
  m_hThread = ::CreateThread(nullptr, stackSize, &CWinThread::Start, this, flags, &m_nThreadID);
  return m_hThread != nullptr;
}

DWORD CWinThread::ResumeThread() { return ::ResumeThread(m_hThread); }

BOOL CWinThread::PostThreadMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  return ::PostThreadMessageW(m_nThreadID, message, wParam, lParam);
}

CWnd* CWinThread::GetMainWnd() { return m_pMainWnd; }

BOOL CWinThread::InitInstance() { return FALSE; }

int CWinThread::ExitInstance() { return static_cast<int>(m_msgCur.wParam); }

int CWinThread::Run() {
  BOOL idle = TRUE;
  LONG idleCount = 0;
  MSG peek;
  for (;;) {
    while (idle && !::PeekMessageW(&peek, nullptr, 0, 0, PM_NOREMOVE)) {
      if (!OnIdle(idleCount++)) idle = FALSE;
    }
    do {
      if (!PumpMessage()) {
        if (qk::TakeProgramEnd()) OnProgramEnd();
        return ExitInstance();
      }
      if (IsIdleMessage(&m_msgCur)) {
        idle = TRUE;
        idleCount = 0;
      }
    } while (::PeekMessageW(&peek, nullptr, 0, 0, PM_NOREMOVE));
  }
}

void CWinThread::OnProgramEnd() {
  CWnd* main = GetMainWnd();
  if (main && main->m_hWnd && ::IsWindow(main->m_hWnd)) main->SendMessage(WM_CLOSE, 0, 0);
}

BOOL CWinThread::PumpMessage() {
  BOOL got = ::GetMessageW(&m_msgCur, nullptr, 0, 0);
  if (got == 0 || got == -1) return FALSE;
  if (!AfxPreTranslateMessage(&m_msgCur)) {
    ::TranslateMessage(&m_msgCur);
    ::DispatchMessageW(&m_msgCur);
  }
  return TRUE;
}

BOOL CWinThread::PreTranslateMessage(MSG* msg) {
  CWnd* main = GetMainWnd();
  HWND mainWindow = main ? main->m_hWnd : nullptr;
  if (CWnd::WalkPreTranslateTree(mainWindow, msg)) return TRUE;
  // A window outside the main window's tree (a modeless popup) still gets
  // the main window's key handling.
  if (mainWindow && msg->hwnd && ::IsWindow(msg->hwnd)) {
    CWnd* top = CWnd::FromHandle(msg->hwnd)->GetTopLevelParent();
    // Not for a popup whose owner is disabled under it (a modal box).
    HWND owner = top ? ::GetParent(top->m_hWnd) : nullptr;
    if (top && top->m_hWnd != mainWindow && !::IsChild(mainWindow, msg->hwnd) && owner != mainWindow &&
        (!owner || CWnd::TakesKeys(owner)))
      return main->PreTranslateMessage(msg);
  }
  return FALSE;
}

BOOL CWinThread::OnIdle(LONG count) {
  if (count <= 0) {
    CWnd* main = GetMainWnd();
    if (main && main->m_hWnd && ::IsWindowVisible(main->m_hWnd)) {
      AfxCallWndProc(main, main->m_hWnd, WM_IDLEUPDATECMDUI, TRUE, 0);
      main->SendMessageToDescendants(WM_IDLEUPDATECMDUI, TRUE, 0, TRUE, TRUE);
    }
  } else {
    CWnd::DeleteTempMap();
    CMenu::DeleteTempMap();
    CImageList::DeleteTempMap();
  }
  return count < 1;
}

BOOL CWinThread::IsIdleMessage(MSG* msg) {
  // A pointer that did not move, a repaint or a timer tick start no idle work.
  if (msg->message == WM_MOUSEMOVE) {
    POINT at{static_cast<short>(LOWORD(msg->lParam)), static_cast<short>(HIWORD(msg->lParam))};
    bool same = at.x == lastMouse_.x && at.y == lastMouse_.y;
    lastMouse_ = at;
    return !same;
  }
  return msg->message != WM_PAINT && msg->message != WM_TIMER;
}

CWinThread* AfxBeginThread(AFX_THREADPROC proc, LPVOID param, int, UINT stackSize, DWORD flags) {
  auto* thread = new CWinThread(proc, param);
  if (!thread->CreateThread(flags, stackSize)) {
    delete thread;
    return nullptr;
  }
  return thread;
}

CWinThread* AfxGetThread() {
  if (t_thread) return t_thread;
  return OnMainThread() ? AfxGetApp() : nullptr;
}

CWnd* AfxGetMainWnd() {
  CWinThread* thread = AfxGetThread();
  if (thread && thread->GetMainWnd()) return thread->GetMainWnd();
  CWinApp* app = AfxGetApp();
  return app ? app->GetMainWnd() : nullptr;
}

HINSTANCE AfxGetInstanceHandle() {
  CWinApp* app = AfxGetApp();
  return app && app->m_hInstance ? app->m_hInstance : GetModuleHandleW(nullptr);
}

HINSTANCE AfxGetResourceHandle() { return g_resources ? g_resources : AfxGetInstanceHandle(); }

void AfxSetResourceHandle(HINSTANCE instance) { g_resources = instance; }

void AfxMainWindowGone(CWnd* wnd) {
  CWinThread* thread = AfxGetThread();
  if (thread && thread->m_pMainWnd == wnd) {
    thread->m_pMainWnd = nullptr;
    ::PostQuitMessage(0);
  }
  if (thread && thread->m_pActiveWnd == wnd) thread->m_pActiveWnd = nullptr;
}
