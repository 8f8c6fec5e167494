// Table: exclusive access and packing.
//
// A pack writes the packed table and a freshly built index to "<name>.tmp" files in the table's
// folder, flushes them, renames the index and then the table over the originals and flushes the
// folder. A crash before the renames leaves the old files; a crash between them leaves an index
// whose state stamp (mdx_index.h) does not match the table, so it is rebuilt when next opened.
// Holders waiting for the old file find, once they get its lock, that the path names a new file
// and reopen it (Table::OpenLocked).
#include <fcntl.h>

#include "dbase/table.h"
#include "dbase/table_internal.h"

namespace dbase {

using namespace detail;

bool Table::TryExclusiveAccess() {
  RequireActive("TryExclusiveAccess");
  if (presence_ == LockMode::Exclusive) return true;
  if (!dbf_.TryLock(kPresenceLock, LockMode::Exclusive)) return false;
  presence_ = LockMode::Exclusive;
  exclusiveByTry_ = true;
  return true;
}

void Table::EndExclusiveAccess() {
  if (!Active() || !exclusiveByTry_) return;
  try {
    dbf_.TryLock(kPresenceLock, LockMode::Shared);  // a downgrade is never refused
  } catch (const Error&) {
    // Kept exclusive until Close; nothing is lost by that.
  }
  presence_ = LockMode::Shared;
  exclusiveByTry_ = false;
}

void Table::Pack() {
  RequireActive("Pack");
  if (presence_ != LockMode::Exclusive) ThrowUsage(path_, "для сжатия нужен монопольный доступ");
  if (writeDepth_ > 0) ThrowUsage(path_, "сжатие невозможно, пока держится блокировка записи");
  appending_ = false;
  RefreshCount();
  const bool indexed = layout_.Prefix().hasIndex;
  // Added or rebuilt by another holder, or missing.
  const std::optional<MdxIndex> index = LoadIndex(indexed);
  const std::vector<IndexTag> tags = indexed ? TagsForRebuild(index) : std::vector<IndexTag>();
  const std::vector<std::uint8_t> all = ReadRecords(recordCount_);
  const std::size_t recLen = layout_.RecordLength();
  std::vector<std::uint8_t> live;
  live.reserve(all.size());
  std::uint32_t liveCount = 0;
  for (std::size_t pos = 0; pos < all.size(); pos += recLen) {
    if (all[pos] == static_cast<std::uint8_t>(kDeletedMark)) continue;
    live.insert(live.end(), all.begin() + static_cast<std::ptrdiff_t>(pos),
                all.begin() + static_cast<std::ptrdiff_t>(pos + recLen));
    ++liveCount;
  }
  ReplaceFiles(live, liveCount, tags);
  windowCount_ = 0;
  current_ = FindPassing(1);
}

void Table::ReplaceFiles(const std::vector<std::uint8_t>& live, std::uint32_t liveCount,
                         const std::vector<IndexTag>& tags) {
  TableLayout packed = layout_;
  packed.Prefix().recordCount = liveCount;
  packed.Prefix().StampToday();
  std::vector<std::uint8_t> bytes = packed.Encode();
  bytes.insert(bytes.end(), live.begin(), live.end());
  bytes.push_back(kEndOfFile);

  const std::string tableTemp = TempPathFor(path_);
  TempFileGuard tableGuard(tableTemp);
  File table(tableTemp, O_RDWR | O_CREAT | O_TRUNC, dbf_.Mode());
  table.WriteAt(0, bytes.data(), bytes.size());
  table.Sync();

  const bool indexed = layout_.Prefix().hasIndex;
  const std::string indexTemp = TempPathFor(mdxPath_);
  TempFileGuard indexGuard(indexed ? indexTemp : std::string());
  File index;
  if (indexed) {
    const mode_t mode = mdx_.IsOpen() ? mdx_.Mode() : dbf_.Mode();
    index = File(indexTemp, O_RDWR | O_CREAT | O_TRUNC, mode);
    WriteIndexFile(index, path_, packed.Prefix(), tags, live);
  }
  // Nobody else knows the new file yet, so this lock is granted at once; holders that open it
  // after the rename wait for it.
  if (!table.TryLock(kPresenceLock, LockMode::Exclusive)) ThrowBusy(path_, "временный файл занят");
  if (indexed) {
    RenameFile(indexTemp, mdxPath_);
    indexGuard.Keep();
  }
  RenameFile(tableTemp, path_);
  tableGuard.Keep();
  SyncFolderOf(path_);
  table.SetPath(path_);
  dbf_ = std::move(table);  // closing the old descriptor releases the holders waiting on it
  if (indexed) {
    index.SetPath(mdxPath_);
    mdx_ = std::move(index);
  }
  layout_ = std::move(packed);
  recordCount_ = liveCount;
}

}  // namespace dbase
