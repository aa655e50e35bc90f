// Drives a real program (a separate process on the test's device root and
// message bus) as its user would: stylus, keys, soft keys and text, its
// frozen clock, and pictures of its screen (see user/remote.h for how the
// requests reach the program's UI thread in every message loop).
//
//   setenv("QUILLET_FROZEN_CLOCK", "1796724000000", 1);  // the program starts frozen
//   CreateProcessW(u"\\Program Files\\Quillet\\Quillet.exe", ...);
//   unsetenv("QUILLET_FROZEN_CLOCK");
//   qtest::RemoteProgram quillet(pi.hProcess);
//   ASSERT_TRUE(quillet.Attach(u"WCE_QuilletMainWnd"));
//   ASSERT_TRUE(quillet.Tap(240, 770));
//   ASSERT_TRUE(quillet.Shot(qtest::PicturesDir() + "/e2e_after_tap.png"));
//
// Every call returns a testing::AssertionResult (use it in ASSERT_TRUE /
// EXPECT_TRUE): a failure says what went wrong, and when the program is
// gone, that it is gone and with which exit code. Every input call returns
// only when the program has handled the input and gone idle (see Settle).
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "user/user.h"

namespace qtest {

class RemoteProgram {
 public:
  // process: the program's process handle (from CreateProcessW), used to
  // tell a program that ended from one that hangs; may be null. The handle
  // stays the caller's.
  explicit RemoteProgram(HANDLE process = nullptr) : process_(process) {}

  // Finds the program's top-level window of this class on the bus, waiting
  // at most timeoutMs for it to appear (fails at once when the process
  // ends). Requests go to that window's thread, the program's UI thread.
  testing::AssertionResult Attach(const char16_t* className, DWORD timeoutMs = 10000);
  // Uses a window already found.
  void Attach(HWND window) { window_ = window; }
  HWND Window() const { return window_; }

  // The longest a request, and the settling after it, may take (10 s).
  void SetTimeout(DWORD ms) { timeoutMs_ = ms; }

  // Stylus at device-screen co-ordinates. The window under the point in
  // the program (or the window holding the capture) receives
  // WM_LBUTTONDOWN / WM_MOUSEMOVE / WM_LBUTTONUP; a point on nothing, or
  // on a disabled window (the owner of a modal dialog), fails. Each
  // returns after Settle.
  testing::AssertionResult Press(int x, int y);
  testing::AssertionResult Move(int x, int y);
  testing::AssertionResult Release(int x, int y);
  // Press and Release at one point.
  testing::AssertionResult Tap(int x, int y);

  // A key pressed (down and up) as the program's display window hands it
  // on: VK_F1 / VK_F2 press the active window's soft keys (without a menu
  // bar they are plain keys); VK_ESCAPE is Back; the rest go to
  // keybd_event (the focus window's queue). Returns after Settle.
  testing::AssertionResult Key(BYTE virtualKey);
  testing::AssertionResult KeyDown(BYTE virtualKey);
  testing::AssertionResult KeyUp(BYTE virtualKey);
  // Soft key 1 (left, VK_F1) or 2 (right, VK_F2).
  testing::AssertionResult SoftKey(int key);
  // WM_CHAR for each UTF-16 unit of text to the focus window (else the
  // active window); fails when there is none. Returns after Settle.
  testing::AssertionResult Type(const std::u16string& text);

  // Moves the program's frozen clock on by ms and returns once the timers
  // that came due have fired and the program has settled. Fails when the
  // program's clock is not frozen (start it with QUILLET_FROZEN_CLOCK).
  testing::AssertionResult Advance(int ms);
  // The reader's first start shows its welcome page before the wizard: the
  // Back key leaves it, and the wizard follows.
  testing::AssertionResult LeaveWelcomePage();
  // Returns once the program's UI thread has handled everything queued
  // before the call: sent and posted messages, the timers due by its clock
  // and every owed painting (messages that work queues meanwhile are
  // handled too; the thread is idle when it returns). Only the UI thread:
  // work on the program's other threads is not waited for (use WaitFor).
  testing::AssertionResult Settle();
  // Settles, then has the program write its screen to a host PNG path and
  // returns once the file is written.
  testing::AssertionResult Shot(const std::string& hostPath);

  // Message boxes: the program's next message boxes answer with these
  // buttons, in order (IDOK, IDCANCEL, IDYES, IDNO...); the ones after
  // them answer with their default buttons, as without a test.
  testing::AssertionResult AnswerMessageBoxes(const std::vector<int>& buttons);
  // From now on the program adds a line "caption<TAB>text<TAB>answer" to
  // the host file for each message box it shows (line breaks of the text
  // become spaces).
  testing::AssertionResult LogMessageBoxes(const std::string& hostPath);

  // The program's active window and focus window (null when none, or when
  // the program does not answer).
  HWND ActiveWindow();
  HWND FocusWindow();
  // How often the program drew on the attached window and the windows
  // inside it (DCs made on them: painting and drawing outside a paint).
  testing::AssertionResult Drawings(long long* count);
  // Settles the program and checks pred, again and again, until pred holds
  // or timeoutMs (host time) passed; between tries it waits a moment, for
  // work on the program's other threads. Fails when the program is gone.
  testing::AssertionResult WaitFor(const std::function<bool()>& pred, DWORD timeoutMs = 10000);

 private:
  testing::AssertionResult Request(int op, int a, int b, int x, int y, const std::u16string& text, bool settle,
                                   LRESULT* answer = nullptr);
  testing::AssertionResult Failure(const char* what);

  HANDLE process_ = nullptr;
  HWND window_ = nullptr;
  DWORD timeoutMs_ = 10000;
};

// Starts the reader of the device root ("Quillet.exe") with its screen
// profile (empty: the touch screen; null: as the environment says) and its
// clock frozen on 2026-12-08 12:00 UTC, and attaches to its main window.
// The process handle (and its id, when asked for) are the caller's.
testing::AssertionResult StartReader(const char* profile, HANDLE* process, RemoteProgram* program,
                                     DWORD* processId = nullptr);

}  // namespace qtest
