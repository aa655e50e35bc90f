// CDialog: a dialog window from a template (a resource of the program or
// one in memory), run modally (DoModal) or modeless (Create), with data
// exchange between its controls and the object's members.
//
// OnInitDialog runs when the controls exist (the base exchanges data into
// the controls and returns TRUE to give the first tab stop the focus). The
// dialog's IDOK runs OnOK (exchange data out of the controls, then end
// with IDOK) and IDCANCEL OnCancel (end with IDCANCEL). Keys reach the
// dialog manager through PreTranslateMessage, after the frames around a
// child dialog have seen them.
#pragma once

#include "user/user.h"

#include "framework/wnd.h"

class CDialog;

// The state of one data exchange: the direction and the dialog.
class CDataExchange {
 public:
  CDataExchange(CWnd* dialog, BOOL saveAndValidate) : m_bSaveAndValidate(saveAndValidate), m_pDlgWnd(dialog) {}
  BOOL m_bSaveAndValidate;  // TRUE: controls to members
  CWnd* m_pDlgWnd;
  BOOL m_bFailed = FALSE;   // a value did not validate; later exchanges do nothing
  HWND m_hWndLastControl = nullptr;
  HWND PrepareCtrl(int id);
  HWND PrepareEditCtrl(int id) { return PrepareCtrl(id); }
  // Marks the exchange failed and puts the focus on the last control.
  void Fail();
};

// Binds a control to a wrapper object (subclassing it the first time).
void DDX_Control(CDataExchange* dx, int id, CWnd& control);
void DDX_Text(CDataExchange* dx, int id, CString& value);
// A number in an edit; text that is no number fails the exchange.
void DDX_Text(CDataExchange* dx, int id, int& value);
void DDX_Text(CDataExchange* dx, int id, UINT& value);
void DDX_Check(CDataExchange* dx, int id, int& value);
// The index of the checked radio button of the group that starts at id.
void DDX_Radio(CDataExchange* dx, int id, int& value);
void DDX_CBIndex(CDataExchange* dx, int id, int& index);
void DDX_LBIndex(CDataExchange* dx, int id, int& index);
// Keeps a text within max characters (the edit's limit when loading).
void DDV_MaxChars(CDataExchange* dx, const CString& value, int max);
void DDV_MinMaxInt(CDataExchange* dx, int value, int min, int max);

class CDialog : public CWnd {
 public:
  CDialog();
  explicit CDialog(UINT templateId, CWnd* parent = nullptr);
  explicit CDialog(LPCTSTR templateName, CWnd* parent = nullptr);
  ~CDialog() override;

  // Modeless: creates the dialog (a child dialog when its template says so).
  virtual BOOL Create(UINT templateId, CWnd* parent = nullptr);
  virtual BOOL Create(LPCTSTR templateName, CWnd* parent = nullptr);
  virtual BOOL CreateIndirect(LPCDLGTEMPLATE dialogTemplate, CWnd* parent = nullptr);
  // Modal from a template in memory (kept by the caller).
  BOOL InitModalIndirect(LPCDLGTEMPLATE dialogTemplate, CWnd* parent = nullptr);
  // Runs the dialog modally over its owner (the parent's top-level window,
  // else the main window) and returns the EndDialog result, -1 when it
  // could not be made.
  virtual INT_PTR DoModal();
  void EndDialog(int result);

  virtual BOOL OnInitDialog();
  virtual void OnOK();
  virtual void OnCancel();
  virtual void DoDataExchange(CDataExchange* dx);
  // Exchanges data: save TRUE from the controls to the members (validating),
  // FALSE from the members to the controls. FALSE when a value failed.
  BOOL UpdateData(BOOL saveAndValidate = TRUE);
  BOOL PreTranslateMessage(MSG* msg) override;

  void NextDlgCtrl() const;
  void PrevDlgCtrl() const;
  void GotoDlgCtrl(CWnd* control);
  void SetDefID(UINT id) { SendMessage(DM_SETDEFID, id); }
  DWORD GetDefID() const { return static_cast<DWORD>(SendMessage(DM_GETDEFID)); }
  void MapDialogRect(LPRECT rect) const { ::MapDialogRect(m_hWnd, rect); }

  LPCTSTR m_lpszTemplateName = nullptr;
  UINT m_nIDHelp = 0;
  LPCDLGTEMPLATE m_lpDialogTemplate = nullptr;
  CWnd* m_pParentWnd = nullptr;

 protected:
  LRESULT HandleInitDialog(WPARAM wParam, LPARAM lParam);
  // The window a modal run disables: the parent's top-level window, else
  // the main window.
  HWND ModalOwner() const;
  DECLARE_MESSAGE_MAP()
};

// The dialog procedure of the framework's dialogs: everything goes through
// the CDialog's message map, so it handles nothing itself.
INT_PTR AfxDlgProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
