#include "tools/simulator/sim_controller.h"

#include <algorithm>

#include "driver/link_frames.h"

namespace ctrlsim {
namespace {

constexpr int kMaxDatagramsPerRead = 256;  // keeps one busy controller from starving the others
constexpr std::string_view kGarbage = "\x11" "00\x84garbage\x12";
constexpr char kAnnouncementData = '\x81';

bool IsAckCode(std::uint8_t code) { return code == frames::kAck || code == frames::kNak; }

bool IsEventFrame(std::uint8_t code, const std::string& data) {
  return code == frames::kEvent ||
         (code == frames::kWrapped && !data.empty() && static_cast<std::uint8_t>(data[0]) == frames::kEvent);
}

}  // namespace

SimController::SimController(const ControllerOptions& options, const ControllerListener* listener)
    : options_(options),
      listener_(listener),
      commandSocket_(options.address, options.commandPort),
      eventSocket_(options.address, options.eventPort),
      nextSeq_(options.firstSeq),
      announcing_(options.announce) {}

// --- receiving -----------------------------------------------------------------------------------

void SimController::ReadCommands(Clock::time_point now) {
  std::string datagram, host;
  std::uint16_t port = 0;
  for (int i = 0; i < kMaxDatagramsPerRead && commandSocket_.Receive(datagram, host, port); ++i) {
    HandleCommand(datagram, host, port, now);
  }
}

void SimController::ReadAcks(Clock::time_point now) {
  std::string datagram, host;
  std::uint16_t port = 0;
  for (int i = 0; i < kMaxDatagramsPerRead && eventSocket_.Receive(datagram, host, port); ++i) {
    if (offline_) continue;
    if (acksToLose_ > 0) {
      --acksToLose_;
      continue;
    }
    HandleAck(datagram);
    Tick(now);  // the next frame goes out as soon as the previous one is acknowledged
  }
}

Reply SimController::TakeReply() {
  if (scriptedReplies_.empty()) return defaultReply_;
  const Reply reply = scriptedReplies_.front();
  scriptedReplies_.pop_front();
  return reply;
}

void SimController::HandleCommand(const std::string& datagram, const std::string& host,
                                  std::uint16_t port, Clock::time_point now) {
  frames::ParsedFrame parsed;
  if (!frames::ParseFrame(datagram, parsed) || IsAckCode(parsed.code)) {
    ++stats_.badFrames;
    return;
  }
  ++stats_.commands;
  ReceivedCommand command = DecodeCommand(parsed.code, parsed.data);
  command.controller = options_.address;
  command.seq = parsed.seq;
  command.crc = parsed.crc;
  command.reply = offline_ ? Reply::Silent : TakeReply();
  if (!offline_) lastCommand_ = now;
  Answer(command.reply, parsed.seq, parsed.crc, host, port);
  if (command.reply != Reply::Nak && command.reply != Reply::Silent) {
    Apply(command, now);
    if (commandHook_) commandHook_(*this, command);
  }
  if (listener_ && listener_->onCommand) listener_->onCommand(command);
  if (recording_) commands_.push_back(std::move(command));
}

void SimController::Answer(Reply reply, std::uint8_t seq, std::uint8_t crc, const std::string& host,
                           std::uint16_t port) {
  switch (reply) {
    case Reply::Silent:
      return;
    case Reply::Nak:
      commandSocket_.SendTo(frames::BuildAck(seq, crc, frames::kNak), host, port);
      return;
    case Reply::WrongCrc:
      commandSocket_.SendTo(frames::BuildAck(seq, static_cast<std::uint8_t>(crc ^ 0xFF)), host, port);
      return;
    case Reply::Garbage:
      commandSocket_.SendTo(kGarbage, host, port);
      break;
    case Reply::Duplicate:
      commandSocket_.SendTo(frames::BuildAck(seq, crc), host, port);
      break;
    case Reply::Ack:
      break;
  }
  commandSocket_.SendTo(frames::BuildAck(seq, crc), host, port);
}

void SimController::Apply(const ReceivedCommand& command, Clock::time_point now) {
  if (command.name == "HelloAnswer") {
    linked_ = true;
    if (!queue_.empty() && queue_.front().attempts > 0) queue_.front().sentAt = {};  // repeat it now
  } else if (command.name == "StatusRequest") {
    const std::string data = StatusData(options_.status, statusLength_);
    QueueFrame(wrapStatus_ ? frames::kWrapped : frames::kStatusReply, data);
    queue_.back().notBefore = now + statusDelay_;
  } else if (command.name == "Goodbye") {
    linked_ = false;
    nextAnnounce_ = now + options_.announceInterval;
  } else if (command.name == "SetMode") {
    mode_ = command.mode.value_or(-1);
  } else if (command.name == "WriteCard" && command.card) {
    cards_[*command.card] = command;
  } else if (command.name == "DeleteCard" && command.card) {
    cards_.erase(*command.card);
  } else if (command.name == "ClearCards") {
    cards_.clear();
  }
}

void SimController::HandleAck(const std::string& datagram) {
  frames::ParsedFrame parsed;
  if (!frames::ParseFrame(datagram, parsed) || !IsAckCode(parsed.code)) {
    ++stats_.strayAcks;
    return;
  }
  if (announcePending_ && parsed.seq == announceSeq_ && parsed.ackedCrc == announceCrc_) {
    announcePending_ = false;
    if (parsed.code == frames::kAck) ++stats_.announcementsAcked;
    return;
  }
  const bool matchesHead = !queue_.empty() && queue_.front().attempts > 0 &&
                           queue_.front().seq == parsed.seq && queue_.front().crc == parsed.ackedCrc;
  if (!matchesHead) {
    ++stats_.strayAcks;
    return;
  }
  if (parsed.code == frames::kNak) {
    ++stats_.naks;
    queue_.front().sentAt = Clock::time_point{};  // repeat at the next tick
    return;
  }
  ++stats_.acks;
  SettleHead();
}

void SimController::SettleHead() {
  Outgoing& head = queue_.front();
  AckedFrame acked{options_.address, head.seq, head.code, head.data, head.attempts};
  if (IsEventFrame(head.code, head.data)) ++stats_.eventsAcked;
  if (head.code == frames::kBye) {
    linked_ = false;
    announcing_ = false;
  }
  queue_.pop_front();
  if (listener_ && listener_->onAcked) listener_->onAcked(acked);
}

// --- sending -------------------------------------------------------------------------------------

void SimController::Tick(Clock::time_point now) {
  if (offline_) return;
  if (linked_ && options_.pollSilence.count() > 0 && now - lastCommand_ >= options_.pollSilence) {
    FallBackToAnnouncing(now);
  }
  if (!linked_ && announcing_ && now >= nextAnnounce_) SendAnnouncement(now);
  if (!linked_ || queue_.empty()) return;
  Outgoing& head = queue_.front();
  if (head.attempts == 0) {
    if (now >= head.notBefore) SendHead(now);
  } else if (now - head.sentAt >= options_.resendInterval) {
    if (head.attempts >= options_.maxSendAttempts) {
      ++stats_.dropped;
      queue_.pop_front();
    } else {
      SendHead(now);
    }
  }
}

Clock::time_point SimController::NextWake(Clock::time_point now) const {
  Clock::time_point wake = now + Millis(1000);
  if (offline_) return wake;
  if (!linked_ && announcing_) wake = std::min(wake, nextAnnounce_);
  if (linked_ && options_.pollSilence.count() > 0) wake = std::min(wake, lastCommand_ + options_.pollSilence);
  if (linked_ && !queue_.empty()) {
    const Outgoing& head = queue_.front();
    wake = std::min(wake, head.attempts == 0 ? std::max(now, head.notBefore) : head.sentAt + options_.resendInterval);
  }
  return wake;
}

void SimController::SendHead(Clock::time_point now) {
  Outgoing& head = queue_.front();
  if (head.attempts == 0) {
    head.seq = TakeSeq();
    frames::BuiltFrame built = frames::BuildFrame(head.seq, head.code, head.data);
    head.frame = std::move(built.frame);
    head.crc = built.crc;
  } else {
    ++stats_.repeats;
  }
  ++head.attempts;
  head.sentAt = now;
  SendToDevice(head.frame);
  if (duplicates_ && head.attempts == 1) SendToDevice(head.frame);
}

void SimController::SendAnnouncement(Clock::time_point now) {
  announceSeq_ = TakeSeq();
  frames::BuiltFrame built = frames::BuildFrame(announceSeq_, frames::kHello, std::string(1, kAnnouncementData));
  announceCrc_ = built.crc;
  announcePending_ = true;
  ++stats_.announcements;
  nextAnnounce_ = now + options_.announceInterval;
  SendToDevice(built.frame);
}

void SimController::FallBackToAnnouncing(Clock::time_point now) {
  linked_ = false;
  announcing_ = true;
  nextAnnounce_ = now;
}

void SimController::SendToDevice(std::string_view frame) {
  ++stats_.framesSent;
  if (framesToLose_ > 0) {
    --framesToLose_;
    return;
  }
  eventSocket_.SendTo(frame, options_.deviceAddress, options_.deviceEventPort);
}

// --- behaviour and output ------------------------------------------------------------------------

void SimController::SetReply(Reply reply, int count) {
  if (count < 0) {
    defaultReply_ = reply;
    scriptedReplies_.clear();
    return;
  }
  scriptedReplies_.insert(scriptedReplies_.end(), static_cast<std::size_t>(count), reply);
}

void SimController::SetAnnouncing(bool on) {
  announcing_ = on;
  if (on) nextAnnounce_ = Clock::now();
}

void SimController::SetOffline(bool offline) {
  offline_ = offline;
  linked_ = false;
  if (!offline) SetAnnouncing(true);
}

void SimController::QueueEvent(const EventSpec& event, int count) {
  const std::string data = EventData(event);
  for (int i = 0; i < count; ++i) QueueFrame(event.wrapped ? frames::kWrapped : frames::kEvent, data);
}

void SimController::QueueFrame(std::uint8_t code, std::string data) {
  Outgoing out;
  out.code = code;
  out.data = std::move(data);
  queue_.push_back(std::move(out));
}

void SimController::QueueGoodbye() { QueueFrame(frames::kBye, std::string(1, '\x84')); }

void SimController::AnnounceNow() { SendAnnouncement(Clock::now()); }

void SimController::Relink() {
  FallBackToAnnouncing(Clock::now());
  Tick(Clock::now());
}

void SimController::SendDatagram(std::string_view bytes, std::uint16_t devicePort) {
  ++stats_.framesSent;
  eventSocket_.SendTo(bytes, options_.deviceAddress, devicePort);
}

void SimController::SendGarbage() { SendDatagram(kGarbage, options_.deviceEventPort); }

ControllerStats SimController::Stats() const {
  ControllerStats s = stats_;
  s.queued = static_cast<int>(queue_.size());
  return s;
}

}  // namespace ctrlsim
