#include "driver/driver_server.h"

#include <atomic>
#include <exception>
#include <new>

#include "driver/driver.h"
#include "framework/com_support.h"
#include "platform/com_object.h"
#include "platform/registry.h"

namespace driver_server {

const CLSID CLSID_MorvikRK4400IP = {0xA6758E6C, 0x9A8A, 0x4D86, {0x9C, 0x3B, 0x2C, 0x96, 0x2A, 0xC3, 0xCC, 0xA7}};

namespace {

std::atomic<long> gLocks{0};

// The one class factory: lives as long as the library; its references do not keep the library
// loaded (only LockServer does, as COM servers do). Hosts may reach it from several threads, so it
// keeps no reference count at all (one would be a data race, and could never end it anyway).
class TDriverClassFactory final : public ComObject<IClassFactory> {
 public:
  ULONG AddRef() override { return 2; }
  ULONG Release() override { return 1; }

  HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    try {
      ComPtr<TDriver> driver = CreateComObject<TDriver>();
      return driver->QueryInterface(riid, object);
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    } catch (...) {
      return E_FAIL;
    }
  }

  HRESULT LockServer(BOOL lock) override {
    if (lock) {
      ++gLocks;
    } else if (gLocks > 0) {
      --gLocks;
    }
    return S_OK;
  }
};

TDriverClassFactory& Factory() {
  static TDriverClassFactory factory;
  return factory;
}

bool DeleteKey(const std::string& key) { return RegDeleteKey(key) || !RegKeyExists(key); }

}  // namespace

std::string ClassKey() { return "CLSID\\" + GuidToString(CLSID_MorvikRK4400IP); }

long LockCount() noexcept { return gLocks; }

HRESULT GetClassObject(REFCLSID clsid, REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (!(clsid == CLSID_MorvikRK4400IP)) return CLASS_E_CLASSNOTAVAILABLE;
  return Factory().QueryInterface(riid, object);
}

HRESULT CanUnloadNow() { return TComObject::ObjectCount() == 0 && gLocks == 0 ? S_OK : S_FALSE; }

HRESULT RegisterServer(const std::string& libraryPath) {
  const std::string classKey = ClassKey();
  const std::string progId = kProgID;
  const bool ok = RegSetValue(classKey, "", kDescription) &&
                  RegSetValue(classKey + "\\InprocServer32", "", libraryPath) &&
                  RegSetValue(classKey + "\\InprocServer32", "ThreadingModel", kThreadingModel) &&
                  RegSetValue(progId, "", kDescription) &&
                  RegSetValue(progId + "\\Clsid", "", GuidToString(CLSID_MorvikRK4400IP)) &&
                  RegSetValue(classKey + "\\ProgID", "", progId);
  return ok ? S_OK : E_FAIL;
}

HRESULT UnregisterServer() {
  const std::string classKey = ClassKey();
  const std::string progId = kProgID;
  bool ok = true;
  for (const std::string& key : {classKey + "\\ProgID", progId + "\\Clsid", progId, classKey + "\\InprocServer32",
                                 classKey}) {
    ok = DeleteKey(key) && ok;
  }
  return ok ? S_OK : E_FAIL;
}

}  // namespace driver_server
