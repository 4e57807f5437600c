// The audit trail: one structured journal entry for every step of a
// message's life, so that "journalctl VELMO_MESSAGE_ID={...}" answers
// whether a message went out, through which device and how it ended.
//
// Every entry carries SYSLOG_IDENTIFIER=velmosvc, a MESSAGE_ID per kind
// (below), VELMO_MESSAGE_ID (the message's id in braces), VELMO_STATUS
// (QUEUED, SENT, FAILED, RECEIVED, DELIVERED, UNDELIVERED) and a readable
// MESSAGE; then, by kind, VELMO_RECIPIENT and VELMO_SOURCE (bus, pickup),
// VELMO_DEVICE, VELMO_STATUS_TEXT, VELMO_SENDER. A message's text is never
// in it.
//
// The entries go to the journal's native socket (sd_journal_send); where
// no journal runs they are lost without an error, as syslog lines would be.
#pragma once

#include "platform/Guid.h"

#include <string>
#include <vector>

namespace velmo::events {

enum class AuditKind { Queued, Sent, Failed, Received, Delivered, Undelivered };

// MESSAGE_ID of each kind, for "journalctl MESSAGE_ID=...".
inline constexpr char kAuditQueuedId[] = "931bcfb37d294032a6aa8350c40b89ff";
inline constexpr char kAuditSentId[] = "2e3c67d14bec4dceab14bdac5e3be810";
inline constexpr char kAuditFailedId[] = "8f9fd47b687445f3b1d91c423a6da92c";
inline constexpr char kAuditReceivedId[] = "a84b1b3f176240dfaf8b0e2fc0c2a025";
inline constexpr char kAuditDeliveredId[] = "eb5df0b2bc0745cca43e79e10c5bc793";
inline constexpr char kAuditUndeliveredId[] = "8b9a5427ca0049d4bee18015fc4e39d5";

struct AuditEntry {
    AuditKind kind = AuditKind::Queued;
    GUID id{};
    std::string party;       // Queued, Delivered, Undelivered: the recipient; Received: the sender
    std::string source;      // Queued: "bus" or "pickup"
    std::string device;      // all but Queued: the device's name; empty when none took it
    std::string statusText;  // Sent, Failed, Delivered, Undelivered: the message's status text (the trail records
                             // it for Failed and Undelivered)
    double waited = 0;       // Delivered: seconds from queued to delivered
};

// The entry's journal fields, "NAME=value" each, in a fixed order. Line
// ends in values become "; " so that every field is one line.
std::vector<std::string> AuditFields(const AuditEntry& entry);

// Sends the entry to the journal. Never fails: an entry the journal does
// not take is dropped.
void Audit(const AuditEntry& entry);

}  // namespace velmo::events
