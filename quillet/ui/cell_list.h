// CCellListCtrl: a report-view list control with an in-place text editor,
// CCellEdit, that the owner opens over one cell. Enter or Escape in the
// editor, or the editor losing the focus, ends the edit; Tab moves on to the
// next cell. An accepted edit is told to the list's parent with message
// WM_CELL_EDIT_END (wParam 0, lParam 0).
//
// CCategoryListCtrl builds on it: owner-drawn rows (a favicon file or the
// row's list icon, the texts), a gradient below the rows, one column as
// wide as the window, grid lines with large rows, and a context menu on
// tap-and-hold.
#pragma once

#include "framework/afx.h"
#include "framework/controls.h"
#include "framework/wnd.h"

// wParam 1 accepted, 0 cancelled; lParam 1 keeps the editor shown (Tab).
#define WM_CELL_EDIT_END 0x2340

class CCellEdit : public CEdit {
 public:
  BOOL PreTranslateMessage(MSG* msg) override;
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
  BOOL m_bAccepted = FALSE;
};

class CCellListCtrl : public CWnd {
 public:
  CCellListCtrl() = default;
  ~CCellListCtrl() override = default;

  void EditItem(int row);
  void EditCell(int show, int row, int column, const RECT& rect);
  LRESULT OnCellEditEnd(WPARAM accepted, LPARAM keep);
  BOOL PreTranslateMessage(MSG* msg) override;
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

  // List control helpers.
  int GetItemCount() const;
  int GetColumnCount() const;
  CString GetItemText(int row, int column) const;
  BOOL SetItemText(int row, int column, LPCWSTR text);
  BOOL GetItemRect(int row, RECT* rect, int code) const;
  BOOL GetSubItemRect(int row, int column, int code, RECT* rect) const;
  UINT GetItemState(int row, UINT mask) const;
  BOOL SetItemState(int row, UINT state, UINT mask);

  CCellEdit& Editor() { return m_edit; }
  DWORD GetEditedCell() const { return m_nCell; }

 protected:
  CCellEdit m_edit;
  DWORD m_nCell = 0;
};

class CCategoryListCtrl : public CCellListCtrl {
 public:
  CCategoryListCtrl();
  ~CCategoryListCtrl() override;

  BOOL SetLargeRows(BOOL flag) {
    m_bLargeRows = flag;
    return TRUE;
  }
  void SetContextMenu(UINT menuId) { m_nMenuId = menuId; }
  void SetGradient(BOOL gradient) { m_bGradient = gradient; }
  // Sets up the list's style and its one column; called once the window
  // exists, before its messages come through the map.
  void PreSubclassWindow() override;
  BOOL SubclassControl(HWND control);
  virtual void DrawItem(LPDRAWITEMSTRUCT draw);
  int GetRowHeight() const { return m_nRowHeight; }

  BOOL OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

  // Draws an icon file into the rectangle: the shell's image loader first,
  // then the file read as an ".ico". FALSE when nothing was drawn.
  static BOOL DrawFavicon(HDC hdc, LPCWSTR path, const RECT& rect);

 private:
  void SetColumnWidth();
  void OnTapAndHold(POINT point);
  BOOL EraseBackground(HDC hdc);
  void DrawGridLines();

  BOOL m_bLargeRows = FALSE;
  BOOL m_bGradient = TRUE;
  UINT m_nMenuId = 0;
  int m_nRowHeight = 0;
};
