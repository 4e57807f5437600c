// The JSON form of the gateway's values, the same for velmo --json and
// velmo-http. A date or name that is not known is null, never "".
#pragma once

#include "gatewayclient/GatewayClient.h"

#include <nlohmann/json.hpp>

namespace velmo::gw {

// {"id", "status", "to", "from", "date"}
nlohmann::json ToJson(const MessageSummary& m);
// {"id", "folder", "status", "to", "from", "text", "statusText", "created",
//  "completed", "received", "retries"}
nlohmann::json ToJson(const Message& m);
// {"id", "status", "statusText", "date"}
nlohmann::json ToJson(const std::string& id, const MessageStatus& s);
// {"id", "name", "state", "signal", "signalDbm", "registration", "operator"}
nlohmann::json ToJson(const Device& d);
// {"event": "status", "id", "status", "statusText"} or
// {"event": "received", "id", "sender", "device"}
nlohmann::json ToJson(const Event& e);

// -113 + 2 × signal for a +CSQ signal of 0 to 31; nullopt otherwise.
std::optional<int> SignalDbm(std::int32_t signal);

} // namespace velmo::gw
