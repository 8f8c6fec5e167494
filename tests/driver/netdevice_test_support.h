// A network device talking to simulated controllers over loopback, with short waits.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "driver/morvik_common.h"
#include "driver/morvik_net_device.h"
#include "platform/reactor.h"
#include "tools/simulator/simulator.h"

namespace netdevice_testing {

using namespace std::chrono_literals;

inline TNetDeviceTimings FastTimings() {
  TNetDeviceTimings t;
  t.ConnectWaitMs = 3000;
  t.StatusWaitMs = 500;
  t.PollIntervalMs = 600000;  // no polls unless a case asks for them
  t.ChannelTimeoutMs = 200;
  t.BusyDisconnectDelayMs = 50;
  return t;
}

inline ctrlsim::ControllerOptions FastController(const std::string& address) {
  ctrlsim::ControllerOptions o;
  o.address = address;
  o.announceInterval = 20ms;
  o.resendInterval = 1000ms;
  o.pollSilence = 0ms;
  return o;
}

// A private folder for the journal, removed afterwards.
class TempFolder {
 public:
  TempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "netdevice-XXXXXX").string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp");
    path_ = pattern;
  }
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  const std::filesystem::path& Path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// Points the common application data folder (the journal's default place) into a folder.
struct CommonAppDataIn {
  explicit CommonAppDataIn(const TempFolder& folder) {
    ::setenv("TAVO_COMMON_APPDATA", folder.Path().c_str(), 1);
  }
};

// Pumps the thread's messages until done() holds; false when the time ran out.
template <class Done>
bool PumpUntil(Done done, std::chrono::milliseconds within = 3000ms) {
  const auto deadline = std::chrono::steady_clock::now() + within;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    ProcessMessages();
    WaitMessage(5);
  }
  return true;
}

// Pumps for a while, for checking that something does NOT happen.
inline void PumpFor(std::chrono::milliseconds time) {
  PumpUntil([] { return false; }, time);
}

class NetDeviceTest : public ::testing::Test {
 protected:
  explicit NetDeviceTest(const TNetDeviceTimings& timings = FastTimings()) : device(timings) {
    device.SetBufferFolder(folder.Path().string());
    device.OnEvent = [this](const TEvent& e) { events.push_back(e); };
  }
  ~NetDeviceTest() override {
    device.Disconnect(false);
    sim.Stop();
  }

  // Lists a controller on the device (identifier = its position) and simulates it.
  void AddController(const std::string& address, bool simulate = true) {
    const std::string id = std::to_string(device.Controllers.Count() + 1);
    device.Controllers.Add(std::make_unique<TController>(id, address));
    if (simulate) sim.Add(FastController(address));
  }
  void ConnectTo(std::initializer_list<std::string> addresses) {
    for (const auto& a : addresses) AddController(a);
    sim.Start();
    ASSERT_EQ(device.Connect(), 0);
  }
  std::vector<ctrlsim::ReceivedCommand> CommandsNamed(const std::string& address, const std::string& name) {
    std::vector<ctrlsim::ReceivedCommand> out;
    for (auto& c : sim.Commands(address)) {
      if (c.name == name) out.push_back(std::move(c));
    }
    return out;
  }
  template <class F>
  void Control(const std::string& address, F&& f) {
    sim.Control(address, std::forward<F>(f));
  }

  TempFolder folder;
  CommonAppDataIn appData{folder};
  ctrlsim::Simulator sim;
  TMorvikNetDevice device;
  std::vector<TEvent> events;
};

}  // namespace netdevice_testing
