// The wizard's templates page (template 190): adds channels from the
// installed channel templates, the files "*.xml" of "\Templates" in the
// program's folder. Each file names a group, lists channels and may carry
// extraction scripts ("parse_article"): a script belongs to the channels
// listed before it since the previous script of the same file.
//
// The page lists the groups, and inside a group its channels that the
// channel list does not hold yet; the user ticks channels (the ticks are
// kept in the wizard's chosen-channel list) and adds them: each goes to the
// category "Others" as "group - name", and a channel that was added gets
// its script (empty when it has none) in "\ChannelData\Ch%03d.tpl", where
// the refresh finds it and has the page-fetch program cut out each
// article's full text.
//
// In the touch edition the bar at the bottom holds Add (left) and Back
// (right); on a key device the wizard's soft keys read "Add Selected" and
// "Cancel". The page talks to the wizard only through its messages:
// WM_WIZARD_TEMPLATES_BACK to go back, WM_WIZARD_CHANNELS_ADDED and
// WM_CLOSE after adding.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "framework/afx.h"
#include "framework/controls.h"
#include "framework/dialog.h"
#include "quillet/new_channel/wizard_list_page.h"
#include "quillet/new_channel/wizard_chrome.h"
#include "quillet/ui/image_button_bar.h"
#include "quillet/ui/small_controls.h"
#include "quillet/ui/touch_list.h"

class COpmlXML;

#define IDD_TEMPLATES_PAGE 190

// The page's timers: the load (1, 100 ms after the start) and the refill
// after a group was opened (2, 5 ms).
#define TEMPLATES_TIMER_LOAD 1
#define TEMPLATES_TIMER_REFILL 2
// The row that leads out of a group; the rows of groups and channels have
// ids from TEMPLATES_ROW_FIRST on (the first occurrence of their key).
#define TEMPLATES_ROW_BACK 6
#define TEMPLATES_ROW_FIRST 100

class CTemplatesDisplayDlg : public CWizardListPage, public CWizardPageState {
 public:
  // An empty folder is "\Templates" in the program's folder.
  CTemplatesDisplayDlg(LPCWSTR folder, CWnd* parent);
  ~CTemplatesDisplayDlg() override;

  void SetChannelDocument(COpmlXML* document) { m_pDocument = document; }
  BOOL IsFinishAllowed() const override { return m_bFinishAllowed; }

  const CString& GetFolder() const { return m_strFolder; }
  const CString& GetCurrentGroup() const { return m_strGroup; }
  CTouchMenuList* GetList() const override { return m_pList; }
  CImageButtonBar* GetButtonBar() const override { return m_pBar; }
  // The script that a channel would be given (empty when none).
  CString GetScript(const CString& url) const;

  // The element callback of the template documents.
  static void ReadTemplateElement(void* context, LPCWSTR kind, LPCWSTR first, LPCWSTR second);
  static void OnListClick(HWND window, DWORD_PTR context, UINT commandId, CTouchListItem* item);

  BOOL OnInitDialog() override;
  void OnOK() override;
  void OnCancel() override;
  void DoDataExchange(CDataExchange* dx) override;

 protected:
  void OnSize(UINT type, int cx, int cy);
  void OnTimer(UINT_PTR id);
  void OnNothing() {}

 private:
  void Load();
  void FillList();
  void Click(UINT commandId);
  void DrawBand(HDC hdc) override;
  void OnBarCommand(int command) override;
  CStringList* ChosenChannels() const;
  // The key of a row id, or empty.
  std::u16string KeyOfRow(UINT commandId) const;

  CImageButtonBar* m_pBar = nullptr;
  HFONT m_hFont = nullptr;
  HFONT m_hBoldFont = nullptr;
  CString m_strFolder;
  // Entries of the channel URL list read since the last script of the file.
  std::vector<size_t> m_pending;
  // Script of each entry of the channel URL list.
  std::map<size_t, CString> m_scripts;
  CTouchMenuList* m_pList = nullptr;
  BOOL m_bFinishAllowed = TRUE;
  std::map<std::u16string, std::u16string> m_titles;
  std::map<std::u16string, std::u16string> m_parents;
  std::vector<std::u16string> m_keys;
  std::vector<std::u16string> m_groups;
  COpmlXML* m_pDocument = nullptr;
  std::vector<std::u16string> m_urls;
  CString m_strGroup;
  CCaptionStatic m_caption;  // 1003
  CStatic m_prompt;          // 1004
  CStatic m_loading;         // 1005

  DECLARE_MESSAGE_MAP()
};
