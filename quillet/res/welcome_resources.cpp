// The welcome page's dialog template (143). The page paints its title and
// text itself; its caption control, text control and "Continue >>" button
// carry the texts but stay hidden, and the key device's text band (1061)
// is shown by the page.
#include <vector>

#include "controls/commctrl.h"
#include "kernel/resource.h"
#include "user/dialog.h"

namespace {

constexpr WORD kWelcomePage = 143;

}  // namespace

void RegisterWelcomeResources() {
  static std::vector<DWORD> page;
  page = qk::DialogTemplateBuilder(WS_POPUP | WS_VISIBLE, 0, 0, 0, 163, 150)
             .Font(9, u"Tahoma")
             .Control(u"BUTTON", u"Continue >>", IDOK, WS_CHILD | BS_PUSHBUTTON, 103, 134, 56, 12)
             .Control(u"STATIC", u"", 1006, WS_CHILD, 2, 0, 159, 28)
             .Control(u"STATIC", u"", 1034, WS_CHILD, 4, 30, 155, 100)
             .Control(u"EDIT", u"", 1061, WS_CHILD | ES_MULTILINE | ES_READONLY, 4, 110, 95, 36)
             .Build();
  static qk::ResourceEntry entries[] = {{nullptr, 5, kWelcomePage, nullptr, nullptr, 0}};
  entries[0].data = page.data();
  entries[0].size = page.size() * sizeof(DWORD);
  qk::RegisterResources(nullptr, entries, sizeof entries / sizeof entries[0]);
}
