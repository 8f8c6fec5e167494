// Counting and triggering of injected write failures.
#include "dbase/io_fault.h"

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <mutex>
#include <thread>
#include <utility>

#include "dbase/error.h"

namespace dbase::io_fault {
namespace {
std::atomic<long long> gSteps{0};
std::atomic<long long> gFailAt{0};
std::atomic<Action> gAction{Action::Throw};
std::atomic<bool> gVirtual{false};
std::atomic<long long> gWaitedMicros{0};
std::atomic<long long> gRunAt{0};
std::mutex gRunMutex;
std::function<void()> gRunAction;  // guarded by gRunMutex
std::atomic<int> gRefusals[2] = {0, 0};  // by Call
}  // namespace

void Arm(long long failingStep, Action action) {
  gAction = action;
  gSteps = 0;
  gFailAt = failingStep;
}

void RunAt(long long step, std::function<void()> action) {
  const std::lock_guard lock(gRunMutex);
  gSteps = 0;
  gRunAction = std::move(action);
  gRunAt = step;
}

void Disarm() {
  gFailAt = 0;
  gSteps = 0;
  gRunAt = 0;
  const std::lock_guard lock(gRunMutex);
  gRunAction = nullptr;
}

long long Steps() { return gSteps; }

void Step(const std::string& path) {
  const long long step = ++gSteps;
  long long runAt = step;
  if (step != 0 && gRunAt.compare_exchange_strong(runAt, 0)) {
    std::function<void()> action;
    {
      const std::lock_guard lock(gRunMutex);
      action = std::exchange(gRunAction, nullptr);
    }
    if (action) action();
  }
  if (gFailAt == 0 || step != gFailAt) return;
  if (gAction == Action::Exit) _exit(0);
  ThrowIo(path, "запись (имитация сбоя)", ENOSPC);
}

Refusal::Refusal(Call call, int error) : call_(call) {
  gRefusals[static_cast<int>(call)] = error;
}

Refusal::~Refusal() { gRefusals[static_cast<int>(call_)] = 0; }

int RefusedWith(Call call) { return gRefusals[static_cast<int>(call)]; }

VirtualClock::VirtualClock() {
  gWaitedMicros = 0;
  gVirtual = true;
}

VirtualClock::~VirtualClock() {
  gWaitedMicros = 0;
  gVirtual = false;
}

std::chrono::microseconds VirtualClock::Waited() const {
  return std::chrono::microseconds(gWaitedMicros.load());
}

std::chrono::steady_clock::time_point Now() {
  if (!gVirtual) return std::chrono::steady_clock::now();
  return std::chrono::steady_clock::time_point(std::chrono::microseconds(gWaitedMicros.load()));
}

void Pause(std::chrono::microseconds pause) {
  if (gVirtual) {
    gWaitedMicros += pause.count();
  } else {
    std::this_thread::sleep_for(pause);
  }
}

}  // namespace dbase::io_fault
