// CHtmlHostDialog: the dialog base of every screen that shows HTML. It hosts
// the HTML viewer control in two slots, so that a new page can be loaded
// into the hidden one while the other shows; feeds it HTML text; answers
// its requests for inline images from a map of named bitmaps; turns link
// taps into a virtual call; sends the navigation keys to the parent window;
// and on a touch device sizes the view to its whole content so the screen
// can scroll it by finger.
//
// The image map owns its bitmaps: a bitmap given to AddBitmap or loaded by
// AddResourceBitmap is deleted by the map (RemoveAllImages, a later image
// under the same name, the destructor) and never by the viewer, which is
// told that it does not own them.
//
// CPlainDialog keeps the shell's activation and input-panel handling away
// from dialogs that must not be resized.
#pragma once

#include <string>
#include <unordered_map>

#include "framework/afx.h"
#include "framework/dialog.h"
#include "quillet/res/resources.h"

#define HTML_VIEW_CONTROL_ID 12321
// Sent to the parent with wParam 37 (previous) or 39 (next).
#define WM_HTMLHOST_NAVKEY 6024
// Broadcast by a second instance of the program.
#define WM_BRING_TO_FRONT 0x87F

class CHtmlHostDialog : public CDialog {
 public:
  CHtmlHostDialog(UINT templateId, CWnd* parent, BOOL fullScreen);
  ~CHtmlHostDialog() override;

  // Link taps; the default opens http and https links in the browser and
  // closes the parent.
  virtual void OnLinkClick(LPCWSTR target);
  virtual void RemoveAllImages();
  virtual BOOL CreateHtmlView();

  BOOL OnInitDialog() override;
  BOOL PreTranslateMessage(MSG* msg) override;
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

  void SetHtml(LPCWSTR text);
  void RecreateHtmlView(BOOL fullScreen);
  BOOL LayoutHtmlView(BOOL fit, BOOL fullScreen);
  BOOL ResizeHtmlView();
  BOOL AddResourceBitmap(UINT id, LPCWSTR name);
  BOOL AddBitmap(HBITMAP bitmap, LPCWSTR name);
  // Frees the image registered under name; FALSE when there is none.
  BOOL RemoveImage(LPCWSTR name);
  // The bitmap registered under name (still the map's), or null.
  HBITMAP GetImage(LPCWSTR name) const;

  HWND GetHtmlView() const { return m_hView[m_nCurrent]; }
  HWND GetHtmlView(int slot) const { return m_hView[slot & 1]; }
  int GetCurrentSlot() const { return m_nCurrent; }
  int GetImageCount() const { return static_cast<int>(m_images.size()); }

 protected:
  struct ImageRecord {
    HBITMAP bitmap = nullptr;
    int width = 0;
    int height = 0;
  };

  HWND CreateView(BOOL visible, BOOL fullScreen);
  void PlaceView(HWND view, BOOL fullScreen);
  // The top edge of the program's main window in screen co-ordinates.
  int MainWindowTop() const;
  BOOL StoreImage(HBITMAP bitmap, LPCWSTR name);

  BOOL m_bFullScreen;
  HWND m_hView[2] = {nullptr, nullptr};
  int m_nCurrent = 0;
  std::unordered_map<std::u16string, ImageRecord> m_images;
  void* m_pReserved[3] = {nullptr, nullptr, nullptr};
};

class CHtmlViewDlg : public CHtmlHostDialog {
 public:
  explicit CHtmlViewDlg(CWnd* parent = nullptr);
  BOOL OnInitDialog() override;
};

class CPlainDialog : public CDialog {
 public:
  CPlainDialog(UINT templateId, CWnd* parent);
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

 protected:
  BOOL m_bFlag = FALSE;
};
