// The driver class through the host's side: settings and About data, Enable and Disable, the
// controller table, modes, clocks, the status table, the settings dialog seam, and (in-process)
// the device test and the configuration write.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>

#include "driver/controllers.h"
#include "driver/driver.h"
#include "driver/ui_services.h"
#include "framework/com_support.h"
#include "tests/driver/driver_harness.h"

namespace driver_test {
namespace {

const std::string A = DriverHarness::kA;
const std::string B = DriverHarness::kB;

Json Fail(int code, const char* text) { return Json::array({code, text}); }

class DriverOperations : public ::testing::Test {
 protected:
  void SetUp() override { h.CreateByProgID(); }
  DriverHarness h;
};

TEST_F(DriverOperations, AFreshObjectHasItsSettingsAndAboutData) {
  const Json settings = h.Fn("GetSettings").at("out").at(0);
  EXPECT_EQ(settings.at("dims"), Json::parse("[[0,6],[0,5]]"));
  EXPECT_EQ(settings.at("rows")[0],
            Json::parse(R"(["DefaultTimeOut","EventLogEnabled","DebugLogEnabled","ControllersList","CardNumFormat","EventRecCount"])"));
  EXPECT_EQ(settings.at("rows")[1][3], "");
  EXPECT_EQ(settings.at("rows")[1][4], 0);
  EXPECT_EQ(settings.at("rows")[1][5], 5000);
  EXPECT_EQ(settings.at("rows")[2][3], "String");
  EXPECT_EQ(settings.at("rows")[5][4], "Формат строкового представления номера карты");
  EXPECT_EQ(settings.at("rows")[6][5],
            "Максимальная емкость буфера событий. При достижении, самые старые события будут удаляться. Если "
            "равно 0 - буфер не используется");

  const Json info = h.Fn("GetDeviceInfo").at("out");
  EXPECT_EQ(info[0], "AccessController");
  EXPECT_EQ(info[1], "A6758E6C-9A8A-4D86-9C3B-2C962AC3CCA7");
  EXPECT_EQ(info[2], "Tavo-Veltara: Контроллер доступа Morvik RK-4400-IP");
  EXPECT_EQ(info[6], "TavoEq.MorvikRK4400IP");
  EXPECT_EQ(info[8], true);
  EXPECT_EQ(info[9], "Драйвер контроллера доступа Morvik RK-4400-IP");
}

TEST_F(DriverOperations, EnableWithAnEmptyListAnswers11001AndOpensNothing) {
  h.InitOpen();
  h.SetSetting("ControllersList", "");
  EXPECT_EQ(h.Fn("Enable").at("out"), Fail(11001, "Список контроллеров пуст"));
  EXPECT_EQ(h.Fn("SetMode", Json::array({Json::array({"1"}), 1})).at("out").at(0), 1008);
}

TEST_F(DriverOperations, EnableWithMalformedXmlIs1001) {
  h.InitOpen();
  h.SetSetting("ControllersList", "<Controllers><Controller");
  EXPECT_EQ(h.Fn("Enable").at("out").at(0), 1001);
}

TEST_F(DriverOperations, ControllerTableBeforeAndAfterEnable) {
  EXPECT_EQ(h.Fn("GetControllers").at("out").at(0), Json::parse(R"({"dims":[[0,3],[0,-1]],"rows":[[],[],[],[]]})"));
  h.Enable();
  const Json table = h.Fn("GetControllers").at("out").at(0);
  EXPECT_EQ(table.at("dims"), Json::parse("[[0,3],[0,1]]"));
  EXPECT_EQ(table.at("rows"), Json::parse(R"([["1","2"],["Дверь 1","Дверь 2"],[true,false],[true,true]])"));
  // Disable keeps the list; Disable without a link answers 0 and sends nothing.
  ASSERT_EQ(h.Fn("Disable").at("result"), true);
  EXPECT_EQ(h.Fn("GetControllers").at("out").at(0).at("dims"), Json::parse("[[0,3],[0,1]]"));
  h.ClearSeen();
  ASSERT_EQ(h.Fn("Disable").at("result"), true);
  EXPECT_TRUE(h.Seen().empty());
}

TEST_F(DriverOperations, DisableSaysGoodbyeToEveryController) {
  h.Enable();
  ASSERT_EQ(h.Fn("Disable").at("result"), true);
  const auto seen = h.Seen();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].controller + " " + seen[0].name, A + " Goodbye");
  EXPECT_EQ(seen[1].controller + " " + seen[1].name, B + " Goodbye");
}

TEST_F(DriverOperations, EnableAgainClosesTheLinkWithoutGoodbyesAndReloadsTheList) {
  h.Enable();
  TControllers onlyA;
  onlyA.Add(std::make_unique<TController>("1", A));
  h.SetSetting("ControllersList", onlyA.SaveToXML());
  // Without a goodbye the controller announces itself again only after a silence; keep it short.
  h.Sim().Control(A, [](ctrlsim::SimController& c) { c.SetPollSilence(ctrlsim::Millis(300)); });
  const Json answer = h.Fn("Enable");
  ASSERT_EQ(answer.at("result"), true) << answer.dump();
  for (const SeenCommand& c : h.Seen()) EXPECT_NE(c.name, "Goodbye") << c.controller;
  EXPECT_EQ(h.Fn("GetControllers").at("out").at(0).at("rows")[0], Json::array({"1"}));
  EXPECT_EQ(h.Fn("SetMode", Json::array({Json::array({"1"}), 1})).at("result"), true);
}

TEST_F(DriverOperations, SetModeChecksLinkIdentifierAndModeInThatOrder) {
  EXPECT_EQ(h.Fn("SetMode", Json::array({Json::array({"1"}), 6})).at("out").at(0), 1008);
  h.Enable();
  EXPECT_EQ(h.Fn("SetMode", Json::array({Json::array({"1"}), 6})).at("out"),
            Fail(1004, "Ошибка входных параметров команды"));
  EXPECT_EQ(h.Fn("SetMode", Json::array({Json::array({"1"}), 258})).at("out").at(0), 1004);  // not mode 2
  EXPECT_EQ(h.Fn("SetMode", Json::array({Json::array(), 6})).at("result"), true);
  EXPECT_TRUE(h.Seen().empty());
  EXPECT_EQ(h.Fn("SetMode", Json::array({Json::array({"1", "9", "2"}), 3})).at("out").at(0), 4501);
  EXPECT_EQ(h.Sim().Inspect(A, [](const ctrlsim::SimController& c) { return c.Mode(); }), 3);
  EXPECT_NE(h.Sim().Inspect(B, [](const ctrlsim::SimController& c) { return c.Mode(); }), 3);
}

TEST_F(DriverOperations, SetDateTimeGivesEveryControllerTheSameClock) {
  h.Enable();
  const Json answer =
      h.Fn("SetDateTime", Json::array({Json::array({"1", "2"}), Json{{"date", "2025-07-04T17:45:30"}}}));
  ASSERT_EQ(answer.at("result"), true) << answer.dump();
  for (const std::string& address : {A, B}) {
    const auto commands = h.Sim().Commands(address);
    ASSERT_FALSE(commands.empty());
    EXPECT_EQ(commands.back().name, "SetDateTime");
    EXPECT_EQ(commands.back().month.value_or(0), 7);
    EXPECT_EQ(commands.back().day.value_or(0), 4);
    EXPECT_EQ(commands.back().time.value_or(ctrlsim::ClockTime{}).hour, 17);
  }
}

TEST_F(DriverOperations, StatusTableMapsTheStatusBits) {
  h.Sim().Control(A, [](ctrlsim::SimController& c) { c.SetStatus(0x1008); });  // bit 3 without bit 2
  h.Sim().Control(B, [](ctrlsim::SimController& c) { c.SetStatus(0x2004); });
  h.Enable();
  Json answer = h.Fn("GetStatus", Json::array({Json::array({"1", "9", "2"})}));
  ASSERT_EQ(answer.at("result"), true) << answer.dump();
  EXPECT_EQ(answer.at("out").at(0),
            Json::parse(R"({"dims":[[0,7],[0,2]],"rows":[["1","9","2"],[null,null,null],[true,null,true],
                           [null,null,null],[null,null,null],[null,null,null],[true,null,false],[false,null,true]]})"));
  answer = h.Fn("GetStatus", Json::array({Json::array()}));
  EXPECT_EQ(answer.at("out").at(0).at("dims"), Json::parse("[[0,7],[0,-1]]"));
  const auto seen = h.Seen();
  EXPECT_EQ(std::count_if(seen.begin(), seen.end(), [](const SeenCommand& c) { return c.name == "StatusRequest"; }),
            4);  // both controllers, both times
}

TEST_F(DriverOperations, GetDateTimeIsNotSupported) {
  EXPECT_EQ(h.Fn("GetDateTime").at("out").at(0), 1003);
}

// Headless (as the host program runs it), the settings dialog is a clear error whether or not the
// library was built with the dialogs: nothing may ever wait on a window nobody can see.
TEST_F(DriverOperations, HeadlessTheSettingsDialogIsAClearError) {
  setenv("TAVOEQ_HEADLESS", "1", 1);
  const Json answer = h.Fn("ShowSettingsDlg");
  unsetenv("TAVOEQ_HEADLESS");
  EXPECT_EQ(answer.at("result"), false);
  ASSERT_EQ(answer.at("out").at(0), 1001);
  EXPECT_NE(answer.at("out").at(1).get<std::string>().find("Диалог настроек недоступен"), std::string::npos);
}

// --- In-process: what the settings dialogs call -------------------------------------------------

class RecordedBoxes final : public IMessageBoxes {
 public:
  explicit RecordedBoxes(std::vector<std::string>* texts) : texts_(texts) {}
  void ShowMessage(std::string_view Text, TMessageBoxIcon Icon) override {
    EXPECT_EQ(Icon, TMessageBoxIcon::Information);
    texts_->emplace_back(Text);
  }

 private:
  std::vector<std::string>* texts_;
};

class DriverInProcess : public ::testing::Test {
 protected:
  DriverInProcess() : driver(CreateComObject<TDriver>()) { h.Attach(ComPtr<IDispatch>(AsDispatch(driver.Get()))); }
  ~DriverInProcess() override {
    h.Release();
    driver.Reset();
  }
  DriverHarness h;
  ComPtr<TDriver> driver;
};

TEST_F(DriverInProcess, DeviceTestListsTheControllersInABox) {
  std::vector<std::string> texts;
  auto previous = SetMessageBoxes(std::make_unique<RecordedBoxes>(&texts));
  std::string text = "stale";
  EXPECT_TRUE(driver->DeviceTest(text));
  h.Enable();
  driver->NetDevice().Controllers.GetItem(1)->SetOnline(false);  // as a poll without answer leaves it
  EXPECT_TRUE(driver->DeviceTest(text));
  EXPECT_EQ(text, "");
  SetMessageBoxes(std::move(previous));
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(texts[0], "");
  EXPECT_EQ(texts[1], "1\tДверь 1\t127.0.0.2\tВкл.\r\n2\tДверь 2\t127.0.0.3\tВыкл.\r\n");
}

TEST_F(DriverInProcess, WriteControllerConfigLeavesTheDeviceDisconnectedWithAnEmptyList) {
  h.Enable();
  const std::array<std::uint8_t, 10> config = {0x81, 0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8A};
  std::string text;
  EXPECT_EQ(driver->WriteControllerConfig(A, config, text), 0);
  EXPECT_EQ(text, "Нет ошибок");
  const auto seen = h.Seen();
  std::vector<std::string> names;
  for (const auto& c : seen) names.push_back(c.controller + " " + c.name);
  // Goodbyes to both, the write to the one controller, its goodbye.
  EXPECT_EQ(names, (std::vector<std::string>{A + " Goodbye", B + " Goodbye", A + " WriteConfig", A + " Goodbye"}));
  const auto commands = h.Sim().Commands(A);
  const auto write = std::find_if(commands.begin(), commands.end(),
                                  [](const auto& c) { return c.name == "WriteConfig"; });
  ASSERT_NE(write, commands.end());
  EXPECT_EQ(write->config.value_or(""), std::string(config.begin(), config.end()));

  EXPECT_FALSE(driver->NetDevice().Connected());
  EXPECT_EQ(driver->NetDevice().Controllers.Count(), 0);
  EXPECT_EQ(h.Fn("GetControllers").at("out").at(0).at("dims"), Json::parse("[[0,3],[0,-1]]"));
  EXPECT_EQ(h.Fn("SetMode", Json::array({Json::array({"1"}), 1})).at("out").at(0), 1008);
  // The next Enable reloads the list from the setting.
  ASSERT_EQ(h.Fn("Enable").at("result"), true);
  EXPECT_EQ(h.Fn("GetControllers").at("out").at(0).at("dims"), Json::parse("[[0,3],[0,1]]"));
}

}  // namespace
}  // namespace driver_test

namespace driver_test {
namespace {

TEST(DriverStatusWait, AReplyThatComesTooLateAnswers74WithItsText) {
  DriverHarness h({DriverHarness::kA});
  TNetDeviceTimings timings;
  timings.StatusWaitMs = 300;
  ComPtr<TDriver> driver = CreateComObject<TDriver>(timings);
  h.Attach(ComPtr<IDispatch>(AsDispatch(driver.Get())));
  h.Enable();
  h.Sim().Control(DriverHarness::kA, [](ctrlsim::SimController& c) { c.SetStatusDelay(ctrlsim::Millis(5000)); });
  EXPECT_EQ(h.Fn("GetStatus", Json::array({Json::array({"1"})})).at("out"), Fail(74, "Истек таймаут ожидания"));
  h.Release();
}

// A host call nested in the status wait (from an event pushed during it) must leave the link alone.
TEST(DriverStatusWait, EnableAndDisableInsideTheWaitAnswer1009) {
  DriverHarness h({DriverHarness::kA});
  h.CreateByProgID();
  h.Enable();
  h.Sim().Control(DriverHarness::kA, [](ctrlsim::SimController& c) { c.SetStatusDelay(ctrlsim::Millis(3000)); });
  std::vector<Json> nested;
  h.OnEvent = [&](const Json&) {
    if (!nested.empty()) return;
    nested.push_back(h.Fn("Enable"));
    nested.push_back(h.Fn("Disable"));
  };
  h.QueueEvent(DriverHarness::kA, 0x40, "00000001");  // reaches the driver while it waits for the status
  const Json answer = h.Fn("GetStatus", Json::array({Json::array({"1"})}));
  h.OnEvent = nullptr;
  EXPECT_EQ(answer.at("result"), true) << answer.dump();
  ASSERT_EQ(nested.size(), 2u);
  EXPECT_EQ(nested[0].at("out"), Fail(1009, "Устройство занято"));
  EXPECT_EQ(nested[1].at("out"), Fail(1009, "Устройство занято"));
  EXPECT_EQ(h.Fn("SetMode", Json::array({Json::array({"1"}), 1})).at("result"), true);
}

TEST(DriverConfigWrite, AControllerThatNeverAnnouncesItselfAnswers74AndTheListStaysEmpty) {
  DriverHarness h({DriverHarness::kA});
  TNetDeviceTimings timings;
  timings.ConnectWaitMs = 300;
  timings.ChannelTimeoutMs = 300;
  ComPtr<TDriver> driver = CreateComObject<TDriver>(timings);
  h.Attach(ComPtr<IDispatch>(AsDispatch(driver.Get())));
  h.Enable();
  std::string text;
  EXPECT_EQ(driver->WriteControllerConfig("127.0.0.9", TController::kDefaultConfig, text), 74);
  EXPECT_EQ(text, "Истек таймаут ожидания");
  EXPECT_FALSE(driver->NetDevice().Connected());
  EXPECT_EQ(driver->NetDevice().Controllers.Count(), 0);
  EXPECT_EQ(h.Fn("SetMode", Json::array({Json::array({"1"}), 1})).at("out").at(0), 1008);
  h.Release();
}

}  // namespace
}  // namespace driver_test
