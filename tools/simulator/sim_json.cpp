#include "tools/simulator/sim_json.h"

#include <stdexcept>

#include "driver/link_frames.h"

namespace ctrlsim {
namespace {

using nlohmann::json;

template <class T>
void PutIf(json& j, const char* key, const std::optional<T>& value) {
  if (value) j[key] = *value;
}

json TimeJson(const ClockTime& t) { return json{{"hour", t.hour}, {"minute", t.minute}}; }

std::uint8_t ByteField(const json& r, const char* key, std::uint8_t fallback) {
  const int value = r.value(key, static_cast<int>(fallback));
  if (value < 0 || value > 255) throw std::invalid_argument(std::string(key) + " must be 0..255");
  return static_cast<std::uint8_t>(value);
}

std::string ControllerOf(const Simulator& sim, const json& r) {
  if (r.contains("controller")) return r.at("controller").get<std::string>();
  const auto addresses = sim.Addresses();
  if (addresses.size() != 1) throw std::invalid_argument("say which controller");
  return addresses.front();
}

ControllerOptions OptionsFrom(const json& r) {
  ControllerOptions o;
  o.address = r.at("address").get<std::string>();
  o.deviceAddress = r.value("device", o.deviceAddress);
  o.firstSeq = ByteField(r, "first_seq", o.firstSeq);
  o.status = r.value("status", o.status);
  o.announceInterval = Millis(r.value("announce_ms", o.announceInterval.count()));
  o.resendInterval = Millis(r.value("resend_ms", o.resendInterval.count()));
  o.maxSendAttempts = r.value("max_attempts", o.maxSendAttempts);
  o.pollSilence = Millis(r.value("poll_silence_ms", o.pollSilence.count()));
  o.announce = r.value("announce", o.announce);
  return o;
}

EventSpec EventFrom(const json& r) {
  EventSpec e;
  e.code = ByteField(r, "code", e.code);
  e.month = ByteField(r, "month", e.month);
  e.day = ByteField(r, "day", e.day);
  e.hour = ByteField(r, "hour", e.hour);
  e.minute = ByteField(r, "minute", e.minute);
  e.second = ByteField(r, "second", e.second);
  e.card = r.value("card", e.card);
  e.wrapped = r.value("wrapped", e.wrapped);
  return e;
}

// Requests that act on one controller.
void ApplyToController(SimController& c, const std::string& cmd, const json& r) {
  if (cmd == "event") {
    c.QueueEvent(EventFrom(r), r.value("count", 1));
  } else if (cmd == "reply") {
    const auto reply = ReplyFromName(r.at("mode").get<std::string>());
    if (!reply) throw std::invalid_argument("unknown reply mode");
    c.SetReply(*reply, r.value("count", -1));
  } else if (cmd == "status") {
    c.SetStatus(r.at("value").get<std::uint16_t>());
    c.SetStatusLength(r.value("length", std::size_t{15}));
    c.SetWrapStatus(r.value("wrapped", false));
  } else if (cmd == "goodbye") {
    c.QueueGoodbye();
  } else if (cmd == "garbage") {
    c.SendGarbage();
  } else if (cmd == "seq") {
    c.SetNextSeq(ByteField(r, "value", 0));
  } else if (cmd == "announce") {
    if (r.contains("on")) c.SetAnnouncing(r.at("on").get<bool>());
    else c.AnnounceNow();
  } else if (cmd == "offline") {
    c.SetOffline(r.value("on", true));
  } else if (cmd == "duplicates") {
    c.SetDuplicates(r.value("on", true));
  } else if (cmd == "frame") {
    c.QueueFrame(ByteField(r, "code", frames::kEvent), BytesFromHex(r.value("data", std::string())));
  } else {
    throw std::invalid_argument("unknown cmd '" + cmd + "'");
  }
}

}  // namespace

json ToJson(const ReceivedCommand& c) {
  json j{{"type", "command"}, {"controller", c.controller}, {"seq", c.seq}, {"code", c.code},
         {"name", c.name},    {"reply", ReplyName(c.reply)}, {"data", HexBytes(c.data)}};
  PutIf(j, "address", c.address);
  PutIf(j, "subcode", c.subcode);
  PutIf(j, "card", c.card);
  PutIf(j, "flag", c.flag);
  PutIf(j, "profile1", c.profile1);
  PutIf(j, "profile2", c.profile2);
  PutIf(j, "profile", c.profile);
  PutIf(j, "days", c.days);
  PutIf(j, "month", c.month);
  PutIf(j, "day", c.day);
  PutIf(j, "weekday", c.weekday);
  PutIf(j, "year", c.year);
  PutIf(j, "mode", c.mode);
  if (c.time) j["time"] = TimeJson(*c.time);
  if (c.config) j["config"] = HexBytes(*c.config);
  if (c.times) {
    j["times"] = json::array();
    for (const ClockTime& t : *c.times) j["times"].push_back(TimeJson(t));
  }
  return j;
}

json ToJson(const AckedFrame& f) {
  const bool event = f.code == frames::kEvent ||
                     (f.code == frames::kWrapped && !f.data.empty() &&
                      static_cast<std::uint8_t>(f.data[0]) == frames::kEvent);
  return json{{"type", event ? "event" : "acked"}, {"controller", f.controller}, {"seq", f.seq},
              {"code", f.code}, {"data", HexBytes(f.data)}, {"attempts", f.attempts}};
}

json ToJson(const ControllerStats& s) {
  return json{{"type", "stats"},         {"announcements", s.announcements},
              {"announcements_acked", s.announcementsAcked},
              {"frames_sent", s.framesSent}, {"repeats", s.repeats},     {"acks", s.acks},
              {"naks", s.naks},           {"stray_acks", s.strayAcks},  {"dropped", s.dropped},
              {"events_acked", s.eventsAcked}, {"commands", s.commands},
              {"bad_frames", s.badFrames}, {"queued", s.queued}};
}

std::string HexBytes(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size() * 2);
  for (char b : bytes) {
    const auto v = static_cast<std::uint8_t>(b);
    out.push_back(kDigits[v >> 4]);
    out.push_back(kDigits[v & 0xF]);
  }
  return out;
}

std::string BytesFromHex(std::string_view hex) {
  if (hex.size() % 2 != 0) throw std::invalid_argument("hex data of odd length");
  auto digit = [](char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    throw std::invalid_argument("not a hexadecimal digit in data");
  };
  std::string out;
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    out.push_back(static_cast<char>(digit(hex[i]) * 16 + digit(hex[i + 1])));
  }
  return out;
}

RequestResult ApplyRequest(Simulator& sim, const json& request, std::optional<json>& answer) {
  answer.reset();
  const std::string cmd = request.at("cmd").get<std::string>();
  if (cmd == "quit") return RequestResult::Quit;
  if (cmd == "add") {
    sim.Add(OptionsFrom(request));
    return RequestResult::Done;
  }
  const std::string address = ControllerOf(sim, request);
  if (cmd == "stats") {
    json stats = ToJson(sim.Stats(address));
    stats["controller"] = address;
    stats["linked"] = sim.Linked(address);
    answer = std::move(stats);
    return RequestResult::Done;
  }
  sim.Control(address, [&](SimController& c) { ApplyToController(c, cmd, request); });
  return RequestResult::Done;
}

}  // namespace ctrlsim
