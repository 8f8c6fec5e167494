// The host program's callback object as a driver calls it: by name, arguments reversed, the data
// and the property value by reference.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/ole_variant.h"
#include "platform/text.h"
#include "tools/eqhost/host_callback.h"

namespace eqhost {
namespace {

class HostCallbackTest : public ::testing::Test {
 protected:
  HostCallbackTest()
      : host_(HostCallback::Create(
            HostOptions{std::string("/var/lib/host/devices"), std::nullopt, std::string("Русский")},
            [this](const Json& line) { lines_.push_back(line); })) {}

  DISPID IdOf(const char* name) {
    std::u16string wide = Utf8ToUtf16(name);
    LPOLESTR names[] = {wide.data()};
    DISPID id = 12345;
    last_ = host_->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
    return id;
  }

  // Calls with the arguments in call order (reversed into DISPPARAMS here).
  HRESULT Call(const char* name, std::vector<VARIANT> args, OleVariant& result, UINT& argErr) {
    std::vector<VARIANT> reversed(args.rbegin(), args.rend());
    DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
    EXCEPINFO info{};
    const HRESULT hr = host_->Invoke(IdOf(name), IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params,
                                     &result.Raw(), &info, &argErr);
    ClearExcepInfo(&info);
    return hr;
  }

  static VARIANT Ref(OleVariant& target) {
    VARIANT ref;
    VariantInit(&ref);
    ref.vt = VT_BYREF | VT_VARIANT;
    ref.pvarVal = &target.Raw();
    return ref;
  }

  ComPtr<HostCallback> host_;
  std::vector<Json> lines_;
  HRESULT last_ = S_OK;
};

TEST_F(HostCallbackTest, NamesAreFoundWithoutRegardToCase) {
  EXPECT_EQ(IdOf("dataevent"), HostCallback::kDataEvent);
  EXPECT_EQ(last_, S_OK);
  EXPECT_EQ(IdOf("ERROREVENT"), HostCallback::kErrorEvent);
  EXPECT_EQ(IdOf("GetAppProperty"), HostCallback::kGetAppProperty);
  EXPECT_EQ(IdOf("DataEvents"), DISPID_UNKNOWN);
  EXPECT_EQ(last_, DISP_E_UNKNOWNNAME);
}

TEST_F(HostCallbackTest, DataEventPrintsItsFourArgumentsInCallOrder) {
  OleVariant id("1");
  OleVariant kind("Entrance");
  OleVariant device("1");
  OleVariant data = OleVariant::VarArrayOf({OleVariant("1"), OleVariant("0012AB34"), OleVariant("Нормальный вход")});
  OleVariant result;
  UINT argErr = 0;
  ASSERT_EQ(Call("DataEvent", {id.Raw(), kind.Raw(), device.Raw(), Ref(data)}, result, argErr), S_OK);
  ASSERT_EQ(lines_.size(), 1u);
  EXPECT_EQ(lines_[0], Json::parse(R"({"event":"DataEvent","args":["1","Entrance","1",["1","0012AB34","Нормальный вход"]]})"));
  EXPECT_EQ(lines_[0].dump().find("\"event\""), 1u);  // the event name comes first in the line
  ASSERT_EQ(result.Type(), VT_BOOL);
  EXPECT_EQ(result.Raw().boolVal, VARIANT_TRUE);
  EXPECT_EQ(data.GetElement({1}).AsString(), "0012AB34");  // the data is left as it was
}

TEST_F(HostCallbackTest, ErrorEventWithAWrongArgumentCountIsRefusedAndNotPrinted) {
  OleVariant a("x");
  OleVariant result;
  UINT argErr = 0;
  EXPECT_EQ(Call("ErrorEvent", {a.Raw(), a.Raw(), a.Raw()}, result, argErr), DISP_E_BADPARAMCOUNT);
  EXPECT_TRUE(lines_.empty());
  EXPECT_EQ(Call("ErrorEvent", {a.Raw(), a.Raw(), a.Raw(), a.Raw()}, result, argErr), S_OK);
  EXPECT_EQ(lines_.size(), 1u);
}

TEST_F(HostCallbackTest, GetAppPropertyReplacesTheByReferenceText) {
  BSTR value = BstrFromUtf8("old text that must be freed");
  VARIANT out;
  VariantInit(&out);
  out.vt = VT_BYREF | VT_BSTR;
  out.pbstrVal = &value;
  OleVariant device("7");
  OleVariant name("devicesfolder");
  OleVariant result;
  UINT argErr = 0;
  ASSERT_EQ(Call("GetAppProperty", {device.Raw(), name.Raw(), out}, result, argErr), S_OK);
  EXPECT_EQ(result.Raw().boolVal, VARIANT_TRUE);
  EXPECT_EQ(BstrToUtf8(value), "/var/lib/host/devices");
  SysFreeString(value);
  EXPECT_TRUE(lines_.empty());
}

TEST_F(HostCallbackTest, GetAppPropertyAcceptsAByReferenceVariantAndANameByReference) {
  OleVariant value;
  OleVariant name("Language");
  OleVariant device("7");
  OleVariant result;
  UINT argErr = 0;
  ASSERT_EQ(Call("GetAppProperty", {device.Raw(), Ref(name), Ref(value)}, result, argErr), S_OK);
  EXPECT_EQ(result.Raw().boolVal, VARIANT_TRUE);
  EXPECT_EQ(value.AsString(), "Русский");
}

TEST_F(HostCallbackTest, AnUnsetPropertyAnswersFalseAndLeavesTheValue) {
  BSTR value = BstrFromUtf8("kept");
  VARIANT out;
  VariantInit(&out);
  out.vt = VT_BYREF | VT_BSTR;
  out.pbstrVal = &value;
  OleVariant device("7");
  OleVariant result;
  UINT argErr = 0;
  for (const char* property : {"ModelsFolder", "NoSuchProperty"}) {
    OleVariant name(property);
    ASSERT_EQ(Call("GetAppProperty", {device.Raw(), name.Raw(), out}, result, argErr), S_OK);
    EXPECT_EQ(result.Raw().boolVal, VARIANT_FALSE) << property;
    EXPECT_EQ(BstrToUtf8(value), "kept");
  }
  SysFreeString(value);
}

TEST_F(HostCallbackTest, GetAppPropertyValueByValueIsATypeMismatch) {
  OleVariant device("7");
  OleVariant name("Language");
  OleVariant value("");
  OleVariant result;
  UINT argErr = 99;
  EXPECT_EQ(Call("GetAppProperty", {device.Raw(), name.Raw(), value.Raw()}, result, argErr),
            DISP_E_TYPEMISMATCH);
  EXPECT_EQ(argErr, 0u);
  EXPECT_EQ(value.AsString(), "");
}

TEST_F(HostCallbackTest, OnlyMethodCallsWithPositionalArgumentsAreAccepted) {
  OleVariant result;
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  EXPECT_EQ(host_->Invoke(HostCallback::kDataEvent, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result.Raw(),
                          nullptr, nullptr),
            DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(host_->Invoke(99, IID_NULL, 0, DISPATCH_METHOD, &none, &result.Raw(), nullptr, nullptr),
            DISP_E_MEMBERNOTFOUND);
  OleVariant a("x");
  VARIANT args[4] = {a.Raw(), a.Raw(), a.Raw(), a.Raw()};
  DISPID named[1] = {0};
  DISPPARAMS withNamed{args, named, 4, 1};
  EXPECT_EQ(host_->Invoke(HostCallback::kDataEvent, IID_NULL, 0, DISPATCH_METHOD, &withNamed, &result.Raw(),
                          nullptr, nullptr),
            DISP_E_NONAMEDARGS);
  EXPECT_TRUE(lines_.empty());
}

TEST_F(HostCallbackTest, ReferencesKeepTheObjectAlive) {
  IDispatch* raw = nullptr;
  ASSERT_EQ(host_->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&raw)), S_OK);
  EXPECT_EQ(raw, host_.Get());
  EXPECT_EQ(raw->Release(), 1u);
  void* none = reinterpret_cast<void*>(1);
  EXPECT_EQ(host_->QueryInterface(IID_IClassFactory, &none), E_NOINTERFACE);
  EXPECT_EQ(none, nullptr);
}

}  // namespace
}  // namespace eqhost
