#include "driver/card_numbers.h"

#include <cstdio>
#include <limits>

#include "platform/exceptions.h"
#include "platform/locale_profile.h"
#include "platform/text.h"

namespace {

constexpr std::size_t kCardDigits = 8;

bool IsDecimalDigit(char c) { return c >= '0' && c <= '9'; }

// A signed 32-bit decimal integer: blanks and a sign may lead, nothing may follow the last digit.
bool ParseDecimalCard(std::string_view text, std::int32_t& value) {
  long long parsed = 0;
  if (text.empty() || !IsDecimalDigit(text.back()) || !locale_profile::TryParseInteger(text, parsed) ||
      parsed < std::numeric_limits<std::int32_t>::min() || parsed > std::numeric_limits<std::int32_t>::max()) {
    return false;
  }
  value = static_cast<std::int32_t>(parsed);
  return true;
}

[[noreturn]] void BadCardNumber(std::string_view text) {
  throw EConvertError("'" + std::string(text) + "' is not a card number");
}

}  // namespace

bool IsHexString(std::string_view Text) {
  for (const char c : Text) {
    if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
  }
  return true;
}

std::string NormalizeCardNumber(std::string_view HostText, std::int32_t CardNumFormat) {
  std::string card;
  if (CardNumFormat == 0) {
    card = UpperCase(HostText);
  } else {
    std::int32_t value = 0;
    if (!ParseDecimalCard(HostText, value)) BadCardNumber(HostText);
    char digits[16];
    std::snprintf(digits, sizeof digits, "%08X", static_cast<unsigned>(static_cast<std::uint32_t>(value)));
    card = digits;
  }
  if (!IsHexString(card)) BadCardNumber(HostText);
  if (card.size() < kCardDigits) card.insert(0, kCardDigits - card.size(), '0');
  if (card.size() > kCardDigits) card.erase(0, card.size() - kCardDigits);
  return card;
}

bool ParseProfileNumber(std::string_view Text, int Low, int High, std::uint8_t& Value) {
  long long value = 0;
  if (!locale_profile::TryParseInteger(Text, value) || value < Low || value > High) return false;
  Value = static_cast<std::uint8_t>(value);
  return true;
}
