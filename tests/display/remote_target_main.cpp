// A small window program that the remote-driving test starts as a real
// second process. Its main window fills the screen in red, has a menu bar
// with two soft keys (the right one opens a menu) and a repeating
// five-second timer, and opens a modal
// dialog (an edit box, OK and Cancel) when tapped in its top band. What
// reaches it is logged in the main window's title, one entry per ";", so
// that the test reads it over the bus:
//   down x,y / up x,y        stylus on the main window (client co-ordinates)
//   key N / char C           a key-down / a character on the main window
//   box N                    key M asked a question; N is the answer
//   command N                a soft key's or the menu's command
//   timer                    the timer fired
//   dialog X,Y               the dialog opened; X,Y is the centre of Cancel
//   dialog-timer             the timer fired while the dialog was up
//   end N TEXT               the dialog ended with N and the edit's text
#include <string>

#include "controls/commctrl.h"
#include "display/display.h"
#include "kernel/kernel.h"
#include "kernel/resource.h"
#include "shell/aygshell.h"
#include "user/dialog.h"
#include "user/input.h"
#include "user/user.h"

namespace {

constexpr int kEdit = 100;
constexpr UINT kLeftCommand = 201, kRightCommand = 202, kMenuCommand = 203, kBarId = 300;
HWND g_main = nullptr;
std::u16string g_log;
bool g_inDialog = false;

void Log(const std::u16string& entry) {
  g_log += entry + u";";
  SetWindowTextW(g_main, g_log.c_str());
}

std::u16string Num(long n) {
  std::string s = std::to_string(n);
  return std::u16string(s.begin(), s.end());
}

INT_PTR CALLBACK DialogProc(HWND dlg, UINT msg, WPARAM wParam, LPARAM) {
  switch (msg) {
    case WM_INITDIALOG: {
      RECT r;
      GetWindowRect(GetDlgItem(dlg, IDCANCEL), &r);
      Log(u"dialog " + Num((r.left + r.right) / 2) + u"," + Num((r.top + r.bottom) / 2));
      SetFocus(GetDlgItem(dlg, kEdit));
      return FALSE;
    }
    case WM_CTLCOLORDLG:  // a white dialog
      return reinterpret_cast<INT_PTR>(GetStockObject(WHITE_BRUSH));
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
        WCHAR text[64] = {};
        GetDlgItemTextW(dlg, kEdit, text, 64);
        Log(u"end " + Num(LOWORD(wParam)) + u" " + text);
        EndDialog(dlg, LOWORD(wParam));
      }
      return TRUE;
    default:
      return FALSE;
  }
}

void RunDialog(HWND owner) {
  static const std::vector<DWORD> bytes =
      qk::DialogTemplateBuilder(WS_POPUP | WS_VISIBLE | WS_BORDER, 0, 20, 60, 120, 60, u"Ask")
          .Control(u"EDIT", u"", kEdit, WS_VISIBLE | WS_TABSTOP | WS_BORDER, 5, 5, 110, 14)
          .Control(u"BUTTON", u"OK", IDOK, WS_VISIBLE | BS_DEFPUSHBUTTON | WS_TABSTOP, 10, 35, 45, 16)
          .Control(u"BUTTON", u"Cancel", IDCANCEL, WS_VISIBLE | BS_PUSHBUTTON | WS_TABSTOP, 65, 35, 45, 16)
          .Build();
  g_inDialog = true;
  DialogBoxIndirectParamW(nullptr, reinterpret_cast<LPCDLGTEMPLATE>(bytes.data()), owner, DialogProc, 0);
  g_inDialog = false;
}

LRESULT CALLBACK MainProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(hwnd, &ps);
      RECT r;
      GetClientRect(hwnd, &r);
      HBRUSH red = CreateSolidBrush(RGB(200, 30, 30));
      FillRect(dc, &r, red);
      DeleteObject(red);
      EndPaint(hwnd, &ps);
      return 0;
    }
    case WM_LBUTTONDOWN:
      Log(u"down " + Num(static_cast<short>(LOWORD(lParam))) + u"," + Num(static_cast<short>(HIWORD(lParam))));
      return 0;
    case WM_LBUTTONUP:
      Log(u"up " + Num(static_cast<short>(LOWORD(lParam))) + u"," + Num(static_cast<short>(HIWORD(lParam))));
      if (static_cast<short>(HIWORD(lParam)) < 100) RunDialog(hwnd);
      return 0;
    case WM_KEYDOWN:
      Log(u"key " + Num(static_cast<long>(wParam)));
      if (wParam == 'M') Log(u"box " + Num(MessageBoxW(hwnd, u"Delete it?\nFor good.", u"Target", MB_YESNO)));
      return 0;
    case WM_CHAR:
      Log(u"char " + std::u16string(1, static_cast<char16_t>(wParam)));
      return 0;
    case WM_COMMAND:
      Log(u"command " + Num(LOWORD(wParam)));
      return 0;
    case WM_TIMER:
      Log(g_inDialog ? u"dialog-timer" : u"timer");
      return 0;
    case WM_SETTEXT:
    case WM_GETTEXT:
      return DefWindowProcW(hwnd, msg, wParam, lParam);
    case WM_CLOSE:
      DestroyWindow(hwnd);
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(hwnd, msg, wParam, lParam);
  }
}

}  // namespace

int main() {
  qk::display::ConnectScreen();
  InitCommonControls();
  // The right soft key opens a menu of one entry.
  static const std::vector<BYTE> menu = qk::shell::BuildMenuTemplate({{u"Menu", 0, 0, {{u"Hello", kMenuCommand, 0, {}}}}});
  static const std::vector<BYTE> bar = qk::shell::BuildMenuBarResource(
      kBarId, {{kLeftCommand}, {kRightCommand, TBSTATE_ENABLED, TBSTYLE_DROPDOWN, 0, 0}});
  static const qk::ResourceEntry entries[] = {{nullptr, 4, kBarId, nullptr, menu.data(), menu.size()},
                                              {nullptr, 10, kBarId, nullptr, bar.data(), bar.size()}};
  qk::RegisterResources(nullptr, entries, 2);

  WNDCLASSW wc{};
  wc.lpfnWndProc = MainProc;
  wc.lpszClassName = u"RemoteTargetWnd";
  RegisterClassW(&wc);
  RECT work = qk::shell::VisibleDesktop();
  g_main = CreateWindowExW(0, u"RemoteTargetWnd", u"", WS_VISIBLE, work.left, work.top, work.right - work.left,
                           work.bottom - work.top, nullptr, nullptr, nullptr, nullptr);
  if (!g_main) return 2;
  SHMENUBARINFO mbi{};
  mbi.cbSize = sizeof mbi;
  mbi.hwndParent = g_main;
  mbi.nToolBarId = kBarId;
  if (!SHCreateMenuBar(&mbi)) return 3;
  SetTimer(g_main, 7, 5000, nullptr);
  MSG m;
  while (GetMessageW(&m, nullptr, 0, 0)) {
    TranslateMessage(&m);
    DispatchMessageW(&m);
  }
  return static_cast<int>(m.wParam);
}
