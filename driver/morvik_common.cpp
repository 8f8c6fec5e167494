#include "driver/morvik_common.h"

#include <arpa/inet.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <mutex>

#include "framework/equipment_errors.h"
#include "platform/exceptions.h"

namespace {

#define RES(id, name, text) constexpr std::string_view name = text;
#include "resources/strings/morvik_common.def"
#undef RES

struct OwnErrorText {
  std::int32_t code;
  std::string_view text;
};

constexpr OwnErrorText kOwnErrorTexts[] = {
    {kErrControllerNotListed, SControllerNotListed}, {kErrJournalCreate, SJournalCreateError},
    {kErrTimeProfileNumber, STimeProfileNumber},     {kErrCardNumber, SInvalidCardNumber},
    {kErrConnection, SConnectionError},
};

std::string WithValue(std::string_view pattern, std::string_view value) {
  std::string out(pattern);
  const auto at = out.find("%s");
  if (at != std::string::npos) out.replace(at, 2, value);
  return out;
}

// The registered extra message pump. Held by a shared pointer so that a pass keeps the hook it
// took alive even when another thread (or the hook itself) replaces it meanwhile.
std::mutex gExtraPumpMutex;
std::shared_ptr<const TExtraMessagePump> gExtraPump;

std::shared_ptr<const TExtraMessagePump> ExtraPump() {
  std::lock_guard lock(gExtraPumpMutex);
  return gExtraPump;
}

void RunExtraPump() {
  const auto pump = ExtraPump();
  if (!pump) return;
  try {
    (*pump)();
  } catch (...) {
    // Dropped like an error raised while a message is handled; the wait goes on.
  }
}

int DecimalPiece(std::string_view piece) {
  if (piece.empty() || !std::all_of(piece.begin(), piece.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    throw EConvertError(WithValue(SInvalidInteger, piece));
  }
  int value = 0;
  for (char c : piece) value = value * 10 + (c - '0');
  return value;
}

}  // namespace

bool IsKnownEventCode(std::uint8_t code) {
  return std::find(std::begin(kKnownEventCodes), std::end(kKnownEventCodes), code) !=
         std::end(kKnownEventCodes);
}

void GetErrorText(std::int32_t code, std::string_view given, std::string& text) {
  if (code < kErrControllerNotListed) {
    text = ErrorText(code, given);
    return;
  }
  for (const auto& own : kOwnErrorTexts) {
    if (own.code == code) {
      text = std::string(own.text);
      return;
    }
  }
  text = ErrorText(kErrUnknown);
}

std::string GetErrorText(std::int32_t code, std::string_view given) {
  std::string text;
  GetErrorText(code, given, text);
  return text;
}

std::string IPToHex(std::string_view ip) {
  const std::string copy(ip);  // inet_addr reads up to the first NUL, as the C string would end
  const in_addr_t address = ntohl(inet_addr(copy.c_str()));  // first part most significant
  char digits[9];
  std::snprintf(digits, sizeof digits, "%08X", static_cast<unsigned>(address));
  return digits;
}

TDateTime StrToEventDate(std::string_view text) {
  if (text.size() < 14) throw EConvertError(WithValue(SInvalidEventDate, text));
  DateTimeParts parts;
  parts.year = DecimalPiece(text.substr(0, 4));
  parts.month = DecimalPiece(text.substr(4, 2));
  parts.day = DecimalPiece(text.substr(6, 2));
  parts.hour = DecimalPiece(text.substr(8, 2));
  parts.minute = DecimalPiece(text.substr(10, 2));
  parts.second = DecimalPiece(text.substr(12, 2));
  parts.millisecond = 0;
  return EncodeDateTime(parts);
}

std::string EventDateToStr(TDateTime value) { return FormatDateTime("yyyymmddhhnnss", value); }

bool ProcessOneMessage(MSG& msg) {
  if (!PeekMessage(&msg, nullptr, 0, 0, PM_REMOVE)) return false;
  try {
    TranslateMessage(&msg);
    DispatchMessage(&msg);
  } catch (...) {
    // A failing handler must not stop the pump; the message counts as handled.
  }
  return true;
}

void ProcessMessages() {
  MSG msg{};
  while (ProcessOneMessage(msg)) {
  }
  RunExtraPump();
}

TExtraMessagePump SetExtraMessagePump(TExtraMessagePump pump) {
  auto next = pump ? std::make_shared<const TExtraMessagePump>(std::move(pump)) : nullptr;
  std::lock_guard lock(gExtraPumpMutex);
  std::swap(gExtraPump, next);
  return next ? *next : TExtraMessagePump();
}

void Delay(std::uint32_t milliseconds) {
  const std::uint64_t start = GetTickCount64();
  while (GetTickCount64() - start < milliseconds) {
    ProcessMessages();
    Sleep(1);
  }
}
