#include "framework/debug_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "framework/com_support.h"
#include "framework/tavo2_lib.h"

namespace {

bool IsDirectory(const std::string& path) {
  struct stat info {};
  return !path.empty() && ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string FolderOf(const std::string& fileName) {
  const std::size_t slash = fileName.rfind('/');
  return slash == std::string::npos ? std::string() : fileName.substr(0, slash + 1);
}

}  // namespace

std::string DebugLogFileNameIn(std::string_view folder, TDateTime now) {
  std::string name(folder);
  if (name.empty() || name.back() != '/') name += '/';
  return name + "Debug_" + FormatDateTime("yyyy.mm.dd", now) + ".log";
}

std::string DebugLogFolder(std::string_view logPath) {
  const std::string path(logPath);
  if (IsDirectory(path)) return path;
  return FolderOf(GetModuleFileNameStr());
}

std::string FormatDebugLogLine(TDateTime now, std::string_view instanceId, std::string_view prefix,
                               std::string_view text, bool prefixOnly) {
  std::string line = FormatDateTime("yyyy.mm.dd hh:nn:ss.zzz", now);
  line += " Inst.: ";
  line += instanceId;
  line += '\t';
  line += prefix;
  if (!prefixOnly) {
    line += ": \t";
    line += text;
  }
  line += "\r\n";
  return line;
}

bool AppendToFile(const std::string& fileName, std::string_view text) noexcept {
  const int fd = ::open(fileName.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool ok = true;
  std::size_t done = 0;
  while (ok && done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      ok = false;
    }
  }
  if (::close(fd) != 0) ok = false;
  return ok;
}

// --- TBaseObject: the debug log ------------------------------------------------------------------

void TBaseObject::SetDebugLogEnabled(bool Value) {
  if (Value == FDebugLogEnabled) return;
  FDebugLogEnabled = Value;
  if (Value) WriteDebugLogHeader();
}

TDateTime TBaseObject::LogNow() const { return FLogClock ? FLogClock() : Now(); }

std::string TBaseObject::DebugLogFileName() const {
  return DebugLogFileNameIn(DebugLogFolder(FLogPath), LogNow());
}

bool TBaseObject::WriteDebugLog(std::string_view Prefix, std::string_view Text, bool PrefixOnly) {
  if (!FDebugLogEnabled) return false;
  const TDateTime now = LogNow();
  const std::string line = FormatDebugLogLine(now, FInstanceID, Prefix, Text, PrefixOnly);
  // A line that cannot be written is lost; the call that wanted it goes on.
  return AppendToFile(DebugLogFileNameIn(DebugLogFolder(FLogPath), now), line);
}
