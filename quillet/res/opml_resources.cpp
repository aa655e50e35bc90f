// The dialog template of the new-channel wizard's OPML import page (144): a
// child page that paints its title band and its list itself. Its tree
// control and its three texts are created hidden and never shown.
#include <vector>

#include "controls/commctrl.h"
#include "kernel/resource.h"
#include "quillet/res/resources.h"
#include "user/dialog.h"

namespace {
constexpr WORD kOpmlPage = 144;  // IDD_OPML_DISPLAY
}  // namespace

void RegisterOpmlResources() {
  static std::vector<DWORD> page;
  page = qk::DialogTemplateBuilder(WS_CHILD | DS_CONTROL, 0, 0, 0, 163, 150)
             .Font(9, u"Tahoma")
             .Control(WC_TREEVIEW, u"", 1002, WS_CHILD | WS_BORDER, 0, 28, 163, 122)
             .Control(u"STATIC", u"New Channel Wizard", 1003, WS_CHILD, 0, 0, 163, 14)
             .Control(u"STATIC", u"Choose the channels to add:", 1004, WS_CHILD, 2, 16, 159, 10)
             .Control(u"STATIC", u"Loading, please waiting...", 1005, WS_CHILD, 0, 14, 163, 10)
             .Build();
  static qk::ResourceEntry entries[] = {
      {nullptr, 5, kOpmlPage, nullptr, nullptr, 0},
  };
  entries[0].data = page.data();
  entries[0].size = page.size() * sizeof(DWORD);
  qk::RegisterResources(nullptr, entries, sizeof entries / sizeof entries[0]);
}
