// UTF-8 / UTF-16 conversions, character counting and the case folding of the user's locale.
#include "platform/text.h"

#include <cstdint>

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Decodes the code point at utf8[pos] and moves pos past it. An ill-formed sequence yields one
// U+FFFD per maximal ill-formed prefix (a lone lead byte, a stray continuation byte, a truncated
// sequence), an overlong form or a surrogate one U+FFFD per byte.
char32_t DecodeUtf8(std::string_view utf8, std::size_t& pos) {
  const auto lead = static_cast<unsigned char>(utf8[pos]);
  if (lead < 0x80) {
    ++pos;
    return lead;
  }
  std::size_t length = 0;
  char32_t cp = 0;
  char32_t minimum = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, cp = lead & 0x1F, minimum = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, cp = lead & 0x0F, minimum = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, cp = lead & 0x07, minimum = 0x10000;
  } else {
    ++pos;
    return kReplacement;
  }
  for (std::size_t k = 1; k < length; ++k) {
    if (pos + k >= utf8.size()) {
      pos += k;
      return kReplacement;
    }
    const auto next = static_cast<unsigned char>(utf8[pos + k]);
    if ((next & 0xC0) != 0x80) {
      pos += k;
      return kReplacement;
    }
    cp = (cp << 6) | (next & 0x3F);
  }
  if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    ++pos;
    return kReplacement;
  }
  pos += length;
  return cp;
}

// Decodes the code point at utf16[pos]; an unpaired surrogate yields U+FFFD.
char32_t DecodeUtf16(std::u16string_view utf16, std::size_t& pos) {
  const char16_t unit = utf16[pos++];
  if (unit < 0xD800 || unit > 0xDFFF) return unit;
  if (unit <= 0xDBFF && pos < utf16.size()) {
    const char16_t low = utf16[pos];
    if (low >= 0xDC00 && low <= 0xDFFF) {
      ++pos;
      return 0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) + (low - 0xDC00);
    }
  }
  return kReplacement;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// Writes the UTF-16 form of cp at out (when not null) and returns the number of units.
std::size_t PutUtf16(char16_t* out, char32_t cp) {
  if (cp < 0x10000) {
    if (out) out[0] = static_cast<char16_t>(cp);
    return 1;
  }
  if (out) {
    out[0] = static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10));
    out[1] = static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF));
  }
  return 2;
}

// Encodes utf8 as UTF-16 into out (which holds the count that a first pass with out == nullptr
// returned) and returns the number of units.
std::size_t EncodeUtf16(std::string_view utf8, char16_t* out) {
  std::size_t units = 0;
  std::size_t pos = 0;
  while (pos < utf8.size()) {
    const auto byte = static_cast<unsigned char>(utf8[pos]);
    if (byte < 0x80) {
      if (out) out[units] = byte;
      ++units;
      ++pos;
      continue;
    }
    units += PutUtf16(out ? out + units : nullptr, DecodeUtf8(utf8, pos));
  }
  return units;
}

char32_t FoldLower(char32_t c) {
  if (c < 0x80) return (c >= 'A' && c <= 'Z') ? c + 32 : c;
  if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return c + 32;  // Latin-1 capitals
  if (c == 0x178) return 0xFF;                             // Y with diaeresis
  if (c >= 0x410 && c <= 0x42F) return c + 32;             // basic Cyrillic capitals
  if (c >= 0x400 && c <= 0x40F) return c + 80;             // Ё and the other Cyrillic capitals
  return c;
}

char32_t FoldUpper(char32_t c) {
  if (c < 0x80) return (c >= 'a' && c <= 'z') ? c - 32 : c;
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return c - 32;
  if (c == 0xFF) return 0x178;
  if (c >= 0x430 && c <= 0x44F) return c - 32;
  if (c >= 0x450 && c <= 0x45F) return c - 80;
  return c;
}

template <class Fold>
std::string MapCase(std::string_view utf8, Fold fold) {
  std::string out;
  out.reserve(utf8.size());
  std::size_t pos = 0;
  while (pos < utf8.size()) AppendUtf8(out, fold(DecodeUtf8(utf8, pos)));
  return out;
}

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= 0x20; }

}  // namespace

std::u16string Utf8ToUtf16(std::string_view utf8) {
  std::u16string out(EncodeUtf16(utf8, nullptr), u'\0');
  EncodeUtf16(utf8, out.data());
  return out;
}

std::string Utf16ToUtf8(std::u16string_view utf16) {
  std::size_t bytes = 0;  // exact size first: one allocation
  for (std::size_t pos = 0; pos < utf16.size();) {
    const char32_t cp = DecodeUtf16(utf16, pos);
    bytes += cp < 0x80 ? 1 : cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 4;
  }
  std::string out;
  out.reserve(bytes);
  std::size_t pos = 0;
  while (pos < utf16.size()) {
    const char16_t unit = utf16[pos];
    if (unit < 0x80) {
      out.push_back(static_cast<char>(unit));
      ++pos;
      continue;
    }
    AppendUtf8(out, DecodeUtf16(utf16, pos));
  }
  return out;
}

BSTR BstrFromUtf8(std::string_view utf8) {
  const std::size_t units = EncodeUtf16(utf8, nullptr);
  BSTR bstr = SysAllocStringLen(nullptr, static_cast<UINT>(units));
  if (bstr) EncodeUtf16(utf8, bstr);
  return bstr;
}

std::string BstrToUtf8(BSTR bstr) {
  if (!bstr) return {};
  return Utf16ToUtf8(std::u16string_view(bstr, SysStringLen(bstr)));
}

std::size_t Utf8Length(std::string_view utf8) {
  std::size_t count = 0;
  std::size_t pos = 0;
  while (pos < utf8.size()) {
    if (static_cast<unsigned char>(utf8[pos]) < 0x80) {
      ++pos;
    } else {
      DecodeUtf8(utf8, pos);
    }
    ++count;
  }
  return count;
}

std::string Utf8Left(std::string_view utf8, std::size_t maxChars) {
  std::string out;
  std::size_t pos = 0;
  for (std::size_t count = 0; count < maxChars && pos < utf8.size(); ++count) {
    const std::size_t start = pos;
    const char32_t cp = DecodeUtf8(utf8, pos);
    if (cp == kReplacement && utf8.substr(start, pos - start) != "\xEF\xBF\xBD") {
      AppendUtf8(out, kReplacement);
    } else {
      out.append(utf8.substr(start, pos - start));
    }
  }
  return out;
}

bool SameText(std::string_view a, std::string_view b) {
  std::size_t i = 0;
  std::size_t j = 0;
  while (i < a.size() && j < b.size()) {
    const auto ca = static_cast<unsigned char>(a[i]);
    const auto cb = static_cast<unsigned char>(b[j]);
    if (ca < 0x80 && cb < 0x80) {
      if (FoldLower(ca) != FoldLower(cb)) return false;
      ++i;
      ++j;
      continue;
    }
    if (FoldLower(DecodeUtf8(a, i)) != FoldLower(DecodeUtf8(b, j))) return false;
  }
  return i == a.size() && j == b.size();
}

std::string UpperCase(std::string_view utf8) { return MapCase(utf8, FoldUpper); }

std::string LowerCase(std::string_view utf8) { return MapCase(utf8, FoldLower); }

std::string Trim(std::string_view text) {
  std::size_t first = 0;
  std::size_t last = text.size();
  while (first < last && IsBlank(text[first])) ++first;
  while (last > first && IsBlank(text[last - 1])) --last;
  return std::string(text.substr(first, last - first));
}
