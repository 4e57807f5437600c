// The running device: messages out, messages in, the modem checked while
// all is quiet.
#include "devices/cellgate/ModemSession.h"

#include "platform/EventLog.h"

namespace velmo::cellgate {

HRESULT ModemSession::Run(IVelmo_Q* queue)
{
    if (!modem_.Opened())
        return S_OK;
    if (!queue)
        return E_POINTER;
    struct Ending {
        StatusReports& reports;
        ~Ending() { reports.Stop(); }
    } ending{reports_};
    try {
        reports_.Start(queue);
        receiver_.TakeStoredMessages(queue);
        while (true) {
            LONG reason = WAKE_NONE;
            GUID id{};
            Bstr to, body;
            if (FAILED(queue->WaitForMsg(modem_.InboundEvent(), &reason, &id, to.Receive(), body.Receive()))) {
                receiver_.TellUnstored();
                return S_OK;
            }
            if (reason == WAKE_MESSAGE) {
                sender_.Send(queue, id, to, body);
            } else if (reason == WAKE_EVENT) {
                if (modem_.LinkEnded())
                    ThrowLinkGone();
                receiver_.TakeAnnounced(queue);
                if (modem_.TakeCheckDue())
                    IdleCheck(queue);
            }
        }
    } catch (const CSmartException& e) {
        receiver_.TellUnstored();
        return ReportFailure(e);
    }
}

void ModemSession::IdleCheck(IVelmo_Q* queue)
{
    AtModem::Result csq = modem_.ReadState();
    if (csq.status == AtModem::Status::LinkGone)
        ThrowLinkGone();
    if (csq.status == AtModem::Status::TimedOut)
        throw CSmartException("The modem does not answer: no reply to AT+CSQ within %u s",
                              AtModem::kResponseWait / 1000);
    modem_.NoteAnswer();
    receiver_.OfferAgain(queue);
    reports_.OfferAgain();
}

}  // namespace velmo::cellgate
