// The host's side of COM: finding an in-process server through the registration store
// (platform/registry.h), loading it and asking it for objects.
//
//   ProgID\Clsid                        -> the class identifier
//   CLSID\{...}\InprocServer32 (default) -> the server library's full path
//
// A loaded server library stays loaded (one handle per path, shared by every thread) until
// CoFreeUnusedLibraries finds that its DllCanUnloadNow answers S_OK. Libraries still loaded when
// the process ends are not unloaded, so objects that live until then keep their code.
// A server exports DllGetClassObject, DllCanUnloadNow, DllRegisterServer and DllUnregisterServer
// with C linkage (extern "C"), of the types in platform/com.h.
#pragma once

#include <string>

#include "platform/com.h"
#include "platform/export.h"

// REGDB_E_CLASSNOTREG for a ProgID that is not registered (or whose class identifier is malformed).
TAVO_PLATFORM_API HRESULT CLSIDFromProgID(const std::string& progId, CLSID& clsid);

// The server's DllGetClassObject answer; REGDB_E_CLASSNOTREG for a class that is not registered,
// CO_E_DLLNOTFOUND when the library cannot be loaded, CO_E_ERRORINDLL when it lacks the export.
TAVO_PLATFORM_API HRESULT CoGetClassObject(REFCLSID clsid, REFIID riid, void** object);
// Asks the class factory for a new object (outer: the aggregating object, normally nullptr).
TAVO_PLATFORM_API HRESULT CoCreateInstance(REFCLSID clsid, IUnknown* outer, REFIID riid, void** object);
TAVO_PLATFORM_API HRESULT CreateObjectByProgID(const std::string& progId, REFIID riid, void** object);

// Unloads every loaded server library whose DllCanUnloadNow answers S_OK.
TAVO_PLATFORM_API void CoFreeUnusedLibraries();

// One server library loaded by its path, for the host program's registration commands; unloaded
// when the object goes. The constructor raises EOSError when the file cannot be loaded; an accessor
// raises EOSError naming the export when the library lacks it.
class TAVO_PLATFORM_API ServerLibrary {
 public:
  explicit ServerLibrary(const std::string& path);
  ~ServerLibrary();
  ServerLibrary(ServerLibrary&& other) noexcept;
  ServerLibrary& operator=(ServerLibrary&& other) noexcept;
  ServerLibrary(const ServerLibrary&) = delete;
  ServerLibrary& operator=(const ServerLibrary&) = delete;

  const std::string& Path() const { return path_; }
  bool HasExport(const char* name) const;

  DllGetClassObjectFn GetClassObject() const;
  DllCanUnloadNowFn CanUnloadNow() const;
  DllRegisterServerFn RegisterServer() const;
  DllUnregisterServerFn UnregisterServer() const;

 private:
  void* Export(const char* name) const;

  std::string path_;
  void* handle_ = nullptr;
};
