// Date-time values with the OLE layout: encoding, decoding, formatting.
#include "platform/date_time.h"

#include <gtest/gtest.h>

#include <cmath>

#include "platform/exceptions.h"

namespace {

DateTimeParts Parts(int y, int mo, int d, int h = 0, int mi = 0, int s = 0, int ms = 0) {
  DateTimeParts p;
  p.year = y, p.month = mo, p.day = d, p.hour = h, p.minute = mi, p.second = s, p.millisecond = ms;
  return p;
}

void ExpectParts(const DateTimeParts& actual, const DateTimeParts& expected) {
  EXPECT_EQ(actual.year, expected.year);
  EXPECT_EQ(actual.month, expected.month);
  EXPECT_EQ(actual.day, expected.day);
  EXPECT_EQ(actual.hour, expected.hour);
  EXPECT_EQ(actual.minute, expected.minute);
  EXPECT_EQ(actual.second, expected.second);
  EXPECT_EQ(actual.millisecond, expected.millisecond);
}

TEST(DateEncode, KnownDays) {
  EXPECT_EQ(EncodeDateTime(Parts(1899, 12, 30)), 0.0);
  EXPECT_EQ(EncodeDateTime(Parts(1899, 12, 31)), 1.0);
  EXPECT_EQ(EncodeDateTime(Parts(1899, 12, 29)), -1.0);
  EXPECT_EQ(EncodeDateTime(Parts(1900, 1, 1)), 2.0);
  EXPECT_EQ(EncodeDateTime(Parts(1900, 3, 1)), 61.0);  // 1900 was no leap year
  EXPECT_EQ(EncodeDateTime(Parts(2014, 7, 29)), 41849.0);
  EXPECT_EQ(EncodeDateTime(Parts(9999, 12, 31)), 2958465.0);
  EXPECT_EQ(EncodeDateTime(Parts(100, 1, 1)), -657434.0);
}

TEST(DateEncode, NegativeDaysCountTheTimeForward) {
  EXPECT_EQ(EncodeDateTime(Parts(1899, 12, 29, 6)), -1.25);
  EXPECT_EQ(EncodeDateTime(Parts(1899, 12, 30, 18)), 0.75);
  EXPECT_EQ(EncodeDateTime(Parts(1899, 12, 28, 12)), -2.5);
  ExpectParts(DecodeDateTime(-1.25), Parts(1899, 12, 29, 6));
  ExpectParts(DecodeDateTime(-0.5), Parts(1899, 12, 30, 12));
  ExpectParts(DecodeDateTime(-2.75), Parts(1899, 12, 28, 18));
}

TEST(DateEncode, InvalidPartsAreRefused) {
  TDateTime value = 123;
  EXPECT_TRUE(TryEncodeDateTime(Parts(2000, 2, 29), value));
  EXPECT_TRUE(TryEncodeDateTime(Parts(2012, 2, 29), value));
  for (const DateTimeParts& bad :
       {Parts(1900, 2, 29), Parts(2013, 2, 29), Parts(2014, 13, 1), Parts(2014, 0, 1),
        Parts(2014, 4, 31), Parts(2014, 1, 0), Parts(2014, 1, 1, 24), Parts(2014, 1, 1, 0, 60),
        Parts(2014, 1, 1, 0, 0, 60), Parts(2014, 1, 1, 0, 0, 0, 1000), Parts(0, 1, 1),
        Parts(10000, 1, 1), Parts(2014, 1, 1, -1)}) {
    value = 123;
    EXPECT_FALSE(TryEncodeDateTime(bad, value));
    EXPECT_EQ(value, 123);
    EXPECT_THROW(EncodeDateTime(bad), EConvertError);
  }
  EXPECT_EQ(DaysInMonth(2000, 2), 29);
  EXPECT_EQ(DaysInMonth(2100, 2), 28);
  EXPECT_EQ(DaysInMonth(2014, 13), 0);
  EXPECT_TRUE(IsLeapYear(2000));
  EXPECT_FALSE(IsLeapYear(1900));
}

TEST(DateDecode, RoundTripsAcrossEighteenNinetyNine) {
  const int times[][4] = {{0, 0, 0, 0}, {0, 0, 0, 1}, {6, 0, 0, 0}, {12, 30, 15, 500},
                          {23, 59, 59, 999}};
  for (int day = -800; day <= 800; day += 7) {
    const DateTimeParts date = DecodeDateTime(day);
    for (const auto& t : times) {
      const DateTimeParts p = Parts(date.year, date.month, date.day, t[0], t[1], t[2], t[3]);
      const TDateTime value = EncodeDateTime(p);
      EXPECT_EQ(std::trunc(value), day);
      ExpectParts(DecodeDateTime(value), p);
    }
  }
}

TEST(DateDecode, RoundsToTheNearestMillisecond) {
  const double almostMidnight = 41849.0 + (86399999.6 / 86400000.0);
  ExpectParts(DecodeDateTime(almostMidnight), Parts(2014, 7, 30));
  const double halfMs = 41849.0 + (1000.4 / 86400000.0);
  ExpectParts(DecodeDateTime(halfMs), Parts(2014, 7, 29, 0, 0, 1, 0));
  // Day -1 at 23:59:59.9996 is midnight of day 0.
  ExpectParts(DecodeDateTime(-1.0 - 86399999.6 / 86400000.0), Parts(1899, 12, 30));
  // The calendar's last millisecond stays in 9999.
  ExpectParts(DecodeDateTime(2958465.0 + 86399999.6 / 86400000.0), Parts(9999, 12, 31, 23, 59, 59, 999));
}

TEST(DateDecode, OutsideTheCalendarThrows) {
  EXPECT_THROW(DecodeDateTime(1e10), EConvertError);
  EXPECT_THROW(DecodeDateTime(-1e10), EConvertError);
  EXPECT_THROW(DecodeDateTime(std::nan("")), EConvertError);
}

TEST(DateDecode, DayOfWeek) {
  EXPECT_EQ(DayOfWeekSunday0(0.0), 6);       // Saturday
  EXPECT_EQ(DayOfWeekSunday0(41849.5), 2);   // Tuesday 29.07.2014
  EXPECT_EQ(DayOfWeekSunday0(-1.25), 5);     // Friday 29.12.1899
  EXPECT_EQ(DayOfWeekSunday0(-6.0), 0);      // Sunday 24.12.1899
}

TEST(DateFormat, FixedTokens) {
  const TDateTime value = EncodeDateTime(Parts(2014, 7, 9, 8, 5, 3, 7));
  EXPECT_EQ(FormatDateTime("yyyy.mm.dd hh:nn:ss.zzz", value), "2014.07.09 08:05:03.007");
  EXPECT_EQ(FormatDateTime("yyyymmddhhnnss", value), "20140709080503");
  EXPECT_EQ(FormatDateTime("dd/mm/yy", value), "09/07/14");
  EXPECT_EQ(FormatDateTime("Debug_yyyy.mm.dd.log", value), "Debug_2014.07.09.log");
  EXPECT_EQ(FormatDateTime("", value), "");
  EXPECT_EQ(FormatDateTime("yyyy", EncodeDateTime(Parts(305, 1, 1))), "0305");
}

TEST(DateNow, IsToday) {
  const TDateTime now = Now();
  EXPECT_GT(now, 41849.0);  // after 2014
  EXPECT_LT(now, 2958465.0);
}

}  // namespace
