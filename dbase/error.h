// Errors raised by the dBase table library.
//
// Every message names the file it is about, so that an operator reading the driver's log can find
// the table or index in question. Messages are in Russian, the operators' language.
#pragma once

#include <stdexcept>
#include <string>

namespace dbase {

enum class ErrorKind {
  Io,           // the operating system refused a read, write, open or rename
  Corrupt,      // the file contents do not add up
  Busy,         // another holder has the table locked
  Usage,        // the call does not fit the table's state or definition
  Unsupported,  // a valid file using features this library does not serve
};

class Error : public std::runtime_error {
 public:
  Error(ErrorKind kind, const std::string& message) : std::runtime_error(message), kind_(kind) {}
  ErrorKind Kind() const noexcept { return kind_; }

 private:
  ErrorKind kind_;
};

// "Таблица повреждена: <path>: <detail>" and friends.
[[noreturn]] void ThrowCorrupt(const std::string& path, const std::string& detail);
[[noreturn]] void ThrowIo(const std::string& path, const std::string& action, int errnoValue);
[[noreturn]] void ThrowBusy(const std::string& path, const std::string& detail);
[[noreturn]] void ThrowUsage(const std::string& path, const std::string& detail);
[[noreturn]] void ThrowUnsupported(const std::string& path, const std::string& detail);

}  // namespace dbase
