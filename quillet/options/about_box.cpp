#include "quillet/options/about_box.h"

#include <algorithm>
#include <iterator>
#include <vector>

#include "common/localize.h"
#include "quillet/ui/bitmap_resource.h"
#include "quillet/ui/density.h"
#include "shell/aygshell.h"
#include "user/dialog.h"

namespace {

// The open box's state: one box at a time.
struct AboutState {
  HFONT normal = nullptr;
  HFONT bold = nullptr;
  HWND menuBar = nullptr;
  AboutInfo* info = nullptr;
  SHACTIVATEINFO activate{};
};
AboutState g_about;

HFONT MakeFont(int weight) {
  LOGFONTW font{};
  font.lfHeight = ScaleY(12);
  font.lfWeight = weight;
  const char16_t face[] = u"Tahoma";
  std::copy(std::begin(face), std::end(face), font.lfFaceName);
  return ::CreateFontIndirectW(&font);
}

int TextHeight(HDC hdc, LPCWSTR text) {
  RECT r{0, 0, 0x7fff, 0};
  ::DrawTextW(hdc, text && *text ? text : u" ", -1, &r, DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
  return r.bottom - r.top;
}

// Draws one centred line at the rectangle's top; the height it took.
int DrawLine(HDC hdc, const RECT& area, LPCWSTR text) {
  RECT r = area;
  const int height = TextHeight(hdc, text);
  r.bottom = r.top + height;
  ::DrawTextW(hdc, text, -1, &r, DT_CENTER | DT_SINGLELINE | DT_NOPREFIX | DT_TOP);
  return height;
}

void InitAboutBox(HWND dialog, AboutInfo* info) {
  g_about.info = info;
  g_about.normal = MakeFont(100);
  g_about.bold = MakeFont(700);
  g_about.activate = SHACTIVATEINFO{};
  g_about.activate.cbSize = sizeof g_about.activate;
  if (info && info->pszCaption) ::SetWindowTextW(dialog, info->pszCaption);
  SHINITDLGINFO init{SHIDIM_FLAGS, dialog, SHIDIF_DONEBUTTON | SHIDIF_SIZEDLGFULLSCREEN | SHIDIF_SIPDOWN};
  SHInitDialog(&init);
  if (!info || !info->hMenu) return;
  SHMENUBARINFO bar{};
  bar.cbSize = sizeof bar;
  bar.hwndParent = dialog;
  bar.dwFlags = SHCMBF_HMENU | SHCMBF_HIDESIPBUTTON;
  bar.nToolBarId = static_cast<UINT>(reinterpret_cast<uintptr_t>(info->hMenu));
  bar.hInstRes = info->hModule;
  if (!SHCreateMenuBar(&bar)) return;
  g_about.menuBar = bar.hwndMB;
  TBBUTTONINFOW button{};
  button.cbSize = sizeof button;
  button.dwMask = TBIF_BYINDEX | TBIF_COMMAND | TBIF_TEXT;
  button.idCommand = IDOK;
  button.pszText = const_cast<LPWSTR>(info->pszLeftKey ? info->pszLeftKey : u"");
  ::SendMessageW(bar.hwndMB, TB_SETBUTTONINFO, 0, reinterpret_cast<LPARAM>(&button));
}

void PaintAboutBox(HWND dialog) {
  PAINTSTRUCT ps;
  HDC hdc = ::BeginPaint(dialog, &ps);
  const AboutInfo* info = g_about.info;
  if (!hdc || !info) {
    if (hdc) ::EndPaint(dialog, &ps);
    return;
  }
  InitScreenDpi(0);
  RECT client;
  ::GetClientRect(dialog, &client);
  // The box is drawn whole on the window colour: the dialog leaves its
  // background to this painting.
  ::FillRect(hdc, &client, ::GetSysColorBrush(COLOR_WINDOW));
  RECT area = client;
  const bool landscape = ::GetSystemMetrics(SM_CXSCREEN) > ::GetSystemMetrics(SM_CYSCREEN);

  HBITMAP logo = info->hResModule ? LoadBitmapResource(info->hResModule, info->nLogoBitmapId) : nullptr;
  if (!logo) logo = LoadBitmapResource(info->hModule, info->nLogoBitmapId);
  if (logo) {
    BITMAP bm{};
    ::GetObjectW(logo, sizeof bm, &bm);
    HDC mem = ::CreateCompatibleDC(hdc);
    HGDIOBJ old = ::SelectObject(mem, logo);
    const int x = landscape ? ScaleX(16) : (client.right - client.left - bm.bmWidth) / 2;
    const int y = landscape ? ScaleY(16) : ScaleY(8);
    ::TransparentBlt(hdc, x, y, bm.bmWidth, bm.bmHeight, mem, 0, 0, bm.bmWidth, bm.bmHeight, RGB(255, 0, 0));
    ::SelectObject(mem, old);
    ::DeleteDC(mem);
    ::DeleteObject(logo);
    if (landscape)
      area.left += ScaleX(10) + bm.bmWidth;
    else
      area.top += ScaleY(8) + bm.bmHeight;
  }
  ::SetTextColor(hdc, RGB(0, 0, 0));
  ::SetBkMode(hdc, TRANSPARENT);

  HGDIOBJ oldFont = ::SelectObject(hdc, g_about.bold);
  area.top += DrawLine(hdc, area, info->pszProduct ? info->pszProduct : u"") + ScaleY(4);
  area.top += DrawBuildLine(hdc, &area, info->pszBuild, info->bMobileBuild);

  ::SelectObject(hdc, g_about.normal);
  area.top += ScaleY(10);
  CString support = info->pszSupportLabel ? info->pszSupportLabel : u"";
  support += u": ";
  support += ABOUT_SUPPORT_ADDRESS;
  area.top += DrawLine(hdc, area, support) + ScaleY(8);

  // The footer ends 6 above the bottom, when it fits below the support line.
  CString footer;
  footer.Format(u"Copyright %s %s", info->pszYear ? info->pszYear : u"", ABOUT_MAKER_NAME);
  footer += u"\n";
  footer += Localized(u"Visit us");
  footer += u": ";
  footer += ABOUT_WEB_ADDRESS;
  RECT measure{area.left, 0, area.right, 0};
  ::DrawTextW(hdc, footer, -1, &measure, DT_CALCRECT | DT_CENTER | DT_WORDBREAK | DT_NOPREFIX);
  const int height = measure.bottom - measure.top;
  RECT foot{area.left, client.bottom - ScaleY(6) - height, area.right, client.bottom - ScaleY(6)};
  if (foot.top >= area.top) {
    ::SetTextColor(hdc, RGB(160, 160, 160));
    ::DrawTextW(hdc, footer, -1, &foot, DT_CENTER | DT_WORDBREAK | DT_NOPREFIX);
  }
  ::SelectObject(hdc, oldFont);
  ::EndPaint(dialog, &ps);
}

}  // namespace

CString BuildLineText(LPCWSTR build, BYTE mobileBuild) {
  CString text = build ? build : u"";
  if (mobileBuild) {
    if (!text.IsEmpty()) text += u", ";
    text += u"WM5/WM6 Build";
  }
  return text;
}

int DrawBuildLine(HDC hdc, RECT* rect, LPCWSTR build, BYTE mobileBuild) {
  CString text = BuildLineText(build, mobileBuild);
  if (text.IsEmpty() || !rect) return 0;
  return DrawLine(hdc, *rect, text) + ScaleY(4) + ScaleY(6);
}

INT_PTR AboutBoxDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      InitAboutBox(dialog, reinterpret_cast<AboutInfo*>(lParam));
      return TRUE;
    case WM_PAINT:
      PaintAboutBox(dialog);
      return TRUE;
    case WM_SIZE:
      ::InvalidateRect(dialog, nullptr, FALSE);
      ::UpdateWindow(dialog);
      return TRUE;
    case WM_ACTIVATE:
      SHHandleWMActivate(dialog, wParam, lParam, &g_about.activate, 0);
      return TRUE;
    case WM_SETTINGCHANGE:
      SHHandleWMSettingChange(dialog, wParam, lParam, &g_about.activate);
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK) {
        ::EndDialog(dialog, 1);
        return TRUE;
      }
      // The Back key (Escape, and Backspace outside an edit) closes the box
      // as it leaves every other screen.
      if (LOWORD(wParam) == IDCANCEL) {
        ::EndDialog(dialog, IDCANCEL);
        return TRUE;
      }
      return FALSE;
    case WM_DESTROY:
      if (g_about.normal) ::DeleteObject(g_about.normal);
      if (g_about.bold) ::DeleteObject(g_about.bold);
      g_about.normal = g_about.bold = nullptr;
      if (g_about.menuBar && ::IsWindow(g_about.menuBar)) ::DestroyWindow(g_about.menuBar);
      g_about.menuBar = nullptr;
      return TRUE;
    default:
      return FALSE;
  }
}

void ShowAboutBox(AboutInfo* info) {
  static const std::vector<DWORD> dialog =
      qk::DialogTemplateBuilder(WS_POPUP | WS_VISIBLE | WS_CAPTION, 0, 0, 0, 0, 0).Build();
  ::DialogBoxIndirectParamW(info ? info->hModule : nullptr, reinterpret_cast<LPCDLGTEMPLATE>(dialog.data()), nullptr,
                            AboutBoxDlgProc, reinterpret_cast<LPARAM>(info));
  g_about.info = nullptr;
}
