// What a simulated controller receives and sends, as plain values: the decoded form of a command
// from the driver, and the layouts of the frames the controller makes (events, status replies).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ctrlsim {

// How the controller answers a command frame.
enum class Reply {
  Ack,       // acknowledge with the command's number and CRC value
  Nak,       // negative acknowledgement
  Silent,    // no answer at all
  WrongCrc,  // an ACK carrying a CRC value that is not the command's
  Duplicate, // the ACK twice
  Garbage,   // a malformed datagram first, then the ACK
};
const char* ReplyName(Reply reply);
std::optional<Reply> ReplyFromName(std::string_view name);

struct ClockTime {
  std::uint8_t hour = 0;
  std::uint8_t minute = 0;
};

// A command frame as the controller saw it. Fields that the command does not carry stay empty.
struct ReceivedCommand {
  std::string controller;  // the simulated controller's address
  std::uint8_t seq = 0;
  std::uint8_t code = 0;
  std::uint8_t crc = 0;
  std::string data;        // the frame's data bytes
  std::string name;        // "Poll", "HelloAnswer", "StatusRequest", "Goodbye", "WriteCard" ...
  Reply reply = Reply::Ack;

  // Wrapped commands (code 0x83).
  std::optional<std::string> address;  // the address text at the head of the data
  std::optional<std::uint8_t> subcode;
  std::optional<std::string> card;
  std::optional<bool> flag;
  std::optional<std::uint8_t> profile1, profile2;  // bit 7 cleared
  std::optional<std::uint8_t> profile;             // bit 7 cleared
  std::optional<std::uint8_t> days;                // weekday mask, bit 7 cleared
  std::optional<std::array<ClockTime, 4>> times;
  std::optional<std::uint8_t> month, day;
  std::optional<std::uint8_t> weekday, year;       // year: two digits
  std::optional<ClockTime> time;
  std::optional<int> mode;
  std::optional<std::string> config;               // raw configuration bytes
};

// Decodes the code and data of a valid command frame (never throws; short data leaves fields empty).
ReceivedCommand DecodeCommand(std::uint8_t code, std::string_view data);

// One event of the controller.
struct EventSpec {
  std::uint8_t code = 4;  // sent with bit 7 set
  std::uint8_t month = 1, day = 1, hour = 0, minute = 0, second = 0;
  std::string card;       // 8 characters, or empty for an event without a card
  bool wrapped = false;   // sent inside a 0x89 frame
};

// The event body: code|0x80, BCD month, day, hour, minute, [8 card characters], BCD second.
std::string EventBody(const EventSpec& event);
// The data of an event frame: 13 leading bytes, then the body. Wrapped or not, the first leading
// byte is the event frame code, so the same bytes serve as the data of a 0x89 frame.
std::string EventData(const EventSpec& event);
// The data of a status reply of the given length; the status word sits in bytes 13 and 14
// (counting from 1), low byte first, when the data is long enough.
std::string StatusData(std::uint16_t status, std::size_t length);

// The address in the controller commands' form: upper-case hexadecimal, first octet first.
std::string AddressHex(const std::string& dottedAddress);

}  // namespace ctrlsim
