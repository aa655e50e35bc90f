// Dialog templates and menus of the reading screens: the reading view's
// dialog (141), the touch reading menu's dialog (226, no controls) and, for devices without a touch screen, its menu (1038) and
// menu bar (1038): the left soft key goes back to the headlines, the right
// one opens the article menu with the font sizes.
#include <vector>

#include "kernel/resource.h"
#include "quillet/res/resources.h"
#include "shell/aygshell.h"
#include "user/dialog.h"

namespace {

constexpr WORD kReadingDialog = 141;
constexpr WORD kReadingMenuDialog = 226;
constexpr WORD kReadingMenu = 1038;
constexpr WORD kReadingHiddenStatic = 1051;

}  // namespace

void RegisterReadingResources() {
  using qk::shell::MenuItem;
  static std::vector<DWORD> dialog, menuDialog;
  static std::vector<BYTE> menu, bar;
  dialog = qk::DialogTemplateBuilder(WS_POPUP | WS_VISIBLE, 0, 0, 0, 160, 150)
               .Font(9, u"Tahoma")
               .Control(u"STATIC", u"", kReadingHiddenStatic, WS_CHILD, 0, 0, 10, 10)
               .Build();
  menuDialog = qk::DialogTemplateBuilder(WS_POPUP | WS_VISIBLE, 0, 0, 0, 160, 150).Font(9, u"Tahoma").Build();
  std::vector<MenuItem> article = {{u"Previous Article", 32875, 0, {}},
                                   {u"Next Article", 32877, 0, {}},
                                   {u"Delete", 32861, 0, {}},
                                   {u"Email this Article", 32904, 0, {}},
                                   {u"", 0, 0, {}},
                                   {u"Largest Font", 32854, 0, {}},
                                   {u"Larger Font", 32855, 0, {}},
                                   {u"Medium Font", 32856, 0, {}},
                                   {u"Smaller Font", 32857, 0, {}},
                                   {u"Smallest Font", 32859, 0, {}}};
  menu = qk::shell::BuildMenuTemplate({{u"Headlines", 32814, 0, {}}, {u"Menu", 0, 0, article}});
  qk::shell::MenuBarButton headlines, menuKey;
  headlines.command = 32814;
  menuKey.command = 32797;
  menuKey.subMenu = 1;
  bar = qk::shell::BuildMenuBarResource(kReadingMenu, {headlines, menuKey});
  static qk::ResourceEntry entries[] = {
      {nullptr, 5, kReadingDialog, nullptr, dialog.data(), dialog.size() * sizeof(DWORD)},
      {nullptr, 5, kReadingMenuDialog, nullptr, menuDialog.data(), menuDialog.size() * sizeof(DWORD)},
      {nullptr, 4, kReadingMenu, nullptr, menu.data(), menu.size()},
      {nullptr, 10, kReadingMenu, nullptr, bar.data(), bar.size()},
  };
  qk::RegisterResources(nullptr, entries, sizeof entries / sizeof entries[0]);
}
