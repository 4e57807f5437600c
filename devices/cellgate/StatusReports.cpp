#include "devices/cellgate/StatusReports.h"

#include "platform/EventLog.h"
#include "platform/Text.h"
#include "smscodec/StatusReport.h"
#include "smscodec/SubmitPdu.h"

namespace velmo::cellgate {

void StatusReports::Start(IVelmo_Q* queue)
{
    if (FAILED(queue->QueryInterface(IID_IVelmo_Q3, host_.ReceiveVoid())))
        host_.reset();  // a host that keeps no reports: they are matched and dropped
    if (std::size_t removed = records_.Load(sms::ValiditySeconds(modem_.Settings().Validity)))
        modem_.Log(EVENTLOG_INFORMATION_TYPE,
                   "%zu messages waited longer for a status report than the network keeps trying: their records "
                   "in %s are removed, and they stay SENT",
                   removed, records_.Folder().c_str());
    OfferAgain();
}

void StatusReports::Take(const sms::StatusReport& report)
{
    DeliveryReports::Taken taken = records_.Take(report);
    if (!taken.matched) {
        if (++unmatched_ <= kLoggedUnmatched)
            modem_.Log(EVENTLOG_INFORMATION_TYPE,
                       "A status report for reference %u to %s matches no message this device sent and waits "
                       "for a report: it is dropped%s",
                       report.reference, Utf16ToUtf8(report.recipient).c_str(),
                       unmatched_ == kLoggedUnmatched ? " (further such reports in this run are not logged)" : "");
        return;
    }
    if (taken.outcome)
        Tell(*taken.outcome);
}

void StatusReports::Tell(const DeliveryReports::Outcome& outcome)
{
    if (!host_) {
        if (outcome.state != DELIVERY_PENDING)
            records_.Forget(outcome.id);
        return;
    }
    SYSTEMTIME accepted = UtcOfSeconds(outcome.accepted), discharged = UtcOfSeconds(outcome.discharged);
    Bstr text(AnsiToUtf16(outcome.text));
    HRESULT hr = host_->ReportDelivery(outcome.id, outcome.state, text.get(), outcome.accepted ? &accepted : nullptr,
                                       outcome.discharged ? &discharged : nullptr);
    if (outcome.state == DELIVERY_PENDING)
        return;
    if (SUCCEEDED(hr))
        records_.Forget(outcome.id);  // recorded, or a message the service no longer holds as sent
    else if (hr == E_PENDING)
        modem_.Debug("The delivery report on message %s waits until the message has gone whole",
                     GuidToUtf8(outcome.id).c_str());
    else
        modem_.Log(EVENTLOG_WARNING_TYPE,
                   "The delivery report on message %s could not be recorded (0x%08X): it is offered again at the "
                   "next idle check",
                   GuidToUtf8(outcome.id).c_str(), static_cast<unsigned>(hr));
}

void StatusReports::Stop() { host_.reset(); }

void StatusReports::OfferAgain()
{
    for (const DeliveryReports::Outcome& outcome : records_.Unreported())
        Tell(outcome);
}

}  // namespace velmo::cellgate
