// A set of simulated controllers served by one background thread. Every public member is
// thread-safe; Control and Inspect run a function on one controller under the simulator's lock
// (the listener's callbacks also run under it, on the simulator's thread, and must not call back
// into the Simulator).
#pragma once

#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "tools/simulator/sim_controller.h"

namespace ctrlsim {

class Simulator {
 public:
  explicit Simulator(ControllerListener listener = {});
  ~Simulator();
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

  // Binds the controller's ports (throws std::system_error) and starts serving it.
  void Add(const ControllerOptions& options);
  void Start();
  void Stop();

  // Runs f(SimController&) under the lock and wakes the thread; throws std::out_of_range for an
  // address that was not added.
  template <class F>
  auto Control(const std::string& address, F&& f) {
    std::lock_guard lock(mutex_);
    struct Waker {
      const Simulator* sim;
      ~Waker() { sim->Wake(); }
    } waker{this};
    return f(Find(address));
  }
  template <class F>
  auto Inspect(const std::string& address, F&& f) const {
    std::lock_guard lock(mutex_);
    return f(static_cast<const SimController&>(FindConst(address)));
  }

  // Shorthands for what tests ask most.
  std::vector<ReceivedCommand> Commands(const std::string& address) const;
  ControllerStats Stats(const std::string& address) const;
  bool Linked(const std::string& address) const;
  std::vector<std::string> Addresses() const;

 private:
  void Run();
  void Serve();
  void Wake() const;
  SimController& Find(const std::string& address);
  const SimController& FindConst(const std::string& address) const;

  ControllerListener listener_;
  mutable std::mutex mutex_;
  std::vector<std::unique_ptr<SimController>> controllers_;
  int wakeFd_ = -1;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace ctrlsim
