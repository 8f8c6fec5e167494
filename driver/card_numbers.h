// Card numbers between the host's forms and the controller's: the controller always takes exactly 8
// upper-case hexadecimal digits; the host gives hexadecimal text of any length (CardNumFormat 0) or
// a signed 32-bit decimal integer (any other CardNumFormat).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// True for the empty text and for text made of 0-9 and A-F only (upper case).
bool IsHexString(std::string_view Text);

// The controller form of a host card number. Hexadecimal form: upper-cased, then padded with
// leading zeros or cut to its last 8 digits. Decimal form: optional leading blanks and sign, then
// decimal digits only (nothing after them), within 32 bits; the 8 digits of its two's-complement
// value. Raises EConvertError for anything else.
std::string NormalizeCardNumber(std::string_view HostText, std::int32_t CardNumFormat);

// A time-profile number as the host gives it (text of a decimal integer, optional blanks and sign);
// false for a text that is not one or a value outside Low..High.
bool ParseProfileNumber(std::string_view Text, int Low, int High, std::uint8_t& Value);
