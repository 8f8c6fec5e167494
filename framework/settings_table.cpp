// The settings table of TBaseObject: registration and access by name.
#include "framework/com_support.h"

int TBaseObject::FindSettingIndex(std::string_view Name) const {
  for (std::size_t i = 0; i < FSettings.size(); ++i) {
    if (SameName(Name, FSettings[i].Name)) return static_cast<int>(i);
  }
  return -1;
}

void TBaseObject::AddSetting(std::string_view Name, std::uint8_t SettingType,
                             const OleVariant& Value, bool Flag, std::string_view Caption,
                             std::string_view Description) {
  const OleVariant value = OleVariant::CopyInd(Value.Raw());
  const int index = FindSettingIndex(Name);
  if (index >= 0) {
    TSettingStruct& setting = FSettings[index];
    setting.Value = value;
    setting.DefaultValue = value;
    setting.Flag = Flag;
    setting.Description = std::string(Description);
    return;
  }
  TSettingStruct setting;
  setting.Name = ShortString(Name);
  setting.Value = value;
  setting.SettingType = SettingType;
  setting.DefaultValue = value;
  setting.Flag = Flag;
  setting.Caption = ShortString(Caption);
  setting.Description = std::string(Description);
  FSettings.push_back(std::move(setting));
}

OleVariant TBaseObject::GetSettingValue(std::string_view Name) const {
  const int index = FindSettingIndex(Name);
  return index >= 0 ? FSettings[index].Value : OleVariant();
}

bool TBaseObject::GetSettingAsBoolean(std::string_view Name) const {
  return GetSettingValue(Name).AsBoolean();
}

std::int32_t TBaseObject::GetSettingAsInteger(std::string_view Name) const {
  return GetSettingValue(Name).AsInteger();
}

std::string TBaseObject::GetSettingAsString(std::string_view Name) const {
  return GetSettingValue(Name).AsString();
}

void TBaseObject::SetSettingValue(std::string_view Name, const OleVariant& Value) {
  const int index = FindSettingIndex(Name);
  if (index >= 0) FSettings[index].Value = OleVariant::CopyInd(Value.Raw());
}

void TBaseObject::ResetSettingsToDefaults() {
  for (TSettingStruct& setting : FSettings) setting.Value = setting.DefaultValue;
}
