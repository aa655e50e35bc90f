// Registration of the main program's resources.
#include "quillet/res/resources.h"

#include <mutex>
#include <vector>

#include "kernel/resource.h"
#include "shell/aygshell.h"
#include "user/dialog.h"

void RegisterQuilletImages();
void RegisterHeadlineResources();
void RegisterReadingResources();
void RegisterWizardResources();
void RegisterInputResources();
void RegisterMenuResources();
void RegisterOpmlResources();
void RegisterPropertiesResources();
void RegisterOptionResources();
void RegisterTemplatesResources();
void RegisterOptionDataResources();
void RegisterWelcomeResources();

namespace {

// The dialog templates, written once and kept for the life of the program.
void RegisterDialogs() {
  static std::vector<DWORD> htmlView;
  // The plain HTML view: a full-screen page without controls; its views are
  // made by the dialog itself.
  htmlView = qk::DialogTemplateBuilder(WS_POPUP | WS_VISIBLE, 0, 0, 0, 160, 200).Build();
  static qk::ResourceEntry entries[] = {
      {nullptr, 5, IDD_HTML_VIEW, nullptr, htmlView.data(), htmlView.size() * sizeof(DWORD)},
  };
  qk::RegisterResources(nullptr, entries, sizeof entries / sizeof entries[0]);
}

// The main frame's menu (128) and its menu bar (128) for devices without a
// touch screen: the left soft key refreshes (or cancels), the right one
// opens the menu of the channel list.
void RegisterMainMenu() {
  using qk::shell::MenuItem;
  static std::vector<BYTE> menu, bar;
  std::vector<MenuItem> options = {{u"General", 32853, 0, {}},
                                   {u"Network", 32848, 0, {}},
                                   {u"Data Storage", 32822, 0, {}},
                                   {u"Auto Update", 32821, 0, {}}};
  std::vector<MenuItem> channel = {{u"New", 32795, 0, {}},
                                   {u"Refresh Channel", 32879, 0, {}},
                                   {u"Properties", 32827, 0, {}},
                                   {u"Read", 32802, 0, {}},
                                   {u"Unread", 32804, 0, {}},
                                   {u"All Channels As Read", 32806, 0, {}},
                                   {u"All Channels As Unread", 32808, 0, {}},
                                   {u"Delete", 32831, 0, {}},
                                   {u"Change Category", 32832, 0, {}},
                                   {u"", 0, 0, {}},
                                   {u"Categories", 32891, 0, {}},
                                   {u"Options", 0, 0, options},
                                   {u"Language", 32888, 0, {}},
                                   {u"Export", 32826, 0, {}},
                                   {u"Delete All Data", 32887, 0, {}},
                                   {u"About", 57664, 0, {}},
                                   {u"", 0, 0, {}},
                                   {u"Exit", 32852, 0, {}}};
  menu = qk::shell::BuildMenuTemplate({{u"Refresh", 32793, 0, {}}, {u"Menu", 0, 0, channel}});
  qk::shell::MenuBarButton refresh, menuKey;
  refresh.command = 32793;
  menuKey.command = 32797;
  menuKey.subMenu = 1;
  bar = qk::shell::BuildMenuBarResource(IDR_MAIN_MENU, {refresh, menuKey});
  static qk::ResourceEntry entries[] = {
      {nullptr, 4, IDR_MAIN_MENU, nullptr, menu.data(), menu.size()},
      {nullptr, 10, IDR_MAIN_MENU, nullptr, bar.data(), bar.size()},
  };
  qk::RegisterResources(nullptr, entries, sizeof entries / sizeof entries[0]);
}

}  // namespace

void RegisterQuilletResources() {
  static std::once_flag once;
  std::call_once(once, [] {
    RegisterQuilletImages();
    RegisterDialogs();
    RegisterMainMenu();
    RegisterHeadlineResources();
    RegisterReadingResources();
    RegisterWizardResources();
    RegisterInputResources();
    RegisterMenuResources();
    RegisterOpmlResources();
    RegisterPropertiesResources();
    RegisterOptionResources();
    RegisterTemplatesResources();
    RegisterOptionDataResources();
    RegisterWelcomeResources();
  });
}
