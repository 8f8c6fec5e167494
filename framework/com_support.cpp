#include "framework/com_support.h"

#include <atomic>
#include <string>

#include "framework/equipment_errors.h"
#include "platform/exceptions.h"
#include "platform/text.h"

namespace {

std::atomic<long> liveObjects{0};

// DispIDs at or above this limit are refused outright.
constexpr DISPID kDispIdLimit = 100000;

// The argument array of one call: a vector of VARIANT with lower bound 0, destroyed at scope end.
class ArgumentArray {
 public:
  explicit ArgumentArray(UINT count) : psa_(SafeArrayCreateVector(VT_VARIANT, 0, count)) {
    if (psa_ == nullptr) throw EOutOfMemoryArguments();
  }
  ~ArgumentArray() { SafeArrayDestroy(psa_); }
  ArgumentArray(const ArgumentArray&) = delete;
  ArgumentArray& operator=(const ArgumentArray&) = delete;
  SAFEARRAY* get() const { return psa_; }

 private:
  static Exception EOutOfMemoryArguments() { return Exception(ErrorText(kErrUnknown)); }
  SAFEARRAY* psa_;
};

VARIANT* ElementPtr(SAFEARRAY* Args, LONG index) {
  void* element = nullptr;
  if (FAILED(SafeArrayPtrOfIndex(Args, &index, &element))) return nullptr;
  return static_cast<VARIANT*>(element);
}

// A view of the argument array as a variant array, for the log; owns nothing.
VARIANT ArrayView(SAFEARRAY* Args) {
  VARIANT view;
  VariantInit(&view);
  view.vt = VT_ARRAY | VT_VARIANT;
  view.parray = Args;
  return view;
}

// Moves value into a host argument: by-value destinations take the content itself, typed
// by-reference destinations are written through AssignToByRefVariant.
void MoveToHostArgument(VARIANT& hostArg, VARIANT& value) {
  VARIANT* dest = FollowVariantLinks(hostArg);
  if (dest == nullptr) return;
  if ((dest->vt & VT_BYREF) == 0) {
    VariantClear(dest);
    *dest = value;
    VariantInit(&value);
    return;
  }
  AssignToByRefVariant(*dest, value);
}

}  // namespace

// --- TComObject ----------------------------------------------------------------------------------

TComObject::TComObject() : ComObject(1) { ++liveObjects; }  // the creator's reference

TComObject::~TComObject() { --liveObjects; }

long TComObject::ObjectCount() noexcept { return liveObjects.load(); }

HRESULT TComObject::InterfaceSupportsErrorInfo(REFIID riid) {
  return (riid == IID_IUnknown || riid == IID_IDispatch || riid == IID_ISupportErrorInfo) ? S_OK
                                                                                           : S_FALSE;
}

void TComObject::InitializeObject() {
  if (initialized_) return;
  Initialize();
  initialized_ = true;
}

void TComObject::LastReleased() noexcept {
  // References taken and dropped by the teardown (a host callback, say) must not free us twice.
  SetRefCount(1);
  if (initialized_) BeforeDestruction();
  std::unique_ptr<TComObject> self(this);
}

// --- TBaseObject: dispatch -----------------------------------------------------------------------

void TBaseObject::Initialize() {
  TComObject::Initialize();
  FInstanceID = GuidToString(CreateGuid());
}

std::string TBaseObject::GetErrorDescription(std::int32_t Code) const { return ErrorText(Code); }

void TBaseObject::AddProcedure(std::string_view Name, TProcedureHandler Handler) {
  TMethodRec method;
  method.Name = ShortString(Name);
  method.IsFunction = false;
  method.Procedure = std::move(Handler);
  FMethods.push_back(std::move(method));
}

void TBaseObject::AddFunction(std::string_view Name, TFunctionHandler Handler) {
  TMethodRec method;
  method.Name = ShortString(Name);
  method.IsFunction = true;
  method.Function = std::move(Handler);
  FMethods.push_back(std::move(method));
}

HRESULT TBaseObject::GetTypeInfoCount(UINT* count) {
  if (count == nullptr) return E_POINTER;
  *count = 0;
  return S_OK;
}

HRESULT TBaseObject::GetTypeInfo(UINT, LCID, ITypeInfo**) { return E_NOTIMPL; }

HRESULT TBaseObject::GetIDsOfNames(REFIID, LPOLESTR* names, UINT nameCount, LCID,
                                   DISPID* dispIds) {
  if (names == nullptr || dispIds == nullptr) return E_POINTER;
  if (nameCount == 0) return E_INVALIDARG;
  if (names[0] == nullptr) return E_POINTER;
  try {
    const std::string name = Utf16ToUtf8(names[0]);
    dispIds[0] = DISPID_UNKNOWN;
    for (std::size_t i = 0; i < FMethods.size(); ++i) {
      if (SameName(name, FMethods[i].Name)) {
        dispIds[0] = static_cast<DISPID>(i);
        return S_OK;
      }
    }
    return E_NOTIMPL;
  } catch (...) {
    return E_OUTOFMEMORY;
  }
}

HRESULT TBaseObject::Invoke(DISPID dispId, REFIID, LCID, WORD flags, DISPPARAMS* params,
                            VARIANT* result, EXCEPINFO* excepInfo, UINT*) {
  if (dispId >= kDispIdLimit || (flags & DISPATCH_METHOD) == 0) return E_FAIL;
  // Placeholders and DispIDs outside the table name no method.
  if (dispId < 0 || static_cast<std::size_t>(dispId) >= FMethods.size() ||
      !FMethods[dispId].HasHandler()) {
    return E_FAIL;
  }
  if (GetParamCount(params) > 0 && params->rgvarg == nullptr) return E_POINTER;
  // A host that releases us from inside a callback must not free us under this call.
  ComPtr<TBaseObject> keepAlive(this);
  try {
    return InvokeMethod(dispId, params, result);
  } catch (const std::exception& e) {
    return AnswerException(&e, excepInfo);
  } catch (...) {
    return AnswerException(nullptr, excepInfo);
  }
}

HRESULT TBaseObject::InvokeMethod(DISPID dispId, DISPPARAMS* params, VARIANT* result) {
  ArgumentArray args(GetParamCount(params));
  ParamsToSafeArray(params, args.get());
  OleVariant value;
  HRESULT hr = CallMethod(dispId, value, args.get());
  if (hr == S_OK) {
    SafeArrayToParams(args.get(), params);
    SetInvokeResult(result, value);
  }
  return hr;
}

HRESULT TBaseObject::AnswerException(const std::exception* error, EXCEPINFO* excepInfo) noexcept {
  if (excepInfo != nullptr) excepInfo->scode = kErrUnknown;
  try {
    const std::string className = error ? ExceptionClassName(*error) : std::string("Exception");
    const std::string message = error ? std::string(error->what()) : ErrorText(kErrUnknown);
    try {
      WriteDebugLog("EXCEPTION", className + ": " + message);
    } catch (...) {
      // The line is lost; the answer still goes out.
    }
    if (excepInfo != nullptr) {
      excepInfo->bstrDescription = BstrFromUtf8(message);
      excepInfo->bstrSource = BstrFromUtf8(className);
    }
  } catch (...) {
    // Out of memory: the code alone goes back.
  }
  return DISP_E_EXCEPTION;
}

HRESULT TBaseObject::CallMethod(DISPID DispID, OleVariant& Result, SAFEARRAY* Args) {
  if (DispID < 0 || static_cast<std::size_t>(DispID) >= FMethods.size() ||
      !FMethods[DispID].HasHandler()) {
    return E_FAIL;
  }
  const TMethodRec& method = FMethods[DispID];
  return method.IsFunction ? CallFunction(method, Result, Args)
                           : CallProcedure(method, Result, Args);
}

HRESULT TBaseObject::CallFunction(const TMethodRec& method, OleVariant& Result, SAFEARRAY* Args) {
  OleVariant inData, outData, timeout;
  SafeArrayGetElements(Args, {&inData, &outData, &timeout});
  outData.Clear();
  const bool logOn = FDebugLogEnabled;
  if (logOn) WriteDebugLog("> " + method.Name, "InData: " + VarArrayToLogText(inData.Raw()));

  HRESULT hr = E_INVALIDARG;
  if (IsOrdinalVarType(timeout.Type())) {
    std::int32_t code = kErrUnknown;
    std::string errText;
    try {
      const std::int32_t timeoutValue = timeout.AsInteger();
      code = method.Function(inData, outData, timeoutValue, errText);
    } catch (const std::exception& e) {
      errText = e.what();
      code = kErrUnknown;
    } catch (...) {
      errText.clear();
      code = kErrUnknown;
    }
    if (code != 0) {
      if (errText.empty()) errText = GetErrorDescription(code);
      VARIANT noExtra;
      VariantInit(&noExtra);
      MakeErrorResult(code, errText, noExtra, outData);
    }
    if (VARIANT* element = ElementPtr(Args, 1)) {
      VariantClear(element);
      *element = outData.Detach();
    }
    Result = OleVariant(code == 0);
    hr = S_OK;
  }

  if (logOn) {
    VARIANT* element = hr == S_OK ? ElementPtr(Args, 1) : nullptr;
    WriteDebugLog("< " + method.Name, "Result=" + VarToLogText(Result.Raw()) + "; OutData: " +
                                          VarArrayToLogText(element ? *element : outData.Raw()));
  }
  return hr;
}

HRESULT TBaseObject::CallProcedure(const TMethodRec& method, OleVariant& Result,
                                   SAFEARRAY* Args) {
  const bool logOn = FDebugLogEnabled;
  const VARIANT view = ArrayView(Args);
  if (logOn) WriteDebugLog("> " + method.Name, "Params: " + VarArrayToLogText(view));
  OleVariant value;
  try {
    method.Procedure(Args, value);
  } catch (const std::exception& e) {
    WriteDebugLog("EXCEPTION", e.what());
    throw;
  } catch (...) {
    WriteDebugLog("EXCEPTION", ErrorText(kErrUnknown));
    throw;
  }
  Result = std::move(value);
  if (logOn) {
    WriteDebugLog("< " + method.Name, "Result=" + VarToLogText(Result.Raw()) + "; Params: " +
                                          VarArrayToLogText(view));
  }
  return S_OK;
}

// --- Argument routines ---------------------------------------------------------------------------

UINT GetParamCount(const DISPPARAMS* Params) { return Params ? Params->cArgs : 0; }

OleVariant GetParam(const DISPPARAMS* Params, UINT Index) {
  const UINT count = GetParamCount(Params);
  if (Index >= count || Params->rgvarg == nullptr) throw Exception("Wrong index!");
  OleVariant value;
  DerefVariant(Params->rgvarg[count - 1 - Index], value);
  if (value.Type() == VT_I2) value = OleVariant(static_cast<std::int32_t>(value.Raw().iVal));
  return value;
}

void SetParam(DISPPARAMS* Params, UINT Index, const VARIANT& Value) {
  const UINT count = GetParamCount(Params);
  if (Index >= count || Params->rgvarg == nullptr) throw Exception("invalid index");
  AssignToByRefVariant(Params->rgvarg[count - 1 - Index], Value);
}

void ParamsToSafeArray(const DISPPARAMS* Params, SAFEARRAY* Args) {
  const UINT count = GetParamCount(Params);
  for (UINT i = 0; i < count; ++i) {
    VARIANT* element = ElementPtr(Args, static_cast<LONG>(i));
    if (element == nullptr) continue;
    OleVariant value = GetParam(Params, i);
    VariantClear(element);
    *element = value.Detach();
  }
}

void SafeArrayToParams(SAFEARRAY* Args, DISPPARAMS* Params) {
  const UINT count = GetParamCount(Params);
  for (UINT i = 0; i < count; ++i) {
    VARIANT* element = ElementPtr(Args, static_cast<LONG>(i));
    if (element == nullptr) continue;
    MoveToHostArgument(Params->rgvarg[count - 1 - i], *element);
  }
}

void SetInvokeResult(VARIANT* VarResult, OleVariant& Result) {
  if (VarResult == nullptr) return;
  VariantClear(VarResult);
  *VarResult = Result.Detach();
}
