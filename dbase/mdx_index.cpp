// Reading, appending to and building .mdx production indexes; see mdx_index.h.
#include "dbase/mdx_index.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <limits>
#include <numeric>

#include "dbase/error.h"

namespace dbase {
namespace {

using mdx::Block;
using mdx::Load16;
using mdx::Load32;
using mdx::Store16;
using mdx::Store32;

constexpr std::size_t kHeaderSize = 4 * mdx::kPageSize;  // pages 0..3
constexpr std::uint32_t kFirstBlockPage = 4;
constexpr std::size_t kSlotTable = 544;
constexpr std::size_t kSlotLength = 32;
constexpr std::size_t kMaxTags = (kHeaderSize - kSlotTable) / kSlotLength;  // 47
constexpr std::size_t kTagHeaderRead = 512;
constexpr std::size_t kExpressionOffset = 24;
constexpr std::size_t kExpressionBytes = 221;
constexpr std::size_t kStampOffset = 48;
constexpr std::size_t kStampEnd = 64;
constexpr std::uint8_t kStampMagic[4] = {'I', 'X', 'S', 'T'};
constexpr std::size_t kStateByte = 60;
constexpr int kMaxDepth = 24;
constexpr std::uint8_t kPlainCharacterKey = 0x10;

void StampDate(std::uint8_t* p) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  p[0] = static_cast<std::uint8_t>(local.tm_year);
  p[1] = static_cast<std::uint8_t>(local.tm_mon + 1);
  p[2] = static_cast<std::uint8_t>(local.tm_mday);
}

void EncodeStamp(std::uint8_t* header, const TableState& state, bool updating) {
  std::memcpy(header + kStampOffset, kStampMagic, sizeof kStampMagic);
  Store32(header + kStampOffset + 4, state.recordCount);
  Store16(header + kStampOffset + 8, state.headerLength);
  Store16(header + kStampOffset + 10, state.recordLength);
  header[kStateByte] = updating ? 1 : 0;
}

std::string ReadCString(const std::uint8_t* p, std::size_t max) {
  std::size_t n = 0;
  while (n < max && p[n] != 0) ++n;
  return std::string(reinterpret_cast<const char*>(p), n);
}

std::string Trim(std::string_view text) {
  const auto first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(' ');
  return std::string(text.substr(first, last - first + 1));
}

// Fills the three tree links of every slot: a binary search tree over tag names, slot 1 the root.
void LinkSlots(std::vector<std::uint8_t>& image, const std::vector<IndexTag>& tags) {
  for (std::size_t k = 1; k < tags.size(); ++k) {
    std::size_t node = 0;
    for (std::size_t guard = 0; guard < tags.size(); ++guard) {
      std::uint8_t* slot = &image[kSlotTable + node * kSlotLength];
      const bool less = tags[k].name < tags[node].name;
      std::uint8_t& link = slot[less ? 16 : 17];
      if (link == 0) {
        link = static_cast<std::uint8_t>(k + 1);
        image[kSlotTable + k * kSlotLength + 18] = static_cast<std::uint8_t>(node + 1);
        break;
      }
      node = link - 1u;
    }
  }
}

struct ChildRef {
  std::uint32_t page;
  std::string_view maxKey;
};

class ImageWriter {
 public:
  explicit ImageWriter(std::vector<std::uint8_t>& image) : image_(image) {}
  std::uint32_t Allocate() {
    const auto page = static_cast<std::uint32_t>(image_.size() / mdx::kPageSize);
    image_.resize(image_.size() + mdx::kBlockSize, 0);
    return page;
  }
  std::uint8_t* At(std::uint32_t page) { return &image_[page * mdx::kPageSize]; }
  void PutNode(std::uint32_t page, const mdx::Node& node, std::size_t keyLength,
               std::size_t itemLength) {
    Block block;
    node.Encode(block, keyLength, itemLength);
    std::copy(block.begin(), block.end(), At(page));
  }

 private:
  std::vector<std::uint8_t>& image_;
};

struct KeyRef {
  std::string_view key;
  std::uint32_t recno;
};

std::vector<KeyRef> SortedKeys(const IndexImageInput& in, const IndexTag& tag) {
  std::vector<KeyRef> keys;
  keys.reserve(in.state.recordCount);
  for (std::uint32_t r = 0; r < in.state.recordCount; ++r) {
    const auto* rec = in.records.data() + std::size_t{r} * in.state.recordLength;
    keys.push_back(
        {std::string_view(reinterpret_cast<const char*>(rec + tag.fieldOffset), tag.keyLength),
         r + 1});
  }
  std::stable_sort(keys.begin(), keys.end(),
                   [](const KeyRef& a, const KeyRef& b) { return a.key < b.key; });
  return keys;
}

// Full leaves, left to right; one empty leaf for an empty tag.
std::vector<ChildRef> BuildLeaves(ImageWriter& w, const std::vector<KeyRef>& keys,
                                  const IndexTag& tag, std::size_t itemLength) {
  const std::size_t capacity = mdx::MaxKeysFor(itemLength);
  std::vector<ChildRef> level;
  std::size_t pos = 0;
  do {
    mdx::Node leaf;
    const std::size_t end = std::min(keys.size(), pos + capacity);
    for (; pos < end; ++pos) leaf.entries.push_back({keys[pos].recno, std::string(keys[pos].key)});
    const std::uint32_t page = w.Allocate();
    w.PutNode(page, leaf, tag.keyLength, itemLength);
    level.push_back({page, end > 0 ? keys[end - 1].key : std::string_view()});
  } while (pos < keys.size());
  return level;
}

// One interior level over `below`, at most `maxChildren` children per node, spread evenly so
// that no node has a single child.
std::vector<ChildRef> BuildInteriorLevel(ImageWriter& w, const std::vector<ChildRef>& below,
                                         const IndexTag& tag, std::size_t itemLength,
                                         std::size_t maxChildren) {
  const std::size_t groups = (below.size() + maxChildren - 1) / maxChildren;
  const std::size_t base = below.size() / groups;
  const std::size_t extra = below.size() % groups;
  std::vector<ChildRef> level;
  std::size_t pos = 0;
  for (std::size_t g = 0; g < groups; ++g) {
    const std::size_t count = base + (g < extra ? 1 : 0);
    mdx::Node node;
    for (std::size_t i = 0; i + 1 < count; ++i) {
      node.entries.push_back({below[pos + i].page, std::string(below[pos + i].maxKey)});
    }
    node.extra = below[pos + count - 1].page;
    const std::uint32_t page = w.Allocate();
    w.PutNode(page, node, tag.keyLength, itemLength);
    level.push_back({page, below[pos + count - 1].maxKey});
    pos += count;
  }
  return level;
}

void BuildTag(std::vector<std::uint8_t>& image, const IndexImageInput& in, std::size_t slot) {
  const IndexTag& tag = in.tags[slot];
  const std::size_t itemLength = mdx::ItemLengthFor(tag.keyLength);
  const std::size_t maxKeys = mdx::MaxKeysFor(itemLength);
  ImageWriter w(image);
  const std::uint32_t headerPage = w.Allocate();
  const std::vector<KeyRef> keys = SortedKeys(in, tag);
  std::vector<ChildRef> level = BuildLeaves(w, keys, tag, itemLength);
  const std::uint32_t firstLeaf = level.front().page;
  const std::uint32_t lastLeaf = level.back().page;
  while (level.size() > 1) level = BuildInteriorLevel(w, level, tag, itemLength, maxKeys);
  const std::uint32_t nodePages =
      static_cast<std::uint32_t>(image.size() / mdx::kPageSize) - headerPage - mdx::kPagesPerBlock;

  std::uint8_t* h = w.At(headerPage);
  Store32(h + 0, level.front().page);
  Store32(h + 4, nodePages);
  h[8] = kPlainCharacterKey;
  h[9] = 'C';
  h[11] = in.languageDriver;
  Store16(h + 12, static_cast<std::uint16_t>(tag.keyLength));
  Store16(h + 14, static_cast<std::uint16_t>(maxKeys));
  Store16(h + 18, static_cast<std::uint16_t>(itemLength));
  h[20] = 2;
  std::memcpy(h + kExpressionOffset, tag.expression.data(),
              std::min(tag.expression.size(), kExpressionBytes - 1));
  h[246] = keys.empty() ? 0 : 1;
  Store32(h + 248, firstLeaf);
  Store32(h + 252, lastLeaf);
  StampDate(h + 257);
  h[480] = 1;

  std::uint8_t* s = &image[kSlotTable + slot * kSlotLength];
  Store32(s, headerPage);
  std::memcpy(s + 4, tag.name.data(), std::min<std::size_t>(tag.name.size(), 10));
  s[15] = kPlainCharacterKey;
  s[19] = 0x02;
  s[20] = 'C';
}

}  // namespace

TableState StateOf(const DbfPrefix& prefix) {
  return {prefix.recordCount, prefix.headerLength, prefix.recordLength};
}

IndexTag ResolveTag(const std::string& path, const TableLayout& table, std::string_view name,
                    std::string_view expression) {
  IndexTag tag;
  tag.name = UpperAscii(Trim(name));
  if (tag.name.empty() || tag.name.size() > 10) {
    ThrowUsage(path, "имя индекса пустое или длиннее 10 символов: " + std::string(name));
  }
  for (const char c : tag.name) {
    if (c <= ' ' || c > '~') ThrowUsage(path, "недопустимый символ в имени индекса " + tag.name);
  }
  tag.expression = Trim(expression);
  const FieldLayout* field = table.Find(tag.expression);
  if (field == nullptr) {
    ThrowUnsupported(path, "выражение индекса " + tag.name +
                               " не является именем поля: " + std::string(expression));
  }
  if (field->def.type != FieldType::Character) {
    ThrowUnsupported(path, "индекс " + tag.name + " по нетекстовому полю " + field->def.name);
  }
  tag.fieldOffset = field->offset;
  tag.keyLength = static_cast<std::size_t>(field->def.length);
  return tag;
}

std::vector<std::uint8_t> BuildIndexImage(const IndexImageInput& in) {
  std::vector<std::uint8_t> image(kHeaderSize, 0);
  for (std::size_t slot = 0; slot < in.tags.size(); ++slot) BuildTag(image, in, slot);
  LinkSlots(image, in.tags);
  std::uint8_t* h = image.data();
  h[0] = 0x02;
  StampDate(h + 1);
  const std::string base = UpperAscii(in.tableBaseName).substr(0, 15);
  std::memcpy(h + 4, base.data(), base.size());
  Store16(h + 20, mdx::kPagesPerBlock);
  Store16(h + 22, mdx::kBlockSize);
  h[24] = 1;
  h[25] = 48;
  h[26] = kSlotLength;
  Store16(h + 28, static_cast<std::uint16_t>(in.tags.size()));
  h[31] = in.languageDriver;
  Store32(h + 32, static_cast<std::uint32_t>(image.size() / mdx::kPageSize));
  StampDate(h + 44);
  h[529] = 1;
  EncodeStamp(h, in.state, false);
  return image;
}

MdxIndex::MdxIndex(File& file, const TableLayout& table) : file_(&file), header_(kHeaderSize) {
  const std::string& path = file.Path();
  const std::uint64_t size = file.Size();
  if (size < kHeaderSize) ThrowCorrupt(path, "файл короче заголовка индекса");
  file.ReadAt(0, header_.data(), kHeaderSize);
  const std::uint8_t* h = header_.data();
  if (h[0] != 0x02) ThrowUnsupported(path, "неизвестная версия индекса " + std::to_string(h[0]));
  if (Load16(h + 20) != mdx::kPagesPerBlock || Load16(h + 22) != mdx::kBlockSize) {
    ThrowUnsupported(path, "размер блока индекса не 1024 байта");
  }
  if (h[26] != kSlotLength) ThrowCorrupt(path, "неверная длина записи тега");
  const std::size_t tagCount = Load16(h + 28);
  if (tagCount == 0 || tagCount > kMaxTags) ThrowCorrupt(path, "неверное число тегов");
  pageCount_ = Load32(h + 32);
  if (pageCount_ < kFirstBlockPage || std::uint64_t{pageCount_} * mdx::kPageSize > size) {
    ThrowCorrupt(path, "число страниц в заголовке не совпадает с размером файла");
  }
  for (std::size_t slot = 0; slot < tagCount; ++slot) ReadTag(slot, table);
}

void MdxIndex::ReadTag(std::size_t slot, const TableLayout& table) {
  const std::string& path = file_->Path();
  const std::uint8_t* s = &header_[kSlotTable + slot * kSlotLength];
  const std::string where = "тег " + std::to_string(slot + 1) + ": ";
  TagState tag;
  tag.headerPage = Load32(s);
  if (!ValidPage(tag.headerPage)) ThrowCorrupt(path, where + "неверная страница заголовка тега");
  if (s[20] != 'C') ThrowUnsupported(path, where + "ключ не символьный");
  tag.header.resize(kTagHeaderRead);
  file_->ReadAt(std::uint64_t{tag.headerPage} * mdx::kPageSize, tag.header.data(), kTagHeaderRead);
  const std::uint8_t* h = tag.header.data();
  if ((h[8] & ~0x10) != 0 || h[9] != 'C')
    ThrowUnsupported(path, where + "уникальный, убывающий или нетекстовый ключ");
  if (h[245] != 0) ThrowUnsupported(path, where + "тег с условием FOR");
  const std::string name = ReadCString(s + 4, 11);
  IndexTag def =
      ResolveTag(path, table, name, ReadCString(h + kExpressionOffset, kExpressionBytes));
  tag.itemLength = Load16(h + 18);
  const std::size_t maxKeys = Load16(h + 14);
  if (Load16(h + 12) != def.keyLength || tag.itemLength != mdx::ItemLengthFor(def.keyLength) ||
      maxKeys < 3 || maxKeys > (mdx::kBlockSize - mdx::kNodeHeader) / tag.itemLength) {
    ThrowCorrupt(path, where + "длина ключа не совпадает с шириной поля " + def.expression);
  }
  tag.leafCapacity = std::min(maxKeys, mdx::MaxKeysFor(tag.itemLength));
  tag.interiorCapacity = tag.leafCapacity - 1;
  tag.root = Load32(h + 0);
  tag.nodePages = Load32(h + 4);
  tag.hasKeys = h[246] != 0;
  tag.lastLeaf = Load32(h + 252);
  // The root is not checked here: it belongs to the tree, which an append may have left half
  // written (a new root named before the file header counts its page). Reading the tree finds a
  // bad root, and the index is then rebuilt from these definitions.
  tagDefs_.push_back(std::move(def));
  tags_.push_back(std::move(tag));
}

void MarkIndexUpdating(File& file) {
  const std::uint8_t updating = 1;
  file.WriteAt(kStateByte, &updating, 1);
}

bool MdxIndex::MatchesState(const TableState& state) const {
  std::vector<std::uint8_t> expected(kStampEnd, 0);
  EncodeStamp(expected.data(), state, false);
  return std::equal(expected.begin() + kStampOffset, expected.end(),
                    header_.begin() + kStampOffset);
}

bool MdxIndex::ValidPage(std::uint32_t page) const {
  return page >= kFirstBlockPage && page % mdx::kPagesPerBlock == 0 &&
         std::uint64_t{page} + mdx::kPagesPerBlock <= pageCount_;
}

bool MdxIndex::ReadNode(std::size_t t, std::uint32_t page, const mdx::NodePlace& place,
                        std::uint32_t maxRecord, mdx::Node& node) const {
  if (!ValidPage(page)) return false;
  const TagState& tag = tags_[t];
  Block block;
  const std::size_t got =
      file_->ReadSomeAt(std::uint64_t{page} * mdx::kPageSize, block.data(), block.size());
  if (got != block.size()) return false;
  if (!node.Decode(block, tagDefs_[t].keyLength, tag.itemLength, tag.leafCapacity)) return false;
  if (!node.IsLeaf() && !ValidPage(node.extra)) return false;
  return node.FitsPlace(place, !tag.hasKeys, maxRecord);
}

void MdxIndex::WriteNode(std::uint32_t page, const TagState& tag, std::size_t keyLength,
                         const mdx::Node& node) {
  Block block;
  node.Encode(block, keyLength, tag.itemLength);
  file_->WriteAt(std::uint64_t{page} * mdx::kPageSize, block.data(), block.size());
}

std::uint32_t MdxIndex::AllocateBlock() {
  const std::uint32_t page = pageCount_;
  pageCount_ += mdx::kPagesPerBlock;
  return page;
}

void MdxIndex::WriteTagHeader(const TagState& tag) {
  std::vector<std::uint8_t> h = tag.header;
  Store32(h.data() + 0, tag.root);
  Store32(h.data() + 4, tag.nodePages);
  h[246] = tag.hasKeys ? 1 : 0;
  Store32(h.data() + 252, tag.lastLeaf);
  StampDate(h.data() + 257);
  file_->WriteAt(std::uint64_t{tag.headerPage} * mdx::kPageSize, h.data(), h.size());
}

void MdxIndex::WriteFileHeader(const TableState& state, bool updating) {
  Store32(header_.data() + 32, pageCount_);
  StampDate(header_.data() + 44);
  EncodeStamp(header_.data(), state, updating);
  file_->WriteAt(0, header_.data(), kStampEnd);
}

bool MdxIndex::Append(std::uint32_t recno, std::span<const std::uint8_t> record,
                      const TableState& after) {
  header_[kStateByte] = 1;
  file_->WriteAt(kStateByte, &header_[kStateByte], 1);
  for (std::size_t t = 0; t < tags_.size(); ++t) {
    const IndexTag& def = tagDefs_[t];
    if (def.fieldOffset + def.keyLength > record.size()) return false;
    const std::string key(reinterpret_cast<const char*>(record.data() + def.fieldOffset),
                          def.keyLength);
    if (!InsertKey(t, key, recno)) return false;
  }
  WriteFileHeader(after, false);
  return true;
}

bool MdxIndex::InsertKey(std::size_t t, const std::string& key, std::uint32_t recno) {
  TagState& tag = tags_[t];
  const std::size_t keyLength = tagDefs_[t].keyLength;
  std::vector<PathStep> path;
  std::uint32_t page = tag.root;
  mdx::NodePlace place;
  mdx::Node node;
  for (int depth = 0;; ++depth) {
    // Every record already in the tree comes before this one.
    if (depth > kMaxDepth || !ReadNode(t, page, place, recno - 1, node)) return false;
    if (node.IsLeaf()) break;
    // First separator strictly greater than the key, so that the key lands after its equals.
    const auto it =
        std::upper_bound(node.entries.begin(), node.entries.end(), key,
                         [](const std::string& k, const mdx::Entry& e) { return k < e.key; });
    const auto index = static_cast<std::size_t>(it - node.entries.begin());
    const std::uint32_t child = it == node.entries.end() ? node.extra : it->pointer;
    place = node.ChildPlace(place, index);
    path.push_back({page, std::move(node), index});
    page = child;
  }
  const auto pos =
      std::upper_bound(node.entries.begin(), node.entries.end(), key,
                       [](const std::string& k, const mdx::Entry& e) { return k < e.key; });
  node.entries.insert(pos, mdx::Entry{recno, key});
  const bool hadKeys = tag.hasKeys;
  tag.hasKeys = true;
  if (node.entries.size() <= tag.leafCapacity) {
    WriteNode(page, tag, keyLength, node);
    if (!hadKeys) WriteTagHeader(tag);
    return true;
  }
  SplitUpwards(t, path, node, page);
  return true;
}

void MdxIndex::SplitUpwards(std::size_t t, std::vector<PathStep>& path, mdx::Node& leaf,
                            std::uint32_t leafPage) {
  TagState& tag = tags_[t];
  const std::size_t keyLength = tagDefs_[t].keyLength;
  mdx::Node right;
  const std::size_t keep = (leaf.entries.size() + 1) / 2;
  right.entries.assign(std::make_move_iterator(leaf.entries.begin() + keep),
                       std::make_move_iterator(leaf.entries.end()));
  leaf.entries.resize(keep);
  std::uint32_t newPage = AllocateBlock();
  tag.nodePages += mdx::kPagesPerBlock;
  WriteNode(newPage, tag, keyLength, right);
  WriteNode(leafPage, tag, keyLength, leaf);
  if (tag.lastLeaf == leafPage) tag.lastLeaf = newPage;

  std::uint32_t oldPage = leafPage;
  std::string upKey = leaf.entries.back().key;
  while (!path.empty()) {
    PathStep step = std::move(path.back());
    path.pop_back();
    mdx::Node& parent = step.node;
    const std::size_t i = step.childIndex;
    if (i < parent.entries.size()) {
      std::string bound = std::move(parent.entries[i].key);
      parent.entries[i] = {oldPage, std::move(upKey)};
      parent.entries.insert(parent.entries.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                            mdx::Entry{newPage, std::move(bound)});
    } else {
      parent.entries.push_back({oldPage, std::move(upKey)});
      parent.extra = newPage;
    }
    if (parent.entries.size() <= tag.interiorCapacity) {
      WriteNode(step.page, tag, keyLength, parent);
      WriteTagHeader(tag);
      return;
    }
    // Left keeps the first half of the children; its last child becomes its extra pointer and
    // that child's separator moves up.
    const std::size_t children = parent.entries.size() + 1;
    const std::size_t leftChildren = (children + 1) / 2;
    mdx::Node upper;
    upper.entries.assign(std::make_move_iterator(parent.entries.begin() + leftChildren),
                         std::make_move_iterator(parent.entries.end()));
    upper.extra = parent.extra;
    mdx::Entry moved = std::move(parent.entries[leftChildren - 1]);
    parent.entries.resize(leftChildren - 1);
    parent.extra = moved.pointer;
    newPage = AllocateBlock();
    tag.nodePages += mdx::kPagesPerBlock;
    WriteNode(newPage, tag, keyLength, upper);
    WriteNode(step.page, tag, keyLength, parent);
    oldPage = step.page;
    upKey = std::move(moved.key);
  }
  mdx::Node root;
  root.entries.push_back({oldPage, std::move(upKey)});
  root.extra = newPage;
  const std::uint32_t rootPage = AllocateBlock();
  tag.nodePages += mdx::kPagesPerBlock;
  WriteNode(rootPage, tag, keyLength, root);
  tag.root = rootPage;
  WriteTagHeader(tag);
}

void MdxIndex::ForEachKey(std::size_t t,
                          const std::function<void(std::string_view, std::uint32_t)>& visit) const {
  WalkTag(t, std::numeric_limits<std::uint32_t>::max(), visit);
}

bool MdxIndex::TreesIntact(std::uint32_t recordCount) const {
  try {
    for (std::size_t t = 0; t < tags_.size(); ++t) {
      std::vector<bool> seen(std::size_t{recordCount} + 1, false);
      std::uint32_t keys = 0;
      bool repeated = false;
      // Record numbers 1..recordCount only: the walk refuses others.
      WalkTag(t, recordCount, [&](std::string_view, std::uint32_t recno) {
        repeated = repeated || seen[recno];
        seen[recno] = true;
        ++keys;
      });
      if (repeated || keys != recordCount) return false;
    }
  } catch (const Error& e) {
    if (e.Kind() != ErrorKind::Corrupt) throw;
    return false;
  }
  return true;
}

void MdxIndex::WalkTag(std::size_t t, std::uint32_t maxRecord,
                       const std::function<void(std::string_view, std::uint32_t)>& visit) const {
  Walk walk{maxRecord, -1, pageCount_ / mdx::kPagesPerBlock, visit};
  WalkNode(t, tags_.at(t).root, mdx::NodePlace(), 0, walk);
}

void MdxIndex::WalkNode(std::size_t t, std::uint32_t page, const mdx::NodePlace& place, int depth,
                        Walk& walk) const {
  const std::string& path = file_->Path();
  mdx::Node node;
  if (depth > kMaxDepth || walk.budget == 0) ThrowCorrupt(path, "петля в дереве индекса");
  --walk.budget;
  if (!ReadNode(t, page, place, walk.maxRecord, node)) {
    ThrowCorrupt(path, "неверный узел индекса на странице " + std::to_string(page));
  }
  if (node.IsLeaf()) {
    if (walk.leafDepth >= 0 && walk.leafDepth != depth)
      ThrowCorrupt(path, "листья индекса на разной глубине");
    walk.leafDepth = depth;
    for (const mdx::Entry& e : node.entries) walk.visit(e.key, e.pointer);
    return;
  }
  for (std::size_t i = 0; i < node.entries.size(); ++i) {
    WalkNode(t, node.entries[i].pointer, node.ChildPlace(place, i), depth + 1, walk);
  }
  WalkNode(t, node.extra, node.ChildPlace(place, node.entries.size()), depth + 1, walk);
}

}  // namespace dbase
