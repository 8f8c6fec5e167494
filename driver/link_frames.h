// Frames of the controller link: one frame per UDP datagram, as byte strings.
//
// Data frame (N data bytes, N + 11 bytes in all):
//   0x11 | seq: 2 hex digits | code: 1 byte | N: 4 hex digits | data: N bytes | crc: 2 hex | 0x12
// Acknowledgement (9 bytes): 0x11 | seq: 2 hex | 0x87 ACK or 0x8B NAK | crc of the acknowledged
//   frame: 2 hex | crc: 2 hex | 0x12
// The CRC is the Dallas/Maxim CRC-8 (reflected 0x8C) with initial value 0x5A over everything before
// the CRC field. Hexadecimal is written upper case and read in either case.
//
// Value encodings inside data: BCD bytes with bit 7 set (59 -> 0xD9), flag bytes with bit 7 set.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace frames {

using Bytes = std::string;  // raw bytes, length known, no terminator

constexpr std::uint8_t kStart = 0x11;
constexpr std::uint8_t kEnd = 0x12;

// Frame codes.
constexpr std::uint8_t kHello = 0x81;         // controller announces itself
constexpr std::uint8_t kBye = 0x82;           // goodbye (both directions)
constexpr std::uint8_t kCommand = 0x83;       // wrapped command to a controller
constexpr std::uint8_t kEvent = 0x84;         // event from a controller
constexpr std::uint8_t kStatusReply = 0x85;   // status reply from a controller
constexpr std::uint8_t kKeepAlive = 0x86;     // poll (data 0x81) or answer to a hello (data 0x84)
constexpr std::uint8_t kAck = 0x87;
constexpr std::uint8_t kWrapped = 0x89;       // first data byte is the real code
constexpr std::uint8_t kStatusRequest = 0x8A;
constexpr std::uint8_t kNak = 0x8B;

std::uint8_t CalcCRC8(std::string_view bytes);
// False for fewer than 5 bytes; else whether the CRC of all but the last 3 bytes equals the two
// hexadecimal digits before the last byte.
bool IsFrameCrcValid(std::string_view frame);

struct BuiltFrame {
  Bytes frame;
  std::uint8_t crc;  // the value carried in the CRC field (matched against the acknowledgement)
};
// Raises Exception for data longer than the length field can describe (0xFFFF bytes).
BuiltFrame BuildFrame(std::uint8_t seq, std::uint8_t code, std::string_view data);
Bytes BuildAck(std::uint8_t seq, std::uint8_t ackedCrc, std::uint8_t code = kAck);

struct ParsedFrame {
  std::uint8_t code = 0;
  std::uint8_t seq = 0;
  std::uint8_t crc = 0;      // the frame's own CRC field
  std::uint8_t ackedCrc = 0;  // acknowledgements only: the CRC field of the acknowledged frame
  std::string_view data;     // data frames only; empty for acknowledgements; points into the input
};
// Checks a received frame; never throws. On false the outputs are meaningless.
bool ParseFrame(std::string_view frame, ParsedFrame& out);

// 0..79 -> 0x80 + tens * 16 + units (values of 80 and more do not fit and are never sent).
Bytes ByteToBCD(std::uint8_t value);
std::uint8_t BcdValue(std::uint8_t bcd);  // bit 7 cleared, high nibble * 10 + low nibble
// The value of the byte at a 1-based position; 0 for a position outside the bytes.
std::uint8_t BCDToByte(std::string_view bytes, std::size_t position);

}  // namespace frames
