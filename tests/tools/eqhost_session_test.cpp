// The host program's requests and answers against a stand-in driver object.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/ole_variant.h"
#include "platform/reactor.h"
#include "platform/text.h"
#include "tests/platform/ole_test_support.h"
#include "tools/eqhost/host_callback.h"
#include "tools/eqhost/host_session.h"
#include "tools/eqhost/message_pump.h"

namespace eqhost {
namespace {

// A driver stand-in with one function-kind method, one procedure-kind method and one that fails.
class FakeDriver final : public ole_test::Counted<IDispatch> {
 public:
  HRESULT GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT GetIDsOfNames(REFIID, LPOLESTR* names, UINT, LCID, DISPID* ids) override {
    const std::string name = Utf16ToUtf8(names[0]);
    ids[0] = name == "Echo" ? 1 : name == "Proc" ? 2 : name == "Boom" ? 3 : DISPID_UNKNOWN;
    return ids[0] == DISPID_UNKNOWN ? E_NOTIMPL : S_OK;
  }
  HRESULT Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT* result, EXCEPINFO* info,
                 UINT*) override {
    ++calls;
    for (UINT i = 0; i < params->cArgs; ++i) {
      if (params->rgvarg[i].vt != (VT_BYREF | VT_VARIANT)) return DISP_E_TYPEMISMATCH;
    }
    VARIANT* first = params->cArgs > 0 ? params->rgvarg[params->cArgs - 1].pvarVal : nullptr;
    if (id == 1) {  // Echo(InData, OutData, Timeout): OutData := [InData, Timeout]
      if (params->cArgs != 3) return DISP_E_BADPARAMCOUNT;
      if (params->rgvarg[0].pvarVal->vt != VT_I4) return E_INVALIDARG;
      OleVariant out = OleVariant::VarArrayOf({OleVariant(*first), OleVariant(*params->rgvarg[0].pvarVal)});
      VariantClear(params->rgvarg[1].pvarVal);
      *params->rgvarg[1].pvarVal = out.Detach();
      *result = OleVariant(true).Detach();
      return S_OK;
    }
    if (id == 2) {  // Proc(a, b): b := "changed", result 7; remembers whether a was a dispatch
      if (params->cArgs != 2) return DISP_E_BADPARAMCOUNT;
      sawDispatch = first->vt == VT_DISPATCH ? first->pdispVal : nullptr;
      VariantClear(params->rgvarg[0].pvarVal);
      *params->rgvarg[0].pvarVal = OleVariant("changed").Detach();
      *result = OleVariant(std::int32_t{7}).Detach();
      return S_OK;
    }
    info->scode = 1001;
    info->bstrSource = BstrFromUtf8("EConvertError");
    info->bstrDescription = BstrFromUtf8("Ошибка");
    return DISP_E_EXCEPTION;
  }

  int calls = 0;
  IDispatch* sawDispatch = nullptr;
};

class HostSessionTest : public ::testing::Test {
 protected:
  HostSessionTest()
      : host_(HostCallback::Create({}, nullptr)),
        session_(ComPtr<IDispatch>(&driver_), ComPtr<IDispatch>(host_.Get()),
                 [this](int ms) { pumped_.push_back(ms); }) {}

  Json Answer(const char* line) {
    auto answer = session_.Handle(std::string_view(line));
    EXPECT_TRUE(answer.has_value()) << line;
    return answer.value_or(Json());
  }

  FakeDriver driver_;
  ComPtr<HostCallback> host_;
  HostSession session_;
  std::vector<int> pumped_;
};

TEST_F(HostSessionTest, FunctionKindCallsPassInDataOutDataAndTimeout) {
  const Json answer = Answer(R"({"call": "Echo", "in": [1, {"date": "2024-05-01T08:00:00"}], "timeout": 30})");
  EXPECT_EQ(answer, Json::parse(R"({"call":"Echo","result":true,"out":[[1,{"date":"2024-05-01T08:00:00"}],30]})"));
  EXPECT_EQ(answer.dump().rfind("{\"call\"", 0), 0u);  // the method name leads the line
}

TEST_F(HostSessionTest, FunctionKindDefaultsToEmptyInDataAndTimeoutZero) {
  EXPECT_EQ(Answer(R"({"call": "Echo"})"), Json::parse(R"({"call":"Echo","result":true,"out":[null,0]})"));
}

TEST_F(HostSessionTest, ATimeoutOfAnotherTypeReachesTheObjectAsThatType) {
  const Json answer = Answer(R"({"call": "Echo", "timeout": 30.0})");
  EXPECT_EQ(answer.at("hresult"), "0x80070057");
  EXPECT_EQ(answer.at("source"), "");
  EXPECT_EQ(answer.at("description"), "");
}

TEST_F(HostSessionTest, ProcedureKindAnswersTheArgumentsAfterTheCall) {
  const Json answer = Answer(R"({"call": "Proc", "args": [{"host": true}, "before"]})");
  EXPECT_EQ(answer, Json::parse(R"({"call":"Proc","result":7,"args":[{"host":true},"changed"]})"));
  EXPECT_EQ(driver_.sawDispatch, host_.Get());
}

TEST_F(HostSessionTest, AFailedInvokeIsAnsweredWithItsExceptionInfo) {
  EXPECT_EQ(Answer(R"({"call": "Boom", "args": []})"),
            Json::parse(R"({"call":"Boom","hresult":"0x80020009","source":"EConvertError","description":"Ошибка"})"));
}

TEST_F(HostSessionTest, AnUnknownNameIsAnsweredWithTheLookupResult) {
  const Json answer = Answer(R"({"call": "Nope", "in": null, "timeout": 0})");
  EXPECT_EQ(answer.at("hresult"), "0x80004001");
  EXPECT_EQ(driver_.calls, 0);
}

TEST_F(HostSessionTest, PumpRunsTheMessagesForTheGivenTime) {
  EXPECT_EQ(Answer(R"({"pump": 250})"), Json::parse(R"({"pumped":250})"));
  EXPECT_EQ(pumped_, std::vector<int>{250});
}

TEST_F(HostSessionTest, MalformedLinesAreAnsweredWithAnErrorAndNothingIsCalled) {
  const std::string deep = std::string(100000, '[') + std::string(100000, ']');
  const std::vector<std::string> lines = {"not json", "{\"call\": \"Echo\"", "[1, 2]", "\"Echo\"", "{}",
                           "\xFE\xFF not text", "{\"call\": \"Echo\", \"in\": \"\xC3(\"}",
                           "{\"call\": \"Echo\", \"in\": " + deep + "}",
                           "{\"call\": 5}", "{\"call\": \"Echo\", \"inn\": 1}",
                           "{\"call\": \"Proc\", \"args\": {\"a\": 1}}",
                           "{\"call\": \"Proc\", \"args\": [1], \"in\": 2}",
                           "{\"call\": \"Echo\", \"in\": {\"date\": \"yesterday\"}}",
                           "{\"call\": \"Proc\", \"args\": [{\"dims\": [[0, 1]], \"rows\": [1]}, 2]}",
                           "{\"pump\": -1}", "{\"pump\": 1.5}", "{\"pump\": 10, \"call\": \"Echo\"}"};
  for (const std::string& line : lines) {
    const Json answer = Answer(line.c_str());
    ASSERT_TRUE(answer.is_object()) << line.substr(0, 80);
    ASSERT_NO_THROW((void)answer.dump()) << "the answer must be printable";
    EXPECT_TRUE(answer.contains("error")) << line.substr(0, 80) << " -> " << answer.dump();
    EXPECT_EQ(answer.size(), 1u) << line.substr(0, 80);
  }
  EXPECT_EQ(driver_.calls, 0);
  EXPECT_TRUE(pumped_.empty());
  // ... and the session goes on.
  EXPECT_EQ(Answer(R"({"call": "Echo", "in": 1})").at("result"), true);
}

TEST_F(HostSessionTest, BlankLinesAreNotAnswered) {
  EXPECT_FALSE(session_.Handle(std::string_view("")).has_value());
  EXPECT_FALSE(session_.Handle(std::string_view("   \t\r")).has_value());
}

TEST_F(HostSessionTest, NoReferenceToTheObjectIsLeftBehind) {
  Answer(R"({"call": "Echo", "in": [1, 2]})");
  Answer(R"({"call": "Proc", "args": [{"host": true}, 1]})");
  EXPECT_EQ(driver_.RefCount(), 2u);  // the test's own and the session's
}

TEST(EqhostPump, AStreamOfMessagesIsPumpedInBoundedBatches) {
  int ran = 0;
  HWND window = AllocateHWnd([&ran](HWND self, UINT message, WPARAM, LPARAM) -> LRESULT {
    if (message == WM_USER && ++ran < 100000) PostMessage(self, WM_USER, 0, 0);  // each one posts the next
    return 0;
  });
  PostMessage(window, WM_USER, 0, 0);
  const int batch = PumpPending();
  EXPECT_EQ(batch, kPumpBatch);
  EXPECT_EQ(ran, batch);
  EXPECT_TRUE(WaitMessage(0));  // the rest waits for the next batch
  DeallocateHWnd(window);
}

}  // namespace
}  // namespace eqhost
