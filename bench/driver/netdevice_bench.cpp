// Throughput of the network device against simulated controllers on loopback. The link uses fixed
// ports, so run it in a private network namespace: scripts/netns-run ./netdevice_bench
//   Events: simulator -> acknowledgement -> journal -> OnEvent (target: at least 2000 per second).
//   WriteCard: acknowledged command transactions to one controller (target: at least 5000 per second).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <memory>

#include "driver/morvik_common.h"
#include "driver/morvik_net_device.h"
#include "tools/simulator/simulator.h"

namespace {

using namespace std::chrono_literals;

// A connected device with one simulated controller at 127.0.0.2 and its journal in a fresh folder.
struct Rig {
  std::filesystem::path folder;
  ctrlsim::Simulator sim;
  std::unique_ptr<TMorvikNetDevice> device;
  std::size_t delivered = 0;

  Rig() {
    folder = std::filesystem::temp_directory_path() / ("netdevice-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    ::setenv("TAVO_COMMON_APPDATA", folder.c_str(), 1);
    TNetDeviceTimings timings;
    timings.PollIntervalMs = 600000;  // no polls in the way
    device = std::make_unique<TMorvikNetDevice>(timings);
    device->SetBufferFolder(folder.string());
    device->OnEvent = [this](const TEvent&) { ++delivered; };
    device->Controllers.Add(std::make_unique<TController>("1", "127.0.0.2"));
    ctrlsim::ControllerOptions o;
    o.address = "127.0.0.2";
    o.announceInterval = 20ms;
    o.pollSilence = 0ms;
    sim.Add(o);
    sim.Control("127.0.0.2", [](ctrlsim::SimController& c) { c.SetRecording(false); });
    sim.Start();
    connected = device->Connect() == 0;
  }
  ~Rig() {
    device->Disconnect(false);
    device.reset();
    sim.Stop();
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
  }
  bool connected = false;
};

void BM_EventsToOnEventWithJournal(benchmark::State& state) {
  Rig rig;
  if (!rig.connected) {
    state.SkipWithError("could not connect (run in a network namespace)");
    return;
  }
  const int batch = static_cast<int>(state.range(0));
  ctrlsim::EventSpec event;
  event.code = 4;
  event.month = 6;
  event.day = 1;
  event.card = "00A1B2C3";
  for (auto _ : state) {
    const std::size_t target = rig.delivered + static_cast<std::size_t>(batch);
    rig.sim.Control("127.0.0.2", [&](ctrlsim::SimController& c) { c.QueueEvent(event, batch); });
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    while (rig.delivered < target && std::chrono::steady_clock::now() < deadline) {
      ProcessMessages();
      WaitMessage(5);
    }
    if (rig.delivered < target) {
      state.SkipWithError("events did not arrive");
      break;
    }
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * batch);
}
BENCHMARK(BM_EventsToOnEventWithJournal)->Arg(1000)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_WriteCardTransactions(benchmark::State& state) {
  Rig rig;
  if (!rig.connected) {
    state.SkipWithError("could not connect (run in a network namespace)");
    return;
  }
  for (auto _ : state) {
    if (rig.device->WriteCard("1", "00A1B2C3", true, 1, 2) != 0) {
      state.SkipWithError("WriteCard failed");
      break;
    }
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}
BENCHMARK(BM_WriteCardTransactions)->UseRealTime();

}  // namespace
