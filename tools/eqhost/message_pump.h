// Runs the calling thread's messages (posted messages, timers, socket notifications) as a host
// application's message loop does.
#pragma once

namespace eqhost {

// A batch of messages runs between two looks at the host's own input, so a steady stream of
// messages cannot keep that input waiting.
constexpr int kPumpBatch = 64;

// Dispatches the messages pending now, at most limit of them; answers how many ran.
int PumpPending(int limit = kPumpBatch);
// Dispatches messages as they come until the time has passed.
void PumpFor(int milliseconds);

}  // namespace eqhost
