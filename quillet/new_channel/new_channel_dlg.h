// The first page of the new-channel wizard (template 170): the ways of
// adding channels as a finger-scrolled image list under the wizard's title
// band. A tap (or Enter on the selected row) records the choice and tells
// the wizard through WM_WIZARD_CHOICE; "Import OPML file" first asks for
// the file. In the touch edition a button bar at the bottom holds Cancel;
// on a key device the wizard's soft keys show Cancel.
#pragma once

#include "framework/afx.h"
#include "framework/dialog.h"
#include "quillet/new_channel/wizard_list_page.h"
#include "quillet/new_channel/wizard_rows.h"
#include "quillet/ui/image_button_bar.h"
#include "quillet/ui/small_controls.h"
#include "quillet/ui/touch_list.h"

// The page's timers: tell the wizard to go on (1) or to cancel (2).
#define CHOICE_TIMER_NEXT 1
#define CHOICE_TIMER_CANCEL 2

class CNewChannelDlg : public CWizardListPage {
 public:
  explicit CNewChannelDlg(CWnd* parent);
  ~CNewChannelDlg() override;

  int GetChoice() const { return m_nChoice; }
  const CString& GetOpmlPath() const { return m_strOpmlPath; }
  CTouchMenuList* GetList() const override { return m_pList; }
  CImageButtonBar* GetButtonBar() const override { return m_pBar; }
  // The list's top and height for the current window.

  // The list's click callback: the page is found from the window.
  static void OnRowClicked(HWND window, DWORD_PTR context, UINT commandId, CTouchListItem* item);

  void DoDataExchange(CDataExchange* dx) override;
  BOOL OnInitDialog() override;
  void OnOK() override {}
  void OnCancel() override;

 protected:
  void OnNext();
  void OnTimer(UINT_PTR id);

 private:
  void Choose(UINT rowId);
  // Asks for the OPML file to import; TRUE with the path chosen.
  BOOL AskForOpmlFile(CString& path);
  void DrawBand(HDC hdc) override;
  void OnBarCommand(int command) override;

  CImageButtonBar* m_pBar = nullptr;
  HFONT m_hFont = nullptr;
  HFONT m_hBoldFont = nullptr;
  int m_nChoice = CHOICE_NONE;
  CTouchMenuList* m_pList = nullptr;
  CString m_strOpmlPath;
  CCaptionStatic m_caption;
  CStatic m_helper1;
  CStatic m_helper2;

  DECLARE_MESSAGE_MAP()
};
