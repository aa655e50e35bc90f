// Owner-drawn, finger-scrolled lists of image rows: CTouchMenuList, the list
// embedded in the menu, wizard and option pages, and CTouchPopupList, the
// tap-and-hold context menu shown as a modal dialog over a dimmed copy of
// the screen. Both derive from CTouchListBase, which owns the scroller, the
// rows and the bold flag. Each row keeps a cached rendering of itself, so
// scrolling only copies bitmaps.
//
// A row's extent (top, bottom) always follows from its index and the list's
// row pitch, also before the row was first drawn, so presses and key moves
// find rows that were never painted.
#pragma once

#include <vector>

#include "framework/afx.h"
#include "quillet/ui/density.h"
#include "quillet/ui/shared_text.h"
#include "quillet/ui/touch_image.h"
#include "quillet/ui/touch_scroller.h"
#include "shell/aygshell.h"

class CTouchListBase;

class CTouchListItem {
 public:
  CTouchListItem(LPCWSTR text, UINT commandId, CTouchListBase* owner);
  virtual ~CTouchListItem();
  CTouchListItem(const CTouchListItem&) = delete;
  CTouchListItem& operator=(const CTouchListItem&) = delete;

  // 0 an image row, 1 a row that opens a nested level, 2 the back row.
  virtual int GetKind() const = 0;

  CString m_strText;
  int m_nTop = -1;
  int m_nBottom = -1;
  COffscreenDC* m_pRendering = nullptr;
  UINT m_nCommandId = 0;
  CTouchListBase* m_pOwner = nullptr;
  BYTE m_bSelected = 0;
  DWORD m_nCheckValue = 0;
};

class CTouchImageItem : public CTouchListItem {
 public:
  // An image id of -1 loads nothing.
  CTouchImageItem(LPCWSTR text, HMODULE module, int imageId, int secondImageId, UINT commandId,
                  CTouchListBase* owner);
  int GetKind() const override { return 0; }
  CTouchImage m_image;
  CTouchImage m_secondImage;
};

class CTouchLevelItem;

// "Back": returns to the level it links to.
class CTouchBackItem : public CTouchListItem {
 public:
  CTouchBackItem(CTouchListBase* owner, CTouchLevelItem* level);
  int GetKind() const override { return 2; }
  CTouchLevelItem* m_pLevel;
};

// A row that opens a nested level of rows (popup lists only). It owns the
// nested rows; the first of them is the back row.
class CTouchLevelItem : public CTouchImageItem {
 public:
  CTouchLevelItem(LPCWSTR text, HMODULE module, int imageId, CTouchListBase* owner);
  ~CTouchLevelItem() override;
  int GetKind() const override { return 1; }
  CTouchListItem* AddItem(LPCWSTR text, HMODULE module, int imageId, int secondImageId, UINT commandId);
  std::vector<CTouchListItem*> m_children;
  // The level that holds this row, and its offset when the nested level was
  // opened.
  std::vector<CTouchListItem*>* m_pParentItems = nullptr;
  int m_nParentOffset = 0;
};

class CTouchListBase : public CTouchScrollClient {
 public:
  explicit CTouchListBase(BOOL bold);
  virtual ~CTouchListBase();
  CTouchListBase(const CTouchListBase&) = delete;
  CTouchListBase& operator=(const CTouchListBase&) = delete;

  void CreateScroller(DWORD_PTR context, HWND window, int x, int y, int width, int height);
  CTouchListItem* AddItem(LPCWSTR text, HMODULE module, int imageId, int secondImageId, UINT commandId);
  // A row that opens a nested level (popup lists).
  CTouchLevelItem* AddLevel(LPCWSTR text, HMODULE module, int imageId);
  // Destroys every row and empties the list; what pointed at a row (the
  // selection, the pressed row) is cleared.
  void RemoveAllItems();
  void DropRendering(CTouchListItem* item);
  void SetItemSelected(CTouchListItem* item, BOOL selected);
  void DrawRow(CTouchListItem* item, HDC hdc, int x, int y, int width, int height, int index);

  BOOL OnPress(HWND, DWORD_PTR, int, int) override { return 0; }
  BOOL OnDragStart(HWND, DWORD_PTR) override { return 0; }
  void OnClick(HWND, DWORD_PTR, int, int) override {}
  virtual bool OnPointerDown(HWND window, WPARAM wParam, LPARAM lParam);
  virtual bool OnPointerMove(HWND window, WPARAM wParam, LPARAM lParam);
  virtual bool OnPointerUp(HWND window, WPARAM wParam, LPARAM lParam);
  virtual bool OnTimer(HWND window, UINT_PTR id);
  virtual void DrawItem(CTouchListItem* item, HDC hdc, int width, int height, int index) = 0;

  int GetItemCount() const { return static_cast<int>(m_pItems->size()); }
  CTouchListItem* GetItem(int index) const;
  int IndexOf(const CTouchListItem* item) const;
  CTouchScroller& Scroller() { return m_scroller; }
  // The row pitch of the list.
  virtual int GetRowPitch() const = 0;
  // The row whose top <= y < bottom (content co-ordinates), or null.
  CTouchListItem* ItemAt(int y) const;

 protected:
  // Gives every row of the current level its extent from its index.
  void PlaceItems();
  // Called when rows go away, so that derived lists forget them.
  virtual void ForgetItems() {}

  CTouchScroller m_scroller;
  std::vector<CTouchListItem*> m_items;
  // The rows shown: the top level, or a nested level of a popup.
  std::vector<CTouchListItem*>* m_pItems = &m_items;
  BOOL m_bBold;
  int m_nDpiX = 96, m_nDpiY = 96;

  friend class CTouchLevelItem;
};

// Called with (window, context, command id, row).
typedef void (*TouchMenuClickCallback)(HWND window, DWORD_PTR context, UINT commandId, CTouchListItem* item);

class CTouchMenuList : public CTouchListBase {
 public:
  CTouchMenuList(BOOL bold, BOOL autoSelect);
  ~CTouchMenuList() override;

  void Create(DWORD_PTR context, HWND window, int x, int y, int width, int height, TouchMenuClickCallback callback);
  void SetCheckMode(int value) { m_nCheckMode = value; }
  void RefreshItems(BOOL redraw);
  void SetItemCheck(UINT commandId, DWORD value);
  void SelectNext();
  void SelectPrevious();
  void SelectItemById(UINT commandId, BOOL scroll);
  void EnsureSelectedVisible();
  void ClickSelected();
  // The keys of a page made of this list: Enter clicks the selected row, Up
  // and Down move the selection. TRUE for those keys (they are used).
  BOOL HandleKey(WPARAM key);
  void Resize(int width, int height);
  void Paint(HDC hdc) { m_scroller.Paint(hdc); }

  CTouchListItem* GetSelected() const { return m_pSelected; }
  int GetRowPitch() const override;

  int DrawContent(HWND window, DWORD_PTR context, HDC hdc, DWORD_PTR drawParam, int offset, int width,
                  int height) override;
  BOOL OnPress(HWND window, DWORD_PTR context, int x, int y) override;
  BOOL OnDragStart(HWND window, DWORD_PTR context) override;
  void OnClick(HWND window, DWORD_PTR context, int x, int y) override;
  void DrawItem(CTouchListItem* item, HDC hdc, int width, int height, int index) override;

 protected:
  void ForgetItems() override { m_pSelected = nullptr; }

 private:
  void Select(CTouchListItem* item);

  HFONT m_hFont = nullptr;
  TouchMenuClickCallback m_pCallback = nullptr;
  int m_nCheckMode = 0;
  CTouchListItem* m_pSelected = nullptr;
  BOOL m_bAutoSelect;
  DWORD_PTR m_context = 0;
  HWND m_hWindow = nullptr;
};

class CTouchPopupList : public CTouchListBase {
 public:
  CTouchPopupList();
  ~CTouchPopupList() override;

  // Shows the list over a dimmed copy of the screen until a row is chosen
  // (its command id) or the list is dismissed (-1).
  int DoModal(HINSTANCE instance, DWORD_PTR context, HWND parent);

  // The popup's rectangle (screen co-ordinates) for a screen of width x
  // height: at most five rows, inset ScaleX(32) at the sides, centred.
  static RECT PopupRect(int screenWidth, int screenHeight);
  RECT GetPopupRect() const { return m_rcPopup; }
  HWND GetWindow() const { return m_hDialog; }
  CTouchListItem* GetPressed() const { return m_pPressed; }
  int GetRowPitch() const override { return ScaleY(43); }

  int DrawContent(HWND window, DWORD_PTR context, HDC hdc, DWORD_PTR drawParam, int offset, int width,
                  int height) override;
  BOOL OnPress(HWND window, DWORD_PTR context, int x, int y) override;
  BOOL OnDragStart(HWND window, DWORD_PTR context) override;
  void OnClick(HWND window, DWORD_PTR context, int x, int y) override;
  bool OnPointerDown(HWND window, WPARAM wParam, LPARAM lParam) override;
  bool OnPointerMove(HWND window, WPARAM wParam, LPARAM lParam) override;
  bool OnPointerUp(HWND window, WPARAM wParam, LPARAM lParam) override;
  void DrawItem(CTouchListItem* item, HDC hdc, int width, int height, int index) override;

 protected:
  void ForgetItems() override { m_pPressed = nullptr; }

 private:
  static INT_PTR DialogProc(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam);
  INT_PTR OnMessage(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam);
  void OnInitDialog(HWND dialog);
  void BuildBackgrounds();
  void Close(int result);
  void DropFullRendering();
  bool InsidePopup(LPARAM lParam, HWND window, LPARAM* scrollerPoint) const;

  HFONT m_hFont = nullptr;
  DWORD_PTR m_context = 0;
  int m_nScreenWidth = 0, m_nScreenHeight = 0;
  RECT m_rcPopup = {};
  CTouchListItem* m_pPressed = nullptr;
  HDC m_hScreenDC = nullptr;
  COffscreenDC* m_pFrame = nullptr;
  COffscreenDC* m_pSaved = nullptr;
  COffscreenDC* m_pAllRows = nullptr;
  int m_nAllRowsContent = 0;
  int m_nTaskBarHeight = 0;
  bool m_bPressedOutside = false;
  HWND m_hDialog = nullptr;
  SHACTIVATEINFO m_activate = {sizeof(SHACTIVATEINFO), nullptr, 0, 0, 0, 0};
};
