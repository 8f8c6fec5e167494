// SAFEARRAY with the OLE Automation semantics: bounds in dimension order, the first index
// varying fastest; element copies and frees follow the element type's facts (ole_types.h).
#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/oleauto.h"
#include "platform/ole_types.h"

using namespace ole_types;

namespace {

std::size_t ElementCount(const SAFEARRAY* psa) {
  std::size_t count = 1;
  for (USHORT d = 0; d < psa->cDims; ++d) count *= psa->rgsabound[d].cElements;
  return count;
}

void* ElementAt(SAFEARRAY* psa, std::size_t index) {
  return static_cast<char*>(psa->pvData) + index * psa->cbElements;
}

void ClearElements(SAFEARRAY* psa) {
  const Holding holding = Facts(psa->vt).holding;
  if (!psa->pvData || holding == Holding::Plain) return;
  const std::size_t count = ElementCount(psa);
  for (std::size_t i = 0; i < count; ++i) {
    void* element = ElementAt(psa, i);
    if (holding != Holding::Variant) {
      ReleaseStored(psa->vt, element);
    } else if (FAILED(VariantClear(static_cast<VARIANT*>(element)))) {
      static_cast<VARIANT*>(element)->vt = VT_EMPTY;  // unknown content: leave it alone
    }
  }
}

// Copies every element of src into dst, which has the same shape and holds zeroes.
HRESULT CopyElements(SAFEARRAY* src, SAFEARRAY* dst) {
  if (!src->pvData) return S_OK;
  const std::size_t count = ElementCount(src);
  if (Facts(src->vt).holding == Holding::Plain) {
    std::memcpy(dst->pvData, src->pvData, count * src->cbElements);
    return S_OK;
  }
  const bool variants = src->vt == VT_VARIANT;
  for (std::size_t i = 0; i < count; ++i) {
    void* from = ElementAt(src, i);
    void* to = ElementAt(dst, i);
    const HRESULT hr = variants ? CopyValue(*static_cast<VARIANT*>(to), *static_cast<VARIANT*>(from))
                                : CopyStored(src->vt, from, to);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};

}  // namespace

SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT dims, const SAFEARRAYBOUND* bounds) {
  const TypeFacts& facts = Facts(vt);
  const ULONG elementSize = facts.size;
  if (!bounds || dims == 0 || dims > 0xFFFF || elementSize == 0) return nullptr;
  constexpr std::size_t kMaxBytes = std::size_t{1} << 31;
  std::size_t count = 1;
  for (UINT d = 0; d < dims; ++d) {
    const long long high = static_cast<long long>(bounds[d].lLbound) + bounds[d].cElements - 1;
    if (high > INT32_MAX) return nullptr;
    if (bounds[d].cElements != 0 && count > kMaxBytes / bounds[d].cElements) return nullptr;
    count *= bounds[d].cElements;
  }
  if (count > kMaxBytes / elementSize) return nullptr;
  const std::size_t headerSize = sizeof(SAFEARRAY) + (dims - 1) * sizeof(SAFEARRAYBOUND);
  std::unique_ptr<SAFEARRAY, FreeDeleter> header(static_cast<SAFEARRAY*>(std::calloc(1, headerSize)));
  if (!header) return nullptr;
  if (count != 0) {
    header->pvData = std::calloc(count, elementSize);  // zero bits: VT_EMPTY, NULL, 0
    if (!header->pvData) return nullptr;
  }
  header->cDims = static_cast<USHORT>(dims);
  header->fFeatures = facts.features;
  header->cbElements = elementSize;
  header->vt = vt;
  for (UINT d = 0; d < dims; ++d) header->rgsabound[d] = bounds[d];
  return header.release();
}

SAFEARRAY* SafeArrayCreateVector(VARTYPE vt, LONG lowerBound, ULONG elements) {
  const SAFEARRAYBOUND bound{elements, lowerBound};
  return SafeArrayCreate(vt, 1, &bound);
}

HRESULT SafeArrayDestroy(SAFEARRAY* psa) {
  if (!psa) return S_OK;
  if (psa->cLocks != 0) return DISP_E_ARRAYISLOCKED;
  ClearElements(psa);
  std::free(psa->pvData);
  std::free(psa);
  return S_OK;
}

HRESULT SafeArrayCopy(SAFEARRAY* psa, SAFEARRAY** out) {
  if (!out) return E_INVALIDARG;
  *out = nullptr;
  if (!psa) return S_OK;
  SAFEARRAY* copy = SafeArrayCreate(psa->vt, psa->cDims, psa->rgsabound);
  if (!copy) return E_OUTOFMEMORY;
  const HRESULT hr = CopyElements(psa, copy);
  if (FAILED(hr)) {
    SafeArrayDestroy(copy);
    return hr;
  }
  *out = copy;
  return S_OK;
}

UINT SafeArrayGetDim(SAFEARRAY* psa) { return psa ? psa->cDims : 0; }

UINT SafeArrayGetElemsize(SAFEARRAY* psa) { return psa ? psa->cbElements : 0; }

HRESULT SafeArrayGetVartype(SAFEARRAY* psa, VARTYPE* vt) {
  if (!psa || !vt) return E_INVALIDARG;
  *vt = psa->vt;
  return S_OK;
}

HRESULT SafeArrayGetLBound(SAFEARRAY* psa, UINT dim, LONG* bound) {
  if (!psa || !bound) return E_INVALIDARG;
  if (dim < 1 || dim > psa->cDims) return DISP_E_BADINDEX;
  *bound = psa->rgsabound[dim - 1].lLbound;
  return S_OK;
}

HRESULT SafeArrayGetUBound(SAFEARRAY* psa, UINT dim, LONG* bound) {
  if (!psa || !bound) return E_INVALIDARG;
  if (dim < 1 || dim > psa->cDims) return DISP_E_BADINDEX;
  const SAFEARRAYBOUND& b = psa->rgsabound[dim - 1];
  *bound = static_cast<LONG>(static_cast<long long>(b.lLbound) + b.cElements - 1);
  return S_OK;
}

HRESULT SafeArrayPtrOfIndex(SAFEARRAY* psa, const LONG* indices, void** element) {
  if (!psa || !indices || !element) return E_INVALIDARG;
  std::size_t offset = 0;
  std::size_t stride = 1;
  for (USHORT d = 0; d < psa->cDims; ++d) {
    const SAFEARRAYBOUND& b = psa->rgsabound[d];
    const long long index = static_cast<long long>(indices[d]) - b.lLbound;
    if (index < 0 || index >= static_cast<long long>(b.cElements)) return DISP_E_BADINDEX;
    offset += static_cast<std::size_t>(index) * stride;
    stride *= b.cElements;
  }
  *element = ElementAt(psa, offset);
  return S_OK;
}

HRESULT SafeArrayGetElement(SAFEARRAY* psa, const LONG* indices, void* out) {
  if (!out) return E_INVALIDARG;
  void* element = nullptr;
  const HRESULT hr = SafeArrayPtrOfIndex(psa, indices, &element);
  if (FAILED(hr)) return hr;
  switch (Facts(psa->vt).holding) {
    case Holding::Variant:  // *out is an initialised VARIANT: what it held is released
      return VariantCopy(static_cast<VARIANT*>(out), static_cast<VARIANT*>(element));
    case Holding::Plain:
      std::memcpy(out, element, psa->cbElements);
      return S_OK;
    default:
      return CopyStored(psa->vt, element, out);
  }
}

HRESULT SafeArrayPutElement(SAFEARRAY* psa, const LONG* indices, const void* in) {
  void* element = nullptr;
  const HRESULT hr = SafeArrayPtrOfIndex(psa, indices, &element);
  if (FAILED(hr)) return hr;
  switch (Facts(psa->vt).holding) {
    case Holding::Variant:
      if (!in) return E_INVALIDARG;
      return VariantCopy(static_cast<VARIANT*>(element), static_cast<const VARIANT*>(in));
    case Holding::Plain:
      if (!in) return E_INVALIDARG;
      std::memcpy(element, in, psa->cbElements);
      return S_OK;
    case Holding::Bstr:
    case Holding::Interface: {  // in is the string or the interface itself, not a pointer to it
      void* fresh = nullptr;
      const HRESULT copied = CopyStored(psa->vt, &in, &fresh);
      if (FAILED(copied)) return copied;
      void* old = nullptr;
      std::memcpy(&old, element, sizeof old);
      std::memcpy(element, &fresh, sizeof fresh);
      ReleaseStored(psa->vt, &old);
      return S_OK;
    }
  }
  return E_UNEXPECTED;
}

HRESULT SafeArrayLock(SAFEARRAY* psa) {
  if (!psa) return E_INVALIDARG;
  if (psa->cLocks == 0xFFFFFFFF) return E_UNEXPECTED;
  ++psa->cLocks;
  return S_OK;
}

HRESULT SafeArrayUnlock(SAFEARRAY* psa) {
  if (!psa) return E_INVALIDARG;
  if (psa->cLocks == 0) return E_UNEXPECTED;
  --psa->cLocks;
  return S_OK;
}
