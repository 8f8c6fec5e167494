// Counting and triggering of injected write failures.
#include "dbase/io_fault.h"

#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "dbase/error.h"

namespace dbase::io_fault {
namespace {
std::atomic<long long> gSteps{0};
std::atomic<long long> gFailAt{0};
std::atomic<Action> gAction{Action::Throw};
}  // namespace

void Arm(long long failingStep, Action action) {
  gAction = action;
  gSteps = 0;
  gFailAt = failingStep;
}

void Disarm() {
  gFailAt = 0;
  gSteps = 0;
}

long long Steps() { return gSteps; }

void Step(const std::string& path) {
  const long long step = ++gSteps;
  if (gFailAt == 0 || step != gFailAt) return;
  if (gAction == Action::Exit) _exit(0);
  ThrowIo(path, "запись (имитация сбоя)", ENOSPC);
}

}  // namespace dbase::io_fault
