// Positioned I/O and OFD locks on one descriptor; see file.h.
#include "dbase/file.h"

#include <fcntl.h>
#include <stdio.h>  // renameat2
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <functional>
#include <utility>

#include "dbase/error.h"
#include "dbase/io_fault.h"

namespace dbase {

File::File(const std::string& path, int flags, mode_t mode) : path_(path) {
  do {
    fd_ = ::open(path.c_str(), flags | O_CLOEXEC, mode);
  } while (fd_ < 0 && errno == EINTR);
  if (fd_ < 0) ThrowIo(path, "открытие файла", errno);
}

File::~File() { Close(); }

File::File(File&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), path_(std::move(other.path_)) {}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = std::exchange(other.fd_, -1);
    path_ = std::move(other.path_);
  }
  return *this;
}

void File::Close() noexcept {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

std::size_t File::ReadSomeAt(std::uint64_t offset, void* data, std::size_t size) const {
  auto* out = static_cast<char*>(data);
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::pread(fd_, out + done, size - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) ThrowIo(path_, "чтение", errno);
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  return done;
}

void File::ReadAt(std::uint64_t offset, void* data, std::size_t size) const {
  if (ReadSomeAt(offset, data, size) != size) {
    ThrowCorrupt(path_, "файл короче, чем следует из его заголовка (смещение " +
                            std::to_string(offset) + ")");
  }
}

void File::WriteAt(std::uint64_t offset, const void* data, std::size_t size) {
  io_fault::Step(path_);
  const auto* in = static_cast<const char*>(data);
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::pwrite(fd_, in + done, size - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) ThrowIo(path_, "запись", n < 0 ? errno : ENOSPC);
    done += static_cast<std::size_t>(n);
  }
}

void File::Truncate(std::uint64_t size) {
  io_fault::Step(path_);
  if (::ftruncate(fd_, static_cast<off_t>(size)) != 0) ThrowIo(path_, "изменение размера", errno);
}

void File::Sync() {
  io_fault::Step(path_);
  if (::fsync(fd_) != 0) ThrowIo(path_, "сброс на диск", errno);
}

std::uint64_t File::Size() const {
  struct stat st {};
  if (::fstat(fd_, &st) != 0) ThrowIo(path_, "получение размера", errno);
  return static_cast<std::uint64_t>(st.st_size);
}

FileIdentity File::Identity() const {
  struct stat st {};
  if (::fstat(fd_, &st) != 0) ThrowIo(path_, "получение сведений о файле", errno);
  return {st.st_dev, st.st_ino};
}

mode_t File::Mode() const {
  struct stat st {};
  if (::fstat(fd_, &st) != 0) ThrowIo(path_, "получение сведений о файле", errno);
  return st.st_mode & 07777;
}

bool File::TryLock(std::uint64_t offset, LockMode mode) {
  struct flock fl {};
  fl.l_type = mode == LockMode::Shared ? F_RDLCK : F_WRLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = static_cast<off_t>(offset);
  fl.l_len = 1;
  while (::fcntl(fd_, F_OFD_SETLK, &fl) != 0) {
    if (errno == EINTR) continue;
    if (errno == EAGAIN || errno == EACCES) return false;
    ThrowIo(path_, "блокировка", errno);
  }
  return true;
}

void File::Lock(std::uint64_t offset, LockMode mode, std::chrono::milliseconds timeout) {
  const auto deadline = io_fault::Now() + timeout;
  auto pause = std::chrono::microseconds(200);
  while (!TryLock(offset, mode)) {
    if (io_fault::Now() >= deadline) {
      ThrowBusy(path_, mode == LockMode::Exclusive
                           ? "файл открыт другой программой или другим объектом"
                           : "файл монопольно занят другой программой или другим объектом");
    }
    io_fault::Pause(pause);
    pause = std::min(pause * 2, std::chrono::microseconds(20000));
  }
}

void File::Unlock(std::uint64_t offset) noexcept {
  struct flock fl {};
  fl.l_type = F_UNLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = static_cast<off_t>(offset);
  fl.l_len = 1;
  ::fcntl(fd_, F_OFD_SETLK, &fl);
}

std::optional<FileIdentity> PathIdentity(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return FileIdentity{st.st_dev, st.st_ino};
}

void RenameFile(const std::string& from, const std::string& to) {
  io_fault::Step(to);
  if (::rename(from.c_str(), to.c_str()) != 0) ThrowIo(to, "переименование из " + from, errno);
}

namespace {

// `call` made, unless the test seam refuses it: 0 or -1 with errno.
int Made(io_fault::Call call, const std::function<int()>& make) {
  if (const int error = io_fault::RefusedWith(call)) {
    errno = error;
    return -1;
  }
  return make();
}

}  // namespace

bool LinkNewFile(const std::string& from, const std::string& to) {
  io_fault::Step(to);
  if (Made(io_fault::Call::Link, [&] { return ::link(from.c_str(), to.c_str()); }) == 0) return true;
  if (errno == EEXIST) return false;
  if (errno != EPERM && errno != EOPNOTSUPP && errno != ENOSYS && errno != EXDEV) {
    ThrowIo(to, "создание ссылки на " + from, errno);
  }
  // No hard links here: a rename that refuses to replace, where the file system has one.
  io_fault::Step(to);
  const auto renameNoReplace = [&] {
    return ::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE);
  };
  if (Made(io_fault::Call::RenameNoReplace, renameNoReplace) == 0) return true;
  if (errno == EEXIST) return false;
  if (errno != EINVAL && errno != EOPNOTSUPP && errno != ENOSYS) {
    ThrowIo(to, "переименование из " + from, errno);
  }
  // Neither: a plain rename, which replaces a file made between this look and the rename.
  if (FileExists(to)) return false;
  RenameFile(from, to);
  return true;
}

void SyncFolderOf(const std::string& path) {
  const auto slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  io_fault::Step(folder);
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;  // the renames are done; durability of the folder is best effort
  ::fsync(fd);
  ::close(fd);
}

bool FileExists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

void RemoveFile(const std::string& path) noexcept { ::unlink(path.c_str()); }

}  // namespace dbase
