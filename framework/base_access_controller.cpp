#include "framework/base_access_controller.h"

#include "framework/equipment_errors.h"
#include "platform/exceptions.h"

namespace {

#define RES(id, name, text) constexpr std::string_view name = text;
#include "resources/strings/base_access_controller.def"
#undef RES

// The InData elements 0..N-1 at their absolute indices, references followed and copied out.
// False when reading raised an error.
template <std::size_t N>
bool ReadElements(const OleVariant& InData, OleVariant (&elements)[N]) {
  try {
    OleVariant raw[N];
    OleVariant* targets[N];
    for (std::size_t i = 0; i < N; ++i) targets[i] = &raw[i];
    VarArrayGetElements(InData.Raw(), std::span<OleVariant* const>(targets, N));
    for (std::size_t i = 0; i < N; ++i) DerefVariant(raw[i].Raw(), elements[i]);
    return true;
  } catch (...) {
    return false;
  }
}

bool IsArrayValue(const OleVariant& v) { return (v.Type() & VT_ARRAY) != 0; }

bool IsOrdinalValue(const OleVariant& v) { return IsOrdinalVarType(v.Type()); }

bool IsDateValue(const OleVariant& v) { return v.Type() == VT_DATE; }

TDateTimeArray ToDateTimeArray(const OleVariant& value) {
  if (!IsArrayValue(value)) throw EVariantError(std::string(SNotAnArray));
  TDateTimeArray dates;
  const LONG low = value.LowBound(1);
  const LONG high = value.HighBound(1);
  for (LONG i = low; i <= high; ++i) dates.push_back(value.GetElement({i}).AsDate());
  return dates;
}

TStringList ToStrings(const OleVariant& value) {
  TStringList list;
  VariantArrayToStrings(value, list);
  return list;
}

OleVariant ControllerTable(const TCtrlParamsArray& controllers) {
  const LONG count = static_cast<LONG>(controllers.size());
  OleVariant table = OleVariant::VarArrayCreate({{0, 3}, {0, count - 1}});
  for (LONG i = 0; i < count; ++i) {
    const TCtrlParams& c = controllers[i];
    table.PutElement({0, i}, OleVariant(c.ID));
    table.PutElement({1, i}, OleVariant(c.Name));
    table.PutElement({2, i}, OleVariant(c.EntranceControl));
    table.PutElement({3, i}, OleVariant(c.ExitControl));
  }
  return WrapInArray(std::move(table));
}

OleVariant EventTable(const TCtrlEvents& events) {
  const LONG count = events.Count();
  OleVariant table = OleVariant::VarArrayCreate({{0, 4}, {0, count - 1}});
  for (LONG i = 0; i < count; ++i) {
    const TCtrlEvent& e = *events.Get(i);
    table.PutElement({0, i}, OleVariant(e.ID));
    table.PutElement({1, i}, OleVariant::FromDate(e.EventTime));
    table.PutElement({2, i}, OleVariant(e.EventKind));
    table.PutElement({3, i}, OleVariant(e.Card));
    table.PutElement({4, i}, OleVariant(e.Description));
  }
  return WrapInArray(std::move(table));
}

}  // namespace

// --- Carriers ------------------------------------------------------------------------------------

TCtrlEvent* TCtrlEvents::Add() {
  items_.push_back(std::make_unique<TCtrlEvent>());
  return items_.back().get();
}

TCtrlEvent* TCtrlEvents::Get(int Index) const {
  if (Index < 0 || Index >= Count()) return nullptr;
  return items_[Index].get();
}

void TCtrlEvents::Delete(int Index) {
  if (Index >= 0 && Index < Count()) items_.erase(items_.begin() + Index);
}

void VariantArrayToStrings(const OleVariant& Value, TStringList& List) {
  List.clear();
  if (!IsArrayValue(Value)) return;
  const LONG low = Value.LowBound(1);
  const LONG high = Value.HighBound(1);
  for (LONG i = low; i <= high; ++i) List.push_back(Value.GetElement({i}).AsString());
}

// --- Registration --------------------------------------------------------------------------------

void TBaseAC::RegisterMethods() {
  TBaseDevice::RegisterMethods();
  AddFunction("GetControllers", BindFunction(this, &TBaseAC::GetControllers));
  AddFunction("UploadTimeProfiles", BindFunction(this, &TBaseAC::UploadTimeProfiles));
  AddFunction("UploadHolidays", BindFunction(this, &TBaseAC::UploadHolidays));
  AddFunction("UploadCards", BindFunction(this, &TBaseAC::UploadCards));
  AddFunction("DeleteCards", BindFunction(this, &TBaseAC::DeleteCards));
  AddFunction("SetMode", BindFunction(this, &TBaseAC::SetMode));
  AddFunction("GetEvents", BindFunction(this, &TBaseAC::GetEvents));
  AddFunction("DeleteEvents", BindFunction(this, &TBaseAC::DeleteEvents));
  AddFunction("GetStatus", BindFunction(this, &TBaseAC::GetStatus));
  AddFunction("GetDateTime", BindFunction(this, &TBaseAC::GetDateTime));
  AddFunction("SetDateTime", BindFunction(this, &TBaseAC::SetDateTime));
}

void TBaseAC::FillDeviceInfo() {
  TBaseDevice::FillDeviceInfo();
  FDeviceInfo.EquipmentType = "AccessController";
}

void TBaseAC::AddSettings() { TBaseDevice::AddSettings(); }

// --- Wrappers ------------------------------------------------------------------------------------

std::int32_t TBaseAC::GetControllers(OleVariant&, OleVariant& OutData, std::int32_t Timeout,
                                     std::string& ErrText) {
  ErrText.clear();
  TCtrlParamsArray controllers;
  const std::int32_t code = DoGetControllers(Timeout, controllers, ErrText);
  if (code == 0) OutData = ControllerTable(controllers);
  return code;
}

std::int32_t TBaseAC::UploadTimeProfiles(OleVariant& InData, OleVariant&, std::int32_t Timeout,
                                         std::string& ErrText) {
  ErrText.clear();
  OleVariant e[3];
  if (!ReadElements(InData, e)) return kErrInvalidParams;
  if (!IsOrdinalValue(e[0]) || !IsArrayValue(e[1]) || !IsArrayValue(e[2])) return kErrInvalidParams;
  const std::int32_t loadMode = e[0].AsInteger();
  const TStringList ids = ToStrings(e[1]);
  return DoUploadTimeProfiles(ids, loadMode, e[2], Timeout, ErrText);
}

std::int32_t TBaseAC::UploadHolidays(OleVariant& InData, OleVariant&, std::int32_t Timeout,
                                     std::string& ErrText) {
  ErrText.clear();
  OleVariant e[3];
  if (!ReadElements(InData, e)) return kErrInvalidParams;
  const std::int32_t loadMode = e[0].AsInteger();
  const TStringList ids = ToStrings(e[1]);
  const TDateTimeArray dates = ToDateTimeArray(e[2]);
  return DoUploadHolidays(ids, loadMode, dates, Timeout, ErrText);
}

std::int32_t TBaseAC::UploadCards(OleVariant& InData, OleVariant&, std::int32_t Timeout,
                                  std::string& ErrText) {
  ErrText.clear();
  OleVariant e[3];
  if (!ReadElements(InData, e)) return kErrInvalidParams;
  if (!IsOrdinalValue(e[0]) || !IsArrayValue(e[1]) || !IsArrayValue(e[2])) return kErrInvalidParams;
  const std::int32_t loadMode = e[0].AsInteger();
  const TStringList ids = ToStrings(e[1]);
  return DoUploadCards(ids, loadMode, e[2], Timeout, ErrText);
}

std::int32_t TBaseAC::DeleteCards(OleVariant& InData, OleVariant&, std::int32_t Timeout,
                                  std::string& ErrText) {
  ErrText.clear();
  OleVariant e[2];
  if (!ReadElements(InData, e)) return kErrInvalidParams;
  if (!IsArrayValue(e[0]) || !IsArrayValue(e[1])) return kErrInvalidParams;
  const TStringList ids = ToStrings(e[0]);
  const TStringList cards = ToStrings(e[1]);
  return DoDeleteCards(ids, cards, Timeout, ErrText);
}

std::int32_t TBaseAC::SetMode(OleVariant& InData, OleVariant&, std::int32_t Timeout,
                              std::string& ErrText) {
  ErrText.clear();
  OleVariant e[2];
  if (!ReadElements(InData, e)) return kErrInvalidParams;
  const TStringList ids = ToStrings(e[0]);
  const std::int32_t mode = e[1].AsInteger();
  return DoSetMode(ids, mode, Timeout, ErrText);
}

std::int32_t TBaseAC::GetEvents(OleVariant& InData, OleVariant& OutData, std::int32_t Timeout,
                                std::string& ErrText) {
  ErrText.clear();
  OleVariant e[3];
  if (!ReadElements(InData, e)) return kErrInvalidParams;
  if (!IsArrayValue(e[0]) || !IsDateValue(e[1]) || !IsDateValue(e[2])) return kErrInvalidParams;
  const TStringList ids = ToStrings(e[0]);
  TCtrlEvents events;
  const std::int32_t code =
      DoGetEvents(ids, Timeout, e[1].Raw().date, e[2].Raw().date, events, ErrText);
  if (code == 0) OutData = EventTable(events);
  return code;
}

std::int32_t TBaseAC::DeleteEvents(OleVariant& InData, OleVariant&, std::int32_t Timeout,
                                   std::string& ErrText) {
  ErrText.clear();
  OleVariant e[3];
  if (!ReadElements(InData, e)) return kErrInvalidParams;
  if (!IsArrayValue(e[0]) || !IsDateValue(e[1]) || !IsDateValue(e[2])) return kErrInvalidParams;
  const TStringList ids = ToStrings(e[0]);
  return DoDeleteEvents(ids, Timeout, e[1].Raw().date, e[2].Raw().date, ErrText);
}

std::int32_t TBaseAC::GetStatus(OleVariant& InData, OleVariant& OutData, std::int32_t Timeout,
                                std::string& ErrText) {
  ErrText.clear();
  OleVariant e[1];
  if (!ReadElements(InData, e)) return kErrInvalidParams;
  if (!IsArrayValue(e[0])) return kErrInvalidParams;
  const TStringList ids = ToStrings(e[0]);
  OleVariant status;
  const std::int32_t code = DoGetStatus(ids, Timeout, status, ErrText);
  if (code == 0) OutData = WrapInArray(std::move(status));
  return code;
}

std::int32_t TBaseAC::GetDateTime(OleVariant&, OleVariant&, std::int32_t, std::string& ErrText) {
  ErrText.clear();
  return kErrNotSupported;
}

std::int32_t TBaseAC::SetDateTime(OleVariant& InData, OleVariant&, std::int32_t Timeout,
                                  std::string& ErrText) {
  ErrText.clear();
  OleVariant e[2];
  if (!ReadElements(InData, e)) return kErrInvalidParams;
  if (!IsArrayValue(e[0])) return kErrInvalidParams;
  // No date at all would set every clock to 30.12.1899: refused like any other bad input.
  if (e[1].Type() == VT_EMPTY) return kErrInvalidParams;
  const TStringList ids = ToStrings(e[0]);
  const TDateTime dateTime = e[1].AsDate();
  return DoSetDateTime(ids, Timeout, dateTime, ErrText);
}

// --- Inner operations ----------------------------------------------------------------------------

std::int32_t TBaseAC::DoGetControllers(std::int32_t, TCtrlParamsArray&, std::string& ErrText) {
  ErrText.clear();
  return kErrNotSupported;
}

std::int32_t TBaseAC::DoSetDateTime(const TStringList&, std::int32_t, TDateTime,
                                    std::string& ErrText) {
  ErrText.clear();
  return kErrNotSupported;
}

std::int32_t TBaseAC::DoSetMode(const TStringList&, std::int32_t, std::int32_t,
                                std::string& ErrText) {
  ErrText.clear();
  return kErrNotSupported;
}

std::int32_t TBaseAC::DoUploadTimeProfiles(const TStringList&, std::int32_t, const OleVariant&,
                                           std::int32_t, std::string& ErrText) {
  ErrText.clear();
  return kErrNotSupported;
}

std::int32_t TBaseAC::DoUploadHolidays(const TStringList&, std::int32_t,
                                       std::span<const TDateTime>, std::int32_t,
                                       std::string& ErrText) {
  ErrText.clear();
  return kErrNotSupported;
}

std::int32_t TBaseAC::DoUploadCards(const TStringList&, std::int32_t, const OleVariant&,
                                    std::int32_t, std::string& ErrText) {
  ErrText.clear();
  return kErrNotSupported;
}

std::int32_t TBaseAC::DoDeleteCards(const TStringList&, const TStringList&, std::int32_t,
                                    std::string& ErrText) {
  ErrText.clear();
  return kErrNotSupported;
}

std::int32_t TBaseAC::DoGetEvents(const TStringList&, std::int32_t, TDateTime, TDateTime,
                                  TCtrlEvents&, std::string& ErrText) {
  ErrText.clear();
  return kErrNotSupported;
}

std::int32_t TBaseAC::DoDeleteEvents(const TStringList&, std::int32_t, TDateTime, TDateTime,
                                     std::string& ErrText) {
  ErrText.clear();
  return kErrNotSupported;
}

std::int32_t TBaseAC::DoGetStatus(const TStringList&, std::int32_t, OleVariant&,
                                  std::string& ErrText) {
  ErrText.clear();
  return kErrNotSupported;
}
