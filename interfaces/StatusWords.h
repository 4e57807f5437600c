// The words for a message's status (MESSAGE_STATUS) wherever programs show
// it: the gateway's answers and signals, the audit trail, velmo, velmo-http.
#pragma once

namespace velmo::status {

inline constexpr char kNotFound[] = "NOT_FOUND";
inline constexpr char kQueued[] = "QUEUED";
inline constexpr char kSent[] = "SENT";
inline constexpr char kFailed[] = "FAILED";
inline constexpr char kReceived[] = "RECEIVED";
// A listed entry that is no readable message.
inline constexpr char kBad[] = "BAD";

}  // namespace velmo::status
