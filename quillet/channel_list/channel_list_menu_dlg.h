// The full-screen menu of the channel list (template 217), on one of three
// pages: the main page (new channel, delete all data, export, language,
// exit), the options page (the four option pages and About) and the
// language page, which lists "English" and every language table found in
// the program's "Localization" folders and writes the choice to the
// setting "Language". The entries send their commands to the channel-list
// window, which does the work.
#pragma once

#include <map>
#include <vector>

#include "quillet/screens/menu_screen.h"

#define IDD_CHANNEL_LIST_MENU 217
#define CHANNEL_MENU_PAGE_MAIN 1
#define CHANNEL_MENU_PAGE_OPTIONS 2
#define CHANNEL_MENU_PAGE_LANGUAGE 3
// The language page's ids: English, then one id per language found.
#define CHANNEL_MENU_ENGLISH 1000

class CChannelListMenuDlg : public CMenuScreen {
 public:
  CChannelListMenuDlg(CWnd* parent, int page);

  // The languages found: display name and folder, in the order found.
  struct Language {
    CString name, folder;
  };
  const std::vector<Language>& GetLanguages() const { return m_languages; }
  // The languages of the program folder's "Localization" tables: the
  // "#Language:" line of each folder's UTF-16 "Default.txt".
  static std::vector<Language> FindLanguages();

  BOOL OnInitDialog() override;

  static void OnMainPageItem(HWND window, DWORD_PTR context, UINT id, CTouchListItem* item);
  static void OnOptionsPageItem(HWND window, DWORD_PTR context, UINT id, CTouchListItem* item);
  static void OnLanguageChosen(HWND window, DWORD_PTR context, UINT id, CTouchListItem* item);

 protected:
  void OnBarCommand(int command) override;

 private:
  void BuildPages();
  // Hides the menu, has the channel-list window carry the command out, and
  // closes the menu.
  void SendAndClose(UINT command);

  int m_nFirstPage;
  std::vector<Language> m_languages;
};
