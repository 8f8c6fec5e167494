// The message pump's costs: an idle peek (the driver's waits peek every 5 ms, a GUI loop far more
// often), a posted message's round trip, and a datagram's way from the socket to its window.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include "platform/reactor.h"
#include "platform/unique_fd.h"

namespace {

void BM_PeekWithNothingPending(benchmark::State& state) {
  HWND window = AllocateHWnd([](HWND, UINT, WPARAM, LPARAM) -> LRESULT { return 0; });
  SetTimer(window, 1, 100000);  // a timer that is not due must cost nothing
  MSG msg;
  for (auto _ : state) benchmark::DoNotOptimize(PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE));
  DeallocateHWnd(window);
}
BENCHMARK(BM_PeekWithNothingPending);

void BM_PostPeekDispatch(benchmark::State& state) {
  long handled = 0;
  HWND window = AllocateHWnd([&](HWND, UINT, WPARAM, LPARAM) -> LRESULT {
    ++handled;
    return 0;
  });
  MSG msg;
  for (auto _ : state) {
    PostMessage(window, WM_USER, 0, 0);
    PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE);
    DispatchMessage(&msg);
  }
  DeallocateHWnd(window);
  state.counters["handled"] = static_cast<double>(handled);
}
BENCHMARK(BM_PostPeekDispatch);

void BM_DatagramToWindow(benchmark::State& state) {
  UniqueFd receiver(socket(AF_INET, SOCK_DGRAM, 0));
  UniqueFd sender(socket(AF_INET, SOCK_DGRAM, 0));
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(receiver.Get(), reinterpret_cast<sockaddr*>(&addr), sizeof addr);
  socklen_t len = sizeof addr;
  getsockname(receiver.Get(), reinterpret_cast<sockaddr*>(&addr), &len);
  char buffer[64];
  bool received = false;
  HWND window = AllocateHWnd([&](HWND, UINT message, WPARAM, LPARAM) -> LRESULT {
    if (message == WM_USER + 1) received = recv(receiver.Get(), buffer, sizeof buffer, MSG_DONTWAIT) > 0;
    return 0;
  });
  WSAAsyncSelect(receiver.Get(), window, WM_USER + 1, FD_READ);
  MSG msg;
  for (auto _ : state) {
    sendto(sender.Get(), "x", 1, 0, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    received = false;
    for (int spins = 0; !received && spins < 1000000; ++spins) {
      if (PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessage(&msg);
    }
  }
  DeallocateHWnd(window);
}
BENCHMARK(BM_DatagramToWindow);

}  // namespace
