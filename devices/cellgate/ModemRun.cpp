// The running device: messages out with AT+CMGS, every one with an end;
// messages in, deleted from the modem only once the service has stored
// them; the modem checked while all is quiet.
#include "devices/cellgate/AtModem.h"

#include "smscodec/DeliverPdu.h"
#include "devices/cellgate/PartReference.h"
#include "smscodec/SubmitPdu.h"
#include "platform/EventLog.h"
#include "platform/Text.h"
#include "platform/Timing.h"

namespace velmo::cellgate {

namespace {

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

HRESULT AtModem::RunLoop(IVelmo_Q* queue)
{
    if (!opened_)
        return S_OK;
    if (!queue)
        return E_POINTER;
    try {
        TakeStoredMessages(queue);
        DeliverReadyParts(queue);
        while (true) {
            LONG reason = WAKE_NONE;
            GUID id{};
            Bstr to, body;
            if (FAILED(queue->WaitForMsg(inboundEvent_.get(), &reason, &id, to.Receive(), body.Receive())))
                return S_OK;
            if (reason == WAKE_MESSAGE) {
                Send(queue, id, to, body);
            } else if (reason == WAKE_EVENT) {
                if (linkEnded_)
                    ThrowLinkGone();
                HandleInbound(queue);
                if (checkDue_)
                    IdleCheck(queue);
            }
        }
    } catch (const CSmartException& e) {
        return ReportFailure(e);
    }
}

void AtModem::ThrowLinkGone()
{
    throw CSmartException("The modem's line has closed: the port failed or the modem went away");
}

void AtModem::Send(IVelmo_Q* queue, const GUID& id, const Bstr& to, const Bstr& body)
{
    auto report = [&](LONG result, const std::string& status) {
        Bstr text = status.empty() ? Bstr() : Bstr(AnsiToUtf16(status));
        (void)queue->ReportMsgResult(id, 0, result, text.get());  // S_OK always
    };
    std::string number = Utf16ToAnsi(to.view());
    if (number.size() < 2) {
        report(SEND_FAILED, "Invalid Phoneno.");
        return;
    }
    sms::SubmitOptions options{settings_.NoSMSC, settings_.FullAlphabet, settings_.MaxParts, 0};
    sms::SubmitMessage message = sms::EncodeSubmit(number, body.view(), options);
    if (message.pdus.size() > 1) {
        options.reference = PartReference(settings_.Name).Next();
        message = sms::EncodeSubmit(number, body.view(), options);
    }
    std::size_t parts = message.pdus.size();
    for (std::size_t i = 0; i < parts; ++i) {
        PartOutcome outcome = SendPart(message.pdus[i]);
        if (outcome.result == SEND_OK)
            continue;
        // A part that did not go: the message is retried or failed as that part
        // was; the parts before it are out already.
        std::string prefix = parts > 1 ? "Part " + std::to_string(i + 1) + " of " + std::to_string(parts) + ": " : "";
        report(outcome.result, outcome.status.empty() ? outcome.status : prefix + outcome.status);
        if (outcome.linkGone)
            ThrowLinkGone();
        return;
    }
    bool chosen = settings_.FullAlphabet || settings_.MaxParts > 1;  // the 8-bit single part is cut silently
    report(SEND_OK, message.cut && chosen
                        ? "The text was cut to fit " + std::to_string(parts) + (parts == 1 ? " part" : " parts")
                        : std::string());
}

AtModem::PartOutcome AtModem::SendPart(const std::string& pdu)
{
    int length = sms::SubmitLength(pdu, settings_.NoSMSC);
    Result prompt = Transact("AT+CMGS=" + std::to_string(length) + "\r", {{}, false, true}, DesignWait(kPromptWait));
    if (prompt.status == Status::LinkGone)
        return {SEND_RETRY, "The modem's line closed before the message was sent", true};
    if (prompt.status == Status::TimedOut) {
        CancelPdu();
        return {SEND_RETRY,
                "No prompt from the modem within " + std::to_string(kPromptWait / 1000) +
                    " s after AT+CMGS; the message was cancelled with ESC",
                false};
    }
    if (!prompt.reply.prompt) {
        // Refused before the prompt: the answer says why, as after a PDU.
        SendOutcome outcome = ClassifySendResponse(prompt.reply.text);
        if (outcome.expected && outcome.result != SEND_OK)
            return {outcome.result, outcome.withStatusText ? prompt.reply.text : std::string(), false};
        return {SEND_RETRY, "Unexpected response [" + prompt.reply.text + "] to command AT+CMGS", false};
    }
    Result answer = Transact(pdu + "\x1a", {{"+CMGS:"}}, DesignWait(kResponseWait));
    if (answer.status == Status::LinkGone)
        return {SEND_RETRY, "The modem's line closed while the message was being sent", true};
    if (answer.status == Status::TimedOut)
        return {SEND_RETRY,
                "No answer from the modem within " + std::to_string(kResponseWait / 1000) + " s after the PDU", false};
    SendOutcome outcome = ClassifySendResponse(answer.reply.text);
    if (!outcome.expected)
        return {SEND_RETRY, "Unexpected response [" + answer.reply.text + "] to tpdu [" + pdu + "]", false};
    return {outcome.result, outcome.withStatusText ? answer.reply.text : std::string(), false};
}

void AtModem::CancelPdu()
{
    // ESC ends the modem's wait for a PDU; its answer, if one comes, is
    // taken here so it never ends a later command's reply.
    (void)Transact("\x1b", {}, DesignWait(kCancelWait));
}

void AtModem::HandleInbound(IVelmo_Q* queue)
{
    while (true) {
        InboundNote note;
        {
            std::lock_guard lock(inboundLock_);
            if (inbound_.empty())
                return;
            note = std::move(inbound_.front());
            inbound_.pop_front();
        }
        if (note.kind == InboundNote::StoredIndex) {
            ReadStored(queue, note.value);
        } else if (!Deliver(queue, note.value,
                            "delivered directly by the modem: it is kept in memory and offered again")) {
            unstoredPdus_.push_back(note.value);
        }
    }
}

void AtModem::ReadStored(IVelmo_Q* queue, const std::string& index)
{
    if (hostTakesNone_)
        return;
    Result r = Command("AT+CMGR=" + index + "\r", {{"+CMGR:"}, true});
    if (r.status == Status::LinkGone)
        ThrowLinkGone();
    if (ErrorCode(r.reply.text) == kEmptySlot && r.status == Status::Answered) {
        unstoredIndexes_.erase(index);  // taken already, by the listing at start or an earlier read
        return;
    }
    std::string pdu = PduOfCmgr(r.Text());
    if (!r.Ok() || pdu.empty()) {
        unstoredIndexes_.insert(index);
        Log(EVENTLOG_WARNING_TYPE,
            "The message at index %s of the modem's storage could not be read: [%s]; it stays there", index.c_str(),
            r.Text().c_str());
        return;
    }
    TakeStored(queue, index, pdu);
}

void AtModem::TakeStored(IVelmo_Q* queue, const std::string& index, const std::string& pdu)
{
    std::string where = "index " + index + " of the modem's storage: it stays there and is offered again";
    if (!Deliver(queue, pdu, where)) {
        unstoredIndexes_.insert(index);
        return;
    }
    unstoredIndexes_.erase(index);
    Result deleted = Command("AT+CMGD=" + index + "\r");
    if (deleted.status == Status::LinkGone)
        ThrowLinkGone();
    if (!deleted.Ok())
        Log(EVENTLOG_WARNING_TYPE,
            "The stored message at index %s could not be deleted from the modem: [%s]; it may be "
            "received once more",
            index.c_str(), deleted.Text().c_str());
}

void AtModem::TakeStoredMessages(IVelmo_Q* queue)
{
    Result listing = Command("AT+CMGL=4\r", {{"+CMGL:"}, true});
    if (listing.status == Status::LinkGone)
        ThrowLinkGone();
    if (!listing.Ok())
        return;  // an empty storage gives ERROR on some modems
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
}

bool AtModem::Deliver(IVelmo_Q* queue, const std::string& pdu, const std::string& where)
{
    std::optional<sms::DecodedPdu> decoded = sms::DecodePdu(pdu, settings_.NoSMSC);
    HRESULT hr;
    if (!decoded || decoded->submit) {
        Log(EVENTLOG_WARNING_TYPE,
            "A received message does not decode as an SMS-DELIVER PDU; it is stored as the modem "
            "gave it");
        hr = ReportIncoming(queue, u"", AnsiToUtf16(pdu), kUndecodedStatus);
    } else if (decoded->concatenation && decoded->concatenation->total > 1) {
        // A part: kept durably until its siblings come, then stored whole.
        std::optional<PartStore::Message> whole;
        if (!parts_.Add(decoded->address, *decoded->concatenation, decoded->text, whole)) {
            Log(EVENTLOG_ERROR_TYPE, "A part of a received message could not be kept in %s; it was %s",
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
        Log(EVENTLOG_ERROR_TYPE, "A received message could not be stored (0x%08X); it was %s",
            static_cast<unsigned>(hr), where.c_str());
    return SUCCEEDED(hr);
}

void AtModem::DeliverWhole(IVelmo_Q* queue, const PartStore::Message& message)
{
    HRESULT hr = ReportIncoming(queue, message.sender, message.text, message.statusText);
    if (SUCCEEDED(hr)) {
        parts_.Forget(message);
    } else if (hr == E_NOTIMPL) {
        hostTakesNone_ = true;
    } else {
        Log(EVENTLOG_ERROR_TYPE,
            "A received message in %zu parts could not be stored (0x%08X); its parts are kept in %s "
            "and offered again",
            message.files.size(), static_cast<unsigned>(hr), parts_.Folder().c_str());
    }
}

void AtModem::DeliverReadyParts(IVelmo_Q* queue)
{
    if (hostTakesNone_)
        return;
    for (const PartStore::Message& message : parts_.Ready())
        DeliverWhole(queue, message);
}

void AtModem::IdleCheck(IVelmo_Q* queue)
{
    checkDue_ = false;
    Result csq = ReadState();
    if (csq.status == Status::LinkGone)
        ThrowLinkGone();
    if (csq.status == Status::TimedOut)
        throw CSmartException("The modem does not answer: no reply to AT+CSQ within %u s", kResponseWait / 1000);
    NoteAnswer();
    DeliverReadyParts(queue);
    std::set<std::string> indexes = unstoredIndexes_;
    for (const std::string& index : indexes)
        ReadStored(queue, index);
    for (std::size_t n = unstoredPdus_.size(); n > 0; --n) {
        std::string pdu = std::move(unstoredPdus_.front());
        unstoredPdus_.pop_front();
        if (!Deliver(queue, pdu, "delivered directly by the modem: it is kept in memory and offered again"))
            unstoredPdus_.push_back(std::move(pdu));
    }
}

}  // namespace velmo::cellgate
