#include "common/display_date.h"

#include <cstdlib>

#include "common/localize.h"

namespace {

// A field of the stored text read by position as a decimal number; a
// missing or non-numeric field reads as 0.
int Field(const CString& s, int first, int count) {
  CString part = s.Mid(first, count);
  CStringA narrow(part);
  return atoi(narrow);
}

CString LocaleText(LCTYPE type, int max) {
  WCHAR buf[64] = {0};
  if (max > 64) max = 64;
  if (GetLocaleInfoW(LOCALE_USER_DEFAULT, type, buf, max) <= 0) return CString();
  return CString(buf);
}

}  // namespace

CString& FormatDisplayDate(CString& out, const CString& stored) {
  if (stored.GetLength() < 10) {
    out = stored;
    return out;
  }
  int month = Field(stored, 5, 2);
  int day = Field(stored, 8, 2);
  int hour = Field(stored, 11, 2);
  int minute = Field(stored, 14, 2);

  SYSTEMTIME now;
  GetLocalTime(&now);
  CString today;
  today.Format(u"%04d-%02d-%02d", now.wYear, now.wMonth, now.wDay);

  CString datePart;
  if (stored.Find(today) >= 0) {
    CString word;
    Localize(word, u"Today");
    datePart = word + u", ";
  } else {
    if (month >= 1 && month <= 12) {
      CString name = LocaleText(LOCALE_SABBREVMONTHNAME1 + LCTYPE(month - 1), 16);
      if (!name.IsEmpty()) datePart = name + u" ";
    }
    // The day as the C runtime's "%d" prints a day of the month: two digits.
    datePart.AppendFormat(u"%02d, ", ((day % 100) + 100) % 100);
  }

  // Hours and minutes are taken modulo their range, as the C runtime's time
  // formatting does with out-of-range fields.
  int h = ((hour % 24) + 24) % 24;
  int m = ((minute % 60) + 60) % 60;
  CString timePart;
  CString clock = LocaleText(LOCALE_ITIME, 4);
  if (!clock.IsEmpty() && clock[0] == u'1') {
    timePart.Format(u"%02d:%02d", h, m);
  } else {
    int h12 = h % 12 == 0 ? 12 : h % 12;
    timePart.Format(u"%02d:%02d ", h12, m);
    CString designator = LocaleText(h < 12 ? LOCALE_S1159 : LOCALE_S2359, 16);
    timePart += designator;
  }
  out = datePart + timePart;
  return out;
}
