// A UDP datagram channel bound to a local port: sends one datagram to a given (or the default)
// host and port, receives one datagram with a bounded wait, and in asynchronous mode reports a
// waiting datagram through its hidden window (WM_USER + 1 with FD_READ) to OnRead. Every operation
// answers a Boolean and leaves the reason of a failure in LastError(). Used on the thread that
// created it only.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "platform/reactor.h"
#include "platform/window_timer.h"

class TUDPSync {
 public:
  static constexpr UINT kReadMessage = WM_USER + 1;
  static constexpr std::size_t kMaxDatagram = 8192;  // longer datagrams are receive errors
  static constexpr unsigned kTimerIntervalMs = 200;

  TUDPSync();
  virtual ~TUDPSync();
  TUDPSync(const TUDPSync&) = delete;
  TUDPSync& operator=(const TUDPSync&) = delete;

  // Opens and binds the socket (to every interface and LocalPort), connects it to the default
  // peer when both RemoteHost and RemotePort are set, and in asynchronous mode starts the read
  // notification. Called on a closed channel. A port that is not a number 0..65535 raises
  // EConvertError.
  bool Connect();
  void Disconnect();
  bool Connected() const noexcept { return FSocket >= 0; }

  // One datagram: its bytes, the sender's dotted address and port. Waits at most the time-out;
  // nothing within it, or an empty datagram, answers false with "Сервер не отвечает".
  bool ReceiveData(std::string& Data, std::string& Host);
  bool ReceiveData(std::string& Data, std::string& Host, std::string& Port);
  // Sends Data as one datagram; an empty Host or Port stands for RemoteHost or RemotePort. A port
  // that is not a number 0..65535 raises EConvertError before anything is sent.
  bool SendData(std::string_view Data, std::string_view Host = {}, std::string_view Port = {});

  // Dispatches the messages waiting for the channel's window (the read notifications).
  void ProcessMessages();

  const std::string& LastError() const noexcept { return FLastError; }

  // Set before Connect.
  void SetAsync(bool value) noexcept { FAsync = value; }
  bool Async() const noexcept { return FAsync; }
  void SetLocalPort(std::string_view port) { FLocalPort = port; }
  void SetRemoteHost(std::string_view host) { FRemoteHost = host; }
  void SetRemotePort(std::string_view port) { FRemotePort = port; }
  const std::string& LocalPort() const noexcept { return FLocalPort; }
  const std::string& RemoteHost() const noexcept { return FRemoteHost; }
  const std::string& RemotePort() const noexcept { return FRemotePort; }

  // The longest wait of one receive: whole seconds (default 10) or, for tests, milliseconds.
  void SetTimeout(int seconds) noexcept { FTimeoutMs = seconds * 1000; }
  int Timeout() const noexcept { return FTimeoutMs / 1000; }
  void SetTimeoutMs(int milliseconds) noexcept { FTimeoutMs = milliseconds; }
  int TimeoutMs() const noexcept { return FTimeoutMs; }

  // Called with the channel when a datagram waits on an open asynchronous channel.
  std::function<void(TUDPSync&)> OnRead;

  HWND Window() const noexcept { return FWnd; }
  bool TimerEnabled() const noexcept { return FTimer.Enabled(); }
  int Socket() const noexcept { return FSocket; }

 protected:
  LRESULT WndProc(UINT message, WPARAM wParam, LPARAM lParam);
  // Waits for readiness within the time-out: -1 error (errno set), 0 nothing came, 1 readable.
  virtual int WaitReadable();

 private:
  bool Fail(std::string_view text);
  bool FailWithErrno(int error);
  void CloseSocket() noexcept;
  // The rest of Connect once the socket is open; false with LastError set on failure.
  bool SetUpSocket();

  WindowTimer FTimer;
  HWND FWnd = nullptr;
  bool FAsync = false;
  int FTimeoutMs = 10000;
  std::string FLastError;
  int FSocket = -1;
  std::string FRemoteHost;
  std::string FRemotePort;
  std::string FLocalPort;
};
