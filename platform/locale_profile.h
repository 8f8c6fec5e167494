// The one locale profile of the system: the conventions of the user's (Russian) locale wherever
// texts are formatted or parsed by "the system's" rules: decimal comma, dates as dd.mm.yyyy,
// times as H:mm:ss. What the system fixes regardless of locale (Booleans as True/False, integers
// without grouping, the log's and the journal's date forms) does not live here.
#pragma once

#include <string>
#include <string_view>

#include "platform/date_time.h"
#include "platform/export.h"

namespace locale_profile {

TAVO_PLATFORM_API char DecimalSeparator();  // ','

// General format, up to 15 significant digits, no trailing zeros, decimal comma; exponent form
// ("1,5E+20", "1,5E-16": at least two exponent digits) only where the plain form would need more
// than 15 digits (integer digits, or the zeros after the comma plus the significant digits).
// "NAN", "INF", "-INF" for the special values. precision 7 gives the text of a 4-byte float.
TAVO_PLATFORM_API std::string FormatFloat(double value, int precision = 15);
// Accepts optional blanks, a sign, digits with a decimal comma or point, an exponent.
TAVO_PLATFORM_API bool TryParseFloat(std::string_view text, double& value);
// Accepts optional blanks and a sign; decimal digits only; false when outside 64 bits.
TAVO_PLATFORM_API bool TryParseInteger(std::string_view text, long long& value);

// "dd.mm.yyyy H:mm:ss"; the time is left out at midnight, the date is left out for day 0
// (30.12.1899), so 0 gives "0:00:00". Rounded to the nearest second. Throws EConvertError for a
// value outside the years 1 to 9999 (or not a number).
TAVO_PLATFORM_API std::string FormatDate(TDateTime value);
// Accepts "dd.mm.yyyy", "dd.mm.yyyy H:mm[:ss]", "H:mm[:ss]" and the ISO form
// "yyyy-mm-dd[Thh:mm[:ss]]"; false for anything else or an impossible date.
TAVO_PLATFORM_API bool TryParseDate(std::string_view text, TDateTime& value);

}  // namespace locale_profile
