// Outgoing messages of a running device: each message encoded as one or
// more SMS-SUBMIT PDUs (a long one under the device's next part reference)
// and sent with AT+CMGS, then reported to the host with exactly one
// outcome: SEND_OK, or the outcome of the first part that did not go.
#pragma once

#include "devices/cellgate/AtModem.h"
#include "devices/cellgate/SentParts.h"

namespace velmo::cellgate {

class MessageSender {
public:
    explicit MessageSender(AtModem& modem) : modem_(modem), settings_(modem.Settings()), sent_(modem.Settings().Name) {}

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
    };
    // One PDU out: the prompt, the PDU, the answer.
    PartOutcome SendPart(const std::string& pdu);
    void CancelPdu();

    AtModem& modem_;
    const AtSettings& settings_;
    SentParts sent_;
    bool swept_ = false;  // old records removed once per run
};

}  // namespace velmo::cellgate
