// CCmdTarget, CCmdUI, CWnd and the drawing wrappers (see framework/wnd.h).
#include "framework/wnd.h"

#include <algorithm>
#include <memory>
#include <mutex>
#include <set>
#include <unordered_map>

#include "framework/controls.h"
#include "framework/frame.h"
#include "framework/thread.h"

namespace {

// The calling thread's share of the framework: its handle maps, the window
// being created and the message being handled.
thread_local bool t_stateGone = false;  // plain data: readable while the thread's objects go

struct ThreadState {
  ~ThreadState() { t_stateGone = true; }
  std::unordered_map<HWND, CWnd*> permanent;
  std::unordered_map<HWND, std::unique_ptr<CWnd>> temporary;
  std::unordered_map<HDC, std::unique_ptr<CDC>> temporaryDCs;
  CWnd* wndInit = nullptr;
  MSG current{};
};
thread_local ThreadState t_state;

std::mutex g_classLock;
std::set<std::u16string> g_registeredClasses;  // names given to AfxRegisterClass, lower case
std::set<std::u16string> g_classNames;         // names handed out by AfxRegisterWndClass

std::u16string Lower(LPCTSTR s) {
  std::u16string out = s ? s : u"";
  for (auto& c : out) c = towlower16(c);
  return out;
}

void CreateHook(HWND hwnd, CREATESTRUCTW*) {
  CWnd* wnd = t_state.wndInit;
  if (!wnd) return;
  // Attached before the window's first message.
  t_state.wndInit = nullptr;
  wnd->SubclassWindow(hwnd);
}

void InstallHooks() {
  static std::once_flag once;
  std::call_once(once, [] {
    // The standard controls exist for every framework program, as on the device.
    InitCommonControls();
    qk::SetCreateHook(CreateHook);
    qk::SetPreTranslateHook([](MSG* msg) { return AfxPreTranslateMessage(msg) != FALSE; });
  });
}

// A map entry for a window message.
const AFX_MSGMAP_ENTRY* FindMessageEntry(const AFX_MSGMAP* map, UINT message) {
  for (; map; map = map->pfnGetBaseMap ? map->pfnGetBaseMap() : nullptr) {
    for (const AFX_MSGMAP_ENTRY* e = map->lpEntries; e->nSig != AfxSig_end; ++e) {
      if (e->nMessage == 0xC000 ? (e->pMessage && *e->pMessage == message)
                                : (e->nMessage == message && e->nCode == 0 && e->nID == 0))
        return e;
    }
  }
  return nullptr;
}

// Records whether a command is enabled, for the disabled-command check.
class TestCmdUI : public CCmdUI {
 public:
  BOOL enabled = TRUE;
  void Enable(BOOL on) override {
    enabled = on;
    m_bEnableChanged = TRUE;
  }
  void SetCheck(int) override {}
  void SetText(LPCTSTR) override {}
};

struct HandlerInfo {
  int unused = 0;
};

}  // namespace

// ---------------------------------------------------------------- geometry

void CRect::NormalizeRect() {
  if (left > right) std::swap(left, right);
  if (top > bottom) std::swap(top, bottom);
}

BOOL CRect::IntersectRect(const RECT* a, const RECT* b) {
  left = std::max(a->left, b->left);
  top = std::max(a->top, b->top);
  right = std::min(a->right, b->right);
  bottom = std::min(a->bottom, b->bottom);
  if (right <= left || bottom <= top) {
    SetRectEmpty();
    return FALSE;
  }
  return TRUE;
}

BOOL CRect::UnionRect(const RECT* a, const RECT* b) {
  CRect ra(a), rb(b);
  if (ra.IsRectEmpty()) {
    *this = rb;
  } else if (rb.IsRectEmpty()) {
    *this = ra;
  } else {
    SetRect(std::min(a->left, b->left), std::min(a->top, b->top), std::max(a->right, b->right),
            std::max(a->bottom, b->bottom));
  }
  return !IsRectEmpty();
}

// ---------------------------------------------------------------- drawing

CDC::~CDC() {
  if (owned_ && m_hDC) ::DeleteDC(m_hDC);
}

CDC* CDC::FromHandle(HDC dc) {
  if (!dc) return nullptr;
  auto& slot = t_state.temporaryDCs[dc];
  if (!slot) {
    slot = std::make_unique<CDC>();
    slot->m_hDC = dc;
  }
  return slot.get();
}

BOOL CDC::Attach(HDC dc) {
  m_hDC = dc;
  owned_ = false;
  return dc != nullptr;
}

HDC CDC::Detach() {
  HDC dc = m_hDC;
  m_hDC = nullptr;
  owned_ = false;
  return dc;
}

BOOL CDC::CreateCompatibleDC(CDC* dc) {
  m_hDC = ::CreateCompatibleDC(dc ? dc->m_hDC : nullptr);
  owned_ = m_hDC != nullptr;
  return owned_;
}

BOOL CDC::DeleteDC() {
  if (!m_hDC) return FALSE;
  BOOL ok = ::DeleteDC(m_hDC);
  m_hDC = nullptr;
  owned_ = false;
  return ok;
}

void CDC::FillSolidRect(const RECT* rect, COLORREF colour) {
  HBRUSH brush = ::CreateSolidBrush(colour);
  ::FillRect(m_hDC, rect, brush);
  ::DeleteObject(brush);
}

void CDC::FillSolidRect(int x, int y, int cx, int cy, COLORREF colour) {
  RECT r{x, y, x + cx, y + cy};
  FillSolidRect(&r, colour);
}

CSize CDC::GetTextExtent(LPCWSTR text, int count) const {
  SIZE size{0, 0};
  ::GetTextExtentPoint32W(m_hDC, text, count, &size);
  return CSize(size);
}

CPaintDC::CPaintDC(CWnd* wnd) : m_hWnd(wnd->m_hWnd) { m_hDC = ::BeginPaint(m_hWnd, &m_ps); }

CPaintDC::~CPaintDC() {
  if (m_hDC) ::EndPaint(m_hWnd, &m_ps);
  m_hDC = nullptr;
}

CClientDC::CClientDC(CWnd* wnd) : m_hWnd(wnd ? wnd->m_hWnd : nullptr) { m_hDC = ::GetDC(m_hWnd); }

CClientDC::~CClientDC() {
  if (m_hDC) ::ReleaseDC(m_hWnd, m_hDC);
  m_hDC = nullptr;
}

// ---------------------------------------------------------------- command targets

const AFX_MSGMAP* CCmdTarget::GetThisMessageMap() {
  static const AFX_MSGMAP_ENTRY entries[] = {{0, 0, 0, 0, AfxSig_end, nullptr, nullptr}};
  static const AFX_MSGMAP map = {nullptr, &entries[0]};
  return &map;
}

const AFX_MSGMAP* CCmdTarget::GetMessageMap() const { return GetThisMessageMap(); }

BOOL CCmdTarget::OnCmdMsg(UINT nID, int nCode, void* pExtra, void* pHandlerInfo) {
  UINT message = WM_COMMAND;
  UINT code;
  bool update = nCode == static_cast<int>(CN_UPDATE_COMMAND_UI);
  if (update) {
    code = CN_UPDATE_COMMAND_UI;
  } else {
    message = HIWORD(static_cast<UINT>(nCode));
    if (!message) message = WM_COMMAND;
    code = LOWORD(static_cast<UINT>(nCode));
  }
  for (const AFX_MSGMAP* map = GetMessageMap(); map; map = map->pfnGetBaseMap ? map->pfnGetBaseMap() : nullptr) {
    for (const AFX_MSGMAP_ENTRY* e = map->lpEntries; e->nSig != AfxSig_end; ++e) {
      if (e->nMessage != message || nID < e->nID || nID > e->nLastID) continue;
      bool entryUpdate = e->nCode == CN_UPDATE_COMMAND_UI && e->nSig == AfxSig_cmd_ui;
      if (update != entryUpdate) continue;
      if (!update && static_cast<WORD>(e->nCode) != static_cast<WORD>(code)) continue;
      if (pHandlerInfo) return TRUE;  // only asked whether a handler exists
      switch (e->nSig) {
        case AfxSig_cmd_v:
          (this->*e->pfn)();
          return TRUE;
        case AfxSig_cmd_u:
          (this->*AfxFromPmsg<void (CCmdTarget::*)(UINT)>(e->pfn))(nID);
          return TRUE;
        case AfxSig_cmd_b_u:
          if ((this->*AfxFromPmsg<BOOL (CCmdTarget::*)(UINT)>(e->pfn))(nID)) return TRUE;
          continue;
        case AfxSig_cmd_ui: {
          auto* ui = static_cast<CCmdUI*>(pExtra);
          if (!ui) return FALSE;
          ui->m_bContinueRouting = FALSE;
          (this->*AfxFromPmsg<void (CCmdTarget::*)(CCmdUI*)>(e->pfn))(ui);
          return !ui->m_bContinueRouting;
        }
        case AfxSig_notify: {
          auto* notify = static_cast<AFX_NOTIFY*>(pExtra);
          if (!notify) return FALSE;
          (this->*AfxFromPmsg<void (CCmdTarget::*)(NMHDR*, LRESULT*)>(e->pfn))(notify->pNMHDR, notify->pResult);
          return TRUE;
        }
        case AfxSig_notify_b: {
          auto* notify = static_cast<AFX_NOTIFY*>(pExtra);
          if (!notify) return FALSE;
          if ((this->*AfxFromPmsg<BOOL (CCmdTarget::*)(UINT, NMHDR*, LRESULT*)>(e->pfn))(nID, notify->pNMHDR,
                                                                                             notify->pResult))
            return TRUE;
          continue;
        }
        default:
          continue;
      }
    }
  }
  return FALSE;
}

void CCmdUI::Enable(BOOL on) {
  if (m_pMenu) {
    ::EnableMenuItem(m_pMenu->m_hMenu, m_nIndex, MF_BYPOSITION | (on ? MF_ENABLED : MF_GRAYED));
  } else if (m_pOther) {
    m_pOther->EnableWindow(on);
  }
  m_bEnableChanged = TRUE;
}

void CCmdUI::SetCheck(int check) {
  if (m_pMenu) {
    ::CheckMenuItem(m_pMenu->m_hMenu, m_nIndex, MF_BYPOSITION | (check ? MF_CHECKED : MF_UNCHECKED));
  } else if (m_pOther) {
    m_pOther->SendMessage(BM_SETCHECK, static_cast<WPARAM>(check));
  }
}

void CCmdUI::SetText(LPCTSTR text) {
  if (m_pMenu) {
    UINT state = ::GetMenuState(m_pMenu->m_hMenu, m_nIndex, MF_BYPOSITION);
    ::ModifyMenuW(m_pMenu->m_hMenu, m_nIndex, MF_BYPOSITION | MF_STRING | (state & (MF_GRAYED | MF_CHECKED)), m_nID,
                  text);
  } else if (m_pOther) {
    m_pOther->SetWindowText(text);
  }
}

BOOL CCmdUI::DoUpdate(CCmdTarget* target, BOOL disableIfNoHandler) {
  if (!target) return FALSE;
  m_bEnableChanged = FALSE;
  BOOL handled = target->OnCmdMsg(m_nID, static_cast<int>(CN_UPDATE_COMMAND_UI), this, nullptr);
  if (!handled && disableIfNoHandler && !m_bEnableChanged) {
    HandlerInfo info;
    Enable(target->OnCmdMsg(m_nID, CN_COMMAND, this, &info));
  }
  return handled;
}

// ---------------------------------------------------------------- classes

BOOL AfxRegisterClass(WNDCLASSW* wc) {
  if (!wc || !wc->lpszClassName) return FALSE;
  std::u16string name = u"WCE_" + std::u16string(wc->lpszClassName);
  {
    std::lock_guard<std::mutex> lock(g_classLock);
    g_registeredClasses.insert(Lower(wc->lpszClassName));
  }
  if (::GetClassInfoW(wc->hInstance, name.c_str(), nullptr)) return TRUE;
  WNDCLASSW copy = *wc;
  copy.lpszClassName = name.c_str();
  return ::RegisterClassW(&copy) != 0;
}

LPCTSTR AfxRegisterWndClass(UINT classStyle, HCURSOR cursor, HBRUSH background, HICON icon) {
  CString name;
  name.Format(u"Afx:%x:%p:%p:%p", classStyle, static_cast<void*>(cursor), static_cast<void*>(background),
              static_cast<void*>(icon));
  std::lock_guard<std::mutex> lock(g_classLock);
  auto it = g_classNames.insert(name.str()).first;
  if (!::GetClassInfoW(nullptr, it->c_str(), nullptr)) {
    WNDCLASSW wc{};
    wc.style = classStyle;
    wc.lpfnWndProc = ::DefWindowProcW;
    wc.hCursor = cursor;
    wc.hbrBackground = background;
    wc.hIcon = icon;
    wc.lpszClassName = it->c_str();
    ::RegisterClassW(&wc);
  }
  return it->c_str();
}

CString AfxRegisteredClassName(LPCTSTR name) {
  if (!name || reinterpret_cast<uintptr_t>(name) < 0x10000) return CString(name);
  std::lock_guard<std::mutex> lock(g_classLock);
  if (g_registeredClasses.count(Lower(name))) return CString(u"WCE_") + name;
  return CString(name);
}

// ---------------------------------------------------------------- windows

LRESULT AfxWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  // Windows that outlive the thread's framework state (destroyed as the
  // thread ends) get the default handling.
  if (t_stateGone) return ::DefWindowProcW(hwnd, message, wParam, lParam);
  CWnd* wnd = CWnd::FromHandlePermanent(hwnd);
  if (!wnd) return ::DefWindowProcW(hwnd, message, wParam, lParam);
  return AfxCallWndProc(wnd, hwnd, message, wParam, lParam);
}

LRESULT AfxCallWndProc(CWnd* wnd, HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  MSG saved = t_state.current;
  t_state.current = MSG{hwnd, message, wParam, lParam, 0, {0, 0}};
  LRESULT result = wnd->WindowProc(message, wParam, lParam);
  if (message == WM_NCDESTROY && CWnd::FromHandlePermanent(hwnd) == wnd) {
    // The window is gone: the object lets go of it, then may delete itself.
    if (wnd->m_pfnSuper && reinterpret_cast<WNDPROC>(::GetWindowLongW(hwnd, GWL_WNDPROC)) == AfxWndProc)
      ::SetWindowLongW(hwnd, GWL_WNDPROC, reinterpret_cast<LONG_PTR>(wnd->m_pfnSuper));
    wnd->Detach();
    AfxMainWindowGone(wnd);
    wnd->PostNcDestroy();
  }
  t_state.current = saved;
  return result;
}

void AfxHookWindowCreate(CWnd* wnd) {
  InstallHooks();
  t_state.wndInit = wnd;
}

BOOL AfxUnhookWindowCreate() {
  bool pending = t_state.wndInit != nullptr;
  t_state.wndInit = nullptr;
  return pending ? FALSE : TRUE;
}

CWnd::CWnd() { InstallHooks(); }

CWnd::~CWnd() {
  if (m_hWnd && permanent_) {
    // A window that outlives its object goes on without the framework.
    HWND hwnd = m_hWnd;
    if (m_pfnSuper && reinterpret_cast<WNDPROC>(::GetWindowLongW(hwnd, GWL_WNDPROC)) == AfxWndProc)
      ::SetWindowLongW(hwnd, GWL_WNDPROC, reinterpret_cast<LONG_PTR>(m_pfnSuper));
    Detach();
    ::DestroyWindow(hwnd);
  }
  if (t_state.wndInit == this) t_state.wndInit = nullptr;
}

const AFX_MSGMAP* CWnd::GetThisMessageMap() {
  static const AFX_MSGMAP_ENTRY entries[] = {{0, 0, 0, 0, AfxSig_end, nullptr, nullptr}};
  static const AFX_MSGMAP map = {&CCmdTarget::GetThisMessageMap, &entries[0]};
  return &map;
}

const AFX_MSGMAP* CWnd::GetMessageMap() const { return GetThisMessageMap(); }

CWnd* CWnd::FromHandlePermanent(HWND hwnd) {
  if (!hwnd || t_stateGone) return nullptr;
  auto it = t_state.permanent.find(hwnd);
  return it == t_state.permanent.end() ? nullptr : it->second;
}

CWnd* CWnd::FromHandle(HWND hwnd) {
  if (!hwnd || t_stateGone) return nullptr;
  if (CWnd* wnd = FromHandlePermanent(hwnd)) return wnd;
  auto& slot = t_state.temporary[hwnd];
  if (!slot) {
    slot = std::make_unique<CWnd>();
    slot->m_hWnd = hwnd;
  }
  return slot.get();
}

void CWnd::DeleteTempMap() {
  t_state.temporary.clear();
  t_state.temporaryDCs.clear();
}

BOOL CWnd::Attach(HWND hwnd) {
  if (!hwnd || m_hWnd || FromHandlePermanent(hwnd)) return FALSE;
  m_hWnd = hwnd;
  permanent_ = true;
  t_state.permanent[hwnd] = this;
  t_state.temporary.erase(hwnd);
  return TRUE;
}

HWND CWnd::Detach() {
  HWND hwnd = m_hWnd;
  if (hwnd && permanent_ && !t_stateGone) {
    auto it = t_state.permanent.find(hwnd);
    if (it != t_state.permanent.end() && it->second == this) t_state.permanent.erase(it);
  }
  permanent_ = false;
  m_hWnd = nullptr;
  return hwnd;
}

BOOL CWnd::SubclassWindow(HWND hwnd) {
  if (!Attach(hwnd)) return FALSE;
  auto old = reinterpret_cast<WNDPROC>(::SetWindowLongW(hwnd, GWL_WNDPROC, reinterpret_cast<LONG_PTR>(AfxWndProc)));
  m_pfnSuper = old == AfxWndProc || !old ? ::DefWindowProcW : old;
  PreSubclassWindow();
  return TRUE;
}

void CWnd::PreSubclassWindow() {}

BOOL CWnd::SubclassDlgItem(UINT id, CWnd* parent) {
  HWND control = parent ? ::GetDlgItem(parent->m_hWnd, static_cast<int>(id)) : nullptr;
  return control ? SubclassWindow(control) : FALSE;
}

HWND CWnd::UnsubclassWindow() {
  if (!m_hWnd) return nullptr;
  if (m_pfnSuper) ::SetWindowLongW(m_hWnd, GWL_WNDPROC, reinterpret_cast<LONG_PTR>(m_pfnSuper));
  m_pfnSuper = nullptr;
  return Detach();
}

BOOL CWnd::PreCreateWindow(CREATESTRUCT& cs) {
  if (!cs.lpszClass) {
    static LPCTSTR name = nullptr;
    static std::once_flag once;
    std::call_once(once, [] {
      name = AfxRegisterWndClass(CS_DBLCLKS);
    });
    cs.lpszClass = name;
  }
  return TRUE;
}

BOOL CWnd::Create(LPCTSTR className, LPCTSTR windowName, DWORD style, const RECT& rect, CWnd* parent, UINT id,
                  CCreateContext* context) {
  return CreateEx(0, className, windowName, style | WS_CHILD, rect.left, rect.top, rect.right - rect.left,
                  rect.bottom - rect.top, parent ? parent->m_hWnd : nullptr,
                  reinterpret_cast<HMENU>(static_cast<uintptr_t>(id)), context);
}

BOOL CWnd::CreateEx(DWORD exStyle, LPCTSTR className, LPCTSTR windowName, DWORD style, const RECT& rect,
                    CWnd* parent, UINT id, LPVOID param) {
  return CreateEx(exStyle, className, windowName, style, rect.left, rect.top, rect.right - rect.left,
                  rect.bottom - rect.top, parent ? parent->m_hWnd : nullptr,
                  reinterpret_cast<HMENU>(static_cast<uintptr_t>(id)), param);
}

BOOL CWnd::CreateEx(DWORD exStyle, LPCTSTR className, LPCTSTR windowName, DWORD style, int x, int y, int width,
                    int height, HWND parent, HMENU idOrMenu, LPVOID param) {
  CREATESTRUCT cs{param,  AfxGetInstanceHandle(), idOrMenu,   parent,    height, width, y, x,
                  static_cast<LONG>(style), windowName, className, exStyle};
  if (!PreCreateWindow(cs)) {
    PostNcDestroy();
    return FALSE;
  }
  CString cls = AfxRegisteredClassName(cs.lpszClass);
  AfxHookWindowCreate(this);
  HWND hwnd = ::CreateWindowExW(cs.dwExStyle, cls, cs.lpszName, static_cast<DWORD>(cs.style), cs.x, cs.y, cs.cx,
                                cs.cy, cs.hwndParent, cs.hMenu, cs.hInstance, cs.lpCreateParams);
  if (!AfxUnhookWindowCreate()) PostNcDestroy();  // never reached the window
  return hwnd != nullptr;
}

BOOL CWnd::DestroyWindow() {
  if (!m_hWnd) return FALSE;
  return ::DestroyWindow(m_hWnd);
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  LRESULT result = 0;
  if (!OnWndMsg(message, wParam, lParam, &result)) result = DefWindowProc(message, wParam, lParam);
  return result;
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
  if (m_pfnSuper) return ::CallWindowProcW(m_pfnSuper, m_hWnd, message, wParam, lParam);
  return ::DefWindowProcW(m_hWnd, message, wParam, lParam);
}

LRESULT CWnd::Default() {
  const MSG& m = t_state.current;
  return DefWindowProc(m.message, m.wParam, m.lParam);
}

const MSG* CWnd::GetCurrentMessage() { return &t_state.current; }

namespace {

// The control that a message to its parent is about, or null.
HWND ControlOf(HWND parent, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_DRAWITEM: {
      auto* draw = reinterpret_cast<LPDRAWITEMSTRUCT>(lParam);
      return draw && draw->CtlType != ODT_MENU ? draw->hwndItem : nullptr;
    }
    case WM_MEASUREITEM: {
      auto* measure = reinterpret_cast<LPMEASUREITEMSTRUCT>(lParam);
      return measure && measure->CtlType != ODT_MENU ? ::GetDlgItem(parent, static_cast<int>(measure->CtlID))
                                                     : nullptr;
    }
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
    case WM_HSCROLL:
    case WM_VSCROLL:
      return reinterpret_cast<HWND>(lParam);
    default:
      (void)wParam;
      return nullptr;
  }
}

BOOL OfferToChild(HWND parent, HWND child, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  if (!child || child == parent) return FALSE;
  CWnd* wnd = CWnd::FromHandlePermanent(child);
  LRESULT r = 0;
  if (!wnd || !wnd->OnChildNotify(message, wParam, lParam, &r)) return FALSE;
  if (result) *result = r;
  return TRUE;
}

}  // namespace

BOOL CWnd::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  LRESULT r = 0;
  if (message == WM_COMMAND) {
    if (!OnCommand(wParam, lParam)) return FALSE;
    if (result) *result = 1;
    return TRUE;
  }
  if (message == WM_NOTIFY) {
    if (!lParam || !OnNotify(wParam, lParam, &r)) return FALSE;
    if (result) *result = r;
    return TRUE;
  }
  if (HWND control = ControlOf(m_hWnd, message, wParam, lParam))
    if (OfferToChild(m_hWnd, control, message, wParam, lParam, result)) return TRUE;
  const AFX_MSGMAP_ENTRY* e = FindMessageEntry(GetMessageMap(), message);
  if (!e) return FALSE;
  AFX_PMSG pfn = e->pfn;
  switch (e->nSig) {
    case AfxSig_l_wl:
      r = (this->*AfxFromPmsg<LRESULT (CWnd::*)(WPARAM, LPARAM)>(pfn))(wParam, lParam);
      break;
    case AfxSig_v_v:
      (this->*AfxFromPmsg<void (CWnd::*)()>(pfn))();
      break;
    case AfxSig_b_v:
      r = (this->*AfxFromPmsg<BOOL (CWnd::*)()>(pfn))();
      break;
    case AfxSig_u_v:
      r = (this->*AfxFromPmsg<UINT (CWnd::*)()>(pfn))();
      break;
    case AfxSig_i_CREATE:
      r = (this->*AfxFromPmsg<int (CWnd::*)(LPCREATESTRUCTW)>(pfn))(reinterpret_cast<LPCREATESTRUCTW>(lParam));
      break;
    case AfxSig_b_D:
      r = (this->*AfxFromPmsg<BOOL (CWnd::*)(CDC*)>(pfn))(CDC::FromHandle(reinterpret_cast<HDC>(wParam)));
      break;
    case AfxSig_v_u_ii:
      (this->*AfxFromPmsg<void (CWnd::*)(UINT, int, int)>(pfn))(
          static_cast<UINT>(wParam), static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam)));
      break;
    case AfxSig_v_ii:
      (this->*AfxFromPmsg<void (CWnd::*)(int, int)>(pfn))(static_cast<short>(LOWORD(lParam)),
                                                              static_cast<short>(HIWORD(lParam)));
      break;
    case AfxSig_v_timer:
      (this->*AfxFromPmsg<void (CWnd::*)(UINT_PTR)>(pfn))(static_cast<UINT_PTR>(wParam));
      break;
    case AfxSig_v_u_W_b:
      (this->*AfxFromPmsg<void (CWnd::*)(UINT, CWnd*, BOOL)>(pfn))(
          LOWORD(wParam), FromHandle(reinterpret_cast<HWND>(lParam)), HIWORD(wParam) ? TRUE : FALSE);
      break;
    case AfxSig_v_W:
      (this->*AfxFromPmsg<void (CWnd::*)(CWnd*)>(pfn))(
          FromHandle(reinterpret_cast<HWND>(message == WM_CAPTURECHANGED ? lParam : static_cast<LPARAM>(wParam))));
      break;
    case AfxSig_v_u_p:
      (this->*AfxFromPmsg<void (CWnd::*)(UINT, CPoint)>(pfn))(static_cast<UINT>(wParam), CPoint(lParam));
      break;
    case AfxSig_v_uuu:
      (this->*AfxFromPmsg<void (CWnd::*)(UINT, UINT, UINT)>(pfn))(static_cast<UINT>(wParam), LOWORD(lParam),
                                                                      HIWORD(lParam));
      break;
    case AfxSig_v_b_u:
      (this->*AfxFromPmsg<void (CWnd::*)(BOOL, UINT)>(pfn))(static_cast<BOOL>(wParam),
                                                                static_cast<UINT>(lParam));
      break;
    case AfxSig_v_b:
      (this->*AfxFromPmsg<void (CWnd::*)(BOOL)>(pfn))(static_cast<BOOL>(wParam));
      break;
    case AfxSig_v_u_s:
      (this->*AfxFromPmsg<void (CWnd::*)(UINT, LPCTSTR)>(pfn))(static_cast<UINT>(wParam),
                                                                   reinterpret_cast<LPCTSTR>(lParam));
      break;
    case AfxSig_v_i_DRAW:
      (this->*AfxFromPmsg<void (CWnd::*)(int, LPDRAWITEMSTRUCT)>(pfn))(
          static_cast<int>(wParam), reinterpret_cast<LPDRAWITEMSTRUCT>(lParam));
      r = TRUE;
      break;
    case AfxSig_v_i_MEASURE:
      (this->*AfxFromPmsg<void (CWnd::*)(int, LPMEASUREITEMSTRUCT)>(pfn))(
          static_cast<int>(wParam), reinterpret_cast<LPMEASUREITEMSTRUCT>(lParam));
      r = TRUE;
      break;
    case AfxSig_v_M_u_b:
      (this->*AfxFromPmsg<void (CWnd::*)(CMenu*, UINT, BOOL)>(pfn))(
          CMenu::FromHandle(reinterpret_cast<HMENU>(wParam)), LOWORD(lParam), HIWORD(lParam) ? TRUE : FALSE);
      break;
    case AfxSig_h_D_W_u:
      r = reinterpret_cast<LRESULT>((this->*AfxFromPmsg<HBRUSH (CWnd::*)(CDC*, CWnd*, UINT)>(pfn))(
          CDC::FromHandle(reinterpret_cast<HDC>(wParam)), FromHandle(reinterpret_cast<HWND>(lParam)),
          message - WM_CTLCOLORMSGBOX));
      break;
    case AfxSig_v_uu_S:
      (this->*AfxFromPmsg<void (CWnd::*)(UINT, UINT, CScrollBar*)>(pfn))(
          LOWORD(wParam), HIWORD(wParam), AfxTypedFromHandle<CScrollBar>(reinterpret_cast<HWND>(lParam)));
      break;
    case AfxSig_b_W_COPY:
      r = (this->*AfxFromPmsg<BOOL (CWnd::*)(CWnd*, COPYDATASTRUCT*)>(pfn))(
          FromHandle(reinterpret_cast<HWND>(wParam)), reinterpret_cast<COPYDATASTRUCT*>(lParam));
      break;
    case AfxSig_v_DRAW:
      (this->*AfxFromPmsg<void (CWnd::*)(LPDRAWITEMSTRUCT)>(pfn))(reinterpret_cast<LPDRAWITEMSTRUCT>(lParam));
      r = TRUE;
      break;
    case AfxSig_v_MEASURE:
      (this->*AfxFromPmsg<void (CWnd::*)(LPMEASUREITEMSTRUCT)>(pfn))(reinterpret_cast<LPMEASUREITEMSTRUCT>(lParam));
      r = TRUE;
      break;
    case AfxSig_v_W_p:
      (this->*AfxFromPmsg<void (CWnd::*)(CWnd*, CPoint)>(pfn))(FromHandle(reinterpret_cast<HWND>(wParam)),
                                                                   CPoint(lParam));
      break;
    default:
      return FALSE;
  }
  if (result) *result = r;
  return TRUE;
}

BOOL CWnd::OnCommand(WPARAM wParam, LPARAM lParam) {
  UINT id = LOWORD(wParam);
  int code = HIWORD(wParam);
  auto control = reinterpret_cast<HWND>(lParam);
  if (control) {
    // The control's own map sees its notification first.
    if (OfferToChild(m_hWnd, control, WM_COMMAND, wParam, lParam, nullptr)) return TRUE;
    if (id == 0) return FALSE;
  } else {
    // A menu or soft-key command that its update handler disables is not run.
    TestCmdUI state;
    state.m_nID = id;
    OnCmdMsg(id, static_cast<int>(CN_UPDATE_COMMAND_UI), &state, nullptr);
    if (!state.enabled) return TRUE;
    code = CN_COMMAND;
  }
  return OnCmdMsg(id, code, nullptr, nullptr);
}

BOOL CWnd::OnNotify(WPARAM, LPARAM lParam, LRESULT* result) {
  auto* header = reinterpret_cast<NMHDR*>(lParam);
  HWND control = header->hwndFrom;
  if (control && OfferToChild(m_hWnd, control, WM_NOTIFY, static_cast<WPARAM>(header->idFrom), lParam, result))
    return TRUE;
  UINT id = static_cast<UINT>(header->idFrom);
  AFX_NOTIFY notify{result, header};
  return OnCmdMsg(id, static_cast<int>(MAKELONG(header->code, WM_NOTIFY)), &notify, nullptr);
}

BOOL CWnd::OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  return ReflectChildNotify(message, wParam, lParam, result);
}

BOOL CWnd::ReflectChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) {
  switch (message) {
    case WM_COMMAND:
      return OnCmdMsg(0, static_cast<int>(MAKELONG(HIWORD(wParam), WM_REFLECT_BASE + WM_COMMAND)), nullptr, nullptr);
    case WM_NOTIFY: {
      auto* header = reinterpret_cast<NMHDR*>(lParam);
      AFX_NOTIFY notify{result, header};
      return OnCmdMsg(0, static_cast<int>(MAKELONG(header->code, WM_REFLECT_BASE + WM_NOTIFY)), &notify, nullptr);
    }
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC: {
      const AFX_MSGMAP_ENTRY* e = FindMessageEntry(GetMessageMap(), WM_REFLECT_BASE + WM_CTLCOLORMSGBOX);
      if (!e || e->nSig != AfxSig_h_D_u) return FALSE;
      HBRUSH brush = (this->*AfxFromPmsg<HBRUSH (CWnd::*)(CDC*, UINT)>(e->pfn))(
          CDC::FromHandle(reinterpret_cast<HDC>(wParam)), message - WM_CTLCOLORMSGBOX);
      if (!brush) return FALSE;
      if (result) *result = reinterpret_cast<LRESULT>(brush);
      return TRUE;
    }
    default:
      return OnWndMsg(WM_REFLECT_BASE + message, wParam, lParam, result);
  }
}

BOOL CWnd::ReflectLastMsg(HWND child, LRESULT* result) {
  const MSG& m = t_state.current;
  return OfferToChild(m.hwnd, child, m.message, m.wParam, m.lParam, result);
}

BOOL CWnd::PreTranslateMessage(MSG*) { return FALSE; }

BOOL CWnd::TakesKeys(HWND hwnd) {
  for (HWND w = hwnd; w; w = ::GetParent(w)) {
    if (!::IsWindowEnabled(w)) return FALSE;
    if (!(::GetWindowLongW(w, GWL_STYLE) & WS_CHILD)) break;
  }
  return TRUE;
}

BOOL CWnd::WalkPreTranslateTree(HWND stop, MSG* msg) {
  for (HWND hwnd = msg->hwnd; hwnd; hwnd = ::GetParent(hwnd)) {
    CWnd* wnd = FromHandlePermanent(hwnd);
    if (wnd && wnd->PreTranslateMessage(msg)) return TRUE;
    if (hwnd == stop) break;
    // A window under a modal dialog or message box (disabled meanwhile)
    // does not handle the keys of the window it owns.
    HWND next = ::GetParent(hwnd);
    if (next && !(::GetWindowLongW(hwnd, GWL_STYLE) & WS_CHILD) && !TakesKeys(next)) break;
  }
  return FALSE;
}

void CWnd::PostNcDestroy() {}

void CWnd::CalcWindowRect(LPRECT, UINT) {}

void CWnd::SendMessageToDescendants(UINT message, WPARAM wParam, LPARAM lParam, BOOL deep, BOOL onlyPermanent) {
  for (HWND child = ::GetWindow(m_hWnd, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
    CWnd* wnd = FromHandlePermanent(child);
    if (wnd)
      AfxCallWndProc(wnd, child, message, wParam, lParam);
    else if (!onlyPermanent)
      ::SendMessageW(child, message, wParam, lParam);
    if (deep && ::IsWindow(child)) FromHandle(child)->SendMessageToDescendants(message, wParam, lParam, deep, onlyPermanent);
  }
}

void CWnd::ClientToScreen(LPRECT rect) const {
  POINT origin{0, 0};
  ::ClientToScreen(m_hWnd, &origin);
  rect->left += origin.x, rect->right += origin.x, rect->top += origin.y, rect->bottom += origin.y;
}

void CWnd::ScreenToClient(LPRECT rect) const {
  POINT origin{0, 0};
  ::ClientToScreen(m_hWnd, &origin);
  rect->left -= origin.x, rect->right -= origin.x, rect->top -= origin.y, rect->bottom -= origin.y;
}

void CWnd::CenterWindow(CWnd* alternateOwner) {
  CRect area(0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN));
  HWND around = alternateOwner ? alternateOwner->m_hWnd : ::GetParent(m_hWnd);
  bool child = (GetStyle() & WS_CHILD) != 0;
  if (child && around)
    ::GetClientRect(around, &area);
  else if (around && ::IsWindowVisible(around))
    ::GetWindowRect(around, &area);
  CRect mine;
  GetWindowRect(&mine);
  int x = area.left + (area.Width() - mine.Width()) / 2, y = area.top + (area.Height() - mine.Height()) / 2;
  SetWindowPos(nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void CWnd::GetWindowText(CString& text) const {
  int n = GetWindowTextLength();
  std::u16string s(static_cast<size_t>(n) + 1, 0);
  int got = ::GetWindowTextW(m_hWnd, s.data(), n + 1);
  s.resize(static_cast<size_t>(std::max(got, 0)));
  text = CString(std::move(s));
}

int CWnd::GetDlgItemText(int id, CString& text) const {
  text.Empty();
  HWND item = ::GetDlgItem(m_hWnd, id);
  if (!item) return 0;
  FromHandle(item)->GetWindowText(text);
  return text.GetLength();
}

CWnd* CWnd::GetTopLevelParent() const {
  HWND hwnd = m_hWnd;
  while (hwnd && (::GetWindowLongW(hwnd, GWL_STYLE) & WS_CHILD)) hwnd = ::GetParent(hwnd);
  return FromHandle(hwnd);
}

namespace {

// Takes `remove` out of and puts `add` into the window's style word at
// `index`; `flags` (SWP_ flags) other than 0 ask the window to take in the
// change. FALSE when the word does not change.
BOOL ModifyStyleWord(HWND window, int index, DWORD remove, DWORD add, UINT flags) {
  DWORD style = static_cast<DWORD>(::GetWindowLongW(window, index));
  DWORD changed = (style & ~remove) | add;
  if (changed == style) return FALSE;
  ::SetWindowLongW(window, index, static_cast<LONG_PTR>(changed));
  if (flags) ::SetWindowPos(window, nullptr, 0, 0, 0, 0, flags | SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  return TRUE;
}

}  // namespace

BOOL CWnd::ModifyStyle(DWORD remove, DWORD add, UINT flags) {
  return ModifyStyleWord(m_hWnd, GWL_STYLE, remove, add, flags);
}

BOOL CWnd::ModifyStyleEx(DWORD remove, DWORD add, UINT flags) {
  return ModifyStyleWord(m_hWnd, GWL_EXSTYLE, remove, add, flags);
}

CDC* CWnd::BeginPaint(LPPAINTSTRUCT paint) { return CDC::FromHandle(::BeginPaint(m_hWnd, paint)); }

CDC* CWnd::GetDC() { return CDC::FromHandle(::GetDC(m_hWnd)); }

int CWnd::ReleaseDC(CDC* dc) {
  if (!dc) return 0;
  HDC hdc = dc->m_hDC;
  t_state.temporaryDCs.erase(hdc);
  return ::ReleaseDC(m_hWnd, hdc);
}

CFrameWnd* CWnd::GetParentFrame() const {
  for (HWND hwnd = ::GetParent(m_hWnd); hwnd; hwnd = ::GetParent(hwnd))
    if (auto* frame = dynamic_cast<CFrameWnd*>(FromHandlePermanent(hwnd))) return frame;
  return nullptr;
}

CFrameWnd* CWnd::GetTopLevelFrame() const {
  CFrameWnd* frame = dynamic_cast<CFrameWnd*>(FromHandlePermanent(m_hWnd));
  if (!frame) frame = GetParentFrame();
  while (frame) {
    CFrameWnd* outer = frame->GetParentFrame();
    if (!outer) break;
    frame = outer;
  }
  return frame;
}

// The default handlers: the window's default procedure with the message.
int CWnd::OnCreate(LPCREATESTRUCTW) { return static_cast<int>(Default()); }
void CWnd::OnDestroy() { Default(); }
void CWnd::OnNcDestroy() { Default(); }
void CWnd::OnClose() { Default(); }
void CWnd::OnPaint() { Default(); }
BOOL CWnd::OnEraseBkgnd(CDC*) { return static_cast<BOOL>(Default()); }
void CWnd::OnSize(UINT, int, int) { Default(); }
void CWnd::OnMove(int, int) { Default(); }
void CWnd::OnTimer(UINT_PTR) { Default(); }
void CWnd::OnActivate(UINT, CWnd*, BOOL) { Default(); }
void CWnd::OnSetFocus(CWnd*) { Default(); }
void CWnd::OnKillFocus(CWnd*) { Default(); }
void CWnd::OnCaptureChanged(CWnd*) { Default(); }
void CWnd::OnLButtonDown(UINT, CPoint) { Default(); }
void CWnd::OnLButtonUp(UINT, CPoint) { Default(); }
void CWnd::OnLButtonDblClk(UINT, CPoint) { Default(); }
void CWnd::OnMouseMove(UINT, CPoint) { Default(); }
void CWnd::OnKeyDown(UINT, UINT, UINT) { Default(); }
void CWnd::OnKeyUp(UINT, UINT, UINT) { Default(); }
void CWnd::OnChar(UINT, UINT, UINT) { Default(); }
void CWnd::OnShowWindow(BOOL, UINT) { Default(); }
void CWnd::OnEnable(BOOL) { Default(); }
void CWnd::OnSettingChange(UINT, LPCTSTR) { Default(); }
void CWnd::OnDrawItem(int, LPDRAWITEMSTRUCT) { Default(); }
void CWnd::OnMeasureItem(int, LPMEASUREITEMSTRUCT) { Default(); }
void CWnd::OnInitMenuPopup(CMenu*, UINT, BOOL) { Default(); }
HBRUSH CWnd::OnCtlColor(CDC*, CWnd*, UINT) { return reinterpret_cast<HBRUSH>(Default()); }
void CWnd::OnHScroll(UINT, UINT, CScrollBar*) { Default(); }
void CWnd::OnVScroll(UINT, UINT, CScrollBar*) { Default(); }
BOOL CWnd::OnCopyData(CWnd*, COPYDATASTRUCT*) { return static_cast<BOOL>(Default()); }
void CWnd::OnContextMenu(CWnd*, CPoint) { Default(); }
UINT CWnd::OnGetDlgCode() { return static_cast<UINT>(Default()); }
void CWnd::OnCancelMode() { Default(); }

BOOL AfxPreTranslateMessage(MSG* msg) {
  if (CWinThread* thread = AfxGetThread()) return thread->PreTranslateMessage(msg);
  return CWnd::WalkPreTranslateTree(nullptr, msg);
}
