// Dialog templates of the Data Storage option page (165) and the Auto Update
// option page (164): 163 x 150 dialog units in Tahoma 9, the page caption
// 1006 first. Both pages use the option pages' menu bar (347).
#include <vector>

#include "controls/commctrl.h"
#include "kernel/resource.h"
#include "quillet/res/resources.h"
#include "user/dialog.h"

namespace {

constexpr WORD kAutoUpdatePage = 164;
constexpr WORD kStoragePage = 165;
constexpr DWORD kPageStyle = WS_POPUP | WS_CAPTION | WS_VISIBLE;
constexpr DWORD kLabel = WS_CHILD | WS_VISIBLE | SS_LEFT;
// A label whose tab lines its colon up: kept on one line.
constexpr DWORD kTabbedLabel = WS_CHILD | WS_VISIBLE | SS_LEFTNOWORDWRAP;
constexpr DWORD kDropList = WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST;

}  // namespace

void RegisterOptionDataResources() {
  static std::vector<DWORD> storage, autoUpdate;
  storage = qk::DialogTemplateBuilder(kPageStyle, 0, 0, 0, 163, 150, u"Quillet")
                .Font(9, u"Tahoma")
                .Control(u"STATIC", u"Data Storage", 1006, kLabel, 0, 0, 163, 14)
                .Control(u"BUTTON", u"Store all data on card", 1016,
                         WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX, 6, 20, 151, 12)
                .Control(u"COMBOBOX", u"", 1015, kDropList, 6, 36, 151, 70)
                .Control(u"STATIC", u"Total space on media\t:", 1046, kTabbedLabel, 6, 58, 106, 10)
                .Control(u"STATIC", u"", 1017, kLabel, 112, 58, 45, 10)
                .Control(u"STATIC", u"Free space on media\t:", 1047, kTabbedLabel, 6, 72, 106, 10)
                .Control(u"STATIC", u"", 1018, kLabel, 112, 72, 45, 10)
                .Build();
  // The interval row (1014 count, 1013 unit) and the time picker 1057 share
  // one place; the mode shows one of them.
  autoUpdate = qk::DialogTemplateBuilder(kPageStyle, 0, 0, 0, 163, 150, u"Quillet")
                   .Font(9, u"Tahoma")
                   .Control(u"STATIC", u"Auto Update", 1006, kLabel, 0, 0, 163, 14)
                   .Control(u"STATIC", u"Auto Update Mode:", 1042, kLabel, 6, 20, 151, 10)
                   .Control(u"COMBOBOX", u"", 1012, kDropList, 6, 31, 151, 80)
                   .Control(u"STATIC", u"Don't update more than once every:", 1043, kLabel, 6, 50, 151, 10)
                   .Control(u"COMBOBOX", u"", 1014, kDropList, 6, 61, 40, 100)
                   .Control(u"COMBOBOX", u"", 1013, kDropList, 50, 61, 70, 60)
                   .Control(DATETIMEPICK_CLASS, u"", 1057,
                            WS_CHILD | WS_TABSTOP | DTS_TIMEFORMAT | DTS_UPDOWN | DTS_RIGHTALIGN, 6, 61, 80, 14)
                   .Control(u"STATIC", u"Last Update:", 1044, kLabel, 6, 82, 151, 10)
                   .Control(u"STATIC", u"", 1035, kLabel, 6, 93, 151, 10)
                   .Build();
  static qk::ResourceEntry entries[] = {
      {nullptr, 5, kStoragePage, nullptr, nullptr, 0},
      {nullptr, 5, kAutoUpdatePage, nullptr, nullptr, 0},
  };
  entries[0].data = storage.data();
  entries[0].size = storage.size() * sizeof(DWORD);
  entries[1].data = autoUpdate.data();
  entries[1].size = autoUpdate.size() * sizeof(DWORD);
  qk::RegisterResources(nullptr, entries, sizeof entries / sizeof entries[0]);
}
