// Single-byte code pages of dBase character fields, and their language driver ids.
//
// A table's header byte 29 (and an index's byte 31) holds a language driver id naming the code page
// of its character data; 0x26 means code page 866 (DOS Cyrillic). Character fields hold one byte
// per character, so text is converted between UTF-8 and the code page through a 256-entry table
// built once with iconv. Characters the code page cannot hold become '?'; bytes the code page does
// not define become U+FFFD on reading.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace dbase {

// Language driver id for a code page (866 -> 0x26), 0 when there is none.
std::uint8_t LanguageDriverFor(int codePage);
// Code page for a language driver id (0x26 -> 866), 0 when unknown.
int CodePageFor(std::uint8_t languageDriver);

class CodePage {
 public:
  // Code page 0 passes bytes through unchanged (cutting never splits a UTF-8 sequence).
  explicit CodePage(int codePage = 0);

  int Number() const { return number_; }

  // Encodes UTF-8 text into at most `width` bytes of the code page, one per character. Invalid
  // UTF-8 bytes and unmappable characters become '?'.
  std::string Encode(std::string_view utf8, std::size_t width) const;
  std::string Decode(std::string_view bytes) const;

 private:
  struct Mapping {
    char32_t codePoint;
    std::uint8_t byte;
  };
  void Build();
  int number_;
  std::array<char32_t, 256> toUnicode_{};
  std::array<std::array<char, 4>, 256> utf8_{};  // each byte's character, encoded
  std::array<std::uint8_t, 256> utf8Length_{};
  std::vector<Mapping> fromUnicode_;  // sorted by code point
};

// One shared conversion table per code page, built on first use (thread-safe).
const CodePage& SharedCodePage(int codePage);

}  // namespace dbase
