// The About box: a full-screen modal dialog, built without a dialog
// resource, that paints the program's logo, its name and version, the build
// line, the support line and a grey footer with the maker's name and web
// address. Its left soft key (or the shell's done button) closes it.
#pragma once

#include "framework/afx.h"
#include "gdi/gdi.h"
#include "user/menu.h"

// What the caller shows in the box; read only while the box is open.
struct AboutInfo {
  HMODULE hModule = nullptr;       // the main module
  HMODULE hResModule = nullptr;    // the resource module (the logo is looked for here first)
  WORD nLogoBitmapId = 0;          // bitmap resource, pure red drawn transparently
  HMENU hMenu = nullptr;           // the soft-key bar's menu (its first item is the left key)
  LPCWSTR pszLeftKey = nullptr;    // the left soft key's text
  LPCWSTR pszCaption = nullptr;
  LPCWSTR pszProduct = nullptr;    // drawn bold
  LPCWSTR pszBuild = nullptr;
  BYTE bMobileBuild = 0;           // appends "WM5/WM6 Build" to the build line
  LPCWSTR pszSupportLabel = nullptr;
  LPCWSTR pszYear = nullptr;       // the footer's year
};

// The logo's bitmap resources (quillet/res/bitmaps, drawn by
// quillet/res/tools/make_logo.py): below 192 dpi and at 192 dpi.
#define IDB_ABOUT_LOGO 390
#define IDB_ABOUT_LOGO_192 391

// The maker's texts shown in the support line and the footer.
#define ABOUT_MAKER_NAME u"Marrowby"
#define ABOUT_SUPPORT_ADDRESS u"support@marrowby.example"
#define ABOUT_WEB_ADDRESS u"www.marrowby.example"

// Runs the box modally; returns when it closes.
void ShowAboutBox(AboutInfo* info);
INT_PTR AboutBoxDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
// The build text, followed when the mobile-build flag is set by ", " (only
// after a text) and "WM5/WM6 Build".
CString BuildLineText(LPCWSTR build, BYTE mobileBuild);
// Draws the build line centred on one line at the rectangle's top and
// returns the height it used (text height + 4 + 6 at 96 dpi), or 0 when
// the line is empty.
int DrawBuildLine(HDC hdc, RECT* rect, LPCWSTR build, BYTE mobileBuild);
