// "SysDateTimePick32": a date (day, month, year) or, with DTS_TIMEFORMAT, a
// time of day (hours, minutes, seconds, and AM/PM on a 12-hour clock) shown
// as fields, with up and down arrows at its right end. A tap chooses a
// field; the arrows, the Up and Down keys and typed digits change it; Left
// and Right move between fields. Every change reports DTN_DATETIMECHANGE.
// The drop-down month calendar is not offered: dates change with the
// arrows too.
#include <algorithm>
#include <cstdio>

#include "controls/control.h"
#include "kernel/time.h"

namespace qk::controls {
namespace {

enum Field { Hour, Minute, Second, AmPm, Day, Month, Year };

int DaysIn(int year, int month) {
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : days[(month - 1) % 12];
}

WORD DayOfWeek(int y, int m, int d) {
  static const int t[] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
  if (m < 3) y -= 1;
  return static_cast<WORD>((y + y / 4 - y / 100 + y / 400 + t[m - 1] + d) % 7);
}

std::u16string Ascii(const char* s) { return std::u16string(s, s + std::char_traits<char>::length(s)); }

std::u16string LocaleText(LCTYPE type) {
  WCHAR buffer[64] = {};
  if (GetLocaleInfoW(LOCALE_USER_DEFAULT, type, buffer, 64) <= 0) return u"";
  return buffer;
}

int64_t Key(const SYSTEMTIME& st) {
  return ((((static_cast<int64_t>(st.wYear) * 13 + st.wMonth) * 32 + st.wDay) * 24 + st.wHour) * 60 + st.wMinute) * 60 +
         st.wSecond;
}

class DateTime : public Control {
 public:
  explicit DateTime(HWND hwnd) : Control(hwnd) {
    GetLocalTime(&st_);
    st_.wMilliseconds = 0;
  }

  LRESULT Handle(UINT msg, WPARAM wParam, LPARAM lParam) override {
    switch (msg) {
      case DTM_GETSYSTEMTIME:
        if (!lParam) return GDT_ERROR;
        if (!valid_) return GDT_NONE;
        *reinterpret_cast<SYSTEMTIME*>(lParam) = st_;
        return GDT_VALID;
      case DTM_SETSYSTEMTIME:
        if (wParam == GDT_NONE) {
          if (!(Style() & DTS_SHOWNONE)) return FALSE;
          valid_ = false;
        } else {
          if (!lParam) return FALSE;
          SYSTEMTIME st = *reinterpret_cast<const SYSTEMTIME*>(lParam);
          if (st.wMonth < 1 || st.wMonth > 12 || st.wDay < 1 || st.wDay > DaysIn(st.wYear, st.wMonth) ||
              st.wHour > 23 || st.wMinute > 59 || st.wSecond > 59)
            return FALSE;
          st.wDayOfWeek = DayOfWeek(st.wYear, st.wMonth, st.wDay);
          st.wMilliseconds = 0;
          st_ = st;
          valid_ = true;
        }
        Redraw();
        return TRUE;
      case DTM_SETRANGE: {
        auto* range = reinterpret_cast<const SYSTEMTIME*>(lParam);
        hasMin_ = range && (wParam & GDTR_MIN);
        hasMax_ = range && (wParam & GDTR_MAX);
        if (hasMin_) min_ = range[0];
        if (hasMax_) max_ = range[1];
        return TRUE;
      }
      case DTM_GETRANGE: {
        auto* range = reinterpret_cast<SYSTEMTIME*>(lParam);
        if (!range) return 0;
        if (hasMin_) range[0] = min_;
        if (hasMax_) range[1] = max_;
        return (hasMin_ ? GDTR_MIN : 0) | (hasMax_ ? GDTR_MAX : 0);
      }
      case WM_GETDLGCODE:
        return DLGC_WANTARROWS | DLGC_WANTCHARS;
      case WM_LBUTTONDOWN:
      case WM_LBUTTONDBLCLK: {
        if (GetFocus() != hwnd_) SetFocus(hwnd_);
        POINT p{static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
        RECT up = Arrows(true), down = Arrows(false);
        if (PtInRect(&up, p)) {
          pressed_ = 1;
          SetCapture(hwnd_);
          Change(1);
        } else if (PtInRect(&down, p)) {
          pressed_ = -1;
          SetCapture(hwnd_);
          Change(-1);
        } else {
          std::vector<RECT> rects;
          Layout(nullptr, &rects);
          for (size_t i = 0; i < rects.size(); ++i)
            if (p.x >= rects[i].left && p.x < rects[i].right) field_ = static_cast<int>(i);
          typed_ = 0;
        }
        Redraw();
        return 0;
      }
      case WM_LBUTTONUP:
      case WM_CAPTURECHANGED:
        EndArrowPress(msg, pressed_);
        return 0;
      case WM_KEYDOWN:
        switch (wParam) {
          case VK_UP: Change(1); break;
          case VK_DOWN: Change(-1); break;
          case VK_LEFT: field_ = std::max(0, field_ - 1); typed_ = 0; Redraw(); break;
          case VK_RIGHT:
            field_ = std::min(static_cast<int>(Fields().size()) - 1, field_ + 1);
            typed_ = 0;
            Redraw();
            break;
          default: break;
        }
        return 0;
      case WM_CHAR:
        if (wParam >= u'0' && wParam <= u'9') Digit(static_cast<int>(wParam - u'0'));
        return 0;
      case WM_KILLFOCUS:
        typed_ = 0;
        Redraw();
        return 0;
      default:
        return Control::Handle(msg, wParam, lParam);
    }
  }

  void Paint(HDC dc) override {
    RECT r = Client();
    int line = std::max(1, Scale(1));
    bool enabled = Enabled();
    Fill(dc, r, Sys(COLOR_WINDOW));
    Frame(dc, r, enabled && Focused() ? Sys(COLOR_HIGHLIGHT) : Sys(COLOR_BTNSHADOW), line);
    std::vector<std::u16string> texts;
    std::vector<RECT> rects;
    Layout(&texts, &rects, dc);
    // Separators and fields.
    COLORREF ink = enabled ? Sys(COLOR_WINDOWTEXT) : Sys(COLOR_GRAYTEXT);
    for (size_t i = 0; i < rects.size(); ++i) {
      bool chosen = Focused() && static_cast<int>(i) == field_;
      if (chosen) Fill(dc, rects[i], Sys(COLOR_HIGHLIGHT));
      DrawLabel(dc, texts[i], rects[i], DT_CENTER, chosen ? Sys(COLOR_HIGHLIGHTTEXT) : ink);
      if (i + 1 < rects.size() && !separators_[i].empty()) {
        RECT s{rects[i].right, rects[i].top, rects[i + 1].left, rects[i].bottom};
        DrawLabel(dc, separators_[i], s, DT_CENTER, ink);
      }
    }
    for (int dir : {1, -1}) {
      DrawArrowButton(dc, Arrows(dir == 1), dir == 1 ? Arrow::Up : Arrow::Down, pressed_ == dir, !enabled, line);
    }
  }

 private:
  bool TimeMode() const { return (Style() & DTS_TIMEFORMAT) == DTS_TIMEFORMAT; }
  bool TwelveHour() const { return LocaleText(LOCALE_ITIME) == u"0"; }

  std::vector<Field> Fields() const {
    if (TimeMode()) {
      if (TwelveHour()) return {Hour, Minute, Second, AmPm};
      return {Hour, Minute, Second};
    }
    return {Day, Month, Year};
  }

  std::u16string FieldText(Field f) const {
    char b[16];
    switch (f) {
      case Hour:
        std::snprintf(b, sizeof b, "%02d", TwelveHour() ? (st_.wHour % 12 == 0 ? 12 : st_.wHour % 12) : st_.wHour);
        break;
      case Minute: std::snprintf(b, sizeof b, "%02d", st_.wMinute); break;
      case Second: std::snprintf(b, sizeof b, "%02d", st_.wSecond); break;
      case AmPm: {
        std::u16string s = LocaleText(st_.wHour < 12 ? LOCALE_S1159 : LOCALE_S2359);
        return s.empty() ? (st_.wHour < 12 ? u"AM" : u"PM") : s;
      }
      case Day: std::snprintf(b, sizeof b, "%d", st_.wDay); break;
      case Month: {
        std::u16string s = LocaleText(LOCALE_SABBREVMONTHNAME1 + st_.wMonth - 1);
        if (!s.empty()) return s;
        std::snprintf(b, sizeof b, "%02d", st_.wMonth);
        break;
      }
      case Year: std::snprintf(b, sizeof b, "%04d", st_.wYear); break;
    }
    return Ascii(b);
  }

  RECT Arrows(bool up) const {
    RECT r = Client();
    int line = std::max(1, Scale(1));
    int w = std::min<int>(qk::ControlScrollBarWidth() + Scale(4), r.right / 3);
    int mid = r.bottom / 2;
    return up ? RECT{r.right - w, 0, r.right, mid + line} : RECT{r.right - w, mid, r.right, r.bottom};
  }

  // The fields' texts and places (dc may be null: a measuring DC is made).
  void Layout(std::vector<std::u16string>* texts, std::vector<RECT>* rects, HDC dc = nullptr) {
    HDC own = nullptr;
    HGDIOBJ old = nullptr;
    if (!dc) {
      own = dc = CreateCompatibleDC(nullptr);
      old = SelectObject(dc, Font());
    }
    std::vector<Field> fields = Fields();
    separators_.clear();
    RECT r = Client();
    int x = r.left + Scale(6);
    int pad = Scale(2);
    for (size_t i = 0; i < fields.size(); ++i) {
      std::u16string t = valid_ ? FieldText(fields[i]) : std::u16string(u"--");
      SIZE s{};
      GetTextExtentPoint32W(dc, t.c_str(), static_cast<int>(t.size()), &s);
      RECT f{x, r.top + Scale(3), x + s.cx + 2 * pad, r.bottom - Scale(3)};
      if (texts) texts->push_back(t);
      rects->push_back(f);
      std::u16string sep;
      if (i + 1 < fields.size()) sep = TimeMode() ? (fields[i + 1] == AmPm ? u" " : u":") : u" ";
      SIZE ss{};
      GetTextExtentPoint32W(dc, sep.c_str(), static_cast<int>(sep.size()), &ss);
      separators_.push_back(sep);
      x = f.right + ss.cx;
    }
    if (own) {
      SelectObject(own, old);
      DeleteDC(own);
    }
  }

  void Set(Field f, int value) {
    SYSTEMTIME st = st_;
    switch (f) {
      case Hour: st.wHour = static_cast<WORD>(value); break;
      case Minute: st.wMinute = static_cast<WORD>(value); break;
      case Second: st.wSecond = static_cast<WORD>(value); break;
      case AmPm: st.wHour = static_cast<WORD>((st.wHour + 12) % 24); break;
      case Day: st.wDay = static_cast<WORD>(value); break;
      case Month: st.wMonth = static_cast<WORD>(value); break;
      case Year: st.wYear = static_cast<WORD>(value); break;
    }
    st.wDay = static_cast<WORD>(std::min<int>(st.wDay, DaysIn(st.wYear, st.wMonth)));
    st.wDayOfWeek = DayOfWeek(st.wYear, st.wMonth, st.wDay);
    if ((hasMin_ && Key(st) < Key(min_)) || (hasMax_ && Key(st) > Key(max_))) return;
    if (Key(st) == Key(st_) && valid_) return;
    st_ = st;
    valid_ = true;
    Redraw();
    NMDATETIMECHANGE nm{};
    nm.dwFlags = GDT_VALID;
    nm.st = st_;
    Notify(&nm.nmhdr, DTN_DATETIMECHANGE);
  }

  // One step of the chosen field, wrapping within its range.
  void Change(int dir) {
    std::vector<Field> fields = Fields();
    field_ = std::clamp(field_, 0, static_cast<int>(fields.size()) - 1);
    Field f = fields[static_cast<size_t>(field_)];
    typed_ = 0;
    auto wrap = [&](int v, int lo, int hi) { return v < lo ? hi : v > hi ? lo : v; };
    switch (f) {
      case Hour: Set(f, wrap(st_.wHour + dir, 0, 23)); break;
      case Minute: Set(f, wrap(st_.wMinute + dir, 0, 59)); break;
      case Second: Set(f, wrap(st_.wSecond + dir, 0, 59)); break;
      case AmPm: Set(f, 0); break;
      case Day: Set(f, wrap(st_.wDay + dir, 1, DaysIn(st_.wYear, st_.wMonth))); break;
      case Month: Set(f, wrap(st_.wMonth + dir, 1, 12)); break;
      case Year: Set(f, std::clamp(st_.wYear + dir, 1601, 9999)); break;
    }
  }

  // Typed digits: a second digit within the field's range joins the first.
  void Digit(int d) {
    std::vector<Field> fields = Fields();
    field_ = std::clamp(field_, 0, static_cast<int>(fields.size()) - 1);
    Field f = fields[static_cast<size_t>(field_)];
    if (f == AmPm || f == Year) return;  // years change with the arrows
    int value = typed_ > 0 ? typedValue_ * 10 + d : d;
    int hi = f == Hour ? (TwelveHour() ? 12 : 23) : f == Minute || f == Second ? 59 : f == Day ? 31 : f == Month ? 12 : 9999;
    if (value > hi) value = d;
    typedValue_ = value;
    typed_ = typed_ > 0 && value != d ? 0 : 1;
    int v = value;
    if (f == Hour && TwelveHour()) v = (v % 12) + (st_.wHour >= 12 ? 12 : 0);
    if ((f == Day || f == Month) && value == 0) return;
    Set(f, v);
    if (typed_ == 0 && field_ + 1 < static_cast<int>(fields.size())) {
      ++field_;
      Redraw();
    }
  }

  SYSTEMTIME st_{};
  bool valid_ = true;
  bool hasMin_ = false, hasMax_ = false;
  SYSTEMTIME min_{}, max_{};
  int field_ = 0;
  int pressed_ = 0;
  int typed_ = 0, typedValue_ = 0;
  std::vector<std::u16string> separators_;
};

}  // namespace

void RegisterDateTime() { RegisterClass(u"SysDateTimePick32", ControlProc<DateTime>); }

}  // namespace qk::controls
