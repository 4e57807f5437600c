#include "service/events/AuditTrail.h"

#include "interfaces/StatusWords.h"
#include "messagefile/TextLines.h"
#include "platform/Journal.h"
#include "platform/Text.h"

namespace velmo::events {

namespace {

// Journal priorities, as syslog numbers them.
constexpr int kInformation = 6;
constexpr int kWarning = 4;

}  // namespace

std::vector<std::string> AuditFields(const AuditEntry& e)
{
    const std::string id = GuidToUtf8(e.id);
    const std::string device = e.device.empty() ? std::string("(none)") : e.device;
    const std::string statusText = messagefile::OneLine(e.statusText);
    std::vector<std::string> fields{"SYSLOG_IDENTIFIER=velmosvc"};
    auto add = [&](const char* messageId, const char* word, int priority, const std::string& message) {
        fields.push_back(std::string("MESSAGE_ID=") + messageId);
        fields.push_back("PRIORITY=" + std::to_string(priority));
        fields.push_back("MESSAGE=" + message);
        fields.push_back("VELMO_MESSAGE_ID=" + id);
        fields.push_back(std::string("VELMO_STATUS=") + word);
    };
    switch (e.kind) {
    case AuditKind::Queued:
        add(kAuditQueuedId, status::kQueued, kInformation,
            "Message " + id + " to " + e.party + " queued (" + e.source + ")");
        fields.push_back("VELMO_RECIPIENT=" + e.party);
        fields.push_back("VELMO_SOURCE=" + e.source);
        break;
    case AuditKind::Sent:
        add(kAuditSentId, status::kSent, kInformation, "Message " + id + " sent through device " + device);
        fields.push_back("VELMO_DEVICE=" + e.device);
        break;
    case AuditKind::Failed:
        add(kAuditFailedId, status::kFailed, kWarning,
            "Message " + id + " failed on device " + device + (statusText.empty() ? "" : ": " + statusText));
        fields.push_back("VELMO_DEVICE=" + e.device);
        fields.push_back("VELMO_STATUS_TEXT=" + statusText);
        break;
    case AuditKind::Delivered:
        add(kAuditDeliveredId, status::kDelivered, kInformation,
            "Message " + id + " to " + e.party + " delivered, sent through device " + device);
        fields.push_back("VELMO_RECIPIENT=" + e.party);
        fields.push_back("VELMO_DEVICE=" + e.device);
        break;
    case AuditKind::Undelivered:
        add(kAuditUndeliveredId, status::kUndelivered, kWarning,
            "Message " + id + " to " + e.party + " not delivered, sent through device " + device +
                (statusText.empty() ? "" : ": " + statusText));
        fields.push_back("VELMO_RECIPIENT=" + e.party);
        fields.push_back("VELMO_DEVICE=" + e.device);
        fields.push_back("VELMO_STATUS_TEXT=" + statusText);
        break;
    case AuditKind::Received:
        add(kAuditReceivedId, status::kReceived, kInformation,
            "Message " + id + " received from " + e.party + " through device " + device);
        fields.push_back("VELMO_SENDER=" + e.party);
        fields.push_back("VELMO_DEVICE=" + e.device);
        break;
    }
    // Recipients, senders and device names come from outside: no value
    // may hold a line of its own.
    for (std::string& field : fields) {
        std::size_t value = field.find('=') + 1;
        field = field.substr(0, value) + EscapeControls(field.substr(value));
    }
    return fields;
}

void Audit(const AuditEntry& entry)
{
    (void)SendJournalEntry(AuditFields(entry));  // without a journal the entry is lost: there is nowhere else to say so
}

}  // namespace velmo::events
