// The wizard's page for a typed feed URL (mode 1): a list of rows under
// the wizard's title band, each a field to fill (the URL, the title) or an
// action to run ("Download Channel Title", "Save"). In the touch edition a
// tapped field opens the one-field editor; on key devices an edit is laid
// over the selected row and the soft keys act.
//
// The same page edits the sync account (mode 4: user name, password, label
// and the sync switch, each written to the "Ventrel" settings as soon as it
// is entered) and searches the online feed-search service (mode 5: the
// keywords, then the results to check and add). The code of those two
// modes lives in input_account_page.cpp and input_search_page.cpp.
//
// The page talks to its parent, the wizard, only through the wizard's
// messages: WM_WIZARD_INPUT_BACK (0, 0) to go back, and after a channel was
// added WM_WIZARD_CHANNELS_ADDED and WM_CLOSE.
#pragma once

#include "framework/afx.h"
#include "framework/coll.h"
#include "framework/controls.h"
#include "framework/dialog.h"
#include "quillet/new_channel/input_search_page.h"
#include "quillet/new_channel/wizard_rows.h"
#include "quillet/ui/image_button_bar.h"
#include "quillet/ui/touch_list.h"

class COpmlXML;

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
  const CString& GetThirdField() const { return m_strThird; }
  // Mode 4: the sync switch as the page last wrote it.
  BOOL GetSyncFlag() const { return m_bSync; }
  // Mode 5: the results in the reply's order, and the checked ones in the
  // order they were checked; results are listed while the first is not
  // empty.
  const CStringList& GetResultUrls() const { return m_search.GetResultUrls(); }
  const CStringList& GetCheckedUrls() const { return m_search.GetCheckedUrls(); }
  CString GetResultTitle(const CString& url) const { return m_search.GetResultTitle(url); }
  CTouchMenuList* GetRowList() const { return m_pList; }
  CImageButtonBar* GetButtonBar() const { return m_pBar; }
  CEdit& GetInlineEdit() { return m_edit; }

  // The list's click callback: the row's action runs 5 ms later, once the
  // pressed row is drawn (the action may rebuild the list that called it).
  static void OnRowClick(HWND window, DWORD_PTR context, UINT id, CTouchListItem* item);
  // The action of a row.
  static void RunRowAction(HWND window, DWORD_PTR context, UINT id);
  // A feed address the page adds: http or https, read by the one parse of
  // an address that the downloads use (ParseInternetAddress), so that
  // nothing the downloads refuse is fetched or added.
  static BOOL IsFeedAddress(const CString& url);
  // Why the page can neither fetch nor add this address (the message's
  // English text), or null when it is a feed address.
  static LPCWSTR UrlProblem(const CString& url);
  // The URL as saved from the editor, which starts from "http://": an
  // address typed after it with a scheme of its own ("https://...",
  // "http://...") loses the starting "http://". Blanks at both ends go.
  static CString TypedUrl(const CString& text);
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
  // Mode 4 (input_account_page.cpp).
  void LoadAccount();
  void AddAccountRows();
  // Writes the field of the row to its "Ventrel" value.
  void WriteAccountValue(UINT id);
  void ToggleSync();
  // Mode 5, on the search (input_search_page.h).
  void AddSearchRows();
  void Search();
  void RedefineSearch();
  void ToggleResult(UINT id);
  void AddCheckedResults();
  BOOL HasResults() const { return m_search.HasResults(); }
  // The title band's side effects in modes 4 and 5: the finishing flag
  // and, on key devices, the search page's soft key.
  void UpdateFinishState();
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
  BOOL m_bSync = FALSE;
  CFeedSearchResults m_search;
  CString m_strSoftKey;  // the search page's soft key 1 as last titled
  CEdit m_edit;  // 1060, key devices only
  CBarPress m_barPress;
  UINT m_nPendingRow = 0;

  DECLARE_MESSAGE_MAP()
};
