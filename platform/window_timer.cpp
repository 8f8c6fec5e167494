#include "platform/window_timer.h"

#include <utility>

namespace {
constexpr UINT_PTR kTimerId = 1;
}

WindowTimer::WindowTimer()
    : window_(AllocateHWnd([this](HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) -> LRESULT {
        if (message == WM_TIMER) return WndProc(message, wParam);
        return DefWindowProc(hwnd, message, wParam, lParam);
      })) {}

WindowTimer::~WindowTimer() { DeallocateHWnd(window_); }

void WindowTimer::SetInterval(unsigned intervalMs) {
  if (intervalMs == interval_) return;
  interval_ = intervalMs;
  Update();
}

void WindowTimer::SetEnabled(bool enabled) {
  if (enabled == enabled_) return;
  enabled_ = enabled;
  Update();
}

void WindowTimer::SetOnTimer(std::function<void()> handler) {
  onTimer_ = std::move(handler);
  Update();
}

void WindowTimer::Update() {
  const bool run = enabled_ && interval_ > 0 && onTimer_;
  if (running_) KillTimer(window_, kTimerId);
  running_ = run && SetTimer(window_, kTimerId, interval_) != 0;
}

LRESULT WindowTimer::WndProc(UINT, WPARAM wParam) {
  if (wParam != kTimerId || !running_) return 0;
  // A copy, so the handler may destroy this object (and with it onTimer_) while it runs.
  const std::function<void()> handler = onTimer_;
  handler();
  return 0;
}
