// The base of the program's full-screen menus (the channel-list menu pages,
// the headline-list menu and the category chooser): pages of finger-scrolled
// image rows over the dark page colour, and on a touch screen a bar of
// image buttons at the bottom for each page. The screen shows one page at a
// time; the pointer goes to the bar or to the page's list, the keys Up and
// Down (and, where the screen wants them, Left and Right) move the page's
// selection and Enter clicks it.
#pragma once

#include <vector>

#include "framework/afx.h"
#include "framework/dialog.h"
#include "quillet/ui/image_button_bar.h"
#include "quillet/ui/touch_list.h"

class CMenuScreen : public CDialog {
 public:
  CMenuScreen(UINT templateId, CWnd* parent);
  ~CMenuScreen() override;

  // The page shown (0-based), its list and its bar (null without).
  int GetPage() const { return m_nPage; }
  CTouchMenuList* CurrentList() const;
  CImageButtonBar* CurrentBar() const;
  // The list's top and height on this screen.
  int GetListHeight() const;

  BOOL PreTranslateMessage(MSG* msg) override;
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

 protected:
  // Sets the window up for the face: full screen below the task bar (and
  // above the menu bar of a key device when the screen has one).
  void PlaceOnScreen(BOOL keyMenuBar);
  // Adds a page: its list over the screen less the bar, its callback, and
  // (touch screens) its bar, which SetBarButton fills. Returns the list.
  CTouchMenuList* AddPage(TouchMenuClickCallback callback, BOOL withBar);
  void SetBarButton(int page, int slot, UINT low, UINT high, UINT command);
  // Shows another page (drawn at once).
  void ShowPage(int page);
  // Empties a page's list and makes it again (its rows then added anew).
  CTouchMenuList* RebuildList(int page, TouchMenuClickCallback callback);
  // A command of a page's bar, at the release over its button.
  virtual void OnBarCommand(int command) = 0;
  // Finds the screen of a list callback's window.
  template <class Screen>
  static Screen* FromWindow(HWND window) {
    return dynamic_cast<Screen*>(CWnd::FromHandlePermanent(window));
  }
  void Draw(HDC hdc);
  void OnPaint();
  BOOL OnEraseBkgnd(CDC* dc);
  void OnSize(UINT type, int cx, int cy);
  void OnActivate(UINT state, CWnd* other, BOOL minimized);

  // Left and Right move the selection as Up and Down do.
  BOOL m_bSideKeysMove = FALSE;

 private:
  struct Page {
    CTouchMenuList* list = nullptr;
    CImageButtonBar* bar = nullptr;
  };
  void ResizeLists();
  void RedrawBar();
  std::vector<Page> m_pages;
  int m_nPage = 0;
  COLORREF m_highlight = 0;
  CBarPress m_barPress;

  DECLARE_MESSAGE_MAP()
};

// Sends a command to the channel-list window of the program's main window
// and returns when it has been carried out; nothing without a main window.
void SendCommandToChannelList(UINT id);
// The option entries that the menu pages share (101 general, 102 automatic
// update, 103 storage, 104 network, and the About entry's own id): sends
// the entry's command to the channel list. FALSE for any other entry.
BOOL SendOptionEntry(UINT id, UINT aboutId);
