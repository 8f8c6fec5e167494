// VARIANT with the OLE Automation semantics, and the copying and freeing of one stored value by
// its type that the SAFEARRAY routines (ole_safearray.cpp) share.
#include "platform/oleauto.h"

#include <cstring>

#include "platform/ole_types.h"

namespace ole_types {

namespace {

constexpr int kMaxReferenceLinks = 64;

}  // namespace

HRESULT CopyStored(VARTYPE vt, const void* from, void* to) {
  const TypeFacts& facts = Facts(vt);
  switch (facts.holding) {
    case Holding::Plain:
      std::memcpy(to, from, facts.size);
      return S_OK;
    case Holding::Bstr: {
      BSTR text = *static_cast<const BSTR*>(from);
      BSTR copy = DuplicateBstr(text);
      if (text && !copy) return E_OUTOFMEMORY;
      *static_cast<BSTR*>(to) = copy;
      return S_OK;
    }
    case Holding::Interface: {
      IUnknown* unknown = *static_cast<IUnknown* const*>(from);
      if (unknown) unknown->AddRef();
      *static_cast<IUnknown**>(to) = unknown;
      return S_OK;
    }
    case Holding::Variant:
      return CopyValue(*static_cast<VARIANT*>(to), *static_cast<const VARIANT*>(from));
  }
  return E_UNEXPECTED;
}

void ReleaseStored(VARTYPE vt, void* slot) noexcept {
  switch (Facts(vt).holding) {
    case Holding::Plain:
      return;  // plain values own nothing
    case Holding::Bstr:
      SysFreeString(*static_cast<BSTR*>(slot));
      *static_cast<BSTR*>(slot) = nullptr;
      return;
    case Holding::Interface:
      if (auto* unknown = *static_cast<IUnknown**>(slot)) {
        *static_cast<IUnknown**>(slot) = nullptr;  // a Release that reenters sees nothing
        unknown->Release();
      }
      return;
    case Holding::Variant:
      if (FAILED(VariantClear(static_cast<VARIANT*>(slot)))) {
        static_cast<VARIANT*>(slot)->vt = VT_EMPTY;  // unknown content: leave it alone
      }
      return;
  }
}

HRESULT ResolveView(const VARIANT& src, VARIANT& view) {
  const VARIANT* current = &src;
  for (int links = 0; current->vt == (VT_BYREF | VT_VARIANT); ++links) {
    if (links >= kMaxReferenceLinks || !current->pvarVal) return E_INVALIDARG;
    current = current->pvarVal;
  }
  if (!IsValidVarType(current->vt)) return DISP_E_BADVARTYPE;
  view = *current;
  if ((current->vt & VT_BYREF) == 0) return S_OK;
  if (!current->byref) return E_INVALIDARG;
  view.vt = current->vt & static_cast<VARTYPE>(~VT_BYREF);
  if (view.vt & VT_ARRAY) {
    view.parray = *current->pparray;
  } else {
    std::memcpy(Payload(view), current->byref, Facts(view.vt).size);
  }
  return S_OK;
}

HRESULT CopyValue(VARIANT& out, const VARIANT& src) {
  if (!IsValidVarType(src.vt)) {
    VariantInit(&out);
    return DISP_E_BADVARTYPE;
  }
  out = src;
  if (src.vt & VT_BYREF) return S_OK;
  HRESULT hr = S_OK;
  if (src.vt & VT_ARRAY) {
    out.parray = nullptr;
    hr = SafeArrayCopy(src.parray, &out.parray);
  } else if (Facts(src.vt).holding != Holding::Plain) {
    hr = CopyStored(src.vt, Payload(src), Payload(out));
  }
  if (FAILED(hr)) out.vt = VT_EMPTY;
  return hr;
}

}  // namespace ole_types

using namespace ole_types;

namespace {

// Puts the owning copy into dest, releasing what dest held; copy is freed when that fails.
HRESULT ReplaceWith(VARIANT* dest, VARIANT& copy) {
  const HRESULT hr = VariantClear(dest);
  if (FAILED(hr)) {
    VariantClear(&copy);
    return hr;
  }
  *dest = copy;
  return S_OK;
}

}  // namespace

// --- VARIANT ----------------------------------------------------------------------------------
void VariantInit(VARIANT* v) {
  if (!v) return;
  v->vt = VT_EMPTY;
  v->wReserved1 = v->wReserved2 = v->wReserved3 = 0;
  v->llVal = 0;
}

HRESULT VariantClear(VARIANT* v) {
  if (!v) return E_INVALIDARG;
  if (!IsValidVarType(v->vt)) return DISP_E_BADVARTYPE;
  if ((v->vt & VT_BYREF) == 0) {
    if (v->vt & VT_ARRAY) {
      const HRESULT hr = SafeArrayDestroy(v->parray);
      if (FAILED(hr)) return hr;
    } else if (Facts(v->vt).holding != Holding::Plain) {
      const VARTYPE vt = v->vt;
      v->vt = VT_EMPTY;  // a Release that reenters sees an empty variant
      ReleaseStored(vt, Payload(*v));
    }
  }
  v->vt = VT_EMPTY;
  v->llVal = 0;
  return S_OK;
}

HRESULT VariantCopy(VARIANT* dest, const VARIANT* src) {
  if (!dest || !src) return E_INVALIDARG;
  if (dest == src) return IsValidVarType(src->vt) ? S_OK : DISP_E_BADVARTYPE;
  VARIANT copy;
  const HRESULT hr = CopyValue(copy, *src);
  return FAILED(hr) ? hr : ReplaceWith(dest, copy);
}

HRESULT VariantCopyInd(VARIANT* dest, const VARIANT* src) {
  if (!dest || !src) return E_INVALIDARG;
  VARIANT view;
  HRESULT hr = ResolveView(*src, view);
  if (FAILED(hr)) return hr;
  VARIANT copy;
  hr = CopyValue(copy, view);
  return FAILED(hr) ? hr : ReplaceWith(dest, copy);
}

HRESULT VariantChangeType(VARIANT* dest, const VARIANT* src, USHORT /*flags*/, VARTYPE vt) {
  if (!dest || !src) return E_INVALIDARG;
  if ((vt & VT_BYREF) || (vt != VT_EMPTY && vt != VT_NULL && !IsValidVarType(vt))) {
    return DISP_E_BADVARTYPE;
  }
  VARIANT view;
  HRESULT hr = ResolveView(*src, view);
  if (FAILED(hr)) return hr;
  VARIANT result;
  VariantInit(&result);
  hr = Convert(view, vt, result);
  if (FAILED(hr)) return hr;
  return ReplaceWith(dest, result);  // the source (perhaps dest itself) is no longer needed
}

// --- EXCEPINFO --------------------------------------------------------------------------------
void ClearExcepInfo(EXCEPINFO* info) {
  if (!info) return;
  SysFreeString(info->bstrSource);
  SysFreeString(info->bstrDescription);
  SysFreeString(info->bstrHelpFile);
  *info = EXCEPINFO{};
}
