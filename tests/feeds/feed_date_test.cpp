// Feed dates: W3C and RFC 822 texts to stored local-time texts, under
// two time zones, and the arithmetic beneath.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "framework/afx.h"
#include "quillet/feeds/feed_date.h"
#include "support/device_fixture.h"

namespace {

std::u16string Fmt(const char16_t* text) {
  WCHAR out[32] = u"untouched";
  if (!FormatFeedDate(text, out)) return u"FAIL:" + std::u16string(out);
  return std::u16string(out);
}

// 2005-06-01 00:00:00 UTC
const int64_t kJune1 = 1117584000;

class FeedDateTest : public qtest::DeviceTest {};

TEST_F(FeedDateTest, W3CForms) {
  EXPECT_EQ(ParseW3CDate("2005-06-01T12:34:56Z"), kJune1 + 12 * 3600 + 34 * 60 + 56);
  EXPECT_EQ(ParseW3CDate("2005-06-01T12:34:56+02:00"), kJune1 + 10 * 3600 + 34 * 60 + 56);
  EXPECT_EQ(ParseW3CDate("2005-06-01T12:34:56-0130"), kJune1 + 14 * 3600 + 4 * 60 + 56);
  // A fraction of a second does not hide the zone.
  EXPECT_EQ(ParseW3CDate("2005-06-01T12:34:56.5+02:00"), kJune1 + 10 * 3600 + 34 * 60 + 56);
  EXPECT_EQ(ParseW3CDate("2005-06-01T12:34:56.123Z"), kJune1 + 12 * 3600 + 34 * 60 + 56);
  EXPECT_EQ(ParseW3CDate("2005-06-01T12:34"), kJune1 + 12 * 3600 + 34 * 60);
  EXPECT_EQ(ParseW3CDate("  2005-06-01T12:34:5 "), kJune1 + 12 * 3600 + 34 * 60 + 5);
  // A single seconds digit at the very end of the text is the seconds too.
  EXPECT_EQ(ParseW3CDate("2005-06-01T12:34:5"), kJune1 + 12 * 3600 + 34 * 60 + 5);
  EXPECT_EQ(ParseW3CDate("2005-06-01T12:34:7Z"), kJune1 + 12 * 3600 + 34 * 60 + 7);
  // Seconds beyond a leap second are no time of day: the text is no date.
  EXPECT_EQ(ParseW3CDate("2005-06-01T23:59:60Z"), kJune1 + 24 * 3600);
  EXPECT_EQ(ParseW3CDate("2005-06-01T12:34:61Z"), 0);
  EXPECT_EQ(ParseW3CDate("2005-06-01T12:34:99Z"), 0);
  // Date alone, and a date whose time stops after the hour.
  EXPECT_EQ(ParseW3CDate("2005-06-01"), kJune1);
  EXPECT_EQ(ParseW3CDate("2005-06-01T12"), kJune1 + 12 * 3600);
  EXPECT_EQ(ParseW3CDate("2005-06-01t12:00:00Z"), kJune1);  // lower-case t: date only
  EXPECT_EQ(ParseW3CDate("2005-02-31T00:00:00Z"), 0);
  EXPECT_EQ(ParseW3CDate("2005-13-01"), 0);
  EXPECT_EQ(ParseW3CDate("yesterday"), 0);
  EXPECT_EQ(ParseW3CDate(""), 0);
}

TEST_F(FeedDateTest, Rfc822Forms) {
  int64_t noon = kJune1 + 12 * 3600;
  EXPECT_EQ(ParseRfc822Date("Wed, 01 Jun 2005 12:00:00 GMT"), noon);
  EXPECT_EQ(ParseRfc822Date("01 Jun 05 12:00:00 +0000"), noon);
  EXPECT_EQ(ParseRfc822Date("01 June 2005 12:00:00 EST"), kJune1 + 17 * 3600);
  EXPECT_EQ(ParseRfc822Date("Sat, 01 Jun 2005 12:00:00 MST"), kJune1 + 19 * 3600);
  EXPECT_EQ(ParseRfc822Date("Sat, 01 Jun 2005 12:00:00 M"), kJune1 + 24 * 3600);
  EXPECT_EQ(ParseRfc822Date("Wed, 01 jun 2005 12:00:00 +0530"), noon - 19800);
  EXPECT_EQ(ParseRfc822Date("Wed, 01 Jun 2005 12:00:00 -0930"), noon + 34200);
  EXPECT_EQ(ParseRfc822Date("Wed, 01 Jun 2005 12:00:00 (EDT)"), noon + 4 * 3600);
  EXPECT_EQ(ParseRfc822Date("Wed, 01 Jun 2005 12:00:00 cet"), noon);  // unknown: UTC
  // A tab right before the day number fails, as the C locale's reading does.
  EXPECT_EQ(ParseRfc822Date("Wed,\t01 Jun 2005 12:00:00 GMT"), 0);
  EXPECT_EQ(ParseRfc822Date("Wed, 41 Jun 2005 12:00:00 GMT"), 0);
  EXPECT_EQ(ParseRfc822Date("Wed, 01 Foo 2005 12:00:00 GMT"), 0);
  EXPECT_EQ(ParseRfc822Date("Wed, 01 Jun 2005 12:00:61 GMT"), 0);
  EXPECT_EQ(ParseTimeZone("+0530"), 19800);
  EXPECT_EQ(ParseTimeZone("-0930"), -34200);
  EXPECT_EQ(ParseTimeZone("PDT"), -7 * 3600);
  EXPECT_EQ(ParseTimeZone("+99999999999999999999"), (9999 - 40 * 99) * 60);
  // Forms real feeds write: the zone's hours and minutes apart or hours
  // alone, and a time without seconds.
  EXPECT_EQ(ParseTimeZone("+05:30"), 19800);
  EXPECT_EQ(ParseTimeZone("-03:00"), -3 * 3600);
  EXPECT_EQ(ParseTimeZone("+01"), 3600);
  EXPECT_EQ(ParseRfc822Date("Wed, 01 Jun 2005 12:00:00 +05:30"), noon - 19800);
  EXPECT_EQ(ParseRfc822Date("Wed, 01 Jun 2005 12:00 GMT"), noon);
  EXPECT_EQ(ParseRfc822Date("Wed, 1 Jun 05 12:00 -0200"), noon + 7200);
  EXPECT_EQ(ParseRfc822Date("Wed, 01 Jun 2005 12 GMT"), 0);
  // A military letter is a zone only when it stands alone; longer names
  // that start with one are unknown, and unknown zones count as UTC.
  EXPECT_EQ(ParseTimeZone("M"), -12 * 3600);
  EXPECT_EQ(ParseTimeZone("N)"), 3600);
  for (const char* zone : {"MSK", "MEZ", "NZST", "AEST", "YEKT", "Moscow"}) EXPECT_EQ(ParseTimeZone(zone), 0) << zone;
  EXPECT_EQ(ParseRfc822Date("Wed, 01 Jun 2005 12:00:00 MSK"), noon);
  EXPECT_EQ(ParseTimeZone("UTC"), 0);
}

// The examples as stored texts, once in UTC and once two hours east.
TEST_F(FeedDateTest, StoredTextUnderTwoZones) {
  struct Case {
    const char16_t* in;
    const char16_t* utc;
    const char16_t* plus2;
  } cases[] = {
      {u"2005-06-01T12:34:56Z", u"2005-06-01 12:34:56", u"2005-06-01 14:34:56"},
      {u"2005-06-01T12:34:56+02:00", u"2005-06-01 10:34:56", u"2005-06-01 12:34:56"},
      {u"2005-06-01T12:34:56.5+02:00", u"2005-06-01 10:34:56", u"2005-06-01 12:34:56"},
      {u"2005-06-01T12:34", u"2005-06-01 12:34:00", u"2005-06-01 14:34:00"},
      {u"Wed, 01 Jun 2005 12:00:00 GMT", u"2005-06-01 12:00:00", u"2005-06-01 14:00:00"},
      {u"01 Jun 05 12:00:00 +0000", u"2005-06-01 12:00:00", u"2005-06-01 14:00:00"},
      {u"01 June 2005 12:00:00 EST", u"2005-06-01 17:00:00", u"2005-06-01 19:00:00"},
      {u"Sat, 01 Jun 2005 12:00:00 MST", u"2005-06-01 19:00:00", u"2005-06-01 21:00:00"},
      {u"Sat, 01 Jun 2005 12:00:00 M", u"2005-06-02 00:00:00", u"2005-06-02 02:00:00"},
      {u"Tue, 31 Dec 2041 23:30:00 -0100", u"2042-01-01 00:30:00", u"2042-01-01 02:30:00"},
  };
  for (int zone : {0, 120}) {
    qk::SetTimeZoneOffset(zone);
    for (const Case& c : cases) {
      std::u16string got = Fmt(c.in);
      EXPECT_EQ(got, zone ? c.plus2 : c.utc) << "zone " << zone << " case " << CStringA(c.in).GetString();
      EXPECT_EQ(got.size(), size_t(FEED_DATE_LENGTH));
    }
  }
  // Not dates: the buffer is left as it was.
  EXPECT_EQ(Fmt(u"2005-06-01"), u"FAIL:untouched");
  EXPECT_EQ(Fmt(u"some words that are no date"), u"FAIL:untouched");
  EXPECT_EQ(Fmt(u"Wed, 01 Jun 2005 12:00:61 GMT"), u"FAIL:untouched");
  EXPECT_EQ(Fmt(u""), u"FAIL:untouched");
  EXPECT_EQ(Fmt(std::u16string(5000, u'a').c_str()), u"FAIL:untouched");
}

TEST_F(FeedDateTest, SecondsBeyond2038AndBefore1970) {
  qk::SetTimeZoneOffset(-300);
  struct tm tm;
  int64_t s = int64_t(1) << 32;  // 2106-02-07 06:28:16 UTC
  SecondsToLocalTime(s, &tm);
  EXPECT_EQ(tm.tm_year + 1900, 2106);
  EXPECT_EQ(tm.tm_mon, 1);
  EXPECT_EQ(tm.tm_mday, 7);
  EXPECT_EQ(tm.tm_hour, 1);
  int64_t back = 0;
  ASSERT_TRUE(LocalTimeToSeconds(tm, &back));
  EXPECT_EQ(back, s);
  SecondsToUtcTime(-86400, &tm);
  EXPECT_EQ(tm.tm_year + 1900, 1969);
  EXPECT_EQ(tm.tm_mday, 31);
  EXPECT_EQ(tm.tm_wday, 3);  // a Wednesday
  EXPECT_EQ(tm.tm_yday, 364);
  tm.tm_mon = 1;
  tm.tm_mday = 31;
  EXPECT_FALSE(LocalTimeToSeconds(tm, &back));
  FILETIME ft;
  ft.dwHighDateTime = 0x01C56650u;  // a file time in 2005
  ft.dwLowDateTime = 0;
  int64_t v = (int64_t(ft.dwHighDateTime) << 32);
  EXPECT_EQ(FileTimeToSeconds(ft), (v - 116444736000000000LL) / 10000000);
}

TEST_F(FeedDateTest, CurrentSecondsFollowTheKernelClock) {
  qk::FreezeClock(int64_t(kJune1) * 1000 + 999);
  int64_t out = 0;
  EXPECT_EQ(GetCurrentSeconds(&out), kJune1);
  EXPECT_EQ(out, kJune1);
  EXPECT_EQ(GetCurrentSeconds(), kJune1);
  qk::SetTimeZoneOffset(60);
  WCHAR text[32];
  CurrentLocalTimeText(text);
  EXPECT_EQ(std::u16string(text), u"2005-06-01 01:00:00");
}

// The conversions keep no shared result buffer: threads converting at the
// same time each get their own answer.
TEST_F(FeedDateTest, ConcurrentConversionsDoNotMix) {
  std::vector<std::thread> threads;
  std::atomic<int> wrong{0};
  for (int t = 0; t < 3; ++t) {
    threads.emplace_back([t, &wrong] {
      const char16_t* in = t == 0   ? u"2005-06-01T12:34:56Z"
                           : t == 1 ? u"Wed, 01 Jun 2011 01:02:03 GMT"
                                    : u"2030-12-31T23:59:59Z";
      const char16_t* want = t == 0 ? u"2005-06-01 12:34:56" : t == 1 ? u"2011-06-01 01:02:03" : u"2030-12-31 23:59:59";
      for (int i = 0; i < 2000; ++i) {
        WCHAR out[32];
        if (!FormatFeedDate(in, out) || std::u16string(out) != want) ++wrong;
        struct tm tm;
        SecondsToLocalTime(int64_t(t) * 100000000, &tm);
        if (tm.tm_year != (t == 0 ? 70 : t == 1 ? 73 : 76)) ++wrong;
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
