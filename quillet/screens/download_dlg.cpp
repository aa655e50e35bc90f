#include "quillet/screens/download_dlg.h"

#include "common/connection.h"
#include "common/localize.h"
#include "common/url_download.h"
#include "quillet/refresh/refresh_state.h"
#include "quillet/res/resources.h"
#include "quillet/screens/screen_messages.h"
#include "quillet/ui/density.h"

BEGIN_MESSAGE_MAP(CDownloadDlg, CPlainDialog)
ON_COMMAND(IDOK, OnOK)
ON_COMMAND(IDCANCEL, OnCancelButton)
END_MESSAGE_MAP()

CDownloadDlg::CDownloadDlg(CWnd* parent) : CPlainDialog(IDD_DOWNLOAD, parent) { RegisterQuilletResources(); }

CDownloadDlg::~CDownloadDlg() {
  if (m_hWnd && ::IsWindow(m_hWnd)) DestroyWindow();
  WaitForWorker();
}

void CDownloadDlg::SetSingleDownload(LPCWSTR url, LPCWSTR path) {
  m_bSingle = TRUE;
  m_strUrl = url ? url : u"";
  m_strPath = path ? path : u"";
}

void CDownloadDlg::DoDataExchange(CDataExchange* dx) {
  CPlainDialog::DoDataExchange(dx);
  DDX_Control(dx, 1051, m_status);
  DDX_Control(dx, IDCANCEL, m_button);
}

BOOL CDownloadDlg::OnInitDialog() {
  CPlainDialog::OnInitDialog();
  m_hBox = m_hWnd;
  m_status.SetWindowText(Localized(u"Connecting..."));
  m_button.SetWindowText(Localized(u"Cancel"));
  CRect window;
  GetWindowRect(&window);
  const int x = (::GetSystemMetrics(SM_CXSCREEN) - window.Width()) / 2;
  const int y = (::GetSystemMetrics(SM_CYSCREEN) - window.Height()) / 2;
  MoveWindow(x, y, window.Width(), window.Height(), TRUE);
  if (!m_bSingle) {
    // The full download (sample channels and online templates) is not
    // available in this version: the box says so and ends as failed.
    m_bFailed = TRUE;
    CString text = Localized(u"Error");
    text += u": ";
    text += Localized(u"Online channel download is not available.");
    m_status.SetWindowText(text);
    m_button.SetWindowText(Localized(u"OK"));
    return TRUE;
  }
  // A stop left by an earlier cancel must not cut this transfer short. It
  // is cleared here, before the box can be cancelled, so that a cancel is
  // never lost.
  ClearUrlDownloadAbort();
  const BOOL useProxy = ReadSettingInt(u"Settings", u"UseNetAgency", 0);
  if (CanConnectQuickly(useProxy)) {
    StartWorker();
  } else if (!ConnectForUrl(m_hWnd, useProxy)) {
    m_bFailed = TRUE;
    SendMessage(WM_CLOSE);
  } else {
    m_bStartPending = TRUE;
  }
  return TRUE;
}

void CDownloadDlg::StartWorker() {
  if (m_pWorker) return;
  m_pWorker = AfxBeginThread(&CDownloadDlg::DownloadThread, this, 0, 0, CREATE_SUSPENDED);
  if (!m_pWorker) return;
  m_pWorker->m_bAutoDelete = FALSE;
  m_pWorker->ResumeThread();
}

void CDownloadDlg::WaitForWorker() {
  if (!m_pWorker) return;
  if (!m_bDone) {
    // Left while the transfer still runs: it is stopped. The stop is
    // repeated, since a transfer that had not yet opened when it was first
    // asked to stop would not have heard it.
    m_bCancelled = TRUE;
    while (::WaitForSingleObject(m_pWorker->m_hThread, 100) == WAIT_TIMEOUT) AbortUrlDownload();
  } else {
    ::WaitForSingleObject(m_pWorker->m_hThread, INFINITE);
  }
  delete m_pWorker;
  m_pWorker = nullptr;
}

void CDownloadDlg::SetStatus(LPCWSTR text) {
  HWND box = m_hBox;
  if (box && ::IsWindow(box)) ::SetDlgItemTextW(box, 1051, text);
}

UINT CDownloadDlg::DownloadThread(LPVOID param) {
  auto* self = static_cast<CDownloadDlg*>(param);
  if (!self) return 0;
  CString error;
  DWORD code = 0;
  HRESULT result = 0;
  if (!self->m_bCancelled)
    result = InternetDownloadFile(self->m_strUrl, self->m_strPath, &code, error, nullptr, nullptr, nullptr);
  // A transfer stopped from elsewhere (not by this box) leaves no file: that
  // is no download either.
  if (result == 0 && !self->m_bCancelled && ::GetFileAttributesW(self->m_strPath) == INVALID_FILE_ATTRIBUTES) {
    result = INET_E_DOWNLOAD_FAILURE;
    error = Localized(u"The transfer was stopped.");
  }
  if (result == 0 || self->m_bCancelled) {
    self->m_bDone = TRUE;
    HWND box = self->m_hBox;
    if (box && ::IsWindow(box)) ::SendMessageW(box, WM_COMMAND, IDOK, 0);
    return 1;
  }
  self->m_bFailed = TRUE;
  CString text = Localized(u"Error");
  text += u": ";
  text += error;
  self->SetStatus(text);
  HWND box = self->m_hBox;
  if (!self->m_bCancelled && box && ::IsWindow(box)) ::SetDlgItemTextW(box, IDCANCEL, Localized(u"OK"));
  return 0;
}

LRESULT CDownloadDlg::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CONNECTION_STATUS:
      if (wParam == CONNECTION_STATUS_ESTABLISHED) {
        if (m_bStartPending) StartWorker();
        m_bStartPending = FALSE;
      }
      break;
    case WM_URL_DOWNLOAD_PROGRESS:
      if (lParam == 0 && m_status.m_hWnd) {
        CString text;
        text.Format(Localized(u"Download %d bytes..."), static_cast<int>(wParam));
        m_status.SetWindowText(text);
      }
      break;
    case WM_CLOSE:
      // Closing the box is its Cancel.
      OnCancelButton();
      return 0;
    case WM_DESTROY:
      m_hBox = nullptr;
      break;
    case WM_PAINT: {
      // A white box framed in the highlight colour.
      CRect client;
      GetClientRect(&client);
      PAINTSTRUCT ps;
      HDC hdc = ::BeginPaint(m_hWnd, &ps);
      HBRUSH frame = ::CreateSolidBrush(::GetSysColor(COLOR_HIGHLIGHT));
      ::FillRect(hdc, &client, frame);
      ::DeleteObject(frame);
      const int inset = ScaleX(2);
      RECT inside{client.left + inset, client.top + inset, client.right - inset, client.bottom - inset};
      ::FillRect(hdc, &inside, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
      ::EndPaint(m_hWnd, &ps);
      return 0;
    }
    default:
      break;
  }
  return CPlainDialog::WindowProc(message, wParam, lParam);
}

void CDownloadDlg::OnOK() {
  if (m_bDone) EndDialog(IDOK);
}

void CDownloadDlg::OnCancelButton() {
  // Only a transfer of this box is stopped: once its worker has ended (the
  // button then reads "OK"), the stop would cut another operation's
  // transfer short.
  if (m_pWorker && ::WaitForSingleObject(m_pWorker->m_hThread, 0) == WAIT_TIMEOUT) StopUrlDownload();
  m_bCancelled = TRUE;
  CPlainDialog::OnCancel();
}
