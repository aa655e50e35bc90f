// The touch reading menu: a full-screen finger list of the five font sizes
// of the reading view, the size in use marked, over a bar whose right
// button closes it. The reading view runs it modally (its menu button);
// a tapped size closes the menu and then goes to the view as the size's
// command, which applies and stores it.
#pragma once

#include "framework/afx.h"
#include "quillet/ui/html_host_dialog.h"
#include "quillet/ui/image_button_bar.h"
#include "quillet/ui/touch_list.h"

class CNewsReadMenuDlg : public CHtmlHostDialog {
 public:
  explicit CNewsReadMenuDlg(CWnd* parent);
  ~CNewsReadMenuDlg() override;

  BOOL OnInitDialog() override;
  // The menu shows no page.
  BOOL CreateHtmlView() override { return FALSE; }
  void BuildEntries();

  CTouchMenuList* GetList() const { return m_pList; }
  CImageButtonBar* GetButtonBar() const { return m_pBar; }

  // The list's click callback: the menu is found from the window.
  static void OnEntryClicked(HWND window, DWORD_PTR context, UINT code, CTouchListItem* item);

 protected:
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
  void OnSize(UINT type, int cx, int cy);
  BOOL OnEraseBkgnd(CDC* dc);
  void OnPaint();
  void OnActivate(UINT state, CWnd* other, BOOL minimized);
  void OnDestroy();

 private:
  void OnEntry(UINT code);
  int BarHeight() const;
  void DrawBar(HDC hdc);

  CTouchMenuList* m_pList = nullptr;
  CImageButtonBar* m_pBar = nullptr;
  CBarPress m_barPress;
  COLORREF m_highlight = 0;

  DECLARE_MESSAGE_MAP()
};
