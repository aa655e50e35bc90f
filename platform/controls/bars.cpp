// "SCROLLBAR", "msctls_progress32" and "msctls_updown32".
//
// A scroll bar control reports the user's scrolling to its parent with
// WM_VSCROLL or WM_HSCROLL (lParam the control) and moves its thumb only
// when told (SBM_SETPOS, SBM_SETSCROLLINFO), as the platform's does; while
// the thumb is dragged it follows the pointer and reports SB_THUMBTRACK.
//
// Arrows held down repeat (after 400 ms, every 60 ms).
//
// An up-down control asks its parent with UDN_DELTAPOS before every step
// (a non-zero answer refuses it), then moves its position within the range
// and reports WM_VSCROLL (WM_HSCROLL with UDS_HORZ) with SB_THUMBPOSITION.
// The range may run either way: the up arrow moves towards the upper bound.
// With a buddy window and UDS_SETBUDDYINT the position is written into the
// buddy as text.
#include <algorithm>
#include <cstdio>

#include "controls/control.h"
#include "kernel/wstring.h"

namespace qk::controls {
namespace {

// A held arrow of a scroll bar or an up-down control repeats: first after
// a pause, then steadily.
constexpr UINT_PTR kRepeatTimer = 1;
constexpr UINT kRepeatDelayMs = 400;
constexpr UINT kRepeatEveryMs = 60;

// ---------------------------------------------------------------- scroll bar

class ScrollBar : public Control {
 public:
  explicit ScrollBar(HWND hwnd) : Control(hwnd), part_((GetWindowLongW(hwnd, GWL_STYLE) & SBS_VERT) != 0) {}

  LRESULT Handle(UINT msg, WPARAM wParam, LPARAM lParam) override {
    switch (msg) {
      case SBM_SETPOS: {
        int old = part_.Pos();
        part_.SetPos(static_cast<int>(wParam));
        if (lParam) Redraw();
        return old;
      }
      case SBM_GETPOS:
        return part_.Pos();
      case SBM_SETRANGE:
      case SBM_SETRANGEREDRAW: {
        SCROLLINFO si{sizeof si, SIF_RANGE, static_cast<int>(wParam), static_cast<int>(lParam), 0, 0, 0};
        part_.SetInfo(si);
        Redraw();
        return part_.Pos();
      }
      case SBM_GETRANGE:
        if (wParam) *reinterpret_cast<LPINT>(wParam) = part_.Min();
        if (lParam) *reinterpret_cast<LPINT>(lParam) = part_.Max();
        return 0;
      case SBM_SETSCROLLINFO:
        if (!lParam) return 0;
        part_.SetInfo(*reinterpret_cast<const SCROLLINFO*>(lParam));
        if (wParam) Redraw();
        return part_.Pos();
      case SBM_GETSCROLLINFO:
        if (!lParam) return FALSE;
        part_.GetInfo(reinterpret_cast<SCROLLINFO*>(lParam));
        if (dragging_ && (reinterpret_cast<SCROLLINFO*>(lParam)->fMask & SIF_TRACKPOS))
          reinterpret_cast<SCROLLINFO*>(lParam)->nTrackPos = track_;
        return TRUE;
      case WM_GETDLGCODE:
        return DLGC_WANTARROWS;
      case WM_LBUTTONDOWN:
      case WM_LBUTTONDBLCLK: {
        if (!Enabled()) return 0;
        part_.SetRect(Client());
        POINT p{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
        int code = part_.Down(p);
        if (code < 0) return 0;
        SetCapture(hwnd_);
        if (code == SB_THUMBTRACK) {
          dragging_ = true;
          track_ = part_.Pos();
        } else {
          Report(code, 0);
          repeat_ = code;  // held, the press repeats
          SetTimer(hwnd_, kRepeatTimer, kRepeatDelayMs, nullptr);
        }
        Redraw();
        return 0;
      }
      case WM_TIMER:
        if (wParam != kRepeatTimer) return 0;
        if (repeat_ < 0) {
          KillTimer(hwnd_, kRepeatTimer);
          return 0;
        }
        Report(repeat_, 0);
        SetTimer(hwnd_, kRepeatTimer, kRepeatEveryMs, nullptr);
        return 0;
      case WM_MOUSEMOVE: {
        if (!dragging_) return 0;
        POINT p{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
        int pos = track_;
        if (part_.Drag(p, &pos) >= 0 && pos != track_) {
          track_ = pos;
          Report(SB_THUMBTRACK, pos);
        }
        return 0;
      }
      case WM_LBUTTONUP:
        if (GetCapture() == hwnd_) ReleaseCapture();
        [[fallthrough]];
      case WM_CAPTURECHANGED:
        if (repeat_ >= 0) {
          repeat_ = -1;
          KillTimer(hwnd_, kRepeatTimer);
        }
        if (dragging_) {
          dragging_ = false;
          part_.Up();
          Report(SB_THUMBPOSITION, track_);
          Report(SB_ENDSCROLL, 0);
        } else if (msg == WM_LBUTTONUP) {
          part_.Up();
          Report(SB_ENDSCROLL, 0);
        }
        Redraw();
        return 0;
      case WM_KEYDOWN: {
        int code = -1;
        switch (wParam) {
          case VK_UP: case VK_LEFT: code = SB_LINEUP; break;
          case VK_DOWN: case VK_RIGHT: code = SB_LINEDOWN; break;
          case VK_PRIOR: code = SB_PAGEUP; break;
          case VK_NEXT: code = SB_PAGEDOWN; break;
          case VK_HOME: code = SB_TOP; break;
          case VK_END: code = SB_BOTTOM; break;
          default: break;
        }
        if (code >= 0) {
          Report(code, 0);
          Report(SB_ENDSCROLL, 0);
        }
        return 0;
      }
      default:
        return Control::Handle(msg, wParam, lParam);
    }
  }

  void Paint(HDC dc) override {
    RECT r = Client();
    ParentColours(hwnd_, dc, WM_CTLCOLORSCROLLBAR);
    part_.SetRect(r);
    if (dragging_) {
      ScrollPart shown = part_;
      shown.SetPos(track_);
      shown.Paint(dc, Enabled());
    } else {
      part_.Paint(dc, Enabled());
    }
  }

 private:
  void Report(int code, int pos) {
    HWND parent = GetParent(hwnd_);
    if (!parent) return;
    SendMessageW(parent, part_.Vertical() ? WM_VSCROLL : WM_HSCROLL, MAKEWPARAM(code, pos),
                 reinterpret_cast<LPARAM>(hwnd_));
  }

  ScrollPart part_;
  bool dragging_ = false;
  int track_ = 0;
  int repeat_ = -1;  // the scroll code a held press repeats
};

// ---------------------------------------------------------------- progress bar

class Progress : public Control {
 public:
  using Control::Control;

  LRESULT Handle(UINT msg, WPARAM wParam, LPARAM lParam) override {
    switch (msg) {
      case PBM_SETRANGE: {
        LRESULT old = MAKELRESULT(low_, high_);
        SetRange(static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam)));
        return old;
      }
      case PBM_SETRANGE32: {
        LRESULT old = MAKELRESULT(low_, high_);
        SetRange(static_cast<int>(wParam), static_cast<int>(lParam));
        return old;
      }
      case PBM_GETRANGE:
        if (lParam) *reinterpret_cast<PBRANGE*>(lParam) = PBRANGE{low_, high_};
        return wParam ? low_ : high_;
      case PBM_SETPOS:
        return Move(static_cast<int>(wParam));
      case PBM_DELTAPOS:
        return Move(pos_ + static_cast<int>(wParam));
      case PBM_SETSTEP: {
        int old = step_;
        step_ = static_cast<int>(wParam);
        return old;
      }
      case PBM_STEPIT: {
        int next = pos_ + step_;
        if (next > high_) next = low_ + (next - high_);  // stepping past the end starts again
        return Move(next);
      }
      case PBM_GETPOS:
        return pos_;
      case PBM_SETBARCOLOR: {
        COLORREF old = bar_;
        bar_ = static_cast<COLORREF>(lParam);
        Redraw();
        return old;
      }
      case PBM_SETBKCOLOR: {
        COLORREF old = ground_;
        ground_ = static_cast<COLORREF>(lParam);
        Redraw();
        return old;
      }
      case WM_GETDLGCODE:
        return DLGC_STATIC;
      default:
        return Control::Handle(msg, wParam, lParam);
    }
  }

  void Paint(HDC dc) override {
    RECT r = Client();
    int line = std::max(1, Scale(1));
    Fill(dc, r, ground_ == CLR_DEFAULT ? Blend(Sys(COLOR_BTNFACE), Sys(COLOR_WINDOW), 110) : ground_);
    Frame(dc, r, Sys(COLOR_BTNSHADOW), line);
    RECT in = r;
    InflateRect(&in, -2 * line, -2 * line);
    int span = std::max(1, high_ - low_);
    int filled = pos_ - low_;
    COLORREF colour = bar_ == CLR_DEFAULT ? Sys(COLOR_HIGHLIGHT) : bar_;
    if (Style() & PBS_VERTICAL) {
      int h = static_cast<int>(static_cast<int64_t>(in.bottom - in.top) * filled / span);
      Fill(dc, RECT{in.left, in.bottom - h, in.right, in.bottom}, colour);
    } else {
      int w = static_cast<int>(static_cast<int64_t>(in.right - in.left) * filled / span);
      Fill(dc, RECT{in.left, in.top, in.left + w, in.bottom}, colour);
    }
  }

 private:
  void SetRange(int low, int high) {
    low_ = low;
    high_ = std::max(low + 1, high);
    pos_ = std::clamp(pos_, low_, high_);
    Redraw();
  }
  int Move(int pos) {
    int old = pos_;
    pos_ = std::clamp(pos, low_, high_);
    if (pos_ != old) Redraw();
    return old;
  }

  int low_ = 0, high_ = 100, pos_ = 0, step_ = 10;
  COLORREF bar_ = CLR_DEFAULT, ground_ = CLR_DEFAULT;
};

// ---------------------------------------------------------------- up-down

class UpDown : public Control {
 public:
  using Control::Control;

  LRESULT Handle(UINT msg, WPARAM wParam, LPARAM lParam) override {
    switch (msg) {
      case WM_CREATE:
        if (Style() & UDS_AUTOBUDDY) SetBuddy(GetWindow(hwnd_, GW_HWNDPREV));
        return 0;
      case UDM_SETRANGE:
        lower_ = static_cast<short>(HIWORD(lParam));
        upper_ = static_cast<short>(LOWORD(lParam));
        pos_ = Clamp(pos_);
        Redraw();
        return 0;
      case UDM_SETRANGE32:
        lower_ = static_cast<int>(wParam);
        upper_ = static_cast<int>(lParam);
        pos_ = Clamp(pos_);
        Redraw();
        return 0;
      case UDM_GETRANGE:
        return MAKELRESULT(static_cast<WORD>(upper_), static_cast<WORD>(lower_));
      case UDM_GETRANGE32:
        if (wParam) *reinterpret_cast<LPINT>(wParam) = lower_;
        if (lParam) *reinterpret_cast<LPINT>(lParam) = upper_;
        return 0;
      case UDM_SETPOS: {
        int old = pos_;
        pos_ = Clamp(static_cast<short>(LOWORD(lParam)));
        ToBuddy();
        return old;
      }
      case UDM_SETPOS32: {
        int old = pos_;
        pos_ = Clamp(static_cast<int>(lParam));
        ToBuddy();
        return old;
      }
      case UDM_GETPOS:
        return MAKELRESULT(static_cast<WORD>(pos_), 0);
      case UDM_GETPOS32:
        if (lParam) *reinterpret_cast<BOOL*>(lParam) = FALSE;
        return pos_;
      case UDM_SETBUDDY: {
        HWND old = buddy_;
        SetBuddy(reinterpret_cast<HWND>(wParam));
        return reinterpret_cast<LRESULT>(old);
      }
      case UDM_GETBUDDY:
        return reinterpret_cast<LRESULT>(buddy_);
      case WM_GETDLGCODE:
        return (Style() & UDS_ARROWKEYS) ? DLGC_WANTARROWS : 0;
      case WM_LBUTTONDOWN:
      case WM_LBUTTONDBLCLK: {
        if (!Enabled()) return 0;
        POINT p{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
        RECT up = Half(true);
        pressed_ = PtInRect(&up, p) ? 1 : -1;
        Redraw();
        SetCapture(hwnd_);
        Step(pressed_);
        SetTimer(hwnd_, kRepeatTimer, kRepeatDelayMs, nullptr);  // held, the arrow repeats
        return 0;
      }
      case WM_TIMER:
        if (wParam != kRepeatTimer) return 0;
        if (!pressed_) {
          KillTimer(hwnd_, kRepeatTimer);
          return 0;
        }
        Step(pressed_);
        SetTimer(hwnd_, kRepeatTimer, kRepeatEveryMs, nullptr);
        return 0;
      case WM_LBUTTONUP:
      case WM_CAPTURECHANGED:
        KillTimer(hwnd_, kRepeatTimer);
        EndArrowPress(msg, pressed_);
        return 0;
      case WM_KEYDOWN:
        if (!(Style() & UDS_ARROWKEYS)) return 0;
        if (wParam == VK_UP || wParam == VK_RIGHT) Step(1);
        if (wParam == VK_DOWN || wParam == VK_LEFT) Step(-1);
        return 0;
      default:
        return Control::Handle(msg, wParam, lParam);
    }
  }

  void Paint(HDC dc) override {
    RECT r = Client();
    Fill(dc, r, Sys(COLOR_WINDOW));
    int line = std::max(1, Scale(1));
    bool enabled = Enabled();
    for (int dir : {1, -1}) {
      bool atEnd = !(Style() & UDS_WRAP) && Next(dir) == pos_;
      bool horz = (Style() & UDS_HORZ) != 0;
      Arrow a = horz ? (dir == 1 ? Arrow::Right : Arrow::Left) : (dir == 1 ? Arrow::Up : Arrow::Down);
      DrawArrowButton(dc, Half(dir == 1), a, pressed_ == dir, !enabled || atEnd, line);
    }
  }

 private:
  RECT Half(bool up) const {
    RECT r = Client();
    if (Style() & UDS_HORZ) {
      int mid = r.right / 2;
      return up ? RECT{mid, 0, r.right, r.bottom} : RECT{0, 0, mid, r.bottom};
    }
    int mid = r.bottom / 2;
    return up ? RECT{0, 0, r.right, mid} : RECT{0, mid, r.right, r.bottom};
  }
  int Clamp(int p) const { return std::clamp(p, std::min(lower_, upper_), std::max(lower_, upper_)); }
  // The position one step towards the upper bound (dir 1) or the lower.
  int Next(int dir) const { return Target(pos_, dir * (upper_ >= lower_ ? 1 : -1)); }
  // Where a step of delta from a position lands: outside the range it
  // wraps round or stays where it was.
  int Target(int from, int delta) const {
    int p = from + delta;
    if (p < std::min(lower_, upper_) || p > std::max(lower_, upper_)) {
      if (Style() & UDS_WRAP) return (delta > 0) == (upper_ >= lower_) ? lower_ : upper_;
      return from;
    }
    return p;
  }
  // The step goes from the position the notification named by its delta:
  // what the parent did meanwhile (it may set the position itself while
  // it shows the new value) does not move it a second time.
  void Step(int dir) {
    int towardsUpper = upper_ >= lower_ ? 1 : -1;
    NMUPDOWN nm{};
    nm.iPos = pos_;
    nm.iDelta = dir * towardsUpper;
    const int from = pos_;
    if (Notify(&nm.hdr, UDN_DELTAPOS)) return;  // the parent refused the step
    int next = Target(from, nm.iDelta);
    if (next == from) return;
    pos_ = next;
    ToBuddy();
    Redraw();
    HWND parent = GetParent(hwnd_);
    if (parent)
      SendMessageW(parent, (Style() & UDS_HORZ) ? WM_HSCROLL : WM_VSCROLL, MAKEWPARAM(SB_THUMBPOSITION, pos_),
                   reinterpret_cast<LPARAM>(hwnd_));
  }
  void SetBuddy(HWND buddy) {
    buddy_ = buddy;
    if (!buddy_ || !(Style() & (UDS_ALIGNLEFT | UDS_ALIGNRIGHT))) return;
    // An aligned up-down sits against its buddy's side.
    RECT b{};
    GetWindowRect(buddy_, &b);
    POINT tl{b.left, b.top};
    HWND parent = GetParent(hwnd_);
    if (parent) ScreenToClient(parent, &tl);
    int w = Width();
    int h = b.bottom - b.top;
    int x = (Style() & UDS_ALIGNLEFT) ? tl.x - w : tl.x + (b.right - b.left);
    MoveWindow(hwnd_, x, tl.y, w, h, TRUE);
  }
  void ToBuddy() {
    if (!buddy_ || !(Style() & UDS_SETBUDDYINT)) return;
    char digits[16];
    std::snprintf(digits, sizeof digits, "%d", pos_);
    std::u16string text(digits, digits + std::char_traits<char>::length(digits));
    SetWindowTextW(buddy_, text.c_str());
  }

  int lower_ = 100, upper_ = 0, pos_ = 0;
  int pressed_ = 0;
  HWND buddy_ = nullptr;
};

}  // namespace

void RegisterScrollBar() { RegisterClass(u"SCROLLBAR", ControlProc<ScrollBar>); }
void RegisterProgress() { RegisterClass(u"msctls_progress32", ControlProc<Progress>); }
void RegisterUpDown() { RegisterClass(u"msctls_updown32", ControlProc<UpDown>); }

}  // namespace qk::controls
