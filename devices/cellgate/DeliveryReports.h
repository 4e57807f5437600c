// The messages this device sent with a request for a status report, and
// what the network has reported on each part, kept durably in one file a
// message, "<root>cellgate/<device>.reports/<ID>", from the part's +CMGS
// until the service has recorded the final outcome. So a restart, or a
// crash, between the send and the report loses nothing.
//
// A report names the part by its message reference (0..255, which wraps)
// and the recipient: it matches the newest part sent with that reference
// to that recipient whose delivery is not settled yet. Recipients match
// when their digits, without leading zeros, are the same, or when the
// shorter (6 digits or more) ends the longer, since networks write a number
// in national ("0171...") or international ("+49171...") form. A message is delivered once every part is
// (TP-ST 0x00-0x1F), undelivered as soon as one part is not (0x40 and
// above); a temporary state (0x20-0x3F) only says so and waits.
//
// Records of messages the network never reported on go after the validity
// period and a day. Device thread only.
#pragma once

#include "platform/Guid.h"
#include "platform/SystemTime.h"
#include "smscodec/StatusReport.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace velmo::cellgate {

class DeliveryReports {
public:
    // device: the device's name, read at every call; it must outlive this.
    explicit DeliveryReports(const std::string& device) : device_(device) {}

    // What a message's reports come to, for the service.
    struct Outcome {
        GUID id{};
        long state = 0;               // DELIVERY_DONE, DELIVERY_FAILED or DELIVERY_PENDING
        std::string text;             // for the status text, beginning with a line end
        std::int64_t accepted = 0;    // seconds since 1970, UTC; 0 not known
        std::int64_t discharged = 0;  // the same
    };
    // What Take made of a report.
    struct Taken {
        bool matched = false;            // a part was waiting for it
        std::optional<Outcome> outcome;  // what to tell the service now, if anything
    };

    // Reads what earlier runs kept (once; later calls do nothing) and
    // removes the records past their time: those sent more than
    // validitySeconds (how long the network keeps trying) and a day ago,
    // and those that do not read. The number removed.
    std::size_t Load(std::uint64_t validitySeconds);
    // Part part (1..parts) of message id to to went out under reference.
    // False when it cannot be written (its report will then match nothing).
    bool Submitted(const GUID& id, const std::string& to, unsigned part, unsigned parts, unsigned reference);
    // A report from the network, matched and recorded durably.
    Taken Take(const sms::StatusReport& report);
    // The service has the final outcome of id (or wants none): its record goes.
    void Forget(const GUID& id);
    // The final outcomes the service has not taken yet, to offer again.
    std::vector<Outcome> Unreported() const;
    // The folder of the records, for log lines.
    std::string Folder() const;
    // How many messages wait for reports.
    std::size_t Waiting() const { return messages_.size(); }

private:
    struct Part {
        int reference = -1;       // -1: not sent yet
        std::int64_t sentMs = 0;  // wall clock
        int status = -1;          // TP-ST of the last report; -1 none
        std::int64_t accepted = 0, discharged = 0;
    };
    struct Message {
        std::string to;
        std::vector<Part> parts;
    };
    bool Save(const GUID& id, const Message& message);
    static std::optional<Outcome> Judge(const GUID& id, const Message& message, std::size_t reported);

    const std::string& device_;
    bool loaded_ = false;
    std::map<GUID, Message, GuidByteLess> messages_;
};

// Whether a report's recipient is the number a message went to.
bool SameRecipient(std::string_view reported, std::string_view sentTo);
// A time of seconds since 1970 as a UTC SYSTEMTIME; all zero (not set) for
// 0 or less.
SYSTEMTIME UtcOfSeconds(std::int64_t seconds);

}  // namespace velmo::cellgate
