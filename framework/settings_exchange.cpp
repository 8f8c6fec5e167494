// TBaseDevice: the settings exchange with the host, lookup for the dialogs, and the backup.
#include "framework/base_device.h"

#include "framework/equipment_errors.h"

namespace {

#define RES(id, name, text) constexpr std::string_view name = text;
#include "resources/strings/base_device.def"
#undef RES

}  // namespace

void TBaseDevice::AddSettings() {
  AddSetting("DefaultTimeOut", stNumber, OleVariant(std::int32_t{120}), false,
             SDefaultTimeOutCaption, SDefaultTimeOutDescription);
  AddSetting("EventLogEnabled", stBoolean, OleVariant(false), false, SEventLogEnabledCaption,
             SEventLogEnabledDescription);
  AddSetting("DebugLogEnabled", stBoolean, OleVariant(false), false, SDebugLogEnabledCaption,
             SDebugLogEnabledDescription);
}

TSettingStruct* TBaseDevice::FindSetting(std::string_view Name) {
  const int index = FindSettingIndex(Name);
  return index >= 0 ? &FSettings[index] : nullptr;
}

TSettingStruct* TBaseDevice::GetSetting(int Index) {
  if (Index < 0 || Index >= GetSettingsCount()) return nullptr;
  return &FSettings[Index];
}

std::int32_t TBaseDevice::GetSettings(OleVariant&, OleVariant& OutData, std::int32_t,
                                      std::string& ErrText) {
  ErrText.clear();
  const LONG count = static_cast<LONG>(FSettings.size());
  OleVariant table = OleVariant::VarArrayCreate({{0, 6}, {0, count - 1}});
  for (LONG i = 0; i < count; ++i) {
    const TSettingStruct& s = FSettings[i];
    table.PutElement({0, i}, OleVariant(s.Name));
    table.PutElement({1, i}, s.Value);
    table.PutElement({2, i}, OleVariant(SettingTypeName(s.SettingType)));
    table.PutElement({3, i}, s.DefaultValue);
    table.PutElement({4, i}, OleVariant(s.Flag));
    table.PutElement({5, i}, OleVariant(s.Caption));
    table.PutElement({6, i}, OleVariant(s.Description));
  }
  OutData = WrapInArray(std::move(table));
  return 0;
}

std::int32_t TBaseDevice::SetSettings(OleVariant& InData, OleVariant&, std::int32_t,
                                      std::string& ErrText) {
  ErrText.clear();
  if (!InData.IsArray()) return kErrInvalidParams;
  const OleVariant table = InData.GetElement({0});
  const LONG low = table.LowBound(2);
  const LONG high = table.HighBound(2);
  for (LONG j = low; j <= high; ++j) {
    const std::string name = ShortString(table.GetElement({0, j}).AsString());
    if (TSettingStruct* setting = FindSetting(name)) {
      // A dereferenced copy: never a reference into the host's memory.
      setting->Value = OleVariant::CopyInd(table.GetElement({1, j}).Raw());
    }
  }
  SettingsChanged();
  return 0;
}

void TBaseDevice::BackupSettings() {
  FSettingsBackup.clear();
  FSettingsBackup.reserve(FSettings.size());
  for (const TSettingStruct& setting : FSettings) {
    FSettingsBackup.push_back({setting.Name, setting.Value});
  }
}

void TBaseDevice::RestoreSettings() {
  for (const TShortSettingStruct& saved : FSettingsBackup) {
    if (TSettingStruct* setting = FindSetting(saved.Name)) setting->Value = saved.Value;
  }
  FSettingsBackup.clear();
}
