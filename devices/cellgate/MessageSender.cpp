#include "devices/cellgate/MessageSender.h"

#include "devices/cellgate/PartReference.h"
#include "devices/cellgate/SentParts.h"
#include "platform/EventLog.h"
#include "platform/Text.h"
#include "platform/Timing.h"
#include "smscodec/SubmitPdu.h"

namespace velmo::cellgate {

void MessageSender::Send(IVelmo_Q* queue, const GUID& id, const Bstr& to, const Bstr& body)
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
    options.statusReport = reports_.Recording();
    options.validity = settings_.Validity;
    sms::SubmitMessage message = sms::EncodeSubmit(number, body.view(), options);
    std::size_t parts = message.pdus.size();
    SentParts::Progress progress;
    if (parts > 1) {
        if (!swept_) {
            sent_.Sweep();
            swept_ = true;
        }
        // A retry goes on where the last attempt stopped, under its reference.
        std::optional<SentParts::Progress> before = sent_.Load(id);
        if (before && before->parts == parts)
            progress = *before;
        else
            progress = {PartReference(settings_.Name).Next(), static_cast<unsigned>(parts), 0};
        options.reference = progress.reference;
        message = sms::EncodeSubmit(number, body.view(), options);
        (void)sent_.Save(id, progress);  // without it a retry starts afresh under a new reference
    }
    for (std::size_t i = progress.accepted; i < parts; ++i) {
        PartOutcome outcome = SendPart(message.pdus[i]);
        if (outcome.result == SEND_OK) {
            if (options.statusReport)
                Record(id, number, i + 1, parts, outcome.reference);
            progress.accepted = static_cast<unsigned>(i + 1);
            if (progress.accepted < parts)
                (void)sent_.Save(id, progress);  // not kept: this part goes again on a retry
            continue;
        }
        // A part that did not go: the message is retried from this part, or
        // failed as that part was; the parts before it are out already.
        if (outcome.result != SEND_RETRY)
            sent_.Forget(id);
        std::string prefix = parts > 1 ? "Part " + std::to_string(i + 1) + " of " + std::to_string(parts) + ": " : "";
        report(outcome.result, outcome.status.empty() ? outcome.status : prefix + outcome.status);
        if (outcome.linkGone)
            ThrowLinkGone();
        return;
    }
    if (parts > 1)
        sent_.Forget(id);
    bool chosen = settings_.FullAlphabet || settings_.MaxParts > 1;  // the 8-bit single part is cut silently
    report(SEND_OK, message.cut && chosen
                        ? "The text was cut to fit " + std::to_string(parts) + (parts == 1 ? " part" : " parts")
                        : std::string());
}

void MessageSender::Record(const GUID& id, const std::string& number, std::size_t part, std::size_t parts,
                           int reference)
{
    if (reference < 0) {
        if (!toldNoReference_)
            modem_.Log(EVENTLOG_WARNING_TYPE,
                       "The modem named no message reference after +CMGS: the delivery reports of its messages "
                       "cannot be matched, and they stay SENT");
        toldNoReference_ = true;
        return;
    }
    if (!records_.Submitted(id, number, static_cast<unsigned>(part), static_cast<unsigned>(parts),
                            static_cast<unsigned>(reference)))
        modem_.Log(EVENTLOG_WARNING_TYPE,
                   "The message reference of message %s could not be kept in %s: its delivery report will match "
                   "nothing, and it stays SENT",
                   GuidToUtf8(id).c_str(), records_.Folder().c_str());
}

MessageSender::PartOutcome MessageSender::SendPart(const std::string& pdu)
{
    int length = sms::SubmitLength(pdu, settings_.NoSMSC);
    AtModem::Result prompt = modem_.Transact("AT+CMGS=" + std::to_string(length) + "\r", {{}, false, true},
                                             DesignWait(AtModem::kPromptWait));
    if (prompt.status == AtModem::Status::LinkGone)
        return {SEND_RETRY, "The modem's line closed before the message was sent", true};
    if (prompt.status == AtModem::Status::TimedOut) {
        CancelPdu();
        return {SEND_RETRY,
                "No prompt from the modem within " + std::to_string(AtModem::kPromptWait / 1000) +
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
    AtModem::Result answer = modem_.Transact(pdu + "\x1a", {{"+CMGS:"}}, DesignWait(AtModem::kResponseWait));
    if (answer.status == AtModem::Status::LinkGone)
        return {SEND_RETRY, "The modem's line closed while the message was being sent", true};
    if (answer.status == AtModem::Status::TimedOut)
        return {SEND_RETRY,
                "No answer from the modem within " + std::to_string(AtModem::kResponseWait / 1000) + " s after the PDU",
                false};
    SendOutcome outcome = ClassifySendResponse(answer.reply.text);
    if (!outcome.expected)
        return {SEND_RETRY, "Unexpected response [" + answer.reply.text + "] to tpdu [" + pdu + "]", false};
    return {outcome.result, outcome.withStatusText ? answer.reply.text : std::string(), false,
            ParseCmgsReference(answer.reply.text)};
}

void MessageSender::CancelPdu()
{
    // ESC ends the modem's wait for a PDU; its answer, if one comes, is
    // taken here so it never ends a later command's reply.
    (void)modem_.Transact("\x1b", {}, DesignWait(AtModem::kCancelWait));
}

}  // namespace velmo::cellgate
