#include "quillet/new_channel/wizard_list_page.h"

#include "quillet/screens/screen_util.h"
#include "quillet/ui/density.h"

int CWizardListPage::GetListTop() const { return GetTouchFlag() ? Dy(52) : 29; }

int CWizardListPage::GetListHeight() const {
  CRect client, frame;
  ::GetClientRect(m_hWnd, &client);
  ::GetWindowRect(m_hWnd, &frame);
  const int height = GetTouchFlag() ? ::GetSystemMetrics(SM_CYSCREEN) - Dy(40) - frame.top - GetListTop()
                                    : client.bottom - GetListTop();
  return height < 0 ? 0 : height;
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
