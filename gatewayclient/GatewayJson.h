// The JSON form of the gateway's values, the same for velmo --json and
// velmo-http: each function gives the JSON text, compact for an indent
// below 0, else spread over lines with that indent. A date or name that
// is not known is null, never "".
#pragma once

#include "gatewayclient/GatewayClient.h"

#include <string>
#include <vector>

namespace velmo::gatewayclient {

// [{"id", "status", "to", "from", "date"}, ...]
std::string JsonText(const std::vector<MessageSummary>& messages, int indent);
// {"id", "folder", "status", "to", "from", "text", "statusText", "created",
//  "completed", "received", "retries"}
std::string JsonText(const Message& m, int indent);
// {"id", "status", "statusText", "date"}
std::string JsonText(const std::string& id, const MessageStatus& s, int indent);
// [{"id", "name", "state", "signal", "signalDbm", "registration", "operator",
//   "lastError", "nextTry", "failedStarts", "manufacturer", "model",
//   "revision", "imei", "imsi", "smsc", "storages", "notification", "port"}, ...]
std::string JsonText(const std::vector<Device>& devices, int indent);
// {"event": "status", "id", "status", "statusText", "time"} or
// {"event": "received", "id", "sender", "device", "time"}
std::string JsonText(const Event& e, const std::string& time, int indent);

}  // namespace velmo::gatewayclient
