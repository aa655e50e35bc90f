#include "quillet/options/option_storage_dlg.h"

#include <vector>

#include "common/localize.h"
#include "common/settings.h"
#include "quillet/refresh/refresh_state.h"
#include "quillet/options/data_move.h"
#include "quillet/ui/density.h"

namespace {

// The card's total and free bytes; FALSE when the card cannot be asked.
BOOL CardSpace(LPCWSTR name, ULARGE_INTEGER* total, ULARGE_INTEGER* free) {
  ULARGE_INTEGER available;
  return ::GetDiskFreeSpaceExW(name, &available, total, free) == TRUE;
}

// The folders that the data root on a card adds below the card's folder
// ("\Card\Program Files", "\Card\Program Files\Quillet", its
// "\ChannelData"), outermost first: the ones GetDataRootFor makes when they
// are missing.
std::vector<CString> CardRootFolders(const CString& cardName) {
  CString programFiles;
  GetRegistryString(programFiles, u"Program Files", u"\\System\\Explorer\\Shell Folders");
  if (programFiles.IsEmpty()) programFiles = u"\\Program Files";
  std::vector<CString> folders;
  CString path = CString(u"\\") + cardName;
  const CString below = programFiles + u"\\Quillet\\ChannelData";
  for (int at = 0; at < below.GetLength(); ++at) {
    if (below[at] == u'\\' && at > 0) folders.push_back(path);
    path += below[at];
  }
  folders.push_back(path);
  return folders;
}

CString Megabytes(ULARGE_INTEGER bytes) {
  CString text;
  text.Format(u"%d MB", static_cast<int>(bytes.QuadPart / 1048576ULL));
  return text;
}

}  // namespace

BEGIN_MESSAGE_MAP(COptionStorageDlg, COptionPage)
ON_CBN_SELCHANGE(IDC_STORAGE_CARD_LIST, OnCardChange)
END_MESSAGE_MAP()

COptionStorageDlg::COptionStorageDlg(CWnd* parent, COpmlXML* list)
    : COptionPage(IDD_OPTION_STORAGE, parent), m_pList(list) {}

BOOL COptionStorageDlg::OnInitDialog() {
  const BOOL result = CDialog::OnInitDialog();
  if (!StartPage(FALSE)) return result;
  ResetCachedPaths();
  HWND cards = ::GetDlgItem(m_hWnd, IDC_STORAGE_CARD_LIST);
  // The cards big enough to hold the data, by folder name.
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFlashCard(&found);
  if (find != INVALID_HANDLE_VALUE) {
    do {
      const DWORD wanted = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_TEMPORARY;
      ULARGE_INTEGER total, free;
      if ((found.dwFileAttributes & wanted) == wanted && CardSpace(found.cFileName, &total, &free) &&
          total.QuadPart >= kSmallestCard)
        ::SendMessageW(cards, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(found.cFileName));
    } while (FindNextFlashCard(find, &found));
    ::FindClose(find);
  }
  if (::SendMessageW(cards, CB_GETCOUNT, 0, 0) > 0) {
    ::SendMessageW(cards, CB_SETCURSEL, 0, 0);
  } else {
    ::EnableWindow(::GetDlgItem(m_hWnd, IDC_STORAGE_USE_CARD), FALSE);
    ::EnableWindow(cards, FALSE);
  }
  ::SendMessageW(cards, CB_SETCURSEL, static_cast<WPARAM>(ReadSettingInt(u"Settings", u"StorageCardNo", 0)), 0);
  ::CheckDlgButton(m_hWnd, IDC_STORAGE_USE_CARD,
                   ReadSettingInt(u"Settings", u"UseStorageCard", 0) ? BST_CHECKED : BST_UNCHECKED);
  OnCardChange();
  SetItemText(IDC_STORAGE_USE_CARD, u"Store all data on card");
  SetItemText(IDC_STORAGE_TOTAL_LABEL, u"Total space on media\t:");
  SetItemText(IDC_STORAGE_FREE_LABEL, u"Free space on media\t:");
  SetSpanningControls({IDC_STORAGE_USE_CARD, IDC_STORAGE_CARD_LIST});
  FinishStart(u"Data Storage");
  return result;
}

void COptionStorageDlg::OnCardChange() {
  HWND cards = ::GetDlgItem(m_hWnd, IDC_STORAGE_CARD_LIST);
  const int chosen = static_cast<int>(::SendMessageW(cards, CB_GETCURSEL, 0, 0));
  if (chosen < 0) return;
  WCHAR name[MAX_PATH] = {0};
  if (::SendMessageW(cards, CB_GETLBTEXTLEN, chosen, 0) >= MAX_PATH) return;
  ::SendMessageW(cards, CB_GETLBTEXT, chosen, reinterpret_cast<LPARAM>(name));
  ULARGE_INTEGER total, free;
  if (!CardSpace(name, &total, &free) || total.QuadPart < kSmallestCard) return;
  ::SetDlgItemTextW(m_hWnd, IDC_STORAGE_TOTAL, Megabytes(total));
  ::SetDlgItemTextW(m_hWnd, IDC_STORAGE_FREE, Megabytes(free));
}

void COptionStorageDlg::OnOK() {
  LPCWSTR caption = GetTouchFlag() ? u"Quillet Reach" : u"Quillet";
  // A refresh writes item stores and the list: nothing moves under it.
  if (m_isRefreshRunning && m_isRefreshRunning()) {
    ::MessageBoxW(m_hWnd, Localized(u"Please wait until the channels have been refreshed."), Localized(caption),
                  MB_OK | MB_ICONINFORMATION);
    return;
  }
  ResetCachedPaths();
  WCHAR oldRoot[MAX_PATH] = {0};
  GetDataRoot(oldRoot);

  HWND cards = ::GetDlgItem(m_hWnd, IDC_STORAGE_CARD_LIST);
  const int chosen = static_cast<int>(::SendMessageW(cards, CB_GETCURSEL, 0, 0));
  const BOOL onCard = ::IsDlgButtonChecked(m_hWnd, IDC_STORAGE_USE_CARD) == BST_CHECKED;
  CString cardName = ReadSettingString(u"Settings", u"StorageCardName", u"");
  if (chosen >= 0) {
    WCHAR name[MAX_PATH] = {0};
    if (::SendMessageW(cards, CB_GETLBTEXTLEN, chosen, 0) < MAX_PATH) {
      ::SendMessageW(cards, CB_GETLBTEXT, chosen, reinterpret_cast<LPARAM>(name));
      cardName = name;
    }
  }
  // The card's folders for the data that are missing now: a move that is
  // refused takes them away again, leaving the card as it was.
  std::vector<CString> made;
  if (onCard && !cardName.IsEmpty())
    for (const CString& folder : CardRootFolders(cardName))
      if (::GetFileAttributesW(folder) == INVALID_FILE_ATTRIBUTES) made.push_back(folder);
  WCHAR newRoot[MAX_PATH] = {0};
  GetDataRootFor(onCard, cardName, newRoot);
  if (!made.empty() && made.back().CompareNoCase(CString(newRoot) + u"\\ChannelData") != 0) made.clear();

  // The settings move the storage root with one value written at once:
  // towards a card the card's name comes before the switch, back to the
  // device the switch comes before the name. A program ended between two
  // writes still finds the data in one place, whole.
  auto writeSettings = [&] {
    if (onCard) {
      if (chosen >= 0) WriteSettingString(u"Settings", u"StorageCardName", cardName);
      WriteSettingInt(u"Settings", u"StorageCardNo", chosen);
      WriteSettingInt(u"Settings", u"UseStorageCard", 1);
    } else {
      WriteSettingInt(u"Settings", u"UseStorageCard", 0);
      WriteSettingInt(u"Settings", u"StorageCardNo", chosen);
      if (chosen >= 0) WriteSettingString(u"Settings", u"StorageCardName", cardName);
    }
    ResetCachedPaths();
    WCHAR root[MAX_PATH] = {0};
    GetDataRoot(root);
    WriteSettingString(u"Settings", u"Storage", root);
  };
  // The same place again moves nothing. Any other name may still lead to
  // the same folder (a link), or name another folder though it differs
  // only in letter case: the move looks at the folders themselves.
  if (CString(oldRoot) == newRoot) {
    writeSettings();
  } else if (!MoveChannelData(oldRoot, newRoot, m_pList, writeSettings)) {
    // Not all of the data fitted: it all stays where it was and in use,
    // and the card keeps nothing of the attempt.
    for (auto folder = made.rbegin(); folder != made.rend(); ++folder) ::RemoveDirectoryW(*folder);
    ::MessageBoxW(m_hWnd, Localized(u"The data could not be moved. It stays where it was."), Localized(caption),
                  MB_OK | MB_ICONEXCLAMATION);
    return;
  }
  EndDialog(IDOK);
}
