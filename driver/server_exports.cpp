// The four exports of the driver library, the only symbols it makes visible to a host.
#include "driver/driver_server.h"
#include "platform/com.h"
#include "platform/module_info.h"

#if defined(TAVO_WITH_DIALOGS)
#include "dialogs/settings_dialog_provider.h"

namespace {
// The shipped library opens the Qt settings dialog and shows Qt message boxes: registered once,
// when the library is loaded.
const struct TDialogsRegistration {
  TDialogsRegistration() { RegisterQtSettingsDialogs(); }
} gDialogsRegistration;
}  // namespace
#endif

#define TAVO_SERVER_EXPORT extern "C" __attribute__((visibility("default")))

TAVO_SERVER_EXPORT HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** object) {
  return driver_server::GetClassObject(clsid, riid, object);
}

TAVO_SERVER_EXPORT HRESULT DllCanUnloadNow() {
#if defined(TAVO_WITH_DIALOGS)
  // Qt's application object lives as long as the process: once it is up, the library (and Qt with
  // it) must never be unloaded under the running program.
  if (QtApplicationStarted()) return S_FALSE;
#endif
  return driver_server::CanUnloadNow();
}

TAVO_SERVER_EXPORT HRESULT DllRegisterServer() {
  try {
    const std::string path = ModuleFileNameOf(reinterpret_cast<const void*>(&DllRegisterServer));
    if (path.empty()) return E_FAIL;
    return driver_server::RegisterServer(path);
  } catch (...) {
    return E_FAIL;
  }
}

TAVO_SERVER_EXPORT HRESULT DllUnregisterServer() {
  try {
    return driver_server::UnregisterServer();
  } catch (...) {
    return E_FAIL;
  }
}
