#include "devices/cellgate/MessageReceiver.h"

#include <algorithm>

#include "platform/EventLog.h"
#include "platform/Text.h"
#include "smscodec/ReceivedPdu.h"

namespace velmo::cellgate {

namespace {

constexpr char kKeptInSpool[] = "delivered directly by the modem: it is kept in a file and offered again";
constexpr char kOfferedAgain[] = "delivered directly by the modem and is offered again";

constexpr int kEmptySlot = 321;  // +CMS ERROR: invalid memory index (nothing stored there)
constexpr int kReceivedUnread = 0;
constexpr int kReceivedRead = 1;
constexpr char kUndecodedStatus[] =
    "The PDU does not decode as an SMS-DELIVER; the text is the PDU as the modem gave it";

// A received message for the host, with a status text when there is one
// (through IVelmo_Q2, or without it where the host does not offer that).
HRESULT ReportIncoming(IVelmo_Q* queue, std::u16string_view from, std::u16string_view text, const std::string& status)
{
    Bstr sender(from), body(text);
    ComPtr<IVelmo_Q2> extended;
    if (!status.empty() && SUCCEEDED(queue->QueryInterface(IID_IVelmo_Q2, extended.ReceiveVoid())) && extended) {
        Bstr note(AnsiToUtf16(status));
        return extended->ReportIncomingMsgEx(from.empty() ? nullptr : sender.get(), body.get(), note.get());
    }
    return queue->ReportIncomingMsg(0, from.empty() ? nullptr : sender.get(), body.get());
}

}  // namespace

void MessageReceiver::TakeAnnounced(IVelmo_Q* queue)
{
    while (std::optional<InboundNote> note = modem_.TakeInbound()) {
        if (note->kind == InboundNote::StoredIndex || note->kind == InboundNote::StoredReport) {
            if (Select(note->storage))
                ReadStored(queue, {note->storage, note->value});  // else it waits there for a listing
        } else if (note->kind == InboundNote::DirectReport) {
            TakeDirectReport(note->value);
        } else if (modem_.State().acknowledges) {
            bool kept = Deliver(queue, note->value, kKeptInSpool) || (!hostTakesNone_ && spool_.Keep(note->value));
            Acknowledge(kept);
        } else if (!Deliver(queue, note->value, kKeptInSpool)) {
            Hold(note->value);
        }
    }
}

std::vector<std::string> MessageReceiver::Storages() const
{
    std::vector<std::string> storages;
    std::string list = modem_.State().storages;
    for (std::size_t start = 0; start < list.size();) {
        std::size_t comma = list.find(',', start);
        storages.push_back(list.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        start = comma == std::string::npos ? list.size() : comma + 1;
    }
    return storages;
}

bool MessageReceiver::Select(const std::string& storage)
{
    if (storage.empty() || storage == selected_)
        return true;
    std::vector<std::string> known = Storages();
    if (std::find(known.begin(), known.end(), storage) == known.end() && !known.empty()) {
        if (refusedStorages_.insert(storage).second)
            modem_.Log(EVENTLOG_WARNING_TYPE,
                       "The modem announced a message in its storage %s, which it does not offer for reading: it is "
                       "read where the modem reads by default",
                       storage.c_str());
        return true;
    }
    AtModem::Result r = modem_.Command("AT+CPMS=\"" + storage + "\"\r", {{"+CPMS:"}});
    if (r.status == AtModem::Status::LinkGone)
        ThrowLinkGone();
    if (!r.Ok()) {
        if (refusedStorages_.insert(storage).second)
            modem_.Log(EVENTLOG_WARNING_TYPE,
                       "The modem refused to read from its storage %s ([%s]): messages there wait until it does",
                       storage.c_str(), r.Text().c_str());
        return false;
    }
    selected_ = storage;
    return true;
}

void MessageReceiver::ReadStored(IVelmo_Q* queue, const Slot& slot)
{
    if (hostTakesNone_)
        return;
    AtModem::Result r = modem_.Command("AT+CMGR=" + slot.index + "\r", {{"+CMGR:"}, true});
    if (r.status == AtModem::Status::LinkGone)
        ThrowLinkGone();
    if (ErrorCode(r.reply.text) == kEmptySlot && r.status == AtModem::Status::Answered)
        return;  // taken already, by a listing or an earlier read
    std::string pdu = PduOfCmgr(r.Text());
    if (!r.Ok() || pdu.empty()) {
        modem_.Log(EVENTLOG_WARNING_TYPE,
                   "The message at index %s of the modem's storage %s could not be read: [%s]; it stays there",
                   slot.index.c_str(), slot.storage.empty() ? "(default)" : slot.storage.c_str(), r.Text().c_str());
        return;
    }
    TakeStored(queue, slot, pdu);
}

void MessageReceiver::TakeStored(IVelmo_Q* queue, const Slot& slot, const std::string& pdu)
{
    std::string where = "index " + slot.index + " of the modem's storage: it stays there and is offered again";
    if (!Deliver(queue, pdu, where))
        return;  // offered again when the storage is listed next
    AtModem::Result deleted = modem_.Command("AT+CMGD=" + slot.index + "\r");
    if (deleted.status == AtModem::Status::LinkGone)
        ThrowLinkGone();
    if (!deleted.Ok())
        modem_.Log(EVENTLOG_WARNING_TYPE,
                   "The stored message at index %s could not be deleted from the modem: [%s]; it may be "
                   "received once more",
                   slot.index.c_str(), deleted.Text().c_str());
}

void MessageReceiver::ListStorages(IVelmo_Q* queue)
{
    std::vector<std::string> storages = Storages();
    if (storages.empty())
        storages.push_back(std::string());  // the one the modem reads by default
    for (const std::string& storage : storages) {
        if (hostTakesNone_ || !Select(storage))
            continue;
        AtModem::Result listing = modem_.Command("AT+CMGL=4\r", {{"+CMGL:"}, true});
        if (listing.status == AtModem::Status::LinkGone)
            ThrowLinkGone();
        if (!listing.Ok())
            continue;  // an empty storage gives ERROR on some modems
        for (const ListedMessage& m : ParseCmgl(listing.reply.text)) {
            if (hostTakesNone_)
                return;
            if (m.status != kReceivedUnread && m.status != kReceivedRead)
                continue;  // messages the modem keeps to send are not ours
            if (m.pdu.empty())
                ReadStored(queue, {storage, m.index});
            else
                TakeStored(queue, {storage, m.index}, m.pdu);
        }
    }
}

void MessageReceiver::TakeStoredMessages(IVelmo_Q* queue)
{
    DeliverSpooled(queue);
    ListStorages(queue);
    DeliverReadyParts(queue);
}

void MessageReceiver::Hold(const std::string& pdu)
{
    if (hostTakesNone_ || !spool_.Keep(pdu)) {
        if (!hostTakesNone_)
            modem_.Log(EVENTLOG_ERROR_TYPE,
                       "A received message could not be kept in %s either: it is held in memory only, and lost if "
                       "the device stops before the service can store it",
                       spool_.Folder().c_str());
        unstoredPdus_.push_back(pdu);
    }
}

void MessageReceiver::Acknowledge(bool kept)
{
    if (!kept) {
        modem_.Log(EVENTLOG_ERROR_TYPE,
                   "A received message could not be kept in %s either: it is not acknowledged, so the network "
                   "delivers it again",
                   spool_.Folder().c_str());
        return;
    }
    AtModem::Result ack = modem_.Command("AT+CNMA\r");
    if (!ack.Ok())
        modem_.Log(EVENTLOG_WARNING_TYPE,
                   "The modem did not take the acknowledgement AT+CNMA ([%s]): the network may deliver the message "
                   "again",
                   ack.Text().c_str());
}

void MessageReceiver::DeliverSpooled(IVelmo_Q* queue)
{
    for (const DirectSpool::Entry& entry : spool_.Waiting()) {
        if (!Deliver(queue, entry.pdu, kOfferedAgain))
            return;  // the service stores nothing now: the rest wait with it, in order
        spool_.Forget(entry);
    }
}

void MessageReceiver::TellUnstored()
{
    if (std::size_t spooled = spool_.Waiting().size())
        modem_.Log(EVENTLOG_WARNING_TYPE,
                   "%zu received messages that the service could not store yet wait in %s: they are stored when "
                   "the device runs again",
                   spooled, spool_.Folder().c_str());
    if (!unstoredPdus_.empty() && !hostTakesNone_)
        modem_.Log(EVENTLOG_ERROR_TYPE,
                   "%zu received messages could neither be stored nor kept in a file: they are lost with this stop",
                   unstoredPdus_.size());
}

void MessageReceiver::TakeDirectReport(const std::string& pdu)
{
    if (std::optional<sms::StatusReport> report = sms::DecodeStatusReport(pdu, settings_.NoSMSC))
        reports_.Take(*report);
    else
        modem_.Log(EVENTLOG_WARNING_TYPE,
                   "The modem handed over a status report that does not read as one ([%s]): it is dropped",
                   pdu.substr(0, 80).c_str());
    if (modem_.State().acknowledges)
        Acknowledge(true);
}

bool MessageReceiver::Deliver(IVelmo_Q* queue, const std::string& pdu, const std::string& where)
{
    sms::ReceivedPdu received = sms::DecodeReceived(pdu, settings_.NoSMSC);
    if (received.report) {
        reports_.Take(*received.report);
        return true;  // taken: it is deleted like a stored message
    }
    std::optional<sms::DecodedPdu>& decoded = received.message;
    HRESULT hr;
    if (!decoded || decoded->submit) {
        modem_.Log(EVENTLOG_WARNING_TYPE,
                   "A received message does not decode as an SMS-DELIVER PDU; it is stored as the modem "
                   "gave it");
        hr = ReportIncoming(queue, u"", AnsiToUtf16(pdu), kUndecodedStatus);
    } else if (decoded->concatenation && decoded->concatenation->total > 1) {
        // A part: kept durably until its siblings come, then stored whole.
        std::optional<PartStore::Message> whole;
        if (!parts_.Add(decoded->address, *decoded->concatenation, decoded->text, whole)) {
            modem_.Log(EVENTLOG_ERROR_TYPE, "A part of a received message could not be kept in %s; it was %s",
                       parts_.Folder().c_str(), where.c_str());
            return false;
        }
        if (whole)
            DeliverWhole(queue, *whole);
        return true;
    } else {
        hr = ReportIncoming(queue, decoded->address, decoded->text, std::string());
    }
    if (hr == E_NOTIMPL)
        hostTakesNone_ = true;  // a host that keeps nothing: the message stays where it is, without an event
    else if (FAILED(hr))
        modem_.Log(EVENTLOG_ERROR_TYPE, "A received message could not be stored (0x%08X); it was %s",
                   static_cast<unsigned>(hr), where.c_str());
    return SUCCEEDED(hr);
}

void MessageReceiver::DeliverWhole(IVelmo_Q* queue, const PartStore::Message& message)
{
    HRESULT hr = ReportIncoming(queue, message.sender, message.text, message.statusText);
    if (SUCCEEDED(hr)) {
        parts_.Forget(message);
    } else if (hr == E_NOTIMPL) {
        hostTakesNone_ = true;
    } else {
        modem_.Log(EVENTLOG_ERROR_TYPE,
                   "A received message in %zu parts could not be stored (0x%08X); its parts are kept in %s "
                   "and offered again",
                   message.files.size(), static_cast<unsigned>(hr), parts_.Folder().c_str());
    }
}

void MessageReceiver::DeliverReadyParts(IVelmo_Q* queue)
{
    if (hostTakesNone_)
        return;
    for (const PartStore::Message& message : parts_.Ready())
        DeliverWhole(queue, message);
}

void MessageReceiver::OfferAgain(IVelmo_Q* queue)
{
    DeliverReadyParts(queue);
    // Every storage listed again: what could not be read or stored before,
    // and what a modem that announces nothing keeps there.
    ListStorages(queue);
    DeliverSpooled(queue);
    for (std::size_t n = unstoredPdus_.size(); n > 0; --n) {
        std::string pdu = std::move(unstoredPdus_.front());
        unstoredPdus_.pop_front();
        if (!Deliver(queue, pdu, kOfferedAgain))
            unstoredPdus_.push_back(std::move(pdu));
    }
}

}  // namespace velmo::cellgate
