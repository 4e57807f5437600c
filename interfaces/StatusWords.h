// The words for a message's status (MESSAGE_STATUS) wherever programs show
// it: the gateway's answers and signals, the audit trail, velmo, velmo-http.
#pragma once

namespace velmo::status {

inline constexpr char kNotFound[] = "NOT_FOUND";
inline constexpr char kQueued[] = "QUEUED";
inline constexpr char kSent[] = "SENT";
inline constexpr char kFailed[] = "FAILED";
inline constexpr char kReceived[] = "RECEIVED";
// A sent message the network reported on: it reached the phone, or it
// never will.
inline constexpr char kDelivered[] = "DELIVERED";
inline constexpr char kUndelivered[] = "UNDELIVERED";
// A listed entry that is no readable message.
inline constexpr char kBad[] = "BAD";

}  // namespace velmo::status
