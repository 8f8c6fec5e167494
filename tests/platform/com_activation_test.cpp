#include "platform/com_activation.h"

#include <dlfcn.h>

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "platform/exceptions.h"
#include "platform/registry.h"
#include "tests/platform/activation_server.h"
#include "tests/platform/temp_environment.h"

namespace {

class ActivationTest : public ::testing::Test {
 protected:
  TempFolder folder;
  ScopedEnv config{"XDG_CONFIG_HOME", folder.Path()};

  static std::string ClsidKey() { return "CLSID\\" + GuidToString(kTestServerClsid); }
  void TearDown() override { CoFreeUnusedLibraries(); }
};

TEST_F(ActivationTest, UnknownProgIdOrClassIsNotRegistered) {
  CLSID clsid{};
  EXPECT_EQ(CLSIDFromProgID("Nobody.Here", clsid), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(CLSIDFromProgID("", clsid), REGDB_E_CLASSNOTREG);
  ASSERT_TRUE(RegSetValue("Broken.ProgId\\Clsid", "", "not a guid"));
  EXPECT_EQ(CLSIDFromProgID("Broken.ProgId", clsid), REGDB_E_CLASSNOTREG);

  void* object = reinterpret_cast<void*>(1);
  EXPECT_EQ(CoGetClassObject(kTestServerClsid, IID_IClassFactory, &object), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(object, nullptr);
  object = reinterpret_cast<void*>(1);
  EXPECT_EQ(CreateObjectByProgID("Nobody.Here", IID_IUnknown, &object), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(CoCreateInstance(kTestServerClsid, nullptr, IID_IUnknown, nullptr), E_POINTER);
}

TEST_F(ActivationTest, MissingLibraryAndMissingExportAreTold) {
  ASSERT_TRUE(RegSetValue(ClsidKey() + "\\InprocServer32", "", folder / "no-such-library.so"));
  void* object = nullptr;
  EXPECT_EQ(CoGetClassObject(kTestServerClsid, IID_IClassFactory, &object), CO_E_DLLNOTFOUND);
#ifdef TAVO_TEST_BROKEN_SERVER_PATH
  ASSERT_TRUE(RegSetValue(ClsidKey() + "\\InprocServer32", "", TAVO_TEST_BROKEN_SERVER_PATH));
  EXPECT_EQ(CoGetClassObject(kTestServerClsid, IID_IClassFactory, &object), CO_E_ERRORINDLL);
  EXPECT_EQ(object, nullptr);
  EXPECT_EQ(dlopen(TAVO_TEST_BROKEN_SERVER_PATH, RTLD_NOW | RTLD_NOLOAD), nullptr) << "not kept loaded";
#endif
}

TEST_F(ActivationTest, ServerLibraryNamesWhatIsMissing) {
  try {
    ServerLibrary missing(folder / "absent.so");
    FAIL() << "loaded a missing file";
  } catch (const EOSError& e) {
    EXPECT_NE(std::string(e.what()).find("absent.so"), std::string::npos) << e.what();
  }
#ifdef TAVO_TEST_BROKEN_SERVER_PATH
  ServerLibrary broken(TAVO_TEST_BROKEN_SERVER_PATH);
  EXPECT_TRUE(broken.HasExport("DllCanUnloadNow"));
  EXPECT_FALSE(broken.HasExport("DllGetClassObject"));
  EXPECT_EQ(broken.CanUnloadNow()(), S_OK);
  try {
    broken.RegisterServer();
    FAIL() << "found a missing export";
  } catch (const EOSError& e) {
    EXPECT_NE(std::string(e.what()).find("DllRegisterServer"), std::string::npos) << e.what();
  }
#endif
}

#ifdef TAVO_TEST_SERVER_PATH
TEST_F(ActivationTest, RegisterCreateByProgIdUnloadAndUnregister) {
  {
    ServerLibrary server(TAVO_TEST_SERVER_PATH);
    ASSERT_EQ(server.RegisterServer()(), S_OK);
  }
  std::string path;
  ASSERT_TRUE(RegQueryValue(ClsidKey() + "\\InprocServer32", "", path));
  EXPECT_EQ(path, std::filesystem::canonical(TAVO_TEST_SERVER_PATH).string());

  CLSID clsid{};
  ASSERT_EQ(CLSIDFromProgID("tavotest.activationserver", clsid), S_OK) << "ProgIDs ignore letter case";
  EXPECT_EQ(clsid, kTestServerClsid);

  ComPtr<ITestObject> object;
  ASSERT_EQ(CreateObjectByProgID(kTestServerProgId, kTestObjectIid, reinterpret_cast<void**>(object.Put())), S_OK);
  ASSERT_TRUE(object);
  EXPECT_EQ(object->Answer(), 42);

  ComPtr<IUnknown> second;
  ASSERT_EQ(CoCreateInstance(kTestServerClsid, nullptr, IID_IUnknown, reinterpret_cast<void**>(second.Put())), S_OK);
  EXPECT_NE(static_cast<void*>(second.Get()), static_cast<void*>(object.Get())) << "every request makes a new object";

  void* none = reinterpret_cast<void*>(1);
  EXPECT_EQ(CoCreateInstance(kTestServerClsid, nullptr, IID_IDispatch, &none), E_NOINTERFACE);
  EXPECT_EQ(none, nullptr);
  EXPECT_EQ(CoCreateInstance(kTestServerClsid, second.Get(), IID_IUnknown, &none), CLASS_E_NOAGGREGATION);

  // Objects alive: the library stays; once they are gone it is unloaded.
  CoFreeUnusedLibraries();
  void* stillLoaded = dlopen(TAVO_TEST_SERVER_PATH, RTLD_NOW | RTLD_NOLOAD);
  EXPECT_NE(stillLoaded, nullptr);
  if (stillLoaded != nullptr) dlclose(stillLoaded);
  object.Reset();
  second.Reset();
  CoFreeUnusedLibraries();
  EXPECT_EQ(dlopen(TAVO_TEST_SERVER_PATH, RTLD_NOW | RTLD_NOLOAD), nullptr);

  // It loads again on the next request.
  ASSERT_EQ(CreateObjectByProgID(kTestServerProgId, kTestObjectIid, reinterpret_cast<void**>(object.Put())), S_OK);
  object.Reset();

  {
    ServerLibrary server(TAVO_TEST_SERVER_PATH);
    ASSERT_EQ(server.UnregisterServer()(), S_OK);
  }
  EXPECT_FALSE(RegKeyExists(ClsidKey()));
  EXPECT_FALSE(RegKeyExists(kTestServerProgId));
  EXPECT_EQ(CreateObjectByProgID(kTestServerProgId, kTestObjectIid, reinterpret_cast<void**>(object.Put())),
            REGDB_E_CLASSNOTREG);
}

TEST_F(ActivationTest, ClassFactoryRefusesAnotherClass) {
  ServerLibrary server(TAVO_TEST_SERVER_PATH);
  void* object = reinterpret_cast<void*>(1);
  EXPECT_EQ(server.GetClassObject()(IID_IDispatch, IID_IClassFactory, &object), CLASS_E_CLASSNOTAVAILABLE);
  EXPECT_EQ(object, nullptr);
}
#endif

}  // namespace
