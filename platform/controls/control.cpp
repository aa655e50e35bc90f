// The control base, the shared look, the scroll bar part, the caret, the
// clipboard and the registration of every class.
#include <algorithm>
#include <cmath>
#include <mutex>

#include "controls/control.h"
#include "gdi/surface.h"

namespace qk::controls {

// ---------------------------------------------------------------- base

RECT Control::Client() const {
  RECT r{};
  GetClientRect(hwnd_, &r);
  return r;
}
int Control::Width() const { return Client().right; }
int Control::Height() const { return Client().bottom; }

std::u16string Control::Text() const {
  int n = GetWindowTextLengthW(hwnd_);
  std::u16string s(static_cast<size_t>(n) + 1, 0);
  GetWindowTextW(hwnd_, s.data(), n + 1);
  s.resize(static_cast<size_t>(n));
  return s;
}

HFONT Control::Font() const { return font_ ? font_ : static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT)); }

int Control::LineHeight() const {
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ old = SelectObject(dc, Font());
  TEXTMETRICW tm{};
  GetTextMetricsW(dc, &tm);
  SelectObject(dc, old);
  DeleteDC(dc);
  return std::max<int>(1, tm.tmHeight);
}

void Control::Redraw() { InvalidateRect(hwnd_, nullptr, FALSE); }

void Control::EndArrowPress(UINT msg, int& pressed) {
  if (pressed) {
    pressed = 0;
    Redraw();
  }
  if (msg == WM_LBUTTONUP && GetCapture() == hwnd_) ReleaseCapture();
}

void Control::Command(WORD code) const {
  HWND parent = GetParent(hwnd_);
  if (parent)
    SendMessageW(parent, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(hwnd_), code), reinterpret_cast<LPARAM>(hwnd_));
}

LRESULT Control::Notify(NMHDR* header, UINT code) const {
  header->hwndFrom = hwnd_;
  header->idFrom = static_cast<UINT_PTR>(GetDlgCtrlID(hwnd_));
  header->code = code;
  HWND parent = GetParent(hwnd_);
  return parent ? SendMessageW(parent, WM_NOTIFY, header->idFrom, reinterpret_cast<LPARAM>(header)) : 0;
}

LRESULT Control::Notify(UINT code) const {
  NMHDR h{};
  return Notify(&h, code);
}

void Control::PaintBuffered(HDC target) {
  RECT r = Client();
  if (r.right <= 0 || r.bottom <= 0) return;
  HDC mem = CreateCompatibleDC(target);
  HBITMAP bmp = CreateCompatibleBitmap(target, r.right, r.bottom);
  HGDIOBJ oldBmp = SelectObject(mem, bmp);
  HGDIOBJ oldFont = SelectObject(mem, Font());
  SetBkMode(mem, TRANSPARENT);
  Paint(mem);
  BitBlt(target, 0, 0, r.right, r.bottom, mem, 0, 0, SRCCOPY);
  SelectObject(mem, oldFont);
  SelectObject(mem, oldBmp);
  DeleteObject(bmp);
  DeleteDC(mem);
}

LRESULT Control::Handle(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_NCCREATE:
      DefWindowProcW(hwnd_, msg, wParam, lParam);  // the window layer's own set-up (the title)
      return TRUE;
    case WM_CREATE:
      return 0;
    case WM_SETFONT:
      font_ = reinterpret_cast<HFONT>(wParam);
      if (LOWORD(lParam)) Redraw();
      return 0;
    case WM_GETFONT:
      return reinterpret_cast<LRESULT>(font_);
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(hwnd_, &ps);
      if (dc) PaintBuffered(dc);
      EndPaint(hwnd_, &ps);
      return 0;
    }
    case WM_ERASEBKGND:
      return 1;
    case WM_ENABLE:
    case WM_SETFOCUS:
    case WM_KILLFOCUS:
    case WM_SIZE:
      Redraw();
      return 0;
    case WM_SETTEXT: {
      LRESULT r = DefWindowProcW(hwnd_, msg, wParam, lParam);
      Redraw();
      return r;
    }
    case WM_GETDLGCODE:
      return 0;
    default:
      return DefWindowProcW(hwnd_, msg, wParam, lParam);
  }
}

// ---------------------------------------------------------------- the look

int Scale(int n) { return n * qk::gdi::ScreenDpi() / 96; }

COLORREF Sys(int index) { return GetSysColor(index); }

COLORREF Blend(COLORREF a, COLORREF b, int w) {
  auto mix = [&](int shift) {
    int ca = (a >> shift) & 0xFF, cb = (b >> shift) & 0xFF;
    return static_cast<COLORREF>((ca * w + cb * (255 - w)) / 255) << shift;
  };
  return mix(0) | mix(8) | mix(16);
}

void Fill(HDC dc, const RECT& r, COLORREF colour) {
  COLORREF old = SetBkColor(dc, colour);
  ExtTextOutW(dc, 0, 0, ETO_OPAQUE, &r, nullptr, 0, nullptr);
  SetBkColor(dc, old);
}

void Frame(HDC dc, const RECT& r, COLORREF colour, int width) {
  int w = std::max(1, width);
  Fill(dc, RECT{r.left, r.top, r.right, r.top + w}, colour);
  Fill(dc, RECT{r.left, r.bottom - w, r.right, r.bottom}, colour);
  Fill(dc, RECT{r.left, r.top, r.left + w, r.bottom}, colour);
  Fill(dc, RECT{r.right - w, r.top, r.right, r.bottom}, colour);
}

void FocusFrame(HDC dc, const RECT& r) { Frame(dc, r, Sys(COLOR_HIGHLIGHT), std::max(1, Scale(1))); }

void DrawArrow(HDC dc, const RECT& r, Arrow d, COLORREF colour) {
  int w = r.right - r.left, h = r.bottom - r.top;
  // A solid triangle as deep as half its base, drawn span by span so that
  // its edges stay crisp at every size.
  int half = std::max(2, std::min(w, h) / 4);
  int cx = r.left + w / 2, cy = r.top + h / 2;
  int start = -(half / 2);
  for (int i = 0; i < half; ++i) {
    int spread = i + 1;  // half the width of this span
    RECT span{};
    switch (d) {
      case Arrow::Up:
        span = RECT{cx - spread, cy + start + i, cx + spread, cy + start + i + 1};
        break;
      case Arrow::Down:
        span = RECT{cx - spread, cy - start - i, cx + spread, cy - start - i + 1};
        break;
      case Arrow::Left:
        span = RECT{cx + start + i, cy - spread, cx + start + i + 1, cy + spread};
        break;
      case Arrow::Right:
        span = RECT{cx - start - i, cy - spread, cx - start - i + 1, cy + spread};
        break;
    }
    Fill(dc, span, colour);
  }
}

void DrawArrowButton(HDC dc, const RECT& r, Arrow direction, bool pressed, bool greyed, int line) {
  Fill(dc, r, pressed ? Sys(COLOR_HIGHLIGHT) : Blend(Sys(COLOR_BTNFACE), Sys(COLOR_WINDOW), 140));
  Frame(dc, r, Sys(COLOR_BTNSHADOW), line);
  DrawArrow(dc, r, direction,
            greyed ? Sys(COLOR_GRAYTEXT) : pressed ? Sys(COLOR_HIGHLIGHTTEXT) : Sys(COLOR_BTNTEXT));
}

namespace {
// Coverage of a pixel by a thick segment, for smooth check marks.
double SegmentDistance(double px, double py, double ax, double ay, double bx, double by) {
  double vx = bx - ax, vy = by - ay, wx = px - ax, wy = py - ay;
  double t = std::clamp((wx * vx + wy * vy) / (vx * vx + vy * vy), 0.0, 1.0);
  double dx = px - (ax + t * vx), dy = py - (ay + t * vy);
  return std::sqrt(dx * dx + dy * dy);
}
}  // namespace

void DrawCheckMark(HDC dc, const RECT& r, COLORREF colour) {
  int w = r.right - r.left, h = r.bottom - r.top;
  double thick = std::max(1.2, w / 7.0);
  double ax = w * 0.2, ay = h * 0.52, bx = w * 0.42, by = h * 0.74, cx = w * 0.8, cy = h * 0.28;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      double d = std::min(SegmentDistance(x + 0.5, y + 0.5, ax, ay, bx, by),
                          SegmentDistance(x + 0.5, y + 0.5, bx, by, cx, cy));
      double cover = std::clamp(thick / 2 + 0.5 - d, 0.0, 1.0);
      if (cover <= 0) continue;
      COLORREF under = GetPixel(dc, r.left + x, r.top + y);
      SetPixel(dc, r.left + x, r.top + y, Blend(colour, under, static_cast<int>(cover * 255)));
    }
}

void DrawDisc(HDC dc, const RECT& r, COLORREF colour) {
  double w = r.right - r.left, h = r.bottom - r.top;
  double cx = w / 2, cy = h / 2, rad = std::min(w, h) / 2;
  for (int y = 0; y < static_cast<int>(h); ++y)
    for (int x = 0; x < static_cast<int>(w); ++x) {
      double d = std::hypot(x + 0.5 - cx, y + 0.5 - cy);
      double cover = std::clamp(rad - d + 0.5, 0.0, 1.0);
      if (cover <= 0) continue;
      COLORREF under = GetPixel(dc, r.left + x, r.top + y);
      SetPixel(dc, r.left + x, r.top + y, Blend(colour, under, static_cast<int>(cover * 255)));
    }
}

void DrawLabel(HDC dc, const std::u16string& text, RECT r, UINT align, COLORREF colour) {
  COLORREF old = SetTextColor(dc, colour);
  int oldMode = SetBkMode(dc, TRANSPARENT);
  DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &r,
            align | DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS);
  SetBkMode(dc, oldMode);
  SetTextColor(dc, old);
}

HBRUSH ParentColours(HWND control, HDC dc, UINT message) {
  // The parent starts from the control's own colours and may change them.
  SetTextColor(dc, message == WM_CTLCOLORBTN ? Sys(COLOR_BTNTEXT) : Sys(COLOR_WINDOWTEXT));
  SetBkColor(dc, Sys(COLOR_WINDOW));
  HWND parent = GetParent(control);
  if (!parent) return nullptr;
  return reinterpret_cast<HBRUSH>(
      SendMessageW(parent, message, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(control)));
}

void InvalidateTree(HWND hwnd) {
  if (!hwnd) return;
  InvalidateRect(hwnd, nullptr, TRUE);
  for (HWND c = GetWindow(hwnd, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) InvalidateTree(c);
}

// ---------------------------------------------------------------- scroll bar part

void ScrollPart::SetInfo(const SCROLLINFO& info) {
  if (info.fMask & SIF_RANGE) {
    min_ = info.nMin;
    max_ = std::max(info.nMin, info.nMax);
  }
  if (info.fMask & SIF_PAGE) page_ = info.nPage;
  if (info.fMask & SIF_POS) pos_ = info.nPos;
  pos_ = std::clamp(pos_, min_, std::max(min_, Limit()));
}

void ScrollPart::GetInfo(SCROLLINFO* info) const {
  if (info->fMask & SIF_RANGE) {
    info->nMin = min_;
    info->nMax = max_;
  }
  if (info->fMask & SIF_PAGE) info->nPage = page_;
  if (info->fMask & SIF_POS) info->nPos = pos_;
  if (info->fMask & SIF_TRACKPOS) info->nTrackPos = pos_;
}

int ScrollPart::Limit() const { return page_ > 0 ? std::max(min_, max_ - static_cast<int>(page_) + 1) : max_; }

bool ScrollPart::SetPos(int pos) {
  pos = std::clamp(pos, min_, std::max(min_, Limit()));
  if (pos == pos_) return false;
  pos_ = pos;
  return true;
}

int ScrollPart::ArrowLength() const {
  int across = vertical_ ? rect_.right - rect_.left : rect_.bottom - rect_.top;
  int along = vertical_ ? rect_.bottom - rect_.top : rect_.right - rect_.left;
  return std::min(across, along / 3);
}

RECT ScrollPart::ThumbRect() const {
  int a = ArrowLength();
  int start = (vertical_ ? rect_.top : rect_.left) + a;
  int length = (vertical_ ? rect_.bottom - rect_.top : rect_.right - rect_.left) - 2 * a;
  int span = max_ - min_ + 1;
  int thumb = page_ > 0 ? static_cast<int>(static_cast<int64_t>(length) * page_ / std::max(span, 1)) : a;
  thumb = std::clamp(thumb, std::min(length, std::max(Scale(12), a / 2)), std::max(length, 0));
  int travel = length - thumb;
  int range = Limit() - min_;
  int offset = range > 0 ? static_cast<int>(static_cast<int64_t>(travel) * (pos_ - min_) / range) : 0;
  if (vertical_) return RECT{rect_.left, start + offset, rect_.right, start + offset + thumb};
  return RECT{start + offset, rect_.top, start + offset + thumb, rect_.bottom};
}

void ScrollPart::Paint(HDC dc, bool enabled) const {
  COLORREF track = Blend(Sys(COLOR_BTNFACE), Sys(COLOR_WINDOW), 110);
  Fill(dc, rect_, track);
  int a = ArrowLength();
  RECT first = rect_, second = rect_;
  if (vertical_) {
    first.bottom = rect_.top + a;
    second.top = rect_.bottom - a;
  } else {
    first.right = rect_.left + a;
    second.left = rect_.right - a;
  }
  bool active = enabled && Needed();
  COLORREF arrow = active ? Sys(COLOR_BTNTEXT) : Sys(COLOR_GRAYTEXT);
  Fill(dc, first, pressed_ == SB_LINEUP ? Sys(COLOR_BTNSHADOW) : Sys(COLOR_BTNFACE));
  Fill(dc, second, pressed_ == SB_LINEDOWN ? Sys(COLOR_BTNSHADOW) : Sys(COLOR_BTNFACE));
  DrawArrow(dc, first, vertical_ ? Arrow::Up : Arrow::Left, arrow);
  DrawArrow(dc, second, vertical_ ? Arrow::Down : Arrow::Right, arrow);
  if (active) {
    RECT t = ThumbRect();
    int inset = std::max(1, Scale(2));
    if (vertical_)
      InflateRect(&t, -inset, 0);
    else
      InflateRect(&t, 0, -inset);
    Fill(dc, t, dragging_ ? Sys(COLOR_HIGHLIGHT) : Sys(COLOR_BTNSHADOW));
  }
}

int ScrollPart::Down(POINT p) {
  if (!PtInRect(&rect_, p)) return -1;
  int a = ArrowLength();
  int along = vertical_ ? p.y : p.x;
  int start = vertical_ ? rect_.top : rect_.left, end = vertical_ ? rect_.bottom : rect_.right;
  if (along < start + a) return pressed_ = SB_LINEUP;
  if (along >= end - a) return pressed_ = SB_LINEDOWN;
  if (!Needed()) return pressed_ = -1;
  RECT t = ThumbRect();
  if (PtInRect(&t, p)) {
    dragging_ = true;
    dragOffset_ = along - (vertical_ ? t.top : t.left);
    return pressed_ = SB_THUMBTRACK;
  }
  return pressed_ = (along < (vertical_ ? t.top : t.left)) ? SB_PAGEUP : SB_PAGEDOWN;
}

int ScrollPart::Drag(POINT p, int* trackPos) {
  if (!dragging_) return -1;
  RECT t = ThumbRect();
  int thumb = vertical_ ? t.bottom - t.top : t.right - t.left;
  int a = ArrowLength();
  int start = (vertical_ ? rect_.top : rect_.left) + a;
  int length = (vertical_ ? rect_.bottom - rect_.top : rect_.right - rect_.left) - 2 * a;
  int travel = std::max(1, length - thumb);
  int along = (vertical_ ? p.y : p.x) - dragOffset_ - start;
  int range = Limit() - min_;
  int pos = min_ + static_cast<int>(std::lround(static_cast<double>(std::clamp(along, 0, travel)) * range / travel));
  *trackPos = pos;
  return SB_THUMBTRACK;
}

void ScrollPart::Up() {
  dragging_ = false;
  pressed_ = -1;
}

// ---------------------------------------------------------------- caret

namespace {
thread_local CaretState t_caret;
}

CaretState CurrentCaret() { return t_caret; }

}  // namespace qk::controls

using qk::controls::t_caret;

BOOL CreateCaret(HWND window, HBITMAP, int width, int height) {
  if (!IsWindow(window)) return FALSE;
  if (t_caret.owner && t_caret.owner != window) InvalidateRect(t_caret.owner, nullptr, FALSE);
  t_caret = qk::controls::CaretState{window, 0, 0, std::max(1, width), std::max(1, height), 1};
  return TRUE;
}

BOOL DestroyCaret() {
  if (!t_caret.owner) return FALSE;
  HWND owner = t_caret.owner;
  t_caret = {};
  if (IsWindow(owner)) InvalidateRect(owner, nullptr, FALSE);
  return TRUE;
}

BOOL HideCaret(HWND window) {
  if (!t_caret.owner || (window && window != t_caret.owner)) return FALSE;
  if (t_caret.hidden++ == 0) InvalidateRect(t_caret.owner, nullptr, FALSE);
  return TRUE;
}

BOOL ShowCaret(HWND window) {
  if (!t_caret.owner || (window && window != t_caret.owner) || t_caret.hidden == 0) return FALSE;
  if (--t_caret.hidden == 0) InvalidateRect(t_caret.owner, nullptr, FALSE);
  return TRUE;
}

BOOL SetCaretPos(int x, int y) {
  if (!t_caret.owner) return FALSE;
  if (t_caret.x != x || t_caret.y != y) {
    t_caret.x = x;
    t_caret.y = y;
    if (!t_caret.hidden) InvalidateRect(t_caret.owner, nullptr, FALSE);
  }
  return TRUE;
}

BOOL GetCaretPos(LPPOINT point) {
  if (!point) return FALSE;
  point->x = t_caret.x;
  point->y = t_caret.y;
  return TRUE;
}

// ---------------------------------------------------------------- clipboard

namespace {
std::mutex g_clipLock;
std::u16string g_clipboard;
qk::DesktopClipboard g_desktop;
}  // namespace

namespace qk {

void SetDesktopClipboard(const DesktopClipboard& desktop) {
  std::lock_guard<std::mutex> lock(g_clipLock);
  g_desktop = desktop;
}

void SetClipboardText(const std::u16string& text) {
  DesktopClipboard desktop;
  {
    std::lock_guard<std::mutex> lock(g_clipLock);
    g_clipboard = text;
    desktop = g_desktop;
  }
  if (desktop.put) desktop.put(text);
}

std::u16string GetClipboardText() {
  DesktopClipboard desktop;
  {
    std::lock_guard<std::mutex> lock(g_clipLock);
    desktop = g_desktop;
    if (!desktop.get) return g_clipboard;
  }
  return desktop.get();
}

int ControlScrollBarWidth() { return qk::controls::Scale(13); }
int ControlScale(int n) { return qk::controls::Scale(n); }

}  // namespace qk

// ---------------------------------------------------------------- registration

namespace qk::controls {

void RegisterClass(const char16_t* name, WNDPROC proc) {
  WNDCLASSW wc{};
  wc.style = CS_GLOBALCLASS | CS_DBLCLKS;
  wc.lpfnWndProc = proc;
  wc.cbWndExtra = sizeof(LONG_PTR);
  wc.lpszClassName = name;
  RegisterClassW(&wc);
}

}  // namespace qk::controls

// The window layer calls this at the first lookup of a class it does not
// know, so the standard controls exist for every program.
void qk::RegisterStandardControls() {
  static std::once_flag once;
  std::call_once(once, [] {
    using namespace qk::controls;
    RegisterButton();
    RegisterStatic();
    RegisterEdit();
    RegisterListBox();
    RegisterComboBox();
    RegisterScrollBar();
  });
}

void InitCommonControls() {
  static std::once_flag once;
  std::call_once(once, [] {
    using namespace qk::controls;
    qk::RegisterStandardControls();
    RegisterListView();
    RegisterUpDown();
    RegisterDateTime();
    RegisterTab();
    RegisterProgress();
  });
}

BOOL InitCommonControlsEx(const INITCOMMONCONTROLSEX* init) {
  if (init && init->dwSize != sizeof(INITCOMMONCONTROLSEX)) return FALSE;
  InitCommonControls();
  return TRUE;
}
