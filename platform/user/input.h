// Painting, keyboard and pointer input, and the system parameters.
//
// BeginPaint hands out a DC on the window's area of the device screen (the
// drawing layer's GetDC), clipped to the window's update area, and pays the
// window's WM_PAINT debt. keybd_event
// puts key messages into the queue of the window with the focus (else the
// active window). Tests and the display inject pointer input at screen
// co-ordinates: it goes to the window under the point (or the capture).
#pragma once

#include <string>
#include <vector>

#include "user/user.h"

struct PAINTSTRUCT {
  HDC hdc;
  BOOL fErase;
  RECT rcPaint;
  BOOL fRestore;
  BOOL fIncUpdate;
  BYTE rgbReserved[32];
};
typedef PAINTSTRUCT* LPPAINTSTRUCT;

HDC BeginPaint(HWND window, LPPAINTSTRUCT paint);
BOOL EndPaint(HWND window, const PAINTSTRUCT* paint);

#define KEYEVENTF_EXTENDEDKEY 0x0001
#define KEYEVENTF_KEYUP 0x0002
#define KEYEVENTF_SILENT 0x0004
void keybd_event(BYTE vk, BYTE scan, DWORD flags, ULONG_PTR extra);
// Returns the previous state.
BOOL EnableHardwareKeyboard(BOOL enable);
SHORT GetKeyState(int vk);
SHORT GetAsyncKeyState(int vk);

#define MK_LBUTTON 0x0001
HWND WindowFromPoint(POINT point);
HWND ChildWindowFromPoint(HWND parent, POINT point);

#define SPI_GETPLATFORMTYPE 257
BOOL SystemParametersInfoW(UINT action, UINT param, PVOID value, UINT winIni);
#define SystemParametersInfo SystemParametersInfoW

namespace qk {

// The screen rectangles of the visible windows above window, which its
// painting may not touch: the top-level windows above its top-level window
// in the z-order, and the siblings above it and above each of its parents
// (a later sibling lies above an earlier one). The display gives them to
// the drawing layer, which clips window DCs by them.
std::vector<RECT> WindowsAbove(HWND window);

// Whether the window's painting can show now: it and its parents are
// visible, its top-level window is not minimised, and some of area (client
// co-ordinates; all of the client area when null) lies outside the windows
// above it. Only such windows are painted; the others keep what they are
// owed (merged) until they show, and are painted once then.
bool WindowShows(HWND window, const RECT* area = nullptr);
// Whether the window's top-level window is minimised.
bool InMinimizedWindow(HWND window);
// How many DCs were made on the window and the windows inside it (GetDC of
// them, and so BeginPaint): how often the program drew on them.
uint64_t DrawingsOn(HWND window);

// Posts a pointer message (WM_LBUTTONDOWN, WM_MOUSEMOVE, WM_LBUTTONUP) for a
// screen point to the window under it, or to the window that holds the
// capture; returns that window (null when there is none).
HWND InjectPointer(UINT message, int x, int y);

struct KeyEvent {
  BYTE vk;
  DWORD flags;
  BOOL keyboardEnabled;  // the hardware keyboard's state at the time
};
// A key whose characters reach the program on their own, as WM_CHAR from
// a text source (the display window's text input, which knows the
// desktop's keyboard layout, dead keys and input methods): given to
// keybd_event with its flags, the key's messages carry
// kKeyMessageCharactersApart in lParam and TranslateMessage makes no
// WM_CHAR of them, so no character arrives twice.
constexpr DWORD kKeyEventCharactersApart = 0x0100;
constexpr LPARAM kKeyMessageCharactersApart = static_cast<LPARAM>(1) << 25;

// Posts WM_CHAR for each UTF-16 unit of text (both halves of a surrogate
// pair, in order) to the window with the focus, else the active window;
// returns that window, or null when there is none or it takes no input.
HWND InjectCharacters(const std::u16string& text);

// Every keybd_event of this program, in order (tests look at them).
std::vector<KeyEvent> KeyEvents();
void ClearKeyEvents();

}  // namespace qk
