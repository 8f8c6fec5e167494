// The late-bound dispatch of TBaseObject, driven exactly as a host drives it.
#include <gtest/gtest.h>

#include <string>

#include "framework/com_support.h"
#include "framework/equipment_errors.h"
#include "platform/exceptions.h"
#include "platform/text.h"
#include "tests/framework/test_support.h"

namespace {

using fwtest::HostCall;

// A dispatch object with one procedure and one function whose behaviour each test sets.
class TestObject : public TBaseObject {
 public:
  TFunctionHandler function;
  TProcedureHandler procedure;
  int functionCalls = 0;
  int procedureCalls = 0;
  bool* destroyedLate = nullptr;   // set by the teardown, read after destruction
  std::string teardownSawName;

 protected:
  void Initialize() override {
    TBaseObject::Initialize();
    FMethods.resize(10);
    AddProcedure("Proc", [this](SAFEARRAY* args, OleVariant& result) {
      ++procedureCalls;
      if (procedure) procedure(args, result);
    });
    AddFunction("Func", [this](OleVariant& in, OleVariant& out, std::int32_t t, std::string& e) {
      ++functionCalls;
      return function ? function(in, out, t, e) : 0;
    });
    AddFunction("GetEvents", [](OleVariant&, OleVariant&, std::int32_t, std::string&) { return 0; });
    AddFunction("Func", [](OleVariant&, OleVariant&, std::int32_t, std::string&) { return 77; });
  }
  void BeforeDestruction() noexcept override {
    teardownSawName = Methods()[10].Name;  // the derived object is still whole here
    if (destroyedLate) *destroyedLate = true;
  }
};

constexpr DISPID kProc = 10;
constexpr DISPID kFunc = 11;

class Dispatch : public ::testing::Test {
 protected:
  ComPtr<TestObject> object = CreateComObject<TestObject>();
  IDispatch* dispatch = AsDispatch(object.Get());
};

// --- Names and DispIDs ---------------------------------------------------------------------------

TEST_F(Dispatch, NamesAreFoundWithoutRegardToCaseFirstMatchWinning) {
  EXPECT_EQ(fwtest::DispIdOf(dispatch, "Proc"), kProc);
  EXPECT_EQ(fwtest::DispIdOf(dispatch, "fUNC"), kFunc);
  EXPECT_EQ(fwtest::DispIdOf(dispatch, "GETEVENTS"), 12);
  HRESULT hr = S_OK;
  EXPECT_EQ(fwtest::DispIdOf(dispatch, "GetEvent", &hr), DISPID_UNKNOWN);
  EXPECT_EQ(hr, E_NOTIMPL);
  EXPECT_EQ(fwtest::DispIdOf(dispatch, "", &hr), 0);  // the first placeholder
  EXPECT_EQ(hr, S_OK);
}

TEST_F(Dispatch, OnlyTheFirstNameIsLookedUpAndWritten) {
  std::u16string method = u"Func", named = u"Proc";
  LPOLESTR names[2] = {method.data(), named.data()};
  DISPID ids[2] = {-7, -7};
  EXPECT_EQ(dispatch->GetIDsOfNames(IID_NULL, names, 2, 0, ids), S_OK);
  EXPECT_EQ(ids[0], kFunc);
  EXPECT_EQ(ids[1], -7);
}

TEST_F(Dispatch, BadNameArgumentsAreRefused) {
  std::u16string method = u"Func";
  LPOLESTR names[1] = {method.data()};
  DISPID id = 5;
  EXPECT_EQ(dispatch->GetIDsOfNames(IID_NULL, names, 0, 0, &id), E_INVALIDARG);
  EXPECT_EQ(dispatch->GetIDsOfNames(IID_NULL, nullptr, 1, 0, &id), E_POINTER);
  EXPECT_EQ(dispatch->GetIDsOfNames(IID_NULL, names, 1, 0, nullptr), E_POINTER);
  LPOLESTR nullName[1] = {nullptr};
  EXPECT_EQ(dispatch->GetIDsOfNames(IID_NULL, nullName, 1, 0, &id), E_POINTER);
  UINT count = 9;
  EXPECT_EQ(dispatch->GetTypeInfoCount(&count), S_OK);
  EXPECT_EQ(count, 0u);
  ITypeInfo* info = nullptr;
  EXPECT_EQ(dispatch->GetTypeInfo(0, 0, &info), E_NOTIMPL);
}

// --- Flags and DispIDs that name no method -------------------------------------------------------

TEST_F(Dispatch, PropertyGetAloneIsRefusedMethodWithPropertyGetRuns) {
  HostCall get;
  get.Arg(OleVariant(std::int32_t{1}));
  EXPECT_EQ(get.Invoke(dispatch, kProc, DISPATCH_PROPERTYGET), E_FAIL);
  EXPECT_EQ(object->procedureCalls, 0);
  HostCall both;
  EXPECT_EQ(both.Invoke(dispatch, kProc, DISPATCH_METHOD | DISPATCH_PROPERTYGET), S_OK);
  EXPECT_EQ(object->procedureCalls, 1);
}

TEST_F(Dispatch, DispIdsWithoutAHandlerAnswerFailAndTouchNothing) {
  for (DISPID id : {0, 5, 9, -1, -100000, 14, 31, 99999, 100000, 0x7fffffff}) {
    HostCall call;
    call.Arg(OleVariant("keep")).RefVariant(OleVariant(std::int32_t{3})).Arg(OleVariant(std::int32_t{1}));
    EXPECT_EQ(call.Invoke(dispatch, id), E_FAIL) << id;
    EXPECT_EQ(call.Value(0).AsString(), "keep");
    EXPECT_EQ(call.Value(1).AsInteger(), 3);
    EXPECT_TRUE(call.Result().IsEmpty());
  }
}

TEST_F(Dispatch, NullArgumentListWithACountIsRefused) {
  DISPPARAMS params{nullptr, nullptr, 2, 0};
  EXPECT_EQ(dispatch->Invoke(kProc, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr),
            E_POINTER);
  EXPECT_EQ(dispatch->Invoke(kProc, IID_NULL, 0, DISPATCH_METHOD, nullptr, nullptr, nullptr, nullptr),
            S_OK);  // no DISPPARAMS at all: no arguments
}

// --- Timeout types -------------------------------------------------------------------------------

class TimeoutTypes : public Dispatch, public ::testing::WithParamInterface<std::pair<OleVariant, int>> {};

TEST_P(TimeoutTypes, OrdinalTimeoutsRunWithTheirValue) {
  int seen = -999;
  object->function = [&](OleVariant&, OleVariant&, std::int32_t t, std::string&) {
    seen = t;
    return 0;
  };
  HostCall call;
  call.Arg(OleVariant()).RefVariant().Arg(GetParam().first);
  EXPECT_EQ(call.Invoke(dispatch, kFunc), S_OK);
  EXPECT_EQ(seen, GetParam().second);
  EXPECT_TRUE(call.Result().AsBoolean());
}

INSTANTIATE_TEST_SUITE_P(Dispatch, TimeoutTypes,
                         ::testing::Values(std::make_pair(OleVariant(std::int32_t{30}), 30),
                                           std::make_pair(OleVariant::FromI2(30), 30),
                                           std::make_pair(OleVariant(true), -1),
                                           std::make_pair(OleVariant::FromInt64(0), 0)));

TEST_F(Dispatch, NonOrdinalOrMissingTimeoutIsRefusedWithoutWriteBack) {
  for (const OleVariant& timeout : {OleVariant(30.0), OleVariant("30"), OleVariant::Null()}) {
    HostCall call;
    call.Arg(OleVariant("in")).RefVariant(OleVariant("host out")).Arg(timeout);
    EXPECT_EQ(call.Invoke(dispatch, kFunc), E_INVALIDARG);
    EXPECT_EQ(call.Value(1).AsString(), "host out");
    EXPECT_TRUE(call.Result().IsEmpty());
  }
  HostCall missing;
  missing.Arg(OleVariant("in")).RefVariant(OleVariant(std::int32_t{4}));
  EXPECT_EQ(missing.Invoke(dispatch, kFunc), E_INVALIDARG);
  EXPECT_EQ(missing.Value(1).AsInteger(), 4);
  EXPECT_EQ(object->functionCalls, 0);
}

TEST_F(Dispatch, TimeoutByReferenceIsReadThroughTheReference) {
  int seen = 0;
  object->function = [&](OleVariant&, OleVariant&, std::int32_t t, std::string&) {
    seen = t;
    return 0;
  };
  HostCall call;
  call.Arg(OleVariant()).RefVariant().RefTyped(VT_I2, OleVariant(std::int32_t{15}));
  EXPECT_EQ(call.Invoke(dispatch, kFunc), S_OK);
  EXPECT_EQ(seen, 15);
}

// --- Function kind: OutData and [code, text] -------------------------------------------------------

TEST_F(Dispatch, HandlerStartsWithEmptyOutDataAndSuccessIsTrue) {
  bool outWasEmpty = false;
  object->function = [&](OleVariant&, OleVariant& out, std::int32_t, std::string&) {
    outWasEmpty = out.IsEmpty();
    out = OleVariant("answer");
    return 0;
  };
  HostCall call;
  call.Arg(OleVariant()).RefVariant(OleVariant("old")).Arg(OleVariant(std::int32_t{0}));
  ASSERT_EQ(call.Invoke(dispatch, kFunc), S_OK);
  EXPECT_TRUE(outWasEmpty);
  EXPECT_EQ(call.Result().Type(), VT_BOOL);
  EXPECT_TRUE(call.Result().AsBoolean());
  EXPECT_EQ(call.Value(1).AsString(), "answer");
}

TEST_F(Dispatch, FailureCodeWithoutTextGivesTheTableText) {
  object->function = [](OleVariant&, OleVariant& out, std::int32_t, std::string&) {
    out = OleVariant("discarded");
    return 1004;
  };
  auto r = fwtest::CallFunction(dispatch, "Func");
  ASSERT_EQ(r.hr, S_OK);
  EXPECT_FALSE(r.result.AsBoolean());
  EXPECT_EQ(fwtest::ErrorCodeOf(r.outData), 1004);
  EXPECT_EQ(fwtest::ErrorTextOf(r.outData), "Ошибка входных параметров команды");
  EXPECT_EQ(r.outData.GetElement({0}).Type(), VT_I4);
  EXPECT_EQ(r.outData.GetElement({1}).Type(), VT_BSTR);
}

TEST_F(Dispatch, FailureCodeKeepsTheHandlersOwnText) {
  object->function = [](OleVariant&, OleVariant&, std::int32_t, std::string& e) {
    e = "причина";
    return 1004;
  };
  auto r = fwtest::CallFunction(dispatch, "Func");
  EXPECT_EQ(fwtest::ErrorCodeOf(r.outData), 1004);
  EXPECT_EQ(fwtest::ErrorTextOf(r.outData), "причина");
}

TEST_F(Dispatch, HandlerExceptionBecomesCode1001WithItsMessage) {
  object->function = [](OleVariant&, OleVariant&, std::int32_t, std::string&) -> std::int32_t {
    throw EConvertError("не число");
  };
  auto r = fwtest::CallFunction(dispatch, "Func");
  EXPECT_EQ(r.hr, S_OK);
  EXPECT_FALSE(r.result.AsBoolean());
  EXPECT_EQ(fwtest::ErrorCodeOf(r.outData), 1001);
  EXPECT_EQ(fwtest::ErrorTextOf(r.outData), "не число");

  object->function = [](OleVariant&, OleVariant&, std::int32_t, std::string&) -> std::int32_t {
    throw 42;
  };
  r = fwtest::CallFunction(dispatch, "Func");
  EXPECT_EQ(fwtest::ErrorCodeOf(r.outData), 1001);
  EXPECT_EQ(fwtest::ErrorTextOf(r.outData), ErrorText(1001));
}

TEST_F(Dispatch, TimeoutThatDoesNotFitIs1001) {
  auto r = fwtest::CallFunction(dispatch, "Func", OleVariant(), OleVariant::FromInt64(1LL << 40));
  EXPECT_EQ(r.hr, S_OK);
  EXPECT_EQ(fwtest::ErrorCodeOf(r.outData), 1001);
  EXPECT_EQ(object->functionCalls, 0);
}

TEST_F(Dispatch, FourthArgumentIsNeitherGivenNorChanged) {
  object->function = [](OleVariant& in, OleVariant&, std::int32_t, std::string&) {
    in = OleVariant("changed by the handler");
    return 0;
  };
  HostCall call;
  call.Arg(OleVariant("in")).RefVariant().Arg(OleVariant(std::int32_t{0}))
      .RefVariant(OleVariant("fourth"));
  ASSERT_EQ(call.Invoke(dispatch, kFunc), S_OK);
  EXPECT_EQ(call.Value(3).AsString(), "fourth");
  EXPECT_EQ(call.Value(0).AsString(), "in");  // element 0 goes back as the host gave it
}

// --- Write-back ------------------------------------------------------------------------------------

TEST_F(Dispatch, ByReferenceI2InDataComesBackAsI2) {
  OleVariant seenType;
  object->function = [&](OleVariant& in, OleVariant&, std::int32_t, std::string&) {
    seenType = OleVariant(std::int32_t(in.Type()));
    return 0;
  };
  HostCall call;
  call.RefTyped(VT_I2, OleVariant(std::int32_t{-5})).RefVariant().Arg(OleVariant(std::int32_t{0}));
  ASSERT_EQ(call.Invoke(dispatch, kFunc), S_OK);
  EXPECT_EQ(seenType.AsInteger(), VT_I4);  // the handler sees an I4
  EXPECT_EQ(call.Slot(0).vt, VT_I2 | VT_BYREF);
  EXPECT_EQ(*call.Slot(0).piVal, -5);
}

TEST_F(Dispatch, ProcedureWritesBackByValueAndByReference) {
  object->procedure = [](SAFEARRAY* args, OleVariant& result) {
    SafeArrayPutVariant(args, 0, OleVariant("new 0").Raw());
    SafeArrayPutVariant(args, 1, OleVariant(std::int32_t{77}).Raw());
    SafeArrayPutVariant(args, 2, OleVariant(true).Raw());
    result = OleVariant(std::int32_t{5});
  };
  HostCall call;
  call.Arg(OleVariant(std::int32_t{1})).RefVariant(OleVariant("x")).RefTyped(VT_BSTR, OleVariant("y"));
  ASSERT_EQ(call.Invoke(dispatch, kProc), S_OK);
  EXPECT_EQ(call.Slot(0).vt, VT_BSTR);  // by value: overwritten in place
  EXPECT_EQ(call.Value(0).AsString(), "new 0");
  EXPECT_EQ(call.Value(1).AsInteger(), 77);
  EXPECT_EQ(call.Slot(2).vt, VT_BSTR | VT_BYREF);
  EXPECT_EQ(call.Value(2).AsString(), "True");
  EXPECT_EQ(call.Result().AsInteger(), 5);
}

TEST_F(Dispatch, ProcedureSeesDereferencedArgumentsWithI2AsI4) {
  VARTYPE types[3] = {};
  object->procedure = [&](SAFEARRAY* args, OleVariant&) {
    for (LONG i = 0; i < 3; ++i) {
      OleVariant v = SafeArrayElementAsVariant(args, &i);
      types[i] = v.Type();
    }
  };
  OleVariant shortArray = OleVariant::VarArrayCreate({{0, 0}}, VT_I2);
  HostCall call;
  call.Arg(OleVariant::FromI2(3)).RefTyped(VT_BSTR, OleVariant("s")).Arg(shortArray);
  ASSERT_EQ(call.Invoke(dispatch, kProc), S_OK);
  EXPECT_EQ(types[0], VT_I4);
  EXPECT_EQ(types[1], VT_BSTR);
  EXPECT_EQ(types[2], VT_ARRAY | VT_I2);  // arrays are left as they are
}

TEST_F(Dispatch, NullReferencesReadAsEmptyAndAreNotWrittenBack) {
  bool sawEmpty = false;
  object->procedure = [&](SAFEARRAY* args, OleVariant&) {
    LONG i = 0;
    sawEmpty = SafeArrayElementAsVariant(args, &i).IsEmpty();
    SafeArrayPutVariant(args, 0, OleVariant(std::int32_t{1}).Raw());
  };
  VARIANT nullRef;
  VariantInit(&nullRef);
  nullRef.vt = VT_I4 | VT_BYREF;
  HostCall call;
  call.Raw(nullRef);
  ASSERT_EQ(call.Invoke(dispatch, kProc), S_OK);
  EXPECT_TRUE(sawEmpty);
  EXPECT_EQ(call.Slot(0).vt, VT_I4 | VT_BYREF);
  EXPECT_EQ(call.Slot(0).plVal, nullptr);
}

TEST_F(Dispatch, ResultIsStoredOnlyWhenAsked) {
  object->procedure = [](SAFEARRAY*, OleVariant& result) { result = OleVariant("r"); };
  HostCall call;
  EXPECT_EQ(call.Invoke(dispatch, kProc, DISPATCH_METHOD, /*wantResult=*/false), S_OK);
  EXPECT_TRUE(call.Result().IsEmpty());
}

// --- Exceptions ----------------------------------------------------------------------------------

TEST_F(Dispatch, ProcedureExceptionIsADispatchExceptionWithoutWriteBack) {
  object->procedure = [](SAFEARRAY* args, OleVariant&) {
    SafeArrayPutVariant(args, 0, OleVariant("changed").Raw());
    throw EConvertError("сбой");
  };
  HostCall call;
  call.RefVariant(OleVariant("orig"));
  EXPECT_EQ(call.Invoke(dispatch, kProc), DISP_E_EXCEPTION);
  EXPECT_EQ(call.Excep().scode, 1001);
  EXPECT_EQ(call.ExcepDescription(), "сбой");
  EXPECT_EQ(call.ExcepSource(), "EConvertError");
  EXPECT_EQ(call.Value(0).AsString(), "orig");
  EXPECT_TRUE(call.Result().IsEmpty());
}

TEST_F(Dispatch, FailedCopyBackIsADispatchExceptionNotACrash) {
  object->procedure = [](SAFEARRAY* args, OleVariant&) {
    SafeArrayPutVariant(args, 0, OleVariant("not a number").Raw());
  };
  HostCall call;
  call.RefTyped(VT_I4, OleVariant(std::int32_t{8}));
  EXPECT_EQ(call.Invoke(dispatch, kProc), DISP_E_EXCEPTION);
  EXPECT_EQ(call.Excep().scode, 1001);
  EXPECT_FALSE(call.ExcepDescription().empty());
  EXPECT_EQ(*call.Slot(0).plVal, 8);
}

TEST_F(Dispatch, ExceptionWithoutExcepInfoStillAnswers) {
  object->procedure = [](SAFEARRAY*, OleVariant&) { throw Exception("x"); };
  DISPPARAMS params{nullptr, nullptr, 0, 0};
  EXPECT_EQ(dispatch->Invoke(kProc, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr),
            DISP_E_EXCEPTION);
  object->procedure = [](SAFEARRAY*, OleVariant&) { throw 42; };
  HostCall call;
  EXPECT_EQ(call.Invoke(dispatch, kProc), DISP_E_EXCEPTION);
  EXPECT_EQ(call.Excep().scode, 1001);
  EXPECT_EQ(call.ExcepDescription(), ErrorText(1001));
  EXPECT_FALSE(call.ExcepSource().empty());
}

// --- Object life ---------------------------------------------------------------------------------

TEST(ComObject, InterfacesAndReferenceCount) {
  auto object = CreateComObject<TestObject>();
  EXPECT_EQ(object->RefCount(), 1u);
  void* p = nullptr;
  ASSERT_EQ(object->QueryInterface(IID_IDispatch, &p), S_OK);
  EXPECT_EQ(p, AsDispatch(object.Get()));
  EXPECT_EQ(object->RefCount(), 2u);
  static_cast<IDispatch*>(p)->Release();
  ASSERT_EQ(object->QueryInterface(IID_ISupportErrorInfo, &p), S_OK);
  auto* errorInfo = static_cast<ISupportErrorInfo*>(p);
  EXPECT_EQ(errorInfo->InterfaceSupportsErrorInfo(IID_IDispatch), S_OK);
  EXPECT_EQ(errorInfo->InterfaceSupportsErrorInfo(IID_IClassFactory), S_FALSE);
  errorInfo->Release();
  EXPECT_EQ(object->QueryInterface(IID_IClassFactory, &p), E_NOINTERFACE);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(object->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
  EXPECT_EQ(object->RefCount(), 1u);
  EXPECT_EQ(object->InstanceID().size(), 38u);
}

TEST(ComObject, TeardownRunsOnTheWholeObjectBeforeDestruction) {
  const long before = TComObject::ObjectCount();
  bool tornDown = false;
  {
    auto object = CreateComObject<TestObject>();
    object->destroyedLate = &tornDown;
    EXPECT_EQ(TComObject::ObjectCount(), before + 1);
  }
  EXPECT_TRUE(tornDown);
  EXPECT_EQ(TComObject::ObjectCount(), before);
}

TEST(ComObject, HostReleasingTheObjectInsideACallDoesNotFreeItUnderTheCall) {
  bool tornDown = false;
  auto object = CreateComObject<TestObject>();
  object->destroyedLate = &tornDown;
  TestObject* raw = object.Detach();  // the host's only reference
  bool aliveInside = false;
  raw->procedure = [&](SAFEARRAY*, OleVariant& result) {
    raw->Release();  // the host lets go while the call runs
    aliveInside = !tornDown;
    result = OleVariant(std::int32_t(raw->Methods().size()));
  };
  HostCall call;
  EXPECT_EQ(call.Invoke(AsDispatch(raw), kProc), S_OK);
  EXPECT_TRUE(aliveInside);
  EXPECT_EQ(call.Result().AsInteger(), 14);
  EXPECT_TRUE(tornDown);  // freed once the call was over
}

class ThrowingInit : public TBaseObject {
 protected:
  void Initialize() override { throw Exception("init failed"); }
};

TEST(ComObject, FailedInitializeDestroysTheObject) {
  const long before = TComObject::ObjectCount();
  EXPECT_THROW(CreateComObject<ThrowingInit>(), Exception);
  EXPECT_EQ(TComObject::ObjectCount(), before);
}

}  // namespace
