#include "tests/framework/test_support.h"

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "platform/text.h"

namespace fwtest {

namespace {

void ClearTyped(VARIANT& storage) { VariantClear(&storage); }

}  // namespace

HostCall::~HostCall() {
  for (VARIANT& arg : args_) VariantClear(&arg);
  for (VARIANT& variable : variables_) ClearTyped(variable);
  ClearExcepInfo(&excep_);
}

HostCall& HostCall::Arg(const OleVariant& value) {
  OleVariant copy(value);
  args_.push_back(copy.Detach());
  return *this;
}

HostCall& HostCall::RefVariant(const OleVariant& initial) {
  OleVariant copy(initial);
  variables_.push_back(copy.Detach());
  VARIANT ref;
  VariantInit(&ref);
  ref.vt = VT_VARIANT | VT_BYREF;
  ref.pvarVal = &variables_.back();
  args_.push_back(ref);
  return *this;
}

HostCall& HostCall::RefTyped(VARTYPE vt, const OleVariant& initial) {
  VARIANT storage;
  VariantInit(&storage);
  if (!initial.IsEmpty()) {
    if (FAILED(VariantChangeType(&storage, &initial.Raw(), 0, vt))) {
      throw std::runtime_error("RefTyped: no conversion");
    }
  } else {
    storage.vt = vt;
  }
  variables_.push_back(storage);
  VARIANT ref;
  VariantInit(&ref);
  ref.vt = static_cast<VARTYPE>(vt | VT_BYREF);
  ref.byref = &variables_.back().llVal;
  args_.push_back(ref);
  return *this;
}

HostCall& HostCall::Raw(const VARIANT& raw) {
  args_.push_back(raw);
  return *this;
}

HRESULT HostCall::Invoke(IDispatch* target, DISPID dispId, WORD flags, bool wantResult) {
  std::vector<VARIANT> reversed(args_.rbegin(), args_.rend());
  DISPPARAMS params{reversed.empty() ? nullptr : reversed.data(), nullptr,
                    static_cast<UINT>(reversed.size()), 0};
  ClearExcepInfo(&excep_);
  result_.Clear();
  VARIANT result;
  VariantInit(&result);
  HRESULT hr = target->Invoke(dispId, IID_NULL, LOCALE_USER_DEFAULT, flags, &params,
                              wantResult ? &result : nullptr, &excep_, nullptr);
  result_ = OleVariant::Attach(result);
  // The callee may have replaced by-value arguments in place: the slots are ours again.
  for (std::size_t i = 0; i < args_.size(); ++i) args_[i] = reversed[args_.size() - 1 - i];
  return hr;
}

HRESULT HostCall::Call(IDispatch* target, std::string_view name, WORD flags) {
  HRESULT hr = S_OK;
  DISPID id = DispIdOf(target, name, &hr);
  if (FAILED(hr)) return hr;
  return Invoke(target, id, flags);
}

OleVariant HostCall::Value(std::size_t index) const { return OleVariant::CopyInd(Slot(index)); }

std::string HostCall::ExcepDescription() const { return BstrToUtf8(excep_.bstrDescription); }
std::string HostCall::ExcepSource() const { return BstrToUtf8(excep_.bstrSource); }

DISPID DispIdOf(IDispatch* target, std::string_view name, HRESULT* hr) {
  std::u16string wide = Utf8ToUtf16(name);
  LPOLESTR names[1] = {wide.data()};
  DISPID id = 12345;
  HRESULT result = target->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
  if (hr) *hr = result;
  return id;
}

FunctionResult CallFunction(IDispatch* target, std::string_view name, const OleVariant& inData,
                            const OleVariant& timeout) {
  HostCall call;
  call.Arg(inData).RefVariant().Arg(timeout);
  FunctionResult out;
  out.hr = call.Call(target, name);
  out.result = call.Result();
  out.outData = call.Value(1);
  return out;
}

std::int32_t ErrorCodeOf(const OleVariant& outData) { return outData.GetElement({0}).AsInteger(); }
std::string ErrorTextOf(const OleVariant& outData) { return outData.GetElement({1}).AsString(); }

// --- FakeHost ------------------------------------------------------------------------------------

namespace {
const char* const kHostMethods[] = {"DataEvent", "ErrorEvent", "GetAppProperty"};
}

HRESULT FakeHost::GetTypeInfoCount(UINT* count) {
  *count = 0;
  return S_OK;
}

HRESULT FakeHost::GetIDsOfNames(REFIID, LPOLESTR* names, UINT, LCID, DISPID* ids) {
  const std::string name = Utf16ToUtf8(names[0]);
  for (DISPID i = 0; i < 3; ++i) {
    if (name == kHostMethods[i]) {
      ids[0] = i + 1;
      return S_OK;
    }
  }
  ids[0] = DISPID_UNKNOWN;
  return DISP_E_UNKNOWNNAME;
}

HRESULT FakeHost::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result,
                         EXCEPINFO* excep, UINT*) {
  if (duringCall) duringCall();
  if (id < 1 || id > 3) return DISP_E_MEMBERNOTFOUND;
  Call call;
  call.method = kHostMethods[id - 1];
  for (UINT i = 0; i < params->cArgs; ++i) {
    const VARIANT& arg = params->rgvarg[params->cArgs - 1 - i];
    call.types.push_back(arg.vt);
    call.args.push_back(OleVariant::CopyInd(arg));
  }
  calls.push_back(call);
  if (failure != S_OK) {
    if (failure == DISP_E_EXCEPTION && excep) {
      excep->bstrDescription = BstrFromUtf8(failureText);
      excep->bstrSource = BstrFromUtf8("FakeHost");
      excep->scode = E_FAIL;
    }
    return failure;
  }
  VARIANT answer;
  VariantInit(&answer);
  answer.vt = VT_BOOL;
  answer.boolVal = eventAnswer ? VARIANT_TRUE : VARIANT_FALSE;
  if (call.method == "GetAppProperty" && params->cArgs == 3) {
    const auto found = properties.find(call.args[1].AsString());
    const bool ok = found != properties.end() && found->second.first;
    answer.boolVal = ok ? VARIANT_TRUE : VARIANT_FALSE;
    VARIANT& value = params->rgvarg[0];
    if (found != properties.end() && value.vt == (VT_BSTR | VT_BYREF)) {
      SysFreeString(*value.pbstrVal);
      *value.pbstrVal = BstrFromUtf8(found->second.second);
    }
  } else if (writeIntoData && params->cArgs == 4) {
    VARIANT& data = params->rgvarg[0];
    if (data.vt == (VT_VARIANT | VT_BYREF)) {
      VariantClear(data.pvarVal);
      data.pvarVal->vt = VT_I4;
      data.pvarVal->lVal = 999;
    }
  }
  if (result) *result = answer;
  return S_OK;
}

// --- Files ---------------------------------------------------------------------------------------

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "fwtest-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp");
  path_ = pattern + "/";
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::vector<std::string> ReadLines(const std::string& fileName) {
  std::ifstream in(fileName, std::ios::binary);
  std::vector<std::string> lines;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

bool FileExists(const std::string& fileName) {
  struct stat info {};
  return ::stat(fileName.c_str(), &info) == 0;
}

}  // namespace fwtest
