// The application object: the framework application with the program's
// registry root, the one download manager (its pool of five threads starts
// with the object) and the update-task flag (set when the program was
// started with "/update" to refresh and exit).
#pragma once

#include "framework/afx.h"
#include "quillet/refresh/refresh_state.h"

class CReaderApp : public CWinApp, public CRefreshApp {
 public:
  CReaderApp();
  ~CReaderApp() override;

  HWND GetMainWindowHandle() const override { return m_hMainWnd; }
  // Set by the main frame when it is created.
  HWND m_hMainWnd = nullptr;
};
