// Helpers shared by the screens.
#include "quillet/screens/screen_util.h"

#include "common/localize.h"
#include "quillet/ui/density.h"
#include "shell/aygshell.h"
#include "user/user.h"

int Dx(int n) { return n * GetScreenDpiX() / 96; }
int Dy(int n) { return n * GetScreenDpiY() / 96; }

UINT ImageIdAtLeast192(UINT low, UINT high) { return GetScreenDpiY() >= 192 ? high : low; }
UINT ImageIdAt192(UINT low, UINT high) { return GetScreenDpiY() == 192 ? high : low; }

void FillSolid(HDC hdc, int left, int top, int right, int bottom, COLORREF colour) {
  if (right <= left || bottom <= top) return;
  RECT r{left, top, right, bottom};
  HBRUSH brush = ::CreateSolidBrush(colour);
  ::FillRect(hdc, &r, brush);
  ::DeleteObject(brush);
}

HFONT CreateSystemFont(int weight, int keyHeight, int touchHeight) {
  LOGFONTW font{};
  ::GetObjectW(::GetStockObject(SYSTEM_FONT), sizeof font, &font);
  font.lfWeight = weight;
  const int height = GetTouchFlag() ? touchHeight : keyHeight;
  if (height != kStockFontHeight) font.lfHeight = height;
  return ::CreateFontIndirectW(&font);
}

HFONT CreateWizardFont(BOOL bold) {
  InitScreenDpi(0);
  return CreateSystemFont(bold ? FW_BOLD : FW_NORMAL, Dy(13), bold ? Dy(18) : kStockFontHeight);
}

void SetSoftKeyText(HWND bar, UINT command, LPCWSTR english) {
  CString text = Localized(english);
  TBBUTTONINFOW button{};
  button.cbSize = sizeof button;
  button.dwMask = TBIF_TEXT;
  button.pszText = const_cast<LPWSTR>(text.GetString());
  ::SendMessageW(bar, TB_SETBUTTONINFO, command, reinterpret_cast<LPARAM>(&button));
}

HWND CreateMenuBar(HWND parent, UINT toolBarId) {
  SHMENUBARINFO info{};
  info.cbSize = sizeof info;
  info.hwndParent = parent;
  info.nToolBarId = toolBarId;
  return SHCreateMenuBar(&info) ? info.hwndMB : nullptr;
}

void OnActivateFullScreen(HWND screen) {
  if (screen) SHFullScreen(screen, SHFS_HIDESIPBUTTON);
}

bool IsWithin(HWND root, HWND window) {
  for (HWND w = window; w; w = ::GetParent(w)) {
    if (w == root) return true;
    if (!(::GetWindowLongW(w, GWL_STYLE) & WS_CHILD)) return false;
  }
  return false;
}

void TellAlreadySubscribed(HWND page, const std::vector<CString>& titles) {
  if (titles.empty()) return;
  // The fixed text is translated; the titles are shown as they are.
  CString text = Localized(titles.size() == 1 ? u"This channel is already subscribed and was not added again:"
                                              : u"These channels are already subscribed and were not added again:");
  for (const CString& title : titles) text += u"\n" + title;
  ::MessageBoxW(page, text, Localized(u"New Channel Wizard"), MB_OK | MB_ICONINFORMATION);
}
