// Driving another program on the message bus: stylus, keys, text, its
// frozen clock and pictures of its screen.
//
// A test (or any program) sends a request to a top-level window of the
// program it drives. The request is a WM_COPYDATA whose dwData is the
// registered message "Quillet.RemoteControl" and whose bytes are a
// RemoteRequest followed by its text; only one that came over the bus is a
// request (a window's own WM_COPYDATA is left alone). The receiving bus
// marks it, and the window's thread carries it out where it takes its
// messages, instead of handing it to the window procedure: every message
// loop of that thread (the main loop, a modal dialog's, a menu's, a
// message box's) handles sent messages while it waits, so input reaches the
// program exactly as the program's own display window would give it:
//   - pointer input goes through qk::InjectPointer at device-screen
//     co-ordinates (the window under the point, or the capture);
//   - keys go through the key hook the display installs (VK_F1 and VK_F2
//     press the active window's soft keys, the rest go to keybd_event);
//     without the display, straight to keybd_event;
//   - text goes as WM_CHAR, one per character, to the window with the
//     focus (else the active window);
//   - a clock advance moves the program's frozen clock (qk::AdvanceClock).
// These answer once the input is queued (a key answers before it is
// pressed: a soft key may open a menu whose loop runs inside the press). A settle request, and a clock
// advance, answer only when the thread's queue has gone empty: every sent
// and posted message queued before the request handled, every timer due by
// the (frozen) clock fired and every owed WM_PAINT painted. A picture
// request writes the program's screen to a host PNG path through the
// picture hook (the display layer's) and answers when the file is written.
// Message boxes: once asked, the program answers its message boxes with the
// buttons queued for it (then with their default buttons, as a program
// without a screen does) and writes each one to a host file, one line
// "caption<TAB>text<TAB>answer" (line breaks of the text as spaces).
#pragma once

#include <cstdint>
#include <string>

#include "kernel/types.h"

namespace qk::remote {

enum class Op : uint32_t {
  Pointer = 1,   // a = WM_LBUTTONDOWN / WM_MOUSEMOVE / WM_LBUTTONUP, x, y
  Key = 2,       // a = virtual key, b = 0 press (down and up), 1 down, 2 up
  Text = 3,      // the text, as WM_CHAR
  Advance = 4,   // a = milliseconds; answers when settled
  Settle = 5,    // answers when the queue has gone empty
  Picture = 6,   // text = host path of the PNG
  Active = 7,    // answers the active window's handle (0 when none)
  Focus = 8,     // answers the focus window's handle (0 when none)
  Answer = 9,    // a = the button the next message box answers (queued in order)
  BoxLog = 10,   // text = host path: each message box from now on adds a line to it
  Drawings = 11,  // answers how many DCs were made on the window and the windows inside it
};

struct Request {
  uint32_t op = 0;
  int32_t a = 0;
  int32_t b = 0;
  int32_t x = 0;
  int32_t y = 0;
  // UTF-16 text follows the fixed part.
};

// Answers of the requests that can fail.
constexpr LRESULT kDone = 1;
constexpr LRESULT kNothingThere = 0;  // no window under the point, no focus window, ...
constexpr LRESULT kRefused = -1;      // the clock is not frozen, the picture could not be written

// Sends a request to the program that owns window (a top-level window of
// another program on this device root) and waits at most timeoutMs for its
// answer. False when the program does not answer in time or is gone
// (GetLastError: ERROR_TIMEOUT or ERROR_INVALID_WINDOW_HANDLE).
bool Send(HWND window, Op op, const Request& request, const std::u16string& text, DWORD timeoutMs,
          LRESULT* answer);

// The receiving side's hooks (the display layer installs them with the
// screen): a key as the program's own display window would hand it on, and
// a picture of the screen.
using KeyHook = void (*)(BYTE virtualKey, bool up);
using PictureHook = bool (*)(const std::string& hostPath);
void SetHooks(KeyHook key, PictureHook picture);

}  // namespace qk::remote
