#include "common/localize.h"
#include "user/menu.h"

namespace {
void LocalizeMenuLevel(HMENU menu, int depth) {
  if (!menu || depth > 16) return;
  int count = GetMenuItemCount(menu);
  for (int i = 0; i < count; ++i) {
    MENUITEMINFOW info = {};
    info.cbSize = sizeof info;
    info.fMask = MIIM_ID;
    if (!GetMenuItemInfoW(menu, UINT(i), TRUE, &info) || int(info.wID) <= 0) continue;
    WCHAR text[1025] = {0};
    info.fMask = MIIM_TYPE | MIIM_SUBMENU;
    info.dwTypeData = text;
    info.cch = 1024;
    if (!GetMenuItemInfoW(menu, UINT(i), TRUE, &info)) continue;
    if (info.hSubMenu) LocalizeMenuLevel(info.hSubMenu, depth + 1);
    CString localized;
    Localize(localized, CString(text));
    MENUITEMINFOW update = {};
    update.cbSize = sizeof update;
    update.fMask = MIIM_TYPE;
    update.fType = MFT_STRING;
    update.dwTypeData = const_cast<LPWSTR>(localized.GetString());
    SetMenuItemInfoW(menu, UINT(i), TRUE, &update);
  }
}
}  // namespace

void LocalizeMenu(HMENU menu) { LocalizeMenuLevel(menu, 0); }
