// Number and date texts of the user's (Russian) locale.
#include "platform/locale_profile.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>

#include "platform/exceptions.h"

namespace {

using namespace locale_profile;

TEST(LocaleFloat, GeneralFormWithDecimalComma) {
  EXPECT_EQ(DecimalSeparator(), ',');
  EXPECT_EQ(FormatFloat(0), "0");
  EXPECT_EQ(FormatFloat(-0.0), "0");
  EXPECT_EQ(FormatFloat(1), "1");
  EXPECT_EQ(FormatFloat(-1.5), "-1,5");
  EXPECT_EQ(FormatFloat(0.1), "0,1");
  EXPECT_EQ(FormatFloat(0.1 + 0.2), "0,3");
  EXPECT_EQ(FormatFloat(1.0 / 3), "0,333333333333333");
  EXPECT_EQ(FormatFloat(2.0 / 3), "0,666666666666667");
  EXPECT_EQ(FormatFloat(1234567.891), "1234567,891");
  EXPECT_EQ(FormatFloat(123456789012345.0), "123456789012345");
  EXPECT_EQ(FormatFloat(999999999999999.0), "999999999999999");
  EXPECT_EQ(FormatFloat(1e15), "1E+15");
  EXPECT_EQ(FormatFloat(1.5e20), "1,5E+20");
  EXPECT_EQ(FormatFloat(-1.5e300), "-1,5E+300");
  EXPECT_EQ(FormatFloat(0.00001), "0,00001");
  EXPECT_EQ(FormatFloat(1.5e-10), "0,00000000015");
  EXPECT_EQ(FormatFloat(1.5e-16), "1,5E-16");
  EXPECT_EQ(FormatFloat(1.23456789012345e-5), "1,23456789012345E-05");
  EXPECT_EQ(FormatFloat(std::nan("")), "NAN");
  EXPECT_EQ(FormatFloat(std::numeric_limits<double>::infinity()), "INF");
  EXPECT_EQ(FormatFloat(-std::numeric_limits<double>::infinity()), "-INF");
  EXPECT_EQ(FormatFloat(0.1f, 7), "0,1");
  EXPECT_EQ(FormatFloat(16777216.0f, 7), "1,677722E+07");
}

TEST(LocaleFloat, ParseAcceptsCommaOrPoint) {
  double value = 0;
  EXPECT_TRUE(TryParseFloat("1,5", value));
  EXPECT_EQ(value, 1.5);
  EXPECT_TRUE(TryParseFloat(" -1.25 ", value));
  EXPECT_EQ(value, -1.25);
  EXPECT_TRUE(TryParseFloat("+2E3", value));
  EXPECT_EQ(value, 2000);
  EXPECT_TRUE(TryParseFloat("1,5e-2", value));
  EXPECT_EQ(value, 0.015);
  EXPECT_TRUE(TryParseFloat(",5", value));
  EXPECT_EQ(value, 0.5);
  EXPECT_TRUE(TryParseFloat("5,", value));
  EXPECT_EQ(value, 5);
  value = 7;
  for (const char* bad : {"", " ", ",", "1,2,3", "1.2.3", "1 000", "1e", "e5", "inf", "nan",
                          "0x1p3", "--1", "+-1", "1,5 x", "1e400"}) {
    EXPECT_FALSE(TryParseFloat(bad, value)) << bad;
  }
  EXPECT_EQ(value, 7);
}

TEST(LocaleFloat, ProcessLocaleDoesNotInterfere) {
  const char* previous = std::setlocale(LC_NUMERIC, nullptr);
  const std::string saved = previous ? previous : "C";
  if (!std::setlocale(LC_NUMERIC, "ru_RU.UTF-8")) std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
  double value = 0;
  EXPECT_TRUE(TryParseFloat("1.5", value));
  EXPECT_EQ(value, 1.5);
  EXPECT_EQ(FormatFloat(2.5), "2,5");
  std::setlocale(LC_NUMERIC, saved.c_str());
}

TEST(LocaleInteger, DecimalDigitsOnlyWithin64Bits) {
  long long value = 0;
  EXPECT_TRUE(TryParseInteger(" 42 ", value));
  EXPECT_EQ(value, 42);
  EXPECT_TRUE(TryParseInteger("+7", value));
  EXPECT_EQ(value, 7);
  EXPECT_TRUE(TryParseInteger("-9223372036854775808", value));
  EXPECT_EQ(value, std::numeric_limits<long long>::min());
  EXPECT_TRUE(TryParseInteger("9223372036854775807", value));
  value = 1;
  for (const char* bad : {"", "-", "+", "9223372036854775808", "1.0", "1,0", "0x10", "1 2", "+-3",
                          "12a"}) {
    EXPECT_FALSE(TryParseInteger(bad, value)) << bad;
  }
  EXPECT_EQ(value, 1);
}

TEST(LocaleDate, Format) {
  const double time = (13 * 3600 + 5 * 60 + 9) / 86400.0;
  EXPECT_EQ(FormatDate(41849.0 + time), "29.07.2014 13:05:09");
  EXPECT_EQ(FormatDate(41849.0), "29.07.2014");
  EXPECT_EQ(FormatDate(0.0), "0:00:00");
  EXPECT_EQ(FormatDate(time), "13:05:09");
  EXPECT_EQ(FormatDate(1.0), "31.12.1899");
  EXPECT_EQ(FormatDate(-1.25), "29.12.1899 6:00:00");
  EXPECT_EQ(FormatDate(2.0 + 1.0 / 86400), "01.01.1900 0:00:01");
  EXPECT_EQ(FormatDate(41849.0 + 86399.6 / 86400), "30.07.2014");  // seconds are rounded
  EXPECT_EQ(FormatDate(-657434.0), "01.01.0100");
  EXPECT_EQ(FormatDate(2958465.0 + 86399.6 / 86400), "31.12.9999 23:59:59");  // no 01.01.10000
  EXPECT_THROW(FormatDate(1e10), EConvertError);
  EXPECT_THROW(FormatDate(std::nan("")), EConvertError);
}

TEST(LocaleDate, ParseTheFormsThatAreWritten) {
  TDateTime value = 0;
  ASSERT_TRUE(TryParseDate("29.07.2014", value));
  EXPECT_EQ(value, 41849.0);
  ASSERT_TRUE(TryParseDate(" 29.07.2014 13:05:09 ", value));
  EXPECT_NEAR(value, 41849.0 + (13 * 3600 + 5 * 60 + 9) / 86400.0, 1e-9);
  ASSERT_TRUE(TryParseDate("1.7.2014 6:05", value));
  EXPECT_NEAR(value, 41821.0 + (6 * 60 + 5) / 1440.0, 1e-9);
  ASSERT_TRUE(TryParseDate("0:00:00", value));
  EXPECT_EQ(value, 0.0);
  ASSERT_TRUE(TryParseDate("18:00", value));
  EXPECT_EQ(value, 0.75);
  ASSERT_TRUE(TryParseDate("2014-07-29", value));
  EXPECT_EQ(value, 41849.0);
  ASSERT_TRUE(TryParseDate("2014-07-29T12:00:00", value));
  EXPECT_EQ(value, 41849.5);
  ASSERT_TRUE(TryParseDate("2014-07-29 12:00:00.250", value));
  EXPECT_NEAR(value, 41849.5 + 0.25 / 86400, 1e-10);
  ASSERT_TRUE(TryParseDate("29.12.1899 6:00:00", value));
  EXPECT_EQ(value, -1.25);
  value = 5;
  for (const char* bad : {"", "29.02.2013", "31.04.2014", "29.07.14", "29-07-2014", "24:00",
                          "12:60", "2014-7-29", "2014-07-29X", "29.07.2014 25:00", "abc",
                          "29.07.2014 12", "12:00 29.07.2014", "41849"}) {
    EXPECT_FALSE(TryParseDate(bad, value)) << bad;
  }
  EXPECT_EQ(value, 5);
}

TEST(LocaleDate, FormattedDatesParseBack) {
  for (double value : {41849.0, 41849.0 + 1.0 / 3, -1.25, 0.5, -700.75, 2958465.0}) {
    TDateTime back = 0;
    ASSERT_TRUE(TryParseDate(FormatDate(value), back)) << FormatDate(value);
    EXPECT_NEAR(back, value, 1.0 / 86400) << FormatDate(value);
  }
}

}  // namespace
