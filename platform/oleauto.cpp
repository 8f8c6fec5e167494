// BSTR, VARIANT and SAFEARRAY with the OLE Automation semantics; the one allocator that the host
// program and the driver library share.
#include "platform/oleauto.h"

#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "platform/locale_profile.h"
#include "platform/text.h"

namespace {

using Int128 = __int128;

// --- BSTR storage: a 4-byte byte length, the characters, a terminating NUL. -------------------
constexpr std::size_t kBstrPrefix = sizeof(std::uint32_t);
constexpr UINT kBstrMaxLength = 0x3FFFFFF0;

void* BstrBlock(BSTR bstr) { return reinterpret_cast<char*>(bstr) - kBstrPrefix; }

std::uint32_t BstrBytes(BSTR bstr) {
  std::uint32_t bytes = 0;
  std::memcpy(&bytes, BstrBlock(bstr), kBstrPrefix);
  return bytes;
}

BSTR AllocBstr(UINT length) {
  if (length > kBstrMaxLength) return nullptr;
  void* block = std::malloc(kBstrPrefix + (std::size_t{length} + 1) * sizeof(OLECHAR));
  if (!block) return nullptr;
  const std::uint32_t bytes = length * sizeof(OLECHAR);
  std::memcpy(block, &bytes, kBstrPrefix);
  auto* text = reinterpret_cast<BSTR>(static_cast<char*>(block) + kBstrPrefix);
  text[length] = 0;
  return text;
}

BSTR DuplicateBstr(BSTR bstr) { return bstr ? SysAllocStringLen(bstr, SysStringLen(bstr)) : nullptr; }

// --- Type codes -------------------------------------------------------------------------------
// The size of one value of a base type as an array element or behind a reference; 0 when the
// type cannot be stored that way.
ULONG ValueSize(VARTYPE vt) {
  switch (vt) {
    case VT_I1:
    case VT_UI1:
      return 1;
    case VT_I2:
    case VT_UI2:
    case VT_BOOL:
      return 2;
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_R4:
    case VT_ERROR:
      return 4;
    case VT_I8:
    case VT_UI8:
    case VT_R8:
    case VT_CY:
    case VT_DATE:
      return 8;
    case VT_BSTR:
    case VT_DISPATCH:
    case VT_UNKNOWN:
      return sizeof(void*);
    case VT_VARIANT:
      return sizeof(VARIANT);
    case VT_DECIMAL:
      return sizeof(DECIMAL);
    default:
      return 0;
  }
}

bool IsValidVarType(VARTYPE vt) {
  const VARTYPE base = vt & VT_TYPEMASK;
  const VARTYPE flags = vt & static_cast<VARTYPE>(~VT_TYPEMASK);
  if ((flags & ~(VT_ARRAY | VT_BYREF)) != 0) return false;
  if (flags != 0) return ValueSize(base) != 0;
  return base == VT_EMPTY || base == VT_NULL || (base != VT_VARIANT && ValueSize(base) != 0);
}

bool IsInterface(VARTYPE vt) { return vt == VT_DISPATCH || vt == VT_UNKNOWN; }

// The union of a VARIANT as raw storage (DECIMAL is its largest member and starts it).
void* Payload(VARIANT& v) { return &v.decVal; }

constexpr int kMaxReferenceLinks = 64;

// A VARIANT that shows, without owning it, the value that src leads to through references.
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
    std::memcpy(Payload(view), current->byref, ValueSize(view.vt));
  }
  return S_OK;
}

// Makes out (uninitialised) an owning deep copy of src; by-reference values are copied as the
// reference. out is VT_EMPTY on failure.
HRESULT CopyValue(VARIANT& out, const VARIANT& src) {
  if (!IsValidVarType(src.vt)) {
    VariantInit(&out);
    return DISP_E_BADVARTYPE;
  }
  out = src;
  if (src.vt & VT_BYREF) return S_OK;
  if (src.vt & VT_ARRAY) {
    out.parray = nullptr;
    const HRESULT hr = SafeArrayCopy(src.parray, &out.parray);
    if (FAILED(hr)) out.vt = VT_EMPTY;
    return hr;
  }
  if (src.vt == VT_BSTR && src.bstrVal) {
    out.bstrVal = DuplicateBstr(src.bstrVal);
    if (!out.bstrVal) {
      out.vt = VT_EMPTY;
      return E_OUTOFMEMORY;
    }
  } else if (IsInterface(src.vt) && src.punkVal) {
    src.punkVal->AddRef();
  }
  return S_OK;
}

// --- Conversions ------------------------------------------------------------------------------
// A simple value read out of a VARIANT, in the form the conversions work on.
enum class Kind { Empty, Null, Int, Real, Date, Cy, Dec, Bool, Text, Other };

struct Scalar {
  Kind kind = Kind::Other;
  Int128 i = 0;        // Int; Cy (scaled by 10 000); Dec mantissa (signed); Bool (-1 or 0)
  double d = 0;        // Real, Date
  int scale = 0;       // Dec
  bool single = false;  // Real read from a 4-byte float
  std::u16string_view text;
};

Scalar ReadScalar(const VARIANT& v) {
  Scalar s;
  switch (v.vt) {
    case VT_EMPTY:
      s.kind = Kind::Empty;
      break;
    case VT_NULL:
      s.kind = Kind::Null;
      break;
    case VT_I1:
      s.kind = Kind::Int, s.i = v.cVal;
      break;
    case VT_UI1:
      s.kind = Kind::Int, s.i = v.bVal;
      break;
    case VT_I2:
      s.kind = Kind::Int, s.i = v.iVal;
      break;
    case VT_UI2:
      s.kind = Kind::Int, s.i = v.uiVal;
      break;
    case VT_I4:
    case VT_INT:
      s.kind = Kind::Int, s.i = v.lVal;
      break;
    case VT_UI4:
    case VT_UINT:
      s.kind = Kind::Int, s.i = v.ulVal;
      break;
    case VT_I8:
      s.kind = Kind::Int, s.i = v.llVal;
      break;
    case VT_UI8:
      s.kind = Kind::Int, s.i = v.ullVal;
      break;
    case VT_R4:
      s.kind = Kind::Real, s.d = v.fltVal, s.single = true;
      break;
    case VT_R8:
      s.kind = Kind::Real, s.d = v.dblVal;
      break;
    case VT_DATE:
      s.kind = Kind::Date, s.d = v.date;
      break;
    case VT_CY:
      s.kind = Kind::Cy, s.i = v.cyVal.int64;
      break;
    case VT_BOOL:
      s.kind = Kind::Bool, s.i = v.boolVal ? -1 : 0;
      break;
    case VT_DECIMAL:
      if (v.decVal.scale <= 28) {
        s.kind = Kind::Dec;
        s.i = (static_cast<Int128>(v.decVal.Hi32) << 64) | v.decVal.Lo64;
        if (v.decVal.sign & 0x80) s.i = -s.i;
        s.scale = v.decVal.scale;
      }
      break;
    case VT_BSTR:
      s.kind = Kind::Text;
      s.text = std::u16string_view(v.bstrVal, SysStringLen(v.bstrVal));
      break;
    default:
      break;
  }
  return s;
}

Int128 Pow10(int n) {
  Int128 result = 1;
  while (n-- > 0) result *= 10;
  return result;
}

// n / d rounded half to even (d > 0).
Int128 RoundDiv(Int128 n, Int128 d) {
  Int128 q = n / d;
  const Int128 r = n % d;
  const Int128 twice = (r < 0 ? -r : r) * 2;
  if (twice > d || (twice == d && (q & 1) != 0)) q += n < 0 ? -1 : 1;
  return q;
}

// Text of a BSTR as ASCII for parsing; false when it holds anything else or is too long.
bool AsciiText(std::u16string_view text, char (&buffer)[256], std::string_view& out) {
  if (text.size() >= sizeof buffer) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] >= 0x80) return false;
    buffer[i] = static_cast<char>(text[i]);
  }
  out = std::string_view(buffer, text.size());
  return true;
}

// Decimal digits (optional blanks and '+') of a value above the signed 64-bit range that still
// fits an unsigned 64-bit one, so that every VT_UI8 converts back from its text exactly.
bool TryParseLargeUnsigned(std::string_view text, std::uint64_t& value) {
  while (!text.empty() && static_cast<unsigned char>(text.front()) <= 0x20) text.remove_prefix(1);
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= 0x20) text.remove_suffix(1);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty() || text.front() < '0' || text.front() > '9') return false;
  const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
  return result.ec == std::errc() && result.ptr == text.data() + text.size();
}

bool IntegerRange(VARTYPE vt, Int128& lo, Int128& hi) {
  switch (vt) {
    case VT_I1:
      lo = INT8_MIN, hi = INT8_MAX;
      return true;
    case VT_UI1:
      lo = 0, hi = UINT8_MAX;
      return true;
    case VT_I2:
      lo = INT16_MIN, hi = INT16_MAX;
      return true;
    case VT_UI2:
      lo = 0, hi = UINT16_MAX;
      return true;
    case VT_I4:
    case VT_INT:
      lo = INT32_MIN, hi = INT32_MAX;
      return true;
    case VT_UI4:
    case VT_UINT:
      lo = 0, hi = UINT32_MAX;
      return true;
    case VT_I8:
      lo = INT64_MIN, hi = INT64_MAX;
      return true;
    case VT_UI8:
      lo = 0, hi = UINT64_MAX;
      return true;
    default:
      return false;
  }
}

// A real number rounded half to even into [lo, hi].
HRESULT RealToInteger(double d, Int128 lo, Int128 hi, Int128& out) {
  if (std::isnan(d)) return DISP_E_OVERFLOW;
  const double r = std::nearbyint(d);
  // lo and hi + 1 are powers of two (or 0) and so exact as doubles.
  if (r < static_cast<double>(lo) || r >= static_cast<double>(hi + 1)) return DISP_E_OVERFLOW;
  out = static_cast<Int128>(r);
  return S_OK;
}

HRESULT ToInteger(const Scalar& s, VARTYPE vt, Int128& out) {
  Int128 lo = 0;
  Int128 hi = 0;
  IntegerRange(vt, lo, hi);
  Int128 value = 0;
  switch (s.kind) {
    case Kind::Empty:
      out = 0;
      return S_OK;
    case Kind::Bool:  // True is all bits set, also in the unsigned types
      out = s.i == 0 ? 0 : (lo == 0 ? hi : -1);
      return S_OK;
    case Kind::Int:
      value = s.i;
      break;
    case Kind::Real:
      return RealToInteger(s.d, lo, hi, out);
    case Kind::Date:  // the day number
      return RealToInteger(std::isnan(s.d) ? s.d : std::trunc(s.d), lo, hi, out);
    case Kind::Cy:
      value = RoundDiv(s.i, 10000);
      break;
    case Kind::Dec:
      value = RoundDiv(s.i, Pow10(s.scale));
      break;
    case Kind::Text: {
      char buffer[256];
      std::string_view ascii;
      if (!AsciiText(s.text, buffer, ascii)) return DISP_E_TYPEMISMATCH;
      long long parsed = 0;
      double real = 0;
      std::uint64_t large = 0;
      if (locale_profile::TryParseInteger(ascii, parsed)) {
        value = parsed;
      } else if (TryParseLargeUnsigned(ascii, large)) {
        value = large;
      } else if (locale_profile::TryParseFloat(ascii, real)) {
        return RealToInteger(real, lo, hi, out);
      } else {
        return DISP_E_TYPEMISMATCH;
      }
      break;
    }
    default:
      return DISP_E_TYPEMISMATCH;
  }
  if (value < lo || value > hi) return DISP_E_OVERFLOW;
  out = value;
  return S_OK;
}

HRESULT ToReal(const Scalar& s, double& out) {
  switch (s.kind) {
    case Kind::Empty:
      out = 0;
      return S_OK;
    case Kind::Int:
    case Kind::Bool:
      out = static_cast<double>(s.i);
      return S_OK;
    case Kind::Real:
    case Kind::Date:
      out = s.d;
      return S_OK;
    case Kind::Cy:
      out = static_cast<double>(static_cast<long double>(s.i) / 10000.0L);
      return S_OK;
    case Kind::Dec:
      out = static_cast<double>(static_cast<long double>(s.i) /
                                static_cast<long double>(Pow10(s.scale)));
      return S_OK;
    case Kind::Text: {
      char buffer[256];
      std::string_view ascii;
      if (!AsciiText(s.text, buffer, ascii) || !locale_profile::TryParseFloat(ascii, out)) {
        return DISP_E_TYPEMISMATCH;
      }
      return S_OK;
    }
    default:
      return DISP_E_TYPEMISMATCH;
  }
}

// The OLE date range: 1 January 100 to 31 December 9999.
constexpr double kMinOleDate = -657434.0;
constexpr double kMaxOleDatePlusOne = 2958466.0;

bool IsOleDate(double d) { return d >= kMinOleDate && d < kMaxOleDatePlusOne; }

HRESULT ToDate(const Scalar& s, double& out) {
  if (s.kind == Kind::Text) {
    char buffer[256];
    std::string_view ascii;
    if (!AsciiText(s.text, buffer, ascii) || !locale_profile::TryParseDate(ascii, out)) {
      return DISP_E_TYPEMISMATCH;
    }
  } else {
    const HRESULT hr = ToReal(s, out);
    if (FAILED(hr)) return hr;
  }
  return IsOleDate(out) ? S_OK : DISP_E_OVERFLOW;
}

HRESULT ToCurrency(const Scalar& s, std::int64_t& out) {
  Int128 value = 0;
  switch (s.kind) {
    case Kind::Empty:
      value = 0;
      break;
    case Kind::Int:
    case Kind::Bool:
      value = s.i * 10000;
      break;
    case Kind::Cy:
      value = s.i;
      break;
    case Kind::Dec:
      value = RoundDiv(s.i * 10000, Pow10(s.scale));
      break;
    default: {
      double real = 0;
      const HRESULT hr = ToReal(s, real);
      if (FAILED(hr)) return hr;
      return RealToInteger(real * 10000.0, INT64_MIN, INT64_MAX, value) == S_OK
                 ? (out = static_cast<std::int64_t>(value), S_OK)
                 : DISP_E_OVERFLOW;
    }
  }
  if (value < INT64_MIN || value > INT64_MAX) return DISP_E_OVERFLOW;
  out = static_cast<std::int64_t>(value);
  return S_OK;
}

const Int128 kDecimalLimit = static_cast<Int128>(1) << 96;

HRESULT DecimalFromReal(double d, Int128& mantissa, int& scale) {
  if (!std::isfinite(d) || std::fabs(d) >= 7.9228162514264337593543950335e28) {
    return DISP_E_OVERFLOW;
  }
  if (d == 0) {
    mantissa = 0, scale = 0;
    return S_OK;
  }
  char buffer[64];
  const auto result =
      std::to_chars(buffer, buffer + sizeof buffer, d, std::chars_format::scientific, 14);
  const std::string_view text(buffer, static_cast<std::size_t>(result.ptr - buffer));
  const std::size_t ePos = text.find('e');
  Int128 digits = 0;
  for (char c : text.substr(0, ePos)) {
    if (c >= '0' && c <= '9') digits = digits * 10 + (c - '0');
  }
  int exponent = 0;
  std::string_view expText = text.substr(ePos + 1);
  if (!expText.empty() && expText.front() == '+') expText.remove_prefix(1);
  std::from_chars(expText.data(), expText.data() + expText.size(), exponent);
  scale = 14 - exponent;
  if (scale < 0) {
    digits *= Pow10(-scale);
    scale = 0;
  } else if (scale > 28) {
    const int drop = scale - 28;  // digits < 10^15: beyond 16 places nothing is left
    digits = drop > 16 ? 0 : RoundDiv(digits, Pow10(drop));
    scale = 28;
  }
  while (scale > 0 && digits % 10 == 0) {
    digits /= 10;
    --scale;
  }
  if (digits >= kDecimalLimit) return DISP_E_OVERFLOW;
  mantissa = d < 0 ? -digits : digits;
  return S_OK;
}

HRESULT ToDecimal(const Scalar& s, DECIMAL& out) {
  Int128 mantissa = 0;
  int scale = 0;
  switch (s.kind) {
    case Kind::Empty:
      break;
    case Kind::Int:
    case Kind::Bool:
      mantissa = s.i;
      break;
    case Kind::Cy:
      mantissa = s.i, scale = 4;
      break;
    case Kind::Dec:
      mantissa = s.i, scale = s.scale;
      break;
    default: {
      double real = 0;
      HRESULT hr = ToReal(s, real);
      if (SUCCEEDED(hr)) hr = DecimalFromReal(real, mantissa, scale);
      if (FAILED(hr)) return hr;
    }
  }
  const Int128 magnitude = mantissa < 0 ? -mantissa : mantissa;
  if (magnitude >= kDecimalLimit) return DISP_E_OVERFLOW;
  out.scale = static_cast<BYTE>(scale);
  out.sign = mantissa < 0 ? 0x80 : 0;
  out.Hi32 = static_cast<ULONG>(magnitude >> 64);
  out.Lo64 = static_cast<std::uint64_t>(magnitude);
  return S_OK;
}

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i];
    char y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x + 32);
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y + 32);
    if (x != y) return false;
  }
  return true;
}

HRESULT ToBoolean(const Scalar& s, bool& out) {
  switch (s.kind) {
    case Kind::Empty:
      out = false;
      return S_OK;
    case Kind::Int:
    case Kind::Bool:
    case Kind::Cy:
    case Kind::Dec:
      out = s.i != 0;
      return S_OK;
    case Kind::Real:
    case Kind::Date:
      out = s.d != 0;
      return S_OK;
    case Kind::Text: {
      char buffer[256];
      std::string_view ascii;
      if (!AsciiText(s.text, buffer, ascii)) return DISP_E_TYPEMISMATCH;
      while (!ascii.empty() && static_cast<unsigned char>(ascii.front()) <= 0x20) {
        ascii.remove_prefix(1);
      }
      while (!ascii.empty() && static_cast<unsigned char>(ascii.back()) <= 0x20) {
        ascii.remove_suffix(1);
      }
      long long integer = 0;
      double real = 0;
      if (EqualsIgnoringAsciiCase(ascii, "true")) {
        out = true;
      } else if (EqualsIgnoringAsciiCase(ascii, "false")) {
        out = false;
      } else if (locale_profile::TryParseInteger(ascii, integer)) {
        out = integer != 0;
      } else if (locale_profile::TryParseFloat(ascii, real)) {
        out = real != 0;
      } else {
        return DISP_E_TYPEMISMATCH;
      }
      return S_OK;
    }
    default:
      return DISP_E_TYPEMISMATCH;
  }
}

// Decimal digits of a scaled integer: "-12,5" for (-125, 1); no trailing zeros after the comma.
std::string ScaledText(Int128 value, int scale) {
  const bool negative = value < 0;
  Int128 magnitude = negative ? -value : value;
  char digits[64];
  int count = 0;
  do {
    digits[count++] = static_cast<char>('0' + static_cast<int>(magnitude % 10));
    magnitude /= 10;
  } while (magnitude != 0);
  while (count <= scale) digits[count++] = '0';
  int skip = 0;  // trailing zeros of the fraction
  while (skip < scale && digits[skip] == '0') ++skip;
  std::string out;
  if (negative) out.push_back('-');
  for (int i = count - 1; i >= skip; --i) {
    if (i == scale - 1) out.push_back(locale_profile::DecimalSeparator());
    out.push_back(digits[i]);
  }
  return out;
}

HRESULT ToText(const Scalar& s, BSTR& out) {
  std::string text;
  switch (s.kind) {
    case Kind::Empty:
      break;
    case Kind::Text:
      out = SysAllocStringLen(s.text.data(), static_cast<UINT>(s.text.size()));
      return out ? S_OK : E_OUTOFMEMORY;
    case Kind::Int:
      text = ScaledText(s.i, 0);
      break;
    case Kind::Cy:
      text = ScaledText(s.i, 4);
      break;
    case Kind::Dec:
      text = ScaledText(s.i, s.scale);
      break;
    case Kind::Bool:
      text = s.i ? "True" : "False";
      break;
    case Kind::Real:
      text = locale_profile::FormatFloat(s.d, s.single ? 7 : 15);
      break;
    case Kind::Date:
      if (!IsOleDate(s.d)) return DISP_E_OVERFLOW;
      text = locale_profile::FormatDate(s.d);
      break;
    default:
      return DISP_E_TYPEMISMATCH;
  }
  out = BstrFromUtf8(text);
  return out ? S_OK : E_OUTOFMEMORY;
}

void StoreInteger(VARIANT& out, VARTYPE vt, Int128 value) {
  out.vt = vt;
  switch (vt) {
    case VT_I1:
      out.cVal = static_cast<std::int8_t>(value);
      break;
    case VT_UI1:
      out.bVal = static_cast<BYTE>(value);
      break;
    case VT_I2:
      out.iVal = static_cast<std::int16_t>(value);
      break;
    case VT_UI2:
      out.uiVal = static_cast<USHORT>(value);
      break;
    case VT_I4:
    case VT_INT:
      out.lVal = static_cast<LONG>(value);
      break;
    case VT_UI4:
    case VT_UINT:
      out.ulVal = static_cast<ULONG>(value);
      break;
    case VT_I8:
      out.llVal = static_cast<std::int64_t>(value);
      break;
    default:
      out.ullVal = static_cast<std::uint64_t>(value);
      break;
  }
}

HRESULT ToInterface(const VARIANT& view, VARTYPE vt, VARIANT& out) {
  if (view.vt == VT_EMPTY) {
    out.vt = vt;
    out.punkVal = nullptr;
    return S_OK;
  }
  if (!IsInterface(view.vt)) return DISP_E_TYPEMISMATCH;
  if (!view.punkVal) {
    out.vt = vt;
    out.punkVal = nullptr;
    return S_OK;
  }
  void* target = nullptr;
  const HRESULT hr =
      view.punkVal->QueryInterface(vt == VT_DISPATCH ? IID_IDispatch : IID_IUnknown, &target);
  if (FAILED(hr) || !target) return DISP_E_TYPEMISMATCH;
  out.vt = vt;
  out.punkVal = static_cast<IUnknown*>(target);
  return S_OK;
}

// Converts the (non-reference) value view to type vt into out (VT_EMPTY on entry).
HRESULT Convert(const VARIANT& view, VARTYPE vt, VARIANT& out) {
  if (view.vt == vt) return CopyValue(out, view);
  if ((vt & VT_ARRAY) || (view.vt & VT_ARRAY)) return DISP_E_TYPEMISMATCH;
  switch (vt) {
    case VT_EMPTY:
    case VT_ERROR:
      return DISP_E_TYPEMISMATCH;
    case VT_NULL:
      if (view.vt != VT_EMPTY) return DISP_E_TYPEMISMATCH;
      out.vt = VT_NULL;
      return S_OK;
    case VT_DISPATCH:
    case VT_UNKNOWN:
      return ToInterface(view, vt, out);
    default:
      break;
  }
  const Scalar s = ReadScalar(view);
  if (s.kind == Kind::Null || s.kind == Kind::Other) return DISP_E_TYPEMISMATCH;
  HRESULT hr = S_OK;
  Int128 integer = 0;
  Int128 lo = 0;
  Int128 hi = 0;
  if (IntegerRange(vt, lo, hi)) {
    hr = ToInteger(s, vt, integer);
    if (SUCCEEDED(hr)) StoreInteger(out, vt, integer);
    return hr;
  }
  switch (vt) {
    case VT_R4: {
      double real = 0;
      hr = ToReal(s, real);
      if (SUCCEEDED(hr) && std::isfinite(real) && std::fabs(real) > FLT_MAX) hr = DISP_E_OVERFLOW;
      if (SUCCEEDED(hr)) out.vt = VT_R4, out.fltVal = static_cast<float>(real);
      return hr;
    }
    case VT_R8:
      hr = ToReal(s, out.dblVal);
      if (SUCCEEDED(hr)) out.vt = VT_R8;
      return hr;
    case VT_DATE:
      hr = ToDate(s, out.date);
      if (SUCCEEDED(hr)) out.vt = VT_DATE;
      return hr;
    case VT_CY:
      hr = ToCurrency(s, out.cyVal.int64);
      if (SUCCEEDED(hr)) out.vt = VT_CY;
      return hr;
    case VT_DECIMAL:
      hr = ToDecimal(s, out.decVal);
      if (SUCCEEDED(hr)) out.vt = VT_DECIMAL;
      return hr;
    case VT_BOOL: {
      bool value = false;
      hr = ToBoolean(s, value);
      if (SUCCEEDED(hr)) out.vt = VT_BOOL, out.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
      return hr;
    }
    case VT_BSTR:
      hr = ToText(s, out.bstrVal);
      if (SUCCEEDED(hr)) out.vt = VT_BSTR;
      return hr;
    default:
      return DISP_E_TYPEMISMATCH;
  }
}

// --- SAFEARRAY helpers -------------------------------------------------------------------------
std::size_t ElementCount(const SAFEARRAY* psa) {
  std::size_t count = 1;
  for (USHORT d = 0; d < psa->cDims; ++d) count *= psa->rgsabound[d].cElements;
  return count;
}

USHORT FeaturesOf(VARTYPE vt) {
  switch (vt) {
    case VT_BSTR:
      return FADF_BSTR;
    case VT_UNKNOWN:
      return FADF_UNKNOWN;
    case VT_DISPATCH:
      return FADF_DISPATCH;
    case VT_VARIANT:
      return FADF_VARIANT;
    default:
      return 0;
  }
}

void* ElementAt(SAFEARRAY* psa, std::size_t index) {
  return static_cast<char*>(psa->pvData) + index * psa->cbElements;
}

void ClearElements(SAFEARRAY* psa) {
  if (!psa->pvData) return;
  const std::size_t count = ElementCount(psa);
  for (std::size_t i = 0; i < count; ++i) {
    void* element = ElementAt(psa, i);
    switch (psa->vt) {
      case VT_VARIANT:
        if (FAILED(VariantClear(static_cast<VARIANT*>(element)))) {
          static_cast<VARIANT*>(element)->vt = VT_EMPTY;  // unknown content: leave it alone
        }
        break;
      case VT_BSTR:
        SysFreeString(*static_cast<BSTR*>(element));
        *static_cast<BSTR*>(element) = nullptr;
        break;
      case VT_DISPATCH:
      case VT_UNKNOWN:
        if (auto* unknown = *static_cast<IUnknown**>(element)) {
          *static_cast<IUnknown**>(element) = nullptr;
          unknown->Release();
        }
        break;
      default:
        return;  // plain values own nothing
    }
  }
}

// Copies every element of src into dst, which has the same shape and holds zeroes.
HRESULT CopyElements(SAFEARRAY* src, SAFEARRAY* dst) {
  if (!src->pvData) return S_OK;
  const std::size_t count = ElementCount(src);
  if (src->vt != VT_VARIANT && src->vt != VT_BSTR && !IsInterface(src->vt)) {
    std::memcpy(dst->pvData, src->pvData, count * src->cbElements);
    return S_OK;
  }
  for (std::size_t i = 0; i < count; ++i) {
    void* from = ElementAt(src, i);
    void* to = ElementAt(dst, i);
    if (src->vt == VT_VARIANT) {
      const HRESULT hr = CopyValue(*static_cast<VARIANT*>(to), *static_cast<VARIANT*>(from));
      if (FAILED(hr)) return hr;
    } else if (src->vt == VT_BSTR) {
      BSTR text = *static_cast<BSTR*>(from);
      if (text && !(*static_cast<BSTR*>(to) = DuplicateBstr(text))) return E_OUTOFMEMORY;
    } else if (auto* unknown = *static_cast<IUnknown**>(from)) {
      unknown->AddRef();
      *static_cast<IUnknown**>(to) = unknown;
    }
  }
  return S_OK;
}

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};

}  // namespace

// --- BSTR -------------------------------------------------------------------------------------
BSTR SysAllocString(const OLECHAR* text) {
  if (!text) return nullptr;
  UINT length = 0;
  while (text[length] != 0) ++length;
  return SysAllocStringLen(text, length);
}

BSTR SysAllocStringLen(const OLECHAR* text, UINT length) {
  BSTR bstr = AllocBstr(length);
  if (!bstr) return nullptr;
  if (text) {
    std::memcpy(bstr, text, std::size_t{length} * sizeof(OLECHAR));
  } else {
    std::memset(bstr, 0, std::size_t{length} * sizeof(OLECHAR));
  }
  return bstr;
}

BOOL SysReAllocStringLen(BSTR* bstr, const OLECHAR* text, UINT length) {
  if (!bstr) return 0;
  BSTR fresh = SysAllocStringLen(text, length);  // text may lie inside the old string
  if (!fresh) return 0;
  SysFreeString(*bstr);
  *bstr = fresh;
  return 1;
}

void SysFreeString(BSTR bstr) {
  if (bstr) std::free(BstrBlock(bstr));
}

UINT SysStringLen(BSTR bstr) { return bstr ? BstrBytes(bstr) / sizeof(OLECHAR) : 0; }

UINT SysStringByteLen(BSTR bstr) { return bstr ? BstrBytes(bstr) : 0; }

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
    } else if (v->vt == VT_BSTR) {
      SysFreeString(v->bstrVal);
    } else if (IsInterface(v->vt) && v->punkVal) {
      IUnknown* unknown = v->punkVal;
      v->vt = VT_EMPTY;  // a Release that reenters sees an empty variant
      unknown->Release();
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
  HRESULT hr = CopyValue(copy, *src);
  if (FAILED(hr)) return hr;
  hr = VariantClear(dest);
  if (FAILED(hr)) {
    VariantClear(&copy);
    return hr;
  }
  *dest = copy;
  return S_OK;
}

HRESULT VariantCopyInd(VARIANT* dest, const VARIANT* src) {
  if (!dest || !src) return E_INVALIDARG;
  VARIANT view;
  HRESULT hr = ResolveView(*src, view);
  if (FAILED(hr)) return hr;
  VARIANT copy;
  hr = CopyValue(copy, view);
  if (FAILED(hr)) return hr;
  hr = VariantClear(dest);
  if (FAILED(hr)) {
    VariantClear(&copy);
    return hr;
  }
  *dest = copy;
  return S_OK;
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
  hr = VariantClear(dest);  // the source (perhaps dest itself) is no longer needed
  if (FAILED(hr)) {
    VariantClear(&result);
    return hr;
  }
  *dest = result;
  return S_OK;
}

// --- SAFEARRAY --------------------------------------------------------------------------------
SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT dims, const SAFEARRAYBOUND* bounds) {
  const ULONG elementSize = ValueSize(vt);
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
  header->fFeatures = FeaturesOf(vt);
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
  switch (psa->vt) {
    case VT_VARIANT:
      return VariantCopy(static_cast<VARIANT*>(out), static_cast<VARIANT*>(element));
    case VT_BSTR: {
      BSTR text = *static_cast<BSTR*>(element);
      BSTR copy = DuplicateBstr(text);
      if (text && !copy) return E_OUTOFMEMORY;
      *static_cast<BSTR*>(out) = copy;
      return S_OK;
    }
    case VT_DISPATCH:
    case VT_UNKNOWN: {
      IUnknown* unknown = *static_cast<IUnknown**>(element);
      if (unknown) unknown->AddRef();
      *static_cast<IUnknown**>(out) = unknown;
      return S_OK;
    }
    default:
      std::memcpy(out, element, psa->cbElements);
      return S_OK;
  }
}

HRESULT SafeArrayPutElement(SAFEARRAY* psa, const LONG* indices, const void* in) {
  void* element = nullptr;
  const HRESULT hr = SafeArrayPtrOfIndex(psa, indices, &element);
  if (FAILED(hr)) return hr;
  switch (psa->vt) {
    case VT_VARIANT:
      if (!in) return E_INVALIDARG;
      return VariantCopy(static_cast<VARIANT*>(element), static_cast<const VARIANT*>(in));
    case VT_BSTR: {
      auto text = static_cast<BSTR>(const_cast<void*>(in));
      BSTR copy = DuplicateBstr(text);
      if (text && !copy) return E_OUTOFMEMORY;
      SysFreeString(*static_cast<BSTR*>(element));
      *static_cast<BSTR*>(element) = copy;
      return S_OK;
    }
    case VT_DISPATCH:
    case VT_UNKNOWN: {
      auto* fresh = static_cast<IUnknown*>(const_cast<void*>(in));
      if (fresh) fresh->AddRef();
      IUnknown* old = *static_cast<IUnknown**>(element);
      *static_cast<IUnknown**>(element) = fresh;
      if (old) old->Release();
      return S_OK;
    }
    default:
      if (!in) return E_INVALIDARG;
      std::memcpy(element, in, psa->cbElements);
      return S_OK;
  }
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

// --- EXCEPINFO --------------------------------------------------------------------------------
void ClearExcepInfo(EXCEPINFO* info) {
  if (!info) return;
  SysFreeString(info->bstrSource);
  SysFreeString(info->bstrDescription);
  SysFreeString(info->bstrHelpFile);
  *info = EXCEPINFO{};
}
