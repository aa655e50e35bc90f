// The dialog template of the wizard's templates page (190): a child page
// that paints itself; its tree control and its three texts are created
// hidden and never shown.
#include <vector>

#include "controls/commctrl.h"
#include "kernel/resource.h"
#include "quillet/res/resources.h"
#include "user/dialog.h"

namespace {
constexpr WORD kTemplatesPage = 190;  // IDD_TEMPLATES_PAGE
}  // namespace

void RegisterTemplatesResources() {
  static std::vector<DWORD> page;
  page = qk::DialogTemplateBuilder(WS_CHILD | DS_CONTROL, 0, 0, 0, 163, 150)
             .Font(9, u"Tahoma")
             .Control(WC_TREEVIEW, u"", 1037, WS_CHILD | WS_BORDER, 0, 30, 163, 120)
             .Control(u"STATIC", u"New Channel Wizard", 1003, WS_CHILD | SS_LEFT, 0, 0, 163, 14)
             .Control(u"STATIC", u"Choose the channel templates to add:", 1004, WS_CHILD | SS_LEFT, 2, 16, 159, 10)
             .Control(u"STATIC", u"Loading, please waiting...", 1005, WS_CHILD | SS_LEFT, 0, 16, 163, 10)
             .Build();
  static qk::ResourceEntry entries[] = {
      {nullptr, 5, kTemplatesPage, nullptr, nullptr, 0},
  };
  entries[0].data = page.data();
  entries[0].size = page.size() * sizeof(DWORD);
  qk::RegisterResources(nullptr, entries, sizeof entries / sizeof entries[0]);
}
