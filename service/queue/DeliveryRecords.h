// What the network reported on sent messages, recorded on them: a sent
// message becomes DELIVERED (every part reached the phone) or UNDELIVERED
// (a part never will), with the report's times and words in its status
// text; a report that the network still tries only adds to the status
// text. The message stays among the sent, its file replaced durably.
//
// A report is taken only for a message that is SENT: one that is queued
// again (some of its parts went, a later one was refused) is put off
// (E_PENDING: the device offers it again once the message may be sent),
// one that failed, is unknown or final already is refused (S_FALSE) and
// the device forgets it. Reports of one message come from its one device, one
// at a time.
#pragma once

#include "service/events/EventSink.h"
#include "service/queue/QueueStore.h"

#include <string>

namespace velmo::queue {

class DeliveryRecords {
public:
    // log and store must outlive this.
    DeliveryRecords(events::EventSink& log, QueueStore& store) : log_(log), store_(store) {}

    // The report of device on message id (IVelmo_Q3::ReportDelivery's
    // arguments and results). A final report is announced (the audit
    // trail, the gateway's StatusChanged).
    HRESULT Record(const std::string& device, const GUID& id, LONG state, std::u16string_view statusText,
                   const SYSTEMTIME* accepted, const SYSTEMTIME* discharged);

private:
    events::EventSink& log_;
    QueueStore& store_;
};

}  // namespace velmo::queue
