#include "kernel/time.h"

#include <dlfcn.h>
#include <sys/auxv.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include "kernel/wstring.h"

namespace qk {

namespace {

std::mutex g_clockLock;
bool g_frozen = false;
int64_t g_frozenWallMs = 0;
uint64_t g_frozenTickMs = 0;
std::atomic<bool> g_fixedZone{false};
std::atomic<int> g_zoneMinutes{0};

// Told after every change of the frozen clock (outside the clock's lock).
std::atomic<ClockListener> g_clockListener{nullptr};

void ClockChanged() {
  WakeClockSleepers();
  if (auto listener = g_clockListener.load()) listener();
}

// True when this copy of the kernel belongs to the program itself, not to
// a shared library that carries its own copy (Ventrel does).
bool InProgramItself() {
  Dl_info mine{}, program{};
  static const int anchor = 0;
  if (!dladdr(&anchor, &mine)) return true;
  if (!dladdr(reinterpret_cast<void*>(getauxval(AT_ENTRY)), &program)) return true;
  return mine.dli_fbase == program.dli_fbase;
}

// A program started with QUILLET_FROZEN_CLOCK=<UTC ms>[,<tick ms>] runs on
// a frozen clock from its first instruction. The variable is taken out of
// the environment so that programs it starts keep the real clock. Only the
// program's own clock freezes: a shared library's copy of this layer keeps
// the real clock, so that nothing it times waits for an advance that its
// clock would never see.
struct FrozenAtStart {
  FrozenAtStart() {
    if (!InProgramItself()) return;
    const char* value = std::getenv("QUILLET_FROZEN_CLOCK");
    if (!value || !*value) return;
    char* end = nullptr;
    long long wall = std::strtoll(value, &end, 10);
    if (end == value) return;
    unsigned long long tick = 0;
    if (*end == ',') tick = std::strtoull(end + 1, nullptr, 10);
    g_frozen = true;
    g_frozenWallMs = wall;
    g_frozenTickMs = tick;
    ::unsetenv("QUILLET_FROZEN_CLOCK");
  }
} g_frozenAtStart;

std::mutex g_localeLock;
Locale* g_locale = nullptr;

int64_t RealWallMs() {
  timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

uint64_t RealTickMs() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return uint64_t(ts.tv_sec) * 1000 + uint64_t(ts.tv_nsec) / 1000000;
}

constexpr int64_t kFileTimeEpochDiff = 11644473600LL;  // seconds from 1601 to 1970

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void CivilFromDays(int64_t z, int64_t& y, unsigned& m, unsigned& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  y = static_cast<int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  y += (m <= 2);
}

bool IsLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int DaysInMonth(int y, int m) {
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : days[m - 1];
}

// Milliseconds since 1970 <-> SYSTEMTIME (no zone).
void MsToSystemTime(int64_t ms, SYSTEMTIME* st) {
  int64_t days = ms >= 0 ? ms / 86400000 : -((-ms + 86399999) / 86400000);
  int64_t rest = ms - days * 86400000;
  int64_t y;
  unsigned m, d;
  CivilFromDays(days, y, m, d);
  st->wYear = WORD(y);
  st->wMonth = WORD(m);
  st->wDay = WORD(d);
  st->wDayOfWeek = WORD(((days % 7) + 11) % 7);  // 1970-01-01 was a Thursday (4)
  st->wHour = WORD(rest / 3600000);
  st->wMinute = WORD((rest / 60000) % 60);
  st->wSecond = WORD((rest / 1000) % 60);
  st->wMilliseconds = WORD(rest % 1000);
}

}  // namespace

int64_t WallClockMs() {
  {
    std::lock_guard<std::mutex> g(g_clockLock);
    if (g_frozen) return g_frozenWallMs;
  }
  return DeviceWallClockMs(RealWallMs());
}

uint64_t TickCount64() {
  std::lock_guard<std::mutex> g(g_clockLock);
  return g_frozen ? g_frozenTickMs : RealTickMs();
}

bool ClockFrozen() {
  std::lock_guard<std::mutex> g(g_clockLock);
  return g_frozen;
}

void FreezeClock(int64_t utcMs, uint64_t tickMs) {
  {
    std::lock_guard<std::mutex> g(g_clockLock);
    g_frozen = true;
    g_frozenWallMs = utcMs;
    g_frozenTickMs = tickMs;
  }
  ClockChanged();
}

void AdvanceClock(int64_t ms) {
  {
    std::lock_guard<std::mutex> g(g_clockLock);
    if (!g_frozen) return;
    g_frozenWallMs += ms;
    g_frozenTickMs += uint64_t(ms);
  }
  ClockChanged();
}

void UseRealClock() {
  {
    std::lock_guard<std::mutex> g(g_clockLock);
    g_frozen = false;
  }
  ClockChanged();
}

ClockListener SetClockListener(ClockListener listener) { return g_clockListener.exchange(listener); }

void SetTimeZoneOffset(int minutesEastOfUtc) {
  g_zoneMinutes = minutesEastOfUtc;
  g_fixedZone = true;
}

void UseHostTimeZone() { g_fixedZone = false; }

int LocalOffsetMinutes() { return LocalOffsetMinutesAt(WallClockMs()); }

int LocalOffsetMinutesAt(int64_t utcMs) {
  if (g_fixedZone) return g_zoneMinutes;
  time_t at = time_t(utcMs >= 0 ? utcMs / 1000 : -((-utcMs + 999) / 1000));
  struct tm local;
  if (!localtime_r(&at, &local)) return 0;
  return int(local.tm_gmtoff / 60);
}

Locale::Locale() {
  static const char16_t* months[12] = {u"January", u"February", u"March",     u"April",   u"May",      u"June",
                                       u"July",    u"August",   u"September", u"October", u"November", u"December"};
  static const char16_t* days[7] = {u"Monday", u"Tuesday", u"Wednesday", u"Thursday", u"Friday", u"Saturday", u"Sunday"};
  for (int i = 0; i < 12; ++i) {
    monthNames[i] = months[i];
    abbrevMonthNames[i] = std::u16string(months[i]).substr(0, 3);
  }
  for (int i = 0; i < 7; ++i) {
    dayNames[i] = days[i];
    abbrevDayNames[i] = std::u16string(days[i]).substr(0, 3);
  }
}

void SetLocale(const Locale& locale) {
  std::lock_guard<std::mutex> g(g_localeLock);
  delete g_locale;
  g_locale = new Locale(locale);
}

Locale GetLocale() {
  std::lock_guard<std::mutex> g(g_localeLock);
  return g_locale ? *g_locale : Locale();
}

int64_t FileTimeToMs(const FILETIME* ft) {
  uint64_t v = (uint64_t(ft->dwHighDateTime) << 32) | ft->dwLowDateTime;
  return int64_t(v / 10000) - kFileTimeEpochDiff * 1000;
}

FILETIME MsToFileTime(int64_t ms) {
  uint64_t v = uint64_t(ms + kFileTimeEpochDiff * 1000) * 10000;
  return FILETIME{DWORD(v & 0xFFFFFFFFu), DWORD(v >> 32)};
}

}  // namespace qk

void GetSystemTime(LPSYSTEMTIME st) { qk::MsToSystemTime(qk::WallClockMs(), st); }

void GetLocalTime(LPSYSTEMTIME st) {
  qk::MsToSystemTime(qk::WallClockMs() + int64_t(qk::LocalOffsetMinutes()) * 60000, st);
}

DWORD GetTickCount() { return DWORD(qk::TickCount64() & 0xFFFFFFFFu); }

BOOL SystemTimeToFileTime(const SYSTEMTIME* st, LPFILETIME ft) {
  if (!st || !ft || st->wYear < 1601 || st->wYear > 30827 || st->wMonth < 1 || st->wMonth > 12 || st->wDay < 1 ||
      st->wDay > qk::DaysInMonth(st->wYear, st->wMonth) || st->wHour > 23 || st->wMinute > 59 || st->wSecond > 59 ||
      st->wMilliseconds > 999) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  int64_t days = qk::DaysFromCivil(st->wYear, st->wMonth, st->wDay);
  int64_t ms = days * 86400000 + int64_t(st->wHour) * 3600000 + int64_t(st->wMinute) * 60000 +
               int64_t(st->wSecond) * 1000 + st->wMilliseconds;
  *ft = qk::MsToFileTime(ms);
  return TRUE;
}

BOOL FileTimeToSystemTime(const FILETIME* ft, LPSYSTEMTIME st) {
  if (!ft || !st || (ft->dwHighDateTime & 0x80000000u)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  qk::MsToSystemTime(qk::FileTimeToMs(ft), st);
  return TRUE;
}

BOOL FileTimeToLocalFileTime(const FILETIME* ft, LPFILETIME local) {
  if (!ft || !local) return FALSE;
  *local = qk::MsToFileTime(qk::FileTimeToMs(ft) + int64_t(qk::LocalOffsetMinutes()) * 60000);
  return TRUE;
}

BOOL LocalFileTimeToFileTime(const FILETIME* local, LPFILETIME ft) {
  if (!ft || !local) return FALSE;
  *ft = qk::MsToFileTime(qk::FileTimeToMs(local) - int64_t(qk::LocalOffsetMinutes()) * 60000);
  return TRUE;
}

void GetSystemTimeAsFileTime(LPFILETIME ft) { *ft = qk::MsToFileTime(qk::WallClockMs()); }

LONG CompareFileTime(const FILETIME* a, const FILETIME* b) {
  uint64_t x = (uint64_t(a->dwHighDateTime) << 32) | a->dwLowDateTime;
  uint64_t y = (uint64_t(b->dwHighDateTime) << 32) | b->dwLowDateTime;
  return x < y ? -1 : x > y ? 1 : 0;
}

DWORD GetTimeZoneInformation(TIME_ZONE_INFORMATION* tz) {
  memset(tz, 0, sizeof *tz);
  tz->Bias = -qk::LocalOffsetMinutes();
  return TIME_ZONE_ID_UNKNOWN;
}

int GetLocaleInfoW(LCID, LCTYPE type, LPWSTR data, int cch) {
  qk::Locale loc = qk::GetLocale();
  std::u16string value;
  bool known = true;
  if (type >= LOCALE_SMONTHNAME1 && type < LOCALE_SMONTHNAME1 + 12) {
    value = loc.monthNames[type - LOCALE_SMONTHNAME1];
  } else if (type >= LOCALE_SABBREVMONTHNAME1 && type < LOCALE_SABBREVMONTHNAME1 + 12) {
    value = loc.abbrevMonthNames[type - LOCALE_SABBREVMONTHNAME1];
  } else if (type >= LOCALE_SDAYNAME1 && type < LOCALE_SDAYNAME1 + 7) {
    value = loc.dayNames[type - LOCALE_SDAYNAME1];
  } else if (type >= LOCALE_SABBREVDAYNAME1 && type < LOCALE_SABBREVDAYNAME1 + 7) {
    value = loc.abbrevDayNames[type - LOCALE_SABBREVDAYNAME1];
  } else {
    switch (type) {
      case LOCALE_SABBREVLANGNAME: value = loc.abbrevLangName; break;
      case LOCALE_SLANGUAGE:
      case LOCALE_SNATIVELANGNAME: value = loc.languageName; break;
      case LOCALE_ILANGUAGE: value = qk::Format(u"%04x", unsigned(loc.langId)); break;
      case LOCALE_ITIME: value = loc.timeFormat; break;
      case LOCALE_S1159: value = loc.am; break;
      case LOCALE_S2359: value = loc.pm; break;
      case LOCALE_STIMEFORMAT: value = loc.timeFormat == u"1" ? u"HH:mm:ss" : u"h:mm:ss tt"; break;
      case LOCALE_SSHORTDATE: value = u"M/d/yyyy"; break;
      default: known = false; break;
    }
  }
  if (!known) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  int needed = int(value.size()) + 1;
  if (cch == 0) return needed;
  if (!data || cch < needed) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  memcpy(data, value.c_str(), size_t(needed) * sizeof(char16_t));
  return needed;
}

LANGID GetUserDefaultLangID() { return qk::GetLocale().langId; }
LANGID GetSystemDefaultLangID() { return qk::GetLocale().langId; }
LCID GetUserDefaultLCID() { return qk::GetLocale().langId; }

void GlobalMemoryStatus(LPMEMORYSTATUS status) {
  memset(status, 0, sizeof *status);
  status->dwLength = sizeof *status;
  unsigned long long total = 0, avail = 0, swapTotal = 0, swapFree = 0;
  if (FILE* f = fopen("/proc/meminfo", "r")) {
    char line[256];
    while (fgets(line, sizeof line, f)) {
      unsigned long long v;
      if (sscanf(line, "MemTotal: %llu", &v) == 1) total = v * 1024;
      else if (sscanf(line, "MemAvailable: %llu", &v) == 1) avail = v * 1024;
      else if (sscanf(line, "SwapTotal: %llu", &v) == 1) swapTotal = v * 1024;
      else if (sscanf(line, "SwapFree: %llu", &v) == 1) swapFree = v * 1024;
    }
    fclose(f);
  }
  auto clamp = [](unsigned long long v) { return DWORD(v > 0xFFFFFFFFull ? 0xFFFFFFFFull : v); };
  status->dwTotalPhys = clamp(total);
  status->dwAvailPhys = clamp(avail);
  status->dwTotalPageFile = clamp(swapTotal);
  status->dwAvailPageFile = clamp(swapFree);
  status->dwTotalVirtual = 0x7FFE0000u;  // a 2 GB process space, as on the device
  status->dwAvailVirtual = clamp(avail < 0x7FFE0000ull ? avail : 0x7FFE0000ull);
  status->dwMemoryLoad = total ? DWORD(100 - (avail * 100) / total) : 0;
}

void Sleep(DWORD ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }
