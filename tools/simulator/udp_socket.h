// A non-blocking IPv4 UDP socket bound to one address and port with SO_REUSEADDR, so that a
// simulated controller can share the link's ports with a driver bound to the wildcard address.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace ctrlsim {

class UdpSocket {
 public:
  UdpSocket() = default;
  // Throws std::system_error when the socket cannot be made or bound.
  UdpSocket(const std::string& address, std::uint16_t port);
  ~UdpSocket();
  UdpSocket(UdpSocket&& other) noexcept;
  UdpSocket& operator=(UdpSocket&& other) noexcept;
  UdpSocket(const UdpSocket&) = delete;
  UdpSocket& operator=(const UdpSocket&) = delete;

  int Fd() const { return fd_; }
  // Sends one datagram; false when it was not sent whole.
  bool SendTo(std::string_view bytes, const std::string& address, std::uint16_t port) const;
  // Takes one waiting datagram; false when none waits.
  bool Receive(std::string& data, std::string& host, std::uint16_t& port) const;

 private:
  void Close() noexcept;
  int fd_ = -1;
};

}  // namespace ctrlsim
