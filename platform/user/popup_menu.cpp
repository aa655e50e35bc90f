// Popup menus drawn at a point (see user/menu.h).
#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "gdi/gdi.h"
#include "user/dialog.h"
#include "user/input.h"
#include "user/menu.h"
#include "user/user.h"

namespace {

std::mutex g_lock;
qk::PopupMenuHook g_hook;

struct Row {
  UINT id = 0;
  bool separator = false, grey = false, checked = false;
  std::u16string text;
  int top = 0, bottom = 0;
};

struct Popup {
  std::vector<Row> rows;
  int hot = -1;       // the row under the pointer or chosen by the keys
  bool done = false;
  UINT chosen = 0;
};

constexpr int kPad = 6;

Popup* PopupOf(HWND hwnd) { return reinterpret_cast<Popup*>(GetWindowLongW(hwnd, GWL_USERDATA)); }

int RowAt(const Popup& p, int y) {
  for (size_t i = 0; i < p.rows.size(); ++i)
    if (y >= p.rows[i].top && y < p.rows[i].bottom && !p.rows[i].separator && !p.rows[i].grey)
      return static_cast<int>(i);
  return -1;
}

void Step(Popup& p, int direction) {
  int n = static_cast<int>(p.rows.size());
  for (int k = 1; k <= n; ++k) {
    int i = ((p.hot < 0 ? (direction > 0 ? -1 : 0) : p.hot) + direction * k + n * 2) % n;
    if (!p.rows[i].separator && !p.rows[i].grey) {
      p.hot = i;
      return;
    }
  }
}

LRESULT PopupProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  Popup* p = PopupOf(hwnd);
  switch (msg) {
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(hwnd, &ps);
      if (dc && p) {
        RECT client;
        GetClientRect(hwnd, &client);
        FillRect(dc, &client, GetSysColorBrush(COLOR_MENU));
        HGDIOBJ oldFont = SelectObject(dc, GetStockObject(SYSTEM_FONT));
        SetBkMode(dc, TRANSPARENT);
        for (size_t i = 0; i < p->rows.size(); ++i) {
          const Row& row = p->rows[i];
          RECT r{0, row.top, client.right, row.bottom};
          if (row.separator) {
            RECT line{kPad, (row.top + row.bottom) / 2, client.right - kPad, (row.top + row.bottom) / 2 + 1};
            FillRect(dc, &line, GetSysColorBrush(COLOR_GRAYTEXT));
            continue;
          }
          bool hot = static_cast<int>(i) == p->hot;
          if (hot) FillRect(dc, &r, GetSysColorBrush(COLOR_HIGHLIGHT));
          SetTextColor(dc, row.grey ? GetSysColor(COLOR_GRAYTEXT)
                                    : GetSysColor(hot ? COLOR_HIGHLIGHTTEXT : COLOR_MENUTEXT));
          RECT text{r.left + kPad * 3, r.top, r.right - kPad, r.bottom};
          DrawTextW(dc, row.text.c_str(), -1, &text, DT_SINGLELINE | DT_VCENTER | DT_LEFT);
          if (row.checked) {
            RECT mark{r.left + kPad, r.top + (r.bottom - r.top) / 2 - 2, r.left + kPad + 5,
                      r.top + (r.bottom - r.top) / 2 + 3};
            FillRect(dc, &mark, GetSysColorBrush(hot ? COLOR_HIGHLIGHTTEXT : COLOR_MENUTEXT));
          }
        }
        SelectObject(dc, oldFont);
      }
      EndPaint(hwnd, &ps);
      return 0;
    }
    case WM_LBUTTONDOWN:
    case WM_MOUSEMOVE: {
      if (!p) return 0;
      int x = static_cast<short>(LOWORD(lParam)), y = static_cast<short>(HIWORD(lParam));
      RECT client;
      GetClientRect(hwnd, &client);
      bool inside = x >= 0 && y >= 0 && x < client.right && y < client.bottom;
      if (msg == WM_LBUTTONDOWN && !inside) {
        p->done = true;  // a tap beside the menu closes it
        return 0;
      }
      int row = inside ? RowAt(*p, y) : -1;
      if (row != p->hot) {
        p->hot = row;
        InvalidateRect(hwnd, nullptr, TRUE);
      }
      return 0;
    }
    case WM_LBUTTONUP: {
      if (!p) return 0;
      int y = static_cast<short>(HIWORD(lParam));
      int x = static_cast<short>(LOWORD(lParam));
      RECT client;
      GetClientRect(hwnd, &client);
      int row = x >= 0 && x < client.right ? RowAt(*p, y) : -1;
      if (row >= 0) {
        p->chosen = p->rows[row].id;
        p->done = true;
      }
      return 0;
    }
    case WM_KEYDOWN:
      if (!p) return 0;
      if (wParam == VK_ESCAPE) {
        p->done = true;
      } else if (wParam == VK_DOWN || wParam == VK_UP) {
        Step(*p, wParam == VK_DOWN ? 1 : -1);
        InvalidateRect(hwnd, nullptr, TRUE);
      } else if (wParam == VK_RETURN && p->hot >= 0) {
        p->chosen = p->rows[p->hot].id;
        p->done = true;
      }
      return 0;
    case WM_CANCELMODE:
      if (p) p->done = true;
      return 0;
    default:
      return DefWindowProcW(hwnd, msg, wParam, lParam);
  }
}

UINT RunPopup(HMENU menu, UINT flags, int x, int y, HWND owner) {
  static std::once_flag once;
  std::call_once(once, [] {
    WNDCLASSW wc{};
    wc.lpfnWndProc = PopupProc;
    wc.lpszClassName = u"#32768";
    RegisterClassW(&wc);
  });
  Popup popup;
  HDC screen = GetDC(nullptr);
  HGDIOBJ oldFont = screen ? SelectObject(screen, GetStockObject(SYSTEM_FONT)) : nullptr;
  TEXTMETRICW tm{};
  if (screen) GetTextMetricsW(screen, &tm);
  int rowHeight = std::max<int>(tm.tmHeight, 8) + kPad * 2;
  int width = 0, height = 0;
  int count = GetMenuItemCount(menu);
  for (int i = 0; i < count; ++i) {
    MENUITEMINFOW info{};
    WCHAR text[256] = {};
    info.cbSize = sizeof info;
    info.fMask = MIIM_FTYPE | MIIM_STATE | MIIM_ID | MIIM_STRING | MIIM_SUBMENU;
    info.dwTypeData = text;
    info.cch = 256;
    if (!GetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &info)) continue;
    Row row;
    row.id = info.wID;
    row.separator = (info.fType & MFT_SEPARATOR) != 0;
    // Items that open submenus are shown grey: the popup shows one level.
    row.grey = (info.fState & MFS_GRAYED) != 0 || info.hSubMenu != nullptr;
    row.checked = (info.fState & MFS_CHECKED) != 0;
    row.text = text;
    row.top = height;
    height += row.separator ? kPad : rowHeight;
    row.bottom = height;
    if (!row.separator && screen) {
      SIZE size{0, 0};
      GetTextExtentPoint32W(screen, text, static_cast<int>(row.text.size()), &size);
      width = std::max<int>(width, size.cx + kPad * 5);
    }
    popup.rows.push_back(std::move(row));
  }
  if (screen) {
    SelectObject(screen, oldFont);
    ReleaseDC(nullptr, screen);
  }
  if (popup.rows.empty()) return 0;
  width = std::max(width, rowHeight * 3);
  if (flags & TPM_RIGHTALIGN) x -= width;
  else if (flags & TPM_CENTERALIGN) x -= width / 2;
  if (flags & TPM_BOTTOMALIGN) y -= height;
  else if (flags & TPM_VCENTERALIGN) y -= height / 2;
  int sw = GetSystemMetrics(SM_CXSCREEN), sh = GetSystemMetrics(SM_CYSCREEN);
  x = std::max(0, std::min(x, sw - width));
  y = std::max(0, std::min(y, sh - height));
  HWND hwnd = CreateWindowExW(WS_EX_TOPMOST | WS_EX_NOACTIVATE, u"#32768", u"", WS_POPUP | WS_BORDER, x, y, width,
                              height, owner, nullptr, nullptr, nullptr);
  if (!hwnd) return 0;
  SetWindowLongW(hwnd, GWL_USERDATA, reinterpret_cast<LONG_PTR>(&popup));
  ShowWindow(hwnd, SW_SHOWNA);
  HWND oldCapture = SetCapture(hwnd);
  MSG msg;
  while (!popup.done) {
    BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == 0 || got == -1) {
      if (got == 0) PostQuitMessage(static_cast<int>(msg.wParam));
      break;
    }
    if (owner && !IsWindow(owner)) break;
    // The menu takes the keys while it is open.
    if (msg.message == WM_KEYDOWN || msg.message == WM_KEYUP || msg.message == WM_CHAR) msg.hwnd = hwnd;
    DispatchMessageW(&msg);
  }
  if (GetCapture() == hwnd) {
    ReleaseCapture();
    if (oldCapture && IsWindow(oldCapture)) SetCapture(oldCapture);
  }
  SetWindowLongW(hwnd, GWL_USERDATA, 0);
  DestroyWindow(hwnd);
  return popup.chosen;
}

}  // namespace

BOOL TrackPopupMenuEx(HMENU menu, UINT flags, int x, int y, HWND owner, LPTPMPARAMS) {
  if (!IsMenu(menu)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (owner && !(flags & TPM_NONOTIFY)) SendMessageW(owner, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(menu), 0);
  qk::PopupMenuHook hook;
  {
    std::lock_guard<std::mutex> g(g_lock);
    hook = g_hook;
  }
  UINT chosen = hook ? hook(menu, owner) : RunPopup(menu, flags, x, y, owner);
  if (chosen) {
    UINT state = GetMenuState(menu, chosen, MF_BYCOMMAND);
    if (state == static_cast<UINT>(-1) || (state & (MF_GRAYED | MF_DISABLED | MF_POPUP))) chosen = 0;
  }
  if (flags & TPM_RETURNCMD) return static_cast<BOOL>(chosen);
  if (chosen && owner) PostMessageW(owner, WM_COMMAND, MAKEWPARAM(chosen, 0), 0);
  return chosen ? TRUE : FALSE;
}

BOOL TrackPopupMenu(HMENU menu, UINT flags, int x, int y, int, HWND owner, const RECT*) {
  return TrackPopupMenuEx(menu, flags, x, y, owner, nullptr);
}

namespace qk {
void SetPopupMenuHook(PopupMenuHook hook) {
  std::lock_guard<std::mutex> g(g_lock);
  g_hook = std::move(hook);
}
}  // namespace qk
