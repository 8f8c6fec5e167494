#include "tools/simulator/sim_records.h"

#include <arpa/inet.h>

#include <cstdio>

#include "driver/link_frames.h"

namespace ctrlsim {
namespace {

constexpr std::string_view kWrapMarker = "\x81\x80\x81";
constexpr std::size_t kLeadingBytes = 13;
constexpr std::uint8_t kFiller = 0x80;

std::uint8_t At(std::string_view bytes, std::size_t index) {
  return static_cast<std::uint8_t>(bytes[index]);
}

std::uint8_t Bcd(std::string_view bytes, std::size_t index) { return frames::BcdValue(At(bytes, index)); }

std::uint8_t Low7(std::string_view bytes, std::size_t index) {
  return static_cast<std::uint8_t>(At(bytes, index) & 0x7F);
}

void DecodeWriteCard(std::string_view p, ReceivedCommand& c) {
  c.name = "WriteCard";
  c.card = std::string(p.substr(0, 8));
  if (p.size() >= 11) {
    c.flag = At(p, 8) == 0x84;
    c.profile1 = Low7(p, 9);
    c.profile2 = Low7(p, 10);
  }
}

void DecodeTimeProfile(std::string_view p, ReceivedCommand& c) {
  c.name = "WriteTimeProfile";
  if (p.size() < 10) return;
  c.profile = Low7(p, 0);
  c.days = Low7(p, 1);
  std::array<ClockTime, 4> times{};
  for (std::size_t i = 0; i < times.size(); ++i) {
    times[i].minute = Bcd(p, 2 + 2 * i);
    times[i].hour = Bcd(p, 3 + 2 * i);
  }
  c.times = times;
}

void DecodeDateTime(std::string_view p, ReceivedCommand& c) {
  c.name = "SetDateTime";
  if (p.size() < 7) return;
  c.time = ClockTime{Bcd(p, 1), Bcd(p, 0)};
  c.weekday = Bcd(p, 2);
  c.day = Bcd(p, 3);
  c.month = Bcd(p, 4);
  c.year = static_cast<std::uint8_t>(Low7(p, 6) * 10 + Low7(p, 5));
}

std::optional<int> ModeOf(std::uint8_t subcode) {
  switch (subcode) {
    case 0xE6: return 0;
    case 0xE7: return 1;
    case 0xE4: return 2;
    case 0xE5: return 3;
    case 0xE2: return 4;
    case 0xE3: return 5;
    default: return std::nullopt;
  }
}

void DecodeSubcommand(std::uint8_t subcode, std::string_view p, ReceivedCommand& c) {
  if (auto mode = ModeOf(subcode)) {
    c.name = "SetMode";
    c.mode = mode;
    return;
  }
  switch (subcode) {
    case 0xEA: c.name = "ClearCards"; break;
    case 0x83: DecodeWriteCard(p, c); break;
    case 0x82: c.name = "DeleteCard"; c.card = std::string(p.substr(0, 8)); break;
    case 0xEC: c.name = "ClearDates"; break;
    case 0x86:
      c.name = "WriteDate";
      if (p.size() >= 2) { c.month = Bcd(p, 0); c.day = Bcd(p, 1); }
      break;
    case 0xED: c.name = "ClearTimeProfiles"; break;
    case 0x85: DecodeTimeProfile(p, c); break;
    case 0x87: DecodeDateTime(p, c); break;
    case 0x84: c.name = "WriteConfig"; c.config = std::string(p); break;
    default: c.name = "Unknown"; break;
  }
}

void DecodeWrapped(std::string_view data, ReceivedCommand& c) {
  const std::size_t marker = data.find(kWrapMarker);
  if (marker == std::string_view::npos || marker + kWrapMarker.size() >= data.size()) {
    c.name = "Unknown";
    return;
  }
  c.address = std::string(data.substr(0, marker));
  const std::size_t subcodeAt = marker + kWrapMarker.size();
  c.subcode = At(data, subcodeAt);
  DecodeSubcommand(*c.subcode, data.substr(subcodeAt + 1), c);
}

}  // namespace

const char* ReplyName(Reply reply) {
  switch (reply) {
    case Reply::Ack: return "ack";
    case Reply::Nak: return "nak";
    case Reply::Silent: return "silent";
    case Reply::WrongCrc: return "wrong_crc";
    case Reply::Duplicate: return "duplicate";
    case Reply::Garbage: return "garbage";
  }
  return "ack";
}

std::optional<Reply> ReplyFromName(std::string_view name) {
  for (Reply r : {Reply::Ack, Reply::Nak, Reply::Silent, Reply::WrongCrc, Reply::Duplicate,
                  Reply::Garbage}) {
    if (name == ReplyName(r)) return r;
  }
  return std::nullopt;
}

ReceivedCommand DecodeCommand(std::uint8_t code, std::string_view data) {
  ReceivedCommand c;
  c.code = code;
  c.data = std::string(data);
  const bool oneByte = data.size() == 1;
  switch (code) {
    case frames::kKeepAlive:
      c.name = oneByte && At(data, 0) == 0x84 ? "HelloAnswer" : oneByte && At(data, 0) == 0x81 ? "Poll" : "Unknown";
      break;
    case frames::kStatusRequest: c.name = "StatusRequest"; break;
    case frames::kBye: c.name = "Goodbye"; break;
    case frames::kCommand: DecodeWrapped(data, c); break;
    default: c.name = "Unknown"; break;
  }
  return c;
}

std::string EventBody(const EventSpec& event) {
  std::string body;
  body.push_back(static_cast<char>(event.code | 0x80));
  for (std::uint8_t v : {event.month, event.day, event.hour, event.minute}) body += frames::ByteToBCD(v);
  body += event.card;
  body += frames::ByteToBCD(event.second);
  return body;
}

std::string EventData(const EventSpec& event) {
  std::string data(kLeadingBytes, static_cast<char>(kFiller));
  data[0] = static_cast<char>(frames::kEvent);
  return data + EventBody(event);
}

std::string StatusData(std::uint16_t status, std::size_t length) {
  std::string data(length, static_cast<char>(kFiller));
  if (length > 0) data[0] = static_cast<char>(frames::kStatusReply);
  if (length >= 14) {
    data[12] = static_cast<char>(status & 0xFF);
    data[13] = static_cast<char>(status >> 8);
  }
  return data;
}

std::string AddressHex(const std::string& dottedAddress) {
  in_addr a{};
  if (inet_pton(AF_INET, dottedAddress.c_str(), &a) != 1) return "FFFFFFFF";
  char text[16];
  std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(ntohl(a.s_addr)));
  return text;
}

}  // namespace ctrlsim
