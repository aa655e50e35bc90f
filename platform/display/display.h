// Showing the device screen: pictures of the screen (or of any bitmap or
// memory DC) as PNG files, and a window that shows the screen where a
// display exists. Headless by default in tests: the window opens only when
// a display is present and QUILLET_HEADLESS is not set.
//
// QUILLET_SCREENSHOT=<host path> asks a running program to write the screen
// to that PNG file: once the program has connected the screen, its message
// loop writes the picture whenever it goes idle after the screen changed,
// and shows the screen in the window and hands the window's input on.
#pragma once

#include <string>

#include "gdi/gdi.h"

namespace qk::display {

// Ties the device screen to the window layer: the window layer's screen
// size (GetSystemMetrics, default window sizes) follows the screen's
// configuration, and GetDC(window) draws on the window's area of the screen.
// Programs call it once at start-up, after any change of the configuration,
// on the thread that runs their windows: it installs Idle as the message
// wait's idle hook (user/idle.h), and the key and picture hooks through
// which a program that drives this one over the bus presses keys (F1 and
// F2 as soft keys, as the window does) and asks for pictures of the screen
// (user/remote.h).
void ConnectScreen();

// What the connecting thread's message wait does when its queue is empty:
// writes the requested picture when the screen changed since the last one,
// shows the screen in the window and turns the window's input into stylus
// and key input (closing the window asks the program to end,
// qk::RequestProgramEnd). Returns how
// long the wait may sleep (INFINITE without a window). Other threads return
// at once.
DWORD Idle();

// PNG of the whole device screen; false when the file cannot be written.
bool WriteScreenPng(const std::string& hostPath);
// PNG of a bitmap, or of the bitmap selected into a memory DC.
bool WriteBitmapPng(HBITMAP bitmap, const std::string& hostPath);
bool WriteDCPng(HDC memoryDC, const std::string& hostPath);

// Writes the screen to $QUILLET_SCREENSHOT when that is set; true when a
// picture was written.
bool WriteRequestedScreenshot();

// True when a window can be shown (a display is present and the program
// was not asked to stay headless).
bool DisplayAvailable();

// Input from the window, in device screen pixels and the platform's
// virtual-key codes. Keys: arrows, Enter, Tab, Home, End, Page Up and Down,
// Insert, Delete, letters, digits, the punctuation keys, the number pad,
// Shift, Control, Alt, F1 to F12 (F1 and F2 are the soft keys), Escape
// (VK_ESCAPE, the phone's Back key) and Backspace (VK_BACK, which the
// delivery makes the Back key unless the focus is an edit with text).
// Text is what the keys typed, as the desktop's text input gives it (its
// keyboard layout, Shift, dead keys and input methods): the key messages of
// printable keys carry no characters of their own. Ctrl+V and Shift+Insert
// paste the desktop's clipboard as typed text; Control with any other
// letter types its control character (in an edit Ctrl+A selects all,
// Ctrl+C copies, Ctrl+X cuts, Ctrl+Z undoes), and while the window is open
// the edits copy and cut to the desktop's clipboard.
struct InputEvent {
  enum Kind { None, PointerDown, PointerMove, PointerUp, KeyDown, KeyUp, Text, Paste, Quit } kind = None;
  int x = 0;
  int y = 0;
  int virtualKey = 0;
  // Key messages whose characters come as Text (TranslateMessage makes no
  // WM_CHAR of them); Backspace, Tab, Enter and Escape make their own.
  bool charactersApart = false;
  std::u16string text;  // Text: UTF-16, surrogate pairs included
};

// The window's display went away (its X server ended or the connection
// broke): the session ends. The screen thread's idle hook then forgets the
// window (no call is made on it again), writes "The display <name> was
// lost: the program ends." to stderr and asks the program to end as its
// Exit command does (qk::RequestProgramEnd). The program then ends with
// kDisplayLostExitCode, its own status for this end.
bool DisplayLost();
constexpr int kDisplayLostExitCode = 3;

// Opens the window (false when no display is available or it cannot open).
bool OpenWindow(const char* title);
void CloseWindow();
bool WindowOpen();
// Copies the screen to the window when it changed since the last call.
void Present();
// Takes the next input event; false when none is waiting.
bool PollInput(InputEvent* event);
// Hands one input event to the program's windows as the window does: the
// stylus at the point, keys through keybd_event (F1 and F2 press the active
// window's soft keys; Backspace is Back unless the focus is an edit with
// text), text and the pasted clipboard as WM_CHAR to the focus window.
void DeliverInput(const InputEvent& event);

// The key Backspace stands for now: VK_BACK when the focus is an edit that
// holds text and may be changed (it deletes a character there, as the
// phone's Back key does in an edit), else VK_ESCAPE, the phone's Back key.
int BackspaceKey();

}  // namespace qk::display
