// TBaseDevice: the base class of every device driver object. It implements the host-facing side
// of the device life cycle (Init, Open, Close, Enable, Disable, ShowSettingsDlg, GetDeviceInfo,
// GetSettings, SetSettings, CheckHealth), the settings exchange and backup, the About data, the
// calls to the host's callback object, and leaves the equipment work to virtual hooks.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "framework/com_support.h"
#include "framework/device_info.h"
#include "framework/tavo2_lib.h"
#include "platform/ole_variant.h"
#include "platform/reactor.h"

// A message for the device's hidden window.
struct TMessage {
  UINT Msg = 0;
  WPARAM WParam = 0;
  LPARAM LParam = 0;
  LRESULT Result = 0;
};

class TBaseDevice : public TBaseObject {
 public:
  // --- Host methods -----------------------------------------------------------------------------
  // Procedure kind: the whole argument array and the method's value.
  void Init(SAFEARRAY* Params, OleVariant& Result);
  void Open(SAFEARRAY* Params, OleVariant& Result);
  void Close(SAFEARRAY* Params, OleVariant& Result);
  // Function kind: InData, OutData, Timeout, error text; answer the error code.
  std::int32_t ShowSettingsDlg(OleVariant& InData, OleVariant& OutData, std::int32_t Timeout,
                               std::string& ErrText);
  std::int32_t GetDeviceInfo(OleVariant& InData, OleVariant& OutData, std::int32_t Timeout,
                             std::string& ErrText);
  virtual std::int32_t Enable(OleVariant& InData, OleVariant& OutData, std::int32_t Timeout,
                              std::string& ErrText);
  virtual std::int32_t Disable(OleVariant& InData, OleVariant& OutData, std::int32_t Timeout,
                               std::string& ErrText);
  std::int32_t GetSettings(OleVariant& InData, OleVariant& OutData, std::int32_t Timeout,
                           std::string& ErrText);
  std::int32_t SetSettings(OleVariant& InData, OleVariant& OutData, std::int32_t Timeout,
                           std::string& ErrText);
  std::int32_t CheckHealth(OleVariant& InData, OleVariant& OutData, std::int32_t Timeout,
                           std::string& ErrText);

  // --- Device test of the settings dialog -------------------------------------------------------
  // Connects: the log switch and folder, then DeviceConnect; a failure without text gets the
  // table's text.
  virtual std::int32_t DoEnable(std::string& ErrText);
  // DoDisable with a text of its own that is thrown away.
  virtual std::int32_t DisableQuiet();
  // Base: "not supported", False.
  virtual bool DeviceTest(std::string& ErrText);

  // --- Settings for the dialogs and the driver --------------------------------------------------
  TSettingStruct* FindSetting(std::string_view Name);
  TSettingStruct* GetSetting(int Index);  // nullptr outside 0..count-1
  int GetSettingsCount() const noexcept { return static_cast<int>(FSettings.size()); }
  void BackupSettings();
  void RestoreSettings();
  const TShortSettingArray& SettingsBackup() const noexcept { return FSettingsBackup; }

  // --- About data -------------------------------------------------------------------------------
  void SetDefaultDeviceInfo();
  const TDeviceInfoStruct& DeviceInfo() const noexcept { return FDeviceInfo; }

  // --- Host callbacks (raise "Менеджер оборудования недоступен" without a host object) ----------
  bool DataEvent(std::string_view First, std::string_view Second, const OleVariant& Data);
  bool ErrorEvent(std::string_view First, std::string_view Second, const OleVariant& Data);
  void GetAppProperty(std::string_view Name, std::string& Value);
  std::string GetDevicesFolder();  // host folder, device identifier, '/'; or empty
  std::string GetModelsFolder();   // host folder, DriverID, '/'; or empty
  std::string GetLanguage();

  // --- State --------------------------------------------------------------------------------------
  const std::string& DeviceID() const noexcept { return FDeviceID; }
  const OleVariant& Host() const noexcept { return FHost; }
  const std::string& DevicesFolder() const noexcept { return FDevicesFolder; }
  const std::string& ModelsFolder() const noexcept { return FModelsFolder; }
  const std::string& Language() const noexcept { return FLanguage; }
  HWND Wnd() const noexcept { return FWnd; }

 protected:
  void Initialize() override;
  void WriteDebugLogHeader() override;
  // Disables quietly, destroys the window, runs DoFinalize and lets the host object go.
  void BeforeDestruction() noexcept final;

  // --- Hooks ----------------------------------------------------------------------------------------
  virtual std::int32_t DoDisable(std::string& ErrText);
  virtual void AddSettings();      // the framework's settings; overrides call this first
  virtual void RegisterMethods();  // DispIDs 10 to 19; overrides call this first
  virtual void SettingsChanged() {}
  virtual void FillDeviceInfo() {}
  virtual std::int32_t DeviceConnect(std::string& ErrText);
  virtual std::int32_t DeviceDisconnect(std::string& ErrText);
  virtual std::int32_t DoCheckHealth(std::string& ErrText);
  virtual bool ShowSettingsDialog() { return false; }
  virtual void DoCreate() {}
  virtual void DoFinalize() {}
  virtual std::int32_t DoInit(std::string& ErrText);
  virtual std::int32_t DoOpen(std::string& ErrText);
  virtual void AfterClose() {}
  virtual void BeforeClose() {}
  virtual void WndProc(TMessage& Message);

  TShortSettingArray FSettingsBackup;
  OleVariant FHost;
  std::string FDeviceID;  // at most 255 characters
  TDeviceInfoStruct FDeviceInfo;
  std::string FDevicesFolder;
  std::string FModelsFolder;
  std::string FLanguage;
  HWND FWnd = nullptr;

 private:
  // GetDeviceInfo's array, rebuilt only when the About data has changed since.
  OleVariant FDeviceInfoArray;
  TDeviceInfoStruct FDeviceInfoArraySource;
  bool FDeviceInfoArrayValid = false;

  bool CallHostEvent(std::string_view Method, std::string_view First, std::string_view Second,
                     const OleVariant& Data);
  ComPtr<IDispatch> HostDispatch() const;
};
