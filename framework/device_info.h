// The About data of a driver: what it drives, its identity and version, and the developer's
// contact data; the host reads it with GetDeviceInfo, the settings dialog shows it.
#pragma once

#include <cstdint>
#include <string>

#include "platform/ole_variant.h"

struct TDeviceInfoStruct {
  std::string EquipmentType;  // one of the framework's equipment kind identifiers
  std::string DriverID;       // also the driver's folder name under the host's models folder
  std::string DriverName;
  std::int32_t VerMajor = 0;
  std::int32_t VerMinor = 0;
  std::int32_t VerBuild = 0;
  std::string ProgID;
  std::int32_t Revision = 1;
  std::int16_t HasSettingsDialog = 0;  // 0 False, any other value True
  std::string Description;
  std::string Developer;
  std::string EMail;
  std::string WebAddress;
  std::string Phone;
  std::string Address;

  friend bool operator==(const TDeviceInfoStruct&, const TDeviceInfoStruct&) = default;
};

// The developer's contact data (Developer, EMail, WebAddress, Phone, Address).
void SetDeveloperContacts(TDeviceInfoStruct& Info);
// "major.minor.build".
std::string FormatVersion(const TDeviceInfoStruct& Info);
// Four lines "label:\tvalue\r\n": e-mail, web, telephones, address.
std::string FormatContactInfo(const TDeviceInfoStruct& Info);
// The fifteen values in field order, as the one-dimensional variant array [0..14] of GetDeviceInfo.
OleVariant DeviceInfoToVariant(const TDeviceInfoStruct& Info);
