#include "driver/link_messages.h"

#include "driver/link_frames.h"

namespace messages {
namespace {

constexpr std::string_view kWrapHeader = "\x81\x80\x81";
constexpr std::size_t kCardLength = 8;
constexpr std::uint8_t kFlagBit = 0x80;
constexpr std::uint8_t kModeSubcodes[] = {0xE6, 0xE7, 0xE4, 0xE5, 0xE2, 0xE3};

constexpr std::size_t kLeadingBytes = 13;  // event and status data before what the device reads
constexpr std::size_t kStatusReplySize = 15;
constexpr std::size_t kShortestEventBody = 6;
constexpr std::size_t kCardEventBody = 14;

char Flagged(std::uint8_t value) { return static_cast<char>(value | kFlagBit); }

std::string Bcd(int value) { return frames::ByteToBCD(static_cast<std::uint8_t>(value)); }

// BCD minute then BCD hour.
std::string MinuteHour(TDateTime time) {
  const DateTimeParts parts = DecodeDateTime(time);
  return Bcd(parts.minute) + Bcd(parts.hour);
}

std::uint8_t ByteAt(std::string_view bytes, std::size_t position) {  // 1-based
  return static_cast<std::uint8_t>(bytes[position - 1]);
}

// The year of an event that carries only month and day: the PC's current year, except that an
// event of December received in January belongs to the year before.
int EventYear(const DateTimeParts& today, int eventMonth) {
  return (eventMonth == 12 && today.month == 1) ? today.year - 1 : today.year;
}

}  // namespace

std::string WrapCommand(std::string_view ipAddr, std::uint8_t subcode, std::string_view commandData) {
  std::string data = IPToHex(ipAddr);
  data += kWrapHeader;
  data.push_back(static_cast<char>(subcode));
  data += commandData;
  return data;
}

std::string CardData(std::string_view card) { return std::string(card.substr(0, kCardLength)); }

std::string WriteCardData(std::string_view card, bool flag, std::uint8_t profile1, std::uint8_t profile2) {
  std::string data = CardData(card);
  data.push_back(static_cast<char>(flag ? 0x84 : 0x80));
  data.push_back(Flagged(profile1));
  data.push_back(Flagged(profile2));
  return data;
}

std::string WriteDateData(TDateTime date) {
  const DateTimeParts parts = DecodeDateTime(date);
  return Bcd(parts.month) + Bcd(parts.day);
}

std::string WriteTimeProfileData(std::uint8_t profile, const std::array<bool, 7>& days,
                                 const std::array<TDateTime, 4>& times) {
  std::uint8_t mask = kFlagBit;
  for (std::size_t day = 0; day < days.size(); ++day) {
    if (days[day]) mask = static_cast<std::uint8_t>(mask | (1U << day));
  }
  std::string data;
  data.push_back(Flagged(profile));
  data.push_back(static_cast<char>(mask));
  for (TDateTime time : times) data += MinuteHour(time);
  return data;
}

std::string SetDateTimeData(TDateTime dateTime) {
  const DateTimeParts parts = DecodeDateTime(dateTime);
  std::string data = MinuteHour(dateTime);
  data += Bcd(DayOfWeekSunday0(dateTime));
  data += Bcd(parts.day) + Bcd(parts.month);
  data.push_back(Flagged(static_cast<std::uint8_t>(parts.year % 10)));
  data.push_back(Flagged(static_cast<std::uint8_t>((parts.year % 100) / 10)));
  return data;
}

std::optional<std::uint8_t> ModeSubcode(std::uint8_t mode) {
  if (mode >= std::size(kModeSubcodes)) return std::nullopt;
  return kModeSubcodes[mode];
}

std::optional<Message> Unwrap(std::uint8_t code, std::string_view data) {
  if (code != frames::kWrapped) return Message{code, data};
  if (data.empty()) return std::nullopt;
  return Message{static_cast<std::uint8_t>(data[0]), data};
}

std::optional<std::uint16_t> DecodeStatusReply(std::string_view data) {
  if (data.size() != kStatusReplySize) return std::nullopt;
  return static_cast<std::uint16_t>(ByteAt(data, 13) + 256 * ByteAt(data, 14));
}

std::optional<TEvent> DecodeEvent(std::string_view data, TDateTime now) {
  if (data.size() < kLeadingBytes + kShortestEventBody) return std::nullopt;
  const std::string_view body = data.substr(kLeadingBytes);
  const std::size_t length = body.size();
  const auto code = static_cast<std::uint8_t>(ByteAt(body, 1) & 0x7F);
  if (!IsKnownEventCode(code)) return std::nullopt;

  DateTimeParts when;
  when.month = frames::BCDToByte(body, 2);
  when.day = frames::BCDToByte(body, 3);
  when.hour = frames::BCDToByte(body, 4);
  when.minute = frames::BCDToByte(body, 5);
  when.second = frames::BCDToByte(body, length);
  when.year = EventYear(DecodeDateTime(now), when.month);
  TEvent event;
  if (!TryEncodeDateTime(when, event.EDate)) return std::nullopt;  // 29 February of 2025 ...
  event.Event = code;
  if (length == kCardEventBody) event.Card.assign(body.substr(5, kCardLength));
  return event;
}

}  // namespace messages
