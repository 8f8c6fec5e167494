// The dBase IV production index (.mdx) beside a table: named tags over plain character fields.
//
// File layout (all pointers are 512-byte page numbers; blocks are 1024 bytes = 2 pages):
//   pages 0..3  file header and tag table
//     0 version 0x02 | 1..3 creation date | 4..19 table base name, upper case, NUL-padded |
//     20 uint16 2 (pages per block) | 22 uint16 1024 (block bytes) | 24 1 (production index) |
//     25 48 (tag slots) | 26 32 (slot length) | 28 uint16 tags in use | 31 language driver id,
//     the table's own (0x26) | 32 uint32 pages in the file | 36, 40 free chain (0: none) |
//     44..46 date of last update | 48..63 table state stamp (below) | 529 1
//     tag slot k (1-based) at 544 + 32 (k-1): 0 uint32 tag header page | 4..14 tag name |
//     15 0x10 | 16, 17, 18 links of the binary tree over tag names (left, right, parent) |
//     19 0x02 | 20 key type 'C'
//   tag header block: 0 root page | 4 pages of the tag's nodes | 8 0x10 | 9 'C' | 11 language id |
//     12 uint16 key length | 14 uint16 max keys per block = (1024 - 12) / item length |
//     18 uint16 item length = key length + 4 rounded up to 4 | 20 2 | 24 key expression, NUL
//     terminated | 246 1 when the tag has keys | 248 first leaf page | 252 last leaf page |
//     257..259 date | 480 1 (single-field key)
//   node blocks: see mdx_node.h. Interior nodes keep at most max - 1 keys.
// Keys are the field bytes as stored (code page, blank-padded), ordered by unsigned bytes, equal
// keys by record number; deleted records keep their keys until a pack rebuilds the file.
//
// State stamp (bytes 48..63, unused by other readers): "IXST", uint32 table record count, uint16
// header length, uint16 record length, byte 60 = 1 while an update is under way. An index whose
// stamp does not name the table's current state was left behind by a crash or written by another
// program; it is rebuilt from the table, never trusted.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "dbase/file.h"
#include "dbase/mdx_node.h"
#include "dbase/table_layout.h"

namespace dbase {

struct IndexTag {
  std::string name;        // upper case, at most 10 characters
  std::string expression;  // a field name
  std::size_t fieldOffset = 0;
  std::size_t keyLength = 0;
};

struct TableState {
  std::uint32_t recordCount = 0;
  std::uint16_t headerLength = 0;
  std::uint16_t recordLength = 0;
  bool operator==(const TableState&) const = default;
};

TableState StateOf(const DbfPrefix& prefix);

// Tag name and key expression resolved against the table's fields; throws ErrorKind::Usage or
// Unsupported naming `path` when the expression is not a plain character field.
IndexTag ResolveTag(const std::string& path, const TableLayout& table, std::string_view name,
                    std::string_view expression);

struct IndexImageInput {
  std::string tableBaseName;
  std::uint8_t languageDriver = 0;
  std::vector<IndexTag> tags;
  std::span<const std::uint8_t> records;  // state.recordCount records, back to back
  TableState state;
};

// A complete, freshly built index file.
std::vector<std::uint8_t> BuildIndexImage(const IndexImageInput& input);

// Sets the "update under way" byte of the index in `file` in place (one byte, so it needs no room on
// the disk): the index is not trusted again until it is rebuilt.
void MarkIndexUpdating(File& file);

class MdxIndex {
 public:
  // Reads and checks the header and tags of the index in `file` against the table's fields.
  // Throws ErrorKind::Corrupt or Unsupported naming the file.
  MdxIndex(File& file, const TableLayout& table);

  const std::vector<IndexTag>& Tags() const { return tagDefs_; }
  // True when the index was last written completely for exactly this table state.
  bool MatchesState(const TableState& state) const;

  // Adds `record` (record number `recno`, above every record already in the tags) to every tag
  // and stamps the index with `after`. Returns false, having left the stamp "updating", when the
  // tree turns out to be damaged (a node on the key's way down that cannot be one there, such as
  // a zeroed block); the caller then rebuilds the whole file.
  bool Append(std::uint32_t recno, std::span<const std::uint8_t> record, const TableState& after);

  // Walks one tag's keys in order. Throws ErrorKind::Corrupt when the tree is damaged (bad page,
  // loop, mixed depths, over-full node, a node that cannot be one where it is).
  void ForEachKey(
      std::size_t tag,
      const std::function<void(std::string_view key, std::uint32_t recno)>& visit) const;
  // True when every tag's tree is whole: no damage as ForEachKey sees it, and exactly one key for
  // each of the table's `recordCount` records (deleted ones included), each naming one of them.
  bool TreesIntact(std::uint32_t recordCount) const;

 private:
  struct TagState {
    std::uint32_t headerPage = 0;
    std::uint32_t root = 0;
    std::uint32_t nodePages = 0;
    std::uint32_t lastLeaf = 0;
    bool hasKeys = false;
    std::size_t itemLength = 0;
    std::size_t leafCapacity = 0;
    std::size_t interiorCapacity = 0;
    std::vector<std::uint8_t> header;  // first 512 bytes of the tag header block
  };
  struct PathStep {
    std::uint32_t page;
    mdx::Node node;
    std::size_t childIndex;
  };

  void ReadTag(std::size_t slot, const TableLayout& table);
  bool ValidPage(std::uint32_t page) const;
  // False when the block at `page` cannot be a node of tag `t` at `place`, its leaves naming
  // records 1..maxRecord (mdx::Node::FitsPlace).
  bool ReadNode(std::size_t t, std::uint32_t page, const mdx::NodePlace& place,
                std::uint32_t maxRecord, mdx::Node& node) const;
  void WriteNode(std::uint32_t page, const TagState& tag, std::size_t keyLength,
                 const mdx::Node& node);
  std::uint32_t AllocateBlock();
  bool InsertKey(std::size_t tag, const std::string& key, std::uint32_t recno);
  void SplitUpwards(std::size_t tag, std::vector<PathStep>& path, mdx::Node& leaf,
                    std::uint32_t leafPage);
  void WriteTagHeader(const TagState& tag);
  void WriteFileHeader(const TableState& state, bool updating);
  struct Walk {
    std::uint32_t maxRecord;
    int leafDepth = -1;
    std::size_t budget;  // nodes left to visit: no node can be visited twice
    const std::function<void(std::string_view, std::uint32_t)>& visit;
  };
  void WalkTag(std::size_t tag, std::uint32_t maxRecord,
               const std::function<void(std::string_view, std::uint32_t)>& visit) const;
  void WalkNode(std::size_t tag, std::uint32_t page, const mdx::NodePlace& place, int depth,
                Walk& walk) const;

  File* file_;
  std::vector<std::uint8_t> header_;  // pages 0..3
  std::uint32_t pageCount_ = 0;
  std::vector<IndexTag> tagDefs_;
  std::vector<TagState> tags_;
};

}  // namespace dbase
