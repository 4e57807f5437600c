// Outgoing messages of a running device: each message encoded as one or
// more SMS-SUBMIT PDUs (a long one under the device's next part reference)
// and sent with AT+CMGS, then reported to the host with exactly one
// outcome: SEND_OK, or the outcome of the first part that did not go. With
// StatusReport each part asks for the network's report, and its message
// reference is recorded (DeliveryReports) before the outcome is reported.
#pragma once

#include "devices/cellgate/AtModem.h"
#include "devices/cellgate/SentParts.h"
#include "devices/cellgate/StatusReports.h"

namespace velmo::cellgate {

class MessageSender {
public:
    // records and reports must outlive the sender.
    MessageSender(AtModem& modem, DeliveryReports& records, const StatusReports& reports)
        : modem_(modem), settings_(modem.Settings()), sent_(modem.Settings().Name), records_(records), reports_(reports)
    {}

    // Sends the message and reports it to queue. A message of several parts
    // that was tried before goes on after its last accepted part, under the
    // same reference (SentParts). Throws (after reporting) when the modem's
    // line has closed.
    void Send(IVelmo_Q* queue, const GUID& id, const Bstr& to, const Bstr& body);

private:
    struct PartOutcome {
        LONG result;
        std::string status;
        bool linkGone;
        int reference = -1;  // TP-MR of an accepted part; -1 when the answer named none
    };
    // An accepted part, recorded for its report when reports are asked for.
    void Record(const GUID& id, const std::string& number, std::size_t part, std::size_t parts, int reference);
    // One PDU out: the prompt, the PDU, the answer.
    PartOutcome SendPart(const std::string& pdu);
    void CancelPdu();

    AtModem& modem_;
    const AtSettings& settings_;
    SentParts sent_;
    DeliveryReports& records_;
    const StatusReports& reports_;
    bool swept_ = false;            // old records removed once per run
    bool toldNoReference_ = false;  // a +CMGS without reference is logged once per run
};

}  // namespace velmo::cellgate
