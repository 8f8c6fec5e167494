// Feeds arbitrary request lines to the host program's JSON reader and maps what it accepts to a
// VARIANT and back: nothing may crash or run away, every error text must be printable, and a value
// printed from a VARIANT maps back to a VARIANT that prints the same.
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
  const OleVariant again = eqhost::JsonToVariant(printed, host.Get());
  if (eqhost::VariantToJson(again.Raw(), host.Get()) != printed) std::abort();
  return 0;
}
