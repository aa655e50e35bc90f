// CFrameWnd (see framework/frame.h).
#include "framework/frame.h"

#include <mutex>

#include "framework/app.h"
#include "framework/controls.h"

const CRect CFrameWnd::rectDefault(CW_USEDEFAULT, CW_USEDEFAULT, 0, 0);

BEGIN_MESSAGE_MAP(CFrameWnd, CWnd)
  ON_WM_SIZE()
  ON_WM_INITMENUPOPUP()
  ON_MESSAGE(WM_IDLEUPDATECMDUI, OnIdleUpdateCmdUI)
END_MESSAGE_MAP()

CFrameWnd::CFrameWnd() = default;
CFrameWnd::~CFrameWnd() = default;

BOOL CFrameWnd::Create(LPCTSTR className, LPCTSTR title, DWORD style, const RECT& rect, CWnd* parent, LPCTSTR,
                       DWORD exStyle, CCreateContext*) {
  m_strTitle = title;
  bool byDefault = rectDefault == rect;
  int x = byDefault ? CW_USEDEFAULT : rect.left, y = byDefault ? CW_USEDEFAULT : rect.top;
  int width = byDefault ? CW_USEDEFAULT : rect.right - rect.left;
  int height = byDefault ? CW_USEDEFAULT : rect.bottom - rect.top;
  return CreateEx(exStyle, className, title, style, x, y, width, height, parent ? parent->m_hWnd : nullptr, nullptr,
                  nullptr);
}

BOOL CFrameWnd::LoadFrame(UINT resourceId, DWORD style, CWnd* parent, CCreateContext* context) {
  WCHAR title[256] = {};
  ::LoadStringW(AfxGetResourceHandle(), resourceId, title, 256);
  return Create(nullptr, title, style, rectDefault, parent, nullptr, 0, context);
}

BOOL CFrameWnd::PreCreateWindow(CREATESTRUCT& cs) {
  if (!cs.lpszClass) {
    static std::once_flag once;
    std::call_once(once, [] {
      WNDCLASSW wc{};
      wc.style = CS_DBLCLKS | CS_HREDRAW | CS_VREDRAW;
      wc.lpfnWndProc = ::DefWindowProcW;
      wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<uintptr_t>(COLOR_WINDOW + 1));
      wc.lpszClassName = u"AfxFrameOrView";
      ::RegisterClassW(&wc);
    });
    cs.lpszClass = u"AfxFrameOrView";
  }
  return TRUE;
}

BOOL CFrameWnd::OnCmdMsg(UINT nID, int nCode, void* pExtra, void* pHandlerInfo) {
  if (CWnd::OnCmdMsg(nID, nCode, pExtra, pHandlerInfo)) return TRUE;
  CWinApp* app = AfxGetApp();
  return app && app->OnCmdMsg(nID, nCode, pExtra, pHandlerInfo);
}

BOOL CFrameWnd::PreTranslateMessage(MSG* msg) { return CWnd::PreTranslateMessage(msg); }

void CFrameWnd::PostNcDestroy() { delete this; }

void CFrameWnd::RecalcLayout(BOOL) {
  HWND pane = ::GetDlgItem(m_hWnd, AFX_IDW_PANE_FIRST);
  if (!pane) return;
  CRect client;
  GetClientRect(&client);
  ::MoveWindow(pane, client.left, client.top, client.Width(), client.Height(), TRUE);
}

void CFrameWnd::OnSize(UINT type, int cx, int cy) {
  CWnd::OnSize(type, cx, cy);
  if (!(GetStyle() & WS_MINIMIZE)) RecalcLayout();
}

void CFrameWnd::OnInitMenuPopup(CMenu* popup, UINT index, BOOL sysMenu) {
  CWnd::OnInitMenuPopup(popup, index, sysMenu);
  if (sysMenu || !popup) return;
  int count = popup->GetMenuItemCount();
  for (int i = 0; i < count; ++i) {
    UINT id = popup->GetMenuItemID(i);
    if (id == 0 || id == static_cast<UINT>(-1)) continue;  // separators and submenus
    CCmdUI state;
    state.m_pMenu = popup;
    state.m_nIndex = static_cast<UINT>(i);
    state.m_nIndexMax = static_cast<UINT>(count);
    state.m_nID = id;
    state.DoUpdate(this, m_bAutoMenuEnable);
  }
}

LRESULT CFrameWnd::OnIdleUpdateCmdUI(WPARAM, LPARAM) { return 0; }
