// The new-channel wizard: a modal dialog (template 171) that shows one page
// at a time as a child dialog over its whole client area and swaps pages
// when the current page sends it one of the wizard messages
// (screen_messages.h). It starts on the choice page; the caller reads the
// channels-added flag after the wizard returns and reloads its channel list
// when it is set.
//
// A page is never deleted while its own handler may still be running (a
// page sends its back message from its own handlers, and the choice page
// from its timer): the page leaving is hidden at once and its window and
// object go when the wizard's queue reaches the release message posted
// behind it, or with the wizard.
#pragma once

#include <vector>

#include "framework/afx.h"
#include "framework/coll.h"
#include "framework/dialog.h"
#include "quillet/ui/image_button_bar.h"

class COpmlXML;
class CNewChannelDlg;
class CNewInputUrlDlg;

// What the wizard reads of a page in its OPML or templates slot besides its
// window: whether it lets the wizard finish, and (the OPML page) whether it
// still shows the screen it opens with for a chosen file.
class CWizardPageState {
 public:
  virtual ~CWizardPageState() = default;
  virtual BOOL IsFinishAllowed() const = 0;
  virtual BOOL IsOnFirstScreen() const { return FALSE; }
};

// The wizard's own message that releases the pages that left.
#define WM_WIZARD_RELEASE_PAGES (WM_APP + 0x14D)
// The wizard's own message that runs the online template download once the
// choice page's handler that chose it has returned.
#define WM_WIZARD_RUN_DOWNLOAD (WM_APP + 0x14E)

// The title band that the wizard and its choice page draw at the top of
// their client area, over a gradient down to the content bottom. The touch
// edition shows a title and a subtitle, a key device one line.
void DrawWizardBand(HWND window, HDC hdc, HFONT normalFont, HFONT boldFont, LPCWSTR title, LPCWSTR subtitle);
// The wizard's soft keys on a key device (menu bar 347, owned by the
// wizard): OK hidden, Cancel. A bar the wizard had goes first. Null when the
// bar cannot be made.
HWND CreateWizardMenuBar(HWND wizard);
// The text of a row of a wizard page's list that is `width` wide: as it
// stands when it ends inside the row, else cut with an ellipsis so that it
// does, as a row's text too long for the row is cut; never up to the
// window's edge.
CString WizardRowText(const CString& text, int width);

class CNewWizardDlg : public CDialog {
 public:
  CNewWizardDlg(COpmlXML* list, CWnd* parent);
  ~CNewWizardDlg() override;

  // Set when a page added channels; read by the caller after DoModal.
  BOOL m_bChannelsAdded = FALSE;
  // The channels ticked on the OPML or templates page (kept by those pages).
  CStringList m_chosenChannels;

  COpmlXML* GetChannelList() const { return m_pList; }
  CNewChannelDlg* GetChoicePage() const { return m_pChoicePage; }
  CNewInputUrlDlg* GetUrlPage() const { return m_pUrlPage; }
  CDialog* GetOpmlPage() const { return m_pOpmlPage; }
  CDialog* GetTemplatesPage() const { return m_pTemplatesPage; }
  // The pages that left and wait for their release.
  size_t GetLeavingPageCount() const { return m_leaving.size(); }
  CImageButtonBar* GetButtonBar() const { return m_pBar; }

  BOOL PreTranslateMessage(MSG* msg) override;
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
  LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
  BOOL OnInitDialog() override;
  void OnOK() override;
  void OnCancel() override;

 protected:
  void OnSize(UINT type, int cx, int cy);
  BOOL OnEraseBkgnd(CDC* dc);
  void OnPaint();
  void OnActivate(UINT state, CWnd* other, BOOL minimized);
  void OnFinish();
  void OnBack();

 private:
  void DrawTitle(HDC hdc);
  void DrawBar(HDC hdc);
  void SetTitleText();
  // Creates the choice page with a row selected (0 none) and shows it.
  BOOL ShowChoicePage(UINT selectId);
  // Shows a page just created over the client area and gives it the focus.
  void PlacePage(CDialog* page);
  // Carries out the choice page's current choice.
  void RunChoice();
  // Takes the page out of its slot, hides it and has it released later.
  void RetirePage(CDialog* page);
  void ReleaseLeavingPages();
  // The windows of the pages, in the order choice, OPML, templates, URL.
  std::vector<HWND> PageWindows() const;
  BOOL IsFinishAllowedByPage(CDialog* page) const;
  void GoBack(CDialog* leaving, UINT selectId);
  // The templates page over the client area; the choice page again (with
  // that row) when it cannot be made.
  void ShowTemplatesPage(UINT rowOnFailure);
  // The online template download, then the templates page, or the choice
  // page again when it was cancelled or failed.
  void RunOnlineDownload();
  void EndWith(WPARAM wParam, LPARAM lParam, CDialog* page);

  COLORREF m_highlight = 0;
  CImageButtonBar* m_pBar = nullptr;
  HFONT m_hFont = nullptr;
  HFONT m_hBoldFont = nullptr;
  CNewChannelDlg* m_pChoicePage = nullptr;
  CDialog* m_pOpmlPage = nullptr;
  CDialog* m_pTemplatesPage = nullptr;
  CNewInputUrlDlg* m_pUrlPage = nullptr;
  COpmlXML* m_pList = nullptr;
  std::vector<CDialog*> m_leaving;
  BOOL m_bReleasePosted = FALSE;
  CBarPress m_barPress;

  DECLARE_MESSAGE_MAP()
};
