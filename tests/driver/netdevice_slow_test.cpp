// The product's own waits: 15 s for announcements and status replies, a 4 s poll, a 2 s receive.
// The upper bounds leave room for a loaded machine; they only catch a wait of the wrong length.
#include "tests/driver/netdevice_test_support.h"

namespace netdevice_testing {
namespace {

class ProductTimings : public NetDeviceTest {
 protected:
  ProductTimings() : NetDeviceTest(TNetDeviceTimings{}) {}
  static double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  }
};

TEST_F(ProductTimings, ConnectGivesUpAfterFifteenSeconds) {
  AddController("127.0.0.2", /*simulate=*/false);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(device.Connect(), 74);
  EXPECT_GE(SecondsSince(start), 14.9);  // the wait counts whole milliseconds of the tick
  EXPECT_LT(SecondsSince(start), 20.0);
}

TEST_F(ProductTimings, ASilentControllerCostsOneReceiveOfTwoSeconds) {
  ConnectTo({"127.0.0.2"});
  Control("127.0.0.2", [](ctrlsim::SimController& c) { c.SetReply(ctrlsim::Reply::Silent); });
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(device.SetMode("1", 0), 1007);
  EXPECT_GE(SecondsSince(start), 1.9);
  EXPECT_LT(SecondsSince(start), 4.5);  // not three attempts
}

TEST_F(ProductTimings, PollIntervalIsFourSeconds) {
  ConnectTo({"127.0.0.2"});
  std::vector<std::chrono::steady_clock::time_point> seen;
  std::size_t count = 0;
  ASSERT_TRUE(PumpUntil(
      [&] {
        const std::size_t now = CommandsNamed("127.0.0.2", "Poll").size();
        if (now != count) {
          count = now;
          seen.push_back(std::chrono::steady_clock::now());
        }
        return seen.size() >= 2;
      },
      10000ms));
  const double gap = std::chrono::duration<double>(seen[1] - seen[0]).count();
  EXPECT_GT(gap, 3.5);
  EXPECT_LT(gap, 6.0);
}

TEST_F(ProductTimings, StatusWithNoOnlineControllerGivesUpAfterFifteenSeconds) {
  ConnectTo({"127.0.0.2"});
  device.Controllers[0]->SetOnline(false);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(device.RequestStatus(), 74);
  EXPECT_GE(SecondsSince(start), 14.9);  // the wait counts whole milliseconds of the tick
  EXPECT_LT(SecondsSince(start), 20.0);
}

}  // namespace
}  // namespace netdevice_testing
