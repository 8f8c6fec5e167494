// Date-time values as the host exchanges them: a double counting days since 30 December 1899,
// the fraction being the time of day (for negative values the fraction still counts forward from
// midnight of the day, as OLE Automation does).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/export.h"

using TDateTime = double;

struct DateTimeParts {
  int year = 1899, month = 12, day = 30;
  int hour = 0, minute = 0, second = 0, millisecond = 0;
};

TAVO_PLATFORM_API bool IsLeapYear(int year);
TAVO_PLATFORM_API int DaysInMonth(int year, int month);
// False when the parts do not form a valid date and time (month 13, 31 April, hour 24 ...).
TAVO_PLATFORM_API bool TryEncodeDateTime(const DateTimeParts& parts, TDateTime& result);
// Throws EConvertError with a clear message when the parts are not a valid date and time.
TAVO_PLATFORM_API TDateTime EncodeDateTime(const DateTimeParts& parts);
// Milliseconds are rounded to the nearest; 23:59:59.9996 rounds up into the next day. Throws
// EConvertError for a value outside the years 1 to 9999 (or not a number).
TAVO_PLATFORM_API DateTimeParts DecodeDateTime(TDateTime value);
// 0 Sunday, 1 Monday ... 6 Saturday (of the day DecodeDateTime gives).
TAVO_PLATFORM_API int DayOfWeekSunday0(TDateTime value);
// The local wall-clock time now.
TAVO_PLATFORM_API TDateTime Now();

// Formats with the tokens yyyy, yy, mm, dd, hh, nn, ss, zzz (lower case only; mm is always the
// month, nn the minutes; fixed widths, zero-padded); every other character is copied. Throws
// EConvertError like DecodeDateTime. Independent of the locale: "yyyymmddhhnnss", "yyyy.mm.dd hh:nn:ss.zzz".
TAVO_PLATFORM_API std::string FormatDateTime(std::string_view format, TDateTime value);
