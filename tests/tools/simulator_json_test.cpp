// JSON requests applied to a simulator, as the ctrlsim program reads them.
#include <gtest/gtest.h>

#include <mutex>

#include "tests/tools/simulator_fake_device.h"
#include "tools/simulator/sim_json.h"

namespace ctrlsim {
namespace {

using nlohmann::json;
using namespace std::chrono_literals;

RequestResult Apply(Simulator& sim, std::string_view text, std::optional<json>* answer = nullptr) {
  std::optional<json> ignored;
  return ApplyRequest(sim, json::parse(text), answer ? *answer : ignored);
}

TEST(SimJsonRequests, AddConfiguresAndStatsAnswers) {
  Simulator sim;
  Apply(sim, R"({"cmd":"add","address":"127.0.0.2","first_seq":200,"announce":false,"status":4660})");
  EXPECT_EQ(sim.Inspect("127.0.0.2", [](const SimController& c) { return c.NextSeq(); }), 200);
  Apply(sim, R"({"cmd":"event","code":12,"card":"00000001","count":3})");
  std::optional<json> answer;
  Apply(sim, R"({"cmd":"stats"})", &answer);
  ASSERT_TRUE(answer);
  EXPECT_EQ((*answer)["type"], "stats");
  EXPECT_EQ((*answer)["queued"], 3);
  EXPECT_EQ((*answer)["linked"], false);
  EXPECT_EQ(Apply(sim, R"({"cmd":"quit"})"), RequestResult::Quit);
}

TEST(SimJsonRequests, BadRequestsAreRefusedWithAReason) {
  Simulator sim;
  EXPECT_THROW(Apply(sim, R"({"cmd":"stats"})"), std::invalid_argument);  // no controller yet
  Apply(sim, R"({"cmd":"add","address":"127.0.0.2","announce":false})");
  Apply(sim, R"({"cmd":"add","address":"127.0.0.3","announce":false})");
  EXPECT_THROW(Apply(sim, R"({"cmd":"goodbye"})"), std::invalid_argument);  // which one?
  EXPECT_THROW(Apply(sim, R"({"cmd":"dance","controller":"127.0.0.2"})"), std::invalid_argument);
  EXPECT_THROW(Apply(sim, R"({"cmd":"reply","controller":"127.0.0.2","mode":"maybe"})"), std::invalid_argument);
  EXPECT_THROW(Apply(sim, R"({"cmd":"event","controller":"127.0.0.2","month":300})"), std::invalid_argument);
  EXPECT_THROW(Apply(sim, R"({"cmd":"frame","controller":"127.0.0.2","data":"ABC"})"), std::invalid_argument);
  EXPECT_THROW(Apply(sim, R"({"cmd":"seq","controller":"127.0.0.9","value":1})"), std::out_of_range);
  EXPECT_THROW(Apply(sim, R"({"nocmd":1})"), json::exception);
  EXPECT_THROW(Apply(sim, R"({"cmd":"add","address":"not-an-address"})"), std::system_error);
}

TEST(SimJsonRequests, ListenerSeesCommandsAndAcknowledgedEventsAsJson) {
  std::mutex mutex;
  std::vector<json> lines;
  ControllerListener listener{
      [&](const ReceivedCommand& c) { std::lock_guard l(mutex); lines.push_back(ToJson(c)); },
      [&](const AckedFrame& f) { std::lock_guard l(mutex); lines.push_back(ToJson(f)); }};
  testing::FakeDevice device;
  Simulator sim(listener);
  Apply(sim, R"({"cmd":"add","address":"127.0.0.2","announce":false})");
  sim.Start();
  device.SendCommand("127.0.0.2", 3, frames::kKeepAlive, "\x84");
  ASSERT_TRUE(device.ReceiveCommandReply(2000ms));
  Apply(sim, R"({"cmd":"event","code":4,"month":12,"day":31,"hour":23,"minute":59,"second":30})");
  std::optional<testing::Datagram> event;
  for (int i = 0; i < 20 && !(event && event->valid && event->frame.code == frames::kEvent); ++i) {
    event = device.ReceiveEvent(2000ms);
  }
  ASSERT_TRUE(event);
  device.Acknowledge(*event);
  for (int i = 0; i < 200; ++i) {
    {
      std::lock_guard l(mutex);
      if (lines.size() >= 2) break;
    }
    std::this_thread::sleep_for(5ms);
  }
  std::lock_guard l(mutex);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0]["name"], "HelloAnswer");
  EXPECT_EQ(lines[1]["type"], "event");
  EXPECT_EQ(lines[1]["data"].get<std::string>().substr(26), "8492B1A3D9B0");
}

}  // namespace
}  // namespace ctrlsim
