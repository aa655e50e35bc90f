#include "quillet/screens/new_wizard_dlg.h"

#include "common/localize.h"
#include "common/log.h"
#include "quillet/res/resources.h"
#include "quillet/screens/channel_list_dlg.h"
#include "quillet/screens/new_channel_dlg.h"
#include "quillet/screens/new_input_url_dlg.h"
#include "quillet/screens/opml_display_dlg.h"
#include "quillet/screens/screen_messages.h"
#include "quillet/screens/screen_util.h"
#include "quillet/screens/templates_display_dlg.h"
#include "quillet/screens/download_dlg.h"
#include "quillet/ui/channel_list_view.h"
#include "quillet/ui/density.h"
#include "quillet/ui/touch_image.h"
#include "shell/aygshell.h"

void DrawWizardBand(HWND window, HDC hdc, HFONT normalFont, HFONT boldFont, LPCWSTR title, LPCWSTR subtitle) {
  if (!window || !hdc) return;
  RECT client{}, frame{};
  ::GetClientRect(window, &client);
  ::GetWindowRect(window, &frame);
  const BOOL touch = GetTouchFlag();
  const int screenWidth = ::GetSystemMetrics(SM_CXSCREEN), screenHeight = ::GetSystemMetrics(SM_CYSCREEN);
  const int width = screenWidth > client.right ? screenWidth : client.right;
  const int height = client.bottom;
  if (width <= 0 || height <= 0) return;
  const int band = touch ? Dy(51) : 28;
  const int line = touch ? Dy(52) : 29;
  // The content ends above the button bar; on a key device the window's
  // bottom edge on the screen is taken as it is.
  const int contentBottom = touch ? screenHeight - Dy(40) - frame.top : frame.bottom;
  const COLORREF highlight = ::GetSysColor(COLOR_HIGHLIGHT);
  const COLORREF dark = BlendColors(RGB(0, 0, 0), highlight, 160);
  const COLORREF light = BlendColors(RGB(0, 0, 0), highlight, 70);

  HDC mem = ::CreateCompatibleDC(hdc);
  HBITMAP bitmap = ::CreateCompatibleBitmap(hdc, width, height);
  HGDIOBJ oldBitmap = ::SelectObject(mem, bitmap);
  FillSolid(mem, 0, 0, width, band, dark);
  if (contentBottom > line) {
    TRIVERTEX v[2];
    SetTriVertex(&v[0], -1, line, dark);
    SetTriVertex(&v[1], screenWidth + 1, contentBottom, light);
    GRADIENT_RECT rect{0, 1};
    ::GradientFill(mem, v, 2, &rect, 1, GRADIENT_FILL_RECT_V);
  }
  if (contentBottom < height) FillSolid(mem, 0, contentBottom, width, height, light);
  ::SetBkMode(mem, TRANSPARENT);
  const UINT format = DT_SINGLELINE | DT_VCENTER | DT_LEFT;
  HGDIOBJ oldFont = ::SelectObject(mem, boldFont);
  ::SetTextColor(mem, RGB(255, 255, 255));
  if (touch) {
    RECT titleBox{Dx(8), 0, client.right - Dx(8), Dy(32)};
    DrawTextEllipsis(mem, CString(title ? title : u""), titleBox, format, 0);
    if (subtitle && *subtitle) {
      ::SelectObject(mem, normalFont);
      ::SetTextColor(mem, BlendColors(RGB(255, 255, 255), highlight, 225));
      RECT subtitleBox{Dx(8), Dy(22), client.right - Dx(8), Dy(51)};
      DrawTextEllipsis(mem, CString(subtitle), subtitleBox, format, 0);
    }
  } else {
    RECT titleBox{Dx(4), 0, client.right, 28};
    DrawTextEllipsis(mem, CString(title ? title : u""), titleBox, format, 0);
  }
  ::SelectObject(mem, oldFont);
  // A thin white line between the band and the gradient.
  FillSolid(mem, 0, band, width, line, RGB(255, 255, 255));
  ::BitBlt(hdc, 0, 0, client.right, height, mem, 0, 0, SRCCOPY);
  ::SelectObject(mem, oldBitmap);
  ::DeleteObject(bitmap);
  ::DeleteDC(mem);
}

HWND CreateWizardMenuBar(HWND wizard) {
  if (!wizard || !::IsWindow(wizard)) return nullptr;
  // The bar of the page that showed before goes: a window has one bar.
  if (HWND old = SHFindMenuBar(wizard)) ::DestroyWindow(old);
  HWND bar = CreateMenuBar(wizard, IDR_WIZARD_MENU);
  if (!bar) return nullptr;
  SetSoftKeyText(bar, IDOK, u"OK");
  ::SendMessageW(bar, TB_HIDEBUTTON, IDOK, TRUE);
  SetSoftKeyText(bar, IDCANCEL, u"Cancel");
  ::DrawMenuBar(bar);
  return bar;
}

CString WizardRowText(const CString& text, int width) {
  // The list's row text: from the right of the row's image to the row's
  // right edge, in the list's normal font; it stays one density pixel off
  // the edge.
  const int left = GetTouchFlag() ? Dx(52) : Dx(8) + 24;
  const int room = width - left - Dx(1);
  if (room <= 0 || text.IsEmpty()) return text;
  HDC dc = ::GetDC(nullptr);
  HFONT font = CreateListFont(FALSE);
  HGDIOBJ oldFont = ::SelectObject(dc, font);
  auto widthOf = [&](const CString& t) {
    SIZE size{};
    ::GetTextExtentPoint32W(dc, t, t.GetLength(), &size);
    return static_cast<int>(size.cx);
  };
  CString fitted = text;
  if (widthOf(text) > room) {
    int kept = text.GetLength();
    while (kept > 0 && widthOf(text.Left(kept) + u"...") > room) --kept;
    // Never a surrogate pair cut in two.
    if (kept > 0 && kept < text.GetLength() && text[kept] >= 0xDC00 && text[kept] < 0xE000) --kept;
    fitted = text.Left(kept) + u"...";
  }
  ::SelectObject(dc, oldFont);
  ::DeleteObject(font);
  ::ReleaseDC(nullptr, dc);
  return fitted;
}

// ---------------------------------------------------------------- the wizard

BEGIN_MESSAGE_MAP(CNewWizardDlg, CDialog)
ON_WM_SIZE()
ON_WM_ERASEBKGND()
ON_WM_PAINT()
ON_WM_ACTIVATE()
ON_COMMAND(ID_WIZARD_FINISH, OnFinish)
ON_COMMAND(ID_WIZARD_BACK, OnBack)
END_MESSAGE_MAP()

CNewWizardDlg::CNewWizardDlg(COpmlXML* list, CWnd* parent) : CDialog(IDD_NEW_WIZARD, parent), m_pList(list) {
  RegisterQuilletResources();
  InitScreenDpi(0);
  m_hFont = CreateWizardFont(FALSE);
  m_hBoldFont = CreateWizardFont(TRUE);
  m_highlight = ::GetSysColor(COLOR_HIGHLIGHT);
}

CNewWizardDlg::~CNewWizardDlg() {
  ReleaseLeavingPages();
  CDialog* pages[] = {m_pChoicePage, m_pOpmlPage, m_pTemplatesPage, m_pUrlPage};
  m_pChoicePage = nullptr;
  m_pOpmlPage = m_pTemplatesPage = nullptr;
  m_pUrlPage = nullptr;
  for (CDialog* page : pages) {
    if (!page) continue;
    if (page->m_hWnd && ::IsWindow(page->m_hWnd)) page->DestroyWindow();
    delete page;
  }
  if (m_hWnd && ::IsWindow(m_hWnd)) DestroyWindow();
  delete m_pBar;
  m_pBar = nullptr;
  if (m_hFont) ::DeleteObject(m_hFont);
  if (m_hBoldFont) ::DeleteObject(m_hBoldFont);
  m_chosenChannels.RemoveAll();
}

void CNewWizardDlg::SetTitleText() { SetWindowText(GetTouchFlag() ? u"Quillet Reach" : u"Quillet"); }

BOOL CNewWizardDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  SetTitleText();
  InitScreenDpi(0);
  WriteLog(u"CNewWizardDlg::OnInitDialog()");
  // Below the task bar, above the soft keys; the touch edition then takes
  // the screen down to its bottom.
  SHINITDLGINFO init = {SHIDIM_FLAGS, m_hWnd, SHIDIF_SIZEDLGFULLSCREEN};
  SHInitDialog(&init);
  if (GetTouchFlag()) {
    SHFullScreen(m_hWnd, SHFS_HIDESIPBUTTON);
    if (HWND bar = SHFindMenuBar(m_hWnd)) ::ShowWindow(bar, SW_HIDE);
    CRect frame;
    GetWindowRect(&frame);
    SetWindowPos(nullptr, frame.left, frame.top, ::GetSystemMetrics(SM_CXSCREEN),
                 ::GetSystemMetrics(SM_CYSCREEN) - frame.top, SWP_NOZORDER);
    m_pBar = new CImageButtonBar();
    m_pBar->LoadPressedImage(nullptr, ImageIdAtLeast192(IDR_PNG_BAR_PRESSED, IDR_PNG_BAR_PRESSED_192));
    m_pBar->SetButton(4, nullptr, ImageIdAtLeast192(IDR_PNG_CANCEL, IDR_PNG_CANCEL_192), 1);
  } else if (!CreateWizardMenuBar(m_hWnd)) {
    // Without its soft keys a key device could not leave the wizard.
    EndDialog(IDCANCEL);
    return FALSE;
  }
  HDC hdc = ::GetDC(m_hWnd);
  DrawTitle(hdc);
  ::ReleaseDC(m_hWnd, hdc);
  if (!ShowChoicePage(0)) EndDialog(IDCANCEL);
  return FALSE;
}

void CNewWizardDlg::PlacePage(CDialog* page) {
  CRect client;
  GetClientRect(&client);
  page->MoveWindow(client.left, client.top, client.Width(), client.Height(), TRUE);
  page->ShowWindow(SW_SHOW);
  page->SetFocus();
}

BOOL CNewWizardDlg::ShowChoicePage(UINT selectId) {
  auto* page = new CNewChannelDlg(this);
  if (!page->Create(IDD_NEW_CHANNEL, this)) {
    delete page;
    return FALSE;
  }
  m_pChoicePage = page;
  PlacePage(page);
  if (CTouchMenuList* list = page->GetList(); list && selectId) {
    list->SelectItemById(selectId, TRUE);
    list->RefreshItems(TRUE);
  }
  return TRUE;
}

void CNewWizardDlg::RetirePage(CDialog* page) {
  if (!page) return;
  if (page == m_pChoicePage) m_pChoicePage = nullptr;
  if (page == m_pOpmlPage) m_pOpmlPage = nullptr;
  if (page == m_pTemplatesPage) m_pTemplatesPage = nullptr;
  if (page == m_pUrlPage) m_pUrlPage = nullptr;
  if (page->m_hWnd && ::IsWindow(page->m_hWnd)) page->ShowWindow(SW_HIDE);
  // The soft keys belong to the page leaving; the next page makes its own.
  // (The bar posts its commands, so none of its handlers is running now.)
  if (!GetTouchFlag())
    if (HWND bar = SHFindMenuBar(m_hWnd)) ::DestroyWindow(bar);
  m_leaving.push_back(page);
  if (!m_bReleasePosted && m_hWnd) m_bReleasePosted = PostMessage(WM_WIZARD_RELEASE_PAGES, 0, 0);
}

void CNewWizardDlg::ReleaseLeavingPages() {
  m_bReleasePosted = FALSE;
  std::vector<CDialog*> pages;
  pages.swap(m_leaving);
  for (CDialog* page : pages) {
    if (page->m_hWnd && ::IsWindow(page->m_hWnd)) page->DestroyWindow();
    delete page;
  }
}

std::vector<HWND> CNewWizardDlg::PageWindows() const {
  std::vector<HWND> windows;
  for (CDialog* page : {static_cast<CDialog*>(m_pChoicePage), m_pOpmlPage, m_pTemplatesPage,
                        static_cast<CDialog*>(m_pUrlPage)})
    if (page && page->m_hWnd) windows.push_back(page->m_hWnd);
  return windows;
}

BOOL CNewWizardDlg::IsFinishAllowedByPage(CDialog* page) const {
  if (!page) return TRUE;
  if (page == m_pUrlPage) return m_pUrlPage->IsFinishAllowed();
  if (auto* state = dynamic_cast<CWizardPageState*>(page)) return state->IsFinishAllowed();
  return TRUE;
}

void CNewWizardDlg::RunChoice() {
  if (!m_pChoicePage) return;
  const int choice = m_pChoicePage->GetChoice();
  switch (choice) {
    case CHOICE_URL:
    case CHOICE_SYNC:
    case CHOICE_SEARCH: {
      // The URL page in the choice's mode: 1 typed URL, 4 sync account,
      // 5 online search.
      const int mode = choice == CHOICE_SYNC ? 4 : choice == CHOICE_SEARCH ? 5 : 1;
      RetirePage(m_pChoicePage);
      auto* page = new CNewInputUrlDlg(m_pList, mode, this);
      if (!page->Create(IDD_INPUT_URL, this)) {
        delete page;
        WriteLog(u"CNewWizardDlg: the URL page could not be created.");
        const UINT row = mode == 4 ? CHOICE_ROW_SYNC : mode == 5 ? CHOICE_ROW_SEARCH : CHOICE_ROW_URL;
        if (!ShowChoicePage(row)) EndDialog(IDCANCEL);
        return;
      }
      m_pUrlPage = page;
      PlacePage(page);
      return;
    }
    case CHOICE_OPML: {
      // The catalog (no path) or the file picked on the choice page.
      const CString path = m_pChoicePage->GetOpmlPath();
      const UINT row = path.IsEmpty() ? CHOICE_ROW_CATALOG : CHOICE_ROW_OPML_FILE;
      RetirePage(m_pChoicePage);
      m_chosenChannels.RemoveAll();
      auto* page = new COpmlDisplayDlg(path, this);
      if (!page->Create(IDD_OPML_DISPLAY, this)) {
        delete page;
        WriteLog(u"CNewWizardDlg: the OPML page could not be created.");
        if (!ShowChoicePage(row)) EndDialog(IDCANCEL);
        return;
      }
      page->SetChannelDocument(m_pList);
      m_pOpmlPage = page;
      PlacePage(page);
      return;
    }
    case CHOICE_TEMPLATES:
      RetirePage(m_pChoicePage);
      ShowTemplatesPage(CHOICE_ROW_TEMPLATES);
      return;
    case CHOICE_ONLINE:
      // The box runs once the choice page's handler has returned: the page
      // is released by then, and no handler of it waits beneath the box.
      RetirePage(m_pChoicePage);
      PostMessage(WM_WIZARD_RUN_DOWNLOAD, 0, 0);
      return;
    default:
      SendMessage(WM_CLOSE, 0, 0);
      return;
  }
}

void CNewWizardDlg::ShowTemplatesPage(UINT rowOnFailure) {
  m_chosenChannels.RemoveAll();
  auto* page = new CTemplatesDisplayDlg(u"", this);
  if (!page->Create(IDD_TEMPLATES_PAGE, this)) {
    delete page;
    WriteLog(u"CNewWizardDlg: the templates page could not be created.");
    if (!ShowChoicePage(rowOnFailure)) EndDialog(IDCANCEL);
    return;
  }
  page->SetChannelDocument(m_pList);
  m_pTemplatesPage = page;
  PlacePage(page);
}

void CNewWizardDlg::RunOnlineDownload() {
  BOOL fetched = FALSE;
  {
    CDownloadDlg box(this);
    box.DoModal();
    fetched = !box.m_bCancelled && !box.m_bFailed;
  }
  // The program may have ended while the box showed.
  if (!m_hWnd || !::IsWindow(m_hWnd)) return;
  if (fetched) ShowTemplatesPage(CHOICE_ROW_ONLINE);
  else if (!ShowChoicePage(CHOICE_ROW_ONLINE)) EndDialog(IDCANCEL);
}

void CNewWizardDlg::GoBack(CDialog* leaving, UINT selectId) {
  RetirePage(leaving);
  if (!ShowChoicePage(selectId)) EndDialog(IDCANCEL);
}

void CNewWizardDlg::EndWith(WPARAM, LPARAM lParam, CDialog* page) { EndDialog(page && lParam ? IDOK : IDCANCEL); }

LRESULT CNewWizardDlg::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_WIZARD_CHOICE:
      if (!wParam) EndDialog(IDCANCEL);
      else RunChoice();
      return 1;
    case WM_WIZARD_OPML_BACK:
      if (wParam) {
        EndWith(wParam, lParam, m_pOpmlPage);
      } else if (m_pOpmlPage) {
        auto* state = dynamic_cast<CWizardPageState*>(m_pOpmlPage);
        GoBack(m_pOpmlPage, state && state->IsOnFirstScreen() ? CHOICE_ROW_OPML_FILE : CHOICE_ROW_CATALOG);
      }
      return 1;
    case WM_WIZARD_TEMPLATES_BACK:
      if (wParam) EndWith(wParam, lParam, m_pTemplatesPage);
      else if (m_pTemplatesPage) GoBack(m_pTemplatesPage, CHOICE_ROW_TEMPLATES);
      return 1;
    case WM_WIZARD_INPUT_BACK:
      if (wParam) {
        EndWith(wParam, lParam, m_pUrlPage);
      } else if (m_pUrlPage) {
        const int mode = m_pUrlPage->GetMode();
        const UINT row = mode == 1 ? CHOICE_ROW_URL : mode == 4 ? CHOICE_ROW_SYNC : mode == 5 ? CHOICE_ROW_SEARCH : 0;
        GoBack(m_pUrlPage, row);
      }
      return 1;
    case WM_WIZARD_CHANNELS_ADDED:
      m_bChannelsAdded = TRUE;
      return 1;
    case WM_WIZARD_RELEASE_PAGES:
      ReleaseLeavingPages();
      return 1;
    case WM_WIZARD_RUN_DOWNLOAD:
      RunOnlineDownload();
      return 1;
    case WM_CLOSE:
      EndDialog(IDCANCEL);
      return 1;
    default:
      break;
  }
  return CDialog::DefWindowProc(message, wParam, lParam);
}

void CNewWizardDlg::OnOK() {
  const BOOL touch = GetTouchFlag();
  BOOL allowed = TRUE;
  if (!touch)
    for (CDialog* page : {m_pOpmlPage, m_pTemplatesPage, static_cast<CDialog*>(m_pUrlPage)})
      if (page && !IsFinishAllowedByPage(page)) allowed = FALSE;
  for (HWND page : PageWindows())
    if (::IsWindow(page)) ::SendMessageW(page, WM_COMMAND, IDOK, 0);
  if (touch || allowed) EndDialog(IDOK);
}

void CNewWizardDlg::OnCancel() {
  // Each page decides: the choice page cancels the wizard, the others go
  // back.
  for (HWND page : PageWindows())
    if (::IsWindow(page)) ::SendMessageW(page, WM_COMMAND, IDCANCEL, 0);
}

void CNewWizardDlg::OnFinish() {
  const BOOL touch = GetTouchFlag();
  if (!touch && !m_pUrlPage) {
    EndDialog(IDOK);
    return;
  }
  const BOOL allowed = touch || m_pUrlPage->IsFinishAllowed();
  if (m_pUrlPage && m_pUrlPage->m_hWnd) ::SendMessageW(m_pUrlPage->m_hWnd, WM_COMMAND, IDOK, 0);
  if (allowed) EndDialog(IDOK);
}

void CNewWizardDlg::OnBack() { SendMessage(WM_WIZARD_INPUT_BACK, 0, 0); }

BOOL CNewWizardDlg::PreTranslateMessage(MSG* msg) {
  if (msg && msg->message == WM_KEYDOWN && IsWithin(m_hWnd, msg->hwnd) &&
      (msg->wParam == VK_RETURN || msg->wParam == VK_UP || msg->wParam == VK_DOWN)) {
    for (HWND page : PageWindows())
      if (::IsWindow(page)) ::SendMessageW(page, WM_KEYDOWN, msg->wParam, msg->lParam);
    return TRUE;
  }
  return CDialog::PreTranslateMessage(msg);
}

LRESULT CNewWizardDlg::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  if (m_pBar && (message == WM_LBUTTONDOWN || message == WM_MOUSEMOVE || message == WM_LBUTTONUP)) {
    const int x = short(LOWORD(lParam)), y = short(HIWORD(lParam));
    CRect client;
    GetClientRect(&client);
    const bool onBar = y >= client.bottom - Dy(40);
    if (message == WM_LBUTTONDOWN) {
      if (!onBar) return 1;
      m_barPress.Down(*m_pBar, x, y);
      HDC hdc = ::GetDC(m_hWnd);
      DrawBar(hdc);
      ::ReleaseDC(m_hWnd, hdc);
      return 1;
    }
    if (message == WM_MOUSEMOVE) {
      if (!onBar) return 1;
      if (m_barPress.IsPressed()) {
        if (m_barPress.Move(*m_pBar, x, y, true)) {
          HDC hdc = ::GetDC(m_hWnd);
          DrawBar(hdc);
          ::ReleaseDC(m_hWnd, hdc);
        }
        return 1;
      }
    } else {
      if (m_barPress.IsPressed()) {
        const int command = m_barPress.Up(*m_pBar, x, y);
        HDC hdc = ::GetDC(m_hWnd);
        DrawBar(hdc);
        ::ReleaseDC(m_hWnd, hdc);
        if (command == 1) {
          // Ends at once: no page is asked.
          CDialog::OnOK();
          return 1;
        }
      }
    }
  }
  return CDialog::WindowProc(message, wParam, lParam);
}

void CNewWizardDlg::DrawBar(HDC hdc) {
  if (!m_pBar || !hdc) return;
  m_pBar->DrawAtScreenBottom(m_hWnd, hdc, Dy(40), TRUE);
}

void CNewWizardDlg::DrawTitle(HDC hdc) {
  const BOOL touch = GetTouchFlag();
  CString title = Localized(touch ? u"Welcome to Quillet!" : u"Choose how to add new channel");
  CString subtitle = touch ? Localized(u"How to create the new channel?") : CString();
  DrawWizardBand(m_hWnd, hdc, m_hFont, m_hBoldFont, title, subtitle);
  DrawBar(hdc);
}

void CNewWizardDlg::OnSize(UINT, int, int) {
  Default();
  SetTitleText();
  CRect client;
  GetClientRect(&client);
  for (CDialog* page : {static_cast<CDialog*>(m_pChoicePage), m_pOpmlPage, m_pTemplatesPage,
                        static_cast<CDialog*>(m_pUrlPage)})
    if (page && page->m_hWnd) page->MoveWindow(client.left, client.top, client.Width(), client.Height(), TRUE);
}

BOOL CNewWizardDlg::OnEraseBkgnd(CDC* dc) {
  if (dc) DrawTitle(dc->GetSafeHdc());
  return TRUE;
}

void CNewWizardDlg::OnPaint() {
  const COLORREF highlight = ::GetSysColor(COLOR_HIGHLIGHT);
  if (highlight != m_highlight) {
    if (m_pBar) m_pBar->InvalidateBackground(1);
    m_highlight = highlight;
  }
  PAINTSTRUCT ps;
  HDC hdc = ::BeginPaint(m_hWnd, &ps);
  DrawTitle(hdc);
  ::EndPaint(m_hWnd, &ps);
}

void CNewWizardDlg::OnActivate(UINT state, CWnd* other, BOOL minimized) {
  CDialog::OnActivate(state, other, minimized);
  OnActivateFullScreen(m_hWnd);
}
