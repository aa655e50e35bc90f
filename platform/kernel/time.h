// Clock, tick count, time zone, locale and memory status.
//
// Tests control time: the wall clock and the tick count can be frozen at a
// value and advanced by hand (timers of the message layer follow the same
// tick count), the local time zone can be fixed to an offset from UTC, and
// the locale (language abbreviation, month names, 12/24-hour clock, AM/PM
// texts, language id) can be replaced.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "kernel/types.h"

void GetLocalTime(LPSYSTEMTIME st);
void GetSystemTime(LPSYSTEMTIME st);
DWORD GetTickCount();
BOOL SystemTimeToFileTime(const SYSTEMTIME* st, LPFILETIME ft);
BOOL FileTimeToSystemTime(const FILETIME* ft, LPSYSTEMTIME st);
BOOL FileTimeToLocalFileTime(const FILETIME* ft, LPFILETIME local);
BOOL LocalFileTimeToFileTime(const FILETIME* local, LPFILETIME ft);
void GetSystemTimeAsFileTime(LPFILETIME ft);
LONG CompareFileTime(const FILETIME* a, const FILETIME* b);

struct TIME_ZONE_INFORMATION {
  LONG Bias;  // minutes, UTC = local + Bias
  WCHAR StandardName[32];
  SYSTEMTIME StandardDate;
  LONG StandardBias;
  WCHAR DaylightName[32];
  SYSTEMTIME DaylightDate;
  LONG DaylightBias;
};
#define TIME_ZONE_ID_UNKNOWN 0
DWORD GetTimeZoneInformation(TIME_ZONE_INFORMATION* tz);

// Locale.
#define LOCALE_SYSTEM_DEFAULT 0x0800
#define LOCALE_USER_DEFAULT 0x0400
#define LOCALE_ILANGUAGE 0x00000001
#define LOCALE_SLANGUAGE 0x00000002
#define LOCALE_SABBREVLANGNAME 0x00000003
#define LOCALE_SNATIVELANGNAME 0x00000004
#define LOCALE_ITIME 0x00000023
#define LOCALE_S1159 0x00000028
#define LOCALE_S2359 0x00000029
#define LOCALE_SDAYNAME1 0x0000002A
#define LOCALE_SABBREVDAYNAME1 0x00000031
#define LOCALE_SMONTHNAME1 0x00000038
#define LOCALE_SABBREVMONTHNAME1 0x00000044
#define LOCALE_STIMEFORMAT 0x00001003
#define LOCALE_SSHORTDATE 0x0000001F

// Writes the value with its terminator; returns the units written including
// the terminator, the size needed when cch is 0, and 0 on failure
// (ERROR_INSUFFICIENT_BUFFER when it does not fit).
int GetLocaleInfoW(LCID locale, LCTYPE type, LPWSTR data, int cch);
LANGID GetUserDefaultLangID();
LANGID GetSystemDefaultLangID();
LCID GetUserDefaultLCID();
#define PRIMARYLANGID(lgid) ((WORD)(lgid) & 0x3ff)
#define LANG_CHINESE 0x04
#define LANG_JAPANESE 0x11
#define LANG_KOREAN 0x12
#define LANG_ENGLISH 0x09

struct MEMORYSTATUS {
  DWORD dwLength;
  DWORD dwMemoryLoad;
  DWORD dwTotalPhys;
  DWORD dwAvailPhys;
  DWORD dwTotalPageFile;
  DWORD dwAvailPageFile;
  DWORD dwTotalVirtual;
  DWORD dwAvailVirtual;
};
typedef MEMORYSTATUS* LPMEMORYSTATUS;
// Figures are clamped to 32 bits as on the device.
void GlobalMemoryStatus(LPMEMORYSTATUS status);

void Sleep(DWORD ms);

namespace qk {

// Milliseconds since 1970-01-01 UTC of the (possibly frozen) wall clock.
int64_t WallClockMs();
// The (possibly frozen) tick count in milliseconds, 64 bits wide.
uint64_t TickCount64();
// Offset of local time east of UTC, in minutes, now in force.
int LocalOffsetMinutes();
// The offset in force at a moment (milliseconds since 1970 UTC).
int LocalOffsetMinutesAt(int64_t utcMs);

// Test controls. A program started with the environment variable
// QUILLET_FROZEN_CLOCK=<UTC ms>[,<tick ms>] starts on a frozen clock (the
// variable is removed, so the programs it starts do not inherit it; a
// shared library with its own copy of this layer keeps the real clock).
void FreezeClock(int64_t utcMs, uint64_t tickMs = 0);
void AdvanceClock(int64_t ms);  // both frozen clocks move on
void UseRealClock();
bool ClockFrozen();
// Called after every FreezeClock, AdvanceClock and UseRealClock, on the
// calling thread: the window layer wakes the threads whose timers follow
// the clock. One listener; returns the one it replaces.
using ClockListener = void (*)();
ClockListener SetClockListener(ClockListener listener);
void SetTimeZoneOffset(int minutesEastOfUtc);
void UseHostTimeZone();

// The device's clock. The wall clock of every program of a device root is
// the host's clock plus one offset kept in the root's kernel folder
// ("clock.shared"), or a time at which the device's clock stands, so
// setting the device's time moves it for all of them at once, as setting a
// phone's clock does. A frozen clock (above) is not moved by it, and neither
// is the tick count (a phone's does not jump when its clock is set). A
// change wakes every SleepUntilWallClock of the root.
// Sets the device's clock to utcMs; it runs on from there, or, standing,
// stays there until it is set again (tests move it by hand).
void SetDeviceClock(int64_t utcMs, bool standing = false);
// Sleeps, without waking in between, until the wall clock (device offset or
// frozen clock included) reaches utcMs, or until *wake no longer holds seen
// (a private word: whoever changes it wakes it with WakeClockSleepers).
// True when the time came.
bool SleepUntilWallClock(int64_t utcMs, const std::atomic<uint32_t>* wake, uint32_t seen);
// A number that changes whenever the device's clock is set (by any program
// of the root), and the sleep until it does: true when the clock was set,
// false when *wake no longer holds wakeSeen.
uint32_t DeviceClockSetCount();
bool SleepUntilDeviceClockSet(uint32_t seen, const std::atomic<uint32_t>* wake, uint32_t wakeSeen);
// Wakes the sleepers of this process so they look at their words again.
void WakeClockSleepers();
// The device's wall clock when the host's reads hostMs.
int64_t DeviceWallClockMs(int64_t hostMs);

struct Locale {
  std::u16string abbrevLangName = u"ENU";  // LOCALE_SABBREVLANGNAME
  std::u16string languageName = u"English";
  LANGID langId = 0x0409;
  std::u16string monthNames[12];
  std::u16string abbrevMonthNames[12];
  std::u16string dayNames[7];        // Monday first, as the platform numbers them
  std::u16string abbrevDayNames[7];
  std::u16string timeFormat = u"0";  // LOCALE_ITIME: "0" 12-hour, "1" 24-hour
  std::u16string am = u"AM";         // LOCALE_S1159
  std::u16string pm = u"PM";         // LOCALE_S2359
  Locale();                          // English (United States)
};
void SetLocale(const Locale& locale);
Locale GetLocale();

}  // namespace qk
