// The category editor (template 159): the modal dialog in which the user
// adds, renames and deletes the channel categories ("Add/Delete
// Categories", mode 0), or picks the category a channel moves to ("Change
// Category", any other mode). In the first mode every change goes at once
// to the channel list "Channels.opml" and to the channel list dialog's
// category entries; in the second the dialog only returns the name chosen
// and the caller moves the channel.
//
// The categories are rows of a cell list; New and Rename open its in-place
// editor over a row, and the end of that edit (WM_CELL_EDIT_END from the
// list, only ever sent for an edit that was open) stores the name. A name
// that another category has (in any letter case) or an emptied name in a
// rename is refused with a word to the user, and so is every change while
// a refresh runs: the refresh writes the channel list and the files of
// the channels that a change would remove. A refused edit puts the edited
// row back as it was; one ended with Return stays open with the refused
// text to correct. Return and Escape in the edit end the edit only, never
// the dialog. The rows always show the categories the list holds.
#pragma once

#include <map>

#include "framework/afx.h"
#include "framework/dialog.h"
#include "quillet/ui/cell_list.h"

class COpmlXML;

#define IDD_CATEGORY_EDIT 159
#define IDR_CATEGORY_EDIT_MENU 354
#define IDC_CATEGORY_TITLE 1006
#define IDC_CATEGORY_LIST 1010
#define IDC_CATEGORY_NEW 1011
#define IDC_CATEGORY_DELETE 1012
#define IDC_CATEGORY_RENAME 1013
#define IDC_CATEGORY_PROMPT 1025
#define ID_CATEGORY_NEW 32893
#define ID_CATEGORY_RENAME 32895
#define ID_CATEGORY_DELETE 32897
#define CATEGORY_EDIT_MODE_ADD_DELETE 0
#define CATEGORY_EDIT_MODE_CHANGE 1
// The editor's timer: the close half a second after OK.
#define CATEGORY_EDIT_TIMER_OK 1
// Posted to the editor to open the in-place edit again over a row (wParam)
// after a refused name, once the end of the edit has run its course.
#define WM_CATEGORY_EDIT_AGAIN (WM_APP + 0x159)

class CCategoryEditDlg : public CDialog {
 public:
  CCategoryEditDlg(int mode, COpmlXML* document, CWnd* parent);
  ~CCategoryEditDlg() override;

  // Appends a name under the next index; the callers fill the dialog this
  // way before running it.
  void AddCategory(LPCWSTR name);
  // Offers the categories of the channel list dialog's entries as the
  // channel commands and the chooser do: every entry but "Others" and the
  // labels of synchronised channels, in list order, then "Others" when it
  // was among them.
  void AddCategoriesOfChannelList();
  // Offers the categories as the channel list's Change Category does: the
  // channel list dialog's entries in their order, without the labels of
  // synchronised channels.
  void AddCategoriesInListOrder();
  // The row chosen when the dialog opens (the channel's own category in the
  // change mode); the first row when no row has that name.
  void SetInitialCategory(LPCWSTR name) { m_strInitial = name ? name : u""; }
  CString GetChosenCategory() const { return m_strChosen; }
  CCategoryListCtrl& List() { return m_list; }
  BOOL IsEditing() const;

  void DoDataExchange(CDataExchange* dx) override;
  BOOL OnInitDialog() override;
  void OnOK() override;
  BOOL PreTranslateMessage(MSG* msg) override;
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

 protected:
  void OnSize(UINT type, int cx, int cy);
  void OnTimer(UINT_PTR id);
  void OnNewCategory();
  void OnRenameCategory();
  void OnDeleteCategory();
  void OnUpdateRowCommand(CCmdUI* cmdUI);

 private:
  int SelectedRow() const;
  int FocusedRow() const;
  void ChooseSelected();
  void OnCellEditEnd();
  // Escape in the in-place edit: a new row goes again, a renamed row keeps
  // its name.
  void OnCellEditCancel();
  // Opens the in-place edit again over the row, holding the refused text.
  void ReopenEdit(int row, const CString& text);
  // A refused edit leaves the list as it was: a renamed row gets its old
  // name back, a new row goes (and the row chosen before is chosen again).
  void PutBack(int row);
  void InsertRow(int index, LPCWSTR text);
  // TRUE (and the user told) when a refresh runs: the refresh writes the
  // channel list and the files of the channels that a change here would
  // remove.
  BOOL RefusedDuringRun();
  // Whether another row than this one, or the channel list dialog's
  // category set, holds the name (in any letter case).
  BOOL NameInUse(const CString& name, int row) const;
  void Refuse(LPCWSTR text);
  void SelectRow(int row);
  void Layout();

  int m_nMode;
  COpmlXML* m_pDocument;
  CString m_strChosen;
  BOOL m_bRenaming = FALSE;
  CString m_strOldName;
  // The row whose in-place edit is open (-1 when none): its end stores the
  // name of this row, whichever row is chosen by then (a tap on another row
  // ends the edit and chooses that row).
  int m_nEditRow = -1;
  // Whether the open edit was ended with Return: a name refused then stays
  // in the edit to be corrected.
  BOOL m_bEndedByReturn = FALSE;
  // The refused text the edit opens again with, and whether the open edit
  // is such a second try (still holding m_strRefused when it ends without
  // Return, the name is given up).
  CString m_strRetry;
  CString m_strRefused;
  BOOL m_bRetrying = FALSE;
  CString m_strInitial;
  // The row chosen when New was given, where a refused new name goes back.
  int m_nRowBeforeNew = -1;
  std::map<int, CString> m_categories;
  HIMAGELIST m_hImages = nullptr;
  CCategoryListCtrl m_list;
  CStatic m_title, m_prompt;
  CButton m_new, m_rename, m_delete, m_ok, m_cancel;

  DECLARE_MESSAGE_MAP()
};
