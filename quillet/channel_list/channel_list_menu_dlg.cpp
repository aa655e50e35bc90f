#include "quillet/channel_list/channel_list_menu_dlg.h"

#include <cstdio>

#include "common/file_finder.h"
#include "common/localize.h"
#include "common/settings.h"
#include "quillet/screens/screen_messages.h"
#include "quillet/screens/screen_util.h"
#include "quillet/ui/density.h"
#include "shell/aygshell.h"

namespace {

struct Entry {
  const char16_t* text;
  UINT low, high, id;
};
const Entry kMainPage[] = {{u"New Channel", 242, 295, 2},
                           {u"Delete All Data", 330, 336, 9},
                           {u"Export", 254, 281, 3},
                           {u"Language", 345, 346, 8},
                           {u"Exit Quillet", 253, 297, 1}};
const Entry kOptionsPage[] = {{u"General", 258, 277, 101},
                              {u"Auto Update", 257, 276, 102},
                              {u"Data Storage", 259, 278, 103},
                              {u"Network", 260, 279, 104},
                              {u"About", 256, 268, 4}};

void AddEntries(CTouchMenuList* list, const Entry* entries, size_t count) {
  for (size_t i = 0; i < count; ++i)
    list->AddItem(Localized(entries[i].text), nullptr, static_cast<int>(ImageIdAt192(entries[i].low, entries[i].high)),
                  -1, entries[i].id);
  list->RefreshItems(FALSE);
}

// The display name of a language table: the rest of its first complete
// "#Language:" line; empty without one or without the UTF-16 byte-order
// mark.
CString LanguageName(LPCWSTR path) {
  FILE* file = _wfopen(path, u"rb");
  if (!file) return CString();
  std::u16string text;
  unsigned char bytes[2];
  bool first = true, marked = false;
  while (fread(bytes, 1, 2, file) == 2) {
    const char16_t unit = static_cast<char16_t>(bytes[0] | (bytes[1] << 8));
    if (first) {
      first = false;
      marked = unit == 0xFEFF;
      if (!marked) break;
      continue;
    }
    if (unit != u'\n') {
      text += unit;
      continue;
    }
    CString line(text.c_str());
    text.clear();
    line.Trim();
    if (line.Left(10) == u"#Language:") {
      fclose(file);
      CString name = line.Mid(10);
      name.Trim();
      return name;
    }
  }
  fclose(file);
  return CString();
}

}  // namespace

CChannelListMenuDlg::CChannelListMenuDlg(CWnd* parent, int page)
    : CMenuScreen(IDD_CHANNEL_LIST_MENU, parent), m_nFirstPage(page) {}

std::vector<CChannelListMenuDlg::Language> CChannelListMenuDlg::FindLanguages() {
  std::vector<Language> found;
  WCHAR program[MAX_PATH] = {0};
  GetProgramFolder(program);
  const CString folder = CString(program) + u"\\Localization\\";
  CFileFinder finder;
  if (!finder.FindFile(folder + u"*")) return found;
  BOOL more;
  do {
    more = finder.FindNextFile();
    if (!finder.IsDirectory() || finder.IsDots()) continue;
    const CString name = LanguageName(folder + finder.GetFileName() + u"\\Default.txt");
    if (!name.IsEmpty()) found.push_back({name, finder.GetFileName()});
  } while (more);
  return found;
}

BOOL CChannelListMenuDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  SetWindowText(GetTouchFlag() ? u"Quillet Reach" : u"Quillet");
  InitScreenDpi(0);
  if (!GetTouchFlag()) {
    HWND bar = CreateMenuBar(m_hWnd, IDR_WIZARD_MENU);
    if (!bar) return TRUE;
    SetSoftKeyText(bar, IDOK, u"OK");
    SetSoftKeyText(bar, IDCANCEL, u"Cancel");
    ::SendMessageW(bar, TB_HIDEBUTTON, IDOK, TRUE);
    ::DrawMenuBar(bar);
  }
  PlaceOnScreen(!GetTouchFlag());
  BuildPages();
  ShowPage(m_nFirstPage - 1);
  return TRUE;
}

void CChannelListMenuDlg::BuildPages() {
  AddEntries(AddPage(OnMainPageItem, TRUE), kMainPage, std::size(kMainPage));
  SetBarButton(0, 0, 264, 296, 5);
  SetBarButton(0, 4, IDR_PNG_CANCEL, IDR_PNG_CANCEL_192, 1);
  AddEntries(AddPage(OnOptionsPageItem, TRUE), kOptionsPage, std::size(kOptionsPage));
  SetBarButton(1, 0, IDR_PNG_OK, IDR_PNG_OK_192, 7);
  SetBarButton(1, 4, IDR_PNG_CANCEL, IDR_PNG_CANCEL_192, 1);
  // The language page shares the options page's bar.
  CTouchMenuList* languages = AddPage(OnLanguageChosen, TRUE);
  SetBarButton(2, 0, IDR_PNG_OK, IDR_PNG_OK_192, 7);
  SetBarButton(2, 4, IDR_PNG_CANCEL, IDR_PNG_CANCEL_192, 1);
  m_languages = FindLanguages();
  CString current = ReadSettingString(u"Settings", u"Language", u"");
  if (current.IsEmpty()) {
    WCHAR name[17] = {0};
    GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SABBREVLANGNAME, name, 16);
    current = name;
  }
  current.MakeUpper();
  const int check = static_cast<int>(GetTouchFlag() ? ImageIdAt192(IDR_PNG_OK, IDR_PNG_OK_192) : 378);
  BOOL found = FALSE;
  for (const Language& l : m_languages) found = found || l.folder == current;
  languages->AddItem(Localized(u"English"), nullptr, found ? -1 : check, -1, CHANNEL_MENU_ENGLISH);
  for (size_t i = 0; i < m_languages.size(); ++i)
    languages->AddItem(Localized(m_languages[i].name), nullptr, m_languages[i].folder == current ? check : -1, -1,
                       CHANNEL_MENU_ENGLISH + 1 + static_cast<UINT>(i));
  languages->RefreshItems(FALSE);
}

void CChannelListMenuDlg::SendAndClose(UINT command) {
  ShowWindow(SW_HIDE);
  SendCommandToChannelList(command);
  if (::IsWindow(m_hWnd)) SendMessage(WM_CLOSE);
}

void CChannelListMenuDlg::OnMainPageItem(HWND window, DWORD_PTR, UINT id, CTouchListItem*) {
  auto* self = FromWindow<CChannelListMenuDlg>(window);
  if (!self) return;
  switch (id) {
    case 2: self->SendAndClose(ID_NEW_CHANNEL); break;
    case 9: self->SendAndClose(ID_DELETE_ALL_DATA); break;
    case 3: self->SendAndClose(ID_EXPORT); break;
    case 8: self->ShowPage(CHANNEL_MENU_PAGE_LANGUAGE - 1); break;
    case 1:
      self->SendMessage(WM_CLOSE);
      if (CWnd* main = AfxGetMainWnd()) main->SendMessage(WM_COMMAND, ID_APP_EXIT_COMMAND, 0);
      break;
    default: break;
  }
}

void CChannelListMenuDlg::OnOptionsPageItem(HWND window, DWORD_PTR, UINT id, CTouchListItem*) {
  auto* self = FromWindow<CChannelListMenuDlg>(window);
  if (!self) return;
  if (!SendOptionEntry(id, 4)) return;
  // The page the option dialog covered shows again.
  if (::IsWindow(self->m_hWnd)) self->ShowPage(self->GetPage());
}

void CChannelListMenuDlg::OnLanguageChosen(HWND window, DWORD_PTR, UINT id, CTouchListItem*) {
  auto* self = FromWindow<CChannelListMenuDlg>(window);
  if (!self || id < CHANNEL_MENU_ENGLISH) return;
  CString folder(u"ENU");
  const size_t index = id - CHANNEL_MENU_ENGLISH - 1;
  if (id > CHANNEL_MENU_ENGLISH) {
    if (index >= self->m_languages.size()) return;
    folder = self->m_languages[index].folder;
  }
  WriteSettingString(u"Settings", u"Language", folder);
  self->SendMessage(WM_CLOSE);
}

void CChannelListMenuDlg::OnBarCommand(int command) {
  if (command == 1 || command == 7) EndDialog(IDOK);
  else if (command == 5) ShowPage(CHANNEL_MENU_PAGE_OPTIONS - 1);
}
