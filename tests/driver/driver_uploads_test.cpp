// Cards, time profiles and holidays through the host's side: card number forms, profile numbers,
// the order of commands with and without the before-upload commands, and the stop at the first
// failure.
#include <gtest/gtest.h>

#include "tests/driver/driver_harness.h"

namespace driver_test {
namespace {

using Names = std::vector<std::string>;

class DriverUploads : public ::testing::Test {
 protected:
  void SetUp() override {
    h.CreateByProgID();
    h.Enable();
  }

  // UploadCards with one row per card: number, profiles (default 1 and 2), unused, flag (default true).
  Json UploadCards(int loadMode, const Json& ids, const std::vector<Json>& numbers,
                   const std::vector<Json>& profiles = {}, const std::vector<bool>& flags = {}) {
    Json n = Json::array(), p = Json::array(), u = Json::array(), f = Json::array();
    for (std::size_t i = 0; i < numbers.size(); ++i) {
      n.push_back(numbers[i]);
      p.push_back(i < profiles.size() ? profiles[i] : Profiles({1, 2}));
      u.push_back(nullptr);
      f.push_back(i < flags.size() ? flags[i] : true);
    }
    return h.Fn("UploadCards", Json::array({loadMode, ids, Table({n, p, u, f})}));
  }

  // The cards that reached the controllers, in order.
  Names WrittenCards() {
    Names cards;
    for (const SeenCommand& c : h.Seen()) {
      if (c.name == "WriteCard" || c.name == "DeleteCard") cards.push_back(c.card);
    }
    return cards;
  }

  // "<controller> <command>" for every command, in order.
  Names Sequence() {
    Names names;
    for (const SeenCommand& c : h.Seen()) names.push_back(c.controller + " " + c.name);
    return names;
  }

  static Json Fail(int code, const char* text) { return Json::array({code, text}); }

  DriverHarness h;
};

const std::string A = DriverHarness::kA;
const std::string B = DriverHarness::kB;
const Json kHolidays = Json::array({Json{{"date", "2025-01-01T00:00:00"}}, Json{{"date", "2025-05-09T00:00:00"}}});

// Time-profile rows: number, Monday ... Saturday, Sunday, four times.
Json ProfileRow(const Json& number, int dayField) {
  Json row = Json::array({number});
  for (int field = 1; field <= 7; ++field) row.push_back(field == dayField);
  for (const char* t : {"08:00", "12:30", "13:15", "18:45"}) {
    row.push_back(Json{{"date", std::string("1899-12-30T") + t + ":00"}});
  }
  return row;
}

Json ProfileTable(const std::vector<Json>& rows) {
  std::vector<Json> fields(12, Json::array());
  for (const Json& row : rows) {
    for (std::size_t f = 0; f < 12; ++f) fields[f].push_back(row[f]);
  }
  return Table(fields);
}

TEST_F(DriverUploads, HexadecimalCardNumbersArePaddedOrCut) {
  const Json answer = UploadCards(1, Json::array({"1"}), {"12ab", "", "123456789A", 1234});
  ASSERT_EQ(answer.at("result"), true) << answer.dump();
  EXPECT_EQ(WrittenCards(), (Names{"000012AB", "00000000", "3456789A", "00001234"}));
}

TEST_F(DriverUploads, DecimalCardNumbersAreTheirTwosComplement) {
  h.SetSetting("CardNumFormat", 1);
  const Json answer = UploadCards(1, Json::array({"1"}), {"255", "-1", "2147483647", 16});
  ASSERT_EQ(answer.at("result"), true) << answer.dump();
  EXPECT_EQ(WrittenCards(), (Names{"000000FF", "FFFFFFFF", "7FFFFFFF", "00000010"}));
}

TEST_F(DriverUploads, AnInvalidCardNumberStopsWithEarlierRowsWritten) {
  EXPECT_EQ(UploadCards(1, Json::array({"1"}), {"AA", "12G4", "BB"}).at("out"),
            Fail(4504, "Неверный номер карты"));
  EXPECT_EQ(WrittenCards(), (Names{"000000AA"}));
  h.SetSetting("CardNumFormat", 1);
  for (const Json& bad : {Json("2147483648"), Json(""), Json("1A")}) {
    EXPECT_EQ(UploadCards(1, Json::array({"1"}), {bad}).at("out"), Fail(4504, "Неверный номер карты")) << bad;
  }
  // The setting is read for each card it converts: one that is not a number fails that card alone.
  h.SetSetting("CardNumFormat", "десять");
  EXPECT_EQ(UploadCards(1, Json::array({"1"}), {"AA"}).at("out"), Fail(4504, "Неверный номер карты"));
  EXPECT_EQ(UploadCards(1, Json::array({"1"}), {"AA"}, {Profiles({16})}).at("out").at(0), 4503);
  EXPECT_EQ(UploadCards(1, Json::array({"1"}), {}).at("result"), true);
  EXPECT_EQ(h.Fn("DeleteCards", Json::array({Json::array({"1"}), Json::array()})).at("result"), true);
  EXPECT_EQ(h.Fn("DeleteCards", Json::array({Json::array({"1"}), Json::array({"AA"})})).at("out").at(0), 4504);
  EXPECT_EQ(WrittenCards(), (Names{"000000AA"}));
}

TEST_F(DriverUploads, CardProfilesAreCheckedBeforeTheNumber) {
  const char* text = "Номер временного профиля должен быть числом в диапазоне 1 - 15";
  EXPECT_EQ(UploadCards(1, Json::array({"1"}), {"12G4"}, {Profiles({16})}).at("out"), Fail(4503, text));
  EXPECT_EQ(UploadCards(1, Json::array({"1"}), {"1"}, {Profiles({1, -1})}).at("out"), Fail(4503, text));
  EXPECT_EQ(UploadCards(1, Json::array({"1"}), {"1"}, {Profiles({257})}).at("out"), Fail(4503, text));
  EXPECT_TRUE(WrittenCards().empty());
  // Profile 0 is accepted; a single element leaves the second profile 0, whatever the row before
  // had; each card has its own flag.
  ASSERT_EQ(UploadCards(1, Json::array({"1"}), {"1", "2"}, {Profiles({0, 15}), Profiles({5})}, {true, false})
                .at("result"),
            true);
  const auto commands = h.Sim().Commands(A);
  ASSERT_GE(commands.size(), 2u);
  const auto& first = commands[commands.size() - 2];
  const auto& second = commands.back();
  EXPECT_EQ(first.profile1.value_or(99), 0);
  EXPECT_EQ(first.profile2.value_or(99), 15);
  EXPECT_EQ(first.flag.value_or(false), true);
  EXPECT_EQ(second.profile1.value_or(99), 5);
  EXPECT_EQ(second.profile2.value_or(99), 0);
  EXPECT_EQ(second.flag.value_or(true), false);
}

TEST_F(DriverUploads, LoadModeZeroAloneClearsBeforeEveryCardAtEveryController) {
  ASSERT_EQ(UploadCards(0, Json::array({"1", "2"}), {"C1", "C2"}).at("result"), true);
  EXPECT_EQ(Sequence(), (Names{A + " ClearCards", A + " WriteCard", B + " ClearCards", B + " WriteCard",
                               A + " ClearCards", A + " WriteCard", B + " ClearCards", B + " WriteCard"}));
  EXPECT_EQ(WrittenCards(), (Names{"000000C1", "000000C1", "000000C2", "000000C2"}));
  h.ClearSeen();
  ASSERT_EQ(UploadCards(7, Json::array({"1", "2"}), {"C1", "C2"}).at("result"), true);
  EXPECT_EQ(Sequence(), (Names{A + " WriteCard", B + " WriteCard", A + " WriteCard", B + " WriteCard"}));
}

TEST_F(DriverUploads, HolidaysRunControllersOutsideDatesInside) {
  ASSERT_EQ(h.Fn("UploadHolidays", Json::array({0, Json::array({"1", "2"}), kHolidays})).at("result"), true);
  EXPECT_EQ(Sequence(), (Names{A + " ClearDates", A + " WriteDate", A + " WriteDate", B + " ClearDates",
                               B + " WriteDate", B + " WriteDate"}));
  const auto commands = h.Sim().Commands(B);
  EXPECT_EQ(commands.back().month.value_or(0), 5);
  EXPECT_EQ(commands.back().day.value_or(0), 9);
}

TEST_F(DriverUploads, DeleteCardsRunsCardsOutsideControllersInside) {
  const Json answer = h.Fn("DeleteCards", Json::array({Json::array({"1", "2"}), Json::array({"c1", "c2"})}));
  ASSERT_EQ(answer.at("result"), true) << answer.dump();
  EXPECT_EQ(Sequence(), (Names{A + " DeleteCard", B + " DeleteCard", A + " DeleteCard", B + " DeleteCard"}));
  EXPECT_EQ(WrittenCards(), (Names{"000000C1", "000000C1", "000000C2", "000000C2"}));

  // The same normalisation as for uploads; a bad card stops with the cards before it deleted.
  h.ClearSeen();
  h.SetSetting("CardNumFormat", 1);
  EXPECT_EQ(h.Fn("DeleteCards", Json::array({Json::array({"1"}), Json::array({"-1", "1A", "7"})})).at("out"),
            Fail(4504, "Неверный номер карты"));
  EXPECT_EQ(WrittenCards(), (Names{"FFFFFFFF"}));
}

TEST_F(DriverUploads, TheFirstFailingCommandStopsEverything) {
  const Json ids = Json::array({"1", "2"});
  const Json profiles = ProfileTable({ProfileRow(3, 1), ProfileRow(4, 2)});
  // What A got stays sent; B refuses the next command three times (and would take the ones after
  // it); nothing follows, neither the next item nor the next date.
  const auto stopsAtB = [&](const auto& call, Names sent, const std::string& refused) {
    h.Sim().Control(B, [](ctrlsim::SimController& c) { c.SetReply(ctrlsim::Reply::Nak, 3); });
    EXPECT_EQ(call().at("out"), Fail(1009, "Устройство занято")) << refused;
    sent.insert(sent.end(), 3, B + " " + refused);
    EXPECT_EQ(Sequence(), sent);
    h.ClearSeen();
  };
  stopsAtB([&] { return UploadCards(1, ids, {"C1", "C2"}); }, {A + " WriteCard"}, "WriteCard");
  stopsAtB([&] { return h.Fn("DeleteCards", Json::array({ids, Json::array({"C1", "C2"})})); },
           {A + " DeleteCard"}, "DeleteCard");
  stopsAtB([&] { return h.Fn("UploadTimeProfiles", Json::array({1, ids, profiles})); }, {A + " WriteTimeProfile"},
           "WriteTimeProfile");
  stopsAtB([&] { return h.Fn("UploadHolidays", Json::array({1, ids, kHolidays})); },
           {A + " WriteDate", A + " WriteDate"}, "WriteDate");
  // With load mode 0 a refused clearing stops as well: nothing is written over what B kept.
  stopsAtB([&] { return UploadCards(0, ids, {"C1", "C2"}); }, {A + " ClearCards", A + " WriteCard"}, "ClearCards");
  stopsAtB([&] { return h.Fn("UploadTimeProfiles", Json::array({0, ids, profiles})); },
           {A + " ClearTimeProfiles", A + " WriteTimeProfile"}, "ClearTimeProfiles");
  stopsAtB([&] { return h.Fn("UploadHolidays", Json::array({0, ids, kHolidays})); },
           {A + " ClearDates", A + " WriteDate", A + " WriteDate"}, "ClearDates");
}

TEST_F(DriverUploads, AnUnlistedControllerAnswers4501AtItsFirstCommand) {
  const Json answer = UploadCards(1, Json::array({"1", "9", "2"}), {"C1"});
  EXPECT_EQ(answer.at("out"), Fail(4501, "Контроллер отсутствует в списке"));
  EXPECT_EQ(Sequence(), (Names{A + " WriteCard"}));
}

TEST_F(DriverUploads, AnEmptyControllerListSendsNothingButStillChecksTheCards) {
  EXPECT_EQ(UploadCards(0, Json::array(), {"C1"}).at("result"), true);
  EXPECT_EQ(UploadCards(0, Json::array(), {"C1", "XYZ"}).at("out").at(0), 4504);
  EXPECT_TRUE(h.Seen().empty());
}

TEST_F(DriverUploads, ADisconnectedDeviceAnswers1008AfterTheCardChecks) {
  ASSERT_EQ(h.Fn("Disable").at("result"), true);
  h.ClearSeen();
  EXPECT_EQ(UploadCards(1, Json::array({"1"}), {"XYZ"}).at("out").at(0), 4504);
  EXPECT_EQ(UploadCards(1, Json::array({"1"}), {"C1"}).at("out").at(0), 1008);
  EXPECT_TRUE(h.Seen().empty());
}

TEST_F(DriverUploads, CardsThatAreNotATableAre1001) {
  const Json answer = h.Fn("UploadCards", Json::array({0, Json::array({"1"}), Json::array({"C1"})}));
  EXPECT_EQ(answer.at("out").at(0), 1001);
  EXPECT_TRUE(h.Seen().empty());
}

TEST_F(DriverUploads, TimeProfilesCarryTheDaysWithSundayFirstAndStopAtABadNumber) {
  // Profile n has only day field n set.
  std::vector<Json> rows;
  for (int n = 1; n <= 7; ++n) rows.push_back(ProfileRow(n, n));
  rows.push_back(ProfileRow(16, 2));
  rows.push_back(ProfileRow(5, 3));
  const Json answer = h.Fn("UploadTimeProfiles", Json::array({0, Json::array({"1"}), ProfileTable(rows)}));
  EXPECT_EQ(answer.at("out").at(0), 4503);
  Names sequence;
  for (int n = 1; n <= 7; ++n) sequence.insert(sequence.end(), {A + " ClearTimeProfiles", A + " WriteTimeProfile"});
  EXPECT_EQ(Sequence(), sequence);
  const auto commands = h.Sim().Commands(A);
  std::vector<const ctrlsim::ReceivedCommand*> written;
  std::vector<int> days;
  for (const auto& c : commands) {
    if (c.name != "WriteTimeProfile") continue;
    written.push_back(&c);
    days.push_back(c.days.value_or(0xFF));
  }
  ASSERT_EQ(written.size(), 7u);
  EXPECT_EQ(written[2]->profile.value_or(0), 3);
  // Sunday (field 7) is bit 0, Monday to Saturday (fields 1 to 6) bits 1 to 6.
  EXPECT_EQ(days, (std::vector<int>{0x02, 0x04, 0x08, 0x10, 0x20, 0x40, 0x01}));
  ASSERT_TRUE(written[0]->times.has_value());
  EXPECT_EQ((*written[0]->times)[1].hour, 12);
  EXPECT_EQ((*written[0]->times)[1].minute, 30);
  EXPECT_EQ(h.Fn("UploadTimeProfiles", Json::array({1, Json::array({"1"}), ProfileTable({ProfileRow(0, 1)})}))
                .at("out").at(0),
            4503);
}

}  // namespace
}  // namespace driver_test
