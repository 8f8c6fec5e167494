#include "driver/driver.h"

#include <algorithm>
#include <exception>
#include <utility>

#include "driver/card_numbers.h"
#include "driver/driver_events.h"
#include "driver/driver_server.h"
#include "driver/settings_dialog.h"
#include "driver/ui_services.h"
#include "framework/equipment_errors.h"
#include "framework/tavo2_lib.h"
#include "platform/exceptions.h"
#include "platform/reactor.h"

namespace {

#define RES(id, name, text) constexpr const char* name = text;
#include "resources/strings/driver.def"
#undef RES

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

// Fields 0 to N-1 of one row of a host table; a field outside the table stays empty.
template <std::size_t N>
std::array<OleVariant, N> ReadRow(const OleVariant& Table, LONG Row) {
  std::array<OleVariant, N> fields;
  std::array<OleVariant*, N> targets;
  for (std::size_t i = 0; i < N; ++i) targets[i] = &fields[i];
  VarArrayGetRow(Table.Raw(), Row, targets);
  return fields;
}

// The cards table: the fields of a row (field 2 is not read), and the items of a card's time
// profiles (field 1, itself a table of one field).
enum TCardField : std::size_t { kCardNumber, kCardProfiles, kCardUnused, kCardFlag, kCardFields };
constexpr LONG kFirstProfileItem = 0;
constexpr LONG kSecondProfileItem = 1;

// The time-profiles table: the fields of a row.
constexpr std::size_t kProfileNumberField = 0;
constexpr std::size_t kFirstDayField = 1;   // fields 1 to 7: Monday to Sunday
constexpr std::size_t kFirstTimeField = 8;  // fields 8 to 11: four times of day
constexpr std::size_t kProfileFields = 12;

// A time-profile row with its number checked. The day flags and times are converted where they are
// sent, so a row that goes to no controller needs neither.
struct TTimeProfileRow {
  std::uint8_t Number = 0;
  std::array<OleVariant, 7> Days;   // Monday to Sunday
  std::array<OleVariant, 4> Times;  // only hour and minute reach the controller

  // The controller's day order: Sunday first (field 7), then Monday to Saturday (fields 1 to 6).
  std::array<bool, 7> ControllerDays() const {
    std::array<bool, 7> days{};
    days[0] = Days[6].AsBoolean();
    for (std::size_t i = 1; i < days.size(); ++i) days[i] = Days[i - 1].AsBoolean();
    return days;
  }
  std::array<TDateTime, 4> TimesOfDay() const {
    std::array<TDateTime, 4> times{};
    for (std::size_t i = 0; i < times.size(); ++i) times[i] = Times[i].AsDate();
    return times;
  }
};

// Reads a time-profile row; false when its number is not one of 1 to 15.
bool ReadTimeProfileRow(const OleVariant& Profiles, LONG Row, TTimeProfileRow& Profile) {
  const std::array<OleVariant, kProfileFields> fields = ReadRow<kProfileFields>(Profiles, Row);
  if (!ProfileOf(fields[kProfileNumberField], 1, Profile.Number)) return false;
  std::copy_n(fields.begin() + kFirstDayField, Profile.Days.size(), Profile.Days.begin());
  std::copy_n(fields.begin() + kFirstTimeField, Profile.Times.size(), Profile.Times.begin());
  return true;
}

// The status table: one item per requested identifier, eight fields, of which the identifier and
// three Booleans are filled for a listed controller. Each Boolean is set when any of its bits of the
// controller's status word is.
constexpr LONG kStatusFields = 8;
constexpr LONG kStatusIdField = 0;
constexpr std::uint16_t StatusBit(int n) { return static_cast<std::uint16_t>(1u << n); }
struct TStatusField {
  LONG Field;
  std::uint16_t Bits;
};
constexpr std::array<TStatusField, 3> kStatusBitFields = {{
    {2, StatusBit(2) | StatusBit(3)},
    {6, StatusBit(12)},
    {7, StatusBit(13)},
}};

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

int TDriver::Answer(int code, std::string& text) const {
  text = ErrorTextOf(code);
  return code;
}

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
  if (FNetDevice->Busy()) return kErrDeviceBusy;
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
  if (FNetDevice->Busy()) return kErrDeviceBusy;
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
  for (const TEvent& record : records) {
    std::string kind;
    std::string description;
    if (!GetEventKind(record.Event, kind, description)) continue;
    TCtrlEvent& event = *Events.Add();
    event.EventKind = kind;
    event.ID = record.ID;
    event.EventTime = record.EDate;
    event.Card = HostCardText(record.Card, GetSettingAsInteger(kCardNumFormat));
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

std::optional<std::string> TDriver::ControllerCard(const OleVariant& HostCard) const {
  try {
    const std::int32_t cardNumFormat = GetSettingAsInteger(kCardNumFormat);
    return NormalizeCardNumber(HostCard.AsString(), cardNumFormat);
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

int TDriver::ReadCardRow(const OleVariant& Cards, LONG Row, TCardRow& Card) const {
  const std::array<OleVariant, kCardFields> fields = ReadRow<kCardFields>(Cards, Row);
  const OleVariant& profiles = fields[kCardProfiles];
  if (profiles.DimCount() != 2) NotTwoDimensional(SCardProfilesNotATable);
  const LONG high = profiles.HighBound(2);
  const bool profilesOk =
      (high < kFirstProfileItem || ProfileOf(profiles.GetElement({0, kFirstProfileItem}), 0, Card.FirstProfile)) &&
      (high < kSecondProfileItem || ProfileOf(profiles.GetElement({0, kSecondProfileItem}), 0, Card.SecondProfile));
  if (!profilesOk) return kErrTimeProfileNumber;
  std::optional<std::string> card = ControllerCard(fields[kCardNumber]);
  if (!card) return kErrCardNumber;
  Card.Card = std::move(*card);
  Card.Flag = fields[kCardFlag];
  return 0;
}

int TDriver::DoUploadCards(const TStringList& IDs, std::int32_t LoadMode, const OleVariant& Cards, std::int32_t,
                           std::string& text) {
  text.clear();
  if (Cards.DimCount() != 2) NotTwoDimensional(SCardsNotATable);
  return Answer(UploadCardRows(IDs, LoadMode, Cards), text);
}

int TDriver::UploadCardRows(const TStringList& IDs, std::int32_t LoadMode, const OleVariant& Cards) {
  for (LONG row = Cards.LowBound(2); row <= Cards.HighBound(2); ++row) {
    TCardRow card;
    if (const int code = ReadCardRow(Cards, row, card)) return code;
    for (const std::string& id : IDs) {
      int code = LoadMode == 0 ? FNetDevice->ClearCards(id) : 0;
      if (code == 0) code = FNetDevice->WriteCard(id, card.Card, card.Flag.AsBoolean(), card.FirstProfile,
                                                  card.SecondProfile);
      if (code != 0) return code;
    }
  }
  return 0;
}

int TDriver::DoDeleteCards(const TStringList& IDs, const TStringList& Cards, std::int32_t, std::string& text) {
  text.clear();
  return Answer(DeleteCardList(IDs, Cards), text);
}

int TDriver::DeleteCardList(const TStringList& IDs, const TStringList& Cards) {
  for (const std::string& hostCard : Cards) {
    const std::optional<std::string> card = ControllerCard(OleVariant(hostCard));
    if (!card) return kErrCardNumber;
    for (const std::string& id : IDs) {
      if (const int code = FNetDevice->DeleteCard(id, *card)) return code;
    }
  }
  return 0;
}

int TDriver::DoUploadTimeProfiles(const TStringList& IDs, std::int32_t LoadMode, const OleVariant& Profiles,
                                  std::int32_t, std::string& text) {
  text.clear();
  if (Profiles.DimCount() != 2) NotTwoDimensional(SProfilesNotATable);
  return Answer(UploadTimeProfileRows(IDs, LoadMode, Profiles), text);
}

int TDriver::UploadTimeProfileRows(const TStringList& IDs, std::int32_t LoadMode, const OleVariant& Profiles) {
  for (LONG row = Profiles.LowBound(2); row <= Profiles.HighBound(2); ++row) {
    TTimeProfileRow profile;
    if (!ReadTimeProfileRow(Profiles, row, profile)) return kErrTimeProfileNumber;
    for (const std::string& id : IDs) {
      int code = LoadMode == 0 ? FNetDevice->ClearTimeProfiles(id) : 0;
      if (code == 0) {
        const std::array<bool, 7> days = profile.ControllerDays();
        const std::array<TDateTime, 4> times = profile.TimesOfDay();
        code = FNetDevice->WriteTimeProfile(id, profile.Number, days, times[0], times[1], times[2], times[3]);
      }
      if (code != 0) return code;
    }
  }
  return 0;
}

int TDriver::DoUploadHolidays(const TStringList& IDs, std::int32_t LoadMode, std::span<const TDateTime> Dates,
                              std::int32_t, std::string& text) {
  text.clear();
  return Answer(UploadHolidayDates(IDs, LoadMode, Dates), text);
}

int TDriver::UploadHolidayDates(const TStringList& IDs, std::int32_t LoadMode, std::span<const TDateTime> Dates) {
  for (const std::string& id : IDs) {
    if (const int code = LoadMode == 0 ? FNetDevice->ClearDates(id) : 0) return code;
    for (const TDateTime date : Dates) {
      if (const int code = FNetDevice->WriteDate(id, date)) return code;
    }
  }
  return 0;
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
  OleVariant table = OleVariant::VarArrayCreate({{0, kStatusFields - 1}, {0, count - 1}});
  for (LONG i = 0; i < count; ++i) {
    const std::string& id = IDs[static_cast<std::size_t>(i)];
    table.PutElement({kStatusIdField, i}, OleVariant(id));
    const TController* controller = FNetDevice->Controllers.FindByID(id);
    if (controller == nullptr) continue;
    for (const TStatusField& field : kStatusBitFields) {
      table.PutElement({field.Field, i}, OleVariant((controller->Status & field.Bits) != 0));
    }
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
