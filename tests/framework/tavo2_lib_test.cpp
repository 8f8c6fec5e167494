#include "framework/tavo2_lib.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "framework/equipment_errors.h"
#include "platform/exceptions.h"
#include "platform/text.h"
#include "tests/framework/test_support.h"

namespace {

VARIANT RefTo(VARIANT& target) {
  VARIANT ref;
  VariantInit(&ref);
  ref.vt = VT_VARIANT | VT_BYREF;
  ref.pvarVal = &target;
  return ref;
}

OleVariant TypedArray(VARTYPE vt, LONG low, std::initializer_list<OleVariant> values) {
  OleVariant array = OleVariant::VarArrayCreate({{low, low + LONG(values.size()) - 1}}, vt);
  LONG i = low;
  for (const OleVariant& v : values) array.PutElement({i++}, v);
  return array;
}

// --- DerefVariant --------------------------------------------------------------------------------

TEST(DerefVariant, FollowsReferenceChainsAndCopiesTheValueOut) {
  OleVariant text("abc");
  VARIANT inner = RefTo(text.Raw());
  VARIANT outer = RefTo(inner);
  OleVariant dest(std::int32_t{7});
  DerefVariant(outer, dest);
  EXPECT_EQ(dest.Type(), VT_BSTR);
  EXPECT_EQ(dest.AsString(), "abc");
  EXPECT_NE(dest.Raw().bstrVal, text.Raw().bstrVal);  // a copy, not the host's string
}

TEST(DerefVariant, TypedReferenceArrivesAsItsValue) {
  std::int16_t storage = -12;
  VARIANT ref;
  VariantInit(&ref);
  ref.vt = VT_I2 | VT_BYREF;
  ref.piVal = &storage;
  OleVariant dest;
  DerefVariant(ref, dest);
  EXPECT_EQ(dest.Type(), VT_I2);
  EXPECT_EQ(dest.AsInteger(), -12);
}

TEST(DerefVariant, NullReferencesAndLoopsReadAsEmpty) {
  VARIANT nullLink;
  VariantInit(&nullLink);
  nullLink.vt = VT_VARIANT | VT_BYREF;
  OleVariant dest(std::int32_t{1});
  DerefVariant(nullLink, dest);
  EXPECT_TRUE(dest.IsEmpty());

  VARIANT nullTyped;
  VariantInit(&nullTyped);
  nullTyped.vt = VT_BSTR | VT_BYREF;
  DerefVariant(nullTyped, dest);
  EXPECT_TRUE(dest.IsEmpty());

  VARIANT loop;
  VariantInit(&loop);
  loop.vt = VT_VARIANT | VT_BYREF;
  loop.pvarVal = &loop;
  DerefVariant(loop, dest);
  EXPECT_TRUE(dest.IsEmpty());
}

// --- AssignToByRefVariant ------------------------------------------------------------------------

TEST(AssignToByRefVariant, ByValueDestinationReceivesACopy) {
  OleVariant dest(std::int32_t{1});
  OleVariant value("x");
  AssignToByRefVariant(dest.Raw(), value.Raw());
  EXPECT_EQ(dest.AsString(), "x");
  EXPECT_NE(dest.Raw().bstrVal, value.Raw().bstrVal);
}

TEST(AssignToByRefVariant, VariantReferenceReceivesTheValueWhateverItHeld) {
  OleVariant target(std::int32_t{5});
  VARIANT ref = RefTo(target.Raw());
  AssignToByRefVariant(ref, OleVariant("text").Raw());
  EXPECT_EQ(target.Type(), VT_BSTR);
  EXPECT_EQ(target.AsString(), "text");
}

TEST(AssignToByRefVariant, TypedReferencesAreConverted) {
  fwtest::HostCall vars;
  vars.RefTyped(VT_BOOL, OleVariant(false))
      .RefTyped(VT_BSTR, OleVariant("old"))
      .RefTyped(VT_I2, OleVariant(std::int32_t{0}))
      .RefTyped(VT_UI1, OleVariant(std::int32_t{0}))
      .RefTyped(VT_R8, OleVariant(0.0))
      .RefTyped(VT_CY, OleVariant(0.0));
  AssignToByRefVariant(const_cast<VARIANT&>(vars.Slot(0)), OleVariant(true).Raw());
  EXPECT_EQ(*vars.Slot(0).pboolVal, VARIANT_TRUE);
  AssignToByRefVariant(const_cast<VARIANT&>(vars.Slot(1)), OleVariant(std::int32_t{5}).Raw());
  EXPECT_EQ(BstrToUtf8(*vars.Slot(1).pbstrVal), "5");
  AssignToByRefVariant(const_cast<VARIANT&>(vars.Slot(2)), OleVariant("70000").Raw());
  EXPECT_EQ(*vars.Slot(2).piVal, static_cast<std::int16_t>(70000));  // low 16 bits
  AssignToByRefVariant(const_cast<VARIANT&>(vars.Slot(3)), OleVariant(std::int32_t{0x141}).Raw());
  EXPECT_EQ(*vars.Slot(3).pbVal, 0x41);
  AssignToByRefVariant(const_cast<VARIANT&>(vars.Slot(4)), OleVariant("2,5").Raw());
  EXPECT_DOUBLE_EQ(*vars.Slot(4).pdblVal, 2.5);
  AssignToByRefVariant(const_cast<VARIANT&>(vars.Slot(5)), OleVariant(1.25).Raw());
  EXPECT_EQ(vars.Slot(5).pcyVal->int64, 12500);
}

TEST(AssignToByRefVariant, UnsupportedTypeRaisesTheInputErrorAndWritesNothing) {
  std::int8_t storage = 3;
  VARIANT ref;
  VariantInit(&ref);
  ref.vt = VT_I1 | VT_BYREF;
  ref.pcVal = &storage;
  try {
    AssignToByRefVariant(ref, OleVariant(std::int32_t{9}).Raw());
    FAIL() << "no error";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "Ошибка входных параметров команды");
  }
  EXPECT_EQ(storage, 3);
}

// A value that does not convert raises the type-cast error, one out of the target's range the
// overflow error; either way the host's variable keeps what it held.
TEST(AssignToByRefVariant, ValueWithoutConversionRaisesAndWritesNothing) {
  enum class Raised { TypeCast, Overflow };
  const struct {
    VARTYPE vt;
    OleVariant value;
    Raised raised;
  } cases[] = {
      {VT_I4, OleVariant("abc"), Raised::TypeCast},  {VT_I4, OleVariant(1e300), Raised::Overflow},
      {VT_R4, OleVariant(1e300), Raised::Overflow},  {VT_R4, OleVariant("-1e39"), Raised::Overflow},
      {VT_CY, OleVariant(1e300), Raised::Overflow},  {VT_CY, OleVariant(-1e15), Raised::Overflow},
      {VT_BSTR, OleVariant::Null(), Raised::TypeCast}, {VT_I2, OleVariant::Null(), Raised::TypeCast},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(OleVariant::TypeName(c.vt) + " <- " + OleVariant::TypeName(c.value.Type()));
    fwtest::HostCall vars;
    vars.RefTyped(c.vt, OleVariant(std::int32_t{4}));
    VARIANT& ref = const_cast<VARIANT&>(vars.Slot(0));
    if (c.raised == Raised::Overflow) {
      EXPECT_THROW(AssignToByRefVariant(ref, c.value.Raw()), EVariantOverflowError);
    } else {
      EXPECT_THROW(AssignToByRefVariant(ref, c.value.Raw()), EVariantTypeCastError);
    }
    VARIANT held;
    VariantInit(&held);
    ASSERT_EQ(VariantCopyInd(&held, &ref), S_OK);
    EXPECT_EQ(OleVariant::Attach(held).AsInteger(), 4);
  }
}

TEST(AssignToByRefVariant, NullReferenceIsNotWritten) {
  VARIANT ref;
  VariantInit(&ref);
  ref.vt = VT_I4 | VT_BYREF;
  EXPECT_NO_THROW(AssignToByRefVariant(ref, OleVariant(std::int32_t{1}).Raw()));
  ref.vt = VT_VARIANT | VT_BYREF;
  EXPECT_NO_THROW(AssignToByRefVariant(ref, OleVariant(std::int32_t{1}).Raw()));
}

// A SAFEARRAY passed by reference is never written through as if it were a scalar.
class ByRefArray : public ::testing::Test {
 protected:
  void SetUp() override {
    held_ = OleVariant::VarArrayOf({OleVariant(std::int32_t{1}), OleVariant("a")});
    slot_ = held_.Raw().parray;
    VariantInit(&ref_);
    ref_.vt = VT_ARRAY | VT_VARIANT | VT_BYREF;
    ref_.pparray = &slot_;
  }
  void TearDown() override {
    held_.Raw().parray = nullptr;  // ownership went to slot_
    held_.Raw().vt = VT_EMPTY;
    if (slot_) SafeArrayDestroy(slot_);
  }
  OleVariant held_;
  SAFEARRAY* slot_ = nullptr;
  VARIANT ref_;
};

TEST_F(ByRefArray, EmptyClearsTheReferencedArray) {
  AssignToByRefVariant(ref_, OleVariant().Raw());
  EXPECT_EQ(slot_, nullptr);
}

TEST_F(ByRefArray, ArrayOfTheSameElementTypeReplacesIt) {
  OleVariant fresh = OleVariant::VarArrayOf({OleVariant("x"), OleVariant("y"), OleVariant("z")});
  AssignToByRefVariant(ref_, fresh.Raw());
  ASSERT_NE(slot_, nullptr);
  EXPECT_NE(slot_, fresh.Raw().parray);
  LONG high = 0;
  SafeArrayGetUBound(slot_, 1, &high);
  EXPECT_EQ(high, 2);
}

TEST_F(ByRefArray, ScalarsAndOtherArrayTypesAreRefused) {
  SAFEARRAY* before = slot_;
  EXPECT_THROW(AssignToByRefVariant(ref_, OleVariant(std::int32_t{5}).Raw()), Exception);
  OleVariant ints = TypedArray(VT_I4, 0, {OleVariant(std::int32_t{1})});
  EXPECT_THROW(AssignToByRefVariant(ref_, ints.Raw()), Exception);
  EXPECT_EQ(slot_, before);
}

// --- Element readers -----------------------------------------------------------------------------

TEST(VarArrayGetElements, IndicesAreAbsoluteWhateverTheLowerBound) {
  OleVariant array = OleVariant::VarArrayCreate({{1, 3}});
  array.PutElement({1}, OleVariant("first"));
  array.PutElement({2}, OleVariant("second"));
  OleVariant t0(std::int32_t{9}), t1;
  VarArrayGetElements(array.Raw(), {&t0, &t1});
  EXPECT_TRUE(t0.IsEmpty());
  EXPECT_EQ(t1.AsString(), "first");
}

TEST(VarArrayGetElements, NonArraysAndTablesLeaveTargetsEmpty) {
  OleVariant t0(std::int32_t{1}), t1(std::int32_t{2});
  VarArrayGetElements(OleVariant("x").Raw(), {&t0, &t1});
  EXPECT_TRUE(t0.IsEmpty());
  EXPECT_TRUE(t1.IsEmpty());
  OleVariant table = OleVariant::VarArrayCreate({{0, 1}, {0, 1}});
  table.PutElement({0, 0}, OleVariant(std::int32_t{5}));
  VarArrayGetElements(table.Raw(), {&t0});
  EXPECT_TRUE(t0.IsEmpty());
}

TEST(VarArrayGetElements, TypedArraysYieldVariantsOfTheirElementType) {
  OleVariant texts = TypedArray(VT_BSTR, 0, {OleVariant("a"), OleVariant("b")});
  OleVariant ints = TypedArray(VT_I4, 0, {OleVariant(std::int32_t{42})});
  OleVariant t0, t1, t2;
  VarArrayGetElements(texts.Raw(), {&t0, &t1});
  VarArrayGetElements(ints.Raw(), {&t2});
  EXPECT_EQ(t0.Type(), VT_BSTR);
  EXPECT_EQ(t1.AsString(), "b");
  EXPECT_EQ(t2.Type(), VT_I4);
  EXPECT_EQ(t2.AsInteger(), 42);
}

TEST(VarArrayGetElements, FollowsReferencesToTheArray) {
  OleVariant array = OleVariant::VarArrayOf({OleVariant(std::int32_t{3})});
  VARIANT ref = RefTo(array.Raw());
  OleVariant t0;
  VarArrayGetElements(ref, {&t0});
  EXPECT_EQ(t0.AsInteger(), 3);
}

TEST(VarArrayGetRow, ReadsOneItemOfAFieldItemTable) {
  OleVariant table = OleVariant::VarArrayCreate({{0, 6}, {0, 4}});
  for (LONG f = 0; f <= 6; ++f) table.PutElement({f, 2}, OleVariant(std::int32_t(f * 10)));
  std::vector<OleVariant> values(9, OleVariant(std::int32_t{-1}));
  std::vector<OleVariant*> targets;
  for (auto& v : values) targets.push_back(&v);
  VarArrayGetRow(table.Raw(), 2, targets);
  for (int f = 0; f <= 6; ++f) EXPECT_EQ(values[f].AsInteger(), f * 10);
  EXPECT_TRUE(values[7].IsEmpty());
  EXPECT_TRUE(values[8].IsEmpty());

  VarArrayGetRow(table.Raw(), 5, targets);
  for (auto& v : values) EXPECT_TRUE(v.IsEmpty());
  OleVariant vector = OleVariant::VarArrayOf({OleVariant(std::int32_t{1})});
  values[0] = OleVariant(std::int32_t{1});
  VarArrayGetRow(vector.Raw(), 0, targets);
  EXPECT_TRUE(values[0].IsEmpty());
}

TEST(SafeArrayPutVariant, ReplacesTheElementAndIgnoresBadIndices) {
  OleVariant array = OleVariant::VarArrayOf({OleVariant("old")});
  SafeArrayPutVariant(array.Raw().parray, 0, OleVariant(std::int32_t{8}).Raw());
  EXPECT_EQ(array.GetElement({0}).AsInteger(), 8);
  EXPECT_NO_THROW(SafeArrayPutVariant(array.Raw().parray, 3, OleVariant(1.0).Raw()));
  EXPECT_NO_THROW(SafeArrayPutVariant(nullptr, 0, OleVariant(1.0).Raw()));
}

// --- MakeErrorResult and names ------------------------------------------------------------------

TEST(MakeErrorResult, EmptyTextTakesTheTableText) {
  OleVariant result, none;
  MakeErrorResult(1003, "", none.Raw(), result);
  ASSERT_EQ(result.DimCount(), 1);
  EXPECT_EQ(result.LowBound(1), 0);
  EXPECT_EQ(result.HighBound(1), 1);
  EXPECT_EQ(result.GetElement({0}).Type(), VT_I4);
  EXPECT_EQ(result.GetElement({0}).AsInteger(), 1003);
  EXPECT_EQ(result.GetElement({1}).Type(), VT_BSTR);
  EXPECT_EQ(result.GetElement({1}).AsString(), ErrorText(1003));
}

TEST(MakeErrorResult, GivenTextAndExtraAreKept) {
  OleVariant result;
  MakeErrorResult(1004, "своё", OleVariant(std::int32_t{7}).Raw(), result);
  EXPECT_EQ(result.HighBound(1), 2);
  EXPECT_EQ(result.GetElement({1}).AsString(), "своё");
  EXPECT_EQ(result.GetElement({2}).AsInteger(), 7);
}

TEST(Names, SettingAndEquipmentTypes) {
  EXPECT_EQ(SettingTypeName(0), "Number");
  EXPECT_EQ(SettingTypeName(3), "Boolean");
  EXPECT_EQ(SettingTypeName(4), "");
  EXPECT_EQ(EquipmentTypeName("AccessController"), "Контроллер доступа");
  EXPECT_EQ(EquipmentTypeName("ElectronicLocks"), "Эдектронные замки");
  EXPECT_EQ(EquipmentTypeName("accesscontroller"), "accesscontroller");
  EXPECT_EQ(EquipmentTypeName("Something"), "Something");
}

// --- Folders and module --------------------------------------------------------------------------

class SpecialFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Save("TAVO_COMMON_APPDATA", common_);
    Save("XDG_DATA_HOME", user_);
  }
  void TearDown() override {
    Restore("TAVO_COMMON_APPDATA", common_);
    Restore("XDG_DATA_HOME", user_);
  }
  static void Save(const char* name, std::pair<bool, std::string>& slot) {
    const char* v = std::getenv(name);
    slot = {v != nullptr, v ? v : ""};
  }
  static void Restore(const char* name, const std::pair<bool, std::string>& slot) {
    if (slot.first) {
      setenv(name, slot.second.c_str(), 1);
    } else {
      unsetenv(name);
    }
  }
  std::pair<bool, std::string> common_, user_;
  fwtest::TempDir dir_;
};

TEST_F(SpecialFolderTest, CommonFolderEndsInSlash) {
  setenv("TAVO_COMMON_APPDATA", (dir_.path() + "common").c_str(), 1);
  EXPECT_EQ(GetCommonAppDataFolder(), dir_.path() + "common/");
}

TEST_F(SpecialFolderTest, FallsBackOnceToTheUserFolder) {
  setenv("TAVO_COMMON_APPDATA", "/proc/no-such/common", 1);
  setenv("XDG_DATA_HOME", (dir_.path() + "user").c_str(), 1);
  EXPECT_EQ(GetCommonAppDataFolder(), dir_.path() + "user/");
}

TEST_F(SpecialFolderTest, RaisesNamingTheFolderWhenTheFallbackFailsToo) {
  setenv("TAVO_COMMON_APPDATA", "/proc/no-such/common", 1);
  setenv("XDG_DATA_HOME", "/proc/no-such/user", 1);
  try {
    GetCommonAppDataFolder();
    FAIL() << "no error";
  } catch (const EInOutError& e) {
    EXPECT_NE(std::string(e.what()).find("общие данные приложений"), std::string::npos);
  }
}

TEST(ModuleFile, NamesThisModuleAndItsVersion) {
  const std::string name = GetModuleFileNameStr();
  ASSERT_FALSE(name.empty());
  EXPECT_EQ(name.front(), '/');
  EXPECT_NE(name.find("framework_tests"), std::string::npos);
  WORD words[4] = {9, 9, 9, 9};
  GetFileVersionWords("", words);
  EXPECT_EQ(words[0], TAVO_TEST_VERSION_MAJOR);
  EXPECT_EQ(words[1], TAVO_TEST_VERSION_MINOR);
  EXPECT_EQ(words[2], TAVO_TEST_VERSION_RELEASE);
  EXPECT_EQ(words[3], TAVO_TEST_VERSION_BUILD);
  GetFileVersionWords("/proc/no-such-file", words);
  EXPECT_EQ(words[0] | words[1] | words[2] | words[3], 0);
}

// --- Log text ------------------------------------------------------------------------------------

TEST(VarToLogText, ScalarsByType) {
  EXPECT_EQ(VarToLogText(OleVariant().Raw()), "EMPTY");
  EXPECT_EQ(VarToLogText(OleVariant::Null().Raw()), "NULL");
  EXPECT_EQ(VarToLogText(OleVariant(std::int32_t{-15}).Raw()), "-15");
  EXPECT_EQ(VarToLogText(OleVariant::FromI2(7).Raw()), "7");
  EXPECT_EQ(VarToLogText(OleVariant(1.5).Raw()), "1,5");
  EXPECT_EQ(VarToLogText(OleVariant(true).Raw()), "True");
  EXPECT_EQ(VarToLogText(OleVariant(false).Raw()), "False");
  EXPECT_EQ(VarToLogText(OleVariant::FromDate(0.0).Raw()), "0:00:00");
  EXPECT_EQ(VarToLogText(OleVariant("a\r\nb").Raw()), "'a\\nb'");
  EXPECT_EQ(VarToLogText(OleVariant("a\rb\n'q'").Raw()), "'a\rb\n'q''");
  EXPECT_EQ(VarToLogText(OleVariant::FromInt64(5).Raw()), "");
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_UI4;
  v.ulVal = 5;
  EXPECT_EQ(VarToLogText(v), "");
  v.vt = VT_UI1;
  v.bVal = 65;
  EXPECT_EQ(VarToLogText(v), "A");
}

TEST(VarToLogText, ReferencesAndDispatch) {
  OleVariant text("x");
  VARIANT ref = RefTo(text.Raw());
  EXPECT_EQ(VarToLogText(ref), "x");  // a referenced value has no quotes
  OleVariant empty;
  VARIANT refEmpty = RefTo(empty.Raw());
  EXPECT_EQ(VarToLogText(refEmpty), "");
  fwtest::FakeHost host;
  OleVariant dispatch = OleVariant::FromDispatch(&host);
  const std::string logged = VarToLogText(dispatch.Raw());
  ASSERT_GE(logged.size(), 9u);
  EXPECT_EQ(logged[0], '$');
  EXPECT_EQ(std::stoull(logged.substr(1), nullptr, 16),
            reinterpret_cast<std::uintptr_t>(static_cast<IDispatch*>(&host)));
}

TEST(VarArrayToLogText, ArraysNestAndTablesPrintOneGroupPerItem) {
  OleVariant list =
      OleVariant::VarArrayOf({OleVariant(std::int32_t{1}), OleVariant("x"), OleVariant(true)});
  EXPECT_EQ(VarArrayToLogText(list.Raw()), "[(1; 'x'; True)]");
  EXPECT_EQ(VarToLogText(list.Raw()), "[(1; 'x'; True)]");
  EXPECT_EQ(VarArrayToLogText(OleVariant::VarArrayCreate({{0, -1}}).Raw()), "[()]");
  OleVariant table = OleVariant::VarArrayCreate({{0, 1}, {0, 2}});
  for (LONG i = 0; i <= 1; ++i) {
    for (LONG j = 0; j <= 2; ++j) table.PutElement({i, j}, OleVariant(std::int32_t(i * 10 + j)));
  }
  EXPECT_EQ(VarArrayToLogText(table.Raw()), "[((0; 10)(1; 11)(2; 12))]");
  OleVariant nested = OleVariant::VarArrayOf(
      {OleVariant::VarArrayOf({OleVariant(std::int32_t{1}), OleVariant(std::int32_t{2})})});
  EXPECT_EQ(VarArrayToLogText(nested.Raw()), "[([(1; 2)])]");
  EXPECT_EQ(VarArrayToLogText(OleVariant(std::int32_t{3}).Raw()), "3");
}

}  // namespace
