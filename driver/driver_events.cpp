#include "driver/driver_events.h"

#include <array>

namespace {

#define RES(id, name, text) constexpr std::string_view name = text;
#include "resources/strings/driver_events.def"
#undef RES

struct TEventKindRec {
  std::uint8_t Code;
  std::string_view Kind;
  std::string_view Description;
};

constexpr std::array<TEventKindRec, 15> kEventKinds = {{
    {0x02, "Hacked", SEventReaderHacked},
    {0x04, "Hacked", SEventCaseOpened},
    {0x0C, "Hacked", SEventDoorSensorBroken},
    {0x0F, "Hacked", SEventAlarmSensorBroken},
    {0x10, "Hacked", SEventAlarmSensorShorted},
    {0x12, "Hacked", SEventInnerReaderHacked},
    {0x14, "Broken", SEventControllerOff},
    {0x21, "EntranceDenied", SEventDeniedBlocked},
    {0x22, "EntranceDenied", SEventDeniedNoKey},
    {0x23, "EntranceDenied", SEventDeniedGuardMode},
    {0x26, "EntranceDenied", SEventDeniedTimeProfile},
    {0x2B, "NotPowered", SEventMainsOff},
    {0x2D, "Discharged", SEventBatteryLow},
    {0x40, "Entrance", SEventEntrance},
    {0x41, "Exit", SEventExit},
}};

}  // namespace

bool GetEventKind(std::uint8_t Code, std::string& Kind, std::string& Description) {
  Kind.clear();
  Description.clear();
  for (const TEventKindRec& rec : kEventKinds) {
    if (rec.Code == Code) {
      Kind = rec.Kind;
      Description = rec.Description;
      return true;
    }
  }
  return false;
}

std::int64_t HexToInt64(std::string_view Text) {
  std::uint64_t result = 0;  // unsigned: a text longer than 16 digits wraps instead of overflowing
  for (const char c : Text) {
    result *= 16;
    if (c >= '0' && c <= '9') {
      result += static_cast<std::uint64_t>(c - '0');
    } else if (c >= 'A' && c <= 'F') {
      result += static_cast<std::uint64_t>(c - 'A' + 10);
    } else {
      return 0;
    }
  }
  return static_cast<std::int64_t>(result);
}

TEventCallback EventCallbackOf(std::uint8_t Code) {
  switch (Code) {
    case 0x01: case 0x02: case 0x04: case 0x12: case 0x21: case 0x22: case 0x23: case 0x26:
    case 0x40: case 0x41:
      return TEventCallback::DataEvent;
    case 0x0C: case 0x0D: case 0x0F: case 0x10: case 0x14: case 0x2B: case 0x2D:
      return TEventCallback::ErrorEvent;
    default:
      return TEventCallback::None;
  }
}

std::string HostCardText(std::string_view StoredCard, std::int32_t CardNumFormat) {
  if (CardNumFormat == 0) return std::string(StoredCard);
  return std::to_string(HexToInt64(StoredCard));
}
