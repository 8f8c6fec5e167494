// A file descriptor with positioned I/O and open file description (OFD) locks.
//
// Locks are fcntl F_OFD_SETLK byte-range locks: they belong to one open() of the file, so two
// descriptors of the same process conflict just as two processes do, and closing the descriptor
// drops them. A lock region is a single byte far beyond any dBase table's data, so record bytes are
// never locked and programs that lock records elsewhere are not disturbed.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace dbase {

struct FileIdentity {
  dev_t device = 0;
  ino_t inode = 0;
  bool operator==(const FileIdentity&) const = default;
};

enum class LockMode { Shared, Exclusive };

class File {
 public:
  File() = default;
  // Throws Error (naming the path) when open() fails.
  File(const std::string& path, int flags, mode_t mode = 0644);
  ~File();
  File(File&& other) noexcept;
  File& operator=(File&& other) noexcept;
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  bool IsOpen() const { return fd_ >= 0; }
  const std::string& Path() const { return path_; }
  // After a rename: the name used in messages.
  void SetPath(std::string path) { path_ = std::move(path); }
  void Close() noexcept;

  // Reads up to `size` bytes; returns how many were there before the end of the file.
  std::size_t ReadSomeAt(std::uint64_t offset, void* data, std::size_t size) const;
  // Reads exactly `size` bytes or throws a corruption error naming the file.
  void ReadAt(std::uint64_t offset, void* data, std::size_t size) const;
  void WriteAt(std::uint64_t offset, const void* data, std::size_t size);
  void Truncate(std::uint64_t size);
  void Sync();
  std::uint64_t Size() const;
  FileIdentity Identity() const;
  mode_t Mode() const;  // permission bits

  // Non-blocking; false while another open file description holds a conflicting lock.
  bool TryLock(std::uint64_t offset, LockMode mode);
  // Retries until `timeout` has passed, then throws ErrorKind::Busy.
  void Lock(std::uint64_t offset, LockMode mode, std::chrono::milliseconds timeout);
  void Unlock(std::uint64_t offset) noexcept;

 private:
  int fd_ = -1;
  std::string path_;
};

// Identity of the file a path names now; nullopt when it names nothing.
std::optional<FileIdentity> PathIdentity(const std::string& path);
void RenameFile(const std::string& from, const std::string& to);
// Gives the file `from` the name `to` as well, unless `to` exists: then answers false. On file
// systems without hard links, renames `from` to `to` without replacing an existing `to`. Where
// that is not supported either, a plain rename follows a look that `to` is not there: a file made
// under that name between the look and the rename is replaced.
bool LinkNewFile(const std::string& from, const std::string& to);
// Makes renames in the folder of `path` durable.
void SyncFolderOf(const std::string& path);
bool FileExists(const std::string& path);
void RemoveFile(const std::string& path) noexcept;

}  // namespace dbase
