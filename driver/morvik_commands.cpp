// The command set of TMorvikNetDevice: each command checks the state, finds the controller, lays
// out its data (link_messages.h) and runs one acknowledged transaction with a wrapped command frame.
#include <string>

#include "driver/link_frames.h"
#include "driver/link_messages.h"
#include "driver/morvik_net_device.h"
#include "framework/equipment_errors.h"

int TMorvikNetDevice::SendToController(TController& Controller, std::uint8_t Subcode,
                                       std::string_view CommandData) {
  return SendCommand(Controller, messages::WrapCommand(Controller.IPAddr, Subcode, CommandData), frames::kCommand);
}

int TMorvikNetDevice::ClearCards(std::string_view ID) {
  TController* controller = nullptr;
  if (const int code = CheckAndFind(ID, controller); code != kOk) return code;
  return SendToController(*controller, messages::kClearCards, {});
}

int TMorvikNetDevice::WriteCard(std::string_view ID, std::string_view Card, bool Flag,
                                std::uint8_t Profile1, std::uint8_t Profile2) {
  TController* controller = nullptr;
  if (const int code = CheckAndFind(ID, controller); code != kOk) return code;
  return SendToController(*controller, messages::kWriteCard, messages::WriteCardData(Card, Flag, Profile1, Profile2));
}

int TMorvikNetDevice::DeleteCard(std::string_view ID, std::string_view Card) {
  TController* controller = nullptr;
  if (const int code = CheckAndFind(ID, controller); code != kOk) return code;
  return SendToController(*controller, messages::kDeleteCard, messages::CardData(Card));
}

int TMorvikNetDevice::ClearDates(std::string_view ID) {
  TController* controller = nullptr;
  if (const int code = CheckAndFind(ID, controller); code != kOk) return code;
  return SendToController(*controller, messages::kClearDates, {});
}

int TMorvikNetDevice::WriteDate(std::string_view ID, TDateTime Date) {
  TController* controller = nullptr;
  if (const int code = CheckAndFind(ID, controller); code != kOk) return code;
  return SendToController(*controller, messages::kWriteDate, messages::WriteDateData(Date));
}

int TMorvikNetDevice::ClearTimeProfiles(std::string_view ID) {
  TController* controller = nullptr;
  if (const int code = CheckAndFind(ID, controller); code != kOk) return code;
  return SendToController(*controller, messages::kClearTimeProfiles, {});
}

int TMorvikNetDevice::WriteTimeProfile(std::string_view ID, std::uint8_t Profile,
                                       const std::array<bool, 7>& Days, TDateTime T1, TDateTime T2,
                                       TDateTime T3, TDateTime T4) {
  TController* controller = nullptr;
  if (const int code = CheckAndFind(ID, controller); code != kOk) return code;
  return SendToController(*controller, messages::kWriteTimeProfile,
                          messages::WriteTimeProfileData(Profile, Days, {T1, T2, T3, T4}));
}

int TMorvikNetDevice::SetDateTime(std::string_view ID, TDateTime DateTime) {
  TController* controller = nullptr;
  if (const int code = CheckAndFind(ID, controller); code != kOk) return code;
  return SendToController(*controller, messages::kSetDateTime, messages::SetDateTimeData(DateTime));
}

int TMorvikNetDevice::SetMode(std::string_view ID, std::uint8_t Mode) {
  TController* controller = nullptr;
  if (const int code = CheckAndFind(ID, controller); code != kOk) return code;
  const std::optional<std::uint8_t> subcode = messages::ModeSubcode(Mode);
  if (!subcode) return kErrInvalidParams;
  return SendToController(*controller, *subcode, {});
}

int TMorvikNetDevice::WriteConfig(TController& Controller) {
  if (const int code = CheckState(); code != kOk) return code;
  return SendToController(Controller, messages::kWriteConfig, Controller.ConfigToBytes());
}
