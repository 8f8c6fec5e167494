// The settings table, its exchange with the host and the backup.
#include <gtest/gtest.h>

#include <string>

#include "framework/base_device.h"
#include "tests/framework/test_support.h"

namespace {

using fwtest::CallFunction;

class CountingDevice : public TBaseDevice {
 public:
  int changes = 0;

 protected:
  void AddSettings() override {
    TBaseDevice::AddSettings();
    AddSetting("EventRecCount", stNumber, OleVariant(std::int32_t{5000}), false, "Емкость", "d");
  }
  void SettingsChanged() override { ++changes; }
};

class Settings : public ::testing::Test {
 protected:
  ComPtr<CountingDevice> device = CreateComObject<CountingDevice>();
  IDispatch* dispatch = AsDispatch(device.Get());

  OleVariant Table() { return CallFunction(dispatch, "GetSettings").outData.GetElement({0}); }
  // [[name, value] columns] with the given bounds of the second dimension.
  static OleVariant Columns(LONG low, std::initializer_list<std::pair<OleVariant, OleVariant>> cols) {
    OleVariant table = OleVariant::VarArrayCreate({{0, 1}, {low, low + LONG(cols.size()) - 1}});
    LONG j = low;
    for (const auto& [name, value] : cols) {
      table.PutElement({0, j}, name);
      table.PutElement({1, j}, value);
      ++j;
    }
    return OleVariant::VarArrayOf({table});
  }
};

// --- The table -----------------------------------------------------------------------------------

TEST_F(Settings, LookupIgnoresCaseAndUnknownNamesReadAsEmpty) {
  EXPECT_EQ(device->GetSettingAsInteger("eventreccount"), 5000);
  EXPECT_FALSE(device->GetSettingAsBoolean("NoSuch"));
  EXPECT_EQ(device->GetSettingAsInteger("NoSuch"), 0);
  EXPECT_EQ(device->GetSettingAsString("NoSuch"), "");
  EXPECT_TRUE(device->GetSettingValue("NoSuch").IsEmpty());
  EXPECT_EQ(device->FindSetting("DEBUGLOGENABLED"), device->GetSetting(2));
  EXPECT_EQ(device->GetSetting(4), nullptr);
  EXPECT_EQ(device->GetSetting(-1), nullptr);
}

TEST_F(Settings, SecondRegistrationUpdatesTheFirstEntry) {
  device->AddSetting("DEFAULTTIMEOUT", stString, OleVariant(std::int32_t{30}), true, "Другая",
                     "новое описание");
  ASSERT_EQ(device->GetSettingsCount(), 4);
  const TSettingStruct& s = *device->GetSetting(0);
  EXPECT_EQ(s.Name, "DefaultTimeOut");
  EXPECT_EQ(s.SettingType, stNumber);
  EXPECT_EQ(s.Caption, "Таймаут по умолчанию");
  EXPECT_EQ(s.Value.AsInteger(), 30);
  EXPECT_EQ(s.DefaultValue.AsInteger(), 30);
  EXPECT_TRUE(s.Flag);
  EXPECT_EQ(s.Description, "новое описание");
}

TEST_F(Settings, ValuesAreCopiesAndResetRestoresDefaults) {
  OleVariant list = OleVariant::VarArrayOf({OleVariant(std::int32_t{1})});
  device->AddSetting("List", stString, list, false, "c", "d");
  list.PutElement({0}, OleVariant(std::int32_t{2}));
  EXPECT_EQ(device->GetSettingValue("List").GetElement({0}).AsInteger(), 1);
  device->SetSettingValue("DebugLogEnabled", OleVariant(true));
  EXPECT_TRUE(device->GetSettingAsBoolean("DebugLogEnabled"));
  EXPECT_FALSE(device->FindSetting("DebugLogEnabled")->DefaultValue.AsBoolean());
  device->ResetSettingsToDefaults();
  EXPECT_FALSE(device->GetSettingAsBoolean("DebugLogEnabled"));
  device->SetSettingValue("NoSuch", OleVariant(true));
  EXPECT_EQ(device->GetSettingsCount(), 5);
}

TEST_F(Settings, NonNumericTextRaisesForTheIntegerReader) {
  device->SetSettingValue("EventRecCount", OleVariant("много"));
  EXPECT_ANY_THROW(device->GetSettingAsInteger("EventRecCount"));
}

// --- GetSettings / SetSettings -------------------------------------------------------------------

TEST_F(Settings, GetSettingsAnswersAFieldBySettingTable) {
  auto r = CallFunction(dispatch, "GetSettings");
  ASSERT_TRUE(r.result.AsBoolean());
  EXPECT_EQ(r.outData.HighBound(1), 0);
  OleVariant t = r.outData.GetElement({0});
  EXPECT_EQ(t.HighBound(1), 6);
  EXPECT_EQ(t.HighBound(2), 3);
  EXPECT_EQ(t.GetElement({0, 0}).AsString(), "DefaultTimeOut");
  EXPECT_EQ(t.GetElement({1, 0}).Type(), VT_I4);
  EXPECT_EQ(t.GetElement({2, 0}).AsString(), "Number");
  EXPECT_EQ(t.GetElement({0, 1}).AsString(), "EventLogEnabled");
  EXPECT_EQ(t.GetElement({2, 2}).AsString(), "Boolean");
  EXPECT_EQ(t.GetElement({3, 2}).Type(), VT_BOOL);
  EXPECT_EQ(t.GetElement({4, 2}).Type(), VT_BOOL);
  EXPECT_EQ(t.GetElement({5, 2}).AsString(), "Отладочный лог");
  EXPECT_EQ(t.GetElement({6, 1}).AsString(),
            "Если равно True, ведется журнал критических событий и ошибок");
  EXPECT_EQ(t.GetElement({0, 3}).AsString(), "EventRecCount");
}

TEST_F(Settings, FeedingGetSettingsBackChangesNothing) {
  auto got = CallFunction(dispatch, "GetSettings");
  auto set = CallFunction(dispatch, "SetSettings", got.outData);
  EXPECT_TRUE(set.result.AsBoolean());
  EXPECT_TRUE(set.outData.IsEmpty());
  EXPECT_TRUE(VariantsEqual(Table().Raw(), got.outData.GetElement({0}).Raw()));
  EXPECT_EQ(device->changes, 1);
}

TEST_F(Settings, SetSettingsStoresValuesAsTheyCome) {
  auto r = CallFunction(dispatch, "SetSettings",
                        Columns(5, {{OleVariant("eventreccount"), OleVariant("текст")},
                                    {OleVariant("NoSuch"), OleVariant(std::int32_t{1})},
                                    {OleVariant("DebugLogEnabled"), OleVariant(true)}}));
  EXPECT_TRUE(r.result.AsBoolean());
  EXPECT_EQ(device->GetSettingValue("EventRecCount").Type(), VT_BSTR);
  EXPECT_EQ(device->GetSettingAsString("EventRecCount"), "текст");
  EXPECT_TRUE(device->GetSettingAsBoolean("DebugLogEnabled"));
  EXPECT_EQ(device->GetSettingsCount(), 4);
  EXPECT_EQ(device->changes, 1);
}

TEST_F(Settings, UnknownNameAloneStillRunsSettingsChanged) {
  auto r = CallFunction(dispatch, "SetSettings", Columns(0, {{OleVariant("NoSuch"), OleVariant()}}));
  EXPECT_TRUE(r.result.AsBoolean());
  EXPECT_EQ(device->changes, 1);
}

TEST_F(Settings, MalformedInputAnswers1004Or1001) {
  auto r = CallFunction(dispatch, "SetSettings", OleVariant("x"));
  EXPECT_EQ(fwtest::ErrorCodeOf(r.outData), 1004);
  r = CallFunction(dispatch, "SetSettings",
                   OleVariant::VarArrayOf({OleVariant::VarArrayOf({OleVariant("DebugLogEnabled")})}));
  EXPECT_EQ(fwtest::ErrorCodeOf(r.outData), 1001);
  OleVariant oneRow = OleVariant::VarArrayCreate({{0, 0}, {0, 0}});
  oneRow.PutElement({0, 0}, OleVariant("DebugLogEnabled"));
  r = CallFunction(dispatch, "SetSettings", OleVariant::VarArrayOf({oneRow}));
  EXPECT_EQ(fwtest::ErrorCodeOf(r.outData), 1001);
  EXPECT_EQ(device->changes, 0);
}

TEST_F(Settings, StoredValueIsACopyNeverAReferenceIntoTheHost) {
  OleVariant hostValue(std::int32_t{77});
  VARIANT ref;
  VariantInit(&ref);
  ref.vt = VT_VARIANT | VT_BYREF;
  ref.pvarVal = &hostValue.Raw();
  OleVariant table = OleVariant::VarArrayCreate({{0, 1}, {0, 0}});
  table.PutElement({0, 0}, OleVariant("EventRecCount"));
  LONG cell[2] = {1, 0};
  SafeArrayPutElement(table.Array(), cell, &ref);
  auto r = CallFunction(dispatch, "SetSettings", OleVariant::VarArrayOf({table}));
  ASSERT_TRUE(r.result.AsBoolean());
  hostValue = OleVariant("changed later");
  EXPECT_EQ(device->GetSettingValue("EventRecCount").Type(), VT_I4);
  EXPECT_EQ(device->GetSettingAsInteger("EventRecCount"), 77);
}

// --- Backup --------------------------------------------------------------------------------------

TEST_F(Settings, RestoreBringsBackEveryValueAndEmptiesTheBackup) {
  device->AddSetting("List", stString, OleVariant::VarArrayOf({OleVariant("a")}), false, "c", "d");
  device->BackupSettings();
  EXPECT_EQ(device->SettingsBackup().size(), 5u);
  CallFunction(dispatch, "SetSettings", Columns(0, {{OleVariant("DebugLogEnabled"), OleVariant(true)}}));
  device->FindSetting("List")->Value.PutElement({0}, OleVariant("b"));
  device->RestoreSettings();
  EXPECT_FALSE(device->GetSettingAsBoolean("DebugLogEnabled"));
  EXPECT_EQ(device->GetSettingValue("List").GetElement({0}).AsString(), "a");
  EXPECT_TRUE(device->SettingsBackup().empty());
  EXPECT_EQ(device->changes, 1);  // the restore does not report a change
  device->SetSettingValue("DefaultTimeOut", OleVariant(std::int32_t{5}));
  device->RestoreSettings();  // nothing to restore
  EXPECT_EQ(device->GetSettingAsInteger("DefaultTimeOut"), 5);
}

}  // namespace
