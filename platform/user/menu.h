// Menus: trees of items (strings, separators, submenus) with identifiers,
// check and grey states, reached through HMENU handles.
#pragma once

#include <functional>

#include "kernel/types.h"

#define MF_STRING 0x00000000
#define MF_ENABLED 0x00000000
#define MF_UNCHECKED 0x00000000
#define MF_BYCOMMAND 0x00000000
#define MF_GRAYED 0x00000001
#define MF_DISABLED 0x00000002
#define MF_CHECKED 0x00000008
#define MF_POPUP 0x00000010
#define MF_BYPOSITION 0x00000400
#define MF_SEPARATOR 0x00000800
// WM_DRAWITEM of an owner-drawn menu item.
#define ODT_MENU 1

#define MFT_STRING MF_STRING
#define MFT_SEPARATOR MF_SEPARATOR
#define MFS_ENABLED 0x00000000
#define MFS_UNCHECKED 0x00000000
#define MFS_GRAYED 0x00000003
#define MFS_DISABLED MFS_GRAYED
#define MFS_CHECKED MF_CHECKED

#define MIIM_STATE 0x00000001
#define MIIM_ID 0x00000002
#define MIIM_SUBMENU 0x00000004
#define MIIM_CHECKMARKS 0x00000008
#define MIIM_TYPE 0x00000010
#define MIIM_DATA 0x00000020
#define MIIM_STRING 0x00000040
#define MIIM_FTYPE 0x00000100

struct MENUITEMINFOW {
  UINT cbSize;
  UINT fMask;
  UINT fType;
  UINT fState;
  UINT wID;
  HMENU hSubMenu;
  HBITMAP hbmpChecked;
  HBITMAP hbmpUnchecked;
  ULONG_PTR dwItemData;
  LPWSTR dwTypeData;
  UINT cch;
};
typedef MENUITEMINFOW* LPMENUITEMINFOW;
typedef const MENUITEMINFOW* LPCMENUITEMINFOW;

HMENU CreateMenu();
HMENU CreatePopupMenu();
// Destroys the menu with its submenus.
BOOL DestroyMenu(HMENU menu);
BOOL IsMenu(HMENU menu);
BOOL AppendMenuW(HMENU menu, UINT flags, UINT_PTR idOrSubmenu, LPCWSTR text);
BOOL InsertMenuW(HMENU menu, UINT position, UINT flags, UINT_PTR idOrSubmenu, LPCWSTR text);
BOOL RemoveMenu(HMENU menu, UINT item, UINT flags);  // a submenu is kept
BOOL DeleteMenu(HMENU menu, UINT item, UINT flags);  // a submenu is destroyed
int GetMenuItemCount(HMENU menu);
UINT GetMenuItemID(HMENU menu, int position);  // (UINT)-1 for a submenu or a bad position
HMENU GetSubMenu(HMENU menu, int position);
BOOL GetMenuItemInfoW(HMENU menu, UINT item, BOOL byPosition, LPMENUITEMINFOW info);
BOOL SetMenuItemInfoW(HMENU menu, UINT item, BOOL byPosition, LPCMENUITEMINFOW info);
BOOL InsertMenuItemW(HMENU menu, UINT item, BOOL byPosition, LPCMENUITEMINFOW info);
int GetMenuStringW(HMENU menu, UINT item, LPWSTR text, int max, UINT flags);
BOOL ModifyMenuW(HMENU menu, UINT item, UINT flags, UINT_PTR idOrSubmenu, LPCWSTR text);
// The previous check state (MF_CHECKED or MF_UNCHECKED), or (DWORD)-1.
DWORD CheckMenuItem(HMENU menu, UINT item, UINT flags);
// The previous state (MF_ENABLED or MF_GRAYED), or -1.
BOOL EnableMenuItem(HMENU menu, UINT item, UINT flags);
UINT GetMenuState(HMENU menu, UINT item, UINT flags);

// Popup menus shown at a point. The owner gets WM_INITMENUPOPUP first; the
// chosen item's command is posted to it as WM_COMMAND, or returned with
// TPM_RETURNCMD. The menu is drawn as a popup window under the point; a tap
// on an enabled item chooses it, a tap elsewhere or Escape closes it, the
// arrow keys and Enter choose by keys.
#define TPM_LEFTALIGN 0x0000L
#define TPM_CENTERALIGN 0x0004L
#define TPM_RIGHTALIGN 0x0008L
#define TPM_TOPALIGN 0x0000L
#define TPM_VCENTERALIGN 0x0010L
#define TPM_BOTTOMALIGN 0x0020L
#define TPM_NONOTIFY 0x0080L
#define TPM_RETURNCMD 0x0100L
struct TPMPARAMS {
  UINT cbSize;
  RECT rcExclude;
};
typedef TPMPARAMS* LPTPMPARAMS;
BOOL TrackPopupMenuEx(HMENU menu, UINT flags, int x, int y, HWND owner, LPTPMPARAMS params);
BOOL TrackPopupMenu(HMENU menu, UINT flags, int x, int y, int reserved, HWND owner, const RECT* rect);

namespace qk {
// Tests answer popup menus: the hook receives the menu and its owner and
// returns the command chosen (0 for none); a grey item cannot be chosen.
using PopupMenuHook = std::function<UINT(HMENU menu, HWND owner)>;
void SetPopupMenuHook(PopupMenuHook hook);
}  // namespace qk
