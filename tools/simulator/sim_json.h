// The JSON face of the simulator: records as JSON objects, and one JSON request applied to a
// Simulator (the command-line program reads one request per line).
//
// Requests ("controller" names a controller by address; it may be left out when there is one):
//   {"cmd":"add","address":"127.0.0.2"[,"device":"127.0.0.1","first_seq":0,"status":0,
//    "announce_ms":1000,"resend_ms":500,"max_attempts":20,"poll_silence_ms":12000,"announce":true]}
//   {"cmd":"event"[,"code":4,"month":1,"day":1,"hour":0,"minute":0,"second":0,"card":"00A1B2C3",
//    "wrapped":false,"count":1]}
//   {"cmd":"reply","mode":"ack|nak|silent|wrong_crc|duplicate|garbage"[,"count":N]}
//   {"cmd":"status","value":4660[,"length":15,"wrapped":false]}
//   {"cmd":"goodbye"}  {"cmd":"garbage"}  {"cmd":"seq","value":250}
//   {"cmd":"announce"[,"on":true|false]}   (without "on": one announcement now)
//   {"cmd":"offline","on":true}  {"cmd":"duplicates","on":true}
//   {"cmd":"frame","code":132,"data":"<hex bytes>"}   a sequenced frame of any code and data
//   {"cmd":"stats"}  {"cmd":"quit"}
// Output lines: {"type":"command",...} per command received, {"type":"event"|"acked",...} per
// frame of the controller that the driver acknowledged, {"type":"stats",...}, {"type":"error",...}.
#pragma once

#include <nlohmann/json.hpp>

#include <optional>
#include <string>

#include "tools/simulator/simulator.h"

namespace ctrlsim {

nlohmann::json ToJson(const ReceivedCommand& command);
nlohmann::json ToJson(const AckedFrame& frame);
nlohmann::json ToJson(const ControllerStats& stats);

std::string HexBytes(std::string_view bytes);
// Throws std::invalid_argument for an odd length or a character that is not a hexadecimal digit.
std::string BytesFromHex(std::string_view hex);

enum class RequestResult { Done, Quit };

// Applies one request. Throws std::exception with a readable message for a bad request; an
// answer to print (stats) is stored in answer.
RequestResult ApplyRequest(Simulator& sim, const nlohmann::json& request,
                           std::optional<nlohmann::json>& answer);

}  // namespace ctrlsim
