// Feeds arbitrary datagrams to the frame parser and checks what it accepts.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "driver/link_frames.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view frame(reinterpret_cast<const char*>(data), size);
  frames::ParsedFrame parsed;
  if (frames::ParseFrame(frame, parsed)) {
    // Whatever is accepted lies inside the input and rebuilds to the same bytes when it is a
    // data frame written in upper case.
    if (!parsed.data.empty() &&
        (parsed.data.data() < frame.data() || parsed.data.data() + parsed.data.size() > frame.data() + frame.size())) {
      std::abort();
    }
    if (parsed.code != frames::kAck && parsed.code != frames::kNak) {
      const auto rebuilt = frames::BuildFrame(parsed.seq, parsed.code, parsed.data);
      if (rebuilt.crc != frames::CalcCRC8(frame.substr(0, frame.size() - 3))) std::abort();
    } else if (!parsed.data.empty()) {
      std::abort();
    }
  }
  for (std::size_t i = 1; i <= size + 1; ++i) (void)frames::BCDToByte(frame, i);
  return 0;
}
