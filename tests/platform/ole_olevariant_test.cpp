// OleVariant: ownership, the standard conversions with their exceptions, variant arrays.
#include <gtest/gtest.h>

#include <cstdint>

#include "platform/exceptions.h"
#include "platform/ole_variant.h"
#include "platform/text.h"
#include "tests/platform/ole_test_support.h"

using namespace ole_test;

namespace {

template <class Error, class Call>
std::string MessageOf(Call call) {
  try {
    call();
  } catch (const Error& e) {
    return e.what();
  } catch (const std::exception& e) {
    return std::string("wrong exception: ") + ExceptionClassName(e);
  }
  return "no exception";
}

TEST(OleVariantLifetime, ConstructorsGiveTheDocumentedTypes) {
  EXPECT_EQ(OleVariant().Type(), VT_EMPTY);
  EXPECT_EQ(OleVariant(5).Type(), VT_I4);
  EXPECT_EQ(OleVariant(true).Type(), VT_BOOL);
  EXPECT_EQ(OleVariant(true).Raw().boolVal, VARIANT_TRUE);
  EXPECT_EQ(OleVariant(1.5).Type(), VT_R8);
  EXPECT_EQ(OleVariant("текст").Type(), VT_BSTR);
  EXPECT_EQ(OleVariant(std::string("x")).Type(), VT_BSTR);
  EXPECT_EQ(OleVariant::FromI2(-3).Type(), VT_I2);
  EXPECT_EQ(OleVariant::FromInt64(1LL << 40).Type(), VT_I8);
  EXPECT_EQ(OleVariant::FromDate(2.5).Type(), VT_DATE);
  EXPECT_EQ(OleVariant::Null().Type(), VT_NULL);
  EXPECT_EQ(OleVariant::FromBstr(u"ab").AsString(), "ab");
  EXPECT_EQ(OleVariant("").Raw().bstrVal != nullptr, true);
}

TEST(OleVariantLifetime, CopiesAreDeepAndMovesTransfer) {
  OleVariant text("abc");
  OleVariant copy(text);
  EXPECT_NE(copy.Raw().bstrVal, text.Raw().bstrVal);
  OleVariant assigned;
  assigned = text;
  EXPECT_EQ(assigned.AsString(), "abc");
  OleVariant& alias = assigned;
  assigned = alias;  // self-assignment keeps the value
  EXPECT_EQ(assigned.AsString(), "abc");
  BSTR inside = text.Raw().bstrVal;
  OleVariant moved(std::move(text));
  EXPECT_EQ(moved.Raw().bstrVal, inside);
  EXPECT_TRUE(text.IsEmpty());  // NOLINT(bugprone-use-after-move): the moved-from state is Empty
  assigned = std::move(moved);
  EXPECT_EQ(assigned.Raw().bstrVal, inside);
}

TEST(OleVariantLifetime, AttachAndDetachHandOverOwnership) {
  VARIANT raw;
  VariantInit(&raw);
  raw.vt = VT_BSTR;
  raw.bstrVal = SysAllocString(u"owned");
  OleVariant held = OleVariant::Attach(raw);
  EXPECT_EQ(raw.vt, VT_EMPTY);
  EXPECT_EQ(held.AsString(), "owned");
  VARIANT back = held.Detach();
  EXPECT_TRUE(held.IsEmpty());
  EXPECT_EQ(back.vt, VT_BSTR);
  VariantClear(&back);
}

TEST(OleVariantLifetime, DispatchReferences) {
  CountedDispatch dispatch;
  {
    OleVariant v = OleVariant::FromDispatch(&dispatch);
    EXPECT_EQ(dispatch.RefCount(), 2u);
    EXPECT_EQ(v.AsDispatch(), &dispatch);
    OleVariant copy = v;
    EXPECT_EQ(dispatch.RefCount(), 3u);
    VARIANT unknown;
    unknown.vt = VT_UNKNOWN;
    unknown.punkVal = &dispatch;
    OleVariant asUnknown(unknown);
    EXPECT_EQ(asUnknown.AsDispatch(), &dispatch);  // asks for IDispatch, adds no reference
    EXPECT_EQ(dispatch.RefCount(), 4u);
  }
  EXPECT_EQ(dispatch.RefCount(), 1u);
  CountedUnknown plain;
  VARIANT raw;
  raw.vt = VT_UNKNOWN;
  raw.punkVal = &plain;
  EXPECT_EQ(OleVariant(raw).AsDispatch(), nullptr);
  EXPECT_EQ(plain.RefCount(), 1u);
  EXPECT_EQ(OleVariant(5).AsDispatch(), nullptr);
}

TEST(OleVariantReferences, LinksAreFollowed) {
  OleVariant target(42);
  VARIANT link1;
  link1.vt = VT_BYREF | VT_VARIANT;
  link1.pvarVal = &target.Raw();
  VARIANT link2;
  link2.vt = VT_BYREF | VT_VARIANT;
  link2.pvarVal = &link1;
  const OleVariant v(link2);  // a copy of the reference itself
  EXPECT_EQ(v.Type(), VT_BYREF | VT_VARIANT);
  EXPECT_EQ(v.DerefType(), VT_I4);
  EXPECT_EQ(v.AsInteger(), 42);
  EXPECT_EQ(v.AsString(), "42");
  EXPECT_EQ(OleVariant::CopyInd(link2).Type(), VT_I4);

  LONG scalar = 7;
  VARIANT scalarRef;
  scalarRef.vt = VT_BYREF | VT_I4;
  scalarRef.plVal = &scalar;
  const OleVariant byRef(scalarRef);
  EXPECT_EQ(byRef.DerefType(), VT_BYREF | VT_I4);
  EXPECT_EQ(byRef.AsInteger(), 7);
  EXPECT_EQ(byRef.AsDouble(), 7.0);
  EXPECT_EQ(byRef.AsString(), "7");

  VARIANT broken;
  broken.vt = VT_BYREF | VT_VARIANT;
  broken.pvarVal = nullptr;
  EXPECT_TRUE(OleVariant(broken).IsEmpty());  // a null link reads as Empty
}

TEST(OleVariantConversions, ToInteger) {
  EXPECT_EQ(OleVariant().AsInteger(), 0);
  EXPECT_EQ(OleVariant(true).AsInteger(), -1);
  EXPECT_EQ(OleVariant(2.5).AsInteger(), 2);
  EXPECT_EQ(OleVariant(3.5).AsInteger(), 4);
  EXPECT_EQ(OleVariant(" 12 ").AsInteger(), 12);
  EXPECT_EQ(OleVariant("2,5").AsInteger(), 2);
  EXPECT_EQ(OleVariant::FromDate(41849.75).AsInteger(), 41849);
  EXPECT_EQ(OleVariant::FromInt64(-5).AsInteger(), -5);
  EXPECT_EQ(OleVariant("12345678901").AsInt64(), 12345678901LL);
  EXPECT_EQ(MessageOf<EVariantTypeCastError>([] { (void)OleVariant("abc").AsInteger(); }),
            "Невозможно преобразовать значение типа (String) в тип (Integer)");
  EXPECT_EQ(MessageOf<EVariantTypeCastError>([] { (void)OleVariant::Null().AsInteger(); }),
            "Невозможно преобразовать значение типа (Null) в тип (Integer)");
  EXPECT_EQ(MessageOf<EVariantOverflowError>([] { (void)OleVariant(3e10).AsInteger(); }),
            "Переполнение при преобразовании значения типа (Double) в тип (Integer)");
  EXPECT_EQ(MessageOf<EVariantOverflowError>([] { (void)OleVariant::FromInt64(1LL << 33).AsInteger(); }),
            "Переполнение при преобразовании значения типа (Int64) в тип (Integer)");
  EXPECT_THROW((void)OleVariant::VarArrayOf({1}).AsInteger(), EVariantTypeCastError);
}

TEST(OleVariantConversions, ToBoolean) {
  EXPECT_FALSE(OleVariant().AsBoolean());
  EXPECT_TRUE(OleVariant(-1).AsBoolean());
  EXPECT_FALSE(OleVariant(0).AsBoolean());
  EXPECT_TRUE(OleVariant("TRUE").AsBoolean());
  EXPECT_FALSE(OleVariant("false").AsBoolean());
  EXPECT_TRUE(OleVariant("1").AsBoolean());
  EXPECT_THROW((void)OleVariant("").AsBoolean(), EVariantTypeCastError);
  EXPECT_THROW((void)OleVariant::Null().AsBoolean(), EVariantTypeCastError);
  EXPECT_EQ(MessageOf<EVariantTypeCastError>([] { (void)OleVariant("да").AsBoolean(); }),
            "Невозможно преобразовать значение типа (String) в тип (Boolean)");
}

TEST(OleVariantConversions, ToDoubleAndDate) {
  EXPECT_EQ(OleVariant(true).AsDouble(), -1.0);
  EXPECT_EQ(OleVariant("1,25").AsDouble(), 1.25);
  EXPECT_EQ(OleVariant::FromDate(3.5).AsDouble(), 3.5);
  EXPECT_EQ(OleVariant(7).AsDate(), 7.0);
  EXPECT_NEAR(OleVariant("29.07.2014 12:00").AsDate(), 41849.5, 1e-9);
  EXPECT_THROW((void)OleVariant("x").AsDouble(), EVariantTypeCastError);
  EXPECT_THROW((void)OleVariant("32.01.2014").AsDate(), EVariantTypeCastError);
  EXPECT_THROW((void)OleVariant(1e12).AsDate(), EVariantOverflowError);
}

TEST(OleVariantConversions, ToText) {
  EXPECT_EQ(OleVariant().AsString(), "");
  EXPECT_EQ(OleVariant::Null().AsString(), "");
  EXPECT_EQ(OleVariant(-1234567).AsString(), "-1234567");
  EXPECT_EQ(OleVariant(1.5).AsString(), "1,5");
  EXPECT_EQ(OleVariant(true).AsString(), "True");
  EXPECT_EQ(OleVariant(false).AsString(), "False");
  EXPECT_EQ(OleVariant::FromDate(41849.0).AsString(), "29.07.2014");
  EXPECT_EQ(OleVariant("Привет").AsUtf16(), u"Привет");
  EXPECT_EQ(OleVariant(5).AsUtf16(), u"5");
  EXPECT_EQ(OleVariant::Null().AsUtf16(), u"");
  EXPECT_THROW((void)OleVariant::VarArrayOf({1}).AsString(), EVariantTypeCastError);
  CountedDispatch dispatch;
  EXPECT_EQ(MessageOf<EVariantTypeCastError>(
                [&] { (void)OleVariant::FromDispatch(&dispatch).AsString(); }),
            "Невозможно преобразовать значение типа (Dispatch) в тип (String)");
  EXPECT_EQ(dispatch.RefCount(), 1u);
}

TEST(OleVariantArrays, CreateBoundsAndElements) {
  OleVariant table = OleVariant::VarArrayCreate({{0, 6}, {1, 4}});
  EXPECT_TRUE(table.IsArray());
  EXPECT_EQ(table.Type(), VT_ARRAY | VT_VARIANT);
  EXPECT_EQ(table.DimCount(), 2);
  EXPECT_EQ(table.LowBound(1), 0);
  EXPECT_EQ(table.HighBound(1), 6);
  EXPECT_EQ(table.LowBound(2), 1);
  EXPECT_EQ(table.HighBound(2), 4);
  EXPECT_TRUE(table.GetElement({6, 4}).IsEmpty());
  table.PutElement({6, 4}, OleVariant("last"));
  table.PutElement(std::vector<LONG>{0, 1}, OleVariant(1));
  EXPECT_EQ(table.GetElement({6, 4}).AsString(), "last");
  EXPECT_EQ(table.GetElement(std::vector<LONG>{0, 1}).AsInteger(), 1);

  EXPECT_THROW(table.GetElement({7, 4}), EVariantBadIndexError);
  EXPECT_THROW(table.GetElement({0, 0}), EVariantBadIndexError);
  EXPECT_THROW(table.GetElement({0}), EVariantBadIndexError);
  EXPECT_THROW(table.GetElement({0, 1, 1}), EVariantBadIndexError);
  EXPECT_THROW(table.PutElement({-1, 1}, OleVariant(1)), EVariantBadIndexError);
  EXPECT_THROW((void)table.LowBound(3), EVariantBadIndexError);
  EXPECT_THROW((void)table.HighBound(0), EVariantBadIndexError);
  EXPECT_EQ(MessageOf<EVariantBadIndexError>([&] { (void)table.GetElement({9, 9}); }),
            "Индекс вариантного массива вне допустимых границ");

  EXPECT_EQ(OleVariant(1).DimCount(), 0);
  EXPECT_THROW((void)OleVariant(1).LowBound(1), EVariantBadIndexError);
  EXPECT_THROW(OleVariant(1).GetElement({0}), EVariantBadIndexError);
}

TEST(OleVariantArrays, EmptyArrays) {
  OleVariant empty = OleVariant::VarArrayCreate({{0, -1}});
  EXPECT_EQ(empty.HighBound(1), -1);
  EXPECT_THROW(empty.GetElement({0}), EVariantBadIndexError);
  EXPECT_EQ(OleVariant::VarArrayOf(std::vector<OleVariant>{}).HighBound(1), -1);
  EXPECT_THROW(OleVariant::VarArrayCreate({{0, -2}}), EVariantError);
  // 2^32 elements do not fit the element count: refused, never an empty array instead.
  EXPECT_THROW(OleVariant::VarArrayCreate({{INT32_MIN, INT32_MAX}}), EVariantError);
  EXPECT_THROW(OleVariant::VarArrayCreate({{0, 1}}, VT_EMPTY), EVariantError);
}

TEST(OleVariantArrays, TypedArraysConvertOnTheWayInAndOut) {
  OleVariant numbers = OleVariant::VarArrayCreate({{0, 1}}, VT_I4);
  numbers.PutElement({0}, OleVariant("12"));
  numbers.PutElement({1}, OleVariant(true));
  EXPECT_EQ(numbers.GetElement({0}).Type(), VT_I4);
  EXPECT_EQ(numbers.GetElement({0}).AsInteger(), 12);
  EXPECT_EQ(numbers.GetElement({1}).AsInteger(), -1);
  EXPECT_THROW(numbers.PutElement({0}, OleVariant("x")), EVariantTypeCastError);
  EXPECT_THROW(numbers.PutElement({0}, OleVariant(1e20)), EVariantOverflowError);

  OleVariant texts = OleVariant::VarArrayCreate({{1, 2}}, VT_BSTR);
  texts.PutElement({1}, OleVariant(5));
  texts.PutElement({1}, OleVariant("replaced"));
  EXPECT_EQ(texts.GetElement({1}).Type(), VT_BSTR);
  EXPECT_EQ(texts.GetElement({1}).AsString(), "replaced");
  EXPECT_EQ(texts.GetElement({2}).AsString(), "");

  CountedDispatch dispatch;
  {
    OleVariant objects = OleVariant::VarArrayCreate({{0, 0}}, VT_DISPATCH);
    objects.PutElement({0}, OleVariant::FromDispatch(&dispatch));
    EXPECT_EQ(dispatch.RefCount(), 2u);
    EXPECT_EQ(objects.GetElement({0}).AsDispatch(), &dispatch);
  }
  EXPECT_EQ(dispatch.RefCount(), 1u);
}

TEST(OleVariantArrays, VarArrayOfAndNesting) {
  OleVariant inner = OleVariant::VarArrayOf({1, 2});
  OleVariant outer = OleVariant::VarArrayOf({inner, "x", true});
  EXPECT_EQ(outer.HighBound(1), 2);
  const OleVariant first = outer.GetElement({0});
  EXPECT_TRUE(first.IsArray());
  EXPECT_NE(first.Array(), inner.Array());
  EXPECT_EQ(first.GetElement({1}).AsInteger(), 2);
  EXPECT_EQ(outer.GetElement({1}).AsString(), "x");

  SAFEARRAY* array = outer.Array();
  VARIANT ref;
  ref.vt = VT_BYREF | VT_ARRAY | VT_VARIANT;
  ref.pparray = &array;
  const OleVariant byRef(ref);
  EXPECT_TRUE(byRef.IsArray());
  EXPECT_EQ(byRef.Array(), outer.Array());
  EXPECT_EQ(byRef.GetElement({2}).AsBoolean(), true);
}

TEST(OleVariantNames, TypeNames) {
  EXPECT_EQ(OleVariant::TypeName(VT_EMPTY), "Empty");
  EXPECT_EQ(OleVariant::TypeName(VT_NULL), "Null");
  EXPECT_EQ(OleVariant::TypeName(VT_I4), "Integer");
  EXPECT_EQ(OleVariant::TypeName(VT_I2), "Smallint");
  EXPECT_EQ(OleVariant::TypeName(VT_BSTR), "String");
  EXPECT_EQ(OleVariant::TypeName(VT_BOOL), "Boolean");
  EXPECT_EQ(OleVariant::TypeName(VT_R8), "Double");
  EXPECT_EQ(OleVariant::TypeName(VT_DATE), "Date");
  EXPECT_EQ(OleVariant::TypeName(VT_ARRAY | VT_VARIANT), "Array Variant");
  EXPECT_EQ(OleVariant::TypeName(VT_BYREF | VT_I4), "ByRef Integer");
  EXPECT_EQ(OleVariant::TypeName(0x7F), "Type 127");
}

TEST(OleVariantEquality, SimpleValuesAndArrays) {
  EXPECT_TRUE(VariantsEqual(OleVariant(1).Raw(), OleVariant::FromI2(1).Raw()));
  EXPECT_TRUE(VariantsEqual(OleVariant(1).Raw(), OleVariant(1.0).Raw()));
  EXPECT_FALSE(VariantsEqual(OleVariant(1).Raw(), OleVariant(2).Raw()));
  EXPECT_TRUE(VariantsEqual(OleVariant("a").Raw(), OleVariant("a").Raw()));
  EXPECT_FALSE(VariantsEqual(OleVariant("a").Raw(), OleVariant("A").Raw()));
  EXPECT_TRUE(VariantsEqual(OleVariant("5").Raw(), OleVariant(5).Raw()));
  EXPECT_FALSE(VariantsEqual(OleVariant("x").Raw(), OleVariant(5).Raw()));
  EXPECT_TRUE(VariantsEqual(OleVariant().Raw(), OleVariant().Raw()));
  EXPECT_FALSE(VariantsEqual(OleVariant().Raw(), OleVariant::Null().Raw()));
  EXPECT_FALSE(VariantsEqual(OleVariant().Raw(), OleVariant(0).Raw()));
  EXPECT_TRUE(VariantsEqual(OleVariant(true).Raw(), OleVariant(-1).Raw()));
  EXPECT_TRUE(VariantsEqual(OleVariant::VarArrayOf({1, "x"}).Raw(),
                            OleVariant::VarArrayOf({1, "x"}).Raw()));
  EXPECT_FALSE(VariantsEqual(OleVariant::VarArrayOf({1, "x"}).Raw(),
                             OleVariant::VarArrayOf({1, "y"}).Raw()));
  EXPECT_FALSE(VariantsEqual(OleVariant::VarArrayOf({1}).Raw(), OleVariant(1).Raw()));
  EXPECT_TRUE(VariantsEqual(OleVariant::VarArrayCreate({{0, -1}}).Raw(),
                            OleVariant::VarArrayCreate({{0, -1}}).Raw()));
}

}  // namespace
