#include "quillet/feeds/feed_date.h"

#include <cstring>
#include <string>

#include "kernel/kernel.h"

namespace {

// Days from 1970-01-01 of a proleptic Gregorian date (month 1-12).
int64_t DaysFromCivil(int64_t y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, int64_t& y, int& m, int& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  y = yoe + era * 400;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  d = int(doy - (153 * mp + 2) / 5 + 1);
  m = int(mp < 10 ? mp + 3 : mp - 9);
  y += m <= 2;
}

bool IsLeap(int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int64_t y, int m) {
  static const int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : days[m - 1];
}

void BreakDown(int64_t seconds, struct tm* out) {
  int64_t days = seconds >= 0 ? seconds / 86400 : -((-seconds + 86399) / 86400);
  int64_t rest = seconds - days * 86400;
  int64_t y;
  int m, d;
  CivilFromDays(days, y, m, d);
  memset(out, 0, sizeof *out);
  out->tm_year = int(y - 1900);
  out->tm_mon = m - 1;
  out->tm_mday = d;
  out->tm_hour = int(rest / 3600);
  out->tm_min = int(rest / 60 % 60);
  out->tm_sec = int(rest % 60);
  int64_t wd = (days + 4) % 7;
  out->tm_wday = int(wd < 0 ? wd + 7 : wd);
  out->tm_yday = int(days - DaysFromCivil(y, 1, 1));
  out->tm_isdst = 0;
}

int64_t LocalOffsetSeconds() { return int64_t(qk::LocalOffsetMinutes()) * 60; }

// ---------------------------------------------------------------------------
// A small date matcher with the C locale's rules for the few directives the
// feed formats use ("%t", "%Y", "%y", "%m", "%d", "%b", "%H", "%M", "%T").
// Fields are written into tm as they are read, so a failed match keeps what
// it had read before the failure.

bool IsCSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

const char* kMonthNames[12] = {"January", "February", "March",     "April",   "May",      "June",
                               "July",    "August",   "September", "October", "November", "December"};
const char* kMonthAbbrev[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

bool PrefixNoCase(const char* text, const char* prefix) {
  for (; *prefix; ++prefix, ++text) {
    char a = *text, b = *prefix;
    if (a >= 'A' && a <= 'Z') a = char(a - 'A' + 'a');
    if (b >= 'A' && b <= 'Z') b = char(b - 'A' + 'a');
    if (a != b) return false;
  }
  return true;
}

// Reads a number of at most width digits, after skipping blanks (the space
// character only). Stops early once another digit could only exceed max.
const char* ReadNumber(const char* p, int width, int minValue, int maxValue, int* value) {
  while (*p == ' ') ++p;
  if (!IsDigit(*p)) return nullptr;
  int v = 0, n = 0;
  while (n < width && IsDigit(*p)) {
    v = v * 10 + (*p - '0');
    ++p;
    ++n;
    if (v * 10 > maxValue) break;
  }
  if (v < minValue || v > maxValue) return nullptr;
  *value = v;
  return p;
}

const char* Match(const char* text, const char* format, struct tm* tm) {
  const char* p = text;
  for (const char* f = format; *f; ++f) {
    if (IsCSpace(*f)) {
      while (IsCSpace(*p)) ++p;
      continue;
    }
    if (*f != '%') {
      if (*p != *f) return nullptr;
      ++p;
      continue;
    }
    ++f;
    int v = 0;
    switch (*f) {
      case 't':
        while (IsCSpace(*p)) ++p;
        break;
      case 'Y':
        if (!(p = ReadNumber(p, 4, 0, 9999, &v))) return nullptr;
        tm->tm_year = v - 1900;
        break;
      case 'y':
        if (!(p = ReadNumber(p, 2, 0, 99, &v))) return nullptr;
        tm->tm_year = v < 69 ? v + 100 : v;
        break;
      case 'm':
        if (!(p = ReadNumber(p, 2, 1, 12, &v))) return nullptr;
        tm->tm_mon = v - 1;
        break;
      case 'd':
        if (!(p = ReadNumber(p, 2, 1, 31, &v))) return nullptr;
        tm->tm_mday = v;
        break;
      case 'H':
        if (!(p = ReadNumber(p, 2, 0, 23, &v))) return nullptr;
        tm->tm_hour = v;
        break;
      case 'M':
        if (!(p = ReadNumber(p, 2, 0, 59, &v))) return nullptr;
        tm->tm_min = v;
        break;
      case 'T': {
        if (!(p = Match(p, "%H:%M:%S", tm))) return nullptr;
        break;
      }
      case 'S':
        if (!(p = ReadNumber(p, 2, 0, 61, &v))) return nullptr;
        tm->tm_sec = v;
        break;
      case 'b': {
        int month = -1;
        for (int i = 0; i < 12 && month < 0; ++i) {
          if (PrefixNoCase(p, kMonthNames[i])) {
            month = i;
            p += strlen(kMonthNames[i]);
          } else if (PrefixNoCase(p, kMonthAbbrev[i])) {
            month = i;
            p += strlen(kMonthAbbrev[i]);
          }
        }
        if (month < 0) return nullptr;
        tm->tm_mon = month;
        break;
      }
      default:
        return nullptr;
    }
  }
  return p;
}

// UTC fields to seconds; 0 when the fields are no real date.
int64_t UtcFieldsToSeconds(const struct tm& tm) {
  int64_t s = 0;
  return UtcTimeToSeconds(tm, &s) ? s : 0;
}

void WideFromAscii(const char* a, LPWSTR out) {
  while (*a) *out++ = WCHAR(static_cast<unsigned char>(*a++));
  *out = 0;
}

}  // namespace

BOOL UtcTimeToSeconds(const struct tm& utc, int64_t* seconds) {
  int64_t year = int64_t(utc.tm_year) + 1900;
  if (utc.tm_mon < 0 || utc.tm_mon > 11 || utc.tm_mday < 1 || utc.tm_mday > DaysInMonth(year, utc.tm_mon + 1) ||
      utc.tm_hour < 0 || utc.tm_hour > 23 || utc.tm_min < 0 || utc.tm_min > 59 || utc.tm_sec < 0 ||
      utc.tm_sec > 60)  // 60: a leap second, which the next minute's first second stands for
    return FALSE;
  *seconds = DaysFromCivil(year, utc.tm_mon + 1, utc.tm_mday) * 86400 + utc.tm_hour * 3600 + utc.tm_min * 60 +
             utc.tm_sec;
  return TRUE;
}

BOOL LocalTimeToSeconds(const struct tm& local, int64_t* seconds) {
  if (local.tm_sec > 59) return FALSE;
  int64_t s = 0;
  if (!UtcTimeToSeconds(local, &s)) return FALSE;
  *seconds = s - LocalOffsetSeconds();
  return TRUE;
}

void SecondsToUtcTime(int64_t seconds, struct tm* out) { BreakDown(seconds, out); }

void SecondsToLocalTime(int64_t seconds, struct tm* out) { BreakDown(seconds + LocalOffsetSeconds(), out); }

int64_t FileTimeToSeconds(const FILETIME& ft) {
  const int64_t kEpoch = 116444736000000000LL;  // 1970-01-01 as a file time
  int64_t v = int64_t((uint64_t(ft.dwHighDateTime) << 32) | ft.dwLowDateTime);
  return (v - kEpoch) / 10000000;
}

int64_t GetCurrentSeconds(int64_t* out) {
  int64_t ms = qk::WallClockMs();
  int64_t s = ms >= 0 ? ms / 1000 : -((-ms + 999) / 1000);
  if (out) *out = s;
  return s;
}

int ParseTimeZone(const char* text) {
  if (!text) return 0;
  if (*text == '+' || *text == '-') {
    bool negative = *text == '-';
    int64_t v = 0;
    const char* p = text + 1;
    // No zone is further than 99:99 from UTC; longer digit runs are cut.
    for (; IsDigit(*p) && v * 10 + (*p - '0') <= 9999; ++p) v = v * 10 + (*p - '0');
    // Hours and minutes written apart ("+05:30") or hours alone ("+01")
    // are the same offset as "+0530" and "+0100".
    if (p == text + 3 && *p == ':' && IsDigit(p[1]) && IsDigit(p[2])) v = v * 100 + (p[1] - '0') * 10 + (p[2] - '0');
    else if (p <= text + 3 && p > text + 1) v *= 100;
    if (negative) v = -v;
    return int((v - 40 * (v / 100)) * 60);
  }
  static const struct {
    const char* name;
    int hhmm;
  } kZones[] = {{"UT", 0},     {"GMT", 0},    {"EST", -500}, {"EDT", -400}, {"CST", -600},
                {"CDT", -500}, {"MST", -700}, {"MDT", -600}, {"PST", -800}, {"PDT", -700},
                {"Z", 0},      {"A", -100},   {"M", -1200},  {"N", 100},    {"Y", 1200}};
  const char* p = text;
  if (*p == '(') ++p;
  for (const auto& z : kZones) {
    size_t n = strlen(z.name);
    // A name of the table stands alone: the military letters "M", "N",
    // "A" and "Y" must not be taken from "MSK", "NZST", "AEST" or "YEKT",
    // which would put such dates up to twelve hours off (an unknown zone
    // counts as UTC).
    if (strncmp(p, z.name, n) != 0) continue;
    char next = p[n];
    bool alone = !((next >= 'A' && next <= 'Z') || (next >= 'a' && next <= 'z'));
    if (alone || n > 1) return (z.hhmm - 40 * (z.hhmm / 100)) * 60;
  }
  return 0;
}

int64_t ParseW3CDate(const char* text) {
  if (!text) return 0;
  struct tm tm;
  memset(&tm, 0, sizeof tm);
  int offset = 0;
  const char* p = Match(text, "%t%Y-%m-%dT%H:%M%t", &tm);
  if (p) {
    if (*p == ':') ++p;
    if (IsDigit(p[0]) && IsDigit(p[1])) {
      tm.tm_sec = (p[0] - '0') * 10 + (p[1] - '0');
      p += 2;
    } else if (IsDigit(p[0]) && !IsDigit(p[1])) {  // the end of the text is a non-digit too
      tm.tm_sec = p[0] - '0';
      p += 1;
    }
    // A fraction of a second is skipped so that the zone after it counts.
    if ((*p == '.' || *p == ',') && IsDigit(p[1])) {
      ++p;
      while (IsDigit(*p)) ++p;
    }
    if (*p == 'Z') {
      offset = 0;
    } else if ((*p == '+' || *p == '-') && IsDigit(p[1]) && IsDigit(p[2])) {
      int hours = (p[1] - '0') * 10 + (p[2] - '0');
      int minutes = 0;
      if (p[3] == ':' && IsDigit(p[4]) && IsDigit(p[5])) minutes = (p[4] - '0') * 10 + (p[5] - '0');
      else if (IsDigit(p[3]) && IsDigit(p[4])) minutes = (p[3] - '0') * 10 + (p[4] - '0');
      offset = hours * 3600 + minutes * 60;
      if (*p == '-') offset = -offset;
    }
  } else {
    if (!Match(text, "%t%Y-%m-%d", &tm)) return 0;
  }
  int64_t s = UtcFieldsToSeconds(tm);
  return s == 0 ? 0 : s - offset;
}

int64_t ParseRfc822Date(const char* text) {
  if (!text) return 0;
  const char* comma = strchr(text, ',');
  const char* start = comma ? comma + 1 : text;
  struct tm tm;
  memset(&tm, 0, sizeof tm);
  const char* p = Match(start, "%d %b %y %T", &tm);
  if (!p) {
    memset(&tm, 0, sizeof tm);
    p = Match(start, "%d %b %Y %T", &tm);
  }
  // The seconds are optional in this form ("Fri, 05 Jan 2024 10:00 GMT").
  if (!p) {
    memset(&tm, 0, sizeof tm);
    p = Match(start, "%d %b %y %H:%M", &tm);
    if (p && IsDigit(*p)) p = nullptr;  // a four-digit year read as two
  }
  if (!p) {
    memset(&tm, 0, sizeof tm);
    p = Match(start, "%d %b %Y %H:%M", &tm);
  }
  if (!p) return 0;
  while (IsCSpace(*p)) ++p;
  int64_t s = UtcFieldsToSeconds(tm);
  return s == 0 ? 0 : s - ParseTimeZone(p);
}

void FormatLocalTimeText(const struct tm& local, LPWSTR out) {
  const int year = local.tm_year + 1900;
  // Every item's date of every refresh comes here: the fields of a time
  // the calendar knows are written digit by digit, without the formatter.
  if (year >= 0 && year <= 9999 && local.tm_mon >= 0 && local.tm_mon <= 11 && local.tm_mday >= 1 &&
      local.tm_mday <= 31 && local.tm_hour >= 0 && local.tm_hour <= 23 && local.tm_min >= 0 && local.tm_min <= 59 &&
      local.tm_sec >= 0 && local.tm_sec <= 60) {
    auto two = [](LPWSTR at, int v) {
      at[0] = WCHAR(u'0' + v / 10);
      at[1] = WCHAR(u'0' + v % 10);
    };
    two(out, year / 100);
    two(out + 2, year % 100);
    out[4] = u'-';
    two(out + 5, local.tm_mon + 1);
    out[7] = u'-';
    two(out + 8, local.tm_mday);
    out[10] = u' ';
    two(out + 11, local.tm_hour);
    out[13] = u':';
    two(out + 14, local.tm_min);
    out[16] = u':';
    two(out + 17, local.tm_sec);
    out[19] = 0;
    return;
  }
  char buf[64];
  snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", local.tm_year + 1900, local.tm_mon + 1,
           local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
  buf[FEED_DATE_LENGTH] = 0;  // years beyond 9999 never come from a feed; keep the width
  WideFromAscii(buf, out);
}

void CurrentLocalTimeText(LPWSTR out) {
  struct tm local;
  SecondsToLocalTime(GetCurrentSeconds(), &local);
  FormatLocalTimeText(local, out);
}

int FormatFeedDate(LPCWSTR text, LPWSTR out) {
  if (!text || !out) return 0;
  bool letter = false;
  for (LPCWSTR p = text; *p && !letter; ++p) letter = (*p >= 'a' && *p <= 'z') || (*p >= 'A' && *p <= 'Z');
  if (!letter) return 0;
  // Dates are short; anything longer than a few hundred characters is no date.
  size_t len = wcsnlen(text, 512);
  if (len >= 512) return 0;
  char narrow[512 * 3 + 1];
  int n = WideCharToMultiByte(CP_ACP, 0, text, int(len), narrow, int(sizeof narrow) - 1, nullptr, nullptr);
  if (n <= 0) return 0;
  narrow[n] = 0;
  int64_t s = ParseW3CDate(narrow);
  if (s == 0) s = ParseRfc822Date(narrow);
  if (s == 0) return 0;
  struct tm local;
  SecondsToLocalTime(s, &local);
  if (local.tm_year + 1900 > 9999 || local.tm_year + 1900 < 0) return 0;
  FormatLocalTimeText(local, out);
  return 1;
}
