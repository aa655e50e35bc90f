// CDialog and data exchange (see framework/dialog.h).
#include "framework/dialog.h"

#include "framework/controls.h"
#include "framework/frame.h"
#include "framework/thread.h"
#include "kernel/resource.h"

INT_PTR AfxDlgProc(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

// ---------------------------------------------------------------- data exchange

HWND CDataExchange::PrepareCtrl(int id) {
  HWND control = ::GetDlgItem(m_pDlgWnd->m_hWnd, id);
  m_hWndLastControl = control;
  return control;
}

void CDataExchange::Fail() {
  m_bFailed = TRUE;
  if (m_hWndLastControl && ::IsWindow(m_hWndLastControl)) {
    ::SetFocus(m_hWndLastControl);
    ::SendMessageW(m_hWndLastControl, EM_SETSEL, 0, -1);
  }
}

void DDX_Control(CDataExchange* dx, int id, CWnd& control) {
  if (dx->m_bFailed || control.m_hWnd) return;
  HWND hwnd = dx->PrepareCtrl(id);
  if (hwnd) control.SubclassWindow(hwnd);
}

void DDX_Text(CDataExchange* dx, int id, CString& value) {
  if (dx->m_bFailed) return;
  HWND control = dx->PrepareEditCtrl(id);
  if (!control) return;
  if (dx->m_bSaveAndValidate)
    CWnd::FromHandle(control)->GetWindowText(value);
  else
    ::SetWindowTextW(control, value);
}

namespace {

bool ParseInt(const CString& text, long long* out, bool isSigned) {
  CString t = text;
  t.Trim();
  if (t.IsEmpty()) return false;
  char16_t* end = nullptr;
  long long v = isSigned ? static_cast<long long>(wcstol(t.GetString(), &end, 10))
                         : static_cast<long long>(wcstoul(t.GetString(), &end, 10));
  if (!end || *end || (!isSigned && t[0] == u'-')) return false;
  *out = v;
  return true;
}

void NumberFailed(CDataExchange* dx) {
  ::MessageBoxW(dx->m_pDlgWnd->m_hWnd, u"Please enter an integer.", nullptr, MB_OK | MB_ICONEXCLAMATION);
  dx->Fail();
}

// Exchanges a whole number with an edit control: signed or unsigned parsing on
// the way in, `format` on the way out.
template <typename T>
void ExchangeNumber(CDataExchange* dx, int id, T& value, bool isSigned, const char16_t* format) {
  if (dx->m_bFailed) return;
  HWND control = dx->PrepareEditCtrl(id);
  if (!control) return;
  if (dx->m_bSaveAndValidate) {
    CString text;
    CWnd::FromHandle(control)->GetWindowText(text);
    long long v;
    if (!ParseInt(text, &v, isSigned)) return NumberFailed(dx);
    value = static_cast<T>(v);
  } else {
    CString text;
    text.Format(format, value);
    ::SetWindowTextW(control, text);
  }
}

// Exchanges a whole number with a control that answers `get` with it and
// takes it as the wParam of `set`.
void ExchangeByMessage(CDataExchange* dx, int id, int& value, UINT get, UINT set) {
  if (dx->m_bFailed) return;
  HWND control = dx->PrepareCtrl(id);
  if (!control) return;
  if (dx->m_bSaveAndValidate)
    value = static_cast<int>(::SendMessageW(control, get, 0, 0));
  else
    ::SendMessageW(control, set, static_cast<WPARAM>(value), 0);
}

}  // namespace

void DDX_Text(CDataExchange* dx, int id, int& value) { ExchangeNumber(dx, id, value, true, u"%d"); }

void DDX_Text(CDataExchange* dx, int id, UINT& value) { ExchangeNumber(dx, id, value, false, u"%u"); }

void DDX_Check(CDataExchange* dx, int id, int& value) { ExchangeByMessage(dx, id, value, BM_GETCHECK, BM_SETCHECK); }

void DDX_Radio(CDataExchange* dx, int id, int& value) {
  if (dx->m_bFailed) return;
  HWND control = dx->PrepareCtrl(id);
  if (!control) return;
  if (dx->m_bSaveAndValidate) value = -1;
  int index = 0;
  for (HWND c = control; c; c = ::GetWindow(c, GW_HWNDNEXT), ++index) {
    if (c != control && (::GetWindowLongW(c, GWL_STYLE) & WS_GROUP)) break;
    if (dx->m_bSaveAndValidate) {
      if (::SendMessageW(c, BM_GETCHECK, 0, 0) == BST_CHECKED) value = index;
    } else {
      ::SendMessageW(c, BM_SETCHECK, index == value ? BST_CHECKED : BST_UNCHECKED, 0);
    }
  }
}

void DDX_CBIndex(CDataExchange* dx, int id, int& index) { ExchangeByMessage(dx, id, index, CB_GETCURSEL, CB_SETCURSEL); }

void DDX_LBIndex(CDataExchange* dx, int id, int& index) { ExchangeByMessage(dx, id, index, LB_GETCURSEL, LB_SETCURSEL); }

void DDV_MaxChars(CDataExchange* dx, const CString& value, int max) {
  if (dx->m_bFailed) return;
  if (!dx->m_bSaveAndValidate) {
    if (dx->m_hWndLastControl) ::SendMessageW(dx->m_hWndLastControl, EM_LIMITTEXT, static_cast<WPARAM>(max), 0);
    return;
  }
  if (value.GetLength() > max) {
    CString text;
    text.Format(u"Enter no more than %d characters.", max);
    ::MessageBoxW(dx->m_pDlgWnd->m_hWnd, text, nullptr, MB_OK | MB_ICONEXCLAMATION);
    dx->Fail();
  }
}

void DDV_MinMaxInt(CDataExchange* dx, int value, int min, int max) {
  if (dx->m_bFailed || !dx->m_bSaveAndValidate || (value >= min && value <= max)) return;
  CString text;
  text.Format(u"Enter an integer between %d and %d.", min, max);
  ::MessageBoxW(dx->m_pDlgWnd->m_hWnd, text, nullptr, MB_OK | MB_ICONEXCLAMATION);
  dx->Fail();
}

// ---------------------------------------------------------------- CDialog

BEGIN_MESSAGE_MAP(CDialog, CWnd)
  ON_MESSAGE(WM_INITDIALOG, HandleInitDialog)
  ON_COMMAND(IDOK, OnOK)
  ON_COMMAND(IDCANCEL, OnCancel)
END_MESSAGE_MAP()

CDialog::CDialog() = default;

CDialog::CDialog(UINT templateId, CWnd* parent)
    : m_lpszTemplateName(MAKEINTRESOURCEW(templateId)), m_nIDHelp(templateId), m_pParentWnd(parent) {}

CDialog::CDialog(LPCTSTR templateName, CWnd* parent) : m_lpszTemplateName(templateName), m_pParentWnd(parent) {}

CDialog::~CDialog() = default;

BOOL CDialog::Create(UINT templateId, CWnd* parent) {
  m_nIDHelp = templateId;
  return Create(MAKEINTRESOURCEW(templateId), parent);
}

BOOL CDialog::Create(LPCTSTR templateName, CWnd* parent) {
  m_lpszTemplateName = templateName;
  if (parent) m_pParentWnd = parent;
  AfxHookWindowCreate(this);
  HWND hwnd = ::CreateDialogParamW(AfxGetResourceHandle(), templateName, m_pParentWnd ? m_pParentWnd->m_hWnd : nullptr,
                                   AfxDlgProc, 0);
  if (!AfxUnhookWindowCreate()) PostNcDestroy();
  return hwnd != nullptr;
}

BOOL CDialog::CreateIndirect(LPCDLGTEMPLATE dialogTemplate, CWnd* parent) {
  if (parent) m_pParentWnd = parent;
  AfxHookWindowCreate(this);
  HWND hwnd = ::CreateDialogIndirectParamW(AfxGetResourceHandle(), dialogTemplate,
                                           m_pParentWnd ? m_pParentWnd->m_hWnd : nullptr, AfxDlgProc, 0);
  if (!AfxUnhookWindowCreate()) PostNcDestroy();
  return hwnd != nullptr;
}

BOOL CDialog::InitModalIndirect(LPCDLGTEMPLATE dialogTemplate, CWnd* parent) {
  m_lpDialogTemplate = dialogTemplate;
  if (parent) m_pParentWnd = parent;
  return dialogTemplate != nullptr;
}

HWND CDialog::ModalOwner() const {
  CWnd* owner = m_pParentWnd;
  if (!owner || !owner->m_hWnd) owner = AfxGetMainWnd();
  if (!owner || !owner->m_hWnd || !::IsWindow(owner->m_hWnd)) return nullptr;
  HWND hwnd = owner->m_hWnd;
  while (hwnd && (::GetWindowLongW(hwnd, GWL_STYLE) & WS_CHILD)) hwnd = ::GetParent(hwnd);
  return hwnd;
}

INT_PTR CDialog::DoModal() {
  HWND owner = ModalOwner();
  AfxHookWindowCreate(this);
  INT_PTR result;
  if (m_lpDialogTemplate)
    result = ::DialogBoxIndirectParamW(AfxGetResourceHandle(), m_lpDialogTemplate, owner, AfxDlgProc, 0);
  else
    result = ::DialogBoxParamW(AfxGetResourceHandle(), m_lpszTemplateName, owner, AfxDlgProc, 0);
  if (!AfxUnhookWindowCreate()) return -1;  // the dialog was never made
  return result;
}

void CDialog::EndDialog(int result) { ::EndDialog(m_hWnd, result); }

LRESULT CDialog::HandleInitDialog(WPARAM, LPARAM) { return OnInitDialog(); }

BOOL CDialog::OnInitDialog() {
  UpdateData(FALSE);
  return TRUE;
}

void CDialog::OnOK() {
  if (!UpdateData(TRUE)) return;
  EndDialog(IDOK);
}

void CDialog::OnCancel() { EndDialog(IDCANCEL); }

void CDialog::DoDataExchange(CDataExchange*) {}

BOOL CDialog::UpdateData(BOOL saveAndValidate) {
  if (!m_hWnd) return FALSE;
  CDataExchange dx(this, saveAndValidate);
  DoDataExchange(&dx);
  return !dx.m_bFailed;
}

BOOL CDialog::PreTranslateMessage(MSG* msg) {
  if (msg->message < WM_KEYFIRST || msg->message > WM_KEYLAST) return FALSE;
  // The frames around a child dialog see its keys first (their arrows).
  for (CFrameWnd* frame = GetParentFrame(); frame; frame = frame->GetParentFrame())
    if (frame->PreTranslateMessage(msg)) return TRUE;
  return ::IsDialogMessageW(m_hWnd, msg);
}

void CDialog::NextDlgCtrl() const {
  HWND next = ::GetNextDlgTabItem(m_hWnd, ::GetFocus(), FALSE);
  if (next) ::SetFocus(next);
}

void CDialog::PrevDlgCtrl() const {
  HWND next = ::GetNextDlgTabItem(m_hWnd, ::GetFocus(), TRUE);
  if (next) ::SetFocus(next);
}

void CDialog::GotoDlgCtrl(CWnd* control) {
  if (control && control->m_hWnd) SendMessage(WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(control->m_hWnd), TRUE);
}
