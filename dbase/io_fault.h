// Test seam: makes the n-th modifying file operation (write, truncate, sync, rename) fail, or
// calls that some file systems lack (hard links, renames that refuse to replace) fail throughout.
//
// Every such operation of the library calls Step() first. Tests arm a step number and choose
// whether that step throws an I/O error (a full disk) or ends the process on the spot (a crash),
// then check what the files look like afterwards; or they have the n-th step run their own code
// first (another holder acting at exactly that point). Disarmed, Step() only counts.
//
// Lock waits go through Now() and Pause(). With the virtual clock on, a pause advances that clock
// instead of sleeping, so a test learns how long a wait for a held lock would have lasted without
// waiting for it.
#pragma once

#include <chrono>
#include <functional>
#include <string>

namespace dbase::io_fault {

enum class Action { Throw, Exit };

void Arm(long long failingStep, Action action);
// Resets the step count; step `step` then runs `action` before going on (once; the action's own
// steps are counted too).
void RunAt(long long step, std::function<void()> action);
void Disarm();
// Modifying operations since the last Arm() or Disarm().
long long Steps();
// Called by the library before each modifying operation on `path`.
void Step(const std::string& path);

// Calls that some file systems lack.
enum class Call { Link, RenameNoReplace };
// While it lives, every `call` fails with `error` without being made, as where the file system
// lacks it (0: the call is made).
class Refusal {
 public:
  Refusal(Call call, int error);
  ~Refusal();
  Refusal(const Refusal&) = delete;
  Refusal& operator=(const Refusal&) = delete;

 private:
  Call call_;
};
// The error a refused `call` is to fail with; 0 when it is to be made.
int RefusedWith(Call call);

// While it lives, lock waits pause no real time: Now() advances by the pauses instead.
class VirtualClock {
 public:
  VirtualClock();
  ~VirtualClock();
  VirtualClock(const VirtualClock&) = delete;
  VirtualClock& operator=(const VirtualClock&) = delete;
  // Time paused in lock waits since this clock started.
  std::chrono::microseconds Waited() const;
};
std::chrono::steady_clock::time_point Now();
void Pause(std::chrono::microseconds pause);

}  // namespace dbase::io_fault
