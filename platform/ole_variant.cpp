// OleVariant: the owning variant value of the framework and the driver.
#include "platform/ole_variant.h"

#include <cstring>
#include <new>

#include "platform/exceptions.h"
#include "platform/ole_types.h"
#include "platform/platform_strings.h"
#include "platform/text.h"

namespace {

using platform_strings::Format;

constexpr int kMaxReferenceLinks = 64;
constexpr std::size_t kMaxDims = 64;

const VARIANT kEmptyVariant{};

[[noreturn]] void ThrowConversion(HRESULT hr, VARTYPE from, VARTYPE to) {
  const std::string fromName = OleVariant::TypeName(from);
  const std::string toName = OleVariant::TypeName(to);
  if (hr == E_OUTOFMEMORY) throw std::bad_alloc();
  if (hr == DISP_E_OVERFLOW) {
    throw EVariantOverflowError(Format(platform_strings::SVarOverflowError, {fromName, toName}));
  }
  throw EVariantTypeCastError(Format(platform_strings::SVarTypeCastError, {fromName, toName}));
}

[[noreturn]] void ThrowBadIndex() {
  throw EVariantBadIndexError(std::string(platform_strings::SVarBadIndexError));
}

void CheckCopy(HRESULT hr, VARTYPE vt) {
  if (hr == E_OUTOFMEMORY) throw std::bad_alloc();
  if (FAILED(hr)) {
    throw EVariantError(Format(platform_strings::SVarInvalidError, {OleVariant::TypeName(vt)}));
  }
}

const char* BaseTypeName(VARTYPE vt) { return ole_types::Facts(vt).name; }

bool IsIntegral(VARTYPE vt) {
  switch (vt) {
    case VT_I1: case VT_UI1: case VT_I2: case VT_UI2: case VT_I4: case VT_UI4:
    case VT_I8: case VT_INT: case VT_UINT: case VT_BOOL:
      return true;
    default:
      return false;
  }
}

// The bounds of an array as index vectors' limits; false when it is not an array.
bool ArrayShape(const SAFEARRAY* psa, std::vector<LONG>& low, std::vector<LONG>& high) {
  if (!psa) return false;
  low.resize(psa->cDims);
  high.resize(psa->cDims);
  for (USHORT d = 0; d < psa->cDims; ++d) {
    low[d] = psa->rgsabound[d].lLbound;
    high[d] = static_cast<LONG>(static_cast<long long>(low[d]) + psa->rgsabound[d].cElements - 1);
  }
  return true;
}

// Steps an index vector through an array, dimension 1 fastest; false after the last element.
bool NextIndex(std::vector<LONG>& index, const std::vector<LONG>& low,
               const std::vector<LONG>& high) {
  for (std::size_t d = 0; d < index.size(); ++d) {
    if (index[d] < high[d]) {
      ++index[d];
      return true;
    }
    index[d] = low[d];
  }
  return false;
}

}  // namespace

// --- Lifetime ---------------------------------------------------------------------------------
OleVariant::OleVariant(const OleVariant& other) {
  VariantInit(&v_);
  CheckCopy(VariantCopy(&v_, &other.v_), other.v_.vt);
}

OleVariant::OleVariant(OleVariant&& other) noexcept : v_(other.v_) { VariantInit(&other.v_); }

OleVariant& OleVariant::operator=(const OleVariant& other) {
  if (this != &other) {
    OleVariant copy(other);
    std::swap(v_, copy.v_);
  }
  return *this;
}

OleVariant& OleVariant::operator=(OleVariant&& other) noexcept {
  if (this != &other) {
    Clear();
    v_ = other.v_;
    VariantInit(&other.v_);
  }
  return *this;
}

OleVariant::~OleVariant() { Clear(); }

OleVariant::OleVariant(const VARIANT& raw) {
  VariantInit(&v_);
  CheckCopy(VariantCopy(&v_, &raw), raw.vt);
}

OleVariant::OleVariant(std::int32_t value) {
  VariantInit(&v_);
  v_.vt = VT_I4;
  v_.lVal = value;
}

OleVariant::OleVariant(bool value) {
  VariantInit(&v_);
  v_.vt = VT_BOOL;
  v_.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
}

OleVariant::OleVariant(double value) {
  VariantInit(&v_);
  v_.vt = VT_R8;
  v_.dblVal = value;
}

OleVariant::OleVariant(std::string_view utf8) {
  VariantInit(&v_);
  BSTR text = BstrFromUtf8(utf8);
  if (!text) throw std::bad_alloc();
  v_.vt = VT_BSTR;
  v_.bstrVal = text;
}

OleVariant::OleVariant(const char* utf8) : OleVariant(std::string_view(utf8 ? utf8 : "")) {}

OleVariant::OleVariant(const std::string& utf8) : OleVariant(std::string_view(utf8)) {}

OleVariant OleVariant::FromDate(TDateTime value) {
  OleVariant result;
  result.v_.vt = VT_DATE;
  result.v_.date = value;
  return result;
}

OleVariant OleVariant::FromI2(std::int16_t value) {
  OleVariant result;
  result.v_.vt = VT_I2;
  result.v_.iVal = value;
  return result;
}

OleVariant OleVariant::FromInt64(std::int64_t value) {
  OleVariant result;
  result.v_.vt = VT_I8;
  result.v_.llVal = value;
  return result;
}

OleVariant OleVariant::Null() {
  OleVariant result;
  result.v_.vt = VT_NULL;
  return result;
}

OleVariant OleVariant::FromDispatch(IDispatch* dispatch) {
  OleVariant result;
  if (dispatch) dispatch->AddRef();
  result.v_.vt = VT_DISPATCH;
  result.v_.pdispVal = dispatch;
  return result;
}

OleVariant OleVariant::FromBstr(std::u16string_view utf16) {
  OleVariant result;
  BSTR text = SysAllocStringLen(utf16.data(), static_cast<UINT>(utf16.size()));
  if (!text) throw std::bad_alloc();
  result.v_.vt = VT_BSTR;
  result.v_.bstrVal = text;
  return result;
}

OleVariant OleVariant::CopyInd(const VARIANT& raw) {
  OleVariant result;
  CheckCopy(VariantCopyInd(&result.v_, &raw), raw.vt);
  return result;
}

OleVariant OleVariant::Attach(VARIANT& raw) noexcept {
  OleVariant result;
  result.v_ = raw;
  VariantInit(&raw);
  return result;
}

VARIANT OleVariant::Detach() noexcept {
  VARIANT raw = v_;
  VariantInit(&v_);
  return raw;
}

void OleVariant::Clear() noexcept {
  if (FAILED(VariantClear(&v_))) VariantInit(&v_);  // unknown content is not ours to free
}

// --- Arrays -----------------------------------------------------------------------------------
namespace {

// A variant holding a new array of the given shape; elements start Empty (or zero).
OleVariant NewArray(const std::pair<LONG, LONG>* bounds, std::size_t dims, VARTYPE elementType) {
  SAFEARRAYBOUND shape[kMaxDims];
  if (dims == 0 || dims > kMaxDims) {
    throw EVariantError(std::string(platform_strings::SVarArrayCreateError));
  }
  for (std::size_t d = 0; d < dims; ++d) {
    const long long count = static_cast<long long>(bounds[d].second) - bounds[d].first + 1;
    if (count < 0 || count > UINT32_MAX) {
      throw EVariantError(std::string(platform_strings::SVarArrayCreateError));
    }
    shape[d] = SAFEARRAYBOUND{static_cast<ULONG>(count), bounds[d].first};
  }
  VARIANT raw;
  VariantInit(&raw);
  raw.parray = SafeArrayCreate(elementType, static_cast<UINT>(dims), shape);
  if (!raw.parray) throw EVariantError(std::string(platform_strings::SVarArrayCreateError));
  raw.vt = static_cast<VARTYPE>(VT_ARRAY | elementType);
  return OleVariant::Attach(raw);
}

OleVariant ArrayOf(const OleVariant* values, std::size_t count) {
  const std::pair<LONG, LONG> bounds{0, static_cast<LONG>(count) - 1};
  OleVariant result = NewArray(&bounds, 1, VT_VARIANT);
  for (std::size_t i = 0; i < count; ++i) {
    const auto index = static_cast<LONG>(i);
    CheckCopy(SafeArrayPutElement(result.Array(), &index, &values[i].Raw()), values[i].Type());
  }
  return result;
}

}  // namespace

OleVariant OleVariant::VarArrayCreate(std::initializer_list<std::pair<LONG, LONG>> bounds,
                                      VARTYPE elementType) {
  return NewArray(bounds.begin(), bounds.size(), elementType);
}

OleVariant OleVariant::VarArrayCreate(const std::vector<std::pair<LONG, LONG>>& bounds,
                                      VARTYPE elementType) {
  return NewArray(bounds.data(), bounds.size(), elementType);
}

OleVariant OleVariant::VarArrayOf(std::initializer_list<OleVariant> values) {
  return ArrayOf(values.begin(), values.size());
}

OleVariant OleVariant::VarArrayOf(const std::vector<OleVariant>& values) {
  return ArrayOf(values.data(), values.size());
}

SAFEARRAY* OleVariant::Array() const noexcept {
  const VARIANT& v = Deref();
  if ((v.vt & VT_ARRAY) == 0) return nullptr;
  if (v.vt & VT_BYREF) return v.pparray ? *v.pparray : nullptr;
  return v.parray;
}

int OleVariant::DimCount() const noexcept {
  SAFEARRAY* psa = Array();
  return psa ? psa->cDims : 0;
}

LONG OleVariant::LowBound(int dim) const {
  LONG bound = 0;
  if (dim < 1 || FAILED(SafeArrayGetLBound(Array(), static_cast<UINT>(dim), &bound))) {
    ThrowBadIndex();
  }
  return bound;
}

LONG OleVariant::HighBound(int dim) const {
  LONG bound = 0;
  if (dim < 1 || FAILED(SafeArrayGetUBound(Array(), static_cast<UINT>(dim), &bound))) {
    ThrowBadIndex();
  }
  return bound;
}

namespace {

void* ElementPointer(SAFEARRAY* psa, const LONG* indices, std::size_t count) {
  void* element = nullptr;
  if (!psa || count != psa->cDims || FAILED(SafeArrayPtrOfIndex(psa, indices, &element))) {
    ThrowBadIndex();
  }
  return element;
}

OleVariant ReadElement(SAFEARRAY* psa, const LONG* indices, std::size_t count) {
  void* element = ElementPointer(psa, indices, count);
  if (psa->vt == VT_VARIANT) return OleVariant(*static_cast<const VARIANT*>(element));
  VARIANT view{};  // the element's bits seen as a variant of the element type
  view.vt = psa->vt;
  std::memcpy(&view.decVal, element, psa->cbElements);
  return OleVariant(view);
}

void WriteElement(SAFEARRAY* psa, const LONG* indices, std::size_t count, const OleVariant& value) {
  ElementPointer(psa, indices, count);
  if (psa->vt == VT_VARIANT) {
    CheckCopy(SafeArrayPutElement(psa, indices, &value.Raw()), value.Type());
    return;
  }
  VARIANT converted;
  VariantInit(&converted);
  const HRESULT hr = VariantChangeType(&converted, &value.Raw(), 0, psa->vt);
  if (FAILED(hr)) ThrowConversion(hr, value.DerefType() & VT_TYPEMASK, psa->vt);
  OleVariant holder = OleVariant::Attach(converted);
  const VARIANT& raw = holder.Raw();
  const void* in = &raw.decVal;
  if (psa->vt == VT_BSTR) in = raw.bstrVal;
  if (psa->vt == VT_DISPATCH || psa->vt == VT_UNKNOWN) in = raw.punkVal;
  CheckCopy(SafeArrayPutElement(psa, indices, in), psa->vt);
}

}  // namespace

OleVariant OleVariant::GetElement(std::initializer_list<LONG> indices) const {
  return ReadElement(Array(), indices.begin(), indices.size());
}

OleVariant OleVariant::GetElement(const std::vector<LONG>& indices) const {
  return ReadElement(Array(), indices.data(), indices.size());
}

void OleVariant::PutElement(std::initializer_list<LONG> indices, const OleVariant& value) {
  WriteElement(Array(), indices.begin(), indices.size(), value);
}

void OleVariant::PutElement(const std::vector<LONG>& indices, const OleVariant& value) {
  WriteElement(Array(), indices.data(), indices.size(), value);
}

// --- Inspection -------------------------------------------------------------------------------
const VARIANT& OleVariant::Deref() const noexcept {
  const VARIANT* current = &v_;
  for (int links = 0; current->vt == (VT_BYREF | VT_VARIANT); ++links) {
    if (links >= kMaxReferenceLinks || !current->pvarVal) return kEmptyVariant;
    current = current->pvarVal;
  }
  return *current;
}

VARTYPE OleVariant::DerefType() const noexcept { return Deref().vt; }

bool OleVariant::IsEmpty() const noexcept { return DerefType() == VT_EMPTY; }

bool OleVariant::IsNull() const noexcept { return DerefType() == VT_NULL; }

bool OleVariant::IsArray() const noexcept { return (DerefType() & VT_ARRAY) != 0; }

std::string OleVariant::TypeName(VARTYPE vt) {
  const char* base = BaseTypeName(vt & VT_TYPEMASK);
  std::string name = base ? base : "Type " + std::to_string(vt & VT_TYPEMASK);
  if (vt & VT_ARRAY) name = "Array " + name;
  if (vt & VT_BYREF) name = "ByRef " + name;
  return name;
}

// --- Conversions ------------------------------------------------------------------------------
namespace {

// value converted by the standard rules into a variant of type vt (owned by the result).
OleVariant Converted(const OleVariant& value, VARTYPE vt) {
  VARIANT out;
  VariantInit(&out);
  const HRESULT hr = VariantChangeType(&out, &value.Raw(), 0, vt);
  if (FAILED(hr)) {
    ThrowConversion(hr, value.DerefType() & static_cast<VARTYPE>(~VT_BYREF), vt);
  }
  return OleVariant::Attach(out);
}

}  // namespace

std::int32_t OleVariant::AsInteger() const {
  const VARIANT& v = Deref();
  switch (v.vt) {
    case VT_I4: return v.lVal;
    case VT_I2: return v.iVal;
    case VT_UI1: return v.bVal;
    case VT_BOOL: return v.boolVal ? -1 : 0;
    case VT_EMPTY: return 0;
    default: return Converted(*this, VT_I4).Raw().lVal;
  }
}

std::int64_t OleVariant::AsInt64() const {
  const VARIANT& v = Deref();
  switch (v.vt) {
    case VT_I8: return v.llVal;
    case VT_I4: return v.lVal;
    case VT_I2: return v.iVal;
    case VT_BOOL: return v.boolVal ? -1 : 0;
    case VT_EMPTY: return 0;
    default: return Converted(*this, VT_I8).Raw().llVal;
  }
}

bool OleVariant::AsBoolean() const {
  const VARIANT& v = Deref();
  switch (v.vt) {
    case VT_BOOL: return v.boolVal != 0;
    case VT_I4: return v.lVal != 0;
    case VT_EMPTY: return false;
    default: return Converted(*this, VT_BOOL).Raw().boolVal != 0;
  }
}

double OleVariant::AsDouble() const {
  const VARIANT& v = Deref();
  switch (v.vt) {
    case VT_R8: return v.dblVal;
    case VT_DATE: return v.date;
    case VT_I4: return v.lVal;
    case VT_EMPTY: return 0;
    default: return Converted(*this, VT_R8).Raw().dblVal;
  }
}

TDateTime OleVariant::AsDate() const {
  const VARIANT& v = Deref();
  if (v.vt == VT_DATE) return v.date;
  return Converted(*this, VT_DATE).Raw().date;
}

std::string OleVariant::AsString() const {
  const VARIANT& v = Deref();
  switch (v.vt) {
    case VT_BSTR: return BstrToUtf8(v.bstrVal);
    case VT_EMPTY:
    case VT_NULL: return {};
    default: return BstrToUtf8(Converted(*this, VT_BSTR).Raw().bstrVal);
  }
}

std::u16string OleVariant::AsUtf16() const {
  const VARIANT& v = Deref();
  const OleVariant converted = v.vt == VT_BSTR || v.vt == VT_EMPTY || v.vt == VT_NULL
                                   ? OleVariant()
                                   : Converted(*this, VT_BSTR);
  const VARIANT& text = v.vt == VT_BSTR ? v : converted.Raw();
  if (text.vt != VT_BSTR || !text.bstrVal) return {};
  return std::u16string(text.bstrVal, SysStringLen(text.bstrVal));
}

OleVariant OleVariant::ChangedTo(VARTYPE vt) const { return Converted(*this, vt); }

IDispatch* OleVariant::AsDispatch() const noexcept {
  const VARIANT& v = Deref();
  IUnknown* unknown = nullptr;
  switch (v.vt) {
    case VT_DISPATCH:
      return v.pdispVal;
    case VT_DISPATCH | VT_BYREF:
      return v.ppdispVal ? *v.ppdispVal : nullptr;
    case VT_UNKNOWN:
      unknown = v.punkVal;
      break;
    case VT_UNKNOWN | VT_BYREF:
      unknown = v.ppunkVal ? *v.ppunkVal : nullptr;
      break;
    default:
      return nullptr;
  }
  void* dispatch = nullptr;
  if (!unknown || FAILED(unknown->QueryInterface(IID_IDispatch, &dispatch)) || !dispatch) {
    return nullptr;
  }
  auto* result = static_cast<IDispatch*>(dispatch);
  result->Release();  // the variant's own reference keeps the object alive
  return result;
}

// --- Equality ---------------------------------------------------------------------------------
namespace {

bool ArraysEqual(const OleVariant& a, const OleVariant& b) {
  std::vector<LONG> low;
  std::vector<LONG> high;
  std::vector<LONG> otherLow;
  std::vector<LONG> otherHigh;
  if (!ArrayShape(a.Array(), low, high) || !ArrayShape(b.Array(), otherLow, otherHigh) ||
      low != otherLow || high != otherHigh) {
    return false;
  }
  for (std::size_t d = 0; d < low.size(); ++d) {
    if (high[d] < low[d]) return true;  // no elements
  }
  std::vector<LONG> index = low;
  do {
    const OleVariant x = a.GetElement(index);
    const OleVariant y = b.GetElement(index);
    if (!VariantsEqual(x.Raw(), y.Raw())) return false;
  } while (NextIndex(index, low, high));
  return true;
}

bool ScalarsEqual(const OleVariant& a, const OleVariant& b) {
  const VARTYPE ta = a.Type();
  const VARTYPE tb = b.Type();
  const bool specialA = ta == VT_EMPTY || ta == VT_NULL || ta == VT_ERROR;
  const bool specialB = tb == VT_EMPTY || tb == VT_NULL || tb == VT_ERROR;
  if (specialA || specialB) {
    return ta == tb && (ta != VT_ERROR || a.Raw().scode == b.Raw().scode);
  }
  const bool interfaceA = ta == VT_DISPATCH || ta == VT_UNKNOWN;
  const bool interfaceB = tb == VT_DISPATCH || tb == VT_UNKNOWN;
  if (interfaceA || interfaceB) return interfaceA && interfaceB && a.Raw().punkVal == b.Raw().punkVal;
  if (ta == VT_BSTR && tb == VT_BSTR) return a.AsUtf16() == b.AsUtf16();
  if (IsIntegral(ta) && IsIntegral(tb)) {
    if (ta == VT_UI8 || tb == VT_UI8) return ta == tb && a.Raw().ullVal == b.Raw().ullVal;
    return a.AsInt64() == b.AsInt64();
  }
  return a.AsDouble() == b.AsDouble();
}

}  // namespace

bool VariantsEqual(const VARIANT& a, const VARIANT& b) {
  try {
    const OleVariant x = OleVariant::CopyInd(a);
    const OleVariant y = OleVariant::CopyInd(b);
    if (x.IsArray() || y.IsArray()) return x.IsArray() && y.IsArray() && ArraysEqual(x, y);
    return ScalarsEqual(x, y);
  } catch (const Exception&) {
    return false;  // a text that does not convert equals no number
  }
}
