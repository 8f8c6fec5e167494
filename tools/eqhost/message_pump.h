// Runs the calling thread's messages (posted messages, timers, socket notifications) as a host
// application's message loop does.
#pragma once

namespace eqhost {

// Dispatches every message that is pending now; answers how many ran.
int PumpPending();
// Dispatches messages as they come until the time has passed.
void PumpFor(int milliseconds);

}  // namespace eqhost
