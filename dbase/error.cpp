// Builds the operator-facing messages of dbase::Error.
#include "dbase/error.h"

#include <cstring>

namespace dbase {

void ThrowCorrupt(const std::string& path, const std::string& detail) {
  const bool index = path.size() >= 4 && (path.ends_with(".mdx") || path.ends_with(".MDX"));
  throw Error(ErrorKind::Corrupt,
              std::string(index ? "Индекс таблицы повреждён: " : "Таблица повреждена: ") + path +
                  ": " + detail);
}

void ThrowIo(const std::string& path, const std::string& action, int errnoValue) {
  throw Error(ErrorKind::Io,
              "Ошибка ввода-вывода: " + path + ": " + action + ": " + std::strerror(errnoValue));
}

void ThrowBusy(const std::string& path, const std::string& detail) {
  throw Error(ErrorKind::Busy, "Таблица занята: " + path + ": " + detail);
}

void ThrowUsage(const std::string& path, const std::string& detail) {
  throw Error(ErrorKind::Usage, "Неверное обращение к таблице: " + path + ": " + detail);
}

void ThrowUnsupported(const std::string& path, const std::string& detail) {
  throw Error(ErrorKind::Unsupported, "Формат не поддерживается: " + path + ": " + detail);
}

}  // namespace dbase
