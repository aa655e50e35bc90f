// The Network option page (template 175): the proxy that downloads go
// through, whether the program asks before it opens a data connection,
// whether the refresh writes its run log, and the messaging account an
// article is e-mailed from. The values are read from the section
// "Settings" at start and written back only on OK, which also switches the
// run log at once.
#pragma once

#include "quillet/options/option_page.h"

#define IDD_OPTION_NETWORK 175
#define IDC_OPTION_USE_PROXY 1031
#define IDC_OPTION_PROMPT 1032
#define IDC_OPTION_PROXY 1033
#define IDC_OPTION_RUN_LOG 1034
#define IDC_OPTION_ACCOUNT_LABEL 1058
#define IDC_OPTION_ACCOUNT 1059

class COptionNetworkDlg : public COptionPage {
 public:
  explicit COptionNetworkDlg(CWnd* parent = nullptr);

  BOOL OnInitDialog() override;
  void OnOK() override;

 protected:
  void OnUseProxy();
  // Lists the device's messaging accounts and selects the stored one.
  void FillEmailAccounts();

  DECLARE_MESSAGE_MAP()
};
