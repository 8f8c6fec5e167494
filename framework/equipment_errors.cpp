#include "framework/equipment_errors.h"

namespace {

#define RES(id, name, text) constexpr std::string_view name = text;
#include "resources/strings/equipment_errors.def"
#undef RES

// A plain selection on the exact code: the table is sparse and must not be computed.
std::string_view TableText(std::int32_t code) {
  switch (code) {
    case 0: return SErrNoErrors;
    case 70: return SErrInputOutput;
    case 74: return SErrWaitTimeout;
    case 201: return SErrCancelledByUser;
    case 1001: return SErrUnknown;
    case 1002: return SErrDeviceNotFound;
    case 1003: return SErrNotSupported;
    case 1004: return SErrInvalidParams;
    case 1005: return SErrPortOpen;
    case 1006: return SErrPortBusy;
    case 1007: return SErrNoResponse;
    case 1008: return SErrNotReady;
    case 1009: return SErrDeviceBusy;
    case 1010: return SErrPortWrite;
    case 1011: return SErrPortRead;
    case 1012: return SErrPortParams;
    case 1013: return SErrDeviceInit;
    case 1014: return SErrProtocol;
    case 1015: return SErrChecksum;
    case 1016: return SErrAnswerFormat;
    case 1017: return SErrModeNotSupported;
    case 2001: return SErrBufferOverflow;
    case 3001: return SErrNoPaper;
    case 3002: return SErrCoverOpen;
    case 3003: return SErrShiftOpen;
    case 3004: return SErrShiftNotOpen;
    case 3005: return SErrShiftOver24h;
    case 3006: return SErrReceiptOpen;
    case 3007: return SErrReceiptNotOpen;
    case 3008: return SErrNotEnoughCash;
    case 3009: return SErrFiscalMemory;
    case 3010: return SErrFiscalMemoryFull;
    case 3011: return SErrJournalModule;
    case 3012: return SErrTaxRate;
    case 3013: return SErrAmountTooLarge;
    case 4001: return SErrBankDeclined;
    case 4002: return SErrNoHostLink;
    case 4003: return SErrCardNotRead;
    case 4004: return SErrWrongPin;
    case 4005: return SErrNoFunds;
    case 4006: return SErrTransactionNotFound;
    case 4007: return SErrSettlementFailed;
    case 4008: return SErrTerminalNotInit;
    case 6001: return SErrWeightUnstable;
    case 7001: return SErrTemplate;
    case 8001: return SErrFingerprint;
    case 11001: return SErrControllerListEmpty;
    case 12001: return SErrCheckInDate;
    case 13001: return SErrCheckOutDate;
    case 14001: return SErrBillRejected;
    case 14002: return SErrBillJam;
    case 14003: return SErrCassetteFull;
    case 15001: return SErrRoomNotFound;
    default: return SErrUnknown;
  }
}

}  // namespace

std::string ErrorText(std::int32_t code, std::string_view overrideText) {
  if (!overrideText.empty()) return std::string(overrideText);
  return std::string(TableText(code));
}

std::string HostUnavailableText() { return std::string(SHostUnavailable); }
