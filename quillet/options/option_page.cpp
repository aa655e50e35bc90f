#include "quillet/options/option_page.h"

#include "common/localize.h"
#include "quillet/screens/screen_messages.h"
#include "quillet/res/resources.h"
#include "quillet/screens/screen_util.h"
#include "quillet/ui/density.h"
#include "shell/aygshell.h"

BEGIN_MESSAGE_MAP(COptionPage, CDialog)
ON_WM_SIZE()
ON_WM_ERASEBKGND()
END_MESSAGE_MAP()

COptionPage::COptionPage(UINT templateId, CWnd* parent) : CDialog(templateId, parent) {
  RegisterQuilletResources();
  InitScreenDpi(0);
  // A key device draws the page in the system face, 13 pixels high at 96
  // dots per inch; a touch screen keeps the template's font.
  if (!GetTouchFlag()) m_hPageFont = CreateSystemFont(FW_NORMAL, ScaleY(13));
}

COptionPage::~COptionPage() {
  if (m_hPageFont) ::DeleteObject(m_hPageFont);
}

void COptionPage::DoDataExchange(CDataExchange* dx) {
  CDialog::DoDataExchange(dx);
  DDX_Control(dx, IDC_OPTION_CAPTION, m_caption);
}

BOOL COptionPage::StartPage(BOOL followInputPanel) {
  SetWindowText(GetTouchFlag() ? u"Quillet Reach" : u"Quillet");
  InitScreenDpi(0);
  // The device's dialog set-up: the page fills the screen between the task
  // bar and its menu bar, whatever its template's size.
  SHINITDLGINFO init{SHIDIM_FLAGS, m_hWnd, SHIDIF_SIZEDLGFULLSCREEN};
  SHInitDialog(&init);
  HWND bar = CreateMenuBar(m_hWnd, IDR_WIZARD_MENU);
  if (!bar) return FALSE;
  SetSoftKeyText(bar, IDOK, u"OK");
  SetSoftKeyText(bar, IDCANCEL, u"Cancel");
  ::DrawMenuBar(bar);
  if (followInputPanel) ::CreateWindowW(WC_SIPPREF, u"", WS_CHILD, 0, 0, 0, 0, m_hWnd, nullptr, nullptr, nullptr);
  return TRUE;
}

void COptionPage::SetItemText(UINT id, LPCWSTR english) {
  if (HWND item = ::GetDlgItem(m_hWnd, static_cast<int>(id))) ::SetWindowTextW(item, Localized(english));
}

void COptionPage::FinishStart(LPCWSTR caption) {
  SetItemText(IDC_OPTION_CAPTION, caption);
  if (!m_hPageFont) return;
  for (HWND child = ::GetWindow(m_hWnd, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT))
    ::SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(m_hPageFont), TRUE);
}

void COptionPage::SetSpanningControls(std::vector<UINT> ids) {
  m_spanning = std::move(ids);
  m_templateRects.clear();
  for (UINT id : m_spanning) {
    HWND item = ::GetDlgItem(m_hWnd, static_cast<int>(id));
    if (!item) continue;
    RECT r;
    ::GetWindowRect(item, &r);
    ::ScreenToClient(m_hWnd, reinterpret_cast<POINT*>(&r.left));
    ::ScreenToClient(m_hWnd, reinterpret_cast<POINT*>(&r.right));
    m_templateRects[id] = r;
  }
  LayoutPage();
}

void COptionPage::LayoutPage() {
  if (!m_hWnd) return;
  RECT client;
  ::GetClientRect(m_hWnd, &client);
  if (HWND caption = ::GetDlgItem(m_hWnd, IDC_OPTION_CAPTION))
    ::MoveWindow(caption, -2, -2, client.right + 4, ScaleY(28), TRUE);
  for (const auto& [id, r] : m_templateRects) {
    HWND item = ::GetDlgItem(m_hWnd, static_cast<int>(id));
    if (!item) continue;
    // The right margin matches the control's left margin.
    const int width = client.right - 2 * r.left;
    if (width > 0) ::MoveWindow(item, r.left, r.top, width, r.bottom - r.top, TRUE);
  }
}

void COptionPage::OnSize(UINT type, int cx, int cy) {
  CDialog::OnSize(type, cx, cy);
  SetWindowText(GetTouchFlag() ? u"Quillet Reach" : u"Quillet");
  LayoutPage();
}

BOOL COptionPage::OnEraseBkgnd(CDC* dc) {
  // The page's ground: the window colour behind its controls, so that
  // nothing of the screen it covers shows between them.
  if (!dc) return FALSE;
  RECT client;
  ::GetClientRect(m_hWnd, &client);
  ::FillRect(dc->GetSafeHdc(), &client, ::GetSysColorBrush(COLOR_WINDOW));
  return TRUE;
}
