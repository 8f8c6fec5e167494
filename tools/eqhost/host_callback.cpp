#include "tools/eqhost/host_callback.h"

#include <exception>
#include <memory>
#include <utility>

#include "platform/ole_variant.h"
#include "platform/text.h"

namespace eqhost {
namespace {

void SetBoolResult(VARIANT* result, bool value) {
  if (result == nullptr) return;
  VariantClear(result);
  result->vt = VT_BOOL;
  result->boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
}

// The text of an argument given by value or by reference; Empty reads as the empty text.
std::string ArgumentText(const VARIANT& arg) { return OleVariant::CopyInd(arg).AsString(); }

const std::optional<std::string> kUnset;

}  // namespace

ComPtr<HostCallback> HostCallback::Create(HostOptions options, EventSink sink) {
  auto object = std::make_unique<HostCallback>(std::move(options), std::move(sink));
  return ComPtr<HostCallback>(object.release());
}

HostCallback::HostCallback(HostOptions options, EventSink sink)
    : options_(std::move(options)), sink_(std::move(sink)) {}

HRESULT HostCallback::GetTypeInfoCount(UINT* count) {
  if (count == nullptr) return E_POINTER;
  *count = 0;
  return S_OK;
}

HRESULT HostCallback::GetTypeInfo(UINT, LCID, ITypeInfo**) { return E_NOTIMPL; }

HRESULT HostCallback::GetIDsOfNames(REFIID, LPOLESTR* names, UINT nameCount, LCID, DISPID* dispIds) {
  if (names == nullptr || dispIds == nullptr) return E_POINTER;
  if (nameCount == 0) return E_INVALIDARG;
  for (UINT i = 0; i < nameCount; ++i) dispIds[i] = DISPID_UNKNOWN;
  const std::string name = names[0] != nullptr ? Utf16ToUtf8(names[0]) : std::string();
  if (SameText(name, "DataEvent")) {
    dispIds[0] = kDataEvent;
  } else if (SameText(name, "ErrorEvent")) {
    dispIds[0] = kErrorEvent;
  } else if (SameText(name, "GetAppProperty")) {
    dispIds[0] = kGetAppProperty;
  } else {
    return DISP_E_UNKNOWNNAME;
  }
  return nameCount == 1 ? S_OK : DISP_E_UNKNOWNNAME;
}

HRESULT HostCallback::Invoke(DISPID dispId, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                             EXCEPINFO* excepInfo, UINT* argErr) {
  if ((flags & DISPATCH_METHOD) == 0) return DISP_E_MEMBERNOTFOUND;
  if (params == nullptr || (params->cArgs > 0 && params->rgvarg == nullptr)) return E_POINTER;
  if (params->cNamedArgs != 0) return DISP_E_NONAMEDARGS;
  const ComPtr<HostCallback> keepAlive(this);
  try {
    switch (dispId) {
      case kDataEvent: return Event("DataEvent", *params, result);
      case kErrorEvent: return Event("ErrorEvent", *params, result);
      case kGetAppProperty: return AppProperty(*params, result, argErr);
      default: return DISP_E_MEMBERNOTFOUND;
    }
  } catch (const std::exception& e) {
    if (excepInfo != nullptr) {
      ClearExcepInfo(excepInfo);
      excepInfo->scode = E_FAIL;
      excepInfo->bstrSource = BstrFromUtf8("eqhost");
      excepInfo->bstrDescription = BstrFromUtf8(e.what());
    }
    return DISP_E_EXCEPTION;
  }
}

HRESULT HostCallback::Event(const char* name, const DISPPARAMS& params, VARIANT* result) {
  if (params.cArgs != 4) return DISP_E_BADPARAMCOUNT;
  Json args = Json::array();
  for (UINT i = params.cArgs; i-- > 0;) args.push_back(VariantToJson(params.rgvarg[i], this));
  Json line = Json::object();
  line["event"] = name;
  line["args"] = std::move(args);
  if (sink_) sink_(line);
  SetBoolResult(result, true);
  return S_OK;
}

HRESULT HostCallback::AppProperty(const DISPPARAMS& params, VARIANT* result, UINT* argErr) {
  if (params.cArgs != 3) return DISP_E_BADPARAMCOUNT;
  VARIANT& out = params.rgvarg[0];
  const bool byRefText = out.vt == (VT_BYREF | VT_BSTR) && out.pbstrVal != nullptr;
  const bool byRefVariant = out.vt == (VT_BYREF | VT_VARIANT) && out.pvarVal != nullptr;
  if (!byRefText && !byRefVariant) {
    if (argErr != nullptr) *argErr = 0;
    return DISP_E_TYPEMISMATCH;
  }
  const std::optional<std::string>& value = Property(ArgumentText(params.rgvarg[1]));
  if (value) {
    BSTR text = BstrFromUtf8(*value);
    if (byRefText) {
      SysFreeString(*out.pbstrVal);
      *out.pbstrVal = text;
    } else {
      VariantClear(out.pvarVal);
      out.pvarVal->vt = VT_BSTR;
      out.pvarVal->bstrVal = text;
    }
  }
  SetBoolResult(result, value.has_value());
  return S_OK;
}

const std::optional<std::string>& HostCallback::Property(const std::string& name) const {
  if (SameText(name, "DevicesFolder")) return options_.devicesFolder;
  if (SameText(name, "ModelsFolder")) return options_.modelsFolder;
  if (SameText(name, "Language")) return options_.language;
  return kUnset;
}

}  // namespace eqhost
