// The category chooser (template 197): which category of channels the
// channel list shows: all categories, one of the user's categories,
// "Google Reader" with the labels of the synchronised channels under it,
// or "Others" (always last). The choice is stored through the channel-list
// window. "Add/Delete" (a soft key, or the bar's button on a touch screen)
// opens the category editor; the caller reloads the channel list when the
// shown category changed or the categories were edited.
#pragma once

#include <vector>

#include "quillet/screens/menu_screen.h"

#define CATEGORY_MENU_ALL 2
// The rows of the categories: their index in the channel list dialog's
// category entries plus this base.
#define CATEGORY_MENU_FIRST_ENTRY 100

class CCategoryMenuDlg : public CMenuScreen {
 public:
  explicit CCategoryMenuDlg(CWnd* parent);

  // Set once the category editor ran from this screen.
  BOOL m_bCategoriesEdited = FALSE;

  BOOL OnInitDialog() override;
  void OnOK() override;

  static void OnCategoryChosen(HWND window, DWORD_PTR context, UINT id, CTouchListItem* item);

 protected:
  void OnBarCommand(int command) override;

 private:
  void FillCategories();
  void RunCategoryEditor();

  // The channel list dialog's category entries when the rows were made.
  std::vector<CString> m_entries;
};
