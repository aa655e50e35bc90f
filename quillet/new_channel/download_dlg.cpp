#include "quillet/new_channel/download_dlg.h"

#include <string>
#include <vector>

#include "common/connection.h"
#include "common/localize.h"
#include "common/log.h"
#include "common/settings.h"
#include "common/url_download.h"
#include "quillet/refresh/refresh_state.h"
#include "quillet/res/resources.h"
#include "quillet/screens/screen_messages.h"
#include "quillet/ui/density.h"

namespace {

std::atomic<int> g_runningWorkers{0};

// The longest line of the template list read as one name; a longer line
// gives several names.
constexpr size_t kMaxListLine = 1022;

// The names of the template list, in order: lines without their line end
// (a "\r" before the "\n" goes too), empty lines skipped.
std::vector<CString> ReadTemplateList(LPCWSTR path) {
  std::vector<CString> names;
  HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return names;
  std::string bytes;
  char block[4096];
  DWORD got = 0;
  while (ReadFile(file, block, sizeof block, &got, nullptr) && got) bytes.append(block, got);
  CloseHandle(file);
  auto addName = [&](std::string line) {
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
    if (line.empty()) return;
    int length = MultiByteToWideChar(CP_ACP, 0, line.data(), static_cast<int>(line.size()), nullptr, 0);
    std::u16string wide(static_cast<size_t>(length > 0 ? length : 0), u'\0');
    if (length > 0) MultiByteToWideChar(CP_ACP, 0, line.data(), static_cast<int>(line.size()), wide.data(), length);
    names.push_back(CString(wide));
  };
  size_t at = 0;
  while (at < bytes.size()) {
    size_t end = bytes.find('\n', at);
    size_t stop = end == std::string::npos ? bytes.size() : end + 1;
    // A line longer than a read holds comes as several names.
    while (stop - at > kMaxListLine) {
      addName(bytes.substr(at, kMaxListLine));
      at += kMaxListLine;
    }
    addName(bytes.substr(at, stop - at));
    at = stop;
  }
  return names;
}

// A name from the network may only name a file in "\Templates" itself.
bool IsSafeTemplateName(const CString& name) {
  const std::u16string& s = name.str();
  return s.find_first_of(u"\\/:") == std::u16string::npos && s.find(u"..") == std::u16string::npos;
}

// One download; a transfer stopped by another operation (its file is then
// removed) is a failure too, with its own text.
bool Download(CDownloadShared& shared, const CString& url, const CString& file, CString& error) {
  DWORD code = 0;
  HRESULT result = InternetDownloadFile(url, file, &code, error, nullptr, nullptr, nullptr);
  if (result == 0 && !shared.cancelled && ::GetFileAttributesW(file) == INVALID_FILE_ATTRIBUTES) {
    result = INET_E_DOWNLOAD_FAILURE;
    error = Localized(u"The transfer was stopped.");
  }
  return result == 0;
}

CString ErrorText(const CString& error) {
  CString text = Localized(u"Error");
  text += u": ";
  text += error;
  return text;
}

UINT RunSingle(CDownloadShared& shared) {
  CString error;
  bool ok = false;
  if (!shared.cancelled) ok = Download(shared, shared.url, shared.path, error);
  if (ok || shared.cancelled) {
    shared.done = TRUE;
    shared.Post(WM_COMMAND, IDOK, 0);
    return 1;
  }
  shared.failed = TRUE;
  shared.SetStatus(ErrorText(error), !shared.cancelled);
  return 0;
}

UINT RunFull(CDownloadShared& shared) {
  CString base = ReadSettingString(u"Settings", u"SupportWebsite", QUILLET_SUPPORT_WEBSITE);
  WCHAR folderBuffer[MAX_PATH] = {0};
  GetProgramFolder(folderBuffer);
  const CString folder(folderBuffer);
  CString templates = folder + u"\\Templates";
  CreateDirectoryW(templates, nullptr);
  std::vector<CString> names;
  CString error;

  // Stops at the user's cancel: nothing more is fetched.
  auto cancelled = [&] {
    if (!shared.cancelled) return false;
    names.clear();
    shared.done = TRUE;
    shared.Post(WM_COMMAND, IDOK, 0);
    return true;
  };
  auto failureEnd = [&] {
    shared.failed = TRUE;
    if (!shared.cancelled) shared.SetStatus(ErrorText(error), TRUE);
    names.clear();
    return 0u;
  };

  // The sample channel list, from the second address when the first fails.
  const CString samples = folder + u"\\SampleChannels.opml";
  shared.SetStatus(Localized(u"Download sample channels (OPML)..."));
  if (cancelled()) return 0;
  if (!Download(shared, base + u"/SampleChannels" + u".xml", samples, error)) {
    if (cancelled()) return 0;
    base = ReadSettingString(u"Settings", u"SecondSupportWebsite", QUILLET_SUPPORT_WEBSITE_SECOND);
    shared.SetStatus(Localized(u"Download sample channels..."));
    if (!Download(shared, base + u"/SampleChannels" + u".xml", samples, error)) {
      if (cancelled()) return 0;
      return failureEnd();
    }
  }

  // The list of the online templates, read and then deleted.
  const CString list = folder + u"\\OnlineTemplates.txt";
  DeleteFileW(list);
  shared.SetStatus(Localized(u"Download online template list file..."));
  if (cancelled()) return 0;
  if (!Download(shared, base + u"/OnlineTemplates" + u".txt", list, error)) {
    if (cancelled()) return 0;
    return failureEnd();
  }
  names = ReadTemplateList(list);
  DeleteFileW(list);

  // Each template in the order of the list.
  while (!names.empty()) {
    CString name = names.front();
    names.erase(names.begin());
    if (!IsSafeTemplateName(name)) {
      WriteLog(CString(u"Online template skipped, its name is no plain file name: ") + name);
      continue;
    }
    shared.SetStatus(Localized(u"Download") + u" " + name + u"...");
    if (cancelled()) return 0;
    if (!Download(shared, base + u"/" + name, templates + u"\\" + name, error)) {
      if (cancelled()) return 0;
      return failureEnd();
    }
  }
  shared.done = TRUE;
  shared.Post(WM_COMMAND, IDOK, 0);
  return 1;
}

}  // namespace

void CDownloadShared::Post(UINT message, WPARAM wParam, LPARAM lParam) {
  std::lock_guard<std::mutex> guard(lock);
  if (box) ::PostMessageW(box, message, wParam, lParam);
}

void CDownloadShared::SetStatus(const CString& text, BOOL ok) {
  std::lock_guard<std::mutex> guard(lock);
  status = text;
  if (ok) showOk = TRUE;
  if (box) ::PostMessageW(box, WM_DOWNLOAD_STATUS, 0, 0);
}

BEGIN_MESSAGE_MAP(CDownloadDlg, CPlainDialog)
ON_COMMAND(IDOK, OnOK)
ON_COMMAND(IDCANCEL, OnCancelButton)
END_MESSAGE_MAP()

CDownloadDlg::CDownloadDlg(CWnd* parent)
    : CPlainDialog(IDD_DOWNLOAD, parent),
      m_shared(std::make_shared<CDownloadShared>()),
      m_strUrl(m_shared->url),
      m_strPath(m_shared->path),
      m_bSingle(m_shared->single),
      m_bCancelled(m_shared->cancelled),
      m_bFailed(m_shared->failed) {
  RegisterQuilletResources();
}

CDownloadDlg::~CDownloadDlg() {
  // Destroying the window stops a worker that still runs; the worker keeps
  // the shared state alive for as long as it needs it.
  if (m_hWnd && ::IsWindow(m_hWnd)) DestroyWindow();
  StopWorker();
}

int CDownloadDlg::GetRunningWorkers() { return g_runningWorkers; }

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
  {
    std::lock_guard<std::mutex> guard(m_shared->lock);
    m_shared->box = m_hWnd;
  }
  m_status.SetWindowText(Localized(u"Connecting..."));
  m_button.SetWindowText(Localized(u"Cancel"));
  CRect window;
  GetWindowRect(&window);
  const int x = (::GetSystemMetrics(SM_CXSCREEN) - window.Width()) / 2;
  const int y = (::GetSystemMetrics(SM_CYSCREEN) - window.Height()) / 2;
  MoveWindow(x, y, window.Width(), window.Height(), TRUE);
  // A stop left by an earlier cancel must not cut this box's transfers
  // short (they would end after their first block as if complete). It is
  // cleared here, before the box can be cancelled, so that a cancel is
  // never lost.
  ClearUrlDownloadAbort();
  const BOOL useProxy = ReadSettingInt(u"Settings", u"UseNetAgency", 0);
  SetUrlDownloadProxy(useProxy, ReadSettingString(u"Settings", u"NetAgencyIP", QUILLET_DEFAULT_PROXY));
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
  if (m_bStarted) return;
  auto* param = new std::shared_ptr<CDownloadShared>(m_shared);
  ++g_runningWorkers;
  m_bStarted = TRUE;
  if (!AfxBeginThread(&CDownloadDlg::DownloadThread, param)) {
    --g_runningWorkers;
    m_bStarted = FALSE;
    delete param;
  }
}

BOOL CDownloadDlg::IsWorkerRunning() const { return m_bStarted && !m_shared->ended; }

void CDownloadDlg::StopWorker() {
  m_bCancelled = TRUE;
  // Only a transfer of this box is stopped, and once: once its worker has
  // done its work (the box closing, or the button reading "OK"), the stop
  // would cut another operation's transfer short.
  if (m_bStopRaised || !IsWorkerRunning() || m_shared->done) return;
  m_bStopRaised = TRUE;
  StopUrlDownload();
}

UINT CDownloadDlg::DownloadThread(LPVOID param) {
  std::unique_ptr<std::shared_ptr<CDownloadShared>> holder(static_cast<std::shared_ptr<CDownloadShared>*>(param));
  if (!holder || !*holder) return 0;
  CDownloadShared& shared = **holder;
  const UINT result = shared.single ? RunSingle(shared) : RunFull(shared);
  shared.ended = TRUE;
  --g_runningWorkers;
  return result;
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
    case WM_DOWNLOAD_STATUS: {
      CString text;
      BOOL ok = FALSE;
      {
        std::lock_guard<std::mutex> guard(m_shared->lock);
        text = m_shared->status;
        ok = m_shared->showOk;
      }
      if (m_status.m_hWnd) m_status.SetWindowText(text);
      if (ok && !m_bCancelled && m_button.m_hWnd) m_button.SetWindowText(Localized(u"OK"));
      return 0;
    }
    case WM_CLOSE:
      // Closing the box is its Cancel.
      OnCancelButton();
      return 0;
    case WM_DESTROY: {
      // From here on the worker posts nothing; a worker that still runs is
      // stopped, whoever takes the window away.
      {
        std::lock_guard<std::mutex> guard(m_shared->lock);
        m_shared->box = nullptr;
      }
      if (!m_shared->done) StopWorker();
      break;
    }
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
  if (m_shared->done) EndDialog(IDOK);
}

void CDownloadDlg::OnCancelButton() {
  StopWorker();
  CPlainDialog::OnCancel();
}

BOOL FetchToValidateFile(CWnd* parent, const CString& url, CString& path) {
  WCHAR root[MAX_PATH] = {0};
  GetDataRoot(root);
  path = root;
  path += u"\\ChannelData";
  ::CreateDirectoryW(path, nullptr);
  path += u"\\Validate~.xml";
  CDownloadDlg download(parent);
  download.SetSingleDownload(url, path);
  download.DoModal();
  return !download.m_bCancelled && !download.m_bFailed;
}
