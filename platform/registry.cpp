#include "platform/registry.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <sstream>
#include <system_error>
#include <vector>

#include "platform/special_folders.h"
#include "platform/text.h"
#include "platform/unique_fd.h"

namespace {

struct Value {
  std::string name;
  std::string data;
};

struct Key {
  std::string path;                     // as first written
  std::map<std::string, Value> values;  // by lower-case name
};

// Keys by lower-case path; sorted, so a key's subkeys follow it directly.
using Tree = std::map<std::string, Key>;

std::string AsciiLower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

// The key path split into its parts; nullopt when a part is empty.
std::optional<std::vector<std::string>> SplitKeyPath(const std::string& path) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = path.find('\\', start);
    parts.push_back(path.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (parts.back().empty()) return std::nullopt;
    if (end == std::string::npos) return parts;
    start = end + 1;
  }
}

bool ValidKeyPath(const std::string& path) { return SplitKeyPath(path).has_value(); }

std::string Escape(const std::string& text, bool isName) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x20 || c == 0x7F || c == '%' || c == '#' || (isName && c == '@')) {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0x0F];
    } else {
      out += ch;
    }
  }
  return out;
}


std::optional<std::string> Unescape(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out += text[i];
      continue;
    }
    if (i + 2 >= text.size()) return std::nullopt;
    const int high = HexDigitValue(text[i + 1]);
    const int low = HexDigitValue(text[i + 2]);
    if (high < 0 || low < 0) return std::nullopt;
    out += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return out;
}

// Makes the key and every key above it; answers the key.
Key& CreateKey(Tree& tree, const std::string& path) {
  std::size_t end = 0;
  for (;;) {
    end = path.find('\\', end);
    const std::string prefix = path.substr(0, end);
    Key& key = tree[AsciiLower(prefix)];
    if (key.path.empty()) key.path = prefix;
    if (end == std::string::npos) return key;
    ++end;
  }
}

void ParseLine(Tree& tree, const std::string& line) {
  if (line.empty() || line.front() == '#') return;
  std::vector<std::string> fields;
  std::size_t start = 0;
  for (;;) {
    const std::size_t tab = line.find('\t', start);
    fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
    if (tab == std::string::npos) break;
    start = tab + 1;
  }
  if (fields.size() != 1 && fields.size() != 3) return;
  const std::optional<std::string> path = Unescape(fields[0]);
  if (!path || !ValidKeyPath(*path)) return;
  if (fields.size() == 1) {
    CreateKey(tree, *path);
    return;
  }
  std::optional<std::string> name = fields[1] == "@" ? std::optional<std::string>("") : Unescape(fields[1]);
  const std::optional<std::string> data = Unescape(fields[2]);
  if (!name || !data || (fields[1] != "@" && name->empty())) return;
  Key& key = CreateKey(tree, *path);
  key.values[AsciiLower(*name)] = Value{*name, *data};
}

Tree Load(const std::string& file) {
  Tree tree;
  std::ifstream in(file, std::ios::binary);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    ParseLine(tree, line);
  }
  return tree;
}

std::string Serialize(const Tree& tree) {
  std::ostringstream out;
  out << "# Class registrations of this user. One line per value: key, TAB, value name (@ for the\n"
         "# default value), TAB, data; '%', '#', '@' in names and control characters as %XX.\n";
  for (const auto& [lower, key] : tree) {
    if (key.values.empty()) out << Escape(key.path, false) << '\n';
    for (const auto& [lowerName, value] : key.values) {
      out << Escape(key.path, false) << '\t' << (value.name.empty() ? "@" : Escape(value.name, true)) << '\t'
          << Escape(value.data, false) << '\n';
    }
  }
  return out.str();
}

bool WriteAll(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// Writes the file anew beside the old one and renames it over it.
bool Replace(const std::string& file, const std::string& text) {
  const std::string folder = std::filesystem::path(file).parent_path().string();
  std::string temp = file + ".XXXXXX";
  const UniqueFd fd(mkostemp(temp.data(), O_CLOEXEC));
  if (!fd) return false;
  const bool written = WriteAll(fd.Get(), text) && fsync(fd.Get()) == 0 && rename(temp.c_str(), file.c_str()) == 0;
  if (!written) {
    unlink(temp.c_str());
    return false;
  }
  const UniqueFd dir(open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir) fsync(dir.Get());
  return true;
}

// Runs change on the current content under the writers' lock; writes the result when it answers true.
bool Modify(const std::function<bool(Tree&)>& change) {
  const std::string file = RegistryFilePath();
  if (file.empty()) return false;
  const std::string folder = std::filesystem::path(file).parent_path().string();
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  const UniqueFd lock(open((folder + "/registry.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
  if (!lock) return false;
  int locked;
  do {
    locked = flock(lock.Get(), LOCK_EX);
  } while (locked != 0 && errno == EINTR);
  if (locked != 0) return false;
  Tree tree = Load(file);
  return change(tree) && Replace(file, Serialize(tree));
}

}  // namespace

std::string RegistryFilePath() {
  const std::string base = XdgBaseFolder("XDG_CONFIG_HOME", ".config");
  return base.empty() ? std::string() : base + "/tavoeq/registry";
}

bool RegSetValue(const std::string& keyPath, const std::string& valueName, const std::string& data) {
  if (!ValidKeyPath(keyPath)) return false;
  return Modify([&](Tree& tree) {
    Key& key = CreateKey(tree, keyPath);
    Value& value = key.values[AsciiLower(valueName)];
    if (value.name.empty()) value.name = valueName;
    value.data = data;
    return true;
  });
}

bool RegQueryValue(const std::string& keyPath, const std::string& valueName, std::string& data) {
  if (!ValidKeyPath(keyPath)) return false;
  const Tree tree = Load(RegistryFilePath());
  const auto key = tree.find(AsciiLower(keyPath));
  if (key == tree.end()) return false;
  const auto value = key->second.values.find(AsciiLower(valueName));
  if (value == key->second.values.end()) return false;
  data = value->second.data;
  return true;
}

bool RegDeleteKey(const std::string& keyPath) {
  if (!ValidKeyPath(keyPath)) return false;
  return Modify([&](Tree& tree) {
    const std::string lower = AsciiLower(keyPath);
    const auto key = tree.find(lower);
    if (key == tree.end()) return false;
    const std::string below = lower + "\\";
    const auto sub = tree.lower_bound(below);
    if (sub != tree.end() && sub->first.starts_with(below)) return false;
    tree.erase(key);
    return true;
  });
}

bool RegKeyExists(const std::string& keyPath) {
  if (!ValidKeyPath(keyPath)) return false;
  return Load(RegistryFilePath()).contains(AsciiLower(keyPath));
}
