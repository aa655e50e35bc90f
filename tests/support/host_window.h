// A top-level window of its own class for a test to receive messages,
// paint or host a control. Header-only, so that only tests that link the
// window layer pull it in.
#pragma once

#include "user/user.h"

namespace qtest {

// Registers className with proc (a class an earlier test of the process
// registered stays as it was) and creates a window of it at (0, 0).
inline HWND CreateHostWindow(const char16_t* className, WNDPROC proc, int width, int height,
                             const char16_t* title = u"", DWORD style = 0) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = proc;
  wc.lpszClassName = className;
  RegisterClassW(&wc);
  return CreateWindowExW(0, className, title, style, 0, 0, width, height, nullptr, nullptr, nullptr, nullptr);
}

}  // namespace qtest
