#include "tools/eqhost/message_pump.h"

#include <cstdint>

#include "platform/reactor.h"

namespace eqhost {

int PumpPending(int limit) {
  int count = 0;
  MSG msg{};
  while (count < limit && PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) continue;  // the host program ends on its input, not on WM_QUIT
    TranslateMessage(&msg);
    DispatchMessage(&msg);
    ++count;
  }
  return count;
}

void PumpFor(int milliseconds) {
  const std::uint64_t deadline = GetTickCount64() + static_cast<std::uint64_t>(milliseconds > 0 ? milliseconds : 0);
  for (;;) {
    PumpPending();
    const std::uint64_t now = GetTickCount64();
    if (now >= deadline) break;
    WaitMessage(static_cast<int>(deadline - now));
  }
}

}  // namespace eqhost
