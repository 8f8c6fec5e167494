// The shared vocabulary of the access-controller driver: the event record, the journal filter, the
// known event codes, the driver's own error texts, the controller address in command form, the
// journal's date text and the message pump that the driver's waits use.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "framework/tavo2_lib.h"
#include "platform/date_time.h"
#include "platform/reactor.h"

// One controller event.
struct TEvent {
  std::string ID;        // identifier of the controller that reported it
  TDateTime EDate = 0;   // when it happened
  std::uint8_t Event = 0;  // event code
  std::string Card;      // card number as 8 hexadecimal digits, or empty
};
using TEvents = std::vector<TEvent>;

// The journal's filter while a read or delete runs.
struct TEventFilter {
  const TStringList* IDs = nullptr;  // owned by the caller; null or empty: every controller
  std::string DateFrom;              // "yyyymmddhhnnss", inclusive
  std::string DateTo;                // "yyyymmddhhnnss", inclusive
};

// The driver's own error codes.
constexpr std::int32_t kErrControllerNotListed = 4501;
constexpr std::int32_t kErrJournalCreate = 4502;
constexpr std::int32_t kErrTimeProfileNumber = 4503;
constexpr std::int32_t kErrCardNumber = 4504;
constexpr std::int32_t kErrConnection = 4505;

// The event codes the driver accepts, in their stored order.
inline constexpr std::uint8_t kKnownEventCodes[17] = {0x0C, 0x0D, 0x0F, 0x10, 0x14, 0x2B,
                                                      0x2D, 0x40, 0x41, 0x22, 0x21, 0x23,
                                                      0x26, 0x01, 0x02, 0x12, 0x04};

bool IsKnownEventCode(std::uint8_t code);

// The message for an error code: below 4501 the common table's text (a non-empty given text wins),
// 4501 to 4505 the driver's own texts, above that "Неизвестная ошибка"; the given text is not used
// from 4501 on.
void GetErrorText(std::int32_t code, std::string_view given, std::string& text);
std::string GetErrorText(std::int32_t code, std::string_view given = {});

// An IPv4 address (parsed as inet_addr does) as 8 upper-case hexadecimal digits, first part first;
// an unparsable address gives FFFFFFFF.
std::string IPToHex(std::string_view ip);

// The journal's "yyyymmddhhnnss" text as a date-time; raises EConvertError for a text shorter than
// 14 characters, a piece that is not a decimal number or parts that are not a valid date and time.
TDateTime StrToEventDate(std::string_view text);
// The inverse: the journal's date text of a date-time.
std::string EventDateToStr(TDateTime value);

// Takes the next message of the thread's queue (any window) and dispatches it; false when there
// was none. Errors raised while the message is handled are dropped.
bool ProcessOneMessage(MSG& msg);
// Handles every waiting message, also those posted while pumping (WM_QUIT included), then runs
// the extra message pump once when one is registered.
void ProcessMessages();
// Waits the given time while pumping the thread's messages (ProcessMessages, then a 1 ms sleep).
void Delay(std::uint32_t milliseconds);

// The extra message pump: a process-wide hook that ProcessMessages (and so Delay) calls once per
// pass, after the thread's queue has been drained, so that a GUI toolkit's own events keep flowing
// while the driver waits (the settings dialogs register Qt's event processing here). None by
// default. An error raised by the hook is caught and dropped, like one raised while a message is
// handled. The hook runs on whichever thread pumps, and may be re-entered when what it processes
// pumps again: a hook bound to one thread must check that it runs there. Registering an empty
// function removes the hook; the answer is the hook registered before.
using TExtraMessagePump = std::function<void()>;
TExtraMessagePump SetExtraMessagePump(TExtraMessagePump pump);
