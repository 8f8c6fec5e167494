// The standard variant conversions behind VariantChangeType: a value is read into one simple
// form (Scalar) by its type's facts and written out in the form of the target type.
#include <bit>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/locale_profile.h"
#include "platform/ole_types.h"
#include "platform/oleauto.h"
#include "platform/text.h"

namespace ole_types {

namespace {

using Int128 = __int128;

// Integers are read and stored through their low bytes.
static_assert(std::endian::native == std::endian::little);

// A simple value read out of a VARIANT, in the form the conversions work on.
struct Scalar {
  Kind kind = Kind::Other;
  Int128 i = 0;        // Int; Cy (scaled by 10 000); Dec mantissa (signed); Bool (-1 or 0)
  double d = 0;        // Real, Date
  int scale = 0;       // Dec
  bool single = false;  // Real read from a 4-byte float
  std::u16string_view text;
};

// An integer of the type's size and signedness, stored at p (the low bytes come first).
Int128 ReadInteger(const TypeFacts& facts, const void* p) {
  std::uint64_t bits = 0;
  std::memcpy(&bits, p, facts.size);
  if (!facts.isSigned) return bits;
  const unsigned unused = 64 - 8 * facts.size;
  return static_cast<std::int64_t>(bits << unused) >> unused;
}

Scalar ReadScalar(const VARIANT& v) {
  const TypeFacts& facts = Facts(v.vt);
  Scalar s;
  s.kind = facts.kind;
  switch (facts.kind) {
    case Kind::Int:
      s.i = ReadInteger(facts, Payload(v));
      break;
    case Kind::Real:
      s.single = facts.size == sizeof(float);
      s.d = s.single ? v.fltVal : v.dblVal;
      break;
    case Kind::Date:
      s.d = v.date;
      break;
    case Kind::Cy:
      s.i = v.cyVal.int64;
      break;
    case Kind::Bool:
      s.i = v.boolVal ? -1 : 0;
      break;
    case Kind::Dec:
      if (v.decVal.scale > 28) {
        s.kind = Kind::Other;
        break;
      }
      s.i = (static_cast<Int128>(v.decVal.Hi32) << 64) | v.decVal.Lo64;
      if (v.decVal.sign & 0x80) s.i = -s.i;
      s.scale = v.decVal.scale;
      break;
    case Kind::Text:
      s.text = std::u16string_view(v.bstrVal, SysStringLen(v.bstrVal));
      break;
    case Kind::Interface:
      s.kind = Kind::Other;  // interfaces convert only to interfaces (ToInterface)
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
  const TypeFacts& facts = Facts(vt);
  if (facts.kind != Kind::Int) return false;
  const Int128 span = static_cast<Int128>(1) << (8 * facts.size);
  lo = facts.isSigned ? -span / 2 : 0;
  hi = lo + span - 1;
  return true;
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

// Stores an integer that fits type vt (the low bytes come first).
void StoreInteger(VARIANT& out, VARTYPE vt, Int128 value) {
  out.vt = vt;
  const auto bits = static_cast<std::uint64_t>(value);
  std::memcpy(Payload(out), &bits, Facts(vt).size);
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

HRESULT ToSingle(const Scalar& s, VARIANT& out) {
  double real = 0;
  HRESULT hr = ToReal(s, real);
  if (SUCCEEDED(hr) && std::isfinite(real) && std::fabs(real) > FLT_MAX) hr = DISP_E_OVERFLOW;
  if (SUCCEEDED(hr)) out.vt = VT_R4, out.fltVal = static_cast<float>(real);
  return hr;
}

// The simple value s in the form of the (non-integer) target type vt.
HRESULT FromScalar(const Scalar& s, VARTYPE vt, VARIANT& out) {
  const TypeFacts& target = Facts(vt);
  HRESULT hr = S_OK;
  switch (target.kind) {
    case Kind::Int: {
      Int128 integer = 0;
      hr = ToInteger(s, vt, integer);
      if (SUCCEEDED(hr)) StoreInteger(out, vt, integer);
      return hr;
    }
    case Kind::Real:
      if (target.size == sizeof(float)) return ToSingle(s, out);
      hr = ToReal(s, out.dblVal);
      break;
    case Kind::Date:
      hr = ToDate(s, out.date);
      break;
    case Kind::Cy:
      hr = ToCurrency(s, out.cyVal.int64);
      break;
    case Kind::Dec:
      hr = ToDecimal(s, out.decVal);
      break;
    case Kind::Bool: {
      bool value = false;
      hr = ToBoolean(s, value);
      if (SUCCEEDED(hr)) out.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
      break;
    }
    case Kind::Text:
      hr = ToText(s, out.bstrVal);
      break;
    default:
      return DISP_E_TYPEMISMATCH;
  }
  if (SUCCEEDED(hr)) out.vt = vt;
  return hr;
}

}  // namespace

HRESULT Convert(const VARIANT& view, VARTYPE vt, VARIANT& out) {
  if (view.vt == vt) return CopyValue(out, view);
  if ((vt & VT_ARRAY) || (view.vt & VT_ARRAY)) return DISP_E_TYPEMISMATCH;
  switch (Facts(vt).kind) {
    case Kind::Null:
      if (view.vt != VT_EMPTY) return DISP_E_TYPEMISMATCH;
      out.vt = VT_NULL;
      return S_OK;
    case Kind::Interface:
      return ToInterface(view, vt, out);
    default:
      break;
  }
  const Scalar s = ReadScalar(view);
  if (s.kind == Kind::Null || s.kind == Kind::Other) return DISP_E_TYPEMISMATCH;
  return FromScalar(s, vt, out);
}

}  // namespace ole_types
