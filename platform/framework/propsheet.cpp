// Property sheets and pages (see framework/propsheet.h).
#include "framework/propsheet.h"

#include <algorithm>

#include "framework/frame.h"
#include "framework/thread.h"
#include "kernel/resource.h"

namespace {

// The title of a dialog template resource (either layout), or empty.
CString TemplateTitle(LPCTSTR name) {
  HINSTANCE instance = AfxGetResourceHandle();
  HRSRC found = FindResourceW(instance, name, RT_DIALOG);
  if (!found) return CString();
  const auto* p = static_cast<const WORD*>(LockResource(LoadResource(instance, found)));
  size_t words = SizeofResource(instance, found) / sizeof(WORD);
  if (!p || words < 13) return CString();
  bool extended = p[0] == 1 && p[1] == 0xFFFF;
  size_t at = extended ? 13 : 9;  // past the header up to the menu
  auto skipNameOrOrdinal = [&] {
    if (at >= words) return;
    if (p[at] == 0xFFFF) {
      at += 2;
    } else {
      while (at < words && p[at]) ++at;
      ++at;
    }
  };
  skipNameOrOrdinal();  // menu
  skipNameOrOrdinal();  // class
  std::u16string title;
  while (at < words && p[at]) title += static_cast<char16_t>(p[at++]);
  return CString(std::move(title));
}

int TabHeight() { return (HIWORD(GetDialogBaseUnits()) * 14 + 4) / 8; }

}  // namespace

// ---------------------------------------------------------------- pages

CPropertyPage::CPropertyPage(UINT templateId, UINT captionId) : CDialog(templateId) {
  if (captionId) {
    WCHAR text[256] = {};
    if (::LoadStringW(AfxGetResourceHandle(), captionId, text, 256)) m_strCaption = text;
  }
}

CPropertyPage::CPropertyPage(LPCTSTR templateName, UINT captionId)
    : CPropertyPage(static_cast<UINT>(0), captionId) {
  m_lpszTemplateName = templateName;
  m_nIDHelp = 0;
}

CPropertyPage::~CPropertyPage() = default;

BOOL CPropertyPage::OnSetActive() {
  // The first time, OnInitDialog has just filled the controls.
  if (firstActive_)
    firstActive_ = false;
  else
    UpdateData(FALSE);
  return TRUE;
}

BOOL CPropertyPage::OnKillActive() { return UpdateData(TRUE); }

BOOL CPropertyPage::OnApply() {
  OnOK();
  m_bModified = FALSE;
  return TRUE;
}

void CPropertyPage::OnReset() { OnCancel(); }

BOOL CPropertyPage::OnQueryCancel() { return TRUE; }

void CPropertyPage::OnOK() {}

void CPropertyPage::OnCancel() {}

BOOL CPropertyPage::PreTranslateMessage(MSG* msg) {
  // In a sheet the sheet runs the keys (it is next up the parents).
  if (m_pSheet) return FALSE;
  return CDialog::PreTranslateMessage(msg);
}

BOOL CPropertyPage::OnCommand(WPARAM wParam, LPARAM lParam) {
  UINT id = LOWORD(wParam);
  // Enter and Escape in a page (no such button of its own) are the sheet's.
  if (m_pSheet && m_pSheet->m_hWnd && (id == IDOK || id == IDCANCEL) && !::GetDlgItem(m_hWnd, static_cast<int>(id))) {
    m_pSheet->PostMessage(WM_COMMAND, MAKEWPARAM(id, 0), 0);
    return TRUE;
  }
  return CDialog::OnCommand(wParam, lParam);
}

// ---------------------------------------------------------------- sheets

BEGIN_MESSAGE_MAP(CPropertySheet, CWnd)
  ON_MESSAGE(WM_INITDIALOG, HandleInitDialog)
  ON_MESSAGE(PSM_GETTABCONTROL, OnGetTabControl)
  ON_MESSAGE(PSM_SETCURSEL, OnSetCurSel)
  ON_MESSAGE(PSM_GETCURRENTPAGEHWND, OnGetCurrentPageHwnd)
  ON_WM_SIZE()
  ON_COMMAND(IDOK, OnOK)
  ON_COMMAND(IDCANCEL, OnCancel)
END_MESSAGE_MAP()

CPropertySheet::CPropertySheet() = default;

CPropertySheet::CPropertySheet(UINT captionId, CWnd* parent, UINT selectPage)
    : m_pParentWnd(parent), m_nStartPage(selectPage) {
  WCHAR text[256] = {};
  if (::LoadStringW(AfxGetResourceHandle(), captionId, text, 256)) m_strCaption = text;
}

CPropertySheet::CPropertySheet(LPCTSTR caption, CWnd* parent, UINT selectPage)
    : m_strCaption(caption), m_pParentWnd(parent), m_nStartPage(selectPage) {}

// The pages are the caller's (often members of a derived sheet, gone by now).
CPropertySheet::~CPropertySheet() = default;

void CPropertySheet::AddPage(CPropertyPage* page) {
  if (!page) return;
  page->m_pSheet = this;
  pages_.push_back(page);
  if (tab_.m_hWnd) {
    CString caption = page->m_strCaption.IsEmpty() ? TemplateTitle(page->m_lpszTemplateName) : page->m_strCaption;
    tab_.InsertItem(static_cast<int>(pages_.size()) - 1, caption);
  }
}

void CPropertySheet::RemovePage(CPropertyPage* page) { RemovePage(GetPageIndex(page)); }

void CPropertySheet::RemovePage(int index) {
  if (index < 0 || index >= GetPageCount()) return;
  CPropertyPage* page = pages_[static_cast<size_t>(index)];
  if (index == active_) {
    active_ = -1;
    if (GetPageCount() > 1) SetActivePage(index == 0 ? 1 : 0);
  }
  if (page->m_hWnd) page->DestroyWindow();
  pages_.erase(pages_.begin() + index);
  if (active_ > index) --active_;
  if (tab_.m_hWnd) tab_.SendMessage(TCM_DELETEITEM, static_cast<WPARAM>(index));
  page->m_pSheet = nullptr;
}

CPropertyPage* CPropertySheet::GetPage(int index) const {
  return index >= 0 && index < GetPageCount() ? pages_[static_cast<size_t>(index)] : nullptr;
}

int CPropertySheet::GetPageIndex(CPropertyPage* page) const {
  auto it = std::find(pages_.begin(), pages_.end(), page);
  return it == pages_.end() ? -1 : static_cast<int>(it - pages_.begin());
}

void CPropertySheet::SetTitle(LPCTSTR title, UINT) {
  m_strCaption = title;
  if (m_hWnd) SetWindowText(title);
}

CTabCtrl* CPropertySheet::GetTabControl() const {
  return tab_.m_hWnd ? const_cast<CTabCtrl*>(&tab_) : nullptr;
}

std::vector<DWORD> CPropertySheet::Template(DWORD style) const {
  LONG units = GetDialogBaseUnits();
  int baseX = std::max<int>(LOWORD(units), 1), baseY = std::max<int>(HIWORD(units), 1);
  auto cx = static_cast<short>(GetSystemMetrics(SM_CXSCREEN) * 4 / baseX);
  auto cy = static_cast<short>(GetSystemMetrics(SM_CYSCREEN) * 8 / baseY);
  return qk::DialogTemplateBuilder(style, 0, 0, 0, cx, cy, m_strCaption.str())
      .Control(WC_TABCONTROL, u"", AFX_IDC_TAB_CONTROL, WS_CHILD | WS_VISIBLE | TCS_BOTTOM, 0, 0, cx, 14)
      .Build();
}

INT_PTR CPropertySheet::DoModal() {
  CWnd* owner = m_pParentWnd && m_pParentWnd->m_hWnd ? m_pParentWnd : AfxGetMainWnd();
  HWND ownerWindow = owner && ::IsWindow(owner->m_hWnd) ? owner->GetTopLevelParent()->m_hWnd : nullptr;
  std::vector<DWORD> bytes = Template(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME);
  AfxHookWindowCreate(this);
  INT_PTR result = ::DialogBoxIndirectParamW(AfxGetResourceHandle(), reinterpret_cast<LPCDLGTEMPLATE>(bytes.data()),
                                             ownerWindow, AfxDlgProc, 0);
  if (!AfxUnhookWindowCreate()) return -1;
  active_ = -1;
  for (CPropertyPage* page : pages_) page->firstActive_ = true;
  return result;
}

BOOL CPropertySheet::Create(CWnd* parent, DWORD style, DWORD) {
  if (parent) m_pParentWnd = parent;
  if (style == static_cast<DWORD>(-1)) style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_VISIBLE;
  std::vector<DWORD> bytes = Template(style);
  AfxHookWindowCreate(this);
  HWND hwnd = ::CreateDialogIndirectParamW(AfxGetResourceHandle(), reinterpret_cast<LPCDLGTEMPLATE>(bytes.data()),
                                           m_pParentWnd ? m_pParentWnd->m_hWnd : nullptr, AfxDlgProc, 0);
  if (!AfxUnhookWindowCreate()) PostNcDestroy();
  return hwnd != nullptr;
}

LRESULT CPropertySheet::HandleInitDialog(WPARAM, LPARAM) { return OnInitDialog(); }

BOOL CPropertySheet::OnInitDialog() {
  tab_.SubclassDlgItem(AFX_IDC_TAB_CONTROL, this);
  for (size_t i = 0; i < pages_.size(); ++i) {
    CPropertyPage* page = pages_[i];
    CString caption = page->m_strCaption.IsEmpty() ? TemplateTitle(page->m_lpszTemplateName) : page->m_strCaption;
    if (tab_.m_hWnd) tab_.InsertItem(static_cast<int>(i), caption);
  }
  if (!(GetStyle() & WS_CHILD))
    MoveWindow(0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN), FALSE);
  SetWindowText(m_strCaption);
  Layout();
  SetActivePage(m_nStartPage < pages_.size() ? static_cast<int>(m_nStartPage) : 0);
  return FALSE;  // the page in front has the focus
}

bool CPropertySheet::MakePage(CPropertyPage* page) {
  if (page->m_hWnd) return true;
  page->m_pSheet = this;
  page->firstActive_ = true;
  if (!page->Create(page->m_lpszTemplateName, this)) return false;
  // A page lives inside the sheet even when its template makes it a popup.
  if (!(page->GetStyle() & WS_CHILD)) ::SetParent(page->m_hWnd, m_hWnd);
  page->ModifyStyle(WS_CAPTION | WS_POPUP, WS_CHILD);
  return true;
}

BOOL CPropertySheet::SetActivePage(int index) {
  CPropertyPage* page = GetPage(index);
  if (!page) return FALSE;
  if (!m_hWnd) {
    m_nStartPage = static_cast<UINT>(index);
    return TRUE;
  }
  if (index == active_) return TRUE;
  CPropertyPage* old = GetActivePage();
  if (!MakePage(page)) return FALSE;
  if (!page->OnSetActive()) return FALSE;
  if (old && old->m_hWnd) old->ShowWindow(SW_HIDE);
  active_ = index;
  Layout();
  page->ShowWindow(SW_SHOW);
  if (tab_.m_hWnd && tab_.GetCurSel() != index) tab_.SetCurSel(index);
  HWND first = ::GetNextDlgTabItem(page->m_hWnd, nullptr, FALSE);
  ::SetFocus(first ? first : page->m_hWnd);
  return TRUE;
}

void CPropertySheet::Layout() {
  if (!m_hWnd) return;
  CRect client;
  GetClientRect(&client);
  int tabHeight = tab_.m_hWnd ? TabHeight() : 0;
  if (tab_.m_hWnd) tab_.MoveWindow(0, client.Height() - tabHeight, client.Width(), tabHeight);
  if (CPropertyPage* page = GetActivePage())
    if (page->m_hWnd) page->MoveWindow(0, 0, client.Width(), client.Height() - tabHeight);
}

void CPropertySheet::OnSize(UINT type, int cx, int cy) {
  CWnd::OnSize(type, cx, cy);
  Layout();
}

BOOL CPropertySheet::OnNotify(WPARAM wParam, LPARAM lParam, LRESULT* result) {
  auto* header = reinterpret_cast<NMHDR*>(lParam);
  if (tab_.m_hWnd && header->hwndFrom == tab_.m_hWnd) {
    if (header->code == TCN_SELCHANGING) {
      CPropertyPage* page = GetActivePage();
      // The page in front may refuse to be left (a value that does not validate).
      *result = page && page->m_hWnd && !page->OnKillActive() ? TRUE : FALSE;
      return TRUE;
    }
    if (header->code == TCN_SELCHANGE) {
      int wanted = tab_.GetCurSel();
      if (!SetActivePage(wanted) && active_ >= 0) tab_.SetCurSel(active_);
      *result = 0;
      return TRUE;
    }
  }
  return CWnd::OnNotify(wParam, lParam, result);
}

BOOL CPropertySheet::PreTranslateMessage(MSG* msg) {
  if (msg->message < WM_KEYFIRST || msg->message > WM_KEYLAST) return FALSE;
  for (CFrameWnd* frame = GetParentFrame(); frame; frame = frame->GetParentFrame())
    if (frame->PreTranslateMessage(msg)) return TRUE;
  CPropertyPage* page = GetActivePage();
  if (page && page->m_hWnd && (msg->hwnd == page->m_hWnd || ::IsChild(page->m_hWnd, msg->hwnd)))
    return ::IsDialogMessageW(page->m_hWnd, msg);
  return ::IsDialogMessageW(m_hWnd, msg);
}

void CPropertySheet::OnOK() {
  CPropertyPage* front = GetActivePage();
  if (front && front->m_hWnd && !front->OnKillActive()) return;
  for (int i = 0; i < GetPageCount(); ++i) {
    CPropertyPage* page = pages_[static_cast<size_t>(i)];
    if (!page->m_hWnd) continue;
    if (!page->OnApply()) {
      SetActivePage(i);
      return;
    }
  }
  EndDialog(IDOK);
}

void CPropertySheet::OnCancel() {
  CPropertyPage* front = GetActivePage();
  if (front && front->m_hWnd && !front->OnQueryCancel()) return;
  for (CPropertyPage* page : pages_)
    if (page->m_hWnd) page->OnReset();
  EndDialog(IDCANCEL);
}

void CPropertySheet::EndDialog(int result) { ::EndDialog(m_hWnd, result); }

LRESULT CPropertySheet::OnGetTabControl(WPARAM, LPARAM) { return reinterpret_cast<LRESULT>(tab_.m_hWnd); }

LRESULT CPropertySheet::OnSetCurSel(WPARAM wParam, LPARAM lParam) {
  int index = lParam ? GetPageIndex(reinterpret_cast<CPropertyPage*>(lParam)) : static_cast<int>(wParam);
  return SetActivePage(index);
}

LRESULT CPropertySheet::OnGetCurrentPageHwnd(WPARAM, LPARAM) {
  CPropertyPage* page = GetActivePage();
  return reinterpret_cast<LRESULT>(page ? page->m_hWnd : nullptr);
}
