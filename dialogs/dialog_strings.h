// The dialogs' own texts (messages and help texts) as UTF-8 string constants.
#pragma once

#include <string_view>

namespace dialog_strings {
#define RES(id, name, text) inline constexpr std::string_view name = text;
#include "resources/strings/dialogs.def"
#undef RES
}  // namespace dialog_strings
