// The base of the wizard's three list pages (the choice page, the OPML page
// and the templates page): a finger-scrolled list under the wizard's title
// band and, in the touch edition, above the button bar at the screen's
// bottom. The base sizes the list, paints the band, the list and the bar,
// follows a change of the highlight colour, hands the keys to the list and
// routes the pointer between the list and the bar; a page draws its own
// band and says what a button of the bar does.
#pragma once

#include "framework/afx.h"
#include "framework/dialog.h"
#include "quillet/ui/image_button_bar.h"
#include "quillet/ui/touch_list.h"

class CWizardListPage : public CDialog {
 public:
  CWizardListPage(UINT templateId, CWnd* parent) : CDialog(templateId, parent) {}

  // The page's list and its button bar (touch edition); null while none.
  virtual CTouchMenuList* GetList() const = 0;
  virtual CImageButtonBar* GetButtonBar() const = 0;
  // Where the list starts (below the band), and its height: down to the
  // button bar in the touch edition, to the client bottom on a key device
  // (whose soft keys lie outside the wizard).
  int GetListTop() const;
  int GetListHeight() const;

  BOOL PreTranslateMessage(MSG* msg) override;
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

 protected:
  // Draws the wizard's title band with the page's title.
  virtual void DrawBand(HDC hdc) = 0;
  // A button of the bar was released on: 1 the left one, 2 the right one.
  // The page may leave here: nothing of it is used afterwards.
  virtual void OnBarCommand(int command) = 0;
  // The keys of a page that adds the chosen channels: in the touch edition
  // the page and the wizard hide the input panel's button and their menu
  // bars; on a key device the wizard's soft keys read "Add Selected" and
  // "Cancel". FALSE when the soft keys cannot be made.
  BOOL ShowAddSelectedKeys();
  // The touch edition's button bar of such a page: OK on the left (command
  // 2), Cancel on the right (command 1).
  static CImageButtonBar* MakeOkCancelBar();
  // A key for the list: TRUE when the list took it.
  BOOL HandleKey(WPARAM key);
  // The band, the list and the bar.
  void DrawPage(HDC hdc);
  void DrawBar(HDC hdc);

  void OnSize(UINT type, int cx, int cy);
  BOOL OnEraseBkgnd(CDC* dc);
  void OnPaint();
  void OnActivate(UINT state, CWnd* other, BOOL minimized);

  // The highlight colour the page was last painted with.
  COLORREF m_highlight = 0;

 private:
  CBarPress m_barPress;
};
