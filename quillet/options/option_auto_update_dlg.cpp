#include "quillet/options/option_auto_update_dlg.h"

#include "common/localize.h"
#include "controls/commctrl.h"
#include "quillet/refresh/refresh_state.h"

namespace {

// The interval count and unit a list without a choice stands for: "20"
// "Minutes", the defaults (a value that no entry shows would otherwise be
// stored and read back by the monitor as some other interval).
constexpr int kDefaultCount = 19;
constexpr int kDefaultUnit = 0;

int Chosen(HWND dialog, int id) { return static_cast<int>(::SendDlgItemMessageW(dialog, id, CB_GETCURSEL, 0, 0)); }

void Fill(HWND dialog, int id, std::initializer_list<LPCWSTR> texts) {
  for (LPCWSTR text : texts)
    ::SendDlgItemMessageW(dialog, id, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Localized(text).GetString()));
}

// A stored part of the daily time, or its default when it is no such part.
WORD TimePart(LPCWSTR entry, int defaultValue, int highest) {
  const int value = ReadSettingInt(u"Settings", entry, defaultValue);
  return static_cast<WORD>(value >= 0 && value <= highest ? value : defaultValue);
}

}  // namespace

BEGIN_MESSAGE_MAP(COptionAutoUpdateDlg, COptionPage)
ON_CBN_SELCHANGE(IDC_AUTO_UPDATE_MODE, OnModeChange)
END_MESSAGE_MAP()

COptionAutoUpdateDlg::COptionAutoUpdateDlg(CWnd* parent) : COptionPage(IDD_OPTION_AUTO_UPDATE, parent) {}

BOOL COptionAutoUpdateDlg::OnInitDialog() {
  const BOOL result = CDialog::OnInitDialog();
  if (!StartPage(FALSE)) return result;
  Fill(m_hWnd, IDC_AUTO_UPDATE_MODE,
       {u"No auto update", u"When ActiveSync available", u"Connect automatically", u"Connect on schedule"});
  ::SendDlgItemMessageW(m_hWnd, IDC_AUTO_UPDATE_MODE, CB_SETCURSEL, 0, 0);
  Fill(m_hWnd, IDC_AUTO_UPDATE_UNIT, {u"Minutes", u"Hours", u"Days"});
  ::SendDlgItemMessageW(m_hWnd, IDC_AUTO_UPDATE_UNIT, CB_SETCURSEL, 0, 0);
  for (int i = 1; i <= 20; ++i) {
    CString count;
    count.Format(u"%02d", i);
    ::SendDlgItemMessageW(m_hWnd, IDC_AUTO_UPDATE_COUNT, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(count.GetString()));
  }
  ::SendDlgItemMessageW(m_hWnd, IDC_AUTO_UPDATE_COUNT, CB_SETCURSEL, 19, 0);

  // Any mode beyond the known ones (also a negative one) is the schedule.
  const unsigned mode = static_cast<unsigned>(ReadSettingInt(u"Settings", u"AutoUpdateMode", 0));
  ::SendDlgItemMessageW(m_hWnd, IDC_AUTO_UPDATE_MODE, CB_SETCURSEL, mode < 3 ? mode : 3, 0);
  ::SendDlgItemMessageW(m_hWnd, IDC_AUTO_UPDATE_COUNT, CB_SETCURSEL,
                        static_cast<WPARAM>(ReadSettingInt(u"Settings", u"AutoUpdateTimeNum", kDefaultCount)), 0);
  ::SendDlgItemMessageW(m_hWnd, IDC_AUTO_UPDATE_UNIT, CB_SETCURSEL,
                        static_cast<WPARAM>(ReadSettingInt(u"Settings", u"AutoUpdateTimeUnit", kDefaultUnit)), 0);
  ::SetDlgItemTextW(m_hWnd, IDC_AUTO_UPDATE_LAST, ReadSettingString(u"Settings", u"LastUpdateTime", u""));

  SYSTEMTIME time;
  ::GetLocalTime(&time);
  time.wHour = TimePart(u"AutoUpdateScheduleHour", 12, 23);
  time.wMinute = TimePart(u"AutoUpdateScheduleMinute", 0, 59);
  time.wSecond = TimePart(u"AutoUpdateScheduleSecond", 0, 59);
  time.wMilliseconds = 0;
  ::SendDlgItemMessageW(m_hWnd, IDC_AUTO_UPDATE_TIME, DTM_SETSYSTEMTIME, GDT_VALID, reinterpret_cast<LPARAM>(&time));

  SetItemText(IDC_AUTO_UPDATE_MODE_LABEL, u"Auto Update Mode:");
  SetItemText(IDC_AUTO_UPDATE_TIME_LABEL, u"Don't update more than once every:");
  SetItemText(IDC_AUTO_UPDATE_LAST_LABEL, u"Last Update:");
  SetSpanningControls({IDC_AUTO_UPDATE_MODE_LABEL, IDC_AUTO_UPDATE_MODE, IDC_AUTO_UPDATE_TIME_LABEL,
                       IDC_AUTO_UPDATE_LAST_LABEL, IDC_AUTO_UPDATE_LAST});
  FinishStart(u"Auto Update");
  OnModeChange();
  return result;
}

void COptionAutoUpdateDlg::OnModeChange() {
  const BOOL schedule = Chosen(m_hWnd, IDC_AUTO_UPDATE_MODE) == AUTO_UPDATE_SCHEDULE;
  ::ShowWindow(::GetDlgItem(m_hWnd, IDC_AUTO_UPDATE_COUNT), schedule ? SW_HIDE : SW_SHOW);
  ::ShowWindow(::GetDlgItem(m_hWnd, IDC_AUTO_UPDATE_UNIT), schedule ? SW_HIDE : SW_SHOW);
  ::ShowWindow(::GetDlgItem(m_hWnd, IDC_AUTO_UPDATE_TIME), schedule ? SW_SHOW : SW_HIDE);
  SetItemText(IDC_AUTO_UPDATE_TIME_LABEL, schedule ? u"Auto Update Time:" : u"Don't update more than once every:");
}

void COptionAutoUpdateDlg::OnOK() {
  const int mode = Chosen(m_hWnd, IDC_AUTO_UPDATE_MODE);
  const int count = Chosen(m_hWnd, IDC_AUTO_UPDATE_COUNT);
  const int unit = Chosen(m_hWnd, IDC_AUTO_UPDATE_UNIT);
  WriteSettingInt(u"Settings", u"AutoUpdateMode", mode >= 0 ? mode : AUTO_UPDATE_NONE);
  WriteSettingInt(u"Settings", u"AutoUpdateTimeNum", count >= 0 ? count : kDefaultCount);
  WriteSettingInt(u"Settings", u"AutoUpdateTimeUnit", unit >= 0 ? unit : kDefaultUnit);
  SYSTEMTIME time{};
  if (::SendDlgItemMessageW(m_hWnd, IDC_AUTO_UPDATE_TIME, DTM_GETSYSTEMTIME, 0, reinterpret_cast<LPARAM>(&time)) ==
      GDT_VALID) {
    WriteSettingInt(u"Settings", u"AutoUpdateScheduleHour", time.wHour);
    WriteSettingInt(u"Settings", u"AutoUpdateScheduleMinute", time.wMinute);
    WriteSettingInt(u"Settings", u"AutoUpdateScheduleSecond", time.wSecond);
  }
  // A running monitor re-arms its schedule with the values just written.
  ::PostMessageW(HWND_BROADCAST, WM_AUTOUPDATE_SETTINGS_CHANGED, 0, 0);
  EndDialog(IDOK);
}
