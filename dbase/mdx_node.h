// One B-tree node block of a dBase IV production index (.mdx).
//
// A node is a 1024-byte block (two 512-byte pages; every pointer in the file is a page number):
//   0..3  uint32 n = number of keys in the node
//   4..7  0
//   8..   n entries of `item length` bytes (key length + 4, rounded up to a multiple of 4):
//         [uint32 pointer][key bytes][NUL padding]
// Leaf: pointer = record number, keys ascending by unsigned bytes, equal keys by record number.
// Interior: pointer = child page, key = the highest key in that child's subtree; one more child
// pointer sits in the pointer slot of entry n (keys above every separator). The dword at
// 8 + n * item length is what tells them apart: 0 for a leaf, a page number for an interior node,
// so everything after the last entry of a block must stay zero.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace dbase::mdx {

inline constexpr std::size_t kPageSize = 512;
inline constexpr std::size_t kBlockSize = 1024;
inline constexpr std::uint32_t kPagesPerBlock = 2;
inline constexpr std::size_t kNodeHeader = 8;

using Block = std::array<std::uint8_t, kBlockSize>;

// Most keys a block may hold for an item length, leaving room for the closing zero dword.
constexpr std::size_t MaxKeysFor(std::size_t itemLength) {
  return (kBlockSize - kNodeHeader - 4) / itemLength;
}
constexpr std::size_t ItemLengthFor(std::size_t keyLength) { return (keyLength + 4 + 3) / 4 * 4; }

struct Entry {
  std::uint32_t pointer = 0;
  std::string key;  // exactly key length bytes
};

// Where a node sits in its tree: the keys its parents' separators allow it (each at least `low`
// and, when `bounded`, at most `high`) and whether it is the root.
struct NodePlace {
  std::string low;  // "" allows every key
  std::string high;
  bool bounded = false;
  bool root = true;
};

struct Node {
  std::vector<Entry> entries;
  std::uint32_t extra = 0;  // last child of an interior node; 0 for a leaf

  bool IsLeaf() const { return extra == 0; }
  // Returns false when the block cannot be a node for this item length and capacity.
  bool Decode(const Block& block, std::size_t keyLength, std::size_t itemLength,
              std::size_t maxKeys);
  // False for what no tree holds at `place` (an all-zero block, say): no entries, unless this is
  // the root leaf of a tag without keys (`mayBeEmpty`); keys descending or outside the place's
  // range; equal keys of a leaf not by ascending record number; a leaf's record number 0 or above
  // `maxRecord`.
  bool FitsPlace(const NodePlace& place, bool mayBeEmpty, std::uint32_t maxRecord) const;
  // The place of child `child` (entries.size() for the extra pointer) below this node at `place`.
  NodePlace ChildPlace(const NodePlace& place, std::size_t child) const;
  // A whole block, zero after the last entry (and after the extra pointer).
  void Encode(Block& block, std::size_t keyLength, std::size_t itemLength) const;
};

std::uint32_t Load32(const std::uint8_t* p);
std::uint16_t Load16(const std::uint8_t* p);
void Store32(std::uint8_t* p, std::uint32_t v);
void Store16(std::uint8_t* p, std::uint16_t v);

}  // namespace dbase::mdx
