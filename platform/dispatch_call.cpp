#include "platform/dispatch_call.h"

#include <cstdio>
#include <string>
#include <vector>

#include "platform/exceptions.h"
#include "platform/text.h"

namespace {

#define RES(id, name, text) constexpr std::string_view name = text;
#include "resources/strings/dispatch_call.def"
#undef RES

std::string HResultText(HRESULT hr) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "0x%08X", static_cast<unsigned>(hr));
  return buffer;
}

// The argument copies of one call, in the reversed order of DISPPARAMS; freed at scope end.
class CallArguments {
 public:
  explicit CallArguments(std::span<const VARIANT> args) : copies_(args.size()) {
    for (VARIANT& copy : copies_) VariantInit(&copy);
    for (std::size_t i = 0; i < args.size(); ++i) {
      HRESULT hr = VariantCopy(&copies_[args.size() - 1 - i], &args[i]);
      if (FAILED(hr)) {
        Clear();
        throw EOleSysError(std::string(SDispatchCallFailed) + HResultText(hr));
      }
    }
  }
  ~CallArguments() { Clear(); }
  CallArguments(const CallArguments&) = delete;
  CallArguments& operator=(const CallArguments&) = delete;
  DISPPARAMS Params() {
    return DISPPARAMS{copies_.empty() ? nullptr : copies_.data(), nullptr,
                      static_cast<UINT>(copies_.size()), 0};
  }

 private:
  void Clear() noexcept {
    for (VARIANT& copy : copies_) VariantClear(&copy);
  }
  std::vector<VARIANT> copies_;
};

// The EXCEPINFO of one call; its strings are freed at scope end.
class ExcepInfoHolder {
 public:
  ExcepInfoHolder() = default;
  ~ExcepInfoHolder() { ClearExcepInfo(&info_); }
  ExcepInfoHolder(const ExcepInfoHolder&) = delete;
  ExcepInfoHolder& operator=(const ExcepInfoHolder&) = delete;
  EXCEPINFO* get() { return &info_; }
  // The callee's text: its description, else its source, else empty.
  std::string Text() {
    if (info_.pfnDeferredFillIn != nullptr) {
      info_.pfnDeferredFillIn(&info_);
      info_.pfnDeferredFillIn = nullptr;
    }
    std::string text = BstrToUtf8(info_.bstrDescription);
    if (text.empty()) text = BstrToUtf8(info_.bstrSource);
    return text;
  }

 private:
  EXCEPINFO info_{};
};

DISPID LookUp(IDispatch* target, std::string_view method) {
  std::u16string name = Utf8ToUtf16(method);
  LPOLESTR names[1] = {name.data()};
  DISPID id = DISPID_UNKNOWN;
  HRESULT hr = target->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
  if (FAILED(hr)) throw EOleException(std::string(SDispatchUnknownMethod) + std::string(method));
  return id;
}

}  // namespace

OleVariant DispatchMethod(IDispatch* target, std::string_view method,
                          std::span<const VARIANT> args) {
  if (target == nullptr) throw EOleException(std::string(SDispatchNoObject));
  const DISPID id = LookUp(target, method);
  CallArguments arguments(args);
  DISPPARAMS params = arguments.Params();
  ExcepInfoHolder excep;
  VARIANT result;
  VariantInit(&result);
  UINT argErr = 0;
  const HRESULT hr = target->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params,
                                    &result, excep.get(), &argErr);
  OleVariant value = OleVariant::Attach(result);
  if (hr == DISP_E_EXCEPTION) {
    std::string text = excep.Text();
    if (text.empty()) text = std::string(SDispatchCallFailed) + std::string(method);
    throw EOleException(text);
  }
  if (FAILED(hr)) {
    throw EOleException(std::string(SDispatchCallFailed) + std::string(method) + " (" +
                        HResultText(hr) + ")");
  }
  return value;
}
