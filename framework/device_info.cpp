#include "framework/device_info.h"

namespace {

#define RES(id, name, text) constexpr std::string_view name = text;
#include "resources/strings/device_info.def"
#undef RES

std::string ContactLine(std::string_view label, const std::string& value) {
  return std::string(label) + ":\t" + value + "\r\n";
}

}  // namespace

void SetDeveloperContacts(TDeviceInfoStruct& Info) {
  Info.Developer = SDeveloperCompany;
  Info.EMail = SDeveloperEMail;
  Info.WebAddress = SDeveloperWeb;
  Info.Phone = SDeveloperPhones;
  Info.Address = SDeveloperAddress;
}

std::string FormatVersion(const TDeviceInfoStruct& Info) {
  return std::to_string(Info.VerMajor) + "." + std::to_string(Info.VerMinor) + "." +
         std::to_string(Info.VerBuild);
}

std::string FormatContactInfo(const TDeviceInfoStruct& Info) {
  return ContactLine(SContactEMail, Info.EMail) + ContactLine(SContactWeb, Info.WebAddress) +
         ContactLine(SContactPhone, Info.Phone) + ContactLine(SContactAddress, Info.Address);
}

OleVariant DeviceInfoToVariant(const TDeviceInfoStruct& Info) {
  const OleVariant values[15] = {
      OleVariant(Info.EquipmentType), OleVariant(Info.DriverID),    OleVariant(Info.DriverName),
      OleVariant(Info.VerMajor),      OleVariant(Info.VerMinor),    OleVariant(Info.VerBuild),
      OleVariant(Info.ProgID),        OleVariant(Info.Revision),    OleVariant(Info.HasSettingsDialog != 0),
      OleVariant(Info.Description),   OleVariant(Info.Developer),   OleVariant(Info.EMail),
      OleVariant(Info.WebAddress),    OleVariant(Info.Phone),       OleVariant(Info.Address)};
  OleVariant array = OleVariant::VarArrayCreate({{0, 14}});
  for (LONG i = 0; i < 15; ++i) array.PutElement({i}, values[i]);
  return array;
}
