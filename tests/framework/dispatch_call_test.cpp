// Outgoing late-bound calls on another object's IDispatch.
#include "platform/dispatch_call.h"

#include <gtest/gtest.h>

#include "platform/exceptions.h"
#include "platform/text.h"
#include "tests/framework/test_support.h"

namespace {

using fwtest::FakeHost;

TEST(DispatchMethod, SendsArgumentsInCallOrderAndAnswersTheValue) {
  FakeHost host;
  host.eventAnswer = false;
  const OleVariant a("one"), b(std::int32_t{2}), c(true), d(1.5);
  const VARIANT args[] = {a.Raw(), b.Raw(), c.Raw(), d.Raw()};
  const OleVariant result = DispatchMethod(&host, "ErrorEvent", args);
  EXPECT_EQ(result.Type(), VT_BOOL);
  EXPECT_FALSE(result.AsBoolean());
  ASSERT_EQ(host.calls.size(), 1u);
  EXPECT_EQ(host.calls[0].types, (std::vector<VARTYPE>{VT_BSTR, VT_I4, VT_BOOL, VT_R8}));
  EXPECT_EQ(host.calls[0].args[0].AsString(), "one");
  EXPECT_EQ(a.AsString(), "one");  // the caller's values are untouched
}

TEST(DispatchMethod, ByReferenceArgumentReachesTheCallersVariable) {
  FakeHost host;
  host.properties["Language"] = {true, "ru"};
  BSTR value = nullptr;
  VARIANT ref;
  VariantInit(&ref);
  ref.vt = VT_BSTR | VT_BYREF;
  ref.pbstrVal = &value;
  const OleVariant id(""), name("Language");
  const VARIANT args[] = {id.Raw(), name.Raw(), ref};
  EXPECT_TRUE(DispatchMethod(&host, "GetAppProperty", args).AsBoolean());
  EXPECT_EQ(BstrToUtf8(value), "ru");
  SysFreeString(value);
}

TEST(DispatchMethod, FailuresBecomeOleExceptionsWithTheCalleesText) {
  FakeHost host;
  EXPECT_THROW(DispatchMethod(nullptr, "DataEvent", {}), EOleException);
  try {
    DispatchMethod(&host, "NoSuchMethod", {});
    FAIL() << "no error";
  } catch (const EOleException& e) {
    EXPECT_NE(std::string(e.what()).find("NoSuchMethod"), std::string::npos);
  }
  host.failure = DISP_E_EXCEPTION;
  host.failureText = "отказ хоста";
  try {
    DispatchMethod(&host, "DataEvent", {});
    FAIL() << "no error";
  } catch (const EOleException& e) {
    EXPECT_STREQ(e.what(), "отказ хоста");
  }
  host.failure = DISP_E_BADPARAMCOUNT;
  try {
    DispatchMethod(&host, "DataEvent", {});
    FAIL() << "no error";
  } catch (const EOleException& e) {
    EXPECT_NE(std::string(e.what()).find("0x8002000E"), std::string::npos);
  }
  EXPECT_EQ(host.RefCount(), 1u);
}

}  // namespace
