// The download box: a small modal dialog with one status line and one
// button that downloads over the data connection on a worker thread while
// the user watches or cancels.
//
// Only the single-file mode is built: SetSingleDownload (URL, path) before
// DoModal fetches one URL into one file (the wizard's URL page fetches a
// feed with it to read its title). The full mode (the sample channel list
// and the online templates) is not built yet: run without
// SetSingleDownload, the box shows that the download is not available and
// ends as failed.
//
// After DoModal the caller reads m_bCancelled and m_bFailed and uses the
// file only when both are clear. The object outlives its worker: the
// destructor waits for the worker's end (stopping its transfer when the
// box was left while it still ran), so the worker never touches a dialog
// that is gone.
#pragma once

#include <atomic>

#include "framework/afx.h"
#include "framework/controls.h"
#include "framework/thread.h"
#include "quillet/ui/html_host_dialog.h"

class CDownloadDlg : public CPlainDialog {
 public:
  explicit CDownloadDlg(CWnd* parent);
  ~CDownloadDlg() override;

  void SetSingleDownload(LPCWSTR url, LPCWSTR path);
  static UINT DownloadThread(LPVOID param);

  BOOL OnInitDialog() override;
  void DoDataExchange(CDataExchange* dx) override;
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;
  // IDOK ends the box only when the worker says it is done: the file is
  // then complete (an Enter key while it is still coming does nothing).
  void OnOK() override;
  void OnCancelButton();

  CString m_strUrl;
  CString m_strPath;
  BOOL m_bSingle = FALSE;
  BOOL m_bStartPending = FALSE;
  // Written by the user-interface thread and by the worker.
  std::atomic<BOOL> m_bCancelled{FALSE};
  std::atomic<BOOL> m_bFailed{FALSE};

  CStatic m_status;   // 1051
  CButton m_button;   // IDCANCEL

 protected:
  void StartWorker();
  void WaitForWorker();
  // The worker's texts, set only while the box has its window.
  void SetStatus(LPCWSTR text);

  CWinThread* m_pWorker = nullptr;
  std::atomic<HWND> m_hBox{nullptr};
  std::atomic<BOOL> m_bDone{FALSE};

  DECLARE_MESSAGE_MAP()
};
