// The names of the service's gateway object on the bus, shared by the
// service that publishes it and the clients that call it
// (docs/gateway.md).
#pragma once

namespace velmo::gateway {

inline constexpr char kBusName[] = "org.norvane.Velmo";
inline constexpr char kPath[] = "/org/norvane/Velmo/Gateway";
inline constexpr char kInterface[] = "org.norvane.Velmo.IGateway";

// The errors it answers with.
inline constexpr char kInvalidArgsError[] = "org.freedesktop.DBus.Error.InvalidArgs";
inline constexpr char kNotFoundError[] = "org.norvane.Velmo.Error.NotFound";
inline constexpr char kUnreadableError[] = "org.norvane.Velmo.Error.Unreadable";
inline constexpr char kRefusedError[] = "org.norvane.Velmo.Error.Refused";
// The bus's own answer to a caller its policy refuses.
inline constexpr char kAccessDeniedError[] = "org.freedesktop.DBus.Error.AccessDenied";

}  // namespace velmo::gateway
