// The command set of TMorvikNetDevice: each command checks the state, finds the controller, lays
// out its data and runs one acknowledged transaction with a wrapped command frame.
#include <string>

#include "driver/link_frames.h"
#include "driver/morvik_net_device.h"

namespace {

constexpr std::string_view kWrapHeader = "\x81\x80\x81";
constexpr std::size_t kCardLength = 8;
constexpr std::uint8_t kFlagBit = 0x80;

enum Subcode : std::uint8_t {
  kWriteConfig = 0x84,
  kDeleteCard = 0x82,
  kWriteCard = 0x83,
  kWriteTimeProfile = 0x85,
  kWriteDate = 0x86,
  kSetDateTime = 0x87,
  kClearCards = 0xEA,
  kClearDates = 0xEC,
  kClearTimeProfiles = 0xED,
};
constexpr std::uint8_t kModeSubcodes[] = {0xE6, 0xE7, 0xE4, 0xE5, 0xE2, 0xE3};

char Flagged(std::uint8_t value) { return static_cast<char>(value | kFlagBit); }

std::string Bcd(int value) { return frames::ByteToBCD(static_cast<std::uint8_t>(value)); }

// BCD minute then BCD hour.
std::string MinuteHour(TDateTime time) {
  const DateTimeParts parts = DecodeDateTime(time);
  return Bcd(parts.minute) + Bcd(parts.hour);
}

}  // namespace

int TMorvikNetDevice::SendToController(TController& Controller, std::uint8_t Subcode,
                                       std::string_view CommandData) {
  std::string data = IPToHex(Controller.IPAddr);
  data += kWrapHeader;
  data.push_back(static_cast<char>(Subcode));
  data += CommandData;
  return SendCommand(Controller, data, frames::kCommand);
}

int TMorvikNetDevice::ClearCards(std::string_view ID) {
  TController* controller = nullptr;
  if (const int code = CheckAndFind(ID, controller); code != kOk) return code;
  return SendToController(*controller, kClearCards, {});
}

int TMorvikNetDevice::WriteCard(std::string_view ID, std::string_view Card, bool Flag,
                                std::uint8_t Profile1, std::uint8_t Profile2) {
  TController* controller = nullptr;
  if (const int code = CheckAndFind(ID, controller); code != kOk) return code;
  std::string data(Card.substr(0, kCardLength));
  data.push_back(static_cast<char>(Flag ? 0x84 : 0x80));
  data.push_back(Flagged(Profile1));
  data.push_back(Flagged(Profile2));
  return SendToController(*controller, kWriteCard, data);
}

int TMorvikNetDevice::DeleteCard(std::string_view ID, std::string_view Card) {
  TController* controller = nullptr;
  if (const int code = CheckAndFind(ID, controller); code != kOk) return code;
  return SendToController(*controller, kDeleteCard, Card.substr(0, kCardLength));
}

int TMorvikNetDevice::ClearDates(std::string_view ID) {
  TController* controller = nullptr;
  if (const int code = CheckAndFind(ID, controller); code != kOk) return code;
  return SendToController(*controller, kClearDates, {});
}

int TMorvikNetDevice::WriteDate(std::string_view ID, TDateTime Date) {
  TController* controller = nullptr;
  if (const int code = CheckAndFind(ID, controller); code != kOk) return code;
  const DateTimeParts parts = DecodeDateTime(Date);
  return SendToController(*controller, kWriteDate, Bcd(parts.month) + Bcd(parts.day));
}

int TMorvikNetDevice::ClearTimeProfiles(std::string_view ID) {
  TController* controller = nullptr;
  if (const int code = CheckAndFind(ID, controller); code != kOk) return code;
  return SendToController(*controller, kClearTimeProfiles, {});
}

int TMorvikNetDevice::WriteTimeProfile(std::string_view ID, std::uint8_t Profile,
                                       const std::array<bool, 7>& Days, TDateTime T1, TDateTime T2,
                                       TDateTime T3, TDateTime T4) {
  TController* controller = nullptr;
  if (const int code = CheckAndFind(ID, controller); code != kOk) return code;
  std::uint8_t mask = kFlagBit;
  for (std::size_t day = 0; day < Days.size(); ++day) {
    if (Days[day]) mask = static_cast<std::uint8_t>(mask | (1U << day));
  }
  std::string data;
  data.push_back(Flagged(Profile));
  data.push_back(static_cast<char>(mask));
  for (TDateTime time : {T1, T2, T3, T4}) data += MinuteHour(time);
  return SendToController(*controller, kWriteTimeProfile, data);
}

int TMorvikNetDevice::SetDateTime(std::string_view ID, TDateTime DateTime) {
  TController* controller = nullptr;
  if (const int code = CheckAndFind(ID, controller); code != kOk) return code;
  const DateTimeParts parts = DecodeDateTime(DateTime);
  std::string data = MinuteHour(DateTime);
  data += Bcd(DayOfWeekSunday0(DateTime));
  data += Bcd(parts.day) + Bcd(parts.month);
  data.push_back(Flagged(static_cast<std::uint8_t>(parts.year % 10)));
  data.push_back(Flagged(static_cast<std::uint8_t>((parts.year % 100) / 10)));
  return SendToController(*controller, kSetDateTime, data);
}

int TMorvikNetDevice::SetMode(std::string_view ID, std::uint8_t Mode) {
  TController* controller = nullptr;
  if (const int code = CheckAndFind(ID, controller); code != kOk) return code;
  if (Mode >= std::size(kModeSubcodes)) return kBadParameters;
  return SendToController(*controller, kModeSubcodes[Mode], {});
}

int TMorvikNetDevice::WriteConfig(TController& Controller) {
  if (const int code = CheckState(); code != kOk) return code;
  return SendToController(Controller, kWriteConfig, Controller.ConfigToBytes());
}
