// Internal to the controls: the base class every control derives from, the
// helpers they share (notifications, fonts, the look), and the scroll bar
// part that list boxes, list views and multi-line edits embed.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "controls/commctrl.h"
#include "user/input.h"

namespace qk::controls {

// A control: one object per window, kept in the window's first extra bytes
// from WM_NCCREATE (or WM_CREATE) to WM_NCDESTROY.
class Control {
 public:
  explicit Control(HWND hwnd) : hwnd_(hwnd) {}
  virtual ~Control() = default;
  virtual LRESULT Handle(UINT msg, WPARAM wParam, LPARAM lParam);
  // Draws the whole control on dc (client co-ordinates).
  virtual void Paint(HDC dc) = 0;

  HWND hwnd() const { return hwnd_; }
  DWORD Style() const { return static_cast<DWORD>(GetWindowLongW(hwnd_, GWL_STYLE)); }
  bool Enabled() const { return IsWindowEnabled(hwnd_) != FALSE; }
  bool Focused() const { return GetFocus() == hwnd_; }
  RECT Client() const;
  int Width() const;
  int Height() const;
  std::u16string Text() const;
  HFONT Font() const;
  // The font's line height and ascent.
  int LineHeight() const;
  void Redraw();
  // WM_COMMAND to the parent with this control's id and the code.
  void Command(WORD code) const;
  // WM_NOTIFY to the parent; header filled in; returns the parent's answer.
  LRESULT Notify(NMHDR* header, UINT code) const;
  LRESULT Notify(UINT code) const;

 protected:
  // Ends the press of an arrow button (`pressed` non-zero) on WM_LBUTTONUP or
  // WM_CAPTURECHANGED: the button drawn up again and, on the button's
  // release, the capture given back.
  void EndArrowPress(UINT msg, int& pressed);
  // Paints through a memory bitmap and copies it to the window in one blit.
  void PaintBuffered(HDC target);
  HWND hwnd_;
  HFONT font_ = nullptr;
};

// The window procedure of class T; T(HWND) is created on first message.
template <class T>
LRESULT ControlProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  auto* c = reinterpret_cast<Control*>(GetWindowLongW(hwnd, 0));
  if (!c) {
    if (msg == WM_NCDESTROY) return DefWindowProcW(hwnd, msg, wParam, lParam);
    c = new T(hwnd);
    SetWindowLongW(hwnd, 0, reinterpret_cast<LONG_PTR>(c));
  }
  if (msg == WM_NCDESTROY) {
    SetWindowLongW(hwnd, 0, 0);
    delete c;
    return DefWindowProcW(hwnd, msg, wParam, lParam);
  }
  return c->Handle(msg, wParam, lParam);
}

template <class T>
T* ControlOf(HWND hwnd) {
  return dynamic_cast<T*>(reinterpret_cast<Control*>(GetWindowLongW(hwnd, 0)));
}

// ---------------------------------------------------------------- the look

int Scale(int lengthAt96Dpi);
COLORREF Sys(int index);
COLORREF Blend(COLORREF a, COLORREF b, int weightOfA255);
void Fill(HDC dc, const RECT& r, COLORREF colour);
// A one-pixel-wide (scaled) frame inside r.
void Frame(HDC dc, const RECT& r, COLORREF colour, int width = 1);
// The keyboard focus: a thin highlight-coloured frame inside r.
void FocusFrame(HDC dc, const RECT& r);
enum class Arrow { Up, Down, Left, Right };
// A filled triangle centred in r.
void DrawArrow(HDC dc, const RECT& r, Arrow direction, COLORREF colour);
// One of a pair of arrow buttons (up-down control, date-time picker) filling
// r with a `line`-wide frame: highlighted while pressed, its arrow grey when
// the button cannot act.
void DrawArrowButton(HDC dc, const RECT& r, Arrow direction, bool pressed, bool greyed, int line);
// Check mark filling r.
void DrawCheckMark(HDC dc, const RECT& r, COLORREF colour);
// A filled disc in r (antialiased edge).
void DrawDisc(HDC dc, const RECT& r, COLORREF colour);
// Text with the DC's font, single line, vertically centred, cut with "..."
// when it does not fit.
void DrawLabel(HDC dc, const std::u16string& text, RECT r, UINT align, COLORREF colour);
// Parent colours: sends WM_CTLCOLOR* and returns the brush (null when the
// parent answered nothing); the text colour the parent chose (or the
// default one) is left in dc.
HBRUSH ParentColours(HWND control, HDC dc, UINT message);
// Invalidates a window and every window below it.
void InvalidateTree(HWND hwnd);

// ---------------------------------------------------------------- scroll bar part

// A scroll bar drawn inside a control's client area (vertical or
// horizontal), with its range, page and position, arrow buttons and a
// draggable thumb. The owner forwards pointer input that falls on it.
class ScrollPart {
 public:
  explicit ScrollPart(bool vertical) : vertical_(vertical) {}
  void SetInfo(const SCROLLINFO& info);
  void GetInfo(SCROLLINFO* info) const;
  int Pos() const { return pos_; }
  int Min() const { return min_; }
  int Max() const { return max_; }
  int Page() const { return page_; }
  // Largest position the range and page allow.
  int Limit() const;
  // Moves the position (clamped); true when it changed.
  bool SetPos(int pos);
  bool Vertical() const { return vertical_; }
  // Scrolling is possible (the range is larger than the page).
  bool Needed() const { return max_ - min_ + 1 > static_cast<int>(page_ == 0 ? 1 : page_) && max_ > min_; }
  void SetRect(const RECT& r) { rect_ = r; }
  const RECT& Rect() const { return rect_; }
  void Paint(HDC dc, bool enabled) const;
  // Pointer input in the owner's client co-ordinates. Down returns the
  // scroll code (SB_LINEUP...) the press starts, or -1 when off the bar;
  // a drag of the thumb reports SB_THUMBTRACK with the track position.
  int Down(POINT p);
  int Drag(POINT p, int* trackPos);
  void Up();
  bool Dragging() const { return dragging_; }

 private:
  RECT ThumbRect() const;
  int ArrowLength() const;
  bool vertical_;
  int min_ = 0, max_ = 100, pos_ = 0;
  UINT page_ = 0;
  RECT rect_{};
  bool dragging_ = false;
  int dragOffset_ = 0;
  int pressed_ = -1;
};

// Registration of each class (init.cpp calls them).
void RegisterButton();
void RegisterStatic();
void RegisterEdit();
void RegisterListBox();
void RegisterComboBox();
void RegisterScrollBar();
void RegisterListView();
void RegisterUpDown();
void RegisterDateTime();
void RegisterTab();
void RegisterProgress();
void RegisterClass(const char16_t* name, WNDPROC proc);

// Caret state of the calling thread (caret.cpp), for the edit's painting.
struct CaretState {
  HWND owner = nullptr;
  int x = 0, y = 0, width = 0, height = 0;
  int hidden = 0;
};
CaretState CurrentCaret();

}  // namespace qk::controls
