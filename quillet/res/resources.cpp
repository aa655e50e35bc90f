// Registration of the main program's resources.
#include "quillet/res/resources.h"

#include <mutex>
#include <vector>

#include "kernel/resource.h"
#include "user/dialog.h"

void RegisterQuilletImages();

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

}  // namespace

void RegisterQuilletResources() {
  static std::once_flag once;
  std::call_once(once, [] {
    RegisterQuilletImages();
    RegisterDialogs();
  });
}
