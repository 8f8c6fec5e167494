#include "tools/simulator/udp_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <system_error>
#include <utility>

namespace ctrlsim {
namespace {

sockaddr_in MakeAddress(const std::string& address, std::uint16_t port) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(port);
  if (address.empty()) {
    sa.sin_addr.s_addr = htonl(INADDR_ANY);
  } else if (inet_pton(AF_INET, address.c_str(), &sa.sin_addr) != 1) {
    throw std::system_error(EINVAL, std::generic_category(), "bad IPv4 address '" + address + "'");
  }
  return sa;
}

}  // namespace

UdpSocket::UdpSocket(const std::string& address, std::uint16_t port) {
  const sockaddr_in sa = MakeAddress(address, port);
  fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_UDP);
  if (fd_ < 0) throw std::system_error(errno, std::generic_category(), "socket");
  const int on = 1;
  if (::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
      ::bind(fd_, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) != 0) {
    const int error = errno;
    Close();
    throw std::system_error(error, std::generic_category(),
                            "bind " + address + ":" + std::to_string(port));
  }
}

UdpSocket::~UdpSocket() { Close(); }

UdpSocket::UdpSocket(UdpSocket&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

UdpSocket& UdpSocket::operator=(UdpSocket&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

void UdpSocket::Close() noexcept {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool UdpSocket::SendTo(std::string_view bytes, const std::string& address,
                       std::uint16_t port) const {
  if (fd_ < 0) return false;
  const sockaddr_in sa = MakeAddress(address, port);
  const ssize_t sent = ::sendto(fd_, bytes.data(), bytes.size(), 0,
                                reinterpret_cast<const sockaddr*>(&sa), sizeof sa);
  return sent >= 0 && static_cast<std::size_t>(sent) == bytes.size();
}

bool UdpSocket::Receive(std::string& data, std::string& host, std::uint16_t& port) const {
  if (fd_ < 0) return false;
  std::array<char, 65536> buffer;
  sockaddr_in from{};
  socklen_t fromLength = sizeof from;
  const ssize_t got = ::recvfrom(fd_, buffer.data(), buffer.size(), 0,
                                 reinterpret_cast<sockaddr*>(&from), &fromLength);
  if (got < 0) return false;
  data.assign(buffer.data(), static_cast<std::size_t>(got));
  std::array<char, INET_ADDRSTRLEN> text{};
  host = ::inet_ntop(AF_INET, &from.sin_addr, text.data(), text.size()) ? text.data() : "";
  port = ntohs(from.sin_port);
  return true;
}

}  // namespace ctrlsim
