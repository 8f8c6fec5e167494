// Feeds arbitrary datagrams to the frame parser, the data of accepted frames to the message
// decoders of the receive path (wrapped messages, events, status replies), and the bytes to the
// value decoders (BCD bytes, event dates, configuration text, addresses).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "driver/controllers.h"
#include "driver/link_frames.h"
#include "driver/link_messages.h"
#include "driver/morvik_common.h"
#include "platform/exceptions.h"

namespace {

void CheckParsed(std::string_view frame, const frames::ParsedFrame& parsed) {
  const bool isAck = parsed.code == frames::kAck || parsed.code == frames::kNak;
  if (isAck) {
    if (!parsed.data.empty() || frame.size() != 9) std::abort();
    return;
  }
  // The data lies inside the frame; the CRC field covers the rest; a frame written the way the
  // device writes them (upper-case digits) rebuilds byte for byte.
  if (parsed.data.size() + 11 != frame.size() || parsed.data.data() != frame.data() + 8) std::abort();
  if (frames::CalcCRC8(frame.substr(0, frame.size() - 3)) != parsed.crc) std::abort();
  const auto rebuilt = frames::BuildFrame(parsed.seq, parsed.code, parsed.data);
  if (rebuilt.frame.compare(0, 8, frame.substr(0, 8)) == 0 && rebuilt.crc != parsed.crc) std::abort();
}

// The received message decoded as the device decodes it; a decoded event must be one the journal
// stores and reads back.
void DecodeMessage(const frames::ParsedFrame& parsed, TDateTime now) {
  const auto message = messages::Unwrap(parsed.code, parsed.data);
  if (!message) return;
  (void)messages::DecodeStatusReply(message->data);
  const auto event = messages::DecodeEvent(message->data, now);
  if (!event) return;
  if (!IsKnownEventCode(event->Event) || !(event->Card.empty() || event->Card.size() == 8)) std::abort();
  if (StrToEventDate(EventDateToStr(event->EDate)) != event->EDate) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  frames::ParsedFrame parsed;
  if (frames::ParseFrame(input, parsed)) {
    CheckParsed(input, parsed);
    DecodeMessage(parsed, EncodeDateTime(DateTimeParts{2024, size % 2 ? 1 : 6, 15, 12, 0, 0, 0}));
  }
  for (std::size_t i = 0; i <= size + 1; ++i) (void)frames::BCDToByte(input, i);
  try {
    (void)StrToEventDate(input);
  } catch (const EConvertError&) {
  }
  TController controller(input.substr(0, 64));
  controller.HexToConfig(input);
  if (controller.ConfigToHex().size() != 20) std::abort();
  if (messages::WrapCommand(input.substr(0, 64), messages::kDeleteCard, messages::CardData(input)).size() !=
      12 + std::min<std::size_t>(size, 8)) {
    std::abort();
  }
  return 0;
}
