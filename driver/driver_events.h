// The controller event codes as the host sees them: kind names and descriptions, the callback that
// pushes each code, and the card text handed to the host.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// Sets Kind and Description for a code that has a kind and answers true; any other code (1 and 13
// among them) answers false with both texts empty.
bool GetEventKind(std::uint8_t Code, std::string& Kind, std::string& Description);

// The value of upper-case hexadecimal text: each character multiplies by 16 and adds its digit; any
// other character (lower-case digits included) makes the result 0 and ends the reading.
std::int64_t HexToInt64(std::string_view Text);

// Which host callback pushes an event of the code.
enum class TEventCallback { None, DataEvent, ErrorEvent };
TEventCallback EventCallbackOf(std::uint8_t Code);

// The card of a stored event as the host gets it: unchanged for CardNumFormat 0, else the decimal
// text of HexToInt64 (0 for no card).
std::string HostCardText(std::string_view StoredCard, std::int32_t CardNumFormat);
