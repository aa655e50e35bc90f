// The control and menu wrappers (see framework/controls.h).
#include "framework/controls.h"

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
