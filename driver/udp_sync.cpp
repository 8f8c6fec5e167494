#include "driver/udp_sync.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>

#include "platform/exceptions.h"

namespace {

#define RES(id, name, text) constexpr std::string_view name = text;
#include "resources/strings/tcp_sync_consts.def"
#undef RES

constexpr std::size_t kMaxMessagesPerPump = 1000;  // a flood never holds the thread for ever

// A port text as a number in network byte order; EConvertError when it is not 0..65535.
in_port_t PortFromText(std::string_view text) {
  unsigned long value = 0;
  bool valid = !text.empty() && text.size() <= 5;
  for (char c : text) {
    if (c < '0' || c > '9') {
      valid = false;
      break;
    }
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  if (!valid || value > 65535) {
    std::string message(SInvalidPort);
    message.replace(message.find("%s"), 2, text);
    throw EConvertError(message);
  }
  return htons(static_cast<std::uint16_t>(value));
}

sockaddr_in MakeAddress(std::string_view host, std::string_view port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  const std::string hostText(host);
  address.sin_addr.s_addr = inet_addr(hostText.c_str());
  address.sin_port = PortFromText(port);
  return address;
}

std::string DottedAddress(const in_addr& address) {
  char dotted[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &address, dotted, sizeof dotted);
  return dotted;
}

}  // namespace

TUDPSync::TUDPSync() {
  FWnd = AllocateHWnd([this](HWND, UINT message, WPARAM wParam, LPARAM lParam) {
    return WndProc(message, wParam, lParam);
  });
  FTimer.SetInterval(kTimerIntervalMs);
  FTimer.SetEnabled(false);
  FTimer.SetOnTimer([this] { ProcessMessages(); });
}

TUDPSync::~TUDPSync() {
  Disconnect();
  DeallocateHWnd(FWnd);
}

bool TUDPSync::Fail(std::string_view text) {
  FLastError = text;
  return false;
}

bool TUDPSync::FailWithErrno(int error) { return Fail(std::strerror(error)); }

void TUDPSync::CloseSocket() noexcept {
  if (FSocket < 0) return;
  WSAAsyncSelect(FSocket, FWnd, 0, 0);  // no notification for a closed descriptor
  ::close(FSocket);
  FSocket = -1;
}

bool TUDPSync::Connect() {
  Disconnect();  // an open socket would otherwise be lost with its port
  FLastError.clear();
  if (FLocalPort.empty()) return Fail(SInvalidServerAddress);
  FSocket = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
  if (FSocket < 0) {
    FSocket = -1;
    return FailWithErrno(errno);
  }
  try {
    if (SetUpSocket()) return true;
  } catch (...) {
    CloseSocket();
    throw;
  }
  CloseSocket();
  return false;
}

bool TUDPSync::SetUpSocket() {
  const int reuse = ~0;
  if (::setsockopt(FSocket, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse) != 0) return FailWithErrno(errno);

  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_addr.s_addr = htonl(INADDR_ANY);
  local.sin_port = PortFromText(FLocalPort);
  if (::bind(FSocket, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) return FailWithErrno(errno);

  if (!FRemoteHost.empty() && !FRemotePort.empty()) {
    const sockaddr_in remote = MakeAddress(FRemoteHost, FRemotePort);
    if (::connect(FSocket, reinterpret_cast<const sockaddr*>(&remote), sizeof remote) != 0) {
      return FailWithErrno(errno);
    }
  }
  if (FAsync) {
    if (WSAAsyncSelect(FSocket, FWnd, kReadMessage, FD_READ) != 0) return FailWithErrno(errno);
    FTimer.SetEnabled(true);
  }
  return true;
}

void TUDPSync::Disconnect() {
  if (!Connected()) return;
  FTimer.SetEnabled(false);
  CloseSocket();
}

int TUDPSync::WaitReadable() {
  const std::uint64_t deadline = GetTickCount64() + static_cast<std::uint64_t>(FTimeoutMs > 0 ? FTimeoutMs : 0);
  for (;;) {
    const std::uint64_t now = GetTickCount64();
    const int remaining = now >= deadline ? 0 : static_cast<int>(deadline - now);
    pollfd entry{FSocket, POLLIN, 0};
    const int ready = ::poll(&entry, 1, remaining);
    if (ready >= 0) return ready > 0 ? 1 : 0;
    if (errno != EINTR) return -1;
  }
}

bool TUDPSync::ReceiveData(std::string& Data, std::string& Host) {
  std::string port;
  return ReceiveData(Data, Host, port);
}

bool TUDPSync::ReceiveData(std::string& Data, std::string& Host, std::string& Port) {
  Data.clear();
  Host.clear();
  Port.clear();
  FLastError.clear();
  if (!Connected()) return Fail(SNotConnected);

  const int ready = WaitReadable();
  if (ready < 0) return FailWithErrno(errno);
  if (ready == 0) return Fail(SServerNotResponding);

  std::array<char, kMaxDatagram> buffer;
  sockaddr_in sender{};
  socklen_t senderSize = sizeof sender;
  // MSG_TRUNC answers the datagram's real length, so a longer one is seen rather than cut;
  // MSG_DONTWAIT keeps a datagram that vanished after readiness from blocking the thread.
  const ssize_t count = ::recvfrom(FSocket, buffer.data(), buffer.size(), MSG_DONTWAIT | MSG_TRUNC,
                                   reinterpret_cast<sockaddr*>(&sender), &senderSize);
  if (count < 0) {
    if (errno == EAGAIN || errno == EWOULDBLOCK) return Fail(SServerNotResponding);
    return FailWithErrno(errno);
  }
  if (static_cast<std::size_t>(count) > buffer.size()) return FailWithErrno(EMSGSIZE);
  if (count == 0) return Fail(SServerNotResponding);

  Data.assign(buffer.data(), static_cast<std::size_t>(count));
  Host = DottedAddress(sender.sin_addr);
  Port = std::to_string(ntohs(sender.sin_port));
  return true;
}

bool TUDPSync::SendData(std::string_view Data, std::string_view Host, std::string_view Port) {
  FLastError.clear();
  const sockaddr_in destination =
      MakeAddress(Host.empty() ? std::string_view(FRemoteHost) : Host, Port.empty() ? std::string_view(FRemotePort) : Port);
  if (!Connected()) return Fail(SNotConnected);
  const ssize_t sent = ::sendto(FSocket, Data.data(), Data.size(), MSG_NOSIGNAL,
                                reinterpret_cast<const sockaddr*>(&destination), sizeof destination);
  if (sent < 0) return FailWithErrno(errno);
  if (static_cast<std::size_t>(sent) < Data.size()) return Fail(SSendError);
  return true;
}

LRESULT TUDPSync::WndProc(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kReadMessage) {
    if (LoWord(lParam) == FD_READ && OnRead) OnRead(*this);
    return 0;
  }
  return DefWindowProc(FWnd, message, wParam, lParam);
}

void TUDPSync::ProcessMessages() {
  MSG msg{};
  for (std::size_t handled = 0; handled < kMaxMessagesPerPump; ++handled) {
    if (!PeekMessage(&msg, FWnd, 0, 0, PM_REMOVE)) return;
    try {
      TranslateMessage(&msg);
      DispatchMessage(&msg);
    } catch (...) {
      // A failing handler counts as a handled message; the pump goes on.
    }
  }
}
