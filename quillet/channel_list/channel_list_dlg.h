// The channel-list dialog: the child of the channel-list window that shows
// the painted channel list under a header (the category shown, with the
// refresh's progress band at its right end) and, on a touch screen, above a
// bar of three image buttons (category chooser, Refresh/Cancel, Menu). It
// routes pointer and key input to the list, opens the tap-and-hold menu of
// a channel, sends the channel commands on to the channel-list window, and
// makes the thumbnails the refresh asks for. It holds the channel-list
// document and the sync agency, and is the refresh run's parameter.
//
// The three lists that each reload refills (CChannelListFields): the
// category entries the chooser offers (m_reloadCategories: the categories,
// then "Google Reader - <label>" for every label), the labels of the
// synchronised channels (m_reloadTitles) and the feed URLs of the
// synchronised channels (m_reloadUrls).
#pragma once

#include <atomic>
#include <memory>
#include <vector>

#include "framework/afx.h"
#include "framework/dialog.h"
#include "quillet/refresh/refresh_state.h"
#include "quillet/ui/channel_list_view.h"
#include "quillet/ui/image_button_bar.h"
#include "quillet/ui/touch_image.h"

class CChannelListHost;

// The dialog's timers: the menu pages and the category chooser.
#define CHANNEL_DLG_TIMER_MENU 1
#define CHANNEL_DLG_TIMER_CHOOSER 2
#define CHANNEL_DLG_TIMER_SPARE 3

class CChannelListDlg : public CDialog, public CChannelListFields {
 public:
  CChannelListDlg();
  ~CChannelListDlg() override;

  // Creates the dialog as a child of the channel-list window.
  BOOL Create(CWnd* parent);
  // Loads the channel list from path into the painted list (the rows are
  // refilled by the document's walk); a missing or broken file leaves an
  // empty list in the document. TRUE when the file was read.
  BOOL LoadChannelList(LPCWSTR path);
  // Empties the rows and the entry lists and walks the document again (an
  // empty list when its file is missing or broken).
  void ReloadRows();
  HWND GetDialogWindow() const override { return m_hWnd; }

  // The drawing methods below paint through the window (an invalidation
  // and an update): what cannot be seen now is painted when it shows.
  void SetDownloadMode(BOOL on);
  BOOL IsDownloadMode() const { return m_bDownloadMode; }
  // Stores the per-cent still to do (0 to 100) and paints the band.
  void DrawProgressBand(int remaining);
  // Paints the header (and the band).
  void Refresh();
  // Draws the header (from a rendering kept while its size, colours and
  // text stay) and the band.
  void DrawHeader(HDC hdc, BOOL fullBackground);
  BOOL HasButtonBar() const { return m_pBar != nullptr; }
  CImageButtonBar* GetButtonBar() { return m_pBar; }
  int GetHeaderHeight() const;
  int GetBandHeight() const;

  // The list's open callback: runs the channel's headline list and then
  // stores the channel's counts in its row and its outline.
  static void OpenChannel(HWND window, DWORD_PTR context, const CString& title, const CString& url, int channel,
                          int x);
  void ShowChannelMenu();

  // Writes a thumbnail of the image: its centred square scaled to 32 x 32
  // pixels (scaled by the density on a touch screen); an image smaller than
  // that gives none. TRUE when the thumbnail was written.
  static BOOL MakeChannelIcon(LPCWSTR thumbnailPath, LPCWSTR imagePath);

  BOOL OnInitDialog() override;
  void OnOK() override;
  void OnCancel() override {}
  BOOL PreTranslateMessage(MSG* msg) override;
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
  LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

  // The per-cent still to do of the progress band.
  std::atomic<int> m_nProgress{0};
  CChannelListView m_view;
  CChannelListHost* m_pOwner = nullptr;

 protected:
  void OnSize(UINT type, int cx, int cy);
  void OnTimer(UINT_PTR id);
  void OnPaint();
  BOOL OnEraseBkgnd(CDC* dc);
  void OnDestroy();
  void OnLButtonDown(UINT flags, CPoint point);
  void OnActivate(UINT state, CWnd* other, BOOL minimized);
  void OnForwardCommand();
  LRESULT OnNotifyResult(WPARAM wParam, LPARAM lParam);

 private:
  void LayoutList();
  int ListHeight() const;
  // The parts of the client area, and painting a part (all when null) now.
  RECT HeaderRect() const;
  RECT BandRect();
  RECT BarRect() const;
  void PaintNow(const RECT* area);
  void DrawBar(HDC hdc);
  void DrawBand(HDC hdc);
  int BandLeft(HDC hdc) const;
  CString CurrentCategory() const;

  HFONT m_hFont = nullptr;
  HFONT m_hBoldFont = nullptr;
  COLORREF m_highlight = 0;
  CTouchImage m_headerIcon;
  CTouchImage m_downloadImage;
  BOOL m_bDownloadMode = FALSE;
  CImageButtonBar* m_pBar = nullptr;
  CBarPress m_barPress;
  int m_nLastX = 0, m_nLastY = 0;
  BOOL m_bListCreated = FALSE;
  BOOL m_bLastLoadOk = FALSE;
  std::vector<DWORD> m_template;
  // The header's renderings, with and without the full background, and
  // what each was drawn for.
  struct HeaderRendering {
    std::unique_ptr<COffscreenDC> dc;
    int width = 0, height = 0, bandLeft = 0;
    COLORREF highlight = 0;
    CString category;
  } m_header[2];

  DECLARE_MESSAGE_MAP()
};
