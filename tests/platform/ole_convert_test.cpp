// VariantChangeType: every simple type the system uses, the failing conversions included.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "platform/oleauto.h"
#include "platform/text.h"
#include "tests/platform/ole_test_support.h"

using namespace ole_test;

namespace {

class ChangeTypeTest : public ::testing::Test {
 protected:
  VARIANT* I4(LONG value) { return Make(VT_I4, [&](VARIANT& v) { v.lVal = value; }); }
  VARIANT* I8(std::int64_t value) { return Make(VT_I8, [&](VARIANT& v) { v.llVal = value; }); }
  VARIANT* UI8(std::uint64_t value) { return Make(VT_UI8, [&](VARIANT& v) { v.ullVal = value; }); }
  VARIANT* R8(double value) { return Make(VT_R8, [&](VARIANT& v) { v.dblVal = value; }); }
  VARIANT* R4(float value) { return Make(VT_R4, [&](VARIANT& v) { v.fltVal = value; }); }
  VARIANT* Date(double value) { return Make(VT_DATE, [&](VARIANT& v) { v.date = value; }); }
  VARIANT* Cy(std::int64_t scaled) { return Make(VT_CY, [&](VARIANT& v) { v.cyVal.int64 = scaled; }); }
  VARIANT* Bool(bool value) {
    return Make(VT_BOOL, [&](VARIANT& v) { v.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE; });
  }
  VARIANT* Text(std::string_view utf8) {
    return Make(VT_BSTR, [&](VARIANT& v) { v.bstrVal = BstrFromUtf8(utf8); });
  }
  VARIANT* Empty() { return Make(VT_EMPTY, [](VARIANT&) {}); }
  VARIANT* Null() { return Make(VT_NULL, [](VARIANT&) {}); }

  template <class Fill>
  VARIANT* Make(VARTYPE vt, Fill fill) {
    VARIANT* v = &sources_[count_++].v;
    v->vt = vt;
    fill(*v);
    return v;
  }

  // Converts and keeps the result for inspection; the previous result is released.
  HRESULT Change(VARIANT* src, VARTYPE vt) {
    VariantClear(out_.get());
    return VariantChangeType(out_.get(), src, 0, vt);
  }
  std::string TextOf(VARIANT* src) {
    const HRESULT hr = Change(src, VT_BSTR);
    EXPECT_EQ(hr, S_OK);
    return hr == S_OK ? BstrToUtf8(out_->bstrVal) : "<failed>";
  }
  LONG IntOf(VARIANT* src) {
    EXPECT_EQ(Change(src, VT_I4), S_OK);
    return out_->lVal;
  }
  double RealOf(VARIANT* src) {
    EXPECT_EQ(Change(src, VT_R8), S_OK);
    return out_->dblVal;
  }
  bool BoolOf(VARIANT* src) {
    EXPECT_EQ(Change(src, VT_BOOL), S_OK);
    return out_->boolVal != VARIANT_FALSE;
  }

  ScopedVariant sources_[64];
  int count_ = 0;
  ScopedVariant out_;
};

TEST_F(ChangeTypeTest, EmptyReadsAsZeroEmptyTextAndFalse) {
  EXPECT_EQ(IntOf(Empty()), 0);
  EXPECT_EQ(RealOf(Empty()), 0.0);
  EXPECT_EQ(TextOf(Empty()), "");
  EXPECT_NE(out_->bstrVal, nullptr);
  EXPECT_FALSE(BoolOf(Empty()));
  EXPECT_EQ(Change(Empty(), VT_NULL), S_OK);
  EXPECT_EQ(Change(Empty(), VT_DATE), S_OK);
  EXPECT_EQ(out_->date, 0.0);
}

TEST_F(ChangeTypeTest, NullConvertsOnlyToNull) {
  for (VARTYPE vt : {VT_I1, VT_I2, VT_I4, VT_I8, VT_UI1, VT_UI2, VT_UI4, VT_UI8, VT_INT, VT_UINT,
                     VT_R4, VT_R8, VT_CY, VT_DATE, VT_BSTR, VT_BOOL, VT_DECIMAL, VT_EMPTY}) {
    EXPECT_EQ(Change(Null(), vt), DISP_E_TYPEMISMATCH) << vt;
    EXPECT_EQ(out_->vt, VT_EMPTY);
  }
  EXPECT_EQ(Change(Null(), VT_NULL), S_OK);
  EXPECT_EQ(out_->vt, VT_NULL);
}

TEST_F(ChangeTypeTest, RealsRoundHalfToEven) {
  EXPECT_EQ(IntOf(R8(2.5)), 2);
  EXPECT_EQ(IntOf(R8(3.5)), 4);
  EXPECT_EQ(IntOf(R8(-2.5)), -2);
  EXPECT_EQ(IntOf(R8(-3.5)), -4);
  EXPECT_EQ(IntOf(R8(2.4999)), 2);
  EXPECT_EQ(IntOf(R8(2.5001)), 3);
  EXPECT_EQ(IntOf(R4(0.5f)), 0);
  EXPECT_EQ(IntOf(R4(1.5f)), 2);
  EXPECT_EQ(Change(R8(2147483647.4), VT_I4), S_OK);
  EXPECT_EQ(Change(R8(2147483647.5), VT_I4), DISP_E_OVERFLOW);
  EXPECT_EQ(Change(R8(-2147483648.5), VT_I4), S_OK);  // rounds to even: -2147483648
  EXPECT_EQ(out_->lVal, std::numeric_limits<LONG>::min());
  EXPECT_EQ(Change(R8(std::nan("")), VT_I4), DISP_E_OVERFLOW);
  EXPECT_EQ(Change(R8(9.3e18), VT_I8), DISP_E_OVERFLOW);
  EXPECT_EQ(Change(R8(1.8e19), VT_UI8), S_OK);
}

TEST_F(ChangeTypeTest, IntegerRangesAreChecked) {
  EXPECT_EQ(Change(I4(40000), VT_I2), DISP_E_OVERFLOW);
  EXPECT_EQ(Change(I4(-32768), VT_I2), S_OK);
  EXPECT_EQ(out_->iVal, -32768);
  EXPECT_EQ(Change(I4(-1), VT_UI1), DISP_E_OVERFLOW);
  EXPECT_EQ(Change(I4(255), VT_UI1), S_OK);
  EXPECT_EQ(out_->bVal, 255);
  EXPECT_EQ(Change(I4(128), VT_I1), DISP_E_OVERFLOW);
  EXPECT_EQ(Change(I4(-1), VT_UI4), DISP_E_OVERFLOW);
  EXPECT_EQ(Change(I4(-1), VT_UINT), DISP_E_OVERFLOW);
  EXPECT_EQ(Change(I8(std::numeric_limits<std::int64_t>::max()), VT_UI8), S_OK);
  EXPECT_EQ(Change(UI8(std::numeric_limits<std::uint64_t>::max()), VT_I8), DISP_E_OVERFLOW);
  EXPECT_EQ(Change(I8(1LL << 40), VT_I4), DISP_E_OVERFLOW);
  EXPECT_EQ(Change(I8(-7), VT_INT), S_OK);
  EXPECT_EQ(out_->vt, VT_INT);
  EXPECT_EQ(out_->lVal, -7);
}

TEST_F(ChangeTypeTest, BooleansAreMinusOneAndZero) {
  EXPECT_EQ(IntOf(Bool(true)), -1);
  EXPECT_EQ(IntOf(Bool(false)), 0);
  EXPECT_EQ(RealOf(Bool(true)), -1.0);
  EXPECT_EQ(Change(Bool(true), VT_UI1), S_OK);  // all bits set, as OLE does
  EXPECT_EQ(out_->bVal, 255);
  EXPECT_FALSE(BoolOf(I4(0)));
  EXPECT_TRUE(BoolOf(I4(5)));
  EXPECT_TRUE(BoolOf(R8(0.1)));
  EXPECT_FALSE(BoolOf(Cy(0)));
  EXPECT_EQ(out_->boolVal, VARIANT_FALSE);
  EXPECT_TRUE(BoolOf(Bool(true)));
  EXPECT_EQ(out_->boolVal, VARIANT_TRUE);
}

TEST_F(ChangeTypeTest, TextToInteger) {
  EXPECT_EQ(IntOf(Text(" 42 ")), 42);
  EXPECT_EQ(IntOf(Text("-7")), -7);
  EXPECT_EQ(IntOf(Text("+7")), 7);
  EXPECT_EQ(IntOf(Text("1,5")), 2);
  EXPECT_EQ(IntOf(Text("2,5")), 2);
  EXPECT_EQ(IntOf(Text("3.5")), 4);
  EXPECT_EQ(IntOf(Text("1E3")), 1000);
  for (const char* bad : {"abc", "", "  ", "12abc", "1 000", "--1", "0x10", "５"}) {
    EXPECT_EQ(Change(Text(bad), VT_I4), DISP_E_TYPEMISMATCH) << bad;
  }
  EXPECT_EQ(Change(Text("99999999999"), VT_I4), DISP_E_OVERFLOW);
  EXPECT_EQ(Change(Text("99999999999999999999999"), VT_I8), DISP_E_OVERFLOW);
  EXPECT_EQ(Change(Text("-9223372036854775808"), VT_I8), S_OK);
  EXPECT_EQ(out_->llVal, std::numeric_limits<std::int64_t>::min());
  EXPECT_EQ(Change(Text("300"), VT_UI1), DISP_E_OVERFLOW);
}

TEST_F(ChangeTypeTest, TextToBoolean) {
  EXPECT_TRUE(BoolOf(Text("true")));
  EXPECT_TRUE(BoolOf(Text("TrUe")));
  EXPECT_FALSE(BoolOf(Text("FALSE")));
  EXPECT_FALSE(BoolOf(Text(" False ")));
  EXPECT_TRUE(BoolOf(Text("1")));
  EXPECT_TRUE(BoolOf(Text("-1")));
  EXPECT_FALSE(BoolOf(Text("0")));
  EXPECT_FALSE(BoolOf(Text("0,0")));
  EXPECT_TRUE(BoolOf(Text("0,5")));
  for (const char* bad : {"", "yes", "Истина", "truex"}) {
    EXPECT_EQ(Change(Text(bad), VT_BOOL), DISP_E_TYPEMISMATCH) << bad;
  }
}

TEST_F(ChangeTypeTest, TextOfBooleansAndIntegersIsFixed) {
  EXPECT_EQ(TextOf(Bool(true)), "True");
  EXPECT_EQ(TextOf(Bool(false)), "False");
  EXPECT_EQ(TextOf(I4(-1234567)), "-1234567");
  EXPECT_EQ(TextOf(I8(std::numeric_limits<std::int64_t>::min())), "-9223372036854775808");
  EXPECT_EQ(TextOf(UI8(std::numeric_limits<std::uint64_t>::max())), "18446744073709551615");
  VARIANT* byte = Make(VT_UI1, [](VARIANT& v) { v.bVal = 65; });
  EXPECT_EQ(TextOf(byte), "65");
}

TEST_F(ChangeTypeTest, TextOfReals) {
  EXPECT_EQ(TextOf(R8(1.5)), "1,5");
  EXPECT_EQ(TextOf(R8(0.1)), "0,1");
  EXPECT_EQ(TextOf(R8(-0.5)), "-0,5");
  EXPECT_EQ(TextOf(R8(100)), "100");
  EXPECT_EQ(TextOf(R8(1.0 / 3)), "0,333333333333333");
  EXPECT_EQ(TextOf(R8(1e20)), "1E+20");
  EXPECT_EQ(TextOf(R8(123456789012345678.0)), "1,23456789012346E+17");
  EXPECT_EQ(TextOf(R8(1234567.125)), "1234567,125");
  EXPECT_EQ(TextOf(R4(0.1f)), "0,1");  // a 4-byte float shows its own 7 digits
  EXPECT_EQ(TextOf(R4(1.0f / 3)), "0,3333333");
}

TEST_F(ChangeTypeTest, EveryIntegerTypeIsReadWithItsSignAndWidth) {
  struct Case {
    VARTYPE vt;
    std::int64_t bits;
    const char* text;
  };
  for (const Case& c : {Case{VT_I1, 0xFB, "-5"}, Case{VT_UI1, 0xFA, "250"},
                        Case{VT_I2, 0x8000, "-32768"}, Case{VT_UI2, 0xFFFF, "65535"},
                        Case{VT_I4, 0xFFFFFFFF, "-1"}, Case{VT_UI4, 0xFFFFFFFF, "4294967295"},
                        Case{VT_INT, 0x80000000, "-2147483648"},
                        Case{VT_UINT, 4000000000, "4000000000"}, Case{VT_I8, -2, "-2"},
                        Case{VT_UI8, -2, "18446744073709551614"}}) {
    VARIANT* src = Make(c.vt, [&](VARIANT& v) { v.llVal = c.bits; });
    EXPECT_EQ(TextOf(src), c.text) << c.vt;
    ASSERT_EQ(Change(src, c.vt), S_OK);
    EXPECT_EQ(out_->vt, c.vt);
    VARIANT* text = Text(c.text);
    ASSERT_EQ(Change(text, c.vt), S_OK) << c.vt;  // and the text converts back
    ScopedVariant back;
    ASSERT_EQ(VariantCopy(back.get(), out_.get()), S_OK);
    EXPECT_EQ(TextOf(back.get()), c.text);
  }
}

TEST_F(ChangeTypeTest, TextToReal) {
  EXPECT_EQ(RealOf(Text("1,5")), 1.5);
  EXPECT_EQ(RealOf(Text("1.5")), 1.5);
  EXPECT_EQ(RealOf(Text(" -2,5E3 ")), -2500.0);
  EXPECT_EQ(Change(Text("1 000"), VT_R8), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(Change(Text("1,5,"), VT_R8), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(Change(Text("1e400"), VT_R8), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(Change(Text("1e39"), VT_R4), DISP_E_OVERFLOW);
  EXPECT_EQ(Change(R8(1e300), VT_R4), DISP_E_OVERFLOW);
  EXPECT_EQ(Change(R8(0.25), VT_R4), S_OK);
  EXPECT_EQ(out_->fltVal, 0.25f);
}

TEST_F(ChangeTypeTest, DatesToAndFromText) {
  const double july29 = 41849.0 + (13 * 3600 + 5 * 60 + 9) / 86400.0;
  EXPECT_EQ(TextOf(Date(july29)), "29.07.2014 13:05:09");
  EXPECT_EQ(TextOf(Date(41849.0)), "29.07.2014");
  EXPECT_EQ(TextOf(Date(0.0)), "0:00:00");
  EXPECT_EQ(TextOf(Date(0.5)), "12:00:00");
  EXPECT_EQ(TextOf(Date(-1.25)), "29.12.1899 6:00:00");
  EXPECT_EQ(TextOf(Date(-0.5)), "12:00:00");
  // The last second of the calendar does not round over into a year that cannot be written.
  EXPECT_EQ(TextOf(Date(2958465.0 + 86399.6 / 86400)), "31.12.9999 23:59:59");

  ASSERT_EQ(Change(Text("29.07.2014 13:05:09"), VT_DATE), S_OK);
  EXPECT_NEAR(out_->date, july29, 1e-9);
  ASSERT_EQ(Change(Text("2014-07-29T13:05:09"), VT_DATE), S_OK);
  EXPECT_NEAR(out_->date, july29, 1e-9);
  ASSERT_EQ(Change(Text("6:00"), VT_DATE), S_OK);
  EXPECT_DOUBLE_EQ(out_->date, 0.25);
  EXPECT_EQ(Change(Text("31.02.2014"), VT_DATE), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(Change(Text("tomorrow"), VT_DATE), DISP_E_TYPEMISMATCH);
}

TEST_F(ChangeTypeTest, DatesAndNumbers) {
  EXPECT_EQ(Change(I4(41849), VT_DATE), S_OK);
  EXPECT_EQ(out_->date, 41849.0);
  EXPECT_EQ(Change(R8(1e10), VT_DATE), DISP_E_OVERFLOW);
  EXPECT_EQ(Change(R8(-700000), VT_DATE), DISP_E_OVERFLOW);
  EXPECT_EQ(IntOf(Date(1.75)), 1);  // the day number
  EXPECT_EQ(IntOf(Date(-1.25)), -1);
  EXPECT_EQ(RealOf(Date(1.75)), 1.75);
  EXPECT_EQ(Change(Date(1e10), VT_BSTR), DISP_E_OVERFLOW);
}

TEST_F(ChangeTypeTest, Currency) {
  ASSERT_EQ(Change(R8(1.23456), VT_CY), S_OK);
  EXPECT_EQ(out_->cyVal.int64, 12346);
  EXPECT_EQ(TextOf(Cy(12346)), "1,2346");
  EXPECT_EQ(TextOf(Cy(15000)), "1,5");
  EXPECT_EQ(TextOf(Cy(-30000)), "-3");
  EXPECT_EQ(TextOf(Cy(5)), "0,0005");
  EXPECT_EQ(IntOf(Cy(25000)), 2);
  EXPECT_EQ(IntOf(Cy(35000)), 4);
  ASSERT_EQ(Change(I4(-3), VT_CY), S_OK);
  EXPECT_EQ(out_->cyVal.int64, -30000);
  EXPECT_EQ(Change(I8(std::numeric_limits<std::int64_t>::max()), VT_CY), DISP_E_OVERFLOW);
  ASSERT_EQ(Change(Text("12,5"), VT_CY), S_OK);
  EXPECT_EQ(out_->cyVal.int64, 125000);
  EXPECT_EQ(RealOf(Cy(12345)), 1.2345);
}

TEST_F(ChangeTypeTest, Decimal) {
  ASSERT_EQ(Change(R8(-123.456), VT_DECIMAL), S_OK);
  EXPECT_EQ(out_->decVal.scale, 3);
  EXPECT_EQ(out_->decVal.sign, 0x80);
  EXPECT_EQ(out_->decVal.Lo64, 123456u);
  ScopedVariant dec;
  ASSERT_EQ(VariantCopy(dec.get(), out_.get()), S_OK);
  EXPECT_EQ(RealOf(dec.get()), -123.456);
  EXPECT_EQ(TextOf(dec.get()), "-123,456");
  EXPECT_EQ(IntOf(dec.get()), -123);

  ASSERT_EQ(Change(Text("0,1"), VT_DECIMAL), S_OK);
  ASSERT_EQ(VariantCopy(dec.get(), out_.get()), S_OK);
  EXPECT_EQ(TextOf(dec.get()), "0,1");
  ASSERT_EQ(Change(R8(2.5), VT_DECIMAL), S_OK);
  ASSERT_EQ(VariantCopy(dec.get(), out_.get()), S_OK);
  EXPECT_EQ(IntOf(dec.get()), 2);
  ASSERT_EQ(Change(I8(-5), VT_DECIMAL), S_OK);
  ASSERT_EQ(VariantCopy(dec.get(), out_.get()), S_OK);
  EXPECT_EQ(TextOf(dec.get()), "-5");
  EXPECT_EQ(Change(R8(1e30), VT_DECIMAL), DISP_E_OVERFLOW);
  ASSERT_EQ(Change(R8(1e-300), VT_DECIMAL), S_OK);  // too small for 28 places: zero
  EXPECT_EQ(out_->decVal.Lo64, 0u);
  ASSERT_EQ(Change(R8(1.5e-28), VT_DECIMAL), S_OK);
  EXPECT_EQ(out_->decVal.scale, 28);
  EXPECT_EQ(out_->decVal.Lo64, 2u);  // 1,5 at the last place rounds half to even
  ASSERT_EQ(Change(R8(1e20), VT_DECIMAL), S_OK);
  ASSERT_EQ(VariantCopy(dec.get(), out_.get()), S_OK);
  EXPECT_EQ(TextOf(dec.get()), "100000000000000000000");
  ASSERT_EQ(Change(Cy(12345), VT_DECIMAL), S_OK);
  ASSERT_EQ(VariantCopy(dec.get(), out_.get()), S_OK);
  EXPECT_EQ(TextOf(dec.get()), "1,2345");
}

TEST_F(ChangeTypeTest, TextToTextIsAnIndependentCopy) {
  VARIANT* src = Text("same");
  ASSERT_EQ(Change(src, VT_BSTR), S_OK);
  EXPECT_NE(out_->bstrVal, src->bstrVal);
  EXPECT_EQ(BstrToUtf8(out_->bstrVal), "same");
}

TEST_F(ChangeTypeTest, InPlaceConversionReleasesTheSource) {
  VARIANT* v = Text("17");
  ASSERT_EQ(VariantChangeType(v, v, 0, VT_I4), S_OK);  // ASan reports the old text if it leaked
  EXPECT_EQ(v->vt, VT_I4);
  EXPECT_EQ(v->lVal, 17);
  ASSERT_EQ(VariantChangeType(v, v, 0, VT_BSTR), S_OK);
  EXPECT_EQ(BstrToUtf8(v->bstrVal), "17");
  EXPECT_EQ(VariantChangeType(v, v, 0, VT_DATE), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(v->vt, VT_BSTR);  // a failed conversion leaves the destination alone
}

TEST_F(ChangeTypeTest, ReferencesAreFollowed) {
  LONG value = 5;
  VARIANT ref;
  ref.vt = VT_BYREF | VT_I4;
  ref.plVal = &value;
  EXPECT_EQ(TextOf(&ref), "5");
  VARIANT link;
  link.vt = VT_BYREF | VT_VARIANT;
  link.pvarVal = I4(9);
  EXPECT_EQ(TextOf(&link), "9");
  EXPECT_EQ(Change(&ref, VT_BYREF | VT_I4), DISP_E_BADVARTYPE);
}

TEST_F(ChangeTypeTest, ArraysInterfacesAndErrorsDoNotConvert) {
  VARIANT* array = Make(VT_ARRAY | VT_VARIANT,
                        [](VARIANT& v) { v.parray = SafeArrayCreateVector(VT_VARIANT, 0, 1); });
  EXPECT_EQ(Change(array, VT_I4), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(Change(array, VT_BSTR), DISP_E_TYPEMISMATCH);
  ASSERT_EQ(Change(array, VT_ARRAY | VT_VARIANT), S_OK);
  EXPECT_NE(out_->parray, array->parray);
  EXPECT_EQ(Change(I4(1), VT_ARRAY | VT_VARIANT), DISP_E_TYPEMISMATCH);

  CountedDispatch dispatch;
  dispatch.AddRef();
  VARIANT* disp = Make(VT_DISPATCH, [&](VARIANT& v) { v.pdispVal = &dispatch; });
  EXPECT_EQ(Change(disp, VT_BSTR), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(Change(disp, VT_I4), DISP_E_TYPEMISMATCH);
  ASSERT_EQ(Change(disp, VT_UNKNOWN), S_OK);
  EXPECT_EQ(dispatch.RefCount(), 3u);
  VariantClear(out_.get());
  EXPECT_EQ(dispatch.RefCount(), 2u);
  VariantClear(disp);
  EXPECT_EQ(dispatch.RefCount(), 1u);

  CountedUnknown unknown;
  unknown.AddRef();
  VARIANT* unk = Make(VT_UNKNOWN, [&](VARIANT& v) { v.punkVal = &unknown; });
  EXPECT_EQ(Change(unk, VT_DISPATCH), DISP_E_TYPEMISMATCH);
  VariantClear(unk);
  EXPECT_EQ(unknown.RefCount(), 1u);

  ASSERT_EQ(Change(Empty(), VT_DISPATCH), S_OK);
  EXPECT_EQ(out_->pdispVal, nullptr);

  VARIANT* error = Make(VT_ERROR, [](VARIANT& v) { v.scode = DISP_E_PARAMNOTFOUND; });
  EXPECT_EQ(Change(error, VT_I4), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(Change(error, VT_BSTR), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(Change(I4(1), VT_VARIANT), DISP_E_BADVARTYPE);
}

}  // namespace
