// The new-channel wizard's OPML import page (template 144): the outlines of
// an OPML file as a browsable list of folders and feeds under the wizard's
// title band. The user ticks feeds (the wizard keeps the ticked keys) and
// adds them; the page opened for a file the user picked first offers to
// add every feed of the file at once. With no path the page shows the
// sample catalog "SampleChannels.opml" of the program's folder.
//
// The page talks to the wizard only through the wizard's messages:
// WM_WIZARD_OPML_BACK (0, 0) to go back, WM_WIZARD_CHANNELS_ADDED and
// WM_CLOSE after adding.
#pragma once

#include <map>
#include <set>
#include <vector>

#include "framework/afx.h"
#include "framework/coll.h"
#include "framework/dialog.h"
#include "quillet/new_channel/wizard_list_page.h"
#include "quillet/new_channel/wizard_chrome.h"
#include "quillet/ui/image_button_bar.h"
#include "quillet/ui/small_controls.h"
#include "quillet/ui/touch_list.h"

#include "quillet/feeds/opml_xml.h"

#define IDD_OPML_DISPLAY 144

// The rows of the first screen and the way out of a folder.
#define OPML_ROW_CHOOSE 4
#define OPML_ROW_ADD_ALL 5
#define OPML_ROW_BACK_FOLDER 6
// The command of an entry's row: this plus the index of the entry's first
// occurrence in the key list.
#define OPML_ROW_FIRST_ENTRY 100

// The page's timers: load the file, refill after entering a folder.
#define OPML_TIMER_LOAD 1
#define OPML_TIMER_FOLDER 2

// Row images (touch low / touch 192 / key device).
#define IDR_PNG_OPML_CHOOSE 320
#define IDR_PNG_OPML_CHOOSE_192 321
#define IDR_PNG_OPML_CHOOSE_KEY 375
#define IDR_PNG_OPML_ADD_ALL 318
#define IDR_PNG_OPML_ADD_ALL_192 319
#define IDR_PNG_OPML_ADD_ALL_KEY 374
#define IDR_PNG_OPML_BACK_FOLDER 322
#define IDR_PNG_OPML_BACK_FOLDER_192 323
#define IDR_PNG_OPML_BACK_FOLDER_KEY 368
#define IDR_PNG_OPML_FOLDER 241
#define IDR_PNG_OPML_FOLDER_192 291
#define IDR_PNG_OPML_FOLDER_KEY 369
#define IDR_PNG_OPML_FEED_KEY 373

class COpmlDisplayDlg : public CWizardListPage, public CWizardPageState {
 public:
  // An empty path shows the sample catalog at once; a path first offers
  // the choice between picking feeds and adding them all.
  COpmlDisplayDlg(LPCWSTR path, CWnd* parent);
  ~COpmlDisplayDlg() override;

  void SetChannelDocument(COpmlXML* list) { m_pList = list; }

  // CWizardPageState: the page never keeps the wizard from finishing; it
  // is on its first screen while it offers the choice for a picked file.
  BOOL IsFinishAllowed() const override { return m_bFinishAllowed; }
  BOOL IsOnFirstScreen() const override { return m_nMode == 1; }

  int GetMode() const { return m_nMode; }
  const CString& GetPath() const { return m_strPath; }
  const CString& GetCurrentFolder() const { return m_strFolder; }
  CTouchMenuList* GetList() const override { return m_pRows; }
  CImageButtonBar* GetButtonBar() const override { return m_pBar; }
  // The feed URLs of the file in document order, duplicates kept: only
  // http and https addresses, without the spaces around them.
  const std::vector<CString>& GetUrls() const { return m_urls; }

  // The category a feed is added to: the top-level folder that holds it
  // ("Others" for a feed at the top level). Names that lead round in a
  // circle (a folder inside a folder of its own name) end the walk at the
  // last name not seen before.
  CString CategoryOf(const CString& key) const;

  // The document's outline callback, and the reader's mark that the next
  // attribute belongs to a new outline. A feed's address counts once its
  // outline is complete.
  static void ReadOutline(void* context, LPCWSTR parentText, LPCWSTR name, LPCWSTR value);
  void BeginOutline() { m_bOutlineEnded = TRUE; }
  // The list's click callback.
  static void OnListClick(HWND window, DWORD_PTR context, UINT commandId, CTouchListItem* item);

  void DoDataExchange(CDataExchange* dx) override;
  BOOL OnInitDialog() override;
  void OnOK() override;
  void OnCancel() override;

 protected:
  void OnSize(UINT type, int cx, int cy);
  void OnTimer(UINT_PTR id);
  void OnNothing() {}

 private:
  void Load();
  void Forget();
  BOOL IsFolder(const CString& key) const;
  void FillList();
  void Click(UINT commandId);
  void AddEveryChannel();
  // Adds the feeds of these addresses (each once; those subscribed already
  // are named for the word at the end) with one save of the channel list.
  // FALSE, with a word to the person, when the list could not be saved:
  // then none of them is added.
  BOOL AddChannels(const std::vector<CString>& urls);
  void SetRowsChecked(UINT commandId, DWORD value);
  void DrawBand(HDC hdc) override;
  void OnBarCommand(int command) override;
  CStringList* ChosenList() const;
  UINT RowImage(UINT low, UINT high, UINT key) const;

  CTouchMenuList* m_pRows = nullptr;
  BOOL m_bFinishAllowed = TRUE;
  CImageButtonBar* m_pBar = nullptr;
  HFONT m_hFont = nullptr;
  HFONT m_hTitleFont = nullptr;
  std::vector<CString> m_urls;
  CString m_strPath;
  std::map<CString, CString> m_titles;
  std::map<CString, CString> m_parents;
  std::vector<CString> m_keys;
  std::set<CString> m_folders;
  std::set<CString> m_feeds;
  BOOL m_bOutlineEnded = TRUE;
  // Outlines of the file left out for an address that is no web feed.
  int m_nLeftOut = 0;
  CString m_strScratchTitle;
  CString m_strScratchUrl;
  CString m_strFolder;
  int m_nMode = 0;
  BOOL m_bPicked = FALSE;
  BOOL m_bAddAll = FALSE;
  BOOL m_bAdded = FALSE;
  // Feeds added by this page, and those it found subscribed already (with
  // their titles, in the order met), by the comparison key of the address.
  std::set<CString> m_addedUrls;
  std::set<CString> m_subscribedUrls;
  std::vector<CString> m_subscribedTitles;
  UINT m_nPendingRow = 0;
  COpmlXML* m_pList = nullptr;
  CCaptionStatic m_caption;
  CStatic m_prompt;
  CStatic m_loading;

  DECLARE_MESSAGE_MAP()
};

// The page's reader of the file: hands each outline to the page's
// ReadOutline. The document stops reporting an outline of another type at
// its "type" attribute, without completing it: each outline starts afresh
// here, so that what such an outline said before its type (a title, a feed
// address) is neither offered nor handed to the next outline.
class COpmlOutlineReader : public COpmlXML {
 public:
  explicit COpmlOutlineReader(COpmlDisplayDlg* page);
  void VisitElement(TiXmlElement* parent, TiXmlElement* element) override;

 private:
  COpmlDisplayDlg* m_pPage;
};
