#include "quillet/options/option_network_dlg.h"

#include "common/localize.h"
#include "common/log.h"
#include "common/settings.h"
#include "shell/mapi.h"

BEGIN_MESSAGE_MAP(COptionNetworkDlg, COptionPage)
ON_BN_CLICKED(IDC_OPTION_USE_PROXY, OnUseProxy)
END_MESSAGE_MAP()

COptionNetworkDlg::COptionNetworkDlg(CWnd* parent) : COptionPage(IDD_OPTION_NETWORK, parent) {}

BOOL COptionNetworkDlg::OnInitDialog() {
  COptionPage::OnInitDialog();
  if (!StartPage(TRUE)) return TRUE;
  CWinApp* app = AfxGetApp();
  CheckDlgButton(IDC_OPTION_USE_PROXY, app->GetProfileInt(u"Settings", u"UseNetAgency", 0) ? BST_CHECKED : BST_UNCHECKED);
  CheckDlgButton(IDC_OPTION_PROMPT,
                 app->GetProfileInt(u"Settings", u"UseFreeConnections", 1) ? BST_CHECKED : BST_UNCHECKED);
  SetDlgItemText(IDC_OPTION_PROXY, app->GetProfileString(u"Settings", u"NetAgencyIP", u""));
  OnUseProxy();
  CString label;
  label.Format(Localized(u"Proxy (for example, %s):"), QUILLET_DEFAULT_PROXY);
  SetDlgItemText(IDC_OPTION_USE_PROXY, label);
  SetItemText(IDC_OPTION_PROMPT, u"Prompt to establish a connection");
  SetDlgItemText(IDC_OPTION_ACCOUNT_LABEL, Localized(u"Email Account") + u":");
  SetItemText(IDC_OPTION_RUN_LOG, u"Write channel updating log");
  CheckDlgButton(IDC_OPTION_RUN_LOG, app->GetProfileInt(u"Settings", u"VentrelLog", 0) ? BST_CHECKED : BST_UNCHECKED);
  FinishStart(u"Network");
  FillEmailAccounts();
  SetSpanningControls({IDC_OPTION_USE_PROXY, IDC_OPTION_PROXY, IDC_OPTION_PROMPT, IDC_OPTION_RUN_LOG,
                       IDC_OPTION_ACCOUNT_LABEL, IDC_OPTION_ACCOUNT});
  return TRUE;
}

void COptionNetworkDlg::OnUseProxy() {
  if (HWND proxy = ::GetDlgItem(m_hWnd, IDC_OPTION_PROXY))
    ::EnableWindow(proxy, IsDlgButtonChecked(IDC_OPTION_USE_PROXY) == BST_CHECKED);
}

void COptionNetworkDlg::FillEmailAccounts() {
  const CString stored = AfxGetApp()->GetProfileString(u"Settings", u"EmailAccount", u"ActiveSync");
  HWND list = ::GetDlgItem(m_hWnd, IDC_OPTION_ACCOUNT);
  IMAPISession* session = nullptr;
  if (!list || FAILED(MAPILogonEx(0, nullptr, nullptr, 0, &session)) || !session) return;
  IMAPITable* stores = nullptr;
  CString match;
  if (SUCCEEDED(session->GetMsgStoresTable(0, &stores)) && stores) {
    SPropTagArray columns{1, {PR_DISPLAY_NAME}};
    if (SUCCEEDED(stores->SetColumns(&columns, 0))) {
      for (;;) {
        SRowSet* rows = nullptr;
        if (FAILED(stores->QueryRows(1, 0, &rows)) || !rows) break;
        const BOOL none = rows->cRows == 0;
        if (!none && rows->aRow[0].cValues > 0 && rows->aRow[0].lpProps[0].ulPropTag == PR_DISPLAY_NAME) {
          LPCWSTR name = rows->aRow[0].lpProps[0].Value.lpszW;
          const LRESULT at = ::SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(name));
          if (at >= 0 && !stored.IsEmpty() && stored.CompareNoCase(name) == 0) match = name;
        }
        FreeProws(rows);
        if (none) break;
      }
    }
    stores->Release();
  }
  // The list sorts itself as names come in: the entry is found by its name
  // once all are there.
  const LRESULT chosen = match.IsEmpty() ? CB_ERR
                                         : ::SendMessageW(list, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                                          reinterpret_cast<LPARAM>(match.GetString()));
  ::SendMessageW(list, CB_SETCURSEL, static_cast<WPARAM>(chosen >= 0 ? chosen : -1), 0);
  session->Logoff(0, 0, 0);
  session->Release();
}

void COptionNetworkDlg::OnOK() {
  CWinApp* app = AfxGetApp();
  CString proxy;
  GetDlgItemText(IDC_OPTION_PROXY, proxy);
  proxy.Trim();
  const int log = IsDlgButtonChecked(IDC_OPTION_RUN_LOG) == BST_CHECKED ? 1 : 0;
  app->WriteProfileInt(u"Settings", u"UseNetAgency", IsDlgButtonChecked(IDC_OPTION_USE_PROXY) == BST_CHECKED ? 1 : 0);
  app->WriteProfileString(u"Settings", u"NetAgencyIP", proxy);
  app->WriteProfileInt(u"Settings", u"UseFreeConnections", IsDlgButtonChecked(IDC_OPTION_PROMPT) == BST_CHECKED ? 1 : 0);
  app->WriteProfileInt(u"Settings", u"VentrelLog", log);
  SetLogEnabled(log);
  HWND list = ::GetDlgItem(m_hWnd, IDC_OPTION_ACCOUNT);
  const LRESULT at = list ? ::SendMessageW(list, CB_GETCURSEL, 0, 0) : CB_ERR;
  if (at >= 0) {
    const LRESULT length = ::SendMessageW(list, CB_GETLBTEXTLEN, static_cast<WPARAM>(at), 0);
    if (length > 0) {
      CString account;
      ::SendMessageW(list, CB_GETLBTEXT, static_cast<WPARAM>(at),
                     reinterpret_cast<LPARAM>(account.GetBuffer(static_cast<int>(length) + 1)));
      account.ReleaseBuffer();
      if (!account.IsEmpty()) app->WriteProfileString(u"Settings", u"EmailAccount", account);
    }
  }
  EndDialog(IDOK);
}
