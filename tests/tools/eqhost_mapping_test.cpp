// The host program's JSON <-> VARIANT mapping, both ways.
#include <gtest/gtest.h>

#include <string>

#include "platform/exceptions.h"
#include "platform/ole_variant.h"
#include "platform/text.h"
#include "tools/eqhost/host_callback.h"
#include "tools/eqhost/json_variant.h"

namespace eqhost {
namespace {

OleVariant ToVariant(const char* json, IDispatch* host = nullptr) {
  return JsonToVariant(Json::parse(json), host);
}

Json RoundTrip(const char* json) {
  const OleVariant v = ToVariant(json);
  return VariantToJson(v.Raw(), nullptr);
}

TEST(EqhostMappingScalars, JsonValuesBecomeTheirVariantTypes) {
  EXPECT_EQ(ToVariant("null").Type(), VT_EMPTY);
  EXPECT_EQ(ToVariant("true").Type(), VT_BOOL);
  EXPECT_EQ(ToVariant("true").Raw().boolVal, VARIANT_TRUE);
  EXPECT_EQ(ToVariant("false").Raw().boolVal, VARIANT_FALSE);
  EXPECT_EQ(ToVariant("-7").Type(), VT_I4);
  EXPECT_EQ(ToVariant("-7").Raw().lVal, -7);
  EXPECT_EQ(ToVariant("2147483647").Raw().lVal, 2147483647);
  EXPECT_EQ(ToVariant("-2147483648").Raw().lVal, -2147483647 - 1);
  EXPECT_EQ(ToVariant("30.0").Type(), VT_R8);
  EXPECT_DOUBLE_EQ(ToVariant("2.5").Raw().dblVal, 2.5);
  EXPECT_EQ(ToVariant("4294967295").Type(), VT_R8);  // integers outside 32 bits
  EXPECT_DOUBLE_EQ(ToVariant("4294967295").Raw().dblVal, 4294967295.0);
  EXPECT_EQ(ToVariant("-2147483649").Type(), VT_R8);
  const OleVariant text = ToVariant("\"Нормальный вход\"");
  ASSERT_EQ(text.Type(), VT_BSTR);
  EXPECT_EQ(BstrToUtf8(text.Raw().bstrVal), "Нормальный вход");
  EXPECT_EQ(SysStringLen(text.Raw().bstrVal), 15u);  // UTF-16 units, not UTF-8 bytes
  EXPECT_EQ(ToVariant("{\"null\": true}").Type(), VT_NULL);
}

TEST(EqhostMappingScalars, ScalarsRoundTripAndRealsWithAWholeValueStayReals) {
  for (const char* json : {"null", "true", "false", "0", "-12", "30.5", "30.0", "\"\"", "\"Вкл.\"",
                           "{\"null\":true}", "{\"date\":\"2024-02-29T13:45:10\"}"}) {
    EXPECT_EQ(RoundTrip(json).dump(), Json::parse(json).dump()) << json;
  }
}

TEST(EqhostMappingDates, DateTextGivesTheDayNumber) {
  const OleVariant d = ToVariant("{\"date\": \"2024-02-29T13:45:10\"}");
  ASSERT_EQ(d.Type(), VT_DATE);
  EXPECT_DOUBLE_EQ(d.Raw().date, EncodeDateTime({2024, 2, 29, 13, 45, 10, 0}));
  EXPECT_DOUBLE_EQ(ToVariant("{\"date\": \"1899-12-30\"}").Raw().date, 0.0);
  EXPECT_DOUBLE_EQ(ToVariant("{\"date\": \"2024-01-02T00:00:00.250\"}").Raw().date,
                   EncodeDateTime({2024, 1, 2, 0, 0, 0, 250}));
}

TEST(EqhostMappingDates, MillisecondsArePrintedOnlyWhenPresent) {
  EXPECT_EQ(FormatIsoDateTime(EncodeDateTime({2024, 1, 2, 3, 4, 5, 0})), "2024-01-02T03:04:05");
  EXPECT_EQ(FormatIsoDateTime(EncodeDateTime({2024, 1, 2, 3, 4, 5, 7})), "2024-01-02T03:04:05.007");
}

TEST(EqhostMappingDates, MalformedOrImpossibleDatesAreRefused) {
  TDateTime value = 0;
  for (const char* text : {"", "2024-1-01", "2024-01-01 10:00:00", "2024-01-01T10:00", "2023-02-29",
                           "2024-13-01", "2024-01-01T24:00:00", "2024-01-01T10:00:00Z",
                           "2024-01-01T10:00:00.5", "２０２４-01-01"}) {
    EXPECT_FALSE(ParseIsoDateTime(text, value)) << text;
  }
  EXPECT_THROW(ToVariant("{\"date\": 45000}"), EConvertError);
  EXPECT_THROW(ToVariant("{\"date\": \"31.12.2024\"}"), EConvertError);
}

TEST(EqhostMappingArrays, AJsonArrayIsAVariantVectorFromZero) {
  const OleVariant a = ToVariant("[1, \"two\", [true], null]");
  ASSERT_EQ(a.Type(), VT_ARRAY | VT_VARIANT);
  EXPECT_EQ(a.DimCount(), 1);
  EXPECT_EQ(a.LowBound(1), 0);
  EXPECT_EQ(a.HighBound(1), 3);
  EXPECT_EQ(a.GetElement({1}).AsString(), "two");
  EXPECT_TRUE(a.GetElement({2}).IsArray());
  EXPECT_TRUE(a.GetElement({3}).IsEmpty());
  EXPECT_EQ(RoundTrip("[1,\"two\",[true],null]"), Json::parse("[1,\"two\",[true],null]"));
  EXPECT_EQ(RoundTrip("[]"), Json::array());
}

TEST(EqhostMappingArrays, TwoDimensionalRowsRunOverTheFirstIndex) {
  const OleVariant a = ToVariant("{\"dims\": [[0, 1], [0, 2]], \"rows\": [[1, 2, 3], [4, 5, 6]]}");
  ASSERT_EQ(a.DimCount(), 2);
  EXPECT_EQ(a.GetElement({0, 2}).AsInteger(), 3);
  EXPECT_EQ(a.GetElement({1, 0}).AsInteger(), 4);
  EXPECT_EQ(a.GetElement({1, 2}).AsInteger(), 6);
}

TEST(EqhostMappingArrays, BoundsOtherThanZeroAndEmptyDimensionsRoundTrip) {
  for (const char* json : {"{\"dims\":[[0,1],[0,2]],\"rows\":[[1,2,3],[4,5,6]]}",
                           "{\"dims\":[[1,2],[5,5]],\"rows\":[[\"a\"],[\"b\"]]}",
                           "{\"dims\":[[0,4],[0,-1]],\"rows\":[[],[],[],[],[]]}",
                           "{\"dims\":[[1,3]],\"rows\":[7,8,9]}",
                           "{\"dims\":[[0,0],[0,1],[0,1]],\"rows\":[[[1,2],[3,4]]]}"}) {
    EXPECT_EQ(RoundTrip(json), Json::parse(json)) << json;
  }
  const OleVariant shifted = ToVariant("{\"dims\":[[1,2],[5,5]],\"rows\":[[\"a\"],[\"b\"]]}");
  EXPECT_EQ(shifted.GetElement({2, 5}).AsString(), "b");
}

TEST(EqhostMappingArrays, TypedArraysPrintTheirElements) {
  OleVariant typed = OleVariant::VarArrayCreate({{0, 1}}, VT_BSTR);
  typed.PutElement({0}, OleVariant("x"));
  typed.PutElement({1}, OleVariant("y"));
  EXPECT_EQ(VariantToJson(typed.Raw(), nullptr), Json::parse("[\"x\",\"y\"]"));
  OleVariant numbers = OleVariant::VarArrayCreate({{0, 1}}, VT_I4);
  numbers.PutElement({1}, OleVariant(std::int32_t{5}));
  EXPECT_EQ(VariantToJson(numbers.Raw(), nullptr), Json::parse("[0,5]"));
}

TEST(EqhostMappingMalformed, ValuesWithoutAVariantFormAreRefused) {
  for (const char* json : {
           "{\"dims\":[[0,1],[0,2]],\"rows\":[[1,2,3]]}",        // too few rows
           "{\"dims\":[[0,1],[0,2]],\"rows\":[[1,2,3],[4,5]]}",  // a short row
           "{\"dims\":[[0,1]],\"rows\":5}",                      // rows not an array
           "{\"dims\":[[0,1]]}",                                 // no rows
           "{\"dims\":[0,1],\"rows\":[1,2]}",                    // bounds not pairs
           "{\"dims\":[[2,0]],\"rows\":[]}",                     // high below low - 1
           "{\"dims\":[],\"rows\":[]}",                          // no dimension
           "{\"dims\":[[0,1.5]],\"rows\":[1,2]}",                // bound not an integer
           "{\"dims\":[[0,3000000000]],\"rows\":[]}",            // bound outside 32 bits
           "{\"dims\":[[0,100000],[0,100000]],\"rows\":[]}",     // absurdly large
           "{\"dims\":[[0,0]],\"rows\":[1],\"extra\":1}",        // unknown member
           "{\"foo\": 1}",                                       // unknown object
           "{}",                                                 // empty object
           "{\"host\": false}", "{\"null\": 0}",
           "[1, {\"bad\": true}]"}) {                           // nested failure
    EXPECT_THROW(ToVariant(json), EConvertError) << json;
  }
}

TEST(EqhostMappingMalformed, NestingIsRefusedBeyondTheLimit) {
  const auto nested = [](int levels, const std::string& inner) {
    return std::string(static_cast<std::size_t>(levels), '[') + inner + std::string(static_cast<std::size_t>(levels), ']');
  };
  const Json deepest = ParseJson(nested(kMaxNesting, "1"));
  EXPECT_EQ(VariantToJson(JsonToVariant(deepest, nullptr).Raw(), nullptr), deepest);
  EXPECT_THROW(ParseJson(nested(kMaxNesting + 1, "1")), EConvertError);
  EXPECT_THROW(ParseJson(nested(100000, "1")), EConvertError);
  EXPECT_THROW(JsonToVariant(Json::parse(nested(kMaxNesting + 1, "1")), nullptr), EConvertError);
  // A value object is a level too.
  EXPECT_THROW(JsonToVariant(Json::parse(nested(kMaxNesting, "{\"null\": true}")), nullptr), EConvertError);
  EXPECT_NO_THROW(JsonToVariant(Json::parse(nested(kMaxNesting - 1, "{\"null\": true}")), nullptr));
}

TEST(EqhostMappingMalformed, HostObjectNeedsAHost) {
  EXPECT_THROW(ToVariant("{\"host\": true}"), EConvertError);
  auto host = HostCallback::Create({}, nullptr);
  const OleVariant v = ToVariant("[{\"host\": true}]", host.Get());
  const OleVariant element = v.GetElement({0});
  ASSERT_EQ(element.Type(), VT_DISPATCH);
  EXPECT_EQ(element.AsDispatch(), host.Get());
  EXPECT_EQ(VariantToJson(v.Raw(), host.Get()), Json::parse("[{\"host\":true}]"));
  EXPECT_EQ(VariantToJson(v.Raw(), nullptr), Json::parse("[{\"dispatch\":true}]"));
}

TEST(EqhostMappingOutput, ReferencesAreFollowed) {
  std::int16_t small = -3;
  VARIANT ref;
  VariantInit(&ref);
  ref.vt = VT_BYREF | VT_I2;
  ref.piVal = &small;
  EXPECT_EQ(VariantToJson(ref, nullptr), Json(-3));

  OleVariant inner = ToVariant("[\"a\"]");
  VARIANT viaVariant;
  VariantInit(&viaVariant);
  viaVariant.vt = VT_BYREF | VT_VARIANT;
  viaVariant.pvarVal = &inner.Raw();
  EXPECT_EQ(VariantToJson(viaVariant, nullptr), Json::parse("[\"a\"]"));

  VARIANT dangling;
  VariantInit(&dangling);
  dangling.vt = VT_BYREF | VT_VARIANT;
  dangling.pvarVal = nullptr;
  EXPECT_EQ(VariantToJson(dangling, nullptr), Json());
}

TEST(EqhostMappingOutput, OtherTypesAreDescribed) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_ERROR;
  v.scode = DISP_E_PARAMNOTFOUND;
  EXPECT_EQ(VariantToJson(v, nullptr), Json::parse("{\"scode\":\"0x80020004\"}"));
  v.vt = VT_UI1;
  v.bVal = 200;
  EXPECT_EQ(VariantToJson(v, nullptr), Json(200));
  v.vt = VT_I8;
  v.llVal = -5000000000LL;
  EXPECT_EQ(VariantToJson(v, nullptr), Json(-5000000000LL));
  v.vt = VT_CY;
  v.cyVal.int64 = 12345;
  EXPECT_EQ(VariantToJson(v, nullptr), Json(1.2345));
  v.vt = 0x0FFF;
  EXPECT_EQ(VariantToJson(v, nullptr), Json::parse("{\"vartype\":4095}"));
}

TEST(EqhostMappingOutput, HResultsAreEightUpperCaseDigits) {
  EXPECT_EQ(FormatHResult(DISP_E_EXCEPTION), "0x80020009");
  EXPECT_EQ(FormatHResult(E_UNEXPECTED), "0x8000FFFF");
  EXPECT_EQ(FormatHResult(S_OK), "0x00000000");
}

}  // namespace
}  // namespace eqhost
