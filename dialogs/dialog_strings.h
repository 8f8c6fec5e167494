// The dialogs' own texts (messages and help texts) as UTF-8 string constants.
#pragma once

#include <QString>
#include <string_view>

namespace dialog_strings {
#define RES(id, name, text) inline constexpr std::string_view name = text;
#include "resources/strings/dialogs.def"
#undef RES
}  // namespace dialog_strings

// A UTF-8 text of the system as a Qt string.
inline QString QText(std::string_view utf8) {
  return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}
