// Conversion tables between single-byte code pages and UTF-8, built with iconv.
#include "dbase/code_page.h"

#include <iconv.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

#include "dbase/error.h"

namespace dbase {
namespace {

struct DriverEntry {
  std::uint8_t id;
  int codePage;
};
// The first entry for a code page is the one written into new files.
constexpr DriverEntry kDrivers[] = {
    {0x26, 866},  {0x65, 866},  {0x01, 437},  {0x02, 850},
    {0x03, 1252}, {0x57, 1252}, {0xC9, 1251}, {0x64, 852},
};

constexpr char32_t kReplacement = 0xFFFD;

struct IconvCloser {
  void operator()(void* handle) const { iconv_close(static_cast<iconv_t>(handle)); }
};

// Decodes one UTF-8 sequence at `pos`; returns kReplacement (advancing one byte) when invalid.
char32_t NextCodePoint(std::string_view text, std::size_t& pos) {
  const auto lead = static_cast<unsigned char>(text[pos]);
  int extra = 0;
  char32_t cp = lead;
  if (lead < 0x80) {
    ++pos;
    return cp;
  }
  if ((lead & 0xE0) == 0xC0) {
    extra = 1;
    cp = lead & 0x1F;
  } else if ((lead & 0xF0) == 0xE0) {
    extra = 2;
    cp = lead & 0x0F;
  } else if ((lead & 0xF8) == 0xF0) {
    extra = 3;
    cp = lead & 0x07;
  } else {
    ++pos;
    return kReplacement;
  }
  if (pos + extra >= text.size()) {
    ++pos;
    return kReplacement;
  }
  for (int i = 1; i <= extra; ++i) {
    const auto c = static_cast<unsigned char>(text[pos + i]);
    if ((c & 0xC0) != 0x80) {
      ++pos;
      return kReplacement;
    }
    cp = (cp << 6) | (c & 0x3F);
  }
  static constexpr char32_t kMin[] = {0, 0x80, 0x800, 0x10000};
  if (cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
    ++pos;
    return kReplacement;
  }
  pos += extra + 1;
  return cp;
}

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Length of the UTF-8 sequence starting with `lead` as far as `text` holds it (1 when invalid).
std::size_t SequenceLength(std::string_view text, std::size_t pos) {
  std::size_t probe = pos;
  NextCodePoint(text, probe);
  return probe - pos;
}

}  // namespace

std::uint8_t LanguageDriverFor(int codePage) {
  for (const auto& entry : kDrivers) {
    if (entry.codePage == codePage) return entry.id;
  }
  return 0;
}

int CodePageFor(std::uint8_t languageDriver) {
  for (const auto& entry : kDrivers) {
    if (entry.id == languageDriver) return entry.codePage;
  }
  return 0;
}

CodePage::CodePage(int codePage) : number_(codePage) {
  if (number_ != 0) Build();
}

void CodePage::Build() {
  const std::string name = "CP" + std::to_string(number_);
  std::unique_ptr<void, IconvCloser> handle(iconv_open("UTF-8", name.c_str()));
  if (handle.get() == reinterpret_cast<void*>(-1)) {
    handle.release();
    ThrowUnsupported(name, "кодовая страница недоступна в iconv");
  }
  const auto cd = static_cast<iconv_t>(handle.get());
  for (int b = 0; b < 256; ++b) {
    char in = static_cast<char>(b);
    char out[8] = {};
    char* inPtr = &in;
    char* outPtr = out;
    std::size_t inLeft = 1;
    std::size_t outLeft = sizeof out;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    const std::size_t rc = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
    std::size_t pos = 0;
    const std::string_view produced(out, sizeof out - outLeft);
    toUnicode_[b] = (rc == static_cast<std::size_t>(-1) || produced.empty())
                        ? kReplacement
                        : NextCodePoint(produced, pos);
  }
  for (int b = 0; b < 256; ++b) {
    std::string encoded;
    AppendUtf8(encoded, toUnicode_[b]);
    std::copy(encoded.begin(), encoded.end(), utf8_[b].begin());
    utf8Length_[b] = static_cast<std::uint8_t>(encoded.size());
  }
  for (int b = 0; b < 256; ++b) {
    if (toUnicode_[b] != kReplacement) {
      fromUnicode_.push_back({toUnicode_[b], static_cast<std::uint8_t>(b)});
    }
  }
  // Stable: of two bytes showing the same character, the lower one is found first and written.
  std::stable_sort(fromUnicode_.begin(), fromUnicode_.end(),
                   [](const Mapping& a, const Mapping& b) { return a.codePoint < b.codePoint; });
}

std::string CodePage::Encode(std::string_view utf8, std::size_t width) const {
  std::string out;
  out.reserve(std::min(width, utf8.size()));
  std::size_t pos = 0;
  while (pos < utf8.size() && out.size() < width) {
    if (number_ == 0) {
      const std::size_t len = SequenceLength(utf8, pos);
      if (out.size() + len > width) break;
      if (len == 1 && static_cast<unsigned char>(utf8[pos]) >= 0x80) {
        out += '?';
      } else {
        out.append(utf8.substr(pos, len));
      }
      pos += len;
      continue;
    }
    const char32_t cp = NextCodePoint(utf8, pos);
    const auto it =
        std::lower_bound(fromUnicode_.begin(), fromUnicode_.end(), cp,
                         [](const Mapping& m, char32_t value) { return m.codePoint < value; });
    out += (it != fromUnicode_.end() && it->codePoint == cp) ? static_cast<char>(it->byte) : '?';
  }
  return out;
}

std::string CodePage::Decode(std::string_view bytes) const {
  if (number_ == 0) return std::string(bytes);
  std::size_t length = 0;
  for (const char c : bytes) length += utf8Length_[static_cast<unsigned char>(c)];
  std::string out(length + 3, '\0');  // room to copy whole 4-byte slots
  char* p = out.data();
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    std::memcpy(p, utf8_[b].data(), 4);
    p += utf8Length_[b];
  }
  out.resize(length);
  return out;
}

const CodePage& SharedCodePage(int codePage) {
  static std::mutex mutex;
  static std::map<int, std::unique_ptr<const CodePage>> pages;
  const std::lock_guard lock(mutex);
  auto& slot = pages[codePage];
  if (!slot) slot = std::make_unique<const CodePage>(codePage);
  return *slot;
}

}  // namespace dbase
