// Received messages of a running device, taken from the modem to the
// service: those the modem announced (stored at an index, or delivered
// directly), those it held at start, and the parts of long messages, kept
// in the PartStore until their siblings came. A message is deleted from
// the modem only after the service has stored it; one the service could
// not store yet stays in the modem (or, when delivered directly, in
// memory) and is offered again at the next idle check. Device thread only.
#pragma once

#include "devices/cellgate/AtModem.h"
#include "devices/cellgate/PartStore.h"

#include <deque>
#include <set>
#include <string>

namespace velmo::cellgate {

class MessageReceiver {
public:
    explicit MessageReceiver(AtModem& modem) : modem_(modem), settings_(modem.Settings()), parts_(modem.Settings().Name)
    {}

    // What the modem held at start: its storage listed (AT+CMGL=4), and the
    // parts that are whole or overdue.
    void TakeStoredMessages(IVelmo_Q* queue);
    // The modem's notes of new messages.
    void TakeAnnounced(IVelmo_Q* queue);
    // What could not be stored before, offered again.
    void OfferAgain(IVelmo_Q* queue);

private:
    void TakeStored(IVelmo_Q* queue, const std::string& index, const std::string& pdu);
    void ReadStored(IVelmo_Q* queue, const std::string& index);
    bool Deliver(IVelmo_Q* queue, const std::string& pdu, const std::string& where);
    // A message of parts to the service; its parts go once it is stored.
    void DeliverWhole(IVelmo_Q* queue, const PartStore::Message& message);
    // The part store's whole and overdue messages.
    void DeliverReadyParts(IVelmo_Q* queue);

    AtModem& modem_;
    const AtSettings& settings_;
    // Received messages not yet stored by the service: indexes in the
    // modem's storage, and PDUs delivered directly.
    std::set<std::string> unstoredIndexes_;
    std::deque<std::string> unstoredPdus_;
    bool hostTakesNone_ = false;  // ReportIncomingMsg said E_NOTIMPL: messages stay in the modem
    PartStore parts_;             // parts waiting for their siblings
};

}  // namespace velmo::cellgate
