// The channel-list dialog: the child of the channel-list window that holds
// the painted channel list, the channel-list document and the sync agency,
// and makes the channels' thumbnails. It is the refresh run's parameter.
#pragma once

#include <atomic>
#include <vector>

#include "framework/afx.h"
#include "framework/dialog.h"
#include "quillet/refresh/refresh_state.h"
#include "quillet/ui/channel_list_view.h"

class CChannelListDlg : public CDialog, public CChannelListFields {
 public:
  CChannelListDlg();
  ~CChannelListDlg() override;

  // Creates the dialog as a child filling the channel-list window, with the
  // painted channel list filling the dialog.
  BOOL Create(CWnd* parent);
  // Loads the channel list from path into the painted list (the rows are
  // refilled by the document's walk); a missing or broken file leaves an
  // empty list in the document. TRUE when the file was read.
  BOOL LoadChannelList(LPCWSTR path);
  HWND GetDialogWindow() const override { return m_hWnd; }
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

  // Writes a thumbnail of the image: its centred square scaled to 32 x 32
  // pixels (scaled by the density on a touch screen); an image smaller than
  // that gives none. TRUE when the thumbnail was written.
  static BOOL MakeChannelIcon(LPCWSTR thumbnailPath, LPCWSTR imagePath);

  // The per-cent figure of the progress band.
  std::atomic<int> m_nProgress{0};
  CChannelListView m_view;

 private:
  // The document's outline visitor: gathers an outline's attributes and adds
  // a row for each channel.
  static void OnOutline(void* context, LPCWSTR parentText, LPCWSTR name, LPCWSTR value);
  struct Outline {
    CString title, url, updateTime;
    int channel = -1, itemCount = 0, newCount = 0;
  } m_outline;
  std::vector<DWORD> m_template;
};
