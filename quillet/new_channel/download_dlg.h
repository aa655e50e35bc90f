// The download box: a small modal dialog with one status line and one
// button that downloads over the data connection on a worker thread while
// the user watches or cancels.
//
// Two modes:
// - the full mode (the default) fetches, from the address in the setting
//   "SupportWebsite" (or "SecondSupportWebsite" when the sample channel
//   list cannot be had from it), the sample channel list into
//   "\SampleChannels.opml", the list of online templates
//   "OnlineTemplates.txt" and every template it names into "\Templates\"
//   of the program's folder (the templates page and the OPML page read them
//   there). A name from the list that holds "\", "/", ":" or ".." is
//   skipped and logged, so nothing is written outside "\Templates";
// - the single-file mode, SetSingleDownload (URL, path) before DoModal,
//   fetches one URL into one file (the wizard's URL page reads a feed's
//   title with it).
//
// After DoModal the caller reads m_bCancelled and m_bFailed and uses what
// was fetched only when both are clear.
//
// The worker shares only a reference-counted state with the box, never the
// dialog object: it hands its texts and its end to the window by posting
// (it never sends, so the user-interface thread never waits for it), and
// from the moment the window goes it posts nothing. Closing the box while
// its worker runs, however the window goes, raises the stop signal, and the
// worker ends at its transfer's next stop check without touching the box.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>

#include "framework/afx.h"
#include "framework/controls.h"
#include "framework/thread.h"
#include "quillet/ui/html_host_dialog.h"

// The addresses of the online content: the default of "SupportWebsite", and
// the default of "SecondSupportWebsite", the second address that the sample
// channel list is fetched from once more when the first fails (and that
// serves the rest of that run).
#define QUILLET_SUPPORT_WEBSITE u"http://www.marrowby.com/quillet"
#define QUILLET_SUPPORT_WEBSITE_SECOND u"http://support.marrowby.com/quillet"

// What the box and its worker share.
struct CDownloadShared {
  std::atomic<BOOL> cancelled{FALSE};
  std::atomic<BOOL> failed{FALSE};
  // The worker has finished its work (IDOK may close the box).
  std::atomic<BOOL> done{FALSE};
  // The worker's function has returned.
  std::atomic<BOOL> ended{FALSE};
  BOOL single = FALSE;
  CString url, path;

  // The box's window while it exists; posts go there under the lock.
  std::mutex lock;
  HWND box = nullptr;
  CString status;
  BOOL showOk = FALSE;

  // Posts to the box while it has its window.
  void Post(UINT message, WPARAM wParam, LPARAM lParam);
  // A status text (and, with ok, the button's "OK") for the box.
  void SetStatus(const CString& text, BOOL ok = FALSE);
};

class CDownloadDlg : public CPlainDialog {
  // First, so that the members that refer into it are made after it.
  std::shared_ptr<CDownloadShared> m_shared;

 public:
  explicit CDownloadDlg(CWnd* parent);
  ~CDownloadDlg() override;

  void SetSingleDownload(LPCWSTR url, LPCWSTR path);
  // The worker's entry; param is a heap copy of the shared state's pointer.
  static UINT DownloadThread(LPVOID param);
  // How many workers of download boxes run in this process now.
  static int GetRunningWorkers();

  BOOL OnInitDialog() override;
  void DoDataExchange(CDataExchange* dx) override;
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
  // IDOK ends the box only when the worker says it is done: the files are
  // then complete (an Enter key while they are still coming does nothing).
  void OnOK() override;
  void OnCancelButton();

  CString& m_strUrl;
  CString& m_strPath;
  BOOL& m_bSingle;
  BOOL m_bStartPending = FALSE;
  // Written by the user-interface thread and by the worker.
  std::atomic<BOOL>& m_bCancelled;
  std::atomic<BOOL>& m_bFailed;

  CStatic m_status;   // 1051
  CButton m_button;   // IDCANCEL

 protected:
  void StartWorker();
  // Stops this box's transfer while its worker still runs.
  void StopWorker();
  BOOL IsWorkerRunning() const;

  BOOL m_bStarted = FALSE;
  BOOL m_bStopRaised = FALSE;

  DECLARE_MESSAGE_MAP()
};

// Fetches one address into "ChannelData\Validate~.xml" under the data root
// through a download box over parent (made when missing): TRUE when it came
// whole, neither cancelled nor failed; path is the file's path either way.
BOOL FetchToValidateFile(CWnd* parent, const CString& url, CString& path);

// The worker's message to the box: the shared status changed.
#define WM_DOWNLOAD_STATUS (WM_APP + 0x1D0)
