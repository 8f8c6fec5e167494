// Table: creating tables, appending records, deleting, counting and keeping the index in step.
// Formats: table_layout.h (records, header), mdx_index.h (index).
#include <fcntl.h>
#include <signal.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <filesystem>
#include <string_view>

#include "dbase/table.h"
#include "dbase/table_internal.h"

namespace dbase {

using namespace detail;

namespace {

std::string NumberText(long long value, int decimals) {
  std::string text = std::to_string(value);
  if (decimals > 0) text += "." + std::string(static_cast<std::size_t>(decimals), '0');
  return text;
}

bool IsNumberText(std::string_view text) {
  std::size_t i = (!text.empty() && (text[0] == '-' || text[0] == '+')) ? 1 : 0;
  bool digits = false;
  bool dot = false;
  for (; i < text.size(); ++i) {
    if (text[i] >= '0' && text[i] <= '9') {
      digits = true;
    } else if (text[i] == '.' && !dot) {
      dot = true;
    } else {
      return false;
    }
  }
  return digits;
}

// Flags the table as having a production index and each tag's field as indexed.
void FlagIndexed(TableLayout& layout, const std::vector<IndexTag>& tags) {
  if (tags.empty()) return;
  layout.Prefix().hasIndex = true;
  for (FieldLayout& f : layout.Fields()) {
    for (const IndexTag& t : tags) {
      if (t.fieldOffset == f.offset) f.indexed = true;
    }
  }
}

// "<name>.<pid>.<16 hex digits>.tmp" (UniqueTempPathFor) -> pid; 0 for other names.
long TempFileOwner(std::string_view fileName, const std::string& name) {
  constexpr std::string_view kTail = ".tmp";
  if (fileName.size() < name.size() + 1 + kTail.size() || !fileName.starts_with(name) ||
      fileName[name.size()] != '.' || !fileName.ends_with(kTail)) {
    return 0;
  }
  const std::string_view middle =
      fileName.substr(name.size() + 1, fileName.size() - name.size() - 1 - kTail.size());
  const auto dot = middle.find('.');
  if (dot == std::string_view::npos || middle.size() - dot - 1 != 16) return 0;
  long pid = 0;
  const auto [end, ec] = std::from_chars(middle.data(), middle.data() + dot, pid);
  return ec == std::errc() && end == middle.data() + dot ? pid : 0;
}

// A temporary file of this creation, locked from the start: RemoveAbandonedTempFiles leaves a file
// alone while its creator holds it, wherever that creator runs.
File CreateLockedTemp(const std::string& path) {
  File file(path, O_RDWR | O_CREAT | O_EXCL, 0644);
  if (!file.TryLock(kPresenceLock, LockMode::Exclusive)) ThrowBusy(path, "временный файл занят");
  return file;
}

// Removes a temporary file whose creator no longer runs here (the folder may be shared with other
// hosts or process namespaces) and holds no lock on it.
void RemoveIfAbandoned(const std::string& path, long pid) {
  if (::kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) return;
  try {
    File file(path, O_RDWR);
    if (file.TryLock(kPresenceLock, LockMode::Exclusive)) RemoveFile(path);
  } catch (const Error&) {
    // Gone meanwhile or not ours to open: left alone.
  }
}

// Removes the temporary files of a pack or an index rebuild of the table at `path` (TempPathFor)
// when the locks rule out that one is running: a pack holds the table's presence lock exclusively,
// a rebuild its write lock, so holding the first shared and the second, on the file the path
// names, keeps both out. Otherwise, or without a table to lock, the files stay.
void RemovePackAndRebuildLeftovers(const std::string& path) {
  const std::string temps[] = {TempPathFor(path), TempPathFor(IndexPathFor(path))};
  if (!FileExists(temps[0]) && !FileExists(temps[1])) return;
  try {
    File table(path, O_RDWR);
    if (!table.TryLock(kPresenceLock, LockMode::Shared) ||
        !table.TryLock(kWriteLock, LockMode::Exclusive) || PathIdentity(path) != table.Identity()) {
      return;
    }
    for (const std::string& temp : temps) RemoveFile(temp);
  } catch (const Error&) {
    // No table, or not ours to open: nothing is ruled out.
  }
}

}  // namespace

// The table and its index are written to temporary files first, so that a failure leaves no table
// at all rather than one without its tags. The new table is published under its presence lock:
// other holders wait until the index is in place too.
bool Table::CreateTable(const std::string& path, const std::vector<FieldDef>& fields,
                        CreateMode mode, const std::vector<TagDefinition>& tags) {
  Close();
  const std::uint8_t driver = LanguageDriverFor(codePageSetting_);
  TableLayout layout = TableLayout::Define(path, fields, driver);
  const std::vector<IndexTag> indexTags = ResolveTags(path, layout, tags);
  FlagIndexed(layout, indexTags);
  // Refuse to replace a table that someone has open.
  File previous;
  if (FileExists(path)) {
    if (mode == CreateMode::IfMissing) return false;
    previous = File(path, O_RDWR);
    if (!previous.TryLock(kPresenceLock, LockMode::Exclusive)) {
      ThrowBusy(path, "таблица открыта, создать её заново нельзя");
    }
  }
  std::vector<std::uint8_t> bytes = layout.Encode();
  bytes.push_back(kEndOfFile);
  // Names of their own: two programs creating the table at once must not write one temporary file.
  const std::string temp = UniqueTempPathFor(path);
  TempFileGuard guard(temp);
  File out = CreateLockedTemp(temp);  // the presence lock of the table it becomes
  out.WriteAt(0, bytes.data(), bytes.size());
  out.Sync();
  const std::string indexPath = IndexPathFor(path);
  const std::string indexTemp = UniqueTempPathFor(indexPath);
  TempFileGuard indexGuard(indexTags.empty() ? std::string() : indexTemp);
  File indexOut;
  if (!indexTags.empty()) {
    indexOut = CreateLockedTemp(indexTemp);
    WriteIndexFile(indexOut, path, layout.Prefix(), indexTags, {});
  }
  if (mode == CreateMode::IfMissing) {
    if (!LinkNewFile(temp, path)) return false;  // created by another program meanwhile
  } else {
    RenameFile(temp, path);
    guard.Keep();
  }
  if (indexTags.empty()) {
    // An index left from an earlier table of that name does not belong to the new one.
    RemoveFile(indexPath);
  } else {
    RenameFile(indexTemp, indexPath);
    indexGuard.Keep();
  }
  SyncFolderOf(path);
  return true;
}

void Table::RemoveAbandonedTempFiles(const std::string& path) {
  RemovePackAndRebuildLeftovers(path);
  const std::filesystem::path table(path);
  const std::filesystem::path folder = table.has_parent_path() ? table.parent_path() : ".";
  const std::vector<std::string> names = {table.filename().string(),
                                          std::filesystem::path(IndexPathFor(path)).filename().string()};
  std::error_code error;
  for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
       it.increment(error)) {
    const std::string fileName = it->path().filename().string();
    for (const std::string& name : names) {
      const long pid = TempFileOwner(fileName, name);
      if (pid > 0) RemoveIfAbandoned(it->path().string(), pid);
    }
  }
}

void Table::Append() {
  RequireActive("Append");
  newRecord_.assign(layout_.RecordLength(), ' ');
  appending_ = true;
}

std::uint8_t* Table::NewRecordField(const std::string& name, const FieldLayout*& field) {
  if (!appending_) ThrowUsage(path_, "поле " + name + " можно задать только у добавляемой записи");
  field = &FieldNamed(name);
  return newRecord_.data() + field->offset;
}

void Table::SetFieldString(const std::string& name, std::string_view utf8) {
  const FieldLayout* f = nullptr;
  std::uint8_t* dest = NewRecordField(name, f);
  const auto width = static_cast<std::size_t>(f->def.length);
  std::fill_n(dest, width, ' ');
  if (f->def.type == FieldType::Character) {
    const std::string encoded = codePage_->Encode(utf8, width);
    std::copy(encoded.begin(), encoded.end(), dest);
    return;
  }
  const auto first = utf8.find_first_not_of(' ');
  const auto last = utf8.find_last_not_of(' ');
  const std::string_view text =
      first == std::string_view::npos ? std::string_view() : utf8.substr(first, last - first + 1);
  if (text.empty()) return;
  if (f->def.type == FieldType::Numeric && !IsNumberText(text)) {
    ThrowUsage(path_, "в поле " + f->def.name + " не число: " + std::string(text));
  }
  if (text.size() > width) ThrowUsage(path_, "значение не помещается в поле " + f->def.name);
  std::copy(text.begin(), text.end(), dest + (width - text.size()));  // numbers right-aligned
}

void Table::SetFieldInteger(const std::string& name, long long value) {
  const FieldLayout* f = nullptr;
  NewRecordField(name, f);
  const bool number = f->def.type == FieldType::Numeric || f->def.type == FieldType::Float;
  SetFieldString(name, NumberText(value, number ? f->def.decimals : 0));
}

void Table::Post() {
  RequireActive("Post");
  if (!appending_) ThrowUsage(path_, "нет добавляемой записи");
  {
    const WriteScope lock(*this);
    DbfPrefix prefix = ReadPrefix();
    if (prefix.recordCount == 0xFFFFFFFFu) ThrowUsage(path_, "таблица заполнена");
    std::optional<MdxIndex> index = LoadIndex(prefix.hasIndex);
    const std::uint32_t recno = prefix.recordCount + 1;
    std::vector<std::uint8_t> bytes(newRecord_);
    bytes.push_back(kEndOfFile);
    dbf_.WriteAt(layout_.RecordOffset(recno), bytes.data(), bytes.size());
    prefix.recordCount = recno;
    prefix.StampToday();
    if (prefix.hasIndex) IndexAppended(recno, prefix, index);
    std::array<std::uint8_t, kDbfPrefixSize> head{};
    prefix.EncodeInto(head);
    dbf_.WriteAt(0, head.data(), head.size());
    layout_.Prefix() = prefix;
    recordCount_ = recno;
  }
  // Keep the window contiguous when it ends right before the new record.
  if (windowCount_ > 0 && windowFirst_ + windowCount_ == recordCount_) {
    window_.insert(window_.end(), newRecord_.begin(), newRecord_.end());
    ++windowCount_;
  }
  appending_ = false;
  current_ = recordCount_;
  eof_ = false;
}

// Called with the write lock held, after the record is written and before the header names it.
// `index` is empty when the index file was missing or unreadable.
void Table::IndexAppended(std::uint32_t recno, const DbfPrefix& after,
                          std::optional<MdxIndex>& index) {
  TableState before = StateOf(after);
  before.recordCount = recno - 1;
  if (index && index->MatchesState(before) &&
      index->Append(recno, std::span<const std::uint8_t>(newRecord_), StateOf(after))) {
    return;
  }
  RebuildIndex(TagsForRebuild(index), recno);
  // RebuildIndex stamps the count it was given, which is the count the header is about to get.
}

// The new index goes to a temporary file renamed over the old one: rewritten in place, a crash
// could leave a header whose tags point into the new blocks, and then neither this library nor
// anyone else could read the tag definitions to rebuild from. Other holders move to the new file
// when they next take the write lock (FollowIndexFile).
void Table::RebuildIndex(const std::vector<IndexTag>& tags, std::uint32_t recordCount) {
  const std::vector<std::uint8_t> records = ReadRecords(recordCount);
  DbfPrefix prefix = layout_.Prefix();
  prefix.recordCount = recordCount;
  const std::string temp = TempPathFor(mdxPath_);
  TempFileGuard guard(temp);
  File index(temp, O_RDWR | O_CREAT | O_TRUNC, mdx_.IsOpen() ? mdx_.Mode() : 0644);
  WriteIndexFile(index, path_, prefix, tags, records);  // flushed before the rename
  RenameFile(temp, mdxPath_);
  guard.Keep();
  index.SetPath(mdxPath_);
  mdx_ = std::move(index);
}

// Called with the write lock held.
void Table::FollowIndexFile(bool hasIndex) {
  if (!hasIndex) {
    mdx_.Close();
    return;
  }
  if (mdx_.IsOpen() && PathIdentity(mdxPath_) == mdx_.Identity()) return;
  OpenIndexFile();  // added or rebuilt by another holder
}

void Table::Delete() {
  RequireActive("Delete");
  if (appending_ || eof_ || current_ == 0) ThrowUsage(path_, "нет текущей записи для удаления");
  const auto mark = static_cast<std::uint8_t>(kDeletedMark);
  dbf_.WriteAt(layout_.RecordOffset(current_), &mark, 1);
  if (windowCount_ > 0 && current_ >= windowFirst_ && current_ - windowFirst_ < windowCount_) {
    window_[std::size_t{current_ - windowFirst_} * layout_.RecordLength()] = mark;
  }
  current_ = FindPassing(current_ + 1);
}

long long Table::ExactRecordCount() {
  RequireActive("ExactRecordCount");
  RefreshCount();
  long long live = 0;
  const std::size_t recLen = layout_.RecordLength();
  for (std::uint32_t r = 1; r <= recordCount_;) {
    LoadWindow(r, kWindowBytes);
    for (std::uint32_t i = 0; i < windowCount_; ++i) {
      if (window_[std::size_t{i} * recLen] != static_cast<std::uint8_t>(kDeletedMark)) ++live;
    }
    r += windowCount_;
  }
  return live;
}

void Table::AddIndexTag(const std::string& tagName, const std::string& keyExpression) {
  RequireActive("AddIndexTag");
  appending_ = false;
  const IndexTag tag = ResolveTag(path_, layout_, tagName, keyExpression);
  const WriteScope lock(*this);
  RefreshCount();
  std::vector<IndexTag> tags;
  FollowIndexFile(layout_.Prefix().hasIndex);
  if (mdx_.IsOpen()) tags = MdxIndex(mdx_, layout_).Tags();
  for (const IndexTag& existing : tags) {
    if (existing.name == tag.name) ThrowUsage(path_, "индекс " + tag.name + " уже есть");
  }
  if (tags.size() >= 47) ThrowUsage(path_, "слишком много индексов");
  tags.push_back(tag);
  RebuildIndex(tags, recordCount_);
  // Only now that the index is complete does the table point to it.
  FlagIndexed(layout_, tags);
  const std::vector<std::uint8_t> header = layout_.Encode();
  dbf_.WriteAt(0, header.data(), header.size());
}

}  // namespace dbase
