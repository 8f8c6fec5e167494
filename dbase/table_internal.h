// Constants shared by the parts of Table: lock bytes, read sizes and file names.
//
// Lock bytes of the .dbf (see table.h): dBase tables never reach 2 GiB, so these offsets never
// cover data and never meet the record locks of other dBase programs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "dbase/file.h"
#include "dbase/mdx_index.h"
#include "dbase/table.h"
#include "dbase/table_layout.h"

namespace dbase::detail {

inline constexpr std::uint64_t kPresenceLock = 0x7FFFFFFE;
inline constexpr std::uint64_t kWriteLock = 0x7FFFFFFD;
// First read of a table: header and the first records in one call.
inline constexpr std::size_t kOpenReadBytes = 64 * 1024;
// Later reads of records.
inline constexpr std::size_t kWindowBytes = 1024 * 1024;
inline constexpr int kMaxReopens = 64;

// "<folder>/transact.dbf" -> "<folder>/transact.mdx" (the index keeps the table's base name in
// lower case, as readers on case-sensitive systems look for it).
std::string IndexPathFor(const std::string& tablePath);
// "<folder>/transact.dbf" -> "TRANSACT".
std::string BaseNameOf(const std::string& tablePath);
// Temporary file beside `path` for a pack or an index rebuild, which hold locks that keep anyone
// else from writing it at the same time.
std::string TempPathFor(const std::string& path);
// A temporary file name beside `path` that no other program picks at the same time.
std::string UniqueTempPathFor(const std::string& path);

// `tags` resolved against the fields of the table at `path` (see ResolveTag).
std::vector<IndexTag> ResolveTags(const std::string& path, const TableLayout& layout,
                                  const std::vector<TagDefinition>& tags);

// Builds the index of the table at `tablePath` with `tags` over `records` (prefix.recordCount of
// them), writes it to `out` from offset 0 and flushes it, so that a later rename never names an
// empty file.
void WriteIndexFile(File& out, const std::string& tablePath, const DbfPrefix& prefix,
                    const std::vector<IndexTag>& tags, std::span<const std::uint8_t> records);

// Removes a temporary file unless the operation got far enough to rename it.
class TempFileGuard {
 public:
  explicit TempFileGuard(std::string path) : path_(std::move(path)) {}
  ~TempFileGuard() {
    if (!path_.empty()) RemoveFile(path_);
  }
  void Keep() { path_.clear(); }
  TempFileGuard(const TempFileGuard&) = delete;
  TempFileGuard& operator=(const TempFileGuard&) = delete;

 private:
  std::string path_;
};

}  // namespace dbase::detail
