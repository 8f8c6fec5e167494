// The shared error table: every error code of the equipment framework with its operator text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The framework's error codes that the code itself answers (the table has more, each with its text).
inline constexpr std::int32_t kErrWaitTimeout = 74;
inline constexpr std::int32_t kErrCancelledByUser = 201;
inline constexpr std::int32_t kErrUnknown = 1001;
inline constexpr std::int32_t kErrNotSupported = 1003;
inline constexpr std::int32_t kErrInvalidParams = 1004;
inline constexpr std::int32_t kErrNoResponse = 1007;
inline constexpr std::int32_t kErrNotReady = 1008;
inline constexpr std::int32_t kErrDeviceBusy = 1009;
inline constexpr std::int32_t kErrProtocol = 1014;
inline constexpr std::int32_t kErrControllerListEmpty = 11001;

// The text of an error code; a non-empty overrideText is returned unchanged instead. A code that
// the table does not know gives the text of 1001.
std::string ErrorText(std::int32_t code, std::string_view overrideText = {});

// The message raised when a host callback is needed but the host gave no callback object.
std::string HostUnavailableText();
