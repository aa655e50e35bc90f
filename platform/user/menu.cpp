#include "user/menu.h"

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "kernel/handle.h"
#include "kernel/wstring.h"

namespace qk::user {

namespace {

struct MenuItem {
  UINT type = MFT_STRING;
  UINT state = 0;
  UINT id = 0;
  HMENU submenu = nullptr;
  ULONG_PTR data = 0;
  std::u16string text;
};

class Menu : public KernelObject {
 public:
  explicit Menu(bool popup) : popup(popup) {}
  bool popup;
  std::vector<MenuItem> items;
};

// One lock for every menu: menus are small and changed rarely.
std::recursive_mutex& MenuLock() {
  static auto* lock = new std::recursive_mutex;
  return *lock;
}

std::shared_ptr<Menu> Get(HMENU menu) { return LookupHandleAs<Menu>(reinterpret_cast<HANDLE>(menu)); }

// Finds an item by position, or by command identifier anywhere in the tree
// (submenus searched depth first). Returns the owning menu and index.
bool Locate(HMENU menu, UINT item, bool byPosition, std::shared_ptr<Menu>* owner, size_t* index, int depth = 0) {
  auto m = Get(menu);
  if (!m || depth > 32) return false;
  if (byPosition) {
    if (item >= m->items.size()) return false;
    *owner = m;
    *index = item;
    return true;
  }
  for (size_t i = 0; i < m->items.size(); ++i) {
    const MenuItem& it = m->items[i];
    if (!it.submenu && it.id == item) {
      *owner = m;
      *index = i;
      return true;
    }
  }
  for (const MenuItem& it : m->items) {
    if (it.submenu && Locate(it.submenu, item, false, owner, index, depth + 1)) return true;
  }
  // A submenu item can also be found by its own identifier.
  for (size_t i = 0; i < m->items.size(); ++i) {
    if (m->items[i].submenu && m->items[i].id == item && item != 0) {
      *owner = m;
      *index = i;
      return true;
    }
  }
  return false;
}

MenuItem ItemFromFlags(UINT flags, UINT_PTR idOrSubmenu, LPCWSTR text) {
  MenuItem item;
  if (flags & MF_SEPARATOR) {
    item.type = MFT_SEPARATOR;
  } else if (text) {
    item.text = text;
  }
  // A submenu item reports its menu handle as its identifier, as the
  // platform does.
  if (flags & MF_POPUP) item.submenu = reinterpret_cast<HMENU>(idOrSubmenu);
  item.id = UINT(idOrSubmenu);
  item.state = flags & (MF_GRAYED | MF_DISABLED | MF_CHECKED);
  return item;
}

void ApplyInfo(MenuItem& it, LPCMENUITEMINFOW info) {
  if (info->fMask & (MIIM_TYPE | MIIM_FTYPE)) it.type = info->fType & MFT_SEPARATOR;
  if (info->fMask & MIIM_STATE) it.state = info->fState;
  if (info->fMask & MIIM_ID) it.id = info->wID;
  if (info->fMask & MIIM_SUBMENU) it.submenu = info->hSubMenu;
  if (info->fMask & MIIM_DATA) it.data = info->dwItemData;
  if ((info->fMask & (MIIM_TYPE | MIIM_STRING)) && it.type != MFT_SEPARATOR)
    it.text = info->dwTypeData ? info->dwTypeData : u"";
}

void DestroyTree(HMENU menu, int depth) {
  auto m = Get(menu);
  if (!m || depth > 32) return;
  for (const MenuItem& it : m->items) {
    if (it.submenu) DestroyTree(it.submenu, depth + 1);
  }
  ReleaseHandle(reinterpret_cast<HANDLE>(menu));
}

// Runs f on an item found by position or identifier under the menu lock;
// answers failed when there is no such item.
template <class R, class F>
R WithItem(HMENU menu, UINT item, bool byPosition, R failed, F&& f) {
  std::lock_guard<std::recursive_mutex> g(MenuLock());
  std::shared_ptr<Menu> owner;
  size_t index;
  if (!Locate(menu, item, byPosition, &owner, &index)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return failed;
  }
  return f(*owner, index);
}

}  // namespace

}  // namespace qk::user

using qk::user::Get;
using qk::user::WithItem;
using qk::user::Locate;
using qk::user::Menu;
using qk::user::MenuItem;
using qk::user::MenuLock;

HMENU CreateMenu() { return reinterpret_cast<HMENU>(qk::RegisterHandle(std::make_shared<Menu>(false))); }

HMENU CreatePopupMenu() { return reinterpret_cast<HMENU>(qk::RegisterHandle(std::make_shared<Menu>(true))); }

BOOL DestroyMenu(HMENU menu) {
  std::lock_guard<std::recursive_mutex> g(MenuLock());
  if (!Get(menu)) return FALSE;
  qk::user::DestroyTree(menu, 0);
  return TRUE;
}

BOOL IsMenu(HMENU menu) { return Get(menu) ? TRUE : FALSE; }

BOOL InsertMenuW(HMENU menu, UINT position, UINT flags, UINT_PTR idOrSubmenu, LPCWSTR text) {
  std::lock_guard<std::recursive_mutex> g(MenuLock());
  auto m = Get(menu);
  if (!m) return FALSE;
  MenuItem item = qk::user::ItemFromFlags(flags, idOrSubmenu, text);
  if (flags & MF_BYPOSITION) {
    size_t at = position > m->items.size() ? m->items.size() : position;
    m->items.insert(m->items.begin() + long(at), item);
    return TRUE;
  }
  std::shared_ptr<Menu> owner;
  size_t index;
  if (!Locate(menu, position, false, &owner, &index)) {
    m->items.push_back(item);  // an unknown identifier appends, as the platform does
    return TRUE;
  }
  owner->items.insert(owner->items.begin() + long(index), item);
  return TRUE;
}

BOOL AppendMenuW(HMENU menu, UINT flags, UINT_PTR idOrSubmenu, LPCWSTR text) {
  return InsertMenuW(menu, 0xFFFFFFFFu, flags | MF_BYPOSITION, idOrSubmenu, text);
}

namespace {
BOOL Remove(HMENU menu, UINT item, UINT flags, bool destroySubmenu) {
  std::lock_guard<std::recursive_mutex> g(MenuLock());
  std::shared_ptr<Menu> owner;
  size_t index;
  if (!Locate(menu, item, (flags & MF_BYPOSITION) != 0, &owner, &index)) return FALSE;
  HMENU sub = owner->items[index].submenu;
  owner->items.erase(owner->items.begin() + long(index));
  if (destroySubmenu && sub) DestroyMenu(sub);
  return TRUE;
}
}  // namespace

BOOL RemoveMenu(HMENU menu, UINT item, UINT flags) { return Remove(menu, item, flags, false); }
BOOL DeleteMenu(HMENU menu, UINT item, UINT flags) { return Remove(menu, item, flags, true); }

int GetMenuItemCount(HMENU menu) {
  std::lock_guard<std::recursive_mutex> g(MenuLock());
  auto m = Get(menu);
  return m ? int(m->items.size()) : -1;
}

UINT GetMenuItemID(HMENU menu, int position) {
  std::lock_guard<std::recursive_mutex> g(MenuLock());
  auto m = Get(menu);
  if (!m || position < 0 || size_t(position) >= m->items.size() || m->items[size_t(position)].submenu)
    return 0xFFFFFFFFu;
  return m->items[size_t(position)].id;
}

HMENU GetSubMenu(HMENU menu, int position) {
  std::lock_guard<std::recursive_mutex> g(MenuLock());
  auto m = Get(menu);
  if (!m || position < 0 || size_t(position) >= m->items.size()) return nullptr;
  return m->items[size_t(position)].submenu;
}

BOOL GetMenuItemInfoW(HMENU menu, UINT item, BOOL byPosition, LPMENUITEMINFOW info) {
  if (!info) return FALSE;
  return WithItem(menu, item, byPosition != 0, BOOL(FALSE), [&](Menu& owner, size_t index) -> BOOL {
    const MenuItem& it = owner.items[index];
    if (info->fMask & (MIIM_TYPE | MIIM_FTYPE)) info->fType = it.type;
    if (info->fMask & MIIM_STATE) info->fState = it.state;
    if (info->fMask & MIIM_ID) info->wID = it.id;
    if (info->fMask & MIIM_SUBMENU) info->hSubMenu = it.submenu;
    if (info->fMask & MIIM_DATA) info->dwItemData = it.data;
    if ((info->fMask & (MIIM_TYPE | MIIM_STRING)) && it.type != MFT_SEPARATOR) {
      if (info->dwTypeData && info->cch > 0) {
        size_t n = it.text.size() < info->cch - 1 ? it.text.size() : info->cch - 1;
        it.text.copy(info->dwTypeData, n);
        info->dwTypeData[n] = 0;
      }
      info->cch = UINT(it.text.size());
    }
    return TRUE;
  });
}

BOOL SetMenuItemInfoW(HMENU menu, UINT item, BOOL byPosition, LPCMENUITEMINFOW info) {
  if (!info) return FALSE;
  return WithItem(menu, item, byPosition != 0, BOOL(FALSE), [&](Menu& owner, size_t index) -> BOOL {
    qk::user::ApplyInfo(owner.items[index], info);
    return TRUE;
  });
}

BOOL InsertMenuItemW(HMENU menu, UINT item, BOOL byPosition, LPCMENUITEMINFOW info) {
  if (!info) return FALSE;
  std::lock_guard<std::recursive_mutex> g(MenuLock());
  auto m = Get(menu);
  if (!m) return FALSE;
  size_t at = m->items.size();
  std::shared_ptr<Menu> owner = m;
  size_t index;
  if (byPosition) {
    if (item < m->items.size()) at = item;
  } else if (Locate(menu, item, false, &owner, &index)) {
    at = index;
  }
  MenuItem fresh;
  qk::user::ApplyInfo(fresh, info);
  owner->items.insert(owner->items.begin() + long(at), fresh);
  return TRUE;
}

int GetMenuStringW(HMENU menu, UINT item, LPWSTR text, int max, UINT flags) {
  return WithItem(menu, item, (flags & MF_BYPOSITION) != 0, 0, [&](Menu& owner, size_t index) -> int {
    const std::u16string& s = owner.items[index].text;
    if (!text || max <= 0) return int(s.size());
    size_t n = s.size() < size_t(max - 1) ? s.size() : size_t(max - 1);
    s.copy(text, n);
    text[n] = 0;
    return int(n);
  });
}

BOOL ModifyMenuW(HMENU menu, UINT item, UINT flags, UINT_PTR idOrSubmenu, LPCWSTR text) {
  return WithItem(menu, item, (flags & MF_BYPOSITION) != 0, BOOL(FALSE), [&](Menu& owner, size_t index) -> BOOL {
    owner.items[index] = qk::user::ItemFromFlags(flags, idOrSubmenu, text);
    return TRUE;
  });
}

DWORD CheckMenuItem(HMENU menu, UINT item, UINT flags) {
  return WithItem(menu, item, (flags & MF_BYPOSITION) != 0, DWORD(0xFFFFFFFFu), [&](Menu& owner, size_t index) {
    UINT& state = owner.items[index].state;
    DWORD previous = state & MF_CHECKED;
    state = (state & ~UINT(MF_CHECKED)) | (flags & MF_CHECKED);
    return previous;
  });
}

BOOL EnableMenuItem(HMENU menu, UINT item, UINT flags) {
  return WithItem(menu, item, (flags & MF_BYPOSITION) != 0, BOOL(-1), [&](Menu& owner, size_t index) -> BOOL {
    UINT& state = owner.items[index].state;
    BOOL previous = BOOL(state & (MF_GRAYED | MF_DISABLED));
    state = (state & ~UINT(MF_GRAYED | MF_DISABLED)) | (flags & (MF_GRAYED | MF_DISABLED));
    return previous;
  });
}

UINT GetMenuState(HMENU menu, UINT item, UINT flags) {
  return WithItem(menu, item, (flags & MF_BYPOSITION) != 0, UINT(0xFFFFFFFFu), [&](Menu& owner, size_t index) {
    const MenuItem& it = owner.items[index];
    UINT state = it.state | it.type;
    if (it.submenu) state |= MF_POPUP;
    return state;
  });
}
