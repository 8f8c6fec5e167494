// Test doubles for the OLE Automation tests: COM objects that count their references.
#pragma once

#include <cstdlib>
#include <string_view>

#include "platform/com.h"
#include "platform/com_object.h"
#include "platform/oleauto.h"

namespace ole_test {

// A COM object that lives on the stack of a test and starts with the test's own reference. It is
// never deleted through Release, and a Release without a reference to give back aborts at once (an
// over-release would otherwise hide behind a count that stays at zero).
template <class... Interfaces>
class Counted : public ComObject<Interfaces...> {
 public:
  Counted() : ComObject<Interfaces...>(1) {}
  ULONG Release() override {
    if (this->RefCount() == 0) std::abort();
    return ComObject<Interfaces...>::Release();
  }

 protected:
  void LastReleased() noexcept override {}
};

// An object that offers IUnknown only.
using CountedUnknown = Counted<IUnknown>;

// An IDispatch whose reference count the tests watch.
class CountedDispatch final : public Counted<IDispatch> {
 public:
  HRESULT GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return E_NOTIMPL;
  }
};

// A VARIANT that clears itself.
struct ScopedVariant {
  VARIANT v;
  ScopedVariant() { VariantInit(&v); }
  ~ScopedVariant() { VariantClear(&v); }
  ScopedVariant(const ScopedVariant&) = delete;
  ScopedVariant& operator=(const ScopedVariant&) = delete;
  VARIANT* get() { return &v; }
  VARIANT* operator->() { return &v; }
};

inline BSTR MakeBstr(const char16_t* text) { return SysAllocString(text); }

inline std::u16string_view View(BSTR bstr) { return {bstr, SysStringLen(bstr)}; }

}  // namespace ole_test
