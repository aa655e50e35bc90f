#include "quillet/new_channel/editor_dlg.h"

#include "common/localize.h"
#include "quillet/res/resources.h"
#include "quillet/screens/screen_messages.h"
#include "quillet/screens/screen_util.h"
#include "quillet/ui/density.h"
#include "shell/aygshell.h"

BEGIN_MESSAGE_MAP(CEditorDlg, CDialog)
ON_WM_SIZE()
ON_COMMAND(ID_EDITOR_BACK, OnCancel)
ON_COMMAND(ID_EDITOR_FINISH, OnOK)
ON_EN_SETFOCUS(1054, OnEditSetFocus)
END_MESSAGE_MAP()

CEditorDlg::CEditorDlg(BOOL password, LPCWSTR text, CWnd* parent)
    : CDialog(IDD_EDITOR, parent), m_strText(text ? text : u""), m_bPassword(password) {
  RegisterQuilletResources();
}

CEditorDlg::~CEditorDlg() {
  if (m_edit.m_hWnd) m_edit.DestroyWindow();
  if (m_password.m_hWnd) m_password.DestroyWindow();
}

void CEditorDlg::DoDataExchange(CDataExchange* dx) {
  CDialog::DoDataExchange(dx);
  DDX_Control(dx, 1054, m_edit);
  DDX_Control(dx, 1055, m_password);
}

void CEditorDlg::SetTitle() { SetWindowText(GetTouchFlag() ? u"Quillet Reach" : u"Quillet"); }

BOOL CEditorDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  InitScreenDpi(0);
  SetTitle();
  // The editor fills the screen between the task bar and its soft keys.
  SHINITDLGINFO init{SHIDIM_FLAGS, m_hWnd, SHIDIF_SIZEDLGFULLSCREEN};
  SHInitDialog(&init);
  // The input panel follows the focus; the password edit raises it itself.
  if (!m_bPassword) ::CreateWindowW(WC_SIPPREF, u"", WS_CHILD, 0, 0, 0, 0, m_hWnd, nullptr, nullptr, nullptr);
  if (!CreateMenuBar(m_hWnd, IDR_EDITOR_MENU)) {
    // Without soft keys the editor could not be left: it ends as cancelled.
    EndDialog(IDCANCEL);
    return -1;
  }
  HWND menu = SHFindMenuBar(m_hWnd);
  if (!menu && GetParent()) menu = SHFindMenuBar(GetParent()->GetSafeHwnd());
  if (menu) {
    SetSoftKeyText(menu, ID_EDITOR_BACK, u"Cancel");
    SetSoftKeyText(menu, ID_EDITOR_FINISH, u"Save");
    DrawMenuBar(menu);
  }
  CSipEdit& shown = m_bPassword ? m_password : m_edit;
  CSipEdit& hidden = m_bPassword ? m_edit : m_password;
  shown.SetWindowText(m_strText);
  shown.SetSel(65535, 65535);
  shown.SetFocus();
  if (m_bPassword) shown.SendMessage(EM_SETPASSWORDCHAR, u'*');
  hidden.ShowWindow(SW_HIDE);
  shown.ShowWindow(SW_SHOW);
  // The focus stays where it was put.
  return FALSE;
}

void CEditorDlg::TakeText() {
  CSipEdit& shown = m_bPassword ? m_password : m_edit;
  if (shown.m_hWnd) shown.GetWindowText(m_strText);
}

void CEditorDlg::OnOK() {
  TakeText();
  CDialog::OnOK();
}

void CEditorDlg::OnCancel() {
  TakeText();
  CDialog::OnCancel();
}

BOOL CEditorDlg::PreTranslateMessage(MSG* msg) {
  // Enter neither ends the editor nor reaches the edit.
  if (msg && msg->message == WM_KEYDOWN && msg->wParam == VK_RETURN) return TRUE;
  return CDialog::PreTranslateMessage(msg);
}

void CEditorDlg::OnSize(UINT, int, int) {
  Default();
  if (!m_hWnd || !::IsWindow(m_hWnd)) return;
  SetTitle();
  CRect client;
  GetClientRect(&client);
  for (CSipEdit* edit : {&m_edit, &m_password}) {
    if (!edit->m_hWnd) continue;
    edit->MoveWindow(client.left, client.top, client.Width(), client.Height(), TRUE);
    edit->Invalidate();
  }
}
