// The controller's message layouts, as pure functions: the data of the commands that travel in a
// wrapped command frame (0x83), and the events and status replies that controllers send.
//
// Wrapped command data: the controller's address as 8 hexadecimal characters, 0x81 0x80 0x81, the
// subcode, then the command's own data. BCD bytes and flag bytes carry bit 7 (see link_frames.h).
//
// Event data (code 0x84): 13 leading bytes, then the body: the code with bit 7 set, BCD month,
// day, hour, minute, the card number (8 characters) only in a body of 14 bytes, and the BCD second
// as the last byte. Status reply data (code 0x85): 15 bytes, the status word in bytes 13 and 14
// (counting from 1), low byte first. A wrapped message (0x89) carries its real code as its first
// data byte and is read whole as that code's data.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "driver/morvik_common.h"
#include "platform/date_time.h"

namespace messages {

// Subcodes of wrapped commands.
constexpr std::uint8_t kWriteConfig = 0x84;
constexpr std::uint8_t kDeleteCard = 0x82;
constexpr std::uint8_t kWriteCard = 0x83;
constexpr std::uint8_t kWriteTimeProfile = 0x85;
constexpr std::uint8_t kWriteDate = 0x86;
constexpr std::uint8_t kSetDateTime = 0x87;
constexpr std::uint8_t kClearCards = 0xEA;
constexpr std::uint8_t kClearDates = 0xEC;
constexpr std::uint8_t kClearTimeProfiles = 0xED;

// The data of a wrapped command to the controller at a dotted address.
std::string WrapCommand(std::string_view ipAddr, std::uint8_t subcode, std::string_view commandData);

// Command data, one function per command that carries any.
std::string CardData(std::string_view card);  // the first 8 characters
std::string WriteCardData(std::string_view card, bool flag, std::uint8_t profile1, std::uint8_t profile2);
std::string WriteDateData(TDateTime date);  // month and day
// days[0] is Sunday's bit, days[1..6] Monday to Saturday; only hour and minute of the times go out.
std::string WriteTimeProfileData(std::uint8_t profile, const std::array<bool, 7>& days,
                                 const std::array<TDateTime, 4>& times);
std::string SetDateTimeData(TDateTime dateTime);  // seconds are not sent
// The subcode of a mode 0..5; nothing for any other mode.
std::optional<std::uint8_t> ModeSubcode(std::uint8_t mode);

// What a received frame carries for the device: the frame's own code and data, or for a wrapped
// message its first byte as the code and the whole data. Nothing for an empty wrapped message.
struct Message {
  std::uint8_t code = 0;
  std::string_view data;
};
std::optional<Message> Unwrap(std::uint8_t code, std::string_view data);

// The status word of a status reply; nothing unless the data has exactly 15 bytes.
std::optional<std::uint16_t> DecodeStatusReply(std::string_view data);
// The event in an event's data, dated in the year of now (an event of December received in
// January in the year before); ID left empty. Nothing for a short body, an unknown code or a date
// that does not exist.
std::optional<TEvent> DecodeEvent(std::string_view data, TDateTime now);

}  // namespace messages
