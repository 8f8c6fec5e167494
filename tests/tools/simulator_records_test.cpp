// Decoding of the driver's commands and the layouts of the controller's own frames.
#include <gtest/gtest.h>

#include "driver/link_frames.h"
#include "tools/simulator/sim_json.h"
#include "tools/simulator/sim_records.h"

namespace ctrlsim {
namespace {

std::string Bytes(std::initializer_list<int> values) {
  std::string out;
  for (int v : values) out.push_back(static_cast<char>(v));
  return out;
}

std::string Wrapped(std::string_view address, int subcode, std::string_view payload) {
  return std::string(address) + Bytes({0x81, 0x80, 0x81, subcode}) + std::string(payload);
}

TEST(SimDecodeCommand, SetModeFrameOfTheCommandSet) {
  const std::string frame = Bytes({0x11, 0x30, 0x35, 0x83, 0x30, 0x30, 0x30, 0x43, 0x43, 0x30, 0x41, 0x38,
                                   0x30, 0x30, 0x30, 0x41, 0x81, 0x80, 0x81, 0xE6, 0x45, 0x44, 0x12});
  frames::ParsedFrame parsed;
  ASSERT_TRUE(frames::ParseFrame(frame, parsed));
  const ReceivedCommand c = DecodeCommand(parsed.code, parsed.data);
  EXPECT_EQ(c.name, "SetMode");
  EXPECT_EQ(c.address, "C0A8000A");
  EXPECT_EQ(c.subcode, 0xE6);
  EXPECT_EQ(c.mode, 0);
}

TEST(SimDecodeCommand, EveryModeSubcodeMapsToItsMode) {
  const int subcodes[] = {0xE6, 0xE7, 0xE4, 0xE5, 0xE2, 0xE3};
  for (int mode = 0; mode < 6; ++mode) {
    const ReceivedCommand c = DecodeCommand(0x83, Wrapped("7F000002", subcodes[mode], ""));
    EXPECT_EQ(c.mode, mode) << "subcode " << subcodes[mode];
  }
}

TEST(SimDecodeCommand, PayloadsOfTheCommandSet) {
  const ReceivedCommand card =
      DecodeCommand(0x83, Wrapped("7F000002", 0x83, Bytes({0x30, 0x30, 0x41, 0x31, 0x42, 0x32, 0x43, 0x33, 0x84, 0x81, 0x82})));
  EXPECT_EQ(card.name, "WriteCard");
  EXPECT_EQ(card.card, "00A1B2C3");
  EXPECT_EQ(card.flag, true);
  EXPECT_EQ(card.profile1, 1);
  EXPECT_EQ(card.profile2, 2);

  const ReceivedCommand clock = DecodeCommand(0x83, Wrapped("7F000002", 0x87, Bytes({0xD9, 0xA3, 0x83, 0xB1, 0x92, 0x85, 0x82})));
  EXPECT_EQ(clock.name, "SetDateTime");
  ASSERT_TRUE(clock.time);
  EXPECT_EQ(clock.time->hour, 23);
  EXPECT_EQ(clock.time->minute, 59);
  EXPECT_EQ(clock.weekday, 3);
  EXPECT_EQ(clock.day, 31);
  EXPECT_EQ(clock.month, 12);
  EXPECT_EQ(clock.year, 25);

  const ReceivedCommand profile =
      DecodeCommand(0x83, Wrapped("7F000002", 0x85, Bytes({0x83, 0xBE, 0x80, 0x88, 0x80, 0x92, 0x80, 0x93, 0xB0, 0x97})));
  EXPECT_EQ(profile.name, "WriteTimeProfile");
  EXPECT_EQ(profile.profile, 3);
  EXPECT_EQ(profile.days, 0x3E);
  ASSERT_TRUE(profile.times);
  EXPECT_EQ((*profile.times)[0].hour, 8);
  EXPECT_EQ((*profile.times)[3].hour, 17);
  EXPECT_EQ((*profile.times)[3].minute, 30);

  const ReceivedCommand date = DecodeCommand(0x83, Wrapped("7F000002", 0x86, Bytes({0x92, 0xA5})));
  EXPECT_EQ(date.month, 12);
  EXPECT_EQ(date.day, 25);

  const ReceivedCommand config = DecodeCommand(0x83, Wrapped("7F000002", 0x84, Bytes({0x83, 0x94, 0x8A, 0x8A, 0x80, 0x81, 0xC2, 0x9C, 0x8E, 0x88})));
  EXPECT_EQ(config.name, "WriteConfig");
  EXPECT_EQ(HexBytes(config.config.value()), "83948A8A8081C29C8E88");
}

TEST(SimDecodeCommand, ShortOrOddDataNeverReadsPastTheEnd) {
  EXPECT_EQ(DecodeCommand(0x83, "").name, "Unknown");
  EXPECT_EQ(DecodeCommand(0x83, Bytes({0x81, 0x80, 0x81})).name, "Unknown");
  const ReceivedCommand shortCard = DecodeCommand(0x83, Wrapped("7F000002", 0x83, "00A1"));
  EXPECT_EQ(shortCard.card, "00A1");
  EXPECT_FALSE(shortCard.flag);
  EXPECT_FALSE(DecodeCommand(0x83, Wrapped("7F000002", 0x85, Bytes({0x83}))).times);
  EXPECT_FALSE(DecodeCommand(0x83, Wrapped("7F000002", 0x87, Bytes({0xD9}))).time);
  EXPECT_EQ(DecodeCommand(0x86, Bytes({0x81})).name, "Poll");
  EXPECT_EQ(DecodeCommand(0x86, Bytes({0x84})).name, "HelloAnswer");
  EXPECT_EQ(DecodeCommand(0x86, "").name, "Unknown");
  EXPECT_EQ(DecodeCommand(0x8A, Bytes({0x81})).name, "StatusRequest");
}

TEST(SimFrameLayouts, EventBodiesWithAndWithoutCard) {
  EventSpec e;
  e.code = 4;
  e.month = 12;
  e.day = 31;
  e.hour = 23;
  e.minute = 59;
  e.second = 30;
  EXPECT_EQ(EventBody(e), Bytes({0x84, 0x92, 0xB1, 0xA3, 0xD9, 0xB0}));
  e.card = "00A1B2C3";
  const std::string body = EventBody(e);
  ASSERT_EQ(body.size(), 14u);
  EXPECT_EQ(body.substr(5, 8), "00A1B2C3");
  EXPECT_EQ(static_cast<std::uint8_t>(body[13]), 0xB0);
  const std::string data = EventData(e);
  ASSERT_EQ(data.size(), 13u + 14u);
  EXPECT_EQ(static_cast<std::uint8_t>(data[0]), frames::kEvent);  // serves as the wrapped frame's code
  EXPECT_EQ(data.substr(13), body);
}

TEST(SimFrameLayouts, StatusWordSitsInBytes13And14LowFirst) {
  const std::string data = StatusData(0x1234, 15);
  ASSERT_EQ(data.size(), 15u);
  EXPECT_EQ(static_cast<std::uint8_t>(data[0]), frames::kStatusReply);
  EXPECT_EQ(static_cast<std::uint8_t>(data[12]), 0x34);
  EXPECT_EQ(static_cast<std::uint8_t>(data[13]), 0x12);
  EXPECT_EQ(StatusData(0x1234, 14).size(), 14u);
  EXPECT_EQ(StatusData(0x1234, 3).size(), 3u);
}

TEST(SimFrameLayouts, AddressHexIsFirstOctetFirst) {
  EXPECT_EQ(AddressHex("192.168.0.10"), "C0A8000A");
  EXPECT_EQ(AddressHex("127.0.0.2"), "7F000002");
  EXPECT_EQ(AddressHex("10.0.0.1"), "0A000001");  // always eight digits
  EXPECT_EQ(AddressHex("not an address"), "FFFFFFFF");
}

TEST(SimJson, HexRoundTripAndBadInput) {
  EXPECT_EQ(BytesFromHex("00ff7F"), Bytes({0x00, 0xFF, 0x7F}));
  EXPECT_EQ(HexBytes(Bytes({0x00, 0xFF, 0x7F})), "00FF7F");
  EXPECT_THROW(BytesFromHex("ABC"), std::invalid_argument);
  EXPECT_THROW(BytesFromHex("GG"), std::invalid_argument);
}

TEST(SimJson, ReplyNamesRoundTrip) {
  for (Reply r : {Reply::Ack, Reply::Nak, Reply::Silent, Reply::WrongCrc, Reply::Duplicate, Reply::Garbage}) {
    EXPECT_EQ(ReplyFromName(ReplyName(r)), r);
  }
  EXPECT_FALSE(ReplyFromName("maybe"));
}

TEST(SimJson, CommandCarriesOnlyItsFields) {
  ReceivedCommand c = DecodeCommand(0x83, Wrapped("7F000002", 0x83, Bytes({0x30, 0x30, 0x41, 0x31, 0x42, 0x32, 0x43, 0x33, 0x80, 0x80, 0x85})));
  c.controller = "127.0.0.2";
  const nlohmann::json j = ToJson(c);
  EXPECT_EQ(j["type"], "command");
  EXPECT_EQ(j["name"], "WriteCard");
  EXPECT_EQ(j["card"], "00A1B2C3");
  EXPECT_EQ(j["flag"], false);
  EXPECT_EQ(j["profile2"], 5);
  EXPECT_FALSE(j.contains("mode"));
  EXPECT_FALSE(j.contains("times"));
}

}  // namespace
}  // namespace ctrlsim
