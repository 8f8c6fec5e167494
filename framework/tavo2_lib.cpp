#include "framework/tavo2_lib.h"

#include <cstdio>
#include <cstring>
#include <limits>

#include "framework/equipment_errors.h"
#include "platform/date_time.h"
#include "platform/exceptions.h"
#include "platform/locale_profile.h"
#include "platform/module_info.h"
#include "platform/special_folders.h"
#include "platform/text.h"

// The version words of the module that links the framework (read back by GetFileVersionWords).
TAVO_DEFINE_VERSION_STAMP(TAVO_VERSION_MAJOR, TAVO_VERSION_MINOR, TAVO_VERSION_RELEASE,
                          TAVO_VERSION_BUILD);

namespace {

#define RES(id, name, text) constexpr std::string_view name = text;
#include "resources/strings/tavo2_lib.def"
#undef RES

// Longer chains than this are taken as broken (a host could hand over a chain that loops).
constexpr int kMaxLinks = 64;
// Nesting beyond this depth is not written into the log.
constexpr int kMaxLogDepth = 32;

bool IsNullReference(const VARIANT& v) { return (v.vt & VT_BYREF) != 0 && v.byref == nullptr; }

// The SAFEARRAY a variant holds, directly or by reference; nullptr for anything else.
SAFEARRAY* ArrayOf(const VARIANT& v) {
  if ((v.vt & VT_ARRAY) == 0) return nullptr;
  if (v.vt & VT_BYREF) return v.pparray ? *v.pparray : nullptr;
  return v.parray;
}

// Storage size of an array element of a scalar type; 0 for types an element cannot have.
std::size_t ScalarElementSize(VARTYPE vt) {
  switch (vt) {
    case VT_I1: case VT_UI1: return 1;
    case VT_I2: case VT_UI2: case VT_BOOL: return 2;
    case VT_I4: case VT_UI4: case VT_R4: case VT_ERROR: case VT_INT: case VT_UINT: return 4;
    case VT_I8: case VT_UI8: case VT_R8: case VT_CY: case VT_DATE: return 8;
    case VT_BSTR: case VT_DISPATCH: case VT_UNKNOWN: return sizeof(void*);
    case VT_DECIMAL: return sizeof(DECIMAL);
    default: return 0;
  }
}

bool InBounds(SAFEARRAY* psa, UINT dim, LONG index) {
  LONG low = 0, high = -1;
  if (FAILED(SafeArrayGetLBound(psa, dim, &low)) || FAILED(SafeArrayGetUBound(psa, dim, &high))) {
    return false;
  }
  return index >= low && index <= high;
}

std::string WithTrailingSlash(std::string path) {
  if (path.empty() || path.back() != '/') path += '/';
  return path;
}

std::string FolderName(int folderId) {
  if (folderId == CSIDL_COMMON_APPDATA) return std::string(SFolderCommonAppData);
  if (folderId == CSIDL_APPDATA) return std::string(SFolderAppData);
  return std::string(SFolderOther) + std::to_string(folderId);
}

// --- AssignToByRefVariant parts ------------------------------------------------------------

void AssignCopy(VARIANT& dest, const VARIANT* value) {
  VARIANT copy;
  VariantInit(&copy);
  if (value != nullptr && !IsNullReference(*value)) {
    HRESULT hr = VariantCopyInd(&copy, value);
    if (FAILED(hr)) {
      VariantClear(&copy);
      throw EVariantTypeCastError(std::string(SInvalidParams));
    }
  }
  VariantClear(&dest);
  dest = copy;
}

// A by-reference array: Empty clears it, an array of the same element type replaces it.
void AssignArray(VARIANT& dest, const VARIANT* value) {
  SAFEARRAY** slot = dest.pparray;
  if (value == nullptr || value->vt == VT_EMPTY) {
    if (*slot != nullptr) {
      if (FAILED(SafeArrayDestroy(*slot))) throw EVariantError(std::string(SInvalidParams));
      *slot = nullptr;
    }
    return;
  }
  if ((value->vt & VT_ARRAY) == 0 || (value->vt & VT_TYPEMASK) != (dest.vt & VT_TYPEMASK)) {
    throw Exception(std::string(SInvalidParams));
  }
  SAFEARRAY* source = ArrayOf(*value);
  SAFEARRAY* copy = nullptr;
  if (source != nullptr && FAILED(SafeArrayCopy(source, &copy))) {
    throw EVariantError(std::string(SInvalidParams));
  }
  if (*slot != nullptr && FAILED(SafeArrayDestroy(*slot))) {
    if (copy != nullptr) SafeArrayDestroy(copy);
    throw EVariantError(std::string(SInvalidParams));
  }
  *slot = copy;
}

std::uint32_t ToUInt32Bits(const OleVariant& value) {
  std::int64_t n = value.AsInt64();
  if (n < std::numeric_limits<std::int32_t>::min() || n > std::numeric_limits<std::uint32_t>::max()) {
    throw EVariantOverflowError(std::string(SInvalidParams));
  }
  return static_cast<std::uint32_t>(n);
}

IDispatch* ToDispatch(const OleVariant& value) {
  if (value.IsEmpty()) return nullptr;
  IDispatch* dispatch = value.AsDispatch();
  if (dispatch == nullptr) throw EVariantTypeCastError(std::string(SNoDispatchValue));
  return dispatch;
}

// A typed by-reference destination: Value converted to the destination's type.
void AssignScalar(VARIANT& dest, const VARIANT* valuePtr) {
  OleVariant value = valuePtr ? OleVariant(*valuePtr) : OleVariant();
  switch (dest.vt & VT_TYPEMASK) {
    case VT_UI1: *dest.pbVal = static_cast<BYTE>(value.AsInteger()); break;
    case VT_I2: *dest.piVal = static_cast<std::int16_t>(value.AsInteger()); break;
    case VT_UI2: *dest.puiVal = static_cast<USHORT>(value.AsInteger()); break;
    case VT_I4: *dest.plVal = value.AsInteger(); break;
    case VT_UI4: *dest.pulVal = ToUInt32Bits(value); break;
    case VT_R4: *dest.pfltVal = value.ChangedTo(VT_R4).Raw().fltVal; break;
    case VT_R8: *dest.pdblVal = value.AsDouble(); break;
    case VT_DATE: *dest.pdate = value.AsDouble(); break;
    case VT_CY: *dest.pcyVal = value.ChangedTo(VT_CY).Raw().cyVal; break;
    case VT_BSTR: {
      VARIANT text = value.ChangedTo(VT_BSTR).Detach();  // Null has no text: it raises
      SysFreeString(*dest.pbstrVal);
      *dest.pbstrVal = text.bstrVal;
      break;
    }
    case VT_BOOL: *dest.pboolVal = value.AsBoolean() ? VARIANT_TRUE : VARIANT_FALSE; break;
    case VT_DISPATCH: {
      IDispatch* fresh = ToDispatch(value);
      if (fresh) fresh->AddRef();
      IDispatch* old = *dest.ppdispVal;
      *dest.ppdispVal = fresh;
      if (old) old->Release();
      break;
    }
    default: throw Exception(std::string(SInvalidParams));
  }
}

// --- Log text ---------------------------------------------------------------------------------

std::string QuotedLogText(const std::string& text) {
  std::string out = "'";
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
      out += "\\n";
      ++i;
    } else {
      out += text[i];
    }
  }
  out += '\'';
  return out;
}

std::string PointerText(const void* p) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "$%08llX",
                static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(p)));
  return buffer;
}

std::string Utf8OfCodePoint(unsigned code) {
  std::u16string one(1, static_cast<char16_t>(code));
  return Utf16ToUtf8(one);
}

std::string VarToLogTextAt(const VARIANT& v, int depth);

std::string DimToLogText(SAFEARRAY* psa, UINT dim, std::vector<LONG>& indices, int depth) {
  std::string out = "(";
  LONG low = 0, high = -1;
  SafeArrayGetLBound(psa, dim, &low);
  SafeArrayGetUBound(psa, dim, &high);
  for (LONG i = low; i <= high; ++i) {
    indices[dim - 1] = i;
    if (dim == 1) {
      OleVariant element = SafeArrayElementAsVariant(psa, indices.data());
      out += VarToLogTextAt(element.Raw(), depth + 1);
      if (i != high) out += "; ";
    } else {
      out += DimToLogText(psa, dim - 1, indices, depth);
    }
  }
  out += ')';
  return out;
}

std::string VarArrayToLogTextAt(const VARIANT& v, int depth) {
  const VARIANT* target = FollowVariantLinks(v);
  if (target == nullptr || (target->vt & VT_ARRAY) == 0) return VarToLogTextAt(v, depth);
  SAFEARRAY* psa = ArrayOf(*target);
  if (psa == nullptr || depth > kMaxLogDepth) return "[]";
  UINT dims = SafeArrayGetDim(psa);
  if (dims == 0) return "[]";
  std::vector<LONG> indices(dims, 0);
  for (UINT d = 1; d <= dims; ++d) SafeArrayGetLBound(psa, d, &indices[d - 1]);
  std::string out = "[";
  out += DimToLogText(psa, dims, indices, depth);
  out += ']';
  return out;
}

std::string ScalarLogText(const VARIANT& v) {
  OleVariant value;
  DerefVariant(v, value);
  const VARIANT& raw = value.Raw();
  switch (raw.vt) {
    case VT_EMPTY: return "EMPTY";
    case VT_NULL: return "NULL";
    case VT_I2: return std::to_string(raw.iVal);
    case VT_I4: return std::to_string(raw.lVal);
    case VT_R4: case VT_R8: case VT_CY: return locale_profile::FormatFloat(value.AsDouble());
    case VT_DATE: return locale_profile::FormatDate(raw.date);
    case VT_BSTR: return QuotedLogText(BstrToUtf8(raw.bstrVal));
    case VT_DISPATCH: return PointerText(raw.pdispVal);
    case VT_BOOL: return raw.boolVal ? "True" : "False";
    case VT_UI1: return Utf8OfCodePoint(raw.bVal);
    default: return {};
  }
}

std::string VarToLogTextAt(const VARIANT& v, int depth) {
  const VARIANT* target = FollowVariantLinks(v);
  if (target != nullptr && (target->vt & VT_ARRAY) != 0) return VarArrayToLogTextAt(v, depth);
  if (v.vt == (VT_VARIANT | VT_BYREF)) {
    if (target == nullptr) return {};
    try {
      return OleVariant(*target).AsString();
    } catch (const std::exception&) {
      return {};
    }
  }
  if (IsNullReference(v)) return {};
  return ScalarLogText(v);
}

}  // namespace

// --- Records -------------------------------------------------------------------------------------

std::string ShortString(std::string_view text) { return Utf8Left(text, kShortStringLength); }

namespace {

bool IsAscii(std::string_view text) {
  for (char c : text) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

bool SameName(std::string_view a, std::string_view b) {
  // Case folding keeps ASCII within ASCII, so an ASCII text only equals an ASCII one of its length.
  if (a.size() != b.size()) return (IsAscii(a) || IsAscii(b)) ? false : SameText(a, b);
  for (std::size_t i = 0; i < a.size(); ++i) {
    const char x = a[i], y = b[i];
    if (static_cast<unsigned char>(x) >= 0x80 || static_cast<unsigned char>(y) >= 0x80) {
      return SameText(a, b);
    }
    if (AsciiLower(x) != AsciiLower(y)) return false;
  }
  return true;
}

// --- Host values -------------------------------------------------------------------------------

bool IsOrdinalVarType(VARTYPE vt) noexcept {
  switch (vt) {
    case VT_I1: case VT_I2: case VT_I4: case VT_I8:
    case VT_UI1: case VT_UI2: case VT_UI4: case VT_BOOL:
      return true;
    default:
      return false;
  }
}

const VARIANT* FollowVariantLinks(const VARIANT& v) noexcept {
  const VARIANT* current = &v;
  for (int i = 0; i < kMaxLinks; ++i) {
    if (current->vt != (VT_VARIANT | VT_BYREF)) return current;
    current = current->pvarVal;
    if (current == nullptr) return nullptr;
  }
  return nullptr;
}

VARIANT* FollowVariantLinks(VARIANT& v) noexcept {
  return const_cast<VARIANT*>(FollowVariantLinks(static_cast<const VARIANT&>(v)));
}

void DerefVariant(const VARIANT& Source, OleVariant& Dest) {
  Dest.Clear();
  const VARIANT* v = FollowVariantLinks(Source);
  if (v == nullptr || IsNullReference(*v)) return;
  if ((v->vt & VT_ARRAY) != 0 && ArrayOf(*v) == nullptr) return;
  VARIANT copy;
  VariantInit(&copy);
  if (FAILED(VariantCopyInd(&copy, v))) {
    VariantClear(&copy);
    return;
  }
  Dest = OleVariant::Attach(copy);
}

void AssignToByRefVariant(VARIANT& Dest, const VARIANT& Value) {
  VARIANT* dest = FollowVariantLinks(Dest);
  if (dest == nullptr) return;
  const VARIANT* value = FollowVariantLinks(Value);
  if ((dest->vt & VT_BYREF) == 0) {
    AssignCopy(*dest, value);
    return;
  }
  if (dest->byref == nullptr) return;
  if (value != nullptr && IsNullReference(*value)) value = nullptr;
  if (dest->vt & VT_ARRAY) {
    AssignArray(*dest, value);
  } else {
    AssignScalar(*dest, value);
  }
}

OleVariant SafeArrayElementAsVariant(SAFEARRAY* Psa, const LONG* Indices) {
  VARTYPE vt = VT_EMPTY;
  void* element = nullptr;
  if (Psa == nullptr || FAILED(SafeArrayGetVartype(Psa, &vt)) ||
      FAILED(SafeArrayPtrOfIndex(Psa, Indices, &element)) || element == nullptr) {
    return {};
  }
  VARIANT out;
  VariantInit(&out);
  if (vt == VT_VARIANT) {
    if (FAILED(VariantCopy(&out, static_cast<const VARIANT*>(element)))) VariantClear(&out);
    return OleVariant::Attach(out);
  }
  std::size_t size = ScalarElementSize(vt);
  if (size == 0 || SafeArrayGetElemsize(Psa) != size) return {};
  VARIANT view;
  VariantInit(&view);
  view.vt = vt;
  std::memcpy(&view.llVal, element, size);
  if (FAILED(VariantCopy(&out, &view))) VariantClear(&out);
  return OleVariant::Attach(out);
}

void SafeArrayGetElements(SAFEARRAY* Psa, std::span<OleVariant* const> Targets) {
  for (OleVariant* target : Targets) target->Clear();
  if (Psa == nullptr || SafeArrayGetDim(Psa) != 1) return;
  for (std::size_t i = 0; i < Targets.size(); ++i) {
    LONG index = static_cast<LONG>(i);
    if (InBounds(Psa, 1, index)) *Targets[i] = SafeArrayElementAsVariant(Psa, &index);
  }
}

void SafeArrayGetElements(SAFEARRAY* Psa, std::initializer_list<OleVariant*> Targets) {
  SafeArrayGetElements(Psa, std::span<OleVariant* const>(Targets.begin(), Targets.size()));
}

void VarArrayGetElements(const VARIANT& Source, std::span<OleVariant* const> Targets) {
  const VARIANT* v = FollowVariantLinks(Source);
  SafeArrayGetElements(v ? ArrayOf(*v) : nullptr, Targets);
}

void VarArrayGetElements(const VARIANT& Source, std::initializer_list<OleVariant*> Targets) {
  VarArrayGetElements(Source, std::span<OleVariant* const>(Targets.begin(), Targets.size()));
}

void VarArrayGetRow(const VARIANT& Source, LONG Item, std::span<OleVariant* const> Targets) {
  for (OleVariant* target : Targets) target->Clear();
  const VARIANT* v = FollowVariantLinks(Source);
  SAFEARRAY* psa = v ? ArrayOf(*v) : nullptr;
  if (psa == nullptr || SafeArrayGetDim(psa) != 2 || !InBounds(psa, 2, Item)) return;
  for (std::size_t i = 0; i < Targets.size(); ++i) {
    LONG indices[2] = {static_cast<LONG>(i), Item};
    if (InBounds(psa, 1, indices[0])) *Targets[i] = SafeArrayElementAsVariant(psa, indices);
  }
}

void VarArrayGetRow(const VARIANT& Source, LONG Item, std::initializer_list<OleVariant*> Targets) {
  VarArrayGetRow(Source, Item, std::span<OleVariant* const>(Targets.begin(), Targets.size()));
}

void SafeArrayPutVariant(SAFEARRAY* Psa, LONG Index, const VARIANT& Value) {
  if (Psa != nullptr) SafeArrayPutElement(Psa, &Index, &Value);
}

OleVariant WrapInArray(OleVariant Value) {
  OleVariant outer = OleVariant::VarArrayCreate({{0, 0}});
  LONG index = 0;
  void* element = nullptr;
  if (FAILED(SafeArrayPtrOfIndex(outer.Array(), &index, &element))) {
    outer.PutElement({0}, Value);
    return outer;
  }
  VARIANT& slot = *static_cast<VARIANT*>(element);
  VariantClear(&slot);
  slot = Value.Detach();
  return outer;
}

void MakeErrorResult(std::int32_t Code, std::string_view Text, const VARIANT& Extra,
                     OleVariant& Result) {
  std::string text = ErrorText(Code, Text);
  OleVariant extra;
  DerefVariant(Extra, extra);
  LONG high = extra.IsEmpty() ? 1 : 2;
  OleVariant array = OleVariant::VarArrayCreate({{0, high}});
  array.PutElement({0}, OleVariant(Code));
  array.PutElement({1}, OleVariant(text));
  if (high == 2) array.PutElement({2}, extra);
  Result = std::move(array);
}

// --- Names ---------------------------------------------------------------------------------------

std::string SettingTypeName(std::uint8_t SettingType) {
  switch (SettingType) {
    case stNumber: return "Number";
    case stString: return "String";
    case stDate: return "Date";
    case stBoolean: return "Boolean";
    default: return {};
  }
}

std::string EquipmentTypeName(std::string_view TypeId) {
  static constexpr std::pair<std::string_view, std::string_view> kNames[] = {
      {"Unknown", SEquipUnknown},
      {"Template", SEquipTemplate},
      {"Scanner", SEquipScanner},
      {"FiscalPrinter", SEquipFiscalPrinter},
      {"AcquiringTerminal", SEquipAcquiringTerminal},
      {"DataCollectionTerminal", SEquipDataCollectionTerminal},
      {"LineDisplay", SEquipLineDisplay},
      {"CardReader", SEquipCardReader},
      {"Scale", SEquipScale},
      {"ServicePrinter", SEquipServicePrinter},
      {"AccessController", SEquipAccessController},
      {"LabelPrinter", SEquipLabelPrinter},
      {"BiometricReader", SEquipBiometricReader},
      {"ElectronicLocks", SEquipElectronicLocks},
      {"SMSCommunicator", SEquipSMSCommunicator},
      {"EventLogger", SEquipEventLogger},
      {"TimePhasedServicesController", SEquipTimePhasedServicesController},
      {"CustomerFeedbackTerminal", SEquipCustomerFeedbackTerminal},
      {"BillValidator", SEquipBillValidator},
  };
  for (const auto& [id, name] : kNames) {
    if (id == TypeId) return std::string(name);
  }
  return std::string(TypeId);
}

// --- Files and folders ---------------------------------------------------------------------------

std::string GetSpecialFolder(int FolderId) {
  std::string path;
  if (GetSpecialFolderPath(FolderId, true, path)) return WithTrailingSlash(path);
  if (GetSpecialFolderPath(CSIDL_APPDATA, true, path)) return WithTrailingSlash(path);
  throw EInOutError(std::string(SFolderUnavailable) + FolderName(FolderId));
}

std::string GetCommonAppDataFolder() { return GetSpecialFolder(CSIDL_COMMON_APPDATA); }

std::string GetModuleFileNameStr() {
  static const char anchor = 0;
  return ModuleFileNameOf(&anchor);
}

void GetFileVersionWords(const std::string& FileName, WORD Words[4]) {
  for (int i = 0; i < 4; ++i) Words[i] = 0;
  const std::string path = FileName.empty() ? GetModuleFileNameStr() : FileName;
  if (path.empty() || !ReadFileVersionWords(path, Words)) {
    for (int i = 0; i < 4; ++i) Words[i] = 0;
  }
}

// --- Log text ------------------------------------------------------------------------------------

std::string VarToLogText(const VARIANT& V) { return VarToLogTextAt(V, 0); }

std::string VarArrayToLogText(const VARIANT& V) { return VarArrayToLogTextAt(V, 0); }
