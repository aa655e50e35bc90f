#include "quillet/new_channel/wizard_list_page.h"

#include "quillet/new_channel/wizard_chrome.h"
#include "quillet/res/screen_ids.h"
#include "quillet/screens/screen_util.h"
#include "quillet/ui/density.h"
#include "shell/aygshell.h"

int CWizardListPage::GetListTop() const { return GetTouchFlag() ? Dy(52) : 29; }

int CWizardListPage::GetListHeight() const {
  CRect client, frame;
  ::GetClientRect(m_hWnd, &client);
  ::GetWindowRect(m_hWnd, &frame);
  const int height = GetTouchFlag() ? ::GetSystemMetrics(SM_CYSCREEN) - Dy(40) - frame.top - GetListTop()
                                    : client.bottom - GetListTop();
  return height < 0 ? 0 : height;
}

BOOL CWizardListPage::ShowAddSelectedKeys() {
  HWND wizard = ::GetParent(m_hWnd);
  if (GetTouchFlag()) {
    SHFullScreen(m_hWnd, SHFS_HIDESIPBUTTON);
    if (wizard) SHFullScreen(wizard, SHFS_HIDESIPBUTTON);
    for (HWND owner : {m_hWnd, wizard})
      if (HWND bar = owner ? SHFindMenuBar(owner) : nullptr) ::ShowWindow(bar, SW_HIDE);
    return TRUE;
  }
  HWND bar = CreateWizardMenuBar(wizard);
  if (!bar) return FALSE;
  SetSoftKeyText(bar, IDOK, u"Add Selected");
  ::SendMessageW(bar, TB_HIDEBUTTON, IDOK, FALSE);
  SetSoftKeyText(bar, IDCANCEL, u"Cancel");
  ::DrawMenuBar(bar);
  return TRUE;
}

CImageButtonBar* CWizardListPage::MakeOkCancelBar() {
  CImageButtonBar* bar = new CImageButtonBar();
  bar->LoadPressedImage(nullptr, ImageIdAt192(IDR_PNG_BAR_PRESSED, IDR_PNG_BAR_PRESSED_192));
  bar->SetButton(0, nullptr, ImageIdAt192(IDR_PNG_OK, IDR_PNG_OK_192), 2);
  bar->SetButton(4, nullptr, ImageIdAt192(IDR_PNG_CANCEL, IDR_PNG_CANCEL_192), 1);
  return bar;
}

BOOL CWizardListPage::HandleKey(WPARAM key) {
  CTouchMenuList* list = GetList();
  return list && list->HandleKey(key);
}

BOOL CWizardListPage::PreTranslateMessage(MSG* msg) {
  if (msg && msg->message == WM_KEYDOWN && IsWithin(m_hWnd, msg->hwnd) && HandleKey(msg->wParam)) return TRUE;
  return CDialog::PreTranslateMessage(msg);
}

LRESULT CWizardListPage::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  // The keys the wizard hands on to its pages.
  if (message == WM_KEYDOWN && HandleKey(wParam)) return 0;
  CTouchMenuList* list = GetList();
  CImageButtonBar* bar = GetButtonBar();
  if (bar && list && (message == WM_LBUTTONDOWN || message == WM_MOUSEMOVE || message == WM_LBUTTONUP)) {
    CRect client;
    GetClientRect(&client);
    const int command = m_barPress.Route(m_hWnd, message, wParam, lParam, *list, *bar, client.bottom - Dy(40), [this] {
      HDC hdc = ::GetDC(m_hWnd);
      DrawBar(hdc);
      ::ReleaseDC(m_hWnd, hdc);
    });
    if (command == 1 || command == 2) OnBarCommand(command);
    return 0;
  }
  return CDialog::WindowProc(message, wParam, lParam);
}

void CWizardListPage::DrawBar(HDC hdc) {
  CImageButtonBar* bar = GetButtonBar();
  if (!bar || !hdc) return;
  bar->DrawAtScreenBottom(m_hWnd, hdc, Dy(40), TRUE);
}

void CWizardListPage::DrawPage(HDC hdc) {
  if (!hdc) return;
  DrawBand(hdc);
  if (CTouchMenuList* list = GetList()) list->Paint(hdc);
  DrawBar(hdc);
}

void CWizardListPage::OnSize(UINT, int, int) {
  Default();
  CTouchMenuList* list = GetList();
  if (!list) return;
  CRect client;
  GetClientRect(&client);
  list->Resize(client.Width(), GetListHeight());
}

BOOL CWizardListPage::OnEraseBkgnd(CDC* dc) {
  if (dc) DrawPage(dc->GetSafeHdc());
  return TRUE;
}

void CWizardListPage::OnPaint() {
  const COLORREF highlight = ::GetSysColor(COLOR_HIGHLIGHT);
  if (highlight != m_highlight) {
    if (CTouchMenuList* list = GetList()) {
      CRect client;
      GetClientRect(&client);
      list->Resize(client.Width(), GetListHeight());
      list->RefreshItems(FALSE);
    }
    if (CImageButtonBar* bar = GetButtonBar()) bar->InvalidateBackground(1);
    m_highlight = highlight;
  }
  PAINTSTRUCT ps;
  HDC hdc = ::BeginPaint(m_hWnd, &ps);
  DrawPage(hdc);
  ::EndPaint(m_hWnd, &ps);
}

void CWizardListPage::OnActivate(UINT state, CWnd* other, BOOL minimized) {
  CDialog::OnActivate(state, other, minimized);
  OnActivateFullScreen(m_hWnd);
}
