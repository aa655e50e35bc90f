// The application object: the framework application with the program's
// registry root, the one download manager (its pool of five threads starts
// with the object) and the update-task flag (set when the program was
// started with "/update" to refresh and exit).
#pragma once

#include "framework/afx.h"
#include "framework/wnd.h"
#include "quillet/refresh/refresh_state.h"

class CReaderApp : public CWinApp, public CRefreshApp {
 public:
  CReaderApp();
  ~CReaderApp() override;

  // The main frame once it exists.
  HWND GetMainWindowHandle() const override { return m_pMainWnd ? m_pMainWnd->GetSafeHwnd() : nullptr; }
};
