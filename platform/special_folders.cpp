#include "platform/special_folders.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <vector>

namespace {

constexpr const char* kDefaultCommonAppData = "/var/lib/tavoeq";

std::string WithoutTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::string() : std::string(value);
}

std::string CommonAppDataFolder() {
  const std::string configured = Environment("TAVO_COMMON_APPDATA");
  if (configured.empty()) return kDefaultCommonAppData;
  std::error_code error;
  const std::filesystem::path absolute = std::filesystem::absolute(configured, error);
  return WithoutTrailingSlashes(error ? configured : absolute.string());
}

bool UsableFolder(const std::string& path, bool create) {
  if (path.empty() || path.front() != '/') return false;
  std::error_code error;
  if (create) std::filesystem::create_directories(path, error);
  return std::filesystem::is_directory(path, error) && access(path.c_str(), W_OK | X_OK) == 0;
}

}  // namespace

std::string HomeFolder() {
  std::string home = Environment("HOME");
  if (!home.empty()) return WithoutTrailingSlashes(home);
  long size = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buffer(static_cast<std::size_t>(size > 0 ? size : 16384));
  passwd entry{};
  passwd* result = nullptr;
  if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &result) == 0 && result != nullptr &&
      result->pw_dir != nullptr) {
    return WithoutTrailingSlashes(result->pw_dir);
  }
  return {};
}

std::string XdgBaseFolder(const char* variable, const char* fallbackUnderHome) {
  const std::string configured = Environment(variable);
  if (!configured.empty() && configured.front() == '/') return WithoutTrailingSlashes(configured);
  const std::string home = HomeFolder();
  if (home.empty()) return {};
  return (home == "/" ? std::string() : home) + "/" + fallbackUnderHome;
}

bool GetSpecialFolderPath(int csidl, bool create, std::string& path) {
  path.clear();
  std::string folder;
  switch (csidl) {
    case CSIDL_COMMON_APPDATA:
      folder = CommonAppDataFolder();
      break;
    case CSIDL_APPDATA:
      folder = XdgBaseFolder("XDG_DATA_HOME", ".local/share");
      break;
    default:
      return false;
  }
  if (!UsableFolder(folder, create)) return false;
  path = folder;
  return true;
}
