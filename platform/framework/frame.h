// CFrameWnd: a program's top-level window. Commands that reach it are
// routed to its own map and then to the application object; a child with
// the id AFX_IDW_PANE_FIRST fills its client area; a popup menu's items are
// enabled, checked or renamed by their ON_UPDATE_COMMAND_UI handlers when
// it opens (an item whose command nobody handles is greyed). A frame
// deletes itself when its window is gone, so it is made with new.
#pragma once

#include "user/user.h"

#include "framework/wnd.h"

#define FWS_ADDTOTITLE 0x00008000L
#define AFX_IDW_PANE_FIRST 0xE900

class CFrameWnd : public CWnd {
 public:
  CFrameWnd();
  ~CFrameWnd() override;

  // CW_USEDEFAULT position and size.
  static const CRect rectDefault;
  CString m_strTitle;
  BOOL m_bAutoMenuEnable = TRUE;

  virtual BOOL Create(LPCTSTR className, LPCTSTR title, DWORD style = WS_OVERLAPPEDWINDOW,
                      const RECT& rect = rectDefault, CWnd* parent = nullptr, LPCTSTR menuName = nullptr,
                      DWORD exStyle = 0, CCreateContext* context = nullptr);
  // Creates the frame with the title of string resource resourceId.
  virtual BOOL LoadFrame(UINT resourceId, DWORD style = WS_OVERLAPPEDWINDOW | FWS_ADDTOTITLE, CWnd* parent = nullptr,
                         CCreateContext* context = nullptr);
  BOOL PreCreateWindow(CREATESTRUCT& cs) override;
  BOOL OnCmdMsg(UINT nID, int nCode, void* pExtra, void* pHandlerInfo) override;
  BOOL PreTranslateMessage(MSG* msg) override;
  void PostNcDestroy() override;
  // Places the pane (the child AFX_IDW_PANE_FIRST) over the client area.
  virtual void RecalcLayout(BOOL notify = TRUE);
  void SetTitle(LPCTSTR title) { m_strTitle = title; }
  CString GetTitle() const { return m_strTitle; }

  void OnSize(UINT type, int cx, int cy);
  void OnInitMenuPopup(CMenu* popup, UINT index, BOOL sysMenu);
  LRESULT OnIdleUpdateCmdUI(WPARAM wParam, LPARAM lParam);

 protected:
  DECLARE_MESSAGE_MAP()
};
