#include "driver/link_frames.h"

#include "driver/link_messages.h"
#include "driver/morvik_common.h"

#include "platform/exceptions.h"

#include <gtest/gtest.h>

#include <cctype>
#include <string>

namespace {

using frames::Bytes;
using frames::ParsedFrame;

Bytes B(std::initializer_list<int> bytes) {
  Bytes out;
  for (int b : bytes) out.push_back(static_cast<char>(b));
  return out;
}

const Bytes kPoll = B({0x11, 0x30, 0x30, 0x86, 0x30, 0x30, 0x30, 0x31, 0x81, 0x45, 0x42, 0x12});
const Bytes kPollAck = B({0x11, 0x30, 0x30, 0x87, 0x45, 0x42, 0x43, 0x37, 0x12});

// Builds a frame by hand with whatever fields the test wants, then seals it with a matching CRC.
Bytes Seal(Bytes body) {
  static const char* hex = "0123456789ABCDEF";
  const std::uint8_t crc = frames::CalcCRC8(body);
  body.push_back(hex[crc >> 4]);
  body.push_back(hex[crc & 0xF]);
  body.push_back(0x12);
  return body;
}

bool Parses(const Bytes& frame) {
  ParsedFrame out;
  return frames::ParseFrame(frame, out);
}

TEST(LinkCrc, CheckValues) {
  EXPECT_EQ(frames::CalcCRC8("123456789"), 0xCD);
  EXPECT_EQ(frames::CalcCRC8(""), 0x5A);
  EXPECT_EQ(frames::CalcCRC8(std::string_view(kPoll.data(), 9)), 0xEB);
}

// The CRC-8 computed bit by bit, as the polynomial defines it.
std::uint8_t BitwiseCrc(const Bytes& bytes) {
  std::uint8_t crc = 0x5A;
  for (char c : bytes) {
    crc ^= static_cast<std::uint8_t>(c);
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? static_cast<std::uint8_t>((crc >> 1) ^ 0x8C) : crc >> 1;
  }
  return crc;
}

TEST(LinkCrc, MatchesTheBitwiseDefinitionAtEveryLength) {
  std::uint32_t state = 12345;
  for (std::size_t length = 0; length <= 70; ++length) {
    for (int round = 0; round < 8; ++round) {
      Bytes bytes;
      for (std::size_t i = 0; i < length; ++i) {
        state = state * 1103515245u + 12345u;
        bytes.push_back(static_cast<char>(state >> 24));
      }
      ASSERT_EQ(frames::CalcCRC8(bytes), BitwiseCrc(bytes)) << "length " << length;
    }
  }
}

TEST(LinkCrc, FrameCrcValidity) {
  EXPECT_TRUE(frames::IsFrameCrcValid(kPoll));
  EXPECT_TRUE(frames::IsFrameCrcValid(kPollAck));
  EXPECT_FALSE(frames::IsFrameCrcValid(B({0x11, 0x35, 0x41, 0x12})));  // 4 bytes
  // Five bytes: CRC over the first two.
  Bytes five = Seal(B({0x11, 0x22}));
  ASSERT_EQ(five.size(), 5u);
  EXPECT_TRUE(frames::IsFrameCrcValid(five));
  // The CRC digits are read in either case; a non-digit never matches.
  Bytes lower = kPoll;
  lower[9] = 'e';
  lower[10] = 'b';
  EXPECT_TRUE(frames::IsFrameCrcValid(lower));
  Bytes junk = kPoll;
  junk[9] = 'X';
  EXPECT_FALSE(frames::IsFrameCrcValid(junk));
}

TEST(LinkBuild, PollAndAckByteForByte) {
  const auto poll = frames::BuildFrame(0, frames::kKeepAlive, B({0x81}));
  EXPECT_EQ(poll.frame, kPoll);
  EXPECT_EQ(poll.crc, 0xEB);
  EXPECT_EQ(frames::BuildAck(0, 0xEB), kPollAck);
}

// SetMode 0 for the controller at 192.168.0.10, sent with sequence number 5.
TEST(LinkBuild, WrappedCommandFrameByteForByte) {
  const Bytes data = messages::WrapCommand("192.168.0.10", messages::ModeSubcode(0).value(), {});
  const auto built = frames::BuildFrame(5, frames::kCommand, data);
  EXPECT_EQ(built.frame, B({0x11, 0x30, 0x35, 0x83, 0x30, 0x30, 0x30, 0x43, 0x43, 0x30, 0x41, 0x38,
                            0x30, 0x30, 0x30, 0x41, 0x81, 0x80, 0x81, 0xE6, 0x45, 0x44, 0x12}));
  EXPECT_EQ(built.crc, 0xED);
}

TEST(LinkBuild, EmptyDataAndFieldsUpperCase) {
  const auto empty = frames::BuildFrame(0xAB, 0x82, "");
  ASSERT_EQ(empty.frame.size(), 11u);
  EXPECT_EQ(empty.frame.substr(1, 2), "AB");
  EXPECT_EQ(empty.frame.substr(4, 4), "0000");
  const auto big = frames::BuildFrame(0x0F, frames::kCommand, Bytes(0x1C, 'x'));
  EXPECT_EQ(big.frame.substr(1, 2), "0F");
  EXPECT_EQ(big.frame.substr(4, 4), "001C");
  EXPECT_EQ(big.frame.size(), 0x1Cu + 11);
  EXPECT_THROW(frames::BuildFrame(0, frames::kCommand, Bytes(0x10000, 'x')), Exception);
  const Bytes nak = frames::BuildAck(0xFE, 0x0A, frames::kNak);
  EXPECT_EQ(nak.substr(1, 2), "FE");
  EXPECT_EQ(static_cast<std::uint8_t>(nak[3]), frames::kNak);
  EXPECT_EQ(nak.substr(4, 2), "0A");
}

TDateTime At(int year, int month, int day, int hour = 0, int minute = 0, int second = 0) {
  return EncodeDateTime(DateTimeParts{year, month, day, hour, minute, second, 0});
}

// Event data: 13 leading bytes, then code, month, day, hour, minute, [card], second.
TEST(LinkMessages, EventsAndStatusRepliesDecoded) {
  const Bytes lead(13, '\x80');
  const TDateTime june = At(2025, 6, 15, 12);
  const auto withCard = messages::DecodeEvent(lead + B({0x84, 0x83, 0x87, 0x89, 0xC1}) + "00A1B2C3" + B({0x93}), june);
  ASSERT_TRUE(withCard);
  EXPECT_EQ(withCard->Event, 4);
  EXPECT_EQ(withCard->Card, "00A1B2C3");
  EXPECT_EQ(withCard->EDate, At(2025, 3, 7, 9, 41, 13));
  const auto noCard = messages::DecodeEvent(lead + B({0x8C, 0x91, 0xB0, 0xA3, 0x85, 0xD9}), june);
  ASSERT_TRUE(noCard);
  EXPECT_EQ(noCard->Card, "");
  EXPECT_EQ(noCard->EDate, At(2025, 11, 30, 23, 5, 59));
  EXPECT_EQ(messages::DecodeEvent(lead + B({0x84, 0x92, 0xB1, 0x80, 0x80, 0x81}), At(2026, 1, 1))->EDate,
            At(2025, 12, 31, 0, 0, 1));
  EXPECT_EQ(messages::DecodeEvent(lead + B({0x84, 0x91, 0xB0, 0x80, 0x80, 0x81}), At(2026, 1, 1))->EDate,
            At(2026, 11, 30, 0, 0, 1));  // only December moves back
  EXPECT_FALSE(messages::DecodeEvent(lead + B({0x8C, 0x91, 0xB0, 0xA3, 0x85}), june));        // 5 bytes
  EXPECT_FALSE(messages::DecodeEvent(lead + B({0x83, 0x85, 0x85, 0x85, 0x85, 0x85}), june));  // code 3
  EXPECT_FALSE(messages::DecodeEvent(lead + B({0x84, 0x82, 0xA9, 0x80, 0x80, 0x80}), june));  // 29.02.2025

  Bytes status(15, '\x80');
  status[12] = '\x21';
  status[13] = '\x43';
  EXPECT_EQ(messages::DecodeStatusReply(status), 0x4321);
  EXPECT_FALSE(messages::DecodeStatusReply(status + "x"));
  EXPECT_FALSE(messages::DecodeStatusReply(status.substr(1)));
  const auto wrapped = messages::Unwrap(frames::kWrapped, status);
  ASSERT_TRUE(wrapped);
  EXPECT_EQ(wrapped->code, 0x80);
  EXPECT_EQ(wrapped->data, status);
  EXPECT_FALSE(messages::Unwrap(frames::kWrapped, ""));
  EXPECT_EQ(messages::Unwrap(frames::kEvent, "")->code, frames::kEvent);
}

TEST(LinkParse, DataFrameFieldsAndData) {
  const Bytes data = B({0x84, 0x00, 0x12, 0x11, 0xFF, 'A'});  // markers inside data are data
  const auto built = frames::BuildFrame(0x7E, frames::kWrapped, data);
  ParsedFrame out;
  ASSERT_TRUE(frames::ParseFrame(built.frame, out));
  EXPECT_EQ(out.code, frames::kWrapped);
  EXPECT_EQ(out.seq, 0x7E);
  EXPECT_EQ(out.crc, built.crc);
  EXPECT_EQ(out.data, data);
}

TEST(LinkParse, AcknowledgementsHaveNoData) {
  ParsedFrame out;
  out.data = "stale";
  ASSERT_TRUE(frames::ParseFrame(kPollAck, out));
  EXPECT_EQ(out.code, frames::kAck);
  EXPECT_EQ(out.seq, 0);
  EXPECT_EQ(out.ackedCrc, 0xEB);
  EXPECT_EQ(out.crc, 0xC7);
  EXPECT_TRUE(out.data.empty());
  ASSERT_TRUE(frames::ParseFrame(frames::BuildAck(0x33, 0x44, frames::kNak), out));
  EXPECT_EQ(out.code, frames::kNak);
  EXPECT_EQ(out.seq, 0x33);
  EXPECT_EQ(out.ackedCrc, 0x44);
}

TEST(LinkParse, RejectsShortFramesAndWrongMarkers) {
  EXPECT_FALSE(Parses(""));
  EXPECT_FALSE(Parses(B({0x11})));
  // Eight bytes with both markers and a valid CRC: still too short.
  const Bytes eight = Seal(B({0x11, 0x30, 0x30, 0x87, 0x30}));
  ASSERT_EQ(eight.size(), 8u);
  EXPECT_FALSE(Parses(eight));
  Bytes noStart = kPoll;
  noStart[0] = 0x10;
  EXPECT_FALSE(Parses(noStart));
  Bytes noEnd = kPoll;
  noEnd.back() = 0x13;
  EXPECT_FALSE(Parses(noEnd));
}

TEST(LinkParse, RejectsWrongLengths) {
  // An acknowledgement of 10 bytes.
  EXPECT_FALSE(Parses(Seal(B({0x11, 0x30, 0x30, 0x87, 0x45, 0x42, 0x00}))));
  EXPECT_FALSE(Parses(Seal(B({0x11, 0x30, 0x30, 0x8B, 0x45, 0x42, 0x00}))));
  // Length field 5 in a 15-byte frame (4 data bytes), and too long the other way.
  EXPECT_FALSE(Parses(Seal(B({0x11, 0x30, 0x30, 0x84, '0', '0', '0', '5', 1, 2, 3, 4}))));
  EXPECT_FALSE(Parses(Seal(B({0x11, 0x30, 0x30, 0x84, '0', '0', '0', '3', 1, 2, 3, 4}))));
  // A huge length field never reads past the end.
  EXPECT_FALSE(Parses(Seal(B({0x11, 0x30, 0x30, 0x84, 'F', 'F', 'F', 'F', 1}))));
}

TEST(LinkParse, LengthFieldHexCases) {
  Bytes data(0x1A, 'd');
  Bytes lower = B({0x11, 0x30, 0x30, 0x84, '0', '0', '1', 'a'});
  lower += data;
  ParsedFrame out;
  ASSERT_TRUE(frames::ParseFrame(Seal(lower), out));
  EXPECT_EQ(out.data.size(), 0x1Au);
  Bytes bad = B({0x11, 0x30, 0x30, 0x84, '0', '0', '1', 'g'});
  bad += data;
  EXPECT_FALSE(Parses(Seal(bad)));
  Bytes sign = B({0x11, 0x30, 0x30, 0x84, '-', '0', '0', '1', 'x'});
  EXPECT_FALSE(Parses(Seal(sign)));
}

TEST(LinkParse, SequenceDigitsEitherCaseOrZeroWhenJunk) {
  ParsedFrame out;
  ASSERT_TRUE(frames::ParseFrame(Seal(B({0x11, 'f', 'e', 0x86, '0', '0', '0', '1', 0x81})), out));
  EXPECT_EQ(out.seq, 0xFE);
  ASSERT_TRUE(frames::ParseFrame(Seal(B({0x11, 'z', '1', 0x86, '0', '0', '0', '1', 0x81})), out));
  EXPECT_EQ(out.seq, 0);
}

TEST(LinkParse, AnySingleCorruptedByteIsRejected) {
  const auto event = frames::BuildFrame(0x42, frames::kEvent, Bytes(16, '\x80'));
  ASSERT_TRUE(Parses(event.frame));
  for (std::size_t i = 0; i < event.frame.size(); ++i) {
    for (int flip : {0x01, 0x10, 0x80, 0xFF}) {
      Bytes bad = event.frame;
      bad[i] = static_cast<char>(bad[i] ^ flip);
      // A changed CRC digit may only survive as the same value in the other letter case.
      const bool sameHexValue = i >= bad.size() - 3 && i < bad.size() - 1 &&
                                (bad[i] ^ 0x20) == event.frame[i] && std::isalpha(event.frame[i]);
      if (!sameHexValue) {
        EXPECT_FALSE(Parses(bad)) << "byte " << i << " flip " << flip;
      }
    }
  }
  for (std::size_t i = 0; i < kPollAck.size(); ++i) {
    Bytes bad = kPollAck;
    bad[i] = static_cast<char>(bad[i] ^ 0x01);
    EXPECT_FALSE(Parses(bad)) << "ack byte " << i;
  }
}

TEST(LinkBcd, BothWaysWithoutValidation) {
  EXPECT_EQ(frames::ByteToBCD(0), B({0x80}));
  EXPECT_EQ(frames::ByteToBCD(7), B({0x87}));
  EXPECT_EQ(frames::ByteToBCD(10), B({0x90}));
  EXPECT_EQ(frames::ByteToBCD(59), B({0xD9}));
  for (int v = 0; v < 80; ++v) {
    EXPECT_EQ(frames::BcdValue(static_cast<std::uint8_t>(frames::ByteToBCD(static_cast<std::uint8_t>(v))[0])), v);
  }
  EXPECT_EQ(frames::BcdValue(0xD9), 59);
  EXPECT_EQ(frames::BcdValue(0x59), 59);
  EXPECT_EQ(frames::BcdValue(0x8A), 10);
  EXPECT_EQ(frames::BcdValue(0xFF), 7 * 10 + 15);
  const Bytes data = B({0x81, 0xD9, 0x59});
  EXPECT_EQ(frames::BCDToByte(data, 1), 1);
  EXPECT_EQ(frames::BCDToByte(data, 2), 59);
  EXPECT_EQ(frames::BCDToByte(data, 3), 59);
  EXPECT_EQ(frames::BCDToByte(data, 0), 0);
  EXPECT_EQ(frames::BCDToByte(data, 4), 0);
}

}  // namespace
