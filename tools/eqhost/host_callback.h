// The host program's callback object: what the host application hands to a driver's Init. The
// driver calls it late-bound by name:
//   DataEvent(device id, first text, second text, data by reference) -> Boolean
//   ErrorEvent(the same four) -> Boolean
//   GetAppProperty(device id, property name, value: BSTR by reference) -> Boolean
// Every DataEvent and ErrorEvent is handed to the event sink as {"event": NAME, "args": [...]} at
// once, and answered True. GetAppProperty answers DevicesFolder, ModelsFolder and Language from the
// options: True with the value when the option is set, False (value untouched) when it is not.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "platform/com.h"
#include "platform/com_object.h"
#include "platform/oleauto.h"
#include "tools/eqhost/json_variant.h"

namespace eqhost {

struct HostOptions {
  std::optional<std::string> devicesFolder;
  std::optional<std::string> modelsFolder;
  std::optional<std::string> language;
};

using EventSink = std::function<void(const Json& line)>;

class HostCallback final : public ComObject<IDispatch> {
 public:
  static constexpr DISPID kDataEvent = 1;
  static constexpr DISPID kErrorEvent = 2;
  static constexpr DISPID kGetAppProperty = 3;

  // The object with one reference held by the answer.
  static ComPtr<HostCallback> Create(HostOptions options, EventSink sink);

  HostCallback(HostOptions options, EventSink sink);

  HRESULT GetTypeInfoCount(UINT* count) override;
  HRESULT GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
  // Names without regard to case; an unknown name gives DISPID_UNKNOWN and DISP_E_UNKNOWNNAME.
  HRESULT GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT nameCount, LCID lcid, DISPID* dispIds) override;
  // DISPATCH_METHOD only; positional arguments only, exactly as many as the method takes.
  HRESULT Invoke(DISPID dispId, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                 EXCEPINFO* excepInfo, UINT* argErr) override;

 private:
  HRESULT Event(const char* name, const DISPPARAMS& params, VARIANT* result);
  HRESULT AppProperty(const DISPPARAMS& params, VARIANT* result, UINT* argErr);
  const std::optional<std::string>& Property(const std::string& name) const;

  HostOptions options_;
  EventSink sink_;
};

}  // namespace eqhost
