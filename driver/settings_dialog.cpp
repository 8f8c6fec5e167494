#include "driver/settings_dialog.h"

#include <utility>

#include "driver/ui_services.h"

namespace {

#define RES(id, name, text) constexpr const char* name = text;
#include "resources/strings/driver.def"
#undef RES

std::unique_ptr<ISettingsDialogs>& RegisteredDialogs() {
  static std::unique_ptr<ISettingsDialogs> dialogs;
  return dialogs;
}

}  // namespace

ISettingsDialogs& SettingsDialogs() {
  auto& dialogs = RegisteredDialogs();
  if (IsHeadless()) throw ESettingsDialogUnavailable(SDialogHeadless);
  if (!dialogs) throw ESettingsDialogUnavailable(SDialogNotBuilt);
  return *dialogs;
}

std::unique_ptr<ISettingsDialogs> SetSettingsDialogs(std::unique_ptr<ISettingsDialogs> Dialogs) {
  return std::exchange(RegisteredDialogs(), std::move(Dialogs));
}
