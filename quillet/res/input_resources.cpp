// Dialog templates and menus of the input screens: the wizard's URL page,
// the one-field editor with its soft-key bar, and the download box.
#include <vector>

#include "controls/commctrl.h"
#include "kernel/resource.h"
#include "quillet/res/resources.h"
#include "shell/aygshell.h"
#include "user/dialog.h"

namespace {
// The ids these templates are known by in the screens.
constexpr WORD kUrlPage = 239;      // IDD_INPUT_URL
constexpr WORD kEditor = 243;       // IDD_EDITOR
constexpr WORD kDownload = 194;     // IDD_DOWNLOAD
constexpr WORD kEditorBar = 173;    // IDR_EDITOR_MENU
constexpr UINT kEditorBack = 32799;    // ID_EDITOR_BACK
constexpr UINT kEditorFinish = 32800;  // ID_EDITOR_FINISH
}  // namespace

void RegisterInputResources() {
  static std::vector<DWORD> urlPage, editor, download;
  static std::vector<BYTE> editorBar;
  // The URL page: a child page that the wizard lays over its client area.
  // It paints itself; its one control is the in-place edit of key devices,
  // created hidden and laid over the selected row when used.
  urlPage = qk::DialogTemplateBuilder(WS_CHILD | DS_CONTROL, 0, 0, 0, 160, 200)
                .Font(9, u"Tahoma")
                .Control(u"EDIT", u"", 1060, WS_CHILD | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, 8, 8, 140, 14)
                .Build();
  // The one-field editor: a multi-line edit for plain values and a
  // password edit; the dialog shows one of them over its whole client area.
  editor = qk::DialogTemplateBuilder(WS_POPUP | WS_CAPTION | WS_VISIBLE, 0, 0, 0, 163, 150, u"Quillet")
               .Font(9, u"Tahoma")
               .Control(u"EDIT", u"", 1054, WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_MULTILINE | ES_AUTOVSCROLL, 30,
                        86, 101, 46)
               .Control(u"EDIT", u"", 1055, WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_PASSWORD | ES_AUTOHSCROLL, 30,
                        30, 101, 46)
               .Build();
  // The download box: one status line and one button.
  download = qk::DialogTemplateBuilder(WS_POPUP | WS_BORDER | WS_VISIBLE, 0, 0, 0, 128, 44)
                 .Font(9, u"Tahoma")
                 .Control(u"STATIC", u"", 1051, WS_CHILD | WS_VISIBLE | SS_LEFT, 5, 5, 120, 19)
                 .Control(u"BUTTON", u"Cancel", IDCANCEL, WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 39, 24,
                          50, 14)
                 .Build();
  // The editor's soft keys: "Back" and "Finish", relabelled at run time.
  qk::shell::MenuBarButton back, finish;
  back.command = kEditorBack;
  finish.command = kEditorFinish;
  editorBar = qk::shell::BuildMenuBarResource(0, {back, finish});
  static qk::ResourceEntry entries[] = {
      {nullptr, 5, kUrlPage, nullptr, urlPage.data(), urlPage.size() * sizeof(DWORD)},
      {nullptr, 5, kEditor, nullptr, editor.data(), editor.size() * sizeof(DWORD)},
      {nullptr, 5, kDownload, nullptr, download.data(), download.size() * sizeof(DWORD)},
      {nullptr, 10, kEditorBar, nullptr, editorBar.data(), editorBar.size()},
  };
  qk::RegisterResources(nullptr, entries, sizeof entries / sizeof entries[0]);
}
