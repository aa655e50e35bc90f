// CPropertySheet and CPropertyPage: a dialog of pages chosen by tabs.
//
// The sheet is a dialog of its own (full screen, its tab control along the
// bottom) that holds one child dialog per page, made from the page's
// template the first time the page is shown; a page's tab carries its
// caption (the caption given, else its template's title). Switching tabs
// asks the page in front OnKillActive (FALSE keeps it) and the new one
// OnSetActive. IDOK asks the page in front OnKillActive, then every page
// made OnApply (which runs its OnOK), and ends the sheet with IDOK; IDCANCEL
// asks OnQueryCancel, then every page OnReset (its OnCancel), and ends with
// IDCANCEL. Enter and Escape in a page are the sheet's OK and Cancel.
#pragma once

#include "user/user.h"
#include "framework/controls.h"
#include "framework/dialog.h"
#include "framework/wnd.h"

#include <vector>

#define PSM_SETCURSEL (WM_USER + 101)
#define PSM_GETTABCONTROL (WM_USER + 116)
#define PSM_GETCURRENTPAGEHWND (WM_USER + 118)
#define PSN_FIRST (0u - 200u)
#define PSN_SETACTIVE (PSN_FIRST - 0)
#define PSN_KILLACTIVE (PSN_FIRST - 1)
#define PSN_APPLY (PSN_FIRST - 2)
#define PSN_RESET (PSN_FIRST - 3)
#define PSN_QUERYCANCEL (PSN_FIRST - 9)
// The id of a sheet's tab control.
#define AFX_IDC_TAB_CONTROL 0x3020

class CPropertySheet;

class CPropertyPage : public CDialog {
 public:
  explicit CPropertyPage(UINT templateId, UINT captionId = 0);
  explicit CPropertyPage(LPCTSTR templateName, UINT captionId = 0);
  ~CPropertyPage() override;

  virtual BOOL OnSetActive();
  virtual BOOL OnKillActive();
  virtual BOOL OnApply();
  virtual void OnReset();
  virtual BOOL OnQueryCancel();
  // A page does not end anything itself: the sheet's OK and Cancel run these.
  void OnOK() override;
  void OnCancel() override;
  void SetModified(BOOL changed = TRUE) { m_bModified = changed; }

  CString m_strCaption;  // the tab's text
  BOOL m_bModified = FALSE;
  CPropertySheet* m_pSheet = nullptr;

  BOOL PreTranslateMessage(MSG* msg) override;
  BOOL OnCommand(WPARAM wParam, LPARAM lParam) override;

 private:
  friend class CPropertySheet;
  bool firstActive_ = true;
};

class CPropertySheet : public CWnd {
 public:
  CPropertySheet();
  explicit CPropertySheet(UINT captionId, CWnd* parent = nullptr, UINT selectPage = 0);
  explicit CPropertySheet(LPCTSTR caption, CWnd* parent = nullptr, UINT selectPage = 0);
  ~CPropertySheet() override;

  void AddPage(CPropertyPage* page);
  void RemovePage(CPropertyPage* page);
  void RemovePage(int index);
  int GetPageCount() const { return static_cast<int>(pages_.size()); }
  CPropertyPage* GetPage(int index) const;
  int GetPageIndex(CPropertyPage* page) const;
  CPropertyPage* GetActivePage() const { return GetPage(active_); }
  int GetActiveIndex() const { return active_; }
  BOOL SetActivePage(int index);
  BOOL SetActivePage(CPropertyPage* page) { return SetActivePage(GetPageIndex(page)); }
  void SetTitle(LPCTSTR title, UINT style = 0);
  CTabCtrl* GetTabControl() const;

  // Runs the sheet modally over its parent's top-level window (else the
  // main window); returns IDOK or IDCANCEL (-1 when it could not be made).
  virtual INT_PTR DoModal();
  // Modeless; a child sheet when style has WS_CHILD.
  virtual BOOL Create(CWnd* parent = nullptr, DWORD style = static_cast<DWORD>(-1), DWORD exStyle = 0);
  virtual BOOL OnInitDialog();
  void EndDialog(int result);
  BOOL PreTranslateMessage(MSG* msg) override;
  BOOL OnNotify(WPARAM wParam, LPARAM lParam, LRESULT* result) override;

  CString m_strCaption;
  CWnd* m_pParentWnd = nullptr;
  UINT m_nStartPage = 0;

  void OnSize(UINT type, int cx, int cy);
  void OnOK();
  void OnCancel();

 protected:
  LRESULT HandleInitDialog(WPARAM wParam, LPARAM lParam);
  LRESULT OnGetTabControl(WPARAM wParam, LPARAM lParam);
  LRESULT OnSetCurSel(WPARAM wParam, LPARAM lParam);
  LRESULT OnGetCurrentPageHwnd(WPARAM wParam, LPARAM lParam);
  // Places the tab control along the bottom and the pages above it.
  void Layout();
  DECLARE_MESSAGE_MAP()

 private:
  std::vector<DWORD> Template(DWORD style) const;
  bool MakePage(CPropertyPage* page);
  std::vector<CPropertyPage*> pages_;
  int active_ = -1;
  CTabCtrl tab_;
};
