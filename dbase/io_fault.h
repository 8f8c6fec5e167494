// Test seam: makes the n-th modifying file operation (write, truncate, sync, rename) fail.
//
// Every such operation of the library calls Step() first. Tests arm a step number and choose
// whether that step throws an I/O error (a full disk) or ends the process on the spot (a crash),
// then check what the files look like afterwards. Disarmed, Step() only counts.
#pragma once

#include <string>

namespace dbase::io_fault {

enum class Action { Throw, Exit };

void Arm(long long failingStep, Action action);
void Disarm();
// Modifying operations since the last Arm() or Disarm().
long long Steps();
// Called by the library before each modifying operation on `path`.
void Step(const std::string& path);

}  // namespace dbase::io_fault
