#include "tools/simulator/simulator.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <system_error>

namespace ctrlsim {
namespace {

constexpr Millis kLongestSleep{100};

}  // namespace

Simulator::Simulator(ControllerListener listener) : listener_(std::move(listener)) {
  wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  if (wakeFd_ < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
}

Simulator::~Simulator() {
  Stop();
  ::close(wakeFd_);
}

void Simulator::Add(const ControllerOptions& options) {
  auto controller = std::make_unique<SimController>(options, &listener_);
  std::lock_guard lock(mutex_);
  controllers_.push_back(std::move(controller));
  Wake();
}

void Simulator::Start() {
  std::lock_guard lock(mutex_);
  if (thread_.joinable()) return;
  stopping_ = false;
  thread_ = std::thread([this] { Run(); });
}

void Simulator::Stop() {
  {
    std::lock_guard lock(mutex_);
    if (!thread_.joinable()) return;
    stopping_ = true;
  }
  Wake();
  thread_.join();
}

void Simulator::Wake() const {
  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t written = ::write(wakeFd_, &one, sizeof one);
}

void Simulator::Run() {
  for (;;) {
    std::vector<pollfd> fds;
    Millis timeout = kLongestSleep;
    {
      std::lock_guard lock(mutex_);
      if (stopping_) return;
      const auto now = Clock::now();
      for (const auto& c : controllers_) {
        fds.push_back({c->CommandFd(), POLLIN, 0});
        fds.push_back({c->EventFd(), POLLIN, 0});
        const auto wait = std::chrono::duration_cast<Millis>(c->NextWake(now) - now);
        timeout = std::clamp(wait, Millis(0), timeout);
      }
    }
    fds.push_back({wakeFd_, POLLIN, 0});
    ::poll(fds.data(), fds.size(), static_cast<int>(timeout.count()));
    std::uint64_t drained = 0;
    [[maybe_unused]] const ssize_t got = ::read(wakeFd_, &drained, sizeof drained);
    Serve();
  }
}

void Simulator::Serve() {
  std::lock_guard lock(mutex_);
  const auto now = Clock::now();
  for (const auto& c : controllers_) {
    c->ReadCommands(now);
    c->ReadAcks(now);
    c->Tick(now);
  }
}

SimController& Simulator::Find(const std::string& address) {
  return const_cast<SimController&>(FindConst(address));
}

const SimController& Simulator::FindConst(const std::string& address) const {
  for (const auto& c : controllers_) {
    if (c->Address() == address) return *c;
  }
  throw std::out_of_range("no simulated controller at " + address);
}

std::vector<ReceivedCommand> Simulator::Commands(const std::string& address) const {
  return Inspect(address, [](const SimController& c) { return c.Commands(); });
}

ControllerStats Simulator::Stats(const std::string& address) const {
  return Inspect(address, [](const SimController& c) { return c.Stats(); });
}

bool Simulator::Linked(const std::string& address) const {
  return Inspect(address, [](const SimController& c) { return c.Linked(); });
}

std::vector<std::string> Simulator::Addresses() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> out;
  for (const auto& c : controllers_) out.push_back(c->Address());
  return out;
}

}  // namespace ctrlsim
