#include "driver/morvik_net_device.h"

#include <exception>

#include "driver/link_frames.h"
#include "driver/link_messages.h"
#include "framework/equipment_errors.h"
#include "platform/reactor.h"

namespace {

constexpr int kAttempts = 3;           // attempts of one command transaction
constexpr int kDatagramsPerAck = 10;   // datagrams read while waiting for one acknowledgement
constexpr int kReceivePasses = 3;      // repeats skipped by one read notification
constexpr DWORD kWaitPassSleepMs = 5;

constexpr std::uint8_t kHelloAnswer = 0x84;  // data of the keep-alive that answers an announcement
constexpr std::uint8_t kPollData = 0x81;
constexpr std::uint8_t kStatusData = 0x81;
constexpr std::uint8_t kByeData = 0x84;

}  // namespace

TMorvikNetDevice::TMorvikNetDevice(const TNetDeviceTimings& timings)
    : FTimings(timings), FClock([] { return Now(); }) {
  FCmdChannel.SetTimeoutMs(FTimings.ChannelTimeoutMs);
  FEventChannel.SetTimeoutMs(FTimings.ChannelTimeoutMs);
  FEventChannel.SetAsync(true);
  FEventChannel.OnRead = [this](TUDPSync&) { DataReceived(); };
  FPollTimer.SetInterval(FTimings.PollIntervalMs);
  FPollTimer.SetOnTimer([this] { TimerTick(); });
}

TMorvikNetDevice::~TMorvikNetDevice() {
  try {
    Disconnect(false);
  } catch (...) {
    // Nothing may leave a destructor; closing channels does not raise in practice.
  }
}

// --- link ----------------------------------------------------------------------------------------

int TMorvikNetDevice::Connect() {
  FLastError.clear();
  if (FConnected) return kOk;
  if (FBusy) return kErrDeviceBusy;
  FJournal.Open();  // raises when the table cannot be prepared; nothing has changed yet
  Controllers.SetAllOffline();

  FEventChannel.SetLocalPort(kEventPort);
  FEventChannel.SetRemotePort(kCommandPort);
  FEventChannel.SetRemoteHost("");
  FCmdChannel.SetLocalPort(kCommandPort);
  FCmdChannel.SetRemotePort(kEventPort);
  FCmdChannel.SetRemoteHost("");
  const bool opened = FEventChannel.Connect() && FCmdChannel.Connect();
  if (!opened) {
    FLastError = !FEventChannel.Connected() ? FEventChannel.LastError() : FCmdChannel.LastError();
    CloseChannels();
    return kErrConnection;
  }

  FConnected = WaitPumping(FTimings.ConnectWaitMs, [this] { return Controllers.AllOnline(); });
  if (!FConnected) {
    CloseChannels();
    return kErrWaitTimeout;
  }
  FPollTimer.SetEnabled(true);
  return kOk;
}

void TMorvikNetDevice::Disconnect(bool SayBye) {
  FLastError.clear();
  if (!FConnected) return;
  if (FBusy) Delay(FTimings.BusyDisconnectDelayMs);
  if (SayBye) SendByeAll();
  FConnected = false;
  CloseChannels();
}

void TMorvikNetDevice::CloseChannels() {
  FEventChannel.Disconnect();
  FCmdChannel.Disconnect();
  FPollTimer.SetEnabled(false);
  Controllers.SetAllOffline();
}

bool TMorvikNetDevice::WaitPumping(std::uint32_t milliseconds, const std::function<bool()>& done) {
  struct BusyScope {
    bool& busy;
    explicit BusyScope(bool& flag) : busy(flag) { busy = true; }
    ~BusyScope() { busy = false; }
  } scope(FBusy);
  const std::uint64_t deadline = GetTickCount64() + milliseconds;
  while (GetTickCount64() < deadline) {
    FEventChannel.ProcessMessages();
    Sleep(kWaitPassSleepMs);
    if (done()) return true;
  }
  return false;
}

int TMorvikNetDevice::RequestStatus() {
  FLastError.clear();
  // The checks come first: a call nested in a running wait must not wipe the replies it collects.
  if (!FConnected) return kErrNotReady;
  if (FBusy) return kErrDeviceBusy;
  Controllers.ClearReplied();
  for (const auto& controller : Controllers) {
    if (!controller->Online) continue;
    const int code = SendSimple(*controller, kStatusData, frames::kStatusRequest);
    if (code != kOk) return code;
  }
  return WaitPumping(FTimings.StatusWaitMs, [this] { return Controllers.AllOnlineReplied(); })
             ? kOk
             : kErrWaitTimeout;
}

void TMorvikNetDevice::SetBufferFolder(std::string_view Path) {
  std::string folder(Path);
  if (folder.empty() || folder.back() != '/') folder += '/';
  FJournal.Folder = folder + "EvntBuf/";
}

void TMorvikNetDevice::SetBufferCapacity(int Count) { FJournal.Capacity = Count; }

int TMorvikNetDevice::CheckState() {
  FLastError.clear();
  if (!FConnected) return kErrNotReady;
  if (FBusy) return kErrDeviceBusy;
  return kOk;
}

int TMorvikNetDevice::CheckAndFind(std::string_view ID, TController*& Controller) {
  Controller = nullptr;
  if (const int code = CheckState(); code != kOk) return code;
  Controller = Controllers.FindByID(ID);
  return Controller ? kOk : kErrControllerNotListed;
}

// --- command transaction -------------------------------------------------------------------------

int TMorvikNetDevice::SendFrame(TController& Controller, std::string_view Data, std::uint8_t Code,
                                std::uint8_t& Seq, std::uint8_t& Crc) {
  FLastError.clear();
  Seq = Controller.NextSeq();
  const frames::BuiltFrame built = frames::BuildFrame(Seq, Code, Data);
  Crc = built.crc;
  if (!FCmdChannel.SendData(built.frame, Controller.IPAddr)) {
    FLastError = FCmdChannel.LastError();
    return kErrUnknown;
  }
  return kOk;
}

int TMorvikNetDevice::WaitAck(TController& Controller, std::uint8_t Crc, std::uint8_t Seq) {
  FLastError.clear();
  std::string datagram, host;
  for (int i = 0; i < kDatagramsPerAck; ++i) {
    if (!FCmdChannel.ReceiveData(datagram, host)) {
      FLastError = FCmdChannel.LastError();
      return kErrNoResponse;
    }
    if (host != Controller.IPAddr) continue;
    frames::ParsedFrame frame;
    if (!frames::ParseFrame(datagram, frame)) return kErrProtocol;
    const bool isAnswer = frame.code == frames::kAck || frame.code == frames::kNak;
    if (!isAnswer || frame.seq != Seq) continue;
    if (frame.code == frames::kNak) return kErrDeviceBusy;
    return frame.ackedCrc == Crc ? kOk : kErrProtocol;
  }
  return kErrProtocol;
}

int TMorvikNetDevice::SendCommand(TController& Controller, std::string_view Data, std::uint8_t Code) {
  int code = kOk;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    std::uint8_t seq = 0, crc = 0;
    code = SendFrame(Controller, Data, Code, seq, crc);
    if (code != kOk) return code;
    code = WaitAck(Controller, crc, seq);
    if (code == kOk || code == kErrNoResponse) return code;
  }
  return code;
}

int TMorvikNetDevice::SendSimple(TController& Controller, std::uint8_t DataByte, std::uint8_t Code) {
  return SendCommand(Controller, std::string(1, static_cast<char>(DataByte)), Code);
}

// --- receive path --------------------------------------------------------------------------------

void TMorvikNetDevice::DataReceived() {
  // The read notification is a window message: whatever fails here ends the handling of this
  // datagram and nothing else (what was done before stays done).
  try {
    const std::shared_ptr<void> hold = KeepAlive ? KeepAlive() : nullptr;
    TReceivedFrame frame;
    TController* controller = nullptr;
    if (ReceiveFromController(frame, controller) != kOk) return;
    HandleFrame(*controller, frame);
  } catch (...) {
  }
}

int TMorvikNetDevice::ReceiveFrame(TReceivedFrame& Frame) {
  FLastError.clear();
  std::string datagram;
  if (!FEventChannel.ReceiveData(datagram, Frame.Host)) {
    FLastError = FEventChannel.LastError();
    return kErrNoResponse;
  }
  frames::ParsedFrame parsed;
  if (!frames::ParseFrame(datagram, parsed)) return kErrProtocol;
  Frame.Code = parsed.code;
  Frame.Seq = parsed.seq;
  Frame.Crc = parsed.crc;
  Frame.Data.assign(parsed.data);
  return kOk;
}

int TMorvikNetDevice::SendAck(const std::string& Host, std::uint8_t Seq, std::uint8_t Crc) {
  if (!FEventChannel.SendData(frames::BuildAck(Seq, Crc), Host)) {
    FLastError = FEventChannel.LastError();
    return kErrUnknown;
  }
  return kOk;
}

int TMorvikNetDevice::ReceiveFromController(TReceivedFrame& Frame, TController*& Controller) {
  int code = kOk;
  for (int pass = 0; pass < kReceivePasses; ++pass) {
    if ((code = ReceiveFrame(Frame)) != kOk) return code;
    Controller = Controllers.FindByIP(Frame.Host);
    if (!Controller) return kErrControllerNotListed;
    if ((code = SendAck(Frame.Host, Frame.Seq, Frame.Crc)) != kOk) return code;
    if (Controller->Received.Accept(Frame.Seq, Frame.Code == frames::kHello)) return kOk;
    code = kErrProtocol;  // a repeat: acknowledged, not handled; look at the next datagram
  }
  return code;
}

void TMorvikNetDevice::HandleFrame(TController& Controller, const TReceivedFrame& Frame) {
  switch (Frame.Code) {
    case frames::kHello:
      Controller.SetOnline(SendSimple(Controller, kHelloAnswer, frames::kKeepAlive) == kOk);
      break;
    case frames::kBye:
      Controller.SetOnline(false);
      break;
    default:
      if (const auto message = messages::Unwrap(Frame.Code, Frame.Data)) HandleMessage(Controller, *message);
      break;
  }
}

void TMorvikNetDevice::HandleMessage(TController& Controller, const messages::Message& Message) {
  if (Message.code == frames::kEvent) {
    if (auto event = messages::DecodeEvent(Message.data, FClock())) {
      event->ID = Controller.ID;
      HandleEvent(*event);
    }
  } else if (Message.code == frames::kStatusReply) {
    if (const auto status = messages::DecodeStatusReply(Message.data)) {
      Controller.Status = *status;
      Controller.Replied = true;
    }
  }
}

void TMorvikNetDevice::HandleEvent(const TEvent& Event) {
  // The controller has the acknowledgement already and will not send the event again, so an event
  // the journal cannot take (table locked, disk full) still goes to the driver.
  try {
    FJournal.AddEvent(Event);
  } catch (const std::exception&) {
  }
  if (OnEvent) OnEvent(Event);
}

// --- poll and goodbye ----------------------------------------------------------------------------

void TMorvikNetDevice::Poll(TController& Controller) {
  if (SendSimple(Controller, kPollData, frames::kKeepAlive) != kOk) Controller.SetOnline(false);
}

void TMorvikNetDevice::PollAll() {
  for (const auto& controller : Controllers) {
    if (controller->Online) Poll(*controller);
  }
}

void TMorvikNetDevice::TimerTick() {
  try {
    const std::shared_ptr<void> hold = KeepAlive ? KeepAlive() : nullptr;
    PollAll();
  } catch (...) {
  }
}

int TMorvikNetDevice::SendBye(TController& Controller) {
  return SendSimple(Controller, kByeData, frames::kBye);
}

void TMorvikNetDevice::SendByeAll() {
  for (const auto& controller : Controllers) SendBye(*controller);
}
