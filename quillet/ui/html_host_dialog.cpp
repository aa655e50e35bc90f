// The HTML view host dialog and the plain dialog base.
#include "quillet/ui/html_host_dialog.h"

#include <vector>

#include "framework/thread.h"
#include "htmlview/htmlview.h"
#include "quillet/ui/bitmap_resource.h"
#include "quillet/ui/density.h"
#include "shell/aygshell.h"
#include "shell/shellexec.h"
#include "user/user.h"

#ifndef SM_CXVSCROLL
#define SM_CXVSCROLL 2
#define SM_CYHSCROLL 3
#endif

namespace {

bool g_controlLoaded = false;

int Dx(int n) { return n * GetScreenDpiX() / 96; }
int Dy(int n) { return n * GetScreenDpiY() / 96; }

// The link target with every "h t t p://" written as "http://".
std::u16string JoinSpacedScheme(std::u16string target) {
  const std::u16string spaced = u"h t t p://";
  for (size_t at = target.find(spaced); at != std::u16string::npos; at = target.find(spaced, at))
    target.replace(at, spaced.size(), u"http://");
  return target;
}

bool StartsWithNoCase(const std::u16string& text, const char16_t* prefix) {
  size_t i = 0;
  for (; prefix[i]; ++i) {
    if (i >= text.size()) return false;
    char16_t c = text[i];
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
    if (c != prefix[i]) return false;
  }
  return true;
}

// A web address that may be handed to the browser: http or https with a
// host, and nothing that could end the argument or start another (no
// control characters, blanks or quotes).
bool IsWebAddress(const std::u16string& url) {
  size_t rest;
  if (StartsWithNoCase(url, u"http://")) rest = 7;
  else if (StartsWithNoCase(url, u"https://")) rest = 8;
  else return false;
  if (url.size() <= rest || url[rest] == u'/') return false;
  for (char16_t c : url)
    if (c <= 0x20 || c == 0x7F || c == u'"') return false;
  return true;
}

// A hidden view paints nothing it still owed, and the shown one paints
// itself whole, over whatever the hidden one left on the screen.
void HideViewPaint(HWND view) {
  ::ValidateRect(view, nullptr);
  if (HWND inner = ::GetWindow(view, GW_CHILD)) ::ValidateRect(inner, nullptr);
}

void ShowViewPaint(HWND view) {
  ::InvalidateRect(view, nullptr, TRUE);
  if (HWND inner = ::GetWindow(view, GW_CHILD)) ::InvalidateRect(inner, nullptr, TRUE);
}

}  // namespace

// ---------------------------------------------------------------- host dialog

CHtmlHostDialog::CHtmlHostDialog(UINT templateId, CWnd* parent, BOOL fullScreen)
    : CDialog(templateId, parent), m_bFullScreen(fullScreen) {
  InitScreenDpi(0);
}

CHtmlHostDialog::~CHtmlHostDialog() {
  for (HWND& view : m_hView) {
    if (view && IsWindow(view)) ::DestroyWindow(view);
    view = nullptr;
  }
  CHtmlHostDialog::RemoveAllImages();
}

int CHtmlHostDialog::MainWindowTop() const {
  CWnd* main = AfxGetMainWnd();
  if (!main || !main->GetSafeHwnd()) return 0;
  RECT r;
  ::GetWindowRect(main->GetSafeHwnd(), &r);
  return r.top;
}

void CHtmlHostDialog::PlaceView(HWND view, BOOL fullScreen) {
  // The view's frame and scroll bar lie outside the visible area. A touch
  // screen sizes the view to its whole content (LayoutHtmlView), so it never
  // shows a scroll bar and takes the width it will be laid out at: a page is
  // laid out once.
  const int width =
      GetSystemMetrics(SM_CXSCREEN) + (GetTouchFlag() ? 0 : GetSystemMetrics(SM_CXVSCROLL)) + Dx(2);
  int height = GetSystemMetrics(SM_CYSCREEN) + GetSystemMetrics(SM_CYHSCROLL) + Dy(2);
  if (!fullScreen) height -= Dy(40) + MainWindowTop();
  ::MoveWindow(view, -Dx(1), -Dy(1), width, height, FALSE);
}

HWND CHtmlHostDialog::CreateView(BOOL visible, BOOL fullScreen) {
  if (!g_controlLoaded) return nullptr;
  RECT client;
  ::GetClientRect(m_hWnd, &client);
  DWORD style = WS_CHILD | WS_CLIPSIBLINGS | (visible ? WS_VISIBLE : 0);
  HWND view = ::CreateWindowExW(0, DISPLAYCLASS, nullptr, style, 0, 0, client.right, client.bottom, m_hWnd, nullptr,
                                AfxGetInstanceHandle(), nullptr);
  if (!view) return nullptr;
  PlaceView(view, fullScreen);
  ::SetWindowLongW(view, GWL_ID, HTML_VIEW_CONTROL_ID);
  // Scripts of a page are never run.
  ::SendMessageW(view, DTM_ENABLESCRIPTING, 0, 0);
  ::SendMessageW(view, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(u""));
  return view;
}

BOOL CHtmlHostDialog::CreateHtmlView() {
  if (!g_controlLoaded) g_controlLoaded = InitHTMLControl(AfxGetInstanceHandle()) != FALSE;
  if (!g_controlLoaded) return FALSE;
  for (int slot = 0; slot < 2; ++slot) {
    if (m_hView[slot] && IsWindow(m_hView[slot])) ::DestroyWindow(m_hView[slot]);
    m_hView[slot] = CreateView(TRUE, FALSE);
  }
  return m_hView[0] && m_hView[1];
}

BOOL CHtmlHostDialog::OnInitDialog() {
  CDialog::OnInitDialog();
  if (m_bFullScreen) {
    // The screen's dialogs fill the screen below the task bar.
    SHINITDLGINFO init = {SHIDIM_FLAGS, m_hWnd, SHIDIF_SIZEDLGFULLSCREEN};
    SHInitDialog(&init);
    CreateHtmlView();
    SHFullScreen(m_hWnd, SHFS_HIDESIPBUTTON);
    if (HWND bar = SHFindMenuBar(m_hWnd)) ::ShowWindow(bar, SW_HIDE);
    HWND parent = ::GetParent(m_hWnd);
    if (parent && CWnd::FromHandlePermanent(parent)) {
      SHFullScreen(parent, SHFS_HIDESIPBUTTON);
      if (HWND bar = SHFindMenuBar(parent)) ::ShowWindow(bar, SW_HIDE);
    }
  }
  return TRUE;
}

void CHtmlHostDialog::SetHtml(LPCWSTR text) {
  HWND view = GetHtmlView();
  if (!view) return;
  ::SendMessageW(view, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(u""));
  std::u16string copy = text ? text : u"";
  ::SendMessageW(view, DTM_ADDTEXTW, 0, reinterpret_cast<LPARAM>(copy.c_str()));
  ::SendMessageW(view, DTM_ENDOFSOURCE, 0, 0);
}

void CHtmlHostDialog::RecreateHtmlView(BOOL fullScreen) {
  m_nCurrent ^= 1;
  if (!m_hView[m_nCurrent]) return;
  if (IsWindow(m_hView[m_nCurrent])) ::DestroyWindow(m_hView[m_nCurrent]);
  m_hView[m_nCurrent] = CreateView(FALSE, fullScreen);
}

BOOL CHtmlHostDialog::LayoutHtmlView(BOOL fit, BOOL fullScreen) {
  HWND view = GetHtmlView();
  if (!view) return FALSE;
  HWND other = m_hView[m_nCurrent ^ 1];
  if (!GetTouchFlag()) {
    ::ShowWindow(view, SW_SHOW);
    ::SetFocus(view);
    RECT client;
    ::GetClientRect(m_hWnd, &client);
    for (HWND v : m_hView)
      if (v) ::MoveWindow(v, 0, 0, client.right, client.bottom, TRUE);
    if (other) {
      ::ShowWindow(other, SW_HIDE);
      HideViewPaint(other);
    }
    ShowViewPaint(view);
    return TRUE;
  }
  ::ShowWindow(view, SW_SHOW);
  BOOL fits = FALSE;
  if (fit) {
    const int screenWidth = GetSystemMetrics(SM_CXSCREEN);
    int content = static_cast<int>(::SendMessageW(view, DTM_LAYOUTHEIGHT, 0, 0)) + Dy(40);
    const int visible = Dy(2) + GetSystemMetrics(SM_CYSCREEN) - (fullScreen ? 0 : Dy(40) + MainWindowTop());
    if (visible > content) content = visible;
    ::MoveWindow(view, -Dx(1), -Dy(1), screenWidth + Dx(2), GetSystemMetrics(SM_CYHSCROLL) + content, TRUE);
    const int layoutWidth = static_cast<int>(::SendMessageW(view, DTM_LAYOUTWIDTH, 0, 0));
    fits = layoutWidth >= screenWidth - Dx(4) && layoutWidth <= screenWidth + Dx(4);
  }
  // The page shown before is hidden and emptied.
  if (other) {
    ::ShowWindow(other, SW_HIDE);
    // Emptied before it is moved, so the old page is not laid out again.
    ::SendMessageW(other, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(u""));
    ::SendMessageW(other, DTM_CLEAR, 0, 0);
    PlaceView(other, FALSE);
    HideViewPaint(other);
  }
  ShowViewPaint(view);
  return fits;
}

BOOL CHtmlHostDialog::ResizeHtmlView() {
  HWND view = GetHtmlView();
  if (!view || !GetTouchFlag()) return FALSE;
  const int screenWidth = GetSystemMetrics(SM_CXSCREEN);
  // A page laid out wider than the view keeps its size; one laid out at the
  // view's width (the screen's, give or take its frame) takes its new height.
  if (::SendMessageW(view, DTM_LAYOUTWIDTH, 0, 0) > screenWidth + Dx(4)) return FALSE;
  int content = static_cast<int>(::SendMessageW(view, DTM_LAYOUTHEIGHT, 0, 0)) + Dy(40);
  const int least = Dy(2) - Dy(40) - MainWindowTop() + GetSystemMetrics(SM_CYSCREEN);
  if (content < least) content = least;
  RECT r;
  ::GetWindowRect(view, &r);
  POINT p = {r.left, r.top};
  ::ScreenToClient(m_hWnd, &p);
  ::MoveWindow(view, p.x, p.y, screenWidth + Dx(2), GetSystemMetrics(SM_CYHSCROLL) + content, TRUE);
  return TRUE;
}

BOOL CHtmlHostDialog::StoreImage(HBITMAP bitmap, LPCWSTR name) {
  if (!bitmap || !name) return FALSE;
  BITMAP info = {};
  if (!GetObjectW(bitmap, sizeof info, &info)) return FALSE;
  ImageRecord record{bitmap, info.bmWidth, info.bmHeight < 0 ? -info.bmHeight : info.bmHeight};
  auto found = m_images.find(name);
  if (found != m_images.end()) {
    // The record replaced is freed, unless it holds the same bitmap.
    if (found->second.bitmap != bitmap) DeleteObject(found->second.bitmap);
    found->second = record;
  } else {
    m_images.emplace(name, record);
  }
  return TRUE;
}

BOOL CHtmlHostDialog::AddResourceBitmap(UINT id, LPCWSTR name) {
  HBITMAP bitmap = LoadBitmapResource(AfxGetInstanceHandle(), id);
  if (!bitmap) return FALSE;
  if (!StoreImage(bitmap, name)) {
    DeleteObject(bitmap);
    return FALSE;
  }
  return TRUE;
}

BOOL CHtmlHostDialog::AddBitmap(HBITMAP bitmap, LPCWSTR name) { return StoreImage(bitmap, name); }

BOOL CHtmlHostDialog::RemoveImage(LPCWSTR name) {
  if (!name) return FALSE;
  auto found = m_images.find(name);
  if (found == m_images.end()) return FALSE;
  DeleteObject(found->second.bitmap);
  m_images.erase(found);
  return TRUE;
}

HBITMAP CHtmlHostDialog::GetImage(LPCWSTR name) const {
  if (!name) return nullptr;
  auto found = m_images.find(name);
  return found == m_images.end() ? nullptr : found->second.bitmap;
}

void CHtmlHostDialog::RemoveAllImages() {
  for (auto& [name, record] : m_images) DeleteObject(record.bitmap);
  m_images.clear();
}

void CHtmlHostDialog::OnLinkClick(LPCWSTR target) {
  std::u16string url = JoinSpacedScheme(target ? target : u"");
  if (!IsWebAddress(url)) return;
  SHELLEXECUTEINFO info = {};
  info.cbSize = sizeof info;
  CWnd* main = AfxGetMainWnd();
  info.hwnd = main ? main->GetSafeHwnd() : nullptr;
  info.lpVerb = u"Open";
  // The address is the one argument handed to the browser.
  info.lpFile = url.c_str();
  info.nShow = SW_SHOWNORMAL;
  if (!ShellExecuteEx(&info)) {
    CString text;
    text.Format(u"The link could not be opened (error %u).", static_cast<unsigned>(GetLastError()));
    ::MessageBoxW(m_hWnd, text, u"Error", MB_OK | MB_ICONERROR);
  }
  if (HWND parent = ::GetParent(m_hWnd)) ::SendMessageW(parent, WM_CLOSE, 0, 0);
}

BOOL CHtmlHostDialog::PreTranslateMessage(MSG* msg) {
  if (msg->message == WM_KEYDOWN) {
    HWND parent = ::GetParent(m_hWnd);
    switch (msg->wParam) {
      case VK_LEFT:
      case '1':
        if (parent) ::SendMessageW(parent, WM_HTMLHOST_NAVKEY, VK_LEFT, 0);
        return TRUE;
      case VK_RIGHT:
      case '3':
        if (parent) ::SendMessageW(parent, WM_HTMLHOST_NAVKEY, VK_RIGHT, 0);
        return TRUE;
      case VK_UP:
      case VK_DOWN:
        if (HWND view = GetHtmlView())
          if (HWND inner = ::GetWindow(view, GW_CHILD)) ::SendMessageW(inner, msg->message, msg->wParam, msg->lParam);
        return TRUE;
    }
  }
  return CDialog::PreTranslateMessage(msg);
}

LRESULT CHtmlHostDialog::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NOTIFY && lParam) {
    auto* header = reinterpret_cast<NMHDR*>(lParam);
    HWND view = GetHtmlView();
    if (view && header->hwndFrom == view) {
      auto* html = reinterpret_cast<NM_HTMLVIEW*>(lParam);
      if (header->code == NM_HOTSPOT) {
        OnLinkClick(html->szTarget);
      } else if (header->code == NM_INLINE_IMAGE && html->szTarget) {
        auto found = m_images.find(html->szTarget);
        if (found != m_images.end()) {
          INLINEIMAGEINFO image = {html->dwCookie, found->second.height, found->second.width, found->second.bitmap,
                                   FALSE};
          ::SendMessageW(view, DTM_SETIMAGE, 0, reinterpret_cast<LPARAM>(&image));
          return 1;
        }
      }
    }
  } else if (message == WM_ERASEBKGND) {
    // The shown view covers the dialog: erasing the dialog would only wipe
    // the page it shows.
    HWND view = GetHtmlView();
    if (view && ::IsWindowVisible(view)) return 1;
  } else if (message == WM_BRING_TO_FRONT) {
    ::SetForegroundWindow(m_hWnd);
  }
  return CDialog::WindowProc(message, wParam, lParam);
}

// ---------------------------------------------------------------- plain view

CHtmlViewDlg::CHtmlViewDlg(CWnd* parent) : CHtmlHostDialog(IDD_HTML_VIEW, parent, TRUE) { RegisterQuilletResources(); }

BOOL CHtmlViewDlg::OnInitDialog() { return CHtmlHostDialog::OnInitDialog(); }

// ---------------------------------------------------------------- plain dialog

CPlainDialog::CPlainDialog(UINT templateId, CWnd* parent) : CDialog(templateId, parent) {}

LRESULT CPlainDialog::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  // The shell is kept from resizing the dialog on activation and input-panel
  // changes.
  if (message == WM_ACTIVATE) return ::DefWindowProcW(m_hWnd, message, wParam, lParam);
  if (message == WM_SETTINGCHANGE) return Default();
  return CDialog::WindowProc(message, wParam, lParam);
}
