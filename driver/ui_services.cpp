#include "driver/ui_services.h"

#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>
#include <utility>

namespace {

// Writes the box as one line on standard error and returns at once.
class TLoggedMessageBoxes final : public IMessageBoxes {
 public:
  void ShowMessage(std::string_view Text, TMessageBoxIcon Icon) override {
    std::string line(Text);
    for (char& c : line) {
      if (c == '\r') c = ' ';
      if (c == '\n') c = ' ';
    }
    const char* kind = Icon == TMessageBoxIcon::Information ? "information"
                       : Icon == TMessageBoxIcon::Warning   ? "warning"
                                                            : "error";
    std::cerr << "[message box, " << kind << "] " << line << std::endl;
  }
};

TLoggedMessageBoxes& DefaultBoxes() {
  static TLoggedMessageBoxes boxes;
  return boxes;
}

std::unique_ptr<IMessageBoxes>& InstalledBoxes() {
  static std::unique_ptr<IMessageBoxes> boxes;
  return boxes;
}

}  // namespace

bool IsHeadless() {
  const char* value = std::getenv("TAVOEQ_HEADLESS");
  return value != nullptr && *value != '\0' && std::strcmp(value, "0") != 0;
}

IMessageBoxes& MessageBoxes() {
  auto& installed = InstalledBoxes();
  if (installed && !IsHeadless()) return *installed;
  return DefaultBoxes();
}

std::unique_ptr<IMessageBoxes> SetMessageBoxes(std::unique_ptr<IMessageBoxes> Boxes) {
  return std::exchange(InstalledBoxes(), std::move(Boxes));
}
