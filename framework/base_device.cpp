#include "framework/base_device.h"

#include <filesystem>
#include <system_error>

#include "framework/equipment_errors.h"

namespace {

// Creates the folder with its parents; a folder that cannot be made leaves the log beside the
// module, as for any missing log folder.
void CreateFolder(const std::string& folder) {
  if (folder.empty()) return;
  std::error_code ignored;
  std::filesystem::create_directories(folder, ignored);
}

void PutResultText(SAFEARRAY* Params, std::int32_t code, const std::string& text) {
  SafeArrayPutVariant(Params, 1, OleVariant(ErrorText(code, text)).Raw());
}

}  // namespace

// --- Creation and destruction --------------------------------------------------------------------

void TBaseDevice::Initialize() {
  TBaseObject::Initialize();
  SetDebugLogEnabled(false);
  SetDefaultDeviceInfo();
  RegisterMethods();
  AddSettings();
  FHost.Clear();
  FDeviceID.clear();
  FLogPath.clear();
  DoCreate();
  FWnd = AllocateHWnd([this](HWND, UINT msg, WPARAM wParam, LPARAM lParam) -> LRESULT {
    TMessage message{msg, wParam, lParam, 0};
    try {
      WndProc(message);
    } catch (...) {
      // Nothing leaves a window procedure.
    }
    return message.Result;
  });
}

void TBaseDevice::BeforeDestruction() noexcept {
  try {
    DisableQuiet();
  } catch (...) {
  }
  try {
    DeallocateHWnd(FWnd);
  } catch (...) {
  }
  FWnd = nullptr;
  try {
    DoFinalize();
  } catch (...) {
  }
  FHost.Clear();
}

void TBaseDevice::RegisterMethods() {
  FMethods.clear();
  FMethods.resize(10);
  AddProcedure("Init", BindProcedure(this, &TBaseDevice::Init));
  AddProcedure("Open", BindProcedure(this, &TBaseDevice::Open));
  AddProcedure("Close", BindProcedure(this, &TBaseDevice::Close));
  AddFunction("ShowSettingsDlg", BindFunction(this, &TBaseDevice::ShowSettingsDlg));
  AddFunction("GetDeviceInfo", BindFunction(this, &TBaseDevice::GetDeviceInfo));
  AddFunction("Enable", BindFunction(this, &TBaseDevice::Enable));
  AddFunction("Disable", BindFunction(this, &TBaseDevice::Disable));
  AddFunction("GetSettings", BindFunction(this, &TBaseDevice::GetSettings));
  AddFunction("SetSettings", BindFunction(this, &TBaseDevice::SetSettings));
  AddFunction("CheckHealth", BindFunction(this, &TBaseDevice::CheckHealth));
}

void TBaseDevice::SetDefaultDeviceInfo() {
  WORD words[4] = {};
  GetFileVersionWords("", words);
  FDeviceInfo = TDeviceInfoStruct{};
  FDeviceInfo.EquipmentType = "Unknown";
  FDeviceInfo.VerMajor = words[0];
  FDeviceInfo.VerMinor = words[1];
  FDeviceInfo.VerBuild = words[3];
  FDeviceInfo.Revision = 1;
  FDeviceInfo.HasSettingsDialog = 0;
  SetDeveloperContacts(FDeviceInfo);
  FillDeviceInfo();
}

// --- Host lifecycle ------------------------------------------------------------------------------

void TBaseDevice::Init(SAFEARRAY* Params, OleVariant& Result) {
  FHost.Clear();
  std::int32_t code = kErrInvalidParams;
  std::string text;
  OleVariant host;
  SafeArrayGetElements(Params, {&host});
  if (host.Type() == VT_DISPATCH) {
    FHost = std::move(host);
    code = DoInit(text);
  }
  Result = OleVariant(code == 0);
  PutResultText(Params, code, text);
  if (code == 0) {
    FModelsFolder = GetModelsFolder();
    FLanguage = GetLanguage();
  }
}

void TBaseDevice::Open(SAFEARRAY* Params, OleVariant& Result) {
  FDeviceID.clear();
  std::int32_t code = kErrInvalidParams;
  std::string text;
  OleVariant id;
  SafeArrayGetElements(Params, {&id});
  if (id.Type() == VT_BSTR) {
    FDeviceID = ShortString(id.AsString());
    FDevicesFolder = GetDevicesFolder();
    code = DoOpen(text);
  }
  Result = OleVariant(code == 0);
  PutResultText(Params, code, text);
}

void TBaseDevice::Close(SAFEARRAY*, OleVariant& Result) {
  BeforeClose();
  FDeviceID.clear();
  FHost.Clear();
  AfterClose();
  Result = OleVariant(true);
}

std::int32_t TBaseDevice::ShowSettingsDlg(OleVariant&, OleVariant&, std::int32_t,
                                          std::string& ErrText) {
  ErrText.clear();
  if (FDeviceInfo.HasSettingsDialog == 0) return kErrNotSupported;
  return ShowSettingsDialog() ? 0 : kErrCancelledByUser;
}

std::int32_t TBaseDevice::GetDeviceInfo(OleVariant&, OleVariant& OutData, std::int32_t,
                                        std::string& ErrText) {
  ErrText.clear();
  if (!FDeviceInfoArrayValid || !(FDeviceInfoArraySource == FDeviceInfo)) {
    FDeviceInfoArray = DeviceInfoToVariant(FDeviceInfo);
    FDeviceInfoArraySource = FDeviceInfo;
    FDeviceInfoArrayValid = true;
  }
  OutData = FDeviceInfoArray;
  return 0;
}

std::int32_t TBaseDevice::CheckHealth(OleVariant&, OleVariant&, std::int32_t,
                                      std::string& ErrText) {
  ErrText.clear();
  return DoCheckHealth(ErrText);
}

std::int32_t TBaseDevice::Enable(OleVariant&, OleVariant&, std::int32_t, std::string& ErrText) {
  ErrText.clear();
  return DoEnable(ErrText);
}

std::int32_t TBaseDevice::Disable(OleVariant&, OleVariant&, std::int32_t, std::string& ErrText) {
  ErrText.clear();
  return DoDisable(ErrText);
}

std::int32_t TBaseDevice::DoEnable(std::string& ErrText) {
  ErrText.clear();
  FLogPath = FDevicesFolder;
  const bool logOn = GetSettingAsBoolean("DebugLogEnabled");
  // The header is the first thing written: the device's folder must be there for it, or it would
  // land beside the module while the rest of the log goes to the device's folder.
  if (logOn) CreateFolder(FLogPath);
  SetDebugLogEnabled(logOn);
  ErrText.clear();
  const std::int32_t code = DeviceConnect(ErrText);
  if (code != 0 && ErrText.empty()) ErrText = GetErrorDescription(code);
  return code;
}

std::int32_t TBaseDevice::DoDisable(std::string& ErrText) {
  ErrText.clear();
  const std::int32_t code = DeviceDisconnect(ErrText);
  SetDebugLogEnabled(false);
  return code;
}

std::int32_t TBaseDevice::DisableQuiet() {
  std::string ignored;
  return DoDisable(ignored);
}

// --- Hooks ---------------------------------------------------------------------------------------

std::int32_t TBaseDevice::DeviceConnect(std::string& ErrText) {
  ErrText.clear();
  return 0;
}

std::int32_t TBaseDevice::DeviceDisconnect(std::string& ErrText) {
  ErrText.clear();
  return 0;
}

std::int32_t TBaseDevice::DoCheckHealth(std::string& ErrText) {
  ErrText.clear();
  return 0;
}

std::int32_t TBaseDevice::DoInit(std::string& ErrText) {
  ErrText.clear();
  return 0;
}

std::int32_t TBaseDevice::DoOpen(std::string& ErrText) {
  ErrText.clear();
  return 0;
}

bool TBaseDevice::DeviceTest(std::string& ErrText) {
  ErrText = ErrorText(kErrNotSupported);
  return false;
}

void TBaseDevice::WndProc(TMessage&) {}

// --- Debug-log header ----------------------------------------------------------------------------

void TBaseDevice::WriteDebugLogHeader() {
  WriteDebugLog(std::string(40, ' '), "", true);
  WriteDebugLog("============Begin debug log=============", "", true);
  WORD words[4] = {};
  GetFileVersionWords("", words);
  WriteDebugLog("driver ver.", std::to_string(words[0]) + "." + std::to_string(words[1]) + "." +
                                   std::to_string(words[3]));
  WriteDebugLog("device ID", FDeviceID);
  WriteDebugLog("----------------Settings----------------", "", true);
  for (const TSettingStruct& setting : FSettings) {
    WriteDebugLog(setting.Name, VarToLogText(setting.Value.Raw()));
  }
  WriteDebugLog("----------------------------------------", "", true);
}
