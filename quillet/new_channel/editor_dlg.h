// The one-field editor: a modal dialog that edits one text value in an edit
// filling the dialog, with the input panel raised while the edit has the
// focus. The wizard's URL page opens it in the touch edition for each of
// its text fields. Nothing is stored by the editor: the caller reads the
// text with GetText after IDOK ("Save"); after IDCANCEL the caller keeps
// its own value.
#pragma once

#include "framework/afx.h"
#include "framework/dialog.h"
#include "quillet/ui/small_controls.h"

class CEditorDlg : public CDialog {
 public:
  // password: the value is shown as "*" in a one-line edit. The callers
  // pass no parent.
  CEditorDlg(BOOL password, LPCWSTR text, CWnd* parent);
  ~CEditorDlg() override;

  CString GetText() const { return m_strText; }

  BOOL OnInitDialog() override;
  void OnOK() override;
  void OnCancel() override;
  BOOL PreTranslateMessage(MSG* msg) override;
  void DoDataExchange(CDataExchange* dx) override;

 protected:
  void OnSize(UINT type, int cx, int cy);
  void OnEditSetFocus() {}
  // The visible edit's content into the text member.
  void TakeText();
  void SetTitle();

  CString m_strText;
  BOOL m_bPassword = FALSE;
  CSipEdit m_edit;      // 1054, multi-line
  CSipEdit m_password;  // 1055, shows "*"

  DECLARE_MESSAGE_MAP()
};
