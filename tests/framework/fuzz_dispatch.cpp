// Random host calls on an access-controller object: random argument lists (every variant type,
// nested and typed arrays, by-reference chains, null references) sent through Invoke to all 21
// methods, with random DispIDs and flags. Every call must come back without a crash or a leak.
#include <fuzzer/FuzzedDataProvider.h>

#include <deque>
#include <string>
#include <vector>

#include "framework/base_access_controller.h"
#include "platform/com_object.h"

namespace {

// A callback object that knows no method: every host callback fails cleanly. A static: the
// arguments borrow it without a reference of their own, so its count never frees it.
class RefusingHost final : public ComObject<IDispatch> {
 public:
  HRESULT QueryInterface(REFIID, void** object) override {
    *object = nullptr;
    return E_NOINTERFACE;
  }
  HRESULT GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID* ids) override {
    ids[0] = DISPID_UNKNOWN;
    return DISP_E_UNKNOWNNAME;
  }
  HRESULT Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
    return DISP_E_MEMBERNOTFOUND;
  }

 private:
  void LastReleased() noexcept override {}
};

RefusingHost refusingHost;

// Keeps the debug log off whatever settings the input sends.
class FuzzAC : public TBaseAC {
 protected:
  void SettingsChanged() override { SetSettingValue("DebugLogEnabled", OleVariant(false)); }
};

class ArgumentBuilder {
 public:
  explicit ArgumentBuilder(FuzzedDataProvider& in) : in_(in) {}
  ArgumentBuilder(const ArgumentBuilder&) = delete;
  ArgumentBuilder& operator=(const ArgumentBuilder&) = delete;
  ~ArgumentBuilder() {
    for (VARIANT& v : args) VariantClear(&v);
    for (VARIANT& v : variables_) VariantClear(&v);
  }

  // One host argument slot: a value or a reference to a variable kept here.
  VARIANT Slot(int depth) {
    switch (in_.ConsumeIntegralInRange<int>(0, 5)) {
      case 0: return RefToVariable(Value(depth));
      case 1: return RefChain(depth);
      case 2: return TypedRef();
      case 3: return NullRef();
      default: return Value(depth);
    }
  }

  std::vector<VARIANT> args;  // in DISPPARAMS order (reversed)

 private:
  VARIANT Value(int depth) {
    VARIANT v;
    VariantInit(&v);
    const int kind = in_.ConsumeIntegralInRange<int>(0, depth > 2 ? 16 : 19);
    switch (kind) {
      case 0: break;
      case 1: v.vt = VT_NULL; break;
      case 2: v.vt = VT_I2; v.iVal = in_.ConsumeIntegral<std::int16_t>(); break;
      case 3: v.vt = VT_I4; v.lVal = in_.ConsumeIntegral<std::int32_t>(); break;
      case 4: v.vt = VT_R8; v.dblVal = in_.ConsumeFloatingPoint<double>(); break;
      case 5: v.vt = VT_DATE; v.date = in_.ConsumeFloatingPointInRange<double>(-700000, 2900000); break;
      case 6: v.vt = VT_BOOL; v.boolVal = in_.ConsumeBool() ? VARIANT_TRUE : VARIANT_FALSE; break;
      case 7: v.vt = VT_BSTR; v.bstrVal = Text(); break;
      case 8: v.vt = VT_I8; v.llVal = in_.ConsumeIntegral<std::int64_t>(); break;
      case 9: v.vt = VT_UI4; v.ulVal = in_.ConsumeIntegral<std::uint32_t>(); break;
      case 10: v.vt = VT_UI1; v.bVal = in_.ConsumeIntegral<std::uint8_t>(); break;
      case 11: v.vt = VT_I1; v.cVal = in_.ConsumeIntegral<std::int8_t>(); break;
      case 12: v.vt = VT_UI2; v.uiVal = in_.ConsumeIntegral<std::uint16_t>(); break;
      case 13: v.vt = VT_R4; v.fltVal = in_.ConsumeFloatingPoint<float>(); break;
      case 14: v.vt = VT_CY; v.cyVal.int64 = in_.ConsumeIntegral<std::int64_t>(); break;
      case 15: v.vt = VT_ERROR; v.scode = in_.ConsumeIntegral<std::int32_t>(); break;
      case 16: v.vt = VT_DISPATCH; v.pdispVal = in_.ConsumeBool() ? &refusingHost : nullptr; break;
      case 17: return VariantArray(depth);
      case 18: return TypedArray();
      default: return Table(depth);
    }
    return v;
  }

  BSTR Text() {
    const std::string bytes = in_.ConsumeRandomLengthString(40);
    std::u16string wide;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
      wide.push_back(static_cast<char16_t>((static_cast<unsigned char>(bytes[i]) << 8) |
                                           static_cast<unsigned char>(bytes[i + 1])));
    }
    if (in_.ConsumeBool()) wide = u"GetEvents";  // a name the object knows, sometimes
    return SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
  }

  VARIANT VariantArray(int depth) {
    const LONG low = in_.ConsumeIntegralInRange<LONG>(-2, 2);
    const ULONG count = in_.ConsumeIntegralInRange<ULONG>(0, 4);
    SAFEARRAY* psa = SafeArrayCreateVector(VT_VARIANT, low, count);
    for (ULONG i = 0; i < count; ++i) {
      VARIANT element = Value(depth + 1);
      LONG index = low + static_cast<LONG>(i);
      SafeArrayPutElement(psa, &index, &element);
      VariantClear(&element);
    }
    return Wrap(psa, VT_VARIANT);
  }

  VARIANT Table(int depth) {
    SAFEARRAYBOUND bounds[2] = {{in_.ConsumeIntegralInRange<ULONG>(0, 7), 0},
                                {in_.ConsumeIntegralInRange<ULONG>(0, 3),
                                 in_.ConsumeIntegralInRange<LONG>(-1, 5)}};
    SAFEARRAY* psa = SafeArrayCreate(VT_VARIANT, 2, bounds);
    for (ULONG f = 0; f < bounds[0].cElements; ++f) {
      for (ULONG j = 0; j < bounds[1].cElements; ++j) {
        if (!in_.ConsumeBool()) continue;
        VARIANT element = Value(depth + 1);
        LONG index[2] = {static_cast<LONG>(f), bounds[1].lLbound + static_cast<LONG>(j)};
        SafeArrayPutElement(psa, index, &element);
        VariantClear(&element);
      }
    }
    return Wrap(psa, VT_VARIANT);
  }

  VARIANT TypedArray() {
    const bool texts = in_.ConsumeBool();
    const ULONG count = in_.ConsumeIntegralInRange<ULONG>(0, 3);
    SAFEARRAY* psa = SafeArrayCreateVector(texts ? VT_BSTR : VT_I4, 0, count);
    for (ULONG i = 0; i < count; ++i) {
      LONG index = static_cast<LONG>(i);
      if (texts) {
        BSTR text = Text();
        SafeArrayPutElement(psa, &index, text);
        SysFreeString(text);
      } else {
        LONG value = in_.ConsumeIntegral<LONG>();
        SafeArrayPutElement(psa, &index, &value);
      }
    }
    return Wrap(psa, texts ? VT_BSTR : VT_I4);
  }

  static VARIANT Wrap(SAFEARRAY* psa, VARTYPE element) {
    VARIANT v;
    VariantInit(&v);
    if (psa != nullptr) {
      v.vt = static_cast<VARTYPE>(VT_ARRAY | element);
      v.parray = psa;
    }
    return v;
  }

  VARIANT RefToVariable(VARIANT value) {
    variables_.push_back(value);
    VARIANT ref;
    VariantInit(&ref);
    ref.vt = VT_VARIANT | VT_BYREF;
    ref.pvarVal = &variables_.back();
    return ref;
  }

  VARIANT RefChain(int depth) {
    VARIANT v = RefToVariable(Value(depth));
    const int links = in_.ConsumeIntegralInRange<int>(1, 3);
    for (int i = 0; i < links; ++i) v = RefToVariable(v);
    return v;
  }

  // vt|VT_BYREF pointing into a variable of type vt.
  VARIANT TypedRef() {
    static const VARTYPE kTypes[] = {VT_I2,   VT_I4,   VT_R4,    VT_R8,   VT_CY,
                                     VT_DATE, VT_BSTR, VT_BOOL,  VT_UI1,  VT_UI2,
                                     VT_UI4,  VT_I1,   VT_I8,    VT_ERROR, VT_DISPATCH};
    const bool array = in_.ConsumeBool() && in_.ConsumeBool();
    VARIANT storage;
    VariantInit(&storage);
    if (array) {
      storage = in_.ConsumeBool() ? VariantArray(3) : TypedArray();
      if (storage.vt == VT_EMPTY) return storage;
    } else {
      VARIANT source = Value(3);
      const VARTYPE vt = kTypes[in_.ConsumeIntegralInRange<std::size_t>(0, std::size(kTypes) - 1)];
      if (FAILED(VariantChangeType(&storage, &source, 0, vt))) {
        VariantClear(&storage);
        storage.vt = vt;  // zero of that type
        if (vt == VT_BSTR) storage.bstrVal = nullptr;
      }
      VariantClear(&source);
    }
    variables_.push_back(storage);
    VARIANT ref;
    VariantInit(&ref);
    ref.vt = static_cast<VARTYPE>(variables_.back().vt | VT_BYREF);
    ref.byref = array ? static_cast<void*>(&variables_.back().parray)
                      : static_cast<void*>(&variables_.back().llVal);
    return ref;
  }

  VARIANT NullRef() {
    static const VARTYPE kTypes[] = {VT_VARIANT, VT_I4, VT_BSTR, VT_ARRAY | VT_VARIANT, VT_BOOL};
    VARIANT ref;
    VariantInit(&ref);
    ref.vt = static_cast<VARTYPE>(
        kTypes[in_.ConsumeIntegralInRange<std::size_t>(0, std::size(kTypes) - 1)] | VT_BYREF);
    return ref;
  }

  FuzzedDataProvider& in_;
  std::deque<VARIANT> variables_;
};

void OneCall(IDispatch* dispatch, FuzzedDataProvider& in) {
  ArgumentBuilder builder(in);
  const UINT count = in.ConsumeIntegralInRange<UINT>(0, 5);
  for (UINT i = 0; i < count; ++i) builder.args.push_back(builder.Slot(0));
  DISPPARAMS params{builder.args.empty() ? nullptr : builder.args.data(), nullptr, count, 0};
  DISPID id = in.ConsumeIntegralInRange<DISPID>(-2, 33);
  if (in.ConsumeBool() && in.ConsumeBool()) id = in.ConsumeIntegral<DISPID>();
  WORD flags = DISPATCH_METHOD;
  if (in.ConsumeBool() && in.ConsumeBool()) flags = in.ConsumeIntegral<WORD>();
  VARIANT result;
  VariantInit(&result);
  EXCEPINFO excep{};
  dispatch->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, flags, &params,
                   in.ConsumeBool() ? &result : nullptr, &excep, nullptr);
  VariantClear(&result);
  ClearExcepInfo(&excep);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzedDataProvider in(data, size);
  auto object = CreateComObject<FuzzAC>();
  IDispatch* dispatch = AsDispatch(object.Get());
  const int calls = in.ConsumeIntegralInRange<int>(1, 4);
  for (int i = 0; i < calls && in.remaining_bytes() > 0; ++i) OneCall(dispatch, in);
  return 0;
}
