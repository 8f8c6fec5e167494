// BSTR: length-prefixed UTF-16 text from the one allocator that the host program and the driver
// library share.
#include <cstdlib>
#include <cstring>

#include "platform/oleauto.h"
#include "platform/ole_types.h"

namespace {

// Storage: a 4-byte byte length, the characters, a terminating NUL.
constexpr std::size_t kBstrPrefix = sizeof(std::uint32_t);
constexpr UINT kBstrMaxLength = 0x3FFFFFF0;

void* BstrBlock(BSTR bstr) { return reinterpret_cast<char*>(bstr) - kBstrPrefix; }

std::uint32_t BstrBytes(BSTR bstr) {
  std::uint32_t bytes = 0;
  std::memcpy(&bytes, BstrBlock(bstr), kBstrPrefix);
  return bytes;
}

BSTR AllocBstr(UINT length) {
  if (length > kBstrMaxLength) return nullptr;
  void* block = std::malloc(kBstrPrefix + (std::size_t{length} + 1) * sizeof(OLECHAR));
  if (!block) return nullptr;
  const std::uint32_t bytes = length * sizeof(OLECHAR);
  std::memcpy(block, &bytes, kBstrPrefix);
  auto* text = reinterpret_cast<BSTR>(static_cast<char*>(block) + kBstrPrefix);
  text[length] = 0;
  return text;
}

}  // namespace

BSTR ole_types::DuplicateBstr(BSTR bstr) {
  return bstr ? SysAllocStringLen(bstr, SysStringLen(bstr)) : nullptr;
}

BSTR SysAllocString(const OLECHAR* text) {
  if (!text) return nullptr;
  UINT length = 0;
  while (text[length] != 0) ++length;
  return SysAllocStringLen(text, length);
}

BSTR SysAllocStringLen(const OLECHAR* text, UINT length) {
  BSTR bstr = AllocBstr(length);
  if (!bstr) return nullptr;
  if (text) {
    std::memcpy(bstr, text, std::size_t{length} * sizeof(OLECHAR));
  } else {
    std::memset(bstr, 0, std::size_t{length} * sizeof(OLECHAR));
  }
  return bstr;
}

BOOL SysReAllocStringLen(BSTR* bstr, const OLECHAR* text, UINT length) {
  if (!bstr) return 0;
  BSTR fresh = SysAllocStringLen(text, length);  // text may lie inside the old string
  if (!fresh) return 0;
  SysFreeString(*bstr);
  *bstr = fresh;
  return 1;
}

void SysFreeString(BSTR bstr) {
  if (bstr) std::free(BstrBlock(bstr));
}

UINT SysStringLen(BSTR bstr) { return bstr ? BstrBytes(bstr) / sizeof(OLECHAR) : 0; }

UINT SysStringByteLen(BSTR bstr) { return bstr ? BstrBytes(bstr) : 0; }
