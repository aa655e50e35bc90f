// Dialog templates of the General (186) and Network (175) option pages:
// 163 x 150 dialog units in Tahoma 9, the page caption 1006 first. Both
// pages take the wizard's soft-key bar (347: OK and Cancel).
#include <vector>

#include "controls/commctrl.h"
#include "kernel/resource.h"
#include "quillet/res/resources.h"
#include "user/dialog.h"

namespace {

constexpr WORD kGeneralPage = 186;
constexpr WORD kNetworkPage = 175;
constexpr DWORD kPage = WS_POPUP | WS_VISIBLE | DS_SETFONT;
constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;
constexpr DWORD kCheck = kChild | WS_TABSTOP | BS_AUTOCHECKBOX;
constexpr DWORD kNumber = kChild | WS_TABSTOP | WS_BORDER | ES_NUMBER | ES_AUTOHSCROLL;
constexpr DWORD kSpin = kChild | UDS_ALIGNLEFT | UDS_ARROWKEYS;

}  // namespace

void RegisterOptionResources() {
  static std::vector<DWORD> general, network;
  general = qk::DialogTemplateBuilder(kPage, 0, 0, 0, 163, 150)
                .Font(9, u"Tahoma")
                .Control(u"STATIC", u"General", 1006, kChild | SS_LEFT, 0, 0, 163, 14)
                .Control(u"STATIC", u"Limit the number of articles in a channel to", 1053, kChild, 4, 18, 155, 18)
                .Control(u"EDIT", u"", 1040, kNumber, 4, 37, 44, 13)
                .Control(UPDOWN_CLASS, u"", 1041, kSpin, 49, 37, 11, 13)
                .Control(u"STATIC", u"Google Reader download size", 1054, kChild | SS_NOTIFY, 4, 54, 155, 10)
                .Control(u"EDIT", u"", 1042, kNumber, 4, 65, 44, 13)
                .Control(UPDOWN_CLASS, u"", 1043, kSpin, 49, 65, 11, 13)
                .Control(u"BUTTON", u"Download/show images if possible", 1036, kCheck, 4, 84, 155, 12)
                .Control(u"BUTTON", u"Download fulltext articles if having template", 1037, kCheck | BS_MULTILINE, 4,
                         98, 155, 20)
                .Control(u"BUTTON", u"Full screen reading", 1038, kCheck, 4, 120, 155, 12)
                .Control(u"BUTTON", u"Limit the number of articles in a channel to", 1039,
                         WS_CHILD | WS_DISABLED | BS_AUTOCHECKBOX, 4, 134, 155, 12)
                .Build();
  network = qk::DialogTemplateBuilder(kPage, 0, 0, 0, 163, 150)
                .Font(9, u"Tahoma")
                .Control(u"STATIC", u"Network", 1006, kChild | SS_LEFT, 0, 0, 163, 14)
                .Control(u"BUTTON", u"Proxy", 1031, kCheck, 4, 18, 155, 12)
                .Control(u"EDIT", u"", 1033, kChild | WS_TABSTOP | WS_BORDER | ES_AUTOHSCROLL, 4, 32, 155, 13)
                .Control(u"BUTTON", u"Prompt to establish a connection", 1032, kCheck, 4, 51, 155, 12)
                .Control(u"BUTTON", u"Write channel updating log", 1034, kCheck, 4, 65, 155, 12)
                .Control(u"STATIC", u"Email Account:", 1058, kChild, 4, 83, 155, 10)
                .Control(u"COMBOBOX", u"", 1059, kChild | WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST | CBS_SORT, 4,
                         94, 155, 60)
                .Build();
  static qk::ResourceEntry entries[] = {
      {nullptr, 5, kGeneralPage, nullptr, nullptr, 0},
      {nullptr, 5, kNetworkPage, nullptr, nullptr, 0},
  };
  entries[0].data = general.data();
  entries[0].size = general.size() * sizeof(DWORD);
  entries[1].data = network.data();
  entries[1].size = network.size() * sizeof(DWORD);
  qk::RegisterResources(nullptr, entries, sizeof entries / sizeof entries[0]);
}
