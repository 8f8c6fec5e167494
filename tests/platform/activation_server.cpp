// A minimal in-process server: one class factory making objects of one class. Registration writes
// the same keys a real driver does.
#include <atomic>
#include <memory>

#include "platform/com_activation.h"
#include "platform/module_info.h"
#include "platform/registry.h"
#include "tests/platform/activation_server.h"

TAVO_DEFINE_VERSION_STAMP(3, 14, 15, 92);

namespace {

std::atomic<long> liveObjects{0};
std::atomic<long> serverLocks{0};

class TestObject final : public ComObject<ITestObject> {
 public:
  TestObject() { ++liveObjects; }
  ~TestObject() override { --liveObjects; }
  int Answer() override { return 42; }
};

// A static: its references never end it.
class Factory final : public ComObject<IClassFactory> {
 public:
  Factory() : ComObject(1) {}
  void LastReleased() noexcept override {}
  HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** object) override {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    ComPtr<ITestObject> created(std::make_unique<TestObject>().release());
    return created->QueryInterface(riid, object);
  }
  HRESULT LockServer(BOOL lock) override {
    serverLocks += lock ? 1 : -1;
    return S_OK;
  }
};

Factory factory;

std::string ClsidKey() { return "CLSID\\" + GuidToString(kTestServerClsid); }

}  // namespace

extern "C" __attribute__((visibility("default"))) HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid,
                                                                              void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (!(clsid == kTestServerClsid)) return CLASS_E_CLASSNOTAVAILABLE;
  return factory.QueryInterface(riid, object);
}

extern "C" __attribute__((visibility("default"))) HRESULT DllCanUnloadNow() {
  return liveObjects == 0 && serverLocks == 0 ? S_OK : S_FALSE;
}

extern "C" __attribute__((visibility("default"))) HRESULT DllRegisterServer() {
  const std::string path = ModuleFileNameOf(reinterpret_cast<const void*>(&DllRegisterServer));
  const bool ok = RegSetValue(ClsidKey(), "", "Activation test server") &&
                  RegSetValue(ClsidKey() + "\\InprocServer32", "", path) &&
                  RegSetValue(ClsidKey() + "\\InprocServer32", "ThreadingModel", "Apartment") &&
                  RegSetValue(kTestServerProgId, "", "Activation test server") &&
                  RegSetValue(std::string(kTestServerProgId) + "\\Clsid", "", GuidToString(kTestServerClsid)) &&
                  RegSetValue(ClsidKey() + "\\ProgID", "", kTestServerProgId);
  return ok ? S_OK : E_FAIL;
}

extern "C" __attribute__((visibility("default"))) HRESULT DllUnregisterServer() {
  const bool ok = RegDeleteKey(ClsidKey() + "\\ProgID") && RegDeleteKey(std::string(kTestServerProgId) + "\\Clsid") &&
                  RegDeleteKey(kTestServerProgId) && RegDeleteKey(ClsidKey() + "\\InprocServer32") &&
                  RegDeleteKey(ClsidKey());
  return ok ? S_OK : E_FAIL;
}

extern "C" __attribute__((visibility("default"))) long TestServerLiveObjects() { return liveObjects; }

extern "C" __attribute__((visibility("default"))) const void* TestServerAddress() {
  return reinterpret_cast<const void*>(&TestServerAddress);
}
