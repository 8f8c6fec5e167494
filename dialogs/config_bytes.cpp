#include "dialogs/config_bytes.h"

#include <limits>

std::string TimeByteToText(std::uint8_t value) { return std::to_string(value & 0x7F); }

namespace {

// The text as a decimal 32-bit integer with optional leading blanks and sign, or 0.
std::int32_t DecimalOrZero(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  bool negative = false;
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  if (text.empty()) return 0;
  std::int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return 0;
    value = value * 10 + (c - '0');
    if (value > std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1) return 0;
  }
  if (negative) value = -value;
  if (value > std::numeric_limits<std::int32_t>::max()) return 0;
  return static_cast<std::int32_t>(value);
}

}  // namespace

std::uint8_t TextToTimeByte(std::string_view text) {
  const auto value = static_cast<std::uint32_t>(DecimalOrZero(text));
  return static_cast<std::uint8_t>((value & 0xFF) | kConfigMark);
}

TFlagGroup BitsToFlags(std::uint8_t value, std::uint8_t usedSlots) {
  TFlagGroup flags{};
  for (std::size_t i = 0; i < kFlagSlotCount; ++i) {
    const std::uint8_t bit = static_cast<std::uint8_t>(1u << i);
    flags[i] = (usedSlots & bit) != 0 && (value & bit) != 0;
  }
  return flags;
}

std::uint8_t FlagsToBits(const TFlagGroup& flags, std::uint8_t usedSlots) {
  std::uint8_t value = 0;
  for (std::size_t i = 0; i < kFlagSlotCount; ++i) {
    const std::uint8_t bit = static_cast<std::uint8_t>(1u << i);
    if ((usedSlots & bit) != 0 && flags[i]) value |= bit;
  }
  return static_cast<std::uint8_t>(value | kConfigMark);
}

TConfigFields DecodeConfig(const TConfigBytes& config) {
  TConfigFields fields;
  for (std::size_t i = 0; i < kTimeByteCount; ++i) fields.Times[i] = TimeByteToText(config[i]);
  for (std::size_t g = 0; g < kFlagGroupCount; ++g)
    fields.Flags[g] = BitsToFlags(config[kTimeByteCount + g], kFlagSlotsUsed[g]);
  return fields;
}

TConfigBytes EncodeConfig(const TConfigFields& fields) {
  TConfigBytes config{};
  for (std::size_t i = 0; i < kTimeByteCount; ++i) config[i] = TextToTimeByte(fields.Times[i]);
  for (std::size_t g = 0; g < kFlagGroupCount; ++g)
    config[kTimeByteCount + g] = FlagsToBits(fields.Flags[g], kFlagSlotsUsed[g]);
  return config;
}
