// The control and menu wrappers (see framework/controls.h).
#include "framework/controls.h"

#include <algorithm>
#include <memory>
#include <unordered_map>

namespace {
thread_local std::unordered_map<HMENU, std::unique_ptr<CMenu>> t_menus;

template <UINT lengthMessage, UINT textMessage>
void ItemText(const CWnd* wnd, int index, CString& text) {
  LRESULT n = wnd->SendMessage(lengthMessage, static_cast<WPARAM>(index));
  if (n < 0) {
    text.Empty();
    return;
  }
  std::u16string s(static_cast<size_t>(n) + 1, 0);
  wnd->SendMessage(textMessage, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(s.data()));
  s.resize(static_cast<size_t>(n));
  text = CString(std::move(s));
}
}  // namespace

BOOL CButton::OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  if (message == WM_DRAWITEM) {
    DrawItem(reinterpret_cast<LPDRAWITEMSTRUCT>(lParam));
    if (result) *result = TRUE;
    return TRUE;
  }
  return CWnd::OnChildNotify(message, wParam, lParam, result);
}

void CEdit::GetSel(int& start, int& end) const {
  DWORD s = 0, e = 0;
  SendMessage(EM_GETSEL, reinterpret_cast<WPARAM>(&s), reinterpret_cast<LPARAM>(&e));
  start = static_cast<int>(s);
  end = static_cast<int>(e);
}

void CListBox::GetText(int index, CString& text) const { ItemText<LB_GETTEXTLEN, LB_GETTEXT>(this, index, text); }

void CComboBox::GetLBText(int index, CString& text) const {
  ItemText<CB_GETLBTEXTLEN, CB_GETLBTEXT>(this, index, text);
}

// ---------------------------------------------------------------- image lists

namespace {
thread_local std::unordered_map<HIMAGELIST, std::unique_ptr<CImageList>> t_imageLists;
}

CImageList::~CImageList() {
  if (owned_ && m_hImageList) ImageList_Destroy(m_hImageList);
}

CImageList* CImageList::FromHandle(HIMAGELIST list) {
  if (!list) return nullptr;
  auto& slot = t_imageLists[list];
  if (!slot) {
    slot = std::make_unique<CImageList>();
    slot->m_hImageList = list;
  }
  return slot.get();
}

BOOL CImageList::Attach(HIMAGELIST list) {
  if (!list || m_hImageList) return FALSE;
  m_hImageList = list;
  owned_ = true;
  return TRUE;
}

HIMAGELIST CImageList::Detach() {
  HIMAGELIST list = m_hImageList;
  m_hImageList = nullptr;
  owned_ = false;
  return list;
}

BOOL CImageList::Create(int cx, int cy, UINT flags, int initial, int grow) {
  return Attach(ImageList_Create(cx, cy, flags, initial, grow));
}

BOOL CImageList::DeleteImageList() {
  if (!m_hImageList) return FALSE;
  if (owned_) ImageList_Destroy(m_hImageList);
  m_hImageList = nullptr;
  owned_ = false;
  return TRUE;
}

// ---------------------------------------------------------------- list views

int CListCtrl::InsertColumn(int column, LPCTSTR heading, int format, int width, int subItem) {
  LVCOLUMN c{};
  c.mask = LVCF_FMT | LVCF_TEXT;
  c.fmt = format;
  c.pszText = const_cast<LPWSTR>(heading ? heading : u"");
  if (width >= 0) {
    c.mask |= LVCF_WIDTH;
    c.cx = width;
  }
  if (subItem >= 0) {
    c.mask |= LVCF_SUBITEM;
    c.iSubItem = subItem;
  }
  return static_cast<int>(SendMessage(LVM_INSERTCOLUMN, static_cast<WPARAM>(column), reinterpret_cast<LPARAM>(&c)));
}

int CListCtrl::InsertItem(int index, LPCTSTR text) {
  LVITEM item{};
  item.mask = LVIF_TEXT;
  item.iItem = index;
  item.pszText = const_cast<LPWSTR>(text ? text : u"");
  return InsertItem(&item);
}

int CListCtrl::InsertItem(int index, LPCTSTR text, int image) {
  LVITEM item{};
  item.mask = LVIF_TEXT | LVIF_IMAGE;
  item.iItem = index;
  item.pszText = const_cast<LPWSTR>(text ? text : u"");
  item.iImage = image;
  return InsertItem(&item);
}

BOOL CListCtrl::SetItemText(int index, int subItem, LPCTSTR text) {
  LVITEM item{};
  item.iSubItem = subItem;
  item.pszText = const_cast<LPWSTR>(text ? text : u"");
  return static_cast<BOOL>(
      SendMessage(LVM_SETITEMTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item)));
}

CString CListCtrl::GetItemText(int index, int subItem) const {
  std::u16string buffer(1024, 0);
  LVITEM item{};
  item.iSubItem = subItem;
  item.pszText = buffer.data();
  item.cchTextMax = static_cast<int>(buffer.size());
  LRESULT n = SendMessage(LVM_GETITEMTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item));
  buffer.resize(static_cast<size_t>(std::max<LRESULT>(n, 0)));
  return CString(std::move(buffer));
}

BOOL CListCtrl::SetItemData(int index, DWORD_PTR data) {
  LVITEM item{};
  item.mask = LVIF_PARAM;
  item.iItem = index;
  item.lParam = static_cast<LPARAM>(data);
  return SetItem(&item);
}

DWORD_PTR CListCtrl::GetItemData(int index) const {
  LVITEM item{};
  item.mask = LVIF_PARAM;
  item.iItem = index;
  return GetItem(&item) ? static_cast<DWORD_PTR>(item.lParam) : 0;
}

BOOL CListCtrl::SetItemState(int index, UINT state, UINT mask) {
  LVITEM item{};
  item.state = state;
  item.stateMask = mask;
  return static_cast<BOOL>(
      SendMessage(LVM_SETITEMSTATE, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&item)));
}

BOOL CListCtrl::GetItemRect(int index, LPRECT rect, UINT code) const {
  if (!rect) return FALSE;
  rect->left = static_cast<LONG>(code);
  return static_cast<BOOL>(SendMessage(LVM_GETITEMRECT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(rect)));
}

int CListCtrl::HitTest(POINT point, UINT* flags) const {
  LVHITTESTINFO info{};
  info.pt = point;
  int index = HitTest(&info);
  if (flags) *flags = info.flags;
  return index;
}

CImageList* CListCtrl::SetImageList(CImageList* list, int kind) {
  auto old = reinterpret_cast<HIMAGELIST>(SendMessage(LVM_SETIMAGELIST, static_cast<WPARAM>(kind),
                                                      reinterpret_cast<LPARAM>(list ? list->m_hImageList : nullptr)));
  return CImageList::FromHandle(old);
}

CEdit* CListCtrl::EditLabel(int index) {
  return AfxTypedFromHandle<CEdit>(reinterpret_cast<HWND>(SendMessage(LVM_EDITLABEL, static_cast<WPARAM>(index))));
}

CEdit* CListCtrl::GetEditControl() const {
  return AfxTypedFromHandle<CEdit>(reinterpret_cast<HWND>(SendMessage(LVM_GETEDITCONTROL)));
}

BOOL CListCtrl::OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  // The map's reflected entries come first (a reflected WM_MEASUREITEM).
  if (CWnd::OnChildNotify(message, wParam, lParam, result)) return TRUE;
  if (message == WM_DRAWITEM) {
    DrawItem(reinterpret_cast<LPDRAWITEMSTRUCT>(lParam));
    if (result) *result = TRUE;
    return TRUE;
  }
  return FALSE;
}

// ---------------------------------------------------------------- menus

CMenu::~CMenu() {
  if (owned_ && m_hMenu) ::DestroyMenu(m_hMenu);
}

CMenu* CMenu::FromHandle(HMENU menu) {
  if (!menu) return nullptr;
  auto& slot = t_menus[menu];
  if (!slot) {
    slot = std::make_unique<CMenu>();
    slot->m_hMenu = menu;
  }
  return slot.get();
}

void CMenu::DeleteTempMap() { t_menus.clear(); }

void CImageList::DeleteTempMap() { t_imageLists.clear(); }

BOOL CMenu::Attach(HMENU menu) {
  if (!menu || m_hMenu) return FALSE;
  m_hMenu = menu;
  owned_ = true;
  return TRUE;
}

HMENU CMenu::Detach() {
  HMENU menu = m_hMenu;
  m_hMenu = nullptr;
  owned_ = false;
  return menu;
}

BOOL CMenu::CreateMenu() { return Attach(::CreateMenu()); }

BOOL CMenu::CreatePopupMenu() { return Attach(::CreatePopupMenu()); }

BOOL CMenu::DestroyMenu() {
  if (!m_hMenu) return FALSE;
  BOOL ok = ::DestroyMenu(m_hMenu);
  m_hMenu = nullptr;
  owned_ = false;
  return ok;
}

int CMenu::GetMenuString(UINT item, CString& text, UINT flags) const {
  WCHAR buffer[512] = {};
  int n = ::GetMenuStringW(m_hMenu, item, buffer, 512, flags);
  text = buffer;
  return n;
}

BOOL CMenu::TrackPopupMenu(UINT flags, int x, int y, CWnd* owner, const RECT*) {
  return ::TrackPopupMenuEx(m_hMenu, flags, x, y, owner ? owner->m_hWnd : nullptr, nullptr);
}
