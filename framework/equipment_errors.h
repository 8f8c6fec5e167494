// The shared error table: every error code of the equipment framework with its operator text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// The text of an error code; a non-empty overrideText is returned unchanged instead. A code that
// the table does not know gives the text of 1001.
std::string ErrorText(std::int32_t code, std::string_view overrideText = {});

// The message raised when a host callback is needed but the host gave no callback object.
std::string HostUnavailableText();
