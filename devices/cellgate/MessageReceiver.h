// Received messages of a running device, taken from the modem to the
// service: those the modem announced (stored at an index of a storage, or
// delivered directly), those its storages hold at start and at every idle
// check, and the parts of long messages, kept in the PartStore until their
// siblings came. A status report, wherever it is found (+CDS, a +CDSI
// read back, a listing), goes to the StatusReports and is deleted like a
// message once it is taken. Every storage the opening found (SM, ME, MT) is listed;
// the storage a message is in is selected (AT+CPMS) before it is read or
// deleted. A message is deleted from the modem only after the service has
// stored it; one the service could not store yet stays in the modem (or,
// when delivered directly, in the DirectSpool's files, and in memory only
// when even they cannot be written) and is offered again at the next idle
// check and at the next start. Device thread only.
#pragma once

#include "devices/cellgate/AtModem.h"
#include "devices/cellgate/DirectSpool.h"
#include "devices/cellgate/PartStore.h"
#include "devices/cellgate/StatusReports.h"

#include <deque>
#include <set>
#include <string>
#include <vector>

namespace velmo::cellgate {

class MessageReceiver {
public:
    // reports takes the status reports among what the modem gives; it must
    // outlive the receiver.
    MessageReceiver(AtModem& modem, StatusReports& reports)
        : modem_(modem), settings_(modem.Settings()), reports_(reports), parts_(modem.Settings().Name),
          spool_(modem.Settings().Name)
    {}

    // What the modem held at start: its storage listed (AT+CMGL=4), and the
    // parts that are whole or overdue.
    void TakeStoredMessages(IVelmo_Q* queue);
    // The modem's notes of new messages.
    void TakeAnnounced(IVelmo_Q* queue);
    // What could not be stored before, offered again.
    void OfferAgain(IVelmo_Q* queue);
    // At the end of a run: says how many received messages wait in the
    // spool, and how many only memory held (lost with the stop).
    void TellUnstored();

private:
    // A message's place in the modem: its storage ("" for the default) and index.
    struct Slot {
        std::string storage;
        std::string index;
    };
    // The storages the opening found, in order.
    std::vector<std::string> Storages() const;
    // Makes storage the one reads and deletes go to; false when the modem
    // refused it (warned once per storage). "" and the storage already
    // selected need no command.
    bool Select(const std::string& storage);
    // Lists every storage and takes what it holds.
    void ListStorages(IVelmo_Q* queue);
    void TakeStored(IVelmo_Q* queue, const Slot& slot, const std::string& pdu);
    void ReadStored(IVelmo_Q* queue, const Slot& slot);
    bool Deliver(IVelmo_Q* queue, const std::string& pdu, const std::string& where);
    // A message of parts to the service; its parts go once it is stored.
    void DeliverWhole(IVelmo_Q* queue, const PartStore::Message& message);
    // The part store's whole and overdue messages.
    void DeliverReadyParts(IVelmo_Q* queue);
    // Keeps a message delivered directly that could not be stored: in the
    // spool, else in memory.
    void Hold(const std::string& pdu);
    // With acknowledged delivery: AT+CNMA for a message kept (stored or
    // spooled); none for one that was not, so the network delivers it again.
    void Acknowledge(bool kept);
    // The spool's messages, oldest first, until the service refuses one.
    void DeliverSpooled(IVelmo_Q* queue);

    // A status report handed over directly (+CDS), acknowledged when the
    // modem waits for it.
    void TakeDirectReport(const std::string& pdu);

    AtModem& modem_;
    const AtSettings& settings_;
    StatusReports& reports_;
    std::string selected_;                   // the storage AT+CPMS selected last ("" none yet)
    std::set<std::string> refusedStorages_;  // warned about once
    // Received messages delivered directly that the service could not
    // store yet (those in the modem's storages stay there until listed).
    std::deque<std::string> unstoredPdus_;
    bool hostTakesNone_ = false;  // ReportIncomingMsg said E_NOTIMPL: messages stay in the modem
    PartStore parts_;             // parts waiting for their siblings
    DirectSpool spool_;           // messages delivered directly, not stored yet
};

}  // namespace velmo::cellgate
