// BSTR storage and the VARIANT life cycle: clear, copy, copy through references.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/oleauto.h"
#include "platform/text.h"
#include "tests/platform/ole_test_support.h"

using namespace ole_test;

namespace {

TEST(Bstr, LengthPrefixAndTerminator) {
  BSTR text = SysAllocString(u"Дверь");
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(SysStringLen(text), 5u);
  EXPECT_EQ(SysStringByteLen(text), 10u);
  std::uint32_t prefix = 0;
  std::memcpy(&prefix, reinterpret_cast<char*>(text) - 4, 4);
  EXPECT_EQ(prefix, 10u);  // the host reads the byte length just before the characters
  EXPECT_EQ(text[5], u'\0');
  SysFreeString(text);
}

TEST(Bstr, EmbeddedNulsAreKept) {
  const char16_t source[] = {u'a', u'\0', u'b', u'\0'};
  BSTR text = SysAllocStringLen(source, 4);
  EXPECT_EQ(SysStringLen(text), 4u);
  EXPECT_EQ(View(text), std::u16string_view(source, 4));
  EXPECT_EQ(BstrToUtf8(text), std::string("a\0b\0", 4));
  BSTR copy = SysAllocStringLen(text, SysStringLen(text));
  EXPECT_EQ(View(copy), View(text));
  SysFreeString(copy);
  SysFreeString(text);
}

TEST(Bstr, NullIsTheEmptyString) {
  EXPECT_EQ(SysStringLen(nullptr), 0u);
  EXPECT_EQ(SysStringByteLen(nullptr), 0u);
  EXPECT_EQ(SysAllocString(nullptr), nullptr);
  SysFreeString(nullptr);
  EXPECT_EQ(BstrToUtf8(nullptr), "");
  BSTR empty = BstrFromUtf8("");
  ASSERT_NE(empty, nullptr);  // an empty text is a real, empty BSTR
  EXPECT_EQ(SysStringLen(empty), 0u);
  SysFreeString(empty);
}

TEST(Bstr, AllocWithoutTextIsZeroFilled) {
  BSTR text = SysAllocStringLen(nullptr, 3);
  EXPECT_EQ(View(text), std::u16string_view(u"\0\0\0", 3));
  SysFreeString(text);
}

TEST(Bstr, ReAllocFromItsOwnText) {
  BSTR text = SysAllocString(u"abcdef");
  ASSERT_TRUE(SysReAllocStringLen(&text, text + 2, 3));
  EXPECT_EQ(View(text), u"cde");
  ASSERT_TRUE(SysReAllocStringLen(&text, nullptr, 0));
  EXPECT_EQ(SysStringLen(text), 0u);
  SysFreeString(text);
}

TEST(VariantClear, FreesWhatItOwns) {
  CountedDispatch dispatch;
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocString(u"text");
  EXPECT_EQ(VariantClear(&v), S_OK);  // ASan reports the string if it leaked
  EXPECT_EQ(v.vt, VT_EMPTY);

  dispatch.AddRef();
  v.vt = VT_DISPATCH;
  v.pdispVal = &dispatch;
  EXPECT_EQ(VariantClear(&v), S_OK);
  EXPECT_EQ(dispatch.RefCount(), 1u);

  v.vt = VT_ARRAY | VT_BSTR;
  v.parray = SafeArrayCreateVector(VT_BSTR, 0, 2);
  LONG index = 1;
  BSTR element = BstrFromUtf8("x");
  ASSERT_EQ(SafeArrayPutElement(v.parray, &index, element), S_OK);  // the array takes a copy
  SysFreeString(element);
  EXPECT_EQ(VariantClear(&v), S_OK);
}

TEST(VariantClear, ReferencesAreNotFollowed) {
  CountedDispatch dispatch;
  IDispatch* target = &dispatch;
  BSTR text = SysAllocString(u"kept");
  VARIANT v;
  v.vt = VT_BYREF | VT_BSTR;
  v.pbstrVal = &text;
  EXPECT_EQ(VariantClear(&v), S_OK);
  EXPECT_EQ(View(text), u"kept");
  v.vt = VT_BYREF | VT_DISPATCH;
  v.ppdispVal = &target;
  EXPECT_EQ(VariantClear(&v), S_OK);
  EXPECT_EQ(dispatch.RefCount(), 1u);
  SysFreeString(text);
}

TEST(VariantClear, UnknownTypeIsRefusedAndLeftAlone) {
  VARIANT v;
  VariantInit(&v);
  for (VARTYPE bad : {VARTYPE{VT_VARIANT}, VARTYPE{15}, VARTYPE{0x7F}, VARTYPE{VT_BYREF | VT_EMPTY},
                      VARTYPE{VT_ARRAY | VT_NULL}, VARTYPE{0x8003}}) {
    v.vt = bad;
    EXPECT_EQ(VariantClear(&v), DISP_E_BADVARTYPE) << bad;
    EXPECT_EQ(v.vt, bad);
  }
  EXPECT_EQ(VariantClear(nullptr), E_INVALIDARG);
}

TEST(VariantCopy, StringsAreDuplicated) {
  ScopedVariant src;
  ScopedVariant dst;
  src->vt = VT_BSTR;
  src->bstrVal = SysAllocString(u"abc");
  dst->vt = VT_BSTR;
  dst->bstrVal = SysAllocString(u"old");  // released by the copy
  ASSERT_EQ(VariantCopy(dst.get(), src.get()), S_OK);
  EXPECT_NE(dst->bstrVal, src->bstrVal);
  EXPECT_EQ(View(dst->bstrVal), u"abc");
  src->bstrVal[0] = u'X';
  EXPECT_EQ(View(dst->bstrVal), u"abc");
}

TEST(VariantCopy, NullBstrStaysNull) {
  ScopedVariant src;
  ScopedVariant dst;
  src->vt = VT_BSTR;
  src->bstrVal = nullptr;
  ASSERT_EQ(VariantCopy(dst.get(), src.get()), S_OK);
  EXPECT_EQ(dst->vt, VT_BSTR);
  EXPECT_EQ(dst->bstrVal, nullptr);
}

TEST(VariantCopy, InterfacesGetAReference) {
  CountedDispatch dispatch;
  {
    ScopedVariant src;
    ScopedVariant dst;
    dispatch.AddRef();
    src->vt = VT_DISPATCH;
    src->pdispVal = &dispatch;
    ASSERT_EQ(VariantCopy(dst.get(), src.get()), S_OK);
    EXPECT_EQ(dst->pdispVal, &dispatch);
    EXPECT_EQ(dispatch.RefCount(), 3u);
  }
  EXPECT_EQ(dispatch.RefCount(), 1u);
}

TEST(VariantCopy, ArraysAreDeep) {
  ScopedVariant src;
  ScopedVariant dst;
  src->vt = VT_ARRAY | VT_VARIANT;
  src->parray = SafeArrayCreateVector(VT_VARIANT, 0, 1);
  ScopedVariant inner;
  inner->vt = VT_ARRAY | VT_BSTR;
  inner->parray = SafeArrayCreateVector(VT_BSTR, 0, 1);
  LONG index = 0;
  BSTR text = SysAllocString(u"deep");
  ASSERT_EQ(SafeArrayPutElement(inner->parray, &index, text), S_OK);
  SysFreeString(text);
  ASSERT_EQ(SafeArrayPutElement(src->parray, &index, inner.get()), S_OK);

  ASSERT_EQ(VariantCopy(dst.get(), src.get()), S_OK);
  EXPECT_NE(dst->parray, src->parray);
  VARIANT* srcInner = nullptr;
  VARIANT* dstInner = nullptr;
  ASSERT_EQ(SafeArrayPtrOfIndex(src->parray, &index, reinterpret_cast<void**>(&srcInner)), S_OK);
  ASSERT_EQ(SafeArrayPtrOfIndex(dst->parray, &index, reinterpret_cast<void**>(&dstInner)), S_OK);
  ASSERT_EQ(dstInner->vt, VT_ARRAY | VT_BSTR);
  EXPECT_NE(dstInner->parray, srcInner->parray);
  BSTR* srcText = nullptr;
  BSTR* dstText = nullptr;
  SafeArrayPtrOfIndex(srcInner->parray, &index, reinterpret_cast<void**>(&srcText));
  SafeArrayPtrOfIndex(dstInner->parray, &index, reinterpret_cast<void**>(&dstText));
  EXPECT_NE(*dstText, *srcText);
  EXPECT_EQ(View(*dstText), u"deep");
}

TEST(VariantCopy, ReferenceIsCopiedAsTheReference) {
  LONG value = 7;
  VARIANT src;
  src.vt = VT_BYREF | VT_I4;
  src.plVal = &value;
  ScopedVariant dst;
  ASSERT_EQ(VariantCopy(dst.get(), &src), S_OK);
  EXPECT_EQ(dst->vt, VT_BYREF | VT_I4);
  EXPECT_EQ(dst->plVal, &value);
}

TEST(VariantCopy, SelfCopyAndBadTypes) {
  ScopedVariant v;
  v->vt = VT_BSTR;
  v->bstrVal = SysAllocString(u"same");
  EXPECT_EQ(VariantCopy(v.get(), v.get()), S_OK);
  EXPECT_EQ(View(v->bstrVal), u"same");
  VARIANT bad;
  VariantInit(&bad);
  bad.vt = 0x7F;
  EXPECT_EQ(VariantCopy(v.get(), &bad), DISP_E_BADVARTYPE);
  EXPECT_EQ(View(v->bstrVal), u"same");  // the destination is untouched on failure
  EXPECT_EQ(VariantCopy(nullptr, v.get()), E_INVALIDARG);
}

TEST(VariantCopyInd, ScalarReferenceBecomesTheValue) {
  std::int16_t small = -5;
  double real = 2.5;
  VARIANT src;
  ScopedVariant dst;
  src.vt = VT_BYREF | VT_I2;
  src.piVal = &small;
  ASSERT_EQ(VariantCopyInd(dst.get(), &src), S_OK);
  EXPECT_EQ(dst->vt, VT_I2);
  EXPECT_EQ(dst->iVal, -5);
  src.vt = VT_BYREF | VT_R8;
  src.pdblVal = &real;
  ASSERT_EQ(VariantCopyInd(dst.get(), &src), S_OK);
  EXPECT_EQ(dst->vt, VT_R8);
  EXPECT_EQ(dst->dblVal, 2.5);
}

TEST(VariantCopyInd, StringReferenceIsDuplicated) {
  BSTR text = SysAllocString(u"host");
  VARIANT src;
  src.vt = VT_BYREF | VT_BSTR;
  src.pbstrVal = &text;
  ScopedVariant dst;
  ASSERT_EQ(VariantCopyInd(dst.get(), &src), S_OK);
  EXPECT_EQ(dst->vt, VT_BSTR);
  EXPECT_NE(dst->bstrVal, text);
  EXPECT_EQ(View(dst->bstrVal), u"host");
  SysFreeString(text);
}

TEST(VariantCopyInd, VariantReferenceChainsAreFollowed) {
  ScopedVariant target;
  target->vt = VT_BSTR;
  target->bstrVal = SysAllocString(u"end");
  VARIANT link1;
  link1.vt = VT_BYREF | VT_VARIANT;
  link1.pvarVal = target.get();
  VARIANT link2;
  link2.vt = VT_BYREF | VT_VARIANT;
  link2.pvarVal = &link1;
  ScopedVariant dst;
  ASSERT_EQ(VariantCopyInd(dst.get(), &link2), S_OK);
  EXPECT_EQ(dst->vt, VT_BSTR);
  EXPECT_NE(dst->bstrVal, target->bstrVal);
  EXPECT_EQ(View(dst->bstrVal), u"end");

  // A referenced VARIANT that itself refers to a scalar arrives as the scalar.
  LONG value = 3;
  VARIANT scalarRef;
  scalarRef.vt = VT_BYREF | VT_I4;
  scalarRef.plVal = &value;
  link1.pvarVal = &scalarRef;
  ASSERT_EQ(VariantCopyInd(dst.get(), &link2), S_OK);
  EXPECT_EQ(dst->vt, VT_I4);
  EXPECT_EQ(dst->lVal, 3);
}

TEST(VariantCopyInd, ArrayReferenceIsDeepCopied) {
  SAFEARRAY* array = SafeArrayCreateVector(VT_VARIANT, 0, 2);
  VARIANT src;
  src.vt = VT_BYREF | VT_ARRAY | VT_VARIANT;
  src.pparray = &array;
  ScopedVariant dst;
  ASSERT_EQ(VariantCopyInd(dst.get(), &src), S_OK);
  EXPECT_EQ(dst->vt, VT_ARRAY | VT_VARIANT);
  EXPECT_NE(dst->parray, array);
  EXPECT_EQ(SafeArrayDestroy(array), S_OK);
}

TEST(VariantCopyInd, InterfaceReferenceAddsAReference) {
  CountedDispatch dispatch;
  IDispatch* target = &dispatch;
  VARIANT src;
  src.vt = VT_BYREF | VT_DISPATCH;
  src.ppdispVal = &target;
  {
    ScopedVariant dst;
    ASSERT_EQ(VariantCopyInd(dst.get(), &src), S_OK);
    EXPECT_EQ(dst->vt, VT_DISPATCH);
    EXPECT_EQ(dispatch.RefCount(), 2u);
  }
  EXPECT_EQ(dispatch.RefCount(), 1u);
}

TEST(VariantCopyInd, BrokenReferencesAreRefused) {
  VARIANT src;
  src.vt = VT_BYREF | VT_I4;
  src.plVal = nullptr;
  ScopedVariant dst;
  EXPECT_EQ(VariantCopyInd(dst.get(), &src), E_INVALIDARG);
  VARIANT loop;  // a reference to itself never ends
  loop.vt = VT_BYREF | VT_VARIANT;
  loop.pvarVal = &loop;
  EXPECT_EQ(VariantCopyInd(dst.get(), &loop), E_INVALIDARG);
  EXPECT_EQ(dst->vt, VT_EMPTY);
}

}  // namespace
