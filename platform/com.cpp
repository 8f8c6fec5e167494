// The interface identifiers of the binary standard and GUID creation and text.
#include "platform/com.h"

#include <sys/random.h>

#include <cerrno>
#include <cstring>
#include <random>

#include "platform/text.h"

const IID IID_NULL = {0x00000000, 0x0000, 0x0000, {0, 0, 0, 0, 0, 0, 0, 0}};
const IID IID_IUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IDispatch = {0x00020400, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_IClassFactory = {0x00000001, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
const IID IID_ISupportErrorInfo = {0xDF0B3D60, 0x548F, 0x101B,
                                   {0x8E, 0x65, 0x08, 0x00, 0x2B, 0x2B, 0xD1, 0x19}};

namespace {

void FillRandom(std::uint8_t* bytes, std::size_t count) {
  std::size_t done = 0;
  while (done < count) {
    const ssize_t got = getrandom(bytes + done, count - done, 0);
    if (got > 0) {
      done += static_cast<std::size_t>(got);
    } else if (got < 0 && errno != EINTR) {
      break;
    }
  }
  if (done < count) {  // no kernel randomness: fall back to the library's generator
    thread_local std::mt19937_64 engine{std::random_device{}()};
    for (; done < count; ++done) bytes[done] = static_cast<std::uint8_t>(engine());
  }
}

// The GUID bytes in the order of the registry text.
void ToBytes(const GUID& g, std::uint8_t out[16]) {
  for (int i = 0; i < 4; ++i) out[i] = static_cast<std::uint8_t>(g.Data1 >> (24 - 8 * i));
  out[4] = static_cast<std::uint8_t>(g.Data2 >> 8);
  out[5] = static_cast<std::uint8_t>(g.Data2);
  out[6] = static_cast<std::uint8_t>(g.Data3 >> 8);
  out[7] = static_cast<std::uint8_t>(g.Data3);
  std::memcpy(out + 8, g.Data4, 8);
}

GUID FromBytes(const std::uint8_t b[16]) {
  GUID g{};
  g.Data1 = (std::uint32_t{b[0]} << 24) | (std::uint32_t{b[1]} << 16) |
            (std::uint32_t{b[2]} << 8) | b[3];
  g.Data2 = static_cast<std::uint16_t>((b[4] << 8) | b[5]);
  g.Data3 = static_cast<std::uint16_t>((b[6] << 8) | b[7]);
  std::memcpy(g.Data4, b + 8, 8);
  return g;
}


// Byte index at which a dash follows in the text form: after bytes 4, 6, 8 and 10.
bool DashAfter(int byteIndex) {
  return byteIndex == 4 || byteIndex == 6 || byteIndex == 8 || byteIndex == 10;
}

}  // namespace

GUID CreateGuid() {
  std::uint8_t bytes[16];
  FillRandom(bytes, sizeof bytes);
  bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0F) | 0x40);  // version 4
  bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3F) | 0x80);  // RFC 4122 variant
  return FromBytes(bytes);
}

std::string GuidToString(const GUID& guid) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::uint8_t bytes[16];
  ToBytes(guid, bytes);
  std::string out;
  out.reserve(38);
  out.push_back('{');
  for (int i = 0; i < 16; ++i) {
    if (DashAfter(i)) out.push_back('-');
    out.push_back(kHex[bytes[i] >> 4]);
    out.push_back(kHex[bytes[i] & 0x0F]);
  }
  out.push_back('}');
  return out;
}

bool StringToGuid(std::string_view text, GUID& guid) {
  if (text.size() == 38) {
    if (text.front() != '{' || text.back() != '}') return false;
    text = text.substr(1, 36);
  }
  if (text.size() != 36) return false;
  std::uint8_t bytes[16];
  std::size_t pos = 0;
  for (int i = 0; i < 16; ++i) {
    if (DashAfter(i) && text[pos++] != '-') return false;
    const int high = HexDigitValue(text[pos]);
    const int low = HexDigitValue(text[pos + 1]);
    if (high < 0 || low < 0) return false;
    bytes[i] = static_cast<std::uint8_t>(high * 16 + low);
    pos += 2;
  }
  guid = FromBytes(bytes);
  return true;
}
