// SAFEARRAY: every element type, n dimensions, empty dimensions, bounds, deep copies.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "platform/oleauto.h"
#include "platform/text.h"
#include "tests/platform/ole_test_support.h"

using namespace ole_test;

namespace {

struct ArrayDeleter {
  void operator()(SAFEARRAY* psa) const { EXPECT_EQ(SafeArrayDestroy(psa), S_OK); }
};
using ArrayPtr = std::unique_ptr<SAFEARRAY, ArrayDeleter>;

ArrayPtr Vector(VARTYPE vt, LONG low, ULONG count) {
  return ArrayPtr(SafeArrayCreateVector(vt, low, count));
}

struct PlainType {
  VARTYPE vt;
  ULONG size;
};

class PlainElementTest : public ::testing::TestWithParam<PlainType> {};

TEST_P(PlainElementTest, ZeroedPutGetAndCopy) {
  const auto [vt, size] = GetParam();
  ArrayPtr array = Vector(vt, -1, 3);
  ASSERT_TRUE(array);
  EXPECT_EQ(SafeArrayGetElemsize(array.get()), size);
  VARTYPE stored = 0;
  ASSERT_EQ(SafeArrayGetVartype(array.get(), &stored), S_OK);
  EXPECT_EQ(stored, vt);

  unsigned char zero[16] = {};
  unsigned char value[16];
  unsigned char read[16];
  for (ULONG i = 0; i < size; ++i) value[i] = static_cast<unsigned char>(0xA0 + i);
  const LONG index = 1;
  ASSERT_EQ(SafeArrayGetElement(array.get(), &index, read), S_OK);
  EXPECT_EQ(std::memcmp(read, zero, size), 0);
  ASSERT_EQ(SafeArrayPutElement(array.get(), &index, value), S_OK);
  ASSERT_EQ(SafeArrayGetElement(array.get(), &index, read), S_OK);
  EXPECT_EQ(std::memcmp(read, value, size), 0);

  SAFEARRAY* raw = nullptr;
  ASSERT_EQ(SafeArrayCopy(array.get(), &raw), S_OK);
  ArrayPtr copy(raw);
  ASSERT_EQ(SafeArrayGetElement(copy.get(), &index, read), S_OK);
  EXPECT_EQ(std::memcmp(read, value, size), 0);
  const LONG outside = 2;
  EXPECT_EQ(SafeArrayGetElement(copy.get(), &outside, read), DISP_E_BADINDEX);
}

INSTANTIATE_TEST_SUITE_P(
    EveryPlainType, PlainElementTest,
    ::testing::Values(PlainType{VT_I1, 1}, PlainType{VT_UI1, 1}, PlainType{VT_I2, 2},
                      PlainType{VT_UI2, 2}, PlainType{VT_BOOL, 2}, PlainType{VT_I4, 4},
                      PlainType{VT_UI4, 4}, PlainType{VT_INT, 4}, PlainType{VT_UINT, 4},
                      PlainType{VT_R4, 4}, PlainType{VT_ERROR, 4}, PlainType{VT_I8, 8},
                      PlainType{VT_UI8, 8}, PlainType{VT_R8, 8}, PlainType{VT_CY, 8},
                      PlainType{VT_DATE, 8}, PlainType{VT_DECIMAL, 16}));

TEST(SafeArray, TypesWithoutElementsAreRefused) {
  const SAFEARRAYBOUND bound{1, 0};
  EXPECT_EQ(SafeArrayCreate(VT_EMPTY, 1, &bound), nullptr);
  EXPECT_EQ(SafeArrayCreate(VT_NULL, 1, &bound), nullptr);
  EXPECT_EQ(SafeArrayCreate(VT_I4, 0, &bound), nullptr);
  EXPECT_EQ(SafeArrayCreate(VT_I4 | VT_BYREF, 1, &bound), nullptr);
  const SAFEARRAYBOUND beyond{2, 0x7FFFFFFF};  // the upper bound would not fit 32 bits
  EXPECT_EQ(SafeArrayCreate(VT_I4, 1, &beyond), nullptr);
  const SAFEARRAYBOUND huge[2] = {{0x10000, 0}, {0x10000, 0}};
  EXPECT_EQ(SafeArrayCreate(VT_VARIANT, 2, huge), nullptr);
}

TEST(SafeArray, EmptyDimensionWorks) {
  ArrayPtr array = Vector(VT_VARIANT, 0, 0);
  ASSERT_TRUE(array);
  LONG low = 1;
  LONG high = 1;
  ASSERT_EQ(SafeArrayGetLBound(array.get(), 1, &low), S_OK);
  ASSERT_EQ(SafeArrayGetUBound(array.get(), 1, &high), S_OK);
  EXPECT_EQ(low, 0);
  EXPECT_EQ(high, -1);
  ScopedVariant out;
  const LONG index = 0;
  EXPECT_EQ(SafeArrayGetElement(array.get(), &index, out.get()), DISP_E_BADINDEX);
  SAFEARRAY* raw = nullptr;
  ASSERT_EQ(SafeArrayCopy(array.get(), &raw), S_OK);
  ArrayPtr copy(raw);
  ASSERT_EQ(SafeArrayGetUBound(copy.get(), 1, &high), S_OK);
  EXPECT_EQ(high, -1);

  const SAFEARRAYBOUND bounds[2] = {{3, 0}, {0, 5}};  // 3 fields, no items
  ArrayPtr table(SafeArrayCreate(VT_BSTR, 2, bounds));
  ASSERT_TRUE(table);
  ASSERT_EQ(SafeArrayGetUBound(table.get(), 2, &high), S_OK);
  EXPECT_EQ(high, 4);
  const LONG cell[2] = {0, 5};
  BSTR text = nullptr;
  EXPECT_EQ(SafeArrayGetElement(table.get(), cell, &text), DISP_E_BADINDEX);
}

TEST(SafeArray, ManyDimensionsFirstIndexFastest) {
  const SAFEARRAYBOUND bounds[3] = {{2, 1}, {3, -1}, {4, 0}};
  ArrayPtr array(SafeArrayCreate(VT_I4, 3, bounds));
  ASSERT_TRUE(array);
  EXPECT_EQ(SafeArrayGetDim(array.get()), 3u);
  for (LONG k = 0; k <= 3; ++k) {
    for (LONG j = -1; j <= 1; ++j) {
      for (LONG i = 1; i <= 2; ++i) {
        const LONG index[3] = {i, j, k};
        const LONG value = i * 100 + j * 10 + k;
        ASSERT_EQ(SafeArrayPutElement(array.get(), index, &value), S_OK);
      }
    }
  }
  const auto* data = static_cast<const LONG*>(array->pvData);
  EXPECT_EQ(data[0], 1 * 100 - 10 + 0);
  EXPECT_EQ(data[1], 2 * 100 - 10 + 0);  // the next element steps the first index
  EXPECT_EQ(data[2], 1 * 100 + 0 + 0);
  EXPECT_EQ(data[6], 1 * 100 - 10 + 1);
  const LONG probe[3] = {2, 1, 3};
  LONG value = 0;
  ASSERT_EQ(SafeArrayGetElement(array.get(), probe, &value), S_OK);
  EXPECT_EQ(value, 213);
}

TEST(SafeArray, IndicesAndDimensionsOutsideTheBounds) {
  const SAFEARRAYBOUND bounds[2] = {{2, 1}, {3, 0}};
  ArrayPtr array(SafeArrayCreate(VT_I4, 2, bounds));
  LONG value = 0;
  for (const auto& index : std::vector<std::vector<LONG>>{{0, 0}, {3, 0}, {1, -1}, {1, 3}}) {
    EXPECT_EQ(SafeArrayGetElement(array.get(), index.data(), &value), DISP_E_BADINDEX);
    EXPECT_EQ(SafeArrayPutElement(array.get(), index.data(), &value), DISP_E_BADINDEX);
    void* element = nullptr;
    EXPECT_EQ(SafeArrayPtrOfIndex(array.get(), index.data(), &element), DISP_E_BADINDEX);
  }
  LONG bound = 0;
  EXPECT_EQ(SafeArrayGetLBound(array.get(), 0, &bound), DISP_E_BADINDEX);
  EXPECT_EQ(SafeArrayGetUBound(array.get(), 3, &bound), DISP_E_BADINDEX);
  ASSERT_EQ(SafeArrayGetLBound(array.get(), 2, &bound), S_OK);
  EXPECT_EQ(bound, 0);
  ASSERT_EQ(SafeArrayGetUBound(array.get(), 1, &bound), S_OK);
  EXPECT_EQ(bound, 2);
  EXPECT_EQ(SafeArrayGetDim(nullptr), 0u);
  EXPECT_EQ(SafeArrayGetLBound(nullptr, 1, &bound), E_INVALIDARG);
}

TEST(SafeArray, StringElementsAreCopiedInAndOut) {
  ArrayPtr array = Vector(VT_BSTR, 0, 2);
  EXPECT_EQ(array->fFeatures & FADF_BSTR, FADF_BSTR);
  BSTR text = SysAllocString(u"first");
  const LONG index = 0;
  ASSERT_EQ(SafeArrayPutElement(array.get(), &index, text), S_OK);
  SysFreeString(text);  // the array holds its own copy
  BSTR second = SysAllocString(u"second");
  ASSERT_EQ(SafeArrayPutElement(array.get(), &index, second), S_OK);  // "first" released
  SysFreeString(second);

  BSTR out = nullptr;
  ASSERT_EQ(SafeArrayGetElement(array.get(), &index, &out), S_OK);
  EXPECT_EQ(View(out), u"second");
  BSTR* inside = nullptr;
  SafeArrayPtrOfIndex(array.get(), &index, reinterpret_cast<void**>(&inside));
  EXPECT_NE(out, *inside);
  SysFreeString(out);

  const LONG unset = 1;
  ASSERT_EQ(SafeArrayGetElement(array.get(), &unset, &out), S_OK);
  EXPECT_EQ(out, nullptr);

  SAFEARRAY* raw = nullptr;
  ASSERT_EQ(SafeArrayCopy(array.get(), &raw), S_OK);
  ArrayPtr copy(raw);
  BSTR* copied = nullptr;
  SafeArrayPtrOfIndex(copy.get(), &index, reinterpret_cast<void**>(&copied));
  EXPECT_NE(*copied, *inside);
  EXPECT_EQ(View(*copied), u"second");
}

TEST(SafeArray, VariantElementsClearTheTargetAndReleaseTheOld) {
  ArrayPtr array = Vector(VT_VARIANT, 0, 1);
  const LONG index = 0;
  ScopedVariant value;
  value->vt = VT_BSTR;
  value->bstrVal = SysAllocString(u"element");
  ASSERT_EQ(SafeArrayPutElement(array.get(), &index, value.get()), S_OK);
  ASSERT_EQ(SafeArrayPutElement(array.get(), &index, value.get()), S_OK);  // old copy released

  ScopedVariant out;
  out->vt = VT_BSTR;
  out->bstrVal = SysAllocString(u"previous content");  // cleared by the read
  ASSERT_EQ(SafeArrayGetElement(array.get(), &index, out.get()), S_OK);
  EXPECT_EQ(out->vt, VT_BSTR);
  EXPECT_EQ(View(out->bstrVal), u"element");
  EXPECT_NE(out->bstrVal, value->bstrVal);
  EXPECT_EQ(SafeArrayPutElement(array.get(), &index, nullptr), E_INVALIDARG);
}

TEST(SafeArray, InterfaceElementsCountReferences) {
  CountedDispatch dispatch;
  for (VARTYPE vt : {VT_DISPATCH, VT_UNKNOWN}) {
    {
      ArrayPtr array = Vector(vt, 0, 2);
      const LONG index = 1;
      ASSERT_EQ(SafeArrayPutElement(array.get(), &index, static_cast<IDispatch*>(&dispatch)), S_OK);
      EXPECT_EQ(dispatch.RefCount(), 2u);
      IUnknown* out = nullptr;
      ASSERT_EQ(SafeArrayGetElement(array.get(), &index, &out), S_OK);
      EXPECT_EQ(dispatch.RefCount(), 3u);
      out->Release();
      SAFEARRAY* raw = nullptr;
      ASSERT_EQ(SafeArrayCopy(array.get(), &raw), S_OK);
      EXPECT_EQ(dispatch.RefCount(), 3u);
      ASSERT_EQ(SafeArrayDestroy(raw), S_OK);
      EXPECT_EQ(dispatch.RefCount(), 2u);
      ASSERT_EQ(SafeArrayPutElement(array.get(), &index, nullptr), S_OK);  // releases
      EXPECT_EQ(dispatch.RefCount(), 1u);
      ASSERT_EQ(SafeArrayPutElement(array.get(), &index, static_cast<IDispatch*>(&dispatch)), S_OK);
    }
    EXPECT_EQ(dispatch.RefCount(), 1u) << vt;  // destroying the array released its reference
  }
}

TEST(SafeArray, NestedArraysCopyDeepAndDestroyCompletely) {
  CountedDispatch dispatch;
  {
    ArrayPtr outer = Vector(VT_VARIANT, 0, 2);
    ScopedVariant middle;
    middle->vt = VT_ARRAY | VT_VARIANT;
    middle->parray = SafeArrayCreateVector(VT_VARIANT, 1, 2);
    ScopedVariant leaf;
    leaf->vt = VT_BSTR;
    leaf->bstrVal = SysAllocString(u"leaf");
    const LONG one = 1;
    const LONG two = 2;
    ASSERT_EQ(SafeArrayPutElement(middle->parray, &one, leaf.get()), S_OK);
    ScopedVariant disp;
    dispatch.AddRef();
    disp->vt = VT_DISPATCH;
    disp->pdispVal = &dispatch;
    ASSERT_EQ(SafeArrayPutElement(middle->parray, &two, disp.get()), S_OK);
    const LONG zero = 0;
    ASSERT_EQ(SafeArrayPutElement(outer.get(), &zero, middle.get()), S_OK);
    EXPECT_EQ(dispatch.RefCount(), 4u);  // ours, disp, middle's element, outer's copy

    SAFEARRAY* raw = nullptr;
    ASSERT_EQ(SafeArrayCopy(outer.get(), &raw), S_OK);
    ArrayPtr copy(raw);
    EXPECT_EQ(dispatch.RefCount(), 5u);
    ScopedVariant copiedMiddle;
    ASSERT_EQ(SafeArrayGetElement(copy.get(), &zero, copiedMiddle.get()), S_OK);
    ScopedVariant originalMiddle;
    ASSERT_EQ(SafeArrayGetElement(outer.get(), &zero, originalMiddle.get()), S_OK);
    EXPECT_NE(copiedMiddle->parray, originalMiddle->parray);
    ScopedVariant copiedLeaf;
    ASSERT_EQ(SafeArrayGetElement(copiedMiddle->parray, &one, copiedLeaf.get()), S_OK);
    EXPECT_EQ(View(copiedLeaf->bstrVal), u"leaf");
  }
  EXPECT_EQ(dispatch.RefCount(), 1u);
}

TEST(SafeArray, LockedArraysAreNotDestroyed) {
  SAFEARRAY* array = SafeArrayCreateVector(VT_I4, 0, 1);
  ASSERT_EQ(SafeArrayLock(array), S_OK);
  EXPECT_EQ(SafeArrayDestroy(array), DISP_E_ARRAYISLOCKED);
  ASSERT_EQ(SafeArrayUnlock(array), S_OK);
  EXPECT_EQ(SafeArrayUnlock(array), E_UNEXPECTED);
  EXPECT_EQ(SafeArrayDestroy(array), S_OK);
  EXPECT_EQ(SafeArrayDestroy(nullptr), S_OK);
  SAFEARRAY* out = reinterpret_cast<SAFEARRAY*>(1);
  EXPECT_EQ(SafeArrayCopy(nullptr, &out), S_OK);
  EXPECT_EQ(out, nullptr);
}

TEST(ExcepInfo, ClearFreesAndZeroes) {
  EXCEPINFO info{};
  info.bstrSource = SysAllocString(u"EVariantError");
  info.bstrDescription = SysAllocString(u"message");
  info.scode = 1001;
  ClearExcepInfo(&info);
  EXPECT_EQ(info.bstrSource, nullptr);
  EXPECT_EQ(info.bstrDescription, nullptr);
  EXPECT_EQ(info.scode, 0);
  ClearExcepInfo(nullptr);
}

}  // namespace
