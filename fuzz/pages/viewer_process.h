// The process of an HTML viewer fuzz target: a fresh device root named
// after the target, no screen of its own (headless), the viewer's window
// class registered and the host window class given registered.
#pragma once

#include <cstdlib>
#include <string>

#include "htmlview/htmlview.h"
#include "kernel/kernel.h"
#include "user/user.h"

namespace fuzzview {

inline void StartViewerProcess(const char* target, WNDPROC hostProc, const char16_t* hostClass) {
  std::string tmpl = std::string("/tmp/quillet-fuzz-") + target + "-XXXXXX";
  std::string root = mkdtemp(tmpl.data());
  qk::SetDeviceRoot(root);
  setenv("QUILLET_HEADLESS", "1", 1);
  if (!InitHTMLControl(nullptr)) __builtin_trap();
  WNDCLASSW wc{};
  wc.lpfnWndProc = hostProc;
  wc.lpszClassName = hostClass;
  RegisterClassW(&wc);
}

}  // namespace fuzzview
