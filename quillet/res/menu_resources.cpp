// Dialog templates and menu bars of the menu screens: the channel-list menu
// pages (217), the headline-list menu and the category chooser (197), the
// category editor (159) and the editor's soft keys in its add/delete mode
// (354: Cancel and a Menu of New, Rename and Delete).
#include <vector>

#include "controls/commctrl.h"
#include "kernel/resource.h"
#include "quillet/res/resources.h"
#include "shell/aygshell.h"
#include "user/dialog.h"

namespace {

constexpr WORD kChannelListMenu = 217;
constexpr WORD kMenuScreen = 197;
constexpr WORD kCategoryEdit = 159;
constexpr WORD kCategoryEditBar = 354;

}  // namespace

void RegisterMenuResources() {
  static std::vector<DWORD> channelMenu, menuScreen, editor;
  static std::vector<BYTE> menu, bar;
  // The menu screens paint everything themselves and size themselves to
  // the screen.
  channelMenu = qk::DialogTemplateBuilder(WS_POPUP | WS_VISIBLE, 0, 0, 0, 160, 200).Build();
  menuScreen = qk::DialogTemplateBuilder(WS_POPUP | WS_VISIBLE, 0, 0, 0, 160, 200).Build();
  editor = qk::DialogTemplateBuilder(WS_POPUP | WS_VISIBLE, 0, 0, 0, 163, 150)
               .Control(u"STATIC", u"Add/Delete Categories", 1006, WS_CHILD | WS_VISIBLE | SS_CENTER, 0, 0, 163, 14)
               .Control(u"BUTTON", u"New", 1011, WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 2, 16, 50, 12)
               .Control(u"BUTTON", u"Rename", 1013, WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 56, 16, 50, 12)
               .Control(u"BUTTON", u"Delete", 1012, WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 110, 16, 50, 12)
               .Control(u"STATIC", u"Choose the new category for this channel:", 1025, WS_CHILD | WS_VISIBLE, 2, 16,
                        159, 10)
               .Control(WC_LISTVIEW, u"", 1010,
                        WS_CHILD | WS_VISIBLE | WS_TABSTOP | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS |
                            LVS_NOCOLUMNHEADER,
                        2, 30, 159, 100)
               .Control(u"BUTTON", u"OK", IDOK, WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 20, 134, 50, 12)
               .Control(u"BUTTON", u"Cancel", IDCANCEL, WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 93, 134, 50, 12)
               .Build();
  menu = qk::shell::BuildMenuTemplate(
      {{u"Cancel", IDCANCEL, 0, {}},
       {u"Menu", 0, 0, {{u"New", 32893, 0, {}}, {u"Rename", 32895, 0, {}}, {u"Delete", 32897, 0, {}}}}});
  qk::shell::MenuBarButton cancel, menuKey;
  cancel.command = IDCANCEL;
  menuKey.command = 32797;
  menuKey.subMenu = 1;
  bar = qk::shell::BuildMenuBarResource(kCategoryEditBar, {cancel, menuKey});
  static qk::ResourceEntry entries[] = {
      {nullptr, 5, kChannelListMenu, nullptr, nullptr, 0}, {nullptr, 5, kMenuScreen, nullptr, nullptr, 0},
      {nullptr, 5, kCategoryEdit, nullptr, nullptr, 0},    {nullptr, 4, kCategoryEditBar, nullptr, nullptr, 0},
      {nullptr, 10, kCategoryEditBar, nullptr, nullptr, 0},
  };
  entries[0].data = channelMenu.data();
  entries[0].size = channelMenu.size() * sizeof(DWORD);
  entries[1].data = menuScreen.data();
  entries[1].size = menuScreen.size() * sizeof(DWORD);
  entries[2].data = editor.data();
  entries[2].size = editor.size() * sizeof(DWORD);
  entries[3].data = menu.data();
  entries[3].size = menu.size();
  entries[4].data = bar.data();
  entries[4].size = bar.size();
  qk::RegisterResources(nullptr, entries, sizeof entries / sizeof entries[0]);
}
