// The frame the four option pages (General, Network, Data storage, Auto
// update) share: a modal dialog of 163 x 150 dialog units whose first
// control 1006 is the page caption. Each page reads its settings at start
// and writes them only when the user leaves with OK.
//
// A page derives from COptionPage, calls StartPage from its OnInitDialog,
// fills its controls, then calls FinishStart; the frame lays the page out on
// every WM_SIZE.
#pragma once

#include <map>
#include <vector>

#include "framework/afx.h"
#include "framework/dialog.h"
#include "quillet/ui/small_controls.h"

#define IDC_OPTION_CAPTION 1006

class COptionPage : public CDialog {
 public:
  COptionPage(UINT templateId, CWnd* parent);
  ~COptionPage() override;

  void DoDataExchange(CDataExchange* dx) override;

  HFONT GetPageFont() const { return m_hPageFont; }
  CCaptionStatic& Caption() { return m_caption; }

 protected:
  // The shared start: the title, the density, the page sized to the screen
  // between the task bar and the menu bar, the soft keys OK and Cancel
  // (menu bar 347) and, when asked, the input-panel helper that makes the
  // panel follow the focus. FALSE when the menu bar could not be made: the
  // page then shows without soft keys and without its values.
  BOOL StartPage(BOOL followInputPanel);
  // Sets the caption's localised text and, on a key device, gives every
  // control of the page the page font.
  void FinishStart(LPCWSTR caption);
  // Sets a control's text, localised from the English one.
  void SetItemText(UINT id, LPCWSTR english);
  // The controls that span the page and are widened to the client's right
  // edge on WM_SIZE (their template left edge, top and height are kept).
  void SetSpanningControls(std::vector<UINT> ids);
  // Places the caption and widens the spanning controls.
  void LayoutPage();
  void OnSize(UINT type, int cx, int cy);
  BOOL OnEraseBkgnd(CDC* dc);

  HFONT m_hPageFont = nullptr;
  CCaptionStatic m_caption;

 private:
  std::vector<UINT> m_spanning;
  // Each spanning control's rectangle from the template, in client pixels.
  std::map<UINT, RECT> m_templateRects;

  DECLARE_MESSAGE_MAP()
};
