#include "quillet/new_channel/new_channel_dlg.h"

#include "common/localize.h"
#include "common/log.h"
#include "quillet/new_channel/wizard_chrome.h"
#include "quillet/screens/screen_messages.h"
#include "quillet/screens/screen_util.h"
#include "quillet/ui/density.h"
#include "quillet/ui/touch_file_dialog.h"
#include "shell/aygshell.h"
#include "shell/filedlg.h"

namespace {

// The rows in their order: text, row id, images (touch at 192 dpi, touch
// otherwise, key device).
struct Row {
  const char16_t* text;
  UINT id;
  UINT high, low, key;
};
const Row kRows[] = {
    {u"Configure Google Reader syncing", CHOICE_ROW_SYNC, IDR_PNG_CHOICE_SYNC_192, IDR_PNG_CHOICE_SYNC,
     IDR_PNG_CHOICE_SYNC_KEY},
    {u"Browse Quillet channels catalog", CHOICE_ROW_CATALOG, IDR_PNG_CHOICE_CATALOG_192, IDR_PNG_CHOICE_CATALOG,
     IDR_PNG_CHOICE_CATALOG_KEY},
    {u"Add specific RSS URL", CHOICE_ROW_URL, IDR_PNG_CHOICE_URL_192, IDR_PNG_CHOICE_URL, IDR_PNG_CHOICE_URL_KEY},
    {u"Import OPML file", CHOICE_ROW_OPML_FILE, IDR_PNG_CHOICE_OPML_192, IDR_PNG_CHOICE_OPML, IDR_PNG_CHOICE_OPML_KEY},
    {u"Search online for channels", CHOICE_ROW_SEARCH, IDR_PNG_CHOICE_SEARCH_192, IDR_PNG_CHOICE_SEARCH,
     IDR_PNG_CHOICE_SEARCH_KEY},
    {u"Choose from installed templates", CHOICE_ROW_TEMPLATES, IDR_PNG_CHOICE_TEMPLATES_192, IDR_PNG_CHOICE_TEMPLATES,
     IDR_PNG_CHOICE_TEMPLATES_KEY},
    {u"Download Quillet online channels", CHOICE_ROW_ONLINE, IDR_PNG_CHOICE_ONLINE_192, IDR_PNG_CHOICE_ONLINE,
     IDR_PNG_CHOICE_ONLINE_KEY},
};

UINT RowImage(const Row& row) {
  if (!GetTouchFlag()) return row.key;
  return GetScreenDpiY() >= 192 ? row.high : row.low;
}

}  // namespace

BEGIN_MESSAGE_MAP(CNewChannelDlg, CWizardListPage)
ON_WM_SIZE()
ON_COMMAND(ID_CHOICE_NEXT, OnNext)
ON_COMMAND(ID_CHOICE_CANCEL, OnCancel)
ON_WM_TIMER()
ON_WM_ERASEBKGND()
ON_WM_PAINT()
ON_WM_ACTIVATE()
END_MESSAGE_MAP()

CNewChannelDlg::CNewChannelDlg(CWnd* parent) : CWizardListPage(IDD_NEW_CHANNEL, parent) {
  m_hFont = CreateWizardFont(FALSE);
  m_hBoldFont = CreateWizardFont(TRUE);
  m_highlight = ::GetSysColor(COLOR_HIGHLIGHT);
}

CNewChannelDlg::~CNewChannelDlg() {
  if (m_hWnd && ::IsWindow(m_hWnd)) DestroyWindow();
  if (m_hFont) ::DeleteObject(m_hFont);
  if (m_hBoldFont) ::DeleteObject(m_hBoldFont);
  delete m_pList;
  m_pList = nullptr;
  delete m_pBar;
  m_pBar = nullptr;
}

void CNewChannelDlg::DoDataExchange(CDataExchange* dx) {
  CDialog::DoDataExchange(dx);
  DDX_Control(dx, 1003, m_caption);
  DDX_Control(dx, 1004, m_helper1);
  DDX_Control(dx, 1050, m_helper2);
}

BOOL CNewChannelDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  InitScreenDpi(0);
  HWND wizard = ::GetParent(m_hWnd);
  if (GetTouchFlag()) {
    SHFullScreen(m_hWnd, SHFS_HIDESIPBUTTON);
    if (wizard) SHFullScreen(wizard, SHFS_HIDESIPBUTTON);
    for (HWND owner : {m_hWnd, wizard})
      if (HWND bar = owner ? SHFindMenuBar(owner) : nullptr) ::ShowWindow(bar, SW_HIDE);
  } else if (!CreateWizardMenuBar(wizard)) {
    return -1;
  }
  CRect client;
  GetClientRect(&client);
  m_pList = new CTouchMenuList(FALSE, TRUE);
  m_pList->Create(reinterpret_cast<DWORD_PTR>(this), m_hWnd, 0, GetListTop(), client.Width(), GetListHeight(),
                  OnRowClicked);
  for (const Row& row : kRows)
    m_pList->AddItem(WizardRowText(Localized(row.text), client.Width()), nullptr, static_cast<int>(RowImage(row)), -1,
                     row.id);
  m_pList->RefreshItems(FALSE);
  if (GetTouchFlag()) {
    m_pBar = new CImageButtonBar();
    m_pBar->LoadPressedImage(nullptr, ImageIdAtLeast192(IDR_PNG_BAR_PRESSED, IDR_PNG_BAR_PRESSED_192));
    m_pBar->SetButton(4, nullptr, ImageIdAtLeast192(IDR_PNG_CANCEL, IDR_PNG_CANCEL_192), 1);
  }
  HDC hdc = ::GetDC(m_hWnd);
  DrawPage(hdc);
  ::ReleaseDC(m_hWnd, hdc);
  return FALSE;
}

void CNewChannelDlg::OnRowClicked(HWND window, DWORD_PTR, UINT commandId, CTouchListItem*) {
  auto* self = dynamic_cast<CNewChannelDlg*>(CWnd::FromHandlePermanent(window));
  if (self) self->Choose(commandId);
}

void CNewChannelDlg::Choose(UINT rowId) {
  switch (rowId) {
    case CHOICE_ROW_CATALOG:
    case CHOICE_ROW_OPML_FILE: m_nChoice = CHOICE_OPML; break;
    case CHOICE_ROW_URL: m_nChoice = CHOICE_URL; break;
    case CHOICE_ROW_TEMPLATES: m_nChoice = CHOICE_TEMPLATES; break;
    case CHOICE_ROW_ONLINE: m_nChoice = CHOICE_ONLINE; break;
    case CHOICE_ROW_SYNC: m_nChoice = CHOICE_SYNC; break;
    case CHOICE_ROW_SEARCH: m_nChoice = CHOICE_SEARCH; break;
    default: break;
  }
  m_strOpmlPath.Empty();
  switch (rowId) {
    case CHOICE_ROW_CATALOG:
    case CHOICE_ROW_URL:
    case CHOICE_ROW_TEMPLATES:
    case CHOICE_ROW_ONLINE:
    case CHOICE_ROW_SYNC:
    case CHOICE_ROW_SEARCH:
      SetTimer(CHOICE_TIMER_NEXT, 5, nullptr);
      return;
    case CHOICE_ROW_OPML_FILE: {
      CString path;
      const BOOL chosen = AskForOpmlFile(path);
      // The program may have ended while the file dialog showed.
      if (!::IsWindow(m_hWnd)) return;
      SetFocus();
      if (!chosen) return;
      m_strOpmlPath = path;
      SetTimer(CHOICE_TIMER_NEXT, 5, nullptr);
      return;
    }
    default:
      return;
  }
}

BOOL CNewChannelDlg::AskForOpmlFile(CString& path) {
  WCHAR buffer[MAX_PATH] = {0};
  CString title = Localized(u"Import OPML file");
  if (GetTouchFlag()) {
    CTouchFileDialog dialog(m_hWnd, TOUCH_FILE_LOAD, title, nullptr, ImageIdAtLeast192(IDB_FILE_UP, IDB_FILE_UP_192));
    dialog.SetFileType(u"opml", Localized(u"OPML Files"), u"SampleChannels.opml");
    if (!dialog.DoModal(buffer, MAX_PATH)) return FALSE;
  } else {
    static const char16_t filter[] = u"Opml Files\0*.opml;*.xml;\0";
    OPENFILENAMEEX ofn{};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = m_hWnd;
    ofn.lpstrFilter = filter;
    ofn.lpstrFile = buffer;
    ofn.nMaxFile = MAX_PATH;
    ofn.lpstrInitialDir = u"\\";
    ofn.lpstrTitle = title;
    ofn.Flags = OFN_PATHMUSTEXIST | OFN_EXPLORER;
    ofn.dwSortOrder = OFN_SORTORDER_NAME | OFN_SORTORDER_ASCENDING;
    ofn.ExFlags = OFN_EXFLAG_THUMBNAILVIEW;
    if (!GetOpenFileNameEx(&ofn)) return FALSE;
  }
  path = buffer;
  return !path.IsEmpty();
}

void CNewChannelDlg::OnNext() { SetTimer(CHOICE_TIMER_NEXT, 5, nullptr); }

void CNewChannelDlg::OnCancel() { SetTimer(CHOICE_TIMER_CANCEL, 5, nullptr); }

void CNewChannelDlg::OnTimer(UINT_PTR id) {
  if (id == CHOICE_TIMER_NEXT || id == CHOICE_TIMER_CANCEL) {
    // One message per request: a choice whose page the wizard does not
    // open leaves this page on the screen, and the timer must not repeat.
    KillTimer(id);
    // The wizard may retire this page while it handles the message; it is
    // released only after this handler has returned.
    if (CWnd* parent = GetParent()) parent->SendMessage(WM_WIZARD_CHOICE, id == CHOICE_TIMER_NEXT ? 1 : 0, 0);
    return;
  }
  if (m_pList) m_pList->OnTimer(m_hWnd, id);
  Default();
}

void CNewChannelDlg::OnBarCommand(int command) {
  if (command == 1) SetTimer(CHOICE_TIMER_CANCEL, 5, nullptr);
}

void CNewChannelDlg::DrawBand(HDC hdc) {
  const BOOL touch = GetTouchFlag();
  CString title = Localized(touch ? u"Welcome to Quillet!" : u"Choose how to add new channel");
  CString subtitle = touch ? Localized(u"How to create the new channel?") : CString();
  DrawWizardBand(m_hWnd, hdc, m_hFont, m_hBoldFont, title, subtitle);
}

