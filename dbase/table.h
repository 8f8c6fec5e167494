// A dBase IV table (.dbf) with its production index (.mdx), as one cursor over the records.
//
// File formats: table_layout.h (table header and records), mdx_index.h and mdx_node.h (index).
// The cursor walks records in physical (append) order, skipping records marked deleted and, while
// filtering is on, those the record filter rejects. Appends update every index tag; a pack rewrites
// both files through temporary files in the same folder renamed over the originals.
//
// Locking (open file description locks on the .dbf, one byte each, far beyond the data):
//   - presence lock: shared while the table is open, exclusive in exclusive mode, while exclusive
//     access is held, and for a pack;
//   - write lock: exclusive for the duration of one append or index rebuild (or of a WriteScope),
//     so that two holders of the shared presence lock never interleave their appends.
// Programs that take no locks cannot be detected.
//
// Recovery at Open: a header counting more records than the file holds (a power cut between the
// writes of an append) is cut back to the whole records and the index rebuilt; an index that does
// not match the table is rebuilt, and so is one that is missing or unreadable when the table knows
// its tags (SetIndexTags). A repair or rebuild that cannot be written for lack of space does not
// stop reading.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "dbase/code_page.h"
#include "dbase/error.h"
#include "dbase/file.h"
#include "dbase/mdx_index.h"
#include "dbase/table_layout.h"

namespace dbase {

struct TagDefinition {
  std::string name;
  std::string expression;  // a character field
};

enum class CreateMode {
  Replace,    // an existing table is replaced (unless someone has it open)
  IfMissing,  // nothing is created when the table exists, also when another program made it meanwhile
};

class Table {
 public:
  // Holds the table's write lock while it lives: an append and the counts and deletions made with
  // it see no other holder's append in between. Waits like Post. The table must be open.
  class WriteScope {
   public:
    explicit WriteScope(Table& table);
    ~WriteScope();
    WriteScope(const WriteScope&) = delete;
    WriteScope& operator=(const WriteScope&) = delete;

   private:
    Table& table_;
  };

  Table() = default;
  ~Table();
  Table(const Table&) = delete;
  Table& operator=(const Table&) = delete;

  // Code page of character data for tables created and opened from now on; 866 writes language
  // driver 0x26. 0 (the default) takes the code page from the opened table's language driver.
  void SetCodePage(int codePage);
  int CodePageNumber() const { return codePageSetting_; }
  // In exclusive mode, Open takes the presence lock exclusively.
  void SetExclusive(bool on) { exclusiveMode_ = on; }
  bool Exclusive() const { return exclusiveMode_; }
  static constexpr std::chrono::milliseconds kDefaultLockTimeout{2000};
  // How long each wait for a lock held by another holder lasts before failing with
  // ErrorKind::Busy: Open (with the repair it may make), Post, WriteScope and AddIndexTag.
  void SetLockTimeout(std::chrono::milliseconds timeout) { lockTimeout_ = timeout; }
  // The tags of the production index of the tables opened from now on: an index file that is
  // missing or whose definitions cannot be read is rebuilt with them. Without them (the default)
  // such an index is an error.
  void SetIndexTags(std::vector<TagDefinition> tags) { knownTags_ = std::move(tags); }

  // Creates an empty table, with a production index of `tags` when there are any, through
  // temporary files of its own, and publishes the table before renaming its index beside it. After
  // a crash between the two: a new table (IfMissing) has no index file, and one replacing an older
  // table (Replace) finds the old table's index still there; either way the open that follows
  // rebuilds it from the known tags (SetIndexTags) and, without them, fails with Corrupt. Closes
  // this object first if open. Answers false, having created nothing, when mode is IfMissing and
  // the table exists.
  bool CreateTable(const std::string& path, const std::vector<FieldDef>& fields,
                   CreateMode mode = CreateMode::Replace, const std::vector<TagDefinition>& tags = {});
  // Removes the temporary files that creations of the table at `path` left behind when their
  // process died before publishing them (the process named in the file name no longer runs and
  // nobody holds the file locked), and those of a pack or index rebuild cut short (`<name>.tmp`),
  // unless the table's locks leave open that one is running: a pack or exclusive access, or an
  // append or rebuild, elsewhere.
  static void RemoveAbandonedTempFiles(const std::string& path);
  void Open(const std::string& path);
  // Walks every tag of the open table's index and rebuilds the index when a tree is damaged in a
  // way its stamp cannot show (a zeroed or garbled page). Open trusts a matching stamp and an
  // append checks only the nodes on its key's way down, so a page elsewhere stays damaged until
  // this, a pack (which rebuilds the index) or an append that meets it. A damaged index is marked
  // stale before the rebuild: a rebuild that fails for an I/O reason (a full disk) leaves it to the
  // next append or open, a mark that cannot be written throws. Waits like Post.
  void CheckIndex();
  void Close() noexcept;
  bool Active() const { return dbf_.IsOpen(); }
  const std::string& Path() const { return path_; }
  const std::vector<FieldLayout>& Fields() const { return layout_.Fields(); }

  // Adds an ordinary (non-unique) tag on a character field to <base>.mdx, creating the file when
  // the table has no index yet, and builds it from the records present.
  void AddIndexTag(const std::string& tagName, const std::string& keyExpression);
  std::vector<std::string> IndexTagNames();

  void First();
  void Next();
  bool Eof() const { return eof_; }
  // Physical number (1-based) of the current record; 0 at the end.
  std::uint32_t RecordNumber() const { return current_; }

  // The filter reads the record under test through the table's field getters. It takes effect at
  // the next First() or Next().
  void SetRecordFilter(std::function<bool(const Table&)> filter) { filter_ = std::move(filter); }
  void SetFiltered(bool on) { filtered_ = on; }
  bool Filtered() const { return filtered_; }

  // Field of the current record (or of the record being appended): UTF-8, blanks stripped
  // (trailing ones; leading ones too for numbers).
  std::string FieldAsString(const std::string& name) const;
  // Integer part of a number; 0 for an empty or non-numeric value.
  long long FieldAsInteger(const std::string& name) const;

  // Starts a new blank record; the fields are set, then Post writes it.
  void Append();
  // Cut to the field's width by characters; characters the code page lacks become '?'.
  void SetFieldString(const std::string& name, std::string_view utf8);
  void SetFieldInteger(const std::string& name, long long value);
  // Writes the appended record and its index keys; the cursor stays on it.
  void Post();
  void Cancel() { appending_ = false; }

  // Marks the current record deleted and moves to the next record that passes.
  void Delete();
  // Records not marked deleted, counted by reading them all; the filter is not applied and the
  // cursor does not move.
  long long ExactRecordCount();

  // False (without error) while another holder has the table open through this library.
  bool TryExclusiveAccess();
  // Back to shared access (not in exclusive mode); never throws.
  void EndExclusiveAccess();
  // Drops deleted records and rebuilds the index. Needs exclusive access, and no WriteScope (the
  // pack replaces the descriptor that holds its lock).
  void Pack();

 private:
  // Opening and the shared state of the files (table.cpp).
  void RequireActive(const char* operation) const;
  void OpenLocked(const std::string& path);
  void ParseHeader(const std::vector<std::uint8_t>& head, std::uint64_t fileSize);
  void RepairShortTable();
  void DropRecordsCutShort(const DbfPrefix& repaired);
  void OpenIndexFile();
  // Rebuilds the index unless its stamp names the table's state (and trustStamp) and, with
  // walkTrees, its trees are whole (MdxIndex::TreesIntact).
  void OpenIndex(bool trustStamp, bool walkTrees = false);
  // The header's first bytes, checked against the lengths known since Open.
  DbfPrefix ReadPrefixLengths() const;
  // The same, also checked against the file size.
  DbfPrefix ReadPrefix() const;
  void RefreshCount();
  std::vector<std::uint8_t> ReadRecords(std::uint32_t count) const;
  // Cursor and field access (table.cpp).
  std::uint32_t FindPassing(std::uint32_t from);
  const std::uint8_t* RecordBytes(std::uint32_t recno) const;
  const std::uint8_t* CurrentRecord() const;
  void LoadWindow(std::uint32_t recno, std::size_t maxBytes) const;
  const FieldLayout& FieldNamed(const std::string& name) const;
  // Writing (table_write.cpp).
  std::uint8_t* NewRecordField(const std::string& name, const FieldLayout*& field);
  void IndexAppended(std::uint32_t recno, const DbfPrefix& after, std::optional<MdxIndex>& index);
  void RebuildIndex(const std::vector<IndexTag>& tags, std::uint32_t recordCount);
  // Closes the index when the table has none; reopens it when the path names another file.
  void FollowIndexFile(bool hasIndex);
  // With the write lock held: the table's index, or nothing when the header marks none
  // (`hasIndex` false; the index file is let go) or its file is missing or unreadable and the known
  // tags are to rebuild it (else that is an error).
  std::optional<MdxIndex> LoadIndex(bool hasIndex);
  // The tags to build the index with: those of `index`, else the known ones.
  std::vector<IndexTag> TagsForRebuild(const std::optional<MdxIndex>& index) const;
  // Packing (table_pack.cpp).
  void ReplaceFiles(const std::vector<std::uint8_t>& live, std::uint32_t liveCount,
                    const std::vector<IndexTag>& tags);

  int codePageSetting_ = 0;
  const CodePage* codePage_ = nullptr;
  bool exclusiveMode_ = false;
  std::chrono::milliseconds lockTimeout_ = kDefaultLockTimeout;
  std::vector<TagDefinition> knownTags_;
  // WriteScopes (and internal holds) of the write lock. The lock belongs to the descriptor, which
  // a pack replaces: Pack refuses to run inside a WriteScope.
  int writeDepth_ = 0;
  // The header's count when records cut short could not be dropped for lack of room: while the
  // header still says it, counts stop at the whole records (until the table is closed).
  std::optional<std::uint32_t> cappedCount_;

  std::string path_;
  std::string mdxPath_;
  File dbf_;
  File mdx_;
  TableLayout layout_;
  LockMode presence_ = LockMode::Shared;
  bool exclusiveByTry_ = false;
  std::uint32_t recordCount_ = 0;

  std::uint32_t current_ = 0;
  bool eof_ = true;
  std::function<bool(const Table&)> filter_;
  bool filtered_ = false;

  bool appending_ = false;
  std::vector<std::uint8_t> newRecord_;

  // Records [windowFirst_, windowFirst_ + windowCount_) as last read from the file.
  mutable std::vector<std::uint8_t> window_;
  mutable std::uint32_t windowFirst_ = 0;
  mutable std::uint32_t windowCount_ = 0;
};

}  // namespace dbase
