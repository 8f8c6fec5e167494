// TBaseDevice through IDispatch as a host drives it: lifecycle, About data, host callbacks.
#include "framework/base_device.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "framework/equipment_errors.h"
#include "platform/exceptions.h"
#include "tests/framework/test_support.h"

namespace {

using fwtest::FakeHost;
using fwtest::HostCall;

// A device that records its hooks in order.
class RecordingDevice : public TBaseDevice {
 public:
  std::vector<std::string>* journal = nullptr;
  std::int32_t initCode = 0;
  std::string initText;
  std::int32_t connectCode = 0;
  bool dialogAnswer = false;

  void Note(const std::string& what) {
    if (journal) journal->push_back(what);
  }
  void SetHasDialog(std::int16_t value) { FDeviceInfo.HasSettingsDialog = value; }
  void SetDriverID(const std::string& id) { FDeviceInfo.DriverID = id; }

 protected:
  std::int32_t DoInit(std::string& text) override {
    Note("DoInit");
    text = initText;
    return initCode;
  }
  std::int32_t DoOpen(std::string& text) override {
    Note("DoOpen");
    text.clear();
    return 0;
  }
  std::int32_t DeviceConnect(std::string& text) override {
    Note("DeviceConnect");
    text.clear();
    return connectCode;
  }
  std::int32_t DeviceDisconnect(std::string& text) override {
    Note("DeviceDisconnect");
    text.clear();
    return 0;
  }
  void DoFinalize() override { Note("DoFinalize"); }
  void BeforeClose() override { Note("BeforeClose"); }
  void AfterClose() override { Note("AfterClose"); }
  bool ShowSettingsDialog() override { return dialogAnswer; }
};

class Device : public ::testing::Test {
 protected:
  void SetUp() override {
    device->journal = &journal;
    host.properties["DevicesFolder"] = {true, "/data/devices"};
    host.properties["ModelsFolder"] = {true, "/data/models/"};
    host.properties["Language"] = {true, "ru"};
  }
  void TearDown() override { device->journal = nullptr; }

  HRESULT InitWith(const OleVariant& first, HostCall& call) {
    call.Arg(first).RefVariant(OleVariant("before"));
    return call.Call(dispatch, "Init");
  }
  bool InitHost() {
    HostCall call;
    InitWith(OleVariant::FromDispatch(&host), call);
    return call.Result().AsBoolean();
  }
  HRESULT OpenWith(const OleVariant& id, HostCall& call) {
    call.Arg(id).RefVariant();
    return call.Call(dispatch, "Open");
  }

  std::vector<std::string> journal;
  FakeHost host;
  ComPtr<RecordingDevice> device = CreateComObject<RecordingDevice>();
  IDispatch* dispatch = AsDispatch(device.Get());
};

TEST_F(Device, AnswersItsTenMethodsWithDispIds10To19) {
  const char* names[] = {"Init",   "Open",    "Close",       "ShowSettingsDlg", "GetDeviceInfo",
                         "Enable", "Disable", "GetSettings", "SetSettings",     "CheckHealth"};
  for (int i = 0; i < 10; ++i) EXPECT_EQ(fwtest::DispIdOf(dispatch, names[i]), 10 + i) << names[i];
  EXPECT_EQ(device->Methods().size(), 20u);
  EXPECT_NE(device->Wnd(), nullptr);
}

// --- Init ----------------------------------------------------------------------------------------

TEST_F(Device, InitKeepsOneReferenceAndReadsModelsFolderAndLanguage) {
  HostCall call;
  ASSERT_EQ(InitWith(OleVariant::FromDispatch(&host), call), S_OK);
  EXPECT_TRUE(call.Result().AsBoolean());
  EXPECT_EQ(call.Value(1).AsString(), "Нет ошибок");
  EXPECT_EQ(host.RefCount(), 3u);  // ours, the call's argument, the device's
  EXPECT_EQ(device->ModelsFolder(), "/data/models//");  // DriverID empty in the base
  EXPECT_EQ(device->Language(), "ru");
  ASSERT_EQ(host.calls.size(), 2u);
  EXPECT_EQ(host.calls[0].args[1].AsString(), "ModelsFolder");
  EXPECT_EQ(host.calls[1].args[1].AsString(), "Language");
}

TEST_F(Device, InitWithAStringFailsAndForgetsTheEarlierHost) {
  ASSERT_TRUE(InitHost());
  EXPECT_EQ(host.RefCount(), 2u);
  HostCall call;
  ASSERT_EQ(InitWith(OleVariant("not a host"), call), S_OK);
  EXPECT_FALSE(call.Result().AsBoolean());
  EXPECT_EQ(call.Value(1).AsString(), "Ошибка входных параметров команды");
  EXPECT_EQ(host.RefCount(), 1u);
  try {
    device->DataEvent("a", "b", OleVariant());
    FAIL() << "no error";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "Менеджер оборудования недоступен");
  }
  EXPECT_EQ(std::count(journal.begin(), journal.end(), "DoInit"), 1);
}

TEST_F(Device, InitWithOneElementStillAnswersTrue) {
  HostCall call;
  call.Arg(OleVariant::FromDispatch(&host));
  ASSERT_EQ(call.Call(dispatch, "Init"), S_OK);
  EXPECT_TRUE(call.Result().AsBoolean());
}

TEST_F(Device, InitHookTextAndCodeReachTheHost) {
  device->initCode = 1008;
  device->initText = "нет связи";
  HostCall call;
  ASSERT_EQ(InitWith(OleVariant::FromDispatch(&host), call), S_OK);
  EXPECT_FALSE(call.Result().AsBoolean());
  EXPECT_EQ(call.Value(1).AsString(), "нет связи");
  EXPECT_TRUE(host.calls.empty());  // no property reads after a failed Init
  EXPECT_EQ(host.RefCount(), 3u);  // the host object stays set (and the call still holds its argument)
}

// --- Open and Close ------------------------------------------------------------------------------

TEST_F(Device, OpenKeeps255CharactersAndDerivesTheDevicesFolder) {
  ASSERT_TRUE(InitHost());
  HostCall call;
  ASSERT_EQ(OpenWith(OleVariant(std::string(300, 'd')), call), S_OK);
  EXPECT_TRUE(call.Result().AsBoolean());
  EXPECT_EQ(call.Value(1).AsString(), "Нет ошибок");
  EXPECT_EQ(device->DeviceID(), std::string(255, 'd'));
  EXPECT_EQ(device->DevicesFolder(), "/data/devices/" + std::string(255, 'd') + "/");
}

TEST_F(Device, OpenWithCyrillicIdentifierCutsByCharacters) {
  ASSERT_TRUE(InitHost());
  std::string id;
  for (int i = 0; i < 300; ++i) id += "ж";
  HostCall call;
  ASSERT_EQ(OpenWith(OleVariant(id), call), S_OK);
  EXPECT_EQ(device->DeviceID(), id.substr(0, 255 * 2));
}

TEST_F(Device, OpenWithEmptyIdentifierSucceedsWithoutAFolder) {
  ASSERT_TRUE(InitHost());
  HostCall call;
  ASSERT_EQ(OpenWith(OleVariant(""), call), S_OK);
  EXPECT_TRUE(call.Result().AsBoolean());
  EXPECT_EQ(device->DevicesFolder(), "");
}

TEST_F(Device, OpenWithoutAStringFailsAndKeepsTheFolder) {
  ASSERT_TRUE(InitHost());
  HostCall first;
  ASSERT_EQ(OpenWith(OleVariant("dev1"), first), S_OK);
  HostCall call;
  ASSERT_EQ(OpenWith(OleVariant(std::int32_t{5}), call), S_OK);
  EXPECT_FALSE(call.Result().AsBoolean());
  EXPECT_EQ(call.Value(1).AsString(), "Ошибка входных параметров команды");
  EXPECT_EQ(device->DeviceID(), "");
  EXPECT_EQ(device->DevicesFolder(), "/data/devices/dev1/");
  EXPECT_EQ(std::count(journal.begin(), journal.end(), "DoOpen"), 1);
}

TEST_F(Device, OpenWithoutHostIsADispatchExceptionWithTheIdentifierSet) {
  HostCall call;
  EXPECT_EQ(OpenWith(OleVariant("dev1"), call), DISP_E_EXCEPTION);
  EXPECT_EQ(call.Excep().scode, 1001);
  EXPECT_EQ(call.ExcepDescription(), "Менеджер оборудования недоступен");
  EXPECT_EQ(device->DeviceID(), "dev1");
}

TEST_F(Device, CloseForgetsHostAndIdentifierAndAnswersTrueEveryTime) {
  ASSERT_TRUE(InitHost());
  HostCall open;
  OpenWith(OleVariant("dev1"), open);
  for (int i = 0; i < 2; ++i) {
    HostCall call;
    call.Arg(OleVariant("untouched"));
    ASSERT_EQ(call.Call(dispatch, "Close"), S_OK);
    EXPECT_TRUE(call.Result().AsBoolean());
    EXPECT_EQ(call.Value(0).AsString(), "untouched");
  }
  EXPECT_EQ(host.RefCount(), 1u);
  EXPECT_EQ(device->DeviceID(), "");
  EXPECT_EQ(device->DevicesFolder(), "/data/devices/dev1/");  // folders stay
  EXPECT_EQ(journal[journal.size() - 2], "BeforeClose");
  EXPECT_EQ(journal.back(), "AfterClose");
}

TEST(DeviceLife, DestructionDisconnectsThenFinalizesThenReleasesTheHost) {
  std::vector<std::string> journal;
  FakeHost host;
  {
    auto device = CreateComObject<RecordingDevice>();
    device->journal = &journal;
    HostCall call;
    call.Arg(OleVariant::FromDispatch(&host)).RefVariant();
    ASSERT_EQ(call.Call(AsDispatch(device.Get()), "Init"), S_OK);
    EXPECT_EQ(host.RefCount(), 3u);
  }
  EXPECT_EQ(journal, (std::vector<std::string>{"DoInit", "DeviceDisconnect", "DoFinalize"}));
  EXPECT_EQ(host.RefCount(), 1u);
}

// --- Function-kind lifecycle methods ---------------------------------------------------------------

TEST_F(Device, ShowSettingsDlgFollowsTheAboutFlagAndTheDialog) {
  auto r = fwtest::CallFunction(dispatch, "ShowSettingsDlg");
  EXPECT_FALSE(r.result.AsBoolean());
  EXPECT_EQ(fwtest::ErrorCodeOf(r.outData), 1003);
  EXPECT_EQ(fwtest::ErrorTextOf(r.outData), "Команда не поддерживаеся устройством");
  device->SetHasDialog(-1);
  r = fwtest::CallFunction(dispatch, "ShowSettingsDlg");
  EXPECT_EQ(fwtest::ErrorCodeOf(r.outData), 201);
  device->dialogAnswer = true;
  r = fwtest::CallFunction(dispatch, "ShowSettingsDlg");
  EXPECT_TRUE(r.result.AsBoolean());
}

TEST_F(Device, EnableReportsTheConnectCodeWithTheTableText) {
  device->connectCode = 1007;
  auto r = fwtest::CallFunction(dispatch, "Enable");
  EXPECT_FALSE(r.result.AsBoolean());
  EXPECT_EQ(fwtest::ErrorCodeOf(r.outData), 1007);
  EXPECT_EQ(fwtest::ErrorTextOf(r.outData), "Устройство не отвечает");
  r = fwtest::CallFunction(dispatch, "CheckHealth");
  EXPECT_TRUE(r.result.AsBoolean());
  r = fwtest::CallFunction(dispatch, "Disable");
  EXPECT_TRUE(r.result.AsBoolean());
  std::string text;
  EXPECT_FALSE(device->DeviceTest(text));
  EXPECT_EQ(text, ErrorText(1003));
}

// --- About data ----------------------------------------------------------------------------------

TEST_F(Device, GetDeviceInfoAnswersFifteenValuesOfTheirTypes) {
  auto r = fwtest::CallFunction(dispatch, "GetDeviceInfo");
  ASSERT_TRUE(r.result.AsBoolean());
  const OleVariant& info = r.outData;
  ASSERT_EQ(info.DimCount(), 1);
  EXPECT_EQ(info.LowBound(1), 0);
  EXPECT_EQ(info.HighBound(1), 14);
  const VARTYPE types[15] = {VT_BSTR, VT_BSTR, VT_BSTR, VT_I4,   VT_I4,   VT_I4,   VT_BSTR, VT_I4,
                             VT_BOOL, VT_BSTR, VT_BSTR, VT_BSTR, VT_BSTR, VT_BSTR, VT_BSTR};
  for (LONG i = 0; i < 15; ++i) EXPECT_EQ(info.GetElement({i}).Type(), types[i]) << i;
  EXPECT_EQ(info.GetElement({0}).AsString(), "Unknown");
  EXPECT_EQ(info.GetElement({1}).AsString(), "");
  EXPECT_EQ(info.GetElement({3}).AsInteger(), TAVO_TEST_VERSION_MAJOR);
  EXPECT_EQ(info.GetElement({4}).AsInteger(), TAVO_TEST_VERSION_MINOR);
  EXPECT_EQ(info.GetElement({5}).AsInteger(), TAVO_TEST_VERSION_BUILD);
  EXPECT_EQ(info.GetElement({7}).AsInteger(), 1);
  EXPECT_FALSE(info.GetElement({8}).AsBoolean());
  for (LONG i = 10; i < 15; ++i) EXPECT_FALSE(info.GetElement({i}).AsString().empty()) << i;
}

TEST_F(Device, SettingsDialogFlagIsTrueForAnyNonZeroValue) {
  for (std::int16_t flag : {std::int16_t{1}, std::int16_t{-1}}) {
    device->SetHasDialog(flag);
    auto r = fwtest::CallFunction(dispatch, "GetDeviceInfo");
    EXPECT_EQ(r.outData.GetElement({8}).Raw().boolVal, VARIANT_TRUE);
  }
}

TEST(DeviceInfo, VersionAndContactTexts) {
  TDeviceInfoStruct info;
  info.VerMajor = 4;
  info.VerMinor = 1;
  info.VerBuild = 0;
  EXPECT_EQ(FormatVersion(info), "4.1.0");
  info.EMail = "e";
  info.WebAddress = "w";
  info.Phone = "p";
  info.Address = "a";
  EXPECT_EQ(FormatContactInfo(info), "E-mail:\te\r\nWeb:\tw\r\nТел:\tp\r\nАдрес:\ta\r\n");
}

// --- Host callbacks ------------------------------------------------------------------------------

TEST_F(Device, DataEventSendsFourArgumentsInOrder) {
  ASSERT_TRUE(InitHost());
  host.calls.clear();
  EXPECT_TRUE(device->DataEvent("первый", "второй", OleVariant(std::int32_t{17})));
  ASSERT_EQ(host.calls.size(), 1u);
  const auto& call = host.calls[0];
  EXPECT_EQ(call.method, "DataEvent");
  EXPECT_EQ(call.types, (std::vector<VARTYPE>{VT_BSTR, VT_BSTR, VT_BSTR, VT_VARIANT | VT_BYREF}));
  EXPECT_EQ(call.args[0].AsString(), "");  // before Open
  EXPECT_EQ(call.args[1].AsString(), "первый");
  EXPECT_EQ(call.args[2].AsString(), "второй");
  EXPECT_EQ(call.args[3].AsInteger(), 17);
  host.eventAnswer = false;
  EXPECT_FALSE(device->ErrorEvent("x", "y", OleVariant()));
  EXPECT_EQ(host.calls.back().method, "ErrorEvent");
}

TEST_F(Device, HostWritingIntoTheDataLeavesTheCallersDataAlone) {
  ASSERT_TRUE(InitHost());
  host.writeIntoData = true;
  OleVariant data("mine");
  device->DataEvent("a", "b", data);
  EXPECT_EQ(data.AsString(), "mine");
}

TEST_F(Device, CallbacksAfterCloseRaiseAndSendNothing) {
  ASSERT_TRUE(InitHost());
  HostCall close;
  close.Call(dispatch, "Close");
  host.calls.clear();
  EXPECT_THROW(device->DataEvent("a", "b", OleVariant()), Exception);
  std::string value;
  EXPECT_THROW(device->GetAppProperty("Language", value), Exception);
  EXPECT_TRUE(host.calls.empty());
}

// A host object that frees itself with its last reference.
class SelfFreeingHost final : public FakeHost {
 public:
  bool* freed = nullptr;

 private:
  void LastReleased() noexcept override {
    *freed = true;
    ComObject::LastReleased();
  }
};

TEST_F(Device, HostClosingTheDeviceInsideACallbackIsNotFreedUnderTheCall) {
  bool freed = false;
  auto* selfFreeing = std::make_unique<SelfFreeingHost>().release();
  selfFreeing->freed = &freed;
  {
    HostCall init;
    init.Arg(OleVariant::FromDispatch(selfFreeing)).RefVariant();
    ASSERT_EQ(init.Call(dispatch, "Init"), S_OK);
  }
  selfFreeing->Release();  // from now on the device holds the only reference
  ASSERT_FALSE(freed);
  bool freedInside = true;
  selfFreeing->duringCall = [&] {
    HostCall close;
    close.Call(dispatch, "Close");
    freedInside = freed;
  };
  EXPECT_TRUE(device->DataEvent("a", "b", OleVariant()));
  EXPECT_FALSE(freedInside);
  EXPECT_TRUE(freed);  // let go once the callback was over
}

TEST_F(Device, NullHostObjectCountsAsNoHost) {
  HostCall call;
  VARIANT nullHost;
  VariantInit(&nullHost);
  nullHost.vt = VT_DISPATCH;
  call.Raw(nullHost).RefVariant();
  EXPECT_EQ(call.Call(dispatch, "Init"), DISP_E_EXCEPTION);  // property reads need the host
  EXPECT_EQ(call.ExcepDescription(), "Менеджер оборудования недоступен");
}

TEST_F(Device, PropertyReadersFollowTheHostsAnswers) {
  ASSERT_TRUE(InitHost());
  HostCall open;
  OpenWith(OleVariant("dev"), open);
  host.properties["DevicesFolder"] = {true, "/data/devices/"};
  EXPECT_EQ(device->GetDevicesFolder(), "/data/devices/dev/");
  host.properties["DevicesFolder"] = {true, ""};
  EXPECT_EQ(device->GetDevicesFolder(), "");
  host.properties["DevicesFolder"] = {false, "/ignored"};
  EXPECT_EQ(device->GetDevicesFolder(), "");
  device->SetDriverID("DRV-1");
  EXPECT_EQ(device->GetModelsFolder(), "/data/models/DRV-1/");
  host.properties.erase("Language");
  EXPECT_EQ(device->GetLanguage(), "");
  EXPECT_EQ(host.calls.back().args[0].AsString(), "dev");
  EXPECT_EQ(host.calls.back().types[2], VT_BSTR | VT_BYREF);
}

TEST_F(Device, DevicesFolderIsEmptyWithoutAnIdentifier) {
  ASSERT_TRUE(InitHost());
  EXPECT_EQ(device->GetDevicesFolder(), "");
}

TEST_F(Device, HostFailureCarriesTheHostsText) {
  ASSERT_TRUE(InitHost());
  host.failure = DISP_E_EXCEPTION;
  host.failureText = "хост недоволен";
  try {
    device->DataEvent("a", "b", OleVariant());
    FAIL() << "no error";
  } catch (const EOleException& e) {
    EXPECT_STREQ(e.what(), "хост недоволен");
  }
  host.failure = DISP_E_TYPEMISMATCH;
  EXPECT_THROW(device->DataEvent("a", "b", OleVariant()), EOleException);
}

}  // namespace
