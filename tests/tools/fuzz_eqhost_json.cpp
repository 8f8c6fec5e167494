// Feeds arbitrary request lines to the host program's JSON reader and maps what it accepts to a
// VARIANT and back: nothing may crash or run away, every error text must be printable, a value
// prints back as it came unless its form is one the mapping normalises, and a printed value maps
// back to a VARIANT that prints the same.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/exceptions.h"
#include "platform/ole_variant.h"
#include "tools/eqhost/host_callback.h"
#include "tools/eqhost/json_variant.h"

namespace {

using eqhost::Json;

// Json::dump raises on bytes that are not UTF-8; an error text must never hold such bytes.
void CheckPrintable(const char* text) { (void)Json(text).dump(); }

// Values that map to a VARIANT and print back unchanged: everything but integers outside 32 bits
// (printed as reals), dates (printed in one form) and "dims" arrays (a vector from 0 prints as a
// plain array).
bool PrintsBackUnchanged(const Json& value) {
  if (value.is_number_integer()) {
    return value.get<std::int64_t>() >= INT32_MIN && value.get<std::int64_t>() <= INT32_MAX &&
           !(value.is_number_unsigned() && value.get<std::uint64_t>() > INT32_MAX);
  }
  if (value.is_array()) {
    for (const Json& element : value) {
      if (!PrintsBackUnchanged(element)) return false;
    }
    return true;
  }
  if (value.is_object()) return value.contains("host") || value.contains("null");
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const ComPtr<eqhost::HostCallback> host = eqhost::HostCallback::Create({}, nullptr);
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  Json value;
  try {
    value = eqhost::ParseJson(input);
  } catch (const EConvertError& e) {
    CheckPrintable(e.what());
    return 0;
  }
  OleVariant variant;
  try {
    variant = eqhost::JsonToVariant(value, host.Get());
  } catch (const EConvertError& e) {
    CheckPrintable(e.what());
    return 0;
  }
  const Json printed = eqhost::VariantToJson(variant.Raw(), host.Get());
  (void)printed.dump();
  if (PrintsBackUnchanged(value) && printed != value) std::abort();
  const OleVariant again = eqhost::JsonToVariant(printed, host.Get());
  if (eqhost::VariantToJson(again.Raw(), host.Get()) != printed) std::abort();
  return 0;
}
