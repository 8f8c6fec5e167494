#include "driver/driver.h"

#include <exception>
#include <utility>

#include "driver/card_numbers.h"
#include "driver/driver_events.h"
#include "driver/driver_server.h"
#include "driver/settings_dialog.h"
#include "driver/ui_services.h"
#include "framework/tavo2_lib.h"
#include "platform/exceptions.h"
#include "platform/reactor.h"

namespace {

#define RES(id, name, text) constexpr const char* name = text;
#include "resources/strings/driver.def"
#undef RES

constexpr std::int32_t kErrControllerListEmpty = 11001;
constexpr std::int32_t kDeviceBusy = 1009;

constexpr const char* kControllersList = "ControllersList";
constexpr const char* kCardNumFormat = "CardNumFormat";
constexpr const char* kEventRecCount = "EventRecCount";

// The class identifier as upper-case text without its braces.
std::string DriverIdText() {
  const std::string braced = GuidToString(driver_server::CLSID_MorvikRK4400IP);
  return braced.substr(1, braced.size() - 2);
}

[[noreturn]] void NotTwoDimensional(const char* message) { throw EVariantBadIndexError(message); }

// A time-profile number given as any value: its text form read as an integer within Low..15.
bool ProfileOf(const OleVariant& value, int Low, std::uint8_t& Profile) {
  std::string text;
  try {
    text = value.AsString();
  } catch (const std::exception&) {
    return false;
  }
  return ParseProfileNumber(text, Low, 15, Profile);
}

// Leaves every loop of an upload at its first failing code.
struct TStop {};

void Check(int code) {
  if (code != 0) throw TStop{};
}

}  // namespace

TDriver::TDriver(const TNetDeviceTimings& timings) : FTimings(timings) {}

TDriver::~TDriver() = default;

// --- Class, settings and About data --------------------------------------------------------------

void TDriver::AddSettings() {
  TBaseAC::AddSettings();
  AddSetting(kControllersList, stString, OleVariant(""), false, SControllersListCaption, SControllersListCaption);
  AddSetting(kCardNumFormat, stNumber, OleVariant(std::int32_t{0}), false, SCardNumFormatCaption,
             SCardNumFormatDescription);
  AddSetting(kEventRecCount, stNumber, OleVariant(std::int32_t{5000}), false, SEventRecCountCaption,
             SEventRecCountDescription);
}

void TDriver::FillDeviceInfo() {
  TBaseAC::FillDeviceInfo();
  FDeviceInfo.DriverID = DriverIdText();
  FDeviceInfo.DriverName = SDriverName;
  FDeviceInfo.ProgID = driver_server::kProgID;
  FDeviceInfo.HasSettingsDialog = -1;  // True, all bits set
  FDeviceInfo.Description = SDriverDescription;
}

void TDriver::DoCreate() {
  TBaseAC::DoCreate();
  FNetDevice = std::make_unique<TMorvikNetDevice>(FTimings);
  FNetDevice->OnEvent = [this](const TEvent& Event) { DoDeviceEvent(Event); };
  // A host may let us go from inside an event callback. While the device handles a window message
  // we hold a reference; the last one is let go only after that message's window procedure has
  // returned, since the teardown frees the device and its channels.
  FNetDevice->KeepAlive = [this] {
    AddRef();
    return std::shared_ptr<void>(AsDispatch(this), [this](IDispatch* self) {
      if (RefCount() > 1) {
        self->Release();
      } else {
        ReleaseLater(self);
      }
    });
  };
}

void TDriver::DoFinalize() {
  TBaseAC::DoFinalize();
  if (!FNetDevice) return;
  FNetDevice->Disconnect(true);
  FNetDevice.reset();
}

std::string TDriver::ErrorTextOf(int code) const { return GetErrorText(code, FNetDevice->LastError()); }

int TDriver::ForEachController(const TStringList& IDs, std::string& text,
                               const std::function<int(const std::string&)>& command) {
  for (const std::string& id : IDs) {
    const int code = command(id);
    if (code != 0) {
      text = ErrorTextOf(code);
      return code;
    }
  }
  return 0;
}

void TDriver::SetJournalFolder(const std::string& deviceFolder) {
  // Without a device folder the journal would land in "EvntBuf/" at the root of the file system;
  // it keeps to its default folder instead, also after an earlier Enable had set another one.
  if (deviceFolder.empty()) {
    FNetDevice->Journal().Folder.clear();  // the journal's default folder
  } else {
    FNetDevice->SetBufferFolder(deviceFolder);
  }
}

int TDriver::DeviceConnect(std::string& text) {
  text.clear();
  if (FNetDevice->Busy()) return kDeviceBusy;
  FNetDevice->Disconnect(false);
  FNetDevice->Controllers.LoadFromXML(GetSettingAsString(kControllersList));
  if (FNetDevice->Controllers.Count() == 0) return kErrControllerListEmpty;
  SetJournalFolder(GetDevicesFolder());
  FNetDevice->SetBufferCapacity(GetSettingAsInteger(kEventRecCount));
  const int code = FNetDevice->Connect();
  text = ErrorTextOf(code);
  return code;
}

int TDriver::DeviceDisconnect(std::string& text) {
  text.clear();
  if (FNetDevice->Busy()) return kDeviceBusy;
  FNetDevice->Disconnect(true);
  return 0;
}

bool TDriver::ShowSettingsDialog() { return SettingsDialogs().ShowSettingsDialog(*this); }

bool TDriver::DeviceTest(std::string& text) {
  text.clear();
  std::string message;
  for (const auto& controller : FNetDevice->Controllers) {
    message += controller->ID + "\t" + controller->Name + "\t" + controller->IPAddr + "\t" +
               (controller->Online ? SControllerOnline : SControllerOffline) + "\r\n";
  }
  MessageBoxes().ShowMessage(message, TMessageBoxIcon::Information);
  return true;
}

// --- Events --------------------------------------------------------------------------------------

void TDriver::DoDeviceEvent(const TEvent& Event) {
  std::string kind;
  std::string description;
  GetEventKind(Event.Event, kind, description);
  const std::string card = HostCardText(Event.Card, GetSettingAsInteger(kCardNumFormat));
  switch (EventCallbackOf(Event.Event)) {
    case TEventCallback::DataEvent:
      DataEvent(kind, Event.ID,
                OleVariant::VarArrayOf({OleVariant(Event.ID), OleVariant(card), OleVariant(description)}));
      break;
    case TEventCallback::ErrorEvent:
      ErrorEvent(kind, description, OleVariant(Event.ID));
      break;
    case TEventCallback::None:
      break;
  }
}

int TDriver::DoGetEvents(const TStringList& IDs, std::int32_t, TDateTime DateFrom, TDateTime DateTo,
                         TCtrlEvents& Events, std::string& text) {
  text.clear();
  TEvents records;
  FNetDevice->Journal().GetEvents(IDs, records, DateFrom, DateTo);
  const std::int32_t cardNumFormat = GetSettingAsInteger(kCardNumFormat);
  for (const TEvent& record : records) {
    std::string kind;
    std::string description;
    if (!GetEventKind(record.Event, kind, description)) continue;
    TCtrlEvent& event = *Events.Add();
    event.EventKind = kind;
    event.ID = record.ID;
    event.EventTime = record.EDate;
    event.Card = HostCardText(record.Card, cardNumFormat);
    event.Description = description;
  }
  return 0;
}

int TDriver::DoDeleteEvents(const TStringList& IDs, std::int32_t, TDateTime DateFrom, TDateTime DateTo,
                            std::string& text) {
  text.clear();
  FNetDevice->Journal().DeleteEvents(IDs, DateFrom, DateTo);
  return 0;
}

// --- Cards and uploads ---------------------------------------------------------------------------

int TDriver::DoUploadCards(const TStringList& IDs, std::int32_t LoadMode, const OleVariant& Cards, std::int32_t,
                           std::string& text) {
  text.clear();
  if (Cards.DimCount() != 2) NotTwoDimensional(SCardsNotATable);
  const std::int32_t cardNumFormat = GetSettingAsInteger(kCardNumFormat);
  int code = 0;
  try {
    for (LONG row = Cards.LowBound(2); row <= Cards.HighBound(2); ++row) {
      OleVariant number, profiles, unused, flagField;
      VarArrayGetRow(Cards.Raw(), row, {&number, &profiles, &unused, &flagField});
      if (profiles.DimCount() != 2) NotTwoDimensional(SCardProfilesNotATable);
      std::uint8_t first = 0;
      std::uint8_t second = 0;
      const LONG high = profiles.HighBound(2);
      const bool profilesOk = (high < 0 || ProfileOf(profiles.GetElement({0, 0}), 0, first)) &&
                              (high < 1 || ProfileOf(profiles.GetElement({0, 1}), 0, second));
      if (!profilesOk) {
        code = kErrTimeProfileNumber;
        throw TStop{};
      }
      std::string card;
      try {
        card = NormalizeCardNumber(number.AsString(), cardNumFormat);
      } catch (const std::exception&) {
        code = kErrCardNumber;
        throw TStop{};
      }
      for (const std::string& id : IDs) {
        if (LoadMode == 0) Check(code = FNetDevice->ClearCards(id));
        Check(code = FNetDevice->WriteCard(id, card, flagField.AsBoolean(), first, second));
      }
    }
  } catch (const TStop&) {
  }
  text = ErrorTextOf(code);
  return code;
}

int TDriver::DoDeleteCards(const TStringList& IDs, const TStringList& Cards, std::int32_t, std::string& text) {
  text.clear();
  const std::int32_t cardNumFormat = GetSettingAsInteger(kCardNumFormat);
  int code = 0;
  try {
    for (const std::string& hostCard : Cards) {
      std::string card;
      try {
        card = NormalizeCardNumber(hostCard, cardNumFormat);
      } catch (const std::exception&) {
        code = kErrCardNumber;
        throw TStop{};
      }
      for (const std::string& id : IDs) Check(code = FNetDevice->DeleteCard(id, card));
    }
  } catch (const TStop&) {
  }
  text = ErrorTextOf(code);
  return code;
}

int TDriver::DoUploadTimeProfiles(const TStringList& IDs, std::int32_t LoadMode, const OleVariant& Profiles,
                                  std::int32_t, std::string& text) {
  text.clear();
  if (Profiles.DimCount() != 2) NotTwoDimensional(SProfilesNotATable);
  int code = 0;
  try {
    for (LONG row = Profiles.LowBound(2); row <= Profiles.HighBound(2); ++row) {
      std::array<OleVariant, 12> fields;
      std::array<OleVariant*, 12> targets;
      for (std::size_t i = 0; i < fields.size(); ++i) targets[i] = &fields[i];
      VarArrayGetRow(Profiles.Raw(), row, targets);
      std::uint8_t profile = 0;
      if (!ProfileOf(fields[0], 1, profile)) {
        code = kErrTimeProfileNumber;
        throw TStop{};
      }
      for (const std::string& id : IDs) {
        if (LoadMode == 0) Check(code = FNetDevice->ClearTimeProfiles(id));
        const std::array<bool, 7> days = {fields[7].AsBoolean(), fields[1].AsBoolean(), fields[2].AsBoolean(),
                                          fields[3].AsBoolean(), fields[4].AsBoolean(), fields[5].AsBoolean(),
                                          fields[6].AsBoolean()};
        Check(code = FNetDevice->WriteTimeProfile(id, profile, days, fields[8].AsDate(), fields[9].AsDate(),
                                                  fields[10].AsDate(), fields[11].AsDate()));
      }
    }
  } catch (const TStop&) {
  }
  text = ErrorTextOf(code);
  return code;
}

int TDriver::DoUploadHolidays(const TStringList& IDs, std::int32_t LoadMode, std::span<const TDateTime> Dates,
                              std::int32_t, std::string& text) {
  text.clear();
  int code = 0;
  try {
    for (const std::string& id : IDs) {
      if (LoadMode == 0) Check(code = FNetDevice->ClearDates(id));
      for (const TDateTime date : Dates) Check(code = FNetDevice->WriteDate(id, date));
    }
  } catch (const TStop&) {
  }
  text = ErrorTextOf(code);
  return code;
}

// --- Controller operations -----------------------------------------------------------------------

int TDriver::DoGetControllers(std::int32_t, TCtrlParamsArray& Controllers, std::string& text) {
  text.clear();
  Controllers.clear();
  for (const auto& controller : FNetDevice->Controllers) {
    Controllers.push_back(
        TCtrlParams{controller->ID, controller->Name, controller->EntranceControl, controller->ExitControl});
  }
  return 0;
}

int TDriver::DoSetMode(const TStringList& IDs, std::int32_t Mode, std::int32_t, std::string& text) {
  text.clear();
  // A mode outside one byte is refused by the device like any mode above 5 (after the link and
  // identifier checks), instead of acting as its low byte.
  const std::uint8_t mode = Mode >= 0 && Mode <= 0xFF ? static_cast<std::uint8_t>(Mode) : 0xFF;
  return ForEachController(IDs, text, [&](const std::string& id) { return FNetDevice->SetMode(id, mode); });
}

int TDriver::DoSetDateTime(const TStringList& IDs, std::int32_t, TDateTime DateTime, std::string& text) {
  text.clear();
  return ForEachController(IDs, text,
                           [&](const std::string& id) { return FNetDevice->SetDateTime(id, DateTime); });
}

int TDriver::DoGetStatus(const TStringList& IDs, std::int32_t, OleVariant& Status, std::string& text) {
  text.clear();
  Status.Clear();
  const int code = FNetDevice->RequestStatus();
  if (code != 0) {
    text = ErrorTextOf(code);
    return code;
  }
  const LONG count = static_cast<LONG>(IDs.size());
  OleVariant table = OleVariant::VarArrayCreate({{0, 7}, {0, count - 1}});
  for (LONG i = 0; i < count; ++i) {
    const std::string& id = IDs[static_cast<std::size_t>(i)];
    table.PutElement({0, i}, OleVariant(id));
    const TController* controller = FNetDevice->Controllers.FindByID(id);
    if (controller == nullptr) continue;
    const std::uint16_t word = controller->Status;
    table.PutElement({2, i}, OleVariant((word & 0x000C) != 0));
    table.PutElement({6, i}, OleVariant((word & 0x1000) != 0));
    table.PutElement({7, i}, OleVariant((word & 0x2000) != 0));
  }
  Status = std::move(table);
  return 0;
}

int TDriver::WriteControllerConfig(std::string_view IPAddr, const std::array<std::uint8_t, 10>& Config,
                                   std::string& text) {
  FNetDevice->Disconnect(true);
  FNetDevice->Controllers.Clear();
  TController* controller = FNetDevice->Controllers.AddNew(IPAddr);
  controller->Config = Config;
  text.clear();
  int code = 0;
  try {
    code = FNetDevice->Connect();
    if (code == 0) code = FNetDevice->WriteConfig(*controller);
  } catch (...) {
    FNetDevice->Disconnect(true);
    FNetDevice->Controllers.Clear();
    throw;
  }
  text = ErrorTextOf(code);
  FNetDevice->Disconnect(true);
  FNetDevice->Controllers.Clear();
  return code;
}
