// The welcome page (template 143): greets the user at the first start,
// before the new-channel wizard opens. A painted page: the title band, on
// the touch edition a guide line and the body text over a gradient with the
// image-button bar (its Next button continues) at the bottom; on a key
// device the body in a coloured text band and the soft key "Continue".
// Every way out (Continue, Next, Cancel, the Back key) ends it with IDOK.
#pragma once

#include "framework/afx.h"
#include "framework/dialog.h"
#include "quillet/ui/image_button_bar.h"
#include "quillet/ui/small_controls.h"

#define IDD_WELCOME 143
#define IDC_WELCOME_TITLE 1006
#define IDC_WELCOME_BODY 1034
#define IDC_WELCOME_BAND 1061

class CWelcomeDlg : public CDialog {
 public:
  explicit CWelcomeDlg(CWnd* parent);
  ~CWelcomeDlg() override;

  BOOL OnInitDialog() override;
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
  void DoDataExchange(CDataExchange* dx) override;

  // The page's body text as this face shows it.
  static CString BodyText();

 protected:
  void CallOnOK() { OnOK(); }
  void OnSize(UINT type, int cx, int cy);
  BOOL OnEraseBkgnd(CDC* dc);
  void OnPaint();
  void OnActivate(UINT state, CWnd* other, BOOL minimized);

 private:
  void DrawPage(HDC hdc);
  void DrawBar(HDC hdc);
  void SetTitleText();

  HFONT m_hFont = nullptr;
  HFONT m_hBoldFont = nullptr;
  COLORREF m_highlight = 0;
  CImageButtonBar* m_pBar = nullptr;
  CBarPress m_barPress;
  CCaptionStatic m_title;
  CColorEdit m_band;

  DECLARE_MESSAGE_MAP()
};

// Runs the welcome page modally over the parent; TRUE when it ended with
// IDOK (every way out does).
BOOL RunWelcomePage(CWnd* parent);
