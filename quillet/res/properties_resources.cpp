// Dialog templates and the menu bar of the channel properties: the title
// page of the properties sheet (167), the sheet's Details page (168) and the
// empty child that shows the channel's details as HTML (169), the dialog
// form of the title page (349), and that form's soft keys for devices
// without a touch screen (355: a Menu of "Get Channel's Title" and
// "Rename", and Cancel).
#include <vector>

#include "kernel/resource.h"
#include "quillet/res/resources.h"
#include "shell/aygshell.h"
#include "user/dialog.h"

namespace {

// The ids these templates are known by in the screens.
constexpr WORD kTitlePage = 167;    // IDD_CHANNEL_INFO_PAGE
constexpr WORD kDetailsPage = 168;  // IDD_CHANNEL_INFO_DETAILS
constexpr WORD kDetailsHtml = 169;  // IDD_CHANNEL_INFO_DESC
constexpr WORD kTitleDialog = 349;  // IDD_CHANNEL_INFO_DIALOG
constexpr WORD kTitleBar = 355;     // IDR_CHANNEL_INFO_MENU
constexpr UINT kMenuKey = 32797, kGetTitle = 32898, kRename = 32895, kCancel = 32905;

// The controls of the title page, in both forms: the caption bar, the
// feed URL (read-only, several lines) and the title with their labels, the
// two command buttons, the progress label over the URL label's place and
// two statics that stay hidden.
qk::DialogTemplateBuilder TitleControls(qk::DialogTemplateBuilder builder) {
  return builder.Font(9, u"Tahoma")
      .Control(u"STATIC", u"Channel Properties", 1006, WS_CHILD | WS_VISIBLE | SS_LEFT, 0, 0, 163, 14)
      .Control(u"STATIC", u"0KB", 1028, WS_CHILD | SS_LEFT, 4, 18, 155, 10)
      .Control(u"STATIC", u"URL:", 1030, WS_CHILD | WS_VISIBLE | SS_LEFT, 4, 18, 155, 10)
      .Control(u"EDIT", u"", 1022,
               WS_CHILD | WS_VISIBLE | WS_BORDER | ES_MULTILINE | ES_AUTOVSCROLL | ES_READONLY, 4, 29,
               155, 36)
      .Control(u"STATIC", u"", 1027, WS_CHILD | SS_LEFT, 4, 29, 155, 36)
      .Control(u"STATIC", u"Title:", 1029, WS_CHILD | WS_VISIBLE | SS_LEFT, 4, 70, 155, 10)
      .Control(u"EDIT", u"", 1023, WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, 4, 81, 155, 14)
      .Control(u"STATIC", u"", 1032, WS_CHILD | SS_LEFT, 4, 81, 155, 14)
      .Control(u"BUTTON", u"Get Channel's Title", 1024, WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 4, 101,
               90, 14)
      .Control(u"BUTTON", u"Rename", 1025, WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 100, 101, 59, 14);
}

}  // namespace

void RegisterPropertiesResources() {
  static std::vector<DWORD> page, details, html, dialog;
  static std::vector<BYTE> menu, bar;
  page = TitleControls(qk::DialogTemplateBuilder(WS_CHILD | DS_CONTROL, 0, 0, 0, 163, 150, u"Title")).Build();
  details = qk::DialogTemplateBuilder(WS_CHILD | DS_CONTROL, 0, 0, 0, 163, 150, u"Details")
                .Font(9, u"Tahoma")
                .Control(u"STATIC", u"Channel Properties", 1006, WS_CHILD | WS_VISIBLE | SS_LEFT, 0, 0, 163, 14)
                .Build();
  html = qk::DialogTemplateBuilder(WS_CHILD | DS_CONTROL, 0, 0, 0, 163, 150).Font(9, u"Tahoma").Build();
  dialog = TitleControls(qk::DialogTemplateBuilder(WS_POPUP | WS_CAPTION | WS_VISIBLE, 0, 0, 0, 163, 151, u"Quillet"))
               .Build();
  menu = qk::shell::BuildMenuTemplate(
      {{u"Menu", 0, 0, {{u"Get Channel's Title", kGetTitle, 0, {}}, {u"Rename", kRename, 0, {}}}},
       {u"Cancel", kCancel, 0, {}}});
  qk::shell::MenuBarButton menuKey, cancel;
  menuKey.command = kMenuKey;
  menuKey.subMenu = 0;
  cancel.command = kCancel;
  bar = qk::shell::BuildMenuBarResource(kTitleBar, {menuKey, cancel});
  static qk::ResourceEntry entries[] = {
      {nullptr, 5, kTitlePage, nullptr, nullptr, 0},   {nullptr, 5, kDetailsPage, nullptr, nullptr, 0},
      {nullptr, 5, kDetailsHtml, nullptr, nullptr, 0}, {nullptr, 5, kTitleDialog, nullptr, nullptr, 0},
      {nullptr, 4, kTitleBar, nullptr, nullptr, 0},    {nullptr, 10, kTitleBar, nullptr, nullptr, 0},
  };
  const std::vector<DWORD>* templates[] = {&page, &details, &html, &dialog};
  for (int i = 0; i < 4; ++i) {
    entries[i].data = templates[i]->data();
    entries[i].size = templates[i]->size() * sizeof(DWORD);
  }
  entries[4].data = menu.data();
  entries[4].size = menu.size();
  entries[5].data = bar.data();
  entries[5].size = bar.size();
  qk::RegisterResources(nullptr, entries, sizeof entries / sizeof entries[0]);
}
