#include "platform/module_info.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <link.h>
#include <sys/mman.h>
#include <sys/stat.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/unique_fd.h"

namespace {

constexpr std::size_t kMarkerSize = 16;
constexpr std::size_t kWordsSize = 8;

// The stamp's marker, kept here only in a scrambled form, so that this library's own file never
// holds the marker (and a scan of it finds no stamp). The key is read at run time.
constexpr unsigned char kScrambledMarker[kMarkerSize] = {0x8D, 0x0E, 0x3B, 0x2C, 0x35, 0x0C, 0x3F, 0x28,
                                                         0x09, 0x2E, 0x3B, 0x37, 0x2A, 0x43, 0xDE, 0x06};
volatile unsigned char markerKey = 0x5A;

std::string Marker() {
  std::string marker(kMarkerSize, '\0');
  const unsigned char key = markerKey;
  for (std::size_t i = 0; i < kMarkerSize; ++i) marker[i] = static_cast<char>(kScrambledMarker[i] ^ key);
  return marker;
}

std::string RealPath(const char* path) {
  if (path == nullptr || *path == '\0') return {};
  std::unique_ptr<char, decltype(&std::free)> resolved(realpath(path, nullptr), &std::free);
  return resolved ? std::string(resolved.get()) : std::string(path);
}

// A read-only view of a whole file.
class MappedFile {
 public:
  explicit MappedFile(const std::string& path) {
    const UniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    struct stat st{};
    if (!fd || fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0) return;
    void* data = mmap(nullptr, static_cast<std::size_t>(st.st_size), PROT_READ, MAP_PRIVATE, fd.Get(), 0);
    if (data == MAP_FAILED) return;
    data_ = static_cast<const unsigned char*>(data);
    size_ = static_cast<std::size_t>(st.st_size);
  }
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;
  ~MappedFile() {
    if (data_ != nullptr) munmap(const_cast<unsigned char*>(data_), size_);
  }
  const unsigned char* Data() const { return data_; }
  std::size_t Size() const { return size_; }

 private:
  const unsigned char* data_ = nullptr;
  std::size_t size_ = 0;
};

}  // namespace

std::string ModuleFileNameOf(const void* addressInsideModule) {
  Dl_info info{};
  link_map* map = nullptr;
  if (dladdr1(addressInsideModule, &info, reinterpret_cast<void**>(&map), RTLD_DL_LINKMAP) == 0) return {};
  // The program itself has an empty name in the loader's list.
  if (map != nullptr && (map->l_name == nullptr || map->l_name[0] == '\0')) return RealPath("/proc/self/exe");
  return RealPath(info.dli_fname);
}

bool ReadFileVersionWords(const std::string& path, WORD words[4]) {
  for (int i = 0; i < 4; ++i) words[i] = 0;
  const MappedFile file(path);
  if (file.Data() == nullptr) return false;
  const std::string marker = Marker();
  const void* found = memmem(file.Data(), file.Size(), marker.data(), marker.size());
  if (found == nullptr) return false;
  const auto* stamp = static_cast<const unsigned char*>(found) + kMarkerSize;
  if (static_cast<std::size_t>(file.Data() + file.Size() - stamp) < kWordsSize) return false;
  for (int i = 0; i < 4; ++i) {
    words[i] = static_cast<WORD>(stamp[2 * i] | (stamp[2 * i + 1] << 8));
  }
  return true;
}
