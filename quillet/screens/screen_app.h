// What the screens keep of the application object: the state that outlives
// one screen. The program's application class derives from CScreenApp.
#pragma once

class CScreenApp {
 public:
  CScreenApp();
  virtual ~CScreenApp();
  CScreenApp(const CScreenApp&) = delete;
  CScreenApp& operator=(const CScreenApp&) = delete;

  // The reading view's font size (0 smallest to 4 largest).
  int m_nReadingFontSize = 2;
};

// The program's application object, or null.
CScreenApp* GetScreenApp();
