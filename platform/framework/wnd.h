// The framework's window classes: command targets with message maps, CWnd
// over a window handle, and the small value and drawing classes they use.
//
// A CWnd is attached to its window when the window receives its first
// message (WM_NCCREATE): the framework's creation hook records the object
// in the creating thread's handle map and subclasses the window with the
// framework's procedure, which hands every message to CWnd::WindowProc. The
// message map of the object's class is searched first, then the maps of its
// base classes, so a derived class's entry overrides its base's; what no
// entry takes goes to DefWindowProc (the window's own class procedure).
// After WM_NCDESTROY the object is detached and PostNcDestroy runs (where
// frames delete themselves).
//
// Commands (WM_COMMAND) go to OnCommand: a control's notification is first
// offered to the control itself (ON_CONTROL_REFLECT), then routed through
// OnCmdMsg, which looks for ON_COMMAND / ON_CONTROL / ON_UPDATE_COMMAND_UI
// entries (frames route on to the application object). WM_NOTIFY is
// offered to the sending control's ON_NOTIFY_REFLECT entries first, then to
// the parent's ON_NOTIFY entries.
//
// CWnd::FromHandle gives the thread's object of a window, or a temporary
// object that the thread's idle processing deletes; FromHandlePermanent
// only the attached object.
#pragma once

#include "user/user.h"

#include "user/dialog.h"
#include "user/input.h"
#include "user/menu.h"
#include "controls/commctrl.h"
#include "gdi/gdi.h"
#include "framework/cstring.h"

#include <cstring>
#include <memory>
#include <unordered_map>

// ------------------------------------------------------------ value classes

class CSize : public SIZE {
 public:
  CSize() : SIZE{0, 0} {}
  CSize(int x, int y) : SIZE{x, y} {}
  CSize(SIZE s) : SIZE(s) {}
  bool operator==(const SIZE& o) const { return cx == o.cx && cy == o.cy; }
  bool operator!=(const SIZE& o) const { return !(*this == o); }
};

class CPoint : public POINT {
 public:
  CPoint() : POINT{0, 0} {}
  CPoint(int px, int py) : POINT{px, py} {}
  CPoint(POINT p) : POINT(p) {}
  // A point packed in a message's lParam (signed 16-bit halves).
  explicit CPoint(LPARAM packed)
      : POINT{static_cast<short>(LOWORD(packed)), static_cast<short>(HIWORD(packed))} {}
  void Offset(int dx, int dy) {
    x += dx;
    y += dy;
  }
  bool operator==(const POINT& o) const { return x == o.x && y == o.y; }
  bool operator!=(const POINT& o) const { return !(*this == o); }
  CPoint operator+(const POINT& o) const { return CPoint(x + o.x, y + o.y); }
  CPoint operator-(const POINT& o) const { return CPoint(x - o.x, y - o.y); }
};

class CRect : public RECT {
 public:
  CRect() : RECT{0, 0, 0, 0} {}
  CRect(int l, int t, int r, int b) : RECT{l, t, r, b} {}
  CRect(const RECT& r) : RECT(r) {}
  CRect(const RECT* r) : RECT(r ? *r : RECT{0, 0, 0, 0}) {}
  CRect(POINT topLeft, SIZE size) : RECT{topLeft.x, topLeft.y, topLeft.x + size.cx, topLeft.y + size.cy} {}
  int Width() const { return right - left; }
  int Height() const { return bottom - top; }
  CSize Size() const { return CSize(Width(), Height()); }
  CPoint TopLeft() const { return CPoint(left, top); }
  CPoint BottomRight() const { return CPoint(right, bottom); }
  CPoint CenterPoint() const { return CPoint((left + right) / 2, (top + bottom) / 2); }
  bool IsRectEmpty() const { return right <= left || bottom <= top; }
  bool IsRectNull() const { return left == 0 && top == 0 && right == 0 && bottom == 0; }
  bool PtInRect(POINT p) const { return p.x >= left && p.x < right && p.y >= top && p.y < bottom; }
  void SetRect(int l, int t, int r, int b) { left = l, top = t, right = r, bottom = b; }
  void SetRectEmpty() { left = top = right = bottom = 0; }
  void OffsetRect(int dx, int dy) { left += dx, right += dx, top += dy, bottom += dy; }
  void OffsetRect(POINT p) { OffsetRect(p.x, p.y); }
  void InflateRect(int dx, int dy) { left -= dx, right += dx, top -= dy, bottom += dy; }
  void DeflateRect(int dx, int dy) { InflateRect(-dx, -dy); }
  void NormalizeRect();
  BOOL IntersectRect(const RECT* a, const RECT* b);
  BOOL UnionRect(const RECT* a, const RECT* b);
  operator LPRECT() { return this; }
  operator const RECT*() const { return this; }
  bool operator==(const RECT& o) const {
    return left == o.left && top == o.top && right == o.right && bottom == o.bottom;
  }
  bool operator!=(const RECT& o) const { return !(*this == o); }
};

// ------------------------------------------------------------ drawing

class CWnd;

// A device context handle with the drawing calls the screens use. FromHandle
// wraps a handle in a temporary object of the calling thread.
class CDC {
 public:
  CDC() = default;
  virtual ~CDC();
  CDC(const CDC&) = delete;
  CDC& operator=(const CDC&) = delete;

  HDC m_hDC = nullptr;
  HDC GetSafeHdc() const { return m_hDC; }
  operator HDC() const { return m_hDC; }
  static CDC* FromHandle(HDC dc);
  BOOL Attach(HDC dc);
  HDC Detach();
  BOOL CreateCompatibleDC(CDC* dc);
  BOOL DeleteDC();

  HGDIOBJ SelectObject(HGDIOBJ object) { return ::SelectObject(m_hDC, object); }
  COLORREF SetTextColor(COLORREF c) { return ::SetTextColor(m_hDC, c); }
  COLORREF SetBkColor(COLORREF c) { return ::SetBkColor(m_hDC, c); }
  int SetBkMode(int mode) { return ::SetBkMode(m_hDC, mode); }
  void FillSolidRect(const RECT* rect, COLORREF colour);
  void FillSolidRect(int x, int y, int cx, int cy, COLORREF colour);
  int FillRect(const RECT* rect, HBRUSH brush) { return ::FillRect(m_hDC, rect, brush); }
  int DrawText(LPCWSTR text, int count, LPRECT rect, UINT format) {
    return ::DrawTextW(m_hDC, text, count, rect, format);
  }
  int DrawText(const CString& text, LPRECT rect, UINT format) {
    return ::DrawTextW(m_hDC, text, text.GetLength(), rect, format);
  }
  BOOL BitBlt(int x, int y, int cx, int cy, CDC* src, int sx, int sy, DWORD rop) {
    return ::BitBlt(m_hDC, x, y, cx, cy, src ? src->m_hDC : nullptr, sx, sy, rop);
  }
  int GetDeviceCaps(int index) const { return ::GetDeviceCaps(m_hDC, index); }
  CSize GetTextExtent(LPCWSTR text, int count) const;
  CSize GetTextExtent(const CString& text) const { return GetTextExtent(text, text.GetLength()); }

 protected:
  bool owned_ = false;  // made by CreateCompatibleDC: deleted with the object
};

// BeginPaint and EndPaint around the object's life.
class CPaintDC : public CDC {
 public:
  explicit CPaintDC(CWnd* wnd);
  ~CPaintDC() override;
  PAINTSTRUCT m_ps{};

 protected:
  HWND m_hWnd;
};

// GetDC and ReleaseDC around the object's life.
class CClientDC : public CDC {
 public:
  explicit CClientDC(CWnd* wnd);
  ~CClientDC() override;

 protected:
  HWND m_hWnd;
};

// ------------------------------------------------------------ message maps

class CCmdTarget;
class CCmdUI;
class CMenu;
class CScrollBar;

typedef void (CCmdTarget::*AFX_PMSG)();

// How a map entry's handler is called.
enum AfxSig : UINT {
  AfxSig_end = 0,
  AfxSig_l_wl,         // LRESULT (WPARAM, LPARAM)
  AfxSig_v_v,          // void ()
  AfxSig_b_v,          // BOOL ()
  AfxSig_u_v,          // UINT ()
  AfxSig_i_CREATE,     // int (LPCREATESTRUCT)
  AfxSig_b_D,          // BOOL (CDC*)
  AfxSig_v_u_ii,       // void (UINT, int, int): WM_SIZE
  AfxSig_v_ii,         // void (int, int): WM_MOVE
  AfxSig_v_timer,      // void (UINT_PTR)
  AfxSig_v_u_W_b,      // void (UINT, CWnd*, BOOL): WM_ACTIVATE
  AfxSig_v_W,          // void (CWnd*)
  AfxSig_v_u_p,        // void (UINT, CPoint): pointer messages
  AfxSig_v_uuu,        // void (UINT, UINT, UINT): keys and characters
  AfxSig_v_b_u,        // void (BOOL, UINT): WM_SHOWWINDOW
  AfxSig_v_b,          // void (BOOL): WM_ENABLE
  AfxSig_v_u_s,        // void (UINT, LPCTSTR): WM_SETTINGCHANGE
  AfxSig_v_i_DRAW,     // void (int, LPDRAWITEMSTRUCT)
  AfxSig_v_i_MEASURE,  // void (int, LPMEASUREITEMSTRUCT)
  AfxSig_v_M_u_b,      // void (CMenu*, UINT, BOOL): WM_INITMENUPOPUP
  AfxSig_h_D_W_u,      // HBRUSH (CDC*, CWnd*, UINT): WM_CTLCOLOR...
  AfxSig_v_uu_S,       // void (UINT, UINT, CScrollBar*): scrolling
  AfxSig_b_W_COPY,     // BOOL (CWnd*, COPYDATASTRUCT*)
  AfxSig_v_W_p,        // void (CWnd*, CPoint): WM_CONTEXTMENU
  AfxSig_cmd_v,        // commands: void ()
  AfxSig_cmd_u,        // command ranges: void (UINT)
  AfxSig_cmd_b_u,      // ON_COMMAND_EX: BOOL (UINT)
  AfxSig_cmd_ui,       // void (CCmdUI*)
  AfxSig_notify,       // void (NMHDR*, LRESULT*)
  AfxSig_notify_b,     // ON_NOTIFY_EX: BOOL (UINT, NMHDR*, LRESULT*)
  AfxSig_h_D_u,        // reflected WM_CTLCOLOR: HBRUSH (CDC*, UINT)
  AfxSig_v_DRAW,       // reflected WM_DRAWITEM: void (LPDRAWITEMSTRUCT)
  AfxSig_v_MEASURE,    // reflected WM_MEASUREITEM: void (LPMEASUREITEMSTRUCT)
};

struct AFX_MSGMAP_ENTRY {
  UINT nMessage;         // the window message (WM_COMMAND, WM_NOTIFY...), or 0xC000 for a registered one
  UINT nCode;            // the command or notification code
  UINT nID;              // the first control or command id
  UINT nLastID;          // the last id of a range
  UINT nSig;             // an AfxSig
  AFX_PMSG pfn;          // the handler
  const UINT* pMessage;  // the registered message's number (ON_REGISTERED_MESSAGE)
};

struct AFX_MSGMAP {
  const AFX_MSGMAP* (*pfnGetBaseMap)();
  const AFX_MSGMAP_ENTRY* lpEntries;
};

// Codes of OnCmdMsg: a command, or a request to update a command's state.
#define CN_COMMAND 0
#define CN_UPDATE_COMMAND_UI (static_cast<UINT>(-1))
// Reflected messages arrive at the control as WM_REFLECT_BASE + message.
#define WM_REFLECT_BASE 0xBC00

#define DECLARE_MESSAGE_MAP()                    \
 protected:                                      \
  static const AFX_MSGMAP* GetThisMessageMap();  \
  const AFX_MSGMAP* GetMessageMap() const override;

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                             \
  const AFX_MSGMAP* theClass::GetMessageMap() const { return GetThisMessageMap(); }        \
  const AFX_MSGMAP* theClass::GetThisMessageMap() {                                        \
    typedef theClass ThisClass;                                                            \
    typedef baseClass TheBaseClass;                                                        \
    (void)sizeof(ThisClass*);                                                              \
    static const AFX_MSGMAP_ENTRY _messageEntries[] = {
#define END_MESSAGE_MAP()                                                              \
  {0, 0, 0, 0, AfxSig_end, nullptr, nullptr}                                          \
  };                                                                                  \
  static const AFX_MSGMAP messageMap = {&TheBaseClass::GetThisMessageMap, &_messageEntries[0]}; \
  return &messageMap;                                                                 \
  }

// A handler of a fixed signature, kept as the map's generic pointer, and
// the handler read back with its signature.
template <class F>
inline AFX_PMSG AfxToPmsg(F f) {
  static_assert(sizeof(F) == sizeof(AFX_PMSG), "member function pointers of one size");
  AFX_PMSG p;
  std::memcpy(static_cast<void*>(&p), static_cast<const void*>(&f), sizeof p);
  return p;
}
template <class F>
inline F AfxFromPmsg(AFX_PMSG p) {
  static_assert(sizeof(F) == sizeof(AFX_PMSG), "member function pointers of one size");
  F f;
  std::memcpy(static_cast<void*>(&f), static_cast<const void*>(&p), sizeof f);
  return f;
}
#define AFX_HANDLER(sig, fn) AfxToPmsg(static_cast<sig>(fn))
#define AFX_WM_ENTRY(msg, s, sigType, fn) {msg, 0, 0, 0, s, AFX_HANDLER(sigType, &ThisClass::fn), nullptr},

#define ON_WM_CREATE() AFX_WM_ENTRY(WM_CREATE, AfxSig_i_CREATE, int (CWnd::*)(LPCREATESTRUCTW), OnCreate)
#define ON_WM_DESTROY() AFX_WM_ENTRY(WM_DESTROY, AfxSig_v_v, void (CWnd::*)(), OnDestroy)
#define ON_WM_NCDESTROY() AFX_WM_ENTRY(WM_NCDESTROY, AfxSig_v_v, void (CWnd::*)(), OnNcDestroy)
#define ON_WM_CLOSE() AFX_WM_ENTRY(WM_CLOSE, AfxSig_v_v, void (CWnd::*)(), OnClose)
#define ON_WM_PAINT() AFX_WM_ENTRY(WM_PAINT, AfxSig_v_v, void (CWnd::*)(), OnPaint)
#define ON_WM_ERASEBKGND() AFX_WM_ENTRY(WM_ERASEBKGND, AfxSig_b_D, BOOL (CWnd::*)(CDC*), OnEraseBkgnd)
#define ON_WM_SIZE() AFX_WM_ENTRY(WM_SIZE, AfxSig_v_u_ii, void (CWnd::*)(UINT, int, int), OnSize)
#define ON_WM_MOVE() AFX_WM_ENTRY(WM_MOVE, AfxSig_v_ii, void (CWnd::*)(int, int), OnMove)
#define ON_WM_TIMER() AFX_WM_ENTRY(WM_TIMER, AfxSig_v_timer, void (CWnd::*)(UINT_PTR), OnTimer)
#define ON_WM_ACTIVATE() AFX_WM_ENTRY(WM_ACTIVATE, AfxSig_v_u_W_b, void (CWnd::*)(UINT, CWnd*, BOOL), OnActivate)
#define ON_WM_SETFOCUS() AFX_WM_ENTRY(WM_SETFOCUS, AfxSig_v_W, void (CWnd::*)(CWnd*), OnSetFocus)
#define ON_WM_KILLFOCUS() AFX_WM_ENTRY(WM_KILLFOCUS, AfxSig_v_W, void (CWnd::*)(CWnd*), OnKillFocus)
#define ON_WM_CAPTURECHANGED() \
  AFX_WM_ENTRY(WM_CAPTURECHANGED, AfxSig_v_W, void (CWnd::*)(CWnd*), OnCaptureChanged)
#define ON_WM_LBUTTONDOWN() AFX_WM_ENTRY(WM_LBUTTONDOWN, AfxSig_v_u_p, void (CWnd::*)(UINT, CPoint), OnLButtonDown)
#define ON_WM_LBUTTONUP() AFX_WM_ENTRY(WM_LBUTTONUP, AfxSig_v_u_p, void (CWnd::*)(UINT, CPoint), OnLButtonUp)
#define ON_WM_LBUTTONDBLCLK() \
  AFX_WM_ENTRY(WM_LBUTTONDBLCLK, AfxSig_v_u_p, void (CWnd::*)(UINT, CPoint), OnLButtonDblClk)
#define ON_WM_MOUSEMOVE() AFX_WM_ENTRY(WM_MOUSEMOVE, AfxSig_v_u_p, void (CWnd::*)(UINT, CPoint), OnMouseMove)
#define ON_WM_KEYDOWN() AFX_WM_ENTRY(WM_KEYDOWN, AfxSig_v_uuu, void (CWnd::*)(UINT, UINT, UINT), OnKeyDown)
#define ON_WM_KEYUP() AFX_WM_ENTRY(WM_KEYUP, AfxSig_v_uuu, void (CWnd::*)(UINT, UINT, UINT), OnKeyUp)
#define ON_WM_CHAR() AFX_WM_ENTRY(WM_CHAR, AfxSig_v_uuu, void (CWnd::*)(UINT, UINT, UINT), OnChar)
#define ON_WM_SHOWWINDOW() AFX_WM_ENTRY(WM_SHOWWINDOW, AfxSig_v_b_u, void (CWnd::*)(BOOL, UINT), OnShowWindow)
#define ON_WM_ENABLE() AFX_WM_ENTRY(WM_ENABLE, AfxSig_v_b, void (CWnd::*)(BOOL), OnEnable)
#define ON_WM_SETTINGCHANGE() \
  AFX_WM_ENTRY(WM_SETTINGCHANGE, AfxSig_v_u_s, void (CWnd::*)(UINT, LPCTSTR), OnSettingChange)
#define ON_WM_DRAWITEM() \
  AFX_WM_ENTRY(WM_DRAWITEM, AfxSig_v_i_DRAW, void (CWnd::*)(int, LPDRAWITEMSTRUCT), OnDrawItem)
#define ON_WM_MEASUREITEM() \
  AFX_WM_ENTRY(WM_MEASUREITEM, AfxSig_v_i_MEASURE, void (CWnd::*)(int, LPMEASUREITEMSTRUCT), OnMeasureItem)
#define ON_WM_INITMENUPOPUP() \
  AFX_WM_ENTRY(WM_INITMENUPOPUP, AfxSig_v_M_u_b, void (CWnd::*)(CMenu*, UINT, BOOL), OnInitMenuPopup)
#define ON_WM_HSCROLL() \
  AFX_WM_ENTRY(WM_HSCROLL, AfxSig_v_uu_S, void (CWnd::*)(UINT, UINT, CScrollBar*), OnHScroll)
#define ON_WM_VSCROLL() \
  AFX_WM_ENTRY(WM_VSCROLL, AfxSig_v_uu_S, void (CWnd::*)(UINT, UINT, CScrollBar*), OnVScroll)
#define ON_WM_COPYDATA() \
  AFX_WM_ENTRY(WM_COPYDATA, AfxSig_b_W_COPY, BOOL (CWnd::*)(CWnd*, COPYDATASTRUCT*), OnCopyData)
#define ON_WM_CONTEXTMENU() \
  AFX_WM_ENTRY(WM_CONTEXTMENU, AfxSig_v_W_p, void (CWnd::*)(CWnd*, CPoint), OnContextMenu)
#define ON_WM_GETDLGCODE() AFX_WM_ENTRY(WM_GETDLGCODE, AfxSig_u_v, UINT (CWnd::*)(), OnGetDlgCode)
#define ON_WM_CANCELMODE() AFX_WM_ENTRY(WM_CANCELMODE, AfxSig_v_v, void (CWnd::*)(), OnCancelMode)
// One handler for every WM_CTLCOLOR... message; nCtlColor tells which.
#define ON_WM_CTLCOLOR()                                                                    \
  AFX_WM_ENTRY(WM_CTLCOLORMSGBOX, AfxSig_h_D_W_u, HBRUSH (CWnd::*)(CDC*, CWnd*, UINT), OnCtlColor) \
  AFX_WM_ENTRY(WM_CTLCOLOREDIT, AfxSig_h_D_W_u, HBRUSH (CWnd::*)(CDC*, CWnd*, UINT), OnCtlColor)   \
  AFX_WM_ENTRY(WM_CTLCOLORLISTBOX, AfxSig_h_D_W_u, HBRUSH (CWnd::*)(CDC*, CWnd*, UINT), OnCtlColor) \
  AFX_WM_ENTRY(WM_CTLCOLORBTN, AfxSig_h_D_W_u, HBRUSH (CWnd::*)(CDC*, CWnd*, UINT), OnCtlColor)    \
  AFX_WM_ENTRY(WM_CTLCOLORDLG, AfxSig_h_D_W_u, HBRUSH (CWnd::*)(CDC*, CWnd*, UINT), OnCtlColor)    \
  AFX_WM_ENTRY(WM_CTLCOLORSCROLLBAR, AfxSig_h_D_W_u, HBRUSH (CWnd::*)(CDC*, CWnd*, UINT), OnCtlColor) \
  AFX_WM_ENTRY(WM_CTLCOLORSTATIC, AfxSig_h_D_W_u, HBRUSH (CWnd::*)(CDC*, CWnd*, UINT), OnCtlColor)
#define CTLCOLOR_MSGBOX 0
#define CTLCOLOR_EDIT 1
#define CTLCOLOR_LISTBOX 2
#define CTLCOLOR_BTN 3
#define CTLCOLOR_DLG 4
#define CTLCOLOR_SCROLLBAR 5
#define CTLCOLOR_STATIC 6

#define ON_MESSAGE(message, fn) \
  {message, 0, 0, 0, AfxSig_l_wl, AFX_HANDLER(LRESULT (CWnd::*)(WPARAM, LPARAM), &ThisClass::fn), nullptr},
#define ON_REGISTERED_MESSAGE(messageVariable, fn)                                                    \
  {0xC000, 0, 0, 0, AfxSig_l_wl, AFX_HANDLER(LRESULT (CWnd::*)(WPARAM, LPARAM), &ThisClass::fn), \
   &messageVariable},

#define ON_COMMAND(id, fn) \
  {WM_COMMAND, CN_COMMAND, static_cast<UINT>(id), static_cast<UINT>(id), AfxSig_cmd_v, \
   AFX_HANDLER(void (CCmdTarget::*)(), &ThisClass::fn), nullptr},
#define ON_COMMAND_EX(id, fn) \
  {WM_COMMAND, CN_COMMAND, static_cast<UINT>(id), static_cast<UINT>(id), AfxSig_cmd_b_u, \
   AFX_HANDLER(BOOL (CCmdTarget::*)(UINT), &ThisClass::fn), nullptr},
#define ON_COMMAND_RANGE(id, idLast, fn) \
  {WM_COMMAND, CN_COMMAND, static_cast<UINT>(id), static_cast<UINT>(idLast), AfxSig_cmd_u, \
   AFX_HANDLER(void (CCmdTarget::*)(UINT), &ThisClass::fn), nullptr},
#define ON_UPDATE_COMMAND_UI(id, fn) \
  {WM_COMMAND, CN_UPDATE_COMMAND_UI, static_cast<UINT>(id), static_cast<UINT>(id), AfxSig_cmd_ui, \
   AFX_HANDLER(void (CCmdTarget::*)(CCmdUI*), &ThisClass::fn), nullptr},
#define ON_UPDATE_COMMAND_UI_RANGE(id, idLast, fn) \
  {WM_COMMAND, CN_UPDATE_COMMAND_UI, static_cast<UINT>(id), static_cast<UINT>(idLast), AfxSig_cmd_ui, \
   AFX_HANDLER(void (CCmdTarget::*)(CCmdUI*), &ThisClass::fn), nullptr},
// A control's notification by its code, as a command.
#define ON_CONTROL(code, id, fn) \
  {WM_COMMAND, static_cast<UINT>(code), static_cast<UINT>(id), static_cast<UINT>(id), AfxSig_cmd_v, \
   AFX_HANDLER(void (CCmdTarget::*)(), &ThisClass::fn), nullptr},
#define ON_BN_CLICKED(id, fn) ON_CONTROL(BN_CLICKED, id, fn)
#define ON_EN_CHANGE(id, fn) ON_CONTROL(EN_CHANGE, id, fn)
#define ON_EN_UPDATE(id, fn) ON_CONTROL(EN_UPDATE, id, fn)
#define ON_EN_SETFOCUS(id, fn) ON_CONTROL(EN_SETFOCUS, id, fn)
#define ON_EN_KILLFOCUS(id, fn) ON_CONTROL(EN_KILLFOCUS, id, fn)
#define ON_LBN_SELCHANGE(id, fn) ON_CONTROL(LBN_SELCHANGE, id, fn)
#define ON_CBN_SELCHANGE(id, fn) ON_CONTROL(CBN_SELCHANGE, id, fn)
#define ON_NOTIFY(code, id, fn) \
  {WM_NOTIFY, static_cast<UINT>(code), static_cast<UINT>(id), static_cast<UINT>(id), AfxSig_notify, \
   AFX_HANDLER(void (CCmdTarget::*)(NMHDR*, LRESULT*), &ThisClass::fn), nullptr},
#define ON_NOTIFY_EX(code, id, fn) \
  {WM_NOTIFY, static_cast<UINT>(code), static_cast<UINT>(id), static_cast<UINT>(id), AfxSig_notify_b, \
   AFX_HANDLER(BOOL (CCmdTarget::*)(UINT, NMHDR*, LRESULT*), &ThisClass::fn), nullptr},
// Entries of a control's own map for what its parent received from it.
#define ON_NOTIFY_REFLECT(code, fn) \
  {WM_REFLECT_BASE + WM_NOTIFY, static_cast<UINT>(code), 0, 0, AfxSig_notify, \
   AFX_HANDLER(void (CCmdTarget::*)(NMHDR*, LRESULT*), &ThisClass::fn), nullptr},
#define ON_CONTROL_REFLECT(code, fn) \
  {WM_REFLECT_BASE + WM_COMMAND, static_cast<UINT>(code), 0, 0, AfxSig_cmd_v, \
   AFX_HANDLER(void (CCmdTarget::*)(), &ThisClass::fn), nullptr},
#define ON_WM_DRAWITEM_REFLECT() \
  {WM_REFLECT_BASE + WM_DRAWITEM, 0, 0, 0, AfxSig_v_DRAW, \
   AFX_HANDLER(void (CWnd::*)(LPDRAWITEMSTRUCT), &ThisClass::DrawItem), nullptr},
#define ON_WM_MEASUREITEM_REFLECT() \
  {WM_REFLECT_BASE + WM_MEASUREITEM, 0, 0, 0, AfxSig_v_MEASURE, \
   AFX_HANDLER(void (CWnd::*)(LPMEASUREITEMSTRUCT), &ThisClass::MeasureItem), nullptr},
#define ON_WM_CTLCOLOR_REFLECT() \
  {WM_REFLECT_BASE + WM_CTLCOLORMSGBOX, 0, 0, 0, AfxSig_h_D_u, \
   AFX_HANDLER(HBRUSH (CWnd::*)(CDC*, UINT), &ThisClass::CtlColor), nullptr},

// ------------------------------------------------------------ command targets

// Anything that receives commands through a message map.
class CCmdTarget {
 public:
  CCmdTarget() = default;
  virtual ~CCmdTarget() = default;
  CCmdTarget(const CCmdTarget&) = delete;
  CCmdTarget& operator=(const CCmdTarget&) = delete;

  // Looks for the command's entry (nCode CN_COMMAND or a notification
  // code, or CN_UPDATE_COMMAND_UI with pExtra the CCmdUI*, or WM_NOTIFY
  // codes with pExtra an AFX_NOTIFY*) and calls it. TRUE when handled.
  virtual BOOL OnCmdMsg(UINT nID, int nCode, void* pExtra, void* pHandlerInfo);

 protected:
  static const AFX_MSGMAP* GetThisMessageMap();
  virtual const AFX_MSGMAP* GetMessageMap() const;
  friend class CWnd;
};

// What a WM_NOTIFY handler gets through OnCmdMsg.
struct AFX_NOTIFY {
  LRESULT* pResult;
  NMHDR* pNMHDR;
};

// The state of one command's user interface (a menu item, a soft key): the
// command's ON_UPDATE_COMMAND_UI handler sets it.
class CCmdUI {
 public:
  CCmdUI() = default;
  virtual ~CCmdUI() = default;
  UINT m_nID = 0;
  UINT m_nIndex = 0;
  CMenu* m_pMenu = nullptr;
  CWnd* m_pOther = nullptr;
  BOOL m_bEnableChanged = FALSE;
  BOOL m_bContinueRouting = FALSE;
  UINT m_nIndexMax = 0;

  virtual void Enable(BOOL on = TRUE);
  virtual void SetCheck(int check = 1);
  virtual void SetRadio(BOOL on = TRUE) { SetCheck(on ? 1 : 0); }
  virtual void SetText(LPCTSTR text);
  void ContinueRouting() { m_bContinueRouting = TRUE; }
  // Asks target for the state; with disableIfNoHandler a command nobody
  // handles is disabled. TRUE when a handler ran.
  BOOL DoUpdate(CCmdTarget* target, BOOL disableIfNoHandler);
};

// ------------------------------------------------------------ windows

struct CCreateContext;
class CFrameWnd;

class CWnd : public CCmdTarget {
 public:
  CWnd();
  ~CWnd() override;

  HWND m_hWnd = nullptr;
  operator HWND() const { return m_hWnd; }
  HWND GetSafeHwnd() const { return m_hWnd; }
  bool operator==(const CWnd& o) const { return m_hWnd == o.m_hWnd; }

  // The calling thread's object of a window (a temporary one when none is
  // attached), or null for a null handle.
  static CWnd* FromHandle(HWND hwnd);
  static CWnd* FromHandlePermanent(HWND hwnd);
  // Deletes the calling thread's temporary objects (idle time).
  static void DeleteTempMap();

  BOOL Attach(HWND hwnd);
  HWND Detach();
  // Attaches to an existing window and routes its messages through the map.
  BOOL SubclassWindow(HWND hwnd);
  BOOL SubclassDlgItem(UINT id, CWnd* parent);
  HWND UnsubclassWindow();

  virtual BOOL PreCreateWindow(CREATESTRUCT& cs);
  // Runs when the object is attached to its window by creation or
  // subclassing, before the window's messages reach the map.
  virtual void PreSubclassWindow();
  virtual BOOL Create(LPCTSTR className, LPCTSTR windowName, DWORD style, const RECT& rect, CWnd* parent, UINT id,
                      CCreateContext* context = nullptr);
  virtual BOOL CreateEx(DWORD exStyle, LPCTSTR className, LPCTSTR windowName, DWORD style, int x, int y,
                        int width, int height, HWND parent, HMENU idOrMenu, LPVOID param = nullptr);
  BOOL CreateEx(DWORD exStyle, LPCTSTR className, LPCTSTR windowName, DWORD style, const RECT& rect, CWnd* parent,
                UINT id, LPVOID param = nullptr);
  virtual BOOL DestroyWindow();

  virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
  virtual LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);
  virtual BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);
  virtual BOOL OnCommand(WPARAM wParam, LPARAM lParam);
  virtual BOOL OnNotify(WPARAM wParam, LPARAM lParam, LRESULT* result);
  // A message the parent received from this control (a command, a
  // notification, a colour or drawing request); TRUE when the control took it.
  virtual BOOL OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);
  BOOL ReflectChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);
  static BOOL ReflectLastMsg(HWND child, LRESULT* result = nullptr);
  // Key and pointer messages before dispatch; TRUE when taken.
  virtual BOOL PreTranslateMessage(MSG* msg);
  // Offers msg to PreTranslateMessage of its window and each parent up to stop.
  static BOOL WalkPreTranslateTree(HWND stop, MSG* msg);
  // Whether a window and the top-level window that holds it are enabled:
  // one held under a modal dialog or message box takes no keys.
  static BOOL TakesKeys(HWND hwnd);
  virtual void PostNcDestroy();
  virtual void CalcWindowRect(LPRECT rect, UINT adjust = 0);
  // The message being handled, handed to the default procedure.
  LRESULT Default();
  static const MSG* GetCurrentMessage();

  LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const {
    return ::SendMessageW(m_hWnd, message, wParam, lParam);
  }
  BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const {
    return ::PostMessageW(m_hWnd, message, wParam, lParam);
  }
  void SendMessageToDescendants(UINT message, WPARAM wParam = 0, LPARAM lParam = 0, BOOL deep = TRUE,
                                BOOL onlyPermanent = FALSE);

  BOOL ShowWindow(int command) { return ::ShowWindow(m_hWnd, command); }
  BOOL IsWindowVisible() const { return ::IsWindowVisible(m_hWnd); }
  BOOL EnableWindow(BOOL enable = TRUE) { return ::EnableWindow(m_hWnd, enable); }
  BOOL IsWindowEnabled() const { return ::IsWindowEnabled(m_hWnd); }
  void MoveWindow(int x, int y, int width, int height, BOOL repaint = TRUE) {
    ::MoveWindow(m_hWnd, x, y, width, height, repaint);
  }
  void MoveWindow(const RECT* rect, BOOL repaint = TRUE) {
    ::MoveWindow(m_hWnd, rect->left, rect->top, rect->right - rect->left, rect->bottom - rect->top, repaint);
  }
  BOOL SetWindowPos(const CWnd* after, int x, int y, int width, int height, UINT flags) {
    return ::SetWindowPos(m_hWnd, after ? after->m_hWnd : nullptr, x, y, width, height, flags);
  }
  void GetWindowRect(LPRECT rect) const { ::GetWindowRect(m_hWnd, rect); }
  void GetClientRect(LPRECT rect) const { ::GetClientRect(m_hWnd, rect); }
  void ClientToScreen(LPPOINT point) const { ::ClientToScreen(m_hWnd, point); }
  void ClientToScreen(LPRECT rect) const;
  void ScreenToClient(LPPOINT point) const { ::ScreenToClient(m_hWnd, point); }
  void ScreenToClient(LPRECT rect) const;
  void Invalidate(BOOL erase = TRUE) { ::InvalidateRect(m_hWnd, nullptr, erase); }
  void InvalidateRect(const RECT* rect, BOOL erase = TRUE) { ::InvalidateRect(m_hWnd, rect, erase); }
  void ValidateRect(const RECT* rect) { ::ValidateRect(m_hWnd, rect); }
  void UpdateWindow() { ::UpdateWindow(m_hWnd); }
  void CenterWindow(CWnd* alternateOwner = nullptr);

  void SetWindowText(LPCTSTR text) { ::SetWindowTextW(m_hWnd, text); }
  int GetWindowText(LPTSTR text, int cch) const { return ::GetWindowTextW(m_hWnd, text, cch); }
  void GetWindowText(CString& text) const;
  int GetWindowTextLength() const { return ::GetWindowTextLengthW(m_hWnd); }
  void SetFont(HFONT font, BOOL redraw = TRUE) {
    SendMessage(WM_SETFONT, reinterpret_cast<WPARAM>(font), redraw);
  }
  HFONT GetFont() const { return reinterpret_cast<HFONT>(SendMessage(WM_GETFONT)); }

  CWnd* GetDlgItem(int id) const { return FromHandle(::GetDlgItem(m_hWnd, id)); }
  int GetDlgCtrlID() const { return ::GetDlgCtrlID(m_hWnd); }
  int SetDlgCtrlID(int id) { return static_cast<int>(::SetWindowLongW(m_hWnd, GWL_ID, id)); }
  void SetDlgItemText(int id, LPCTSTR text) { ::SetDlgItemTextW(m_hWnd, id, text); }
  int GetDlgItemText(int id, LPTSTR text, int cch) const {
    return static_cast<int>(::GetDlgItemTextW(m_hWnd, id, text, cch));
  }
  int GetDlgItemText(int id, CString& text) const;
  void SetDlgItemInt(int id, UINT value, BOOL isSigned = TRUE) { ::SetDlgItemInt(m_hWnd, id, value, isSigned); }
  UINT GetDlgItemInt(int id, BOOL* translated = nullptr, BOOL isSigned = TRUE) const {
    return ::GetDlgItemInt(m_hWnd, id, translated, isSigned);
  }
  void CheckDlgButton(int id, UINT check) { ::CheckDlgButton(m_hWnd, id, check); }
  UINT IsDlgButtonChecked(int id) const { return ::IsDlgButtonChecked(m_hWnd, id); }
  LRESULT SendDlgItemMessage(int id, UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const {
    return ::SendDlgItemMessageW(m_hWnd, id, message, wParam, lParam);
  }

  CWnd* GetParent() const { return FromHandle(::GetParent(m_hWnd)); }
  CWnd* SetParent(CWnd* parent) { return FromHandle(::SetParent(m_hWnd, parent ? parent->m_hWnd : nullptr)); }
  CWnd* GetOwner() const { return FromHandle(::GetWindow(m_hWnd, GW_OWNER)); }
  CWnd* GetTopLevelParent() const;
  CWnd* GetWindow(UINT relation) const { return FromHandle(::GetWindow(m_hWnd, relation)); }
  BOOL IsChild(const CWnd* wnd) const { return wnd && ::IsChild(m_hWnd, wnd->m_hWnd); }
  DWORD GetStyle() const { return static_cast<DWORD>(::GetWindowLongW(m_hWnd, GWL_STYLE)); }
  DWORD GetExStyle() const { return static_cast<DWORD>(::GetWindowLongW(m_hWnd, GWL_EXSTYLE)); }
  BOOL ModifyStyle(DWORD remove, DWORD add, UINT flags = 0);
  BOOL ModifyStyleEx(DWORD remove, DWORD add, UINT flags = 0);

  CWnd* SetFocus() { return FromHandle(::SetFocus(m_hWnd)); }
  static CWnd* GetFocus() { return FromHandle(::GetFocus()); }
  CWnd* SetActiveWindow() { return FromHandle(::SetActiveWindow(m_hWnd)); }
  static CWnd* GetActiveWindow() { return FromHandle(::GetActiveWindow()); }
  BOOL SetForegroundWindow() { return ::SetForegroundWindow(m_hWnd); }
  static CWnd* GetForegroundWindow() { return FromHandle(::GetForegroundWindow()); }
  CWnd* SetCapture() { return FromHandle(::SetCapture(m_hWnd)); }
  static CWnd* GetCapture() { return FromHandle(::GetCapture()); }

  UINT_PTR SetTimer(UINT_PTR id, UINT elapseMs, TIMERPROC proc = nullptr) {
    return ::SetTimer(m_hWnd, id, elapseMs, proc);
  }
  BOOL KillTimer(UINT_PTR id) { return ::KillTimer(m_hWnd, id); }
  CDC* BeginPaint(LPPAINTSTRUCT paint);
  void EndPaint(const PAINTSTRUCT* paint) { ::EndPaint(m_hWnd, paint); }
  CDC* GetDC();
  int ReleaseDC(CDC* dc);
  int MessageBox(LPCTSTR text, LPCTSTR caption = nullptr, UINT type = MB_OK) {
    return ::MessageBoxW(m_hWnd, text, caption, type);
  }

  // The frame that holds this window, or null.
  CFrameWnd* GetParentFrame() const;
  CFrameWnd* GetTopLevelFrame() const;

  // Handlers; the defaults run the window's default procedure.
  int OnCreate(LPCREATESTRUCTW cs);
  void OnDestroy();
  void OnNcDestroy();
  void OnClose();
  void OnPaint();
  BOOL OnEraseBkgnd(CDC* dc);
  void OnSize(UINT type, int cx, int cy);
  void OnMove(int x, int y);
  void OnTimer(UINT_PTR id);
  void OnActivate(UINT state, CWnd* other, BOOL minimized);
  void OnSetFocus(CWnd* old);
  void OnKillFocus(CWnd* next);
  void OnCaptureChanged(CWnd* wnd);
  void OnLButtonDown(UINT flags, CPoint point);
  void OnLButtonUp(UINT flags, CPoint point);
  void OnLButtonDblClk(UINT flags, CPoint point);
  void OnMouseMove(UINT flags, CPoint point);
  void OnKeyDown(UINT ch, UINT repeat, UINT flags);
  void OnKeyUp(UINT ch, UINT repeat, UINT flags);
  void OnChar(UINT ch, UINT repeat, UINT flags);
  void OnShowWindow(BOOL show, UINT status);
  void OnEnable(BOOL enable);
  void OnSettingChange(UINT flags, LPCTSTR section);
  void OnDrawItem(int id, LPDRAWITEMSTRUCT draw);
  void OnMeasureItem(int id, LPMEASUREITEMSTRUCT measure);
  void OnInitMenuPopup(CMenu* popup, UINT index, BOOL sysMenu);
  HBRUSH OnCtlColor(CDC* dc, CWnd* wnd, UINT ctlColor);
  void OnHScroll(UINT code, UINT pos, CScrollBar* bar);
  void OnVScroll(UINT code, UINT pos, CScrollBar* bar);
  BOOL OnCopyData(CWnd* wnd, COPYDATASTRUCT* data);
  void OnContextMenu(CWnd* wnd, CPoint point);
  UINT OnGetDlgCode();
  void OnCancelMode();

 protected:
  WNDPROC m_pfnSuper = nullptr;  // the procedure the window had before the framework's
  DECLARE_MESSAGE_MAP()

 private:
  friend LRESULT AfxCallWndProc(CWnd* wnd, HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  bool permanent_ = false;
};

class CScrollBar : public CWnd {};

// The calling thread's object of a window as a T: the attached object when
// it is one, else a temporary T of the thread.
template <class T>
T* AfxTypedFromHandle(HWND hwnd) {
  if (!hwnd) return nullptr;
  if (T* attached = dynamic_cast<T*>(CWnd::FromHandlePermanent(hwnd))) return attached;
  thread_local std::unordered_map<HWND, std::unique_ptr<T>> temporary;
  auto& slot = temporary[hwnd];
  if (!slot) {
    slot = std::make_unique<T>();
    slot->m_hWnd = hwnd;
  }
  return slot.get();
}

// The framework's window procedure: hands the message to the window's CWnd.
LRESULT AfxWndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT AfxCallWndProc(CWnd* wnd, HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
// The next window created on this thread is attached to wnd.
void AfxHookWindowCreate(CWnd* wnd);
BOOL AfxUnhookWindowCreate();
// Registers a program's window class as the framework does on the device:
// under the name "WCE_" + its name (the name other programs find it by);
// CWnd::CreateEx finds it by the name given here.
BOOL AfxRegisterClass(WNDCLASSW* wc);
// A class of the framework's own with these styles (procedure
// DefWindowProc), registered once; returns its name.
LPCTSTR AfxRegisterWndClass(UINT classStyle, HCURSOR cursor = nullptr, HBRUSH background = nullptr,
                            HICON icon = nullptr);
// The class name a window is made with: "WCE_" + name for classes that
// AfxRegisterClass registered, else name itself.
CString AfxRegisteredClassName(LPCTSTR name);
// The framework's pre-translation of msg on the calling thread.
BOOL AfxPreTranslateMessage(MSG* msg);
