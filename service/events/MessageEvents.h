// What happens to messages, told to everyone who keeps track: the audit
// trail always, and the one listener the service may set (the bus
// gateway, which turns each event into a signal).
//
// An event is announced once, after the step it tells of is on disk.
// statusText carries the message's whole status text for Sent, Failed,
// Delivered and Undelivered (the audit trail records it for Failed and
// Undelivered only).
#pragma once

#include "service/events/AuditTrail.h"

#include <functional>

namespace velmo::events {

using MessageListener = std::function<void(const AuditEntry&)>;

// Replaces the listener (an empty one: none). The listener runs on the
// thread that announces, so it must return quickly and never throw.
void SetMessageListener(MessageListener listener);

// Audits the event and tells the listener.
void Announce(const AuditEntry& entry);

}  // namespace velmo::events
