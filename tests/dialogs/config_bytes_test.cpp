// The configuration record as the parameters dialog reads and writes it.
#include "dialogs/config_bytes.h"

#include <gtest/gtest.h>

namespace {

constexpr TConfigBytes kDefaultRecord = {0x83, 0x94, 0x8A, 0x8A, 0x80, 0x81, 0xC2, 0x9C, 0x8E, 0x88};

TEST(TimeBytes, EveryByteShowsItsLowSevenBitsAndIsWrittenBackWithBit7) {
  for (int value = 0; value <= 255; ++value) {
    const auto byte = static_cast<std::uint8_t>(value);
    const std::string text = TimeByteToText(byte);
    EXPECT_EQ(text, std::to_string(value & 0x7F));
    EXPECT_EQ(TextToTimeByte(text), (value & 0x7F) | 0x80) << value;
  }
}

TEST(TimeBytes, EveryTypableValueRoundTrips) {
  for (int n = 0; n <= 99; ++n) {
    const std::uint8_t byte = TextToTimeByte(std::to_string(n));
    EXPECT_EQ(byte, n | 0x80);
    EXPECT_EQ(TimeByteToText(byte), std::to_string(n));
  }
  EXPECT_EQ(TextToTimeByte("99"), 0xE3);
}

TEST(TimeBytes, TextsThatAreNotNumbersAreZero) {
  for (const char* text : {"", "abc", "1a", "a1", "12 ", "--1", "+", "2147483648", "99999999999"})
    EXPECT_EQ(TextToTimeByte(text), 0x80) << '"' << text << '"';
  EXPECT_EQ(TimeByteToText(TextToTimeByte("")), "0");
}

TEST(TimeBytes, LargeAndSignedNumbersKeepTheirLowEightBits) {
  EXPECT_EQ(TextToTimeByte("300"), (300 & 0xFF) | 0x80);
  EXPECT_EQ(TextToTimeByte(" 7"), 0x87);
  EXPECT_EQ(TextToTimeByte("+5"), 0x85);
  EXPECT_EQ(TextToTimeByte("-1"), 0xFF);
  EXPECT_EQ(TextToTimeByte("2147483647"), 0xFF);
}

TEST(FlagBytes, EveryByteOfTheSevenFlagGroupsRoundTrips) {
  for (int value = 0; value <= 255; ++value) {
    const auto byte = static_cast<std::uint8_t>(value);
    const TFlagGroup flags = BitsToFlags(byte);
    for (int bit = 0; bit < 7; ++bit) EXPECT_EQ(flags[bit], ((value >> bit) & 1) != 0);
    EXPECT_EQ(FlagsToBits(flags), (value & 0x7F) | 0x80) << value;
  }
}

TEST(FlagBytes, TheEmptySlotOfByte9IsNeverShownAndAlwaysWrittenAsZero) {
  for (int value = 0; value <= 255; ++value) {
    const TFlagGroup flags = BitsToFlags(static_cast<std::uint8_t>(value), kFlagSlotsUsed[3]);
    EXPECT_FALSE(flags[6]);
    EXPECT_EQ(FlagsToBits(flags, kFlagSlotsUsed[3]), (value & 0x3F) | 0x80) << value;
  }
  TFlagGroup all{};
  all.fill(true);
  EXPECT_EQ(FlagsToBits(all, kFlagSlotsUsed[3]), 0xBF);
  EXPECT_EQ(FlagsToBits(all), 0xFF);
}

TEST(ConfigRecord, DefaultRecordShowsTheDefaultTimesAndFlags) {
  const TConfigFields fields = DecodeConfig(kDefaultRecord);
  EXPECT_EQ(fields.Times, (std::array<std::string, 6>{"3", "20", "10", "10", "0", "1"}));
  EXPECT_EQ(fields.Flags[0], (TFlagGroup{false, true, false, false, false, false, true}));
  EXPECT_EQ(fields.Flags[1], (TFlagGroup{false, false, true, true, true, false, false}));
  EXPECT_EQ(fields.Flags[2], (TFlagGroup{false, true, true, true, false, false, false}));
  EXPECT_EQ(fields.Flags[3], (TFlagGroup{false, false, false, true, false, false, false}));
  EXPECT_EQ(EncodeConfig(fields), kDefaultRecord);
}

TEST(ConfigRecord, BytesWithoutBit7ShowTheSameAndAreWrittenWithBit7) {
  TConfigBytes bare{};
  for (std::size_t i = 0; i < bare.size(); ++i) bare[i] = kDefaultRecord[i] & 0x7F;
  EXPECT_EQ(EncodeConfig(DecodeConfig(bare)), kDefaultRecord);
}

TEST(ConfigRecord, Byte9WithBit6SetIsWrittenBackWithoutIt) {
  TConfigBytes record = kDefaultRecord;
  record[9] = 0xC8;
  const TConfigFields fields = DecodeConfig(record);
  EXPECT_TRUE(fields.Flags[3][3]);
  EXPECT_EQ(EncodeConfig(fields)[9], 0x88);
}

}  // namespace
