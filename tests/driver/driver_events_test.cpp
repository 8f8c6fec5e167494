// Controller events through the host's side: classification, both push callbacks for every code,
// the card text by CardNumFormat, and GetEvents / DeleteEvents with their filters and shapes.
#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>

#include "driver/transact_base.h"
#include "platform/com_activation.h"
#include "platform/reactor.h"
#include "tests/driver/driver_harness.h"
#include "tools/eqhost/message_pump.h"

namespace driver_test {
namespace {

const Json kFrom = Json{{"date", "2000-01-01T00:00:00"}};
const Json kTo = Json{{"date", "2100-01-01T00:00:00"}};

struct Expected {
  std::uint8_t code;
  const char* callback;
  const char* kind;
  const char* description;
};

const Expected kAllCodes[] = {
    {0x01, "DataEvent", "", ""},
    {0x02, "DataEvent", "Hacked", "Взлом считывателя"},
    {0x04, "DataEvent", "Hacked", "Вскрыт корпус контроллера"},
    {0x0C, "ErrorEvent", "Hacked", "Обрыв датчика двери"},
    {0x0D, "ErrorEvent", "", ""},
    {0x0F, "ErrorEvent", "Hacked", "Обрыв охранного датчика"},
    {0x10, "ErrorEvent", "Hacked", "КЗ цепи охранного датчика"},
    {0x12, "DataEvent", "Hacked", "Взлом внутреннего считывателя"},
    {0x14, "ErrorEvent", "Broken", "Контроллер выключен"},
    {0x21, "DataEvent", "EntranceDenied", "Нет доступа по блокировке"},
    {0x22, "DataEvent", "EntranceDenied", "Нет ключа в БД контроллера"},
    {0x23, "DataEvent", "EntranceDenied", "Нет доступа - режим охраны"},
    {0x26, "DataEvent", "EntranceDenied", "Нет доступа временной профиль"},
    {0x2B, "ErrorEvent", "NotPowered", "Выключено сетевое питание"},
    {0x2D, "ErrorEvent", "Discharged", "Разряжен аккумулятор"},
    {0x40, "DataEvent", "Entrance", "Нормальный вход"},
    {0x41, "DataEvent", "Exit", "Нормальный выход"},
};

class DriverEvents : public ::testing::Test {
 protected:
  void SetUp() override {
    h.CreateByProgID();
    h.Enable();
  }
  Json GetEvents(const Json& ids, const Json& from = kFrom, const Json& to = kTo) {
    return h.Fn("GetEvents", Json::array({ids, from, to}));
  }
  DriverHarness h;
};

TEST_F(DriverEvents, EveryCodeIsPushedThroughItsCallbackWithItsTexts) {
  for (const Expected& e : kAllCodes) h.QueueEvent(DriverHarness::kB, e.code, "0012AB34");
  ASSERT_EQ(h.WaitEvents(std::size(kAllCodes)), std::size(kAllCodes));
  for (std::size_t i = 0; i < std::size(kAllCodes); ++i) {
    const Expected& e = kAllCodes[i];
    const Json& got = h.Events()[i];
    SCOPED_TRACE(int(e.code));
    EXPECT_EQ(got.at("event"), e.callback);
    if (std::string(e.callback) == "DataEvent") {
      EXPECT_EQ(got.at("args"), Json::array({"dev1", e.kind, "2", Json::array({"2", "0012AB34", e.description})}));
    } else {
      EXPECT_EQ(got.at("args"), Json::array({"dev1", e.kind, e.description, "2"}));  // no card on this road
    }
  }
}

TEST_F(DriverEvents, DecimalCardFormatSendsTheCardAsANumber) {
  h.SetSetting("CardNumFormat", 1);
  h.QueueEvent(DriverHarness::kA, 0x40, "0012AB34");
  h.QueueEvent(DriverHarness::kA, 0x41);  // no card
  h.QueueEvent(DriverHarness::kA, 0x22, "FFFFFFFF");
  ASSERT_EQ(h.WaitEvents(3), 3u);
  EXPECT_EQ(h.Events()[0].at("args")[3], Json::array({"1", "1223476", "Нормальный вход"}));
  EXPECT_EQ(h.Events()[1].at("args")[3], Json::array({"1", "0", "Нормальный выход"}));
  EXPECT_EQ(h.Events()[2].at("args")[3][1], "4294967295");
  h.SetSetting("CardNumFormat", 2);  // any value but 0 is decimal
  h.QueueEvent(DriverHarness::kA, 0x40, "000000FF");
  ASSERT_EQ(h.WaitEvents(4), 4u);
  EXPECT_EQ(h.Events()[3].at("args")[3][1], "255");
}

TEST_F(DriverEvents, AnEventWithoutACardHasAnEmptyCardInHexForm) {
  h.QueueEvent(DriverHarness::kA, 0x21);
  ASSERT_EQ(h.WaitEvents(1), 1u);
  EXPECT_EQ(h.Events()[0].at("args")[3], Json::array({"1", "", "Нет доступа по блокировке"}));
}

TEST_F(DriverEvents, GetEventsLeavesOutCodesWithoutAKindAndDeleteEventsRemovesThemToo) {
  h.QueueEvent(DriverHarness::kA, 0x01, "00000001");
  h.QueueEvent(DriverHarness::kA, 0x0D);
  h.QueueEvent(DriverHarness::kA, 0x40, "0012AB34");
  ASSERT_EQ(h.WaitEvents(3), 3u);
  Json answer = GetEvents(Json::array());
  ASSERT_EQ(answer.at("result"), true) << answer.dump();
  const Json& table = answer.at("out").at(0);
  EXPECT_EQ(table.at("dims"), Json::parse("[[0,4],[0,0]]"));
  const Json& rows = table.at("rows");
  EXPECT_EQ(rows[0], Json::array({"1"}));
  ASSERT_TRUE(rows[1][0].contains("date"));
  EXPECT_EQ(rows[1][0].at("date").get<std::string>().substr(4), "-03-14T09:30:15");
  EXPECT_EQ(rows[2], Json::array({"Entrance"}));
  EXPECT_EQ(rows[3], Json::array({"0012AB34"}));
  EXPECT_EQ(rows[4], Json::array({"Нормальный вход"}));

  answer = h.Fn("DeleteEvents", Json::array({Json::array(), kFrom, kTo}));
  ASSERT_EQ(answer.at("result"), true) << answer.dump();
  h.Release();  // the journal is checked by a reader of its own, with the driver gone
  TTransactBase journal;
  journal.Folder = h.DevicesFolder() + "/dev1/EvntBuf/";
  TEvents left;
  journal.GetEvents({}, left, 0, 1e6);
  EXPECT_TRUE(left.empty()) << left.size() << " records left, codes 1 and 13 included";
}

TEST_F(DriverEvents, GetEventsFiltersByControllerAndDate) {
  h.QueueEvent(DriverHarness::kA, 0x40, "0000000A");
  h.QueueEvent(DriverHarness::kB, 0x41, "0000000B");
  ASSERT_EQ(h.WaitEvents(2), 2u);
  Json answer = GetEvents(Json::array({"2"}));
  EXPECT_EQ(answer.at("out").at(0).at("rows")[3], Json::array({"0000000B"}));
  answer = GetEvents(Json::array({2}));  // a number is its decimal text
  EXPECT_EQ(answer.at("out").at(0).at("rows")[0], Json::array({"2"}));
  answer = GetEvents(Json::array({"1", "2"}));
  EXPECT_EQ(answer.at("out").at(0).at("rows")[3], Json::array({"0000000A", "0000000B"}));
  answer = GetEvents(Json::array(), kFrom, Json{{"date", "2000-01-02T00:00:00"}});
  EXPECT_EQ(answer.at("out").at(0), Json::parse(R"({"dims":[[0,4],[0,-1]],"rows":[[],[],[],[],[]]})"));
  answer = GetEvents(Json::array(), "2000-01-01", kTo);  // a date as text is refused
  EXPECT_EQ(answer.at("out").at(0), 1004);

  answer = h.Fn("DeleteEvents", Json::array({Json::array({"1"}), kFrom, kTo}));
  ASSERT_EQ(answer.at("result"), true);
  answer = GetEvents(Json::array());
  EXPECT_EQ(answer.at("out").at(0).at("rows")[0], Json::array({"2"}));
}

TEST_F(DriverEvents, CardTextInGetEventsFollowsTheSetting) {
  h.QueueEvent(DriverHarness::kA, 0x40, "0012AB34");
  ASSERT_EQ(h.WaitEvents(1), 1u);
  h.SetSetting("CardNumFormat", 1);
  const Json answer = GetEvents(Json::array());
  EXPECT_EQ(answer.at("out").at(0).at("rows")[3], Json::array({"1223476"}));
  // Read for each record: a setting that is not a number fails only a call that has records.
  h.SetSetting("CardNumFormat", "десять");
  EXPECT_EQ(GetEvents(Json::array(), kFrom, Json{{"date", "2000-01-02T00:00:00"}}).at("result"), true);
  EXPECT_EQ(GetEvents(Json::array()).at("out").at(0), 1001);
}

TEST_F(DriverEvents, AFailingHostCallbackLosesOnlyThatPush) {
  h.OnEvent = [](const Json&) { throw std::runtime_error("the host's handler failed"); };
  h.QueueEvent(DriverHarness::kA, 0x40, "00000001");
  ASSERT_EQ(h.WaitEvents(1), 1u);
  h.OnEvent = nullptr;
  h.QueueEvent(DriverHarness::kA, 0x41, "00000002");
  ASSERT_EQ(h.WaitEvents(2), 2u);
  EXPECT_EQ(h.WaitEvents(3, 500), 2u);  // acknowledged all the same: the controller does not send it again
  const Json answer = GetEvents(Json::array());
  EXPECT_EQ(answer.at("out").at(0).at("rows")[3], Json::array({"00000001", "00000002"}));
}

// A host may let the driver go from inside an event callback (shutting down on an alarm, say). The
// driver still has the datagram's handling on the stack then: it must outlive the callback and end
// as soon as that handling is over, with nothing touched after it is gone (sanitizer builds).
TEST_F(DriverEvents, AHostThatLetsTheDriverGoInsideItsCallbackEndsItOnlyAfterTheCallback) {
  const ServerLibrary library(TAVO_DRIVER_LIBRARY);
  const DllCanUnloadNowFn canUnload = library.CanUnloadNow();
  bool released = false;
  HRESULT insideCallback = E_FAIL;
  h.OnEvent = [&](const Json&) {
    if (released) return;
    released = true;
    h.Release();  // every reference the host had
    insideCallback = canUnload();
  };
  h.QueueEvent(DriverHarness::kA, 0x40, "0012AB34");
  ASSERT_EQ(h.WaitEvents(1), 1u);
  EXPECT_EQ(h.Events()[0].at("event"), "DataEvent");
  EXPECT_EQ(h.Events()[0].at("args").at(3), Json::array({"1", "0012AB34", "Нормальный вход"}));
  EXPECT_EQ(insideCallback, S_FALSE);  // still alive under its own handling

  const std::uint64_t deadline = GetTickCount64() + 2000;
  for (int i = 0; i < 200 && canUnload() != S_OK && GetTickCount64() < deadline; ++i) eqhost::PumpFor(10);
  EXPECT_EQ(canUnload(), S_OK);
}

TEST_F(DriverEvents, NoEventIsPushedAfterDisable) {
  ASSERT_EQ(h.Fn("Disable").at("result"), true);
  h.QueueEvent(DriverHarness::kA, 0x40, "0012AB34");
  EXPECT_EQ(h.WaitEvents(1, 500), 0u);
}

// Without a device folder the journal must not go to "/EvntBuf/": it stays in its default folder,
// also after an earlier Enable had used a device folder.
TEST(DriverJournalFolder, WithoutADeviceFolderTheDefaultFolderIsUsed) {
  DriverHarness h({DriverHarness::kA});
  h.CreateByProgID();
  h.Enable();
  h.QueueEvent(DriverHarness::kA, 0x40, "00000001");
  ASSERT_EQ(h.WaitEvents(1), 1u);
  ASSERT_TRUE(std::filesystem::exists(h.DevicesFolder() + "/dev1/EvntBuf/transact.dbf"));
  ASSERT_EQ(h.Fn("Disable").at("result"), true);

  h.InitOpen("");  // no device identifier: no device folder
  ASSERT_EQ(h.Fn("Enable").at("result"), true);
  h.QueueEvent(DriverHarness::kA, 0x41, "00000002");
  ASSERT_EQ(h.WaitEvents(2), 2u);
  const std::string defaultTable = h.CommonAppData() + "/ac_morvikRK4400IPv41/transact/transact.dbf";
  EXPECT_TRUE(std::filesystem::exists(defaultTable));
  EXPECT_FALSE(std::filesystem::exists("/EvntBuf/transact.dbf"));
  const Json answer = h.Fn("GetEvents", Json::array({Json::array(), kFrom, kTo}));
  EXPECT_EQ(answer.at("out").at(0).at("rows")[3], Json::array({"00000002"}));
}

TEST(DriverJournalFolder, NoHostDevicesFolderAlsoUsesTheDefaultFolder) {
  DriverHarness h({DriverHarness::kA});
  h.CreateByProgID(/*withDevicesFolder=*/false);
  h.Enable();
  h.QueueEvent(DriverHarness::kA, 0x40, "00000001");
  ASSERT_EQ(h.WaitEvents(1), 1u);
  EXPECT_TRUE(std::filesystem::exists(h.CommonAppData() + "/ac_morvikRK4400IPv41/transact/transact.dbf"));
}

}  // namespace
}  // namespace driver_test
