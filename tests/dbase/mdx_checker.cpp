// Raw-byte structural check of .mdx files; see mdx_checker.h.
#include "tests/dbase/mdx_checker.h"

#include <algorithm>
#include <cstring>

namespace dbase::test {
namespace {

std::uint32_t U32(const std::vector<std::uint8_t>& b, std::size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<std::uint32_t>(b[at + 3]) << 24;
}
std::uint16_t U16(const std::vector<std::uint8_t>& b, std::size_t at) {
  return static_cast<std::uint16_t>(b[at] | b[at + 1] << 8);
}

struct TagGeometry {
  std::size_t keyLength, itemLength, maxKeys;
};

class Walker {
 public:
  Walker(const std::vector<std::uint8_t>& file, TagGeometry g, MdxCheck& out, std::string tag)
      : f_(file), g_(g), out_(out), tag_(std::move(tag)) {}

  // Returns the highest key of the subtree (empty for an empty leaf).
  std::string Walk(std::uint32_t page, int depth, KeyList& keys) {
    if (depth > 20 || !PageOk(page)) {
      Problem("bad page " + std::to_string(page));
      return {};
    }
    const std::size_t base = std::size_t{page} * 512;
    const std::uint32_t n = U32(f_, base);
    const std::size_t tail = base + 8 + std::size_t{n} * g_.itemLength;
    if (n > g_.maxKeys || tail + 4 > base + 1024) {
      Problem("node with " + std::to_string(n) + " keys at page " + std::to_string(page));
      return {};
    }
    const std::uint32_t extra = U32(f_, tail);
    if (extra == 0) return Leaf(base, n, tail, depth, keys, page);
    return Interior(base, n, extra, depth, keys, page);
  }

  int leafDepth = -1;
  std::vector<std::uint32_t> leaves;

 private:
  bool PageOk(std::uint32_t page) const {
    return page >= 4 && page % 2 == 0 && (std::size_t{page} + 2) * 512 <= f_.size();
  }
  void Problem(const std::string& what) { out_.problems.push_back(tag_ + ": " + what); }
  std::string KeyAt(std::size_t item) const {
    return std::string(reinterpret_cast<const char*>(&f_[item + 4]), g_.keyLength);
  }
  void CheckPadding(std::size_t item, std::uint32_t page) {
    for (std::size_t i = 4 + g_.keyLength; i < g_.itemLength; ++i) {
      if (f_[item + i] != 0) Problem("key padding not NUL at page " + std::to_string(page));
    }
  }

  std::string Leaf(std::size_t base, std::uint32_t n, std::size_t tail, int depth, KeyList& keys,
                   std::uint32_t page) {
    if (leafDepth >= 0 && leafDepth != depth) Problem("leaves at different depths");
    leafDepth = depth;
    leaves.push_back(page);
    if (std::any_of(f_.begin() + static_cast<std::ptrdiff_t>(tail),
                    f_.begin() + static_cast<std::ptrdiff_t>(base + 1024),
                    [](std::uint8_t b) { return b != 0; })) {
      Problem("stale bytes after the last leaf entry at page " + std::to_string(page));
    }
    if (f_[base + 4] | f_[base + 5] | f_[base + 6] | f_[base + 7]) Problem("node bytes 4..7 not 0");
    std::string last;
    for (std::uint32_t i = 0; i < n; ++i) {
      const std::size_t item = base + 8 + i * g_.itemLength;
      CheckPadding(item, page);
      last = KeyAt(item);
      keys.emplace_back(last, U32(f_, item));
    }
    return last;
  }

  std::string Interior(std::size_t base, std::uint32_t n, std::uint32_t extra, int depth,
                       KeyList& keys, std::uint32_t page) {
    if (n == 0 || n > g_.maxKeys - 1) {
      Problem("interior node with " + std::to_string(n) + " keys at page " + std::to_string(page));
    }
    for (std::uint32_t i = 0; i < n; ++i) {
      const std::size_t item = base + 8 + i * g_.itemLength;
      CheckPadding(item, page);
      const std::string separator = KeyAt(item);
      const std::string highest = Walk(U32(f_, item), depth + 1, keys);
      if (highest != separator)
        Problem("separator is not the child's highest key at page " + std::to_string(page));
    }
    return Walk(extra, depth + 1, keys);
  }

  const std::vector<std::uint8_t>& f_;
  TagGeometry g_;
  MdxCheck& out_;
  std::string tag_;
};

void CheckHeader(const std::vector<std::uint8_t>& f, MdxCheck& out) {
  auto expect = [&](bool ok, const char* what) {
    if (!ok) out.problems.push_back(std::string("header: ") + what);
  };
  expect(f[0] == 0x02, "version");
  expect(U16(f, 20) == 2 && U16(f, 22) == 1024, "block size");
  expect(f[24] == 1 && f[25] == 48 && f[26] == 32, "production flag / slots");
  expect(f[31] == 0x26, "language driver");
  expect(U32(f, 32) * 512ull == f.size(), "page count");
  expect(f.size() % 1024 == 0, "whole blocks");
  expect(U32(f, 36) == 0 && U32(f, 40) == 0, "free chain");
  expect(f[529] == 1, "byte 529");
}

}  // namespace

MdxCheck CheckMdx(const std::vector<std::uint8_t>& f) {
  MdxCheck out;
  if (f.size() < 2048) {
    out.problems.push_back("shorter than the header");
    return out;
  }
  CheckHeader(f, out);
  const std::size_t tags = U16(f, 28);
  for (std::size_t k = 0; k < tags && k < 47; ++k) {
    const std::size_t slot = 544 + 32 * k;
    TagWalk tag;
    tag.name = std::string(reinterpret_cast<const char*>(&f[slot + 4]),
                           strnlen(reinterpret_cast<const char*>(&f[slot + 4]), 11));
    const std::uint32_t headerPage = U32(f, slot);
    if (f[slot + 15] != 0x10 || f[slot + 19] != 2 || f[slot + 20] != 'C')
      out.problems.push_back(tag.name + ": slot bytes");
    if (headerPage < 4 || headerPage % 2 || (headerPage + 2ull) * 512 > f.size()) {
      out.problems.push_back(tag.name + ": tag header page");
      continue;
    }
    const std::size_t h = std::size_t{headerPage} * 512;
    TagGeometry g{U16(f, h + 12), U16(f, h + 18), U16(f, h + 14)};
    if (g.itemLength != (g.keyLength + 4 + 3) / 4 * 4 || g.maxKeys != (1024 - 12) / g.itemLength) {
      out.problems.push_back(tag.name + ": key geometry");
      continue;
    }
    tag.expression = reinterpret_cast<const char*>(&f[h + 24]);
    if (f[h + 8] != 0x10 || f[h + 9] != 'C' || f[h + 480] != 1)
      out.problems.push_back(tag.name + ": tag header bytes");
    Walker walker(f, g, out, tag.name);
    walker.Walk(U32(f, h), 0, tag.keys);
    tag.levels = walker.leafDepth + 1;
    if ((f[h + 246] != 0) != !tag.keys.empty())
      out.problems.push_back(tag.name + ": has-keys flag");
    if (!walker.leaves.empty() &&
        (U32(f, h + 248) != walker.leaves.front() || U32(f, h + 252) != walker.leaves.back())) {
      out.problems.push_back(tag.name + ": first/last leaf pages");
    }
    if (!std::is_sorted(tag.keys.begin(), tag.keys.end()))
      out.problems.push_back(tag.name + ": keys out of order");
    out.tags.push_back(std::move(tag));
  }
  return out;
}

KeyList ExpectedKeys(const std::vector<std::uint8_t>& dbf, const std::string& field) {
  const std::size_t headerLength = U16(dbf, 8);
  const std::size_t recordLength = U16(dbf, 10);
  const std::uint32_t count = U32(dbf, 4);
  std::size_t offset = 1;
  std::size_t length = 0;
  for (std::size_t d = 32; dbf[d] != 0x0D; d += 32) {
    if (std::strncmp(reinterpret_cast<const char*>(&dbf[d]), field.c_str(), 11) == 0) {
      length = dbf[d + 16];
      break;
    }
    offset += dbf[d + 16];
  }
  KeyList keys;
  for (std::uint32_t r = 0; r < count; ++r) {
    const std::size_t at = headerLength + r * recordLength + offset;
    keys.emplace_back(std::string(reinterpret_cast<const char*>(&dbf[at]), length), r + 1);
  }
  std::sort(keys.begin(), keys.end());
  return keys;
}

}  // namespace dbase::test
