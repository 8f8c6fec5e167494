#include "driver/link_frames.h"

#include <algorithm>
#include <array>
#include <optional>

#include "platform/exceptions.h"
#include "platform/text.h"

namespace frames {
namespace {

// Dallas/Maxim CRC-8 (x^8 + x^5 + x^4 + 1), least significant bit first.
constexpr std::array<std::uint8_t, 256> MakeCrcTable() {
  std::array<std::uint8_t, 256> table{};
  for (unsigned i = 0; i < 256; ++i) {
    std::uint8_t crc = static_cast<std::uint8_t>(i);
    for (int bit = 0; bit < 8; ++bit) {
      crc = (crc & 1U) ? static_cast<std::uint8_t>((crc >> 1) ^ 0x8CU) : static_cast<std::uint8_t>(crc >> 1);
    }
    table[i] = crc;
  }
  return table;
}

constexpr std::array<std::uint8_t, 256> kCrcTable = MakeCrcTable();

// The CRC is linear, so table[a ^ b] = table[a] ^ table[b]: four bytes at a time are
//   crc := T4[b0 ^ crc] ^ T3[b1] ^ T2[b2] ^ T1[b3], with Tn the table applied n times.
constexpr std::array<std::array<std::uint8_t, 256>, 4> MakeSliceTables() {
  std::array<std::array<std::uint8_t, 256>, 4> tables{};
  tables[0] = kCrcTable;
  for (std::size_t n = 1; n < 4; ++n) {
    for (std::size_t i = 0; i < 256; ++i) tables[n][i] = kCrcTable[tables[n - 1][i]];
  }
  return tables;
}

constexpr auto kSliceTables = MakeSliceTables();

constexpr std::uint8_t kCrcInit = 0x5A;

constexpr std::size_t kHeaderSize = 8;      // start, seq (2), code, length (4)
constexpr std::size_t kTrailerSize = 3;     // crc (2), end
constexpr std::size_t kAckSize = 9;
constexpr std::size_t kMaxDataSize = 0xFFFF;  // what four hexadecimal digits can carry

// The value of a run of hexadecimal digits (either case); nothing when any is not a digit.
std::optional<unsigned> HexValue(std::string_view digits) {
  unsigned value = 0;
  for (char c : digits) {
    const int digit = HexDigitValue(c);
    if (digit < 0) return std::nullopt;
    value = value * 16 + static_cast<unsigned>(digit);
  }
  return value;
}

// Writes value as width upper-case hexadecimal digits at out and answers the position after them.
char* PutHex(char* out, unsigned value, int width) {
  for (int shift = (width - 1) * 4; shift >= 0; shift -= 4) *out++ = kHexDigits[(value >> shift) & 0xFU];
  return out;
}

bool IsAckCode(std::uint8_t code) { return code == kAck || code == kNak; }

}  // namespace

std::uint8_t CalcCRC8(std::string_view bytes) {
  const auto* p = reinterpret_cast<const std::uint8_t*>(bytes.data());
  std::size_t n = bytes.size();
  std::uint8_t crc = kCrcInit;
  for (; n >= 4; n -= 4, p += 4) {
    crc = static_cast<std::uint8_t>(kSliceTables[3][p[0] ^ crc] ^ kSliceTables[2][p[1]] ^
                                    kSliceTables[1][p[2]] ^ kSliceTables[0][p[3]]);
  }
  for (; n > 0; --n, ++p) crc = kCrcTable[*p ^ crc];
  return crc;
}

bool IsFrameCrcValid(std::string_view frame) {
  if (frame.size() < 5) return false;
  const std::size_t covered = frame.size() - kTrailerSize;
  const auto carried = HexValue(frame.substr(covered, 2));
  return carried && *carried == CalcCRC8(frame.substr(0, covered));
}

BuiltFrame BuildFrame(std::uint8_t seq, std::uint8_t code, std::string_view data) {
  if (data.size() > kMaxDataSize) {
    throw Exception("Frame data longer than " + std::to_string(kMaxDataSize) + " bytes");
  }
  BuiltFrame built;
  Bytes& f = built.frame;
  f.resize(kHeaderSize + data.size() + kTrailerSize);
  char* out = f.data();
  *out++ = static_cast<char>(kStart);
  out = PutHex(out, seq, 2);
  *out++ = static_cast<char>(code);
  out = PutHex(out, static_cast<unsigned>(data.size()), 4);
  if (!data.empty()) out = std::copy(data.begin(), data.end(), out);
  built.crc = CalcCRC8(std::string_view(f.data(), kHeaderSize + data.size()));
  out = PutHex(out, built.crc, 2);
  *out = static_cast<char>(kEnd);
  return built;
}

Bytes BuildAck(std::uint8_t seq, std::uint8_t ackedCrc, std::uint8_t code) {
  Bytes a(kAckSize, '\0');
  char* out = a.data();
  *out++ = static_cast<char>(kStart);
  out = PutHex(out, seq, 2);
  *out++ = static_cast<char>(code);
  out = PutHex(out, ackedCrc, 2);
  out = PutHex(out, CalcCRC8(std::string_view(a.data(), 6)), 2);
  *out = static_cast<char>(kEnd);
  return a;
}

bool ParseFrame(std::string_view frame, ParsedFrame& out) {
  const std::size_t length = frame.size();
  if (length <= kHeaderSize) return false;
  if (static_cast<std::uint8_t>(frame.front()) != kStart) return false;
  if (static_cast<std::uint8_t>(frame.back()) != kEnd) return false;
  if (!IsFrameCrcValid(frame)) return false;

  out = ParsedFrame{};
  out.code = static_cast<std::uint8_t>(frame[3]);
  out.seq = static_cast<std::uint8_t>(HexValue(frame.substr(1, 2)).value_or(0));
  out.crc = static_cast<std::uint8_t>(HexValue(frame.substr(length - kTrailerSize, 2)).value_or(0));

  if (IsAckCode(out.code)) {
    if (length != kAckSize) return false;
    out.ackedCrc = static_cast<std::uint8_t>(HexValue(frame.substr(4, 2)).value_or(0));
    return true;
  }
  const auto dataLength = HexValue(frame.substr(4, 4));
  if (!dataLength || *dataLength + kHeaderSize + kTrailerSize != length) return false;
  out.data = frame.substr(kHeaderSize, *dataLength);
  return true;
}

Bytes ByteToBCD(std::uint8_t value) {
  const auto bcd = static_cast<std::uint8_t>(0x80U + (value / 10U) * 16U + value % 10U);
  return Bytes(1, static_cast<char>(bcd));
}

std::uint8_t BcdValue(std::uint8_t bcd) {
  const unsigned cleared = bcd & 0x7FU;
  return static_cast<std::uint8_t>((cleared >> 4) * 10U + (cleared & 0x0FU));
}

std::uint8_t BCDToByte(std::string_view bytes, std::size_t position) {
  if (position == 0 || position > bytes.size()) return 0;
  return BcdValue(static_cast<std::uint8_t>(bytes[position - 1]));
}

}  // namespace frames
