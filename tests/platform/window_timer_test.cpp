#include "platform/window_timer.h"

#include <functional>
#include <memory>
#include <stdexcept>

#include <gtest/gtest.h>

namespace {

// Dispatches the thread's messages for about the given time (bounded in count too).
void PumpFor(int milliseconds, const std::function<bool()>& stop = [] { return false; }) {
  const std::uint64_t deadline = GetTickCount64() + static_cast<std::uint64_t>(milliseconds);
  for (int i = 0; i < 100000 && GetTickCount64() < deadline && !stop(); ++i) {
    MSG msg;
    if (PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE)) {
      DispatchMessage(&msg);
    } else {
      Sleep(1);
    }
  }
}

TEST(WindowTimerTest, NewTimerIsDisabledAndRunsOnlyWithIntervalAndHandler) {
  int ticks = 0;
  WindowTimer timer;
  EXPECT_FALSE(timer.Enabled());
  EXPECT_EQ(timer.Interval(), 1000u);
  timer.SetInterval(5);
  timer.SetOnTimer([&] { ++ticks; });
  PumpFor(40);
  EXPECT_EQ(ticks, 0);

  timer.SetInterval(0);
  timer.SetEnabled(true);
  PumpFor(40);
  EXPECT_EQ(ticks, 0) << "interval 0 never ticks";

  timer.SetInterval(5);
  PumpFor(2000, [&] { return ticks >= 3; });
  EXPECT_GE(ticks, 3);

  timer.SetEnabled(false);
  const int before = ticks;
  PumpFor(40);
  EXPECT_EQ(ticks, before);
}

TEST(WindowTimerTest, WithoutHandlerNothingRunsEvenWhenEnabled) {
  WindowTimer timer;
  timer.SetInterval(1);
  timer.SetEnabled(true);
  Sleep(10);
  MSG msg;
  EXPECT_FALSE(PeekMessage(&msg, timer.Window(), 0, 0, PM_NOREMOVE));
}

TEST(WindowTimerTest, LongerIntervalTakesEffectAtOnce) {
  int ticks = 0;
  WindowTimer timer;
  timer.SetOnTimer([&] { ++ticks; });
  timer.SetInterval(5);
  timer.SetEnabled(true);
  timer.SetInterval(100000);
  PumpFor(50);
  EXPECT_EQ(ticks, 0);
}

TEST(WindowTimerTest, HandlerMayDestroyItsOwnTimer) {
  auto timer = std::make_unique<WindowTimer>();
  int ticks = 0;
  timer->SetInterval(1);
  timer->SetOnTimer([&, guard = std::make_shared<int>(5)] {
    ++ticks;
    timer.reset();
    EXPECT_EQ(*guard, 5);  // the handler's own captures outlive the timer
  });
  timer->SetEnabled(true);
  PumpFor(2000, [&] { return ticks > 0; });
  PumpFor(30);
  EXPECT_EQ(ticks, 1);
  EXPECT_EQ(timer, nullptr);
}

TEST(WindowTimerTest, HandlerMayDisableItsTimerAndErrorsDoNotStopIt) {
  WindowTimer timer;
  int ticks = 0;
  timer.SetInterval(1);
  timer.SetOnTimer([&] {
    ++ticks;
    if (ticks == 2) timer.SetEnabled(false);
    throw std::runtime_error("handler failed");
  });
  timer.SetEnabled(true);
  PumpFor(2000, [&] { return ticks >= 2; });
  PumpFor(30);
  EXPECT_EQ(ticks, 2);
  EXPECT_FALSE(timer.Enabled());
}

}  // namespace
