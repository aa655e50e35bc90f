// Clock, tick count, time zone, file times and locale.
#include <gtest/gtest.h>

#include "kernel/kernel.h"
#include "support/device_fixture.h"

namespace {

class Clock : public qtest::DeviceTest {};

// 2005-06-01 12:34:56.789 UTC, a Wednesday.
constexpr int64_t kJune2005 = 1117629296789LL;

TEST_F(Clock, FrozenClockDrivesLocalAndSystemTime) {
  qk::FreezeClock(kJune2005, 5000);
  qk::SetTimeZoneOffset(120);
  SYSTEMTIME st;
  GetSystemTime(&st);
  EXPECT_EQ(st.wYear, 2005);
  EXPECT_EQ(st.wMonth, 6);
  EXPECT_EQ(st.wDay, 1);
  EXPECT_EQ(st.wDayOfWeek, 3);
  EXPECT_EQ(st.wHour, 12);
  EXPECT_EQ(st.wMinute, 34);
  EXPECT_EQ(st.wSecond, 56);
  EXPECT_EQ(st.wMilliseconds, 789);
  GetLocalTime(&st);
  EXPECT_EQ(st.wHour, 14);
  qk::SetTimeZoneOffset(-13 * 60);
  GetLocalTime(&st);
  EXPECT_EQ(st.wDay, 31);
  EXPECT_EQ(st.wMonth, 5);
  EXPECT_EQ(st.wHour, 23);

  EXPECT_EQ(GetTickCount(), 5000u);
  qk::AdvanceClock(1500);
  EXPECT_EQ(GetTickCount(), 6500u);
  GetSystemTime(&st);
  EXPECT_EQ(st.wSecond, 58);
  qk::FreezeClock(0, 0xFFFFFFFFull + 10);
  EXPECT_EQ(GetTickCount(), 9u);  // the 32-bit count wraps as on the device
}

TEST_F(Clock, FileTimesRoundTripAndRefuseImpossibleDates) {
  SYSTEMTIME st = {2038, 1, 0, 19, 3, 14, 8, 0};
  FILETIME ft;
  ASSERT_TRUE(SystemTimeToFileTime(&st, &ft));
  ULONGLONG v = (ULONGLONG(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  EXPECT_EQ(v, (2147483648ULL + 11644473600ULL) * 10000000ULL);  // one second past the 32-bit limit
  SYSTEMTIME back;
  ASSERT_TRUE(FileTimeToSystemTime(&ft, &back));
  EXPECT_EQ(back.wYear, 2038);
  EXPECT_EQ(back.wDayOfWeek, 2);  // a Tuesday
  EXPECT_EQ(back.wSecond, 8);

  SYSTEMTIME feb31 = {2005, 2, 0, 31, 0, 0, 0, 0};
  EXPECT_FALSE(SystemTimeToFileTime(&feb31, &ft));
  SYSTEMTIME leap = {2004, 2, 0, 29, 0, 0, 0, 0};
  EXPECT_TRUE(SystemTimeToFileTime(&leap, &ft));
  SYSTEMTIME noLeap = {1900, 2, 0, 29, 0, 0, 0, 0};
  EXPECT_FALSE(SystemTimeToFileTime(&noLeap, &ft));

  qk::SetTimeZoneOffset(-300);
  FILETIME local;
  ASSERT_TRUE(SystemTimeToFileTime(&st, &ft));
  FileTimeToLocalFileTime(&ft, &local);
  FileTimeToSystemTime(&local, &back);
  EXPECT_EQ(back.wHour, 22);
  EXPECT_EQ(back.wDay, 18);
}

TEST_F(Clock, LocaleValuesAreSettable) {
  char16_t buf[32];
  EXPECT_EQ(GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SABBREVLANGNAME, buf, 32), 4);
  EXPECT_EQ(std::u16string(buf), u"ENU");
  GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SABBREVMONTHNAME1 + 2, buf, 32);
  EXPECT_EQ(std::u16string(buf), u"Mar");
  GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_ITIME, buf, 32);
  EXPECT_EQ(std::u16string(buf), u"0");
  EXPECT_EQ(GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SMONTHNAME1 + 8, nullptr, 0), 10);
  EXPECT_EQ(GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SMONTHNAME1 + 8, buf, 5), 0);

  qk::Locale de;
  de.abbrevLangName = u"DEU";
  de.langId = 0x0407;
  de.abbrevMonthNames[2] = u"Mär";
  de.timeFormat = u"1";
  de.am = u"";
  de.pm = u"";
  qk::SetLocale(de);
  GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_SABBREVMONTHNAME1 + 2, buf, 32);
  EXPECT_EQ(std::u16string(buf), u"Mär");
  EXPECT_EQ(GetLocaleInfoW(LOCALE_USER_DEFAULT, LOCALE_S1159, buf, 32), 1);
  EXPECT_EQ(GetUserDefaultLangID(), 0x0407);
}

TEST(Memory, StatusReportsPlausibleFigures) {
  MEMORYSTATUS ms;
  GlobalMemoryStatus(&ms);
  EXPECT_EQ(ms.dwLength, sizeof ms);
  EXPECT_GT(ms.dwTotalPhys, 0u);
  EXPECT_LE(ms.dwAvailPhys, ms.dwTotalPhys);
  EXPECT_LE(ms.dwAvailVirtual, ms.dwTotalVirtual);
}

TEST(Module, NamesTheProgramInItsDeviceFolder) {
  qk::SetProgramName(u"Ambrel.exe");
  char16_t path[MAX_PATH];
  EXPECT_EQ(GetModuleFileNameW(nullptr, path, MAX_PATH), 33u);
  EXPECT_EQ(std::u16string(path), u"\\Program Files\\Quillet\\Ambrel.exe");
  char16_t small[10];
  GetModuleFileNameW(nullptr, small, 10);
  EXPECT_EQ(std::u16string(small), u"\\Program ");
  EXPECT_NE(GetModuleHandleW(nullptr), nullptr);
  qk::SetProgramName(u"Quillet.exe");
}

}  // namespace
