// Text at the boundaries: UTF-8 inside the system, UTF-16 in BSTRs. Conversions never cut inside a
// UTF-8 sequence; invalid input is replaced by U+FFFD, never dropped silently into garbage.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/export.h"
#include "platform/oleauto.h"

// Upper-case hexadecimal digits, and the value of one digit of either case (-1 for anything else).
inline constexpr char kHexDigits[] = "0123456789ABCDEF";
constexpr int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

TAVO_PLATFORM_API std::u16string Utf8ToUtf16(std::string_view utf8);
TAVO_PLATFORM_API std::string Utf16ToUtf8(std::u16string_view utf16);

// A new BSTR holding the text (the caller owns it). The empty text gives an empty, non-null BSTR.
TAVO_PLATFORM_API BSTR BstrFromUtf8(std::string_view utf8);
// The text of a BSTR (NULL reads as empty); embedded NULs are kept.
TAVO_PLATFORM_API std::string BstrToUtf8(BSTR bstr);

// Number of characters (code points) of a UTF-8 text.
TAVO_PLATFORM_API std::size_t Utf8Length(std::string_view utf8);
// The first maxChars characters of the text; never cuts a character in two.
TAVO_PLATFORM_API std::string Utf8Left(std::string_view utf8, std::size_t maxChars);

// Case-insensitive equality over the full lengths (the case folding of the user's locale:
// Latin, Latin-1 and Cyrillic letters).
TAVO_PLATFORM_API bool SameText(std::string_view a, std::string_view b);
TAVO_PLATFORM_API std::string UpperCase(std::string_view utf8);
TAVO_PLATFORM_API std::string LowerCase(std::string_view utf8);

// Leading and trailing blanks and control characters removed.
TAVO_PLATFORM_API std::string Trim(std::string_view text);
