// One simulated access controller: the controller side of the link. It announces itself until the
// driver answers, acknowledges commands (or misbehaves as told), sends events, status replies and
// goodbye one frame at a time (each repeated with the same number until acknowledged), and falls
// back to announcing when the driver stops polling (a pending frame keeps its number and is repeated
// as soon as it is linked again). Not thread-safe: Simulator serialises it.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "tools/simulator/sim_records.h"
#include "tools/simulator/udp_socket.h"

namespace ctrlsim {

using Clock = std::chrono::steady_clock;
using Millis = std::chrono::milliseconds;

struct ControllerOptions {
  std::string address = "127.0.0.2";        // the controller's own address
  std::string deviceAddress = "127.0.0.1";  // where announcements and events go
  std::uint16_t commandPort = 1125;         // the controller takes commands here
  std::uint16_t eventPort = 1124;           // it sends from here and takes acknowledgements here
  std::uint16_t deviceEventPort = 1125;     // the driver's event port
  std::uint8_t firstSeq = 0;
  std::uint16_t status = 0;
  Millis announceInterval{1000};
  Millis resendInterval{500};               // repeat an unacknowledged frame after this
  int maxSendAttempts = 20;                 // then the frame is dropped
  Millis pollSilence{12000};                // no command for this long: announce again (0: never)
  bool announce = true;                     // announce from the start
};

// A frame that the controller sent and that the driver acknowledged.
struct AckedFrame {
  std::string controller;
  std::uint8_t seq = 0;
  std::uint8_t code = 0;
  std::string data;
  int attempts = 0;
};

struct ControllerStats {
  int announcements = 0;     // announcements sent
  int announcementsAcked = 0;
  int framesSent = 0;        // data frames sent, repeats included
  int repeats = 0;
  int acks = 0;              // acknowledgements that settled a pending frame
  int naks = 0;
  int strayAcks = 0;         // acknowledgements that matched nothing pending
  int dropped = 0;           // frames given up after maxSendAttempts
  int eventsAcked = 0;
  int commands = 0;          // valid command frames received
  int badFrames = 0;         // datagrams on the command port that are not valid frames
  int queued = 0;            // frames waiting to be sent
};

struct ControllerListener {
  std::function<void(const ReceivedCommand&)> onCommand;
  std::function<void(const AckedFrame&)> onAcked;
};

class SimController {
 public:
  // Binds the controller's two ports (throws std::system_error when it cannot).
  SimController(const ControllerOptions& options, const ControllerListener* listener);

  const std::string& Address() const { return options_.address; }
  int CommandFd() const { return commandSocket_.Fd(); }
  int EventFd() const { return eventSocket_.Fd(); }

  // Driven by Simulator.
  void ReadCommands(Clock::time_point now);
  void ReadAcks(Clock::time_point now);
  void Tick(Clock::time_point now);
  Clock::time_point NextWake(Clock::time_point now) const;

  // Behaviour.
  void SetReply(Reply reply, int count = -1);  // count -1: from now on; else the next count commands
  void SetStatus(std::uint16_t status) { options_.status = status; }
  void SetStatusLength(std::size_t length) { statusLength_ = length; }
  void SetWrapStatus(bool wrap) { wrapStatus_ = wrap; }
  void SetStatusDelay(Millis delay) { statusDelay_ = delay; }  // before a status reply goes out
  void SetDuplicates(bool on) { duplicates_ = on; }
  void SetNextSeq(std::uint8_t seq) { nextSeq_ = seq; }
  void SetAnnouncing(bool on);
  // Offline: records what it receives (as unanswered) but answers, applies and sends nothing.
  void SetOffline(bool offline);
  // Falls back to announcing now, as after poll silence; a pending frame keeps its number.
  void Relink();
  void LoseAcks(int count) { acksToLose_ = count; }  // the next count datagrams on the event port
  void LoseFrames(int count) { framesToLose_ = count; }  // the next count datagrams to the device
  void SetRecording(bool on) { recording_ = on; }
  void SetPollSilence(Millis silence) { options_.pollSilence = silence; }
  // Runs after every command the controller took (acknowledged and applied), under the
  // simulator's lock: a script of its own reactions (queue an event after a status reply ...).
  using CommandHook = std::function<void(SimController&, const ReceivedCommand&)>;
  void SetCommandHook(CommandHook hook) { commandHook_ = std::move(hook); }

  // Output. Frames wait in one queue and go out one at a time once the controller is linked.
  void QueueEvent(const EventSpec& event, int count = 1);
  void QueueFrame(std::uint8_t code, std::string data);
  void QueueGoodbye();
  void AnnounceNow();
  void SendDatagram(std::string_view bytes, std::uint16_t devicePort);
  void SendGarbage();

  // Observation.
  bool Linked() const { return linked_; }
  bool Offline() const { return offline_; }
  std::uint8_t NextSeq() const { return nextSeq_; }
  ControllerStats Stats() const;
  const std::vector<ReceivedCommand>& Commands() const { return commands_; }
  void ClearCommands() { commands_.clear(); }
  int Mode() const { return mode_; }
  const std::map<std::string, ReceivedCommand>& Cards() const { return cards_; }

 private:
  struct Outgoing {
    std::uint8_t code = 0;
    std::string data;
    std::string frame;  // built when first sent
    std::uint8_t seq = 0;
    std::uint8_t crc = 0;
    int attempts = 0;
    Clock::time_point sentAt{};
    Clock::time_point notBefore{};
  };

  std::uint8_t TakeSeq() { return nextSeq_++; }
  Reply TakeReply();
  void HandleCommand(const std::string& datagram, const std::string& host, std::uint16_t port,
                     Clock::time_point now);
  void Answer(Reply reply, std::uint8_t seq, std::uint8_t crc, const std::string& host,
              std::uint16_t port);
  void Apply(const ReceivedCommand& command, Clock::time_point now);
  void HandleAck(const std::string& datagram);
  void SettleHead();
  void SendHead(Clock::time_point now);
  void SendAnnouncement(Clock::time_point now);
  void FallBackToAnnouncing(Clock::time_point now);
  void SendToDevice(std::string_view frame);

  ControllerOptions options_;
  const ControllerListener* listener_;
  UdpSocket commandSocket_;
  UdpSocket eventSocket_;

  std::uint8_t nextSeq_;
  bool linked_ = false;
  bool announcing_;
  bool offline_ = false;
  bool duplicates_ = false;
  bool recording_ = true;
  int acksToLose_ = 0;
  int framesToLose_ = 0;
  std::size_t statusLength_ = 15;
  bool wrapStatus_ = false;
  Millis statusDelay_{0};
  Reply defaultReply_ = Reply::Ack;
  std::deque<Reply> scriptedReplies_;
  Clock::time_point nextAnnounce_{};
  Clock::time_point lastCommand_{};
  std::uint8_t announceSeq_ = 0;
  std::uint8_t announceCrc_ = 0;
  bool announcePending_ = false;
  std::deque<Outgoing> queue_;
  ControllerStats stats_;
  std::vector<ReceivedCommand> commands_;
  int mode_ = -1;
  std::map<std::string, ReceivedCommand> cards_;
  CommandHook commandHook_;
};

}  // namespace ctrlsim
