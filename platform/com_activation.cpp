#include "platform/com_activation.h"

#include <dlfcn.h>

#include <map>
#include <mutex>
#include <utility>

#include "platform/exceptions.h"
#include "platform/registry.h"

namespace {

// The loaded server libraries, by path. Deliberately never unloaded at process exit (see header).
struct LibraryCache {
  std::recursive_mutex lock;
  std::map<std::string, void*> handles;
};

LibraryCache& Cache() {
  static LibraryCache cache;
  return cache;
}

template <class Fn>
Fn LookUp(void* handle, const char* name) {
  return reinterpret_cast<Fn>(dlsym(handle, name));
}

// The cached handle of the library, loading it when needed; nullptr when it cannot be loaded.
void* LoadServer(const std::string& path) {
  LibraryCache& cache = Cache();
  const auto found = cache.handles.find(path);
  if (found != cache.handles.end()) return found->second;
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle != nullptr) cache.handles.emplace(path, handle);
  return handle;
}

std::string LastLoaderError() {
  const char* text = dlerror();
  return text == nullptr ? std::string("unknown error") : std::string(text);
}

}  // namespace

HRESULT CLSIDFromProgID(const std::string& progId, CLSID& clsid) {
  std::string text;
  if (progId.empty() || !RegQueryValue(progId + "\\Clsid", "", text) || !StringToGuid(text, clsid)) {
    return REGDB_E_CLASSNOTREG;
  }
  return S_OK;
}

HRESULT CoGetClassObject(REFCLSID clsid, REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  std::string path;
  if (!RegQueryValue("CLSID\\" + GuidToString(clsid) + "\\InprocServer32", "", path) || path.empty()) {
    return REGDB_E_CLASSNOTREG;
  }
  LibraryCache& cache = Cache();
  const std::lock_guard guard(cache.lock);
  void* handle = LoadServer(path);
  if (handle == nullptr) return CO_E_DLLNOTFOUND;
  const auto getClassObject = LookUp<DllGetClassObjectFn>(handle, "DllGetClassObject");
  if (getClassObject == nullptr) {
    dlclose(handle);
    cache.handles.erase(path);
    return CO_E_ERRORINDLL;
  }
  try {
    return getClassObject(clsid, riid, object);
  } catch (...) {
    *object = nullptr;
    return E_UNEXPECTED;
  }
}

HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  ComPtr<IClassFactory> factory;
  const HRESULT hr = CoGetClassObject(clsid, IID_IClassFactory, reinterpret_cast<void**>(factory.Put()));
  if (FAILED(hr)) return hr;
  if (!factory) return E_NOINTERFACE;
  try {
    return factory->CreateInstance(outer, riid, object);
  } catch (...) {
    *object = nullptr;
    return E_UNEXPECTED;
  }
}

HRESULT CreateObjectByProgID(const std::string& progId, REFIID riid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  CLSID clsid{};
  const HRESULT hr = CLSIDFromProgID(progId, clsid);
  return FAILED(hr) ? hr : CoCreateInstance(clsid, nullptr, riid, object);
}

void CoFreeUnusedLibraries() {
  LibraryCache& cache = Cache();
  const std::lock_guard guard(cache.lock);
  for (auto it = cache.handles.begin(); it != cache.handles.end();) {
    const auto canUnloadNow = LookUp<DllCanUnloadNowFn>(it->second, "DllCanUnloadNow");
    HRESULT answer = S_FALSE;
    try {
      answer = canUnloadNow != nullptr ? canUnloadNow() : S_FALSE;
    } catch (...) {
      answer = S_FALSE;
    }
    if (answer == S_OK) {
      dlclose(it->second);
      it = cache.handles.erase(it);
    } else {
      ++it;
    }
  }
}

ServerLibrary::ServerLibrary(const std::string& path) : path_(path) {
  dlerror();
  handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr) throw EOSError("Cannot load the library " + path + ": " + LastLoaderError());
}

ServerLibrary::~ServerLibrary() {
  if (handle_ != nullptr) dlclose(handle_);
}

ServerLibrary::ServerLibrary(ServerLibrary&& other) noexcept
    : path_(std::move(other.path_)), handle_(std::exchange(other.handle_, nullptr)) {}

ServerLibrary& ServerLibrary::operator=(ServerLibrary&& other) noexcept {
  if (this != &other) {
    if (handle_ != nullptr) dlclose(handle_);
    path_ = std::move(other.path_);
    handle_ = std::exchange(other.handle_, nullptr);
  }
  return *this;
}

bool ServerLibrary::HasExport(const char* name) const { return handle_ != nullptr && dlsym(handle_, name) != nullptr; }

void* ServerLibrary::Export(const char* name) const {
  void* symbol = handle_ == nullptr ? nullptr : dlsym(handle_, name);
  if (symbol == nullptr) throw EOSError("The library " + path_ + " does not export " + name);
  return symbol;
}

DllGetClassObjectFn ServerLibrary::GetClassObject() const {
  return reinterpret_cast<DllGetClassObjectFn>(Export("DllGetClassObject"));
}

DllCanUnloadNowFn ServerLibrary::CanUnloadNow() const {
  return reinterpret_cast<DllCanUnloadNowFn>(Export("DllCanUnloadNow"));
}

DllRegisterServerFn ServerLibrary::RegisterServer() const {
  return reinterpret_cast<DllRegisterServerFn>(Export("DllRegisterServer"));
}

DllUnregisterServerFn ServerLibrary::UnregisterServer() const {
  return reinterpret_cast<DllUnregisterServerFn>(Export("DllUnregisterServer"));
}
