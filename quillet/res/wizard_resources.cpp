// Dialog templates and menus of the wizard screens: the new-channel wizard
// (171), its choice page (170), the wizard's soft-key bar (347) and the
// choice page's menu (172).
#include <vector>

#include "kernel/resource.h"
#include "quillet/res/resources.h"
#include "shell/aygshell.h"
#include "user/dialog.h"

namespace {

constexpr WORD kNewChannelPage = 170;
constexpr WORD kNewWizard = 171;
constexpr WORD kChoiceMenu = 172;
constexpr WORD kWizardMenuBar = 347;
constexpr UINT kChoiceNext = 32846;
constexpr UINT kChoiceCancel = 32845;

}  // namespace

void RegisterWizardResources() {
  static std::vector<DWORD> wizard, choice;
  static std::vector<BYTE> menu, bar;
  // The wizard: a popup that the wizard sizes itself and that its pages
  // cover whole.
  wizard = qk::DialogTemplateBuilder(WS_POPUP | WS_VISIBLE, 0, 0, 0, 160, 200).Build();
  // The choice page: a child dialog whose caption and two helper controls
  // stay hidden, without an area of their own (the page paints everything
  // itself).
  choice = qk::DialogTemplateBuilder(WS_CHILD | DS_CONTROL, 0, 0, 0, 160, 200)
               .Control(u"STATIC", u"", 1003, WS_CHILD, 0, 0, 0, 0)
               .Control(u"STATIC", u"", 1004, WS_CHILD, 0, 0, 0, 0)
               .Control(u"STATIC", u"", 1050, WS_CHILD, 0, 0, 0, 0)
               .Build();
  menu = qk::shell::BuildMenuTemplate({{u"Next", kChoiceNext, 0, {}}, {u"Cancel", kChoiceCancel, 0, {}}});
  // Two soft keys: OK (hidden until a page enables it) and Cancel.
  qk::shell::MenuBarButton ok, cancel;
  ok.command = IDOK;
  cancel.command = IDCANCEL;
  bar = qk::shell::BuildMenuBarResource(0, {ok, cancel});
  static qk::ResourceEntry entries[] = {
      {nullptr, 5, kNewWizard, nullptr, nullptr, 0},
      {nullptr, 5, kNewChannelPage, nullptr, nullptr, 0},
      {nullptr, 4, kChoiceMenu, nullptr, nullptr, 0},
      {nullptr, 10, kWizardMenuBar, nullptr, nullptr, 0},
  };
  entries[0].data = wizard.data();
  entries[0].size = wizard.size() * sizeof(DWORD);
  entries[1].data = choice.data();
  entries[1].size = choice.size() * sizeof(DWORD);
  entries[2].data = menu.data();
  entries[2].size = menu.size();
  entries[3].data = bar.data();
  entries[3].size = bar.size();
  qk::RegisterResources(nullptr, entries, sizeof entries / sizeof entries[0]);
}
