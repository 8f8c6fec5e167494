// Date-time values with the OLE Automation layout: whole days since 30 December 1899 plus the
// time of day as a fraction that counts forward from that day's midnight, also for negative days.
#include "platform/date_time.h"

#include <cmath>
#include <cstdio>
#include <ctime>

#include "platform/exceptions.h"
#include "platform/platform_strings.h"

namespace {

constexpr long long kMsPerDay = 86400000;
// Day numbers of 1 January 0001 and of the day after 31 December 9999.
constexpr double kFirstDay = -693593;
constexpr double kLastDayPlusOne = 2958466;

// Days since 30 December 1899 of a day of the proleptic Gregorian calendar.
long long DayNumber(int year, int month, int day) {
  const long long y = year - (month <= 2 ? 1 : 0);
  const long long era = (y >= 0 ? y : y - 399) / 400;
  const long long yoe = y - era * 400;
  const long long doy = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const long long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468 + 25569;
}

void CivilFromDayNumber(long long dayNumber, DateTimeParts& parts) {
  const long long z = dayNumber - 25569 + 719468;
  const long long era = (z >= 0 ? z : z - 146096) / 146097;
  const long long doe = z - era * 146097;
  const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const long long mp = (5 * doy + 2) / 153;
  parts.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  parts.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  parts.year = static_cast<int>(yoe + era * 400 + (parts.month <= 2 ? 1 : 0));
}

std::string PartsText(const DateTimeParts& p) {
  return std::to_string(p.year) + "-" + std::to_string(p.month) + "-" + std::to_string(p.day) +
         " " + std::to_string(p.hour) + ":" + std::to_string(p.minute) + ":" +
         std::to_string(p.second) + "." + std::to_string(p.millisecond);
}

void AppendNumber(std::string& out, int value, int width) {
  char digits[12];
  int count = 0;
  unsigned v = static_cast<unsigned>(value < 0 ? -value : value);
  do {
    digits[count++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v != 0);
  if (value < 0) out.push_back('-');
  for (int i = count; i < width; ++i) out.push_back('0');
  while (count > 0) out.push_back(digits[--count]);
}

}  // namespace

bool IsLeapYear(int year) { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

int DaysInMonth(int year, int month) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

bool TryEncodeDateTime(const DateTimeParts& p, TDateTime& result) {
  if (p.year < 1 || p.year > 9999 || p.month < 1 || p.month > 12 || p.day < 1 ||
      p.day > DaysInMonth(p.year, p.month) || p.hour < 0 || p.hour > 23 || p.minute < 0 ||
      p.minute > 59 || p.second < 0 || p.second > 59 || p.millisecond < 0 ||
      p.millisecond > 999) {
    return false;
  }
  const long long day = DayNumber(p.year, p.month, p.day);
  const long long ms = ((p.hour * 60LL + p.minute) * 60 + p.second) * 1000 + p.millisecond;
  const double time = static_cast<double>(ms) / kMsPerDay;
  result = day >= 0 ? static_cast<double>(day) + time : static_cast<double>(day) - time;
  return true;
}

TDateTime EncodeDateTime(const DateTimeParts& parts) {
  TDateTime result = 0;
  if (!TryEncodeDateTime(parts, result)) {
    throw EConvertError(
        platform_strings::Format(platform_strings::SInvalidDateTime, {PartsText(parts)}));
  }
  return result;
}

DateTimeParts DecodeDateTime(TDateTime value) {
  if (!(value > kFirstDay - 1 && value < kLastDayPlusOne)) {
    char text[64];
    std::snprintf(text, sizeof text, "%g", value);
    throw EConvertError(platform_strings::Format(platform_strings::SDateOutOfRange, {text}));
  }
  const double whole = std::trunc(value);
  long long day = static_cast<long long>(whole);
  long long ms = std::llround(std::fabs(value - whole) * kMsPerDay);
  if (ms >= kMsPerDay) {
    if (day + 1 < kLastDayPlusOne) {
      ++day;
      ms -= kMsPerDay;
    } else {
      ms = kMsPerDay - 1;  // the calendar's last millisecond does not round into the year 10000
    }
  }
  DateTimeParts parts;
  CivilFromDayNumber(day, parts);
  parts.millisecond = static_cast<int>(ms % 1000);
  parts.second = static_cast<int>(ms / 1000 % 60);
  parts.minute = static_cast<int>(ms / 60000 % 60);
  parts.hour = static_cast<int>(ms / 3600000);
  return parts;
}

int DayOfWeekSunday0(TDateTime value) {
  const DateTimeParts parts = DecodeDateTime(value);
  const long long day = DayNumber(parts.year, parts.month, parts.day);
  return static_cast<int>(((day % 7) + 7 + 6) % 7);  // 30 December 1899 was a Saturday
}

TDateTime Now() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  tm local{};
  localtime_r(&now.tv_sec, &local);
  DateTimeParts parts;
  parts.year = local.tm_year + 1900;
  parts.month = local.tm_mon + 1;
  parts.day = local.tm_mday;
  parts.hour = local.tm_hour;
  parts.minute = local.tm_min;
  parts.second = local.tm_sec > 59 ? 59 : local.tm_sec;  // a leap second reads as :59
  parts.millisecond = static_cast<int>(now.tv_nsec / 1000000);
  return EncodeDateTime(parts);
}

std::string FormatDateTime(std::string_view format, TDateTime value) {
  const DateTimeParts p = DecodeDateTime(value);
  std::string out;
  out.reserve(format.size() + 8);
  std::size_t i = 0;
  auto token = [&](std::string_view name) {
    if (format.substr(i, name.size()) != name) return false;
    i += name.size();
    return true;
  };
  while (i < format.size()) {
    if (token("yyyy")) {
      AppendNumber(out, p.year, 4);
    } else if (token("yy")) {
      AppendNumber(out, p.year % 100, 2);
    } else if (token("mm")) {
      AppendNumber(out, p.month, 2);
    } else if (token("dd")) {
      AppendNumber(out, p.day, 2);
    } else if (token("hh")) {
      AppendNumber(out, p.hour, 2);
    } else if (token("nn")) {
      AppendNumber(out, p.minute, 2);
    } else if (token("ss")) {
      AppendNumber(out, p.second, 2);
    } else if (token("zzz")) {
      AppendNumber(out, p.millisecond, 3);
    } else {
      out.push_back(format[i++]);
    }
  }
  return out;
}
