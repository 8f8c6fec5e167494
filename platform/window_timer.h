// The class library's timer component: a hidden window with one window timer. The handler runs when
// the thread's message loop (or any pump that takes this window's messages) dispatches WM_TIMER.
// The timer runs only while it is enabled, its interval is above zero and a handler is set; a new
// timer is disabled. Destroying or disabling the timer from inside its own handler is safe.
#pragma once

#include <functional>

#include "platform/export.h"
#include "platform/reactor.h"

class TAVO_PLATFORM_API WindowTimer {
 public:
  WindowTimer();
  ~WindowTimer();
  WindowTimer(const WindowTimer&) = delete;
  WindowTimer& operator=(const WindowTimer&) = delete;

  // Milliseconds between ticks (default 1000). Changing it restarts a running timer.
  void SetInterval(unsigned intervalMs);
  unsigned Interval() const { return interval_; }
  void SetEnabled(bool enabled);
  bool Enabled() const { return enabled_; }
  void SetOnTimer(std::function<void()> handler);

  HWND Window() const { return window_; }

 private:
  LRESULT WndProc(UINT message, WPARAM wParam);
  void Update();

  HWND window_ = nullptr;
  unsigned interval_ = 1000;
  bool enabled_ = false;
  bool running_ = false;
  std::function<void()> onTimer_;
};
