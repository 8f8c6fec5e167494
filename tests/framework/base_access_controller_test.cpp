// TBaseAC through IDispatch: shape checks (1004 before the inner operation), conversions, tables.
#include "framework/base_access_controller.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "framework/equipment_errors.h"
#include "tests/framework/test_support.h"

namespace {

using fwtest::CallFunction;
using fwtest::ErrorCodeOf;
using fwtest::ErrorTextOf;

// Records what each inner operation received; answers `answer`.
class RecordingAC : public TBaseAC {
 public:
  std::int32_t answer = 0;
  std::string answerText;  // the text an inner operation leaves
  std::string lastOp;
  int calls = 0;
  TStringList ids, cards;
  std::int32_t number = -1;  // load mode or mode
  std::int32_t timeout = -1;
  TDateTime start = -1, end = -1, when = -1;
  TDateTimeArray dates;
  OleVariant data;
  TCtrlParamsArray controllers;
  std::vector<TCtrlEvent> events;
  OleVariant status;

 protected:
  std::int32_t Seen(const char* op, std::int32_t t) {
    lastOp = op;
    ++calls;
    timeout = t;
    return answer;
  }
  std::int32_t DoGetControllers(std::int32_t t, TCtrlParamsArray& out, std::string&) override {
    out = controllers;
    return Seen("DoGetControllers", t);
  }
  std::int32_t DoSetDateTime(const TStringList& i, std::int32_t t, TDateTime d,
                             std::string&) override {
    ids = i;
    when = d;
    return Seen("DoSetDateTime", t);
  }
  std::int32_t DoSetMode(const TStringList& i, std::int32_t m, std::int32_t t,
                         std::string&) override {
    ids = i;
    number = m;
    return Seen("DoSetMode", t);
  }
  std::int32_t DoUploadTimeProfiles(const TStringList& i, std::int32_t m, const OleVariant& p,
                                    std::int32_t t, std::string&) override {
    ids = i;
    number = m;
    data = p;
    return Seen("DoUploadTimeProfiles", t);
  }
  std::int32_t DoUploadHolidays(const TStringList& i, std::int32_t m,
                                std::span<const TDateTime> d, std::int32_t t,
                                std::string&) override {
    ids = i;
    number = m;
    dates.assign(d.begin(), d.end());
    return Seen("DoUploadHolidays", t);
  }
  std::int32_t DoUploadCards(const TStringList& i, std::int32_t m, const OleVariant& c,
                             std::int32_t t, std::string&) override {
    ids = i;
    number = m;
    data = c;
    return Seen("DoUploadCards", t);
  }
  std::int32_t DoDeleteCards(const TStringList& i, const TStringList& c, std::int32_t t,
                             std::string&) override {
    ids = i;
    cards = c;
    return Seen("DoDeleteCards", t);
  }
  std::int32_t DoGetEvents(const TStringList& i, std::int32_t t, TDateTime s, TDateTime e,
                           TCtrlEvents& out, std::string& text) override {
    ids = i;
    start = s;
    end = e;
    text = answerText;
    for (const TCtrlEvent& ev : events) *out.Add() = ev;
    return Seen("DoGetEvents", t);
  }
  std::int32_t DoDeleteEvents(const TStringList& i, std::int32_t t, TDateTime s, TDateTime e,
                              std::string&) override {
    ids = i;
    start = s;
    end = e;
    return Seen("DoDeleteEvents", t);
  }
  std::int32_t DoGetStatus(const TStringList& i, std::int32_t t, OleVariant& s,
                           std::string&) override {
    ids = i;
    s = status;
    return Seen("DoGetStatus", t);
  }
};

OleVariant List(std::initializer_list<OleVariant> values) { return OleVariant::VarArrayOf(values); }
OleVariant I(std::int32_t v) { return OleVariant(v); }
OleVariant D(TDateTime v) { return OleVariant::FromDate(v); }
OleVariant Ids() { return List({OleVariant("1"), OleVariant("2")}); }

class AccessController : public ::testing::Test {
 protected:
  ComPtr<RecordingAC> ac = CreateComObject<RecordingAC>();
  IDispatch* dispatch = AsDispatch(ac.Get());

  // The call must answer 1004 with the table text and never reach the inner operation.
  void ExpectRejected(const char* method, const OleVariant& inData) {
    SCOPED_TRACE(method);
    const int before = ac->calls;
    auto r = CallFunction(dispatch, method, inData);
    ASSERT_EQ(r.hr, S_OK);
    EXPECT_FALSE(r.result.AsBoolean());
    EXPECT_EQ(ErrorCodeOf(r.outData), 1004);
    EXPECT_EQ(ErrorTextOf(r.outData), "Ошибка входных параметров команды");
    EXPECT_EQ(ac->calls, before);
  }
};

TEST_F(AccessController, RegistersElevenMethodsFromDispId20) {
  const char* names[] = {"GetControllers", "UploadTimeProfiles", "UploadHolidays", "UploadCards",
                         "DeleteCards",    "SetMode",            "GetEvents",      "DeleteEvents",
                         "GetStatus",      "GetDateTime",        "SetDateTime"};
  for (int i = 0; i < 11; ++i) EXPECT_EQ(fwtest::DispIdOf(dispatch, names[i]), 20 + i) << names[i];
  EXPECT_EQ(fwtest::DispIdOf(dispatch, "getevents"), 26);
  EXPECT_EQ(ac->DeviceInfo().EquipmentType, "AccessController");
}

TEST(AccessControllerBase, EveryWellFormedCallAnswers1003) {
  auto ac = CreateComObject<TBaseAC>();
  IDispatch* dispatch = AsDispatch(ac.Get());
  const std::pair<const char*, OleVariant> calls[] = {
      {"GetControllers", OleVariant()},
      {"UploadTimeProfiles", List({I(0), Ids(), List({})})},
      {"UploadHolidays", List({I(0), Ids(), List({})})},
      {"UploadCards", List({I(0), Ids(), List({})})},
      {"DeleteCards", List({Ids(), List({OleVariant("AB")})})},
      {"SetMode", List({Ids(), I(1)})},
      {"GetEvents", List({Ids(), D(1), D(2)})},
      {"DeleteEvents", List({Ids(), D(1), D(2)})},
      {"GetStatus", List({Ids()})},
      {"GetDateTime", OleVariant()},
      {"SetDateTime", List({Ids(), D(40000.5)})}};
  for (const auto& [method, in] : calls) {
    auto r = CallFunction(dispatch, method, in);
    ASSERT_EQ(r.hr, S_OK) << method;
    EXPECT_FALSE(r.result.AsBoolean()) << method;
    EXPECT_EQ(ErrorCodeOf(r.outData), 1003) << method;
    EXPECT_EQ(ErrorTextOf(r.outData), "Команда не поддерживаеся устройством") << method;
  }
}

// --- Shape checks --------------------------------------------------------------------------------

TEST_F(AccessController, UploadsCheckOrdinalModeAndArrays) {
  for (const char* m : {"UploadTimeProfiles", "UploadCards"}) {
    ExpectRejected(m, List({OleVariant("0"), Ids(), List({})}));
    ExpectRejected(m, List({OleVariant(1.0), Ids(), List({})}));
    ExpectRejected(m, List({I(0), OleVariant("1"), List({})}));
    ExpectRejected(m, List({I(0), Ids(), OleVariant()}));
    ExpectRejected(m, List({I(0), Ids()}));
    ExpectRejected(m, OleVariant("not an array"));
  }
}

TEST_F(AccessController, OrdinalLoadModeTypesAreAccepted) {
  for (const OleVariant& mode : {I(2), OleVariant::FromI2(2), OleVariant(true), OleVariant::FromInt64(2)}) {
    auto r = CallFunction(dispatch, "UploadCards", List({mode, Ids(), List({OleVariant("c")})}));
    EXPECT_TRUE(r.result.AsBoolean());
  }
  EXPECT_EQ(ac->lastOp, "DoUploadCards");
  EXPECT_EQ(ac->number, 2);
  EXPECT_EQ(ac->data.GetElement({0}).AsString(), "c");
}

TEST_F(AccessController, DeleteCardsGetStatusAndSetDateTimeCheckArrays) {
  ExpectRejected("DeleteCards", List({Ids(), OleVariant("AB")}));
  ExpectRejected("DeleteCards", List({OleVariant("1"), List({})}));
  ExpectRejected("GetStatus", List({OleVariant("1")}));
  ExpectRejected("GetStatus", OleVariant());
  ExpectRejected("SetDateTime", List({OleVariant("1"), D(40000)}));
}

TEST_F(AccessController, EventMethodsNeedRealDates) {
  for (const char* m : {"GetEvents", "DeleteEvents"}) {
    ExpectRejected(m, List({Ids(), OleVariant("01.01.2020"), D(2)}));
    ExpectRejected(m, List({Ids(), D(1), OleVariant(43000.0)}));
    ExpectRejected(m, List({Ids(), D(1)}));
    ExpectRejected(m, List({OleVariant("1"), D(1), D(2)}));
  }
}

TEST_F(AccessController, LowerBoundOneShiftsTheElements) {
  OleVariant in = OleVariant::VarArrayCreate({{1, 3}});
  in.PutElement({1}, Ids());
  in.PutElement({2}, D(1));
  in.PutElement({3}, D(2));
  ExpectRejected("GetEvents", in);
}

TEST_F(AccessController, ElementsByReferenceAreFollowed) {
  OleVariant ids = Ids();
  VARIANT ref;
  VariantInit(&ref);
  ref.vt = VT_VARIANT | VT_BYREF;
  ref.pvarVal = &ids.Raw();
  OleVariant in = OleVariant::VarArrayCreate({{0, 0}});
  SafeArrayPutVariant(in.Array(), 0, ref);
  auto r = CallFunction(dispatch, "GetStatus", in);
  EXPECT_TRUE(r.result.AsBoolean());
  EXPECT_EQ(ac->ids, (TStringList{"1", "2"}));
}

TEST_F(AccessController, InDataThatIsNotAnArrayGivesSetModeEmptyValues) {
  auto r = CallFunction(dispatch, "SetMode", OleVariant("x"));
  EXPECT_TRUE(r.result.AsBoolean());
  EXPECT_EQ(ac->lastOp, "DoSetMode");
  EXPECT_TRUE(ac->ids.empty());
  EXPECT_EQ(ac->number, 0);
}

// --- Conversions ---------------------------------------------------------------------------------

TEST_F(AccessController, IdentifiersBecomeTextsInOrderWithDuplicates) {
  auto r = CallFunction(dispatch, "SetMode", List({List({I(5), OleVariant("A"), I(5)}), OleVariant("3")}),
                        I(42));
  EXPECT_TRUE(r.result.AsBoolean());
  EXPECT_EQ(ac->ids, (TStringList{"5", "A", "5"}));
  EXPECT_EQ(ac->number, 3);
  EXPECT_EQ(ac->timeout, 42);
}

TEST_F(AccessController, TwoDimensionalIdentifierArrayIs1001) {
  OleVariant table = OleVariant::VarArrayCreate({{0, 1}, {0, 1}});
  auto r = CallFunction(dispatch, "GetStatus", List({table}));
  EXPECT_EQ(ErrorCodeOf(r.outData), 1001);
  EXPECT_EQ(ac->calls, 0);
}

TEST_F(AccessController, HolidaysArePassedInOrderWhateverTheLowerBound) {
  auto r = CallFunction(dispatch, "UploadHolidays", List({I(1), Ids(), List({})}));
  EXPECT_TRUE(r.result.AsBoolean());
  EXPECT_TRUE(ac->dates.empty());
  OleVariant dates = OleVariant::VarArrayCreate({{3, 5}});
  dates.PutElement({3}, D(100));
  dates.PutElement({4}, OleVariant("02.01.1900"));
  dates.PutElement({5}, OleVariant(300.0));
  r = CallFunction(dispatch, "UploadHolidays", List({I(1), Ids(), dates}));
  EXPECT_TRUE(r.result.AsBoolean());
  EXPECT_EQ(ac->dates, (TDateTimeArray{100, 3, 300}));
}

TEST_F(AccessController, HolidaysThatAreNotAnArrayAre1001) {
  auto r = CallFunction(dispatch, "UploadHolidays", List({I(1), Ids(), D(5)}));
  EXPECT_EQ(ErrorCodeOf(r.outData), 1001);
  EXPECT_FALSE(ErrorTextOf(r.outData).empty());
  EXPECT_EQ(ac->calls, 0);
}

TEST_F(AccessController, SetDateTimeConvertsAndRefusesAMissingDate) {
  auto r = CallFunction(dispatch, "SetDateTime", List({Ids(), OleVariant("05.06.2021 10:20:30")}));
  EXPECT_TRUE(r.result.AsBoolean());
  EXPECT_NEAR(ac->when, 44352.430902777778, 1e-6);
  ExpectRejected("SetDateTime", List({Ids(), OleVariant()}));
  ExpectRejected("SetDateTime", List({Ids()}));
  r = CallFunction(dispatch, "SetDateTime", List({Ids(), OleVariant::Null()}));
  EXPECT_EQ(ErrorCodeOf(r.outData), 1001);
}

TEST_F(AccessController, InnerCodeAndTextTravelBack) {
  ac->answer = 4501;
  ac->answerText = "нет ответа от контроллера 2";
  auto r = CallFunction(dispatch, "GetEvents", List({Ids(), D(1), D(2)}));
  EXPECT_FALSE(r.result.AsBoolean());
  EXPECT_EQ(ErrorCodeOf(r.outData), 4501);
  EXPECT_EQ(ErrorTextOf(r.outData), "нет ответа от контроллера 2");
  EXPECT_EQ(ac->start, 1);
  EXPECT_EQ(ac->end, 2);
  ac->answerText.clear();  // an inner operation with nothing to say gets the table's text
  r = CallFunction(dispatch, "GetEvents", List({Ids(), D(1), D(2)}));
  EXPECT_EQ(ErrorTextOf(r.outData), ErrorText(4501));
}

TEST_F(AccessController, GetDateTimeIsAlways1003) {
  for (const OleVariant& in : {OleVariant(), List({Ids(), D(1)}), OleVariant("x")}) {
    auto r = CallFunction(dispatch, "GetDateTime", in);
    EXPECT_EQ(ErrorCodeOf(r.outData), 1003);
  }
  EXPECT_EQ(ac->calls, 0);
}

// --- Tables --------------------------------------------------------------------------------------

TEST_F(AccessController, NoControllersGiveAnEmptyFourFieldTable) {
  auto r = CallFunction(dispatch, "GetControllers");
  ASSERT_TRUE(r.result.AsBoolean());
  ASSERT_EQ(r.outData.DimCount(), 1);
  EXPECT_EQ(r.outData.HighBound(1), 0);
  OleVariant table = r.outData.GetElement({0});
  ASSERT_EQ(table.DimCount(), 2);
  EXPECT_EQ(table.HighBound(1), 3);
  EXPECT_EQ(table.LowBound(2), 0);
  EXPECT_EQ(table.HighBound(2), -1);
}

TEST_F(AccessController, ControllerTableIsFieldByController) {
  ac->controllers = {{"10", "Вход", true, false}, {"11", "Выход", false, true}};
  auto r = CallFunction(dispatch, "GetControllers");
  OleVariant table = r.outData.GetElement({0});
  EXPECT_EQ(table.HighBound(2), 1);
  EXPECT_EQ(table.GetElement({0, 1}).AsString(), "11");
  EXPECT_EQ(table.GetElement({1, 0}).AsString(), "Вход");
  EXPECT_EQ(table.GetElement({2, 0}).Type(), VT_BOOL);
  EXPECT_EQ(table.GetElement({2, 0}).Raw().boolVal, VARIANT_TRUE);
  EXPECT_EQ(table.GetElement({3, 0}).Raw().boolVal, VARIANT_FALSE);
}

TEST_F(AccessController, EventTableIsFieldByEvent) {
  auto r = CallFunction(dispatch, "GetEvents", List({Ids(), D(1), D(2)}));
  EXPECT_EQ(r.outData.GetElement({0}).HighBound(1), 4);
  EXPECT_EQ(r.outData.GetElement({0}).HighBound(2), -1);
  ac->events = {{"7", 44000.25, "Проход", "00AB", "Вход разрешен"}};
  r = CallFunction(dispatch, "GetEvents", List({Ids(), D(1), D(2)}));
  OleVariant table = r.outData.GetElement({0});
  EXPECT_EQ(table.GetElement({1, 0}).Type(), VT_DATE);
  EXPECT_DOUBLE_EQ(table.GetElement({1, 0}).AsDouble(), 44000.25);
  EXPECT_EQ(table.GetElement({4, 0}).AsString(), "Вход разрешен");
}

TEST_F(AccessController, FailedCallsWriteNoTable) {
  ac->answer = 1009;
  ac->controllers = {{"1", "n", false, false}};
  auto r = CallFunction(dispatch, "GetControllers");
  EXPECT_EQ(r.outData.HighBound(1), 1);  // [code, text], not a table
  EXPECT_EQ(ErrorTextOf(r.outData), "Устройство занято");
}

TEST_F(AccessController, StatusIsWrappedUnchanged) {
  ac->status = List({OleVariant("s")});
  auto r = CallFunction(dispatch, "GetStatus", List({Ids()}));
  EXPECT_EQ(r.outData.HighBound(1), 0);
  EXPECT_EQ(r.outData.GetElement({0}).GetElement({0}).AsString(), "s");
  r = CallFunction(dispatch, "UploadCards", List({I(0), Ids(), List({})}));
  EXPECT_TRUE(r.outData.IsEmpty());
}

TEST(CtrlEvents, OwnsItsItemsAndAnswersNullOutsideTheList) {
  TCtrlEvents events;
  TCtrlEvent* first = events.Add();
  EXPECT_EQ(first->EventTime, 0);
  EXPECT_TRUE(first->ID.empty());
  events.Add()->ID = "2";
  EXPECT_EQ(events.Count(), 2);
  EXPECT_EQ(events.Get(1)->ID, "2");
  EXPECT_EQ(events.Get(2), nullptr);
  EXPECT_EQ(events.Get(-1), nullptr);
  events.Delete(0);
  EXPECT_EQ(events.Get(0)->ID, "2");
}

}  // namespace
