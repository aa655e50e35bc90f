// The wizard's page for a typed feed URL (mode 1): a list of rows under
// the wizard's title band, each a field to fill (the URL, the title) or an
// action to run ("Download Channel Title", "Save"). In the touch edition a
// tapped field opens the one-field editor; on key devices an edit is laid
// over the selected row and the soft keys act.
//
// The online search (mode 5) and the sync account (mode 4) use the same
// page, but only their title band and soft-key titles are built yet: in
// those modes the page shows no rows and its finishing flag stays clear.
//
// The page talks to its parent, the wizard, only through the wizard's
// messages: WM_WIZARD_INPUT_BACK (0, 0) to go back, and after a channel was
// added WM_WIZARD_CHANNELS_ADDED and WM_CLOSE.
#pragma once

#include "framework/afx.h"
#include "framework/controls.h"
#include "framework/dialog.h"
#include "quillet/ui/image_button_bar.h"
#include "quillet/ui/touch_list.h"

class COpmlXML;

// Row ids of the page's list.
#define INPUT_ROW_FIRST 4
#define INPUT_ROW_SECOND 5
#define INPUT_ROW_SAVE 6
#define INPUT_ROW_THIRD 7

class CNewInputUrlDlg : public CDialog {
 public:
  CNewInputUrlDlg(COpmlXML* list, int mode, CWnd* parent);
  ~CNewInputUrlDlg() override;

  int GetMode() const { return m_nMode; }
  // The wizard may end on a key device only while this is set.
  BOOL IsFinishAllowed() const { return m_bFinishAllowed; }

  // Mode 1: the feed URL and the channel title.
  const CString& GetFirstField() const { return m_strFirst; }
  const CString& GetSecondField() const { return m_strSecond; }
  CTouchMenuList* GetRowList() const { return m_pList; }
  CImageButtonBar* GetButtonBar() const { return m_pBar; }
  CEdit& GetInlineEdit() { return m_edit; }

  // The list's click callback: the row's action runs 5 ms later, once the
  // pressed row is drawn (the action may rebuild the list that called it).
  static void OnRowClick(HWND window, DWORD_PTR context, UINT id, CTouchListItem* item);
  // The action of a row.
  static void RunRowAction(HWND window, DWORD_PTR context, UINT id);
  // Rebuilds the rows from the fields.
  void LayoutRows(BOOL autoSelect);
  void DrawRows(HDC hdc);
  // Key devices: lays the edit over the selected row with that row's field.
  void StartInlineEdit();

  BOOL OnInitDialog() override;
  void OnOK() override;
  void OnCancel() override;
  BOOL PreTranslateMessage(MSG* msg) override;
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
  void DoDataExchange(CDataExchange* dx) override;

 protected:
  void OnPaint();
  BOOL OnEraseBkgnd(CDC* dc);
  void OnSize(UINT type, int cx, int cy);
  void OnActivate(UINT state, CWnd* other, BOOL minimized);
  void OnTimer(UINT_PTR id);

  // Enter, Up and Down: TRUE when the key was taken.
  BOOL HandleKey(WPARAM key);
  void EditField(UINT id);
  void AddOneChannel();
  void FetchTitle();
  // Key devices: the edit's text into the selected row's field.
  void StoreInlineEdit();
  void PlaceInlineEdit(CTouchListItem* row);
  void RedrawInlineEdit();
  void DrawBand(HDC hdc);
  void DrawBar(HDC hdc);
  int ListTop() const;
  int ListHeight() const;
  int BarTop() const;
  UINT RowImage(int row) const;

  COLORREF m_highlight = 0;
  CTouchMenuList* m_pList = nullptr;
  CImageButtonBar* m_pBar = nullptr;
  HFONT m_hFont = nullptr;
  HFONT m_hBoldFont = nullptr;
  int m_nMode = 1;
  COpmlXML* m_pOpml = nullptr;
  CString m_strFirst;
  CString m_strSecond;
  CString m_strThird;
  BOOL m_bFinishAllowed = FALSE;
  CEdit m_edit;  // 1060, key devices only
  CBarPress m_barPress;
  UINT m_nPendingRow = 0;

  DECLARE_MESSAGE_MAP()
};
