// The sync account (mode 4) of the wizard's URL page: the user name, the
// password, the label of the folders to take and the sync switch. Each is
// written to the "Ventrel" settings as soon as it is entered, so the next
// refresh logs in with it; nothing is written on Cancel or when the page
// closes, and the page adds no channel.
#include "common/localize.h"
#include "framework/app.h"
#include "common/settings.h"
#include "quillet/refresh/refresh_state.h"
#include "quillet/new_channel/new_input_url_dlg.h"
#include "quillet/screens/screen_util.h"
#include "quillet/ui/density.h"

namespace {

// The account's images: the touch edition at exactly 192 dpi, the touch
// edition otherwise, key devices.
const UINT kAccountImages[4][3] = {{312, 311, 363},   // user name
                                   {314, 313, 364},   // password
                                   {383, 381, 382},   // label
                                   {309, 310, 357}};  // "Synchronize with Google Reader"
// The mark of the selected (touch) or checked row.
constexpr UINT kSelected192 = 301, kSelected = 265, kSelectedKey = 378;

UINT AccountImage(int row, int column) { return kAccountImages[row][column]; }

int ImageColumn() {
  if (!GetTouchFlag()) return 2;
  return GetScreenDpiY() == 192 ? 0 : 1;
}

// Written through the application profile when the program has one, else
// straight to the same key (screens hosted without the program's object).
void WriteAccountText(LPCWSTR entry, LPCWSTR value) {
  CWinApp* app = AfxGetApp();
  if (app && !app->m_strRegistryKey.IsEmpty()) app->WriteProfileString(u"Ventrel", entry, value);
  else WriteSettingString(u"Ventrel", entry, value);
}

void WriteAccountInt(LPCWSTR entry, int value) {
  CWinApp* app = AfxGetApp();
  if (app && !app->m_strRegistryKey.IsEmpty()) {
    app->WriteProfileInt(u"Ventrel", entry, value);
    return;
  }
  HKEY key = nullptr;
  const CString path = CString(u"Software\\") + QUILLET_REGISTRY_COMPANY + u"\\" + QUILLET_REGISTRY_APP + u"\\Ventrel";
  if (RegCreateKeyExW(HKEY_CURRENT_USER, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS)
    return;
  const DWORD number = static_cast<DWORD>(value);
  RegSetValueExW(key, entry, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof number);
  RegCloseKey(key);
}

}  // namespace

void CNewInputUrlDlg::LoadAccount() {
  m_strFirst = ReadSettingString(u"Ventrel", u"Username", u"");
  m_strSecond = ReadSettingString(u"Ventrel", u"Password", u"");
  m_strThird = ReadSettingString(u"Ventrel", u"Label", u"");
  m_bSync = ReadSettingInt(u"Ventrel", u"Sync", 0) != 0;
}

void CNewInputUrlDlg::AddAccountRows() {
  const BOOL touch = GetTouchFlag();
  CString user = m_strFirst, password, label = m_strThird;
  if (user.IsEmpty()) user = Localized(touch ? u"[ Tap for editing username... ]" : u"[ username ]");
  if (m_strSecond.IsEmpty()) password = Localized(touch ? u"[ Tap for editing password... ]" : u"[ password ]");
  else password = CString(u'*', m_strSecond.GetLength());
  if (label.IsEmpty()) label = Localized(touch ? u"[ Tap for editing supported folders... ]" : u"[ supported folders ]");
  const CString sync = Localized(u"Synchronize with Google Reader");
  // The sync row only once there is an account to sync.
  const int rows = !m_strFirst.IsEmpty() && !m_strSecond.IsEmpty() ? 4 : 3;
  const LPCWSTR texts[4] = {user, password, label, sync};
  const UINT ids[4] = {INPUT_ROW_FIRST, INPUT_ROW_SECOND, INPUT_ROW_THIRD, INPUT_ROW_SAVE};
  const int column = ImageColumn();
  const int selected = !touch ? kSelectedKey : column == 0 ? kSelected192 : kSelected;
  m_pList->SetCheckMode(1);
  for (int i = 0; i < rows; ++i)
    m_pList->AddItem(texts[i], nullptr, static_cast<int>(AccountImage(i, column)), selected, ids[i]);
  // The mark follows the stored value each time the rows are built.
  if (rows == 4)
    if (CTouchListItem* row = m_pList->GetItem(3)) row->m_nCheckValue = ReadSettingInt(u"Ventrel", u"Sync", 0) != 0;
}

void CNewInputUrlDlg::WriteAccountValue(UINT id) {
  if (m_nMode != 4) return;
  switch (id) {
    case INPUT_ROW_FIRST:
      WriteAccountText(u"Username", m_strFirst);
      break;
    case INPUT_ROW_SECOND:
      WriteAccountText(u"Password", m_strSecond);
      break;
    case INPUT_ROW_THIRD:
      // An empty label is written as an empty text: all folders are taken.
      WriteAccountText(u"Label", m_strThird);
      break;
    default:
      break;
  }
}

void CNewInputUrlDlg::ToggleSync() {
  m_bSync = !m_bSync;
  WriteAccountInt(u"Sync", m_bSync ? 1 : 0);
  if (m_pList) m_pList->SetItemCheck(INPUT_ROW_SAVE, m_bSync ? 1 : 0);
  Invalidate(FALSE);
}
