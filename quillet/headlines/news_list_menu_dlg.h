// The headline list's full-screen menu (template 197): the channel's
// actions on its first page (mark all read or unread, delete all items,
// delete the channel, change its category, properties, exit) and the
// settings on the second (the option pages and About). An action is sent
// as a command to the headline list or to the channel-list window; the
// menu changes no data itself.
#pragma once

#include "quillet/res/screen_ids.h"
#include "quillet/screens/menu_screen.h"

class CNewsListMenuDlg : public CMenuScreen {
 public:
  explicit CNewsListMenuDlg(CWnd* parent);

  BOOL OnInitDialog() override;

  static void OnActionChosen(HWND window, DWORD_PTR context, UINT id, CTouchListItem* item);
  static void OnEntryChosen(HWND window, DWORD_PTR context, UINT id, CTouchListItem* item);

 protected:
  void OnBarCommand(int command) override;
};
