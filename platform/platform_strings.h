// The platform layer's own message texts (resources/strings/platform.def) and the one helper that
// fills in their "%s" places. Internal to the platform library.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace platform_strings {

#define RES(id, name, text) inline constexpr std::string_view name = text;
#include "resources/strings/platform.def"
#undef RES

// Replaces each "%s" of pattern, left to right, by the next argument (missing ones by nothing).
inline std::string Format(std::string_view pattern, std::initializer_list<std::string_view> args) {
  std::string out;
  out.reserve(pattern.size() + 32);
  auto next = args.begin();
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    if (pattern[i] == '%' && i + 1 < pattern.size() && pattern[i + 1] == 's') {
      if (next != args.end()) out.append(*next++);
      ++i;
    } else {
      out.push_back(pattern[i]);
    }
  }
  return out;
}

}  // namespace platform_strings
