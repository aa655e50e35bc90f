#include "quillet/screens/screen_app.h"

namespace {
CScreenApp* g_screenApp = nullptr;
}  // namespace

CScreenApp::CScreenApp() { g_screenApp = this; }

CScreenApp::~CScreenApp() {
  if (g_screenApp == this) g_screenApp = nullptr;
}

CScreenApp* GetScreenApp() { return g_screenApp; }
