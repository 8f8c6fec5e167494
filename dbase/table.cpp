// Table: opening, locking, the cursor and reading fields. Formats: table_layout.h, mdx_index.h.
#include "dbase/table.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <random>

#include "dbase/table_internal.h"

namespace dbase {

namespace detail {

std::string IndexPathFor(const std::string& tablePath) {
  const auto slash = tablePath.rfind('/');
  const auto dot = tablePath.rfind('.');
  const bool hasExtension = dot != std::string::npos && (slash == std::string::npos || dot > slash);
  return (hasExtension ? tablePath.substr(0, dot) : tablePath) + ".mdx";
}

std::string BaseNameOf(const std::string& tablePath) {
  const auto slash = tablePath.rfind('/');
  std::string name = slash == std::string::npos ? tablePath : tablePath.substr(slash + 1);
  const auto dot = name.rfind('.');
  if (dot != std::string::npos) name.resize(dot);
  return UpperAscii(name);
}

std::string TempPathFor(const std::string& path) { return path + ".tmp"; }

std::string UniqueTempPathFor(const std::string& path) {
  // Drawn afresh for every call: a generator's state would be shared by forked processes.
  std::random_device entropy;
  char suffix[48];
  std::snprintf(suffix, sizeof suffix, ".%ld.%08x%08x.tmp", static_cast<long>(::getpid()),
                entropy(), entropy());
  return path + suffix;
}

std::vector<IndexTag> ResolveTags(const std::string& path, const TableLayout& layout,
                                  const std::vector<TagDefinition>& tags) {
  std::vector<IndexTag> resolved;
  for (const TagDefinition& tag : tags)
    resolved.push_back(ResolveTag(path, layout, tag.name, tag.expression));
  return resolved;
}

void WriteIndexFile(File& out, const std::string& tablePath, const DbfPrefix& prefix,
                    const std::vector<IndexTag>& tags, std::span<const std::uint8_t> records) {
  IndexImageInput input;
  input.tableBaseName = BaseNameOf(tablePath);
  input.languageDriver = prefix.languageDriver;
  input.tags = tags;
  input.records = records;
  input.state = StateOf(prefix);
  const std::vector<std::uint8_t> image = BuildIndexImage(input);
  out.WriteAt(0, image.data(), image.size());
  out.Sync();
}

}  // namespace detail

using namespace detail;

Table::~Table() { Close(); }

void Table::SetCodePage(int codePage) {
  codePage_ = &SharedCodePage(codePage);  // fails here, not at Open, for an unknown code page
  codePageSetting_ = codePage;
}

void Table::RequireActive(const char* operation) const {
  if (!Active())
    ThrowUsage(path_.empty() ? "(таблица)" : path_,
               std::string(operation) + ": таблица не открыта");
}

void Table::Open(const std::string& path) {
  Close();
  try {
    OpenLocked(path);
  } catch (...) {
    Close();
    throw;
  }
}

// Takes the presence lock, then makes sure the path still names the locked file: a pack by
// another holder may have renamed a new file over it while this one waited.
void Table::OpenLocked(const std::string& path) {
  path_ = path;
  mdxPath_ = IndexPathFor(path);
  presence_ = exclusiveMode_ ? LockMode::Exclusive : LockMode::Shared;
  exclusiveByTry_ = false;
  for (int attempt = 0;; ++attempt) {
    File file(path, O_RDWR);
    file.Lock(kPresenceLock, presence_, lockTimeout_);
    if (PathIdentity(path) == file.Identity()) {
      dbf_ = std::move(file);
      break;
    }
    if (attempt >= kMaxReopens) ThrowBusy(path, "файл постоянно заменяется другим");
  }
  std::vector<std::uint8_t> head(kOpenReadBytes);
  head.resize(dbf_.ReadSomeAt(0, head.data(), head.size()));
  // Measured after the read: a holder appending meanwhile only makes the file longer than the
  // header just read says.
  const std::uint64_t size = dbf_.Size();
  ParseHeader(head, size);
  // The index of a table cut short may hold keys of the lost records under a stamp that names the
  // repaired count (its pages reached the disk, its header did not): it is rebuilt, not checked.
  const bool cutShort = recordCount_ > layout_.WholeRecords(size);
  if (cutShort) RepairShortTable();
  const std::uint32_t countInHead = recordCount_;  // records complete when `head` was read
  if (layout_.Prefix().hasIndex) OpenIndex(!cutShort);
  // The first read already holds the first records: keep them as the cursor's window.
  const std::size_t headerLength = layout_.Prefix().headerLength;
  const std::size_t recLen = layout_.RecordLength();
  const std::size_t inHead = head.size() > headerLength ? (head.size() - headerLength) / recLen : 0;
  windowFirst_ = 1;
  windowCount_ = static_cast<std::uint32_t>(std::min<std::size_t>(inHead, countInHead));
  window_.assign(head.begin() + static_cast<std::ptrdiff_t>(std::min(headerLength, head.size())),
                 head.begin() + static_cast<std::ptrdiff_t>(
                                    std::min(head.size(), headerLength + windowCount_ * recLen)));
  current_ = FindPassing(1);
}

void Table::ParseHeader(const std::vector<std::uint8_t>& head, std::uint64_t fileSize) {
  std::vector<std::uint8_t> whole;
  std::span<const std::uint8_t> bytes(head);
  if (head.size() >= kDbfPrefixSize) {
    const auto prefix = DbfPrefix::Decode(
        std::span<const std::uint8_t, kDbfPrefixSize>(head.data(), kDbfPrefixSize));
    if (prefix.headerLength > head.size() && prefix.headerLength <= fileSize) {
      whole.resize(prefix.headerLength);
      dbf_.ReadAt(0, whole.data(), whole.size());
      bytes = whole;
    }
  }
  layout_ = TableLayout::Parse(path_, bytes, fileSize);
  recordCount_ = layout_.Prefix().recordCount;
  const int fromFile = CodePageFor(layout_.Prefix().languageDriver);
  codePage_ = &SharedCodePage(codePageSetting_ != 0 ? codePageSetting_ : fromFile);
}

// A header counting more records than the file holds is what a power cut between the writes of an
// append leaves (appends are not flushed). Every whole record is kept, a record cut short is
// dropped and the header made to agree. The index is marked as being updated first, so that
// whatever happens next it is rebuilt before it is trusted. When the repair cannot be written
// (a full disk) the records are read all the same: counts stop at the whole records and the file
// is left for a later open to repair.
void Table::RepairShortTable() {
  const WriteScope lock(*this);
  DbfPrefix prefix = ReadPrefixLengths();
  const std::uint32_t whole = layout_.WholeRecords(dbf_.Size());
  if (prefix.recordCount > whole) {
    const std::uint32_t counted = prefix.recordCount;
    prefix.recordCount = whole;
    try {
      DropRecordsCutShort(prefix);
    } catch (const Error& e) {
      if (e.Kind() != ErrorKind::Io) throw;
      cappedCount_ = counted;
    }
  }
  layout_.Prefix() = prefix;
  recordCount_ = prefix.recordCount;
}

void Table::DropRecordsCutShort(const DbfPrefix& repaired) {
  if (repaired.hasIndex && FileExists(mdxPath_)) {
    File index(mdxPath_, O_RDWR);
    MarkIndexUpdating(index);
    index.Sync();  // on the disk before the table changes, whatever reaches it next
  }
  const std::uint64_t end = layout_.RecordOffset(std::uint64_t{repaired.recordCount} + 1);
  const std::uint8_t eof = kEndOfFile;
  dbf_.WriteAt(end, &eof, 1);
  dbf_.Truncate(end + 1);
  std::array<std::uint8_t, kDbfPrefixSize> head{};
  repaired.EncodeInto(head);
  dbf_.WriteAt(0, head.data(), head.size());
}

void Table::Close() noexcept {
  writeDepth_ = 0;  // closing the descriptor drops the write lock
  cappedCount_.reset();
  mdx_.Close();
  dbf_.Close();  // drops both locks
  appending_ = false;
  newRecord_.clear();
  current_ = 0;
  eof_ = true;
  recordCount_ = 0;
  windowCount_ = 0;
  window_.clear();
  window_.shrink_to_fit();
  exclusiveByTry_ = false;
}

DbfPrefix Table::ReadPrefixLengths() const {
  std::array<std::uint8_t, kDbfPrefixSize> bytes{};
  dbf_.ReadAt(0, bytes.data(), bytes.size());
  const DbfPrefix prefix = DbfPrefix::Decode(bytes);
  const DbfPrefix& known = layout_.Prefix();
  if (prefix.headerLength != known.headerLength || prefix.recordLength != known.recordLength) {
    ThrowCorrupt(path_, "заголовок таблицы изменён другой программой");
  }
  return prefix;
}

DbfPrefix Table::ReadPrefix() const {
  DbfPrefix prefix = ReadPrefixLengths();
  const std::uint32_t whole = layout_.WholeRecords(dbf_.Size());
  if (prefix.recordCount > whole && prefix.recordCount == cappedCount_) {
    prefix.recordCount = whole;
  } else if (prefix.recordCount > whole) {
    ThrowCorrupt(path_, "записей в заголовке (" + std::to_string(prefix.recordCount) +
                            ") больше, чем помещается в файле");
  }
  return prefix;
}

void Table::RefreshCount() {
  const DbfPrefix prefix = ReadPrefix();
  layout_.Prefix() = prefix;
  recordCount_ = prefix.recordCount;
  windowCount_ = 0;  // records may have changed through other holders
}

std::vector<std::uint8_t> Table::ReadRecords(std::uint32_t count) const {
  std::vector<std::uint8_t> records(std::size_t{count} * layout_.RecordLength());
  if (!records.empty()) dbf_.ReadAt(layout_.RecordOffset(1), records.data(), records.size());
  return records;
}

void Table::OpenIndexFile() {
  if (!FileExists(mdxPath_)) {
    ThrowCorrupt(path_, "у таблицы отмечен индекс, но файла " + mdxPath_ + " нет");
  }
  mdx_ = File(mdxPath_, O_RDWR);
}

// Checked under the write lock: an append by another holder may be half done, and its new pages
// may be named by a tag header before the file header counts them.
void Table::OpenIndex(bool trustStamp, bool walkTrees) {
  const WriteScope lock(*this);  // under the lock: a rebuild elsewhere replaces the file
  RefreshCount();
  const std::optional<MdxIndex> index = LoadIndex(true);
  // Left behind by a crash or written by another program: rebuilt, never trusted.
  if (trustStamp && index && index->MatchesState(StateOf(layout_.Prefix())) &&
      (!walkTrees || index->TreesIntact(recordCount_))) {
    return;
  }
  // A damaged tree under a stamp that matches must stay marked stale should the rebuild fail; a
  // mark that cannot be written leaves the damage hidden, so its error goes to the caller.
  if (index && walkTrees) MarkIndexUpdating(mdx_);
  try {
    RebuildIndex(TagsForRebuild(index), recordCount_);
  } catch (const Error& e) {
    if (e.Kind() != ErrorKind::Io) throw;
    // No room for a new index now (a full disk): the records are read from the table all the
    // same. The old index, if any, keeps a stamp that marks it stale, so the next append or open
    // rebuilds it.
    mdx_.Close();
  }
}

void Table::CheckIndex() {
  RequireActive("CheckIndex");
  if (layout_.Prefix().hasIndex) OpenIndex(true, true);  // takes the lock and the count itself
}

std::optional<MdxIndex> Table::LoadIndex(bool hasIndex) {
  try {
    FollowIndexFile(hasIndex);
    if (!hasIndex) return std::nullopt;
    return MdxIndex(mdx_, layout_);
  } catch (const Error& e) {
    const bool unreadable = e.Kind() == ErrorKind::Corrupt || e.Kind() == ErrorKind::Unsupported;
    if (knownTags_.empty() || !unreadable) throw;
    mdx_.Close();
    return std::nullopt;
  }
}

std::vector<IndexTag> Table::TagsForRebuild(const std::optional<MdxIndex>& index) const {
  return index ? index->Tags() : ResolveTags(path_, layout_, knownTags_);
}

// ---- the write lock ----

Table::WriteScope::WriteScope(Table& table) : table_(table) {
  table.RequireActive("WriteScope");
  if (table.writeDepth_ == 0) table.dbf_.Lock(kWriteLock, LockMode::Exclusive, table.lockTimeout_);
  ++table.writeDepth_;
}

Table::WriteScope::~WriteScope() {
  if (table_.writeDepth_ == 0) return;  // closed meanwhile
  if (--table_.writeDepth_ == 0) table_.dbf_.Unlock(kWriteLock);
}

// ---- cursor ----

void Table::First() {
  RequireActive("First");
  appending_ = false;
  RefreshCount();
  current_ = FindPassing(1);
}

void Table::Next() {
  RequireActive("Next");
  appending_ = false;
  if (eof_) return;
  current_ = FindPassing(current_ + 1);
}

std::uint32_t Table::FindPassing(std::uint32_t from) {
  for (std::uint32_t r = from; r >= 1 && r <= recordCount_; ++r) {
    if (RecordBytes(r)[0] == static_cast<std::uint8_t>(kDeletedMark)) continue;
    current_ = r;
    eof_ = false;
    if (filtered_ && filter_ && !filter_(*this)) continue;
    return r;
  }
  eof_ = true;
  return 0;
}

void Table::LoadWindow(std::uint32_t recno, std::size_t maxBytes) const {
  const std::size_t recLen = layout_.RecordLength();
  const std::size_t fit = std::max<std::size_t>(1, maxBytes / recLen);
  const auto count =
      static_cast<std::uint32_t>(std::min<std::size_t>(fit, recordCount_ - recno + 1));
  window_.resize(std::size_t{count} * recLen);
  dbf_.ReadAt(layout_.RecordOffset(recno), window_.data(), window_.size());
  windowFirst_ = recno;
  windowCount_ = count;
}

const std::uint8_t* Table::RecordBytes(std::uint32_t recno) const {
  if (windowCount_ == 0 || recno < windowFirst_ || recno - windowFirst_ >= windowCount_) {
    // Start small: a walk that stops early (the oldest live record) reads little.
    LoadWindow(recno, recno == 1 || windowCount_ == 0 ? kOpenReadBytes : kWindowBytes);
  }
  return window_.data() + std::size_t{recno - windowFirst_} * layout_.RecordLength();
}

const std::uint8_t* Table::CurrentRecord() const {
  if (appending_) return newRecord_.data();
  if (!Active() || current_ == 0) ThrowUsage(path_, "нет текущей записи");
  return RecordBytes(current_);
}

const FieldLayout& Table::FieldNamed(const std::string& name) const {
  const FieldLayout* field = layout_.Find(name);
  if (field == nullptr) ThrowUsage(path_, "нет поля " + name);
  return *field;
}

// ---- fields ----

std::string Table::FieldAsString(const std::string& name) const {
  const FieldLayout& f = FieldNamed(name);
  const char* p = reinterpret_cast<const char*>(CurrentRecord() + f.offset);
  auto length = static_cast<std::size_t>(f.def.length);
  while (length > 0 && (p[length - 1] == ' ' || p[length - 1] == '\0')) --length;
  std::string_view raw(p, length);
  if (f.def.type != FieldType::Character) {
    raw.remove_prefix(std::min(raw.size(), raw.find_first_not_of(' ')));
    return std::string(raw);
  }
  return codePage_->Decode(raw);
}

long long Table::FieldAsInteger(const std::string& name) const {
  const FieldLayout& f = FieldNamed(name);
  const char* p = reinterpret_cast<const char*>(CurrentRecord() + f.offset);
  const char* end = p + f.def.length;
  while (p < end && *p == ' ') ++p;
  if (p < end && *p == '+') ++p;
  long long value = 0;
  const auto result = std::from_chars(p, end, value);
  return result.ec == std::errc() ? value : 0;
}

std::vector<std::string> Table::IndexTagNames() {
  RequireActive("IndexTagNames");
  std::vector<std::string> names;
  if (!mdx_.IsOpen()) return names;
  const WriteScope lock(*this);
  FollowIndexFile(true);
  const MdxIndex index(mdx_, layout_);
  for (const IndexTag& tag : index.Tags()) names.push_back(tag.name);
  return names;
}

}  // namespace dbase
