// The shipped driver library as a COM server: its registration keys, its class factory and its
// unload answer, seen through the four exports only.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <string>

#include "platform/com_activation.h"
#include "platform/registry.h"

namespace {

const char* kClassKey = "CLSID\\{A6758E6C-9A8A-4D86-9C3B-2C962AC3CCA7}";
const CLSID kClsid = {0xA6758E6C, 0x9A8A, 0x4D86, {0x9C, 0x3B, 0x2C, 0x96, 0x2A, 0xC3, 0xCC, 0xA7}};

class DriverServer : public ::testing::Test {
 protected:
  DriverServer() {
    char pattern[] = "/tmp/tavo-server-XXXXXX";
    root_ = mkdtemp(pattern);
    setenv("XDG_CONFIG_HOME", root_.c_str(), 1);
    setenv("TAVO_COMMON_APPDATA", (root_ + "/common").c_str(), 1);
  }
  ~DriverServer() override {
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }
  static std::string Value(const std::string& key, const std::string& name = "") {
    std::string data;
    return RegQueryValue(key, name, data) ? data : "<missing>";
  }
  std::string root_;
  ServerLibrary library_{TAVO_DRIVER_LIBRARY};
};

TEST_F(DriverServer, RegistrationWritesEveryKeyAndUnregistrationRemovesThem) {
  ASSERT_EQ(library_.RegisterServer()(), S_OK);
  const std::string classKey = kClassKey;
  EXPECT_EQ(Value(classKey), "Equipment Driver 2.0");
  EXPECT_EQ(Value(classKey + "\\InprocServer32"), std::filesystem::canonical(TAVO_DRIVER_LIBRARY).string());
  EXPECT_EQ(Value(classKey + "\\InprocServer32", "ThreadingModel"), "Apartment");
  EXPECT_EQ(Value(classKey + "\\ProgID"), "TavoEq.MorvikRK4400IP");
  EXPECT_EQ(Value("TavoEq.MorvikRK4400IP"), "Equipment Driver 2.0");
  EXPECT_EQ(Value("TavoEq.MorvikRK4400IP\\Clsid"), "{A6758E6C-9A8A-4D86-9C3B-2C962AC3CCA7}");
  CLSID found{};
  EXPECT_EQ(CLSIDFromProgID("TavoEq.MorvikRK4400IP", found), S_OK);
  EXPECT_EQ(found, kClsid);

  ASSERT_EQ(library_.UnregisterServer()(), S_OK);
  for (const std::string& key : {classKey + "\\ProgID", std::string("TavoEq.MorvikRK4400IP\\Clsid"),
                                std::string("TavoEq.MorvikRK4400IP"), classKey + "\\InprocServer32", classKey}) {
    EXPECT_FALSE(RegKeyExists(key)) << key;
  }
  EXPECT_EQ(library_.UnregisterServer()(), S_OK);  // nothing left to delete is no failure
  EXPECT_EQ(CLSIDFromProgID("TavoEq.MorvikRK4400IP", found), REGDB_E_CLASSNOTREG);
}

TEST_F(DriverServer, OnlyTheFourServerFunctionsAreExported) {
  for (const char* name : {"DllGetClassObject", "DllCanUnloadNow", "DllRegisterServer", "DllUnregisterServer"}) {
    EXPECT_TRUE(library_.HasExport(name)) << name;
  }
  for (const char* name : {"_ZN7TDriverD0Ev", "_Z11HexToInt64St17basic_string_viewIcSt11char_traitsIcEE",
                           "_ZN13driver_server13CanUnloadNowEv"}) {
    EXPECT_FALSE(library_.HasExport(name)) << name;
  }
}

TEST_F(DriverServer, TheFactoryServesOnlyItsClass) {
  void* object = reinterpret_cast<void*>(1);
  const CLSID other = {0x12345678, 0, 0, {0, 0, 0, 0, 0, 0, 0, 1}};
  EXPECT_EQ(library_.GetClassObject()(other, IID_IClassFactory, &object), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(object, nullptr);
  object = reinterpret_cast<void*>(1);
  EXPECT_EQ(library_.GetClassObject()(kClsid, IID_IDispatch, &object), E_NOINTERFACE);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(library_.GetClassObject()(kClsid, IID_IClassFactory, nullptr), E_POINTER);
}

TEST_F(DriverServer, ObjectsAndLocksKeepTheServerLoaded) {
  const auto canUnload = library_.CanUnloadNow();
  EXPECT_EQ(canUnload(), S_OK);
  ComPtr<IClassFactory> factory;
  ASSERT_EQ(library_.GetClassObject()(kClsid, IID_IClassFactory, reinterpret_cast<void**>(factory.Put())), S_OK);
  EXPECT_EQ(canUnload(), S_OK);  // a factory reference alone does not

  ComPtr<IDispatch> first;
  ComPtr<IDispatch> second;
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(first.Put())), S_OK);
  ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(second.Put())), S_OK);
  EXPECT_NE(first.Get(), second.Get());  // every request makes a new object
  EXPECT_EQ(canUnload(), S_FALSE);
  first.Reset();
  EXPECT_EQ(canUnload(), S_FALSE);
  second.Reset();
  EXPECT_EQ(canUnload(), S_OK);

  EXPECT_EQ(factory->LockServer(1), S_OK);
  EXPECT_EQ(canUnload(), S_FALSE);
  EXPECT_EQ(factory->LockServer(0), S_OK);
  EXPECT_EQ(canUnload(), S_OK);

  void* object = reinterpret_cast<void*>(1);
  EXPECT_EQ(factory->CreateInstance(reinterpret_cast<IUnknown*>(&factory), IID_IDispatch, &object),
            CLASS_E_NOAGGREGATION);
  EXPECT_EQ(object, nullptr);
}

}  // namespace
