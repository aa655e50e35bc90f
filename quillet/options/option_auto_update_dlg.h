// The option page "Auto Update" (template 164): when the update monitor
// refreshes the channels without the user (never, while the device is in
// its cradle, every interval, or once a day at a time), and when the last
// refresh was. OK writes the settings and broadcasts
// WM_AUTOUPDATE_SETTINGS_CHANGED, so that a running monitor takes them at
// once.
#pragma once

#include "quillet/options/option_page.h"

#define IDD_OPTION_AUTO_UPDATE 164
#define IDC_AUTO_UPDATE_MODE 1012
#define IDC_AUTO_UPDATE_UNIT 1013
#define IDC_AUTO_UPDATE_COUNT 1014
#define IDC_AUTO_UPDATE_LAST 1035
#define IDC_AUTO_UPDATE_MODE_LABEL 1042
#define IDC_AUTO_UPDATE_TIME_LABEL 1043
#define IDC_AUTO_UPDATE_LAST_LABEL 1044
#define IDC_AUTO_UPDATE_TIME 1057
#ifndef WM_AUTOUPDATE_SETTINGS_CHANGED
#define WM_AUTOUPDATE_SETTINGS_CHANGED 0x880
#endif

// The modes, by their stored value "AutoUpdateMode".
#define AUTO_UPDATE_NONE 0
#define AUTO_UPDATE_CRADLED 1
#define AUTO_UPDATE_INTERVAL 2
#define AUTO_UPDATE_SCHEDULE 3

class COptionAutoUpdateDlg : public COptionPage {
 public:
  explicit COptionAutoUpdateDlg(CWnd* parent);

  BOOL OnInitDialog() override;
  void OnOK() override;
  // The daily schedule shows the time picker, the other modes the interval.
  void OnModeChange();

  DECLARE_MESSAGE_MAP()
};
