#include "quillet/new_channel/new_input_url_dlg.h"

#include <set>
#include <vector>

#include "common/localize.h"
#include "common/log.h"
#include "common/settings.h"
#include "net/urlfuncs.h"
#include "quillet/feeds/opml_xml.h"
#include "quillet/feeds/rss_xml.h"
#include "quillet/res/resources.h"
#include "quillet/new_channel/download_dlg.h"
#include "quillet/new_channel/editor_dlg.h"
#include "quillet/screens/screen_messages.h"
#include "quillet/screens/screen_util.h"
#include "quillet/ui/channel_list_view.h"
#include "quillet/ui/density.h"
#include "shell/aygshell.h"

BEGIN_MESSAGE_MAP(CNewInputUrlDlg, CDialog)
ON_WM_PAINT()
ON_WM_ERASEBKGND()
ON_WM_SIZE()
ON_WM_ACTIVATE()
ON_WM_TIMER()
END_MESSAGE_MAP()

namespace {

// The page's timers: the in-place edit's focus after the start, and the
// deferred row action.
constexpr UINT_PTR kTimerFocus = 1;
constexpr UINT_PTR kTimerRow = 2;

// An image id by the face: the touch edition at exactly 192 dpi, the touch
// edition otherwise, key devices.
UINT PickImage(UINT high, UINT low, UINT key) {
  if (!GetTouchFlag()) return key;
  return GetScreenDpiY() == 192 ? high : low;
}

}  // namespace

BOOL CNewInputUrlDlg::IsFeedAddress(const CString& url) {
  // Read as the downloads read it: what they would refuse, or split in
  // another place, is no feed address.
  InternetAddress parts;
  if (!ParseInternetAddress(url.str(), parts)) return FALSE;
  return parts.nScheme == INTERNET_SCHEME_HTTP || parts.nScheme == INTERNET_SCHEME_HTTPS;
}

LPCWSTR CNewInputUrlDlg::UrlProblem(const CString& url) {
  if (IsFeedAddress(url)) return nullptr;
  CString lower = url;
  lower.MakeLower();
  if (lower.Find(u"http://") == 0 || lower.Find(u"https://") == 0) return u"The channel URL names no server.";
  return u"The channel URL must begin with http:// or https://.";
}

CString CNewInputUrlDlg::TypedUrl(const CString& text) {
  CString url = text;
  url.Trim();
  CString lower = url;
  lower.MakeLower();
  if (lower.Find(u"http://") != 0) return url;
  // A scheme: a letter, then letters, digits, "+", "-" or ".", then "://".
  int at = 7, end = at;
  auto schemeChar = [](WCHAR c, bool first) {
    if (c >= u'a' && c <= u'z') return true;
    return !first && ((c >= u'0' && c <= u'9') || c == u'+' || c == u'-' || c == u'.');
  };
  while (end < lower.GetLength() && schemeChar(lower[end], end == at)) ++end;
  if (end > at && lower.Mid(end, 3) == CString(u"://")) return url.Mid(at);
  return url;
}

CNewInputUrlDlg::CNewInputUrlDlg(COpmlXML* list, int mode, CWnd* parent)
    : CDialog(IDD_INPUT_URL, parent), m_nMode(mode), m_pOpml(list) {
  InitScreenDpi(0);
  RegisterQuilletResources();
  m_hFont = CreateWizardFont(FALSE);
  m_hBoldFont = CreateWizardFont(TRUE);
  m_highlight = ::GetSysColor(COLOR_HIGHLIGHT);
  if (m_nMode == 4) LoadAccount();
}

CNewInputUrlDlg::~CNewInputUrlDlg() {
  if (m_hWnd && ::IsWindow(m_hWnd)) DestroyWindow();
  delete m_pList;
  m_pList = nullptr;
  delete m_pBar;
  m_pBar = nullptr;
  if (m_hFont) ::DeleteObject(m_hFont);
  if (m_hBoldFont) ::DeleteObject(m_hBoldFont);
}

void CNewInputUrlDlg::DoDataExchange(CDataExchange* dx) {
  CDialog::DoDataExchange(dx);
  DDX_Control(dx, 1060, m_edit);
}

// ---------------------------------------------------------------- geometry

int CNewInputUrlDlg::ListTop() const { return GetTouchFlag() ? ScaleY(52) : 29; }

int CNewInputUrlDlg::ListHeight() const {
  CRect client, window;
  ::GetClientRect(m_hWnd, &client);
  ::GetWindowRect(m_hWnd, &window);
  int height = GetTouchFlag() ? ::GetSystemMetrics(SM_CYSCREEN) - ScaleY(40) - window.top - ListTop()
                              : client.bottom - ListTop();
  return height < 0 ? 0 : height;
}

int CNewInputUrlDlg::BarTop() const {
  CRect client;
  ::GetClientRect(m_hWnd, &client);
  return client.bottom - ScaleY(40);
}

UINT CNewInputUrlDlg::RowImage(int row) const {
  static const UINT kImages[4][3] = {{IDR_PNG_INPUT_URL_192, IDR_PNG_INPUT_URL, IDR_PNG_INPUT_URL_KEY},
                                     {IDR_PNG_INPUT_TITLE_192, IDR_PNG_INPUT_TITLE, IDR_PNG_INPUT_TITLE_KEY},
                                     {IDR_PNG_INPUT_FETCH_192, IDR_PNG_INPUT_FETCH, IDR_PNG_INPUT_FETCH_KEY},
                                     {IDR_PNG_INPUT_SAVE_192, IDR_PNG_INPUT_SAVE, IDR_PNG_INPUT_SAVE_KEY}};
  return PickImage(kImages[row][0], kImages[row][1], kImages[row][2]);
}

// ---------------------------------------------------------------- start

BOOL CNewInputUrlDlg::OnInitDialog() {
  CDialog::OnInitDialog();
  InitScreenDpi(0);
  HWND wizard = ::GetParent(m_hWnd);
  if (!GetTouchFlag()) {
    // The soft keys are the wizard's: a bar made earlier for it by another
    // page gives way to this page's.
    if (HWND old = SHFindMenuBar(wizard)) ::DestroyWindow(old);
    HWND bar = wizard ? CreateMenuBar(wizard, IDR_WIZARD_MENU) : nullptr;
    if (!bar) return -1;
    SetSoftKeyText(bar, IDOK, m_nMode == 5 ? u"OK" : u"Add Channel");
    // Cancel steps back through the wizard.
    CString second = Localized(u"Cancel");
    TBBUTTONINFOW button{};
    button.cbSize = sizeof button;
    button.dwMask = TBIF_TEXT | TBIF_COMMAND;
    button.pszText = const_cast<LPWSTR>(static_cast<LPCWSTR>(second));
    button.idCommand = ID_WIZARD_BACK;
    ::SendMessageW(bar, TB_SETBUTTONINFO, IDCANCEL, reinterpret_cast<LPARAM>(&button));
    if (m_nMode == 1) ::SendMessageW(bar, TB_ENABLEBUTTON, IDOK, FALSE);
    if (m_nMode == 4) {
      button.dwMask = TBIF_COMMAND;
      button.idCommand = ID_WIZARD_FINISH;
      ::SendMessageW(bar, TB_SETBUTTONINFO, IDOK, reinterpret_cast<LPARAM>(&button));
    }
    DrawMenuBar(bar);
  } else {
    SHFullScreen(m_hWnd, SHFS_HIDESIPBUTTON);
    if (wizard) SHFullScreen(wizard, SHFS_HIDESIPBUTTON);
    if (HWND bar = SHFindMenuBar(m_hWnd)) ::ShowWindow(bar, SW_HIDE);
    if (HWND bar = wizard ? SHFindMenuBar(wizard) : nullptr) ::ShowWindow(bar, SW_HIDE);
  }
  LayoutRows(TRUE);
  if (GetTouchFlag()) {
    const BOOL high = GetScreenDpiY() == 192;
    m_pBar = new CImageButtonBar();
    m_pBar->LoadPressedImage(nullptr, high ? IDR_PNG_BAR_PRESSED_192 : IDR_PNG_BAR_PRESSED);
    m_pBar->SetButton(0, nullptr, high ? IDR_PNG_OK_192 : IDR_PNG_OK, 1);
    m_pBar->SetButton(4, nullptr, high ? IDR_PNG_CANCEL_192 : IDR_PNG_CANCEL, 2);
    m_edit.ShowWindow(SW_HIDE);
  } else {
    StartInlineEdit();
    SetTimer(kTimerFocus, 100, nullptr);
  }
  return TRUE;
}

// ---------------------------------------------------------------- rows

void CNewInputUrlDlg::LayoutRows(BOOL autoSelect) {
  if (!m_hWnd) return;
  HDC hdc = ::GetDC(m_hWnd);
  DrawBand(hdc);
  ::ReleaseDC(m_hWnd, hdc);
  delete m_pList;
  CRect client;
  GetClientRect(&client);
  m_pList = new CTouchMenuList(FALSE, autoSelect);
  m_pList->Create(reinterpret_cast<DWORD_PTR>(this), m_hWnd, 0, ListTop(), client.Width(), ListHeight(),
                  &CNewInputUrlDlg::OnRowClick);
  if (m_nMode != 1) {
    if (m_nMode == 5) AddSearchRows();
    else if (m_nMode == 4) AddAccountRows();
    m_pList->RefreshItems(TRUE);
    return;
  }
  const BOOL touch = GetTouchFlag();
  CString first = m_strFirst, second = m_strSecond;
  if (first.IsEmpty()) first = Localized(touch ? u"[ Tap for editing url... ]" : u"[ url ]");
  if (second.IsEmpty()) second = Localized(touch ? u"[ Tap for editing title... ]" : u"[ title ]");
  const BOOL both = !m_strFirst.IsEmpty() && !m_strSecond.IsEmpty();
  int rows = m_strFirst.IsEmpty() && m_strSecond.IsEmpty() ? 2 : both ? 4 : 3;
  if (!touch && both) {
    // Key devices add with the soft key instead of a "Save" row.
    rows = 3;
    if (HWND bar = SHFindMenuBar(::GetParent(m_hWnd))) ::SendMessageW(bar, TB_ENABLEBUTTON, IDOK, TRUE);
  }
  const int selected = touch ? (GetScreenDpiY() == 192 ? IDR_PNG_OK_192 : IDR_PNG_OK) : IDR_PNG_INPUT_SELECTED_KEY;
  const LPCWSTR texts[4] = {first, second, nullptr, nullptr};
  const CString fetch = Localized(u"Download Channel Title"), save = Localized(u"Save");
  const UINT ids[4] = {INPUT_ROW_FIRST, INPUT_ROW_SECOND, INPUT_ROW_THIRD, INPUT_ROW_SAVE};
  for (int i = 0; i < rows; ++i) {
    LPCWSTR text = i < 2 ? texts[i] : i == 2 ? static_cast<LPCWSTR>(fetch) : static_cast<LPCWSTR>(save);
    m_pList->AddItem(text, nullptr, static_cast<int>(RowImage(i)), selected, ids[i]);
  }
  m_pList->RefreshItems(TRUE);
}

void CNewInputUrlDlg::OnRowClick(HWND window, DWORD_PTR, UINT id, CTouchListItem*) {
  auto* self = dynamic_cast<CNewInputUrlDlg*>(CWnd::FromHandlePermanent(window));
  if (!self) return;
  self->m_nPendingRow = id;
  self->SetTimer(kTimerRow, 5, nullptr);
}

void CNewInputUrlDlg::RunRowAction(HWND window, DWORD_PTR, UINT id) {
  auto* self = dynamic_cast<CNewInputUrlDlg*>(CWnd::FromHandlePermanent(window));
  if (!self) return;
  const int mode = self->m_nMode;
  switch (id) {
    case INPUT_ROW_FIRST:
    case INPUT_ROW_SECOND:
      if (GetTouchFlag()) self->EditField(id);
      break;
    case INPUT_ROW_SAVE:
      if (mode == 1) self->AddOneChannel();
      else if (mode == 4) self->ToggleSync();
      break;
    case INPUT_ROW_THIRD:
      if (mode == 1) self->FetchTitle();
      else if (mode == 5) self->Search();
      else if (mode == 4 && GetTouchFlag()) self->EditField(id);
      break;
    case INPUT_ROW_REDEFINE:
      if (mode == 5) self->RedefineSearch();
      break;
    default:
      if (mode == 5 && id >= INPUT_ROW_RESULT) self->ToggleResult(id);
      break;
  }
}

void CNewInputUrlDlg::EditField(UINT id) {
  CString& field = id == INPUT_ROW_FIRST ? m_strFirst : id == INPUT_ROW_SECOND ? m_strSecond : m_strThird;
  // An empty URL is edited from "http://"; the field itself changes only
  // when the user saves.
  CString start = field;
  if (m_nMode == 1 && id == INPUT_ROW_FIRST && start.IsEmpty()) start = u"http://";
  // The password is never shown in clear.
  CEditorDlg editor(m_nMode == 4 && id == INPUT_ROW_SECOND, start, nullptr);
  if (editor.DoModal() == IDOK && ::IsWindow(m_hWnd)) {
    CString text = editor.GetText();
    text.Trim();
    if (m_nMode == 1 && id == INPUT_ROW_FIRST) text = TypedUrl(text);
    field = text;
    WriteAccountValue(id);
    LayoutRows(TRUE);
  }
  if (::IsWindow(m_hWnd)) SetFocus();
}

void CNewInputUrlDlg::AddOneChannel() {
  if (m_pOpml && !m_strFirst.IsEmpty() && !m_strSecond.IsEmpty()) {
    if (LPCWSTR problem = UrlProblem(m_strFirst)) {
      MessageBox(Localized(problem), Localized(u"Error"), MB_OK | MB_ICONHAND);
      return;
    }
    // A feed the list holds already is left as it is: the page says so and
    // keeps its fields.
    if (m_pOpml->HasChannel(m_strFirst)) {
      TellAlreadySubscribed(m_hWnd, {m_strSecond});
      return;
    }
    if (m_pOpml->AddChannel(Localized(u"Others"), m_strSecond, m_strFirst) == 0) {
      MessageBox(Localized(u"Insert Channel failed. Please check whether the channel exists or not."),
                 Localized(u"Error"), MB_OK | MB_ICONHAND);
      return;
    }
  }
  HWND wizard = ::GetParent(m_hWnd);
  SendMessage(WM_CLOSE);
  ::SendMessageW(wizard, WM_WIZARD_CHANNELS_ADDED, 0, 0);
  ::SendMessageW(wizard, WM_CLOSE, 0, 0);
}

void CNewInputUrlDlg::FetchTitle() {
  // An address that cannot be fetched for what it is is not sent off: the
  // person learns what is wrong with it rather than a network failure.
  if (LPCWSTR problem = UrlProblem(m_strFirst)) {
    MessageBox(Localized(problem), Localized(u"Error"), MB_OK | MB_ICONHAND);
    return;
  }
  CString path;
  BOOL fetched = FetchToValidateFile(this, m_strFirst, path);
  if (fetched && ::IsWindow(m_hWnd)) {
    // Whether the file parsed is not asked: a page that is no feed gives
    // an empty title.
    CRssXML feed(nullptr, nullptr, this, 1);
    feed.Load(path);
    CString title;
    feed.GetTitle(title);
    title.Trim();
    m_strSecond = title;
    LayoutRows(TRUE);
    SetFocus();
    if (m_pList) m_pList->SelectItemById(INPUT_ROW_SECOND, TRUE);
    if (!GetTouchFlag()) StartInlineEdit();
  }
  ::DeleteFileW(path);
}

// ---------------------------------------------------------------- in-place edit

void CNewInputUrlDlg::PlaceInlineEdit(CTouchListItem* row) {
  CRect client;
  GetClientRect(&client);
  const int top = ListTop() + m_pList->Scroller().GetOffset() + row->m_nTop;
  const int left = 24 + 8 * GetScreenDpiX() / 96;
  m_edit.MoveWindow(left, top + 3 * GetScreenDpiY() / 96, client.right - 3 * GetScreenDpiX() / 96 - left,
                    row->m_nBottom - row->m_nTop - 6 * GetScreenDpiY() / 96, TRUE);
}

void CNewInputUrlDlg::StartInlineEdit() {
  if (!m_edit.m_hWnd) return;
  CTouchListItem* row = m_pList ? m_pList->GetSelected() : nullptr;
  if (!row) {
    m_edit.ShowWindow(SW_HIDE);
    return;
  }
  CString text;
  switch (row->m_nCommandId) {
    case INPUT_ROW_FIRST:
      text = m_strFirst;
      if (m_nMode == 1 && text.IsEmpty()) text = u"http://";
      break;
    case INPUT_ROW_SECOND:
      text = m_strSecond;
      break;
    case INPUT_ROW_THIRD:
      if (m_nMode == 4) {
        text = m_strThird;
        break;
      }
      m_edit.ShowWindow(SW_HIDE);
      return;
    default:
      m_edit.ShowWindow(SW_HIDE);
      return;
  }
  PlaceInlineEdit(row);
  m_edit.SendMessage(EM_SETPASSWORDCHAR, 0);
  if (m_nMode == 4 && row->m_nCommandId == INPUT_ROW_SECOND) m_edit.SendMessage(EM_SETPASSWORDCHAR, u'*');
  m_edit.SetWindowText(text);
  m_edit.SetSel(65535, 65535);
  m_edit.ShowWindow(SW_SHOW);
  m_edit.SetFocus();
}

void CNewInputUrlDlg::StoreInlineEdit() {
  CTouchListItem* row = m_pList ? m_pList->GetSelected() : nullptr;
  if (!row || !m_edit.m_hWnd || !m_edit.IsWindowVisible()) return;
  CString text;
  m_edit.GetWindowText(text);
  text.Trim();
  const UINT id = row->m_nCommandId;
  if (id == INPUT_ROW_FIRST) m_strFirst = m_nMode == 1 ? TypedUrl(text) : text;
  else if (id == INPUT_ROW_SECOND) m_strSecond = text;
  else if (id == INPUT_ROW_THIRD && m_nMode == 4) m_strThird = text;
  else return;
  WriteAccountValue(id);
}

// ---------------------------------------------------------------- keys and commands

BOOL CNewInputUrlDlg::HandleKey(WPARAM key) {
  if (!m_pList || (key != VK_RETURN && key != VK_UP && key != VK_DOWN)) return FALSE;
  if (key == VK_RETURN) {
    m_pList->ClickSelected();
    return TRUE;
  }
  const BOOL touch = GetTouchFlag();
  if (!touch) {
    CTouchListItem* row = m_pList->GetSelected();
    const UINT id = row ? row->m_nCommandId : 0;
    StoreInlineEdit();
    LayoutRows(FALSE);
    if (id) m_pList->SelectItemById(id, FALSE);
  }
  if (key == VK_UP) m_pList->SelectPrevious();
  else m_pList->SelectNext();
  if (!touch) StartInlineEdit();
  return TRUE;
}

BOOL CNewInputUrlDlg::PreTranslateMessage(MSG* msg) {
  if (msg && msg->message == WM_KEYDOWN && HandleKey(msg->wParam)) return TRUE;
  return CDialog::PreTranslateMessage(msg);
}

void CNewInputUrlDlg::OnOK() {
  if (!GetTouchFlag()) {
    const BOOL editing = m_edit.m_hWnd && m_edit.IsWindowVisible();
    if (m_nMode == 5 && !HasResults()) {
      // The soft key reads "Search": the typed keywords are searched for.
      if (editing) {
        CString text;
        m_edit.GetWindowText(text);
        text.Trim();
        m_strFirst = text;
        LayoutRows(FALSE);
        m_edit.ShowWindow(SW_HIDE);
      }
      Search();
      return;
    }
    if (m_nMode == 1 || m_nMode == 4) {
      if (editing) {
        StoreInlineEdit();
        m_edit.ShowWindow(SW_HIDE);
      }
      if (m_nMode == 1) AddOneChannel();
      return;
    }
  }
  AddCheckedResults();
  HWND wizard = ::GetParent(m_hWnd);
  EndDialog(IDOK);
  ::SendMessageW(wizard, WM_CLOSE, 0, 0);
}

void CNewInputUrlDlg::OnCancel() {
  if (!GetTouchFlag() && m_edit.m_hWnd && m_edit.IsWindowVisible()) {
    // The Back key while typing deletes the character before the caret.
    m_edit.SendMessage(WM_KEYDOWN, VK_BACK, 0xE0001);
    m_edit.SendMessage(WM_CHAR, VK_BACK, 0xE0001);
    m_edit.SendMessage(WM_KEYUP, VK_BACK, 0xE0001);
    return;
  }
  ::SendMessageW(::GetParent(m_hWnd), WM_WIZARD_INPUT_BACK, 0, 0);
}

void CNewInputUrlDlg::OnTimer(UINT_PTR id) {
  if (id == kTimerFocus) {
    KillTimer(kTimerFocus);
    if (!GetTouchFlag() && m_edit.m_hWnd) m_edit.SetFocus();
    return;
  }
  if (id == kTimerRow) {
    KillTimer(kTimerRow);
    const UINT row = m_nPendingRow;
    m_nPendingRow = 0;
    if (row) RunRowAction(m_hWnd, reinterpret_cast<DWORD_PTR>(this), row);
    return;
  }
  Default();
}

void CNewInputUrlDlg::OnActivate(UINT state, CWnd* other, BOOL minimized) {
  CDialog::OnActivate(state, other, minimized);
  OnActivateFullScreen(m_hWnd);
}

LRESULT CNewInputUrlDlg::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_KEYDOWN:
      // Keys the wizard hands on to its page.
      if (HandleKey(wParam)) return 0;
      break;
    case WM_CLOSE:
      // Closed after adding a channel: the page goes with the wizard; it
      // is no Cancel (that would go back to the choice page).
      ShowWindow(SW_HIDE);
      return 0;
    case WM_TIMER:
      if (m_pList) m_pList->OnTimer(m_hWnd, wParam);
      break;
    case WM_SETFOCUS:
      // On key devices the focus given to the page (the wizard gives it as
      // it shows the page, a closed box gives it back) goes on to the row's
      // edit at once: the keys typed next are the row's text.
      if (!GetTouchFlag() && m_edit.m_hWnd && (m_edit.GetStyle() & WS_VISIBLE)) {
        m_edit.SetFocus();
        return 0;
      }
      break;
    case WM_LBUTTONDOWN:
    case WM_MOUSEMOVE:
    case WM_LBUTTONUP: {
      if (!m_pBar || !m_pList) break;
      const int command = m_barPress.Route(m_hWnd, message, wParam, lParam, *m_pList, *m_pBar, BarTop(), [this] {
        HDC hdc = ::GetDC(m_hWnd);
        DrawBar(hdc);
        ::ReleaseDC(m_hWnd, hdc);
      });
      if (command == 1) OnOK();
      else if (command == 2) OnCancel();
      return 0;
    }
    default:
      break;
  }
  return CDialog::WindowProc(message, wParam, lParam);
}

// ---------------------------------------------------------------- drawing

void CNewInputUrlDlg::DrawBand(HDC hdc) {
  if (!hdc || !m_hWnd) return;
  CRect client;
  GetClientRect(&client);
  const int width = client.Width(), height = ListTop();
  if (width <= 0 || height <= 0) return;
  const BOOL touch = GetTouchFlag();
  const COLORREF highlight = ::GetSysColor(COLOR_HIGHLIGHT);
  const int band = touch ? ScaleY(51) : 28;
  HDC mem = ::CreateCompatibleDC(hdc);
  HBITMAP bitmap = ::CreateCompatibleBitmap(hdc, width, height);
  HGDIOBJ oldBitmap = ::SelectObject(mem, bitmap);
  FillSolid(mem, 0, 0, width, band, BlendColors(RGB(0, 0, 0), highlight, 160));
  FillSolid(mem, 0, band, width, height, RGB(255, 255, 255));
  ::SetBkMode(mem, TRANSPARENT);
  const UINT format = DT_SINGLELINE | DT_VCENTER | DT_LEFT;
  UpdateFinishState();
  CString subtitle = Localized(m_nMode == 4                   ? u"Google reader account setting"
                               : m_nMode == 5 && HasResults() ? u"Select channels to add"
                               : m_nMode == 5                 ? u"Enter keywords to search"
                                                              : u"Enter channel properties");
  HGDIOBJ oldFont = ::SelectObject(mem, m_hBoldFont);
  if (touch) {
    ::SetTextColor(mem, RGB(255, 255, 255));
    RECT title{ScaleX(8), 0, width - ScaleX(8), ScaleY(32)};
    DrawTextEllipsis(mem, Localized(u"Welcome to Quillet!"), title, format, 0);
    ::SelectObject(mem, m_hFont);
    ::SetTextColor(mem, BlendColors(RGB(255, 255, 255), highlight, 225));
    RECT line{ScaleX(8), ScaleY(22), width - ScaleX(8), ScaleY(51)};
    DrawTextEllipsis(mem, subtitle, line, format, 0);
  } else {
    ::SelectObject(mem, m_hFont);
    ::SetTextColor(mem, RGB(255, 255, 255));
    RECT line{ScaleX(4), 0, width, 28};
    DrawTextEllipsis(mem, subtitle, line, format, 0);
  }
  ::SelectObject(mem, oldFont);
  ::BitBlt(hdc, 0, 0, width, height, mem, 0, 0, SRCCOPY);
  ::SelectObject(mem, oldBitmap);
  ::DeleteObject(bitmap);
  ::DeleteDC(mem);
  if (!m_pList) {
    // No rows yet: the area below the band shows the page's gradient.
    TRIVERTEX v[2];
    SetTriVertex(&v[0], -1, height, BlendColors(RGB(0, 0, 0), highlight, 160));
    SetTriVertex(&v[1], width + 1, client.bottom, BlendColors(RGB(0, 0, 0), highlight, 70));
    GRADIENT_RECT r{0, 1};
    ::GradientFill(hdc, v, 2, &r, 1, GRADIENT_FILL_RECT_V);
  }
}

void CNewInputUrlDlg::DrawBar(HDC hdc) {
  if (!m_pBar) return;
  m_pBar->DrawAtScreenBottom(m_hWnd, hdc, ScaleY(40), TRUE);
}

void CNewInputUrlDlg::DrawRows(HDC hdc) {
  DrawBand(hdc);
  if (m_pList) m_pList->Paint(hdc);
  DrawBar(hdc);
}

void CNewInputUrlDlg::RedrawInlineEdit() {
  // The page paints over its whole client area: the edit on it is drawn
  // again on top.
  if (m_edit.m_hWnd && m_edit.IsWindowVisible()) {
    m_edit.Invalidate();
    ::UpdateWindow(m_edit.m_hWnd);
  }
}

void CNewInputUrlDlg::OnPaint() {
  const COLORREF highlight = ::GetSysColor(COLOR_HIGHLIGHT);
  if (highlight != m_highlight) {
    if (m_pList) {
      CRect client;
      GetClientRect(&client);
      m_pList->Resize(client.Width(), ListHeight());
      m_pList->RefreshItems(FALSE);
    }
    if (m_pBar) m_pBar->InvalidateBackground(1);
    m_highlight = highlight;
  }
  PAINTSTRUCT ps;
  HDC hdc = ::BeginPaint(m_hWnd, &ps);
  DrawRows(hdc);
  ::EndPaint(m_hWnd, &ps);
  RedrawInlineEdit();
}

BOOL CNewInputUrlDlg::OnEraseBkgnd(CDC* dc) {
  if (dc) DrawRows(dc->GetSafeHdc());
  RedrawInlineEdit();
  return TRUE;
}

void CNewInputUrlDlg::OnSize(UINT, int, int) {
  Default();
  if (!m_pList) return;
  CRect client;
  GetClientRect(&client);
  m_pList->Resize(client.Width(), ListHeight());
  if (!GetTouchFlag() && m_edit.m_hWnd && m_edit.IsWindowVisible())
    if (CTouchListItem* row = m_pList->GetSelected()) PlaceInlineEdit(row);
}

// ---------------------------------------------------------------- mode 5

void CNewInputUrlDlg::AddSearchRows() { m_search.AddRows(m_pList, m_strFirst); }

void CNewInputUrlDlg::Search() {
  BOOL replied = FALSE;
  if (!m_search.Search(this, m_strFirst, replied)) return;
  if (replied) LayoutRows(TRUE);
  SetFocus();
  if (!GetTouchFlag() && !HasResults()) StartInlineEdit();
}

void CNewInputUrlDlg::RedefineSearch() {
  m_search.Clear();
  LayoutRows(TRUE);
  if (!GetTouchFlag()) StartInlineEdit();
}

void CNewInputUrlDlg::ToggleResult(UINT id) { m_search.Toggle(m_pList, id); }

void CNewInputUrlDlg::AddCheckedResults() {
  const CStringList& checkedUrls = m_search.GetCheckedUrls();
  if (m_nMode != 5 || checkedUrls.IsEmpty()) return;
  WriteLog(u"Add Channels:");
  CString category = m_strFirst;
  if (category.IsEmpty()) category = Localized(u"Others");
  std::vector<CString> subscribed;
  // The feeds added here, by comparison key: a reply naming one feed twice,
  // spelt otherwise, adds it once and does not call it subscribed before.
  std::set<std::u16string> added;
  if (m_pOpml) {
    for (POSITION p = checkedUrls.GetHeadPosition(); p;) {
      const CString& url = checkedUrls.GetNext(p);
      // Only web addresses become channels: a reply naming a local file
      // or another scheme adds nothing.
      if (!IsFeedAddress(url)) continue;
      const std::u16string same = InternetAddressKey(url.str());
      // A feed the list holds already stays as it is.
      if (m_pOpml->HasChannel(url)) {
        if (!added.count(same)) subscribed.push_back(GetResultTitle(url));
        continue;
      }
      // A refused insertion (a channel of that title already in the
      // category) is skipped.
      if (m_pOpml->AddChannel(category, GetResultTitle(url), url)) added.insert(same);
    }
  }
  TellAlreadySubscribed(m_hWnd, subscribed);
  ::SendMessageW(::GetParent(m_hWnd), WM_WIZARD_CHANNELS_ADDED, 0, 0);
}

void CNewInputUrlDlg::UpdateFinishState() {
  if (m_nMode == 4) {
    m_bFinishAllowed = TRUE;
    return;
  }
  if (m_nMode != 5) return;
  m_bFinishAllowed = HasResults();
  if (GetTouchFlag()) return;
  const CString title = Localized(HasResults() ? u"Add Channels" : u"Search");
  if (title == m_strSoftKey) return;
  if (HWND bar = SHFindMenuBar(::GetParent(m_hWnd))) {
    SetSoftKeyText(bar, IDOK, HasResults() ? u"Add Channels" : u"Search");
    ::DrawMenuBar(bar);
    m_strSoftKey = title;
  }
}
