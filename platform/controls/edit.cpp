// "EDIT": single-line and multi-line text entry with caret, selection,
// scrolling, password characters, read-only state, a one-step undo and the
// program's clipboard.
//
// Keys: WM_KEYDOWN moves the caret (arrows, Home, End, Page Up/Down; with
// Shift the selection grows, with Control the caret jumps by words or to
// the ends) and deletes forward (Delete); WM_CHAR types text, Backspace
// deletes backward, Enter starts a new line in a multi-line edit (inside a
// dialog only with ES_WANTRETURN; without it Enter is the dialog's), and the
// control characters of Ctrl+A, Ctrl+C, Ctrl+V, Ctrl+X and Ctrl+Z select
// all, copy, paste, cut and undo. Multi-line edits break their lines at
// word ends unless ES_AUTOHSCROLL is set; line breaks in the text are
// "\r\n" (a lone "\n" is taken as one too).
#include <algorithm>
#include <cwctype>

#include "controls/control.h"

namespace qk::controls {
namespace {

struct Line {
  int start = 0;
  int length = 0;  // without the line break
  int brk = 0;     // characters of the break after it (0, 1 or 2)
};

bool IsSpace(char16_t c) { return c == u' ' || c == u'\t'; }
bool IsWordChar(char16_t c) { return !IsSpace(c) && c != u'\r' && c != u'\n'; }

class Edit : public Control {
 public:
  explicit Edit(HWND hwnd) : Control(hwnd), vbar_(true) { lines_.push_back(Line{}); }
  ~Edit() override {
    if (measure_) DeleteDC(measure_);
  }

  bool Multi() const { return (Style() & ES_MULTILINE) != 0; }
  bool ReadOnly() const { return (Style() & ES_READONLY) != 0; }

  LRESULT Handle(UINT msg, WPARAM wParam, LPARAM lParam) override {
    switch (msg) {
      case WM_CREATE: {
        if (Style() & ES_PASSWORD && !Multi()) password_ = u'*';
        text_ = Control::Text();
        Relayout();
        return 0;
      }
      case WM_SETTEXT: {
        std::u16string t = lParam ? reinterpret_cast<LPCWSTR>(lParam) : u"";
        SetAll(t);
        undo_.reset();
        modified_ = false;
        // As on the device, a single-line edit tells its parent of text set
        // by the program; a multi-line one does not.
        if (!Multi()) Changed();
        return TRUE;
      }
      case WM_GETDLGCODE: {
        LRESULT code = DLGC_WANTCHARS | DLGC_HASSETSEL | DLGC_WANTARROWS;
        if (Multi()) {
          code |= DLGC_WANTALLKEYS;
          auto* m = reinterpret_cast<const MSG*>(lParam);
          if (m && m->message == WM_KEYDOWN && (m->wParam == VK_ESCAPE || m->wParam == VK_TAB))
            code &= ~DLGC_WANTALLKEYS;
          // Enter is the dialog's (its default button) unless the edit
          // wants it for a line break.
          if (m && (m->message == WM_KEYDOWN || m->message == WM_CHAR) && m->wParam == VK_RETURN &&
              !(Style() & ES_WANTRETURN))
            code &= ~DLGC_WANTALLKEYS;
        }
        return code;
      }
      case WM_SETFONT: {
        Control::Handle(msg, wParam, lParam);
        if (measure_) SelectObject(measure_, Font());
        lineHeight_ = 0;
        paragraphs_.clear();
        Relayout();
        return 0;
      }
      case WM_SIZE:
        Relayout();
        Redraw();
        return 0;
      case WM_SETFOCUS:
        CreateCaret(hwnd_, nullptr, std::max(1, Scale(1)), LineH());
        ShowCaret(hwnd_);
        PlaceCaret();
        Redraw();
        Command(EN_SETFOCUS);
        return 0;
      case WM_KILLFOCUS:
        if (CurrentCaret().owner == hwnd_) DestroyCaret();
        Redraw();
        Command(EN_KILLFOCUS);
        return 0;
      case WM_ENABLE:
        Redraw();
        return 0;

      case EM_GETSEL: {
        DWORD s = static_cast<DWORD>(SelStart()), e = static_cast<DWORD>(SelEnd());
        if (wParam) *reinterpret_cast<DWORD*>(wParam) = s;
        if (lParam) *reinterpret_cast<DWORD*>(lParam) = e;
        return MAKELRESULT(std::min<DWORD>(s, 0xFFFF), std::min<DWORD>(e, 0xFFFF));
      }
      case EM_SETSEL: {
        int n = static_cast<int>(text_.size());
        LONG start = static_cast<LONG>(static_cast<INT_PTR>(wParam)), end = static_cast<LONG>(lParam);
        if (start == -1) {
          anchor_ = caret_ = n;  // -1 drops the selection, caret at the end
        } else {
          if (end < 0 || end > n) end = n;
          if (start < 0 || start > n) start = n;
          anchor_ = Snap(start);
          caret_ = Snap(end);
        }
        goalX_ = -1;
        ScrollToCaret();
        Redraw();
        return 0;
      }
      case EM_REPLACESEL: {
        std::u16string s = lParam ? reinterpret_cast<LPCWSTR>(lParam) : u"";
        Replace(s, wParam != 0);
        return 0;
      }
      case EM_LIMITTEXT:
        limit_ = wParam ? static_cast<int>(std::min<WPARAM>(wParam, 0x7FFFFFFE)) : 0x7FFFFFFE;
        return 0;
      case EM_GETLIMITTEXT:
        return limit_;
      case EM_SETREADONLY: {
        DWORD style = wParam ? (Style() | ES_READONLY) : (Style() & ~static_cast<DWORD>(ES_READONLY));
        SetWindowLongW(hwnd_, GWL_STYLE, static_cast<LONG_PTR>(style));
        Redraw();
        return TRUE;
      }
      case EM_SETPASSWORDCHAR:
        if (Multi()) return 0;
        password_ = static_cast<char16_t>(wParam);
        Relayout();
        Redraw();
        return 0;
      case EM_GETPASSWORDCHAR:
        return password_;
      case EM_SCROLLCARET:
        ScrollToCaret();
        Redraw();
        return TRUE;
      case EM_GETLINECOUNT:
        return static_cast<LRESULT>(lines_.size());
      case EM_LINEINDEX: {
        int line = static_cast<int>(static_cast<INT_PTR>(wParam));
        if (line < 0) line = LineOf(caret_);
        return line < static_cast<int>(lines_.size()) ? lines_[line].start : -1;
      }
      case EM_LINEFROMCHAR: {
        int ch = static_cast<int>(static_cast<INT_PTR>(wParam));
        return LineOf(ch < 0 ? SelStart() : ch);
      }
      case EM_LINELENGTH: {
        int ch = static_cast<int>(static_cast<INT_PTR>(wParam));
        return lines_[LineOf(ch < 0 ? caret_ : ch)].length;
      }
      case EM_GETLINE: {
        int line = static_cast<int>(wParam);
        auto* buffer = reinterpret_cast<LPWSTR>(lParam);
        if (!buffer || line < 0 || line >= static_cast<int>(lines_.size())) return 0;
        int room = *reinterpret_cast<WORD*>(buffer);
        int n = std::min(room, lines_[line].length);
        std::copy_n(text_.begin() + lines_[line].start, n, buffer);
        return n;
      }
      case EM_GETFIRSTVISIBLELINE:
        return Multi() ? top_ : CharAtX(0, xOffset_);
      case EM_LINESCROLL:
        if (!Multi()) return FALSE;
        ScrollLines(static_cast<int>(lParam));
        return TRUE;
      case EM_SCROLL: {
        if (!Multi()) return FALSE;
        int before = top_;
        switch (wParam) {
          case SB_LINEUP: ScrollLines(-1); break;
          case SB_LINEDOWN: ScrollLines(1); break;
          case SB_PAGEUP: ScrollLines(-VisibleLines()); break;
          case SB_PAGEDOWN: ScrollLines(VisibleLines()); break;
          default: return FALSE;
        }
        return MAKELRESULT(static_cast<WORD>(top_ - before), TRUE);
      }
      case EM_GETMODIFY:
        return modified_;
      case EM_SETMODIFY:
        modified_ = wParam != 0;
        return 0;
      case EM_CANUNDO:
        return undo_ != nullptr;
      case EM_UNDO:
      case WM_UNDO:
        return Undo();
      case EM_EMPTYUNDOBUFFER:
        undo_.reset();
        return 0;
      case EM_SETMARGINS:
        if (wParam & EC_LEFTMARGIN) marginLeft_ = LOWORD(lParam);
        if (wParam & EC_RIGHTMARGIN) marginRight_ = HIWORD(lParam);
        Relayout();
        Redraw();
        return 0;
      case EM_GETMARGINS:
        return MAKELRESULT(marginLeft_, marginRight_);
      case EM_GETRECT:
        if (lParam) *reinterpret_cast<RECT*>(lParam) = TextRect();
        return 0;
      case EM_POSFROMCHAR: {
        POINT p = PosOf(static_cast<int>(wParam));
        return MAKELRESULT(static_cast<WORD>(p.x), static_cast<WORD>(p.y));
      }
      case EM_CHARFROMPOS: {
        POINT p{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
        int ch = HitChar(p);
        return MAKELRESULT(static_cast<WORD>(ch), static_cast<WORD>(LineOf(ch)));
      }
      case WM_COPY:
        Copy();
        return 0;
      case WM_CUT:
        if (!ReadOnly() && Copy()) Replace(u"", true);
        return 0;
      case WM_CLEAR:
        if (!ReadOnly()) Replace(u"", true);
        return 0;
      case WM_PASTE:
        if (!ReadOnly()) Replace(Clean(qk::GetClipboardText()), true);
        return 0;

      case WM_KEYDOWN:
        Key(static_cast<UINT>(wParam));
        return 0;
      case WM_CHAR:
        Char(static_cast<char16_t>(wParam));
        return 0;

      case WM_LBUTTONDOWN:
      case WM_LBUTTONDBLCLK: {
        POINT p{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
        if (GetFocus() != hwnd_) SetFocus(hwnd_);
        if (HasBar()) {
          int code = vbar_.Down(p);
          if (code >= 0) {
            SetCapture(hwnd_);
            BarScroll(code, 0);
            return 0;
          }
        }
        int ch = HitChar(p);
        if (msg == WM_LBUTTONDBLCLK) {
          SelectWord(ch);
        } else {
          caret_ = ch;
          if (!(GetKeyState(VK_SHIFT) & 0x8000)) anchor_ = ch;
          selecting_ = true;
          SetCapture(hwnd_);
        }
        goalX_ = -1;
        ScrollToCaret();
        Redraw();
        return 0;
      }
      case WM_MOUSEMOVE: {
        POINT p{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
        if (vbar_.Dragging()) {
          int pos = 0;
          if (vbar_.Drag(p, &pos) >= 0) BarScroll(SB_THUMBTRACK, pos);
          return 0;
        }
        if (!selecting_) return 0;
        int ch = HitChar(p);
        if (ch != caret_) {
          caret_ = ch;
          ScrollToCaret();
          Redraw();
        }
        return 0;
      }
      case WM_LBUTTONUP:
      case WM_CAPTURECHANGED:
        selecting_ = false;
        if (vbar_.Dragging() || msg == WM_LBUTTONUP) {
          vbar_.Up();
          Redraw();
        }
        if (msg == WM_LBUTTONUP && GetCapture() == hwnd_) ReleaseCapture();
        return 0;
      case WM_VSCROLL:
        if (Multi() && !lParam) BarScroll(LOWORD(wParam), static_cast<short>(HIWORD(wParam)));
        return 0;
      default:
        return Control::Handle(msg, wParam, lParam);
    }
  }

  void Paint(HDC dc) override {
    RECT r = Client();
    bool grey = ReadOnly() || !Enabled();
    HBRUSH brush = ParentColours(hwnd_, dc, grey ? WM_CTLCOLORSTATIC : WM_CTLCOLOREDIT);
    COLORREF textColour = GetTextColor(dc);
    if (!Enabled()) textColour = Sys(COLOR_GRAYTEXT);
    COLORREF ground = grey ? Blend(Sys(COLOR_BTNFACE), Sys(COLOR_WINDOW), 80) : Sys(COLOR_WINDOW);
    if (brush)
      FillRect(dc, &r, brush);
    else
      Fill(dc, r, ground);
    int line = std::max(1, Scale(1));
    if (Bordered()) Frame(dc, r, Focused() ? Sys(COLOR_HIGHLIGHT) : Sys(COLOR_BTNSHADOW), line);
    if (HasBar()) {
      vbar_.SetRect(BarRect());
      vbar_.Paint(dc, Enabled());
    }

    RECT tr = TextRect();
    SaveDC(dc);
    IntersectClipRect(dc, tr.left, tr.top, tr.right, tr.bottom);
    SelectObject(dc, Font());
    SetBkMode(dc, TRANSPARENT);
    int lh = LineH();
    bool showSel = Focused() || (Style() & ES_NOHIDESEL);
    int s = SelStart(), e = SelEnd();
    int first = Multi() ? top_ : 0;
    int count = Multi() ? VisibleLines() : 1;  // whole lines only
    for (int i = first; i < static_cast<int>(lines_.size()) && i < first + count; ++i) {
      const Line& ln = lines_[i];
      int y = LineTop(i);
      int x0 = LineX(i);
      std::u16string shown = Shown(ln);
      SetTextColor(dc, textColour);
      ExtTextOutW(dc, x0, y, 0, nullptr, shown.c_str(), static_cast<UINT>(shown.size()), nullptr);
      if (showSel && s != e) {
        int a = std::clamp(s, ln.start, ln.start + ln.length), b = std::clamp(e, ln.start, ln.start + ln.length);
        bool breakSelected = s <= ln.start + ln.length && e > ln.start + ln.length && ln.brk > 0;
        if (a < b || breakSelected) {
          const std::vector<int>& xs = Extents(i);
          int xa = x0 + xs[a - ln.start], xb = x0 + xs[b - ln.start];
          if (breakSelected) xb += Scale(4);
          RECT sel{xa, y, xb, y + lh};
          Fill(dc, sel, Focused() ? Sys(COLOR_HIGHLIGHT) : Blend(Sys(COLOR_HIGHLIGHT), Sys(COLOR_WINDOW), 90));
          SetTextColor(dc, Sys(COLOR_HIGHLIGHTTEXT));
          if (a < b)
            ExtTextOutW(dc, xa, y, 0, nullptr, shown.c_str() + (a - ln.start), static_cast<UINT>(b - a), nullptr);
        }
      }
    }
    CaretState caret = CurrentCaret();
    if (Focused() && caret.owner == hwnd_ && caret.hidden == 0)
      Fill(dc, RECT{caret.x, caret.y, caret.x + caret.width, caret.y + caret.height}, textColour);
    RestoreDC(dc, -1);
  }

 private:
  int SelStart() const { return std::min(anchor_, caret_); }
  int SelEnd() const { return std::max(anchor_, caret_); }
  bool Bordered() const {
    return (Style() & WS_BORDER) || (GetWindowLongW(hwnd_, GWL_EXSTYLE) & WS_EX_CLIENTEDGE);
  }
  bool HasBar() const { return Multi() && (Style() & WS_VSCROLL); }
  RECT BarRect() const {
    RECT r = Client();
    int b = Bordered() ? std::max(1, Scale(1)) : 0;
    return RECT{r.right - b - qk::ControlScrollBarWidth(), r.top + b, r.right - b, r.bottom - b};
  }

  HDC MeasureDC() {
    if (!measure_) {
      measure_ = CreateCompatibleDC(nullptr);
      SelectObject(measure_, Font());
    }
    return measure_;
  }

  int LineH() {
    if (!lineHeight_) {
      TEXTMETRICW tm{};
      GetTextMetricsW(MeasureDC(), &tm);
      lineHeight_ = std::max<int>(1, tm.tmHeight);
    }
    return lineHeight_;
  }

  RECT TextRect() const {
    RECT r = Client();
    int b = Bordered() ? std::max(1, Scale(1)) : 0;
    int pad = Scale(3);
    RECT t{r.left + b + pad + marginLeft_, r.top + b + (Multi() ? Scale(2) : 0), r.right - b - pad - marginRight_,
           r.bottom - b - (Multi() ? Scale(2) : 0)};
    if (HasBar()) t.right -= qk::ControlScrollBarWidth();
    if (t.right < t.left) t.right = t.left;
    if (t.bottom < t.top) t.bottom = t.top;
    return t;
  }

  int VisibleLines() {
    RECT t = TextRect();
    return std::max(1, static_cast<int>((t.bottom - t.top) / LineH()));
  }

  // Where line i's text starts, in client co-ordinates.
  int LineTop(int i) {
    RECT t = TextRect();
    if (!Multi()) return t.top + ((t.bottom - t.top) - LineH()) / 2;
    return t.top + (i - top_) * LineH();
  }
  int LineX(int i) {
    RECT t = TextRect();
    if (Multi() || !(Style() & (ES_CENTER | ES_RIGHT))) return t.left - xOffset_;
    int w = Extents(i).back();
    int room = t.right - t.left;
    if (w >= room) return t.left - xOffset_;
    return (Style() & ES_RIGHT) ? t.right - w : t.left + (room - w) / 2;
  }

  std::u16string Shown(const Line& ln) const {
    if (password_) return std::u16string(static_cast<size_t>(ln.length), password_);
    std::u16string s = text_.substr(static_cast<size_t>(ln.start), static_cast<size_t>(ln.length));
    for (auto& c : s)
      if (c == u'\t') c = u' ';
    return s;
  }

  // Pixel offsets of every character boundary of line i (length + 1).
  const std::vector<int>& Extents(int i) {
    if (extents_.size() != lines_.size()) extents_.assign(lines_.size(), {});
    auto& xs = extents_[static_cast<size_t>(i)];
    if (xs.empty()) xs = Measure(Shown(lines_[static_cast<size_t>(i)]));
    return xs;
  }

  std::vector<int> Measure(const std::u16string& s) {
    std::vector<int> xs(s.size() + 1, 0);
    if (s.empty()) return xs;
    std::vector<int> dx(s.size());
    int fit = 0;
    SIZE size{};
    GetTextExtentExPointW(MeasureDC(), s.c_str(), static_cast<int>(s.size()), 0x7FFFFFFF, &fit, dx.data(), &size);
    for (size_t k = 0; k < s.size(); ++k) xs[k + 1] = dx[k];
    return xs;
  }

  void Relayout() {
    lines_.clear();
    extents_.clear();
    int n = static_cast<int>(text_.size());
    if (!Multi()) {
      lines_.push_back({0, n, 0});
    } else {
      bool wrap = !(Style() & ES_AUTOHSCROLL);
      RECT t = TextRect();
      int width = std::max<int>(1, t.right - t.left);
      int pos = 0;
      size_t para = 0;
      while (true) {
        int end = pos;
        while (end < n && text_[end] != u'\r' && text_[end] != u'\n') ++end;
        int brk = 0;
        if (end < n) brk = (text_[end] == u'\r' && end + 1 < n && text_[end + 1] == u'\n') ? 2 : 1;
        // One paragraph, measured once (and again only when it changed),
        // broken at word ends to the width.
        const std::vector<int>& dx = Paragraph(para++, pos, end);
        auto right = [&](int ch) { return ch > pos ? dx[static_cast<size_t>(ch - pos - 1)] : 0; };
        auto add = [&](int from, int to, int brkLength) {
          lines_.push_back({from, to - from, brkLength});
          std::vector<int> xs(static_cast<size_t>(to - from) + 1);
          for (int k = from; k <= to; ++k) xs[static_cast<size_t>(k - from)] = right(k) - right(from);
          extents_.push_back(std::move(xs));
        };
        int start = pos;
        while (wrap && right(end) - right(start) > width) {
          int cut = start + 1;
          while (cut < end && right(cut + 1) - right(start) <= width) ++cut;
          int back = cut;
          while (back > start && !IsSpace(text_[back - 1])) --back;
          if (back > start) cut = back;
          while (cut < end && IsSpace(text_[cut])) ++cut;  // trailing blanks stay on the line
          add(start, cut, 0);
          start = cut;
        }
        add(start, end, brk);
        if (end >= n) break;
        pos = end + brk;
      }
      paragraphs_.resize(para);
    }
    if (HasBar()) {
      SCROLLINFO si{sizeof si, SIF_RANGE | SIF_PAGE | SIF_POS, 0, static_cast<int>(lines_.size()) - 1,
                    static_cast<UINT>(VisibleLines()), top_, 0};
      vbar_.SetInfo(si);
    }
    ClampTop();
  }

  // Character offsets of paragraph number index (text from..to): kept from
  // the last layout while the paragraph is unchanged.
  const std::vector<int>& Paragraph(size_t index, int from, int to) {
    if (paragraphs_.size() <= index) paragraphs_.resize(index + 1);
    Para& p = paragraphs_[index];
    size_t length = static_cast<size_t>(to - from);
    if (p.measured && p.text.size() == length && text_.compare(static_cast<size_t>(from), length, p.text) == 0)
      return p.dx;
    p.text = text_.substr(static_cast<size_t>(from), length);
    std::u16string shown = p.text;
    for (auto& c : shown)
      if (c == u'\t') c = u' ';
    p.dx.assign(shown.size(), 0);
    if (!shown.empty()) {
      int fit = 0;
      SIZE size{};
      GetTextExtentExPointW(MeasureDC(), shown.c_str(), static_cast<int>(shown.size()), 0x7FFFFFFF, &fit, p.dx.data(),
                            &size);
    }
    p.measured = true;
    return p.dx;
  }

  void ClampTop() {
    int maxTop = std::max(0, static_cast<int>(lines_.size()) - VisibleLines());
    top_ = std::clamp(top_, 0, maxTop);
    if (HasBar()) vbar_.SetPos(top_);
  }

  int LineOf(int ch) const {
    ch = std::clamp(ch, 0, static_cast<int>(text_.size()));
    // The end of a line broken at a word belongs to the next line.
    for (size_t i = 0; i < lines_.size(); ++i) {
      const Line& ln = lines_[i];
      bool last = i + 1 == lines_.size();
      if (ch < ln.start + ln.length || (ch == ln.start + ln.length && (ln.brk > 0 || last)))
        return static_cast<int>(i);
      if (ch < ln.start + ln.length + ln.brk) return static_cast<int>(i);
    }
    return static_cast<int>(lines_.size()) - 1;
  }

  // Keeps a position off the middle of a "\r\n".
  int Snap(int ch) const {
    ch = std::clamp(ch, 0, static_cast<int>(text_.size()));
    if (ch > 0 && ch < static_cast<int>(text_.size()) && text_[ch - 1] == u'\r' && text_[ch] == u'\n') --ch;
    return ch;
  }

  POINT PosOf(int ch) {
    ch = std::clamp(ch, 0, static_cast<int>(text_.size()));
    int i = LineOf(ch);
    const Line& ln = lines_[static_cast<size_t>(i)];
    int k = std::clamp(ch - ln.start, 0, ln.length);
    return POINT{LineX(i) + Extents(i)[static_cast<size_t>(k)], LineTop(i)};
  }

  int CharAtX(int i, int x) {
    const Line& ln = lines_[static_cast<size_t>(i)];
    const std::vector<int>& xs = Extents(i);
    int rel = x;
    int best = 0;
    for (int k = 0; k <= ln.length; ++k) {
      if (xs[static_cast<size_t>(k)] <= rel) best = k;
      if (k < ln.length && rel > xs[static_cast<size_t>(k)] &&
          rel >= (xs[static_cast<size_t>(k)] + xs[static_cast<size_t>(k) + 1] + 1) / 2)
        best = k + 1;
    }
    return ln.start + std::min(best, ln.length);
  }

  int HitChar(POINT p) {
    int i = 0;
    if (Multi()) {
      RECT t = TextRect();
      int row = p.y < t.top ? -1 : (p.y - t.top) / LineH();
      i = std::clamp(top_ + row, 0, static_cast<int>(lines_.size()) - 1);
    }
    return CharAtX(i, p.x - LineX(i));
  }

  void PlaceCaret() {
    if (CurrentCaret().owner != hwnd_) return;
    POINT p = PosOf(caret_);
    RECT t = TextRect();
    int x = std::min<int>(p.x, t.right - std::max(1, Scale(1)));
    SetCaretPos(std::max<int>(x, t.left), p.y);
  }

  void ScrollToCaret() {
    int i = LineOf(caret_);
    if (Multi()) {
      int visible = VisibleLines();
      if (i < top_) top_ = i;
      if (i >= top_ + visible) top_ = i - visible + 1;
      ClampTop();
    }
    RECT t = TextRect();
    int room = t.right - t.left;
    const Line& ln = lines_[static_cast<size_t>(i)];
    int x = Extents(i)[static_cast<size_t>(std::clamp(caret_ - ln.start, 0, ln.length))];
    int total = Extents(i).back();
    if (x - xOffset_ > room - Scale(1)) xOffset_ = x - room + std::max(Scale(1), room / 4);
    if (x < xOffset_) xOffset_ = std::max(0, x - room / 4);
    xOffset_ = std::clamp(xOffset_, 0, std::max(0, total - room + Scale(2)));
    if (Multi() && !(Style() & ES_AUTOHSCROLL)) xOffset_ = 0;
    PlaceCaret();
  }

  void ScrollLines(int delta) {
    top_ += delta;
    ClampTop();
    PlaceCaret();
    Redraw();
  }

  void BarScroll(int code, int pos) {
    switch (code) {
      case SB_LINEUP: ScrollLines(-1); break;
      case SB_LINEDOWN: ScrollLines(1); break;
      case SB_PAGEUP: ScrollLines(-VisibleLines()); break;
      case SB_PAGEDOWN: ScrollLines(VisibleLines()); break;
      case SB_THUMBTRACK:
      case SB_THUMBPOSITION: ScrollLines(pos - top_); break;
      case SB_TOP: ScrollLines(-top_); break;
      case SB_BOTTOM: ScrollLines(static_cast<int>(lines_.size())); break;
      default: break;
    }
    Command(EN_VSCROLL);
  }

  void SetAll(const std::u16string& t) {
    text_ = t;
    DefWindowProcW(hwnd_, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text_.c_str()));
    anchor_ = caret_ = 0;
    xOffset_ = 0;
    top_ = 0;
    goalX_ = -1;
    Relayout();
    PlaceCaret();
    Redraw();
  }

  void Changed() {
    Command(EN_UPDATE);
    Command(EN_CHANGE);
  }

  // Text that may go into this edit: single-line edits take the first line.
  std::u16string Clean(std::u16string s) const {
    if (!Multi()) {
      size_t cut = s.find_first_of(u"\r\n");
      if (cut != std::u16string::npos) s.resize(cut);
    }
    if (password_) s.erase(std::remove(s.begin(), s.end(), u'\t'), s.end());
    return s;
  }

  void Replace(std::u16string insert, bool canUndo) {
    int s = SelStart(), e = SelEnd();
    int keep = static_cast<int>(text_.size()) - (e - s);
    int room = std::max(0, limit_ - keep);
    bool full = static_cast<int>(insert.size()) > room;
    if (full) {
      insert.resize(static_cast<size_t>(room));
      // Never leave half a line break behind.
      if (!insert.empty() && insert.back() == u'\r') insert.pop_back();
    }
    if (insert.empty() && s == e) {
      if (full) Command(EN_MAXTEXT);
      return;
    }
    if (canUndo) undo_ = std::make_unique<UndoStep>(UndoStep{text_, anchor_, caret_});
    text_.replace(static_cast<size_t>(s), static_cast<size_t>(e - s), insert);
    DefWindowProcW(hwnd_, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text_.c_str()));
    anchor_ = caret_ = s + static_cast<int>(insert.size());
    modified_ = true;
    goalX_ = -1;
    Relayout();
    ScrollToCaret();
    Redraw();
    Changed();
    if (full) Command(EN_MAXTEXT);
  }

  BOOL Undo() {
    if (!undo_) return FALSE;
    UndoStep step{text_, anchor_, caret_};
    text_ = undo_->text;
    anchor_ = undo_->anchor;
    caret_ = undo_->caret;
    *undo_ = step;
    DefWindowProcW(hwnd_, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text_.c_str()));
    modified_ = true;
    Relayout();
    anchor_ = Snap(anchor_);
    caret_ = Snap(caret_);
    ScrollToCaret();
    Redraw();
    Changed();
    return TRUE;
  }

  bool Copy() {
    if (SelStart() == SelEnd() || password_) return false;
    qk::SetClipboardText(text_.substr(static_cast<size_t>(SelStart()), static_cast<size_t>(SelEnd() - SelStart())));
    return true;
  }

  void SelectWord(int ch) {
    int n = static_cast<int>(text_.size());
    int a = ch, b = ch;
    bool word = ch < n && IsWordChar(text_[ch]);
    if (!word && ch > 0 && IsWordChar(text_[ch - 1])) {
      word = true;
      a = b = ch - 1;
    }
    if (word) {
      while (a > 0 && IsWordChar(text_[a - 1])) --a;
      while (b < n && IsWordChar(text_[b])) ++b;
    }
    anchor_ = a;
    caret_ = b;
  }

  int WordLeft(int ch) const {
    while (ch > 0 && !IsWordChar(text_[ch - 1])) --ch;
    while (ch > 0 && IsWordChar(text_[ch - 1])) --ch;
    return ch;
  }
  int WordRight(int ch) const {
    int n = static_cast<int>(text_.size());
    while (ch < n && IsWordChar(text_[ch])) ++ch;
    while (ch < n && !IsWordChar(text_[ch])) ++ch;
    return Snap(ch);
  }
  int Left(int ch) const {
    if (ch >= 2 && text_[ch - 1] == u'\n' && text_[ch - 2] == u'\r') return ch - 2;
    return std::max(0, ch - 1);
  }
  int Right(int ch) const {
    int n = static_cast<int>(text_.size());
    if (ch + 1 < n && text_[ch] == u'\r' && text_[ch + 1] == u'\n') return ch + 2;
    return std::min(n, ch + 1);
  }

  void Key(UINT vk) {
    bool shift = (GetKeyState(VK_SHIFT) & 0x8000) != 0;
    bool ctrl = (GetKeyState(VK_CONTROL) & 0x8000) != 0;
    int target = caret_;
    bool keepGoal = false;
    switch (vk) {
      case VK_LEFT:
        target = (!shift && SelStart() != SelEnd()) ? SelStart() : ctrl ? WordLeft(caret_) : Left(caret_);
        break;
      case VK_RIGHT:
        target = (!shift && SelStart() != SelEnd()) ? SelEnd() : ctrl ? WordRight(caret_) : Right(caret_);
        break;
      case VK_HOME:
        target = ctrl ? 0 : lines_[static_cast<size_t>(LineOf(caret_))].start;
        break;
      case VK_END: {
        const Line& ln = lines_[static_cast<size_t>(LineOf(caret_))];
        target = ctrl ? static_cast<int>(text_.size()) : ln.start + ln.length;
        break;
      }
      case VK_UP:
      case VK_DOWN:
      case VK_PRIOR:
      case VK_NEXT: {
        if (!Multi()) {
          if (vk == VK_UP || vk == VK_DOWN) target = vk == VK_UP ? Left(caret_) : Right(caret_);
          break;
        }
        int i = LineOf(caret_);
        if (goalX_ < 0) goalX_ = PosOf(caret_).x - LineX(i);
        int step = (vk == VK_UP || vk == VK_DOWN) ? 1 : VisibleLines();
        int j = std::clamp(i + ((vk == VK_UP || vk == VK_PRIOR) ? -step : step), 0,
                           static_cast<int>(lines_.size()) - 1);
        if (vk == VK_PRIOR || vk == VK_NEXT) ScrollLines(j - i);
        target = CharAtX(j, goalX_);
        keepGoal = true;
        break;
      }
      case VK_DELETE:
        if (ReadOnly()) return;
        if (shift && SelStart() != SelEnd()) {
          if (Copy()) Replace(u"", true);
          return;
        }
        if (SelStart() == SelEnd()) {
          if (caret_ >= static_cast<int>(text_.size())) return;
          caret_ = Right(caret_);
        }
        Replace(u"", true);
        return;
      case VK_INSERT:
        if (ctrl) Copy();
        if (shift && !ReadOnly()) Replace(Clean(qk::GetClipboardText()), true);
        return;
      default:
        return;
    }
    caret_ = target;
    if (!shift) anchor_ = caret_;
    if (!keepGoal) goalX_ = -1;
    ScrollToCaret();
    Redraw();
  }

  void Char(char16_t c) {
    switch (c) {
      case 0x01:  // Ctrl+A
        anchor_ = 0;
        caret_ = static_cast<int>(text_.size());
        ScrollToCaret();
        Redraw();
        return;
      case 0x03:  // Ctrl+C
        Copy();
        return;
      case 0x16:  // Ctrl+V
        if (!ReadOnly()) Replace(Clean(qk::GetClipboardText()), true);
        return;
      case 0x18:  // Ctrl+X
        if (!ReadOnly() && Copy()) Replace(u"", true);
        return;
      case 0x1A:  // Ctrl+Z
        if (!ReadOnly()) Undo();
        return;
      case 0x08:  // Backspace
        if (ReadOnly()) return;
        if (SelStart() == SelEnd()) {
          if (caret_ == 0) return;
          anchor_ = Left(caret_);
        }
        Replace(u"", true);
        return;
      case u'\r':
      case u'\n':
        if (Multi() && !ReadOnly()) Replace(u"\r\n", true);
        return;
      case u'\t':
        if (Multi() && !ReadOnly()) Replace(u"\t", true);
        return;
      default:
        break;
    }
    if (c < 0x20 || ReadOnly()) return;
    if ((Style() & ES_NUMBER) && (c < u'0' || c > u'9')) {
      MessageBeep(0);
      return;
    }
    if (Style() & ES_UPPERCASE) c = static_cast<char16_t>(std::towupper(c));
    if (Style() & ES_LOWERCASE) c = static_cast<char16_t>(std::towlower(c));
    Replace(std::u16string(1, c), true);
  }

  struct UndoStep {
    std::u16string text;
    int anchor, caret;
  };

  std::u16string text_;
  std::vector<Line> lines_;
  std::vector<std::vector<int>> extents_;
  struct Para {
    std::u16string text;
    std::vector<int> dx;
    bool measured = false;
  };
  std::vector<Para> paragraphs_;
  int anchor_ = 0, caret_ = 0;
  int limit_ = 0x7FFFFFFE;
  char16_t password_ = 0;
  bool modified_ = false;
  std::unique_ptr<UndoStep> undo_;
  int marginLeft_ = 0, marginRight_ = 0;
  int xOffset_ = 0;
  int top_ = 0;
  int goalX_ = -1;
  bool selecting_ = false;
  int lineHeight_ = 0;
  HDC measure_ = nullptr;
  ScrollPart vbar_;
};

}  // namespace

void RegisterEdit() { RegisterClass(u"EDIT", ControlProc<Edit>); }

}  // namespace qk::controls
