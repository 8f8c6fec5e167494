// The driver's side of the link, by hand: two wildcard sockets on the link's ports, for testing
// the simulator without the driver.
#pragma once

#include <poll.h>

#include <chrono>
#include <optional>
#include <string>

#include "driver/link_frames.h"
#include "tools/simulator/udp_socket.h"

namespace ctrlsim::testing {

struct Datagram {
  std::string bytes;
  std::string host;
  std::uint16_t port = 0;
  frames::ParsedFrame frame;  // data points into bytes
  bool valid = false;
};

class FakeDevice {
 public:
  FakeDevice() : command_("", 1124), event_("", 1125) {}

  // Next datagram on the device's command port (1124) or event port (1125), within the time.
  std::optional<Datagram> ReceiveCommandReply(std::chrono::milliseconds within) {
    return ReceiveOn(command_, within);
  }
  std::optional<Datagram> ReceiveEvent(std::chrono::milliseconds within) { return ReceiveOn(event_, within); }

  // Sends a command frame to a controller's port 1125; answers its CRC value.
  std::uint8_t SendCommand(const std::string& controller, std::uint8_t seq, std::uint8_t code,
                           std::string_view data) {
    frames::BuiltFrame built = frames::BuildFrame(seq, code, data);
    command_.SendTo(built.frame, controller, 1125);
    return built.crc;
  }
  void Acknowledge(const Datagram& d, std::uint8_t code = frames::kAck) {
    event_.SendTo(frames::BuildAck(d.frame.seq, d.frame.crc, code), d.host, 1124);
  }
  const UdpSocket& CommandSocket() const { return command_; }

 private:
  static std::optional<Datagram> ReceiveOn(const UdpSocket& socket, std::chrono::milliseconds within) {
    const auto deadline = std::chrono::steady_clock::now() + within;
    for (;;) {
      Datagram d;
      if (socket.Receive(d.bytes, d.host, d.port)) {
        d.valid = frames::ParseFrame(d.bytes, d.frame);
        return d;
      }
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return std::nullopt;
      pollfd p{socket.Fd(), POLLIN, 0};
      ::poll(&p, 1, static_cast<int>(left.count()));
    }
  }

  UdpSocket command_;
  UdpSocket event_;
};

}  // namespace ctrlsim::testing
