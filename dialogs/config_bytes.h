// The ten configuration bytes of a controller as the parameters dialog shows them: bytes 0 to 5
// are times (0 to 127 in bits 0-6), bytes 6 to 9 are groups of flags (bit i = check box i; byte 9
// has six flags and an empty slot in bit 6). Every byte written has bit 7 set.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

using TConfigBytes = std::array<std::uint8_t, 10>;

constexpr std::size_t kTimeByteCount = 6;
constexpr std::size_t kFlagGroupCount = 4;
constexpr std::size_t kFlagSlotCount = 7;  // slots per group; bit 7 is never a flag
constexpr std::uint8_t kConfigMark = 0x80;  // bit 7, always written as 1

// The flags of one group by bit; a slot that holds no check box is always written as 0.
using TFlagGroup = std::array<bool, kFlagSlotCount>;
// Which slots of each group hold a check box (byte 9: bits 0 to 5 only).
inline constexpr std::array<std::uint8_t, kFlagGroupCount> kFlagSlotsUsed = {0x7F, 0x7F, 0x7F, 0x3F};

// The decimal text of the time in bits 0 to 6.
std::string TimeByteToText(std::uint8_t value);
// A time text as written: the decimal integer (0 when empty or not a number), low 8 bits, bit 7 set.
std::uint8_t TextToTimeByte(std::string_view text);

// Ticks flag i exactly when bit i is 1, for the used slots of the mask; unused slots read false.
TFlagGroup BitsToFlags(std::uint8_t value, std::uint8_t usedSlots = 0x7F);
// Bit i for every used slot i that is ticked, bit 7 set.
std::uint8_t FlagsToBits(const TFlagGroup& flags, std::uint8_t usedSlots = 0x7F);

// The dialog's view of a whole record.
struct TConfigFields {
  std::array<std::string, kTimeByteCount> Times;
  std::array<TFlagGroup, kFlagGroupCount> Flags{};
};

TConfigFields DecodeConfig(const TConfigBytes& config);
TConfigBytes EncodeConfig(const TConfigFields& fields);
