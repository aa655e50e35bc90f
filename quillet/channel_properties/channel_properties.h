// The channel properties: one channel's feed URL and title, the fetch of the
// title from the feed ("Get Channel's Title") and the rename of the channel
// in the channel list ("Rename"), and on a touch screen a "Details" tab with
// what the channel's last downloaded feed says about itself.
//
// Two forms of the title screen share their behaviour (CChannelTitleForm):
// COptionChannelInfoMainDialog, a modal dialog (the channel list's
// Properties on every device, the headline list's on a key device), and
// COptionChannelInfoMainDlg, the "Title" page of the property sheet
// COptionChannelInfoDlg (the headline list's Properties on a touch screen).
// Every caller gives the fields "UniqueID", "URL" and "Title", in this
// order, and runs the screen; closing it writes nothing, only Rename
// changes the channel list, at once.
//
// The title fetch runs on worker threads of their own, which reach the
// screen only through its window: the downloader's progress and end
// messages (sent, and answered while the screen waits for a worker) and
// the result (posted). A worker never outlives the screen's window: when
// the window goes, the fetch is stopped and the window waits for every
// worker to end, answering their messages meanwhile; from then on no
// worker touches the screen. The workers of one form run one after the
// other, and a worker that finds a fetch already taken does nothing.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>

#include "framework/afx.h"
#include "framework/dialog.h"
#include "framework/propsheet.h"
#include "quillet/ui/html_host_dialog.h"
#include "quillet/ui/small_controls.h"

// Dialog templates and the form's menu bar.
#define IDD_CHANNEL_INFO_PAGE 167
#define IDD_CHANNEL_INFO_DETAILS 168
#define IDD_CHANNEL_INFO_DESC 169
#define IDD_CHANNEL_INFO_DIALOG 349
#define IDR_CHANNEL_INFO_MENU 355

// The controls of the title screen.
#define IDC_INFO_CAPTION 1006
#define IDC_INFO_URL 1022
#define IDC_INFO_TITLE 1023
#define IDC_INFO_GET_TITLE 1024
#define IDC_INFO_RENAME 1025
#define IDC_INFO_HIDDEN_URL 1027
#define IDC_INFO_PROGRESS 1028
#define IDC_INFO_TITLE_LABEL 1029
#define IDC_INFO_URL_LABEL 1030
#define IDC_INFO_HIDDEN_TITLE 1032

// The dialog form's menu commands (key devices).
#define ID_INFO_GET_TITLE 32898
#define ID_INFO_RENAME 32895
#define ID_INFO_CANCEL 32905

// Posted by a title-fetch worker to its screen when its fetch ended:
// wParam one of the TITLE_FETCH_ outcomes. The title read is in the
// screen's shared state.
#define WM_TITLE_FETCH_DONE (WM_APP + 0x121)
#define TITLE_FETCH_FAILED 0
#define TITLE_FETCH_READ 1
// The transfer was stopped by another operation's stop signal: no feed came.
#define TITLE_FETCH_STOPPED 2

// The URL and title edits: they raise the input panel while they have the
// focus on a touch screen.
class CChannelTitleEdit : public CSipEdit {
 public:
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
};

// The behaviour the two forms of the title screen share. The form owns it
// and forwards its start, layout, commands and messages to it.
class CChannelTitleForm {
 public:
  // dialogForm: the modal dialog (its own font, its buttons hidden) rather
  // than the sheet's page. classLock: the lock under which the workers of
  // one form class run one after the other.
  CChannelTitleForm(CDialog& form, BOOL dialogForm, std::mutex& classLock);
  ~CChannelTitleForm();
  CChannelTitleForm(const CChannelTitleForm&) = delete;
  CChannelTitleForm& operator=(const CChannelTitleForm&) = delete;

  // "URL" and "Title" (without regard to case); other names are ignored.
  void SetField(LPCWSTR name, LPCWSTR value);
  const CString& GetUrl() const { return m_strUrl; }
  const CString& GetTitle() const { return m_strTitle; }

  // The controls' start: texts, what shows, the caret at the title's end.
  void Init();
  // Places the controls on WM_SIZE and sets their texts again.
  void Layout();
  void OnGetTitle();
  void OnRename();
  // The messages of the fetch (connection status, the downloader's
  // progress, the worker's result) and the window's end; TRUE when the
  // message was taken.
  BOOL OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
  // The window goes: the fetch is stopped and every worker waited for.
  void Stop();

  CCaptionStatic& Caption() { return m_caption; }
  CChannelTitleEdit& UrlEdit() { return m_urlEdit; }
  CChannelTitleEdit& TitleEdit() { return m_titleEdit; }
  // Workers started by this form that have not ended yet.
  int RunningWorkers() const;

  // The state a form shares with its workers: it outlives the form while
  // a worker still holds it.
  struct Shared;
  static UINT GetTitleThread(LPVOID param);

 private:
  void StartWorker();
  // The end of a transfer: the labels and edits (and the page's buttons)
  // show again.
  void ShowRows();
  void Show(UINT id, BOOL show);

  CDialog& m_form;
  BOOL m_bDialogForm;
  CString m_strUrl;
  CString m_strTitle;
  BOOL m_bStartPending = FALSE;
  std::shared_ptr<Shared> m_shared;
  CCaptionStatic m_caption;
  CChannelTitleEdit m_urlEdit;
  CChannelTitleEdit m_titleEdit;
  HFONT m_hFont = nullptr;
};

// The dialog form (template 349).
class COptionChannelInfoMainDialog : public CDialog {
 public:
  explicit COptionChannelInfoMainDialog(CWnd* parent = nullptr);
  ~COptionChannelInfoMainDialog() override;

  void SetField(LPCWSTR name, LPCWSTR value) { m_form.SetField(name, value); }
  CChannelTitleForm& Form() { return m_form; }

  BOOL OnInitDialog() override;
  // The device's Back key: on a key device while the title has the focus
  // it deletes the character before the caret; otherwise it closes.
  void OnCancel() override;
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

 protected:
  void OnSize(UINT type, int cx, int cy);
  void OnGetTitle() { m_form.OnGetTitle(); }
  void OnRename() { m_form.OnRename(); }
  void OnCancelKey() { CDialog::OnCancel(); }

  CChannelTitleForm m_form;

  DECLARE_MESSAGE_MAP()
};

// The "Title" page of the property sheet (template 167).
class COptionChannelInfoMainDlg : public CPropertyPage {
 public:
  COptionChannelInfoMainDlg();
  ~COptionChannelInfoMainDlg() override;

  void SetField(LPCWSTR name, LPCWSTR value) { m_form.SetField(name, value); }
  CChannelTitleForm& Form() { return m_form; }

  BOOL OnInitDialog() override;
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

 protected:
  void OnSize(UINT type, int cx, int cy);
  void OnGetTitle() { m_form.OnGetTitle(); }
  void OnRename() { m_form.OnRename(); }

  CChannelTitleForm m_form;

  DECLARE_MESSAGE_MAP()
};

// The channel information of the channel's last downloaded feed, as HTML
// (template 169, a child of the Details page).
class COptionChannelInfoDescDlg : public CHtmlHostDialog {
 public:
  COptionChannelInfoDescDlg();
  BOOL OnInitDialog() override;
  // The HTML the page shows (empty when the channel has no feed file).
  const CString& GetPageText() const { return m_strPage; }

  int m_nChannel = 0;

 protected:
  void OnSize(UINT type, int cx, int cy);
  CString m_strPage;

  DECLARE_MESSAGE_MAP()
};

// The "Details" page (template 168).
class COptionChannelInfoDetailsDlg : public CPropertyPage {
 public:
  COptionChannelInfoDetailsDlg();

  // Only "UniqueID" (without regard to case): the channel number.
  void SetField(LPCWSTR name, LPCWSTR value);
  int GetChannel() const { return m_nChannel; }
  COptionChannelInfoDescDlg& Description() { return m_desc; }

  void DoDataExchange(CDataExchange* dx) override;
  BOOL OnInitDialog() override;

 protected:
  void OnSize(UINT type, int cx, int cy);

  CCaptionStatic m_caption;
  int m_nChannel = 0;
  COptionChannelInfoDescDlg m_desc;

  DECLARE_MESSAGE_MAP()
};

// The property sheet: "Title" (tab 0) and "Details" (tab 1).
class COptionChannelInfoDlg : public CPropertySheet {
 public:
  COptionChannelInfoDlg();

  // To the title page, then to the Details page.
  void SetField(LPCWSTR name, LPCWSTR value);
  COptionChannelInfoMainDlg& TitlePage() { return m_main; }
  COptionChannelInfoDetailsDlg& DetailsPage() { return m_details; }

  BOOL OnInitDialog() override;

 protected:
  void OnSize(UINT type, int cx, int cy);

  COptionChannelInfoMainDlg m_main;
  COptionChannelInfoDetailsDlg m_details;

  DECLARE_MESSAGE_MAP()
};

// Runs the channel properties modally for one channel: the sheet when
// sheet is set, else the dialog form.
void RunChannelProperties(BOOL sheet, int channel, const CString& url, const CString& title, CWnd* parent);
