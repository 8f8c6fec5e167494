// Builds random variants (every type, nested arrays with empty dimensions, reference chains,
// interface references) and drives copy, copy-through-references, every type conversion, array
// copies and element access on them. Crashes and leaks are the sanitizers' to report; a
// reference count that does not return to its start aborts.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <vector>

#include "platform/exceptions.h"
#include "platform/ole_variant.h"
#include "platform/oleauto.h"
#include "tests/platform/ole_test_support.h"

namespace {

using ole_test::CountedDispatch;

class Input {
 public:
  Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::uint8_t Byte() { return pos_ < size_ ? data_[pos_++] : 0; }
  template <class T>
  T Raw() {
    T value{};
    unsigned char bytes[sizeof(T)] = {};
    for (auto& b : bytes) b = Byte();
    std::memcpy(&value, bytes, sizeof(T));
    return value;
  }
  std::size_t Below(std::size_t n) { return n == 0 ? 0 : Byte() % n; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

constexpr VARTYPE kScalarTypes[] = {VT_EMPTY, VT_NULL, VT_I1,   VT_UI1,  VT_I2,      VT_UI2,
                                    VT_I4,    VT_UI4,  VT_INT,  VT_UINT, VT_I8,      VT_UI8,
                                    VT_R4,    VT_R8,   VT_CY,   VT_DATE, VT_BOOL,    VT_ERROR,
                                    VT_DECIMAL, VT_BSTR, VT_DISPATCH, VT_UNKNOWN};
constexpr VARTYPE kElementTypes[] = {VT_I1, VT_UI1, VT_I2,   VT_UI2,     VT_I4,   VT_UI4,
                                     VT_I8, VT_UI8, VT_R4,   VT_R8,      VT_CY,   VT_DATE,
                                     VT_BOOL, VT_ERROR, VT_DECIMAL, VT_BSTR, VT_DISPATCH,
                                     VT_UNKNOWN, VT_VARIANT, VT_INT, VT_UINT};
constexpr char kTextAlphabet[] = "0123456789,.-+eE :T tRUefalsFA\t";

// Owns everything that by-reference variants point to; cleared after the operations.
struct Referents {
  std::array<VARIANT, 8> variants{};
  std::array<BSTR, 8> strings{};
  std::array<SAFEARRAY*, 8> arrays{};
  std::array<IDispatch*, 8> interfaces{};
  alignas(16) std::array<std::array<unsigned char, 16>, 8> plain{};
  std::size_t used = 0;

  ~Referents() {
    for (auto& v : variants) VariantClear(&v);
    for (BSTR s : strings) SysFreeString(s);
    for (SAFEARRAY* a : arrays) SafeArrayDestroy(a);
  }
};

class Builder {
 public:
  Builder(Input& in, CountedDispatch& dispatch, Referents& refs)
      : in_(in), dispatch_(dispatch), refs_(refs) {}

  // Fills v (VT_EMPTY on entry) with a random value.
  void Value(VARIANT& v, int depth) {
    const std::size_t kind = in_.Below(10);
    if (kind == 0 && depth < 3) return Array(v, depth);
    if (kind == 1 && depth < 3 && refs_.used < refs_.variants.size()) return Reference(v, depth);
    Scalar(v, kScalarTypes[in_.Below(std::size(kScalarTypes))]);
  }

 private:
  BSTR Text() {
    const std::size_t length = in_.Below(12);
    BSTR text = SysAllocStringLen(nullptr, static_cast<UINT>(length));
    const bool wide = in_.Below(4) == 0;
    for (std::size_t i = 0; i < length; ++i) {
      text[i] = wide ? in_.Raw<char16_t>()
                     : static_cast<char16_t>(kTextAlphabet[in_.Below(sizeof kTextAlphabet - 1)]);
    }
    return text;
  }

  void Scalar(VARIANT& v, VARTYPE vt) {
    v.vt = vt;
    switch (vt) {
      case VT_BSTR:
        v.bstrVal = in_.Below(8) == 0 ? nullptr : Text();
        break;
      case VT_DISPATCH:
      case VT_UNKNOWN:
        v.pdispVal = in_.Below(4) == 0 ? nullptr : &dispatch_;
        if (v.pdispVal) dispatch_.AddRef();
        break;
      case VT_DECIMAL:
        v.decVal.scale = static_cast<BYTE>(in_.Below(32));
        v.decVal.sign = in_.Below(2) ? 0x80 : 0;
        v.decVal.Hi32 = in_.Below(3) == 0 ? in_.Raw<ULONG>() : 0;
        v.decVal.Lo64 = in_.Raw<std::uint64_t>();
        break;
      case VT_R8:
      case VT_DATE:
        v.dblVal = in_.Below(2) ? in_.Raw<double>() : static_cast<double>(in_.Raw<std::int32_t>()) / 64;
        break;
      default:
        v.llVal = in_.Raw<std::int64_t>();
        break;
    }
  }

  void Array(VARIANT& v, int depth) {
    const VARTYPE element = kElementTypes[in_.Below(std::size(kElementTypes))];
    const UINT dims = 1 + static_cast<UINT>(in_.Below(3));
    SAFEARRAYBOUND bounds[3];
    for (UINT d = 0; d < dims; ++d) {
      bounds[d].cElements = static_cast<ULONG>(in_.Below(4));
      bounds[d].lLbound = static_cast<LONG>(in_.Below(5)) - 2;
    }
    SAFEARRAY* psa = SafeArrayCreate(element, dims, bounds);
    if (!psa) std::abort();
    v.vt = VT_ARRAY | element;
    v.parray = psa;
    const std::size_t count = static_cast<std::size_t>(bounds[0].cElements) *
                              (dims > 1 ? bounds[1].cElements : 1) *
                              (dims > 2 ? bounds[2].cElements : 1);
    for (std::size_t i = 0; i < count; ++i) {
      void* slot = static_cast<char*>(psa->pvData) + i * psa->cbElements;
      if (element == VT_VARIANT) {
        Value(*static_cast<VARIANT*>(slot), depth + 1);
      } else {
        VARIANT value;
        VariantInit(&value);
        Scalar(value, element);
        std::memcpy(slot, &value.decVal, psa->cbElements);  // the array takes the ownership
      }
    }
  }

  void Reference(VARIANT& v, int depth) {
    const std::size_t slot = refs_.used++;
    switch (in_.Below(5)) {
      case 0:
        Value(refs_.variants[slot], depth + 1);
        v.vt = VT_BYREF | VT_VARIANT;
        v.pvarVal = in_.Below(16) == 0 ? nullptr : &refs_.variants[slot];
        break;
      case 1:
        refs_.strings[slot] = Text();
        v.vt = VT_BYREF | VT_BSTR;
        v.pbstrVal = &refs_.strings[slot];
        break;
      case 2:
        refs_.arrays[slot] = SafeArrayCreateVector(VT_VARIANT, 0, static_cast<ULONG>(in_.Below(3)));
        v.vt = VT_BYREF | VT_ARRAY | VT_VARIANT;
        v.pparray = &refs_.arrays[slot];
        break;
      case 3:
        refs_.interfaces[slot] = in_.Below(2) ? &dispatch_ : nullptr;
        v.vt = VT_BYREF | VT_DISPATCH;
        v.ppdispVal = &refs_.interfaces[slot];
        break;
      default: {
        VARTYPE vt = kScalarTypes[in_.Below(std::size(kScalarTypes))];
        if (vt == VT_EMPTY || vt == VT_NULL || vt == VT_BSTR || vt == VT_DISPATCH ||
            vt == VT_UNKNOWN) {
          vt = VT_I4;
        }
        for (auto& b : refs_.plain[slot]) b = in_.Byte();
        if (vt == VT_DECIMAL) refs_.plain[slot][0] %= 40;
        v.vt = VT_BYREF | vt;
        v.byref = refs_.plain[slot].data();
        break;
      }
    }
  }

  Input& in_;
  CountedDispatch& dispatch_;
  Referents& refs_;
};

struct Scoped {
  VARIANT v;
  Scoped() { VariantInit(&v); }
  ~Scoped() {
    if (FAILED(VariantClear(&v))) std::abort();
  }
};

void Convert(const VARIANT& source) {
  static constexpr VARTYPE kTargets[] = {VT_EMPTY, VT_NULL, VT_I1,  VT_UI1,  VT_I2,  VT_UI2,
                                         VT_I4,    VT_UI4,  VT_INT, VT_UINT, VT_I8,  VT_UI8,
                                         VT_R4,    VT_R8,   VT_CY,  VT_DATE, VT_BOOL, VT_BSTR,
                                         VT_DECIMAL, VT_DISPATCH, VT_UNKNOWN, VT_ERROR,
                                         VT_ARRAY | VT_VARIANT};
  for (VARTYPE vt : kTargets) {
    Scoped out;
    const HRESULT hr = VariantChangeType(&out.v, &source, 0, vt);
    if (SUCCEEDED(hr) && out.v.vt != vt) std::abort();
    if (FAILED(hr) && out.v.vt != VT_EMPTY) std::abort();
  }
  // Integers of every width survive the trip through their text.
  static constexpr VARTYPE kIntegers[] = {VT_I1, VT_UI1, VT_I2, VT_UI2, VT_I4, VT_UI4,
                                          VT_INT, VT_UINT, VT_I8, VT_UI8};
  if (std::find(std::begin(kIntegers), std::end(kIntegers), source.vt) == std::end(kIntegers)) {
    return;
  }
  Scoped text;
  Scoped back;
  Scoped again;
  if (FAILED(VariantChangeType(&text.v, &source, 0, VT_BSTR)) ||
      FAILED(VariantChangeType(&back.v, &text.v, 0, source.vt)) ||
      FAILED(VariantChangeType(&again.v, &back.v, 0, VT_BSTR)) ||
      SysStringLen(text.v.bstrVal) != SysStringLen(again.v.bstrVal) ||
      std::memcmp(text.v.bstrVal, again.v.bstrVal, SysStringByteLen(text.v.bstrVal)) != 0) {
    std::abort();
  }
}

void Exercise(const VARIANT& source, Input& in) {
  Scoped copy;
  Scoped ind;
  if (FAILED(VariantCopy(&copy.v, &source))) std::abort();
  (void)VariantCopyInd(&ind.v, &source);
  Convert(source);
  Convert(ind.v);
  Scoped inPlace;
  if (SUCCEEDED(VariantCopyInd(&inPlace.v, &source))) {
    (void)VariantChangeType(&inPlace.v, &inPlace.v, 0, kScalarTypes[in.Below(std::size(kScalarTypes))]);
  }

  try {
    const OleVariant value(source);
    (void)value.AsInteger();
  } catch (const Exception&) {
  }
  try {
    const OleVariant value(source);
    (void)value.AsString();
    (void)value.AsBoolean();
  } catch (const Exception&) {
  }
  try {
    const OleVariant value(source);
    (void)value.AsDate();
  } catch (const Exception&) {
  }
  (void)VariantsEqual(source, copy.v);

  const OleVariant holder(source);
  SAFEARRAY* array = holder.Array();
  if (!array) return;
  SAFEARRAY* deep = nullptr;
  if (FAILED(SafeArrayCopy(array, &deep))) std::abort();
  std::vector<LONG> index(array->cDims);
  for (LONG& i : index) i = static_cast<LONG>(in.Below(5)) - 2;
  try {
    OleVariant writable = OleVariant::CopyInd(source);
    const OleVariant element = writable.GetElement(index);
    writable.PutElement(index, OleVariant("7"));
    writable.PutElement(index, element);
  } catch (const Exception&) {
  }
  if (FAILED(SafeArrayDestroy(deep))) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  CountedDispatch dispatch;
  {
    Input in(data, size);
    Referents refs;
    Builder builder(in, dispatch, refs);
    Scoped source;
    builder.Value(source.v, 0);
    Exercise(source.v, in);
  }
  if (dispatch.RefCount() != 1) std::abort();  // every reference taken was given back
  return 0;
}
