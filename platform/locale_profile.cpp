// Number and date texts by the conventions of the user's (Russian) locale. Written on to_chars and
// from_chars, so the process's C locale (which a GUI toolkit may change) never interferes.
#include "platform/locale_profile.h"

#include <charconv>
#include <cmath>
#include <cstdlib>

#include "platform/exceptions.h"
#include "platform/platform_strings.h"

namespace locale_profile {
namespace {

// The day number of 1 January 10000, the first day that has no text.
constexpr long long kLastDayPlusOne = 2958466;

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= 0x20; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

void AppendPadded(std::string& out, int value, int width) {
  char digits[12];
  auto [end, ec] = std::to_chars(digits, digits + sizeof digits, value);
  (void)ec;
  for (auto n = end - digits; n < width; ++n) out.push_back('0');
  out.append(digits, end);
}

// A cursor over date text.
struct Scanner {
  std::string_view text;
  std::size_t pos = 0;

  bool AtEnd() const { return pos >= text.size(); }
  bool Take(char c) {
    if (pos < text.size() && text[pos] == c) {
      ++pos;
      return true;
    }
    return false;
  }
  // Reads minDigits to maxDigits decimal digits.
  bool Number(int minDigits, int maxDigits, int& value) {
    int count = 0;
    value = 0;
    while (count < maxDigits && pos < text.size() && IsDigit(text[pos])) {
      value = value * 10 + (text[pos++] - '0');
      ++count;
    }
    return count >= minDigits;
  }
  void SkipBlanks() {
    while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t')) ++pos;
  }
};

// "H:mm[:ss[.zzz]]" into parts.
bool ScanTime(Scanner& s, DateTimeParts& parts) {
  if (!s.Number(1, 2, parts.hour) || !s.Take(':') || !s.Number(2, 2, parts.minute)) return false;
  if (s.Take(':')) {
    if (!s.Number(2, 2, parts.second)) return false;
    if (s.Take('.') || s.Take(',')) {
      int digits = 0;
      parts.millisecond = 0;
      while (!s.AtEnd() && IsDigit(s.text[s.pos])) {
        if (digits < 3) parts.millisecond = parts.millisecond * 10 + (s.text[s.pos] - '0');
        ++digits;
        ++s.pos;
      }
      if (digits == 0) return false;
      for (; digits < 3; ++digits) parts.millisecond *= 10;
    }
  }
  return true;
}

bool ScanIsoDate(Scanner& s, DateTimeParts& parts) {
  if (!s.Number(4, 4, parts.year) || !s.Take('-') || !s.Number(2, 2, parts.month) ||
      !s.Take('-') || !s.Number(2, 2, parts.day)) {
    return false;
  }
  if (s.AtEnd()) return true;
  if (!s.Take('T') && !s.Take(' ')) return false;
  return ScanTime(s, parts);
}

bool ScanLocalDate(Scanner& s, DateTimeParts& parts) {
  if (!s.Number(1, 2, parts.day) || !s.Take('.') || !s.Number(1, 2, parts.month) ||
      !s.Take('.') || !s.Number(4, 4, parts.year)) {
    return false;
  }
  s.SkipBlanks();
  if (s.AtEnd()) return true;
  return ScanTime(s, parts);
}

}  // namespace

char DecimalSeparator() { return ','; }

std::string FormatFloat(double value, int precision) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value > 0 ? "INF" : "-INF";
  if (value == 0) return "0";
  if (precision < 1) precision = 1;
  if (precision > 17) precision = 17;
  char buffer[64];
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, value,
                                    std::chars_format::scientific, precision - 1);
  const std::string_view text(buffer, static_cast<std::size_t>(result.ptr - buffer));
  const bool negative = text.front() == '-';
  const std::size_t ePos = text.find('e');
  std::string digits;
  for (char c : text.substr(negative ? 1 : 0, ePos - (negative ? 1 : 0))) {
    if (IsDigit(c)) digits.push_back(c);
  }
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
  const int exponent = std::atoi(std::string(text.substr(ePos + 1)).c_str());
  const int count = static_cast<int>(digits.size());

  std::string out;
  if (negative) out.push_back('-');
  const bool plain = exponent >= 0 ? exponent < precision : (-exponent - 1) + count <= precision;
  if (!plain) {
    out.push_back(digits[0]);
    if (count > 1) {
      out.push_back(',');
      out.append(digits, 1);
    }
    out.push_back('E');
    out.push_back(exponent < 0 ? '-' : '+');
    AppendPadded(out, std::abs(exponent), 2);
  } else if (exponent >= 0) {
    const auto intDigits = static_cast<std::size_t>(exponent + 1);
    if (digits.size() <= intDigits) {
      out.append(digits);
      out.append(intDigits - digits.size(), '0');
    } else {
      out.append(digits, 0, intDigits);
      out.push_back(',');
      out.append(digits, intDigits);
    }
  } else {
    out.append("0,");
    out.append(static_cast<std::size_t>(-exponent - 1), '0');
    out.append(digits);
  }
  return out;
}

bool TryParseFloat(std::string_view text, double& value) {
  text = TrimBlanks(text);
  char buffer[256];
  std::size_t length = 0;
  std::size_t pos = 0;
  if (text.size() >= sizeof buffer) return false;
  if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
    if (text[pos] == '-') buffer[length++] = '-';
    ++pos;
  }
  int mantissaDigits = 0;
  bool separator = false;
  for (; pos < text.size(); ++pos) {
    const char c = text[pos];
    if (IsDigit(c)) {
      buffer[length++] = c;
      ++mantissaDigits;
    } else if ((c == ',' || c == '.') && !separator) {
      buffer[length++] = '.';
      separator = true;
    } else {
      break;
    }
  }
  if (mantissaDigits == 0) return false;
  if (pos < text.size() && (text[pos] == 'e' || text[pos] == 'E')) {
    buffer[length++] = 'e';
    ++pos;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) buffer[length++] = text[pos++];
    int exponentDigits = 0;
    for (; pos < text.size() && IsDigit(text[pos]); ++pos, ++exponentDigits) {
      buffer[length++] = text[pos];
    }
    if (exponentDigits == 0) return false;
  }
  if (pos != text.size()) return false;
  double parsed = 0;
  const auto result = std::from_chars(buffer, buffer + length, parsed);
  if (result.ec != std::errc() || result.ptr != buffer + length || !std::isfinite(parsed)) {
    return false;
  }
  value = parsed;
  return true;
}

bool TryParseInteger(std::string_view text, long long& value) {
  text = TrimBlanks(text);
  if (!text.empty() && text.front() == '+') {
    text.remove_prefix(1);
    if (!text.empty() && text.front() == '-') return false;
  }
  if (text.empty()) return false;
  long long parsed = 0;
  const auto result = std::from_chars(text.data(), text.data() + text.size(), parsed);
  if (result.ec != std::errc() || result.ptr != text.data() + text.size()) return false;
  value = parsed;
  return true;
}

std::string FormatDate(TDateTime value) {
  if (!(value > -693594.0 && value < kLastDayPlusOne)) {  // outside 01.01.0001 .. 31.12.9999
    throw EConvertError(platform_strings::Format(platform_strings::SDateOutOfRange,
                                                 {FormatFloat(value)}));
  }
  // Seconds are the finest unit shown; the value is rounded to the nearest second.
  const double whole = std::trunc(value);
  long long day = static_cast<long long>(whole);
  long long seconds = std::llround(std::fabs(value - whole) * 86400.0);
  if (seconds >= 86400) {
    if (day + 1 < kLastDayPlusOne) {
      ++day;
      seconds -= 86400;
    } else {
      seconds = 86399;  // 31.12.9999 23:59:59 is the last text there is
    }
  }
  std::string out;
  if (day != 0) {
    const DateTimeParts parts = DecodeDateTime(static_cast<double>(day));
    AppendPadded(out, parts.day, 2);
    out.push_back('.');
    AppendPadded(out, parts.month, 2);
    out.push_back('.');
    AppendPadded(out, parts.year, 4);
  }
  if (seconds != 0 || day == 0) {
    if (!out.empty()) out.push_back(' ');
    AppendPadded(out, static_cast<int>(seconds / 3600), 1);
    out.push_back(':');
    AppendPadded(out, static_cast<int>(seconds / 60 % 60), 2);
    out.push_back(':');
    AppendPadded(out, static_cast<int>(seconds % 60), 2);
  }
  return out;
}

bool TryParseDate(std::string_view text, TDateTime& value) {
  Scanner s{TrimBlanks(text)};
  DateTimeParts parts;
  bool scanned = false;
  if (s.text.size() >= 5 && s.text[4] == '-') {
    scanned = ScanIsoDate(s, parts);
  } else if (s.text.find('.') != std::string_view::npos &&
             (s.text.find(':') == std::string_view::npos ||
              s.text.find('.') < s.text.find(':'))) {
    scanned = ScanLocalDate(s, parts);
  } else {
    scanned = ScanTime(s, parts);
  }
  if (!scanned || !s.AtEnd()) return false;
  return TryEncodeDateTime(parts, value);
}

}  // namespace locale_profile
