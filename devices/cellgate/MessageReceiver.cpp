#include "devices/cellgate/MessageReceiver.h"

#include "platform/EventLog.h"
#include "platform/Text.h"
#include "smscodec/DeliverPdu.h"

namespace velmo::cellgate {

namespace {

constexpr char kKeptInMemory[] = "delivered directly by the modem: it is kept in memory and offered again";

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
        if (note->kind == InboundNote::StoredIndex)
            ReadStored(queue, note->value);
        else if (!Deliver(queue, note->value, kKeptInMemory))
            unstoredPdus_.push_back(note->value);
    }
}

void MessageReceiver::ReadStored(IVelmo_Q* queue, const std::string& index)
{
    if (hostTakesNone_)
        return;
    AtModem::Result r = modem_.Command("AT+CMGR=" + index + "\r", {{"+CMGR:"}, true});
    if (r.status == AtModem::Status::LinkGone)
        ThrowLinkGone();
    if (ErrorCode(r.reply.text) == kEmptySlot && r.status == AtModem::Status::Answered) {
        unstoredIndexes_.erase(index);  // taken already, by the listing at start or an earlier read
        return;
    }
    std::string pdu = PduOfCmgr(r.Text());
    if (!r.Ok() || pdu.empty()) {
        unstoredIndexes_.insert(index);
        modem_.Log(EVENTLOG_WARNING_TYPE,
                   "The message at index %s of the modem's storage could not be read: [%s]; it stays there",
                   index.c_str(), r.Text().c_str());
        return;
    }
    TakeStored(queue, index, pdu);
}

void MessageReceiver::TakeStored(IVelmo_Q* queue, const std::string& index, const std::string& pdu)
{
    std::string where = "index " + index + " of the modem's storage: it stays there and is offered again";
    if (!Deliver(queue, pdu, where)) {
        unstoredIndexes_.insert(index);
        return;
    }
    unstoredIndexes_.erase(index);
    AtModem::Result deleted = modem_.Command("AT+CMGD=" + index + "\r");
    if (deleted.status == AtModem::Status::LinkGone)
        ThrowLinkGone();
    if (!deleted.Ok())
        modem_.Log(EVENTLOG_WARNING_TYPE,
                   "The stored message at index %s could not be deleted from the modem: [%s]; it may be "
                   "received once more",
                   index.c_str(), deleted.Text().c_str());
}

void MessageReceiver::TakeStoredMessages(IVelmo_Q* queue)
{
    AtModem::Result listing = modem_.Command("AT+CMGL=4\r", {{"+CMGL:"}, true});
    if (listing.status == AtModem::Status::LinkGone)
        ThrowLinkGone();
    if (!listing.Ok()) {
        DeliverReadyParts(queue);
        return;  // an empty storage gives ERROR on some modems
    }
    for (const ListedMessage& m : ParseCmgl(listing.reply.text)) {
        if (hostTakesNone_)
            return;
        if (m.status != kReceivedUnread && m.status != kReceivedRead)
            continue;  // messages the modem keeps to send are not ours
        if (m.pdu.empty())
            ReadStored(queue, m.index);
        else
            TakeStored(queue, m.index, m.pdu);
    }
    DeliverReadyParts(queue);
}

bool MessageReceiver::Deliver(IVelmo_Q* queue, const std::string& pdu, const std::string& where)
{
    std::optional<sms::DecodedPdu> decoded = sms::DecodePdu(pdu, settings_.NoSMSC);
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
    std::set<std::string> indexes = unstoredIndexes_;
    for (const std::string& index : indexes)
        ReadStored(queue, index);
    for (std::size_t n = unstoredPdus_.size(); n > 0; --n) {
        std::string pdu = std::move(unstoredPdus_.front());
        unstoredPdus_.pop_front();
        if (!Deliver(queue, pdu, kKeptInMemory))
            unstoredPdus_.push_back(std::move(pdu));
    }
}

}  // namespace velmo::cellgate
