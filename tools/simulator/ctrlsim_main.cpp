// ctrlsim: plays access controllers on loopback addresses for trying the driver by hand.
//   ctrlsim [address ...]       adds a controller at each address, then reads JSON requests
// (one per line, see tools/simulator/sim_json.h) from standard input and prints one JSON line per
// command received and per frame acknowledged by the driver.
#include <iostream>
#include <mutex>
#include <string>

#include "tools/simulator/sim_json.h"

namespace {

std::mutex outputMutex;

void Print(const nlohmann::json& line) {
  std::lock_guard lock(outputMutex);
  std::cout << line.dump() << std::endl;
}

}  // namespace

int main(int argc, char** argv) {
  ctrlsim::ControllerListener listener{
      [](const ctrlsim::ReceivedCommand& c) { Print(ctrlsim::ToJson(c)); },
      [](const ctrlsim::AckedFrame& f) { Print(ctrlsim::ToJson(f)); }};
  ctrlsim::Simulator sim(listener);
  try {
    for (int i = 1; i < argc; ++i) {
      ctrlsim::ControllerOptions options;
      options.address = argv[i];
      sim.Add(options);
    }
  } catch (const std::exception& e) {
    Print({{"type", "error"}, {"message", e.what()}});
    return 1;
  }
  sim.Start();
  std::string line;
  while (std::getline(std::cin, line)) {
    if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
    try {
      std::optional<nlohmann::json> answer;
      if (ctrlsim::ApplyRequest(sim, nlohmann::json::parse(line), answer) == ctrlsim::RequestResult::Quit) break;
      if (answer) Print(*answer);
    } catch (const std::exception& e) {
      Print({{"type", "error"}, {"message", e.what()}});
    }
  }
  sim.Stop();
  return 0;
}
