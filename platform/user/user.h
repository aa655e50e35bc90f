// Windows, window classes, messages, per-thread queues, timers, modal loops
// and message boxes, with the platform's names, constants and numbers.
//
// Every thread that creates a window or calls GetMessage/PeekMessage has a
// message queue. SendMessage to a window of another thread blocks until that
// thread has handled it; a thread that waits in a send (or in a modal loop)
// still handles the messages sent to it meanwhile, so two threads sending to
// each other do not dead-lock. Timers follow the tick count of kernel/time.h,
// so tests that freeze the clock fire them by advancing it.
//
// Top-level windows are also reachable from the other programs of the same
// device root (see user/bus.h): FindWindowW finds them by class, and
// PostMessage, SendMessage, WM_COPYDATA and HWND_BROADCAST reach them.
// A window handle carries the id of the process that owns it.
//
// Window longs are pointer-wide (LONG_PTR) in GetWindowLongW/SetWindowLongW
// too, so code that keeps an object pointer in GWL_USERDATA works on 64-bit
// hosts.
#pragma once

#include <functional>
#include <string>

#include "kernel/resource.h"
#include "kernel/types.h"

typedef LRESULT (*WNDPROC)(HWND, UINT, WPARAM, LPARAM);
typedef INT_PTR (*DLGPROC)(HWND, UINT, WPARAM, LPARAM);
typedef void (*TIMERPROC)(HWND, UINT, UINT_PTR, DWORD);

struct WNDCLASSW {
  UINT style;
  WNDPROC lpfnWndProc;
  int cbClsExtra;
  int cbWndExtra;
  HINSTANCE hInstance;
  HICON hIcon;
  HCURSOR hCursor;
  HBRUSH hbrBackground;
  LPCWSTR lpszMenuName;
  LPCWSTR lpszClassName;
};
typedef WNDCLASSW* LPWNDCLASSW;

struct CREATESTRUCTW {
  LPVOID lpCreateParams;
  HINSTANCE hInstance;
  HMENU hMenu;
  HWND hwndParent;
  int cy;
  int cx;
  int y;
  int x;
  LONG style;
  LPCWSTR lpszName;
  LPCWSTR lpszClass;
  DWORD dwExStyle;
};
typedef CREATESTRUCTW* LPCREATESTRUCTW;
typedef CREATESTRUCTW CREATESTRUCT;
typedef CREATESTRUCTW* LPCREATESTRUCT;

// WM_DRAWITEM's and WM_MEASUREITEM's structures are declared with the
// controls (controls/commctrl.h). WM_NOTIFY's header is needed by the shell
// and the HTML viewer too: it is declared here and there, whichever comes
// first.
#ifndef QK_NMHDR_DECLARED
#define QK_NMHDR_DECLARED
struct NMHDR {
  HWND hwndFrom;
  UINT_PTR idFrom;
  UINT code;
};
typedef NMHDR* LPNMHDR;
#endif

struct MSG {
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  DWORD time;
  POINT pt;
};
typedef MSG* LPMSG;

struct COPYDATASTRUCT {
  ULONG_PTR dwData;
  DWORD cbData;
  PVOID lpData;
};
typedef COPYDATASTRUCT* PCOPYDATASTRUCT;

// Messages.
#define WM_NULL 0x0000
#define WM_CREATE 0x0001
#define WM_DESTROY 0x0002
#define WM_MOVE 0x0003
#define WM_SIZE 0x0005
#define WM_ACTIVATE 0x0006
#define WM_SETFOCUS 0x0007
#define WM_KILLFOCUS 0x0008
#define WM_ENABLE 0x000A
#define WM_SETREDRAW 0x000B
#define WM_SETTEXT 0x000C
#define WM_GETTEXT 0x000D
#define WM_GETTEXTLENGTH 0x000E
#define WM_PAINT 0x000F
#define WM_CLOSE 0x0010
#define WM_QUIT 0x0012
#define WM_ERASEBKGND 0x0014
#define WM_SYSCOLORCHANGE 0x0015
#define WM_SHOWWINDOW 0x0018
#define WM_SETTINGCHANGE 0x001A
#define WM_ACTIVATEAPP 0x001C
#define WM_CANCELMODE 0x001F
#define WM_WINDOWPOSCHANGED 0x0047
#define WM_COPYDATA 0x004A
#define WM_NOTIFY 0x004E
#define WM_HELP 0x0053
#define WM_NCCREATE 0x0081
#define WM_NCDESTROY 0x0082
#define WM_GETDLGCODE 0x0087
#define WM_NEXTDLGCTL 0x0028
#define WM_DRAWITEM 0x002B
#define WM_MEASUREITEM 0x002C
#define WM_CONTEXTMENU 0x007B
#define WM_SYSKEYDOWN 0x0104
#define WM_SYSKEYUP 0x0105
#define WM_SYSCHAR 0x0106
#define WM_KEYLAST 0x0108
#define WM_IDLEUPDATECMDUI 0x0363
#define WM_KEYFIRST 0x0100
#define WM_KEYDOWN 0x0100
#define WM_KEYUP 0x0101
#define WM_CHAR 0x0102
#define WM_INITDIALOG 0x0110
#define WM_COMMAND 0x0111
#define WM_SYSCOMMAND 0x0112
#define WM_TIMER 0x0113
#define WM_HSCROLL 0x0114
#define WM_VSCROLL 0x0115
#define WM_INITMENUPOPUP 0x0117
#define WM_CTLCOLORMSGBOX 0x0132
#define WM_CTLCOLOREDIT 0x0133
#define WM_CTLCOLORLISTBOX 0x0134
#define WM_CTLCOLORBTN 0x0135
#define WM_CTLCOLORDLG 0x0136
#define WM_CTLCOLORSCROLLBAR 0x0137
#define WM_CTLCOLORSTATIC 0x0138
#define WM_MOUSEMOVE 0x0200
#define WM_LBUTTONDOWN 0x0201
#define WM_LBUTTONUP 0x0202
#define WM_LBUTTONDBLCLK 0x0203
#define WM_CAPTURECHANGED 0x0215
#define WM_HIBERNATE 0x03FF
#define WM_USER 0x0400
#define DM_GETDEFID (WM_USER + 0)
#define DM_SETDEFID (WM_USER + 1)
#define DC_HASDEFID 0x534B
#define WM_APP 0x8000

// WM_ACTIVATE.
#define WA_INACTIVE 0
#define WA_ACTIVE 1
#define WA_CLICKACTIVE 2

// WM_GETDLGCODE: what a control wants of the keys the dialog manager would
// otherwise take.
#define DLGC_WANTARROWS 0x0001
#define DLGC_WANTTAB 0x0002
#define DLGC_WANTALLKEYS 0x0004
#define DLGC_WANTMESSAGE 0x0004
#define DLGC_HASSETSEL 0x0008
#define DLGC_DEFPUSHBUTTON 0x0010
#define DLGC_UNDEFPUSHBUTTON 0x0020
#define DLGC_RADIOBUTTON 0x0040
#define DLGC_WANTCHARS 0x0080
#define DLGC_STATIC 0x0100
#define DLGC_BUTTON 0x2000

// Virtual keys.
#define VK_LBUTTON 0x01
#define VK_BACK 0x08
#define VK_TAB 0x09
#define VK_RETURN 0x0D
#define VK_SHIFT 0x10
#define VK_CONTROL 0x11
#define VK_MENU 0x12
#define VK_ESCAPE 0x1B
#define VK_SPACE 0x20
#define VK_PRIOR 0x21
#define VK_NEXT 0x22
#define VK_END 0x23
#define VK_HOME 0x24
#define VK_LEFT 0x25
#define VK_UP 0x26
#define VK_RIGHT 0x27
#define VK_DOWN 0x28
#define VK_INSERT 0x2D
#define VK_DELETE 0x2E
#define VK_F1 0x70
#define VK_F2 0x71

// Window styles.
#define WS_OVERLAPPED 0x00000000L
#define WS_POPUP 0x80000000L
#define WS_CHILD 0x40000000L
#define WS_MINIMIZE 0x20000000L
#define WS_VISIBLE 0x10000000L
#define WS_DISABLED 0x08000000L
#define WS_CLIPSIBLINGS 0x04000000L
#define WS_CLIPCHILDREN 0x02000000L
#define WS_CAPTION 0x00C00000L
#define WS_BORDER 0x00800000L
#define WS_DLGFRAME 0x00400000L
#define WS_VSCROLL 0x00200000L
#define WS_HSCROLL 0x00100000L
#define WS_SYSMENU 0x00080000L
#define WS_THICKFRAME 0x00040000L
#define WS_GROUP 0x00020000L
#define WS_TABSTOP 0x00010000L
#define WS_MINIMIZEBOX 0x00020000L
#define WS_MAXIMIZEBOX 0x00010000L
#define WS_OVERLAPPEDWINDOW (WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX)
#define WS_POPUPWINDOW (WS_POPUP | WS_BORDER | WS_SYSMENU)
#define WS_EX_TOPMOST 0x00000008L
#define WS_EX_WINDOWEDGE 0x00000100L
#define WS_EX_CLIENTEDGE 0x00000200L
#define WS_EX_CONTROLPARENT 0x00010000L
#define WS_EX_NOACTIVATE 0x08000000L
#define CW_USEDEFAULT (static_cast<int>(0x80000000u))

// Special window handles.
#define HWND_BROADCAST (reinterpret_cast<HWND>(static_cast<uintptr_t>(0xFFFF)))
#define HWND_TOP (reinterpret_cast<HWND>(static_cast<intptr_t>(0)))
#define HWND_BOTTOM (reinterpret_cast<HWND>(static_cast<intptr_t>(1)))
#define HWND_TOPMOST (reinterpret_cast<HWND>(static_cast<intptr_t>(-1)))
#define HWND_NOTOPMOST (reinterpret_cast<HWND>(static_cast<intptr_t>(-2)))

// Window longs. Positive offsets index the class's extra bytes; the dialog
// longs lie in a dialog's extra bytes, each pointer-wide.
#define GWL_WNDPROC (-4)
#define GWL_HINSTANCE (-6)
#define GWL_HWNDPARENT (-8)
#define GWL_ID (-12)
#define GWL_STYLE (-16)
#define GWL_EXSTYLE (-20)
#define GWL_USERDATA (-21)
#define DWL_MSGRESULT 0
#define DWL_DLGPROC 8
#define DWL_USER 16
#define DLGWINDOWEXTRA 48

// ShowWindow.
#define SW_HIDE 0
#define SW_SHOWNORMAL 1
#define SW_SHOWMINIMIZED 2
#define SW_MAXIMIZE 3
#define SW_SHOWNOACTIVATE 4
#define SW_SHOW 5
#define SW_MINIMIZE 6
#define SW_SHOWNA 8
#define SW_RESTORE 9
#define SIZE_RESTORED 0

// SetWindowPos.
#define SWP_NOSIZE 0x0001
#define SWP_NOMOVE 0x0002
#define SWP_NOZORDER 0x0004
#define SWP_NOREDRAW 0x0008
#define SWP_NOACTIVATE 0x0010
#define SWP_FRAMECHANGED 0x0020
#define SWP_SHOWWINDOW 0x0040
#define SWP_HIDEWINDOW 0x0080

// GetWindow.
#define GW_HWNDFIRST 0
#define GW_HWNDLAST 1
#define GW_HWNDNEXT 2
#define GW_HWNDPREV 3
#define GW_OWNER 4
#define GW_CHILD 5

// PeekMessage.
#define PM_NOREMOVE 0x0000
#define PM_REMOVE 0x0001

// SendMessageTimeout.
#define SMTO_NORMAL 0x0000
#define SMTO_BLOCK 0x0001
#define SMTO_ABORTIFHUNG 0x0002

// Message boxes.
#define MB_OK 0x00000000L
#define MB_OKCANCEL 0x00000001L
#define MB_ABORTRETRYIGNORE 0x00000002L
#define MB_YESNOCANCEL 0x00000003L
#define MB_YESNO 0x00000004L
#define MB_RETRYCANCEL 0x00000005L
#define MB_TYPEMASK 0x0000000FL
#define MB_ICONHAND 0x00000010L
#define MB_ICONQUESTION 0x00000020L
#define MB_ICONEXCLAMATION 0x00000030L
#define MB_ICONASTERISK 0x00000040L
#define MB_ICONERROR MB_ICONHAND
#define MB_ICONWARNING MB_ICONEXCLAMATION
#define MB_ICONINFORMATION MB_ICONASTERISK
#define MB_DEFBUTTON1 0x00000000L
#define MB_DEFBUTTON2 0x00000100L
#define MB_DEFBUTTON3 0x00000200L
#define MB_DEFMASK 0x00000F00L
#define MB_APPLMODAL 0x00000000L
#define MB_SETFOREGROUND 0x00010000L
#define MB_TOPMOST 0x00040000L
#define IDOK 1
#define IDCANCEL 2
#define IDABORT 3
#define IDRETRY 4
#define IDIGNORE 5
#define IDYES 6
#define IDNO 7

// GetSystemMetrics.
#define SM_CXSCREEN 0
#define SM_CYSCREEN 1
#define SM_CXVSCROLL 2  // width of a vertical scroll bar: 13 pixels at 96 dpi, scaled with the screen
#define SM_CYHSCROLL 3  // height of a horizontal scroll bar

// Classes.
#define CS_VREDRAW 0x0001
#define CS_HREDRAW 0x0002
#define CS_DBLCLKS 0x0008
#define CS_NOCLOSE 0x0200
#define CS_PARENTDC 0x0080
#define CS_GLOBALCLASS 0x4000

ATOM RegisterClassW(const WNDCLASSW* wc);
BOOL UnregisterClassW(LPCWSTR className, HINSTANCE instance);
BOOL GetClassInfoW(HINSTANCE instance, LPCWSTR className, LPWNDCLASSW wc);
int GetClassNameW(HWND window, LPWSTR name, int cch);

HWND CreateWindowExW(DWORD exStyle, LPCWSTR className, LPCWSTR title, DWORD style, int x, int y, int width,
                     int height, HWND parent, HMENU menuOrId, HINSTANCE instance, LPVOID param);
inline HWND CreateWindowW(LPCWSTR className, LPCWSTR title, DWORD style, int x, int y, int width, int height,
                          HWND parent, HMENU menuOrId, HINSTANCE instance, LPVOID param) {
  return CreateWindowExW(0, className, title, style, x, y, width, height, parent, menuOrId, instance, param);
}
BOOL DestroyWindow(HWND window);
BOOL IsWindow(HWND window);
LRESULT DefWindowProcW(HWND window, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT CallWindowProcW(WNDPROC proc, HWND window, UINT msg, WPARAM wParam, LPARAM lParam);

LONG_PTR GetWindowLongW(HWND window, int index);
LONG_PTR SetWindowLongW(HWND window, int index, LONG_PTR value);
inline LONG_PTR GetWindowLongPtrW(HWND window, int index) { return GetWindowLongW(window, index); }
inline LONG_PTR SetWindowLongPtrW(HWND window, int index, LONG_PTR value) {
  return SetWindowLongW(window, index, value);
}

// Finds a top-level window by class and/or title (null matches any), first
// among this program's windows, then among the other programs' of the
// device root. Names match without regard to case.
HWND FindWindowW(LPCWSTR className, LPCWSTR title);
DWORD GetWindowThreadProcessId(HWND window, LPDWORD processId);
// Calls proc for every top-level window, this program's first, then the
// other programs' of the device root, until it returns FALSE.
typedef BOOL (*WNDENUMPROC)(HWND, LPARAM);
BOOL EnumWindows(WNDENUMPROC proc, LPARAM lParam);

HWND GetParent(HWND window);
HWND SetParent(HWND window, HWND parent);
HWND GetWindow(HWND window, UINT relation);
BOOL IsChild(HWND parent, HWND window);
HWND GetDlgItem(HWND dialog, int id);
int GetDlgCtrlID(HWND window);
BOOL SetWindowTextW(HWND window, LPCWSTR text);
int GetWindowTextW(HWND window, LPWSTR text, int cch);
int GetWindowTextLengthW(HWND window);
BOOL ShowWindow(HWND window, int command);
BOOL IsWindowVisible(HWND window);
BOOL EnableWindow(HWND window, BOOL enable);
BOOL IsWindowEnabled(HWND window);
BOOL MoveWindow(HWND window, int x, int y, int width, int height, BOOL repaint);
BOOL SetWindowPos(HWND window, HWND after, int x, int y, int width, int height, UINT flags);
// Rectangles are in screen co-ordinates; a child's position is kept
// relative to its parent's client area, which is the whole window.
BOOL GetWindowRect(HWND window, LPRECT rect);
BOOL GetClientRect(HWND window, LPRECT rect);
BOOL ClientToScreen(HWND window, LPPOINT point);
BOOL ScreenToClient(HWND window, LPPOINT point);
BOOL InvalidateRect(HWND window, const RECT* rect, BOOL erase);
BOOL ValidateRect(HWND window, const RECT* rect);
BOOL UpdateWindow(HWND window);
// True (and the update area) while a WM_PAINT is owed to the window.
BOOL GetUpdateRect(HWND window, LPRECT rect, BOOL erase);
HWND SetFocus(HWND window);
HWND GetFocus();
BOOL SetForegroundWindow(HWND window);
HWND GetForegroundWindow();
HWND GetActiveWindow();
HWND SetActiveWindow(HWND window);
HWND SetCapture(HWND window);
BOOL ReleaseCapture();
HWND GetCapture();
int GetSystemMetrics(int index);

// Messages and queues.
BOOL GetMessageW(LPMSG msg, HWND window, UINT first, UINT last);
BOOL PeekMessageW(LPMSG msg, HWND window, UINT first, UINT last, UINT remove);
LRESULT DispatchMessageW(const MSG* msg);
BOOL TranslateMessage(const MSG* msg);
BOOL PostMessageW(HWND window, UINT msg, WPARAM wParam, LPARAM lParam);
BOOL PostThreadMessageW(DWORD threadId, UINT msg, WPARAM wParam, LPARAM lParam);
LRESULT SendMessageW(HWND window, UINT msg, WPARAM wParam, LPARAM lParam);
// 0 when the time-out ran out, the window does not exist or its program has
// gone; the result of the window procedure goes to result.
LRESULT SendMessageTimeoutW(HWND window, UINT msg, WPARAM wParam, LPARAM lParam, UINT flags, UINT timeoutMs,
                            DWORD_PTR* result);
// Sends to a window of this thread at once; to another thread's window
// the message is queued as a sent message without waiting for it.
BOOL SendNotifyMessageW(HWND window, UINT msg, WPARAM wParam, LPARAM lParam);
void PostQuitMessage(int exitCode);
BOOL WaitMessage();
BOOL InSendMessage();
// One number (0xC000 to 0xFFFF) per name, the same in every program of the
// device root; names match without regard to case.
UINT RegisterWindowMessageW(LPCWSTR name);

UINT_PTR SetTimer(HWND window, UINT_PTR id, UINT elapseMs, TIMERPROC proc);
BOOL KillTimer(HWND window, UINT_PTR id);

int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type);
// A string of the module's string table (RT_STRING blocks of 16): copies
// it into text (cch characters with the terminator) and returns its length;
// with cch 0, text receives a pointer to the read-only string. 0 when the
// string does not exist.
int LoadStringW(HINSTANCE instance, UINT id, LPWSTR text, int cch);
BOOL MessageBeep(UINT type);

// Cursors. The platform's own two: the normal pointer (IDC_ARROW) and the
// wait cursor (IDC_WAIT), which a program shows while it works through a
// long step and takes away after. LoadCursorW gives them for a null
// instance (the programs bring no cursors of their own: a name of a module
// finds nothing). SetCursorW makes one current for the whole program, from
// any thread, and returns the one it replaces (null before the first);
// null, like the normal pointer, shows no wait. The display layer shows the
// wait cursor as the desktop's wait cursor over the window and as a busy
// sign in the middle of the device screen's pictures (display/display.h).
#define IDC_ARROW MAKEINTRESOURCEW(32512)
#define IDC_WAIT MAKEINTRESOURCEW(32514)
#ifndef ERROR_RESOURCE_NAME_NOT_FOUND
#define ERROR_RESOURCE_NAME_NOT_FOUND 1814L
#endif
HCURSOR LoadCursorW(HINSTANCE instance, LPCWSTR name);
HCURSOR SetCursor(HCURSOR cursor);
HCURSOR GetCursor();

#define GetMessage GetMessageW
#define PeekMessage PeekMessageW
#define DispatchMessage DispatchMessageW
#define PostMessage PostMessageW
#define PostThreadMessage PostThreadMessageW
#define SendMessage SendMessageW
#define SendNotifyMessage SendNotifyMessageW
#define SendMessageTimeout SendMessageTimeoutW
#define RegisterWindowMessage RegisterWindowMessageW
#define RegisterClass RegisterClassW
#define CreateWindowEx CreateWindowExW
#define CreateWindow CreateWindowW
#define DefWindowProc DefWindowProcW
#define CallWindowProc CallWindowProcW
#define GetWindowLong GetWindowLongW
#define SetWindowLong SetWindowLongW
#define FindWindow FindWindowW
#define SetWindowText SetWindowTextW
#define GetWindowText GetWindowTextW
#define MessageBox MessageBoxW
#define LoadString LoadStringW
#define LoadCursor LoadCursorW

namespace qk {
// The device path of the program file of the process that owns the window
// ("\Program Files\Quillet\Quillet.exe"), for this program's windows and the
// other programs' top-level windows; empty when the window is not known.
std::u16string WindowProgramFile(HWND window);
}  // namespace qk

namespace qk {

// Runs a modal loop on the calling thread: gets messages until done() is
// true after a message. Each message first goes through the pre-translate
// chain (the hook below, then the dialog manager of dialog when one is
// given); what neither takes is translated and dispatched. Returns false
// when WM_QUIT ended it; the quit is posted again so that every enclosing
// loop ends too.
bool RunModalLoop(const std::function<bool()>& done, HWND dialog = nullptr);

// The application framework's pre-translation (its windows' own key
// handling up the parents): true when it took the message. Every modal
// loop, and the test pump, run it before they dispatch.
using PreTranslateHook = bool (*)(MSG* msg);
void SetPreTranslateHook(PreTranslateHook hook);
// Runs the hook on msg; false without one.
bool PreTranslate(MSG* msg);

// Called on the creating thread with every new window before it receives
// its first message (WM_NCCREATE): the framework attaches its objects here.
using CreateHook = void (*)(HWND window, CREATESTRUCTW* create);
void SetCreateHook(CreateHook hook);

// Called on the destroying thread with every window of a destroyed tree,
// after its WM_NCDESTROY and before its handle goes: the shell forgets what
// it kept about the window (the task bar's done button goes with its dialog).
using DestroyHook = void (*)(HWND window);
void SetDestroyHook(DestroyHook hook);

// Message boxes: tests answer them. The hook receives the owner, text,
// caption and type and returns the button id. Without a hook a message box
// is shown on the device screen while message boxes are shown (the display
// turns that on while its window is open): a modal box over its owner with
// the caption, the word-wrapped text and the type's buttons, answered by a
// tap on a button, by the arrow keys or Tab and Enter, or by Back (Escape:
// Cancel, else No, else OK; Abort for Abort/Retry/Ignore), which is also
// its answer when the program's end ends it. Otherwise it answers its
// default button at once (headless runs have nobody to ask).
using MessageBoxHook = std::function<int(HWND owner, const std::u16string& text, const std::u16string& caption,
                                         UINT type)>;
void SetMessageBoxHook(MessageBoxHook hook);
void SetMessageBoxesShown(bool shown);

// The deterministic test pump of the calling thread: handles every message
// sent to it, dispatches every posted message, every WM_TIMER due by the
// (possibly frozen) tick count and every owed WM_PAINT, without waiting.
// Like a program's message loop it offers each message to the
// pre-translate hook (the framework's PreTranslateMessage chain, with the
// dialog manager of framework dialogs) and translates key-downs into
// characters before it dispatches.
// Returns the number of messages handled. A WM_QUIT found is left queued.
int PumpMessages();
// Pumps, waiting for new messages, until pred() is true or timeoutMs passed
// (host time). Returns pred().
bool PumpMessagesUntil(const std::function<bool()>& pred, DWORD timeoutMs);
// True when the calling thread's queue holds WM_QUIT; its exit code.
bool QuitPosted(int* exitCode = nullptr);
// Forgets a pending WM_QUIT of the calling thread.
void ClearQuit();
// The count of changes of the calling thread's queue: a message posted or
// sent to it, a settle request, a move of the frozen clock. Read it before
// looking at the queue, then WaitForQueueChange sleeps (in the kernel, at
// most timeoutMs, INFINITE for no limit) until the count differs from it;
// true when it does. Nothing is handled meanwhile.
uint64_t QueueChanges();
bool WaitForQueueChange(uint64_t seen, DWORD timeoutMs);
// Waits (at most timeoutMs) until a message sent to the calling thread is
// waiting, without handling it. True when one is.
bool WaitForSentMessages(DWORD timeoutMs);

// Ending the program from outside its windows: SIGTERM, SIGINT or the
// display window's close button. The request is process-wide and comes
// once: from then on GetMessageW on the program's UI thread (the one that
// called CatchEndSignals, else the one that asked) answers WM_QUIT (exit
// code 0) at once, so every modal loop (dialog boxes, message boxes, popup
// menus, file dialogs, any nested loop) ends as cancelled and the stack
// unwinds to the main loop. The main loop then takes the request
// (TakeProgramEnd) and runs the program's own Exit steps; from that moment
// the loops behave as usual again and later requests change nothing.
// RequestProgramEnd may be called on any thread, but not in a signal
// handler. True when this call made the request.
bool RequestProgramEnd();
// True once an end was requested (also while the Exit steps run).
bool ProgramEndRequested();
// On the UI thread, after its loop ended: true once, when the end was
// requested and not yet taken; the caller runs the Exit steps.
bool TakeProgramEnd();
// Catches SIGTERM and SIGINT for the calling thread's program: the handler
// only writes to a pipe, and a thread that sleeps on the pipe makes the
// request. The calling thread becomes the UI thread whose loops end.
// Call it before the display opens its window. False when the pipe or the
// thread could not be made.
bool CatchEndSignals();

// Screen size used for CW_USEDEFAULT and GetSystemMetrics (480 x 800 until
// the display layer sets it).
void SetScreenSize(int width, int height);
// Where CW_USEDEFAULT puts a top-level window, and how large it makes it:
// the work area (the shell's, below the task bar and above the menu bar);
// the whole screen until one is set (null goes back to that).
void SetDefaultWindowArea(std::function<RECT()> area);

// True while the current cursor is the wait cursor.
bool WaitCursorShown();
// Called after each change of the current cursor, on the thread that made
// it (one hook per process, for the display layer; null removes it).
using CursorHook = void (*)(HCURSOR cursor);
void SetCursorHook(CursorHook hook);

}  // namespace qk
