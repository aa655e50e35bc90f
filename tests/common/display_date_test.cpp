// The display form of stored item dates.
#include <gtest/gtest.h>

#include "common/display_date.h"
#include "support/device_fixture.h"

namespace {

class DisplayDate : public qtest::DeviceTest {
 protected:
  void SetUp() override {
    DeviceTest::SetUp();
    qk::FreezeClock(1241186400000LL);  // 2009-05-01 14:00:00 UTC
    qk::SetTimeZoneOffset(0);
  }
  static CString Show(const char16_t* stored) {
    CString out;
    return FormatDisplayDate(out, CString(stored));
  }
  static void UseClock(bool hours24) {
    qk::Locale l;
    l.timeFormat = hours24 ? u"1" : u"0";
    qk::SetLocale(l);
  }
};

TEST_F(DisplayDate, TodayShowsTheWordAndTheTime) {
  UseClock(true);
  EXPECT_EQ(Show(u"2009-05-01 14:05:33"), u"Today, 14:05");
  UseClock(false);
  EXPECT_EQ(Show(u"2009-05-01 14:05:33"), u"Today, 02:05 PM");
  EXPECT_EQ(Show(u"2009-05-01 00:10:00"), u"Today, 12:10 AM");
  // Today's date anywhere in the text counts.
  // Today's date anywhere in the text counts; the time is still read by position.
  EXPECT_EQ(Show(u"x 2009-05-01 09:00:00"), u"Today, 01:09 AM");
}

TEST_F(DisplayDate, OtherDaysShowTheMonthAndDay) {
  UseClock(false);
  EXPECT_EQ(Show(u"2009-03-05 14:05:00"), u"Mar 05, 02:05 PM");
  UseClock(true);
  EXPECT_EQ(Show(u"2008-12-24 23:59:59"), u"Dec 24, 23:59");
  qk::Locale de;
  de.abbrevMonthNames[2] = u"Mär";
  de.timeFormat = u"0";
  de.am = u"vorm.";
  de.pm = u"";
  qk::SetLocale(de);
  EXPECT_EQ(Show(u"2009-03-05 08:30:00"), u"Mär 05, 08:30 vorm.");
  EXPECT_EQ(Show(u"2009-03-05 20:30:00"), u"Mär 05, 08:30 ");
}

TEST_F(DisplayDate, ShortAndMalformedTexts) {
  UseClock(true);
  EXPECT_EQ(Show(u""), u"");
  EXPECT_EQ(Show(u"2009-05-0"), u"2009-05-0");
  EXPECT_EQ(Show(u"2009-13-40"), u"40, 00:00");  // no month name for month 13
  EXPECT_EQ(Show(u"garbage text here"), u"00, 00:00");
}

}  // namespace
