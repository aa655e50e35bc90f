// Dialog templates and menus of the headline screens.
#include <vector>

#include "kernel/resource.h"
#include "quillet/res/resources.h"
#include "quillet/res/screen_ids.h"
#include "shell/aygshell.h"
#include "user/dialog.h"

namespace {

// The headline list (140): a full-screen page without controls; the screen
// places itself and draws everything it shows.
void RegisterNewsListDialog() {
  static std::vector<DWORD> dialog;
  dialog = qk::DialogTemplateBuilder(WS_POPUP | WS_VISIBLE, 0, 0, 0, 160, 200).Build();
  static qk::ResourceEntry entries[] = {
      {nullptr, 5, IDD_NEWS_LIST, nullptr, dialog.data(), dialog.size() * sizeof(DWORD)},
  };
  qk::RegisterResources(nullptr, entries, sizeof entries / sizeof entries[0]);
}

// The headline list's menu (153) and menu bar (153) for devices without a
// touch screen: the left soft key goes back to the channels, the right one
// opens the headline commands.
void RegisterNewsListMenu() {
  using qk::shell::MenuItem;
  static std::vector<BYTE> menu, bar;
  std::vector<MenuItem> commands = {{u"Refresh", ID_REFRESH, 0, {}},
                                    {u"", 0, 0, {}},
                                    {u"Mark as Read", ID_MARK_READ, 0, {}},
                                    {u"Mark as Unread", ID_MARK_UNREAD, 0, {}},
                                    {u"Mark All As Read", ID_ALL_READ, 0, {}},
                                    {u"Mark All As Unread", ID_ALL_UNREAD, 0, {}},
                                    {u"", 0, 0, {}},
                                    {u"Delete this Article", ID_DELETE_ITEM, 0, {}},
                                    {u"Delete All Items", ID_DELETE_ALL_ITEMS, 0, {}},
                                    {u"Delete this Channel", ID_DELETE_CHANNEL, 0, {}},
                                    {u"", 0, 0, {}},
                                    {u"Change Category", ID_CHANGE_CATEGORY, 0, {}},
                                    {u"Properties", ID_CHANNEL_PROPERTIES, 0, {}}};
  menu = qk::shell::BuildMenuTemplate({{u"Channels", ID_BACK_TO_CHANNELS, 0, {}}, {u"Menu", 0, 0, commands}});
  qk::shell::MenuBarButton channels, menuKey;
  channels.command = ID_BACK_TO_CHANNELS;
  menuKey.command = ID_MENU_KEY;
  menuKey.subMenu = 1;
  bar = qk::shell::BuildMenuBarResource(IDR_NEWS_LIST_MENU, {channels, menuKey});
  static qk::ResourceEntry entries[] = {
      {nullptr, 4, IDR_NEWS_LIST_MENU, nullptr, menu.data(), menu.size()},
      {nullptr, 10, IDR_NEWS_LIST_MENU, nullptr, bar.data(), bar.size()},
  };
  qk::RegisterResources(nullptr, entries, sizeof entries / sizeof entries[0]);
}

}  // namespace

void RegisterHeadlineResources() {
  RegisterNewsListDialog();
  RegisterNewsListMenu();
}
