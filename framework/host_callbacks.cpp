// TBaseDevice: calls to the host's callback object and the host properties.
#include "framework/base_device.h"

#include "framework/equipment_errors.h"
#include "platform/dispatch_call.h"
#include "platform/exceptions.h"
#include "platform/text.h"

namespace {

// A BSTR variable that the host may replace through a reference; freed at scope end.
class BstrVariable {
 public:
  BstrVariable() : value_(BstrFromUtf8("")) {}
  ~BstrVariable() { SysFreeString(value_); }
  BstrVariable(const BstrVariable&) = delete;
  BstrVariable& operator=(const BstrVariable&) = delete;
  VARIANT Reference() {
    VARIANT ref;
    VariantInit(&ref);
    ref.vt = VT_BSTR | VT_BYREF;
    ref.pbstrVal = &value_;
    return ref;
  }
  std::string Text() const { return BstrToUtf8(value_); }

 private:
  BSTR value_;
};

std::string FolderWithSlash(std::string folder) {
  if (folder.back() != '/') folder += '/';
  return folder;
}

}  // namespace

ComPtr<IDispatch> TBaseDevice::HostDispatch() const {
  IDispatch* host = FHost.Type() == VT_DISPATCH ? FHost.Raw().pdispVal : nullptr;
  if (host == nullptr) throw Exception(HostUnavailableText());
  return ComPtr<IDispatch>(host);  // held for the call: the host may Close us meanwhile
}

bool TBaseDevice::CallHostEvent(std::string_view Method, std::string_view First,
                                std::string_view Second, const OleVariant& Data) {
  const ComPtr<IDispatch> host = HostDispatch();
  const OleVariant id(FDeviceID), first(First), second(Second);
  // The host gets a reference to a copy: what it writes there is discarded.
  OleVariant data = OleVariant::CopyInd(Data.Raw());
  VARIANT dataRef;
  VariantInit(&dataRef);
  dataRef.vt = VT_VARIANT | VT_BYREF;
  dataRef.pvarVal = &data.Raw();
  const VARIANT args[] = {id.Raw(), first.Raw(), second.Raw(), dataRef};
  return DispatchMethod(host.Get(), Method, args).AsBoolean();
}

bool TBaseDevice::DataEvent(std::string_view First, std::string_view Second,
                            const OleVariant& Data) {
  return CallHostEvent("DataEvent", First, Second, Data);
}

bool TBaseDevice::ErrorEvent(std::string_view First, std::string_view Second,
                             const OleVariant& Data) {
  return CallHostEvent("ErrorEvent", First, Second, Data);
}

void TBaseDevice::GetAppProperty(std::string_view Name, std::string& Value) {
  Value.clear();
  const ComPtr<IDispatch> host = HostDispatch();
  const OleVariant id(FDeviceID), name(Name);
  BstrVariable value;
  const VARIANT args[] = {id.Raw(), name.Raw(), value.Reference()};
  if (DispatchMethod(host.Get(), "GetAppProperty", args).AsBoolean()) Value = value.Text();
}

std::string TBaseDevice::GetDevicesFolder() {
  std::string folder;
  GetAppProperty("DevicesFolder", folder);
  if (folder.empty() || FDeviceID.empty()) return {};
  return FolderWithSlash(folder) + FDeviceID + "/";
}

std::string TBaseDevice::GetModelsFolder() {
  std::string folder;
  GetAppProperty("ModelsFolder", folder);
  if (folder.empty()) return {};
  return FolderWithSlash(folder) + FDeviceInfo.DriverID + "/";
}

std::string TBaseDevice::GetLanguage() {
  std::string language;
  GetAppProperty("Language", language);
  return language;
}
