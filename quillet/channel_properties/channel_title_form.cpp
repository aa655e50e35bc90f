// The channel title screen in its two forms and the title fetch (see
// channel_properties.h).
#include <memory>

#include "common/connection.h"
#include "common/localize.h"
#include "common/settings.h"
#include "common/url_download.h"
#include "controls/commctrl.h"
#include "framework/thread.h"
#include "quillet/feeds/opml_xml.h"
#include "quillet/feeds/rss_xml.h"
#include "quillet/refresh/refresh_state.h"
#include "quillet/res/resources.h"
#include "quillet/channel_properties/channel_properties.h"
#include "quillet/screens/screen_frame.h"
#include "quillet/screens/screen_messages.h"
#include "quillet/screens/screen_util.h"
#include "quillet/ui/density.h"
#include "shell/aygshell.h"

struct CChannelTitleForm::Shared {
  std::mutex* classLock = nullptr;
  // The form's window while it is there; null from its end on.
  std::atomic<HWND> window{nullptr};
  // Set when the window goes: a worker starts no transfer and reports
  // nothing from then on.
  std::atomic<bool> closing{false};
  // A worker has taken the current request; a new request clears it.
  std::atomic<bool> fetching{false};
  std::atomic<int> workers{0};
  // The title the last worker read, for the form to take on its result.
  std::mutex resultLock;
  CString title;
};

namespace {

// What one worker is started with.
struct WorkerStart {
  std::shared_ptr<CChannelTitleForm::Shared> shared;
  CString url;
};

// The longest the window waits for its workers once it stopped them: they
// end as soon as their transfer hears the stop, which is repeated.
constexpr DWORD kWorkerEndWaitMs = 120000;

// The form's own background: white, as its edits and labels are.
LRESULT EraseForm(HWND form, WPARAM wParam) {
  RECT client;
  ::GetClientRect(form, &client);
  ::FillRect(reinterpret_cast<HDC>(wParam), &client, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
  return 1;
}

void MoveChild(HWND parent, UINT id, int x, int y, int width, int height) {
  if (HWND child = ::GetDlgItem(parent, static_cast<int>(id))) ::MoveWindow(child, x, y, width, height, TRUE);
}

CString WindowText(HWND window) {
  CString text;
  const int length = window ? ::GetWindowTextLengthW(window) : 0;
  if (length > 0) {
    std::u16string buffer(static_cast<size_t>(length) + 1, u'\0');
    ::GetWindowTextW(window, buffer.data(), length + 1);
    text = buffer.c_str();
  }
  return text;
}

// The worker's fetch, under its form class's lock: the feed into a file of
// its own, its channel title read, the file removed; the result posted to
// the form unless the form is going.
void FetchTitle(CChannelTitleForm::Shared& shared, const CString& url) {
  const CString folder = ChannelDataFolder();
  ::CreateDirectoryW(folder, nullptr);
  CString file;
  file.Format(u"%s\\Validate%d.xml", folder.GetString(), static_cast<int>(::GetCurrentThreadId()));
  const HWND window = shared.window;
  CString error;
  DWORD code = 0;
  const HRESULT result = InternetDownloadFile(url, file, &code, error, window, nullptr, nullptr);
  WPARAM outcome = TITLE_FETCH_FAILED;
  CString title;
  if (result == 0) {
    // A transfer cut short by a stop leaves no file: no feed came.
    outcome = TITLE_FETCH_STOPPED;
    if (FileAccess(file)) {
      CRssXML feed(nullptr, nullptr, nullptr, 1);
      feed.Load(file);
      feed.GetTitle(title);
      outcome = TITLE_FETCH_READ;
    }
  }
  ::DeleteFileW(file);
  if (shared.closing) return;
  {
    std::lock_guard<std::mutex> hold(shared.resultLock);
    shared.title = title;
  }
  ::PostMessageW(window, WM_TITLE_FETCH_DONE, outcome, 0);
}

}  // namespace

// ---------------------------------------------------------------- shared behaviour

LRESULT CChannelTitleEdit::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  // A key device types with its keys: no input panel comes up over the
  // form there.
  if (!GetTouchFlag()) return CEdit::WindowProc(message, wParam, lParam);
  return CSipEdit::WindowProc(message, wParam, lParam);
}

CChannelTitleForm::CChannelTitleForm(CDialog& form, BOOL dialogForm, std::mutex& classLock)
    : m_form(form), m_bDialogForm(dialogForm), m_shared(std::make_shared<Shared>()) {
  m_shared->classLock = &classLock;
  InitScreenDpi(0);
  if (m_bDialogForm) m_hFont = CreateSystemFont(FW_NORMAL, Dy(13), Dy(13));
}

CChannelTitleForm::~CChannelTitleForm() {
  // The window normally went first (and stopped the workers then).
  Stop();
  if (m_hFont) ::DeleteObject(m_hFont);
}

int CChannelTitleForm::RunningWorkers() const { return m_shared->workers.load(); }

void CChannelTitleForm::SetField(LPCWSTR name, LPCWSTR value) {
  const CString field(name ? name : u"");
  if (field.CompareNoCase(u"URL") == 0) {
    m_strUrl = value ? value : u"";
    if (m_urlEdit.m_hWnd) m_urlEdit.SetWindowText(m_strUrl);
  } else if (field.CompareNoCase(u"Title") == 0) {
    m_strTitle = value ? value : u"";
    if (m_titleEdit.m_hWnd) m_titleEdit.SetWindowText(m_strTitle);
  }
}

void CChannelTitleForm::Show(UINT id, BOOL show) {
  if (HWND child = ::GetDlgItem(m_form.m_hWnd, static_cast<int>(id))) ::ShowWindow(child, show ? SW_SHOW : SW_HIDE);
}

void CChannelTitleForm::Init() {
  const HWND form = m_form.m_hWnd;
  m_shared->window = form;
  m_shared->closing = false;
  if (!m_caption.m_hWnd) m_caption.SubclassControl(::GetDlgItem(form, IDC_INFO_CAPTION));
  if (!m_urlEdit.m_hWnd) m_urlEdit.SubclassControl(::GetDlgItem(form, IDC_INFO_URL));
  if (!m_titleEdit.m_hWnd) m_titleEdit.SubclassControl(::GetDlgItem(form, IDC_INFO_TITLE));
  if (m_urlEdit.m_hWnd) m_urlEdit.SetWindowText(m_strUrl);
  if (m_titleEdit.m_hWnd) m_titleEdit.SetWindowText(m_strTitle);
  Show(IDC_INFO_PROGRESS, FALSE);
  Show(IDC_INFO_URL, TRUE);
  Show(IDC_INFO_TITLE, TRUE);
  Show(IDC_INFO_HIDDEN_URL, FALSE);
  Show(IDC_INFO_HIDDEN_TITLE, FALSE);
  if (m_bDialogForm) {
    for (UINT id : {IDC_INFO_URL, IDC_INFO_TITLE, IDC_INFO_URL_LABEL, IDC_INFO_TITLE_LABEL})
      if (HWND child = ::GetDlgItem(form, static_cast<int>(id)))
        ::SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(m_hFont), TRUE);
    // Its commands come from the menu bar.
    Show(IDC_INFO_GET_TITLE, FALSE);
    Show(IDC_INFO_RENAME, FALSE);
  }
  if (m_titleEdit.m_hWnd) {
    m_titleEdit.SendMessage(EM_SETSEL, 65535, 65535);
    m_titleEdit.SendMessage(EM_SCROLLCARET);
    m_titleEdit.SetFocus();
    m_titleEdit.SendMessage(EM_SETREADONLY, 0);
  }
  if (m_urlEdit.m_hWnd) m_urlEdit.SendMessage(EM_SETREADONLY, 1);
}

void CChannelTitleForm::Layout() {
  const HWND form = m_form.m_hWnd;
  if (!form || !::IsWindow(form)) return;
  if (m_bDialogForm) ::SetWindowTextW(form, GetTouchFlag() ? u"Quillet Reach" : u"Quillet");
  RECT client;
  ::GetClientRect(form, &client);
  const int width = client.right, capH = Dy(28), progH = Dy(16);
  MoveChild(form, IDC_INFO_CAPTION, -2, -2, width + 4, capH);
  MoveChild(form, IDC_INFO_PROGRESS, 4, capH + 4, width - 8, progH);
  // The rows are placed by the screen's density, so that both faces show
  // them whole whatever the template's units come to: the URL (two lines)
  // and the title, each under its label and with equal margins left and
  // right, and the two buttons on one row under them, flush right, the
  // margin between them and after them. The hidden statics take the edits'
  // places; the progress shows in the URL label's place.
  const int margin = Dx(4), inner = width - 2 * margin;
  if (inner <= 0) return;
  int y = capH + Dy(4);
  MoveChild(form, IDC_INFO_URL_LABEL, margin, y, inner, progH);
  y += Dy(18);
  MoveChild(form, IDC_INFO_URL, margin, y, inner, Dy(40));
  MoveChild(form, IDC_INFO_HIDDEN_URL, margin, y, inner, Dy(40));
  y += Dy(44);
  MoveChild(form, IDC_INFO_TITLE_LABEL, margin, y, inner, progH);
  y += Dy(18);
  MoveChild(form, IDC_INFO_TITLE, margin, y, inner, Dy(22));
  MoveChild(form, IDC_INFO_HIDDEN_TITLE, margin, y, inner, Dy(22));
  y += Dy(28);
  const int renameWidth = (inner - margin) * 2 / 5, getWidth = inner - margin - renameWidth;
  MoveChild(form, IDC_INFO_GET_TITLE, width - 2 * margin - getWidth - renameWidth, y, getWidth, Dy(24));
  MoveChild(form, IDC_INFO_RENAME, width - renameWidth - margin, y, renameWidth, Dy(24));
  ::SetDlgItemTextW(form, IDC_INFO_GET_TITLE, Localized(u"Get Channel's Title"));
  ::SetDlgItemTextW(form, IDC_INFO_RENAME, Localized(u"Rename"));
  ::SetDlgItemTextW(form, IDC_INFO_CAPTION, Localized(u"Channel Properties"));
  ::SetDlgItemTextW(form, IDC_INFO_TITLE_LABEL, Localized(u"Title") + u":");
}

void CChannelTitleForm::OnGetTitle() {
  m_shared->fetching = false;
  // A stop left by an earlier cancel must not cut this fetch short. It is
  // cleared before the worker can run, so that a stop asked for while it
  // runs is never lost.
  ClearUrlDownloadAbort();
  const BOOL useProxy = ReadSettingInt(u"Settings", u"UseNetAgency", 0);
  if (CanConnectQuickly(useProxy)) StartWorker();
  else if (ConnectForUrl(m_form.m_hWnd, useProxy)) m_bStartPending = TRUE;
}

void CChannelTitleForm::StartWorker() {
  if (m_shared->closing || !m_urlEdit.m_hWnd) return;
  CString url = WindowText(m_urlEdit.m_hWnd);
  url.Trim();
  auto* start = new WorkerStart{m_shared, url};
  ++m_shared->workers;
  if (!AfxBeginThread(&CChannelTitleForm::GetTitleThread, start)) {
    --m_shared->workers;
    delete start;
  }
}

UINT CChannelTitleForm::GetTitleThread(LPVOID param) {
  std::unique_ptr<WorkerStart> start(static_cast<WorkerStart*>(param));
  if (!start || !start->shared) return 1;
  const std::shared_ptr<Shared> shared = start->shared;
  {
    std::lock_guard<std::mutex> hold(*shared->classLock);
    // A request already taken by an earlier worker is not fetched twice.
    if (!shared->closing && !shared->fetching.exchange(true)) FetchTitle(*shared, start->url);
  }
  start.reset();
  // The last touch of the form's state: from here the form may go.
  --shared->workers;
  return 1;
}

void CChannelTitleForm::ShowRows() {
  Show(IDC_INFO_PROGRESS, FALSE);
  for (UINT id : {IDC_INFO_URL_LABEL, IDC_INFO_TITLE_LABEL, IDC_INFO_URL, IDC_INFO_TITLE}) Show(id, TRUE);
  if (!m_bDialogForm) {
    Show(IDC_INFO_GET_TITLE, TRUE);
    Show(IDC_INFO_RENAME, TRUE);
  }
}

BOOL CChannelTitleForm::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CONNECTION_STATUS:
      if (wParam == CONNECTION_STATUS_ESTABLISHED) {
        if (m_bStartPending) StartWorker();
        m_bStartPending = FALSE;
      }
      return FALSE;
    case WM_URL_DOWNLOAD_PROGRESS: {
      if (m_shared->closing) return TRUE;
      const int bytes = static_cast<int>(wParam);
      if (lParam) {
        ShowRows();
      } else if (bytes > 0) {
        // The progress shows in the URL label's place while it comes.
        CString text;
        text.Format(u"Download %dKB...", bytes / 1000);
        ::SetDlgItemTextW(m_form.m_hWnd, IDC_INFO_PROGRESS, text);
        Show(IDC_INFO_URL_LABEL, FALSE);
        Show(IDC_INFO_PROGRESS, TRUE);
      }
      return TRUE;
    }
    case WM_TITLE_FETCH_DONE: {
      if (m_shared->closing) return TRUE;
      if (wParam == TITLE_FETCH_READ) {
        CString title;
        {
          std::lock_guard<std::mutex> hold(m_shared->resultLock);
          title = m_shared->title;
        }
        if (m_titleEdit.m_hWnd) {
          // The caret goes after the title, where typing goes on.
          m_titleEdit.SetWindowText(title);
          m_titleEdit.SendMessage(EM_SETSEL, 65535, 65535);
          m_titleEdit.SendMessage(EM_SCROLLCARET);
        }
      } else {
        // Shown from a posted message, so that no worker waits on the box.
        ::MessageBoxW(m_form.m_hWnd, u"Download failed. Please check the feed's URL and the network connection.",
                      u"Error", MB_OK | MB_ICONERROR);
      }
      return TRUE;
    }
    case WM_DESTROY:
      Stop();
      return FALSE;
    default:
      return FALSE;
  }
}

void CChannelTitleForm::Stop() {
  m_shared->closing = true;
  m_shared->window = nullptr;
  m_bStartPending = FALSE;
  if (m_shared->workers.load() == 0) return;
  // The stop reaches a transfer that is open now; it is repeated for one
  // that opens later. The messages the workers send meanwhile are answered
  // (and ignored), so none of them waits on this thread for ever.
  AbortUrlDownload();
  WaitHandlingSentMessages([this] { return m_shared->workers.load() == 0; }, kWorkerEndWaitMs,
                           [] { AbortUrlDownload(); });
}

void CChannelTitleForm::OnRename() {
  CString url = WindowText(m_urlEdit.m_hWnd), title = WindowText(m_titleEdit.m_hWnd);
  url.Trim();
  title.Trim();
  if (!ScreenFrame()) return;
  CChannelListHost* window = ChannelListHost();
  CChannelListFields* fields = window ? window->ShownChannelList() : nullptr;
  COpmlXML* list = fields ? fields->m_pOpml : nullptr;
  // The channel is found by its feed URL: the one shown, trimmed, or as
  // the channel list holds it.
  if (list && !list->HasChannel(url) && list->HasChannel(m_strUrl)) url = m_strUrl;
  if (!list || !list->HasChannel(url) || !list->SetChannelAttribute(url, u"text", title)) {
    ::MessageBoxW(m_form.m_hWnd, Localized(u"The channel was not found in the channel list."), Localized(u"Error"),
                  MB_OK | MB_ICONERROR);
    return;
  }
  CString stored;
  list->GetChannelAttribute(url, u"text", stored);
  m_strTitle = stored;
  if (m_titleEdit.m_hWnd) m_titleEdit.SetWindowText(stored);
  window->RefreshList();
  ::MessageBoxW(m_form.m_hWnd, Localized(u"This channel's name has been modified successfully."),
                Localized(u"Information"), MB_OK | MB_ICONINFORMATION);
}

// ---------------------------------------------------------------- the dialog form

namespace {
std::mutex g_dialogFormLock;
std::mutex g_pageFormLock;
}  // namespace

BEGIN_MESSAGE_MAP(COptionChannelInfoMainDialog, CDialog)
ON_WM_SIZE()
ON_COMMAND(IDC_INFO_GET_TITLE, OnGetTitle)
ON_COMMAND(ID_INFO_GET_TITLE, OnGetTitle)
ON_COMMAND(IDC_INFO_RENAME, OnRename)
ON_COMMAND(ID_INFO_RENAME, OnRename)
ON_COMMAND(ID_INFO_CANCEL, OnCancelKey)
END_MESSAGE_MAP()

COptionChannelInfoMainDialog::COptionChannelInfoMainDialog(CWnd* parent)
    : CDialog(IDD_CHANNEL_INFO_DIALOG, parent), m_form(*this, TRUE, g_dialogFormLock) {
  RegisterQuilletResources();
}

COptionChannelInfoMainDialog::~COptionChannelInfoMainDialog() {
  if (m_hWnd && ::IsWindow(m_hWnd)) DestroyWindow();
}

BOOL COptionChannelInfoMainDialog::OnInitDialog() {
  CDialog::OnInitDialog();
  const BOOL touch = GetTouchFlag();
  SetWindowText(touch ? u"Quillet Reach" : u"Quillet");
  InitScreenDpi(0);
  // Full screen below the task bar (down to the menu bar on a key
  // device), the task bar's done button closing it.
  SHINITDLGINFO init = {
      SHIDIM_FLAGS, m_hWnd,
      static_cast<DWORD>((touch ? SHIDIF_FULLSCREENNOMENUBAR : SHIDIF_SIZEDLGFULLSCREEN) | SHIDIF_DONEBUTTON)};
  SHInitDialog(&init);
  if (!touch) {
    HWND bar = CreateMenuBar(m_hWnd, IDR_CHANNEL_INFO_MENU);
    if (!bar) {
      EndDialog(-1);
      return FALSE;
    }
    SetSoftKeyText(bar, ID_MENU_KEY, u"Menu");
    SetSoftKeyText(bar, ID_INFO_CANCEL, u"Cancel");
    ::DrawMenuBar(bar);
  }
  m_form.Init();
  m_form.Layout();
  // The title edit has the focus.
  return FALSE;
}

void COptionChannelInfoMainDialog::OnSize(UINT type, int cx, int cy) {
  CDialog::OnSize(type, cx, cy);
  m_form.Layout();
}

void COptionChannelInfoMainDialog::OnCancel() {
  CSipEdit& title = m_form.TitleEdit();
  if (!GetTouchFlag() && title.m_hWnd && ::GetFocus() == title.m_hWnd) {
    title.SendMessage(WM_KEYDOWN, VK_BACK, 0xE0001);
    title.SendMessage(WM_CHAR, VK_BACK, 0xE0001);
    title.SendMessage(WM_KEYUP, VK_BACK, 0xE0001);
    return;
  }
  CDialog::OnCancel();
}

LRESULT COptionChannelInfoMainDialog::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_ERASEBKGND) return EraseForm(m_hWnd, wParam);
  if (m_form.OnMessage(message, wParam, lParam)) return 0;
  return CDialog::WindowProc(message, wParam, lParam);
}

// ---------------------------------------------------------------- the sheet's page

BEGIN_MESSAGE_MAP(COptionChannelInfoMainDlg, CPropertyPage)
ON_WM_SIZE()
ON_COMMAND(IDC_INFO_GET_TITLE, OnGetTitle)
ON_COMMAND(IDC_INFO_RENAME, OnRename)
END_MESSAGE_MAP()

COptionChannelInfoMainDlg::COptionChannelInfoMainDlg()
    : CPropertyPage(IDD_CHANNEL_INFO_PAGE), m_form(*this, FALSE, g_pageFormLock) {
  RegisterQuilletResources();
  m_strCaption = Localized(u"Title");
}

COptionChannelInfoMainDlg::~COptionChannelInfoMainDlg() {
  if (m_hWnd && ::IsWindow(m_hWnd)) DestroyWindow();
}

BOOL COptionChannelInfoMainDlg::OnInitDialog() {
  CPropertyPage::OnInitDialog();
  InitScreenDpi(0);
  m_form.Init();
  m_form.Layout();
  return FALSE;
}

void COptionChannelInfoMainDlg::OnSize(UINT type, int cx, int cy) {
  CPropertyPage::OnSize(type, cx, cy);
  m_form.Layout();
}

LRESULT COptionChannelInfoMainDlg::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_ERASEBKGND) return EraseForm(m_hWnd, wParam);
  if (m_form.OnMessage(message, wParam, lParam)) return 0;
  return CPropertyPage::WindowProc(message, wParam, lParam);
}
