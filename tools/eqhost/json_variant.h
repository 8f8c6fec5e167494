// The host program's value mapping between JSON and VARIANT, the same in both directions:
//   null                      Empty
//   true / false              VT_BOOL
//   integer                   VT_I4 (an integer outside 32 bits becomes VT_R8)
//   other number              VT_R8
//   string                    VT_BSTR
//   [v, ...]                  one-dimensional VARIANT array with lower bound 0
//   {"date": "YYYY-MM-DDTHH:MM:SS"}   VT_DATE (".zzz" milliseconds and a date without time accepted;
//                                     milliseconds are printed only when not zero)
//   {"dims": [[lo, hi], ...], "rows": [...]}   any other VARIANT array: one bounds pair per dimension,
//                                     rows nested by dimension, the first index outermost
//   {"host": true}            the host's own callback object (VT_DISPATCH)
//   {"null": true}            VT_NULL
// Output only: other interfaces {"dispatch": true}, VT_ERROR {"scode": "0x80020004"}, a type without
// a JSON form {"vartype": N}. By-reference values are printed as the value they point to; integer
// types of every width are printed as integers and VT_R4/VT_CY/VT_DECIMAL as numbers.
#pragma once

#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "platform/com.h"
#include "platform/date_time.h"
#include "platform/ole_variant.h"
#include "platform/oleauto.h"

namespace eqhost {

using Json = nlohmann::ordered_json;

// Arrays and value objects nest at most this deep, in a request line as in a value: deeper
// nesting is refused before it can exhaust the stack.
constexpr int kMaxNesting = 64;

// Parses one request line. EConvertError when the text is not JSON or nests deeper than
// kMaxNesting; the message is valid UTF-8 even when the text is not.
Json ParseJson(std::string_view text);
// Raises EConvertError naming what is wrong when the JSON value has no VARIANT form; a host
// object requested while host is nullptr is such an error too.
OleVariant JsonToVariant(const Json& value, IDispatch* host);
// Never raises for any VARIANT: what has no JSON form is described, not refused.
Json VariantToJson(const VARIANT& value, const IUnknown* host);

// "YYYY-MM-DDTHH:MM:SS", with ".zzz" when the milliseconds are not zero.
std::string FormatIsoDateTime(TDateTime value);
// Accepts "YYYY-MM-DD", "YYYY-MM-DDTHH:MM:SS" and "YYYY-MM-DDTHH:MM:SS.zzz"; false for anything else
// or an impossible date.
bool ParseIsoDateTime(std::string_view text, TDateTime& value);

// "0x80020009": eight upper-case hexadecimal digits.
std::string FormatHResult(HRESULT hr);

}  // namespace eqhost
