// An independent structural check of .mdx files written by the library, reading raw bytes only:
// header constants, tag headers, page numbers, node capacity (interior nodes at most max - 1 keys),
// separators equal to the highest key below them, zeroed block tails, equal leaf depth.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace dbase::test {

using KeyList = std::vector<std::pair<std::string, std::uint32_t>>;  // (key bytes, record number)

struct TagWalk {
  std::string name;
  std::string expression;
  KeyList keys;  // in tree order
  int levels = 0;
};

struct MdxCheck {
  std::vector<TagWalk> tags;
  std::vector<std::string> problems;
};

MdxCheck CheckMdx(const std::vector<std::uint8_t>& file);

// Every record's field bytes with its record number, sorted by key then record number: what a tag
// on that field must hold. `dbf` is the whole table file.
KeyList ExpectedKeys(const std::vector<std::uint8_t>& dbf, const std::string& field);

}  // namespace dbase::test
