// Decoding and encoding of .mdx node blocks; see mdx_node.h.
#include "dbase/mdx_node.h"

#include <algorithm>

namespace dbase::mdx {

std::uint32_t Load32(const std::uint8_t* p) {
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
std::uint16_t Load16(const std::uint8_t* p) { return static_cast<std::uint16_t>(p[0] | p[1] << 8); }
void Store32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
void Store16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v);
  p[1] = static_cast<std::uint8_t>(v >> 8);
}

bool Node::Decode(const Block& block, std::size_t keyLength, std::size_t itemLength,
                  std::size_t maxKeys) {
  const std::uint32_t n = Load32(block.data());
  if (n > maxKeys || kNodeHeader + std::size_t{n} * itemLength > kBlockSize) return false;
  entries.resize(n);
  for (std::uint32_t i = 0; i < n; ++i) {
    const std::uint8_t* item = block.data() + kNodeHeader + i * itemLength;
    entries[i].pointer = Load32(item);
    entries[i].key.assign(reinterpret_cast<const char*>(item + 4), keyLength);
  }
  const std::size_t tail = kNodeHeader + std::size_t{n} * itemLength;
  extra = tail + 4 <= kBlockSize ? Load32(block.data() + tail) : 0;
  return true;
}

bool Node::FitsPlace(const NodePlace& place, bool mayBeEmpty, std::uint32_t maxRecord) const {
  if (entries.empty()) return mayBeEmpty && place.root && IsLeaf();
  const Entry* previous = nullptr;
  for (const Entry& e : entries) {
    if (e.key < place.low || (place.bounded && e.key > place.high)) return false;
    if (IsLeaf() && (e.pointer == 0 || e.pointer > maxRecord)) return false;
    if (previous != nullptr && (e.key < previous->key || (IsLeaf() && e.key == previous->key &&
                                                          e.pointer <= previous->pointer))) {
      return false;
    }
    previous = &e;
  }
  return true;
}

NodePlace Node::ChildPlace(const NodePlace& place, std::size_t child) const {
  NodePlace below;
  below.root = false;
  below.low = child == 0 ? place.low : entries[child - 1].key;
  below.bounded = child < entries.size() || place.bounded;
  if (below.bounded) below.high = child < entries.size() ? entries[child].key : place.high;
  return below;
}

void Node::Encode(Block& block, std::size_t keyLength, std::size_t itemLength) const {
  block.fill(0);
  Store32(block.data(), static_cast<std::uint32_t>(entries.size()));
  std::uint8_t* item = block.data() + kNodeHeader;
  for (const Entry& e : entries) {
    Store32(item, e.pointer);
    std::copy_n(e.key.data(), std::min(keyLength, e.key.size()), item + 4);
    item += itemLength;
  }
  if (item + 4 <= block.data() + kBlockSize) Store32(item, extra);
}

}  // namespace dbase::mdx
