#include "tools/eqhost/json_variant.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <utility>
#include <vector>

#include "platform/exceptions.h"
#include "platform/text.h"

namespace eqhost {
namespace {

// Refuses arrays whose declared size alone would exhaust memory before the rows are compared.
constexpr std::uint64_t kMaxArrayElements = 1U << 24;
constexpr std::size_t kMaxDims = 8;

[[noreturn]] void Fail(const std::string& message) { throw EConvertError(message); }

[[noreturn]] void FailTooDeep() {
  Fail("values nested deeper than " + std::to_string(kMaxNesting) + " levels are refused");
}

// Bytes that are not UTF-8 become U+FFFD, so the text can always be printed as JSON.
std::string ValidUtf8(std::string_view text) { return Utf16ToUtf8(Utf8ToUtf16(text)); }

// --- JSON to VARIANT -----------------------------------------------------------------------------

OleVariant ToVariant(const Json& value, IDispatch* host, int depth);

// Moves the value into the element of a VARIANT array: the value is built once, never copied.
void MoveInto(OleVariant& array, const LONG* indices, OleVariant value) {
  void* slot = nullptr;
  if (FAILED(SafeArrayPtrOfIndex(array.Array(), indices, &slot))) Fail("array index outside the bounds");
  auto* element = static_cast<VARIANT*>(slot);
  VariantClear(element);
  *element = value.Detach();
}

OleVariant IntegerToVariant(const Json& value) {
  if (value.is_number_unsigned()) {
    const auto u = value.get<std::uint64_t>();
    if (u <= static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max())) {
      return OleVariant(static_cast<std::int32_t>(u));
    }
    return OleVariant(static_cast<double>(u));
  }
  const auto i = value.get<std::int64_t>();
  if (i >= std::numeric_limits<std::int32_t>::min() && i <= std::numeric_limits<std::int32_t>::max()) {
    return OleVariant(static_cast<std::int32_t>(i));
  }
  return OleVariant(static_cast<double>(i));
}

LONG BoundValue(const Json& value) {
  if (!value.is_number_integer()) Fail("array bounds must be integers");
  const auto i = value.get<std::int64_t>();
  if (value.is_number_unsigned() && value.get<std::uint64_t>() > static_cast<std::uint64_t>(
                                        std::numeric_limits<LONG>::max())) {
    Fail("array bound outside 32 bits");
  }
  if (i < std::numeric_limits<LONG>::min() || i > std::numeric_limits<LONG>::max()) {
    Fail("array bound outside 32 bits");
  }
  return static_cast<LONG>(i);
}

std::vector<std::pair<LONG, LONG>> ReadDims(const Json& dims) {
  if (!dims.is_array() || dims.empty() || dims.size() > kMaxDims) {
    Fail("\"dims\" must list 1 to 8 [low, high] pairs");
  }
  std::vector<std::pair<LONG, LONG>> bounds;
  std::uint64_t total = 1;
  for (const Json& pair : dims) {
    if (!pair.is_array() || pair.size() != 2) Fail("each entry of \"dims\" must be [low, high]");
    const LONG lo = BoundValue(pair[0]);
    const LONG hi = BoundValue(pair[1]);
    const std::int64_t count = static_cast<std::int64_t>(hi) - lo + 1;
    if (count < 0) Fail("array bounds with high below low - 1");
    total *= static_cast<std::uint64_t>(count);
    if (total > kMaxArrayElements) Fail("array too large");
    bounds.emplace_back(lo, hi);
  }
  return bounds;
}

std::size_t CountOf(const std::pair<LONG, LONG>& bound) {
  return static_cast<std::size_t>(static_cast<std::int64_t>(bound.second) - bound.first + 1);
}

// The rows are checked against the bounds before the array is made, so a few bytes of "dims" never
// allocate more elements than the rows hold.
void CheckRows(const std::vector<std::pair<LONG, LONG>>& bounds, const Json& rows, std::size_t dim) {
  if (!rows.is_array() || rows.size() != CountOf(bounds[dim])) {
    Fail("\"rows\" do not match \"dims\" in dimension " + std::to_string(dim + 1));
  }
  if (dim + 1 == bounds.size()) return;
  for (const Json& row : rows) CheckRows(bounds, row, dim + 1);
}

void FillRows(OleVariant& array, const std::vector<std::pair<LONG, LONG>>& bounds, const Json& rows,
              std::vector<LONG>& indices, std::size_t dim, IDispatch* host, int depth) {
  const LONG lo = bounds[dim].first;
  for (std::size_t k = 0; k < rows.size(); ++k) {
    indices[dim] = static_cast<LONG>(lo + static_cast<std::int64_t>(k));
    if (dim + 1 == bounds.size()) {
      MoveInto(array, indices.data(), ToVariant(rows[k], host, depth));
    } else {
      FillRows(array, bounds, rows[k], indices, dim + 1, host, depth);
    }
  }
}

OleVariant DimsToVariant(const Json& object, IDispatch* host, int depth) {
  if (!object.contains("rows")) Fail("\"dims\" needs \"rows\"");
  const auto bounds = ReadDims(object.at("dims"));
  CheckRows(bounds, object.at("rows"), 0);
  OleVariant array = OleVariant::VarArrayCreate(bounds);
  std::vector<LONG> indices(bounds.size(), 0);
  FillRows(array, bounds, object.at("rows"), indices, 0, host, depth);
  return array;
}

OleVariant VectorToVariant(const Json& list, IDispatch* host, int depth) {
  OleVariant array = OleVariant::VarArrayCreate({{0, static_cast<LONG>(list.size()) - 1}});
  LONG index = 0;
  for (const Json& element : list) {
    MoveInto(array, &index, ToVariant(element, host, depth));
    ++index;
  }
  return array;
}

OleVariant ObjectToVariant(const Json& object, IDispatch* host, int depth) {
  if (object.size() == 1 && object.contains("date")) {
    const Json& text = object.at("date");
    TDateTime value = 0;
    if (!text.is_string() || !ParseIsoDateTime(text.get<std::string>(), value)) {
      Fail("a date must be \"YYYY-MM-DDTHH:MM:SS\"");
    }
    return OleVariant::FromDate(value);
  }
  if (object.size() == 1 && object.contains("host")) {
    if (object.at("host") != Json(true)) Fail("a host object is written {\"host\": true}");
    if (host == nullptr) Fail("there is no host object here");
    return OleVariant::FromDispatch(host);
  }
  if (object.size() == 1 && object.contains("null")) {
    if (object.at("null") != Json(true)) Fail("a Null value is written {\"null\": true}");
    return OleVariant::Null();
  }
  if (object.size() == 2 && object.contains("dims")) return DimsToVariant(object, host, depth);
  Fail("unknown value object " + object.dump(-1, ' ', false, Json::error_handler_t::replace));
}

// --- VARIANT to JSON -----------------------------------------------------------------------------

// A VARIANT element is read where it lies (a nested array is not copied); an element of another
// type is copied into a VARIANT of that type.
Json ElementToJson(SAFEARRAY* psa, VARTYPE elementType, const std::vector<LONG>& indices, const IUnknown* host) {
  if (elementType == VT_VARIANT) {
    void* slot = nullptr;
    if (FAILED(SafeArrayPtrOfIndex(psa, indices.data(), &slot))) return nullptr;
    return VariantToJson(*static_cast<const VARIANT*>(slot), host);
  }
  VARIANT element;
  VariantInit(&element);
  if (FAILED(SafeArrayGetElement(psa, indices.data(), &element.llVal))) return nullptr;
  element.vt = elementType;
  const OleVariant owner = OleVariant::Attach(element);
  return VariantToJson(owner.Raw(), host);
}

Json RowsOf(SAFEARRAY* psa, VARTYPE elementType, std::vector<LONG>& indices, std::size_t dim,
            const IUnknown* host) {
  Json rows = Json::array();
  LONG lo = 0;
  LONG hi = -1;
  if (FAILED(SafeArrayGetLBound(psa, static_cast<UINT>(dim + 1), &lo)) ||
      FAILED(SafeArrayGetUBound(psa, static_cast<UINT>(dim + 1), &hi))) {
    return rows;
  }
  for (std::int64_t i = lo; i <= hi; ++i) {
    indices[dim] = static_cast<LONG>(i);
    if (dim + 1 == indices.size()) {
      rows.push_back(ElementToJson(psa, elementType, indices, host));
    } else {
      rows.push_back(RowsOf(psa, elementType, indices, dim + 1, host));
    }
  }
  return rows;
}

Json ArrayToJson(SAFEARRAY* psa, const IUnknown* host) {
  if (psa == nullptr) return Json::array();
  const UINT dims = SafeArrayGetDim(psa);
  VARTYPE elementType = VT_VARIANT;
  SafeArrayGetVartype(psa, &elementType);
  std::vector<LONG> indices(dims, 0);
  if (dims == 0) return Json::array();
  LONG lo = 0;
  SafeArrayGetLBound(psa, 1, &lo);
  if (dims == 1 && lo == 0) return RowsOf(psa, elementType, indices, 0, host);
  Json bounds = Json::array();
  for (UINT d = 1; d <= dims; ++d) {
    LONG l = 0;
    LONG h = -1;
    SafeArrayGetLBound(psa, d, &l);
    SafeArrayGetUBound(psa, d, &h);
    bounds.push_back(Json::array({l, h}));
  }
  Json result = Json::object();
  result["dims"] = std::move(bounds);
  result["rows"] = RowsOf(psa, elementType, indices, 0, host);
  return result;
}

Json RealToJson(double value, VARTYPE vt) {
  if (std::isfinite(value)) return value;
  Json result = Json::object();
  result["vartype"] = vt;
  result["value"] = std::isnan(value) ? "NaN" : (value > 0 ? "Infinity" : "-Infinity");
  return result;
}

Json Described(const char* key, Json value) {
  Json result = Json::object();
  result[key] = std::move(value);
  return result;
}

Json ScalarToJson(const VARIANT& v, const IUnknown* host) {
  switch (v.vt) {
    case VT_EMPTY: return nullptr;
    case VT_NULL: return Described("null", true);
    case VT_I1: return v.cVal;
    case VT_I2: return v.iVal;
    case VT_I4:
    case VT_INT: return v.lVal;
    case VT_I8: return v.llVal;
    case VT_UI1: return v.bVal;
    case VT_UI2: return v.uiVal;
    case VT_UI4:
    case VT_UINT: return v.ulVal;
    case VT_UI8: return v.ullVal;
    case VT_R4: return RealToJson(v.fltVal, v.vt);
    case VT_R8: return RealToJson(v.dblVal, v.vt);
    case VT_CY: return static_cast<double>(v.cyVal.int64) / 10000.0;
    case VT_DECIMAL: {
      VARIANT real;
      VariantInit(&real);
      if (SUCCEEDED(VariantChangeType(&real, &v, 0, VT_R8))) return RealToJson(real.dblVal, v.vt);
      return Described("vartype", v.vt);
    }
    case VT_DATE: return Described("date", FormatIsoDateTime(v.date));
    case VT_BSTR: return BstrToUtf8(v.bstrVal);
    case VT_BOOL: return v.boolVal != 0;
    case VT_ERROR: return Described("scode", FormatHResult(v.scode));
    case VT_DISPATCH:
    case VT_UNKNOWN: {
      const IUnknown* unknown = v.vt == VT_DISPATCH ? static_cast<const IUnknown*>(v.pdispVal) : v.punkVal;
      if (unknown != nullptr && unknown == host) return Described("host", true);
      return Described("dispatch", unknown != nullptr);
    }
    default: return Described("vartype", v.vt);
  }
}

bool ReadDigits(std::string_view text, std::size_t pos, std::size_t count, int& value) {
  if (pos + count > text.size()) return false;
  value = 0;
  for (std::size_t i = pos; i < pos + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    value = value * 10 + (text[i] - '0');
  }
  return true;
}

OleVariant ToVariant(const Json& value, IDispatch* host, int depth) {
  if (value.is_structured()) {
    if (depth >= kMaxNesting) FailTooDeep();
    ++depth;
  }
  switch (value.type()) {
    case Json::value_t::null: return OleVariant();
    case Json::value_t::boolean: return OleVariant(value.get<bool>());
    case Json::value_t::number_integer:
    case Json::value_t::number_unsigned: return IntegerToVariant(value);
    case Json::value_t::number_float: return OleVariant(value.get<double>());
    case Json::value_t::string: return OleVariant(value.get<std::string>());
    case Json::value_t::array: return VectorToVariant(value, host, depth);
    case Json::value_t::object: return ObjectToVariant(value, host, depth);
    default: Fail("a value of this JSON type has no VARIANT form");
  }
}

}  // namespace

Json ParseJson(std::string_view text) {
  const Json::parser_callback_t limitNesting = [](int depth, Json::parse_event_t event, Json&) {
    const bool opens = event == Json::parse_event_t::object_start || event == Json::parse_event_t::array_start;
    if (opens && depth >= kMaxNesting) FailTooDeep();
    return true;
  };
  try {
    return Json::parse(text, limitNesting);
  } catch (const Json::exception& e) {
    Fail("not JSON: " + ValidUtf8(e.what()));
  }
}

OleVariant JsonToVariant(const Json& value, IDispatch* host) { return ToVariant(value, host, 0); }

Json VariantToJson(const VARIANT& value, const IUnknown* host) {
  if ((value.vt & VT_BYREF) != 0) {
    if (value.byref == nullptr) return nullptr;
    if ((value.vt & ~VT_BYREF) == VT_VARIANT) return VariantToJson(*value.pvarVal, host);
    const OleVariant copy = OleVariant::CopyInd(value);
    if ((copy.Raw().vt & VT_BYREF) != 0) return Described("vartype", value.vt);
    return VariantToJson(copy.Raw(), host);
  }
  if ((value.vt & VT_ARRAY) != 0) return ArrayToJson(value.parray, host);
  return ScalarToJson(value, host);
}

std::string FormatIsoDateTime(TDateTime value) {
  const DateTimeParts p = DecodeDateTime(value);
  char buffer[48];
  if (p.millisecond != 0) {
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02d.%03d", p.year, p.month, p.day,
                  p.hour, p.minute, p.second, p.millisecond);
  } else {
    std::snprintf(buffer, sizeof buffer, "%04d-%02d-%02dT%02d:%02d:%02d", p.year, p.month, p.day, p.hour,
                  p.minute, p.second);
  }
  return buffer;
}

bool ParseIsoDateTime(std::string_view text, TDateTime& value) {
  DateTimeParts p;
  if (text.size() < 10 || text[4] != '-' || text[7] != '-') return false;
  if (!ReadDigits(text, 0, 4, p.year) || !ReadDigits(text, 5, 2, p.month) || !ReadDigits(text, 8, 2, p.day)) {
    return false;
  }
  if (text.size() > 10) {
    if (text.size() < 19 || text[10] != 'T' || text[13] != ':' || text[16] != ':') return false;
    if (!ReadDigits(text, 11, 2, p.hour) || !ReadDigits(text, 14, 2, p.minute) ||
        !ReadDigits(text, 17, 2, p.second)) {
      return false;
    }
    if (text.size() > 19 && (text.size() != 23 || text[19] != '.' || !ReadDigits(text, 20, 3, p.millisecond))) {
      return false;
    }
  }
  return TryEncodeDateTime(p, value);
}

std::string FormatHResult(HRESULT hr) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "0x%08X", static_cast<unsigned>(hr));
  return buffer;
}

}  // namespace eqhost
