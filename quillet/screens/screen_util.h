// Small drawing and soft-key helpers the program's screens share.
#pragma once

#include <vector>

#include "framework/afx.h"
#include "gdi/gdi.h"

// A length at 96 dots per inch in pixels of the screen, truncated (ScaleX /
// ScaleY round instead; the screens that use these keep their truncation).
int Dx(int n);
int Dy(int n);

// The high-density image id on a screen of 192 dots per inch or more, the
// other one below.
UINT ImageIdAtLeast192(UINT low, UINT high);
// The high-density image id on a screen of exactly 192 dots per inch, the
// other one at any other density.
UINT ImageIdAt192(UINT low, UINT high);

// Fills the rectangle with one colour; an empty rectangle draws nothing.
void FillSolid(HDC hdc, int left, int top, int right, int bottom, COLORREF colour);

// The stock system font with the weight, keyHeight high on a key device and
// touchHeight high on a touch screen; kStockFontHeight keeps the stock
// font's height.
constexpr int kStockFontHeight = -0x7fffffff - 1;
HFONT CreateSystemFont(int weight, int keyHeight, int touchHeight = kStockFontHeight);
// The font of the new-channel wizard's pages: the system font, 13 high on a
// key device; the bold one 18 high on a touch screen.
HFONT CreateWizardFont(BOOL bold);

// Sets a soft key's text, translated from the English one.
void SetSoftKeyText(HWND bar, UINT command, LPCWSTR english);

// The menu bar of the window made from the resource, or nullptr.
HWND CreateMenuBar(HWND parent, UINT toolBarId);

// The activation handler of the program's full-screen screens: after the
// default handling, the screen stays full screen without the input-panel
// button (also when it is deactivated).
void OnActivateFullScreen(HWND screen);

// Whether the window is the root or one of its child windows (not a popup
// the root owns, such as a file dialog).
bool IsWithin(HWND root, HWND window);

// Tells, in a box owned by the page, that the channels of these titles were
// not added because the channel list holds their feeds already; nothing
// when the list is empty.
void TellAlreadySubscribed(HWND page, const std::vector<CString>& titles);
