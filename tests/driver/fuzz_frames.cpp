// Feeds arbitrary datagrams to the frame parser, and the data of accepted frames to the value
// decoders that the receive path uses (BCD bytes, event dates, configuration text, addresses).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "driver/controllers.h"
#include "driver/link_frames.h"
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

// The event body (after 13 leading bytes) and the status word, decoded as the receive path does.
void DecodeData(std::string_view data) {
  if (data.size() == 15) {
    volatile unsigned status = static_cast<std::uint8_t>(data[12]) + 256U * static_cast<std::uint8_t>(data[13]);
    (void)status;
  }
  if (data.size() < 13 + 6) return;
  const std::string_view body = data.substr(13);
  (void)IsKnownEventCode(static_cast<std::uint8_t>(body[0]) & 0x7F);
  DateTimeParts parts;
  parts.year = 2024;
  parts.month = frames::BCDToByte(body, 2);
  parts.day = frames::BCDToByte(body, 3);
  parts.hour = frames::BCDToByte(body, 4);
  parts.minute = frames::BCDToByte(body, 5);
  parts.second = frames::BCDToByte(body, body.size());
  TDateTime when = 0;
  if (TryEncodeDateTime(parts, when)) {
    if (StrToEventDate(EventDateToStr(when)) != when) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  frames::ParsedFrame parsed;
  if (frames::ParseFrame(input, parsed)) {
    CheckParsed(input, parsed);
    DecodeData(parsed.data);
  }
  for (std::size_t i = 0; i <= size + 1; ++i) (void)frames::BCDToByte(input, i);
  try {
    (void)StrToEventDate(input);
  } catch (const EConvertError&) {
  }
  TController controller(input.substr(0, 64));
  controller.HexToConfig(input);
  if (controller.ConfigToHex().size() != 20) std::abort();
  (void)IPToHex(input.substr(0, 64));
  return 0;
}
