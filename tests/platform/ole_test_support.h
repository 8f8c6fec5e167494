// Test doubles for the OLE Automation tests: COM objects that count their references.
#pragma once

#include <cstdlib>
#include <string_view>

#include "platform/com.h"
#include "platform/oleauto.h"

namespace ole_test {

// An IDispatch whose reference count the tests watch; it is never deleted through Release, and a
// Release without a reference to give back aborts at once (an over-release would otherwise hide
// behind a count that wrapped around).
class CountedDispatch final : public IDispatch {
 public:
  HRESULT QueryInterface(REFIID riid, void** object) override {
    if (riid == IID_IUnknown || riid == IID_IDispatch) {
      *object = static_cast<IDispatch*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++refs; }
  ULONG Release() override {
    if (refs == 0) std::abort();
    return --refs;
  }
  HRESULT GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
  HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return E_NOTIMPL;
  }

  ULONG refs = 1;
};

// An object that offers IUnknown only.
class CountedUnknown final : public IUnknown {
 public:
  HRESULT QueryInterface(REFIID riid, void** object) override {
    if (riid == IID_IUnknown) {
      *object = static_cast<IUnknown*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }
  ULONG AddRef() override { return ++refs; }
  ULONG Release() override {
    if (refs == 0) std::abort();
    return --refs;
  }

  ULONG refs = 1;
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
