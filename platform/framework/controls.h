// Thin framework wrappers over the standard controls and menus: each member
// sends the control's message. A wrapper is attached to a control by
// Create, SubclassDlgItem or DDX_Control.
#pragma once

#include "user/user.h"

#include "framework/wnd.h"

class CStatic : public CWnd {
 public:
  BOOL Create(LPCTSTR text, DWORD style, const RECT& rect, CWnd* parent, UINT id = 0xFFFF) {
    return CWnd::Create(u"STATIC", text, style, rect, parent, id);
  }
  HBITMAP SetBitmap(HBITMAP bitmap) {
    return reinterpret_cast<HBITMAP>(SendMessage(STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(bitmap)));
  }
  HBITMAP GetBitmap() const { return reinterpret_cast<HBITMAP>(SendMessage(STM_GETIMAGE, IMAGE_BITMAP)); }
};

class CButton : public CWnd {
 public:
  BOOL Create(LPCTSTR text, DWORD style, const RECT& rect, CWnd* parent, UINT id) {
    return CWnd::Create(u"BUTTON", text, style, rect, parent, id);
  }
  int GetCheck() const { return static_cast<int>(SendMessage(BM_GETCHECK)); }
  void SetCheck(int check) { SendMessage(BM_SETCHECK, static_cast<WPARAM>(check)); }
  UINT GetState() const { return static_cast<UINT>(SendMessage(BM_GETSTATE)); }
  void SetState(BOOL pushed) { SendMessage(BM_SETSTATE, static_cast<WPARAM>(pushed)); }
  UINT GetButtonStyle() const { return GetStyle() & 0xFFFF; }
  // An owner-drawn button draws itself when its parent is asked to.
  virtual void DrawItem(LPDRAWITEMSTRUCT) {}
  BOOL OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;
};

class CEdit : public CWnd {
 public:
  BOOL Create(DWORD style, const RECT& rect, CWnd* parent, UINT id) {
    return CWnd::Create(u"EDIT", u"", style, rect, parent, id);
  }
  void SetSel(int start, int end, BOOL noScroll = FALSE) {
    SendMessage(EM_SETSEL, static_cast<WPARAM>(start), end);
    if (!noScroll) SendMessage(EM_SCROLLCARET);
  }
  void GetSel(int& start, int& end) const;
  void ReplaceSel(LPCTSTR text, BOOL canUndo = FALSE) {
    SendMessage(EM_REPLACESEL, canUndo, reinterpret_cast<LPARAM>(text));
  }
  void SetLimitText(UINT max) { SendMessage(EM_LIMITTEXT, max); }
  void LimitText(int max = 0) { SendMessage(EM_LIMITTEXT, static_cast<WPARAM>(max)); }
  BOOL SetReadOnly(BOOL readOnly = TRUE) { return static_cast<BOOL>(SendMessage(EM_SETREADONLY, readOnly)); }
  int GetLineCount() const { return static_cast<int>(SendMessage(EM_GETLINECOUNT)); }
};

class CListBox : public CWnd {
 public:
  int AddString(LPCTSTR text) { return static_cast<int>(SendMessage(LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text))); }
  int InsertString(int index, LPCTSTR text) {
    return static_cast<int>(SendMessage(LB_INSERTSTRING, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text)));
  }
  int DeleteString(UINT index) { return static_cast<int>(SendMessage(LB_DELETESTRING, index)); }
  void ResetContent() { SendMessage(LB_RESETCONTENT); }
  int GetCount() const { return static_cast<int>(SendMessage(LB_GETCOUNT)); }
  int GetCurSel() const { return static_cast<int>(SendMessage(LB_GETCURSEL)); }
  int SetCurSel(int index) { return static_cast<int>(SendMessage(LB_SETCURSEL, static_cast<WPARAM>(index))); }
  void GetText(int index, CString& text) const;
  DWORD_PTR GetItemData(int index) const {
    return static_cast<DWORD_PTR>(SendMessage(LB_GETITEMDATA, static_cast<WPARAM>(index)));
  }
  int SetItemData(int index, DWORD_PTR data) {
    return static_cast<int>(SendMessage(LB_SETITEMDATA, static_cast<WPARAM>(index), static_cast<LPARAM>(data)));
  }
};

class CComboBox : public CWnd {
 public:
  int AddString(LPCTSTR text) { return static_cast<int>(SendMessage(CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text))); }
  int InsertString(int index, LPCTSTR text) {
    return static_cast<int>(SendMessage(CB_INSERTSTRING, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text)));
  }
  int DeleteString(UINT index) { return static_cast<int>(SendMessage(CB_DELETESTRING, index)); }
  void ResetContent() { SendMessage(CB_RESETCONTENT); }
  int GetCount() const { return static_cast<int>(SendMessage(CB_GETCOUNT)); }
  int GetCurSel() const { return static_cast<int>(SendMessage(CB_GETCURSEL)); }
  int SetCurSel(int index) { return static_cast<int>(SendMessage(CB_SETCURSEL, static_cast<WPARAM>(index))); }
  void GetLBText(int index, CString& text) const;
  DWORD_PTR GetItemData(int index) const {
    return static_cast<DWORD_PTR>(SendMessage(CB_GETITEMDATA, static_cast<WPARAM>(index)));
  }
  int SetItemData(int index, DWORD_PTR data) {
    return static_cast<int>(SendMessage(CB_SETITEMDATA, static_cast<WPARAM>(index), static_cast<LPARAM>(data)));
  }
};

// A menu handle. FromHandle wraps a handle in a temporary object of the
// calling thread; a menu made or attached by the object is destroyed with it.
class CMenu {
 public:
  CMenu() = default;
  virtual ~CMenu();
  CMenu(const CMenu&) = delete;
  CMenu& operator=(const CMenu&) = delete;

  HMENU m_hMenu = nullptr;
  operator HMENU() const { return m_hMenu; }
  HMENU GetSafeHmenu() const { return m_hMenu; }
  static CMenu* FromHandle(HMENU menu);
  static void DeleteTempMap();
  BOOL Attach(HMENU menu);
  HMENU Detach();

  BOOL CreateMenu();
  BOOL CreatePopupMenu();
  BOOL DestroyMenu();
  BOOL AppendMenu(UINT flags, UINT_PTR idOrSubmenu = 0, LPCTSTR text = nullptr) {
    return ::AppendMenuW(m_hMenu, flags, idOrSubmenu, text);
  }
  BOOL InsertMenu(UINT position, UINT flags, UINT_PTR idOrSubmenu = 0, LPCTSTR text = nullptr) {
    return ::InsertMenuW(m_hMenu, position, flags, idOrSubmenu, text);
  }
  BOOL ModifyMenu(UINT position, UINT flags, UINT_PTR idOrSubmenu = 0, LPCTSTR text = nullptr) {
    return ::ModifyMenuW(m_hMenu, position, flags, idOrSubmenu, text);
  }
  BOOL RemoveMenu(UINT position, UINT flags) { return ::RemoveMenu(m_hMenu, position, flags); }
  BOOL DeleteMenu(UINT position, UINT flags) { return ::DeleteMenu(m_hMenu, position, flags); }
  UINT GetMenuItemCount() const { return static_cast<UINT>(::GetMenuItemCount(m_hMenu)); }
  UINT GetMenuItemID(int position) const { return ::GetMenuItemID(m_hMenu, position); }
  CMenu* GetSubMenu(int position) const { return FromHandle(::GetSubMenu(m_hMenu, position)); }
  UINT CheckMenuItem(UINT item, UINT flags) { return static_cast<UINT>(::CheckMenuItem(m_hMenu, item, flags)); }
  UINT EnableMenuItem(UINT item, UINT flags) { return static_cast<UINT>(::EnableMenuItem(m_hMenu, item, flags)); }
  UINT GetMenuState(UINT item, UINT flags) const { return ::GetMenuState(m_hMenu, item, flags); }
  int GetMenuString(UINT item, CString& text, UINT flags) const;
  BOOL GetMenuItemInfo(UINT item, LPMENUITEMINFOW info, BOOL byPosition = FALSE) {
    return ::GetMenuItemInfoW(m_hMenu, item, byPosition, info);
  }
  BOOL SetMenuItemInfo(UINT item, LPCMENUITEMINFOW info, BOOL byPosition = FALSE) {
    return ::SetMenuItemInfoW(m_hMenu, item, byPosition, info);
  }
  // Shows the menu as a popup at a screen point; see TrackPopupMenuEx.
  BOOL TrackPopupMenu(UINT flags, int x, int y, CWnd* owner, const RECT* rect = nullptr);

 private:
  bool owned_ = false;
};
