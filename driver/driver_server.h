// The COM server of the driver library: one class factory for TDriver (multiple instances; every
// call on the creating thread), the registration keys under the class registration store, and the
// server's unload rule. server_exports.cpp exports these as the library's four functions.
#pragma once

#include <string>

#include "platform/com.h"

namespace driver_server {

extern const CLSID CLSID_MorvikRK4400IP;  // {A6758E6C-9A8A-4D86-9C3B-2C962AC3CCA7}
inline constexpr const char* kServerName = "TavoEq";
inline constexpr const char* kClassName = "MorvikRK4400IP";
inline constexpr const char* kProgID = "TavoEq.MorvikRK4400IP";
inline constexpr const char* kDescription = "Equipment Driver 2.0";
inline constexpr const char* kThreadingModel = "Apartment";

// The factory for the class identifier: E_POINTER for a null out pointer, CLASS_E_CLASSNOTAVAILABLE
// for another class (with a null object), E_NOINTERFACE for an interface other than IUnknown and
// IClassFactory.
HRESULT GetClassObject(REFCLSID clsid, REFIID riid, void** object);
// S_OK while no driver object exists and the factory is not locked, else S_FALSE.
HRESULT CanUnloadNow();
// Writes the keys and values of the class with libraryPath as the InprocServer32 default value;
// S_OK, or E_FAIL when a write failed.
HRESULT RegisterServer(const std::string& libraryPath);
// Deletes the keys in the reverse order of their dependence; keys already missing are no failure.
HRESULT UnregisterServer();

// The registry key of the class: "CLSID\{A6758E6C-9A8A-4D86-9C3B-2C962AC3CCA7}".
std::string ClassKey();
// How many LockServer(TRUE) calls are not yet balanced.
long LockCount() noexcept;

}  // namespace driver_server
