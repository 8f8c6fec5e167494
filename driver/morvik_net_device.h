// The network device: the driver's only road to the access controllers. It owns the controller
// list, the event journal, the two UDP channels (commands from local port 1124 to the controllers'
// port 1125; announcements, events and status replies on local port 1125, acknowledged to their
// port 1124) and the poll timer.
//
// - Connect opens both channels and waits until every listed controller has announced itself.
// - Every command is one acknowledged transaction of up to three attempts on the command channel,
//   each attempt with a new sequence number; the command set lives in morvik_commands.cpp.
// - Frames from listed controllers are acknowledged, then accepted only with a number not accepted
//   before (TSeqWindow; an announcement always); events go to the journal and then to OnEvent.
//   The layouts of commands, events and status replies live in link_messages.h; the device moves
//   datagrams.
// - Every online controller is polled on a timer; a failed poll marks it offline until its next
//   announcement.
// All on the thread that made the device; waits pump messages (Connect and RequestStatus only the
// event channel's, Disconnect's busy delay every message of the thread).
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "driver/controllers.h"
#include "driver/morvik_common.h"
#include "driver/transact_base.h"
#include "driver/udp_sync.h"
#include "platform/date_time.h"
#include "platform/window_timer.h"

namespace messages {
struct Message;
}

// The waits and intervals of the device. The defaults are the product's; tests shorten them.
struct TNetDeviceTimings {
  std::uint32_t ConnectWaitMs = 15000;         // announcements of every listed controller
  std::uint32_t StatusWaitMs = 15000;          // replies of every online controller
  std::uint32_t PollIntervalMs = 4000;
  int ChannelTimeoutMs = 2000;                 // one receive on either channel
  std::uint32_t BusyDisconnectDelayMs = 1000;  // Disconnect while a wait runs
};

class TMorvikNetDevice {
 public:
  // Success; the failures are the framework's codes (equipment_errors.h) and the driver's own
  // (morvik_common.h).
  static constexpr int kOk = 0;

  static constexpr const char* kCommandPort = "1124";  // local port of the command channel
  static constexpr const char* kEventPort = "1125";    // local port of the event channel

  explicit TMorvikNetDevice(const TNetDeviceTimings& timings = {});
  virtual ~TMorvikNetDevice();
  TMorvikNetDevice(const TMorvikNetDevice&) = delete;
  TMorvikNetDevice& operator=(const TMorvikNetDevice&) = delete;

  // 0, 74 (not every controller announced itself in time), 1009, 4505 (a channel did not open).
  // A journal that cannot be prepared raises its error before anything else changes.
  int Connect();
  void Disconnect(bool SayBye);
  // Fills Status of every online controller: 0, 74, 1008, 1009 or a transaction code.
  int RequestStatus();
  void SetBufferFolder(std::string_view Path);
  void SetBufferCapacity(int Count);

  // 1008 when not connected, else 1009 when busy, else 0; clears LastError.
  int CheckState();
  // CheckState, then the first controller with exactly that identifier (4501 when none).
  int CheckAndFind(std::string_view ID, TController*& Controller);

  // The command set: 0 or an error code; nothing is sent when the state check, the lookup or the
  // argument check fails.
  int ClearCards(std::string_view ID);
  int WriteCard(std::string_view ID, std::string_view Card, bool Flag, std::uint8_t Profile1,
                std::uint8_t Profile2);
  int DeleteCard(std::string_view ID, std::string_view Card);
  int ClearDates(std::string_view ID);
  int WriteDate(std::string_view ID, TDateTime Date);
  int ClearTimeProfiles(std::string_view ID);
  // Days[0] is Sunday's bit, Days[1..6] Monday to Saturday; only hour and minute of T1..T4 go out.
  int WriteTimeProfile(std::string_view ID, std::uint8_t Profile, const std::array<bool, 7>& Days,
                       TDateTime T1, TDateTime T2, TDateTime T3, TDateTime T4);
  int SetDateTime(std::string_view ID, TDateTime DateTime);
  int SetMode(std::string_view ID, std::uint8_t Mode);  // 0..5, else 1004
  int WriteConfig(TController& Controller);

  bool Busy() const noexcept { return FBusy; }
  bool Connected() const noexcept { return FConnected; }
  const std::string& LastError() const noexcept { return FLastError; }
  TTransactBase& Journal() noexcept { return FJournal; }
  TUDPSync& CmdChannel() noexcept { return FCmdChannel; }
  TUDPSync& EventChannel() noexcept { return FEventChannel; }
  WindowTimer& PollTimer() noexcept { return FPollTimer; }
  const TNetDeviceTimings& Timings() const noexcept { return FTimings; }
  // The wall clock that dates events (their year); Now() unless a test sets another.
  void SetClock(std::function<TDateTime()> clock) { FClock = std::move(clock); }

  TControllers Controllers;
  // Called with every decoded event, after it was journalled.
  std::function<void(const TEvent&)> OnEvent;
  // Called first by the handling of each window message the device gets on its own (a datagram on
  // the event channel, a poll tick); what it answers is held until that handling is over. The owner
  // keeps itself, and so the device, alive with it while OnEvent reaches code that may let it go.
  std::function<std::shared_ptr<void>()> KeepAlive;

 private:
  struct TReceivedFrame {
    std::uint8_t Code = 0;
    std::uint8_t Seq = 0;
    std::uint8_t Crc = 0;
    std::string Data;
    std::string Host;
  };

  // Command transaction (command channel).
  int SendFrame(TController& Controller, std::string_view Data, std::uint8_t Code,
                std::uint8_t& Seq, std::uint8_t& Crc);
  int WaitAck(TController& Controller, std::uint8_t Crc, std::uint8_t Seq);
  int SendCommand(TController& Controller, std::string_view Data, std::uint8_t Code);
  int SendSimple(TController& Controller, std::uint8_t DataByte, std::uint8_t Code);
  int SendToController(TController& Controller, std::uint8_t Subcode, std::string_view CommandData);

  // Receive path (event channel).
  void DataReceived();
  int ReceiveFrame(TReceivedFrame& Frame);
  int SendAck(const std::string& Host, std::uint8_t Seq, std::uint8_t Crc);
  int ReceiveFromController(TReceivedFrame& Frame, TController*& Controller);
  void HandleFrame(TController& Controller, const TReceivedFrame& Frame);
  void HandleMessage(TController& Controller, const messages::Message& Message);
  void HandleEvent(const TEvent& Event);  // into the journal, then to OnEvent

  void Poll(TController& Controller);
  void PollAll();
  void TimerTick();
  int SendBye(TController& Controller);
  void SendByeAll();
  void CloseChannels();
  // Pumps the event channel until the condition holds or the time is up; Busy meanwhile.
  bool WaitPumping(std::uint32_t milliseconds, const std::function<bool()>& done);

  TTransactBase FJournal;
  TNetDeviceTimings FTimings;
  TUDPSync FCmdChannel;
  TUDPSync FEventChannel;
  WindowTimer FPollTimer;
  std::function<TDateTime()> FClock;
  bool FBusy = false;
  bool FConnected = false;
  std::string FLastError;
};
